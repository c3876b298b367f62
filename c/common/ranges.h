// Memory-range lists and the address-space graph, shared by the driver and
// the code generator.
//
// Target memory is modelled as sorted lists of inclusive address ranges
// (range_node), grouped into named classes (range_class: a bank, a code
// class) inside named spaces (range_space: program, data, EEPROM). Each class
// has three lists: the addresses that exist (available), those taken (used)
// and those set aside by an allocation round that is not yet committed
// (reserved). The free addresses of a class are available less used; an
// allocation also keeps clear of the reserved list.
//
// Ranges travel between programs as range-spec text, for example
// "CODE=0h-7FFhx4" (range_format writes it, range_parse_spec reads it).
// Classes also keep a chain of named blocks (range_entry: psects met in a
// link map) for the memory summaries. A small directed graph (dag_node) with
// longest-path depths, cycle marks and cached reachability serves the call
// graphs.
//
// Every record is zero-filled at allocation and owned by the list or chain
// that holds it. Addresses and sizes are unsigned 32-bit.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common.h"

// ---------------------------------------------------------------------------
// records
// ---------------------------------------------------------------------------

// One range of a range list; a list is a pointer to its first node (null when
// empty), sorted by address, ranges disjoint.
struct range_node {
    uint32_t lo;      // first address
    uint32_t hi;      // last address, inclusive
    range_node *next; // next range, higher addresses
};

struct range_space;

// A named block of a class (a psect or another block shown in summaries).
struct range_entry {
    char *name;        // owned; several entries may share a name
    uint8_t kind;      // unit kind (index into range_units); set while 0
    char *alias;       // owned description of the contents, or null
    uint32_t size;     // size in units of the kind (sort key 3)
    uint32_t first;    // first address (sort key 1)
    uint32_t second;   // load address of a psect (sort key 2)
    range_entry *next; // next entry of the class
};

// A memory class: a named set of addresses within a space.
struct range_class {
    char *name;            // owned; found by exact name within a space
    uint8_t unit;          // unit kind (index into range_units)
    range_entry *entries;  // named blocks, in order of definition
    uint32_t load;         // load address; RANGE_NO_LOAD when none
    uint32_t split;        // 0, or the piece size of the three-address spec form
    range_node *available; // list 0: addresses that exist in the class
    range_node *used;      // list 1: addresses taken
    range_node *reserved;  // list 2: set aside, awaiting commit or discard
    uint8_t hidden;        // non-zero: no line of its own in class summaries
    range_class *next;     // next class of the same space
    range_space *space;    // owning space
};

// A memory space (program space, data space ...).
struct range_space {
    char *name;            // owned
    char *description;     // owned
    range_class *classes;  // first class
    uint8_t unit;          // unit kind (index into range_units)
    range_space *next;     // next space of the chain
    int32_t cleared;       // set to 1 by range_space_clear
    uint32_t used_units;   // the memory summary's used total for the space
};

// A {lo, hi} pair handed back by the free-space queries.
struct range_block {
    uint32_t lo;
    uint32_t hi;
};

// Which list of a class an operation works on.
enum {
    RANGE_AVAILABLE = 0,
    RANGE_USED = 1,
    RANGE_RESERVED = 2,
};

// What range_alloc does with the block it finds.
enum {
    RANGE_ALLOC_USE = 1,     // record it as used in every class of the space
    RANGE_ALLOC_RESERVE = 2, // record it as reserved in every class of the space
    RANGE_ALLOC_PROBE = 3,   // record nothing, only report the block
};

constexpr uint32_t RANGE_NO_LOAD = 0xFFFFFFFFu;
constexpr uint32_t RANGE_NONE = 0xFFFFFFFFu; // "no address" of range_lowest_free

// Unit kinds: the text of a unit and how many of the counted quantity make one.
struct range_unit {
    const char *text;
    uint32_t width;
};
constexpr int RANGE_UNIT_COUNT = 5;
extern const range_unit range_units[RANGE_UNIT_COUNT]; // unit, bit, byte, word, byte(2)

// ---------------------------------------------------------------------------
// range lists
// ---------------------------------------------------------------------------

// Adds lo..hi to the list at *head. piece 0 adds one range; piece n > 0 adds
// consecutive pieces of n addresses (the last one shorter). merge non-zero
// also joins ranges that touch. lo must not exceed hi + 1.
void range_list_add(range_node **head, uint32_t lo, uint32_t hi, uint32_t piece, int merge);
range_node *range_list_copy(const range_node *list);
void range_list_free(range_node *list);
// Frees the list and returns how many addresses it covered.
uint32_t range_list_free_size(range_node *list);
// New list of the addresses of a not in b.
range_node *range_list_minus(const range_node *a, const range_node *b);
// New list of the addresses in both a and b.
range_node *range_list_intersect(const range_node *a, const range_node *b);

// ---------------------------------------------------------------------------
// spaces and classes
// ---------------------------------------------------------------------------

range_space *range_space_new(range_space **chain_head, const char *name, const char *description,
                             uint8_t unit);
range_space *range_find_space(range_space *chain, const char *name); // name without case
range_class *range_class_get(range_space *space, const char *name, uint8_t unit, uint32_t load,
                             uint32_t split);
range_class *range_find_class(range_space *chain, const char *name); // exact name
// Adds lo..hi to list `which` of the class; piece 0 merges with neighbours.
void range_class_add(range_class *cls, int which, uint32_t lo, uint32_t hi, uint32_t piece);
void range_space_add(range_space *space, int which, uint32_t lo, uint32_t hi, uint32_t piece);
// Adds lo..hi, lo+stride..hi+stride ... while the low end stays below the
// class's top. A stride of 0 is rejected (nothing is added).
void range_class_add_repeated(range_class *cls, int which, uint32_t lo, uint32_t hi, uint32_t stride);
uint32_t range_class_top(const range_class *cls);
bool range_contains(const range_class *cls, uint32_t address);
void range_space_commit(range_space *space);
void range_space_discard(range_space *space);
void range_class_clear(range_class *cls);
void range_space_clear(range_space *space);
void range_class_intersect(range_class *cls, const range_class *other, int take_used);
void range_node_replace(range_space **chain_head, range_space *old_space, range_space *new_space);
void range_space_unlink(range_space **chain_head, range_space *space);
range_class *range_class_list_copy(const range_class *classes);
range_space *range_space_list_copy(const range_space *spaces);
void range_class_list_free(range_class *classes);
void range_space_list_free(range_space *spaces);

// ---------------------------------------------------------------------------
// free space and allocation
// ---------------------------------------------------------------------------

uint32_t range_lowest_free(const range_class *cls);  // RANGE_NONE when none
uint32_t range_highest_free(const range_class *cls); // 0 when none
uint32_t range_free_size(const range_class *cls);
uint32_t range_space_free_size(const range_space *space);
// Largest block of available less used less reserved (lowest on a tie);
// {0, 0xFFFFFFFF} when nothing is free. The record belongs to the module and
// is replaced by the next call.
const range_block *range_largest_free(const range_class *cls);
// Finds room for `size` addresses: an exact fit first, else the first larger
// block, taken at its low end (or its high end with from_top). Returns the
// block taken (the whole larger block for RANGE_ALLOC_PROBE), or null. The
// record belongs to the module and is replaced by the next call.
const range_block *range_alloc(range_space *space, range_class *cls, uint32_t size, int action,
                               int from_top);
const range_block *range_alloc_any(range_space *space, range_class *cls, uint32_t size, int action);
double range_percent(uint32_t part, uint32_t whole);

// ---------------------------------------------------------------------------
// range specs
// ---------------------------------------------------------------------------

// The class's free ranges as "<prefix><name>=0<lo>h-0<hi>h,..." with equal
// consecutive pieces grouped as "x<count>". Always a new string (empty when
// nothing is free); the caller frees it.
char *range_format(const range_class *cls, const char *prefix, const char *name);
// Reads one number at *cursor (0x prefix, h/o/q/d suffixes, decimal
// otherwise) and advances the cursor. 0 on success, 1 on a bad number or one
// that does not fit 32 bits.
int range_parse_number(const char **cursor, uint32_t *out);
// Reads "name=ranges" into the class's available list; bad text is fatal.
void range_parse_spec(range_class *cls, const char *text);
// Writes __L<name><i> and __H<name><i> assembler equates for each range.
void range_emit_bounds(FILE *out, const range_node *list, const char *name);

// ---------------------------------------------------------------------------
// named blocks
// ---------------------------------------------------------------------------

void range_entry_define(range_class *cls, const char *name, uint8_t kind, const char *alias,
                        uint32_t first, uint32_t second, uint32_t size);
// Alias of the first entry whose name begins with the stem of `name` (trailing
// digits removed unless they follow '_'); null when none.
const char *range_base_name_lookup(const range_entry *first_entry, const char *name);
uint8_t range_entry_kind(const range_class *cls, const char *name);
uint32_t range_total_units(const range_class *cls);
enum { RANGE_KEY_FIRST = 1, RANGE_KEY_SECOND = 2, RANGE_KEY_SIZE = 3 };
void range_entry_sort(range_class *cls, int key);

// ---------------------------------------------------------------------------
// directed graph
// ---------------------------------------------------------------------------

constexpr uint32_t DAG_CYCLE = 0x8000;   // marks bit: node lies on a cycle
constexpr uint32_t DAG_ON_PATH = 0x8000; // walk_flags bit: node on the current path

struct dag_node {
    void *data;            // caller's pointer
    vector_t *edges;       // dag_edge records
    uint32_t depth;        // longest distance from the last walk's start (start 1, unreached 0)
    uint32_t marks;        // DAG_CYCLE; the other bits are the caller's
    uint32_t incoming;     // edges added towards this node
    vector_t *universe;    // universe the node was created in
    uint32_t walk_flags;   // DAG_ON_PATH during a walk
    vector_t *reach_cache; // nodes reachable from here, or null
    uint32_t reach_mask;   // edge-kind mask reach_cache was built for
};

struct dag_edge {
    dag_node *target;
    uint32_t kind;  // a walk under mask M follows the edge when kind has every bit of M
    int32_t value;  // caller's value
};

vector_t *dag_new_universe();
dag_node *dag_new_node(vector_t *universe, void *data);
// 1 when added, 0 when an equal edge (target, value, kind) already exists.
int dag_add_edge(dag_node *from, dag_node *to, int32_t value, uint32_t kind);
// Nodes reachable from start under the mask (start included), by depth:
// ascending for direction 1, else descending. The caller owns the vector.
vector_t *dag_sorted_nodes(dag_node *start, int direction, uint32_t mask);
bool dag_reaches(dag_node *a, dag_node *b, uint32_t mask);
