// Compares at most n characters of two strings, as strcmp does.
#include <string.h>

int strncmp(const char *a, const char *b, size_t n)
{
    const unsigned char *p = (const unsigned char *)a, *q = (const unsigned char *)b;
    int d = 0;
    while (n) {
        d = *p - *q;
        if (d || !*p)
            break;
        p++;
        q++;
        n--;
    }
    return d;
}
