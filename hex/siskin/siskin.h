// siskin: the HEX utility. Merges Intel HEX files into one memory image,
// edits it (masks, find and replace or delete, serial numbers, strings,
// checksums, fills), writes one Intel HEX file and a descriptive log.
//
// The image is a list of 64-byte blocks in address order; every byte carries
// a kind (who stored it) and a forced bit. All producers store through
// image_store, which applies the masks and the conflict rules, so the order
// of the edits decides who wins where two of them meet.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Kinds of byte: the low four bits of a slot's kind byte. Kinds 9 and up are
// the input files in argument order.
// ---------------------------------------------------------------------------
enum sk_kind {
    SK_UNUSED = 0,
    SK_FILL = 1,
    SK_SERIAL = 2,
    SK_STRING = 3,
    SK_RESERVED = 4,
    SK_RESULT = 5,
    SK_TRAILING = 6,
    SK_REPLACED = 7,
    SK_DELETED = 8,
    SK_INPUT = 9,
};

const uint8_t SK_FORCED = 0x80;     // kind byte bit: stored by a '+' argument
const uint8_t SK_KIND_MASK = 0x0F;
const int SK_MAX_INPUTS = 5;
const int SK_KIND_COUNT = SK_INPUT + SK_MAX_INPUTS;
const unsigned SK_BLOCK_SIZE = 64;
const uint64_t SK_ADDR_LIMIT = 0xFFFFFFFFull;   // highest byte address

inline unsigned kind_of(uint8_t k) { return k & SK_KIND_MASK; }

// ---------------------------------------------------------------------------
// Memory image
// ---------------------------------------------------------------------------
struct sk_slot {
    uint8_t data;
    uint8_t kind;   // sk_kind, plus SK_FORCED
};

struct sk_block {
    uint32_t base;                 // multiple of SK_BLOCK_SIZE
    sk_slot slots[SK_BLOCK_SIZE];
    sk_block *prev;
    sk_block *next;
};

// A pattern over an address range: -FILL and -MASK.
struct sk_pattern_range {
    uint32_t start;
    uint32_t end;          // inclusive
    unsigned length;       // pattern bytes, 1..8
    uint8_t pattern[8];
    bool data_only;        // -FILL ",data"
};

void image_init();
void image_free();
sk_block *image_first();
// The block holding addr, or null when none was created.
sk_block *image_find(uint32_t addr);
// The first block whose base is at or above addr's block, or null.
sk_block *image_block_from(uint32_t addr);
// Stores one byte by the rules of masks, kinds and forced storage.
void image_store(uint32_t addr, uint8_t data, uint8_t kind);
// Kind byte at addr (SK_UNUSED where no block exists); data likewise 0.
uint8_t image_kind_at(uint32_t addr);
uint8_t image_data_at(uint32_t addr);
// Bytes of the image that go to the output (not unused, not deleted).
uint64_t image_data_count();
// Legend of the kinds: the letter and the text ("" for an input not given).
char kind_letter(unsigned kind);
const char *kind_text(unsigned kind);

// ---------------------------------------------------------------------------
// Input files and output settings
// ---------------------------------------------------------------------------
struct sk_input {
    std::string arg;       // the argument text without a leading '+'
    std::string name;      // the file name
    FILE *file;            // open from the argument's parsing until read
    unsigned line;         // records read
    uint32_t start;        // range of input addresses taken
    uint32_t end;
    uint32_t offset;       // added to every address taken
    bool forced;
};

enum sk_format { FMT_INHX8M = 0, FMT_INHX32 = 2, FMT_INHX032 = 3 };

extern std::vector<sk_input> inputs;
extern std::vector<sk_pattern_range> masks;
extern std::vector<uint32_t> breaks;
extern unsigned address_unit;
extern int output_format;
extern unsigned record_length;
extern bool output_wanted;        // false after a bare "-O"
extern std::string output_name;   // empty: standard output
extern std::string log_name;      // empty: no log
extern bool size_wanted;

void ihex_read_inputs();
// Writes the image; false when it could not be written completely.
bool ihex_write_image(FILE *out);

// ---------------------------------------------------------------------------
// Edits
// ---------------------------------------------------------------------------
struct sk_find {
    unsigned width;             // bytes, 1..8
    uint64_t code;
    uint64_t mask;
    unsigned hits;
    bool warn;
    uint32_t start;
    uint32_t end;
    uint32_t align;
    bool del;
    uint64_t replace_code;
    uint64_t replace_mask;      // 0: no replacement
    std::string title;          // right-aligned in 14 columns
};

struct sk_serial {
    uint32_t address;
    uint64_t value;
    unsigned bytes;             // 1..8
    long repetitions;
    int64_t increment;
    int64_t interval;
    bool forced;
};

struct sk_string {
    uint32_t address;
    std::string text;
    uint64_t trailing;
    unsigned trailing_bytes;
    bool forced;
    bool packed;
};

struct sk_checksum {
    uint32_t dest;
    uint32_t start;
    uint32_t end;
    uint32_t initial;           // the "+" value; the polynomial of the CRCs
    int state;                  // CK_PENDING, CK_DONE
    bool big_endian;
    unsigned width;             // result bytes, 1..4
    int algorithm;
    uint64_t trailing;
    unsigned trailing_bytes;
    bool forced;
    uint32_t result;
};

enum { CK_PENDING = 1, CK_DONE = 2 };

extern std::vector<sk_find> finds;
extern std::vector<sk_serial> serials;
extern std::vector<sk_string> strings;
extern std::vector<sk_pattern_range> fills;
extern std::vector<sk_checksum> checksums;

void edit_find_replace();
void edit_store_serials();
void edit_store_strings();
void edit_reserve_checksums();
void edit_fill();
// Stores `bytes` bytes of value, most significant first, from addr on.
void edit_store_value(uint32_t addr, uint64_t value, unsigned bytes, uint8_t kind);

bool checksum_algorithm_known(int algorithm);
// The result of one algorithm over the image's range; sets *voids when the
// range holds unused or deleted bytes.
uint32_t checksum_compute(const sk_checksum &c, bool *voids);
void checksum_results();

// ---------------------------------------------------------------------------
// Options, help and log
// ---------------------------------------------------------------------------
// Returns false when no argument was given (the caller prints the banner).
bool options_parse(int argc, char **argv);
void options_banner(const char *program);

void log_open();
FILE *log_file();
void log_finish();
void log_close();
