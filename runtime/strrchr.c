// The last c (converted to char) in a string, or NULL; c of 0 finds the
// terminating null.
#include <string.h>

char *strrchr(const char *s, int c)
{
    const char *last = NULL;
    for (;;) {
        if (*s == (char)c)
            last = s;
        if (!*s)
            return (char *)last;
        s++;
    }
}
