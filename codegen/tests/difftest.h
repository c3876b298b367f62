// The differential tester of the code generator: random C programs on byte
// data, each with the values the host computes it must leave in RAM.
//
// A 64-bit seed makes one program, the same on every host: globals of both
// byte types set by assignments at the start of main, then statements
// (assignments of expression trees, compound assignments, increments,
// if/else, loops with bounded trip counts, switch statements on selectors
// of every integer type from 8 to 32 bits, calls of generated functions of
// 0-3 byte parameters). The host runs the program's own tree with C's rules
// (operands promoted to a 16-bit int, the result converted to the
// destination's type) and records what each global must hold at the end,
// and which line last wrote it.
//
// Every program keeps clear of what C leaves undefined (divisors are OR-ed
// with 1, shift counts masked to 0..7, int overflow avoided by narrowing
// operands, no object written twice or written and read in one expression),
// and an operator whose result depends on more than the low byte of its
// operands (/ % >> comparisons and truth values) sees operands of byte
// range only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Programs keep main short: its temporaries are not shared between
// statements (48 statements r = (u1 * u2) + (u3 * u4); stop with (1253),
// 100 bytes of auto/param block).

// A global the program leaves in RAM and the byte the host computed for it.
struct dt_expect {
    std::string name;   // the C name (of the object that holds it)
    int value;          // 0-255
    int line;           // the line of main.c that last wrote it
    unsigned offset;    // its byte in that object
};

struct dt_program {
    uint64_t seed = 0;
    std::string text;                  // main.c, to follow the harness's prelude
    std::vector<dt_expect> expect;     // every global of the program
    unsigned long cost = 0;            // the host's estimate of the cycles the run takes
    std::string error;                 // non-empty: the generator broke its own rules (a fault of the tester)
};

// The program of a seed, with its expected values; a small one (fewer
// globals, functions and levels) for chips of a few dozen bytes of RAM.
dt_program difftest_generate(uint64_t seed, bool small = false);
// Line n (from 1) of a program's text, for reports.
std::string difftest_line(const dt_program &p, int line);
