// kestrel: the code generator's private header.
//
// kestrel reads the intermediate code of a whole program (every .plover file
// and the modules it needs from the intermediate-code libraries) into one
// model: symbols in nested scopes, type descriptors, expression trees per
// function, string constants and initialisers, and the chip facts handed over
// in -P records. Later passes (call graph, pattern matching, code emission,
// bank selection) work on this model; this header holds its records and the
// entry points of every unit.
#pragma once

#include "common.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct range_space;
struct range_class;

struct objset;
struct type_desc;
struct cg_symbol;
struct tree_node;
struct func_info;
struct cg_record;
struct ptrset;
typedef objset regset;

// ===========================================================================
// objset: sets of small numbers (bit mask) and larger values (hash table)
// ===========================================================================
struct objset {
    hash_t *table;    // elements >= 32, key and value alike; null until needed
    vector_t *iter;   // sorted hash elements while an iteration reaches them
    uint32_t pos;     // next mask bit an iteration looks at (32: mask done)
    uint32_t mask;    // bit n set when n < 32 is an element
};

objset *objset_new();
void objset_free(objset *s);
objset *objset_copy(const objset *s);
void objset_assign(objset *a, const objset *b);
uint32_t objset_add(objset *s, uint32_t n);
int objset_remove(objset *s, uint32_t n);
int objset_contains(const objset *s, uint32_t n);
void objset_union_with(objset *a, const objset *b);
objset *objset_union(const objset *a, const objset *b);
void objset_intersect_with(objset *a, const objset *b);
objset *objset_intersection(const objset *a, const objset *b);
void objset_subtract_with(objset *a, const objset *b);
objset *objset_difference(const objset *a, const objset *b);
void objset_toggle_with(objset *a, const objset *b);
int objset_intersects(const objset *a, const objset *b);
int objset_includes(const objset *a, const objset *b);
int objset_not_within(const objset *a, const objset *b);
int objset_equal(const objset *a, const objset *b);
bool objset_is_empty(const objset *s);
uint32_t objset_count(const objset *s);
void objset_clear(objset *s);
vector_t *objset_to_vector(const objset *s);
void objset_iter_reset(objset *s);
uint32_t objset_iter_first(objset *s);
uint32_t objset_iter_next(objset *s);
uint32_t objset_iter_current(objset *s);
int objset_iter_more(objset *s);
int objset_cmp_elem(const void *a, const void *b);
uint32_t objset_free_list_length();

// ===========================================================================
// mode word and run settings (main)
// ===========================================================================
enum mode_bit {
    MODE_GLOBOPT = 0x1,
    MODE_AUTOSTATIC = 0x2,
    MODE_IEEE_DBL = 0x4,
    MODE_IEEE_FLT = 0x8,
    MODE_FORCEBANK = 0x10,
    MODE_PIC12 = 0x20,
    MODE_PIC14 = 0x40,
    MODE_PIC17 = 0x80,
    MODE_PICMIDHI = 0x100,
    MODE_PICLOMID = 0x200,
    MODE_PIC42A = 0x400,
};
enum { MODE_BIT_COUNT = 11 };
extern const char *const mode_names[MODE_BIT_COUNT];

struct ext_ref { char *name; unsigned count; };
struct ext_func { char *name; long first; long second; };
struct ext_call { char *caller; char *callee; };

struct run_settings {
    uint32_t mode_word;      // MODE_* bits
    bool printf_pass;        // -F: only the printf feature list is made
    bool trace_comments;     // -S or a source comment in the input
    bool debug_lines;        // -D: line and file directives per statement
    FILE *sdb;               // the SDB file, or null
    bool many_inputs;        // -A
    const char *const_format; // "0%lXh", or "%ld" after -RD
    int tracking_limit;      // -Ov<n>; -1 = every bit
    int warning_level;       // -W<n>
    int format_mode;         // -E
    hash_t *ext_refs;        // -B entries (ext_ref)
    hash_t *ext_funcs;       // -N entries (ext_func)
    hash_t *ext_calls;       // -Q entries (ext_call)
    const char *chipinfo;    // -C or CHIPINFO; recorded only
};
extern run_settings run;

// Resets every unit's program-wide state (used between test runs).
void kestrel_reset();

// ===========================================================================
// target description (target.cpp)
// ===========================================================================
struct chip_facts {
    char *name;              // chip name, null before the ZEPHP record
    int family;              // 1 12-bit core, 2 14-bit core, 3 movlb/movlr core
    unsigned long rom_size;  // program-memory size
    int banks;               // RAM bank count
    int n[4];                // further numbers, in the order the driver writes them
    int frame_bank;          // bank given for frames (third number 0xFF00 + n), else -1
    int mirror[16];          // the bank each bank mirrors, or -1
    int mirror_count;        // entries of the MIRROR record
    int bank_records;        // BANK<n> records seen
    unsigned common_size;    // highest COMMON address less the lowest
    range_space *spaces;     // "code" then "data"
};
extern chip_facts chip;

void target_init();
void parse_processor_record(const char *text);
range_class *target_class(const char *name);
cg_symbol *space_symbol(type_desc *type, type_desc *ptr_type, int bank);
void mark_helper_routines();
const char *byte_selector_prefix(int k, int n);
uint32_t new_label_number();
int intlevel_of_mask();
const char *intlevel_suffix();
void check_bit_storage(cg_symbol *s);
bool is_simple_constant(tree_node *t);
tree_node *node_passthrough(tree_node *t);
tree_node *mirror_comparison(tree_node *t);
bool is_symbol_operand(tree_node *t);
int arith_node_test(tree_node *t);
[[noreturn]] void assert_fail(const char *expr, const char *file, int line);
// Reports message n and ends the run. The message file gives each number its
// kind, and a missing or edited file may call a fatal condition an error or
// a warning, or silence it: the run stops here whatever the file says.
[[noreturn]] void cg_fatal(unsigned n, ...);
#define KASSERT(e) ((e) ? (void)0 : assert_fail(#e, __FILE__, __LINE__))

// ===========================================================================
// registers and tracked bank state (regs.cpp)
// ===========================================================================
enum {
    REG_WREG = 1, REG_FSR = 2, REG_FSR1 = 3, REG_BTEMP0 = 10, REG_STATUS = 16,
    REG_WTEMP0 = 17, REG_ALLREG = 27, REG_CLASS_FIRST = 29, REG_CLASS_BYTE = 29,
    REG_CLASS_WORD = 30, REG_CLASS_TRIPLE = 31, REG_CLASS_LONG = 32,
    REG_CLASS_FSR = 33, REG_TEMP_BASE = 34, REG_INTERNAL_BASE = 0x10000,
};
const char *register_name(uint32_t n);
const regset *regset_from_mask(uint32_t mask);
const regset *regset_of(uint32_t n);
bool regset_has(const regset *s, uint32_t n);
void regset_add_reg(regset *s, uint32_t n);
uint32_t reg_class_member(const regset *avail, uint32_t n);
uint32_t reg_class_member_avoiding(const regset *avail, uint32_t n, const regset *avoid);
bool reg_class_has(uint32_t n, uint32_t r);
uint32_t first_param_in_w(cg_symbol *param, int index);
uint32_t temp_alloc(tree_node *node, uint32_t size);
void temp_area_reset();
uint32_t temp_area_size();
regset *regset_parse_list(const char *text);
const char *regclass_text(uint32_t n);
const char *regset_text(const regset *s);
extern regset *tracked_regs;   // registers the value tracking holds (tie-break)

struct bstate {
    uint32_t known;    // bits whose value is known
    uint32_t values;   // their values
    uint32_t used;     // bits read or written since the last save
    uint32_t changed;  // bits written since the last save
    bool touched;      // any operation since the last save
};
extern bstate bank_state;
void bstate_set(uint32_t bits, uint32_t values);
void bstate_forget(uint32_t bits);
bool bstate_known(uint32_t bits);
uint32_t bstate_value(uint32_t bits);
void bstate_save_in_sym(cg_symbol *s, uint32_t mask, uint32_t values);
bstate bstate_meet(const bstate &a, const bstate &b);
bstate bstate_apply(const bstate &a, const bstate &b);

// ===========================================================================
// types (types.cpp)
// ===========================================================================
enum type_kind { TY_POINTER = 1, TY_FUNCTION, TY_ARRAY, TY_QUALIFIED, TY_BASIC, TY_STRUCT, TY_ENUM };
enum arith_class { AR_VOID = 0, AR_SIGNED = 1, AR_UNSIGNED = 2, AR_FLOAT = 3, AR_BIT = 4 };
enum qual_bit {
    Q_VOLATILE = 0x2, Q_FAR = 0x4, Q_NEAR = 0x8, Q_INTERRUPT = 0x10, Q_PERSISTENT = 0x20,
    Q_CONTROL = 0x80, Q_BANK0 = 0x100, Q_BANK1 = 0x200, Q_BANK2 = 0x400, Q_BANK3 = 0x800,
    Q_FASTCALL = 0x1000, Q_CONST = 0x40000,
};
enum { PTR_TO_FUNCTION = 0x1, PTR_SIZE_SET = 0x2 };

struct enum_const { char *name; long value; };

struct type_desc {
    int kind;              // type_kind
    type_desc *sub;        // pointee, return, element or underlying type
    vector_t *params;      // function: parameter types
    bool varargs;          // function: takes "..."
    uint32_t count;        // array: element count, 0 unknown
    uint32_t quals;        // qualified: qualifier bits
    const char *name;      // basic: name in the basic type table
    uint32_t size;         // pointer, basic, enumeration, laid-out structure
    uint32_t align;        // alignment mask
    int arith;             // basic, enumeration: arith_class
    uint32_t ptr_flags;    // pointer: PTR_*
    cg_symbol *tag;        // structure, union, enumeration: tag symbol
    bool is_union;         // structure: a union
    bool laid_out;         // structure: members placed
    int mark;              // stops recursion in comparisons
    vector_t *consts;      // enumeration: enum_const records
};

struct basic_type { const char *name; uint32_t size; int arith; };
extern basic_type basic_types[18];
struct qualifier_row { const char *word; char letter; uint32_t bit; };
extern const qualifier_row qualifier_table[13];
uint32_t qual_by_letter(char letter);
extern int pointer_analysis_done;   // set after the pointer targets are propagated
extern int struct_packing;          // "p" pragma; always 0

type_desc *type_new(int kind);
type_desc *type_derive(type_desc *base, int kind);
type_desc *type_qualify(type_desc *t, uint32_t bits);
type_desc *type_unqualify(type_desc *t);
uint32_t type_qualifiers(type_desc *t);
type_desc *typeSub(type_desc *t);
type_desc *type_innermost(type_desc *t);
int type_arith_class(type_desc *t);
uint32_t type_size(type_desc *t);
uint32_t type_align_mask(type_desc *t);
type_desc *type_copy(type_desc *t);
bool type_equal(type_desc *a, type_desc *b);
type_desc *type_from_string(const char *text);
type_desc *basic_type_named(const char *name);
type_desc *basic_type_by(uint32_t size, int arith);
uint32_t basic_align_for_size(uint32_t size);
type_desc *smallest_type_for(long value, bool is_signed);
void struct_layout(type_desc *t);
bool type_is(type_desc *t, int kind);   // the unqualified kind
bool type_is_integer(type_desc *t);
bool type_is_aggregate(type_desc *t);
type_desc *common_value_type(type_desc *a, type_desc *b);
const char *type_text(type_desc *t);
void types_init();

// ===========================================================================
// symbols (sym.cpp, decl.cpp)
// ===========================================================================
enum storage_kind { ST_TYPEDEF = 0, ST_PARAM, ST_AUTO, ST_REGISTER, ST_EXTERN, ST_STATIC };
enum sym_flag {
    SF_UNDEF = 0x1,          // declared only
    SF_ABSOLUTE = 0x2,
    SF_DEFINED = 0x4,        // emitted / initialised here
    SF_STRING = 0x8,
    SF_LIBSYM = 0x10,
    SF_LIBFUNC = 0x20,
    SF_UNPREFIXED = 0x40,
    SF_NODEBUG = 0x80,
    SF_DESCRIBED = 0x100,    // written to the SDB file
    SF_REENTRANT = 0x200,
    SF_INLINE = 0x400,
    SF_EXTREF = 0x800,       // referenced from outside (volatile, absolute, -B, interrupts)
    SF_USED = 0x1000,
    SF_ASSIGNED = 0x2000,
    SF_INREG = 0x4000,
    SF_BUILTIN = 0x8000,
    SF_ARG = 0x10000,        // parameter (register arguments for functions)
    SF_PROTO_PARAM = 0x20000,
    SF_VARARGS = 0x40000,
    SF_FROM_ASM = 0x80000,
    SF_POINTED_TO = 0x100000,
    SF_WARNED = 0x200000,    // 1257 given
    SF_WRITTEN = 0x400000,
    SF_ADDR_TAKEN = 0x800000,
    SF_RESULT_USED = 0x1000000,
    SF_NEVER_READ = 0x2000000,
    SF_NO_NUMBER = 0x4000000, // callee without a function number
    SF_INTERNAL = 0x8000000,
    SF_ADDR_ESCAPES = 0x10000000, // its address is a value a pointer may hold
    SF_VA_SLOT = 0x20000000,      // a variadic call's argument in the callee's parameter block
};

struct cg_symbol {
    char *name;            // the name as first seen, renamed for uniqueness
    char *key;             // lookup name (never changes)
    char *asm_name;        // name in the assembly, null until made
    char *call_name;       // assembler name for calls ("c" pragma)
    char *src_name;        // name in the C source
    cg_symbol *chain;      // next in hash chain
    uint8_t level;         // scope level
    int level_line;        // line at which that scope began
    const char *def_file;  // definition place
    int def_input;
    int def_line;
    uint32_t number;       // symbol number
    char cls;              // 'F' object/function, 'N' type name, 'D' struct tag, '>' enum tag
    int storage;           // storage_kind
    type_desc *type;
    uint32_t flags;        // SF_*
    int16_t frame_offset;
    uint32_t reg;          // register holding it
    uint8_t count;         // parameter position / call marker count
    unsigned long address; // absolute address
    long value2;           // bit or bank
    cg_symbol *owner;      // function of a parameter, auto or temporary
    regset *used_regs;
    vector_t *params;      // function: parameter symbols
    vector_t *autos;       // function: auto symbols
    vector_t *temps;
    vector_t *members;     // tag: member symbols
    vector_t *local_statics;
    ptrset *ptrs;          // pointer target record
    cg_symbol *param_block;
    cg_symbol *auto_block;
    cg_symbol *alias;      // tag: structure of equal layout
    uint32_t call_autos;   // "a" pragma sizes
    uint32_t call_params;
    uint32_t printf_mask;  // "f" pragma
    uint32_t int_levels;   // interrupt-level bits
    uint32_t offset;       // member: byte offset
    int bit_width;         // member: bit-field width (0 none)
    int bit_offset;        // member: bit offset in its byte
    bool is_bitfield;
    func_info *func;       // function record, once its body started
    tree_node *init_value; // scalar initial value
    vector_t *init_list;   // initialiser expressions (aggregates)
    uint32_t func_number;  // function registry number
    uint32_t bank_known;   // saved tracked bank state
    uint32_t bank_values;
    // the call graph and the frames (whole-program pass)
    cg_record *cgraph;     // call-graph record of a function or function pointer
    vector_t *callers;     // functions that call or refer to it, once each
    uint32_t reach_count;  // times reached from the roots; 0: never called
    uint32_t use_count;    // references the use walk counted
    uint32_t autos_size;   // bytes of the auto block ??name (autos, then temporaries)
    uint32_t params_size;  // bytes of the parameter block ?name
    uint32_t temp_largest; // largest temporary area any statement needed
    uint32_t calling_levels; // interrupt levels (bit 0: main) from whose roots it is reached
    // data placement
    int data_list;         // DL_*: the object list data classification put it in
    int bank;              // 0-3 a RAM bank, BANK_COMMON, BANK_NONE not placed
    unsigned long place_addr; // address this round's placement chose (a bit: its bit address)
    int8_t place_state;    // PLACE_*
};

struct func_info {
    cg_symbol *sym;
    vector_t *trees;       // statements in order, as read
    int end_line;
    bool main_exit;
    int level;             // scope level of the function
    vector_t *stmts;       // simple statements: simplified, split, calls lowered
    tree_node *entry_stmt; // the function's own label, written before its prologue
    bool reads_tables;     // calls a retlw table's dispatcher (a level of the stack)
    bool jump_return;      // 12-bit core: entered by a jump, returns through jmp_tab
};

extern int scope_level;
extern uint32_t symbol_counter;
extern vector_t *global_objects;   // externs and statics, in reading order
extern vector_t *functions;        // functions with bodies, in reading order
extern cg_symbol *current_function;
extern bool from_library_indicator; // set by the library wanted test
extern bool reading_library;         // a library module is being read
extern int input_number;

uint32_t sym_hash(const char *name);
cg_symbol *sym_new(const char *name);
cg_symbol *sym_lookup(const char *name);
cg_symbol *sym_find(const char *name);
void sym_insert(cg_symbol *s);
void scope_enter();
void scope_leave();
cg_symbol *tag_lookup(const char *name, char cls);
const char *sym_asm_name(cg_symbol *s);
void sym_set_position(cg_symbol *s);
cg_symbol *name_table_find(const char *name);
void name_table_enter(const char *name, cg_symbol *s);
void sym_rename(cg_symbol *s, const char *fmt_name);
void sym_visit_all(void (*fn)(cg_symbol *, void *), void *ctx);
void sym_init();
bool sym_is_function(cg_symbol *s);

void decl_read_var();
void decl_read_struct(bool is_union);
void decl_read_enum();
void decl_read_names();
uint32_t func_layout_params(cg_symbol *f);
func_info *new_func(cg_symbol *s);

struct ptrset {
    cg_symbol *sym;
    uint32_t largest;      // largest target size
    uint32_t flags;        // PS_*
    vector_t *targets;     // cg_symbol targets
};
enum { PS_ROM = 0x1, PS_HAS_TARGETS = 0x2 };
ptrset *ptrset_of(cg_symbol *s);
void ptrset_link(ptrset *dst, int dst_depth, ptrset *src, int src_depth);
bool ptrset_propagate();
bool ptrset_add_target(ptrset *p, cg_symbol *target);
bool ptr_conversion_check(type_desc *to, type_desc *from);

// ===========================================================================
// expression trees (trees.cpp, nodemake.cpp)
// ===========================================================================
#define OPERATOR_LIST(X) \
    X(NONE, "") X(NOT, "!") X(NE, "!=") X(SIZEOF, "#") X(SIZEOF_T, "#T") X(CJUMP, "$") \
    X(JUMP, "$U") X(JUMP_EXIT, "$UE") X(MOD, "%") X(AND, "&") X(ANDAND, "&&") X(ADDR, "&U") \
    X(CALL, "(") X(FIXED_ARGS, "(.") X(MARK1, "(1") X(MARK2, "(2") X(MARK3, "(3") X(MARK4, "(4") \
    X(RETURN, ")") X(MUL, "*") X(DEREF, "*U") X(ADD, "+") X(POSTINC, "++") X(UPLUS, "+U") \
    X(COMMA, ",") X(SUB, "-") X(POSTDEC, "--") X(CONV, "->") X(NEG, "-U") X(MEMBER, ".") \
    X(EMPTY, "..") X(DIV, "/") X(COLON, ":") X(CASSIGN, ":=") X(LABEL, ":U") X(EXIT_LABEL, ":UE") \
    X(STRING, ":s") X(SEQ, ";") X(SEQ2, ";;") X(LT, "<") X(SHL, "<<") X(LE, "<=") X(ASSIGN, "=") \
    X(ASG_MOD, "=%") X(ASG_AND, "=&") X(ASG_MUL, "=*") X(ASG_ADD, "=+") X(ASG_SUB, "=-") \
    X(ASG_DIV, "=/") X(ASG_SHL, "=<<") X(EQ, "==") X(ASG_SHR, "=>>") X(ASG_XOR, "=^") \
    X(ASG_OR, "=|") X(GT, ">") X(GE, ">=") X(SHR, ">>") X(QUEST, "?") X(AT, "@") X(ASM, "[;") \
    X(SWITCH, "[\\") X(REC_A, "[a") X(REC_C, "[c") X(REC_E, "[e") X(REC_F, "[f") X(REC_I, "[i") \
    X(REC_N, "[n") X(REC_P, "[p") X(REC_S, "[s") X(REC_U, "[u") X(REC_V, "[v") X(XOR, "^") \
    X(LBRACE, "{") X(OR, "|") X(OROR, "||") X(RBRACE, "}") X(COMPL, "~") \
    X(RECIP, "RECIP") X(TYPE, "TYPE") X(ID, "ID") X(CONST, "CONST") X(FCONST, "FCONST") \
    X(REG, "REG") X(INAREG, "INAREG") X(BITFIELD, "BITFIELD") X(CALLARGS, "CALLARGS") \
    X(CALLZAP, "CALLZAP") X(CALLRESULT, "CALLRESULT") X(SEQCALL, ";(") X(LITERAL, "Literal") \
    X(ROTL, "ROTL") X(ROTR, "ROTR")

enum op_code {
#define OP_ENUM(name, spelling) OP_##name,
    OPERATOR_LIST(OP_ENUM)
#undef OP_ENUM
    OP_COUNT
};
static_assert(OP_COUNT == 92, "the operators are numbered 0 to 91");
static_assert(OP_RECIP == 77 && OP_CONST == 80 && OP_BITFIELD == 84 && OP_SEQCALL == 88,
              "numbers used by name");
enum { OP_SPELLED = 77 };   // operators 0..76 have intermediate-code spellings
extern const char *const op_spelling[OP_COUNT];
extern const uint32_t op_attr[OP_COUNT];
enum {
    OA_ARITY = 0x0C, OA_UNARY = 0x4, OA_BINARY = 0x8, OA_NOT_EXPR = 0x0C,
    OA_CONST = 0x10, OA_TRUTH = 0x20, OA_COMMUTATIVE = 0x40, OA_SHIFT = 0x80,
    OA_SEQUENCE = 0x100, OA_CONDITIONAL = 0x200, OA_NARROW = 0x400, OA_LOWPART = 0x800,
    OA_ASSOC = 0x2000, OA_NOVALUE = 0x4000, OA_SIDE_EFFECT = 0x8000, OA_FOLDS = 0x10000,
};
extern const uint8_t op_rank[OP_COUNT];
int op_lookup(const char *spelling);
int op_arity(int op);

enum node_flag {
    NF_LEFT_FIRST = 0x1, NF_RIGHT_FIRST = 0x2, NF_COMPILER = 0x40, NF_ORDER_FIXED = 0x80,
    NF_NEVER_LEFT = 0x100, NF_ARG_PLACED = 0x1000, NF_LIVE = 0x2000,
};
enum { NODE_LEVELS = 9, NODE_SETS = 6 };

struct tree_node {
    uint32_t op;
    uint32_t match_scratch;
    uint8_t level_count;
    uint32_t flags;
    int16_t pattern[NODE_LEVELS];
    uint32_t scratch_reg[NODE_LEVELS];
    uint32_t result_reg[NODE_LEVELS];
    uint32_t third_reg[NODE_LEVELS];
    objset *sets[NODE_SETS];   // written, used, result, work, named, needed
    type_desc *type;
    uint32_t label;            // wider than 16 bits: labels of many inputs
    uint32_t call_token;
    uint16_t height;
    int32_t value;
    const char *file;
    int line;
    char *text;                // attached comment or source text (owned)
    vector_t *args;
    cg_symbol *call_target;
    ptrset *ptrs;
    int32_t ptr_depth;
    tree_node *left;
    tree_node *right;
    cg_symbol *sym;
    double fvalue;
    char *asm_text;            // text of a [; node (owned)
    cg_symbol *bitfield;       // member of a BITFIELD node
    uint32_t spare;
    tree_node *partner;
};
enum { SET_WRITTEN = 0, SET_USED, SET_RESULT, SET_WORK, SET_NAMED, SET_NEEDED };

extern bool tree_changed;      // set by node_new / node_free
extern bool codegen_warnings;  // warnings 1230 and 1257 are given (code generation only)
extern const char *cur_file;   // current source position
extern int cur_line;
extern char *pending_comment;  // comment text for the next node read

tree_node *node_new();
void node_free(tree_node *n);
void tree_free(tree_node *n);
void node_pool_release();
tree_node *node_copy(tree_node *n);
tree_node *tree_copy(tree_node *n);
tree_node *node_new_const(long v);
tree_node *node_const_replace(tree_node *n);
tree_node *node_new_type(type_desc *t);
tree_node *node_new_id(cg_symbol *s);
tree_node *node_new_const_typed(long v, type_desc *t);
tree_node *node_new_reg(cg_symbol *s, uint32_t r);
void node_set_position(tree_node *n);
uint32_t node_size(tree_node *n);
uint32_t node_mask(tree_node *n);
void const_fit_node(tree_node *t, tree_node *c);
int const_bit_number(uint32_t v, tree_node *n);

typedef tree_node *(*walk_fn_t)(void *ctx, tree_node *n, int a, int b, int c, long *result);
// Walk orders: 3-bit groups, lowest first; 4 visits the node, 2 walks the
// arguments and the right operand, 1 the left operand.
enum { WALK_PREORDER = 4 | 2 << 3 | 1 << 6 };
tree_node *tree_walk(int order, void *ctx, tree_node *n, walk_fn_t fn, int a, int b, int c,
                     long *result);
typedef bool (*find_fn_t)(void *ctx, tree_node *n);
tree_node *tree_find(tree_node *n, void *ctx, find_fn_t test);
bool tree_has_volatile(tree_node *n);
void tree_dump(FILE *f, tree_node *n, int indent);
bool tree_equal(tree_node *a, tree_node *b);
bool tree_references(tree_node *n, cg_symbol *s);
bool is_zero_const(tree_node *n);
bool is_link_constant(tree_node *n);
uint32_t func_number_of(cg_symbol *s);
cg_symbol *func_by_number(uint32_t n);
tree_node *node_make(int op, tree_node *left, tree_node *right);
ptrset *joint_targets(ptrset *a, ptrset *b);   // the targets of either of two pointers
tree_node *tree_from_seq(vector_t *seq);
int operator_assign_form(int op);
tree_node *asm_line_node(const char *line);
void asm_names_reset();
bool asm_name_referenced(const char *name);   // a _name met in in-line assembly
type_desc *pointer_index_type(tree_node *n, int cls);
void switch_cases(tree_node *list, std::vector<tree_node *> *cases, tree_node **fallback);

// ===========================================================================
// intermediate-code reader (reader.cpp) and library reader (library.cpp)
// ===========================================================================
struct ic_context {
    FILE *stream;          // open file, or null
    const char *text;      // memory text when there is no stream
    long remaining;        // bytes still to read; -1 no limit
    bool scrambled;        // library module
    uint8_t counter;       // descrambling counter
};

struct string_rec {
    cg_symbol *label;      // STR_<n>
    uint32_t length;
    uint8_t *bytes;
    long number;
    string_rec *host;      // set when merged
    uint32_t offset;       // offset in the host
};
extern vector_t *strings_kept;
extern vector_t *strings_merged;
extern int switch_kind;        // pending "w" pragma
// The kinds of `#pragma switch`, as recorded on a SWITCH node (spare); the
// lowering leaves SWITCH_SIMPLE (a compare chain) or SWITCH_DIRECT (a jump
// table) there, SWITCH_IN_RANGE added when the value was tested already.
enum { SWITCH_AUTO, SWITCH_SIMPLE, SWITCH_SEARCH, SWITCH_DIRECT, SWITCH_IN_RANGE = 0x100 };
extern uint8_t return_offset;  // "r" pragma
extern uint32_t intlevel_mask; // "l" pragmas
extern bool main_exit_flag;    // "m" pragma mainexit
extern regset *var_regs;       // "v" pragma: registers for variables
extern uint32_t largest_label; // largest label number read so far

void ic_read_inputs(int argc, char **argv);
FILE *ic_open(const char *path);   // an input file for reading; null (EISDIR) for a directory
void ic_read_one(ic_context *ctx);
void ic_read_rewrite_records(const char *text);   // declarations a rewrite rule carries
extern bool ic_in_rewrite;                        // those are being read
bool ic_read_token(char *buf);
tree_node *ic_read_expr();
void ic_expect_close();
void ic_skip_line_record(char *buf, size_t size);
void lib_want(const char *name);
bool lib_is_wanted(const char *name);
void pos_set_file(const char *name);
const char *psect_map_name(const char *name);
void strings_merge_tails();
void reader_reset();
uint32_t label_base_value();

typedef bool (*lib_wanted_fn)(const char *name);
void ic_load_libraries(vector_t *paths, lib_wanted_fn wanted, void (*read_one)(ic_context *));
bool lib_wanted_test(const char *name);

// ===========================================================================
// output: assembly head, SDB file, printf feature list (emit.cpp, sdb.cpp)
// ===========================================================================
void emit_title_line();
void emit_asm_header();
void sdb_write_header();
void sdb_write_line();
void sdb_write_var(cg_symbol *s);
void sdb_open_function(cg_symbol *f);
void sdb_close_function(cg_symbol *f);
void sdb_write_typedef(cg_symbol *s);
void sdb_write_struct(cg_symbol *tag);
void sdb_write_enum(cg_symbol *tag);
const char *sdb_type_text(type_desc *t);
void printf_feature_list();
void sdb_reset();

// ===========================================================================
// code generation: the call graph (callgraph.cpp)
// ===========================================================================
enum cg_kind { CGK_POINTER = 0x2, CGK_FUNCTION = 0x4, CGK_INDIRECT = 0x80 };
enum cg_edge { CGE_CALL = 1, CGE_APART = 2 };

struct cg_record {
    cg_symbol *sym;
    struct dag_node *node;  // node of the call graph; its data is this record
    uint32_t kind;          // CGK_*
    uint32_t base;          // offset of the function's frame in the compiled stack
    bool generated;         // its code has been generated
};

extern vector_t *called_without_body;   // functions called here, defined elsewhere
extern bool call_graph_completed;
cg_record *callgraph_node_of(cg_symbol *s, uint32_t kind);
int callgraph_add_call(cg_symbol *caller, cg_symbol *callee, bool indirect);
void record_caller(cg_symbol *object, cg_symbol *f);
void collect_calls(cg_symbol *f);
void collect_external_calls(cg_symbol *main_function);
std::string peep_bank_selects(const std::string &function_text);   // banksel.cpp
// A comment line in a function's code whose cycles are counted exactly.
#define TIMED_CODE_MARK "timed code: its cycles are counted"

vector_t *pointed_functions();   // functions whose address is taken (a list the next call reuses)
// calls through pointers: the argument block of each shape of call
cg_symbol *fpblock_for_call(tree_node *call);     // the block a call through a pointer stores into
cg_symbol *fpblock_of_function(cg_symbol *f);     // the block the function's stub copies from
bool fpblock_is(cg_symbol *s);
uint32_t fpblock_args(cg_symbol *b);              // bytes of arguments in the block
bool fpblock_calls_function(cg_symbol *b);        // the stubs call (a value wider than a byte comes back)
uint32_t fpblock_value(cg_symbol *b);             // bytes of the value
int32_t fpblock_w_slot(cg_symbol *b);             // 12-bit core: the byte for W in the block, or -1
uint32_t fpblock_return_slot(cg_symbol *b);       // 12-bit core: the caller's return point in the block
vector_t *fpblock_targets(cg_symbol *b);          // the functions a call through it may reach (a new list)
vector_t *fpblock_slot_params(cg_symbol *slot);   // for a slot of a block, the parameters it is copied to (a new list)
void fpblock_add_call(cg_symbol *caller, cg_symbol *b);
vector_t *fpblocks_called();                      // blocks of calls that are run, after emit_fn_calls (a new list)
vector_t *callgraph_reached(cg_symbol *root, bool deepest_first);
vector_t *callgraph_callees(cg_symbol *f);
bool callgraph_on_cycle(cg_symbol *f);
int emit_fn_calls(cg_symbol *root);
void callgraph_reset();

// ===========================================================================
// code generation: the whole-program pass (optim.cpp)
// ===========================================================================
extern int cg_phase;              // 1 to 6 while the pass runs
extern cg_symbol *main_function;  // _main, when it has a body
extern cg_symbol *interrupt_function; // the interrupt function, when there is one
int optim_whole_program();
cg_symbol *new_temporary_auto(type_desc *t);
tree_node *lower_into_temporary(tree_node *v, vector_t *out);   // v's value in a temporary, its ID returned
void lower_statement_into(tree_node *s, vector_t *out);          // s lowered onto out

// floating point (float.cpp)
bool flt_needs_lowering(tree_node *s);
tree_node *flt_lower(tree_node *s, vector_t *out);
void flt_erase(vector_t *stmts, uint32_t from);
uint32_t frame_total(cg_symbol *f);
uint32_t frame_auto_side(cg_symbol *f);
uint32_t frame_param_side(cg_symbol *f);

// ===========================================================================
// code generation: functions (funcgen.cpp)
// ===========================================================================
void gen_function(cg_symbol *f, bool write);
void emit_function_header(cg_symbol *f);
void emit_frame_equates(cg_symbol *f);
void layout_autos(cg_symbol *f);

// ===========================================================================
// code generation: the assembly text (asmout.cpp)
// ===========================================================================
enum psect_kind {
    PS_NONE = 0, PS_RBSS0 = 1, PS_TEXT = 2, PS_FUNC_TEXT = 3, PS_RDATA0 = 4, PS_IDATA = 5, PS_COMMON = 6,
    PS_STRINGS = 7, PS_NVRAM = 10, PS_RBIT0 = 11, PS_MAINTEXT = 12, PS_INTENTRY = 13, PS_FUNCTAB = 16, PS_NVBIT = 18,
    PS_NVRRAM = 22, PS_NVBIT_C = 23, PS_RBSS1 = 24, PS_RDATA1 = 27, PS_RBIT0B = 30, PS_RBIT_C = 34,
    PS_JMP_TAB = 35, PS_EEDATA = 37, PS_IDATA12 = 39, PS_NVRAM1 = 40, PS_NVBIT1 = 43, PS_COUNT = 46,
};
extern int pending_psect;
void switch_psect(bool force);
void select_function_psect(cg_symbol *f);
void psects_reset();
void emit_line_file(int line, const char *file, bool force);
void emit_fnauto_psect(int bank);
void emit_epilogue();

// ===========================================================================
// code generation: bank selection (banks.cpp)
// ===========================================================================
enum { BANK_COMMON = -1, BANK_NONE = -3 };
extern int frame_bank;            // bank of the auto/param block
int bank_of_address(unsigned long address);
int bank_of_symbol(cg_symbol *s);
bool sym_in_frame(cg_symbol *s);
int bank_of_operand_node(tree_node *t, int level);
// integers of two to four bytes (wide.cpp): escape n's code; -1 when n is
// not one of them
int wide_escape(int n, tree_node *node, int level);
void bank_select(int bank);
void irp_select(int half);
int bank_select_cost(int bank);
void bank_forget();
void emit_apbank_macro(int bank);
extern bool fsr_in_use;   // 12-bit core: a bank selection now would move the pointer in FSR
extern int fsr_target_bank;   // the bank of the object FSR points into, BANK_NONE when not known
void fsr_pointed(int target);
void indf_ready();

// ===========================================================================
// code generation: access through pointers (indirect.cpp)
// ===========================================================================
cg_symbol *address_base(tree_node *address);
void indirect_mark_escapes(cg_symbol *f);
void indirect_follow_pointers(vector_t *functions, vector_t *globals);   // before the escapes are marked
void indirect_note_escape(cg_symbol *s);   // an initialiser holds its address
bool indirect_any_escapes();
bool indirect_frame_escapes();
void indirect_select_half(tree_node *address);
bool indirect_reads_rom(tree_node *address);
void indirect_note_table_reads(vector_t *functions);   // once the escapes are marked
void indirect_tag_pointers(vector_t *functions);   // tags of pointers that hold both kinds, once followed
cg_symbol *indirect_kind_tag(tree_node *address); // the tag a read through the address tests, or null
int indirect_target_bank(tree_node *address);
bool is_rom_object(cg_symbol *s);
void indirect_reset();

// ===========================================================================
// code generation: entry, exit and emitter escapes (entry.cpp)
// ===========================================================================
void emit_function_entry(cg_symbol *f);
void emit_function_exit(cg_symbol *f);
void emit_interrupt_entry(cg_symbol *f);
int cg_emit_escape(int n, tree_node *node, int offset, int level);
// 12-bit core: which functions return through the jump table (before frames
// are laid out: such a function keeps its return point in its frame), and
// the table of return points with the entry stubs' page check.
void decide_jump_returns();
void emit_jump_table();
void jump_returns_reset();
uint32_t jump_return_slot(cg_symbol *f);
void call_function(tree_node *node);
void return_byte_value();
void fetch_byte_value(tree_node *node);
void emit_function_label(cg_symbol *f);
void emit_jump_return(cg_symbol *f);
void note_low_page_use();
void add_low_page_table(const std::string &text);
unsigned long_jump_words();
void call_through_pointer(tree_node *node, const std::string &pointer, int bank);
void emit_function_stubs12(const std::vector<cg_symbol *> &used, vector_t *blocks);
void stub_select_frame_bank();   // in a dispatch stub, which no tracked bank state follows
unsigned stub_copy(const std::string &from, const std::string &to, uint32_t bytes);   // words written

// ===========================================================================
// code generation: data classification, placement and output (place.cpp)
// ===========================================================================
enum data_list { DL_NONE = 0, DL_CONST, DL_DATA, DL_PERSIST, DL_BSS };
enum place_state { PLACE_NEVER = 0, PLACE_ROUND = 1, PLACE_ABSOLUTE = 2, PLACE_FROZEN = (int8_t)129 };
extern uint32_t compiled_stack_size;   // bytes of the auto/param block
void data_classify();
vector_t *place_data();
void data_output();
// The bytes of an object's initial value: numbers, or texts the linker
// fills in (addresses). False when the initialiser is in error (reported).
bool data_image(cg_symbol *s, std::vector<std::string> *bytes, bool silent = false);
void data_sizes(unsigned long *strings, unsigned long *cnst, unsigned long *data, unsigned long *bss,
                unsigned long *persist);
void place_reset();
