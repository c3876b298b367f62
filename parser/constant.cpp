// constant: the two constant tests of expressions. expr_is_constant says
// whether a tree may stand where a constant is required (the code generator
// folds it there); expr_value computes the 32-bit value where the parser
// itself needs the number (dimensions, enumerators, placements), with
// wrap-around arithmetic that never traps on the host.
#include "plover.h"

static bool expr_const_flag(int op)
{
    if (op >= 69 && op <= 74)
        return true;
    if (op == O_SIZEOF || op == O_CONV || op == O_SIZEOFT)
        return true;
    if (op >= 81 && op <= 100)
        return true;
    return op == O_ICON || op == O_LEAF || op == O_STRING || op == O_TYPE || op == O_FCON ||
           op == 137 || op == 138;
}

static bool expr_address_constant(tree_t *e)
{
    if (e->op == O_IDENT)
        return e->sym->cls == K_EXTERN || e->sym->cls == K_STATIC;
    if (e->op == O_DOT)
        return expr_address_constant(e->left);
    if (e->op == O_DEREF)
        return expr_is_constant(e->left);
    return false;
}

bool expr_is_constant(tree_t *e)
{
    if (!e)
        return false;
    switch (e->op) {
    case O_SIZEOF:
    case O_SIZEOFT:
        return true;
    case O_IDENT: {
        type_t *t = type_unfold(e->sym->type);
        if (!t || t->kind != TY_BASE)
            return false;
        if (t->base == B_ENUM && e->sym->cls == C_ENUMCONST)
            return true;
        return false;
    }
    case O_ADDR:
        return expr_address_constant(e->left) || expr_is_constant(e->left);
    case O_DEREF:
        return e->left->op == O_ADDR && expr_is_constant(e->left->left);
    case O_CONV:
        return expr_is_constant(e->left);
    default:
        if (!expr_const_flag(e->op))
            return false;
        if (e->op == O_ICON || e->op == O_FCON || e->op == O_STRING || e->op == O_TYPE)
            return true;
        return expr_is_constant(e->left) && (!e->right || expr_is_constant(e->right));
    }
}

// The 32-bit value of a tree, computed with wrap-around.
bool expr_value(tree_t *e, int64_t *v)
{
    int64_t a, b;
    if (!e)
        return false;
    switch (e->op) {
    case O_ICON:
        *v = (int32_t)e->value;
        return true;
    case O_IDENT:
        if (e->sym->cls != C_ENUMCONST)
            return false;
        *v = (int32_t)e->sym->address;
        return true;
    case O_SIZEOF: {
        int code = type_base_code(e->left->type);
        type_t *t = type_unfold(e->left->type);
        if (!t || t->kind != TY_BASE || t->qual || code < B_CHAR || code > B_INDEX + 1)
            return false;
        *v = type_size(t);
        return true;
    }
    case O_ADDR:
        if (e->left->op == O_IDENT && (e->left->sym->flags & F_ABSOLUTE)) {
            *v = (int32_t)e->left->sym->address;
            return true;
        }
        return false;
    case O_CONV:
        return expr_value(e->left, v);
    case O_NEG:
    case O_UPLUS:
    case O_COMPL:
        if (!expr_value(e->left, &a))
            return false;
        *v = e->op == O_NEG ? (int32_t)(0u - (uint32_t)a) : e->op == O_COMPL ? ~a : a;
        return true;
    default:
        break;
    }
    if (e->op < O_MUL || e->op > O_OR || !e->right)
        return false;
    if (!expr_value(e->left, &a) || !expr_value(e->right, &b))
        return false;
    uint32_t ua = (uint32_t)a, ub = (uint32_t)b;
    switch (e->op) {
    case O_MUL: *v = (int32_t)(ua * ub); return true;
    case O_ADD: *v = (int32_t)(ua + ub); return true;
    case O_SUB: *v = (int32_t)(ua - ub); return true;
    case O_AND: *v = (int32_t)(ua & ub); return true;
    case O_OR: *v = (int32_t)(ua | ub); return true;
    case O_XOR: *v = (int32_t)(ua ^ ub); return true;
    case O_SHL: *v = (int32_t)(ua << (ub & 31)); return true;
    case O_SHR: *v = (int32_t)a >> (ub & 31); return true;
    case O_DIV:
        if (b == 0 || (a == INT32_MIN && b == -1))
            return false;
        *v = (int32_t)a / (int32_t)b;
        return true;
    default:
        return false;
    }
}

tree_t *expr_constant(int context, int64_t *v, bool *known)
{
    tree_t *e = expr_parse(context);
    *known = false;
    if (!e)
        return nullptr;
    if (!expr_is_constant(e)) {
        msg_report(188);
        return nullptr;
    }
    *known = expr_value(e, v);
    return e;
}

