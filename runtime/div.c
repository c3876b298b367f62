// The quotient and remainder of two ints.
#include <stdlib.h>
#include "clib.h"

DEFINE_DIV(div, div_t, int, unsigned int, 16, 0x8000u)
