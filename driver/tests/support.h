// Test support shared by the driver's unit tests: the exit hook throws, so a
// fatal message ends the call under test instead of the test program, and
// every message line is captured.
#pragma once

#include "zeph.h"

#include <string>
#include <vector>

struct fatal_exit {
    int status;
};

extern std::vector<std::string> captured_lines;

// Message system reset, English messages of the build tree, capture on.
void messages_for_test();
// True when some captured line carries message number n, as "(n)".
bool reported(unsigned n);
