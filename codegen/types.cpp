// Type descriptors: the basic type and qualifier tables, derived types, the
// parser of the intermediate code's type strings, sizes, structure layout and
// type equality.
//
// A type is a chain of levels from the outside in: pointer, function, array
// and qualified levels over a basic type, a structure or an enumeration.
// Basic types are symbols of class 'N' named by the letters the intermediate
// code uses ("i", "uc", ...), so a type string's base is found by a symbol
// lookup like a typedef name. Structures are laid out when their size is
// first needed: members packed without padding, bit-fields packed into bytes
// from bit 0.
#include "kestrel.h"

#include <cctype>
#include <cstring>
#include <string>

// name   size arith          (the order is the table's; sizes of f and d change with IEEE modes)
basic_type basic_types[18] = {
    {"i", 2, AR_SIGNED},   {"s", 2, AR_SIGNED},    {"c", 1, AR_SIGNED},    {"l", 4, AR_SIGNED},
    {"ui", 2, AR_UNSIGNED}, {"us", 2, AR_UNSIGNED}, {"uc", 1, AR_UNSIGNED}, {"ul", 4, AR_UNSIGNED},
    {"f", 3, AR_FLOAT},    {"d", 3, AR_FLOAT},     {"x", 2, AR_SIGNED},    {"ux", 2, AR_UNSIGNED},
    {"nx", 1, AR_SIGNED},  {"unx", 1, AR_UNSIGNED}, {"b", 0, AR_BIT},       {"v", 0, AR_VOID},
    {"m", 3, AR_SIGNED},   {"um", 3, AR_UNSIGNED},
};

// word          letter bit
const qualifier_row qualifier_table[13] = {
    {"const",      'D', Q_CONST},    {"volatile",   'V', Q_VOLATILE}, {"far",      'F', Q_FAR},
    {"near",       'N', Q_NEAR},     {"interrupt",  'I', Q_INTERRUPT}, {"persistent", 'S', Q_PERSISTENT},
    {"control",    'W', Q_CONTROL},  {"bank0",      'P', Q_BANK0},    {"bank1",    'X', Q_BANK1},
    {"bank2",      'Y', Q_BANK2},    {"bank3",      'Z', Q_BANK3},    {"fastcall", 'T', Q_FASTCALL},
    {"const",      'C', Q_CONST},
};

// The type descriptors of the basic type table, in its order.
static type_desc *basic_descs[18];
// Set once the pointer targets are propagated: new pointers start at size 1.
int pointer_analysis_done;
// Structure packing value ("p" pragma); always 0, so no padding.
int struct_packing;

uint32_t qual_by_letter(char letter)
{
    for (const qualifier_row &q : qualifier_table)
        if (q.letter == letter)
            return q.bit;
    return 0;
}

type_desc *type_new(int kind)
{
    type_desc *t = (type_desc *)xmalloc(sizeof(type_desc));
    t->kind = kind;
    return t;
}

void types_init()
{
    for (int i = 0; i < 18; i++) {
        type_desc *t = type_new(TY_BASIC);
        t->name = basic_types[i].name;
        t->size = basic_types[i].size;
        t->arith = basic_types[i].arith;
        basic_descs[i] = t;
        cg_symbol *s = sym_lookup(t->name);
        s->cls = 'N';
        s->storage = ST_TYPEDEF;
        s->type = t;
        s->flags |= SF_BUILTIN;
    }
    pointer_analysis_done = 0;
    struct_packing = 0;
}

type_desc *basic_type_named(const char *name)
{
    for (int i = 0; i < 18; i++)
        if (!strcmp(basic_types[i].name, name))
            return basic_descs[i];
    return nullptr;
}

type_desc *basic_type_by(uint32_t size, int arith)
{
    for (int i = 0; i < 18; i++)
        if (basic_descs[i]->size == size && basic_descs[i]->arith == arith)
            return basic_descs[i];
    return nullptr;
}

uint32_t basic_align_for_size(uint32_t size)
{
    uint32_t a = 0;
    for (int i = 0; i < 18; i++)
        if (basic_descs[i]->size == size && basic_descs[i]->align > a)
            a = basic_descs[i]->align;
    return a;
}

type_desc *smallest_type_for(long value, bool is_signed)
{
    type_desc *best = nullptr;
    for (int i = 0; i < 18; i++) {
        type_desc *t = basic_descs[i];
        int want = is_signed ? AR_SIGNED : AR_UNSIGNED;
        if (t->arith != want || !t->size || t->size > 4 || (best && best->size <= t->size))
            continue;
        int bits = (int)t->size * 8;
        long long lo = is_signed ? -(1LL << (bits - 1)) : 0;
        long long hi = is_signed ? (1LL << (bits - 1)) - 1 : (1LL << bits) - 1;
        if (value >= lo && value <= hi)
            best = t;
    }
    return best;
}

type_desc *type_derive(type_desc *base, int kind)
{
    type_desc *t;
    switch (kind) {
    case TY_POINTER:
        t = type_new(TY_POINTER);
        t->sub = base;
        if (type_is(base, TY_FUNCTION)) {
            t->ptr_flags = PTR_TO_FUNCTION;
            t->size = 1;
        } else {
            // a data pointer is one byte: its targets lie in one half of
            // the banks (the IRP bit comes from the targets), or in the
            // page of constant data
            t->size = 1;
        }
        return t;
    case TY_FUNCTION:
        t = type_new(TY_FUNCTION);
        t->sub = base;
        t->params = vec_new(4);
        return t;
    case TY_ARRAY:
        t = type_new(TY_ARRAY);
        t->sub = base;
        return type_qualify(t, type_qualifiers(base));
    case TY_QUALIFIED:
        t = type_new(TY_QUALIFIED);
        t->sub = base;
        return t;
    default:
        cg_fatal(1094);
    }
}

type_desc *type_unqualify(type_desc *t)
{
    while (t && t->kind == TY_QUALIFIED)
        t = t->sub;
    return t;
}

uint32_t type_qualifiers(type_desc *t)
{
    return t && t->kind == TY_QUALIFIED ? t->quals : 0;
}

type_desc *type_qualify(type_desc *t, uint32_t bits)
{
    uint32_t old = type_qualifiers(t);
    if (!bits || (old & bits) == bits)
        return t;
    type_desc *q = type_derive(type_unqualify(t), TY_QUALIFIED);
    q->quals = old | bits;
    return q;
}

type_desc *typeSub(type_desc *t)
{
    t = type_unqualify(t);
    if (!t || t->kind > TY_ARRAY)
        cg_fatal(1095);
    return t->sub;
}

type_desc *type_innermost(type_desc *t)
{
    while (t && t->sub)
        t = t->sub;
    return t;
}

bool type_is(type_desc *t, int kind)
{
    t = type_unqualify(t);
    return t && t->kind == kind;
}

bool type_is_integer(type_desc *t)
{
    t = type_unqualify(t);
    if (!t)
        return false;
    if (t->kind == TY_ENUM)
        return true;
    return t->kind == TY_BASIC && (t->arith == AR_SIGNED || t->arith == AR_UNSIGNED || t->arith == AR_BIT);
}

bool type_is_aggregate(type_desc *t)
{
    t = type_unqualify(t);
    return t && (t->kind == TY_ARRAY || t->kind == TY_STRUCT || t->kind == TY_ENUM);
}

int type_arith_class(type_desc *t)
{
    if (!t)
        return AR_VOID;
    if (t->kind == TY_QUALIFIED)
        cg_fatal(1096);
    if (t->kind == TY_POINTER)
        return AR_UNSIGNED;
    return t->arith;
}

// Rounds a running size up with an alignment mask, limited by the packing.
static uint32_t align_up(uint32_t size, uint32_t mask)
{
    if (struct_packing && mask > (uint32_t)struct_packing - 1)
        mask = (uint32_t)struct_packing - 1;
    if (!struct_packing)
        mask = 0;
    return (size + mask) & ~mask;
}

// Places a structure's bit-field member in the running byte.
static void place_bitfield(cg_symbol *m, uint32_t &run, int &bits)
{
    int w = m->bit_width;
    if (w > 8) {
        msg_report(741, w);
        w = 8;
    }
    if (bits && (w == 0 || bits + w > 8)) {
        run++;
        bits = 0;
    }
    m->offset = run;
    m->bit_offset = bits;
    bits += w;
    if (bits == 8) {
        run++;
        bits = 0;
    }
}

void struct_layout(type_desc *t)
{
    if (t->laid_out)
        return;
    t->laid_out = true;
    vector_t *members = t->tag ? t->tag->members : nullptr;
    uint32_t run = 0;
    int bits = 0;
    for (uint32_t i = 0; members && i < vec_count(members); i++) {
        cg_symbol *m = (cg_symbol *)vec_get(members, i);
        if (t->is_union) {
            uint32_t sz = m->is_bitfield ? 1 : type_size(m->type);
            if (m->is_bitfield && m->bit_width > 8)
                msg_report(741, m->bit_width);
            m->offset = 0;
            m->bit_offset = 0;
            if (sz > run)
                run = sz;
            continue;
        }
        if (m->is_bitfield) {
            place_bitfield(m, run, bits);
            continue;
        }
        if (bits) {
            run++;
            bits = 0;
        }
        m->offset = align_up(run, type_align_mask(m->type));
        run = m->offset + type_size(m->type);
    }
    t->size = align_up(run + (bits ? 1 : 0), 0);
}

uint32_t type_size(type_desc *t)
{
    if (!t)
        return 0;
    switch (t->kind) {
    case TY_POINTER:
    case TY_BASIC:
    case TY_ENUM:
        return t->size;
    case TY_FUNCTION:
        return type_size(t->sub);
    case TY_ARRAY:
        return type_size(type_unqualify(t->sub)) * t->count;
    case TY_STRUCT:
        struct_layout(t);
        return t->size;
    case TY_QUALIFIED:
        return type_size(t->sub);
    default:
        cg_fatal(1104);
    }
}

uint32_t type_align_mask(type_desc *t)
{
    t = type_unqualify(t);
    if (!t)
        return 0;
    if (t->kind == TY_ARRAY)
        return type_align_mask(t->sub);
    return t->align;
}

type_desc *type_copy(type_desc *t)
{
    if (!t || t->kind == TY_BASIC || t->kind == TY_STRUCT || t->kind == TY_ENUM)
        return t;
    type_desc *c = type_new(t->kind);
    *c = *t;
    c->sub = type_copy(t->sub);
    if (t->params) {
        c->params = vec_new(4);
        for (uint32_t i = 0; i < vec_count(t->params); i++)
            vec_push(c->params, type_copy((type_desc *)vec_get(t->params, i)));
    }
    return c;
}

static bool members_equal(cg_symbol *a, cg_symbol *b)
{
    const char *na = a->src_name ? a->src_name : "", *nb = b->src_name ? b->src_name : "";
    return !strcmp(na, nb) && a->bit_width == b->bit_width && a->is_bitfield == b->is_bitfield &&
           a->offset == b->offset && type_equal(a->type, b->type);
}

static bool struct_equal(type_desc *a, type_desc *b)
{
    if (a->is_union != b->is_union || type_size(a) != type_size(b))
        return false;
    if (a->mark || b->mark)
        return true;   // already being compared further up
    vector_t *ma = a->tag ? a->tag->members : nullptr, *mb = b->tag ? b->tag->members : nullptr;
    uint32_t na = ma ? vec_count(ma) : 0, nb = mb ? vec_count(mb) : 0;
    if (na != nb)
        return false;
    a->mark = b->mark = 1;
    bool same = true;
    for (uint32_t i = 0; same && i < na; i++)
        same = members_equal((cg_symbol *)vec_get(ma, i), (cg_symbol *)vec_get(mb, i));
    a->mark = b->mark = 0;
    return same;
}

static bool enum_equal(type_desc *a, type_desc *b)
{
    uint32_t na = a->consts ? vec_count(a->consts) : 0, nb = b->consts ? vec_count(b->consts) : 0;
    if (a->size != b->size || a->arith != b->arith || na != nb)
        return false;
    for (uint32_t i = 0; i < na; i++)
        if (((enum_const *)vec_get(a->consts, i))->value != ((enum_const *)vec_get(b->consts, i))->value)
            return false;
    return true;
}

bool type_equal(type_desc *a, type_desc *b)
{
    if (a == b)
        return true;
    if (!a || !b || a->kind != b->kind)
        return false;
    switch (a->kind) {
    case TY_POINTER:
        return type_equal(a->sub, b->sub);
    case TY_FUNCTION: {
        uint32_t na = a->params ? vec_count(a->params) : 0, nb = b->params ? vec_count(b->params) : 0;
        if (na != nb || !type_equal(a->sub, b->sub))
            return false;
        for (uint32_t i = 0; i < na; i++)
            if (!type_equal((type_desc *)vec_get(a->params, i), (type_desc *)vec_get(b->params, i)))
                return false;
        return true;
    }
    case TY_ARRAY:
        return (!a->count || !b->count || a->count == b->count) && type_equal(a->sub, b->sub);
    case TY_QUALIFIED:
        return a->quals == b->quals && type_equal(a->sub, b->sub);
    case TY_BASIC:
        return a->arith == b->arith && a->size == b->size;
    case TY_STRUCT:
        return struct_equal(a, b);
    case TY_ENUM:
        return enum_equal(a, b);
    }
    return false;
}

// Rule 1 of type strings: the base names a symbol (a basic type, typedef or tag).
static type_desc *type_of_name(const char *text, const char *whole)
{
    bool struct_name = text[0] == 'S' && isdigit((unsigned char)text[1]);
    cg_symbol *s = struct_name ? sym_lookup(text) : sym_find(text);
    if (s && struct_name && !s->cls) {
        s->cls = 'D';
        s->type = type_new(TY_STRUCT);
        s->type->tag = s;
        s->members = vec_new(4);
    }
    if (!s || !s->type || s->cls == 'F')
        cg_fatal(1097, whole);
    return s->type;
}

static type_desc *parse_type_text(const char *p, const char *whole)
{
    unsigned char c = (unsigned char)*p;
    if (c == '_' || islower(c) || (isupper(c) && isdigit((unsigned char)p[1])))
        return type_of_name(p, whole);
    if (isupper(c)) {
        uint32_t bits = 0;
        while (isupper((unsigned char)*p) && !isdigit((unsigned char)p[1])) {
            uint32_t b = qual_by_letter(*p++);
            if (!b)
                cg_fatal(1097, whole);
            bits |= b;
        }
        return type_qualify(parse_type_text(p, whole), bits);
    }
    if (c == '*')
        return type_derive(parse_type_text(p + 1, whole), TY_POINTER);
    if (c == '(')
        return type_derive(parse_type_text(p + 1, whole), TY_FUNCTION);
    cg_fatal(1097, whole);
}

type_desc *type_from_string(const char *text)
{
    const char *p = text;
    if (*p == '`' || *p == '\'')
        p++;
    return parse_type_text(p, text);
}

type_desc *common_value_type(type_desc *a, type_desc *b)
{
    a = type_unqualify(a);
    b = type_unqualify(b);
    uint32_t sa = type_size(a), sb = type_size(b);
    int ca = type_arith_class(a) == AR_SIGNED ? AR_SIGNED : AR_UNSIGNED;
    int cb = type_arith_class(b) == AR_SIGNED ? AR_SIGNED : AR_UNSIGNED;
    uint32_t size = sa > sb ? sa : sb;
    int cls = sa > sb ? ca : sa < sb ? cb : (ca == AR_SIGNED && cb == AR_SIGNED ? AR_SIGNED : AR_UNSIGNED);
    int small = sa < sb ? ca : cb, large = sa < sb ? cb : ca;
    if ((sa == sb && ca != cb) || (sa != sb && small == AR_SIGNED && large != AR_SIGNED)) {
        size *= 2;
        cls = AR_SIGNED;
    }
    if (size == 0)
        size = 1;
    if (size > 4)
        size = 4;
    type_desc *t = basic_type_by(size, cls);
    if (!t)
        msg_print("No type match: size %d, arith %d\n", (int)size, cls);
    return t;
}

// The text of one level of a type for the function header comment.
static void type_text_into(std::string &out, type_desc *t)
{
    if (!t) {
        out += "(NOTYPE)";
        return;
    }
    switch (t->kind) {
    case TY_POINTER:
        out += "PTR ";
        type_text_into(out, t->sub);
        return;
    case TY_FUNCTION:
        out += "FTN(";
        for (uint32_t i = 0; t->params && i < vec_count(t->params); i++) {
            if (i)
                out += ",";
            type_text_into(out, (type_desc *)vec_get(t->params, i));
        }
        if (t->varargs)
            out += "...";
        out += ")";
        type_text_into(out, t->sub);
        return;
    case TY_ARRAY:
        out += str_printf("[%lu]", (unsigned long)t->count);
        type_text_into(out, t->sub);
        return;
    case TY_QUALIFIED: {
        uint32_t q = t->quals;
        if (q & Q_CONST)
            out += "const ";
        if (q & Q_VOLATILE)
            out += "volatile ";
        if (q & Q_NEAR)
            out += "near ";
        q &= ~(Q_CONST | Q_VOLATILE | Q_NEAR);
        if (q)
            out += str_printf("Q_0%lo ", (unsigned long)q);
        type_text_into(out, t->sub);
        return;
    }
    case TY_STRUCT:
        out += "struct ";
        out += t->tag ? t->tag->name : "";
        return;
    case TY_ENUM:
        out += "enum ";
        out += t->tag ? t->tag->name : "";
        return;
    case TY_BASIC:
        break;
    }
    if (t->arith == AR_VOID) {
        out += "void";
        return;
    }
    if (t->arith == AR_UNSIGNED)
        out += "unsigned ";
    const char *n = t->name[0] == 'u' ? t->name + 1 : t->name;
    switch (n[0]) {
    case 'c': case 'n': out += "char"; break;
    case 's': out += "short"; break;
    case 'i': case 'x': out += "int "; break;
    case 'l': out += "long"; break;
    case 'm': out += "short long"; break;
    case 'f': out += "float"; break;
    case 'd': out += "double"; break;
    case 'b': out += "bit "; break;
    }
}

const char *type_text(type_desc *t)
{
    static std::string text;
    text.clear();
    type_text_into(text, t);
    return text.c_str();
}
