// Reading the linked object file: records up to the END record. TEXT records
// fill the image; IDENT gives the byte order of every multi-byte field that
// follows; START and SEGSTART give the addresses the end records carry;
// SYM records feed the symbol file and the symbol lines of -MA; SEGMENT
// records fill the segment table when -g asks for it. A linked file holds
// no relocation left to do: a RELOC item that is not absolute is refused.
#include "finch.h"

#include <cstring>

#include "common.h"

finch_symbols syms;
std::vector<finch_segment> segment_table;
std::vector<uint32_t> reloc_items;
std::vector<uint16_t> reloc_segments;
uint32_t reloc_place;
bool reloc_place_found;
std::vector<table_symbol> table_symbols;
std::vector<table_symbol> ubrof_symbols;
std::vector<xsym_entry> xsym_symbols;

const unsigned MAX_RELOC_ITEMS = 0xFFFF;

// Names of the well-known symbols, in the order of enum well_known.
static const char *const well_known_names[WK_COUNT] = {
    "__Htext", "__Hdata", "__Hbss", "__Ldata", "__Hstack", "__Bstack", "__Bdata", "__H_TEXT", "__Bbss",
    "__Ltext", "__Lbss", "__Btext", "large_code", "large_data", "is386", "atxsegadr_", "__L_TEXT", "__B_TEXT",
};

const unsigned FINCH_MAX_BODY = 512;      // longest body finch accepts
const unsigned MAX_SEGMENTS = 128;

// A body that does not hold what its type promises.
[[noreturn]] static void bad_body()
{
    msg_report(425);
    fatal_exit();
}

static void read_text(const obj_record &r, uint32_t *text_address)
{
    obj_text t;
    if (!decode_text(cur_of(r), &t))
        bad_body();
    image_store(t.offset, t.data, t.data_length);
    *text_address = t.offset;
}

static bool is_68000_form()
{
    return opt.format == FMT_M68K || opt.format == FMT_CPM68K;
}

// The segment word of an 8086 fixup, by the psect its item refers to.
static uint16_t dos8_segment_word(const char *psect)
{
    static const struct {
        const char *name;
        uint16_t word;
    } words[] = {{"text", 1}, {"_TEXT", 1}, {"ltext", 1}, {"data", 2}, {"bss", 2}};
    for (const auto &w : words)
        if (strcmp(psect, w.name) == 0)
            return w.word;
    return 0;
}

// One item to relocate: into its segment's list when it lies in one, else
// into the relocation table of -L/-R.
static void reloc_collect(uint32_t address, uint16_t segment_word)
{
    for (finch_segment &s : segment_table)
        if (address >= s.address && address - s.address < s.length) {
            s.relocs.push_back(address - s.address);
            return;
        }
    if (!opt.relocatable)
        return;
    if (reloc_items.size() >= MAX_RELOC_ITEMS) {
        msg_report(420);
        fatal_exit();
    }
    reloc_items.push_back(address);
    if (opt.format == FMT_DOS8 && opt.long_reloc)
        reloc_segments.push_back(segment_word);
}

// Items {offset, type, name}, relative to the last TEXT record. A linked
// file keeps only absolute items (type 2, 0x82 for long ones); the 68000
// forms relocate the items of type 4 and pass over the others.
static void read_reloc(const obj_record &r, uint32_t text_address)
{
    obj_cursor c = cur_of(r);
    while (!cur_at_end(c)) {
        uint16_t offset = cur_u16(c);
        uint8_t type = cur_u8(c);
        const char *psect = cur_name(c);
        if (c.bad)
            bad_body();
        if (!opt.long_reloc && (uint64_t)text_address + offset > 0xFFFE) {
            msg_report(418);
            fatal_exit();
        }
        if (is_68000_form()) {
            if (type != 4)
                continue;
        } else if (type != (opt.long_reloc ? 0x82 : 2)) {
            msg_report(419);
            fatal_exit();
        }
        reloc_collect(text_address + offset, psect ? dos8_segment_word(psect) : 0);
    }
}

// The -P symbol type by the symbol's psect.
static uint16_t table_symbol_type(const char *psect)
{
    if (strcmp(psect, "text") == 0)
        return 0xA200;
    if (strcmp(psect, "bss") == 0)
        return 0xA100;
    if (strcmp(psect, "data") == 0)
        return 0xA400;
    return 0;
}

static void read_symbols(const obj_record &r, bool extended, FILE *symbols, std::string *motorola)
{
    obj_cursor c = cur_of(r);
    while (!cur_at_end(c)) {
        obj_sym_entry e;
        if (!decode_sym_entry(c, extended, &e))
            bad_body();
        for (unsigned k = 0; k < WK_COUNT; k++)
            if (strcmp(e.name, well_known_names[k]) == 0)
                syms.known[k] = e.value;
        if (opt.relocatable && opt.reloc_symbol == e.name) {
            reloc_place = e.value;
            reloc_place_found = true;
        }
        if (extended) {
            if (opt.format == FMT_XCOFF)
                xsym_symbols.push_back({e.value, e.flags, e.selector, e.name});
            continue;
        }
        if (symbols)
            fprintf(symbols, "%04lx %s\n", (unsigned long)e.value, e.name);
        if (opt.motorola_symbols)
            *motorola += str_printf("SA %s %lX 0 -17 1 1\n", e.name, (unsigned long)e.value);
        if (opt.symbol_table)
            table_symbols.push_back({e.value, table_symbol_type(e.psect), e.name, e.psect});
        if (opt.format == FMT_UBROF)
            ubrof_symbols.push_back({e.value, 0, e.name, e.psect});
    }
}

static void read_ident(const obj_record &r)
{
    obj_ident id;
    bool valid;
    if (!decode_ident(r.body, r.length, &id, &valid) || !valid)
        bad_body();
    obj_order = id.order;
    syms.machine = id.machine;
}

// Segments whose name is "_TEXT", "text" or ends in "text" after its first
// character hold code.
static void read_segments(const obj_record &r)
{
    obj_cursor c = cur_of(r);
    while (!cur_at_end(c)) {
        obj_segment_entry e;
        if (!decode_segment_entry(c, &e))
            bad_body();
        if (segment_table.size() >= MAX_SEGMENTS) {
            msg_report(421);
            fatal_exit();
        }
        bool code = strcmp(e.name, "_TEXT") == 0 || strcmp(e.name, "text") == 0 ||
                    (e.name[0] && strcmp(e.name + 1, "text") == 0);
        uint16_t flags = 0x8000;
        if (code)
            flags |= 8;
        if (strcmp(e.name, "stack") == 0)
            flags |= 16;
        if (opt.format == FMT_XCOFF && opt.target[0] == '3')
            flags |= 0x40;
        segment_table.push_back({e.length, e.load, e.selector, e.link, code, {}, e.name, flags});
    }
}

static uint32_t read_u32(const obj_record &r)
{
    obj_cursor c = cur_of(r);
    uint32_t v = cur_u32(c);
    if (c.bad)
        bad_body();
    return v;
}

// Reads one record; stops the run when the file is not a sound object file.
static void read_record(FILE *in, obj_record *r)
{
    obj_status st = obj_read_header(in, r);
    if (st == OBJ_IO_ERROR) {
        msg_report(414, opt.input.c_str());
        fatal_exit();
    }
    if (st != OBJ_OK) {
        msg_report(422);
        fatal_exit();
    }
    if (!obj_type_valid(r->type)) {
        msg_report(423);
        fatal_exit();
    }
    if (r->length > FINCH_MAX_BODY) {
        msg_report(424);
        fatal_exit();
    }
    st = obj_read_body(in, r, FINCH_MAX_BODY);
    if (st != OBJ_OK) {
        msg_report(425);
        fatal_exit();
    }
}

void object_read(FILE *in, FILE *symbols, std::string *motorola)
{
    static obj_record r;
    uint32_t text_address = 0;
    syms.start = 0xFFFFFFFF;
    obj_order = order_little;
    for (;;) {
        read_record(in, &r);
        switch (r.type) {
        case REC_TEXT: read_text(r, &text_address); break;
        case REC_RELOC: read_reloc(r, text_address); break;
        case REC_SYM: read_symbols(r, false, symbols, motorola); break;
        case REC_START:
            syms.start = read_u32(r);
            syms.start_set = true;
            break;
        case REC_END: return;
        case REC_IDENT: read_ident(r); break;
        case REC_SEGMENT:
            if (opt.segments)
                read_segments(r);
            break;
        case REC_XSYM:
            if (opt.segments)
                read_symbols(r, true, symbols, motorola);
            break;
        case REC_SEGSTART: syms.segment_start = read_u32(r); break;
        default: break;
        }
    }
}
