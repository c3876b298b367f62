// The Intel HEX and S-record modules: the program image between the model's
// data blocks and the two HEX text formats. Neither carries symbols, files
// or lines.
//
// Readers check each record whole before using it (hex digits, the count
// against the line's length, the checksum); a bad record is reported and
// dropped, and the read goes on so that one run shows every bad line. Each
// data record becomes one data block; neighbours are merged after reading.
// Writers cut records at 16 bytes and at every 64 KiB boundary, so an
// extended address record (Intel) or the record's address field (S1, S2,
// S3) covers all of a record's bytes.
#include "egret.h"

#include <cctype>
#include <cstring>

#include "hexrec.h"

// Record bytes of a line after its first character (or two), checked to be
// hex digits in pairs; false when the text is not.
static bool decode_hex(const std::string &text, size_t from, std::vector<uint8_t> &bytes)
{
    bytes.clear();
    if ((text.size() - from) % 2)
        return false;
    for (size_t i = from; i < text.size(); i += 2) {
        unsigned b = hex_byte(text.c_str() + i);
        if (b == 0xFFFF)
            return false;
        bytes.push_back((uint8_t)b);
    }
    return true;
}

static std::string trimmed(std::string line)
{
    while (!line.empty() && isspace((unsigned char)line.back()))
        line.pop_back();
    return line;
}

static bool blank(const std::string &line) { return line.find_first_not_of(" \t\r\f\v") == std::string::npos; }

// The next line that is not blank, trimmed, with its line number.
static bool next_record(FILE *in, std::string &line, int *number)
{
    while (os_read_line(in, line)) {
        ++*number;
        if (!blank(line)) {
            line = trimmed(line);
            return true;
        }
    }
    return false;
}

static unsigned byte_sum(const std::vector<uint8_t> &bytes, size_t from, size_t to)
{
    unsigned sum = 0;
    for (size_t i = from; i < to; i++)
        sum += bytes[i];
    return sum & 0xFF;
}

// ---------------------------------------------------------------------------
// Intel HEX
// ---------------------------------------------------------------------------

static bool ihex_probe(FILE *in)
{
    std::string line;
    if (!os_read_line(in, line) || line.empty() || line[0] != ':')
        return false;
    std::vector<uint8_t> bytes;
    return decode_hex(trimmed(line), 1, bytes) && byte_sum(bytes, 0, bytes.size()) == 0;
}

enum ihex_check { IHEX_OK, IHEX_MALFORMED, IHEX_CHECKSUM };

// count, address (2), type, data, checksum: the count must fit the line,
// the value records their two or four bytes, the checksum the whole.
static ihex_check ihex_record(const std::string &line, std::vector<uint8_t> &bytes)
{
    if (line.empty() || line[0] != ':' || !decode_hex(line, 1, bytes) || bytes.size() < 5 ||
        bytes.size() != (size_t)bytes[0] + 5)
        return IHEX_MALFORMED;
    if (byte_sum(bytes, 0, bytes.size()) != 0)
        return IHEX_CHECKSUM;
    unsigned type = bytes[3], count = bytes[0];
    if (((type == 2 || type == 4) && count != 2) || ((type == 3 || type == 5) && count != 4) ||
        (type == 1 && count != 0 && count != 2))
        return IHEX_MALFORMED;
    return IHEX_OK;
}

static bool ihex_read(FILE *in, const char *name)
{
    std::string line;
    std::vector<uint8_t> r;
    uint32_t base = 0;
    int number = 0;
    bool bad = false;
    while (next_record(in, line, &number)) {
        ihex_check check = ihex_record(line, r);
        if (check != IHEX_OK) {
            msg_report(check == IHEX_CHECKSUM ? 636 : 635, name, number);
            bad = true;
            continue;
        }
        uint32_t value16 = (uint32_t)r[4] << 8 | r[5];
        uint32_t address = base + ((uint32_t)r[1] << 8 | r[2]);
        switch (r[3]) {
        case 0:
            if ((uint64_t)address + r[0] > 0x100000000ull) {
                msg_report(635, name, number);   // past the 32-bit address space
                bad = true;
            } else if (r[0]) {
                model_add_data(address, r[0], r.data() + 4, 0);
            }
            break;
        case 1: return !bad;
        case 2: base = value16 << 4; break;
        case 4: base = value16 << 16; break;
        case 3: model.entry = (value16 << 4) + ((uint32_t)r[6] << 8 | r[7]); break;   // CS:IP
        case 5: model.entry = value16 << 16 | (uint32_t)r[6] << 8 | r[7]; break;
        default: break;
        }
    }
    return !bad;
}

// Bytes of the next record from `address`: at most 16, and none past a
// 64 KiB boundary.
static uint32_t record_length(uint32_t address, uint32_t left)
{
    uint32_t to_boundary = 0x10000 - (address & 0xFFFF);
    return std::min<uint32_t>(std::min<uint32_t>(16, left), to_boundary);
}

static void ihex_write(FILE *out, const char *)
{
    uint32_t upper = 0;   // upper 16 bits of the last record written
    for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
        const data_block *b = (const data_block *)vec_get(model.blocks, i);
        for (uint32_t done = 0; done < b->length;) {
            uint32_t address = b->address + done;
            uint32_t n = record_length(address, b->length - done);
            if (address >> 16 != upper) {
                upper = address >> 16;
                hexrec_write_base(out, IHEX_LINEAR, (uint16_t)upper);
            }
            hexrec_write(out, IHEX_DATA, (uint16_t)address, b->bytes + done, n);
            done += n;
        }
    }
    hexrec_write(out, IHEX_END, 0, nullptr, 0);
}

// ---------------------------------------------------------------------------
// S-records
// ---------------------------------------------------------------------------

static bool srec_probe(FILE *in)
{
    std::string line;
    if (!os_read_line(in, line) || line.size() < 2 || line[0] != 'S' || !isdigit((unsigned char)line[1]))
        return false;
    line = trimmed(line);
    if (line.size() % 2)
        return false;
    for (size_t i = 1; i < line.size(); i++)
        if (!isxdigit((unsigned char)line[i]))
            return false;
    return true;
}

// Address bytes of each record type, 0 for the types without one we use.
static const unsigned srec_address_bytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

static bool srec_read(FILE *in, const char *name)
{
    std::string line;
    std::vector<uint8_t> r;
    int number = 0;
    bool bad = false;
    while (next_record(in, line, &number)) {
        // S, type digit, count, address, data, checksum: the count covers
        // address, data and checksum; all the bytes sum to FF.
        if (line.size() < 4 || line[0] != 'S' || !isdigit((unsigned char)line[1]) || line[1] == '4' ||
            !decode_hex(line, 2, r) || r.size() != (size_t)r[0] + 1 || r[0] < srec_address_bytes[line[1] - '0'] + 1) {
            msg_report(1603, name, number);
            bad = true;
            continue;
        }
        if (byte_sum(r, 0, r.size()) != 0xFF) {
            msg_report(1604, name, number);
            bad = true;
            continue;
        }
        unsigned type = line[1] - '0', width = srec_address_bytes[type];
        uint32_t address = 0;
        for (unsigned i = 0; i < width; i++)
            address = address << 8 | r[1 + i];
        uint32_t length = r[0] - width - 1;
        if (type >= 1 && type <= 3) {
            if ((uint64_t)address + length > 0x100000000ull) {
                msg_report(1603, name, number);
                bad = true;
            } else if (length) {
                model_add_data(address, length, r.data() + 1 + width, 0);
            }
        } else if (type >= 7) {
            model.entry = address;
            return !bad;
        }
        // S0 (header), S5 and S6 (record counts) carry no image.
    }
    return !bad;
}

static void srec_write(FILE *out, const char *)
{
    for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
        const data_block *b = (const data_block *)vec_get(model.blocks, i);
        for (uint32_t done = 0; done < b->length;) {
            uint32_t address = b->address + done;
            uint32_t n = record_length(address, b->length - done);
            unsigned width = address > 0xFFFFFF ? 4 : address < 0x10000 ? 2 : 3;
            unsigned count = n + width + 1;
            unsigned sum = count;
            fprintf(out, "S%u%02X%0*lX", width - 1, count, (int)width * 2, (unsigned long)address);
            for (unsigned k = 0; k < width; k++)
                sum += (address >> (8 * k)) & 0xFF;
            for (uint32_t k = 0; k < n; k++) {
                fprintf(out, "%02X", b->bytes[done + k]);
                sum += b->bytes[done + k];
            }
            fprintf(out, "%02X\n", ~sum & 0xFF);
            done += n;
        }
    }
}

// probe, read, write, dump, name, key, extension, binary
const format_desc ihex_format = {ihex_probe, ihex_read, ihex_write, dump_none, "Intel HEX", "ihex", "hex", false};
const format_desc srec_format = {srec_probe, srec_read, srec_write, dump_none, "Motorola HEX", "s19", "hex", false};
