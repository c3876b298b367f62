// Splits a string into tokens separated by runs of delimiters, writing a
// null over the delimiter that ends each token. A call with a string starts
// on it; a call with NULL goes on where the last call stopped, which is the
// one byte this function keeps.
#include <string.h>

static char *strtok_next;

char *strtok(char *s, const char *delimiters)
{
    if (!s)
        s = strtok_next;
    s += strspn(s, delimiters);
    if (!*s) {
        strtok_next = s;
        return NULL;
    }
    strtok_next = s + strcspn(s, delimiters);
    if (*strtok_next)
        *strtok_next++ = 0;
    return s;
}
