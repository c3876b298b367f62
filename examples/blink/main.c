/* Counts on the LEDs of PORTB of a PIC16F877A. */
volatile unsigned char PORTB @ 0x06;
volatile unsigned char TRISB @ 0x86;

void main(void)
{
    unsigned char n = 0;

    TRISB = 0;
    for (;;)
        PORTB = n++;
}
