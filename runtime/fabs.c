// The magnitude: the sign bit cleared (NaNs and zeros too).
#include "mathimg.h"

double fabs(double x)
{
    __mimage m;
    m.d = x;
    m.b[M_TOP] &= 0x7F;
    return m.d;
}
