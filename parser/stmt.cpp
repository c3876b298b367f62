// stmt: function bodies and statements, lowered to labels and jumps.
//
// Every control statement becomes expression records: "$U L" jumps,
// "$ C L" jumps when C holds ("$ ! C L" when it does not), ":U L" defines
// a label, and a switch becomes a "[\" record listing its case values and
// labels, placed after the body behind a jump, so the dispatch reads the
// whole case list at once.
#include "plover.h"

#include <map>

struct switch_t {
    tree_t *expr;                                 // the switch value
    std::vector<std::pair<tree_t *, int>> cases;  // (value, label)
    int default_label;                            // 0 none yet
};

struct jumps_t {
    int brk;          // break label, 0 none
    int cont;         // continue label, 0 none
    bool *cont_used;  // set when continue was used
    bool *brk_used;   // set when break was used
    switch_t *sw;     // the enclosing switch, or null
};

struct label_t {
    int number;
    bool defined;
    bool used;
    int line;
};

static int fn_exit;                          // the function's exit label
static bool fn_unreachable;                  // the last statement was a jump
static bool fn_unreachable_reported;         // 345 given for this stretch
static bool fn_returned_value;               // some return gave a value
static bool fn_silent_return;                // return type void, int or a typedef name
static std::map<std::string, label_t> fn_labels; // the labels of the function
static int stmt_depth;                       // compound statements open inside the body
static bool fn_body_cut;                     // a declaration ended the body early (249)

static void stmt_statement(const jumps_t &j, bool single);

static bool stmt_silent_type(type_t *t)
{
    if (!t || t->kind != TY_BASE)
        return false;
    return t->base == B_VOID || t->base == B_INT || t->base == B_TYPEDEF;
}

static void stmt_define(int label)
{
    ic_comment_flush();
    ic_label(label);
    fn_unreachable = false;
    fn_unreachable_reported = false;
}

static tree_t *stmt_paren_expr()
{
    if (lex_next() != O_LPAREN) {
        msg_report(317);
        lex_unget();
    }
    tree_t *e = expr_parse(EC_STMT);
    if (lex_next() != O_RPAREN) {
        msg_report(194);
        lex_unget();
        lex_skip_statement();
    }
    return e;
}

static bool stmt_const_value(tree_t *e, int64_t want)
{
    int64_t v;
    return e && expr_value(e, &v) && v == want && e->op != O_IDENT;
}

static void stmt_block_items(const jumps_t &j)
{
    while (!fn_body_cut) {
        int c = lex_next();
        if (c == T_RBRACE)
            return;
        if (c == T_EOF) {
            msg_report(300);
            lex_unget();
            return;
        }
        lex_unget();
        bool decl = type_is_decl_start() || (c == O_IDENT && type_two_names());
        if (decl)
            decl_local();
        else
            stmt_statement(j, false);
    }
}

static void stmt_if(const jumps_t &j)
{
    tree_t *c = stmt_paren_expr();
    int f = sym_next_label();
    if (c)
        ic_cjump(expr_bool(c), f, true);
    stmt_statement(j, true);
    bool then_unreachable = fn_unreachable;
    if (lex_next() == K_ELSE) {
        int e = sym_next_label();
        ic_jump(e);
        stmt_define(f);
        stmt_statement(j, true);
        bool else_unreachable = fn_unreachable;
        stmt_define(e);
        fn_unreachable = then_unreachable && else_unreachable;
    } else {
        lex_unget();
        stmt_define(f);
    }
}

// A loop body at label t with break b and continue n; n is defined after
// the body when continue used it (or always). Returns whether break was used.
static bool stmt_loop_body(int t, int b, int n, bool always_n, const jumps_t &outer)
{
    bool cont_used = false, brk_used = false;
    stmt_define(t);
    jumps_t j{b, n, &cont_used, &brk_used, outer.sw};
    // a condition or step written after the body keeps its tree meanwhile
    sym_recycle_hold++;
    stmt_statement(j, true);
    sym_recycle_hold--;
    if (cont_used || always_n)
        stmt_define(n);
    return brk_used;
}

static void stmt_while(const jumps_t &outer)
{
    tree_t *c = stmt_paren_expr();
    int n = sym_next_label(), t = sym_next_label(), b = sym_next_label();
    bool forever = stmt_const_value(c, 1);
    if (!forever)
        ic_jump(n);
    bool brk_used = stmt_loop_body(t, b, n, true, outer);
    if (forever)
        ic_jump(t);
    else if (c)
        ic_cjump(expr_bool(c), t, false);
    stmt_define(b);
    fn_unreachable = forever && !brk_used;
}

static void stmt_do(const jumps_t &outer)
{
    int t = sym_next_label(), n = sym_next_label(), b = sym_next_label();
    stmt_loop_body(t, b, n, false, outer);
    if (lex_next() != K_WHILE) {
        msg_report(319);
        lex_unget();
        lex_skip_statement();
        return;
    }
    tree_t *c = stmt_paren_expr();
    if (c && !stmt_const_value(c, 0))
        ic_cjump(expr_bool(c), t, false);
    if (lex_next() != T_SEMI) {
        msg_report(314);
        lex_unget();
    }
    stmt_define(b);
}

// The test of a for loop goes to the top when it compares a variable with
// a constant and the variable starts from a constant or is local.
static bool stmt_for_test_at_top(tree_t *init, tree_t *c)
{
    if (!c || c->op < O_LT || c->op > O_NE)
        return false;
    tree_t *l = c->left;
    while (l && l->op == O_CONV)
        l = l->left;
    if (!l || l->op != O_IDENT || !expr_is_constant(c->right))
        return false;
    bool init_const = init && init->op == O_ASSIGN && init->left->op == O_IDENT &&
                      expr_is_constant(init->right);
    return init_const || (l->sym->cls != K_EXTERN && l->sym->cls != K_STATIC);
}

static tree_t *stmt_optional_expr(int end)
{
    if (lex_next() == end) {
        lex_unget();
        return nullptr;
    }
    lex_unget();
    return expr_parse(EC_STMT);
}

static void stmt_for(const jumps_t &outer)
{
    if (lex_next() != O_LPAREN) {
        msg_report(317);
        lex_unget();
    }
    tree_t *init = nullptr;
    lex_next();
    bool decl = type_is_decl_start();
    lex_unget();
    // a declaration in the first part has a block of its own around the loop
    if (decl)
        sym_enter_block(true);
    if (decl) {
        decl_local();
    } else {
        init = stmt_optional_expr(T_SEMI);
        if (init)
            ic_stmt(init);
        lex_expect(T_SEMI, ";");
    }
    tree_t *c = stmt_optional_expr(T_SEMI);
    unsigned cond_line = lex_line;
    lex_expect(T_SEMI, ";");
    tree_t *step = stmt_optional_expr(O_RPAREN);
    unsigned step_line = lex_line;
    if (lex_next() != O_RPAREN) {
        msg_report(194);
        lex_unget();
    }
    int t = sym_next_label(), b = sym_next_label(), n = sym_next_label(), q = sym_next_label();
    bool q_used = false;
    if (c) {
        if (stmt_for_test_at_top(init, c)) {
            unsigned header_end = lex_line;
            lex_line = cond_line;
            ic_cjump(expr_bool(tree_copy(c)), t, false);
            ic_jump(b);
            lex_line = header_end;
        } else {
            ic_jump(q);
            q_used = true;
        }
    }
    bool brk_used = stmt_loop_body(t, b, n, false, outer);
    // the step and the test carry the lines they were written on
    unsigned end_line = lex_line;
    if (step) {
        lex_line = step_line;
        ic_stmt(step);
    }
    if (c) {
        lex_line = cond_line;
        if (q_used)
            stmt_define(q);
        ic_cjump(expr_bool(c), t, false);
    }
    lex_line = end_line;
    if (!c)
        ic_jump(t);
    stmt_define(b);
    fn_unreachable = !c && !brk_used;
    if (decl)
        sym_leave_block(true);
}

static void stmt_switch(const jumps_t &outer)
{
    tree_t *e = stmt_paren_expr();
    if (e && !type_is_integer(e->type)) {
        msg_report(242);
        type_explain(e->type, nullptr);
        e = nullptr;
    }
    int b = sym_next_label(), d = sym_next_label();
    ic_jump(d);
    switch_t sw{e, {}, 0};
    bool brk_used = false;
    jumps_t j{b, outer.cont, outer.cont_used, &brk_used, &sw};
    // the case values are kept until the switch record is written
    sym_recycle_hold++;
    stmt_statement(j, true);
    if (!sw.default_label)
        sw.default_label = b;
    ic_jump(b);
    stmt_define(d);
    if (e) {
        std::string rec;
        for (auto &c : sw.cases)
            ic_tree_deps(c.first, out_body);
        ic_tree_deps(e, out_body);
        rec = "[e [\\ " + ic_expr(e);
        for (auto &c : sw.cases)
            rec += " , $ " + ic_expr(c.first) + " " + std::to_string(c.second) + "\n";
        rec += " " + std::to_string(sw.default_label) + " ]\n";
        ic_comment_flush();
        ic_marker(out_body);
        fputs(rec.c_str(), out_body);
    }
    sym_recycle_hold--;
    stmt_define(b);
}

// Whether a case value can match a switch value of type t. The value is
// compared as an int when t is narrower (the switch value is promoted):
// a value that, so converted, lies outside t's range could never match,
// yet would match once cut to t's bytes, where the cases are compared.
static bool stmt_case_fits(int64_t v, type_t *t)
{
    uint32_t size = type_size(t), int_size = type_size(type_base(B_INT));
    int code = type_base_code(t);
    if (!type_is_integer(t) || code == B_ENUM || code == B_BIT || size == 0 || size >= int_size || int_size > 4)
        return true;
    uint64_t int_mask = (1ull << (8 * int_size)) - 1, u = (uint64_t)v & int_mask;
    int64_t as_int = (u >> (8 * int_size - 1)) & 1 ? (int64_t)(u | ~int_mask) : (int64_t)u;
    bool is_unsigned = code & 1;
    int bits = 8 * (int)size;
    int64_t lo = is_unsigned ? 0 : -((int64_t)1 << (bits - 1));
    int64_t hi = is_unsigned ? ((int64_t)1 << bits) - 1 : ((int64_t)1 << (bits - 1)) - 1;
    return as_int >= lo && as_int <= hi;
}

static void stmt_case(const jumps_t &j)
{
    int64_t v = 0;
    bool known = false;
    tree_t *e = expr_constant(EC_CASE, &v, &known);
    if (lex_next() != O_COLON) {
        msg_report(320);
        lex_unget();
    }
    int l = sym_next_label();
    stmt_define(l);
    if (!j.sw) {
        msg_report(246);
    } else if (e && j.sw->expr) {
        if (j.sw->cases.size() >= 511)
            msg_report(308);
        if (known && !stmt_case_fits(v, j.sw->expr->type))
            msg_report(696, (long)v);
        j.sw->cases.push_back({expr_convert(e, j.sw->expr->type), l});
    }
}

static void stmt_default(const jumps_t &j)
{
    if (lex_next() != O_COLON) {
        msg_report(320);
        lex_unget();
    }
    if (!j.sw) {
        msg_report(245);
        return;
    }
    if (j.sw->default_label) {
        msg_report(244);
        return;
    }
    j.sw->default_label = sym_next_label();
    stmt_define(j.sw->default_label);
}

static void stmt_return()
{
    type_t *rt = type_unfold(decl_function->type)->sub;
    if (lex_next() != T_SEMI) {
        lex_unget();
        tree_t *e = expr_parse(EC_STMT);
        if (e) {
            if (type_is_void(rt) && type_unfold(rt)->kind == TY_BASE) {
                msg_report(204);
            } else {
                if (e->op == O_ADDR && e->left->op == O_IDENT &&
                    (e->left->sym->cls == K_AUTO || e->left->sym->cls == C_PARAM))
                    msg_report(365);
                tree_t *r = tree_new(O_RETURN);
                r->left = expr_to_type(e, rt);
                r->type = rt;
                ic_stmt(r);
                fn_returned_value = true;
            }
        }
        if (lex_next() != T_SEMI) {
            msg_report(314);
            lex_unget();
            lex_skip_statement();
        }
    } else if (!fn_silent_return || fn_returned_value) {
        msg_report(344);
    }
    tree_t *j = tree_new(O_JUMPEXIT);
    j->left = tree_icon(fn_exit, nullptr);
    ic_stmt(j);
    fn_unreachable = true;
}

static label_t &stmt_label(const std::string &name)
{
    auto it = fn_labels.find(name);
    if (it == fn_labels.end())
        it = fn_labels.emplace(name, label_t{sym_next_label(), false, false, (int)lex_line}).first;
    return it->second;
}

static void stmt_expect_semi()
{
    if (lex_next() != T_SEMI) {
        msg_report(314);
        lex_unget();
        lex_skip_statement();
        if (lex_next() != T_SEMI)
            lex_unget();
    }
}

static void stmt_jump_to(int label)
{
    ic_jump(label);
    fn_unreachable = true;
}

static void stmt_statement_at(const jumps_t &j, bool single);

// Every statement goes through here, so the nesting of statements is
// counted in one place (295 beyond the bound).
static void stmt_statement(const jumps_t &j, bool single)
{
    static int nesting; // statements open around this one
    if (++nesting > STMT_MAX_DEPTH)
        msg_report(295);
    stmt_statement_at(j, single);
    nesting--;
}

static void stmt_statement_at(const jumps_t &j, bool single)
{
    int c = lex_next();
    bool label_follows = c == O_IDENT && lex_peek() == O_COLON;
    if (fn_unreachable && c != T_SEMI && c != T_LBRACE && c != K_CASE && c != K_DEFAULT &&
        !label_follows && !fn_unreachable_reported) {
        msg_report(345);
        fn_unreachable_reported = true;
    }
    if (c != T_SEMI && c != T_LBRACE)
        ic_comment_flush();
    if (single && type_is_decl_start() && !label_follows) {
        // In the outermost block a closing brace was probably left out: the
        // body ends here and the declaration is read at file scope.
        msg_report(249);
        lex_unget();
        if (stmt_depth == 0) {
            fn_body_cut = true;
            return;
        }
        lex_skip_statement();
        if (lex_next() != T_SEMI)
            lex_unget();
        return;
    }
    switch (c) {
    case T_SEMI:
        return;
    case T_LBRACE:
        sym_enter_block(true);
        stmt_depth++;
        stmt_block_items(j);
        stmt_depth--;
        sym_leave_block(true);
        return;
    case K_IF: stmt_if(j); return;
    case K_WHILE: stmt_while(j); return;
    case K_DO: stmt_do(j); return;
    case K_FOR: stmt_for(j); return;
    case K_SWITCH: stmt_switch(j); return;
    case K_CASE: stmt_case(j); stmt_statement(j, true); return;
    case K_DEFAULT: stmt_default(j); stmt_statement(j, true); return;
    case K_ELSE:
        msg_report(248);
        return;
    case K_BREAK:
    case K_CONTINUE: {
        int target = c == K_BREAK ? j.brk : j.cont;
        if (!target) {
            msg_report(243);
        } else {
            bool *used = c == K_BREAK ? j.brk_used : j.cont_used;
            if (used)
                *used = true;
            stmt_jump_to(target);
        }
        stmt_expect_semi();
        return;
    }
    case K_RETURN:
        stmt_return();
        return;
    case K_GOTO:
        if (lex_next() != O_IDENT) {
            msg_report(321);
            lex_unget();
        } else {
            label_t &l = stmt_label(tok.text);
            l.used = true;
            stmt_jump_to(l.number);
        }
        stmt_expect_semi();
        return;
    case K_ASM:
        decl_asm_statement();
        return;
    case O_ENUMLABEL: {
        int64_t n;
        expr_global_label(&n);
        stmt_expect_semi();
        return;
    }
    default:
        break;
    }
    if (label_follows) {
        std::string name = tok.text;
        lex_next();
        label_t &l = stmt_label(name);
        if (l.defined)
            msg_report(247, name.c_str());
        l.defined = true;
        if (xref_file)
            fprintf(xref_file, "#%s %d\n", name.c_str(), lex_line);
        stmt_define(l.number);
        fn_unreachable_reported = false;
        stmt_statement(j, true);
        return;
    }
    lex_unget();
    tree_t *e = expr_parse(EC_STMT);
    if (e)
        ic_stmt(e);
    stmt_expect_semi();
}

void stmt_function_body(sym_t *fn)
{
    ic_comment_flush();
    ic_marker(out_body);
    fputs("[f ]\n", out_body);
    type_t *ft = type_unfold(fn->type);
    fn_exit = sym_next_label();
    fn_unreachable = false;
    fn_unreachable_reported = false;
    fn_returned_value = false;
    fn_silent_return = stmt_silent_type(ft->sub);
    fn_labels.clear();
    stmt_depth = 0;
    fn_body_cut = false;
    fi_line("%s%s %ld %u\n", fn->interrupt_fn ? "!" : "", fn->name.c_str(), (long)lex_line,
            (unsigned)ic_last_line);
    jumps_t j{0, 0, nullptr, nullptr, nullptr};
    stmt_block_items(j);
    if (!fn_unreachable && (!fn_silent_return || fn_returned_value))
        msg_report(343);
    ic_marker(out_body);
    fprintf(out_body, "[e :UE %d ]\n", fn_exit);
    fi_line("%ld\n", (long)lex_line);
    for (auto &l : fn_labels) {
        if (l.second.used && !l.second.defined)
            msg_report(254, "label", l.first.c_str());
        else if (!l.second.used)
            msg_report(350, "label", l.first.c_str(), (unsigned)l.second.line);
    }
    sym_leave_block(true);
    ic_comment_flush();
}
