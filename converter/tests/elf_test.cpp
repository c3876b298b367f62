// The ELF/DWARF file: written by egret from linked programs and from
// hand-written inputs, judged by binutils' readelf and llvm-dwarfdump
// (independent readers of both formats), and dumped by egret itself from
// cut and corrupted files, which must end in numbered messages.
#include "egret_fixture.h"

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

const std::string zeph = std::string(ZEPH_BUILD_DIR) + "/bin/zeph";

// Line records in a symbol file: the lines below a file's name (of any
// file when `file` is "") that read "<line> <address> ...", address ->
// highest line (of several records at one address the last row wins).
std::map<unsigned long, unsigned> record_lines(const std::string &sym, const std::string &file)
{
    std::map<unsigned long, unsigned> lines;
    std::istringstream in(sym);
    std::string text, current;
    while (std::getline(in, text)) {
        std::vector<std::string> f;
        std::istringstream words(text);
        for (std::string w; words >> w;)
            f.push_back(w);
        if (f.size() == 1)
            current = f[0];
        else if (f.size() >= 2 && (file.empty() || current == file) && isdigit((unsigned char)f[0][0])) {
            unsigned long at = std::stoul(f[1], nullptr, 16);
            lines[at] = std::max(lines[at], (unsigned)std::stoul(f[0]));
        }
    }
    return lines;
}

// The DIE blocks of llvm-dwarfdump's listing: each from its offset line to
// the next.
std::vector<std::string> die_blocks(const std::string &listing)
{
    std::vector<std::string> blocks;
    std::istringstream in(listing);
    std::string line;
    const std::regex start(R"(^0x[0-9a-f]{8}:\s+DW_TAG)");
    while (std::getline(in, line)) {
        if (std::regex_search(line, start))
            blocks.push_back("");
        if (!blocks.empty())
            blocks.back() += line + "\n";
    }
    return blocks;
}

// The block of the DIE of that tag and name ("" when none).
std::string die_named(const std::string &listing, const std::string &tag, const std::string &name)
{
    for (const std::string &b : die_blocks(listing))
        if (b.find(tag) != std::string::npos && b.find("DW_AT_name\t(\"" + name + "\")") != std::string::npos)
            return b;
    return "";
}

class ElfTest : public EgretTest {
protected:
    // readelf prints no complaint and exits 0; llvm-dwarfdump's verifier
    // finds no error and warns of nothing.
    void expect_oracles_accept(const std::string &elf)
    {
        egret_result r = shell("readelf -a -w " + elf + " 2>&1");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
        r = shell("llvm-dwarfdump --verify " + elf + " 2>&1");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("No errors."), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
    }

    // A program built with the driver, its ELF file accepted by both readers.
    void build_elf(const std::string &source, const std::string &elf)
    {
        egret_result r = shell(zeph + " --chip=16F877A --output=elf " + source);
        ASSERT_EQ(r.status, 0) << r.out;
        ASSERT_TRUE(exists(elf)) << r.out;
        expect_oracles_accept(elf);
    }

    // The line llvm-dwarfdump finds for an address, 0 when none.
    unsigned lookup_line(const std::string &elf, unsigned long address)
    {
        egret_result r = shell("llvm-dwarfdump --lookup=" + std::to_string(address) + " " + elf + " 2>/dev/null");
        std::smatch m;
        static const std::regex line_info(R"(Line info: file '[^']*', line (\d+))");
        return std::regex_search(r.out, m, line_info) ? (unsigned)std::stoul(m[1]) : 0;
    }

    // Every address from the first line record to the last maps to the
    // line of the record at or before it.
    void expect_lookups(const std::string &elf, const std::map<unsigned long, unsigned> &records)
    {
        ASSERT_FALSE(records.empty());
        unsigned current = 0;
        for (unsigned long a = records.begin()->first; a <= records.rbegin()->first; a++) {
            auto at = records.find(a);
            if (at != records.end())
                current = at->second;
            EXPECT_EQ(lookup_line(elf, a), current) << "address 0x" << std::hex << a;
        }
    }

    // A program built by hand: symbol file, SDB file and HEX image.
    void write_handmade()
    {
        write("p.sym", "_main 10 0 CODE\n__end_of_main 52 0 CODE\n??_main 45 0 BANK0\n_g 40 0 BANK0\n"
                       "_big 100 0 BANK2\n"
                       "%segments\ntext 0 7F CODE 0\nbank0 40 4F BANK0 40\nbank2 100 22B BANK2 100\n"
                       "%locals\nmain.obj\nmain.c\nloop 20 0 CODE\n"
                       "10 10 0 CODE\n12 14 0 CODE\n12 16 0 CODE\n15 3E 0 CODE\n27 50 0 CODE\n");
        write("main.sdb", "[p PIC14 GLOBOPT ]\n\"1 main.c\n"
                          "[s S1 flags 1 `uc 1 ready 1 0 :1:0 `uc 1 mode 1 0 :3:1 `uc 1 level 1 0 :4:4 ]\n"
                          "[s S2 big 300 `uc 1 first 1 0 `uc 1 last 1 299 ]\n"
                          "[v _g `S1 1 e 1 0 ]\n[v _big `S2 1 e 300 0 ]\n"
                          "\"10\n[v _main `(v 1 e 0 0 ]\n{\n\"11\n[v i `uc 1 a 1 0 ]\n\"27\n}\n");
        ASSERT_EQ(shell("srec_cat -generate 0 0x100 -repeat-data 0x12 0x34 -o p.hex -Intel").status, 0);
    }
};

// ---------------------------------------------------------------------------
// linked programs
// ---------------------------------------------------------------------------

// An assembly program with file and line directives: both readers accept
// the file and every instruction of the program maps to its source line.
TEST_F(ElfTest, AssemblyProgramOracles)
{
    write("main.as", "\tFNCONF\tfnauto0,??,?\n\tfile\t\"src/main.as\"\n\tpsect\tmaintext,class=CODE,delta=2\n"
                     "\tglobal\t_main\n_main:\n\tline\t5\n\tclrf\t_n\nloop:\n\tline\t7\n\tincf\t_n,f\n\tmovf\t_n,w\n"
                     "\tline\t9\n\tmovwf\t0x06\n\tline\t10\n\tgoto\tloop\n\tpsect\trbss_0,class=BANK0,space=1\n"
                     "_n:\tds\t1\n\tpsect\tconfig,class=CONFIG,delta=2\n\tdw\t0x3F3A\n");
    build_elf("main.as", "main.elf");
    if (HasFatalFailure())
        return;
    std::map<unsigned long, unsigned> records = record_lines(read("main.sym"), "src/main.as");
    EXPECT_EQ(records.size(), 4u) << read("main.sym");
    expect_lookups("main.elf", records);
    // The last instruction (goto loop) lies inside the unit and its sequence.
    EXPECT_EQ(lookup_line("main.elf", records.rbegin()->first), 10u);

    // The configuration word, whose class is no program class, is loaded too.
    egret_result r = shell("readelf -x config main.elf");
    EXPECT_NE(r.out.find("3a3f"), std::string::npos) << r.out;
}

// A C program with structures, bit-fields, locals and several functions:
// the readers accept it, lines map, and the DIEs name what the source does.
TEST_F(ElfTest, CProgramOraclesAndDies)
{
    write("prog.c", "struct flags {\n    unsigned char ready : 1;\n    unsigned char mode : 3;\n"
                    "    unsigned char level : 4;\n};\nstruct point {\n    int x;\n    int y;\n"
                    "    struct point *next;\n};\nstruct flags status;\nstruct point pts[2];\nunsigned char counter;\n\n"
                    "int add(int a, int b)\n{\n    int t;\n    t = a + b;\n    return t;\n}\n\n"
                    "unsigned char scale(unsigned char v)\n{\n    unsigned char r;\n    r = v * 3;\n"
                    "    status.mode = r & 7;\n    return r;\n}\n\nvoid main(void)\n{\n    unsigned char i;\n"
                    "    for (i = 0; i < 2; i++) {\n        pts[i].x = add(i, 5);\n        pts[i].y = scale(i);\n"
                    "    }\n    status.level = 9;\n    status.ready = 1;\n    counter++;\n    while (1)\n        ;\n}\n");
    build_elf("prog.c", "prog.elf");
    if (HasFatalFailure())
        return;
    // Every line record counts, a header's included.
    expect_lookups("prog.elf", record_lines(read("prog.sym"), ""));

    std::string info = shell("llvm-dwarfdump --debug-info prog.elf").out;
    for (const char *fn : {"add", "scale", "main"})
        EXPECT_NE(die_named(info, "DW_TAG_subprogram", fn), "") << fn << "\n" << info;
    for (const char *var : {"status", "pts", "counter", "t", "r", "i"})
        EXPECT_NE(die_named(info, "DW_TAG_variable", var), "") << var << "\n" << info;
    // (scale's v arrives in W, a register the PIC resolver places nowhere)
    for (const char *param : {"a", "b"})
        EXPECT_NE(die_named(info, "DW_TAG_formal_parameter", param), "") << param;
    EXPECT_NE(die_named(info, "DW_TAG_member", "next"), "");
    // Bit offsets from the storage unit's top bit: 8 - position - width.
    struct {
        const char *name, *size, *offset;
    } fields[] = {{"ready", "0x01", "0x07"}, {"mode", "0x03", "0x04"}, {"level", "0x04", "0x00"}};
    for (const auto &f : fields) {
        std::string die = die_named(info, "DW_TAG_member", f.name);
        EXPECT_NE(die.find(std::string("DW_AT_bit_size\t(") + f.size + ")"), std::string::npos) << die;
        EXPECT_NE(die.find(std::string("DW_AT_bit_offset\t(") + f.offset + ")"), std::string::npos) << die;
    }
}

// ---------------------------------------------------------------------------
// hand-made inputs
// ---------------------------------------------------------------------------

// Rows of one line are all kept, far steps and line jumps are encoded, and
// the sequence ends one past the last instruction; sizes above 255 and
// bit-fields wider than one bit come out right; autos are placed at their
// frame symbol; the symbol table has its locals first.
TEST_F(ElfTest, HandmadeLinesTypesAndSymbols)
{
    write_handmade();
    egret_result r = egret("-m -P16F877A,PIC14 -NCODE p.hex p.sym -oelf p.elf");
    ASSERT_EQ(r.status, 0) << r.out;
    expect_oracles_accept("p.elf");

    std::string lines = shell("llvm-dwarfdump --debug-line p.elf").out;
    const std::regex row(R"(^0x([0-9a-f]{16})\s+(\d+)\s.*?(end_sequence)?\s*$)");
    std::vector<std::tuple<unsigned long, unsigned, bool>> rows;
    std::istringstream in(lines);
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, m, row))
            rows.push_back({std::stoul(m[1], nullptr, 16), (unsigned)std::stoul(m[2]), m[3].matched});
    std::vector<std::tuple<unsigned long, unsigned, bool>> want = {
        {0x10, 10, false}, {0x14, 12, false}, {0x16, 12, false}, {0x3E, 15, false}, {0x50, 27, false},
        {0x51, 27, true}};
    EXPECT_EQ(rows, want) << lines;

    std::string info = shell("llvm-dwarfdump --debug-info p.elf").out;
    EXPECT_NE(die_named(info, "DW_TAG_structure_type", "big").find("DW_AT_byte_size\t(0x012c)"), std::string::npos)
        << info;
    std::string last = die_named(info, "DW_TAG_member", "last");
    EXPECT_NE(last.find("DW_OP_plus_uconst 0x12b"), std::string::npos) << last;
    std::string mode = die_named(info, "DW_TAG_member", "mode");
    EXPECT_NE(mode.find("DW_AT_bit_offset\t(0x04)"), std::string::npos) << mode;
    std::string i = die_named(info, "DW_TAG_variable", "i");
    EXPECT_NE(i.find("DW_OP_addr 0x45"), std::string::npos) << i;
    std::string g = die_named(info, "DW_TAG_variable", "g");
    EXPECT_NE(g.find("DW_OP_addr 0x40"), std::string::npos) << g;
    EXPECT_NE(g.find("DW_AT_external\t(0x01)"), std::string::npos) << g;
    std::string abbrev = shell("llvm-dwarfdump --debug-abbrev p.elf").out;
    EXPECT_NE(abbrev.find("DW_AT_external\tDW_FORM_flag\n"), std::string::npos) << abbrev;
    EXPECT_EQ(abbrev.find("DW_AT_external\tDW_FORM_data1"), std::string::npos) << abbrev;
    std::string main = die_named(info, "DW_TAG_subprogram", "main");
    EXPECT_NE(main.find("DW_AT_low_pc\t(0x0010)"), std::string::npos) << main;
    EXPECT_NE(main.find("DW_AT_high_pc\t(0x0052)"), std::string::npos) << main;

    // Sections: the code in bytes (0x80 words of two bytes), RAM without bytes.
    r = shell("readelf -S -s p.elf");
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(text\s+PROGBITS\s+00000000 \S+ 000100 00  AX)"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(bank2\s+NOBITS\s+00000100 \S+ 00012c 00  WA)"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(LOCAL\s+DEFAULT\s+1 loop)"))) << r.out;
    EXPECT_EQ(r.out.find("PHDR"), std::string::npos);
}

// With -b every field is big-endian and both readers still accept it.
TEST_F(ElfTest, BigEndian)
{
    write_handmade();
    ASSERT_EQ(egret("-b -m -P16F877A,PIC14 -NCODE p.hex p.sym -oelf p.elf").status, 0);
    std::string head = read("p.elf").substr(0, 8);
    EXPECT_EQ(head, std::string("\x7F" "ELF\x01\x02\x01\xFF", 8));
    expect_oracles_accept("p.elf");
}

// egret's own dump lists the headers and the DWARF sections it wrote.
TEST_F(ElfTest, DumpOfWrittenFile)
{
    write_handmade();
    ASSERT_EQ(egret("-m -P16F877A,PIC14 -NCODE p.hex p.sym -oelf p.elf").status, 0);
    egret_result r = egret("-d p.elf");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char *text : {"ELF header:\n\tClass:   \t32-bit objects\n", ".debug_abbrev (abbreviation table):",
                             "Compilation Unit 1 @ 0x00000000", "+compile unit (", "DW_LNE_end_sequence",
                             "No .debug_frame (from call frame information)", "Generated line number matrix:"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

// ---------------------------------------------------------------------------
// cut and corrupted files
// ---------------------------------------------------------------------------

std::string with_u32(std::string bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4 && at + i < bytes.size(); i++)
        bytes[at + i] = (char)(v >> (8 * i));
    return bytes;
}
std::string with_u16(std::string bytes, size_t at, uint16_t v)
{
    bytes[at] = (char)v;
    bytes[at + 1] = (char)(v >> 8);
    return bytes;
}

uint32_t u32_at(const std::string &b, size_t at)
{
    return (uint8_t)b[at] | (uint8_t)b[at + 1] << 8 | (uint8_t)b[at + 2] << 16 | (uint32_t)(uint8_t)b[at + 3] << 24;
}

// The file offset of a section's header by its name.
size_t section_header_at(const std::string &elf, const std::string &name)
{
    uint32_t shoff = u32_at(elf, 32);
    unsigned shnum = (uint8_t)elf[48] | (uint8_t)elf[49] << 8, shstrndx = (uint8_t)elf[50] | (uint8_t)elf[51] << 8;
    uint32_t names = u32_at(elf, shoff + 40 * shstrndx + 16);
    for (unsigned k = 0; k < shnum; k++)
        if (elf.compare(names + u32_at(elf, shoff + 40 * k), name.size() + 1, name.c_str(), name.size() + 1) == 0)
            return shoff + 40 * k;
    return 0;
}

// Each damaged file ends in its numbered message; egret never crashes.
TEST_F(ElfTest, DamagedFilesGiveNumberedMessages)
{
    write_handmade();
    ASSERT_EQ(egret("-m -P16F877A,PIC14 -NCODE p.hex p.sym -oelf p.elf").status, 0);
    std::string elf = read("p.elf");
    size_t info = section_header_at(elf, ".debug_info"), line = section_header_at(elf, ".debug_line"),
           symtab = section_header_at(elf, ".symtab");
    ASSERT_TRUE(info && line && symtab);
    uint32_t info_at = u32_at(elf, info + 16), line_at = u32_at(elf, line + 16);
    struct {
        const char *what;
        std::string bytes;
        unsigned message;
    } cases[] = {
        {"cut in the header", elf.substr(0, 30), 1614},
        {"cut in the section headers", elf.substr(0, u32_at(elf, 32) + 50), 1614},
        {"string table index out of range", with_u16(elf, 50, 0x7FFF), 1653},
        {"section header entry size 0", with_u16(elf, 46, 0), 1656},
        {"symbol entry size 0", with_u32(elf, symtab + 36, 0), 1654},
        {"unit length beyond its section", with_u32(elf, info_at, 0x7FFFFFFF), 659},
        {"abbreviation offset beyond its table", with_u32(elf, info_at + 6, 0x10000), 660},
        {"line program length beyond its section", with_u32(elf, line_at, 0x7FFFFFF0), 649},
        {"line program header length a lie", with_u32(elf, line_at + 6, 0xFFFF), 647},
        {"section beyond the file", with_u32(elf, info + 20, 0x7FFFFFFF), 666},
        {"not ELF version 1", with_u16(elf, 6, 0x0202), 1655},
    };
    for (const auto &c : cases) {
        write("bad.elf", c.bytes);
        egret_result r = egret("-d -v -ielf bad.elf");
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_LT(r.status, 128) << c.what;   // no signal
    }
    // Read back, each damage ends in its numbered message, and so does
    // every cut of the file and every byte flipped: never a signal.
    size_t at_version = line_at + 4;
    struct {
        const char *what;
        std::string bytes;
        unsigned message;
    } reads[] = {
        {"cut in the header", elf.substr(0, 30), 1614},
        {"not ELF version 1", with_u16(elf, 6, 0x0202), 1655},
        {"cut in the section headers", elf.substr(0, u32_at(elf, 32) + 50), 1614},
        {"string table index out of range", with_u16(elf, 50, 0x7FFF), 1653},
        {"section header entry size 0", with_u16(elf, 46, 0), 1656},
        {"symbol entry size 0", with_u32(elf, symtab + 36, 0), 1654},
        {"line program length beyond its section", with_u32(elf, line_at, 0x7FFFFFF0), 1614},
        {"line program of version 5", with_u16(elf, at_version, 5), 1669},
        {"line program header length a lie", with_u32(elf, line_at + 6, 0xFFFF), 1614},
        {"line section beyond the file", with_u32(elf, line + 20, 0x7FFFFFFF), 1614},
    };
    for (const auto &c : reads) {
        write("bad.elf", c.bytes);
        egret_result r = egret("-P16F877A,PIC14 -NCODE -ielf bad.elf -oihex back.hex");
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_LT(r.status, 128) << c.what;
    }
    // sampled cuts and flips (the egret fuzz targets try damage at random)
    for (size_t n = 0; n < elf.size(); n += 37) {
        write("cut.elf", elf.substr(0, n));
        EXPECT_LT(egret("-P16F877A,PIC14 -NCODE -ielf cut.elf -oihex back.hex").status, 128) << "cut at " << n;
    }
    for (size_t i = 0; i < elf.size(); i += 11) {
        std::string flipped = elf;
        flipped[i] = (char)(flipped[i] ^ 0xFF);
        write("flip.elf", flipped);
        EXPECT_LT(egret("-P16F877A,PIC14 -NCODE -ielf flip.elf -oihex back.hex").status, 128) << "byte " << i;
    }
}

// A C program built with the driver and read back by egret: the same HEX
// image, every symbol of the ELF symbol table (as binutils' readelf lists
// it) with its value, and the same line records as the linker's symbol file.
TEST_F(ElfTest, ReadBackRoundTrip)
{
    write("prog.c", "unsigned char counter;\nint add(int a, int b)\n{\n    int t;\n    t = a + b;\n    return t;\n}\n\n"
                    "void main(void)\n{\n    unsigned char i;\n    for (i = 0; i < 2; i++) {\n"
                    "        counter += add(i, 5);\n    }\n    while (1)\n        ;\n}\n");
    build_elf("prog.c", "prog.elf");
    if (HasFatalFailure())
        return;
    egret_result r = egret("-P16F877A,PIC14 -NCODE prog.elf -ovormak back.sym -oihex back.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp prog.hex -Intel back.hex -Intel").status, 0);
    std::string back = read("back.sym");
    std::map<unsigned long, unsigned> lines = record_lines(read("prog.sym"), "");
    EXPECT_GT(lines.size(), 5u);
    EXPECT_EQ(record_lines(back, ""), lines) << back;

    std::istringstream listing(shell("readelf -s -W prog.elf").out);
    const std::regex entry(R"(^\s*\d+: ([0-9a-f]{8})\s+\d+\s+(\w+)\s+\w+\s+\w+\s+\w+\s+(\S+)\s*$)");
    std::smatch m;
    unsigned seen = 0;
    for (std::string text; std::getline(listing, text);) {
        if (!std::regex_match(text, m, entry) || m[2] == "SECTION" || m[2] == "FILE")
            continue;
        char value[16];
        snprintf(value, sizeof value, "%lX", std::stoul(m[1].str(), nullptr, 16));
        std::string expected = "\n" + m[3].str() + " " + value;
        bool found = ("\n" + back).find(expected + " ") != std::string::npos ||
                     ("\n" + back).find(expected + "\n") != std::string::npos;
        EXPECT_TRUE(found) << expected << "\n" << back;
        seen++;
    }
    EXPECT_GT(seen, 5u);
}

} // namespace
