// Instruction selection: the pattern tables and their lookup, the matcher
// with its predicates, the template expander with the output line buffer,
// and the tree simplifier that brings statements into the forms the
// patterns expect. Private to these units and their tests.
#pragma once

#include "kestrel.h"
#include "patnames.h"

#include <string>

// ===========================================================================
// pattern tables and lookup (match.cpp)
// ===========================================================================
extern const pattern_tables generated_patterns;   // made by patgen at build time
extern const pattern_tables *patterns;            // the tables in use
int pattern_lookup(uint32_t goal, uint32_t op);
const pattern_record *pattern_at(uint32_t r);
const char *pattern_result_text(uint32_t r, uint32_t k);

// ===========================================================================
// matcher and predicates (match.cpp, predicates.cpp)
// ===========================================================================
enum match_result { MATCH_OK = 0, MATCH_NONE = 1, MATCH_SHORT = 2, MATCH_ARRANGE = 4 };
extern bool match_trace;          // prints the patterns tried and matched
extern objset *match_shortage;    // registers a failed attempt was short of
extern bool match_unreachable;    // the pointer targets could not be reached
extern regset *func_available;    // registers the current function may use
extern regset *func_used;         // registers the current function wrote

int cg_match_tree(tree_node *tree, uint32_t goal, const regset *available);
int pattern_match(tree_node *node, uint32_t goal, const objset *available, const objset *busy,
                  const objset *preferred, const char *label);
bool predicates_hold(const pattern_record *rec, tree_node *node);
bool predicate_eval(uint32_t n, tree_node *node);
objset *operand_wish(const objset *preferred, uint32_t wish, tree_node *node);
uint32_t result_register(tree_node *node);
void result_sets(tree_node *node);
void cg_statement(tree_node *tree, int line);
void match_reset();

// ===========================================================================
// template expansion and the output line buffer (expand.cpp)
// ===========================================================================
extern bool dry_run;              // allocation rounds: nothing is written
extern FILE *out_stream;          // where finished lines go (standard output)
extern char *out_comment;         // printed as "\t;%s" after the next instruction
// Emitter escapes (template letter E) belong to function generation; until it
// installs its handler an E in a template is an internal error.
typedef int (*emit_escape_fn)(int n, tree_node *node, int offset, int level);
extern emit_escape_fn emit_escape;

void out_putc(int c);
void out_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void cg_emit_tree(tree_node *tree, int line);
void cg_expand_template(tree_node *node, const char *text, int level);
std::string operand_text(tree_node *node, int level, const char *text);
std::string rewrite_text(tree_node *node, const char *text);
uint32_t float_bits(double x, int size);
uint32_t signat_value(cg_symbol *sym);
const char *op_stem(uint32_t op);
void expand_reset();

// ===========================================================================
// tree simplifier (simplify.cpp)
// ===========================================================================
tree_node *tree_simplify(tree_node *tree);
tree_node *tree_rewrite_all(tree_node *tree);
int nodeRewrite(tree_node *tree, vector_t *out);
tree_node *rewrite_one(tree_node *tree);
// Reads a rewrite rule's replacement text; the reader provides it, tests may
// install their own.
typedef tree_node *(*rewrite_reader_fn)(tree_node *node, const std::string &text);
enum { NF_VOLATILE_ACCESS = 0x4000 };   // node flag: a volatile access, kept as written
extern rewrite_reader_fn rewrite_reader;
tree_node *rewrite_parse(tree_node *node, const std::string &text);   // the reader by default

// Tree helpers shared by the simplifier's units (simplify.cpp).
type_desc *simp_type(tree_node *n);              // the unqualified type
int simp_class(tree_node *n);                    // arithmetic class; pointers unsigned
bool simp_is_pointer(tree_node *n);
bool simp_is_integer(tree_node *n);              // signed or unsigned, not a pointer
bool simp_is_unsigned(tree_node *n);             // unsigned or bit
bool simp_is_const(tree_node *n);                // a CONST node
bool simp_is_pow2(long v);
int simp_log2(long v);
int simp_binary(tree_node *n);
int simp_unary(tree_node *n);
long simp_type_max(type_desc *t);
long simp_type_min(type_desc *t);
long simp_value(tree_node *c);                   // a constant as its type reads it
int32_t simp_fit(long v, type_desc *t);          // fitted to the type, silently
tree_node *simp_node(int op, tree_node *l, tree_node *r, type_desc *t);
tree_node *simp_const(long v, type_desc *t);
tree_node *simp_conv(tree_node *n, type_desc *t);
tree_node *simp_replace(tree_node *old, tree_node *with);
tree_node *simp_by_operand(tree_node *n, tree_node *x);   // n replaced by its operand x, read in n's type
bool simp_may_reach_memory(tree_node *n);   // reads through a pointer or calls: may read any variable
tree_node *simp_keep_effects(tree_node *operand, tree_node *result);
void simp_unwrap(tree_node **slot);              // a conversion in its slot gives way to its operand
void simp_note(unsigned n);                      // a message reported after the passes
bool simp_same_id(tree_node *a, tree_node *b);
bool simp_fold_int(tree_node *n, long a, long b, bool uns, long *out);
tree_node *simp_not(tree_node *x);               // !x, simplified
// A read n of a constant object at a byte offset: the constant its
// initialiser gives, or n itself (the read stays).
tree_node *simp_constant_value(tree_node *n, cg_symbol *s, long at);
// Arithmetic by constants, shifts, differences (arith.cpp).
tree_node *simp_multiply(tree_node *n);
tree_node *simp_divide(tree_node *n);
tree_node *simp_modulo(tree_node *n);
tree_node *simp_arithmetic_tail(tree_node *n);
tree_node *simp_shift(tree_node *n);
bool simp_common_base(tree_node *n);           // p + i - (p + j): i - j, in place
tree_node *simp_all_ones_minus(tree_node *n);  // c - x, c all ones: ~x
// Comparisons and sums (reorder.cpp).
int simp_inverse_comparison(int op);
tree_node *simp_comparison(tree_node *n);
bool simp_in_sum(tree_node *n, tree_node *root);
tree_node *simp_reassociate(tree_node *n);
