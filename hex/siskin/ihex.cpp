// Intel HEX input and output of the image.
//
// Input: each file is read whole, then scanned record by record: anything up
// to a ':' is skipped (line ends of either kind among it), a record is count,
// address, type, data and checksum in hexadecimal. Only data (00), end (01)
// and extended linear address (04) records are accepted. A file is closed as
// soon as it has been read, so the output may replace any input.
//
// Output: the image in address order, skipping unused and deleted bytes;
// a record ends at a gap, a 64 KB border, a -BREAK address or the record
// length; a type 04 record precedes data whose upper 16 bits change.
#include "siskin.h"

#include <algorithm>

#include "common.h"
#include "hexrec.h"

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// Scanner over one file's text.
struct hex_scan {
    const std::string *text;
    size_t pos;
    sk_input *in;
    unsigned sum;    // of the bytes of the current record
};

// One byte of two hex digits; a file that ends inside a record or a digit
// that is not one is fatal (942).
static uint8_t scan_byte(hex_scan &s)
{
    int v = 0;
    for (int i = 0; i < 2; i++) {
        int d = s.pos < s.text->size() ? hex_digit_value((*s.text)[s.pos]) : -1;
        if (d < 0) {
            msg_report(942, (int)s.in->line, s.in->name.c_str());
            tool_exit(1);
        }
        v = v * 16 + d;
        s.pos++;
    }
    s.sum += (unsigned)v;
    return (uint8_t)v;
}

static void scan_checksum(hex_scan &s)
{
    scan_byte(s);
    if (s.sum & 0xFF)
        msg_report(636, s.in->name.c_str(), (int)s.in->line);
}

static std::string read_whole(sk_input &in)
{
    std::string text;
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in.file)) > 0)
        text.append(buf, n);
    if (ferror(in.file)) {
        msg_report(414, in.name.c_str());
        tool_exit(1);
    }
    fclose(in.file);
    in.file = nullptr;
    return text;
}

// Stores the data of one type 00 record: the bytes inside the file's range
// go to their address plus the file's offset.
static void store_record_data(hex_scan &s, uint64_t address, unsigned count, uint8_t kind)
{
    const sk_input &in = *s.in;
    for (unsigned j = 0; j < count; j++) {
        uint8_t b = scan_byte(s);
        uint64_t a = address + j;
        if (a < in.start || a > in.end)
            continue;
        uint64_t target = a + in.offset;
        if (target > SK_ADDR_LIMIT) {
            msg_report(943, (unsigned long)target, in.name.c_str());
            tool_exit(1);
        }
        image_store((uint32_t)target, b, kind);
    }
}

// Reads records until the end record (or the end of the text).
static void ihex_read_file(sk_input &in, unsigned index)
{
    std::string text = read_whole(in);
    hex_scan s = {&text, 0, &in, 0};
    uint8_t kind = (uint8_t)((SK_INPUT + index) | (in.forced ? SK_FORCED : 0));
    uint64_t upper = 0;
    for (;;) {
        s.pos = text.find(':', s.pos);
        if (s.pos == std::string::npos) {
            msg_report(966, in.name.c_str());
            return;
        }
        s.pos++;
        s.sum = 0;
        in.line++;
        unsigned count = scan_byte(s);
        unsigned low = scan_byte(s) << 8;
        low |= scan_byte(s);
        unsigned type = scan_byte(s);
        switch (type) {
        case IHEX_DATA:
            store_record_data(s, (upper << 16) + low, count, kind);
            scan_checksum(s);
            break;
        case IHEX_END:
            return;
        case IHEX_LINEAR:
            if (count != 2) {
                msg_report(960, type, (int)in.line, in.name.c_str());
                tool_exit(1);
            }
            upper = (unsigned)scan_byte(s) << 8;
            upper |= scan_byte(s);
            scan_checksum(s);
            break;
        default:
            msg_report(960, type, (int)in.line, in.name.c_str());
            tool_exit(1);
        }
    }
}

void ihex_read_inputs()
{
    for (unsigned i = 0; i < inputs.size(); i++)
        ihex_read_file(inputs[i], i);
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

struct hex_out {
    FILE *file;
    uint32_t upper;            // upper 16 bits last announced
    bool announced;            // a type 04 record was written
    uint32_t address;          // of the record being collected
    unsigned count;
    uint8_t data[256];
    std::vector<uint32_t> breaks;   // each breaks one record, then goes
    bool ok;
};

static void out_flush(hex_out &o)
{
    if (o.count == 0)
        return;
    uint32_t upper = o.address >> 16;
    if (upper != o.upper || (output_format == FMT_INHX032 && !o.announced)) {
        o.ok &= hexrec_write_base(o.file, IHEX_LINEAR, (uint16_t)upper);
        o.upper = upper;
        o.announced = true;
    }
    o.ok &= hexrec_write(o.file, IHEX_DATA, (uint16_t)o.address, o.data, o.count);
    o.count = 0;
}

// True when addr is a break address; the address is used up.
static bool out_take_break(hex_out &o, uint32_t addr)
{
    auto it = std::find(o.breaks.begin(), o.breaks.end(), addr);
    if (it == o.breaks.end())
        return false;
    o.breaks.erase(it);
    return true;
}

// Adds one output byte, ending the current record first where it must end.
static void out_byte(hex_out &o, uint32_t addr, uint8_t data)
{
    bool brk = out_take_break(o, addr);
    if (o.count > 0) {
        bool follows = (uint64_t)o.address + o.count == addr;
        if (!follows || (addr & 0xFFFF) == 0 || brk || o.count >= record_length)
            out_flush(o);
    }
    if (o.count == 0)
        o.address = addr;
    o.data[o.count++] = data;
}

bool ihex_write_image(FILE *out)
{
    hex_out o = {};
    o.file = out;
    o.breaks = breaks;
    o.ok = true;
    for (sk_block *b = image_first(); b; b = b->next) {
        for (unsigned i = 0; i < SK_BLOCK_SIZE; i++) {
            unsigned k = kind_of(b->slots[i].kind);
            uint32_t addr = b->base + i;
            if (k == SK_UNUSED || k == SK_DELETED) {
                out_flush(o);
                continue;
            }
            if (output_format == FMT_INHX8M && addr >= 0x10000) {
                // The format has no way to reach this data: say so, and the
                // run fails rather than leaving a short file behind as good.
                msg_report(946, (unsigned)addr);
                goto done;
            }
            out_byte(o, addr, b->slots[i].data);
        }
    }
done:
    out_flush(o);
    o.ok &= hexrec_write(out, IHEX_END, 0, nullptr, 0);
    return o.ok;
}
