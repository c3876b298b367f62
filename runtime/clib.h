// What the C library's sources share and the headers do not declare.
#include "arith.h"

// The conversion under strtol and strtoul: white space, a sign, the base's
// prefix and the digits of s, as both functions read them; *end (when end
// is not NULL) set after the last digit, or to s when there is none. A
// value out of range gives the limit: LONG_MAX or LONG_MIN when is_signed,
// else ULONG_MAX.
unsigned long __strtox(const char *s, char **end, int base, unsigned char is_signed);

// atoi and atol: white space, a sign and decimal digits, accumulated in the
// result's own type (a value out of range wraps around) without the
// checks of strtol, which would bring its code along.
#define DEFINE_ATO(name, type)                          \
    type name(const char *s)                            \
    {                                                   \
        type v = 0;                                     \
        unsigned char negative = 0, d;                  \
        while (isspace(*s))                             \
            s++;                                        \
        if (*s == '-') {                                \
            negative = 1;                               \
            s++;                                        \
        } else if (*s == '+') {                         \
            s++;                                        \
        }                                               \
        while ((d = (unsigned char)(*s - '0')) < 10) {  \
            v = v * 10 + d;                             \
            s++;                                        \
        }                                               \
        return negative ? -v : v;                       \
    }

// div and ldiv: both results of one run of shift and subtract on the
// magnitudes; the quotient truncated toward zero, the remainder with the
// dividend's sign.
#define DEFINE_DIV(name, result, type, utype, bits, top)                    \
    result name(type numerator, type denominator)                           \
    {                                                                       \
        result r;                                                           \
        MAGNITUDES_DIVIDED(numerator, denominator, utype, bits, top);       \
        if ((numerator < 0) != (denominator < 0))                           \
            quotient = -quotient;                                           \
        if (numerator < 0)                                                  \
            remainder = -remainder;                                         \
        r.quot = (type)quotient;                                            \
        r.rem = (type)remainder;                                            \
        return r;                                                           \
    }
