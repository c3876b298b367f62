// Shared fixture of the link tests: a chip of the shipped database with its
// finished memory model, fresh options and an empty symbol table, and small
// helpers for argument lists and symbol files (whole files are read and
// written with tool_read and tool_write).
#pragma once

#include "support.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Loads `chip` from the shipped chip database and finishes its memory model
// with the default options; the symbol table is empty.
void link_fixture_chip(const char *chip, const char *database = ZEPH_BUILD_DIR "/dat/zeph.ini");
// Ends what link_fixture_chip started.
void link_fixture_end();
// The texts of an argument list, joined by one blank each; the list is freed.
std::string joined_args(arglist *a);
// A symbol file holding `text` read into a fresh table.
void load_symbols(const std::string &text);
