// A decimal long at the start of a string.
#include <ctype.h>
#include <stdlib.h>
#include "clib.h"

DEFINE_ATO(atol, long)
