// Whole runs of the zeph program. Each test builds a fixture installation
// (bin/ with zeph and stand-in tools, dat/ with the messages and a small
// chip database) and runs zeph in a work directory below it. The stand-ins
// are shell scripts: each appends its name, its arguments one per line and
// the error format it inherited to a log, writes the file the next phase
// reads, and exits with the status the test asks of it.
#include "common.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

void tool_exit(int status) { exit(status); }

namespace {

const char *const chip_db = R"(# Chip database of the tests.
[16F877A]
ARCH=PIC14
PROCID=877A
ROMSIZE=2000
BANKS=4
RAMBANK=20-7F,A0-EF
RAMBANK=110-16F,190-1EF
COMMON=70-7F
EEPROMSIZE=100
DATABANK=2
CONFIG=2007-2007
IDLOC=2000-2003

[12F508]
ARCH=PIC12
ROMSIZE=200
BANKS=1
RAMBANK=7-1F
)";

const char *const standin = R"(#!/bin/sh
tool=$(basename "$0")
{
  echo "== $tool"
  for a in "$@"; do echo "$a"; done
  echo "ERRFMT=${VRK_ERR_FORMAT:-}"
} >> "$ZEPH_STANDIN_LOG"
for a in "$@"; do last="$a"; done
case "$tool" in
  linnet|wren|finch) : > "$last" ;;
  plover) for a in "$@"; do case "$a" in *.plover) : > "$a" ;; esac; done ;;
  kestrel) for a in "$@"; do case "$a" in
    -A?*) printf '%s' "${STANDIN_KESTREL_TEXT:-}" > "${a#-A}" ;;
    -D?*) : > "${a#-D}" ;;
  esac; done ;;
  osprey) for a in "$@"; do case "$a" in -o?*) : > "${a#-o}" ;; esac; done ;;
  heron) out=l.obj; for a in "$@"; do case "$a" in
    -M?*) [ -z "${STANDIN_MAP:-}" ] || cp "$STANDIN_MAP" "${a#-M}" ;;
    -h+?*) : > "${a#-h+}" ;;
    -o?*) out="${a#-o}" ;;
  esac; done; : > "$out" ;;
  siskin) for a in "$@"; do case "$a" in -logfile=?*) : > "${a#-logfile=}" ;; esac; done ;;
esac
if [ "$tool" = "$STANDIN_INTERRUPT_TOOL" ]; then kill -INT "$PPID"; fi
if [ "$tool" = "$STANDIN_FAIL_TOOL" ]; then exit "$STANDIN_FAIL_CODE"; fi
exit 0
)";

const char *const tools[] = {"linnet", "wren", "plover", "kestrel", "osprey", "heron",
                             "finch", "siskin", "egret", "rook", "tanager"};

std::string slurp(const fs::path &p)
{
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class DriverRun : public ::testing::Test {
protected:
    fs::path root, work;
    fs::path program; // the zeph that run() starts
    std::string out; // standard output and error of the last run

    void SetUp() override
    {
        char tmpl[] = "/tmp/zeph_driver_XXXXXX";
        root = fs::canonical(mkdtemp(tmpl));
        for (const char *d : {"bin", "dat", "include", "lib", "tmp", "work"})
            fs::create_directories(root / d);
        work = root / "work";
        program = root / "bin" / "zeph";
        fs::copy_file(fs::path(ZEPH_BUILD_DIR) / "bin" / "zeph", program);
        fs::copy_file(fs::path(ZEPH_BUILD_DIR) / "dat" / "en_msgs.txt", root / "dat" / "en_msgs.txt");
        std::ofstream(root / "dat" / "zeph.ini") << chip_db;
        for (const char *t : tools) {
            std::ofstream(root / "bin" / t) << standin;
            fs::permissions(root / "bin" / t, fs::perms::owner_all);
        }
        std::ofstream(work / "main.c") << "int main(void) { return 0; }\n";
    }

    void TearDown() override { fs::remove_all(root); }

    // Runs zeph in the work directory; returns its exit status.
    int run(const std::vector<std::string> &args, const std::string &env = "", const std::string &input = "")
    {
        std::string cmd = "cd " + quote(work.string()) + " && env -u ZEPH_OPTIONS -u VRK_ERR_FORMAT " +
                          "-u VRK_WARN_FORMAT -u VRK_MSG_FORMAT VRK_REGISTRY=" + quote((root / "registry").string()) +
                          " TEMP=" + quote((root / "tmp").string()) +
                          " ZEPH_STANDIN_LOG=" + quote((root / "log").string()) + " " + env + " " +
                          quote(program.string());
        for (const std::string &a : args)
            cmd += " " + quote(a);
        cmd += input.empty() ? " </dev/null" : " <" + quote(input);
        cmd += " >" + quote((root / "out").string()) + " 2>&1";
        int status = std::system(cmd.c_str());
        out = slurp(root / "out");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The log of the stand-ins: one entry per run, "tool arg arg ...".
    std::vector<std::string> runs()
    {
        std::vector<std::string> r;
        std::istringstream in(slurp(root / "log"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("== ", 0) == 0)
                r.push_back(line.substr(3));
            else if (!r.empty() && line.rfind("ERRFMT=", 0) != 0)
                r.back() += " " + normalise(line);
        }
        return r;
    }

    // Paths of the fixture written as <root>, temporary names as <tmp>.
    std::string normalise(std::string s)
    {
        std::string tmp = (root / "tmp").string() + "/zeph";
        for (size_t p; (p = s.find(tmp)) != std::string::npos;)
            s.replace(p, tmp.size() + 6, "<tmp>");
        std::string r = root.string();
        for (size_t p; (p = s.find(r)) != std::string::npos;)
            s.replace(p, r.size(), "<root>");
        return s;
    }

    // The echoed command lines of the output, normalised.
    std::vector<std::string> echoes()
    {
        std::vector<std::string> r;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line))
            for (const char *t : tools)
                if (line.rfind(std::string(t) + " ", 0) == 0)
                    r.push_back(normalise(line));
        return r;
    }

    bool has_message(unsigned n) { return out.find("(" + std::to_string(n) + ")") != std::string::npos; }
};

const std::string edf = "--edf=<root>/dat/en_msgs.txt";
const std::string wren_fixed = "-DVORMAK_C -D__ZEPH__ -D__ZEPHPRO__ -SP1,1,1,1,1,1,1,1 -I<root>/include";
const std::string wren_version = "-D_WYVERN_CODE_ -D_VRK_VER_MAJOR_=9 -D_VRK_VER_MINOR_=60 -D_VRK_VER_PATCH_=5 "
                                 "-D_VRK_EDITION_=2";
const std::string wren_877a = "-D_16F877A -D_MPC_ -D_PIC14 -S1,2,2,3,4,3,3 -D_COMMON_=1 -D_BANKCOUNT_=4 "
                              "-D_BANKBITS_=2 -D_GPRBITS_=2 -D__DATABANK=2 -D_ROMSIZE=8192 -D_EEPROMSIZE=256 "
                              "-DEEPROM_SIZE=256 -D_FLASH_ERASE_SIZE=0 -D_FLASH_WRITE_SIZE=0";
const std::string plover_fixed = "-v -u -fp -Gstrings,const -M -B -J -Y -r -QP,bank0 -QX,bank1 -QY,bank2 "
                                 "-QZ,bank3 -QF,far -QN,near -QI,interrupt -QS,persistent -QCu,const";
const std::string kestrel_877a = "-PZEPHP16F877A,2,8192,4,1,7,0,1 -PMIRROR=0,0,0,0 -PCOMMON=070h-07Fh "
                                 "-PRAM=020h-06Fh,0A0h-0EFh,0110h-016Fh,0190h-01EFh -PBANK0=020h-07Fh "
                                 "-PBANK1=0A0h-0EFh -PBANK2=0110h-016Fh -PBANK3=0190h-01EFh";
const std::string osprey_877a = "-C<root>/dat/zeph.ini -ver=V9.60PL5 --chip=16F877A -R2000 -I -no_bankop";

TEST_F(DriverRun, CompileOnlyEchoesEveryCommandLine)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--noexec", "-V", "main.c"})) << out;
    std::vector<std::string> want = {
        "linnet " + edf + " main.c main.lst",
        "wren " + edf + " " + wren_fixed + " " + wren_version + " " + wren_877a + " main.c <tmp>",
        "plover " + edf + " " + plover_fixed + " <tmp> main.plover <tmp>",
        "kestrel " + edf + " -Og9 -w9 " + kestrel_877a + " -fp -A<tmp> main.plover <root>/lib/vkpic--c.lpp",
        "kestrel " + edf + " -Og9 -Dmain.sdb " + kestrel_877a + " -A<tmp> main.plover <root>/lib/vkpic--c.lpp",
        "osprey " + edf + " -o " + osprey_877a + " -omain.obj <tmp>",
    };
    EXPECT_EQ(want, echoes()) << out;
    EXPECT_FALSE(fs::exists(root / "log"));
}

TEST_F(DriverRun, BaselineChipArguments)
{
    EXPECT_EQ(0, run({"-12F508", "-C", "--noexec", "-V", "-Oout", "main.c"})) << out;
    std::vector<std::string> e = echoes();
    ASSERT_EQ(6u, e.size()) << out;
    EXPECT_NE(std::string::npos, e[1].find(" -D_12F508 -D_MPC_ -D_PIC12 -S1,2,2,3,4,3,3 -D_COMMON_=0 "
                                           "-D_BANKCOUNT_=1 -D_BANKBITS_=0 -D_GPRBITS_=0 -D_ROMSIZE=512 "))
        << e[1];
    EXPECT_NE(std::string::npos, e[2].find(" -QCu,const -QTi,fastcall -QWi,control -QCi,const <tmp>")) << e[2];
    EXPECT_NE(std::string::npos, e[4].find(" -Og9 -Dout.sdb -PZEPHP12F508,1,512,1,1,1,0,2 -PMIRROR=0 "
                                           "-PCOMMON=01Ch-01Fh -PRAM=07h-01Bh -PBANK0=07h-01Bh -A<tmp> "))
        << e[4];
    EXPECT_NE(std::string::npos, e[5].find(" --chip=12F508 -R200 -I -no_bankop -oout.obj <tmp>")) << e[5];
    // The old chip syntax is obsolete: said so, and it still works.
    EXPECT_TRUE(has_message(1207) || out.find("now obsolete") != std::string::npos) << out;
    EXPECT_NE(std::string::npos, out.find("use --help option")) << out;
}

TEST_F(DriverRun, OptionsReachTheirTools)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--noexec", "-V", "-DMSG=a b", "--double=32", "--runtime=-stackwarn",
                      "--opt=asm,3", "--bankqual=reject", "--warn=3", "--msgdisable=1000", "main.c"}))
        << out;
    std::vector<std::string> e = echoes();
    ASSERT_EQ(6u, e.size()) << out;
    const std::string common = "-W3 " + edf + " --msgdisable=1000 ";
    // The user's definitions come before the installation's include directory.
    EXPECT_EQ(0u, e[1].find("wren " + common + "-DVORMAK_C -D__ZEPH__ -D__ZEPHPRO__ -SP1,1,1,1,1,1,1,1 "
                                                "\"-DMSG=a b\" -I<root>/include -D_WYVERN_CODE_"))
        << e[1];
    EXPECT_NE(std::string::npos, e[1].find(" -D_PIC14 -S1,2,2,3,4,3,4 ")) << e[1];
    EXPECT_EQ(std::string::npos, e[2].find("bank0")) << e[2];
    EXPECT_NE(std::string::npos, e[2].find(" -QF,far ")) << e[2];
    EXPECT_NE(std::string::npos, e[4].find(" -Og3 -Dmain.sdb -MIEEE_DBL -PZEPHP16F877A,2,8192,4,8,7,0,0 ")) << e[4];
    EXPECT_NE(std::string::npos, e[4].find(" <root>/lib/vkpic-dc.lpp")) << e[4];
}

// The preprocessor's #if sizeof(float) and sizeof(double) follow --float
// and --double (float.h picks its limits by them).
TEST_F(DriverRun, FloatSizesReachThePreprocessor)
{
    const struct {
        std::vector<std::string> options;
        const char *sizes;
    } cases[] = {
        {{}, " -S1,2,2,3,4,3,3 "},
        {{"--float=32"}, " -S1,2,2,3,4,4,3 "},
        {{"--double=32"}, " -S1,2,2,3,4,3,4 "},
        {{"--float=32", "--double=32"}, " -S1,2,2,3,4,4,4 "},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"--chip=16F877A", "-C", "--noexec", "-V"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("main.c");
        ASSERT_EQ(0, run(args)) << out;
        std::vector<std::string> e = echoes();
        ASSERT_GE(e.size(), 2u) << out;
        EXPECT_NE(std::string::npos, e[1].find(c.sizes)) << e[1];
    }
}

// Options that change the command lines: the number of programs echoed and
// pieces of their lines (index into the echoes).
TEST_F(DriverRun, OptionEffectsOnCommandLines)
{
    struct Piece {
        size_t index;
        std::string text;
    };
    struct Case {
        std::vector<std::string> args;
        size_t count;
        std::vector<Piece> pieces;
    } cases[] = {
        {{"-C", "--ide=mplab", "main.c"}, 6,
         {{1, " -SP1,1,1,1,1,1,1,1 -I<root>/include -E1 -D_WYVERN_CODE_"}, {1, " <root>/work/main.c <tmp>"},
          {2, " -v -E1 -u -fp "}, {4, " -Og9 -E1 -Dmain.sdb "}, {5, " -E1 -o -C<root>"}}},
        {{"-C", "--ide=tarnel", "main.c"}, 6,
         {{1, " -E1 -LM-main.d -D_WYVERN_CODE_"}, {2, " -fp --fipath=<root>/work -Gstrings,const "}}},
        {{"-C", "--scandep", "main.c"}, 2, {{1, " -I<root>/include -L -D_WYVERN_CODE_"}, {1, " main.c main.dep"}}},
        {{"--pre", "main.c"}, 2, {{1, " main.c main.pre"}}},
        {{"-C", "--objdir=obj", "main.c"}, 6,
         {{0, " main.c obj/main.lst"}, {2, " <tmp> obj/main.plover <tmp>"}, {3, " -A<tmp> obj/main.plover "},
          {5, " -omain.obj <tmp>"}}},
        {{"-C", "--proto", "--cr", "--strict", "-N40", "main.c"}, 6,
         {{1, " -D_VRK_EDITION_=2 -N40 -D_16F877A "}, {2, " -v -N40 -ctanager.tmp -strict -pmain.pro -u -fp "}}},
        {{"-S", "main.c"}, 6, {{4, " -A<tmp> main.plover "}, {5, " -o -a -C<root>"}, {5, " -omain.as <tmp>"}}},
        {{"-S", "--opt=9", "main.c"}, 5, {{4, " -Amain.as main.plover "}}},
        {{"-C", "--asmlist", "main.c"}, 5, {{0, "wren "}, {1, " -v -S -u -fp "}, {4, " -lmain.lst --chip="}}},
        {{"-C", "-X", "--debugger=icd2", "main.c"}, 6,
         {{1, " -D__MPLAB_ICD2__=1 -D_WYVERN_CODE_"}, {1, " -D_PIC14 -S1,2,2,3,4,3,3 -DMPLAB_ICD=2 "},
          {5, " -x -o -C<root>"}, {5, " -R2000 -icd -I "}}},
        {{"-C", "--pass1", "main.c"}, 3, {{2, "plover "}}},
        {{"-C", "--runtime=-clib", "main.c"}, 5, {{3, " -Og9 -Dmain.sdb "}, {3, " -A<tmp> main.plover"}}},
        {{"-C", "-P", "x.as"}, 2, {{0, " -D_VRK_EDITION_=2 -N255 -D_16F877A "}, {0, " x.as <tmp>"},
                                  {1, "osprey " + edf + " -v -C<root>"}, {1, " -ox.obj <tmp>"}}},
        {{"-C", "--output=lpp", "main.c", "lib.plover"}, 4, {{3, "rook " + edf + " r main.lpp main.plover lib.plover"}}},
    };
    fs::create_directories(work / "obj");
    for (const Case &c : cases) {
        std::vector<std::string> args = {"--chip=16F877A", "--noexec", "-V"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(0, run(args)) << c.args[1] << "\n" << out;
        std::vector<std::string> e = echoes();
        ASSERT_EQ(c.count, e.size()) << c.args[1] << "\n" << out;
        for (const Piece &p : c.pieces)
            EXPECT_NE(std::string::npos, e[p.index].find(p.text)) << c.args[1] << ": " << p.text << "\n" << e[p.index];
    }
}

TEST_F(DriverRun, ErrorFileReceivesTheOutput)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--noexec", "-V", "-Eerrs.txt", "main.c"}));
    std::string errs = slurp(work / "errs.txt");
    EXPECT_NE(std::string::npos, errs.find("\nwren ")) << errs;
    EXPECT_EQ(std::string::npos, out.find("wren ")) << out;
}

TEST_F(DriverRun, SetupRecordsTheInstallation)
{
    EXPECT_EQ(0, run({"--setup=" + root.string()}));
    EXPECT_NE(std::string::npos, out.find("setup succeeded")) << out;
    EXPECT_EQ(0, run({"--setup"}));
    EXPECT_NE(std::string::npos, out.find(root.string() + "\n")) << out;
    EXPECT_EQ(8, run({"--setup=/no/such/dir"}));
    EXPECT_NE(std::string::npos, out.find("Directory \"/no/such/dir\" does not exist.")) << out;
    EXPECT_NE(std::string::npos, out.find("Setup failed.")) << out;
}

TEST_F(DriverRun, ToolsRunWithTheirArguments)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "-DMSG=a b", "main.c"})) << out;
    std::vector<std::string> r = runs();
    ASSERT_EQ(6u, r.size()) << out;
    const char *order[] = {"linnet ", "wren ", "plover ", "kestrel ", "kestrel ", "osprey "};
    for (size_t i = 0; i < r.size(); i++)
        EXPECT_EQ(0u, r[i].find(order[i])) << r[i];
    // One argument with its blank, unquoted, as the tool sees it.
    EXPECT_NE(std::string::npos, slurp(root / "log").find("\n-DMSG=a b\n"));
    EXPECT_TRUE(fs::exists(work / "main.obj"));
    EXPECT_TRUE(fs::exists(work / "main.plover"));
}

TEST_F(DriverRun, TemporariesRemovedUnlessKept)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "-V", "main.c"})) << out;
    EXPECT_TRUE(fs::is_empty(root / "tmp"));
    EXPECT_NE(std::string::npos, normalise(out).find("\ndel <tmp>\n")) << out;
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--nodel", "main.c"})) << out;
    EXPECT_FALSE(fs::is_empty(root / "tmp"));
}

TEST_F(DriverRun, InterruptEndsTheBuildCleanly)
{
    EXPECT_EQ(1, run({"--chip=16F877A", "-C", "main.c"}, "STANDIN_INTERRUPT_TOOL=wren"));
    EXPECT_EQ(2u, runs().size()) << out;
    EXPECT_TRUE(fs::is_empty(root / "tmp"));
}

TEST_F(DriverRun, NoArgumentsAtATerminal)
{
    if (std::system("command -v script >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no script command to give zeph a terminal";
    std::string inner = "VRK_REGISTRY=" + (root / "registry").string() + " " + (root / "bin" / "zeph").string();
    std::string cmd = "script -qec " + quote(inner) + " /dev/null >" + quote((root / "out").string()) + " 2>&1";
    int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    out = slurp(root / "out");
    EXPECT_NE(std::string::npos, out.find("(880) invalid number of parameters. Use \"ZEPH --HELP\" for help")) << out;
}

TEST_F(DriverRun, OptionsFromEnvironmentAndOptionFile)
{
    std::ofstream(work / ".ZEPH_OPTIONS") << "-DFROM_FILE\r\n-V\n";
    EXPECT_EQ(0, run({"main.c"}, "ZEPH_OPTIONS='--chip=16F877A -C --noexec'")) << out;
    std::vector<std::string> e = echoes();
    ASSERT_EQ(6u, e.size()) << out;
    EXPECT_NE(std::string::npos, e[1].find(" -SP1,1,1,1,1,1,1,1 -DFROM_FILE -I<root>/include ")) << e[1];
}

TEST_F(DriverRun, FailingToolsFailTheBuild)
{
    EXPECT_NE(0, run({"--chip=16F877A", "-C", "main.c"}, "STANDIN_FAIL_TOOL=wren STANDIN_FAIL_CODE=3"));
    EXPECT_NE(std::string::npos, out.find("(908) exit status = 3")) << out;
    std::vector<std::string> r = runs();
    ASSERT_EQ(2u, r.size()) << out; // the parser does not run after a failed preprocessor
    EXPECT_FALSE(fs::exists(work / "main.obj"));

    // Under an IDE format the tool's own messages are the report.
    fs::remove(root / "log");
    EXPECT_NE(0, run({"--chip=16F877A", "-C", "--ide=mplab", "main.c"}, "STANDIN_FAIL_TOOL=wren STANDIN_FAIL_CODE=3"));
    EXPECT_EQ(std::string::npos, out.find("908")) << out;
    EXPECT_NE(std::string::npos, slurp(root / "log").find("ERRFMT=Error[%n] %f %l : %s\n"));

    fs::remove(root / "bin" / "plover");
    EXPECT_NE(0, run({"--chip=16F877A", "-C", "main.c"}));
    EXPECT_NE(std::string::npos, out.find("(900) exec failed: ")) << out;
    EXPECT_NE(std::string::npos, out.find("plover")) << out;
}

TEST_F(DriverRun, ConfigurableOptionFiles)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--getoption=heron,get.txt", "main.c"})) << out;
    EXPECT_FALSE(fs::exists(root / "log"));

    std::ofstream(work / "set.txt") << "-DEXTRA\r\n";
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--noexec", "-V", "--setoption=wren,set.txt", "main.c"})) << out;
    std::vector<std::string> e = echoes();
    ASSERT_EQ(6u, e.size()) << out;
    EXPECT_NE(std::string::npos, e[1].find(" main.c <tmp> -DEXTRA")) << e[1];

    struct Case {
        std::vector<std::string> args;
        unsigned message;
    } cases[] = {
        {{"--chip=16F877A", "--setoption=tanager,x", "main.c"}, 905},
        {{"--chip=16F877A", "--setoption=nosuch,x", "main.c"}, 905},
        {{"--chip=16F877A", "--getoption=heron", "main.c"}, 904},
        {{"--chip=16F877A", "-C", "--noexec", "--getoption=heron,a", "--setoption=heron,b", "main.c"}, 895},
    };
    for (const Case &c : cases) {
        EXPECT_NE(0, run(c.args)) << c.args[1];
        EXPECT_TRUE(has_message(c.message)) << c.args[1] << "\n" << out;
    }
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--noexec", "--getoption=tanager,x", "main.c"})) << out;
    // No parser ran, so there is no prototype file to rewrite.
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--proto", "--setoption=plover,off", "main.c"})) << out;
    EXPECT_FALSE(has_message(141)) << out;
    // No assembler ran, so the object of an assembly source is not looked for.
    std::ofstream(work / "x.as") << "\tnop\n";
    EXPECT_EQ(0, run({"--chip=16F877A", "--getoption=heron,get.txt", "main.c", "x.as"})) << out;
    EXPECT_FALSE(has_message(141)) << out;
}

TEST_F(DriverRun, CommandLineMistakes)
{
    struct Case {
        std::vector<std::string> args;
        unsigned message;
    } cases[] = {
        {{"--chip=16F877A", "-C", "--noexec", "--bogus", "main.c"}, 168},
        {{"--chip=16F877A", "-C", "x.txt"}, 894},
        {{"-C", "main.c"}, 902},
        {{"--chip=NOSUCH", "-C", "main.c"}, 922},
        {{"--chip=16F877A", "-C"}, 939},
        {{"--chip=16F877A", "--chip=16F877A", "-C", "--bogus=1", "--runtime=nonsense", "main.c"}, 923},
        {{"--chip=16F877A", "-C", "--objdir=/no/such/dir", "main.c"}, 1180},
        {{"--chip=16F877A", "--checksum=zz", "-C", "--noexec", "main.c"}, 1241},
        {{"--chip=16F877A", "-C", "--noexec", "-E/no/such/dir/e.txt", "main.c"}, 141},
        {{"--chip=16F877A", "-C", "--noexec", "--msgdisable", "main.c"}, 906},
        {{"--chip=16F877A", "-C", "--noexec", "--rom=nosuch", "main.c"}, 907},
        {{"--chip=16F877A", "-C", "--noexec", "--ram=default;x", "main.c"}, 906},
        {{"--chip=16F877A", "--memmap=x.map"}, 141},
        {{"--chip=16F877A", "--memmap=."}, 141},
        {{"--chip=16F877A", "--checksum=0-7FF@800,size=3", "-C", "--noexec", "main.c"}, 1236},
        {{"--chip=16F877A", "-C", "--noexec", "-O./", "main.c"}, 673},
        // files written by options never replace an input
        {{"--chip=16F877A", "-C", "-Emain.c", "main.c"}, 1470},
        {{"--chip=16F877A", "-C", "-E+./main.c", "main.c"}, 1470},
        {{"--chip=16F877A", "--getoption=heron,main.c", "main.c"}, 1470},
        {{"--chip=16F877A", "-Mmain.c", "main.c"}, 1470},
        {{"--chip=16F877A", "-Gmain.c", "main.c"}, 1470},
        {{"--chip=16F877A", "--cr=main.c", "main.c"}, 1470},
        // nor does an output named after the output file
        {{"--chip=16F877A", "main.c", "main.hex"}, 1470},
        {{"--chip=16F877A", "-Oboot", "main.c", "boot.hex"}, 1470},
        {{"--chip=16F877A", "-C", "main.c", "main.obj"}, 1470},
        {{"--chip=16F877A", "-S", "main.c", "main.as"}, 1470},
        {{"--chip=16F877A", "-Gmain.obj", "main.obj"}, 1470},
        {{"--chip=16F877A", "-C", "main.c", "main.plover"}, 1470},
        {{"--chip=16F877A", "-C", "x.as", "x.obj"}, 1470},
        // nor may two products of the build share a name
        {{"--chip=16F877A", "-C", "main.c", "sub/main.c"}, 1489},
        {{"--chip=16F877A", "main.c", "main.as"}, 1489},
    };
    for (const Case &c : cases) {
        EXPECT_NE(0, run(c.args)) << c.args[0] << " " << c.args.back();
        EXPECT_TRUE(has_message(c.message)) << c.message << "\n" << out;
    }
    EXPECT_EQ("int main(void) { return 0; }\n", slurp(work / "main.c"));
    EXPECT_FALSE(fs::exists(root / "log"));
    // -S writes no object: one given is no product's name.
    EXPECT_EQ(0, run({"--chip=16F877A", "-S", "--noexec", "main.c", "main.obj"})) << out;
    std::vector<std::string> many = {"--chip=16F877A", "-C", "--noexec", "main.c"};
    for (int i = 0; i < 25; i++)
        many.push_back("--bogus" + std::to_string(i));
    EXPECT_NE(0, run(many));
    EXPECT_NE(std::string::npos, out.find("too many errors")) << out;
}

// A name or argument the driver cannot hand on whole is refused, never cut:
// given as it is, or once the driver has made a longer argument of it.
TEST_F(DriverRun, OverLongNamesAreRefused)
{
    const std::string a5000(5000, 'a'), b4088(4088, 'b');
    struct Case {
        std::vector<std::string> args;
        size_t tools_run; // command lines echoed before the refusal
    } cases[] = {
        {{a5000 + ".c", "main.c"}, 0},
        {{"main.c", "-D" + a5000}, 0},
        {{"main.c", "-O" + a5000}, 0},
        // b4088.c fits; its intermediate file b4088.plover does not.
        {{b4088 + ".c"}, 2},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"--chip=16F877A", "-C", "--noexec", "-V"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(1, run(args)) << out.substr(0, 300);
        EXPECT_TRUE(has_message(1474)) << out.substr(0, 300);
        EXPECT_NE(std::string::npos, out.find("is too long to pass on whole")) << out.substr(0, 300);
        EXPECT_EQ(std::string::npos, out.find("buffer overflow")) << out.substr(0, 300);
        EXPECT_EQ(c.tools_run, echoes().size()) << out.substr(0, 300);
    }
    EXPECT_FALSE(fs::exists(root / "log"));
    // Just short enough: every argument made of it reaches the program whole
    // (which then finds the name too long for the file system).
    const std::string name(4080, 'c');
    run({"--chip=16F877A", "-C", "-O" + name, "main.c"});
    EXPECT_NE(std::string::npos, slurp(root / "log").find("\n-D" + name + ".sdb\n"));
}

// Messages 902 and 922 end the run through their fatal kind; with their lines
// lost from a damaged message file the run must still stop, not go on with
// no chip.
TEST_F(DriverRun, NoChipStopsWhateverTheMessageFileSays)
{
    std::istringstream in(slurp(root / "dat" / "en_msgs.txt"));
    std::ofstream damaged(root / "dat" / "en_msgs.txt");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("902\t", 0) != 0 && line.rfind("922\t", 0) != 0)
            damaged << line << "\n";
    damaged.close();
    for (const std::vector<std::string> &args : {std::vector<std::string>{"-C", "main.c"},
                                                std::vector<std::string>{"--chip=NOSUCH", "-C", "main.c"},
                                                std::vector<std::string>{"--memmap=x.map"}}) {
        EXPECT_EQ(1, run(args)) << args[0] << "\n" << out;
        EXPECT_TRUE(has_message(902)) << out;
        EXPECT_EQ(std::string::npos, out.find("runtime error")) << out;
    }
    EXPECT_TRUE(runs().empty());
}

TEST_F(DriverRun, HelpVersionAndChipList)
{
    EXPECT_EQ(0, run({"--help"}));
    EXPECT_NE(std::string::npos, out.find("Compiler Options:")) << out;
    EXPECT_NE(std::string::npos, out.find(" --chip=argument" + std::string(15, ' ') + " Select processor\n")) << out;
    EXPECT_NE(std::string::npos, out.find(" !    --chipinfo")) << out;

    EXPECT_EQ(0, run({"--opt=help"}));
    EXPECT_NE(std::string::npos, out.find("--opt: Optimization options")) << out;
    EXPECT_NE(std::string::npos, out.find(" *  asm                  Optimize asm code generated from C\n")) << out;
    EXPECT_NE(std::string::npos, out.find(" *  9                    level 9\n")) << out;

    EXPECT_EQ(0, run({"--output=help"}));
    EXPECT_NE(std::string::npos, out.find(" *  mcof;mcoff;mpcoff    Microchip PIC COFF\n")) << out;

    EXPECT_EQ(0, run({"--ver"}));
    EXPECT_NE(std::string::npos, out.find("Vormak C Compiler for PIC10/12/16 MCUs  V9.60PL5")) << out;

    EXPECT_EQ(0, run({"--chipinfo"}));
    EXPECT_NE(std::string::npos, out.find("16F877A:2000:4")) << out;
    EXPECT_NE(std::string::npos, out.find("12F508:200:1")) << out;

    // Arguments from standard input when there are none on the command line.
    std::ofstream(root / "args.txt") << "--ver\n";
    EXPECT_EQ(0, run({}, "", (root / "args.txt").string()));
    EXPECT_NE(std::string::npos, out.find("Enter ZEPH --HELP for help")) << out;
}

TEST_F(DriverRun, BannerUnlessQuiet)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--noexec", "main.c", "other.c"}));
    EXPECT_EQ(0u, out.find("Vormak C Compiler")) << out;
    EXPECT_NE(std::string::npos, out.find("\nmain.c\n")) << out;
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--noexec", "-Q", "main.c", "other.c"}));
    EXPECT_EQ("", out);
}

TEST_F(DriverRun, StageTimesAndEcho)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "--noexec", "--time", "--echo", "main.c"})) << out;
    EXPECT_NE(std::string::npos, out.find("Command line:\n")) << out;
    size_t times = out.find("Compilation stage times:");
    ASSERT_NE(std::string::npos, times) << out;
    size_t pre = out.find("Preprocessor", times), parse = out.find("Parser", times),
           gen = out.find("Code generator", times), as = out.find("Assembler", times), total = out.find("TOTAL", times);
    EXPECT_LT(pre, parse);
    EXPECT_LT(parse, gen);
    EXPECT_LT(gen, as);
    EXPECT_LT(as, total);
    EXPECT_NE(std::string::npos, out.find(" secs", total));
}

// A map in the linker's layout: two classes of code, one of data.
const char *const link_map = "Linker command line:\n\n"
                             "TOTAL           Name          Link     Load   Length  Space\n"
                             "        CLASS   CODE           \n"
                             "                end_init              12       12        2     0\n"
                             "                maintext             7E6      7E6       1A     0\n"
                             "\n"
                             "        CLASS   BANK0          \n"
                             "                rbss_0                20       20        4     1\n"
                             "\n"
                             "\n"
                             "SEGMENTS        Name           Load    Length   Top     Selector    Space Class\n";

TEST_F(DriverRun, LinkEndsWithTheMemorySummary)
{
    std::ofstream(root / "fixture.map") << link_map;
    EXPECT_EQ(0, run({"--chip=16F877A", "main.c"}, "STANDIN_MAP=" + quote((root / "fixture.map").string()))) << out;
    // Code: 2 + 0x1A words of 0x2000; data: 4 bytes of the four banks'
    // 0x60 + 0x50 + 0x60 + 0x60 = 0x170.
    EXPECT_NE(std::string::npos,
              out.find("Memory Summary:\n"
                       "    Program space        used    1Ch (    28) of  2000h words   (  0.3%)\n"
                       "    Data space           used     4h (     4) of   170h bytes   (  1.1%)\n"
                       "    EEPROM space         used     0h (     0) of   100h bytes   (  0.0%)\n"
                       "    Configuration bits   used     0h (     0) of     1h word    (  0.0%)\n"
                       "    ID Location space    used     0h (     0) of     4h bytes   (  0.0%)\n"))
        << out;
    // Without a map from the linker the summary cannot be made.
    EXPECT_NE(0, run({"--chip=16F877A", "main.c"}));
    EXPECT_TRUE(has_message(141)) << out;
    // Under --noexec, or with the linker switched off, no map was written:
    // that is no error.
    EXPECT_EQ(0, run({"--chip=16F877A", "--noexec", "main.c"})) << out;
    EXPECT_FALSE(has_message(141)) << out;
    EXPECT_EQ(0, run({"--chip=16F877A", "--setoption=heron,off", "main.c"})) << out;
    EXPECT_FALSE(has_message(141)) << out;
}

// The linker's configurable arguments: the class ranges and the placement
// of the final link, one per line.
TEST_F(DriverRun, LinkerPlacementThroughGetOption)
{
    EXPECT_EQ(0, run({"--chip=16F877A", "--getoption=heron,link.txt", "main.c"})) << out;
    std::string got = slurp(work / "link.txt");
    EXPECT_EQ(0u, got.find("-ACODE=")) << got;
    for (const char *line :
         {"-preset_vec=00h,intentry,intcode,intret,init,init23,end_init,clrtext,maintext,pstrings\n",
          "-ptemp=-COMMON\n-pcommon=-COMMON\n-prbss_0=BANK0,rbit_0=BANK0,rdata_0=BANK0,idata_0=CODE\n-pnvram=BANK0\n",
          "-pidata=CODE\n-pfnautoc=COMMON\n-pfnauto0=BANK0\n", "-ACONFIG=02007h-02007h\n-pconfig=CONFIG\n-DCONFIG=2\n",
          "-AEEDATA=00h-0FFh/02100h\n-peeprom_data=EEDATA\n-DEEDATA=2\n", "-DCODE=2\n"})
        EXPECT_NE(std::string::npos, got.find(line)) << line << "\n" << got;
}

// Objects and libraries among the inputs: what they leave undefined, their
// function sizes and calls reach the code generator; the library's modules
// are put in order by the librarian.
TEST_F(DriverRun, ObjectScanFeedsTheCodeGenerator)
{
    // RELOC: a complex expression referring to _bar; FNINFO: _f has sizes 2
    // and 1 and calls _bar; then END.
    const unsigned char ext[] = {12, 0, 3, 0, 0, 0x30, 19, 0, 32, '_', 'b', 'a', 'r', 0, 0,
                                 21, 0, 12, 5, '_', 'f', 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, '_', 'f', 0, '_', 'b', 'a', 'r', 0,
                                 2, 0, 6, 0, 0};
    std::ofstream(work / "ext.obj", std::ios::binary).write(reinterpret_cast<const char *>(ext), sizeof ext);
    // A library: m1 refers to _x, m2 defines it (SYM: value, global flags,
    // psect "", name).
    const unsigned char m1[] = {10, 0, 3, 0, 0, 0x30, 19, 0, 32, '_', 'x', 0, 0, 2, 0, 6, 0, 0};
    const unsigned char m2[] = {10, 0, 4, 0, 0, 0, 0, 0x10, 0, 0, '_', 'x', 0, 2, 0, 6, 0, 0};
    std::string lib;
    lib += std::string("\x1E\x00\x02\x00", 4);
    lib += std::string("\0\0\0\0\x12\0\0\0\0\0\0\0m1\0", 15) + std::string("\0\0\0\0\x12\0\0\0\0\0\0\0m2\0", 15);
    lib += std::string(reinterpret_cast<const char *>(m1), sizeof m1) + std::string(reinterpret_cast<const char *>(m2), sizeof m2);
    std::ofstream(work / "mods.lib", std::ios::binary) << lib;
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "main.c", "mods.lib", "ext.obj"})) << out;
    std::vector<std::string> r = runs();
    bool librarian = false, codegen = false;
    for (const std::string &line : r) {
        librarian |= line.rfind("rook ", 0) == 0 && line.find(" o mods.lib m1 m2") != std::string::npos;
        if (line.rfind("kestrel ", 0) == 0 && line.find(" -Dmain.sdb ") != std::string::npos)
            codegen = line.find(" -B_bar -N_f:2:1 -Q_f:_bar main.plover ") != std::string::npos;
    }
    EXPECT_TRUE(librarian) << slurp(root / "log");
    EXPECT_TRUE(codegen) << slurp(root / "log");
}

// The calibration value of --runtime=oscval reaches the kept start-up file
// of a program made of assembly sources alone (no code generator runs); a
// value that is no byte is refused.
TEST_F(DriverRun, CalibrationValueReachesTheStartupFile)
{
    std::ofstream(work / "x.as") << "\tnop\n";
    EXPECT_EQ(0, run({"--chip=12F508", "--noexec", "--runtime=+oscval:34", "x.as"})) << out;
    EXPECT_NE(std::string::npos, slurp(work / "startup.as").find("\tmovlw 034h\t;user defined oscillator")) << out;
    for (const char *bad : {"--runtime=+oscval:zz", "--runtime=+oscval:134", "--runtime=+oscval:3g"}) {
        EXPECT_EQ(1, run({"--chip=12F508", "--noexec", bad, "x.as"})) << bad;
        EXPECT_TRUE(has_message(928)) << bad << "\n" << out;
    }
}

// A USB description is compiled to C, which the preprocessor then reads;
// a mistake in it fails the build.
TEST_F(DriverRun, UsbDescriptionCompiledBeforeThePreprocessor)
{
    std::ofstream(work / "dev.usb") << "DEVICE dev\nVID=0x4D8\nENDDEVICE\n";
    EXPECT_EQ(0, run({"--chip=16F877A", "-C", "dev.usb"})) << out;
    std::vector<std::string> r = runs();
    ASSERT_LE(2u, r.size()) << out;
    EXPECT_EQ(0u, r[0].rfind("wren ", 0)) << r[0];
    EXPECT_NE(std::string::npos, r[0].find(" <tmp> <tmp>")) << r[0];
    std::ofstream(work / "dev.usb") << "DEVICE dev\nVENDOR=0x4D8\nENDDEVICE\n";
    EXPECT_NE(0, run({"--chip=16F877A", "-C", "dev.usb"}));
    EXPECT_NE(std::string::npos, out.find("dev.usb: 2: (1235) unknown keyword VENDOR")) << out;
}

// A copy of the program with no installation directory to find (no bin
// directory above it and nothing recorded, or an empty record) says so by
// number and stops: it neither crashes on the chip database it cannot name
// nor runs programs from anywhere else.
TEST_F(DriverRun, NoInstallationDirectoryIsReportedNotACrash)
{
    fs::create_directories(root / "loose");
    fs::copy_file(program, root / "loose" / "zeph");
    struct Case {
        const char *what;
        fs::path program;
        bool empty_record;
    } cases[] = {
        {"copy outside a bin directory", root / "loose" / "zeph", false},
        {"empty installation record", root / "bin" / "zeph", true},
    };
    for (const Case &c : cases) {
        fs::remove(root / "registry");
        if (c.empty_record) {
            setenv("VRK_REGISTRY", (root / "registry").c_str(), 1);
            install_dir_set("");
            unsetenv("VRK_REGISTRY");
        }
        program = c.program;
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"--chip=16F877A", "main.c"}, std::vector<std::string>{"--chipinfo"}}) {
            EXPECT_EQ(1, run(args)) << c.what << " " << args[0] << "\n" << out;
            EXPECT_TRUE(has_message(1228)) << c.what << "\n" << out;
            EXPECT_EQ(std::string::npos, out.find("runtime error")) << c.what << "\n" << out;
            EXPECT_EQ(std::string::npos, out.find("Sanitizer")) << c.what << "\n" << out;
        }
    }
    EXPECT_FALSE(fs::exists(root / "log"));
}

// The files a run makes only for itself (the final link's output, the
// start-up files, the preprocessor's output, the unrequested map, the C
// library's printf compiled for the program) are its own, in the temporary
// folder: TEMP, else TMP, else TMPDIR (the first set and not empty), else
// /tmp. Nothing lands in the current directory when the products have
// directories of their own, and the products keep their names.
TEST_F(DriverRun, IntermediatesLiveInTheTemporaryFolder)
{
    std::ofstream(root / "fixture.map") << link_map;
    std::ofstream(root / "lib" / "doprnt.c") << "int printf(const char *f, ...) { return 0; }\n";
    fs::create_directories(work / "out");
    fs::create_directories(work / "obj");
    fs::create_directories(root / "tmpdir");
    // The code generator's first pass finds printf with one feature.
    const std::string env = "STANDIN_MAP=" + quote((root / "fixture.map").string()) +
                            " STANDIN_KESTREL_TEXT='_printf 1' TEMP= TMP= TMPDIR=" + quote((root / "tmpdir").string());
    const std::vector<std::string> args = {"--chip=16F877A", "--outdir=out", "--objdir=obj", "--output=-mcof",
                                           "main.c"};
    std::vector<std::string> kept = args;
    kept.insert(kept.begin(), {"--nodel", "-V"});
    EXPECT_EQ(0, run(kept, env)) << out;
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(work))
        names.insert(e.path().filename().string());
    EXPECT_EQ((std::set<std::string>{"main.c", "obj", "out"}), names) << out;
    for (const char *product : {"out/main.hex", "out/main.hxl", "out/main.sym", "out/main.sdb", "obj/main.lst",
                                "obj/main.plover", "obj/startup.as", "obj/startup.obj"})
        EXPECT_TRUE(fs::exists(work / product)) << product << "\n" << out;
    // Kept by --nodel: the run's folder with the final link's output, which
    // the HEX converter read from there.
    std::string folder;
    for (const auto &e : fs::directory_iterator(root / "tmpdir"))
        if (fs::exists(e.path() / "l.obj"))
            folder = e.path().string();
    ASSERT_FALSE(folder.empty()) << out;
    EXPECT_NE(std::string::npos, out.find("finch --edf=" + root.string() + "/dat/en_msgs.txt -i -16,2 " + folder +
                                          "/l.obj out/main.hex\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find(" " + folder + "/doprnt.plover ")) << out;
    EXPECT_FALSE(fs::exists(work / "obj" / "doprnt.plover")) << out;

    // A current directory the run may not write to is no obstacle (the test
    // cannot show it when permissions do not bind it).
    if (geteuid() != 0) {
        fs::permissions(work, fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_EQ(0, run(args, env)) << out;
        fs::permissions(work, fs::perms::owner_write, fs::perm_options::add);
    }
}

// A run that fails removes what its programs were run to write, so that make
// does not take a HEX file beside a failed build for up to date (a failure of
// the debug-file step comes after the HEX file is written); the same run
// that succeeds leaves them, the kept start-up file among them. The debug
// file is asked for by name: a build with the default outputs leaves out
// the one egret cannot write yet.
TEST_F(DriverRun, FailedRunLeavesNoOutputs)
{
    std::ofstream(root / "fixture.map") << link_map;
    const std::string map = "STANDIN_MAP=" + quote((root / "fixture.map").string());
    const char *const outputs[] = {"main.hex", "main.hxl", "main.sym", "main.sdb", "main.lst", "main.plover",
                                   "startup.as"};
    EXPECT_EQ(0, run({"--chip=16F877A", "--output=-mcof", "main.c"}, map)) << out;
    for (const char *f : outputs)
        EXPECT_TRUE(fs::exists(work / f)) << f << "\n" << out;
    for (const char *tool : {"egret", "siskin", "finch", "heron", "kestrel"}) {
        for (const char *f : outputs)
            fs::remove(work / f);
        EXPECT_EQ(1, run({"--chip=16F877A", "--output=+mcof", "main.c"},
                         map + " STANDIN_FAIL_CODE=2 STANDIN_FAIL_TOOL=" + tool))
            << tool << "\n" << out;
        for (const char *f : outputs)
            EXPECT_FALSE(fs::exists(work / f)) << tool << " failed, " << f << " left\n" << out;
        EXPECT_TRUE(fs::exists(work / "main.c"));
    }
    // A HEX file no program of the failed run wrote is not the run's to remove.
    std::ofstream(work / "main.hex") << ":00000001FF\n";
    EXPECT_EQ(1, run({"--chip=16F877A", "--output=+mcof", "--setoption=finch,off", "--setoption=siskin,off",
                      "main.c"},
                     map + " STANDIN_FAIL_TOOL=egret"))
        << out;
    EXPECT_TRUE(fs::exists(work / "main.hex")) << out;
}

} // namespace
