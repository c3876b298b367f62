// Unsigned byte remainder; the dividend itself for a zero divisor.
#include "bytediv.h"

unsigned char __lbmod(unsigned char dividend, unsigned char divisor)
{
    unsigned char remainder;
    unsigned char counter;
    BYTE_DIVIDE(dividend, divisor, remainder, counter);
    return remainder;
}
