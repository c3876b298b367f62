// The linker's side of the record layer: reading records with its messages,
// writing the output object, the output record buffer, and IDENT records.
//
// Every record's body is read right after its header, before any handler
// sees it, so a handler only ever looks at a whole body held in `rec`. A body
// longer than the limit is reported and passed over; a short header or a
// truncated body ends the module.
#include "heron.h"

#include <cstring>

obj_record rec;                  // the current record
unsigned rec_count;              // records read in the current module
obj_version cur_version;         // version of the module being read
bool ident_seen;                 // the first IDENT has been taken
std::string machine_name;        // machine name of the last IDENT

static uint8_t obuf[OBJ_RECORD_SIZE];  // output record buffer (RELOC, SYM, XSYM, ...)
static unsigned obuf_type;             // type held in it, 0 when empty
static unsigned obuf_length;           // body bytes appended
static byte_order first_order;         // maps of the first IDENT
static bool limit_on;                  // reading is bounded (a library module)
static uint32_t limit_left;            // bytes left in the bounded module

void record_limit_set(uint32_t length)
{
    limit_on = true;
    limit_left = length;
}

void record_limit_clear() { limit_on = false; }

// Reading another file in the middle of a module pauses the module's bound.
bool record_limit_pause()
{
    bool was = limit_on;
    limit_on = false;
    return was;
}

void record_limit_resume(bool was) { limit_on = was; }

// Claims n bytes of a bounded module; false when it has fewer left.
static bool limit_take(uint32_t n)
{
    if (!limit_on)
        return true;
    if (limit_left < n)
        return false;
    limit_left -= n;
    return true;
}

// Reads the next header and body into `rec`. False when the module ends
// here: no header, a short header or a truncated body. A body above the limit
// is reported, passed over and the next record read instead.
bool read_record_header(FILE *in)
{
    for (;;) {
        obj_status st = limit_take(OBJ_HEADER_SIZE) ? obj_read_header(in, &rec) : OBJ_END_OF_FILE;
        if (st != OBJ_OK) {
            msg_report_once(505);
            return false;
        }
        rec_count++;
        if (!obj_type_valid(rec.type))
            msg_report(380, (int)rec.type);
        if (rec.length <= OBJ_MAX_BODY)
            return read_record_body(in);
        msg_report_once(506, 3, (int)rec.length);
        if (!limit_take(rec.length) || obj_skip_body(in, rec.length) != OBJ_OK) {
            msg_report_once(1044);
            return false;
        }
    }
}

bool read_record_body(FILE *in)
{
    if (!limit_take(rec.length) || obj_read_body(in, &rec) != OBJ_OK) {
        msg_report_once(1044);
        return false;
    }
    return true;
}

// The body is already in `rec`; a pass that ignores a record does nothing more.
void skip_record() {}

void report_bad_record()
{
    msg_report_once(1393, obj_type_name(rec.type));
}

void write_record(unsigned type, unsigned length, const uint8_t *body)
{
    if (output_suppressed || !out_file)
        return;
    if (obj_write_record(out_file, type, body, length) != OBJ_OK)
        msg_report(413, opt.output_name.c_str());
}

// Makes room for one entry of `size` bytes in the output record buffer and
// returns where the caller writes it.
uint8_t *reserve_output_entry(unsigned type, unsigned size)
{
    if (obuf_type != type || obuf_length + size > OBJ_MAX_BODY)
        flush_output_record();
    obuf_type = type;
    uint8_t *p = obuf + obuf_length;
    obuf_length += size;
    return p;
}

void flush_output_record()
{
    if (obuf_type == 0 || obuf_length == 0) {
        obuf_type = 0;
        return;
    }
    bool symbol_kind = obuf_type == REC_SYM || obuf_type == REC_XSYM || obuf_type == REC_SIGNAT;
    if (obuf_type == REC_RELOC)
        flush_text();
    if (!opt.symbols_only || symbol_kind)
        write_record(obuf_type, obuf_length, obuf);
    obuf_type = 0;
    obuf_length = 0;
}

// IDENT (pass 0): the first one fixes the byte order of the run and becomes
// the output's first record; later ones must agree with its maps.
void ident_record()
{
    obj_ident id;
    bool valid_maps;
    if (!decode_ident(rec.body, rec.length, &id, &valid_maps)) {
        report_bad_record();
        return;
    }
    if (!valid_maps) {
        msg_report(1392);
        return;
    }
    if (ident_seen) {
        for (unsigned i = 0; i < 4; i++)
            if (id.order.map32[i] != first_order.map32[i])
                msg_report(503);
        for (unsigned i = 0; i < 2; i++)
            if (id.order.map16[i] != first_order.map16[i])
                msg_report(503);
    } else {
        ident_seen = true;
        first_order = id.order;
        obj_order = id.order;
        if (opt.map) {
            if (version_code(id.version) != 0)
                map_printf("Object code version is %d.%d\n\n", id.version.major, id.version.minor);
            map_printf("Machine type is %s\n\n",
                          opt.machine_name.empty() ? id.machine : opt.machine_name.c_str());
        }
        if (!opt.binary)
            write_record(REC_IDENT, rec.length, rec.body);
    }
    // Every module's version is checked: a newer layout would be misread.
    if (version_code(id.version) > version_code({3, 10}))
        msg_report(504, 3, 10);
    cur_version = id.version;
    if (current_mod)
        current_mod->version = id.version;
    machine_name = id.machine;
}
