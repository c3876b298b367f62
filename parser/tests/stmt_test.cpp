// Statements and expressions through the whole program. Each fixture is a
// function body; the expected records are worked out by hand from the
// lowering rules (labels numbered from the function's exit label on).
#include "icode_check.h"
#include "plover_run.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>

namespace {

struct body_case {
    const char *decls;   // file-scope declarations before f
    const char *body;    // the body of void f(void)
    const char *records; // expected records of the body
};

void check_bodies(const body_case *cases, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        const body_case &c = cases[i];
        std::string source = std::string(c.decls) + "\nvoid f(void)\n{\n" + c.body + "\n}\n";
        plover_result r = plover_run(driver_switches, source);
        EXPECT_EQ(r.status, 0) << c.body << "\n" << r.errors;
        EXPECT_EQ(plover_body(plover_records(r.output)), c.records) << c.body;
        std::string error;
        EXPECT_TRUE(ic_check(r.output, &error)) << c.body << ": " << error;
    }
}

// A small program of the kind the parser is for: a port, a bit, loops, a call.
const char *const blink_source =
        "# 1 \"blink.c\"\n"
        "volatile unsigned char PORTB @ 6;\n"
        "static bit flag;\n"
        "unsigned char delay_count;\n"
        "void delay(unsigned char n) { while (n--) delay_count++; }\n"
        "void main(void) {\n"
        "    unsigned char i;\n"
        "    for (;;) {\n"
        "        for (i = 0; i < 8; i++) { PORTB = 1 << i; delay(100); }\n"
        "        flag = !flag;\n"
        "    }\n"
        "}\n";

} // namespace

// The exit label of f is 1; statement labels follow from 2.
TEST(ParserStmt, LoopsAndBranches)
{
    const body_case cases[] = {
        // while (1): no jump to the test, a jump back at the end
        {"int x;", "while (1) x = 1;",
         "[e :U 3 ]\n[e = _x -> 1 `i ]\n[e :U 2 ]\n[e $U 3 ]\n[e :U 4 ]\n"},
        {"int x;", "while (x) x = 0;",
         "[e $U 2 ]\n[e :U 3 ]\n[e = _x -> 0 `i ]\n[e :U 2 ]\n[e $ _x 3 ]\n[e :U 4 ]\n"},
        // a local counter that starts from a constant: the test at the top
        {"int x;", "int i; for (i = 0; i < 10; i++) x = i;",
         "[v _i `i 1 a ]\n[e = _i -> 0 `i ]\n[e $ < _i -> 10 `i 2 ]\n[e $U 3 ]\n[e :U 2 ]\n"
         "[e = _x _i ]\n[e ++ _i -> 1 `i ]\n[e $ < _i -> 10 `i 2 ]\n[e :U 3 ]\n"},
        // a global compared with a global: the test waits below
        {"int x, y;", "for (; x < y; x++) ;",
         "[e $U 5 ]\n[e :U 2 ]\n[e ++ _x -> 1 `i ]\n[e :U 5 ]\n[e $ < _x _y 2 ]\n[e :U 3 ]\n"},
        {"int x;", "do x++; while (0);", "[e :U 2 ]\n[e ++ _x -> 1 `i ]\n[e :U 4 ]\n"},
        {"int x;", "do { if (x) continue; x++; } while (x < 5);",
         "[e :U 2 ]\n{\n[e $ ! _x 5 ]\n[e $U 3 ]\n[e :U 5 ]\n[e ++ _x -> 1 `i ]\n}\n"
         "[e :U 3 ]\n[e $ < _x -> 5 `i 2 ]\n[e :U 4 ]\n"},
        {"int x;", "if (x) x = 1; else x = 2;",
         "[e $ ! _x 2 ]\n[e = _x -> 1 `i ]\n[e $U 3 ]\n[e :U 2 ]\n[e = _x -> 2 `i ]\n[e :U 3 ]\n"},
        // no default: an unmatched value goes to the end
        {"int x;", "switch (x) { case 1: x = 2; break; case 3: x = 4; }",
         "[e $U 3 ]\n{\n[e :U 4 ]\n[e = _x -> 2 `i ]\n[e $U 2 ]\n[e :U 5 ]\n[e = _x -> 4 `i ]\n}\n"
         "[e $U 2 ]\n[e :U 3 ]\n[e [\\ _x , $ -> 1 `i 4\n , $ -> 3 `i 5\n 2 ]\n[e :U 2 ]\n"},
        {"int x;", "goto out; x = 1; out: x = 2;",
         "[e $U 2 ]\n[e = _x -> 1 `i ]\n[e :U 2 ]\n[e = _x -> 2 `i ]\n"},
    };
    check_bodies(cases, sizeof cases / sizeof cases[0]);
}

TEST(ParserStmt, Expressions)
{
    const body_case cases[] = {
        {"int *p, *q, x;", "p = p + 1;", "[e = _p + _p -> * -> 1 `x -> # *U _p `x `x ]\n"},
        {"int *p, *q, x;", "x = p - q;", "[e = _x -> / - -> _p `x -> _q `x -> # *U _p `x `i ]\n"},
        {"int a[4], x;", "x = a[2];",
         "[e = _x *U + &U _a -> * -> 2 `ux -> # *U &U _a `ux `ux ]\n"},
        {"int x;", "x += 2; x++; ++x; x <<= 1;",
         "[e =+ _x -> 2 `i ]\n[e ++ _x -> 1 `i ]\n[e =+ _x -> 1 `i ]\n[e =<< _x -> 1 `i ]\n"},
        {"int a, b, c;", "c = a && b || !c;", "[e = _c || && _a _b ! _c ]\n"},
        {"int a, b, c;", "c = a ? b : 2;", "[e = _c ? _a : _b -> 2 `i ]\n"},
        {"unsigned char u; long l;", "u = (unsigned char)300; l = u;",
         "[e = _u -> 44 `uc ]\n[e = _l -> _u `l ]\n"},
        {"struct s { int a; char b; } v, *ps;", "v.b = 1; ps->a = 2;",
         "[e = . _v 1 -> 1 `c ]\n[e = . *U _ps 0 -> 2 `i ]\n"},
        {"struct { int k; union { int i; char c; }; } v;", "v.c = 1;", "[e = . . _v 1 1 -> 1 `c ]\n"},
        // bit-fields of unsigned int are kept as unsigned char (-Y)
        {"struct bf { unsigned a : 3; unsigned b : 5; } v; int x;", "v.b = 2; x = v.a; v.a += x;",
         "[e = . _v 1 -> 2 `uc ]\n[e = _x -> . _v 0 `i ]\n[e =+ . _v 0 -> _x `uc ]\n"},
        {"int g(long, char); int x;", "x = g(1, 2);",
         "[e = _x ( _g (2 , -> 1 `l -> 2 `c ]\n"},
        {"int h(int, ...); int x;", "h(1, 2, 3);", "[e ( _h , , (. -> 1 `i -> 2 `i -> 3 `i ]\n"},
        {"int printf(const char *, ...);\n#pragma printf_check printf const\nchar buf[4];",
         "printf(\"%s\", buf);", "[e ( _printf , (. :s 1C -> &U _buf `*Cc ]\n"},
        {"char *s;", "s = \"ab\";", "[e = _s -> :s 1C `*c ]\n"},
        // ?: of char * and const char *: the plain arm becomes a const char *,
        // the type of the whole, which r takes as it is
        {"char *p; const char *cp, *r; int c;", "r = c ? p : cp;", "[e = _r ? _c : -> _p `*Cc _cp ]\n"},
        // NULL and a void * convert to a pointer to pointer
        {"char **pp; void *v;", "pp = (void *)0; pp = v;", "[e = _pp -> 0 `**c ]\n[e = _pp -> _v `**c ]\n"},
        {"int x, y;", "x = (x, y);", "[e = _x ; _x _y ]\n"},
        {"int x; long l;", "l = x * 2 + l;", "[e = _l + -> * _x -> 2 `i `l _l ]\n"},
        {"unsigned u; int x;", "x = u < 10;", "[e = _x < _u -> 10 `ui ]\n"},
        {"int x;", "x = sizeof(long) + sizeof x;", "[e = _x -> + -> #T `l `ui -> # _x `ui `i ]\n"},
        {"double d; float g;", "d = g * 2.5;", "[e = _d * -> _g `d .2.5 ]\n"},
        // the complement of a bit is its negation
        {"bit b;", "b = ~b;", "[e = _b -> ! _b `b ]\n"},
    };
    check_bodies(cases, sizeof cases / sizeof cases[0]);
}

struct stmt_message_case {
    const char *source;
    int message;
};

// Each row must report its message; a corpus of valid programs reports none
// of these (see WholeProgramsAreClean).
TEST(ParserStmt, MessagesOfStatementsAndExpressions)
{
    const stmt_message_case cases[] = {
        {"int f(int a) { return a; a = 1; }\n", 345},
        {"long f(void) { }\n", 343},
        {"int g(void); int f(void) { if (g()) return 1; return; }\n", 344},
        {"void f(void) { g(); }\n", 361},
        {"void f(void) { x = 1; }\n", 192},
        {"int g(int); void f(void) { g(1, 2); }\n", 186},
        {"int g(int, int); void f(void) { g(1); }\n", 187},
        {"int g(void); void f(void) { g(1); }\n", 185},
        {"void f(void) { break; }\n", 243},
        {"int x;\nvoid f(void) {\n  while (x)\nint g(void) { return 2; }\n", 249},
        {"void f(void) { int x; switch (x) { default: ; default: ; } }\n", 244},
        {"void f(void) { case 1: ; }\n", 246},
        {"void f(void) { a: ; a: ; }\n", 247},
        {"void f(void) { goto nowhere; }\n", 254},
        {"int *p; char *q; void f(void) { p = q; }\n", 359},
        // const and volatile may differ between pointers subtracted, a memory space may not
        {"bank1 char *bp; char *p; int x; void f(void) { x = bp - p; }\n", 208},
        {"int a[4]; int x; void f(void) { x = a[5]; }\n", 360},
        {"unsigned u; int x; void f(void) { x = x < 10u; }\n", 355},
        {"float f; void g(void) { f = f % 2; }\n", 205},
        {"struct s { int a; } v; void f(void) { v.b = 1; }\n", 255},
        {"void f(void) { 1 = 2; }\n", 202},
        {"int x; void f(void) { switch (1.5) { } }\n", 242},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%ld\", 1); }\n", 326},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%d %d\", 1); }\n", 331},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%d\", 1, 2); }\n", 324},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%x\", 1L); }\n", 328},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%f\", 1); }\n", 329},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%s\", 1); }\n", 330},
        {"bit b; void f(void) { b++; }\n", 203},
        {"bit b; int x; void f(void) { x = -b; }\n", 203},
        {"bit b; void f(void) { b += 1; }\n", 203},
        {"bit b; bit *p; void f(void) { p = &b; }\n", 203},
        {"foo bar;\n", 370},
        {"int g(int a, foo b);\n", 370},
        {"int k(a) foo a; { return 0; }\n", 370},
        {"void f(void) { foo c; }\n", 370},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%5-d\", 1); }\n", 970},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%5-d\", 1); }\n", 325},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%Lx\", 1); }\n", 972},
        {"int printf(const char *, ...);\n#pragma printf_check printf\n"
         "void f(void) { printf(\"%bu\", 1); }\n", 1299},
    };
    for (const stmt_message_case &c : cases) {
        plover_result r = plover_run(driver_switches, c.source);
        EXPECT_TRUE(plover_reported(r, c.message)) << c.source << " gave: " << r.errors;
    }
    // the byte modifier is read as "hh" and has its own feature bit:
    // 0x2000000 with 0x400 of %u
    plover_result b = plover_run(std::string(driver_switches) + " -fp",
                                 "int printf(const char *, ...);\n#pragma printf_check printf\n"
                                 "void f(void) { printf(\"%bu\", 1); }\n");
    EXPECT_NE(b.output.find("[p f _printf 33555456 ]\n"), std::string::npos) << b.output;
    // 373 is a warning of level -4: shown only when asked for
    const char *mixed = "unsigned u; int x; void f(void) { x = u < x; }\n";
    EXPECT_FALSE(plover_reported(plover_run(driver_switches, mixed), 373));
    EXPECT_TRUE(plover_reported(plover_run(std::string(driver_switches) + " -W-4", mixed), 373));
}

// Whole programs through the parser: no message, output the reader accepts.
TEST(ParserStmt, WholeProgramsAreClean)
{
    const char *programs[] = {
        blink_source,
        "struct point { int x, y; };\n"
        "const struct point corners[2] = { { 0, 0 }, { 10, 20 } };\n"
        "int area(const struct point *a, const struct point *b)\n"
        "{\n"
        "    int w = b->x - a->x, h = b->y - a->y;\n"
        "    return w * h;\n"
        "}\n"
        "static int total;\n"
        "void interrupt isr(void) { total++; }\n"
        "int main(void)\n"
        "{\n"
        "    char name[] = \"pic\";\n"
        "    int k;\n"
        "    total = area(&corners[0], &corners[1]);\n"
        "    switch (name[0]) { case 'p': k = 1; break; case 'q': k = 2; break; default: k = 0; }\n"
        "    do { k--; } while (k > 0);\n"
        "    return total + k;\n"
        "}\n",
    };
    for (const char *p : programs) {
        plover_result r = plover_run(driver_switches, p);
        EXPECT_EQ(r.status, 0) << p;
        EXPECT_EQ(r.errors, "") << p;
        std::string error;
        EXPECT_TRUE(ic_check(r.output, &error)) << p << error;
    }
}

// A whole program, worked out by hand: front part, then the functions with
// their line markers.
TEST(ParserStmt, WholeProgramGolden)
{
    const char *source = blink_source;
    const char *expected =
        "Version 3.2 Vormak Software Intermediate Code\n"
        "\"1 blink.c\n[v _PORTB `Vuc 1 e@6 ]\n"
        "\"2 blink.c\n[v _flag `b 1 s ]\n"
        "\"3 blink.c\n[v _delay_count `uc 1 e ]\n"
        "\"4 blink.c\n[v _delay `(v 1 ef1`uc ]\n{\n[e :U _delay ]\n[v _n `uc 1 r1 ]\n[f ]\n"
        "[e $U 2 ]\n[e :U 3 ]\n[e ++ _delay_count -> 1 `uc ]\n[e :U 2 ]\n[e $ -- _n -> 1 `uc 3 ]\n"
        "[e :U 4 ]\n[e :UE 1 ]\n}\n"
        "\"5\n[v _main `(v 1 ef ]\n[p mainexit ]\n{\n[e :U _main ]\n[f ]\n"
        "\"6\n[v _i `uc 1 a ]\n"
        "\"7\n[e :U 6 ]\n{\n"
        "\"8\n[e = _i -> 0 `uc ]\n[e $ < -> _i `i -> 8 `i 10 ]\n[e $U 11 ]\n[e :U 10 ]\n{\n"
        "[e = _PORTB -> << -> 1 `i -> _i `i `uc ]\n[e ( _delay (1 -> 100 `uc ]\n}\n"
        "[e ++ _i -> 1 `uc ]\n[e $ < -> _i `i -> 8 `i 10 ]\n[e :U 11 ]\n"
        "\"9\n[e = _flag -> ! _flag `b ]\n"
        "\"10\n}\n[e $U 6 ]\n[e :U 7 ]\n"
        "\"11\n[e :UE 5 ]\n}\n";
    plover_result r = plover_run(driver_switches, source);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.output, expected);
}

// The parts of a for loop written over several lines keep their own lines.
TEST(ParserStmt, ForLoopPartsKeepTheirLines)
{
    plover_result r = plover_run("", "int x, i;\nvoid f(void)\n{\n    for (i = 0;\n         i < 3;\n"
                                     "         i++)\n        x++;\n    x = 0;\n}\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    size_t at = r.output.find("[f ]\n");
    ASSERT_NE(at, std::string::npos) << r.output;
    EXPECT_EQ(r.output.substr(at),
              "[f ]\n\"4\n[e = _i -> 0 `i ]\n\"5\n[e $ < _i -> 3 `i 2 ]\n[e $U 3 ]\n\"6\n[e :U 2 ]\n"
              "\"7\n[e ++ _x -> 1 `i ]\n\"6\n[e ++ _i -> 1 `i ]\n\"5\n[e $ < _i -> 3 `i 2 ]\n"
              "\"7\n[e :U 3 ]\n\"8\n[e = _x -> 0 `i ]\n\"9\n[e :UE 1 ]\n}\n");
}

// Constant typing with 16-bit int and 32-bit long, checked against an
// independent C compiler for a 16-bit target when one is installed.
TEST(ParserStmt, ConstantTypesAgreeWithA16BitCompiler)
{
    struct constant_case {
        const char *expr;
        const char *leaf; // the constant as plover writes it
        int size;
        bool is_signed;
    };
    const constant_case cases[] = {
        {"32767", "-> 32767 `i", 2, true},
        {"32768", "-> 32768 `l", 4, true},
        {"0x8000", "-> 32768 `ui", 2, false},
        {"0x10000", "-> 65536 `l", 4, true},
        {"2147483648", "-> 2147483648 `ul", 4, false},
        {"0xFFFFFFFF", "-> 4294967295 `ul", 4, false},
        {"10u", "-> 10 `ui", 2, false},
        {"70000u", "-> 70000 `ul", 4, false},
        {"1L", "-> 1 `l", 4, true},
        {"'a'", "-> 97 `i", 2, true},
        {"(unsigned char)300", "-> 44 `uc", 1, false},
        {"(char)200", "-> -56 `c", 1, true},
        {"-1", "-> -1 `i", 2, true},
        {"0b101", "-> 5 `i", 2, true},
    };
    std::string oracle = "#define SIGNED(e) ((__typeof__(e))-1 < 0)\n";
    for (const constant_case &c : cases) {
        plover_result r = plover_run(driver_switches, std::string("void f(void) { ") + c.expr + "; }\n");
        EXPECT_NE(r.output.find("[e " + std::string(c.leaf) + " ]"), std::string::npos)
            << c.expr << "\n" << r.output;
        if (std::string(c.expr).find("0b") == std::string::npos)
            oracle += "_Static_assert(sizeof(" + std::string(c.expr) + ") == " +
                      std::to_string(c.size) + " && SIGNED(" + c.expr + ") == " +
                      (c.is_signed ? "1" : "0") + ", \"" + c.expr + "\");\n";
    }
    if (std::system("clang --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no clang for the 16-bit oracle";
    std::string file = std::filesystem::current_path().string() + "/plover_oracle.c";
    std::ofstream(file) << oracle;
    std::string cmd = "clang -target msp430 -std=c89 -ffreestanding -fsyntax-only -Wno-c99-compat " + file;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << oracle;
}

// Deep nesting stops with the fatal 295, never a crash; file-scope checks at
// the end of the unit; an option file named with '@'.
TEST(ParserStmt, LimitsAndEndOfUnit)
{
    std::string deep = "int x; void f(void) { x = " + std::string(5000, '(') + "1" +
                       std::string(5000, ')') + "; }\n";
    plover_result r = plover_run("", deep);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(plover_reported(r, 295)) << r.errors.substr(0, 200);
    // Each parenthesis takes one of the 100 places, as on an operator stack
    // that also holds the start of the expression and the assignment.
    for (int n : {97, 98, 99}) {
        plover_result p = plover_run("", "int x; void f(void) { x = " + std::string(n, '(') + "1" + std::string(n, ')') + "; }\n");
        EXPECT_EQ(p.status, n <= 97 ? 0 : 1) << n << ": " << p.errors.substr(0, 200);
        EXPECT_EQ(plover_reported(p, 295), n > 97) << n;
    }

    // Nesting the reader does not count: a long chain of operators makes a
    // deep tree, statements in statements, declarators in parentheses and
    // in parameter lists. Each stops with 295 where it used to overflow the
    // stack.
    auto repeat = [](const std::string &text, int n) {
        std::string out;
        for (int i = 0; i < n; i++)
            out += text;
        return out;
    };
    const std::string deep_cases[] = {
        "int x = 1" + repeat("+1", 100000) + ";\n",
        "void f(void) { int x; x = x" + repeat("+x", 100000) + "; }\n",
        "void f(void) {" + repeat("{", 100000) + repeat("}", 100000) + "}\n",
        "void f(void) {" + repeat("if (1) ", 100000) + ";}\n",
        "int " + repeat("(", 100000) + "x" + repeat(")", 100000) + ";\n",
        "int f(" + repeat("int (*)(", 100000) + repeat(")", 100000) + ");\n",
    };
    for (const std::string &c : deep_cases) {
        plover_result d = plover_run("", c);
        EXPECT_NE(d.status, 0) << c.substr(0, 40);
        EXPECT_TRUE(plover_reported(d, 295)) << c.substr(0, 40) << "\n" << d.errors.substr(0, 300);
    }
    // Structures defined inside structures have a bound of their own: 100
    // deep is read, deeper stops with 1550 (it overflowed the stack).
    for (int n : {100, 100000}) {
        plover_result d = plover_run("", "struct s {" + repeat("struct {", n - 1) + "int a;" +
                                             repeat("} m;", n - 1) + "} v;\n");
        EXPECT_EQ(d.status, n <= 100 ? 0 : 1) << n << ": " << d.errors.substr(0, 300);
        EXPECT_EQ(plover_reported(d, 1550), n > 100) << n;
    }

    plover_result s = plover_run("", "static void h(void) { }\nstatic int unused;\n");
    EXPECT_TRUE(plover_reported(s, 967)) << s.errors;
    EXPECT_EQ(s.errors.find("unused\""), std::string::npos) << s.errors;

    plover_result o = plover_run("", "void f(void) { for (int i = 0; i < 2; i++) ; }\n");
    EXPECT_EQ(o.status, 0) << o.errors;
    EXPECT_EQ(plover_body(plover_records(o.output)),
              "{\n[v _i `i 1 a ]\n[e = _i -> 0 `i ]\n[e $ < _i -> 2 `i 2 ]\n[e $U 3 ]\n[e :U 2 ]\n"
              "[e ++ _i -> 1 `i ]\n[e $ < _i -> 2 `i 2 ]\n[e :U 3 ]\n}\n");
}

// With -R a const local that is not a pointer (a const array too) is a
// static object: initialised in text form, written with its numbered name.
TEST(ParserDecl, ConstLocalsBecomeStatic)
{
    plover_result r = plover_run("-QCu,const -R", "void f(void) { const int k = 3; const char t[] = \"a\";"
                                                 " const char *p = t; int z; z = k; }\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(plover_body(plover_records(r.output)),
              "[v F2 `Ci 1 s k ]\n[i F2\n-> 3 `i\n]\n"
              "[v F3 `Cc -> 2 `ux s t ]\n[i F3\n:U ..\n-> 97 `c\n-> 0 `c\n..\n]\n"
              "[v _p `*Cc 1 a ]\n[e = _p &U F3 ]\n"
              "[v _z `i 1 a ]\n[e = _z F2 ]\n");
}

// Symbol records: 20 blocks of 1,024 hold at most 20,480 live symbols (the
// next one is the fatal 309); the records of blocks that were left are used
// again, so a unit with more symbols than that in its blocks, with a struct
// tag, an enumeration, a typedef and a switch over them, parses to the same
// function records each time.
TEST(ParserDecl, SymbolRecordsAreRecycled)
{
    std::string many;
    for (int i = 0; i <= 20480; i++)
        many += "int v" + std::to_string(i) + ";\n";
    plover_result full = plover_run("", many);
    EXPECT_NE(full.status, 0);
    EXPECT_TRUE(plover_reported(full, 309)) << full.errors.substr(0, 200);
    EXPECT_EQ(full.errors.find("v20479"), std::string::npos) << "the 20,480th symbol fits";

    std::string unit = "struct pt { int x, y; };\nenum col { RED, GREEN };\n";
    std::string locals;
    for (int i = 0; i < 1000; i++)
        locals += "int l" + std::to_string(i) + " = a;\n";
    const int functions = 25;
    for (int f = 0; f < functions; f++)
        unit += "int f" + std::to_string(f) + "(int a) {\nint r = 0;\n"
                "switch (a) { case RED: { struct pt p; p.x = a; r = p.x; } break; case GREEN: ; }\n"
                "{ typedef struct { int q[3]; } box; box b; b.q[1] = a; r = b.q[1]; }\n"
                "{\n" + locals + "r = l999; }\nreturn r;\n}\n";
    plover_result r = plover_run("", unit);
    EXPECT_EQ(r.status, 0) << r.errors.substr(0, 400);
    std::string records = plover_records(r.output);
    // every function's switch record names RED, enumeration constant 0, as an int
    size_t switches = 0;
    for (size_t at = 0; (at = records.find(", $ -> . `E2 0 `i ", at)) != std::string::npos; at++)
        switches++;
    EXPECT_EQ(switches, (size_t)functions);
    std::string error;
    EXPECT_TRUE(ic_check(r.output, &error)) << error;

    // a loop's condition is written after its body, whose block is left
    // first: the unnamed struct of its cast must still be there
    plover_result w = plover_run("", "int *p;\nvoid f(void) { while (((struct { int a; } *)p)->a)"
                                      " { int x; x = 1; } }\n");
    EXPECT_EQ(w.status, 0) << w.errors;
    EXPECT_NE(plover_records(w.output).find("[s S2 `i 1 ]\n[n S2 . a ]\n[e $ . *U -> _p `*S2 0 4 ]\n"),
              std::string::npos)
        << w.output;
}

TEST(ParserFiles, ArgumentsFromAnOptionFile)
{
    std::string dir = std::filesystem::current_path().string();
    std::ofstream(dir + "/opt_in.pre") << "int x;\n";
    std::ofstream(dir + "/opt.args") << "-B " << dir << "/opt_in.pre " << dir << "/opt_out.plover\n";
    std::string cmd = std::string(ZEPH_BUILD_DIR) + "/bin/plover @" + dir + "/opt.args";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::string text = tool_read(dir + "/opt_out.plover");
    EXPECT_NE(text.find("[v _x `i 1 e ]"), std::string::npos) << text;
}
