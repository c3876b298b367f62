// Exit hook and message capture for the driver's unit tests.
#include "support.h"

#include <gtest/gtest.h>

#include <unistd.h>

std::vector<std::string> captured_lines;

void tool_exit(int status) { throw fatal_exit{status}; }

static void capture(const char *line) { captured_lines.push_back(line); }

// The build tree is the installation the phases find their programs in,
// recorded in a registry of the test program's own (removed at its end, not
// at the end of a child it forks).
static void install_for_test()
{
    static const pid_t owner = getpid();
    static const std::string registry = testing::TempDir() + "driver_test_registry_" + std::to_string(owner);
    static const struct remover {
        ~remover()
        {
            if (getpid() == owner)
                remove(registry.c_str());
        }
    } at_end;
    setenv("VRK_REGISTRY", registry.c_str(), 1);
    install_dir_set(ZEPH_BUILD_DIR);
}

void messages_for_test()
{
    install_for_test();
    msg_reset_for_tests();
    msg_open_file(ZEPH_BUILD_DIR "/dat/en_msgs.txt");
    msg_set_output_hook(capture);
    msg_set_error_limit(100);
    captured_lines.clear();
    bs.banner_printed = true; // help must not join the test's streams
}

bool reported(unsigned n)
{
    std::string tag = "(" + std::to_string(n) + ")";
    for (const std::string &l : captured_lines)
        if (l.find(tag) != std::string::npos)
            return true;
    return false;
}
