// Finds an object equal to *key in nmemb objects of size bytes sorted in
// the order compar gives, halving the range: the object found, or NULL.
#include <stdlib.h>

void *bsearch(const void *key, const void *base, size_t nmemb, size_t size,
              int (*compar)(const void *, const void *))
{
    const unsigned char *lo = base, *mid;
    size_t n = nmemb, half;
    int c;
    while (n) {
        half = n / 2;
        mid = lo + half * size;
        c = compar(key, mid);
        if (c == 0)
            return (void *)mid;
        if (c > 0) {
            lo = mid + size;
            n -= half + 1;
        } else {
            n = half;
        }
    }
    return NULL;
}
