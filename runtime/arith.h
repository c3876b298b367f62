// The integer helpers of every width, as macros: each source of the library
// defines one helper with one of them, so that each helper stays a module
// of its own with no call of its own (a baseline chip has only two levels
// of return stack). The algorithms favour code size over speed.
//
// DIVIDE_STEPS is the unsigned core of the divisions. Shift and subtract,
// one quotient bit per step, `bits` steps: the top bit of the dividend
// moves into the partial remainder; where the divisor fits into it, it is
// subtracted and a 1 enters the dividend from the right. After the last
// step the dividend holds the quotient and `remainder` the remainder.
// Before each shift the partial remainder is below the divisor, so it never
// carries out of its width. A zero divisor fits every time: the quotient
// has every bit set, the remainder is the dividend.
//
// dividend, divisor and remainder are unsigned lvalues of one width, `top`
// that width's top bit; counter is an unsigned char. dividend, remainder
// and counter are overwritten.
#define DIVIDE_STEPS(dividend, divisor, remainder, counter, bits, top) \
    remainder = 0;                                                    \
    counter = bits;                                                   \
    do {                                                              \
        remainder <<= 1;                                              \
        if (dividend & top)                                           \
            remainder |= 1;                                           \
        dividend <<= 1;                                               \
        if (remainder >= divisor) {                                   \
            remainder -= divisor;                                     \
            dividend |= 1;                                            \
        }                                                             \
    } while (--counter != 0)

// The product modulo the width (also right for signed operands). Shift and
// add: each 1 bit of the multiplier, lowest first, adds the multiplicand
// shifted to that bit's place; the loop ends as soon as no 1 bit is left.
#define DEFINE_MULTIPLY(name, type)                     \
    type name(type multiplier, type multiplicand)       \
    {                                                   \
        type product = 0;                               \
        while (multiplier != 0) {                       \
            if (multiplier & 1)                         \
                product += multiplicand;                \
            multiplicand <<= 1;                         \
            multiplier >>= 1;                           \
        }                                               \
        return product;                                 \
    }

// Unsigned division: `result` is dividend (the quotient) or remainder.
#define DEFINE_UNSIGNED_DIVIDE(name, type, bits, top, result)                 \
    type name(type dividend, type divisor)                                   \
    {                                                                        \
        type remainder;                                                      \
        unsigned char counter;                                               \
        DIVIDE_STEPS(dividend, divisor, remainder, counter, bits, top);      \
        return result;                                                       \
    }

// Signed division: the magnitudes divided unsigned (the most negative
// value's magnitude fits the unsigned type), then `result`:
// SIGNED_QUOTIENT, truncated toward zero, negated when the signs differ
// (the most negative dividend divided by -1 gives itself again; a zero
// divisor gives every bit set with the dividend's sign: -1 for a dividend
// of 0 or more, 1 for a negative one); or SIGNED_REMAINDER, with the
// dividend's sign, so that (a / b) * b + a % b is a (the most negative
// value % -1 is 0; a zero divisor gives the dividend).
#define SIGNED_QUOTIENT                               \
    if ((dividend < 0) != (divisor < 0))              \
        quotient = -quotient;                         \
    return quotient;
#define SIGNED_REMAINDER                              \
    if (dividend < 0)                                 \
        remainder = -remainder;                       \
    return remainder;
// The magnitudes of a signed dividend and divisor divided unsigned: it
// declares and leaves utype quotient and remainder (and magnitude, counter).
#define MAGNITUDES_DIVIDED(dividend, divisor, utype, bits, top)             \
    utype quotient = dividend;                                              \
    utype magnitude = divisor;                                              \
    utype remainder;                                                        \
    unsigned char counter;                                                  \
    if (dividend < 0)                                                       \
        quotient = -quotient;                                               \
    if (divisor < 0)                                                        \
        magnitude = -magnitude;                                             \
    DIVIDE_STEPS(quotient, magnitude, remainder, counter, bits, top)
#define DEFINE_SIGNED_DIVIDE(name, type, utype, bits, top, result)          \
    type name(type dividend, type divisor)                                  \
    {                                                                       \
        MAGNITUDES_DIVIDED(dividend, divisor, utype, bits, top);            \
        result                                                              \
    }
