// The whole installed chain, driven by zeph as a user runs it: an assembly
// program for a mid-range and a baseline chip goes through the assembler,
// the generated start-up code, both link stages and the HEX converter, and
// the HEX file runs in gpsim with the values it leaves in RAM read back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>

void tool_exit(int) {}

static std::string dir;

static std::string run(const std::string &cmd, int *status)
{
    std::string full = "cd " + dir + " && " + cmd + " 2>&1";
    FILE *p = popen(full.c_str(), "r");
    std::string out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    int rc = pclose(p);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

static void write(const std::string &name, const std::string &text)
{
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
}

// Runs the HEX file until the program writes 1 to `done`; the RAM dump.
static std::map<unsigned, unsigned> simulate(const std::string &chip, unsigned done)
{
    std::ostringstream script;
    script << std::hex << "break w 0x" << done << ", (reg(0x" << done << ") == 1)\nbreak c 100000\nrun\ndump\nquit\n";
    write("run.stc", script.str());
    int st;
    std::string out = run("gpsim -i -S disable -p p" + chip + " -I " + dir + "/run.stc main.hex", &st);
    std::map<unsigned, unsigned> ram;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 8 || line[4] != ':')
            continue;
        unsigned base = std::stoul(line.substr(0, 4), nullptr, 16);
        std::istringstream bytes(line.substr(5));
        std::string b;
        for (unsigned i = 0; i < 16 && (bytes >> b) && b.size() == 2; i++)
            if (b != "--")
                ram[base + i] = std::stoul(b, nullptr, 16);
    }
    EXPECT_EQ(ram[done], 1u) << "the program did not finish:\n" << out;
    return ram;
}

class Chain : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/zeph_chainXXXXXX";
        dir = mkdtemp(tmpl);
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
    int st;
    std::string out = run(std::string(ZEPH_BUILD_DIR "/bin/zeph") + " --chip=16F877A --output=-mcof main.as", &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_NE(out.find("Memory Summary:"), std::string::npos) << out;
    std::ifstream sym(dir + "/main.sym");
    std::map<std::string, unsigned> syms;
    std::string name, value;
    while (sym >> name >> value && name[0] != '%') {
        syms[name] = std::stoul(value, nullptr, 16);
        std::getline(sym, value);
    }
    ASSERT_TRUE(syms.count("_count") && syms.count("_flag")) << out;
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
    int st;
    std::string out = run(std::string(ZEPH_BUILD_DIR "/bin/zeph") + " --chip=12F508 --output=-mcof main.as", &st);
    ASSERT_EQ(st, 0) << out;
    std::ifstream sym(dir + "/main.sym");
    std::map<std::string, unsigned> syms;
    std::string name, value;
    while (sym >> name >> value && name[0] != '%') {
        syms[name] = std::stoul(value, nullptr, 16);
        std::getline(sym, value);
    }
    ASSERT_TRUE(syms.count("_count")) << out;
    auto ram = simulate("12f508", 0x1F);
    EXPECT_EQ(ram[syms["_count"]], 0x42u);
}
