// Random byte programs and the host's run of them (see difftest.h).
//
// The generator builds a tree per function and one for main, then prints it
// (giving each statement its line) and runs it on the host. Expressions are
// made under one of three demands:
//   low   only the low byte of the value counts (it is converted to a byte
//         next): any operator, operands made under "low" again;
//   byte  the whole value counts and the code generator must see it as one
//         byte of a given signedness: a byte-typed variable, call, cast or
//         side effect, a constant of the type's range, & | ^ of such;
//   truth the value is tested against zero: a byte, a comparison, ! && ||.
// / % >> and comparisons take "byte" operands of one signedness; << takes an
// unsigned byte (a negative left operand is undefined); + - * take "low"
// operands, narrowed by a cast when the int range of the result could
// overflow. Each node carries the range of int values it can take, which is
// what those narrowings are decided on.
//
// Evaluation order: within one full expression no variable is written
// twice, or written and read elsewhere; a call counts as reading every
// global its function reads. Functions write only their own parameters and
// locals, and the global fsum, and that only by += of an expression without
// calls: additions commute, so the order of calls in an expression leaves
// the same sum.
#include "difftest.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>

namespace {

// ---------------------------------------------------------------------------
// random numbers
// ---------------------------------------------------------------------------
// splitmix64: the same sequence from a seed on every host and library.
struct dt_rng {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return (unsigned)(next() % n); }
    bool chance(unsigned percent) { return below(100) < percent; }
};

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

enum dt_stmt_kind { S_EXPR, S_IF, S_LOOP, S_RETURN };

// The loop shapes, each counting a byte counter up or down to a bound of at
// most 7: c = start & 7; while (c) {...; c--;}  /  for (c = 0; c < b; c++)
// /  c = 0; do {...} while (++c < b);  /  c = 0; while (c < b) {...; c++;}
enum dt_loop_form { L_DOWN, L_FOR, L_DO, L_UP };

struct dt_stmt {
    dt_stmt_kind kind = S_EXPR;
    expr_ptr e;                          // the expression, condition, loop start or bound, returned value
    int counter = -1;                    // S_LOOP
    dt_loop_form form = L_DOWN;          // S_LOOP
    std::vector<dt_stmt> body, other;    // then / else; the loop's body
    int line = 0;                        // where it is printed
};

enum dt_role { R_INPUT, R_RESULT, R_COUNTER, R_SUM, R_PARAM, R_LOCAL };

struct dt_var {
    std::string name;
    dt_type type;
    dt_role role;
    int owner;   // the function, -1 for a global
};

struct dt_func {
    std::string name;
    dt_type ret;
    std::vector<int> params;
    std::vector<int> locals;   // the loop counter among them
    int counter = -1;
    std::vector<dt_stmt> body;
    std::set<int> reads;       // globals it or its callees read
};

// Sizes of a program.
const int input_count = 8;       // per byte type
const int result_count = 10;
const int max_depth = 4;         // of an expression tree
const int max_nest = 2;          // of if and loop statements
const unsigned long cost_bound = 400000;   // estimated cycles; the simulated run allows 3,000,000

dt_range type_range(dt_type t)
{
    return t == T_UC ? dt_range{0, 255} : t == T_SC ? dt_range{-128, 127} : dt_range{-32768, 32767};
}

bool inside(dt_range r, dt_range bound)
{
    return r.lo >= bound.lo && r.hi <= bound.hi;
}

dt_class class_of(dt_type t)
{
    return t == T_UC ? C_U : t == T_SC ? C_S : C_NONE;
}

const char *type_name(dt_type t)
{
    return t == T_UC ? "unsigned char" : t == T_SC ? "signed char" : "int";
}

// C's conversion of an int value to a type (two's complement bytes).
long convert(dt_type t, long v)
{
    if (t == T_UC)
        return v & 0xFF;
    if (t == T_SC)
        return (long)(int8_t)(uint8_t)(v & 0xFF);
    return v;
}

// Whether a value is one byte of the class to the code generator: a node of
// that class, or an int constant in the class's range.
bool fits(const expr_ptr &e, dt_class c)
{
    if (e->kind == E_CONST && e->type == T_INT)
        return inside(e->range, type_range(c == C_U ? T_UC : T_SC));
    return e->cls == c;
}

// The width in bits that holds a range as two's complement.
int signed_bits(dt_range r)
{
    int k = 1;
    while (r.lo < -(1L << (k - 1)) || r.hi > (1L << (k - 1)) - 1)
        k++;
    return k;
}

dt_range binary_range(const std::string &op, dt_range a, dt_range b)
{
    if (op == "+")
        return {a.lo + b.lo, a.hi + b.hi};
    if (op == "-")
        return {a.lo - b.hi, a.hi - b.lo};
    if (op == "*") {
        long p[] = {a.lo * b.lo, a.lo * b.hi, a.hi * b.lo, a.hi * b.hi};
        return {*std::min_element(p, p + 4), *std::max_element(p, p + 4)};
    }
    if (op == "&" || op == "|" || op == "^") {
        int k = std::max(signed_bits(a), signed_bits(b));
        if (op == "&" && (a.lo >= 0 || b.lo >= 0))
            return {0, a.lo >= 0 && b.lo >= 0 ? std::min(a.hi, b.hi) : a.lo >= 0 ? a.hi : b.hi};
        if (a.lo >= 0 && b.lo >= 0)
            return {0, (1L << (k - 1)) - 1};
        return {-(1L << (k - 1)), (1L << (k - 1)) - 1};
    }
    if (op == "<<")
        return {a.lo, a.hi * 128};   // the left operand is never negative, the count 0..7
    if (op == ">>")
        return {std::min(a.lo, 0L), std::max(a.hi, 0L)};
    if (op == "/" || op == "%") {
        long m = std::max(-a.lo, a.hi);
        return {-m, m};
    }
    return {0, 1};   // comparisons, && ||
}

bool is_comparison(const std::string &op)
{
    return op == "==" || op == "!=" || op == "<" || op == "<=" || op == ">" || op == ">=";
}

// ---------------------------------------------------------------------------
// nodes
// ---------------------------------------------------------------------------
expr_ptr make(dt_kind k, const std::string &op, dt_type t, dt_range r, std::vector<expr_ptr> kids = {})
{
    auto e = std::make_shared<dt_expr>();
    e->kind = k;
    e->op = op;
    e->type = t;
    e->cls = class_of(t);
    e->range = r;
    e->kids = std::move(kids);
    return e;
}

expr_ptr make_const(long v, dt_type t, const std::string &text)
{
    expr_ptr e = make(E_CONST, "", t, {v, v});
    e->value = v;
    e->text = text;
    return e;
}

expr_ptr make_cast(dt_type t, expr_ptr inner)
{
    dt_range r = t == T_INT ? inner->range : type_range(t);
    dt_class c = t == T_INT ? inner->cls : class_of(t);
    expr_ptr e = make(E_CAST, "", t, r, {inner});
    e->cls = c;
    return e;
}

expr_ptr make_unary(const std::string &op, expr_ptr a)
{
    dt_range r = op == "-" ? dt_range{-a->range.hi, -a->range.lo}
               : op == "~" ? dt_range{-a->range.hi - 1, -a->range.lo - 1}
                           : dt_range{0, 1};
    expr_ptr e = make(E_UNARY, op, T_INT, r, {a});
    e->truth = op == "!";
    return e;
}

expr_ptr make_binary(const std::string &op, expr_ptr a, expr_ptr b)
{
    expr_ptr e = make(E_BINARY, op, T_INT, binary_range(op, a->range, b->range), {a, b});
    e->truth = is_comparison(op) || op == "&&" || op == "||";
    bool bitwise = op == "&" || op == "|" || op == "^";
    bool both_const = a->kind == E_CONST && b->kind == E_CONST;
    if (bitwise && !both_const)
        e->cls = fits(a, C_U) && fits(b, C_U) ? C_U : fits(a, C_S) && fits(b, C_S) ? C_S : C_NONE;
    return e;
}

// ---------------------------------------------------------------------------
// the generator
// ---------------------------------------------------------------------------
struct dt_gen {
    dt_rng rng;
    dt_options opt;
    std::vector<dt_var> vars;
    std::vector<dt_func> funcs;
    std::vector<dt_stmt> init;        // main's start-up assignments
    std::vector<dt_stmt> main_body;
    int sum_var = -1;                 // fsum
    std::vector<int> main_counters;   // i0, i1: one per loop level

    // the function being made (-1: main)
    int fn = -1;
    int nest = 0;                     // if and loop statements around
    int loops = 0;                    // loops around
    std::set<int> live_counters;      // counters of the loops around: readable, never written
    std::set<int> unset;              // locals not yet given a value: neither read nor written

    // the full expression being made
    std::set<int> reads, writes;
    int dest = -1;                    // the statement's own target: may be read, not written inside
    bool pure = false;                // no side effects (loop bounds, evaluated again and again)
    bool no_calls = false;            // fsum's update

    int add_var(const std::string &name, dt_type t, dt_role role, int owner)
    {
        vars.push_back({name, t, role, owner});
        return (int)vars.size() - 1;
    }
    dt_type byte_type() { return rng.chance(50) ? T_UC : T_SC; }
    template <class T> T pick(const std::vector<T> &v) { return v[rng.below((unsigned)v.size())]; }

    void begin_expression()
    {
        reads.clear();
        writes.clear();
        dest = -1;
        pure = false;
        no_calls = false;
    }

    // What the expression may read: globals (main's loop counters only in
    // their loops, fsum never) and the function's own variables.
    std::vector<int> readable(dt_class want)
    {
        std::vector<int> out;
        for (int v = 0; v < (int)vars.size(); v++) {
            const dt_var &d = vars[v];
            if (d.owner != -1 && d.owner != fn)
                continue;
            if (d.role == R_SUM || writes.count(v) || unset.count(v))
                continue;
            if (d.role == R_COUNTER && !live_counters.count(v))
                continue;
            if (want != C_NONE && class_of(d.type) != want)
                continue;
            out.push_back(v);
        }
        return out;
    }

    // What a statement or side effect may write: main writes the inputs and
    // results, a function its parameters and non-counter locals.
    std::vector<int> writable(dt_class want, bool inner)
    {
        std::vector<int> out;
        for (int v = 0; v < (int)vars.size(); v++) {
            const dt_var &d = vars[v];
            bool mine = fn == -1 ? d.owner == -1 && (d.role == R_INPUT || d.role == R_RESULT)
                                 : d.owner == fn && (d.role == R_PARAM || d.role == R_LOCAL);
            if (!mine || unset.count(v) || (want != C_NONE && class_of(d.type) != want))
                continue;
            if (inner && (reads.count(v) || writes.count(v) || v == dest))
                continue;
            out.push_back(v);
        }
        return out;
    }

    // main writes results four times as often as inputs
    int pick_target(const std::vector<int> &c)
    {
        std::vector<int> results;
        for (int v : c)
            if (vars[v].role == R_RESULT)
                results.push_back(v);
        if (!results.empty() && rng.chance(80))
            return pick(results);
        return pick(c);
    }

    expr_ptr read_var(int v)
    {
        reads.insert(v);
        expr_ptr e = make(E_VAR, "", vars[v].type, type_range(vars[v].type));
        e->var = v;
        return e;
    }

    // A constant in the class's range (C_NONE: either), an int literal in
    // decimal or hexadecimal, or cast to its type.
    expr_ptr gen_const(dt_class want)
    {
        dt_type t = want == C_U ? T_UC : want == C_S ? T_SC : byte_type();
        long v = convert(t, (long)rng.below(256));
        if (rng.chance(30))
            v = pick(std::vector<long>{0, 1, 2, 7, 127, -1, -128, 128, 255});
        v = convert(t, v);
        char buf[48];
        unsigned form = rng.below(10);
        if (form < 3) {
            snprintf(buf, sizeof buf, "((%s)%ld)", type_name(t), v);
            return make_const(v, t, buf);
        }
        if (form < 5 && v >= 0)
            snprintf(buf, sizeof buf, "(0x%lX)", v);
        else
            snprintf(buf, sizeof buf, "(%ld)", v);
        return make_const(v, T_INT, buf);
    }

    expr_ptr gen_leaf(dt_class want)
    {
        std::vector<int> c = readable(want);
        if (!c.empty() && rng.chance(75))
            return read_var(pick(c));
        return gen_const(want);
    }

    // A call of a function made before (in main: any), its arguments made
    // as full conversions to the parameters' types.
    expr_ptr gen_call(int depth, dt_class want)
    {
        if (no_calls)
            return nullptr;
        std::vector<int> c;
        int limit = fn == -1 ? (int)funcs.size() : fn;
        for (int f = 0; f < limit; f++) {
            bool clash = false;
            for (int g : funcs[f].reads)
                clash |= writes.count(g) > 0;
            if (!clash && (want == C_NONE || class_of(funcs[f].ret) == want))
                c.push_back(f);
        }
        if (c.empty())
            return nullptr;
        int f = pick(c);
        reads.insert(funcs[f].reads.begin(), funcs[f].reads.end());
        expr_ptr e = make(E_CALL, "", funcs[f].ret, type_range(funcs[f].ret));
        e->fn = f;
        for (size_t i = 0; i < funcs[f].params.size(); i++)
            e->kids.push_back(gen_low(depth + 1, true));
        return e;
    }

    // A side effect on a variable: (v = e), (v op= e), v++, --v ...
    expr_ptr gen_effect(int depth, dt_class want)
    {
        if (pure)
            return nullptr;
        std::vector<int> c = writable(want, true);
        if (c.empty())
            return nullptr;
        int v = pick_target(c);
        writes.insert(v);
        unsigned r = rng.below(10);
        if (r < 4) {
            expr_ptr e = make(E_ASSIGN, "=", vars[v].type, type_range(vars[v].type), {gen_low(depth + 1, true)});
            e->var = v;
            return e;
        }
        if (r < 7)
            return gen_compound(v, depth);
        expr_ptr e = make(E_INCDEC, rng.chance(50) ? "++" : "--", vars[v].type, type_range(vars[v].type));
        e->var = v;
        e->prefix = rng.chance(50);
        return e;
    }

    // A shift count: only the low three bits of the expression.
    expr_ptr gen_count(int depth)
    {
        return make_binary("&", gen_low(depth + 1, false), make_const(7, T_INT, "7"));
    }

    // A divisor that is never 0: a byte with its low bit set.
    expr_ptr gen_divisor(int depth, dt_class c)
    {
        return make_binary("|", gen_byte(depth + 1, c), make_const(1, T_INT, "1"));
    }

    // v op= e, e made so that v's promoted value op e stays defined.
    expr_ptr gen_compound(int v, int depth)
    {
        static const char *ops[] = {"+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="};
        std::string op = ops[rng.below(10)];
        dt_type t = vars[v].type;
        if (op == "<<=" && t == T_SC)
            op = ">>=";   // a negative value shifted left is undefined
        expr_ptr rhs;
        if (op == "/=" || op == "%=") {
            dt_class c = class_of(t);
            if (opt.mixed_compound_division && rng.chance(50))
                c = c == C_U ? C_S : C_U;
            rhs = gen_divisor(depth, c);
        } else if (op == "<<=" || op == ">>=") {
            rhs = gen_count(depth);
        } else {
            rhs = gen_low(depth + 1, false);
            std::string bare = op.substr(0, 1);
            while (!inside(binary_range(bare, type_range(t), rhs->range), type_range(T_INT)))
                rhs = make_cast(rng.chance(50) && bare != "*" ? T_UC : T_SC, rhs);
        }
        expr_ptr e = make(E_COMPOUND, op, t, type_range(t), {rhs});
        e->var = v;
        return e;
    }

    // + - *: operands narrowed to a byte while the result could leave int.
    expr_ptr gen_arith(const std::string &op, int depth)
    {
        expr_ptr a = gen_low(depth + 1, false), b = gen_low(depth + 1, false);
        dt_range byte = {-128, 255};
        while (!inside(binary_range(op, a->range, b->range), type_range(T_INT))) {
            expr_ptr &wide = std::max(-a->range.lo, a->range.hi) >= std::max(-b->range.lo, b->range.hi) ? a : b;
            expr_ptr &other = &wide == &a ? b : a;
            if (!inside(wide->range, byte))
                wide = make_cast(byte_type(), wide);
            else if (!inside(other->range, byte))
                other = make_cast(byte_type(), other);
            else
                (wide->range.hi > 127 ? wide : other) = make_cast(T_SC, wide->range.hi > 127 ? wide : other);
        }
        return make_binary(op, a, b);
    }

    expr_ptr gen_comparison(int depth)
    {
        static const char *ops[] = {"==", "!=", "<", "<=", ">", ">="};
        dt_class c = rng.chance(50) ? C_U : C_S;
        expr_ptr a = gen_byte(depth + 1, c);
        return make_binary(ops[rng.below(6)], a, gen_byte(depth + 1, c));
    }

    // An expression of which only the low byte counts. `top`: its value is
    // converted to a byte at once (the right side of an assignment, an
    // argument, a returned value), where the code generator takes side
    // effects and ?: today.
    expr_ptr gen_low(int depth, bool top)
    {
        if (depth >= max_depth)
            return gen_leaf(C_NONE);
        bool effects = top || opt.effects_as_operands;
        expr_ptr e;
        unsigned r = rng.below(100);
        if (r < 10)
            e = gen_leaf(C_NONE);
        else if (r < 14)
            e = gen_const(C_NONE);
        else if (r < 22)
            e = gen_call(depth, C_NONE);
        else if (r < 40)
            e = gen_arith(pick(std::vector<std::string>{"+", "-", "*"}), depth);
        else if (r < 49)
            e = make_binary(pick(std::vector<std::string>{"&", "|", "^"}), gen_low(depth + 1, false),
                            gen_low(depth + 1, false));
        else if (r < 54) {
            expr_ptr a = gen_low(depth + 1, false);
            if (rng.chance(50) && a->range.lo == -32768)
                a = make_cast(byte_type(), a);
            e = make_unary(a->range.lo == -32768 ? "~" : pick(std::vector<std::string>{"-", "~"}), a);
        } else if (r < 57)
            e = make_unary("!", gen_truth(depth + 1));
        else if (r < 61) {
            expr_ptr a = rng.chance(50) ? gen_byte(depth + 1, C_U) : make_cast(T_UC, gen_low(depth + 1, false));
            e = make_binary("<<", a, gen_count(depth));
        } else if (r < 65)
            e = make_binary(">>", gen_byte(depth + 1, rng.chance(50) ? C_U : C_S), gen_count(depth));
        else if (r < 71) {
            dt_class c = rng.chance(50) ? C_U : C_S;
            expr_ptr a = gen_byte(depth + 1, c);
            e = make_binary(rng.chance(50) ? "/" : "%", a, gen_divisor(depth, c));
        } else if (r < 79)
            e = gen_comparison(depth);
        else if (r < 83)
            e = make_binary(rng.chance(50) ? "&&" : "||", gen_truth(depth + 1), gen_truth(depth + 1));
        else if (r < 87 && (top || opt.conditional_as_operand))
            e = gen_conditional(depth);
        else if (r < 93 && effects)
            e = gen_effect(depth, C_NONE);
        else if (r < 100)
            e = make_cast(pick(std::vector<dt_type>{T_UC, T_SC, T_INT}), gen_low(depth + 1, false));
        return e ? e : gen_leaf(C_NONE);
    }

    // c ? a : b: arms of a byte type unless wider arms are allowed.
    expr_ptr gen_conditional(int depth)
    {
        expr_ptr c = gen_truth(depth + 1);
        expr_ptr a, b;
        if (opt.conditional_as_operand) {
            a = gen_low(depth + 1, false);
            b = gen_low(depth + 1, false);
        } else {
            a = gen_byte(depth + 1, rng.chance(50) ? C_U : C_S);
            b = gen_byte(depth + 1, rng.chance(50) ? C_U : C_S);
        }
        dt_range r = {std::min(a->range.lo, b->range.lo), std::max(a->range.hi, b->range.hi)};
        return make(E_COND, "?:", T_INT, r, {c, a, b});
    }

    // An expression the code generator sees as one byte of class c.
    expr_ptr gen_byte(int depth, dt_class c)
    {
        if (depth >= max_depth)
            return gen_leaf(c);
        dt_type t = c == C_U ? T_UC : T_SC;
        expr_ptr e;
        unsigned r = rng.below(100);
        if (r < 35)
            e = gen_leaf(c);
        else if (r < 45)
            e = gen_const(c);
        else if (r < 57)
            e = gen_call(depth, c);
        else if (r < 72)
            e = make_cast(t, gen_low(depth + 1, false));
        else if (r < 84) {
            expr_ptr a = gen_byte(depth + 1, c);
            expr_ptr b = a->kind == E_CONST ? gen_leaf(c) : gen_byte(depth + 1, c);
            e = make_binary(pick(std::vector<std::string>{"&", "|", "^"}), a, b);
            if (e->cls != c)   // two constants: the parser folds them to an int
                e = make_cast(t, e);
        } else if (r < 90) {
            expr_ptr a = gen_byte(depth + 1, c);
            e = a->kind == E_CONST ? a : make_cast(T_INT, a);
        } else if (opt.effects_as_operands)
            e = gen_effect(depth, c);
        return e ? e : gen_leaf(c);
    }

    // A value tested against zero.
    expr_ptr gen_truth(int depth)
    {
        if (depth >= max_depth)
            return gen_leaf(rng.chance(50) ? C_U : C_S);
        unsigned r = rng.below(100);
        if (r < 45)
            return gen_byte(depth, rng.chance(50) ? C_U : C_S);
        if (r < 80)
            return gen_comparison(depth);
        if (r < 90)
            return make_unary("!", gen_truth(depth + 1));
        return make_binary(rng.chance(50) ? "&&" : "||", gen_truth(depth + 1), gen_truth(depth + 1));
    }

    // ---- statements
    dt_stmt expression_statement(expr_ptr e)
    {
        dt_stmt s;
        s.kind = S_EXPR;
        s.e = e;
        return s;
    }

    // v = e; v op= e; v++; f(...);  in main or a function
    dt_stmt gen_simple()
    {
        begin_expression();
        unsigned r = rng.below(100);
        std::vector<int> targets = writable(C_NONE, false);
        if (r < 8) {
            if (expr_ptr call = gen_call(0, C_NONE))
                return expression_statement(call);
        }
        if (fn != -1 && r < 16) {   // fsum += e: a side effect of calls
            no_calls = true;
            dest = sum_var;
            expr_ptr e = make(E_COMPOUND, rng.chance(50) ? "+=" : "-=", T_UC, type_range(T_UC),
                              {gen_low(1, false)});
            e->var = sum_var;
            return expression_statement(e);
        }
        int v = pick_target(targets);
        dest = v;
        if (r < 28) {
            expr_ptr e = make(E_INCDEC, rng.chance(50) ? "++" : "--", vars[v].type, type_range(vars[v].type));
            e->var = v;
            e->prefix = rng.chance(50);
            return expression_statement(e);
        }
        if (r < 50)
            return expression_statement(gen_compound(v, 0));
        expr_ptr e = make(E_ASSIGN, "=", vars[v].type, type_range(vars[v].type), {gen_low(0, true)});
        e->var = v;
        return expression_statement(e);
    }

    std::vector<dt_stmt> gen_block(int count)
    {
        std::vector<dt_stmt> out;
        for (int i = 0; i < count; i++)
            out.push_back(gen_statement());
        return out;
    }

    dt_stmt gen_if()
    {
        dt_stmt s;
        s.kind = S_IF;
        begin_expression();
        s.e = gen_truth(0);
        nest++;
        s.body = gen_block(1 + (int)rng.below(3));
        if (fn != -1 && rng.chance(25)) {   // an early return
            begin_expression();
            dt_stmt ret;
            ret.kind = S_RETURN;
            ret.e = gen_low(0, true);
            s.body.push_back(ret);
        }
        if (rng.chance(50))
            s.other = gen_block(1 + (int)rng.below(2));
        nest--;
        return s;
    }

    dt_stmt gen_loop()
    {
        dt_stmt s;
        s.kind = S_LOOP;
        s.form = (dt_loop_form)rng.below(4);
        s.counter = fn == -1 ? main_counters[loops] : funcs[fn].counter;
        begin_expression();
        if (s.form == L_DOWN) {
            s.e = make_binary("&", gen_low(1, false), make_const(7, T_INT, "7"));
        } else {
            // the bound is evaluated again on every trip: no side effects
            pure = true;
            long n = 1 + rng.below(7);
            if (rng.chance(40))
                s.e = make_const(n, T_INT, std::to_string(n));
            else
                s.e = make_binary("&", gen_byte(1, C_U), make_const(7, T_INT, "7"));
        }
        nest++;
        loops++;
        live_counters.insert(s.counter);
        s.body = gen_block(1 + (int)rng.below(3));
        live_counters.erase(s.counter);
        loops--;
        nest--;
        return s;
    }

    dt_stmt gen_statement()
    {
        unsigned r = rng.below(100);
        int loop_levels = fn == -1 ? (int)main_counters.size() : 1;
        if (nest < max_nest && r < 12)
            return gen_if();
        if (nest < max_nest && loops < loop_levels && r < 22)
            return gen_loop();
        return gen_simple();
    }

    // ---- the program
    void gen_globals()
    {
        for (int i = 0; i < input_count; i++)
            add_var("u" + std::to_string(i), T_UC, R_INPUT, -1);
        for (int i = 0; i < input_count; i++)
            add_var("s" + std::to_string(i), T_SC, R_INPUT, -1);
        for (int i = 0; i < result_count; i++)
            add_var("r" + std::to_string(i), byte_type(), R_RESULT, -1);
        for (int i = 0; i < max_nest; i++)
            main_counters.push_back(add_var("i" + std::to_string(i), T_UC, R_COUNTER, -1));
        sum_var = add_var("fsum", T_UC, R_SUM, -1);
    }

    // Globals an expression reads, with those of the functions it calls.
    void collect_reads(const expr_ptr &e, std::set<int> &out)
    {
        if (!e)
            return;
        if ((e->kind == E_VAR || e->kind == E_COMPOUND) && vars[e->var].owner == -1 && e->var != sum_var)
            out.insert(e->var);
        if (e->kind == E_CALL)
            out.insert(funcs[e->fn].reads.begin(), funcs[e->fn].reads.end());
        for (auto &k : e->kids)
            collect_reads(k, out);
    }

    void collect_reads(const std::vector<dt_stmt> &body, std::set<int> &out)
    {
        for (const dt_stmt &s : body) {
            collect_reads(s.e, out);
            collect_reads(s.body, out);
            collect_reads(s.other, out);
        }
    }

    void gen_function(int f)
    {
        dt_func &d = funcs[f];
        fn = f;
        d.name = "f" + std::to_string(f);
        d.ret = byte_type();
        int np = (int)rng.below(4);
        for (int i = 0; i < np; i++)
            d.params.push_back(add_var("p" + std::to_string(i), byte_type(), R_PARAM, f));
        int nl = 1 + (int)rng.below(2);
        for (int i = 0; i < nl; i++)
            d.locals.push_back(add_var("a" + std::to_string(i), byte_type(), R_LOCAL, f));
        d.counter = add_var("k", T_UC, R_COUNTER, f);
        d.locals.push_back(d.counter);
        // every local is set before anything reads it
        unset.insert(d.locals.begin(), d.locals.begin() + nl);
        for (int i = 0; i < nl; i++) {
            begin_expression();
            int v = d.locals[i];
            dest = v;
            expr_ptr e = make(E_ASSIGN, "=", vars[v].type, type_range(vars[v].type), {gen_low(1, true)});
            e->var = v;
            unset.erase(v);
            d.body.push_back(expression_statement(e));
        }
        std::vector<dt_stmt> more = gen_block(1 + (int)rng.below(4));
        d.body.insert(d.body.end(), more.begin(), more.end());
        begin_expression();
        dt_stmt ret;
        ret.kind = S_RETURN;
        ret.e = gen_low(0, true);
        d.body.push_back(ret);
        collect_reads(d.body, d.reads);
        fn = -1;
    }

    void gen_program()
    {
        gen_globals();
        funcs.resize(2 + rng.below(3));
        for (int f = 0; f < (int)funcs.size(); f++)
            gen_function(f);
        for (int v = 0; v < (int)vars.size(); v++) {
            if (vars[v].owner != -1)
                continue;
            long value = vars[v].role == R_INPUT || vars[v].role == R_RESULT ? convert(vars[v].type, rng.below(256)) : 0;
            expr_ptr e = make(E_ASSIGN, "=", vars[v].type, type_range(vars[v].type),
                              {make_const(value, T_INT, std::to_string(value))});
            e->var = v;
            init.push_back(expression_statement(e));
        }
        main_body = gen_block(14 + (int)rng.below(10));
    }
};

// ---------------------------------------------------------------------------
// printing
// ---------------------------------------------------------------------------
struct dt_printer {
    const dt_gen &g;
    std::vector<std::string> lines;

    bool atomic(const expr_ptr &e) { return e->kind == E_VAR || e->kind == E_CONST || e->kind == E_CALL; }

    // `outer`: the expression stands alone (a statement, an argument, a
    // right side), so needs no parentheses of its own.
    std::string expr(const expr_ptr &e, bool outer)
    {
        std::string s;
        const std::string &name = e->var >= 0 ? g.vars[e->var].name : std::string();
        switch (e->kind) {
        case E_VAR:
            return name;
        case E_CONST:
            return e->text;
        case E_CALL:
            s = g.funcs[e->fn].name + "(";
            for (size_t i = 0; i < e->kids.size(); i++)
                s += (i ? ", " : "") + expr(e->kids[i], true);
            return s + ")";
        case E_CAST:
            s = "(" + std::string(type_name(e->type)) + ")" + expr(e->kids[0], false);
            break;
        case E_UNARY:
            s = e->op + expr(e->kids[0], false);
            break;
        case E_BINARY:
            s = expr(e->kids[0], false) + " " + e->op + " " + expr(e->kids[1], false);
            break;
        case E_COND:
            s = expr(e->kids[0], false) + " ? " + expr(e->kids[1], false) + " : " + expr(e->kids[2], false);
            break;
        case E_ASSIGN:
        case E_COMPOUND:
            s = name + " " + e->op + " " + expr(e->kids[0], e->kind == E_ASSIGN);
            break;
        case E_INCDEC:
            s = e->prefix ? e->op + name : name + e->op;
            break;
        }
        return outer ? s : "(" + s + ")";
    }

    int emit(int indent, const std::string &text)
    {
        lines.push_back(std::string(indent * 4, ' ') + text);
        return (int)lines.size();
    }

    void block(std::vector<dt_stmt> &body, int indent)
    {
        for (dt_stmt &s : body)
            statement(s, indent);
    }

    void statement(dt_stmt &s, int indent)
    {
        if (s.kind == S_EXPR) {
            s.line = emit(indent, expr(s.e, true) + ";");
            return;
        }
        if (s.kind == S_RETURN) {
            s.line = emit(indent, "return " + expr(s.e, true) + ";");
            return;
        }
        if (s.kind == S_IF) {
            s.line = emit(indent, "if (" + expr(s.e, true) + ") {");
            block(s.body, indent + 1);
            if (!s.other.empty()) {
                emit(indent, "} else {");
                block(s.other, indent + 1);
            }
            emit(indent, "}");
            return;
        }
        std::string c = g.vars[s.counter].name;
        switch (s.form) {
        case L_DOWN:
            s.line = emit(indent, c + " = " + expr(s.e, true) + ";");
            emit(indent, "while (" + c + ") {");
            block(s.body, indent + 1);
            emit(indent + 1, c + "--;");
            break;
        case L_FOR:
            s.line = emit(indent, "for (" + c + " = 0; " + c + " < " + expr(s.e, false) + "; " + c + "++) {");
            block(s.body, indent + 1);
            break;
        case L_DO:
            s.line = emit(indent, c + " = 0;");
            emit(indent, "do {");
            block(s.body, indent + 1);
            emit(indent, "} while (++" + c + " < " + expr(s.e, false) + ");");
            return;
        case L_UP:
            s.line = emit(indent, c + " = 0;");
            emit(indent, "while (" + c + " < " + expr(s.e, false) + ") {");
            block(s.body, indent + 1);
            emit(indent + 1, "++" + c + ";");
            break;
        }
        emit(indent, "}");
    }

    std::string declaration(int v) { return std::string(type_name(g.vars[v].type)) + " " + g.vars[v].name; }

    void program(dt_gen &gen)
    {
        for (int v = 0; v < (int)g.vars.size(); v++)
            if (g.vars[v].owner == -1)
                emit(0, declaration(v) + ";");
        for (dt_func &f : gen.funcs) {
            std::string params;
            for (int p : f.params)
                params += (params.empty() ? "" : ", ") + declaration(p);
            emit(0, "");
            emit(0, std::string(type_name(f.ret)) + " " + f.name + "(" + (params.empty() ? "void" : params) + ")");
            emit(0, "{");
            for (int l : f.locals)
                emit(1, declaration(l) + ";");
            block(f.body, 1);
            emit(0, "}");
        }
        emit(0, "");
        emit(0, "void main(void)");
        emit(0, "{");
        block(gen.init, 1);
        block(gen.main_body, 1);
        emit(1, "FINISH();");
        emit(0, "}");
    }
};

// ---------------------------------------------------------------------------
// the host's run
// ---------------------------------------------------------------------------
// Each node and statement costs an estimate of the cycles its code takes;
// the byte helpers of the run-time library cost more.
struct dt_machine {
    const dt_gen &g;
    std::vector<long> value;
    std::vector<int> written_at;
    int line = 0;
    unsigned long cost = 0;
    std::string fault;

    // Something C leaves undefined: the generator broke its own rules.
    void check(bool ok, const char *what)
    {
        if (!ok && fault.empty())
            fault = std::string(what) + " at line " + std::to_string(line);
    }

    long int_result(long v)
    {
        check(v >= -32768 && v <= 32767, "int overflow");
        return v;
    }

    void store(int v, long x)
    {
        value[v] = convert(g.vars[v].type, x);
        if (g.vars[v].owner == -1)
            written_at[v] = line;
    }

    long arith(const std::string &op, long a, long b)
    {
        if (op == "+") return int_result(a + b);
        if (op == "-") return int_result(a - b);
        if (op == "*") { cost += 60; return int_result(a * b); }
        if (op == "&") return a & b;
        if (op == "|") return a | b;
        if (op == "^") return a ^ b;
        if (op == "<<") {
            check(a >= 0 && b >= 0 && b < 16, "left shift of a negative value or by a bad count");
            cost += 6 * (unsigned long)std::max(b, 0L);
            return int_result(a << (b & 15));
        }
        if (op == ">>") {
            check(b >= 0 && b < 16, "right shift by a bad count");
            cost += 6 * (unsigned long)std::max(b, 0L);
            return a >> (b & 15);
        }
        if (op == "/" || op == "%") {
            check(b != 0, "division by zero");
            cost += 150;
            return b == 0 ? 0 : op == "/" ? a / b : a % b;
        }
        if (op == "==") return a == b;
        if (op == "!=") return a != b;
        if (op == "<") return a < b;
        if (op == "<=") return a <= b;
        if (op == ">") return a > b;
        return a >= b;
    }

    long call(int f, const std::vector<long> &args)
    {
        const dt_func &d = g.funcs[f];
        for (size_t i = 0; i < args.size(); i++)
            store(d.params[i], args[i]);
        int saved = line;
        long result = 0;
        cost += 20;
        exec(d.body, &result);
        line = saved;
        return convert(d.ret, result);
    }

    long eval(const expr_ptr &e)
    {
        cost += 4;
        switch (e->kind) {
        case E_VAR:
            return value[e->var];
        case E_CONST:
            return e->value;
        case E_CAST:
            return convert(e->type, eval(e->kids[0]));
        case E_UNARY: {
            long a = eval(e->kids[0]);
            return e->op == "-" ? int_result(-a) : e->op == "~" ? ~a : !a;
        }
        case E_BINARY: {
            long a = eval(e->kids[0]);
            if (e->op == "&&")
                return a && eval(e->kids[1]);
            if (e->op == "||")
                return a || eval(e->kids[1]);
            return arith(e->op, a, eval(e->kids[1]));
        }
        case E_COND:
            return eval(e->kids[0]) ? eval(e->kids[1]) : eval(e->kids[2]);
        case E_ASSIGN:
            store(e->var, eval(e->kids[0]));
            return value[e->var];
        case E_COMPOUND: {
            long b = eval(e->kids[0]);
            std::string op = e->op.substr(0, e->op.size() - 1);
            store(e->var, arith(op, value[e->var], b));
            return value[e->var];
        }
        case E_INCDEC: {
            long old = value[e->var];
            store(e->var, old + (e->op == "++" ? 1 : -1));
            return e->prefix ? value[e->var] : old;
        }
        case E_CALL: {
            std::vector<long> args;
            for (auto &k : e->kids)
                args.push_back(eval(k));
            return call(e->fn, args);
        }
        }
        return 0;
    }

    // Runs statements; true when one of them returned (the value in *result).
    bool exec(const std::vector<dt_stmt> &body, long *result)
    {
        for (const dt_stmt &s : body)
            if (exec(s, result))
                return true;
        return false;
    }

    bool exec(const dt_stmt &s, long *result)
    {
        line = s.line;
        cost += 4;
        if (s.kind == S_EXPR) {
            eval(s.e);
            return false;
        }
        if (s.kind == S_RETURN) {
            *result = eval(s.e);
            return true;
        }
        if (s.kind == S_IF)
            return eval(s.e) ? exec(s.body, result) : exec(s.other, result);
        int c = s.counter;
        store(c, s.form == L_DOWN ? eval(s.e) : 0);
        for (int trips = 0;; trips++) {
            check(trips <= 8, "a loop that does not end");
            if (!fault.empty())
                return false;
            line = s.line;
            cost += 8;
            if (s.form == L_DOWN && value[c] == 0)
                break;
            if ((s.form == L_FOR || s.form == L_UP) && !(value[c] < eval(s.e)))
                break;
            if (exec(s.body, result))
                return true;
            line = s.line;
            store(c, value[c] + (s.form == L_DOWN ? -1 : 1));
            if (s.form == L_DO && !(value[c] < eval(s.e)))
                break;
        }
        return false;
    }
};

} // namespace

dt_program difftest_generate(uint64_t seed, const dt_options &opt)
{
    dt_program out;
    out.seed = seed;
    // a program that would run too long is made again from the same
    // sequence, so a seed still names one program
    dt_rng rng{seed};
    for (int attempt = 0;; attempt++) {
        dt_gen g;
        g.rng = rng;
        g.opt = opt;
        g.gen_program();
        rng = g.rng;
        dt_printer pr{g, {}};
        pr.program(g);
        dt_machine m{g, std::vector<long>(g.vars.size(), 0), std::vector<int>(g.vars.size(), 0), 0, 0, ""};
        long unused = 0;
        m.exec(g.init, &unused);
        m.exec(g.main_body, &unused);
        if (m.cost > cost_bound && m.fault.empty() && attempt < 20)
            continue;
        std::ostringstream text;
        for (const std::string &l : pr.lines)
            text << l << "\n";
        out.text = text.str();
        out.cost = m.cost;
        out.error = m.fault;
        for (int v = 0; v < (int)g.vars.size(); v++)
            if (g.vars[v].owner == -1)
                out.expect.push_back({g.vars[v].name, (int)(m.value[v] & 0xFF), m.written_at[v]});
        return out;
    }
}

std::string difftest_line(const dt_program &p, int line)
{
    std::istringstream in(p.text);
    std::string s;
    for (int i = 0; i < line && std::getline(in, s); i++)
        continue;
    return s;
}
