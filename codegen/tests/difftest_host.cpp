// The printer of a generated program and the host's run of it (see
// difftest_tree.h).
//
// The printer writes one statement per line and fully parenthesised
// expressions, so the text needs no rule of precedence to read as the tree.
// The host's run walks the same tree with C's rules for the 16-bit int of
// the target: operands promoted, results converted to the destination's
// type, && || ?: evaluated lazily, a switch entered at the arm of the
// selector's value as its type holds it. It checks on the way that nothing C
// leaves undefined happens (int overflow, division by 0, a negative value
// shifted left), which would be a fault of the generator.
#include "difftest_tree.h"

#include <algorithm>
#include <cstdio>

namespace {

// ---------------------------------------------------------------------------
// printing
// ---------------------------------------------------------------------------
struct dt_printer {
    const dt_tree &g;
    std::vector<std::string> lines;

    // `outer`: the expression stands alone (a statement, an argument, a
    // right side), so needs no parentheses of its own.
    std::string expr(const expr_ptr &e, bool outer)
    {
        std::string s;
        const std::string name = e->var >= 0 ? reach(e->var) : std::string();
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
            s = "(";
            s += dt_type_name(e->type);
            s += ")" + expr(e->kids[0], false);
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

    // How the program names a variable: a global in an aggregate by the
    // way to it.
    std::string reach(int v) const
    {
        return g.vars[v].access.empty() ? g.vars[v].name : g.vars[v].access;
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
        if (s.kind == S_SWITCH) {
            if (!s.pragma.empty())
                emit(0, "#pragma switch " + s.pragma);
            s.line = emit(indent, "switch (" + selector(s) + ") {");
            for (dt_stmt &arm : s.body) {
                for (const std::string &label : arm.label_text)
                    arm.line = emit(indent, "case " + label + ":");
                if (arm.is_default)
                    arm.line = emit(indent, "default:");
                block(arm.body, indent + 1);
                if (arm.brk)
                    emit(indent + 1, "break;");
            }
            emit(indent, "}");
            return;
        }
        std::string c = reach(s.counter);
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

    // A selector: e in the selector's type, combined with a constant of
    // that type and converted back (a no-op on the target; what a
    // narrower host type needs). The wider types' casts are always
    // followed by a parenthesis: the host compiler's check reads them as
    // macros.
    std::string selector(const dt_stmt &s)
    {
        if (s.plain)
            return expr(s.e, true);
        std::string cast = std::string("(") + dt_sel_info(s.sel).name + ")";
        std::string v = cast + "(" + expr(s.e, true) + ")";
        if (s.sel_op.empty())
            return v;
        char k[40];
        if (s.sel_k == -2147483647L - 1)
            snprintf(k, sizeof k, "(-2147483647 - 1)");
        else
            snprintf(k, sizeof k, s.sel_k > 2147483647L ? "0x%lX" : "%ld", s.sel_k);
        return cast + "(" + v + " " + s.sel_op + " " + cast + "(" + k + "))";
    }

    std::string declaration(int v) { return std::string(dt_type_name(g.vars[v].type)) + " " + g.vars[v].name; }

    // The aggregates that hold the globals (the tables of indexes hold each
    // global's index at the mirror place of its own).
    void aggregates()
    {
        std::vector<int> globals[2];
        for (int v = 0; v < (int)g.vars.size(); v++)
            if (g.vars[v].owner == -1)
                globals[g.vars[v].type == T_SC].push_back(v);
        if (g.storage == ST_MEMBER) {
            emit(0, "struct {");
            for (int v = 0; v < (int)g.vars.size(); v++)
                if (g.vars[v].owner == -1)
                    emit(1, declaration(v) + ";");
            emit(0, "} gv;");
            return;
        }
        for (int sgn = 0; sgn < 2; sgn++) {
            size_t n = globals[sgn].size();
            if (!n)
                continue;
            const char *array = sgn ? "gs" : "gu";
            emit(0, std::string(dt_type_name(sgn ? T_SC : T_UC)) + " " + array + "[" + std::to_string(n) + "];");
            if (g.storage == ST_TABLE) {
                std::string table;
                for (size_t i = 0; i < n; i++)
                    table += (i ? ", " : "") + std::to_string(i);
                emit(0, std::string("const unsigned char x") + array + "[] = {" + table + "};");
            }
            for (int v : globals[sgn])
                if (g.storage == ST_POINTER)
                    emit(0, std::string(dt_type_name(g.vars[v].type)) + " *p_" + g.vars[v].name + " = &" + array +
                                "[" + std::to_string(g.vars[v].offset) + "];");
        }
    }

    void program(dt_tree &gen)
    {
        if (g.storage != ST_PLAIN)
            aggregates();
        for (int v = 0; v < (int)g.vars.size(); v++)
            if (g.vars[v].owner == -1 && g.vars[v].access.empty())
                emit(0, declaration(v) + ";");
        for (dt_func &f : gen.funcs) {
            std::string params;
            for (int p : f.params)
                params += (params.empty() ? "" : ", ") + declaration(p);
            emit(0, "");
            emit(0, std::string(dt_type_name(f.ret)) + " " + f.name + "(" + (params.empty() ? "void" : params) + ")");
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
    const dt_tree &g;
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
        value[v] = dt_convert(g.vars[v].type, x);
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
        return dt_convert(d.ret, result);
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
            return dt_convert(e->type, eval(e->kids[0]));
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

    // The selector's value as its type holds it.
    long selector(const dt_stmt &s)
    {
        long x = dt_sel_convert(s.sel, eval(s.e));
        if (s.sel_op.empty())
            return x;
        long k = dt_sel_convert(s.sel, s.sel_k);
        long r = s.sel_op == "+" ? x + k : x ^ k;
        // int and the wider signed types must not overflow (the byte types
        // are promoted to int first)
        if (dt_sel_info(s.sel).bits >= 16 && dt_sel_info(s.sel).is_signed)
            check(r == dt_sel_convert(s.sel, r), "overflow in a switch's selector");
        return dt_sel_convert(s.sel, r);
    }

    // The arm whose label holds the selector's value, else the default's,
    // then the arms after it until a break (or a return).
    bool exec_switch(const dt_stmt &s, long *result)
    {
        long v = selector(s);
        size_t entry = s.body.size();
        unsigned long bytes = (unsigned long)dt_sel_info(s.sel).bits / 8;
        for (size_t i = 0; i < s.body.size() && entry == s.body.size(); i++)
            for (long label : s.body[i].labels) {
                cost += 4 * bytes;
                if (label == v)
                    entry = i;
            }
        for (size_t i = 0; i < s.body.size() && entry == s.body.size(); i++)
            if (s.body[i].is_default)
                entry = i;
        for (size_t i = entry; i < s.body.size(); i++) {
            if (exec(s.body[i].body, result))
                return true;
            if (s.body[i].brk)
                break;
        }
        return false;
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
        if (s.kind == S_SWITCH)
            return exec_switch(s, result);
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

std::vector<std::string> dt_print(dt_tree &t)
{
    dt_printer pr{t, {}};
    pr.program(t);
    return pr.lines;
}

dt_outcome dt_run(const dt_tree &t)
{
    dt_machine m{t, std::vector<long>(t.vars.size(), 0), std::vector<int>(t.vars.size(), 0), 0, 0, ""};
    long unused = 0;
    m.exec(t.init, &unused);
    m.exec(t.main_body, &unused);
    return {m.value, m.written_at, m.cost, m.fault};
}
