// Declarations through the whole program: records, their placement in the
// front part or the body, line markers, cross-reference and prototype
// lines, pragma records and the messages of declarations. Expected texts
// are worked out by hand from the format's rules.
#include "icode_check.h"
#include "plover_run.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <unistd.h>

TEST(ParserFiles, EmptyInputGivesTheVersionLineOnly)
{
    plover_result r = plover_run(driver_switches, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "Version 3.2 Vormak Software Intermediate Code\n");
}

// Front part first (file-scope definitions, each with its own position
// line, and the records they need), then the body in source order.
TEST(ParserDecl, FileScopeDeclarationsGoldenRecords)
{
    const char *source =
        "# 1 \"d.c\"\n"
        "typedef unsigned char byte;\n"
        "struct flags { unsigned a : 3; unsigned b : 5; int n; };\n"
        "union u { int i; char c[2]; };\n"
        "enum mode { OFF, ON = 4, AUTO };\n"
        "volatile unsigned char PORTA @ 5;\n"
        "bank1 int counter;\n"
        "static bit ready;\n"
        "extern int shared;\n"
        "const char *name;\n"
        "byte buffer[8];\n"
        "struct flags fl;\n"
        "enum mode m;\n"
        "union u uv;\n"
        "int square(int);\n"
        "int old(a, b) int a; char b; { return a; }\n"
        "void f(void) { }\n"
        "void interrupt isr(void) { }\n"
        "#pragma interrupt_level 1\n";
    const char *expected =
        "Version 3.2 Vormak Software Intermediate Code\n"
        "\"5 d.c\n[v _PORTA `Vuc 1 e@5 ]\n"
        "\"6 d.c\n[v _counter `Xi 1 e ]\n"
        "\"7 d.c\n[v _ready `b 1 s ]\n"
        "\"9 d.c\n[v _name `*Cc 1 e ]\n"
        "\"1 d.c\n[v _byte `uc 1 t ]\n"
        "\"10 d.c\n[v _buffer `uc -> 8 `ux e ]\n"
        "[s S1 :3 `uc 1 :5 `uc 1 `i 1 ]\n[n S1 flags a b n ]\n"
        "\"11 d.c\n[v _fl `S1 1 e ]\n"
        "[c E3 0 4 5 .. ]\n[n E3 mode OFF ON AUTO  ]\n"
        "\"12 d.c\n[v _m `E3 1 e ]\n"
        "[u S2 `i 1 `c -> 2 `ux ]\n[n S2 u i c ]\n"
        "\"13 d.c\n[v _uv `S2 1 e ]\n"
        "\"15 d.c\n[v _old `(i 1 e ]\n{\n[e :U _old ]\n[v _a `i 1 p ]\n[v _b `c 1 p ]\n[f ]\n"
        "[e ) _a ]\n[e $UE 4 ]\n[e :UE 4 ]\n}\n"
        "\"16\n[v _f `(v 1 ef ]\n{\n[e :U _f ]\n[f ]\n[e :UE 5 ]\n}\n"
        "\"17\n[v _isr `I(v 1 ef ]\n{\n[e :U _isr ]\n[f ]\n[e :UE 6 ]\n}\n"
        "\"18\n[p l 1 ]\n";
    plover_result r = plover_run(std::string(driver_switches) + " -pt.pro", source);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.output, expected);
    EXPECT_TRUE(plover_reported(r, 349)) << "old-style definition under regarg";
    EXPECT_EQ(r.protos, "extern signed int old(signed int, signed char);\n"
                        "extern void f(void);\n"
                        "extern void isr(void);\n");
    std::string error;
    EXPECT_TRUE(ic_check(r.output, &error)) << error;
}

// A prototype only declares: count 0, written where a call needs it; the
// later definition writes the record again with count 1.
TEST(ParserDecl, DeclarationThenDefinition)
{
    const char *source =
        "int twice(int v);\n"
        "int use(void) { return twice(2); }\n"
        "int twice(int v) { return v + v; }\n";
    plover_result r = plover_run(driver_switches, source);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(plover_records(r.output),
              "[v _twice `(i 0 ef1`i ]\n"
              "[v _use `(i 1 ef ]\n{\n[e :U _use ]\n[f ]\n"
              "[e ) ( _twice (1 -> 2 `i ]\n[e $UE 1 ]\n[e :UE 1 ]\n}\n"
              "[v _twice `(i 1 ef1`i ]\n{\n[e :U _twice ]\n[v _v `i 1 r1 ]\n[f ]\n"
              "[e ) + _v _v ]\n[e $UE 2 ]\n[e :UE 2 ]\n}\n");
}

TEST(ParserDecl, StaticInBlockHasANumberedName)
{
    plover_result r = plover_run(driver_switches, "void g(void) { static char hits; hits = 1; }\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    std::string rec = plover_records(r.output);
    size_t at = rec.find("[v F");
    ASSERT_NE(at, std::string::npos) << rec;
    std::string number = rec.substr(at + 4, rec.find(' ', at + 4) - at - 4);
    EXPECT_NE(rec.find("[v F" + number + " `c 1 s hits ]"), std::string::npos) << rec;
    EXPECT_NE(rec.find("[e = F" + number + " -> 1 `c ]"), std::string::npos) << rec;
    // shrouded: the same numbered name without the source name, autos and
    // parameters numbered, no [n records and no position lines
    plover_result s = plover_run(std::string(driver_switches) + " --shroud",
                                 "enum e { A };\nstatic int n;\n"
                                 "void g(int p) { static char hits; int k; hits = 1; k = p + A + n; }\n");
    EXPECT_EQ(s.output.find("hits"), std::string::npos) << s.output;
    size_t f = s.output.find("[v F");
    ASSERT_NE(f, std::string::npos) << s.output;
    size_t digits = s.output.find_first_not_of("0123456789", f + 4);
    EXPECT_GT(digits, f + 4) << s.output;
    EXPECT_EQ(s.output.compare(digits, 10, " `c 1 s ]\n"), 0) << s.output;
    EXPECT_EQ(s.output.find("[n "), std::string::npos) << s.output;
    EXPECT_EQ(s.output.find(" _p "), std::string::npos) << s.output;
    EXPECT_EQ(s.output.find(" _k "), std::string::npos) << s.output;
    EXPECT_EQ(s.output.find(" _n "), std::string::npos) << s.output;
    EXPECT_NE(s.output.find("[v _g `(v 1 ef1`i ]"), std::string::npos) << s.output;
    EXPECT_EQ(s.output.find("\"2"), std::string::npos) << s.output;
}

TEST(ParserDecl, CrossReferenceLines)
{
    plover_result r = plover_run(std::string(driver_switches) + " -Ct.crf",
                                 "int x;\nvoid g(void) { x = 1;\nx = 2; }\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.xref.rfind("~t.pre\n", 0), 0u) << r.xref;
    EXPECT_NE(r.xref.find("x 1\n#x 1\n"), std::string::npos) << r.xref;
    EXPECT_NE(r.xref.find("x 2\nx 3\n"), std::string::npos) << r.xref;
}

struct message_case {
    const char *switches;
    const char *source;
    int message;
};

// One declaration fault per row; each must report its number and fail.
TEST(ParserDecl, MessagesOfDeclarations)
{
    const message_case cases[] = {
        {"", "int a = 08;\n", 223},
        {"", "short long int x;\n", 269},
        {"-J", "short long int x;\n", 0},
        {"", "unsigned float f;\n", 274},
        {"-B", "unsigned bit b;\n", 274},
        {"", "extern int x; static int x;\n", 367},
        {"", "int x; long x;\n", 984},
        {"", "int x; long x;\n", 1098},
        {"", "long v = 0x100000000;\n", 1360},
        {"", "char c = '\\x123456789';\n", 1360},
        {"", "const int n = 3; int a[n];\n", 188},
        {"", "int a[0];\n", 284},
        {"", "int f(void);\nint x = f;\n", 209},
        {"", "void g(void) { int y; static int *p = y; }\n", 238},
        // the address of an automatic object or a parameter changes from call to call
        {"", "void g(void) { int y; static int *p = &y; }\n", 238},
        {"", "void g(int a) { static int *p = &a; }\n", 238},
        {"", "void g(void) { struct { int m[2]; } v; static int *p = &v.m[1]; }\n", 238},
        {"", "struct s { char a : 3; };\n", 264},
        {"-Y", "struct s { unsigned char a : 9; };\n", 1361},
        {"-Y", "struct s { unsigned char a : 0; };\n", 1361},
        {"", "struct s { int f(void); };\n", 263},
        {"", "int f(int a, int a);\n", 278},
        {"", "int f(a) int a; long a; { return a; }\n", 278},
        {"", "int f(int, long);\nint f(a, b) int a; char b; { return a; }\n", 252},
        {"", "int g(int);\nint g(a, b) int a, b; { return a; }\n", 253},
        {"", "int g(int a, int b);\nint g(void);\n", 987},
        {"", "int f(int, ...);\nint f(int, ...) { return 0; }\nint g(void) { return f(); }\n", 187},
        {"", "enum e { A = 5 % 3 };\n", 991},
        {"", "struct s { int a; }; struct s { int b; };\n", 262},
        {"", "struct s *p; union s *q;\n", 979},
        {"", "int i; float i;\n", 984},
        {"", "void v;\n", 288},
        {"", "int (*a[2])(void); int x[] ;\n", 283},
        {"", "#pragma pack\n", 212},
        {"", "#pragma nonsense\n", 335},
        {"", "# pagma\n", 224},
        {"", "int $x;\n", 228},
    };
    for (const message_case &c : cases) {
        plover_result r = plover_run(c.switches, c.source);
        if (c.message == 0) {
            EXPECT_EQ(r.status, 0) << c.source << r.errors;
            continue;
        }
        EXPECT_TRUE(plover_reported(r, c.message)) << c.source << " gave: " << r.errors;
    }
}

// An escape whose value does not fit a character keeps its low byte, with a
// warning; the largest byte is no warning.
TEST(ParserDecl, EscapesPastACharacterAreWarned)
{
    const struct {
        const char *source;
        bool warned;
    } cases[] = {
        {"char c = '\\x123';\n", true},
        {"char c = '\\777';\n", true},
        {"char s[] = \"a\\x1ffb\";\n", true},
        {"char c = '\\xff', d = '\\377', e = '\\0';\n", false},
    };
    for (const auto &c : cases) {
        plover_result r = plover_run("", c.source);
        EXPECT_EQ(r.status, 0) << c.source << r.errors;
        EXPECT_EQ(plover_reported(r, 1477), c.warned) << c.source << " gave: " << r.errors;
    }
}

// Forms with one meaning give equal records. An aggregate inside a list may
// leave out its own braces: it takes as many of the list's values as it
// holds. A function or array name in an initialiser stands for its address.
// A declarator list of bit-fields equals one declaration per member.
TEST(ParserDecl, EquivalentFormsGiveEqualRecords)
{
    const std::string tags = "struct in { char a; int b[2]; };\nstruct out { struct in i; long l; char s[6]; };\n"
                             "int fa(void); int fb(void); int *fp(void); char buf[4];\n";
    const struct {
        const char *elided;
        const char *braced;
    } cases[] = {
        {"struct out o = { 'y', 3, 4, 5L, \"ab\" };\n", "struct out o = { { 'y', { 3, 4 } }, 5L, \"ab\" };\n"},
        {"int m[2][3] = { 1, 2, 3, 4, };\n", "int m[2][3] = { { 1, 2, 3 }, { 4 } };\n"},
        {"int m[][2] = { 1, 2, 3 };\n", "int m[][2] = { { 1, 2 }, { 3 } };\n"},
        {"int m[2][2][2] = { 1, 2, 3, 4, 5 };\n", "int m[2][2][2] = { { { 1, 2 }, { 3, 4 } }, { { 5 } } };\n"},
        {"struct out a[] = { 'a', 1, 2, 3L, \"x\", { 'b' } };\n",
         "struct out a[] = { { { 'a', { 1, 2 } }, 3L, \"x\" }, { { 'b' } } };\n"},
        {"union u { int x; char c; } a[2] = { 1, 2 };\n", "union u { int x; char c; } a[2] = { { 1 }, { 2 } };\n"},
        {"void f(void) { int m[2][2] = { 1, 2, 3, 4 }; }\n", "void f(void) { int m[2][2] = { { 1, 2 }, { 3, 4 } }; }\n"},
        {"int (*tab[])(void) = { fa, fb };\n", "int (*tab[])(void) = { &fa, &fb };\n"},
        {"int (*p)(void) = fa;\n", "int (*p)(void) = &fa;\n"},
        {"int *(*tab[2])(void) = { fp };\n", "int *(*tab[2])(void) = { &fp };\n"},
        {"struct ops { int (*run)(void); char n; } o = { fb, 1 };\n",
         "struct ops { int (*run)(void); char n; } o = { &fb, 1 };\n"},
        {"char *p = buf;\n", "char *p = &buf;\n"},
        {"void f(void) { int (*t[2])(void) = { fa, fb }; }\n", "void f(void) { int (*t[2])(void) = { &fa, &fb }; }\n"},
        {"void f(void) { int g(void); static int (*p)(void) = g; }\n",
         "void f(void) { int g(void); static int (*p)(void) = &g; }\n"},
        {"struct bits { unsigned a : 4, b : 4; } v;\n", "struct bits { unsigned a : 4; unsigned b : 4; } v;\n"},
        {"struct bits { int a : 3, : 0, b : 1 + 1, c; } v;\n",
         "struct bits { int a : 3; int : 0; int b : 1 + 1; int c; } v;\n"},
        {"struct bits { signed a : 2, b : 6; } v;\n", "struct bits { signed a : 2; signed b : 6; } v;\n"},
    };
    for (const auto &c : cases) {
        plover_result e = plover_run(driver_switches, tags + c.elided);
        plover_result b = plover_run(driver_switches, tags + c.braced);
        EXPECT_EQ(e.status, 0) << c.elided << e.errors;
        EXPECT_FALSE(plover_reported(e, 238)) << c.elided << e.errors;
        EXPECT_EQ(plover_records(e.output), plover_records(b.output)) << c.elided;
        std::string error;
        EXPECT_TRUE(ic_check(e.output, &error)) << c.elided << error;
    }
    // Values beyond the whole object are still too many; an object that is
    // not an element of a list still needs its braces.
    EXPECT_TRUE(plover_reported(plover_run("", "int m[2][2] = { 1, 2, 3, 4, 5 };\n"), 240));
    EXPECT_TRUE(plover_reported(plover_run("", "struct p { int x; } a[1] = { 1, 2 };\n"), 240));
    EXPECT_TRUE(plover_reported(plover_run("", "int m[2][2] = 1;\n"), 241));
    EXPECT_TRUE(plover_reported(plover_run("", "struct p { int x, y; } a = 1;\n"), 241));
}

struct pragma_case {
    const char *source;
    const char *records;
};

TEST(ParserPragma, PragmaRecords)
{
    const pragma_case cases[] = {
        {"#pragma warning push\n#pragma warning pop\n", "[p k ]\n[p o ]\n"},
        {"#pragma warning disable 123 456\n", "[p n 123,456 ]\n"},
        {"#pragma warning disable\n#pragma warning enable\n", "[p n ]\n[p y ]\n"},
        {"#pragma warning error 350\n", "[p e 350 ]\n"},
        {"#pragma pack 2\n#pragma return_offset 3\n", "[p p 2 ]\n[p r 3 ]\n"},
        {"#pragma interrupt_level 1 2\n", "[p l 1 ]\n[p l 2 ]\n"},
        // the operator form, in the middle of a line
        {"int x; _Pragma(\"pack 2\") int y;\n", "[v _x `i 1 e ]\n[v _y `i 1 e ]\n[p p 2 ]\n"},
        {"#pragma switch simple\n", "[p w simple ]\n"},
        {"#pragma psect text=mycode\n", "[p s text=mycode ]\n"},
        {"#pragma text mycode\n", "[p s text=mycode ]\n"},
        {"#pragma stack_size 64\n", "[p b STACK_SIZE,40 ]\n"},
        {"#pragma stack_size USR_MODE 0x20\n", "[p b USR_MODE,20 ]\n"},
        {"#pragma varregs\n", "[p v , ]\n"},
        {"void f(void);\n#pragma regsused f wreg fsr\n", "[v _f `(v 0 ef ]\n[p u _f wreg,fsr ]\n"},
        {"void f(void);\n#pragma callname f _g\n#pragma callsizes f 2 3\n",
         "[v _f `(v 0 ef ]\n[p c _f _g ]\n[p a _f 2 3 ]\n"},
        {"int printf(const char *, ...);\n", ""},
        {"#pragma inline f\nstatic void f(void) { }\nvoid g(void) { f(); }\n",
         "[v _f `(v 1 sf ]\n[p i _f ]\n{\n[e :U _f ]\n[f ]\n[e :UE 1 ]\n}\n"
         "[v _g `(v 1 ef ]\n{\n[e :U _g ]\n[f ]\n[e ( _f .. ]\n[e :UE 2 ]\n}\n"},
    };
    for (const pragma_case &c : cases) {
        plover_result r = plover_run(driver_switches, c.source);
        EXPECT_EQ(plover_records(r.output), c.records) << c.source << r.errors;
        std::string error;
        EXPECT_TRUE(ic_check(r.output, &error)) << c.source << error;
    }
}

// A write that fails (a full device) is reported and fails the run.
TEST(ParserFiles, FailedWriteIsAnError)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    std::string cmd = std::string("echo 'int x;' > plover_full.pre && ") + ZEPH_BUILD_DIR +
                      "/bin/plover plover_full.pre /dev/full 2>/dev/null";
    int st = std::system(cmd.c_str());
    EXPECT_NE(st, 0);
}

TEST(ParserCheck, CheckerRejectsBrokenCode)
{
    std::string error;
    EXPECT_FALSE(ic_check("Version 3.1 x\n", &error));
    EXPECT_FALSE(ic_check("Version 3.2 x\n[e () _f .. ]\n", &error));
    EXPECT_FALSE(ic_check("Version 3.2 x\n[e + _a ]\n", &error));
    EXPECT_FALSE(ic_check("Version 3.2 x\n[p b 40 ]\n", &error));
    EXPECT_FALSE(ic_check("Version 3.2 x\n{\n", &error));
    EXPECT_TRUE(ic_check("Version 3.2 x\n\"3 a.c\n[v _x `i 1 e ]\n[e = _x -> 1 `i ]\n", &error))
        << error;
}

// Strings used by the code come at the end, in tail order (a string before
// its own tails) and whole: the reader merges tails. A char array
// initialised from a string stores no string.
TEST(ParserFiles, StringRecordsAtTheEnd)
{
    plover_result r = plover_run(driver_switches,
                                 "char *p, *q;\nvoid f(void) { p = \"b\"; q = \"ab\"; if (0) ; }\n"
                                 "char z[] = \"zz\";\n");
    std::string out = r.output;
    size_t at = out.find("[a ");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.substr(at), "[a 2C 97 98 0 ]\n[a 1C 98 0 ]\n") << r.errors;
    plover_result one = plover_run(driver_switches, "char *p;\nvoid f(void) { p = \"a\"; }\n");
    EXPECT_EQ(one.output.substr(one.output.find("[a ")), "[a 1C 97 0 ]\n\n");
}

// Errors and warnings stand under their source line with a caret at the
// column (tabs every 8); messages of kind M keep the plain layout; with a
// message format (-E1) there is no echo.
TEST(ParserFiles, MessagesUnderTheSourceLine)
{
    plover_result r = plover_run("", "int x;\n\t\tint y = 08;\n");
    EXPECT_NE(r.errors.find("     2:\t\t\tint y = 08;\n"), std::string::npos) << r.errors;
    size_t at = r.errors.find("(223) digit out of range");
    ASSERT_NE(at, std::string::npos) << r.errors;
    size_t start = r.errors.rfind('\n', at) + 1;
    std::string caret_line = r.errors.substr(start, r.errors.find('\n', at) - start);
    ASSERT_EQ(caret_line[0], '\t') << caret_line;
    EXPECT_GE(caret_line.find('^'), 17u) << caret_line;

    plover_result m = plover_run("", "char *p = \"a\"\n\"b\";\n");
    EXPECT_NE(m.errors.find("t.pre: 2: string concatenation across lines"), std::string::npos)
        << m.errors;
    EXPECT_EQ(m.errors.find('^'), std::string::npos) << m.errors;

    plover_result f = plover_run("-E1", "int y = 08;\n");
    EXPECT_EQ(f.errors.find('^'), std::string::npos) << f.errors;
    EXPECT_NE(f.errors.find("(223)"), std::string::npos) << f.errors;
}

// The longest line of a text.
static size_t longest_line(const std::string &text)
{
    size_t longest = 0, start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        longest = std::max(longest, end - start);
    return std::max(longest, text.size() - start);
}

// A long line is echoed in part under a message, and a message placed past
// that part takes the plain layout, so no report grows with the line; one
// pragma line of unknown words reports the first few of them only. The -L
// listing still shows the line whole.
TEST(ParserFiles, ReportsOfLongLinesStayShort)
{
    std::string words = "#pragma";
    for (int i = 0; i < 10000; i++)
        words += " x";
    plover_result w = plover_run("", words + "\n#pragma y\nint a;\n");
    EXPECT_EQ(w.status, 0) << w.errors.substr(0, 2000);
    EXPECT_LT(w.errors.size(), 4000u) << w.errors.substr(0, 2000);
    size_t unknown = 0;
    for (size_t at = 0; (at = w.errors.find("(335) unknown pragma \"x\"", at)) != std::string::npos; at++)
        unknown++;
    EXPECT_EQ(unknown, 10u) << w.errors;
    EXPECT_NE(w.errors.find("(1500)"), std::string::npos) << w.errors;
    EXPECT_NE(w.errors.find("(335) unknown pragma \"y\""), std::string::npos) << w.errors;  // the count is per line

    const std::string pad(5000, ' ');
    plover_result early = plover_run("", "int y = 08;" + pad + "int z;\n");
    EXPECT_NE(early.errors.find("^ (223)"), std::string::npos) << early.errors.substr(0, 2000);
    EXPECT_NE(early.errors.find("...\n"), std::string::npos) << early.errors.substr(0, 2000);
    EXPECT_LT(longest_line(early.errors), 600u) << early.errors.substr(0, 2000);
    plover_result late = plover_run("", pad + "int y = 08;\n");
    EXPECT_NE(late.errors.find("t.pre: 1: (223)"), std::string::npos) << late.errors.substr(0, 2000);
    EXPECT_LT(longest_line(late.errors), 600u) << late.errors.substr(0, 2000);
    plover_result listed = plover_run("-L", pad + "int y = 08;\n");
    EXPECT_NE(listed.errors.find(pad + "int y = 08;\n"), std::string::npos) << listed.errors.substr(0, 2000);
}

// The optional outputs: printf feature records (-fp), the function
// information file (--fipath) and source lines as comments (-S).
TEST(ParserFiles, OptionalOutputs)
{
    const char *source =
        "int printf(const char *, ...);\n"
        "#pragma printf_check printf\n"
        "void f(void)\n"
        "{\n"
        "    printf(\"%d\", 1);\n"
        "}\n";
    plover_result r = plover_run(std::string(driver_switches) + " -fp --fipath=. -S", source);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.output.find("[p f _printf 128 ]\n"), std::string::npos) << r.output;
    EXPECT_EQ(r.info, "f 4 4\nprintf 5\n6\n");
    EXPECT_NE(r.output.find("[; ;t.pre: 5:     printf(\"%d\", 1);\n[e ( _printf"), std::string::npos)
        << r.output;
    std::string error;
    EXPECT_TRUE(ic_check(r.output, &error)) << error;
    // the lines of a header left behind do not hold back those after it
    const char *marked = "# 1 \"main.c\"\n\n# 40 \"chip.h\"\nextern unsigned char P;\n# 2 \"main.c\"\n"
                         "void g(void)\n{\n    P = 1;\n}\n";
    plover_result m = plover_run(std::string(driver_switches) + " -S", marked);
    EXPECT_EQ(m.status, 0) << m.errors;
    EXPECT_NE(m.output.find("[; ;main.c: 4:     P = 1;\n"), std::string::npos) << m.output;
}

// An assembly line that is an assembler comment stays assembly text.
TEST(ParserFiles, AssemblyBlocks)
{
    plover_result r = plover_run("", "void f(void) {\n#asm\n  nop\n; note\n#pragma x\n  #endasm junk\n}\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(plover_records(r.output).find("[;   nop ;#\n[; \t; note ;#\n[; #pragma x ;#\n[e :UE"),
              std::string::npos)
        << r.output;
}

// A variable used while only declared gets a declaring record; its later
// definition writes the record again with the defining count.
TEST(ParserDecl, UseBeforeDefinition)
{
    plover_result r = plover_run(driver_switches,
                                 "extern int x;\nvoid f(void) { x = 1; }\nint x = 5;\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.output,
              "Version 3.2 Vormak Software Intermediate Code\n"
              "\"1 t.pre\n[v _x `i 0 e ]\n"
              "\"3 t.pre\n[v _x `i 1 e ]\n"
              "\"2 t.pre\n[v _f `(v 1 ef ]\n{\n[e :U _f ]\n[f ]\n[e = _x -> 1 `i ]\n[e :UE 1 ]\n}\n"
              "\"3\n[i _x\n-> 5 `i\n]\n");
}

// With -RI the global-label builtins define name<n>; with the fastcall16
// qualifier defined, #pragma abs_address places the objects that follow.
TEST(ParserPragma, GlobalLabelsAndAbsolutePlacement)
{
    plover_result r = plover_run("-RI", "int x;\nvoid f(void) { x = __builtin_unique_id(\"lab\", 3); "
                                        "__builtin_enum_label(\"e\", 2); }\n");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(plover_records(r.output).find("[f ]\n[; GLOBAL lab3 ;#\n[; lab3: ;#\n[e = _x -> 3 `i ]\n"
                                            "[; GLOBAL e2 ;#\n[; e2: ;#\n"),
              std::string::npos)
        << r.output;
    plover_result a = plover_run("-QQ,__fastcall16", "#pragma abs_address 0x20\nint a; char b;\n"
                                                     "#pragma end_abs_address\nint c;\n");
    EXPECT_EQ(plover_records(a.output), "[v _a `i 1 e@32 ]\n[v _b `c 1 e@34 ]\n[v _c `i 1 e ]\n");
}

// Pointer assignment under the qualifier definitions of the command line.
TEST(ParserDecl, QualifierCompatibilityOfPointers)
{
    struct qual_case {
        const char *switches;
        const char *assignment;
        bool reported;
    };
    const qual_case cases[] = {
        {"-QCu,const", "q = p;", false},
        {"-QCu,const", "p = q;", true},
        {"-QCu,const -QCi,const", "q = p;", true},
        {"-QCu,const -QCi,const", "p = q;", true},
        {"-QF,far", "p = fp;", true},
        {"-QF2,far", "p = fp;", false},
    };
    for (const qual_case &c : cases) {
        std::string far = std::string(c.switches).find("far") != std::string::npos ? "far char *fp;\n" : "";
        plover_result r = plover_run(c.switches, far + "char *p; const char *q;\nvoid f(void) { " +
                                                     c.assignment + " }\n");
        EXPECT_EQ(plover_reported(r, 359), c.reported) << c.switches << " " << c.assignment << r.errors;
    }
}

// A zero byte in the input is reported and read as a blank, so the rest of
// the unit is still read.
TEST(ParserFiles, ZeroByteInTheInput)
{
    plover_result r = plover_run("", std::string("int a;\0 int b;\nint c;\n", 22));
    EXPECT_TRUE(plover_reported(r, 228)) << r.errors;
    EXPECT_EQ(plover_records(r.output), "[v _a `i 1 e ]\n[v _b `i 1 e ]\n[v _c `i 1 e ]\n");
}

// A missing input and an unknown option stop the run with their numbers.
TEST(ParserFiles, BadCommandLines)
{
    std::string plover = std::string(ZEPH_BUILD_DIR) + "/bin/plover";
    std::string out = std::filesystem::current_path().string() + "/plover_bad";
    EXPECT_NE(std::system((plover + " -B /nonexistent/in.pre " + out + ".out 2>" + out + ".err").c_str()), 0);
    std::string text = tool_read(out + ".err");
    EXPECT_NE(text.find("(141) can't open input file \"/nonexistent/in.pre\""), std::string::npos) << text;
    EXPECT_NE(std::system((plover + " --bogus 2>" + out + ".err").c_str()), 0);
    text = tool_read(out + ".err");
    EXPECT_NE(text.find("(168) unknown option \"--bogus\""), std::string::npos) << text;
}

// An input named again as any file the run writes (the output, the string
// store, the prototypes, the cross-reference, the messages), through any
// spelling or link, or a directory given as the input, stops the run with its
// number before anything is written, and the input keeps its text.
TEST(ParserFiles, InputNeverOverwrittenNorADirectory)
{
    std::string plover = std::string(ZEPH_BUILD_DIR) + "/bin/plover";
    std::string dir = std::string(ZEPH_BUILD_DIR) + "/tests/plover_same_" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    const std::string source = "int a;\n";
    struct {
        std::string operands;
        const char *message;
    } cases[] = {
        {"in.pre in.pre", "(176) output file \"in.pre\" is the same as the input file"},
        {"in.pre out.plover in.pre", "(176) output file \"in.pre\" is the same as the input file"},
        {"in.pre link.pre", "(176) output file \"link.pre\" is the same as the input file"},
        {"-pin.pre in.pre out.plover", "(176) output file \"in.pre\" is the same as the input file"},
        {"-P./in.pre in.pre out.plover", "(176) output file \"./in.pre\" is the same as the input file"},
        {"-Cin.pre in.pre out.plover", "(176) output file \"in.pre\" is the same as the input file"},
        {"-Clink.pre in.pre out.plover", "(176) output file \"link.pre\" is the same as the input file"},
        {"-C in.crf out.plover", "(176) output file \"in.crf\" is the same as the input file"},
        {"-Ein.pre in.pre out.plover", "(176) output file \"in.pre\" is the same as the input file"},
        {"sub out.plover", "(141) can't open input file \"sub\": Is a directory"},
    };
    for (const auto &c : cases) {
        tool_write(dir + "/in.pre", source);
        std::string cmd = "cd " + dir + " && mkdir -p sub && ln -sf in.pre link.pre && ln -sf in.pre in.crf && " +
                          plover + " " + c.operands + " 2>err";
        EXPECT_NE(std::system(cmd.c_str()), 0) << c.operands;
        std::string errors = tool_read(dir + "/err");
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.operands << "\n" << errors;
        std::string kept = tool_read(dir + "/in.pre");
        EXPECT_EQ(kept, source) << c.operands;
    }
    (void)std::system(("rm -rf " + dir).c_str());
}

// A long unit's expression trees are taken back once the declarations that
// made them are written; the array dimensions that symbols still reach
// (globals, a typedef, a member, a parameter) are kept. The last function, after a thousand others, comes
// out as it does right after the declarations (label numbers aside).
TEST(ParserMemory, DimensionsOutliveTheTreesOfWrittenFunctions)
{
    const std::string decls =
        "int early[3 * 4];\n"
        "typedef char row_t[2 + 3];\n"
        "struct s { int m[sizeof(row_t) - 1]; } sv;\n"
        "int first(void) { extern int later[7 * 2]; return later[1]; }\n"
        "extern int later[7 * 2];\n"
        "int param(int (*p)[6 + 1]) { return sizeof *p; }\n";
    const std::string last =
        "int last(void) { row_t r; int (*q)[7] = 0; r[0] = 1;\n"
        "  return sizeof early + sizeof r + sizeof sv.m + sizeof later + sizeof *q + later[13] + param(q)\n"
        "    + sv.m[3] + r[4]; }\n";
    std::string filler;
    for (int i = 0; i < 1000; i++) {
        filler += "int fill" + std::to_string(i) + "(int a) {";
        for (int k = 0; k < 20; k++)
            filler += " a = a * 3 + early[" + std::to_string(k % 12) + "];";
        filler += " return a; }\n";
    }
    // The last function's records up to its exit label, with the numbers
    // of the names made for array types left out.
    auto last_body = [](const plover_result &r) {
        std::string rec = plover_records(r.output);
        size_t at = rec.rfind("[v _last ");
        rec = at == std::string::npos ? "(none)" : rec.substr(at);
        rec = rec.substr(0, rec.find("[e $UE "));
        return std::regex_replace(rec, std::regex("\\bF[0-9]+"), "F");
    };
    plover_result small = plover_run(driver_switches, decls + last);
    plover_result big = plover_run(driver_switches, decls + filler + last);
    ASSERT_EQ(small.status, 0) << small.errors;
    ASSERT_EQ(big.status, 0) << big.errors;
    EXPECT_NE(last_body(small).find("[v _row_t `c -> + -> 2 `i -> 3 `i `ux t ]"), std::string::npos)
        << small.output;
    EXPECT_EQ(last_body(big), last_body(small));
    EXPECT_EQ(big.errors, small.errors);
}
