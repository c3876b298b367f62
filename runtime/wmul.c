// 16-bit multiplication.
#include "arith.h"

DEFINE_MULTIPLY(__wmul, unsigned int)
