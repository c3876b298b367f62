/* 32-bit arithmetic: a linear congruential sequence, its sum and quotients. */
volatile unsigned char test_done;
unsigned long seed, total;
long q;

void main(void)
{
    unsigned char i;
    seed = 12345;
    for (i = 0; i < 20; i++) {
        seed = seed * 1103515245UL + 12345;
        total += seed >> 16;
        q = (long)(seed % 100000UL) / -37;
    }
    test_done = 1;
    for (;;)
        continue;
}
