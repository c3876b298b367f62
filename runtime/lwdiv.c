// Unsigned 16-bit division: the quotient; 0xFFFF for a zero divisor.
#include "arith.h"

DEFINE_UNSIGNED_DIVIDE(__lwdiv, unsigned int, 16, 0x8000u, dividend)
