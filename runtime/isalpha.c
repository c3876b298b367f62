// The letters: setting bit 5 makes a capital letter small and leaves a
// small one as it is, and no other code becomes a letter.
#include <ctype.h>

int isalpha(int c)
{
    unsigned char u = (unsigned char)c;
    return (unsigned char)((u | 0x20) - 'a') < 26 ? 1 : 0;
}
