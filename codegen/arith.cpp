// Arithmetic rules of the simplifier: multiplies, divides and remainders by
// constants (powers of two become shifts and masks where that is exact),
// constants on the right of arithmetic (zero, all ones, masks), shifts by
// constant counts, and differences that cancel (a common pointer base, all
// ones less a value). Each rule returns the node that takes the old one's
// place and sets the change flag when it changed the tree.
#include "select.h"

#include <algorithm>

// A shift by a negative count, or (above one byte) by the width or more, is
// undefined: warned, and the value left unshifted.
static tree_node *undefined_shift(tree_node *n)
{
    long c = n->right->value;
    if (c < 0 || (node_size(n) > 1 && c >= 8L * (long)node_size(n))) {
        msg_report(753, c);
        tree_free(n->right);
        return simp_by_operand(n, n->left);
    }
    return n;
}

// ---------------------------------------------------------------------------
// arithmetic
// ---------------------------------------------------------------------------
// *, =* by a power of two become shifts; a wide product of two byte operands
// is done in two bytes, unsigned only when both operands are unsigned.
tree_node *simp_multiply(tree_node *n)
{
    tree_node *r = n->right;
    if (simp_is_const(r) && simp_is_integer(n)) {
        long c = simp_value(r);
        bool neg = n->op == OP_MUL && simp_class(n) == AR_SIGNED && c < 0 && simp_is_pow2(-c);
        if (simp_is_pow2(c) || neg) {
            r->value = simp_log2(neg ? -c : c);
            r->type = basic_type_by(1, AR_UNSIGNED);
            n->op = n->op == OP_MUL ? OP_SHL : OP_ASG_SHL;
            tree_changed = true;
            return neg ? simp_node(OP_NEG, n, nullptr, n->type) : n;
        }
    }
    tree_node *a = n->left;
    if (n->op == OP_MUL && node_size(n) > 2 && simp_is_integer(n) && a->op == OP_CONV && r->op == OP_CONV &&
        node_size(a->left) == 1 && node_size(r->left) == 1 && simp_is_integer(a->left) && simp_is_integer(r->left)) {
        bool uns = simp_is_unsigned(a->left) && simp_is_unsigned(r->left);
        type_desc *two = basic_type_by(2, uns ? AR_UNSIGNED : AR_SIGNED);
        if (type_equal(simp_type(a), two))
            return n;
        tree_node *x = a->left, *y = r->left;
        tree_free(a->right);
        node_free(a);
        tree_free(r->right);
        node_free(r);
        tree_node *narrow = simp_node(OP_MUL, simp_conv(x, two), simp_conv(y, two), two);
        type_desc *t = n->type;
        return simp_replace(n, simp_conv(narrow, t));
    }
    return n;
}

// The largest magnitude a value of the type can have.
static long magnitude_max(type_desc *t)
{
    long lo = simp_type_min(t), hi = simp_type_max(t);
    return -lo > hi ? -lo : hi;
}

// Whether -x is a negation the source wrote in x's own signed type, which
// the program may not make overflow: a name read in its own type, or a
// widened value. A narrowed value (an unsigned or wider one, the narrowing
// moved inside -U) may be the smallest value, and -x then wraps.
static bool negation_of_source_value(tree_node *x)
{
    if (x->op == OP_ID)
        return x->sym && type_size(type_unqualify(x->sym->type)) == node_size(x) &&
               type_arith_class(type_unqualify(x->sym->type)) == AR_SIGNED;
    return x->op == OP_CONV && x->left && node_size(x->left) < node_size(x);
}

tree_node *simp_divide(tree_node *n)
{
    tree_node *r = n->right;
    if (!simp_is_const(r) || !simp_is_integer(n->left))
        return n;
    long c = simp_value(r);
    // (-x) / c is x / (-c) for a signed type whose range holds -c, when -x
    // cannot be the wrapped negation of the smallest value
    if (n->op == OP_DIV && n->left->op == OP_NEG && simp_class(n) == AR_SIGNED && simp_class(n->left) == AR_SIGNED &&
        negation_of_source_value(n->left->left) && -c <= simp_type_max(simp_type(r)) &&
        -c >= simp_type_min(simp_type(r))) {
        tree_node *neg = n->left;
        n->left = neg->left;
        node_free(neg);
        r->value = simp_fit(-c, r->type);
        tree_changed = true;
        c = -c;
    }
    long mag = c < 0 ? -c : c;
    // out of range: the quotient is 0 only when |c| exceeds every |dividend|
    if (c != 0 && mag > magnitude_max(simp_type(n->left))) {
        tree_free(r);
        if (n->op == OP_ASG_DIV) {
            n->right = simp_const(0, n->left->type);
            n->op = OP_ASSIGN;
            return n;
        }
        tree_node *zero = simp_const(0, n->type);
        return simp_replace(n, simp_keep_effects(n->left, zero));
    }
    if (c == 1 && n->op == OP_ASG_DIV) {   // x =/ 1 leaves x as it is: a read of it
        tree_free(r);
        return simp_replace(n, n->left);
    }
    if (c == 1 && n->op == OP_DIV) {
        tree_free(r);
        type_desc *t = n->type;
        tree_node *l = n->left;
        node_free(n);
        return simp_conv(l, t);
    }
    if (simp_is_pow2(c) && simp_is_unsigned(n->left)) {
        r->value = simp_log2(c);
        n->op = n->op == OP_DIV ? OP_SHR : OP_ASG_SHR;
        tree_changed = true;
    }
    return n;
}

// %, =% by a power of two become &, =& with c - 1: only for unsigned
// operands, since a negative dividend keeps its sign in the remainder.
tree_node *simp_modulo(tree_node *n)
{
    tree_node *r = n->right;
    if (simp_is_const(r) && simp_is_pow2(simp_value(r)) && simp_is_unsigned(n->left) && simp_is_integer(n->left)) {
        r->value = simp_fit(simp_value(r) - 1, r->type);
        n->op = n->op == OP_MOD ? OP_AND : OP_ASG_AND;
        tree_changed = true;
    }
    return n;
}

// Constants on the right of arithmetic: zero, all ones, masks.
tree_node *simp_arithmetic_tail(tree_node *n)
{
    tree_node *r = n->right;
    if (!simp_is_const(r) || simp_class(n) == AR_FLOAT)
        return n;
    long c = simp_value(r);
    uint32_t op = n->op;
    if (c == 0 && (op == OP_MOD || op == OP_DIV || op == OP_ASG_MOD || op == OP_ASG_DIV)) {
        msg_report(755);
        return n;
    }
    if (c == 0 && (op == OP_AND || op == OP_MUL)) {
        tree_node *z = simp_const(0, n->type);
        tree_free(r);
        tree_node *res = simp_keep_effects(n->left, z);
        node_free(n);
        return res;
    }
    if (c == 0 && (op == OP_ASG_AND || op == OP_ASG_MUL)) {
        n->op = OP_ASSIGN;
        return n;
    }
    if (op == OP_AND || op == OP_ASG_AND) {
        uint32_t m = node_mask(n->left);
        if (((uint32_t)c & m) == m) {
            tree_free(r);
            return op == OP_AND ? simp_by_operand(n, n->left) : simp_replace(n, n->left);
        }
    }
    if (c == 0 && (op == OP_ADD || op == OP_SUB || op == OP_OR || op == OP_XOR)) {
        tree_free(r);
        type_desc *t = n->type;
        tree_node *l = n->left;
        node_free(n);
        return simp_conv(l, t);
    }
    if (c == 0 && (op == OP_ASG_ADD || op == OP_ASG_SUB || op == OP_ASG_OR || op == OP_ASG_XOR)) {
        tree_free(r);
        return simp_replace(n, n->left);
    }
    if ((op == OP_XOR) && ((uint32_t)c & node_mask(n)) == node_mask(n) && simp_is_integer(n)) {
        tree_free(r);
        n->op = OP_COMPL;
        n->right = nullptr;
        return n;
    }
    if (op == OP_SUB && simp_class(n) == AR_SIGNED) {
        r->value = simp_fit(-c, r->type);
        n->op = OP_ADD;
    }
    if (op == OP_ASG_SUB && simp_class(n) == AR_SIGNED) {
        r->value = simp_fit(-c, r->type);
        n->op = OP_ASG_ADD;
    }
    return n;
}

// (x + c) << n, (x ^ c) << n, (x | c) << n: (x << n) op (c << n), the
// constant part folded.
static tree_node *distribute_shift(tree_node *n)
{
    tree_node *a = n->left;
    if (n->op != OP_SHL || !simp_is_integer(n) || (a->op != OP_ADD && a->op != OP_XOR && a->op != OP_OR) ||
        !simp_is_const(a->right) || tree_has_volatile(a->left))
        return n;
    long count = n->right->value;
    if (count < 0 || count > 31)
        return n;
    tree_node *c = a->right;
    c->value = simp_fit((long)((uint32_t)c->value << count), n->type);
    c->type = n->type;
    a->right = c;
    n->left = a->left;
    a->left = n;
    a->type = n->type;
    tree_changed = true;
    return a;
}

// <<, >> by a count of at least the width: 0 (for >> only when unsigned).
tree_node *simp_shift(tree_node *n)
{
    if (!simp_is_const(n->right))
        return n;
    n = undefined_shift(n);
    if (n->op != OP_SHL && n->op != OP_SHR && n->op != OP_ASG_SHL && n->op != OP_ASG_SHR)
        return n;
    if (n->right->value == 0) {   // a shift by nothing: the value (of a compound form, its target)
        tree_free(n->right);
        return simp_by_operand(n, n->left);
    }
    if (n->op == OP_SHL && n->right->value < 8L * (long)node_size(n))
        return distribute_shift(n);
    bool left = n->op == OP_SHL || n->op == OP_ASG_SHL;
    if (n->right->value >= 8L * (long)node_size(n) && (left || simp_is_unsigned(n))) {
        if (n->op == OP_ASG_SHL || n->op == OP_ASG_SHR) {
            n->op = OP_ASSIGN;
            n->right->value = 0;
            n->right->type = n->left->type;
            return n;
        }
        tree_free(n->right);
        tree_node *res = simp_keep_effects(n->left, simp_const(0, n->type));
        node_free(n);
        return res;
    }
    return n;
}

// ---------------------------------------------------------------------------
// differences
// ---------------------------------------------------------------------------
// p + i - (p + j): the common base p cancels, leaving i - j (p - (p + j)
// leaves 0 - j). Only for a base without side effects, which the difference
// then no longer reads at all.
static tree_node *pointer_base(tree_node *side)
{
    return side->op == OP_ADD && simp_is_pointer(side->left) ? side->left : side;
}

static tree_node *without_base(tree_node *side, type_desc *t)
{
    if (side->op != OP_ADD || !simp_is_pointer(side->left)) {
        tree_free(side);
        return simp_const(0, t);
    }
    tree_node *offset = side->right;
    tree_free(side->left);
    node_free(side);
    return simp_conv(offset, t);
}

bool simp_common_base(tree_node *n)
{
    if (!simp_is_pointer(n->left) || !simp_is_pointer(n->right) || !simp_is_integer(n))
        return false;
    tree_node *a = pointer_base(n->left), *b = pointer_base(n->right);
    if ((a == n->left && b == n->right) || !tree_equal(a, b) || tree_has_volatile(a))
        return false;
    n->left = without_base(n->left, n->type);
    n->right = without_base(n->right, n->type);
    tree_changed = true;
    return true;
}

// c - x with c all ones in the node's width is ~x, x taken in that width.
tree_node *simp_all_ones_minus(tree_node *n)
{
    if (!simp_is_integer(n) || !simp_is_const(n->left) || !node_size(n) ||
        ((uint32_t)n->left->value & node_mask(n)) != node_mask(n) || !simp_is_integer(n->right))
        return n;
    tree_node *x = simp_conv(n->right, n->type);
    tree_free(n->left);
    tree_node *c = simp_node(OP_COMPL, x, nullptr, n->type);
    return simp_replace(n, c);
}
