// Unsigned byte division: the quotient; 255 for a zero divisor.
#include "bytediv.h"

unsigned char __lbdiv(unsigned char dividend, unsigned char divisor)
{
    unsigned char remainder;
    unsigned char counter;
    BYTE_DIVIDE(dividend, divisor, remainder, counter);
    return dividend;
}
