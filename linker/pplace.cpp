// Placement by -P options, item by item in the order written.
//
// Item: name[+name...][=link][+minimum][%alignment][/load][+minimum]. The link
// part is a class (first fit in it; "-class" from its top), a psect (right
// after it), a number (that address) or "." (the load address); without it the
// item follows the one before. The load part is "." (the link address), a
// class, a psect, a number or "%alignment"; without it the load address
// follows the link address's kind. Numbers are address units of the psect;
// link and load addresses are kept in bytes.
#include "heron.h"

#include <algorithm>
#include <cctype>
#include <cstring>

enum place_kind { PK_UNKNOWN, PK_CATENATE, PK_EXPLICIT, PK_INCLASS, PK_AFTER, PK_ASLINK };

struct p_item {
    symbol *head;                    // first psect, or the class of a class item
    std::vector<symbol *> joined;    // psects of the item in order (head first)
    int link_kind;
    bool downward;                   // "=-...": placed below
    uint32_t link_value;             // EXPLICIT address (units)
    symbol *link_ref;                // INCLASS class or AFTER psect
    bool has_min;
    uint32_t minimum;
    bool has_align;
    uint32_t align;
    bool has_load;                   // a "/" part was written
    int load_kind;
    uint32_t load_value;
    symbol *load_ref;
    bool load_align_given;
    uint32_t load_align;
    bool has_load_min;
    uint32_t load_min;
};

static uint32_t run_link;      // where the next catenated item starts (bytes)
static uint32_t run_load;
static bool run_down;          // the current -P text places downwards

static uint32_t round_to(uint32_t v, uint32_t to)
{
    return to && v % to ? addr_add(v, to - v % to, "-P") : v;
}

// An address below another: below 0 is no address.
static uint32_t address_below(uint32_t top, uint32_t bytes, const char *name)
{
    if (top < bytes) {
        msg_report(1391, name);
        return 0;
    }
    return top - bytes;
}

static bool name_start(char c) { return isalpha((unsigned char)c) || c == '_'; }

static std::string read_name(const char **p, const char *stops)
{
    const char *s = *p;
    while (**p && !strchr(stops, **p))
        (*p)++;
    return std::string(s, (size_t)(*p - s));
}

static symbol *psect_named(const std::string &n) { return find_symbol(n.c_str(), OBJ_PSECT | OBJ_GLOBAL); }
static symbol *class_named(const std::string &n) { return find_symbol(n.c_str(), OBJ_CLASS | OBJ_GLOBAL); }

// A psect that -P may place; fatal when it does not exist.
static symbol *item_psect(const std::string &name, bool *is_class)
{
    symbol *P = psect_named(name);
    *is_class = false;
    if (!P) {
        P = class_named(name);
        *is_class = P != nullptr;
    }
    if (!P)
        msg_report(450, name.c_str());
    if (!*is_class && (P->flags & OBJ_ABSOLUTE))
        msg_report(492, P->name);
    else if (!*is_class && P->ps->state != PS_UNPLACED)
        msg_report(493, P->name);
    return P;
}

// A class, psect or number after "=" or "/".
static void read_target(const char **p, int *kind, uint32_t *value, symbol **ref, bool load_side)
{
    if (name_start(**p)) {
        const char *save = *p;
        std::string n;
        while (isalnum((unsigned char)**p) || **p == '_')
            n += *(*p)++;
        if ((*ref = class_named(n)) != nullptr) {
            *kind = PK_INCLASS;
            return;
        }
        if ((*ref = psect_named(n)) != nullptr) {
            *kind = PK_AFTER;
            return;
        }
        *p = save;
    }
    if (parse_number(p, value) == 0) {
        *kind = PK_EXPLICIT;
        return;
    }
    if (!load_side)
        msg_report(451);
    *kind = PK_CATENATE;
}

// "+minimum"; joined names have been read before, so any "+" here is one.
static bool read_minimum(const char **p, uint32_t *out)
{
    if (**p != '+')
        return false;
    (*p)++;
    if (parse_number(p, out))
        msg_report(452);
    return true;
}

static void parse_link_part(const char **p, p_item *it)
{
    if (**p != '=')
        return;
    (*p)++;
    if (**p == '-') {
        it->downward = true;
        (*p)++;
    }
    if (**p == '.') {
        it->link_kind = PK_ASLINK;
        (*p)++;
        return;
    }
    read_target(p, &it->link_kind, &it->link_value, &it->link_ref, false);
}

static void parse_load_part(const char **p, p_item *it)
{
    if (**p != '/')
        return;
    (*p)++;
    it->has_load = true;
    if (**p == '%') {
        (*p)++;
        if (parse_number(p, &it->load_align))
            msg_report(453);
        it->load_align_given = true;
        it->load_kind = PK_CATENATE;
    } else if (**p == '.') {
        (*p)++;
        if (it->link_kind == PK_ASLINK)
            msg_report(454);
        it->load_kind = PK_ASLINK;
    } else {
        read_target(p, &it->load_kind, &it->load_value, &it->load_ref, true);
    }
    it->has_load_min = read_minimum(p, &it->load_min);
}

static void parse_item(const char **p, p_item *it)
{
    bool is_class;
    it->head = item_psect(read_name(p, "=,/+%"), &is_class);
    if (!is_class)
        it->joined.push_back(it->head);
    while (**p == '+' && name_start((*p)[1])) {
        (*p)++;
        bool c;
        symbol *J = item_psect(read_name(p, "=,/+%"), &c);
        if (!c && std::find(it->joined.begin(), it->joined.end(), J) != it->joined.end())
            msg_report(493, J->name);   // one psect cannot follow itself
        else if (!c)
            it->joined.push_back(J);
    }
    it->link_kind = PK_CATENATE;
    it->load_kind = PK_UNKNOWN;
    parse_link_part(p, it);
    it->has_min = read_minimum(p, &it->minimum);
    if (**p == '%') {
        (*p)++;
        if (parse_number(p, &it->align))
            msg_report(453);
        it->has_align = true;
    }
    parse_load_part(p, it);
    if (!it->has_min)
        it->has_min = read_minimum(p, &it->minimum);
}

// Adds the item's bytes to the segment list: a catenated item that starts
// where the last segment ends extends it.
static void item_segment(psect_rec *p, uint32_t bytes, bool catenated, bool always_extend)
{
    uint32_t d = psect_delta(p);
    if (!segments.empty() && catenated) {
        segment_rec &s = segments.back();
        uint32_t end = round_to(s.load + s.length, addr_mul(p->boundary, d, p->sym->name));
        if (always_extend || end == p->load) {
            s.length += always_extend ? round_to(bytes, p->boundary * d) : bytes;
            p->selector = s.selector;
            return;
        }
    }
    segment_start(p, bytes);
}

static uint32_t item_bytes(const std::vector<symbol *> &list)
{
    uint32_t n = 0;
    for (symbol *P : list)
        n = addr_add(n, psect_bytes(P->ps), P->name);
    return n;
}

static void item_check_boundary(psect_rec *p)
{
    uint32_t d = psect_delta(p);
    if (!p->boundary)
        return;
    if ((p->link / p->scale / d) % p->boundary)
        msg_report(455, p->sym->name, (unsigned)p->boundary);
    if (!(p->sym->flags & OBJ_BOUNDARY_HIGH) && (p->load / d) % p->boundary)
        msg_report(456, p->sym->name, (unsigned)p->boundary);
}

// The link address of an item that is not placed by first fit.
static uint32_t item_link(const p_item &it, psect_rec *p, uint32_t bytes)
{
    uint32_t d = psect_delta(p);
    switch (it.link_kind) {
    case PK_EXPLICIT: {
        // Placed downwards, the item ends where an upward one would start.
        uint32_t at = addr_mul(it.link_value, d, p->sym->name);
        return it.downward ? address_below(at, bytes, p->sym->name) : at;
    }
    case PK_AFTER: {
        psect_rec *q = it.link_ref->ps;
        uint32_t end = addr_add(q->link / q->scale, psect_bytes(q), q->sym->name);
        return round_to(end, addr_mul(p->boundary, d, p->sym->name));
    }
    default:
        // A psect with a boundary that follows the one before it starts on
        // its next boundary, as psects placed by class and by default do;
        // taken where the chain stands, it would always fail the boundary
        // check below.
        return run_down ? address_below(run_link, bytes, p->sym->name) : round_to(run_link, addr_mul(p->boundary, d, p->sym->name));
    }
}

static uint32_t item_load(const p_item &it, psect_rec *p, uint32_t link, uint32_t bytes)
{
    uint32_t d = psect_delta(p);
    int kind = it.has_load ? it.load_kind : it.link_kind;
    switch (kind) {
    case PK_EXPLICIT:
        return it.has_load ? addr_mul(it.load_value, d, p->sym->name) : link;
    case PK_AFTER: {
        psect_rec *q = (it.has_load ? it.load_ref : it.link_ref)->ps;
        return q->load + psect_bytes(q);
    }
    case PK_ASLINK:
        return link;
    default:
        if (it.load_align_given)
            return round_to(run_load, addr_mul(it.load_align, d, p->sym->name));
        if (run_down)
            return address_below(run_load, bytes, p->sym->name);
        return it.link_kind == PK_CATENATE ? round_to(run_load, addr_mul(p->boundary, d, p->sym->name)) : link;
    }
}

// Places a psect item (with its joined psects) that is not fitted by class.
static void place_item(const p_item &it)
{
    psect_rec *p = it.head->ps;
    uint32_t d = psect_delta(p);
    uint32_t bytes = item_bytes(it.joined);
    uint32_t link = 0, load = 0;
    bool fitted = false;
    if (it.link_kind == PK_INCLASS || (it.has_load && it.load_kind == PK_INCLASS)) {
        symbol *C = it.link_kind == PK_INCLASS ? it.link_ref : it.load_ref;
        if (!p->chain.empty() && it.has_load && it.load_kind == PK_INCLASS)
            msg_report(495);
        if (!C->ps->ranges) {
            msg_report_unnumbered("E", "undefined or empty class used to link psect %s", it.head->name);
            return;
        }
        uint32_t low = it.has_min ? addr_mul(it.minimum, d, it.head->name) : 0;
        if (!place_in_class(C, p, low, &link, &load, it.downward))
            return;
        fitted = true;
        link /= p->scale;
    } else {
        link = item_link(it, p, bytes);
        if (it.link_kind != PK_ASLINK)
            load = item_load(it, p, link, bytes);
        if (it.has_min) {
            uint32_t m = addr_mul(it.minimum, d, it.head->name);
            if (link < m)
                link = m;
            if (!it.has_load && load < m)
                load = m;
        }
        if (it.has_align) {
            uint32_t aligned = round_to(link, addr_mul(it.align, d, it.head->name));
            load = addr_add(load, aligned - link, it.head->name);
            link = aligned;
        }
        if (it.has_load_min && load < addr_mul(it.load_min, d, it.head->name))
            load = it.load_min * d;
        if (it.link_kind == PK_ASLINK)
            link = load = item_load(it, p, 0, bytes);
    }
    if (it.has_load && it.load_kind != PK_ASLINK)
        it.head->marks |= MARK_LOAD_GIVEN;
    uint32_t offset = 0;
    for (symbol *P : it.joined) {
        psect_rec *q = P->ps;
        q->link = addr_mul(addr_add(link, offset, P->name), q->scale, P->name);
        q->load = addr_add(load, offset, P->name);
        offset = addr_add(offset, psect_bytes(q), P->name);
        if (q->state == PS_UNPLACED)
            q->state = PS_PLACED;
        item_check_boundary(q);
        claim_psect_memory(q);
    }
    if (!fitted) {
        bool cat = it.link_kind == PK_CATENATE && (!it.has_load || it.load_kind == PK_CATENATE);
        item_segment(p, bytes, cat, false);
    }
    run_link = run_down ? link : addr_add(link, bytes, it.head->name);
    run_load = run_down ? load : addr_add(load, bytes, it.head->name);
}

// A class item: every unplaced psect of the class in psect order.
static void place_class_item(const p_item &it)
{
    for (symbol *P : psect_list) {
        psect_rec *p = P->ps;
        if (!is_psect(P) || p->class_sym != it.head || p->state != PS_UNPLACED || P->psect ||
            (P->flags & OBJ_ABSOLUTE))
            continue;
        uint32_t d = psect_delta(p);
        uint32_t bytes = psect_bytes(p);
        uint32_t link = round_to(run_link, addr_mul(p->boundary, d, P->name));
        p->link = addr_mul(link, p->scale, P->name);
        p->load = round_to(run_load, addr_mul(p->boundary, d, P->name));
        p->state = PS_PLACED;
        claim_psect_memory(p);
        item_segment(p, bytes, true, !segments.empty());
        run_link = addr_add(link, bytes, P->name);
        run_load = addr_add(p->load, bytes, P->name);
    }
}

void place_by_p_options()
{
    run_link = run_load = 0;
    for (const std::string &text : opt.p_texts) {
        const char *p = text.c_str();
        run_down = false;
        for (;;) {
            p_item it{};
            parse_item(&p, &it);
            if (it.downward && it.link_kind != PK_INCLASS)
                run_down = true;
            if (it.joined.empty())
                place_class_item(it);
            else
                place_item(it);
            if (*p == ',') {
                p++;
                continue;
            }
            if (*p)
                msg_report(494, text.c_str(), p);
            break;
        }
    }
}
