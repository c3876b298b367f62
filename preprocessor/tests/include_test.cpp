// The include search: the including file's directory for quoted names, then
// the -I directories in order; lower-case fallback and letter-case checks;
// only regular files; paths of any length; __FILE__ and __LINE__ in headers.
#include "wren_test.h"

namespace {

TEST(WrenInclude, SearchOrder)
{
    scratch_dir d;
    d.write("src/a.c", "#include \"h.h\"\n#include <h.h>\n#include \"only2.h\"\n#include \"sub.h\"\n");
    d.write("src/h.h", "local\n");
    d.write("i1/h.h", "first\n");
    d.write("i2/h.h", "second\n");
    d.write("i2/only2.h", "from_i2\n");
    d.write("i1/sub.h", "#include \"deep.h\"\n");
    d.write("i1/deep.h", "deep_beside_sub\n");
    d.write("src/deep.h", "wrong\n");
    wren_result r = wren_run(d, "-Ii1 -Ii2 src/a.c");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wren_tokens(r.out), "local\nfirst\nfrom_i2\ndeep_beside_sub\n");
}

TEST(WrenInclude, MarkersNameTheHeaderAndComeBack)
{
    scratch_dir d;
    d.write("t.c", "#include \"h.h\"\nint a;\n");
    d.write("h.h", "int h;\n");
    wren_result r = wren_run(d, "t.c");
    EXPECT_EQ(r.out, "\n# 1 \"t.c\"\n\n# 1 \"h.h\"\nint h;\n\n# 2 \"t.c\"\nint a;\n");
}

TEST(WrenInclude, LineAndFileInAHeader)
{
    scratch_dir d;
    d.write("t.c", "#include \"h.h\"\n__LINE__ __FILE__\n");
    d.write("h.h", "\n\n__LINE__ __FILE__\n");
    wren_result r = wren_run(d, "t.c");
    EXPECT_EQ(wren_tokens(r.out), "3 \"h.h\"\n2 \"t.c\"\n");
}

TEST(WrenInclude, LetterCase)
{
    scratch_dir d;
    d.write("t.c", "#include \"FOO.H\"\n");
    d.write("foo.h", "foo\n");
    wren_result r = wren_run(d, "-E1 -W-1 t.c", "VRK_ERR_FORMAT=%n VRK_WARN_FORMAT=%n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(wren_numbers(r.err), (std::vector<int>{164, 165}));
    // The header keeps the name as written.
    EXPECT_NE(r.out.find("# 1 \"FOO.H\""), std::string::npos) << r.out;
    EXPECT_EQ(wren_tokens(r.out), "foo\n");
}

TEST(WrenInclude, OnlyRegularFiles)
{
    scratch_dir d;
    d.write("t.c", "#include \"x.h\"\n");
    d.write("x.h/placeholder", "");
    d.write("inc/x.h", "from_inc\n");
    wren_result r = wren_run(d, "-Iinc t.c");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wren_tokens(r.out), "from_inc\n");
}

TEST(WrenInclude, PathsOfAnyLength)
{
    scratch_dir d;
    d.write("t.c", "#include <x.h>\n");
    d.write("inc/x.h", "found\n");
    std::string longdir;
    while (longdir.size() < 9000)
        longdir += "./";
    wren_result r = wren_run(d, "-I" + longdir + "nothere -Iinc t.c");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wren_tokens(r.out), "found\n");
}

TEST(WrenInclude, Failures)
{
    EXPECT_EQ(wren_text_numbers("#include \"nothere.h\"\n"), std::vector<int>{141});
    EXPECT_NE(wren_text("#include \"nothere.h\"\n").status, 0);
    EXPECT_EQ(wren_text_numbers("#include nothere.h\n"), (std::vector<int>{109, 163}));
    std::string many;
    for (int i = 0; i < 256; i++)
        many += "-Id" + std::to_string(i) + " ";
    EXPECT_EQ(wren_text_numbers("", many), std::vector<int>{147});
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
