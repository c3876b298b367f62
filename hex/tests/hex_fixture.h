// Test fixture for the HEX tools: a scratch folder per test, running a
// program of the build tree there, and the srecord tools as the independent
// judge of HEX content. Images are written in a small notation,
// "100: 01 02 03; 2000: AA" (hexadecimal addresses and bytes), which srec_cat
// turns into Intel HEX, so neither the fixtures nor the expectations pass
// through the code under test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct run_result {
    int status;        // exit status of the program
    std::string out;   // standard output
    std::string err;   // standard error (the messages)
};

class HexTest : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char &c : name)
            if (!isalnum((unsigned char)c))
                c = '_';
        dir = fs::temp_directory_path() / ("zeph_hex_" + name + "_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }

    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir);
    }

    std::string path(const std::string &name) const { return (dir / name).string(); }

    void write(const std::string &name, const std::string &text) const
    {
        std::ofstream(path(name), std::ios::binary) << text;
    }

    std::string read(const std::string &name) const
    {
        std::ifstream f(path(name), std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    bool exists(const std::string &name) const { return fs::exists(path(name)); }

    // Runs a shell command in the scratch folder; returns its exit status.
    int shell(const std::string &command) const
    {
        std::string line = "cd '" + dir.string() + "' && " + command;
        int rc = std::system(line.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : 128;
    }

    run_result run(const std::string &program, const std::string &args) const
    {
        std::string exe = std::string(ZEPH_BUILD_DIR) + "/bin/" + program;
        int status = shell("'" + exe + "' " + args + " >run.out 2>run.err");
        return {status, read("run.out"), read("run.err")};
    }

    // "addr: bytes; addr: bytes" as srec_cat generator arguments.
    static std::string generators(const std::string &spec)
    {
        std::string args;
        std::stringstream chunks(spec);
        std::string chunk;
        while (std::getline(chunks, chunk, ';')) {
            size_t colon = chunk.find(':');
            if (colon == std::string::npos)
                continue;
            unsigned long addr = std::stoul(chunk.substr(0, colon), nullptr, 16);
            std::stringstream bytes(chunk.substr(colon + 1));
            std::string b, data;
            unsigned long n = 0;
            while (bytes >> b) {
                data += " 0x" + b;
                n++;
            }
            args += " -generate " + std::to_string(addr) + " " + std::to_string(addr + n) +
                    " -repeat-data" + data;
        }
        return args;
    }

    // Writes an Intel HEX file (INHX32) holding the image.
    void make_hex(const std::string &name, const std::string &spec) const
    {
        ASSERT_EQ(shell("srec_cat" + generators(spec) + " -o " + name + " -intel -disable=exec-start-address"), 0)
            << spec;
    }

    // True when the HEX file holds exactly the image (srec_cmp).
    bool same_image(const std::string &name, const std::string &spec) const
    {
        if (shell("srec_cat" + generators(spec) + " -o expected.hex -intel 2>/dev/null") != 0)
            return false;
        return shell("srec_cmp " + name + " -intel expected.hex -intel >/dev/null 2>&1") == 0;
    }

    // True when srecord reads the file as valid Intel HEX.
    bool valid_hex(const std::string &name) const
    {
        return shell("srec_info " + name + " -intel >/dev/null 2>&1") == 0;
    }

    // The bytes srecord reads from a HEX file in [from, to), as "AA BB ..".
    std::string bytes_at(const std::string &name, unsigned long from, unsigned long to) const
    {
        std::string cmd = "srec_cat " + name + " -intel -crop " + std::to_string(from) + " " +
                          std::to_string(to) + " -offset -" + std::to_string(from) +
                          " -o bytes.bin -binary";
        if (shell(cmd) != 0)
            return "?";
        std::string bin = read("bytes.bin");
        std::string out;
        char buf[4];
        for (unsigned char c : bin) {
            snprintf(buf, sizeof buf, "%02X", c);
            out += (out.empty() ? "" : " ") + std::string(buf);
        }
        return out;
    }
};

// "(N)" as the message system prints a numbered error or warning.
inline std::string msg_tag(unsigned n)
{
    return "(" + std::to_string(n) + ")";
}
