// Byte multiplication, for the cores without a multiply instruction.
#include "arith.h"

DEFINE_MULTIPLY(__bmul, unsigned char)
