// The square root, correctly rounded: x = f * 2^2j with f in [1, 4), and
// the root of f * 2^30 taken bit by bit to one place below the result's
// last (a root of a float is never halfway between two, so that place
// alone rounds it). -0 is itself, a negative x NaN.
#include "mathimg.h"

double sqrt(double x)
{
    __mimage m;
    unsigned long rem, root;
    unsigned char e, n;
    m.l = 0;
    m.d = x;
    e = __mexp(&m);
    if (!e)
        return x;
    if (m.b[M_TOP] >= 0x80)
        return __mnan();
    if (e == 255)
        return x;
    m.l &= M_HIDDEN - 1;
    m.l |= M_HIDDEN;
    // the mantissa to the top: f * 2^30, one place more for an odd power
    n = 30 - M_FRAC;
    if (!(e & 1))
        n++;
    m.l <<= n;
    rem = 0;
    root = 0;
    n = M_FRAC + 2;
    do {
        rem <<= 2;
        rem |= m.b[3] >> 6;
        m.l <<= 2;
        // the next bit is 1 when (2 root + 1)^2 - (2 root)^2 fits rem
        root <<= 2;
        root++;
        if (rem >= root) {
            rem -= root;
            root += 2;
        }
        root >>= 1;
    } while (--n);
    root++;
    root >>= 1;
    // (e + 127) / 2, the biased exponent of the root of 2^(e - 127)
    n = e >> 1;
    n += 63;
    n += e & 1;
    m.l = root;
    if (root >= M_HIDDEN * 2) {   // rounded up to 2
        m.l >>= 1;
        n++;
    }
    __msetexp(&m, n);
    return m.d;
}
