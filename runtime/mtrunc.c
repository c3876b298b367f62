// x rounded toward zero, by clearing the fraction bits below the units:
// under floor, ceil and fmod. Integers (every value of 2^F and more),
// infinities and NaNs come back as they are, magnitudes below 1 as the
// zero of their sign.
#include "mathimg.h"

double __mtrunc(double x)
{
    __mimage m;
    unsigned long mask;
    unsigned char e;
    m.d = x;
    e = __mexp(&m);
    if (e >= 127 + M_FRAC)
        return x;
    mask = 0;
    if (e >= 127) {
        mask = ~mask;
        e = 127 + M_FRAC - e;   // the bits to clear
        do
            mask <<= 1;
        while (--e);
    }
    if (sizeof(double) == 3)
        mask |= 0x800000ul;     // the sign
    else
        mask |= 0x80000000ul;
    m.l &= mask;
    return m.d;
}
