// The largest integer not above x; -0.5 gives -1, -0 itself.
#include "mathimg.h"

double floor(double x)
{
    double t;
    t = __mtrunc(x);
    if (t > x)
        t -= 1.0;
    return t;
}
