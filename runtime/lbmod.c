// Unsigned byte remainder; the dividend for a zero divisor.
#include "arith.h"

DEFINE_UNSIGNED_DIVIDE(__lbmod, unsigned char, 8, 0x80, remainder)
