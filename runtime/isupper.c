// The capital letters A-Z.
#include <ctype.h>

int isupper(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)(u - 'A') < 26 ? 1 : 0;
}
