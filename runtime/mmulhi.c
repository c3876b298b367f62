// The top half of a 32-bit product, for the fixed-point work under sin,
// cos, tan, the inverse tangents and pow: __mma = __mma __mmb / 2^32
// rounded to nearest (halves up), so that chains of products carry no bias
// (it cannot overflow: the product is at most (2^32 - 1)^2).
// The operands are static registers of this module rather than parameters,
// so that a chain of calls through it costs no frame of longs: shift and
// add from the low bit of __mma, the sum shifted down after each step: of
// the bits that fall off the low end only the last, the half, counts.
#include "mathimg.h"

unsigned long __mma, __mmb;

void __mmulhi(void)
{
    unsigned long h;
    unsigned char n, c, half;
    h = 0;
    half = 0;
    n = 32;
    do {
        c = 0;
        if (__mma & 1) {
            h += __mmb;
            if (h < __mmb)
                c = 1;
        }
        half = 0;
        if (h & 1)
            half = 1;
        h >>= 1;
        if (c)
            h |= 0x80000000ul;
        __mma >>= 1;
    } while (--n);
    if (half)
        h++;
    __mma = h;
}
