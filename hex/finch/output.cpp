// Writing the image. Preparation first: the checksum list is applied, the
// start address defaults to the lowest address written, and with -g the
// segment table is stored where "atxsegadr_" points. Then one of two roads:
//
// Record forms (Intel, Motorola, Tektronix, extended Tektronix, UBROF): page by page
// in address order, each record a run of written bytes up to the form's
// maximum (or -<n>); with a rounding r the first record of a page starts at
// a multiple of r and a record's length is rounded up to a multiple of r,
// taking fill bytes, or bytes of the next page when it follows on (those are
// not written again), else 0xFF. Each form is a row of the form table: its
// longest record, and its start, record and end writers.
//
// Binary forms: every address from the bias on, fill where nothing was
// written; -H, -N and -P put their header in front and start at address 0
// (the other executable forms live in exeforms.cpp and segforms.cpp);
// -P follows the image with its symbol table, and the 68000 forms with the
// relocation list of -L/-R. On the other forms -L/-R store their relocation
// table into the image before anything is written.
//
// Data a form cannot address (Intel type 02 records reach 1 MB, plain
// Tektronix 64 KB) stops the run with message 411 instead of landing at a
// wrong address. A binary image larger than its bound (image_bound) stops it
// with message 1501 before a byte of it is written.
#include "finch.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "common.h"
#include "hexrec.h"

[[noreturn]] static void unreachable_data(uint64_t addr, const char *form)
{
    msg_report(411, (unsigned long)addr, form);
    fatal_exit();
}

// ---------------------------------------------------------------------------
// Preparation
// ---------------------------------------------------------------------------

// Sum of the fill pattern over [from, to), where no page exists. The
// pattern repeats every 4 addresses, so whole periods are counted at once.
static uint32_t fill_sum(uint64_t from, uint64_t to)
{
    uint32_t period = 0;
    for (uint32_t a = 0; a < 4; a++)
        period += image_fill_byte(a);
    uint64_t periods = (to - from) / 4;
    uint32_t sum = (uint32_t)(periods * period);
    for (uint64_t a = from + 4 * periods; a < to; a++)
        sum += image_fill_byte((uint32_t)a);
    return sum;
}

// Sum of the image bytes over [start, end], fill where never written. Only
// the pages that exist are read byte by byte, so a range over the whole
// address space costs no more than its data.
static uint32_t checksum_sum(uint32_t initial, uint32_t start, uint32_t end)
{
    uint32_t sum = initial;
    uint64_t a = start;
    uint64_t stop = (uint64_t)end + 1;
    bool written;
    for (uint32_t number : image_page_numbers()) {
        uint64_t first = (uint64_t)number * PAGE_SIZE;
        uint64_t to = std::min<uint64_t>(first + PAGE_SIZE, stop);
        if (to <= a)
            continue;
        if (first >= stop)
            break;
        if (first > a) {
            sum += fill_sum(a, first);
            a = first;
        }
        for (; a < to; a++)
            sum += image_byte((uint32_t)a, &written);
    }
    if (a < stop)
        sum += fill_sum(a, stop);
    return sum;
}

void checksum_list_apply()
{
    for (const checksum_entry &e : checksum_list) {
        uint64_t width = (uint64_t)e.dest_end - e.dest_start + 1;
        if (e.dest_end < e.dest_start || e.end < e.start || (width != 1 && width != 2 && width != 4)) {
            msg_report(430);
            fatal_exit();
        }
        uint32_t sum = checksum_sum(e.initial, e.start, e.end);
        if (width < 4)
            sum &= (1u << (8 * width)) - 1;
        msg_report(940, (int)(8 * width), (unsigned long)sum, (unsigned long)e.dest_start);
        for (unsigned j = 0; j < width; j++) {
            unsigned pos = width == 1 ? 0 : width == 2 ? obj_order.map16[j] : obj_order.map32[j];
            uint8_t b = (uint8_t)(sum >> (8 * j));
            image_store(e.dest_start + pos, &b, 1);
        }
    }
}

void header_put32(uint8_t *p, uint32_t v)
{
    for (unsigned i = 0; i < 4; i++) {
        unsigned pos = obj_order.map32[i];
        p[opt.big_endian_header ? 3 - pos : pos] = (uint8_t)(v >> (8 * i));
    }
}

void header_put16(uint8_t *p, uint16_t v)
{
    for (unsigned i = 0; i < 2; i++) {
        unsigned pos = obj_order.map16[i];
        p[opt.big_endian_header ? 1 - pos : pos] = (uint8_t)(v >> (8 * i));
    }
}

// With -g and "atxsegadr_": {address, length, selector, is code} per segment.
static void segment_table_store()
{
    if (!syms.known[WK_ATXSEGADR] || segment_table.empty())
        return;
    uint32_t at = syms.known[WK_ATXSEGADR];
    for (const finch_segment &s : segment_table) {
        uint8_t entry[12];
        header_put32(entry, s.address);
        header_put32(entry + 4, s.length);
        header_put16(entry + 8, s.selector);
        header_put16(entry + 10, s.code ? 1 : 0);
        image_store(at, entry, sizeof entry);
        at += sizeof entry;
    }
}

uint64_t lowest_written(const std::vector<uint32_t> &numbers)
{
    if (numbers.empty())
        return 0;
    return image_page(numbers[0])->lo;
}

// ---------------------------------------------------------------------------
// The text forms
// ---------------------------------------------------------------------------

struct text_writer {
    FILE *out;
    uint64_t base;   // Intel: the base last announced
};

static void intel_start(text_writer &)
{
}

static void intel_record(text_writer &w, uint64_t addr, const uint8_t *data, unsigned n)
{
    uint64_t base = addr & 0xFFFF0000;
    if (base != w.base) {
        if (opt.linear) {
            hexrec_write_base(w.out, IHEX_LINEAR, (uint16_t)(base >> 16));
        } else {
            if (base >> 4 > 0xFFFF)
                unreachable_data(addr, "Intel HEX with segment address records");
            hexrec_write_base(w.out, IHEX_SEGMENT, (uint16_t)(base >> 4));
        }
        w.base = base;
    }
    hexrec_write(w.out, IHEX_DATA, (uint16_t)addr, data, n);
}

// A segment start that differs from the last base is announced before the
// end record; with -I a start of 0 brings the linear base back to 0.
static void intel_end(text_writer &w)
{
    if ((uint64_t)syms.segment_start * 16 != w.base) {
        if (opt.linear && syms.segment_start == 0) {
            hexrec_write_base(w.out, IHEX_LINEAR, 0);
        } else {
            if (syms.segment_start > 0xFFFF)
                unreachable_data((uint64_t)syms.segment_start * 16, "Intel HEX with segment address records");
            hexrec_write_base(w.out, IHEX_SEGMENT, (uint16_t)syms.segment_start);
        }
    }
    hexrec_write(w.out, IHEX_END, (uint16_t)syms.start, nullptr, 0);
}

// One S-record: type, count, address bytes, data, ones' complement checksum.
static void srec_line(FILE *out, char type, uint64_t addr, unsigned addr_bytes, const uint8_t *data, unsigned n)
{
    unsigned count = addr_bytes + n + 1;
    unsigned sum = count;
    fprintf(out, "S%c%02X", type, count);
    for (unsigned i = addr_bytes; i-- > 0;) {
        unsigned b = (unsigned)(addr >> (8 * i)) & 0xFF;
        fprintf(out, "%02X", b);
        sum += b;
    }
    for (unsigned i = 0; i < n; i++) {
        fprintf(out, "%02X", data[i]);
        sum += data[i];
    }
    fprintf(out, "%02X\n", ~sum & 0xFF);
}

// The S0 header carries the input file's name.
static void motorola_start(text_writer &w)
{
    std::string name = opt.input.substr(0, 252);
    srec_line(w.out, '0', 0, 2, reinterpret_cast<const uint8_t *>(name.data()), (unsigned)name.size());
}

static void motorola_record(text_writer &w, uint64_t addr, const uint8_t *data, unsigned n)
{
    if (addr < 0x10000)
        srec_line(w.out, '1', addr, 2, data, n);
    else if (addr < 0x1000000)
        srec_line(w.out, '2', addr, 3, data, n);
    else
        srec_line(w.out, '3', addr, 4, data, n);
}

static void motorola_end(text_writer &w)
{
    uint32_t s = syms.start;
    if (s > 0xFFFFFF)
        srec_line(w.out, '7', s, 4, nullptr, 0);
    else if (s < 0x10000)
        srec_line(w.out, '9', s, 2, nullptr, 0);
    else
        srec_line(w.out, '8', s, 3, nullptr, 0);
}

static unsigned digit_sum(const char *hex)
{
    unsigned sum = 0;
    for (; *hex; hex++)
        sum += (unsigned)(isdigit((unsigned char)*hex) ? *hex - '0' : *hex - 'A' + 10);
    return sum;
}

static void tek_start(text_writer &)
{
}

// '/' address count sum-of-digits data sum-of-data-digits
static void tek_record(text_writer &w, uint64_t addr, const uint8_t *data, unsigned n)
{
    if (addr + n > 0x10000)
        unreachable_data(addr, "Tektronix");
    std::string head = str_printf("%04X%02X", (unsigned)addr, n);
    std::string body;
    for (unsigned i = 0; i < n; i++)
        body += str_printf("%02X", data[i]);
    fprintf(w.out, "/%s%02X%s%02X\n", head.c_str(), digit_sum(head.c_str()) & 0xFF, body.c_str(),
            digit_sum(body.c_str()) & 0xFF);
}

static void tek_end(text_writer &w)
{
    if (syms.start > 0xFFFF)
        unreachable_data(syms.start, "Tektronix");
    std::string a = str_printf("%04X", (unsigned)syms.start);
    fprintf(w.out, "/%s00%02X\n", a.c_str(), digit_sum(a.c_str()) & 0xFF);
}

// Character values of the extended Tektronix checksum.
static unsigned ext_tek_value(char c)
{
    if (c >= '0' && c <= '9')
        return (unsigned)(c - '0');
    if (c >= 'A' && c <= 'Z')
        return (unsigned)(c - 'A' + 10);
    if (c >= 'a' && c <= 'z')
        return (unsigned)(c - 'a' + 40);
    switch (c) {
    case '$': return 36;
    case '%': return 37;
    case '.': return 38;
    case '_': return 39;
    }
    msg_report(416, (int)(unsigned char)c);
    fatal_exit();
}

// '%' length type checksum address-field data; the address field is "4" and
// four digits below 64 KB, else "8" and eight digits.
static void ext_tek_block(FILE *out, char type, uint64_t addr, const uint8_t *data, unsigned n)
{
    std::string field = addr < 0x10000 ? str_printf("4%04X", (unsigned)addr) : str_printf("8%08lX", (unsigned long)addr);
    for (unsigned i = 0; i < n; i++)
        field += str_printf("%02X", data[i]);
    std::string length = str_printf("%02X", (unsigned)(field.size() + 5) & 0xFF);
    unsigned sum = ext_tek_value(type);
    for (char c : length + field)
        sum += ext_tek_value(c);
    fprintf(out, "%%%s%c%02X%s\n", length.c_str(), type, sum & 0xFF, field.c_str());
}

static void ext_tek_start(text_writer &)
{
}

static void ext_tek_record(text_writer &w, uint64_t addr, const uint8_t *data, unsigned n)
{
    ext_tek_block(w.out, '6', addr, data, n);
}

static void ext_tek_end(text_writer &w)
{
    ext_tek_block(w.out, '8', syms.start, nullptr, 0);
    fputc('\n', w.out);
}

static void ubrof_form_start(text_writer &w)
{
    ubrof_start(w.out);
}

static void ubrof_form_record(text_writer &w, uint64_t addr, const uint8_t *data, unsigned n)
{
    ubrof_record(w.out, addr, data, n);
}

static void ubrof_form_end(text_writer &w)
{
    ubrof_end(w.out);
}

struct text_form {
    unsigned max_record;
    void (*start)(text_writer &);
    void (*record)(text_writer &, uint64_t, const uint8_t *, unsigned);
    void (*end)(text_writer &);
};

// longest record, start, record, end; indexed by finch_format
static const text_form text_forms[] = {
    /* FMT_INTEL         */ {32, intel_start, intel_record, intel_end},
    /* FMT_MOTOROLA      */ {32, motorola_start, motorola_record, motorola_end},
    /* FMT_TEKTRONIX     */ {30, tek_start, tek_record, tek_end},
    /* FMT_EXT_TEKTRONIX */ {32, ext_tek_start, ext_tek_record, ext_tek_end},
    /* FMT_UBROF         */ {255, ubrof_form_start, ubrof_form_record, ubrof_form_end},
};
static_assert(sizeof text_forms / sizeof text_forms[0] == FMT_UBROF + 1, "one row per record form");

// The byte a rounded-up record takes at addr, past its page's written range:
// the page's own byte, the next page's when it follows on, else 0xFF.
static uint8_t rounding_byte(uint64_t addr, uint32_t page_number)
{
    if (addr > 0xFFFFFFFF)
        return 0xFF;
    uint32_t n = (uint32_t)(addr / PAGE_SIZE);
    bool written;
    if (n == page_number || image_page(n))
        return image_byte((uint32_t)addr, &written);
    return 0xFF;
}

// The records of one page, from max(its first address, done) on.
static void text_page(const text_form &form, text_writer &w, uint32_t number, uint64_t *done)
{
    unsigned r = opt.rounding;
    unsigned max = form.max_record;
    if (opt.record_length && opt.record_length < max)
        max = opt.record_length;
    // A rounded record must still fit the form's count field.
    if (max > r)
        max -= max % r;
    page *p = image_page(number);
    uint64_t hi = p->hi;
    uint64_t a = std::max<uint64_t>(p->lo - p->lo % r, *done);
    uint8_t data[256 + 16];
    while (a < hi) {
        bool written;
        uint8_t first = image_byte((uint32_t)a, &written);
        if (!written && (a != p->lo - p->lo % r || r == 1)) {
            a++;
            continue;
        }
        unsigned n = 0;
        data[n++] = first;
        while (n < max && a + n < hi && (image_byte((uint32_t)(a + n), &written), written))
            data[n] = image_byte((uint32_t)(a + n), &written), n++;
        // Rounding up never crosses a 64 KB border, where address records
        // of the text forms change.
        while (n % r && (a + n) % 0x10000 != 0)
            data[n] = rounding_byte(a + n, number), n++;
        form.record(w, a, data, n);
        a += n;
        *done = a;
    }
}

static bool text_write(FILE *out, const std::vector<uint32_t> &numbers, const std::string &motorola_symbols)
{
    const text_form &form = text_forms[opt.format];
    text_writer w = {out, 0};
    fputs(motorola_symbols.c_str(), out);
    form.start(w);
    uint64_t done = 0;
    for (uint32_t n : numbers)
        text_page(form, w, n, &done);
    form.end(w);
    return !ferror(out);
}

// ---------------------------------------------------------------------------
// The binary forms
// ---------------------------------------------------------------------------

// The most image bytes a binary form writes unless a bound is stated: for a
// PIC, the whole program space of the widest core (64K words, two bytes
// each); for other machines, the 24-bit address space of the largest target
// a form serves. An image far past that comes from data at a stray address,
// and would fill the disk with fill bytes.
static uint64_t image_bound()
{
    if (opt.max_image)
        return opt.max_image;
    return strncasecmp(syms.machine.c_str(), "PIC", 3) == 0 ? 0x20000 : 0x1000000;
}

void image_span_check(uint64_t from, uint64_t to)
{
    static uint64_t total;   // image bytes the output holds so far
    if (to <= from)
        return;
    total += to - from;
    if (total > image_bound()) {
        msg_report(1501, (unsigned long long)total, (unsigned long long)image_bound());
        fatal_exit();
    }
}

// Bytes [from, to) of the image, fill where nothing was written.
static void binary_span(FILE *out, uint64_t from, uint64_t to)
{
    image_span_check(from, to);
    uint8_t chunk[PAGE_SIZE];
    while (from < to) {
        uint64_t page_end = (from / PAGE_SIZE + 1) * PAGE_SIZE;
        unsigned n = (unsigned)(std::min(page_end, to) - from);
        bool written;
        for (unsigned i = 0; i < n; i++)
            chunk[i] = image_byte((uint32_t)(from + i), &written);
        fwrite(chunk, 1, n, out);
        from += n;
    }
}

// The "HL" header: signature, version text, header size, image end, machine.
static void hl_header(FILE *out)
{
    uint8_t h[32] = {};
    memcpy(h, "HL", 2);
    memcpy(h + 2, "H9.00", 5);
    header_put32(h + 8, 32);
    uint64_t end = std::max<uint64_t>(opt.have_fill_end ? opt.fill_end : 0, image_high());
    if (end > 0xFFFFFFFFull) {
        // Data in the last byte of the address space: its end does not fit
        // the 32-bit field.
        msg_report(418);
        fatal_exit();
    }
    header_put32(h + 12, (uint32_t)end);
    strncpy(reinterpret_cast<char *>(h + 16), syms.machine.c_str(), 15);
    fwrite(h, 1, sizeof h, out);
}

// The 68000 header: eight 32-bit fields, the image from address 0 behind it.
static void m68k_header(FILE *out, const std::vector<uint32_t> &numbers)
{
    if (!numbers.empty() && lowest_written(numbers) != 0) {
        msg_report(412);
        fatal_exit();
    }
    const uint32_t *k = syms.known;
    uint32_t fields[8] = {0x04100301, 32, k[WK_HTEXT], k[WK_HDATA] - k[WK_LDATA], k[WK_HBSS] - k[WK_HDATA],
                          opt.address + k[WK_HBSS], 0, 0};
    uint8_t h[32];
    for (unsigned i = 0; i < 8; i++)
        header_put32(h + 4 * i, fields[i]);
    fwrite(h, 1, sizeof h, out);
}

// The CP/M-68K program header: magic, text, data, bss and symbol table
// sizes, then stack size, entry and relocation flag left 0. With an address
// value, it goes into the image at address 2.
static void cpm68k_header(FILE *out)
{
    const uint32_t *k = syms.known;
    if (opt.have_address) {
        uint8_t v[4];
        header_put32(v, opt.address);
        image_store(2, v, 4);
    }
    uint8_t h[28] = {};
    header_put16(h, 0x601A);
    header_put32(h + 2, k[WK_HTEXT]);
    header_put32(h + 6, k[WK_LBSS] - k[WK_HTEXT]);
    header_put32(h + 10, k[WK_HBSS] - k[WK_LBSS]);
    header_put32(h + 14, (uint32_t)(14 * table_symbols.size()));
    fwrite(h, 1, sizeof h, out);
}

// The -P symbol table: value, type and an 8-character name per symbol.
static void cpm68k_symbols(FILE *out)
{
    for (const table_symbol &s : table_symbols) {
        uint8_t e[14] = {};
        header_put32(e, s.value);
        header_put16(e + 4, s.type);
        memcpy(e + 6, s.name.data(), std::min<size_t>(s.name.size(), 8));
        fwrite(e, 1, sizeof e, out);
    }
}

// The 68000 relocation list: the first address as a 32-bit field, then the
// distance to each next one as a byte (1 standing for 254 where a distance
// is longer), a 0 byte, and padding to an even length.
static void m68k_relocations(FILE *out)
{
    if (!opt.relocatable || reloc_items.empty())
        return;
    std::vector<uint32_t> items = reloc_items;
    std::sort(items.begin(), items.end());
    uint8_t first[4];
    header_put32(first, items[0]);
    fwrite(first, 1, 4, out);
    std::string bytes;
    for (size_t i = 1; i < items.size(); i++) {
        uint32_t d = items[i] - items[i - 1];
        for (; d > 254; d -= 254)
            bytes += '\1';
        bytes += (char)d;
    }
    bytes += '\0';
    if ((4 + bytes.size()) % 2)
        bytes += '\0';
    fwrite(bytes.data(), 1, bytes.size(), out);
}

// With -L/-R on the other forms: a 16-bit count, then each item as one
// 16-bit word (two with -L, low word first), every word low byte first, in
// the image where the relocation symbol points.
static void relocation_table_store()
{
    if (!opt.relocatable || opt.format == FMT_M68K || opt.format == FMT_CPM68K || opt.format == FMT_SEGMENTS ||
        (opt.format == FMT_DOS8 && opt.long_reloc) || dos_relocations_in_header())
        return;
    std::vector<uint8_t> t;
    auto word = [&t](uint32_t w) {
        t.push_back((uint8_t)w);
        t.push_back((uint8_t)(w >> 8));
    };
    word((uint32_t)reloc_items.size());
    for (uint32_t a : reloc_items) {
        word(a & 0xFFFF);
        if (opt.long_reloc)
            word(a >> 16);
    }
    image_store(reloc_place, t.data(), (unsigned)t.size());
}

static bool binary_write(FILE *out, const std::vector<uint32_t> &numbers)
{
    if (opt.format == FMT_MSDOS)
        return msdos_write(out, numbers);
    if (opt.format == FMT_DOS8)
        return dos8_write(out);
    if (opt.format == FMT_COFF)
        return coff_write(out);
    if (opt.format == FMT_SEGMENTS)
        return segments_write(out);
    if (opt.format == FMT_XCOFF)
        return xcoff_write(out);
    if (opt.format == FMT_BLOCKS)
        return blocks_write(out, numbers);
    uint64_t bias = 0;
    if (opt.format == FMT_HL_HEADER)
        hl_header(out);
    else if (opt.format == FMT_M68K)
        m68k_header(out, numbers);
    else if (opt.format == FMT_CPM68K)
        cpm68k_header(out);
    else
        bias = opt.have_base ? opt.base : lowest_written(numbers);
    uint64_t low = lowest_written(numbers);
    if (!numbers.empty() && low < bias)
        unreachable_data(low, "binary");
    uint64_t end = image_high();
    if (opt.have_fill_end && opt.fill_end > end)
        end = opt.fill_end;
    if (end > bias)
        binary_span(out, bias, end);
    if (opt.format == FMT_CPM68K)
        cpm68k_symbols(out);
    if (opt.format == FMT_M68K || opt.format == FMT_CPM68K)
        m68k_relocations(out);
    return !ferror(out);
}

bool output_write(FILE *out, const std::string &motorola_symbols)
{
    relocation_table_store();
    checksum_list_apply();
    std::vector<uint32_t> numbers = image_page_numbers();
    if (!syms.start_set)
        syms.start = (uint32_t)lowest_written(numbers);
    segment_table_store();
    // Programs with a separate far text segment describe it by the "_TEXT"
    // symbols; the headers take those when they reach higher.
    uint32_t *k = syms.known;
    if (k[WK_H_TEXT] > k[WK_HTEXT]) {
        k[WK_HTEXT] = k[WK_H_TEXT];
        k[WK_LTEXT] = k[WK_L_TEXT];
        k[WK_BTEXT] = k[WK_B_TEXT];
    }
    numbers = image_page_numbers();
    if (opt.format >= FMT_BINARY)
        return binary_write(out, numbers);
    return text_write(out, numbers, motorola_symbols);
}
