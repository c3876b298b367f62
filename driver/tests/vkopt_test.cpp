// The option engine over a small table of its own: where arguments come
// from, the order options are applied in, the argument rules, flag sets and
// single choices, and help generated from the table.
#include "support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

// What the handlers saw, "name=value" in call order.
std::vector<std::string> calls;
// File arguments in callback order.
std::vector<std::string> files;
uint32_t v_runtime, v_warn, v_ide, v_quiet, v_count, v_length;
char osc_buf[OPTION_ARG_SIZE];

void h_log(option_record *o, const char *v) { calls.push_back(std::string(o->name) + "=" + (v ? v : "-")); }
void h_number(option_record *o, uint32_t n) { calls.push_back(std::string(o->name) + "#" + std::to_string(n)); }
void h_action(option_record *) { calls.push_back("action"); }
void h_help(option_record *o, const char *v) { print_help(o, v); }
void on_file(const char *name) { files.push_back(name); }

choice_row runtime_rows_t[] = {
    {0x1, "init", "Initialization", nullptr, 1},
    {0x2, "clear", "Clearing", nullptr, 1},
    {0x4, "clib", "C library", nullptr, 1},
    {0x10000, "osccal", "Oscillator", nullptr, 0},
    {0x400000, "oscval", "Calibration value", osc_buf, 0},
    {0, nullptr, nullptr, nullptr, 0},
};
choice_row warn_rows_t[] = {
    {static_cast<uint32_t>(-3), "-3", "Level -3", nullptr, 0},
    {0, "0", "Level 0", nullptr, 1},
    {5, "5", "Level 5", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};
choice_row ide_rows_t[] = {
    {1, "tarnel", "Tarnel", nullptr, 0},
    {2, "mplab", "MPLAB", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

// A fresh table per test: the engine sorts it and counts occurrences.
std::vector<option_record> make_table()
{
    const uint32_t R = OPT_ARG_REQUIRED, O = OPT_ARG_OPTIONAL;
    return {
        {9, "help", static_cast<uint32_t>(-4), O | OPT_STOP, OPTK_HANDLER, {.handler = h_help}, nullptr, "Help", "Shows help.", nullptr, 0},
        {1, "late", 10, R, OPTK_HANDLER, {.handler = h_log}, nullptr, "Late", "Runs last.", nullptr, 0},
        {2, "D", 500, R, OPTK_HANDLER, {.handler = h_log}, nullptr, "Define", "Defines.", nullptr, 0},
        {3, "chip", 900, R, OPTK_HANDLER, {.handler = h_log}, nullptr, "Select processor", "Chip.", nullptr, 0},
        {0, nullptr, 800, 0, OPTK_HANDLER, {.action = h_action}, nullptr, nullptr, nullptr, nullptr, 0},
        {4, "runtime", 500, O, OPTK_FLAGSET, {.variable = &v_runtime}, runtime_rows_t, "Run-time options", "Start-up.", nullptr, 0},
        {5, "warn", 500, O, OPTK_CHOICE, {.variable = &v_warn}, warn_rows_t, "Warning level", "Level.", nullptr, 0},
        {6, "ide", 500, R, OPTK_BYNAME, {.variable = &v_ide}, ide_rows_t, "Set development environment", "IDE.", nullptr, 0},
        {7, "Q", 500, 0, OPTK_BOOLEAN, {.variable = &v_quiet}, nullptr, "Quiet mode", "Quiet.", nullptr, 0},
        {8, "V", 500, 0, OPTK_COUNTER, {.variable = &v_count}, nullptr, "Verbose mode", "Verbose.", nullptr, 0},
        {10, "N", 500, R, OPTK_INTEGER, {.variable = &v_length}, nullptr, "Identifier length", "Length.", nullptr, 0},
        {11, "codeoffset", 500, R, OPTK_NUMBER, {.number = h_number}, nullptr, "Specify ROM address", "Offset.", nullptr, 0},
        {12, "once", 500, OPT_ONCE, OPTK_HANDLER, {.handler = h_log}, nullptr, nullptr, "Only once.", nullptr, 0},
        {13, "G", 500, O, OPTK_HANDLER, {.handler = h_log}, nullptr, "Symbols", "Symbol file.", nullptr, 0},
        {14, "stop", 500, OPT_STOP, OPTK_HANDLER, {.handler = h_log}, nullptr, "Stop here", "Stops.", nullptr, 0},
        {15, "hidden", 500, 0, OPTK_HANDLER, {.handler = h_log}, nullptr, "Hidden", nullptr, nullptr, 0},
        {0, nullptr, 0, 0, OPTK_HANDLER, {.handler = nullptr}, nullptr, nullptr, nullptr, nullptr, 0},
    };
}

class OptionEngine : public ::testing::Test {
protected:
    std::vector<option_record> table = make_table();

    void SetUp() override
    {
        messages_for_test();
        calls.clear();
        files.clear();
        v_warn = v_ide = v_quiet = v_count = v_length = 0;
        v_runtime = choice_defaults(runtime_rows_t);
        osc_buf[0] = 0;
    }

    // Runs the engine over the arguments (argv[0] added); the message number
    // of a fatal stop, or 0, goes to *fatal.
    int run(std::vector<std::string> args, unsigned *fatal = nullptr, const char *tool = nullptr)
    {
        args.insert(args.begin(), "zeph");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (fatal)
            *fatal = 0;
        try {
            return parse_options(table.data(), static_cast<int>(args.size()), argv.data(), on_file, tool);
        } catch (const fatal_exit &) {
            for (unsigned n : {923u, 924u, 925u, 926u, 928u, 931u, 141u})
                if (reported(n) && fatal)
                    *fatal = n;
            return -1;
        }
    }
};

TEST_F(OptionEngine, AppliesOptionsInPriorityOrder)
{
    EXPECT_EQ(0, run({"--late=x", "main.c", "-dfoo", "--", "-", "--CHIP=16F84", "-DBAR", "x.as", "--zzz"}));
    std::vector<std::string> want = {"chip=16F84", "action", "D=foo", "D=BAR", "late=x"};
    EXPECT_EQ(want, calls);
    EXPECT_EQ((std::vector<std::string>{"main.c", "x.as"}), files);
    EXPECT_TRUE(reported(168));
    EXPECT_EQ(1u, msg_error_count());
}

TEST_F(OptionEngine, StopFlagEndsProcessing)
{
    EXPECT_EQ(1, run({"--late=x", "--stop", "main.c"}));
    EXPECT_EQ((std::vector<std::string>{"action", "stop=-"}), calls);
    EXPECT_TRUE(files.empty());
}

TEST_F(OptionEngine, ArgumentRulesAreFatal)
{
    struct Case {
        std::vector<std::string> args;
        unsigned message;
    } cases[] = {
        {{"--chip"}, 924},          {{"-D"}, 924},
        {{"-Qx"}, 925},             {{"--once=1"}, 925},
        {{"--once", "--once"}, 926}, {{"--warn=+5"}, 923},
        {{"--runtime=bogus"}, 923}, {{"--ide=emacs"}, 923},
        {{"--codeoffset=xyz"}, 928}, {{"@"}, 931},
        {{"@no-such-command-file"}, 141},
    };
    for (const Case &c : cases) {
        SetUp();
        table = make_table();
        unsigned fatal = 0;
        EXPECT_EQ(-1, run(c.args, &fatal)) << c.args[0];
        EXPECT_EQ(c.message, fatal) << c.args[0];
    }
}

TEST_F(OptionEngine, FlagSetsAndChoices)
{
    struct Case {
        std::vector<std::string> args;
        uint32_t runtime, warn;
    } cases[] = {
        {{}, 0x7, 0},
        {{"--runtime=+osccal"}, 0x10007, 0},
        {{"--runtime=osccal"}, 0x10000, 0},
        {{"--runtime=default,-clib"}, 0x3, 0},
        {{"--runtime=all"}, 0xFFFFFFFF, 0},
        {{"--runtime=none"}, 0, 0},
        {{"--runtime"}, 0, 0},
        {{"--runtime=-init"}, 0x6, 0},
        {{"--runtime=osccal", "--runtime=clib"}, 0x10004, 0},
        {{"--runtime=osccal", "--runtime=-osccal,+init"}, 0x1, 0},
        {{"--runtime=osccal", "--runtime"}, 0x10000, 0},
        {{"--RUNTIME=CLEAR"}, 0x2, 0},
        {{"--warn=5"}, 0x7, 5},
        {{"--warn=-3"}, 0x7, static_cast<uint32_t>(-3)},
        {{"--warn=5", "--warn=default"}, 0x7, 0},
    };
    for (const Case &c : cases) {
        SetUp();
        table = make_table();
        EXPECT_EQ(0, run(c.args));
        std::string label = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(c.runtime, v_runtime) << label;
        EXPECT_EQ(c.warn, v_warn) << label;
    }
}

TEST_F(OptionEngine, RowArgumentsAndSimpleKinds)
{
    EXPECT_EQ(0, run({"--runtime=+oscval:3F", "--ide=MPLAB", "-Q", "-V", "-V", "-N40", "--codeoffset=0x100",
                      "-G", "-Gfile.sym"}));
    EXPECT_EQ(0x400007u, v_runtime);
    EXPECT_STREQ("3F", osc_buf);
    EXPECT_EQ(2u, v_ide);
    EXPECT_EQ(1u, v_quiet);
    EXPECT_EQ(2u, v_count);
    EXPECT_EQ(40u, v_length);
    std::vector<std::string> want = {"action", "codeoffset#256", "G=-", "G=file.sym"};
    EXPECT_EQ(want, calls);
}

TEST_F(OptionEngine, CommandFileReplacesCommandLine)
{
    {
        std::ofstream f("engine_cmd.txt");
        f << "-Dfrom_file\r\nmain.c\n";
    }
    EXPECT_EQ(0, run({"-Dignored", "@engine_cmd.txt", "other.c"}));
    EXPECT_EQ((std::vector<std::string>{"action", "D=from_file"}), calls);
    EXPECT_EQ((std::vector<std::string>{"main.c"}), files);
    remove("engine_cmd.txt");
}

TEST_F(OptionEngine, EnvironmentAndOptionFileComeFirst)
{
    {
        // Longer than the old 16383-byte limit: the option at the end counts.
        std::ofstream f(".TST_OPTIONS");
        f << "-Dfile1\r\n" << std::string(17000, ' ') << "\n-Dfile2\n";
    }
    setenv("TST_OPTIONS", "-Denv", 1);
    EXPECT_EQ(0, run({"-Dcmd"}, nullptr, "TST"));
    unsetenv("TST_OPTIONS");
    remove(".TST_OPTIONS");
    std::vector<std::string> want = {"action", "D=env", "D=file1", "D=file2", "D=cmd"};
    EXPECT_EQ(want, calls);
}

TEST_F(OptionEngine, UsageForms)
{
    struct Case {
        const char *name, *usage;
    } cases[] = {
        {"chip", "--chip=argument"}, {"G", "-G<argument>"},        {"D", "-Dargument"},
        {"N", "-Nnumber"},           {"codeoffset", "--codeoffset=value"}, {"warn", "--warn<=argument>"},
        {"Q", "-Q"},
    };
    for (const Case &c : cases)
        EXPECT_STREQ(c.usage, option_usage(option_find_by_name(table.data(), c.name))) << c.name;
}

TEST_F(OptionEngine, HelpByTopic)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, run({"--runtime=help", "--late=x"}));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(calls.empty());
    EXPECT_NE(std::string::npos, out.find("--runtime: Run-time options\n\nStart-up.\n"));
    EXPECT_NE(std::string::npos, out.find("This option may have any of the following arguments:"));
    EXPECT_NE(std::string::npos, out.find(" *  init                 Initialization\n"));
    EXPECT_NE(std::string::npos, out.find("    osccal               Oscillator\n"));
    EXPECT_NE(std::string::npos, out.find("    oscval:argument      Calibration value\n"));
    EXPECT_NE(std::string::npos, out.find("    all                  All of the above\n"
                                          "    none                 None of the above\n"
                                          "    default              Default values (*)\n"));

    testing::internal::CaptureStdout();
    table = make_table();
    EXPECT_EQ(1, run({"--warn=HELP"}));
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("This option may have one of the following arguments:"));
    EXPECT_NE(std::string::npos, out.find(" *  0                    Level 0\n"));
    EXPECT_NE(std::string::npos, out.find("    default              Default value (*)\n"));
    EXPECT_EQ(std::string::npos, out.find("All of the above"));
}

TEST_F(OptionEngine, FullHelpListsNamedOptionsByName)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, run({"--help=nosuch"}));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("Bad option: nosuch\n"));
    size_t list = out.find("\nCompiler Options:\n\n");
    ASSERT_NE(std::string::npos, list);
    // Names in strcmp order (upper case first); no help text, no line.
    size_t d = out.find("     -Dargument"), g = out.find("     -G<argument>"), chip = out.find("--chip=argument");
    EXPECT_LT(list, d);
    EXPECT_LT(d, g);
    EXPECT_LT(g, chip);
    EXPECT_NE(std::string::npos, out.find(" !    --help<=argument>"));
    EXPECT_NE(std::string::npos, out.find(" !    --stop" + std::string(24, ' ') + " Stop here\n"));
    EXPECT_NE(std::string::npos, out.find("     --once\n"));
    EXPECT_EQ(std::string::npos, out.find("--hidden"));
    EXPECT_NE(std::string::npos, out.find("Help for a specific option can be obtained by specifying an argument to --help."));
}

TEST(OptionTables, KeyHashAndDefaults)
{
    EXPECT_EQ(0u, key_hash(""));
    EXPECT_EQ(97u * 16 + 98, key_hash("ab"));
    EXPECT_EQ(key_hash("ab"), key_hash("AB"));
    EXPECT_TRUE(choice_name_matches("mot;motorola;s19", "MOTOROLA"));
    EXPECT_FALSE(choice_name_matches("mot;motorola;s19", "moto"));

    std::vector<option_record> table = make_table();
    option_record *rt = option_find_by_id(table.data(), 4);
    flagset_set_value(rt, 0x10001);
    EXPECT_EQ(0x10001u, v_runtime);
    EXPECT_EQ(0x10001u, choice_defaults(runtime_rows_t));
    flagset_set_value(rt, 0x7);
    EXPECT_EQ(nullptr, option_find_by_name(table.data(), "nosuch"));
}

} // namespace
