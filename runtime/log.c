// The natural logarithm: x = 2^k (1 + f) with 1 + f in [sqrt(1/2),
// sqrt(2)), and log(1 + f) = 2 atanh(s) for s = f / (2 + f), written
// f - (f s - 2 s^3 q(s^2)) so that f, exact, carries the most of it; then
// k ln 2 added in two parts. log(0) is -inf, a negative x NaN.
#include "mathimg.h"

// The series of (atanh(s) / s - 1) / s^2 in t = s^2 (|s| <= 0.172), from
// t^3 for 32 bits, from t for 24.
static const double log_series[] = {1.0 / 9, 1.0 / 7, 1.0 / 5, 1.0 / 3};

double log(double x)
{
    __mimage m;
    double f, s, w, kd;
    unsigned char e;
    m.d = x;
    e = __mexp(&m);
    if (!e) {   // -inf
        m.b[M_TOP] = 0xFF;
        m.b[M_TOP - 1] = 0x80;
        return m.d;
    }
    if (m.b[M_TOP] >= 0x80)
        return __mnan();
    if (e == 255)
        return x;
    __msetexp(&m, 127);
    if (m.d > 1.41421356) {
        __msetexp(&m, 126);
        e++;
    }
    kd = (double)((int)e - 127);
    f = m.d - 1.0;
    s = f + 2.0;
    s = f / s;
    m.d = s * s;
    if (sizeof(double) == 3)
        w = __mpoly(m.d, log_series + 2, 2);
    else
        w = __mpoly(m.d, log_series, 4);
    w *= m.d;
    w *= s;
    w += w;
    s *= f;
    s -= w;   // f - s is log(1 + f)
    w = kd * M_LN2_LO;
    w -= s;
    w += f;
    kd *= M_LN2_HI;
    w += kd;
    return w;
}
