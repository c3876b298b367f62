// Reading an ELF file back into the model: what the ELF writer writes.
//
// Every allocated section becomes a segment at its address; the bytes of a
// section that holds them become data blocks, program words scaled to
// bytes by the bytes per program word (-p). The symbol table gives the
// symbols (section symbols and file symbols left out), each in the segment
// of its section. ".debug_line" gives the line records: every row of every
// line program, its file named by the program's file table (directory
// joined in front), its segment the allocated section holding its address.
//
// Anything that does not fit inside the file, or a line program of a kind
// not read here, is refused with a numbered message; nothing is guessed.
#include "egret.h"

#include <cstring>

namespace {

enum : uint32_t { SHT_PROGBITS = 1, SHT_SYMTAB = 2, SHT_NOBITS = 8 };
enum : uint32_t { SHF_ALLOC = 2, SHF_EXECINSTR = 4 };
enum : uint16_t { SHN_LORESERVE = 0xFF00, SHN_ABS = 0xFFF1 };
enum : uint8_t { STT_SECTION = 3, STT_FILE = 4 };
const uint32_t EHDR_SIZE = 52, SHDR_SIZE = 40, SYM_SIZE = 16;

struct elf_image {
    std::vector<uint8_t> data;
    const char *name;
    bool big = false;

    const uint8_t *at(uint64_t offset, uint64_t length) const
    {
        return offset <= data.size() && length <= data.size() - offset ? data.data() + offset : nullptr;
    }
    uint16_t r16(const uint8_t *p) const { return big ? read16_be(p) : read16_le(p); }
    uint32_t r32(const uint8_t *p) const { return big ? read32_be(p) : read32_le(p); }
};

struct section {
    std::string name;
    uint32_t type, flags, addr, offset, size, link, entsize;
    uint32_t segment = 0;     // model segment, 0 for one not allocated
    uint32_t scale = 1;       // bytes per address unit of its data
};

bool short_read(const elf_image &img, const char *what)
{
    msg_report(1614, what, img.name);
    return false;
}

// A bounded reader over one line program.
struct cursor {
    const uint8_t *p, *end;
    const elf_image *img;
    bool bad = false;

    bool need(uint64_t n)
    {
        if (bad || (uint64_t)(end - p) < n)
            bad = true;
        return !bad;
    }
    uint8_t u8() { return need(1) ? *p++ : 0; }
    uint16_t u16()
    {
        if (!need(2))
            return 0;
        uint16_t v = img->r16(p);
        p += 2;
        return v;
    }
    uint32_t u32()
    {
        if (!need(4))
            return 0;
        uint32_t v = img->r32(p);
        p += 4;
        return v;
    }
    uint64_t address(uint64_t size)
    {
        if (!need(size))
            return 0;
        uint64_t v = 0;
        for (uint64_t i = 0; i < size; i++)
            v |= (uint64_t)(img->big ? p[i] : p[size - 1 - i]) << (8 * (size - 1 - i));
        p += size;
        return v;
    }
    uint64_t uleb()
    {
        need(1);
        uint64_t v = bad ? 0 : leb128_read_unsigned(&p, end);
        if (!bad && p[-1] & 0x80)
            bad = true;
        return v;
    }
    int64_t sleb()
    {
        need(1);
        int64_t v = bad ? 0 : leb128_read_signed(&p, end);
        if (!bad && p[-1] & 0x80)
            bad = true;
        return v;
    }
    std::string text()
    {
        if (bad)
            return "";
        const void *z = memchr(p, 0, end - p);
        if (!z) {
            bad = true;
            return "";
        }
        std::string s((const char *)p);
        p = (const uint8_t *)z + 1;
        return s;
    }
};

uint32_t segment_holding(const std::vector<section> &sections, uint64_t address)
{
    for (const section &s : sections)
        if (s.segment && (s.flags & SHF_EXECINSTR) && s.addr <= address &&
            address < (uint64_t)s.addr + (s.size + s.scale - 1) / s.scale)
            return s.segment;
    return 0;
}

// One line program from `c`, its rows added as line records.
bool read_line_program(const elf_image &img, cursor &c, const std::vector<section> &sections)
{
    uint32_t length = c.u32();
    if (length >= 0xFFFFFFF0u) {
        msg_report(1669, "64-bit DWARF", img.name);
        return false;
    }
    if (!c.need(length))
        return short_read(img, "ELF line program");
    cursor unit = {c.p, c.p + length, &img};
    c.p += length;
    uint16_t version = unit.u16();
    if (version < 2 || version > 3) {
        msg_report(1669, str_printf("version %u", version).c_str(), img.name);
        return false;
    }
    uint32_t header_length = unit.u32();
    if (!unit.need(header_length))
        return short_read(img, "ELF line program");
    const uint8_t *program = unit.p + header_length;
    uint8_t min_length = unit.u8(), default_is_stmt = unit.u8();
    (void)default_is_stmt;
    int8_t line_base = (int8_t)unit.u8();
    uint8_t line_range = unit.u8(), opcode_base = unit.u8();
    if (!unit.bad && (line_range == 0 || opcode_base == 0)) {
        msg_report(1669, "line range or opcode base 0", img.name);
        return false;
    }
    std::vector<uint8_t> lengths;
    for (unsigned i = 1; i < opcode_base; i++)
        lengths.push_back(unit.u8());
    std::vector<std::string> directories;
    for (std::string d; !unit.bad && !(d = unit.text()).empty();)
        directories.push_back(d);
    std::vector<uint32_t> files;   // model file of each file number from 1
    auto add_file = [&](const std::string &file, uint64_t directory) {
        std::string path = directory && directory <= directories.size() ? directories[directory - 1] + "/" + file : file;
        files.push_back(model_add_file(path.c_str()));
    };
    for (std::string f; !unit.bad && !(f = unit.text()).empty();) {
        uint64_t directory = unit.uleb();
        unit.uleb();
        unit.uleb();
        if (!unit.bad)
            add_file(f, directory);
    }
    if (unit.bad || program > unit.end)
        return short_read(img, "ELF line program");
    unit.p = program;

    uint64_t address = 0, file = 1;
    int64_t line = 1;
    auto row = [&]() {
        if (line > 0 && line <= 0xFFFFFFFF && file >= 1 && file <= files.size())
            model_add_line((uint32_t)line, (uint32_t)address, segment_holding(sections, address), files[file - 1], 0);
        else
            msg_report(1670, (long long)line, (unsigned long long)file, img.name);
    };
    while (!unit.bad && unit.p < unit.end) {
        uint8_t op = unit.u8();
        if (op >= opcode_base) {
            unsigned adjusted = op - opcode_base;
            address += (uint64_t)(adjusted / line_range) * min_length;
            line += line_base + (int)(adjusted % line_range);
            row();
            continue;
        }
        switch (op) {
        case 0: {
            uint64_t n = unit.uleb();
            if (n == 0 || !unit.need(n))
                break;
            const uint8_t *next = unit.p + n;
            uint8_t sub = unit.u8();
            if (sub == 1) {
                address = 0, file = 1, line = 1;
            } else if (sub == 2) {
                address = unit.address(n - 1);
            } else if (sub == 3) {
                std::string f = unit.text();
                uint64_t directory = unit.uleb();
                unit.uleb();
                unit.uleb();
                if (!unit.bad)
                    add_file(f, directory);
            }
            if (!unit.bad)
                unit.p = next;
            break;
        }
        case 1: row(); break;
        case 2: address += unit.uleb() * min_length; break;
        case 3: line += unit.sleb(); break;
        case 4: file = unit.uleb(); break;
        case 8: address += (uint64_t)((255 - opcode_base) / line_range) * min_length; break;
        case 9: address += unit.u16(); break;
        default:
            for (unsigned i = 0; op - 1u < lengths.size() && i < lengths[op - 1]; i++)
                unit.uleb();
            break;
        }
    }
    if (unit.bad)
        return short_read(img, "ELF line program");
    return true;
}

} // namespace

bool elf_read(FILE *in, const char *name)
{
    elf_image img;
    img.name = name;
    img.data = read_all(in);
    const uint8_t *h = img.at(0, EHDR_SIZE);
    if (!h)
        return short_read(img, "ELF header");
    if (memcmp(h, "\x7F" "ELF", 4) != 0 || h[4] != 1 || (h[5] != 1 && h[5] != 2) || h[6] != 1) {
        msg_report(1655);
        return false;
    }
    img.big = h[5] == 2;
    settings.big_endian = img.big;
    model.entry = img.r32(h + 24);
    uint32_t shoff = img.r32(h + 32);
    uint16_t shentsize = img.r16(h + 46), shnum = img.r16(h + 48), shstrndx = img.r16(h + 50);
    if (shnum && shentsize < SHDR_SIZE) {
        msg_report(1656, "section", shentsize, SHDR_SIZE);
        return false;
    }
    if (!img.at(shoff, (uint64_t)shentsize * shnum))
        return short_read(img, "ELF section headers");
    if (shnum && shstrndx >= shnum) {
        msg_report(1653, shstrndx, shnum);
        return false;
    }
    std::vector<section> sections;
    for (uint32_t i = 0; i < shnum; i++) {
        const uint8_t *s = img.data.data() + shoff + (uint64_t)shentsize * i;
        section c = {"", img.r32(s + 4), img.r32(s + 8), img.r32(s + 12), img.r32(s + 16), img.r32(s + 20),
                     img.r32(s + 24), img.r32(s + 36)};
        sections.push_back(c);
    }
    if (shnum) {
        const section &names = sections[shstrndx];
        const uint8_t *table = img.at(names.offset, names.size);
        if (!table)
            return short_read(img, "ELF section name table");
        for (uint32_t i = 0; i < shnum; i++) {
            uint32_t offset = img.r32(img.data.data() + shoff + (uint64_t)shentsize * i);
            if (offset >= names.size || !memchr(table + offset, 0, names.size - offset))
                return short_read(img, "ELF section name table");
            sections[i].name = (const char *)table + offset;
        }
    }

    // Allocated sections: segments, and the bytes of those that hold them.
    uint32_t bpw = model_bytes_per_word();
    for (section &c : sections) {
        if (!(c.flags & SHF_ALLOC) || c.name.empty())
            continue;
        bool holds = c.type == SHT_PROGBITS && c.size;
        c.scale = holds ? bpw : 1;
        uint32_t number = vec_count(model.segments) + 1;
        c.segment = model_add_segment(c.name.c_str(), c.addr, (c.size + c.scale - 1) / c.scale, c.addr, number);
        if (!holds)
            continue;
        const uint8_t *raw = img.at(c.offset, c.size);
        uint64_t address = (uint64_t)c.addr * c.scale;
        if (!raw || address + c.size > 0x100000000ull)
            return short_read(img, "ELF section data");
        for (uint32_t done = 0; done < c.size;) {
            uint32_t n = std::min<uint32_t>(16384, c.size - done);
            model_add_data((uint32_t)address + done, n, raw + done, c.segment);
            done += n;
        }
    }

    // Symbols.
    for (const section &c : sections) {
        if (c.type != SHT_SYMTAB)
            continue;
        if (c.entsize < SYM_SIZE) {
            msg_report(1654, c.entsize);
            continue;
        }
        if (c.link >= sections.size())
            return short_read(img, "ELF symbol string table");
        const section &strtab = sections[c.link];
        const uint8_t *strings = img.at(strtab.offset, strtab.size);
        if (!strings || !img.at(c.offset, c.size))
            return short_read(img, "ELF symbol table");
        for (uint32_t i = 1; i < c.size / c.entsize; i++) {
            const uint8_t *e = img.data.data() + c.offset + (uint64_t)c.entsize * i;
            uint32_t at = img.r32(e), value = img.r32(e + 4);
            uint8_t info = e[12];
            uint16_t shndx = img.r16(e + 14);
            if (at >= strtab.size || !memchr(strings + at, 0, strtab.size - at))
                return short_read(img, "ELF symbol string table");
            const char *symbol = (const char *)strings + at;
            if ((info & 15) == STT_SECTION || (info & 15) == STT_FILE || !*symbol)
                continue;
            uint32_t segment = 0, flags = (info >> 4) == 0 ? SYMF_LOCAL : 0;
            if (shndx == SHN_ABS)
                flags |= SYMF_ABSOLUTE;
            else if (shndx && shndx < sections.size())
                segment = sections[shndx].segment;
            else if (shndx && shndx < SHN_LORESERVE)
                msg_report(1622, (int)shndx, symbol, name);
            model_add_symbol(symbol, value, segment, 0, flags);
        }
    }

    // Line records.
    for (const section &c : sections) {
        if (c.name != ".debug_line")
            continue;
        const uint8_t *bytes = img.at(c.offset, c.size);
        if (!bytes)
            return short_read(img, "ELF line program");
        cursor all = {bytes, bytes + c.size, &img};
        while (all.p < all.end)
            if (!read_line_program(img, all, sections))
                return false;
    }
    return true;
}
