// A program placed in <tree>/bin finds <tree>/dat/en_msgs.txt by itself.
#include "common.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

void tool_exit(int) {}

static std::string run(const std::string &cmd, int *status) { return tool_run(".", cmd, status); }

class Probe : public testing::Test {
protected:
    std::string tree;
    void SetUp() override
    {
        tree = tool_tempdir("zeph_tree");
        std::string cmd = "mkdir -p " + tree + "/bin " + tree + "/dat && cp " ZEPH_BUILD_DIR "/tests/probe " + tree +
                          "/bin/ && cp " ZEPH_BUILD_DIR "/dat/en_msgs.txt " + tree + "/dat/";
        ASSERT_EQ(system(cmd.c_str()), 0);
        setenv("VRK_REGISTRY", (tree + "/registry").c_str(), 1);
        unsetenv("VRK_ERR_FORMAT");
        unsetenv("VRK_ERR_FILE");
    }
};

TEST_F(Probe, ReportsFromTheInstalledMessageFile)
{
    int status;
    std::string longarg(300, 'x');
    std::string out = run("echo " + longarg + " | " + tree + "/bin/probe", &status);
    EXPECT_EQ(out, "(917) argument too long\narg " + std::string(255, 'x') + "\n");
    EXPECT_EQ(status, 1);
    setenv("VRK_ERR_FORMAT", "%a says %n: %s", 1);
    out = run(tree + "/bin/probe -E1 '#917'", &status);
    EXPECT_EQ(out, "probe says 917: argument too long\n");
    unsetenv("VRK_ERR_FORMAT");
    out = run(tree + "/bin/probe --ver", &status);
    EXPECT_EQ(out, "\nProduct:\tZEPH\nEdition:\tPRO\nComponent:\tprobe\nVersion:\t9.60PL5\n"
                   "Build date:\tJan 14 2009\nRelease:\t\nBuild number:\t3884\n");
    EXPECT_EQ(status, 0);
}

TEST_F(Probe, SharedOptions)
{
    std::ofstream(tree + "/mine.txt") << "917\tE\tmy own text\n5\t2\ta warning\n";
    int status;
    std::string out = run(tree + "/bin/probe --edf=" + tree + "/mine.txt '#917' --msgdisable=917:off '#917' '#5'"
                          " --disl=5 '#5'", &status);
    EXPECT_EQ(out, "(917) my own text\n(5) a warning (warning)\n");
    out = run(tree + "/bin/probe --edf=/no/such.txt", &status);
    EXPECT_EQ(out, "Could not open error description file /no/such.txt\n");
    EXPECT_EQ(status, 0);
    // A directory is no description file either; the installed texts serve.
    out = run(tree + "/bin/probe --edf=" + tree + " '#917'", &status);
    EXPECT_EQ(out, "Could not open error description file " + tree + "\n(917) argument too long\n");
    std::ofstream(tree + "/many.txt") << "917\tE\tx\n";
    out = run(tree + "/bin/probe --edf=" + tree + "/many.txt --emax=1 '#917' '#917' '#917'", &status);
    EXPECT_EQ(out, "(917) x\n(917) x\ntoo many errors (2)\n");
    EXPECT_EQ(status, 1);
}

// The programs keep their memory to the end by design: a sanitizer build,
// whichever compiler made it, reports no leak and changes no exit status.
TEST_F(Probe, MemoryKeptToTheEndIsNoLeak)
{
    int status;
    std::string out = run(tree + "/bin/probe -drop -drop", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.find("LeakSanitizer"), std::string::npos) << out;
}
