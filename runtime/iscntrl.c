// The control codes 0-31 and DEL (127).
#include <ctype.h>

int iscntrl(int c)
{
    unsigned char u = (unsigned char)c;
    return u < 0x20 || u == 0x7F ? 1 : 0;
}
