// The arc tangent: atan2(x, 1), within 2 places; +-pi/2 for infinities.
#include "mathimg.h"

double atan(double x)
{
    return atan2(x, 1.0);
}
