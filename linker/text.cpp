// TEXT, START and SEGSTART records, and the closing records of the output.
//
// Pass 1 only measures each TEXT record: the furthest byte it reaches in its
// psect becomes the module's pending contribution. Pass 2 keeps the current
// TEXT record in a buffer, lets the following RELOC record patch it, and
// writes it out at its final address, as a TEXT record or into a binary
// image. Two marks split the data into the part already written and the part
// ready to be written, so RELOC entries kept in the output can count their
// offsets from the TEXT record written just before them.
#include "heron.h"

#include <algorithm>
#include <cstring>

static obj_record text_rec;     // body of the current TEXT record
static bool text_current;       // a TEXT record is held
static const char *text_psect;  // its psect name (inside text_rec)
static uint8_t *text_data;      // its first data byte
static unsigned text_length;    // data bytes
static unsigned text_start;     // first byte not yet written
static unsigned text_end;       // end of the bytes ready to be written
static uint32_t text_addr;      // address of the byte at text_start
static bool start_seen;         // a START or SEGSTART was written
uint32_t link_location;         // link address of the current data's first byte

uint32_t psect_base(const symbol *P)
{
    if (P->psect && is_psect(P))
        return P->psect->ps->link + P->ps->link;
    return P->ps->link;
}

static uint32_t psect_load_base(const symbol *P)
{
    if (P->psect && is_psect(P))
        return P->psect->ps->load + P->ps->link;
    return P->ps->load;
}

// Reads the TEXT record in `rec` into the text buffer and measures it.
// Returns the psect, null for a malformed record.
static symbol *text_read()
{
    text_rec = rec;
    obj_cursor c = cur_open(text_rec.body, text_rec.length);
    uint32_t offset = cur_u32(c);
    const char *name = cur_name(c);
    if (c.bad) {
        size_t n = text_rec.length > 4 ? strnlen((const char *)text_rec.body + 4, text_rec.length - 4) : 0;
        msg_report_once(516, (int)text_rec.length, 4, (int)n);
        return nullptr;
    }
    text_psect = name;
    text_data = text_rec.body + cur_offset(c, text_rec.body);
    text_length = cur_left(c);
    symbol *P = sym_enter(name, OBJ_PSECT | OBJ_GLOBAL);
    uint32_t end = addr_add(offset, text_length, name);
    if (P->flags & OBJ_ABSOLUTE)
        end -= std::min(end, P->ps->link);
    P->ps->pending = std::max(P->ps->pending, end);
    return P;
}

void text_size()
{
    text_read();
}

void text_output()
{
    flush_all_text();
    flush_output_record();
    symbol *P = text_read();
    text_current = P != nullptr;
    if (!P)
        return;
    text_start = text_end = 0;
    uint32_t a = get_u32(text_rec.body);
    if (!(P->flags & OBJ_OVERLAID))
        a = addr_add(a, P->ps->size, P->name);
    link_location = a;
    if (!opt.relocatable && !(P->flags & SF_BOUNDS)) {
        link_location = addr_add(a, psect_base(P), P->name);
        a = addr_add(a, psect_load_base(P), P->name);
    }
    text_addr = a;
}

static void text_write_binary(unsigned n)
{
    if (text_addr < opt.binary_base)
        msg_report(989, (unsigned long)opt.binary_base);
    if (fseek(out_file, (long)(text_addr - opt.binary_base), SEEK_SET) != 0) {
        msg_report_unnumbered("E", "Seek error: %s", opt.output_name.c_str());
        return;
    }
    if (fwrite(text_data + text_start, 1, n, out_file) != n)
        msg_report(413, opt.output_name.c_str());
}

static void text_write_record(unsigned n)
{
    obj_builder b;
    build_start(b);
    build_u32(b, text_addr);
    build_name(b, text_psect);
    build_bytes(b, text_data + text_start, n);
    write_record(REC_TEXT, b.length, b.body);
}

void text_current_data(uint8_t **data, unsigned *length, unsigned *header)
{
    *data = text_current ? text_data : nullptr;
    *length = text_current ? text_length : 0;
    *header = text_current ? (unsigned)(text_data - text_rec.body) : 0;
}

void text_mark_ready(unsigned end)
{
    if (end > text_end)
        text_end = end;
}

unsigned text_written() { return text_start; }

void flush_text()
{
    if (!text_current || text_start >= text_end)
        return;
    unsigned n = text_end - text_start;
    if (!opt.symbols_only && !output_suppressed && out_file) {
        if (opt.binary)
            text_write_binary(n);
        else
            text_write_record(n);
    }
    text_addr += n;
    text_start = text_end;
}

void flush_all_text()
{
    if (!text_current)
        return;
    text_end = text_length;
    flush_text();
}

// Start address, or segment start, of the program: one START/SEGSTART in all.
static bool start_fields(uint32_t *offset, symbol **P)
{
    obj_cursor c = cur_of(rec);
    *offset = cur_u32(c);
    const char *name = cur_name(c);
    if (c.bad) {
        report_bad_record();
        return false;
    }
    *P = name[0] ? sym_enter(name, OBJ_PSECT | OBJ_GLOBAL) : abs_psect;
    return true;
}

// The text read so far goes out first, so the start follows its module's data.
static void start_write(unsigned type, uint32_t value, const char *psect)
{
    flush_all_text();
    flush_output_record();
    obj_builder b;
    build_start(b);
    build_u32(b, value);
    build_name(b, psect);
    write_record(type, b.length, b.body);
}

void start_record()
{
    if (start_seen)
        msg_report(501);
    start_seen = true;
    uint32_t offset;
    symbol *P;
    if (!start_fields(&offset, &P) || opt.binary)
        return;
    uint8_t delta = psect_delta(P->ps);
    uint32_t a = addr_add(offset, P->ps->size / delta, P->name);
    if (!opt.relocatable)
        a = addr_add(a, psect_base(P) / delta, P->name);
    start_write(REC_START, a, P->name);
}

void segstart_record()
{
    start_seen = true;
    uint32_t offset;
    symbol *P;
    if (!start_fields(&offset, &P) || opt.binary)
        return;
    uint32_t v = offset;
    if (!opt.relocatable) {
        v = addr_add(v, P->ps->selector, P->name);
        P->flags |= OBJ_SIGNATURE;   // selector used
    }
    start_write(REC_SEGSTART, v, P->name);
}

void close_output()
{
    flush_all_text();
    text_current = false;
    flush_output_record();
    if (!opt.relocatable && !opt.binary && !opt.symbols_only && !start_seen) {
        msg_report(528);
        start_write(REC_START, 0, "");
    }
    if (!opt.binary) {
        uint8_t end_body[2] = {0, 0};
        write_record(REC_END, 2, end_body);
    }
}
