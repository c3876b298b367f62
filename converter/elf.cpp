// The ELF module (key "elf"): a 32-bit ELF executable written from the
// model, with the DWARF 2 sections of dwarf.cpp, and the dump of such a
// file. Reading ELF back into the model is elfread.cpp.
//
// Layout as written: ELF header (52 bytes); the program bytes of each
// memory segment, one section and one PT_LOAD program header per segment;
// ".strtab"; ".symtab" (locals first, sh_info the index of the first
// global); the DWARF sections; ".shstrtab"; the section headers; the
// program headers. The file is built in memory and written in one go.
//
// Addresses (sh_addr, p_vaddr, symbol values, DWARF addresses) are the
// model's own units, divided by the machine table's divisor; sizes are
// bytes. A program-memory segment meets the data blocks, which count
// bytes, scaled by the bytes per program word.
#include "egret.h"

#include <algorithm>
#include <cstring>

namespace {

// ELF constants used here.
enum : uint32_t {
    SHT_NULL = 0, SHT_PROGBITS = 1, SHT_SYMTAB = 2, SHT_STRTAB = 3, SHT_NOBITS = 8,
    SHT_MIPS_DWARF = 0x7000001E,
};
enum : uint32_t { SHF_WRITE = 1, SHF_ALLOC = 2, SHF_EXECINSTR = 4 };
enum : uint16_t { SHN_ABS = 0xFFF1 };
enum : uint32_t { PT_LOAD = 1 };
enum : uint8_t { STB_LOCAL = 0, STB_GLOBAL = 1 };
enum : uint8_t { STT_NOTYPE = 0, STT_OBJECT = 1, STT_FUNC = 2, STT_SECTION = 3, STT_FILE = 4 };
const uint32_t EHDR_SIZE = 52, SHDR_SIZE = 40, PHDR_SIZE = 32, SYM_SIZE = 16;

// ---------------------------------------------------------------------------
// machine numbers and machine tables
// ---------------------------------------------------------------------------

struct elf_machine_name {
    uint16_t number;
    const char *description;
};

// e_machine values with their descriptions: the processor name and the -p
// tokens are looked for in the descriptions, and the dump names the machine.
const elf_machine_name machine_names[] = {
    {0, "No machine"}, {1, "AT&T WE 32100"}, {2, "SPARC"}, {3, "Intel 80386"}, {4, "Motorola 68000"},
    {5, "Motorola 88000"}, {7, "Intel 80860"}, {8, "MIPS I or PIC32MX Architecture"},
    {9, "IBM System/370 Processor"}, {10, "MIPS RS3000 Little-endian"}, {15, "Hewlett-Packard PA-RISC"},
    {17, "Fujitsu VPP500"}, {18, "Enhanced instruction set SPARC"}, {19, "Intel 80960"}, {20, "PowerPC"},
    {21, "64-bit PowerPC"}, {22, "IBM System/390 Processor"}, {36, "NEC V800"}, {37, "Fujitsu FR20"},
    {38, "TRW RH-32"}, {39, "Motorola RCE"}, {40, "Advanced RISC Machines ARM"}, {41, "Digital Alpha"},
    {42, "Hitachi SH"}, {43, "SPARC Version 9"}, {44, "Siemens TriCore embedded processor"},
    {45, "Argonaut RISC Core, Argonaut Technologies Inc."}, {46, "Hitachi H8/300"}, {47, "Hitachi H8/300H"},
    {48, "Hitachi H8S"}, {49, "Hitachi H8/500"}, {50, "Intel IA-64 processor architecture"},
    {51, "Stanford MIPS-X"}, {52, "Motorola ColdFire"}, {53, "Motorola M68HC12"},
    {54, "Fujitsu MMA Multimedia Accelerator"}, {55, "Siemens PCP"},
    {56, "Sony nCPU embedded RISC processor"}, {57, "Denso NDR1 microprocessor"},
    {58, "Motorola Star*Core processor"}, {59, "Toyota ME16 processor"},
    {60, "STMicroelectronics ST100 processor"}, {61, "Advanced Logic Corp. TinyJ embedded processor family"},
    {62, "AMD x86-64 architecture"}, {63, "Sony DSP Processor"}, {64, "Digital Equipment Corp. PDP-10"},
    {65, "Digital Equipment Corp. PDP-11"}, {66, "Siemens FX66 microcontroller"},
    {67, "STMicroelectronics ST9+ 8/16 bit microcontroller"}, {68, "STMicroelectronics ST7 8-bit microcontroller"},
    {69, "Motorola MC68HC16 Microcontroller"}, {70, "Motorola MC68HC11 Microcontroller"},
    {71, "Motorola MC68HC08 Microcontroller"}, {72, "Motorola MC68HC05 Microcontroller"},
    {73, "Silicon Graphics SVx"}, {74, "STMicroelectronics ST19 8-bit microcontroller"}, {75, "Digital VAX"},
    {76, "Axis Communications 32-bit embedded processor"}, {77, "Infineon Technologies 32-bit embedded processor"},
    {78, "Element 14 64-bit DSP Processor"}, {79, "LSI Logic 16-bit DSP Processor"},
    {80, "Donald Knuth's educational 64-bit processor"},
    {81, "Harvard University machine-independent object files"}, {82, "SiTera Prism"},
    {83, "Atmel AVR 8-bit microcontroller"}, {84, "Fujitsu FR30"}, {85, "Mitsubishi D10V"},
    {86, "Mitsubishi D30V"}, {87, "NEC v850"}, {88, "Mitsubishi M32R"}, {89, "Matsushita MN10300"},
    {90, "Matsushita MN10200"}, {91, "picoJava"}, {92, "OpenRISC 32-bit embedded processor"},
    {93, "ARC Cores Tangent-A5"}, {94, "Tensilica Xtensa Architecture"},
    {95, "Alphamosaic VideoCore processor"}, {96, "Thompson Multimedia General Purpose Processor"},
    {97, "National Semiconductor 32000 series"}, {98, "Tenor Network TPC processor"},
    {99, "Trebia SNP 1000 processor"}, {100, "STMicroelectronics (www.st.com) ST200 microcontroller"},
    {101, "Ubicom IP2xxx microcontroller family"}, {102, "MAX Processor"},
    {103, "National Semiconductor CompactRISC microprocessor"}, {104, "Fujitsu F2MC16"},
    {105, "Texas Instruments embedded microcontroller msp430"}, {106, "Analog Devices Blackfin (DSP) processor"},
    {107, "S1C33 Family of Seiko Epson processors"}, {108, "Sharp embedded microprocessor"},
    {109, "Arca RISC Microprocessor"},
    {110, "Microprocessor series from PKU-Unity Ltd. and MPRC of Peking University"},
    {118, "Microchip Technology dsPIC30F DSC"},
};
static_assert(std::size(machine_names) == 93, "the e_machine rows the writer searches");

// What a family of machines decides in the file.
enum elf_shape { ELF_MIPS, ELF_DSPIC, ELF_ANY };

struct elf_machine_table {
    const char *name;
    elf_shape shape;
    int number;               // the e_machine it takes, -1 every one
    uint32_t header_flags;    // ORed into e_flags
    uint32_t debug_type;      // sh_type of the DWARF sections
};

//  name     shape      number  header_flags  debug_type
const elf_machine_table machine_tables[] = {
    {"MIPS",  ELF_MIPS,  8,     0,            SHT_MIPS_DWARF},
    {"dsPIC", ELF_DSPIC, 118,   5,            SHT_PROGBITS},
    {"any",   ELF_ANY,   -1,    0,            SHT_PROGBITS},
};

const elf_machine_table *table;   // of the run, set by the writer

uint16_t machine_number()
{
    auto find = [](const std::string &text) -> int {
        if (text.empty())
            return -1;
        for (const elf_machine_name &m : machine_names)
            if (strstr(m.description, text.c_str()))
                return m.number;
        return -1;
    };
    int n = find(settings.processor);
    for (size_t i = 0; n < 0 && i < settings.processor_tokens.size() && i < 128; i++)
        n = find(settings.processor_tokens[i]);
    return n < 0 ? 0 : (uint16_t)n;
}

bool in_program_class(const model_segment *group)
{
    for (const std::string &c : settings.classes)
        if (group && c == group->name)
            return true;
    return false;
}

uint32_t section_flags(const model_segment *group, uint32_t written)
{
    bool code = table->shape == ELF_DSPIC ? in_program_class(group) : written != 0;
    return code ? SHF_ALLOC | SHF_EXECINSTR : SHF_ALLOC | SHF_WRITE;
}

uint8_t symbol_other(const model_symbol *s)
{
    return table->shape == ELF_MIPS && s->bounds && s->bounds->ivalue == 1 ? 0xF0 : 0;
}

uint32_t address_divisor(const model_segment *group)
{
    return table->shape == ELF_DSPIC && in_program_class(group) ? 2 : 1;
}

// ---------------------------------------------------------------------------
// writer
// ---------------------------------------------------------------------------

using bytes = std::vector<uint8_t>;

struct elf_shdr {
    uint32_t name, type, flags, addr, offset, size, link, info, addralign, entsize;
};
struct elf_phdr {
    uint32_t type, offset, vaddr, paddr, filesz, memsz, flags, align;
};
struct elf_sym {
    uint32_t name, value, size;
    uint8_t info, other;
    uint16_t shndx;
};

struct elf_writer {
    bytes file;               // everything, header first
    bytes shstrtab = {0};
    bytes strtab = {0};
    std::vector<elf_shdr> sections = {{}};
    std::vector<elf_phdr> programs;
    std::vector<elf_sym> symbols;   // without the null entry
};

elf_writer *w;

uint32_t add_string(bytes &table_bytes, const std::string &text)
{
    uint32_t at = (uint32_t)table_bytes.size();
    table_bytes.insert(table_bytes.end(), text.begin(), text.end());
    table_bytes.push_back(0);
    return at;
}

void put16(bytes &b, uint16_t v) { bytes_put16(b, v); }
void put32(bytes &b, uint32_t v) { bytes_put32(b, v); }
void align4(bytes &b)
{
    while (b.size() % 4)
        b.push_back(0);
}

uint32_t add_section(const std::string &name, uint32_t type, uint32_t offset, uint32_t size)
{
    elf_shdr s = {};
    s.name = add_string(w->shstrtab, name);
    s.type = type;
    s.offset = offset;
    s.size = size;
    s.addralign = 1;
    w->sections.push_back(s);
    return (uint32_t)w->sections.size() - 1;
}

// The symbol's ELF type from what the SDB files say of its name.
uint8_t symbol_type(const model_symbol *s)
{
    const sdb_entry *e = sdb_find_var(s->name);
    if (!e)
        return STT_NOTYPE;
    switch (e->kind) {
    case SC_EXTERN:
    case SC_GLOBAL:
    case SC_STATIC: return e->type && sdb_is_function(e->type) ? STT_FUNC : STT_OBJECT;
    case SC_AUTO:
    case SC_PARAM: return STT_OBJECT;
    case SC_MODULE:
    case SC_NODEBUG: return STT_SECTION;
    case SC_FUNC: return STT_FUNC;
    case SC_FILENAME: return STT_FILE;
    default: return STT_NOTYPE;
    }
}

void add_symbol(const model_symbol *s, uint16_t shndx, uint32_t divisor)
{
    elf_sym e = {};
    e.name = add_string(w->strtab, s->name);
    e.value = s->value / divisor;
    uint8_t binding = (s->flags & SYMF_LOCAL) ? STB_LOCAL : STB_GLOBAL;
    e.info = (uint8_t)(binding << 4 | symbol_type(s));
    e.other = symbol_other(s);
    e.shndx = shndx;
    w->symbols.push_back(e);
}

// Calls `visit` for every symbol of the model, file by file.
template <typename F> void each_symbol(F visit)
{
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        const model_file *f = (const model_file *)vec_get(model.files, i);
        for (uint32_t k = 0; f->symbols && k < f->symbol_count; k++)
            visit(f->symbols[k]);
    }
}

// The memory segment of a symbol: of its own class, holding its value.
const model_segment *segment_of(const model_symbol *s, uint32_t *number)
{
    for (uint32_t k = 0; k < vec_count(model.segments); k++) {
        const model_segment *m = (const model_segment *)vec_get(model.segments, k);
        if (m->group == k + 1 || m->group != s->segment)
            continue;
        if (m->address <= s->value && (uint64_t)s->value < (uint64_t)m->address + m->size) {
            *number = k + 1;
            return m;
        }
    }
    return nullptr;
}

// Bytes per address unit of each segment where it meets the data blocks,
// and the segment of each block. A block no segment took (a chip's
// configuration words, whose class is no program class) goes to the first
// memory segment holding it in program words, which then counts words.
struct block_place {
    std::vector<uint32_t> scale;     // by segment number
    std::vector<uint32_t> segment;   // by block index
};

block_place place_blocks()
{
    block_place p;
    uint32_t count = vec_count(model.segments), bpw = model_bytes_per_word();
    p.scale.assign(count + 1, 1);
    for (uint32_t k = 1; k <= count; k++)
        p.scale[k] = model_in_program_class(model_segment_at_number(k)) ? bpw : 1;
    for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
        const data_block *b = (const data_block *)vec_get(model.blocks, i);
        uint32_t at = b->segment;
        for (uint32_t k = 1; !at && k <= count; k++) {
            const model_segment *s = model_segment_at_number(k);
            if (s->group != k && (uint64_t)s->load * bpw <= b->address &&
                (uint64_t)b->address + b->length <= ((uint64_t)s->load + s->size) * bpw) {
                at = k;
                p.scale[k] = bpw;
            }
        }
        p.segment.push_back(at);
    }
    return p;
}

// One section (and a PT_LOAD when it has a size) per memory segment.
void write_segments(std::vector<uint16_t> &section_of_segment)
{
    uint32_t count = vec_count(model.segments);
    section_of_segment.assign(count + 1, 0);
    block_place place = place_blocks();
    for (uint32_t k = 1; k <= count; k++) {
        const model_segment *s = model_segment_at_number(k);
        const model_segment *group = model_group_of(s);
        if (!group || s->group == k)
            continue;
        uint32_t divisor = address_divisor(group);
        uint64_t scale = place.scale[k];
        uint64_t start = (uint64_t)s->load * scale;
        uint32_t offset = (uint32_t)w->file.size();
        uint64_t end = start;
        for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
            const data_block *b = (const data_block *)vec_get(model.blocks, i);
            if (place.segment[i] != k || b->address < start)
                continue;
            uint64_t at = offset + (b->address - start);
            if (at + b->length > 0xFFFFFFF0u)
                msg_report(1652, s->name);
            if (w->file.size() < at + b->length)
                w->file.resize(at + b->length, 0);
            memcpy(&w->file[at], b->bytes, b->length);
            end = std::max<uint64_t>(end, (uint64_t)b->address + b->length);
        }
        uint32_t written = (uint32_t)(end - start);
        uint32_t memory = (uint32_t)std::min<uint64_t>(std::max<uint64_t>((uint64_t)s->size * scale, written),
                                                      0xFFFFFFFFu);
        uint32_t index = add_section(s->name, written ? SHT_PROGBITS : SHT_NOBITS, offset, written ? written : memory);
        elf_shdr &h = w->sections[index];
        h.addr = s->address / divisor;
        h.flags = section_flags(group, written);
        section_of_segment[k] = (uint16_t)index;
        if (memory)
            w->programs.push_back({PT_LOAD, written ? offset : 0, s->address / divisor, s->address / divisor, written,
                                   memory, (h.flags & SHF_EXECINSTR) ? 5u : 6u, 1});
    }
}

// Symbols: absolute ones, then each in the section of its segment; a
// symbol of a class whose value lies in no segment is kept as absolute.
void write_symbols(const std::vector<uint16_t> &section_of_segment)
{
    each_symbol([&](const model_symbol *s) {
        uint32_t number = 0;
        const model_segment *m = s->segment ? segment_of(s, &number) : nullptr;
        if (!m || !section_of_segment[number]) {
            add_symbol(s, SHN_ABS, 1);
            return;
        }
        add_symbol(s, section_of_segment[number], address_divisor(model_group_of(m)));
    });
    // Locals come before globals, and sh_info says where the globals begin.
    std::stable_partition(w->symbols.begin(), w->symbols.end(),
                          [](const elf_sym &e) { return (e.info >> 4) == STB_LOCAL; });
}

} // namespace

std::string elf_machine_description(uint16_t number)
{
    for (const elf_machine_name &m : machine_names)
        if (m.number == number)
            return settings.verbose > 2 ? str_printf("%s (0x%X)", m.description, number) : m.description;
    return str_printf("0x%X", number);
}

bool elf_probe(FILE *in)
{
    uint8_t h[EHDR_SIZE];
    bool talk = settings.verbose > 1;
    if (fread(h, 1, sizeof h, in) != sizeof h) {
        if (talk)
            msg_print("ELF header too short");
        return false;
    }
    if (memcmp(h, "\x7F" "ELF", 4) != 0) {
        if (talk)
            msg_print("Magic number not ELF");
        return false;
    }
    if (h[4] != 1) {
        if (talk)
            msg_print("Not 32 bit ELF");
        return false;
    }
    if (h[5] != 1 && h[5] != 2) {
        if (talk)
            msg_print("Not big or little-endian ELF (%d)", h[5]);
        return false;
    }
    if (h[6] != 1) {
        if (talk)
            msg_print("Unsupported ELF Version %d", h[6]);
        return false;
    }
    settings.big_endian = h[5] == 2;
    return true;
}

void elf_write(FILE *out, const char *name)
{
    uint16_t machine = machine_number();
    table = nullptr;
    for (const elf_machine_table &t : machine_tables)
        if (t.number < 0 || t.number == machine) {
            table = &t;
            break;
        }
    // A chip named by -p chooses the description even without SDB files.
    machine_init("");
    elf_writer state;
    w = &state;
    w->file.resize(EHDR_SIZE, 0);

    std::vector<uint16_t> section_of_segment;
    write_segments(section_of_segment);
    write_symbols(section_of_segment);

    uint32_t strtab = add_section(".strtab", SHT_STRTAB, (uint32_t)w->file.size(), (uint32_t)w->strtab.size());
    w->file.insert(w->file.end(), w->strtab.begin(), w->strtab.end());
    align4(w->file);
    uint32_t symtab_at = (uint32_t)w->file.size();
    bytes syms(SYM_SIZE, 0);
    uint32_t first_global = 1;
    for (const elf_sym &e : w->symbols) {
        put32(syms, e.name);
        put32(syms, e.value);
        put32(syms, e.size);
        syms.push_back(e.info);
        syms.push_back(e.other);
        put16(syms, e.shndx);
        if ((e.info >> 4) == STB_LOCAL)
            first_global++;
    }
    w->file.insert(w->file.end(), syms.begin(), syms.end());
    uint32_t symtab = add_section(".symtab", SHT_SYMTAB, symtab_at, (uint32_t)syms.size());
    w->sections[symtab].entsize = SYM_SIZE;
    w->sections[symtab].link = strtab;
    w->sections[symtab].info = first_global;
    w->sections[symtab].addralign = 4;

    for (const dwarf_section &d : dwarf_generate()) {
        add_section(d.name, table->debug_type, (uint32_t)w->file.size(), (uint32_t)d.bytes.size());
        w->file.insert(w->file.end(), d.bytes.begin(), d.bytes.end());
    }
    uint32_t shstrtab = add_section(".shstrtab", SHT_STRTAB, (uint32_t)w->file.size(), 0);
    w->sections[shstrtab].size = (uint32_t)(w->shstrtab.size());
    w->file.insert(w->file.end(), w->shstrtab.begin(), w->shstrtab.end());

    align4(w->file);
    uint32_t shoff = (uint32_t)w->file.size();
    for (const elf_shdr &s : w->sections)
        for (uint32_t v : {s.name, s.type, s.flags, s.addr, s.offset, s.size, s.link, s.info, s.addralign, s.entsize})
            put32(w->file, v);
    uint32_t phoff = w->programs.empty() ? 0 : (uint32_t)w->file.size();
    for (const elf_phdr &p : w->programs)
        for (uint32_t v : {p.type, p.offset, p.vaddr, p.paddr, p.filesz, p.memsz, p.flags, p.align})
            put32(w->file, v);

    bytes h = {0x7F, 'E', 'L', 'F', 1, (uint8_t)(settings.big_endian ? 2 : 1), 1, 0xFF};
    h.resize(16, 0);
    put16(h, 2);                     // ET_EXEC
    put16(h, machine);
    put32(h, 1);                     // EV_CURRENT
    put32(h, model.entry);
    put32(h, phoff);
    put32(h, shoff);
    put32(h, table->header_flags);
    put16(h, EHDR_SIZE);
    put16(h, PHDR_SIZE);
    put16(h, (uint16_t)w->programs.size());
    put16(h, SHDR_SIZE);
    put16(h, (uint16_t)w->sections.size());
    put16(h, (uint16_t)shstrtab);
    memcpy(w->file.data(), h.data(), EHDR_SIZE);
    if (fwrite(w->file.data(), 1, w->file.size(), out) != w->file.size())
        msg_report(413, name);
    w = nullptr;
}
