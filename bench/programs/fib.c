/* Fibonacci numbers in 16, 24 and 32 bits, with calls. */
volatile unsigned char test_done;
unsigned int f16;
unsigned short long f24;
unsigned long f32;

unsigned long fib(unsigned char n)
{
    unsigned long a = 0, b = 1, t;
    while (n--) {
        t = a + b;
        a = b;
        b = t;
    }
    return a;
}

void main(void)
{
    f16 = (unsigned int)fib(24);
    f24 = (unsigned short long)fib(34);
    f32 = fib(47);
    test_done = 1;
    for (;;)
        continue;
}
