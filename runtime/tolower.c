// A capital letter as a small one; every other value, EOF included, as it is.
#include <ctype.h>

int tolower(int c)
{
    if ((unsigned char)(c - 'A') < 26)
        return c + ('a' - 'A');
    return c;
}
