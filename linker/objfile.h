// Object-file records: the one binary format the toolchain's programs share.
//
// A file is a run of records, each a 3-byte header (body length as a
// little-endian u16, then the record type) and a body of at most 509 bytes.
// Multi-byte fields inside a body are stored in the target byte order that the
// module's IDENT record gives as two position maps. A library file is a
// directory (little-endian, unmapped) followed by complete modules.
//
// This layer reports nothing itself: readers get a status back and each
// program words the failure with its own numbered message. Every body is
// taken apart through a bounded cursor, so a malformed body can never make a
// reader step past the bytes it holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Record types and limits
// ---------------------------------------------------------------------------
enum obj_rec_type {
    REC_TEXT = 1,
    REC_PSECT = 2,
    REC_RELOC = 3,
    REC_SYM = 4,
    REC_START = 5,
    REC_END = 6,
    REC_IDENT = 7,
    REC_XPSECT = 8,
    REC_SEGMENT = 9,
    REC_XSYM = 10,
    REC_SIGNAT = 11,
    REC_FNINFO = 12,
    REC_FNCONF = 13,
    REC_SEGSTART = 14,
    REC_PSECTLIM = 15,
    REC_LISTRELOC = 16,
    REC_CONDEXPR = 17,
    REC_LISTFIX = 18,
    REC_CONDITION = 19,
    REC_RESERVE = 20,
    REC_SPACELIM = 21,
    REC_INDIRLIST = 22,
    REC_PSECTBOUND = 23,
};

const unsigned OBJ_HEADER_SIZE = 3;
const unsigned OBJ_MAX_TYPE = 23;       // highest record type a reader accepts
const unsigned OBJ_MAX_BODY = 509;      // longest body a reader accepts, a writer writes
const unsigned OBJ_RECORD_SIZE = 512;   // header plus the longest body

// Name of a record type ("TEXT", ...), "?" outside 1..23.
const char *obj_type_name(unsigned type);

// ---------------------------------------------------------------------------
// Symbol kinds and flags as they stand in SYM, PSECT and XPSECT records
// ---------------------------------------------------------------------------
enum obj_sym_kind {
    SK_ORDINARY = 0,
    SK_STACK = 1,
    SK_COMMON = 2,
    SK_REGISTER = 3,
    SK_LINE = 4,
    SK_FILE = 5,
    SK_UNDEFINED = 6,
    SK_DEFINED = 7,
    SK_INDIRECT = 8,
};

const unsigned OBJ_KIND_MASK = 0x000F;
const unsigned OBJ_GLOBAL = 0x0010;
const unsigned OBJ_OVERLAID = 0x0040;
const unsigned OBJ_ABSOLUTE = 0x0080;
const unsigned OBJ_BOUNDARY_HIGH = 0x0100;
const unsigned OBJ_BIT_PSECT = 0x0400;
const unsigned OBJ_SIGNATURE = 0x0800;
const unsigned OBJ_RANGES = 0x1000;
const unsigned OBJ_CLASS = 0x4000;
const unsigned OBJ_PSECT = 0x8000;
const unsigned OBJ_SPACE_MASK = 0xC000;

// ---------------------------------------------------------------------------
// Byte-order maps: map32[i] is the position, inside a 4-byte field, of the
// byte of significance i; map16 likewise for a 2-byte field.
// ---------------------------------------------------------------------------
struct byte_order {
    uint8_t map32[4];
    uint8_t map16[2];
};

extern const byte_order order_little;   // {0,1,2,3}, {0,1}
extern const byte_order order_big;      // {3,2,1,0}, {1,0}
// The maps in force for the get_/put_ accessors: little-endian until a
// program takes the maps of the first IDENT record it reads.
extern byte_order obj_order;

// True when map32 is a permutation of 0..3 and map16 one of 0..1: only such
// maps address every byte of a field exactly once.
bool order_is_valid(const byte_order &o);

uint16_t get_u16(const uint8_t *p, const byte_order &o = obj_order);
uint32_t get_u24(const uint8_t *p, const byte_order &o = obj_order);
uint32_t get_u32(const uint8_t *p, const byte_order &o = obj_order);
void put_u16(uint8_t *p, uint16_t v, const byte_order &o = obj_order);
void put_u24(uint8_t *p, uint32_t v, const byte_order &o = obj_order);
void put_u32(uint8_t *p, uint32_t v, const byte_order &o = obj_order);

// Little-endian helpers for the record header and the library container.
uint16_t get_le16(const uint8_t *p);
uint32_t get_le32(const uint8_t *p);
void put_le16(uint8_t *p, uint16_t v);
void put_le32(uint8_t *p, uint32_t v);

// ---------------------------------------------------------------------------
// Object format version (0.0 when the IDENT body stops after the machine
// name). Compared as numbers: 3.10 is above 3.9.
// ---------------------------------------------------------------------------
struct obj_version {
    uint8_t major;
    uint8_t minor;
};

inline unsigned version_code(obj_version v) { return v.major * 256u + v.minor; }
inline bool version_at_least(obj_version v, unsigned major, unsigned minor)
{
    return version_code(v) >= major * 256u + minor;
}

// ---------------------------------------------------------------------------
// Reading records
// ---------------------------------------------------------------------------
enum obj_status {
    OBJ_OK = 0,
    OBJ_END_OF_FILE,    // no byte left where a header should start
    OBJ_SHORT_HEADER,   // one or two header bytes, then the end
    OBJ_SHORT_BODY,     // the file ended inside a body
    OBJ_TOO_LONG,       // the body does not fit the record buffer
    OBJ_IO_ERROR,       // the stream reported a read or write error
};

struct obj_record {
    unsigned length;                // body length from the header
    unsigned type;                  // record type from the header
    uint8_t body[OBJ_RECORD_SIZE];  // the body as read
};

// Reads the 3-byte header. The type and length are not judged here: each
// reader has its own limits (obj_type_valid, OBJ_MAX_BODY).
obj_status obj_read_header(FILE *f, obj_record *r);
// Reads the body into r->body. A length above `limit` (at most the buffer) is
// never read into the buffer: OBJ_TOO_LONG, and the stream stays before it.
obj_status obj_read_body(FILE *f, obj_record *r, unsigned limit = OBJ_MAX_BODY);
// Passes over `length` body bytes without keeping them.
obj_status obj_skip_body(FILE *f, unsigned length);
inline bool obj_type_valid(unsigned type) { return type >= 1 && type <= OBJ_MAX_TYPE; }

// Writes header and body; OBJ_TOO_LONG when the body exceeds OBJ_MAX_BODY
// (nothing is written), OBJ_IO_ERROR on a short write.
obj_status obj_write_record(FILE *f, unsigned type, const uint8_t *body, unsigned length);

// ---------------------------------------------------------------------------
// Bounded cursor over one body. Every read checks the bytes left; a read
// past the end, or a name without its terminating zero, sets `bad` and gives
// 0 or "" from then on.
// ---------------------------------------------------------------------------
struct obj_cursor {
    const uint8_t *pos;       // next byte to read
    const uint8_t *end;       // one past the body
    const byte_order *order;  // maps for u16/u24/u32
    bool bad;                 // a read failed
};

obj_cursor cur_open(const uint8_t *body, unsigned length, const byte_order &o = obj_order);
inline obj_cursor cur_of(const obj_record &r) { return cur_open(r.body, r.length); }
unsigned cur_left(const obj_cursor &c);
bool cur_at_end(const obj_cursor &c);
uint8_t cur_u8(obj_cursor &c);
uint16_t cur_u16(obj_cursor &c);
uint32_t cur_u32(obj_cursor &c);
uint16_t cur_le16(obj_cursor &c);
uint32_t cur_le32(obj_cursor &c);
const char *cur_name(obj_cursor &c);   // a zero-terminated name inside the body
void cur_skip(obj_cursor &c, unsigned n);
// Position of the cursor from the start of the body.
unsigned cur_offset(const obj_cursor &c, const uint8_t *body);

// ---------------------------------------------------------------------------
// Building a body: appends are checked against OBJ_MAX_BODY; a body that
// would grow past it sets `overflow` and keeps what fitted.
// ---------------------------------------------------------------------------
struct obj_builder {
    uint8_t body[OBJ_RECORD_SIZE];
    unsigned length;
    bool overflow;
    const byte_order *order;
};

void build_start(obj_builder &b, const byte_order &o = obj_order);
bool build_fits(const obj_builder &b, unsigned n);
void build_u8(obj_builder &b, uint8_t v);
void build_u16(obj_builder &b, uint16_t v);
void build_u32(obj_builder &b, uint32_t v);
void build_name(obj_builder &b, const char *name);
void build_bytes(obj_builder &b, const void *data, unsigned n);
obj_status build_write(FILE *f, unsigned type, const obj_builder &b);

// ---------------------------------------------------------------------------
// Decoded bodies of the records whose layout every reader shares. Each
// decoder takes the raw body and returns false when the body is malformed
// (too short, a name without its terminator, an unknown byte-order map).
// Names point into the body.
// ---------------------------------------------------------------------------
struct obj_ident {
    byte_order order;
    const char *machine;
    obj_version version;
};
// The maps are taken as they stand; `valid_maps` tells whether they are usable.
bool decode_ident(const uint8_t *body, unsigned length, obj_ident *out, bool *valid_maps);
void build_ident(obj_builder &b, const byte_order &o, const char *machine, obj_version v);

struct obj_text {
    uint32_t offset;
    const char *psect;
    const uint8_t *data;
    unsigned data_length;
};
bool decode_text(obj_cursor c, obj_text *out);

struct obj_sym_entry {
    uint32_t value;
    uint16_t flags;
    uint16_t selector;   // XSYM only
    const char *psect;
    const char *name;
};
// One SYM (or, with `extended`, XSYM) entry at the cursor.
bool decode_sym_entry(obj_cursor &c, bool extended, obj_sym_entry *out);
void build_sym_entry(obj_builder &b, const obj_sym_entry &e, bool extended);

// XPSECT with the version rules applied: fields absent at a version read as
// the defaults (selector 0, type 0, space 0, delta 1, no with-psect).
struct obj_xpsect {
    uint32_t max_size;
    uint16_t boundary;
    uint16_t selector;
    uint8_t space;
    uint8_t delta;
    uint8_t type;
    const char *psect;
    const char *class_name;   // "" when absent
    const char *with_psect;   // "" when absent
};
bool decode_xpsect(obj_cursor c, obj_version v, obj_xpsect *out);

struct obj_segment_entry {
    uint32_t length;
    uint32_t load;
    uint16_t selector;
    uint32_t link;
    const char *name;
};
bool decode_segment_entry(obj_cursor &c, obj_segment_entry *out);
void build_segment_entry(obj_builder &b, const obj_segment_entry &e);

// ---------------------------------------------------------------------------
// Library files. All numbers little-endian. Header {u16 directory size,
// u16 module count}, the directory, then the modules back to back.
// Directory entry: {u16 symbol list size, u16 symbol count, u32 module
// length, 4 unread bytes, module name, {u8 flag, name} x count}; flag 0 means
// the module defines the symbol.
// ---------------------------------------------------------------------------
struct lib_symbol {
    uint8_t flag;        // 0 defined by the module, else only referred to
    std::string name;
};

struct lib_module {
    std::string name;
    uint32_t length;             // bytes of the module body
    uint32_t start;              // file offset of the body (computed)
    uint8_t reserved[4];         // kept as read, written back unchanged
    std::vector<lib_symbol> symbols;
};

struct lib_directory {
    uint32_t directory_size;
    std::vector<lib_module> modules;
};

enum lib_status {
    LIB_OK = 0,
    LIB_SHORT_HEADER,      // fewer than 4 bytes
    LIB_SHORT_DIRECTORY,   // the directory runs past the end of the file
    LIB_BAD_DIRECTORY,     // an entry runs past the directory or disagrees with it
    LIB_BAD_MODULE,        // a module lies past the end of the file
    LIB_TOO_BIG,           // sizes or counts that the format cannot hold
    LIB_IO_ERROR,
};

// Reads and checks the directory of an open library; the stream's position
// is left after the directory. Every module's start and length are checked
// against the file size.
lib_status lib_read_directory(FILE *f, lib_directory *out);
// Writes a library: the directory built from `modules` (the symbol list sizes
// and the directory size are computed) and then each body, in order. The
// modules' `length` must equal the size of their body.
lib_status lib_write(FILE *f, const std::vector<lib_module> &modules,
                     const std::vector<std::vector<uint8_t>> &bodies);
// The directory entry's bytes for one module (for writers that build the
// library themselves).
std::vector<uint8_t> lib_directory_entry(const lib_module &m);
