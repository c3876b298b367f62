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
#include "difftest_tree.h"

#include <algorithm>
#include <cstdio>
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

// Sizes of a program.
const int input_count = 8;       // per byte type
const int result_count = 10;
const int max_depth = 4;         // of an expression tree
const int max_nest = 2;          // of if and loop statements
const unsigned long cost_bound = 400000;   // estimated cycles (within a third of gpsim's); the run allows 3,000,000

// A name of the program: a letter and a number.
std::string numbered(const char *prefix, int i)
{
    std::string s = prefix;
    s += std::to_string(i);
    return s;
}

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
    dt_tree tree;                     // the program made
    std::vector<dt_var> &vars = tree.vars;
    std::vector<dt_func> &funcs = tree.funcs;
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
    bool no_calls = false;            // no calls (fsum's update)
    // sizes of the program: smaller for chips of a few dozen bytes of RAM
    int input_count = ::input_count;
    int result_count = ::result_count;
    int max_depth = ::max_depth;
    int max_nest = ::max_nest;
    bool small = false;

    int add_var(const std::string &name, dt_type t, dt_role role, int owner)
    {
        vars.push_back({name, t, role, owner});
        return (int)vars.size() - 1;
    }
    dt_type byte_type() { return rng.chance(50) ? T_UC : T_SC; }
    template <class T> T pick(const std::vector<T> &v) { return v[rng.below((unsigned)v.size())]; }

    // A full expression begins: nothing read or written in it yet.
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
        long v = dt_convert(t, (long)rng.below(256));
        if (rng.chance(30))
            v = pick(std::vector<long>{0, 1, 2, 7, 127, -1, -128, 128, 255});
        v = dt_convert(t, v);
        char buf[48];
        unsigned form = rng.below(10);
        if (form < 3) {
            snprintf(buf, sizeof buf, "((%s)%ld)", dt_type_name(t), v);
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
            e->kids.push_back(gen_low(depth + 1));
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
            expr_ptr rhs = gen_low(depth + 1);
            expr_ptr e = make(E_ASSIGN, "=", vars[v].type, type_range(vars[v].type), {rhs});
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
        return make_binary("&", gen_low(depth + 1), make_const(7, T_INT, "7"));
    }

    // A divisor that is never 0: a byte with its low bit set.
    expr_ptr gen_divisor(int depth, dt_class c)
    {
        return make_binary("|", gen_byte(depth + 1, c), make_const(1, T_INT, "1"));
    }

    // v op= e, e made so that v's promoted value op e stays defined.
    expr_ptr gen_compound(int v, int depth)
    {
        dt_type t = vars[v].type;
        std::vector<std::string> ops = {"+=", "-=", "&=", "|=", "^="};
        if (t == T_UC)   // a negative value shifted left is undefined
            ops.push_back("<<=");
        ops.push_back(">>=");
        ops.insert(ops.end(), {"*=", "/=", "%="});
        std::string op = pick(ops);
        expr_ptr rhs;
        if (op == "/=" || op == "%=") {
            dt_class c = class_of(t);
            if (rng.chance(50))
                c = c == C_U ? C_S : C_U;
            rhs = gen_divisor(depth, c);
        } else if (op == "<<=" || op == ">>=") {
            rhs = gen_count(depth);
        } else {
            rhs = fit_operand(op, t, gen_low(depth + 1));
        }
        expr_ptr e = make(E_COMPOUND, op, t, type_range(t), {rhs});
        e->var = v;
        return e;
    }

    // The right side of v op= e narrowed to a byte while v's promoted
    // value op e could leave int.
    expr_ptr fit_operand(const std::string &op, dt_type t, expr_ptr rhs)
    {
        std::string bare = op.substr(0, 1);
        while (!inside(binary_range(bare, type_range(t), rhs->range), type_range(T_INT)))
            rhs = make_cast(rng.chance(50) && bare != "*" ? T_UC : T_SC, rhs);
        return rhs;
    }

    // + - *: operands narrowed to a byte while the result could leave int.
    expr_ptr gen_arith(std::string op, int depth)
    {
        expr_ptr a = gen_low(depth + 1), b = gen_low(depth + 1);
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
        std::string op = ops[rng.below(6)];
        expr_ptr a = gen_byte(depth + 1, c);
        expr_ptr b = gen_byte(depth + 1, c);
        return make_binary(op, a, b);
    }

    // An expression of which only the low byte counts.
    expr_ptr gen_low(int depth)
    {
        if (depth >= max_depth)
            return gen_leaf(C_NONE);
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
            e = make_binary(pick(std::vector<std::string>{"&", "|", "^"}), gen_low(depth + 1),
                            gen_low(depth + 1));
        else if (r < 54) {
            expr_ptr a = gen_low(depth + 1);
            if (rng.chance(50) && a->range.lo == -32768)
                a = make_cast(byte_type(), a);
            e = make_unary(a->range.lo == -32768 ? "~" : pick(std::vector<std::string>{"-", "~"}), a);
        } else if (r < 57)
            e = make_unary("!", gen_truth(depth + 1));
        else if (r < 61) {
            expr_ptr a = rng.chance(50) ? gen_byte(depth + 1, C_U) : make_cast(T_UC, gen_low(depth + 1));
            e = make_binary("<<", a, gen_count(depth));
        } else if (r < 65) {
            dt_class c = rng.chance(50) ? C_U : C_S;
            expr_ptr a = gen_byte(depth + 1, c);
            e = make_binary(">>", a, gen_count(depth));
        } else if (r < 71) {
            dt_class c = rng.chance(50) ? C_U : C_S;
            expr_ptr a = gen_byte(depth + 1, c);
            e = make_binary(rng.chance(50) ? "/" : "%", a, gen_divisor(depth, c));
        } else if (r < 79)
            e = gen_comparison(depth);
        else if (r < 83)
            e = gen_logic(depth);
        else if (r < 87)
            e = gen_conditional(depth);
        else if (r < 93)
            e = gen_effect(depth, C_NONE);
        else if (r >= 93)
            e = make_cast(pick(std::vector<dt_type>{T_UC, T_SC, T_INT}), gen_low(depth + 1));
        return e ? e : gen_leaf(C_NONE);
    }

    // c ? a : b: arms of a byte type unless wider arms are allowed.
    expr_ptr gen_conditional(int depth)
    {
        expr_ptr c = gen_truth(depth + 1);
        expr_ptr a = gen_low(depth + 1);
        expr_ptr b = gen_low(depth + 1);
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
            e = make_cast(t, gen_low(depth + 1));
        else if (r < 84) {
            expr_ptr a = gen_byte(depth + 1, c);
            expr_ptr b = a->kind == E_CONST ? gen_leaf(c) : gen_byte(depth + 1, c);
            e = make_binary(pick(std::vector<std::string>{"&", "|", "^"}), a, b);
            if (e->cls != c)   // two constants: the parser folds them to an int
                e = make_cast(t, e);
        } else if (r < 90) {
            expr_ptr a = gen_byte(depth + 1, c);
            e = a->kind == E_CONST ? a : make_cast(T_INT, a);
        } else
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
        return gen_logic(depth);
    }

    expr_ptr gen_logic(int depth)
    {
        std::string op = rng.chance(50) ? "&&" : "||";
        expr_ptr a = gen_truth(depth + 1);
        expr_ptr b = gen_truth(depth + 1);
        return make_binary(op, a, b);
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
            std::string op = rng.chance(50) ? "+=" : "-=";
            expr_ptr e = make(E_COMPOUND, op, T_UC, type_range(T_UC), {fit_operand(op, T_UC, gen_low(1))});
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
        expr_ptr rhs = gen_low(0);
        expr_ptr e = make(E_ASSIGN, "=", vars[v].type, type_range(vars[v].type), {rhs});
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
        if (fn != -1 && rng.chance(25))   // an early return
            s.body.push_back(gen_return());
        if (rng.chance(50))
            s.other = gen_block(1 + (int)rng.below(2));
        nest--;
        return s;
    }

    dt_stmt gen_return()
    {
        begin_expression();
        dt_stmt ret;
        ret.kind = S_RETURN;
        ret.e = gen_low(0);
        return ret;
    }

    dt_stmt gen_loop()
    {
        dt_stmt s;
        s.kind = S_LOOP;
        s.form = (dt_loop_form)rng.below(4);
        s.counter = fn == -1 ? main_counters[loops] : funcs[fn].counter;
        begin_expression();
        if (s.form == L_DOWN) {
            s.e = make_binary("&", gen_low(1), make_const(7, T_INT, "7"));
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

    // How a case label writes the value y of the selector's type: in
    // decimal or hexadecimal, or as a value that converts to it (a cast,
    // and for unsigned long a negative int).
    std::string label_text(dt_sel w, long y)
    {
        const dt_sel_type &t = dt_sel_info(w);
        long span = 1L << t.bits;
        char buf[80];
        unsigned r = rng.below(10);
        if (!t.is_signed && y >= span / 2 && r < 4) {
            long other = y - span;
            if (w == W_ULONG && r < 2 && other > -2147483647L)
                snprintf(buf, sizeof buf, "%ld", other);
            else
                snprintf(buf, sizeof buf, "(%s)(%ld)", t.name, other);
        } else if (t.is_signed && y < 0 && r < 2 && w != W_INT) {
            snprintf(buf, sizeof buf, "(%s)(0x%lX)", t.name, y + span);
        } else if (y == -2147483647L - 1) {
            snprintf(buf, sizeof buf, "(-2147483647 - 1)");
        } else if (y >= 0 && (r < 7 || y > 2147483647L)) {
            snprintf(buf, sizeof buf, "0x%lX", y);
        } else {
            snprintf(buf, sizeof buf, "%ld", y);
        }
        return buf;
    }

    // A random value of a selector's type.
    long any_value(dt_sel w)
    {
        return dt_sel_convert(w, (long)(rng.next() & 0xFFFFFFFFu));
    }

    // switch (selector) { case ...: ... }: the selector of any of the
    // integer types, a variable or an expression (in the wider types
    // shifted by a constant); labels dense (a run of the values the
    // selector takes) or sparse (with values far outside them), in arms of
    // one or two labels, with or without a default, each arm ending in a
    // break or falling into the next; under no pragma or one of two kinds.
    dt_stmt gen_switch()
    {
        dt_stmt s;
        s.kind = S_SWITCH;
        begin_expression();
        unsigned which = rng.below(100);
        s.sel = which < 25 ? W_UC : which < 45 ? W_SC : which < 60 ? W_INT : (dt_sel)(W_UINT + rng.below(5));
        const dt_sel_type &t = dt_sel_info(s.sel);
        dt_range window{0, 0};   // values of the core that labels are taken near
        bool counter = false;
        if (t.bits == 8) {
            dt_class c = s.sel == W_UC ? C_U : C_S;
            std::vector<int> vars = readable(c), counters;
            for (int v : vars)
                if (vars_role(v) == R_COUNTER)
                    counters.push_back(v);
            unsigned r = rng.below(10);
            if (!counters.empty() && r < 4) {
                s.e = read_var(pick(counters));
                counter = true;
            } else if (!vars.empty() && r < 6) {
                s.e = read_var(pick(vars));
            } else if (r < 8) {
                s.e = gen_byte(1, c);
            } else {
                s.e = gen_low(1);
            }
            s.plain = s.e->type == (c == C_U ? T_UC : T_SC) && s.e->kind != E_CONST;
        } else {
            unsigned r = rng.below(10);
            if (r < 3)
                s.e = gen_low(1);
            else if (r < 7) {
                long m = pick(std::vector<long>{3, 7, 15});
                s.e = make_binary("&", gen_low(1), make_const(m, T_INT, std::to_string(m)));
            } else
                s.e = gen_byte(1, rng.chance(50) ? C_U : C_S);
            // a bare byte-typed selector keeps its byte type (the code
            // generator refuses labels outside it, 696): only an int is bare
            s.plain = s.sel == W_INT && rng.chance(50) && s.e->type == T_INT;
            if (!s.plain && rng.chance(s.sel == W_INT ? 25 : 50)) {
                s.sel_op = rng.chance(60) ? "+" : "^";
                if (s.sel_op == "^" || !t.is_signed)
                    s.sel_k = any_value(s.sel);
                else {   // a signed sum stays in its type
                    long lo = -(1L << (t.bits - 1)) - s.e->range.lo, hi = (1L << (t.bits - 1)) - 1 - s.e->range.hi;
                    s.sel_k = lo > hi ? 0 : lo + (long)(rng.next() % (unsigned long)(hi - lo + 1));
                }
            }
        }
        window = counter ? dt_range{0, 8} : s.e->range;
        if (window.hi - window.lo > 40) {
            window.lo += (long)(rng.next() % (unsigned long)(window.hi - window.lo - 40));
            window.hi = window.lo + 40;
        }
        // the selector's value for a value of the core
        auto value_of = [&](long x) {
            long v = dt_sel_convert(s.sel, x);
            if (s.sel_op.empty())
                return v;
            long k = dt_sel_convert(s.sel, s.sel_k);
            return dt_sel_convert(s.sel, s.sel_op == "+" ? v + k : v ^ k);
        };
        int n = 1 + (int)rng.below(small ? 4 : 8);
        std::vector<long> labels;
        std::set<long> taken;
        auto add_label = [&](long y) {
            if (taken.insert(y).second)
                labels.push_back(y);
        };
        if (rng.chance(50)) {   // dense: a run of the core's values
            long x = window.lo + (long)rng.below((unsigned)(window.hi - window.lo + 1));
            for (int i = 0; i < n; i++)
                add_label(value_of(x + i - (rng.chance(20) ? 1 : 0)));
        } else {
            for (int i = 0; i < n; i++)
                add_label(rng.chance(25) ? any_value(s.sel)
                                         : value_of(window.lo + (long)rng.below((unsigned)(window.hi - window.lo + 1))));
        }
        if (rng.chance(30))
            for (size_t i = labels.size(); i > 1; i--)
                std::swap(labels[i - 1], labels[rng.below((unsigned)i)]);
        long low = *std::min_element(labels.begin(), labels.end());
        long high = *std::max_element(labels.begin(), labels.end());
        unsigned kind = rng.below(100);
        // a table of more than 64 values would crowd the page
        if (kind < 25 && (high - low < 64 || high - low > 256))
            s.pragma = "direct";
        else if (kind < 40)
            s.pragma = "simple";
        // the arms, and where the default goes
        std::vector<dt_stmt> arms;
        for (size_t i = 0; i < labels.size();) {
            dt_stmt arm;
            arm.kind = S_CASE;
            size_t take = rng.chance(30) && i + 1 < labels.size() ? 2 : 1;
            for (size_t k = 0; k < take; k++, i++) {
                arm.labels.push_back(labels[i]);
                arm.label_text.push_back(label_text(s.sel, labels[i]));
            }
            arms.push_back(arm);
        }
        if (rng.chance(60)) {
            size_t at = rng.below((unsigned)arms.size() + 1);
            if (at < arms.size() && rng.chance(40))
                arms[at].is_default = true;
            else {
                dt_stmt arm;
                arm.kind = S_CASE;
                arm.is_default = true;
                arms.insert(arms.begin() + (long)at, arm);
            }
        }
        nest++;
        for (size_t i = 0; i < arms.size(); i++) {
            dt_stmt &arm = arms[i];
            int count = rng.chance(60) ? 1 : rng.chance(50) ? 0 : 2;
            arm.body = gen_block(count);
            if (fn != -1 && rng.chance(15))
                arm.body.push_back(gen_return());
            else
                arm.brk = rng.chance(i + 1 == arms.size() ? 50 : 75);
        }
        if (arms.back().body.empty())   // a label needs a statement after it
            arms.back().brk = true;
        nest--;
        s.body = arms;
        return s;
    }

    dt_role vars_role(int v) { return vars[v].role; }

    dt_stmt gen_statement()
    {
        unsigned r = rng.below(100);
        int loop_levels = fn == -1 ? (int)main_counters.size() : 1;
        if (nest < max_nest && r < 12)
            return gen_if();
        if (nest < max_nest && loops < loop_levels && r < 22)
            return gen_loop();
        if (nest < max_nest && r >= 22 && r < 30)
            return gen_switch();
        return gen_simple();
    }

    // ---- the program
    void gen_globals()
    {
        for (int i = 0; i < input_count; i++)
            add_var(numbered("u", i), T_UC, R_INPUT, -1);
        for (int i = 0; i < input_count; i++)
            add_var(numbered("s", i), T_SC, R_INPUT, -1);
        for (int i = 0; i < result_count; i++)
            add_var(numbered("r", i), byte_type(), R_RESULT, -1);
        for (int i = 0; i < max_nest; i++)
            main_counters.push_back(add_var(numbered("i", i), T_UC, R_COUNTER, -1));
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
            d.params.push_back(add_var(numbered("p", i), byte_type(), R_PARAM, f));
        int nl = 1 + (int)rng.below(2);
        for (int i = 0; i < nl; i++)
            d.locals.push_back(add_var(numbered("a", i), byte_type(), R_LOCAL, f));
        d.counter = add_var("k", T_UC, R_COUNTER, f);
        d.locals.push_back(d.counter);
        // every local is set before anything reads it
        unset.insert(d.locals.begin(), d.locals.begin() + nl);
        for (int i = 0; i < nl; i++) {
            begin_expression();
            int v = d.locals[i];
            dest = v;
            expr_ptr e = make(E_ASSIGN, "=", vars[v].type, type_range(vars[v].type), {gen_low(1)});
            e->var = v;
            unset.erase(v);
            d.body.push_back(expression_statement(e));
        }
        std::vector<dt_stmt> more = gen_block(1 + (int)rng.below(4));
        d.body.insert(d.body.end(), more.begin(), more.end());
        d.body.push_back(gen_return());
        collect_reads(d.body, d.reads);
        fn = -1;
    }

    void gen_program()
    {
        gen_globals();
        funcs.resize(small ? 1 : 2 + rng.below(3));
        for (int f = 0; f < (int)funcs.size(); f++)
            gen_function(f);
        for (int v = 0; v < (int)vars.size(); v++) {
            if (vars[v].owner != -1)
                continue;
            long value = vars[v].role == R_INPUT || vars[v].role == R_RESULT ? dt_convert(vars[v].type, rng.below(256)) : 0;
            expr_ptr e = make(E_ASSIGN, "=", vars[v].type, type_range(vars[v].type),
                              {make_const(value, T_INT, std::to_string(value))});
            e->var = v;
            tree.init.push_back(expression_statement(e));
        }
        // globals reached through indexes and pointers take more code a
        // statement: fewer statements keep main within a page
        dt_storage how = (dt_storage)rng.below(ST_KINDS);
        tree.main_body = gen_block(how == ST_PLAIN || how == ST_MEMBER ? 10 + (int)rng.below(9)
                                                                       : 5 + (int)rng.below(5));
        place_globals(how);
    }

    // The globals moved into aggregates: the host's run is the same, the
    // code reaches them through members, indexes and pointers.
    void place_globals(dt_storage how)
    {
        tree.storage = how;
        if (how == ST_PLAIN)
            return;
        unsigned count[2] = {0, 0}, all = 0;
        for (dt_var &v : vars)
            if (v.owner == -1)
                count[v.type == T_SC]++;
        for (dt_var &v : vars) {
            if (v.owner != -1)
                continue;
            bool sgn = v.type == T_SC;
            const char *array = sgn ? "gs" : "gu";
            unsigned k = v.offset = sgn ? --count[1] : --count[0];   // the last first
            std::string element = std::string(array) + "[" + std::to_string(k) + "]";
            v.object = array;
            switch (how) {
            case ST_ARRAY: v.access = element; break;
            case ST_MEMBER:
                v.object = "gv";
                v.offset = all++;
                v.access = "gv." + v.name;
                break;
            case ST_POINTER: v.access = "(*p_" + v.name + ")"; break;
            case ST_TABLE:   // the table holds the index at its mirror place
                v.access = std::string(array) + "[x" + array + "[" + std::to_string(k) + "]]";
                break;
            default: break;
            }
        }
    }
};

// The nodes of statements' expressions and case labels: roughly how much
// code they make.
unsigned weight(const expr_ptr &e)
{
    unsigned n = e ? 1 : 0;
    if (e)
        for (const expr_ptr &k : e->kids)
            n += weight(k);
    return n;
}

unsigned weight(const std::vector<dt_stmt> &body)
{
    unsigned n = 0;
    for (const dt_stmt &s : body)
        n += 2 + weight(s.e) + weight(s.body) + weight(s.other) + 3 * (unsigned)s.labels.size();
    return n;
}

} // namespace

dt_program difftest_generate(uint64_t seed, bool small)
{
    dt_program out;
    out.seed = seed;
    // a program that would run too long is made again from the same
    // sequence, so a seed still names one program
    dt_rng rng{seed};
    for (int attempt = 0;; attempt++) {
        dt_gen g;
        g.rng = rng;
        if (small) {
            g.small = true;
            g.input_count = 2;
            g.result_count = 2;
            g.max_depth = 2;
            g.max_nest = 1;
        }
        g.gen_program();
        rng = g.rng;
        std::vector<std::string> lines = dt_print(g.tree);
        dt_outcome run = dt_run(g.tree);
        // main within a page: statements nested in switches can swell it
        bool direct = g.tree.storage == ST_PLAIN || g.tree.storage == ST_MEMBER;
        bool too_big = weight(g.tree.main_body) > (direct ? 850u : 500u);
        if ((run.cost > cost_bound || too_big) && run.fault.empty() && attempt < 20)
            continue;
        std::ostringstream text;
        for (const std::string &l : lines)
            text << l << "\n";
        out.text = text.str();
        out.cost = run.cost;
        out.error = run.fault;
        for (int v = 0; v < (int)g.vars.size(); v++)
            if (g.vars[v].owner == -1) {
                const dt_var &d = g.vars[v];
                out.expect.push_back({d.object.empty() ? d.name : d.object, (int)(run.value[v] & 0xFF),
                                      run.written_at[v], d.offset});
            }
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
