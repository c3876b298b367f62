// The generic COFF module (key "coff"): classic COFF of the 16-bit-type
// kind for a table of target machines, written from the model, read back
// into it and dumped.
//
// Layout: file header (20 bytes, magic always big-endian, every later field
// in the machine's byte order), section headers (40 each), raw data, line
// numbers (6 or 8 bytes each by machine), symbol table (18 bytes an entry,
// auxiliary entries included) and string table (u32 size counting itself,
// then the names).
//
// Sections: one placement-only section per segment outside the program
// classes (-n), named "%s.%d" when the name came before; one "_text%d"
// section per data block, its address in program words (bytes divided by
// the machine's address scale). Names stay in place, cut to 8 characters.
//
// Symbols: per file, a ".file" entry whose auxiliary entry holds the file
// name, then the file's symbols (class 2 global, 3 local; section -1 when
// absolute). Line numbers per code section: an entry {symbol index, 0}
// names the function the following lines belong to (the code symbol of
// the file at or below their address, else the file's own entry), so a
// reader finds a line's file as the ".file" entry at or before the symbol
// that entry names.
//
// The model carries no types, so the type words are 0 and no scope
// entries (.bf, .ef, .bb, .eb, tags) are written.
#include "egret.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <unordered_map>

namespace {

const uint32_t FILE_HEADER = 20, SECTION_HEADER = 40, SYMBOL_ENTRY = 18, AOUT_HEADER = 28;
const uint32_t SECT_TEXT = 0x20, SECT_BSS = 0x80;
enum { CLASS_EXT = 2, CLASS_STAT = 3, CLASS_LABEL = 6, CLASS_FILE = 103 };

struct coff_machine {
    const char *name;
    uint16_t magic;
    uint16_t flags;            // base of f_flags
    bool big_endian;
    char type_sizes;           // 'A', 'B' or 'C'
    uint32_t pointer_size;
    uint32_t line_entry;       // 6 or 8 bytes
    uint32_t address_scale;    // bytes per program address unit
    uint32_t data_scale;
};

// Row 0 stands for no machine chosen yet.
const coff_machine machines[12] = {
    {"", 0, 0, false, 0, 0, 0, 0, 0},
    {"Motorola 68K", 0x150, 0x200, true, 'A', 4, 6, 1, 1},
    {"Tower", 0x198, 0x200, true, 'A', 4, 6, 1, 1},
    {"Hitachi H8/300", 0x8300, 0x200, true, 'B', 2, 8, 1, 1},
    {"Hitachi H8/300H", 0x8301, 0x200, true, 'A', 4, 8, 1, 1},
    {"Hitachi SH", 0x500, 0x200, true, 'A', 4, 8, 1, 1},
    {"PIC30", 0x3612, 0x100, false, 'A', 4, 8, 2, 1},
    {"PIC24", 0x3612, 0x100, false, 'A', 4, 8, 2, 1},
    {"PIC12", 0x3412, 0x100, false, 'C', 4, 8, 2, 1},
    {"PIC14", 0x3412, 0x100, false, 'C', 4, 8, 2, 1},
    {"PIC16", 0x3412, 0x100, false, 'C', 4, 8, 2, 1},
    {"PIC18", 0x3412, 0x100, false, 'C', 4, 8, 2, 1},
};

// The machine a probe chose, kept for the rest of the run (0 = none).
unsigned chosen = 0;

unsigned machine_by_magic(uint16_t magic)
{
    for (unsigned r = 1; r < std::size(machines); r++)
        if (machines[r].magic == magic)
            return r;
    return 0;
}

// The first row whose name contains `name`, case-blind; 0 when none.
unsigned machine_by_name(const std::string &name)
{
    for (unsigned r = 1; r < std::size(machines); r++)
        if (find_text_nocase(machines[r].name, name.c_str()))
            return r;
    return 0;
}

using bytes = std::vector<uint8_t>;

struct byte_order {
    bool big;
    uint16_t r16(const uint8_t *p) const { return big ? read16_be(p) : read16_le(p); }
    uint32_t r32(const uint8_t *p) const { return big ? read32_be(p) : read32_le(p); }
    void w16(uint8_t *p, uint16_t v) const { big ? write16_be(p, v) : write16_le(p, v); }
    void w32(uint8_t *p, uint32_t v) const { big ? write32_be(p, v) : write32_le(p, v); }
    void put16(bytes &b, uint16_t v) const
    {
        uint8_t t[2];
        w16(t, v);
        b.insert(b.end(), t, t + 2);
    }
    void put32(bytes &b, uint32_t v) const
    {
        uint8_t t[4];
        w32(t, v);
        b.insert(b.end(), t, t + 4);
    }
};

// ===========================================================================
// writer
// ===========================================================================

struct out_section {
    std::string name;
    uint32_t paddr = 0, size = 0, scnptr = 0, lnnoptr = 0, flags = 0;
    uint16_t nlnno = 0;
    const data_block *block = nullptr;
};

struct coff_writer {
    const coff_machine *m;
    byte_order order;
    bytes symbols;                              // 18-byte entries
    bytes strings;                              // after the size word
    std::unordered_map<std::string, uint32_t> string_at;
    std::vector<out_section> sections;
    uint32_t first_code_section = 0;            // section number of _text0
    std::vector<const data_block *> blocks;

    uint32_t count() const { return (uint32_t)(symbols.size() / SYMBOL_ENTRY); }

    uint32_t string_offset(const std::string &text)
    {
        auto found = string_at.find(text);
        if (found != string_at.end())
            return found->second;
        uint32_t at = 4 + (uint32_t)strings.size();
        strings.insert(strings.end(), text.begin(), text.end());
        strings.push_back(0);
        string_at[text] = at;
        return at;
    }

    // The 8-byte name form: in place up to 8 characters, else a zero u32
    // and the string offset.
    void put_name(uint8_t *field, const std::string &name)
    {
        if (name.size() <= 8) {
            memcpy(field, name.data(), name.size());
        } else {
            order.w32(field, 0);
            order.w32(field + 4, string_offset(name));
        }
    }

    uint32_t add_entry(const std::string &name, uint32_t value, int16_t section, uint8_t sclass, const uint8_t *aux)
    {
        uint8_t e[SYMBOL_ENTRY] = {};
        put_name(e, name);
        order.w32(e + 8, value);
        order.w16(e + 12, (uint16_t)section);
        order.w16(e + 14, 0);
        e[16] = sclass;
        e[17] = aux ? 1 : 0;
        uint32_t index = count();
        symbols.insert(symbols.end(), e, e + SYMBOL_ENTRY);
        if (aux)
            symbols.insert(symbols.end(), aux, aux + SYMBOL_ENTRY);
        return index;
    }
};

bool is_program_segment(uint32_t number)
{
    model_segment *s = model_segment_at_number(number);
    return s && model_in_program_class(s);
}

// Section number of a model address: the code section of the block that
// holds a program address, the segment section of a data address, -1
// (absolute) when no section holds it.
int16_t section_of(const coff_writer &w, uint32_t value, uint32_t segment)
{
    if (is_program_segment(segment)) {
        uint64_t byte = (uint64_t)value * w.m->address_scale;
        for (size_t j = 0; j < w.blocks.size(); j++)
            if (w.blocks[j]->address <= byte && byte < (uint64_t)w.blocks[j]->address + w.blocks[j]->length)
                return (int16_t)(w.first_code_section + j);
        return -1;
    }
    uint32_t n = model_segment_at(value, segment, w.m->data_scale);
    if (n == 0 || n > vec_count(model.segments) || is_program_segment(n))
        return -1;
    uint32_t skipped = 0;
    for (uint32_t k = 1; k <= n; k++)
        skipped += is_program_segment(k);
    return (int16_t)(n - skipped);
}

void build_sections(coff_writer &w)
{
    std::map<std::string, unsigned> seen;
    for (uint32_t k = 0; k < vec_count(model.segments); k++) {
        const model_segment *s = (const model_segment *)vec_get(model.segments, k);
        unsigned earlier = seen[s->name]++;
        if (is_program_segment(k + 1))
            continue;
        out_section c;
        c.name = (earlier ? str_printf("%s.%u", s->name, earlier) : std::string(s->name)).substr(0, 8);
        c.paddr = s->address / w.m->data_scale;
        c.size = s->size;
        c.flags = SECT_BSS;
        w.sections.push_back(c);
    }
    w.first_code_section = (uint32_t)w.sections.size() + 1;
    for (uint32_t j = 0; j < vec_count(model.blocks); j++) {
        const data_block *b = (const data_block *)vec_get(model.blocks, j);
        w.blocks.push_back(b);
        out_section c;
        c.name = str_printf("_text%u", j).substr(0, 8);
        c.paddr = b->address / w.m->address_scale;
        c.size = b->length;
        c.flags = SECT_TEXT;
        c.block = b;
        w.sections.push_back(c);
    }
}

// The symbols of one file (or of none), each an entry; code symbols are
// remembered with their indexes as the functions lines are counted under.
void write_symbols(coff_writer &w, model_symbol *const *list, uint32_t n,
                   std::vector<std::pair<uint32_t, uint32_t>> &functions)
{
    for (uint32_t k = 0; k < n; k++) {
        const model_symbol *s = list[k];
        int16_t section = (s->flags & SYMF_ABSOLUTE) ? -1 : section_of(w, s->value, s->segment);
        uint32_t index = w.add_entry(s->name, s->value, section, (s->flags & SYMF_LOCAL) ? CLASS_STAT : CLASS_EXT,
                                     nullptr);
        if (is_program_segment(s->segment) && !(s->flags & SYMF_ABSOLUTE))
            functions.push_back({s->value, index});
    }
    std::sort(functions.begin(), functions.end());
}

void coff_write(FILE *out, const char *name)
{
    if (settings.classes.empty())
        msg_report(1661);
    unsigned row = chosen;
    if (!row) {
        std::string machine = settings.processor_tokens.empty() ? settings.processor : settings.processor_tokens[0];
        if (machine.empty())
            msg_report(1662);
        row = machine_by_name(machine);
        if (!row)
            msg_report(1663, machine.c_str());
    }
    coff_writer w;
    w.m = &machines[row];
    w.order.big = w.m->big_endian;
    settings.big_endian = w.m->big_endian;
    build_sections(w);

    // Symbols: those of no file first, then per file its ".file" entry and
    // its symbols. A file with lines but no symbols still gets its entry,
    // so its lines can name it.
    std::vector<uint32_t> file_entry(vec_count(model.files) + 1, 0);
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> functions(vec_count(model.files) + 1);
    std::vector<model_symbol *> loose;
    for (uint32_t i = 0; i < vec_count(model.symbols); i++) {
        model_symbol *s = (model_symbol *)vec_get(model.symbols, i);
        if (!model_file_at(s->file))
            loose.push_back(s);
    }
    write_symbols(w, loose.data(), (uint32_t)loose.size(), functions[0]);
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        const model_file *f = (const model_file *)vec_get(model.files, i);
        if (!f->symbol_count && !f->line_count)
            continue;
        uint8_t aux[SYMBOL_ENTRY] = {};
        w.put_name(aux, f->name);
        file_entry[f->number] = w.add_entry(".file", 0, -2, CLASS_FILE, aux);
        if (f->symbols)
            write_symbols(w, f->symbols, f->symbol_count, functions[f->number]);
    }

    // Raw data, then line numbers per code section.
    uint32_t nscns = (uint32_t)w.sections.size();
    uint32_t start = FILE_HEADER + SECTION_HEADER * vec_count(model.segments) + SECTION_HEADER * nscns;
    bytes body;
    auto offset = [&]() -> uint32_t {
        uint64_t at = (uint64_t)start + body.size();
        if (at > 0xFFFFFFF0u)
            msg_report(1664, name);
        return (uint32_t)at;
    };
    for (out_section &c : w.sections)
        if (c.block) {
            c.scnptr = offset();
            body.insert(body.end(), c.block->bytes, c.block->bytes + c.block->length);
        }
    uint32_t placed = 0, lines = 0;
    for (uint32_t s = w.first_code_section; s <= nscns; s++) {
        out_section &c = w.sections[s - 1];
        c.lnnoptr = offset();
        for (uint32_t i = 0; i < vec_count(model.files); i++) {
            const model_file *f = (const model_file *)vec_get(model.files, i);
            const auto &fns = functions[f->number];
            uint32_t current = 0xFFFFFFFF;
            for (uint32_t j = 0; f->lines && j < f->line_count && c.nlnno < 0xFFFE; j++) {
                const model_line *l = f->lines[j];
                if (s == w.first_code_section)
                    lines++;
                if (!is_program_segment(l->segment) || section_of(w, l->address, l->segment) != (int16_t)s)
                    continue;
                auto past = std::upper_bound(fns.begin(), fns.end(), std::make_pair(l->address, 0xFFFFFFFFu));
                uint32_t function = past == fns.begin() ? file_entry[f->number] : std::prev(past)->second;
                if (function != current) {
                    w.order.put32(body, function);
                    w.m->line_entry == 6 ? w.order.put16(body, 0) : w.order.put32(body, 0);
                    c.nlnno++;
                    current = function;
                }
                w.order.put32(body, l->address);
                w.m->line_entry == 6 ? w.order.put16(body, (uint16_t)std::min<uint32_t>(l->line, 0xFFFF))
                                     : w.order.put32(body, l->line);
                c.nlnno++;
                placed++;
            }
        }
    }
    if (w.first_code_section > nscns)
        for (uint32_t i = 0; i < vec_count(model.files); i++)
            lines += ((const model_file *)vec_get(model.files, i))->line_count;
    if (placed < lines)
        msg_report(1665, lines - placed, name);

    uint32_t symptr = offset();
    body.insert(body.end(), w.symbols.begin(), w.symbols.end());
    w.order.put32(body, 4 + (uint32_t)w.strings.size());
    body.insert(body.end(), w.strings.begin(), w.strings.end());

    bytes head;
    head.push_back((uint8_t)(w.m->magic >> 8));
    head.push_back((uint8_t)w.m->magic);
    w.order.put16(head, (uint16_t)nscns);
    w.order.put32(head, (uint32_t)time(nullptr));
    w.order.put32(head, symptr);
    w.order.put32(head, w.count());
    w.order.put16(head, 0);
    w.order.put16(head, (uint16_t)(w.m->flags | 3));
    for (const out_section &c : w.sections) {
        uint8_t field[8] = {};
        memcpy(field, c.name.data(), c.name.size());
        head.insert(head.end(), field, field + 8);
        for (uint32_t v : {c.paddr, c.paddr, c.size, c.scnptr, 0u, c.lnnoptr})
            w.order.put32(head, v);
        w.order.put16(head, 0);
        w.order.put16(head, c.nlnno);
        w.order.put32(head, c.flags);
    }
    head.resize(start, 0);
    if (fwrite(head.data(), 1, head.size(), out) != head.size() || fwrite(body.data(), 1, body.size(), out) != body.size())
        msg_report(413, name);
}

// ===========================================================================
// reading and dumping
// ===========================================================================

struct coff_image {
    bytes data;
    const char *name;
    const coff_machine *m = nullptr;
    byte_order order{false};
    uint16_t magic = 0, nscns = 0, opthdr = 0, flags = 0;
    uint32_t timdat = 0, symptr = 0, nsyms = 0;
    const uint8_t *strings = nullptr;
    uint32_t string_size = 0;

    const uint8_t *at(uint64_t offset, uint64_t length) const
    {
        return offset <= data.size() && length <= data.size() - offset ? data.data() + offset : nullptr;
    }
    const uint8_t *symbol(uint32_t i) const { return at(symptr + (uint64_t)SYMBOL_ENTRY * i, SYMBOL_ENTRY); }
    const uint8_t *section(uint32_t k) const
    {
        return at(FILE_HEADER + opthdr + (uint64_t)SECTION_HEADER * k, SECTION_HEADER);
    }
    // Line-number entry n of those at `offset`: its line and its address
    // (or symbol index); false when it lies past the file.
    bool line_entry(uint32_t offset, uint32_t n, uint32_t *line, uint32_t *first) const
    {
        uint32_t size = m->line_entry;
        const uint8_t *l = at(offset + (uint64_t)size * n, size);
        if (!l)
            return false;
        *line = size == 6 ? order.r16(l + 4) : order.r32(l + 4);
        *first = order.r32(l);
        return true;
    }
};

bool short_read(const coff_image &img, const char *what)
{
    msg_report(1614, what, img.name);
    return false;
}

// The whole file, its header, section headers, symbol table and string
// table checked to lie inside it.
bool read_image(FILE *in, coff_image &img)
{
    img.data = read_all(in);
    const uint8_t *h = img.at(0, FILE_HEADER);
    if (!h)
        return short_read(img, "COFF header");
    img.magic = read16_be(h);
    unsigned row = chosen && machines[chosen].magic == img.magic ? chosen : machine_by_magic(img.magic);
    if (!row) {
        msg_report(1666, img.magic, img.name);
        return false;
    }
    img.m = &machines[row];
    img.order.big = img.m->big_endian;
    img.nscns = img.order.r16(h + 2);
    img.timdat = img.order.r32(h + 4);
    img.symptr = img.order.r32(h + 8);
    img.nsyms = img.order.r32(h + 12);
    img.opthdr = img.order.r16(h + 16);
    img.flags = img.order.r16(h + 18);
    if (!img.at(FILE_HEADER + img.opthdr, (uint64_t)SECTION_HEADER * img.nscns))
        return short_read(img, "COFF section header");
    if (!img.at(img.symptr, (uint64_t)SYMBOL_ENTRY * img.nsyms))
        return short_read(img, "COFF symbol table");
    uint64_t table = img.symptr + (uint64_t)SYMBOL_ENTRY * img.nsyms;
    const uint8_t *t = img.at(table, 4);
    if (!t)
        return short_read(img, "COFF string table");
    img.string_size = img.order.r32(t);
    if (img.string_size < 4) {
        msg_report(1615, img.name);
        return false;
    }
    if (!img.at(table, img.string_size))
        return short_read(img, "COFF string table");
    img.strings = t;
    return true;
}

const char *table_string(const coff_image &img, uint32_t offset)
{
    if (offset < 4 || offset >= img.string_size)
        return nullptr;
    const char *s = (const char *)img.strings + offset;
    return memchr(s, 0, img.string_size - offset) ? s : nullptr;
}

// A name field: in place up to `room` characters, or a zero u32 and the
// string offset.
bool read_name(const coff_image &img, const uint8_t *field, size_t room, std::string &name)
{
    if (img.order.r32(field) == 0) {
        const char *s = table_string(img, img.order.r32(field + 4));
        if (!s)
            return short_read(img, "COFF string table");
        name = s;
    } else {
        name.assign((const char *)field, strnlen((const char *)field, room));
    }
    return true;
}

std::string section_name(const uint8_t *h) { return std::string((const char *)h, strnlen((const char *)h, 8)); }

// The auxiliary entry of symbol i (its first one), or null when the
// symbol has none; false (reported) when it runs past the table.
bool aux_of(const coff_image &img, uint32_t i, const uint8_t **aux)
{
    const uint8_t *e = img.symbol(i);
    uint8_t numaux = e[17];
    *aux = nullptr;
    if (!numaux)
        return true;
    if ((uint64_t)i + numaux >= img.nsyms) {
        msg_report(1621);
        return false;
    }
    *aux = img.symbol(i + 1);
    return true;
}

bool coff_probe(FILE *in)
{
    uint8_t h[FILE_HEADER];
    if (fread(h, 1, sizeof h, in) != sizeof h)
        return false;
    unsigned row = machine_by_magic(read16_be(h));
    if (!row)
        return false;
    byte_order order{machines[row].big_endian};
    if (order.r16(h + 2) > 1000 || (int32_t)order.r32(h + 8) < 0 || (int32_t)order.r32(h + 12) < 0)
        return false;
    settings.big_endian = order.big;
    chosen = row;
    return true;
}

bool coff_read(FILE *in, const char *name)
{
    coff_image img;
    img.name = name;
    if (!read_image(in, img))
        return false;
    // Sections: each a segment; file section numbers map to them.
    std::vector<uint32_t> segment_of(img.nscns + 1, 0);
    for (uint32_t k = 0; k < img.nscns; k++) {
        const uint8_t *h = img.section(k);
        uint32_t paddr = img.order.r32(h + 8), size = img.order.r32(h + 16), scnptr = img.order.r32(h + 20);
        uint32_t flags = img.order.r32(h + 36);
        bool code = flags & SECT_TEXT, data = !(flags & SECT_BSS) && size;
        uint32_t scale = code ? img.m->address_scale : img.m->data_scale;
        uint32_t number = vec_count(model.segments) + 1;
        segment_of[k + 1] =
            model_add_segment(section_name(h).c_str(), paddr, (uint32_t)(((uint64_t)size + scale - 1) / scale), paddr, number);
        if (!data)
            continue;
        const uint8_t *raw = img.at(scnptr, size);
        uint64_t address = (uint64_t)paddr * scale;
        if (!raw || address + size > 0x100000000ull)
            return short_read(img, "COFF data");
        for (uint32_t done = 0; done < size;) {
            uint32_t n = std::min<uint32_t>(16384, size - done);
            model_add_data((uint32_t)address + done, n, raw + done, segment_of[k + 1]);
            done += n;
        }
    }

    // Symbols: a file's name is in its auxiliary entry; auxiliary entries
    // are passed over, never read as symbols.
    std::vector<std::pair<uint32_t, uint32_t>> files;   // .file entry index -> model file, ascending
    uint32_t file = 0;
    for (uint32_t i = 0; i < img.nsyms; i++) {
        const uint8_t *e = img.symbol(i), *aux;
        if (!aux_of(img, i, &aux))
            return false;
        uint8_t sclass = e[16];
        std::string symbol;
        switch (sclass) {
        case CLASS_EXT:
        case CLASS_STAT:
        case CLASS_LABEL: {
            if (!read_name(img, e, 8, symbol))
                return false;
            int16_t scnum = (int16_t)img.order.r16(e + 12);
            uint32_t segment = 0;
            if (scnum > 0 && (uint32_t)scnum <= img.nscns)
                segment = segment_of[scnum];
            else if (scnum > 0)
                msg_report(1622, (int)scnum, symbol.c_str(), name);
            uint32_t flags = (scnum == -1 ? SYMF_ABSOLUTE : 0) | (sclass == CLASS_STAT ? SYMF_LOCAL : 0);
            model_add_symbol(symbol.c_str(), img.order.r32(e + 8), segment, file, flags);
            break;
        }
        case CLASS_FILE:
            if (!aux) {
                msg_report(1667, i, name);
                return false;
            }
            if (!read_name(img, aux, 14, symbol))
                return false;
            file = model_add_file(symbol.c_str());
            files.push_back({i, file});
            break;
        case 0: case 1: case 8: case 10: case 11: case 12: case 13: case 15: case 16: case 17: case 18: case 19:
        case 100: case 101: case 102: break;
        default: msg_report(1618, (int)sclass, name); break;
        }
        i += e[17];
    }

    // Line numbers: an entry of line 0 names a function; the lines after it
    // belong to the file whose ".file" entry comes at or before it.
    for (uint32_t k = 0; k < img.nscns; k++) {
        const uint8_t *h = img.section(k);
        uint32_t lnnoptr = img.order.r32(h + 28);
        uint16_t nlnno = img.order.r16(h + 34);
        uint32_t current = 0, line, first;
        for (uint32_t n = 0; n < nlnno; n++) {
            if (!img.line_entry(lnnoptr, n, &line, &first))
                return short_read(img, "COFF line number");
            if (line) {
                model_add_line(line, first, segment_of[k + 1], current, 0);
                continue;
            }
            if (first >= img.nsyms)
                msg_report(1668, first, name);
            auto past = std::upper_bound(files.begin(), files.end(), std::make_pair(first, 0xFFFFFFFFu));
            current = first >= img.nsyms || past == files.begin() ? 0 : std::prev(past)->second;
        }
    }
    return true;
}

// --- dump --------------------------------------------------------------------

const char *const base_names[16] = {"null", "void", "char",   "short", "int",   "long",  "float",  "double",
                                    "struct", "union", "enum", "moe",  "uchar", "ushort", "uint", "ulong"};

// Those of the Microchip COFF file but its own 107-109.
const char *class_description(unsigned c) { return c >= 107 && c <= 109 ? nullptr : coff_class_description(c); }

std::string type_text(uint16_t type)
{
    std::string out;
    for (uint32_t d = type >> 4; d; d >>= 2)
        switch (d & 3) {
        case 1: out += "pointer to "; break;
        case 2: out += "function returning "; break;
        case 3: out += "array of "; break;
        default: break;
        }
    return out + base_names[type & 15];
}

bool coff_dump(FILE *in)
{
    coff_image img;
    img.name = "input";
    if (!read_image(in, img))
        return false;
    time_t when = img.timdat;
    printf("COFF header:\n\tMagic:\t\t0x%X", img.order.r16(img.data.data()));
    if (img.m != &machines[0])
        printf(" (%s)", img.m->name);
    printf("\n\tSections:\t%u\n\tDated:\t\t%s\tSymptr:\t\t0x%lX\n\tNsyms:\t\t%ld\n\tOpthdr:\t\t%u\n\tFlags:\t\t0x%X",
           img.nscns, ctime(&when), (unsigned long)img.symptr, (long)img.nsyms, img.opthdr, img.flags);
    for (unsigned b = 0; b < 13; b++)
        if (img.flags >> b & 1)
            printf(" %s", coff_file_flag_names[b]);
    printf("\n\n");
    if ((img.magic == 0x3412 || img.magic == 0x3612) && img.opthdr) {
        const uint8_t *o = img.at(FILE_HEADER, AOUT_HEADER);
        if (img.opthdr != AOUT_HEADER) {
            msg_report(1619, "AOUT", AOUT_HEADER);
        } else if (!o) {
            short_read(img, "AOUT optional header");
        } else {
            printf("AOUT optional header:\n\tMagic:\t\t0x%X", img.order.r16(o));
            printf("\n\tVersion:\t0x%X\n\tText size:\t0x%lX\n\tInit. data:\t0x%lX\n\tUninit. data:\t0x%lX\n"
                   "\tEntry point:\t0x%lX\n\tText base:\t0x%lX\n\tData base:\t0x%lX\n",
                   img.order.r16(o + 2), (unsigned long)img.order.r32(o + 4), (unsigned long)img.order.r32(o + 8),
                   (unsigned long)img.order.r32(o + 12), (unsigned long)img.order.r32(o + 16),
                   (unsigned long)img.order.r32(o + 20), (unsigned long)img.order.r32(o + 24));
        }
    }
    std::vector<std::string> names;
    for (uint32_t k = 0; k < img.nscns; k++) {
        const uint8_t *h = img.section(k);
        names.push_back(section_name(h));
        uint32_t flags = img.order.r32(h + 36);
        printf("Section %u: %s: @%lX size 0x%lX lines %u flags 0x%lX", k + 1, names.back().c_str(),
               (unsigned long)img.order.r32(h + 8), (unsigned long)img.order.r32(h + 16), img.order.r16(h + 34),
               (unsigned long)flags);
        for (int b = 7; b >= 0; b--)
            if (flags >> b & 1)
                printf(" %s", coff_section_flag_names[b]);
        printf("\n");
    }
    printf("\nString table: %ld bytes\n", (long)img.string_size);
    if (settings.verbose == 0)
        return true;
    printf("Symbol table:\n");
    std::unordered_map<uint32_t, std::string> symbol_names;
    for (uint32_t i = 0; i < img.nsyms; i++) {
        const uint8_t *e = img.symbol(i), *aux;
        if (!aux_of(img, i, &aux))
            return false;
        std::string symbol;
        if (!read_name(img, e, 8, symbol))
            return false;
        unsigned sclass = e[16], numaux = e[17];
        int16_t scnum = (int16_t)img.order.r16(e + 12);
        uint16_t type = img.order.r16(e + 14);
        uint32_t value = img.order.r32(e + 8);
        const char *description = class_description(sclass);
        std::string shown = description ? description : str_printf("??Unknown (%u)", sclass);
        uint32_t size = aux && sclass != CLASS_FILE ? img.order.r16(aux + 6) : 0;
        printf("%5u: (%ld)\t%24.24s %u %lu[%lu]\t", i, (long)scnum, shown.c_str(), numaux, (unsigned long)size, 1ul);
        std::string where = scnum >= 1 && scnum <= (int)img.nscns ? names[scnum - 1] : "(abs)";
        if (sclass == CLASS_FILE) {
            std::string file;
            if (aux && !read_name(img, aux, 14, file))
                return false;
            printf("%s %s", file.c_str(), symbol.c_str());
        } else if (sclass == 100 || sclass == 101) {
            printf("%s = %lX: %s", symbol.c_str(), (unsigned long)value, where.c_str());
            if (aux)
                printf(": line %u, index %lu", img.order.r16(aux + 4), (unsigned long)img.order.r32(aux + 12));
        } else {
            printf("%s = %lX: %s %s", symbol.c_str(), (unsigned long)value, where.c_str(), type_text(type).c_str());
        }
        printf("\n");
        symbol_names[i] = symbol;
        i += numaux;
    }
    for (uint32_t k = 0; k < img.nscns; k++) {
        const uint8_t *h = img.section(k);
        uint16_t n = img.order.r16(h + 34);
        if (!n)
            continue;
        uint32_t lnnoptr = img.order.r32(h + 28), line, first;
        printf("Section %u line numbers: %u, file offset 0x%lX\n", k, n, (unsigned long)lnnoptr);
        for (uint32_t j = 0; j < n; j++) {
            if (!img.line_entry(lnnoptr, j, &line, &first))
                return short_read(img, "COFF line number");
            if (line) {
                printf("%5.5lu:\t%lX\n", (unsigned long)line, (unsigned long)first);
            } else {
                auto found = symbol_names.find(first);
                printf("Symbol: %s (%lu)\n", found == symbol_names.end() ? "??" : found->second.c_str(),
                       (unsigned long)first);
            }
        }
    }
    return true;
}

} // namespace

// probe, read, write, dump, name, key, extension, binary
const format_desc coff_format = {coff_probe, coff_read, coff_write, coff_dump, "COFF", "coff", "cof", true};
