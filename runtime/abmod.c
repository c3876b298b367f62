// Signed byte remainder, with the dividend's sign.
#include "arith.h"

DEFINE_SIGNED_DIVIDE(__abmod, signed char, unsigned char, 8, 0x80, SIGNED_REMAINDER)
