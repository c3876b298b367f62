// The linker's one table of names: symbols, psects and classes.
//
// Global names live in a fixed open-addressed table of 28,813 slots (the slot
// order is the order in which the global symbols are written). Each entry
// carries its name space in the two flag bits 0xC000, so one text may name a
// symbol, a class and a psect at once. Modules of object version 3.0 and
// later keep their non-global symbols in their own list, and every module
// keeps its non-global psects; lookups try the current module first.
#include "heron.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

symbol **sym_table;                 // the global table
std::vector<symbol *> psect_list;   // psects and classes in creation order
unsigned undefined_count;           // symbols still undefined
unsigned longest_name;              // longest symbol name seen
symbol *abs_psect;                  // the absolute psect
std::vector<line_entry> line_table; // line-number symbols for message positions
std::vector<reserve_area> reserve_list;       // RESERVE areas
std::vector<space_limit_rec> space_limits;    // SPACELIM values

static std::vector<std::string> p_names;   // names used in -P texts, sorted

// Sum of each byte shifted left by its index modulo 16.
unsigned sym_hash(const char *name)
{
    uint32_t h = 0;
    for (unsigned i = 0; name[i]; i++)
        h += (uint32_t)(unsigned char)name[i] << (i % 16);
    return h % SYM_TABLE_SIZE;
}

// The table's order is that of linear probing from the hash slot. Names
// cluster under this hash, so two helpers keep it fast without changing any
// slot: an index from name and name space to slot, and for each slot the
// next empty one at or after it (kept with path halving).
static std::unordered_map<std::string, unsigned> slot_index;   // name + space -> slot
static std::vector<unsigned> next_empty;                      // slot -> a later candidate
static unsigned table_used;                                   // slots in use

static std::string slot_key(const char *name, uint32_t space)
{
    std::string key = name;
    key.push_back((char)(1 + (space >> 14)));
    return key;
}

static unsigned empty_slot_from(unsigned i)
{
    while (sym_table[i]) {
        unsigned next = next_empty[i];
        next_empty[i] = next_empty[next];
        i = next;
    }
    return i;
}

// Slot of the entry of that name and name space, or the empty slot where it
// belongs. A full table ends the run.
static unsigned table_slot(const char *name, uint32_t space)
{
    auto found = slot_index.find(slot_key(name, space));
    if (found != slot_index.end())
        return found->second;
    if (table_used >= SYM_TABLE_SIZE)
        msg_report(434, SYM_TABLE_SIZE);
    return empty_slot_from(sym_hash(name));
}

static void table_fill(unsigned slot, symbol *s)
{
    sym_table[slot] = s;
    slot_index[slot_key(s->name, s->flags & OBJ_SPACE_MASK)] = slot;
    next_empty[slot] = (slot + 1) % SYM_TABLE_SIZE;
    table_used++;
}

void sym_init()
{
    sym_table = (symbol **)xmalloc(SYM_TABLE_SIZE * sizeof(symbol *));
    next_empty.resize(SYM_TABLE_SIZE);
    for (unsigned i = 0; i < SYM_TABLE_SIZE; i++)
        next_empty[i] = (i + 1) % SYM_TABLE_SIZE;
}

static symbol *sym_new(const char *name, uint32_t flags)
{
    symbol *s = (symbol *)xmalloc(sizeof(symbol));
    s->name = xstrdup(name);
    s->flags = flags;
    s->file_index = (uint16_t)input_index;
    s->module_index = current_mod ? current_mod->module_index : 0;
    unsigned n = (unsigned)strlen(name);
    if (n > longest_name)
        longest_name = n;
    if (!is_plain_symbol(s)) {
        psect_rec *p = new psect_rec{};
        p->sym = s;
        p->scale = (flags & OBJ_BIT_PSECT) ? 8 : 1;
        p->low_bound = 1;
        s->ps = p;
        psect_list.push_back(s);
    }
    return s;
}

symbol *psect_of(symbol *s)
{
    return (s && is_psect(s) && s->psect) ? s->psect : s;
}

static symbol *local_named(const std::vector<symbol *> &list, const char *name)
{
    for (symbol *s : list)
        if (strcmp(s->name, name) == 0)
            return s;
    return nullptr;
}

static bool wants_psect(uint32_t flags) { return (flags & OBJ_SPACE_MASK) == OBJ_PSECT; }
static bool wants_symbol(uint32_t flags) { return (flags & OBJ_SPACE_MASK) == 0; }

symbol *find_symbol(const char *name, uint32_t flags)
{
    if (current_mod && wants_psect(flags)) {
        if (symbol *s = local_named(current_mod->local_psects, name))
            return psect_of(s);
    }
    if (current_mod && wants_symbol(flags)) {
        if (symbol *s = local_named(current_mod->locals, name))
            return s;
    }
    return sym_table[table_slot(name, flags & OBJ_SPACE_MASK)];
}

symbol *sym_enter(const char *name, uint32_t flags)
{
    bool global = flags & OBJ_GLOBAL;
    if (current_mod && wants_psect(flags)) {
        if (symbol *s = local_named(current_mod->local_psects, name))
            return psect_of(s);
        if (!global) {
            symbol *s = sym_new(name, flags & ~OBJ_KIND_MASK);
            current_mod->local_psects.push_back(s);
            return s;
        }
    }
    if (current_mod && wants_symbol(flags) && version_at_least(cur_version, 3, 0)) {
        if (symbol *s = local_named(current_mod->locals, name))
            return s;
        if (!global) {
            symbol *s = sym_new(name, flags);
            current_mod->locals.push_back(s);
            if (sym_kind(s) == SK_UNDEFINED)
                undefined_count++;
            return s;
        }
    }
    unsigned slot = table_slot(name, flags & OBJ_SPACE_MASK);
    symbol *s = sym_table[slot];
    if (!s) {
        s = sym_new(name, flags & OBJ_SPACE_MASK);
        if (s->ps && (flags & OBJ_BIT_PSECT))
            s->ps->scale = 8;   // a bit psect counts bits from its creation on
        if (is_plain_symbol(s)) {
            s->flags |= SK_UNDEFINED;
            undefined_count++;
        }
        table_fill(slot, s);
    }
    s->flags |= flags & ~OBJ_KIND_MASK & 0xFFFF;
    return psect_of(s);
}

// Rules shared by both passes; `in_pass1` lets a symbol not yet defined in
// pass 1 be defined again with its pass-1 value (its module offset).
static void define_symbol(bool in_pass1, const char *name, symbol *P, uint32_t v, uint32_t f)
{
    unsigned k = f & OBJ_KIND_MASK;
    symbol *S = sym_enter(name, f);
    S->flags |= f & ~OBJ_KIND_MASK;
    unsigned sk = sym_kind(S);
    if (k == SK_COMMON && sk == SK_COMMON) {
        if (v > S->value)
            S->value = v;
        if (S->psect != P)
            msg_report(481, name);
        return;
    }
    bool both_local = !(S->flags & OBJ_GLOBAL) && !(f & OBJ_GLOBAL);
    uint32_t value = v;
    if (k != SK_COMMON && k != SK_INDIRECT && P && P->ps && !(P->flags & OBJ_OVERLAID))
        value += P->ps->size;
    if (sk == SK_UNDEFINED || sk == SK_COMMON || (sk == k && both_local) ||
        (in_pass1 && !(S->marks & MARK_PASS1))) {
        if (sk == SK_UNDEFINED) {
            undefined_count--;
            if (!(f & OBJ_GLOBAL))
                S->flags &= ~OBJ_GLOBAL;
        }
        S->value = value;
        S->psect = P;
        S->file_index = (uint16_t)input_index;
        S->module_index = current_mod ? current_mod->module_index : 0;
        S->flags = (S->flags & ~OBJ_KIND_MASK) | k;
        if (in_pass1)
            S->marks |= MARK_PASS1;
        return;
    }
    // Pass 0 knows no module offsets yet; every real conflict shows in pass 1.
    if (in_pass1 && k != SK_COMMON && (S->flags & OBJ_GLOBAL) && (S->value != value || S->psect != P))
        msg_report(482, name, module_display_name(S));
}

void define_symbol_pass0(const char *name, symbol *psect, uint32_t value, uint32_t flags)
{
    define_symbol(false, name, psect, value, flags);
}

void define_symbol_pass1(const char *name, symbol *psect, uint32_t value, uint32_t flags)
{
    define_symbol(true, name, psect, value, flags);
}

void define_link_symbol(const char *name, symbol *psect, uint32_t value, uint32_t flags)
{
    symbol *s = find_symbol(name, flags);
    if (s && sym_kind(s) != SK_UNDEFINED)
        return;
    define_symbol_pass0(name, abs_psect, value, flags);
    find_symbol(name, flags)->psect = psect;
}

void resolve_indirect(symbol *S)
{
    if (sym_kind(S) != SK_INDIRECT)
        return;
    uint32_t value = S->value;
    symbol *t = S->psect;
    while (t && sym_kind(t) == SK_INDIRECT) {
        if (t == S) {
            msg_report(479, S->name);
            return;
        }
        value += t->value;
        t = t->psect;
    }
    if (!t)
        return;
    S->flags = t->flags;
    S->psect = t->psect;
    S->marks = t->marks;
    S->signature = t->signature;
    S->value = value + t->value;
}

void end_module_sizes()
{
    for (symbol *s : psect_list) {
        psect_rec *p = s->ps;
        if (p->pending == 0)
            continue;
        if (s->flags & OBJ_OVERLAID) {
            p->size = std::max(p->size, p->pending);
        } else {
            if (p->size + p->pending < p->size)
                msg_report(1391, s->name);
            p->size += p->pending;
        }
        p->pending = 0;
    }
}

uint32_t space_limit(unsigned space)
{
    for (const space_limit_rec &l : space_limits)
        if (l.space == space)
            return l.limit;
    return 0;
}

bool is_trivial_local(const char *name)
{
    if (!name[0] || !strchr("klfLSuh", name[0]))
        return false;
    for (const char *p = name + 1; *p; p++)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

// Each -P text is cut at "+", "," and "="; pieces that start with a digit
// are addresses, the others are cut at their first character that cannot be
// part of a name.
void sym_collect_p_names()
{
    for (const std::string &text : opt.p_texts) {
        size_t i = 0;
        while (i <= text.size()) {
            size_t j = text.find_first_of("+,=", i);
            if (j == std::string::npos)
                j = text.size();
            std::string piece = text.substr(i, j - i);
            if (!piece.empty() && !(piece[0] >= '0' && piece[0] <= '9')) {
                size_t n = 0;
                while (n < piece.size() && (isalnum((unsigned char)piece[n]) || piece[n] == '_'))
                    n++;
                if (n > 0)
                    p_names.push_back(piece.substr(0, n));
            }
            i = j + 1;
        }
    }
    std::sort(p_names.begin(), p_names.end());
}

bool sym_is_p_name(const char *name)
{
    return std::binary_search(p_names.begin(), p_names.end(), std::string(name));
}
