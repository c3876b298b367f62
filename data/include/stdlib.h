/* Integer arithmetic, number conversions and pseudo-random numbers.
 *
 * Not here: the memory allocator, and the conversions to and from floating
 * point. strtol and strtoul set no errno: a value out of range gives the
 * limit alone. qsort is a shell sort (no recursion), not stable.
 */
#ifndef __STDLIB_H
#define __STDLIB_H

#include <stddef.h>   /* size_t, NULL */

#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 32767

typedef struct {
    int quot;
    int rem;
} div_t;
typedef struct {
    long quot;
    long rem;
} ldiv_t;

int abs(int n);
long labs(long n);
div_t div(int numerator, int denominator);
ldiv_t ldiv(long numerator, long denominator);

int atoi(const char *s);
long atol(const char *s);
long strtol(const char *s, char **end, int base);
unsigned long strtoul(const char *s, char **end, int base);

int rand(void);
void srand(unsigned int seed);

void qsort(void *base, size_t nmemb, size_t size, int (*compar)(const void *, const void *));
void *bsearch(const void *key, const void *base, size_t nmemb, size_t size,
              int (*compar)(const void *, const void *));

#endif
