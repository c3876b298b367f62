// expr: expressions. A recursive-descent reader whose levels follow the
// precedences of the operator table (|| 13, && 14, | 15, ^ 16, & 17,
// equality 18, relations 20, shifts 22, additive 24, multiplicative 26,
// unary 28, postfix 30) builds typed trees through one node builder that
// applies each operator's checks and conversions: operands are decayed
// (arrays and functions to their address), brought to a common type,
// pointer arithmetic is scaled by a sizeof node (the code generator knows
// the sizes), and integer constants are folded into their conversions.
//
// The constant tests (what may stand where a constant is required, and the
// value the parser itself needs) are in constant.cpp.
#include "plover.h"

#include <algorithm>
#include <cstring>

static int expr_depth;              // nesting of the reader (295 beyond 100)
static int expr_context;            // the context of the outermost expression
static int expr_quest_open;         // '?' waiting for its ':' (case values)
static bool expr_addr_below;        // a unary '&' waits for the operand being read
std::vector<sym_t *> expr_printf_users; // functions whose calls used printf features

static tree_t *expr_comma();
static tree_t *expr_assignment();
static tree_t *expr_conditional();
static tree_t *expr_unary();
tree_t *expr_make(int op, tree_t *l, tree_t *r);

// ---------------------------------------------------------------------------
// nodes
// ---------------------------------------------------------------------------
// Nodes come from blocks handed out in order. At the top of the file's
// declaration loop, once enough nodes have been handed out, the trees that
// symbols still reach (array dimensions in their types) are copied out of
// the blocks and every block is taken back: the trees of the functions
// already written, held by nothing, cost no memory for the rest of the run.
enum { TREE_BLOCK = 4096, TREE_COLLECT_MIN = 16 * TREE_BLOCK };
static std::vector<tree_t *> tree_blocks; // blocks of TREE_BLOCK nodes
static size_t tree_handed;                // nodes handed out of the blocks
static size_t tree_collect_at = TREE_COLLECT_MIN;

static tree_t *tree_alloc()
{
    size_t b = tree_handed / TREE_BLOCK;
    if (b == tree_blocks.size())
        tree_blocks.push_back(new tree_t[TREE_BLOCK]);
    tree_t *e = &tree_blocks[b][tree_handed % TREE_BLOCK];
    tree_handed++;
    *e = tree_t{};
    return e;
}

tree_t *tree_new(int op)
{
    tree_t *e = tree_alloc();
    e->op = op;
    e->type = type_plain(B_VOID);
    return e;
}

// A tree that outlives the blocks: every node still in a block is copied
// out (kept nodes stay where they are).
tree_t *tree_keep(tree_t *e)
{
    if (!e || e->kept)
        return e;
    tree_t *c = new tree_t(*e);
    c->kept = true;
    c->left = tree_keep(e->left);
    c->right = tree_keep(e->right);
    return c;
}

void tree_collect()
{
    if (tree_handed < tree_collect_at || sym_recycle_hold)
        return;
    sym_keep_trees();
    tree_handed = 0;
    // The next collection once at least 65,536 nodes (and half of what the
    // blocks hold) have been handed out again: its cost, a walk over the
    // symbol table, stays in proportion to the parsing done.
    tree_collect_at = std::max<size_t>(TREE_COLLECT_MIN, tree_blocks.size() * TREE_BLOCK / 2);
}

tree_t *tree_icon(int64_t v, type_t *t)
{
    tree_t *e = tree_new(O_ICON);
    e->value = v;
    e->type = t;
    return e;
}

tree_t *tree_sym(sym_t *s)
{
    tree_t *e = tree_new(O_IDENT);
    e->sym = s;
    e->type = s->type ? s->type : type_plain(B_INT);
    return e;
}

tree_t *tree_copy(tree_t *e)
{
    if (!e)
        return nullptr;
    tree_t *c = tree_alloc();
    *c = *e;
    c->kept = false;
    c->left = tree_copy(e->left);
    c->right = tree_copy(e->right);
    return c;
}

static tree_t *tree_type_leaf(type_t *t)
{
    tree_t *e = tree_new(O_TYPE);
    e->type = t;
    return e;
}

// The depth of a node over its operands; beyond the bound the run stops.
static void tree_set_depth(tree_t *e)
{
    int below = e->left ? e->left->depth : 0;
    if (e->right && e->right->depth > below)
        below = e->right->depth;
    e->depth = below + 1;
    if (e->depth > TREE_MAX_DEPTH)
        msg_report(295);
}

static tree_t *tree_unary(int op, tree_t *l, type_t *t)
{
    tree_t *e = tree_new(op);
    e->left = l;
    e->type = t;
    tree_set_depth(e);
    return e;
}

static tree_t *tree_binary(int op, tree_t *l, tree_t *r, type_t *t)
{
    tree_t *e = tree_new(op);
    e->left = l;
    e->right = r;
    e->type = t;
    tree_set_depth(e);
    return e;
}

// ---------------------------------------------------------------------------
// conversions
// ---------------------------------------------------------------------------
// Value of v in an integer type of the given base code (wrap to its size).
static int64_t expr_truncate(int64_t v, type_t *t)
{
    if (type_base_code(t) == B_BIT)
        return v & 1;
    uint32_t size = type_size(t);
    if (size == 0 || size >= 8)
        return v;
    int bits = 8 * (int)size;
    uint64_t mask = bits >= 64 ? ~0ull : (1ull << bits) - 1;
    uint64_t u = (uint64_t)v & mask;
    int b = type_base_code(t);
    bool is_signed = type_is_integer(t) && !(b & 1) && b != B_ENUM;
    if (is_signed && bits < 64 && (u >> (bits - 1)) & 1)
        return (int64_t)(u | ~mask);
    return (int64_t)u;
}

static bool expr_same_type(type_t *a, type_t *b)
{
    type_t *x = type_unfold(a), *y = type_unfold(b);
    if (x == y)
        return true;
    if (!x || !y || x->kind != y->kind || x->qual != y->qual)
        return false;
    if (x->kind == TY_BASE)
        return x->base == y->base && x->tag == y->tag;
    if (x->kind == TY_PTR)
        return expr_same_type(x->sub, y->sub);
    return type_compatible(x, y, false);
}

tree_t *expr_convert(tree_t *e, type_t *t)
{
    if (!e)
        return e;
    // A value has no qualifiers of its own: convert to the unqualified type.
    if (t->qual) {
        t = type_copy(t);
        t->qual = 0;
    }
    type_t *et = type_unfold(e->type);
    if (et && et->qual) {
        type_t *plain = type_copy(et);
        plain->qual = 0;
        if (expr_same_type(plain, t))
            return e;
    }
    if (expr_same_type(e->type, t))
        return e;
    if (e->op == O_ICON && e->type && !type_is_void(e->type) &&
        (type_is_integer(t) || type_is_ptr(t))) {
        tree_t *c = tree_icon(type_is_integer(t) ? expr_truncate(e->value, t) : e->value, t);
        return c;
    }
    return tree_binary(O_CONV, e, tree_type_leaf(t), t);
}

tree_t *expr_cast(tree_t *e, type_t *t)
{
    return expr_convert(e, t);
}

// Arrays and functions used as values become their address.
tree_t *expr_decay(tree_t *e)
{
    if (!e)
        return e;
    type_t *t = type_unfold(e->type);
    if (t && t->kind == TY_ARRAY) {
        type_t *p = type_ptr(t->sub);
        if (e->op == O_DEREF) {
            // &U *U x is x itself, now pointing at the first element
            tree_t *x = tree_alloc();
            *x = *e->left;
            x->kept = false;
            x->type = p;
            return x;
        }
        return tree_unary(O_ADDR, e, p);
    }
    if (t && t->kind == TY_FUNC)
        return tree_unary(O_ADDR, e, type_ptr(e->type));
    return e;
}

static int expr_promote_code(int b)
{
    if (b == B_BIT || b == B_ENUM || b == B_CHAR || b == B_SHORT)
        return B_INT;
    if (b == B_CHAR + 1 || b == B_SHORT + 1)
        return type_size(type_plain(b)) == type_size(type_plain(B_INT)) ? B_INT + 1 : B_INT;
    return b;
}

static bool expr_signed_int(type_t *t)
{
    int b = type_base_code(t);
    return type_is_integer(t) && (b == B_ENUM || !(b & 1)) && b != B_BIT;
}

// Brings an integer operand to an arithmetic target type, with the
// implicit signed-to-unsigned messages.
static tree_t *expr_arith_to(tree_t *e, int code, bool sign_row, tree_t *other)
{
    int b = type_base_code(e->type);
    if (b == code)
        return e;
    if (expr_signed_int(e->type) && (code & 1) && code < B_FLOAT) {
        if (!expr_is_constant(e)) {
            if (sign_row && other && expr_is_constant(other))
                msg_report(355);
            else
                msg_report(373);
        }
        if (type_size(e->type) < type_size(type_plain(code)))
            e = expr_convert(e, type_plain(code & ~1));
    }
    return expr_convert(e, type_plain(code));
}

static int expr_common_code(int a, int b)
{
    if (a == B_DOUBLE || b == B_DOUBLE)
        return B_DOUBLE;
    if (a == B_FLOAT || b == B_FLOAT)
        return B_FLOAT;
    a = expr_promote_code(a);
    b = expr_promote_code(b);
    return a > b ? a : b;
}

// ---------------------------------------------------------------------------
// pointer arithmetic
// ---------------------------------------------------------------------------
// The index type of arithmetic on a pointer: x, or the integer of the size
// a qualifier of the pointed-to level names.
static int expr_index_code(type_t *ptr, bool is_unsigned)
{
    type_t *p = type_unfold(ptr);
    uint32_t q = p && p->sub ? type_quals(p->sub) : 0;
    for (const qual_row_t &r : qual_table) {
        if (!r.letter || !(q & r.bit) || !r.number)
            continue;
        int code = r.number == 1 ? B_CHAR : r.number == 2 ? B_INT : r.number == 4 ? B_LONG
                 : r.number == 3 ? B_SHORTLONG : 0;
        if (!code)
            msg_report(293);
        return code | (is_unsigned ? 1 : 0);
    }
    return B_INDEX | (is_unsigned ? 1 : 0);
}

// The size of an array type as a tree of the given code: the size of its
// innermost element times each dimension. The code generator sizes what an
// array's address points at by its first scalar element, and a type leaf of
// an array type names only that element, so the dimensions are multiplied here.
static tree_t *expr_array_size(type_t *t, int code)
{
    type_t *tu = type_unfold(t);
    type_t *eu = type_unfold(tu->sub);
    tree_t *elem = eu && eu->kind == TY_ARRAY
                       ? expr_array_size(eu, code)
                       : tree_unary(O_SIZEOFT, tree_type_leaf(tu->sub), type_plain(code));
    tree_t *dim = tu->dim ? tu->dim : tree_icon(tu->count, type_plain(B_INDEX + 1));
    return tree_binary(O_MUL, elem, expr_convert(tree_copy(dim), type_plain(code)), type_plain(code));
}

// sizeof(*p) as a tree of the given code.
static tree_t *expr_pointee_size(tree_t *p, int code)
{
    type_t *pt = type_unfold(p->type);
    type_t *target = pt->sub;
    if (type_is_array(target))
        return expr_array_size(target, code);
    return tree_unary(O_SIZEOF, tree_unary(O_DEREF, tree_copy(p), target), type_plain(code));
}

static tree_t *expr_scale(tree_t *p, tree_t *i)
{
    bool u = type_base_code(i->type) & 1;
    int code = expr_index_code(p->type, u);
    tree_t *n = expr_convert(i, type_plain(code));
    tree_t *prod = tree_binary(O_MUL, n, expr_pointee_size(p, code), type_plain(code));
    return tree_binary(O_CONV, prod, tree_type_leaf(type_plain(code)), type_plain(code));
}

// ---------------------------------------------------------------------------
// the node builder
// ---------------------------------------------------------------------------
static bool expr_lvalue(tree_t *e)
{
    if (!e)
        return false;
    if (e->op == O_IDENT)
        return e->sym->cls != C_ENUMCONST && !type_is_func(e->type) && !type_is_array(e->type);
    return e->op == O_DEREF || (e->op == O_DOT && expr_lvalue(e->left)) ||
           (e->op == O_DOT && e->left->op == O_DEREF);
}

static void expr_check_modify(tree_t *l)
{
    if (!expr_lvalue(l) || type_is_void(l->type)) { // *p of a void pointer holds nothing
        msg_report(202);
        return;
    }
    if (type_is_ptr(l->type))
        return;
    uint32_t q = type_quals(l->type);
    for (const qual_row_t &r : qual_table)
        if (r.letter && (r.flags & 4) && (q & r.bit))
            msg_report(364, r.name.c_str());
}

static tree_t *expr_condition(tree_t *e)
{
    e = expr_decay(e);
    if (e && !type_is_scalar(e->type)) {
        msg_report(199);
        type_explain(e->type, nullptr);
    }
    return e;
}

// A null pointer constant: an integer constant expression of value 0, or
// one converted to void * (NULL as the headers define it). It converts to
// every pointer type, a function's address included.
static bool expr_null_pointer(tree_t *e)
{
    int64_t v;
    if (type_is_integer(e->type))
        return expr_value(e, &v) && v == 0;
    if (!type_is_void_ptr(e->type) || type_quals(type_unfold(e->type)->sub))
        return false;
    if (e->op == O_ICON) // (void *)0 folded
        return e->value == 0;
    return e->op == O_CONV && type_is_integer(e->left->type) && expr_value(e->left, &v) && v == 0;
}

tree_t *expr_to_type(tree_t *r, type_t *target)
{
    r = expr_decay(r);
    if (type_is_ptr(target) && (type_is_ptr(r->type) || type_is_integer(r->type))) {
        if (!expr_null_pointer(r) && !(type_is_ptr(r->type) && type_ptr_assignable(target, r->type))) {
            msg_report(359);
            type_explain(target, r->type);
        }
    } else if (type_is_ptr(target)) { // a floating value, a struct or a void expression
        msg_report(type_is_void(r->type) ? 206 : 209);
        type_explain(target, r->type);
        return r;
    } else if (type_is_arith(target) && !type_is_arith(r->type)) {
        if (type_is_void(r->type))
            msg_report(206);
        else
            msg_report(209);
        type_explain(target, r->type);
        return r;
    } else if (type_is_aggregate(target) && !type_compatible(target, r->type, true)) {
        msg_report(209);
        type_explain(target, r->type);
        return r;
    }
    return expr_convert(r, target);
}

static tree_t *expr_arith(int op, tree_t *l, tree_t *r, bool sign_row)
{
    int code = expr_common_code(type_base_code(l->type), type_base_code(r->type));
    tree_t *lc = expr_arith_to(l, code, sign_row, r);
    tree_t *rc = expr_arith_to(r, code, sign_row, l);
    return tree_binary(op, lc, rc, type_plain(code));
}

// The pointer operands of a comparison. Equality takes two pointers one of
// which converts to the other, or a pointer and a null pointer constant; an
// order takes two pointers to objects of one type (an address and NULL, a
// void * and another pointer, or two functions are not ordered).
static void expr_pointer_compare(int op, tree_t **l, tree_t **r)
{
    bool lp = type_is_ptr((*l)->type), rp = type_is_ptr((*r)->type);
    bool equality = op == O_EQ || op == O_NE;
    bool ln = expr_null_pointer(*l), rn = expr_null_pointer(*r);
    if (lp && rp && (!equality || (!ln && !rn))) {
        bool ordered = equality || (type_is_void_ptr((*l)->type) == type_is_void_ptr((*r)->type) &&
                                    !type_is_func(type_unfold((*l)->type)->sub));
        if (!ordered || (!type_ptr_assignable((*l)->type, (*r)->type) &&
                         !type_ptr_assignable((*r)->type, (*l)->type))) {
            msg_report(366, op_spelling[op - O_START]);
            type_explain((*l)->type, (*r)->type);
        }
        return;
    }
    bool null_against_pointer = rp ? ln || (lp && rn) : rn;
    if (!equality || !null_against_pointer) {
        msg_report(209);
        type_explain((*l)->type, (*r)->type);
    } else if (lp && rn) {
        *r = expr_convert(*r, (*l)->type);
    } else {
        *l = expr_convert(*l, (*r)->type);
    }
}

static tree_t *expr_binary_op(int op, tree_t *l, tree_t *r)
{
    l = expr_decay(l);
    r = expr_decay(r);
    bool lp = type_is_ptr(l->type), rp = type_is_ptr(r->type);
    if (type_is_void(l->type) || type_is_void(r->type)) {
        msg_report(206);
        return nullptr;
    }
    switch (op) {
    case O_ADD:
        if (rp && !lp)
            std::swap(l, r), std::swap(lp, rp);
        if (lp && type_is_integer(r->type))
            return tree_binary(O_ADD, l, expr_scale(l, r), l->type);
        break;
    case O_SUB:
        if (lp && type_is_integer(r->type))
            return tree_binary(O_SUB, l, expr_scale(l, r), l->type);
        if (lp && rp) {
            if (!type_ptr_similar(l->type, r->type)) {
                msg_report(208, "-");
                type_explain(l->type, r->type);
            }
            type_t *x = type_plain(B_INDEX);
            tree_t *d = tree_binary(O_SUB, expr_convert(l, x), expr_convert(r, x), x);
            return tree_binary(O_DIV, d, expr_pointee_size(l, B_INDEX), x);
        }
        break;
    case O_LT: case O_GT: case O_LE: case O_GE: case O_EQ: case O_NE: {
        type_t *it = type_plain(B_INT);
        if (lp || rp) {
            expr_pointer_compare(op, &l, &r);
            return tree_binary(op, l, r, it);
        }
        tree_t *n = expr_arith(op, l, r, op <= O_GE);
        n->type = it;
        return n;
    }
    case O_LAND: case O_LOR:
        return tree_binary(op, expr_condition(l), expr_condition(r), type_plain(B_INT));
    case O_SHL: case O_SHR: {
        if (!type_is_integer(l->type) || !type_is_integer(r->type)) {
            msg_report(205);
            return nullptr;
        }
        int code = expr_promote_code(type_base_code(l->type));
        tree_t *lc = expr_arith_to(l, code, false, nullptr);
        return tree_binary(op, lc, expr_convert(r, type_plain(B_INT)), type_plain(code));
    }
    default:
        break;
    }
    if (lp || rp) {
        msg_report(207, op_spelling[op - O_START]);
        return nullptr;
    }
    bool integral = op == O_MOD || op == O_AND || op == O_OR || op == O_XOR;
    if (integral && (!type_is_integer(l->type) || !type_is_integer(r->type))) {
        msg_report(205);
        return nullptr;
    }
    if (!type_is_arith(l->type) || !type_is_arith(r->type)) {
        msg_report(207, op_spelling[op - O_START]);
        return nullptr;
    }
    return expr_arith(op, l, r, op == O_DIV || op == O_MOD);
}

// Whether an integer constant's value lies in an integer type's range.
static bool expr_constant_fits(tree_t *e, type_t *t)
{
    if (!e || e->op != O_ICON || !type_is_integer(t))
        return false;
    uint32_t bits = 8 * type_size(t);
    if (bits == 0 || bits >= 64)
        return bits != 0;
    bool is_unsigned = type_base_code(t) & 1;
    int64_t lo = is_unsigned ? 0 : -((int64_t)1 << (bits - 1));
    int64_t hi = is_unsigned ? ((int64_t)1 << bits) - 1 : ((int64_t)1 << (bits - 1)) - 1;
    return e->value >= lo && e->value <= hi;
}

static tree_t *expr_assign_op(int op, tree_t *l, tree_t *r)
{
    expr_check_modify(l);
    if (op == O_ASSIGN)
        return tree_binary(O_ASSIGN, l, expr_to_type(r, l->type), l->type);
    r = expr_decay(r);
    if (type_is_ptr(l->type) && (op == O_ASADD || op == O_ASSUB || op == O_INC || op == O_DEC)) {
        if (!type_is_integer(r->type)) {
            msg_report(209);
            return nullptr;
        }
        return tree_binary(op, l, expr_scale(l, r), l->type);
    }
    bool integral = op == O_ASMOD || op == O_ASAND || op == O_ASOR || op == O_ASXOR ||
                    op == O_ASSHL || op == O_ASSHR;
    if (!type_is_arith(l->type) || !type_is_arith(r->type) ||
        (integral && (!type_is_integer(l->type) || !type_is_integer(r->type)))) {
        if (integral)
            msg_report(205);
        else
            msg_report(207, op_spelling[op - O_START]);
        return nullptr;
    }
    if (op == O_ASSHL || op == O_ASSHR)
        return tree_binary(op, l, expr_convert(r, type_plain(B_INT)), l->type);
    // x op= y is x = x op y done in the operands' common type. y converted to
    // x's type gives the same result for + - * & | ^ of integers (the bits
    // kept depend only on the bits kept of the operands), but a quotient or
    // remainder only when x's type holds y's value in the same signedness,
    // and nothing with a floating operand of another type: y then keeps the
    // common type (u /= s, i /= 2.5, s %= 255).
    int lc = type_base_code(l->type), rc = type_base_code(r->type);
    bool floating = lc == B_FLOAT || lc == B_DOUBLE || rc == B_FLOAT || rc == B_DOUBLE;
    bool division = op == O_ASDIV || op == O_ASMOD;
    if ((floating && lc != rc) || (division && lc != rc && !expr_constant_fits(r, l->type)))
        return tree_binary(op, l, expr_convert(r, type_plain(expr_common_code(lc, rc))), l->type);
    return tree_binary(op, l, expr_convert(r, l->type), l->type);
}

// The unary and assignment rows that take their operand as it stands but
// are not marked for bits: a bit there is an error, not an int.
static bool expr_bit_illegal(int op)
{
    switch (op) {
    case O_ADDR: case O_NEG: case O_UPLUS: case O_ASADD: case O_INC: case O_ASSUB: case O_DEC:
    case O_ASMUL: case O_ASDIV: case O_ASMOD: case O_ASSHR: case O_ASSHL:
        return true;
    default:
        return false;
    }
}

tree_t *expr_make(int op, tree_t *l, tree_t *r)
{
    if (!l || (!r && op != O_NOT && op != O_NEG && op != O_UPLUS && op != O_COMPL &&
                op != O_DEREF && op != O_ADDR && op != O_SIZEOF))
        return nullptr;
    if (opt.bit_type && type_base_code(l->type) == B_BIT && !type_is_ptr(l->type)) {
        if (op == O_COMPL)
            op = O_NOT; // the complement of one bit is its negation
        if (expr_bit_illegal(op)) {
            msg_report(203);
            return nullptr;
        }
    }
    switch (op) {
    case O_ASSIGN: case O_ASADD: case O_ASSUB: case O_ASMUL: case O_ASDIV: case O_ASMOD:
    case O_ASSHR: case O_ASSHL: case O_ASAND: case O_ASXOR: case O_ASOR: case O_INC: case O_DEC:
        return expr_assign_op(op, l, r);
    case O_NOT:
        return tree_unary(O_NOT, expr_condition(l), type_plain(B_INT));
    case O_NEG: case O_UPLUS: case O_COMPL: {
        l = expr_decay(l);
        if (!type_is_arith(l->type) || (op == O_COMPL && !type_is_integer(l->type))) {
            if (op == O_COMPL)
                msg_report(205);
            else
                msg_report(207, op_spelling[op - O_START]);
            return nullptr;
        }
        int code = expr_promote_code(type_base_code(l->type));
        l = expr_arith_to(l, code, false, nullptr);
        if (l->op == O_ICON && op != O_UPLUS) {
            int64_t v = op == O_NEG ? (int64_t)(0 - (uint64_t)l->value) : ~l->value;
            return tree_icon(expr_truncate(v, l->type), l->type);
        }
        return tree_unary(op, l, l->type);
    }
    case O_DEREF: {
        l = expr_decay(l);
        type_t *t = type_unfold(l->type);
        if (!t || t->kind != TY_PTR) {
            msg_report(981);
            type_explain(l->type, nullptr);
            return nullptr;
        }
        // *&x is x; but an array decayed to &a gives its first element, of
        // the element type, not the array again (*a, *s.m, *arr2)
        if (l->op == O_ADDR && !type_is_func(t->sub) && !type_is_array(l->left->type))
            return l->left;
        return tree_unary(O_DEREF, l, t->sub);
    }
    case O_ADDR: {
        if (l->op == O_IDENT && (l->sym->flags & F_REGISTER))
            msg_report(200);
        if (type_is_array(l->type)) {
            msg_report(362);
            return expr_decay(l);
        }
        if (type_is_func(l->type)) {
            msg_report(363);
            return expr_decay(l);
        }
        if (l->op == O_DEREF)
            return l->left;
        if (!expr_lvalue(l) || (l->op == O_DOT && l->sym && (l->sym->flags & F_BITFIELD))) {
            msg_report(201);
            return nullptr;
        }
        return tree_unary(O_ADDR, l, type_ptr(l->type));
    }
    default:
        return expr_binary_op(op, l, r);
    }
}

tree_t *expr_assign(tree_t *target, tree_t *value)
{
    return expr_make(O_ASSIGN, target, value);
}

tree_t *expr_bool(tree_t *e)
{
    return expr_condition(e);
}

// ---------------------------------------------------------------------------
// the reader
// ---------------------------------------------------------------------------
static void expr_enter()
{
    if (++expr_depth > 100)
        msg_report(295);
}

static tree_t *expr_identifier()
{
    sym_t *s = tok.sym;
    if (!s || s->cls == C_NONE) {
        if (lex_peek() == O_LPAREN) {
            msg_report(361);
            type_t *f = type_new(TY_FUNC);
            f->sub = type_base(B_INT);
            int saved = sym_level;
            sym_level = 0;
            s = sym_declare(sym_new(tok.text, 0), K_EXTERN, f, nullptr);
            sym_level = saved;
        } else {
            msg_report(192, tok.text.c_str());
            s = sym_declare(sym_new(tok.text, sym_level), K_EXTERN, type_base(B_INT), nullptr);
            s->flags |= F_DEFINED;
        }
    } else if (s->cls == K_TYPEDEF || s->cls == C_STRUCT || s->cls == C_UNION ||
               s->cls == C_ENUM || s->cls == C_MEMBER || s->cls == C_LABEL) {
        msg_report(193, s->name.c_str());
    }
    s->flags |= F_USED;
    return tree_sym(s);
}

static tree_t *expr_string()
{
    std::string bytes = tok.text;
    tree_t *e = tree_new(O_STRING);
    e->value = ic_string_store(bytes, lex_string_qual);
    e->length = (int)bytes.size() + 1;
    e->squal = lex_string_qual;
    e->text = bytes;
    type_t *c = type_base(opt.unsigned_char ? B_CHAR + 1 : B_CHAR);
    c->qual = lex_string_qual;
    e->type = type_ptr(c);
    return e;
}

// What sizeof cannot measure: a function, void, a struct or union without
// its body, a bit-field (e, when given, is the operand expression).
static void expr_check_sized(type_t *t, tree_t *e)
{
    if (type_is_func(t))
        msg_report(1530);
    else if (type_is_void(t))
        msg_report(206);
    else if (e && e->op == O_DOT && e->sym && (e->sym->flags & F_BITFIELD))
        msg_report(1531);
    else
        type_check_complete(t);
}

static tree_t *expr_sizeof()
{
    type_t *st = type_plain(type_size_code());
    if (lex_next() == O_LPAREN) {
        token_t paren = tok;
        lex_next();
        bool is_type = type_is_decl_start();
        lex_unget();
        if (is_type) {
            type_t *t = type_name();
            if (lex_next() != O_RPAREN) {
                msg_report(194);
                lex_unget();
            }
            if (type_base_code(t) == B_BIT)
                msg_report(211);
            expr_check_sized(t, nullptr);
            type_t *tu = type_unfold(t);
            if (tu && tu->kind == TY_ARRAY && (tu->dim || tu->count)) // int[3][4]
                return expr_array_size(tu, type_base_code(st));
            return tree_unary(O_SIZEOFT, tree_type_leaf(t), st);
        }
        tok = paren;
        lex_unget();
    } else {
        lex_unget();
    }
    tree_t *e = expr_unary();
    if (!e)
        return nullptr;
    if (type_base_code(e->type) == B_BIT)
        msg_report(211);
    expr_check_sized(e->type, e);
    if (e->op == O_IDENT && type_is_array(e->type) && !(e->sym->flags & F_WRITTEN)) {
        type_t *t = e->type;
        tree_t *dim = t->dim;
        int64_t v;
        if (!dim && !t->count) {
            msg_report(353, e->sym->name.c_str());
            return tree_icon(0, st);
        }
        if (dim && expr_value(dim, &v) && v == 0) {
            msg_report(353, e->sym->name.c_str());
            return tree_icon(0, st);
        }
        return expr_array_size(t, type_base_code(st));
    }
    // an array reached through its address (*a, a[i], p->m[i]) is measured
    // by its type, not by what the address points at
    if (e->op == O_DEREF && type_is_array(e->type))
        return expr_array_size(e->type, type_base_code(st));
    return tree_unary(O_SIZEOF, e, st);
}

// __builtin_unique_id("name", n) and __builtin_enum_label("name", n): the
// global label name<n> defined where the call stands; the value is n.
bool expr_global_label(int64_t *n)
{
    if (lex_next() != O_LPAREN) {
        msg_report(317);
        lex_unget();
        return false;
    }
    if (lex_next() != O_STRING) {
        msg_report(318);
        lex_unget();
        return false;
    }
    std::string name = tok.text;
    if (lex_next() != O_ARG) {
        msg_report(372);
        lex_unget();
        return false;
    }
    if (lex_next() != O_ICON) {
        msg_report(265);
        lex_unget();
        return false;
    }
    *n = tok.value;
    if (lex_next() != O_RPAREN) {
        msg_report(194);
        lex_unget();
    }
    ic_marker(out_body);
    fprintf(out_body, "[; GLOBAL %s%ld ;#\n[; %s%ld: ;#\n", name.c_str(), (long)*n, name.c_str(),
            (long)*n);
    return true;
}

static tree_t *expr_primary()
{
    int c = lex_next();
    switch (c) {
    case O_UNIQUE: {
        int64_t n;
        return expr_global_label(&n) ? tree_icon(n, type_plain(B_INT)) : nullptr;
    }
    case O_IDENT:
        return expr_identifier();
    case O_ICON:
        return tree_icon(tok.value, type_plain(tok.ctype));
    case O_FCON: {
        tree_t *e = tree_new(O_FCON);
        e->text = tok.text;
        e->type = type_plain(tok.ctype);
        return e;
    }
    case O_STRING:
        return expr_string();
    case O_LPAREN: {
        // A parenthesis holds one place of the reader's bound, as one entry
        // of an operator stack would: the unary level that led here already
        // counted it, so the expression inside starts level with it.
        expr_depth--;
        tree_t *e = expr_comma();
        expr_depth++;
        if (lex_next() != O_RPAREN) {
            msg_report(194);
            lex_unget();
        }
        return e;
    }
    default:
        msg_report(195);
        lex_unget();
        return nullptr;
    }
}

// Wraps the fixed arguments of a varargs call in "(.", chains the
// arguments to the left with "," and puts the marker row in front.
static tree_t *expr_call_args(std::vector<tree_t *> &args, proto_t *p)
{
    if (args.empty())
        return tree_new(O_EOL);
    size_t fixed = p && p->varargs() ? p->entries.size() - 1 : args.size();
    tree_t *chain = nullptr;
    for (size_t i = 0; i < args.size(); i++) {
        if (!chain) {
            chain = args[i];
        } else {
            chain = tree_binary(O_ARG, chain, args[i], type_plain(B_VOID));
        }
        if (i + 1 == fixed && fixed < args.size() && p && p->varargs())
            chain = tree_unary(O_VARG, chain, type_plain(B_VOID));
    }
    return chain;
}

// A pointer argument of a printf-style function in its "..." part points at
// data with the qualifiers named by #pragma printf_check.
static tree_t *expr_format_pointer(tree_t *a, uint32_t qual)
{
    type_t *p = type_unfold(a->type);
    type_t *to = type_copy(type_unfold(p->sub));
    to->qual |= qual;
    return expr_convert(a, type_ptr(to));
}

static tree_t *expr_call(tree_t *fn)
{
    type_t *ft = type_unfold(fn->type);
    if (ft && ft->kind == TY_PTR && type_is_func(ft->sub)) {
        fn = tree_unary(O_DEREF, fn, ft->sub);
        ft = type_unfold(ft->sub);
    }
    if (!ft || ft->kind != TY_FUNC) {
        msg_report(183);
        type_explain(fn->type, nullptr);
        ft = nullptr;
    } else if (qual_role.interrupt && (ft->qual & qual_role.interrupt)) {
        msg_report(184);
    }
    if (fn->op == O_IDENT && decl_function)
        fi_line("%s %d\n", fn->sym->name.c_str(), (int)lex_line);
    proto_t *p = ft ? ft->proto : nullptr;
    std::vector<tree_t *> args;
    if (lex_next() != O_RPAREN) {
        lex_unget();
        for (;;) {
            tree_t *a = expr_parse(EC_INIT);
            if (a) {
                a = expr_decay(a);
                size_t k = args.size();
                if (p && p->is_void()) {
                    if (k == 0)
                        msg_report(185);
                } else if (p && k < p->entries.size() && p->entries[k]->base != B_VARARGS) {
                    a = expr_to_type(a, p->entries[k]);
                } else {
                    if (p && !p->varargs() && k == p->entries.size())
                        msg_report(186);
                    int b = type_base_code(a->type);
                    if (type_is_integer(a->type) && (b == B_ENUM || type_size(a->type) < type_size(type_plain(B_INT))))
                        a = expr_convert(a, type_plain(expr_promote_code(b)));
                    else if (b == B_FLOAT)
                        a = expr_convert(a, type_plain(B_DOUBLE));
                    else if (type_is_ptr(a->type) && fn->op == O_IDENT && fn->sym->format_qual)
                        a = expr_format_pointer(a, fn->sym->format_qual);
                }
                args.push_back(a);
            }
            if (lex_next() != O_ARG)
                break;
        }
        if (tok.code != O_RPAREN) {
            msg_report(194);
            lex_unget();
        }
    }
    if (p && !p->is_void()) {
        size_t fixed = p->varargs() ? p->entries.size() - 1 : p->entries.size();
        if (args.size() < fixed)
            msg_report(187);
    }
    tree_t *list = expr_call_args(args, p);
    int markers = 0;
    if (p && !p->is_void())
        markers = (int)p->entries.size() - (p->varargs() ? 2 : 0);
    if (markers > 0)
        list = tree_unary(O_MARK1 + (markers > 4 ? 3 : markers - 1), list, type_plain(B_VOID));
    if (fn->op == O_IDENT && (fn->sym->flags & F_PRINTF) && p && p->varargs()) {
        size_t fixed = p->entries.size() - 1;
        tree_t *format = fixed >= 1 && args.size() >= fixed ? args[fixed - 1] : nullptr;
        std::vector<tree_t *> rest;
        for (size_t k = fixed; k < args.size(); k++)
            rest.push_back(args[k]);
        fn->sym->printf_mask |= expr_printf_check(format, rest);
        bool listed = false;
        for (sym_t *u : expr_printf_users)
            listed |= u == fn->sym;
        if (!listed)
            expr_printf_users.push_back(fn->sym);
    }
    return tree_binary(O_CALL, fn, list, ft ? ft->sub : type_plain(B_INT));
}

// One member access: the aggregate and the member's number in its tag.
static tree_t *expr_dot(tree_t *e, sym_t *tag, sym_t *m)
{
    int index = 0;
    for (sym_t *k = tag->members; k && k != m; k = k->next_member)
        index++;
    tree_t *n = tree_new(O_MEMBER);
    n->value = index;
    n->sym = m;
    tree_t *d = tree_binary(O_DOT, e, n, m->type);
    d->sym = m;
    type_t *mt = type_copy(type_unfold(m->type));
    mt->qual |= type_quals(e->type) & 3;
    d->type = mt;
    return d;
}

// The access to member m of tag, through the unnamed struct or union
// members that hold it.
static tree_t *expr_member_path(tree_t *e, sym_t *tag, sym_t *m)
{
    for (sym_t *k = tag->members; k; k = k->next_member) {
        if (k == m)
            return expr_dot(e, tag, m);
        type_t *kt = type_unfold(k->type);
        if (k->name.empty() && kt && kt->kind == TY_BASE &&
            (kt->base == B_STRUCT || kt->base == B_UNION) && sym_member(kt->tag, m->name) == m)
            return expr_member_path(expr_dot(e, tag, k), kt->tag, m);
    }
    return nullptr;
}

static tree_t *expr_member(tree_t *e, bool arrow)
{
    if (lex_next() != O_IDENT) {
        msg_report(197);
        lex_unget();
        return nullptr;
    }
    std::string name = tok.text;
    if (!e)
        return nullptr;
    if (arrow) {
        e = expr_make(O_DEREF, e, nullptr);
        if (!e)
            return nullptr;
    }
    int b = type_base_code(e->type);
    if (b != B_STRUCT && b != B_UNION) {
        msg_report(196);
        type_explain(e->type, nullptr);
        return nullptr;
    }
    sym_t *tag = type_unfold(e->type)->tag;
    sym_t *m = sym_member(tag, name);
    if (!m) {
        msg_report(255, name.c_str());
        return nullptr;
    }
    return expr_member_path(e, tag, m);
}

static tree_t *expr_subscript(tree_t *a)
{
    tree_t *i = expr_comma();
    if (lex_next() != O_RBRACK) {
        msg_report(310);
        lex_unget();
    }
    if (!a || !i)
        return nullptr;
    if (!type_is_ptr(a->type) && !type_is_array(a->type))
        std::swap(a, i);
    if (!type_is_ptr(a->type) && !type_is_array(a->type)) {
        msg_report(981);
        type_explain(a->type, nullptr);
        return nullptr;
    }
    if (!type_is_integer(i->type)) {
        msg_report(190);
        type_explain(i->type, nullptr);
        return nullptr;
    }
    type_t *at = type_unfold(a->type);
    int64_t v;
    if (at && at->kind == TY_ARRAY && at->count && expr_value(i, &v) &&
        (v < 0 || v > (int64_t)at->count || (v == (int64_t)at->count && !expr_addr_below)))
        msg_report(360);
    if (at && at->kind == TY_ARRAY && expr_signed_int(i->type)) {
        int b = type_base_code(i->type);
        if (b == B_BIT)
            i = expr_convert(i, type_plain(B_INDEX));
        else if (b < 9 && b != B_ENUM)
            i = expr_convert(i, type_plain(b | 1));
        i = expr_convert(i, type_plain(B_INDEX + 1));
    }
    tree_t *p = expr_decay(a);
    tree_t *sum = tree_binary(O_ADD, p, expr_scale(p, i), p->type);
    return tree_unary(O_DEREF, sum, type_unfold(p->type)->sub);
}

static tree_t *expr_postfix()
{
    tree_t *e = expr_primary();
    for (;;) {
        int c = lex_next();
        if (c == O_LBRACK) {
            e = expr_subscript(e);
        } else if (c == O_LPAREN) {
            if (e)
                e = expr_call(e);
            else
                lex_skip_statement();
        } else if (c == O_DOT || c == O_ARROWSRC) {
            e = expr_member(e, c == O_ARROWSRC);
        } else if (c == O_PREINC || c == O_PREDEC) {
            if (e)
                e = expr_make(c == O_PREINC ? O_INC : O_DEC, e, tree_icon(1, type_plain(B_INT)));
        } else {
            lex_unget();
            return e;
        }
    }
}

static tree_t *expr_cast_or_paren()
{
    token_t paren = tok;
    lex_next();
    bool is_type = type_is_decl_start();
    lex_unget();
    if (!is_type) {
        tok = paren;
        lex_unget();
        return expr_postfix();
    }
    type_t *t = type_name();
    if (lex_next() != O_RPAREN) {
        msg_report(194);
        lex_unget();
    }
    tree_t *e = expr_unary();
    if (!e)
        return nullptr;
    if (!type_is_scalar(t) && !type_is_void(t)) {
        msg_report(191);
        return nullptr;
    }
    e = expr_decay(e);
    return expr_cast(e, t);
}

static tree_t *expr_unary()
{
    expr_enter();
    tree_t *e = nullptr;
    int c = lex_next();
    switch (c) {
    case O_MUL: e = expr_make(O_DEREF, expr_unary(), nullptr); break;
    case O_AND: {
        bool saved = expr_addr_below;
        expr_addr_below = true;
        tree_t *l = expr_unary();
        expr_addr_below = saved;
        e = expr_make(O_ADDR, l, nullptr);
        break;
    }
    case O_SUB: e = expr_make(O_NEG, expr_unary(), nullptr); break;
    case O_ADD: e = expr_make(O_UPLUS, expr_unary(), nullptr); break;
    case O_NOT: e = expr_make(O_NOT, expr_unary(), nullptr); break;
    case O_COMPL: e = expr_make(O_COMPL, expr_unary(), nullptr); break;
    case O_PREINC:
    case O_PREDEC: {
        tree_t *l = expr_unary();
        e = expr_make(c == O_PREINC ? O_ASADD : O_ASSUB, l, tree_icon(1, type_plain(B_INT)));
        break;
    }
    case O_SIZEOF: e = expr_sizeof(); break;
    case O_LPAREN: e = expr_cast_or_paren(); break;
    default:
        lex_unget();
        e = expr_postfix();
        break;
    }
    expr_depth--;
    return e;
}

struct binop_t {
    int code;
    int prec;
};

static int expr_binary_prec(int c)
{
    switch (c) {
    case O_MUL: case O_DIV: case O_MOD: return 26;
    case O_ADD: case O_SUB: return 24;
    case O_SHL: case O_SHR: return 22;
    case O_LT: case O_GT: case O_LE: case O_GE: return 20;
    case O_EQ: case O_NE: return 18;
    case O_AND: return 17;
    case O_XOR: return expr_context == EC_BITNUM ? 0 : 16;
    case O_OR: return 15;
    case O_LAND: return 14;
    case O_LOR: return 13;
    default: return 0;
    }
}

static tree_t *expr_binary(int min_prec)
{
    tree_t *l = expr_unary();
    for (;;) {
        int c = lex_next();
        int p = expr_binary_prec(c);
        if (!p || p < min_prec) {
            lex_unget();
            return l;
        }
        expr_enter();
        tree_t *r = expr_binary(p + 1);
        expr_depth--;
        l = l && r ? expr_make(c, l, r) : nullptr;
    }
}

// A pointer to what p points at, with the qualifiers q added on that level.
static type_t *expr_pointer_with(type_t *p, uint32_t q)
{
    type_t *pt = type_unfold(p);
    type_t *sub = type_copy(type_unfold(pt->sub));
    sub->qual |= q;
    type_t *r = type_copy(pt);
    r->qual = 0;
    r->sub = sub;
    return r;
}

// The type of c ? a : b when an arm is a pointer. A null pointer constant
// takes the other arm's type; a void * and a pointer to an object give a
// void *; two pointers to versions of one type give a pointer to it. In the
// last two the result carries the qualifiers of both arms (c ? p : cp is a
// const char * when one arm is). Anything else is a mismatch: 208 for two
// pointers, 209 for a pointer and another type.
static type_t *expr_arms_pointer(tree_t *a, tree_t *b)
{
    if (!type_is_ptr(a->type) || !type_is_ptr(b->type)) {
        tree_t *p = type_is_ptr(a->type) ? a : b, *o = p == a ? b : a;
        if (!expr_null_pointer(o)) {
            msg_report(209);
            type_explain(a->type, b->type);
        }
        return p->type;
    }
    if (expr_null_pointer(a) || expr_null_pointer(b))
        return expr_null_pointer(a) ? b->type : a->type;
    uint32_t qa = type_quals(type_unfold(a->type)->sub), qb = type_quals(type_unfold(b->type)->sub);
    bool va = type_is_void_ptr(a->type), vb = type_is_void_ptr(b->type);
    bool functions = type_is_func(type_unfold(a->type)->sub) || type_is_func(type_unfold(b->type)->sub);
    if ((va || vb) && !functions)
        return expr_pointer_with(va ? a->type : b->type, qa | qb);
    if (va || vb || !type_ptr_similar(a->type, b->type)) {
        msg_report(208, ":");
        type_explain(a->type, b->type);
        return a->type;
    }
    return expr_pointer_with(a->type, qb);
}

static tree_t *expr_conditional()
{
    tree_t *c = expr_binary(13);
    if (lex_next() != O_QUEST) {
        lex_unget();
        return c;
    }
    expr_quest_open++;
    tree_t *a = expr_comma();
    expr_quest_open--;
    if (lex_next() != O_COLON) {
        msg_report(195);
        lex_unget();
        return nullptr;
    }
    tree_t *b = expr_conditional();
    if (!c || !a || !b)
        return nullptr;
    c = expr_condition(c);
    a = expr_decay(a);
    b = expr_decay(b);
    type_t *t;
    if (type_is_arith(a->type) && type_is_arith(b->type)) {
        int code = expr_common_code(type_base_code(a->type), type_base_code(b->type));
        a = expr_arith_to(a, code, false, nullptr);
        b = expr_arith_to(b, code, false, nullptr);
        t = type_plain(code);
    } else if (type_is_ptr(a->type) || type_is_ptr(b->type)) {
        t = expr_arms_pointer(a, b);
        a = expr_convert(a, t);
        b = expr_convert(b, t);
    } else {
        if ((type_is_aggregate(a->type) || type_is_aggregate(b->type)) &&
            !type_compatible(a->type, b->type, true)) {
            msg_report(209);
            type_explain(a->type, b->type);
        }
        t = a->type;
    }
    return tree_binary(O_QUEST, c, tree_binary(O_COLON, a, b, t), t);
}

static bool expr_is_assign_op(int c)
{
    return c == O_ASSIGN || (c >= O_ASADD && c <= O_ASOR && c != O_INC && c != O_DEC);
}

static tree_t *expr_assignment()
{
    expr_enter();
    tree_t *l = expr_conditional();
    int c = lex_next();
    if (expr_is_assign_op(c) && !(c == O_ASSIGN && expr_context == EC_PLACE)) {
        tree_t *r = expr_assignment();
        l = l && r ? expr_make(c, l, r) : nullptr;
    } else {
        lex_unget();
    }
    expr_depth--;
    return l;
}

static tree_t *expr_comma()
{
    tree_t *l = expr_assignment();
    while (lex_next() == O_ARG) {
        if (expr_context > 2 && expr_depth == 0 && expr_quest_open == 0) {
            break;
        }
        tree_t *r = expr_assignment();
        l = l && r ? tree_binary(O_SEQ, l, r, r->type) : nullptr;
    }
    lex_unget();
    return l;
}

tree_t *expr_parse(int context)
{
    int saved_context = expr_context, saved_depth = expr_depth, saved_quest = expr_quest_open;
    expr_context = context;
    expr_depth = 0;
    expr_quest_open = 0;
    unsigned errors = msg_error_count();
    tree_t *e = context > 2 ? expr_assignment() : expr_comma();
    expr_context = saved_context;
    expr_depth = saved_depth;
    expr_quest_open = saved_quest;
    if (msg_error_count() != errors)
        return nullptr;
    return e;
}


