// Runs the built plover on a fixture and collects what it wrote.
#pragma once

#include <string>

struct plover_result {
    int status;          // exit status
    std::string output;  // the intermediate code
    std::string errors;  // standard error
    std::string xref;    // t.crf, when the switches asked for it
    std::string protos;  // t.pro, when the switches asked for it
    std::string info;    // t.fi, with --fipath=.
};

// The switches the driver passes to the parser for a mid-range chip.
extern const char *const driver_switches;

// Runs plover with the switches and the source as its input file.
plover_result plover_run(const std::string &switches, const std::string &source);
// Runs C source through wren and plover as the driver runs them: wren with
// the chip's macros and type sizes, then plover with the driver's switches
// and its own fixed ones (-v -u -fp). Messages of both are in `errors`.
plover_result plover_chain(const std::string &source);
// Whether the preprocessor is there for plover_chain.
bool plover_chain_ready();
// The body records of function f (between its "[f ]" and its exit label).
std::string plover_body(const std::string &records);
// The records of the output after the version line, without line markers.
std::string plover_records(const std::string &output);
// True when the diagnostics name message n.
bool plover_reported(const plover_result &r, int n);
