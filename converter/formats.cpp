// The format table: one row per format egret knows, in a fixed order (a
// format's number is its position, from 1), and the lookup of a format by
// its key, which may be abbreviated as long as it stays unambiguous.
//
// A row whose module is not built yet names the not_built operations:
// asked to read or write it, egret stops with a numbered message before it
// reads or writes anything, so such a request never leaves an empty file
// or ends as a success.
#include "egret.h"

#include <cctype>
#include <cstdarg>
#include <cstring>

// A format whose data cannot be recognised from its start (or whose module
// is not built) never claims an input.
static bool probe_none(FILE *) { return false; }
static bool read_not_built(FILE *, const char *) { return false; }
static void write_not_built(FILE *, const char *) {}
static bool dump_not_built(FILE *) { return false; }

bool dump_none(FILE *) { return false; }

// A module still to come: its name, key, extension and binary flag.
#define NOT_BUILT(name, key, ext, binary) \
    {probe_none, read_not_built, write_not_built, dump_not_built, name, key, ext, binary}

static const format_desc pe_format = NOT_BUILT("P&E", "pe", "pe", true);
static const format_desc eomf51_format = NOT_BUILT("Extended OMF-51", "eomf51", "abs", true);
static const format_desc omf51_format = NOT_BUILT("OMF-51", "omf51", "omf", true);
static const format_desc elf_format = {elf_probe, elf_read, elf_write, elf_dump, "ELF/DWARF", "elf", "elf", true};
static const format_desc ubrof_format = NOT_BUILT("UBROF", "ubrof", "d43", true);
static const format_desc htk_format = NOT_BUILT("Holtek DBG", "htk", "dbg", true);
static const format_desc tsk_format = NOT_BUILT("Holtek TSK", "tsk", "tsk", true);
static const format_desc titxt_format = NOT_BUILT("TI-.TXT", "titxt", "txt", false);

const format_desc *const format_table[] = {
    /*  1 */ &symfile_format,
    /*  2 */ &pe_format,
    /*  3 */ &eomf51_format,
    /*  4 */ &omf51_format,
    /*  5 */ &ihex_format,
    /*  6 */ &srec_format,
    /*  7 */ &cod_format,
    /*  8 */ &mcoff_format,
    /*  9 */ &coff_format,
    /* 10 */ &icoff_format,
    /* 11 */ &elf_format,
    /* 12 */ &ubrof_format,
    /* 13 */ &htk_format,
    /* 14 */ &tsk_format,
    /* 15 */ &titxt_format,
};
const unsigned format_count = std::size(format_table);
static_assert(std::size(format_table) == 15, "the table's order numbers the formats");

bool format_can_read(const format_desc *f) { return f->read != read_not_built; }
bool format_can_write(const format_desc *f) { return f->write != write_not_built; }
bool format_can_dump(const format_desc *f) { return f->dump != dump_not_built; }

// 1. An empty key is refused. 2. An exact key wins at once; the first key
// the text begins is remembered, a second one is ambiguous. 3. The one
// remembered, else unknown.
unsigned format_lookup(const char *text)
{
    if (!*text)
        msg_report(602);
    unsigned found = 0;
    size_t n = strlen(text);
    for (unsigned i = 0; i < format_count; i++) {
        const char *key = format_table[i]->key;
        if (strcmp(key, text) == 0)
            return i + 1;
        if (strncmp(key, text, n) == 0) {
            if (found)
                msg_report(603, text);
            found = i + 1;
        }
    }
    if (!found)
        msg_report(604, text);
    return found;
}

// ---------------------------------------------------------------------------
// the verbose log and the hex dump the modules share
// ---------------------------------------------------------------------------

std::vector<uint8_t> read_all(FILE *in)
{
    std::vector<uint8_t> data;
    uint8_t chunk[16384];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, in)) > 0;)
        data.insert(data.end(), chunk, chunk + n);
    return data;
}

void log_verbose(const char *format, ...)
{
    if (!settings.verbose)
        return;
    fflush(stdout);
    va_list ap;
    va_start(ap, format);
    std::string text = str_vprintf(format, ap);
    va_end(ap);
    msg_print("==> %s", text.c_str());
}

void hex_dump(FILE *out, uint32_t address, unsigned width, const uint8_t *bytes, size_t count,
              const char *address_format, bool text)
{
    if (width == 0)
        width = 16;
    for (size_t at = 0; at < count;) {
        fprintf(out, address_format, (unsigned long)address);
        size_t n = std::min<size_t>(width, count - at);
        for (size_t i = 0; i < n; i++)
            fprintf(out, " %02X", bytes[at + i]);
        if (text) {
            fprintf(out, "%*s ", (int)(3 * (width - n)), "");
            for (size_t i = 0; i < n; i++)
                fputc(isprint(bytes[at + i]) ? bytes[at + i] : '.', out);
        }
        fputc('\n', out);
        at += n;
        address += (uint32_t)n;
    }
}
