// Byte multiplication, for the cores without a multiply instruction.
//
// Shift and add: each 1 bit of the multiplier, lowest first, adds the
// multiplicand shifted to that bit's place. Bits shifted out of the byte
// are those the product modulo 256 drops anyway; the loop ends as soon as
// no 1 bit is left in the multiplier.
unsigned char __bmul(unsigned char multiplier, unsigned char multiplicand)
{
    unsigned char product = 0;
    while (multiplier != 0) {
        if (multiplier & 1)
            product += multiplicand;
        multiplicand <<= 1;
        multiplier >>= 1;
    }
    return product;
}
