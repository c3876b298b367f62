// Expressions of the intermediate code, read in prefix order.
//
// A token becomes a leaf (constant, symbol, type, floating constant) or an
// operator; the operator's arity in the attribute table says how many
// operands follow, each read the same way, left first. Nodes are built with
// node_make, which folds conversions of constants and gives each node its
// type. Label operands (after $U, $UE, :U, :UE, the right operand of $, the
// default label of a switch) and string numbers (after :s) are moved past
// the numbers of earlier inputs as they are read.
#include "kestrel.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

void renumber_label(tree_node *n);
void renumber_string(tree_node *n);
tree_node *read_text_record();

// Longest token buffer.
static const int TOKEN_SIZE = 511;
// The last leaf made (the default label of a switch is the last node read).
static tree_node *last_leaf;
// Operators open around the expression being read; far deeper than any
// program needs, it keeps a malformed input from exhausting the stack.
static int nesting;
static const int NESTING_MAX = 10000;

void expr_reset() { nesting = 0; }

// An integer constant token: digits with an optional sign, then qualifier
// letters that qualify the constant's type.
static tree_node *integer_leaf(const char *tok)
{
    char *end;
    long v = strtol(tok, &end, 10);
    tree_node *n = node_new_const(v);
    uint32_t q = 0;
    for (; isupper((unsigned char)*end); end++)
        q |= qual_by_letter(*end);
    if (q)
        n->type = type_qualify(n->type, q);
    return n;
}

// A record read inside an expression holds far more of the stack than an
// operator does (its reader keeps a token buffer), so it counts as this many
// levels.
static const int RECORD_LEVELS = 8;

// Opens levels around the expression being read; too many stop the run
// before the stack runs out.
static void nesting_enter(int levels)
{
    if ((nesting += levels) > NESTING_MAX) {
        nesting = 0;
        cg_fatal(1121);
    }
}

// Reads a record met inside an expression; true when it was one of those
// allowed there (the caller then takes the next token). Such a record reads
// expressions of its own, which may hold records again, so it counts as a
// level of nesting too.
static bool nested_record(int op)
{
    static const struct { int op; void (*read)(); } records[] = {
        {OP_REC_C, decl_read_enum},
        {OP_REC_S, [] { decl_read_struct(false); }},
        {OP_REC_U, [] { decl_read_struct(true); }},
        {OP_REC_V, decl_read_var},
    };
    for (const auto &r : records) {
        if (r.op != op)
            continue;
        nesting_enter(RECORD_LEVELS);
        r.read();
        nesting -= RECORD_LEVELS;
        return true;
    }
    return false;
}

// Makes the node of one token; null when the token gives no node (an
// unknown spelling, a record, a comment) and the next token must be read.
static tree_node *token_node(const char *tok, int *op_out)
{
    unsigned char c = (unsigned char)tok[0];
    *op_out = -1;
    if (isdigit(c) || (c == '-' && isdigit((unsigned char)tok[1])))
        return last_leaf = integer_leaf(tok);
    if (c == '_' || isalpha(c))
        return last_leaf = node_new_id(sym_lookup(tok));
    if (c == '`' || c == '\'')
        return last_leaf = node_new_type(type_from_string(tok));
    if (c == '.' && tok[1] && tok[1] != '.') {
        tree_node *n = node_new();
        n->op = OP_FCONST;
        n->fvalue = strtod(tok + 1, nullptr);
        n->type = basic_type_named("d");
        return last_leaf = n;
    }
    int op = op_lookup(tok);
    if (op < 0) {
        msg_report(730, tok);
        return nullptr;
    }
    if (op == OP_ASM)
        return read_text_record();
    if (nested_record(op))
        return nullptr;
    if (op_arity(op) == OA_NOT_EXPR)
        cg_fatal(1121);
    *op_out = op;
    if (op_arity(op) == 0) {
        tree_node *n = node_new();
        n->op = (uint32_t)op;
        n->type = basic_type_named("v");
        return last_leaf = n;
    }
    return nullptr;
}

// Attaches the pending comment text to a node.
static void take_comment(tree_node *n)
{
    if (n && pending_comment && !n->text) {
        n->text = pending_comment;
        pending_comment = nullptr;
    }
}

static tree_node *read_operand(int op, bool right)
{
    tree_node *n = ic_read_expr();
    bool label = op == OP_JUMP || op == OP_JUMP_EXIT || op == OP_LABEL || op == OP_EXIT_LABEL ||
                 (op == OP_CJUMP && right);
    if (label)
        renumber_label(n);
    else if (op == OP_STRING)
        renumber_string(n);
    return n;
}

tree_node *ic_read_expr()
{
    static char tok[TOKEN_SIZE + 1];   // not needed once its node is made
    for (;;) {
        if (!ic_read_token(tok)) {
            msg_report(714);
            return nullptr;
        }
        int op;
        tree_node *leaf = token_node(tok, &op);
        if (leaf) {
            take_comment(leaf);
            return leaf;
        }
        if (op < 0)
            continue;
        nesting_enter(1);
        tree_node *left = read_operand(op, false);
        tree_node *right = nullptr;
        if (op_arity(op) == OA_BINARY && op != OP_AT)
            right = read_operand(op, true);
        nesting--;
        if (op == OP_SWITCH)
            renumber_label(last_leaf);
        tree_node *n = node_make(op, left, right);
        if (op == OP_SWITCH && n) {
            n->spare = (uint32_t)switch_kind;
            switch_kind = 0;
        }
        take_comment(n);
        return n;
    }
}
