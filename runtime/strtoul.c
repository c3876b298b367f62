// An unsigned long in a base from 2 to 36 (0: decimal, octal after 0,
// hexadecimal after 0x) at the start of a string, negated in unsigned
// arithmetic after a minus sign; ULONG_MAX when out of range.
#include <stdlib.h>
#include "clib.h"

unsigned long strtoul(const char *s, char **end, int base)
{
    return __strtox(s, end, base, 0);
}
