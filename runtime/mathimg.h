// What the math functions share: a double's image reached through a union.
// The library is compiled once per width of double (24 or 32 bits), so the
// code asks sizeof(double), which the code generator folds.
//
// Both widths keep the sign and exponent in the same place of their top two
// bytes (the 24-bit form is the top three bytes of the 32-bit one): the
// sign in the top bit of byte TOP, the biased exponent (bias 127) in its
// other 7 bits and the top bit of byte TOP - 1. `l` holds the image in its
// low bytes; in the 24-bit form its top byte is not the double's, so code
// that reads `l` clears it first.
#include <math.h>

typedef union {
    double d;
    unsigned long l;
    unsigned char b[4];
} __mimage;

#define M_TOP (sizeof(double) - 1)
// Fraction bits under the hidden 1.
#define M_FRAC (sizeof(double) == 3 ? 15 : 23)
#define M_HIDDEN (sizeof(double) == 3 ? 0x8000ul : 0x800000ul)

// The biased exponent of an image; 0 is zero, 255 infinity or NaN.
unsigned char __mexp(__mimage *m);
// The image given the biased exponent e (1-254), keeping sign and fraction.
void __msetexp(__mimage *m, unsigned char e);
// The quiet NaN (domain errors).
double __mnan(void);
// x rounded toward zero.
double __mtrunc(double x);
// c[0] x^(n-1) + ... + c[n-1], n >= 1.
double __mpoly(double x, const double *c, unsigned char n);
// ln 2 split so that k * M_LN2_HI is exact for every |k| < 256 (8 bits),
// and the rest.
#define M_LN2_HI 0.69140625
#define M_LN2_LO 1.7409305599e-3

// Fixed point for sin, cos, tan, atan2 (and so atan, asin, acos) and pow:
// 32-bit values, extra places over either form so that a result is
// rounded once, when it is made a double. The operands and results of the
// fixed-point routines are static registers (mmulhi.c), so chains of calls
// through them keep small frames.
extern unsigned long __mma, __mmb;
// __mma = __mma __mmb / 2^32, rounded to nearest.
void __mmulhi(void);
// __mma = floor(__mma 2^32 / __mmb), __mma < __mmb.
void __mdivhi(void);
// __mma = Horner's rule in fixed point on u = __mmb (mfpoly.c).
void __mfpoly(const unsigned long *c, unsigned char n, unsigned char alt);
// The mantissa of a normal x at the top of 32 bits: |x| = m 2^(e - 158).
unsigned long __mxmant(double x);
// sin (0), cos (1) or tan (2) of x.
double __mtrig(double x, unsigned char fn);
// 1 - x^2 for |x| <= 1, rounded once (m1mx2.c).
double __m1mx2(double x);
