// C source through the preprocessor and the parser, as the driver runs
// them: wren with the chip's macros and type sizes, then plover with the
// driver's switches. A corpus of complete programs must parse without a
// message into code the reader accepts; one of them, and the operators whose
// operands decay, are compared with intermediate code worked out by hand.
#include "icode_check.h"
#include "plover_run.h"

#include <gtest/gtest.h>

#include <sstream>

// Macros, a binary constant, a byte at a fixed address with one of its bits,
// an assembly block: the records follow the source lines, not the lines of
// the preprocessed text.
TEST(ParserChain, PreprocessedProgramGolden)
{
    if (!plover_chain_ready())
        GTEST_SKIP() << "no wren";
    plover_result r = plover_chain("#define MASK 0b1010\n"
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
    if (!plover_chain_ready())
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
        plover_result r = plover_chain(p);
        EXPECT_EQ(r.status, 0) << p << r.errors;
        EXPECT_EQ(r.errors, "") << p;
        std::string error;
        EXPECT_TRUE(ic_check(r.output, &error)) << p << error;
    }
}

// Arrays and functions decay to their addresses under every operator that
// does not keep its operand: unary `*` (an array from `*`, a subscript or a
// member decays again), `+` and `-` with an integer, pointer differences,
// comparisons, subscripts both ways round, conditions, `?:`, calls through
// function designators, and sizeof of an array reached through an address.
// Worked out by hand from the operator table (unary `*` requires a pointer
// and does not keep its operand as it is, so an array decays first; an
// index is scaled by the element size in the index type `x`, unsigned `ux`
// for an array's subscript) in the
// forms of the ParserStmt.Expressions goldens: `&U _v` is v's address,
// `*U &U _v` its first element. A row of m (int[4]) is sized as #T `i times
// its dimension: the code generator sizes what an array's address points at
// by its first scalar element.
TEST(ParserChain, ArraysAndFunctionsDecayUnderEveryOperator)
{
    if (!plover_chain_ready())
        GTEST_SKIP() << "no wren";
    const char *decls = "int v[4], m[3][4], x, *p;\n"
                        "struct S { char c; int a[3]; } s, *ps;\n"
                        "int g(int);\n"
                        "int (*fp)(int);\n";
    // v[1] and 1[v]: index 1 converted to ux, times the size of an int
    const std::string v1 = "*U + &U _v -> * -> 1 `ux -> # *U &U _v `ux `ux";
    // m's row 2 of *m, or element 2 of row 0
    const std::string m02 = "*U + &U _m -> * -> 2 `ux -> # *U &U _m `ux `ux";
    struct decay_case {
        const char *body;
        std::string records;
    };
    const decay_case cases[] = {
        {"x = *v;", "[e = _x *U &U _v ]\n"},
        {"x = **m;", "[e = _x *U &U _m ]\n"},
        {"x = *m[1];", "[e = _x *U + &U _m -> * -> 1 `ux * -> #T `i `ux -> 4 `ux `ux ]\n"},
        {"x = *s.a;", "[e = _x *U &U . _s 1 ]\n"},
        {"x = *ps->a;", "[e = _x *U &U . *U _ps 1 ]\n"},
        {"x = 2[*m];", "[e = _x " + m02 + " ]\n"},
        {"x = (*m)[2];", "[e = _x " + m02 + " ]\n"},
        {"p = *m;", "[e = _p &U _m ]\n"},
        {"p = v + 1;", "[e = _p + &U _v -> * -> 1 `x -> # *U &U _v `x `x ]\n"},
        {"p = 1 + v;", "[e = _p + &U _v -> * -> 1 `x -> # *U &U _v `x `x ]\n"},
        {"x = p - v;", "[e = _x -> / - -> _p `x -> &U _v `x -> # *U _p `x `i ]\n"},
        {"x = p == v;", "[e = _x == _p &U _v ]\n"},
        {"x = *m < p;", "[e = _x < &U _m _p ]\n"},
        {"x = v != 0;", "[e = _x != &U _v -> 0 `*i ]\n"},
        {"x = v[1] + 1[v];", "[e = _x + " + v1 + " " + v1 + " ]\n"},
        {"x = !v;", "[e = _x ! &U _v ]\n"},
        {"x = *v && *s.a;", "[e = _x && *U &U _v *U &U . _s 1 ]\n"},
        {"p = x ? v : p;", "[e = _p ? _x : &U _v _p ]\n"},
        {"*v = 3;", "[e = *U &U _v -> 3 `i ]\n"},
        {"++*v;", "[e =+ *U &U _v -> 1 `i ]\n"},
        {"fp = g;", "[e = _fp &U _g ]\n"},
        {"x = fp == g;", "[e = _x == _fp &U _g ]\n"},
        {"x = (*g)(1);", "[e = _x ( *U &U _g (1 -> 1 `i ]\n"},
        {"x = fp(2) + (*fp)(3);", "[e = _x + ( *U _fp (1 -> 2 `i ( *U _fp (1 -> 3 `i ]\n"},
        // sizeof of a row: 2 * 4 bytes, in sizeof's unsigned int
        {"x = sizeof *m;", "[e = _x -> * -> #T `i `ui -> 4 `ui `i ]\n"},
        {"x = sizeof m[1];", "[e = _x -> * -> #T `i `ui -> 4 `ui `i ]\n"},
    };
    // one statement a line, one record a statement
    std::string body;
    for (const decay_case &c : cases)
        body += std::string(c.body) + "\n";
    plover_result r = plover_chain(std::string(decls) + "void f(void)\n{\n" + body + "}\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors, "");
    std::string error;
    EXPECT_TRUE(ic_check(r.output, &error)) << error;
    std::istringstream records(plover_body(plover_records(r.output)));
    for (const decay_case &c : cases) {
        std::string line;
        std::getline(records, line);
        EXPECT_EQ(line + "\n", c.records) << c.body;
    }
}
