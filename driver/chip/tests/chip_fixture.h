// Helpers shared by the chip tests: small database files written to the
// test's temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>
#include <string>
#include <vector>

#include "chip.h"
#include "common.h"

// The tests run outside the installation, so its message file is named
// before any test reports.
struct chip_messages_env : ::testing::Environment {
    void SetUp() override { msg_open_file(ZEPH_BUILD_DIR "/dat/en_msgs.txt"); }
};
inline ::testing::Environment *const chip_messages = ::testing::AddGlobalTestEnvironment(new chip_messages_env);

// The files write_ini made, removed when the test program ends.
struct chip_test_files {
    std::vector<std::string> paths;
    ~chip_test_files()
    {
        for (const std::string &p : paths)
            remove(p.c_str());
    }
};

// Writes `text` to a fresh file and returns its path.
inline std::string write_ini(const std::string &text)
{
    static int serial;
    static chip_test_files made;
    std::string path = testing::TempDir() + "chip_test_" + std::to_string(getpid()) + "_" +
                       std::to_string(serial++) + ".ini";
    made.paths.push_back(path);
    FILE *f = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    return path;
}

// Looks a chip up in a database made of `text`, with a fresh memory model.
inline chip_record *lookup_in(const std::string &text, const char *name)
{
    memory_model_start();
    return read_chipinfo(write_ini(text).c_str(), name, nullptr, nullptr);
}

// The ranges of one list as "lo-hi lo-hi ..." in hexadecimal.
inline std::string ranges_text(const range_node *n)
{
    std::string s;
    for (; n; n = n->next)
        s += str_printf("%s%X-%X", s.empty() ? "" : " ", n->lo, n->hi);
    return s;
}

// A class's free ranges as a range spec, or "" when the class is absent.
inline std::string class_spec(const char *name)
{
    range_class *c = range_find_class(memory_spaces, name);
    if (!c)
        return "";
    char *text = range_format(c, "", name);
    std::string s = text;
    free(text);
    return s;
}

inline range_class *class_named(const char *name)
{
    return range_find_class(memory_spaces, name);
}
