// Indirect access: reads and writes through pointers, by FSR and INDF.
//
// A data pointer is one byte, the low byte of its target's address; the
// ninth address bit, the IRP bit of STATUS, says which half of the banks
// (0-1 or 2-3) the access reaches. It comes from where the target lies:
//
// - an address computed from one object (&x, &x + i, (T *)&x + i: arrays
//   indexed by a variable, members through &s) reaches that object, so the
//   half is the object's own;
// - any other pointer value (a pointer variable, a parameter, a value read
//   from memory) may hold the address of every object whose address is
//   taken as a value somewhere in the program (stored, passed, compared:
//   the object "escapes"). Unqualified escaping objects are placed in banks
//   0-1 or common memory, and every access through such a pointer uses
//   their half. Escaping objects qualified into both halves leave that half
//   undecided: the program is refused (1491).
//
// A pointer to const data may also hold an address in program memory: the
// low byte of its place in the page of constant data and strings. A pointer
// variable that may hold both kinds carries a tag byte beside it that says
// which (indirect_tag_pointers).
//
// Before code is selected, each statement is lowered so that it reads or
// writes through at most one pointer, and in one of two forms the patterns
// know: x = *a (any size: the bytes through INDF into x) and *a = v with v
// a variable or a constant. Other reads go to temporaries first; a compound
// assignment through a pointer reads, operates and writes back.
#include "kestrel.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Objects whose address escapes, in the order found: in RAM, and constant
// objects and strings in program memory.
static std::vector<cg_symbol *> escaping, rom_escaping;
static bool half_reported, rom_reported;

// The arguments of a variadic function are read through va_list pointers
// made from the address of its parameter block. When every such pointer
// value stays in pointer variables that hold nothing else and is only
// read through, stepped or passed on (the whole program is checked), those
// reads reach the parameter blocks and nothing else reaches them: the
// blocks then take no part in the choice between RAM and program memory
// that every other pointer read makes (so printf can read constant format
// strings), and the variables are the va_pointers.
static std::unordered_set<cg_symbol *> va_pointers;
static std::vector<cg_symbol *> va_blocks;
static bool va_trusted;

// What the pointer variables of the program may hold, followed from every
// value stored into them: addresses of RAM objects, of constant data in
// program memory, or values whose source is not followed (read from
// memory, returned by a call, made from an integer). A read through a
// variable that holds only one kind reads that kind, whatever other
// pointers hold; this is what lets one function read constant strings
// while another writes RAM buffers through pointers. Nothing is followed
// in a program with in-line assembly or calls into assembly modules, which
// may store into variables by name.
const unsigned PV_RAM = 1, PV_ROM = 2, PV_UNKNOWN = 4;
static std::unordered_map<cg_symbol *, unsigned> held;
static unsigned va_slot_kinds;   // what variadic arguments of pointer type hold
static bool values_followed;

// Pointer variables that may hold both kinds, with their tags (see
// indirect_tag_pointers).
static std::unordered_map<cg_symbol *, cg_symbol *> kind_tags;

// Constant objects with initial values and strings live in program
// memory; objects at a fixed address (the chip's registers among them), and
// constant objects without an initialiser (cleared RAM, warning 746), in RAM.
bool is_rom_object(cg_symbol *s)
{
    return (type_qualifiers(s->type) & Q_CONST) && !(s->flags & SF_ABSOLUTE) &&
           ((s->flags & SF_STRING) || (s->init_list && vec_count(s->init_list)));
}

static bool is_param_block(cg_symbol *s)
{
    return s && s->owner && s == s->owner->param_block;
}

// The node an address is derived from: through conversions, the pointer
// operand of + and -, and the variable of p += n, p++ and the like.
static tree_node *derived_base(tree_node *a)
{
    while (a) {
        switch (a->op) {
        case OP_CONV:
        case OP_ASG_ADD:
        case OP_ASG_SUB:
        case OP_POSTINC:
        case OP_POSTDEC:
            a = a->left;
            break;
        case OP_ADD:
        case OP_SUB:
            if (a->left && type_is(a->left->type, TY_POINTER))
                a = a->left;
            else if (a->op == OP_ADD && a->right && type_is(a->right->type, TY_POINTER))
                a = a->right;
            else
                return nullptr;
            break;
        default:
            return a;
        }
    }
    return nullptr;
}

// The object an address is computed from: &x, through conversions and the
// pointer operand of + and -.
cg_symbol *address_base(tree_node *a)
{
    tree_node *b = derived_base(a);
    // (an update's operand is a variable: never the address of an object)
    return b && b->op == OP_ADDR && b->left && b->left->op == OP_ID ? b->left->sym : nullptr;
}

// Whether the value of e points into a parameter block as a va_list does.
static bool va_value(tree_node *e)
{
    tree_node *b = derived_base(e);
    if (!b)
        return false;
    if (b->op == OP_ADDR && b->left && b->left->op == OP_ID)
        return is_param_block(b->left->sym);
    return b->op == OP_ID && va_pointers.count(b->sym);
}

static void escape(cg_symbol *s)
{
    if (s->flags & SF_ADDR_ESCAPES)
        return;
    s->flags |= SF_ADDR_ESCAPES;
    (is_rom_object(s) ? rom_escaping : escaping).push_back(s);
}

// The addresses below n: in base position (what a dereference adds its
// offset to) an address stays with its dereference; anywhere else its
// object escapes.
static void mark_escapes(tree_node *n, bool base)
{
    if (!n)
        return;
    if (n->op == OP_ADDR && n->left && n->left->op == OP_ID) {
        cg_symbol *s = n->left->sym;
        if (!base && va_trusted && is_param_block(s)) {
            if (!(s->flags & SF_ADDR_ESCAPES)) {
                s->flags |= SF_ADDR_ESCAPES;
                va_blocks.push_back(s);
            }
        } else if (!base && !sym_is_function(s)) {
            escape(s);
        }
        return;
    }
    switch (n->op) {
    case OP_DEREF:
        mark_escapes(n->left, true);
        return;
    case OP_CONV:
        mark_escapes(n->left, base);
        return;
    case OP_ADD:
    case OP_SUB: {
        bool left_ptr = n->left && type_is(n->left->type, TY_POINTER);
        bool right_ptr = n->op == OP_ADD && !left_ptr && n->right && type_is(n->right->type, TY_POINTER);
        mark_escapes(n->left, base && left_ptr);
        mark_escapes(n->right, base && right_ptr);
        return;
    }
    default:
        break;
    }
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        mark_escapes(n->left, false);
    if (arity == OA_BINARY)
        mark_escapes(n->right, false);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        mark_escapes((tree_node *)vec_get(n->args, i), false);
}

// ---------------------------------------------------------------------------
// va_list pointers
// ---------------------------------------------------------------------------
// The parameter a call passes its W argument to (the only argument a
// lowered call still carries).
static cg_symbol *w_parameter(tree_node *call)
{
    cg_symbol *f = call->call_target;
    if (!f || !f->params || !vec_count(f->params) || (call->left && call->left->op != OP_ID))
        return nullptr;
    return (cg_symbol *)vec_get(f->params, 0);
}

static void check_va_pointers(vector_t *functions);

static bool va_collect(tree_node *n)
{
    bool added = false;
    if (n->op == OP_ASSIGN && n->left && n->left->op == OP_ID && n->right && va_value(n->right))
        added |= va_pointers.insert(n->left->sym).second;
    if (n->op == OP_CALL && n->right && n->right->args && vec_count(n->right->args))
        if (cg_symbol *p = w_parameter(n); p && va_value((tree_node *)vec_get(n->right->args, 0)))
            added |= va_pointers.insert(p).second;
    int arity = op_arity((int)n->op);
    if ((arity == OA_UNARY || arity == OA_BINARY) && n->left)
        added |= va_collect(n->left);
    if (arity == OA_BINARY && n->right)
        added |= va_collect(n->right);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        added |= va_collect((tree_node *)vec_get(n->args, i));
    return added;
}

// Whether the va_list values below n are used only as they may be: read
// through (allowed: n is an address), stepped, stored into va_pointers and
// passed in W to a va_pointer parameter; and va_pointers get nothing else.
static bool va_uses_ok(tree_node *n, bool allowed)
{
    if (!n)
        return true;
    switch (n->op) {
    case OP_ID:
        return allowed || !va_pointers.count(n->sym);
    case OP_ADDR:
        if (n->left && n->left->op == OP_ID && va_pointers.count(n->left->sym))
            return false;   // the address of a va_list: where it goes is not followed
        return allowed || !(n->left && n->left->op == OP_ID && is_param_block(n->left->sym));
    case OP_DEREF:
        return va_uses_ok(n->left, true);
    case OP_ASSIGN:
        if (n->left && n->left->op == OP_ID) {
            bool into = va_pointers.count(n->left->sym) != 0;
            if (into && !va_value(n->right))
                return false;
            return va_uses_ok(n->right, into);
        }
        return va_uses_ok(n->left, false) && va_uses_ok(n->right, false);
    case OP_CONV:
        return va_uses_ok(n->left, allowed);
    case OP_ADD:
    case OP_SUB:
        if (n->left && type_is(n->left->type, TY_POINTER))
            return va_uses_ok(n->left, allowed) && va_uses_ok(n->right, false);
        return va_uses_ok(n->left, false) && va_uses_ok(n->right, allowed && n->op == OP_ADD);
    case OP_ASG_ADD:
    case OP_ASG_SUB:
    case OP_POSTINC:
    case OP_POSTDEC:
        if (n->left && n->left->op == OP_ID && va_pointers.count(n->left->sym))
            return va_uses_ok(n->right, false);
        break;
    case OP_CALL: {
        cg_symbol *p = w_parameter(n);
        bool ok = va_uses_ok(n->left, false);
        for (uint32_t i = 0; n->right && n->right->args && i < vec_count(n->right->args); i++) {
            tree_node *arg = (tree_node *)vec_get(n->right->args, i);
            bool into = i == 0 && p && va_pointers.count(p);
            if (into && !va_value(arg))
                return false;
            ok = ok && va_uses_ok(arg, into);
        }
        return ok;
    }
    default:
        break;
    }
    int arity = op_arity((int)n->op);
    bool ok = true;
    if (arity == OA_UNARY || arity == OA_BINARY)
        ok = va_uses_ok(n->left, false);
    if (arity == OA_BINARY)
        ok = ok && va_uses_ok(n->right, false);
    for (uint32_t i = 0; ok && n->args && i < vec_count(n->args); i++)
        ok = va_uses_ok((tree_node *)vec_get(n->args, i), false);
    return ok;
}

// ---------------------------------------------------------------------------
// what pointer variables hold
// ---------------------------------------------------------------------------
static bool followed_variable(cg_symbol *s)
{
    return s && type_is(s->type, TY_POINTER) && !(s->flags & (SF_ABSOLUTE | SF_FROM_ASM | SF_UNDEF)) &&
           !(type_qualifiers(s->type) & Q_VOLATILE) &&
           (s->storage == ST_AUTO || s->storage == ST_PARAM || s->storage == ST_STATIC || s->storage == ST_EXTERN);
}

// The kinds of object the pointer value e may point into.
static unsigned value_kinds(tree_node *e)
{
    tree_node *b = derived_base(e);
    if (!b)
        return PV_UNKNOWN;
    switch (b->op) {
    case OP_ADDR:
        if (!b->left || b->left->op != OP_ID || sym_is_function(b->left->sym))
            return PV_UNKNOWN;
        return is_rom_object(b->left->sym) ? PV_ROM : PV_RAM;
    case OP_STRING:
        return PV_ROM;
    case OP_CONST:
        return b->value == 0 ? 0 : PV_UNKNOWN;   // a null pointer points nowhere
    case OP_ID: {
        if (!followed_variable(b->sym) || b->value)
            return PV_UNKNOWN;
        auto it = held.find(b->sym);
        return it == held.end() ? 0 : it->second;
    }
    case OP_DEREF:   // a pointer passed as a variadic argument, read by va_arg
        return va_trusted && va_value(b->left) ? va_slot_kinds : PV_UNKNOWN;
    default:
        return PV_UNKNOWN;
    }
}

static bool hold(cg_symbol *s, unsigned kinds)
{
    unsigned &h = held[s];
    unsigned before = h;
    h |= kinds;
    return h != before;
}

static bool has_body(cg_symbol *f)
{
    return f->func && f->func->stmts;
}

// One pass over a statement; whether anything was added.
static bool follow_values(tree_node *n)
{
    bool added = false;
    if (n->op == OP_ASM)
        values_followed = false;
    if (n->op == OP_ASSIGN && n->left && n->left->op == OP_ID && n->right) {
        cg_symbol *s = n->left->sym;
        if ((s->flags & SF_VA_SLOT) && type_is(n->right->type, TY_POINTER)) {
            unsigned before = va_slot_kinds;
            va_slot_kinds |= value_kinds(n->right);
            added |= va_slot_kinds != before;
        } else if (followed_variable(s)) {
            unsigned kinds = n->left->value ? PV_UNKNOWN : value_kinds(n->right);
            added |= hold(s, kinds);
            // an argument block's slot: the stubs copy it into the parameter
            // of every function the call may reach
            vector_t *params = fpblock_slot_params(s);
            for (uint32_t i = 0; i < vec_count(params); i++)
                added |= hold((cg_symbol *)vec_get(params, i), kinds);
            vec_free(params);
        }
    }
    if (n->op == OP_ADDR && n->left && n->left->op == OP_ID && followed_variable(n->left->sym))
        added |= hold(n->left->sym, PV_UNKNOWN);   // stores through its address are not followed
    if (n->op == OP_CALL) {
        vector_t *args = n->right ? n->right->args : nullptr;
        tree_node *arg = args && vec_count(args) ? (tree_node *)vec_get(args, 0) : nullptr;
        if (n->left && n->left->op == OP_ID) {
            cg_symbol *f = n->call_target ? n->call_target : n->left->sym;
            if (f && !has_body(f) && strcmp(f->name, "__delay") != 0)
                values_followed = false;   // an assembly routine
            if (cg_symbol *p = w_parameter(n); arg && p && followed_variable(p))
                added |= hold(p, value_kinds(arg));
        } else if (arg) {
            vector_t *targets = pointed_functions();
            for (uint32_t i = 0; i < vec_count(targets); i++) {
                cg_symbol *f = (cg_symbol *)vec_get(targets, i);
                if (f->params && vec_count(f->params) && followed_variable((cg_symbol *)vec_get(f->params, 0)))
                    added |= hold((cg_symbol *)vec_get(f->params, 0), value_kinds(arg));
            }
        }
    }
    int arity = op_arity((int)n->op);
    if ((arity == OA_UNARY || arity == OA_BINARY) && n->left)
        added |= follow_values(n->left);
    if (arity == OA_BINARY && n->right)
        added |= follow_values(n->right);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        added |= follow_values((tree_node *)vec_get(n->args, i));
    return added;
}

// Global pointers start as their initialisers say: an address or null.
static void follow_initialisers(vector_t *globals)
{
    for (uint32_t i = 0; globals && i < vec_count(globals); i++) {
        cg_symbol *s = (cg_symbol *)vec_get(globals, i);
        if (!followed_variable(s))
            continue;
        if (s->init_list && vec_count(s->init_list) == 1)
            hold(s, value_kinds((tree_node *)vec_get(s->init_list, 0)));
        else if (s->init_value)
            hold(s, value_kinds(s->init_value));
        else if (s->init_list && vec_count(s->init_list))
            hold(s, PV_UNKNOWN);
    }
}

static void follow_pointer_values(vector_t *functions, vector_t *globals)
{
    held.clear();
    va_slot_kinds = 0;
    values_followed = true;
    follow_initialisers(globals);
    for (bool added = true; added && values_followed;) {
        added = false;
        for (uint32_t i = 0; i < vec_count(functions); i++) {
            cg_symbol *f = (cg_symbol *)vec_get(functions, i);
            for (uint32_t k = 0; has_body(f) && k < vec_count(f->func->stmts); k++)
                added |= follow_values((tree_node *)vec_get(f->func->stmts, k));
        }
    }
}

// The pointer variable an address is read through, when what it holds is
// followed: its kinds (PV_*), else PV_UNKNOWN.
static unsigned followed_kinds(tree_node *address, cg_symbol **variable)
{
    if (!values_followed)
        return PV_UNKNOWN;
    tree_node *b = derived_base(address);
    *variable = b && b->op == OP_ID ? b->sym : nullptr;
    return value_kinds(address);
}

void indirect_follow_pointers(vector_t *functions, vector_t *globals)
{
    check_va_pointers(functions);
    follow_pointer_values(functions, globals);
}

// ---------------------------------------------------------------------------
// pointers that hold both kinds
// ---------------------------------------------------------------------------
// A pointer variable of a function's frame whose values are all followed
// and include addresses of both kinds keeps its one byte, the low byte of
// the address as every data pointer, and gets a tag: a byte of its
// function's auto block that is 1 while it holds an address of constant
// data and 0 while it holds a RAM address. A store into the variable
// stores the tag after it (a constant when the value's kind is known, else
// the tag of the variable the value comes from); a call stores the tag of
// the parameter it passes in W just before it, as the other arguments are
// stored; a read through the variable tests the tag and reads program
// memory through the table of retlw bytes or RAM through FSR (wide.cpp).
// What the tag cannot follow is refused: writes through such a pointer
// (constant data cannot be written), comparisons for equality with another
// pointer (the low bytes of two addresses of different kinds may be
// equal), copies of objects through it, stores of it into a variable that
// is not tagged (its kind is lost), and values of both kinds that come from
// no tagged variable (variadic arguments, globals).
static bool taggable(cg_symbol *v, const std::unordered_set<cg_symbol *> &untaggable)
{
    return (v->storage == ST_AUTO || v->storage == ST_PARAM) && v->owner && v->owner->func &&
           !(v->owner->flags & SF_REENTRANT) && !untaggable.count(v);
}

// Parameters that get values by ways the tags do not follow: the first
// parameter of functions called through pointers, and the parameters the
// stubs copy argument-block slots into (every node is looked at: the test
// finds nothing).
static bool collect_untaggable(void *ctx, tree_node *n)
{
    auto &out = *(std::unordered_set<cg_symbol *> *)ctx;
    if (n->op == OP_CALL && !(n->left && n->left->op == OP_ID)) {
        vector_t *targets = pointed_functions();
        for (uint32_t i = 0; i < vec_count(targets); i++) {
            cg_symbol *f = (cg_symbol *)vec_get(targets, i);
            if (f->params && vec_count(f->params))
                out.insert((cg_symbol *)vec_get(f->params, 0));
        }
    }
    if (n->op == OP_ASSIGN && n->left && n->left->op == OP_ID) {
        vector_t *params = fpblock_slot_params(n->left->sym);
        for (uint32_t i = 0; i < vec_count(params); i++)
            out.insert((cg_symbol *)vec_get(params, i));
        vec_free(params);
    }
    return false;
}

static cg_symbol *tag_of_value(tree_node *v)
{
    tree_node *b = derived_base(v);
    if (!b || b->op != OP_ID || b->value)
        return nullptr;
    auto it = kind_tags.find(b->sym);
    return it == kind_tags.end() ? nullptr : it->second;
}

cg_symbol *indirect_kind_tag(tree_node *address)
{
    if (!values_followed || address_base(address) || (va_trusted && va_value(address)))
        return nullptr;
    return tag_of_value(address);
}

static const char *source_name(cg_symbol *s)
{
    if (s && (s->flags & SF_STRING))
        return "(a string constant)";
    const char *name = s && s->src_name ? s->src_name : "";
    return *name == '_' ? name + 1 : *name ? name : "?";
}

static cg_symbol *checked_function;   // whose statements are looked at

static void refuse_at(tree_node *n, unsigned number, const char *what, cg_symbol *variable)
{
    if (checked_function)
        sym_set_position(checked_function);
    if (n->line)
        cur_line = n->line;
    if (number == 1691)
        msg_report(number, source_name(variable), what);
    else
        msg_report(number, source_name(variable));
}

// The statement storing into `tag` the kind of the pointer value v (null
// when nothing is to be stored: v is the tagged variable's own value).
static tree_node *tag_store(cg_symbol *tag, tree_node *v, cg_symbol *into, tree_node *where)
{
    unsigned kinds = value_kinds(v);
    tree_node *value;
    if (kinds == (PV_ROM | PV_RAM)) {
        cg_symbol *from = tag_of_value(v);
        if (from == tag)
            return nullptr;
        if (!from) {
            refuse_at(where, 1541, nullptr, into);
            return nullptr;
        }
        value = node_new_id(from);
    } else {
        value = node_new_const(kinds == PV_ROM ? 1 : 0);
        value->type = tag->type;
    }
    tree_node *s = node_make(OP_ASSIGN, node_new_id(tag), value);
    s->type = tag->type;
    s->file = where->file;
    s->line = where->line;
    return s;
}

static bool is_pointer_node(tree_node *n)
{
    return n && type_is(n->type, TY_POINTER);
}

// Whether a store through the address may reach constant data, as far as
// what the pointer holds is followed (a named variable or object).
static cg_symbol *writes_rom(tree_node *address)
{
    if (cg_symbol *base = address_base(address))
        return is_rom_object(base) ? base : nullptr;
    tree_node *b = derived_base(address);
    if (!b || b->op != OP_ID || !b->sym)
        return nullptr;
    unsigned kinds = value_kinds(address);
    return !(kinds & PV_UNKNOWN) && (kinds & PV_ROM) ? b->sym : nullptr;
}

// What a statement does with tagged pointers that the tags cannot follow,
// and stores through pointers that may hold constant data.
static void check_tagged_uses(tree_node *n, tree_node *top)
{
    if (!n)
        return;
    bool store = n->op == OP_ASSIGN || n->op == OP_POSTINC || n->op == OP_POSTDEC ||
                 (n->op >= OP_ASG_MOD && n->op <= OP_ASG_OR && n->op != OP_EQ);
    if (store && n->left) {
        tree_node *d = n->left->op == OP_BITFIELD ? n->left->left : n->left;
        if (cg_symbol *v = d && d->op == OP_DEREF && d->left ? writes_rom(d->left) : nullptr)
            refuse_at(top, 1690, nullptr, v);
        if (n->op == OP_ASSIGN && n->left->op == OP_ID && kind_tags.count(n->left->sym) && n != top)
            refuse_at(top, 1691, "a store into it inside an expression", n->left->sym);
        if (n->op == OP_ASSIGN && n->left->op == OP_DEREF && n->right && n->right->op == OP_DEREF &&
            n->right->left && indirect_kind_tag(n->right->left))
            refuse_at(top, 1691, "a copy of an object through it", derived_base(n->right->left)->sym);
    }
    if (n->op == OP_ASSIGN && n->right && is_pointer_node(n->right) && tag_of_value(n->right) &&
        !(n->left && n->left->op == OP_ID && !n->left->value && kind_tags.count(n->left->sym)))
        refuse_at(top, 1691, "its value stored where its kind is not kept", derived_base(n->right)->sym);
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        check_tagged_uses(n->left, top);
    if (arity == OA_BINARY)
        check_tagged_uses(n->right, top);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        check_tagged_uses((tree_node *)vec_get(n->args, i), top);
}

// The kind a pointer value has as a byte expression: the tag of its
// variable, or a constant; null when it is not known.
static tree_node *kind_value(tree_node *v, type_desc *byte)
{
    if (cg_symbol *tag = tag_of_value(v))
        return node_new_id(tag);
    unsigned kinds = value_kinds(v);
    if (kinds & PV_UNKNOWN || kinds == (PV_ROM | PV_RAM))
        return nullptr;
    return node_new_const_typed(kinds == PV_ROM ? 1 : 0, byte);
}

static bool is_null(tree_node *v)
{
    while (v && v->op == OP_CONV)
        v = v->left;
    return v && v->op == OP_CONST && v->value == 0;
}

// a == b with a tagged: equal addresses of the same kind; (a == b) && (the
// kinds are equal), and != the other way round. Whether anything changed.
static bool compare_kinds_too(tree_node *n, tree_node *top)
{
    if (!n)
        return false;
    bool changed = false;
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        changed |= compare_kinds_too(n->left, top);
    if (arity == OA_BINARY)
        changed |= compare_kinds_too(n->right, top);
    if ((n->op != OP_EQ && n->op != OP_NE) || !is_pointer_node(n->left) || !is_pointer_node(n->right) ||
        (!tag_of_value(n->left) && !tag_of_value(n->right)) || is_null(n->left) || is_null(n->right))
        return changed;
    type_desc *byte = smallest_type_for(0, false);
    tree_node *ka = kind_value(n->left, byte), *kb = kind_value(n->right, byte);
    if (!ka || !kb) {
        refuse_at(top, 1691, "a comparison for equality with a pointer of a kind not known",
                  derived_base(tag_of_value(n->left) ? n->left : n->right)->sym);
        return changed;
    }
    ka->type = kb->type = byte;
    tree_node *same = node_make((int)n->op, n->left, n->right);
    same->type = n->type;
    tree_node *kinds = node_make((int)n->op, ka, kb);
    kinds->type = n->type;
    n->op = n->op == OP_EQ ? OP_ANDAND : OP_OROR;
    n->left = same;
    n->right = kinds;
    return true;
}

static bool is_call_node(void *, tree_node *n)
{
    return n->op == OP_CALL;
}

void indirect_tag_pointers(vector_t *functions)
{
    kind_tags.clear();
    if (!values_followed)
        return;
    std::unordered_set<cg_symbol *> untaggable;
    for (uint32_t i = 0; i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        for (uint32_t k = 0; has_body(f) && k < vec_count(f->func->stmts); k++)
            tree_find((tree_node *)vec_get(f->func->stmts, k), &untaggable, collect_untaggable);
    }
    std::vector<cg_symbol *> mixed;
    for (auto &[v, kinds] : held)
        if (kinds == (PV_ROM | PV_RAM) && taggable(v, untaggable))
            mixed.push_back(v);
    std::sort(mixed.begin(), mixed.end(), [](cg_symbol *a, cg_symbol *b) { return a->number < b->number; });
    type_desc *byte = smallest_type_for(0, false);
    for (cg_symbol *v : mixed) {
        cg_symbol *f = v->owner;
        cg_symbol *t = sym_new(str_printf("%s$rom", v->name).c_str());
        t->cls = 'F';
        t->storage = ST_AUTO;
        t->type = byte;
        t->owner = f;
        t->level = 2;
        t->flags |= SF_INTERNAL | SF_NODEBUG | SF_WRITTEN;
        if (!f->autos)
            f->autos = vec_new(4);
        vec_push(f->autos, t);
        kind_tags[v] = t;
    }
    for (uint32_t i = 0; i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        if (!has_body(f))
            continue;
        checked_function = f;
        vector_t *stmts = f->func->stmts;
        vector_t *out = vec_new(vec_count(stmts) + 8);
        for (uint32_t k = 0; k < vec_count(stmts); k++) {
            tree_node *s = (tree_node *)vec_get(stmts, k);
            if (!kind_tags.empty() && compare_kinds_too(s, s)) {
                check_tagged_uses(s, s);
                current_function = f;
                lower_statement_into(s, out);
                current_function = nullptr;
                continue;
            }
            check_tagged_uses(s, s);
            if (tree_node *call = tree_find(s, nullptr, is_call_node); call && call->left && call->left->op == OP_ID) {
                cg_symbol *p = w_parameter(call);
                vector_t *args = call->right ? call->right->args : nullptr;
                tree_node *arg = args && vec_count(args) ? (tree_node *)vec_get(args, 0) : nullptr;
                if (p && arg && kind_tags.count(p))
                    if (tree_node *t = tag_store(kind_tags[p], arg, p, s))
                        vec_push(out, t);
            }
            vec_push(out, s);
            if (s->op == OP_ASSIGN && s->left && s->left->op == OP_ID && !s->left->value &&
                kind_tags.count(s->left->sym) && s->right)
                if (tree_node *t = tag_store(kind_tags[s->left->sym], s->right, s->left->sym, s))
                    vec_push(out, t);
        }
        f->func->stmts = out;
        vec_free(stmts);
    }
    checked_function = nullptr;
}

static void check_va_pointers(vector_t *functions)
{
    va_pointers.clear();
    for (bool added = true; added;) {
        added = false;
        for (uint32_t i = 0; i < vec_count(functions); i++) {
            cg_symbol *f = (cg_symbol *)vec_get(functions, i);
            for (uint32_t k = 0; f->func && f->func->stmts && k < vec_count(f->func->stmts); k++)
                added |= va_collect((tree_node *)vec_get(f->func->stmts, k));
        }
    }
    va_trusted = true;
    for (uint32_t i = 0; va_trusted && i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        for (uint32_t k = 0; va_trusted && f->func && f->func->stmts && k < vec_count(f->func->stmts); k++)
            va_trusted = va_uses_ok((tree_node *)vec_get(f->func->stmts, k), false);
    }
    // a va_pointer that is a global or lives at an address is reached in
    // ways not followed here
    for (cg_symbol *p : va_pointers)
        if (!(p->storage == ST_AUTO || p->storage == ST_PARAM) || (p->flags & SF_ABSOLUTE))
            va_trusted = false;
}

// Whether a function reads a table of retlw words (a level of the stack on
// the 12-bit cores) is known for reads through pointer variables only once
// what they hold is followed and the escaping objects are marked: the
// statements are looked at again then.
static bool reads_table(void *, tree_node *n)
{
    return n->op == OP_DEREF && n->left && indirect_reads_rom(n->left);
}

void indirect_note_table_reads(vector_t *functions)
{
    for (uint32_t i = 0; i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        for (uint32_t k = 0; has_body(f) && !f->func->reads_tables && k < vec_count(f->func->stmts); k++)
            f->func->reads_tables = tree_find((tree_node *)vec_get(f->func->stmts, k), nullptr, reads_table);
    }
}

void indirect_mark_escapes(cg_symbol *f)
{
    for (uint32_t i = 0; i < vec_count(f->func->stmts); i++)
        mark_escapes((tree_node *)vec_get(f->func->stmts, i), false);
}

void indirect_note_escape(cg_symbol *s)
{
    escape(s);
}

bool indirect_any_escapes()
{
    return !escaping.empty() || !va_blocks.empty();
}

bool indirect_frame_escapes()
{
    if (!va_blocks.empty())
        return true;
    for (cg_symbol *s : escaping)
        if (sym_in_frame(s))
            return true;
    return false;
}

// The half of the banks an object lies in: 0 or 1; -1 for common memory
// (reached from both) and for an object not placed yet.
static int half_of(cg_symbol *s)
{
    if (s->flags & SF_ABSOLUTE) {
        int bank = bank_of_symbol(s);
        return bank == BANK_COMMON ? -1 : (int)((s->address >> 8) & 1);
    }
    int bank = bank_of_symbol(s);
    return bank < 0 ? -1 : bank >> 1;
}

// The half every pointer that is not computed from one object reaches.
static int escaping_half()
{
    int half = -1;
    std::vector<cg_symbol *> all(escaping);
    all.insert(all.end(), va_blocks.begin(), va_blocks.end());
    for (cg_symbol *s : all) {
        int h = half_of(s);
        if (h < 0)
            continue;
        if (half >= 0 && h != half) {
            if (cg_phase >= 4 && !half_reported) {
                half_reported = true;
                msg_report(1491, sym_asm_name(s));
            }
            return half;
        }
        half = h;
    }
    return half;
}

void indirect_select_half(tree_node *address)
{
    if (chip.banks <= 2 || chip.family == 1)   // all of RAM lies below 0x100: IRP stays clear
        return;
    cg_symbol *base = address_base(address);
    int half = base ? half_of(base) : escaping_half();
    irp_select(half < 0 ? 0 : half);
}

// The bank of every object an address may reach: BANK_COMMON when all lie
// in common memory, BANK_NONE when they lie in more than one bank.
int indirect_target_bank(tree_node *address)
{
    std::vector<cg_symbol *> one;
    if (cg_symbol *base = address_base(address))
        one.push_back(base);
    else if (va_trusted && va_value(address))
        one = va_blocks;
    const std::vector<cg_symbol *> &targets = one.empty() ? escaping : one;
    int bank = BANK_COMMON;
    for (cg_symbol *s : targets) {
        int b = bank_of_symbol(s);
        if (b == BANK_COMMON)
            continue;
        if (b < 0 || (bank != BANK_COMMON && b != bank))
            return BANK_NONE;
        bank = b;
    }
    return targets.empty() ? BANK_NONE : bank;
}

// Whether a read through the address goes to program memory: an address
// computed from a constant object does; a pointer value reaches whatever
// kind of object has its address taken, and when both kinds do, which one
// a pointer holds is not known: the program is refused (1493).
bool indirect_reads_rom(tree_node *address)
{
    if (cg_symbol *base = address_base(address))
        return is_rom_object(base);
    if (va_trusted && va_value(address))
        return false;
    cg_symbol *variable = nullptr;
    unsigned kinds = followed_kinds(address, &variable);
    if (!(kinds & PV_UNKNOWN)) {
        if (kinds == (PV_ROM | PV_RAM) && variable && kind_tags.count(variable))
            return true;   // the read tests the tag: constant data is its first way
        if (kinds == (PV_ROM | PV_RAM) && cg_phase >= 4 && !rom_reported) {
            rom_reported = true;
            if (address->file)
                cur_file = address->file;
            if (address->line)
                cur_line = address->line;
            const char *name = variable && variable->src_name ? variable->src_name : "";
            msg_report(1541, *name == '_' ? name + 1 : *name ? name : "?");
        }
        return kinds == PV_ROM;
    }
    if (rom_escaping.empty())
        return false;
    if (escaping.empty())
        return true;
    if (cg_phase >= 4 && !rom_reported) {
        rom_reported = true;
        if (address->file)
            cur_file = address->file;
        if (address->line)
            cur_line = address->line;
        msg_report(1493, sym_asm_name(rom_escaping.front()), sym_asm_name(escaping.front()));
    }
    return false;
}

void indirect_reset()
{
    kind_tags.clear();
    va_pointers.clear();
    va_trusted = false;
    held.clear();
    va_slot_kinds = 0;
    values_followed = false;
    for (std::vector<cg_symbol *> *list : {&escaping, &rom_escaping, &va_blocks}) {
        for (cg_symbol *s : *list)
            s->flags &= ~SF_ADDR_ESCAPES;
        list->clear();
    }
    half_reported = rom_reported = false;
}
