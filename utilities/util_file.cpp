// Opening the utilities' input files (see util_file.h).

#include "util_file.h"

#include <cerrno>
#include <filesystem>

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

void util_remove_unfinished(const char *name)
{
    std::error_code error;
    if (std::filesystem::is_regular_file(name, error))
        os_remove_file(name);
}
