// Signed 32-bit remainder (and 24-bit, widened), with the dividend's sign.
#include "arith.h"

DEFINE_SIGNED_DIVIDE(__almod, long, unsigned long, 32, 0x80000000ul, SIGNED_REMAINDER)
