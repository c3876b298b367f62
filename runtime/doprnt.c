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
 * A float is written from its image, of either form (24 or 32 bits), with
 * no float arithmetic: its digits are exact, rounded to nearest with ties
 * to even at the precision asked for, as the host's C library writes the
 * same value; infinities and NaN as inf and nan (INF, NAN for %E %G).
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

#define F_LEFT 1
#define F_PLUS 2
#define F_SPACE 4
#define F_ZERO 8
#define F_ALT 16

/* The conversion being written: its flags, field width, precision (-1
 * when none), sign character and prefix, and the length of its text */
static unsigned char flags;
static int width, prec, len;
static char sign;
static const char *prefix;

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

#if defined(NUMBERS) || defined(FLOATS)
/* Digits of a number, least significant first; the field is written from
 * the end. Octal of 32 bits needs 11 digits. A float's go most significant
 * first (see float_digits): 20 are exact past either form's precision. */
#ifdef FLOATS
static char digits[20];
#else
static char digits[11];
#endif
static unsigned char ndigits;
#endif

#ifdef NUMBERS
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

/* The field filled with c out to the width from the text's length. */
static void pad(char c)
{
    repeat(c, width - len);
}

#ifdef FLOATS
/* A float's decimal digits are worked out exactly from its image, with no
 * float arithmetic: the significand is placed in num[], a binary fixed-point
 * number wide enough for every finite value (2^128 down to 2^-149) without
 * losing a bit, its integer part num[fb..NUM-1] and its fraction
 * num[0..fb-1]. The integer part gives its digits by division by ten, least
 * significant first; the fraction its own by multiplication by ten. */
#define NUM 19
#define TOP (sizeof(double) - 1) /* the byte with the sign */
static unsigned char num[NUM], fb;
static union {
    double d;
    unsigned char b[4];
} fv;                   /* the value converted, as its image */
static unsigned char fexp; /* its biased exponent */
static signed char e10;    /* the power of ten of digits[0] */

/* The integer part divided by ten; the remainder returned. */
static unsigned char div10(void)
{
    unsigned char r = 0, i = NUM, b, k;
    while (i > fb) {
        b = num[--i];
        for (k = 8; k; k--) {
            r = r << 1 | b >> 7;
            b <<= 1;
            if (r >= 10) {
                r -= 10;
                b |= 1;
            }
        }
        num[i] = b;
    }
    return r;
}

/* The fraction times ten; the digit carried out of it returned. */
static unsigned char mul10(void)
{
    unsigned char i = 0, c = 0;
    unsigned int v;
    while (i < fb) {
        v = num[i] << 1; /* ten times, in shifts and adds */
        v += (v << 2) + c;
        num[i++] = (unsigned char)v;
        c = v >> 8;
    }
    return c;
}

/* Whether any of num[i..end-1] is not zero. */
static unsigned char any(unsigned char i, unsigned char end)
{
    unsigned char r = 0;
    while (i < end)
        r |= num[i++];
    return r;
}

/* The digits (0-9) of |fv| into digits[], most significant first, and
 * e10: prec significant digits (mode 0), prec + 1 (mode 1), or those down
 * to 10^-prec (mode 2), rounded to nearest, ties to even. Digits past ndigits are zeros; an
 * integer part longer than digits[] has its last digits written as zeros
 * (far past a float's precision). Zero has no digits and e10 0. */
static unsigned char fi, fd, fe, sticky;
static int keep;

static void float_digits(char mode)
{
    ndigits = 0;
    e10 = 0;
    if (!fexp) /* zero; an unnormalised value reads as zero */
        return;
    for (fi = 0; fi < NUM; fi++)
        num[fi] = 0;
    /* the value is the significand (the hidden bit set) times 2 to the
     * power fexp - 126 - 8 * TOP: fb bytes of fraction make that power at
     * least 0, and fe it */
    fv.b[TOP - 1] |= 0x80;
    fb = 0;
    while (fexp < 126 + 8 * TOP) {
        fexp += 8;
        fb++;
    }
    fe = fexp - (126 + 8 * TOP);
    for (fi = 0; fi < TOP; fi++)
        num[(fe >> 3) + fi] = fv.b[fi];
    for (fe &= 7; fe; fe--) {
        fd = 0;
        for (fi = 0; fi < NUM; fi++) {
            sticky = num[fi] >> 7;
            num[fi] = num[fi] << 1 | fd;
            fd = sticky;
        }
    }
    sticky = 0;
    e10 = -1;
    while (any(fb, NUM)) {
        fd = div10();
        e10++;
        fi = ndigits;
        if (fi < sizeof digits)
            ndigits++;
        else
            sticky |= digits[--fi];
        for (; fi; fi--)
            digits[fi] = digits[fi - 1];
        digits[0] = fd;
    }
    if (!ndigits) {
        while (!(digits[0] = mul10()))
            e10--;
        ndigits = 1;
    }
    keep = prec + mode; /* the digits kept */
    if (mode > 1)
        keep += e10 - 1;
    if (keep < 0)
        keep = 0;
    while (ndigits <= keep && ndigits < sizeof digits) {
        fd = mul10();
        digits[ndigits++] = fd;
    }
    sticky |= any(0, fb);
    if (keep < ndigits) {
        fe = keep;
        fd = digits[fe];
        for (fi = fe + 1; fi < ndigits; fi++)
            sticky |= digits[fi];
        ndigits = fe;
        if (fd > 5 || (fd == 5 && (sticky || (fe && (digits[fe - 1] & 1))))) {
            while (ndigits && digits[ndigits - 1] == 9)
                ndigits--;
            if (ndigits)
                digits[ndigits - 1]++;
            else {
                digits[0] = 1;
                ndigits = 1;
                e10++;
            }
        }
    }
}

/* fv written by %f, %e, %E, %g or %G (c). */
static void put_float(char c)
{
    /* lead: the power of ten of digits[0] written; j the place of each
     * digit written, from the highest down */
    char kind = c | 0x20, exp_form = kind == 'e', upper = c < 'a' ? 'a' - 'A' : 0;
    signed char lead = 0;
    int j = 0, i;
    if (prec < 0)
        prec = 6;
    if (fv.b[TOP] & 0x80)
        sign = '-';
    else if (flags & F_PLUS)
        sign = '+';
    else if (flags & F_SPACE)
        sign = ' ';
    fexp = (unsigned char)(fv.b[TOP] << 1 | fv.b[TOP - 1] >> 7);
    if (fexp == 255) { /* infinite, or not a number */
        prefix = (unsigned char)(fv.b[TOP - 1] << 1) | fv.b[0] | fv.b[TOP - 2] ? "nan" : "inf";
        flags &= ~F_ZERO;
        len = 3;
    } else {
        if (kind == 'g') {
            /* %e when the exponent is below -4 or not below the
             * precision, else %f; trailing zeros dropped */
            if (prec == 0)
                prec = 1;
            float_digits(0);
            exp_form = e10 < -4 || e10 >= prec;
            prec -= exp_form ? 1 : e10 + 1;
        } else
            float_digits(exp_form ? 1 : 2);
        if (!exp_form)
            lead = e10;
        if (kind == 'g' && !(flags & F_ALT)) {
            while (ndigits && !digits[ndigits - 1])
                ndigits--;
            prec = ndigits - 1 - lead;
            if (prec < 0)
                prec = 0;
        }
        if (lead > 0)
            j = lead;
        len = j + 1 + prec;
        if (prec || (flags & F_ALT))
            len++;
        if (exp_form)
            len += 4;
    }
    if (sign)
        len++;
    if (!(flags & (F_LEFT | F_ZERO)))
        pad(' ');
    if (sign)
        out(sign);
    if (flags & F_ZERO)
        pad('0');
    if (*prefix) {
        while (*prefix)
            out(*prefix++ - upper);
    } else {
        for (; j >= -prec; j--) {
            i = lead - j;
            out('0' + (i >= 0 && i < ndigits ? digits[i] : 0));
            if (!j && (prec || (flags & F_ALT)))
                out('.');
        }
        if (exp_form) {
            out('e' - upper);
            j = e10;
            out(j < 0 ? '-' : '+');
            if (j < 0)
                j = -j;
            for (i = '0'; j >= 10; j -= 10)
                i++;
            out(i);
            out('0' + j);
        }
    }
    if (flags & F_LEFT)
        pad(' ');
}
#endif

static void doprnt(const char *f, va_list ap)
{
    char c;
    written = 0;
    while ((c = *f++) != 0) {
        if (c != '%') {
            out(c);
            continue;
        }
        flags = 0;
        width = 0;
        prec = -1;
        sign = 0;
        prefix = "";
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
#if defined(LEFT) && defined(FILL)
        if (flags & F_LEFT) /* padding on the right is with spaces */
            flags &= ~F_ZERO;
#endif
        while (c >= '0' && c <= '9') {
            width = width * 10 + (c - '0');
            c = *f++;
        }
        if (c == '.') {
            prec = 0;
            c = *f++;
#ifdef STAR
            if (c == '*') {
                prec = va_arg(ap, int);
                c = *f++;
            }
#endif
            while (c >= '0' && c <= '9') {
                prec = prec * 10 + (c - '0');
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
                    pad(' ');
                if (sign)
                    out(sign);
                while (*prefix)
                    out(*prefix++);
                repeat('0', zeros);
                while (ndigits)
                    out(digits[--ndigits]);
                if (flags & F_LEFT)
                    pad(' ');
                break;
            }
#endif
#ifdef FLOATS
            case 'f': case 'e': case 'E': case 'g': case 'G':
                fv.d = va_arg(ap, double);
                put_float(c);
                break;
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
                    pad(' ');
                for (p = s; p - s < len; p++)
                    out(*p);
                if (flags & F_LEFT)
                    pad(' ');
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
