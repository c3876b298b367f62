// The numbered message system: loading, layouts, states, limits and language.
#include "common.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>

void tool_exit(int status)
{
    fprintf(stderr, "[tool_exit %d]\n", status);
}

static std::string out;
static void capture(const char *line) { out += line; }

static std::string temp_dir() { return tool_tempdir("zeph_msg"); }

static void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

static const char *const MSGS =
    "# test messages\n"
    "100\tE\tbad value %d\r\n"
    "111\t1\tunused variable \"%s\"\n"
    "120\t-1\tquiet warning\n"
    "130\tM\tplain note\n"
    "141\tE\tcan't open: %m\n"
    "142\tE\topen failed (%m) here\n"
    "150\tF\tout of luck\n"
    "160\tE\tfirst text\n"
    "160\tE\tsecond text\n";

class Messages : public testing::Test {
protected:
    std::string dir;
    unsigned line = 12;
    void SetUp() override
    {
        unsetenv("VRK_ERR_FORMAT");
        unsetenv("VRK_WARN_FORMAT");
        unsetenv("VRK_MSG_FORMAT");
        msg_reset_for_tests();
        dir = temp_dir();
        setenv("VRK_REGISTRY", (dir + "/registry").c_str(), 1);
        write_file(dir + "/msgs.txt", MSGS);
        ASSERT_EQ(msg_open_file((dir + "/msgs.txt").c_str()), 1);
        out.clear();
        msg_set_output_hook(capture);
    }
    void TearDown() override
    {
        msg_reset_for_tests();
        unsetenv("VRK_REGISTRY");
    }
    void at_a_c() { msg_set_location("a.c", &line, nullptr, nullptr); }
};

TEST_F(Messages, PlainLayoutByKind)
{
    at_a_c();
    msg_report(100, 5);
    msg_report(111, "x");
    msg_report(130);
    EXPECT_EQ(out, "a.c: 12: (100) bad value 5\n"
                   "a.c: 12: (111) unused variable \"x\" (warning)\n"
                   "a.c: 12: plain note\n");
    out.clear();
    msg_set_location(nullptr, nullptr, nullptr, nullptr);
    msg_report(100, 7);
    EXPECT_EQ(out, "(100) bad value 7\n");
    EXPECT_EQ(msg_error_count(), 2u);
    EXPECT_EQ(msg_warning_count(), 1u);
    EXPECT_NE(msg_exit_status(), 0);
}

TEST_F(Messages, FormatModeWithEveryPlaceholder)
{
    msg_set_tool_name("parser");
    const char *text = "int x;";
    const char *start = text, *pos = text + 4;
    msg_set_location("a.c", &line, &start, &pos);
    msg_set_format_mode(1);
    msg_report(100, 5);
    msg_set_formats("%a|%c|%f|%l|%n|%s|%%|%q|%", nullptr, nullptr);
    msg_report(100, 6);
    setenv("VRK_WARN_FORMAT", "W %n %s", 1);
    msg_set_formats(nullptr, nullptr, nullptr);
    msg_report(111, "y");
    EXPECT_EQ(out, "a.c: 12: (100) bad value 5 (error)\n"
                   "parser|4|a.c|12|100|bad value 6|%|q|\n"
                   "W 111 unused variable \"y\"\n");
    unsetenv("VRK_WARN_FORMAT");
}

TEST_F(Messages, ErrorNumberText)
{
    errno = ENOENT;
    msg_report(141);
    errno = ENOENT;
    msg_report(142);
    std::string e = strerror(ENOENT);
    EXPECT_EQ(out, "(141) can't open: " + e + "\n(142) open failed (" + e + ") here\n");
}

TEST_F(Messages, WarningThreshold)
{
    EXPECT_EQ(msg_report(120), 0);
    EXPECT_EQ(msg_set_warning_level(-1), 0);
    EXPECT_EQ(msg_report(120), 1);
    EXPECT_EQ(out, "(120) quiet warning (warning)\n");
    EXPECT_EQ(msg_exit_status(), 0);
    msg_set_warnings_fail(1);
    EXPECT_NE(msg_exit_status(), 0);
}

TEST_F(Messages, DisableListsAndStates)
{
    msg_parse_disable_list("111,100,130");
    EXPECT_EQ(msg_report(111, "x"), 0); // warning dropped
    EXPECT_EQ(msg_report(100, 1), 1);   // error still shown
    EXPECT_EQ(msg_report(130), 0);
    msg_parse_disable_list("100:OFF");
    EXPECT_EQ(msg_report(100, 2), 0);
    EXPECT_EQ(msg_error_count(), 1u);
    // A huge number is ignored instead of growing the table.
    msg_parse_disable_list("4000000000,5000000");
    msg_state_op(4000000000u, 1);

    msg_state_op(0, 5);     // push
    msg_state_op(100, 0);   // back to default in the copy
    EXPECT_EQ(msg_report(100, 3), 1);
    msg_state_op(0, 6);     // pop: 100 is off again
    EXPECT_EQ(msg_report(100, 4), 0);
    msg_state_op(0, 6);     // popping the last table does nothing
    EXPECT_EQ(msg_report(100, 4), 0);

    msg_state_op(0, 8);     // clear
    msg_state_op(100, 2);   // error shown as a warning
    msg_state_op(120, 3);   // low warning shown as an error
    out.clear();
    EXPECT_EQ(msg_report(100, 9), 1);
    EXPECT_EQ(msg_report(120), 1);
    EXPECT_EQ(out, "(100) bad value 9 (warning)\n(120) quiet warning\n");
}

TEST_F(Messages, ZeroListSilencesEveryWarning)
{
    msg_parse_disable_list("0,100");
    EXPECT_EQ(msg_report(111, "x"), 0);
    EXPECT_EQ(msg_report(100, 1), 1);
}

TEST_F(Messages, ReportOncePerPlace)
{
    at_a_c();
    EXPECT_EQ(msg_report_once(100, 1), 1);
    EXPECT_EQ(msg_report_once(100, 1), 0);
    line = 13;
    EXPECT_EQ(msg_report_once(100, 1), 1);
}

TEST_F(Messages, LaterLineOfOneNumberWins)
{
    msg_report(160);
    EXPECT_EQ(out, "(160) second text\n");
}

TEST_F(Messages, UnknownNumberHasNoDescription)
{
    msg_report(777);
    EXPECT_EQ(out, "(777) An error, warning or message was generated, but no description is available\n");
    EXPECT_EQ(msg_error_count(), 1u);
}

TEST_F(Messages, MalformedLines)
{
    std::string bad = "5\n"                      // no kind
                      "20000\tE\ttoo big\n"      // number out of range
                      "7\tZ\tstrange kind\n"     // stored with kind 0
                      "8\tE\n" +                 // no text
                      std::string("9\tE\t") + std::string(300, 'x') + "\n" // one long line
                      "10\tE\tfine\n"
                      "11\tE\twrites through %n\n"  // conversions no caller passes
                      "12\tE\tstrange %q\n"
                      "13\tE\tends in %\n"
                      "15\tE\twide %99999999s\n"
                      "14\tE\t%-8.3lx %% %o %m %zu %0*lX\n"; // all of these format
    write_file(dir + "/bad.txt", bad);
    ASSERT_EQ(msg_open_file((dir + "/bad.txt").c_str()), 1);
    std::string f = dir + "/bad.txt";
    EXPECT_EQ(out, "Malformed error information on line 1, in file " + f + "\n"
                   "Malformed error information on line 2, in file " + f + "\n"
                   "Malformed error information on line 3, in file " + f + "\n"
                   "Malformed error information on line 4, in file " + f + "\n"
                   "Malformed error information on line 5, in file " + f + "\n"
                   "Malformed error information on line 7, in file " + f + "\n"
                   "Malformed error information on line 8, in file " + f + "\n"
                   "Malformed error information on line 9, in file " + f + "\n"
                   "Malformed error information on line 10, in file " + f + "\n");
    ASSERT_NE(msg_lookup(7), nullptr);
    EXPECT_EQ(msg_lookup(7)->kind, MSG_MALFORMED);
    EXPECT_EQ(msg_lookup(9), nullptr);
    EXPECT_STREQ(msg_lookup(10)->text, "fine");
    EXPECT_EQ(msg_lookup(11), nullptr);
    EXPECT_EQ(msg_lookup(12), nullptr);
    EXPECT_EQ(msg_lookup(13), nullptr);
    EXPECT_EQ(msg_lookup(15), nullptr);
    ASSERT_NE(msg_lookup(14), nullptr);
    out.clear();
    msg_report(11);
    EXPECT_EQ(out, "(11) An error, warning or message was generated, but no description is available\n");
}

TEST_F(Messages, PrintPieces)
{
    msg_print_part(0, "a=%d", 1);
    msg_print_part(1, " b=%s", "two");
    msg_print("plain %d", 3);
    EXPECT_EQ(out, "\ta=1 b=two\nplain 3\n");
}

TEST_F(Messages, TwentyFirstErrorStopsTheRun)
{
    EXPECT_EXIT(
        {
            msg_set_output_hook(nullptr);
            for (int i = 0; i < 30; i++)
                msg_report(100, i);
        },
        testing::ExitedWithCode(1), "bad value 19\n\\(100\\) bad value 20\ntoo many errors \\(21\\)\n\\[tool_exit 1\\]");
}

TEST_F(Messages, TextReportAtTheLimitIsNotPrinted)
{
    msg_set_error_limit(1);
    EXPECT_EXIT(
        {
            msg_set_output_hook(nullptr);
            msg_report_text(5, "e", "first");
            msg_report_text(5, "E", "second");
        },
        testing::ExitedWithCode(1), "first\ntoo many errors \\(2\\)\n\\[tool_exit 1\\]");
}

TEST_F(Messages, FatalEndsTheRun)
{
    EXPECT_EXIT(
        {
            msg_set_output_hook(nullptr);
            msg_report(150);
        },
        testing::ExitedWithCode(1), "\\(150\\) out of luck\n\\[tool_exit 1\\]");
}

TEST_F(Messages, TextReportsByKindWord)
{
    msg_report_text(7, "3", "level three");
    msg_report_text(7, "-2", "level minus two");
    msg_report_unnumbered("m", "a note");
    EXPECT_EQ(out, "(7) level three (warning)\na note\n");
}

TEST(MessageLanguage, ChosenThroughTheRegistry)
{
    msg_reset_for_tests();
    std::string dir = temp_dir();
    setenv("VRK_REGISTRY", (dir + "/registry").c_str(), 1);
    mkdir((dir + "/dat").c_str(), 0777);
    write_file(dir + "/dat/de_msgs.txt", "100\tE\tschlechter Wert %d\n");
    write_file(dir + "/dat/en_msgs.txt", "100\tE\tbad value %d\n101\tE\tonly english\n");
    ASSERT_EQ(install_dir_set(dir.c_str()), 0);
    ASSERT_EQ(prod_write_dword("language", 7), 0);
    out.clear();
    msg_set_output_hook(capture);
    msg_report(100, 1);
    msg_report(101); // missing from German: the English file answers
    EXPECT_EQ(out, "(100) schlechter Wert 1\n(101) only english\n");
    EXPECT_EQ(lang_id_from_name("Deutsch"), 7);
    EXPECT_EQ(lang_id_from_name("FR"), 12);
    EXPECT_EQ(lang_id_from_name("Fran\xe7" "ais"), 12);
    EXPECT_EQ(lang_id_from_name("klingon"), 255);
    EXPECT_STREQ(lang_code(12), "fr");
    EXPECT_STREQ(lang_code(3), "en");
    msg_reset_for_tests();
    unsetenv("VRK_REGISTRY");
}

TEST(MessageLoading, ErrorTextSurvivesAMalformedLineInTheFile)
{
    // The first report loads the English file lazily; a malformed line in it
    // is reported on the way, and the %m of the report stays the caller's.
    msg_reset_for_tests();
    std::string dir = temp_dir();
    setenv("VRK_REGISTRY", (dir + "/registry").c_str(), 1);
    mkdir((dir + "/dat").c_str(), 0777);
    write_file(dir + "/dat/en_msgs.txt", "bad line\n141\tE\tcan't open: %m\n");
    ASSERT_EQ(install_dir_set(dir.c_str()), 0);
    out.clear();
    msg_set_output_hook(capture);
    errno = EACCES;
    msg_report(141);
    EXPECT_NE(out.find("(141) can't open: " + std::string(strerror(EACCES))), std::string::npos) << out;
    msg_reset_for_tests();
    unsetenv("VRK_REGISTRY");
}
