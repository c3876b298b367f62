// The smallest integer not below x; -0.5 gives -0.
#include "mathimg.h"

double ceil(double x)
{
    double t;
    t = __mtrunc(x);
    if (t < x)
        t += 1.0;
    return t;
}
