// Test harness of the utilities: runs a built program of the installation
// tree in a scratch folder, with given standard input, and collects its exit
// status, standard output and standard error. It uses the host's process
// calls directly, never the library under test.
#pragma once

#include <string>
#include <vector>

struct tool_run {
    int status;       // exit status; -1 when the program did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// A fresh, empty folder for one test, named after the test.
std::string scratch_dir();
// Runs build/bin/<program> with the arguments in folder dir.
tool_run run_tool(const std::string &dir, const char *program, const std::vector<std::string> &args,
                  const std::string &input = "");
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);
// True when err holds the numbered message n, as "(n) ".
bool has_message(const tool_run &r, int n);
