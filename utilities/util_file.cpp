// Opening the utilities' input files (see util_file.h).

#include "util_file.h"

#include <cerrno>

#include "../common/common.h"

FILE *util_open_input(const char *name)
{
    FILE *f = fopen(name, "rb");
    if (f && os_is_directory(name)) {
        fclose(f);
        f = nullptr;
        errno = EISDIR;
    }
    return f;
}
