// Pseudo-random numbers from 0 to RAND_MAX: a 32-bit linear congruential
// generator whose bits 16-30 are the result (its low bits repeat too
// soon). Without srand the sequence is that of srand(1).
#include <stdlib.h>

unsigned long __rand_state = 1;

int rand(void)
{
    __rand_state = __rand_state * 1103515245ul + 12345;
    return (int)(__rand_state >> 16) & RAND_MAX;
}
