// 32-bit multiplication (24-bit products are made in 32 bits).
#include "arith.h"

DEFINE_MULTIPLY(__lmul, unsigned long)
