// x^y = 2^w with w = y log2|x|, in 32-bit fixed point so that the error of
// the logarithm is not multiplied by w in a float: log2|x| = e + log2(m)
// with m in [sqrt(1/2), sqrt(2)), log2(m) = s K(s^2) for s = (m - 1) / (m + 1)
// and K the series of 2 atanh(s) / (s ln 2) (s^2 <= 0.0295, to s^14);
// w = y e (exact) + y log2(m) summed with 32 places below the point, then
// 2^w = 2^n 2^g for the integer n <= w and g in [0, 1) by the series of
// e^(g ln 2) (to g^11), rounded once and scaled by ldexp (which makes the
// result infinite or zero beyond the range).
//
// The special values are those of C99: x^0 and 1^y are 1 (NaN too), a
// negative x wants an integer y (NaN otherwise, the sign of an odd one),
// zero and infinite x and y give zero or infinity by the signs, (-1)^+-inf
// is 1.
#include "mathimg.h"

// 2 / (ln 2 (2j + 1)) in 2.30 fixed point, j = 7 down to 0
static const unsigned long log2_series[] = {0x0C4F9D8Bul, 0x0E347AB4ul, 0x10C9A84Aul, 0x1484B13Dul,
                                            0x1A61762Aul, 0x24EED8A2ul, 0x3D8E13B8ul, 0xB8AA3B29ul};
// (ln 2)^k / k! in 1.31 fixed point, k = 11 down to 0
static const unsigned long exp2_series[] = {0x00000001ul, 0x0000000Ful, 0x000000DBul, 0x00000B16ul,
                                            0x00007FF3ul, 0x00050C24ul, 0x002BB100ul, 0x013B2AB7ul,
                                            0x071AC236ul, 0x1EBFBE00ul, 0x58B90BFCul, 0x80000000ul};
#define INF ((unsigned long)0xFF * M_HIDDEN)

// the working registers are the module's, not the frame's
static unsigned long pa, pb, lm, ym, wh, wl, ph;
static int lx, e, n;
static __mimage mx, my;
static unsigned char ex, ey, sx, sy, sl, sw, sg, cls, inf, k;

// w += p 2^z (or -= when neg), w with 32 bits below the point in wh, wl
static void pow_add(unsigned long p, int z, unsigned char neg)
{
#define h ph
    h = 0;
    z += 32;
    if (z < -64)
        return;
    while (z > 0) {
        h <<= 1;
        if (p >= 0x80000000ul)
            h |= 1;
        p <<= 1;
        z--;
    }
    while (z < 0) {
        p >>= 1;
        if (h & 1)
            p |= 0x80000000ul;
        h >>= 1;
        z++;
    }
    if (neg) {
        h = ~h;
        p = ~p;
        p++;
        if (!p)
            h++;
    }
    wl += p;
    if (wl < p)
        h++;
    wh += h;
#undef h
}

double pow(double x, double y)
{
    mx.l = 0;
    my.l = 0;
    mx.d = x;
    my.d = y;
    ex = __mexp(&mx);
    ey = __mexp(&my);
    if (!ey || x == 1.0)
        return 1.0;
    sx = 0;
    if (mx.b[M_TOP] >= 0x80)
        sx = 1;
    sy = 0;
    if (my.b[M_TOP] >= 0x80)
        sy = 1;
    mx.b[M_TOP] &= 0x7F;
    my.b[M_TOP] &= 0x7F;
    if (mx.l > INF || my.l > INF)
        return __mnan();
    // y: 0 not an integer, 1 odd, 2 even (infinity too)
    cls = 2;
    if (ey < 127)
        cls = 0;
    else if (ey <= 127 + M_FRAC) {
        ym = __mxmant(y);
        ym <<= ey - 127;   // the units' bit on top
        if (ym & 0x7FFFFFFFul)
            cls = 0;
        else if (ym)
            cls = 1;
    }
    sg = 0;
    if (sx && cls == 1)
        sg = 1;
    inf = 0;
    if (!ex) {   // zero
        inf = sy;
        goto edge;
    }
    if (ex == 255) {   // infinity
        inf = sy ^ 1;
        goto edge;
    }
    if (ey == 255) {   // y infinite, |x| not 1 but for x = -1
        if (mx.l == 127 * M_HIDDEN)
            return 1.0;
        sg = 0;
        inf = sy;
        if (ex >= 127)
            inf ^= 1;
        goto edge;
    }
    if (sx && !cls)
        return __mnan();
    // log2 m = s K(s^2), s = f / (2 + f) with f = m - 1
    e = (int)ex - 127;
    pa = __mxmant(x);   // m = pa 2^-31
    if (pa > 0xB504F333ul) {   // m > sqrt 2: m / 2, f < 0
        e++;
        sl = 1;
        pb = 0x40000000ul + (pa >> 2);   // 2 + f in 2.30
        pa = 0 - pa;                     // -f in 0.32
        lx = -32;
    } else {
        sl = 0;
        pb = 0x40000000ul + (pa >> 1);
        pa -= 0x80000000ul;   // f in 1.31
        lx = -31;
    }
    lm = 0;
    if (pa) {
        while (pa < 0x80000000ul) {
            pa <<= 1;
            lx--;
        }
        n = -30;
        if (pb < 0x80000000ul) {
            pb <<= 1;
            n--;
        }
        if (pa >= pb) {
            pa >>= 1;
            lx++;
        }
        __mma = pa;
        __mmb = pb;
        __mdivhi();
        pa = __mma;   // s = pa 2^lx
        lx -= n + 32;
        __mmb = pa;
        __mmulhi();
        n = -(2 * lx + 64);
        if (n >= 32)
            __mma = 0;
        else
            __mma >>= n;
        __mmb = __mma;
        __mfpoly(log2_series, 8, 0);
        __mmb = pa;
        __mmulhi();
        lm = __mma;   // log2 m = lm 2^lx, lm >= 2^30
        lx += 2;
    }
    // |w| >= 2^10 gives infinity or zero: |y| in [2^n, 2^(n + 1)),
    // |log2 x| in [2^(k - 2), 2^(k + 1)) for an |e| of k bits
    n = (int)ey - 127;
    sw = sl;   // the sign of log2 |x|
    if (e) {
        sw = 0;
        pa = (unsigned long)e;
        if (e < 0) {
            sw = 1;
            pa = (unsigned long)-e;
        }
        n -= 2;
        while (pa) {
            pa >>= 1;
            n++;
        }
    } else
        n += lx + 30;
    if ((e || lm) && n >= 10) {
        inf = 1;
        if (sy != sw)
            inf = 0;
        goto edge;
    }
    wh = 0;
    wl = 0;
    ym = __mxmant(y);   // |y| = ym 2^(ey - 158)
    if (e) {
        k = sy;
        if (e < 0) {
            k ^= 1;
            e = -e;
        }
        pa = ym >> 8;
        pa *= (unsigned long)e;
        pow_add(pa, (int)ey - 150, k);
    }
    if (lm) {
        __mma = ym;
        __mmb = lm;
        __mmulhi();
        pow_add(__mma, (int)ey - 126 + lx, sy ^ sl);
    }
    n = (int)wh;   // the integer at or below w; wl / 2^32 the rest
    __mmb = wl;
    __mfpoly(exp2_series, 12, 0);
    if (__mma < 0x80000000ul)   // g within 2^-32 of 1: 2^g rounded up to 2
        __mma = 0xFFFFFFFFul;
    x = ldexp((double)__mma, n - 31);
    if (sg)
        x = -x;
    return x;
edge:
    mx.l = 0;
    if (inf) {
        mx.b[M_TOP] = 0x7F;
        mx.b[M_TOP - 1] = 0x80;
    }
    if (sg)
        mx.b[M_TOP] |= 0x80;
    return mx.d;
}
