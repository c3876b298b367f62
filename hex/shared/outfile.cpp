// Output files shared by finch and siskin.
#include "outfile.h"

#include <filesystem>

#include "common.h"

std::string outfile_temp_name(const std::string &name)
{
    std::string base = name + ".tmp";
    std::string temp = base;
    for (unsigned i = 1; os_file_exists(temp.c_str()); i++)
        temp = base + std::to_string(i);
    return temp;
}

bool outfile_is_special(const std::string &name)
{
    std::error_code error;
    return std::filesystem::exists(name, error) && !std::filesystem::is_regular_file(name, error);
}
