// The angle of (x, y): t = the smaller of |y|, |x| over the larger, so
// t <= 1, and atan(t) taken from there: atan(t) = atan(c) + atan(t'), with
// c the nearest quarter and t' = (t - c) / (1 + t c) at most 1/8 (t itself
// below 1/8), whose series to t'^9 leaves less than 2^-33. Then
// pi/2 - it when |y| > |x| and pi - that when x < 0, with y's sign. In
// 32-bit fixed point, rounded once; atan(t) alone keeps the relative
// precision of a small t.
#include "mathimg.h"

// 1/9, 1/7, 1/5, 1/3, 1 in 1.31 fixed point
static const unsigned long atan_series[] = {0x0E38E38Eul, 0x12492492ul, 0x1999999Aul, 0x2AAAAAABul,
                                            0x80000000ul};
// atan(k / 4) for k = 0 to 4, pi/2 and pi in 2.30 fixed point
static const unsigned long atan_base[] = {0, 0x0FADBAFDul, 0x1DAC6705ul, 0x292F1F46ul, 0x3243F6A9ul,
                                          0x6487ED51ul, 0xC90FDAA2ul};
#define HALF_PI 5
#define PI 6

// the working registers are the module's, not the frame's
static unsigned long t, u, d, r;
static int tx, ux;
static __mimage a, b;
static unsigned char ea, eb, sy, sx, swap, k, sn;

double atan2(double y, double x)
{
    a.l = 0;
    b.l = 0;
    a.d = y;
    b.d = x;
    ea = __mexp(&a);
    eb = __mexp(&b);
    sy = a.b[M_TOP] & 0x80;
    sx = b.b[M_TOP] & 0x80;
    a.b[M_TOP] &= 0x7F;
    b.b[M_TOP] &= 0x7F;
    if (a.l > ((unsigned long)0xFF * M_HIDDEN) || b.l > ((unsigned long)0xFF * M_HIDDEN))
        return __mnan();
    swap = 0;
    t = 0;   // t = 0: y zero or x infinite, or (swapped) x zero or y infinite
    tx = -100;
    if (ea == 255 && eb == 255) {   // pi/4 or 3 pi/4
        t = 0x80000000ul;
        tx = -31;
    } else if (!ea || eb == 255) {
    } else if (!eb || ea == 255) {
        swap = 1;
    } else {
        t = __mxmant(y);
        u = __mxmant(x);
        if (a.l > b.l) {   // |y| > |x|: t = |x| / |y|
            swap = 1;
            r = t;
            t = u;
            u = r;
            k = ea;
            ea = eb;
            eb = k;
        }
        tx = (int)ea - (int)eb - 32;
        if (t >= u) {
            t >>= 1;
            tx++;
        }
        __mma = t;
        __mmb = u;
        __mdivhi();
        t = __mma;   // t 2^tx
    }
    k = 0;
    sn = 0;
    if (t && tx > -35) {
        // t >= 1/8: c = k / 4 nearest, t' = (t - c) / (1 + t c)
        t >>= -31 - tx;   // 1.31
        k = (unsigned char)((t + 0x10000000ul) >> 29);
        r = (unsigned long)k << 29;
        __mma = t;
        __mmb = r;
        __mmulhi();
        d = __mma + 0x40000000ul;   // 1 + t c in 2.30
        ux = -30;
        if (t < r) {
            sn = 1;
            t = r - t;
        } else
            t -= r;
        tx = -31;
        if (t) {
            while (d < 0x80000000ul) {
                d <<= 1;
                ux--;
            }
            while (t < 0x80000000ul) {
                t <<= 1;
                tx--;
            }
            if (t >= d) {
                t >>= 1;
                tx++;
            }
            __mma = t;
            __mmb = d;
            __mdivhi();
            t = __mma;
            tx -= ux + 32;
        }
    }
    // atan(t 2^tx) = t P(t^2) for t <= 1/8
    if (t) {
        __mma = t;
        __mmb = t;
        __mmulhi();
        ux = -(2 * tx + 64);
        if (ux >= 32)
            __mma = 0;
        else
            __mma >>= ux;
        __mmb = __mma;
        __mfpoly(atan_series, 5, 1);
        __mmb = t;
        __mmulhi();
        t = __mma;
        tx++;
    }
    if (!k && !swap && !sx) {   // atan(t) itself: keep its small values
        y = ldexp((double)t, tx);
    } else {
        ux = -(tx + 30);   // to 2.30
        if (ux >= 32)
            t = 0;
        else
            t >>= ux;
        r = atan_base[k];
        if (sn)
            r -= t;
        else
            r += t;
        if (swap)
            r = atan_base[HALF_PI] - r;
        if (sx)
            r = atan_base[PI] - r;
        y = ldexp((double)r, -30);
    }
    if (sy)
        y = -y;
    return y;
}
