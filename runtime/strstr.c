// The first place where a string holds another, or NULL; an empty string
// is found at the start.
#include <string.h>

char *strstr(const char *s, const char *sought)
{
    for (;; s++) {
        const char *p = s, *q = sought;
        while (*q && *p == *q) {
            p++;
            q++;
        }
        if (!*q)
            return (char *)s;
        if (!*p)   // the rest of s is shorter than what is sought
            return NULL;
    }
}
