// shrike [-name1,name2,...]... [object ...]: makes the named global symbols
// local in object files. Leading arguments that start with "-" are the
// message options or lists of names; the first other argument starts the
// object files ("l.obj" when none is named). Without any argument the
// arguments are read from standard input.

#include <cstring>

#include "../../common/common.h"
#include "shrike.h"

// True once the run is ending, so that a report made while cleaning up does
// not clean up again.
static bool exiting;

void tool_exit(int status)
{
    (void)status;
    if (exiting)
        return;
    exiting = true;
    hide_discard_temporary();
}

// Appends the names of one "-a,b,c" argument; empty names are skipped.
static void shrike_add_names(const char *list)
{
    char *copy = xstrdup(list);
    for (char *name = strtok(copy, ","); name; name = strtok(nullptr, ","))
        hide_names.push_back(name);
}

int main(int argc, char **argv)
{
    msg_set_tool_name("shrike");
    if (argc < 2) {
        argv = getargs(nullptr, "shrike");
        argc = getargs_count;
    }

    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++)
        if (!(argv[i][1] == '-' && msg_std_option(argv[i])))
            shrike_add_names(argv[i] + 1);

    if (i == argc)
        hide_object_file("l.obj");
    for (; i < argc; i++)
        hide_object_file(argv[i]);
    return msg_exit_status();
}
