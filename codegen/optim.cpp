// The whole-program pass: from the statement lists of every function to the
// written assembly, in six phases.
//
//   1  statements simplified, split and their calls lowered; the call graph;
//      recursion and never-called functions reported
//   2  object uses counted; unused objects dropped
//   3  frames sized by generating every function without output; the
//      compiled stack laid out; data placed into banks, in rounds until no
//      object moves (a function whose objects moved is generated again)
//   4  every reached function generated for good (still without output)
//   5  (bank state carried across functions: not done; every function
//      starts with the bank bits unknown)
//   6  the functions written, with their frames, the data-size line and the
//      call-graph directives
//
// Frames. A function's frame is its parameter block ?f followed by its auto
// block ??f (autos first, then the temporaries its statements need). The
// compiled stack puts every function's frame above the frames of all its
// callers, so a call never overwrites a frame still in use; functions on
// separate call paths share memory. The linker lays out the same graph from
// the FNCALL and FNSIZE lines and gives the block symbols their addresses.
//
// Calls. Before code is selected, every call that is not the whole value of
// its statement is moved into a statement of its own that stores its result
// in a temporary auto, innermost first; then the arguments of each call
// other than the one passed in W become stores into the callee's parameter
// block just before it. So no code runs between the stores into a callee's
// parameters and the call, and no other call can overwrite them (the frames
// of two callees of one function may share memory).
#include "kestrel.h"
#include "ranges.h"
#include "select.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

int cg_phase;
cg_symbol *main_function;
cg_symbol *interrupt_function;
// The next temporary auto of the function's pool a statement may take.
static uint32_t hoist_counter;
// Trace output of the statements and the matcher (a developer's aid).
static bool trace_trees;

uint32_t frame_auto_side(cg_symbol *f)
{
    return f->autos_size + f->temp_largest;
}

uint32_t frame_param_side(cg_symbol *f)
{
    return f->params_size + (f->func && f->func->jump_return ? 1 : 0);
}

uint32_t frame_total(cg_symbol *f)
{
    return frame_auto_side(f) + frame_param_side(f);
}

// ---------------------------------------------------------------------------
// statements
// ---------------------------------------------------------------------------
static bool is_call(tree_node *n)
{
    return n && n->op == OP_CALL;
}

// The call that is the whole value of a statement (f(); x = f(); return
// f()): it may stay where it is.
static tree_node *top_call(tree_node *s)
{
    if (is_call(s))
        return s;
    if ((s->op == OP_ASSIGN || s->op == OP_RETURN) && op_arity((int)s->op) >= OA_UNARY) {
        tree_node *v = s->op == OP_ASSIGN ? s->right : s->left;
        if (is_call(v) && (s->op == OP_RETURN || (s->left && s->left->op == OP_ID)))
            return v;
    }
    return nullptr;
}

static bool is_call_node(void *, tree_node *n)
{
    return n->op == OP_CALL;
}

static bool contains_call(tree_node *n)
{
    return tree_find(n, nullptr, is_call_node) != nullptr;
}

// && || ?: : a choice the statement's jumps must make
static bool is_choice_node(void *, tree_node *n)
{
    return n->op == OP_ANDAND || n->op == OP_OROR || (n->op == OP_QUEST && n->right && n->right->op == OP_COLON);
}

static tree_node *count_call_visit(void *count, tree_node *n, int, int, int, long *)
{
    if (n->op == OP_CALL)
        ++*(uint32_t *)count;
    return n;
}

static uint32_t calls_in(tree_node *n)
{
    uint32_t count = 0;
    long result = 0;
    tree_walk(WALK_PREORDER, &count, n, count_call_visit, 0, 0, 0, &result);
    return count;
}

// An auto of the current function holding a value of type t for the rest
// of one statement as read: the statements of the next one take the same
// autos again (the function's pool of them, in order, by size).
cg_symbol *new_temporary_auto(type_desc *t)
{
    cg_symbol *f = current_function;
    if (!f->temps)
        f->temps = vec_new(4);
    for (; hoist_counter < vec_count(f->temps); hoist_counter++) {
        cg_symbol *s = (cg_symbol *)vec_get(f->temps, hoist_counter);
        // (a pointer's temporary is a pointer's only: its ID reads as one)
        if (type_size(s->type) == type_size(t) &&
            type_arith_class(type_unqualify(s->type)) == type_arith_class(type_unqualify(t)) &&
            type_is(s->type, TY_POINTER) == type_is(t, TY_POINTER) &&
            type_is(s->type, TY_STRUCT) == type_is(t, TY_STRUCT)) {
            hoist_counter++;
            return s;
        }
    }
    cg_symbol *s = sym_new(str_printf("%s$%u", f->name, vec_count(f->temps) + 1).c_str());
    s->cls = 'F';
    s->storage = ST_AUTO;
    s->type = type_unqualify(t);
    s->owner = f;
    s->level = 2;
    s->flags |= SF_INTERNAL | SF_NODEBUG | SF_WRITTEN;
    if (!f->autos)
        f->autos = vec_new(4);
    vec_push(f->autos, s);
    vec_push(f->temps, s);
    hoist_counter = vec_count(f->temps);
    return s;
}

// A statement made here, pushed: a sequence the simplifier made of it (x =
// y << 1 becomes x = y; x <<= 1) goes as its statements.
static void push_statement(vector_t *out, tree_node *s)
{
    if (s->op == OP_SEQ) {
        push_statement(out, s->left);
        push_statement(out, s->right);
        node_free(s);
        return;
    }
    vec_push(out, s);
}

static tree_node *assign_node(cg_symbol *to, tree_node *value)
{
    tree_node *dest = node_new_id(to);
    if (!type_equal(type_unqualify(value->type), type_unqualify(to->type)))
        value = node_make(OP_CONV, value, node_new_type(type_unqualify(to->type)));
    tree_node *s = node_make(OP_ASSIGN, dest, value);
    s->type = to->type;
    return tree_simplify(s);
}

static void lower_statement(tree_node *s, vector_t *out);
static bool is_stepped_post_update(void *root, tree_node *n);
static tree_node *lower_post_updates(tree_node *n, tree_node *root, vector_t *out);
static bool has_deref(tree_node *n);
static bool indirect_work(tree_node *s);
static tree_node *hoist_reads(tree_node *n, vector_t *out);

// An argument of a variadic call past the fixed parameters: a slot of its
// own type in the callee's parameter block, after the fixed parameters and
// the arguments before it (where va_arg walks them); the block grows to
// hold the longest list any call passes.
static cg_symbol *variadic_slot(cg_symbol *f, uint32_t *extra_offset, tree_node *arg)
{
    uint32_t fixed = func_layout_params(f);
    type_desc *t = type_unqualify(arg->type);
    cg_symbol *p = sym_new(str_printf("%s$v%u", f->name, fixed + *extra_offset).c_str());
    p->cls = 'F';
    p->storage = ST_PARAM;
    p->type = t;
    p->owner = f;
    p->frame_offset = (int16_t)(fixed + *extra_offset);
    p->flags |= SF_INTERNAL | SF_NODEBUG | SF_WRITTEN | SF_VA_SLOT;
    *extra_offset += type_size(t);
    if (fixed + *extra_offset > f->params_size)
        f->params_size = fixed + *extra_offset;
    return p;
}

// The arguments of a call that stays: each one not passed in W becomes a
// store into the callee's parameter block, written before the call.
static void store_arguments(tree_node *call, vector_t *out, vector_t *params = nullptr)
{
    cg_symbol *f = call->call_target;
    tree_node *list = call->right;
    if (!f || !list || !list->args)
        return;
    if (!strcmp(f->name, "__delay")) {   // a delay of a constant count: code in place, no call
        tree_node *n = vec_count(list->args) == 1 ? (tree_node *)vec_get(list->args, 0) : nullptr;
        if (!n || n->op != OP_CONST || n->value < 0) {
            node_set_position(call);
            msg_report(1490, "delays of a count that is not a constant");
            return;
        }
        call->value = n->value;   // the count moves to the call, which takes no arguments
        tree_free(n);
        vec_clear(list->args);
        return;
    }
    // before any argument is stored (a statement made here may call a
    // helper whose parameters share memory with the callee's): the effects
    // of (a, b) are statements of their own, and an argument that is a
    // choice (&& || ?:) is made in jumps, into a temporary
    for (uint32_t i = 0; i < vec_count(list->args); i++) {
        tree_node *arg = (tree_node *)vec_get(list->args, i);
        while (arg->op == OP_SEQ) {
            tree_node *first = arg->left, *rest = arg->right;
            node_free(arg);
            vector_t *split = vec_new(2);
            nodeRewrite(first, split);
            for (uint32_t k = 0; k < vec_count(split); k++)
                lower_statement((tree_node *)vec_get(split, k), out);
            vec_free(split);
            arg = rest;
        }
        vec_set(list->args, arg, i);
        if (!tree_find(arg, nullptr, is_choice_node))
            continue;
        cg_symbol *tmp = new_temporary_auto(type_unqualify(arg->type));
        lower_statement(assign_node(tmp, arg), out);
        vec_set(list->args, node_new_id(tmp), i);
    }
    vector_t *kept = vec_new(1);
    if (!params)
        params = f->params;
    uint32_t fixed = params ? vec_count(params) : 0, extra_offset = 0;
    for (uint32_t i = 0; i < vec_count(list->args); i++) {
        tree_node *arg = (tree_node *)vec_get(list->args, i);
        cg_symbol *p = i < fixed ? (cg_symbol *)vec_get(params, i) : nullptr;
        if (!p && (f->flags & SF_VARARGS))
            p = variadic_slot(f, &extra_offset, arg);
        if (!p || ((p->flags & SF_INREG) && p->reg == REG_WREG)) {
            vec_push(kept, arg);
            continue;
        }
        tree_node *store = assign_node(p, arg);
        if (has_deref(store))   // read through a pointer first: no call comes between
            lower_statement(store, out);
        else
            push_statement(out, store);
    }
    vec_free(list->args);
    list->args = kept;
}

// A call through a pointer: the pointer in a variable of its own (the
// dispatcher reads it last, after the argument in W); a first argument of
// one byte passed in W (on the 12-bit core in a slot of the block too,
// from where the stub loads W), the others stored into the argument block
// of the call's shape (callgraph.cpp), in slots of the arguments' own
// types, from where the stub of the function reached copies them; a value
// wider than a byte (on the 12-bit core any value) comes back at the start
// of the block.
static tree_node *into_temporary(tree_node *v, vector_t *out);

static void lower_pointer_call(tree_node *call, vector_t *out)
{
    tree_node *d = call->left;
    if (!d || d->op != OP_DEREF || !d->left)
        return;
    if (d->left->op != OP_ID || tree_has_volatile(d->left))
        d->left = into_temporary(d->left, out);
    type_desc *value = type_unqualify(call->type);
    if (value && node_size(call) > 1 && (type_arith_class(value) == AR_FLOAT || node_size(call) > 4)) {
        node_set_position(call);
        msg_report(1490, node_size(call) > 4 ? "calls through pointers that return more than four bytes"
                                             : "calls through pointers that return floating point");
        return;
    }
    cg_symbol *block = fpblock_for_call(call);
    call->call_target = block;
    vector_t *args = call->right ? call->right->args : nullptr;
    vector_t *slots = vec_new(4);
    uint32_t offset = 0;
    for (uint32_t i = 0; args && i < vec_count(args); i++) {
        type_desc *t = type_unqualify(((tree_node *)vec_get(args, i))->type);
        cg_symbol *p = sym_new(str_printf("%s$%u", block->name, i + 1).c_str());
        p->cls = 'F';
        p->storage = ST_PARAM;
        p->type = t;
        p->owner = block;
        p->flags |= SF_INTERNAL | SF_NODEBUG | SF_WRITTEN;
        if (i == 0 && type_size(t) == 1 && chip.family == 1) {   // W's byte waits in the block
            p->frame_offset = (int16_t)fpblock_w_slot(block);
        } else if (i == 0 && type_size(t) == 1) {   // as func_layout_params lays out a function's
            p->flags |= SF_INREG;
            p->reg = REG_WREG;
        } else {
            uint32_t mask = type_align_mask(t);
            offset = (offset + mask) & ~mask;
            p->frame_offset = (int16_t)offset;
            offset += type_size(t);
        }
        vec_push(slots, p);
    }
    store_arguments(call, out, slots);
    vec_free(slots);
}

// Moves every call below n that is not `keep` into a statement of its own,
// innermost first; the call's place takes the temporary holding its result.
static tree_node *hoist_calls(tree_node *n, tree_node *keep, vector_t *out)
{
    if (!n)
        return n;
    int arity = op_arity((int)n->op);
    // the operands of a conditional node are split into jumps already;
    // anything else is evaluated whole, so its order is free
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = hoist_calls(n->left, keep, out);
    if (arity == OA_BINARY)
        n->right = hoist_calls(n->right, keep, out);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        vec_set(n->args, hoist_calls((tree_node *)vec_get(n->args, i), keep, out), i);
    if (n->op != OP_CALL || n == keep)
        return n;
    type_desc *t = type_unqualify(n->type);
    if (!t || type_size(t) == 0 || (t->kind == TY_BASIC && !strcmp(t->name, "v"))) {
        lower_statement(n, out);   // a void call in an expression: only its effect
        return node_new_const(0);
    }
    // with their calls in temporaries, the arguments may simplify further
    // (& | of truth values becomes && ||, a product becomes a helper call);
    // so again once their reads and stores through pointers are statements
    // of their own
    for (int round = 0; round < 2; round++) {
        for (uint32_t i = 0; n->right && n->right->args && i < vec_count(n->right->args); i++) {
            tree_node *arg = tree_rewrite_all((tree_node *)vec_get(n->right->args, i));
            vec_set(n->right->args, hoist_calls(arg, nullptr, out), i);
        }
        if (round || !n->right || !indirect_work(n->right))
            break;
        n->right = hoist_reads(n->right, out);
    }
    cg_symbol *tmp = new_temporary_auto(t);
    store_arguments(n, out);
    lower_pointer_call(n, out);
    push_statement(out, assign_node(tmp, n));
    return node_new_id(tmp);
}

// One simple statement: its calls lowered, then the statement itself. A
// statement whose calls went to temporaries may simplify further, and a
// rewrite rule may then call a helper of the run-time library (a product
// of two call results becomes a product of two bytes), which is hoisted in
// its turn. The stores of the arguments of the call that stays come last,
// right before the statement: no other call runs after them.
// A statement that holds a choice again is split again, and each part
// lowered: with its calls in temporaries, & | of truth values become && ||
// (a call no longer forbids skipping an operand), and a choice passed as an
// argument is made into a temporary of its own.
static bool split_again(tree_node *s, vector_t *out)
{
    if (!tree_find(s, nullptr, is_choice_node))
        return false;
    vector_t *split = vec_new(4);
    nodeRewrite(s, split);
    for (uint32_t i = 0; i < vec_count(split); i++)
        lower_statement((tree_node *)vec_get(split, i), out);
    vec_free(split);
    return true;
}

// x = a op b of integers wider than a byte, x a plain variable: x = a, then
// x op= b (or x = b, x op= a where b reads x and op commutes). The value is
// made in x itself, not in a temporary copied to x afterwards.
static bool assign_in_place(tree_node *s, vector_t *out)
{
    static const int ops[] = {OP_ADD, OP_SUB, OP_AND, OP_OR, OP_XOR, OP_SHL, OP_SHR};
    static const int compound[] = {OP_ASG_ADD, OP_ASG_SUB, OP_ASG_AND, OP_ASG_OR, OP_ASG_XOR, OP_ASG_SHL, OP_ASG_SHR};
    if (s->op != OP_ASSIGN || !s->left || s->left->op != OP_ID || !s->right || tree_has_volatile(s->left))
        return false;
    tree_node *x = s->left, *v = s->right;
    if ((v->op == OP_NEG || v->op == OP_COMPL) && v->left && node_size(x) >= 2 && simp_is_integer(x) &&
        type_equal(type_unqualify(v->type), type_unqualify(x->type)) && !contains_call(v)) {
        // x = ~a: x = a, x ^= all ones; x = -a: the same, then x += 1
        bool negate = v->op == OP_NEG;
        tree_node *ones = node_new_const(-1);
        ones->type = x->type;
        tree_node *first = node_make(OP_ASSIGN, tree_copy(x), v->left);
        first->type = x->type;
        tree_node *flip = node_make(OP_ASG_XOR, negate ? tree_copy(x) : x, ones);
        flip->type = x->type;
        node_free(v);
        node_free(s);
        lower_statement(first, out);
        lower_statement(flip, out);
        if (negate) {
            tree_node *one = node_new_const(1);
            one->type = x->type;
            tree_node *inc = node_make(OP_ASG_ADD, x, one);
            inc->type = x->type;
            lower_statement(inc, out);
        }
        return true;
    }
    int k = 0;
    while (k < 7 && v->op != (uint32_t)ops[k])
        k++;
    if (k == 7 || node_size(x) < 2 || !simp_is_integer(x) || !v->left || !v->right ||
        !type_equal(type_unqualify(v->type), type_unqualify(x->type)) || contains_call(v))
        return false;
    tree_node *a = v->left, *b = v->right;
    if (tree_references(b, x->sym)) {
        bool commutes = v->op == OP_ADD || v->op == OP_AND || v->op == OP_OR || v->op == OP_XOR;
        if (!commutes || tree_references(a, x->sym) || !type_equal(type_unqualify(b->type), type_unqualify(x->type)))
            return false;
        std::swap(a, b);
    }
    tree_node *first = node_make(OP_ASSIGN, tree_copy(x), a);
    first->type = x->type;
    tree_node *second = node_make((int)compound[k], x, b);
    second->type = x->type;
    node_free(v);
    node_free(s);
    lower_statement(first, out);
    lower_statement(second, out);
    return true;
}

// ---------------------------------------------------------------------------
// reads and writes through pointers
// ---------------------------------------------------------------------------
static bool is_deref_node(void *, tree_node *n)
{
    return n->op == OP_DEREF;
}

static bool has_deref(tree_node *n)
{
    return tree_find(n, nullptr, is_deref_node) != nullptr;
}

static bool may_read_rom(tree_node *address);

// A read through a pointer that goes to a temporary of its own first: one
// of more than a byte, or one that may reach program memory. A byte of RAM
// is read into W where it is used.
static bool is_hoistable(void *, tree_node *n)
{
    if (n->op != OP_DEREF || type_is(n->type, TY_FUNCTION))   // a call's target through a pointer
        return false;
    type_desc *t = type_unqualify(n->type);
    bool byte = node_size(n) == 1 && t && (t->kind == TY_BASIC || t->kind == TY_POINTER || t->kind == TY_ENUM) &&
                t->arith != AR_BIT && t->arith != AR_FLOAT;
    return !byte || may_read_rom(n->left);
}

static bool is_store_through(void *, tree_node *n);

// Whether the statement has reads or stores through pointers to lower.
static bool indirect_work(tree_node *s)
{
    return tree_find(s, nullptr, is_hoistable) || tree_find(s, nullptr, is_store_through);
}

static bool is_store_op(uint32_t op);

static bool is_store_through(void *, tree_node *n)
{
    if (!is_store_op(n->op) || !n->left)
        return false;
    return n->left->op == OP_DEREF || (n->left->op == OP_BITFIELD && n->left->left && n->left->left->op == OP_DEREF);
}

static bool is_store_op(uint32_t op)
{
    switch (op) {
    case OP_ASSIGN: case OP_POSTINC: case OP_POSTDEC: case OP_ASG_MOD: case OP_ASG_AND: case OP_ASG_MUL:
    case OP_ASG_ADD: case OP_ASG_SUB: case OP_ASG_DIV: case OP_ASG_SHL: case OP_ASG_SHR: case OP_ASG_XOR:
    case OP_ASG_OR:
        return true;
    default:
        return false;
    }
}

// A value a store through a pointer takes as it is: a variable, a constant
// or an address.
static bool is_plain_value(tree_node *v)
{
    return v->op == OP_ID || v->op == OP_CONST || (v->op == OP_ADDR && v->left && v->left->op == OP_ID);
}

// An address through which constant data in program memory may be read
// (a constant object's, or a pointer to const): such reads take their own
// pattern, not the copy loop between two RAM pointers.
static bool may_read_rom(tree_node *address)
{
    if (cg_symbol *base = address_base(address))
        return is_rom_object(base);
    type_desc *t = type_unqualify(address->type);
    return !t || t->kind != TY_POINTER || (type_qualifiers(t->sub) & Q_CONST);
}

static tree_node *typed_node(int op, tree_node *l, tree_node *r, type_desc *t)
{
    tree_node *n = node_make(op, l, r);
    n->type = t;
    return n;
}

// A value as a type of `size` bytes holds it: sign-extended from its size
// for a signed type, cut to it for an unsigned one.
static int64_t held_value(long raw, uint32_t size, bool is_signed)
{
    uint64_t bits = (uint64_t)(uint32_t)raw;
    if (size < 4)
        bits &= (1ull << (8 * size)) - 1;
    if (is_signed && size && (bits >> (8 * size - 1)) & 1)
        return (int64_t)(bits | ~((1ull << (8 * size)) - 1));
    return (int64_t)bits;
}

// Replaces every read of the variable (the assignment's destination: an
// object, or one part of one at an offset) in a test by the constant; false
// when the test reads anything that is not plain (a call, an access
// through a pointer) or another part or width of the same object.
static bool put_constant(tree_node *n, tree_node *var, tree_node *value, bool *seen)
{
    if (!n)
        return true;
    if (n->op == OP_CALL || n->op == OP_DEREF || n->op == OP_CALLARGS || n->op == OP_ASM)
        return false;
    if (n->op == OP_ID && n->sym == var->sym) {
        if (!simp_same_id(n, var))
            return false;
        int64_t v = held_value(value->value, node_size(var),
                               type_arith_class(type_unqualify(var->type)) == AR_SIGNED);
        type_desc *t = n->type;
        n->op = OP_CONST;
        n->sym = nullptr;
        n->value = (int32_t)v;
        n->type = t;
        *seen = true;
        return true;
    }
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        if (!put_constant(n->left, var, value, seen))
            return false;
    if (arity == OA_BINARY)
        return put_constant(n->right, var, value, seen);
    return true;
}

// The test right after a variable is given a constant (the first test of a
// counted loop: for (i = 0; i < n; i++)) decided here when the constant
// decides it, so neither the test nor the jump around the loop's body is
// made. A jump that follows a jump made unconditional is never reached.
static void fold_tests_after_constants(vector_t *stmts)
{
    for (uint32_t i = 0; i + 1 < vec_count(stmts); i++) {
        tree_node *s = (tree_node *)vec_get(stmts, i), *t = (tree_node *)vec_get(stmts, i + 1);
        if (s->op != OP_ASSIGN || !s->left || s->left->op != OP_ID || !s->left->sym || !s->right ||
            s->right->op != OP_CONST || tree_has_volatile(s->left) || !type_is_integer(s->left->type))
            continue;
        if (t->op != OP_CJUMP || !t->left || !t->right)
            continue;
        tree_node *test = tree_copy(t->left);
        bool seen = false;
        if (!put_constant(test, s->left, s->right, &seen) || !seen) {
            tree_free(test);
            continue;
        }
        int level = msg_set_warning_level(9);   // the user wrote no such test
        test = tree_simplify(test);
        msg_set_warning_level(level);
        bool decided = simp_is_const(test), taken = decided && test->value != 0;
        tree_free(test);
        if (!decided)
            continue;
        if (!taken) {
            vec_remove_at(stmts, i + 1);
            tree_free(t);
            continue;
        }
        tree_free(t->left);
        t->left = t->right;
        t->right = nullptr;
        t->op = OP_JUMP;
        while (i + 2 < vec_count(stmts) && ((tree_node *)vec_get(stmts, i + 2))->op == OP_JUMP) {
            tree_node *dead = (tree_node *)vec_get(stmts, i + 2);
            vec_remove_at(stmts, i + 2);
            tree_free(dead);
        }
    }
}

// A temporary of the current function holding the value v, stored by a
// statement of its own (lowered in its turn); its ID takes v's place.
static tree_node *into_temporary(tree_node *v, vector_t *out)
{
    type_desc *t = type_unqualify(v->type);
    cg_symbol *tmp = new_temporary_auto(t);
    if (v->ptrs && v->ptrs->targets)
        for (uint32_t i = 0; i < vec_count(v->ptrs->targets); i++)
            ptrset_add_target(ptrset_of(tmp), (cg_symbol *)vec_get(v->ptrs->targets, i));
    tree_node *store = typed_node(OP_ASSIGN, node_new_id(tmp), v, t);
    lower_statement(store, out);
    tree_node *id = node_new_id(tmp);
    id->type = v->type;
    return id;
}

static tree_node *hoist_reads(tree_node *n, vector_t *out);

// A store through a pointer whose value an expression uses (x = (*p)++,
// x = *p = v): the store in statements of its own, through a temporary
// that then stands for its value.
static tree_node *hoist_store(tree_node *n, vector_t *out)
{
    tree_node *l = n->left;
    tree_node *a = hoist_reads(l->left, out);
    if (a->op != OP_ID)
        a = into_temporary(a, out);
    type_desc *t = type_unqualify(l->type);
    cg_symbol *tmp = new_temporary_auto(t);
    auto through = [&](tree_node *address) {
        tree_node *d = typed_node(OP_DEREF, address, nullptr, l->type);
        d->ptrs = l->ptrs;
        return d;
    };
    tree_node *v = hoist_reads(n->right, out);
    if (n->op == OP_ASSIGN) {
        lower_statement(typed_node(OP_ASSIGN, node_new_id(tmp), v, t), out);
    } else {
        lower_statement(typed_node(OP_ASSIGN, node_new_id(tmp), through(tree_copy(a)), t), out);
        if (n->op == OP_POSTINC || n->op == OP_POSTDEC) {
            // the old value is the result: the new one is stored from its own sum
            int op = n->op == OP_POSTINC ? OP_ADD : OP_SUB;
            tree_node *sum = typed_node(op, node_new_id(tmp), v, t);
            lower_statement(typed_node(OP_ASSIGN, through(a), sum, t), out);
            node_free(l);
            node_free(n);
            return node_new_id(tmp);
        }
        lower_statement(typed_node((int)n->op, node_new_id(tmp), v, t), out);
    }
    lower_statement(typed_node(OP_ASSIGN, through(a), node_new_id(tmp), t), out);
    node_free(l);
    node_free(n);
    return node_new_id(tmp);
}

// Every read through a pointer below n (not the target of a store) goes to
// a temporary, innermost first.
static tree_node *hoist_reads(tree_node *n, vector_t *out)
{
    if (!n)
        return n;
    int arity = op_arity((int)n->op);
    if (is_store_op(n->op) && n->left && n->left->op == OP_DEREF)
        return hoist_store(n, out);
    if (is_store_op(n->op) && n->left && n->left->op == OP_BITFIELD && n->left->left &&
        n->left->left->op == OP_DEREF) {   // its value used: left to the matcher, which refuses it
        n->right = hoist_reads(n->right, out);
        return n;
    }
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = hoist_reads(n->left, out);
    if (arity == OA_BINARY)
        n->right = hoist_reads(n->right, out);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        vec_set(n->args, hoist_reads((tree_node *)vec_get(n->args, i), out), i);
    if (!is_hoistable(nullptr, n))
        return n;
    return into_temporary(n, out);
}

// A constant object named directly lives in program memory: its value when
// the initialiser gives it, else a read through its address (the page of
// constant data has no RAM address to name).
static tree_node *read_rom_objects(tree_node *n)
{
    if (!n)
        return n;
    if (n->op == OP_ADDR)
        return n;
    if (n->op == OP_ID && n->sym && !sym_is_function(n->sym) && is_rom_object(n->sym)) {
        tree_node *addr = node_make(OP_ADDR, node_new_id(n->sym), nullptr);
        if (n->value)   // a part of the object: its address and offset
            addr = typed_node(OP_ADD, addr, node_new_const(n->value), type_derive(n->type, TY_POINTER));
        // made by hand: building it collapses *&x back into x
        tree_node *load = node_new();
        load->op = OP_DEREF;
        load->left = addr;
        load->type = n->type;
        load->ptrs = addr->ptrs;
        load->ptr_depth = addr->ptr_depth + 1;
        load->file = n->file;
        load->line = n->line;
        tree_node *v = simp_constant_value(load, n->sym, n->value);
        node_free(n);
        return v;
    }
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = read_rom_objects(n->left);
    if (arity == OA_BINARY)
        n->right = read_rom_objects(n->right);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        vec_set(n->args, read_rom_objects((tree_node *)vec_get(n->args, i)), i);
    return n;
}

static bool is_rom_id(void *, tree_node *n)
{
    return n->op == OP_ID && n->sym && !sym_is_function(n->sym) && is_rom_object(n->sym);
}

// The statement's reads and writes through pointers in the forms the
// patterns take. True when the statement went out in pieces.
static bool lower_indirect(tree_node *s, vector_t *out)
{
    if (!indirect_work(s))
        return false;
    if (s->op == OP_POSTINC || s->op == OP_POSTDEC)   // a statement: only the effect counts
        s->op = s->op == OP_POSTINC ? OP_ASG_ADD : OP_ASG_SUB;
    tree_node *l = s->left;
    if (s->op == OP_ASSIGN && l && l->op == OP_ID && s->right && s->right->op == OP_DEREF) {
        // x = *a: kept, once a reads through no other pointer
        if (!indirect_work(s->right->left))
            return false;
        s->right->left = hoist_reads(s->right->left, out);
        vec_push(out, s);
        return true;
    }
    if (s->op == OP_ASSIGN && l && l->op == OP_DEREF && s->right->op == OP_DEREF && node_size(l) >= 4 &&
        !may_read_rom(s->right->left)) {
        // *a = *b of four bytes or more: a loop moves copies of both pointers
        tree_node *b = s->right;
        tree_node *from = into_temporary(hoist_reads(b->left, out), out);
        tree_node *to = into_temporary(hoist_reads(l->left, out), out);
        b->left = from;
        l->left = to;
        vec_push(out, s);
        return true;
    }
    if (s->op == OP_ASSIGN && l && l->op == OP_DEREF) {
        // *a = v: v first (into a temporary unless plain), then a
        s->right = hoist_reads(s->right, out);
        if (!is_plain_value(s->right))
            s->right = into_temporary(s->right, out);
        l->left = hoist_reads(l->left, out);
        vec_push(out, s);
        return true;
    }
    bool field = l && l->op == OP_BITFIELD && l->left && l->left->op == OP_DEREF;
    if (is_store_op(s->op) && l && (l->op == OP_DEREF || field)) {
        // *a op= v: t = *a; t op= v; *a = t, the address computed once (a
        // bit-field through a pointer: its byte read, changed, written)
        tree_node *d = field ? l->left : l;
        tree_node *a = hoist_reads(d->left, out);
        if (a->op != OP_ID)
            a = into_temporary(a, out);
        type_desc *t = type_unqualify(d->type);
        cg_symbol *tmp = new_temporary_auto(t);
        tree_node *load = typed_node(OP_DEREF, tree_copy(a), nullptr, d->type);
        load->ptrs = d->ptrs;
        node_free(d);
        if (field)
            l->left = node_new_id(tmp);
        else
            s->left = node_new_id(tmp);
        lower_statement(typed_node(OP_ASSIGN, node_new_id(tmp), load, t), out);
        lower_statement(s, out);
        tree_node *back = typed_node(OP_DEREF, a, nullptr, load->type);
        back->ptrs = load->ptrs;
        lower_statement(typed_node(OP_ASSIGN, back, node_new_id(tmp), t), out);
        return true;
    }
    s = hoist_reads(s, out);
    if (indirect_work(s))   // a form no pattern takes: the matcher says so
        vec_push(out, s);
    else
        lower_statement(s, out);
    return true;
}

// A compound store into a bit-field: the field assigned its new value
// (clearing and setting every bit: a constant).
static bool lower_bitfield(tree_node *s, vector_t *out)
{
    tree_node *b = s->left;
    if (s->op == OP_ASSIGN || !is_store_op(s->op) || !b || b->op != OP_BITFIELD || !b->left || b->left->op != OP_ID)
        return false;
    if (s->op == OP_POSTINC || s->op == OP_POSTDEC)
        s->op = s->op == OP_POSTINC ? OP_ASG_ADD : OP_ASG_SUB;
    uint32_t all = node_mask(b);
    tree_node *v = s->right;
    if ((s->op == OP_ASG_AND || s->op == OP_ASG_OR) && v->op == OP_CONST &&
        ((uint32_t)v->value & all) == (s->op == OP_ASG_AND ? 0 : all)) {
        v->value = s->op == OP_ASG_AND ? 0 : (int32_t)all;
    } else {
        static const int ops[][2] = {{OP_ASG_ADD, OP_ADD}, {OP_ASG_SUB, OP_SUB}, {OP_ASG_AND, OP_AND},
                                     {OP_ASG_OR, OP_OR}, {OP_ASG_XOR, OP_XOR}, {OP_ASG_SHL, OP_SHL},
                                     {OP_ASG_SHR, OP_SHR}, {OP_ASG_MUL, OP_MUL}, {OP_ASG_DIV, OP_DIV},
                                     {OP_ASG_MOD, OP_MOD}};
        int op = 0;
        for (auto &row : ops)
            if ((int)s->op == row[0])
                op = row[1];
        if (!op)
            return false;
        s->right = typed_node(op, tree_copy(b), v, b->type);
    }
    s->op = OP_ASSIGN;
    // not simplified again: that would make the store compound once more
    s->right = tree_rewrite_all(s->right);
    if (contains_call(s->right))   // a product became a helper's call
        s->right = hoist_calls(s->right, nullptr, out);
    vec_push(out, s);
    return true;
}

// Words of the two ways a switch of n cases whose values span `range`
// dispatches, the value's load left out of both. A byte switch's chain is
// an xorlw, a skip and a goto per case and the goto to the default; its
// table is the range test and the computed jump (ten words, one more to
// subtract a lowest value other than 0) and a goto per value. A wider
// value's chain compares every byte per case; its table first takes the
// lowest value off in an unsigned temporary, tests it against the range
// from the top byte down, and switches on the low byte.
// (Measured on the 14-bit cores: a compare takes 8 words a case for an
// int and 16 for a long; the table's fixed part is 24 words more than the
// chain's for an int, 42 for a long.)
static unsigned switch_chain_words(uint32_t size, size_t n)
{
    return (size == 1 ? 3 : 4 * size) * (unsigned)n + 1;
}

static unsigned switch_table_words(uint32_t size, int64_t low, uint64_t range)
{
    if (size > 1)
        return (unsigned)range + 9 * size + 7;
    return (unsigned)range + 10 + ((low & 0xFF) ? 1 : 0) - (range == 256 ? 2 : 0);
}

// On the 12-bit cores a computed jump reaches only the first half of a
// page, so the table is a long jump per value in jmp_tab (page 0), entered
// by a long jump with the index times the words of a long jump in W; the
// index (the value less the lowest case, in an unsigned temporary unless
// the value is one already) is tested against the range as a wider
// value's is. Under "auto" such a table is made for an unsigned byte
// counted from 0 (no temporary) when it takes no more words than the
// chain, and the first half of page 0, which the stubs and the constants'
// tables share, gives those tables at most a fixed budget of words; under
// "#pragma switch direct" whenever it fits.
static unsigned low_page_switch_words;

static bool switch_table12(uint32_t size, int64_t low, bool is_signed, uint64_t range, size_t n, int kind,
                           bool fallback)
{
    const unsigned budget = 64;
    unsigned jump = long_jump_words();
    if (!fallback || !n || size < 1 || size > 4 || range * jump > 256 || kind == SWITCH_SIMPLE ||
        kind == SWITCH_SEARCH)
        return false;
    unsigned low_page = 1 + (unsigned)range * jump;
    bool index_temp = size > 1 || low || is_signed;
    unsigned code = (index_temp ? 3 * size : 0) + (range < (1ull << (8 * size)) ? 4 * size : 0) + 1 + (jump - 1) +
                    jump;
    unsigned chain = size == 1 ? 3 * (unsigned)n + 2 : 4 * size * (unsigned)n + 1;
    // the index's temporary would make the frame larger, which the small
    // banks of these chips cannot afford unasked
    if (kind == SWITCH_AUTO &&
        (index_temp || code + low_page > chain || low_page_switch_words + low_page > budget))
        return false;
    if (kind == SWITCH_AUTO)
        low_page_switch_words += low_page;
    return true;
}

// A switch: its value in a variable (a temporary unless it is one), then a
// compare chain or a jump table. A byte value is one SWITCH statement whose
// pattern writes either (its spare says which); a wider value is a
// compare-and-jump per case and the jump to the default, or, for a table,
// the value less the lowest case in an unsigned temporary, one unsigned
// test against the number of values (out of range: the default), and a
// byte switch through the table on its low byte. Tables are made for at
// most 256 values from the lowest case to the highest; with "#pragma
// switch direct" whenever they can be, under "auto" when they take no more
// words than the chain. On the 12-bit cores (no addlw, computed jumps only
// into the first half of a page) a byte's table is reached as a wider
// value's is, through an index tested against the range (switch_table12).
static bool lower_switch(tree_node *s, vector_t *out)
{
    if (s->op != OP_SWITCH || !s->left)
        return false;
    tree_node *v = s->left;
    std::vector<tree_node *> cases;
    tree_node *fallback;
    switch_cases(s->right, &cases, &fallback);
    // a case value the link fills in (an address) cannot be dispatched on
    for (tree_node *c : cases)
        if (c->left->op != OP_CONST) {
            node_set_position(s);
            msg_report(697);
            return true;
        }
    // two cases of one value (as the switch's type holds it): refused
    uint32_t size = node_size(v);
    bool is_signed = type_arith_class(type_unqualify(v->type)) == AR_SIGNED;
    for (size_t i = 0; i < cases.size(); i++)
        for (size_t k = 0; k < i; k++)
            if (held_value(cases[i]->left->value, size, is_signed) ==
                held_value(cases[k]->left->value, size, is_signed)) {
                node_set_position(s);
                msg_report(695, (long)held_value(cases[i]->left->value, size, is_signed));
                return true;
            }
    if (cases.empty()) {
        node_set_position(s);
        msg_report(699);
    }
    if (v->op != OP_ID || tree_has_volatile(v))
        v = into_temporary(v, out);
    s->left = v;
    int64_t low = 0, high = 0;
    for (size_t i = 0; i < cases.size(); i++) {
        int64_t x = held_value(cases[i]->left->value, size, is_signed);
        if (i == 0 || x < low)
            low = x;
        if (i == 0 || x > high)
            high = x;
    }
    uint64_t range = (uint64_t)(high - low) + 1;
    int kind = (int)s->spare;
    bool smaller = switch_table_words(size, low, range) <= switch_chain_words(size, cases.size());
    bool table = chip.family == 2 && fallback && !cases.empty() && range <= 256 && size >= 1 && size <= 4 &&
                 (kind == SWITCH_DIRECT || (kind == SWITCH_AUTO && smaller));
    if (chip.family == 1)
        table = switch_table12(size, low, is_signed, range, cases.size(), kind, fallback != nullptr);
    s->spare = table ? SWITCH_DIRECT : SWITCH_SIMPLE;
    if (size == 1 && (chip.family != 1 || !table)) {
        vec_push(out, s);
        return true;
    }
    if (table) {
        static const char *const unsigned_names[] = {"", "uc", "ui", "um", "ul"};
        type_desc *ut = basic_type_named(unsigned_names[size]);
        type_desc *uc = basic_type_named("uc");
        // an unsigned byte counted from 0 is its own index
        bool own = chip.family == 1 && size == 1 && !low && !is_signed;
        cg_symbol *index = own ? nullptr : new_temporary_auto(ut);
        if (index) {
            tree_node *value = typed_node(OP_CONV, tree_copy(v), node_new_type(ut), ut);
            if (low)
                value = typed_node(OP_SUB, value, node_new_const_typed((long)(uint32_t)low, ut), ut);
            lower_statement(assign_node(index, value), out);
        }
        if (size > 1 || range < 256) {
            tree_node *test = typed_node(OP_GE, index ? node_new_id(index) : tree_copy(v),
                                         node_new_const_typed((long)(uint32_t)range, ut), basic_type_named("b"));
            tree_node *jump = node_make(OP_CJUMP, test, tree_copy(fallback));
            jump->type = basic_type_named("v");
            lower_statement(jump, out);
        }
        for (tree_node *c : cases) {
            c->left->value = (int32_t)(held_value(c->left->value, size, is_signed) - low);
            c->left->type = uc;
        }
        tree_node *b = index ? node_new_id(index) : v;   // its low byte
        b->type = uc;
        s->left = b;
        s->spare = SWITCH_DIRECT | SWITCH_IN_RANGE;
        vec_push(out, s);
        return true;
    }
    for (tree_node *c : cases) {
        tree_node *value = node_new_const(c->left->value);
        value->type = v->type;
        tree_node *test = typed_node(OP_EQ, tree_copy(v), value, basic_type_named("b"));
        tree_node *jump = node_make(OP_CJUMP, test, tree_copy(c->right));
        jump->type = basic_type_named("v");
        lower_statement(jump, out);
    }
    if (fallback) {
        tree_node *jump = node_make(OP_JUMP, tree_copy(fallback), nullptr);
        jump->type = basic_type_named("i");
        vec_push(out, jump);
    }
    return true;
}

static void lower_statement(tree_node *s, vector_t *out)
{
    if (lower_switch(s, out))
        return;
    // a truth value returned from a function of another type (return a <
    // b from an int function): made in a temporary of the function's type
    // as an assignment makes it
    if (s->op == OP_RETURN && s->left && simp_class(s->left) == AR_BIT && current_function) {
        type_desc *ft = type_unqualify(current_function->type);
        type_desc *rt = ft && ft->kind == TY_FUNCTION ? type_unqualify(ft->sub) : nullptr;
        if (rt && type_size(rt) && type_arith_class(rt) != AR_BIT) {
            cg_symbol *tmp = new_temporary_auto(rt);
            lower_statement(typed_node(OP_ASSIGN, node_new_id(tmp), s->left, rt), out);
            s->left = node_new_id(tmp);
            s->type = rt;
            push_statement(out, s);
            return;
        }
    }
    // the statements a choice was split into were not rewritten yet: a
    // product stored in an arm is a helper's call from here on
    s = tree_rewrite_all(s);
    if (tree_find(s, nullptr, is_rom_id))   // values found there may fold further
        s = tree_rewrite_all(read_rom_objects(s));
    if (s->op == OP_SEQ) {   // a rewrite made two statements of one
        tree_node *first = s->left, *rest = s->right;
        node_free(s);
        lower_statement(first, out);
        lower_statement(rest, out);
        return;
    }
    if (tree_find(s, s, is_stepped_post_update)) {
        if (split_again(s, out))   // an arm's update happens only when chosen
            return;
        s = lower_post_updates(s, s, out);
    }
    if (flt_needs_lowering(s)) {
        // a float operation in an operand that is evaluated only when
        // chosen stays there: the choice is split into jumps first
        if (split_again(s, out))
            return;
        s = flt_lower(s, out);
    }
    if (!contains_call(s)) {
        if (!split_again(s, out) && !lower_indirect(s, out) && !lower_bitfield(s, out) && !assign_in_place(s, out))
            vec_push(out, s);
        return;
    }
    for (int round = 0;; round++) {
        KASSERT(round < 100);
        tree_node *keep = top_call(s);
        s = hoist_calls(s, keep, out);
        // the arguments of the call that stays read through pointers
        // first: an operation on what they read may become a helper's call
        if (tree_node *stays = top_call(s); stays && stays->right && has_deref(stays->right))
            stays->right = hoist_reads(stays->right, out);
        s = tree_rewrite_all(s);
        keep = top_call(s);
        if (calls_in(s) <= (keep ? 1u : 0u))
            break;
    }
    if (split_again(s, out))
        return;
    if (tree_node *keep = top_call(s)) {
        store_arguments(keep, out);
        lower_pointer_call(keep, out);
        if (has_deref(s)) {   // the call's W argument, or the store of its result, through a pointer
            if (s->op == OP_ASSIGN && s->left && s->left->op == OP_DEREF) {
                // *a = f(): the result in a temporary, then the store
                tree_node *call = s->right;
                s->right = into_temporary(call, out);
                lower_statement(s, out);
                return;
            }
            s = hoist_reads(s, out);
        }
    } else if (lower_indirect(s, out) || lower_bitfield(s, out) || assign_in_place(s, out)) {
        return;
    }
    push_statement(out, s);
}

tree_node *lower_into_temporary(tree_node *v, vector_t *out)
{
    return into_temporary(v, out);
}

void lower_statement_into(tree_node *s, vector_t *out)
{
    lower_statement(s, out);
}

// p++ and p-- of a byte variable by a step other than one (a pointer to
// objects wider than a byte), its old value used in the statement: the old
// value kept in a temporary, the update a statement of its own before it.
static bool is_stepped_post_update(void *root, tree_node *n)
{
    return n != root && (n->op == OP_POSTINC || n->op == OP_POSTDEC) && node_size(n) == 1 && n->left &&
           n->left->op == OP_ID && !tree_has_volatile(n->left) && n->right && n->right->op == OP_CONST &&
           n->right->value != 1;
}

static tree_node *lower_post_updates(tree_node *n, tree_node *root, vector_t *out)
{
    if (!n)
        return n;
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        n->left = lower_post_updates(n->left, root, out);
    if (arity == OA_BINARY)
        n->right = lower_post_updates(n->right, root, out);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        vec_set(n->args, lower_post_updates((tree_node *)vec_get(n->args, i), root, out), i);
    if (!is_stepped_post_update(root, n))
        return n;
    tree_node *old = into_temporary(tree_copy(n->left), out);
    tree_node *update = typed_node(n->op == OP_POSTINC ? OP_ASG_ADD : OP_ASG_SUB, n->left, n->right, n->type);
    node_free(n);
    lower_statement(update, out);
    return old;
}

// A statement tree of the function as read, split into simple statements.
static void prepare_statement(cg_symbol *f, tree_node *t, vector_t *out)
{
    hoist_counter = 0;   // the temporaries of the statement before are free again
    t = tree_simplify(t);
    t = tree_simplify(t);
    if (!t)
        return;
    if (t->op == OP_LABEL && t->left && t->left->op == OP_ID && t->left->sym == f && !f->func->entry_stmt) {
        f->func->entry_stmt = t;
        return;
    }
    vector_t *split = vec_new(4);
    uint32_t before = vec_count(out);
    bool dropped = nodeRewrite(t, split) != 0;
    for (uint32_t i = 0; i < vec_count(split); i++)
        lower_statement((tree_node *)vec_get(split, i), out);
    vec_free(split);
    flt_erase(out, before);
    if (dropped)
        msg_report_once(vec_count(out) > before ? 760 : 759);
}

// Step A of the first phase: parameters laid out, statements prepared.
static void compute_frame_sizes(vector_t *list)
{
    for (uint32_t i = 0; i < vec_count(list); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(list, i);
        f->params_size = func_layout_params(f);
        // a value of 2 to 4 bytes is returned at the start of the parameter
        // block; on the 12-bit core a byte too (its retlw overwrites W)
        type_desc *ft = type_unqualify(f->type);
        uint32_t ret = ft && ft->kind == TY_FUNCTION ? type_size(ft->sub) : 0;
        if ((ret > 1 || (ret == 1 && chip.family == 1)) && ret > f->params_size)
            f->params_size = ret;
    }
    for (uint32_t i = 0; i < vec_count(list); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(list, i);
        current_function = f;
        f->func->stmts = vec_new(vec_count(f->func->trees) + 8);
        // the run-time library's functions are not the user's to mend:
        // their warnings are not shown (errors still are)
        int level = f->flags & SF_LIBFUNC ? msg_set_warning_level(9) : 0;
        for (uint32_t k = 0; k < vec_count(f->func->trees); k++)
            prepare_statement(f, (tree_node *)vec_get(f->func->trees, k), f->func->stmts);
        fold_tests_after_constants(f->func->stmts);
        if (f->flags & SF_LIBFUNC)
            msg_set_warning_level(level);
        collect_calls(f);
        if (trace_trees) {
            fprintf(stderr, "=== %s\n", f->name);
            for (uint32_t k = 0; k < vec_count(f->func->stmts); k++)
                tree_dump(stderr, (tree_node *)vec_get(f->func->stmts, k), 0);
        }
    }
    current_function = nullptr;
}

// ---------------------------------------------------------------------------
// uses
// ---------------------------------------------------------------------------
// An object named in a statement of the function ctx: one use more.
static tree_node *mark_uses_visit(void *ctx, tree_node *n, int, int, int, long *)
{
    if (n->op == OP_ID && n->sym && !sym_is_function(n->sym)) {
        n->sym->use_count++;
        record_caller(n->sym, (cg_symbol *)ctx);
    }
    return n;
}

static void mark_uses(cg_symbol *f)
{
    long result = 0;
    for (uint32_t i = 0; i < vec_count(f->func->stmts); i++)
        tree_walk(WALK_PREORDER, f, (tree_node *)vec_get(f->func->stmts, i), mark_uses_visit, 0, 0, 0, &result);
}

// ---------------------------------------------------------------------------
// phases
// ---------------------------------------------------------------------------
// The functions the program runs: reachable from _main.
// The functions the program runs: reachable from _main, then those
// reachable from the interrupt function.
static vector_t *reached_functions(bool deepest_first, bool with_blocks = false)
{
    vector_t *out = vec_new(16);
    for (cg_symbol *root : {main_function, interrupt_function}) {
        if (!root)
            continue;
        vector_t *all = callgraph_reached(root, deepest_first);
        for (uint32_t i = 0; i < vec_count(all); i++) {
            cg_symbol *f = (cg_symbol *)vec_get(all, i);
            if ((f->func || (with_blocks && fpblock_is(f))) && vec_index_of(out, f) == UINT32_MAX)
                vec_push(out, f);
        }
        vec_free(all);
    }
    return out;
}

// A call through a pointer stores its arguments into the block of its
// shape, which calls of the main program use too: from the interrupt
// function it would overwrite what an interrupted call had stored.
static void refuse_interrupt_pointer_calls()
{
    vector_t *run = callgraph_reached(interrupt_function, false);
    for (uint32_t i = 0; i < vec_count(run); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(run, i);
        vector_t *callees = f->func ? callgraph_callees(f) : vec_new(1);
        for (uint32_t k = 0; k < vec_count(callees); k++)
            if (fpblock_is((cg_symbol *)vec_get(callees, k))) {
                sym_set_position(f);
                msg_report(1570, sym_asm_name(f));
                break;
            }
        vec_free(callees);
    }
    vec_free(run);
}

// Phase 1: statements, the call graph, recursion, functions never called.
static bool phase_call_graph()
{
    cg_phase = 1;
    main_function = sym_find("_main");
    if (main_function && !main_function->func)
        main_function = nullptr;
    interrupt_function = nullptr;
    for (uint32_t i = 0; i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        if (f->func && (type_qualifiers(f->type) & Q_INTERRUPT))
            interrupt_function = f;
    }
    compute_frame_sizes(functions);
    collect_external_calls(main_function);
    if (!main_function)
        return false;
    vector_t *reached = reached_functions(false);
    for (uint32_t i = 0; i < vec_count(reached); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(reached, i);
        if (callgraph_on_cycle(f)) {
            sym_set_position(f);
            msg_report_once(1089, sym_asm_name(f));
        }
    }
    refuse_interrupt_pointer_calls();
    call_graph_completed = true;
    indirect_follow_pointers(functions, global_objects);
    indirect_tag_pointers(functions);
    for (uint32_t i = 0; i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        f->reach_count = vec_index_of(reached, f) != UINT32_MAX ? 1 : 0;
        if (f->reach_count) {
            mark_uses(f);
            indirect_mark_escapes(f);
        } else if (!(f->flags & SF_LIBFUNC)) {
            sym_set_position(f);
            msg_report(520, sym_asm_name(f));
        }
    }
    indirect_note_table_reads(functions);
    vec_free(reached);
    return true;
}

// Phase 3: frames, the compiled stack and the placement rounds.
static void layout_compiled_stack();

static void dry_run_all(vector_t *list)
{
    for (uint32_t i = 0; i < vec_count(list); i++)
        gen_function((cg_symbol *)vec_get(list, i), false);
}

static void phase_allocation()
{
    cg_phase = 3;
    vector_t *deepest = reached_functions(true);
    for (uint32_t i = 0; i < vec_count(deepest); i++)
        layout_autos((cg_symbol *)vec_get(deepest, i));
    dry_run_all(deepest);
    layout_compiled_stack();
    for (int round = 1;; round++) {
        if (round == 10) {
            msg_print("Looping around MACH_ALLOC\n");
            tool_exit(1);
        }
        vector_t *moved = place_data();
        if (!moved)
            break;
        vec_free(moved);
        // the code selects banks by where objects lie: generate it again
        dry_run_all(deepest);
        layout_compiled_stack();
    }
    vec_free(deepest);
}

// Step D: every function's frame above the frames of all its callers.
static void layout_compiled_stack()
{
    vector_t *order = reached_functions(false, true);   // argument blocks are frames too
    for (uint32_t i = 0; i < vec_count(order); i++)
        ((cg_symbol *)vec_get(order, i))->cgraph->base = 0;
    compiled_stack_size = 0;
    for (uint32_t i = 0; i < vec_count(order); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(order, i);
        // the interrupt code runs while any of main's frames is live: its
        // frames lie above all of them (the linker lays them out so too)
        if (f == interrupt_function)
            f->cgraph->base = compiled_stack_size;
        uint32_t end = f->cgraph->base + frame_total(f);
        if (end > compiled_stack_size)
            compiled_stack_size = end;
        vector_t *callees = callgraph_callees(f);
        for (uint32_t k = 0; k < vec_count(callees); k++) {
            cg_symbol *g = (cg_symbol *)vec_get(callees, k);
            if (g->cgraph->base < end)
                g->cgraph->base = end;
        }
        vec_free(callees);
    }
    vec_free(order);
}

// Step E: a function called at the end of a path of n calls from main has
// n return addresses on the hardware stack while it runs; one of them more
// than the stack's levels overwrites the oldest, and that return goes wrong.
// With the run-time option that asks for it, each such function is named.
static void compute_call_depths()
{
    if (!(chip.n[3] & 1) || !main_function)
        return;
    uint32_t levels = (uint32_t)chip.n[1] + 1;
    // the longest path of calls to each function, callers first; through a
    // pointer the call of the dispatcher counts, and the call a stub makes
    // when it copies a wide value back, but not the argument block's node
    vector_t *order = callgraph_reached(main_function, false);
    std::map<cg_symbol *, uint32_t> calls;
    for (uint32_t i = 0; i < vec_count(order); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(order, i);
        uint32_t here = calls[f];
        if (f->func && here > levels) {
            sym_set_position(f);
            msg_report(1258, sym_asm_name(f));
        }
        uint32_t step = !fpblock_is(f) ? 1 : fpblock_calls_function(f) ? 1 : 0;
        vector_t *callees = callgraph_callees(f);
        for (uint32_t k = 0; k < vec_count(callees); k++) {
            cg_symbol *g = (cg_symbol *)vec_get(callees, k);
            if (chip.family == 1)   // the dispatcher and jump-returning functions are entered by jumps
                step = fpblock_is(g) || (g->func && g->func->jump_return) ? 0 : 1;
            calls[g] = std::max(calls[g], here + step);
        }
        vec_free(callees);
    }
    vec_free(order);
}

// A function called from main and from the interrupt function shares one
// frame between them: allowed where #pragma interrupt_level 1 marks it (the
// program promises that the two calls never overlap, interrupts being off
// around main's), which the linker learns from FNBREAK; it then lays the
// frame out in the interrupt's graph only. Unmarked, the link refuses the
// program (472).
static void emit_level_breaks()
{
    vector_t *from_main = main_function ? callgraph_reached(main_function, false) : vec_new(1);
    vector_t *from_interrupt = callgraph_reached(interrupt_function, false);
    for (uint32_t i = 0; i < vec_count(from_interrupt); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(from_interrupt, i);
        if (f == interrupt_function || !(f->int_levels & 2) || vec_index_of(from_main, f) == UINT32_MAX)
            continue;
        if (!f->func || !f->cgraph || !f->cgraph->generated)
            continue;
        printf("\tglobal\tintlevel1\n\tFNBREAK\t%s,intlevel1\n", sym_asm_name(f));
    }
    vec_free(from_main);
    vec_free(from_interrupt);
}

// Phase 6: the functions written.
static int phase_output()
{
    compute_call_depths();
    cg_phase = 6;
    unsigned long strings, cnst, data, bss, persist;
    data_sizes(&strings, &cnst, &data, &bss, &persist);
    printf(";Data sizes: Strings %lu, constant %lu, data %lu, bss %lu, persistent %lu stack %lu\n", strings, cnst,
           data, bss, persist, (unsigned long)compiled_stack_size);
    if (msg_exit_status())
        return msg_exit_status();
    vector_t *order = reached_functions(false);
    for (uint32_t i = 0; i < vec_count(order); i++)
        emit_frame_equates((cg_symbol *)vec_get(order, i));
    for (uint32_t i = 0; i < vec_count(order); i++)
        emit_function_header((cg_symbol *)vec_get(order, i));
    vec_free(order);
    if (emit_fn_calls(main_function))
        printf("\tFNROOT\t%s\n", sym_asm_name(main_function));
    if (interrupt_function && emit_fn_calls(interrupt_function)) {
        printf("\tFNCALL\tintlevel1,%s\n\tFNROOT\tintlevel1\n", sym_asm_name(interrupt_function));
        emit_level_breaks();
    }
    return 0;
}

// What this code generator cannot yet do correctly is refused, never
// compiled into code that would run wrong.
static bool refuse_what_is_not_built()
{
    // the enhanced 12-bit cores select banks by a register of their own
    static const char *const enhanced_12bit[] = {"16F527", "16F570"};
    bool enhanced = false;
    for (const char *name : enhanced_12bit)
        enhanced |= chip.family == 1 && chip.name && !strcmp(chip.name, name);
    if ((chip.family != 2 && chip.family != 1) || enhanced) {
        // the program is refused as a whole: shown at main when there is one
        if (cg_symbol *m = sym_find("_main"); m && m->func)
            sym_set_position(m);
        msg_report(1490, enhanced ? "programs for the enhanced 12-bit cores" : "programs for this core");
        return true;
    }
    // one interrupt function, its context saved in common memory (W is
    // saved before any bank can be selected)
    bool refused = false;
    int interrupts = 0;
    for (uint32_t i = 0; i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        if (!(type_qualifiers(f->type) & Q_INTERRUPT))
            continue;
        const char *why = chip.family == 1          ? "interrupt functions on the 12-bit cores, which have no interrupts"
                          : ++interrupts > 1        ? "programs of more than one interrupt function"
                          : !target_class("COMMON") ? "interrupt functions on chips without common memory"
                                                    : nullptr;
        if (why) {
            sym_set_position(f);
            msg_report(1490, why);
            refused = true;
        }
    }
    return refused;
}

int optim_whole_program()
{
    trace_trees = getenv("KESTREL_TRACE") != nullptr;
    match_trace = trace_trees && strchr(getenv("KESTREL_TRACE"), 'm');
    emit_escape = cg_emit_escape;
    if (!run.printf_pass && refuse_what_is_not_built())
        return msg_exit_status();
    if (!phase_call_graph() || run.printf_pass)
        return 0;
    decide_jump_returns();
    cg_phase = 2;
    data_classify();
    if (msg_exit_status())
        return msg_exit_status();
    phase_allocation();
    if (msg_exit_status())
        return msg_exit_status();
    cg_phase = 4;
    vector_t *order = reached_functions(false);
    for (uint32_t i = 0; i < vec_count(order); i++)
        gen_function((cg_symbol *)vec_get(order, i), false);
    vec_free(order);
    return phase_output();
}

void optim_reset()
{
    cg_phase = 0;
    main_function = nullptr;
    interrupt_function = nullptr;
    hoist_counter = 0;
    low_page_switch_words = 0;
    trace_trees = false;
    callgraph_reset();
    jump_returns_reset();
}
