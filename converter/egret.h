// egret, the debug-format converter: private header.
//
// egret reads its inputs (the linker's symbol file with the SDB files it
// leads to, a HEX file, ...) into one neutral model of files, symbols, line
// records, segments and data blocks, tidies the model once every input is
// read, and writes it out in each format asked for. Each format is one row
// of the format table (formats.cpp); each target architecture one machine
// description (machtab.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common.h"

// ===========================================================================
// model.cpp: the debug model
// ===========================================================================

// Symbol flags.
enum { SYMF_ABSOLUTE = 1, SYMF_LOCAL = 2 };

struct model_line;
struct model_symbol;

struct model_file {
    char *name;
    model_symbol **symbols;   // built after reading
    uint32_t symbol_count;    // symbols added with this file's number
    model_line **lines;       // built and sorted after reading
    uint32_t line_count;      // lines added with this file's number
    uint32_t number;          // own number, from 1
    uint32_t writer_number;   // a writer's own numbering, 0 until set
};

struct psect_bounds {
    uint32_t low, high, base, ivalue;   // from __L, __H, __B, __I
    char *name;
};

struct model_symbol {
    uint32_t file;            // 0 = none
    uint32_t value;
    psect_bounds *bounds;     // range holding the value, or null
    uint32_t segment;         // 0 = none
    uint32_t flags;           // SYMF_*
    char *name;
};

struct model_line {
    uint32_t file;
    uint32_t address;
    uint32_t end;             // last address of the line's code
    uint32_t segment;
    uint32_t flags;
    uint32_t line;
    uint32_t writer_number;
};

struct model_segment {
    uint32_t group;           // number of the segment standing for its class
    uint32_t address;
    uint32_t load;
    uint32_t size;            // in address units
    char *name;
};

struct data_block {
    uint32_t address;         // byte (load) address
    uint32_t length;
    uint8_t *bytes;
    uint32_t segment;
};

// The model: every list and index of the run.
struct model_t {
    vector_t *files;          // model_file
    vector_t *symbols;        // model_symbol
    vector_t *bounds;         // psect_bounds
    vector_t *segments;       // model_segment
    vector_t *blocks;         // data_block
    vector_t *lines;          // model_line
    hash_t *symbols_by_name;
    hash_t *symbols_by_value;
    hash_t *files_by_name;
    uint32_t entry;           // entry address
};
extern model_t model;

// Settings of the run, read by the modules.
struct egret_settings {
    int verbose;
    bool identify;            // -c
    bool dump;                // -d
    bool big_endian;          // -b
    bool strip_underscore;    // -m
    bool strip_extensions;    // -e alone
    bool fake_locals;         // -f
    bool fake_blocks;         // -k
    std::string processor;    // -p name ("" when not given)
    std::vector<std::string> processor_tokens;
    std::vector<std::string> classes;   // -n
    std::string path_from, path_to;     // --pathspec
    bool pathspec;
};
extern egret_settings settings;

void model_init();
uint32_t model_add_file(const char *name);
model_file *model_find_file(const char *name);
model_file *model_file_at(uint32_t number);
void model_add_symbol(const char *name, uint32_t value, uint32_t segment, uint32_t file, uint32_t flags);
void model_add_line(uint32_t line, uint32_t address, uint32_t segment, uint32_t file, uint32_t flags);
psect_bounds *model_add_psect_bounds(const char *name, uint32_t low, uint32_t high, uint32_t base, uint32_t ivalue);
psect_bounds *model_find_psect_bounds(const char *name);
uint32_t model_add_segment(const char *name, uint32_t address, uint32_t size, uint32_t load, uint32_t group);
model_segment *model_find_segment(const char *name);
uint32_t model_segment_number(const char *name);
model_segment *model_segment_at_number(uint32_t number);
void model_add_data(uint32_t address, uint32_t length, const uint8_t *bytes, uint32_t segment);
bool model_symbol_value(const char *name, uint32_t *value, uint32_t *segment);
model_symbol *model_symbol_by_value(uint32_t value);
model_symbol *model_file_symbol(const char *file_name, const char *symbol_name);
uint32_t model_segment_at(uint32_t value, uint32_t segment, uint32_t scale);
model_segment *model_group_of(const model_segment *segment);
uint32_t model_name_hash(const char *name);
// Bytes per program-memory word: from a -p token of the form PICnn, else 1.
uint32_t model_bytes_per_word();
// True when the segment lies in program memory (its class is one of -n).
bool model_in_program_class(const model_segment *segment);

// ===========================================================================
// encode.cpp: encoding routines and C type chains
// ===========================================================================

uint16_t byteorder_read16(const uint8_t *p);
uint32_t byteorder_read32(const uint8_t *p);
uint64_t byteorder_read64(const uint8_t *p);
uint8_t *byteorder_write16(uint8_t *p, uint16_t v);
uint8_t *byteorder_write32(uint8_t *p, uint32_t v);
uint8_t *byteorder_write64(uint8_t *p, uint64_t v);
uint16_t read16_le(const uint8_t *p);
uint16_t read16_be(const uint8_t *p);
uint32_t read32_le(const uint8_t *p);
uint32_t read32_be(const uint8_t *p);
uint8_t *write16_le(uint8_t *p, uint16_t v);
uint8_t *write16_be(uint8_t *p, uint16_t v);
uint8_t *write32_le(uint8_t *p, uint32_t v);
uint8_t *write32_be(uint8_t *p, uint32_t v);
uint8_t *write64_le(uint8_t *p, uint64_t v);
uint8_t *write64_be(uint8_t *p, uint64_t v);

unsigned hex_digit(int c);              // 0-15, else 0xFFFF
unsigned hex_byte(const char *two);     // 0-255, else 0xFFFF
unsigned hex_word(const char *four);

uint8_t *leb128_write_unsigned(uint8_t *p, uint64_t v);
uint8_t *leb128_write_signed(uint8_t *p, int64_t v);
uint64_t leb128_read_unsigned(const uint8_t **p, const uint8_t *end);
int64_t leb128_read_signed(const uint8_t **p, const uint8_t *end);

void text_to_lower(char *text);
void text_to_upper(char *text);
const char *find_char_nocase(const char *text, int c);
const char *find_text_nocase(const char *text, const char *word);
char *path_substitute(const char *path);

// Type chains: entries from the base type outwards.
enum type_kind {
    TK_BASIC = 1, TK_FUNCTION = 2, TK_POINTER = 3, TK_ENUM = 4,
    TK_STRUCT = 5, TK_ARRAY = 6, TK_QUALIFIER = 7,
};

struct sdb_entry;

struct type_entry {
    int kind;                 // type_kind
    std::string text;
    uint64_t value;           // class, count or qualifier flags
    uint32_t extra;           // basic: size in bytes
    sdb_entry *tag;           // enum or struct record of a tag entry
};

struct type_chain {
    std::vector<type_entry> entries;
};

uint32_t type_hash(const type_chain *chain);
bool type_equal(const type_chain *a, const type_chain *b);
hash_t *type_table_new();
void type_table_insert(hash_t *table, type_chain *chain, uint32_t number);
uint32_t type_table_lookup(hash_t *table, const type_chain *chain);
void type_table_free(hash_t *table);

// ===========================================================================
// machine.cpp, machtab.cpp: machine descriptions
// ===========================================================================

// How a description resolves frame variables and sizes pointers.
enum machine_shape {
    SHAPE_PIC, SHAPE_PIC18, SHAPE_DSPIC, SHAPE_PIC32, SHAPE_8051, SHAPE_ARM, SHAPE_HOLTEK,
};

struct machine_register {
    const char *name;
    uint16_t size;            // low byte: bytes; high byte: component count
    uint8_t parts[4];         // component register numbers
};

struct machine_basic {
    const char *code;
    uint32_t size;
    int type_class;           // 0 void, 1 signed, 2 unsigned, 3 floating, 4 bit
};

struct machine_qualifier {
    const char *name;
    char letter;
    uint32_t flag;
};

struct machine_desc {
    const char *name;                     // shown in the verbose log
    machine_shape shape;
    const machine_register *registers;
    uint32_t register_count;
    const char *const *mode_words;        // ends with null
    bool (*matches)(const char *processor, const std::vector<std::string> &tokens);
    const machine_basic *basics;          // ends with a null code
    const machine_qualifier *qualifiers;  // ends with letter 0
    uint32_t line_step, line_span;
};

extern const machine_desc *const machine_table[];
extern const unsigned machine_table_count;
extern const machine_desc *machine_current;

struct resolved_address {
    uint32_t value;
    uint32_t segment;
};

bool machine_init(const char *tokens);
const machine_desc *machine_select(const char *tokens, const char *processor);
bool machine_flag(const char *word);
uint32_t machine_register_number(const char *name);
const char *machine_register_name(uint32_t number);
bool machine_resolve(sdb_entry *entry, const std::vector<sdb_entry *> &path, resolved_address *out);
uint32_t machine_type_size(const type_chain *chain, size_t index);
uint32_t machine_qualifier_flag(char letter, const char **name);
void machine_reset_for_tests();

// ===========================================================================
// sdb.cpp: the SDB reader
// ===========================================================================

enum sdb_kind {
    SC_NULL, SC_EXTERN, SC_GLOBAL, SC_STATIC, SC_AUTO, SC_PARAM, SC_TYPEDEF, SC_MODULE,
    SC_LINE, SC_BLOCK, SC_FUNC, SC_REG, SC_STRUCT, SC_ENUM, SC_FILENAME, SC_NODEBUG,
};

enum { SDBF_RESOLVED = 1, SDBF_FAKED = 2 };

struct sdb_member {
    std::string name;         // "" = none
    type_chain *type;
    long numbers[2];
    long bits[2];             // bit-field numbers
};

struct enum_member {
    std::string name;
    long value;
};

struct sdb_entry {
    char *name;
    int kind;                 // sdb_kind
    unsigned flags;           // SDBF_*
    unsigned line;
    // variables
    type_chain *type;
    long size;
    long value;
    char *alias;
    resolved_address resolved;
    // blocks
    unsigned start_line, end_line;
    char *source_file;
    sdb_entry *parent;
    uint32_t parent_count;    // entries the parent had when this opened
    sdb_entry *function;
    long numbers[4];
    std::vector<sdb_entry *> entries;
    std::vector<sdb_entry *> *hash;   // 47 buckets, null until used
    // struct, union and enum
    int is_union;
    std::vector<sdb_member> members;
    std::vector<enum_member> enum_members;
};

extern sdb_entry *sdb_global;
void sdb_init_globals();
sdb_entry *sdb_load(const char *object_name);
void sdb_global_dump();
sdb_entry *sdb_find_var(const char *name);
bool sdb_is_function(const type_chain *chain);
bool sdb_is_bit(const type_chain *chain);
const char *sdb_define(const char *name);
void sdb_reset_for_tests();

// ===========================================================================
// formats.cpp: the format table
// ===========================================================================

struct format_desc {
    bool (*probe)(FILE *in);
    // false when the input held records that had to be dropped
    bool (*read)(FILE *in, const char *name);
    void (*write)(FILE *out, const char *name);
    bool (*dump)(FILE *in);
    const char *name;
    const char *key;
    const char *extension;
    bool binary;
};

extern const format_desc *const format_table[];
extern const unsigned format_count;
unsigned format_lookup(const char *text);     // 1-based
bool format_can_read(const format_desc *f);
bool format_can_write(const format_desc *f);
bool format_can_dump(const format_desc *f);

// The dump of a format that has none: reported as a failed dump.
bool dump_none(FILE *in);
// Everything left in the stream.
std::vector<uint8_t> read_all(FILE *in);

// The COFF dumps' shared names (mcoff.cpp): file-header flag bits 0-12,
// section flag bits 0-16, and storage classes (null for one without).
extern const char *const coff_file_flag_names[13];
extern const char *const coff_section_flag_names[17];
const char *coff_class_description(unsigned c);

// The rows each module supplies.
extern const format_desc symfile_format;
extern const format_desc ihex_format;
extern const format_desc srec_format;
extern const format_desc mcoff_format;
extern const format_desc icoff_format;
extern const format_desc coff_format;
extern const format_desc cod_format;
bool elf_probe(FILE *in);
bool elf_read(FILE *in, const char *name);
void elf_write(FILE *out, const char *name);
bool elf_dump(FILE *in);
// The description of an e_machine value, "0x%X" for one without a row.
std::string elf_machine_description(uint16_t number);

// ===========================================================================
// dwarf.cpp, dwarfdump.cpp: the DWARF 2 sections of the ELF module
// ===========================================================================

// Appends a value in the run's byte order.
void bytes_put16(std::vector<uint8_t> &b, uint16_t v);
void bytes_put32(std::vector<uint8_t> &b, uint32_t v);

struct dwarf_section {
    std::string name;
    std::vector<uint8_t> bytes;
};

// ".debug_abbrev", ".debug_info" and ".debug_line" from the SDB tree and the
// line records; none when no SDB file was read.
std::vector<dwarf_section> dwarf_generate();

// A section of the ELF file being dumped: where its bytes lie.
struct elf_section_view {
    std::string name;
    bool named;               // the name offset lay inside the name table
    uint64_t offset, size;
};

// Lists the DWARF sections among `sections` of the file held in `file`.
void dwarf_dump(const std::vector<uint8_t> &file, const std::vector<elf_section_view> &sections);

// ===========================================================================
// options.cpp, main.cpp, tidy.cpp: the run
// ===========================================================================

struct egret_output {
    unsigned format;          // format number, from 1
    std::string name;         // "" until named
};

// What the command line asks for.
struct egret_request {
    std::vector<std::string> inputs;
    std::vector<egret_output> outputs;
    unsigned forced;          // -i format, 0 when none
    bool identify;            // -c
    bool dump;                // -d
};
extern egret_request request;

void options_parse(int argc, char **argv);

void log_verbose(const char *format, ...) __attribute__((format(printf, 1, 2)));
void hex_dump(FILE *out, uint32_t address, unsigned width, const uint8_t *bytes, size_t count,
              const char *address_format, bool text);
// The steps after every input is read: line ends, per-file arrays, data
// blocks in segments, segment extents.
void tidy_model();
