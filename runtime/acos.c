// The arc cosine: atan2(sqrt(1 - x^2), x), within 2 places; NaN for
// |x| > 1.
#include "mathimg.h"

double acos(double x)
{
    double s;
    if (!(fabs(x) <= 1.0))
        return __mnan();
    s = __m1mx2(x);
    s = sqrt(s);
    return atan2(s, x);
}
