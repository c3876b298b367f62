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

// Names of the well-known symbols, in the order of enum well_known.
static const char *const well_known_names[WK_COUNT] = {
    "__Htext", "__Hdata", "__Hbss", "__Ldata", "__Hstack", "__Bstack", "__Bdata", "__H_TEXT", "__Bbss",
    "__Ltext", "__Lbss", "__Btext", "large_code", "large_data", "is386", "atxsegadr_", "__L_TEXT", "__B_TEXT",
};

const unsigned FINCH_MAX_BODY = 512;      // longest body finch accepts
const unsigned MAX_SEGMENTS = 128;

[[noreturn]] static void fatal_exit()
{
    tool_exit(1);
    exit(1);
}

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

// Items {offset, type, name}: each must be absolute and inside the 16-bit
// space that relocation could reach.
static void read_reloc(const obj_record &r, uint32_t text_address)
{
    obj_cursor c = cur_of(r);
    while (!cur_at_end(c)) {
        uint16_t offset = cur_u16(c);
        uint8_t type = cur_u8(c);
        cur_name(c);
        if (c.bad)
            bad_body();
        if ((uint64_t)text_address + offset > 0xFFFE) {
            msg_report(418);
            fatal_exit();
        }
        if (type != 2) {
            msg_report(419);
            fatal_exit();
        }
    }
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
        if (extended)
            continue;
        if (symbols)
            fprintf(symbols, "%04lx %s\n", (unsigned long)e.value, e.name);
        if (opt.motorola_symbols)
            *motorola += str_printf("SA %s %lX 0 -17 1 1\n", e.name, (unsigned long)e.value);
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
        bool code = strcmp(e.name, "_TEXT") == 0 || (e.name[0] && strcmp(e.name + 1, "text") == 0);
        segment_table.push_back({e.length, e.load, e.selector, e.link, code});
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
