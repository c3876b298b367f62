// Calls that reach past one prototyped C function, compiled by the installed
// chain and run in gpsim: definitions without a prototype (their arguments
// arrive promoted), variadic functions, in-line assembly between C
// statements, and C and assembly modules calling each other. Every
// expected value is worked out here, on the host.
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <string>

void tool_exit(int) {}

namespace {

c_run run_files(const std::vector<std::pair<std::string, std::string>> &files, const std::string &chip = "16F877A")
{
    c_program p;
    p.chip = chip;
    p.files = files;
    return c_compile_and_run(p);
}

long as_signed(unsigned long v, unsigned bytes)
{
    unsigned long sign = 1ul << (8 * bytes - 1);
    return (long)((v ^ sign) - sign);
}

// A char or short parameter of an old-style definition is the low end of
// the int its caller writes (it was taken as a byte in W, so the int
// argument did not fit the parameter); a float argument is widened to
// double and back. Both families pass parameters differently, so both run.
TEST(CallsWithoutPrototype, ArgumentsArrivePromoted)
{
    NEEDS_SIMULATOR();
    const std::string text = R"(
int r1, r2; long r3; int r4;
int knr(a, b, s) signed char a; int b; short s; { return a + b + s; }
long old(x, y) unsigned char x; long y; { return y - x; }
int later();
void main(void)
{
    signed char c = -3;
    unsigned char u = 200;
    r1 = knr(c, 1000, -5);
    r2 = knr(u, 1, 2);
    r3 = old(u, 100000L);
    r4 = later(7, 9);
    FINISH();
}
int later(x, y) char x; int y; { return x * y; }
)";
    for (const char *chip : {"16F877A", "16F505"}) {
        c_run r = run_files({{"main.c", text}}, chip);
        ASSERT_EQ(r.status, 0) << chip << r.output;
        ASSERT_TRUE(r.finished) << chip << r.log;
        EXPECT_EQ(as_signed(r.value("r1", 2), 2), -3 + 1000 - 5) << chip;
        EXPECT_EQ(as_signed(r.value("r2", 2), 2), (signed char)200 + 1 + 2) << chip;
        EXPECT_EQ(r.value("r3", 4), 100000ul - 200) << chip;
        EXPECT_EQ(r.value("r4", 2), 63u) << chip;
    }
}

TEST(CallsWithoutPrototype, FloatArgumentsAndVariadicSums)
{
    NEEDS_SIMULATOR();
    c_run r = run_files({{"main.c", R"(
#include <stdarg.h>
int r1; long r2, r3;
int scaled(n, f) int n; float f; { return (int)(n * f); }
long vsum(int n, ...)
{
    va_list ap;
    long s = 0;
    va_start(ap, n);
    while (n--)
        s += (n & 1) ? va_arg(ap, long) : va_arg(ap, int);
    va_end(ap);
    return s;
}
void main(void)
{
    float f = 2.5;
    r1 = scaled(1000, f);
    r2 = vsum(4, 100000L, 5, 70000L, -2);
    r3 = vsum(1, -40);
    FINISH();
}
)"}});
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.value("r1", 2), 2500u);
    EXPECT_EQ(as_signed(r.value("r2", 4), 4), 100000 + 5 + 70000 - 2);
    EXPECT_EQ(as_signed(r.value("r3", 4), 4), -40);
}

// In-line assembly that selects another bank between C statements: the
// code that follows selects its banks again, and W is not assumed kept.
// A C function that only in-line assembly calls is made all the same.
TEST(InlineAssembly, BanksAndCallsFromAssembly)
{
    NEEDS_SIMULATOR();
    c_run r = run_files({{"main.c", R"(
unsigned char far_var @ 0x120;
unsigned char near_var, r1, r2, r3;
void helper(void) { r3 += 7; }
void main(void)
{
    near_var = 40;
    far_var = 5;
#asm
    bsf 3,6
    bcf 3,5
    incf _far_var&07Fh,f
    movlw 99
#endasm
    r1 = far_var + 1;
    r2 = near_var + 2;
    r3 = 1;
    asm("fcall _helper");
    asm("fcall _helper");
    FINISH();
}
)"}});
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("far_var"), 6);
    EXPECT_EQ(r.byte("r1"), 7);
    EXPECT_EQ(r.byte("r2"), 42);
    EXPECT_EQ(r.byte("r3"), 15);
}

// C calls an assembly module, which calls back into C: the object scan
// tells the code generator that the module calls add_one, so add_one is
// made and its frame lies above the module's (which uses its own auto
// block); a wide argument and result pass through the module's parameter
// block. The module is given as source and as an object assembled before.
TEST(AssemblyModules, CallIntoAssemblyAndBack)
{
    NEEDS_SIMULATOR();
    const std::string c_text = R"(
unsigned char r1, r2; unsigned int r3;
extern unsigned char twice_plus(unsigned char x);
extern unsigned int wide_add(unsigned int a, unsigned int b);
unsigned char add_one(unsigned char v) { unsigned char k = v; return k + 1; }
void main(void)
{
    r1 = twice_plus(20);
    r2 = twice_plus(r1);
    r3 = wide_add(1000, 2345);
    FINISH();
}
)";
    const std::string module = "\tpsect\tutiltext,class=CODE,delta=2\n"
                               "\tglobal\t_twice_plus,_add_one,_wide_add,?_wide_add,??_twice_plus\n"
                               "\tFNSIZE\t_twice_plus,1,0\n"
                               "\tFNCALL\t_twice_plus,_add_one\n"
                               "_twice_plus:\n"
                               "\tbcf\t3,5\n\tbcf\t3,6\n"
                               "\tmovwf\t??_twice_plus\n"
                               "\taddwf\t??_twice_plus,w\n"
                               "\tfcall\t_add_one\n"
                               "\treturn\n"
                               "\tFNSIZE\t_wide_add,0,4\n"
                               "_wide_add:\n"
                               "\tbcf\t3,5\n\tbcf\t3,6\n"
                               "\tmovf\t?_wide_add+2,w\n\taddwf\t?_wide_add+0,f\n"
                               "\tbtfsc\t3,0\n\tincf\t?_wide_add+1,f\n"
                               "\tmovf\t?_wide_add+3,w\n\taddwf\t?_wide_add+1,f\n"
                               "\treturn\n";
    auto check = [](const c_run &r, const char *how) {
        ASSERT_EQ(r.status, 0) << how << r.output;
        ASSERT_TRUE(r.finished) << how << r.log;
        EXPECT_EQ(r.byte("r1"), 41) << how;
        EXPECT_EQ(r.byte("r2"), 83) << how;
        EXPECT_EQ(r.value("r3", 2), 3345u) << how;
    };
    check(run_files({{"main.c", c_text}, {"util.as", module}}), "module as source");

    // assembled on its own first, then linked as an object
    std::string dir = tool_tempdir("kestrel_asm_module");
    tool_write(dir + "/util.as", module);
    int st;
    std::string out = tool_run(dir, std::string(ZEPH_BUILD_DIR) + "/bin/zeph --chip=16F877A -C util.as", &st);
    ASSERT_EQ(st, 0) << out;
    c_program p;
    p.files = {{"main.c", c_text}, {"util.obj", tool_read(dir + "/util.obj")}};
    check(c_compile_and_run(p), "module as object");
}

// A C global that only an assembly module names is kept and placed (it was
// left out and the link stopped with undefined symbols), and C code reading
// a global that only the module writes reads what the module wrote.
TEST(AssemblyModules, GlobalsOnlyAssemblyNames)
{
    NEEDS_SIMULATOR();
    const std::string c_text = R"(
unsigned char counter;
unsigned char level;
unsigned char r1, r2;
extern void bump(void);
void main(void)
{
    bump();
    bump();
    bump();
    r1 = level;
    r2 = level + 1;
    FINISH();
}
)";
    // through FSR, IRP from each address: counter += 1, level += 2
    auto point_at = [](const char *name) {
        return std::string("\tbcf\t3,7\n\tmovlw\thigh(") + name + ")\n\tandlw\t1\n\tbtfss\t3,2\n\tbsf\t3,7\n" +
               "\tmovlw\tlow(" + name + ")\n\tmovwf\t4\n";
    };
    const std::string module = "\tpsect\tbumptext,class=CODE,delta=2\n"
                               "\tglobal\t_bump,_counter,_level\n"
                               "\tFNSIZE\t_bump,0,0\n"
                               "_bump:\n" +
                               point_at("_counter") + "\tincf\t0,f\n" + point_at("_level") +
                               "\tincf\t0,f\n\tincf\t0,f\n\treturn\n";
    c_run r = run_files({{"main.c", c_text}, {"bump.as", module}});
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    EXPECT_EQ(r.byte("counter"), 3);
    EXPECT_EQ(r.byte("r1"), 6);
    EXPECT_EQ(r.byte("r2"), 7);
}

}  // namespace
