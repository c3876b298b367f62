// x - n * y for the integer n of x / y truncated toward zero, exact (a
// result below the smallest normal is the zero of x's sign): the
// mantissas divided by shift and subtract, one step per place between the
// exponents. NaN for x infinite, y zero or a NaN operand; x when y is
// infinite or |x| < |y|.
#include "mathimg.h"

double fmod(double x, double y)
{
    __mimage a, b;
    unsigned char ea, eb, s;
    a.l = 0;
    b.l = 0;
    a.d = x;
    b.d = y;
    ea = __mexp(&a);
    eb = __mexp(&b);
    s = a.b[M_TOP] & 0x80;
    a.b[M_TOP] &= 0x7F;
    b.b[M_TOP] &= 0x7F;
    if (ea == 255 || !eb || b.l > ((unsigned long)0xFF * M_HIDDEN))
        return __mnan();
    if (a.l < b.l)   // x zero, |x| < |y| or y infinite
        return x;
    a.l &= M_HIDDEN - 1;
    a.l |= M_HIDDEN;
    b.l &= M_HIDDEN - 1;
    b.l |= M_HIDDEN;
    for (;;) {
        if (a.l >= b.l)
            a.l -= b.l;
        if (ea == eb)
            break;
        a.l <<= 1;
        ea--;
    }
    a.d = ldexp((double)a.l, (int)eb - (127 + M_FRAC));
    a.b[M_TOP] |= s;
    return a.d;
}
