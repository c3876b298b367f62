// Floating point compiled by the installed chain and run in gpsim, in both
// forms: 24 bits (sign, 8-bit exponent, 15-bit fraction: the top three
// bytes of an IEEE single) and 32 bits (IEEE single, with --float=32).
// Every expected value is worked out here, on the host, by a model of the
// two forms: the exact result rounded to nearest even, values too small
// to be normal flushed to zero.
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

void tool_exit(int) {}

namespace {

// Bits of the significand, the hidden one counted.
int significand_bits(int size)
{
    return size == 3 ? 16 : 24;
}

uint32_t sign_bit(int size)
{
    return 1u << (size * 8 - 1);
}

// The image of v in the form of `size` bytes, rounded to nearest even.
uint32_t image_of(double v, int size)
{
    int bits = significand_bits(size);
    uint32_t sign = std::signbit(v) ? sign_bit(size) : 0;
    if (std::isnan(v))
        return 0x7FC00000u >> (32 - size * 8);
    double a = std::fabs(v);
    uint32_t inf = 255u << (bits - 1);
    if (a == 0)
        return sign;
    if (std::isinf(a))
        return sign | inf;
    int e;
    double m = std::frexp(a, &e);   // a = m 2^e, m in [0.5, 1)
    double r = std::nearbyint(std::ldexp(m, bits));
    if (r == std::ldexp(1.0, bits)) {
        r /= 2;
        e++;
    }
    int field = e - 1 + 127;
    if (field <= 0)
        return sign;
    if (field >= 255)
        return sign | inf;
    return sign | (uint32_t)field << (bits - 1) | ((uint32_t)r - (1u << (bits - 1)));
}

double value_of(uint32_t image, int size)
{
    int bits = significand_bits(size);
    int field = (int)(image >> (bits - 1)) & 255;
    uint32_t fraction = image & ((1u << (bits - 1)) - 1);
    double sign = image & sign_bit(size) ? -1.0 : 1.0;
    if (field == 0)
        return sign * 0.0;
    if (field == 255)
        return fraction ? NAN : sign * INFINITY;
    return sign * std::ldexp((double)(fraction | 1u << (bits - 1)), field - 127 - (bits - 1));
}

bool is_nan_image(uint32_t image, int size)
{
    return std::isnan(value_of(image, size));
}

const char *image_type(int size)
{
    return size == 3 ? "unsigned short long" : "unsigned long";
}

std::string options_for(int size)
{
    return size == 3 ? "" : "--float=32";
}

std::string hex(uint32_t v)
{
    char b[16];
    snprintf(b, sizeof b, "0x%lX", (unsigned long)v);
    return b;
}

// The C text of a table of images.
std::string image_table(const std::vector<double> &values, int size)
{
    std::string s;
    for (double v : values)
        s += (s.empty() ? "" : ", ") + hex(image_of(v, size));
    return s;
}

c_run run_main(const std::string &text, const std::string &options, const std::string &chip = "16F877A")
{
    c_program p;
    p.chip = chip;
    p.options = options;
    p.files.push_back({"main.c", text});
    p.cycles = 20000000;
    return c_compile_and_run(p);
}

// Reading and writing a float's image in C.
std::string image_helpers(int size)
{
    return std::string("typedef ") + image_type(size) + " img;\n" +
           "typedef union { float f; img u; } fu;\n"
           "float load(img u) { fu x; x.u = u; return x.f; }\n"
           "img bits(float f) { fu x; x.f = f; return x.u; }\n";
}

// The image of element `index` of a global float array (0 for a float).
uint32_t read_image(const c_run &r, const std::string &name, unsigned index, int size)
{
    uint32_t bytes = 0;
    for (int i = size - 1; i >= 0; i--)
        bytes = bytes << 8 | (unsigned)r.byte(name, index * size + i);
    return bytes;
}

void expect_image(const c_run &r, const std::string &name, unsigned index, int size, double want,
                  const std::string &what)
{
    uint32_t image = read_image(r, name, index, size);
    if (std::isnan(want))
        EXPECT_TRUE(is_nan_image(image, size)) << what << ": " << hex(image) << " is not a NaN";
    else
        EXPECT_EQ(hex(image), hex(image_of(want, size))) << what << " (got " << value_of(image, size) << ", want "
                                                         << want << ")";
}

struct operand_pair {
    double a, b;
};

// Pairs that reach rounding, cancellation, signed zeros, overflow to
// infinity, flushing to zero, division by zero and NaNs.
const std::vector<operand_pair> arithmetic_cases = {
    {1.5, 2.25},         {-3.75, 0.125},     {3.14159265, -2.71828183}, {1, 3},
    {100000, 0.001},     {-0.0, 0.0},        {1.0, -1.0},               {3e38, 10},
    {1e-30, 1e-20},      {7, 0},             {1.00048828125, 1},        {-5e-3, 12345.678},
    {0, 0},              {NAN, 1},
};

// The four operations, negation and the six comparisons on every pair,
// each result read back as an image and checked against the model. The
// pairs go in programs of seven: the result arrays of all fourteen at 32
// bits would not fit the banks.
TEST(FloatRun, ArithmeticAndComparisonsMatchTheModel)
{
    NEEDS_SIMULATOR();
    const size_t per_program = 7;
    for (int size : {3, 4}) {
        for (size_t first = 0; first < arithmetic_cases.size(); first += per_program) {
            std::vector<double> as, bs;
            for (size_t k = first; k < arithmetic_cases.size() && k < first + per_program; k++) {
                const operand_pair &c = arithmetic_cases[k];
                as.push_back(value_of(image_of(c.a, size), size));
                bs.push_back(value_of(image_of(c.b, size), size));
            }
            size_t n = as.size();
            std::string text = image_helpers(size) + "#define N " + std::to_string(n) + "\n" +
                               "const img ai[N] = {" + image_table(as, size) + "};\n" +
                               "const img bi[N] = {" + image_table(bs, size) + "};\n" + R"(
img radd[N], rsub[N], rmul[N], rdiv[N], rneg[N];
unsigned char rcmp[N];
void main(void)
{
    unsigned char i;
    for (i = 0; i < N; i++) {
        float a = load(ai[i]), b = load(bi[i]);
        radd[i] = bits(a + b);
        rsub[i] = bits(a - b);
        rmul[i] = bits(a * b);
        rdiv[i] = bits(a / b);
        rneg[i] = bits(-a);
        rcmp[i] = (a < b) | (a <= b) << 1 | (a > b) << 2 | (a >= b) << 3 | (a == b) << 4 | (a != b) << 5;
    }
    FINISH();
}
)";
            c_run r = run_main(text, options_for(size));
            ASSERT_EQ(r.status, 0) << r.output;
            ASSERT_TRUE(r.finished) << r.log;
            for (size_t i = 0; i < n; i++) {
                double a = as[i], b = bs[i];
                std::string what = std::to_string(size * 8) + "-bit " + std::to_string(a) + " and " + std::to_string(b);
                expect_image(r, "radd", (unsigned)i, size, a + b, what + ": +");
                expect_image(r, "rsub", (unsigned)i, size, a - b, what + ": -");
                expect_image(r, "rmul", (unsigned)i, size, a * b, what + ": *");
                expect_image(r, "rdiv", (unsigned)i, size, a / b, what + ": /");
                expect_image(r, "rneg", (unsigned)i, size, -a, what + ": unary -");
                int want = (a < b) | (a <= b) << 1 | (a > b) << 2 | (a >= b) << 3 | (a == b) << 4 | (a != b) << 5;
                EXPECT_EQ(r.byte("rcmp", (unsigned)i), want) << what << ": comparisons";
            }
        }
    }
}

// One integer type's values converted to float, and floats converted to it.
struct conversion_case {
    const char *type;
    std::vector<long long> to_float;   // integers converted to float
    std::vector<double> from_float;    // floats converted to the type, within its range
    int bytes;
    bool is_signed;
};

const std::vector<conversion_case> conversion_cases = {
    {"signed char", {-128, -1, 0, 127}, {-128.0, -3.75, 0.5, 127.9}, 1, true},
    {"unsigned char", {0, 1, 200, 255}, {0.0, 1.5, 200.25, 255.9}, 1, false},
    {"int", {-32768, -12345, 32767}, {-32768.0, -1.5, 32767.5}, 2, true},
    {"unsigned int", {40000, 65535}, {40000.5, 65535.0}, 2, false},
    {"short long", {-8388608, 8388607, -99999}, {-8388608.0, 65537.0}, 3, true},
    {"unsigned short long", {16777215, 12345678}, {16777215.0, 100000.75}, 3, false},
    {"long", {-2147483647 - 1, 2147483647, 123456789, -7}, {-2147483648.0, 123456789.0, -7.99}, 4, true},
    {"unsigned long", {4294967295LL, 3000000000LL}, {3000000000.0, 4294967040.0}, 4, false},
};

long long truncated(double v, int bytes, bool is_signed)
{
    long long t = (long long)std::trunc(v);
    unsigned long long mask = bytes == 4 ? 0xFFFFFFFFull : (1ull << (bytes * 8)) - 1;
    t = (long long)((unsigned long long)t & mask);
    if (is_signed && (t & (1ll << (bytes * 8 - 1))))
        t -= (long long)mask + 1;
    return t;
}

// Every integer type to float and back, values at the types' limits,
// rounding where the float has fewer bits than the integer.
TEST(FloatRun, ConversionsToAndFromEveryIntegerType)
{
    NEEDS_SIMULATOR();
    for (int size : {3, 4}) {
        std::string text = image_helpers(size);
        std::string body;
        for (size_t k = 0; k < conversion_cases.size(); k++) {
            const conversion_case &c = conversion_cases[k];
            std::string ints, images;
            for (long long v : c.to_float)
                ints += (ints.empty() ? "" : ", ") + std::to_string(v) + (c.bytes == 4 ? "L" : "");
            std::vector<double> from;
            for (double v : c.from_float)
                from.push_back(value_of(image_of(v, size), size));
            std::string ks = std::to_string(k);
            text += "const " + std::string(c.type) + " src" + ks + "[] = {" + ints + "};\n";
            text += "img to" + ks + "[" + std::to_string(c.to_float.size()) + "];\n";
            text += "const img fsrc" + ks + "[] = {" + image_table(from, size) + "};\n";
            text += std::string(c.type) + " from" + ks + "[" + std::to_string(from.size()) + "];\n";
            // a function per type, so that no function's code outgrows a page
            text += "void type" + ks + "(void)\n{\n    unsigned char i;\n";
            text += "    for (i = 0; i < " + std::to_string(c.to_float.size()) + "; i++) to" + ks +
                    "[i] = bits((float)src" + ks + "[i]);\n";
            text += "    for (i = 0; i < " + std::to_string(from.size()) + "; i++) from" + ks + "[i] = (" +
                    c.type + ")load(fsrc" + ks + "[i]);\n}\n";
            body += "    type" + ks + "();\n";
        }
        text += "void main(void)\n{\n" + body + "    FINISH();\n}\n";
        c_run r = run_main(text, options_for(size));
        ASSERT_EQ(r.status, 0) << r.output;
        ASSERT_TRUE(r.finished) << r.log;
        for (size_t k = 0; k < conversion_cases.size(); k++) {
            const conversion_case &c = conversion_cases[k];
            std::string ks = std::to_string(k);
            for (size_t i = 0; i < c.to_float.size(); i++)
                expect_image(r, "to" + ks, (unsigned)i, size, (double)c.to_float[i],
                             std::to_string(size * 8) + "-bit float of " + c.type + " " +
                                 std::to_string(c.to_float[i]));
            for (size_t i = 0; i < c.from_float.size(); i++) {
                double v = value_of(image_of(c.from_float[i], size), size);
                uint32_t raw = read_image(r, "from" + ks, (unsigned)i, c.bytes);
                long long want = truncated(v, c.bytes, c.is_signed);
                long long want_raw = (long long)((unsigned long long)want &
                                                 (c.bytes == 4 ? 0xFFFFFFFFull : (1ull << (c.bytes * 8)) - 1));
                EXPECT_EQ((long long)raw, want_raw)
                    << size * 8 << "-bit float " << v << " to " << c.type << " (want " << want << ")";
            }
        }
    }
}

// Floats as C uses them: parameters and results, locals, arrays, members
// reached through pointers, compound assignment, ++ and --, loops and
// choices on comparisons, constants in code and data. The values are
// exact in both forms except the square root, which must be within one
// unit in the last place.
TEST(FloatRun, FloatsInParametersArraysStructuresAndLoops)
{
    NEEDS_SIMULATOR();
    for (int size : {3, 4}) {
        std::string text = image_helpers(size) + R"(
struct pt { float x, y; };
struct pt p = {1.5, 2.5};
float arr[4] = {0.5, 1.5, -2.25, 8.0};
float total, f, nr, m;
int steps, choice;
long li;
unsigned char small;
float area(struct pt *q) { return q->x * q->y; }
float scale(float v, int k) { return v * k; }
float root(float x)
{
    float r = x;
    unsigned char i;
    for (i = 0; i < 8; i++)
        r = (r + x / r) * 0.5f;   /* a double constant would make it a double (24 bits unless --double=32) */
    return r;
}
void main(void)
{
    float acc = 0, *pf;
    unsigned char i;
    for (i = 0; i < 4; i++)
        acc += arr[i];
    total = acc + area(&p);
    f = 0;
    while (f < 10.0) { f += 0.25; steps++; }
    li = (long)(scale(1.25, -1000) * 4.0);
    small = (unsigned char)(arr[3] * 31.0);
    nr = root(2.0);
    f = arr[1];
    f++;
    arr[2] = f--;
    pf = &arr[0];
    *pf *= 4.0;
    pf[1] -= 0.5;
    choice = arr[3] > arr[0] ? 1 : 2;
    m = -arr[3];
    if (!m || m >= 0)
        choice = 3;
    FINISH();
}
)";
        c_run r = run_main(text, options_for(size));
        ASSERT_EQ(r.status, 0) << r.output;
        ASSERT_TRUE(r.finished) << r.log;
        std::string form = std::to_string(size * 8) + "-bit: ";
        expect_image(r, "total", 0, size, 11.5, form + "sum of an array plus a product through a pointer");
        EXPECT_EQ(r.value("steps", 2), 40u) << form;
        EXPECT_EQ(r.value("li", 4), (unsigned long)-5000L & 0xFFFFFFFFul) << form;
        EXPECT_EQ(r.byte("small"), 248) << form;
        expect_image(r, "f", 0, size, 1.5, form + "++ then --");
        expect_image(r, "arr", 0, size, 2.0, form + "*= through a pointer");
        expect_image(r, "arr", 1, size, 1.0, form + "-= through a pointer");
        expect_image(r, "arr", 2, size, 2.5, form + "the value of x--");
        expect_image(r, "m", 0, size, -8.0, form + "negation");
        EXPECT_EQ(r.value("choice", 2), 1u) << form;
        uint32_t root = read_image(r, "nr", 0, size);
        long distance = (long)root - (long)image_of(std::sqrt(2.0), size);
        EXPECT_LE(std::labs(distance), 1) << form << "square root of 2 is " << value_of(root, size);
    }
}

// With --double=32 a double has 32 bits and a float 24: values move
// between them, rounded to nearest on the way down.
TEST(FloatRun, FloatsAndDoublesOfTwoWidthsMix)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
float f = 1.0 / 3.0, back;
double d, prod, sum;
void main(void)
{
    d = f;
    prod = d * 3;
    back = prod;
    sum = f + d;
    FINISH();
}
)", "--double=32");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    double third24 = value_of(read_image(r, "f", 0, 3), 3);
    EXPECT_NEAR(third24, 1.0 / 3.0, 1.0 / 65536);
    expect_image(r, "d", 0, 4, third24, "24-bit float widened");
    double prod = value_of(image_of(third24 * 3, 4), 4);
    expect_image(r, "prod", 0, 4, prod, "product in 32 bits");
    expect_image(r, "back", 0, 3, prod, "narrowed to 24 bits");
    expect_image(r, "sum", 0, 4, third24 * 2, "float + double is a double");
}

// Tests against zero, in conditions and as values, of a float and a double
// holding 0, -0, 2.5 and a NaN.
TEST(FloatRun, TestsAgainstZero)
{
    NEEDS_SIMULATOR();
    for (int size : {3, 4}) {
        std::vector<double> values = {0.0, -0.0, 2.5, NAN};
        std::string text = image_helpers(size) + "const img vi[4] = {" + image_table(values, size) + "};\n" + R"(
unsigned char flags[4];
double d;
void main(void)
{
    unsigned char i;
    for (i = 0; i < 4; i++) {
        float f = load(vi[i]);
        d = f;
        flags[i] = 0;
        if (f != 0)
            flags[i] |= 1;
        if (!d)
            flags[i] |= 2;
        if (d == 0)
            flags[i] |= 4;
        flags[i] |= (f != 0.0) << 3;
    }
    FINISH();
}
)";
        c_run r = run_main(text, size == 3 ? "" : "--float=32 --double=32");
        ASSERT_EQ(r.status, 0) << r.output;
        ASSERT_TRUE(r.finished) << r.log;
        const int want[] = {2 | 4, 2 | 4, 1 | 8, 1 | 8};
        for (unsigned i = 0; i < 4; i++)
            EXPECT_EQ(r.byte("flags", i), want[i]) << size * 8 << "-bit value " << values[i];
    }
}

// A float's place that must be reached twice for x op= y is refused when
// reaching it has an effect, rather than made twice.
TEST(FloatRun, UpdatesThroughSideEffectsAreRefused)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
float a[4];
unsigned char i;
void main(void)
{
    a[i++] += 1.0;
    FINISH();
}
)", "");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("(1490)"), std::string::npos) << r.output;
}

}   // namespace
