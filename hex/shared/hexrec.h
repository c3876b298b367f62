// Intel HEX records as both HEX tools write them: ':' + count + 16-bit
// address + type + data + checksum, upper-case digits, "\n" line ends. The
// checksum is the two's complement of the sum of every byte after the ':'.
#pragma once

#include <cstdint>
#include <cstdio>

enum hexrec_type {
    IHEX_DATA = 0,
    IHEX_END = 1,
    IHEX_SEGMENT = 2,   // extended segment address: paragraph number
    IHEX_LINEAR = 4,    // extended linear address: upper 16 bits
};

// Writes one record; false when the stream reported an error.
bool hexrec_write(FILE *out, unsigned type, uint16_t address, const uint8_t *data, unsigned count);
// A two-byte address record (types 02 and 04), value high byte first.
bool hexrec_write_base(FILE *out, unsigned type, uint16_t value);
