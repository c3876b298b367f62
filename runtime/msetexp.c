// A double's biased exponent replaced, its sign and fraction kept.
#include "mathimg.h"

void __msetexp(__mimage *m, unsigned char e)
{
    m->b[M_TOP - 1] &= 0x7F;
    if (e & 1)
        m->b[M_TOP - 1] |= 0x80;
    m->b[M_TOP] &= 0x80;
    e >>= 1;
    m->b[M_TOP] |= e;
}
