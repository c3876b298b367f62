// C on the 12-bit cores, compiled by the installed chain and run in gpsim:
// calls deeper than the two-level stack (returning through the table of
// return points), values returned without W, constant tables and strings
// read through the dispatcher in page 0, initialised data, wide arithmetic
// without addlw and sublw, calls through pointers and switch tables, on
// chips of one page and bank (12F508, 10F222) and of two pages and two or
// four banks (12F509, 16F505). What the code generator cannot yet do there
// is refused with a numbered message.
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

void tool_exit(int) {}

namespace {

c_run run_on(const std::string &chip, const std::string &text)
{
    c_program p;
    p.chip = chip;
    p.files.push_back({"main.c", text});
    return c_compile_and_run(p);
}

class BaselineChips : public testing::TestWithParam<const char *> {};

// main -> e1 -> e2 -> e3 -> e4 -> e5: five calls deep, each function
// changing the global before and after its call, so a return to the wrong
// place or a lost return shows in the value; byte values returned through
// three levels, and a function called both from main and from deep down.
TEST_P(BaselineChips, CallChainsDeeperThanTheStack)
{
    NEEDS_SIMULATOR();
    c_run r = run_on(GetParam(), R"(
const unsigned char tab[4] = {2, 3, 5, 7};
unsigned char g, r1, r2, r3;
void e5(void) { g = g + tab[g & 3]; }
void e4(void) { g ^= 1; e5(); g ^= 16; }
void e3(void) { g |= 2; e4(); }
void e2(void) { e3(); g += 3; }
void e1(void) { g ^= 8; e2(); }
unsigned char d3(unsigned char x) { return x + tab[x & 3]; }
unsigned char d2(unsigned char x) { return d3(x) ^ 1; }
unsigned char d1(unsigned char x) { return d2(x) ^ 8; }
void main(void) { g = 6; e1(); r1 = g; r2 = d1(6); e4(); r3 = g + d3(1); FINISH(); }
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    // g: 6 ^ 8 = 14, | 2 = 14, ^ 1 = 15, + tab[3] = 22, ^ 16 = 6, + 3 = 9
    EXPECT_EQ(r.byte("r1"), 9);
    EXPECT_EQ(r.byte("r2"), ((6 + 5) ^ 1) ^ 8);
    // e4 from main: 9 ^ 1 = 8, + tab[0] = 10, ^ 16 = 26; d3(1) = 4
    EXPECT_EQ(r.byte("r3"), 30);
}

// Tables and a string in program memory, initialised data, a switch, 16-bit
// subtraction, addition and comparison, byte multiplication and division.
TEST_P(BaselineChips, DataAndArithmetic)
{
    NEEDS_SIMULATOR();
    c_run r = run_on(GetParam(), R"(
const unsigned char tab[5] = {2, 3, 5, 7, 11};
const char msg[] = "baseline";
unsigned char init = 42;
unsigned int w1 = 1000, w2;
unsigned char r1, r2, r3, r4, r5;
void main(void)
{
    unsigned char i;
    for (i = 0; i < 5; i++)
        r1 += tab[i];
    switch (r1) { case 28: r2 = 1; break; case 29: r2 = 2; break; default: r2 = 3; }
    r3 = msg[3] + init;
    w2 = w1 - r1;
    w2 += 300;
    if (w2 > 1200) r4 = 1;
    r5 = (unsigned char)(init * 5) / 7;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), 28);
    EXPECT_EQ(r.byte("r2"), 1);
    EXPECT_EQ(r.byte("r3"), ('e' + 42) & 0xFF);
    EXPECT_EQ(r.value("w2", 2), 1000u - 28 + 300);
    EXPECT_EQ(r.byte("r4"), 1);
    EXPECT_EQ(r.byte("r5"), ((42 * 5) & 0xFF) / 7);
}

// Calls through pointers: a variable initialised with a function, a
// constant table of them indexed by a variable, from main and from a
// function called by main (its stub runs at the caller's level of the
// stack), a target that changes a global; byte values come back in the
// argument block, not in W (retlw sets W).
TEST_P(BaselineChips, CallsThroughPointers)
{
    NEEDS_SIMULATOR();
    c_run r = run_on(GetParam(), R"(
unsigned char g;
unsigned char seven(void) { return 7; }
unsigned char twice(unsigned char x) { return x + x; }
unsigned char inc(unsigned char x) { g++; return x + 1; }
unsigned char (*const un[2])(unsigned char) = {twice, inc};
unsigned char (*g0)(void) = seven;
void level2(void) { unsigned char t = un[g & 1](g); g += t + 1; }
unsigned char r0;
void main(void) { r0 = un[0](21); r0 += g0(); g = 5; level2(); level2(); level2(); FINISH(); }
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    uint8_t g = 5;
    for (int k = 0; k < 3; k++) {
        uint8_t t;
        if (g & 1) {   // inc(g): g one more, and the value the old g + 1
            g++;
            t = g;
        } else {
            t = (uint8_t)(g + g);
        }
        g = (uint8_t)(g + t + 1);
    }
    EXPECT_EQ(r.byte("r0"), 42 + 7);
    EXPECT_EQ(r.byte("g"), g);
}

INSTANTIATE_TEST_SUITE_P(Chips, BaselineChips, testing::Values("12F508", "10F222", "12F509", "16F505"));

// On chips of two pages: arguments and values of two and four bytes, a
// table of pointers called in a loop, pointers in a structure, targets and
// a caller in page 1; and calls through a pointer from functions deeper
// than the stack holds (they return through jmptab), one target of which
// calls a function itself, so that its stub enters it by a jump and takes
// the value at a return point of its own.
class BaselineTwoPages : public testing::TestWithParam<const char *> {};

TEST_P(BaselineTwoPages, CallsThroughPointers)
{
    NEEDS_SIMULATOR();
    c_run r = run_on(GetParam(), R"(
int add(int x, int y) { return x + y; }
int sub(int x, int y) @ 0x280 { return x - y; }
long scale(long v) { return (v << 1) - 0x12345L; }
unsigned int wide(unsigned char x) { return ((unsigned int)x << 8) + x; }
int (*const ops[2])(int, int) = {add, sub};
struct holder { unsigned char tag; unsigned int (*w)(unsigned char); long (*l)(long); } h;
int ri[3];
long rl;
unsigned int rw;
unsigned char i;
void farcall(void) @ 0x300 { ri[2] = ops[1](ops[0](50, 8), 300); }
void main(void)
{
    h.w = wide;
    h.l = scale;
    for (i = 0; i < 2; i++)
        ri[i] = ops[i](1000, -77);
    farcall();
    rl = h.l(-100000L);
    rw = h.w(211);
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ((int16_t)r.value("ri", 2), 1000 - 77);
    EXPECT_EQ((int16_t)(r.value("ri", 4) >> 16), 1000 + 77);
    EXPECT_EQ((int16_t)(r.byte("ri", 4) | r.byte("ri", 5) << 8), 50 + 8 - 300);
    EXPECT_EQ((int32_t)r.value("rl", 4), -100000 * 2 - 0x12345);
    EXPECT_EQ(r.value("rw", 2), 211u * 257);

    c_run deep = run_on(GetParam(), R"(
unsigned char g, trail;
void bump(void) { g++; trail = trail * 2 + 1; }
unsigned char twice(unsigned char x) { trail = trail * 2; return x + x; }
unsigned char inc(unsigned char x) { bump(); return x + 1; }
unsigned char (*const un[2])(unsigned char) = {twice, inc};
unsigned char apply(unsigned char (*f)(unsigned char), unsigned char x) { return f(f(x)) ^ 3; }
unsigned char d1(unsigned char x) { return apply(un[x & 1], x); }
void d2(void) { unsigned char t = d1(g); g += t; }
unsigned char r2;
void main(void) { r2 = d1(5); g = 10; d2(); d2(); FINISH(); }
)");
    ASSERT_EQ(deep.status, 0) << deep.output;
    ASSERT_TRUE(deep.finished) << deep.log;
    uint8_t g = 0, trail = 0;
    auto twice = [&](uint8_t x) -> uint8_t {
        trail = (uint8_t)(trail * 2);
        return (uint8_t)(x + x);
    };
    auto inc = [&](uint8_t x) -> uint8_t {
        g++;
        trail = (uint8_t)(trail * 2 + 1);
        return (uint8_t)(x + 1);
    };
    auto d1 = [&](uint8_t x) -> uint8_t {
        uint8_t y = (x & 1) ? inc(x) : twice(x);
        y = (x & 1) ? inc(y) : twice(y);
        return (uint8_t)(y ^ 3);
    };
    uint8_t r2 = d1(5);
    g = 10;
    for (int k = 0; k < 2; k++) {
        uint8_t t = d1(g);
        g = (uint8_t)(g + t);
    }
    EXPECT_EQ(deep.byte("r2"), r2);
    EXPECT_EQ(deep.byte("g"), g);
    EXPECT_EQ(deep.byte("trail"), trail);
}

INSTANTIATE_TEST_SUITE_P(Chips, BaselineTwoPages, testing::Values("12F509", "16F505"));

// Switch tables: long jumps in page 0's first half, entered with the index
// times a long jump's words in W (one word on one page, two on two), for
// a byte from 0, a signed byte from -2 in a function in page 1 and an int
// from 100 (the values of each folded into one); under "#pragma switch direct"
// and under "auto", which keeps the chains that a table would not make
// smaller or that would need a temporary for the index. Every value from
// below the lowest case to above the highest.
class BaselineSwitchTables : public testing::TestWithParam<std::pair<const char *, const char *>> {};

TEST_P(BaselineSwitchTables, DenseCasesEveryValue)
{
    NEEDS_SIMULATOR();
    std::string kind = GetParam().second;
    std::string pragma = "#pragma switch " + kind + "\n";
    std::string place = std::string(GetParam().first) == "16F505" ? " @ 0x250" : "";
    c_run r = run_on(GetParam().first, "unsigned int osum, wsum;\n"
                                      "unsigned char pick(unsigned char v)\n{\n" + pragma +
                                          "    switch (v) {\n"
                                          "    case 0: return 11; case 1: return 22; case 2: return 33;\n"
                                          "    case 3: return 44; case 5: return 55; case 6: return 66;\n"
                                          "    case 7: return 77; default: return 99;\n    }\n}\n"
                                          "unsigned char sel(signed char v)" + place + "\n{\n" + pragma +
                                          "    switch (v) {\n"
                                          "    case -2: return 1; case -1: return 2; case 0: return 3;\n"
                                          "    case 1: return 4; case 2: return 5; case 3: return 6;\n"
                                          "    case 4: return 7;\n    }\n    return 0;\n}\n"
                                          "int wsel(int v)\n{\n" + pragma +
                                          "    switch (v) {\n"
                                          "    case 100: return 1000; case 101: return -1; case 102: return 7;\n"
                                          "    case 103: return 8; case 105: return 9; case 106: return 10;\n"
                                          "    case 107: return 11; case 108: return 12; default: return 5;\n"
                                          "    }\n}\n"
                                          "void main(void)\n{\n    unsigned char i;\n"
                                          "    for (i = 0; i < 9; i++)\n"
                                          "        osum = (osum << 1) ^ (unsigned char)(pick(i) + sel((signed char)(i - 3)));\n"
                                          "    osum = (osum << 1) ^ (unsigned char)(sel(-3) + pick(255));\n"
                                          "    for (i = 0; i < 6; i++)\n"
                                          "        wsum = (wsum << 1) ^ wsel(99 + 2 * i);\n"
                                          "    FINISH();\n}\n");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    auto pick = [](int v) {
        static const int k[8] = {11, 22, 33, 44, 99, 55, 66, 77};
        return v >= 0 && v < 8 ? k[v] : 99;
    };
    auto sel = [](int v) { return v >= -2 && v <= 4 ? v + 3 : 0; };
    auto wsel = [](int v) {
        static const int k[9] = {1000, -1, 7, 8, 5, 9, 10, 11, 12};
        return v >= 100 && v <= 108 ? k[v - 100] : 5;
    };
    unsigned osum = 0;
    for (int i = 0; i < 9; i++)
        osum = ((osum << 1) ^ ((pick(i) + sel(i - 3)) & 0xFF)) & 0xFFFF;
    osum = ((osum << 1) ^ ((sel(-3) + pick(255)) & 0xFF)) & 0xFFFF;
    EXPECT_EQ(r.value("osum", 2), osum);
    unsigned wsum = 0;
    for (int i = 0; i < 6; i++)
        wsum = ((wsum << 1) ^ (unsigned)wsel(99 + 2 * i)) & 0xFFFF;
    EXPECT_EQ(r.value("wsum", 2), wsum);
}

INSTANTIATE_TEST_SUITE_P(Chips, BaselineSwitchTables,
                         testing::Values(std::make_pair("16F505", "direct"), std::make_pair("16F505", "auto"),
                                         std::make_pair("12F508", "direct"), std::make_pair("12F508", "auto"),
                                         std::make_pair("10F222", "direct")));

// Carries between bytes without addlw: sums and differences whose carries
// run through every byte, with the operands in different banks, signed
// division and remainder of ints, and a negation.
TEST(BaselineArithmetic, CarriesSignsAndBanks)
{
    NEEDS_SIMULATOR();
    c_run r = run_on("16F505", R"(
unsigned long a = 0x00FFFFFFul, b;
bank1 unsigned int x = 0x01FF;
bank2 unsigned int y = 0x00FF;
int q, m;
signed char n = 100, neg;
void main(void)
{
    b = a + 1;
    a -= 0x01000000ul;
    x += y;
    y -= 0x0100;
    q = -300 / 7;
    m = -300 % 7;
    neg = -n;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.value("b", 4), 0x01000000u);
    EXPECT_EQ(r.value("a", 4), 0xFFFFFFFFu);
    EXPECT_EQ(r.value("x", 2), 0x02FEu);
    EXPECT_EQ(r.value("y", 2), 0xFFFFu);
    EXPECT_EQ(r.value("q", 2), (unsigned)(-300 / 7) & 0xFFFF);
    EXPECT_EQ(r.value("m", 2), (unsigned)(-300 % 7) & 0xFFFF);
    EXPECT_EQ(r.byte("neg"), (-100) & 0xFF);
}

// A computed jump reaches only the first half of a page: constant data
// that would run past 0xFF of page 0 fails the link with a numbered
// message instead of being read from the wrong place; 250 bytes fit.
TEST(BaselineTables, TablesPastTheFirstHalfPageFailTheLink)
{
    NEEDS_SIMULATOR();
    for (int size : {250, 254}) {
        std::string values;
        int sum = 0;
        for (int i = 0; i < size; i++) {
            values += (i ? "," : "") + std::to_string(i * 7 & 0xFF);
            sum += i * 7 & 0xFF;
        }
        c_run r = run_on("12F508", "const unsigned char big[" + std::to_string(size) + "] = {" + values +
                                       "};\nunsigned char i, r;\nvoid main(void)\n{\n    for (i = 0; i < " +
                                       std::to_string(size) + "; i++)\n        r += big[i];\n    FINISH();\n}\n");
        if (size == 250) {
            ASSERT_EQ(r.status, 0) << r.output;
            ASSERT_TRUE(r.finished) << r.log;
            EXPECT_EQ(r.byte("r"), sum & 0xFF);
        } else {
            EXPECT_NE(r.status, 0);
            EXPECT_NE(r.output.find("(1268) fixup overflow"), std::string::npos) << r.output;
        }
    }
}

// OPTION and the TRIS registers have no data address: a store into one is
// the OPTION or TRIS instruction. Timer 0 counts the instruction clock only
// once OPTION clears T0CS; a port's pins driven as outputs read back what
// was written. Reading one of them is refused.
TEST(BaselineControlRegisters, OptionAndTrisAreWrittenByTheirInstructions)
{
    NEEDS_SIMULATOR();
    c_run r = run_on("12F509", R"(
unsigned char before, after, pins;
void main(void)
{
    unsigned char i, t;
    t = TMR0;
    for (i = 0; i < 20; i++)
        ;
    before = TMR0 - t;
    OPTION_REG = 0xC8;   /* timer on the instruction clock, prescaler to the watchdog */
    t = TMR0;
    for (i = 0; i < 20; i++)
        ;
    after = TMR0 - t;
    TRISIO = 0x08;
    GPIO = 0x05;
    pins = GPIO & 0x07;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("before"), 0);
    EXPECT_GT(r.byte("after"), 20);
    EXPECT_EQ(r.byte("pins"), 5);
    c_run refused = run_on("16F505", "unsigned char x;\nvoid main(void) { TRISB = 0; x = TRISC; FINISH(); }\n");
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("(712)"), std::string::npos) << refused.output;
}

// What the 12-bit cores cannot run, or this code generator cannot yet make
// for them, is refused at its line with message 1490.
TEST(BaselineRefusals, NumberedMessages)
{
    struct refusal {
        const char *text;
        const char *what;
    } cases[] = {
        {"void interrupt isr(void) { }\nvoid main(void) { FINISH(); }", "which have no interrupts"},
    };
    for (const refusal &c : cases) {
        c_program p;
        p.chip = "12F508";
        p.files.push_back({"main.c", c.text});
        c_run r = c_compile(p);
        EXPECT_NE(r.status, 0) << c.text;
        EXPECT_NE(r.output.find("(1490)"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(c.what), std::string::npos) << r.output;
    }
}

// The bank bits are FSR's: reading or writing another bank's object while
// FSR points moves the pointer, so the target's bank is selected again
// before each access through it. Where the target's bank is not known (a
// pointer to objects of two banks) such code is refused, never made wrong.
TEST(BaselinePointers, AccessesAcrossBanks)
{
    NEEDS_SIMULATOR();
    // arrays of 12 bytes: no two share a bank of 16
    c_run r = run_on("16F505", R"(
unsigned char a[12];
unsigned char b[12];
unsigned char v[12];
unsigned int w1[6];
unsigned char k, sum;
unsigned int got;
void put(unsigned char *q) { *q = v[k]; }
void main(void)
{
    for (k = 0; k < 12; k++)
        v[k] = k * 3;
    k = 5;
    put(&a[2]);
    put(&b[7]);
    w1[3] = 1000;
    got = w1[3] + w1[k - 2];
    for (k = 0; k < 12; k++)
        sum += a[k] + b[k];
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("a", 2), 15);
    EXPECT_EQ(r.byte("b", 7), 15);
    EXPECT_EQ(r.byte("sum"), 30);
    EXPECT_EQ(r.value("got", 2), 2000u);

    c_program p;
    p.chip = "16F505";
    p.files.push_back({"main.c", R"(
unsigned char x0[12];
unsigned char x1[12];
unsigned char x2[12];
unsigned char k;
void put(unsigned char *q) { *q = x2[3]; }
void main(void) { put(&x0[1]); put(&x1[1]); FINISH(); }
)"});
    c_run refused = c_compile(p);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("(1490) accesses through pointers mixed with objects of other banks"),
              std::string::npos)
        << refused.output;
}

} // namespace
