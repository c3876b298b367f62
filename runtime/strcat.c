// Appends a string to the end of another.
#include <string.h>

char *strcat(char *to, const char *from)
{
    char *d = to;
    while (*d)
        d++;
    while ((*d++ = *from++) != 0)
        continue;
    return to;
}
