// The .COD module (key "cod"): the block-structured debug file that PIC
// simulators and debuggers load, written from the model, read back into it
// and listed.
//
// The file is a run of 512-byte blocks. Block 0 is the directory: the code
// index (the block holding each 512-byte page of the program image), a few
// texts (source, date, time, compiler, notice, processor) and the first and
// last block of every table: the memory map (four used address ranges a
// block), the line table (84 six-byte records a block), the file names
// (eight 64-byte slots a block), the short symbols and the locals (32
// sixteen-byte entries a block) and the long symbols (packed, never
// straddling a block). Every 16-bit field is little-endian; the only 32-bit
// one (a long symbol's value) is big-endian.
//
// One directory indexes 64K bytes of program image. A program with bytes
// above that gets one more directory per 64K range that holds any, chained
// from the first through the next-directory field, each carrying its range
// number (the high address), its own code index, memory map and the line
// records of its addresses.
//
// Line addresses are in program address units (words on a 12-bit or 14-bit
// PIC), the code index and the memory map in bytes.
//
// The whole file is built in memory and written in one go.
#include "egret.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <unordered_set>

namespace {

const uint32_t BLOCK = 512;
const uint32_t INDEX_PAGES = 128;           // code index entries of a directory
const uint32_t RANGE = INDEX_PAGES * BLOCK; // program bytes one directory indexes
const uint32_t LINE_RECORD = 6, LINES_PER_BLOCK = 84;
const uint32_t NAME_SLOT = 64, NAMES_PER_BLOCK = 8, MAX_NAME = 62;
const uint32_t SYMBOL_ENTRY = 16, SYMBOLS_PER_BLOCK = 32, SHORT_NAME = 12;
const uint32_t MEMMAP_RANGES = 4;
// A line record's file index is one byte.
const uint32_t MAX_FILES = 256;
const uint32_t MAX_LINE = 0xFFFF;

// Directory fields.
enum {
    DIR_SOURCE = 256, DIR_DATE = 320, DIR_TIME = 328, DIR_VERSION = 330, DIR_COMPILER = 350, DIR_NOTICE = 362,
    DIR_SYMTAB = 426, DIR_NAMTAB = 430, DIR_LSTTAB = 434, DIR_ADDRSIZE = 438, DIR_HIGHADDR = 439,
    DIR_NEXTDIR = 441, DIR_MEMMAP = 443, DIR_LOCALS = 447, DIR_CODTYP = 451, DIR_PROCESSOR = 453,
    DIR_LSYMTAB = 462, DIR_MESSTAB = 466,
};

// Line record flags.
enum { LINE_FILE = 0xFF, LINE_NO_CODE = 0x90, LINE_FIRST = 0x80, LINE_MORE = 0x00 };

// Type codes the writer produces.
enum {
    TC_NONE = 0, TC_BYTE = 0x02, TC_INT = 0x03, TC_UBYTE = 0x04, TC_UINT = 0x05, TC_POINTER = 0x06,
    TC_BYTE_ARRAY = 0x0C, TC_UBYTE_ARRAY = 0x0D, TC_WORD_ARRAY = 0x0E, TC_UWORD_ARRAY = 0x0F,
    TC_FUNCTION = 0x10, TC_FUNCTION_POINTER = 0x1F, TC_VOID = 0x43, TC_STRUCT = 0x4D, TC_UNKNOWN = 0x8B,
    TC_BIT = 0x91, TC_UINT32 = 0x9F, TC_SINT32 = 0xA0, TC_FLOAT = 0xA3, TC_FLOAT24 = 0xA6, TC_FLOAT32 = 0xA7,
};

const char *const type_names[184] = {
    "a_reg", "x_reg", "c_byte", "c_int", "c_ubyte", "c_uint", "c_pointer", "c_upointer", "table", "m_byte",
    "m_boolean", "m_index", "byte_array", "u_byte_array", "word_array", "u_word_array", "func_void_none",
    "func_void_byte", "func_void_twobyte", "func_void_long", "func_void_undef", "func_int_none",
    "func_int_byte", "func_int_twobyte", "func_int_long", "func_int_undef", "func_long_none", "func_long_byte",
    "func_long_twobyte", "func_long_long", "func_long_undef", "pfun_void_none", "pfun_void_byte",
    "pfun_void_twobyte", "pfun_void_long", "pfun_void_undef", "pfun_int_none", "pfun_int_byte",
    "pfun_int_twobyte", "pfun_int_long", "pfun_int_undef", "pfun_long_none", "pfun_long_byte",
    "pfun_long_twobyte", "pfun_long_long", "pfun_long_undef", "address", "constant", "bad_und", "br_und",
    "upper_und", "byte_und", "add_und", "m_keyword", "add_mi_und", "vector", "port_w", "port_r", "port_rw",
    "port_rmw", "endif", "exundef", "macro_t", "macro_s", "macro_a", "macro_c", "c_keyword", "c_void", "c_enum",
    "c_typedef1", "c_utypedef1", "c_typedef2", "c_utypedef2", "cp_typedef1", "cp_utypedef1", "cp_typedef2",
    "cp_utypedef2", "c_struct", "i_struct", "l_const", "s_short", "s_ushort", "s_long", "s_ulong", "sa_short",
    "sa_ushort", "sa_long", "sa_ulong", "sp_short", "sp_ushort", "sp_long", "sp_ulong", "FixedPointer",
    "PointerFunction", "cc_reg", "PtrF_void_none", "PtrF_void_byte", "PtrF_void_twobyte", "PtrF_void_long",
    "PtrF_void_undef", "PtrF_int_none", "PtrF_int_byte", "PtrF_int_twobyte", "PtrF_int_long", "PtrF_int_undef",
    "PtrF_long_none", "PtrF_long_byte", "PtrF_long_twobyte", "PtrF_long_long", "PtrF_long_undef",
    "PfAR_void_none", "PfAR_void_byte", "PfAR_void_twobyte", "PfAR_void_long", "PfAR_void_undef",
    "PfAR_int_none", "PfAR_int_byte", "PfAR_int_twobyte", "PfAR_int_long", "PfAR_int_undef", "PfAR_long_none",
    "PfAR_long_byte", "PfAR_long_twobyte", "PfAR_long_long", "PfAR_long_undef", "FWDlit", "PFunc", "mgoto",
    "mcgoto", "mcgoto2", "mcgoto3", "mcgoto4", "mcgoto74", "mcgoto17", "mccall17", "mcall", "mc_call",
    "res_word", "local", "unknown", "varlabel", "c_extern", "c_global", "segment", "Bankaddr", "bit_0", "bit_1",
    "bit_2", "bit_3", "bit_4", "bit_5", "bit_6", "bit_7", "debug", "Name_ID", "User_ID", "size_of", "uint24",
    "sint24", "uint32", "sint32", "fixed1616", "fixed168", "float", "ConstantFloat", "f_list", "float24",
    "float32", "s_sint24", "s_uint24", "p_sint24", "p_uint24", "s_sint32", "s_uint32", "p_sint32", "p_uint32",
    "s_fixed168", "p_fixed168", "s_fixed1616", "p_fixed1616", "s_float", "p_float", "s_float24", "p_float24",
};
static_assert(TC_BIT == 145 && TC_UNKNOWN == 139 && TC_STRUCT == 77, "codes index the name table");

using block_t = std::array<uint8_t, BLOCK>;

// A counted string: length byte, then at most `room` characters.
void put_counted(uint8_t *at, const std::string &text, size_t room)
{
    size_t n = std::min(text.size(), room);
    at[0] = (uint8_t)n;
    memcpy(at + 1, text.data(), n);
}

std::string get_counted(const uint8_t *at, size_t room)
{
    return std::string((const char *)at + 1, std::min<size_t>(at[0], room));
}

std::string strip(const char *name)
{
    if (!name)
        return "";
    return settings.strip_underscore && name[0] == '_' ? name + 1 : name;
}

// ===========================================================================
// type codes
// ===========================================================================

// The code of each entry of a chain from the base outwards, each looking at
// the one before it; a qualifier passes the code of what it qualifies on.
uint8_t type_code(const type_chain *chain)
{
    if (!chain)
        return TC_NONE;
    uint8_t code = TC_NONE;
    bool fake = settings.fake_locals;
    for (const type_entry &e : chain->entries) {
        uint8_t inner = code;
        switch (e.kind) {
        case TK_BASIC:
            if (fake) {
                code = TC_UNKNOWN;
                break;
            }
            switch (e.value) {
            case 0: code = TC_VOID; break;
            case 1: code = e.extra == 1 ? TC_BYTE : e.extra == 2 ? TC_INT : e.extra == 4 ? TC_SINT32 : TC_NONE; break;
            case 2:
                code = e.extra == 1 ? TC_UBYTE : e.extra == 2 ? TC_UINT : e.extra == 4 ? TC_UINT32 : TC_NONE;
                break;
            case 3: code = e.extra == 3 ? TC_FLOAT24 : e.extra == 4 ? TC_FLOAT32 : TC_FLOAT; break;
            case 4: code = TC_BIT; break;
            default: code = TC_NONE; break;
            }
            break;
        case TK_FUNCTION: code = TC_FUNCTION; break;
        case TK_POINTER: code = inner == TC_FUNCTION ? TC_FUNCTION_POINTER : TC_POINTER; break;
        case TK_ENUM: code = fake ? TC_UNKNOWN : TC_NONE; break;
        case TK_STRUCT: code = fake ? TC_UNKNOWN : TC_STRUCT; break;
        case TK_ARRAY:
            code = fake                     ? TC_UNKNOWN
                   : inner == TC_INT   ? TC_WORD_ARRAY
                   : inner == TC_UBYTE ? TC_UBYTE_ARRAY
                   : inner == TC_UINT  ? TC_UWORD_ARRAY
                                       : TC_BYTE_ARRAY;
            break;
        case TK_QUALIFIER: break;
        default: code = TC_NONE; break;
        }
    }
    return code;
}

// An item's code and value: a bit variable's bit address becomes a byte
// address and the bit number goes into its code.
void item_code(const sdb_entry *item, uint32_t value, uint8_t *code, uint32_t *out)
{
    *code = type_code(item->type);
    *out = value;
    if (*code == TC_BIT) {
        *code = (uint8_t)(TC_BIT + (value & 7));
        *out = value / 8;
    }
}

// ===========================================================================
// writer
// ===========================================================================

// The directory of one 64K range of program bytes.
struct directory {
    uint32_t block = 0;                        // its block number
    std::array<uint16_t, INDEX_PAGES> index{};  // code blocks
    std::vector<std::pair<uint16_t, uint16_t>> memmap;
    std::vector<std::array<uint8_t, LINE_RECORD>> lines;
    uint16_t memmap_first = 0, memmap_last = 0, lines_first = 0, lines_last = 0;
};

// An entry of the list that measures how many addresses each line covers.
struct sort_entry {
    bool symbol;
    uint32_t key;
    model_line *line;
    uint32_t count;
};

// An item of a local block with its resolved value.
struct local_item {
    sdb_entry *entry;
    uint32_t value;
};

struct local_block {
    uint32_t start, end;
    std::vector<local_item> items;
};

struct cod_writer {
    std::vector<block_t> blocks;                  // block 0 the first directory
    std::map<uint32_t, directory> directories;    // by 64K range
    std::vector<std::string> names;               // Namtab
    std::map<uint32_t, uint32_t> name_of_file;    // model file number -> name index
    std::vector<std::pair<uint32_t, uint32_t>> code_units;   // program units holding bytes [from, to)
    std::vector<local_item> externs;
    std::vector<local_block> locals;
    std::unordered_set<const model_symbol *> taken;          // written as extern items
    uint32_t bytes_per_word = 1;
};

cod_writer *w;

uint32_t new_block()
{
    w->blocks.push_back({});
    return (uint32_t)w->blocks.size() - 1;
}

// Blocks of fixed-size records: `per_block` records of `size` bytes each.
void put_records(const std::vector<std::vector<uint8_t>> &records, uint32_t size, uint32_t per_block,
                 uint16_t *first, uint16_t *last)
{
    *first = *last = 0;
    for (size_t i = 0; i < records.size(); i++) {
        if (i % per_block == 0) {
            uint32_t b = new_block();
            if (!*first)
                *first = (uint16_t)b;
            *last = (uint16_t)b;
        }
        memcpy(w->blocks.back().data() + (i % per_block) * size, records[i].data(), std::min<size_t>(size, records[i].size()));
    }
}

bool is_program_segment(uint32_t number)
{
    model_segment *s = model_segment_at_number(number);
    return s && model_in_program_class(s);
}

// --- memory map and code -------------------------------------------------

void write_code()
{
    // Pages of the image, merged where data blocks share one.
    std::map<uint64_t, block_t> pages;
    for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
        const data_block *b = (const data_block *)vec_get(model.blocks, i);
        for (uint32_t k = 0; k < b->length;) {
            uint64_t at = (uint64_t)b->address + k;
            uint32_t offset = (uint32_t)(at % BLOCK);
            uint32_t n = std::min(BLOCK - offset, b->length - k);
            memcpy(pages[at / BLOCK].data() + offset, b->bytes + k, n);
            k += n;
        }
        if (b->length) {
            uint64_t end = (uint64_t)b->address + b->length;
            w->code_units.push_back({b->address / w->bytes_per_word,
                                     (uint32_t)std::min<uint64_t>((end + w->bytes_per_word - 1) / w->bytes_per_word,
                                                                  0xFFFFFFFFu)});
        }
    }
    std::sort(w->code_units.begin(), w->code_units.end());

    // The used ranges of each directory, cut at its 64K bytes.
    for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
        const data_block *b = (const data_block *)vec_get(model.blocks, i);
        for (uint64_t at = b->address, end = (uint64_t)b->address + b->length; at < end;) {
            uint64_t stop = std::min<uint64_t>(end, (at / RANGE + 1) * RANGE);
            w->directories[(uint32_t)(at / RANGE)].memmap.push_back({(uint16_t)at, (uint16_t)(stop - 1)});
            at = stop;
        }
    }
    for (const auto &[page, bytes] : pages)
        w->directories[(uint32_t)(page / INDEX_PAGES)];
    // Directories after the first come next, as the chain runs.
    for (auto &[range, dir] : w->directories)
        dir.block = range == 0 ? 0 : new_block();

    for (auto &[range, dir] : w->directories) {
        std::vector<std::vector<uint8_t>> ranges;
        for (const auto &r : dir.memmap) {
            std::vector<uint8_t> rec(4);
            write16_le(rec.data(), r.first);
            write16_le(rec.data() + 2, r.second);
            ranges.push_back(rec);
        }
        put_records(ranges, 4, MEMMAP_RANGES, &dir.memmap_first, &dir.memmap_last);
    }
    for (const auto &[page, bytes] : pages) {
        uint32_t b = new_block();
        w->blocks[b] = bytes;
        w->directories[(uint32_t)(page / INDEX_PAGES)].index[page % INDEX_PAGES] = (uint16_t)b;
    }
}

// --- line table --------------------------------------------------------------

// True when the image holds bytes at program address `a` (or holds none at
// all, when only lines and symbols were read).
bool holds_code(uint32_t a)
{
    if (w->code_units.empty())
        return true;
    auto it = std::upper_bound(w->code_units.begin(), w->code_units.end(), std::make_pair(a, UINT32_MAX));
    return it != w->code_units.begin() && a < std::prev(it)->second;
}

void add_line_record(uint32_t file_index, uint8_t flags, uint32_t line, uint32_t address)
{
    std::array<uint8_t, LINE_RECORD> r{};
    r[0] = (uint8_t)file_index;
    r[1] = flags;
    write16_le(&r[2], (uint16_t)line);
    write16_le(&r[4], (uint16_t)address);
    w->directories[address >> 16].lines.push_back(r);
}

// The name index of a model file, given at its first use; null past the
// 256 names a one-byte index can tell apart.
bool name_index(const model_file *f, uint32_t *index)
{
    auto found = w->name_of_file.find(f->number);
    if (found != w->name_of_file.end()) {
        *index = found->second;
        return found->second < MAX_FILES;
    }
    *index = (uint32_t)w->name_of_file.size();
    w->name_of_file[f->number] = *index;
    if (*index >= MAX_FILES) {
        msg_report(1630, MAX_FILES, f->name);
        return false;
    }
    char *shown = path_substitute(f->name);
    w->names.push_back(shown);
    free(shown);
    return true;
}

void write_lines()
{
    std::vector<sort_entry> list;
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        model_file *f = (model_file *)vec_get(model.files, i);
        for (uint32_t k = 0; f->lines && k < f->line_count; k++)
            list.push_back({false, f->lines[k]->address, f->lines[k], 0});
        for (uint32_t k = 0; f->symbols && k < f->symbol_count; k++)
            list.push_back({true, f->symbols[k]->value, nullptr, 0});
    }
    std::stable_sort(list.begin(), list.end(), [](const sort_entry &a, const sort_entry &b) {
        if (a.key != b.key)
            return a.key < b.key;
        if (a.symbol != b.symbol)
            return !a.symbol;
        return !a.symbol && a.line->line < b.line->line;
    });
    // A line runs to the next line or symbol: a symbol further on starts
    // code of its own (a routine without lines), but a label at the line's
    // own address does not end it. Of lines sharing an address all but the
    // last get one address.
    for (size_t i = 0; i < list.size(); i++) {
        size_t j = i + 1;
        while (j < list.size() && list[j].symbol && list[j].key == list[i].key)
            j++;
        list[i].count = j < list.size() ? list[j].key - list[i].key : 0;
    }
    std::vector<sort_entry> lines;
    for (const sort_entry &e : list)
        if (!e.symbol)
            lines.push_back(e);
    std::stable_sort(lines.begin(), lines.end(), [](const sort_entry &a, const sort_entry &b) {
        if (a.line->file != b.line->file)
            return a.line->file < b.line->file;
        return a.line->line < b.line->line;
    });

    uint32_t current = 0, last = 0, index = 0;
    bool usable = false;
    for (const sort_entry &e : lines) {
        const model_line *l = e.line;
        model_file *f = model_file_at(l->file);
        if (!f)
            continue;
        if (l->file != current) {
            current = l->file;
            last = 0;
            usable = name_index(f, &index);
            if (usable)
                add_line_record(index, LINE_FILE, 0, 0);
        }
        if (!usable)
            continue;
        if (l->line > MAX_LINE) {
            msg_report(1631, (unsigned)l->line, f->name, MAX_LINE);
            continue;
        }
        for (uint32_t n = last + 1; n < l->line; n++)
            add_line_record(index, LINE_NO_CODE, n, 0);
        last = std::max(last, l->line);
        if (!is_program_segment(l->segment))
            continue;
        // A line covers the addresses up to the next line or symbol, but
        // never past its own end nor past the code the image holds.
        uint64_t count = std::max<uint32_t>(e.count, 1);
        if (l->end >= l->address)
            count = std::min<uint64_t>(count, (uint64_t)l->end - l->address + 1);
        for (uint64_t k = 0; k < count && (k == 0 || holds_code((uint32_t)(l->address + k))); k++)
            add_line_record(index, k ? LINE_MORE : LINE_FIRST, l->line, (uint32_t)(l->address + k));
    }

    for (auto &[range, dir] : w->directories)
        if (range && !dir.block)
            dir.block = new_block();   // lines above 64K units with no code of their own range
    for (auto &[range, dir] : w->directories) {
        std::vector<std::vector<uint8_t>> records;
        for (const auto &r : dir.lines)
            records.emplace_back(r.begin(), r.end());
        put_records(records, LINE_RECORD, LINES_PER_BLOCK, &dir.lines_first, &dir.lines_last);
    }
}

// --- the SDB tree --------------------------------------------------------

// The address of source line n of a file: its own line's, or the one
// before the next line's when it has none.
uint32_t line_address(const model_file *f, uint32_t n)
{
    if (!f->lines || !f->line_count || n < f->lines[0]->line)
        return 0;
    // The first line of the greatest number not above n.
    uint32_t lo = 0, hi = f->line_count;   // lines[lo..hi) hold numbers <= n at the front
    while (hi - lo > 1) {
        uint32_t mid = lo + (hi - lo) / 2;
        if (f->lines[mid]->line <= n)
            lo = mid;
        else
            hi = mid;
    }
    uint32_t number = f->lines[lo]->line;
    while (lo > 0 && f->lines[lo - 1]->line == number)
        lo--;
    if (number == n)
        return f->lines[lo]->address;
    uint32_t next = lo;
    while (next < f->line_count && f->lines[next]->line == number)
        next++;
    return next < f->line_count ? f->lines[next]->address - 1 : f->lines[lo]->address + 1;
}

void collect_scope(sdb_entry *scope, std::vector<sdb_entry *> &path)
{
    local_block block = {0, 0, {}};
    model_file *f = scope->source_file ? model_find_file(scope->source_file) : nullptr;
    if (f) {
        block.start = line_address(f, scope->start_line);
        block.end = line_address(f, scope->end_line);
    }
    resolved_address at;
    if (scope->kind == SC_FUNC && scope->function && machine_resolve(scope->function, path, &at))
        block.items.push_back({scope->function, at.value});
    for (sdb_entry *e : scope->entries) {
        switch (e->kind) {
        case SC_EXTERN:
            if (machine_resolve(e, path, &at)) {
                w->externs.push_back({e, at.value});
                if (e->name)
                    if (model_symbol *s = (model_symbol *)hash_lookup(model.symbols_by_name, e->name))
                        w->taken.insert(s);
            }
            break;
        case SC_STATIC:
        case SC_AUTO:
        case SC_PARAM:
        case SC_REG:
            if (machine_resolve(e, path, &at))
                block.items.push_back({e, at.value});
            break;
        default: break;
        }
    }
    bool keep = !block.items.empty() && block.start != 0;
    if (settings.fake_locals)
        keep &= scope->kind == SC_FUNC && scope->function && block.items.size() > 1 &&
                block.items[0].entry == scope->function;
    if (keep)
        w->locals.push_back(block);
    for (sdb_entry *e : scope->entries)
        if (e->kind == SC_FUNC || e->kind == SC_MODULE || e->kind == SC_BLOCK) {
            path.push_back(e);
            collect_scope(e, path);
            path.pop_back();
        }
}

// --- symbol tables -----------------------------------------------------------

std::vector<uint8_t> short_entry(const std::string &name, uint8_t code, uint32_t value)
{
    std::vector<uint8_t> e(SYMBOL_ENTRY);
    put_counted(e.data(), name, SHORT_NAME);
    e[13] = code;
    write16_le(e.data() + 14, (uint16_t)value);
    return e;
}

// Long entries packed into blocks, none straddling two.
void put_long_entries(const std::vector<std::vector<uint8_t>> &entries, uint16_t *first, uint16_t *last)
{
    *first = *last = 0;
    uint32_t used = BLOCK;
    for (const std::vector<uint8_t> &e : entries) {
        if (used + e.size() > BLOCK) {
            uint32_t b = new_block();
            if (!*first)
                *first = (uint16_t)b;
            *last = (uint16_t)b;
            used = 0;
        }
        memcpy(w->blocks.back().data() + used, e.data(), e.size());
        used += (uint32_t)e.size();
    }
}

std::vector<uint8_t> long_entry(const std::string &name, uint16_t code, uint32_t value)
{
    size_t n = std::min<size_t>(name.size(), 255);
    std::vector<uint8_t> e(n + 7);
    e[0] = (uint8_t)n;
    memcpy(e.data() + 1, name.data(), n);
    write16_le(e.data() + 1 + n, code);
    write32_be(e.data() + 3 + n, value);
    return e;
}

uint8_t symbol_code(const model_symbol *s)
{
    if (!s->segment)
        return TC_UNKNOWN;
    return is_program_segment(s->segment) ? TC_FUNCTION : TC_BYTE;
}

// --- the directory -----------------------------------------------------------

std::string processor_name()
{
    std::string name = settings.processor;
    if (name.empty() && machine_current)
        name = machine_current->name;
    for (char &c : name)
        c = (char)tolower((unsigned char)c);
    return name;
}

void put_pair(uint8_t *at, uint16_t first, uint16_t last)
{
    write16_le(at, first);
    write16_le(at + 2, last);
}

void cod_write(FILE *out, const char *name)
{
    if (settings.classes.empty())
        settings.classes = {"CODE", "ENTRY"};
    cod_writer state;
    w = &state;
    w->bytes_per_word = model_bytes_per_word();
    // A chip named by -p chooses the machine even when no SDB file was read.
    machine_init("");
    new_block();   // the first directory

    write_code();
    write_lines();

    std::vector<sdb_entry *> path;
    if (sdb_global)
        for (sdb_entry *module : sdb_global->entries)
            if (module->kind == SC_MODULE) {
                path.assign(1, module);
                collect_scope(module, path);
            }
    std::vector<const model_symbol *> globals;
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        model_file *f = (model_file *)vec_get(model.files, i);
        for (uint32_t k = 0; f->symbols && k < f->symbol_count; k++) {
            const model_symbol *s = f->symbols[k];
            if (!w->taken.count(s) && (!(s->flags & SYMF_LOCAL) || settings.strip_underscore))
                globals.push_back(s);
        }
    }

    uint16_t namtab_first, namtab_last, symtab_first, symtab_last, lsymtab_first, lsymtab_last;
    uint16_t locals_first = 0, locals_last = 0;
    {
        std::vector<std::vector<uint8_t>> slots;
        for (const std::string &n : w->names) {
            std::vector<uint8_t> slot(NAME_SLOT);
            put_counted(slot.data(), n, MAX_NAME);
            slots.push_back(slot);
        }
        put_records(slots, NAME_SLOT, NAMES_PER_BLOCK, &namtab_first, &namtab_last);
    }
    std::vector<std::vector<uint8_t>> shorts, longs;
    for (const local_item &x : w->externs) {
        uint8_t code;
        uint32_t value;
        item_code(x.entry, x.value, &code, &value);
        shorts.push_back(short_entry(strip(x.entry->name), code, value));
        longs.push_back(long_entry(strip(x.entry->name), code, value));
    }
    if (settings.fake_locals)
        for (const local_block &b : w->locals)
            for (size_t i = 1; i < b.items.size(); i++) {
                uint8_t code;
                uint32_t value;
                item_code(b.items[i].entry, b.items[i].value, &code, &value);
                std::string joined = strip(b.items[0].entry->name).substr(0, 126) + "." + strip(b.items[i].entry->name);
                longs.push_back(long_entry(joined, code, value));
            }
    for (const model_symbol *s : globals) {
        shorts.push_back(short_entry(strip(s->name), symbol_code(s), s->value));
        longs.push_back(long_entry(strip(s->name), symbol_code(s), s->value));
    }
    put_records(shorts, SYMBOL_ENTRY, SYMBOLS_PER_BLOCK, &symtab_first, &symtab_last);
    put_long_entries(longs, &lsymtab_first, &lsymtab_last);
    if (!settings.fake_locals) {
        std::vector<std::vector<uint8_t>> entries;
        for (const local_block &b : w->locals) {
            std::vector<uint8_t> head(SYMBOL_ENTRY);
            put_counted(head.data(), "__LOCAL", 7);
            write16_le(head.data() + 8, (uint16_t)(b.start * 2));
            write16_le(head.data() + 12, (uint16_t)(b.end * 2));
            entries.push_back(head);
            for (const local_item &x : b.items) {
                uint8_t code;
                uint32_t value;
                item_code(x.entry, x.value, &code, &value);
                entries.push_back(short_entry(strip(x.entry->name), code, value));
            }
        }
        put_records(entries, SYMBOL_ENTRY, SYMBOLS_PER_BLOCK, &locals_first, &locals_last);
    }

    // The first directory: texts and tables; every directory: its range,
    // its code index, memory map and lines, and the next one's block.
    block_t &dir = w->blocks[0];   // every block is allocated by now
    time_t now = time(nullptr);
    struct tm *t = localtime(&now);
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    put_counted(&dir[DIR_SOURCE], name, 63);
    put_counted(&dir[DIR_DATE], str_printf("%2d%s%02d", t->tm_mday, months[t->tm_mon], t->tm_year % 100), 7);
    write16_le(&dir[DIR_TIME], (uint16_t)(t->tm_hour * 100 + t->tm_min));
    put_counted(&dir[DIR_COMPILER], "Vormak", 11);
    put_counted(&dir[DIR_NOTICE], "Zeph debug file, made by egret", 63);
    put_pair(&dir[DIR_SYMTAB], symtab_first, symtab_last);
    put_pair(&dir[DIR_NAMTAB], namtab_first, namtab_last);
    put_pair(&dir[DIR_LOCALS], locals_first, locals_last);
    put_counted(&dir[DIR_PROCESSOR], processor_name(), 8);
    put_pair(&dir[DIR_LSYMTAB], lsymtab_first, lsymtab_last);
    w->directories[0];
    for (auto it = w->directories.begin(); it != w->directories.end(); ++it) {
        block_t &d = w->blocks[it->second.block];
        for (uint32_t k = 0; k < INDEX_PAGES; k++)
            write16_le(&d[2 * k], it->second.index[k]);
        put_pair(&d[DIR_LSTTAB], it->second.lines_first, it->second.lines_last);
        put_pair(&d[DIR_MEMMAP], it->second.memmap_first, it->second.memmap_last);
        write16_le(&d[DIR_HIGHADDR], (uint16_t)it->first);
        write16_le(&d[DIR_CODTYP], 1);
        auto next = std::next(it);
        write16_le(&d[DIR_NEXTDIR], next == w->directories.end() ? 0 : (uint16_t)next->second.block);
    }
    if (w->blocks.size() > 0xFFFF)
        msg_report(1632, name);

    for (const block_t &b : w->blocks)
        fwrite(b.data(), 1, BLOCK, out);
    w = nullptr;
}

// ===========================================================================
// reading and listing
// ===========================================================================

// The whole input, each block checked before use.
struct cod_image {
    std::vector<uint8_t> bytes;
    const char *name;

    const uint8_t *block(uint32_t n) const
    {
        return ((uint64_t)n + 1) * BLOCK <= bytes.size() ? bytes.data() + (uint64_t)n * BLOCK : nullptr;
    }
};

void read_all(FILE *in, std::vector<uint8_t> &bytes)
{
    uint8_t chunk[16384];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, in)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
}

bool cod_probe(FILE *in)
{
    uint8_t dir[BLOCK];
    if (fread(dir, 1, BLOCK, in) != BLOCK)
        return false;
    const uint8_t *date = dir + DIR_DATE;
    return date[0] <= 7 && date[0] >= 4 && isdigit(date[2]) && isalpha(date[3]) && isalpha(date[4]);
}

// A table's blocks, first to last: none when first is 0; a table whose
// blocks run backwards or past the file is refused.
bool table_blocks(const cod_image &img, const uint8_t *dir, unsigned field, const char *table, uint32_t *first,
                  uint32_t *last)
{
    *first = read16_le(dir + field);
    *last = read16_le(dir + field + 2);
    if (*first == 0)
        return true;
    if (*last < *first || !img.block(*last)) {
        msg_report(1633, table, img.name, *first, *last);
        return false;
    }
    return true;
}

// The directories in chain order with their range numbers; a chain that
// runs past the file or comes back on itself is refused.
bool directory_chain(const cod_image &img, std::vector<const uint8_t *> &dirs)
{
    std::set<uint32_t> seen_blocks, seen_ranges;
    for (uint32_t b = 0;;) {
        const uint8_t *d = img.block(b);
        if (!d) {
            msg_report(1614, b ? "COD directory block" : "COD directory block 0", img.name);
            return false;
        }
        if (!seen_blocks.insert(b).second || !seen_ranges.insert(read16_le(d + DIR_HIGHADDR)).second) {
            msg_report(1634, img.name, b);
            return false;
        }
        dirs.push_back(d);
        b = read16_le(d + DIR_NEXTDIR);
        if (!b)
            return true;
    }
}

uint32_t class_segment(const char *name)
{
    if (uint32_t n = model_segment_number(name))
        return n;
    uint32_t n = (uint32_t)vec_count(model.segments) + 1;
    return model_add_segment(name, 0, 0, 0, n);
}

bool read_code(const cod_image &img, const std::vector<const uint8_t *> &dirs, uint32_t segment)
{
    for (const uint8_t *d : dirs) {
        uint64_t base = (uint64_t)read16_le(d + DIR_HIGHADDR) * RANGE;
        // The used byte ranges, when the memory map gives them.
        std::vector<std::pair<uint64_t, uint64_t>> used;
        uint32_t first, last;
        if (!table_blocks(img, d, DIR_MEMMAP, "memory map", &first, &last))
            return false;
        for (uint32_t b = first; first && b <= last; b++)
            for (uint32_t r = 0; r < MEMMAP_RANGES; r++) {
                const uint8_t *m = img.block(b) + 4 * r;
                uint32_t from = read16_le(m), to = read16_le(m + 2);
                if (from == 0 && to == 0 && (r || b != first))
                    continue;   // an empty slot
                if (to < from) {
                    msg_report(1635, img.name, b, from, to);
                    return false;
                }
                used.push_back({base + from, base + to + 1});
            }
        for (uint32_t k = 0; k < INDEX_PAGES; k++) {
            uint32_t b = read16_le(d + 2 * k);
            if (!b)
                continue;
            const uint8_t *page = img.block(b);
            if (!page) {
                msg_report(1636, b, img.name, (unsigned long)(base + k * BLOCK));
                return false;
            }
            uint64_t at = base + (uint64_t)k * BLOCK;
            if (first == 0) {
                model_add_data((uint32_t)at, BLOCK, page, segment);
                continue;
            }
            for (const auto &u : used) {
                uint64_t from = std::max(u.first, at), to = std::min(u.second, at + BLOCK);
                if (from < to)
                    model_add_data((uint32_t)from, (uint32_t)(to - from), page + (from - at), segment);
            }
        }
    }
    return true;
}

bool read_names(const cod_image &img, const uint8_t *dir, std::vector<uint32_t> &files)
{
    uint32_t first, last;
    if (!table_blocks(img, dir, DIR_NAMTAB, "file name table", &first, &last))
        return false;
    for (uint32_t b = first; first && b <= last; b++)
        for (uint32_t s = 0; s < NAMES_PER_BLOCK; s++) {
            const uint8_t *slot = img.block(b) + s * NAME_SLOT;
            if (slot[0] > NAME_SLOT - 1) {
                msg_report(1637, "file name", img.name, b);
                return false;
            }
            if (slot[0])
                files.push_back(model_add_file(get_counted(slot, NAME_SLOT - 1).c_str()));
        }
    return true;
}

bool read_lines(const cod_image &img, const std::vector<const uint8_t *> &dirs, const std::vector<uint32_t> &files,
                uint32_t segment)
{
    for (const uint8_t *d : dirs) {
        uint32_t high = (uint32_t)read16_le(d + DIR_HIGHADDR) << 16;
        uint32_t first, last;
        if (!table_blocks(img, d, DIR_LSTTAB, "line table", &first, &last))
            return false;
        for (uint32_t b = first; first && b <= last; b++)
            for (uint32_t k = 0; k < LINES_PER_BLOCK; k++) {
                const uint8_t *r = img.block(b) + k * LINE_RECORD;
                if (!std::any_of(r, r + LINE_RECORD, [](uint8_t c) { return c != 0; }))
                    continue;   // an unused record at the end of the table
                if (r[0] >= files.size()) {
                    msg_report(1638, img.name, b, r[0]);
                    return false;
                }
                if (r[1] != LINE_FIRST)
                    continue;   // file records, lines without code, further addresses
                model_add_line(read16_le(r + 2), high | read16_le(r + 4), segment, files[r[0]], 0);
            }
    }
    return true;
}

// Symbols: the long table when there is one (whole names, 32-bit values),
// else the short one. Code symbols go in the code segment, others in a
// data segment, those of no segment (0x8B) absolute.
bool read_symbols(const cod_image &img, const uint8_t *dir, uint32_t code_segment)
{
    uint32_t file = model_add_file(img.name);
    uint32_t data_segment = 0;
    auto add = [&](const std::string &name, unsigned code, uint32_t value) {
        if (name.empty())
            return;
        uint32_t segment = 0, flags = 0;
        if (code == TC_FUNCTION) {
            segment = code_segment;
        } else if (code == TC_UNKNOWN) {
            flags = SYMF_ABSOLUTE;
        } else {
            if (!data_segment)
                data_segment = class_segment("DATA");
            segment = data_segment;
            if (code >= TC_BIT && code <= TC_BIT + 7)
                value = value * 8 + (code - TC_BIT);
        }
        model_add_symbol(name.c_str(), value, segment, file, flags);
    };
    uint32_t first, last;
    if (!table_blocks(img, dir, DIR_LSYMTAB, "long symbol table", &first, &last))
        return false;
    if (first) {
        for (uint32_t b = first; b <= last; b++) {
            const uint8_t *p = img.block(b);
            for (uint32_t at = 0; at < BLOCK && p[at];) {
                uint32_t n = p[at];
                if (at + n + 7 > BLOCK) {
                    msg_report(1637, "long symbol", img.name, b);
                    return false;
                }
                add(std::string((const char *)p + at + 1, n), read16_le(p + at + 1 + n), read32_be(p + at + 3 + n));
                at += n + 7;
            }
        }
        return true;
    }
    if (!table_blocks(img, dir, DIR_SYMTAB, "symbol table", &first, &last))
        return false;
    for (uint32_t b = first; first && b <= last; b++)
        for (uint32_t k = 0; k < SYMBOLS_PER_BLOCK; k++) {
            const uint8_t *e = img.block(b) + k * SYMBOL_ENTRY;
            if (e[0] > SHORT_NAME) {
                msg_report(1637, "symbol", img.name, b);
                return false;
            }
            add(get_counted(e, SHORT_NAME), e[13], read16_le(e + 14));
        }
    return true;
}

bool cod_read(FILE *in, const char *name)
{
    cod_image img;
    img.name = name;
    read_all(in, img.bytes);
    std::vector<const uint8_t *> dirs;
    if (!directory_chain(img, dirs))
        return false;
    uint32_t code = class_segment("CODE");
    std::vector<uint32_t> files;
    return read_code(img, dirs, code) && read_names(img, dirs[0], files) &&
           read_lines(img, dirs, files, code) && read_symbols(img, dirs[0], code);
}

// --- dump --------------------------------------------------------------------

// The blocks of a table, each handed to `each`; a block the file does not
// hold is fatal.
template <typename F>
void each_block(const cod_image &img, const uint8_t *dir, unsigned field, F each)
{
    uint32_t first = read16_le(dir + field), last = read16_le(dir + field + 2);
    for (uint32_t b = first; first && b <= last; b++) {
        const uint8_t *p = img.block(b);
        if (!p)
            msg_report(619);
        each(b, p);
    }
}

void dump_symbol(const uint8_t *e, bool locals)
{
    std::string name = get_counted(e, SHORT_NAME);
    if (name.empty())
        return;
    if (locals && name == "__LOCAL") {
        printf("Block: 0x%lX-0x%lX\n", (unsigned long)read16_le(e + 8), (unsigned long)read16_le(e + 12));
        return;
    }
    unsigned code = e[13];
    printf("\t%-14.12s", name.c_str());
    int width = 2;
    if (code >= 1 && code <= 183) {
        printf(" (%s)", type_names[code]);
        width = (int)std::min<size_t>(strlen(type_names[code]), 20);
    } else {
        printf(" (%2.2X)", code);
    }
    printf("%*s%5.4X\n", 20 - width, "", read16_le(e + 14));
}

bool cod_dump(FILE *in)
{
    cod_image img;
    img.name = "input";
    read_all(in, img.bytes);
    const uint8_t *dir = img.block(0);
    if (!dir) {
        msg_report(1037, "directory block");
        return false;
    }
    printf("Source:\t%s\n", get_counted(dir + DIR_SOURCE, 63).c_str());
    printf("Date:\t%s\t", get_counted(dir + DIR_DATE, 7).c_str());
    unsigned when = read16_le(dir + DIR_TIME);
    printf("Time:\t%2.2d:%2.2d\n", when / 100, when % 100);
    printf("Version:%s\t", get_counted(dir + DIR_VERSION, 19).c_str());
    printf("Compiler: %s\n", get_counted(dir + DIR_COMPILER, 11).c_str());
    printf("Notice:\t%s\n", get_counted(dir + DIR_NOTICE, 63).c_str());
    auto pair = [&](unsigned field) { return std::make_pair((int)read16_le(dir + field), (int)read16_le(dir + field + 2)); };
    printf("Symtab:\t%d/%d; Namtab: %d/%d; Lsttab: %d/%d\n", pair(DIR_SYMTAB).first, pair(DIR_SYMTAB).second,
           pair(DIR_NAMTAB).first, pair(DIR_NAMTAB).second, pair(DIR_LSTTAB).first, pair(DIR_LSTTAB).second);
    printf("Addr:\t%d, highaddr %X\n", dir[DIR_ADDRSIZE], read16_le(dir + DIR_HIGHADDR));
    printf("Memmap:\t%d/%d; Locals: %d/%d; Lsymtab %d/%d; Messtab %d/%d\n", pair(DIR_MEMMAP).first,
           pair(DIR_MEMMAP).second, pair(DIR_LOCALS).first, pair(DIR_LOCALS).second, pair(DIR_LSYMTAB).first,
           pair(DIR_LSYMTAB).second, pair(DIR_MESSTAB).first, pair(DIR_MESSTAB).second);
    printf("Codtyp:\t%d; Processor %s\n", read16_le(dir + DIR_CODTYP), get_counted(dir + DIR_PROCESSOR, 8).c_str());

    // Every directory of the chain: its code index (and, for the others
    // than the first, its range).
    std::vector<const uint8_t *> dirs;
    {
        std::set<uint32_t> seen = {0};
        dirs.push_back(dir);
        for (uint32_t b = read16_le(dir + DIR_NEXTDIR); b; b = read16_le(dirs.back() + DIR_NEXTDIR)) {
            if (!seen.insert(b).second) {
                msg_report(1634, img.name, b);
                return false;
            }
            if (!img.block(b)) {
                msg_report(1037, "directory block");
                return false;
            }
            dirs.push_back(img.block(b));
            printf("Directory block %u: highaddr %X\n", b, read16_le(img.block(b) + DIR_HIGHADDR));
        }
    }
    for (const uint8_t *d : dirs) {
        uint64_t base = (uint64_t)read16_le(d + DIR_HIGHADDR) * RANGE;
        for (uint32_t k = 0; k < INDEX_PAGES; k++) {
            uint32_t b = read16_le(d + 2 * k);
            if (!b)
                continue;
            printf("Code: 0%lXh at block %u\n", (unsigned long)(base + k * BLOCK), b);
            if (settings.verbose > 0) {
                const uint8_t *p = img.block(b);
                if (!p)
                    msg_report(618);
                hex_dump(stdout, (uint32_t)(base + k * BLOCK), 16, p, BLOCK, "%4.4lX:", true);
            }
        }
    }

    printf("Symbols:\n");
    for (unsigned field : {DIR_SYMTAB, DIR_LOCALS}) {
        if (field == DIR_LOCALS)
            printf("Locals:\n");
        each_block(img, dir, field, [&](uint32_t, const uint8_t *p) {
            for (uint32_t k = 0; k < SYMBOLS_PER_BLOCK; k++)
                dump_symbol(p + k * SYMBOL_ENTRY, field == DIR_LOCALS);
        });
    }
    printf("Files:\n");
    std::vector<std::string> names;
    each_block(img, dir, DIR_NAMTAB, [&](uint32_t, const uint8_t *p) {
        for (uint32_t s = 0; s < NAMES_PER_BLOCK; s++) {
            std::string n = get_counted(p + s * NAME_SLOT, NAME_SLOT - 1);
            if (n.empty())
                continue;
            printf("\t%-63.64s\n", n.c_str());
            names.push_back(n);
        }
    });
    printf("Line numbers:\n");
    for (const uint8_t *d : dirs)
        each_block(img, d, DIR_LSTTAB, [&](uint32_t b, const uint8_t *p) {
            printf("Line number block %u\n", b);
            for (uint32_t k = 0; k < LINES_PER_BLOCK; k++) {
                const uint8_t *r = p + k * LINE_RECORD;
                if (!std::any_of(r, r + LINE_RECORD, [](uint8_t c) { return c != 0; }))
                    continue;   // an unused record at the end of the table
                if (r[0] >= names.size())
                    msg_report(620);
                printf("\t%5d %2.2X %4.4X %.32s\n", read16_le(r + 2), r[1], read16_le(r + 4), names[r[0]].c_str());
            }
        });
    return true;
}

} // namespace

// probe, read, write, dump, name, key, extension, binary
const format_desc cod_format = {cod_probe, cod_read, cod_write, cod_dump, ".COD", "cod", "cod", true};
