// Output lines: owed newlines, line markers, #asm framing, trigraphs, splices,
// comments, and the source-line echo under messages. Expected texts follow
// the marker rules by hand: every marker is "\n# <line>", the quoted name
// when it changed, "\n"; up to 4 owed newlines are written as empty lines.
#include "wren_test.h"

namespace {

const std::string head = "\n# 1 \"t.c\"\n"; // the first marker of every run on t.c

struct line_case {
    const char *what;
    const char *source;
    const char *expected; // after the first marker
    const char *args;
};

const line_case line_cases[] = {
    {"three blank lines are kept", "a\n\n\n\nb\n", "a\n\n\n\nb\n", ""},
    {"five blank lines become a marker", "a\n\n\n\n\n\nb\n", "a\n\n# 7\nb\n", ""},
    {"directive lines are owed", "#define X 1\nX\n", "\n1\n", ""},
    {"a spliced line is followed by a marker", "a \\\nb\nc\n", "a b\n\n# 3\nc\n", ""},
    {"skipped text keeps the lines aligned", "#if 0\na\n#else\nb\n#endif\nc\n", "\n\n\nb\n\nc\n", ""},
    {"an #endif that ends skipped text", "#if 0\na\n#endif\nc\n", "\n# 4\nc\n", ""},
    {"a call over two lines", "#define f(x) x\nf(\n1)\nz\n", "\n1\n\n# 4\nz\n", ""},
    {"a call whose '(' is on the next line", "#define f(x) x\nf\n(1)\nz\n", "\n1\n\n# 4\nz\n", ""},
    {"#line sets number and name", "#line 7 \"x.c\"\na\n", "\n# 7 \"x.c\"\na\n", ""},
    {"# n name is #line", "# 20 \"y.c\"\na\nb\n", "\n# 20 \"y.c\"\na\nb\n", ""},
    {"#pragma is written with macros expanded", "#define F 2\n#pragma x F\n", "\n#pragma x 2\n", ""},
    {"#asm frames its lines",
     "#asm\n mov\n\n\n\n\n\n\tnop\n#endasm\n",
     "\n# 1\n#asm\n mov\n\n#endasm\n# 7\n#asm\n nop\n#endasm \n", ""},
    {"trigraphs", "?\?=define X 1\nX ?\?( ?\?) ?\?< ?\?> ?\?- ?\?! ?\?'\n", "\n1 [ ] { } ~ | ^\n", ""},
    {"comments become one blank or vanish", "a/**/b\na /**/ b\nc /* x */\n", "a b\na b\nc\n", ""},
    {"a comment over lines needs a marker", "a /* x\ny */ b\nc\n", "a b\n\n# 3\nc\n", ""},
    {"line comment", "a // x\nb\n", "a\nb\n", ""},
    {"a line comment continued by a splice", "a // x \\\ny\nb\n", "a\n\n# 3\nb\n", ""},
    {"no final newline", "a\nb", "a\nb\n", ""},
    {"CRLF line ends", "a\r\n\r\nb\r\n", "a\n\nb\n", ""},
    {"identifiers are cut at 31 characters",
     "#define ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 1\nABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\n", "\n1\n", ""},
    {"-N keeps longer identifiers",
     "#define ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 1\nABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\n",
     "\nABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\n", "-N40"},
    {"white space runs become one blank", "\t a \t b  \n", "a b\n", ""},
    {"-C keeps comments", "a /* c */ b // d\n", "a /* c */ b // d\n", "-C"},
    {"-C: a comment alone on its line", "/* head */\nx\n", "/* head */\nx\n", "-C"},
    {"-C: comments in directive lines are not kept", "#define X 1 /* c */\nX\n", "\n1\n", "-C"},
    {"-C: comments in skipped text are not kept", "#if 0\n/* gone */\n#endif\nx\n", "\n# 4\nx\n", "-C"},
    {"a trigraph backslash splices", "a ?\?/\nb\nc\n", "a b\n\n# 3\nc\n", ""},
    {"strings and characters are copied", "\"a  /* b */\" 'c'\n", "\"a  /* b */\" 'c'\n", ""},
};

TEST(WrenLines, MarkersOwedNewlinesAndLexicalRules)
{
    for (const line_case &c : line_cases) {
        wren_result r = wren_text(c.source, c.args);
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(r.out, head + c.expected) << c.what;
    }
}

TEST(WrenLines, StandardInputHasTheEmptyName)
{
    scratch_dir d;
    d.write("t.c", "a\n");
    // wren_run closes standard input; feed the file through a shell here.
    std::string cmd = "'" + wren_program() + "' - < '" + d.at("t.c") + "' > '" + d.at("o") + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
    EXPECT_EQ(d.read("o"), "\n# 1 \"\"\na\n");
}

TEST(WrenLines, NestedCommentWarningNeedsLevelMinusTwo)
{
    EXPECT_EQ(wren_text_numbers("/* a /* b */\n"), std::vector<int>{179});
    scratch_dir d;
    d.write("t.c", "/* a /* b */\n");
    wren_result r = wren_run(d, "-E1 t.c", "VRK_WARN_FORMAT=%n");
    EXPECT_EQ(r.err, "");
}

TEST(WrenLines, CommentErrors)
{
    EXPECT_EQ(wren_text_numbers("a /* open\n"), std::vector<int>{139});
    scratch_dir d;
    d.write("h.h", "x /* open\n");
    d.write("t.c", "#include \"h.h\"\n*/ y\n");
    wren_result r = wren_run(d, "-E1 t.c", "VRK_WARN_FORMAT=%n");
    EXPECT_EQ(wren_numbers(r.err), std::vector<int>{180});
}

// #line may name the largest line number, 2147483647; a line after that one
// is an error, reported once, and the counter never wraps round.
TEST(WrenLines, LineNumbersStopAtTheLargest)
{
    wren_result last = wren_text("#line 2147483647\na __LINE__\n");
    EXPECT_EQ(last.status, 0);
    EXPECT_EQ(last.err, "");
    EXPECT_EQ(wren_tokens(last.out), "a 2147483647\n");
    wren_outcome past = wren_outcome_of("#line 2147483647\na\nb\nc\n");
    EXPECT_NE(past.status, 0);
    EXPECT_EQ(past.numbers, std::vector<int>{1511});
    EXPECT_EQ(past.tokens, "a\nb\nc\n");
    // The includer's next line, after a header read at the largest number.
    scratch_dir d;
    d.write("t.c", "#line 2147483647\n#include \"h.h\"\nb\n");
    d.write("h.h", "#define H 1\nh __LINE__\n");
    wren_result r = wren_run(d, "-E1 t.c", "VRK_ERR_FORMAT=%n@%l");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "1511@2147483647\n");
    EXPECT_EQ(wren_tokens(r.out), "h 2\nb\n");
}

// Each report takes the text of its line without copying the whole line
// again: 20000 warnings on one long line take a second or two, copying the
// line for each about a minute.
TEST(WrenLines, ManyReportsOnOneLongLine)
{
    std::string expr = "'ab'";
    for (int i = 1; i < 20000; i++)
        expr += "+'ab'";
    scratch_dir d;
    d.write("t.c", "#if " + expr + "\n#endif\n");
    wren_result r = wren_run(d, "-E1 -W-9 t.c", "VRK_WARN_FORMAT=%n timeout 15");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(wren_numbers(r.err), std::vector<int>(20000, 174));
}

TEST(WrenLines, LongLinesAreValidInput)
{
    std::string line;
    for (int i = 0; i < 20000; i++)
        line += "x" + std::to_string(i % 10) + ", ";
    line += "z";
    wren_result r = wren_text("int " + line + ";\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == head + "int " + line + ";\n") << "output of " << r.out.size() << " bytes differs";
}

// The plain layout: the source line once, then one caret line per report.
TEST(WrenLines, EchoWithCaret)
{
    wren_result r = wren_text("#if 'ab' == 'cd'\n#endif\n");
    std::string text = "(174) multi-byte constant \"%c\" isn't portable";
    std::string a = text, c = text;
    a.replace(a.find("%c"), 2, "a");
    c.replace(c.find("%c"), 2, "c");
    EXPECT_EQ(r.err, "t.c:\n     1:\t#if 'ab' == 'cd'\n"
                     "\t      ^ " + a + " (warning)\n"
                     "\t" + std::string(14, ' ') + "^ " + c + " (warning)\n");
}

TEST(WrenLines, EchoTextLeftOfAFarCaretAndTabColumns)
{
    std::string text = "(174) multi-byte constant \"a\" isn't portable";
    wren_result far = wren_text("#if" + std::string(60, ' ') + "'ab'\n#endif\n");
    // Column 65; the text is right-aligned in a field of 64.
    EXPECT_EQ(far.err.substr(far.err.find("\n\t") + 1),
              "\t" + std::string(64 - text.size(), ' ') + text + " ^ (warning)\n");
    wren_result tab = wren_text("\t#if 'ab'\n#endif\n");
    // A tab counts to column 8: '^' lands at column 14.
    EXPECT_EQ(tab.err.substr(tab.err.find("\n\t") + 1), "\t" + std::string(14, ' ') + "^ " + text + " (warning)\n");
}

TEST(WrenLines, EchoNamesTheFileWhenItChanges)
{
    scratch_dir d;
    d.write("t.c", "#endif\n#include \"h.h\"\n#endif\n");
    d.write("h.h", "#endif\n");
    wren_result r = wren_run(d, "t.c");
    std::string caret = "\t      ^ (102) #endif must be in an #if\n";
    EXPECT_EQ(r.err, "t.c:\n     1:\t#endif\n" + caret + "h.h:\n     1:\t#endif\n" + caret +
                         "t.c:\n     3:\t#endif\n" + caret);
}

TEST(WrenLines, FormatModeHasNoEcho)
{
    scratch_dir d;
    d.write("t.c", "\n#endif\n");
    wren_result r = wren_run(d, "-E1 t.c");
    EXPECT_EQ(r.err, "t.c: 2: (102) #endif must be in an #if (error)\n");
    EXPECT_NE(r.status, 0);
}

// A report made once the directive's newline has been read still names the
// directive's line; one made after the end of the input names the main file.
TEST(WrenLines, ReportsNameTheLineTheyConcern)
{
    struct {
        const char *source;
        const char *err;
    } cases[] = {
        {"a\n#undef\nb\n", "t.c: 2: (114) illegal #undef argument (error)\n"},
        {"a\n#define\nb\n", "t.c: 2: (112) #define syntax error (error)\n"},
        {"a\n#ifdef\n#endif\n", "t.c: 2: (108) #if[n][def] without an argument (error)\n"},
        {"a\n#line\n", "t.c: 2: (178) bad #line number \"\" (error)\n"},
        {"a\n#include\nb\n", "t.c: 2: (109) #include syntax error (error)\n"},
        {"a\n#if 1\nb\n", "t.c: 3: (100) unterminated #if[n][def] block from line 2 (error)\n"},
        {"#define f(x) x\nf(\n\n", "t.c: 3: (116) end of file within preprocessor macro argument from line 2 (error)\n"},
    };
    for (const auto &c : cases) {
        wren_result r = wren_text(c.source, "-E1");
        EXPECT_EQ(r.err, c.err) << c.source;
        EXPECT_NE(r.status, 0) << c.source;
    }
    // The echo carries the same number as the line it shows.
    EXPECT_EQ(wren_text("a\n#define\nb\n").err, "t.c:\n     2:\t#define\n\t       ^ (112) #define syntax error\n");
}

} // namespace
