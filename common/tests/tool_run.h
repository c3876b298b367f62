// Helpers that tests of several folders share: running an installed program
// and capturing what it prints, writing fixture files, a folder for one
// test's files, running a HEX file in gpsim and reading the symbol file a
// link wrote.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

// Runs a shell command in `dir`, both output streams captured together.
inline std::string tool_run(const std::string &dir, const std::string &cmd, int *status)
{
    std::string full = "cd '" + dir + "' && " + cmd + " 2>&1";
    FILE *p = popen(full.c_str(), "r");
    std::string out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    int rc = pclose(p);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline void tool_write(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string tool_read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The folders tool_tempdir made for the running test. Several threads of one
// test may make them at once.
struct tool_tempdirs {
    std::mutex lock;
    std::vector<std::string> paths;
};

inline tool_tempdirs &tool_tempdirs_made()
{
    static tool_tempdirs made;
    return made;
}

// A fresh directory for one test's files. The test main removes it when the
// test ends (see tool_tempdirs_end), so no test needs to.
inline std::string tool_tempdir(const char *prefix)
{
    std::string dir = std::string("/tmp/") + prefix + "XXXXXX";
    if (!mkdtemp(dir.data()))
        throw std::runtime_error("cannot make the folder " + dir);
    tool_tempdirs &made = tool_tempdirs_made();
    std::lock_guard<std::mutex> hold(made.lock);
    made.paths.push_back(dir);
    return dir;
}

// At the end of a test: removes the folders it made, or, when `keep` (the
// test failed), leaves them to be looked into and returns their names.
inline std::vector<std::string> tool_tempdirs_end(bool keep)
{
    tool_tempdirs &made = tool_tempdirs_made();
    std::lock_guard<std::mutex> hold(made.lock);
    std::vector<std::string> kept;
    for (const std::string &dir : made.paths) {
        std::error_code ignored;
        if (!keep)
            std::filesystem::remove_all(dir, ignored);
        else if (std::filesystem::exists(dir, ignored))
            kept.push_back(dir);
    }
    made.paths.clear();
    return kept;
}

// Runs `hex` in gpsim as chip `chip` (gpsim's name without its "p") until
// the program writes 1 to register `done`, or `cycles` cycles pass; returns
// the register dump as address -> byte, and what gpsim printed in `log`.
inline std::map<unsigned, unsigned> tool_gpsim(const std::string &dir, const std::string &chip,
                                               const std::string &hex, unsigned done, std::string *log,
                                               unsigned long cycles = 100000)
{
    std::ostringstream script;
    script << std::hex << "break w 0x" << done << ", (reg(0x" << done << ") == 1)\n";
    // the top 16 bytes of each bank are one memory on the mid-range chips:
    // a write through another bank's address stops the run too (gpsim
    // refuses the addresses a smaller chip lacks, and runs on)
    if ((done & 0x7F) >= 0x70 && done < 0x200)
        for (unsigned other = done & 0x7F; other < 0x200; other += 0x80)
            if (other != done)
                script << "break w 0x" << other << ", (reg(0x" << done << ") == 1)\n";
    script << std::dec << "break c " << cycles << "\nrun\ndump\nquit\n";
    tool_write(dir + "/run.stc", script.str());
    int st;
    *log = tool_run(dir, "gpsim -i -S disable -p p" + chip + " -I '" + dir + "/run.stc' " + hex, &st);
    std::map<unsigned, unsigned> ram;
    std::istringstream in(*log);
    std::string line;
    while (std::getline(in, line)) {
        // rows of the dump: "0020:  12 00 ..."
        if (line.size() < 8 || line[4] != ':')
            continue;
        unsigned base = std::stoul(line.substr(0, 4), nullptr, 16);
        std::istringstream bytes(line.substr(5));
        std::string b;
        for (unsigned i = 0; i < 16 && (bytes >> b) && b.size() == 2; i++)
            if (b != "--")
                ram[base + i] = std::stoul(b, nullptr, 16);
    }
    return ram;
}

// The global symbols of a symbol file (the lines before its first section).
inline std::map<std::string, unsigned> tool_symbols(const std::string &path)
{
    std::map<std::string, unsigned> out;
    std::istringstream in(tool_read(path));
    std::string line, name, value;
    while (std::getline(in, line) && line[0] != '%') {
        std::istringstream w(line);
        if (w >> name >> value)
            out[name] = std::stoul(value, nullptr, 16);
    }
    return out;
}
