/* Counts on the LEDs of PORTB of a PIC16F877A. */
#include <zeph.h>

__CONFIG(_HS_OSC & _WDT_OFF & _LVP_OFF);

void main(void)
{
    unsigned char n = 0;

    TRISB = 0;
    for (;;)
        PORTB = n++;
}
