// Copies n bytes forward; the areas must not overlap (memmove when they may).
#include <string.h>

void *memcpy(void *to, const void *from, size_t n)
{
    unsigned char *d = to;
    const unsigned char *s = from;
    while (n) {
        *d++ = *s++;
        n--;
    }
    return to;
}
