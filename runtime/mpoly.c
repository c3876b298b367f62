// The polynomial c[0] x^(n-1) + ... + c[n-1] by Horner's rule: the
// series under exp and log, from a table in program memory.
#include "mathimg.h"

double __mpoly(double x, const double *c, unsigned char n)
{
    double p;
    p = *c;
    while (--n) {
        c++;
        p *= x;
        p += *c;
    }
    return p;
}
