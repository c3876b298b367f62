// The whole installed chain, driven by zeph as a user runs it: an assembly
// program for a mid-range and a baseline chip goes through the assembler,
// the generated start-up code, both link stages and the HEX converter, and
// the HEX file runs in gpsim with the values it leaves in RAM read back; and
// programs built side by side by make in one directory.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

void tool_exit(int) {}

static std::string dir;

static void write(const std::string &name, const std::string &text) { tool_write(dir + "/" + name, text); }

// Builds main.as with zeph for the chip; the global symbols of the link.
static std::map<std::string, unsigned> build(const std::string &chip)
{
    int st;
    std::string out = tool_run(dir, std::string(ZEPH_BUILD_DIR "/bin/zeph") + " --chip=" + chip +
                                        " --output=-mcof main.as", &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_NE(out.find("Memory Summary:"), std::string::npos) << out;
    return tool_symbols(dir + "/main.sym");
}

// Runs main.hex until the program writes 1 to `done`; the RAM dump.
static std::map<unsigned, unsigned> simulate(const std::string &chip, unsigned done)
{
    std::string log;
    std::map<unsigned, unsigned> ram = tool_gpsim(dir, chip, "main.hex", done, &log);
    EXPECT_EQ(ram[done], 1u) << "the program did not finish:\n" << log;
    return ram;
}

class Chain : public testing::Test {
protected:
    void SetUp() override
    {
        dir = tool_tempdir("zeph_chain");
        setenv("TEMP", dir.c_str(), 1);
    }
    void TearDown() override { unsetenv("TEMP"); }
};

TEST_F(Chain, MidRangeAssemblyProgramRunsFromTheDriversHexFile)
{
    write("main.as", R"(	FNCONF	fnauto0,??,?
	psect	maintext,class=CODE,delta=2
	global	_main,_count,_flag
_main:
	movlw	0x21
	movwf	_count
	bsf	3,5
	movwf	_flag&07Fh
	bcf	3,5
	incf	_count,f
	movlw	1
	movwf	0x7F
	goto	$
	psect	rbss_0,class=BANK0,space=1
_count:	ds	1
	psect	rbss_1,class=BANK1,space=1
_flag:	ds	1
	psect	config,class=CONFIG,delta=2
	dw	0x3F3A
)");
    auto syms = build("16F877A");
    ASSERT_TRUE(syms.count("_count") && syms.count("_flag"));
    auto ram = simulate("16f877a", 0x7F);
    EXPECT_EQ(ram[syms["_count"]], 0x22u);
    EXPECT_EQ(ram[syms["_flag"]], 0x21u);
    EXPECT_GE(syms["_flag"], 0xA0u);
}
TEST_F(Chain, BaselineAssemblyProgramRunsFromTheDriversHexFile)
{
    write("main.as", R"(	FNCONF	fnauto0,??,?
	psect	maintext,class=CODE,delta=2
	global	_main,_count
_main:
	movlw	0x41
	movwf	_count
	incf	_count,f
	movlw	1
	movwf	0x1F
	goto	$
	psect	rbss_0,class=BANK0,space=1
_count:	ds	1
)");
    auto syms = build("12F508");
    ASSERT_TRUE(syms.count("_count"));
    auto ram = simulate("12f508", 0x1F);
    EXPECT_EQ(ram[syms["_count"]], 0x42u);
}

// The start-up file is assembled once when both link stages would write the
// same body (a program with no RAM for the start-up code to clear), twice
// when they would not; either way the kept start-up source, listing and
// object are exactly what assembling the final stage's file gives, and a
// run that keeps nothing makes the same HEX file.
TEST_F(Chain, StartUpAssembledOnceWhenBothStagesWriteTheSameBody)
{
    struct {
        const char *data; // the program's RAM, if any
        int assemblies;   // of the start-up file
    } const cases[] = {{"", 1}, {"\tpsect\trbss_0,class=BANK0,space=1\n_count:\tds\t2\n", 2}};
    for (const auto &c : cases) {
        write("main.as", std::string("\tFNCONF\tfnauto0,??,?\n\tpsect\tmaintext,class=CODE,delta=2\n"
                                     "\tglobal\t_main\n_main:\n\tmovlw\t1\n\tmovwf\t0x7F\n\tgoto\t$\n") +
                             c.data);
        int st;
        std::string out = tool_run(dir, ZEPH_BUILD_DIR "/bin/zeph --chip=16F877A -V main.as", &st);
        ASSERT_EQ(st, 0) << out;
        // The start-up assemblies, each line as the driver ran it.
        std::vector<std::string> runs;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("osprey ", 0) == 0 && line.find("startup.as") != std::string::npos)
                runs.push_back(line);
        ASSERT_EQ(runs.size(), static_cast<size_t>(c.assemblies)) << out;
        // The last one again, on the kept final source into files of our own.
        std::string cmd;
        std::istringstream words(runs.back());
        for (std::string w; words >> w;) {
            if (w.rfind("-l", 0) == 0)
                w = "-lcheck.lst";
            else if (w.rfind("-o", 0) == 0 && w.size() > 2)
                w = "-ocheck.obj";
            else if (w.find("startup.as") != std::string::npos)
                w = "startup.as";
            cmd += (cmd.empty() ? ZEPH_BUILD_DIR "/bin/" : " ") + w;
        }
        std::string again = tool_run(dir, cmd, &st);
        ASSERT_EQ(st, 0) << cmd << "\n" << again;
        EXPECT_NE(tool_read(dir + "/startup.as").find("startup code for final link stage."), std::string::npos);
        EXPECT_EQ(tool_read(dir + "/startup.lst"), tool_read(dir + "/check.lst")) << c.data;
        EXPECT_EQ(tool_read(dir + "/startup.obj"), tool_read(dir + "/check.obj")) << c.data;
        std::string hex = tool_read(dir + "/main.hex");
        out = tool_run(dir, ZEPH_BUILD_DIR "/bin/zeph --chip=16F877A --runtime=-keep main.as", &st);
        ASSERT_EQ(st, 0) << out;
        EXPECT_EQ(tool_read(dir + "/main.hex"), hex) << c.data;
    }
}

// Eight programs that share an assembly module, linked by make at once in
// one directory, round after round: each run's intermediates (the final
// link's output, the start-up files) are its own, so every HEX file comes out
// as the one-at-a-time build makes it. The programs differ in code and in the
// RAM their start-up code clears, so a file taken from another run shows.
// The objects are made once; only the links, where the runs met, repeat.
//
// A link of the sanitizer build takes about a second and a half of processor
// time, so CI runs five rounds; the full check is twenty:
//   ZEPH_MAKE_ROUNDS=20 build/tests/driver_chain_test --gtest_filter='ParallelMake*'
TEST(ParallelMake, EveryHexFileAsTheSerialBuildMakesIt)
{
    const char *rounds_env = getenv("ZEPH_MAKE_ROUNDS");
    const int rounds = rounds_env && *rounds_env ? atoi(rounds_env) : 5;
    const std::string work = tool_tempdir("zeph_make");
    const int programs = 8;
    tool_write(work + "/util.as", "\tpsect\tutiltext,class=CODE,delta=2\n\tglobal\t_twice\n"
                                  "_twice:\n\tmovwf\t0x70\n\taddwf\t0x70,w\n\treturn\n");
    std::string all, objects = " util.obj";
    for (int n = 1; n <= programs; n++) {
        tool_write(work + "/p" + std::to_string(n) + ".as",
                   "\tFNCONF\tfnauto0,??,?\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\t_main,_twice,_value\n"
                   "_main:\n\tmovlw\t" + std::to_string(3 * n) + "\n\tcall\t_twice\n\tmovwf\t_value\n\tgoto\t$\n"
                   "\tpsect\trbss_0,class=BANK0,space=1\n_value:\tds\t" + std::to_string(2 * n) + "\n");
        all += " p" + std::to_string(n) + ".hex";
        objects += " p" + std::to_string(n) + ".obj";
    }
    tool_write(work + "/Makefile", "ZEPH = " ZEPH_BUILD_DIR "/bin/zeph --chip=16F877A --output=-mcof -Q\n"
                                   "all:" + all + "\n"
                                   "%.obj: %.as\n\t$(ZEPH) -C $<\n"
                                   "p%.hex: p%.obj util.obj\n\t$(ZEPH) $^\n");
    auto hex_files = [&] {
        std::vector<std::string> hex;
        for (int n = 1; n <= programs; n++)
            hex.push_back(tool_read(work + "/p" + std::to_string(n) + ".hex"));
        return hex;
    };
    auto remove_hex_files = [&] {
        for (int n = 1; n <= programs; n++)
            std::remove((work + "/p" + std::to_string(n) + ".hex").c_str());
    };
    int st;
    std::string out = tool_run(work, "make -j8" + objects, &st);
    ASSERT_EQ(st, 0) << out;
    out = tool_run(work, "make -j1", &st);
    ASSERT_EQ(st, 0) << out;
    const std::vector<std::string> serial = hex_files();
    for (int n = 0; n < programs; n++)
        ASSERT_NE(serial[n].find(":00000001FF"), std::string::npos) << "p" << n + 1 << ".hex\n" << out;
    ASSERT_EQ(std::set<std::string>(serial.begin(), serial.end()).size(), serial.size()) << "programs alike";
    for (int round = 1; round <= rounds; round++) {
        remove_hex_files();
        out = tool_run(work, "make -j8", &st);
        ASSERT_EQ(st, 0) << "round " << round << "\n" << out;
        ASSERT_EQ(hex_files(), serial) << "round " << round << "\n" << out;
    }
    // The final link's output stayed in each run's own folder.
    EXPECT_FALSE(std::filesystem::exists(work + "/l.obj"));
}
