// The printing characters that are neither space, letter nor digit.
#include <ctype.h>

int ispunct(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)(u - 0x21) < 0x5E && (unsigned char)((u | 0x20) - 'a') >= 26 && (unsigned char)(u - '0') >= 10 ? 1 : 0;
}
