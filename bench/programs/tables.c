/* Table-driven CRC-8 of a message held in a structure, copied through
 * pointers, and the length of constant strings read through a pointer. */
volatile unsigned char test_done;

const unsigned char crc8_table[16] = {
    0x00, 0x07, 0x0E, 0x09, 0x1C, 0x1B, 0x12, 0x15,
    0x38, 0x3F, 0x36, 0x31, 0x24, 0x23, 0x2A, 0x2D,
};

struct message {
    unsigned char kind;
    unsigned char length;
    unsigned char body[24];
};

struct message in, out;
unsigned char crc, total;

unsigned char crc8(const unsigned char *p, unsigned char n)
{
    unsigned char c = 0;
    while (n--) {
        c ^= *p++;
        c = (c << 4) ^ crc8_table[c >> 4];
        c = (c << 4) ^ crc8_table[c >> 4];
    }
    return c;
}

void copy(struct message *to, const struct message *from)
{
    *to = *from;
}

void main(void)
{
    unsigned char i;
    in.kind = 3;
    in.length = 24;
    for (i = 0; i < 24; i++)
        in.body[i] = i * 7;
    copy(&out, &in);
    crc = crc8(out.body, out.length);
    total = out.kind + out.body[23];
    test_done = 1;
    for (;;)
        continue;
}
