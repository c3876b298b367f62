/* Mathematical functions of double (24 bits, or 32 with --double=32).
 *
 * Results are exact where the value is (fabs, floor, ceil, fmod, frexp,
 * ldexp), correctly rounded for sqrt. Domain errors give NaN and set no
 * errno; a result beyond the largest float is infinity, one below the
 * smallest normal the zero of its sign (the floats have no denormals).
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

#endif
