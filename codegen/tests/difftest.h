// The differential tester of the code generator: random C programs on byte
// data, each with the values the host computes it must leave in RAM.
//
// A 64-bit seed makes one program, the same on every host: globals of both
// byte types set by assignments at the start of main, then statements
// (assignments of expression trees, compound assignments, increments,
// if/else, loops with bounded trip counts, calls of generated functions of
// 0-3 byte parameters). The host runs the program's own tree with C's rules
// (operands promoted to a 16-bit int, the result converted to the
// destination's type) and records what each global must hold at the end,
// and which line last wrote it.
//
// Every program keeps clear of what C leaves undefined (divisors are OR-ed
// with 1, shift counts masked to 0..7, int overflow avoided by narrowing
// operands, no object written twice or written and read in one expression),
// and of what the code generator cannot do yet: an operator whose result
// depends on more than the low byte of its operands (/ % >> comparisons and
// truth values) only ever sees byte-typed operands of one signedness.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Constructs the generator uses only when asked: the code generator
// mishandles each of them today, so the CI programs leave them out until
// the fault is mended; turning one on (KESTREL_DIFFTEST_ALLOW) shows
// whether it is. One row per construct: its option name and what it is.
// The faults, with u1 = 200, u2 = 7 (unsigned char), s1 = -3, s2 = 5
// (signed char), f(a) returning a + 1 and g(a, b) returning a - b:
//   effects_as_operands        r = u1++ + 1;                   stops with (712)
//   shift_assignment_as_value  r = (u2 <<= 3);  r = (u2 *= 64); (712)
//   conditional_as_operand     r = (s1 ? u1 : u2) + 1;  r = s1 ? u1 + u2 : s2;
//                              r = u1 ? u2 : (f(u2) ^ 127);   (712)
//   jumps_in_arguments         r = g(1, u1 ? u2 : 3);  r = g(u1 && u2, 1); (712)
//   logic_in_return            return u1 && s2;                (712)
//   int_tested_by_logic        r = (u1 & 5) || u2;  r = u1 || (int)u2;
//                              r = s1 || (u1 && (u2 ^ u1));  r = (u1 & u2) ? 5 : f(1); (712)
//   calls_with_helpers_nested  r = g((u2 * u2) + f(3), 0);   leaves 253, not 53;
//                              r = 1 + f(f(2) * u2);  r *= 3 * f(2);
//                              r = (unsigned char)(f(2) * u2) % (u1 | 1); (712)
//   shift_by_one               r = (u2 << 1) * u1;  r = f(3) >> 1;  r = g(1, u2 + u2); (712)
//   call_in_folded_operand     r = f(f(2) < 0);  r = f(u1 >> ((f(u2) & -128) & 7)); (712)
//   logic_reading_destination  r = 5; r = u2 && r;         leaves 0, not 1 (r is
//                              cleared before the right operand reads it, also
//                              when a called function reads it)
//   jumps_in_assigned_value    u2 = r = u1 ? 3 : 255;  u2 = r = (u1 && s2); (712)
//   truth_as_operand           r = (u1 < u2) | 4;  leaves 1, not 4;
//                              r = ((u2 < u1) & 7) + 1;  leaves 0, not 2;
//                              r = u2 - !0;  leaves 8, not 6;
//                              r = (u1 || s1) + u2;  r = (u1 < u2) ^ u2; (712)
//   helpers_with_jumps         if ((unsigned char)(u1 * u2)) ...;
//                              r = s1 ? (unsigned char)(u1 * u2) : u2; (712)
//   constant_shifted_right     r = (-1) >> (u2 & 7);  r = ~((26) >> (s2 & 7)); (712)
//   negative_constant_masks    r = s2 == ((-1) | s1);  r = ((-102) & s1) ? 1 : 2; (712)
//   mixed_compound_division    u1 /= (s1 | 1);  leaves 0, not 190;
//                              s2 = 40; s2 /= 255;  leaves -40, not 0;
//                              s2 = 40; s2 %= 255;  leaves 0, not 40;
//                              u1 %= -3;  leaves 200, not 2
// Not a construct: main's temporaries are not shared between statements
// (48 statements r = (u1 * u2) + (u3 * u4); stop with (1253), 100 bytes of
// auto/param block), so programs keep main short.
#define DT_CONSTRUCTS(X)                                                                                   \
    X(effects_as_operands, "x++, (x = e), (x op= e) as an operand of another operator")                   \
    X(shift_assignment_as_value, "the value of (x <<= n), (x >>= n) or (x *= 2^k) used")                  \
    X(conditional_as_operand, "?: as an operand, or with an arm of type int")                              \
    X(jumps_in_arguments, "&&, || or ?: inside a call's argument")                                        \
    X(logic_in_return, "&& or || in a returned value")                                                    \
    X(int_tested_by_logic, "& | ^ or an (int) cast as an operand of && || or the condition of ?:")        \
    X(calls_with_helpers_nested, "a call and * / % in one argument, in a dividend, or right of *= /= %=")  \
    X(shift_by_one, "x << 1, x >> 1, x + x, x - -x or x * 2")                                            \
    X(call_in_folded_operand, "a call in an operand folding drops: f() < 0, a count (f() & 8) & 7")        \
    X(logic_reading_destination, "v = (a && b) or v = (a || b) where b reads v, or calls what does")       \
    X(jumps_in_assigned_value, "?:, && or || as the right side of an assignment whose value is used")     \
    X(truth_as_operand, "a comparison, !, && or || as an operand of arithmetic or a cast")                \
    X(helpers_with_jumps, "* / % in a full expression that branches (a condition, && || ?:)")           \
    X(constant_shifted_right, "a constant as the left operand of >>")                                   \
    X(negative_constant_masks, "& | ^ of a negative constant where the whole signed byte counts")         \
    X(mixed_compound_division, "v /= e and v %= e with e of the other signedness than v")

struct dt_options {
#define DT_OPTION_FIELD(name, what) bool name = false;
    DT_CONSTRUCTS(DT_OPTION_FIELD)
#undef DT_OPTION_FIELD
};

// A global the program leaves in RAM and the byte the host computed for it.
struct dt_expect {
    std::string name;   // the C name
    int value;          // 0-255
    int line;           // the line of main.c that last wrote it
};

struct dt_program {
    uint64_t seed = 0;
    std::string text;                  // main.c, to follow the harness's prelude
    std::vector<dt_expect> expect;     // every global of the program
    unsigned long cost = 0;            // the host's estimate of the cycles the run takes
    std::string error;                 // non-empty: the generator broke its own rules (a fault of the tester)
};

// The program of a seed, with its expected values.
dt_program difftest_generate(uint64_t seed, const dt_options &opt);
// Line n (from 1) of a program's text, for reports.
std::string difftest_line(const dt_program &p, int line);
