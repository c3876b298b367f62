// A tiny program of the toolchain's shape, for end-to-end tests of the
// library: it reads its arguments (command line, @file or standard input),
// takes the shared options, reports message N for every argument "#N",
// drops a block of memory for "-drop" (the programs free nothing before they
// end), and exits with the message system's status.
#include "common.h"

#include <cstdlib>
#include <cstring>

void tool_exit(int) {}

int main(int argc, char **argv)
{
    msg_set_tool_name("probe");
    char **args = argv;
    if (argc == 1) {
        args = getargs(nullptr, msg_tool_name());
        argc = getargs_count;
    }
    for (int i = 1; i < argc; i++) {
        if (msg_std_option(args[i]))
            continue;
        if (strcmp(args[i], "-E1") == 0)
            msg_set_format_mode(1);
        else if (strcmp(args[i], "-drop") == 0)
            *static_cast<void *volatile *>(xmalloc(sizeof(void *))) = xmalloc(64);
        else if (args[i][0] == '#')
            msg_report(static_cast<unsigned>(atoi(args[i] + 1)));
        else
            printf("arg %s\n", args[i]);
    }
    return msg_exit_status();
}
