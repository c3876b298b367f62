// Signed byte division, the quotient truncated toward zero.
//
// The magnitudes are divided unsigned (128, the magnitude of -128, fits an
// unsigned byte) and the quotient negated when the operands' signs differ.
// -128 / -1 gives 128, which is -128 again in a byte. A zero divisor gives
// the unsigned quotient 255 with the dividend's sign: -1 for a dividend of
// 0 or more, 1 for a negative one.
#include "bytediv.h"

signed char __abdiv(signed char dividend, signed char divisor)
{
    unsigned char quotient = dividend;
    unsigned char magnitude = divisor;
    unsigned char negative = 0;
    unsigned char remainder;
    unsigned char counter;
    if (dividend < 0) {
        quotient = -quotient;
        negative = 1;
    }
    if (divisor < 0) {
        magnitude = -magnitude;
        negative ^= 1;
    }
    BYTE_DIVIDE(quotient, magnitude, remainder, counter);
    if (negative)
        quotient = -quotient;
    return quotient;
}
