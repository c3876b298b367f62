// #if expressions and conditional groups. Each expression row is wrapped in
// "#if <expr> / T / #else / F / #endif"; expected truth values are computed
// by hand with 32-bit wrap-around, unsigned comparison when either side is
// unsigned, and a logical >>.
#include "wren_test.h"

namespace {

struct if_case {
    const char *expr;
    bool taken;
    std::vector<int> numbers;
    const char *args;
};

const if_case if_cases[] = {
    // precedence
    {"(1 | 2 ^ 3) == 1", true, {}, ""},
    {"(2 ^ 3 & 1) == 3", true, {}, ""},
    {"1 + 2 * 3 == 7 && 10 - 4 - 3 == 3", true, {}, ""},
    {"1 << 2 + 1 == 8", true, {}, ""},
    {"1 < 2 == 1", true, {}, ""},
    {"(0, 1) && !(1, 0)", true, {}, ""},
    // unary operators nest from the right
    {"!!5 == 1 && -~0 == 1 && ~0 == -1", true, {}, ""},
    {"- - 3 == 3", true, {}, ""},
    // ?: groups from the right
    {"(1 ? 2 : 3) == 2", true, {}, ""},
    {"(0 ? 1 : 0 ? 2 : 3) == 3", true, {}, ""},
    {"(1 ? 0 ? 5 : 6 : 7) == 6", true, {}, ""},
    // wrap-around, unsigned values and comparisons
    {"0x7FFFFFFF + 1 < 0", true, {}, ""},
    {"4294967295 > 0", true, {}, ""},
    {"-1 < 0u", false, {}, ""},
    {"-1 < 0", true, {}, ""},
    {"-1 >> 28 == 15", true, {}, ""},
    {"1 << 33 == 2", true, {}, ""},
    {"-7 / 2 == -3 && -7 % 2 == -1", true, {}, ""},
    {"0xFFFFFFFF / 2 == 0x7FFFFFFF", true, {}, ""},
    {"(-2147483647 - 1) / -1 == (-2147483647 - 1)", true, {}, ""},
    {"(-2147483647 - 1) % -1 == 0", true, {}, ""},
    {"017 == 15 && 0x1f == 31 && 10L == 10", true, {}, ""},
    // division by zero and suppressed diagnostics
    {"1 / 0", false, {175}, ""},
    {"1 % 0", false, {990}, ""},
    {"0 && 1 / 0", false, {}, ""},
    {"1 || 1 % 0", true, {}, ""},
    {"0 ? 1 / 0 : 1", true, {}, ""},
    {"1 ? 1 : 1 / 0", true, {}, ""},
    {"0 && 'ab'", false, {}, ""},
    // character constants
    {"'ab' == 0x6162", true, {174}, ""},
    {"'\\n' == 10 && '\\x41' == 65 && '\\101' == 65 && '\\'' == 39 && 'A' == 65", true, {}, ""},
    // defined and undefined names
    {"defined X && defined(X) && !defined Y", true, {}, "-DX"},
    {"UNDEFINED == 0", true, {}, ""},
    {"X * 2 == 10", true, {}, "-DX=5"},
    // sizeof with the default table and with the driver's sizes
    {"sizeof(unsigned long) == 4 && sizeof(char *) == 4 && sizeof(double) == 8", true, {}, ""},
    {"sizeof(short int) == 2 && sizeof(unsigned) == 4 && sizeof(unsigned char) == 1", true, {}, ""},
    {"sizeof(short long) == 3 && sizeof(long) == 4 && sizeof(float) == 3 && sizeof(int) == 2", true, {},
     "-S1,2,2,3,4,3,4"},
    {"sizeof(char *) == 1 && sizeof(int (*)()) == 2", true, {}, "-SP1,1,1,1,1,1,1,2"},
    {"sizeof(int) == 3 && sizeof(long) == 5", true, {}, "-S1,2,3,5,3,4"},
    {"sizeof(float double)", true, {131}, ""},
    {"sizeof(signed unsigned)", true, {131}, ""},
    {"sizeof(struct)", true, {130, 163}, ""},
    {"sizeof(int ^)", true, {134, 163}, ""},
    // errors: the group is taken
    {"FOO(1)", true, {120, 163}, ""},
    {"1 2", true, {117}, ""},
    {"(1", true, {122}, ""},
    {"1)", true, {122}, ""},
    {"1 : 2", true, {123}, ""},
    {"\"s\"", true, {126, 163}, ""},
    {"1 = 1", true, {128, 163}, ""},
    {"1 @ 2", true, {124, 163}, ""},
    {"defined", true, {127}, ""},
    {"", true, {120}, ""},
};

TEST(WrenIf, ExpressionTable)
{
    for (const if_case &c : if_cases) {
        wren_outcome o = wren_outcome_of(std::string("#if ") + c.expr + "\nT\n#else\nF\n#endif\n", c.args);
        EXPECT_EQ(o.tokens, c.taken ? "T\n" : "F\n") << c.expr;
        EXPECT_EQ(o.numbers, c.numbers) << c.expr;
    }
}

TEST(WrenIf, SizeOptionCounts)
{
    EXPECT_EQ(wren_text_numbers("", "-S1,2,3"), std::vector<int>{166});
    EXPECT_EQ(wren_text_numbers("", "-S1,2,2,3,4,3,4,9"), std::vector<int>{167});
    EXPECT_EQ(wren_text_numbers("", "-SP1,1,1,1,1,1,1,1"), std::vector<int>{});
}

struct group_case {
    const char *what;
    const char *source;
    const char *tokens;
    std::vector<int> numbers;
};

const group_case group_cases[] = {
    {"#elif chain", "#if 0\na\n#elif 1\nb\n#elif 1\nc\n#else\nd\n#endif\n", "b\n", {}},
    {"#elif after a taken branch is not evaluated", "#if 1\na\n#elif 1/0 +\nb\n#endif\n", "a\n", {}},
    {"groups inside skipped text stay skipped", "#if 0\n#if 1\na\n#else\nb\n#endif\n#else\nc\n#endif\n", "c\n", {}},
    {"#ifdef and #ifndef", "#define X\n#ifdef X\na\n#endif\n#ifndef X\nb\n#endif\n#ifndef Y\nc\n#endif\n", "a\nc\n", {}},
    {"#ifdef without a name keeps the lines, skips #else", "#ifdef\na\n#else\nb\n#endif\n", "a\n", {108}},
    {"#endif without #if", "a\n#endif\n", "a\n", {102}},
    {"#else without #if", "#else\n", "", {102}},
    {"#else after #else", "#if 0\n#else\na\n#else\nb\n#endif\n", "a\n", {101}},
    {"#elif after #else", "#if 1\n#else\n#elif 1\n#endif\n", "", {101}},
    {"unknown directives, also in skipped text", "#foo\n#if 0\n#bar\n#endif\n", "", {107, 107}},
    {"an open group at the end", "\n#if 1\na\n", "a\n", {100}},
    {"#error goes on", "#error stop here\na\n", "a\n", {103}},
    {"#warning", "#warning careful\n", "", {162}},
    {"#assert", "#assert 1 + 1 == 2\n#assert 0\n", "", {104}},
    {"nested #asm and a lone #endasm", "#asm\n#asm\n#endasm\n#endasm\n", "#asm\n#endasm\n#asm\n#asm\n#endasm\n#endasm\n", {106, 105}},
    {"text after a directive", "#define X\n#undef X junk\n#ifdef X junk\n#endif junk\n", "", {163, 163, 163}},
    {"#ident is accepted", "#ident \"v1\"\n", "", {}},
    {"a # alone is ignored", "#\na\n", "a\n", {}},
    {"#line out of range", "#line 99999999999\na\n", "a\n", {178}},
    {"#line without a number: the name is the bad number", "#line x\n", "", {178}},
    {"#line from macros", "#define L 42\n#define F \"f.c\"\n#line L F\n__LINE__ __FILE__\n", "42 \"f.c\"\n", {}},
    {"#line __LINE__ keeps the count", "\n#line __LINE__\n__LINE__\n", "2\n", {}},
    {"#line with a name that is no string", "#line 7 nof\n__LINE__\n", "7\n", {163}},
};

TEST(WrenIf, ConditionalGroupsAndDirectives)
{
    for (const group_case &c : group_cases) {
        wren_outcome o = wren_outcome_of(c.source);
        EXPECT_EQ(o.tokens, c.tokens) << c.what;
        EXPECT_EQ(o.numbers, c.numbers) << c.what;
    }
}

std::string nested_ifs(int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += "#if 1\n";
    s += "deep\n";
    for (int i = 0; i < n; i++)
        s += "#endif\n";
    return s;
}

TEST(WrenIf, NestingLimit)
{
    wren_result ok = wren_text(nested_ifs(31));
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(wren_tokens(ok.out), "deep\n");
    EXPECT_EQ(wren_text_numbers(nested_ifs(32)), std::vector<int>{144});
    EXPECT_NE(wren_text(nested_ifs(32)).status, 0);
}

TEST(WrenIf, ErrorsAndWarningsDecideTheExitStatus)
{
    EXPECT_EQ(wren_text("#warning w\n").status, 0);
    EXPECT_NE(wren_text("#warning w\n", "-W!").status, 0);
    EXPECT_NE(wren_text("#error e\n").status, 0);
}

} // namespace
