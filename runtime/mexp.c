// The biased exponent of a double's image (mathimg.h).
#include "mathimg.h"

unsigned char __mexp(__mimage *m)
{
    unsigned char e;
    e = m->b[M_TOP];
    e <<= 1;
    if (m->b[M_TOP - 1] >= 0x80)
        e++;
    return e;
}
