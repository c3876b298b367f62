// Signed 32-bit division (and 24-bit, widened), the quotient truncated toward zero.
#include "arith.h"

DEFINE_SIGNED_DIVIDE(__aldiv, long, unsigned long, 32, 0x80000000ul, SIGNED_QUOTIENT)
