// The magnitude of a long; LONG_MIN, which has none, comes back as it is.
#include <stdlib.h>

long labs(long n)
{
    return n < 0 ? -n : n;
}
