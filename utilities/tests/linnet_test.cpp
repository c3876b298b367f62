// linnet: numbered listings of a source, tab expansion, the tab width and
// message options, and the files it reads and writes.

#include <gtest/gtest.h>

#include "run_tool.h"

struct listing_case {
    const char *label;
    const char *option; // "" for none
    std::string source;
    std::string listing;
};

// Expected listings by hand: "%6ld: " before each line, tabs to the next
// multiple of the tab width counted from the start of the source text.
TEST(Linnet, ListsLinesWithNumbersAndExpandedTabs)
{
    const listing_case cases[] = {
        {"empty source", "", "", ""},
        {"empty line", "", "\n", "     1: \n"},
        {"tab after one character", "", "a\tb\n", "     1: a       b\n"},
        {"tab at the start", "", "\tx\n", "     1:         x\n"},
        {"tab on a tab stop", "", "12345678\tx\n", "     1: 12345678        x\n"},
        {"width 4, tab at column 5", "-T4", "abcde\tX\n", "     1: abcde   X\n"},
        {"lower-case option", "-t2", "a\tb\n", "     1: a b\n"},
        {"last line without line end", "", "x\ny", "     1: x\n     2: y"},
        {"CR LF line ends", "", "a\r\n\r\nb\r\n", "     1: a\n     2: \n     3: b\n"},
        {"lone CR is text", "", "a\rb\n", "     1: a\rb\n"},
        {"long line not wrapped", "", std::string(300, 'q') + "\n",
         "     1: " + std::string(300, 'q') + "\n"},
    };
    std::string dir = scratch_dir();
    for (const listing_case &c : cases) {
        write_file(dir + "/in.c", c.source);
        std::vector<std::string> args;
        if (*c.option)
            args.push_back(c.option);
        args.push_back("in.c");
        args.push_back("in.lst");
        tool_run r = run_tool(dir, "linnet", args);
        EXPECT_EQ(r.status, 0) << c.label << "\n" << r.err;
        EXPECT_EQ(read_file(dir + "/in.lst"), c.listing) << c.label;
    }
}

TEST(Linnet, NumberFieldWidensPastSixDigits)
{
    std::string dir = scratch_dir();
    std::string source(999999, '\n');
    source += "x\n";
    tool_run r = run_tool(dir, "linnet", {}, source);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string tail = "999999: \n1000000: x\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST(Linnet, ReadsStandardInputAndWritesStandardOutput)
{
    std::string dir = scratch_dir();
    tool_run r = run_tool(dir, "linnet", {"-W1"}, "int a;\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "     1: int a;\n");
}

// A bad option ends the run with status -1 before anything is written.
TEST(Linnet, RefusesBadOptions)
{
    const struct {
        const char *option;
        int message;
    } cases[] = {
        {"-T0", 671}, {"-T65", 671}, {"-T99999999999999999999", 671},
        {"-Tx", 670}, {"-T", 670},   {"-T4x", 670}, {"-T-4", 670},
        {"-Q", 168},  {"-", 168},
    };
    std::string dir = scratch_dir();
    write_file(dir + "/in.c", "a\n");
    for (const auto &c : cases) {
        tool_run r = run_tool(dir, "linnet", {c.option, "in.c", "out.lst"});
        EXPECT_EQ(r.status, 255) << c.option;
        EXPECT_TRUE(has_message(r, c.message)) << c.option << ": " << r.err;
        EXPECT_FALSE(file_exists(dir + "/out.lst")) << c.option;
    }
}

TEST(Linnet, AcceptsTabWidthBounds)
{
    std::string dir = scratch_dir();
    tool_run r = run_tool(dir, "linnet", {"-T1"}, "a\tb\n");
    EXPECT_EQ(r.out, "     1: a b\n");
    r = run_tool(dir, "linnet", {"-T64"}, "\tb\n");
    EXPECT_EQ(r.out, "     1: " + std::string(64, ' ') + "b\n");
}

TEST(Linnet, FileFaults)
{
    std::string dir = scratch_dir();
    tool_run r = run_tool(dir, "linnet", {"missing.c", "out.lst"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 141)) << r.err;
    EXPECT_FALSE(file_exists(dir + "/out.lst"));

    write_file(dir + "/in.c", "keep\n");
    r = run_tool(dir, "linnet", {"in.c", "no/such/dir/out.lst"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 378)) << r.err;

    // The listing never replaces its own source.
    r = run_tool(dir, "linnet", {"in.c", "./in.c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 1470)) << r.err;
    EXPECT_EQ(read_file(dir + "/in.c"), "keep\n");

    r = run_tool(dir, "linnet", {"."});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 141)) << r.err;

    // A listing that cannot be written is an error, and a device named as
    // the listing is not removed.
    r = run_tool(dir, "linnet", {"in.c", "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 413)) << r.err;
    EXPECT_TRUE(file_exists("/dev/full"));
}

TEST(Linnet, LaterArgumentsAreIgnoredOnceListingStarts)
{
    std::string dir = scratch_dir();
    write_file(dir + "/in.c", "a\tb\n");
    tool_run r = run_tool(dir, "linnet", {"in.c", "in.lst", "-T4", "extra"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/in.lst"), "     1: a       b\n");
}

TEST(Linnet, VersionBanner)
{
    std::string dir = scratch_dir();
    tool_run r = run_tool(dir, "linnet", {"--ver"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("linnet"), std::string::npos) << r.out;
}
