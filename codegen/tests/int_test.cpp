// Integers of 16, 24 and 32 bits compiled by the installed chain and run in
// gpsim: every operator, at the boundaries of each type, against the host's
// two's-complement arithmetic in the width and signedness of the type.
#include "csim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

void tool_exit(int) {}

namespace {

struct int_type {
    const char *name;
    int bits;
    bool is_signed;
};

const int_type int_types[] = {
    {"int", 16, true},           {"unsigned int", 16, false}, {"short long", 24, true},
    {"unsigned short long", 24, false}, {"long", 32, true},   {"unsigned long", 32, false},
};

// v as the type holds it.
int64_t wrap(int64_t v, const int_type &t)
{
    uint64_t mask = (1ull << t.bits) - 1;
    uint64_t u = (uint64_t)v & mask;
    if (t.is_signed && (u >> (t.bits - 1)) & 1)
        return (int64_t)(u | ~mask);
    return (int64_t)u;
}

// The boundaries of a type, and values around the byte boundaries inside.
std::vector<int64_t> boundary_values(const int_type &t)
{
    int64_t max = t.is_signed ? (1ll << (t.bits - 1)) - 1 : (1ll << t.bits) - 1;
    int64_t min = t.is_signed ? -(1ll << (t.bits - 1)) : 0;
    return {0, 1, max, min, wrap(-1, t), 0xFF, wrap(0x12345678, t), wrap(0x80FF7F01, t)};
}

// The C text of a constant of the type.
std::string literal(int64_t v, const int_type &t)
{
    std::string suffix = t.bits > 16 ? "L" : "";
    std::string s = std::to_string(v) + suffix;
    if (t.is_signed && v == -(1ll << (t.bits - 1)))   // the minimum: no literal holds it
        s = "(" + std::to_string(v + 1) + suffix + " - 1)";
    return "(" + std::string(t.name) + ")" + s;
}

// op of two values of the type, as C computes it there (operands of int
// rank or more are not promoted further).
int64_t host_op(const std::string &op, int64_t a, int64_t b, const int_type &t)
{
    uint64_t mask = (1ull << t.bits) - 1;
    if (op == "+") return wrap(a + b, t);
    if (op == "-") return wrap(a - b, t);
    if (op == "*") return wrap((int64_t)((uint64_t)a * (uint64_t)b), t);
    if (op == "&") return wrap(a & b, t);
    if (op == "|") return wrap(a | b, t);
    if (op == "^") return wrap(a ^ b, t);
    if (op == "<<") return wrap((int64_t)(((uint64_t)a << b) & mask), t);
    if (op == ">>") return wrap(t.is_signed ? a >> b : (int64_t)((uint64_t)a >> b), t);
    if (op == "/") return wrap(a / b, t);
    if (op == "%") return wrap(a % b, t);
    return c_comparison(op, a, b);
}

bool is_comparison(const std::string &op)
{
    return c_comparison(op, 0, 0) >= 0;
}

// One result: the statement that sets it (@ names the result) and what it
// must hold.
struct int_case {
    std::string text;
    int64_t want;
    int bytes;   // of the result
};

// A program that sets every result, run once; each result read back.
void run_int_program(const std::vector<int_case> &cases, const std::string &decls)
{
    std::ostringstream src;
    src << decls;
    for (size_t i = 0; i < cases.size(); i++)
        src << (cases[i].bytes == 1 ? "unsigned char" : "unsigned long") << " r_" << i << ";\n";
    // a few statements per function: a function's code must fit one page
    const size_t per_function = 10;
    std::vector<std::string> texts;
    for (size_t i = 0; i < cases.size(); i++) {
        if (i % per_function == 0)
            src << (i ? "}\n" : "") << "void part" << i / per_function << "(void)\n{\n";
        std::string t = cases[i].text;
        for (size_t at; (at = t.find('@')) != std::string::npos;)
            t.replace(at, 1, "r_" + std::to_string(i));
        texts.push_back(t);
        src << "    " << t << "\n";
    }
    src << (cases.empty() ? "" : "}\n") << "void main(void)\n{\n";
    for (size_t k = 0; k * per_function < cases.size(); k++)
        src << "    part" << k << "();\n";
    src << "    FINISH();\n}\n";
    c_program p;
    p.files.push_back({"main.c", src.str()});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output << "\n" << src.str();
    ASSERT_TRUE(r.finished) << r.log;
    for (size_t i = 0; i < cases.size(); i++) {
        std::string name = "r_" + std::to_string(i);
        uint64_t got = r.value(name, (unsigned)cases[i].bytes);
        uint64_t want = (uint64_t)cases[i].want & ((1ull << (8 * cases[i].bytes)) - 1);
        EXPECT_EQ(got, want) << texts[i];
    }
}

// The cases in programs small enough for the chip's RAM and program memory.
void run_int_cases(const std::vector<int_case> &cases, const std::string &decls)
{
    const size_t per_program = 40;
    for (size_t first = 0; first < cases.size(); first += per_program) {
        std::vector<int_case> part(cases.begin() + (long)first,
                                   cases.begin() + (long)std::min(cases.size(), first + per_program));
        run_int_program(part, decls);
    }
}

// Every pair of boundary values through the operators, each as
// variable-variable, variable-constant and compound assignment.
void binary_cases(const int_type &t, const std::vector<std::string> &ops)
{
    std::vector<int_case> cases;
    std::vector<int64_t> v = boundary_values(t);
    std::string type = t.name;
    for (const std::string &op : ops)
        for (size_t i = 0; i < v.size(); i++)
            for (size_t j = 0; j < v.size(); j += 3) {
                int64_t a = v[i], b = v[(i + j) % v.size()];
                if ((op == "/" || op == "%") && b == 0)
                    continue;
                if ((op == "/" || op == "%") && t.is_signed && b == -1 && a == -(1ll << (t.bits - 1)))
                    continue;   // the quotient leaves the type
                std::string set = "a = " + literal(a, t) + "; b = " + literal(b, t) + "; ";
                std::string r = "@";
                int64_t want = host_op(op, a, b, t);
                if (is_comparison(op)) {
                    cases.push_back({set + r + " = a " + op + " b;", want, 1});
                    cases.push_back({set + r + " = a " + op + " " + literal(b, t) + ";", want, 1});
                    cases.push_back({set + "if (a " + op + " b) " + r + " = 1; else " + r + " = 2;", want ? 1 : 2, 1});
                    continue;
                }
                cases.push_back({set + r + " = a " + op + " b;", want, 4});
                cases.push_back({set + r + " = a " + op + " " + literal(b, t) + ";", want, 4});
                cases.push_back({set + "a " + op + "= b; " + r + " = a;", want, 4});
            }
    // the results are stored unsigned long: the value as the type holds it,
    // extended by the type's own signedness
    for (int_case &c : cases)
        if (c.bytes == 4)
            c.want = (int64_t)(uint32_t)c.want;
    run_int_cases(cases, type + " a, b;\n");
}

class IntOperators : public testing::TestWithParam<int_type> {};

TEST_P(IntOperators, ArithmeticAndLogicMatchTheHost)
{
    NEEDS_SIMULATOR();
    binary_cases(GetParam(), {"+", "-", "&", "|", "^"});
}

TEST_P(IntOperators, ComparisonsMatchTheHost)
{
    NEEDS_SIMULATOR();
    binary_cases(GetParam(), {"==", "!=", "<", "<=", ">", ">="});
}

TEST_P(IntOperators, MultiplyDivideAndRemainderMatchTheHost)
{
    NEEDS_SIMULATOR();
    binary_cases(GetParam(), {"*", "/", "%"});
}

// Division by zero never hangs: the quotient has every bit set (signed: -1
// for a dividend of 0 or more, 1 for a negative one), the remainder is the
// dividend.
TEST_P(IntOperators, DivisionByZeroGivesTheHelpersResult)
{
    NEEDS_SIMULATOR();
    const int_type &t = GetParam();
    std::vector<int_case> cases;
    for (int64_t a : {wrap(1234, t), wrap(-1234, t), (int64_t)0}) {
        std::string set = "a = " + literal(a, t) + "; b = 0; ";
        int64_t quotient = t.is_signed ? (a < 0 ? 1 : -1) : wrap(-1, t);
        cases.push_back({set + "@ = a / b;", (int64_t)(uint32_t)wrap(quotient, t), 4});
        cases.push_back({set + "@ = a % b;", (int64_t)(uint32_t)a, 4});
    }
    run_int_cases(cases, std::string(t.name) + " a, b;\n");
}

// Shifts by every count below the width, constant and variable, and the
// unary operators and increments.
TEST_P(IntOperators, ShiftsUnaryAndIncrements)
{
    NEEDS_SIMULATOR();
    const int_type &t = GetParam();
    std::vector<int_case> cases;
    for (int64_t a : {wrap(0x8421F00F, t), wrap(0x7E5AA503, t)})
        for (int n = 0; n < t.bits; n += (n < 9 ? 1 : 3)) {
            std::string set = "a = " + literal(a, t) + "; n = " + std::to_string(n) + "; ";
            for (const char *op : {"<<", ">>"}) {
                int64_t want = (int64_t)(uint32_t)host_op(op, a, n, t);
                std::string r = "@";
                cases.push_back({set + r + " = a " + op + " " + std::to_string(n) + ";", want, 4});
                cases.push_back({set + r + " = a " + op + " n;", want, 4});
                cases.push_back({set + "a " + op + "= n; " + r + " = a;", want, 4});
            }
        }
    for (int64_t a : boundary_values(t)) {
        std::string set = "a = " + literal(a, t) + "; ";
        auto add = [&](const std::string &stmt, int64_t want) {
            cases.push_back({set + stmt + "@ = x;", (int64_t)(uint32_t)wrap(want, t), 4});
        };
        add("x = -a; ", -a);
        add("x = ~a; ", ~a);
        add("a++; x = a; ", a + 1);
        add("a--; x = a; ", a - 1);
        add("x = a++; ", a);
        add("x = --a; ", a - 1);
        add("x = a + 1; ", a + 1);
        add("x = 300 - a; ", 300 - a);
        // the value of an assignment, plain and compound, used again
        add("x = (a += 300); ", a + 300);
        add("x = (a -= 7); ", a - 7);
        add("x = (a ^= 0x5A5A); ", a ^ 0x5A5A);
        add("x = a = 77; ", 77);
        add("n = 3; x = (a <<= n); ", host_op("<<", a, 3, t));
        add("x = (a >>= 2); ", host_op(">>", a, 2, t));
    }
    std::string type = t.name;
    run_int_cases(cases, type + " a, x;\nunsigned char n;\n");
}

// Every pair of integer types, byte types included: the value the target
// type holds, extended by the source's signedness when it widens.
TEST(IntConversions, EveryPairOfSizesAndSignedness)
{
    NEEDS_SIMULATOR();
    std::vector<int_type> types = {{"signed char", 8, true}, {"unsigned char", 8, false}};
    types.insert(types.end(), std::begin(int_types), std::end(int_types));
    std::vector<int_case> cases;
    std::string decls;
    for (size_t i = 0; i < types.size(); i++)
        decls += std::string(types[i].name) + " v" + std::to_string(i) + ";\n";
    for (size_t i = 0; i < types.size(); i++)
        for (int64_t raw : {0x80FF7F80LL, 0x7F0180FFLL, -1LL}) {
            int64_t v = wrap(raw, types[i]);
            std::string set = "v" + std::to_string(i) + " = " + literal(v, types[i]) + "; ";
            for (size_t j = 0; j < types.size(); j++) {
                if (i == j)
                    continue;
                std::string to = "v" + std::to_string(j);
                cases.push_back({set + to + " = v" + std::to_string(i) + "; @ = " + to + ";",
                                 (int64_t)(uint32_t)wrap(v, types[j]), 4});
            }
        }
    run_int_cases(cases, decls);
}

// Equality looks at every byte: values that differ in one byte only, each
// byte in turn, against a variable and against a constant.
TEST(IntComparisons, EqualityLooksAtEveryByte)
{
    NEEDS_SIMULATOR();
    std::vector<int_case> cases;
    for (uint32_t diff : {0x1u, 0x100u, 0x10000u, 0x1000000u, 0x80000000u}) {
        uint32_t a = 0x11223344u, b = a ^ diff;
        std::string set = "a = " + std::to_string(a) + "UL; b = " + std::to_string(b) + "UL; ";
        cases.push_back({set + "@ = a == b;", 0, 1});
        cases.push_back({set + "@ = a != " + std::to_string(b) + "UL;", 1, 1});
        cases.push_back({set + "@ = a == " + std::to_string(a) + "UL;", 1, 1});
    }
    cases.push_back({"i = 0x1301; @ = i == 0x1234;", 0, 1});
    cases.push_back({"i = 0x1334; @ = i == 0x1234;", 0, 1});
    cases.push_back({"i = 0x1234; @ = i == 0x1234;", 1, 1});
    run_int_cases(cases, "unsigned long a, b;\nunsigned int i;\n");
}

// A test right after its variable is given a constant is decided when the
// program is compiled (the first test of a counted loop): loops that run,
// loops that never run, signed and wide counters, a member of a structure
// tested after another member is set, and an if on a just-set value.
TEST(IntLoops, FirstTestsDecidedByTheConstant)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.files.push_back({"main.c", R"(
struct S { unsigned char a, b; int c; } s;
unsigned char n1, n2, n3, n4, n5, n6, n7;
int w1;
long l1;
void main(void)
{
    unsigned char i;
    signed char k;
    int j;
    long m;
    for (i = 0; i < 10; i++) n1++;
    for (i = 5; i < 3; i++) n2++;
    for (k = -3; k < 2; k++) n3++;
    for (k = 0; k > -1; k--) n4++;
    for (j = 0; j < 300; j++) w1++;
    for (j = 300; j < 300; j++) w1 += 1000;
    for (m = 0; m < 70000L; m += 1000) l1++;
    s.b = 7;
    for (s.a = 0; s.a != s.b; s.a++) n5++;
    s.c = -1;
    for (s.a = 0; s.c < 0 && s.a < 3; s.a++) n6++;
    i = 200;
    if (i > 100) n6 += 10;
    i = 300;
    if (i == 44) n7 = 1;
    k = 200;
    if (k < 0) n7 += 2;
    s.a = 0;
    if (s.b) n7 += 4;
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("n1"), 10);
    EXPECT_EQ(r.byte("n2"), 0);
    EXPECT_EQ(r.byte("n3"), 5);
    EXPECT_EQ(r.byte("n4"), 1);
    EXPECT_EQ(r.value("w1", 2), 300u);
    EXPECT_EQ(r.value("l1", 4), 70u);
    EXPECT_EQ(r.byte("n5"), 7);
    EXPECT_EQ(r.byte("n6"), 13);
    EXPECT_EQ(r.byte("n7"), 7);   // 300 kept as 44 in a byte; 200 is -56 in a signed one
}

// A value of several operations stored in its target: each made in the
// target itself, one operation after the other.
TEST(IntExpressions, NestedValuesMadeInTheirTarget)
{
    NEEDS_SIMULATOR();
    std::vector<int_case> cases = {
        {"a = 19121793UL; b = 123456789L; @ = ((a + b) >> 14) + 5;", 8707, 4},
        {"@ = -(a - b);", 104334996, 4},
        {"@ = ~(a & 0xFF00);", 4294916607LL, 4},
        {"@ = -((a + b) >> 2);", 4259322651LL, 4},
    };
    run_int_cases(cases, "unsigned long a;\nlong b;\n");
}

// Parameters and values of every width through calls, and calls inside
// arguments while other arguments wait in the callee's block.
TEST(IntCalls, ParametersAndReturnsOfEveryWidth)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.files.push_back({"main.c", R"(
unsigned int r0, r1, r2;
long r3, r4;
short long r5;
int add(int a, int b) { return a + b; }
long mix(unsigned char c, long x, int y) { return x - y + c; }
unsigned int twice(unsigned int v) { return v + v; }
int neg(void) { return -1234; }
short long tri(short long a, signed char b) { return a << b; }
void main(void)
{
    r0 = add(1000, -3);
    r1 = twice(add(300, 400)) + add(5, 6);
    r2 = add(neg(), twice(2));
    r3 = mix(7, 100000L, -20);
    r4 = mix(200, mix(1, -5L, 3), add(1, 1));
    r5 = tri(-3, 4) + tri(0x1234, 8);
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    auto value = [&](const char *name, unsigned bytes) { return (uint32_t)r.value(name, bytes); };
    EXPECT_EQ(value("r0", 2), 997u);
    EXPECT_EQ(value("r1", 2), 1411u);                 // 2 * 700 + 11
    EXPECT_EQ(value("r2", 2), (uint32_t)(-1230 & 0xFFFF));
    EXPECT_EQ(value("r3", 4), 100027u);
    EXPECT_EQ(value("r4", 4), 191u);                  // (-5 - 3 + 1) - 2 + 200
    EXPECT_EQ(value("r5", 3), (uint32_t)((-48 + 0x123400) & 0xFFFFFF));
}

// Constants returned from functions of every width, zero among them (a
// zero fits W, but a wider value is returned in the parameter block), on
// both cores.
TEST(IntCalls, ConstantResultsOfEveryWidth)
{
    NEEDS_SIMULATOR();
    for (const char *chip : {"16F877A", "12F509"}) {
        c_program p;
        p.chip = chip;
        p.files.push_back({"main.c", R"(
unsigned char b0, b1;
unsigned int w0, w1, w2;
short long t0;
long l0, l1;
unsigned char pick8(unsigned char a) { if (a == 3) return 0; return a; }
unsigned int pick16(unsigned int a) { if (a == 3) return 0; if (a == 4) return 0x100; return a; }
short long pick24(short long a) { if (a == 3) return 0; return a; }
long pick32(long a) { if (a == 3) return 0; if (a == 4) return -1; return a; }
void main(void)
{
    b0 = pick8(3); b1 = pick8(9);
    w0 = pick16(3); w1 = pick16(4); w2 = pick16(7);
    t0 = pick24(3);
    l0 = pick32(3); l1 = pick32(4);
    FINISH();
}
)"});
        c_run r = c_compile_and_run(p);
        ASSERT_EQ(r.status, 0) << r.output;
        ASSERT_TRUE(r.finished) << r.log;
        EXPECT_EQ(r.value("b0", 1), 0u) << chip;
        EXPECT_EQ(r.value("b1", 1), 9u) << chip;
        EXPECT_EQ(r.value("w0", 2), 0u) << chip;
        EXPECT_EQ(r.value("w1", 2), 0x100u) << chip;
        EXPECT_EQ(r.value("w2", 2), 7u) << chip;
        EXPECT_EQ(r.value("t0", 3), 0u) << chip;
        EXPECT_EQ(r.value("l0", 4), 0u) << chip;
        EXPECT_EQ(r.value("l1", 4), 0xFFFFFFFFul) << chip;
    }
}

// A comparison or a negation returned from a function of a wider type (or
// a byte) is 0 or 1 of that type.
TEST(IntCalls, TruthValuesReturnedInTheFunctionsType)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.files.push_back({"main.c", R"(
unsigned char u = 5;
int below(void) { return u < 10; }
int zero(void) { return !u; }
long both(void) { return u == 5 && u > 2; }
unsigned char other(void) { return u != 5; }
int r1, r2;
long r3;
unsigned char r4;
void main(void)
{
    r1 = below(); r2 = zero(); r3 = both(); r4 = other();
    u = 12;
    r1 += below() * 10; r4 += other() * 10; r3 += both() * 100;
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.value("r1", 2), 1u);
    EXPECT_EQ(r.value("r2", 2), 0u);
    EXPECT_EQ(r.value("r3", 4), 1u);
    EXPECT_EQ(r.value("r4", 1), 10u);
}

// Compound assignments, increments and decrements of 16-, 24- and 32-bit
// objects reached through pointers, helpers' operators among them.
TEST(IntPointers, CompoundAssignmentsThroughPointers)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.files.push_back({"main.c", R"(
long lv[2] = {100000, -7};
int iv[2] = {1234, -99};
short long tv = 70000;
long *lp = &lv[0];
int *ip = &iv[1];
short long *tp = &tv;
unsigned char n = 3;
long r1;
int r2;
void main(void)
{
    *lp *= 3;
    *lp /= 7;
    lp[1] -= *lp;
    *ip %= 10;
    iv[0] <<= n;
    *ip ^= 0x0F0F;
    *tp += *lp;
    r1 = (*lp)++;
    r2 = --(*ip);
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    int32_t l0 = 100000 * 3 / 7, l1 = -7 - l0;
    int16_t i1 = (int16_t)((-99 % 10) ^ 0x0F0F);
    EXPECT_EQ((uint32_t)r.value("r1", 4), (uint32_t)l0);
    EXPECT_EQ((uint32_t)r.value("lv", 4), (uint32_t)(l0 + 1));
    EXPECT_EQ((uint32_t)(r.value("lv", 8) >> 32), (uint32_t)l1);
    EXPECT_EQ(r.value("iv", 2), (unsigned long)(1234 << 3));
    EXPECT_EQ(r.value("r2", 2), (unsigned long)(uint16_t)(i1 - 1));
    EXPECT_EQ(r.value("tv", 3), (unsigned long)(70000 + l0));
}

// Wide objects in banks 1-3 and common memory, each operation reading one
// bank and writing another, compound assignments included.
TEST(IntBanks, OperandsInDifferentBanks)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.options = "--bankqual=require";
    p.files.push_back({"main.c", R"(
bank1 long l1;
bank2 unsigned int w2;
bank3 long l3;
bank3 short long t3;
near unsigned int wc;
long a2 @ 0x150;
void main(void)
{
    l1 = 100000L;
    w2 = 40000;
    l3 = l1 - w2;                  /* 60000 */
    t3 = -5;
    t3 += l3;                      /* 59995 */
    wc = w2 >> 3;                  /* 5000 */
    a2 = l3 * wc;                  /* 300000000 */
    a2 /= -t3;                     /* -5000 */
    w2 <<= 2;                      /* 160000 & 0xFFFF = 28928 */
    l1 ^= a2;
    if (l3 > w2 && a2 < 0)
        wc |= 0x8000;
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    auto value = [&](const char *name, unsigned bytes) { return (uint32_t)r.value(name, bytes); };
    EXPECT_EQ(value("l3", 4), 60000u);
    EXPECT_EQ(value("t3", 3), 59995u);
    EXPECT_EQ(value("a2", 4), (uint32_t)-5000);
    EXPECT_EQ(value("w2", 2), 28928u);
    EXPECT_EQ(value("l1", 4), (uint32_t)(100000 ^ -5000));
    EXPECT_EQ(value("wc", 2), 5000u | 0x8000u);
}

// ---------------------------------------------------------------------------
// random expressions over variables of every width, against the host
// ---------------------------------------------------------------------------
// The C types by rank; a byte type is promoted to int.
const int_type expr_types[] = {
    {"signed char", 8, true},  {"unsigned char", 8, false}, {"int", 16, true},   {"unsigned int", 16, false},
    {"short long", 24, true},  {"unsigned short long", 24, false}, {"long", 32, true}, {"unsigned long", 32, false},
};

struct typed_value {
    int type;      // index into expr_types
    int64_t value; // as the type holds it
};

// The type both operands take: C's usual arithmetic conversions, with the
// bytes promoted to int first (each wider type holds every value of the
// narrower unsigned ones, so a signed type wins over a narrower unsigned).
int common_type(int a, int b)
{
    a = a < 2 ? 2 : a;
    b = b < 2 ? 2 : b;
    return a > b ? a : b;
}

struct expr_gen {
    uint64_t state;
    std::vector<typed_value> vars;   // v0.. as set at the start of main
    unsigned below(unsigned n)
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (unsigned)(state >> 33) % n;
    }
    // A random expression: its C text and its value.
    typed_value gen(int depth, std::string *text)
    {
        unsigned r = below(depth >= 3 ? 2 : 10);
        if (r == 0) {
            int v = (int)below((unsigned)vars.size());
            *text = "v" + std::to_string(v);
            return vars[v];
        }
        if (r == 1) {
            int t = 2 + (int)below(6);
            int64_t v = wrap((int64_t)((uint64_t)below(0x10000) << 16 | below(0x10000)) >> below(32), expr_types[t]);
            *text = literal(v, expr_types[t]);
            return {t, v};
        }
        std::string a_text, b_text;
        typed_value a = gen(depth + 1, &a_text);
        if (r == 2) {   // unary
            const char *op = below(2) ? "-" : "~";
            int t = common_type(a.type, a.type);
            *text = std::string("(") + op + a_text + ")";
            return {t, wrap(*op == '-' ? -a.value : ~a.value, expr_types[t])};
        }
        if (r == 3) {   // a cast
            int t = (int)below(8);
            *text = "((" + std::string(expr_types[t].name) + ")" + a_text + ")";
            return {t, wrap(a.value, expr_types[t])};
        }
        if (r == 4) {   // a shift by a constant below the width
            int t = common_type(a.type, a.type);
            int n = (int)below((unsigned)expr_types[t].bits);
            bool left = below(2);
            *text = "(" + a_text + (left ? " << " : " >> ") + std::to_string(n) + ")";
            return {t, host_op(left ? "<<" : ">>", a.value, n, expr_types[t])};
        }
        static const char *ops[] = {"+", "-", "*", "&", "|", "^", "<", "==", ">="};
        std::string op = ops[below(9)];
        typed_value b = gen(depth + 1, &b_text);
        int t = common_type(a.type, b.type);
        *text = "(" + a_text + " " + op + " " + b_text + ")";
        int64_t av = wrap(a.value, expr_types[t]), bv = wrap(b.value, expr_types[t]);
        if (is_comparison(op))
            return {2, host_op(op, av, bv, expr_types[t])};
        return {t, host_op(op, av, bv, expr_types[t])};
    }
};

// Each seed: variables of every type set to random values, then results of
// random expressions; the host computes every one in C's types. CI runs
// seeds 1-12; KESTREL_INTEXPR_SEEDS=N [KESTREL_INTEXPR_FIRST=seed] runs others.
TEST(IntExpressions, RandomExpressionsMatchTheHost)
{
    NEEDS_SIMULATOR();
    const char *count = getenv("KESTREL_INTEXPR_SEEDS"), *first = getenv("KESTREL_INTEXPR_FIRST");
    uint64_t from = first ? strtoull(first, nullptr, 0) : 1;
    uint64_t to = from + (count ? strtoull(count, nullptr, 0) : 12);
    for (uint64_t seed = from; seed < to; seed++) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expr_gen g{seed * 0x9E3779B97F4A7C15ull, {}};
        std::string decls;
        std::string set;
        for (int i = 0; i < 8; i++) {
            int t = i;
            int64_t v = wrap((int64_t)((uint64_t)g.below(0x10000) << 16 | g.below(0x10000)), expr_types[t]);
            g.vars.push_back({t, v});
            decls += std::string(expr_types[t].name) + " v" + std::to_string(i) + ";\n";
            set += "v" + std::to_string(i) + " = " + (t < 2 ? "(" + std::string(expr_types[t].name) + ")" +
                                                             std::to_string(v) : literal(v, expr_types[t])) + "; ";
        }
        std::vector<int_case> cases = {{set + "@ = 0;", 0, 4}};
        for (int k = 0; k < 14; k++) {
            std::string text;
            typed_value e = g.gen(0, &text);
            // the result as an unsigned long takes the value, extended by its type
            cases.push_back({"@ = " + text + ";", (int64_t)(uint32_t)e.value, 4});
        }
        run_int_program(cases, decls);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, IntOperators, testing::ValuesIn(int_types),
                         [](const testing::TestParamInfo<int_type> &info) {
                             std::string n = info.param.name;
                             for (char &c : n)
                                 if (c == ' ')
                                     c = '_';
                             return n;
                         });

} // namespace
