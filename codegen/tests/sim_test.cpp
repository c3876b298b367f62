// C programs compiled by the installed chain and run in gpsim: the values
// they leave in RAM against values this test computes itself (host
// arithmetic with C's promotion rules, or a comment's hand computation).
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>

void tool_exit(int) {}

static c_program program(const std::string &text, const std::string &options = "")
{
    c_program p;
    p.files.push_back({"main.c", text});
    p.options = options;
    return p;
}

static std::string explain(const c_run &r)
{
    return "driver said:\n" + r.output + "\nfolder: " + r.dir;
}

// ---------------------------------------------------------------------------
// every operator on bytes, against the host
// ---------------------------------------------------------------------------
// One operation: the C text of its result and the host's value of it.
struct op_case {
    std::string text;   // statement(s) setting r_<n>
    int want;           // the byte it must leave
};

// A C operator on promoted operands, as the host computes it (an int wide
// enough that nothing a byte operand gives overflows it).
static long host_binary(const std::string &op, long a, long b)
{
    if (op == "+") return a + b;
    if (op == "-") return a - b;
    if (op == "*") return a * b;
    if (op == "/") return a / b;
    if (op == "%") return a % b;
    if (op == "&") return a & b;
    if (op == "|") return a | b;
    if (op == "^") return a ^ b;
    if (op == "<<") return a << b;
    if (op == ">>") return a >> b;
    if (c_comparison(op, a, b) >= 0) return c_comparison(op, a, b);
    if (op == "&&") return a && b;
    if (op == "||") return a || b;
    return 0;
}

// A value as a byte of the type (signed or not) reads it.
static long as_type(long v, bool is_signed)
{
    uint8_t u = (uint8_t)v;
    return is_signed ? (long)(int8_t)u : (long)u;
}

// Builds a program that sets one result per case and checks every result.
static void run_cases(const std::vector<op_case> &cases, const std::string &decls)
{
    std::ostringstream src;
    src << decls;
    for (size_t i = 0; i < cases.size(); i++)
        src << "unsigned char r_" << i << ";\n";
    src << "void main(void)\n{\n";
    for (const op_case &c : cases)
        src << "    " << c.text << "\n";
    src << "    FINISH();\n}\n";
    c_run r = c_compile_and_run(program(src.str()));
    ASSERT_EQ(r.status, 0) << explain(r) << "\n" << src.str();
    ASSERT_TRUE(r.finished) << r.log << "\n" << src.str();
    for (size_t i = 0; i < cases.size(); i++)
        EXPECT_EQ(r.byte("r_" + std::to_string(i)), cases[i].want & 0xFF) << cases[i].text;
}

struct byte_type {
    const char *name;
    bool is_signed;
};

static const byte_type byte_types[] = {{"unsigned char", false}, {"signed char", true}};

// Operand pairs: the boundaries of both types and a few values between.
static const long operand_pairs[][2] = {
    {0, 0}, {1, 1}, {127, 1}, {128, 255}, {255, 2}, {200, 7}, {3, 100}, {100, 3}, {129, 127}, {254, 128},
};

static bool divides_by_zero(const std::string &op, long b)
{
    return (op == "/" || op == "%") && b == 0;
}

static void binary_cases(const std::vector<std::string> &ops, bool compound)
{
    for (const byte_type &t : byte_types) {
        std::vector<op_case> cases;
        for (const std::string &op : ops)
            for (auto &pair : operand_pairs) {
                long a = as_type(pair[0], t.is_signed), b = as_type(pair[1], t.is_signed);
                if (op == "<<" || op == ">>")
                    b = pair[1] & 7;   // a count the type's width allows
                if (divides_by_zero(op, b))
                    continue;
                long want = host_binary(op, a, b);
                size_t n = cases.size();
                std::string r = "r_" + std::to_string(n);
                std::string sa = std::to_string(a), sb = std::to_string(b);
                std::string set = "a = " + sa + "; b = " + sb + "; ";
                if (compound) {
                    cases.push_back({set + "x = a; x " + op + "= b; " + r + " = x;", (int)as_type(want, t.is_signed)});
                    continue;
                }
                // variable with variable, with a constant on either side
                cases.push_back({set + r + " = a " + op + " b;", (int)want});
                if (n % 3 == 1)
                    cases.back() = {set + r + " = a " + op + " (" + sb + ");", (int)want};
                else if (n % 3 == 2)
                    cases.back() = {set + r + " = (" + sa + ") " + op + " b;", (int)want};
            }
        std::string decls = std::string(t.name) + " a, b, x;\n";
        SCOPED_TRACE(t.name);
        run_cases(cases, decls);
    }
}

TEST(ByteOperators, ArithmeticMatchesTheHost)
{
    NEEDS_SIMULATOR();
    binary_cases({"+", "-", "*", "/", "%"}, false);
}

TEST(ByteOperators, LogicAndShiftsMatchTheHost)
{
    NEEDS_SIMULATOR();
    binary_cases({"&", "|", "^", "<<", ">>"}, false);
}

TEST(ByteOperators, ComparisonsMatchTheHost)
{
    NEEDS_SIMULATOR();
    binary_cases({"==", "!=", "<", "<=", ">", ">=", "&&", "||"}, false);
}

TEST(ByteOperators, CompoundAssignmentsMatchTheHost)
{
    NEEDS_SIMULATOR();
    binary_cases({"+", "-", "*", "/", "%", "&", "|", "^", "<<", ">>"}, true);
}

TEST(ByteOperators, UnaryOperatorsAndIncrementsMatchTheHost)
{
    NEEDS_SIMULATOR();
    for (const byte_type &t : byte_types) {
        std::vector<op_case> cases;
        for (long v : {0L, 1L, 127L, 128L, 255L, 42L}) {
            long a = as_type(v, t.is_signed);
            std::string set = "a = " + std::to_string(a) + "; ";
            auto add = [&](const std::string &expr, long want) {
                cases.push_back({set + "r_" + std::to_string(cases.size()) + " = " + expr + ";", (int)want});
            };
            add("-a", -a);
            add("~a", ~a);
            add("!a", !a);
            add("a++", a);
            add("a--", a);
            add("++a", as_type(a + 1, t.is_signed));
            add("--a", as_type(a - 1, t.is_signed));
            add("a ? 5 : 9", a ? 5 : 9);
            add("(a > 3) + (a < 200)", (a > 3) + (a < 200));
        }
        std::string decls = std::string(t.name) + " a;\n";
        SCOPED_TRACE(t.name);
        run_cases(cases, decls);
    }
}

// A shift by a count held in a variable, every count of the byte's width.
TEST(ByteOperators, ShiftsByVariableCounts)
{
    NEEDS_SIMULATOR();
    for (const byte_type &t : byte_types) {
        std::vector<op_case> cases;
        for (int n = 0; n < 8; n++)
            for (long v : {0x96L, 0x5AL}) {
                long a = as_type(v, t.is_signed);
                std::string set = "a = " + std::to_string(a) + "; n = " + std::to_string(n) + "; ";
                std::string r = "r_" + std::to_string(cases.size());
                cases.push_back({set + r + " = a >> n;", (int)(a >> n)});
                r = "r_" + std::to_string(cases.size());
                cases.push_back({set + r + " = a << n;", (int)(a << n)});
                r = "r_" + std::to_string(cases.size());
                cases.push_back({set + "x = a; x >>= n; " + r + " = x;", (int)(a >> n)});
            }
        std::string decls = std::string(t.name) + " a, x;\nunsigned char n;\n";
        SCOPED_TRACE(t.name);
        run_cases(cases, decls);
    }
}

// Truth values (comparisons, ! && ||) are ints of 0 and 1 wherever C puts
// them: in an arm of ?: beside a byte, masked, negated, ordered against
// constants, beside a call or a side effect, and returned.
TEST(TruthValues, AreIntsBesideBytesCallsAndEffects)
{
    NEEDS_SIMULATOR();
    std::string decls = R"(unsigned char u0, u1, u2, u3, x;
signed char s0, s1, s3;
unsigned char f1(unsigned char a) { return a + 1; }
signed char g(signed char p) { return p ? (u2 || u1) : 5; }
signed char h(signed char p) { return p ? ((!u2) || (s0 | u1)) : !2; }
)";
    std::vector<op_case> cases = {
        {"u0 = 200; u1 = 7; u2 = 0; u3 = 130; s0 = -3; s1 = 5; s3 = -128; r_0 = 0;", 0},
        {"r_1 = u1 << ((u1 == u0 ? !s0 : u3) & 7);", 7 << 2},    // the int arm, masked to 2
        {"r_2 = u1 << ((u1 != u0 ? !s0 : u3) & 7);", 7},
        {"r_3 = (u2 || u0) & 6;", 0},                              // 1 & 6
        {"r_4 = ((u2 || u0) & -55) + 3;", 4},
        {"r_5 = f1((s0 < s1) | (u1 >= f1(u1)));", 2},
        {"r_6 = 3; r_6 |= (s0 > s1) | (u1 >= f1(u2)) | 4;", 7},
        {"r_7 = 5; r_7 &= (s0 > s1) | ((x = u1) >= u0);", 0},      // both operands evaluated
        {"r_8 = x;", 7},
        {"r_9 = u3 - ((u1 / (u0 | 1)) + (-(u2 || 222)));", 131},   // -(1) is -1, not a bit
        {"r_10 = ((u1 > u0) < 1) + ((u1 < u0) > 0) * 2 + ((u2 != 0) > -1) * 4;", 7},
        {"if ((s3 & u3) | 0) r_11 = 1; else r_11 = 2;", 1},         // -128 & 130 is 128
        {"if (s0 & u2) r_12 = 1; else r_12 = 2;", 2},
        {"r_13 = g(1);", 1},
        {"r_14 = g(0);", 5},
        {"r_15 = h(1);", 1},
        {"r_16 = h(0);", 0},
        {"r_17 = u1 ? 1 : 0;", 1},                                   // a byte's truth: not zero,
        {"r_18 = u3 ? 0 : 1;", 0},                                   // not its bit 0
        {"r_19 = (u1 ? 1 : (s1 - s1)) & 7;", 1},
        {"r_20 = s3 ? 1 : 0;", 1},
    };
    run_cases(cases, decls);
}

// ---------------------------------------------------------------------------
// calls, frames, pages, banks
// ---------------------------------------------------------------------------
TEST(Calls, ParametersReturnsAndCallsInArguments)
{
    NEEDS_SIMULATOR();
    c_run r = c_compile_and_run(program(R"(
unsigned char r0, r1, r2, r3, r4, r5, side, x, y;
unsigned char f0(void) { return 7; }
unsigned char f1(unsigned char a) { return a + 1; }
unsigned char f2(unsigned char a, signed char b) { return a - b; }
unsigned char f3(unsigned char a, unsigned char b, unsigned char c) { return a * b + c; }
void v(void) { side = 9; }
void main(void)
{
    r0 = f0();
    r1 = f1(41);
    r2 = f2(10, -3);
    r3 = f3(3, 4, 5);
    v();
    r4 = f3(f1(1), f2(f0(), 2), f1(f1(3)));   /* f3(2, 5, 5) = 15 */
    x = 6;
    y = 2;
    r5 = x + f1(y) * f0();                    /* 6 + 3 * 7 = 27 */
    FINISH();
}
)"));
    ASSERT_EQ(r.status, 0) << explain(r);
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r0"), 7);
    EXPECT_EQ(r.byte("r1"), 42);
    EXPECT_EQ(r.byte("r2"), 13);
    EXPECT_EQ(r.byte("r3"), 17);
    EXPECT_EQ(r.byte("side"), 9);
    EXPECT_EQ(r.byte("r4"), 15);
    EXPECT_EQ(r.byte("r5"), 27);
}

// Sibling callees share their frames; the caller's own frame lies above
// neither, so its locals live on across both calls.
TEST(Calls, SiblingFramesOverlapAndTheCallersSurvive)
{
    NEEDS_SIMULATOR();
    c_run r = c_compile_and_run(program(R"(
unsigned char r1, r2, r3;
unsigned char sib1(unsigned char a) { unsigned char t, u; t = a + 1; u = t * 2; return u + t; }
unsigned char sib2(unsigned char a) { unsigned char p, q; p = a ^ 0xFF; q = p - 1; return q & p; }
unsigned char outer(unsigned char k)
{
    unsigned char keep1, keep2;
    keep1 = k + 10;
    keep2 = k + 20;
    r1 = sib1(k);          /* t = 4, u = 8: 12 */
    r2 = sib2(k);          /* p = 0FCh, q = 0FBh: 0F8h */
    return keep1 + keep2;  /* 13 + 23 = 36 */
}
void main(void)
{
    r3 = outer(3);
    FINISH();
}
)"));
    ASSERT_EQ(r.status, 0) << explain(r);
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), 12);
    EXPECT_EQ(r.byte("r2"), 0xF8);
    EXPECT_EQ(r.byte("r3"), 36);
    // the overlay: both siblings' auto blocks at one address, above outer's
    ASSERT_TRUE(r.symbols.count("??_sib1") && r.symbols.count("??_sib2") && r.symbols.count("??_outer"));
    EXPECT_EQ(r.symbols["??_sib1"], r.symbols["??_sib2"]);
    EXPECT_GT(r.symbols["??_sib1"], r.symbols["??_outer"]);
}

// Functions placed in pages 1 and 3 of an 8K chip call each other and back.
TEST(Calls, IntoOtherPagesAndBack)
{
    NEEDS_SIMULATOR();
    c_run r = c_compile_and_run(program(R"(
unsigned char trail, r1;
unsigned char near0(unsigned char a) { trail = trail * 4 + 1; return a + 1; }
unsigned char far3(unsigned char a) @ 0x1800 { trail = trail * 4 + 3; return near0(a) * 2; }
unsigned char far1(unsigned char a) @ 0x800 { unsigned char b; trail = 2; b = far3(a + 1); trail = trail * 4 + 2; return b + 100; }
void main(void)
{
    r1 = far1(4);     /* far3(5): near0(5) = 6, * 2 = 12; + 100 = 112 */
    FINISH();
}
)"));
    ASSERT_EQ(r.status, 0) << explain(r);
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.address("far1"), 0x800);
    EXPECT_EQ(r.address("far3"), 0x1800);
    EXPECT_EQ(r.byte("r1"), 112);
    EXPECT_EQ(r.byte("trail"), ((2 * 4 + 3) * 4 + 1) * 4 + 2);   // 2, 3, 1, 2 in base 4
}

// Globals in every bank and in common memory, by qualifier and by address.
TEST(Banks, ObjectsInEveryBankAreReadAndWritten)
{
    NEEDS_SIMULATOR();
    c_run r = c_compile_and_run(program(R"(
bank0 unsigned char g0;
bank1 unsigned char g1;
bank2 unsigned char g2;
bank3 unsigned char g3;
near unsigned char gc;
unsigned char a2 @ 0x150;
unsigned char a3 @ 0x1D0;
void main(void)
{
    g0 = 1;
    g1 = g0 + 1;
    g2 = g1 + g0 + 1;
    g3 = g2 * 2;
    gc = g3 + g1;
    a2 = gc - g0;
    a3 = a2 ^ g2;
    g0 = a3 + a2;
    FINISH();
}
)", "--bankqual=require"));
    ASSERT_EQ(r.status, 0) << explain(r);
    ASSERT_TRUE(r.finished) << r.log;
    struct { const char *name; long lo, hi; int want; } rows[] = {
        {"g0", 0x20, 0x7F, 13 + 9}, {"g1", 0xA0, 0xEF, 2},    {"g2", 0x110, 0x16F, 4},
        {"g3", 0x190, 0x1EF, 8},    {"gc", 0x70, 0x7F, 10},   {"a2", 0x150, 0x150, 9},
        {"a3", 0x1D0, 0x1D0, 9 ^ 4},
    };
    for (auto &row : rows) {
        EXPECT_GE(r.address(row.name), row.lo) << row.name;
        EXPECT_LE(r.address(row.name), row.hi) << row.name;
        EXPECT_EQ(r.byte(row.name), row.want) << row.name;
    }
}

TEST(Loops, AThousandIterations)
{
    NEEDS_SIMULATOR();
    c_run r = c_compile_and_run(program(R"(
unsigned char lo, hi, i, j;
void main(void)
{
    for (i = 0; i < 4; i++)
        for (j = 0; j < 250; j++)
            if (++lo == 0)
                hi++;
    FINISH();
}
)"));
    ASSERT_EQ(r.status, 0) << explain(r);
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("hi") * 256 + r.byte("lo"), 1000);
}

// ---------------------------------------------------------------------------
// what the whole-program pass reports
// ---------------------------------------------------------------------------
static bool says(const c_run &r, int number)
{
    return r.output.find("(" + std::to_string(number) + ")") != std::string::npos;
}

TEST(Messages, RecursionWithAFrameFailsTheLink)
{
    c_run r = c_compile(program(R"(
unsigned char down(unsigned char n) { if (n == 0) return 0; return down(n - 1) + 1; }
unsigned char r1;
void main(void) { r1 = down(3); FINISH(); }
)"));
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(says(r, 1089)) << r.output;
    EXPECT_TRUE(says(r, 471)) << r.output;
    EXPECT_FALSE(tool_read(r.dir + "/main.hex").size()) << "no HEX file for a program that failed";
}

TEST(Messages, RecursionWithoutAFrameRuns)
{
    NEEDS_SIMULATOR();
    c_run r = c_compile_and_run(program(R"(
unsigned char count, calls;
void down(void) { calls++; if (count) { count--; down(); } }
void main(void) { count = 4; down(); FINISH(); }
)"));
    EXPECT_EQ(r.status, 0) << explain(r);
    EXPECT_TRUE(says(r, 1089)) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("calls"), 5);
    EXPECT_EQ(r.byte("count"), 0);
}

TEST(Messages, UncalledFunctionsAndUnusedObjects)
{
    const char *text = R"(
unsigned char used, unused;
void never(void) { used = 2; }
void main(void) { used = 1; FINISH(); }
)";
    c_run r = c_compile(program(text));
    EXPECT_EQ(r.status, 0) << explain(r);
    EXPECT_TRUE(says(r, 520)) << r.output;
    EXPECT_FALSE(says(r, 1090)) << "unused objects are reported at warning level -1 only:\n" << r.output;
    r = c_compile(program(text, "--warn=-1"));
    EXPECT_EQ(r.status, 0) << explain(r);
    EXPECT_TRUE(says(r, 1090)) << r.output;
    EXPECT_NE(r.output.find("\"_unused\" is not used"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("\"_used\" is not used"), std::string::npos) << r.output;
}

// ---------------------------------------------------------------------------
// the bundled example
// ---------------------------------------------------------------------------
// PORTB at two moments of the run of the blink example: it counts.
TEST(Examples, BlinkCountsOnPortB)
{
    NEEDS_SIMULATOR();
    c_program p = program(tool_read(ZEPH_SOURCE_DIR "/examples/blink/main.c"));
    p.prelude = false;
    c_run r = c_compile(p);
    ASSERT_EQ(r.status, 0) << explain(r);
    tool_write(r.dir + "/run.stc", "break c 20000\nrun\ndump\nbreak c 23456\nrun\ndump\nquit\n");
    int st;
    std::string log = tool_run(r.dir, "gpsim -i -S disable -p p16f877a -I '" + r.dir + "/run.stc' main.hex", &st);
    std::vector<unsigned> portb, trisb;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("0000:", 0) == 0)
            portb.push_back(std::stoul(line.substr(7 + 6 * 3, 2), nullptr, 16));
        if (line.rfind("0080:", 0) == 0)
            trisb.push_back(std::stoul(line.substr(7 + 6 * 3, 2), nullptr, 16));
    }
    ASSERT_EQ(portb.size(), 2u) << log;
    ASSERT_EQ(trisb.size(), 2u) << log;
    EXPECT_EQ(trisb[0], 0u) << "PORTB's pins are outputs";
    EXPECT_NE(portb[0], portb[1]) << "PORTB counts:\n" << log;
}

// ---------------------------------------------------------------------------
// bit objects
// ---------------------------------------------------------------------------
TEST(Bits, SetClearTestAndReadAsBytes)
{
    NEEDS_SIMULATOR();
    c_run r = c_compile_and_run(program(R"(
bit f1, f2, f3, f4, f5, f6, f7, f8, f9;
unsigned char a, b, r1, r2, r3, r4, r5, r6;
void main(void)
{
    f1 = 1;
    f2 = 0;
    a = 7;
    b = 9;
    f3 = a < b;          /* 1 */
    f4 = a == b;         /* 0 */
    f5 = a;              /* 7 is not 0: 1 */
    f6 = a - 7;          /* 0 */
    f9 = 1;              /* the ninth bit: a second byte */
    r1 = f1;             /* 1 */
    r2 = f2 + f3 + f5;   /* 0 + 1 + 1 = 2 */
    if (f1)
        r3 = 0x11;
    if (!f2)
        r4 = 0x22;
    if (f4)
        r5 = 0x33;       /* not reached */
    r6 = f9 ? 0x44 : 0x55;
    TRISB = 0;
    PORTB = 0;
    RB3 = 1;             /* a register bit of the chip header */
    RB5 = f3;
    TRISB7 = RB3;        /* bank 1 from bank 0: 1 */
    TRISB1 = RB3;
    TRISB1 = f4;         /* 0 again */
    FINISH();
}
)"));
    ASSERT_EQ(r.status, 0) << explain(r);
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), 1);
    EXPECT_EQ(r.byte("r2"), 2);
    EXPECT_EQ(r.byte("r3"), 0x11);
    EXPECT_EQ(r.byte("r4"), 0x22);
    EXPECT_EQ(r.byte("r5"), 0);
    EXPECT_EQ(r.byte("r6"), 0x44);
    EXPECT_EQ(r.ram[6], 0x28u) << "PORTB: bits 3 and 5";
    EXPECT_EQ(r.ram[0x86], 0x80u) << "TRISB: bit 7";
}

// ---------------------------------------------------------------------------
// the assembly for the linker
// ---------------------------------------------------------------------------
// The frames and the call graph reach the linker as directives, which the
// assembler and the linker take without a warning.
TEST(Assembly, DirectivesForTheLinkerAndNoWarnings)
{
    const char *text = R"(
unsigned char a, r;
unsigned char add(unsigned char x, unsigned char y) { unsigned char t; t = x + y; return t; }
void main(void) { r = add(a, 2); FINISH(); }
)";
    c_run r = c_compile(program(text, "-S"));
    ASSERT_EQ(r.status, 0) << explain(r);
    std::string as = tool_read(r.dir + "/main.as");
    for (const char *line : {"\tFNCONF\tfnautoc,??,?", "\tFNSIZE\t_add,2,1", "\tFNSIZE\t_main,0,0",
                             "\tFNCALL\t_main,_add", "\tFNROOT\t_main", "\tsignat\t_add,"})
        EXPECT_NE(as.find(line), std::string::npos) << line << "\n" << as;
    r = c_compile(program(text));
    ASSERT_EQ(r.status, 0) << explain(r);
    EXPECT_EQ(r.output.find("warning"), std::string::npos) << r.output;
}

// The 16F877A returns through an 8-level stack: a ninth nested call is named.
TEST(Messages, CallsDeeperThanTheHardwareStack)
{
    std::string text = "unsigned char r;\nvoid f9(void) { r = 9; }\n";
    for (int i = 8; i >= 1; i--)
        text += "void f" + std::to_string(i) + "(void) { r = " + std::to_string(i) + "; f" + std::to_string(i + 1) +
                "(); }\n";
    text += "void main(void) { f1(); FINISH(); }\n";
    c_run r = c_compile(program(text));
    EXPECT_EQ(r.status, 0) << explain(r);
    EXPECT_NE(r.output.find("(1258) possible stack overflow when calling function \"_f9\""), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("\"_f8\""), std::string::npos) << r.output;
}

// ---------------------------------------------------------------------------
// start-up
// ---------------------------------------------------------------------------
// Objects set before a restart read 0 after it, in every bank and in common
// memory, bytes and bits; a persistent object keeps its value.
TEST(StartUp, RestartClearsObjectsButNotPersistentOnes)
{
    NEEDS_SIMULATOR();
    c_run r = c_compile_and_run(program(R"(
bank0 unsigned char g0;
bank1 unsigned char g1;
bank2 unsigned char g2;
bank3 unsigned char g3;
near unsigned char gc;
bit b1, b2, b3, b4, b5, b6, b7, b8, b9, b10;
persistent unsigned char restarts;
void main(void)
{
    if (restarts == 0) {
        restarts = 1;
        g0 = g1 = g2 = g3 = gc = 0x5A;
        b1 = b2 = b3 = b4 = b5 = b6 = b7 = b8 = b9 = b10 = 1;
        asm("ljmp start");
    }
    restarts++;
    FINISH();
}
)", "--bankqual=require"));
    ASSERT_EQ(r.status, 0) << explain(r);
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("restarts"), 2);
    for (const char *name : {"g0", "g1", "g2", "g3", "gc"})
        EXPECT_EQ(r.byte(name), 0) << name;
    for (int i = 1; i <= 10; i++) {
        long bit = r.address("b" + std::to_string(i));
        ASSERT_GE(bit, 0) << i;
        EXPECT_EQ((r.ram[(unsigned)bit / 8] >> (bit % 8)) & 1, 0u) << "b" << i;
    }
}
