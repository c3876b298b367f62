// Variable argument lists and the printf family, compiled by the installed
// chain and run in gpsim. printf writes through the program's putch, which
// here stores each character in RAM; the host's snprintf formats the same
// values for the expected text.
#include "../../runtime/tests/float_model.h"
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

void tool_exit(int) {}

namespace {

c_run run_main(const std::string &text, const std::string &options = "")
{
    c_program p;
    p.options = options;
    p.files.push_back({"main.c", text});
    p.cycles = 20000000;
    return c_compile_and_run(p);
}

std::string host(const char *format, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return buf;
}

// Variadic functions of the program's own: int, long and promoted char
// arguments walked by va_arg, a va_list handed to a second function, and
// calls with different numbers of arguments to one function.
TEST(StdargRun, VariadicFunctionsWalkTheirArguments)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
#include <stdarg.h>
int sum(int n, ...)
{
    va_list ap;
    int s = 0;
    va_start(ap, n);
    while (n--)
        s += va_arg(ap, int);
    va_end(ap);
    return s;
}
long total(va_list ap, unsigned char n)
{
    long s = 0;
    while (n--)
        s += va_arg(ap, long);
    return s;
}
long lsum(unsigned char n, ...)
{
    va_list ap;
    long s;
    va_start(ap, n);
    s = total(ap, n);
    va_end(ap);
    return s;
}
int r1, r2, r3;
long r4;
unsigned char c1 = 200;
signed char c2 = -5;
void main(void)
{
    r1 = sum(3, 100, 200, -50);
    r2 = sum(2, c1, c2);
    r3 = sum(0);
    r4 = lsum(3, 100000L, -23L, 70000L);
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.value("r1", 2), 250u);
    EXPECT_EQ(r.value("r2", 2), 195u);
    EXPECT_EQ(r.value("r3", 2), 0u);
    EXPECT_EQ(r.value("r4", 4), 169977u);
}

struct format_case {
    std::string call;       // the arguments of printf in C
    std::string expected;   // what the host writes for the same values
};

// Runs the statements `calls` in one program (after the C text `head`)
// whose putch stores what they print in `buffers` arrays of 80 bytes; the
// text printed goes to *text.
c_run run_printing(const std::string &head, const std::string &calls, unsigned buffers, const std::string &options,
                   std::string *text)
{
    std::string arrays, stores;
    for (unsigned b = 0; b < buffers; b++) {
        std::string name = "b" + std::to_string(b);
        arrays += (b ? ", " : "unsigned char ") + name + "[80]";
        stores += std::string(b ? "    else if" : "    if") + " (n < " + std::to_string(80 * (b + 1)) + ")\n        " +
                  name + "[n - " + std::to_string(80 * b) + "] = c;\n";
    }
    c_run r = run_main("#include <stdio.h>\n" + arrays + ";\nunsigned char n;\nvoid putch(char c)\n{\n" + stores +
                           "    n++;\n}\n" + head + "void main(void)\n{\n" + calls + "    FINISH();\n}\n",
                       options);
    for (unsigned i = 0; i < (unsigned)r.byte("n") && i < 80 * buffers; i++)
        *text += (char)r.byte("b" + std::to_string(i / 80), i % 80);
    return r;
}

// Runs the calls in one program and checks each call's output, the calls
// separated by a '|' written through putch.
void expect_printed(const std::vector<format_case> &cases, const std::string &options = "")
{
    std::string calls, want;
    for (const format_case &c : cases) {
        calls += "    printf(" + c.call + ");\n    putch('|');\n";
        want += c.expected + "|";
    }
    ASSERT_LT(want.size(), 240u);
    std::string got;
    c_run r = run_printing("", calls, 3, options, &got);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(got, want);
}

// Integer conversions with flags, widths, precisions and lengths, the
// character and string conversions, the star fields and %%.
TEST(PrintfRun, IntegerCharacterAndStringConversions)
{
    NEEDS_SIMULATOR();
    expect_printed({
        {R"("x=%d %i", -42, 32767)", host("x=%d %i", -42, 32767)},
        {R"("%5u|%-5u|%05u", 123u, 7u, 65535u)", host("%5u|%-5u|%05u", 123u, 7u, 65535u)},
        {R"("%x %X %#x %#o %o", 0xab, 0x1f, 255, 8, 0)", host("%x %X %#x %#o %o", 0xab, 0x1f, 255, 8, 0)},
        {R"("%+d % d %+d", 7, 7, -7)", host("%+d % d %+d", 7, 7, -7)},
        {R"("%.3d|%6.4d|%-6d|%06d", 5, -12, -3, -45)", host("%.3d|%6.4d|%-6d|%06d", 5, -12, -3, -45)},
        {R"("%ld %lu %lx", -100000L, 4000000000UL, 0xdeadbeefUL)",
         host("%d %u %x", -100000, 4000000000u, 0xdeadbeefu)},
    });
    expect_printed({
        {R"("%c%c%3c%-3c.", 'a', 'Z', 'q', 'r')", host("%c%c%3c%-3c.", 'a', 'Z', 'q', 'r')},
        {R"("[%s][%8s][%-8s][%.2s]", "str", "right", "left", "cut")",
         host("[%s][%8s][%-8s][%.2s]", "str", "right", "left", "cut")},
        {R"("%*d|%-*d|%.*d", 6, 42, 4, 9, 3, 7)", host("%*d|%-*d|%.*d", 6, 42, 4, 9, 3, 7)},
        {R"("100%% %d%%", -32767)", host("100%% %d%%", -32767)},
        {R"("%-05d|%-05x", -42, 255)", host("%-05d|%-05x", -42, 255)},
    });
}

// sprintf writes into a RAM buffer, ending it with a zero, while its
// format and a %s argument are read from program memory.
TEST(PrintfRun, SprintfWritesIntoABuffer)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
#include <stdio.h>
char buf[32];
int r;
void main(void)
{
    r = sprintf(buf, "v=%d %s|%4x|%-3c|", -321, "ok", 0xbe, 'k');
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    std::string want = host("v=%d %s|%4x|%-3c|", -321, "ok", 0xbe, 'k');
    std::string got;
    for (unsigned i = 0; i <= want.size(); i++)
        got += (char)r.byte("buf", i);
    EXPECT_EQ(got, want + '\0');
    EXPECT_EQ(r.value("r", 2), want.size());
}

// Floating-point conversions, in each float form, checked against the
// host's snprintf of the exact value of the image the chip holds. Digits
// past a float's precision say nothing of the value: the text printed must
// agree with the exact value's in the significant digits that tell an image
// from its neighbours (6 for the 24-bit form, 9 for the 32-bit one), and
// where the format asks for no more digits than that the whole text must
// be equal; past them, only digits may differ.
struct float_form {
    const float_format &format;
    const char *options;
    int digits;   // significant digits that are always right
};

const float_form float_forms[] = {{ft_format, "", 6}, {fl_format, "--float=32 --double=32", 9}};

struct float_case {
    const char *format;   // with one floating-point conversion
    double value;         // rounded to the form's image
};

// Whether the chip's text matches the host's within the form's precision.
bool matches_within(const std::string &got, const std::string &want, int digits)
{
    if (got == want)
        return true;
    if (got.size() != want.size())
        return false;
    int significant = 0;
    bool exponent = false;
    for (size_t i = 0; i < want.size(); i++) {
        char w = want[i];
        bool digit = w >= '0' && w <= '9';
        if (w == 'e' || w == 'E')
            exponent = true;
        if (digit && !exponent && (significant || w != '0'))
            significant++;
        if (got[i] != w && (!digit || exponent || significant <= digits))
            return false;
    }
    return true;
}

// Prints each case's value through its format in one program per form and
// batch of output, each text followed by a '|'.
void expect_floats_printed(const std::vector<float_case> &cases)
{
    for (const float_form &form : float_forms) {
        SCOPED_TRACE(form.format.width);
        size_t next = 0;
        while (next < cases.size()) {
            std::string calls;
            std::vector<std::string> want;
            size_t chars = 0;
            for (; next < cases.size(); next++) {
                uint32_t image = model_round(form.format, cases[next].value);
                std::string text = host(cases[next].format, image_value(form.format, image));
                if (chars + text.size() + 1 > 160)
                    break;
                chars += text.size() + 1;
                want.push_back(text);
                calls += "    printf(\"" + std::string(cases[next].format) + "\", load(" + host("0x%lX", (unsigned long)image) +
                         "));\n    putch('|');\n";
            }
            std::string got;
            c_run r = run_printing(R"(typedef union { double d; unsigned long u; } image;
double load(unsigned long u)
{
    image x;
    x.u = u;
    return x.d;
}
)",
                                   calls, 2, form.options, &got);
            ASSERT_EQ(r.status, 0) << r.output;
            ASSERT_TRUE(r.finished) << r.log;
            size_t at = 0;
            for (const std::string &w : want) {
                size_t bar = got.find('|', at);
                std::string text = got.substr(at, bar == std::string::npos ? std::string::npos : bar - at);
                EXPECT_TRUE(matches_within(text, w, form.digits)) << "printed \"" << text << "\", want \"" << w << '"';
                at = bar == std::string::npos ? got.size() : bar + 1;
            }
        }
    }
}

// %f: precisions from none to past the float's, the flags, rounding to
// nearest with ties to even (the values exact in both forms), carries into
// a new leading digit, values below the last place and far above 2^32.
TEST(PrintfRun, FixedPointConversion)
{
    NEEDS_SIMULATOR();
    expect_floats_printed({
        {"%f", 3.14159265}, {"%f", -2.5}, {"%f", 0.0}, {"%f", -0.0}, {"%.1f", 0.05},
        {"%.0f", 0.5}, {"%.0f", 1.5}, {"%.0f", 2.5}, {"%.2f", 0.125}, {"%.2f", 0.375},
        {"%.3f", 9.9996}, {"%.1f", 99.96}, {"%.0f", 999.7}, {"%.3f", 0.0004}, {"%.3f", 0.0006},
        {"%.2f", 0.004}, {"%.4f", 1.0}, {"%.5f", 0.1}, {"%.10f", 0.1}, {"%.6f", 1.5e-7},
        {"%f", 123456789.0}, {"%.1f", 4294967296.0}, {"%f", 1e10}, {"%.0f", 6.02e23}, {"%.2f", 3.0e38},
        {"%+.2f", 1.0}, {"% .2f", 1.0}, {"%+.1f", -0.25}, {"%#.0f", 3.0}, {"%#.0f", 0.0},
        {"%010.3f", -3.14159}, {"%-10.2f", 2.5}, {"%10.4f", 1e-5}, {"%12f", 65504.0}, {"%-+9.1f", 7.75},
        {"%-08.3f", 2.5},
    });
}

// %e and %E: the exponent of values near powers of ten before and after
// rounding, the smallest and largest normal values, flags and fields.
TEST(PrintfRun, ExponentConversion)
{
    NEEDS_SIMULATOR();
    expect_floats_printed({
        {"%e", 1.0}, {"%e", 0.0}, {"%e", -123.456}, {"%E", 1.5e-7}, {"%.3e", 9.9996},
        {"%.2e", 999.5}, {"%.0e", 0.25}, {"%.0e", 0.75}, {"%.1e", 1000.0}, {"%e", 0.001},
        {"%.4e", 0.000999}, {"%.2e", 1.17549435e-38}, {"%e", 3.4e38}, {"%.9e", 0.1}, {"%.6e", 1234567.5},
        {"%#.0e", 2.0}, {"%+12.3e", 6.02e23}, {"%-12.2e", -1e-10}, {"%012.4e", 31.4159}, {"% E", 65504.0},
        {"%.12e", 1.0 / 3},
    });
}

// %g and %G: the choice of the two forms by the exponent after rounding,
// trailing zeros dropped unless '#', precision 0 taken as 1.
TEST(PrintfRun, GeneralConversion)
{
    NEEDS_SIMULATOR();
    expect_floats_printed({
        {"%g", 100000.0}, {"%g", 1000000.0}, {"%g", 999999.5}, {"%g", 0.0001}, {"%g", 0.00001},
        {"%g", 123456789.0}, {"%G", 1.5e-7}, {"%g", 0.0}, {"%#g", 1.0}, {"%#g", 0.0},
        {"%.3g", 9.9996}, {"%.0g", 0.5}, {"%.1g", 0.96}, {"%g", -2.5}, {"%10.3g", 3.14159},
        {"%-10g", 1e-5}, {"%+g", 65504.0}, {"%.2g", 0.000123}, {"%G", 3.4e38}, {"%.8g", 0.1},
        {"%#.3g", 100.0}, {"%g", 0.1},
    });
}

// Infinities and NaN: their words in the conversion's case, signed and
// padded with spaces (the '0' flag does not apply).
TEST(PrintfRun, InfinityAndNotANumber)
{
    NEEDS_SIMULATOR();
    expect_floats_printed({
        {"%f", INFINITY}, {"%e", -INFINITY}, {"%G", INFINITY}, {"%5f", NAN}, {"%-6e", INFINITY},
        {"%+f", INFINITY}, {"%E", NAN}, {"%010f", -INFINITY}, {"%g", NAN}, {"% .2f", INFINITY},
    });
}

// sprintf formats floats into a RAM buffer as printf does, in both forms.
TEST(PrintfRun, SprintfFormatsFloats)
{
    NEEDS_SIMULATOR();
    for (const float_form &form : float_forms) {
        SCOPED_TRACE(form.format.width);
        c_run r = run_main(R"(
#include <stdio.h>
char buf[48];
int r;
float x = 2.75, y = -0.0625;
void main(void)
{
    r = sprintf(buf, "[%.2f|%e|%g|%6.1f]", x, y, x * 1000, y);
    FINISH();
}
)",
                           form.options);
        ASSERT_EQ(r.status, 0) << r.output;
        ASSERT_TRUE(r.finished) << r.log;
        std::string want = host("[%.2f|%e|%g|%6.1f]", 2.75, -0.0625, 2750.0, -0.0625);
        std::string got;
        for (unsigned i = 0; i <= want.size(); i++)
            got += (char)r.byte("buf", i);
        EXPECT_EQ(got, want + '\0');
        EXPECT_EQ(r.value("r", 2), want.size());
    }
}

// The value printf returns counts the characters written.
TEST(PrintfRun, ReturnsTheCountOfCharacters)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
#include <stdio.h>
unsigned char n;
void putch(char c) { n++; }
int r1, r2;
void main(void)
{
    r1 = printf("%d-%s", -1234, "abc");
    r2 = printf("");
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.value("r1", 2), 9u);
    EXPECT_EQ(r.value("r2", 2), 0u);
    EXPECT_EQ(r.byte("n"), 9);
}

// The printf linked carries only what the program's formats use: one
// printing only %d is smaller than one printing strings, widths and longs.
TEST(PrintfRun, ThePrintfLinkedShrinksToTheFeaturesUsed)
{
    NEEDS_SIMULATOR();
    auto words = [](const std::string &call) {
        c_program p;
        p.files.push_back({"main.c", "#include <stdio.h>\nvoid putch(char c) { }\nvoid main(void)\n{\n    printf(" +
                                         call + ");\n    FINISH();\n}\n"});
        c_run r = c_compile(p);
        EXPECT_EQ(r.status, 0) << r.output;
        size_t at = r.output.find("Program space");
        unsigned long used = 0;
        if (at != std::string::npos)
            sscanf(r.output.c_str() + at, "Program space used %lxh", &used);
        return used;
    };
    unsigned long small = words(R"("%d", 1)"), large = words(R"("%-8s %lx %5u", "a", 1L, 2u)");
    EXPECT_GT(small, 0u);
    EXPECT_LT(small, large);
}

}   // namespace
