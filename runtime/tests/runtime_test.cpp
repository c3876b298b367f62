// The run-time library: its byte helpers built by the host's C compiler
// from the library's own sources and checked for every pair of operands
// against the host's arithmetic; and the libraries the build installed, as
// the driver hands them to the code generator.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

extern "C" {
unsigned char __bmul(unsigned char multiplier, unsigned char multiplicand);
unsigned char __lbdiv(unsigned char dividend, unsigned char divisor);
unsigned char __lbmod(unsigned char dividend, unsigned char divisor);
signed char __abdiv(signed char dividend, signed char divisor);
signed char __abmod(signed char dividend, signed char divisor);
}

// Operands and results as the bytes they are on the chip, 0-255.
using byte_op = unsigned (*)(unsigned a, unsigned b);

static int as_signed(unsigned byte) { return static_cast<signed char>(byte); }

// One helper against the host: C's int arithmetic cut to a byte, and for a
// zero divisor the result runtime/README.md documents.
struct helper_row {
    const char *name;
    byte_op helper;
    byte_op host;
};

static const helper_row helper_rows[] = {
    {"__bmul",
     [](unsigned a, unsigned b) -> unsigned { return __bmul(a, b); },
     [](unsigned a, unsigned b) { return a * b & 0xFF; }},
    {"__lbdiv",
     [](unsigned a, unsigned b) -> unsigned { return __lbdiv(a, b); },
     [](unsigned a, unsigned b) { return b ? a / b : 0xFFu; }},
    {"__lbmod",
     [](unsigned a, unsigned b) -> unsigned { return __lbmod(a, b); },
     [](unsigned a, unsigned b) { return b ? a % b : a; }},
    {"__abdiv",
     [](unsigned a, unsigned b) -> unsigned { return static_cast<unsigned char>(__abdiv(a, b)); },
     [](unsigned a, unsigned b) {
         if (b == 0)
             return as_signed(a) < 0 ? 1u : 0xFFu;
         return static_cast<unsigned>(as_signed(a) / as_signed(b)) & 0xFF;
     }},
    {"__abmod",
     [](unsigned a, unsigned b) -> unsigned { return static_cast<unsigned char>(__abmod(a, b)); },
     [](unsigned a, unsigned b) { return b ? static_cast<unsigned>(as_signed(a) % as_signed(b)) & 0xFF : a; }},
};

TEST(RuntimeHelpers, EveryOperandPairMatchesHostArithmetic)
{
    for (const helper_row &row : helper_rows) {
        int wrong = 0;
        for (unsigned a = 0; a < 256; a++)
            for (unsigned b = 0; b < 256; b++) {
                unsigned got = row.helper(a, b), want = row.host(a, b);
                if (got != want && ++wrong <= 5)
                    ADD_FAILURE() << row.name << "(0x" << std::hex << a << ", 0x" << b << ") gave 0x" << got
                                  << ", expected 0x" << want;
            }
        EXPECT_EQ(wrong, 0) << row.name;
    }
}

// The edges of the signed helpers, worked out by hand: two's complement
// wrap, truncation toward zero, the dividend's sign on a remainder, zero
// divisors.
TEST(RuntimeHelpers, SignedEdges)
{
    struct {
        int dividend, divisor, quotient, remainder;
    } rows[] = {
        {-128, -1, -128, 0},
        {-128, 1, -128, 0},
        {-7, 2, -3, -1},
        {7, -2, -3, 1},
        {-7, -2, 3, -1},
        {127, -128, 0, 127},
        {-128, 127, -1, -1},
        {5, 0, -1, 5},
        {0, 0, -1, 0},
        {-5, 0, 1, -5},
        {-128, 0, 1, -128},
    };
    for (const auto &r : rows) {
        auto a = static_cast<signed char>(r.dividend), b = static_cast<signed char>(r.divisor);
        EXPECT_EQ(__abdiv(a, b), r.quotient) << r.dividend << " / " << r.divisor;
        EXPECT_EQ(__abmod(a, b), r.remainder) << r.dividend << " % " << r.divisor;
    }
}

static size_t count_of(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

// The chip libraries' names, worked out from the chip database: the data
// bank of the flash registers, plus 4 with EEPROM, plus 8 for flash erased
// in rows apart from writing; then the words written or erased at once.
TEST(RuntimeLibraries, DriverFindsEveryLibraryItHandsTheCodeGenerator)
{
    struct {
        const char *chip;
        const char *options;
        std::vector<std::string> libraries;
    } rows[] = {
        // bank 2, EEPROM, block writes of 4 words: 2 + 4, 04
        {"16F877A", "", {"pic604-p.lpp", "vkpic--c.lpp"}},
        // bank 2, EEPROM, rows of 0x20 erased apart from writes of 4: 2 + 4 + 8, 04 | 20
        {"16F88", "--double=32", {"pice24-p.lpp", "vkpic-dc.lpp"}},
        // no flash self-write: the C library only
        {"16F84A", "", {"vkpic--c.lpp"}},
        {"12F675", "--double=32", {"vkpic-dc.lpp"}},
        {"10F200", "", {"vkpic--c.lpp"}},
    };
    std::string dir = tool_tempdir("zeph_runtime");
    tool_write(dir + "/main.c", "void main(void) { }\n");
    for (const auto &r : rows) {
        int st;
        std::string out = tool_run(dir, std::string(ZEPH_BUILD_DIR "/bin/zeph -Q -V -S --chip=") + r.chip + " " +
                                            r.options + " main.c", &st);
        // -V shows each program's command line before it runs.
        size_t at = out.find("\nkestrel ");
        ASSERT_NE(at, std::string::npos) << r.chip << ": the code generator did not run\n" << out;
        std::string line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
        EXPECT_EQ(count_of(line, ".lpp"), r.libraries.size()) << r.chip << "\n" << line;
        for (const std::string &name : r.libraries)
            EXPECT_NE(line.find(" " ZEPH_BUILD_DIR "/lib/" + name), std::string::npos) << r.chip << "\n" << line;
        EXPECT_EQ(out.find("(140)"), std::string::npos) << r.chip << "\n" << out;
    }
}

// Each helper is a module of its own that defines its assembler name (the
// C name with the parser's underscore in front) and calls nothing.
TEST(RuntimeLibraries, OneModulePerHelper)
{
    std::string expected;
    for (const char *name : {"abdiv", "abmod", "aldiv", "almod", "awdiv", "awmod", "bmul", "lbdiv", "lbmod",
                             "lldiv", "llmod", "lmul", "lwdiv", "lwmod", "wmul"})
        expected += std::string(name) + ".plover D ___" + name + "\n";
    for (const char *library : {"vkpic--c.lpp", "vkpic-dc.lpp"}) {
        int st;
        std::string out = tool_run(".", std::string(ZEPH_BUILD_DIR "/bin/rook t " ZEPH_BUILD_DIR "/lib/") + library, &st);
        ASSERT_EQ(st, 0) << out;
        // "module<TAB>length" lines, each followed by "<TAB>D|U symbol" lines.
        std::vector<std::string> modules;
        std::istringstream in(out);
        std::string text;
        for (std::string line; std::getline(in, line);)
            if (line[0] != '\t')
                modules.push_back(line.substr(0, line.find('\t')));
            else if (!modules.empty())
                modules.back() += " " + line.substr(1);
        std::sort(modules.begin(), modules.end());
        for (const std::string &m : modules)
            if (("\n" + expected).find("\n" + m.substr(0, m.find(' ')) + " ") != std::string::npos)   // integer helpers
                text += m + "\n";
            else if (m.rfind("ft.plover", 0) == 0 || m.rfind("fl.plover", 0) == 0)
                // one module per float width: its helpers and the routines they share
                for (const char *op : {"add", "sub", "mul", "div", "neg", "ge", "tol"})
                    EXPECT_NE(m.find(std::string(" D ___") + m.substr(0, 2) + op), std::string::npos) << m;
        EXPECT_EQ(text, expected) << library;
    }
}
