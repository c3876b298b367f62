// Space and the white-space controls \t \n \v \f \r (9 to 13).
#include <ctype.h>

int isspace(int c)
{
    unsigned char u = (unsigned char)c;
    return u == ' ' || (unsigned char)(u - '\t') < 5 ? 1 : 0;
}
