// C programs built by the installed driver and run in gpsim: the harness of
// the code generator's running tests and of the differential tester.
//
// A program is given as C text; the harness puts a prelude in front of the
// main file (the chip header, the configuration word with the watchdog off,
// the finish flag) so that every program ends with FINISH() and the
// simulator stops there. Values are read back from the RAM dump at the
// addresses the link's symbol file gives.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

struct c_program {
    std::string chip = "16F877A";
    std::vector<std::pair<std::string, std::string>> files;   // name, text; the first is main
    std::string options;                                      // further driver options
    unsigned long cycles = 3000000;                           // bound of the simulated run
    bool prelude = true;                                      // put the prelude before the main file
};

struct c_run {
    int status = -1;                            // the driver's exit status
    std::string output;                         // what the driver printed
    std::string dir;                            // where the files are
    std::map<std::string, unsigned> symbols;    // global symbols of the link
    std::map<unsigned, unsigned> ram;           // the register dump after the run
    bool finished = false;                      // the program reached FINISH()
    std::string log;                            // what gpsim printed
    // The byte at a C global's address plus offset (-1 when it has none).
    int byte(const std::string &c_name, unsigned offset = 0) const;
    // The value of a C global of `bytes` bytes, least significant first.
    unsigned long value(const std::string &c_name, unsigned bytes) const;
    // The address of a C global, or -1.
    long address(const std::string &c_name) const;
};

// The driver's run: files written to a fresh folder, zeph run there.
c_run c_compile(const c_program &p);
// The driver's run, then the HEX file in gpsim until FINISH().
c_run c_compile_and_run(const c_program &p);
// One main file of C text for the chip, compiled and run.
c_run c_run_text(const std::string &chip, const std::string &text);
// Whether gpsim and the chain's tools are there to run programs.
bool c_can_simulate();

// A comparison of two values as C makes it (1 or 0); -1 when op is no
// comparison operator.
inline int c_comparison(const std::string &op, long long a, long long b)
{
    if (op == "==") return a == b;
    if (op == "!=") return a != b;
    if (op == "<") return a < b;
    if (op == "<=") return a <= b;
    if (op == ">") return a > b;
    if (op == ">=") return a >= b;
    return -1;
}

// In a test: skipped (not failed) where gpsim is not installed.
#define NEEDS_SIMULATOR()                                         \
    do {                                                          \
        if (!c_can_simulate())                                    \
            GTEST_SKIP() << "gpsim is not installed";             \
    } while (0)
