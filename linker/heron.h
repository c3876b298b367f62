// heron, the linker: private header shared by its units.
//
// The linker reads every input three times. Pass 0 collects psects, symbols
// and attributes and takes modules out of libraries; pass 1 measures what each
// module puts into each psect and ends by placing every psect; pass 2 writes
// the linked object, the symbol file's module symbols and the map. Record
// handlers sit in one table indexed by record type and pass (main.cpp).
//
// Glossary: a psect is a named program section; a class a named list of
// address ranges into which psects are placed; a space an address-space
// number; a segment a placed run of psects; a delta the number of bytes per
// address unit of a psect or class.
#pragma once

#include "common.h"
#include "objfile.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct psect_rec;
struct class_range;

// ---------------------------------------------------------------------------
// Symbols, psects and classes share one record (sym.cpp)
// ---------------------------------------------------------------------------
// Linker-own flag bits above the 16 of the object records.
const uint32_t SF_BOUNDS = 0x10000;   // psect: PSECTBOUND bounds recorded

// Marks of a symbol record.
const uint16_t MARK_REQUESTED = 1;    // asked for by library selection
const uint16_t MARK_PASS1 = 2;        // defined in pass 1
const uint16_t MARK_FAILED = 4;       // its psect could not be placed
const uint16_t MARK_LOAD_GIVEN = 8;   // a load address was given in -P

struct symbol {
    char *name;            // owned copy
    uint32_t value;        // value; offsets in bytes
    symbol *psect;         // defining psect; indirect target (kind 8); merge target (psect)
    uint32_t flags;        // object flags in the low 16 bits, SF_ bits above
    uint16_t signature;    // SIGNAT value of a function
    uint16_t file_index;   // input where it was created or last defined
    uint16_t module_index; // library module where it was created or last defined
    uint16_t marks;        // MARK_ bits
    psect_rec *ps;         // psect or class: its placement record
};

// Placement record of a psect or a class.
struct psect_rec {
    uint32_t link;           // link address in bytes (times the scale)
    uint32_t load;           // load address in bytes
    uint32_t max_size;       // largest size in address units; 0 none
    uint32_t limit;          // highest address; 0 none
    uint32_t boundary;       // start on a multiple of it (address units); 0 none
    uint32_t size;           // size in the psect's own units
    uint32_t pending;        // this module's contribution (pass 1)
    uint32_t common;         // running size of the common symbols laid out in it
    uint32_t selector;       // selector of its segment
    uint32_t low_bound;      // PSECTBOUND low bound; class: lowest placed address
    uint32_t high_bound;     // PSECTBOUND high bound; class: highest placed address
    symbol *sym;             // back-link
    symbol *class_sym;       // its class, null when none
    uint8_t type;            // psect type from XPSECT
    uint8_t space;           // address-space number
    uint8_t first_space;     // first space given
    uint8_t scale;           // 8 for a bit psect, else 1
    uint8_t delta;           // bytes per address unit; 0 until given
    uint8_t state;           // PS_ placement state
    bool in_chain;           // member of another psect's with-chain
    bool has_common;         // received common symbols
    bool merged_local;       // a module-local psect continued into another
    symbol *localised_from;  // the global psect this module's piece stands for
    std::vector<psect_rec *> chain;    // with-chain: placed together with it
    uint32_t chain_total;    // size of itself and its chain, recursively
    std::vector<class_range *> *ranges; // class: its -A ranges, null when none
};

enum psect_state { PS_UNPLACED = 0, PS_PLACED = 1, PS_FITTED = 2, PS_RECORDED = 3 };

inline unsigned sym_kind(const symbol *s) { return s->flags & OBJ_KIND_MASK; }
inline bool is_psect(const symbol *s) { return (s->flags & OBJ_SPACE_MASK) == OBJ_PSECT; }
inline bool is_class(const symbol *s) { return (s->flags & OBJ_SPACE_MASK) == OBJ_CLASS; }
inline bool is_plain_symbol(const symbol *s) { return (s->flags & OBJ_SPACE_MASK) == 0; }
inline uint8_t psect_delta(const psect_rec *p) { return p->delta ? p->delta : 1; }
// Bytes a psect occupies: a bit psect's size counts bits.
inline uint32_t psect_bytes(const psect_rec *p) { return (p->size + p->scale - 1) / p->scale; }

// A module: an object file or a module taken from a library.
struct module_rec {
    std::string name;                  // file name, or the module's directory name
    std::vector<symbol *> locals;      // module-local symbols
    std::vector<symbol *> local_psects;// module-local psects
    obj_version version;               // of the module's IDENT record
    uint16_t file_index;
    uint16_t module_index;
};

struct input_file {
    std::string name;
    bool is_library;
    bool is_symbols_only;                // ".syf"/".SYF": symbols, no text
    bool repeated;                       // an object named again: read at its first place only
    module_rec *module;                  // plain object: its module
    lib_directory dir;                   // library: its directory (pass 0)
    std::vector<bool> taken;             // library: chosen modules
    std::vector<module_rec *> modules;   // library: record of each taken module
};

// Symbol table (sym.cpp)
const unsigned SYM_TABLE_SIZE = 28813;
extern symbol **sym_table;           // the global table, SYM_TABLE_SIZE slots
extern std::vector<symbol *> psect_list;   // psects and classes in creation order
extern unsigned undefined_count;     // undefined symbols
extern unsigned longest_name;        // longest symbol name
extern symbol *abs_psect;            // the absolute psect (empty name)

struct line_entry {
    uint32_t line;          // source line number
    symbol *psect;          // psect of the address
    uint32_t address;       // offset; an address once placed
    const char *file;       // source file
};
extern std::vector<line_entry> line_table;
void line_table_place();                       // offsets become addresses, sorted
const line_entry *line_at(uint32_t address);   // the source line of an address, or null

struct reserve_area {
    uint8_t space;
    uint32_t start;
    uint32_t length;
};
extern std::vector<reserve_area> reserve_list;
struct space_limit_rec {
    uint8_t space;
    uint32_t limit;
};
extern std::vector<space_limit_rec> space_limits;

unsigned sym_hash(const char *name);
symbol *find_symbol(const char *name, uint32_t flags);
symbol *sym_enter(const char *name, uint32_t flags);
symbol *psect_of(symbol *s);     // the psect a merged psect continues in, else itself
void define_symbol_pass0(const char *name, symbol *psect, uint32_t value, uint32_t flags);
void define_symbol_pass1(const char *name, symbol *psect, uint32_t value, uint32_t flags);
void define_link_symbol(const char *name, symbol *psect, uint32_t value, uint32_t flags);
void resolve_indirect(symbol *s);
void end_module_sizes();
uint32_t space_limit(unsigned space);
bool is_trivial_local(const char *name);
void sym_init();
void sym_collect_p_names();
bool sym_is_p_name(const char *name);

// Record handlers of symbols and psects (symrec.cpp)
void psect_record();
void xpsect_record();
void signat_record();
void psectlim_record();
void psectbound_record();
void reserve_record();
void spacelim_record();
void sym_record_pass0();
void sym_record_pass1();
void sym_record_pass2();
void end_record_pass1();
void end_record_pass2();
void module_start_pass2();

// Symbol output (symfile.cpp)
extern FILE *sym_file;
void write_symbol(const char *name, uint32_t value, uint32_t flags, symbol *psect);
void write_global_symbols();

// ---------------------------------------------------------------------------
// Options and run state (main.cpp)
// ---------------------------------------------------------------------------
struct heron_options {
    bool symbols_only;      // -F
    bool undefined_warn;    // -I
    bool no_callgraph;      // -K
    bool keep_reloc;        // -L
    bool keep_reloc_high;   // -LM
    bool relocatable;       // -R
    bool no_locals_S;       // -S
    bool no_locals_X;       // -X
    bool drop_trivial;      // -Z
    bool wide_map;          // -8
    bool norlf;             // --norlf
    bool binary;            // -C<address>
    uint32_t binary_base;
    bool map;               // -M given
    std::string map_name;
    std::string output_name;
    bool output_given;
    bool sym_full;          // -H
    bool sym_classes;       // -H+
    bool sym_short;         // -D
    std::string sym_name;
    std::string machine_name;   // -Q
    std::string avmap_name;     // -V
    std::string error_file;     // -E<file>: standard error appended to it
    std::string selector_expr;  // -G
    bool selector_given;
    std::string ver_name, ver_edition, ver_version;   // -VER=
    int callgraph_mode;
    int map_sort;            // 0 name, 1 value, 2 space, 3 class
    unsigned map_width;
    int debug;
    std::vector<std::string> p_texts;   // -P texts in order
};
extern heron_options opt;

extern unsigned pass;                // 0, 1, 2
extern std::vector<input_file> inputs;
extern unsigned input_index;         // current input
extern unsigned library_index;       // libraries met in this pass
extern module_rec *current_mod;      // module being read, null outside
extern std::string current_file;     // object file name or library module name
extern std::string current_library;  // library being read
extern bool skip_flag;               // a false CONDITION record
extern bool output_suppressed;       // a psect exceeded its maximum size
extern FILE *out_file;

const char *module_display_name(const symbol *s);
void msg_source_position(const char *file, unsigned line);   // null file: none
void map_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void read_module_from(FILE *in);
void tool_exit(int status);

// Command line (options.cpp)
void options_parse(int argc, char **argv, int *first_input);
void options_add_undefined(const char *name);
void map_write_heading(int argc, char **argv);

// ---------------------------------------------------------------------------
// Record layer of the linker (records.cpp)
// ---------------------------------------------------------------------------
extern obj_record rec;               // the current record
extern unsigned rec_count;           // records read in the current module
extern obj_version cur_version;      // version of the module being read
extern bool ident_seen;
extern std::string machine_name;
extern uint32_t link_location;       // link address of the current TEXT data
uint32_t addr_add(uint32_t a, uint32_t b, const char *name);
uint32_t addr_mul(uint32_t a, uint32_t b, const char *name);

bool read_record_header(FILE *in);
bool read_record_body(FILE *in);
void record_limit_set(uint32_t length);
void record_limit_clear();
bool record_limit_pause();
void record_limit_resume(bool was);
void skip_record();
void write_record(unsigned type, unsigned length, const uint8_t *body);
uint8_t *reserve_output_entry(unsigned type, unsigned size);
void flush_output_record();
void ident_record();
void report_bad_record();
void condition_record();

// ---------------------------------------------------------------------------
// Address-map file (avmap.cpp)
// ---------------------------------------------------------------------------
extern bool avmap_loaded;
void read_avmap(const std::string &machine, const std::string &file);
const char *avmap_lookup(const char *name);

// ---------------------------------------------------------------------------
// Link map (map.cpp)
// ---------------------------------------------------------------------------
void map_psect_heading();
void map_module_block(const std::string &name);
void write_map();

// ---------------------------------------------------------------------------
// Call graph (callgraph.cpp)
// ---------------------------------------------------------------------------
void fninfo_record();
void fnconf_record();
void indirlist_record();
void print_call_graph();
void write_call_graph_records();

// ---------------------------------------------------------------------------
// Libraries (library.cpp)
// ---------------------------------------------------------------------------
void open_library(FILE *in);

// ---------------------------------------------------------------------------
// Text records and output (text.cpp)
// ---------------------------------------------------------------------------
void text_size();
void text_output();
void flush_text();
void flush_all_text();
void text_current_data(uint8_t **data, unsigned *length, unsigned *header);
void text_mark_ready(unsigned end);
unsigned text_written();
void start_record();
void segstart_record();
void reloc_record();
void fix_listing();
void close_output();

// ---------------------------------------------------------------------------
// Classes and placement (classes.cpp, place.cpp, fit.cpp)
// ---------------------------------------------------------------------------
struct class_range {
    uint32_t link;       // first link address (class units)
    uint32_t length;     // units up to the high address, inclusive
    uint32_t load;       // load start
    uint32_t overrun;    // further units beyond the high address
    symbol *cls;         // owner class
    uint32_t flags;      // RANGE_TOP
};
const uint32_t RANGE_TOP = 1;

struct segment_rec {
    uint32_t length;     // bytes
    uint32_t load;
    uint32_t link;
    std::string name;    // the first psect's name
    uint32_t selector;
    uint8_t space;
    uint8_t delta;
    std::string class_name;
};

extern std::vector<symbol *> range_classes;   // classes with ranges, in -A order
extern bool deltas_given;                     // a -D<class>=<delta> was accepted
extern std::vector<std::pair<std::string, std::string>> psect_classes;  // -C pairs
extern std::vector<class_range *> master_list;
extern std::vector<segment_rec> segments;

int parse_number(const char **cursor, uint32_t *out);
void option_A(const char *text);
void option_S(const char *text);
void option_D(const char *text);
const char *option_C(const char *text);
void range_add(std::vector<class_range *> &list, symbol *cls, uint32_t link, uint32_t length,
               uint32_t overrun, uint32_t load, bool merge_only_new, class_range *after);
void range_subtract(std::vector<class_range *> &list, uint32_t low, uint32_t high, unsigned space);
void range_list_free(std::vector<class_range *> &list);
std::vector<class_range *> range_list_copy(const std::vector<class_range *> &list);

void allocate_psects();
void place_by_p_options();
void default_catenate(psect_rec *p);
uint32_t psect_base(const symbol *psect);

void build_master_list();
bool fit_psect(std::vector<class_range *> &list, psect_rec *p, uint32_t low, uint32_t high,
               bool forced_top);
void unroll_chain(psect_rec *p);
void record_segments(psect_rec *p);
bool place_in_class(symbol *cls, psect_rec *p, uint32_t low, uint32_t *link, uint32_t *load,
                    bool forced_top);
void claim_psect_memory(psect_rec *p);
uint32_t segment_selector(unsigned number, psect_rec *p, uint32_t load, uint32_t link);
void segment_start(psect_rec *p, uint32_t length);
void space_record_end(unsigned space, uint32_t end);
uint32_t largest_free_range();
uint32_t range_unit(const class_range *r);
struct space_entry {
    uint8_t space;
    uint32_t end;
};
extern std::vector<space_entry> space_table;
