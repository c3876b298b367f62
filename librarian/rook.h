// rook, the librarian: object libraries (.lib) and intermediate-code
// libraries (.lpp) in the one library container of the toolchain.
#pragma once

#include "common.h"
#include "objfile.h"

#include <string>
#include <vector>

// One module as the librarian holds it: its directory entry and its body.
struct rook_module {
    lib_module entry;
    std::vector<uint8_t> body;
};

enum rook_kind { ROOK_OBJECT, ROOK_INTERMEDIATE };

// --- library.cpp: reading and writing whole libraries ----------------------
rook_kind rook_kind_of(const char *library);
// Reads every module of an existing library; false after a reported error.
bool rook_read_library(const char *path, std::vector<rook_module> &out);
// Writes the library through a temporary file beside it, renamed over it.
bool rook_write_library(const char *path, const std::vector<rook_module> &modules);

// --- module.cpp: turning input files into modules --------------------------
// Reads an object file; its symbol list holds the global names it defines
// (flag 0) and refers to (flag 1).
bool rook_object_module(const char *file, rook_module *out);
// Reads an intermediate-code file; the body is scrambled after its version
// line, the symbol list holds the external names it defines and uses.
bool rook_intermediate_module(const char *file, rook_module *out);
// Scrambles or unscrambles the bytes after the version line (the same
// operation both ways).
void rook_scramble(std::vector<uint8_t> &body);
// Name of a module made from a file: its base name.
std::string rook_module_name(const char *file);
