// plover: the C parser. Reads one preprocessed translation unit and writes
// its intermediate code: a version line, then bracketed text records in
// source order (variables, structures, enumerations, initialisers,
// prefix-order expression statements, pragmas), strings at the end.
//
// Units: main (options, files, run order, string records), lex (tokens,
// directive lines), pragma (#pragma lines), sym (symbol table, scopes,
// cross-reference and prototype lines), types (type records, sizes,
// qualifiers, compatibility), declarator (specifiers, declarators,
// struct/union/enum bodies), icode (the writer of the text format), expr
// (expressions), constant (constant tests and values), printf (format
// checks), decl (declarations, initialisers, function definitions), stmt
// (statements), alert (source echo under messages).
#pragma once

#include "common.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct sym_t;
struct tree_t;
struct type_t;

// ---------------------------------------------------------------------------
// Token codes (shared with the operator table: punctuation uses operator codes)
// ---------------------------------------------------------------------------
enum {
    T_EOF = 1, T_SEMI = 2, T_RBRACE = 3, T_LBRACE = 4, T_CLASS = 5, T_ELLIPSIS = 13,
    T_QUAL = 16,
    // keywords 19..50 in keyword-table order
    K_PRAGMA = 19, K_ASM, K_AUTO, K_BREAK, K_CASE, K_CHAR, K_CONTINUE, K_DEFAULT, K_DO,
    K_DOUBLE, K_ELSE, K_ENUM, K_EXTERN, K_FLOAT, K_FOR, K_GOTO, K_IF, K_INT, K_LONG,
    K_REGISTER, K_RETURN, K_SHORT, K_SIGNED, K_SIZEOF, K_STATIC, K_STRUCT, K_SWITCH,
    K_TYPEDEF, K_UNION, K_UNSIGNED, K_VOID, K_WHILE,
    K_BIT = 51, K_SFR = 53, K_SFR16 = 54,
    // operator codes 60..139 (rows of the operator table)
    O_START = 60, O_CALL = 61, O_LPAREN = 62, O_RPAREN = 63, O_SUBSCR = 64, O_LBRACK = 65,
    O_RBRACK = 66, O_DOT = 67, O_ARROWSRC = 68, O_DEREF = 69, O_ADDR = 70, O_NEG = 71,
    O_UPLUS = 72, O_NOT = 73, O_COMPL = 74, O_PREINC = 75, O_POSTINC = 76, O_PREDEC = 77,
    O_POSTDEC = 78, O_SIZEOF = 79, O_CAST = 80, O_MUL = 81, O_AND = 82, O_SUB = 83, O_ADD = 84,
    O_DIV = 85, O_MOD = 86, O_SHR = 87, O_SHL = 88, O_LT = 89, O_GT = 90, O_LE = 91, O_GE = 92,
    O_EQ = 93, O_NE = 94, O_XOR = 95, O_OR = 96, O_LAND = 97, O_LOR = 98, O_QUEST = 99,
    O_COLON = 100, O_ASSIGN = 101, O_ASADD = 102, O_INC = 103, O_ASSUB = 104, O_DEC = 105,
    O_ASMUL = 106, O_ASDIV = 107, O_ASMOD = 108, O_ASSHR = 109, O_ASSHL = 110, O_ASAND = 111,
    O_ASXOR = 112, O_ASOR = 113, O_ARG = 114, O_SEQ = 115, O_IDENT = 116, O_ICON = 117,
    O_LEAF = 118, O_STRING = 119, O_TYPE = 120, O_EOL = 121, O_RETURN = 122, O_JUMP = 123,
    O_CJUMP = 124, O_CONV = 125, O_AT = 126, O_MEMBER = 127, O_FCON = 128, O_VARG = 129,
    O_MARK1 = 130, O_MARK4 = 133, O_JUMPEXIT = 134, O_COPY = 135, O_SIZEOFT = 136,
    O_UNIQUE = 137, O_ENUMLABEL = 138, O_ATTR = 139,
};

// Base-type codes: even signed or plain, odd the unsigned variant.
enum {
    B_BIT = 2, B_CHAR = 4, B_SHORT = 6, B_INT = 8, B_SHORTLONG = 10, B_LONG = 12,
    B_LLONG = 14, B_INDEX = 16, B_FLOAT = 18, B_DOUBLE = 20, B_ENUM = 22, B_VOID = 24,
    B_TYPEDEF = 26, B_VARARGS = 28, B_STRUCT = 30, B_UNION = 32,
};

// Symbol classes besides the storage-class keyword codes.
enum {
    C_NONE = 0, C_PARAM = 6, C_LABEL = 7, C_STRUCT = 8, C_UNION = 9, C_MEMBER = 10,
    C_ENUM = 11, C_ENUMCONST = 12,
};

// Symbol flags.
enum : uint32_t {
    F_DEFINING = 0x1, F_USED = 0x2, F_REGISTER = 0x4, F_TYPED = 0x10, F_REGARG = 0x40,
    F_NOXREF = 0x80, F_WRITTEN = 0x100, F_VARARGS = 0x200, F_PROTOPARAM = 0x200,
    F_BITFIELD = 0x400, F_ABSOLUTE = 0x1000, F_PRINTF = 0x2000, F_INLINE = 0x4000,
    F_NUMBERED = 0x8000, F_ANONMEMBERS = 0x10000,
    // our own: the symbol has a definition (define() ran), an initialiser was given
    F_DEFINED = 0x100000, F_INITIALISED = 0x200000,
};

// ---------------------------------------------------------------------------
// types: a chain of levels from the outside in (function, pointer, array,
// then a base); each level carries its own qualifiers.
// ---------------------------------------------------------------------------
enum { TY_BASE = 0, TY_PTR = 1, TY_ARRAY = 2, TY_FUNC = 3 };

struct proto_t {
    std::vector<type_t *> entries; // "..." is an entry of base B_VARARGS
    std::vector<sym_t *> params;   // the named parameters (unlinked symbols)
    bool is_void() const;
    bool varargs() const;
};

struct type_t {
    int kind;          // TY_*
    uint32_t qual;     // qualifier bits of this level
    int base;          // base code of a TY_BASE level
    sym_t *tag;        // struct/union/enum tag or typedef symbol
    type_t *sub;       // pointee, element or return type
    tree_t *dim;       // array dimension expression (null: none given)
    uint32_t count;    // array element count, 0 unknown
    proto_t *proto;    // prototype of a function level (null: none)
    sym_t *anon;       // typedef symbol that stands for an inner array level
};

// ---------------------------------------------------------------------------
// symbols
// ---------------------------------------------------------------------------
struct sym_t {
    std::string name;
    sym_t *next_member;   // next in member or enumerator list
    sym_t *next_hash;     // next in hash chain
    sym_t *placed_on;     // symbol this one is placed on (@ name)
    int64_t address;      // address, offset or enumeration value
    type_t *type;
    int number;           // symbol number (numbered names)
    int position;         // parameter position
    int tag_number;       // tag or label number
    uint32_t flags;
    int decl_line;
    std::string decl_file;
    int cls;              // storage-class keyword code or C_* class
    int level;            // scope level, 0 file scope
    uint32_t printf_mask; // printf-format features used in calls
    uint32_t format_qual; // qualifiers for pointer arguments (printf_check)
    sym_t *members;       // member or enumerator list (tags)
    sym_t *parent;        // member's struct, enumerator's enum
    int bit_width;        // bit-field width, -1 none
    bool defined_tag;     // struct/union/enum body seen
    bool interrupt_fn;    // function carries the interrupt qualifier
    uint8_t live;         // recycling mark: free, handed out, reached
};

// ---------------------------------------------------------------------------
// expression trees
// ---------------------------------------------------------------------------
struct tree_t {
    int op;            // operator code
    sym_t *sym;        // symbol leaves
    tree_t *left;
    tree_t *right;
    int64_t value;     // integer constant, string number, member number
    std::string text;  // floating constant text
    int length;        // string length
    uint32_t squal;    // string qualifiers
    type_t *type;
    int depth = 1;     // levels of the tree below and at this node
    bool kept = false; // a copy outside the node blocks (tree_keep)
};

// The deepest expression tree read: every pass over a tree recurses, so a
// longer chain of operators (a+a+...+a) stops the run with 295 instead.
enum { TREE_MAX_DEPTH = 2000 };
// The same bound, for the same reason, on statements nested in statements
// and on declarators nested in parentheses or parameter lists.
enum { STMT_MAX_DEPTH = 500, DECLARATOR_MAX_DEPTH = 100, STRUCT_MAX_DEPTH = 100 };

// ---------------------------------------------------------------------------
// options and global state
// ---------------------------------------------------------------------------
struct options_t {
    bool shroud = false, bit_type = false, cross_ref = false, fp = false, ff = false;
    bool short_long = false, echo_lines = false, main_exit = false, long_long = false;
    bool proto_plain = false, builtins = false, const_static = false, source_comments = false;
    bool strict = false, unsigned_char = false, no_tail_share = false, init_copy_assign = false;
    int ident_len = 31;
    int warning_level = 0;
    int bitfield_count = 0;
    int format = 0;
    uint32_t a_set = 0, i_set = 0;
    std::string fipath;
};
extern options_t opt;

// --- main -----------------------------------------------------------------
extern FILE *out_front;           // the output file (front part)
extern FILE *out_body;            // the body file
extern const char *input_name;    // input name, "(stdin)" for standard input

// --- lex ------------------------------------------------------------------
struct token_t {
    int code;
    int64_t value;        // constants, keyword codes, qualifier bits
    int ctype;            // base code of a constant
    sym_t *sym;           // identifiers
    std::string text;     // floating constants and strings
};
extern token_t tok;               // the current token
extern unsigned lex_line;         // line being read
extern std::string lex_file;      // current file name
extern const char *lex_line_start;
extern const char *lex_pos;
extern bool lex_regarg;           // #pragma regarg in force
extern uint32_t lex_string_qual;  // qualifiers of string literals
extern int64_t lex_abs_address;   // #pragma abs_address (-1 none)
extern int64_t lex_attr_address;  // address given by an attribute (-1 none)
extern bool lex_jis;              // #pragma jis: double-byte characters in strings
void lex_init(FILE *in);
int lex_next();                   // reads the next token into tok
void lex_unget();                 // the current token is read again next time
std::vector<sym_t *> lex_pending_symbols();
int lex_peek();
bool lex_expect(int code, const char *text);
void lex_skip_statement();
void lex_pragma(const char *text);
void lex_echo_line();
extern bool lex_line_echoed;      // the current line was echoed
struct pragma_name_t {
    std::string name;
    bool fastcall16, ioport, handler;
    unsigned long number;
};
pragma_name_t *lex_pragma_name(const std::string &name);
bool lex_fastcall_enabled();

// --- sym ------------------------------------------------------------------
extern int sym_level;
extern FILE *xref_file;
extern FILE *proto_file;
enum { LK_ORDINARY = 0, LK_TAG = 1, LK_MEMBER = 2, LK_LABEL = 4 };
extern int sym_lookup_kind;
sym_t *sym_find(const std::string &name);
sym_t *sym_find_or_enter(const std::string &name);
sym_t *sym_new(const std::string &name, int level);
sym_t *sym_declare(sym_t *s, int cls, type_t *t, sym_t *parent);
bool sym_define(sym_t *s);
sym_t *sym_new_anonymous();
void sym_enter_block(bool write_line);
void sym_leave_block(bool write_line);
sym_t *sym_member(sym_t *tag, const std::string &name);
int sym_next_label();
void sym_write_proto_line(sym_t *fn, std::vector<sym_t *> &params, bool old_style);
void sym_check_file_scope();
extern int sym_recycle_hold;      // above 0 while a statement holds trees over its body
void sym_keep_trees();            // copies the trees symbols reach out of the node blocks
const char *sym_type_name(int code);  // a base type's name in words

// --- types ----------------------------------------------------------------
struct qual_row_t {
    std::string name;
    char letter;
    int flags;        // 1 i, 2 u, 4 m
    int number;
    uint32_t bit;
};
extern qual_row_t qual_table[32];
struct qual_roles_t {
    uint32_t interrupt, compact, large, small, far_, near_, persistent, using_, reentrant,
        bank1, bank2, bank3, sfr, inline_, fastcall16, ioport;
};
extern qual_roles_t qual_role;
struct decl_spec_t {
    int cls;            // storage class keyword code, 0 none
    bool defining;
    bool reg;
    type_t *type;
    bool any;           // something was read
    uint32_t attr_qual;
};
enum { DC_FILE, DC_BLOCK, DC_PARAM, DC_MEMBER, DC_TYPENAME };
type_t *type_new(int kind);
type_t *type_base(int base);
type_t *type_plain(int base);    // shared and never changed: expression types only
type_t *type_copy(const type_t *t);
type_t *type_ptr(type_t *to);
type_t *type_unfold(type_t *t);
bool type_is_ptr(type_t *t);
bool type_is_array(type_t *t);
bool type_is_func(type_t *t);
bool type_is_integer(type_t *t);
bool type_is_arith(type_t *t);
bool type_is_scalar(type_t *t);
bool type_is_void(type_t *t);
void type_check_complete(type_t *t);          // 198: an object of a struct/union without body
bool type_is_aggregate(type_t *t);
int type_base_code(type_t *t);
uint32_t type_quals(type_t *t);
uint32_t type_size(type_t *t);
int64_t type_max_int();
int64_t type_max_long();
int type_size_code();
bool type_compatible(type_t *a, type_t *b, bool lenient);
bool type_qual_compatible(uint32_t a, uint32_t b);
bool type_is_void_ptr(type_t *t);
bool type_ptr_assignable(type_t *target, type_t *value);
bool type_ptr_similar(type_t *a, type_t *b);
std::string type_english(type_t *t);
void type_explain(type_t *a, type_t *b);
uint32_t qual_lookup(const std::string &word);
bool qual_define(const char *arg);
bool type_set_sizes(const char *list);
bool attr_define(const char *arg);
bool attr_lookup(const std::string &word, uint32_t *bits, std::string *pattern);
bool type_is_decl_start();
bool type_two_names();
decl_spec_t type_specifiers(int context);
type_t *type_declarator(type_t *base, sym_t **name, int context, std::vector<sym_t *> *params,
                        bool *old_style);
type_t *type_name();

// --- icode ----------------------------------------------------------------
void ic_version();
void ic_marker(FILE *f);
std::string ic_type_string(type_t *t);
std::string ic_name(sym_t *s);
std::string ic_qual_letters(uint32_t q); // the letters of qualifier bits, table order
void ic_var(sym_t *s, FILE *f);
void ic_tag(sym_t *tag, FILE *f);
void ic_type_deps(type_t *t, FILE *f);
void ic_tree_deps(tree_t *e, FILE *f);
std::string ic_expr(tree_t *e);
void ic_stmt(tree_t *e);
void ic_pragma(FILE *f, const char *format, ...) __attribute__((format(printf, 2, 3)));
void ic_line(const char *text);
void ic_asm(const char *text);
void ic_label(int n);
void ic_jump(int n);
void ic_cjump(tree_t *cond, int n, bool negate);
void ic_comment_queue(const char *text);
void ic_comment_flush();
int ic_string_store(const std::string &bytes, uint32_t qual);
void ic_string_mark(int n);
bool ic_string_used(int n);
extern int ic_last_line;
extern FILE *ic_strings;
extern int ic_string_count;

// --- expr -----------------------------------------------------------------
enum { EC_STMT = 0, EC_CASE = 1, EC_INIT = 3, EC_BITNUM = 5, EC_PLACE = 126 };
tree_t *tree_new(int op);
tree_t *tree_icon(int64_t v, type_t *t);
tree_t *tree_sym(sym_t *s);
tree_t *tree_copy(tree_t *e);
tree_t *tree_keep(tree_t *e);     // a copy that outlives the node blocks
void tree_collect();              // takes back the blocks, at a declaration's end
tree_t *expr_parse(int context);
tree_t *expr_convert(tree_t *e, type_t *t);
tree_t *expr_cast(tree_t *e, type_t *t);
bool expr_is_constant(tree_t *e);
bool expr_value(tree_t *e, int64_t *v);
tree_t *expr_constant(int context, int64_t *v, bool *known);
tree_t *expr_assign(tree_t *target, tree_t *value);
tree_t *expr_to_type(tree_t *e, type_t *t);   // conversion as for an assignment
tree_t *expr_decay(tree_t *e);                // an array or function as its address
bool expr_global_label(int64_t *n);
tree_t *expr_bool(tree_t *e);
extern const char *const op_spelling[80];
uint32_t expr_printf_check(tree_t *format, std::vector<tree_t *> &args);
extern std::vector<sym_t *> expr_printf_users; // functions with printf features

// --- decl / stmt ----------------------------------------------------------
void decl_unit();
bool decl_local();
void decl_asm_statement();
extern sym_t *decl_function;     // the function being defined
void stmt_function_body(sym_t *fn);
void fi_line(const char *format, ...) __attribute__((format(printf, 1, 2)));

// --- alert ----------------------------------------------------------------
void alert_init();
