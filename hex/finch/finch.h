// finch: the object-to-HEX converter. Reads the linker's absolute object file
// into a paged memory image and writes it as Intel HEX (type 02 or type 04
// address records), Motorola S-records, Tektronix or extended Tektronix hex,
// UBROF, a binary image, or a binary image behind a header: "HL", 68000
// (-N, -P), MS-DOS (-E, -8), COFF (-U), segment image (-A), COFF-style segment
// image (-x), block image (-D).
//
// The image is kept in 1024-byte pages, each with a written flag per byte;
// at most a fixed number of page buffers stay in memory and the least
// recently used one goes to a swap file when another is needed, so an image
// spread over the whole 32-bit space fits in a small, fixed amount of memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "objfile.h"

// ---------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------
enum finch_format {
    FMT_INTEL = 0,
    FMT_MOTOROLA,
    FMT_TEKTRONIX,
    FMT_EXT_TEKTRONIX,
    FMT_UBROF,            // -UB: records under a running CRC
    FMT_BINARY,
    FMT_HL_HEADER,
    FMT_M68K,             // -N: 68000 executable with a 32-byte header
    FMT_CPM68K,           // -P: 68000 executable with the 28-byte program header
    FMT_MSDOS,            // -E: MS-DOS executable
    FMT_COFF,             // -U, -UT: COFF executable
    FMT_SEGMENTS,         // -A: segment image
    FMT_XCOFF,            // -x<target>: COFF-style image with a section per segment
    FMT_BLOCKS,           // -D: block image
    FMT_DOS8,             // -8: 8086 executable with a 128-byte header
};

struct finch_options {
    int format;
    bool linear;              // -I: type 04 records instead of type 02
    bool motorola_symbols;    // -MA
    bool segments;            // -g: collect SEGMENT records
    bool big_endian_header;   // -V
    bool have_base;           // -B<addr>
    uint32_t base;
    uint32_t address;         // -N<addr>; 0x10000 when not given
    bool have_address;        // -N<addr> or -P<addr> given
    bool relocatable;         // -L or -R: relocation items are emitted
    bool long_reloc;          // -L: items of two 16-bit words
    std::string reloc_symbol; // symbol giving the place of the relocation table
    bool symbol_table;        // -P then -S, or -U: a symbol table inside the output
    bool coff_t;              // -UT
    std::string target;       // -x<target>
    uint32_t fill;            // -F value
    bool have_fill_end;
    uint32_t fill_end;        // -F<fill>,<end>
    unsigned record_length;   // -<n>; 0 = the format's own maximum
    unsigned rounding;        // -<n>,<m>; 1 = none
    std::string input;
    std::string output;
    std::string symbol_file;
    std::string checksum_file;
    bool checksum_wanted;     // -C (without a name: standard input)
    uint32_t max_image;       // --max-size=<n>: most image bytes a binary form writes; 0: by machine
};

extern finch_options opt;

// Ends the run with status 1: after a fatal message (which has ended it
// already) or a fault found without one.
[[noreturn]] void fatal_exit();

// Parses the options and file names; exits on a fatal problem.
void options_parse(int argc, char **argv);

// ---------------------------------------------------------------------------
// Checksum list
// ---------------------------------------------------------------------------
struct checksum_entry {
    uint32_t start;
    uint32_t end;         // inclusive
    uint32_t dest_start;
    uint32_t dest_end;    // inclusive
    uint32_t initial;
};

extern std::vector<checksum_entry> checksum_list;

// Reads entries from the text; false on a syntax error.
bool checksum_list_parse(const std::string &text, std::vector<checksum_entry> *out);
void checksum_list_read();
void checksum_list_apply();

// ---------------------------------------------------------------------------
// Paged memory image
// ---------------------------------------------------------------------------
const unsigned PAGE_SIZE = 1024;
const unsigned PAGE_LIMIT = 4000;         // descriptors; the last is refused
const unsigned PAGE_BUFFERS = 150;        // buffers in memory at most

enum page_state { PG_IN_MEMORY = 1, PG_SWAPPED = 2, PG_ALLOCATED = 4 };

struct page {
    uint32_t number;      // address >> 10
    uint64_t hi;          // highest address written + 1 (page start when none)
    uint64_t lo;          // lowest address written (page end when none)
    page *next;           // recency order, most recent first
    uint8_t *buf;         // 1024 data bytes, then 1024 written flags
    unsigned state;
    long slot;            // place in the swap file, -1 before the first swap
};

// The limit on buffers in memory (tests lower it to make paging happen).
void image_set_buffer_limit(unsigned n);
void image_init();
void image_close();
// Stores bytes as written from the object file, splitting at page borders.
void image_store(uint32_t addr, const uint8_t *data, unsigned n);
// The page with this number, in memory and most recent; null when absent.
page *image_page(uint32_t number);
// The fill pattern's byte for an address.
uint8_t image_fill_byte(uint32_t addr);
// Byte at addr: its value (fill where never written) and written flag.
uint8_t image_byte(uint32_t addr, bool *written);
// Pages in address order.
std::vector<uint32_t> image_page_numbers();
// Highest address written + 1 over all pages (0 when none).
uint64_t image_high();
unsigned image_buffers_allocated();
bool image_swap_used();

// ---------------------------------------------------------------------------
// Object file
// ---------------------------------------------------------------------------
// The symbols whose values the header forms use, by the order of their names
// in well_known_names.
enum well_known {
    WK_HTEXT, WK_HDATA, WK_HBSS, WK_LDATA, WK_HSTACK, WK_BSTACK, WK_BDATA, WK_H_TEXT, WK_BBSS,
    WK_LTEXT, WK_LBSS, WK_BTEXT, WK_LARGE_CODE, WK_LARGE_DATA, WK_IS386, WK_ATXSEGADR, WK_L_TEXT,
    WK_B_TEXT, WK_COUNT
};

struct finch_symbols {
    uint32_t start;             // START record; all ones when unset
    bool start_set;
    uint32_t segment_start;     // SEGSTART record
    std::string machine;        // IDENT machine name
    uint32_t known[WK_COUNT];   // values of the well-known symbols (0 when absent)
};

struct finch_segment {
    uint32_t length;
    uint32_t address;
    uint16_t selector;
    uint32_t link;
    bool code;
    std::vector<uint32_t> relocs;   // offsets of relocation items inside it
    std::string name;
    uint16_t flags;                 // 8 code, 16 stack, 0x40 32-bit, 0x8000 always
};

// An XSYM symbol kept for the -x symbol table.
struct xsym_entry {
    uint32_t value;
    uint16_t flags;
    uint16_t selector;
    std::string name;
};

// A symbol kept for the -P symbol table or the UBROF symbol records.
struct table_symbol {
    uint32_t value;
    uint16_t type;        // -P: 0xA200 text, 0xA100 bss, 0xA400 data, else 0
    std::string name;
    std::string psect;
};

extern finch_symbols syms;
extern std::vector<finch_segment> segment_table;
extern std::vector<uint32_t> reloc_items;      // addresses to relocate, in file order
// With -8 and -L: the segment word of each item (1 code, 2 data, 0 other).
extern std::vector<uint16_t> reloc_segments;
extern uint32_t reloc_place;                   // value of the relocation symbol
extern bool reloc_place_found;                 // the relocation symbol was defined
extern std::vector<table_symbol> table_symbols;
extern std::vector<table_symbol> ubrof_symbols;
extern std::vector<xsym_entry> xsym_symbols;

// Reads records up to END into the image; symbol lines go to `symbols` (the
// symbol file) and, with -MA, to `motorola`.
void object_read(FILE *in, FILE *symbols, std::string *motorola);

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------
// Writes the whole output; false when the stream reported an error.
bool output_write(FILE *out, const std::string &motorola_symbols);
// Puts a 32-bit or 16-bit header field through the byte-order maps (-V
// reverses them).
void header_put32(uint8_t *p, uint32_t v);
void header_put16(uint8_t *p, uint16_t v);
// Lowest address written, over the pages in address order (0 when none).
uint64_t lowest_written(const std::vector<uint32_t> &numbers);

// Header buffers (exeforms.cpp): fields through the byte-order maps, and
// image bytes [from, to) appended, fill where nothing was written.
void buf_put16(std::vector<uint8_t> &b, size_t at, uint32_t v);
void buf_put32(std::vector<uint8_t> &b, size_t at, uint32_t v);
void buf_append_image(std::vector<uint8_t> &b, uint64_t from, uint64_t to);
// Counts the image bytes [from, to) towards the output; past the bound the
// run stops (message 1501) before any of them is written.
void image_span_check(uint64_t from, uint64_t to);

// Executable forms (exeforms.cpp)
bool dos_relocations_in_header();
bool msdos_write(FILE *out, const std::vector<uint32_t> &numbers);
bool dos8_write(FILE *out);
bool coff_write(FILE *out);

// Segment and block forms (segforms.cpp)
bool segments_write(FILE *out);
bool xcoff_write(FILE *out);
bool blocks_write(FILE *out, const std::vector<uint32_t> &numbers);

// UBROF (ubrof.cpp)
uint16_t ubrof_crc_update(uint16_t reg, uint8_t byte);
void ubrof_start(FILE *out);
void ubrof_record(FILE *out, uint64_t addr, const uint8_t *data, unsigned n);
void ubrof_end(FILE *out);
