// The arc sine: atan2(x, sqrt(1 - x^2)), within 2 places; NaN for |x| > 1.
#include "mathimg.h"

double asin(double x)
{
    double c;
    if (!(fabs(x) <= 1.0))
        return __mnan();
    c = __m1mx2(x);
    c = sqrt(c);
    return atan2(x, c);
}
