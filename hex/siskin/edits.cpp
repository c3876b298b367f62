// The edits of the image, each over its entries as the command line gave
// them: find with replace or delete, serial numbers and strings (the last
// given first, so the first given wins where they meet), checksum
// reservations and fills (in the order given). Checksum results follow in
// checksum.cpp. Every byte goes through image_store.
//
// Address loops run on 64-bit counters so a range that ends at the top of
// the 32-bit space ends; loops over sparse ranges step from block to block.
#include "siskin.h"

#include <algorithm>

#include "common.h"

void edit_store_value(uint32_t addr, uint64_t value, unsigned bytes, uint8_t kind)
{
    for (unsigned i = 0; i < bytes; i++)
        image_store(addr + i, (uint8_t)(value >> (8 * (bytes - 1 - i))), kind);
}

static uint64_t cut_to_width(uint64_t v, unsigned width)
{
    return width >= 8 ? v : v & ((1ull << (8 * width)) - 1);
}

static uint64_t align_up(uint64_t a, uint64_t align)
{
    return (a + align - 1) / align * align;
}

// ---------------------------------------------------------------------------
// Find, replace and delete
// ---------------------------------------------------------------------------

// The value of `width` input bytes from addr on, first byte most significant;
// false when one of them is not input data.
static bool find_read(uint64_t addr, unsigned width, uint64_t *value)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < width; i++) {
        uint32_t a = (uint32_t)(addr + i);
        if (kind_of(image_kind_at(a)) < SK_INPUT)
            return false;
        v = (v << 8) | image_data_at(a);
    }
    *value = v;
    return true;
}

// One hit: warn, log, and replace or delete. A replacement is stored in the
// byte order the value was read in, so replacing a code by itself changes
// nothing.
static void find_hit(sk_find &f, uint64_t pos, uint64_t value, FILE *log)
{
    int digits = (int)(2 * f.width);
    f.hits++;
    if (f.warn)
        msg_report(1212, f.title.c_str(), digits, (unsigned long)value, (unsigned long)pos);
    if (log)
        fprintf(log, "\n  found (%0*llXh) at address %llXh", digits, (unsigned long long)value,
                (unsigned long long)pos);
    if (f.replace_mask) {
        uint64_t n = cut_to_width((value & ~f.replace_mask) | (f.replace_code & f.replace_mask), f.width);
        edit_store_value((uint32_t)pos, n, f.width, SK_REPLACED);
        if (log)
            fprintf(log, ", replaced with (%0*llXh)", digits, (unsigned long long)n);
    } else if (f.del) {
        edit_store_value((uint32_t)pos, 0, f.width, SK_DELETED);
        if (log)
            fputs(" and deleted", log);
    }
}

// Positions run from the first aligned address at or after the start, in
// steps of the alignment, while the whole code lies inside the range.
static void find_one(sk_find &f, FILE *log)
{
    int digits = (int)(2 * f.width);
    if (log)
        fprintf(log, "\n Search results for %s (%0*llXh & %0*llXh):", f.title.c_str(), digits,
                (unsigned long long)f.code, digits, (unsigned long long)f.mask);
    uint64_t pos = align_up(f.start, f.align);
    while (pos + f.width - 1 <= f.end) {
        sk_block *b = image_block_from((uint32_t)pos);
        if (!b)
            break;
        if (b->base > pos) {
            pos = align_up(b->base, f.align);
            continue;
        }
        uint64_t value;
        if (find_read(pos, f.width, &value) && (value & f.mask) == (f.code & f.mask))
            find_hit(f, pos, value, log);
        pos += f.align;
    }
    if (f.hits == 0 && log)
        fputs("\n  No occurances found.", log);
}

void edit_find_replace()
{
    FILE *log = log_file();
    if (finds.empty())
        return;
    if (log)
        fputs("### OP Code find / replace / delete results ###", log);
    for (size_t i = finds.size(); i-- > 0;)
        find_one(finds[i], log);
    if (log)
        fputs("\n\n", log);
}

// ---------------------------------------------------------------------------
// Serial numbers and strings
// ---------------------------------------------------------------------------

void edit_store_serials()
{
    for (size_t i = serials.size(); i-- > 0;) {
        const sk_serial &s = serials[i];
        uint8_t kind = (uint8_t)(SK_SERIAL | (s.forced ? SK_FORCED : 0));
        int64_t addr = s.address;
        uint64_t value = s.value;
        for (long r = 0; r < s.repetitions; r++) {
            edit_store_value((uint32_t)addr, cut_to_width(value, s.bytes), s.bytes, kind);
            addr += s.interval;
            value += (uint64_t)s.increment;
        }
    }
}

// Each character and the terminating zero, each followed by the trailing code.
static void string_store_plain(const sk_string &s, uint8_t forced)
{
    uint32_t addr = s.address;
    for (size_t i = 0; i <= s.text.size(); i++) {
        image_store(addr++, (uint8_t)s.text.c_str()[i], SK_STRING | forced);
        edit_store_value(addr, s.trailing, s.trailing_bytes, SK_TRAILING | forced);
        addr += s.trailing_bytes;
    }
}

// Two 7-bit characters a word (first in bits 7-13), low byte first; the word
// that holds the terminating zero is the last.
static void string_store_packed(const sk_string &s, uint8_t forced)
{
    uint32_t addr = s.address;
    const char *t = s.text.c_str();
    for (size_t i = 0;; i += 2) {
        unsigned first = (unsigned char)t[i] & 0x7F;
        unsigned second = first ? (unsigned char)t[i + 1] & 0x7F : 0;
        unsigned word = (first << 7) | second;
        image_store(addr++, (uint8_t)(word & 0xFF), SK_STRING | forced);
        image_store(addr++, (uint8_t)(word >> 8), SK_STRING | forced);
        if (first == 0 || second == 0)
            return;
    }
}

void edit_store_strings()
{
    for (size_t i = strings.size(); i-- > 0;) {
        const sk_string &s = strings[i];
        uint8_t forced = s.forced ? SK_FORCED : 0;
        if (s.packed)
            string_store_packed(s, forced);
        else
            string_store_plain(s, forced);
    }
}

// ---------------------------------------------------------------------------
// Checksum reservations and fills
// ---------------------------------------------------------------------------

void edit_reserve_checksums()
{
    for (const sk_checksum &c : checksums) {
        uint8_t forced = c.forced ? SK_FORCED : 0;
        uint32_t addr = c.dest;
        for (unsigned i = 0; i < c.width; i++) {
            image_store(addr++, 0, SK_RESERVED | forced);
            edit_store_value(addr, c.trailing, c.trailing_bytes, SK_TRAILING | forced);
            addr += c.trailing_bytes;
        }
    }
}

static void fill_span(const sk_pattern_range &f, uint64_t from, uint64_t to)
{
    for (uint64_t a = from; a <= to; a++)
        image_store((uint32_t)a, f.pattern[a % f.length], SK_FILL);
}

// True when [from, to] holds a byte that is neither unused, fill nor deleted.
static bool chunk_has_data(uint64_t from, uint64_t to)
{
    for (uint64_t a = from; a <= to; a++) {
        unsigned k = kind_of(image_kind_at((uint32_t)a));
        if (k != SK_UNUSED && k != SK_FILL && k != SK_DELETED)
            return true;
    }
    return false;
}

// ",data": the range is cut into chunks of the output record length (the
// first aligned down); a chunk with data is filled, within the range only.
static void fill_data_chunks(const sk_pattern_range &f)
{
    uint64_t len = record_length;
    uint64_t chunk = f.start - f.start % len;
    while (chunk <= f.end) {
        sk_block *b = image_block_from((uint32_t)chunk);
        if (!b)
            return;
        if (b->base > chunk + len - 1) {
            chunk = b->base - b->base % len;
            continue;
        }
        uint64_t last = std::min<uint64_t>(chunk + len - 1, SK_ADDR_LIMIT);
        if (chunk_has_data(chunk, last))
            fill_span(f, std::max<uint64_t>(chunk, f.start), std::min<uint64_t>(last, f.end));
        chunk += len;
    }
}

void edit_fill()
{
    for (const sk_pattern_range &f : fills) {
        if (f.data_only)
            fill_data_chunks(f);
        else
            fill_span(f, f.start, f.end);
    }
}
