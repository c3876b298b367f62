/* Mathematical functions of double (24 bits, or 32 with --double=32).
 *
 * Results are exact where the value is (fabs, floor, ceil, fmod, frexp,
 * ldexp), correctly rounded for sqrt, within 2 units in the last place for
 * the others (measured; sin, cos and tan over the whole range). Domain
 * errors give NaN and set no errno; a result beyond the largest float is
 * infinity, one below the smallest normal the zero of its sign (the floats
 * have no denormals).
 */
#ifndef __MATH_H
#define __MATH_H

double fabs(double x);
double floor(double x);
double ceil(double x);
double fmod(double x, double y);
double frexp(double x, int *exponent);
double ldexp(double x, int exponent);
double sqrt(double x);
double exp(double x);
double log(double x);
double log10(double x);
double sin(double x);
double cos(double x);
double tan(double x);
double asin(double x);
double acos(double x);
double atan(double x);
double atan2(double y, double x);
double pow(double x, double y);

#endif
