// Floating point. The cores have no float instructions, so every operation
// on a float becomes a call of a run-time library helper that works on the
// operands' bit images (24-bit floats: the top three bytes of an IEEE
// single; 32-bit floats: IEEE singles):
//
//   a + b, a - b, a * b, a / b, -a   ___ftadd ___ftsub ___ftmul ___ftdiv ___ftneg
//   a >= b (every ordered compare)   ___ftge, a byte 1 or 0
//   integer to float                 ___<class><size>toft: lb ab lw aw lt at ll al
//   float to integer                 ___fttol, then the long narrowed
//   between the two widths           ___fttofl ___fltoft
//
// (fl in place of ft for the 32-bit form). A test against zero needs no
// helper: a float is zero when every bit but the sign is clear.
//
// flt_lower does this to one statement before its calls are lowered, so
// the helpers' calls are hoisted, their arguments stored and their results
// fetched like any other call. What is left of floats afterwards only moves
// (loads, stores, arguments, results, choices), and flt_erase then types
// it as the unsigned integer of its size, whose code moves the same bytes.
#include "kestrel.h"
#include "select.h"

#include <cstring>
#include <string>

static bool is_float(tree_node *n)
{
    return n && n->type && n->op != OP_TYPE && type_is(n->type, TY_BASIC) &&
           type_arith_class(type_unqualify(n->type)) == AR_FLOAT;
}

static type_desc *bits_type(uint32_t size)
{
    return basic_type_by(size, AR_UNSIGNED);
}

// Every bit but the sign: a float is zero when these are clear.
static long magnitude_mask(uint32_t size)
{
    return size == 3 ? 0x7FFFFFL : 0x7FFFFFFFL;
}

static const char *form_of(uint32_t size)
{
    return size == 3 ? "ft" : "fl";
}

// The helper named ___<before><after>; refused when the library lacks it.
static cg_symbol *helper(const std::string &before, const std::string &after, tree_node *at)
{
    std::string name = "___" + before + after;
    cg_symbol *f = sym_find(name.c_str());
    if (!f || !sym_is_function(f)) {
        node_set_position(at);
        msg_report(1540, name.c_str());
        return nullptr;
    }
    return f;
}

static tree_node *typed(int op, tree_node *l, tree_node *r, type_desc *t)
{
    tree_node *n = node_make(op, l, r);
    n->type = t;
    return n;
}

static tree_node *call_of(cg_symbol *f, tree_node *a, tree_node *b, type_desc *result)
{
    tree_node *args = a;
    if (b) {
        args = node_new();
        args->op = OP_COMMA;
        args->left = a;
        args->right = b;
    }
    return typed(OP_CALL, node_new_id(f), args, result);
}

static bool simple_leaf(tree_node *n)
{
    return n->op == OP_FCONST || (n->op == OP_ID && !tree_has_volatile(n));
}

// The bit image of the float x as an unsigned integer of its size: a
// constant's image, or the same bytes read as the integer type.
static tree_node *as_bits(tree_node *x, vector_t *out)
{
    uint32_t size = node_size(x);
    if (x->op == OP_FCONST) {
        tree_node *c = node_new_const_typed((long)(int32_t)float_bits(x->fvalue, (int)size), bits_type(size));
        tree_free(x);
        return c;
    }
    if (x->op != OP_ID && x->op != OP_DEREF && x->op != OP_CALL)
        x = lower_into_temporary(x, out);
    x->type = bits_type(size);
    return x;
}

// x != 0 for a float x, as a test of its bits.
static tree_node *nonzero(tree_node *x, vector_t *out, int op, type_desc *t)
{
    uint32_t size = node_size(x);
    tree_node *bits = as_bits(x, out);
    tree_node *mask = node_new_const_typed(magnitude_mask(size), bits_type(size));
    tree_node *magnitude = typed(OP_AND, bits, mask, bits_type(size));
    return typed(op, magnitude, node_new_const_typed(0, bits_type(size)), t);
}

static bool is_float_zero(tree_node *n)
{
    return n->op == OP_FCONST && n->fvalue == 0.0;
}

static tree_node *ge_call(tree_node *a, tree_node *b, vector_t *out, tree_node *at)
{
    uint32_t size = node_size(a) > node_size(b) ? node_size(a) : node_size(b);
    cg_symbol *f = helper(form_of(size), "ge", at);
    if (!f)
        return nullptr;
    return call_of(f, as_bits(a, out), as_bits(b, out), basic_type_named("uc"));
}

// A comparison of two floats, through the helper's a >= b (0 when either
// is a NaN): a >= b and a <= b are one call; a < b is b >= a without a >=
// b, so that a NaN makes it false, as is a == b without a >= b and b >= a.
// Those that call twice read each operand twice, so each is a plain leaf
// or a temporary first. A compare with zero tests the bits.
static tree_node *lower_compare(tree_node *n, vector_t *out)
{
    tree_node *a = n->left, *b = n->right;
    int op = (int)n->op;
    type_desc *t = n->type;
    if ((op == OP_EQ || op == OP_NE) && (is_float_zero(a) || is_float_zero(b))) {
        tree_node *x = is_float_zero(a) ? b : a;
        tree_free(is_float_zero(a) ? a : b);
        node_free(n);
        return nonzero(x, out, op, t);
    }
    if (op == OP_GE || op == OP_LE) {
        tree_node *test = op == OP_GE ? ge_call(a, b, out, n) : ge_call(b, a, out, n);
        if (!test)
            return n;
        node_free(n);
        return typed(OP_NE, test, node_new_const_typed(0, basic_type_named("uc")), t);
    }
    if (!simple_leaf(a))
        a = lower_into_temporary(a, out);
    if (!simple_leaf(b))
        b = lower_into_temporary(b, out);
    tree_node *ab = ge_call(tree_copy(a), tree_copy(b), out, n);
    tree_node *ba = ge_call(b, a, out, n);
    if (!ab || !ba)
        return n;
    node_free(n);
    switch (op) {
    case OP_LT: return typed(OP_GT, ba, ab, t);
    case OP_GT: return typed(OP_GT, ab, ba, t);
    default: {
        tree_node *both = typed(OP_AND, ab, ba, basic_type_named("uc"));
        return typed(op == OP_EQ ? OP_NE : OP_EQ, both, node_new_const_typed(0, basic_type_named("uc")), t);
    }
    }
}

// The letters of an integer class and size in a conversion helper's name.
static std::string integer_form(tree_node *x)
{
    static const char sizes[] = "?bwtl";
    uint32_t size = node_size(x);
    return std::string(1, simp_class(x) == AR_SIGNED ? 'a' : 'l') + sizes[size];
}

static tree_node *lower_conversion(tree_node *n, vector_t *out)
{
    tree_node *x = n->left;
    type_desc *t = n->type;
    uint32_t to = node_size(n), from = node_size(x);
    bool from_float = is_float(x), to_float = is_float(n);
    if (to_float && (x->op == OP_FCONST || (x->op == OP_CONST && !type_is(x->type, TY_POINTER)))) {
        // a constant: its value in the float type, at compile time
        if (x->op == OP_CONST) {
            x->fvalue = simp_class(x) == AR_UNSIGNED ? (double)(uint32_t)x->value : (double)x->value;
            x->op = OP_FCONST;
        }
        x->type = t;
        tree_free(n->right);
        node_free(n);
        return x;
    }
    if (from_float && to_float) {
        if (to == from) {
            x->type = t;
            tree_free(n->right);
            node_free(n);
            return x;
        }
        cg_symbol *f = helper(form_of(from), std::string("to") + form_of(to), n);
        if (!f)
            return n;
        tree_free(n->right);
        node_free(n);
        return call_of(f, as_bits(x, out), nullptr, t);
    }
    if (to_float) {
        if (simp_class(x) == AR_BIT || (simp_class(x) != AR_SIGNED && simp_class(x) != AR_UNSIGNED) ||
            type_is(x->type, TY_POINTER) || from < 1 || from > 4) {
            if (simp_class(x) != AR_BIT) {
                node_set_position(n);
                msg_report(712);
                return n;
            }
            x = typed(OP_CONV, x, node_new_type(basic_type_named("uc")), basic_type_named("uc"));
        }
        cg_symbol *f = helper(integer_form(x) + "to", form_of(to), n);
        if (!f)
            return n;
        tree_free(n->right);
        node_free(n);
        return call_of(f, x, nullptr, t);
    }
    // float to an integer: through a long (truncated toward zero), narrowed;
    // to a bit: whether it is nonzero
    if (type_arith_class(type_unqualify(t)) == AR_BIT) {
        tree_free(n->right);
        node_free(n);
        return nonzero(x, out, OP_NE, t);
    }
    if (type_is(t, TY_POINTER) || (simp_class(n) != AR_SIGNED && simp_class(n) != AR_UNSIGNED)) {
        node_set_position(n);
        msg_report(712);
        return n;
    }
    cg_symbol *f = helper(form_of(from), "tol", n);
    if (!f)
        return n;
    tree_node *value = call_of(f, as_bits(x, out), nullptr, basic_type_named("l"));
    n->left = value;
    n->flags |= NF_COMPILER;   // the long is ours: narrowing it is no news to the user
    return n;
}

static tree_node *lower_node(tree_node *n, vector_t *out);

static bool has_side_effect(void *, tree_node *n)
{
    return n->op == OP_CALL || n->op == OP_ASSIGN || n->op == OP_POSTINC || n->op == OP_POSTDEC ||
           (n->op >= OP_ASG_MOD && n->op <= OP_ASG_OR && n->op != OP_EQ);
}

static const char *arith_helper(int op)
{
    switch (op) {
    case OP_ADD: case OP_ASG_ADD: case OP_POSTINC: return "add";
    case OP_SUB: case OP_ASG_SUB: case OP_POSTDEC: return "sub";
    case OP_MUL: case OP_ASG_MUL: return "mul";
    case OP_DIV: case OP_ASG_DIV: return "div";
    default: return nullptr;
    }
}

// x op= y, x++ and x-- of a float x: x = x op y, the old value of x kept
// for x++ and x--. The place x names is reached twice, so it must be one
// that reading has no effect on.
static tree_node *lower_update(tree_node *n, vector_t *out)
{
    tree_node *x = n->left;
    if (tree_find(x, nullptr, has_side_effect) || tree_has_volatile(x)) {
        node_set_position(n);
        msg_report(1490, "updates of a float through an expression with side effects");
        return n;
    }
    uint32_t size = node_size(x);
    cg_symbol *f = helper(form_of(size), arith_helper((int)n->op), n);
    if (!f)
        return n;
    tree_node *old = nullptr;
    tree_node *before = tree_copy(x);
    if (n->op == OP_POSTINC || n->op == OP_POSTDEC) {
        old = lower_into_temporary(before, out);
        before = tree_copy(old);
    }
    tree_node *step = n->right;
    if (!is_float(step) || node_size(step) != size) {
        // x op= y converts y to x's type (an integer, or a float of the
        // other width) before the operation
        type_desc *t = type_unqualify(x->type);
        step = lower_node(typed(OP_CONV, step, node_new_type(t), t), out);
    }
    tree_node *value = call_of(f, as_bits(before, out), as_bits(step, out), x->type);
    tree_node *store = typed(OP_ASSIGN, x, value, n->type);
    node_free(n);
    if (!old)
        return store;
    lower_statement_into(store, out);
    return old;
}

static tree_node *lower_node(tree_node *n, vector_t *out)
{
    if (!n)
        return n;
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = lower_node(n->left, out);
    if (arity == OA_BINARY)
        n->right = lower_node(n->right, out);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        vec_set(n->args, lower_node((tree_node *)vec_get(n->args, i), out), i);
    switch (n->op) {
    case OP_CONST:   // an integer constant given a float type: a float constant of its value
        if (is_float(n)) {
            n->fvalue = (double)n->value;
            n->op = OP_FCONST;
        }
        return n;
    case OP_ADD: case OP_SUB: case OP_MUL: case OP_DIV:
        if (is_float(n)) {
            cg_symbol *f = helper(form_of(node_size(n)), arith_helper((int)n->op), n);
            if (!f)
                return n;
            tree_node *call = call_of(f, as_bits(n->left, out), as_bits(n->right, out), n->type);
            node_free(n);
            return call;
        }
        return n;
    case OP_NEG:
        if (is_float(n)) {
            cg_symbol *f = helper(form_of(node_size(n)), "neg", n);
            if (!f)
                return n;
            tree_node *call = call_of(f, as_bits(n->left, out), nullptr, n->type);
            node_free(n);
            return call;
        }
        return n;
    case OP_ASG_ADD: case OP_ASG_SUB: case OP_ASG_MUL: case OP_ASG_DIV: case OP_POSTINC: case OP_POSTDEC:
        return is_float(n->left) ? lower_update(n, out) : n;
    case OP_EQ: case OP_NE: case OP_LT: case OP_LE: case OP_GT: case OP_GE:
        return is_float(n->left) || is_float(n->right) ? lower_compare(n, out) : n;
    case OP_NOT:
        if (is_float(n->left)) {
            tree_node *x = n->left;
            type_desc *t = n->type;
            node_free(n);
            return nonzero(x, out, OP_EQ, t);
        }
        if (n->left && !is_float(n->left->left) && !is_float(n->left->right)) {
            // the negation of a compare that a float's became (its operands
            // are integers now): the opposite compare
            static const int opposite[][2] = {{OP_EQ, OP_NE}, {OP_NE, OP_EQ}, {OP_LT, OP_GE},
                                              {OP_GE, OP_LT}, {OP_GT, OP_LE}, {OP_LE, OP_GT}};
            for (const auto &pair : opposite)
                if (n->left->op == (uint32_t)pair[0] && n->left->left && n->left->right) {
                    tree_node *c = n->left;
                    c->op = (uint32_t)pair[1];
                    c->type = n->type;
                    node_free(n);
                    return c;
                }
        }
        return n;
    case OP_CJUMP:
        if (is_float(n->left))
            n->left = nonzero(n->left, out, OP_NE, basic_type_named("b"));
        return n;
    case OP_CONV:
        return is_float(n) || is_float(n->left) ? lower_conversion(n, out) : n;
    default:
        return n;
    }
}

static bool is_float_work(void *, tree_node *n)
{
    if (n->op == OP_CONV || n->op == OP_CJUMP || n->op == OP_NOT || n->op == OP_EQ || n->op == OP_NE ||
        n->op == OP_LT || n->op == OP_LE || n->op == OP_GT || n->op == OP_GE)
        return is_float(n) || is_float(n->left) || (n->op != OP_CONV && is_float(n->right));
    return (arith_helper((int)n->op) && (is_float(n) || is_float(n->left))) || (n->op == OP_NEG && is_float(n));
}

bool flt_needs_lowering(tree_node *s)
{
    return tree_find(s, nullptr, is_float_work) != nullptr;
}

tree_node *flt_lower(tree_node *s, vector_t *out)
{
    return lower_node(s, out);
}

// ---------------------------------------------------------------------------
// what is left: moves of float bytes, typed as integers
// ---------------------------------------------------------------------------
static bool moves_only(tree_node *n)
{
    switch (n->op) {
    case OP_ID: case OP_DEREF: case OP_CALL: case OP_ASSIGN: case OP_QUEST: case OP_COLON: case OP_COMMA:
    case OP_SEQ: case OP_FCONST: case OP_CONV: case OP_RETURN: case OP_REG: case OP_INAREG:
    case OP_CALLRESULT: case OP_CALLZAP: case OP_MEMBER:
        return true;
    default:
        return false;
    }
}

static tree_node *erase_node(tree_node *n, bool *refused)
{
    if (!n || n->op == OP_TYPE)
        return n;
    int arity = op_arity((int)n->op);
    bool tests = n->op == OP_EQ || n->op == OP_NE || n->op == OP_LT || n->op == OP_LE || n->op == OP_GT ||
                 n->op == OP_GE || n->op == OP_NOT || n->op == OP_CJUMP || n->op == OP_ANDAND || n->op == OP_OROR;
    bool float_operand = (arity == OA_UNARY || arity == OA_BINARY) && is_float(n->left);
    if ((is_float(n) && !moves_only(n)) || (tests && (float_operand || (arity == OA_BINARY && is_float(n->right)))) ||
        (n->op == OP_CONV && (is_float(n) || float_operand) && node_size(n) != node_size(n->left))) {
        if (!*refused) {
            node_set_position(n);
            msg_report(712);
        }
        *refused = true;
        return n;
    }
    if (n->op == OP_CONV && n->left && (is_float(n) || float_operand)) {
        // the same bytes read as another type of their size
        tree_node *x = n->left;
        tree_free(n->right);
        x->type = n->type;
        node_free(n);
        return erase_node(x, refused);
    }
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = erase_node(n->left, refused);
    if (arity == OA_BINARY)
        n->right = erase_node(n->right, refused);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        vec_set(n->args, erase_node((tree_node *)vec_get(n->args, i), refused), i);
    if (!is_float(n))
        return n;
    uint32_t size = node_size(n);
    if (n->op == OP_FCONST) {
        tree_node *c = node_new_const_typed((long)(int32_t)float_bits(n->fvalue, (int)size), bits_type(size));
        node_free(n);
        return c;
    }
    n->type = bits_type(size);
    return n;
}

void flt_erase(vector_t *stmts, uint32_t from)
{
    // what lowering refused was reported there: not again as left over
    bool refused = msg_error_count() > 0;
    for (uint32_t i = from; i < vec_count(stmts); i++)
        vec_set(stmts, erase_node((tree_node *)vec_get(stmts, i), &refused), i);
}
