// The unsigned core of the byte divisions, shared by the four division
// helpers as a macro so that each stays one module with no call of its own:
// a baseline chip has only two levels of return stack.
//
// Shift and subtract, one quotient bit per step, eight steps: the top bit
// of the dividend moves into the partial remainder; where the divisor fits
// into it, it is subtracted and a 1 enters the dividend from the right.
// After the eighth step the dividend holds the quotient and `remainder` the
// remainder. Before each shift the partial remainder is at most the top
// seven bits of the dividend, so it never carries out of its byte. A zero
// divisor fits every time: quotient 255, remainder the dividend.
//
// All four arguments are unsigned char lvalues; dividend and the two
// scratch bytes are overwritten.
#define BYTE_DIVIDE(dividend, divisor, remainder, counter) \
    remainder = 0;                                        \
    counter = 8;                                          \
    do {                                                  \
        remainder <<= 1;                                  \
        if (dividend & 0x80)                              \
            remainder |= 1;                               \
        dividend <<= 1;                                   \
        if (remainder >= divisor) {                       \
            remainder -= divisor;                         \
            dividend |= 1;                                \
        }                                                 \
    } while (--counter != 0)
