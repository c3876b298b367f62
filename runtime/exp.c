// e^x: x = k ln 2 + r with |r| <= ln 2 / 2 (k ln 2 taken off in two parts,
// the first exact), e^r = 1 + r + r^2 p(r) by its series, and the result
// scaled by 2^k with ldexp, which makes too large a result infinite and
// too small a one zero.
#include "mathimg.h"

// The series of (e^r - 1 - r) / r^2 from r^6 (1/8!), for 32 bits, or
// from r^4, for 24 bits.
static const double exp_series[] = {1.0 / 40320, 1.0 / 5040, 1.0 / 720, 1.0 / 120, 1.0 / 24, 1.0 / 6, 0.5};

double exp(double x)
{
    double r, t;
    int k;
    // beyond these the result is infinite or zero whatever k is; a NaN
    // goes through (its k does not matter)
    if (x > 89.0)
        x = 89.0;
    if (x < -104.0)
        x = -104.0;
    t = x * 1.44269504;   // 1 / ln 2
    if (x < 0)
        t -= 0.5;
    else
        t += 0.5;
    k = (int)t;
    t = (double)k;
    r = t * M_LN2_HI;
    r = x - r;
    t *= M_LN2_LO;
    r -= t;
    if (sizeof(double) == 3)
        t = __mpoly(r, exp_series + 2, 5);
    else
        t = __mpoly(r, exp_series, 7);
    t *= r;
    t *= r;
    t += r;
    t += 1.0;
    return ldexp(t, k);
}
