// Handlers of the records that declare or describe symbols and psects:
// PSECT, XPSECT, SIGNAT, PSECTLIM, PSECTBOUND, RESERVE and SPACELIM in pass
// 0, SYM in all three passes, END in passes 1 and 2, and the pass-2 output of
// a module's local symbols when the module starts.
//
// Every body is taken apart with a bounded cursor; a malformed body is
// reported once and the rest of it is dropped.
#include "heron.h"

#include <algorithm>
#include <cstring>

static const char *current_source;   // file of the line-number symbols that follow

uint32_t addr_add(uint32_t a, uint32_t b, const char *name)
{
    if (a + b < a)
        msg_report(1391, name);
    return a + b;
}

uint32_t addr_mul(uint32_t a, uint32_t b, const char *name)
{
    if (b != 0 && a > UINT32_MAX / b)
        msg_report(1391, name);
    return a * b;
}

// The -C<psect>=<class> pair of a psect name, or null.
static const char *class_pair_of(const char *psect)
{
    for (const auto &pair : psect_classes)
        if (pair.first == psect)
            return pair.second.c_str();
    return nullptr;
}

// PSECT (pass 0): a global psect without a class may get one from -C.
void psect_record()
{
    obj_cursor c = cur_of(rec);
    uint16_t flags = cur_u16(c);
    const char *name = cur_name(c);
    if (c.bad) {
        report_bad_record();
        return;
    }
    symbol *P = sym_enter(name, flags | OBJ_PSECT);
    if ((flags & OBJ_GLOBAL) && !P->ps->class_sym) {
        if (const char *cls = class_pair_of(name))
            P->ps->class_sym = sym_enter(cls, OBJ_CLASS | OBJ_GLOBAL);
        else
            P->flags |= OBJ_GLOBAL;
    }
}

// A global psect of a class with ranges is placed module by module: each
// module gets a local psect of that name (unless -P names it).
static symbol *xpsect_localise(symbol *P, symbol *C)
{
    if (!(C->flags & OBJ_RANGES) || (P->flags & OBJ_OVERLAID) || !(P->flags & OBJ_GLOBAL) ||
        sym_is_p_name(P->name) || !current_mod)
        return P;
    symbol *L = sym_enter(P->name, (P->flags & ~OBJ_GLOBAL & ~OBJ_KIND_MASK & 0xFFFF) | OBJ_PSECT);
    L->ps->scale = P->ps->scale;
    L->ps->localised_from = P;
    return L;
}

// Steps 3 to 8 of XPSECT: sizes, selector, type, space, delta, class limits.
static void xpsect_attributes(symbol *P, const obj_xpsect &x)
{
    psect_rec *p = P->ps;
    if (x.max_size && (!p->max_size || x.max_size < p->max_size))
        p->max_size = x.max_size;
    uint32_t boundary = (P->flags & OBJ_BOUNDARY_HIGH) ? addr_mul(x.boundary, 65536, P->name) : x.boundary;
    if (boundary > p->boundary)
        p->boundary = boundary;
    if (x.selector && p->selector && x.selector != p->selector)
        msg_report(486, P->name);
    else if (x.selector)
        p->selector = x.selector;
    if (p->type && x.type != p->type)
        msg_report(487, P->name, p->type, x.type);
    else
        p->type = x.type;
    bool has_space = version_at_least(cur_version, 3, 3);
    if (has_space) {
        if (p->space && x.space != p->space)
            msg_report(488, P->name, p->space, x.space);
        else
            p->space = x.space;
        if (!p->first_space)
            p->first_space = p->space;
    }
    if (!version_at_least(cur_version, 3, 4))
        p->delta = 1;
    else if (p->delta && x.delta != p->delta)
        msg_report(489, P->name, p->delta, x.delta);
    else
        p->delta = x.delta;
    symbol *C = p->class_sym;
    if (!C)
        return;
    psect_rec *c = C->ps;
    if (c->max_size && (!p->max_size || c->max_size < p->max_size))
        p->max_size = c->max_size;
    if (c->boundary > p->boundary)
        p->boundary = c->boundary;
    if (!has_space)
        return;
    if (c->space && p->space && p->space != c->space)
        msg_report(490, C->name, p->space, c->space);
    else if (!c->space) {
        c->space = p->space;
        if (!c->first_space)
            c->first_space = p->space;
    }
}

// True when `to` is in the with-chain of `from`, at any depth.
static bool chain_reaches(const psect_rec *from, const psect_rec *to)
{
    std::vector<const psect_rec *> todo = {from}, seen;
    while (!todo.empty()) {
        const psect_rec *p = todo.back();
        todo.pop_back();
        if (std::find(seen.begin(), seen.end(), p) != seen.end())
            continue;
        seen.push_back(p);
        for (const psect_rec *m : p->chain) {
            if (m == to)
                return true;
            todo.push_back(m);
        }
    }
    return false;
}

void xpsect_record()
{
    obj_xpsect x;
    if (!decode_xpsect(cur_of(rec), cur_version, &x)) {
        report_bad_record();
        return;
    }
    symbol *P = sym_enter(x.psect, OBJ_PSECT | OBJ_GLOBAL);
    if (x.class_name[0]) {
        symbol *C = sym_enter(x.class_name, OBJ_CLASS | OBJ_GLOBAL);
        if (!P->ps->class_sym) {
            P = xpsect_localise(P, C);
            P->ps->class_sym = C;
        } else if (P->ps->class_sym != C) {
            msg_report(484, P->name, C->name, P->ps->class_sym->name);
        }
    }
    if (x.with_psect[0]) {
        symbol *W = find_symbol(x.with_psect, OBJ_PSECT | OBJ_GLOBAL);
        if (!W)
            msg_report(485, P->name);
        else if (W->ps == P->ps || chain_reaches(P->ps, W->ps))
            report_bad_record();   // placed with itself: no order could satisfy it
        else if (std::find(W->ps->chain.begin(), W->ps->chain.end(), P->ps) == W->ps->chain.end())
            W->ps->chain.push_back(P->ps);
    }
    xpsect_attributes(P, x);
}

void signat_record()
{
    obj_cursor c = cur_of(rec);
    while (!cur_at_end(c)) {
        uint16_t sig = cur_u16(c);
        const char *name = cur_name(c);
        if (c.bad)
            break;
        symbol *S = sym_enter(name, OBJ_GLOBAL);
        if (!(S->flags & OBJ_SIGNATURE)) {
            S->signature = sig;
            S->flags |= OBJ_SIGNATURE;
        } else if (S->signature != sig) {
            msg_report(480, name, module_display_name(S), (unsigned)sig, (unsigned)S->signature);
        }
    }
    if (c.bad)
        report_bad_record();
}

void psectlim_record()
{
    obj_cursor c = cur_of(rec);
    uint32_t limit = cur_u32(c);
    cur_skip(c, 12);
    const char *name = cur_name(c);
    if (c.bad) {
        report_bad_record();
        return;
    }
    psect_rec *p = sym_enter(name, OBJ_PSECT | OBJ_GLOBAL)->ps;
    if (limit && (!p->limit || limit < p->limit))
        p->limit = limit;
    if (p->class_sym && p->class_sym->ps->limit &&
        (!p->limit || p->class_sym->ps->limit < p->limit))
        p->limit = p->class_sym->ps->limit;
}

void psectbound_record()
{
    obj_cursor c = cur_of(rec);
    unsigned names_at = cur_u8(c);
    uint16_t flags = cur_u16(c);
    uint32_t low = cur_u32(c);
    uint32_t high = cur_u32(c);
    obj_cursor n = cur_open(rec.body, rec.length);
    cur_skip(n, names_at);
    const char *name = cur_name(n);
    if (c.bad || n.bad || high < low) {   // bounds the wrong way round give no size
        report_bad_record();
        return;
    }
    symbol *P = sym_enter(name, flags | OBJ_PSECT);
    if ((P->flags & (OBJ_ABSOLUTE | OBJ_OVERLAID)) != (OBJ_ABSOLUTE | OBJ_OVERLAID))
        return;
    psect_rec *p = P->ps;
    if (!(P->flags & SF_BOUNDS)) {
        p->low_bound = low;
        p->high_bound = high;
        P->flags |= SF_BOUNDS;
    } else {
        p->low_bound = std::min(p->low_bound, low);
        p->high_bound = std::min(p->high_bound, high);
    }
}

void reserve_record()
{
    obj_cursor c = cur_of(rec);
    while (cur_left(c) >= 9) {
        reserve_area a;
        a.space = cur_u8(c);
        a.start = cur_u32(c);
        a.length = cur_u32(c);
        reserve_list.push_back(a);
    }
    if (!cur_at_end(c))
        report_bad_record();
}

void spacelim_record()
{
    obj_cursor c = cur_of(rec);
    uint8_t space = cur_u8(c);
    uint32_t limit = cur_u32(c);
    if (c.bad) {
        report_bad_record();
        return;
    }
    for (space_limit_rec &l : space_limits) {
        if (l.space == space) {
            l.limit = std::min(l.limit, limit);
            return;
        }
    }
    space_limits.push_back({space, limit});
}

// ---------------------------------------------------------------------------
// SYM records
// ---------------------------------------------------------------------------
typedef void (*define_fn)(const char *, symbol *, uint32_t, uint32_t);

// The psect named in an entry (the absolute psect for an empty name) and the
// entry's value in bytes.
static symbol *entry_psect(const obj_sym_entry &e, uint32_t *value)
{
    symbol *P = e.psect[0] ? sym_enter(e.psect, OBJ_PSECT | OBJ_GLOBAL) : abs_psect;
    if (P->ps->delta)
        *value = addr_mul(*value, P->ps->delta, e.name);
    return P;
}

// One definition entry of pass 0 or 1 (kinds 0 global, 2, 7, 8).
static void sym_define_entry(const obj_sym_entry &e, define_fn define)
{
    unsigned k = e.flags & OBJ_KIND_MASK;
    uint32_t value = e.value;
    if (k == SK_INDIRECT) {
        symbol *T = sym_enter(e.psect, OBJ_GLOBAL);
        if (T->psect && T->psect->ps && T->psect->ps->delta)
            value = addr_mul(value, T->psect->ps->delta, e.name);
        define(e.name, T, value, e.flags & 0x1F);
        return;
    }
    symbol *P = entry_psect(e, &value);
    define(e.name, P, value, k == SK_DEFINED ? (e.flags & OBJ_GLOBAL) : (e.flags & 0x1F));
}

// Walks the entries of the current SYM record.
template <typename F> static void sym_each_entry(F handle)
{
    obj_cursor c = cur_of(rec);
    while (!cur_at_end(c)) {
        obj_sym_entry e;
        if (!decode_sym_entry(c, false, &e)) {
            report_bad_record();
            return;
        }
        if ((e.flags & OBJ_KIND_MASK) > SK_INDIRECT) {
            msg_report(515, e.flags & OBJ_KIND_MASK);
            continue;
        }
        handle(e);
    }
}

// Entries that define a symbol: global ordinary and indirect ones, commons
// and kind 7.
static bool sym_is_definition(const obj_sym_entry &e)
{
    unsigned k = e.flags & OBJ_KIND_MASK;
    if (k == SK_ORDINARY || k == SK_INDIRECT)
        return e.flags & OBJ_GLOBAL;
    return k == SK_COMMON || k == SK_DEFINED;
}

void sym_record_pass0()
{
    sym_each_entry([](const obj_sym_entry &e) {
        unsigned k = e.flags & OBJ_KIND_MASK;
        if (sym_is_definition(e))
            sym_define_entry(e, define_symbol_pass0);
        else if (k == SK_UNDEFINED)
            sym_enter(e.name, e.flags & 0x1F);
        else if (k != SK_ORDINARY && k != SK_INDIRECT && (e.flags & OBJ_GLOBAL))
            msg_report(483, e.name);   // stack, register, line and file symbols are module-local
    });
}

void sym_record_pass1()
{
    sym_each_entry([](const obj_sym_entry &e) {
        unsigned k = e.flags & OBJ_KIND_MASK;
        if (sym_is_definition(e)) {
            sym_define_entry(e, define_symbol_pass1);
        } else if (k == SK_FILE && !(e.flags & OBJ_GLOBAL)) {
            current_source = e.name[0] ? xstrdup(e.name) : nullptr;
        } else if (k == SK_LINE && !(e.flags & OBJ_GLOBAL) && current_source) {
            uint32_t value = e.value;
            symbol *P = entry_psect(e, &value);
            uint32_t at = addr_add(value, (P->flags & OBJ_OVERLAID) ? 0 : P->ps->size, e.name);
            line_table.push_back({(uint32_t)strtoul(e.name, nullptr, 10), P, at, current_source});
        }
    });
}

// Value of a module-level symbol in the output: its offset in this module's
// part of the psect, plus the psect's link address once placed.
static uint32_t output_value(const obj_sym_entry &e, symbol *P, uint32_t value)
{
    if (!P)
        return value;
    if (!(P->flags & OBJ_OVERLAID))
        value = addr_add(value, P->ps->size, e.name);
    if (!opt.relocatable && !(P->flags & OBJ_ABSOLUTE))
        value = addr_add(value, psect_base(P), e.name);
    return value;
}

// A module's own symbol goes out unless -X or -S drop them all, or -Z drops
// this trivial one.
static bool local_symbol_written(const char *name)
{
    if (opt.no_locals_X || opt.no_locals_S)
        return false;
    return !(opt.drop_trivial && is_trivial_local(name));
}

// Pass 2: module-level symbols go to the symbol file and the output object.
void sym_record_pass2()
{
    sym_each_entry([](const obj_sym_entry &e) {
        unsigned k = e.flags & OBJ_KIND_MASK;
        bool global = e.flags & OBJ_GLOBAL;
        if (k == SK_INDIRECT || k == SK_COMMON || k == SK_UNDEFINED || k == SK_DEFINED ||
            (k == SK_ORDINARY && global))
            return;
        uint32_t value = e.value;
        symbol *P = e.psect[0] ? entry_psect(e, &value) : nullptr;
        if (k == SK_ORDINARY || k == SK_LINE)
            value = output_value(e, P, value);
        if (local_symbol_written(e.name))
            write_symbol(e.name, value, k, P);
    });
}

// END: this module's contributions become part of the psect sizes.
void end_record_pass1()
{
    end_module_sizes();
    current_source = nullptr;
}

void end_record_pass2()
{
    map_module_block(current_file);
    end_record_pass1();
}

// Pass 2, module start: the module's own symbols, moved into the psect that
// their local psect was merged into and given their link addresses.
void module_start_pass2()
{
    if (!current_mod)
        return;
    for (symbol *s : current_mod->locals) {
        if (!is_plain_symbol(s))
            continue;
        resolve_indirect(s);
        symbol *P = s->psect;
        if (P && P->ps && P->psect && is_psect(P)) {
            s->value = addr_add(s->value, P->ps->link, s->name);
            s->psect = P = P->psect;
        }
        if (P && P->ps && !opt.relocatable && !(P->flags & OBJ_ABSOLUTE))
            s->value = addr_add(s->value, P->ps->link, s->name);
        if (local_symbol_written(s->name))
            write_symbol(s->name, s->value, s->flags & 0xFFFF, P);
    }
}
