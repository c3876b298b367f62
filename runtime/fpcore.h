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
//   HI          the index of its top byte, W / 8 - 1
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
// The code is written for the size of what the code generator makes of
// it: every frame byte counts against one bank that the deepest chain of
// calls must fit. So the arithmetic works in a few static registers
// (below) rather than in parameters and autos, one operation per
// statement and in place (a nested wide expression takes a temporary of
// its width), and bytes are reached through unions rather than by shifts.

// The integer types of the chip; the host's C compiler, which builds the
// same sources for the tests, gets types of the same widths (its 24-bit
// stand-in holds values below 2^24, which CUT and KEEP keep so).
#ifdef __ZEPH__
typedef unsigned int fp_u16;
typedef int fp_i16;
typedef unsigned short long fp_u24;
typedef short long fp_i24;
typedef unsigned long fp_u32;
typedef long fp_i32;
#define KEEP(r)
#else
#include <stdint.h>
typedef uint16_t fp_u16;
typedef int16_t fp_i16;
typedef uint32_t fp_u24;
typedef int32_t fp_i24;
typedef uint32_t fp_u32;
typedef int32_t fp_i32;
#define KEEP(r) ((r).l = CUT((r).l))
#endif

// Shift counts are written as plain numbers: the code generator warns
// (752) about a shift whose count is a constant expression such as W - 1.
#define SIGN ((U)1 << TOP_BIT)
#define HIDDEN ((U)1 << F)
#define INF ((U)0xFF << F)
#define NAN_IMAGE (INF | HIDDEN >> 1)

// The working registers of the operations that round (add, sub, mul,
// div, the conversions from integers and from the wider float): static,
// so that they cost no frame. Each of those functions calls pack, so a
// program that ran two of them in main and interrupt code at once would
// share pack as well, which the code generator refuses; the functions
// that do not round (neg, ge, tol, fttofl) keep to their frames.
//
// A magnitude at work is a mantissa MA and an exponent RE standing for
// MA * 2^(RE - 127 - (W - 1)): when MA's top bit is set, RE is the biased
// exponent of the result and the low byte of MA decides the rounding.
typedef union {
    U l;
    unsigned char b[W / 8];
} fp_reg;
// MQ also holds the 32-bit integers converted to floats.
typedef union {
    U l;
    fp_u32 L;
    unsigned char b[4];
} fp_wide;
typedef union {
    fp_i16 i;
    unsigned char b[2];
} fp_exp;
static fp_reg FP_OP(ma), FP_OP(mb);   // mantissas: the operands
static fp_wide FP_OP(mq);             // quotient, product or integer
static fp_exp FP_OP(re);                         // the exponent of MA
static unsigned char FP_OP(sg);                  // the result's sign (top bit)
static unsigned char FP_OP(df);                  // signs differ / divide
static unsigned char FP_OP(ea), FP_OP(eb);       // the operands' exponents, counters, spare bits
#define MA FP_OP(ma)
#define MB FP_OP(mb)
#define MQ FP_OP(mq)
#define RE FP_OP(re)
#define SG FP_OP(sg)
#define DF FP_OP(df)
#define EA FP_OP(ea)
#define EB FP_OP(eb)
// The working mantissa of an infinity: the hidden bit alone.
#define HALF (SIGN >> 1)

// MA normalised, rounded to nearest even, flushed to zero or overflowed to
// infinity, given the sign SG: the image, left in MA. MA is nonzero.
// (The tests of top bits are written as compares, which cost no temporary.)
static void FP_OP(pack)(void)
{
    while (MA.b[HI] < 0x80) {
        MA.l <<= 1;
        RE.i--;
    }
    // the low byte is above half, or half with an odd last kept bit
    EA = MA.b[1] & 1;
    if (EA)
        MA.l++;
    MA.l += 0x7F;
    KEEP(MA);
    if (MA.b[HI] < 0x80) {   // 1.11...1 rounded up to 10.0
        MA.b[HI] = 0x80;
        RE.i++;
    }
    // the fraction under the exponent's field: the hidden bit out, the
    // rounding byte out, the exponent in and everything a place down
    MA.l <<= 1;
    KEEP(MA);
    MA.l >>= 8;
    EA = RE.b[0];
    if (RE.i < 0)
        EA = 0;
    else if (RE.b[1])
        EA = 255;
    if (!EA || EA == 255)
        MA.l = 0;
    MA.b[HI] = EA;
    MA.l >>= 1;
    MA.b[HI] |= SG;
}

// The magnitudes in MA and MB (their sign bits clear) made mantissas with
// the top bit clear and 7 rounding bits below, their exponents in EA, EB.
// Nonzero when either is a NaN.
// (In line for each: a routine for one register would need a pointer.)
#define UNPACK(r, e)            \
    e = r.b[HI];                \
    e <<= 1;                    \
    if (r.b[HI - 1] >= 0x80)    \
        e++;                    \
    r.l <<= 8;                  \
    KEEP(r);                    \
    r.b[HI] |= 0x80;            \
    r.l >>= 1
static unsigned char FP_OP(unpack)(void)
{
    UNPACK(MA, EA);
    UNPACK(MB, EB);
    if (EA == 255 && MA.l != HALF)
        return 1;
    if (EB == 255 && MB.l != HALF)
        return 1;
    return 0;
}

U FP_OP(add)(U a, U b)
{
    MA.l = a;
    MB.l = b;
    SG = MA.b[HI] & 0x80;
    DF = MB.b[HI] & 0x80;
    DF ^= SG;
    MA.b[HI] &= 0x7F;
    MB.b[HI] &= 0x7F;
    // MA takes the larger magnitude, whose sign the sum has (and a NaN
    // operand is MA)
    if (MA.l < MB.l) {
        MQ.l = MA.l;
        MA.l = MB.l;
        MB.l = MQ.l;
        SG ^= DF;
    }
    if (FP_OP(unpack)())
        goto nan;
    if (EA == 255) {
        if (EB == 255 && DF)
            goto nan;
        RE.b[1] = 1;   // infinite
        goto pack;
    }
    // one bit above for the carry; pack shifts it back
    RE.b[0] = EA;
    RE.b[1] = 0;
    RE.i++;
    if (!EB) {
        // b is zero; so is a when its exponent is 0 too (then pack flushes
        // it): -0 only from -0 + -0
        MB.l = 0;
        if (!EA && DF)
            SG = 0;
    }
    EB = EA - EB;
    if (EB > W)
        EB = W;   // b is all sticky by then
    while (EB) {
        EA = MB.b[0] & 1;
        MB.l >>= 1;
        MB.b[0] |= EA;
        EB--;
    }
    if (DF)
        MA.l -= MB.l;
    else
        MA.l += MB.l;
    if (!MA.l)   // exact cancellation is +0
        goto done;
pack:
    FP_OP(pack)();
done:
    return MA.l;
nan:
    return NAN_IMAGE;
}

U FP_OP(sub)(U a, U b)
{
    b ^= SIGN;
    return FP_OP(add)(a, b);
}

U FP_OP(neg)(U a)
{
    a ^= SIGN;
    return a;
}

// Multiplication and division of MA by MB (images), DF nonzero to divide;
// the result in MA. They share their special cases: a divisor's zero and
// infinity swap (dividing by infinity is multiplying by zero), so both are
// NaN for zero with infinity, infinite with an infinity, zero with a zero.
static void FP_OP(muldiv)(void)
{
    SG = MA.b[HI] ^ MB.b[HI];
    SG &= 0x80;
    MA.b[HI] &= 0x7F;
    MB.b[HI] &= 0x7F;
    if (FP_OP(unpack)()) {
        MA.l = NAN_IMAGE;
        return;
    }
    if (DF && (!EB || EB == 255))
        EB = ~EB;
    // MA's top bit is clear: pack takes one from the exponent
    RE.b[0] = 0;
    RE.b[1] = 1;
    if (EA == 255 || EB == 255) {
        if (!EA || !EB)
            MA.l = NAN_IMAGE;
        else
            FP_OP(pack)();   // infinite
        return;
    }
    RE.b[1] = 0;
    if (!EA || !EB) {
        FP_OP(pack)();   // zero
        return;
    }
    MQ.l = 0;
    RE.b[0] = EA;
    if (DF) {
        // restoring division, one quotient bit per step; the quotient of
        // mantissas in (1/2, 2) takes W - 1 or W bits, the remainder is sticky
        RE.i += 127;
        do
            RE.i--;
        while (--EB);
        EB = W;
        do {
            MQ.l <<= 1;
            if (MA.l >= MB.l) {
                MA.l -= MB.l;
                MQ.b[0] |= 1;
            }
            MA.l <<= 1;
        } while (--EB);
        if (MA.l)
            MQ.b[0] |= 1;
    } else {
        // shift and add from the multiplier's lowest bit (its lowest 7
        // are 0): the partial product moves right a place each step,
        // what falls out kept sticky
        RE.i -= 124;
        do
            RE.i++;
        while (--EB);
        EB = W;
        do {
            EA = MB.b[0] & 1;
            if (EA)
                MQ.l += MA.l;
            EA = MQ.b[0] & 1;
            MQ.l >>= 1;
            MQ.b[0] |= EA;
            MB.l >>= 1;
        } while (--EB);
    }
    MA.l = MQ.l;
    FP_OP(pack)();
}

U FP_OP(mul)(U a, U b)
{
    MA.l = a;
    MB.l = b;
    DF = 0;
    FP_OP(muldiv)();
    return MA.l;
}

U FP_OP(div)(U a, U b)
{
    MA.l = a;
    MB.l = b;
    DF = 1;
    FP_OP(muldiv)();
    return MA.l;
}

// The order of the values: negatives below positives, both zeros equal, a
// NaN unordered. In the parameters themselves (no static register: see
// above).
unsigned char FP_OP(ge)(U a, U b)
{
    unsigned char sa, sb;
    sa = (unsigned char)(a >> TOP_BYTE);
    sa &= 0x80;
    sb = (unsigned char)(b >> TOP_BYTE);
    sb &= 0x80;
    a &= ~SIGN;
    b &= ~SIGN;
    if (a > INF)
        return 0;
    if (b > INF)
        return 0;
    if (a < HIDDEN) {
        a = 0;
        sa = 0;
    }
    if (b < HIDDEN) {
        b = 0;
        sb = 0;
    }
    if (sa != sb)
        return sb != 0;
    if (sa)
        return b >= a;
    return a >= b;
}

// Truncated toward zero: the mantissa shifted to the units place; a
// value of 2^31 or more comes out modulo 2^32. The loops end for every
// exponent.
fp_i32 FP_OP(tol)(U f)
{
    fp_u32 m;
    unsigned char e, neg;
    m = f;
#if W == 24
    m <<= 8;
#endif
    // m: the image from its top bit down
    neg = (unsigned char)(m >> 24);
    e = neg;
    e <<= 1;
    if (m & 0x800000ul)
        e++;
    neg &= 0x80;
    m <<= 8;
    m |= 0x80000000ul;
    while (e < 158) {
        m >>= 1;
        e++;
    }
    while (e > 158) {
        m <<= 1;
        e--;
    }
    if (neg)
        m = -m;
    return (fp_i32)m;
}

// Every integer conversion ends here: the integer in MQ.L, DF nonzero when
// it is signed. Its magnitude, narrowed to W bits first where W is 24
// (what falls out kept sticky), rounded into MA.
static void FP_OP(fromint)(void)
{
    SG = 0;
    if (DF && MQ.b[3] >= 0x80) {
        SG = 0x80;
        MQ.L = ~MQ.L;
        MQ.L++;
    }
    MA.l = 0;
    if (!MQ.L)
        return;
    RE.b[0] = 127 + 31;
    RE.b[1] = 0;
#if W == 24
    // the top bit of 32 set, then the low byte sticky in the high three
    while (MQ.b[3] < 0x80) {
        MQ.L <<= 1;
        RE.i--;
    }
    MA.b[0] = MQ.b[1];
    MA.b[1] = MQ.b[2];
    MA.b[2] = MQ.b[3];
    if (MQ.b[0])
        MA.b[0] |= 1;
#else
    MA.l = MQ.L;
#endif
    FP_OP(pack)();
}

// FROM(k, type, signed): the conversion from one integer class.
#define FROM(k, type, is_signed) \
    U FP_FROM(k)(type x)         \
    {                            \
        MQ.L = x;                \
        DF = is_signed;          \
        FP_OP(fromint)();        \
        return MA.l;             \
    }
FROM(lb, unsigned char, 0)
FROM(ab, signed char, 1)
FROM(lw, fp_u16, 0)
FROM(aw, fp_i16, 1)
FROM(lt, fp_u24, 0)
FROM(at, fp_i24, 1)
FROM(ll, fp_u32, 0)
FROM(al, fp_i32, 1)
