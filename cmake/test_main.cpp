// The main of every test program. ctest starts each test as its own process,
// many at once, all in the same working directory; tests that write scratch
// files under fixed names would then overwrite each other's. So each process
// works in a fresh directory of its own, removed when the tests end. The
// folders a test makes with tool_tempdir go when it passes; a failed test's
// are kept and named.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

class tempdir_cleaner : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo &test) override
    {
        for (const std::string &dir : tool_tempdirs_end(test.result()->Failed()))
            std::printf("%s.%s failed: its files are kept in %s\n", test.test_suite_name(), test.name(), dir.c_str());
    }
};

}  // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new tempdir_cleaner);
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/zeph-test-XXXXXX";
    if (!mkdtemp(tmpl.data()) || chdir(tmpl.c_str()) != 0) {
        std::perror("test working directory");
        return 2;
    }
    int status = RUN_ALL_TESTS();
    if (chdir("/") == 0) {
        std::error_code ignored;
        std::filesystem::remove_all(tmpl, ignored);
    }
    return status;
}
