// Unsigned 32-bit remainder (and 24-bit, widened); the dividend for a zero divisor.
#include "arith.h"

DEFINE_UNSIGNED_DIVIDE(__llmod, unsigned long, 32, 0x80000000ul, remainder)
