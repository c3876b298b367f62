// The initial values of static objects, as bytes: the image the start-up
// code copies into RAM, and the tables of constant objects.
//
// The initialiser is a list of values and braces ("{" a label node, "}" an
// empty node) walked against the object's type as C does: an array takes
// its elements in order, a structure its members (a union its first), a
// brace opens the next sub-object, and without one a sub-object takes as
// many values as it has scalars. Bit-fields of one byte are packed into
// it; padding and values not given are zero bytes.
#include "kestrel.h"
#include "select.h"

namespace {

// Set while an image is made only to read a value from it: the messages
// belong to the run that writes the object.
bool quiet;

void complain(unsigned n)
{
    if (!quiet)
        msg_report(n);
}

struct init_walk {
    vector_t *list;
    uint32_t pos = 0;
    std::vector<uint32_t> values;   // byte values
    std::vector<std::string> texts; // a byte the linker fills in (an address), else empty
    bool bad = false;
};

tree_node *peek(init_walk &w)
{
    return w.pos < vec_count(w.list) ? (tree_node *)vec_get(w.list, w.pos) : nullptr;
}

bool is_open(tree_node *t)
{
    return t && t->op == OP_LABEL;
}

bool is_close(tree_node *t)
{
    return t && t->op == OP_EMPTY;
}

// Past the rest of a braced group (its own nested groups included) and its
// closing brace.
void skip_group(init_walk &w)
{
    for (int depth = 1; peek(w) && depth > 0; w.pos++) {
        if (is_open(peek(w)))
            depth++;
        else if (is_close(peek(w)))
            depth--;
    }
}

// The address an initialiser names: &x, &x + k, through conversions.
bool address_value(tree_node *t, cg_symbol **sym, long *offset)
{
    *offset = 0;
    while (t && t->op == OP_CONV)
        t = t->left;
    if (t && t->op == OP_ADD && t->right && t->right->op == OP_CONST) {
        *offset = t->right->value;
        t = t->left;
        while (t && t->op == OP_CONV)
            t = t->left;
    }
    if (!t || t->op != OP_ADDR || !t->left || t->left->op != OP_ID)
        return false;
    *sym = t->left->sym;
    *offset += t->left->value;
    return true;
}

// One scalar value of the given size at offset.
void put_scalar(init_walk &w, tree_node *raw, uint32_t size, uint32_t offset)
{
    tree_node *t = tree_simplify(tree_copy(raw));
    if (t->op == OP_CONV && t->left && (t->left->op == OP_CONST || t->left->op == OP_FCONST) &&
        type_arith_class(type_unqualify(t->type)) != AR_FLOAT)
        t = t->left;
    cg_symbol *target;
    long k;
    if (t->op == OP_CONST || t->op == OP_FCONST) {
        uint32_t v = t->op == OP_FCONST ? float_bits(t->fvalue, (int)size) : (uint32_t)t->value;
        for (uint32_t i = 0; i < size && offset + i < w.values.size(); i++)
            w.values[offset + i] = i < 4 ? (v >> (8 * i)) & 0xFF : ((int32_t)v < 0 ? 0xFF : 0);
    } else if (address_value(t, &target, &k) && size == 1 && sym_is_function(target) && !k) {
        w.texts[offset] = std::string("low(fp") + sym_asm_name(target) + ")";   // its dispatch stub
    } else if (address_value(t, &target, &k) && size == 1 && !sym_is_function(target)) {
        std::string name = sym_asm_name(target);
        if (k)
            name += (k > 0 ? "+" : "") + std::to_string(k);
        w.texts[offset] = "low(" + name + ")";
        indirect_note_escape(target);
    } else {
        complain(713);
        w.bad = true;
    }
    tree_free(t);
}

void init_object(init_walk &w, type_desc *t, uint32_t offset, bool element = false);

// A bit-field's value into its byte.
void put_field(init_walk &w, cg_symbol *m, uint32_t offset)
{
    tree_node *t = peek(w);
    bool braced = is_open(t);
    if (braced) {
        w.pos++;
        t = peek(w);
    }
    if (!t || is_close(t) || is_open(t)) {
        complain(713);
        w.bad = true;
        return;
    }
    w.pos++;
    tree_node *v = tree_simplify(tree_copy(t));
    while (v->op == OP_CONV && v->left)
        v = v->left;
    if (v->op != OP_CONST) {
        complain(713);
        w.bad = true;
    } else {
        uint32_t mask = m->bit_width >= 32 ? ~0u : (1u << m->bit_width) - 1;
        uint32_t bits = ((uint32_t)v->value & mask) << m->bit_offset;
        for (uint32_t i = 0; i < 4 && offset + m->offset + i < w.values.size(); i++)
            w.values[offset + m->offset + i] |= (bits >> (8 * i)) & 0xFF;
    }
    tree_free(v);
    if (braced) {
        if (!is_close(peek(w))) {
            complain(240);
            w.bad = true;
        }
        skip_group(w);
    }
}

// The sub-objects of an aggregate, until the values or the group end.
void init_aggregate(init_walk &w, type_desc *t, uint32_t offset)
{
    t = type_unqualify(t);
    if (t->kind == TY_ARRAY) {
        type_desc *e = t->sub;
        uint32_t esize = type_size(e);
        for (uint32_t i = 0; i < t->count && peek(w) && !is_close(peek(w)); i++)
            init_object(w, e, offset + i * esize, true);
        return;
    }
    vector_t *members = t->tag ? t->tag->members : nullptr;
    uint32_t n = members ? vec_count(members) : 0;
    if (t->is_union && n > 1)
        n = 1;
    for (uint32_t i = 0; i < n && peek(w) && !is_close(peek(w)); i++) {
        cg_symbol *m = (cg_symbol *)vec_get(members, i);
        if (m->is_bitfield)
            put_field(w, m, offset);
        else
            init_object(w, m->type, offset + m->offset);
    }
}

// A structure's value comes in two braces, except as an array's element
// (the front end writes every brace, elided or not, that way).
void init_object(init_walk &w, type_desc *t, uint32_t offset, bool element)
{
    tree_node *v = peek(w);
    if (!v)
        return;
    if (is_open(v)) {
        int braces = 1;
        if (type_is(t, TY_STRUCT) && !element && w.pos + 1 < vec_count(w.list) &&
            is_open((tree_node *)vec_get(w.list, w.pos + 1)))
            braces = 2;
        w.pos += braces;
        if (type_is_aggregate(t) && !type_is(t, TY_ENUM))
            init_aggregate(w, t, offset);
        else if (peek(w) && !is_close(peek(w)))
            init_object(w, t, offset);
        for (int b = 0; b < braces; b++) {
            if (!is_close(peek(w)) && !w.bad) {
                complain(240);
                w.bad = true;
            }
            skip_group(w);
        }
        return;
    }
    if (is_close(v))
        return;
    if (type_is_aggregate(t) && !type_is(t, TY_ENUM)) {
        init_aggregate(w, t, offset);   // without braces: as many values as it takes
        return;
    }
    w.pos++;
    put_scalar(w, v, type_size(t), offset);
}

} // namespace

bool data_image(cg_symbol *s, std::vector<std::string> *bytes, bool silent)
{
    quiet = silent;
    bytes->clear();
    type_desc *t = type_unqualify(s->type);
    if (t && t->kind == TY_BASIC && t->arith == AR_BIT) {
        complain(732);
        return false;
    }
    init_walk w;
    w.list = s->init_list;
    uint32_t size = type_size(s->type);
    w.values.assign(size, 0);
    w.texts.assign(size, std::string());
    init_object(w, s->type, 0);
    if (peek(w)) {   // values left over at the outer level
        complain(240);
        w.bad = true;
    }
    for (uint32_t i = 0; i < size; i++)
        bytes->push_back(w.texts[i].empty() ? std::to_string(w.values[i]) : w.texts[i]);
    return !w.bad;
}
