// The floating-point helpers of one width, written once for both: ft.c
// (24 bits: sign, 8-bit exponent, 15-bit fraction) and fl.c (32 bits, the
// IEEE single layout) define the width and include this file, so each
// width is one module whose functions share one rounding routine. The code
// generator keeps only the functions a program calls (and what they call).
//
// Before including, a source defines
//   U           the unsigned type of an image (W bits)
//   W           its width, 24 or 32
//   F           its fraction bits, W - 9
//   TOP_BIT     W - 1
//   TOP_BYTE    W - 8, the place of the top byte
//   CUT(x)      x cut to W bits (only the host's 24-bit stand-in needs it)
//   FP_OP(op)   the name of an operation: __ftadd, ...
//   FP_FROM(k)  the name of a conversion from an integer class k: __lbtoft, ...
//
// Both layouts: the sign in the top bit, the biased exponent (bias 127) in
// the 8 bits below it, then F = W - 9 fraction bits under a hidden 1.
// Exponent 0 is zero (a denormal operand reads as the zero of its sign;
// a result too small for a normal number after rounding is the zero of
// its sign); 255 with a zero fraction is infinity, with any other
// fraction a NaN. Every result is rounded to nearest, ties to even.
//
// The working form of a magnitude is an unsigned W-bit mantissa m and an
// int exponent e standing for m * 2^(e - 127 - (W - 1)): when m's top bit
// is set, e is the biased exponent of the result and the 8 bits below the
// F + 1 kept ones decide the rounding (the lowest of them sticky: a shift
// to the right ORs what it drops into it). No global is read or written.

// The integer types of the chip; the host's C compiler, which builds the
// same sources for the tests, gets types of the same widths (its 24-bit
// stand-in holds values below 2^24, which CUT keeps so).
#ifdef __ZEPH__
typedef unsigned int fp_u16;
typedef int fp_i16;
typedef unsigned short long fp_u24;
typedef short long fp_i24;
typedef unsigned long fp_u32;
typedef long fp_i32;
#else
#include <stdint.h>
typedef uint16_t fp_u16;
typedef int16_t fp_i16;
typedef uint32_t fp_u24;
typedef int32_t fp_i24;
typedef uint32_t fp_u32;
typedef int32_t fp_i32;
#endif

// Shift counts are written as plain numbers: the code generator warns
// (752) about a shift whose count is a constant expression such as W - 1.
#define SIGN ((U)1 << TOP_BIT)
#define HIDDEN ((U)1 << F)
#define FRACTION (HIDDEN - 1)
#define INF ((U)0xFF << F)
#define NAN_IMAGE (INF | HIDDEN >> 1)

// The exponent field: the top byte moved down and the bit below it
// (shifts of whole bytes are moves, other shifts cost code per place).
#define EXPONENT(a) ((unsigned char)((unsigned char)((a) >> TOP_BYTE) << 1 | ((a) & HIDDEN ? 1 : 0)))
// The sign as the top bit of a byte.
#define SIGN_BYTE(a) ((unsigned char)((a) >> TOP_BYTE) & 0x80)

// The working form of a nonzero image: its significand with the top bit
// set and 8 rounding bits below, standing with the image's exponent.
static U FP_OP(work)(U a)
{
    return CUT(a << 8) | SIGN;
}

// A NaN's magnitude is the only one above infinity's.
static unsigned char FP_OP(isnan)(U a)
{
    return (a & ~SIGN) > INF;
}

// The nonzero magnitude m * 2^(e - 127 - (W - 1)) with the sign of the top
// bit of `sign`, normalised, rounded to nearest even, then flushed to zero
// or overflowed to infinity.
static U FP_OP(pack)(unsigned char sign, int e, U m)
{
    while (!(m & SIGN)) {
        m <<= 1;
        e--;
    }
    // above half, or half with an odd last bit
    if ((m & 0x80) && (m & 0x17F)) {
        m >>= 8;
        m++;
        if (m & HIDDEN << 1) {   // 1.11...1 rounded up to 10.0
            m >>= 1;
            e++;
        }
    } else
        m >>= 8;
    if (e <= 0)
        return (U)sign << TOP_BYTE;
    if (e >= 255)
        return (U)(sign | 0x7F) << TOP_BYTE | HIDDEN;
    // the hidden bit's place holds the exponent's last bit
    if (e == (e >> 1) << 1)   // even (e & 1 draws a spurious (752) from the code generator)
        m ^= HIDDEN;
    return (U)(sign | (unsigned char)(e >> 1)) << TOP_BYTE | m;
}

U FP_OP(add)(U a, U b)
{
    U m, mb;
    unsigned char ea, eb, shift;
    // a takes the larger magnitude, whose sign the sum has
    if ((a & ~SIGN) < (b & ~SIGN)) {
        m = a;
        a = b;
        b = m;
    }
    ea = EXPONENT(a);
    eb = EXPONENT(b);
    if (ea == 255) {
        // a NaN operand is a (its magnitude is the larger)
        if ((a & FRACTION) || (eb == 255 && ((a ^ b) & SIGN)))
            return NAN_IMAGE;
        return a;
    }
    if (!eb)   // b is zero; so is a when its exponent is 0 too: -0 only from -0 + -0
        return ea ? a : a & b & SIGN;
    // one bit above for the carry, 7 below for the rounding
    m = FP_OP(work)(a) >> 1;
    mb = FP_OP(work)(b) >> 1;
    shift = ea - eb;
    if (shift > W)
        shift = W;   // b is all sticky by then
    while (shift--)
        mb = (mb >> 1) | (mb & 1);
    if ((a ^ b) & SIGN)
        m -= mb;
    else
        m += mb;
    if (!m)   // exact cancellation is +0 (m itself: see the note on return 0 below)
        return m;
    return FP_OP(pack)(SIGN_BYTE(a), ea + 1, m);
}

U FP_OP(sub)(U a, U b)
{
    return FP_OP(add)(a, b ^ SIGN);
}

U FP_OP(neg)(U a)
{
    return a ^ SIGN;
}

// The class of an exponent: 0 zero, 1 normal, 2 infinite.
static unsigned char FP_OP(class)(unsigned char e)
{
    if (!e)
        return 0;
    return e == 255 ? 2 : 1;
}

// Multiplication and division share their special cases: a divisor's
// classes swap (dividing by infinity is multiplying by zero), so both are
// NaN for zero with infinity, infinite for an infinite class, zero for a
// zero class. A signed zero or infinity comes from pack as well.
static U FP_OP(muldiv)(U a, U b, unsigned char divide)
{
    U m, mb, q;
    unsigned char sign = SIGN_BYTE(a ^ b), ea = EXPONENT(a), eb = EXPONENT(b), ca, cb, n;
    int e;
    if (FP_OP(isnan)(a) || FP_OP(isnan)(b))
        return NAN_IMAGE;
    ca = FP_OP(class)(ea);
    cb = FP_OP(class)(eb);
    if (divide)
        cb = 2 - cb;
    if (ca + cb == 2 && ca != 1)
        return NAN_IMAGE;
    if (ca == 2 || cb == 2)
        return FP_OP(pack)(sign, 255, SIGN);
    if (!ca || !cb)
        return FP_OP(pack)(sign, 0, SIGN);
    // both significands with the top bit clear, 7 rounding bits below
    m = FP_OP(work)(a) >> 1;
    mb = FP_OP(work)(b) >> 1;
    q = 0;
    n = W;
    if (divide) {
        // restoring division, one quotient bit per step; the quotient of
        // significands in (1/2, 2) takes W - 1 or W bits, the remainder is sticky
        do {
            q <<= 1;
            if (m >= mb) {
                m -= mb;
                q |= 1;
            }
            m <<= 1;
        } while (--n);
        if (m)
            q |= 1;
        e = (int)ea - eb + 127;
    } else {
        // shift and add from the multiplier's lowest bit (its lowest 7
        // are 0): the partial product moves right a place each step,
        // what falls out kept sticky
        do {
            if (mb & 1)
                q += m;
            q = (q >> 1) | (q & 1);
            mb >>= 1;
        } while (--n);
        e = (int)ea + eb - 124;
    }
    return FP_OP(pack)(sign, e, q);
}

U FP_OP(mul)(U a, U b)
{
    return FP_OP(muldiv)(a, b, 0);
}

U FP_OP(div)(U a, U b)
{
    return FP_OP(muldiv)(a, b, 1);
}

// An order of unsigned keys that follows the values: negatives below
// positives, both zeros one key.
static U FP_OP(key)(U a)
{
    if (!EXPONENT(a))
        a = 0;
    if (a & SIGN)
        return CUT(~a);
    return a | SIGN;
}

unsigned char FP_OP(ge)(U a, U b)
{
    if (FP_OP(isnan)(a) || FP_OP(isnan)(b))
        return 0;
    return FP_OP(key)(a) >= FP_OP(key)(b);
}

// Truncated toward zero: the working form shifted to the units place; a
// value of 2^31 or more comes out modulo 2^32. The loops end for every
// exponent.
fp_i32 FP_OP(tol)(U f)
{
    unsigned char e = EXPONENT(f);
    fp_u32 m = FP_OP(work)(f);
    while (e < 127 + W - 1) {
        m >>= 1;
        e++;
    }
    while (e > 127 + W - 1) {
        m <<= 1;
        e--;
    }
    if (f & SIGN)
        m = -m;
    return (fp_i32)m;
}

// Every integer conversion ends here: the magnitude, narrowed to W bits
// first where W is 24 (what falls out kept sticky), then rounded.
U FP_FROM(ll)(fp_u32 u)
{
    int e = 127 + W - 1;
#if W == 24
    U m;
#endif
    // (m, u >> 8: zeros, as a function whose result is wider than a byte
    // does not store a constant 0 from `return 0` with this code generator
    // yet, and it warns (752) at a cast that narrows anything but a shift)
    if (!u)
        return (U)(u >> 8);
#if W == 24
    // the top bit of 32 set, then the low byte sticky in the high three
    while (!(u & 0x80000000ul)) {
        u <<= 1;
        e--;
    }
    m = (U)(u >> 8);
    if (u & 0xFF)
        m |= 1;
    return FP_OP(pack)(0, e + 8, m);
#else
    return FP_OP(pack)(0, e, u);
#endif
}

U FP_FROM(al)(fp_i32 x)
{
    if (x < 0)
        return FP_FROM(ll)(-(fp_u32)x) | SIGN;
    return FP_FROM(ll)((fp_u32)x);
}

U FP_FROM(lb)(unsigned char x)
{
    return FP_FROM(ll)(x);
}

U FP_FROM(ab)(signed char x)
{
    return FP_FROM(al)(x);
}

U FP_FROM(lw)(fp_u16 x)
{
    return FP_FROM(ll)(x);
}

U FP_FROM(aw)(fp_i16 x)
{
    return FP_FROM(al)(x);
}

U FP_FROM(lt)(fp_u24 x)
{
    return FP_FROM(ll)(x);
}

U FP_FROM(at)(fp_i24 x)
{
    return FP_FROM(al)(x);
}
