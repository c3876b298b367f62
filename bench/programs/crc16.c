/* CRC-16/CCITT of the bytes 0..63, a bit at a time. */
volatile unsigned char test_done;
unsigned int crc;

unsigned int crc_byte(unsigned int c, unsigned char b)
{
    unsigned char k;
    c ^= (unsigned int)b << 8;
    for (k = 0; k < 8; k++) {
        if (c & 0x8000)
            c = (c << 1) ^ 0x1021;
        else
            c <<= 1;
    }
    return c;
}

void main(void)
{
    unsigned char i;
    crc = 0xFFFF;
    for (i = 0; i < 64; i++)
        crc = crc_byte(crc, i);
    test_done = 1;
    for (;;)
        continue;
}
