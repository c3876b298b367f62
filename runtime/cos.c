// The cosine (mtrig.c); within 2 places for every finite x, NaN for
// infinity.
#include "mathimg.h"

double cos(double x)
{
    return __mtrig(x, 1);
}
