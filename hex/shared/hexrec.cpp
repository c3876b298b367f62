// Intel HEX record writer shared by finch and siskin.
#include "hexrec.h"

bool hexrec_write(FILE *out, unsigned type, uint16_t address, const uint8_t *data, unsigned count)
{
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    fprintf(out, ":%02X%04X%02X", count & 0xFF, (unsigned)address, type);
    for (unsigned i = 0; i < count; i++) {
        fprintf(out, "%02X", data[i]);
        sum += data[i];
    }
    fprintf(out, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return !ferror(out);
}

bool hexrec_write_base(FILE *out, unsigned type, uint16_t value)
{
    uint8_t data[2] = {(uint8_t)(value >> 8), (uint8_t)(value & 0xFF)};
    return hexrec_write(out, type, 0, data, 2);
}
