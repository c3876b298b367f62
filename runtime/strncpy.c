// Copies at most n characters of a string, then fills the rest of the n
// with nulls; a string of n characters or more gets no terminating null.
#include <string.h>

char *strncpy(char *to, const char *from, size_t n)
{
    char *d = to;
    while (n) {
        if ((*d++ = *from) != 0)
            from++;
        n--;
    }
    return to;
}
