// Installers built by the tests themselves (installer_bytes.h), and
// helpers to run them.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "installer_bytes.h"
#include "tool_run.h"

// Writes an installer as an executable file.
inline void write_program(const std::string &path, const std::string &bytes)
{
    tool_write(path, bytes);
    chmod(path.c_str(), 0755);
}

// Entries of a folder, names only, sorted.
inline std::vector<std::string> folder_entries(const std::string &dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
