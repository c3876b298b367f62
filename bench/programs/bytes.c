/* Byte arithmetic: a checksum of a counting sequence. */
volatile unsigned char test_done;
unsigned char sum, x;

void main(void)
{
    unsigned char i;
    for (i = 0; i < 200; i++) {
        x = (unsigned char)(i * 7) ^ (i >> 2);
        sum += x;
        if (x & 1)
            sum ^= 0x5A;
    }
    test_done = 1;
    for (;;)
        continue;
}
