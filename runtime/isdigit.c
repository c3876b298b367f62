// The decimal digits 0-9. Every class works on the low byte alone: EOF (-1)
// is 255 there, which no class holds.
#include <ctype.h>

int isdigit(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)(u - '0') < 10 ? 1 : 0;
}
