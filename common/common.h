// The common tool library, linked into every program of the toolchain.
//
// Lowest layer: a growable vector of pointers with two read cursors, a chained
// hash table whose entries come from one free list shared by all tables, our
// own sort and binary search, and allocation that never hands back
// uninitialised memory. Above it: the numbered message system (texts from the
// message description file in the installation's dat directory), the argument
// reader, the operating-system layer (temporary files, spawning, paths, file
// tests) and the installation directory with its file-backed registry.
//
// Every program defines tool_exit(); the library calls it after a fatal
// message and when the error limit is passed.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// ---------------------------------------------------------------------------
// Assertions: the expression text, the source unit and the line go to the
// program's assertion handler, which reports them and stops the run.
// ---------------------------------------------------------------------------
[[noreturn]] void os_assert_fail(const char *expr, const char *unit, int line);
// A program may replace the report (the code generator words it its own way).
typedef void (*assert_hook_t)(const char *expr, const char *unit, int line);
void os_set_assert_hook(assert_hook_t hook);

#define CM_ASSERT(e, unit, line) ((e) ? (void)0 : os_assert_fail(#e, unit, line))

// ---------------------------------------------------------------------------
// vector: growable array of pointers; owns its item array, never the items.
// ---------------------------------------------------------------------------
struct vector_t {
    uint32_t count;            // items in use
    uint32_t capacity;         // slots in items; 0 until the first growth
    uint32_t initial_capacity; // capacity taken at the first growth
    uint32_t cursor;           // next item for vec_next / vec_current
    uint32_t cursor2;          // next item for vec_next2 / vec_current2
    void **items;              // null until the first growth
};

typedef int (*vec_compare_t)(const void *slot_a, const void *slot_b);

vector_t *vec_new(uint32_t initial);
vector_t *vec_new_default();
void vec_free(vector_t *v);
vector_t *vec_dup(const vector_t *v);
uint32_t vec_push(vector_t *v, void *item);
void *vec_top(vector_t *v);
void *vec_pop(vector_t *v);
uint32_t vec_count(const vector_t *v);
void *vec_get(const vector_t *v, uint32_t index);
void *vec_set(vector_t *v, void *item, uint32_t index);
uint32_t vec_index_of(const vector_t *v, const void *item);
uint32_t vec_push_unique(vector_t *v, void *item);
uint32_t vec_insert_at(vector_t *v, void *item, uint32_t index);
void vec_move(vector_t *v, uint32_t from, uint32_t to);
int vec_remove_at(vector_t *v, uint32_t index);
int vec_remove(vector_t *v, const void *item);
void vec_clear(vector_t *v);
void vec_rewind(vector_t *v);
bool vec_has_next(const vector_t *v);
void *vec_next(vector_t *v);
void *vec_current(const vector_t *v);
void *vec_first(vector_t *v);
void *vec_next2(vector_t *v);
void *vec_current2(const vector_t *v);
void *vec_first2(vector_t *v);
uint32_t vec_append(vector_t *dst, vector_t *src);
uint32_t vec_merge_unique(vector_t *dst, vector_t *src);
// The comparison receives the addresses of two item slots.
void vec_sort(vector_t *v, vec_compare_t compare);

// ---------------------------------------------------------------------------
// hash: chained table; entries appended at the end of their chain; owns its
// entries, never keys or values. Released entries go to one shared free list.
// ---------------------------------------------------------------------------
typedef uint32_t (*hash_fn_t)(const void *key);
typedef int (*hash_compare_t)(const void *given, const void *stored);
typedef int (*hash_walk_fn_t)(void *ctx, void *key, void *value);

struct hash_entry_t {
    void *value;
    void *key;
    hash_entry_t *next;
};

struct hash_t {
    uint32_t bucket_count;
    uint32_t entry_count;
    hash_fn_t hash;
    hash_compare_t compare;
    hash_entry_t **buckets;
};

uint32_t hash_ptr_hash(const void *key);
int hash_ptr_compare(const void *given, const void *stored);
// Convenience callbacks for tables keyed by zero-terminated strings.
uint32_t hash_str_hash(const void *key);
int hash_str_compare(const void *given, const void *stored);

hash_t *hash_new(uint32_t size, hash_fn_t hash, hash_compare_t compare);
int hash_insert(hash_t *h, void *key, void *value);
void *hash_lookup(const hash_t *h, const void *key);
void *hash_remove(hash_t *h, const void *key);
uint32_t hash_count(const hash_t *h);
int hash_walk(const hash_t *h, void *ctx, hash_walk_fn_t fn);
vector_t *hash_values(const hash_t *h);
vector_t *hash_keys(const hash_t *h);
void hash_clear(hash_t *h);
void hash_free(hash_t *h);
hash_t *hash_dup(const hash_t *h);
hash_t *hash_assign(hash_t *dst, const hash_t *src);
uint32_t hash_string(const char *text);
// Low level: take an entry from the shared free list / give one back.
hash_entry_t *hash_entry_take();
void hash_entry_release(hash_entry_t *e);
// Number of entries waiting on the shared free list (for tests and traces).
uint32_t hash_free_list_length();

// ---------------------------------------------------------------------------
// intermediate-code libraries: a module keeps its version line plain and
// hides every later byte; the n-th of them (n counted from 1, modulo 256) is
// XORed with scramble_mask(n). The librarian writes such modules and the
// code generator reads them, so both take the mask from here.
// ---------------------------------------------------------------------------
uint8_t scramble_mask(uint8_t counter);

// ---------------------------------------------------------------------------
// sort and search
// ---------------------------------------------------------------------------
typedef int (*os_compare_t)(const void *a, const void *b);
void os_qsort(void *base, size_t n, size_t size, os_compare_t compare);
void *os_bsearch(const void *key, const void *base, size_t n, size_t size, os_compare_t compare);

// ---------------------------------------------------------------------------
// allocation: memory always zero-filled; out of memory stops the program.
// ---------------------------------------------------------------------------
void *xmalloc(size_t size);
void *xrealloc(void *p, size_t size);
char *xstrdup(const char *s);
char *xvasprintf(const char *format, va_list args);
char *xasprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *xstrcat(const char *a, const char *b);
char *xstrcat_free(char *a, const char *b);
// std::string formatting, unbounded (for code that does not need the
// 4096-byte rule).
std::string str_vprintf(const char *format, va_list args);
std::string str_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The value of a hexadecimal digit of either case, or -1 for any other
// character (EOF included).
int hex_digit_value(int c);

// ---------------------------------------------------------------------------
// numbered messages
// ---------------------------------------------------------------------------
enum msg_kind {
    MSG_MALFORMED = 0,
    MSG_FATAL = 1,
    MSG_MESSAGE = 2,
    MSG_ERROR = 3,
    MSG_WARNING = 4,
    MSG_SUPPRESSED = 5,
};

struct msg_entry_t {
    int kind;        // msg_kind
    unsigned number;
    char *text;      // owned copy
    int level;       // warning level
};

typedef void (*msg_output_hook_t)(const char *line);
typedef void (*msg_prereport_hook_t)();

// Each program names itself once at start-up: the %a placeholder, the
// argument prompt and the Component line of the version banner.
void msg_set_tool_name(const char *name);
const char *msg_tool_name();

int msg_report(unsigned n, ...);
int msg_vreport(unsigned n, va_list args);
int msg_report_once(unsigned n, ...);
int msg_report_text(unsigned n, const char *kind, const char *format, ...);
int msg_report_unnumbered(const char *kind, const char *format, ...);
void msg_vprint(const char *format, va_list args);
void msg_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
void msg_print_part(int last, const char *format, ...) __attribute__((format(printf, 2, 3)));

void msg_init();
int msg_open_file(const char *path);
int msg_open_language(int id);
const char *msg_file_name();
unsigned msg_set_error_limit(unsigned n);
int msg_set_warning_level(int t);
void msg_set_warnings_fail(int on);
void msg_set_format_mode(int m);
void msg_set_formats(const char *error, const char *warning, const char *message);
void msg_set_location(const char *file, const unsigned *line, const char *const *line_start,
                      const char *const *position);
void msg_set_output_hook(msg_output_hook_t fn);
void msg_set_prereport_hook(msg_prereport_hook_t fn);
void msg_state_op(unsigned n, int op);
void msg_parse_disable_list(const char *list);
int msg_exit_status();
unsigned msg_error_count();
unsigned msg_warning_count();
// The loaded table's entry for n (null when none); for programs that list
// their messages and for tests.
const msg_entry_t *msg_lookup(unsigned n);
// Handles the options every tool shares: --edf=, --msgdisable=, --disl=,
// --emax= and --ver. Returns 1 when arg was one of them.
int msg_std_option(const char *arg);
// Puts the message system back to its state at program start (tests only).
void msg_reset_for_tests();

// Each program defines this: its clean-up before the run ends.
void tool_exit(int status);

// Language table.
struct lang_entry_t {
    int id;
    const char *names;
    const char *code;
};
int lang_id_from_name(const char *name);
const char *lang_code(int id);
int lang_default_id();
void lang_init();

// ---------------------------------------------------------------------------
// argument reader
// ---------------------------------------------------------------------------
extern int getargs_count;
// Element 0 is "", then the arguments, then null. text null = standard input.
char **getargs(char *text, const char *prompt);
// For tests: read from this stream instead of standard input (null restores).
void getargs_set_input(FILE *in, int is_terminal);

// ---------------------------------------------------------------------------
// operating-system layer: the only code that talks to the platform.
// ---------------------------------------------------------------------------
enum os_path_style { OS_PATH_WINDOWS = 0, OS_PATH_POSIX = 1 };
extern const int os_native_path_style;
extern const char os_dir_sep; // native separator

// The folder temporary files go in: the first of TEMP, TMP and TMPDIR that
// is set and not empty, else /tmp.
std::string os_temp_folder();
// Standard output collected in memory between begin and end (what printf
// writes meanwhile is returned by end instead of written); begin fails
// (false) when a capture is already open or no memory stream can be made.
bool os_capture_stdout_begin();
std::string os_capture_stdout_end();
// A new file or folder of a name nobody else holds, in the temporary folder;
// it goes at exit (a folder with the files in it) unless temporary files are
// kept. Null after message 141 when none can be made.
char *os_temp_name();
char *os_temp_dir();
void os_keep_temp_files(int on);
void os_remove_temp_files();
int os_setenv(const char *name, const char *value);
const char *os_getenv(const char *name);
long long os_time(long long *out);
// Exit status of the program, or -1 when it could not be started; death by a
// signal is a non-zero status (128 + signal).
int os_spawn(const char *path, char *const argv[]);
char *os_quote_arg(const char *text);
char *os_path_join(const char *dir, const char *name);
char *os_path_normalize(const char *path);
bool os_path_is_absolute(const char *path);
char *os_path_absolute(const char *path);
char *os_path_relative(const char *path);
const char *os_path_basename(const char *path);
char *os_path_dirname(const char *path);
// The same path rules in an explicit style, so both are testable anywhere.
char *os_path_join_style(int style, const char *dir, const char *name);
char *os_path_normalize_style(int style, const char *path);
bool os_path_is_absolute_style(int style, const char *path);
char *os_path_relative_to(int style, const char *absolute, const char *cwd);
const char *os_path_basename_style(int style, const char *path);
char *os_path_dirname_style(int style, const char *path);
bool os_path_exact_case(const char *path);
bool os_file_exists(const char *path);
bool os_is_directory(const char *path);
char *os_program_path();
char *os_current_dir();
int os_remove_file(const char *path);
// Renames over an existing file (atomic on one file system); 0 on success.
int os_rename_file(const char *from, const char *to);
// As os_rename_file, and across file systems too, where the file is copied;
// the new name holds either its old file or the whole moved one.
int os_move_file(const char *from, const char *to);
// True when both names are the same file (same device and inode).
bool os_same_file(const char *a, const char *b);
bool os_isatty(FILE *f);
char *os_str_lower(char *s);
char *os_str_upper(char *s);
uint16_t *os_wstr_copy(uint16_t *dst, const uint16_t *src);
size_t os_wstr_len(const uint16_t *s);
uint16_t *os_wstr_dup(const uint16_t *s);
int os_wstr_compare(const uint16_t *a, const uint16_t *b);
struct os_version_t {
    std::string text;
    unsigned flags;
};
os_version_t os_version_info();
std::string os_version_text();
unsigned os_version_flags();
// Reads one line of any length without its line end; CRLF and LF alike.
// False at end of file with nothing read.
bool os_read_line(FILE *f, std::string &line);

// ---------------------------------------------------------------------------
// registry (a file-backed store named by VRK_REGISTRY), installation
// directory, PATH update and version banner
// ---------------------------------------------------------------------------
enum reg_type { REG_T_NONE = 0, REG_T_SZ = 1, REG_T_EXPAND_SZ = 2, REG_T_BINARY = 3, REG_T_DWORD = 4 };
enum {
    REG_ERR_FILE_NOT_FOUND = 2,
    REG_ERR_ACCESS_DENIED = 5,
    REG_ERR_WRITE_FAULT = 29,
    REG_ERR_BAD_TYPE = 160,
    REG_ERR_MORE_DATA = 234,
    REG_ERR_NO_MORE_ITEMS = 259,
};

#define PRODUCT_KEY "Software\\Vormak Software\\ZEPH\\pro\\9.60"
#define RELEASE_KEY PRODUCT_KEY "\\PL5"

struct reg_value_t {
    char *data;     // owned copy, null when nothing was read
    uint32_t size;  // bytes, strings with their terminating zero
    int status;
};
struct reg_named_value_t {
    char *name;
    char *data;
    uint32_t size;
    uint32_t reserved;
};
struct reg_key_list_t {
    int root;
    char *key;
    vector_t *names;
    uint32_t count;
    int status;
};

const char *reg_root_key(int n);
int reg_read_dword_ex(int root, const char *key, const char *name, uint32_t *out, int extra);
int reg_read_dword(int root, const char *key, const char *name, uint32_t *out);
reg_value_t reg_read_string_ex(int root, const char *key, const char *name, int extra);
reg_value_t reg_read_string(int root, const char *key, const char *name);
reg_value_t reg_read_binary(int root, const char *key, const char *name);
reg_key_list_t reg_enum_subkeys(int root, const char *key);
int reg_enum_values(vector_t *list, int root, const char *key);
int reg_write_string(int root, const char *key, const char *name, const char *text);
int reg_write_expand_string(int root, const char *key, const char *name, const char *text);
int reg_write_dword(int root, const char *key, const char *name, uint32_t value);
int reg_write_binary(int root, const char *key, const char *name, const void *data, uint32_t size);
int reg_delete_tree(int root, const char *key);
int reg_delete_value(int root, const char *key, const char *name);
int prod_read_dword(const char *name, uint32_t *out);
char *prod_read_string(const char *name);
int prod_write_dword(const char *name, uint32_t value);

enum install_kind {
    INST_ROOT = 0, INST_BIN = 1, INST_LIB = 2, INST_HELP = 3,
    INST_INCLUDE = 4, INST_DAT = 5, INST_SOURCES = 6, INST_RESOURCES = 7,
};
int install_dir_set(const char *dir);
char *install_dir(int kind);
char *install_path(int kind, const char *name);
// The root as found from a program's path alone (the "bin" rule).
char *install_root_from_program(int style, const char *program_path);
int sysenv_update(int mode, const char *name, const char *value);
// The NT-family update itself, over the registry layer (tests reach it here).
int sysenv_update_nt(int mode, const char *name, const char *value);
void print_version_banner(const char *component = nullptr);
