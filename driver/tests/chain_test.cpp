// The whole installed chain, driven by zeph as a user runs it: an assembly
// program for a mid-range and a baseline chip goes through the assembler,
// the generated start-up code, both link stages and the HEX converter, and
// the HEX file runs in gpsim with the values it leaves in RAM read back.
#include "tool_run.h"

#include <gtest/gtest.h>

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
