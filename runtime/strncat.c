// Appends at most n characters of a string, and always a terminating null.
#include <string.h>

char *strncat(char *to, const char *from, size_t n)
{
    char *d = to;
    while (*d)
        d++;
    while (n && *from) {
        *d++ = *from++;
        n--;
    }
    *d = 0;
    return to;
}
