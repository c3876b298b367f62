// Data compiled by the installed chain and run in gpsim: arrays, pointers
// and indirect access in every bank, structures and unions of every size
// copied, passed and returned, bit-fields, volatile accesses, programs of
// several files. Every expected value is worked out here, on the host.
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

void tool_exit(int) {}

namespace {

c_run run_main(const std::string &text, const std::string &options = "")
{
    c_program p;
    p.options = options;
    p.files.push_back({"main.c", text});
    return c_compile_and_run(p);
}

// Bytes of a global, as the host computes them.
void expect_bytes(const c_run &r, const char *name, const std::vector<int> &want)
{
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_EQ(r.byte(name, (unsigned)i), want[i] & 0xFF) << name << "[" << i << "]";
}

// Arrays fixed in each of the four banks, written and read by a variable
// index (the IRP bit follows the array's own bank), and through a pointer
// that reaches banks 2-3 only.
TEST(DataPointers, ArraysInEveryBankByIndexAndPointer)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
unsigned char a0[10] @ 0x20;
unsigned char a1[10] @ 0xA0;
unsigned char a2[10] @ 0x110;
unsigned char a3[10] @ 0x190;
int w3[3] @ 0x1A0;
unsigned char *p;
unsigned char sum;
void main(void)
{
    unsigned char i;
    for (i = 0; i < 10; i++) { a0[i] = i; a1[i] = i + 10; a2[i] = i + 20; a3[i] = i + 30; }
    for (i = 0; i < 10; i++) sum += a0[i] + a1[9 - i] + a2[i] + a3[i];
    p = a3 + 2; *p += 100;
    p++; *p = 7;
    p = a2; p[9] = 99;
    for (i = 0; i < 3; i++) w3[i] = 1000 * i - 1;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    std::vector<int> a0, a1, a2, a3;
    for (int i = 0; i < 10; i++) {
        a0.push_back(i);
        a1.push_back(i + 10);
        a2.push_back(i == 9 ? 99 : i + 20);
        a3.push_back(i == 2 ? 132 : i == 3 ? 7 : i + 30);
    }
    expect_bytes(r, "a0", a0);
    expect_bytes(r, "a1", a1);
    expect_bytes(r, "a2", a2);
    expect_bytes(r, "a3", a3);
    EXPECT_EQ(r.byte("sum"), (45 + 145 + 245 + 345) & 0xFF);
    EXPECT_EQ(r.value("w3", 6), 0x07CF03E7FFFFul);   // -1, 999, 1999
}

// Pointers held in variables and parameters: loops through them, members
// through ->, stores through them whose values are used again, integers
// of every width read, written and changed in place.
TEST(DataPointers, ParametersLoopsAndStoresWhoseValuesAreUsed)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
struct P { unsigned char x; int y; } pa;
unsigned char buf[8];
unsigned char sum, x1, x2, x3, x4;
int hw[4];
long lv[3];
long *lp;
int r5;
void fill(unsigned char *q, unsigned char n, unsigned char v) { while (n--) *q++ = v++; }
unsigned char add(unsigned char *q, unsigned char n)
{
    unsigned char s = 0;
    while (n) { s += *q; q++; n--; }
    return s;
}
void bump(struct P *p) { p->x++; p->y += 1000; }
void main(void)
{
    unsigned char *p;
    int *ip = hw;
    fill(buf, 8, 1);
    sum = add(buf, 8);
    pa.x = 5; pa.y = -3;
    bump(&pa);
    bump(&pa);
    p = buf + 3;
    x1 = (*p)++;
    x2 = *p;
    x3 = (*p += 7);
    x4 = *(p - 3) = 50;
    ip[1] = 1000; ip[2] = ip[1] * 3;
    *(ip + 3) = -5;
    ip[3] -= 20;
    r5 = ip[2] + ip[3];
    lp = lv;
    lp[0] = 70000; lp[1] = 5;
    *lp += lp[1];
    lp[2] = lp[0] << 2;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    expect_bytes(r, "buf", {50, 2, 3, 4 + 1 + 7, 5, 6, 7, 8});
    EXPECT_EQ(r.byte("sum"), 36);
    EXPECT_EQ(r.byte("pa"), 7);
    EXPECT_EQ(r.value("pa", 3) >> 8, 1997u);
    EXPECT_EQ(r.byte("x1"), 4);
    EXPECT_EQ(r.byte("x2"), 5);
    EXPECT_EQ(r.byte("x3"), 12);
    EXPECT_EQ(r.byte("x4"), 50);
    EXPECT_EQ(r.value("hw", 8), 0xFFE70BB803E80000ul);
    EXPECT_EQ(r.value("r5", 2), 2975u);
    EXPECT_EQ(r.value("lv", 4), 70005u);
    unsigned long third = 0;
    for (unsigned k = 0; k < 4; k++)
        third |= (unsigned long)r.byte("lv", 8 + k) << (8 * k);
    EXPECT_EQ(third, 70005ul << 2);
}

// Arrays of arrays and of structures with array members, indexed by
// variables at every level.
TEST(DataPointers, ArraysOfArraysAndOfStructures)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
int m[3][4];
struct E { unsigned char tag; int v[3]; } es[4];
int total;
unsigned char tags;
void main(void)
{
    unsigned char i, j;
    for (i = 0; i < 3; i++)
        for (j = 0; j < 4; j++)
            m[i][j] = i * 100 + j;
    for (i = 0; i < 4; i++) {
        es[i].tag = i + 1;
        for (j = 0; j < 3; j++)
            es[i].v[j] = m[j][i] - i;
    }
    for (i = 0; i < 4; i++) {
        tags += es[i].tag;
        for (j = 0; j < 3; j++)
            total += es[i].v[j];
    }
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    int m[3][4], total = 0;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 4; j++)
            m[i][j] = i * 100 + j;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 3; j++)
            total += m[j][i] - i;
    EXPECT_EQ(r.value("total", 2), (unsigned long)(total & 0xFFFF));
    EXPECT_EQ(r.byte("tags"), 10);
    EXPECT_EQ(r.value("m", 2), 0u);
    EXPECT_EQ(r.byte("m", 2 * 11), 203);
}

// `*` applied to arrays reads and writes their first elements: named
// arrays, rows of arrays of arrays (from `*` and from subscripts), members
// through `.` and `->`; sizeof of a row reached through its address is the
// row's size; arrays of three dimensions are indexed by whole rows.
TEST(DataPointers, StarOnArraysAndTheSizesOfRows)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
int v[4];
int m[3][4];
int a3[2][3][4];
struct S { char c; int a[3]; char n[2][5]; } s, *ps;
unsigned char r[20];
void main(void)
{
    unsigned char i, j, k;
    int *p;
    ps = &s;
    for (i = 0; i < 4; i++) v[i] = 10 + i;
    for (i = 0; i < 3; i++) for (j = 0; j < 4; j++) m[i][j] = i * 10 + j;
    for (i = 0; i < 2; i++) for (j = 0; j < 3; j++) for (k = 0; k < 4; k++) a3[i][j][k] = i * 100 + j * 10 + k;
    s.a[0] = 7; s.a[1] = 8; s.n[0][0] = 'a'; s.n[1][0] = 'b';
    r[0] = *v;
    r[1] = **m;
    r[2] = *m[2];
    r[3] = 2[*m];
    r[4] = (*m)[3] + *(*(m + 1) + 2);
    p = *m; r[5] = p[5];
    r[6] = *s.a + *ps->a;
    r[7] = **ps->n + *s.n[1];
    *v = 50; **m = 51; *m[1] = 52; *s.n[1] = 'c';
    r[8] = v[0]; r[9] = m[0][0]; r[10] = m[1][0]; r[11] = s.n[1][0];
    r[12] = sizeof m[1];
    r[13] = sizeof *m;
    r[14] = sizeof ps->n[1];
    r[15] = sizeof(int[3][4]);
    r[16] = sizeof a3[1];
    r[17] = a3[1][2][3];
    r[18] = *(*(*(a3 + 1) + 1) + 1);
    p = *a3[1] + 5;
    r[19] = **a3[1] + a3[0][2][1] + *p;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    int v[4], m[3][4], a3[2][3][4];
    for (int i = 0; i < 4; i++)
        v[i] = 10 + i;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 4; j++)
            m[i][j] = i * 10 + j;
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 3; j++)
            for (int k = 0; k < 4; k++)
                a3[i][j][k] = i * 100 + j * 10 + k;
    const int word = 2; // an int of the PIC
    std::vector<int> want = {
        v[0], m[0][0], m[2][0], m[0][2], m[0][3] + m[1][2], m[1][1], 7 + 7, 'a' + 'b',
        50, 51, 52, 'c',
        4 * word, 4 * word, 5, 3 * 4 * word, 3 * 4 * word,
        a3[1][2][3], a3[1][1][1], a3[1][0][0] + a3[0][2][1] + a3[1][1][1],
    };
    expect_bytes(r, "r", want);
}

// Two arrays of 80 bytes fill two banks, each indexed by a variable;
// enumerations take one byte or two by their values.
TEST(DataPointers, TwoLargeArraysAndEnumerations)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
enum color { RED, GREEN = 5, BLUE };
enum big { SMALL = 1, LARGE = 1000 };
enum color c = BLUE;
enum big b;
unsigned char r1, sz1, sz2, r3;
int r2;
unsigned char big1[80], big2[80];
void main(void)
{
    unsigned char i;
    b = LARGE;
    r1 = c + GREEN;
    r2 = b + 1;
    sz1 = sizeof(c);
    sz2 = sizeof(b);
    for (i = 0; i < 80; i++) { big1[i] = i; big2[79 - i] = i + 1; }
    r3 = big1[40] + big2[40];
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), 11);
    EXPECT_EQ(r.value("r2", 2), 1001u);
    EXPECT_EQ(r.byte("sz1"), 1);
    EXPECT_EQ(r.byte("sz2"), 2);
    EXPECT_EQ(r.byte("r3"), 80);
    EXPECT_NE(r.address("big1") >> 7, r.address("big2") >> 7) << "one bank holds one of them";
    for (int i = 0; i < 80; i += 13) {
        EXPECT_EQ(r.byte("big1", (unsigned)i), i);
        EXPECT_EQ(r.byte("big2", (unsigned)(79 - i)), i + 1);
    }
}

// A one-byte pointer reaches one half of the banks: objects whose
// addresses it may hold lie in banks 0-1 (or common memory). Programs that
// break that are refused, with no output.
TEST(DataPointers, WhatOnePointerCannotReachIsRefused)
{
    NEEDS_SIMULATOR();
    c_run both = run_main(R"(
unsigned char a1[10] @ 0xA0;
unsigned char a2[10] @ 0x110;
unsigned char *p;
void main(void) { p = a1; *p = 1; p = a2; *p = 2; FINISH(); }
)");
    EXPECT_NE(both.status, 0);
    EXPECT_NE(both.output.find("(1491)"), std::string::npos) << both.output;
    c_run full = run_main(R"(
unsigned char h1[80], h2[80], h3[80];
unsigned char *p;
void main(void) { p = h1; *p = 1; p = h2; *p = 2; p = h3; *p = 3; FINISH(); }
)");
    EXPECT_NE(full.status, 0);
    EXPECT_NE(full.output.find("(1492)"), std::string::npos) << full.output;
}

// Structures of 1, 3, 17 and 80 bytes copied directly, through pointers,
// passed and returned by value.
TEST(Structures, CopiedPassedAndReturnedInEverySize)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
struct One { unsigned char v; } o1, o2;
struct Three { unsigned char a; int b; } t1, t2, t3;
struct Big { unsigned char d[17]; } b1, b2, b3;
struct Huge { unsigned char d[80]; } h1, h2;
struct Huge *ph1, *ph2;
struct Three *pt;
unsigned char r1, r2;
int r3;
struct One inc1(struct One x) { x.v++; return x; }
struct Three make(unsigned char a, int b) { struct Three t; t.a = a; t.b = b; return t; }
int gety(struct Three t) { return t.b + t.a; }
struct Big flip(struct Big x)
{
    unsigned char i, t;
    for (i = 0; i < 8; i++) { t = x.d[i]; x.d[i] = x.d[16 - i]; x.d[16 - i] = t; }
    return x;
}
unsigned char sum17(struct Big x) { unsigned char i, s = 0; for (i = 0; i < 17; i++) s += x.d[i]; return s; }
void main(void)
{
    unsigned char i;
    o1.v = 41;
    o2 = inc1(o1);
    t1 = make(7, -1234);
    t2 = t1;
    pt = &t3;
    *pt = t2;
    pt->b += 4;
    r3 = gety(t3);
    for (i = 0; i < 17; i++) b1.d[i] = i;
    b2 = flip(b1);
    r1 = sum17(b2);
    b3 = b2;
    for (i = 0; i < 80; i++) h1.d[i] = i ^ 0x55;
    ph1 = &h1; ph2 = &h2;
    *ph2 = *ph1;
    r2 = h2.d[79];
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("o2"), 42);
    expect_bytes(r, "t2", {7, -1234 & 0xFF, (-1234 >> 8) & 0xFF});
    expect_bytes(r, "t3", {7, -1230 & 0xFF, (-1230 >> 8) & 0xFF});
    EXPECT_EQ(r.value("r3", 2), (unsigned long)(-1223 & 0xFFFF));
    std::vector<int> flipped;
    for (int i = 0; i < 17; i++)
        flipped.push_back(16 - i);
    expect_bytes(r, "b2", flipped);
    expect_bytes(r, "b3", flipped);
    EXPECT_EQ(r.byte("r1"), 136);
    std::vector<int> huge;
    for (int i = 0; i < 80; i++)
        huge.push_back(i ^ 0x55);
    expect_bytes(r, "h2", huge);
    EXPECT_EQ(r.byte("r2"), 79 ^ 0x55);
}

// A union read in its members' widths, and bit-fields of widths 1, 3 and
// 7 set, read, changed and stored from variables.
TEST(Structures, UnionsAndBitFields)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
union U { unsigned long l; unsigned char b[4]; int w[2]; } u;
struct BF { unsigned a:1; unsigned b:3; unsigned c:7; unsigned char d; } bf, *pbf;
unsigned char r1, r2, r3, r4, r5, r6, v;
unsigned int rw;
void main(void)
{
    u.l = 0x12345678;
    r1 = u.b[0]; r2 = u.b[3];
    rw = u.w[1];
    u.b[1] = 0xAA;
    bf.a = 1; bf.b = 5; bf.c = 100; bf.d = 9;
    r3 = bf.b; r4 = bf.c; r5 = bf.a;
    bf.b++;
    r6 = bf.b + bf.c;
    v = 0x5B;
    pbf = &bf;
    pbf->c = v;
    pbf->c += 2;
    pbf->a = v & 2;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.value("u", 4), 0x1234AA78u);
    EXPECT_EQ(r.byte("r1"), 0x78);
    EXPECT_EQ(r.byte("r2"), 0x12);
    EXPECT_EQ(r.value("rw", 2), 0x1234u);
    EXPECT_EQ(r.byte("r3"), 5);
    EXPECT_EQ(r.byte("r4"), 100);
    EXPECT_EQ(r.byte("r5"), 1);
    EXPECT_EQ(r.byte("r6"), 106);
    // a = (0x5B & 2) != 0 as a one-bit field: bit 0 of 2, so 0; b = 6
    expect_bytes(r, "bf", {6 << 1, 0x5B + 2, 9});
}

// Initial values are copied at every start: changed before a restart, they
// are back after it; cleared objects read 0 again, on both sides of an
// object at a fixed address; persistent ones keep what they had.
TEST(InitialValues, CopiedAgainAtEveryStart)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
unsigned char a = 5;
int b[3] = {1, -2};
struct S { unsigned char x; unsigned f:3; unsigned g:4; long l; int arr[2]; } s = {7, 5, 9, 100000, {3, 4}};
char str[] = "hi";
unsigned char *p = &a;
struct S ss[2] = {{1}, {2, 1, 1, 5, {6, 7}}};
int m[2][2] = {1, 2, 3, 4};
unsigned char below[20];
unsigned char fixed @ 0x48;
unsigned char above[20];
persistent unsigned char restarts;
unsigned char r;
void main(void)
{
    if (restarts == 0) {
        restarts = 1;
        a = 0; b[1] = 0; s.l = 0; str[0] = 0; ss[1].g = 0; m[1][1] = 0; p = 0;
        below[0] = below[19] = above[0] = above[19] = 0x5A;
        asm("ljmp start");
    }
    restarts++;
    r = *p + str[1] + ss[1].arr[1] + m[1][0] + below[0] + above[19] + b[2];
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("restarts"), 2);
    EXPECT_EQ(r.byte("a"), 5);
    expect_bytes(r, "b", {1, 0, 0xFE, 0xFF, 0, 0});
    expect_bytes(r, "s", {7, 5 | 9 << 3, 0xA0, 0x86, 0x01, 0, 3, 0, 4, 0});
    expect_bytes(r, "str", {'h', 'i', 0});
    expect_bytes(r, "ss", {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1 | 1 << 3, 5, 0, 0, 0, 6, 0, 7, 0});
    expect_bytes(r, "m", {1, 0, 2, 0, 3, 0, 4, 0});
    EXPECT_EQ(r.byte("p"), (int)r.address("a") & 0xFF);
    for (const char *name : {"below", "above"}) {
        EXPECT_EQ(r.byte(name, 0), 0) << name;
        EXPECT_EQ(r.byte(name, 19), 0) << name;
    }
    EXPECT_EQ(r.byte("r"), 5 + 'i' + 7 + 3);
}

// Objects and initialised blocks that fit no bank, and initialised bits,
// are refused with their messages and no output.
TEST(InitialValues, WhatCannotBePlacedOrInitialisedIsRefused)
{
    struct bad_case {
        const char *text;
        const char *message;
    };
    const bad_case cases[] = {
        {"unsigned char big[120];\nvoid main(void) { big[1] = 1; FINISH(); }", "(1250)"},
        {"unsigned char big[100] = {1};\nvoid main(void) { big[1] = 1; FINISH(); }", "(1254)"},
        {"bit flag = 1;\nvoid main(void) { flag = 0; FINISH(); }", "(732)"},
    };
    for (const bad_case &c : cases) {
        c_run r = run_main(c.text);
        EXPECT_NE(r.status, 0) << c.text;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.text << "\n" << r.output;
        EXPECT_FALSE(std::filesystem::exists(r.dir + "/main.hex")) << c.text;
    }
}

// Constant tables and strings in program memory, read by index and through
// pointers; a string that is the tail of another takes no room of its own.
TEST(ConstantData, TablesAndStringsByIndexAndPointer)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
const unsigned char tab[4] = {10, 20, 30, 40};
const int wt[3] = {1000, -2, 300};
struct K { unsigned char a; int b; };
const struct K ks[2] = {{1, 2}, {3, -4}};
const char *greet = "hey";
const char *msg;
unsigned char r1, r2, r3, r4, i;
int w1, w2;
unsigned char len(const char *s) { unsigned char n = 0; while (*s++) n++; return n; }
void main(void)
{
    i = 2;
    msg = "hello";
    r1 = tab[i] + msg[i] + "abc"[i];
    w1 = wt[i] - wt[i - 1];
    w2 = ks[1].b + ks[i - 1].a;
    r2 = len(msg) + len("lo") * 10 + len(greet) * 100;
    r3 = tab[1];
    r4 = msg[4];
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), (30 + 'l' + 'c') & 0xFF);
    EXPECT_EQ(r.value("w1", 2), 302u);
    EXPECT_EQ(r.value("w2", 2), (unsigned long)(-1 & 0xFFFF));
    EXPECT_EQ(r.byte("r2"), (5 + 20 + 300) & 0xFF);
    EXPECT_EQ(r.byte("r3"), 20);
    EXPECT_EQ(r.byte("r4"), 'o');
    c_program asm_only;
    asm_only.options = "-S";
    asm_only.files.push_back({"main.c", "const char *a = \"hello\", *b = \"lo\";\n"
                                        "unsigned char r;\nvoid main(void) { r = a[1] + b[1]; FINISH(); }\n"});
    c_run s = c_compile(asm_only);
    ASSERT_EQ(s.status, 0) << s.output;
    std::string as = tool_read(s.dir + "/main.as");
    EXPECT_NE(as.find("equ\tSTR_"), std::string::npos) << "\"lo\" is the tail of \"hello\"\n" << as;
}

// A constant object without an initialiser is cleared RAM (warning 746),
// read as RAM, by name and by index.
TEST(ConstantData, WithoutAnInitialiserIsClearedRam)
{
    NEEDS_SIMULATOR();
    c_run r = run_main("const unsigned char z;\nconst unsigned char zt[3];\nunsigned char r, i = 2;\n"
                       "void main(void) { r = z + zt[i] + zt[1] + 5; FINISH(); }\n");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r"), 5);
}

// A one-byte pointer holds a RAM address or an offset in the page of
// constant data; when both kinds of address are taken, which one a pointer
// holds is unknown, and the program is refused.
// The debug file describes every function as a block holding its autos and
// parameters at their frame offsets; the debug converter reads it back.
TEST(DebugFile, FunctionBlocksWithTheirFrames)
{
    c_program p;
    p.files.push_back({"main.c", R"(
int total;
int add(int a, int b)
{
    int t = a + b;
    {
        unsigned char inner = 1;
        t += inner;
    }
    return t;
}
void main(void)
{
    total = add(1, 2);
    FINISH();
}
)"});
    c_run r = c_compile(p);
    ASSERT_EQ(r.status, 0) << r.output;
    std::string sdb = tool_read(r.dir + "/main.sdb");
    size_t at = sdb.find("[v _add `(i ");
    ASSERT_NE(at, std::string::npos) << sdb;
    size_t open = sdb.find("{\n", at), close = sdb.find("\n} ", at);
    ASSERT_NE(open, std::string::npos);
    ASSERT_NE(close, std::string::npos);
    std::string block = sdb.substr(open, close - open);
    for (const char *record : {"[v _add_t `i  1 a 2 ", "[v _add_inner `uc  1 a 1 ", "[v _add_a `i  1 p 2 0 ]",
                               "[v _add_b `i  1 p 2 2 ]"})
        EXPECT_NE(block.find(record), std::string::npos) << record << " in\n" << block;
    EXPECT_NE(sdb.find("[v _total `i  1 e 2 0 ]"), std::string::npos) << sdb;
    int status;
    std::string listing =
        tool_run(r.dir, std::string(ZEPH_BUILD_DIR) + "/bin/egret -v main.sym -ovormak out.sym", &status);
    EXPECT_EQ(status, 0) << listing;
    EXPECT_NE(listing.find("    func: _add() "), std::string::npos) << listing;
    EXPECT_NE(listing.find("        auto: _add_inner `u1 "), std::string::npos) << listing;
    EXPECT_NE(listing.find("        param: _add_b `i2 "), std::string::npos) << listing;
    EXPECT_NE(listing.find("    extern: _total `i2 "), std::string::npos) << listing;
}

// Pointer arithmetic cuts the index to the pointer's width: that is the
// language's doing, so it warns of no shorter conversion (752).
TEST(DataPointers, IndexCutToThePointersWidthWithoutWarning)
{
    c_program p;
    p.files.push_back({"main.c", "char buf[9];\nchar *p = buf;\nunsigned n = 2;\nlong k = 1;\n"
                                 "void main(void) { p = p + n; p += k; p = p - n; FINISH(); }\n"});
    c_run r = c_compile(p);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("(752)"), std::string::npos) << r.output;
}

// An array of one element is read and written as its element, constants
// and compound assignments included.
TEST(DataArrays, ArrayOfOneElement)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
char pool[6];
char *end = pool + 3;
unsigned char e[1] = {4}, f[1], g[1];
int w[1];
void main(void)
{
    e[0] += 1;
    f[0] = 5;
    g[0] = end - pool;
    w[0] = -300;
    w[0] -= 1;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("e"), 5);
    EXPECT_EQ(r.byte("f"), 5);
    EXPECT_EQ(r.byte("g"), 3);
    EXPECT_EQ(r.value("w", 2), (unsigned long)(-301 & 0xFFFF));
}

// One parameter that may hold the address of a constant string and of a
// RAM array: its tag says which, and each read goes to the right memory.
// A global pointer of both kinds has no tag: refused, naming the pointer.
TEST(ConstantData, PointersToBothKindsOfMemory)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
unsigned char buf[4];
unsigned char r;
unsigned char first(const char *s) { return *s; }
void main(void) { buf[0] = 5; r = first("a") + first(buf); FINISH(); }
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r"), 'a' + 5);
    r = run_main(R"(
unsigned char buf[4];
const char *g;
unsigned char r;
void main(void) { g = buf; if (r) g = "a"; r = *g; FINISH(); }
)");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("(1541) pointer g may hold"), std::string::npos) << r.output;
}

// Pointers that each hold one kind: constant strings read through some,
// RAM written and read through others, in one program; a pointer handed
// from variable to variable and from call to call keeps its kind.
TEST(ConstantData, EachPointerReadsTheMemoryItsValuesLieIn)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
char buf[8], out[8];
unsigned char n1, n2, n3;
const char *message = "gamma";
void copy(char *to, const char *from) { while ((*to++ = *from++) != 0) ; }
unsigned char length(const char *s) { unsigned char n = 0; while (*s++) n++; return n; }
unsigned char count(char *p, char c) { unsigned char n = 0; for (; *p; p++) n += *p == c; return n; }
void fill(char *p, char c, unsigned char n) { while (n--) *p++ = c; *p = 0; }
void main(void)
{
    const char *s = message;
    copy(buf, "hello");
    n1 = length("constant!") + length(s);
    fill(out, 'x', 3);
    n2 = count(out, 'x');
    n3 = count(buf, 'l');
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    expect_bytes(r, "buf", {'h', 'e', 'l', 'l', 'o', 0});
    expect_bytes(r, "out", {'x', 'x', 'x', 0});
    EXPECT_EQ(r.byte("n1"), 14);
    EXPECT_EQ(r.byte("n2"), 3);
    EXPECT_EQ(r.byte("n3"), 2);
}

// The bytes of an Intel HEX file by address.
std::map<unsigned, unsigned> hex_bytes(const std::string &text)
{
    std::map<unsigned, unsigned> out;
    unsigned upper = 0;
    size_t at = 0;
    while ((at = text.find(':', at)) != std::string::npos) {
        auto byte = [&](size_t k) { return (unsigned)std::stoul(text.substr(at + 1 + 2 * k, 2), nullptr, 16); };
        unsigned n = byte(0), address = byte(1) << 8 | byte(2), type = byte(3);
        if (type == 4)
            upper = (byte(4) << 8 | byte(5)) << 16;
        for (unsigned i = 0; type == 0 && i < n; i++)
            out[upper + address + i] = byte(4 + i);
        at++;
    }
    return out;
}

// EEPROM data, the ID locations and the configuration word set from C by
// the chip header's macros land where a device programmer looks for them
// (words 2100h, 2000h and 2007h); the program reads the EEPROM, writes it
// and reads the new bytes back.
TEST(Eeprom, InitialDataWritesAndReadsBack)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.prelude = false;
    p.files.push_back({"main.c", R"(#include <zeph.h>
__CONFIG(_WDT_OFF & _PWRTE_ON);
__IDLOC(0x1234);
__EEPROM_DATA(1, 2, 3, 4, 5, 6, 7, 8);
__EEPROM_DATA(0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80);
volatile unsigned char test_done;
unsigned char r1, r2, r3, r4;
void main(void)
{
    r1 = EEPROM_READ(1);
    r2 = EEPROM_READ(9);
    EEPROM_WRITE(3, 0x99);
    EEPROM_WRITE(20, r1 + r2);
    r3 = EEPROM_READ(3);
    r4 = EEPROM_READ(20);
    test_done = 1;
    for (;;)
        continue;
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), 2);
    EXPECT_EQ(r.byte("r2"), 0x20);
    EXPECT_EQ(r.byte("r3"), 0x99);
    EXPECT_EQ(r.byte("r4"), 0x22);
    std::map<unsigned, unsigned> hex = hex_bytes(tool_read(r.dir + "/main.hex"));
    const unsigned eeprom[16] = {1, 2, 3, 4, 5, 6, 7, 8, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    for (unsigned i = 0; i < 16; i++) {
        EXPECT_EQ(hex[0x4200 + 2 * i], eeprom[i]) << "EEPROM byte " << i;
        EXPECT_EQ(hex[0x4200 + 2 * i + 1], 0u) << "EEPROM byte " << i;
    }
    for (unsigned i = 0; i < 4; i++)
        EXPECT_EQ(hex[0x4000 + 2 * i], i + 1) << "ID location " << i;
    EXPECT_EQ(hex[0x400E] | hex[0x400F] << 8, 0x3FFBu & 0x3FF7u);   // _WDT_OFF & _PWRTE_ON
    EXPECT_FALSE(hex[0] == 1 && hex[1] == 0) << "the EEPROM's first byte at the reset vector";
}

// The data-size line of the assembly counts what the link places: the
// initialised block, the cleared objects and the frames, each psect in the
// class of the bank the code generator chose for it.
TEST(Placement, DataSizesAgreeWithTheMap)
{
    c_program p;
    p.options = "--bankqual=require -Mmain.map";
    p.files.push_back({"main.c", R"(
unsigned char table[12] = {1, 2, 3};
int counts[4] = {10, 20};
bank1 unsigned char b1[30];
bank2 unsigned char b2[40];
bank3 long b3[5];
near unsigned char flag;
unsigned char add(unsigned char a, unsigned char b) { unsigned char t[3]; t[0] = a; t[2] = b; return t[0] + t[2]; }
void main(void)
{
    b1[3] = add(table[2], b2[1]);
    b3[1] = counts[1] + flag;
    FINISH();
}
)"});
    c_run r = c_compile(p);
    ASSERT_EQ(r.status, 0) << r.output;
    p.options += " -S";
    c_run s = c_compile(p);
    ASSERT_EQ(s.status, 0) << s.output;
    std::string as = tool_read(s.dir + "/main.as");
    unsigned long strings, cnst, data, bss, persist, stack;
    size_t at = as.find(";Data sizes:");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(sscanf(as.c_str() + at, ";Data sizes: Strings %lu, constant %lu, data %lu, bss %lu, persistent %lu stack %lu",
                     &strings, &cnst, &data, &bss, &persist, &stack), 6);
    // the map's totals by class: "CLASS name", then "psect link load length space"
    std::istringstream map(tool_read(r.dir + "/main.map"));
    std::string line, cls;
    bool totals = false;
    unsigned long placed_data = 0, placed_bss = 0, placed_stack = 0;
    while (std::getline(map, line)) {
        std::istringstream w(line);
        std::vector<std::string> f;
        for (std::string x; w >> x;)
            f.push_back(x);
        if (!f.empty() && f[0] == "TOTAL")
            totals = true;
        if (!totals || f.empty())
            continue;
        if (f[0] == "SEGMENTS")
            break;
        if (f[0] == "CLASS") {
            cls = f.size() > 1 ? f[1] : "";
            continue;
        }
        if (f.size() != 5)
            continue;
        unsigned long length = std::stoul(f[3], nullptr, 16);
        const std::string &psect = f[0];
        auto in_bank_class = [&](const char *stem) {
            std::string bank = psect.substr(strlen(stem));
            EXPECT_EQ(cls, "BANK" + bank) << psect;
        };
        if (psect.rfind("rdata_", 0) == 0) {
            placed_data += length;
            in_bank_class("rdata_");
        } else if (psect.rfind("rbss_", 0) == 0) {
            placed_bss += length;
            in_bank_class("rbss_");
        } else if (psect == "common") {
            placed_bss += length;
        } else if (psect.rfind("fnauto", 0) == 0) {
            placed_stack += length;
        }
    }
    EXPECT_EQ(data, 12u + 8u);
    EXPECT_EQ(placed_data, data);
    EXPECT_EQ(placed_bss, bss);
    EXPECT_EQ(placed_stack, stack);
}

// Switches on bytes (every value from -128 to 127 through a compare chain,
// fall-through and default), and on 16- and 32-bit values at their
// boundaries. The host computes the same hash of every result.
TEST(Switch, EveryByteValueAndWideBoundaries)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
unsigned int hash;
unsigned char wide[10];
unsigned char pick(signed char x)
{
    unsigned char k = 0;
    switch (x) {
    case -128: return 1;
    case -100: k = 5;
    case -99: return k + 2;
    case -1: return 3;
    case 0: return 4;
    case 1: return 5;
    case 2: break;
    case 50: return 6;
    case 64: return 7;
    case 126: return 8;
    case 127: return 9;
    default: return 10;
    }
    return 11;
}
unsigned char wpick(int w)
{
    switch (w) { case -32768: return 1; case -1: return 2; case 255: return 3; case 256: return 4; case 32767: return 5; }
    return 0;
}
unsigned char lpick(long l)
{
    switch (l) { case -2147483647L - 1: return 1; case 65536: return 2; case -65536: return 3; case 16777216: return 4; default: return 9; }
}
void main(void)
{
    signed char x = -128;
    do {
        hash = hash * 31 + pick(x);
    } while (x++ != 127);
    wide[0] = wpick(-32768); wide[1] = wpick(-1); wide[2] = wpick(255); wide[3] = wpick(256); wide[4] = wpick(32767);
    wide[5] = lpick(-2147483647L - 1); wide[6] = lpick(65536); wide[7] = lpick(-65536); wide[8] = lpick(16777216);
    wide[9] = lpick(65535);
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    auto pick = [](int x) -> unsigned {
        switch (x) {
        case -128: return 1;
        case -100: return 7;
        case -99: return 2;
        case -1: return 3;
        case 0: return 4;
        case 1: return 5;
        case 2: return 11;
        case 50: return 6;
        case 64: return 7;
        case 126: return 8;
        case 127: return 9;
        default: return 10;
        }
    };
    uint16_t hash = 0;
    for (int x = -128; x <= 127; x++)
        hash = (uint16_t)(hash * 31 + pick(x));
    EXPECT_EQ(r.value("hash", 2), hash);
    expect_bytes(r, "wide", {1, 2, 3, 4, 5, 1, 2, 3, 4, 9});
}

// A Timer0 interrupt every 256 cycles counts ticks while code in page 1
// does 16- and 32-bit arithmetic: over 10,000 interrupts every result stays
// right (the context of the code interrupted comes back whole).
TEST(Interrupts, TimerTicksWhileArithmeticRuns)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.cycles = 8000000;
    p.files.push_back({"main.c", R"(
volatile unsigned int ticks;
volatile unsigned char seen;
unsigned long acc;
unsigned int w;
long m;
void interrupt isr(void)
{
    if (T0IF) {
        T0IF = 0;
        ticks++;
        seen = (ticks & 3) * 5;
    }
}
void work(void) @ 0x900
{
    unsigned int i;
    for (i = 0; i < 600; i++) {
        acc += (unsigned long)i * 3;
        w ^= i << 1;
        m = m * 3 / 2 - i;
    }
}
void main(void)
{
    OPTION_REG = 0x08;   /* Timer0 counts instruction cycles */
    T0IE = 1;
    GIE = 1;
    work();
    GIE = 0;
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    uint32_t acc = 0;
    uint16_t w = 0;
    int32_t m = 0;
    for (int32_t i = 0; i < 600; i++) {
        acc += (uint32_t)i * 3;
        w ^= (uint16_t)(i << 1);
        m = (int32_t)((uint32_t)m * 3) / 2 - i;
    }
    EXPECT_EQ(r.value("acc", 4), acc);
    EXPECT_EQ(r.value("w", 2), w);
    EXPECT_EQ((uint32_t)r.value("m", 4), (uint32_t)m);
    EXPECT_GT(r.value("ticks", 2), 10000u);
    EXPECT_EQ(r.address("work"), 0x900) << "the arithmetic runs in page 1";
}

// A function called from main and from the interrupt function would have
// one frame for two calls that may be active at once: the link refuses it.
TEST(Interrupts, AFunctionSharedWithMainIsRefused)
{
    c_run r = run_main(R"(
unsigned char count, twice;
unsigned char bump(unsigned char x) { return x + 1; }
void interrupt isr(void) { count = bump(count); T0IF = 0; }
void main(void) { twice = bump(twice); FINISH(); }
)");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("(472)"), std::string::npos) << r.output;
}

// Marked by #pragma interrupt_level 1, a function may be called from main
// (with interrupts off around the call) and from the interrupt function:
// the program links and both calls compute right while interrupts come.
TEST(Interrupts, AFunctionMarkedForTheInterruptLevelIsShared)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.cycles = 4000000;
    p.files.push_back({"main.c", R"(
volatile unsigned int ticks;
unsigned int sum, last;
#pragma interrupt_level 1
unsigned int mix(unsigned int a, unsigned char b) { return a * 3 + b; }
void interrupt isr(void)
{
    if (T0IF) {
        T0IF = 0;
        ticks = mix(ticks, 1) & 0x0FFF;
    }
}
void main(void)
{
    unsigned char i;
    OPTION_REG = 0x02;   /* Timer0 on the instruction clock / 8: the interrupt's call takes its time */
    T0IE = 1;
    GIE = 1;
    for (i = 0; i < 200; i++) {
        GIE = 0;
        sum += mix(i, 2);
        GIE = 1;
    }
    GIE = 0;
    last = ticks;
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    unsigned sum = 0;
    for (unsigned i = 0; i < 200; i++)
        sum += i * 3 + 2;
    EXPECT_EQ(r.value("sum", 2), sum & 0xFFFF);
    // the ticks follow x -> (3x + 1) mod 4096 from 0, once per interrupt
    unsigned t = 0, steps = 0;
    while (t != r.value("last", 2) && steps < 100000) {
        t = (t * 3 + 1) & 0x0FFF;
        steps++;
    }
    EXPECT_GT(steps, 10u) << "interrupts came while main ran";
    EXPECT_LT(steps, 100000u) << "the interrupt's values are those of its own calls";
}

// One program of arrays, constant tables, pointers, structures, wide
// arithmetic and a switch on every mid-range chip the simulator runs (the
// chips whose oscillator value sits at the top of program memory get one).
class EveryMidrangeChip : public testing::TestWithParam<const char *> {};

TEST_P(EveryMidrangeChip, DataProgramRuns)
{
    NEEDS_SIMULATOR();
    std::string chip = GetParam();
    c_program p;
    p.chip = chip;
    if (chip == "12F629" || chip == "12F675" || chip == "16F676")
        p.options = "--runtime=+oscval:80";
    p.files.push_back({"main.c", R"(
unsigned char arr[8];
int w[3] = {100, -200, 300};
const unsigned char tab[4] = {3, 5, 7, 9};
struct S { unsigned char a; long b; } s;
unsigned char *p;
unsigned char r1;
long r2;
unsigned char sum(unsigned char *q, unsigned char n) { unsigned char t = 0; while (n--) t += *q++; return t; }
void main(void)
{
    unsigned char i;
    for (i = 0; i < 8; i++) arr[i] = tab[i & 3] + i;
    p = arr;
    r1 = sum(p, 8);
    s.a = r1;
    s.b = (long)w[1] * w[2];
    switch (r1) { case 76: r1 = 1; break; default: r1 = 2; }
    r2 = s.b / 7;
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), 1);
    EXPECT_EQ((uint32_t)r.value("r2", 4), (uint32_t)(-60000 / 7));
    EXPECT_EQ(r.byte("s"), 76);
}

// 16F684, 16F688, 16F76, 16F77 and 16F946 are left out: the simulator stops
// on them before the program's end; 16F84A it does not know.
INSTANTIATE_TEST_SUITE_P(Chips, EveryMidrangeChip,
                         testing::Values("12F629", "12F675", "12F683", "16F627A", "16F628A", "16F648A", "16F676",
                                         "16F690", "16F716", "16F73", "16F74", "16F818", "16F819", "16F87",
                                         "16F88", "16F873A", "16F874A", "16F876A", "16F877A", "16F882", "16F883",
                                         "16F884", "16F886", "16F887", "16F913", "16F914", "16F916", "16F917"));

// Calls through function pointers: held in variables, constant tables and
// structures, with and without a byte argument, compared; the frames of
// every function a pointer may reach lie above the caller's, so the
// caller's locals survive the calls.
TEST(FunctionPointers, TablesStructuresAndComparisons)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
unsigned char a, b, c, d, e;
unsigned char twice(unsigned char x) { unsigned char t[2]; t[1] = x; return t[1] + x; }
unsigned char inc(unsigned char x) { unsigned char u = x; return u + 1; }
unsigned char seven(void) { return 7; }
unsigned char (*op)(unsigned char);
unsigned char (*const ops[2])(unsigned char) = {twice, inc};
unsigned char (*g)(void) = seven;
struct H { unsigned char k; unsigned char (*f)(unsigned char); } h;
unsigned char apply(unsigned char (*f)(unsigned char), unsigned char v)
{
    unsigned char keep = v * 3, got = f(v);
    return keep + got;
}
void main(void)
{
    unsigned char i;
    op = twice;
    a = op(5);
    op = inc;
    b = op(a) + ops[1](3);
    c = g();
    h.f = twice;
    for (i = 0; i < 2; i++)
        d += ops[i](10);
    d += h.f(1) + (op == inc) + (op != twice);
    e = apply(twice, 4) + apply(inc, 4);
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("a"), 10);
    EXPECT_EQ(r.byte("b"), 15);
    EXPECT_EQ(r.byte("c"), 7);
    EXPECT_EQ(r.byte("d"), 35);
    EXPECT_EQ(r.byte("e"), 12 + 8 + 12 + 5);
}

// Arguments and values wider than a byte pass through the argument block
// of the call's shape (more in fptr_test.cpp).
TEST(FunctionPointers, WiderArgumentsAndValuesAreCarried)
{
    NEEDS_SIMULATOR();
    const struct {
        const char *text;
        unsigned long want;
    } cases[] = {
        {"int wide(int x) { return x; }\nint (*p)(int) = wide;\nint r;\nvoid main(void) { r = p(300); FINISH(); }",
         300},
        {"unsigned char two(unsigned char x, unsigned char y) { return x + y; }\n"
         "unsigned char (*p)(unsigned char, unsigned char) = two;\nunsigned char r;\n"
         "void main(void) { r = p(1, 2); FINISH(); }",
         3},
    };
    for (const auto &c : cases) {
        c_run r = run_main(c.text);
        ASSERT_EQ(r.status, 0) << c.text << "\n" << r.output;
        ASSERT_TRUE(r.finished) << c.text << "\n" << r.log;
        EXPECT_EQ(r.value("r", c.want > 255 ? 2 : 1), c.want) << c.text;
    }
}

// The simulator's cycle count at each write of `mark` (the first stop is
// the start-up code clearing it), the run bounded past the last of `writes`.
std::vector<unsigned long> marker_cycles(const c_run &r, unsigned writes, const std::string &chip = "16f877a")
{
    std::vector<unsigned long> cycles;
    long at = r.address("mark");
    if (at < 0)
        return cycles;
    std::ostringstream script;
    script << std::hex << "break w 0x" << at << "\n" << std::dec << "break c 2000000\n";
    for (unsigned i = 0; i <= writes; i++)
        script << "run\n";
    script << "quit\n";
    tool_write(r.dir + "/delay.stc", script.str());
    int status = 0;
    std::string log =
        tool_run(r.dir, "gpsim -i -S disable -p p" + chip + " -I '" + r.dir + "/delay.stc' main.hex </dev/null", &status);
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("0x", 0) == 0 && line.find(" p" + chip + " ") != std::string::npos)
            cycles.push_back(std::stoul(line.substr(2, line.find(' ') - 2), nullptr, 16));
    return cycles;
}

// _delay(n) takes exactly n cycles: the gaps between writes of a marker,
// less what the writes take; on the mid-range core and on the 12-bit one
// (loops of other lengths there: counts at each loop's boundaries).
TEST(Delay, ExactCycleCounts)
{
    NEEDS_SIMULATOR();
    const unsigned long counts[] = {0,    1,    2,    3,    4,    5,      7,      10,     100,    772,
                                    773,  774,  1000, 1027, 1028, 1031,   5000,   197636, 197637, 197641,
                                    262913, 262920, 300000};
    std::string body;
    unsigned marker = 1;
    for (unsigned long n : counts)
        body += "    mark = " + std::to_string(marker++) + ";\n    _delay(" + std::to_string(n) + ");\n";
    body += "    mark = " + std::to_string(marker) + ";\n";
    for (const char *chip : {"16F877A", "12F509", "16F505"}) {
        c_program p;
        p.chip = chip;
        p.files.push_back({"main.c", "volatile unsigned char mark;\nvoid main(void)\n{\n" + body + "    FINISH();\n}\n"});
        c_run r = c_compile(p);
        ASSERT_EQ(r.status, 0) << r.output;
        std::string lower_chip = chip;
        for (char &c : lower_chip)
            c = (char)tolower((unsigned char)c);
        std::vector<unsigned long> cycles = marker_cycles(r, marker, lower_chip);
        // the gap around _delay(0) is what the writes themselves take
        ASSERT_GE(cycles.size(), (size_t)marker + 1) << chip;
        unsigned long writes = cycles[2] - cycles[1];
        for (size_t i = 0; i + 1 < (size_t)marker; i++)
            EXPECT_EQ(cycles[i + 2] - cycles[i + 1] - writes, counts[i]) << chip << " _delay(" << counts[i] << ")";
    }
}

// A delay right after a label, where every way in has selected the bank of
// the delay's counter (the frame lies in bank 0): the delay counts the
// selection it makes, so no later pass may take that selection away. The
// same program with _delay(0) gives the gap without the delay.
TEST(Delay, ExactAfterALabel)
{
    NEEDS_SIMULATOR();
    auto gap = [](unsigned long n) {
        c_program p;
        // the marker outside common memory: gpsim stops on a write through
        // the address named only
        p.files.push_back({"main.c", R"(
volatile unsigned char mark @ 0x30;
unsigned char pad[0x40];
unsigned char flag = 1;
void main(void)
{
    unsigned char local[20];
    mark = 1;
    mark = 2;
    if (flag)
        pad[3] = 5;
    else
        pad[4] = 6;
    _delay()" + std::to_string(n) + R"();
    mark = 3;
    local[flag] = 4;
    pad[0] = local[1];
    FINISH();
}
)"});
        c_run r = c_compile(p);
        EXPECT_EQ(r.status, 0) << r.output;
        // (an object at an address is not cleared at start-up: the stops are
        // the writes of 1, 2 and 3)
        std::vector<unsigned long> cycles = marker_cycles(r, 2);
        return cycles.size() >= 3 ? (long)(cycles[2] - cycles[1]) : -1L;
    };
    for (unsigned long n : {300000ul, 263000ul}) {
        long with = gap(n), without = gap(0);
        ASSERT_GE(with, 0);
        ASSERT_GE(without, 0);
        EXPECT_EQ(with - without, (long)n) << "_delay(" << n << ")";
    }
}

// __delay_ms and __delay_us at a 4 MHz clock: a cycle a microsecond.
TEST(Delay, MillisecondsAndMicrosecondsFromTheClock)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.prelude = false;
    p.files.push_back({"main.c", "#define _XTAL_FREQ 4000000\n#include <zeph.h>\n__CONFIG(_WDT_OFF);\n"
                                 "volatile unsigned char mark;\n"
                                 "void main(void) { mark = 1; mark = 2; __delay_ms(2); mark = 3; __delay_us(50); "
                                 "mark = 4; for (;;) continue; }\n"});
    c_run r = c_compile(p);
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<unsigned long> cycles = marker_cycles(r, 4);
    ASSERT_GE(cycles.size(), 5u);
    unsigned long writes = cycles[2] - cycles[1];
    EXPECT_EQ(cycles[3] - cycles[2] - writes, 2000u);
    EXPECT_EQ(cycles[4] - cycles[3] - writes, 50u);
}

// Two reads of a volatile register stay two: the free-running timer moves
// between them, so their difference is not 0.
TEST(Volatile, TwoReadsOfARegisterStayTwo)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
unsigned char d, s;
void main(void)
{
    OPTION_REG = 0x08;   /* the timer counts instruction cycles */
    d = TMR0 - TMR0;
    s = TMR0 ^ TMR0;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_NE(r.byte("d"), 0);
    EXPECT_NE(r.byte("s"), 0);
}

// Two files with static objects and functions of one name keep them apart;
// an extern array is reached from the file that does not define it.
TEST(Programs, TwoFilesWithStaticsOfOneName)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.files.push_back({"main.c", R"(
static unsigned char count;
static unsigned char next(void) { return ++count; }
extern unsigned char table[4];
unsigned char other(void);
unsigned char r1, r2, r3;
void main(void)
{
    next(); next();
    r1 = other();
    r2 = count;
    r3 = table[3];
    FINISH();
}
)"});
    p.files.push_back({"second.c", R"(
static unsigned char count = 0;
static unsigned char next(void) { count += 10; return count; }
unsigned char table[4];
unsigned char other(void) { unsigned char i; for (i = 0; i < 4; i++) table[i] = i * 5; next(); return next(); }
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r1"), 20);
    EXPECT_EQ(r.byte("r2"), 2);
    EXPECT_EQ(r.byte("r3"), 15);
}

} // namespace
