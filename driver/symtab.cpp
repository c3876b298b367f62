// The symbol table of the linked program.
//
// Between the two link stages the driver reads the symbol file the linker
// wrote: one symbol per line (name, hexadecimal value, an optional third
// hexadecimal number, an optional class) up to the first "%segments" or
// "%locals" line. The symbols "__L<psect>", "__H<psect>" and "__B<psect>"
// give each psect its low address, its size and its base; every other
// symbol is then tied to the first psect whose range holds its value. The
// start-up generator and the placement ask it for sizes and values; an
// unknown name reads as 0, so before the first symbol file every psect is
// empty.
#include "zeph.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

struct symt_psect {
    char *name;           // owned
    uint32_t low;         // value of __L<name>
    uint32_t base;        // value of __B<name>
    uint32_t size;        // __H less __L
    char *cls;            // owned class of the bound that created it, or null
    uint32_t bounds_seen; // 0 none, 1 low first, 2 high first
};

struct symt_symbol {
    char *name;         // owned, trimmed
    uint32_t value;     // hexadecimal value of the line
    uint32_t delta;     // the third number, 0 when none
    char *cls;          // owned class, or null
    symt_psect *psect;  // the psect it lies in, or null
};

// Symbols by name (100 buckets).
static hash_t *symbols;
// Psects by name (20 buckets).
static hash_t *psects;
// All names in table order, built after reading.
static vector_t *symbol_names;
static vector_t *psect_names;
// Iterator cursors (-1 when reset) and states (0 reset, 1 running, 2 done).
static int32_t symbol_cursor = -1;
static int32_t psect_cursor = -1;
static int symbol_iter_state;
static int psect_iter_state;
// Symbol filter of the symbol iterator, and the psect of symt_only_psect.
static symt_filter_fn symbol_filter;
static char *filter_psect;

void symt_init()
{
    CM_ASSERT(symbols == nullptr, "symtab", __LINE__);
    symbols = hash_new(100, hash_str_hash, hash_str_compare);
    psects = hash_new(20, hash_str_hash, hash_str_compare);
}

static int free_symbol(void *, void *, void *value)
{
    auto *s = static_cast<symt_symbol *>(value);
    free(s->name);
    free(s->cls);
    free(s);
    return 0;
}

static int free_psect(void *, void *, void *value)
{
    auto *p = static_cast<symt_psect *>(value);
    free(p->name);
    free(p->cls);
    free(p);
    return 0;
}

void symt_free()
{
    if (symbols) {
        hash_walk(symbols, nullptr, free_symbol);
        hash_free(symbols);
    }
    if (psects) {
        hash_walk(psects, nullptr, free_psect);
        hash_free(psects);
    }
    symbols = psects = nullptr;
    vec_free(symbol_names);
    vec_free(psect_names);
    symbol_names = psect_names = nullptr;
    symbol_cursor = psect_cursor = -1;
    symbol_iter_state = psect_iter_state = 0;
    symbol_filter = nullptr;
    free(filter_psect);
    filter_psect = nullptr;
}

// ---------------------------------------------------------------------------
// reading
// ---------------------------------------------------------------------------

static bool all_hex(const char *s)
{
    for (; *s; s++)
        if (!isxdigit(static_cast<unsigned char>(*s)) && !isspace(static_cast<unsigned char>(*s)))
            return false;
    return true;
}

static symt_psect *psect_get(const char *name, const char *cls)
{
    auto *p = static_cast<symt_psect *>(hash_lookup(psects, name));
    if (p)
        return p;
    p = static_cast<symt_psect *>(xmalloc(sizeof(symt_psect)));
    p->name = xstrdup(name);
    p->cls = cls ? xstrdup(cls) : nullptr;
    if (!hash_insert(psects, p->name, p)) {
        msg_print("Error (update_psects): couldn't add psect (%s)", name);
        free_psect(nullptr, nullptr, p);
        return nullptr;
    }
    return p;
}

// A bound symbol "__L", "__H" or "__B" updates its psect.
static void update_psects(symt_symbol *s)
{
    char which = s->name[2];
    const char *pname = s->name + 3;
    s->delta = 0;
    symt_psect *p = psect_get(pname, s->cls);
    if (!p)
        return;
    if (which == 'L') {
        if (p->bounds_seen == 1)
            msg_print("Error (update_psects): found two low psect symbols for %s", pname);
        p->low = s->value;
        if (p->bounds_seen == 0)
            p->bounds_seen = 1;
        else if (p->bounds_seen == 2)
            p->size -= s->value;
    } else if (which == 'H') {
        if (p->bounds_seen == 0) {
            p->size = s->value;
            p->bounds_seen = 2;
        } else if (p->bounds_seen == 1) {
            p->size = s->value - p->low;
        } else {
            p->size = s->value;
            msg_print("Error (update_psects): found two high psect symbols for %s", pname);
        }
    } else {
        p->base = s->value;
    }
}

static bool is_bound_name(const char *name)
{
    return strncmp(name, "__L", 3) == 0 || strncmp(name, "__H", 3) == 0 || strncmp(name, "__B", 3) == 0;
}

// One symbol line: name, value, then the third number or the class.
static void process_line(const std::vector<std::string> &words)
{
    auto *s = static_cast<symt_symbol *>(xmalloc(sizeof(symt_symbol)));
    s->name = xstrdup(words[0].c_str());
    s->value = words.size() > 1 ? static_cast<uint32_t>(strtoul(words[1].c_str(), nullptr, 16)) : 0;
    if (words.size() > 2 && all_hex(words[2].c_str())) {
        s->delta = static_cast<uint32_t>(strtoul(words[2].c_str(), nullptr, 16));
        if (words.size() > 3)
            s->cls = xstrdup(words[3].c_str());
    } else if (words.size() > 2) {
        s->cls = xstrdup(words[2].c_str());
    }
    if (hash_lookup(symbols, s->name)) {
        msg_print("Error (process_line): symbol (%s) redefined in file", s->name);
        free_symbol(nullptr, nullptr, s);
        return;
    }
    hash_insert(symbols, s->name, s);
    if (is_bound_name(s->name))
        update_psects(s);
}

// Ties every symbol to its psect: a bound symbol to the psect it names, any
// other to the first non-empty psect whose range (its end included) holds
// the value.
static void link_symbols()
{
    for (uint32_t i = 0; i < vec_count(symbol_names); i++) {
        auto *s = static_cast<symt_symbol *>(hash_lookup(symbols, vec_get(symbol_names, i)));
        if (is_bound_name(s->name)) {
            s->psect = static_cast<symt_psect *>(hash_lookup(psects, s->name + 3));
            continue;
        }
        for (uint32_t j = 0; j < vec_count(psect_names); j++) {
            auto *p = static_cast<symt_psect *>(hash_lookup(psects, vec_get(psect_names, j)));
            if (p->size && s->value >= p->low && s->value <= p->low + p->size) {
                s->psect = p;
                break;
            }
        }
    }
}

int symt_read(const char *path)
{
    FILE *f = path ? fopen(path, "r") : nullptr;
    if (!f)
        return 0;
    std::string line;
    int section = 0;
    while (os_read_line(f, line)) {
        if (section)
            continue;
        std::vector<std::string> words = split_tokens(line, " \t");
        if (words.empty())
            continue;
        if (words[0].rfind("%segments", 0) == 0)
            section = 1;
        else if (words[0].rfind("%locals", 0) == 0)
            section = 2;
        else
            process_line(words);
    }
    fclose(f);
    vec_free(symbol_names);
    vec_free(psect_names);
    symbol_names = hash_keys(symbols);
    psect_names = hash_keys(psects);
    link_symbols();
    return 1;
}

// ---------------------------------------------------------------------------
// queries
// ---------------------------------------------------------------------------

static symt_symbol *symbol_of(const char *name)
{
    return name && symbols ? static_cast<symt_symbol *>(hash_lookup(symbols, name)) : nullptr;
}

static symt_psect *psect_of(const char *name)
{
    return name && psects ? static_cast<symt_psect *>(hash_lookup(psects, name)) : nullptr;
}

int symt_exists(const char *name) { return symbol_of(name) != nullptr; }
uint32_t symt_value(const char *name) { auto *s = symbol_of(name); return s ? s->value : 0; }
uint32_t symt_delta(const char *name) { auto *s = symbol_of(name); return s ? s->delta : 0; }
const char *symt_class(const char *name) { auto *s = symbol_of(name); return s ? s->cls : nullptr; }
int symt_psect_exists(const char *name) { return psect_of(name) != nullptr; }
uint32_t symt_psect_low(const char *name) { auto *p = psect_of(name); return p ? p->low : 0; }
uint32_t symt_psect_base(const char *name) { auto *p = psect_of(name); return p ? p->base : 0; }
uint32_t symt_psect_size(const char *name) { auto *p = psect_of(name); return p ? p->size : 0; }
const char *symt_psect_class(const char *name) { auto *p = psect_of(name); return p ? p->cls : nullptr; }

const char *symt_symbol_psect_name(const char *name)
{
    auto *s = symbol_of(name);
    return s && s->psect ? s->psect->name : nullptr;
}

int symt_symbol_in_psect(const char *name, const char *psect)
{
    auto *s = symbol_of(name);
    if (!s || !s->psect || !psect)
        return 0;
    return strcmp(psect, s->psect->name);
}

int symt_addr_in_psect(uint32_t address, const char *psect)
{
    auto *p = psect_of(psect);
    return p && address >= p->low && address < p->low + p->size;
}

int symt_has_vector(uint32_t address)
{
    char name[20];
    snprintf(name, sizeof name, "vector_%lX", static_cast<unsigned long>(address));
    return symbol_of(name) != nullptr;
}

int symt_has_any_vector_in(uint32_t lo, uint32_t hi)
{
    if (lo > hi) {
        msg_print("Error (symt_has_any_vector_in): lo (%lX) must be <= hi (%lX)", static_cast<unsigned long>(lo),
                  static_cast<unsigned long>(hi));
        return 0;
    }
    for (uint32_t a = lo;; a++) {
        if (symt_has_vector(a))
            return 1;
        if (a == hi)
            return 0;
    }
}

// ---------------------------------------------------------------------------
// iteration and the symbol filter
// ---------------------------------------------------------------------------

static int accept_in_psect(const char *name)
{
    const char *p = symt_symbol_psect_name(name);
    return p && filter_psect && strcmp(p, filter_psect) == 0;
}

void symt_set_filter(symt_filter_fn filter) { symbol_filter = filter; }

void symt_only_psect(const char *name)
{
    free(filter_psect);
    filter_psect = name ? xstrdup(name) : nullptr;
    symbol_filter = name ? accept_in_psect : nullptr;
}

// One step of an iterator over `names`; the filter (or none) decides which
// names are handed out.
static const char *iterator_step(vector_t *names, int32_t &cursor, int &state, int command, symt_filter_fn filter)
{
    if (command == 0) {
        cursor = -1;
        state = 0;
        return nullptr;
    }
    if (command != 1) {
        msg_print("Unknown iterator command (%d)", command);
        return nullptr;
    }
    while (state != 2) {
        cursor++;
        if (!names || static_cast<uint32_t>(cursor) >= vec_count(names)) {
            state = 2;
            return nullptr;
        }
        state = static_cast<uint32_t>(cursor) + 1 >= vec_count(names) ? 2 : 1;
        auto *name = static_cast<const char *>(vec_get(names, static_cast<uint32_t>(cursor)));
        if (!filter || filter(name))
            return name;
    }
    return nullptr;
}

const char *symt_next_symbol(int command)
{
    return iterator_step(symbol_names, symbol_cursor, symbol_iter_state, command, symbol_filter);
}

const char *symt_next_psect(int command)
{
    return iterator_step(psect_names, psect_cursor, psect_iter_state, command, nullptr);
}

int symt_symbol_iterator_state() { return symbol_iter_state; }
int symt_psect_iterator_state() { return psect_iter_state; }
