// zeph: the compiler driver. main runs the build sequence (build.cpp);
// tool_exit is the exit hook the message system calls after a fatal message
// or at the error limit, and the one way the driver ends.
#include "zeph.h"

void tool_exit(int status)
{
    fflush(stdout);
    exit(build_cleanup(status));
}

int main(int argc, char **argv)
{
    tool_exit(build_main(argc, argv));
}
