// The Microchip COFF module (key "mcoff"): the absolute COFF debug file
// that PIC debuggers and simulators load, written from the model, read back
// into it and dumped.
//
// Layout: file header (20 bytes), optional header (18: magic, version,
// processor id, ROM and RAM word widths), section headers (40 each), the
// raw bytes of the code sections, their line-number entries (16 each), the
// symbol table (20 bytes an entry, auxiliary entries included) and the
// string table. Every field is little-endian.
//
// Sections: "ABS" first; one placement-only section per segment outside
// the program classes (-n); one "_text%d" section per data block. Program
// addresses in the file count words: a data block's byte address is
// divided by the ROM bytes per word, and a symbol's or line's word address
// multiplied by it finds the block holding it.
//
// The whole file is built in memory and written in one go, so any output
// (a pipe included) takes it, and indexes into the symbol table can be
// patched after the entries they point to are listed.
#include "egret.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <unordered_map>

namespace {

// Symbol flag: already written from the scope tree, so not again as a label.
const uint32_t SYMF_WRITTEN = 8;

// Section flags.
const uint32_t SECT_TEXT = 0x20, SECT_BSS = 0x80, SECT_ABSOLUTE = 0x1000;

// Storage classes.
enum {
    CLASS_EXT = 2, CLASS_STAT = 3, CLASS_REG = 4, CLASS_EXTDEF = 5, CLASS_LABEL = 6, CLASS_MOS = 8,
    CLASS_STRTAG = 10, CLASS_MOU = 11, CLASS_UNTAG = 12, CLASS_FIELD = 18, CLASS_BLOCK = 100, CLASS_FCN = 101,
    CLASS_EOS = 102, CLASS_FILE = 103, CLASS_EOF = 107,
};

// Base types and derivations of the type word.
enum {
    T_NULL = 0, T_VOID = 1, T_CHAR = 2, T_INT = 4, T_LONG = 5, T_FLOAT = 6, T_DOUBLE = 7, T_STRUCT = 8,
    T_UNION = 9, T_UCHAR = 12, T_USHORT = 13, T_UINT = 14, T_ULONG = 15, T_SLONG = 17, T_USLONG = 18,
};
enum { DT_PTR = 1, DT_FCN = 2, DT_ARY = 3 };

const uint32_t FILE_HEADER = 20, OPT_HEADER = 18, SECTION_HEADER = 40, LINE_ENTRY = 16, SYMBOL_ENTRY = 20;
const uint16_t OPT_MAGIC = 5000;
const uint32_t OPT_VERSION = 96005;
const uint32_t POINTER_SIZE = 2;

// Sizes in bytes of the base types 0-18.
const uint32_t type_sizes[19] = {0, 0, 1, 2, 2, 4, 3, 4, 0, 0, 0, 0, 1, 2, 2, 4, 8, 3, 3};
const char *const type_names[19] = {"null", "void",  "char", "short", "int",   "long",   "float",
                                    "double", "struct", "union", "enum", "moe", "uchar", "ushort",
                                    "uint", "ulong", "lngdbl", "slong", "uslong"};

uint32_t base_of(uint32_t type) { return type & 0x1F; }
uint32_t outer_derivation(uint32_t type) { return (type >> 5) & 7; }
uint32_t add_derivation(uint32_t type, uint32_t d) { return base_of(type) | ((type & ~0x1Fu) << 3) | d << 5; }

// The word widths and scales of the chip (writer) or of the file read.
struct chip_scales {
    uint32_t processor_id = 0;
    uint32_t rom_width = 0, ram_width = 8;
    uint32_t rom_bytes = 2, ram_bytes = 1;   // bytes per program / data word
};

using entry = std::array<uint8_t, SYMBOL_ENTRY>;

// ===========================================================================
// writer
// ===========================================================================

struct coff_section {
    std::string name;
    uint32_t paddr = 0, size = 0, scnptr = 0, lnnoptr = 0;
    uint16_t nlnno = 0;
    uint32_t flags = 0;
};

// A function block met while emitting, with where its lines go.
struct function_met {
    sdb_entry *block;
    bool located;
    resolved_address where;
    uint32_t symbol_index;   // its own symbol entry, 0 when none was written
    std::vector<model_line *> lines;
};

// A bit variable waiting for its bit structure.
struct bit_variable {
    std::string name;        // member name
    sdb_entry *item;
};

struct coff_writer {
    chip_scales chip;
    std::vector<entry> symbols;
    std::string strings;                         // the string table after its size word
    std::unordered_map<std::string, uint32_t> string_at;
    std::vector<coff_section> sections;
    uint32_t first_code_section = 0;             // section number of _text0
    std::vector<const data_block *> blocks;
    std::unordered_map<const sdb_entry *, uint32_t> tags;          // structure -> tag entry index
    std::vector<std::pair<uint32_t, const sdb_entry *>> waiting;   // aux entries waiting for a tag
    std::map<uint32_t, bit_variable> bits;       // by bit address
    std::vector<function_met> functions;
    bool file_open = false;
    unsigned unnamed = 0;                        // ".u%d" counter
};

coff_writer *w;

// --- entries -------------------------------------------------------------

uint32_t string_offset(const std::string &text)
{
    auto found = w->string_at.find(text);
    if (found != w->string_at.end())
        return found->second;
    uint32_t at = 4 + (uint32_t)w->strings.size();
    w->strings += text;
    w->strings += '\0';
    w->string_at[text] = at;
    return at;
}

// An 8-byte name field: in place up to 8 characters, else the string table.
void put_name(uint8_t *field, const std::string &name)
{
    memset(field, 0, 8);
    if (name.size() <= 8) {
        memcpy(field, name.data(), name.size());
    } else {
        write32_le(field, 0);
        write32_le(field + 4, string_offset(name));
    }
}

std::string strip(const char *name)
{
    if (!name)
        return "";
    return settings.strip_underscore && name[0] == '_' ? name + 1 : name;
}

std::string made_up_name() { return str_printf(".u%u", w->unnamed++); }

uint32_t add_entry(const std::string &name, uint32_t value, int16_t section, uint32_t type, uint8_t sclass,
                   const entry *aux)
{
    entry e = {};
    put_name(e.data(), name.empty() ? made_up_name() : name);
    write32_le(e.data() + 8, value);
    write16_le(e.data() + 12, (uint16_t)section);
    write32_le(e.data() + 14, type);
    e[18] = sclass;
    e[19] = aux ? 1 : 0;
    uint32_t index = (uint32_t)w->symbols.size();
    w->symbols.push_back(e);
    if (aux)
        w->symbols.push_back(*aux);
    return index;
}

entry lnno_aux(uint32_t line)
{
    entry a = {};
    write16_le(a.data() + 4, (uint16_t)line);
    return a;
}

// The closing entry's auxiliary entry is the one an x_endndx points at.
void set_end(uint32_t opener, uint32_t closer) { write32_le(w->symbols[opener + 1].data() + 12, closer + 1); }

// --- sections ------------------------------------------------------------

bool is_program_class(uint32_t segment_number)
{
    model_segment *s = model_segment_at_number(segment_number);
    return s && model_in_program_class(s);
}

// Section number of a located item.
int16_t section_of(const resolved_address &at)
{
    if (is_program_class(at.segment)) {
        uint64_t byte = (uint64_t)at.value * w->chip.rom_bytes;
        for (size_t j = 0; j < w->blocks.size(); j++)
            if (w->blocks[j]->address <= byte && byte < (uint64_t)w->blocks[j]->address + w->blocks[j]->length)
                return (int16_t)(w->first_code_section + j);
        return 1;   // code with no bytes of its own: absolute
    }
    uint32_t n = model_segment_at(at.value, at.segment, w->chip.ram_bytes);
    if (n == 0 || n > vec_count(model.segments))
        return 1;
    uint32_t skipped = 0;
    for (uint32_t k = 1; k <= n; k++)
        skipped += is_program_class(k);
    return (int16_t)(n - skipped + 1);
}

void build_sections()
{
    w->sections.push_back({"ABS", 0, 0, 0, 0, 0, SECT_ABSOLUTE});
    std::map<std::string, unsigned> seen;
    for (uint32_t k = 0; k < vec_count(model.segments); k++) {
        const model_segment *s = (const model_segment *)vec_get(model.segments, k);
        unsigned earlier = seen[s->name]++;
        if (is_program_class(k + 1))
            continue;
        coff_section c;
        c.name = earlier ? str_printf("%s.%u", s->name, earlier) : std::string(s->name);
        c.paddr = s->address / w->chip.ram_bytes;
        c.size = s->size;
        c.flags = SECT_BSS;
        w->sections.push_back(c);
    }
    w->first_code_section = (uint32_t)w->sections.size() + 1;
    for (uint32_t j = 0; j < vec_count(model.blocks); j++) {
        const data_block *b = (const data_block *)vec_get(model.blocks, j);
        w->blocks.push_back(b);
        coff_section c;
        c.name = str_printf("_text%u", j);
        c.paddr = b->address / w->chip.rom_bytes;
        c.size = b->length;
        c.flags = SECT_TEXT;
        w->sections.push_back(c);
    }
    for (const coff_section &c : w->sections)
        if (c.name.size() > 8)
            string_offset(c.name);
}

// --- types ---------------------------------------------------------------

uint32_t basic_type(const type_entry &e)
{
    switch (e.value) {
    case 0: return T_VOID;
    case 1: return e.extra == 1 ? T_CHAR : e.extra == 2 ? T_INT : e.extra == 3 ? T_SLONG : e.extra == 4 ? T_LONG : 0;
    case 2:
        return e.extra == 1 ? T_UCHAR : e.extra == 2 ? T_UINT : e.extra == 3 ? T_USLONG : e.extra == 4 ? T_ULONG : 0;
    case 3: return e.extra == type_sizes[T_FLOAT] ? T_FLOAT : T_DOUBLE;
    default: return T_NULL;   // bit
    }
}

const sdb_entry *struct_of(const type_entry &e)
{
    return e.kind == TK_STRUCT && e.tag && e.tag->kind == SC_STRUCT ? e.tag : nullptr;
}

// The type word of a chain and the auxiliary entry it needs, if any.
uint32_t type_of(const type_chain *chain, entry *aux, bool *has_aux)
{
    *aux = {};
    *has_aux = false;
    if (!chain)
        return T_NULL;
    uint32_t type = T_NULL;
    for (const type_entry &e : chain->entries) {
        switch (e.kind) {
        case TK_BASIC: type = basic_type(e); break;
        case TK_ENUM: type = T_CHAR; break;
        case TK_STRUCT: {
            const sdb_entry *s = struct_of(e);
            type = s && s->is_union ? T_UNION : T_STRUCT;
            *has_aux = true;
            *aux = {};
            write16_le(aux->data() + 6, s ? (uint16_t)s->size : 0);
            if (s) {
                auto found = w->tags.find(s);
                if (found != w->tags.end())
                    write32_le(aux->data(), found->second);
                else
                    w->waiting.push_back({UINT32_MAX, s});   // index filled in by the caller
            }
            break;
        }
        case TK_FUNCTION: type = add_derivation(type, DT_FCN); break;
        case TK_POINTER: type = add_derivation(type, DT_PTR); break;
        case TK_ARRAY: {
            // Bytes of one element: an inner array's whole size, a
            // pointer's, a structure's from its auxiliary entry, a base type's.
            uint32_t inner = outer_derivation(type), element;
            if (inner == DT_ARY || (!inner && base_of(type) >= T_STRUCT && base_of(type) <= 10 && *has_aux))
                element = read16_le(aux->data() + 6);
            else if (inner == DT_PTR)
                element = POINTER_SIZE;
            else
                element = inner ? 0 : type_sizes[base_of(type)];
            type = add_derivation(type, DT_ARY);
            *has_aux = true;
            memmove(aux->data() + 10, aux->data() + 8, 6);
            write16_le(aux->data() + 8, (uint16_t)std::min<uint64_t>(e.value, 0xFFFF));
            write16_le(aux->data() + 6, (uint16_t)std::min<uint64_t>(e.value * element, 0xFFFF));
            break;
        }
        default: break;   // qualifiers
        }
    }
    return type;
}

// A double that is as long as a float is written as a float.
uint32_t float_rule(uint32_t type, long size)
{
    if (type == T_DOUBLE && type_sizes[T_FLOAT] != type_sizes[T_DOUBLE] && (uint32_t)size == type_sizes[T_FLOAT])
        return T_FLOAT;
    return type;
}

// The structure a chain leads to through functions, pointers and arrays.
const sdb_entry *first_struct(const type_chain *chain)
{
    if (!chain)
        return nullptr;
    for (size_t i = chain->entries.size(); i-- > 0;) {
        const type_entry &e = chain->entries[i];
        if (e.kind == TK_STRUCT)
            return struct_of(e);
        if (e.kind != TK_FUNCTION && e.kind != TK_POINTER && e.kind != TK_ARRAY && e.kind != TK_QUALIFIER)
            return nullptr;
    }
    return nullptr;
}

// Writes an entry whose type came from type_of: a tag it waits for gets
// the auxiliary entry's index.
uint32_t add_typed_entry(const std::string &name, uint32_t value, int16_t section, uint32_t type, uint8_t sclass,
                         const entry &aux, bool has_aux)
{
    uint32_t index = add_entry(name, value, section, type, sclass, has_aux ? &aux : nullptr);
    for (auto &wait : w->waiting)
        if (wait.first == UINT32_MAX)
            wait.first = index + 1;
    return index;
}

// Tag entries, members and ".eos" of the structure a chain leads to and of
// the structures its members lead to, each once. A work list rather than
// recursion, so nesting depth costs no stack.
void emit_tags(const type_chain *chain)
{
    std::vector<const sdb_entry *> work;
    if (const sdb_entry *s = first_struct(chain))
        work.push_back(s);
    while (!work.empty()) {
        const sdb_entry *s = work.back();
        work.pop_back();
        if (w->tags.count(s))
            continue;
        entry aux = {};
        write16_le(aux.data() + 6, (uint16_t)s->size);
        uint32_t tag = add_entry(s->alias ? s->alias : "", 0, 0, 0, s->is_union ? CLASS_UNTAG : CLASS_STRTAG, &aux);
        w->tags[s] = tag;
        std::vector<const sdb_entry *> inner;
        for (const sdb_member &m : s->members) {
            if (m.bits[0]) {
                entry field = {};
                write16_le(field.data() + 6, (uint16_t)m.bits[0]);
                add_entry(m.name, (uint32_t)(m.bits[1] + 8 * m.numbers[1]), 0, T_UCHAR, CLASS_FIELD, &field);
            } else {
                entry maux;
                bool has;
                uint32_t type = type_of(m.type, &maux, &has);
                add_typed_entry(m.name, (uint32_t)m.numbers[1], 0, type, s->is_union ? CLASS_MOU : CLASS_MOS, maux,
                                has);
            }
            if (const sdb_entry *t = first_struct(m.type))
                inner.push_back(t);
        }
        entry eos = {};
        write32_le(eos.data(), tag);
        write16_le(eos.data() + 6, (uint16_t)s->size);
        uint32_t end = add_entry(".eos", 0, 0, 0, CLASS_EOS, &eos);
        set_end(tag, end);
        work.insert(work.end(), inner.rbegin(), inner.rend());
    }
}

void resolve_waiting()
{
    for (auto &wait : w->waiting) {
        auto found = w->tags.find(wait.second);
        if (found != w->tags.end() && wait.first < w->symbols.size())
            write32_le(w->symbols[wait.first].data(), found->second);
    }
    w->waiting.clear();
}

// --- the scope tree --------------------------------------------------------

void mark_written(const char *name)
{
    if (!name)
        return;
    if (model_symbol *s = (model_symbol *)hash_lookup(model.symbols_by_name, name))
        s->flags |= SYMF_WRITTEN;
}

// On the 12-bit cores a function is called through a stub: its code starts
// at "entry_" and its name.
void entry_rule(const sdb_entry *item, const char *file, resolved_address *at)
{
    if (w->chip.rom_width != 12 || !item->name)
        return;
    std::string name = std::string("entry_") + item->name;
    if (item->kind == SC_STATIC && file) {
        if (model_symbol *s = model_file_symbol(file, name.c_str()))
            at->value = s->value;
        return;
    }
    uint32_t value, segment;
    if (model_symbol_value(name.c_str(), &value, &segment))
        at->value = value;
}

void add_bit_variable(sdb_entry *item, uint32_t address)
{
    std::string name = item->kind == SC_STATIC && item->alias ? item->alias : strip(item->name);
    auto held = w->bits.find(address);
    if (held == w->bits.end()) {
        w->bits[address] = {name, item};
        return;
    }
    if (held->second.name != name && held->second.name.find(name + "/") != 0)
        held->second.name = name + "/" + held->second.name;
}

bool is_function_item(const sdb_entry *e) { return e->type && sdb_is_function(e->type); }

void emit_scope(sdb_entry *scope, std::vector<sdb_entry *> &path, const resolved_address *around,
                const char *file);

// "extern", "static", "auto", "reg" and "param" items.
void emit_variable(sdb_entry *item, std::vector<sdb_entry *> &path, const char *file)
{
    resolved_address at;
    if (!machine_resolve(item, path, &at))
        return;
    if (sdb_is_bit(item->type)) {
        add_bit_variable(item, at.value);
        mark_written(item->name);
        return;
    }
    bool global = item->kind == SC_EXTERN || item->kind == SC_STATIC;
    if (global && is_function_item(item))
        entry_rule(item, file, &at);
    emit_tags(item->type);
    entry aux;
    bool has_aux;
    uint32_t type = type_of(item->type, &aux, &has_aux);
    uint8_t sclass;
    if (item->kind == SC_EXTERN) {
        sclass = item->size || is_function_item(item) ? CLASS_EXT : CLASS_EXTDEF;
    } else if (item->kind == SC_STATIC) {
        sclass = CLASS_STAT;
    } else {
        type = float_rule(type, item->size);
        sclass = item->kind == SC_REG ? CLASS_REG : CLASS_STAT;
    }
    add_typed_entry(strip(item->name), at.value, section_of(at), type, sclass, aux, has_aux);
    resolve_waiting();
    // A frame variable's own symbol would come again as a label otherwise.
    mark_written(item->name);
    if (global)
        mark_written(item->alias);
}

void emit_block(sdb_entry *block, std::vector<sdb_entry *> &path, const resolved_address *around, const char *file)
{
    uint32_t value = around ? around->value : 0;
    int16_t section = around ? section_of(*around) : 0;
    entry open = lnno_aux(block->start_line);
    uint32_t bb = add_entry(".bb", value, section, 0, CLASS_BLOCK, &open);
    path.push_back(block);
    emit_scope(block, path, around, file);
    path.pop_back();
    entry close = lnno_aux(block->end_line);
    set_end(bb, add_entry(".eb", value, section, 0, CLASS_BLOCK, &close));
}

void emit_function(sdb_entry *block, std::vector<sdb_entry *> &path, const char *file)
{
    sdb_entry *fn = block->function;
    function_met met = {block, false, {0, 0}, 0, {}};
    if (fn) {
        met.located = machine_resolve(fn, path, &met.where);
        if (met.located)
            entry_rule(fn, file, &met.where);
    }
    if (fn && met.located && sdb_is_bit(fn->type)) {
        add_bit_variable(fn, met.where.value);
    } else if (fn && met.located) {
        emit_tags(fn->type);
        entry aux;
        bool has_aux;
        uint32_t type = float_rule(type_of(fn->type, &aux, &has_aux), fn->size);
        uint8_t sclass = fn->kind != SC_EXTERN                      ? CLASS_STAT
                         : fn->size || is_function_item(fn) ? CLASS_EXT
                                                            : CLASS_EXTDEF;
        bool empty_array = outer_derivation(type) == DT_ARY && has_aux && read16_le(aux.data() + 6) == 0;
        if (!empty_array)
            met.symbol_index = add_typed_entry(strip(fn->name), met.where.value, section_of(met.where), type, sclass,
                                               aux, has_aux);
        resolve_waiting();
        mark_written(fn->name);
        mark_written(fn->alias);
    }
    uint32_t value = met.located ? met.where.value : 0;
    int16_t section = met.located ? section_of(met.where) : 0;
    entry first = lnno_aux(block->start_line);
    uint32_t bf = add_entry(".bf", value, section, 0, CLASS_FCN, &first);
    path.push_back(block);
    for (sdb_entry *e : block->entries)
        if (e->kind == SC_PARAM)
            emit_variable(e, path, file);
    path.pop_back();
    emit_block(block, path, met.located ? &met.where : nullptr, file);
    uint32_t end_value = value;
    if (fn && fn->name) {
        uint32_t v, segment;
        if (model_symbol_value((std::string("__end_of") + fn->name).c_str(), &v, &segment))
            end_value = v - 1;
    }
    entry last = lnno_aux(block->end_line);
    set_end(bf, add_entry(".ef", end_value, section, 0, CLASS_FCN, &last));
    w->functions.push_back(std::move(met));
}

void open_file(const char *name)
{
    if (w->file_open) {
        size_t n = w->symbols.size();
        if (n >= 2 && w->symbols[n - 2][18] == CLASS_FILE) {
            // The file before got no symbols: its entry is taken back.
            w->symbols.resize(n - 2);
            for (uint32_t i = 0; i < vec_count(model.files); i++) {
                model_file *f = (model_file *)vec_get(model.files, i);
                if (f->writer_number == n - 2)
                    f->writer_number = 0;
            }
        } else {
            add_entry(".eof", 0, 0, 0, CLASS_EOF, nullptr);
        }
    }
    char *shown = path_substitute(name);
    entry aux = {};
    write32_le(aux.data(), string_offset(shown));
    free(shown);
    uint32_t index = add_entry(".file", 0, -2, 0, CLASS_FILE, &aux);
    if (model_file *f = model_find_file(name))
        f->writer_number = index;
    w->file_open = true;
}

void emit_scope(sdb_entry *scope, std::vector<sdb_entry *> &path, const resolved_address *around, const char *file)
{
    // A function's own record stands beside its block; it is written with
    // the block, ahead of ".bf", and not a second time on its own.
    std::vector<const sdb_entry *> led;
    for (const sdb_entry *e : scope->entries)
        if (e->kind == SC_FUNC && e->function)
            led.push_back(e->function);
    for (sdb_entry *e : scope->entries) {
        switch (e->kind) {
        case SC_EXTERN:
        case SC_STATIC:
            if (std::find(led.begin(), led.end(), e) == led.end())
                emit_variable(e, path, file);
            break;
        case SC_AUTO:
        case SC_REG: emit_variable(e, path, file); break;
        case SC_BLOCK: emit_block(e, path, around, file); break;
        case SC_FUNC: emit_function(e, path, e->source_file && *e->source_file ? e->source_file : file); break;
        case SC_FILENAME:
            open_file(e->name);
            file = e->name;
            break;
        default: break;
        }
    }
}

// --- bit variables ---------------------------------------------------------

void emit_bit_structures()
{
    uint32_t bits_per_word = 8 * w->chip.ram_bytes;
    uint32_t tag = 0, word = 0, next = 0, number = 0;
    bool open = false;
    auto close = [&]() {
        entry eos = {};
        write32_le(eos.data(), tag);
        write16_le(eos.data() + 6, (uint16_t)w->chip.ram_bytes);
        set_end(tag, add_entry(".eos", 0, -1, 0, CLASS_EOS, &eos));
        const char *prefix = settings.strip_underscore ? "" : "_";
        std::string name;
        model_symbol *s = word ? model_symbol_by_value(word) : nullptr;
        if (s && !is_program_class(s->segment))
            name = str_printf("%s%sbits", prefix, s->name);
        else
            name = str_printf("%sbitvars%u", prefix, number).substr(0, 31);
        entry aux = {};
        write32_le(aux.data(), tag);
        write16_le(aux.data() + 6, (uint16_t)w->chip.ram_bytes);
        add_entry(name, word, 1, T_STRUCT, CLASS_EXT, &aux);
    };
    for (const auto &[address, bit] : w->bits) {
        if (!open || address / bits_per_word != word) {
            if (open)
                close();
            open = true;
            number++;
            word = address / bits_per_word;
            entry aux = {};
            write16_le(aux.data() + 6, (uint16_t)w->chip.ram_bytes);
            tag = add_entry("", 0, -2, 0, CLASS_STRTAG, &aux);
            next = 0;
        }
        uint32_t position = address % bits_per_word;
        if (position > next) {
            entry pad = {};
            write16_le(pad.data() + 6, (uint16_t)(position - next));
            add_entry("-", next, -2, T_UCHAR, CLASS_FIELD, &pad);
        }
        entry one = {};
        write16_le(one.data() + 6, 1);
        add_entry(bit.name, position, -2, T_UCHAR, CLASS_FIELD, &one);
        next = position + 1;
    }
    if (open)
        close();
}

// --- line numbers ----------------------------------------------------------

void collect_function_lines()
{
    psect_bounds *jumps = w->chip.rom_width == 12 ? model_find_psect_bounds("jmp_tab") : nullptr;
    for (function_met &fn : w->functions) {
        uint32_t first = fn.block->start_line, last = fn.block->end_line;
        if (!first)
            continue;
        if (!last)
            last = first;
        model_file *f = fn.block->source_file ? model_find_file(fn.block->source_file) : nullptr;
        if (!f || !f->lines || strcmp(f->name, fn.block->source_file) != 0)
            continue;
        for (uint32_t i = 0; i < f->line_count; i++) {
            model_line *l = f->lines[i];
            if (!is_program_class(l->segment) || l->line < first || l->line > last)
                continue;
            // The high bound is the first address past the psect.
            if (jumps && jumps->low <= l->address && l->address < jumps->high)
                continue;
            fn.lines.push_back(l);
        }
    }
}

bool is_assembler_file(const model_file *f)
{
    size_t n = strlen(f->name);
    return n >= 3 && strcasecmp(f->name + n - 3, ".as") == 0 && f->line_count;
}

// Entries of one line record, an instruction address each, those that lie
// in section `s` (an address no block holds goes with `home`).
void put_line_entries(std::vector<uint8_t> &out, const model_line *l, uint32_t last, uint32_t s, int16_t home,
                      uint32_t file_index, uint32_t function_index, uint16_t *count)
{
    uint32_t step = machine_current->line_step ? machine_current->line_step : 1;
    for (uint64_t a = l->address; a <= last && *count < 0xFFFF; a += step) {
        int16_t holder = section_of({(uint32_t)a, l->segment});
        if (holder < (int16_t)w->first_code_section)
            holder = home;
        if (holder != (int16_t)s)
            continue;
        uint8_t e[LINE_ENTRY] = {};
        write32_le(e, file_index);
        write16_le(e + 4, (uint16_t)l->line);
        write32_le(e + 6, (uint32_t)a);
        write32_le(e + 12, function_index);
        out.insert(out.end(), e, e + LINE_ENTRY);
        ++*count;
    }
}

// Per code section: the lines of the functions met, then those of the
// assembler files. A function whose code spans two blocks has each entry in
// the section holding its address.
void write_line_numbers(std::vector<uint8_t> &out, const std::vector<model_file *> &assembler_files)
{
    if (!machine_current)
        return;
    uint32_t span = machine_current->line_span ? machine_current->line_span : 1;
    for (uint32_t s = w->first_code_section; s < w->first_code_section + w->blocks.size(); s++) {
        coff_section &c = w->sections[s - 1];
        uint32_t start = (uint32_t)out.size();
        uint16_t count = 0;
        for (const function_met &fn : w->functions) {
            if (!fn.located)
                continue;
            int16_t home = section_of(fn.where);
            model_file *f = model_find_file(fn.block->source_file);
            uint32_t file_index = f ? f->writer_number : 0;
            for (size_t i = 0; i < fn.lines.size(); i++) {
                const model_line *l = fn.lines[i];
                uint32_t last = i + 1 == fn.lines.size() ? l->address + span - 1 : l->end;
                put_line_entries(out, l, last, s, home, file_index, fn.symbol_index, &count);
            }
        }
        for (model_file *f : assembler_files)
            for (uint32_t i = 0; i < f->line_count; i++) {
                const model_line *l = f->lines[i];
                if (is_program_class(l->segment))
                    put_line_entries(out, l, l->end, s, 0, f->writer_number, 0, &count);
            }
        c.nlnno = count;
        c.lnnoptr = count ? start : 0;
    }
}

// --- the file --------------------------------------------------------------

uint32_t hex_token(const std::string &text)
{
    if (text.empty())
        return 0;
    char *end;
    unsigned long v = strtoul(text.c_str(), &end, 16);
    if (*end || v > 0xFFFFFFFFul || !isxdigit((unsigned char)text[0]))
        msg_report(1612, text.c_str());
    return (uint32_t)v;
}

// Widths from the -p core token (PIC12, PIC14, PIC16, PIC18), else from
// the chip name.
void chip_from_settings(chip_scales &chip)
{
    if (settings.processor.empty())
        msg_report(1611);
    const std::vector<std::string> &t = settings.processor_tokens;
    chip.processor_id = t.empty() ? 0 : hex_token(t[0]);
    std::string core = t.size() > 1 ? t[1] : "";
    if (core.size() > 4 && core.compare(0, 3, "PIC") == 0) {
        unsigned long bits = strtoul(core.c_str() + 3, nullptr, 10);
        if (bits == 12 || bits == 14 || bits == 16) {
            chip.rom_width = (uint32_t)bits;
            chip.rom_bytes = 2;
        } else if (bits == 18) {
            chip.rom_width = 8;
            chip.rom_bytes = 1;
        } else {
            msg_report(1613, core.c_str());
        }
    } else if (settings.processor.size() > 1 && settings.processor[1] == '8') {
        chip.rom_width = 8;
        chip.rom_bytes = 1;
    } else {
        chip.rom_width = 0;
        chip.rom_bytes = 2;
    }
    chip.ram_width = 8;
    chip.ram_bytes = 1;
}

void mcoff_write(FILE *out, const char *)
{
    if (settings.classes.empty())
        msg_report(1610);
    coff_writer state;
    w = &state;
    chip_from_settings(w->chip);
    settings.big_endian = false;
    // A chip named by -p chooses the machine even when no module brought
    // an SDB file (a program of assembly modules only).
    machine_init("");
    for (uint32_t i = 0; i < vec_count(model.files); i++)
        ((model_file *)vec_get(model.files, i))->writer_number = 0;

    build_sections();
    uint32_t offset = FILE_HEADER + OPT_HEADER + SECTION_HEADER * (uint32_t)w->sections.size();
    std::vector<uint8_t> body;   // everything after the section headers
    for (size_t j = 0; j < w->blocks.size(); j++) {
        coff_section &c = w->sections[w->first_code_section - 1 + j];
        c.scnptr = offset + (uint32_t)body.size();
        body.insert(body.end(), w->blocks[j]->bytes, w->blocks[j]->bytes + w->blocks[j]->length);
    }

    std::vector<sdb_entry *> path;
    if (sdb_global)
        for (sdb_entry *module : sdb_global->entries)
            if (module->kind == SC_MODULE) {
                path.assign(1, module);
                emit_scope(module, path, nullptr, nullptr);
            }
    emit_bit_structures();
    if (w->file_open)
        add_entry(".eof", 0, 0, 0, CLASS_EOF, nullptr);
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        model_file *f = (model_file *)vec_get(model.files, i);
        for (uint32_t k = 0; k < f->symbol_count && f->symbols; k++) {
            model_symbol *s = f->symbols[k];
            if (!(s->flags & (SYMF_LOCAL | SYMF_WRITTEN)))
                add_entry(strip(s->name), s->value, section_of({s->value, s->segment}), 0, CLASS_LABEL, nullptr);
        }
    }
    collect_function_lines();
    std::vector<model_file *> assembler_files;
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        model_file *f = (model_file *)vec_get(model.files, i);
        if (!is_assembler_file(f))
            continue;
        char *shown = path_substitute(f->name);
        entry aux = {};
        write32_le(aux.data(), string_offset(shown));
        free(shown);
        f->writer_number = add_entry(".file", 0, -2, 0, CLASS_FILE, &aux);
        add_entry(".eof", 0, 0, 0, CLASS_EOF, nullptr);
        assembler_files.push_back(f);
    }
    std::vector<uint8_t> lines;
    write_line_numbers(lines, assembler_files);
    for (coff_section &c : w->sections)
        if (c.nlnno)
            c.lnnoptr += offset + (uint32_t)body.size();
    body.insert(body.end(), lines.begin(), lines.end());
    uint32_t symptr = offset + (uint32_t)body.size();
    for (const entry &e : w->symbols)
        body.insert(body.end(), e.begin(), e.end());
    uint8_t size[4];
    write32_le(size, 4 + (uint32_t)w->strings.size());
    body.insert(body.end(), size, size + 4);
    body.insert(body.end(), w->strings.begin(), w->strings.end());

    std::vector<uint8_t> head(offset, 0);
    head[0] = 0x40;
    head[1] = 0x12;
    write16_le(&head[2], (uint16_t)w->sections.size());
    write32_le(&head[4], (uint32_t)time(nullptr));
    write32_le(&head[8], symptr);
    write32_le(&head[12], (uint32_t)w->symbols.size());
    write16_le(&head[16], OPT_HEADER);
    write16_le(&head[18], 2);
    write16_le(&head[20], OPT_MAGIC);
    write32_le(&head[22], OPT_VERSION);
    write32_le(&head[26], w->chip.processor_id);
    write32_le(&head[30], w->chip.rom_width);
    write32_le(&head[34], w->chip.ram_width);
    for (size_t k = 0; k < w->sections.size(); k++) {
        const coff_section &c = w->sections[k];
        uint8_t *h = &head[FILE_HEADER + OPT_HEADER + SECTION_HEADER * k];
        put_name(h, c.name);
        write32_le(h + 8, c.paddr);
        write32_le(h + 16, c.size);
        write32_le(h + 20, c.scnptr);
        write32_le(h + 28, c.lnnoptr);
        write16_le(h + 34, c.nlnno);
        write32_le(h + 36, c.flags);
    }
    fwrite(head.data(), 1, head.size(), out);
    fwrite(body.data(), 1, body.size(), out);
    w = nullptr;
}

// ===========================================================================
// reading and dumping
// ===========================================================================

// The whole input, checked piece by piece before use.
struct coff_image {
    std::vector<uint8_t> bytes;
    const char *name;
    uint16_t nscns = 0, opthdr = 0, flags = 0;
    uint32_t timdat = 0, symptr = 0, nsyms = 0;
    uint32_t string_size = 0;
    const uint8_t *string_table = nullptr;
    chip_scales chip;

    // A piece of `length` bytes at `offset`, or null when the file ends first.
    const uint8_t *at(uint64_t offset, uint64_t length) const
    {
        return offset + length <= bytes.size() ? bytes.data() + offset : nullptr;
    }
};

bool short_read(const coff_image &img, const char *what)
{
    msg_report(1614, what, img.name);
    return false;
}

void read_all(FILE *in, std::vector<uint8_t> &bytes)
{
    uint8_t chunk[16384];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, in)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
}

bool read_headers(FILE *in, coff_image &img, bool dumping)
{
    read_all(in, img.bytes);
    const uint8_t *h = img.at(0, FILE_HEADER);
    if (!h)
        return short_read(img, "COFF header");
    img.nscns = read16_le(h + 2);
    img.timdat = read32_le(h + 4);
    img.symptr = read32_le(h + 8);
    img.nsyms = read32_le(h + 12);
    img.opthdr = read16_le(h + 16);
    img.flags = read16_le(h + 18);
    if (dumping)
        return true;
    if (img.opthdr == OPT_HEADER) {
        const uint8_t *o = img.at(FILE_HEADER, OPT_HEADER);
        if (!o)
            return short_read(img, "Microchip optional header");
        img.chip.processor_id = read32_le(o + 6);
        img.chip.rom_width = read32_le(o + 10);
        img.chip.ram_width = read32_le(o + 14);
        if (img.chip.rom_width == 0 || img.chip.ram_width == 0)
            msg_report(1617, img.name);
    } else {
        msg_report(1616, img.name);
    }
    // An unknown program word width is the writer's assumption for a PIC:
    // two bytes a word.
    img.chip.rom_bytes = img.chip.rom_width ? (img.chip.rom_width + 7) / 8 : 2;
    img.chip.ram_bytes = img.chip.ram_width ? (img.chip.ram_width + 7) / 8 : 1;
    return true;
}

bool read_string_table(coff_image &img)
{
    uint64_t at = img.symptr + (uint64_t)SYMBOL_ENTRY * img.nsyms;
    const uint8_t *p = img.at(at, 4);
    if (!p)
        return short_read(img, "COFF string table size");
    img.string_size = read32_le(p);
    if (img.string_size <= 3) {
        msg_report(1615, img.name);
        return false;
    }
    img.string_table = img.at(at, img.string_size);
    if (!img.string_table)
        return short_read(img, "COFF string table");
    return true;
}

// A string of the table, or null for an offset outside it or a string
// without its terminator.
const char *table_string(const coff_image &img, uint32_t offset)
{
    if (offset < 4 || offset >= img.string_size)
        return nullptr;
    const char *s = (const char *)img.string_table + offset;
    return memchr(s, 0, img.string_size - offset) ? s : nullptr;
}

bool read_name(const coff_image &img, const uint8_t *field, std::string &name)
{
    if (read32_le(field) == 0 && read32_le(field + 4) != 0) {
        const char *s = table_string(img, read32_le(field + 4));
        if (!s)
            return short_read(img, "COFF string table");
        name = s;
    } else {
        name.assign((const char *)field, strnlen((const char *)field, 8));
    }
    return true;
}

bool mcoff_probe(FILE *in)
{
    uint8_t h[FILE_HEADER];
    if (fread(h, 1, sizeof h, in) != sizeof h || h[0] != 0x40 || h[1] != 0x12)
        return false;
    settings.big_endian = false;
    return read16_le(h + 2) <= 1000 && (int32_t)read32_le(h + 8) >= 0 && (int32_t)read32_le(h + 12) >= 0;
}

// The header of section k and its name; null (reported) when the file
// ends before it or the name is bad.
static const uint8_t *section_header(coff_image &img, uint32_t k, std::string &name)
{
    const uint8_t *h = img.at(FILE_HEADER + img.opthdr + (uint64_t)SECTION_HEADER * k, SECTION_HEADER);
    if (!h) {
        short_read(img, "COFF section header");
        return nullptr;
    }
    return read_name(img, h, name) ? h : nullptr;
}

struct read_section {
    uint32_t paddr, size, scnptr, lnnoptr, flags;
    uint16_t nlnno;
    uint32_t segment;   // model number
};

bool mcoff_read(FILE *in, const char *name)
{
    coff_image img;
    img.name = name;
    if (!read_headers(in, img, false) || !read_string_table(img))
        return false;

    // Sections: each a segment, in its own units.
    std::vector<read_section> sections;
    for (uint32_t k = 0; k < img.nscns; k++) {
        std::string section_name;
        const uint8_t *h = section_header(img, k, section_name);
        if (!h)
            return false;
        read_section s = {read32_le(h + 8), read32_le(h + 16), read32_le(h + 20), read32_le(h + 28),
                          read32_le(h + 36), read16_le(h + 34), 0};
        bool code = !(s.flags & SECT_BSS) && s.size;
        uint32_t size = code ? (s.size + img.chip.rom_bytes - 1) / img.chip.rom_bytes : s.size;
        uint32_t number = (uint32_t)vec_count(model.segments) + 1;
        s.segment = model_add_segment(section_name.c_str(), s.paddr, size, s.paddr, number);
        sections.push_back(s);
    }
    for (const read_section &s : sections) {
        if ((s.flags & SECT_BSS) || !s.size)
            continue;
        const uint8_t *data = img.at(s.scnptr, s.size);
        if (!data)
            return short_read(img, "COFF data");
        uint64_t address = (uint64_t)s.paddr * img.chip.rom_bytes;
        if (address + s.size > 0x100000000ull)
            return short_read(img, "COFF data");
        for (uint32_t done = 0; done < s.size;) {
            uint32_t n = std::min<uint32_t>(16384, s.size - done);
            model_add_data((uint32_t)address + done, n, data + done, s.segment);
            done += n;
        }
    }

    // Symbols: auxiliary entries are skipped, a file's name is in its
    // auxiliary entry, section numbers are the file's own.
    std::unordered_map<uint32_t, uint32_t> files;   // .file entry index -> model file
    uint32_t file = 0;
    for (uint32_t i = 0; i < img.nsyms; i++) {
        const uint8_t *e = img.at(img.symptr + (uint64_t)SYMBOL_ENTRY * i, SYMBOL_ENTRY);
        if (!e)
            return short_read(img, "COFF symbol table");
        uint8_t sclass = e[18], numaux = e[19];
        const uint8_t *aux = numaux ? img.at(img.symptr + (uint64_t)SYMBOL_ENTRY * (i + 1), SYMBOL_ENTRY) : nullptr;
        if (numaux && (!aux || (uint64_t)i + numaux >= img.nsyms))
            return short_read(img, "COFF symbol table");
        std::string symbol;
        if (!read_name(img, e, symbol))
            return false;
        switch (sclass) {
        case CLASS_EXT:
        case CLASS_STAT:
        case CLASS_LABEL: {
            int16_t scnum = (int16_t)read16_le(e + 12);
            uint32_t segment = 0;
            if (scnum > 0 && (uint32_t)scnum <= sections.size())
                segment = sections[scnum - 1].segment;
            else if (scnum > 0)
                msg_report(1622, (int)scnum, symbol.c_str(), name);
            model_add_symbol(symbol.c_str(), read32_le(e + 8), segment, file, 0);
            break;
        }
        case CLASS_FILE: {
            const char *s = aux ? table_string(img, read32_le(aux)) : nullptr;
            if (!s)
                return short_read(img, "COFF string table");
            file = model_add_file(s);
            files[i] = file;
            break;
        }
        case CLASS_EOF: file = 0; break;
        case 0: case 1: case 8: case 9: case 10: case 11: case 12: case 13: case 15: case 16: case 17: case 18:
        case 19: case 100: case 101: case 102: case 108: case 109: break;
        default: msg_report(1618, (int)sclass, name); break;
        }
        i += numaux;
    }

    // Line numbers: each entry's file by its .file entry's index.
    for (size_t k = 0; k < sections.size(); k++) {
        const read_section &s = sections[k];
        for (uint32_t n = 0; n < s.nlnno; n++) {
            const uint8_t *l = img.at(s.lnnoptr + (uint64_t)LINE_ENTRY * n, LINE_ENTRY);
            if (!l)
                return short_read(img, "COFF line number");
            uint16_t line = read16_le(l + 4);
            if (!line)
                continue;   // a function's start, not a line
            auto f = files.find(read32_le(l));
            model_add_line(line, read32_le(l + 6), s.segment, f == files.end() ? 0 : f->second, 0);
        }
    }
    return true;
}

// --- dump --------------------------------------------------------------------

std::string type_text(uint32_t type, const uint8_t *aux)
{
    std::string out;
    unsigned dimension = 0;
    for (uint32_t d = type >> 5; d; d >>= 3) {
        switch (d & 7) {
        case DT_PTR: out += "pointer to "; break;
        case DT_FCN:
            out += "function ";
            if (aux)
                out += str_printf("[lineptr %lX, endndx %ld] ", (unsigned long)read32_le(aux + 8),
                                  (long)(int32_t)read32_le(aux + 12));
            out += "returning ";
            break;
        case DT_ARY:
            out += "array ";
            if (aux && dimension < 4)
                out += str_printf("[%u] of ", read16_le(aux + 8 + 2 * dimension++));
            else
                out += "[] of ";
            break;
        default: break;
        }
    }
    uint32_t base = base_of(type);
    out += base < 19 ? type_names[base] : str_printf("type 0x%lX", (unsigned long)base);
    if (base >= T_STRUCT && base <= 10 && aux)
        out += str_printf(" [%lu]", (unsigned long)read32_le(aux));
    return out;
}

bool mcoff_dump(FILE *in)
{
    coff_image img;
    img.name = "input";
    if (!read_headers(in, img, true))
        return false;
    time_t when = img.timdat;
    printf("COFF header:\n\tMagic:\t\t0x%X\n\tSections:\t%u\n\tDated:\t\t%s\tSymptr:\t\t0x%lX\n\tNsyms:\t\t%ld\n"
           "\tOpthdr:\t\t%u\n\tFlags:\t\t0x%X",
           read16_le(img.bytes.data()), img.nscns, ctime(&when), (unsigned long)img.symptr, (long)img.nsyms,
           img.opthdr, img.flags);
    for (unsigned b = 0; b < 13; b++)
        if (img.flags >> b & 1)
            printf(" %s", coff_file_flag_names[b]);
    printf("\n\n");
    if (img.opthdr == OPT_HEADER) {
        if (const uint8_t *o = img.at(FILE_HEADER, OPT_HEADER)) {
            uint16_t magic = read16_le(o);
            printf("Optional header:\n\tMagic:\t\t0x%X", magic);
            if (magic >= 5000 && magic <= 5999)
                printf(" (Vormak Software)");
            printf("\n\tVersion:\t%ld\n\tProcessor:\t0x%lX\n\tROM width:\t%lu\n\tRAM width:\t%lu\n",
                   (long)read32_le(o + 2), (unsigned long)read32_le(o + 6), (unsigned long)read32_le(o + 10),
                   (unsigned long)read32_le(o + 14));
            if (read32_le(o + 2) != OPT_VERSION)
                msg_report(1620, OPT_VERSION);
        } else {
            short_read(img, "optional header");
        }
    } else if (img.opthdr) {
        msg_report(1619, "optional", OPT_HEADER);
    }
    if (!read_string_table(img))
        return false;
    std::vector<std::string> section_names;
    for (uint32_t k = 0; k < img.nscns; k++) {
        std::string section_name;
        const uint8_t *h = section_header(img, k, section_name);
        if (!h)
            return false;
        section_names.push_back(section_name);
        printf("Section %u: %s: @%lX", k, section_name.c_str(), (unsigned long)read32_le(h + 8));
        if (settings.verbose >= 2)
            printf(" scnptr 0x%lX relptr 0x%lX lnnoptr 0x%lX", (unsigned long)read32_le(h + 20),
                   (unsigned long)read32_le(h + 24), (unsigned long)read32_le(h + 28));
        uint32_t flags = read32_le(h + 36);
        printf(" size 0x%lX lines %u relocs %u flags 0x%lX", (unsigned long)read32_le(h + 16), read16_le(h + 34),
               read16_le(h + 32), (unsigned long)flags);
        if (settings.verbose >= 2) {
            bool first = true;
            for (int b = 16; b >= 0; b--)
                if (flags >> b & 1) {
                    printf(first ? " ( %s" : ", %s", coff_section_flag_names[b]);
                    first = false;
                }
            if (!first)
                printf(" )");
        }
        printf("\n");
    }
    printf("\nString table: %ld bytes, file offset 0x%lX\n", (long)img.string_size,
           (unsigned long)(img.symptr + SYMBOL_ENTRY * img.nsyms));
    if (settings.verbose >= 2)
        for (uint32_t at = 4; at < img.string_size;) {
            const char *s = table_string(img, at);
            if (!s)
                break;
            printf("%5u:\t%s\n", at, s);
            at += (uint32_t)strlen(s) + 1;
        }
    std::unordered_map<uint32_t, std::string> names;
    if (settings.verbose >= 1) {
        printf("Symbol table:\n");
        for (uint32_t i = 0; i < img.nsyms; i++) {
            const uint8_t *e = img.at(img.symptr + (uint64_t)SYMBOL_ENTRY * i, SYMBOL_ENTRY);
            if (!e)
                return short_read(img, "COFF symbol table");
            unsigned sclass = e[18], numaux = e[19];
            if ((uint64_t)i + numaux >= img.nsyms) {
                msg_report(1621);
                return false;
            }
            const uint8_t *aux = numaux ? img.at(img.symptr + (uint64_t)SYMBOL_ENTRY * (i + 1), SYMBOL_ENTRY) : nullptr;
            std::string symbol;
            if (!read_name(img, e, symbol))
                return false;
            uint32_t value = read32_le(e + 8), type = read32_le(e + 14);
            uint16_t scnum = read16_le(e + 12);
            uint32_t size = outer_derivation(type) == DT_PTR ? POINTER_SIZE
                            : base_of(type) < 19              ? type_sizes[base_of(type)]
                                                              : 0;
            uint32_t count = 1;
            if (aux && ((base_of(type) >= T_STRUCT && base_of(type) <= 10) || outer_derivation(type) == DT_ARY))
                size = read16_le(aux + 6);
            if (aux && outer_derivation(type) == DT_ARY) {
                uint32_t element = base_of(type) < 19 ? type_sizes[base_of(type)] : 0;
                count = element ? size / element : size;
            }
            const char *description = coff_class_description(sclass);
            std::string shown = description ? description : str_printf("??Unknown (%u)", sclass);
            printf("%5u:\t%24.24s %u %lu[%lu]\t", i, shown.c_str(), numaux, (unsigned long)size,
                   (unsigned long)count);
            std::string section = scnum == 0 || scnum > section_names.size() ? "(abs)" : section_names[scnum - 1];
            switch (sclass) {
            case 0:
            case 107: printf("%s", symbol.c_str()); break;
            case 1: case 4: case 8: case 9: case 11: case 13: case 16: case 17: case 19:
                printf("%s = %lX: %s", symbol.c_str(), (unsigned long)value, type_text(type, aux).c_str());
                break;
            case 2: case 3: case 6: case 127:
                printf("%s = %lX: %s %s", symbol.c_str(), (unsigned long)value, section.c_str(),
                       type_text(type, aux).c_str());
                break;
            case 10: case 12: case 15: case 102:
                printf("%s", symbol.c_str());
                if (aux)
                    printf(": tag %lu, size %u, index %lu", (unsigned long)read32_le(aux), read16_le(aux + 6),
                           (unsigned long)read32_le(aux + 12));
                break;
            case 18:
                printf("%s = %lX", symbol.c_str(), (unsigned long)value);
                if (aux)
                    printf(": size %u", read16_le(aux + 6));
                break;
            case 100:
            case 101:
                printf("%s = %lX: %s", symbol.c_str(), (unsigned long)value, section.c_str());
                if (aux)
                    printf(": line %u, index %lu", read16_le(aux + 4), (unsigned long)read32_le(aux + 12));
                break;
            case 103:
                if (aux) {
                    const char *s = table_string(img, read32_le(aux));
                    symbol = s ? s : "??";
                    printf("%s [%u]", symbol.c_str(), read16_le(aux + 4));
                }
                break;
            case 108:
                printf("%s: %lX", symbol == ".list" ? "ON" : symbol == ".nolist" ? "OFF" : symbol.c_str(),
                       (unsigned long)value);
                break;
            case 109:
                printf("%s = %lX", symbol.c_str(), (unsigned long)value);
                if (aux)
                    printf(": size %lX, relocs %d, lines %d", (unsigned long)read32_le(aux), read16_le(aux + 4),
                           read16_le(aux + 6));
                break;
            default: break;
            }
            printf("\n");
            names[i] = symbol;
            i += numaux;
        }
    }
    if (settings.verbose >= 1)
        for (uint32_t k = 0; k < img.nscns; k++) {
            const uint8_t *h = img.at(FILE_HEADER + img.opthdr + (uint64_t)SECTION_HEADER * k, SECTION_HEADER);
            uint16_t n = read16_le(h + 34);
            if (!n)
                continue;
            uint32_t lnnoptr = read32_le(h + 28);
            printf("Section %u line numbers: %u, file offset 0x%lX\n", k, n, (unsigned long)lnnoptr);
            for (uint32_t j = 0; j < n; j++) {
                const uint8_t *l = img.at(lnnoptr + (uint64_t)LINE_ENTRY * j, LINE_ENTRY);
                if (!l)
                    return short_read(img, "COFF line number");
                if (read16_le(l + 4))
                    printf("%5.5u:\tsrcndx: %lu, paddr: 0x%lX, flags 0x%X, fcnndx: %lu\n", read16_le(l + 4),
                           (unsigned long)read32_le(l), (unsigned long)read32_le(l + 6), read16_le(l + 10),
                           (unsigned long)read32_le(l + 12));
                else {
                    auto found = names.find(read32_le(l + 6));
                    printf("Symbol: %s (%lu)\n", found == names.end() ? "??" : found->second.c_str(),
                           (unsigned long)read32_le(l + 6));
                }
            }
        }
    return true;
}

} // namespace

const char *const coff_file_flag_names[13] = {"Stripped", "Executable", "No lines", "No locals", "0x10", "0x20", "0x40",
                                         "16 bit little endian", "32 bit little endian", "32 bit big endian",
                                         "0x400", "0x800", "New style syms"};
const char *const coff_section_flag_names[17] = {"dummy", "noload", "group", "padding", "group end", "text",
                                            "data", "bss", "romdata", "0x200", "0x400", "0x800", "absolute",
                                            "shared", "overlaid", "access bank", "activation record"};

const char *coff_class_description(unsigned c)
{
    static const std::map<unsigned, const char *> names = {
        {255, "physical end of function"}, {0, "null class"}, {1, "automatic variable"}, {2, "external symbol"},
        {3, "static"}, {4, "register variable"}, {5, "external definition"}, {6, "label"},
        {7, "undefined label"}, {8, "member of structure"}, {9, "function argument"}, {10, "structure tag"},
        {11, "member of union"}, {12, "union tag"}, {13, "type definition"}, {14, "undefined static"},
        {15, "enumeration tag"}, {16, "member of enumeration"}, {17, "register parameter"}, {18, "bit field"},
        {19, "auto argument"}, {20, "dummy entry (end of block)"}, {100, ".bb or .eb"}, {101, ".bf or .ef"},
        {102, "end of structure"}, {103, "file name"}, {104, "line # reformatted as symbol table entry"},
        {105, "duplicate tag"}, {106, "ext symbol in dmert public lib"}, {107, "end of file"},
        {108, "absolute listing toggle"}, {109, "section"}, {127, "weak symbol (GNU)"},
    };
    auto found = names.find(c);
    return found == names.end() ? nullptr : found->second;
}


// probe, read, write, dump, name, key, extension, binary
const format_desc mcoff_format = {mcoff_probe, mcoff_read, mcoff_write, mcoff_dump,
                                  "Microchip COFF", "mcoff", "cof", true};
