// x = f * 2^*e with 0.5 <= |f| < 1; zero, infinity and NaN are returned
// as they are with *e = 0.
#include "mathimg.h"

double frexp(double x, int *e)
{
    __mimage m;
    unsigned char b;
    m.d = x;
    b = __mexp(&m);
    *e = 0;
    if (b && b != 255) {
        *e = (int)b - 126;
        __msetexp(&m, 126);
    }
    return m.d;
}
