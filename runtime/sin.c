// The sine (mtrig.c); within 2 places for every finite x, NaN for infinity.
#include "mathimg.h"

double sin(double x)
{
    return __mtrig(x, 0);
}
