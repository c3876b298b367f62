// The machine-description engine: choosing the description of the run,
// register and mode-word lookups, the size of a type, and the symbol
// resolver that turns an SDB variable into an address through the model's
// symbols. The descriptions themselves are data (machtab.cpp); what differs
// between architectures in behaviour is one switch over their shape.
//
// Selection: the -p name first (the first matcher that accepts it wins);
// else the mode words of the first SDB file's "[p" line, which must fit
// exactly one description.
#include "egret.h"

#include <cstring>

const machine_desc *machine_current;

void machine_reset_for_tests() { machine_current = nullptr; }

// The "[p" line's words, at most 49, up to a "]".
static std::vector<std::string> split_tokens(const char *text)
{
    std::vector<std::string> tokens;
    std::string word;
    for (const char *p = text;; p++) {
        if (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
            word += *p;
            continue;
        }
        if (!word.empty()) {
            if (word == "]" || tokens.size() == 49)
                break;
            tokens.push_back(word);
            word.clear();
        }
        if (!*p)
            break;
    }
    return tokens;
}

static bool has_mode_word(const machine_desc *m, const std::string &word)
{
    for (const char *const *w = m->mode_words; *w; w++)
        if (strcasecmp(*w, word.c_str()) == 0)
            return true;
    return false;
}

const machine_desc *machine_select(const char *tokens, const char *processor)
{
    for (unsigned i = 0; i < machine_table_count; i++)
        if (machine_table[i]->matches(processor, settings.processor_tokens))
            return machine_table[i];
    std::vector<std::string> words = split_tokens(tokens);
    const machine_desc *found = nullptr;
    unsigned candidates = 0;
    for (unsigned i = 0; i < machine_table_count; i++) {
        bool all = true;
        for (const std::string &w : words)
            all &= has_mode_word(machine_table[i], w);
        if (all) {
            candidates++;
            if (!found)
                found = machine_table[i];
        }
    }
    if (candidates == 1)
        return found;
    msg_report(candidates == 0 ? 668 : 669);
    return nullptr;
}

bool machine_init(const char *tokens)
{
    if (machine_current)
        return true;
    // Without a processor name and without a "[p" line (a module with no
    // SDB file, as every assembly module is) nothing can choose: no
    // description, and nothing to complain of.
    bool named = false;
    for (unsigned i = 0; i < machine_table_count && !named; i++)
        named = machine_table[i]->matches(settings.processor.c_str(), settings.processor_tokens);
    if (!named && split_tokens(tokens).empty())
        return false;
    machine_current = machine_select(tokens, settings.processor.c_str());
    if (!machine_current)
        return false;
    log_verbose("Machine description %s", machine_current->name);
    sdb_init_globals();
    return true;
}

bool machine_flag(const char *word)
{
    if (!machine_current)
        return false;
    for (const char *const *w = machine_current->mode_words; *w; w++)
        if (strcmp(*w, word) == 0)
            return true;
    return false;
}

uint32_t machine_register_number(const char *name)
{
    if (!machine_current || !*name)
        return 0;
    for (uint32_t i = 1; i < machine_current->register_count; i++)
        if (strcmp(machine_current->registers[i].name, name) == 0)
            return i;
    return 0;
}

const char *machine_register_name(uint32_t number)
{
    if (!machine_current || number == 0 || number >= machine_current->register_count)
        return "";
    return machine_current->registers[number].name;
}

uint32_t machine_qualifier_flag(char letter, const char **name)
{
    for (const machine_qualifier *q = machine_current->qualifiers; q->letter; q++)
        if (q->letter == letter) {
            if (name)
                *name = q->name;
            return q->flag;
        }
    return 0;
}

// ---------------------------------------------------------------------------
// type sizes
// ---------------------------------------------------------------------------

static uint32_t pointer_size(const type_chain *chain, size_t index)
{
    const type_entry *before = index > 0 ? &chain->entries[index - 1] : nullptr;
    uint64_t quals = before && before->kind == TK_QUALIFIER ? before->value : 0;
    switch (machine_current->shape) {
    case SHAPE_PIC:
    case SHAPE_HOLTEK: return (quals & 0x40004) ? 2 : 1;   // const or far: program memory
    case SHAPE_8051: return (quals & 0x188) ? 1 : 2;       // near, idata, pdata
    case SHAPE_PIC32:
    case SHAPE_ARM: return 4;
    default: return 2;
    }
}

// Sizes from the base entry outwards, so a long chain takes no deep
// recursion; a size past 32 bits stays at the largest value.
uint32_t machine_type_size(const type_chain *chain, size_t index)
{
    uint64_t size = 0;
    for (size_t i = 0; i <= index && i < chain->entries.size(); i++) {
        const type_entry &e = chain->entries[i];
        switch (e.kind) {
        case TK_BASIC: size = e.extra; break;
        case TK_ENUM:
        case TK_STRUCT: size = e.tag ? (uint64_t)(uint32_t)e.tag->size : 0; break;
        case TK_ARRAY: size = size * e.value; break;
        case TK_POINTER: size = pointer_size(chain, i); break;
        default: size = 0; break;
        }
        if (size > 0xFFFFFFFFu)
            size = 0xFFFFFFFFu;
    }
    return (uint32_t)size;
}

// ---------------------------------------------------------------------------
// symbol resolver
// ---------------------------------------------------------------------------

static bool resolve_by_symbol(const char *name, resolved_address *out)
{
    return name && model_symbol_value(name, &out->value, &out->segment);
}

// The function block around a frame variable: outwards over plain blocks.
static sdb_entry *enclosing_function(const std::vector<sdb_entry *> &path)
{
    for (size_t i = path.size(); i-- > 0;) {
        if (path[i]->kind == SC_FUNC)
            return path[i];
        if (path[i]->kind != SC_BLOCK)
            return nullptr;
    }
    return nullptr;
}

// Autos and parameters of the frame-symbol machines: the frame's symbol
// (autos "??" or "?a", parameters "?" before the function's name) plus the
// variable's offset.
static bool resolve_frame(sdb_entry *e, const std::vector<sdb_entry *> &path, resolved_address *out)
{
    sdb_entry *fn = enclosing_function(path);
    if (!fn || !fn->function || !fn->function->name)
        return false;
    machine_shape shape = machine_current->shape;
    if (shape == SHAPE_DSPIC || shape == SHAPE_PIC32) {
        out->value = (uint32_t)(e->value + fn->numbers[e->kind == SC_AUTO ? 1 : 3]);
        out->segment = e->resolved.segment;
        return true;
    }
    const char *prefix = e->kind == SC_PARAM ? "?" : (shape == SHAPE_8051 || shape == SHAPE_ARM) ? "?a" : "??";
    std::string frame = std::string(prefix) + fn->function->name;
    resolved_address base;
    if (!model_symbol_value(frame.c_str(), &base.value, &base.segment))
        return false;
    out->value = base.value + (uint32_t)e->value;
    out->segment = base.segment;
    return true;
}

static uint32_t group_of_segment_named(const char *name)
{
    model_segment *s = model_find_segment(name);
    return s ? s->group : 0;
}

// Register variables: the register number n becomes a register address.
static bool resolve_register(long n, resolved_address *out)
{
    switch (machine_current->shape) {
    case SHAPE_DSPIC:
        if (n >= 1 && n <= 16)
            out->value = (uint32_t)(n - 1);
        else if (n >= 17 && n <= 23)
            out->value = (uint32_t)(2 * n - 34);
        else
            return false;
        return true;
    case SHAPE_PIC32:
        out->value = (uint32_t)(n - 1);
        return true;
    case SHAPE_8051:
        if (n >= 1 && n <= 8)
            out->value = (uint32_t)(n - 1);
        else if (n >= 9 && n <= 12)
            out->value = (uint32_t)(2 * n - 18);
        else if (n >= 13 && n <= 14)
            out->value = (uint32_t)(4 * n - 52);
        else
            return false;
        out->segment = group_of_segment_named("DATA");
        return true;
    case SHAPE_ARM:
        // r8_9, r9_10 and r10_11 start at r8, r9 and r10.
        if (n >= 1 && n <= 16)
            out->value = (uint32_t)(n - 1);
        else if (n >= 17 && n <= 23)
            out->value = (uint32_t)(n - 17);
        else if (n >= 24 && n <= 26)
            out->value = (uint32_t)(n - 16);
        else
            return false;
        return true;
    case SHAPE_HOLTEK:
        if (n != 1 && n != 2)
            return false;
        out->value = n == 1 ? 5 : 0;
        out->segment = group_of_segment_named("RAM");
        return true;
    default:
        return false;
    }
}

bool machine_resolve(sdb_entry *e, const std::vector<sdb_entry *> &path, resolved_address *out)
{
    if (!machine_current)
        return false;
    if (e->flags & SDBF_RESOLVED) {
        if (e->kind == SC_EXTERN && machine_current->shape == SHAPE_PIC32)
            return false;
        *out = e->resolved;
        return true;
    }
    resolved_address r = {0, e->resolved.segment};
    bool ok = false;
    switch (e->kind) {
    case SC_EXTERN: ok = resolve_by_symbol(e->name, &r); break;
    case SC_STATIC: ok = resolve_by_symbol(e->alias, &r) || resolve_by_symbol(e->name, &r); break;
    case SC_AUTO:
    case SC_PARAM: ok = resolve_frame(e, path, &r); break;
    case SC_REG: ok = resolve_register(e->value, &r); break;
    default: break;
    }
    if (!ok)
        return false;
    e->resolved = r;
    e->flags |= SDBF_RESOLVED;
    *out = r;
    return true;
}
