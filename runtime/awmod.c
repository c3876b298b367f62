// Signed 16-bit remainder, with the dividend's sign.
#include "arith.h"

DEFINE_SIGNED_DIVIDE(__awmod, int, unsigned int, 16, 0x8000u, SIGNED_REMAINDER)
