// The link map: one block per module during pass 2, then the totals per
// class, the segments, the unused address ranges and the symbol table.
//
// The map goes to standard output (reopened on the -M file). Addresses and
// lengths are shown in address units: bytes divided by the delta of the
// psect, segment or class. A bit psect shows its link address and length in
// bits and its load address in bytes. The TOTAL block's columns are read
// back by the driver's memory summary, so its layout is kept exactly.
#include "heron.h"

#include <algorithm>
#include <cstring>

static uint32_t units(const psect_rec *p, uint32_t bytes) { return bytes / psect_delta(p); }

// The heading of the psect listing, written at the end of pass 1.
void map_psect_heading()
{
    if (opt.map)
        map_printf("%16sName          Link     Load   Length Selector Space Scale\n", "");
}

// One module's block at its END record: each psect it puts bytes into.
void map_module_block(const std::string &name)
{
    if (!opt.map)
        return;
    if (name.size() > 15)
        map_printf("%s\n%16s", name.c_str(), "");
    else
        map_printf("%-16.15s", name.c_str());
    bool first = true;
    for (symbol *P : psect_list) {
        psect_rec *p = P->ps;
        if (!is_psect(P) || p->pending == 0 || (P->flags & OBJ_ABSOLUTE && P == abs_psect))
            continue;
        symbol *R = psect_of(P);
        uint32_t offset = (P->flags & OBJ_OVERLAID) ? 0 : p->size;
        uint32_t link = offset, load = (offset + p->scale - 1) / p->scale;
        if (!opt.relocatable) {
            link += psect_base(P);
            load += R->ps->load + (P != R ? p->link : 0);
        }
        map_printf("%s%-9.9s %8lX %8lX %8lX", first ? "" : "                ", R->name,
                   (unsigned long)units(p, link), (unsigned long)units(p, load), (unsigned long)units(p, p->pending));
        map_printf("%8lX  %4X", (unsigned long)p->selector, p->space);
        if (p->scale != 1)
            map_printf(" %4X", p->scale);
        map_printf("\n");
        first = false;
    }
    if (first)
        map_printf("\n");
}

// A psect's length: what the modules put into it, and after that what the
// link laid out there itself (common symbols, the functions' auto and
// parameter blocks), which the second pass does not count again.
static uint32_t psect_length(const psect_rec *p)
{
    return p->size + p->common;
}

static void map_psect_line(const symbol *P)
{
    const psect_rec *p = P->ps;
    map_printf("%16s%-9.9s ", "", P->name);
    if (opt.relocatable)
        map_printf("%8s", "");
    else
        map_printf("%8lX", (unsigned long)units(p, p->link));
    map_printf(" %8lX %8lX %5d\n", (unsigned long)units(p, p->load), (unsigned long)units(p, psect_length(p)), p->space);
}

// Psects with bytes; at debug level every psect.
static bool listed_psect(const symbol *P)
{
    return is_psect(P) && !P->psect && (psect_length(P->ps) != 0 || opt.debug) && P != abs_psect;
}

static void map_commons()
{
    bool any = false;
    for (symbol *P : psect_list)
        any = any || (is_psect(P) && P->ps->has_common);
    if (!any)
        return;
    map_printf("\n%-16.15s", "COMMON");
    bool first = true;
    for (symbol *P : psect_list) {
        psect_rec *p = P->ps;
        if (!is_psect(P) || !p->has_common)
            continue;
        uint32_t size = p->common;
        if (p->boundary && !(P->flags & OBJ_BOUNDARY_HIGH) && size % p->boundary)
            size += p->boundary - size % p->boundary;
        map_printf("%s%-9.9s %8lX %8lX %8lX%8lX  %4X\n", first ? "" : "                ", P->name,
                   (unsigned long)units(p, p->link), (unsigned long)units(p, p->load),
                   (unsigned long)units(p, size), (unsigned long)p->selector, p->space);
        first = false;
    }
}

// A four-character class "ABS<digit>" shows the RESERVE areas of that space.
static bool is_abs_class(const symbol *C)
{
    return !reserve_list.empty() && strlen(C->name) == 4 && strncmp(C->name, "ABS", 3) == 0;
}

static void map_reserved(const symbol *C)
{
    unsigned space = (unsigned)(C->name[3] - '0');
    std::vector<reserve_area> areas;
    for (const reserve_area &a : reserve_list)
        if (a.space == space)
            areas.push_back(a);
    std::stable_sort(areas.begin(), areas.end(),
                     [](const reserve_area &a, const reserve_area &b) { return a.start < b.start; });
    for (size_t i = 0; i < areas.size(); i++) {
        reserve_area r = areas[i];
        while (i + 1 < areas.size() && (areas[i + 1].start == r.start + r.length || areas[i + 1].start == r.start)) {
            i++;
            if (areas[i].start == r.start)
                r.length = std::max(r.length, areas[i].length);
            else
                r.length += areas[i].length;
        }
        std::string name = str_printf("abs_s%u", space);
        map_printf("%16s%-9.9s %8lX %8lX %8lX %5u\n", "", name.c_str(), (unsigned long)r.start,
                   (unsigned long)r.start, (unsigned long)r.length, space);
    }
}

static void map_totals()
{
    map_printf("\nTOTAL           Name          Link     Load   Length  Space\n");
    for (symbol *C : psect_list) {
        if (!is_class(C))
            continue;
        map_printf("        CLASS   %-15.15s", C->name);
        const psect_rec *c = C->ps;
        if (opt.debug && c->low_bound < c->high_bound)
            map_printf(" Bounds: %lX-%lX", (unsigned long)units(c, c->low_bound),
                       (unsigned long)(units(c, c->high_bound) - 1));
        map_printf("\n");
        if (is_abs_class(C))
            map_reserved(C);
        for (symbol *P : psect_list)
            if (listed_psect(P) && P->ps->class_sym == C)
                map_psect_line(P);
        map_printf("\n");
    }
    bool heading = false;
    for (symbol *P : psect_list) {
        if (!listed_psect(P) || P->ps->class_sym)
            continue;
        if (!heading)
            map_printf("        NON-CLASSED\n");
        heading = true;
        map_psect_line(P);
    }
}

static void map_segments()
{
    map_printf("\n\nSEGMENTS        Name           Load    Length   Top     Selector    Space Class%s\n\n",
               deltas_given ? " Delta" : "");
    std::vector<const segment_rec *> list;
    for (const segment_rec &s : segments)
        if (s.length)
            list.push_back(&s);
    std::stable_sort(list.begin(), list.end(), [](const segment_rec *a, const segment_rec *b) { return a->load < b->load; });
    for (const segment_rec *s : list) {
        uint32_t d = s->delta ? s->delta : 1;
        map_printf("%16s%-15.15s %6.6lX  %6.6lX  %6.6lX  %8lX     %3d  %-8.8s", "", s->name.c_str(),
                   (unsigned long)(s->load / d), (unsigned long)(s->length / d),
                   (unsigned long)((s->load + s->length) / d), (unsigned long)s->selector, s->space,
                   s->class_name.c_str());
        if (deltas_given)
            map_printf("%5u", d);
        map_printf("\n");
    }
}

static unsigned hex_digits(uint32_t v)
{
    unsigned n = 1;
    while (v >>= 4)
        n++;
    return n;
}

// The value of a symbol in address units of its psect.
static uint32_t symbol_units(const symbol *s)
{
    return s->psect && s->psect->ps ? s->value / psect_delta(s->psect->ps) : s->value;
}

static bool map_listed_symbol(const symbol *s)
{
    return is_plain_symbol(s) && strncmp(s->name, "fast_interrupt", 14) != 0;
}

static unsigned map_digit_width()
{
    uint32_t largest = 0;
    for (unsigned i = 0; i < SYM_TABLE_SIZE; i++)
        if (sym_table[i] && is_plain_symbol(sym_table[i]) && strcmp(sym_table[i]->name, "fast_interrupt") != 0)
            largest = std::max(largest, symbol_units(sym_table[i]));
    return hex_digits(largest);
}

static void map_unused_ranges(unsigned width)
{
    std::vector<const class_range *> list;
    for (const class_range *r : master_list)
        if (r->length && !is_abs_class(r->cls))
            list.push_back(r);
    if (list.empty())
        return;
    std::stable_sort(list.begin(), list.end(), [](const class_range *a, const class_range *b) {
        int c = strcmp(a->cls->name, b->cls->name);
        return c != 0 ? c < 0 : a->load < b->load;
    });
    map_printf("\nUNUSED ADDRESS RANGES\n\n");
    const symbol *last_class = nullptr;
    uint32_t last_first = 0, last_end = 0;   // the line before
    for (size_t i = 0; i < list.size(); i++) {
        const class_range *r = list[i];
        uint32_t first = r->load, end = r->load + r->length;
        while (i + 1 < list.size() && list[i + 1]->cls == r->cls && !list[i]->overrun && list[i + 1]->load == end) {
            i++;
            end = list[i]->load + list[i]->length;
        }
        if (last_class && first == last_first && end == last_end)
            continue;   // the same range again
        last_first = first;
        last_end = end;
        if (r->cls != last_class)
            map_printf("        %-16.16s ", r->cls->name);
        else
            map_printf("%24s ", "");
        last_class = r->cls;
        map_printf("%*.*lX-%*.*lX", (int)width, (int)width, (unsigned long)first, (int)width, (int)width,
                   (unsigned long)(end - 1));
        if (list[i]->overrun)
            map_printf("+%*.*lX", (int)width, (int)width, (unsigned long)list[i]->overrun);
        if (deltas_given && r->cls->ps->delta)
            map_printf(" %*s%u", list[i]->overrun ? 0 : (int)width, "", r->cls->ps->delta);
        map_printf("\n");
    }
}

static int symbol_order(const void *a, const void *b)
{
    const symbol *x = *(const symbol *const *)a;
    const symbol *y = *(const symbol *const *)b;
    if (opt.map_sort) {
        uint32_t vx = symbol_units(x), vy = symbol_units(y);
        if (vx != vy)
            return vx < vy ? -1 : 1;
    }
    return strcmp(x->name, y->name);
}

static unsigned psect_width;   // longest psect or class name

static void map_entry(const symbol *s, unsigned width)
{
    map_printf("%-*s", (int)longest_name, s->name);
    if (sym_kind(s) == SK_UNDEFINED && (!s->psect || s->psect == abs_psect)) {
        map_printf("%*s", (int)(width + psect_width + 2), "");
        return;
    }
    const char *psect = s->psect ? s->psect->name : "";
    if (opt.wide_map)
        map_printf(" %-*s %4.4lX:%*.*lX", (int)psect_width, psect,
                   (unsigned long)(s->psect && s->psect->ps ? s->psect->ps->selector & 0xFFFF : 0),
                   (int)(width - 5), (int)(width - 5), (unsigned long)s->value);
    else
        map_printf(" %-*s %*.*lX", (int)psect_width, psect, (int)width, (int)width,
                   (unsigned long)symbol_units(s));
}

// One group of symbols, one per line, indented by 8 blanks.
static void map_group(std::vector<symbol *> group, unsigned width)
{
    if (!group.empty())
        os_qsort(group.data(), group.size(), sizeof group[0], symbol_order);
    for (symbol *s : group) {
        map_printf("%8s", "");
        map_entry(s, width);
        map_printf("\n");
    }
}

static std::vector<symbol *> symbols_where(const std::vector<symbol *> &all, bool (*keep)(const symbol *, const void *),
                                           const void *ctx)
{
    std::vector<symbol *> out;
    for (symbol *s : all)
        if (keep(s, ctx))
            out.push_back(s);
    return out;
}

static bool in_class(const symbol *s, const void *cls)
{
    return s->psect && s->psect->ps && s->psect->ps->class_sym == cls;
}

static bool in_psect(const symbol *s, const void *psect) { return s->psect == psect; }

static bool in_space(const symbol *s, const void *space)
{
    return s->psect && s->psect->ps && s->psect->ps->space == *(const unsigned *)space;
}

static void map_symbols(unsigned width)
{
    std::vector<symbol *> list;
    psect_width = 0;
    for (unsigned i = 0; i < SYM_TABLE_SIZE; i++) {
        symbol *s = sym_table[i];
        if (!s)
            continue;
        if (!is_plain_symbol(s))
            psect_width = std::max(psect_width, (unsigned)strlen(s->name));
        else if (map_listed_symbol(s))
            list.push_back(s);
    }
    map_printf("\n");
    if (opt.map_width > 12)
        map_printf("%*s", (int)((opt.map_width - 12) / 2), "");
    map_printf("Symbol Table\n\n");
    if (opt.map_sort == 3) {
        for (symbol *C : psect_list)
            if (is_class(C)) {
                map_printf("\nCLASS   %-15.15s\n", C->name);
                map_group(symbols_where(list, in_class, C), width);
            }
        for (symbol *P : psect_list)
            if (is_psect(P) && !P->ps->class_sym && !P->psect) {
                map_printf("\nPSECT   %-9.9s\n", P->name);
                map_group(symbols_where(list, in_psect, P), width);
            }
        return;
    }
    if (opt.map_sort == 2) {
        for (unsigned space = 0;; space++) {
            std::vector<symbol *> group = symbols_where(list, in_space, &space);
            if (group.empty())
                break;
            map_printf("\nSPACE   %u\n", space);
            map_group(group, width);
        }
        return;
    }
    if (!list.empty())
        os_qsort(list.data(), list.size(), sizeof list[0], symbol_order);
    unsigned entry = longest_name + psect_width + width + 3;
    unsigned per_line = std::max(1u, (opt.map_width - 1) / std::max(1u, entry));
    unsigned column = 0;
    for (symbol *s : list) {
        map_entry(s, width);
        if (++column == per_line) {
            map_printf("\n");
            column = 0;
        } else {
            map_printf("  ");
        }
    }
    if (column)
        map_printf("\n");
}

// The end of the map, after the last module of pass 2.
void write_map()
{
    if (!opt.map)
        return;
    map_commons();
    map_totals();
    map_segments();
    unsigned width = map_digit_width();
    map_printf("\n");
    map_unused_ranges(width);
    map_symbols(opt.wide_map ? width + 5 : width);
}
