// The hexadecimal digits 0-9, a-f and A-F.
#include <ctype.h>

int isxdigit(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)(u - '0') < 10 || (unsigned char)((u | 0x20) - 'a') < 6 ? 1 : 0;
}
