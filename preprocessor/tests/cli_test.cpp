// Command line, files and exit status: the golden fixture tree run with the
// driver's arguments, dependency lists, file arguments, option files, and
// failures that must not pass as success.
#include "wren_test.h"
#include "tool_run.h"

#include <unistd.h>

namespace {

// The arguments the driver gives for a mid-range chip with four banks.
const std::string driver_args =
    "-SP1,1,1,1,1,1,1,1 -DVORMAK_C -D__ZEPH__ -D__ZEPHPRO__ -D_WYVERN_CODE_ -D_VRK_VER_MAJOR_=9 "
    "-D_VRK_VER_MINOR_=60 -D_VRK_VER_PATCH_=5 -D_VRK_EDITION_=2 -D_16F877A -D_MPC_ -D_PIC14 "
    "-S1,2,2,3,4,3,4 -D_COMMON_=1 -D_BANKCOUNT_=4 -D_BANKBITS_=2 -D_GPRBITS_=2 -D__DATABANK=3 "
    "-D__FLASHTYPE=1 -D_ROMSIZE=8192 -D_EEPROMSIZE=256 -DEEPROM_SIZE=256 -D_FLASH_ERASE_SIZE=0 "
    "-D_FLASH_WRITE_SIZE=8 -Iinc";

std::string fixture(const std::string &name)
{
    return tool_read(std::string(WREN_FIXTURES) + "/golden/" + name);
}

void copy_golden(const scratch_dir &d)
{
    for (const char *name : {"main.c", "local.h", "inc/chip.h"})
        d.write(name, fixture(name));
}

TEST(WrenCli, GoldenTreeWithTheDriversArguments)
{
    scratch_dir d;
    copy_golden(d);
    wren_result r = wren_run(d, driver_args + " -LM-main.d main.c main.pre");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(d.read("main.pre"), fixture("main.expected"));
    EXPECT_EQ(d.read("main.d"), fixture("main.d.expected"));
}

TEST(WrenCli, DependencyListOnly)
{
    scratch_dir d;
    copy_golden(d);
    wren_result r = wren_run(d, driver_args + " -L main.c main.dep");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(d.read("main.dep"), fixture("main.dep.expected"));
    // Without an output file the list goes to standard output.
    r = wren_run(d, driver_args + " -L main.c");
    EXPECT_EQ(r.out, fixture("main.dep.expected"));
}

TEST(WrenCli, DependencyListForms)
{
    scratch_dir d;
    d.write("m.c", "#include \"my h.h\"\n#include \"my h.h\"\n");
    d.write("my h.h", "int a;\n");
    wren_result r = wren_run(d, "-LM-x.dep m.c m.pre");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(d.read("x.dep"), "x.dep x.plover: m.c my\\ h.h");
    r = wren_run(d, "-Lplain.lst m.c m.pre");
    EXPECT_EQ(d.read("plain.lst"), "my h.h\n");
    // A list name without a '.' falls back to the plain form.
    r = wren_run(d, "-LM-nodot -Fm.c m.c m.pre");
    EXPECT_EQ(d.read("nodot"), "my h.h\n");
}

TEST(WrenCli, FailuresAreReportedWithNonZeroStatus)
{
    scratch_dir d;
    d.write("t.c", "int a;\n");
    const std::string fmt = "VRK_ERR_FORMAT=%n VRK_WARN_FORMAT=%n";
    struct {
        const char *args;
        int number;
    } rows[] = {
        {"t.c a b", 110},                  // a third file argument
        {"missing.c", 141},                // input not there
        {". out", 141},                    // a directory is not an input
        {"t.c no/such/dir/out", 141},      // output cannot be created
        {"-Lno/such/dir/x.d t.c out", 141}, // the dependency list cannot be created
        {"t.c /dev/full", 413},            // the output cannot be written
        {"t.c t.c", 176},                  // the output would overwrite the input
        {"-Eno/such/dir/e t.c out", 141},  // the message file cannot be made: told on stderr
        {"-Q t.c out", 168},               // unknown option
        {"--frob t.c out", 168},           // unknown long option
    };
    for (const auto &row : rows) {
        wren_result r = wren_run(d, std::string("-E1 ") + row.args, fmt);
        EXPECT_NE(r.status, 0) << row.args;
        EXPECT_EQ(wren_numbers(r.err), std::vector<int>{row.number}) << row.args;
    }
    EXPECT_EQ(d.read("t.c"), "int a;\n");
}

// No output replaces an input, however it is named; nothing is written then.
// Inputs are the source, its headers and the option file; outputs the text,
// the dependency list and the message file.
TEST(WrenCli, OutputsNeverReplaceInputs)
{
    const std::string fmt = "VRK_ERR_FORMAT=%n VRK_WARN_FORMAT=%n";
    const std::string source = "int a;\n#include \"h.h\"\n";
    const std::string header = "int h;\n";
    const std::string opts = "-E1 -Eopts t.c o.pre\n";
    struct {
        const char *args;
        int number;
    } rows[] = {
        {"-E1 -Lt.c t.c o.pre", 1470},         // the dependency list over the source
        {"-E1 -L./t.c t.c o.pre", 1470},       // spelled another way
        {"-E1 -Llink.c t.c o.pre", 1470},      // through a symbolic link
        {"-E1 -Et.c t.c o.pre", 1470},         // the messages appended to the source
        {"-E1 -Esub/../t.c t.c o.pre", 1470},  // before the source is named
        {"-E1 t.c h.h", 1470},                 // the text over a header
        {"-E1 -Lh.h t.c o.pre", 1470},         // the list over a header
        {"-E1 -Eh.h t.c o.pre", 1470},         // the messages into a header
        {"@opts", 1470},                       // the messages into the option file
        {"-E1 -Lo.pre t.c o.pre", 1513},       // two outputs in one file
        {"-E1 -Eo.pre t.c ./o.pre", 1513},
    };
    for (const auto &row : rows) {
        scratch_dir d;
        d.write("t.c", source);
        d.write("h.h", header);
        d.write("opts", opts);
        d.write("sub/keep", "");
        ASSERT_EQ(symlink("t.c", d.at("link.c").c_str()), 0);
        wren_result r = wren_run(d, row.args, fmt);
        EXPECT_NE(r.status, 0) << row.args;
        EXPECT_EQ(wren_numbers(r.err), std::vector<int>{row.number}) << row.args << ": " << r.err;
        EXPECT_EQ(d.read("t.c"), source) << row.args;
        EXPECT_EQ(d.read("h.h"), header) << row.args;
        EXPECT_EQ(d.read("opts"), opts) << row.args;
        EXPECT_NE(access(d.at("o.pre").c_str(), F_OK), 0) << row.args;
    }
    // A device may take several outputs.
    scratch_dir d;
    d.write("t.c", "int a;\n");
    EXPECT_EQ(wren_run(d, "-E/dev/null -L/dev/null t.c /dev/null").status, 0);
}

TEST(WrenCli, OptionFileAndErrorFile)
{
    scratch_dir d;
    d.write("t.c", "X\n#endif\n");
    d.write("opts", "-DX=5 -Eerrs.txt -E1 t.c out.pre\n");
    wren_result r = wren_run(d, "@opts", "VRK_ERR_FORMAT=%n");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(d.read("errs.txt"), "102\n");
    EXPECT_EQ(wren_tokens(d.read("out.pre")), "5\n");
}

TEST(WrenCli, ErrorLimit)
{
    std::string src;
    for (int i = 0; i < 15; i++)
        src += "#endif\n";
    // The default limit is 10: the 11th error is printed, then the limit message.
    std::vector<int> expected(11, 102);
    expected.push_back(1);
    scratch_dir d;
    d.write("t.c", src);
    wren_result r = wren_run(d, "-E1 t.c", "VRK_ERR_FORMAT=%n VRK_MSG_FORMAT=%n");
    EXPECT_EQ(wren_numbers(r.err), expected);
    r = wren_run(d, "-E1 --emax=2 t.c", "VRK_ERR_FORMAT=%n VRK_MSG_FORMAT=%n");
    EXPECT_EQ(wren_numbers(r.err), (std::vector<int>{102, 102, 102, 1}));
}

} // namespace
