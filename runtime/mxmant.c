// The mantissa of a normal x with its hidden bit, at the top of 32 bits:
// |x| = m 2^(e - 158) for the biased exponent e.
#include "mathimg.h"

unsigned long __mxmant(double x)
{
    __mimage m;
    m.l = 0;
    m.d = x;
    m.l &= M_HIDDEN - 1;
    m.l |= M_HIDDEN;
    m.l <<= 31 - M_FRAC;
    return m.l;
}
