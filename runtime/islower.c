// The small letters a-z.
#include <ctype.h>

int islower(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)(u - 'a') < 26 ? 1 : 0;
}
