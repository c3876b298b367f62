// The tree of a generated program, shared by the generator (difftest.cpp)
// and by its printer and the host's run of it (difftest_host.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// the program's tree
// ---------------------------------------------------------------------------
enum dt_type { T_UC, T_SC, T_INT };

// How the code generator sees a value: one unsigned byte, one signed byte,
// or wider.
enum dt_class { C_NONE, C_U, C_S };

enum dt_kind { E_VAR, E_CONST, E_CAST, E_UNARY, E_BINARY, E_COND, E_ASSIGN, E_COMPOUND, E_INCDEC, E_CALL };

struct dt_range {
    long lo, hi;
};

struct dt_expr;
using expr_ptr = std::shared_ptr<dt_expr>;

struct dt_expr {
    dt_kind kind;
    std::string op;              // operator; "=" for E_ASSIGN, "+=" for E_COMPOUND, "++"/"--" for E_INCDEC
    dt_type type;                // the C type of the value
    dt_class cls = C_NONE;
    bool truth = false;          // a comparison or logical operator: 0 or 1
    dt_range range;              // the int values it can take
    long value = 0;              // E_CONST
    std::string text;            // E_CONST: how it is written
    int var = -1;                // E_VAR, E_ASSIGN, E_COMPOUND, E_INCDEC
    int fn = -1;                 // E_CALL
    bool prefix = false;         // E_INCDEC
    std::vector<expr_ptr> kids;  // operands, arguments, the assigned value
};

enum dt_stmt_kind { S_EXPR, S_IF, S_LOOP, S_RETURN, S_SWITCH, S_CASE };

// The types of a switch's selector: the byte types and int, and the wider
// ones only selectors and case labels use.
enum dt_sel { W_UC, W_SC, W_INT, W_UINT, W_S24, W_U24, W_LONG, W_ULONG, W_KINDS };

struct dt_sel_type {
    const char *name;
    int bits;
    bool is_signed;
};

inline const dt_sel_type &dt_sel_info(dt_sel w)
{
    static const dt_sel_type types[] = {
        {"unsigned char", 8, false}, {"signed char", 8, true},         {"int", 16, true},
        {"unsigned int", 16, false}, {"short long", 24, true},          {"unsigned short long", 24, false},
        {"long", 32, true},          {"unsigned long", 32, false},
    };
    return types[w];
}

// C's conversion of a value to a selector's type (two's complement).
inline long dt_sel_convert(dt_sel w, long v)
{
    const dt_sel_type &t = dt_sel_info(w);
    unsigned long mask = (1UL << t.bits) - 1, u = (unsigned long)v & mask;
    if (t.is_signed && (u >> (t.bits - 1)))
        return (long)u - (long)(1UL << t.bits);
    return (long)u;
}

// The loop shapes, each counting a byte counter up or down to a bound of at
// most 7: c = start & 7; while (c) {...; c--;}  /  for (c = 0; c < b; c++)
// /  c = 0; do {...} while (++c < b);  /  c = 0; while (c < b) {...; c++;}
enum dt_loop_form { L_DOWN, L_FOR, L_DO, L_UP };

struct dt_stmt {
    dt_stmt_kind kind = S_EXPR;
    expr_ptr e;                          // the expression, condition, loop start or bound, returned value
    int counter = -1;                    // S_LOOP
    dt_loop_form form = L_DOWN;          // S_LOOP
    std::vector<dt_stmt> body, other;    // then / else; the loop's body; a switch's arms (S_CASE)
    int line = 0;                        // where it is printed
    // S_SWITCH: e converted to the selector's type (`plain`: e is of that
    // type and printed bare), then combined by sel_op ("+", "^" or none)
    // with the constant sel_k of that type; "#pragma switch <pragma>" before
    dt_sel sel = W_INT;
    bool plain = false;
    std::string sel_op;
    long sel_k = 0;
    std::string pragma;
    // S_CASE: an arm's labels (values as the selector's type holds them,
    // and how each is written), whether it holds the default label, its
    // statements in body and whether a break ends them
    std::vector<long> labels;
    std::vector<std::string> label_text;
    bool is_default = false;
    bool brk = false;
};

enum dt_role { R_INPUT, R_RESULT, R_COUNTER, R_SUM, R_PARAM, R_LOCAL };

struct dt_var {
    std::string name;
    dt_type type;
    dt_role role;
    int owner;   // the function, -1 for a global
    // a global kept in an aggregate (see dt_storage): how the program
    // reaches it, and the object and byte that hold it
    std::string access;
    std::string object;
    unsigned offset = 0;
};

// Where the globals live: plain variables; elements of two arrays (one per
// byte type); members of one structure; array elements reached through
// initialised pointers; array elements indexed by constant tables.
enum dt_storage { ST_PLAIN, ST_ARRAY, ST_MEMBER, ST_POINTER, ST_TABLE, ST_KINDS };

struct dt_func {
    std::string name;
    dt_type ret;
    std::vector<int> params;
    std::vector<int> locals;   // the loop counter among them
    int counter = -1;
    std::vector<dt_stmt> body;
    std::set<int> reads;       // globals it or its callees read
};

// A whole program: its variables (the globals first), its functions in the
// order they are defined (a function calls only those before it), and main.
struct dt_tree {
    std::vector<dt_var> vars;
    std::vector<dt_func> funcs;
    std::vector<dt_stmt> init;        // main's start-up assignments
    std::vector<dt_stmt> main_body;
    dt_storage storage = ST_PLAIN;
};

inline const char *dt_type_name(dt_type t)
{
    return t == T_UC ? "unsigned char" : t == T_SC ? "signed char" : "int";
}

// C's conversion of an int value to a type (two's complement bytes).
inline long dt_convert(dt_type t, long v)
{
    if (t == T_UC)
        return v & 0xFF;
    if (t == T_SC)
        return (long)(int8_t)(uint8_t)(v & 0xFF);
    return v;
}

// ---------------------------------------------------------------------------
// difftest_host.cpp
// ---------------------------------------------------------------------------
// The program's lines of C; gives each statement the number of its line.
std::vector<std::string> dt_print(dt_tree &t);

// What the host's run of a program leaves.
struct dt_outcome {
    std::vector<long> value;        // per variable
    std::vector<int> written_at;    // per global: the line that last wrote it
    unsigned long cost = 0;         // the estimated cycles of the run
    std::string fault;              // something C leaves undefined, met on the way
};

dt_outcome dt_run(const dt_tree &t);
