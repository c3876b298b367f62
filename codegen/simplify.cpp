// The tree simplifier: brings a statement tree into the forms the pattern
// tables expect.
//
// One normalising walk first (subtractions become additions of negations,
// shift counts become bytes, self-assignments reads), then up to nine passes
// while anything changes, each a walk of the constant folder and a walk of the
// per-operator rewriter, both bottom-up (walk order 266). Every rule that
// changes the tree sets the change flag; node allocation and release set it
// too. A rule that would change the value of some operand (an unsigned-only
// identity on a signed value, a constant that overflows its type) is guarded
// so that it applies only where it is exact.
#include "select.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

// The message noted during the passes, reported once after them.
static unsigned pending_note;

// ---------------------------------------------------------------------------
// helpers
// ---------------------------------------------------------------------------
type_desc *simp_type(tree_node *n)
{
    return n ? type_unqualify(n->type) : nullptr;
}

int simp_class(tree_node *n)
{
    type_desc *t = simp_type(n);
    if (!t)
        return AR_VOID;
    if (t->kind == TY_POINTER)
        return AR_UNSIGNED;
    return t->kind == TY_BASIC || t->kind == TY_ENUM ? t->arith : AR_VOID;
}

bool simp_is_pointer(tree_node *n)
{
    type_desc *t = simp_type(n);
    return t && t->kind == TY_POINTER;
}

bool simp_is_integer(tree_node *n)
{
    return !simp_is_pointer(n) && (simp_class(n) == AR_SIGNED || simp_class(n) == AR_UNSIGNED);
}

bool simp_is_unsigned(tree_node *n)
{
    return simp_class(n) == AR_UNSIGNED || simp_class(n) == AR_BIT;
}

bool simp_is_const(tree_node *n)
{
    return n && n->op == OP_CONST;
}

bool simp_is_pow2(long v)
{
    return v > 0 && !(v & (v - 1));
}

int simp_log2(long v)
{
    int k = 0;
    while (v > 1) {
        v >>= 1;
        k++;
    }
    return k;
}

int simp_binary(tree_node *n)
{
    return op_arity((int)n->op) == OA_BINARY;
}

int simp_unary(tree_node *n)
{
    return op_arity((int)n->op) == OA_UNARY;
}

// Largest and smallest values of an integer type.
long simp_type_max(type_desc *t)
{
    uint32_t size = type_size(t);
    if (size == 0)   // a bit
        return 1;
    if (size >= 4)
        return t && t->arith == AR_SIGNED ? LONG_MAX & 0x7FFFFFFFL : 0xFFFFFFFFL;
    long bits = 8L * size;
    return t && t->arith == AR_SIGNED ? (1L << (bits - 1)) - 1 : (1L << bits) - 1;
}

long simp_type_min(type_desc *t)
{
    uint32_t size = type_size(t);
    if (!t || t->arith != AR_SIGNED || size == 0)
        return 0;
    return size >= 4 ? -0x80000000L : -(1L << (8 * size - 1));
}

// The value of a constant as its type reads it (unsigned types are masked).
long simp_value(tree_node *c)
{
    if (simp_is_unsigned(c) && node_size(c) >= 1 && node_size(c) < 4)
        return (long)((uint32_t)c->value & node_mask(c));
    if (simp_is_unsigned(c))
        return (long)(uint32_t)c->value;
    return c->value;
}

tree_node *simp_node(int op, tree_node *l, tree_node *r, type_desc *t)
{
    tree_node *n = node_new();
    n->op = (uint32_t)op;
    n->left = l;
    n->right = r;
    n->type = t;
    n->height = (uint16_t)(1 + std::max(l ? l->height : 0, r ? r->height : 0));
    return n;
}

// A value fitted to a type's size and signedness, without a warning.
int32_t simp_fit(long v, type_desc *t)
{
    t = type_unqualify(t);
    uint32_t size = type_size(t);
    if (t && t->kind == TY_BASIC && t->arith == AR_BIT)
        return (int32_t)(v & 1);
    if (!size || size >= 4)
        return (int32_t)v;
    uint32_t m = (1u << (8 * size)) - 1, u = (uint32_t)v & m;
    if (t->arith == AR_SIGNED && (u >> (8 * size - 1)))
        u |= ~m;
    return (int32_t)u;
}

// A constant of a type, fitted to it without a warning.
tree_node *simp_const(long v, type_desc *t)
{
    tree_node *c = node_new_const(v);
    c->type = t;
    c->value = simp_fit(v, t);
    return c;
}

tree_node *simp_conv(tree_node *n, type_desc *t)
{
    if (simp_is_const(n)) {
        tree_node *c = simp_const(n->value, t);
        tree_free(n);
        return c;
    }
    if (type_equal(simp_type(n), type_unqualify(t)))
        return n;
    return simp_node(OP_CONV, n, node_new_type(t), t);
}

// Puts a node in another's place: the attached text moves, the old node goes.
tree_node *simp_replace(tree_node *old, tree_node *with)
{
    if (old->text && !with->text) {
        with->text = old->text;
        old->text = nullptr;
    }
    node_free(old);
    return with;
}

// An operation that leaves its operand unchanged gives way to it; the
// operand may be of another signedness than the node (same-size
// conversions are dropped under operators), so it is read in the node's type.
tree_node *simp_by_operand(tree_node *n, tree_node *x)
{
    type_desc *t = n->type;
    return simp_conv(simp_replace(n, x), t);
}

// A node's value kept for its side effects beside a constant result.
tree_node *simp_keep_effects(tree_node *operand, tree_node *result)
{
    if (!tree_has_volatile(operand)) {
        tree_free(operand);
        return result;
    }
    return simp_node(OP_SEQ, operand, result, result->type);
}

void simp_unwrap(tree_node **slot)
{
    tree_node *c = *slot;
    *slot = c->left;
    tree_free(c->right);
    node_free(c);
    tree_changed = true;
}

void simp_note(unsigned n)
{
    pending_note = n;
}

// ---------------------------------------------------------------------------
// normalising step
// ---------------------------------------------------------------------------
bool simp_same_id(tree_node *a, tree_node *b)
{
    // one name read in two widths is not one value
    // (nor are two parts of one object)
    return a && b && a->op == OP_ID && b->op == OP_ID && a->sym == b->sym && a->value == b->value &&
           node_size(a) == node_size(b);
}

static bool complete(tree_node *n);

static tree_node *normalise(void *, tree_node *n, int, int, int, long *)
{
    if (!complete(n))
        return n;
    if ((op_attr[n->op] & OA_SHIFT) && n->right && node_size(n->right) != 1) {
        type_desc *byte = basic_type_by(1, simp_is_unsigned(n->right) ? AR_UNSIGNED : AR_SIGNED);
        n->right = simp_conv(n->right, byte);
    }
    if (n->op == OP_SUB && !simp_is_pointer(n->left) && !simp_is_pointer(n->right) && n->right) {
        // a truth value is negated as the number it is in the sum: -1, not a bit
        if (simp_class(n->right) == AR_BIT && simp_is_integer(n))
            n->right = simp_conv(n->right, n->type);
        n->right = simp_node(OP_NEG, n->right, nullptr, n->right->type);
        n->op = OP_ADD;
        tree_changed = true;
    }
    if (n->op == OP_NEG && n->left && n->left->op == OP_NEG) {
        tree_node *x = n->left->left;
        node_free(n->left);
        return simp_replace(n, x);
    }
    if (n->op == OP_NEG && n->left && n->left->op == OP_FCONST) {
        n->left->fvalue = -n->left->fvalue;
        return simp_replace(n, n->left);
    }
    // x &= x, x |= x, x ^= x: one read less, unless x is volatile
    if ((n->op == OP_ASG_AND || n->op == OP_ASG_OR) && simp_same_id(n->left, n->right) &&
        !tree_has_volatile(n->left)) {
        tree_free(n->right);
        return simp_replace(n, n->left);
    }
    if (n->op == OP_ASG_XOR && simp_is_const(n->right) && n->right->value == 0) {
        tree_free(n->right);
        return simp_replace(n, n->left);
    }
    if (n->op == OP_ASG_XOR && simp_same_id(n->left, n->right) && !tree_has_volatile(n->left)) {
        tree_free(n->right);
        n->right = simp_const(0, n->left->type);
        n->op = OP_ASSIGN;
    }
    if ((n->op == OP_ASG_AND || n->op == OP_ASG_OR || n->op == OP_ASG_XOR) && n->left &&
        n->left->op == OP_BITFIELD && simp_is_const(n->right)) {
        uint32_t m = node_mask(n->left);
        if ((uint32_t)n->right->value & ~m) {
            n->right->value = (int32_t)((uint32_t)n->right->value & m);
            if (run.warning_level < 0)
                simp_note(767);
        }
    }
    return n;
}

// ---------------------------------------------------------------------------
// constant folder
// ---------------------------------------------------------------------------
static bool both_const(tree_node *n)
{
    auto c = [](tree_node *x) { return x && (x->op == OP_CONST || x->op == OP_FCONST); };
    if (n->op == OP_CONV)   // its right operand is the type; integer constants are retyped by the rewriter
        return n->left && n->left->op == OP_FCONST && n->type && simp_class(n) != AR_VOID;
    if (simp_binary(n))
        return c(n->left) && c(n->right);
    return simp_unary(n) && c(n->left);
}

static double fval(tree_node *c)
{
    return c->op == OP_FCONST ? c->fvalue : (double)simp_value(c);
}

// Arithmetic on two constants of a float left operand.
static bool fold_float(tree_node *n, tree_node *l)
{
    double a = fval(l), b = n->right ? fval(n->right) : 0, r;
    switch (n->op) {
    case OP_ADD: r = a + b; break;
    case OP_SUB: r = a - b; break;
    case OP_MUL: r = a * b; break;
    case OP_DIV:
        if (b == 0) {
            msg_report(743);
            return true;
        }
        r = a / b;
        break;
    case OP_NEG: r = -a; break;
    case OP_LT: case OP_LE: case OP_GT: case OP_GE: case OP_EQ: case OP_NE: {
        bool t = n->op == OP_LT ? a < b : n->op == OP_LE ? a <= b : n->op == OP_GT ? a > b
                 : n->op == OP_GE ? a >= b : n->op == OP_EQ ? a == b : a != b;
        l->op = OP_CONST;
        l->value = t;
        l->type = n->type;
        return true;
    }
    default: return false;
    }
    l->op = OP_FCONST;
    l->fvalue = r;
    return true;
}

// Integer arithmetic; returns false when the operator does not fold.
bool simp_fold_int(tree_node *n, long a, long b, bool uns, long *out)
{
    uint32_t ua = (uint32_t)a, ub = (uint32_t)b;
    switch (n->op) {
    case OP_NOT: *out = !a; break;
    case OP_NE: *out = a != b; break;
    case OP_EQ: *out = a == b; break;
    case OP_MOD: case OP_DIV:
        if (b == 0) {
            msg_report(743);
            *out = a;
            break;
        }
        if (!uns && (int32_t)b == -1)   // the one quotient that overflows: wraps as the target's does
            *out = n->op == OP_MOD ? 0 : (long)(int32_t)(0u - ua);
        else if (n->op == OP_MOD)
            *out = uns ? (long)(ua % ub) : (long)((int32_t)a % (int32_t)b);
        else
            *out = uns ? (long)(ua / ub) : (long)((int32_t)a / (int32_t)b);
        break;
    case OP_AND: *out = a & b; break;
    case OP_OR: *out = a | b; break;
    case OP_XOR: *out = a ^ b; break;
    case OP_ANDAND: *out = a && b; break;
    case OP_OROR: *out = a || b; break;
    case OP_MUL: *out = (int32_t)(ua * ub); break;
    case OP_ADD: *out = (int32_t)(ua + ub); break;
    case OP_SUB: *out = (int32_t)(ua - ub); break;
    case OP_LT: *out = uns ? ua < ub : a < b; break;
    case OP_LE: *out = uns ? ua <= ub : a <= b; break;
    case OP_GT: *out = uns ? ua > ub : a > b; break;
    case OP_GE: *out = uns ? ua >= ub : a >= b; break;
    case OP_SHL: *out = (int32_t)(ua << (ub & 31)); break;
    case OP_SHR: *out = uns ? (long)(ua >> (ub & 31)) : (long)((int32_t)a >> (ub & 31)); break;
    case OP_NEG: *out = (int32_t)(0u - ua); break;
    case OP_COMPL: *out = (int32_t)~ua; break;
    default: return false;
    }
    return true;
}

// A float constant as an integer: truncated toward zero; a value beyond 32
// bits (or not a number) is held at the nearest end rather than left to the
// host's undefined conversion.
static int32_t float_to_int(double v)
{
    if (v != v)
        return 0;
    if (v <= -2147483648.0)
        return INT32_MIN;
    if (v >= 4294967295.0)
        return (int32_t)0xFFFFFFFFu;
    return (int32_t)(uint32_t)(int64_t)v;
}

static tree_node *fold_constants(tree_node *n)
{
    tree_node *l = n->left;
    if (n->op == OP_CONV) {
        type_desc *t = simp_type(n);
        if (t && t->kind == TY_BASIC && t->arith == AR_FLOAT) {
            double v = fval(l);
            l->op = OP_FCONST;
            l->fvalue = v;
        } else if (l->op == OP_FCONST) {
            l->op = OP_CONST;
            l->value = float_to_int(l->fvalue);
        }
        l->type = n->type;
        if (l->op == OP_CONST)
            const_fit_node(l, l);
        tree_free(n->right);
        return simp_replace(n, l);
    }
    if (simp_class(l) == AR_FLOAT || l->op == OP_FCONST) {
        if (!fold_float(n, l))
            return n;
    } else {
        long out;
        if (!simp_fold_int(n, simp_value(l), n->right ? simp_value(n->right) : 0, simp_is_unsigned(l), &out))
            return n;
        l->value = (int32_t)out;
    }
    // a pointer beside a non-pointer gives the result its type (on either
    // side); a comparison stays a truth value
    type_desc *pointer = nullptr;
    if (simp_binary(n) && !(op_attr[n->op] & OA_TRUTH) && simp_is_pointer(l) != simp_is_pointer(n->right))
        pointer = simp_is_pointer(l) ? l->type : n->right->type;
    if (simp_binary(n))
        tree_free(n->right);
    if (pointer) {
        l->type = pointer;
    } else {
        l->type = n->type;
        if (l->op == OP_CONST)
            l->value = simp_fit(l->value, l->type);
    }
    return simp_replace(n, l);
}

// A value that a comparison with 0 cannot change at run time: a constant,
// the address of a name, one of those plus constants, or a store or sequence
// whose value is one.
static bool known_at_link(tree_node *x)
{
    while (x) {
        if (simp_is_const(x) || (x->op == OP_ADDR && x->left && x->left->op == OP_ID))
            return true;
        if (x->op == OP_ADD && simp_is_const(x->right))
            x = x->left;
        else if (x->op == OP_ASSIGN || x->op == OP_SEQ || x->op == OP_SEQCALL)
            x = x->right;
        else
            return false;
    }
    return false;
}

// What -b negates, with b a truth value in the type it was negated in (in a
// bit's own type the negation would be the bit itself).
static tree_node *unnegated(tree_node *neg)
{
    tree_node *b = neg->left;
    if (simp_class(b) == AR_BIT && simp_is_integer(neg))
        b = simp_conv(b, neg->type);
    node_free(neg);
    return b;
}

static tree_node *fold(void *, tree_node *n, int, int, int, long *)
{
    if (!complete(n))
        return n;
    if (n->op == OP_ADD && n->right && n->right->op == OP_NEG) {
        n->right = unnegated(n->right);
        n->op = OP_SUB;
    } else if (n->op == OP_ADD && n->left && n->left->op == OP_NEG && !simp_is_pointer(n->right)) {
        tree_node *neg = n->left;
        n->left = n->right;
        n->right = unnegated(neg);
        n->op = OP_SUB;
    }
    if ((n->op == OP_EQ || n->op == OP_NE) && run.warning_level < 0 && is_zero_const(n->right) &&
        known_at_link(n->left))
        simp_note(768);
    if (both_const(n))
        return fold_constants(n);
    return n;
}

// ---------------------------------------------------------------------------
// general rules of the per-operator rewriter
// ---------------------------------------------------------------------------
// Operand rank for the canonical order of commutative operators.
static int rank_of(tree_node *n)
{
    while (n->op == OP_CONV && n->left && simp_class(n->left) == simp_class(n) && node_size(n->left) >= node_size(n))
        n = n->left;
    if (n->op == OP_CONST || n->op == OP_FCONST)
        return 0;
    if (n->op == OP_ADDR && n->left && n->left->op == OP_ID)
        return 12;
    if (is_link_constant(n))
        return 1;
    return op_rank[n->op];
}

// op(a ; b, c) becomes a ; op(b, c), and likewise on the right. Never out
// of an arm of ?: (either side of its ":"), whose effects happen only when
// that arm is chosen.
static tree_node *hoist_sequence(tree_node *n)
{
    if ((simp_binary(n) || simp_unary(n)) && n->op != OP_SEQ && n->op != OP_COMMA && n->op != OP_COLON && n->left &&
        n->left->op == OP_SEQ) {
        tree_node *seq = n->left;
        n->left = seq->right;
        seq->right = n;
        seq->type = n->type;
        return seq;
    }
    if (simp_binary(n) && !(op_attr[n->op] & OA_SEQUENCE) && n->op != OP_COLON && n->op != OP_COMMA &&
        n->right && n->right->op == OP_SEQ) {
        tree_node *seq = n->right;
        n->right = seq->right;
        seq->right = n;
        seq->type = n->type;
        return seq;
    }
    return n;
}

static tree_node *commute(tree_node *n)
{
    tree_node *l = n->left, *r = n->right;
    bool swap = node_size(l) == node_size(r) && !simp_is_pointer(l) && simp_is_pointer(r);
    if (swap || (!simp_is_pointer(l) || !simp_is_pointer(r) ? rank_of(l) < rank_of(r) && !simp_is_pointer(l) : false)) {
        n->left = r;
        n->right = l;
        tree_changed = true;
    }
    // (x op c1) op c2 with constants becomes x op (c1 op c2), folded
    l = n->left;
    if ((op_attr[n->op] & OA_ASSOC) && l->op == n->op && simp_is_const(l->right) && simp_is_const(n->right) &&
        simp_class(n) != AR_FLOAT) {
        long out;
        if (simp_fold_int(n, simp_value(l->right), simp_value(n->right), simp_is_unsigned(n), &out)) {
            n->right->value = simp_fit(out, n->type);
            n->left = l->left;
            tree_free(l->right);
            node_free(l);
            return n;
        }
    }
    // (x op a) op b becomes (x op b) op a when b ranks above a, so that
    // constants gather on the outside; both steps in one type
    l = n->left;
    if ((op_attr[n->op] & OA_ASSOC) && l->op == n->op && simp_class(n) != AR_FLOAT &&
        type_equal(simp_type(l), simp_type(n)) && !is_link_constant(n->right) && rank_of(n->right) > rank_of(l->right)) {
        std::swap(l->right, n->right);
        tree_changed = true;
    }
    return n;
}

// ---------------------------------------------------------------------------
// conversions, members, assignments, logic
// ---------------------------------------------------------------------------
// A narrowing conversion moves inside <<, + - & | ^ (the low bytes of their
// result depend only on the low bytes of the operands); never inside >>,
// whose low bytes come from the high bytes of its operand.
// Whether a value can be read in a width of size bytes where it lies: a
// variable in memory or a load, no wider than it is (its low bytes come
// first), or a register of exactly that size. Not a volatile one, whose
// access would change width.
static bool readable_in_place(tree_node *x, uint32_t size)
{
    if (!size || size > node_size(x) || tree_has_volatile(x))
        return false;
    if (x->op == OP_ID)
        return x->sym && x->sym->storage != ST_REGISTER && !(x->sym->flags & SF_INREG);
    return x->op == OP_DEREF || (x->op == OP_REG && size == node_size(x));
}

// Whether a conversion of a ?: may go into its arms: integer or truth-valued
// arms (the conversion of the chosen value is the value of the chosen
// conversion; each arm keeps its own reads, a volatile one whole under its
// conversion).
static bool arms_read_narrow(tree_node *q)
{
    tree_node *arms = q->right;
    if (!arms || arms->op != OP_COLON)
        return false;
    auto integer = [](tree_node *a) {
        return a && (simp_is_const(a) || simp_is_integer(a) || simp_class(a) == AR_BIT);
    };
    return integer(arms->left) && integer(arms->right);
}

// Whether x reads a volatile object wider than size bytes: narrowed, the
// operation would read it in another width. Side effects are kept by every
// narrowing (each operand is still evaluated once).
static bool wide_volatile(void *size, tree_node *n)
{
    return (n->op == OP_ID || n->op == OP_DEREF) && (type_qualifiers(n->type) & Q_VOLATILE) &&
           node_size(n) > *(uint32_t *)size;
}

static bool reads_volatile_wider(tree_node *x, uint32_t size)
{
    return tree_find(x, &size, wide_volatile) != nullptr;
}

// Whether x is the value of a t, widened: a conversion from an integer of
// t's size and class, or a constant that t holds.
static bool widened_from(tree_node *x, type_desc *t)
{
    if (simp_is_const(x))
        return simp_value(x) >= simp_type_min(t) && simp_value(x) <= simp_type_max(t);
    if (x->op != OP_CONV || !x->left || !simp_is_integer(x->left) || !simp_is_integer(x))
        return false;
    type_desc *y = simp_type(x->left);
    return node_size(x->left) == type_size(t) && type_arith_class(y) == type_arith_class(type_unqualify(t)) &&
           node_size(x) > type_size(t);
}

// The value of a t that x holds widened.
static tree_node *unwidened(tree_node *x, type_desc *t)
{
    if (simp_is_const(x))
        return simp_conv(x, t);
    tree_node *y = x->left;
    tree_free(x->right);
    node_free(x);
    return simp_conv(y, t);
}

// (t)(a / b), (t)(a % b), (t)(a >> k) done in s, the type a (and b) are
// values of widened, when s is as wide as t: the quotient, the remainder and
// the shifted value of two s values, cut back to t's width, are what the
// operation in s gives (a quotient that leaves s, -128 / -1, wraps to the
// same byte either way).
static tree_node *narrow_into(tree_node *n)
{
    tree_node *x = n->left;
    type_desc *t = n->type;
    if (!simp_is_integer(n) || !simp_binary(x) || node_size(n) >= node_size(x))
        return nullptr;
    bool shift = x->op == OP_SHR;
    if (!(x->op == OP_DIV || x->op == OP_MOD || shift))
        return nullptr;
    type_desc *st;
    if (shift && simp_is_const(x->left)) {
        // a constant shifted: in the type of t's width that holds it, signed
        // for a negative one, whose shift fills with the sign as the int's does
        long v = simp_value(x->left);
        st = basic_type_by(node_size(n), v < 0 ? AR_SIGNED : AR_UNSIGNED);
    } else {
        tree_node *w = x->left->op == OP_CONV || shift ? x->left : x->right;
        if (w->op != OP_CONV || !w->left || !simp_is_integer(w->left) || node_size(w->left) != node_size(n))
            return nullptr;
        st = simp_type(w->left);
    }
    if (!widened_from(x->left, st) || (!shift && !widened_from(x->right, st)))
        return nullptr;
    x->left = unwidened(x->left, st);
    if (!shift)
        x->right = unwidened(x->right, st);
    x->type = st;
    tree_free(n->right);
    return simp_conv(simp_replace(n, x), t);
}

// The index type of pointer arithmetic (an added integer is converted to
// it, then to the pointer's width): narrowing into it is the language's.
static bool is_index_type(type_desc *t)
{
    t = type_unqualify(t);
    return t && t->kind == TY_BASIC && t->name && (!strcmp(t->name, "x") || !strcmp(t->name, "ux"));
}

// x converted to t in place of the conversion `as` pushed into an
// operation: one the compiler made (the index of pointer arithmetic cut to
// the pointer's width) stays the compiler's, without warning 752.
static tree_node *narrowed_as(tree_node *x, type_desc *t, tree_node *as)
{
    tree_node *c = simp_conv(x, t);
    if (c != x && c->op == OP_CONV)
        c->flags |= as->flags & NF_COMPILER;
    return c;
}

static tree_node *rewrite_conversion(tree_node *n)
{
    tree_node *x = n->left;
    type_desc *t = n->type;
    if (type_equal(simp_type(x), type_unqualify(t))) {
        tree_free(n->right);
        return simp_replace(n, x);
    }
    // an integer as a bit is its truth: x != 0
    if (simp_class(n) == AR_BIT && (simp_is_integer(x) || simp_is_pointer(x))) {
        tree_free(n->right);
        node_free(n);
        return simp_node(OP_NE, x, simp_const(0, simp_type(x)), basic_type_named("b"));
    }
    // (t)(u)y with u at least as wide as t: the bits of t come from y alone
    // (y cut, or widened by its own signedness, to t's width; a bit is 0 or 1)
    bool through = x->op == OP_CONV && x->left && simp_is_integer(n) && simp_is_integer(x) &&
                   (simp_is_integer(x->left) || simp_class(x->left) == AR_BIT) &&
                   node_size(x) >= node_size(n);
    // (t)(u)y with u wider than an unsigned y: both steps extend with zeros
    bool zeros = x->op == OP_CONV && x->left && simp_is_integer(n) && simp_is_integer(x) &&
                 (simp_is_unsigned(x->left) && !simp_is_pointer(x->left)) && node_size(x->left) > 0 &&
                 node_size(x->left) < node_size(x) && simp_is_unsigned(x);
    if (through || zeros) {
        simp_unwrap(&n->left);
        return n;
    }
    if (tree_node *r = narrow_into(n))
        return r;
    // a truth value widened past a byte goes through an unsigned byte, where
    // the rules that narrow operations find a byte widened
    if (simp_class(x) == AR_BIT && simp_is_integer(n) && node_size(n) > 1) {
        n->left = simp_conv(x, basic_type_named("uc"));
        tree_changed = true;
        return n;
    }
    if (simp_is_const(x) && simp_class(n) == AR_FLOAT) {
        x->op = OP_FCONST;
        x->fvalue = (double)simp_value(x);
        x->type = t;
        tree_free(n->right);
        return simp_replace(n, x);
    }
    if (simp_is_const(x) && (simp_is_integer(n) || simp_is_pointer(n))) {
        if (node_size(n) < node_size(x) && !(n->flags & NF_COMPILER) && !is_index_type(t))
            msg_report(752);
        x->value = simp_fit(x->value, t);
        x->type = t;
        tree_free(n->right);
        return simp_replace(n, x);
    }
    if (simp_is_integer(n) && (simp_is_integer(x) || simp_is_pointer(x)) && readable_in_place(x, node_size(n))) {
        if (node_size(n) < node_size(x) && !(n->flags & NF_COMPILER) && !is_index_type(t))
            msg_report(752);
        x->type = t;
        tree_free(n->right);
        return simp_replace(n, x);
    }
    if (x->op == OP_QUEST && simp_is_integer(n) && simp_is_integer(x) && node_size(n) <= node_size(x) &&
        arms_read_narrow(x)) {
        tree_node *arms = x->right;
        arms->left = simp_conv(arms->left, t);
        arms->right = simp_conv(arms->right, t);
        arms->type = x->type = t;
        tree_free(n->right);
        return simp_replace(n, x);
    }
    bool narrows = simp_is_integer(n) && simp_is_integer(x) && node_size(n) < node_size(x);
    if (!narrows || reads_volatile_wider(x, node_size(n)))
        return n;
    // A constant count of at least the narrower width leaves no bit of the
    // low bytes: moved inside, it would be a shift past the width, which is
    // dropped as undefined.
    if (x->op == OP_SHL && simp_is_const(x->right) && x->right->value >= 8L * (long)node_size(n) &&
        x->right->value < 8L * (long)node_size(x)) {
        tree_node *r = simp_keep_effects(x->left, simp_const(0, t));
        tree_free(x->right);
        node_free(x);
        tree_free(n->right);
        node_free(n);
        return r;
    }
    if (x->op == OP_SHL || x->op == OP_COMPL || x->op == OP_NEG) {   // low bytes from low bytes
        x->left = narrowed_as(x->left, t, n);
        x->type = t;
        tree_free(n->right);
        return simp_replace(n, x);
    }
    if ((op_attr[x->op] & OA_LOWPART) && simp_binary(x) && !(op_attr[x->op] & OA_SIDE_EFFECT)) {
        x->left = narrowed_as(x->left, t, n);
        x->right = narrowed_as(x->right, t, n);
        x->type = t;
        tree_free(n->right);
        return simp_replace(n, x);
    }
    return n;
}

// s.m becomes *(&s + offset of m).
static tree_node *rewrite_member(tree_node *n)
{
    if (!n->sym || !n->left)
        return n;
    tree_node *s = n->left;
    type_desc *mt = n->type;
    // built by node_make, so that the address carries the aggregate as its
    // target and the load its pointer targets
    tree_node *addr = node_make(OP_ADDR, s, nullptr);
    tree_node *member = node_make(OP_CONV, addr, node_new_type(type_derive(mt, TY_POINTER)));
    tree_node *sum = node_make(OP_ADD, member, simp_const(n->value, basic_type_named("i")));
    tree_free(n->right);
    tree_node *load = node_make(OP_DEREF, sum, nullptr);
    load->type = mt;
    return simp_replace(n, load);
}

// Whether a tree reads memory another name may reach, or calls a function.
static bool may_alias(void *, tree_node *n)
{
    return n->op == OP_DEREF || n->op == OP_CALL || n->op == OP_CALLARGS;
}

bool simp_may_reach_memory(tree_node *n)
{
    return tree_find(n, nullptr, may_alias) != nullptr;
}

// The operations done better in place: four-byte integer + and -, one-byte
// shifts by 1.
static bool better_in_place(tree_node *op)
{
    if (!simp_is_integer(op))
        return false;
    if ((op->op == OP_ADD || op->op == OP_SUB) && node_size(op) == 4)
        return true;
    return (op->op == OP_SHL || op->op == OP_SHR) && node_size(op) == 1 && simp_is_const(op->right) &&
           op->right->value == 1;
}

// x = (x << k) op (x >> m), op + ^ |, k + m the width: a rotation of x by
// the smaller count.
static tree_node *rotation(tree_node *n)
{
    tree_node *x = n->left, *v = n->right;
    if (!simp_binary(v) || (v->op != OP_ADD && v->op != OP_XOR && v->op != OP_OR) || !simp_is_unsigned(x) ||
        tree_has_volatile(x))
        return n;
    tree_node *l = v->left, *r = v->right;
    if (l->op == OP_SHR)
        std::swap(l, r);
    if (l->op != OP_SHL || r->op != OP_SHR || !simp_same_id(x, l->left) || !simp_same_id(x, r->left) ||
        !simp_is_const(l->right) || !simp_is_const(r->right) ||
        l->right->value + r->right->value != 8L * (long)node_size(x))
        return n;
    bool left = l->right->value <= r->right->value;
    tree_node *kept = left ? l : r, *other = left ? r : l;
    tree_node *count = kept->right;
    tree_free(kept->left);   // its copy of x
    node_free(kept);
    tree_free(other);        // the other shift, its copy of x and its count
    node_free(v);
    n->op = left ? OP_ROTL : OP_ROTR;
    n->right = count;
    return n;
}

// x = (t)(u)y with t and u integers of one size: the inner step changes no
// bit the outer one keeps, so x = (t)y. Not through a float, nor a bit, whose
// conversions are no plain copies of bytes.
static void collapse_double_conversion(tree_node *n)
{
    tree_node *outer = n->right, *inner = outer->left;
    if (outer->op != OP_CONV || !inner || inner->op != OP_CONV || !inner->left)
        return;
    auto plain = [](tree_node *t) { return (simp_is_integer(t) || simp_is_pointer(t)) && node_size(t) > 0; };
    if (!plain(outer) || !plain(inner) || !plain(inner->left) || node_size(outer) != node_size(inner))
        return;
    outer->left = inner->left;
    tree_free(inner->right);
    node_free(inner);
    tree_changed = true;
}

static tree_node *rewrite_assign(tree_node *n)
{
    tree_node *x = n->left, *v = n->right;
    if (x->op == OP_BITFIELD && simp_is_const(v) && ((uint32_t)v->value & ~node_mask(x))) {
        v->value = (int32_t)((uint32_t)v->value & node_mask(x));
        if (run.warning_level < 1)
            simp_note(762);
    }
    collapse_double_conversion(n);
    if (x->op == OP_ID && n->op == OP_ASSIGN) {
        tree_node *r = rotation(n);
        if (r->op != OP_ASSIGN)
            return r;
    }
    if (simp_same_id(x, v) && !tree_has_volatile(x)) {
        tree_free(v);
        return simp_replace(n, x);
    }
    if (v->op == OP_COMPL && simp_same_id(x, v->left)) {
        tree_free(v->left);
        node_free(v);
        n->right = simp_const(-1, x->type);
        n->op = OP_ASG_XOR;
        return n;
    }
    if (x->op != OP_ID || !simp_binary(v) || !(op_attr[v->op] & OA_FOLDS))
        return n;
    if (simp_same_id(x, v->left) || ((op_attr[v->op] & OA_COMMUTATIVE) && simp_same_id(x, v->right))) {
        tree_node *other = simp_same_id(x, v->left) ? v->right : v->left;
        tree_free(simp_same_id(x, v->left) ? v->left : v->right);
        n->op = (uint32_t)operator_assign_form((int)v->op);
        n->right = other;
        node_free(v);
        return n;
    }
    // x = y op z becomes x = y; x op= z: z is read after x changed, so it may
    // not reach x through a pointer or a call any more than by name; and a
    // volatile x (a port) may not be seen holding y, nor be read back
    tree_node *y = v->left, *z = v->right;
    if (!is_link_constant(y) && !tree_references(z, x->sym) && !simp_may_reach_memory(z) &&
        !tree_has_volatile(x) && better_in_place(v)) {
        tree_node *first = simp_node(OP_ASSIGN, tree_copy(x), y, x->type);
        tree_node *second = simp_node((int)operator_assign_form((int)v->op), x, z, x->type);
        node_free(v);
        tree_node *seq = simp_node(OP_SEQ, first, second, x->type);
        return simp_replace(n, seq);
    }
    return n;
}

tree_node *simp_not(tree_node *x);

// x tested for zero, x = a | b or a & b of bytes widened: zero exactly
// when the operation on the bytes is (the bits above are copies of bit 7 or
// zero, and a byte with bit 7 set is not zero). Done on the bytes; true if
// x changed.
static bool narrow_tested(tree_node *x)
{
    if ((x->op != OP_OR && x->op != OP_AND) || !simp_is_integer(x) || node_size(x) <= 1)
        return false;
    auto byte_widened = [](tree_node *k) {
        return k->op == OP_CONV && k->left && !tree_has_volatile(k->left) &&
               ((simp_is_integer(k->left) && node_size(k->left) == 1) || simp_class(k->left) == AR_BIT);
    };
    if (!byte_widened(x->left) || !byte_widened(x->right))
        return false;
    type_desc *byte = basic_type_named("uc");
    for (tree_node **side : {&x->left, &x->right}) {
        tree_node *inner = (*side)->left;
        tree_free((*side)->right);
        node_free(*side);
        *side = simp_conv(inner, byte);
    }
    x->type = byte;
    tree_changed = true;
    return true;
}

static tree_node *rewrite_not(tree_node *n)
{
    tree_node *x = n->left;
    int inv = simp_inverse_comparison((int)x->op);
    if (inv >= 0 && simp_class(x->left) != AR_FLOAT) {
        x->op = (uint32_t)inv;
        return simp_replace(n, x);
    }
    // !!y is y where y is a truth value itself, else y != 0 (!!5 is 1)
    if (x->op == OP_NOT && x->left) {
        tree_node *y = x->left;
        node_free(x);
        if (simp_class(y) != AR_BIT && (simp_is_integer(y) || simp_is_pointer(y)))
            y = simp_node(OP_NE, y, simp_const(0, simp_type(y)), n->type);
        return simp_replace(n, y);
    }
    // an integer widened is zero exactly when it was zero before
    if (x->op == OP_CONV && x->left && simp_is_integer(x) && simp_is_integer(x->left) &&
        node_size(x->left) <= node_size(x)) {
        simp_unwrap(&n->left);
        return n;
    }
    if (narrow_tested(x))
        return n;
    if (x->op == OP_ANDAND || x->op == OP_OROR) {
        x->op = x->op == OP_ANDAND ? OP_OROR : OP_ANDAND;
        x->left = simp_not(x->left);
        x->right = simp_not(x->right);
        return simp_replace(n, x);
    }
    return n;
}

tree_node *simp_not(tree_node *x)
{
    return rewrite_not(simp_node(OP_NOT, x, nullptr, basic_type_named("b")));
}

static tree_node *rewrite_logic(tree_node *n)
{
    tree_node *c = simp_is_const(n->left) ? n->left : simp_is_const(n->right) ? n->right : nullptr;
    if (!c)
        return n;
    if (!(n->flags & NF_COMPILER) && !(c->flags & NF_COMPILER))
        msg_report(750);
    tree_node *other = c == n->left ? n->right : n->left;
    bool truth = c->value != 0;
    bool decides = (n->op == OP_ANDAND) != truth;   // 0 && x, 1 || x
    if (!decides) {
        // 1 && x and 0 || x are the truth of x: x itself only when x is a
        // truth value already; 1 && 5 is 1
        tree_free(c);
        if (simp_class(other) != AR_BIT && (simp_is_integer(other) || simp_is_pointer(other)))
            other = simp_node(OP_NE, other, simp_const(0, simp_type(other)), n->type);
        return simp_replace(n, other);
    }
    c->value = truth;
    c->type = n->type;
    if (c == n->left) {   // the other operand never runs
        tree_free(other);
        return simp_replace(n, c);
    }
    return simp_replace(n, simp_keep_effects(other, c));
}

// c ? 1 : 0 is c, c ? 0 : 1 is !c, in the node's type.
static tree_node *truth_arms(tree_node *n)
{
    tree_node *c = n->left, *arms = n->right;
    if (!simp_is_const(arms->left) || !simp_is_const(arms->right) || !simp_is_integer(n))
        return n;
    long a = arms->left->value, b = arms->right->value;
    if (!((a == 1 && b == 0) || (a == 0 && b == 1)))
        return n;
    tree_free(arms);
    // an integer or pointer condition holds when it is not zero
    if (a == 1 && simp_class(c) != AR_BIT && (simp_is_integer(c) || simp_is_pointer(c)))
        c = simp_node(OP_NE, c, simp_const(0, simp_type(c)), basic_type_named("b"));
    tree_node *v = a == 1 ? c : simp_not(c);
    v->type = basic_type_named("b");
    type_desc *t = n->type;
    node_free(n);
    return simp_node(OP_CONV, v, node_new_type(t), t);
}

// c ? *U p : *U q, loads of one type through pointers of one size and
// qualifiers: *U (c ? p : q), one load of the chosen pointer.
static tree_node *choose_pointer(tree_node *n)
{
    tree_node *arms = n->right, *a = arms->left, *b = arms->right;
    if (a->op != OP_DEREF || b->op != OP_DEREF || !type_equal(simp_type(a), simp_type(b)) ||
        type_qualifiers(a->type) != type_qualifiers(b->type) || node_size(a->left) != node_size(b->left) ||
        type_qualifiers(a->left->type) != type_qualifiers(b->left->type))
        return n;
    type_desc *value = a->type;
    arms->left = a->left;
    arms->right = b->left;
    arms->type = n->type = a->left->type;
    arms->ptrs = n->ptrs = joint_targets(a->left->ptrs, b->left->ptrs);   // the load may reach either
    n->ptr_depth = a->left->ptr_depth;
    node_free(a);
    node_free(b);
    tree_node *load = simp_node(OP_DEREF, n, nullptr, value);
    load->ptrs = n->ptrs;
    load->ptr_depth = n->ptr_depth + 1;
    return load;
}

static tree_node *rewrite_question(tree_node *n)
{
    tree_node *c = n->left, *arms = n->right;
    if (!arms || arms->op != OP_COLON)
        return n;
    if (!simp_is_const(c)) {
        tree_node *load = choose_pointer(n);
        return load != n ? load : truth_arms(n);
    }
    if (run.warning_level < 0 && !(n->flags & NF_COMPILER))
        simp_note(763);
    tree_node *keep = c->value ? arms->left : arms->right;
    tree_free(c->value ? arms->right : arms->left);
    node_free(arms);
    tree_free(c);
    return simp_replace(n, keep);
}

// *U(&U x) stays for an x whose value is only reached through its address:
// a store, a ?:, a call that clobbers, or a sequence ending in a structure
// call.
static bool keeps_address(tree_node *x)
{
    if (x->op == OP_ASSIGN || x->op == OP_QUEST || x->op == OP_CALLZAP)
        return true;
    if (x->op != OP_SEQ && x->op != OP_SEQCALL)
        return false;
    while (x && (x->op == OP_SEQ || x->op == OP_SEQCALL))
        x = x->right;
    return x && (x->op == OP_CALLZAP || (x->op == OP_CALL && type_is(x->type, TY_STRUCT)));
}

// *U of a constant address reads a variable at that address: an absolute
// variable of the pointed-to type (volatile stays with the type).
static tree_node *absolute_variable(tree_node *n)
{
    cg_symbol *s = sym_new("Absolute variable");
    s->cls = 'F';
    s->storage = ST_EXTERN;
    s->type = n->type;
    s->address = (unsigned long)(uint32_t)n->left->value;
    s->flags |= SF_ABSOLUTE | SF_EXTREF;
    tree_node *id = node_new_id(s);
    id->type = n->type;
    tree_free(n->left);
    return simp_replace(n, id);
}

// Bytes of a constant object at a constant offset: the value its
// initialiser gives them, when that is a number (an integer read); else the
// read stays, from program memory.
tree_node *simp_constant_value(tree_node *n, cg_symbol *s, long at)
{
    uint32_t size = node_size(n);
    if (!s->init_list || (s->flags & SF_ABSOLUTE) || (type_qualifiers(s->type) & Q_VOLATILE) ||
        !simp_is_integer(n) || size > 4)
        return n;
    std::vector<std::string> image;
    if (!data_image(s, &image, true) || (size_t)at + size > image.size())
        return n;
    uint32_t v = 0;
    for (uint32_t i = 0; i < size; i++) {
        const std::string &b = image[at + i];
        if (b.empty() || !isdigit((unsigned char)b[0]))
            return n;
        v |= (uint32_t)std::stoul(b) << (8 * i);
    }
    tree_node *c = simp_const((long)(int32_t)v, type_unqualify(n->type));
    tree_free(n->left);
    return simp_replace(n, c);
}

// *(&x + k), *(T *)&x: bytes of x at a constant offset, read or written
// directly as the type of the access. The ID node carries the byte offset
// in its value. Constant objects live in program memory and stay indirect.
static tree_node *direct_access(tree_node *n)
{
    tree_node *a = n->left;
    long k = 0;
    if (a->op == OP_ADD && a->right && simp_is_const(a->right)) {
        k = a->right->value;
        a = a->left;
    }
    while (a->op == OP_CONV && a->left && type_is(a->left->type, TY_POINTER))
        a = a->left;
    if (a->op != OP_ADDR || !a->left || a->left->op != OP_ID)
        return n;
    tree_node *id = a->left;
    cg_symbol *s = id->sym;
    uint32_t size = node_size(n);
    long at = (long)id->value + k;
    if (sym_is_function(s) || !size || at < 0 || at + (long)size > (long)type_size(s->type))
        return n;
    if (type_qualifiers(s->type) & Q_CONST)
        return simp_constant_value(n, s, at);
    tree_node *x = node_new_id(s);
    x->value = (int32_t)at;
    x->type = n->type;
    x->ptrs = n->ptrs;
    x->ptr_depth = n->ptr_depth;
    tree_free(n->left);
    return simp_replace(n, x);
}

// A string literal is the address of its first character, in program
// memory with the constant data.
static tree_node *string_address(tree_node *n)
{
    if (!n->left || n->left->op != OP_CONST)
        return n;
    cg_symbol *s = sym_find(str_printf("STR_%ld", (long)n->left->value).c_str());
    if (!s || !(s->flags & SF_STRING))
        return n;
    tree_node *addr = node_make(OP_ADDR, node_new_id(s), nullptr);
    tree_free(n->left);
    return simp_replace(n, addr);
}

// &x where x is part of an object: the object's address and the offset.
static tree_node *address_of_part(tree_node *n)
{
    tree_node *id = n->left;
    long k = id->value;
    id->value = 0;
    type_desc *t = n->type;
    n->type = type_derive(id->sym->type, TY_POINTER);
    if (type_is(id->sym->type, TY_ARRAY))
        n->type = type_derive(typeSub(type_unqualify(id->sym->type)), TY_POINTER);
    id->type = id->sym->type;
    tree_node *sum = node_make(OP_ADD, node_make(OP_CONV, n, node_new_type(t)), simp_const(k, basic_type_named("i")));
    sum->type = t;
    return sum;
}

// ---------------------------------------------------------------------------
// the per-operator rewriter
// ---------------------------------------------------------------------------
static tree_node *rewrite_by_operator(tree_node *n)
{
    switch (n->op) {
    case OP_EQ: case OP_NE: case OP_LT: case OP_LE: case OP_GT: case OP_GE:
        return simp_comparison(n);
    case OP_SIZEOF: {
        uint32_t size = node_size(n->left);
        if (!size)
            msg_report(761);
        tree_node *c = simp_const((long)size, basic_type_named("ui"));
        c->flags |= NF_COMPILER;
        tree_free(n->left);
        return simp_replace(n, c);
    }
    case OP_MOD: case OP_ASG_MOD: return simp_arithmetic_tail(simp_modulo(n));
    case OP_MUL: case OP_ASG_MUL: return simp_multiply(simp_arithmetic_tail(n));
    case OP_DIV: case OP_ASG_DIV: return simp_arithmetic_tail(n) == n ? simp_divide(n) : n;
    case OP_ANDAND: case OP_OROR: return rewrite_logic(n);
    case OP_ADD:
        if (simp_in_sum(n, n) && (n = simp_reassociate(n))->op != OP_ADD)
            return n;
        if (simp_class(n) == AR_BIT) {
            n->op = OP_XOR;
            return n;
        }
        if (simp_same_id(n->left, n->right) && simp_is_integer(n) && !tree_has_volatile(n->left)) {
            tree_free(n->right);
            n->op = OP_MUL;
            n->right = simp_const(2, n->type);
        }
        return simp_arithmetic_tail(n);
    case OP_SUB:
        if (simp_class(n) == AR_BIT) {
            n->op = OP_XOR;
            return n;
        }
        if (simp_common_base(n))
            return n;
        if (tree_node *c = simp_all_ones_minus(n); c != n)
            return c;
        if (simp_in_sum(n, n) && (n = simp_reassociate(n))->op != OP_SUB)
            return n;
        if (n->right && n->right->op == OP_NEG) {
            n->right = unnegated(n->right);
            n->op = OP_ADD;
            return n;
        }
        return simp_arithmetic_tail(n);
    case OP_AND: case OP_OR: case OP_XOR: {
        // on truth values & is &&, | is ||, ^ is !=; && and || may skip their
        // right operand, so only one without side effects
        bool may_skip = !tree_has_volatile(n->right);
        if ((simp_class(n) == AR_BIT || (n->type && node_size(n) == 0 && n->type->kind == TY_BASIC)) &&
            (n->op == OP_XOR || may_skip)) {
            n->op = n->op == OP_AND ? OP_ANDAND : n->op == OP_OR ? OP_OROR : OP_NE;
            n->flags |= NF_COMPILER;
            return n;
        }
        // & | of truth values whose right operand has an effect, one of
        // them a comparison or logic (bit objects have patterns of their
        // own): both are evaluated, as the bytes 0 and 1, and the result tested
        auto made = [](tree_node *k) { return (op_attr[k->op] & OA_TRUTH) != 0; };
        if (simp_class(n) == AR_BIT && n->op != OP_XOR && !may_skip && (made(n->left) || made(n->right))) {
            type_desc *byte = basic_type_named("uc");
            n->left = simp_conv(n->left, byte);
            n->right = simp_conv(n->right, byte);
            n->type = byte;
            return simp_node(OP_NE, n, simp_const(0, byte), basic_type_named("b"));
        }
        if (n->op != OP_XOR && may_skip && n->left->op == OP_CONV && n->right->op == OP_CONV &&
            simp_class(n->left->left) == AR_BIT && simp_class(n->right->left) == AR_BIT) {
            tree_node *a = n->left, *b = n->right;
            n->left = a->left;
            n->right = b->left;
            tree_free(a->right);
            node_free(a);
            tree_free(b->right);
            node_free(b);
            n->op = n->op == OP_AND ? OP_ANDAND : OP_OROR;
            n->flags |= NF_COMPILER;
            type_desc *t = n->type;
            n->type = basic_type_named("b");
            return simp_node(OP_CONV, n, node_new_type(t), t);
        }
        if (n->op == OP_AND && n->left->op == OP_CONV && simp_class(n->left->left) == AR_BIT &&
            simp_is_const(n->right) && !(n->right->value & 1)) {
            tree_node *z = simp_const(0, n->type);   // a bit widened has no bit but bit 0
            tree_free(n->right);
            tree_node *res = simp_keep_effects(n->left, z);
            node_free(n);
            return res;
        }
        if (n->op == OP_OR && simp_is_const(n->right) && ((uint32_t)n->right->value & node_mask(n)) == node_mask(n)) {
            tree_node *c = n->right;
            c->type = n->type;
            return simp_replace(n, simp_keep_effects(n->left, c));
        }
        return simp_arithmetic_tail(n);
    }
    case OP_MARK1: case OP_MARK2: case OP_MARK3: case OP_MARK4:
        if (n->left->op == OP_EMPTY)
            return simp_replace(n, n->left);
        return n;
    case OP_ASG_ADD: case OP_ASG_SUB:
        if (n->left->op == OP_BITFIELD && n->left->bitfield && n->left->bitfield->bit_width == 1) {
            n->op = OP_ASG_XOR;   // a one-bit field: adding or subtracting 1 flips it
            return n;
        }
        return simp_arithmetic_tail(n);
    case OP_ASG_OR:
        if (simp_is_const(n->right) && ((uint32_t)n->right->value & node_mask(n->left)) == node_mask(n->left)) {
            n->op = OP_ASSIGN;
            return n;
        }
        return simp_arithmetic_tail(n);
    case OP_ASG_AND: case OP_ASG_XOR:
        return simp_arithmetic_tail(n);
    case OP_SHL: case OP_SHR: case OP_ASG_SHL: case OP_ASG_SHR: return simp_shift(n);
    case OP_CONV: return rewrite_conversion(n);
    case OP_MEMBER: return rewrite_member(n);
    case OP_STRING: return string_address(n);
    case OP_ASSIGN: return rewrite_assign(n);
    case OP_NOT: return rewrite_not(n);
    case OP_QUEST: return rewrite_question(n);
    case OP_COMPL:
        if (simp_class(n) == AR_BIT)
            n->op = OP_NOT;
        return n;
    case OP_UPLUS: return simp_replace(n, n->left);
    case OP_DEREF:
        if (simp_is_const(n->left))
            return absolute_variable(n);
        if (n->left->op == OP_ADDR && node_size(n->left->left) == node_size(n) && !keeps_address(n->left->left) &&
            !(n->left->left->op == OP_ID && is_rom_object(n->left->left->sym))) {
            tree_node *x = n->left->left;
            // a structure returned, or an object read as the one element or
            // member of its size (e[0] of an array of one byte): read as the
            // type asked for
            if (x->op == OP_CALL || x->op == OP_ID)
                x->type = n->type;
            node_free(n->left);
            return simp_replace(n, x);
        }
        return direct_access(n);
    case OP_ADDR:
        if (n->left->op == OP_ID && n->left->value)
            return address_of_part(n);
        if (n->left->op == OP_DEREF) {
            tree_node *p = n->left->left;
            node_free(n->left);
            return simp_replace(n, p);
        }
        if (n->left->op == OP_ID && sym_is_function(n->left->sym))
            n->left->sym->flags |= SF_ADDR_TAKEN;
        return n;
    case OP_SEQ:
        if (n->left->op == OP_POSTINC || n->left->op == OP_POSTDEC)
            n->left->op = n->left->op == OP_POSTINC ? OP_ASG_ADD : OP_ASG_SUB;
        if (!tree_has_volatile(n->left)) {   // a first part that does nothing
            tree_free(n->left);
            return simp_replace(n, n->right);
        }
        return n;
    default: return n;
    }
}

// Both operands widened from types of one class: the operation is done in
// the wider source type and converted. Division and remainder only from
// unsigned sources: a signed byte quotient overflows (-128 / -1).
// x & k, x | k, x ^ k with x widened from a narrower integer and k a constant
// of 0 up to that type's largest value: the bits above the narrower width
// are the extension of the result there, so it is done there.
static tree_node *narrow_with_constant(tree_node *n)
{
    if (n->op != OP_AND && n->op != OP_OR && n->op != OP_XOR)
        return n;
    tree_node *a = n->left, *k = n->right;
    if (simp_is_const(a))
        std::swap(a, k);
    if (!simp_is_const(k) || a->op != OP_CONV || !a->left || !simp_is_integer(a) || !simp_is_integer(a->left) ||
        node_size(a->left) >= node_size(n))
        return n;
    type_desc *t = simp_type(a->left);
    // the bits above t's width: a signed x's sign, combined with the
    // constant's sign bit, is the result's sign; an unsigned x's zeros stay
    // zeros under a constant of t's range, and under & whatever the constant
    long lo = simp_class(a->left) == AR_SIGNED ? simp_type_min(t) : n->op == OP_AND ? LONG_MIN : 0;
    if (simp_value(k) < lo || simp_value(k) > simp_type_max(t))
        return n;
    type_desc *nt = n->type;
    tree_node *x = a->left;
    tree_free(a->right);
    node_free(a);
    n->left = x;
    n->right = simp_conv(k, t);
    n->type = t;
    return simp_node(OP_CONV, n, node_new_type(nt), nt);
}

static tree_node *narrow_operands(tree_node *n)
{
    tree_node *a = n->left, *b = n->right;
    if (simp_binary(n) && a && b && simp_is_integer(n) && (a->op == OP_CONV) != (b->op == OP_CONV))
        return narrow_with_constant(n);
    if (!simp_binary(n) || !a || !b || a->op != OP_CONV || b->op != OP_CONV || !simp_is_integer(n) ||
        (op_attr[n->op] & OA_SHIFT))
        return n;
    tree_node *x = a->left, *y = b->left;
    if (!simp_is_integer(x) || !simp_is_integer(y) || simp_class(x) != simp_class(y))
        return n;
    uint32_t wide = std::max(node_size(x), node_size(y));
    if (wide >= node_size(n))
        return n;
    if ((n->op == OP_DIV || n->op == OP_MOD) && simp_class(x) != AR_UNSIGNED)
        return n;
    type_desc *t = basic_type_by(wide, simp_class(x));
    type_desc *nt = n->type;
    tree_free(a->right);
    node_free(a);
    tree_free(b->right);
    node_free(b);
    n->left = simp_conv(x, t);
    n->right = simp_conv(y, t);
    n->type = t;
    return simp_node(OP_CONV, n, node_new_type(nt), nt);
}

// A conversion between integers of one size is dropped under an operator
// whose low bytes depend only on the low bytes of its operands.
static void drop_same_size_conversions(tree_node *n)
{
    for (tree_node **p : {&n->left, &n->right}) {
        tree_node *c = *p;
        if (!c || c->op != OP_CONV || !c->left || node_size(c) != node_size(c->left) ||
            !simp_is_integer(c) || !(simp_is_integer(c->left) || simp_is_pointer(c->left)))
            continue;
        *p = c->left;
        tree_free(c->right);
        node_free(c);
    }
}

// A compound store into a bit-field (one whose low bits depend only on low
// bits, not a shift) by a constant wider than the field: only the field's
// bits of the constant can matter.
static void mask_to_field(tree_node *n)
{
    const uint32_t kind = OA_SIDE_EFFECT | OA_LOWPART | OA_SHIFT | OA_BINARY;
    if ((op_attr[n->op] & kind) != (OA_SIDE_EFFECT | OA_LOWPART | OA_BINARY) || n->left->op != OP_BITFIELD ||
        !simp_is_const(n->right))
        return;
    uint32_t m = node_mask(n->left);
    if ((uint32_t)n->right->value & ~m) {
        n->right->value = (int32_t)((uint32_t)n->right->value & m);
        tree_changed = true;
    }
}

// Whether a node has the operands its operator needs; the rules look at them
// without asking again.
static bool complete(tree_node *n)
{
    if (simp_binary(n))
        return n->left && n->right;
    return !simp_unary(n) || n->left;
}

static tree_node *rewrite(void *, tree_node *n, int, int, int, long *)
{
    if (!complete(n))
        return n;
    if ((op_attr[n->op] & OA_NARROW) && simp_binary(n)) {
        tree_node *r = narrow_operands(n);
        if (r != n)
            return r;
    }
    if ((op_attr[n->op] & OA_LOWPART) && simp_binary(n) && !(op_attr[n->op] & OA_SIDE_EFFECT))
        drop_same_size_conversions(n);
    // x /= y, x %= y with y a value of x's type widened (or a constant x's
    // type holds): done in x's type, which gives the same quotient
    if ((n->op == OP_ASG_DIV || n->op == OP_ASG_MOD) && simp_is_integer(n->left) &&
        !type_equal(simp_type(n->right), simp_type(n->left)) && widened_from(n->right, simp_type(n->left))) {
        n->right = unwidened(n->right, simp_type(n->left));
        tree_changed = true;
    }
    // a truth value as an operand of arithmetic wider than a byte: the int
    // 0 or 1 it is, as a byte widened to the operation's type
    static const int wide_ops[] = {OP_ADD, OP_SUB, OP_MUL, OP_DIV, OP_MOD, OP_AND, OP_OR, OP_XOR,
                                   OP_SHL, OP_SHR, OP_NEG, OP_COMPL, OP_ASG_ADD, OP_ASG_SUB, OP_ASG_MUL,
                                   OP_ASG_DIV, OP_ASG_MOD, OP_ASG_AND, OP_ASG_OR, OP_ASG_XOR, OP_ASSIGN};
    if (simp_is_integer(n) && node_size(n) > 1 &&
        std::find(std::begin(wide_ops), std::end(wide_ops), (int)n->op) != std::end(wide_ops)) {
        bool assigns = (op_attr[n->op] & OA_SIDE_EFFECT) != 0;
        bool shift = (op_attr[n->op] & OA_SHIFT) != 0;
        type_desc *byte = basic_type_named("uc");
        for (tree_node **side : {&n->left, &n->right}) {
            if (!*side || simp_class(*side) != AR_BIT || (side == &n->left && assigns) ||
                (side == &n->right && (shift || !simp_binary(n))))
                continue;
            *side = simp_conv(simp_conv(*side, byte), n->type);
            tree_changed = true;
        }
    }
    // x *= y, x /= y, x %= y wider than a byte on a plain variable: x = x op y
    // in the wider of the two types, so that the helper of that width is called
    if ((n->op == OP_ASG_MUL || n->op == OP_ASG_DIV || n->op == OP_ASG_MOD) && simp_is_integer(n->left) &&
        simp_is_integer(n->right) && (node_size(n->left) > 1 || node_size(n->right) > 1) &&
        n->left->op == OP_ID && !tree_has_volatile(n->left)) {
        type_desc *t = node_size(n->right) >= node_size(n->left) ? simp_type(n->right) : simp_type(n->left);
        int base = n->op == OP_ASG_MUL ? OP_MUL : n->op == OP_ASG_DIV ? OP_DIV : OP_MOD;
        tree_node *value = simp_node(base, simp_conv(tree_copy(n->left), t), simp_conv(n->right, t), t);
        n->right = simp_conv(value, n->left->type);
        n->op = OP_ASSIGN;
        tree_changed = true;
        return n;
    }
    // a shift count widened from a narrower integer counts the same
    if ((op_attr[n->op] & OA_SHIFT) && simp_binary(n) && n->right->op == OP_CONV && n->right->left &&
        simp_is_integer(n->right) && simp_is_integer(n->right->left) &&
        node_size(n->right->left) < node_size(n->right))
        simp_unwrap(&n->right);
    if ((n->op == OP_ADD || n->op == OP_SUB) && is_zero_const(n->right)) {
        tree_free(n->right);
        return simp_by_operand(n, n->left);
    }
    mask_to_field(n);
    tree_node *h = hoist_sequence(n);
    if (h != n)
        return h;
    if ((op_attr[n->op] & OA_COMMUTATIVE) && simp_binary(n) && n->left && n->right)
        n = commute(n);
    return rewrite_by_operator(n);
}

// ---------------------------------------------------------------------------
// passes
// ---------------------------------------------------------------------------
static tree_node *walk_all(tree_node *t, walk_fn_t fn)
{
    long result = 0;
    return tree_walk(266, nullptr, t, fn, 0, 0, 0, &result);
}

// Rules at the root of a statement.
static tree_node *root_rules(tree_node *t)
{
    // a jump on an integer widened tests it as it was: zero exactly then
    while (t->op == OP_CJUMP && t->left && t->left->op == OP_CONV && t->left->left &&
           simp_is_integer(t->left) && (simp_is_integer(t->left->left) || simp_class(t->left->left) == AR_BIT) &&
           node_size(t->left->left) <= node_size(t->left))
        simp_unwrap(&t->left);
    if (t->op == OP_CJUMP && t->left && narrow_tested(t->left))
        t = tree_simplify(t);
    if (t->op == OP_CJUMP && simp_is_const(t->left)) {
        if (!(t->flags & NF_COMPILER) && !(t->left->flags & NF_COMPILER))
            msg_report(757);
        if (t->left->value == 0) {
            tree_node *c = t->left;
            tree_free(t->right);
            c->op = OP_EMPTY;
            c->type = basic_type_named("v");
            return simp_replace(t, c);
        }
        tree_free(t->left);
        t->left = t->right;
        t->right = nullptr;
        t->op = OP_JUMP;
        return t;
    }
    if (t->op == OP_ASSIGN && t->left && t->left->op == OP_BITFIELD && simp_is_const(t->right)) {
        uint32_t all = node_mask(t->left), v = (uint32_t)t->right->value & all;
        if (v == 0)
            t->op = OP_ASG_AND;   // clear the field
        else if (v == all)
            t->op = OP_ASG_OR;    // set every bit of it
    }
    return t;
}

tree_node *tree_simplify(tree_node *tree)
{
    if (!tree)
        return tree;
    pending_note = 0;
    tree = walk_all(tree, normalise);
    for (int pass = 0; pass < 9; pass++) {
        node_set_position(tree);
        tree_changed = false;
        tree = walk_all(tree, fold);
        tree = walk_all(tree, rewrite);
        if (!tree_changed)
            break;
    }
    if (pending_note)
        msg_report_once(pending_note);
    return root_rules(tree);
}
