// Pointers that may hold addresses of constant data and of RAM, compiled by
// the installed chain and run in gpsim: such a pointer variable keeps one
// byte and a tag byte that says which kind it holds; reads through it test
// the tag. Values are worked out here, on the host. What the tag cannot
// follow is refused with a numbered message.
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <string>

void tool_exit(int) {}

namespace {

class BothKinds : public testing::TestWithParam<const char *> {};

// Parameters passed literals and RAM buffers (in W and in the parameter
// block), a variable chosen by a condition, stepping (++, --, +=, indexes),
// handing the pointer on from parameter to parameter and to a local,
// relational comparisons and tests against null.
TEST_P(BothKinds, ReadsFollowTheKindEachValueHas)
{
    NEEDS_SIMULATOR();
    c_run r = c_run_text(GetParam(), R"(
char buf[6];
unsigned char r1, r2, r3, r4, r5, r6, len1, len2, nul;
unsigned char first(const char *s) { return *s; }
unsigned char length(const char *s) { unsigned char n = 0; while (*s++) n++; return n; }
unsigned char nth(unsigned char i, const char *s) { return s[i]; }
unsigned char last(const char *s) { const char *e = s; while (*e) e++; if (e > s) --e; return *e; }
unsigned char via(const char *s) { return length(s) + last(s); }
unsigned char span(const char *s) { const char *e = s + 3; unsigned char n = 0; while (s < e) { n += *s; s++; } return n; }
void main(void)
{
    unsigned char flag;
    const char *p;
    buf[0] = 'R'; buf[1] = 'a'; buf[2] = 'm'; buf[3] = 0;
    r1 = first("abc") + first(buf);
    len1 = length("constant");
    len2 = length(buf);
    for (flag = 0; flag < 2; flag++) {
        p = flag ? "text" : buf;
        r2 += p[1];
        p += 2;
        r3 += *p;
        p--;
        r3 += *p;
    }
    r4 = nth(2, "xyz") + nth(1, buf);
    r5 = via("hello") + via(buf);
    r6 = span("ABCD") + span(buf);
    p = 0;
    nul = p == 0;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), 'a' + 'R');
    EXPECT_EQ(r.byte("len1"), 8);
    EXPECT_EQ(r.byte("len2"), 3);
    EXPECT_EQ(r.byte("r2"), 'a' + 'e');
    EXPECT_EQ(r.byte("r3"), ('m' + 'a' + 'x' + 'e') & 0xFF);
    EXPECT_EQ(r.byte("r4"), 'z' + 'a');
    EXPECT_EQ(r.byte("r5"), (5 + 'o' + 3 + 'm') & 0xFF);
    EXPECT_EQ(r.byte("r6"), ('A' + 'B' + 'C' + 'R' + 'a' + 'm') & 0xFF);
    EXPECT_EQ(r.byte("nul"), 1);
}

// Values of more than a byte read through such pointers (a table of ints
// in program memory and an array in RAM, by index and by stepping), and
// the run-time library's string functions given both kinds of string.
TEST(BothKindsMidRange, WideValuesAndTheLibrarysStringFunctions)
{
    NEEDS_SIMULATOR();
    c_run r = c_run_text("16F877A", R"(
#include <string.h>
const int tab[4] = {1000, -2, 300, 4};
int ram[3];
int w1, w2, w3;
unsigned char l1, l2, c1, c2, c3;
char buf[6], out[6];
int get(const int *q, unsigned char i) { return q[i]; }
int sum(unsigned char n, const int *q) { int t = 0; while (n--) t += *q++; return t; }
void main(void)
{
    ram[0] = 7; ram[1] = -300; ram[2] = 12;
    w1 = get(tab, 2) + get(ram, 1) + get(tab, 0);
    w2 = sum(4, tab);
    w3 = sum(3, ram);
    strcpy(buf, "abc");
    strcpy(out, buf);
    out[1] = 'x';
    l1 = strlen("constant");
    l2 = strlen(out);
    c1 = strcmp(buf, "abc") == 0;
    c2 = strcmp("abd", out) < 0;
    c3 = strcmp(out, buf) > 0;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.value("w1", 2), (unsigned long)(1000 & 0xFFFF));
    EXPECT_EQ(r.value("w2", 2), 1302ul);
    EXPECT_EQ(r.value("w3", 2), (unsigned long)(-281 & 0xFFFF));
    EXPECT_EQ(r.byte("buf", 0), 'a');
    EXPECT_EQ(r.byte("buf", 3), 0);
    EXPECT_EQ(r.byte("out", 1), 'x');
    EXPECT_EQ(r.byte("l1"), 8);
    EXPECT_EQ(r.byte("l2"), 3);
    EXPECT_EQ(r.byte("c1"), 1);
    EXPECT_EQ(r.byte("c2"), 1);   // "abd" < "axc"
    EXPECT_EQ(r.byte("c3"), 1);   // "axc" > "abc"
}

// Equality of two such pointers needs equal kinds as well as equal low
// bytes: the end of a constant table and a RAM array placed at the same
// low byte (checked here first) are not equal.
TEST(BothKindsMidRange, EqualityComparesTheKindsToo)
{
    NEEDS_SIMULATOR();
    c_run r = c_run_text("16F877A", R"(
const unsigned char pad[48] = {1};
const char lit[] = "ab";
unsigned char buf[4] @ 0x31;
unsigned char r1, r2, lo1, lo2, r3;
unsigned char same(const unsigned char *s, const unsigned char *t) { return s == t; }
unsigned char differ(const unsigned char *s, const unsigned char *t) { if (s != t) return 1; return 0; }
unsigned char last(const char *s) { const char *e = s; while (*e) e++; if (e != s) --e; return *e; }
void main(void)
{
    const unsigned char *end = pad + sizeof pad;
    buf[0] = 'x';
    buf[1] = 0;
    lo1 = (unsigned char)end;
    lo2 = (unsigned char)buf;
    r1 = same(buf, buf) + 2 * same(end, end) + 4 * same(end, buf) + 8 * same(buf, end);
    r2 = differ(buf, buf) + 2 * differ(end, end) + 4 * differ(end, buf) + 8 * differ(buf, end);
    r3 = last(lit) + last((const char *)buf);
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    ASSERT_EQ(r.byte("lo1"), 0x31);   // the layout this test relies on
    ASSERT_EQ(r.byte("lo2"), 0x31);
    EXPECT_EQ(r.byte("r1"), 3);
    EXPECT_EQ(r.byte("r2"), 12);
    EXPECT_EQ(r.byte("r3"), ('b' + 'x') & 0xFF);
}

// What the tags cannot follow is refused, naming the pointer: writes
// through a pointer that may hold constant data (of both kinds, or of
// constant data only), values kept where no tag goes with them (a
// structure member, a global, the variadic arguments of printf), and
// pointer values whose source is not followed (a call's result).
TEST(BothKindsRefused, WhatTheTagCannotFollow)
{
    struct {
        const char *text;
        const char *message;
    } cases[] = {
        {"char buf[4]; unsigned char r; unsigned char f(const char *s) { return *s; }\n"
         "void main(void) { const char *p = buf; r = f(\"a\") + f(buf); if (r) p = \"x\"; *(char *)p = 1; }",
         "(1690) pointer p may hold the address of constant data"},
        {"void put(char *p) { *p = 'x'; }\nvoid main(void) { put((char *)\"hello\"); }",
         "(1690) pointer p may hold the address of constant data"},
        {"struct S { const char *m; } g; char buf[4]; unsigned char r;\n"
         "void f(const char *s) { g.m = s; }\nvoid main(void) { f(\"a\"); f(buf); r = *g.m; }",
         "(1691) pointer s, which may hold addresses of constant data and of RAM, is used in a way"},
        {"char buf[4]; const char *gp; unsigned char r;\n"
         "void main(void) { gp = buf; if (r) gp = \"x\"; r = *gp; }",
         "(1541) pointer gp may hold"},
        {"#include <stdio.h>\nvoid putch(char c) { PORTB = c; }\nchar buf[4];\n"
         "void main(void) { printf(\"%s %s\", \"lit\", buf); }",
         "(1541) pointer"},
        {"char buf[4]; unsigned char r;\n"
         "const char *pick(unsigned char f) { const char *p = buf; if (f) p = \"x\"; return p; }\n"
         "void main(void) { r = *pick(PORTB); }",
         "(1493) pointers hold the addresses of constant data"},
    };
    for (auto &c : cases) {
        c_program p;
        p.files.push_back({"main.c", c.text});
        c_run r = c_compile(p);
        EXPECT_NE(r.status, 0) << c.text;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.text << "\n" << r.output;
    }
}

// The library's string functions on the small 12-bit chips too.
TEST_P(BothKinds, LibraryStringFunctions)
{
    NEEDS_SIMULATOR();
    c_run r = c_run_text(GetParam(), R"(
#include <string.h>
char buf[4];
unsigned char l1, l2, c1, c2;
void main(void)
{
    buf[0] = 'a'; buf[1] = 'b'; buf[2] = 0;
    l1 = strlen("four");
    l2 = strlen(buf);
    c1 = strcmp(buf, "ab") == 0;
    c2 = strcmp("aa", buf) < 0;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("l1"), 4);
    EXPECT_EQ(r.byte("l2"), 2);
    EXPECT_EQ(r.byte("c1"), 1);
    EXPECT_EQ(r.byte("c2"), 1);
}

// A read of constant data through a pointer variable that holds nothing
// else calls the table's dispatcher: on the 12-bit cores (two levels of
// stack) that is a level the function's own calls must leave free, so
// length, two calls deep, returns through the table of return points.
TEST_P(BothKinds, TableReadsThroughPointersTakeAStackLevel)
{
    NEEDS_SIMULATOR();
    c_run r = c_run_text(GetParam(), R"(
unsigned char r5;
unsigned char length(const char *s) { unsigned char n = 0; while (*s++) n++; return n; }
unsigned char via(const char *s) { return length(s) + 1; }
void main(void) { r5 = via("hello"); FINISH(); }
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r5"), 6);
}

INSTANTIATE_TEST_SUITE_P(Chips, BothKinds, testing::Values("16F877A", "16F505", "12F509"));

} // namespace
