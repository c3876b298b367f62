// A polynomial in fixed point by Horner's rule, from a table in program
// memory (highest power first): c[0] u^(n-1) + ... + c[n-1] for u = __mmb
// in [0, 1) with 32 fraction bits; the coefficients and the result (in
// __mma) share one fixed-point format. With alt set the signs alternate,
// c[n-1] - u (c[n-2] - u (...)): every partial value stays positive for
// the series it is used on (decreasing terms).
#include "mathimg.h"

void __mfpoly(const unsigned long *c, unsigned char n, unsigned char alt)
{
    __mma = *c;
    while (--n) {
        c++;
        __mmulhi();
        if (alt)
            __mma = *c - __mma;
        else
            __mma += *c;
    }
}
