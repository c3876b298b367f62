// The ELF dump (-d): header, section-name strings, sections, symbols and
// program headers of a 32-bit ELF file, then its DWARF sections
// (dwarfdump.cpp). The whole file is read first and every table is checked
// against its length before it is read, so a cut or lying header ends in a
// numbered message, never in a read past the file.
#include "egret.h"

#include <cstring>

namespace {

struct name_row {
    uint32_t value;
    const char *name;
};

const name_row class_names[] = {{0, "Invalid class"}, {1, "32-bit objects"}, {2, "64-bit objects"}};
const name_row data_names[] = {
    {0, "Invalid data encoding"}, {1, "2's complement, little endian"}, {2, "2's complement, big endian"}};
const name_row abi_names[] = {
    {0, "UNIX System V Revision 4"}, {1, "HP-UX"}, {2, "NetBSD"}, {3, "Linux"}, {4, "Hurd"}, {6, "Solaris"},
    {7, "AIX"}, {8, "IRIX"}, {9, "FreeBSD"}, {10, "TRU64 UNIX"}, {11, "Novell Modesto"}, {12, "OpenBSD"},
    {97, "ARM"}, {255, "Standalone (embedded)"}};
const name_row type_names[] = {{0, "ET_NONE"}, {2, "ET_EXEC"}, {1, "ET_REL"}, {3, "ET_DYN"}, {4, "ET_CORE"}};
const name_row section_type_names[] = {
    {0, "Unused"}, {1, "Program data"}, {2, "Symbol table"}, {3, "String table"},
    {4, "Reloc entries with addends"}, {5, "Symbol hash table"}, {6, "Dynamic linking information"},
    {7, "Notes"}, {8, "Prog space without data (bss)"}, {9, "Reloc entries, no addends"}, {10, "Reserved"},
    {11, "Dynamic linker symbol table"}, {0x60000000, "Start OS-specific"},
    {0x6FFFFFFB, "Sun-specific low bound. "}, {0x6FFFFFFD, "Version definition section. "},
    {0x6FFFFFFE, "Version needs section. "}, {0x6FFFFFFF, "Version symbol table. "},
    {0x70000000, "Start of processor-specific"}, {0x7FFFFFFF, "End of processor-specific"},
    {0x80000000, "Start of application-specific"}, {0x8FFFFFFF, "End of application-specific"}};
const name_row program_type_names[] = {
    {0, "Unused"}, {1, "Loadable program segment"}, {2, "Dynamic linking information"},
    {3, "Program interpreter"}, {4, "Auxiliary information"}, {5, "Reserved"}, {6, "Program header table"}};
const name_row symbol_type_names[] = {
    {0, "unspecified"}, {1, "data object"}, {2, "code object"}, {3, "associated with a section"}, {4, "file name"}};
const name_row binding_names[] = {{0, "Local symbol"}, {1, "Global symbol"}, {2, "Weak symbol"}};

// The first row of the value, "0x%X" without one; named rows show the
// value too with -v -v -v.
template <size_t N> std::string name_of(const name_row (&rows)[N], uint32_t value)
{
    for (const name_row &r : rows)
        if (r.value == value)
            return settings.verbose > 2 ? str_printf("%s (0x%X)", r.name, value) : std::string(r.name);
    return str_printf("0x%X", value);
}

struct elf_file {
    std::vector<uint8_t> bytes;

    const uint8_t *at(uint64_t offset, uint64_t length) const
    {
        return offset + length <= bytes.size() && offset <= bytes.size() ? bytes.data() + offset : nullptr;
    }
};

bool short_read(const char *what)
{
    msg_report(1614, what, "input");
    return false;
}

// A string of a table, or "(unknown)" when the offset lies outside it or
// the string runs off its end.
std::string table_string(const elf_file &f, uint64_t table, uint64_t size, uint32_t offset)
{
    const uint8_t *t = f.at(table, size);
    if (!t || offset >= size || !memchr(t + offset, 0, size - offset))
        return "(unknown)";
    return (const char *)t + offset;
}

struct section_header {
    uint32_t name, type, flags, addr, offset, size, link, info, addralign, entsize;
};

void first_bytes(const elf_file &f, uint64_t offset)
{
    if (settings.verbose <= 2)
        return;
    printf("\n\t%4lX: ", (unsigned long)offset);
    for (uint64_t i = 0; i < 16 && offset + i < f.bytes.size(); i++)
        printf(" %2.2X", f.bytes[offset + i]);
}

void list_strings(const elf_file &f, uint64_t table, uint64_t size)
{
    const uint8_t *t = f.at(table, size);
    if (!t)
        return;
    for (uint64_t at = 0; at < size;) {
        const uint8_t *end = (const uint8_t *)memchr(t + at, 0, size - at);
        uint64_t n = end ? (uint64_t)(end - (t + at)) : size - at;
        printf("%08lX: %.*s\n", (unsigned long)at, (int)n, (const char *)t + at);
        at += n + 1;
    }
}

void list_symbols(const elf_file &f, const section_header &s, const section_header *strtab)
{
    printf("Section header entry size: 0x%X\n", s.entsize);
    if (s.entsize < 16) {
        msg_report(1654, s.entsize);
        return;
    }
    printf("Symbol Table\n");
    for (uint64_t i = 0; i < s.size / s.entsize; i++) {
        const uint8_t *e = f.at((uint64_t)s.offset + i * s.entsize, 16);
        if (!e) {
            short_read("ELF symbol table");
            return;
        }
        std::string name = strtab ? table_string(f, strtab->offset, strtab->size, byteorder_read32(e)) : "(unknown)";
        printf("\t%-20s  0x%08lX  %-5ld", name.c_str(), (unsigned long)byteorder_read32(e + 4),
               (long)byteorder_read32(e + 8));
        std::string kind = name_of(binding_names, e[12] >> 4) + "/" + name_of(symbol_type_names, e[12] & 15);
        printf("  %-26s  0x%02X  0x%04X\n", kind.c_str(), e[13], byteorder_read16(e + 14));
    }
}

} // namespace

bool elf_dump(FILE *in)
{
    elf_file f;
    uint8_t chunk[16384];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, in)) > 0;)
        f.bytes.insert(f.bytes.end(), chunk, chunk + n);
    const uint8_t *h = f.at(0, 52);
    if (!h)
        return short_read("ELF header");
    if (memcmp(h, "\x7F" "ELF", 4) != 0 || h[4] != 1 || (h[5] != 1 && h[5] != 2) || h[6] != 1) {
        msg_report(1655);
        return false;
    }
    settings.big_endian = h[5] == 2;
    uint32_t entry = byteorder_read32(h + 24), phoff = byteorder_read32(h + 28), shoff = byteorder_read32(h + 32);
    uint16_t phentsize = byteorder_read16(h + 42), phnum = byteorder_read16(h + 44);
    uint16_t shentsize = byteorder_read16(h + 46), shnum = byteorder_read16(h + 48), shstrndx = byteorder_read16(h + 50);

    std::vector<section_header> sections;
    if (shnum) {
        if (shentsize < 40) {
            msg_report(1656, "section", shentsize, 40);
            return false;
        }
        for (uint32_t k = 0; k < shnum; k++) {
            const uint8_t *s = f.at(shoff + (uint64_t)k * shentsize, 40);
            if (!s)
                return short_read("ELF section headers");
            section_header x;
            uint32_t *fields[] = {&x.name, &x.type, &x.flags, &x.addr, &x.offset,
                                  &x.size, &x.link, &x.info, &x.addralign, &x.entsize};
            for (int i = 0; i < 10; i++)
                *fields[i] = byteorder_read32(s + 4 * i);
            sections.push_back(x);
        }
        if (shstrndx >= shnum) {
            msg_report(1653, shstrndx, shnum);
            return false;
        }
        if (!f.at(sections[shstrndx].offset, sections[shstrndx].size))
            return short_read("ELF section-name table");
    }
    if (phnum) {
        if (phentsize < 32) {
            msg_report(1656, "program", phentsize, 32);
            return false;
        }
        if (!f.at(phoff + (uint64_t)(phnum - 1) * phentsize, 32))
            return short_read("ELF program headers");
    }
    auto section_name = [&](const section_header &s) {
        const section_header &names = sections[shstrndx];
        return table_string(f, names.offset, names.size, s.name);
    };
    const section_header *strtab = nullptr;
    for (const section_header &s : sections)
        if (section_name(s) == ".strtab")
            strtab = &s;

    uint16_t machine = byteorder_read16(h + 18);
    printf("ELF header:\n\tClass:   \t%s\n", name_of(class_names, h[4]).c_str());
    printf("\tData:   \t%s\n", name_of(data_names, h[5]).c_str());
    printf("\tVersion:\t0x%X\n", h[6]);
    printf("\tOS ABI:\t\t%s\n", name_of(abi_names, h[7]).c_str());
    printf("\tType:   \t%s\n", name_of(type_names, byteorder_read16(h + 16)).c_str());
    printf("\tMachine:\t%s\n", elf_machine_description(machine).c_str());
    printf("\tProg hdrs:\t%d [0x%X]", phnum, phentsize);
    if (settings.verbose > 1)
        printf(" (@ 0x%lX)", (unsigned long)phoff);
    printf("\n\tSec hdrs:\t%d [0x%X]", shnum, shentsize);
    if (settings.verbose > 1)
        printf(" (@ 0x%lX)", (unsigned long)shoff);
    printf("\n\tStrtab:\t\t0x%X\n\tStart addr:\t0x%lX\n\n", shstrndx, (unsigned long)entry);

    if (!sections.empty()) {
        printf("\nString table:\n\n");
        list_strings(f, sections[shstrndx].offset, sections[shstrndx].size);
        if (settings.verbose > 2 && strtab)
            list_strings(f, strtab->offset, strtab->size);
        printf("\nSections:\n\nNo.   Name                 Type                           Address  Size     Link     ");
        if (settings.verbose > 1)
            printf("Offset   Info     Align    ");
        printf("Flags\n");
        for (size_t k = 0; k < sections.size(); k++) {
            const section_header &s = sections[k];
            printf("%4.4X  %-20.20s %-30.30s", (unsigned)k, section_name(s).c_str(),
                   name_of(section_type_names, s.type).c_str());
            printf(" %08lX %08lX %08lX", (unsigned long)s.addr, (unsigned long)s.size, (unsigned long)s.link);
            if (settings.verbose > 1)
                printf(" %08lX %08lX %08lX", (unsigned long)s.offset, (unsigned long)s.info,
                       (unsigned long)s.addralign);
            if (s.flags & 1)
                printf(" WRITE");
            if (s.flags & 2)
                printf(" ALLOC");
            if (s.flags & 4)
                printf(" EXECINSTR");
            if ((s.flags & 2) && s.size && s.type != 8)
                first_bytes(f, s.offset);
            printf("\n");
            if (settings.verbose > 0 && s.type == 2)
                list_symbols(f, s, strtab);
        }
    }
    printf("\nProgram Headers:\n\nNo.   Type                                 Virtual  Physical Filesize Memsize  Flg ");
    if (settings.verbose > 1)
        printf("Align    ");
    printf("\n");
    for (uint32_t k = 0; k < phnum; k++) {
        const uint8_t *p = f.at(phoff + (uint64_t)k * phentsize, 32);
        uint32_t flags = byteorder_read32(p + 24);
        printf("%4.4X  %-36.36s", k, name_of(program_type_names, byteorder_read32(p)).c_str());
        for (int i : {8, 12, 16, 20})
            printf(" %08lX", (unsigned long)byteorder_read32(p + i));
        printf(" %c%c%c", flags & 4 ? 'r' : '-', flags & 2 ? 'w' : '-', flags & 1 ? 'x' : '-');
        if (settings.verbose > 1)
            printf(" %08lX", (unsigned long)byteorder_read32(p + 28));
        if (byteorder_read32(p + 16))
            first_bytes(f, byteorder_read32(p + 4));
        printf("\n");
    }
    if (!sections.empty()) {
        std::vector<elf_section_view> views;
        const section_header &names = sections[shstrndx];
        for (const section_header &s : sections) {
            bool named = s.name < names.size;
            views.push_back({named ? section_name(s) : "", named, s.offset, s.size});
        }
        dwarf_dump(f.bytes, views);
    }
    return true;
}
