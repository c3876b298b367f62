// The conversion under strtol and strtoul (see clib.h).
//
// The value is accumulated as the magnitude; each digit multiplies it by
// the base as that many additions, where a carry out of 32 bits marks the
// overflow: no multiplication or division helper is called, and a number
// too long for 32 bits is still read to its end. A base outside 0 and 2 to
// 36 converts nothing.
#include <ctype.h>
#include <stdlib.h>
#include "clib.h"

unsigned long __strtox(const char *s, char **end, int base, unsigned char is_signed)
{
    const char *p = s;
    unsigned long value = 0, sum, limit;
    unsigned char negative = 0, over = 0, any = 0, radix, d, k;
    while (isspace(*p))
        p++;
    if (*p == '-') {
        negative = 1;
        p++;
    } else if (*p == '+') {
        p++;
    }
    if ((base == 0 || base == 16) && *p == '0' && (p[1] | 0x20) == 'x' && isxdigit(p[2])) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = *p == '0' ? 8 : 10;
    }
    radix = base == 1 || (unsigned int)base > 36 ? 0 : (unsigned char)base;
    for (;; p++) {
        d = (unsigned char)(*p - '0');
        if (d >= 10) {
            d = (unsigned char)((*p | 0x20) - 'a');
            if (d >= 26)
                break;
            d += 10;
        }
        if (d >= radix)
            break;
        any = 1;
        sum = d;
        for (k = radix; k; k--) {
            sum += value;
            if (sum < value)
                over = 1;
        }
        value = sum;
    }
    if (end)
        *end = (char *)(any ? p : s);
    if (is_signed) {
        limit = 0x7FFFFFFFul + negative;   // LONG_MIN's magnitude is one more
        if (over || value > limit)
            value = limit;
    } else if (over) {
        return 0xFFFFFFFFul;
    }
    return negative ? -value : value;
}
