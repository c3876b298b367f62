// The symbol table: 101 hash chains with nested scope levels, the program-wide
// name table that keeps assembler names of all inputs apart, and the names
// under which symbols appear in the assembly.
//
// A chain is kept deepest first: symbols of inner levels go to the head, so
// leaving a scope drops the symbols at the heads of the chains; file-level
// symbols of "[v" records go to the tail, behind anything of an inner level.
#include "kestrel.h"

#include <cstring>
#include <string>

// Buckets of the symbol table.
static const uint32_t SYM_CHAINS = 101;
// The symbol table's chains.
static cg_symbol *chains[SYM_CHAINS];
// Current scope level.
int scope_level;
// Line at which each open scope level began.
static int level_lines[256];
// Counter shared by all symbols; numbers start at 1.
uint32_t symbol_counter;
// Names of every input, to keep assembler names apart (string keys).
static hash_t *name_table;
// Externs and statics in reading order: the input of data placement.
vector_t *global_objects;
// Functions whose bodies were read, in order.
vector_t *functions;
// The function whose records are being read.
cg_symbol *current_function;
// Set by the library wanted test when the name was not yet known.
bool from_library_indicator;
// A library module is being read.
bool reading_library;
// Number of the input being read (from 1).
int input_number;

uint32_t sym_hash(const char *name)
{
    uint32_t h = 0;
    for (const unsigned char *p = (const unsigned char *)name; *p; p++)
        h = 2 * h + *p;
    return h % SYM_CHAINS;
}

void sym_init()
{
    memset(chains, 0, sizeof chains);
    scope_level = 0;
    symbol_counter = 0;
    name_table = hash_new(128, hash_str_hash, hash_str_compare);
    global_objects = vec_new(64);
    functions = vec_new(32);
    current_function = nullptr;
    from_library_indicator = false;
    reading_library = false;
    input_number = 0;
}

cg_symbol *sym_new(const char *name)
{
    cg_symbol *s = (cg_symbol *)xmalloc(sizeof(cg_symbol));
    s->name = xstrdup(name);
    s->key = s->name;
    s->src_name = s->name;
    s->number = ++symbol_counter;
    s->level = (uint8_t)scope_level;
    s->level_line = level_lines[scope_level & 0xFF];
    s->def_file = cur_file;
    s->def_line = cur_line;
    s->def_input = input_number;
    s->used_regs = objset_copy(regset_of(REG_ALLREG));
    return s;
}

// Finds the first symbol of a name; a structure tag with an alias gives the alias.
cg_symbol *sym_find(const char *name)
{
    for (cg_symbol *s = chains[sym_hash(name)]; s; s = s->chain)
        if (!strcmp(s->key, name))
            return s->cls == 'D' && s->alias ? s->alias : s;
    return nullptr;
}

cg_symbol *sym_lookup(const char *name)
{
    if (cg_symbol *s = sym_find(name))
        return s;
    cg_symbol *s = sym_new(name);
    uint32_t h = sym_hash(name);
    s->chain = chains[h];
    chains[h] = s;
    return s;
}

void sym_insert(cg_symbol *s)
{
    cg_symbol **p = &chains[sym_hash(s->key)];
    if (s->level == 0) {
        while (*p)
            p = &(*p)->chain;
    }
    s->chain = *p;
    *p = s;
}

void scope_enter()
{
    scope_level++;
    if (scope_level > 255)
        scope_level = 255;
    level_lines[scope_level] = cur_line;
}

void scope_leave()
{
    if (scope_level > 0)
        scope_level--;
    for (uint32_t h = 0; h < SYM_CHAINS; h++)
        while (chains[h] && chains[h]->level > scope_level)
            chains[h] = chains[h]->chain;
}

cg_symbol *tag_lookup(const char *name, char cls)
{
    cg_symbol *s = nullptr;
    for (cg_symbol *c = chains[sym_hash(name)]; c; c = c->chain)
        if (!strcmp(c->key, name)) {
            s = c;
            break;
        }
    if (!s || s->level != scope_level) {
        s = sym_new(name);
        sym_insert(s);
    }
    s->cls = cls;
    return s;
}

cg_symbol *name_table_find(const char *name)
{
    return (cg_symbol *)hash_lookup(name_table, name);
}

void name_table_enter(const char *name, cg_symbol *s)
{
    if (!hash_lookup(name_table, name))
        hash_insert(name_table, xstrdup(name), s);
}

// Gives a symbol a new name, also as its assembler name.
void sym_rename(cg_symbol *s, const char *new_name)
{
    s->name = xstrdup(new_name);
    s->asm_name = s->name;
}

bool sym_is_function(cg_symbol *s)
{
    return s && s->cls == 'F' && type_is(s->type, TY_FUNCTION);
}

// The interrupt-level prefix of a function: empty unless the current mask
// asks for a level the function does not already cover.
static std::string level_prefix(cg_symbol *f)
{
    if (intlevel_mask <= 1 || (f && (f->flags & SF_UNPREFIXED)))
        return "";
    if (f && (type_qualifiers(f->type) & Q_INTERRUPT))
        return "";
    uint32_t levels = intlevel_mask & ~1u;
    if (f && sym_is_function(f) && (f->int_levels & levels) == levels)
        return "";
    return intlevel_suffix();
}

const char *sym_asm_name(cg_symbol *s)
{
    if (s->asm_name)
        return s->asm_name;
    cg_symbol *f = sym_is_function(s) ? s : s->owner;
    if (s->flags & SF_UNPREFIXED)
        f = s;
    s->asm_name = xstrdup((level_prefix(f) + s->name).c_str());
    return s->asm_name;
}

void sym_set_position(cg_symbol *s)
{
    if (s->def_file)
        pos_set_file(s->def_file);
    cur_line = s->def_line;
}

void sym_visit_all(void (*fn)(cg_symbol *, void *), void *ctx)
{
    for (uint32_t h = 0; h < SYM_CHAINS; h++)
        for (cg_symbol *s = chains[h]; s; s = s->chain) {
            if (s->level > scope_level)
                break;
            fn(s, ctx);
        }
}
