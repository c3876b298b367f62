// Unsigned 16-bit remainder; the dividend for a zero divisor.
#include "arith.h"

DEFINE_UNSIGNED_DIVIDE(__lwmod, unsigned int, 16, 0x8000u, remainder)
