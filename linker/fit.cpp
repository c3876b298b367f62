// First-fit allocation: the master list of free class ranges, the search
// that places a psect and the psects chained to it, segments and selectors.
//
// A psect is tried against the ranges of its class in list order. It goes to
// the bottom of a range unless the range is marked TOP (another range of the
// space ends inside it) or top placement is forced. Its chain members are then
// fitted, each within the same block of maximum-size units, into a copy of the
// list; a chain that does not fit is unrolled and tried once more in reverse
// order before the next range is tried. Memory taken is cut out of every
// range of the space, so classes that share memory never overlap.
#include "heron.h"

#include <algorithm>

std::vector<class_range *> master_list;   // free memory of all classes with ranges
std::vector<segment_rec> segments;        // placed runs of psects
std::vector<space_entry> space_table;     // highest end used per space
static uint32_t largest_range;            // longest range of the class last tried

const unsigned MAX_SPACES = 16;

void space_record_end(unsigned space, uint32_t end)
{
    for (space_entry &s : space_table) {
        if (s.space == space) {
            s.end = std::max(s.end, end);
            return;
        }
    }
    if (space_table.size() >= MAX_SPACES) {
        msg_report(525, space);
        return;
    }
    space_table.push_back({(uint8_t)space, end});
}

// True when some psect is in the class: a class no psect uses never learns
// its space, so its ranges cannot make others fill from the top.
static bool class_in_use(const symbol *C)
{
    for (const symbol *P : psect_list)
        if (is_psect(P) && P->ps->class_sym == C)
            return true;
    return false;
}

void build_master_list()
{
    std::vector<const symbol *> used;
    for (symbol *C : range_classes) {
        if (class_in_use(C))
            used.push_back(C);
        for (class_range *r : *C->ps->ranges)
            range_add(master_list, r->cls, r->link, r->length, r->overrun, r->load, false, nullptr);
    }
    auto in_use = [&](const symbol *C) { return std::find(used.begin(), used.end(), C) != used.end(); };
    // A range into which another range of the space reaches with its end is
    // filled from its top, so the two grow towards each other.
    for (class_range *a : master_list)
        for (class_range *b : master_list) {
            if (a == b || a->cls->ps->space != b->cls->ps->space || !in_use(a->cls) || !in_use(b->cls))
                continue;
            uint64_t b_end = (uint64_t)b->load + b->length;
            if (a->load < b_end && b_end < (uint64_t)a->load + a->length)
                a->flags |= RANGE_TOP;
        }
    for (const reserve_area &a : reserve_list)
        range_subtract(master_list, a.start, a.start + a.length, a.space);
}

void unroll_chain(psect_rec *p)
{
    if (p->state == PS_FITTED)
        p->state = PS_UNPLACED;
    for (psect_rec *m : p->chain)
        if (m->state == PS_FITTED)
            unroll_chain(m);
}

// The block of maximum-size units (in bytes) that holds `units`; everything
// when the psect has no maximum size.
static void chain_block(const psect_rec *p, uint32_t units, uint32_t u, uint32_t *low, uint32_t *high)
{
    if (!p->max_size) {
        *low = 0;
        *high = UINT32_MAX;
        return;
    }
    uint64_t start = (uint64_t)(units - units % p->max_size) * u;
    uint64_t end = start + (uint64_t)p->max_size * u - 1;
    *low = (uint32_t)std::min<uint64_t>(start, UINT32_MAX);
    *high = (uint32_t)std::min<uint64_t>(end, UINT32_MAX);
}

static bool fit_members(std::vector<class_range *> &list, psect_rec *p, uint32_t low, uint32_t high,
                        bool reverse)
{
    size_t n = p->chain.size();
    for (size_t i = 0; i < n; i++) {
        psect_rec *m = p->chain[reverse ? n - 1 - i : i];
        if (!fit_psect(list, m, low, high, false))
            return false;
    }
    return true;
}

// A block for o units in range r; false when the range cannot take it.
static bool fit_in_range(const class_range *r, const psect_rec *p, uint32_t o, uint32_t lo, uint32_t hi,
                         bool forced_top, uint32_t *C_out, uint32_t *w_out)
{
    int64_t L = r->length, v = r->overrun, D = r->link, l = r->load;
    int64_t w, C;
    int64_t b = p->boundary;
    bool bottom = o < L && ((int64_t)o <= v || (v == 0 && !(r->flags & RANGE_TOP) && !forced_top));
    if (bottom) {
        w = D;
        C = l;
        if (b && D % b) {
            int64_t gap = b - D % b;
            if (L + v < (int64_t)o + gap)
                return false;
            w += gap;
            C += gap;
        }
        if (C < lo) {
            w += lo - C;
            C = lo;
        }
    } else {
        w = D + L + v - o;
        C = l + L + v - o;
        if (o && C >= l + L) {
            C = l + L - 1;
            w = D + L - 1;
        }
        if (l < hi && (int64_t)o <= (int64_t)hi - l + 1 && C + o - 1 > hi) {
            int64_t d = C + o - 1 - hi;
            C -= d;
            w -= d;
        }
        if (b) {
            int64_t d = ((w % b) + b) % b;
            w -= d;
            C -= d;
            if (w < D || C < l)
                return false;
        }
        if (C < lo)
            return false;
    }
    if ((o && C + o - 1 > hi) || w < D || (o && w + o > D + L) || C < 0 || w < 0)
        return false;
    *C_out = (uint32_t)C;
    *w_out = (uint32_t)w;
    return true;
}

// An already placed psect: its members go into the block that holds it.
static bool fit_placed(std::vector<class_range *> &list, psect_rec *p, uint32_t low, uint32_t high)
{
    uint32_t bytes = psect_bytes(p);
    if (p->load < low || (uint64_t)p->load + bytes - (bytes ? 1 : 0) > high)
        return false;
    uint32_t u = psect_delta(p);
    uint32_t blo, bhi;
    chain_block(p, p->load / u, u, &blo, &bhi);
    if (!fit_members(list, p, blo, bhi, false)) {
        unroll_chain(p);
        return false;
    }
    return true;
}

// Takes block C..C+o of range r for p and fits its chain; true when all fit.
static bool fit_take(std::vector<class_range *> &list, psect_rec *p, uint32_t C, uint32_t w, uint32_t o,
                     uint32_t u)
{
    uint32_t cut = deltas_given ? u : 1;
    uint64_t low = (uint64_t)C * cut, high = ((uint64_t)C + o) * cut;
    if (high > UINT32_MAX)
        return false;
    std::vector<class_range *> copy = range_list_copy(list);
    range_subtract(copy, (uint32_t)low, (uint32_t)high, p->first_space);
    space_record_end(p->first_space, C + o);
    p->state = PS_FITTED;
    uint32_t blo, bhi;
    chain_block(p, C, u, &blo, &bhi);
    bool ok = fit_members(copy, p, blo, bhi, false);
    if (!ok) {
        // The reverse order starts again from the psect's own block alone:
        // in a list still missing the blocks of the first attempt, the
        // member that failed could never fit.
        unroll_chain(p);
        p->state = PS_FITTED;
        range_list_free(copy);
        copy = range_list_copy(list);
        range_subtract(copy, (uint32_t)low, (uint32_t)high, p->first_space);
        ok = fit_members(copy, p, blo, bhi, true);
    }
    if (!ok) {
        unroll_chain(p);
        range_list_free(copy);
        return false;
    }
    p->load = addr_mul(u, C, p->sym->name);
    p->link = addr_mul(addr_mul(u, w, p->sym->name), p->scale, p->sym->name);
    range_list_free(list);
    list = copy;
    return true;
}

bool fit_psect(std::vector<class_range *> &list, psect_rec *p, uint32_t low, uint32_t high, bool forced_top)
{
    if (p->state != PS_UNPLACED)
        return fit_placed(list, p, low, high);
    uint32_t bytes = psect_bytes(p);
    if ((uint64_t)high < (uint64_t)low + bytes)
        return false;
    largest_range = 0;
    for (size_t i = 0; i < list.size(); i++) {
        class_range *r = list[i];
        if (r->cls != p->class_sym)
            continue;
        largest_range = std::max(largest_range, r->length);
        uint32_t u = deltas_given ? range_unit(r) : psect_delta(p);
        uint32_t o = (bytes + u - 1) / u;
        uint32_t lo = low / u;
        uint32_t hi = lo + (high - low) / u;
        if ((uint64_t)o > (uint64_t)r->length + r->overrun)
            continue;
        uint32_t C, w;
        if (!fit_in_range(r, p, o, lo, hi, forced_top, &C, &w))
            continue;
        if (fit_take(list, p, C, w, o, u))
            return true;
    }
    return false;
}

static void class_extend_bounds(psect_rec *c, uint32_t low, uint32_t high)
{
    if (c->low_bound > c->high_bound) {
        c->low_bound = low;
        c->high_bound = high;
        return;
    }
    c->low_bound = std::min(c->low_bound, low);
    c->high_bound = std::max(c->high_bound, high);
}

// Starts a segment with a placed psect; the psect takes its selector.
void segment_start(psect_rec *p, uint32_t length)
{
    segment_rec s{length, p->load, p->link, p->sym->name, 0, p->space, psect_delta(p),
                  p->class_sym ? p->class_sym->name : ""};
    s.selector = segment_selector((unsigned)segments.size(), p, p->load, p->link);
    p->selector = s.selector;
    segments.push_back(s);
}

// Adds a placed psect to the segment list: it extends the segment of its
// space, class and delta that ends where it starts, else it starts one.
static void segment_add(psect_rec *p, uint32_t length)
{
    const char *cls = p->class_sym ? p->class_sym->name : "";
    uint8_t delta = psect_delta(p);
    for (segment_rec &s : segments) {
        if (s.space == p->space && s.class_name == cls && s.delta == delta &&
            (uint64_t)s.load + s.length == p->load) {
            s.length += length;
            p->selector = s.selector;
            return;
        }
    }
    segment_start(p, length);
}

void record_segments(psect_rec *p)
{
    if (p->state != PS_FITTED)
        return;
    uint32_t bytes = psect_bytes(p);
    if (p->class_sym)
        class_extend_bounds(p->class_sym->ps, p->link, p->link + p->size);
    p->state = PS_RECORDED;
    segment_add(p, bytes);
    for (psect_rec *m : p->chain)
        record_segments(m);
}

bool place_in_class(symbol *cls, psect_rec *p, uint32_t low, uint32_t *link, uint32_t *load, bool forced_top)
{
    // The psect is fitted into the named class's ranges, whatever its own class.
    symbol *own = p->class_sym;
    p->class_sym = cls;
    bool placed = fit_psect(master_list, p, low, UINT32_MAX, forced_top);
    p->class_sym = own ? own : cls;
    if (placed) {
        record_segments(p);
        *link = p->link;
        *load = p->load;
        return true;
    }
    uint32_t u = psect_delta(p);
    msg_report(1346, (unsigned)((psect_bytes(p) + u - 1) / u), p->sym->name, cls->name,
               (unsigned long)largest_range);
    p->sym->marks |= MARK_FAILED;
    return false;
}

void claim_psect_memory(psect_rec *p)
{
    uint32_t low = p->load, high = addr_add(p->load, psect_bytes(p), p->sym->name);
    if (!deltas_given) {
        low /= psect_delta(p);
        high /= psect_delta(p);
    }
    range_subtract(master_list, low, high, p->space);
}

uint32_t largest_free_range() { return largest_range; }

// Selector of a segment: the psect's own, else from the -G expression, else
// the load address over the boundary.
uint32_t segment_selector(unsigned number, psect_rec *p, uint32_t load, uint32_t link)
{
    if (p->selector)
        return p->selector;
    if (!opt.selector_given)
        return p->boundary ? load / p->boundary : load;
    const char *text = opt.selector_expr.c_str();
    const char *q = text;
    uint32_t v = 0;
    while (*q) {
        char c = *q++;
        uint32_t n;
        switch (c) {
        case 'A': case 'a': v = load; continue;
        case 'K': case 'k': v = link; continue;
        case 'N': case 'n': v = number; continue;
        case '*': case 'x': case 'X': case '+': case '-': case '/':
            if (parse_number(&q, &n) || (c == '/' && n == 0))
                msg_report(435, text);
            v = c == '+' ? v + n : c == '-' ? v - n : c == '/' ? v / n : v * n;
            continue;
        default:
            msg_report(435, text);
            return v;
        }
    }
    return v;
}
