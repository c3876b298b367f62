// Running egret in a folder of its own: input files written from texts,
// the exit status and everything it printed captured, outputs read back.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <sstream>
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

// Line records "line address ..." below a source file's name in a symbol file.
inline std::set<std::pair<unsigned, unsigned long>> sym_lines(const std::string &text, const std::string &file)
{
    std::set<std::pair<unsigned, unsigned long>> lines;
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string first, second;
        fields >> first >> second;
        if (second.empty())
            current = first;
        else if (current == file && isdigit((unsigned char)first[0]))
            lines.insert({(unsigned)std::stoul(first), std::stoul(second, nullptr, 16)});
    }
    return lines;
}
