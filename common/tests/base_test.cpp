// The library without its message unit: a program (the installer) brings
// its own msg_report, and the library's own reports reach it.
#include "common.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

void tool_exit(int) {}

static std::vector<unsigned> reported;

int msg_report(unsigned n, ...)
{
    reported.push_back(n);
    return 1;
}

TEST(BaseLibrary, ReportsGoToTheProgramsOwnMessageUnit)
{
    std::string text = "ok " + std::string(300, 'x');
    char **argv = getargs(text.data(), "setup");
    EXPECT_EQ(getargs_count, 3);
    EXPECT_STREQ(argv[1], "ok");
    EXPECT_EQ(reported, std::vector<unsigned>{917});
}
