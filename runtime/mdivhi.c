// __mma = floor(__mma 2^32 / __mmb) for __mma < __mmb (the registers of
// mmulhi.c): restoring division, one quotient bit a step (the fixed-point
// quotients under tan, atan2 and pow).
#include "mathimg.h"

void __mdivhi(void)
{
    unsigned long q;
    unsigned char n, c;
    q = 0;
    n = 32;
    do {
        c = 0;
        if (__mma >= 0x80000000ul)   // the bit shifted out: more than __mmb
            c = 1;
        __mma <<= 1;
        q <<= 1;
        if (__mma >= __mmb)
            c = 1;
        if (c) {
            __mma -= __mmb;
            q |= 1;
        }
    } while (--n);
    __mma = q;
}
