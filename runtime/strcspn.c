// The length of the run at the start of s of characters not in reject.
#include <string.h>

size_t strcspn(const char *s, const char *reject)
{
    size_t n = 0;
    while (*s && !strchr(reject, *s)) {
        s++;
        n++;
    }
    return n;
}
