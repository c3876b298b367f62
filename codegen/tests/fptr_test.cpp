// Calls through function pointers compiled by the installed chain and run
// in gpsim on the 16F877A: arguments of every width and number, values of
// two and four bytes, pointers in tables, structures and parameters, calls
// through pointers inside functions called through pointers. Every
// expected value is worked out here, on the host, by the same functions.
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

void tool_exit(int) {}

namespace {

c_run run_main(const std::string &text)
{
    c_program p;
    p.files.push_back({"main.c", text});
    return c_compile_and_run(p);
}

// `bytes` bytes of a global from `offset` on, least significant first.
uint32_t at(const c_run &r, const char *name, unsigned offset, unsigned bytes)
{
    uint32_t v = 0;
    for (unsigned k = 0; k < bytes; k++)
        v |= (uint32_t)(r.byte(name, offset + k) & 0xFF) << (8 * k);
    return v;
}

// The functions of the first program, on the host.
uint8_t h_seven() { return 7; }
uint8_t h_twice(uint8_t x) { return (uint8_t)(x + x); }
int16_t h_add(int16_t x, int16_t y) { return (int16_t)(x + y); }
int16_t h_sub(int16_t x, int16_t y) { return (int16_t)(x - y); }
int16_t h_mix(uint8_t a, int16_t b, uint8_t c) { return (int16_t)(a * 3 - b + c); }
int32_t h_scale(int32_t v) { return v * 3 + 1; }
int32_t h_negate(int32_t v) { return -v; }
uint16_t h_wide(uint8_t x) { return (uint16_t)(x * 300u); }
int32_t h_sum4(int32_t a, int32_t b) { return a - 2 * b; }
struct h_pt { int16_t x; int16_t y; };
int16_t h_len(const h_pt *p) { return (int16_t)(p->x + p->y); }
int16_t h_area(const h_pt *p) { return (int16_t)(p->x * p->y); }

// Tables of pointers called with no argument, a byte, two ints, three
// parameters, a long and a pointer to a structure, returning bytes, ints
// and longs; pointers in structures and compared; arguments that are
// calls themselves; a long argument with a byte one before it.
TEST(FunctionPointerCalls, ArgumentsAndValuesOfEveryWidth)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
struct pt { int x; int y; };
unsigned char seven(void) { return 7; }
unsigned char twice(unsigned char x) { return x + x; }
int add(int x, int y) { return x + y; }
int sub(int x, int y) { return x - y; }
int mix(unsigned char a, int b, unsigned char c) { return a * 3 - b + c; }
long scale(long v) { return v * 3 + 1; }
long negate(long v) { return -v; }
unsigned int wide(unsigned char x) { return x * 300u; }
long sum4(long a, long b) { return a - 2 * b; }
int len(const struct pt *p) { return p->x + p->y; }
int area(const struct pt *p) { return p->x * p->y; }
int (*const ops[2])(int, int) = {add, sub};
long (*lops[2])(long);
int (*shape)(const struct pt *);
struct holder { unsigned char tag; int (*f)(unsigned char, int, unsigned char); long (*g)(long, long); } h;
unsigned char (*g0)(void) = seven;
unsigned int (*gw)(unsigned char) = wide;
struct pt box = {12, -5};
unsigned char r0, same, differ;
int r2[4], rs[2], rm;
long r4[3], rl;
unsigned int rw;
void main(void)
{
    unsigned char i;
    int keep = 1234;
    lops[0] = scale;
    lops[1] = negate;
    h.f = mix;
    h.g = sum4;
    r0 = g0() + (unsigned char)twice(3);
    for (i = 0; i < 2; i++)
        r2[i] = ops[i](1000, -77);
    r2[2] = ops[0](ops[1](50, 8), 300);
    r2[3] = keep;
    for (i = 0; i < 2; i++)
        r4[i] = lops[i](-100000L + i);
    r4[2] = lops[0](lops[1](7));
    rm = h.f(200, -3000, 9);
    rl = h.g(123456789L, -1000000L);
    rw = gw(211);
    shape = len;
    rs[0] = shape(&box);
    shape = area;
    rs[1] = shape(&box);
    same = (shape == area) + (h.f == mix) * 2 + (lops[0] == scale) * 4;
    differ = (shape != len) + (lops[1] != lops[0]) * 2;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("r0"), h_seven() + h_twice(3));
    int16_t r2[4] = {h_add(1000, -77), h_sub(1000, -77), h_add(h_sub(50, 8), 300), 1234};
    for (unsigned i = 0; i < 4; i++)
        EXPECT_EQ((int16_t)at(r, "r2", 2 * i, 2), r2[i]) << "r2[" << i << "]";
    int32_t r4[3] = {h_scale(-100000), h_negate(-99999), h_scale(h_negate(7))};
    for (unsigned i = 0; i < 3; i++)
        EXPECT_EQ((int32_t)at(r, "r4", 4 * i, 4), r4[i]) << "r4[" << i << "]";
    EXPECT_EQ((int16_t)at(r, "rm", 0, 2), h_mix(200, -3000, 9));
    EXPECT_EQ((int32_t)at(r, "rl", 0, 4), h_sum4(123456789, -1000000));
    EXPECT_EQ(at(r, "rw", 0, 2), h_wide(211));
    h_pt box = {12, -5};
    EXPECT_EQ((int16_t)at(r, "rs", 0, 2), h_len(&box));
    EXPECT_EQ((int16_t)at(r, "rs", 2, 2), h_area(&box));
    EXPECT_EQ(r.byte("same"), 7);
    EXPECT_EQ(r.byte("differ"), 3);
}

// A pointer that reaches functions of one shape whose frames differ in
// size (no autos, a few, an array), called in a loop: the caller's locals
// and the arguments of every call survive, whichever function runs.
int16_t h_step0(int16_t v, uint8_t k) { return (int16_t)(v + k); }
int16_t h_step1(int16_t v, uint8_t k)
{
    int16_t a = (int16_t)(v * 2), b = (int16_t)(a - k);
    return (int16_t)(b ^ 0x55);
}
int16_t h_step2(int16_t v, uint8_t k)
{
    uint8_t t[6];
    int16_t s = 0;
    for (uint8_t i = 0; i < 6; i++)
        t[i] = (uint8_t)(k + i);
    for (uint8_t i = 0; i < 6; i++)
        s = (int16_t)(s + t[i]);
    return (int16_t)(v - s);
}

TEST(FunctionPointerCalls, TargetsOfDifferentFramesInALoop)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
int step0(int v, unsigned char k) { return v + k; }
int step1(int v, unsigned char k) { int a = v * 2, b = a - k; return b ^ 0x55; }
int step2(int v, unsigned char k)
{
    unsigned char t[6], i;
    int s = 0;
    for (i = 0; i < 6; i++)
        t[i] = k + i;
    for (i = 0; i < 6; i++)
        s += t[i];
    return v - s;
}
int (*const steps[3])(int, unsigned char) = {step0, step1, step2};
int trace[9];
long guard;
void main(void)
{
    unsigned char i, k = 3;
    int v = 100;
    long mark = 0x12345678L;
    int (*p)(int, unsigned char);
    for (i = 0; i < 9; i++) {
        p = steps[i % 3];
        v = p(v, k);
        trace[i] = v;
        k += 7;
    }
    guard = mark;
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    int16_t (*steps[3])(int16_t, uint8_t) = {h_step0, h_step1, h_step2};
    int16_t v = 100;
    uint8_t k = 3;
    for (unsigned i = 0; i < 9; i++) {
        v = steps[i % 3](v, k);
        EXPECT_EQ((int16_t)at(r, "trace", 2 * i, 2), v) << "call " << i;
        k = (uint8_t)(k + 7);
    }
    EXPECT_EQ(at(r, "guard", 0, 4), 0x12345678u);
}

// Calls through pointers inside functions that are called through
// pointers (of another shape), and a comparison passed as a callback to a
// sort written in C, as qsort is given one.
int32_t h_apply(int16_t (*f)(int16_t, int16_t), int16_t a, int16_t b) { return (int32_t)f(a, b) * 1000 + a; }
int16_t h_max(int16_t a, int16_t b) { return a > b ? a : b; }
int16_t h_min(int16_t a, int16_t b) { return a < b ? a : b; }

TEST(FunctionPointerCalls, NestedCallsAndCallbacks)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
int max(int a, int b) { return a > b ? a : b; }
int min(int a, int b) { return a < b ? a : b; }
long apply_max(int a, int b) { int (*f)(int, int) = max; return (long)f(a, b) * 1000 + a; }
long apply_min(int a, int b) { int (*f)(int, int) = min; return (long)f(a, b) * 1000 + a; }
long (*outer[2])(int, int) = {apply_max, apply_min};
long got[4];
int by_value(const void *a, const void *b)
{
    int x = *(const int *)a, y = *(const int *)b;
    return x < y ? -1 : x > y;
}
int by_low_byte(const void *a, const void *b)
{
    return (int)*(const unsigned char *)a - (int)*(const unsigned char *)b;
}
void sort(int *v, unsigned char n, int (*cmp)(const void *, const void *))
{
    unsigned char i, j;
    int t;
    for (i = 1; i < n; i++)
        for (j = i; j > 0 && cmp(&v[j - 1], &v[j]) > 0; j--) {
            t = v[j];
            v[j] = v[j - 1];
            v[j - 1] = t;
        }
}
int a[7] = {300, -5, 17, 0x1201, -300, 0x0102, 4};
int b[7] = {300, -5, 17, 0x1201, -300, 0x0102, 4};
void main(void)
{
    unsigned char i;
    for (i = 0; i < 2; i++) {
        got[2 * i] = outer[i](-40, 25);
        got[2 * i + 1] = outer[i](700, -9);
    }
    sort(a, 7, by_value);
    sort(b, 7, by_low_byte);
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    int16_t (*inner[2])(int16_t, int16_t) = {h_max, h_min};
    for (unsigned i = 0; i < 2; i++) {
        EXPECT_EQ((int32_t)at(r, "got", 8 * i, 4), h_apply(inner[i], -40, 25)) << i;
        EXPECT_EQ((int32_t)at(r, "got", 8 * i + 4, 4), h_apply(inner[i], 700, -9)) << i;
    }
    std::vector<int16_t> a = {300, -5, 17, 0x1201, -300, 0x0102, 4}, b = a;
    std::stable_sort(a.begin(), a.end());
    std::stable_sort(b.begin(), b.end(), [](int16_t x, int16_t y) { return (uint8_t)x < (uint8_t)y; });
    for (unsigned i = 0; i < 7; i++) {
        EXPECT_EQ((int16_t)at(r, "a", 2 * i, 2), a[i]) << "a[" << i << "]";
        EXPECT_EQ((int16_t)at(r, "b", 2 * i, 2), b[i]) << "b[" << i << "]";
    }
}

// A structure passed by value and one returned, a function without a value
// given a long and an int, a wide value nobody reads (the function still
// runs, once) and one returned as it comes, and a string constant passed
// in the block (the function reads it from program memory).
TEST(FunctionPointerCalls, StructuresAndValuesNotRead)
{
    NEEDS_SIMULATOR();
    c_run r = run_main(R"(
struct pr { int a; int b; };
struct sm { unsigned char lo, hi; };
long total;
int sumpr(struct pr p, unsigned char k) { return p.a - p.b + k; }
struct sm split(int v) { struct sm s; s.lo = v & 0xFF; s.hi = v >> 8; return s; }
void acc(long v, int w) { total += v - w; }
long noisy(long v) { total += 1; return v; }
int (*fs)(struct pr, unsigned char) = sumpr;
struct sm (*fsp)(int) = split;
void (*fa)(long, int) = acc;
long (*fn)(long) = noisy;
long via(long v) { return fn(v); }
unsigned char at(unsigned char k, const char *s) { return s[k]; }
unsigned char (*pat)(unsigned char, const char *) = at;
int r1;
struct sm r2;
long r3;
unsigned char r4;
void main(void)
{
    struct pr p;
    p.a = 1000;
    p.b = -21;
    r1 = fs(p, 7);
    r2 = fsp(0x1234);
    fa(100000L, 5);
    fa(-3L, 300);
    fn(5L);
    r3 = via(-77777L);
    r4 = pat(4, "hello");
    FINISH();
}
)");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ((int16_t)at(r, "r1", 0, 2), 1000 + 21 + 7);
    EXPECT_EQ(at(r, "r2", 0, 2), 0x1234u);
    EXPECT_EQ((int32_t)at(r, "total", 0, 4), (100000 - 5) + (-3 - 300) + 2);
    EXPECT_EQ((int32_t)at(r, "r3", 0, 4), -77777);
    EXPECT_EQ(r.byte("r4"), 'o');
}

// The 16F877A returns through an 8-level stack. A call through a pointer
// takes a level for the dispatcher; the stub of a function with a wide
// value calls it, a level more, while a byte's stub jumps: at the end of
// seven nested calls the first is named, the second not.
TEST(FunctionPointerCalls, StackLevelsOfTheStubsAreCounted)
{
    std::string text = "int wide(unsigned char x) { return x * 2; }\nunsigned char narrow(unsigned char x) { return x; }\n"
                       "int (*pw)(unsigned char) = wide;\nunsigned char (*pn)(unsigned char) = narrow;\nint r;\n"
                       "void f7(void) { r = pw(3) + pn(4); }\n";
    for (int i = 6; i >= 1; i--)
        text += "void f" + std::to_string(i) + "(void) { r++; f" + std::to_string(i + 1) + "(); }\n";
    text += "void main(void) { f1(); FINISH(); }\n";
    c_program p;
    p.files.push_back({"main.c", text});
    c_run r = c_compile(p);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("(1258) possible stack overflow when calling function \"_wide\""), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("\"_narrow\""), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("\"_f7\""), std::string::npos) << r.output;
}

// What the argument blocks cannot do is refused with a message: a call
// through a pointer in code the interrupt function runs (its arguments
// would share the block with an interrupted call of the main program), a
// pointer that may reach the function making the call (one frame each),
// values that are not yet carried, and functions whose arguments are not
// laid out as their types say (no prototype) or not counted (variadic).
TEST(FunctionPointerCalls, WhatCannotBeCarriedIsRefused)
{
    const struct {
        const char *text;
        const char *message;
    } cases[] = {
        {"int twice(int x) { return x + x; }\nint (*p)(int) = twice;\nint r;\n"
         "void interrupt isr(void) { r = p(3); }\nvoid main(void) { r = twice(2); FINISH(); }",
         "(1570)"},
        {"int down(int x);\nint (*p)(int);\nint down(int x) { return x ? p(x - 1) : 0; }\nint r;\n"
         "void main(void) { p = down; r = p(3); FINISH(); }",
         "(1089)"},
        {"float half(float x) { return x / 2; }\nfloat (*p)(float) = half;\nfloat r;\n"
         "void main(void) { r = p(3.0); FINISH(); }",
         "(1490)"},
        {"int old(c) char c; { return c; }\nint (*p)() = old;\nint r;\nvoid main(void) { r = p(3); FINISH(); }",
         "(1490) calls through pointers to functions defined without a prototype"},
        {"int count(int n, ...) { return n; }\nint (*p)(int, ...) = count;\nint r;\n"
         "void main(void) { r = p(1, 2); FINISH(); }",
         "(1490) calls through pointers to functions with a variable argument list"},
    };
    for (const auto &c : cases) {
        c_program p;
        p.files.push_back({"main.c", c.text});
        c_run r = c_compile(p);
        EXPECT_NE(r.status, 0) << c.text;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.text << "\n" << r.output;
    }
}

} // namespace
