// Exit hook and message capture for the driver's unit tests.
#include "support.h"

std::vector<std::string> captured_lines;

void tool_exit(int status) { throw fatal_exit{status}; }

static void capture(const char *line) { captured_lines.push_back(line); }

void messages_for_test()
{
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
