// The fixture of the in-process tests: a fresh variable store and manifest,
// a registry file of the test's own, and fatal errors turned into
// exceptions whose text the tests read.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

#include "setup.h"
#include "tool_run.h"

struct setup_fatal_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline void setup_throw_fatal(const char *text) { throw setup_fatal_error(text); }

// The fatal text that fn ends with, or "" when it returns.
inline std::string fatal_text(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const setup_fatal_error &e) {
        return e.what();
    }
    return "";
}

class SetupState : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        dir = tool_tempdir("setup-");
        setenv("VRK_REGISTRY", (dir + "/registry").c_str(), 1);
        vars_reset_for_tests();
        manifest_reset_for_tests();
        setup_set_fatal_hook(setup_throw_fatal);
    }
};
