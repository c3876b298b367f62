// Placement of objects at fixed addresses (special function registers,
// bits of bit-addressable bytes), attribute arguments, declarator messages
// and the types explained in words. Addresses are worked out by hand from
// the placement rules.
#include "icode_check.h"
#include "plover_run.h"

#include <gtest/gtest.h>

namespace {

// The driver's switches plus the special-function-register qualifier, which
// makes sfr and sfr16 keywords, and the bank-switching word "using".
const std::string sfr_switches = std::string(driver_switches) + " -Qs,__sfr -QU,using";

struct place_case {
    const char *decl;    // one declaration
    const char *record;  // its expected [v record, or null
    int message;         // expected message, 0 none
};

// Each declaration alone: its record is written and read back, or its
// message fails the run.
template <size_t N> void check_places(const std::string &switches, const place_case (&cases)[N])
{
    for (const place_case &c : cases) {
        plover_result r = plover_run(switches, c.decl);
        if (c.record) {
            EXPECT_EQ(r.status, 0) << c.decl << "\n" << r.errors;
            EXPECT_NE(plover_records(r.output).find(std::string(c.record) + "\n"), std::string::npos)
                << c.decl << "\n" << r.output;
            std::string error;
            EXPECT_TRUE(ic_check(r.output, &error)) << c.decl << ": " << error;
        }
        if (c.message) {
            EXPECT_NE(r.status, 0) << c.decl;
            EXPECT_TRUE(plover_reported(r, c.message)) << c.decl << " gave: " << r.errors;
        }
    }
}

} // namespace

TEST(ParserPlace, RegistersAndBitAddresses)
{
    const place_case cases[] = {
        {"sfr P1 @ 0x90;", "[v _P1 `suc 1 e@144 ]", 0},
        {"sfr P2 = 0x91;", "[v _P2 `suc 1 e@145 ]", 0},   // '=' places a register
        {"sfr16 T2 @ 0xCC;", "[v _T2 `sui 1 e@204 ]", 0},
        {"sfr LOW @ 0x7F;", nullptr, 1280},
        {"sfr16 WIDE @ 0xFF;", nullptr, 1280},                // its high byte would be 256
        {"bit B1 @ 0x20 ^ 3;", "[v _B1 `b 1 e@3 ]", 0},     // 0x20 * 8 + 3 - 256
        {"bit B2 @ 0x2F ^ 7;", "[v _B2 `b 1 e@127 ]", 0},   // the last bit of the range
        {"bit B3 @ 0x88 ^ 1;", "[v _B3 `b 1 e@137 ]", 0},   // a register: 0x88 + 1
        {"bit B4 @ 0x89 ^ 1;", nullptr, 1280},              // not a multiple of 8
        {"bit B5 @ 0x30 ^ 1;", nullptr, 1280},              // no bit-addressable byte
        {"bit B6 @ 0x20 ^ 8;", nullptr, 842},
        {"__sfr bit B7 @ 300;", nullptr, 1280},
        {"unsigned char fl; bit B8 @ fl ^ 2;", "[v _B8 `b 1 e@_fl+2 ]", 0},
        {"unsigned char fl; bit B9 @ fl ^ 8;", nullptr, 1280},
    };
    check_places(sfr_switches, cases);
}

// Attribute words defined with -T: their argument patterns (d identifier,
// i int constant, s string, v constant address, leading '.' optional).
TEST(ParserPlace, AttributeArguments)
{
    const std::string switches = std::string(driver_switches) +
                                 " -Tsection,s -Tat,v -Tplace,.i -Tbad,z -Tname,d";
    const place_case cases[] = {
        {"int __attribute__((at(0x30))) a;", "[v _a `i 1 e@48 ]", 0},
        {"int __attribute__((__at__(2 * 8))) a;", "[v _a `i 1 e@16 ]", 0},
        {"int __attribute__((section(\"data\"))) a;", "[v _a `i 1 e ]", 0},
        {"int __attribute__((place)) a;", "[v _a `i 1 e ]", 0},
        {"int __attribute__((place(4))) a;", "[v _a `i 1 e ]", 0},
        {"int __attribute__((name(here))) a;", "[v _a `i 1 e ]", 0},
        {"int __attribute__((section)) a;", nullptr, 1317},
        {"int __attribute__((section())) a;", nullptr, 1317},
        {"int __attribute__((section(3))) a;", nullptr, 1318},
        {"int __attribute__((place(1, 2))) a;", nullptr, 1318},
        {"int __attribute__((place(1L))) a;", nullptr, 1318},
        {"int __attribute__((name(\"x\"))) a;", nullptr, 1318},
        {"int b; int __attribute__((at(b))) a;", nullptr, 188},
        {"int __attribute__((bad(1))) a;", nullptr, 1319},
        {"int __attribute__((unknown)) a;", nullptr, 1323},
    };
    check_places(switches, cases);
}

TEST(ParserPlace, DeclaratorMessages)
{
    const place_case cases[] = {
        {"int g(int a = 3);", nullptr, 279},
        {"void h(void) persistent;", nullptr, 290},
        {"void h(void) const;", nullptr, 290},
        {"using int u;", nullptr, 1277},
        {"void k(void) using 1;", nullptr, 0},
        {"void k(void) using 4;", nullptr, 1279},
    };
    for (const place_case &c : cases) {
        plover_result r = plover_run(sfr_switches, c.decl);
        if (c.message)
            EXPECT_TRUE(plover_reported(r, c.message)) << c.decl << " gave: " << r.errors;
        else
            EXPECT_EQ(r.status, 0) << c.decl << " gave: " << r.errors;
    }
}

// At negative warning levels a type mismatch is followed by both types in
// words, a failed requirement by "NOT" and the type.
TEST(ParserPlace, TypesExplainedInWords)
{
    struct {
        const char *source;
        const char *words;
    } cases[] = {
        {"int x; long x;", "int / long\n"},
        {"int f(int, char *); int f(int, int);",
         "function with arguments(int, pointer to char) returning int / "
         "function with arguments(int, int) returning int\n"},
        {"struct s { int a; } v; int *p; void f(void) { p = &v; }",
         "pointer to int / pointer to struct s\n"},
        {"int x; void f(void) { x = *x; }", "NOT int\n"},
        {"unsigned char c; void f(void) { c.m = 1; }", "NOT unsigned char\n"},
        {"int a[3]; int *p; void f(void) { if (p == a[0]) ; }", "pointer to int / int\n"},
    };
    for (const auto &c : cases) {
        plover_result r = plover_run(std::string(driver_switches) + " -W-1", c.source);
        EXPECT_NE(r.errors.find(c.words), std::string::npos) << c.source << " gave: " << r.errors;
        plover_result quiet = plover_run(driver_switches, c.source);
        EXPECT_EQ(quiet.errors.find(c.words), std::string::npos) << c.source;
    }
}
