// The float helpers built by the host's C compiler from the library's own
// sources and checked against the host model of float_model.h: every
// result exact (a NaN only as "some NaN"), over tables of edges and large
// random tables, and every image or operand where the domain is small
// enough.
#include "float_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <vector>

extern "C" {
uint32_t __ftadd(uint32_t, uint32_t);
uint32_t __ftsub(uint32_t, uint32_t);
uint32_t __ftmul(uint32_t, uint32_t);
uint32_t __ftdiv(uint32_t, uint32_t);
uint32_t __ftneg(uint32_t);
unsigned char __ftge(uint32_t, uint32_t);
int32_t __fttol(uint32_t);
uint32_t __lbtoft(unsigned char);
uint32_t __abtoft(signed char);
uint32_t __lwtoft(uint16_t);
uint32_t __awtoft(int16_t);
uint32_t __lttoft(uint32_t);
uint32_t __attoft(int32_t);
uint32_t __lltoft(uint32_t);
uint32_t __altoft(int32_t);
uint32_t __fltoft(uint32_t);
uint32_t __fttofl(uint32_t);

uint32_t __fladd(uint32_t, uint32_t);
uint32_t __flsub(uint32_t, uint32_t);
uint32_t __flmul(uint32_t, uint32_t);
uint32_t __fldiv(uint32_t, uint32_t);
uint32_t __flneg(uint32_t);
unsigned char __flge(uint32_t, uint32_t);
int32_t __fltol(uint32_t);
uint32_t __lbtofl(unsigned char);
uint32_t __abtofl(signed char);
uint32_t __lwtofl(uint16_t);
uint32_t __awtofl(int16_t);
uint32_t __lttofl(uint32_t);
uint32_t __attofl(int32_t);
uint32_t __lltofl(uint32_t);
uint32_t __altofl(int32_t);
}

namespace {

using binary_helper = uint32_t (*)(uint32_t, uint32_t);

struct width_helpers {
    const char *name;
    const float_format &format;
    binary_helper add, sub, mul, div;
    uint32_t (*neg)(uint32_t);
    unsigned char (*ge)(uint32_t, uint32_t);
    int32_t (*tol)(uint32_t);
};

const width_helpers widths[] = {
    {"ft", ft_format, __ftadd, __ftsub, __ftmul, __ftdiv, __ftneg, __ftge, __fttol},
    {"fl", fl_format, __fladd, __flsub, __flmul, __fldiv, __flneg, __flge, __fltol},
};

std::string hex(uint32_t v)
{
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

// A helper's result against the model's: equal images, or NaN for NaN.
bool same(const float_format &f, uint32_t got, uint32_t want)
{
    if (image_is_nan(f, want))
        return image_is_nan(f, got);
    return got == want;
}

// Images every operation must get right: zeros, infinities, NaNs,
// denormals, the extreme normals, values around 1 and 2 with their last
// bits set, and integers at byte and word boundaries.
std::vector<uint32_t> edge_images(const float_format &f)
{
    uint32_t frac = (1u << f.fraction) - 1, one = 127u << f.fraction;
    std::vector<uint32_t> v = {0, f.inf(), f.inf() | 1, f.inf() | frac, f.inf() | 1u << (f.fraction - 1),
                               1,   // a denormal
                               frac, 1u << f.fraction, (1u << f.fraction) | 1, (254u << f.fraction) | frac,
                               254u << f.fraction, one, one | 1, one | frac, one - 1, one + (1u << f.fraction),
                               one | 1u << (f.fraction - 1), (one + (1u << f.fraction)) | 3};
    for (double d : {3.0, 0.1, 1.0 / 3, 127.0, 128.0, 255.0, 256.0, 32767.0, 32768.0, 65535.0, 8388607.0,
                     8388609.0, 16777215.0, 16777217.0, 2147483647.0, 2147483648.0, 4294967295.0, 1e30, 1e-30,
                     3.4e38, 1.2e-38, 0.5, 1.5, 2.5})
        v.push_back(model_round(f, d));
    size_t n = v.size();
    for (size_t i = 0; i < n; i++)
        v.push_back(v[i] | f.sign());
    return v;
}

// Random operands: any image; exponents close to each other (cancellation
// and rounding of sums); and exponents near the ends of the range
// (products and quotients that overflow or flush).
struct operand_source {
    const float_format &f;
    std::mt19937 rng{12345};
    uint32_t any() { return rng() & f.mask(); }
    uint32_t with_exponent(uint32_t e) { return (any() & ~(0xFFu << f.fraction)) | (e & 0xFF) << f.fraction; }
    std::pair<uint32_t, uint32_t> pair()
    {
        uint32_t a = any();
        switch (rng() % 4) {
        case 0:
            return {a, any()};
        case 1: {   // b near a: the same or a neighbouring exponent, maybe a few last bits apart
            uint32_t e = (a >> f.fraction & 0xFF) + rng() % 3 - 1;
            uint32_t b = rng() % 2 ? with_exponent(e) : (a ^ (rng() & 0xFF)) ^ (rng() % 2 ? f.sign() : 0);
            return {a, b};
        }
        case 2: {   // exponents a few dozen apart
            uint32_t ea = 100 + rng() % 56;
            return {with_exponent(ea), with_exponent(ea - 30 + rng() % 60)};
        }
        default: {   // near the top or bottom of the range
            uint32_t ea = rng() % 2 ? 1 + rng() % 20 : 235 + rng() % 20, eb = 100 + rng() % 56;
            return rng() % 2 ? std::pair{with_exponent(ea), with_exponent(eb)}
                             : std::pair{with_exponent(ea), with_exponent(ea)};
        }
        }
    }
};

struct binary_row {
    const char *op;
    binary_helper helper;
    std::function<double(double, double)> host;
};

void check_binary(const width_helpers &w, const binary_row &row, uint32_t a, uint32_t b, int &wrong)
{
    uint32_t got = row.helper(a, b);
    uint32_t want = model_round(w.format, row.host(image_value(w.format, a), image_value(w.format, b)));
    if (!same(w.format, got, want) && ++wrong <= 5)
        ADD_FAILURE() << "__" << w.name << row.op << "(" << hex(a) << ", " << hex(b) << ") gave " << hex(got)
                      << ", expected " << hex(want);
}

TEST(FloatHelpers, ArithmeticMatchesTheModel)
{
    for (const width_helpers &w : widths) {
        const binary_row rows[] = {
            {"add", w.add, [](double x, double y) { return x + y; }},
            {"sub", w.sub, [](double x, double y) { return x - y; }},
            {"mul", w.mul, [](double x, double y) { return x * y; }},
            {"div", w.div, [](double x, double y) { return x / y; }},
        };
        std::vector<uint32_t> edges = edge_images(w.format);
        for (const binary_row &row : rows) {
            int wrong = 0;
            for (uint32_t a : edges)
                for (uint32_t b : edges)
                    check_binary(w, row, a, b, wrong);
            operand_source src{w.format};
            for (int i = 0; i < 400000; i++) {
                auto [a, b] = src.pair();
                check_binary(w, row, a, b, wrong);
            }
            EXPECT_EQ(wrong, 0) << "__" << w.name << row.op;
        }
    }
}

// Ties to even at the last kept bit, made on purpose: two operands whose
// exact sum or product lies halfway between two neighbours.
TEST(FloatHelpers, HalfwayResultsRoundToEven)
{
    for (const width_helpers &w : widths) {
        const float_format &f = w.format;
        uint32_t one = 127u << f.fraction, half_ulp = (127u - f.fraction - 1) << f.fraction;
        struct {
            binary_helper helper;
            uint32_t a, b, want;
        } rows[] = {
            {w.add, one, half_ulp, one},                       // 1 + ulp/2: even 1 stays
            {w.add, one | 1, half_ulp, one | 2},               // odd last bit rounds up
            {w.sub, one | 1, half_ulp | f.sign(), one | 2},    // the same through sub
            {w.add, one | 3, half_ulp | f.sign(), one | 2},    // a difference halfway: to the even one
            {w.add, one | ((1u << f.fraction) - 1), half_ulp, one + (1u << f.fraction)},   // carry into the exponent
            // (1 + 2^-k)^2 with k = fraction/2 + 1: the square's last bit, 2^-2k, is half a unit
            {w.mul, one | 1u << (f.fraction - f.fraction / 2 - 1), one | 1u << (f.fraction - f.fraction / 2 - 1),
             one | 1u << (f.fraction - f.fraction / 2)},
        };
        for (const auto &r : rows)
            EXPECT_EQ(r.helper(r.a, r.b), r.want) << w.name << " " << hex(r.a) << ", " << hex(r.b);
    }
}

TEST(FloatHelpers, ComparisonMatchesTheModel)
{
    for (const width_helpers &w : widths) {
        int wrong = 0;
        auto check = [&](uint32_t a, uint32_t b) {
            unsigned got = w.ge(a, b);
            unsigned want = image_value(w.format, a) >= image_value(w.format, b);   // false for NaN
            if (got != want && ++wrong <= 5)
                ADD_FAILURE() << "__" << w.name << "ge(" << hex(a) << ", " << hex(b) << ") gave " << got;
        };
        std::vector<uint32_t> edges = edge_images(w.format);
        for (uint32_t a : edges)
            for (uint32_t b : edges)
                check(a, b);
        operand_source src{w.format};
        for (int i = 0; i < 400000; i++) {
            auto [a, b] = src.pair();
            check(a, b);
            check(a, a);
        }
        EXPECT_EQ(wrong, 0) << w.name;
    }
}

// Negation flips the sign of every image, NaNs and zeros included.
TEST(FloatHelpers, NegationFlipsTheSign)
{
    for (uint32_t a = 0; a < 1u << 24; a++)
        if (__ftneg(a) != (a ^ 0x800000u)) {
            ADD_FAILURE() << hex(a);
            break;
        }
    for (uint32_t a : edge_images(fl_format))
        EXPECT_EQ(__flneg(a), a ^ 0x80000000u);
}

// The value truncated toward zero, modulo 2^32 below 2^32 in magnitude;
// beyond (and for NaN) any result, but one comes back.
void check_to_long(const width_helpers &w, uint32_t a, int &wrong)
{
    int32_t got = w.tol(a);
    double v = std::trunc(image_value(w.format, a));
    if (std::isnan(v) || std::fabs(v) >= 4294967296.0)
        return;
    auto want = (int32_t)(uint32_t)(int64_t)v;
    if (got != want && ++wrong <= 5)
        ADD_FAILURE() << "__" << w.name << "tol(" << hex(a) << ") gave " << got << ", expected " << want;
}

TEST(FloatHelpers, ConversionToLongTruncates)
{
    int wrong = 0;
    for (uint32_t a = 0; a < 1u << 24; a++)
        check_to_long(widths[0], a, wrong);
    for (uint32_t a : edge_images(fl_format))
        check_to_long(widths[1], a, wrong);
    // every exponent, with random fractions
    std::mt19937 rng(7);
    for (int i = 0; i < 2000000; i++)
        check_to_long(widths[1], rng(), wrong);
    EXPECT_EQ(wrong, 0);
    // the integer boundaries, exactly
    EXPECT_EQ(__fltol(model_round(fl_format, 2147483520.0)), 2147483520);
    EXPECT_EQ(__fltol(model_round(fl_format, -2147483648.0)), INT32_MIN);
    EXPECT_EQ((uint32_t)__fltol(model_round(fl_format, 4294967040.0)), 4294967040u);
    EXPECT_EQ(__fttol(model_round(ft_format, -32768.0)), -32768);
    EXPECT_EQ(__fttol(model_round(ft_format, -0.99)), 0);
}

// From every integer of 8, 16 and 24 bits, and random and boundary ones of
// 32: the value rounded to nearest even.
TEST(FloatHelpers, ConversionFromIntegersRounds)
{
    struct from_row {
        const char *name;
        const float_format &f;
        uint32_t (*helper)(int64_t);
        int64_t low, high;   // every value between, or random ones for 32 bits
    };
    const from_row rows[] = {
        {"lbtoft", ft_format, [](int64_t x) { return __lbtoft((unsigned char)x); }, 0, 255},
        {"abtoft", ft_format, [](int64_t x) { return __abtoft((signed char)x); }, -128, 127},
        {"lwtoft", ft_format, [](int64_t x) { return __lwtoft((uint16_t)x); }, 0, 65535},
        {"awtoft", ft_format, [](int64_t x) { return __awtoft((int16_t)x); }, -32768, 32767},
        {"lttoft", ft_format, [](int64_t x) { return __lttoft((uint32_t)x); }, 0, (1 << 24) - 1},
        {"attoft", ft_format, [](int64_t x) { return __attoft((int32_t)x); }, -(1 << 23), (1 << 23) - 1},
        {"lltoft", ft_format, [](int64_t x) { return __lltoft((uint32_t)x); }, 0, 4294967295},
        {"altoft", ft_format, [](int64_t x) { return __altoft((int32_t)x); }, INT32_MIN, INT32_MAX},
        {"lbtofl", fl_format, [](int64_t x) { return __lbtofl((unsigned char)x); }, 0, 255},
        {"abtofl", fl_format, [](int64_t x) { return __abtofl((signed char)x); }, -128, 127},
        {"lwtofl", fl_format, [](int64_t x) { return __lwtofl((uint16_t)x); }, 0, 65535},
        {"awtofl", fl_format, [](int64_t x) { return __awtofl((int16_t)x); }, -32768, 32767},
        {"lttofl", fl_format, [](int64_t x) { return __lttofl((uint32_t)x); }, 0, (1 << 24) - 1},
        {"attofl", fl_format, [](int64_t x) { return __attofl((int32_t)x); }, -(1 << 23), (1 << 23) - 1},
        {"lltofl", fl_format, [](int64_t x) { return __lltofl((uint32_t)x); }, 0, 4294967295},
        {"altofl", fl_format, [](int64_t x) { return __altofl((int32_t)x); }, INT32_MIN, INT32_MAX},
    };
    std::mt19937 rng(99);
    for (const from_row &r : rows) {
        int wrong = 0;
        auto check = [&](int64_t x) {
            uint32_t got = r.helper(x), want = model_round(r.f, (double)x);
            if (got != want && ++wrong <= 5)
                ADD_FAILURE() << "__" << r.name << "(" << x << ") gave " << hex(got) << ", expected " << hex(want);
        };
        if (r.high - r.low < 1 << 24) {
            for (int64_t x = r.low; x <= r.high; x++)
                check(x);
        } else {
            for (int64_t x : {0ll, 1ll, 255ll, 256ll, 65535ll, 65536ll, 8388607ll, 8388608ll, 16777215ll, 16777216ll,
                              16777217ll, 16777219ll, 33554434ll, 2147483647ll, 4294967295ll, 4294967168ll,
                              4294967167ll, -1ll, -2147483647ll - 1, -16777217ll, -33554435ll})
                if (x >= r.low && x <= r.high)
                    check(x);
            for (int i = 0; i < 1000000; i++) {
                // any width: a random value shifted down a random amount
                int64_t x = (int64_t)(rng() >> (rng() % 32));
                check(r.low < 0 ? (int64_t)(int32_t)(uint32_t)x * (rng() % 2 ? 1 : -1) : x);
            }
        }
        EXPECT_EQ(wrong, 0) << r.name;
    }
}

// Between the widths: to 32 bits exact for every image (a denormal as
// zero); to 24 bits rounded to nearest even, overflowing to infinity.
TEST(FloatHelpers, ConversionBetweenWidths)
{
    int wrong = 0;
    for (uint32_t a = 0; a < 1u << 24; a++) {
        uint32_t got = __fttofl(a), want = model_round(fl_format, image_value(ft_format, a));
        if (!same(fl_format, got, want) && ++wrong <= 5)
            ADD_FAILURE() << "__fttofl(" << hex(a) << ") gave " << hex(got) << ", expected " << hex(want);
    }
    std::vector<uint32_t> images = edge_images(fl_format);
    for (uint32_t low : {0x7Fu, 0x80u, 0x81u, 0xFFu, 0x180u})   // below, at and above halfway, odd and even
        for (uint32_t e : {1u, 127u, 254u})
            for (uint32_t odd : {0u, 0x100u, 0x7FFF00u})
                images.push_back(e << 23 | odd | low);
    std::mt19937 rng(3);
    for (int i = 0; i < 2000000; i++)
        images.push_back(rng());
    for (uint32_t a : images) {
        uint32_t got = __fltoft(a), want = model_round(ft_format, image_value(fl_format, a));
        if (!same(ft_format, got, want) && ++wrong <= 10)
            ADD_FAILURE() << "__fltoft(" << hex(a) << ") gave " << hex(got) << ", expected " << hex(want);
    }
    EXPECT_EQ(wrong, 0);
}

}   // namespace
