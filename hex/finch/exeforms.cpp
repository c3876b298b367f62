// The executable forms of other targets: -E and -8 (MS-DOS "MZ") and -U/-UT
// (COFF). They put a header in front of the image and take their sizes from
// the well-known symbols.
//
// -E: the 64-byte header in a 256-byte header area (64 + 4 per relocation
// item, in whole paragraphs, when there are more than 44 items); the image
// from address 0 follows, the file ends where the image does. Fields, 16-bit
// words: "MZ", bytes in the last 512-byte page, pages, relocation items,
// header paragraphs, minimum extra paragraphs (bss past the image: "__Hbss"),
// maximum extra paragraphs (up to the address value, default 0x10000, plus
// "__Hbss", at most 0xFFF0), SS and SP ("__Bstack"/"__Hstack", else
// "__Bdata" and "__Hbss" + 2048), checksum 0, IP (start address), CS 0,
// relocation table offset 64, overlay 0. With -LDos_hdr and no symbol
// "Dos_hdr" the relocation items stand at offset 64 as {a & 0xF, a >> 4}.
//
// -8: the same load fields in a 128-byte header of three parts, 16-bit
// words unless stated:
//   bytes 0-8     "MZ", bytes in the last 512-byte page, pages, header
//                 paragraphs (8), one byte: 1 when segment fixups follow
//   bytes 9-17    minimum and maximum extra paragraphs, SS, SP, a zero byte
//   bytes 18-127  IP (start address), CS 0, the 32-bit image address of the
//                 fixup lists (0 without them), the machine name of the
//                 IDENT record (up to 15 characters), zeros
// With -L the relocation items are segment fixups: each carries the segment
// word of its psect (1 for "text", "_TEXT" and "ltext", 2 for "data" and
// "bss", else 0); sorted by segment and address they must begin with
// segment 1 (429), at most 7500 (428), and go into the image at the
// relocation symbol as two counted lists, code then data.
//
// -U: a 20-byte file header (machine 0x150, 0x198 with -UT; 3 sections; the
// time of the run; symbol table offset and count; optional header size 28;
// flags 0x207), a 28-byte optional header (magic 0x10B, 0x107 with -UT;
// text, data and bss sizes; entry; text and data starts) and the section
// headers ".text", ".data", ".bss" (name, physical and virtual address,
// size, file offset, then zeros and the flags 0x20, 0x40, 0x80). Text is
// [__Ltext, __Htext) at file offset "__Btext" (168 when 0), data
// [__Ldata, __Hdata) right after it; the symbol table follows: 18-byte
// entries {name (inline up to 8 characters, else 0 and a string table
// offset), value, section (1 text, 2 data, 3 bss by psect, else -1),
// type 0, class 2, no auxiliary entry}, then the string table with its
// 32-bit size first. The -U<n> address value is accepted and not used.
#include "finch.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "common.h"

const unsigned DOS8_HEADER = 128;         // the -8 header: parts of 9, 9 and 110 bytes
const size_t DOS8_MAX_FIXUPS = 7500;

void buf_put16(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    header_put16(&b[at], (uint16_t)v);
}

void buf_put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    header_put32(&b[at], v);
}

void buf_append_image(std::vector<uint8_t> &b, uint64_t from, uint64_t to)
{
    image_span_check(from, to);
    bool written;
    for (uint64_t a = from; a < to; a++)
        b.push_back(image_byte((uint32_t)a, &written));
}

bool dos_relocations_in_header()
{
    return opt.format == FMT_MSDOS && opt.relocatable && opt.long_reloc && opt.reloc_symbol == "Dos_hdr" &&
           !reloc_place_found;
}

// The load fields both MS-DOS forms share, from the image and the
// well-known symbols: the file's length in 512-byte pages, the extra
// paragraphs beyond the image, and the initial stack.
struct dos_fields {
    uint32_t last_page;   // bytes in the last 512-byte page
    uint32_t pages;
    uint32_t min_extra;
    uint32_t max_extra;
    uint32_t ss;
    uint32_t sp;
};

// Text must start at 0; the file is the header, then the image from 0 on.
static dos_fields dos_compute(const std::vector<uint32_t> &numbers, uint64_t header)
{
    if (!numbers.empty() && lowest_written(numbers) != 0) {
        msg_report(412);
        fatal_exit();
    }
    const uint32_t *k = syms.known;
    uint64_t image_end = image_high();
    uint64_t size = header + image_end;
    dos_fields f;
    f.last_page = (uint32_t)(size % 512);
    f.pages = (uint32_t)((size + 511) / 512);
    uint64_t bss_end = k[WK_HBSS];
    uint64_t min_extra = bss_end > image_end ? (bss_end - image_end + 15) / 16 : 0;
    uint64_t top = std::min<uint64_t>((uint64_t)opt.address + k[WK_HBSS], 0xFFFF0);
    uint64_t max_extra = top > image_end ? std::min<uint64_t>((top - image_end + 15) / 16, 0xFFF0) : 0;
    f.min_extra = (uint32_t)min_extra;
    f.max_extra = (uint32_t)std::max(min_extra, max_extra);
    bool stack = k[WK_BSTACK] || k[WK_HSTACK];
    uint32_t ss_base = stack ? k[WK_BSTACK] : k[WK_BDATA];
    uint32_t sp_top = stack ? k[WK_HSTACK] : k[WK_HBSS] + 2048;
    f.ss = ss_base >> 4;
    f.sp = sp_top - (ss_base & ~0xFu);
    return f;
}

bool msdos_write(FILE *out, const std::vector<uint32_t> &numbers)
{
    size_t items = dos_relocations_in_header() ? reloc_items.size() : 0;
    size_t header = items > 44 ? (64 + 4 * items + 15) / 16 * 16 : 256;
    dos_fields f = dos_compute(numbers, header);
    std::vector<uint8_t> b(header, 0);
    b[0] = 0x4D;
    b[1] = 0x5A;
    buf_put16(b, 2, f.last_page);
    buf_put16(b, 4, f.pages);
    buf_put16(b, 6, (uint32_t)items);
    buf_put16(b, 8, (uint32_t)(header / 16));
    buf_put16(b, 0x0A, f.min_extra);
    buf_put16(b, 0x0C, f.max_extra);
    buf_put16(b, 0x0E, f.ss);
    buf_put16(b, 0x10, f.sp);
    buf_put16(b, 0x14, syms.start);
    buf_put16(b, 0x18, 64);
    for (size_t i = 0; i < items; i++) {
        buf_put16(b, 64 + 4 * i, reloc_items[i] & 0xF);
        buf_put16(b, 66 + 4 * i, (reloc_items[i] >> 4) & 0xFFFF);
    }
    buf_append_image(b, 0, image_high());
    fwrite(b.data(), 1, b.size(), out);
    return !ferror(out);
}

// -8 with -L: the segment fixups, sorted by segment word and address, as two
// counted lists (code segment, then data segment) of {a & 0xF, a >> 4},
// 16-bit words low byte first, stored in the image where the relocation
// symbol points (so they land at that address + 128 in the file).
static void dos8_fixups()
{
    if (!opt.relocatable || !opt.long_reloc)
        return;
    std::vector<std::pair<uint16_t, uint32_t>> items;
    for (size_t i = 0; i < reloc_items.size(); i++)
        items.push_back({reloc_segments[i], reloc_items[i]});
    std::sort(items.begin(), items.end());
    if (items.size() > DOS8_MAX_FIXUPS) {
        msg_report(428);
        fatal_exit();
    }
    if (!items.empty() && items[0].first != 1) {
        msg_report(429);
        fatal_exit();
    }
    std::vector<uint8_t> t;
    auto word = [&t](uint32_t w) {
        t.push_back((uint8_t)w);
        t.push_back((uint8_t)(w >> 8));
    };
    for (uint16_t segment = 1; segment <= 2; segment++) {
        size_t count = 0;
        for (const auto &it : items)
            count += it.first == segment;
        word((uint32_t)count);
        for (const auto &it : items)
            if (it.first == segment) {
                word(it.second & 0xF);
                word(it.second >> 4);
            }
    }
    image_store(reloc_place, t.data(), (unsigned)t.size());
}

bool dos8_write(FILE *out)
{
    dos8_fixups();
    dos_fields f = dos_compute(image_page_numbers(), DOS8_HEADER);
    bool fixups = opt.relocatable && opt.long_reloc;
    std::vector<uint8_t> b(DOS8_HEADER, 0);
    // First part: what a loader needs to size the file.
    b[0] = 0x4D;
    b[1] = 0x5A;
    buf_put16(b, 2, f.last_page);
    buf_put16(b, 4, f.pages);
    buf_put16(b, 6, DOS8_HEADER / 16);
    b[8] = fixups ? 1 : 0;
    // Second part: memory and stack.
    buf_put16(b, 9, f.min_extra);
    buf_put16(b, 11, f.max_extra);
    buf_put16(b, 13, f.ss);
    buf_put16(b, 15, f.sp);
    // Third part: entry, fixup lists and the machine name.
    buf_put16(b, 18, syms.start);
    buf_put32(b, 22, fixups ? reloc_place : 0);
    memcpy(&b[26], syms.machine.data(), std::min<size_t>(syms.machine.size(), 15));
    buf_append_image(b, 0, image_high());
    fwrite(b.data(), 1, b.size(), out);
    return !ferror(out);
}

static int16_t coff_section(const std::string &psect)
{
    if (psect == "text")
        return 1;
    if (psect == "data")
        return 2;
    if (psect == "bss")
        return 3;
    return -1;
}

static const unsigned COFF_HEADERS = 168;

// One section header: name, addresses, size, file offset, flags.
static void coff_section_header(std::vector<uint8_t> &b, size_t at, const char *name, uint32_t addr,
                                uint32_t size, uint32_t offset, uint32_t flags)
{
    memcpy(&b[at], name, strlen(name));
    buf_put32(b, at + 8, addr);
    buf_put32(b, at + 12, addr);
    buf_put32(b, at + 16, size);
    buf_put32(b, at + 20, offset);
    buf_put32(b, at + 36, flags);
}

bool coff_write(FILE *out)
{
    const uint32_t *k = syms.known;
    uint32_t text_offset = k[WK_BTEXT] ? k[WK_BTEXT] : COFF_HEADERS;
    if (text_offset < COFF_HEADERS) {
        msg_report(415);
        fatal_exit();
    }
    // A section that ends below its start would have a size near 4 GB; the
    // file's offsets are 32-bit fields.
    if (k[WK_HTEXT] < k[WK_LTEXT] || k[WK_HDATA] < k[WK_LDATA] || k[WK_HBSS] < k[WK_LBSS] ||
        (uint64_t)text_offset + (k[WK_HTEXT] - k[WK_LTEXT]) + (k[WK_HDATA] - k[WK_LDATA]) > 0xFFFFFFFFull) {
        msg_report(418);
        fatal_exit();
    }
    uint32_t tsize = k[WK_HTEXT] - k[WK_LTEXT];
    uint32_t dsize = k[WK_HDATA] - k[WK_LDATA];
    uint32_t bsize = k[WK_HBSS] - k[WK_LBSS];
    std::vector<uint8_t> b(text_offset, 0);
    buf_append_image(b, k[WK_LTEXT], k[WK_HTEXT]);
    buf_append_image(b, k[WK_LDATA], k[WK_HDATA]);
    uint32_t symptr = (uint32_t)b.size();

    // Symbol table and string table.
    std::string strings;
    for (const table_symbol &s : table_symbols) {
        size_t at = b.size();
        b.resize(at + 18, 0);
        if (s.name.size() <= 8) {
            memcpy(&b[at], s.name.data(), s.name.size());
        } else {
            buf_put32(b, at + 4, (uint32_t)(4 + strings.size()));
            strings += s.name + '\0';
        }
        buf_put32(b, at + 8, s.value);
        buf_put16(b, at + 12, (uint16_t)coff_section(s.psect));
        b[at + 16] = 2;
    }
    size_t at = b.size();
    b.resize(at + 4, 0);
    buf_put32(b, at, (uint32_t)(4 + strings.size()));
    b.insert(b.end(), strings.begin(), strings.end());

    // File header, optional header, section headers.
    buf_put16(b, 0, opt.coff_t ? 0x198 : 0x150);
    buf_put16(b, 2, 3);
    buf_put32(b, 4, (uint32_t)time(nullptr));
    buf_put32(b, 8, symptr);
    buf_put32(b, 12, (uint32_t)table_symbols.size());
    buf_put16(b, 16, 28);
    buf_put16(b, 18, 0x207);
    buf_put16(b, 20, opt.coff_t ? 0x107 : 0x10B);
    buf_put32(b, 24, tsize);
    buf_put32(b, 28, dsize);
    buf_put32(b, 32, bsize);
    buf_put32(b, 36, syms.start);
    buf_put32(b, 40, k[WK_LTEXT]);
    buf_put32(b, 44, k[WK_LDATA]);
    coff_section_header(b, 48, ".text", k[WK_LTEXT], tsize, text_offset, 0x20);
    coff_section_header(b, 88, ".data", k[WK_LDATA], dsize, text_offset + tsize, 0x40);
    coff_section_header(b, 128, ".bss", k[WK_LBSS], bsize, 0, 0x80);
    fwrite(b.data(), 1, b.size(), out);
    return !ferror(out);
}
