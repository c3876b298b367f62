// Running egret in a folder of its own: input files written from texts,
// the exit status and everything it printed captured, outputs read back.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tool_run.h"

struct egret_result {
    int status;
    std::string out;   // standard output and standard error together
};

class EgretTest : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override { dir = tool_tempdir("egret"); }

    void write(const std::string &name, const std::string &text) const { tool_write(dir + "/" + name, text); }
    std::string read(const std::string &name) const { return tool_read(dir + "/" + name); }
    bool exists(const std::string &name) const { return std::filesystem::exists(dir + "/" + name); }

    egret_result shell(const std::string &cmd) const
    {
        egret_result r;
        r.out = tool_run(dir, cmd, &r.status);
        return r;
    }

    egret_result egret(const std::string &args) const
    {
        return shell(std::string(ZEPH_BUILD_DIR) + "/bin/egret " + args);
    }
};

// The tag a numbered message carries in the default formats.
inline std::string msg_tag(unsigned n) { return "(" + std::to_string(n) + ")"; }
