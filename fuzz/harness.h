// The fuzz harness: the piece every fuzz target shares.
//
// A target is a program of the chain (its main renamed) or a small main
// around one reader, with the argument vector that makes it read the fuzzed
// input. libFuzzer hands each input to the harness, which writes it to a
// file and runs the target's main on it in a child forked for that input:
// the programs keep their state in globals and end through exit(), so one
// process per input is what lets them run unchanged, every input from the
// same fresh state. The child hands its coverage counters back to the
// parent through shared memory, so libFuzzer still steers by what the
// program's code did.
//
// An input fails when its child ends without finishing main or exit(): a
// sanitizer report, a signal, an output past the size limit, or a run past
// the time limit (killed). The harness then prints the child's messages and
// aborts, and libFuzzer keeps the input as a crash.
#pragma once

// One target. The child runs in a scratch folder of its own, where the input
// is written under input_name and outputs named without a folder land. In
// args, "{build}" stands for the build tree (an installation) and "{src}"
// for the source tree.
struct fuzz_target_t {
    const char *name;                  // the target's name, for the reports
    int (*main)(int argc, char **argv); // the program's (renamed) main
    const char *input_name;            // the file the input is written to
    const char *const *args;           // argument vector after the program name, null-ended
};

// Each target's generated unit defines it.
extern const fuzz_target_t fuzz_target;
