// Helpers of the wren tests: a scratch directory per test, running the built
// program there, and reading its output and message numbers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct wren_result {
    int status;      // exit status of wren
    std::string out; // standard output
    std::string err; // standard error
};

// A fresh directory for one test, removed with the object.
struct scratch_dir {
    std::string path;
    scratch_dir();
    ~scratch_dir();
    // Writes a file below the directory (parent directories made).
    void write(const std::string &name, const std::string &text) const;
    std::string read(const std::string &name) const;
    std::string at(const std::string &name) const { return path + "/" + name; }
};

// Runs wren in dir with the argument text (shell words); env is put in front
// of the command (e.g. "VRK_ERR_FORMAT=%n").
wren_result wren_run(const scratch_dir &dir, const std::string &args, const std::string &env = "");

// Runs wren on one source text (file t.c) and returns the result.
wren_result wren_text(const std::string &source, const std::string &args = "");

// Message numbers of a run made with numbered formats (wren_text_numbers).
std::vector<int> wren_numbers(const std::string &err);

// What a run on one source text (t.c) gives: its tokens (wren_tokens) and the
// numbers of its messages in order. It runs with -E1, formats that print only
// the number, and -W-9 so that every warning shows.
struct wren_outcome {
    int status;
    std::string tokens;
    std::vector<int> numbers;
};
wren_outcome wren_outcome_of(const std::string &source, const std::string &args = "");

// The message numbers of wren_outcome_of.
std::vector<int> wren_text_numbers(const std::string &source, const std::string &args = "");

// The text without line markers and empty lines, white space runs squeezed
// to one blank, each line trimmed: the token stream, line by line.
std::string wren_tokens(const std::string &text);

// The path of the built program.
std::string wren_program();
