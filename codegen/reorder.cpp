// Comparisons and sums: the simplifier's rules that reorder.
//
// Comparisons get their constant on the right and are brought to < and >=
// where that is exact; comparisons that the operand types decide become
// constants (the operand kept for its side effects), and a byte widened only
// to be compared is compared as a byte. Sums of integers are flattened into
// terms with coefficients, equal terms merged and constants summed, then
// rebuilt left to right.
#include "select.h"

#include <algorithm>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------------------
// comparisons
// ---------------------------------------------------------------------------
int simp_inverse_comparison(int op)
{
    switch (op) {
    case OP_LT: return OP_GE;
    case OP_GE: return OP_LT;
    case OP_LE: return OP_GT;
    case OP_GT: return OP_LE;
    case OP_EQ: return OP_NE;
    case OP_NE: return OP_EQ;
    default: return -1;
    }
}

static int mirrored_comparison(int op)
{
    switch (op) {
    case OP_LT: return OP_GT;
    case OP_GT: return OP_LT;
    case OP_LE: return OP_GE;
    case OP_GE: return OP_LE;
    default: return op;
    }
}

// A comparison decided by the types: the operand kept for its effects.
static tree_node *decided(tree_node *n, bool value, unsigned why)
{
    tree_node *c = simp_const(value, n->type);
    c->flags |= NF_COMPILER;
    if (why)
        simp_note(why);
    tree_free(n->right);
    tree_node *r = simp_keep_effects(n->left, c);
    node_free(n);
    return r;
}

// c + 1 (or c - 1) in x's type, when it does not overflow; false otherwise.
static bool step_constant(tree_node *x, long c, int step, long *out)
{
    type_desc *t = simp_type(x);
    long v = c + step;
    if (v > simp_type_max(t) || v < simp_type_min(t))
        return false;
    *out = v;
    return true;
}

// <, >=, <=, > with the constant on the right, brought to < and >= where that
// is exact (integer types, no overflow of the stepped constant).
static tree_node *order_comparison(tree_node *n)
{
    if (simp_is_const(n->left) && !simp_is_const(n->right)) {
        std::swap(n->left, n->right);
        n->op = (uint32_t)mirrored_comparison((int)n->op);
        tree_changed = true;
    }
    tree_node *x = n->left, *c = n->right;
    if (!simp_is_const(c)) {
        if ((n->op == OP_LE || n->op == OP_GT) && simp_class(x) == AR_SIGNED && simp_class(c) == AR_SIGNED) {
            std::swap(n->left, n->right);
            n->op = n->op == OP_LE ? OP_GE : OP_LT;
            tree_changed = true;
        }
        return n;
    }
    long v = simp_value(c), stepped;
    type_desc *t = simp_type(x);
    if (simp_is_integer(x) || simp_is_pointer(x)) {
        long max = simp_type_max(t), min = simp_type_min(t);
        if (simp_is_unsigned(x)) {
            if (v == 0 && (n->op == OP_LT || n->op == OP_GE))
                return decided(n, n->op == OP_GE, 765);
            if (v == 0 && (n->op == OP_LE || n->op == OP_GT)) {
                n->op = n->op == OP_LE ? OP_EQ : OP_NE;
                return n;
            }
        } else {
            if (v == min && (n->op == OP_LT || n->op == OP_GE))
                return decided(n, n->op == OP_GE, 766);
            if (v == min && (n->op == OP_LE || n->op == OP_GT)) {
                n->op = n->op == OP_LE ? OP_EQ : OP_NE;
                return n;
            }
        }
        if (v == max && (n->op == OP_LE || n->op == OP_GT))
            return decided(n, n->op == OP_LE, simp_is_unsigned(x) ? 765 : 766);
        if (v == max && (n->op == OP_LT || n->op == OP_GE)) {
            n->op = n->op == OP_LT ? OP_NE : OP_EQ;
            return n;
        }
        if ((n->op == OP_LE || n->op == OP_GT) && step_constant(x, v, 1, &stepped)) {
            c->value = simp_fit(stepped, c->type);
            n->op = n->op == OP_LE ? OP_LT : OP_GE;
            tree_changed = true;
        }
    }
    return n;
}

// x & c compared with a constant: narrowed to half the width when the mask
// and the compared constant both fit the narrower type.
static tree_node *narrow_masked_compare(tree_node *n)
{
    tree_node *a = n->left, *k = n->right;
    if (a->op != OP_AND || !simp_is_const(a->right) || !simp_is_const(k) || !simp_is_integer(a))
        return n;
    uint32_t size = node_size(a);
    if (size < 2)
        return n;
    type_desc *half = basic_type_by(size / 2, simp_class(a));
    long m = simp_value(a->right), v = simp_value(k);
    if (m < 1 || m > simp_type_max(half) || v < simp_type_min(half) || v > simp_type_max(half))
        return n;
    a->left = simp_conv(a->left, half);
    a->right = simp_conv(a->right, half);
    a->type = half;
    n->right = simp_conv(k, half);
    tree_changed = true;
    return n;
}

// (wide) x compared with a constant, x narrower: decided when the narrower
// type cannot hold the constant, else done in the narrower type.
static tree_node *narrow_converted_compare(tree_node *n)
{
    tree_node *cv = n->left, *c = n->right;
    if (cv->op != OP_CONV || !simp_is_const(c) || !simp_is_integer(cv) || !cv->left ||
        !(simp_is_integer(cv->left) || simp_class(cv->left) == AR_BIT) || node_size(cv->left) >= node_size(cv))
        return n;
    tree_node *x = cv->left;
    if (!(simp_class(cv) == AR_SIGNED || simp_is_unsigned(x)))
        return n;
    type_desc *nt = simp_type(x);
    long v = simp_value(c), lo = simp_type_min(nt), hi = simp_class(x) == AR_BIT ? 1 : simp_type_max(nt);
    if (v < lo || v > hi) {
        simp_note(764);
        bool above = v > hi;
        bool value = n->op == OP_NE || ((n->op == OP_LT || n->op == OP_LE) && above) ||
                     ((n->op == OP_GT || n->op == OP_GE) && !above);
        tree_node *r = simp_const(value, n->type);
        tree_free(c);
        tree_free(cv->right);
        node_free(cv);
        node_free(n);
        return simp_node(OP_SEQ, x, r, r->type);
    }
    n->left = x;
    tree_free(cv->right);
    node_free(cv);
    c->type = x->type;
    c->value = simp_fit(v, x->type);
    return n;
}

// Whether (t)x keeps x's value: a widening into a signed type, or of an
// unsigned (or bit) value.
static bool keeps_value(tree_node *cv)
{
    tree_node *x = cv->left;
    return cv->op == OP_CONV && x && simp_is_integer(cv) && (simp_is_integer(x) || simp_class(x) == AR_BIT) &&
           node_size(x) < node_size(cv) && (simp_class(cv) == AR_SIGNED || simp_is_unsigned(x));
}

// (t)x compared with (t)y, both conversions keeping the values: compared in
// the smallest type that holds every value of x and y, when that is
// narrower than t.
static tree_node *narrow_both_converted(tree_node *n)
{
    tree_node *a = n->left, *b = n->right;
    if (!keeps_value(a) || !keeps_value(b) || node_size(a) != node_size(b))
        return n;
    type_desc *common = common_value_type(a->left->type, b->left->type);
    if (!common || type_size(common) >= node_size(a))
        return n;
    n->left = simp_conv(a->left, common);
    n->right = simp_conv(b->left, common);
    tree_free(a->right);
    node_free(a);
    tree_free(b->right);
    node_free(b);
    tree_changed = true;
    return n;
}

// A bit or a one-bit field compared with a constant.
static tree_node *bit_compare(tree_node *n)
{
    tree_node *a = n->left;
    long c = simp_value(n->right);
    bool eq = n->op == OP_EQ;
    if (a->op == OP_BITFIELD && a->bitfield && a->bitfield->bit_width == 1) {
        if (c > 1 || c < 0) {
            msg_report(754);
            return decided(n, !eq, 0);
        }
        if (c == 1) {   // field == 1 is field != 0
            n->op = eq ? OP_NE : OP_EQ;
            n->right->value = 0;
        }
        return n;
    }
    if (simp_class(a) != AR_BIT)
        return n;
    if (c > 1 || c < 0)
        return decided(n, !eq, 765);
    tree_free(n->right);
    node_free(n);
    return (c == 1) == eq ? a : simp_not(a);   // the bit itself, or its negation
}

// x++ == y becomes (x += k) == (y + k) in x's type: equality survives the
// wrap-around of the increment, order does not, so only == and != change.
static tree_node *compare_incremented(tree_node *n)
{
    tree_node *x = n->left;
    if ((n->op != OP_EQ && n->op != OP_NE) || (x->op != OP_POSTINC && x->op != OP_POSTDEC) ||
        !simp_is_integer(x) || !x->right)
        return n;
    bool inc = x->op == OP_POSTINC;
    x->op = inc ? OP_ASG_ADD : OP_ASG_SUB;
    type_desc *t = x->type;
    tree_node *step = tree_copy(x->right);
    n->right = simp_conv(simp_node(inc ? OP_ADD : OP_SUB, n->right, step, n->right->type), t);
    tree_changed = true;
    return n;
}

// Whether a constant keeps its value in a float of the given size.
static bool float_survives(double v, uint32_t size)
{
    uint32_t bits = float_bits(v, (int)size);
    if (size == 3)
        bits <<= 8;   // the 24-bit image is the top of the 32-bit one
    float f;
    memcpy(&f, &bits, sizeof f);
    return (double)f == v;
}

// (wider float) f compared with a float constant: in f's own width when the
// constant survives the narrowing; == and != are decided otherwise.
static tree_node *narrow_float_compare(tree_node *n)
{
    tree_node *cv = n->left, *c = n->right;
    if (cv->op != OP_CONV || !cv->left || c->op != OP_FCONST || simp_class(cv) != AR_FLOAT ||
        simp_class(cv->left) != AR_FLOAT || node_size(cv->left) >= node_size(cv))
        return n;
    tree_node *f = cv->left;
    if (float_survives(c->fvalue, node_size(f))) {
        n->left = f;
        tree_free(cv->right);
        node_free(cv);
        c->type = f->type;
        return n;
    }
    if (n->op != OP_EQ && n->op != OP_NE)
        return n;
    simp_note(764);
    tree_node *r = simp_const(n->op == OP_NE, n->type);
    tree_free(c);
    node_free(n);
    return simp_node(OP_SEQ, cv, r, r->type);
}

tree_node *simp_comparison(tree_node *n)
{
    // the constant on the right, where the narrowing rules look for it
    if (simp_is_const(n->left) && !simp_is_const(n->right)) {
        std::swap(n->left, n->right);
        n->op = (uint32_t)mirrored_comparison((int)n->op);
        tree_changed = true;
    }
    // a truth constant (a comparison folded) beside an integer: that
    // integer's 0 or 1
    if (simp_is_const(n->right) && simp_class(n->right) == AR_BIT && simp_is_integer(n->left))
        n->right->type = n->left->type;
    // two truth values compared: as the bytes 0 and 1 they are
    if (!simp_is_const(n->left) && !simp_is_const(n->right) &&
        (simp_class(n->left) == AR_BIT || simp_class(n->right) == AR_BIT)) {
        // (beside a wider integer: in that integer's type)
        type_desc *byte = basic_type_named("uc");
        for (tree_node **side : {&n->left, &n->right}) {
            tree_node *other = *side == n->left ? n->right : n->left;
            if (simp_class(*side) != AR_BIT)
                continue;
            *side = simp_conv(*side, byte);
            if (simp_is_integer(other) && node_size(other) > 1)
                *side = simp_conv(*side, simp_type(other));
        }
    }
    // a truth value ordered against a constant: the comparison of 0 and of 1
    // with it says whether the result is the value, its negation or fixed
    if ((n->op == OP_LT || n->op == OP_LE || n->op == OP_GT || n->op == OP_GE) &&
        simp_class(n->left) == AR_BIT && simp_is_const(n->right)) {
        long c = simp_value(n->right);
        auto holds = [&](long v) {
            switch (n->op) {
            case OP_LT: return v < c;
            case OP_LE: return v <= c;
            case OP_GT: return v > c;
            default: return v >= c;
            }
        };
        bool at0 = holds(0), at1 = holds(1);
        if (at0 == at1)
            return decided(n, at1, 765);
        tree_node *a = n->left;
        tree_free(n->right);
        node_free(n);
        tree_changed = true;
        return at1 ? a : simp_not(a);
    }
    if ((n = narrow_float_compare(n))->op == OP_SEQ)
        return n;
    if ((n = narrow_converted_compare(n))->op == OP_SEQ)
        return n;
    n = narrow_both_converted(n);
    n = compare_incremented(n);
    if ((n->op == OP_EQ || n->op == OP_NE) && simp_is_const(n->right)) {
        tree_node *b = bit_compare(n);
        if (b != n || (n->op != OP_EQ && n->op != OP_NE))
            return b;
    }
    // x + c == k as x == k - c: equal sums of one width have equal terms
    if ((n->op == OP_EQ || n->op == OP_NE) && simp_is_const(n->right) && n->left->op == OP_ADD &&
        simp_is_const(n->left->right) && simp_is_integer(n->left) &&
        node_size(n->left) == node_size(n->right)) {
        tree_node *sum = n->left;
        n->right->value = simp_fit(simp_value(n->right) - simp_value(sum->right), sum->type);
        n->left = sum->left;
        tree_free(sum->right);
        node_free(sum);
        tree_changed = true;
        return n;
    }
    if ((n->op == OP_EQ || n->op == OP_NE) && simp_is_const(n->right)) {
        tree_node *a = n->left;
        long c = simp_value(n->right);
        if (a->op == OP_COMPL) {
            n->left = a->left;
            node_free(a);
            n->right->value = simp_fit(~c, n->left->type);
            return n;
        }
        if (a->op == OP_AND && simp_is_const(a->right) && a->right->value == n->right->value && c &&
            simp_is_pow2((long)((uint32_t)c & node_mask(a)))) {
            n->op = n->op == OP_EQ ? OP_NE : OP_EQ;
            n->right->value = 0;
            return n;
        }
    }
    if (n->op == OP_GT && simp_is_unsigned(n->left) && is_zero_const(n->right)) {
        n->op = OP_NE;
        return n;
    }
    n = narrow_masked_compare(n);
    if (n->op == OP_LT || n->op == OP_LE || n->op == OP_GT || n->op == OP_GE)
        return order_comparison(n);
    return n;
}

// ---------------------------------------------------------------------------
// sum reassociation
// ---------------------------------------------------------------------------
// One term of a flattened sum.
struct sum_term {
    tree_node *tree;
    long coef;
    int position;
};

// Whether a node continues the sum rooted at a node of the given type. A
// malformed input can leave an operand out: such a node is not walked into.
bool simp_in_sum(tree_node *n, tree_node *root)
{
    return n && (n->op == OP_ADD || n->op == OP_SUB || n->op == OP_NEG) && n->left &&
           (n->op == OP_NEG || n->right) && simp_is_integer(n) &&
           node_size(n) == node_size(root) && simp_class(n) == simp_class(root);
}

// Coefficients and the constant are kept modulo 2^32, which every sum of
// four bytes or less computes exactly, and which no product can overflow.
static long wrap32(unsigned long v)
{
    return (long)(int32_t)(uint32_t)v;
}

// Flattens a sum into terms with integer coefficients; the nodes it looks
// through go to spent. The operand of -U and the right operand of - count
// negated.
static void flatten_sum(tree_node *n, tree_node *root, long coef, std::vector<sum_term> &terms,
                        std::vector<tree_node *> &spent)
{
    if (simp_in_sum(n, root)) {
        spent.push_back(n);
        flatten_sum(n->left, root, n->op == OP_NEG ? wrap32(-(unsigned long)coef) : coef, terms, spent);
        if (n->op != OP_NEG)
            flatten_sum(n->right, root, n->op == OP_SUB ? wrap32(-(unsigned long)coef) : coef, terms, spent);
        return;
    }
    bool scaled = (n->op == OP_MUL || n->op == OP_SHL) && simp_is_const(n->right) && simp_is_integer(n) &&
                  node_size(n) == node_size(root) && n->right->value >= 0 && n->right->value < 31;
    if (scaled) {
        long f = n->op == OP_MUL ? n->right->value : 1L << n->right->value;
        spent.push_back(n);
        spent.push_back(n->right);
        flatten_sum(n->left, root, wrap32((unsigned long)coef * (unsigned long)f), terms, spent);
        return;
    }
    terms.push_back({n, coef, (int)terms.size()});
}

static int term_group(tree_node *t)
{
    return simp_is_pointer(t) ? 0 : is_link_constant(t) && !simp_is_const(t) ? 1 : 2;
}

// Merges equal terms and the constants; rebuilds the sum when that made it
// shorter, else leaves it as it is.
tree_node *simp_reassociate(tree_node *n)
{
    if (!simp_in_sum(n, n) || n->op == OP_NEG)
        return n;
    std::vector<sum_term> terms;
    std::vector<tree_node *> spent;
    flatten_sum(n, n, 1, terms, spent);
    // decide before anything is taken apart: two constants, or two equal terms
    int constants = 0;
    bool merges = false;
    for (size_t i = 0; i < terms.size(); i++) {
        constants += simp_is_const(terms[i].tree);
        for (size_t j = 0; j < i && !simp_is_const(terms[i].tree); j++)
            merges |= tree_equal(terms[j].tree, terms[i].tree) && !tree_has_volatile(terms[i].tree);
    }
    if (constants < 2 && !merges)
        return n;
    long constant = 0;
    std::vector<sum_term> kept;
    for (sum_term &t : terms) {
        if (simp_is_const(t.tree)) {
            constant = wrap32((unsigned long)constant + (unsigned long)t.coef * (unsigned long)simp_value(t.tree));
            tree_free(t.tree);
            continue;
        }
        auto same = std::find_if(kept.begin(), kept.end(), [&](const sum_term &k) { return tree_equal(k.tree, t.tree); });
        if (same != kept.end() && !tree_has_volatile(t.tree)) {
            same->coef = wrap32((unsigned long)same->coef + (unsigned long)t.coef);
            tree_free(t.tree);
        } else {
            kept.push_back(t);
        }
    }
    std::erase_if(kept, [](const sum_term &k) {
        if (k.coef == 0)
            tree_free(k.tree);
        return k.coef == 0;
    });
    std::stable_sort(kept.begin(), kept.end(), [](const sum_term &a, const sum_term &b) {
        if (term_group(a.tree) != term_group(b.tree))
            return term_group(a.tree) < term_group(b.tree);
        return a.coef > b.coef;
    });
    type_desc *t = n->type;
    char *text = n->text;
    n->text = nullptr;
    for (tree_node *s : spent)
        node_free(s);
    tree_node *sum = nullptr;
    for (const sum_term &k : kept) {
        long c = k.coef < 0 ? -k.coef : k.coef;
        tree_node *term = c == 1 ? k.tree : simp_node(OP_MUL, k.tree, simp_const(c, t), t);
        if (!sum)
            sum = k.coef < 0 ? simp_node(OP_NEG, term, nullptr, t) : term;
        else
            sum = simp_node(k.coef < 0 ? OP_SUB : OP_ADD, sum, term, t);
    }
    if (constant || !sum)
        sum = sum ? simp_node(constant < 0 && simp_class(n) == AR_SIGNED ? OP_SUB : OP_ADD, sum,
                       simp_const(constant < 0 && simp_class(n) == AR_SIGNED ? -constant : constant, t), t)
                  : simp_const(constant, t);
    if (!sum->text)
        sum->text = text;
    else
        free(text);
    tree_changed = true;
    return sum;
}

