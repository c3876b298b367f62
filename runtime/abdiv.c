// Signed byte division, the quotient truncated toward zero.
#include "arith.h"

DEFINE_SIGNED_DIVIDE(__abdiv, signed char, unsigned char, 8, 0x80, SIGNED_QUOTIENT)
