// The segment forms -A and -x and the block image -D.
//
// -A: a 32-byte header {0x5448, segment count, start address, segment
// start, address value, zeros}, a 32-byte entry per segment {selector,
// kind (1 code, 2 other, 3 truncated: stored shorter than its length),
// file offset, stored length, length, relocation count, relocation bytes,
// zeros}, then per segment its bytes up to its last written one and its
// relocation list (4-byte offsets with -L, else 2-byte).
//
// -x<target>: a 32-byte header {518, segment count, start address, symbol
// table offset, symbol count, target name in 16 bytes}, a 32-byte section
// entry per segment {name in 8 bytes, address, length, file offset, flags,
// selector, 0, link address}, every segment's bytes over its whole length,
// then the XSYM symbols {value, flags, selector, name length, name}.
//
// -D: a 513-byte header {input file name with its length byte in 64 bytes;
// the date and time of the run as "DD-MM-YY HH:MM" in 16; the machine name
// with its length byte in 9; "Vormak PIC" with its length byte; a notice
// with its length byte in 64; the data block count and the map size as
// 16-bit fields; zeros}, the 512-byte blocks of the image that hold
// written bytes (at most 128, addresses below 0x40000), then the block
// map: for each of the 512 blocks of the address range a 16-bit field, the
// number of its stored block counted from 1, or 0.
//
// Multi-byte fields go through the byte-order maps (-V reverses them).
#include "finch.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "common.h"


static void put_text(std::vector<uint8_t> &b, size_t at, const std::string &text, size_t room)
{
    memcpy(&b[at], text.data(), std::min(text.size(), room));
}

// A counted text: length byte, then at most `room` characters.
static void put_counted(std::vector<uint8_t> &b, size_t at, const std::string &text, size_t room)
{
    size_t n = std::min(text.size(), room);
    b[at] = (uint8_t)n;
    put_text(b, at + 1, text, n);
}


// Bytes of a segment up to its last written one.
static uint32_t stored_length(const finch_segment &s)
{
    bool written;
    for (uint64_t n = s.length; n > 0; n--) {
        image_byte((uint32_t)(s.address + n - 1), &written);
        if (written)
            return (uint32_t)n;
    }
    return 0;
}

bool segments_write(FILE *out)
{
    size_t count = segment_table.size();
    unsigned item = opt.long_reloc ? 4 : 2;
    std::vector<uint8_t> b(32 + 32 * count, 0);
    buf_put16(b, 0, 0x5448);
    buf_put16(b, 2, (uint32_t)count);
    buf_put32(b, 4, syms.start);
    buf_put32(b, 8, syms.segment_start);
    buf_put32(b, 12, opt.address);
    for (size_t i = 0; i < count; i++) {
        const finch_segment &s = segment_table[i];
        uint32_t stored = stored_length(s);
        size_t e = 32 + 32 * i;
        buf_put16(b, e, s.selector);
        buf_put16(b, e + 2, s.code ? 1 : stored < s.length ? 3 : 2);
        buf_put32(b, e + 4, (uint32_t)b.size());
        buf_put32(b, e + 8, stored);
        buf_put32(b, e + 12, s.length);
        buf_put32(b, e + 16, (uint32_t)s.relocs.size());
        buf_put32(b, e + 20, (uint32_t)(item * s.relocs.size()));
        buf_append_image(b, s.address, (uint64_t)s.address + stored);
        for (uint32_t r : s.relocs) {
            size_t at = b.size();
            b.resize(at + item, 0);
            if (item == 4)
                buf_put32(b, at, r);
            else
                buf_put16(b, at, r);
        }
    }
    fwrite(b.data(), 1, b.size(), out);
    return !ferror(out);
}

bool xcoff_write(FILE *out)
{
    size_t count = segment_table.size();
    std::vector<uint8_t> b(32 + 32 * count, 0);
    buf_put16(b, 0, 518);
    buf_put16(b, 2, (uint32_t)count);
    buf_put32(b, 4, syms.start);
    put_text(b, 16, opt.target, 16);
    for (size_t i = 0; i < count; i++) {
        const finch_segment &s = segment_table[i];
        size_t e = 32 + 32 * i;
        put_text(b, e, s.name, 8);
        buf_put32(b, e + 8, s.address);
        buf_put32(b, e + 12, s.length);
        buf_put32(b, e + 16, (uint32_t)b.size());
        buf_put32(b, e + 20, s.flags);
        buf_put16(b, e + 24, s.selector);
        buf_put32(b, e + 28, s.link);
        buf_append_image(b, s.address, (uint64_t)s.address + s.length);
    }
    buf_put32(b, 8, (uint32_t)b.size());
    buf_put32(b, 12, (uint32_t)xsym_symbols.size());
    for (const xsym_entry &x : xsym_symbols) {
        size_t at = b.size();
        std::string name = x.name.substr(0, 255);
        b.resize(at + 9 + name.size(), 0);
        buf_put32(b, at, x.value);
        buf_put16(b, at + 4, x.flags);
        buf_put16(b, at + 6, x.selector);
        put_counted(b, at + 8, name, 255);
    }
    fwrite(b.data(), 1, b.size(), out);
    return !ferror(out);
}

const unsigned BLOCK = 512;
const unsigned BLOCK_MAP_ENTRIES = 512;
const unsigned MAX_BLOCKS = 128;
const unsigned BLOCK_HEADER = 513;

bool blocks_write(FILE *out, const std::vector<uint32_t> &numbers)
{
    // The blocks that hold written bytes, in address order.
    std::vector<uint32_t> blocks;
    for (uint32_t n : numbers) {
        page *p = image_page(n);
        for (uint64_t blk = p->lo / BLOCK; blk * BLOCK < p->hi; blk++) {
            if (blk >= BLOCK_MAP_ENTRIES) {
                msg_report(411, (unsigned long)(blk * BLOCK), "block image");
                fatal_exit();
            }
            if (blocks.empty() || blocks.back() != blk)
                blocks.push_back((uint32_t)blk);
        }
    }
    if (blocks.size() > MAX_BLOCKS) {
        msg_report(418);
        fatal_exit();
    }
    std::vector<uint8_t> b(BLOCK_HEADER, 0);
    put_counted(b, 0, opt.input, 63);
    time_t now = time(nullptr);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%d-%m-%y %H:%M", localtime(&now));
    put_text(b, 64, stamp, 16);
    put_counted(b, 80, syms.machine, 8);
    put_counted(b, 89, "Vormak PIC", 10);
    put_counted(b, 100, "Block image written by finch", 63);
    buf_put16(b, 164, (uint32_t)blocks.size());
    buf_put16(b, 166, BLOCK_MAP_ENTRIES);
    std::vector<uint8_t> map(2 * BLOCK_MAP_ENTRIES, 0);
    for (size_t i = 0; i < blocks.size(); i++) {
        buf_append_image(b, (uint64_t)blocks[i] * BLOCK, (uint64_t)(blocks[i] + 1) * BLOCK);
        header_put16(&map[2 * blocks[i]], (uint16_t)(i + 1));
    }
    b.insert(b.end(), map.begin(), map.end());
    fwrite(b.data(), 1, b.size(), out);
    return !ferror(out);
}
