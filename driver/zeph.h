// Private header of the compiler driver zeph: the option engine and its
// records, the driver's option variables, the build state, the doubly linked
// list, argument lists and the phases that run the other programs.
#pragma once

#include "common.h"
#include "chip/chip.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// llist: doubly linked list of caller-owned pointers (llist.cpp)
// ---------------------------------------------------------------------------
struct llist_node {
    void *data;       // the caller's item
    llist_node *prev; // null at the head
    llist_node *next; // null at the tail
};

struct llist {
    uint32_t count;   // nodes in the list
    llist_node *head; // null when empty
    llist_node *tail; // null when empty
};

typedef int (*llist_walk_fn)(void *ctx, void *data);
typedef int (*llist_compare_fn)(const void *a, const void *b);

llist *llist_new();
void llist_clear(llist *list);
void llist_free(llist *list);
llist *llist_copy(const llist *list);
llist_node *llist_head(const llist *list);
llist_node *llist_tail(const llist *list);
uint32_t llist_count(const llist *list);
int llist_is_empty(const llist *list);
void *llist_node_data(const llist_node *node);
void llist_node_set_data(llist_node *node, void *data);
llist_node *llist_node_prev(const llist_node *node);
llist_node *llist_node_next(const llist_node *node);
llist_node *llist_push_front(llist *list, void *data);
llist_node *llist_push_back(llist *list, void *data);
llist_node *llist_insert_before(llist *list, llist_node *node, void *data);
llist_node *llist_insert_after(llist *list, llist_node *node, void *data);
void *llist_remove(llist *list, llist_node *node);
void llist_append_list(llist *list, llist *other);
void llist_prepend_list(llist *list, llist *other);
llist *llist_split_before(llist *list, llist_node *node);
llist *llist_split_after(llist *list, llist_node *node);
int llist_walk_forward(llist *list, llist_node *from, void *ctx, llist_walk_fn fn);
int llist_walk_backward(llist *list, llist_node *from, void *ctx, llist_walk_fn fn);
int llist_for_each(llist *list, void *ctx, llist_walk_fn fn);
int llist_for_each_reverse(llist *list, void *ctx, llist_walk_fn fn);
void llist_merge_sorted(llist *list, const llist *other, llist_compare_fn cmp);
vector_t *llist_to_vector(const llist *list);

// ---------------------------------------------------------------------------
// vkopt: the table-driven option engine (vkopt.cpp)
// ---------------------------------------------------------------------------
enum option_flag : uint32_t {
    OPT_ARG_REQUIRED = 0x1,
    OPT_ARG_OPTIONAL = 0x2,
    OPT_ONCE = 0x4,
    OPT_STOP = 0x100,
};

// How one occurrence of an option is applied.
enum option_kind : uint32_t {
    OPTK_HANDLER = 0,   // handler(option, value); nameless: action(option)
    OPTK_FLAGSET = 1,   // list of row names ORed into the variable
    OPTK_CHOICE = 2,    // one row (or "default")
    OPTK_FLAGSET3 = 3,  // as OPTK_FLAGSET, shorter help
    OPTK_BYNAME = 4,    // value of the first row whose names hold the value
    OPTK_BOOLEAN = 5,   // variable becomes 1
    OPTK_COUNTER = 6,   // variable rises by 1
    OPTK_INTEGER = 7,   // variable becomes atoi(value)
    OPTK_NUMBER = 8,    // hexadecimal value to number(option, n)
    OPTK_RANGE = 9,     // each lo-hi range to range(option, lo, hi)
    OPTK_RANGESPEC = 10 // signed range list to add/remove callbacks
};

struct option_record;
typedef void (*option_handler_fn)(option_record *opt, const char *value);
typedef void (*option_action_fn)(option_record *opt);
typedef void (*option_number_fn)(option_record *opt, uint32_t value);
typedef void (*option_range_fn)(option_record *opt, uint32_t lo, uint32_t hi);
typedef range_item_fn_t option_item_fn;
typedef void (*file_callback_fn)(const char *name);

struct choice_row {
    uint32_t value;        // bits or value the row stands for
    const char *names;     // ";"-separated names, compared without case
    const char *text;      // help description
    char *arg_buffer;      // receives the text after ":" (OPTION_ARG_SIZE bytes)
    uint32_t default_mark; // bit 0: part of the default value
};

union option_target {
    option_handler_fn handler; // OPTK_HANDLER, named
    option_action_fn action;   // OPTK_HANDLER, nameless
    option_number_fn number;   // OPTK_NUMBER
    option_range_fn range;     // OPTK_RANGE
    option_item_fn add;        // OPTK_RANGESPEC, "+" items
    uint32_t *variable;        // kinds 1-7
};

struct option_record {
    int32_t id;            // identity for handlers; 0 for nameless actions
    const char *name;      // "X" for -X, "name" for --name, null for an action
    uint32_t priority;     // higher first; 0 ends the table
    uint32_t flags;        // option_flag bits
    uint32_t kind;         // option_kind
    option_target target;  // handler or variable
    choice_row *choices;   // rows of kinds 1-4
    const char *title;     // help title (may be null)
    const char *help;      // help text; null keeps the option out of --help
    option_item_fn remove; // OPTK_RANGESPEC, "-" items
    uint32_t times_given;  // occurrences so far
};

// Size of a choice row's argument buffer; a longer argument is cut to fit.
constexpr size_t OPTION_ARG_SIZE = 64;

int parse_options(option_record *table, int argc, char **argv, file_callback_fn file_callback,
                  const char *tool_word);
// True while options are applied when name is one of the file arguments.
bool option_names_input_file(const char *name);
uint32_t option_dispatch(option_record *opt, const char *value);
void parse_choice_list(int mode, const char *value, choice_row *rows, option_record *opt);
option_record *option_find_by_id(option_record *table, int32_t id);
option_record *option_find_by_name(option_record *table, const char *name);
choice_row *choice_find_by_value(choice_row *rows, uint32_t value);
uint32_t choice_defaults(const choice_row *rows);
void flagset_apply_defaults(option_record *opt);
void flagset_set_value(option_record *opt, uint32_t value);
bool choice_name_matches(const char *names, const char *text);
bool option_is_long(const option_record *opt);
const char *option_display_name(const option_record *opt);
uint32_t option_times_given(const option_record *opt);
int32_t option_id(const option_record *opt);
const char *option_usage(const option_record *opt);
void print_help(option_record *opt, const char *topic);
uint32_t key_hash(const char *text);
// Splits text at any of the separators, dropping empty pieces.
std::vector<std::string> split_tokens(const std::string &text, const char *seps);
// Reads all of a file into a string; false when it cannot be opened.
bool read_whole_file(const char *path, std::string &text);

// ---------------------------------------------------------------------------
// options: the driver's options table, its variables and handlers (options.cpp)
// ---------------------------------------------------------------------------
// Option ids that other units look up.
enum option_ids {
    OPTID_CHIP = 16, OPTID_ROM = 51, OPTID_RAM = 52, OPTID_CODEOFFSET = 1024,
    OPTID_APBANK = 1025, OPTID_HELP = 9, OPTID_RUNTIME = 43, OPTID_OUTPUT = 44,
};

// Bits of --runtime, --output, --opt, --summary and the other choice tables.
enum runtime_bits : uint32_t {
    RT_INIT = 0x1, RT_CLEAR = 0x2, RT_CLIB = 0x4, RT_KEEP = 0x10, RT_NOSTARTUP = 0x20,
    RT_OSCCAL = 0x10000, RT_RESETBITS = 0x20000, RT_DOWNLOAD = 0x40000,
    RT_STACKWARN = 0x100000, RT_STACKCALL = 0x200000, RT_OSCVAL = 0x400000,
};
enum output_bits : uint32_t {
    OUT_INTEL = 0x1, OUT_TEK = 0x2, OUT_AAHEX = 0x4, OUT_MOT = 0x8, OUT_UBROF = 0x10,
    OUT_BIN = 0x20, OUT_TSK = 0x20040, OUT_COD = 0x400, OUT_COFF = 0x800, OUT_MCOF = 0x1000,
    OUT_ELF = 0x4000, OUT_OMF = 0x8000, OUT_EOMF = 0x10000, OUT_HTK = 0x20000,
    OUT_LIB = 0x200000, OUT_LPP = 0x400000, OUT_INHX032 = 0x800000,
};
enum opt_bits : uint32_t { OPTB_ASM = 0x1, OPTB_ASMFILE = 0x2, OPTB_PROGMEM = 0x40000 };
enum debugger_bits : uint32_t { DBG_NONE = 0x1, DBG_ICD = 0x2, DBG_ICD2 = 0x4, DBG_PICKIT2 = 0x8,
                                DBG_PICKIT3 = 0x10, DBG_REALICE = 0x20, DBG_ICD3 = 0x40 };
enum ide_values : uint32_t { IDE_TARNEL = 1, IDE_MPLAB = 2 };
enum { SUMMARY_FILE = 0x8 };
enum bankqual_bits : uint32_t { BQ_IGNORE = 0x1, BQ_REQUEST = 0x2, BQ_REQUIRE = 0x4, BQ_REJECT = 0x8 };
enum float_bits : uint32_t { FLT_24 = 0x1, FLT_32 = 0x2, FLT_FAST32 = 0x100, FLT_DOUBLE = 0x400 };

// The eleven programs of the tool table, by index.
enum tool_index : uint32_t {
    TOOL_LINNET, TOOL_WREN, TOOL_PLOVER, TOOL_KESTREL, TOOL_OSPREY, TOOL_HERON,
    TOOL_FINCH, TOOL_SISKIN, TOOL_EGRET, TOOL_ROOK, TOOL_TANAGER, TOOL_COUNT
};
extern const char *const tool_names[TOOL_COUNT];

// The checksum request of --checksum.
struct checksum_request {
    char *text;           // the option's value
    unsigned long start;  // first address summed
    unsigned long end;    // last address summed
    unsigned long dest;   // where the result goes
    unsigned long offset; // added to the sum
    int width;            // bytes of the result; negative: little-endian
    int algorithm;        // siskin's algorithm number
};

// Variables of the table-driven options (kinds 1-7).
struct option_values {
    uint32_t ide;          // --ide: IDE_TARNEL, IDE_MPLAB or 0
    uint32_t debugger;     // --debugger bits
    uint32_t quiet;        // -Q
    uint32_t warn;         // --warn level (-9 to 9)
    uint32_t summary;      // --summary bits
    uint32_t errors;       // --errors: error limit, 0 keeps the default
    uint32_t compile_only; // -C
    uint32_t asm_only;     // -S
    uint32_t noexec;       // --noexec
    uint32_t echo;         // --echo
    uint32_t nodel;        // --nodel
    uint32_t asmlist;      // --asmlist
    uint32_t time;         // --time
    uint32_t proto;        // --proto
    uint32_t scandep;      // --scandep
    uint32_t ident_length; // -N
    uint32_t preprocess_asm; // -P
    uint32_t strip_locals; // -X
    uint32_t opt;          // --opt bits
    uint32_t output;       // --output bits
    uint32_t callgraph;    // --callgraph style 0-3
    uint32_t dbl;          // --double bits
    uint32_t flt;          // --float bits
    uint32_t runtime;      // --runtime bits
    uint32_t bankqual;     // --bankqual bits
    uint32_t chartype;     // --char (not used)
};
extern option_values opts;

// State the option handlers set.
struct driver_settings {
    bool ide_format;            // an IDE or custom message format is in force
    const char *formats[3];     // error, warning, advisory formats
    FILE *error_file;           // -E file, null when none
    bool getoption;             // --getoption given
    bool setoption;             // --setoption given
    char *option_files[TOOL_COUNT]; // configurable-option file per tool
    uint32_t verbose;           // -V count
    char *symbol_file;          // -G name or default
    bool map_requested;         // -M given
    char *map_name;             // -M value
    bool cross_reference;       // --cr given
    char *cr_listing;           // --cr value
    bool debug_build;           // a -D__DEBUG... option
    char *fill;                 // --fill text
    char *serial;               // --serial text
    unsigned serial_words;      // program words the serial number takes
    unsigned long serial_address; // --serial address after "@"
    bool serial_at;             // --serial had an address
    checksum_request checksum;  // --checksum
    bool checksum_given;        // --checksum given
    bool pass1;                 // --pass1
    bool pre;                   // --pre
    bool strict;                // --strict
    char *msgdisable;           // --msgdisable list
    int lang_id;                // --lang choice, 0 when none
    bool old_chip_syntax;       // "-16F877A" was rewritten
};
extern driver_settings settings;
extern option_record driver_options[];
extern choice_row runtime_rows[];
extern choice_row output_rows[];

// Sets and exports the three message formats the tools inherit.
void set_formats(const char *error, const char *warning, const char *advisory);
// The argument given with --runtime=oscval:<value> (empty when none).
const char *oscval_text();
// Gives every option of the table its start-up value (build steps 5-6).
void options_set_defaults();
// Looks up a driver option by id (never null for the ids above).
option_record *driver_option(int32_t id);

// ---------------------------------------------------------------------------
// build: the build state and the main sequence (build.cpp)
// ---------------------------------------------------------------------------
struct stage_record {
    const char *name; // stage name (not owned)
    int32_t ms;       // accumulated milliseconds
};

struct build_state {
    bool created;            // the state exists (tool_exit removes temporaries)
    vector_t *sources;       // .c, .usb, .as, .asm
    vector_t *intermediates; // .plover, with the parser outputs
    vector_t *ilibraries;    // .lpp
    vector_t *objects;       // .obj, .lib and the assembler outputs
    vector_t *hexfiles;      // .hex inputs merged into the output
    vector_t *defines;       // preprocessor arguments
    vector_t *libnames;      // -L<name>
    vector_t *linker_opts;   // -L-<option>
    vector_t *written;       // outputs the programs were run to write,
                             // removed when the run fails
    vector_t *published;     // pairs: a file of the run's folder, then the
                             // product it becomes when the run succeeds
    vector_t *file_args;     // file arguments awaiting classification
    vector_t *stages;        // stage_record, first use order
    uint32_t classified;     // file arguments classified
    char *temp[3];           // preprocessor/codegen output, USB C file, string store
    char *output_name;       // base name with extension
    char *output_dir;        // absolute
    char *object_dir;        // absolute
    char *temp_map;          // map name removed at exit
    char *run_dir;           // the run's own folder in the temporary folder
    char *link_object;       // the final link's output, read by the HEX converter
    char *cr_file;           // the cross-reference file the parser adds to
    char *library_source;    // the C library's printf source, once compiled
    char *map_file;          // the link map's name
    char *symbol_file;       // the symbol file's name
    char *chipinfo_path;     // the chip database
    char *include_arg;       // "-I<install include>"
    char *warn_arg;          // "-W<level>" or null
    uint32_t errors;         // failed tool runs
    vector_t *command_line;  // every argv element
    char version[32];        // "9.60PL5"
    stage_record *stage;     // current stage, null when none
    long long stage_start;   // ms of the current stage's start
    long long start_ms;      // ms at start-up
    bool banner_printed;     // banner shown once
};
extern build_state bs;

int build_main(int argc, char **argv);
void build_state_create();
void classify_input(const char *name);
void add_file_argument(const char *name);
void compile_source(const char *name);
bool build_failed();
void stage_timer(const char *name);
void print_banner();
const char *output_extension(uint32_t bits);
void set_output_dir(const char *path);
void set_output_name(const char *path);
// Moves `from` (a file of the run's folder) to `to` when the run succeeds;
// both owned.
void publish_on_success(char *from, char *to);
long long now_ms();
// Removes the temporary files (unless --nodel) and, when the run failed, the
// outputs its programs were run to write; gives the exit status: the exit
// hook's work before the process ends.
int build_cleanup(int status);
// Joins standard error to the -E file or standard output, and line
// buffering for IDEs (sysdep.cpp).
void sys_join_stderr(FILE *to);
void sys_line_buffering();

// ---------------------------------------------------------------------------
// phases: argument lists, the runner and one function per phase (phases.cpp)
// ---------------------------------------------------------------------------
enum { ARG_CONFIGURABLE = 0x1 };

// Longest argument the driver hands to a program. Texts are formatted within
// 4095 bytes across the toolchain and an argument with blanks is echoed in
// quotes, so a longer one could not reach the program (or the echo) whole.
constexpr size_t ARG_TEXT_LIMIT = 4093;
// Ends the run with message 1474 when text is longer than ARG_TEXT_LIMIT.
void check_arg_length(const char *text);
// Formatting without the common library's cut: the driver's names and
// arguments are built whole, and check_arg_length refuses the ones too long
// to pass on.
char *zeph_vasprintf(const char *format, va_list args);
char *zeph_asprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

struct arg_entry {
    char *text;     // owned
    uint32_t flags; // ARG_CONFIGURABLE
};

struct arglist {
    uint32_t tool;      // tool_index
    llist *entries;     // arg_entry, in order
    vector_t *outputs;  // owned names of the files the program writes
};

arglist *arglist_new(uint32_t tool);
void arglist_append(arglist *list, char *text);
void arglist_append_flags(arglist *list, uint32_t flags, char *text);
void arglist_appendf(arglist *list, const char *format, ...) __attribute__((format(printf, 2, 3)));
void arglist_appendf_flags(arglist *list, uint32_t flags, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void arglist_append_copy(arglist *list, const char *text);
void arglist_append_copy_flags(arglist *list, uint32_t flags, const char *text);
void arglist_prepend(arglist *list, char *text);
void arglist_prepend_flags(arglist *list, uint32_t flags, char *text);
void arglist_prependf(arglist *list, const char *format, ...) __attribute__((format(printf, 2, 3)));
void arglist_prependf_flags(arglist *list, uint32_t flags, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void arglist_prepend_copy(arglist *list, const char *text);
void arglist_prepend_copy_flags(arglist *list, uint32_t flags, const char *text);
// Appends prefix followed by path, a file the program writes (path owned).
void arglist_append_output(arglist *list, const char *prefix, char *path);
// Notes a file the program writes without naming it (path owned).
void arglist_note_output(arglist *list, char *path);
arglist *arglist_copy(const arglist *list);
uint32_t arglist_count(const arglist *list);
void arglist_free(arglist *list);
// Appends a copy of each string of v (nothing when v is null).
void arglist_append_strings(arglist *list, const vector_t *v);
// Frees each string of v, then v (nothing when v is null).
void free_strings(vector_t *v);
// The texts in order, as a new vector of borrowed strings (for tests).
vector_t *arglist_texts(const arglist *list);

bool run_phase(arglist *list);
// --setoption=<tool>,off: the tool never runs.
bool tool_switched_off(uint32_t tool);
void linker_default_option(arglist *list, char *text);
void linker_default_option_copy(arglist *list, const char *text);
void linker_default_optionf(arglist *list, const char *format, ...) __attribute__((format(printf, 2, 3)));

bool has_extension(const char *name, const char *ext);
bool is_asm_source(const char *name);
char *replace_extension(const char *name, const char *ext);
char *output_file_name(const char *ext);
char *object_file_name(const char *name, const char *ext);
void delete_temp(const char *path);
// A file of the run's own folder, made private to this run in the temporary
// folder, so that runs side by side in one directory never share one; the
// folder goes at exit unless --nodel.
char *run_file(const char *name);
// The final link's output, and the cross-reference file (private unless it
// is the product of --cr).
const char *link_object();
const char *cross_reference_file();
// The installation's directory of `kind`, or the file `name` in it; when no
// installation directory is known the run ends with message 1520, which
// names what was looked for ("what name").
char *install_lookup(int kind, const char *name, const char *what);

bool phase_listing(const char *source, const char *base);
bool phase_preprocess(const char *source, const char *base);
bool phase_parse(const char *base);
bool phase_codegen(const char *base, vector_t *inputs, bool prepass);
bool phase_assemble(const char *base, const char *source, bool marked);
bool phase_library(bool intermediate);
bool phase_library_order(const char *library, vector_t *modules);
bool phase_cross_reference();
bool phase_hex_output(const char *output, uint32_t bits);
bool phase_hex_merge(const char *hexfile, uint32_t bits);
bool phase_debug_convert(const char *hexfile, const char *symfile, uint32_t bit);
bool rewrite_prototypes(const char *base);
std::string proto_old_style(const std::string &line);

// ---------------------------------------------------------------------------
// link: the two link stages and their start-up files (link.cpp)
// ---------------------------------------------------------------------------
// Links the program (prelink and final link); true on success.
bool phase_link();
void write_startup_header(FILE *f, bool prelink);

// ---------------------------------------------------------------------------
// symtab: the symbol table of the linked program, read from the linker's
// symbol file between the link stages (symtab.cpp)
// ---------------------------------------------------------------------------
typedef int (*symt_filter_fn)(const char *name);

void symt_init();
void symt_free();
// 1 when the file was read, 0 when it cannot be opened (nothing reported).
int symt_read(const char *path);
// Queries: a null or unknown name gives 0 (null for texts).
int symt_exists(const char *name);
uint32_t symt_value(const char *name);
uint32_t symt_delta(const char *name);
const char *symt_class(const char *name);
int symt_psect_exists(const char *name);
uint32_t symt_psect_low(const char *name);
uint32_t symt_psect_base(const char *name);
uint32_t symt_psect_size(const char *name);
const char *symt_psect_class(const char *name);
const char *symt_symbol_psect_name(const char *name);
int symt_symbol_in_psect(const char *name, const char *psect);
int symt_addr_in_psect(uint32_t address, const char *psect);
int symt_has_vector(uint32_t address);
int symt_has_any_vector_in(uint32_t lo, uint32_t hi);
// Iterators: command 0 resets (gives null), 1 gives the next name or null.
const char *symt_next_symbol(int command);
const char *symt_next_psect(int command);
int symt_symbol_iterator_state();
int symt_psect_iterator_state();
void symt_set_filter(symt_filter_fn filter);
// Only symbols of the named psect (null: every symbol).
void symt_only_psect(const char *name);

// ---------------------------------------------------------------------------
// startup: the body of the generated start-up file (startup.cpp)
// ---------------------------------------------------------------------------
void write_startup_body(FILE *f, bool prelink);

// ---------------------------------------------------------------------------
// placement: the linker's psect placement arguments (placement.cpp)
// ---------------------------------------------------------------------------
void placement_args(arglist *args);
void placement_args_final(arglist *args);
// The first call of a run only arms it; later calls place the functions
// the symbol table shows at absolute addresses.
void absolute_function_args(arglist *args);
// Forgets the link stage and the armed state (tests).
void placement_reset();

// ---------------------------------------------------------------------------
// mapinfo: the link map read back, the memory summaries and the linker's
// class range arguments (mapinfo.cpp)
// ---------------------------------------------------------------------------
// Adds every psect of the map's class table to its class in the chain.
void read_mapfile(FILE *map, range_space **spaces);
// The summaries --summary selects; to_file also writes their files.
void print_summaries(range_space *spaces, bool to_file);
// Opens, reads and summarises the map after a link.
void print_map_summary(const char *map_file, bool to_file);
// The same for --memmap, without the files.
void memmap_summary(const char *map_file);
void class_range_args(range_space *space, arglist *args);

// ---------------------------------------------------------------------------
// objscan: the scan of object and library inputs for the code generator
// (objscan.cpp)
// ---------------------------------------------------------------------------
// Scans the object list when the code generator will run.
void obj_scan();
// Reads every file, orders the modules, reorders the libraries' modules and
// replaces `files` by the ordered objects followed by the libraries.
void obj_scan_files(vector_t *files);
// The code generator's -B, -N and -Q arguments (owned strings).
vector_t *obj_symbol_args();
// Forgets every finding (tests).
void obj_scan_reset();

// ---------------------------------------------------------------------------
// usb: the USB descriptor compiler (usb.cpp)
// ---------------------------------------------------------------------------
// Compiles a USB descriptor description into C; false when the input or
// the output cannot be opened.
bool compile_usb(const char *source, const char *c_file);

// ---------------------------------------------------------------------------
// chipargs: chip-specific arguments of the tools, the qualifier definitions
// and the output-conversion details (chipargs.cpp)
// ---------------------------------------------------------------------------
vector_t *qualifier_options(uint32_t arch);
void preprocessor_chip_args(arglist *args);
void parser_chip_args(arglist *args);
void codegen_processor_args(arglist *args);
void assembler_chip_args(arglist *args);
vector_t *codegen_library_list();
vector_t *codegen_library_list_2();
vector_t *linker_library_list();
vector_t *linker_library_list_2();
char *library_stem(const char *name);
const char *default_fill_word();
const char *default_fill_value();
// The oscillator calibration value of --runtime=oscval:<hex>, read by
// read_osc_calibration after option processing.
extern uint32_t osc_calibration;
void read_osc_calibration();
// A --fill value (program words) in the HEX utility's byte order.
char *fill_bytes_for_hex(const char *fill);
unsigned checksum_word_code();
void hex_conversion_args(arglist *args, uint32_t format_bits);
void hex_merge_args(arglist *args);
void converter_args(arglist *args, uint32_t output_bit);
