// A long in a base from 2 to 36 (0: decimal, octal after 0, hexadecimal
// after 0x) at the start of a string; LONG_MAX or LONG_MIN when out of range.
#include <stdlib.h>
#include "clib.h"

long strtol(const char *s, char **end, int base)
{
    return (long)__strtox(s, end, base, 1);
}
