// The 24-bit float helpers (the top 24 bits of an IEEE single: a 15-bit
// fraction) and the conversions between the two float widths.
#define U fp_u24
#define W 24
#define F 15
#define HI 2
#define TOP_BIT 23
#define TOP_BYTE 16
#ifdef __ZEPH__
#define CUT(x) (x)
#else
#define CUT(x) ((x) & 0xFFFFFFu)
#endif
#define FP_OP(op) __ft##op
#define FP_FROM(k) __##k##toft
#include "fpcore.h"

// The 32-bit image's 23 fraction bits are 8 more than this width keeps:
// exactly the rounding byte of the working mantissa.
fp_u24 __fltoft(fp_u32 x)
{
    MQ.L = x;
    EA = MQ.b[3];
    SG = EA & 0x80;
    EA <<= 1;
    if (MQ.b[2] >= 0x80)
        EA++;
    MA.b[0] = MQ.b[0];
    MA.b[1] = MQ.b[1];
    MA.b[2] = MQ.b[2] & 0x7F;
    if (EA == 255 && MA.l)
        return NAN_IMAGE;
    MA.b[HI] |= 0x80;
    if (!EA)   // zero, a denormal too: nothing may round up to a normal
        MA.l = SIGN;
    RE.b[0] = EA;
    RE.b[1] = 0;
    FP_OP(pack)();
    return MA.l;
}

// Exact: the fraction gains 8 zero bits (a NaN stays one); a denormal is zero.
fp_u32 __fttofl(fp_u24 x)
{
    fp_u32 r;
    if (!(x & INF))
        x &= SIGN;
    r = x;
    r <<= 8;
    return r;
}
