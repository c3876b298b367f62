// Rewrite rules and statement splitting.
//
// Rewrite rules are pattern records of the rewrite goal: the matcher finds the
// first node a rule fits (searching the node, its right operand, its
// arguments, then down the left operands), the rule's result text is expanded
// and read back as a tree in the node's place. The rounds are bounded: a rule
// set that keeps applying is a fault in the rules, reported as a rewrite loop.
//
// Statement splitting turns a statement into a list of simpler ones: a jump
// on && or || becomes a chain of jumps, a value of &&, || or ?: is stored
// through jumps and labels, sequences become separate statements and values
// nobody uses are dropped (their side effects kept). Generated labels carry
// a base that tells where they came from.
#include "select.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

// Reads a rewrite rule's replacement text in the context of the matched node.
rewrite_reader_fn rewrite_reader = rewrite_parse;

void rewrite_reader_reset()
{
    rewrite_reader = rewrite_parse;
}

// Label bases: where a generated label comes from.
enum {
    LB_VALUE_EXIT = 100000000,    // && / || value stored through jumps: exit
    LB_VALUE_JOIN = 200000000,    // ... and join
    LB_VALUE_SHORT = 300000000,   // && / || value, short form: join
    LB_COND_LONG = 400000000,     // ?: value through jumps: both labels
    LB_COND_SHORT = 500000000,    // ?: value, short form: join
    LB_AND_JUMP = 600000000,      // false exit of a jump over &&
    LB_AND_VALUE = 700000000,     // && as a statement
    LB_OR_VALUE = 800000000,      // || as a statement
    LB_QUESTION = 900000000,      // ?: as a statement
};
// nodeRewrite rounds after which the line "Looping around nodeRewrite" is
// printed, and rounds beyond a statement's size after which they stop as a
// rewrite loop.
enum { SPLIT_ROUNDS_NOTE = 10, SPLIT_ROUNDS_MAX = 20, REWRITE_ROUNDS_MAX = 20 };

// ---------------------------------------------------------------------------
// rewrite rules
// ---------------------------------------------------------------------------
// The node a placeholder names: L, R, N, or J and a path of 0 (left) and 1
// (right) steps.
static tree_node *placeholder(tree_node *node, const std::string &tok)
{
    if (tok == "L")
        return node->left;
    if (tok == "R")
        return node->right;
    if (tok == "N")
        return node;
    tree_node *n = node;
    for (size_t i = 1; i < tok.size() && n; i++)
        n = tok[i] == '0' ? n->left : n->right;
    return n;
}

static bool is_placeholder(const std::string &tok)
{
    if (tok == "L" || tok == "R" || tok == "N")
        return true;
    return tok.size() > 1 && tok[0] == 'J' && tok.find_first_not_of("01", 1) == std::string::npos;
}

// One prefix-order expression from the tokens, from position *i on.
static tree_node *parse_prefix(tree_node *node, const std::vector<std::string> &toks, size_t *i)
{
    if (*i >= toks.size())
        return nullptr;
    const std::string &tok = toks[(*i)++];
    unsigned char c = (unsigned char)tok[0];
    if (is_placeholder(tok)) {
        tree_node *p = placeholder(node, tok);
        return p ? tree_copy(p) : nullptr;
    }
    if (isdigit(c) || (c == '-' && tok.size() > 1 && isdigit((unsigned char)tok[1])))
        return node_new_const(strtol(tok.c_str(), nullptr, 10));
    if (c == '`')
        return node_new_type(type_from_string(tok.c_str()));
    if (c == '_' || isalpha(c))
        return node_new_id(sym_lookup(tok.c_str()));
    int op = op_lookup(tok.c_str());
    if (op < 0 || op_arity(op) == OA_NOT_EXPR)
        return nullptr;
    tree_node *l = op_arity(op) >= OA_UNARY ? parse_prefix(node, toks, i) : nullptr;
    tree_node *r = op_arity(op) == OA_BINARY ? parse_prefix(node, toks, i) : nullptr;
    if ((op_arity(op) >= OA_UNARY && !l) || (op_arity(op) == OA_BINARY && !r)) {
        tree_free(l);
        tree_free(r);
        return nullptr;
    }
    return node_make(op, l, r);
}

// The replacement of a rewrite rule: an expression in prefix order, with
// placeholders for the matched node and its operands.
tree_node *rewrite_parse(tree_node *node, const std::string &text)
{
    if (!node) {   // declarations (or a further statement) as records
        ic_read_rewrite_records(text.c_str());
        return nullptr;
    }
    std::vector<std::string> toks;
    size_t start = text.find_first_not_of(" \t\n");
    while (start != std::string::npos) {
        size_t end = text.find_first_of(" \t\n", start);
        toks.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(" \t\n", end);
    }
    size_t i = 0;
    tree_node *t = parse_prefix(node, toks, &i);
    if (!t || i != toks.size()) {
        tree_free(t);
        assert_fail("a rewrite rule's result text is a prefix expression", __FILE__, __LINE__);
    }
    return t;
}

// Applies the first rule that fits below n; *applied tells whether one did.
static tree_node *apply_first(tree_node *n, bool *applied)
{
    if (!n || *applied)
        return n;
    if (n->op != OP_ASM && cg_match_tree(n, GOAL_REWRITE, regset_of(REG_ALLREG)) == 0 && n->level_count) {
        const pattern_record *rec = pattern_at((uint32_t)n->pattern[n->level_count - 1]);
        KASSERT(rewrite_reader != nullptr);
        if (rec->templ && *rec->templ)
            rewrite_reader(nullptr, rewrite_text(n, rec->templ));
        tree_node *t = rewrite_reader(n, rewrite_text(n, pattern_result_text((uint32_t)n->pattern[n->level_count - 1], 0)));
        if (rec->after && *rec->after)
            rewrite_reader(nullptr, rewrite_text(n, rec->after));
        if (t) {
            if (n->text && !t->text) {
                t->text = n->text;
                n->text = nullptr;
            }
            *applied = true;
            node_free(n);
            return t;
        }
    }
    int arity = op_arity((int)n->op);
    if (arity == OA_BINARY)
        n->right = apply_first(n->right, applied);
    for (uint32_t i = 0; n->args && i < vec_count(n->args) && !*applied; i++)
        vec_set(n->args, apply_first((tree_node *)vec_get(n->args, i), applied), i);
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = apply_first(n->left, applied);
    return n;
}

tree_node *rewrite_one(tree_node *tree)
{
    bool applied = false;
    tree_node *t = apply_first(tree, &applied);
    return applied ? t : nullptr;
}

tree_node *tree_rewrite_all(tree_node *tree)
{
    if (!tree || tree->op == OP_ASM)
        return tree;
    tree = tree_simplify(tree);
    for (int round = 0; round <= REWRITE_ROUNDS_MAX; round++) {
        tree_node *r = rewrite_one(tree);
        if (!r)
            return tree;
        if (round == REWRITE_ROUNDS_MAX)
            cg_fatal(1059);
        tree = tree_simplify(r);
    }
    return tree;
}

// ---------------------------------------------------------------------------
// statement splitting
// ---------------------------------------------------------------------------
static tree_node *label_node(uint32_t number)
{
    tree_node *c = node_new_const((long)number);
    c->flags |= NF_COMPILER;
    return c;
}

static tree_node *stmt(int op, tree_node *l, tree_node *r)
{
    tree_node *n = node_new();
    n->op = (uint32_t)op;
    n->left = l;
    n->right = r;
    n->type = basic_type_named("v");
    n->flags |= NF_COMPILER;
    return n;
}

static tree_node *negated(tree_node *c)
{
    tree_node *n = node_new();
    n->op = OP_NOT;
    n->left = c;
    n->type = basic_type_named("b");
    n->flags |= NF_COMPILER;
    return tree_simplify(n);
}

static void split(tree_node *t, vector_t *out, int *dropped);
static bool is_choice(tree_node *n);
static tree_node *hoist_choices(tree_node *n, vector_t *out, int *dropped);

// A jump to label when c holds, as a chain of simple jumps.
static void split_jump(tree_node *c, tree_node *label, vector_t *out, int *dropped)
{
    while (c->op == OP_SEQ) {
        split(c->left, out, dropped);
        tree_node *rest = c->right;
        node_free(c);
        c = rest;
    }
    if (c->op == OP_ANDAND) {
        uint32_t m = LB_AND_JUMP + new_label_number();
        split_jump(negated(c->left), label_node(m), out, dropped);
        split_jump(c->right, label, out, dropped);
        node_free(c);
        vec_push(out, stmt(OP_LABEL, label_node(m), nullptr));
        return;
    }
    if (c->op == OP_OROR) {
        split_jump(c->left, tree_copy(label), out, dropped);
        split_jump(c->right, label, out, dropped);
        node_free(c);
        return;
    }
    if (is_choice(c)) {   // a ?: tested: its value first
        c = hoist_choices(c, out, dropped);
    } else {
        int arity = op_arity((int)c->op);
        if (arity == OA_UNARY || arity == OA_BINARY)
            c->left = hoist_choices(c->left, out, dropped);
        if (arity == OA_BINARY)
            c->right = hoist_choices(c->right, out, dropped);
    }
    tree_node *j = stmt(OP_CJUMP, c, label);
    j = tree_simplify(j);
    if (j->op != OP_EMPTY)
        vec_push(out, j);
    else
        tree_free(j);
}

// if ((x = k) != 0) and the like: the store is a statement, the jump is
// decided by k.
static bool split_assigned_test(tree_node *t, vector_t *out, int *dropped)
{
    tree_node *c = t->left;
    if ((c->op != OP_EQ && c->op != OP_NE) || !c->left || c->left->op != OP_ASSIGN ||
        c->left->right->op != OP_CONST || !is_zero_const(c->right))
        return false;
    msg_report(758);
    bool k_zero = c->left->right->value == 0;
    bool taken = k_zero == (c->op == OP_EQ);
    split(c->left, out, dropped);
    tree_free(c->right);
    node_free(c);
    if (taken) {
        vec_push(out, stmt(OP_JUMP, t->right, nullptr));
    } else {
        tree_free(t->right);
    }
    node_free(t);
    return true;
}

// c ? x : y as a statement: jumps around the two arms.
static void split_question(tree_node *t, vector_t *out, int *dropped)
{
    tree_node *arms = t->right;
    uint32_t p = LB_QUESTION + new_label_number(), q = LB_QUESTION + new_label_number();
    split_jump(negated(t->left), label_node(p), out, dropped);
    split(arms->left, out, dropped);
    vec_push(out, stmt(OP_JUMP, label_node(q), nullptr));
    vec_push(out, stmt(OP_LABEL, label_node(p), nullptr));
    split(arms->right, out, dropped);
    vec_push(out, stmt(OP_LABEL, label_node(q), nullptr));
    node_free(arms);
    node_free(t);
}

// A store of v into target with the assignment's operator, or the return of
// v when the statement is a return.
static tree_node *store(tree_node *assign, tree_node *target, tree_node *v)
{
    if (assign->op == OP_RETURN) {   // of the function's type, which truth values stored take
        tree_node *r = stmt(OP_RETURN, v, nullptr);
        r->type = assign->type;
        return r;
    }
    tree_node *s = stmt((int)assign->op, tree_copy(target), v);
    s->type = target->type;
    return s;
}

// A truth value of the type of the statement's target (a return: of the
// value returned).
static tree_node *truth_const(tree_node *statement, tree_node *target, long v)
{
    tree_node *c = node_new_const(v);
    c->type = target ? target->type : statement->type;
    return c;
}

// Whether a value read after the short form's first store could see that
// store: it names the target, or reads through a pointer or calls a function
// (which may reach it). A target that is no plain name may be reached from
// anywhere.
static bool may_read_target(tree_node *v, tree_node *x)
{
    return x->op != OP_ID || tree_references(v, x->sym) || simp_may_reach_memory(v);
}

// Whether the stored value needs the long form: a compound assignment, a
// volatile target, a condition that may read the target, or a return (the
// short form stores a value before the condition is known, and a return
// cannot be taken back).
static bool needs_long_form(tree_node *t, tree_node *x, tree_node *cond)
{
    if (t->op == OP_RETURN)
        return true;
    return t->op != OP_ASSIGN || may_read_target(cond, x) || tree_has_volatile(x);
}

// The statement and its stored value: x = v, x op= v, or return v.
static void parts_of(tree_node *t, tree_node **x, tree_node **v)
{
    *x = t->op == OP_RETURN ? nullptr : t->left;
    *v = t->op == OP_RETURN ? t->left : t->right;
}

// x = a && b, x = a || b: the value stored through jumps.
static void split_truth_value(tree_node *t, vector_t *out, int *dropped)
{
    tree_node *x, *cond;
    parts_of(t, &x, &cond);
    bool is_and = cond->op == OP_ANDAND;
    long decided = is_and ? 0 : 1;
    bool long_form = needs_long_form(t, x, cond);
    if (long_form) {
        uint32_t f = LB_VALUE_EXIT + new_label_number(), c = LB_VALUE_JOIN + new_label_number();
        split_jump(is_and ? negated(cond) : cond, label_node(f), out, dropped);
        vec_push(out, store(t, x, truth_const(t, x, !decided)));
        vec_push(out, stmt(OP_JUMP, label_node(c), nullptr));
        vec_push(out, stmt(OP_LABEL, label_node(f), nullptr));
        vec_push(out, store(t, x, truth_const(t, x, decided)));
        vec_push(out, stmt(OP_LABEL, label_node(c), nullptr));
    } else {
        uint32_t c = LB_VALUE_SHORT + new_label_number();
        vec_push(out, store(t, x, truth_const(t, x, decided)));
        split_jump(is_and ? negated(cond) : cond, label_node(c), out, dropped);
        vec_push(out, store(t, x, truth_const(t, x, !decided)));
        vec_push(out, stmt(OP_LABEL, label_node(c), nullptr));
    }
    tree_free(x);
    node_free(t);
}

// x = c ? a : b: the value stored through jumps.
static void split_conditional_value(tree_node *t, vector_t *out, int *dropped)
{
    tree_node *x, *q;
    parts_of(t, &x, &q);
    tree_node *c = q->left, *arms = q->right;
    tree_node *a = arms->left, *b = arms->right;
    // the short form stores b first: the chosen a may not read the target
    bool long_form = needs_long_form(t, x, c) || tree_has_volatile(b) || (x && may_read_target(a, x));
    if (long_form) {
        uint32_t e = LB_COND_LONG + new_label_number(), j = LB_COND_LONG + new_label_number();
        split_jump(c, label_node(e), out, dropped);
        split(store(t, x, b), out, dropped);
        vec_push(out, stmt(OP_JUMP, label_node(j), nullptr));
        vec_push(out, stmt(OP_LABEL, label_node(e), nullptr));
        split(store(t, x, a), out, dropped);
        vec_push(out, stmt(OP_LABEL, label_node(j), nullptr));
    } else {
        uint32_t j = LB_COND_SHORT + new_label_number();
        // x = c ? k : 0 of a wide x: the k is or-ed into the cleared x
        bool set_bits = t->op == OP_ASSIGN && is_zero_const(b) && b->op == OP_CONST && a->op == OP_CONST &&
                        node_size(x) > 1;
        split(store(t, x, b), out, dropped);
        split_jump(negated(c), label_node(j), out, dropped);
        tree_node *second = store(t, x, a);
        if (set_bits)
            second->op = OP_ASG_OR;
        split(second, out, dropped);
        vec_push(out, stmt(OP_LABEL, label_node(j), nullptr));
    }
    tree_free(x);
    node_free(arms);
    node_free(q);
    node_free(t);
}

// The value a statement stores through jumps when it is a truth or
// conditional value: of a return, or of an assignment to a plain variable.
static bool is_value_assignment(tree_node *t);

static tree_node *stored_value(tree_node *t)
{
    if (t->op == OP_RETURN)
        return t->left;
    return is_value_assignment(t) ? t->right : nullptr;
}

static bool is_value_assignment(tree_node *t)
{
    static const int ops[] = {OP_ASSIGN, OP_ASG_AND, OP_ASG_ADD, OP_ASG_SUB, OP_ASG_XOR, OP_ASG_OR};
    bool assign = false;
    for (int op : ops)
        assign |= t->op == (uint32_t)op;
    return assign && t->left && t->left->op == OP_ID && !tree_has_volatile(t->left) && t->right;
}

// Volatile accesses are marked so that later passes keep each of them.
static tree_node *mark_volatile(void *, tree_node *n, int, int, int, long *)
{
    if ((n->op == OP_ID || n->op == OP_DEREF) && n->type && (type_qualifiers(n->type) & Q_VOLATILE))
        n->flags |= NF_VOLATILE_ACCESS;
    return n;
}

// Nodes in a tree: every round that splits off a sequence takes at least
// one away, so a statement of n nodes needs at most n such rounds.
static long node_count(tree_node *t)
{
    if (!t)
        return 0;
    int arity = op_arity((int)t->op);
    long n = 1;
    if (arity == OA_UNARY || arity == OA_BINARY)
        n += node_count(t->left);
    if (arity == OA_BINARY)
        n += node_count(t->right);
    for (uint32_t i = 0; t->args && i < vec_count(t->args); i++)
        n += node_count((tree_node *)vec_get(t->args, i));
    return n;
}

// The rounds over a statement that stays: simplify, rewrite rules, and a
// sequence at its root split off, while a round changes something. A long
// chain of sequences takes one round per link; only rounds beyond the
// statement's own size are a loop.
// Whether a node is a choice the statement's jumps make: && || ?:.
static bool is_choice(tree_node *n)
{
    return n->op == OP_ANDAND || n->op == OP_OROR ||
           (n->op == OP_QUEST && n->right && n->right->op == OP_COLON);
}

// A choice inside an expression (an operand of arithmetic, an argument, a
// condition's operand) becomes a temporary set by a statement of its own,
// which is split into jumps in its turn. Its operands are evaluated only
// where it stood, so the walk does not enter them; the operands of the
// rest are unordered in C, so the choice may be made first.
static tree_node *hoist_choices(tree_node *n, vector_t *out, int *dropped)
{
    if (!n)
        return n;
    if (is_choice(n)) {
        type_desc *t = type_unqualify(n->type);
        if (t && t->kind == TY_BASIC && t->arith == AR_BIT)
            t = basic_type_named("uc");   // a truth value is kept as a byte
        cg_symbol *tmp = new_temporary_auto(t);
        tree_node *value = type_equal(type_unqualify(n->type), t) ? n : simp_conv(n, t);
        tree_node *set = stmt(OP_ASSIGN, node_new_id(tmp), value);
        set->type = t;
        split(set, out, dropped);
        return simp_conv(node_new_id(tmp), n->type);
    }
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = hoist_choices(n->left, out, dropped);
    if (arity == OA_BINARY)
        n->right = hoist_choices(n->right, out, dropped);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        vec_set(n->args, hoist_choices((tree_node *)vec_get(n->args, i), out, dropped), i);
    return n;
}

static void finish(tree_node *t, vector_t *out, int *dropped)
{
    long limit = SPLIT_ROUNDS_MAX + node_count(t);
    for (long round = 1;; round++) {
        if (round == SPLIT_ROUNDS_NOTE)
            msg_print("Looping around nodeRewrite");
        if (round > limit)
            cg_fatal(1059);
        t = tree_rewrite_all(t);
        if (t->op != OP_SEQ)
            break;
        split(t->left, out, dropped);
        tree_node *rest = t->right;
        node_free(t);
        t = rest;
    }
    if (t->op == OP_EMPTY) {
        tree_free(t);
        return;
    }
    t = hoist_choices(t, out, dropped);
    long result = 0;
    vec_push(out, tree_walk(266, nullptr, t, mark_volatile, 0, 0, 0, &result));
}

static void split(tree_node *t, vector_t *out, int *dropped)
{
    if (!t)
        return;
    uint32_t attr = op_attr[t->op];
    switch (t->op) {
    case OP_CJUMP:
        if (!split_assigned_test(t, out, dropped)) {
            tree_node *c = t->left, *l = t->right;
            node_free(t);
            split_jump(c, l, out, dropped);
        }
        return;
    case OP_ANDAND:
    case OP_OROR: {
        uint32_t l = (t->op == OP_ANDAND ? LB_AND_VALUE : LB_OR_VALUE) + new_label_number();
        split_jump(t->op == OP_ANDAND ? negated(t->left) : t->left, label_node(l), out, dropped);
        split(t->right, out, dropped);
        vec_push(out, stmt(OP_LABEL, label_node(l), nullptr));
        node_free(t);
        return;
    }
    case OP_QUEST:
        if (t->right && t->right->op == OP_COLON) {
            split_question(t, out, dropped);
            return;
        }
        break;
    case OP_POSTINC: t->op = OP_ASG_ADD; break;
    case OP_POSTDEC: t->op = OP_ASG_SUB; break;
    case OP_COMMA:
    case OP_SEQ:
        split(t->left, out, dropped);
        split(t->right, out, dropped);
        node_free(t);
        return;
    case OP_EMPTY:
        tree_free(t);
        return;
    default:
        break;
    }
    tree_node *value = stored_value(t);
    // a truth value or a choice converted: the conversion moves to the
    // values stored (0 and 1, or the arms)
    if (value && value->op == OP_CONV && value->left && simp_is_integer(value)) {
        tree_node *inner = value->left;
        bool truth = inner->op == OP_ANDAND || inner->op == OP_OROR;
        bool choice = inner->op == OP_QUEST && inner->right && inner->right->op == OP_COLON;
        if (truth || choice) {
            tree_node **slot = t->op == OP_RETURN ? &t->left : &t->right;
            if (choice) {
                tree_node *arms = inner->right;
                arms->left = simp_conv(arms->left, value->type);
                arms->right = simp_conv(arms->right, value->type);
                arms->type = inner->type = value->type;
            }
            simp_unwrap(slot);
            value = *slot;
        }
    }
    if (value && (value->op == OP_ANDAND || value->op == OP_OROR)) {
        split_truth_value(t, out, dropped);
        return;
    }
    if (value && value->op == OP_QUEST && value->right && value->right->op == OP_COLON) {
        split_conditional_value(t, out, dropped);
        return;
    }
    bool volatile_access = (t->op == OP_ID || t->op == OP_DEREF) && tree_has_volatile(t);
    if (!(attr & (OA_NOVALUE | OA_SIDE_EFFECT)) && !volatile_access) {
        int arity = op_arity((int)t->op);
        if (arity == OA_UNARY || arity == OA_BINARY)
            split(t->left, out, dropped);
        if (arity == OA_BINARY)
            split(t->right, out, dropped);
        node_free(t);
        *dropped = 1;
        return;
    }
    finish(t, out, dropped);
}

int nodeRewrite(tree_node *tree, vector_t *out)
{
    char *text = tree->text;
    tree->text = nullptr;
    uint32_t before = vec_count(out);
    int dropped = 0;
    split(tree, out, &dropped);
    if (text && vec_count(out) > before) {
        tree_node *first = (tree_node *)vec_get(out, before);
        if (!first->text)
            first->text = text;
        else
            free(text);
    } else {
        free(text);
    }
    return dropped;
}
