// Reading and writing whole libraries.
//
// A library is rewritten as a whole: the new file is written beside the old
// one and renamed over it only when complete, so a failed run never leaves a
// damaged library behind.
#include "rook.h"

#include <cstring>
#include <strings.h>

rook_kind rook_kind_of(const char *library)
{
    const char *dot = strrchr(os_path_basename(library), '.');
    return dot && strcasecmp(dot, ".lpp") == 0 ? ROOK_INTERMEDIATE : ROOK_OBJECT;
}

static const char *rook_lib_problem(lib_status s)
{
    switch (s) {
    case LIB_SHORT_HEADER: return "file shorter than a library header";
    case LIB_SHORT_DIRECTORY: return "directory runs past the end of the file";
    case LIB_BAD_DIRECTORY: return "damaged directory";
    case LIB_BAD_MODULE: return "a module lies past the end of the file";
    case LIB_TOO_BIG: return "sizes beyond the library format";
    case LIB_IO_ERROR: return "read error";
    case LIB_OK: break;
    }
    return "";
}

bool rook_read_library(const char *path, std::vector<rook_module> &out)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        msg_report(1481, "library", path);
        return false;
    }
    lib_directory dir;
    lib_status s = lib_read_directory(f, &dir);
    if (s != LIB_OK) {
        msg_report(1482, path, rook_lib_problem(s));
        fclose(f);
        return false;
    }
    for (const lib_module &m : dir.modules) {
        rook_module rm;
        rm.entry = m;
        rm.body.resize(m.length);
        if (fseek(f, static_cast<long>(m.start), SEEK_SET) != 0 ||
            (m.length && fread(rm.body.data(), 1, m.length, f) != m.length)) {
            msg_report(1482, path, rook_lib_problem(LIB_BAD_MODULE));
            fclose(f);
            return false;
        }
        out.push_back(std::move(rm));
    }
    fclose(f);
    return true;
}

bool rook_write_library(const char *path, const std::vector<rook_module> &modules)
{
    std::string tmp = std::string(path) + ".rook-new";
    FILE *f = fopen(tmp.c_str(), "wb");
    if (!f) {
        msg_report(1486, path);
        return false;
    }
    std::vector<lib_module> entries;
    std::vector<std::vector<uint8_t>> bodies;
    for (const rook_module &m : modules) {
        entries.push_back(m.entry);
        bodies.push_back(m.body);
    }
    lib_status s = lib_write(f, entries, bodies);
    bool closed = fclose(f) == 0;
    if (s == LIB_TOO_BIG) {
        msg_report(1487, path);
    } else if (s != LIB_OK || !closed) {
        msg_report(1486, path);
    } else if (os_rename_file(tmp.c_str(), path) != 0) {
        msg_report(1486, path);
    } else {
        return true;
    }
    os_remove_file(tmp.c_str());
    return false;
}
