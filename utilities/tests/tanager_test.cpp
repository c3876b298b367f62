// tanager: the paged cross-reference listing from cross-reference files
// written as the parser writes them; headings, widths, stop words, exclusion
// patterns, skipped files, and its limits.

#include <filesystem>

#include <gtest/gtest.h>

#include "run_tool.h"

// "#" lines are definitions; the parser writes a use line before the
// definition of the same name at the same place.
static const char fixture[] =
    "~main.c\n"
    "#main 3\n"
    "count 4\n"
    "#count 4\n"
    "count 4\n"
    "helper 5\n"
    "count 7\n"
    "~util.c\n"
    "#helper 2\n"
    "count 3\n"
    "helper 9\n"
    "helper 9\n";

// Heading of page n for title T and width 80: "Page" right-aligned in
// 80 - 1 - 38 = 41 columns.
static std::string heading_t(int page)
{
    return "\n\nCross reference listing: T" + std::string(37, ' ') + "Page   " +
           std::to_string(page) + "\n\n\n";
}

// Every column worked out by hand: the longest name of any entry is 6
// ("main.c", "util.c", "helper"), so both columns are 8 wide and the
// references start at column 16.
TEST(Tanager, ListsFixtureAsGolden)
{
    std::string dir = scratch_dir();
    write_file(dir + "/x.crf", fixture);
    tool_run r = run_tool(dir, "tanager", {"-HT", "x.crf"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = heading_t(1) +
                           "count   main.c      4#    7 \n"
                           "        util.c      3 \n"
                           "helper  main.c      5 \n"
                           "        util.c      2#    9 \n"
                           "main    main.c      3#\f";
    EXPECT_EQ(r.out, expected);
}

// A cross-reference file written by the parser for fixtures/main.c (which
// includes util.h), listed with the arguments the driver gives; the expected
// listing, fixtures/main.lst, is worked out by hand from main.crf.
TEST(Tanager, ListsParserFileAsTheDriverRunsIt)
{
    std::string dir = scratch_dir();
    std::string fixtures = std::string(ZEPH_SOURCE_DIR) + "/utilities/tests/fixtures/";
    write_file(dir + "/tanager.tmp", read_file(fixtures + "main.crf"));
    tool_run r = run_tool(dir, "tanager", {"-omain.lst", "-hmain.crf", "tanager.tmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir + "/main.lst"), read_file(fixtures + "main.lst"));
}

// The same listing through -o, the option letter in lower case as the
// driver gives it, with CR LF line ends in the input.
TEST(Tanager, WritesListingFileFromCrLfInput)
{
    std::string dir = scratch_dir();
    std::string crlf;
    for (const char *p = fixture; *p; p++) {
        if (*p == '\n')
            crlf += '\r';
        crlf += *p;
    }
    write_file(dir + "/tanager.tmp", crlf);
    tool_run r = run_tool(dir, "tanager", {"-olist.crf", "-hT", "tanager.tmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string listing = read_file(dir + "/list.crf");
    EXPECT_EQ(listing.substr(0, heading_t(1).size()), heading_t(1));
    EXPECT_NE(listing.find("        util.c      2#    9 \n"), std::string::npos) << listing;
}

// The title defaults to the first input's name.
TEST(Tanager, DefaultTitleIsFirstInput)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.crf", "~a.c\nx 1\n");
    tool_run r = run_tool(dir, "tanager", {"a.crf"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string head = "\n\nCross reference listing: a.crf" + std::string(33, ' ') + "Page   1\n\n\n";
    EXPECT_EQ(r.out, head + "x    a.c      1 \f");
}

// The names that begin listing lines (heading lines and continuation lines
// start with blanks or are empty).
static std::vector<std::string> listed_names(const std::string &listing)
{
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos < listing.size()) {
        size_t end = listing.find_first_of("\n\f", pos);
        if (end == std::string::npos)
            end = listing.size();
        std::string line = listing.substr(pos, end - pos);
        if (!line.empty() && line[0] != ' ' && line.rfind("Cross reference", 0) != 0)
            names.push_back(line.substr(0, line.find(' ')));
        pos = end + 1;
    }
    return names;
}

TEST(Tanager, StopWordsExclusionsAndSkippedFiles)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.crf",
               "~/inc/stdio.h\nprintf 10\n_tmpz 11\n"
               "~a.c\n_tmp1 1\n_tmp23 2\n_tmpa 3\nputs 4\nmain 5\n_tmp 6\n"
               "~/inc/x.h\nhidden 7\n");
    write_file(dir + "/stop.txt", "  puts\tnever\n\nmain\n");
    const struct {
        std::vector<std::string> options;
        std::vector<std::string> names;
    } cases[] = {
        {{}, {"_tmp", "_tmp1", "_tmp23", "_tmpa", "_tmpz", "hidden", "main", "printf", "puts"}},
        {{"-X_tmp0"}, {"_tmp", "_tmpa", "_tmpz", "hidden", "main", "printf", "puts"}},
        {{"-x_tmp0", "-Xpr"}, {"_tmp", "_tmpa", "_tmpz", "hidden", "main", "puts"}},
        {{"-Sstop.txt"}, {"_tmp", "_tmp1", "_tmp23", "_tmpa", "_tmpz", "hidden", "printf"}},
        {{"-F/inc/"}, {"_tmp", "_tmp1", "_tmp23", "_tmpa", "main", "puts"}},
        {{"-F/inc/s", "-X_"}, {"hidden", "main", "puts"}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back("a.crf");
        tool_run r = run_tool(dir, "tanager", args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(listed_names(r.out), c.names) << ::testing::PrintToString(c.options);
    }
}

// A use and a definition of one place, even when other places come between
// them, are one entry marked "#"; a symbol in two input files gets a line
// per file.
TEST(Tanager, OnePlaceIsListedOnce)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.crf", "~a.c\nx 5\nx 6\n#x 5\nx 5\n");
    write_file(dir + "/b.crf", "~b.c\n#x 1\nx 1\n");
    tool_run r = run_tool(dir, "tanager", {"-HT", "a.crf", "b.crf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, heading_t(1) + "x    a.c      5#    6 \n"
                                    "     b.c      1#\f");
}

// Lines that carry no name and place are passed over.
TEST(Tanager, IgnoresMalformedLines)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.crf", "orphan 1\n~a.c\n\nnoline\n# 4\n#\ny 2\n");
    tool_run r = run_tool(dir, "tanager", {"-HT", "a.crf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, heading_t(1) + "y    a.c      2 \f");
}

// Splits a listing into its pages (each ends with a form feed) and counts
// the listing lines of each after the heading's 5 line ends (the last line of
// the listing has no line end of its own).
static std::vector<int> page_line_counts(const std::string &listing)
{
    std::vector<int> counts;
    size_t pos = 0, ff;
    while ((ff = listing.find('\f', pos)) != std::string::npos) {
        std::string page = listing.substr(pos, ff - pos);
        EXPECT_EQ(page.rfind("\n\nCross reference listing: ", 0), 0u) << page;
        int line_ends = 0;
        for (char c : page)
            line_ends += c == '\n';
        counts.push_back(line_ends - 5 + (page.back() != '\n'));
        pos = ff + 1;
    }
    EXPECT_EQ(pos, listing.size());
    return counts;
}

TEST(Tanager, PagesHoldPageLengthLessTenLines)
{
    std::string dir = scratch_dir();
    std::string crf = "~f.c\n";
    for (int i = 0; i < 25; i++)
        crf += "s" + std::to_string(100 + i) + " 1\n";
    write_file(dir + "/a.crf", crf);
    tool_run r = run_tool(dir, "tanager", {"-L20", "a.crf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(page_line_counts(r.out), (std::vector<int>{10, 10, 5}));
    EXPECT_NE(r.out.find("Page   3\n"), std::string::npos);

    // A page too short for its heading still takes one line.
    for (const char *length : {"-L10", "-L3", "-L0", "-L-7"}) {
        r = run_tool(dir, "tanager", {length, "a.crf"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(page_line_counts(r.out), std::vector<int>(25, 1)) << length;
    }
}

// References run on while "column + 8" stays within the width, then
// continue under the reference column; a width below the reference column
// puts each reference on a line of its own.
TEST(Tanager, WrapsReferencesAtThePageWidth)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.crf", "~f.c\nabc 1\nabc 2\nabc 3\nabc 4\nabc 5\n");
    const struct {
        const char *width;
        std::string body;
    } cases[] = {
        {"-P27", "abc  f.c      1     2 \n"
                 "              3     4 \n"
                 "              5 \f"},
        {"-P1", "abc  f.c      1 \n"
                "              2 \n"
                "              3 \n"
                "              4 \n"
                "              5 \f"},
        {"-P-50", "abc  f.c      1 \n"
                  "              2 \n"
                  "              3 \n"
                  "              4 \n"
                  "              5 \f"},
    };
    for (const auto &c : cases) {
        tool_run r = run_tool(dir, "tanager", {c.width, "-HT", "a.crf"});
        ASSERT_EQ(r.status, 0) << r.err;
        size_t start = r.out.find("\n\n\n") + 3;
        EXPECT_EQ(r.out.substr(start), c.body) << c.width;
    }
}

// A title longer than the line leaves no room before "Page": none is made.
TEST(Tanager, LongTitleKeepsPageField)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.crf", "~f.c\nx 1\n");
    std::string title(100, 't');
    tool_run r = run_tool(dir, "tanager", {"-H" + title, "a.crf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("\n\nCross reference listing: " + title + "Page   1\n\n\n", 0), 0u) << r.out;
}

TEST(Tanager, UsageWithoutInput)
{
    std::string dir = scratch_dir();
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"-Q"}}) {
        tool_run r = run_tool(dir, "tanager", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Usage: tanager [-Ooutfile] [-Sstoplist] input_file ...\n"),
                  std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// An unknown switch is skipped; a stop list that cannot be read is an error
// (numbered, with the reason) that still lets the listing be written, but
// the run does not end in success.
TEST(Tanager, UnknownSwitchAndMissingStopListAreSkipped)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.crf", "~a.c\nx 1\n");
    tool_run r = run_tool(dir, "tanager", {"-Q", "a.crf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Unrecognized switch -Q\n"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("x    a.c"), std::string::npos);

    std::filesystem::create_directory(dir + "/folder");
    for (const char *list : {"none.txt", "folder"}) {
        r = run_tool(dir, "tanager", {std::string("-S") + list, "a.crf"});
        EXPECT_NE(r.status, 0) << list;
        EXPECT_TRUE(has_message(r, 140)) << r.err;
        EXPECT_NE(r.err.find(std::string("stoplist file \"") + list + "\""), std::string::npos)
            << r.err;
        EXPECT_NE(r.out.find("x    a.c"), std::string::npos) << list;
    }
}

TEST(Tanager, FileFaults)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.crf", "~a.c\nx 1\n");
    tool_run r = run_tool(dir, "tanager", {"missing.crf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 141)) << r.err;

    r = run_tool(dir, "tanager", {"-Ono/such/dir/x.lst", "a.crf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 141)) << r.err;

    r = run_tool(dir, "tanager", {"-Oa.crf", "a.crf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 1470)) << r.err;
    EXPECT_EQ(read_file(dir + "/a.crf"), "~a.c\nx 1\n");

    r = run_tool(dir, "tanager", {"-O/dev/full", "a.crf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 413)) << r.err;
    EXPECT_TRUE(file_exists("/dev/full"));
}

// 16,000 entries fit; the 16,001st (here one file and 16,000 symbols) is
// fatal 309 and no listing is written.
TEST(Tanager, EntryLimit)
{
    std::string dir = scratch_dir();
    for (int symbols : {15999, 16000}) {
        std::string crf = "~f.c\n";
        for (int i = 0; i < symbols; i++)
            crf += "v" + std::to_string(i) + " 1\n";
        write_file(dir + "/a.crf", crf);
        tool_run r = run_tool(dir, "tanager", {"-Oout.lst", "a.crf"});
        if (symbols == 15999) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(file_exists(dir + "/out.lst"));
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(has_message(r, 309)) << r.err;
            EXPECT_FALSE(file_exists(dir + "/out.lst"));
        }
        std::remove((dir + "/out.lst").c_str());
    }
}

// Growing a symbol's references past 5,420 slots is error 674 at each
// growth; the references are kept and listed.
TEST(Tanager, ManyReferencesReportEachGrowth)
{
    std::string dir = scratch_dir();
    std::string crf = "~f.c\n";
    for (int i = 1; i <= 5441; i++)
        crf += "x " + std::to_string(i) + "\n";
    write_file(dir + "/a.crf", crf);
    tool_run r = run_tool(dir, "tanager", {"a.crf"});
    EXPECT_EQ(r.status, 1);
    size_t reports = 0;
    for (size_t p = 0; (p = r.err.find("(674) ", p)) != std::string::npos; p++)
        reports++;
    EXPECT_EQ(reports, 2u) << r.err;
    EXPECT_NE(r.err.find("too many references to \"x\""), std::string::npos);
    EXPECT_NE(r.out.find(" 5441 "), std::string::npos);
}
