// Compares n bytes as unsigned char: the difference of the first pair that
// differs, 0 when none does.
#include <string.h>

int memcmp(const void *a, const void *b, size_t n)
{
    const unsigned char *p = a, *q = b;
    int d = 0;
    while (n) {
        d = *p - *q;
        if (d)
            break;
        p++;
        q++;
        n--;
    }
    return d;
}
