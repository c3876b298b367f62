// Small encoding routines every format module shares: byte order (chosen by
// -b at each call), hex digits, LEB128, case-blind search, the --pathspec
// substitution; and the hashing and structural comparison of C type chains,
// so a writer can give each distinct type one number.
#include "egret.h"

#include <cctype>
#include <cstring>

// ---------------------------------------------------------------------------
// byte order
// ---------------------------------------------------------------------------

uint16_t read16_le(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
uint16_t read16_be(const uint8_t *p) { return (uint16_t)(p[1] | p[0] << 8); }
uint32_t read32_le(const uint8_t *p) { return read16_le(p) | (uint32_t)read16_le(p + 2) << 16; }
uint32_t read32_be(const uint8_t *p) { return read16_be(p + 2) | (uint32_t)read16_be(p) << 16; }
static uint64_t read64_le(const uint8_t *p) { return read32_le(p) | (uint64_t)read32_le(p + 4) << 32; }
static uint64_t read64_be(const uint8_t *p) { return read32_be(p + 4) | (uint64_t)read32_be(p) << 32; }

uint8_t *write16_le(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    return p + 2;
}

uint8_t *write16_be(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
    return p + 2;
}

uint8_t *write32_le(uint8_t *p, uint32_t v) { return write16_le(write16_le(p, (uint16_t)v), (uint16_t)(v >> 16)); }
uint8_t *write32_be(uint8_t *p, uint32_t v) { return write16_be(write16_be(p, (uint16_t)(v >> 16)), (uint16_t)v); }
uint8_t *write64_le(uint8_t *p, uint64_t v) { return write32_le(write32_le(p, (uint32_t)v), (uint32_t)(v >> 32)); }
uint8_t *write64_be(uint8_t *p, uint64_t v) { return write32_be(write32_be(p, (uint32_t)(v >> 32)), (uint32_t)v); }

struct byte_order_row {
    uint16_t (*read16)(const uint8_t *);
    uint32_t (*read32)(const uint8_t *);
    uint64_t (*read64)(const uint8_t *);
    uint8_t *(*write16)(uint8_t *, uint16_t);
    uint8_t *(*write32)(uint8_t *, uint32_t);
    uint8_t *(*write64)(uint8_t *, uint64_t);
};

// read16, read32, read64, write16, write32, write64
static const byte_order_row byte_orders[2] = {
    /* little-endian */ {read16_le, read32_le, read64_le, write16_le, write32_le, write64_le},
    /* big-endian    */ {read16_be, read32_be, read64_be, write16_be, write32_be, write64_be},
};

static const byte_order_row &byte_order() { return byte_orders[settings.big_endian ? 1 : 0]; }

uint16_t byteorder_read16(const uint8_t *p) { return byte_order().read16(p); }
uint32_t byteorder_read32(const uint8_t *p) { return byte_order().read32(p); }
uint64_t byteorder_read64(const uint8_t *p) { return byte_order().read64(p); }
uint8_t *byteorder_write16(uint8_t *p, uint16_t v) { return byte_order().write16(p, v); }
uint8_t *byteorder_write32(uint8_t *p, uint32_t v) { return byte_order().write32(p, v); }
uint8_t *byteorder_write64(uint8_t *p, uint64_t v) { return byte_order().write64(p, v); }

// ---------------------------------------------------------------------------
// hex digits
// ---------------------------------------------------------------------------

unsigned hex_digit(int c)
{
    int v = hex_digit_value(c);
    return v < 0 ? 0xFFFF : (unsigned)v;
}

unsigned hex_byte(const char *two)
{
    unsigned hi = hex_digit((unsigned char)two[0]);
    if (hi == 0xFFFF)
        return 0xFFFF;
    unsigned lo = hex_digit((unsigned char)two[1]);
    return lo == 0xFFFF ? 0xFFFF : hi * 16 + lo;
}

unsigned hex_word(const char *four)
{
    unsigned hi = hex_byte(four);
    unsigned lo = hi == 0xFFFF ? 0xFFFF : hex_byte(four + 2);
    return lo == 0xFFFF ? 0xFFFF : hi * 256 + lo;
}

// ---------------------------------------------------------------------------
// LEB128
// ---------------------------------------------------------------------------

uint8_t *leb128_write_unsigned(uint8_t *p, uint64_t v)
{
    do {
        uint8_t b = v & 0x7F;
        v >>= 7;
        *p++ = v ? (uint8_t)(b | 0x80) : b;
    } while (v);
    return p;
}

uint8_t *leb128_write_signed(uint8_t *p, int64_t v)
{
    for (;;) {
        uint8_t b = v & 0x7F;
        v >>= 7;   // arithmetic shift keeps the sign
        bool done = (v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40));
        *p++ = done ? b : (uint8_t)(b | 0x80);
        if (done)
            return p;
    }
}

// The readers stop at `end`, so a value cut off by the end of its section
// cannot take them past it.
uint64_t leb128_read_unsigned(const uint8_t **p, const uint8_t *end)
{
    uint64_t v = 0;
    unsigned shift = 0;
    while (*p < end) {
        uint8_t b = *(*p)++;
        if (shift < 64)
            v |= (uint64_t)(b & 0x7F) << shift;
        shift += 7;
        if (!(b & 0x80))
            break;
    }
    return v;
}

int64_t leb128_read_signed(const uint8_t **p, const uint8_t *end)
{
    uint64_t v = 0;
    unsigned shift = 0;
    uint8_t b = 0;
    while (*p < end) {
        b = *(*p)++;
        if (shift < 64)
            v |= (uint64_t)(b & 0x7F) << shift;
        shift += 7;
        if (!(b & 0x80))
            break;
    }
    if (shift < 64 && (b & 0x40))
        v |= ~(uint64_t)0 << shift;
    return (int64_t)v;
}

// ---------------------------------------------------------------------------
// case and paths
// ---------------------------------------------------------------------------

void text_to_lower(char *text) { os_str_lower(text); }
void text_to_upper(char *text) { os_str_upper(text); }

const char *find_char_nocase(const char *text, int c)
{
    for (; *text; text++)
        if (toupper((unsigned char)*text) == toupper((unsigned char)c))
            return text;
    return nullptr;
}

const char *find_text_nocase(const char *text, const char *word)
{
    size_t n = strlen(word);
    for (; *text; text++)
        if (strncasecmp(text, word, n) == 0)
            return text;
    return n == 0 ? text : nullptr;
}

char *path_substitute(const char *path)
{
    std::string p = path;
    size_t at = settings.pathspec ? p.find(settings.path_from) : std::string::npos;
    if (at != std::string::npos)
        p.replace(at, settings.path_from.size(), settings.path_to);
    return xstrdup(p.c_str());
}

// ---------------------------------------------------------------------------
// type chains
// ---------------------------------------------------------------------------

// From the outermost entry in: a basic or tag entry ends the walk.
uint32_t type_hash(const type_chain *chain)
{
    uint32_t h = 0;
    for (size_t i = chain->entries.size(); i-- > 0;) {
        const type_entry &e = chain->entries[i];
        switch (e.kind) {
        case TK_BASIC: return h + (uint32_t)e.value + (e.extra & 0xFF);
        case TK_ENUM:
        case TK_STRUCT: return h + 256u * (uint32_t)e.kind;
        case TK_FUNCTION:
        case TK_POINTER:
        case TK_ARRAY: h += 256u * (uint32_t)e.kind; break;
        case TK_QUALIFIER: h += 256u * 7 + (uint32_t)e.value; break;
        default: msg_report(623); break;
        }
    }
    return h;
}

// Structures met on the way down each side, so that a structure that holds
// a pointer to itself ends the comparison.
static std::vector<const sdb_entry *> visited_left, visited_right;

static bool chains_equal(const type_chain *a, const type_chain *b);

static bool on_list(const std::vector<const sdb_entry *> &list, const sdb_entry *s)
{
    for (const sdb_entry *v : list)
        if (v == s)
            return true;
    return false;
}

static bool members_equal(const sdb_member &ma, const sdb_member &mb)
{
    if (ma.name != mb.name || ma.numbers[0] != mb.numbers[0] || ma.numbers[1] != mb.numbers[1] ||
        ma.bits[0] != mb.bits[0] || ma.bits[1] != mb.bits[1])
        return false;
    if (!ma.type || !mb.type || ma.type->entries.empty() || mb.type->entries.empty())
        return ma.type == mb.type;
    const type_entry &ba = ma.type->entries[0];
    const type_entry &bb = mb.type->entries[0];
    if (ba.kind == TK_STRUCT && bb.kind == TK_STRUCT && ba.tag == bb.tag)
        return true;
    if ((ba.kind == TK_STRUCT && on_list(visited_left, ba.tag)) ||
        (bb.kind == TK_STRUCT && on_list(visited_right, bb.tag)))
        return false;
    return chains_equal(ma.type, mb.type);
}

static bool structs_equal(const sdb_entry *a, const sdb_entry *b)
{
    if (a == b)
        return true;
    if (!a || !b || a->size != b->size || a->members.size() != b->members.size())
        return false;
    if ((a->alias == nullptr) != (b->alias == nullptr) || (a->alias && strcmp(a->alias, b->alias) != 0))
        return false;
    visited_left.push_back(a);
    visited_right.push_back(b);
    for (size_t i = 0; i < a->members.size(); i++)
        if (!members_equal(a->members[i], b->members[i]))
            return false;
    return true;
}

static bool chains_equal(const type_chain *a, const type_chain *b)
{
    if (a == b)
        return true;
    size_t i = a->entries.size(), j = b->entries.size();
    while (i > 0 && j > 0) {
        const type_entry &ea = a->entries[--i];
        const type_entry &eb = b->entries[--j];
        if (ea.kind != eb.kind)
            return false;
        switch (ea.kind) {
        case TK_BASIC: return ea.value == eb.value && ea.extra == eb.extra;
        case TK_ENUM: return ea.tag == eb.tag;
        case TK_STRUCT: return structs_equal(ea.tag, eb.tag);
        case TK_FUNCTION: break;   // no parameter list is recorded
        case TK_ARRAY:
        case TK_QUALIFIER:
            if (ea.value != eb.value)
                return false;
            break;
        case TK_POINTER: break;
        default: msg_report(624); return false;
        }
    }
    return i == j;
}

bool type_equal(const type_chain *a, const type_chain *b)
{
    visited_left.clear();
    visited_right.clear();
    return chains_equal(a, b);
}

static uint32_t type_hash_fn(const void *key) { return type_hash((const type_chain *)key); }

static int type_compare_fn(const void *given, const void *stored)
{
    return type_equal((const type_chain *)given, (const type_chain *)stored) ? 0 : 1;
}

hash_t *type_table_new() { return hash_new(123, type_hash_fn, type_compare_fn); }

void type_table_insert(hash_t *table, type_chain *chain, uint32_t number)
{
    hash_insert(table, chain, (void *)(uintptr_t)number);
}

uint32_t type_table_lookup(hash_t *table, const type_chain *chain)
{
    return (uint32_t)(uintptr_t)hash_lookup(table, chain);
}

void type_table_free(hash_t *table) { hash_free(table); }
