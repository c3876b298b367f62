// Signed 16-bit division, the quotient truncated toward zero.
#include "arith.h"

DEFINE_SIGNED_DIVIDE(__awdiv, int, unsigned int, 16, 0x8000u, SIGNED_QUOTIENT)
