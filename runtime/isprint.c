// The printing characters, space included: 32 to 126.
#include <ctype.h>

int isprint(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)(u - 0x20) < 0x5F ? 1 : 0;
}
