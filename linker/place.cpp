// Placement at the end of pass 1: every psect gets its link and load address.
//
// Order: common symbols are laid out in their psects; module-local psects of
// one name are merged where their class has no ranges; the master list of
// free class ranges is built; -P items are placed as written; psects left
// over whose class has ranges are placed by first fit, largest chains first;
// what still has no place is laid one after another from 0. Then the symbol
// values become addresses, the link symbols (__L, __H, __B, __S) are
// defined, undefined symbols are reported, and the global symbols, segments
// and symbol-file sections are written.
#include "heron.h"

#include <algorithm>
#include <cstring>

static uint32_t defcat_pos;   // running position of default catenation, bytes

static uint32_t round_up(uint32_t v, uint32_t to)
{
    if (!to || v % to == 0)
        return v;
    return addr_add(v, to - v % to, "round");
}

// Calls fn for every plain symbol: the global table in slot order, then each
// module's own symbols in input order.
template <typename F> static void each_symbol(F fn)
{
    for (unsigned i = 0; i < SYM_TABLE_SIZE; i++)
        if (sym_table[i] && is_plain_symbol(sym_table[i]))
            fn(sym_table[i]);
    for (input_file &in : inputs) {
        std::vector<module_rec *> mods = in.modules;
        if (in.module)
            mods.push_back(in.module);
        for (module_rec *m : mods)
            if (m)
                for (symbol *s : m->locals)
                    fn(s);
    }
}

// Step 1: each common symbol gets an offset after its psect's contents.
static void layout_commons()
{
    each_symbol([](symbol *S) {
        if (sym_kind(S) != SK_COMMON || !S->psect || !S->psect->ps)
            return;
        symbol *P = S->psect;
        psect_rec *p = P->ps;
        bool align = p->boundary && !(P->flags & OBJ_BOUNDARY_HIGH);
        if (!p->has_common && align)
            p->size = round_up(p->size, p->boundary);
        p->has_common = true;
        uint32_t size = S->value;
        uint32_t to = align ? (size < p->boundary ? size : p->boundary) : 0;
        uint32_t offset = round_up(p->common, to);
        S->value = addr_add(offset, p->size, S->name);
        S->flags = (S->flags & ~OBJ_KIND_MASK) | SK_ORDINARY | OBJ_GLOBAL;
        p->common = addr_add(offset, size, S->name);
        p->pending = p->common;
    });
    end_module_sizes();
}

// Step 2: module-local psects of one name and shape continue one another.
static void merge_local_psects()
{
    std::vector<symbol *> roots;
    for (symbol *P : psect_list) {
        psect_rec *p = P->ps;
        if (!p->delta && is_psect(P))
            p->delta = 1;
        uint32_t limit = space_limit(p->space);
        if (limit && (!p->limit || limit < p->limit))
            p->limit = limit;
        if (!is_psect(P) || (P->flags & OBJ_GLOBAL) || P->psect)
            continue;
        if (p->class_sym && p->class_sym->ps->ranges)
            continue;
        symbol *root = nullptr;
        for (symbol *R : roots) {
            psect_rec *r = R->ps;
            if (strcmp(R->name, P->name) == 0 && r->class_sym == p->class_sym && r->max_size == p->max_size &&
                r->boundary == p->boundary && (!r->max_size || (uint64_t)r->size + p->size <= r->max_size)) {
                root = R;
                break;
            }
        }
        if (!root) {
            roots.push_back(P);
            continue;
        }
        P->psect = root;
        p->merged_local = true;
        p->link = root->ps->size;
        root->ps->size = addr_add(root->ps->size, p->size, P->name);
    }
}

static bool is_merged(const symbol *P) { return is_psect(P) && P->psect; }

// Step 6: psects left over whose class has ranges, largest chains first.
static uint32_t chain_total(psect_rec *p)
{
    uint32_t total = p->size;
    for (psect_rec *m : p->chain) {
        m->in_chain = true;
        total = addr_add(total, chain_total(m), m->sym->name);
    }
    p->chain_total = total;
    return total;
}

static int alloc_order(const void *a, const void *b)
{
    const psect_rec *p = *(psect_rec *const *)a;
    const psect_rec *q = *(psect_rec *const *)b;
    if ((p->state == PS_PLACED) != (q->state == PS_PLACED))
        return p->state == PS_PLACED ? -1 : 1;
    if (p->in_chain != q->in_chain)
        return p->in_chain ? 1 : -1;
    if (p->chain.empty() != q->chain.empty())
        return p->chain.empty() ? 1 : -1;
    if (p->chain_total != q->chain_total)
        return p->chain_total > q->chain_total ? -1 : 1;
    if (p->chain.size() != q->chain.size())
        return p->chain.size() > q->chain.size() ? -1 : 1;
    return 0;
}

static void allocate_by_first_fit()
{
    std::vector<psect_rec *> list;
    for (symbol *P : psect_list) {
        psect_rec *p = P->ps;
        if (!is_psect(P) || (P->flags & OBJ_ABSOLUTE) || is_merged(P))
            continue;
        bool ranged = p->class_sym && p->class_sym->ps->ranges;
        if ((!p->chain.empty() && p->state != PS_RECORDED) || (p->state == PS_UNPLACED && ranged))
            list.push_back(p);
    }
    for (psect_rec *p : list)
        chain_total(p);
    if (!list.empty())
        os_qsort(list.data(), list.size(), sizeof list[0], alloc_order);
    for (psect_rec *p : list) {
        if (p->state != PS_UNPLACED && (p->chain.empty() || p->state == PS_RECORDED))
            continue;
        if (fit_psect(master_list, p, 0, UINT32_MAX, false)) {
            record_segments(p);
            continue;
        }
        uint32_t u = psect_delta(p);
        msg_report(1347, (unsigned)((psect_bytes(p) + u - 1) / u), (unsigned)((p->chain_total + u - 1) / u),
                   p->sym->name, p->class_sym ? p->class_sym->name : "", (unsigned long)largest_free_range());
        p->sym->marks |= MARK_FAILED;
    }
}

void default_catenate(psect_rec *p)
{
    symbol *P = p->sym;
    if (p->state != PS_UNPLACED)
        msg_report(436, P->name);
    if (P->flags & OBJ_ABSOLUTE)
        return;
    if (p->size && !(P->marks & MARK_FAILED))
        msg_report(526, P->name, module_display_name(P));
    uint32_t d = psect_delta(p);
    defcat_pos = round_up(defcat_pos, addr_mul(p->boundary, d, P->name));
    p->link = addr_mul(defcat_pos, p->scale, P->name);
    p->load = defcat_pos;
    defcat_pos = addr_add(defcat_pos, psect_bytes(p), P->name);
    p->state = PS_PLACED;
    claim_psect_memory(p);
}

// Step 9: what is still unplaced.
static void place_leftovers()
{
    for (symbol *P : psect_list) {
        psect_rec *p = P->ps;
        if (is_class(P)) {
            if (p->ranges)
                continue;
            for (symbol *Q : psect_list)
                if (is_psect(Q) && Q->ps->class_sym == P && Q->ps->state == PS_UNPLACED && !is_merged(Q) &&
                    !(Q->flags & OBJ_ABSOLUTE))
                    default_catenate(Q->ps);
            continue;
        }
        if (p->state != PS_UNPLACED || is_merged(P))
            continue;
        if ((P->flags & OBJ_ABSOLUTE) && (P->flags & SF_BOUNDS)) {
            p->link = p->load = p->low_bound;
            p->size = p->high_bound - p->low_bound;
            p->state = PS_PLACED;
        } else if (!(P->flags & OBJ_ABSOLUTE) && !(p->class_sym && p->class_sym->ps->ranges)) {
            default_catenate(p);
        }
    }
}

// Step 8: sizes and address limits.
static void check_limits()
{
    for (symbol *P : psect_list) {
        psect_rec *p = P->ps;
        if (!is_psect(P) || is_merged(P))
            continue;
        uint32_t d = psect_delta(p);
        uint32_t units = (psect_bytes(p) + d - 1) / d;
        if (p->max_size && p->max_size < units) {
            msg_report(497, P->name, (unsigned long)units, (unsigned long)p->max_size);
            output_suppressed = true;
        }
        uint64_t end = (uint64_t)p->link / p->scale / d + units;
        if (p->limit && p->limit < end)
            msg_report(498, P->name, (unsigned long)end, (unsigned long)p->limit);
    }
}

// Step 7: symbol values become addresses.
static void symbols_to_addresses()
{
    for (unsigned i = 0; i < SYM_TABLE_SIZE; i++) {
        symbol *S = sym_table[i];
        if (!S || !is_plain_symbol(S) || !S->psect || !S->psect->ps || !is_psect(S->psect))
            continue;
        symbol *P = S->psect;
        if (P->flags & OBJ_ABSOLUTE)
            continue;
        S->value = addr_add(S->value, psect_base(P), S->name);
        S->psect = psect_of(P);
    }
    for (unsigned i = 0; i < SYM_TABLE_SIZE; i++)
        if (sym_table[i] && sym_kind(sym_table[i]) == SK_INDIRECT)
            resolve_indirect(sym_table[i]);
}

// Line-number symbols: their offsets become addresses, in address order.
void line_table_place()
{
    for (line_entry &e : line_table)
        if (!(e.psect->flags & OBJ_ABSOLUTE))
            e.address = addr_add(e.address, psect_base(e.psect), e.file);
    std::sort(line_table.begin(), line_table.end(), [](const line_entry &a, const line_entry &b) {
        return a.address != b.address ? a.address < b.address : a.line < b.line;
    });
}

// The last line at or below the address, when the next one lies above it.
const line_entry *line_at(uint32_t address)
{
    auto after = std::upper_bound(line_table.begin(), line_table.end(), address,
                                  [](uint32_t a, const line_entry &e) { return a < e.address; });
    if (after == line_table.begin())
        return nullptr;
    return &*(after - 1);
}

static void define_psect_link_symbols(symbol *P)
{
    psect_rec *p = P->ps;
    std::string name = P->name;
    if (is_psect(P)) {
        // placed module by module: the bounds are those of its pieces,
        // each in its own units
        symbol *L = P, *H = P;
        uint32_t low = p->link, high = addr_add(p->link, p->size, P->name);
        for (symbol *Q : psect_list) {
            if (!is_psect(Q) || Q->ps->localised_from != P || (Q->marks & MARK_FAILED))
                continue;
            uint32_t base = psect_base(Q), end = addr_add(base, Q->ps->size, Q->name);
            if (L == P || base < low)
                L = Q, low = base;
            if (H == P || end > high)
                H = Q, high = end;
        }
        define_link_symbol(("__L" + name).c_str(), L, low, OBJ_GLOBAL);
        define_link_symbol(("__H" + name).c_str(), H, high, OBJ_GLOBAL);
        if (p->load != p->link || (P->marks & MARK_LOAD_GIVEN))
            define_link_symbol(("__B" + name).c_str(), P, p->load - p->link, OBJ_GLOBAL);
        return;
    }
    // A class: only the bounds the program refers to.
    const char *prefix[] = {"__L", "__H"};
    for (int i = 0; i < 2; i++) {
        std::string s = prefix[i] + name;
        symbol *S = find_symbol(s.c_str(), OBJ_GLOBAL);
        bool placed = p->low_bound <= p->high_bound;
        if (S && sym_kind(S) == SK_UNDEFINED)
            define_link_symbol(s.c_str(), abs_psect, placed ? (i ? p->high_bound : p->low_bound) : 0, OBJ_GLOBAL);
    }
}

// Steps 10 and 11: relocatable size records, or the link symbols.
static void psect_outputs()
{
    for (symbol *P : psect_list) {
        psect_rec *p = P->ps;
        if (opt.relocatable) {
            if (is_psect(P)) {
                obj_builder b;
                build_start(b);
                build_u32(b, p->size);
                build_name(b, P->name);
                write_record(REC_TEXT, b.length, b.body);
            }
        } else if (!opt.symbols_only && (P->flags & OBJ_GLOBAL) && P != abs_psect && !is_merged(P)) {
            define_psect_link_symbols(P);
        }
    }
    for (symbol *P : psect_list)
        P->ps->size = 0;
    if (opt.relocatable)
        return;
    for (const space_entry &s : space_table)
        define_link_symbol(str_printf("__S%d", s.space).c_str(), abs_psect, s.end, OBJ_GLOBAL);
}

// Step 12: every undefined symbol, then each is bound to the absolute psect.
static void report_undefined()
{
    std::vector<symbol *> globals, locals;
    each_symbol([&](symbol *S) {
        if (sym_kind(S) == SK_UNDEFINED && !S->psect)
            (S->flags & OBJ_GLOBAL ? globals : locals).push_back(S);
    });
    size_t n = globals.size() + locals.size();
    if (n == 0)
        return;
    if (opt.undefined_warn)
        msg_report(n == 1 ? 594 : 595);
    else
        msg_report(n == 1 ? 499 : 500);
    for (symbol *S : globals)
        msg_print_part(0, "%s(%s) ", S->name, module_display_name(S));
    for (symbol *S : locals)
        msg_print_part(0, "%s (%s) ", S->name, module_display_name(S));
    msg_print_part(1, "%s", "");
    for (symbol *S : globals)
        S->psect = abs_psect;
}

// Step 13: SEGMENT records (-G) and the symbol-file sections.
static void write_segments()
{
    if (opt.selector_given && !opt.binary) {
        obj_builder b;
        build_start(b);
        for (const segment_rec &s : segments) {
            obj_segment_entry e{s.length, s.load, (uint16_t)s.selector, s.link, s.name.c_str()};
            if (!build_fits(b, 17 + (unsigned)s.name.size())) {
                write_record(REC_SEGMENT, b.length, b.body);
                build_start(b);
            }
            build_segment_entry(b, e);
        }
        if (b.length)
            write_record(REC_SEGMENT, b.length, b.body);
    }
    if (!sym_file || !opt.sym_full)
        return;
    if (avmap_loaded) {
        for (const segment_rec &s : segments) {
            uint32_t d = s.delta ? s.delta : 1;
            if (s.length)
                fprintf(sym_file, "SG %s %s:%lX %lX\n", s.name.c_str(), avmap_lookup(s.name.c_str()),
                        (unsigned long)(s.link / d), (unsigned long)((s.link + s.length) / d - 1));
        }
        return;
    }
    if (opt.sym_classes) {
        fprintf(sym_file, "%%segments\n");
        for (const segment_rec &s : segments) {
            if (!s.length)
                continue;
            uint32_t d = s.delta ? s.delta : 1;
            fprintf(sym_file, "%s %lX %lX %s %lX\n", s.name.c_str(), (unsigned long)(s.link / d),
                    (unsigned long)((s.link + s.length) / d - 1), s.class_name.c_str(), (unsigned long)(s.load / d));
        }
    }
    fprintf(sym_file, "%%locals\n");
}

// Step 14: segments of one space that share memory.
static void check_overlaps()
{
    for (size_t i = 0; i < segments.size(); i++)
        for (size_t j = i + 1; j < segments.size(); j++) {
            const segment_rec &a = segments[i], &b = segments[j];
            if (!a.length || !b.length || a.space != b.space)
                continue;
            if ((uint64_t)a.load < (uint64_t)b.load + b.length && (uint64_t)b.load < (uint64_t)a.load + a.length)
                msg_report(596, a.name.c_str(), (unsigned long)a.load, (unsigned long)(a.load + a.length - 1),
                           b.name.c_str(), (unsigned long)b.load, (unsigned long)(b.load + b.length - 1));
        }
}

void allocate_psects()
{
    print_call_graph();             // function blocks leave their psect's size pending
    if (!opt.avmap_name.empty())
        read_avmap(machine_name, opt.avmap_name);
    layout_commons();
    merge_local_psects();
    build_master_list();
    for (symbol *P : psect_list)
        if (is_psect(P) && (P->flags & SF_BOUNDS))
            range_subtract(master_list, P->ps->low_bound, P->ps->high_bound, P->ps->space);
    if (!opt.relocatable)
        place_by_p_options();       // as the -P options say, in order
    allocate_by_first_fit();        // psects left over whose class has ranges
    place_leftovers();              // the rest one after another from 0
    check_limits();
    symbols_to_addresses();         // every psect has its address from here on
    line_table_place();
    psect_outputs();
    if (!opt.relocatable)
        report_undefined();
    write_global_symbols();
    flush_output_record();
    write_call_graph_records();      // -R: after the symbols the graph names
    write_segments();
    check_overlaps();
    map_psect_heading();
}
