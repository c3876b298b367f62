// The number of characters before the terminating null (counted: a
// difference of pointers costs more code than the count).
#include <string.h>

size_t strlen(const char *s)
{
    size_t n = 0;
    while (*s++)
        n++;
    return n;
}
