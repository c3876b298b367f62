// Signed byte remainder, with the sign of the dividend (so that
// (a / b) * b + a % b == a with the quotient truncated toward zero).
//
// The magnitudes are divided unsigned and the remainder negated when the
// dividend is negative; -128 % -1 gives 0. A zero divisor leaves the
// dividend's magnitude as remainder, so the result is the dividend itself.
#include "bytediv.h"

signed char __abmod(signed char dividend, signed char divisor)
{
    unsigned char magnitude = dividend;
    unsigned char divisor_magnitude = divisor;
    unsigned char remainder;
    unsigned char counter;
    if (dividend < 0)
        magnitude = -magnitude;
    if (divisor < 0)
        divisor_magnitude = -divisor_magnitude;
    BYTE_DIVIDE(magnitude, divisor_magnitude, remainder, counter);
    if (dividend < 0)
        remainder = -remainder;
    return remainder;
}
