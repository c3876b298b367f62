// sin, cos and tan: x = (pi / 2) (q + f) with the quadrant q and |f| <= 1/2,
// then sin(pi f / 2) = f S(f^2) and cos(pi f / 2) = C(f^2) by their series
// in 32-bit fixed point, tan their quotient; one rounding, when the result
// becomes a double.
//
// The reduction is exact enough for every x: x times the bits of 2 / pi
// that matter to x mod 4 (from the byte where the bits above would only
// add multiples of 4), kept to 144 bits below the point; no float of
// either form comes closer to a multiple of pi/2 than |f| = 2^-29.9 (at
// 16367173 * 2^72), so f has over 40 correct places after its leading
// zeros. Below 1/2, f is x times 2 / pi to 32 bits.
#include "mathimg.h"

// 2 / pi in bytes from its first fractional bit: the reduction of the
// largest double starts at byte 11 and reads 14.
static const unsigned char two_over_pi[25] = {
    0xA2, 0xF9, 0x83, 0x6E, 0x4E, 0x44, 0x15, 0x29, 0xFC, 0x27, 0x57, 0xD1, 0xF5,
    0x34, 0xDD, 0xC0, 0xDB, 0x62, 0x95, 0x99, 0x3C, 0x43, 0x90, 0x41, 0xFE};
// (pi/2)^(2k+1) / (2k+1)! and (pi/2)^2k / (2k)! in 1.31 fixed point,
// highest first (the next terms are below 2^-33 for f^2 <= 1/4).
static const unsigned long sin_series[] = {0x00001E30ul, 0x000541E1ul, 0x00996966ul, 0x0A335E34ul,
                                           0x52AEF399ul, 0xC90FDAA2ul};
static const unsigned long cos_series[] = {0x000003F4ul, 0x0000D369ul, 0x001E1F50ul, 0x02ABA790ul,
                                           0x20783E10ul, 0x9DE9E64Eul, 0x80000000ul};

// The product of the reduction: byte 0 the integer part (mod 256), then
// the fraction.
#define ACC 19
#define WINDOW 14
static unsigned char acc[ACC];
// f = fm 2^fx (fm with its top bit set), its sine and cosine; the working
// registers are the module's, not the frame's.
static unsigned long fm, sn, cs, num, den;
static int fx, sx, nx, ep;
static __mimage m;
static unsigned int t;
static unsigned char e, q, sg, i, n, k, c, b, s;

double __mtrig(double x, unsigned char fn)
{
    m.d = x;
    e = __mexp(&m);
    if (e == 255)   // infinity or NaN
        return __mnan();
    if (e < 127 - 12) {   // |x| < 2^-12: sin x and tan x are x, cos x 1
        if (fn == 1)
            return 1.0;
        return x;
    }
    sg = 0;   // the sign of f
    q = 0;
    fm = __mxmant(x);   // |x| = fm 2^(e - 158)
    ep = (int)e - 158;
    if (e < 126) {
        __mma = fm;
        __mmb = 0xA2F9836Eul;
        __mmulhi();
        fm = __mma;
        fx = ep;
        if (fm < 0x80000000ul) {
            fm <<= 1;
            fx--;
        }
    } else {
        // the window of 2 / pi from byte s, so that the bits before it
        // give x times them a multiple of 4
        s = 0;
        if (ep >= 10)
            s = (unsigned char)((ep - 2) >> 3);
        // after the product the point is 40 - 8 s + ep bits from the top:
        // k more shifts bring it under byte 0
        k = (unsigned char)(32 + ep - 8 * s);
        i = 0;
        do
            acc[i] = 0;
        while (++i < ACC);
        n = 32 + k;
        do {
            c = 0;
            i = ACC;
            do {
                i--;
                b = acc[i];
                acc[i] = b << 1;
                acc[i] |= c;
                c = b >> 7;
            } while (i);
            if (n > k) {
                if (fm >= 0x80000000ul) {
                    c = 0;
                    i = ACC;
                    b = s + WINDOW;
                    do {
                        i--;
                        t = acc[i];
                        t += c;
                        if (i >= ACC - WINDOW) {
                            b--;
                            t += two_over_pi[b];
                        }
                        acc[i] = (unsigned char)t;
                        c = (unsigned char)(t >> 8);
                    } while (i);
                }
                fm <<= 1;
            }
        } while (--n);
        q = acc[0];
        if (acc[1] >= 0x80) {   // f >= 1/2: the next quadrant, f - 1
            q++;
            sg = 1;
            c = 1;
            i = ACC;
            do {
                i--;
                t = (unsigned char)~acc[i];
                t += c;
                acc[i] = (unsigned char)t;
                c = (unsigned char)(t >> 8);
            } while (i > 1);
        }
        i = 1;
        while (i < ACC - 5 && !acc[i])
            i++;
        fm = acc[i];
        fm <<= 8;
        fm |= acc[i + 1];
        fm <<= 8;
        fm |= acc[i + 2];
        fm <<= 8;
        fm |= acc[i + 3];
        b = acc[i + 4];
        fx = -24 - 8 * (int)i;
        if (!fm) {   // never for a double; f as good as 0
            fm = 0x80000000ul;
            fx = -250;
        }
        while (fm < 0x80000000ul) {
            fm <<= 1;
            if (b >= 0x80)
                fm |= 1;
            b <<= 1;
            fx--;
        }
    }
    q &= 3;
    // u = f^2 with 32 fraction bits
    __mma = fm;
    __mmb = fm;
    __mmulhi();
    nx = -(2 * fx + 64);
    if (nx >= 32)
        __mma = 0;
    else
        __mma >>= nx;
    __mmb = __mma;
    __mfpoly(cos_series, 7, 1);
    cs = __mma;   // cos(pi f / 2) = cs 2^-31
    __mfpoly(sin_series, 6, 1);
    __mmb = fm;
    __mmulhi();
    sn = __mma;   // sin(pi f / 2) = sn 2^sx
    sx = fx + 1;
    if (fn == 2) {
        // tan = sin / cos for q even, -cos / sin for q odd
        num = sn;
        den = cs;
        nx = sx;
        fx = -31;
        if (q & 1) {
            num = cs;
            den = sn;
            nx = -31;
            fx = sx;
            sg ^= 1;
        }
        while (num < 0x80000000ul) {
            num <<= 1;
            nx--;
        }
        while (den < 0x80000000ul) {
            den <<= 1;
            fx--;
        }
        if (num >= den) {
            num >>= 1;
            nx++;
        }
        __mma = num;
        __mmb = den;
        __mdivhi();
        num = __mma;
        nx -= fx + 32;
    } else {
        if (fn == 1)
            q++;
        if (q & 1) {
            num = cs;
            nx = -31;
            sg = 0;
        } else {
            num = sn;
            nx = sx;
        }
        if (q & 2)
            sg ^= 1;
        if (fn == 1)
            goto done;
    }
    if (m.b[M_TOP] >= 0x80)   // odd functions
        sg ^= 1;
done:
    x = ldexp((double)num, nx);
    if (sg)
        x = -x;
    return x;
}
