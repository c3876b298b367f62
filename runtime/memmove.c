// Copies n bytes between areas that may overlap: forward when the
// destination lies below the source, else backward from the last byte, so
// no byte is overwritten before it is read.
#include <string.h>

void *memmove(void *to, const void *from, size_t n)
{
    unsigned char *d = to;
    const unsigned char *s = from;
    if (d < s) {
        while (n) {
            *d++ = *s++;
            n--;
        }
    } else {
        d += n;
        s += n;
        while (n) {
            *--d = *--s;
            n--;
        }
    }
    return to;
}
