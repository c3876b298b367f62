// The magnitude of an int; INT_MIN, which has none, comes back as it is.
#include <stdlib.h>

int abs(int n)
{
    return n < 0 ? -n : n;
}
