// C source through the preprocessor and the parser, as the driver runs
// them: wren with the chip's macros and type sizes, then plover with the
// driver's switches. A corpus of complete programs must parse without a
// message into code the reader accepts; one of them is compared with
// intermediate code worked out by hand.
#include "icode_check.h"
#include "plover_run.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The parser's switches from the driver: its own fixed ones, then the
// chip's qualifier definitions.
const std::string chain_switches = std::string("-v -u -fp ") + driver_switches;

struct chain_result {
    int status;
    std::string output;
    std::string errors;
};

chain_result chain_run(const std::string &source)
{
    std::string dir = std::string(ZEPH_BUILD_DIR) + "/tests/plover_chain_" + std::to_string(getpid());
    std::string bin = std::string(ZEPH_BUILD_DIR) + "/bin/";
    std::string mk = "mkdir -p " + dir;
    if (std::system(mk.c_str()) != 0)
        return {-1, "", "cannot make " + dir};
    tool_write(dir + "/p.c", source);
    std::string cmd = "cd " + dir + " && " + bin + "wren -D_PIC14 -D_MPC_ -S1,2,2,3,4,3,3 p.c p.pre 2>p.err && " +
                      bin + "plover " + chain_switches + " p.pre p.plover s.tmp 2>>p.err";
    int st = std::system(cmd.c_str());
    chain_result r{WIFEXITED(st) ? WEXITSTATUS(st) : -1, tool_read(dir + "/p.plover"),
                   tool_read(dir + "/p.err")};
    std::string rm = "rm -rf " + dir;
    (void)std::system(rm.c_str());
    return r;
}

bool chain_ready()
{
    return access((std::string(ZEPH_BUILD_DIR) + "/bin/wren").c_str(), X_OK) == 0;
}

} // namespace

// Macros, a binary constant, a byte at a fixed address with one of its bits,
// an assembly block: the records follow the source lines, not the lines of
// the preprocessed text.
TEST(ParserChain, PreprocessedProgramGolden)
{
    if (!chain_ready())
        GTEST_SKIP() << "no wren";
    chain_result r = chain_run("#define MASK 0b1010\n"
                               "unsigned char port @ 0x06;\n"
                               "bit led @ port ^ 2;\n"
                               "void main(void)\n"
                               "{\n"
                               "    port = MASK;\n"
                               "#asm\n"
                               "    clrwdt\n"
                               "#endasm\n"
                               "    led = 1;\n"
                               "}\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.output, "Version 3.2 Vormak Software Intermediate Code\n"
                        "\"2 p.c\n[v _port `uc 1 e@6 ]\n"
                        "\"3 p.c\n[v _led `b 1 e@_port+2 ]\n"
                        "\"5 p.c\n[v _main `(v 1 ef ]\n[p mainexit ]\n{\n[e :U _main ]\n[f ]\n"
                        "\"6\n[e = _port -> 10 `uc ]\n"
                        "\"8\n[;     clrwdt ;#\n"
                        "\"10\n[e = _led -> 1 `b ]\n"
                        "\"11\n[e :UE 1 ]\n}\n");
}

TEST(ParserChain, CorpusOfProgramsIsClean)
{
    if (!chain_ready())
        GTEST_SKIP() << "no wren";
    const char *programs[] = {
        // loops, nested calls, a switch over an enumeration
        "enum state { IDLE, RUN, STOP };\n"
        "static int square(int v) { return v * v; }\n"
        "static int sum(int n) { int s = 0; while (n > 0) s += square(n--); return s; }\n"
        "int main(void)\n{\n"
        "    enum state st = IDLE;\n"
        "    int i, total = 0;\n"
        "    for (i = 0; i < 10; i++) {\n"
        "        switch (st) {\n"
        "        case IDLE: st = RUN; break;\n"
        "        case RUN: total += sum(square(i)); if (total > 1000) st = STOP; break;\n"
        "        default: continue;\n"
        "        }\n"
        "    }\n"
        "    do total--; while (total > 0 && st != STOP);\n"
        "    return total;\n}\n",
        // structs, arrays, pointers, initialised data and strings
        "struct rec { char name[6]; unsigned char len; struct rec *next; };\n"
        "static struct rec table[2] = { { \"ab\", 2, &table[1] }, { \"xyz\", 3, 0 } };\n"
        "const char *const greeting = \"hello\";\n"
        "unsigned char count(const struct rec *r)\n{\n"
        "    unsigned char n = 0;\n"
        "    for (; r; r = r->next) n += r->len;\n"
        "    return n;\n}\n"
        "char first(void) { const char *p = greeting; return p[1] + table[0].name[0]; }\n"
        "void main(void) { unsigned char buf[4] = { 1, 2 }; buf[3] = count(table) + first(); }\n",
        // an interrupt function, bits, registers at fixed addresses, short long
        "#define BIT(n) (1 << (n))\n"
        "volatile unsigned char STATUS @ 0x03;\n"
        "volatile unsigned char INTCON @ 0x0B;\n"
        "bit T0IF @ INTCON ^ 2;\n"
        "static bit tick;\n"
        "short long ticks;\n"
        "void interrupt isr(void) { if (T0IF) { T0IF = 0; tick = 1; ticks++; } }\n"
        "void main(void)\n{\n"
        "    INTCON |= BIT(5) | BIT(7);\n"
        "    for (;;) { if (tick) { tick = 0; asm(\"clrwdt\"); } }\n}\n",
    };
    for (const char *p : programs) {
        chain_result r = chain_run(p);
        EXPECT_EQ(r.status, 0) << p << r.errors;
        EXPECT_EQ(r.errors, "") << p;
        std::string error;
        EXPECT_TRUE(ic_check(r.output, &error)) << p << error;
    }
}
