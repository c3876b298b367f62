// The 24-bit float helpers (the top 24 bits of an IEEE single: a 15-bit
// fraction) and the conversions between the two float widths.
#define U fp_u24
#define W 24
#define F 15
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
// exactly the rounding bits of the working form.
fp_u24 __fltoft(fp_u32 x)
{
    unsigned char e = (unsigned char)((unsigned char)(x >> 24) << 1) | (x & 0x800000ul ? 1 : 0);
    unsigned char sign = (unsigned char)(x >> 24) & 0x80;
    if (e == 255 && (x & 0x7FFFFFul))
        return NAN_IMAGE;
    if (!e)
        return FP_OP(pack)(sign, 0, SIGN);
    return FP_OP(pack)(sign, e, CUT((fp_u24)((x << 8) >> 8)) | SIGN);
}

// Exact: the fraction gains 8 zero bits (a NaN stays one); a denormal is zero.
fp_u32 __fttofl(fp_u24 x)
{
    if (!EXPONENT(x))
        x &= SIGN;
    return (fp_u32)x << 8;
}
