// x * 2^n, exact while the result is normal: beyond the largest it is
// infinity, below the smallest normal it is the zero of x's sign (the
// floats have no denormals). Zero, infinity and NaN are returned as they
// are.
#include "mathimg.h"

double ldexp(double x, int n)
{
    __mimage m;
    int e;
    unsigned char s;
    m.d = x;
    e = __mexp(&m);
    if (!e || e == 255)
        return x;
    if (n > 300)   // no overflow of e below
        n = 300;
    if (n < -300)
        n = -300;
    e += n;
    if (e > 0 && e < 255) {
        __msetexp(&m, (unsigned char)e);
        return m.d;
    }
    s = m.b[M_TOP] & 0x80;
    m.l = 0;
    if (e > 0) {   // infinity
        s |= 0x7F;
        m.b[M_TOP - 1] = 0x80;
    }
    m.b[M_TOP] = s;
    return m.d;
}
