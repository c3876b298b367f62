// The include search: the including file's directory for quoted names, then
// the -I directories in order; lower-case fallback and letter-case checks;
// only regular files; paths of any length; __FILE__ and __LINE__ in headers.
#include "wren_test.h"

namespace {

struct include_case {
    const char *what;
    std::vector<std::pair<std::string, std::string>> files; // name, text
    std::string args;
    const char *tokens;
};

std::string long_dir()
{
    std::string dir;
    while (dir.size() < 9000)
        dir += "./";
    return dir + "nothere";
}

const include_case include_cases[] = {
    {"quoted: the includer's directory first; then -I in order; angle: -I only",
     {{"src/a.c", "#include \"h.h\"\n#include <h.h>\n#include \"only2.h\"\n#include \"sub.h\"\n"},
      {"src/h.h", "local\n"}, {"i1/h.h", "first\n"}, {"i2/h.h", "second\n"}, {"i2/only2.h", "from_i2\n"},
      {"i1/sub.h", "#include \"deep.h\"\n"}, {"i1/deep.h", "deep_beside_sub\n"}, {"src/deep.h", "wrong\n"}},
     "-Ii1 -Ii2 src/a.c", "local\nfirst\nfrom_i2\ndeep_beside_sub\n"},
    {"__LINE__ and __FILE__ follow the header",
     {{"t.c", "#include \"h.h\"\n__LINE__ __FILE__\n"}, {"h.h", "\n\n__LINE__ __FILE__\n"}},
     "t.c", "3 \"h.h\"\n2 \"t.c\"\n"},
    {"a directory is never opened as a header",
     {{"t.c", "#include \"x.h\"\n"}, {"x.h/placeholder", ""}, {"inc/x.h", "from_inc\n"}},
     "-Iinc t.c", "from_inc\n"},
    {"include directories of any length",
     {{"t.c", "#include <x.h>\n"}, {"inc/x.h", "found\n"}},
     "-I" + long_dir() + " -Iinc t.c", "found\n"},
};

TEST(WrenInclude, SearchCases)
{
    for (const include_case &c : include_cases) {
        scratch_dir d;
        for (const auto &f : c.files)
            d.write(f.first, f.second);
        wren_result r = wren_run(d, c.args);
        EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
        EXPECT_EQ(wren_tokens(r.out), c.tokens) << c.what;
    }
}

TEST(WrenInclude, MarkersNameTheHeaderAndComeBack)
{
    scratch_dir d;
    d.write("t.c", "#include \"h.h\"\nint a;\n");
    d.write("h.h", "int h;\n");
    wren_result r = wren_run(d, "t.c");
    EXPECT_EQ(r.out, "\n# 1 \"t.c\"\n\n# 1 \"h.h\"\nint h;\n\n# 2 \"t.c\"\nint a;\n");
}

TEST(WrenInclude, LetterCase)
{
    scratch_dir d;
    d.write("t.c", "int a;\n#include \"FOO.H\"\n");
    d.write("foo.h", "foo\n");
    wren_result r = wren_run(d, "-E1 -W-1 t.c", "VRK_ERR_FORMAT=%n VRK_WARN_FORMAT=%n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(wren_numbers(r.err), (std::vector<int>{164, 165}));
    // Both name the directive's line, not the one after it.
    r = wren_run(d, "-E1 -W-1 t.c", "VRK_ERR_FORMAT=%n@%l VRK_WARN_FORMAT=%n@%l");
    EXPECT_EQ(r.err, "164@2\n165@2\n");
    // The header keeps the name as written.
    EXPECT_NE(r.out.find("# 1 \"FOO.H\""), std::string::npos) << r.out;
    EXPECT_EQ(wren_tokens(r.out), "int a;\nfoo\n");
}

TEST(WrenInclude, Failures)
{
    EXPECT_EQ(wren_text_numbers("#include \"nothere.h\"\n"), std::vector<int>{141});
    wren_result r = wren_text("\n#include \"nothere.h\"\nint a;\n", "-E1");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("t.c: 2: (141) can't open include file \"nothere.h\""), std::string::npos) << r.err;
    EXPECT_EQ(wren_text_numbers("#include nothere.h\n"), (std::vector<int>{109, 163}));
    // A macro that gives neither form of name.
    EXPECT_EQ(wren_text_numbers("#define E\n#include E\n"), std::vector<int>{109});
    EXPECT_EQ(wren_text_numbers("#define N 5\n#include N\n"), (std::vector<int>{109, 163}));
    std::string many;
    for (int i = 0; i < 256; i++)
        many += "-Id" + std::to_string(i) + " ";
    EXPECT_EQ(wren_text_numbers("", many), std::vector<int>{147});
}

// With fewer file descriptors than headers may nest, a header that includes
// itself runs out of them: the failure names that reason, not a missing file.
TEST(WrenInclude, SelfIncludeReportsWhyItFailed)
{
    scratch_dir d;
    d.write("self.h", "#include \"self.h\"\n");
    d.write("t.c", "#include \"self.h\"\n");
    wren_result r = wren_run(d, "t.c", "ulimit -n 64;");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("(141) can't open include file \"self.h\": Too many open files"), std::string::npos)
        << r.err.substr(0, 400);
}

// Headers nest at most 200 deep below the main file: a header that includes
// itself ends at once with 1510, before descriptors or memory run out.
TEST(WrenInclude, NestingLimit)
{
    const std::string fmt = "VRK_ERR_FORMAT=%n@%f:%l";
    scratch_dir d;
    d.write("self.h", "int s;\n#include \"self.h\"\n");
    d.write("t.c", "#include \"self.h\"\n");
    wren_result r = wren_run(d, "-E1 t.c", fmt);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "1510@self.h:2\n");
    // A chain of 200 headers is read to the end; one more is refused.
    for (int depth : {200, 201}) {
        scratch_dir c;
        for (int i = 1; i < depth; i++)
            c.write("h" + std::to_string(i) + ".h", "#include \"h" + std::to_string(i + 1) + ".h\"\n");
        c.write("h" + std::to_string(depth) + ".h", "deepest\n");
        c.write("t.c", "#include \"h1.h\"\nafter\n");
        wren_result chain = wren_run(c, "-E1 t.c", fmt);
        if (depth == 200) {
            EXPECT_EQ(chain.status, 0) << chain.err;
            EXPECT_EQ(wren_tokens(chain.out), "deepest\nafter\n");
        } else {
            EXPECT_NE(chain.status, 0);
            EXPECT_EQ(chain.err, "1510@h200.h:1\n");
        }
    }
}

TEST(WrenInclude, CommentRunningOutOfAHeader)
{
    scratch_dir d;
    d.write("t.c", "#include \"h.h\"\nb */ c\n");
    d.write("h.h", "a /* open\n");
    wren_result r = wren_run(d, "-E1 t.c", "VRK_WARN_FORMAT=%n VRK_ERR_FORMAT=%n");
    EXPECT_EQ(wren_numbers(r.err), std::vector<int>{180});
    EXPECT_EQ(wren_tokens(r.out), "a c\n");
}

} // namespace
