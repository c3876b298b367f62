// A small letter as a capital one; every other value, EOF included, as it is.
#include <ctype.h>

int toupper(int c)
{
    if ((unsigned char)(c - 'a') < 26)
        return c - ('a' - 'A');
    return c;
}
