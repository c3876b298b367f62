// The common logarithm: log(x) / ln 10.
#include "mathimg.h"

double log10(double x)
{
    x = log(x);
    x *= 0.434294482;
    return x;
}
