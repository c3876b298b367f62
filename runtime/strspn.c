// The length of the run at the start of s of characters in accept.
#include <string.h>

size_t strspn(const char *s, const char *accept)
{
    size_t n = 0;
    while (*s && strchr(accept, *s)) {
        s++;
        n++;
    }
    return n;
}
