// Test fixture of the code generator: a fresh model per test, reported
// message numbers collected, fatal messages turned into an exception, and
// intermediate-code texts read through a temporary file as a real input is.
#pragma once

#include "kestrel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct fatal_exit {
    int status;
};

struct kestrel_fixture : ::testing::Test {
    static std::vector<std::string> lines;   // message lines reported
    void SetUp() override;
    void TearDown() override;
    // Reads one input; the version line is added unless the text has one.
    static void read(const std::string &text);
    // Reads one input and returns the fatal message's status, or -1.
    static int read_fatal(const std::string &text);
    // Number of reported messages with that number.
    static int count(unsigned n);
    static cg_symbol *sym(const char *name) { return sym_find(name); }
};

// A tree node made by hand for walker and equality tests.
tree_node *leaf_const(long v);
tree_node *binary(int op, tree_node *l, tree_node *r);
