// The host's model of both float formats, for the float helpers' tests: an
// image decoded to a double (a denormal reads as zero), and a double
// rounded to the format: to nearest, ties to even, at the format's
// precision with an unbounded exponent, then a result below the smallest
// normal flushed to zero of its sign and one beyond the largest made
// infinite. A sum, product or quotient of two operands of either format
// computed in double and rounded so is the correctly rounded result: a
// double carries more than twice the digits plus two of both formats, so
// its own rounding never changes the second one.
#pragma once

#include <cmath>
#include <cstdint>

struct float_format {
    int width;      // of the image: 24 or 32
    int fraction;   // bits below the hidden 1: 15 or 23
    uint32_t sign() const { return 1u << (width - 1); }
    uint32_t mask() const { return width == 32 ? 0xFFFFFFFFu : (1u << width) - 1; }
    uint32_t inf() const { return 0xFFu << fraction; }
};

inline const float_format ft_format{24, 15};
inline const float_format fl_format{32, 23};

inline bool image_is_nan(const float_format &f, uint32_t a)
{
    return (a & (f.sign() - 1)) > f.inf();
}

inline double image_value(const float_format &f, uint32_t a)
{
    int e = (int)(a >> f.fraction) & 0xFF;
    double s = (a & f.sign()) ? -1.0 : 1.0;
    if (e == 0)
        return s * 0.0;
    if (e == 255)
        return (a & ((1u << f.fraction) - 1)) ? NAN : s * INFINITY;
    return s * std::ldexp((double)((a & ((1u << f.fraction) - 1)) | (1u << f.fraction)), e - 127 - f.fraction);
}

inline uint32_t model_round(const float_format &f, double v)
{
    if (std::isnan(v))
        return f.inf() | 1u << (f.fraction - 1);
    uint32_t sign = std::signbit(v) ? f.sign() : 0;
    v = std::fabs(v);
    if (v == 0)
        return sign;
    if (std::isinf(v))
        return sign | f.inf();
    int e;
    double m = std::frexp(v, &e);                                  // v = m * 2^e, m in [1/2, 1)
    double r = std::nearbyint(std::ldexp(m, f.fraction + 1));     // ties to even (the default mode)
    if (r == std::ldexp(1.0, f.fraction + 1)) {                    // rounded up to the next power
        r /= 2;
        e++;
    }
    int biased = e - 1 + 127;
    if (biased <= 0)
        return sign;
    if (biased >= 255)
        return sign | f.inf();
    return sign | (uint32_t)biased << f.fraction | ((uint32_t)r & ((1u << f.fraction) - 1));
}
