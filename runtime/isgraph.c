// The printing characters but space: 33 to 126.
#include <ctype.h>

int isgraph(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)(u - 0x21) < 0x5E ? 1 : 0;
}
