// Output files of the HEX tools: each is written under a temporary name
// beside its final one and renamed into place only after a clean run, except
// a device or pipe, which is written in place (a rename would replace the
// device itself with a plain file).
#pragma once

#include <string>

// A name beside `name` that no file has yet: name.tmp, name.tmp1, ...
std::string outfile_temp_name(const std::string &name);
// True when `name` exists and is not a plain file: it is written in place.
bool outfile_is_special(const std::string &name);
