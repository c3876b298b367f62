/* The printf family. The driver compiles this source for each program that
 * calls one of these functions, with a macro for each function called
 * (PRINTF, SPRINTF, VPRINTF, VSPRINTF) and one for each feature the
 * program's format strings use, so the code carries only those:
 *
 *   flags     LEFT '-', MANSIGN '+', SPCSIGN ' ', FILL '0', ALTERN '#'
 *   fields    WIDTH, PRECISION, STAR ('*' for either), LONG ('l')
 *   numbers   TEN (%d %i), UNSIGN (%u), EIGHT (%o), HEXLOWCASE (%x),
 *             HEXUPCASE (%X), POINTER (%p)
 *   others    CHAR (%c), STRING (%s), COUNT (%n), RETVALUE (the count of
 *             characters returned: without it the functions return 0)
 *   floats    FFMT (%f), EFMT (%e), GFMT (%g), UPCASE (%E %G)
 *
 * printf and vprintf write through the program's putch(); sprintf and
 * vsprintf into the buffer, ending it with a zero.
 */
#include <stdarg.h>
#include <stdio.h>

#if defined(SPRINTF) || defined(VSPRINTF)
#define TO_BUFFER
#endif
#if defined(PRINTF) || defined(VPRINTF)
#define TO_PUTCH
#endif
#if defined(TEN) || defined(UNSIGN) || defined(EIGHT) || defined(HEXLOWCASE) || defined(HEXUPCASE) || \
    defined(POINTER)
#define NUMBERS
#endif
#if defined(FFMT) || defined(EFMT) || defined(GFMT)
#define FLOATS
#endif
#if defined(FLOATS) && !defined(NUMBERS)
#define NUMBERS
#endif

#define F_LEFT 1
#define F_PLUS 2
#define F_SPACE 4
#define F_ZERO 8
#define F_ALT 16

#ifdef TO_BUFFER
static char *dest; /* where the sprintf forms write; putch when null */
#endif
static int written;

static void out(char c)
{
#ifdef TO_BUFFER
    if (dest) {
        *dest++ = c;
        written++;
        return;
    }
#endif
#ifdef TO_PUTCH
    putch(c);
#endif
    written++;
}

#ifdef NUMBERS
/* Digits of a number, least significant first; the field is written from
 * the end. Octal of 32 bits needs 11 digits; a float's ten integer digits
 * and its fraction more. */
#ifdef FLOATS
static char digits[24];
#else
static char digits[11];
#endif
static unsigned char ndigits;

static void to_digits(unsigned long v, unsigned char base, char letter_a)
{
    ndigits = 0;
    while (v) {
        unsigned char d = (unsigned char)(v % base);
        digits[ndigits++] = d < 10 ? '0' + d : letter_a + d - 10;
        v /= base;
    }
}
#endif

static void repeat(char c, int n)
{
    while (n-- > 0)
        out(c);
}

#ifdef FLOATS
/* The decimal digits of a float: x >= 0 written as an integer part and
 * prec digits of fraction (%f), or as one digit, a point and prec digits
 * with the exponent returned (%e). Digits go into digits[] most significant
 * first. */
static int float_digits(double x, int prec, char exp_form, int *exp10)
{
    int e = 0;
    unsigned char n = 0, i;
    double r;
    if (exp_form && x != 0) {
        while (x >= 10.0) {
            x /= 10.0;
            e++;
        }
        while (x < 1.0) {
            x *= 10.0;
            e--;
        }
    }
    /* round at the last digit written */
    r = 0.5;
    for (i = 0; i < prec; i++)
        r /= 10.0;
    x += r;
    if (exp_form && x >= 10.0) {
        x /= 10.0;
        e++;
    }
    *exp10 = e;
    {
        unsigned long ip = (unsigned long)x;
        x -= (double)ip;
        to_digits(ip, 10, 'a');
        if (!ndigits)
            digits[ndigits++] = '0';
        /* the integer digits reversed into place */
        for (i = 0; i < ndigits / 2; i++) {
            char t = digits[i];
            digits[i] = digits[ndigits - 1 - i];
            digits[ndigits - 1 - i] = t;
        }
        n = ndigits;
    }
    for (i = 0; i < prec && n < sizeof digits; i++) {
        unsigned char d;
        x *= 10.0;
        d = (unsigned char)x;
        if (d > 9)
            d = 9;
        x -= (double)d;
        digits[n++] = '0' + d;
    }
    return n;
}
#endif

static void doprnt(const char *f, va_list ap)
{
    char c;
    written = 0;
    while ((c = *f++) != 0) {
        unsigned char flags = 0;
        int width = 0;
#if defined(PRECISION) || defined(FLOATS) || defined(STRING)
        int prec = -1;
#endif
        char sign = 0;
        const char *prefix = "";
        int len;
        if (c != '%') {
            out(c);
            continue;
        }
        for (;;) {
            c = *f++;
            if (c == '-')
                flags |= F_LEFT;
            else if (c == '+')
                flags |= F_PLUS;
            else if (c == ' ')
                flags |= F_SPACE;
            else if (c == '0')
                flags |= F_ZERO;
            else if (c == '#')
                flags |= F_ALT;
            else
                break;
        }
#ifdef STAR
        if (c == '*') {
            width = va_arg(ap, int);
            if (width < 0) {
                flags |= F_LEFT;
                width = -width;
            }
            c = *f++;
        }
#endif
        while (c >= '0' && c <= '9') {
            width = width * 10 + (c - '0');
            c = *f++;
        }
        if (c == '.') {
#if defined(PRECISION) || defined(FLOATS) || defined(STRING)
            prec = 0;
#endif
            c = *f++;
#ifdef STAR
            if (c == '*') {
                prec = va_arg(ap, int);
                c = *f++;
            }
#endif
            while (c >= '0' && c <= '9') {
#if defined(PRECISION) || defined(FLOATS) || defined(STRING)
                prec = prec * 10 + (c - '0');
#endif
                c = *f++;
            }
        }
        {
#ifdef LONG
            unsigned char is_long = 0;
#endif
            while (c == 'l' || c == 'h') {
#ifdef LONG
                if (c == 'l')
                    is_long = 1;
#endif
                c = *f++;
            }
            if (c == 0)
                break;
            switch (c) {
#ifdef NUMBERS
            case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': case 'p': {
                unsigned long v;
                unsigned char base = c == 'o' ? 8 : c == 'x' || c == 'X' || c == 'p' ? 16 : 10;
                int zeros;
#ifdef LONG
                if (is_long)
                    v = va_arg(ap, unsigned long);
                else
#endif
                if (c == 'p')
                    v = (unsigned char)va_arg(ap, void *);
                else if (c == 'd' || c == 'i')
                    v = (long)va_arg(ap, int);
                else
                    v = va_arg(ap, unsigned int);
                if (c == 'd' || c == 'i') {
                    if ((long)v < 0) {
                        sign = '-';
                        v = -v;
                    } else if (flags & F_PLUS)
                        sign = '+';
                    else if (flags & F_SPACE)
                        sign = ' ';
                }
                to_digits(v, base, c == 'X' ? 'A' : 'a');
#ifdef PRECISION
                if (prec >= 0)
                    flags &= ~F_ZERO;
                zeros = prec - ndigits;
                if (prec < 0 && !ndigits)
                    zeros = 1;
#else
                zeros = ndigits ? 0 : 1;
#endif
#ifdef ALTERN
                if (flags & F_ALT) {
                    if (base == 8 && zeros <= 0)
                        zeros = 1;
                    else if (base == 16 && v)
                        prefix = c == 'X' ? "0X" : "0x";
                }
#endif
                if (zeros < 0)
                    zeros = 0;
                len = ndigits + zeros + (sign != 0);
                {
                    const char *p;
                    for (p = prefix; *p; p++)
                        len++;
                }
                if (flags & F_ZERO) {
                    zeros += width - len;
                    if (zeros < 0)
                        zeros = 0;
                    len = width;
                }
                if (!(flags & F_LEFT))
                    repeat(' ', width - len);
                if (sign)
                    out(sign);
                while (*prefix)
                    out(*prefix++);
                repeat('0', zeros);
                while (ndigits)
                    out(digits[--ndigits]);
                if (flags & F_LEFT)
                    repeat(' ', width - len);
                break;
            }
#endif
#ifdef FLOATS
            case 'f': case 'e': case 'E': case 'g': case 'G': {
                double x = va_arg(ap, double);
                int e10 = 0, n, i, point;
                char kind = c | 0x20, exp_form = kind == 'e';
                unsigned char trim = 0;
                if (prec < 0)
                    prec = 6;
                if (x - x != 0) { /* infinite, or not a number */
                    const char *p = x != x ? "nan" : x < 0 ? "-inf" : "inf";
                    while (*p)
                        out(*p++);
                    break;
                }
                if (x < 0) {
                    sign = '-';
                    x = -x;
                } else if (flags & F_PLUS)
                    sign = '+';
                else if (flags & F_SPACE)
                    sign = ' ';
                if (kind == 'g') {
                    /* %e when the exponent is below -4 or not below the
                     * precision, else %f; trailing zeros dropped */
                    if (prec == 0)
                        prec = 1;
                    float_digits(x, prec - 1, 1, &e10);
                    exp_form = e10 < -4 || e10 >= prec;
                    prec = exp_form ? prec - 1 : prec - 1 - e10;
                    trim = !(flags & F_ALT);
                }
                n = float_digits(x, prec, exp_form, &e10);
                point = exp_form ? 1 : n - prec;
                if (trim) {
                    while (n > point && digits[n - 1] == '0')
                        n--;
                    prec = n - point;
                }
                len = (sign != 0) + n + (prec || (flags & F_ALT) ? 1 : 0) + (exp_form ? 4 : 0);
                if (exp_form && (e10 >= 100 || e10 <= -100))
                    len++;
                if (!(flags & (F_LEFT | F_ZERO)))
                    repeat(' ', width - len);
                if (sign)
                    out(sign);
                if (flags & F_ZERO)
                    repeat('0', width - len);
                for (i = 0; i < n; i++) {
                    if (i == point)
                        out('.');
                    out(digits[i]);
                }
                if (point == n && (flags & F_ALT))
                    out('.');
                if (exp_form) {
                    out(c == 'E' || c == 'G' ? 'E' : 'e');
                    if (e10 < 0) {
                        out('-');
                        e10 = -e10;
                    } else
                        out('+');
                    if (e10 >= 100)
                        out('0' + e10 / 100);
                    out('0' + e10 / 10 % 10);
                    out('0' + e10 % 10);
                }
                if (flags & F_LEFT)
                    repeat(' ', width - len);
                break;
            }
#endif
#ifdef CHAR
            case 'c':
                if (!(flags & F_LEFT))
                    repeat(' ', width - 1);
                out((char)va_arg(ap, int));
                if (flags & F_LEFT)
                    repeat(' ', width - 1);
                break;
#endif
#ifdef STRING
            case 's': {
                const char *s = va_arg(ap, const char *);
                const char *p = s;
                len = 0;
                while (*p && (prec < 0 || len < prec)) {
                    p++;
                    len++;
                }
                if (!(flags & F_LEFT))
                    repeat(' ', width - len);
                for (p = s; p - s < len; p++)
                    out(*p);
                if (flags & F_LEFT)
                    repeat(' ', width - len);
                break;
            }
#endif
#ifdef COUNT
            case 'n':
                *va_arg(ap, int *) = written;
                break;
#endif
            default: /* %% and what this build does not know */
                out(c);
                break;
            }
        }
    }
}

/* The count of characters written, when the program uses it. */
static int result(void)
{
#ifdef RETVALUE
    return written;
#else
    return 0;
#endif
}

/* The format written with its arguments: into buf, ended by a zero, or
 * through putch when buf is null. */
static int format_to(char *buf, const char *f, va_list ap)
{
#ifdef TO_BUFFER
    dest = buf;
#endif
    doprnt(f, ap);
#ifdef TO_BUFFER
    if (buf)
        *dest = 0;
#endif
    return result();
}

#ifdef PRINTF
int printf(const char *f, ...)
{
    va_list ap;
    va_start(ap, f);
    return format_to(0, f, ap);
}
#endif

#ifdef VPRINTF
int vprintf(const char *f, va_list ap)
{
    return format_to(0, f, ap);
}
#endif

#ifdef SPRINTF
int sprintf(char *buf, const char *f, ...)
{
    va_list ap;
    va_start(ap, f);
    return format_to(buf, f, ap);
}
#endif

#ifdef VSPRINTF
int vsprintf(char *buf, const char *f, va_list ap)
{
    return format_to(buf, f, ap);
}
#endif
