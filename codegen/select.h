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
extern rewrite_reader_fn rewrite_reader;
