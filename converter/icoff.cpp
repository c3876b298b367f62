// The ICOFF module (key "icoff"): a flat COFF of files and their symbols,
// names in a sorted string table, one section per model segment holding
// its program bytes, and line numbers per section. No type information.
//
// Layout, every multi-byte field big-endian: file header (20 bytes, magic
// 0x181, flags 0x1003), section headers (40 each), raw data, line numbers
// (6 each: u32 address, u16 line; line 0 marks a change of file, the u32
// then being the file entry's symbol index), symbol table (18 each: u32
// name offset, u32 value, u32 0, s32 section, u8 class, u8 type), string
// table (a zero byte, then the names, sorted, each once).
//
// Section addresses are the segment's own units, sizes are bytes: a
// program-memory segment is scaled by the bytes per program word where it
// meets the data blocks, and the reader scales back by the same -p
// tokens. Section numbers read from a file are mapped to the segments the
// reader made; one out of range is a warning and no segment.
#include "egret.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

namespace {

const uint16_t MAGIC = 0x181;
const uint32_t FILE_HEADER = 20, SECTION_HEADER = 40, LINE_ENTRY = 6, SYMBOL_ENTRY = 18;
const uint32_t FLAG_BSS = 0x4080, FLAG_TEXT = 0x4020, FLAG_DATA = 0x4040;
enum { CLASS_GLOBAL = 1, CLASS_LOCAL = 2, CLASS_FILE = 55 };

using bytes = std::vector<uint8_t>;

// The writer sets the run's byte order to big-endian first.
void put16(bytes &b, uint16_t v) { bytes_put16(b, v); }
void put32(bytes &b, uint32_t v) { bytes_put32(b, v); }

uint32_t segment_scale(const model_segment *s) { return model_in_program_class(s) ? model_bytes_per_word() : 1; }

bool has_text(const char *name)
{
    return find_text_nocase(name, "text") != nullptr;
}

// ---------------------------------------------------------------------------
// writer
// ---------------------------------------------------------------------------

struct icoff_section {
    uint32_t paddr, size, scnptr, lnnoptr, flags;
    uint16_t nlnno;
    std::string name;
};

void icoff_write(FILE *out, const char *name)
{
    settings.big_endian = true;
    uint32_t count = vec_count(model.segments);
    bytes body;   // everything after the section headers
    uint32_t base = FILE_HEADER + SECTION_HEADER * count;
    std::vector<icoff_section> sections;

    // Raw data: a segment's blocks at their places, gaps zero.
    for (uint32_t k = 1; k <= count; k++) {
        const model_segment *s = model_segment_at_number(k);
        uint64_t scale = segment_scale(s), start = (uint64_t)s->load * scale;
        icoff_section c = {s->address, (uint32_t)std::min<uint64_t>((uint64_t)s->size * scale, 0xFFFFFFFFu),
                           base + (uint32_t)body.size(), 0, FLAG_BSS, 0, std::string(s->name).substr(0, 8)};
        size_t at = body.size();
        uint64_t end = 0;
        for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
            const data_block *b = (const data_block *)vec_get(model.blocks, i);
            if (b->segment != k || b->address < start)
                continue;
            uint64_t from = at + (b->address - start);
            if (from + b->length > 0xFFFFFFF0u)
                msg_report(1660, s->name);
            if (body.size() < from + b->length)
                body.resize(from + b->length, 0);
            memcpy(&body[from], b->bytes, b->length);
            end = std::max<uint64_t>(end, b->address - start + b->length);
            c.flags = has_text(s->name) ? FLAG_TEXT : FLAG_DATA;
        }
        if (c.flags != FLAG_BSS) {
            end = std::max<uint64_t>(end, c.size);
            body.resize(at + end, 0);
            c.size = (uint32_t)end;
        }
        sections.push_back(c);
    }

    // Symbol indexes: each file with symbols takes its entry and theirs.
    std::vector<uint32_t> file_index(vec_count(model.files) + 1, 0);
    uint32_t nsyms = 0;
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        const model_file *f = (const model_file *)vec_get(model.files, i);
        if (f->symbol_count) {
            file_index[f->number] = nsyms;
            nsyms += 1 + f->symbol_count;
        }
    }

    // Line numbers per section, a file-change entry before each file's run.
    for (uint32_t k = 1; k <= count; k++) {
        icoff_section &c = sections[k - 1];
        c.lnnoptr = base + (uint32_t)body.size();
        uint32_t last_file = 0;
        for (uint32_t i = 0; i < vec_count(model.files); i++) {
            const model_file *f = (const model_file *)vec_get(model.files, i);
            for (uint32_t j = 0; f->lines && j < f->line_count && c.nlnno < 0xFFFE; j++) {
                const model_line *l = f->lines[j];
                if (l->segment != k)
                    continue;
                if (f->number != last_file) {
                    put32(body, file_index[f->number]);
                    put16(body, 0);
                    c.nlnno++;
                    last_file = f->number;
                }
                put32(body, l->address);
                put16(body, (uint16_t)std::min<uint32_t>(l->line, 0xFFFF));
                c.nlnno++;
            }
        }
    }

    // Strings: every name once, sorted.
    std::set<std::string> names;
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        const model_file *f = (const model_file *)vec_get(model.files, i);
        if (!f->symbol_count)
            continue;
        names.insert(f->name);
        for (uint32_t k = 0; f->symbols && k < f->symbol_count; k++)
            names.insert(f->symbols[k]->name);
    }
    std::map<std::string, uint32_t> offset_of;
    bytes strings = {0};
    for (const std::string &n : names) {
        offset_of[n] = (uint32_t)strings.size();
        strings.insert(strings.end(), n.begin(), n.end());
        strings.push_back(0);
    }

    uint32_t symptr = base + (uint32_t)body.size();
    auto put_symbol = [&](const std::string &n, uint32_t value, int32_t section, uint8_t sclass) {
        put32(body, offset_of.at(n));
        put32(body, value);
        put32(body, 0);
        put32(body, (uint32_t)section);
        body.push_back(sclass);
        body.push_back(0);
    };
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        const model_file *f = (const model_file *)vec_get(model.files, i);
        if (!f->symbol_count)
            continue;
        put_symbol(f->name, 0, 0, CLASS_FILE);
        for (uint32_t k = 0; f->symbols && k < f->symbol_count; k++) {
            const model_symbol *s = f->symbols[k];
            int32_t section = (s->flags & SYMF_ABSOLUTE) ? -1 : (int32_t)s->segment;
            put_symbol(s->name, s->value, section, (s->flags & SYMF_LOCAL) ? CLASS_LOCAL : CLASS_GLOBAL);
        }
    }
    body.insert(body.end(), strings.begin(), strings.end());

    bytes head;
    put16(head, MAGIC);
    put16(head, (uint16_t)count);
    put32(head, (uint32_t)time(nullptr));
    put32(head, symptr);
    put32(head, nsyms);
    put16(head, 0);
    put16(head, 0x1003);
    for (const icoff_section &c : sections) {
        uint8_t field[8] = {};
        memcpy(field, c.name.data(), c.name.size());
        head.insert(head.end(), field, field + 8);
        for (uint32_t v : {c.paddr, c.paddr, c.size, c.scnptr, 0u, c.lnnoptr})
            put32(head, v);
        put16(head, 0);
        put16(head, c.nlnno);
        put32(head, c.flags);
    }
    if (fwrite(head.data(), 1, head.size(), out) != head.size() || fwrite(body.data(), 1, body.size(), out) != body.size())
        msg_report(413, name);
}

// ---------------------------------------------------------------------------
// reading and dumping
// ---------------------------------------------------------------------------

struct icoff_image {
    bytes data;
    const char *name;
    uint16_t nscns = 0, opthdr = 0, flags = 0;
    uint32_t timdat = 0, symptr = 0, nsyms = 0;

    const uint8_t *at(uint64_t offset, uint64_t length) const
    {
        return offset <= data.size() && length <= data.size() - offset ? data.data() + offset : nullptr;
    }
};

bool short_read(const icoff_image &img, const char *what)
{
    msg_report(1614, what, img.name);
    return false;
}

bool read_image(FILE *in, icoff_image &img)
{
    img.data = read_all(in);
    const uint8_t *h = img.at(0, FILE_HEADER);
    if (!h)
        return short_read(img, "COFF header");
    img.nscns = read16_be(h + 2);
    img.timdat = read32_be(h + 4);
    img.symptr = read32_be(h + 8);
    img.nsyms = read32_be(h + 12);
    img.opthdr = read16_be(h + 16);
    img.flags = read16_be(h + 18);
    if (!img.at(img.symptr, (uint64_t)SYMBOL_ENTRY * img.nsyms))
        return short_read(img, "COFF symbol table");
    if (!img.at(FILE_HEADER + img.opthdr, (uint64_t)SECTION_HEADER * img.nscns))
        return short_read(img, "COFF section header");
    return true;
}

const uint8_t *section_header(const icoff_image &img, uint32_t k)
{
    return img.at(FILE_HEADER + img.opthdr + (uint64_t)SECTION_HEADER * k, SECTION_HEADER);
}

std::string section_name(const uint8_t *h) { return std::string((const char *)h, strnlen((const char *)h, 8)); }

// The string table: from after the symbols to the end of the file.
std::string table_string(const icoff_image &img, uint32_t offset, bool *ok)
{
    uint64_t start = img.symptr + (uint64_t)SYMBOL_ENTRY * img.nsyms;
    uint64_t size = img.data.size() - start;
    const uint8_t *t = img.data.data() + start;
    if (offset >= size || !memchr(t + offset, 0, size - offset)) {
        *ok = false;
        return "";
    }
    return (const char *)t + offset;
}

struct icoff_symbol {
    uint32_t name_offset;
    std::string name;
    uint32_t value;
    int32_t section;
    uint8_t sclass, type;
};

// Symbol i with its name; false (reported) when the name lies outside the
// string table.
bool symbol_at(const icoff_image &img, uint32_t i, icoff_symbol &s)
{
    const uint8_t *e = img.at(img.symptr + (uint64_t)SYMBOL_ENTRY * i, SYMBOL_ENTRY);
    bool ok = true;
    s.name_offset = read32_be(e);
    s.name = table_string(img, s.name_offset, &ok);
    if (!ok)
        return short_read(img, "COFF string table");
    s.value = read32_be(e + 4);
    s.section = (int32_t)read32_be(e + 12);
    s.sclass = e[16];
    s.type = e[17];
    return true;
}

bool icoff_probe(FILE *in)
{
    uint8_t h[FILE_HEADER];
    if (fread(h, 1, sizeof h, in) != sizeof h || read16_be(h) != MAGIC)
        return false;
    settings.big_endian = true;
    return read16_be(h + 2) <= 1000 && (int32_t)read32_be(h + 8) >= 0 && (int32_t)read32_be(h + 12) >= 0;
}

bool icoff_read(FILE *in, const char *name)
{
    icoff_image img;
    img.name = name;
    if (!read_image(in, img))
        return false;
    uint32_t bpw = model_bytes_per_word();
    std::vector<uint32_t> segment_of(img.nscns + 1, 0);   // file section number -> model segment
    for (uint32_t k = 0; k < img.nscns; k++) {
        const uint8_t *h = section_header(img, k);
        uint32_t paddr = read32_be(h + 8), size = read32_be(h + 16), scnptr = read32_be(h + 20);
        uint32_t flags = read32_be(h + 36);
        bool data = !(flags & 0x80) && size;
        uint32_t scale = data ? bpw : 1;
        uint32_t number = (uint32_t)vec_count(model.segments) + 1;
        segment_of[k + 1] = model_add_segment(section_name(h).c_str(), paddr, (size + scale - 1) / scale, paddr, number);
        if (!data)
            continue;
        const uint8_t *bytes_at = img.at(scnptr, size);
        if (!bytes_at || (uint64_t)paddr * scale + size > 0x100000000ull)
            return short_read(img, "COFF data");
        for (uint32_t done = 0; done < size;) {
            uint32_t n = std::min<uint32_t>(16384, size - done);
            model_add_data(paddr * scale + done, n, bytes_at + done, segment_of[k + 1]);
            done += n;
        }
    }
    std::vector<uint32_t> file_entries;   // symbol index of each file entry
    std::vector<uint32_t> file_numbers;
    uint32_t file = 0;
    for (uint32_t i = 0; i < img.nsyms; i++) {
        icoff_symbol s;
        if (!symbol_at(img, i, s))
            return false;
        const std::string &symbol = s.name;
        uint8_t sclass = s.sclass;
        int32_t section = s.section;
        if (sclass >= 1 && sclass <= 3) {
            uint32_t segment = 0;
            if (section > 0 && (uint32_t)section <= img.nscns)
                segment = segment_of[section];
            else if (section > 0)
                msg_report(1622, (int)section, symbol.c_str(), name);
            uint32_t flags = (section == -1 ? SYMF_ABSOLUTE : 0) | (sclass == CLASS_LOCAL ? SYMF_LOCAL : 0);
            model_add_symbol(symbol.c_str(), s.value, segment, file, flags);
        } else if (sclass == CLASS_FILE) {
            file = model_add_file(symbol.c_str());
            file_entries.push_back(i);
            file_numbers.push_back(file);
        } else if (!((sclass >= 4 && sclass <= 9) || (sclass >= 20 && sclass <= 31) || (sclass >= 50 && sclass <= 54))) {
            msg_report(1618, (int)sclass, name);
        }
    }
    for (uint32_t k = 0; k < img.nscns; k++) {
        const uint8_t *h = section_header(img, k);
        uint32_t lnnoptr = read32_be(h + 28);
        uint16_t nlnno = read16_be(h + 34);
        uint32_t current = 0;
        for (uint32_t n = 0; n < nlnno; n++) {
            const uint8_t *l = img.at(lnnoptr + (uint64_t)LINE_ENTRY * n, LINE_ENTRY);
            if (!l)
                return short_read(img, "COFF line number");
            uint16_t line = read16_be(l + 4);
            if (line) {
                model_add_line(line, read32_be(l), segment_of[k + 1], current, 0);
                continue;
            }
            auto found = std::find(file_entries.begin(), file_entries.end(), read32_be(l));
            current = found == file_entries.end() ? 0 : file_numbers[found - file_entries.begin()];
        }
    }
    return true;
}

const char *class_description(unsigned c)
{
    static const std::map<unsigned, const char *> names = {
        {1, "global symbol "}, {2, "non-global symbol "}, {3, "label "}, {4, "physical end of function "},
        {5, "function entry point "}, {6, "function exit point "}, {7, "block begin "}, {8, "block end "},
        {9, "section size symbol "}, {20, "simple type "}, {21, "subrange type "}, {22, "enumeration type "},
        {23, "array of . . . "}, {24, "pointer to . . . "}, {25, "tag type "}, {26, "set of "}, {27, "type of "},
        {28, "function or procedure "}, {29, "record type "}, {30, "union type "}, {31, "C array type "},
        {50, "local variable "}, {51, "parameter "}, {52, "record member "}, {53, "bit field "},
        {54, "enumeration literal "}, {55, "file name "},
    };
    auto found = names.find(c);
    return found == names.end() ? "??Unknown" : found->second;
}

std::string type_text(uint8_t type)
{
    static const char *const base[] = {"",         "char",       "uchar",       "signed_8", "signed_16", "signed_32",
                                       "unsigned_8", "unsigned_16", "unsigned_32", "float",    "double"};
    std::string out = (type & 15) < 11 ? base[type & 15] : "??type";
    if (type & 0x10)
        out += " register  function begin";
    if (type & 0x20)
        out += " VAR parameter  weak definition";
    if (type & 0x40)
        out += " ALIAS parameter ";
    if (type & 0x80)
        out += " used internally ";
    return out;
}

const char *const file_flag_names[13] = {"Stripped", "Executable", "No lines", "No locals", "0x10", "0x20", "0x40",
                                         "16 bit little endian", "32 bit little endian", "32 bit big endian",
                                         "0x400", "0x800", "New style syms"};

bool icoff_dump(FILE *in)
{
    icoff_image img;
    img.name = "input";
    if (!read_image(in, img))
        return false;
    time_t when = img.timdat;
    printf("COFF header:\n\tMagic:\t0%o\n\tSections:\t%u\n\tDated:\t%s\tSymptr:\t%lX\n\tNsyms:\t%ld\n\tOpthdr:\t%u\n"
           "\tFlags:\t0x%X",
           read16_be(img.data.data()), img.nscns, ctime(&when), (unsigned long)img.symptr, (long)img.nsyms,
           img.opthdr, img.flags);
    for (unsigned b = 0; b < 13; b++)
        if (img.flags >> b & 1)
            printf(" %s", file_flag_names[b]);
    printf("\n\n");
    std::vector<std::string> names;
    for (uint32_t k = 0; k < img.nscns; k++) {
        const uint8_t *h = section_header(img, k);
        names.push_back(section_name(h));
        printf("Section %u: %s: @%lX size %lX lines %u flags %lX\n", k, names.back().c_str(),
               (unsigned long)read32_be(h + 8), (unsigned long)read32_be(h + 16), read16_be(h + 34),
               (unsigned long)read32_be(h + 36));
    }
    uint64_t start = img.symptr + (uint64_t)SYMBOL_ENTRY * img.nsyms;
    printf("String table: %ld bytes\n", (long)(img.data.size() - start));
    if (settings.verbose >= 2) {
        for (uint64_t at = 0; at < img.data.size() - start;) {
            bool ok = true;
            std::string s = table_string(img, (uint32_t)at, &ok);
            if (!ok)
                break;
            printf("%5d:\t%s\n", (int)at, s.c_str());
            at += s.size() + 1;
        }
        printf("\n");
    }
    if (settings.verbose == 0)
        return true;
    for (uint32_t i = 0; i < img.nsyms; i++) {
        icoff_symbol s;
        if (!symbol_at(img, i, s))
            return false;
        const char *symbol = s.name.c_str();
        unsigned sclass = s.sclass;
        int32_t section = s.section;
        unsigned long value = s.value;
        std::string where = section >= 1 && (uint32_t)section <= img.nscns ? names[section - 1] : "(abs)";
        printf("%5u: %5u:\t%20.20s\t", i, s.name_offset, class_description(sclass));
        if (sclass >= 1 && sclass <= 3)
            printf("%s = %lX:%s %s\n", symbol, value, where.c_str(), type_text(s.type).c_str());
        else if (sclass >= 4 && sclass <= 8)
            printf("%s = %lX:%s\n", symbol, value, where.c_str());
        else if (sclass == 9)
            printf("%s, value=%lX, section=%ld\n", symbol, value, (long)section);
        else if (sclass == 20)
            printf("%s %s\n", symbol, type_text(s.type).c_str());
        else if (sclass == 50 || sclass == 51)
            printf("%s = %lX:%s\n", symbol, value, type_text(s.type).c_str());
        else if (sclass == CLASS_FILE)
            printf("%s\n", symbol);
        else
            printf("\n");
    }
    for (uint32_t k = 0; k < img.nscns; k++)
        if (read16_be(section_header(img, k) + 34))
            printf("Section %u line numbers:\n", k);
    return true;
}

} // namespace

// probe, read, write, dump, name, key, extension, binary
const format_desc icoff_format = {icoff_probe, icoff_read, icoff_write, icoff_dump, "ICOFF", "icoff", "cof", true};
