// Unsigned byte division: the quotient; 255 for a zero divisor.
#include "arith.h"

DEFINE_UNSIGNED_DIVIDE(__lbdiv, unsigned char, 8, 0x80, dividend)
