// 1 - x^2 for |x| <= 1, under asin and acos: (1 - |x|)(1 + |x|) in 32-bit
// fixed point (1 - |x| exact for |x| >= 2^-8, and normalised before the
// product, so the small values near |x| = 1 keep their places), rounded
// once to a double. The callers take its square root, one call level up,
// so that sqrt's frame does not stack on this one.
#include "mathimg.h"

// the working registers are the module's, not the frame's
static __mimage m;
static unsigned char e, n;

double __m1mx2(double x)
{
    m.d = x;
    e = __mexp(&m);
    __mma = 0;
    if (e > 127 - 32) {
        __mma = __mxmant(x);   // |x| in 1.31 fixed point
        __mma >>= 127 - e;
    }
    if (__mma >= 0x80000000ul)
        return 0.0;
    __mmb = 0x80000000ul + __mma;
    __mma = 0x80000000ul - __mma;
    n = 0;
    while (__mma < 0x80000000ul) {
        __mma <<= 1;
        n++;
    }
    __mmulhi();
    return ldexp((double)__mma, -30 - (int)n);
}
