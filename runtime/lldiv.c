// Unsigned 32-bit division (and 24-bit, widened): the quotient; every bit set for a zero divisor.
#include "arith.h"

DEFINE_UNSIGNED_DIVIDE(__lldiv, unsigned long, 32, 0x80000000ul, dividend)
