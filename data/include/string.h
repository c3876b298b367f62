/* Copying, comparing and searching bytes and strings.
 *
 * A data pointer is one byte and cannot tell constant data from RAM: each
 * pointer parameter must get one kind over the whole program. strcpy(buf,
 * "text") is fine while every source strcpy gets is a string literal;
 * one that also copies from a RAM array is refused (1541). Copy a literal
 * into RAM with an initialiser (`char s[] = "text";`) to mix them.
 */
#ifndef __STRING_H
#define __STRING_H

#include <stddef.h>   /* size_t, NULL */

void *memcpy(void *to, const void *from, size_t n);
void *memmove(void *to, const void *from, size_t n);
void *memset(void *s, int c, size_t n);
int memcmp(const void *a, const void *b, size_t n);
void *memchr(const void *s, int c, size_t n);

size_t strlen(const char *s);
char *strcpy(char *to, const char *from);
char *strncpy(char *to, const char *from, size_t n);
char *strcat(char *to, const char *from);
char *strncat(char *to, const char *from, size_t n);
int strcmp(const char *a, const char *b);
int strncmp(const char *a, const char *b, size_t n);
char *strchr(const char *s, int c);
char *strrchr(const char *s, int c);
char *strstr(const char *s, const char *sought);
size_t strspn(const char *s, const char *accept);
size_t strcspn(const char *s, const char *reject);
char *strpbrk(const char *s, const char *accept);
/* Keeps one byte of RAM, where the next call without a string goes on. */
char *strtok(char *s, const char *delimiters);

#endif
