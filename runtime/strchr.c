// The first c (converted to char) in a string, or NULL; c of 0 finds the
// terminating null.
#include <string.h>

char *strchr(const char *s, int c)
{
    for (;;) {
        if (*s == (char)c)
            return (char *)s;
        if (!*s)
            return NULL;
        s++;
    }
}
