// The letters and the decimal digits.
#include <ctype.h>

int isalnum(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)((u | 0x20) - 'a') < 26 || (unsigned char)(u - '0') < 10 ? 1 : 0;
}
