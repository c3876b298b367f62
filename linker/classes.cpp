// Classes and their address ranges: the -A, -S, -D and -C options, the
// number syntax every placement option shares, and the two operations on
// range lists that placement is built on (adding a range, cutting an
// interval out of every range of a space).
//
// A range {link start, length, load start, overrun} is kept in the units of
// its class. All arithmetic on option values is checked: a value that does
// not fit in 32 bits is a bad number, never a wrapped one.
#include "heron.h"

#include <cctype>
#include <cstring>

std::vector<symbol *> range_classes;    // classes with ranges, in the order of their first -A
bool deltas_given;                      // a -D<class>=<delta> was accepted
std::vector<std::pair<std::string, std::string>> psect_classes;   // -C pairs in order

// Number: optional "0x", hexadecimal digits, then an optional suffix H
// (hexadecimal), O or Q (octal); without either the number is decimal and a
// last digit D is its suffix. 0 on success; a number above 32 bits is bad.
int parse_number(const char **cursor, uint32_t *out)
{
    const char *p = *cursor;
    unsigned base = 10;
    bool prefixed = false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        prefixed = true;
        p += 2;
    }
    if (hex_digit_value((unsigned char)*p) < 0)
        return 1;
    const char *digits = p;
    while (hex_digit_value((unsigned char)*p) >= 0)
        p++;
    const char *digits_end = p;
    if (*p == 'H' || *p == 'h') {
        base = 16;
        p++;
    } else if (*p == 'O' || *p == 'o' || *p == 'Q' || *p == 'q') {
        base = 8;
        p++;
    } else if (!prefixed && (digits_end[-1] == 'D' || digits_end[-1] == 'd')) {
        digits_end--;
    }
    if (digits_end == digits)
        return 1;
    uint64_t v = 0;
    for (const char *d = digits; d < digits_end; d++) {
        unsigned digit = (unsigned)hex_digit_value((unsigned char)*d);
        if (digit >= base)
            return 1;
        v = v * base + digit;
        if (v > UINT32_MAX)
            return 1;
    }
    *cursor = p;
    *out = (uint32_t)v;
    return 0;
}

static symbol *class_named(const std::string &name)
{
    return sym_enter(name.c_str(), OBJ_CLASS | OBJ_GLOBAL);
}

// Every range is a record that placement walks again and again, so a repeat
// count stays far below what the address arithmetic alone would allow; no
// chip has more than a few dozen banks or pages of one kind.
const uint32_t MAX_REPEAT = 4096;

// One range of an -A option: low-high[-overrun][/load][*count].
struct range_spec {
    uint32_t low, high, overrun, load, count;
    bool load_given;
};

static void range_spec_parse(const char **cursor, const char *cls, range_spec *r)
{
    const char *p = *cursor;
    if (!*p || *p == ',')
        msg_report(442);
    if (parse_number(&p, &r->low))
        msg_report(443, cls);
    if (*p++ != '-')
        msg_report(444);
    if (parse_number(&p, &r->high) || r->high < r->low || r->high - r->low == UINT32_MAX)
        msg_report(445, cls);
    r->overrun = r->high;
    r->load = r->low;
    r->count = 1;
    r->load_given = false;
    if (*p == '-') {
        p++;
        if (parse_number(&p, &r->overrun) || r->overrun < r->high || r->overrun - r->low == UINT32_MAX)
            msg_report(446, cls);
    }
    if (*p == '/') {
        p++;
        if (parse_number(&p, &r->load) || (uint64_t)r->load + (r->high - r->low) > UINT32_MAX)
            msg_report(447, cls);
        r->load_given = true;
    }
    if (*p == '*' || *p == 'x' || *p == 'X') {
        p++;
        if (parse_number(&p, &r->count) || r->count > MAX_REPEAT)
            msg_report(448, cls);
    }
    *cursor = p;
}

// Adds the ranges of one spec: `count` copies, each one stride further
// (stride = overrun address - low + 1); with a load address only the load
// moves.
static void range_spec_add(symbol *C, const range_spec &r)
{
    psect_rec *c = C->ps;
    if (r.count && !c->ranges) {
        c->ranges = new std::vector<class_range *>;
        range_classes.push_back(C);
    }
    uint64_t stride = (uint64_t)r.overrun - r.low + 1;
    uint64_t last_move = stride * (r.count ? r.count - 1 : 0);
    uint64_t top = (r.load_given ? r.load + (uint64_t)(r.high - r.low) : r.overrun) + last_move;
    if (top > UINT32_MAX)
        msg_report(448, C->name);
    uint32_t low = r.low, high = r.high, overrun = r.overrun, load = r.load;
    for (uint32_t i = 0; i < r.count; i++) {
        range_add(*c->ranges, C, low, high - low + 1, overrun - high, load, false, nullptr);
        load += (uint32_t)stride;
        if (!r.load_given) {
            low += (uint32_t)stride;
            high += (uint32_t)stride;
            overrun += (uint32_t)stride;
        }
    }
}

void option_A(const char *text)
{
    const char *eq = strchr(text, '=');
    if (!eq)
        msg_report(441, text);
    std::string name(text, (size_t)(eq - text));
    symbol *C = class_named(name);
    const char *p = eq + 1;
    for (;;) {
        range_spec r;
        range_spec_parse(&p, C->name, &r);
        range_spec_add(C, r);
        if (*p == ',') {
            p++;
            continue;
        }
        if (*p)
            msg_report(449, p);
        break;
    }
    C->flags |= OBJ_RANGES;
}

void option_S(const char *text)
{
    const char *eq = strchr(text, '=');
    if (!eq)
        msg_report(437);
    psect_rec *c = class_named(std::string(text, (size_t)(eq - text)))->ps;
    const char *p = eq + 1;
    uint32_t v;
    if (*p != ',') {
        if (parse_number(&p, &v) || v == 0)
            msg_report(438);
        if (!c->max_size || v < c->max_size)
            c->max_size = v;
    }
    if (*p != ',')
        return;
    p++;
    if (*p != ',') {
        if (parse_number(&p, &v))
            v = 0;
        if (v > c->boundary)
            c->boundary = v;
    }
    if (*p != ',')
        return;
    p++;
    if (parse_number(&p, &v))
        v = 0;
    if (v > c->limit)
        c->limit = v;
}

void option_D(const char *text)
{
    const char *eq = strchr(text, '=');
    if (!eq)
        msg_report(439, text);
    psect_rec *c = class_named(std::string(text, (size_t)(eq - text)))->ps;
    const char *p = eq + 1;
    uint32_t v;
    // The delta divides addresses: 0 or more than a byte is a bad value.
    if (parse_number(&p, &v) || *p || v == 0 || v > 255)
        msg_report(440);
    c->delta = (uint8_t)v;
    deltas_given = true;
}

const char *option_C(const char *text)
{
    const char *eq = strchr(text, '=');
    if (!eq)
        msg_report(437);
    std::string psect(text, (size_t)(eq - text));
    std::string cls = eq + 1;
    for (const auto &pair : psect_classes) {
        if (pair.first != psect)
            continue;
        if (pair.second != cls)
            msg_report(484, psect.c_str(), cls.c_str(), pair.second.c_str());
        return eq + 1;
    }
    psect_classes.push_back({psect, cls});
    class_named(cls);
    return eq + 1;
}

// ---------------------------------------------------------------------------
// Range lists
// ---------------------------------------------------------------------------
static bool range_covers(const class_range *r, symbol *cls, uint32_t link, uint32_t length,
                         uint32_t overrun, uint32_t load)
{
    return r->cls == cls && r->link <= link && (uint64_t)r->link + r->length >= (uint64_t)link + length &&
           r->overrun >= overrun && r->load - r->link == load - link;
}

void range_add(std::vector<class_range *> &list, symbol *cls, uint32_t link, uint32_t length,
               uint32_t overrun, uint32_t load, bool merge_only_new, class_range *after)
{
    if (!merge_only_new)
        for (const class_range *r : list)
            if (range_covers(r, cls, link, length, overrun, load))
                return;
    uint32_t limit = space_limit(cls->ps->space);
    if (limit) {
        if (link >= limit)
            return;
        if ((uint64_t)link + length > limit)
            length = limit - link;
    }
    class_range *r = new class_range{link, length, load, overrun, cls, 0};
    if (!after) {
        list.push_back(r);
        return;
    }
    for (size_t i = 0; i < list.size(); i++) {
        if (list[i] == after) {
            list.insert(list.begin() + (long)i, r);
            return;
        }
    }
    list.push_back(r);
}

uint32_t range_unit(const class_range *r)
{
    return deltas_given && r->cls->ps->delta ? r->cls->ps->delta : 1;
}

// Cuts [g, m) (units) out of one range; true when a new range was inserted
// before it.
static bool range_cut(std::vector<class_range *> &list, class_range *r, uint32_t g, uint32_t m)
{
    uint64_t e = r->load;
    uint64_t end = e + r->length;
    if (g <= e && m >= end) {
        r->length = 0;
        r->overrun = 0;
    } else if (g <= e && m > e && m < end) {
        uint32_t d = (uint32_t)(m - e);
        r->length -= d;
        r->link += d;
        r->load += d;
    } else if (e < g && m < end) {
        uint32_t d = (uint32_t)(m - e);
        range_add(list, r->cls, r->link + d, (uint32_t)(end - m), r->overrun, m, true, r);
        r->length = (uint32_t)(g - e);
        r->overrun = 0;
        return true;
    } else if (e < g && g < end && end <= m) {
        r->length = (uint32_t)(g - e);
        r->overrun = 0;
    } else if (end <= g && g < end + r->overrun) {
        r->overrun = (uint32_t)(g - end);
    }
    return false;
}

void range_subtract(std::vector<class_range *> &list, uint32_t low, uint32_t high, unsigned space)
{
    if (low == high)
        return;
    for (size_t i = 0; i < list.size(); i++) {
        class_range *r = list[i];
        if (r->cls->ps->space != space)
            continue;
        unsigned u = range_unit(r);
        if (range_cut(list, r, low / u, high / u))
            i++;   // the upper part now stands before it
    }
}

void range_list_free(std::vector<class_range *> &list)
{
    for (class_range *r : list)
        delete r;
    list.clear();
}

std::vector<class_range *> range_list_copy(const std::vector<class_range *> &list)
{
    std::vector<class_range *> copy;
    copy.reserve(list.size());
    for (const class_range *r : list)
        copy.push_back(new class_range(*r));
    return copy;
}
