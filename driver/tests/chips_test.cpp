// Every chip of the database through the installed chain, one test per
// chip and program: an assembly program assembles and links, and where
// gpsim simulates the chip it runs there and the values it leaves in RAM
// are read back; a C program that includes the chip's header compiles and
// runs the same way. Beside them, the --chipinfo listing against the chips the
// public register maps describe, and the refusal of a debug file that
// needs a processor number the database does not have.
#include "chip.h"
#include "chip_sample.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <regex>
#include <set>
#include <sys/stat.h>

void tool_exit(int) {}

namespace {

const std::string zeph = ZEPH_BUILD_DIR "/bin/zeph";

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

struct chip_facts {
    std::string name;
    bool baseline;
    bool osccal;   // a calibration word at the top of program memory
};

// A test's name shows the chip.
void PrintTo(const chip_facts &c, std::ostream *os)
{
    *os << c.name;
}

std::vector<chip_facts> database_chips()
{
    std::vector<chip_facts> chips;
    msg_open_file(ZEPH_BUILD_DIR "/dat/en_msgs.txt");
    chipinfo_iterate(ZEPH_BUILD_DIR "/dat/zeph.ini", &chips, [](void *c, chip_record *chip) {
        static_cast<std::vector<chip_facts> *>(c)->push_back(
            {chip->name, chip->architecture == ARCH_BASELINE, chip->osccal != 0});
        return 0;
    });
    return chips;
}

// C for the 12-bit cores (the enhanced ones, 16F527 and 16F570, are
// refused with (1490)).
constexpr bool baseline_c_compiles = true;

// Chips gpsim lists but does not run these programs on to their end.
struct simulator_gap {
    const char *chip;
    const char *why;
};
const simulator_gap simulator_gaps[] = {
    {"16CR83", "gpsim lists it but cannot make one (\"SetProcessorByType FIXME\")"},
    {"16CR84", "gpsim lists it but cannot make one (\"SetProcessorByType FIXME\")"},
};

// The processors gpsim simulates, by its name ("pic16f877a"), asked once.
const std::set<std::string> &gpsim_processors()
{
    static std::set<std::string> names = [] {
        std::set<std::string> found;
        std::string dir = tool_tempdir("zeph_chips");
        tool_write(dir + "/list.stc", "processor list\nquit\n");
        int st;
        std::istringstream out(tool_run(dir, "gpsim -i -I '" + dir + "/list.stc' </dev/null", &st));
        std::string word;
        while (out >> word)
            if (word.rfind("pic", 0) == 0)
                found.insert(word);
        return found;
    }();
    return names;
}

// Why the chip's programs are not run, or "" when they are.
std::string not_simulated(const std::string &chip)
{
    for (const simulator_gap &g : simulator_gaps)
        if (chip == g.chip)
            return g.why;
    return gpsim_processors().count("pic" + lower(chip)) ? "" : "gpsim does not simulate it";
}

class EveryChip : public testing::TestWithParam<chip_facts> {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = tool_tempdir("zeph_chips");
        setenv("TEMP", dir.c_str(), 1);
    }
    void TearDown() override { unsetenv("TEMP"); }

    // Builds `file` for the chip (its calibration word given where it has
    // one, as a programmer keeps it); the link's global symbols, none when
    // the build failed (reported).
    std::map<std::string, unsigned> build(const std::string &file)
    {
        const chip_facts &c = GetParam();
        int st;
        std::string out = tool_run(dir, zeph + " --chip=" + c.name + " --output=-mcof" +
                                            (c.osccal ? " --runtime=+oscval:80" : "") + " " + file, &st);
        EXPECT_EQ(st, 0) << out;
        return st == 0 ? tool_symbols(dir + "/main.sym") : std::map<std::string, unsigned>{};
    }

    // Runs main.hex until the program sets _done; the RAM it leaves, and
    // what gpsim printed in *log. A run that does not get there is
    // reported.
    std::map<unsigned, unsigned> run(std::map<std::string, unsigned> &syms, std::string *log)
    {
        unsigned done = syms["_done"];
        std::map<unsigned, unsigned> ram = tool_gpsim(dir, lower(GetParam().name), "main.hex", done, log, 200000);
        EXPECT_EQ(ram[done], 1u) << "the program did not finish:\n" << *log;
        return ram;
    }
};

TEST_P(EveryChip, AssemblyProgramLinksAndRuns)
{
    const chip_facts &c = GetParam();
    tool_write(dir + "/main.as", "\tFNCONF\tfnauto0,??,?\n"
                                 "\tpsect\tmaintext,class=CODE,delta=2\n"
                                 "\tglobal\t_main,_count,_done\n"
                                 "_main:\n"
                                 "\tmovlw\t0x41\n"
                                 "\tmovwf\t_count\n"
                                 "\tincf\t_count,f\n"
                                 "\tmovlw\t1\n"
                                 "\tmovwf\t_done\n"
                                 "\tgoto\t$\n"
                                 "\tpsect\trbss_0,class=BANK0,space=1\n"
                                 "_count:\tds\t1\n"
                                 "_done:\tds\t1\n");
    std::map<std::string, unsigned> syms = build("main.as");
    ASSERT_TRUE(syms.count("_count") && syms.count("_done"));
    std::string why = not_simulated(c.name);
    if (!why.empty())
        GTEST_SKIP() << "assembled and linked; not run: " << why;
    std::string log;
    std::map<unsigned, unsigned> ram = run(syms, &log);
    EXPECT_EQ(ram[syms["_count"]], 0x42u) << log;
}

// The chip header's watchdog-off value (its name differs by family).
std::string watchdog_off(const std::string &header)
{
    for (const char *name : {"_WDT_OFF", "_WDTE_OFF", "_WDTEN_OFF"})
        if (header.find(std::string("#define ") + name + " ") != std::string::npos)
            return name;
    return "0x3FFF";
}

// The chip-header test compiles a C program for every mid-range chip
// already; here C is compiled where it also runs, and for the 12-bit cores
// once the code generator compiles for them.
TEST_P(EveryChip, CProgramCompilesAndRuns)
{
    const chip_facts &c = GetParam();
    if (c.baseline && !baseline_c_compiles)
        GTEST_SKIP() << "the code generator does not compile C for the 12-bit cores yet (1490)";
    if (c.name == std::string("16F527") || c.name == std::string("16F570"))
        GTEST_SKIP() << "the enhanced 12-bit core: refused by the code generator (1490)";
    for (const char *small : {"10F200", "10F204", "10F220"})
        if (c.name == std::string(small))
            GTEST_SKIP() << "16 bytes of RAM hold less than this program's data and frames (1250)";
    std::string why = not_simulated(c.name);
    if (!why.empty() && !c.baseline)
        GTEST_SKIP() << "not run: " << why << "; compiled by the chip-header test";
    std::string header = tool_read(ZEPH_BUILD_DIR "/include/pic" + lower(c.name) + ".h");
    ASSERT_FALSE(header.empty()) << "no header for " << c.name;
    bool two_words = header.find("define __CONFIG(x1, x2)") != std::string::npos;
    tool_write(dir + "/main.c", "#include <zeph.h>\n"
                                "__CONFIG(" + watchdog_off(header) + (two_words ? ", 0x3FFF" : "") + ");\n"
                                "volatile unsigned char done;\n"
                                "unsigned char table[4];\n"
                                "unsigned int sum;\n"
                                "void main(void)\n"
                                "{\n"
                                "    unsigned char i;\n"
                                "    for (i = 0; i < 4; i++)\n"
                                "        table[i] = i * 3 + 1;\n"
                                "    for (i = 0; i < 4; i++)\n"
                                "        sum += table[i]" + std::string(c.baseline ? "" : " * 100u") + ";\n"
                                "    done = 1;\n"
                                "    for (;;)\n"
                                "        continue;\n"
                                "}\n");
    std::map<std::string, unsigned> syms = build("main.c");
    ASSERT_TRUE(syms.count("_sum") && syms.count("_done"));
    if (!why.empty())
        GTEST_SKIP() << "compiled and linked; not run: " << why;
    std::string log;
    std::map<unsigned, unsigned> ram = run(syms, &log);
    // (the 12-bit chips of 16 bytes of RAM have no room for the frames of
    // a multiplication)
    EXPECT_EQ(ram[syms["_sum"]] | ram[syms["_sum"] + 1] << 8, c.baseline ? 22u : 2200u) << log;
    EXPECT_EQ(ram[syms["_table"] + 3], 10u) << log;
}

static std::string facts_name(const chip_facts &c)
{
    return c.name;
}

INSTANTIATE_TEST_SUITE_P(Database, EveryChip, testing::ValuesIn(chip_sample(database_chips(), facts_name)),
                         [](const testing::TestParamInfo<chip_facts> &p) { return p.param.name; });

// ---------------------------------------------------------------------------
// the listing and the refusal
// ---------------------------------------------------------------------------

// The chips of the 12- and 14-bit cores among the public register maps: a
// family name, and the first configuration word at FFFh or 2007h (the
// enhanced 14-bit core's is at 8007h).
std::set<std::string> chips_of_the_maps(const std::string &dir)
{
    static const std::regex name_re(R"(^p(1[026](C|CE|CR|F|HV|LF)\d+[a-z0-9]*)\.inc$)", std::regex::icase);
    static const std::regex config_re(R"(^_CONFIG1?\s+EQU\s+H'(FFF|2007)')");
    std::set<std::string> chips;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = d ? readdir(d) : nullptr) {
        std::smatch m;
        std::string file = e->d_name;
        if (!std::regex_match(file, m, name_re))
            continue;
        std::string chip = m[1];
        std::istringstream in(tool_read(dir + "/" + file));
        std::string line;
        while (std::getline(in, line))
            if (std::regex_search(line, config_re)) {
                std::transform(chip.begin(), chip.end(), chip.begin(), ::toupper);
                chips.insert(chip);
                break;
            }
    }
    if (d)
        closedir(d);
    return chips;
}

TEST(ChipList, ChipinfoListsEveryBaselineAndMidrangeChipOfTheMaps)
{
    const std::string maps = "/usr/share/gputils/header";
    struct stat st_dir;
    if (stat(maps.c_str(), &st_dir) != 0)
        GTEST_SKIP() << "no register maps in " << maps << " (gputils is not installed)";
    std::string dir = tool_tempdir("zeph_chips");
    int st;
    std::istringstream out(tool_run(dir, zeph + " --chipinfo", &st));
    ASSERT_EQ(st, 0);
    std::set<std::string> listed;
    std::string line;
    while (std::getline(out, line))
        if (!line.empty() && line[0] != ';')
            listed.insert(line.substr(0, line.find(':')));
    std::set<std::string> want = chips_of_the_maps(maps);
    EXPECT_GT(want.size(), 200u);
    EXPECT_EQ(listed, want);
}

// A chip the database has no processor number for: the default build goes
// without the debug file that carries the number, with a warning (a debug
// file nobody asked for does not fail a firmware build); asked for by name
// it is refused; left out, the build succeeds quietly.
TEST(ChipList, DebugFileWithoutProcessorNumberIsRefused)
{
    std::string dir = tool_tempdir("zeph_chips");
    setenv("TEMP", dir.c_str(), 1);
    tool_write(dir + "/main.as", "\tFNCONF\tfnauto0,??,?\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\t_main\n"
                                 "_main:\n\tgoto\t$\n");
    int st;
    std::string out = tool_run(dir, zeph + " --chip=16F877 main.as", &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_NE(out.find("(1608)"), std::string::npos) << out;
    EXPECT_NE(out.find("16F877"), std::string::npos) << out;
    EXPECT_FALSE(tool_read(dir + "/main.hex").empty());
    EXPECT_TRUE(tool_read(dir + "/main.cof").empty());
    out = tool_run(dir, zeph + " --chip=16F877 --output=mcof main.as", &st);
    EXPECT_NE(st, 0) << out;
    EXPECT_NE(out.find("(1535)"), std::string::npos) << out;
    out = tool_run(dir, zeph + " --chip=16F877 --output=-mcof main.as", &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_EQ(out.find("(1535)"), std::string::npos) << out;
    EXPECT_EQ(out.find("(1608)"), std::string::npos) << out;
    unsetenv("TEMP");
}

} // namespace
