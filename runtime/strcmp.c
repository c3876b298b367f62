// Compares two strings as unsigned char: the difference of the first pair
// that differs, 0 when the strings are equal.
#include <string.h>

int strcmp(const char *a, const char *b)
{
    const unsigned char *p = (const unsigned char *)a, *q = (const unsigned char *)b;
    while (*p && *p == *q) {
        p++;
        q++;
    }
    return *p - *q;
}
