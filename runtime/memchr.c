// The first of n bytes equal to c converted to unsigned char, or NULL.
#include <string.h>

void *memchr(const void *s, int c, size_t n)
{
    const unsigned char *p = s;
    while (n) {
        if (*p == (unsigned char)c)
            return (void *)p;
        p++;
        n--;
    }
    return NULL;
}
