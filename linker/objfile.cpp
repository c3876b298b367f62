// Object-file records: framing, byte-order maps, the bounded body cursor, the
// body builder and the decoders of the records every reader shares.
//
// The header is always little-endian; fields inside bodies go through the
// maps. A body is read into a 512-byte buffer only after its length has been
// checked against the caller's limit, and every field is then taken through
// an obj_cursor that knows where the body ends.
#include "objfile.h"

#include <cstring>

const byte_order order_little = {{0, 1, 2, 3}, {0, 1}};
const byte_order order_big = {{3, 2, 1, 0}, {1, 0}};
byte_order obj_order = order_little;

// Names of the record types, indexed by type.
static const char *const type_names[OBJ_MAX_TYPE + 1] = {
    "?",         "TEXT",      "PSECT",    "RELOC",     "SYM",       "START",
    "END",       "IDENT",     "XPSECT",   "SEGMENT",   "XSYM",      "SIGNAT",
    "FNINFO",    "FNCONF",    "SEGSTART", "PSECTLIM",  "LISTRELOC", "CONDEXPR",
    "LISTFIX",   "CONDITION", "RESERVE",  "SPACELIM",  "INDIRLIST", "PSECTBOUND",
};
static_assert(sizeof type_names / sizeof type_names[0] == REC_PSECTBOUND + 1);

const char *obj_type_name(unsigned type)
{
    return obj_type_valid(type) ? type_names[type] : "?";
}

// ---------------------------------------------------------------------------
// Byte-order maps
// ---------------------------------------------------------------------------
bool order_is_valid(const byte_order &o)
{
    unsigned seen32 = 0;
    for (uint8_t pos : o.map32) {
        if (pos > 3)
            return false;
        seen32 |= 1u << pos;
    }
    bool ok16 = o.map16[0] <= 1 && o.map16[1] <= 1 && o.map16[0] != o.map16[1];
    return seen32 == 0xF && ok16;
}

// Positions are masked so that even an unchecked map stays inside the field.
uint16_t get_u16(const uint8_t *p, const byte_order &o)
{
    return (uint16_t)(p[o.map16[1] & 1] << 8 | p[o.map16[0] & 1]);
}

uint32_t get_u32(const uint8_t *p, const byte_order &o)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--)
        v |= (uint32_t)p[o.map32[i] & 3] << (8 * i);
    return v;
}

// A 3-byte field uses the three positions of map32 after the first when the
// least significant byte of a 4-byte field is not at position 0 (big-endian
// maps), else the first three.
static unsigned u24_first(const byte_order &o) { return o.map32[0] != 0 ? 1 : 0; }

uint32_t get_u24(const uint8_t *p, const byte_order &o)
{
    unsigned b = u24_first(o);
    uint32_t v = 0;
    for (unsigned i = 0; i < 3; i++)
        v |= (uint32_t)p[o.map32[b + i] & 3] << (8 * i);
    return v;
}

void put_u16(uint8_t *p, uint16_t v, const byte_order &o)
{
    p[o.map16[0] & 1] = (uint8_t)v;
    p[o.map16[1] & 1] = (uint8_t)(v >> 8);
}

void put_u32(uint8_t *p, uint32_t v, const byte_order &o)
{
    for (unsigned i = 0; i < 4; i++)
        p[o.map32[i] & 3] = (uint8_t)(v >> (8 * i));
}

void put_u24(uint8_t *p, uint32_t v, const byte_order &o)
{
    unsigned b = u24_first(o);
    for (unsigned i = 0; i < 3; i++)
        p[o.map32[b + i] & 3] = (uint8_t)(v >> (8 * i));
}

uint16_t get_le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t get_le32(const uint8_t *p) { return get_le16(p) | (uint32_t)get_le16(p + 2) << 16; }
void put_le16(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
void put_le32(uint8_t *p, uint32_t v)
{
    put_le16(p, (uint16_t)v);
    put_le16(p + 2, (uint16_t)(v >> 16));
}

// ---------------------------------------------------------------------------
// Framing
// ---------------------------------------------------------------------------
obj_status obj_read_header(FILE *f, obj_record *r)
{
    uint8_t h[OBJ_HEADER_SIZE];
    size_t got = fread(h, 1, sizeof h, f);
    if (got < sizeof h) {
        if (ferror(f))
            return OBJ_IO_ERROR;
        return got == 0 ? OBJ_END_OF_FILE : OBJ_SHORT_HEADER;
    }
    r->length = get_le16(h);
    r->type = h[2];
    return OBJ_OK;
}

obj_status obj_read_body(FILE *f, obj_record *r, unsigned limit)
{
    if (limit > OBJ_RECORD_SIZE)
        limit = OBJ_RECORD_SIZE;
    if (r->length > limit)
        return OBJ_TOO_LONG;
    if (fread(r->body, 1, r->length, f) != r->length)
        return ferror(f) ? OBJ_IO_ERROR : OBJ_SHORT_BODY;
    return OBJ_OK;
}

obj_status obj_skip_body(FILE *f, unsigned length)
{
    uint8_t scratch[256];
    while (length > 0) {
        unsigned n = length < sizeof scratch ? length : (unsigned)sizeof scratch;
        if (fread(scratch, 1, n, f) != n)
            return ferror(f) ? OBJ_IO_ERROR : OBJ_SHORT_BODY;
        length -= n;
    }
    return OBJ_OK;
}

obj_status obj_write_record(FILE *f, unsigned type, const uint8_t *body, unsigned length)
{
    if (length > OBJ_MAX_BODY)
        return OBJ_TOO_LONG;
    uint8_t h[OBJ_HEADER_SIZE];
    put_le16(h, (uint16_t)length);
    h[2] = (uint8_t)type;
    if (fwrite(h, 1, sizeof h, f) != sizeof h)
        return OBJ_IO_ERROR;
    if (length > 0 && fwrite(body, 1, length, f) != length)
        return OBJ_IO_ERROR;
    return OBJ_OK;
}

// ---------------------------------------------------------------------------
// Bounded cursor
// ---------------------------------------------------------------------------
obj_cursor cur_open(const uint8_t *body, unsigned length, const byte_order &o)
{
    return obj_cursor{body, body + length, &o, false};
}

unsigned cur_left(const obj_cursor &c) { return c.bad ? 0 : (unsigned)(c.end - c.pos); }
bool cur_at_end(const obj_cursor &c) { return cur_left(c) == 0; }

// Claims n bytes; null (and the cursor marked bad) when fewer are left.
static const uint8_t *cur_take(obj_cursor &c, unsigned n)
{
    if (c.bad || (unsigned)(c.end - c.pos) < n) {
        c.bad = true;
        return nullptr;
    }
    const uint8_t *p = c.pos;
    c.pos += n;
    return p;
}

uint8_t cur_u8(obj_cursor &c)
{
    const uint8_t *p = cur_take(c, 1);
    return p ? *p : 0;
}

uint16_t cur_u16(obj_cursor &c)
{
    const uint8_t *p = cur_take(c, 2);
    return p ? get_u16(p, *c.order) : 0;
}

uint32_t cur_u32(obj_cursor &c)
{
    const uint8_t *p = cur_take(c, 4);
    return p ? get_u32(p, *c.order) : 0;
}

uint16_t cur_le16(obj_cursor &c)
{
    const uint8_t *p = cur_take(c, 2);
    return p ? get_le16(p) : 0;
}

uint32_t cur_le32(obj_cursor &c)
{
    const uint8_t *p = cur_take(c, 4);
    return p ? get_le32(p) : 0;
}

const char *cur_name(obj_cursor &c)
{
    if (c.bad)
        return "";
    const void *zero = memchr(c.pos, 0, (size_t)(c.end - c.pos));
    if (!zero) {
        c.bad = true;
        return "";
    }
    const char *name = (const char *)c.pos;
    c.pos = (const uint8_t *)zero + 1;
    return name;
}

void cur_skip(obj_cursor &c, unsigned n) { cur_take(c, n); }

unsigned cur_offset(const obj_cursor &c, const uint8_t *body) { return (unsigned)(c.pos - body); }

// ---------------------------------------------------------------------------
// Body builder
// ---------------------------------------------------------------------------
void build_start(obj_builder &b, const byte_order &o)
{
    b.length = 0;
    b.overflow = false;
    b.order = &o;
}

bool build_fits(const obj_builder &b, unsigned n) { return !b.overflow && b.length + n <= OBJ_MAX_BODY; }

// Claims n bytes at the end of the body; null (and overflow) when they do not fit.
static uint8_t *build_take(obj_builder &b, unsigned n)
{
    if (!build_fits(b, n)) {
        b.overflow = true;
        return nullptr;
    }
    uint8_t *p = b.body + b.length;
    b.length += n;
    return p;
}

void build_u8(obj_builder &b, uint8_t v)
{
    if (uint8_t *p = build_take(b, 1))
        *p = v;
}

void build_u16(obj_builder &b, uint16_t v)
{
    if (uint8_t *p = build_take(b, 2))
        put_u16(p, v, *b.order);
}

void build_u32(obj_builder &b, uint32_t v)
{
    if (uint8_t *p = build_take(b, 4))
        put_u32(p, v, *b.order);
}

void build_bytes(obj_builder &b, const void *data, unsigned n)
{
    if (uint8_t *p = build_take(b, n))
        memcpy(p, data, n);
}

void build_name(obj_builder &b, const char *name) { build_bytes(b, name, (unsigned)strlen(name) + 1); }

obj_status build_write(FILE *f, unsigned type, const obj_builder &b)
{
    if (b.overflow)
        return OBJ_TOO_LONG;
    return obj_write_record(f, type, b.body, b.length);
}

// ---------------------------------------------------------------------------
// Decoders
// ---------------------------------------------------------------------------
bool decode_ident(const uint8_t *body, unsigned length, obj_ident *out, bool *valid_maps)
{
    obj_cursor c = cur_open(body, length, order_little);
    for (uint8_t &m : out->order.map32)
        m = cur_u8(c);
    for (uint8_t &m : out->order.map16)
        m = cur_u8(c);
    out->machine = cur_name(c);
    out->version = {0, 0};
    if (cur_left(c) >= 2) {
        out->version.major = cur_u8(c);
        out->version.minor = cur_u8(c);
    }
    *valid_maps = order_is_valid(out->order);
    return !c.bad;
}

void build_ident(obj_builder &b, const byte_order &o, const char *machine, obj_version v)
{
    build_bytes(b, o.map32, 4);
    build_bytes(b, o.map16, 2);
    build_name(b, machine);
    if (version_code(v) != 0) {
        build_u8(b, v.major);
        build_u8(b, v.minor);
    }
}

bool decode_text(obj_cursor c, obj_text *out)
{
    out->offset = cur_u32(c);
    out->psect = cur_name(c);
    out->data = c.pos;
    out->data_length = cur_left(c);
    return !c.bad;
}

bool decode_sym_entry(obj_cursor &c, bool extended, obj_sym_entry *out)
{
    out->value = cur_u32(c);
    out->flags = cur_u16(c);
    out->selector = extended ? cur_u16(c) : 0;
    out->psect = cur_name(c);
    out->name = cur_name(c);
    return !c.bad;
}

void build_sym_entry(obj_builder &b, const obj_sym_entry &e, bool extended)
{
    build_u32(b, e.value);
    build_u16(b, e.flags);
    if (extended)
        build_u16(b, e.selector);
    build_name(b, e.psect);
    build_name(b, e.name);
}

// Version rules: which XPSECT fields a module of version v carries.
bool decode_xpsect(obj_cursor c, obj_version v, obj_xpsect *out)
{
    out->max_size = cur_u32(c);
    out->boundary = cur_u16(c);
    uint16_t selector = cur_u16(c);
    uint8_t space = cur_u8(c);
    uint8_t delta = cur_u8(c);
    cur_skip(c, 1);
    uint8_t type = cur_u8(c);
    out->selector = version_at_least(v, 1, 0) ? selector : 0;
    out->type = version_code(v) > version_code({1, 0}) ? type : 0;
    out->space = version_at_least(v, 3, 3) ? space : 0;
    out->delta = version_at_least(v, 3, 4) && delta != 0 ? delta : 1;
    out->psect = cur_name(c);
    out->class_name = "";
    out->with_psect = "";
    if (!c.bad && !cur_at_end(c))
        out->class_name = cur_name(c);
    if (!c.bad && !cur_at_end(c) && version_at_least(v, 3, 5))
        out->with_psect = cur_name(c);
    return !c.bad;
}

bool decode_segment_entry(obj_cursor &c, obj_segment_entry *out)
{
    out->length = cur_u32(c);
    out->load = cur_u32(c);
    out->selector = cur_u16(c);
    cur_skip(c, 2);
    out->link = cur_u32(c);
    out->name = cur_name(c);
    return !c.bad;
}

void build_segment_entry(obj_builder &b, const obj_segment_entry &e)
{
    build_u32(b, e.length);
    build_u32(b, e.load);
    build_u16(b, e.selector);
    build_u16(b, 0);
    build_u32(b, e.link);
    build_name(b, e.name);
}
