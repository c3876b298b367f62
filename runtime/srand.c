// Starts the sequence of rand afresh from a seed; the same seed gives the
// same sequence.
#include <stdlib.h>

extern unsigned long __rand_state;

void srand(unsigned int seed)
{
    __rand_state = seed;
}
