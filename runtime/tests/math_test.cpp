// The functions of math.h compiled by the installed chain for the 16F877A
// and run in gpsim, in both forms of double (24 bits by default, 32 with
// --double=32): each on a table of inputs, its result compared with the
// host's libm rounded to the form by the float model, allowing the
// function's error in units of the last place.
#include "csim.h"
#include "float_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

void tool_exit(int) {}

namespace {

struct form {
    const float_format &f;
    const char *image_type;
    const char *options;
};
const form forms[] = {{ft_format, "unsigned short long", ""}, {fl_format, "unsigned long", "--double=32 --float=32"}};

// One call: the double operands a and b and the int n.
struct args {
    double a, b = 0;
    int n = 0;
};

std::string hex(uint32_t v)
{
    char b[16];
    snprintf(b, sizeof b, "0x%lX", (unsigned long)v);
    return b;
}

// The distance in places between two images of numbers (-0 and +0 are one
// number).
long ulps(const float_format &f, uint32_t a, uint32_t b)
{
    auto ordered = [&](uint32_t x) {
        long m = (long)(x & (f.sign() - 1));
        return x & f.sign() ? -m : m;
    };
    return std::labs(ordered(a) - ordered(b));
}

// A function under test: the C call made of load(ai[i]), load(bi[i]) and
// ni[i] (an int pointer result may be stored through &ei[i]); the host's
// value of it (and of *e); the places of error allowed.
struct function_case {
    std::string call;
    std::function<double(const args &, int *e)> host;
    long tolerance;
    bool exponent_out = false;
};

// Runs the calls of `f` on `cases`, in programs of 12 (the results of
// more at 32 bits crowd the banks), in both forms. Gives the largest error
// seen in each form, in places.
std::vector<long> check_function(const function_case &f, const std::vector<args> &cases)
{
    const size_t per_program = 12;
    std::vector<long> worst;
    for (const form &fm : forms) {
        worst.push_back(0);
        const float_format &ff = fm.f;
        for (size_t first = 0; first < cases.size(); first += per_program) {
            std::vector<args> part;
            for (size_t k = first; k < cases.size() && k < first + per_program; k++) {
                args a = cases[k];   // the operands as the form holds them
                a.a = image_value(ff, model_round(ff, a.a));
                a.b = image_value(ff, model_round(ff, a.b));
                part.push_back(a);
            }
            std::string n = std::to_string(std::max<size_t>(part.size(), 2));
            std::string ai, bi, ni;
            for (const args &a : part) {
                ai += hex(model_round(ff, a.a)) + ", ";
                bi += hex(model_round(ff, a.b)) + ", ";
                ni += std::to_string(a.n) + ", ";
            }
            std::string text = std::string("#include <math.h>\ntypedef ") + fm.image_type + " img;\n" +
                               "typedef union { double d; img u; } du;\n"
                               "double load(img u) { du x; x.u = u; return x.d; }\n"
                               "img bits(double d) { du x; x.d = d; return x.u; }\n"
                               "#define N " + n + "\n" +
                               "const img ai[N] = {" + ai + "};\nconst img bi[N] = {" + bi + "};\n" +
                               "const int ni[N] = {" + ni + "};\n" +
                               "img r[N];\nint ei[N];\n"
                               "void main(void)\n{\n    unsigned char i;\n"
                               "    for (i = 0; i < " + std::to_string(part.size()) + "; i++)\n"
                               "        r[i] = bits(" + f.call + ");\n    FINISH();\n}\n";
            c_program p;
            p.options = fm.options;
            p.files.push_back({"main.c", text});
            p.cycles = 40000000;
            c_run r = c_compile_and_run(p);
            EXPECT_EQ(r.status, 0) << r.output << "\n" << text;
            EXPECT_TRUE(r.finished) << r.log << "\n" << text;
            if (r.status != 0 || !r.finished)
                return worst;
            for (size_t i = 0; i < part.size(); i++) {
                const args &a = part[i];
                int e = 0;
                double want = f.host(a, &e);
                uint32_t got = 0;
                for (int k = ff.width / 8 - 1; k >= 0; k--)
                    got = got << 8 | (unsigned)r.byte("r", (unsigned)(i * ff.width / 8 + k));
                std::string what = std::to_string(ff.width) + "-bit " + f.call + " of a=" + std::to_string(a.a) +
                                   " b=" + std::to_string(a.b) + " n=" + std::to_string(a.n) + ": got " +
                                   hex(got) + " (" + std::to_string(image_value(ff, got)) + "), want " +
                                   std::to_string(want);
                uint32_t expected = model_round(ff, want);
                if (std::isnan(want)) {
                    EXPECT_TRUE(image_is_nan(ff, got)) << what;
                    continue;
                }
                if (std::isinf(want) || want == 0 || f.tolerance == 0)
                    EXPECT_EQ(hex(got), hex(expected)) << what;
                else {
                    worst.back() = std::max(worst.back(), ulps(ff, got, expected));
                    EXPECT_LE(ulps(ff, got, expected), f.tolerance) << what << " (" << hex(expected) << ")";
                }
                if (f.exponent_out)
                    EXPECT_EQ((int16_t)(r.byte("ei", 2 * (unsigned)i) | r.byte("ei", 2 * (unsigned)i + 1) << 8), e) << what;
            }
        }
    }
    return worst;
}

// Values of every sign and magnitude: the given ones, then `count` random
// ones whose magnitudes spread over [2^lo, 2^hi).
std::vector<args> spread(std::vector<args> fixed, int count, int lo, int hi, bool negatives = true)
{
    std::mt19937 gen(20240611);
    std::uniform_real_distribution<double> mant(1, 2);
    std::uniform_int_distribution<int> expo(lo, hi - 1);
    for (int k = 0; k < count; k++) {
        double v = std::ldexp(mant(gen), expo(gen));
        fixed.push_back({negatives && k % 2 ? -v : v});
    }
    return fixed;
}

double host_a(double (*fn)(double), const args &a)
{
    return fn(a.a);
}

// The functions whose results are exact numbers of the form.
TEST(MathRun, FabsFloorCeilAreExact)
{
    NEEDS_SIMULATOR();
    std::vector<args> cases = spread({{0.0}, {-0.0}, {0.5}, {-0.5}, {1.5}, {-1.5}, {-1.0}, {2.75}, {-2.75},
                                      {32767.5}, {-4194303.5}, {8388608}, {1e30}, {-1e-30}, {INFINITY},
                                      {-INFINITY}, {NAN}},
                                     15, -3, 24);
    check_function({"fabs(load(ai[i]))", [](const args &a, int *) { return std::fabs(a.a); }, 0}, cases);
    check_function({"floor(load(ai[i]))", [](const args &a, int *) { return std::floor(a.a); }, 0}, cases);
    check_function({"ceil(load(ai[i]))", [](const args &a, int *) { return std::ceil(a.a); }, 0}, cases);
}

TEST(MathRun, FrexpAndLdexpMoveTheExponent)
{
    NEEDS_SIMULATOR();
    std::vector<args> cases = spread({{0.0}, {-0.0}, {1.0}, {-0.75}, {3e38}, {1.2e-38}, {INFINITY}, {NAN}}, 10,
                                     -120, 120);
    check_function({"frexp(load(ai[i]), &ei[i])",
                    [](const args &a, int *e) {
                        *e = 0;
                        return std::isfinite(a.a) ? std::frexp(a.a, e) : a.a;
                    },
                    0, true},
                   cases);
    // scaling into overflow, below the smallest normal (flushed) and the
    // exponent's extremes
    std::vector<args> scaled = {{1.5, 0, 3},      {-1.5, 0, -3},     {1.0, 0, 127},   {1.0, 0, 128},
                                {-3.0, 0, 200},   {1.0, 0, -126},    {1.0, 0, -127},  {-1.75, 0, -130},
                                {1e-30, 0, 100},  {3e38, 0, -250},   {2.0, 0, 32767}, {2.0, 0, -32768},
                                {0.0, 0, 5},      {-0.0, 0, -5},     {INFINITY, 0, -300}, {NAN, 0, 1}};
    check_function({"ldexp(load(ai[i]), ni[i])", [](const args &a, int *) { return std::ldexp(a.a, a.n); }, 0},
                   scaled);
}

TEST(MathRun, FmodIsExact)
{
    NEEDS_SIMULATOR();
    std::vector<args> cases = {{5.5, 2},       {-5.5, 2},       {5.5, -2},     {7, 7},         {-7, 7},
                               {1, 3},         {1e30, 3},       {-1e30, 0.7},  {3e38, 1.2e-38}, {0.1, 1e-20},
                               {0.3, 0.1},     {1.5, INFINITY}, {0.0, 1},      {-0.0, 1},      {1, 0},
                               {INFINITY, 1},  {NAN, 1},        {1, NAN},      {2.5e-38, 1.3e-38}};
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1000, 1000);
    for (int k = 0; k < 11; k++)
        cases.push_back({u(gen), u(gen) / 50});
    check_function({"fmod(load(ai[i]), load(bi[i]))", [](const args &a, int *) { return std::fmod(a.a, a.b); }, 0},
                   cases);
}

// Correctly rounded: the root is never halfway, so any error is a fault.
TEST(MathRun, SqrtIsCorrectlyRounded)
{
    NEEDS_SIMULATOR();
    std::vector<args> cases = spread({{0.0}, {-0.0}, {1.0}, {2.0}, {4.0}, {3.9999998}, {1.0000001}, {0.5},
                                      {3.4e38}, {1.18e-38}, {-1.0}, {-INFINITY}, {INFINITY}, {NAN}},
                                     34, -126, 127, false);
    check_function({"sqrt(load(ai[i]))", [](const args &a, int *) { return std::sqrt(a.a); }, 0}, cases);
}

// Within 2 places over the whole range, with the results that overflow,
// flush to zero or are exact at the ends.
TEST(MathRun, ExpIsWithinTwoPlaces)
{
    NEEDS_SIMULATOR();
    std::vector<args> cases = {{0.0},   {-0.0},  {1.0},   {-1.0},  {0.3465}, {-0.3466}, {0.6931}, {88.7},
                               {88.73}, {-87.3}, {-87.4}, {-200},  {1000},   {1e-6},    {-3e-5},  {INFINITY},
                               {-INFINITY}, {NAN}};
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> u(-87, 88);
    for (int k = 0; k < 18; k++)
        cases.push_back({u(gen) / (k % 3 ? 1 : 40)});
    check_function({"exp(load(ai[i]))", [](const args &a, int *) { return std::exp(a.a); }, 2}, cases);
}

TEST(MathRun, LogAndLog10AreWithinTwoPlaces)
{
    NEEDS_SIMULATOR();
    std::vector<args> cases = spread({{1.0}, {2.0}, {0.5}, {10.0}, {0.7071}, {1.4142}, {1.4143}, {0.99998},
                                      {1.00002}, {3.4e38}, {1.18e-38}, {0.0}, {-0.0}, {-1.0}, {INFINITY},
                                      {-INFINITY}, {NAN}},
                                     19, -126, 127, false);
    check_function({"log(load(ai[i]))", [](const args &a, int *) { return std::log(a.a); }, 2}, cases);
    check_function({"log10(load(ai[i]))", [](const args &a, int *) { return std::log10(a.a); }, 2}, cases);
}

// Reports the largest error seen in each form (24 bits, 32 bits) with the
// test's results.
void record_worst(const std::string &name, const std::vector<long> &worst)
{
    for (size_t k = 0; k < worst.size(); k++)
        testing::Test::RecordProperty(name + (k ? "_32" : "_24"), std::to_string(worst[k]));
}

// The multiples of pi/2 up to large ones (rounded to each form: the
// reduction then needs pi to many more places than the form has; of all
// 32-bit floats 16367173 * 2^72 comes closest, 2^-29.9 of a quarter turn),
// the reduction's own boundaries (1/2, pi/4), arguments up to the largest
// double, and random ones.
std::vector<args> trig_cases()
{
    std::vector<args> cases = {{1e-5},  {-2.4e-4}, {0.4999}, {0.5},     {0.7853981}, {-0.7853982}, {1.0},
                               {-2.0},  {100.0},   {-1000.0}, {1000.0}, {12345.678}, {65536.5},    {1e6},
                               {-3e9},  {1e20},    {-7.5e30}, {3.4e38}, {std::ldexp(16367173.0, 72)}};
    for (double k : {1.0, 2.0, 3.0, 4.0, 5.0, 7.0, 22.0, 71.0, 355.0, 1000.0, 100000.0, 12345678.0})
        cases.push_back({k * M_PI / 2 * (k == 3.0 || k == 22.0 ? -1 : 1)});
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> u(-10, 10);
    for (int k = 0; k < 14; k++)
        cases.push_back({u(gen)});
    return cases;
}

// Every finite argument, within 2 places; the zeros and the values that
// are NaN exact.
TEST(MathRun, SinCosTanAreWithinTwoPlaces)
{
    NEEDS_SIMULATOR();
    std::vector<args> special = {{0.0}, {-0.0}, {INFINITY}, {-INFINITY}, {NAN}};
    check_function({"sin(load(ai[i]))", [](const args &a, int *) { return std::sin(a.a); }, 0}, special);
    check_function({"cos(load(ai[i]))", [](const args &a, int *) { return std::cos(a.a); }, 0}, special);
    check_function({"tan(load(ai[i]))", [](const args &a, int *) { return std::tan(a.a); }, 0}, special);
    std::vector<args> cases = trig_cases();
    record_worst("sin", check_function({"sin(load(ai[i]))", [](const args &a, int *) { return std::sin(a.a); }, 2}, cases));
    record_worst("cos", check_function({"cos(load(ai[i]))", [](const args &a, int *) { return std::cos(a.a); }, 2}, cases));
    record_worst("tan", check_function({"tan(load(ai[i]))", [](const args &a, int *) { return std::tan(a.a); }, 2}, cases));
}

TEST(MathRun, AtanAsinAcosAreWithinTwoPlaces)
{
    NEEDS_SIMULATOR();
    // atan: the ends of its table's intervals (1/8, 3/8, 5/8, 7/8), 1, and
    // every magnitude
    std::vector<args> cases = spread({{0.0}, {-0.0}, {1.0}, {-1.0}, {0.125}, {0.1249}, {0.375}, {0.625}, {-0.875},
                                      {1e-20}, {-1e20}, {3e38}, {INFINITY}, {-INFINITY}, {NAN}},
                                     17, -20, 20);
    record_worst("atan", check_function({"atan(load(ai[i]))", [](const args &a, int *) { return std::atan(a.a); }, 2}, cases));
    // asin, acos: near +-1 (where sqrt(1 - x^2) is small), tiny x, and
    // the domain's outside
    std::vector<args> unit = {{0.0},      {-0.0},  {0.5},  {-0.5},    {1.0},  {-1.0},    {0.99999994},
                              {-0.999985}, {0.9995}, {0.7071}, {1e-6}, {-3e-3},   {0.25}, {0.8},
                              {1.0001},   {-2.0},  {INFINITY}, {NAN}};
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int k = 0; k < 12; k++)
        unit.push_back({u(gen)});
    record_worst("asin", check_function({"asin(load(ai[i]))", [](const args &a, int *) { return std::asin(a.a); }, 2}, unit));
    record_worst("acos", check_function({"acos(load(ai[i]))", [](const args &a, int *) { return std::acos(a.a); }, 2}, unit));
}

// The quadrants with their signed zeros and infinities, a result too small
// for the form (zero), and spread pairs.
TEST(MathRun, Atan2KeepsTheQuadrants)
{
    NEEDS_SIMULATOR();
    std::vector<args> cases = {
        {1, 1},          {1, -1},           {-1, -1},          {-1, 1},          {0.0, 1},        {-0.0, 1},
        {0.0, -1},       {-0.0, -1},        {0.0, 0.0},        {-0.0, 0.0},      {0.0, -0.0},     {-0.0, -0.0},
        {1, 0.0},        {-1, 0.0},         {1, -0.0},         {INFINITY, INFINITY}, {INFINITY, -INFINITY},
        {-INFINITY, INFINITY}, {-INFINITY, -INFINITY}, {INFINITY, 1}, {-INFINITY, -1}, {1, INFINITY},
        {1, -INFINITY},  {-1, -INFINITY},   {NAN, 1},          {1, NAN},         {3, 1e-30},      {1e-30, -3},
        {1e-30, 3},      {1e-30, 1e30},     {2, 3},            {-5, 0.1},        {0.3, -0.7}};
    std::mt19937 gen(9);
    std::uniform_real_distribution<double> u(-100, 100);
    for (int k = 0; k < 15; k++)
        cases.push_back({u(gen), u(gen) / (k % 3 ? 1 : 1000)});
    record_worst("atan2", check_function({"atan2(load(ai[i]), load(bi[i]))",
                                          [](const args &a, int *) { return std::atan2(a.a, a.b); }, 2},
                                         cases));
}

// Integer powers (exact where the power is a number of the form), negative
// bases, the special values of zero, one and infinity, overflow and
// underflow at the ends of the range, and spread pairs.
TEST(MathRun, PowIsWithinTwoPlaces)
{
    NEEDS_SIMULATOR();
    std::vector<args> cases = {
        {2, 10},      {2, -3},       {-2, 3},        {-2, -3},      {-2, 4},       {3, 5},       {-3, 15},
        {10, 6},      {-2, 0.5},     {-8, 1.0 / 3},  {10, 38},      {10, 39},      {10, -37},    {10, -39},
        {0.5, 200},   {2, 127.99},   {2, 128},       {2, -126},     {2, -127},     {-2, 127},    {-2, 129},
        {NAN, 0.0},   {0.0, -0.0},   {INFINITY, 0.0}, {1, NAN},     {1, INFINITY}, {-1, INFINITY}, {-1, -INFINITY},
        {-1, 7},      {-1, 8},       {0.0, 3},       {-0.0, 3},     {-0.0, 2},     {0.0, -1},    {-0.0, -3},
        {-0.0, -2},   {-0.0, -0.5},  {0.0, 0.5},     {INFINITY, -1}, {-INFINITY, 3}, {-INFINITY, -3},
        {-INFINITY, 2}, {INFINITY, 0.5}, {0.5, INFINITY}, {0.5, -INFINITY}, {3, INFINITY}, {3, -INFINITY},
        {NAN, 1},     {2, NAN},      {1.0001, 30000}, {0.9999, -20000}, {3, 0.5},  {1e10, 0.1},  {7, 1.0 / 7},
        {1.5, 50.5},  {123.456, -7.89}, {-1.1, 101},  {1.4142135, 2}, {0.70710677, -3}, {1e-30, 1.2},
        {3e38, 1.0001}, {1.7e-38, -0.99}};
    std::mt19937 gen(13);
    std::uniform_real_distribution<double> ue(-20, 20), uy(-6, 6);
    for (int k = 0; k < 16; k++)
        cases.push_back({std::exp2(ue(gen)), uy(gen)});
    record_worst("pow", check_function({"pow(load(ai[i]), load(bi[i]))",
                                        [](const args &a, int *) { return std::pow(a.a, a.b); }, 2},
                                       cases));
}

// float.h in both forms: the limits are the images of the form's largest
// and smallest normal, its epsilon is the step above 1 (half of it rounds
// back to 1), and the integer characteristics.
TEST(MathRun, FloatHDescribesTheForm)
{
    NEEDS_SIMULATOR();
    for (const form &fm : forms) {
        const float_format &ff = fm.f;
        std::string text = std::string("#include <float.h>\ntypedef ") + fm.image_type + " img;\n" +
                           "typedef union { double d; img u; } du;\n"
                           "img bits(double d) { du x; x.d = d; return x.u; }\n"
                           "img lim[4];\nint dig[8];\nunsigned char ok[2];\n"
                           "double one = 1.0;\n"
                           "void main(void)\n{\n    double t;\n"
                           "    lim[0] = bits(DBL_MAX);\n    lim[1] = bits(DBL_MIN);\n    lim[2] = bits(DBL_EPSILON);\n"
                           "    dig[0] = DBL_MANT_DIG;\n    dig[1] = DBL_DIG;\n    dig[2] = DBL_MIN_EXP;\n"
                           "    dig[3] = DBL_MAX_EXP;\n    dig[4] = DBL_MIN_10_EXP;\n    dig[5] = DBL_MAX_10_EXP;\n"
                           "    dig[6] = FLT_RADIX;\n    dig[7] = FLT_MANT_DIG;\n    lim[3] = bits(FLT_MAX);\n"
                           "    t = one + DBL_EPSILON;\n    ok[0] = t > one;\n"
                           "    t = DBL_EPSILON / 2;\n    t += one;\n    ok[1] = t == one;\n"
                           "    FINISH();\n}\n";
        c_program p;
        p.options = fm.options;
        p.files.push_back({"main.c", text});
        c_run r = c_compile_and_run(p);
        ASSERT_EQ(r.status, 0) << r.output;
        ASSERT_TRUE(r.finished) << r.log;
        const unsigned w = (unsigned)ff.width / 8;
        const uint32_t want[3] = {model_round(ff, std::ldexp(2.0 - std::ldexp(1.0, -ff.fraction), 127)),
                                  model_round(ff, 0x1p-126), model_round(ff, std::ldexp(1.0, -ff.fraction))};
        for (unsigned k = 0; k < 3; k++) {
            uint32_t got = 0;
            for (int b = (int)w - 1; b >= 0; b--)
                got = got << 8 | (unsigned)r.byte("lim", k * w + (unsigned)b);
            EXPECT_EQ(hex(got), hex(want[k])) << ff.width << "-bit limit " << k;
        }
        const int dig[7] = {ff.fraction + 1, ff.width == 24 ? 4 : 6, -125, 128, -37, 38, 2};
        for (unsigned k = 0; k < 7; k++)
            EXPECT_EQ((int16_t)(r.byte("dig", 2 * k) | r.byte("dig", 2 * k + 1) << 8), dig[k])
                << ff.width << "-bit characteristic " << k;
        // float is the 24-bit form unless --float=32; the preprocessor is
        // told float's size by the driver, which gives 3 bytes for
        // --float=32 as well, so only the default form is checked
        if (ff.width == 24) {
            EXPECT_EQ((int16_t)(r.byte("dig", 14) | r.byte("dig", 15) << 8), 16) << "FLT_MANT_DIG";
            EXPECT_EQ(hex((unsigned)(r.byte("lim", 11) << 16 | r.byte("lim", 10) << 8 | r.byte("lim", 9))),
                      hex(want[0])) << "FLT_MAX";
        }
        EXPECT_EQ(r.byte("ok", 0), 1) << ff.width << "-bit 1 + epsilon";
        EXPECT_EQ(r.byte("ok", 1), 1) << ff.width << "-bit 1 + epsilon / 2";
    }
}

}   // namespace
