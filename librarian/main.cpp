// rook, the librarian.
//
//   rook r library files...     add files as modules, replacing modules of
//                               the same name (the library is made if missing)
//   rook d library modules...   delete modules
//   rook o library modules...   put the listed modules first, in that order
//   rook x library [modules...] extract modules (all when none are named)
//   rook t library              list the modules and their symbols
//
// A library whose name ends in ".lpp" holds intermediate code, any other
// holds object modules.
#include "rook.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>

void tool_exit(int) {}

static int rook_find(const std::vector<rook_module> &mods, const std::string &name)
{
    for (size_t i = 0; i < mods.size(); i++)
        if (mods[i].entry.name == name)
            return static_cast<int>(i);
    return -1;
}

static bool rook_replace(const char *lib, char **files, int nfiles)
{
    std::vector<rook_module> mods;
    if (os_file_exists(lib) && !rook_read_library(lib, mods))
        return false;
    bool ok = true;
    std::vector<std::string> given;
    for (int i = 0; i < nfiles; i++) {
        rook_module m;
        bool read = rook_kind_of(lib) == ROOK_INTERMEDIATE ? rook_intermediate_module(files[i], &m)
                                                           : rook_object_module(files[i], &m);
        if (!read) {
            ok = false;
            continue;
        }
        // Modules are named by the file's base name: two files of one name
        // (from two folders) would leave only the last in the library.
        if (std::find(given.begin(), given.end(), m.entry.name) != given.end()) {
            msg_report(1489, m.entry.name.c_str());
            ok = false;
            continue;
        }
        given.push_back(m.entry.name);
        int at = rook_find(mods, m.entry.name);
        if (at >= 0)
            mods[at] = std::move(m);
        else
            mods.push_back(std::move(m));
    }
    return ok && rook_write_library(lib, mods);
}

// Looks up every named module; reports those the library lacks.
static bool rook_named(const std::vector<rook_module> &mods, const char *lib, char **names, int n,
                       std::vector<int> &found)
{
    bool ok = true;
    for (int i = 0; i < n; i++) {
        int at = rook_find(mods, names[i]);
        if (at < 0) {
            msg_report(1484, names[i], lib);
            ok = false;
        } else {
            found.push_back(at);
        }
    }
    return ok;
}

static bool rook_delete(const char *lib, char **names, int n)
{
    std::vector<rook_module> mods, kept;
    std::vector<int> found;
    if (!rook_read_library(lib, mods) || !rook_named(mods, lib, names, n, found))
        return false;
    for (size_t i = 0; i < mods.size(); i++)
        if (std::find(found.begin(), found.end(), static_cast<int>(i)) == found.end())
            kept.push_back(std::move(mods[i]));
    return rook_write_library(lib, kept);
}

static bool rook_order(const char *lib, char **names, int n)
{
    std::vector<rook_module> mods, ordered;
    std::vector<int> found;
    if (!rook_read_library(lib, mods) || !rook_named(mods, lib, names, n, found))
        return false;
    std::vector<bool> taken(mods.size());
    for (int at : found)
        if (!taken[at]) {
            taken[at] = true;
            ordered.push_back(mods[at]);
        }
    for (size_t i = 0; i < mods.size(); i++)
        if (!taken[i])
            ordered.push_back(mods[i]);
    return rook_write_library(lib, ordered);
}

static bool rook_extract(const char *lib, char **names, int n)
{
    std::vector<rook_module> mods;
    std::vector<int> found;
    if (!rook_read_library(lib, mods) || !rook_named(mods, lib, names, n, found))
        return false;
    if (n == 0)
        for (size_t i = 0; i < mods.size(); i++)
            found.push_back(static_cast<int>(i));
    bool ok = true;
    for (int at : found) {
        std::vector<uint8_t> body = mods[at].body;
        if (rook_kind_of(lib) == ROOK_INTERMEDIATE)
            rook_scramble(body);
        const char *name = mods[at].entry.name.c_str();
        // Modules are stored under plain file names; one that names a folder
        // (or nothing) would be written outside the current folder, and one
        // that names the library would replace it.
        if (!*name || strpbrk(name, "/\\") || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
            msg_report(1482, lib, ("module name \"" + mods[at].entry.name + "\" is not a file name").c_str());
            ok = false;
            continue;
        }
        if (os_same_file(name, lib)) {
            errno = EEXIST;
            msg_report(1486, name);
            ok = false;
            continue;
        }
        FILE *f = fopen(name, "wb");
        if (!f || fwrite(body.data(), 1, body.size(), f) != body.size()) {
            msg_report(1486, name);
            ok = false;
        }
        if (f && fclose(f) != 0 && ok) {
            msg_report(1486, name);
            ok = false;
        }
    }
    return ok;
}

static bool rook_table(const char *lib)
{
    std::vector<rook_module> mods;
    if (!rook_read_library(lib, mods))
        return false;
    for (const rook_module &m : mods) {
        printf("%s\t%u\n", m.entry.name.c_str(), static_cast<unsigned>(m.entry.length));
        for (const lib_symbol &s : m.entry.symbols)
            printf("\t%s %s\n", s.flag == 0 ? "D" : "U", s.name.c_str());
    }
    return true;
}

int main(int argc, char **argv)
{
    msg_set_tool_name("librarian");
    char **args = argv;
    if (argc == 1) {
        args = getargs(nullptr, msg_tool_name());
        argc = getargs_count;
    } else if (argc == 2 && argv[1][0] == '@') {
        FILE *f = fopen(argv[1] + 1, "rb");
        if (!f)
            msg_report(1481, "option", argv[1] + 1);
        std::string text, line;
        while (os_read_line(f, line))
            text += line + " ";
        fclose(f);
        args = getargs(text.data(), msg_tool_name());
        argc = getargs_count;
    }
    // The driver puts the common options, the warning level among them, in
    // front of the command.
    std::vector<char *> words;
    for (int i = 1; i < argc; i++) {
        if (msg_std_option(args[i]))
            continue;
        if (strncmp(args[i], "-W", 2) == 0)
            msg_set_warning_level(atoi(args[i] + 2));
        else
            words.push_back(args[i]);
    }
    if (words.size() < 2)
        msg_report(1480);
    const char *cmd = words[0];
    const char *lib = words[1];
    char **rest = words.data() + 2;
    int n = static_cast<int>(words.size() - 2);
    bool ok;
    if (strcmp(cmd, "r") == 0)
        ok = rook_replace(lib, rest, n);
    else if (strcmp(cmd, "d") == 0)
        ok = rook_delete(lib, rest, n);
    else if (strcmp(cmd, "o") == 0)
        ok = rook_order(lib, rest, n);
    else if (strcmp(cmd, "x") == 0)
        ok = rook_extract(lib, rest, n);
    else if (strcmp(cmd, "t") == 0)
        ok = rook_table(lib);
    else {
        msg_report(1488, cmd);
        ok = false;
    }
    return ok ? msg_exit_status() : 1;
}
