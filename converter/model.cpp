// The debug model: source files, symbols, line records, psect bounds,
// segments and data blocks, numbered from 1 in the order they are added (0
// means "none" wherever a record refers to a file or a segment), with hash
// indexes of symbols by name and by value and of files by name.
//
// Addresses are in the units of their source: segments and line records in
// the symbol file's address units (words of program memory on a PIC), data
// blocks in bytes of the HEX image. Where the two meet, a segment of a
// program class (-n) is scaled by the bytes per word of the processor.
#include "egret.h"

#include <cctype>
#include <cstring>

model_t model;
egret_settings settings;

// Name hash: one leading '_' skipped when more follows, then from the last
// character back h = c + 4 * h over signed characters.
uint32_t model_name_hash(const char *name)
{
    if (name[0] == '_' && name[1])
        name++;
    uint32_t h = 0;
    for (size_t i = strlen(name); i-- > 0;)
        h = (uint32_t)(int32_t)(signed char)name[i] + 4 * h;
    return h;
}

static uint32_t name_hash_fn(const void *key) { return model_name_hash((const char *)key); }

static uint32_t file_hash_fn(const void *key)
{
    char *copy = xstrdup((const char *)key);
    text_to_lower(copy);
    uint32_t h = model_name_hash(copy);
    free(copy);
    return h;
}

static int file_compare_fn(const void *given, const void *stored)
{
    return strcasecmp((const char *)given, (const char *)stored);
}

void model_init()
{
    model.files = vec_new(25);
    model.symbols = vec_new(100);
    model.bounds = vec_new(30);
    model.segments = vec_new(25);
    model.blocks = vec_new(100);
    model.lines = vec_new(100);
    model.symbols_by_name = hash_new(123, name_hash_fn, hash_str_compare);
    model.symbols_by_value = hash_new(123, hash_ptr_hash, hash_ptr_compare);
    model.files_by_name = hash_new(123, file_hash_fn, file_compare_fn);
    model.entry = 0;
}

// With -e a file is known by its name without extension.
static std::string file_key(const char *name)
{
    std::string key = name;
    if (settings.strip_extensions) {
        size_t dot = key.rfind('.');
        if (dot != std::string::npos)
            key.erase(dot);
    }
    return key;
}

uint32_t model_add_file(const char *name)
{
    std::string key = file_key(name);
    if (model_file *f = (model_file *)hash_lookup(model.files_by_name, key.c_str()))
        return f->number;
    model_file *f = (model_file *)xmalloc(sizeof(model_file));
    f->name = xstrdup(key.c_str());
    f->number = vec_push(model.files, f) + 1;
    hash_insert(model.files_by_name, f->name, f);
    return f->number;
}

model_file *model_find_file(const char *name)
{
    return (model_file *)hash_lookup(model.files_by_name, file_key(name).c_str());
}

model_file *model_file_at(uint32_t number)
{
    return number ? (model_file *)vec_get(model.files, number - 1) : nullptr;
}

void model_add_symbol(const char *name, uint32_t value, uint32_t segment, uint32_t file, uint32_t flags)
{
    model_symbol *s = (model_symbol *)xmalloc(sizeof(model_symbol));
    s->name = xstrdup(name);
    s->value = value;
    s->segment = segment;
    s->file = file;
    s->flags = flags;
    hash_insert(model.symbols_by_name, s->name, s);
    // Names beginning with F are the code generator's function-local
    // statics; they would hide the variables a value names.
    if (name[0] != 'F')
        hash_insert(model.symbols_by_value, (void *)(uintptr_t)value, s);
    if (model_file *f = model_file_at(file))
        f->symbol_count++;
    vec_push(model.symbols, s);
}

void model_add_line(uint32_t line, uint32_t address, uint32_t segment, uint32_t file, uint32_t flags)
{
    model_line *l = (model_line *)xmalloc(sizeof(model_line));
    l->line = line;
    l->address = address;
    l->segment = segment;
    l->file = file;
    l->flags = flags;
    if (model_file *f = model_file_at(file))
        f->line_count++;
    vec_push(model.lines, l);
}

psect_bounds *model_add_psect_bounds(const char *name, uint32_t low, uint32_t high, uint32_t base, uint32_t ivalue)
{
    psect_bounds *b = (psect_bounds *)xmalloc(sizeof(psect_bounds));
    b->name = xstrdup(name);
    b->low = low;
    b->high = high;
    b->base = base;
    b->ivalue = ivalue;
    vec_push(model.bounds, b);
    return b;
}

psect_bounds *model_find_psect_bounds(const char *name)
{
    for (uint32_t i = 0; i < vec_count(model.bounds); i++) {
        psect_bounds *b = (psect_bounds *)vec_get(model.bounds, i);
        if (strcmp(b->name, name) == 0)
            return b;
    }
    return nullptr;
}

uint32_t model_add_segment(const char *name, uint32_t address, uint32_t size, uint32_t load, uint32_t group)
{
    model_segment *s = (model_segment *)xmalloc(sizeof(model_segment));
    s->name = xstrdup(name);
    s->address = address;
    s->size = size;
    s->load = load;
    s->group = group;
    return vec_push(model.segments, s) + 1;
}

uint32_t model_segment_number(const char *name)
{
    for (uint32_t i = 0; i < vec_count(model.segments); i++)
        if (strcmp(((model_segment *)vec_get(model.segments, i))->name, name) == 0)
            return i + 1;
    return 0;
}

model_segment *model_find_segment(const char *name)
{
    return model_segment_at_number(model_segment_number(name));
}

model_segment *model_segment_at_number(uint32_t number)
{
    return number ? (model_segment *)vec_get(model.segments, number - 1) : nullptr;
}

void model_add_data(uint32_t address, uint32_t length, const uint8_t *bytes, uint32_t segment)
{
    data_block *b = (data_block *)xmalloc(sizeof(data_block));
    b->address = address;
    b->length = length;
    b->bytes = (uint8_t *)xmalloc(length ? length : 1);
    if (length)
        memcpy(b->bytes, bytes, length);
    b->segment = segment;
    vec_push(model.blocks, b);
}

bool model_symbol_value(const char *name, uint32_t *value, uint32_t *segment)
{
    model_symbol *s = (model_symbol *)hash_lookup(model.symbols_by_name, name);
    if (!s)
        return false;
    *value = s->value;
    *segment = s->segment;
    return true;
}

model_symbol *model_symbol_by_value(uint32_t value)
{
    return (model_symbol *)hash_lookup(model.symbols_by_value, (void *)(uintptr_t)value);
}

model_symbol *model_file_symbol(const char *file_name, const char *symbol_name)
{
    model_file *f = model_find_file(file_name);
    if (!f || !f->symbols)
        return nullptr;
    for (uint32_t i = 0; i < f->symbol_count; i++)
        if (strcmp(f->symbols[i]->name, symbol_name) == 0)
            return f->symbols[i];
    return nullptr;
}

uint32_t model_segment_at(uint32_t value, uint32_t segment, uint32_t scale)
{
    uint64_t scaled = (uint64_t)value * scale;
    for (uint32_t i = 0; i < vec_count(model.segments); i++) {
        model_segment *s = (model_segment *)vec_get(model.segments, i);
        if (s->group == segment && s->address <= scaled && scaled < (uint64_t)s->address + s->size)
            return i + 1;
    }
    return segment;
}

model_segment *model_group_of(const model_segment *segment)
{
    return model_segment_at_number(segment->group);
}

uint32_t model_bytes_per_word()
{
    // The architecture token names the word width in bits: PIC12, PIC14, PIC16.
    for (const std::string &t : settings.processor_tokens) {
        if (t.size() < 4 || strncasecmp(t.c_str(), "PIC", 3) != 0)
            continue;
        bool digits = true;
        for (size_t i = 3; i < t.size(); i++)
            digits &= isdigit((unsigned char)t[i]) != 0;
        unsigned long bits = digits && t.size() < 8 ? strtoul(t.c_str() + 3, nullptr, 10) : 0;
        if (bits >= 8 && bits <= 32)
            return (uint32_t)((bits + 7) / 8);
    }
    return 1;
}

bool model_in_program_class(const model_segment *segment)
{
    const model_segment *group = model_group_of(segment);
    if (!group)
        return false;
    for (const std::string &c : settings.classes)
        if (c == group->name)
            return true;
    return false;
}
