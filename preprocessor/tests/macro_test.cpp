// Macro definition and expansion: #, ##, rescanning, self-reference, argument
// counts, nesting limits, -D and -U. Expected token lines follow the C rules
// by hand, except where wren's own rules differ (stated per row).
#include "wren_test.h"

#include <algorithm>

namespace {

struct macro_case {
    const char *what;
    const char *source;
    const char *tokens;       // wren_tokens of the output
    std::vector<int> numbers; // messages, every warning level shown
    const char *args;
};

const macro_case macro_cases[] = {
    {"nested calls of one macro", "#define f(x) (x+1)\nf(f(1))\n", "((1+1)+1)\n", {}, ""},
    {"MAX inside MAX", "#define MAX(a,b) ((a)>(b)?(a):(b))\nMAX(x, MAX(y,z))\n",
     "((x)>(((y)>(z)?(y):(z)))?(x):(((y)>(z)?(y):(z))))\n", {}, ""},
    {"stringizing escapes quotes and backslashes", "#define s(x) #x\ns(a \"b\\n\" 'c')\n",
     "\"a \\\"b\\\\n\\\" 'c'\"\n", {}, ""},
    {"stringizing squeezes white space", "#define s(x) #x\ns(  a   +  b  )\n", "\"a + b\"\n", {}, ""},
    {"an argument is expanded before it is stringized only through another macro",
     "#define str(s) #s\n#define xstr(s) str(s)\n#define V 3\nxstr(V) str(V)\n", "\"3\" \"V\"\n", {}, ""},
    {"pasting identifiers", "#define cat(a,b) a ## b\ncat(x, y)\n", "xy\n", {}, ""},
    {"a pasted name is looked up again", "#define xy 42\n#define cat(a,b) a ## b\ncat(x, y)\n", "42\n", {}, ""},
    {"pasting numbers", "#define cat(a,b) a ## b\ncat(1, 2)\n", "12\n", {}, ""},
    {"arguments beside ## are not expanded", "#define A 1\n#define cat(a,b) a##b\ncat(A, B)\n", "AB\n", {}, ""},
    {"pasting in an object-like body", "#define P x ## 1\nP\n", "x1\n", {}, ""},
    {"a body naming its macro expands once", "#define foo foo + 1\nfoo\n", "foo + 1\n", {}, ""},
    {"mutual reference stops", "#define a b\n#define b a\na b\n", "a b\n", {}, ""},
    {"rescanning finds a call formed with the following text",
     "#define g f\n#define f(x) x+1\ng(2)\n", "2+1\n", {}, ""},
    {"function-like name without '('", "#define f(x) x\nf + 1\n", "f + 1\n", {}, ""},
    {"function-like name and a line end without '('", "#define f(x) x\nf\n;\n", "f\n;\n", {}, ""},
    {"'(' on the next line makes a call", "#define f(x) <x>\nf\n(2)\n", "<2>\n", {}, ""},
    {"a name inside an argument needs its '(' inside it", "#define f(x) x\nf(f)(1)\n", "f(1)\n", {}, ""},
    {"parentheses protect commas", "#define f(x) [x]\nf((a,b))\n", "[(a,b)]\n", {}, ""},
    {"empty object-like macro", "#define E\na E b\n", "a b\n", {}, ""},
    {"zero parameters", "#define Z() z\nZ()\n", "z\n", {}, ""},
    {"an empty argument", "#define f(x) [x]\nf()\n", "[]\n", {}, ""},
    {"expansions do not glue tokens", "#define f(x) x\n#define neg(x) -x\nf(a)f(b) neg(-1)\n", "a b - -1\n", {}, ""},
    {"too many arguments", "#define F(x) x\nF(1,2)\n", "1\n", {171}, ""},
    {"too few arguments", "#define F(x,y) x y\nF(1)\n", "1\n", {171}, ""},
    {"same redefinition is quiet, another body is not",
     "#define A 1\n#define A 1\n#define A 2\nA\n", "2\n", {111}, ""},
    {"# before a non-parameter", "#define h(x) #y\nh(1)\n", "#y\n", {172}, ""},
    {"## before '(' in a body, then at read time", "#define p(a) a ## (\np(x)\n", "x(\n", {137, 169}, ""},
    {"unterminated string in a body", "#define S \"abc\nS\n", "\"abc\n", {113}, ""},
    {"end of file inside arguments", "#define f(x) x\nf(1\n", "", {116}, ""},
    {"#define without a name", "#define 3 x\n", "", {112, 163}, ""},
    {"bad parameter list: defined with an empty body", "#define f(a,+) a\nf(1)\n", "", {112, 163}, ""},
    {"#undef", "#define X 1\n#undef X\nX\n", "X\n", {}, ""},
    {"#undef needs a name", "#undef 3\n", "", {114, 163}, ""},
    {"-D and -U in order", "X Y Z\n", "X 1 7\n", {}, "-DX=2 -UX -DY -DZ=7"},
    {"-U removes a predefined macro", "__STDC__\n", "__STDC__\n", {}, "-U__STDC__"},
    {"-U of an unknown name", "a\n", "a\n", {177}, "-UNOTDEF"},
    {"__STDC__ and __LINE__", "__STDC__\n\n__LINE__\n", "1\n3\n", {}, ""},
    {"__FILE__ after #line", "#line 10 \"a\\\\b.c\"\n__FILE__ __LINE__\n", "\"a\\\\\\\\b.c\" 10\n", {}, ""},
    {"a call left open inside an argument",
     "#define F(x) [x]\n#define OPEN F(\n#define ID(x) x\nID(OPEN 1) 2)\n", "2)\n", {1512}, ""},
    {"a name that may not expand again keeps all its 31 characters",
     "#define ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 + 1\n"
     "#define ID(x) x\nABCDEFGHIJKLMNOPQRSTUVWXYZ01234 ID(ABCDEFGHIJKLMNOPQRSTUVWXYZ01234)\n",
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 + 1 ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 + 1\n", {}, ""},
};

TEST(WrenMacro, ExpansionCases)
{
    for (const macro_case &c : macro_cases) {
        wren_outcome o = wren_outcome_of(c.source, c.args);
        EXPECT_EQ(o.tokens, c.tokens) << c.what;
        EXPECT_EQ(o.numbers, c.numbers) << c.what;
    }
}

// A chain of n object-like macros, each naming the next.
std::string macro_chain(int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += "#define m" + std::to_string(i) + " m" + std::to_string(i + 1) + "\n";
    return s + "m0\n";
}

TEST(WrenMacro, NestedExpansionLimit)
{
    // 998 nested expansions are fine, the 999th is reported and not expanded.
    EXPECT_EQ(wren_tokens(wren_text(macro_chain(998)).out), "m998\n");
    EXPECT_EQ(wren_text_numbers(macro_chain(998)), std::vector<int>{});
    EXPECT_EQ(wren_text_numbers(macro_chain(999)), std::vector<int>{115});
    wren_result r = wren_text(macro_chain(999) + "after\n");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(wren_tokens(r.out), "m998\nafter\n");
    // Calls nested in arguments: one report, the rest of the call dropped.
    std::string deep = "#define h(x) x\n";
    for (int i = 0; i < 1200; i++)
        deep += "h(";
    deep += "1" + std::string(1200, ')') + "\nafter\n";
    EXPECT_EQ(wren_text_numbers(deep), std::vector<int>{115});
    EXPECT_EQ(wren_tokens(wren_text(deep).out), "after\n");
}

// The limit counts expansions inside one another, not side by side: a body
// or an argument may use a macro any number of times.
TEST(WrenMacro, ExpansionsSideBySideAreNotNested)
{
    std::string uses;
    for (int i = 0; i < 1500; i++)
        uses += "A ";
    std::string src = "#define A 1\n#define ID(x) x\n#define MANY " + uses + "\nID(" + uses + ") MANY\n";
    wren_outcome o = wren_outcome_of(src);
    EXPECT_EQ(o.numbers, std::vector<int>{});
    std::string ones;
    for (int i = 0; i < 3000; i++)
        ones += i ? " 1" : "1";
    EXPECT_EQ(o.tokens, ones + "\n");
}

// A lookup takes constant time however many macros there are, also when
// their names are anagrams (which a hash of the character sum put in one
// chain): 40000 of them take a second or two, a chain's quadratic walk about
// a minute.
TEST(WrenMacro, ManyMacrosAreLookedUpInConstantTime)
{
    std::string name = "ABCDEFGH", src, uses, values;
    for (int i = 0; i < 40000; i++, std::next_permutation(name.begin(), name.end())) {
        src += "#define " + name + " " + std::to_string(i) + "\n";
        if (i % 2000 == 0) {
            uses += name + " ";
            values += (values.empty() ? "" : " ") + std::to_string(i);
        }
    }
    scratch_dir d;
    d.write("t.c", src + uses + "\n");
    wren_result r = wren_run(d, "t.c", "timeout 15");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(wren_tokens(r.out), values + "\n");
}

TEST(WrenMacro, DateAndTimeAreStringLiterals)
{
    wren_result r = wren_text("__DATE__ __TIME__\n");
    // "Mmm dd yyyy" and "hh:mm:ss", from the C library's clock text.
    std::string t = wren_tokens(r.out);
    ASSERT_EQ(t.size(), 13u + 1 + 10 + 1) << t;
    EXPECT_EQ(t[0], '"');
    EXPECT_EQ(t[12], '"');
    EXPECT_EQ(t.substr(14), "\"" + t.substr(15, 2) + ":" + t.substr(18, 2) + ":" + t.substr(21, 2) + "\"\n");
}

} // namespace
