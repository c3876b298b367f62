// Variable argument lists and the printf family, compiled by the installed
// chain and run in gpsim. printf writes through the program's putch, which
// here stores each character in RAM; the host's snprintf formats the same
// values for the expected text.
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
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
    c_run r = run_main(R"(
#include <stdio.h>
unsigned char b0[80], b1[80], b2[80];
unsigned char n;
void putch(char c)
{
    if (n < 80)
        b0[n] = c;
    else if (n < 160)
        b1[n - 80] = c;
    else if (n < 240)
        b2[n - 160] = c;
    n++;
}
void main(void)
{
)" + calls + R"(    FINISH();
}
)",
                       options);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    std::string got;
    for (unsigned i = 0; i < (unsigned)r.byte("n") && i < 240; i++)
        got += (char)r.byte(i < 80 ? "b0" : i < 160 ? "b1" : "b2", i % 80);
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
