// The quiet NaN the float helpers give, for the math functions' domain
// errors.
#include "mathimg.h"

double __mnan(void)
{
    __mimage m;
    m.l = 0;
    m.b[M_TOP] = 0x7F;
    m.b[M_TOP - 1] = 0xC0;
    return m.d;
}
