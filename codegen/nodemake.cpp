// node_make: builds one expression node with its type and the rewrites that
// every later pass relies on.
//
// Conversions of integer constants fold into the constant; &U(*U x) and
// *U(&U x) collapse to x; sizeof becomes a constant; member access with a
// type operand folds to an offset (or, for an enumeration, to the constant);
// calls get their arguments flattened into a CALLARGS list and the varargs
// helpers are lowered to address arithmetic on the parameter block.
#include "kestrel.h"
#include "select.h"

#include <cstring>
#include <string>

static type_desc *basic(const char *name) { return basic_type_named(name); }

// A pointer-target record naming one object.
static ptrset *targets_of(cg_symbol *s)
{
    ptrset *p = (ptrset *)xmalloc(sizeof(ptrset));
    p->targets = vec_new(2);
    if (s)
        ptrset_add_target(p, s);
    return p;
}

// Step 1: a conversion of an integer constant is the constant itself.
static tree_node *fold_const_conversion(tree_node *c, tree_node *ty)
{
    type_desc *t = ty->type;
    c->type = t;
    const_fit_node(c, c);
    if (type_is(t, TY_POINTER)) {
        type_desc *to = typeSub(t);
        if (!type_is(to, TY_FUNCTION))
            c->ptrs = targets_of(space_symbol(to, t, -1));
    }
    node_free(ty);
    return c;
}

// Adds every argument of a call's argument tree to the list, in order.
static void flatten_args(tree_node *t, vector_t *args, uint32_t *fixed)
{
    if (!t)
        return;
    switch (t->op) {
    case OP_EMPTY:
        node_free(t);
        return;
    case OP_COMMA:
        flatten_args(t->left, args, fixed);
        flatten_args(t->right, args, fixed);
        node_free(t);
        return;
    case OP_MARK1: case OP_MARK2: case OP_MARK3: case OP_MARK4:
        flatten_args(t->left, args, fixed);
        node_free(t);
        return;
    case OP_FIXED_ARGS:
        flatten_args(t->left, args, fixed);
        *fixed = vec_count(args);
        node_free(t);
        return;
    default:
        vec_push(args, t);
    }
}

// The parameter block symbol "?name" of a function.
static cg_symbol *param_block_of(cg_symbol *f)
{
    if (!f->param_block) {
        std::string name = std::string("?") + sym_asm_name(f);
        cg_symbol *b = sym_new(name.c_str());
        b->cls = 'F';
        b->storage = ST_STATIC;
        b->owner = f;
        b->type = type_derive(basic("uc"), TY_ARRAY);
        f->param_block = b;
    }
    return f->param_block;
}

// ___va_start: the address just past the fixed parameters.
static tree_node *lower_va_start(tree_node *args)
{
    tree_free(args);
    cg_symbol *f = current_function;
    if (!f)
        return node_new_const(0);
    uint32_t offset = func_layout_params(f);
    tree_node *addr = node_make(OP_ADDR, node_new_id(param_block_of(f)), nullptr);
    return node_make(OP_ADD, addr, node_new_const((long)offset));
}

// ___va_arg(ap): ap ++ size of what ap points to; the value is ap's old value.
static tree_node *lower_va_arg(tree_node *args)
{
    vector_t *list = vec_new(2);
    uint32_t fixed = 0;
    flatten_args(args, list, &fixed);
    tree_node *ap = vec_count(list) ? (tree_node *)vec_get(list, 0) : nullptr;
    for (uint32_t i = 1; i < vec_count(list); i++)
        tree_free((tree_node *)vec_get(list, i));
    vec_free(list);
    if (!ap)
        return node_new_const(0);
    uint32_t size = type_is(ap->type, TY_POINTER) ? type_size(typeSub(ap->type)) : 1;
    return node_make(OP_POSTINC, ap, node_new_const((long)size));
}

static tree_node *make_call(tree_node *n)
{
    tree_node *callee = n->left;
    cg_symbol *f = callee && callee->op == OP_ID ? callee->sym : nullptr;
    if (f && !strcmp(f->key, "___va_start")) {
        tree_node *r = lower_va_start(n->right);
        node_free(callee);
        node_free(n);
        return r;
    }
    if (f && !strcmp(f->key, "___va_arg")) {
        tree_node *r = lower_va_arg(n->right);
        node_free(callee);
        node_free(n);
        return r;
    }
    if (!f && callee && callee->op == OP_DEREF && callee->left && callee->left->op == OP_CONST) {
        f = sym_lookup("Absolute function");
        f->cls = 'F';
        f->address = (unsigned long)callee->left->value;
        f->flags |= SF_ABSOLUTE;
    }
    type_desc *ft = callee ? type_unqualify(callee->type) : nullptr;
    if (ft && ft->kind == TY_POINTER)
        ft = type_unqualify(ft->sub);
    n->type = ft && ft->kind == TY_FUNCTION ? ft->sub : basic("i");
    tree_node *list = node_new();
    list->op = OP_CALLARGS;
    list->args = vec_new(4);
    list->type = basic("v");
    uint32_t fixed = 0;
    flatten_args(n->right, list->args, &fixed);
    list->spare = fixed;
    list->height = 1;
    n->right = list;
    n->call_target = f;
    if (f && f->type && !(f->flags & SF_NO_NUMBER))
        n->call_token = func_number_of(f) << 16;
    return n;
}

// "." with a structure or enumeration type on the left, or an aggregate.
static tree_node *make_member(tree_node *n)
{
    type_desc *t = type_unqualify(n->left ? n->left->type : nullptr);
    long index = n->right && n->right->op == OP_CONST ? n->right->value : 0;
    if (n->left && n->left->op == OP_TYPE && t && t->kind == TY_ENUM) {
        tree_node *c = node_new_const(index);
        c->type = n->left->type;
        tree_free(n->left);
        tree_free(n->right);
        node_free(n);
        return c;
    }
    cg_symbol *m = nullptr;
    if (t && t->kind == TY_STRUCT && t->tag && t->tag->members && index >= 0 &&
        (uint32_t)index < vec_count(t->tag->members)) {
        struct_layout(t);
        m = (cg_symbol *)vec_get(t->tag->members, (uint32_t)index);
    }
    if (n->left && n->left->op == OP_TYPE) {
        tree_node *c = node_new_const(m ? (long)m->offset : 0);
        tree_free(n->left);
        tree_free(n->right);
        node_free(n);
        return c;
    }
    if (!m)
        return n;
    n->sym = m;
    n->value = (int32_t)m->offset;
    n->type = m->type;
    if (!m->is_bitfield)
        return n;
    tree_node *b = node_new();
    b->op = OP_BITFIELD;
    b->left = n;
    b->bitfield = m;
    b->type = m->type;
    b->height = (uint16_t)(n->height + 1);
    return b;
}

// "?" with a constant condition keeps only the chosen arm.
static tree_node *make_conditional(tree_node *n)
{
    if (n->left)   // a condition that folds to a constant chooses its arm now
        n->left = tree_simplify(n->left);
    tree_node *cond = n->left, *arms = n->right;
    if (!cond || cond->op != OP_CONST || !arms || arms->op != OP_COLON)
        return n;
    tree_node *keep = cond->value ? arms->left : arms->right;
    tree_node *drop = cond->value ? arms->right : arms->left;
    tree_free(drop);
    node_free(arms);
    tree_free(cond);
    node_free(n);
    return keep;
}

// "&U": the address of an object; a member access becomes address arithmetic
// on its aggregate, and &U(*U x) is x.
// The type an address of t points at: an array's address is the address of
// its first scalar element (the front end indexes arrays of arrays by byte
// offsets it computes itself), anything else its own.
static type_desc *array_element(type_desc *t)
{
    while (type_is(t, TY_ARRAY))
        t = typeSub(t);
    return t;
}

static tree_node *make_address(tree_node *n)
{
    tree_node *x = n->left;
    if (x && x->op == OP_DEREF) {
        tree_node *inner = x->left;
        node_free(x);
        node_free(n);
        return inner;
    }
    if (x && x->op == OP_MEMBER && x->sym && x->left) {
        type_desc *member_type = x->type;
        tree_node *base = node_make(OP_ADDR, x->left, nullptr);
        tree_node *sum = node_make(OP_ADD, base, node_new_const((long)x->sym->offset));
        // an array member's address is its first element's
        sum->type = type_derive(array_element(member_type), TY_POINTER);
        tree_free(x->right);
        node_free(x);
        node_free(n);
        return sum;
    }
    type_desc *t = x ? x->type : nullptr;
    n->type = type_derive(array_element(t), TY_POINTER);
    if (x && x->op == OP_ID) {
        n->ptrs = targets_of(x->sym);
        x->sym->flags |= SF_ADDR_TAKEN;
    }
    return n;
}

// "+" and "-" on a pointer: the targets follow the pointer, a wider integer
// is narrowed to the pointer's size, and a pointer difference takes the
// signed index type (at least int).
// The integer added to a pointer, cut to the pointer's width (no warning).
static void narrow_index(tree_node *n)
{
    uint32_t psize = node_size(n->left);
    if (type_is_integer(n->right->type) && node_size(n->right) > psize && psize) {
        type_desc *narrow = basic_type_by(psize, AR_UNSIGNED);
        if (narrow) {
            n->right = node_make(OP_CONV, n->right, node_new_type(narrow));
            n->right->flags |= NF_COMPILER;
        }
    }
}

static tree_node *pointer_arithmetic(tree_node *n)
{
    if (!n->left || !n->right || !type_is(n->left->type, TY_POINTER))
        return n;
    n->ptrs = n->left->ptrs;
    if (type_is(n->right->type, TY_POINTER)) {
        if (n->op != OP_SUB)
            return n;
        type_desc *t = pointer_index_type(n->left, AR_SIGNED);
        if (t && type_size(t) < type_size(basic("i")))
            t = basic("i");
        n->type = t;
        return n;
    }
    narrow_index(n);
    return n;
}

// The targets of either arm of a conditional.
ptrset *joint_targets(ptrset *a, ptrset *b)
{
    if (!a || !b)
        return a ? a : b;
    ptrset *j = targets_of(nullptr);
    for (ptrset *p : {a, b})
        for (uint32_t i = 0; p->targets && i < vec_count(p->targets); i++)
            ptrset_add_target(j, (cg_symbol *)vec_get(p->targets, i));
    return j;
}

// Step 4: the node's type from its operator and operands.
static void give_type(tree_node *n)
{
    uint32_t attr = op_attr[n->op];
    if ((attr & (OA_CONST | OA_TRUTH)) == (OA_CONST | OA_TRUTH))
        n->type = basic("v");
    else if (attr & OA_TRUTH) {
        n->type = basic("b");
        if (n->left)
            n->flags |= n->left->flags & NF_COMPILER;
    } else if (attr & OA_CONST)
        n->type = basic("i");
    else
        n->type = n->left ? n->left->type : basic("v");
    // a comparison's value is an int in arithmetic: (a > b) + (c > d) is 2
    // when both hold, (a > b) | 4 is 4 or 5; & | ^ of two truth values stay
    // truth values
    static const int arithmetic[] = {OP_ADD, OP_SUB, OP_MUL, OP_DIV, OP_MOD, OP_SHL, OP_SHR, OP_NEG, OP_COMPL};
    static const int bitwise[] = {OP_AND, OP_OR, OP_XOR};
    // a truth value: a comparison or logic, or what & | ^ made of them
    auto truth = [](tree_node *k) {
        if (!k)
            return false;
        if ((op_attr[k->op] & OA_TRUTH) && !(op_attr[k->op] & OA_CONST))
            return true;
        type_desc *t = k->type ? type_unqualify(k->type) : nullptr;
        return t && t->kind == TY_BASIC && t->arith == AR_BIT;
    };
    // c ? !a : i has i's type: a truth value in one arm is an int there
    if (n->op == OP_COLON && truth(n->left) && n->right && !truth(n->right))
        n->type = n->right->type;
    if (!truth(n->left))
        return;
    for (int op : arithmetic)
        if (n->op == (uint32_t)op)
            n->type = basic("i");
    for (int op : bitwise)
        if (n->op == (uint32_t)op && !truth(n->right))
            n->type = basic("i");
}

static tree_node *make_by_operator(tree_node *n)
{
    switch (n->op) {
    case OP_SIZEOF_T:
        if (!n->left || n->left->op != OP_TYPE)
            return n;
        [[fallthrough]];
    case OP_SIZEOF: {
        tree_node *c = node_new_const((long)node_size(n->left));
        c->flags |= NF_COMPILER;
        tree_free(n->left);
        node_free(n);
        return c;
    }
    case OP_ADDR:
        return make_address(n);
    case OP_STRING:   // the address of the first character (its label is known once read)
        n->type = type_derive(type_qualify(basic("c"), Q_CONST), TY_POINTER);
        return n;
    case OP_DEREF: {
        tree_node *x = n->left;
        // the address of an array is the address of its first element:
        // through it, the element is read, not the array
        if (x && x->op == OP_ADDR && !(x->left && type_is(x->left->type, TY_ARRAY))) {
            tree_node *inner = x->left;
            node_free(x);
            node_free(n);
            return inner;
        }
        type_desc *t = type_unqualify(x ? x->type : nullptr);
        n->type = t && (t->kind == TY_POINTER || t->kind == TY_ARRAY) ? t->sub : t;
        if (x) {
            n->ptrs = x->ptrs;
            n->ptr_depth = x->ptr_depth + 1;
        }
        bool no_targets = !x || !x->ptrs || !x->ptrs->targets || !vec_count(x->ptrs->targets);
        if (codegen_warnings && x && x->op == OP_ID && no_targets)
            msg_report(1230, x->sym->src_name);
        return n;
    }
    case OP_SUB:
        if (n->right && n->right->op == OP_NEG) {
            tree_node *y = n->right->left;
            node_free(n->right);
            n->right = y;
            n->op = OP_ADD;
        }
        return pointer_arithmetic(n);
    case OP_ADD:
        return pointer_arithmetic(n);
    case OP_ASG_ADD: case OP_ASG_SUB: case OP_POSTINC: case OP_POSTDEC:
        // p += i, p++: the step in the pointer's width, as for p + i
        if (n->left && n->right && type_is(n->left->type, TY_POINTER))
            narrow_index(n);
        return n;
    case OP_CONV:
        n->type = n->right ? n->right->type : n->type;
        if (n->left)
            n->ptrs = n->left->ptrs;
        if (n->left && type_is(n->type, TY_POINTER) && type_is(n->left->type, TY_POINTER))
            ptr_conversion_check(n->type, n->left->type);
        return n;
    case OP_CALL:
        return make_call(n);
    case OP_MEMBER:
        return make_member(n);
    case OP_COLON:
        if (n->left && n->right) {
            n->left->partner = n->right;
            n->right->partner = n->left;
            n->ptrs = joint_targets(n->left->ptrs, n->right->ptrs);
        }
        return n;
    case OP_QUEST:
        n->type = n->right ? n->right->type : n->type;
        return make_conditional(n);
    case OP_ASSIGN:
        if (n->left && n->right && n->left->ptrs && n->right->ptrs)
            ptrset_link(n->left->ptrs, n->left->ptr_depth, n->right->ptrs, n->right->ptr_depth);
        if (n->left) {
            n->ptrs = n->left->ptrs;
            if (n->left->op == OP_ID)
                n->left->sym->flags |= SF_ASSIGNED | SF_WRITTEN;
        }
        return n;
    case OP_SWITCH:
        if (n->left && node_size(n->left) == 0)
            n->left = node_make(OP_CONV, n->left, node_new_type(basic("uc")));
        return n;
    case OP_SEQCALL:
        for (tree_node *k : {n->left, n->right})
            if (k && k->op == OP_SEQCALL)
                k->op = OP_COMMA;
        return n;
    default:
        return n;
    }
}

tree_node *node_make(int op, tree_node *left, tree_node *right)
{
    if (op == OP_CONV && left && left->op == OP_CONST && right) {
        type_desc *t = right->type;
        if (type_is_integer(t) || type_is(t, TY_POINTER))
            return fold_const_conversion(left, right);
    }
    tree_node *n = node_new();
    n->op = (uint32_t)op;
    n->left = left;
    n->right = right;
    for (tree_node *k : {left, right})
        if (k && k->text && !n->text) {
            n->text = k->text;
            k->text = nullptr;
        }
    uint16_t hl = left ? left->height : 0, hr = right ? right->height : 0;
    n->height = (uint16_t)(1 + (hl > hr ? hl : hr));
    for (tree_node *k : {left, right})
        if (k)
            objset_union_with(n->sets[SET_NEEDED], k->sets[SET_NEEDED]);
    if (left) {
        n->ptr_depth = left->ptr_depth;
        n->ptrs = left->ptrs;
    }
    give_type(n);
    return make_by_operator(n);
}

type_desc *pointer_index_type(tree_node *n, int cls)
{
    uint32_t size = node_size(n);
    if (n->ptrs && n->ptrs->largest) {
        size = n->ptrs->largest <= 0x100 ? 1 : n->ptrs->largest <= 0x10000 ? 2 : 4;
        if (cls == AR_SIGNED && size < 4)
            size *= 2;
    }
    return basic_type_by(size ? size : 1, cls == AR_SIGNED ? AR_SIGNED : AR_UNSIGNED);
}
