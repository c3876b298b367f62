// The few platform services the driver needs that the common library does
// not offer: joining standard error to another stream, and line buffering
// of the console streams for IDEs that read them as the build runs.
#include "zeph.h"

#include <unistd.h>

void sys_join_stderr(FILE *to)
{
    fflush(stderr);
    fflush(to);
    dup2(fileno(to), 2);
}

void sys_line_buffering()
{
    static char out_buf[512];
    static char err_buf[512];
    setvbuf(stdout, out_buf, _IOLBF, sizeof out_buf);
    setvbuf(stderr, err_buf, _IOLBF, sizeof err_buf);
}
