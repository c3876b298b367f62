// Expression-tree nodes: the operator table, node allocation with a free
// list, copying, freeing, walking, searching and comparing trees.
//
// Operators are numbered in the strcmp order of their intermediate-code
// spellings (0-76), followed by the node kinds the code generator makes
// itself (77-91); one X-macro list gives names, spellings and numbers. The
// attribute word of each operator gives its arity and the properties the
// simplifier and the matcher ask about. A walk order is a number whose 3-bit
// groups, lowest first, say: 4 visit the node, 2 walk the arguments and the
// right operand, 1 walk the left operand.
#include "kestrel.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

const char *const op_spelling[OP_COUNT] = {
#define OP_TEXT(name, spelling) spelling,
    OPERATOR_LIST(OP_TEXT)
#undef OP_TEXT
};

// Attribute word per operator (see the OA_* bits). The operand rank, which
// shares the low bits with the arity in the written table, is kept apart in
// op_rank, so the arity bits here are exact.
const uint32_t op_attr[OP_COUNT] = {
    0xC,    0x624,  0x68,   0x14,   0x14,   0x4308, 0x4004, 0x4004, // 0-7
    0x408,  0x12C48, 0x4328, 0x4,   0xC008, 0x4004, 0x4004, 0x4004, // 8-15
    0x4004, 0x4004, 0x4004, 0x12848, 0x4,   0x12848, 0x8008, 0x4,   // 16-23
    0xC008, 0x10808, 0x8008, 0x208, 0x804,  0x8,    0x30,   0x10408, // 24-31
    0x4008, 0x8008, 0x4004, 0x4004, 0x4004, 0x108,  0xC,    0x28,   // 32-39
    0x10888, 0x28,  0x8008, 0x8008, 0x8808, 0x8808, 0x8808, 0x8808, // 40-47
    0x8008, 0x8888, 0x68,   0x8088, 0x8808, 0x8808, 0x28,   0x28,   // 48-55
    0x10488, 0x4308, 0xC004, 0x8030, 0x4008, 0xC,   0xC,    0xC,    // 56-63
    0xC,    0xC,    0xC,    0xC,    0xC,    0xC,    0xC,    0x12C48, // 64-71
    0xC,    0x12C48, 0x4328, 0xC,   0x804,  0x4,    0x0,    0x0,    // 72-79
    0x10,   0x10,   0x0,    0x4004, 0x4,    0xC004, 0xC004, 0x4000, // 80-87
    0x4108, 0x0,    0x8008, 0x8008,                                 // 88-91
};

// Operand rank: orders the operands of commutative operators.
const uint8_t op_rank[OP_COUNT] = {
    0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 7, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 2, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
    0, 0,
};

// Released nodes waiting for reuse.
static vector_t *free_nodes;
// Set by every node_new and node_free; the simplifier repeats while it is set.
bool tree_changed;
// Warnings about variables are given only while code is generated, when the
// marks they test are complete.
bool codegen_warnings;
// Function registry: by name and by number.
static hash_t *funcs_by_name;
static hash_t *funcs_by_number;
static uint32_t func_counter;
// Names referenced from in-line assembly.
static hash_t *asm_names;

static int spelling_compare(const void *key, const void *item)
{
    return strcmp((const char *)key, *(const char *const *)item);
}

int op_lookup(const char *spelling)
{
    const void *p = os_bsearch(spelling, op_spelling, OP_SPELLED, sizeof(char *), spelling_compare);
    return p ? (int)((const char *const *)p - op_spelling) : -1;
}

int op_arity(int op)
{
    return (int)(op_attr[op] & OA_ARITY);
}

// A node as allocated: its sets live in the same block, after it.
struct node_block {
    tree_node node;
    objset sets[NODE_SETS];
};

tree_node *node_new()
{
    tree_node *n;
    if (free_nodes && vec_count(free_nodes)) {
        n = (tree_node *)vec_pop(free_nodes);
        objset *sets[NODE_SETS];
        memcpy(sets, n->sets, sizeof sets);
        memset((void *)n, 0, sizeof *n);
        memcpy(n->sets, sets, sizeof sets);
    } else {
        // The node and its sets in one block: reading makes a node per
        // token, and an allocation per set made most of the reading time.
        node_block *b = (node_block *)xmalloc(sizeof(node_block));
        n = &b->node;
        for (int i = 0; i < NODE_SETS; i++)
            n->sets[i] = &b->sets[i];
    }
    n->file = cur_file;
    n->line = cur_line;
    n->flags = NF_LIVE;
    tree_changed = true;
    return n;
}

void node_free(tree_node *n)
{
    if (!n)
        return;
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        tree_free((tree_node *)vec_get(n->args, i));
    if (n->args)
        vec_free(n->args);
    n->args = nullptr;
    free(n->asm_text);
    free(n->text);
    n->asm_text = n->text = nullptr;
    for (objset *s : n->sets)
        objset_clear(s);
    n->flags &= ~NF_LIVE;
    if (!free_nodes)
        free_nodes = vec_new(256);
    vec_push(free_nodes, n);
    tree_changed = true;
}

void tree_free(tree_node *n)
{
    if (!n)
        return;
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        tree_free(n->left);
    if (arity == OA_BINARY)
        tree_free(n->right);
    node_free(n);
}

void node_pool_release()
{
    while (free_nodes && vec_count(free_nodes)) {
        tree_node *n = (tree_node *)vec_pop(free_nodes);
        for (objset *s : n->sets) {   // part of the node's block
            objset_clear(s);
            objset_iter_reset(s);
        }
        free(n);
    }
}

tree_node *node_copy(tree_node *n)
{
    tree_node *c = node_new();
    objset *sets[NODE_SETS];
    memcpy(sets, c->sets, sizeof sets);
    *c = *n;
    memcpy(c->sets, sets, sizeof sets);
    for (int i = 0; i < NODE_SETS; i++)
        objset_assign(c->sets[i], n->sets[i]);
    c->asm_text = n->asm_text ? xstrdup(n->asm_text) : nullptr;
    c->text = n->text ? xstrdup(n->text) : nullptr;
    c->args = nullptr;
    if (n->args) {
        c->args = vec_new(vec_count(n->args));
        vec_append(c->args, n->args);
    }
    c->flags |= NF_LIVE;
    return c;
}

tree_node *tree_copy(tree_node *n)
{
    if (!n)
        return nullptr;
    tree_node *c = node_copy(n);
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        c->left = tree_copy(n->left);
    if (arity == OA_BINARY)
        c->right = tree_copy(n->right);
    for (uint32_t i = 0; c->args && i < vec_count(c->args); i++)
        vec_set(c->args, tree_copy((tree_node *)vec_get(c->args, i)), i);
    return c;
}

tree_node *node_new_const(long v)
{
    tree_node *n = node_new();
    n->op = OP_CONST;
    n->value = (int32_t)v;
    n->type = basic_type_named("i");
    n->height = 1;
    return n;
}

tree_node *node_const_replace(tree_node *n)
{
    tree_node *c = node_new_const(0);
    c->type = type_unqualify(n->type);
    tree_free(n);
    return c;
}

tree_node *node_new_type(type_desc *t)
{
    bool changed = tree_changed;
    tree_node *n = node_new();
    tree_changed = changed;
    n->op = OP_TYPE;
    n->type = t;
    n->height = 1;
    return n;
}

tree_node *node_new_id(cg_symbol *s)
{
    tree_node *n = node_new();
    n->op = OP_ID;
    n->sym = s;
    n->type = s->type;
    n->ptrs = s->ptrs;
    n->ptr_depth = 1;
    n->height = 1;
    if (s->storage == ST_EXTERN)
        s->flags |= SF_USED;
    if ((s->storage == ST_EXTERN || s->storage == ST_STATIC) && (intlevel_mask & ~1u))
        s->flags |= SF_EXTREF;
    bool unset = !(s->flags & (SF_WRITTEN | SF_ADDR_TAKEN | SF_WARNED));
    if (codegen_warnings && s->storage == ST_AUTO && unset) {
        s->flags |= SF_WARNED;
        msg_report(1257, s->src_name);
    }
    return n;
}

tree_node *node_new_const_typed(long v, type_desc *t)
{
    tree_node *c = node_new_const(v);
    tree_node *ty = node_new_type(t);
    return node_make(OP_CONV, c, ty);
}

tree_node *node_new_reg(cg_symbol *s, uint32_t r)
{
    tree_node *n = node_new();
    n->op = OP_REG;
    n->value = (int32_t)r;
    n->type = s ? s->type : nullptr;
    n->height = 1;
    return n;
}

void node_set_position(tree_node *n)
{
    if (n->file)
        pos_set_file(n->file);
    cur_line = n->line;
}

uint32_t node_size(tree_node *n)
{
    return n ? type_size(n->type) : 0;
}

uint32_t node_mask(tree_node *n)
{
    if (n->op == OP_BITFIELD && n->bitfield) {
        int w = n->bitfield->bit_width;
        return w >= 32 ? 0xFFFFFFFFu : (1u << w) - 1;
    }
    type_desc *t = n->type ? type_unqualify(n->type) : nullptr;
    if (t && t->kind == TY_BASIC && t->arith == AR_BIT)
        return 1;   // a truth value or bit object: bit 0 alone
    uint32_t size = node_size(n);
    return size >= 4 ? 0xFFFFFFFFu : (1u << (size * 8)) - 1;
}

void const_fit_node(tree_node *t, tree_node *c)
{
    type_desc *ty = type_unqualify(t->type);
    uint32_t size = type_size(ty);
    int arith = ty && ty->kind == TY_BASIC ? ty->arith : ty && ty->kind == TY_ENUM ? ty->arith : AR_UNSIGNED;
    if (arith == AR_BIT) {
        c->value &= 1;
        return;
    }
    if (size == 0 || size >= 4)
        return;
    uint32_t bits = size * 8;
    int64_t v = c->value;
    int64_t fitted = v & ((1LL << bits) - 1);
    if (arith == AR_SIGNED && (fitted >> (bits - 1)))
        fitted -= 1LL << bits;
    bool fits = arith == AR_SIGNED ? (v >= -(1LL << (bits - 1)) && v < (1LL << (bits - 1)))
                                   : (v >= -(1LL << (bits - 1)) && v < (1LL << bits));
    if (!fits)
        msg_report(751);
    c->value = (int32_t)fitted;
}

int const_bit_number(uint32_t v, tree_node *n)
{
    v &= node_mask(n);
    if (!v || (v & (v - 1)))
        return 0;
    return __builtin_ctz(v) + 1;
}

// Visits the arguments, then the right operand of a two-operand node.
static tree_node *walk_right(int order, void *ctx, tree_node *n, walk_fn_t fn, int a, int b, int c,
                             long *result, bool *stop);

static tree_node *walk(int order, void *ctx, tree_node *n, walk_fn_t fn, int a, int b, int c,
                       long *result, bool *stop)
{
    if (!n || !order)
        return n;
    // A statement sequence runs first to last; its statements keep the order.
    int local = order;
    if (n->op == OP_SEQ) {
        if (order == 98) local = 161;
        else if (order == 266) local = 273;
        else if (order == 84) local = 140;
    }
    uint32_t attr = op_attr[n->op];
    int arity = (int)(attr & OA_ARITY);
    for (int rest = local; rest && !*stop; rest >>= 3) {
        switch (rest & 7) {
        case 4: {
            tree_node *r = fn(ctx, n, a, b, c, result);
            if (!r) {
                *stop = true;
                return n;
            }
            n = r;
            break;
        }
        case 2:
            n = walk_right(order, ctx, n, fn, a, b, c, result, stop);
            break;
        case 1:
            if (arity == OA_UNARY || arity == OA_BINARY)
                n->left = walk(order, ctx, n->left, fn, 0, b || (attr & OA_NOVALUE),
                               n->op != OP_SEQ, result, stop);
            break;
        }
        if (rest < 8)
            break;
    }
    return n;
}

static tree_node *walk_right(int order, void *ctx, tree_node *n, walk_fn_t fn, int a, int b, int,
                             long *result, bool *stop)
{
    uint32_t attr = op_attr[n->op];
    for (uint32_t i = 0; n->args && i < vec_count(n->args) && !*stop; i++)
        vec_set(n->args, walk(order, ctx, (tree_node *)vec_get(n->args, i), fn, a, b, 1, result, stop), i);
    if ((attr & OA_ARITY) == OA_BINARY && !*stop) {
        int ra = a || (attr & (OA_SEQUENCE | OA_CONDITIONAL)) == (OA_SEQUENCE | OA_CONDITIONAL);
        n->right = walk(order, ctx, n->right, fn, ra, b, n->op != OP_SEQ, result, stop);
    }
    return n;
}

tree_node *tree_walk(int order, void *ctx, tree_node *n, walk_fn_t fn, int a, int b, int c, long *result)
{
    bool stop = false;
    long dummy = 0;
    return walk(order, ctx, n, fn, a, b, c, result ? result : &dummy, &stop);
}

tree_node *tree_find(tree_node *n, void *ctx, find_fn_t test)
{
    while (n) {
        if (test(ctx, n))
            return n;
        for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
            if (tree_node *f = tree_find((tree_node *)vec_get(n->args, i), ctx, test))
                return f;
        int arity = op_arity((int)n->op);
        if (arity == OA_BINARY)
            if (tree_node *f = tree_find(n->right, ctx, test))
                return f;
        n = arity == OA_UNARY || arity == OA_BINARY ? n->left : nullptr;
    }
    return nullptr;
}

static bool reads_volatile(void *, tree_node *n)
{
    if (op_attr[n->op] & OA_SIDE_EFFECT)
        return true;
    return (n->op == OP_ID || n->op == OP_DEREF) && (type_qualifiers(n->type) & Q_VOLATILE);
}

bool tree_has_volatile(tree_node *n)
{
    return tree_find(n, nullptr, reads_volatile) != nullptr;
}

static bool same_absolute(cg_symbol *a, cg_symbol *b)
{
    return a && b && (a->flags & SF_ABSOLUTE) && (b->flags & SF_ABSOLUTE) && a->address == b->address &&
           a->flags == b->flags;
}

// Whether two readings of one variable give one value: the same size and,
// for arithmetic types, the same signedness.
static bool same_reading(type_desc *a, type_desc *b)
{
    a = type_unqualify(a);
    b = type_unqualify(b);
    if (a == b || !a || !b)
        return a == b;
    if (type_size(a) != type_size(b))
        return false;
    return a->kind != TY_BASIC || b->kind != TY_BASIC || type_arith_class(a) == type_arith_class(b);
}

bool tree_equal(tree_node *a, tree_node *b)
{
    if (a == b)
        return true;
    if (!a || !b || a->op != b->op)
        return false;
    switch (a->op) {
    case OP_BITFIELD:
        if (!a->bitfield || !b->bitfield || a->bitfield->bit_width != b->bitfield->bit_width ||
            a->bitfield->bit_offset != b->bitfield->bit_offset)
            return false;
        break;
    case OP_EMPTY:
    case OP_SWITCH:
        return true;
    case OP_TYPE:
        return type_equal(a->type, b->type);
    case OP_ID:   // a name read in another width or signedness is another value
        return (a->sym == b->sym || same_absolute(a->sym, b->sym)) && a->value == b->value &&
               same_reading(a->type, b->type);
    case OP_CONST:
        return a->value == b->value;
    case OP_FCONST:
        return a->fvalue == b->fvalue;
    }
    int arity = op_arity((int)a->op);
    if ((arity == OA_UNARY || arity == OA_BINARY) && !tree_equal(a->left, b->left))
        return false;
    return arity != OA_BINARY || tree_equal(a->right, b->right);
}

static bool is_id_of(void *ctx, tree_node *n)
{
    return n->op == OP_ID && n->sym == (cg_symbol *)ctx;
}

bool tree_references(tree_node *n, cg_symbol *s)
{
    return tree_find(n, s, is_id_of) != nullptr;
}

bool is_zero_const(tree_node *n)
{
    if (n && n->op == OP_CONV)
        n = n->left;
    return n && ((n->op == OP_CONST && n->value == 0) || (n->op == OP_FCONST && n->fvalue == 0.0));
}

bool is_link_constant(tree_node *n)
{
    if (!n)
        return false;
    if (n->op == OP_CONST || n->op == OP_FCONST || n->op == OP_SIZEOF || n->op == OP_STRING)
        return true;
    if (n->op == OP_ADDR)
        return n->left && n->left->op == OP_ID && n->left->sym->storage > ST_REGISTER;
    if (n->op == OP_ADD || n->op == OP_SUB)
        return is_link_constant(n->left) && is_link_constant(n->right);
    return false;
}

uint32_t func_number_of(cg_symbol *s)
{
    if ((s->flags & SF_NODEBUG) && (s->flags & SF_POINTED_TO) && !s->address)
        return 0;
    if (!funcs_by_name) {
        funcs_by_name = hash_new(40, hash_str_hash, hash_str_compare);
        funcs_by_number = hash_new(40, hash_ptr_hash, hash_ptr_compare);
    }
    if (cg_symbol *known = (cg_symbol *)hash_lookup(funcs_by_name, s->name))
        return known->func_number;
    s->func_number = ++func_counter;
    hash_insert(funcs_by_name, s->name, s);
    hash_insert(funcs_by_number, (void *)(uintptr_t)s->func_number, s);
    return s->func_number;
}

cg_symbol *func_by_number(uint32_t n)
{
    return funcs_by_number ? (cg_symbol *)hash_lookup(funcs_by_number, (void *)(uintptr_t)n) : nullptr;
}

tree_node *tree_from_seq(vector_t *seq)
{
    if (!seq || !vec_has_next(seq)) {
        msg_report_unnumbered("F", "bad entry on node sequence");
        return nullptr;
    }
    tree_node *n = (tree_node *)vec_next(seq);
    if (!n || !(n->flags & NF_LIVE)) {
        msg_report_unnumbered("F", "bad entry on node sequence");
        return nullptr;
    }
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = tree_from_seq(seq);
    if (arity == OA_BINARY)
        n->right = tree_from_seq(seq);
    return n;
}

int operator_assign_form(int op)
{
    switch (op) {
    case OP_MOD: return OP_ASG_MOD;
    case OP_AND: return OP_ASG_AND;
    case OP_MUL: return OP_ASG_MUL;
    case OP_ADD: return OP_ASG_ADD;
    case OP_SUB: return OP_ASG_SUB;
    case OP_DIV: return OP_ASG_DIV;
    case OP_SHL: return OP_ASG_SHL;
    case OP_SHR: return OP_ASG_SHR;
    case OP_XOR: return OP_ASG_XOR;
    case OP_OR: return OP_ASG_OR;
    default: return OP_ASSIGN;
    }
}

// Enters each _name of an assembly line in the table of names referenced
// from assembly, and asks the libraries for it.
static void note_asm_names(const char *text)
{
    if (!asm_names)
        asm_names = hash_new(64, hash_str_hash, hash_str_compare);
    for (const char *p = text; *p;) {
        bool starts = *p == '_' && (p == text || !(isalnum((unsigned char)p[-1]) || p[-1] == '?'));
        if (!starts) {
            p++;
            continue;
        }
        const char *e = p + 1;
        while (isalnum((unsigned char)*e) || *e == '_' || *e == '?')
            e++;
        std::string name(p, (size_t)(e - p));
        p = e;
        if (name == "_main" || hash_lookup(asm_names, name.c_str()))
            continue;
        hash_insert(asm_names, xstrdup(name.c_str()), (void *)1);
        lib_want(name.c_str());
        if (cg_symbol *s = sym_find(name.c_str()))
            s->flags |= SF_FROM_ASM;
    }
}

tree_node *asm_line_node(const char *line)
{
    tree_node *n = node_new();
    n->op = OP_ASM;
    n->asm_text = xstrdup(line);
    n->type = basic_type_named("v");
    n->height = 1;
    note_asm_names(line);
    return n;
}

bool asm_name_referenced(const char *name)
{
    return asm_names && hash_lookup(asm_names, name);
}

void asm_names_reset()
{
    if (asm_names)
        hash_free(asm_names);
    asm_names = nullptr;
    if (funcs_by_name) {
        hash_free(funcs_by_name);
        hash_free(funcs_by_number);
    }
    funcs_by_name = funcs_by_number = nullptr;
    func_counter = 0;
}

// A tree as indented prefix text, one node a line: the developer's view of
// what the simplifier and the matcher see (trace output only).
void tree_dump(FILE *f, tree_node *n, int indent)
{
    if (!n) {
        fprintf(f, "%*s-\n", indent, "");
        return;
    }
    fprintf(f, "%*s%s", indent, "", n->op < OP_COUNT ? op_spelling[n->op] : "?");
    if (n->op == OP_ID && n->sym)
        fprintf(f, n->value ? " %s+%d" : " %s", n->sym->name, (int)n->value);
    else if (n->op == OP_CONST || n->op == OP_REG)
        fprintf(f, " %ld", (long)n->value);
    else if (n->op == OP_FCONST)
        fprintf(f, " %g", n->fvalue);
    if (n->type)
        fprintf(f, " `%s", type_text(n->type));
    for (int i = 0; i < n->level_count; i++)
        fprintf(f, " [p%d]", n->pattern[i]);
    fprintf(f, "\n");
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        tree_dump(f, n->left, indent + 2);
    if (arity == OA_BINARY)
        tree_dump(f, n->right, indent + 2);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        tree_dump(f, (tree_node *)vec_get(n->args, i), indent + 2);
}

// The cases of a switch's list, a chain of "," whose leaves are "$ value
// label" pairs and, last, the default label.
void switch_cases(tree_node *list, std::vector<tree_node *> *cases, tree_node **fallback)
{
    *fallback = nullptr;
    for (tree_node *l = list; l;) {
        tree_node *item = l->op == OP_COMMA ? l->left : l;
        if (item && item->op == OP_CJUMP && item->left && item->right)
            cases->push_back(item);
        else
            *fallback = item;
        l = l->op == OP_COMMA ? l->right : nullptr;
    }
}
