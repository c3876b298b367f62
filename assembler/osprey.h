// osprey, the assembler: PIC assembly text to relocatable object modules.
//
// Two passes over the source: the first sizes every line and records where
// each label lies, the second emits words, relocations and records. Every
// value that is not known when the module is assembled reaches the linker as
// a relocation expression (a small postfix program), so forward references,
// other modules' symbols, psect bases and operators all work alike.
#pragma once

#include "common.h"
#include "objfile.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// Chip families by their instruction word.
enum asm_family { FAM_BASELINE = 1, FAM_MIDRANGE = 2, FAM_HIGHEND = 3 };

// ---------------------------------------------------------------------------
// expressions (expr.cpp)
// ---------------------------------------------------------------------------
// EX_HERE is "$", the start of the statement; EX_PLACE a fixed place:
// psect index in op, offset in value.
enum expr_kind { EX_NUM, EX_SYM, EX_HERE, EX_PLACE, EX_UNARY, EX_BINARY };

struct expr {
    expr_kind kind;
    int op;                 // operator character or code (see expr.cpp)
    long value;             // EX_NUM
    std::string name;       // EX_SYM
    std::shared_ptr<expr> left, right;
    int height = 1;         // levels of the tree from this node down
};
using expr_ptr = std::shared_ptr<expr>;

// Parses an expression from text; null after a reported error.
expr_ptr expr_parse(const std::string &text);
// The expression with every "$" replaced by the place it stands for now.
expr_ptr expr_bind_here(const expr_ptr &e);
// Value when the expression is constant in this module.
bool expr_constant(const expr_ptr &e, long *value);
// Appends the postfix program that computes the expression at link time
// (without the closing 0).
bool expr_postfix(const expr_ptr &e, std::vector<uint8_t> &code);
// Plain text of a number operand, for messages.
std::string expr_text(const expr_ptr &e);
// True for the symbol-like words that start an identifier.
bool expr_ident_start(int c);
bool expr_ident_char(int c);
// Reads a number in any of the assembler's forms; false when text is not one.
bool expr_number(const std::string &text, long *value);

// ---------------------------------------------------------------------------
// symbols and psects (the assembler's state, main.cpp)
// ---------------------------------------------------------------------------
enum asym_kind {
    AS_UNDEFINED,   // referenced, not defined here
    AS_LABEL,       // a location in a psect
    AS_VALUE,       // equ / set: an expression
};

struct asm_symbol {
    std::string name;
    asym_kind kind = AS_UNDEFINED;
    bool global = false;
    bool referenced = false;
    int psect = -1;         // AS_LABEL
    long offset = 0;        // AS_LABEL, in address units
    expr_ptr value;         // AS_VALUE
    bool redefinable = false;
    unsigned def_line = 0;  // source line of the definition seen in pass 1
    bool cyclic = false;    // its value was found to depend on itself (reported)
    // The value worked out last, valid while as.generation is unchanged:
    // values built from values are worked out once, not once per use.
    unsigned long memo_generation = 0;
    bool memo_known = false;
    long memo_value = 0;
};

struct asm_psect {
    std::string name;
    unsigned flags = 0;     // object-record psect flags (global, ovrld, abs, bit)
    std::string class_name;
    std::string with;
    unsigned delta = 1;
    unsigned space = 0;
    unsigned long reloc = 0;
    unsigned long size = 0; // size= limit
    bool declared = false;
    long loc = 0;           // current location, address units
    long high = 0;          // largest location reached
};

struct asm_state {
    int family = FAM_MIDRANGE;
    unsigned long rom_words = 0x2000;
    std::string chip;
    int pass = 1;
    int current = -1;                 // current psect index
    std::vector<asm_psect> psects;
    std::map<std::string, asm_symbol> symbols;
    std::vector<std::string> symbol_order;
    bool strip_locals = false;
    std::string start_symbol;
    bool ended = false;
    long statement_loc = 0;           // location at the start of the statement
    unsigned long generation = 1;     // moves on at each statement and definition
};

extern asm_state as;

asm_symbol &asm_sym(const std::string &name);
asm_symbol *asm_find(const std::string &name);
int asm_psect_index(const std::string &name);
// Current location in the current psect.
long asm_here();
// The processor directive: selects the chip unless the command line did.
void asm_processor(const std::string &name);

// ---------------------------------------------------------------------------
// instructions (insn.cpp)
// ---------------------------------------------------------------------------
// Assembles one instruction (or pseudo-instruction) line; false when the
// mnemonic is not one.
bool insn_assemble(const std::string &mnemonic, const std::vector<std::string> &ops);
bool insn_known(const std::string &mnemonic);
// Words that fcall, ljmp and pagesel take on this chip.
int insn_page_bits();

// ---------------------------------------------------------------------------
// output (emit.cpp): words and relocations of pass 2, records at the end
// ---------------------------------------------------------------------------
void emit_begin_module();
// Emits one unit (a word in a delta-2 psect, a byte otherwise) at the
// current location and advances it; in pass 1 only the location moves.
void emit_unit(unsigned value);
// Adds a relocation to the unit emitted last: kind, byte offset inside the
// unit, and the expression whose link-time value is added to the field.
void emit_reloc(unsigned kind, unsigned byte_offset, const expr_ptr &e);
// Reserves units without data.
void emit_space(long units);
void emit_line_symbol(long line);
void emit_file_symbol(const std::string &file);
void emit_reserve(unsigned space, unsigned long start, unsigned long length);
void emit_fninfo(const std::vector<uint8_t> &entry);
void emit_fnconf(const std::string &psect, const std::string &auto_prefix, const std::string &arg_prefix);
void emit_signat(const std::string &name, unsigned value);
void emit_align_group(const std::vector<std::string> &names);
bool emit_write_object(const char *path);
// False, after message 1435, for a name longer than the object records
// hold (file names of file symbols may be longer than other names).
bool emit_name_fits(const std::string &name, bool file_name = false);
// Units emitted by the current line in pass 2, for the listing.
extern std::vector<unsigned> emit_line_units;

// ---------------------------------------------------------------------------
// source lines and directives (source.cpp)
// ---------------------------------------------------------------------------
// Assembles the file; with a listing name, pass 2 also writes the listing.
bool source_assemble_file(const char *path, const char *listing);
// Current line number and file for messages.
extern unsigned src_line;
void report_outside_psect();   // 1411, once per source line
extern std::string src_file;
// Splits operands at top-level commas.
std::vector<std::string> source_split_operands(const std::string &text);
