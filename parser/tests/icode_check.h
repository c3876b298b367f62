// The intermediate-code grammar checker for tests (see icode_check.cpp).
#pragma once

#include <string>

// True when text is intermediate code its reader accepts; else the first
// fault, with its line, in *error.
bool ic_check(const std::string &text, std::string *error);
