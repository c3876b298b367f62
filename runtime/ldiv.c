// The quotient and remainder of two longs.
#include <stdlib.h>
#include "clib.h"

DEFINE_DIV(ldiv, ldiv_t, long, unsigned long, 32, 0x80000000ul)
