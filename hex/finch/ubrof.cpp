// UBROF output: binary records under a running 16-bit CRC (polynomial
// 0x8005, each byte's bits taken least significant first, initial value 0).
//
// A module starts with {'M', day, month, year} and '?' with the CRC of those
// bytes; the CRC then starts again and runs to the end record: the module
// record {1, byte order, 16, day, month, year, name length, name} with the
// output file's name without its extension, one 'L' record per symbol, and
// per run of data {'Q', 1, address} then {'9', count, data}, at most 255
// bytes. The end record {'=', 0, 0, start address} carries the CRC, and one
// byte 0xFF closes the file.
//
// Choices where the format leaves the layout open: the year is a byte, the
// year modulo 100; the byte-order byte is 2 for little-endian, 3 for
// big-endian and 4 for any other order; a symbol record is {'L', class,
// value, name length, name}; addresses and values go through the module's
// byte-order maps (as header fields, so -V reverses them); both CRC fields
// are written low byte first and are not themselves summed.
#include "finch.h"

#include <cstring>
#include <ctime>

#include "common.h"

static uint16_t crc;   // CRC of the bytes written since the last reset

uint16_t ubrof_crc_update(uint16_t reg, uint8_t byte)
{
    for (int i = 0; i < 8; i++) {
        unsigned bit = (byte >> i) & 1;
        unsigned top = (reg >> 15) & 1;
        reg = (uint16_t)(reg << 1);
        if (bit != top)
            reg ^= 0x8005;
    }
    return reg;
}

static void put(FILE *out, const void *data, size_t n)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < n; i++)
        crc = ubrof_crc_update(crc, p[i]);
    fwrite(p, 1, n, out);
}

static void put_byte(FILE *out, uint8_t b)
{
    put(out, &b, 1);
}

static void put32(FILE *out, uint32_t v)
{
    uint8_t b[4];
    header_put32(b, v);
    put(out, b, 4);
}

// The CRC so far, low byte first, outside the sum.
static void put_crc(FILE *out)
{
    uint8_t b[2] = {(uint8_t)crc, (uint8_t)(crc >> 8)};
    fwrite(b, 1, 2, out);
}

// Symbol classes by psect.
static uint8_t ubrof_class(const std::string &psect)
{
    static const struct {
        const char *psect;
        uint8_t cls;
    } classes[] = {
        {"data", 3}, {"bss", 3}, {"rbss", 2}, {"rdata", 2}, {"strings", 2}, {"rbit", 5}, {"text", 1}, {"code", 1},
    };
    for (const auto &c : classes)
        if (psect == c.psect)
            return c.cls;
    return 0;
}

static uint8_t byte_order_code()
{
    if (memcmp(&obj_order, &order_little, sizeof obj_order) == 0)
        return 2;
    if (memcmp(&obj_order, &order_big, sizeof obj_order) == 0)
        return 3;
    return 4;
}

void ubrof_start(FILE *out)
{
    time_t now = time(nullptr);
    struct tm *t = localtime(&now);
    uint8_t day = (uint8_t)t->tm_mday, month = (uint8_t)(t->tm_mon + 1), year = (uint8_t)(t->tm_year % 100);
    crc = 0;
    const uint8_t stamp[] = {'M', day, month, year};
    put(out, stamp, sizeof stamp);
    fputc('?', out);
    put_crc(out);
    crc = 0;
    std::string name = os_path_basename(opt.output.c_str());
    name = name.substr(0, std::min<size_t>(name.rfind('.'), 255));
    const uint8_t module[] = {1, byte_order_code(), 16, day, month, year, (uint8_t)name.size()};
    put(out, module, sizeof module);
    put(out, name.data(), name.size());
    for (const table_symbol &s : ubrof_symbols) {
        std::string n = isdigit((unsigned char)s.name[0]) ? "#" + s.name : s.name;
        n = n.substr(0, 255);
        put_byte(out, 'L');
        put_byte(out, ubrof_class(s.psect));
        put32(out, s.value);
        put_byte(out, (uint8_t)n.size());
        put(out, n.data(), n.size());
    }
}

void ubrof_record(FILE *out, uint64_t addr, const uint8_t *data, unsigned n)
{
    put_byte(out, 'Q');
    put_byte(out, 1);
    put32(out, (uint32_t)addr);
    put_byte(out, '9');
    put_byte(out, (uint8_t)n);
    put(out, data, n);
}

void ubrof_end(FILE *out)
{
    const uint8_t head[] = {'=', 0, 0};
    put(out, head, sizeof head);
    put32(out, syms.start);
    put_crc(out);
    fputc(0xFF, out);
}
