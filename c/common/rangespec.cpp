// Range-spec text and the named blocks of a class.
//
// A range spec is how a class's ranges cross a command line:
// "<prefix><name>=" followed by comma-separated items "0<lo>h-0<hi>h", where
// a run of equal contiguous pieces is written once with "x<count>", a class
// with a split size writes "lo-(lo+split-1)-hi", and a load address follows a
// '/'. Numbers read back take a 0x prefix or an h (hex), o/q (octal) or d
// (decimal) suffix and are decimal otherwise.
//
// Named blocks (range_entry) are the psects of a class as the link map shows
// them, with a description inherited from an earlier block of the same stem
// ("text3" takes the description of "text0").
#include "ranges.h"

#include <cctype>
#include <cstring>
#include <string>

#define SPEC_ASSERT(e) CM_ASSERT(e, "lists", __LINE__)

// Most pieces one repeated item may add.
static const uint32_t SPEC_MAX_PIECES = 4096;

// ---------------------------------------------------------------------------
// writing
// ---------------------------------------------------------------------------

// Counts the nodes from n on that continue n as equal contiguous pieces.
static int run_length(const range_node *n)
{
    int count = 1;
    uint32_t size = n->hi - n->lo;
    for (const range_node *m = n->next; m; n = m, m = m->next) {
        if (n->hi == 0xFFFFFFFFu || m->lo != n->hi + 1 || m->hi - m->lo != size)
            break;
        count++;
    }
    return count;
}

char *range_format(const range_class *cls, const char *prefix, const char *name)
{
    range_node *free_list = cls ? range_list_minus(cls->available, cls->used) : nullptr;
    if (!free_list)
        return xstrdup("");
    bool has_load = cls->load != RANGE_NO_LOAD;
    bool load_written = false;
    std::string text = str_printf("%s%s=", prefix ? prefix : "", name ? name : "");
    for (const range_node *n = free_list; n;) {
        if (n != free_list)
            text += ",";
        text += str_printf("0%lXh-", (unsigned long)n->lo);
        if (cls->split != 0) {
            text += str_printf("0%lXh-0%lXh", (unsigned long)(n->lo + cls->split - 1),
                               (unsigned long)n->hi);
            n = n->next;
            continue;
        }
        int count = run_length(n);
        if (count == 1)
            text += str_printf("0%lXh", (unsigned long)n->hi);
        else if (has_load) {
            text += str_printf("0%lXh/0%lXhx%d", (unsigned long)n->hi, (unsigned long)cls->load, count);
            load_written = true;
        } else
            text += str_printf("0%lXhx%d", (unsigned long)n->hi, count);
        while (count-- > 0)
            n = n->next;
    }
    if (has_load && !load_written)
        text += str_printf("/0%lXh", (unsigned long)cls->load);
    range_list_free(free_list);
    return xstrdup(text.c_str());
}

void range_emit_bounds(FILE *out, const range_node *list, const char *name)
{
    for (int i = 0; list; list = list->next, i++) {
        fprintf(out, "\tGLOBAL\t__L%s%d\n", name, i);
        fprintf(out, "__L%s%d\tEQU\t%lu\n", name, i, (unsigned long)list->lo);
        fprintf(out, "\tGLOBAL\t__H%s%d\n", name, i);
        fprintf(out, "__H%s%d\tEQU\t%lu\n", name, i, (unsigned long)list->hi + 1);
    }
}

// ---------------------------------------------------------------------------
// reading
// ---------------------------------------------------------------------------

static int digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return tolower((unsigned char)c) - 'a' + 10;
}

// A "0x" prefix selects base 16; otherwise the character after the run of
// hexadecimal digits decides: h hex, o or q octal (both consumed), else
// decimal, where a last digit d is a decimal suffix.
int range_parse_number(const char **cursor, uint32_t *out)
{
    const char *p = *cursor;
    int base = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (!isxdigit((unsigned char)*p))
        return 1;
    const char *digits = p;
    while (isxdigit((unsigned char)*p))
        p++;
    const char *end = p;
    char suffix = (char)tolower((unsigned char)*p);
    if (suffix == 'h') {
        base = 16;
        p++;
    } else if (suffix == 'o' || suffix == 'q') {
        base = 8;
        p++;
    } else if (base == 0) {
        if (end[-1] == 'd' || end[-1] == 'D')
            end--;
        base = 10;
    }
    if (end == digits)
        return 1;
    uint64_t value = 0;
    for (const char *d = digits; d < end; d++) {
        int v = digit_value(*d);
        if (v >= base)
            return 1;
        value = value * base + v;
        if (value > 0xFFFFFFFFu)
            return 1;
    }
    *out = (uint32_t)value;
    *cursor = p;
    return 0;
}

// One item: low, '-', high, then optionally '*', 'x' or 'X' and a count of
// consecutive pieces of the item's size. Returns the text after the item,
// or null after reporting a bad one (the reports end the run; should one be
// silenced, nothing is added).
static const char *spec_read_item(range_class *cls, const char *text, const char *p)
{
    uint32_t lo, hi, count = 1;
    if (range_parse_number(&p, &lo) != 0) {
        msg_report(443, text);
        return nullptr;
    }
    if (*p++ != '-') {
        msg_report(444);
        return nullptr;
    }
    // A high end below the low end would break the lists' order.
    if (range_parse_number(&p, &hi) != 0 || hi < lo) {
        msg_report(445, text);
        return nullptr;
    }
    if (*p == '*' || *p == 'x' || *p == 'X') {
        p++;
        // Each piece is a node of its own, added by a walk over those before
        // it: a count far beyond any memory's pages would take hours.
        if (range_parse_number(&p, &count) != 0 || count == 0 || count > SPEC_MAX_PIECES) {
            msg_report(448, text);
            return nullptr;
        }
    }
    uint64_t piece = (uint64_t)hi - lo + 1;
    uint64_t last = lo + piece * count - 1;
    if (last > 0xFFFFFFFFu) {
        msg_report(448, text);
        return nullptr;
    }
    range_class_add(cls, RANGE_AVAILABLE, lo, (uint32_t)last, piece > 0xFFFFFFFFu ? 0 : (uint32_t)piece);
    return p;
}

void range_parse_spec(range_class *cls, const char *text)
{
    const char *p = strchr(text, '=');
    if (!p) {
        msg_report(441, text);
        return;
    }
    for (;;) {
        p++; // past '=' or ','
        if (*p == '\0') {
            msg_report(442);
            return;
        }
        p = spec_read_item(cls, text, p);
        if (!p || *p == '\0')
            return;
        if (*p != ',') {
            msg_report(449, p);
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// named blocks
// ---------------------------------------------------------------------------

const char *range_base_name_lookup(const range_entry *first_entry, const char *name)
{
    size_t stem = strlen(name);
    while (stem > 0 && isdigit((unsigned char)name[stem - 1]))
        stem--;
    if (stem > 0 && stem < strlen(name) && name[stem - 1] == '_')
        stem = strlen(name);
    for (const range_entry *e = first_entry; e; e = e->next)
        if (strncmp(e->name, name, stem) == 0)
            return e->alias;
    return nullptr;
}

static range_entry *entry_new(const range_entry *lookup_from, const char *name, const char *alias)
{
    auto *e = static_cast<range_entry *>(xmalloc(sizeof(range_entry)));
    e->name = xstrdup(name);
    if (!alias) {
        const char *inherited = range_base_name_lookup(lookup_from, name);
        e->alias = inherited ? xstrdup(inherited) : nullptr;
    }
    return e;
}

// 1. The first entry of a class is made as given. 2. A new name is appended,
// inheriting the description of its stem when none is given. 3. A name met
// again with a size, whose entry already has one, gets a further entry right
// after it; otherwise the entry is updated. 4. The entry takes the alias when
// given, the kind while its own is 0, and the position and size when a size
// is given.
void range_entry_define(range_class *cls, const char *name, uint8_t kind, const char *alias,
                        uint32_t first, uint32_t second, uint32_t size)
{
    range_entry *chosen = nullptr;
    if (!cls->entries) {
        chosen = cls->entries = entry_new(nullptr, name, alias);
    } else {
        range_entry *last = nullptr;
        for (range_entry *e = cls->entries; e && !chosen; e = e->next) {
            if (strcmp(e->name, name) == 0)
                chosen = e;
            last = e;
        }
        if (!chosen)
            chosen = last->next = entry_new(cls->entries, name, alias);
        else if (size != 0 && chosen->size != 0) {
            range_entry *further = entry_new(cls->entries, name, alias);
            further->next = chosen->next;
            chosen->next = further;
            chosen = further;
        }
    }
    if (alias) {
        char *copy = xstrdup(alias);
        free(chosen->alias);
        chosen->alias = copy;
    }
    if (chosen->kind == 0)
        chosen->kind = kind;
    if (size != 0) {
        chosen->size = size;
        chosen->first = first;
        chosen->second = second;
    }
}

uint8_t range_entry_kind(const range_class *cls, const char *name)
{
    for (const range_entry *e = cls ? cls->entries : nullptr; e; e = e->next)
        if (strcmp(e->name, name) == 0)
            return e->kind;
    return 0;
}

// Sizes are summed per unit kind; a non-zero total below the kind's width
// counts as one unit, any other adds total / width.
uint32_t range_total_units(const range_class *cls)
{
    uint32_t totals[RANGE_UNIT_COUNT] = {};
    for (const range_entry *e = cls ? cls->entries : nullptr; e; e = e->next)
        if (e->kind < RANGE_UNIT_COUNT)
            totals[e->kind] += e->size;
    uint32_t units = 0;
    for (int k = 0; k < RANGE_UNIT_COUNT; k++) {
        if (totals[k] != 0 && totals[k] < range_units[k].width)
            units += 1;
        else
            units += totals[k] / range_units[k].width;
    }
    return units;
}

static uint32_t entry_key(const range_entry *e, int key)
{
    return key == RANGE_KEY_FIRST ? e->first : key == RANGE_KEY_SECOND ? e->second : e->size;
}

// The key of the sort in progress (os_qsort takes no context).
static int sort_key;

static int entry_compare(const void *a, const void *b)
{
    uint32_t ka = entry_key(*static_cast<range_entry *const *>(a), sort_key);
    uint32_t kb = entry_key(*static_cast<range_entry *const *>(b), sort_key);
    return ka < kb ? -1 : ka > kb ? 1 : 0;
}

void range_entry_sort(range_class *cls, int key)
{
    SPEC_ASSERT(cls != nullptr);
    if (key < RANGE_KEY_FIRST || key > RANGE_KEY_SIZE)
        return;
    size_t n = 0;
    for (range_entry *e = cls->entries; e; e = e->next)
        n++;
    if (n < 2)
        return;
    auto **items = static_cast<range_entry **>(xmalloc(n * sizeof(range_entry *)));
    size_t i = 0;
    for (range_entry *e = cls->entries; e; e = e->next)
        items[i++] = e;
    sort_key = key;
    os_qsort(items, n, sizeof(range_entry *), entry_compare);
    for (i = 0; i + 1 < n; i++)
        items[i]->next = items[i + 1];
    items[n - 1]->next = nullptr;
    cls->entries = items[0];
    free(items);
}
