// types: type records, sizes, qualifiers and attributes from the command
// line, declaration specifiers, declarators and struct/union/enum bodies.
//
// A type is a chain of levels from the outside in: function, pointer and
// array levels over one base level (a basic type, a tag or a typedef name).
// Every level carries its own qualifier bits, so "const char *" and
// "char *const" differ in which level holds const. The writer turns the
// chain into a type string; inner array levels get typedef symbols there.
#include "plover.h"

#include <cctype>
#include <cstring>

qual_row_t qual_table[32] = {
    {"const", 'C', 0, 0, 1}, {"volatile", 'V', 0, 0, 2},
};
qual_roles_t qual_role;             // bits of the qualifiers with a fixed role

// Size table rows: char, short, int, short long, long, x (and pointers),
// float, double; the largest signed value follows from the size.
static uint32_t type_sizes[8] = {1, 2, 2, 3, 4, 2, 4, 8};
static uint32_t type_pointer_size;  // separate pointer size from "p<n>", 0 none

struct attr_row_t {
    std::string name;
    std::string pattern;
    uint32_t bits;
};
static std::vector<attr_row_t> attr_table; // attributes defined by -T

bool proto_t::is_void() const
{
    return entries.size() == 1 && entries[0]->kind == TY_BASE && entries[0]->base == B_VOID &&
           !entries[0]->qual;
}

bool proto_t::varargs() const
{
    return !entries.empty() && entries.back()->kind == TY_BASE && entries.back()->base == B_VARARGS;
}

// ---------------------------------------------------------------------------
// construction and tests
// ---------------------------------------------------------------------------
type_t *type_new(int kind)
{
    type_t *t = new type_t{};
    t->kind = kind;
    return t;
}

type_t *type_base(int base)
{
    type_t *t = type_new(TY_BASE);
    t->base = base;
    return t;
}

// One record per base code, for the types of expression nodes: nothing
// changes an expression's type record in place (qualified or resized types
// are copies), and declarations never take one, so every node of a base
// type can share it. Declarations keep asking type_base for records of
// their own, which they do change.
type_t *type_plain(int base)
{
    static type_t *plain[B_UNION + 2];
    if (base < 0 || base >= B_UNION + 2)
        return type_base(base);
    if (!plain[base])
        plain[base] = type_base(base);
    return plain[base];
}

type_t *type_copy(const type_t *t)
{
    type_t *c = new type_t(*t);
    c->anon = nullptr;
    return c;
}

type_t *type_ptr(type_t *to)
{
    type_t *t = type_new(TY_PTR);
    t->sub = to;
    return t;
}

// Follows typedef names (keeping the qualifiers of the typedef'd use).
type_t *type_unfold(type_t *t)
{
    while (t && t->kind == TY_BASE && t->base == B_TYPEDEF && t->tag && t->tag->type) {
        if (!t->qual)
            t = t->tag->type;
        else {
            type_t *c = type_copy(t->tag->type);
            c->qual |= t->qual;
            t = c;
        }
    }
    return t;
}

bool type_is_ptr(type_t *t) { t = type_unfold(t); return t && t->kind == TY_PTR; }
bool type_is_array(type_t *t) { t = type_unfold(t); return t && t->kind == TY_ARRAY; }
bool type_is_func(type_t *t) { t = type_unfold(t); return t && t->kind == TY_FUNC; }

int type_base_code(type_t *t)
{
    t = type_unfold(t);
    return t && t->kind == TY_BASE ? t->base : 0;
}

uint32_t type_quals(type_t *t)
{
    t = type_unfold(t);
    return t ? t->qual : 0;
}

bool type_is_integer(type_t *t)
{
    int b = type_base_code(t);
    return (b >= B_BIT && b < B_FLOAT) || b == B_ENUM;
}

bool type_is_arith(type_t *t)
{
    int b = type_base_code(t);
    return (b >= B_BIT && b <= B_DOUBLE) || b == B_ENUM;
}

bool type_is_scalar(type_t *t)
{
    return type_is_arith(t) || type_is_ptr(t);
}

bool type_is_void(type_t *t)
{
    return type_base_code(t) == B_VOID;
}

// The struct or union tag whose body has not been seen, when t is such a
// struct or union or an array of them: an object of t has no size yet.
static sym_t *type_undefined_tag(type_t *t)
{
    t = type_unfold(t);
    while (t && t->kind == TY_ARRAY)
        t = type_unfold(t->sub);
    if (t && t->kind == TY_BASE && (t->base == B_STRUCT || t->base == B_UNION) && t->tag &&
        !t->tag->defined_tag)
        return t->tag;
    return nullptr;
}

// Reports an object type left incomplete by its struct or union (198).
void type_check_complete(type_t *t)
{
    if (sym_t *tag = type_undefined_tag(t))
        msg_report(198, tag->name.c_str());
}

bool type_is_aggregate(type_t *t)
{
    int b = type_base_code(t);
    return type_is_array(t) || b == B_STRUCT || b == B_UNION;
}

// ---------------------------------------------------------------------------
// sizes
// ---------------------------------------------------------------------------
static int type_size_row(int base)
{
    switch (base & ~1) {
    case B_CHAR: return 0;
    case B_SHORT: return 1;
    case B_INT: case B_ENUM: return 2;
    case B_SHORTLONG: return 3;
    case B_LONG: case B_LLONG: return 4;
    case B_INDEX: return 5;
    case B_FLOAT: return 6;
    case B_DOUBLE: return 7;
    default: return -1;
    }
}

static int64_t type_max_of(int row)
{
    return (int64_t)((1ull << (8 * type_sizes[row] - 1)) - 1);
}

int64_t type_max_int() { return type_max_of(2); }
int64_t type_max_long() { return type_max_of(4); }

uint32_t type_size(type_t *t)
{
    t = type_unfold(t);
    if (!t)
        return 0;
    switch (t->kind) {
    case TY_PTR:
        return type_pointer_size ? type_pointer_size : type_sizes[5];
    case TY_ARRAY:
        return t->count ? t->count * type_size(t->sub) : type_size(t->sub);
    case TY_FUNC:
        return type_size(t->sub);
    default:
        break;
    }
    if (t->base == B_BIT) {
        msg_report(211);
        return 0;
    }
    if ((t->base & ~1) == B_LLONG)
        return opt.long_long ? 2 * type_sizes[4] : type_sizes[4];
    if (t->base == B_STRUCT || t->base == B_UNION) {
        uint32_t n = 0;
        for (sym_t *m = t->tag ? t->tag->members : nullptr; m; m = m->next_member) {
            uint32_t k = m->bit_width >= 0 ? (m->bit_width + 7) / 8 : type_size(m->type);
            n = t->base == B_UNION ? (k > n ? k : n) : n + k;
        }
        return n;
    }
    int row = type_size_row(t->base);
    return row < 0 ? 0 : type_sizes[row];
}

// The result type of sizeof: unsigned long when a qualifier's pointer size
// equals the size of long, else unsigned int.
int type_size_code()
{
    int largest = 0;
    for (const qual_row_t &r : qual_table)
        if (r.number > largest)
            largest = r.number;
    return (uint32_t)largest == type_sizes[4] ? B_LONG + 1 : B_INT + 1;
}

bool type_set_sizes(const char *list)
{
    int want = opt.short_long ? 8 : 7;
    uint32_t v[8];
    int n = 0;
    const char *p = list;
    while (*p && n < want) {
        if (!isdigit((unsigned char)*p))
            return false;
        v[n] = (uint32_t)strtoul(p, (char **)&p, 10);
        if (!v[n])
            return false;
        n++;
        if (*p == ',')
            p++;
    }
    if (n != want)
        return false;
    if (*p == 'p' || *p == 'P')
        type_pointer_size = (uint32_t)strtoul(p + 1, nullptr, 10);
    int k = 0;
    for (int row = 0; row < 8; row++) {
        if (row == 3 && !opt.short_long)
            continue;
        type_sizes[row] = v[k++];
    }
    return true;
}

// ---------------------------------------------------------------------------
// qualifiers and attributes
// ---------------------------------------------------------------------------
static void qual_record_role(const std::string &w, uint32_t bit)
{
    struct { const char *word; uint32_t *slot; } const roles[] = {
        {"interrupt", &qual_role.interrupt}, {"compact", &qual_role.compact},
        {"large", &qual_role.large}, {"small", &qual_role.small}, {"far", &qual_role.far_},
        {"near", &qual_role.near_}, {"persistent", &qual_role.persistent},
        {"using", &qual_role.using_}, {"reentrant", &qual_role.reentrant},
        {"bank1", &qual_role.bank1}, {"bank2", &qual_role.bank2}, {"bank3", &qual_role.bank3},
        {"__sfr", &qual_role.sfr}, {"inline", &qual_role.inline_},
        {"__fastcall16", &qual_role.fastcall16}, {"__ioport", &qual_role.ioport},
    };
    for (const auto &r : roles)
        if (w == r.word)
            *r.slot = bit;
}

bool qual_define(const char *arg)
{
    const char *comma = strchr(arg, ',');
    if (!arg[0] || !comma || !comma[1])
        return false;
    char letter = arg[0];
    std::string word = comma + 1;
    std::string cmp = word;
    if (opt.strict && cmp.compare(0, 2, "__") != 0)
        cmp = "__" + cmp;
    int row = -1;
    uint32_t bit = 0;
    for (int i = 0; i < 32; i++) {
        qual_row_t &r = qual_table[i];
        std::string rc = opt.strict && r.name.compare(0, 2, "__") != 0 ? "__" + r.name : r.name;
        if (r.letter && rc == cmp) {
            row = i;
            bit = r.bit;
            break;
        }
    }
    if (row < 0) {
        for (int i = 0; i < 32; i++)
            if (qual_table[i].letter == letter) {
                bit = qual_table[i].bit;
                break;
            }
        for (int i = 0; i < 32 && row < 0; i++)
            if (!qual_table[i].letter)
                row = i;
        if (row < 0)
            msg_report(307);
        if (!bit)
            bit = 1u << row;
        qual_table[row].name = word;
    }
    qual_row_t &r = qual_table[row];
    r.letter = letter;
    r.bit = bit;
    qual_record_role(word, bit);
    for (const char *p = arg + 1; p < comma; p++) {
        if (*p == 'i')
            r.flags |= 1;
        else if (*p == 'u')
            r.flags |= 2;
        else if (*p == 'm')
            r.flags |= 4;
        else if (isdigit((unsigned char)*p))
            r.number = (int)(uint8_t)strtoul(p, (char **)&p, 10), p--;
    }
    return true;
}

uint32_t qual_lookup(const std::string &word)
{
    if (word == "const")
        return 1;
    if (word == "volatile")
        return 2;
    std::string w = word;
    if (opt.strict) {
        if (w.compare(0, 2, "__") != 0)
            return 0;
        w = w.substr(2);
    }
    for (const qual_row_t &r : qual_table) {
        if (!r.letter)
            break;
        std::string rn = opt.strict && r.name.compare(0, 2, "__") == 0 ? r.name.substr(2) : r.name;
        if (rn != w)
            continue;
        uint32_t b = r.bit;
        if (opt.ff && b == qual_role.persistent)
            b |= qual_role.far_;
        if (b == qual_role.inline_ && qual_role.inline_)
            msg_report(1324, word.c_str());
        return b;
    }
    return 0;
}

bool attr_define(const char *arg)
{
    std::string text = arg;
    size_t c = text.find(',');
    std::string name = text.substr(0, c);
    if (name.empty()) {
        msg_report(1321, arg);
        return false;
    }
    for (const attr_row_t &a : attr_table)
        if (a.name == name) {
            msg_report(1320, name.c_str());
            return false;
        }
    attr_row_t row{name, "", 0};
    while (c != std::string::npos) {
        size_t d = text.find(',', c + 1);
        std::string item = text.substr(c + 1, d == std::string::npos ? d : d - c - 1);
        if (!item.empty() && item[0] == 'Q') {
            uint32_t b = qual_lookup(item.substr(1));
            if (!b)
                msg_report(1322, item.substr(1).c_str());
            row.bits |= b;
        } else if (!item.empty()) {
            row.pattern += (row.pattern.empty() ? "" : ",") + item;
        }
        c = d;
    }
    attr_table.push_back(row);
    return true;
}

bool attr_lookup(const std::string &word, uint32_t *bits, std::string *pattern)
{
    for (const attr_row_t &a : attr_table)
        if (word == a.name || word == "__" + a.name + "__") {
            *bits = a.bits;
            *pattern = a.pattern;
            return true;
        }
    return false;
}

// ---------------------------------------------------------------------------
// compatibility
// ---------------------------------------------------------------------------
bool type_qual_compatible(uint32_t a, uint32_t b)
{
    if (a == b)
        return true;
    bool u = false, m = false;
    for (int i = 0; i < 32 && qual_table[i].letter; i++) {
        const qual_row_t &r = qual_table[i];
        uint32_t bit = 1u << i;
        if ((r.flags & 2) && ((a & bit) || (!a && (b & bit))))
            u = true;
        if (r.flags & 1) {
            if ((a & bit) && !(b & bit))
                return false;
            if ((b & bit) && !(a & bit))
                m = true;
        }
    }
    if (m && !u)
        return false;
    if (qual_role.near_ && (a & qual_role.near_) && !(b & qual_role.near_))
        return false;
    if (qual_role.far_ && (b & qual_role.far_) && !(a & qual_role.far_) && !u) {
        int far_number = 0;
        for (const qual_row_t &r : qual_table)
            if (r.letter && r.bit == qual_role.far_)
                far_number = r.number;
        uint32_t psize = type_pointer_size ? type_pointer_size : type_sizes[5];
        return psize == (uint32_t)far_number;
    }
    uint32_t cv = 3;
    return (b & cv & ~a) == 0 && (a & qual_role.interrupt) == (b & qual_role.interrupt);
}

bool type_compatible(type_t *a, type_t *b, bool lenient)
{
    a = type_unfold(a);
    b = type_unfold(b);
    if (a == b)
        return true;
    if (!a || !b || a->kind != b->kind)
        return false;
    switch (a->kind) {
    case TY_PTR:
        if (type_unfold(a->sub)->qual != type_unfold(b->sub)->qual)
            return false;
        return type_compatible(a->sub, b->sub, lenient);
    case TY_ARRAY:
        return type_compatible(a->sub, b->sub, lenient);
    case TY_FUNC:
        if (a->qual != b->qual || !type_compatible(a->sub, b->sub, lenient))
            return false;
        if (!a->proto || !b->proto)
            return lenient || (!a->proto && !b->proto);
        if (a->proto->entries.size() != b->proto->entries.size())
            return false;
        for (size_t i = 0; i < a->proto->entries.size(); i++)
            if (!type_compatible(a->proto->entries[i], b->proto->entries[i], lenient))
                return false;
        return true;
    default:
        if (a->base != b->base)
            return false;
        if (a->base == B_ENUM || a->base == B_STRUCT || a->base == B_UNION)
            return a->tag == b->tag;
        return true;
    }
}

// Whether t is a pointer to void, and so converts to and from a pointer to
// any object (a function's address is no object: it never converts).
bool type_is_void_ptr(type_t *t)
{
    t = type_unfold(t);
    return t && t->kind == TY_PTR && type_is_void(t->sub);
}

// Pointer assignment: the qualifier sets of each level, then the types
// pointed at without their qualifiers. Only the level pointed at may gain
// const or volatile: below it the value's pointer would be seen through the
// target as another type (a char ** taken as a const char ** would let a
// pointer to const be stored where a char * is read). void * stands for a
// pointer to any object, on the first level only: a char ** is a void *,
// but a void ** is no char **.
bool type_ptr_assignable(type_t *target, type_t *value)
{
    type_t *a = type_unfold(target), *b = type_unfold(value);
    if (a && b && a->kind == TY_PTR && b->kind == TY_PTR && (type_is_void_ptr(a) || type_is_void_ptr(b)))
        return type_qual_compatible(type_quals(a->sub), type_quals(b->sub)) && !type_is_func(a->sub) &&
               !type_is_func(b->sub);
    uint32_t cv = 3;
    for (bool first = true; a && b && a->kind == TY_PTR && b->kind == TY_PTR; first = false) {
        type_t *as = type_unfold(a->sub), *bs = type_unfold(b->sub);
        if (!type_qual_compatible(as->qual, bs->qual) || (!first && (as->qual & cv) != (bs->qual & cv)))
            return false;
        a = as;
        b = bs;
    }
    if (!a || !b)
        return false;
    if (a->kind == TY_PTR || b->kind == TY_PTR)
        return false;
    type_t ca = *a, cb = *b;
    ca.qual = cb.qual = 0;
    return type_compatible(&ca, &cb, true);
}

// Whether two pointers point at versions of one type that differ at most
// in const and volatile on the level pointed at: the pointers p - q
// subtracts and the arms of ?: may be. A qualifier naming a memory space
// (a bank, far, near) must agree, since the addresses belong to one space.
bool type_ptr_similar(type_t *a, type_t *b)
{
    type_t *x = type_unfold(a), *y = type_unfold(b);
    if (!x || !y || x->kind != TY_PTR || y->kind != TY_PTR)
        return false;
    type_t cx = *type_unfold(x->sub), cy = *type_unfold(y->sub);
    uint32_t cv = 3;
    if ((cx.qual & ~cv) != (cy.qual & ~cv))
        return false;
    cx.qual = cy.qual = 0;
    return type_compatible(&cx, &cy, true);
}

// A type in words, level by level from the outside in, for messages that
// explain a mismatch.
std::string type_english(type_t *t)
{
    std::string out;
    t = type_unfold(t);
    while (t) {
        for (const qual_row_t &r : qual_table)
            if (r.letter && (t->qual & r.bit))
                out += r.name + " ";
        if (t->kind == TY_FUNC) {
            out += "function";
            if (!t->proto || t->proto->is_void()) {
                out += " with no arguments";
            } else {
                out += " with arguments(";
                for (size_t i = 0; i < t->proto->entries.size(); i++)
                    out += (i ? ", " : "") + type_english(t->proto->entries[i]);
                out += ")";
            }
            out += " returning ";
        } else if (t->kind == TY_ARRAY) {
            out += "array";
            if (t->count)
                out += "[" + std::to_string(t->count) + "]";
            out += " of ";
        } else if (t->kind == TY_PTR) {
            out += "pointer to ";
        } else {
            if (t->base == B_ENUM) {
                out += "enum " + (t->tag ? t->tag->name : std::string());
            } else if (t->base == B_STRUCT || t->base == B_UNION) {
                out += t->base == B_STRUCT ? "struct " : "union ";
                out += t->tag && !t->tag->name.empty()
                           ? t->tag->name
                           : "S" + std::to_string(t->tag ? t->tag->tag_number : 0);
            } else {
                out += std::string(t->base & 1 ? "unsigned " : "") + sym_type_name(t->base);
            }
            break;
        }
        t = type_unfold(t->sub);
    }
    return out;
}

// At negative warning levels a message about types is followed by the
// types in words: "a / b" for a mismatch, "NOT a" for a type that failed a
// requirement (b null).
void type_explain(type_t *a, type_t *b)
{
    if (opt.warning_level >= 0 || !a)
        return;
    if (b)
        msg_print("%s / %s", type_english(a).c_str(), type_english(b).c_str());
    else
        msg_print("NOT %s", type_english(a).c_str());
}
