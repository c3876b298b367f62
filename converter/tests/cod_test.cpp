// The .COD debug file: written by egret from linked programs and from
// hand-made inputs, judged by gputils' gpvc (an independent reader of the
// format: directory, program image, line table, symbols) and by gpsim
// (which loads it and shows a label's source line), read back by egret,
// and refused by number when it is cut short or corrupted.
#include "egret_fixture.h"

#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::string zeph = std::string(ZEPH_BUILD_DIR) + "/bin/zeph";
const std::string pic_args = "-m -P16F877A,PIC14 -NCODE,CONST,ENTRY,STRING";

// ---------------------------------------------------------------------------
// gpvc's listing
// ---------------------------------------------------------------------------

struct gpvc_line {
    unsigned line;
    unsigned long address;
    unsigned flags;
    std::string file;
};

struct gpvc_listing {
    std::string processor;
    std::map<unsigned long, unsigned> bytes;   // program byte address -> byte
    std::vector<gpvc_line> lines;
    std::map<std::string, std::string> long_symbols;   // name -> "value, type"
    std::vector<std::string> complaints;
};

// `unit` bytes per address gpvc shows (2 on a 14-bit PIC, 1 on an 18F).
gpvc_listing parse_gpvc(const std::string &out, unsigned unit)
{
    gpvc_listing g;
    std::istringstream in(out);
    std::string line;
    const std::regex code(R"(^([0-9a-f]{6}):  ((?:[0-9a-f]{4} )+)\s*$)");
    const std::regex record(R"(^\s*\d+\s+(\d+)\s+([0-9A-Fa-f]{6})\s+([0-9a-f]+) \S+\s+(.*?)\s*$)");
    const std::regex symbol(R"(^(\S+) = ([0-9a-f]+), type = (\S+)\s*$)");
    std::smatch m;
    bool lines = false;
    while (std::getline(in, line)) {
        if (line.rfind("1c6 - Processor:", 0) == 0) {
            g.processor = line.substr(line.find_last_of(' ') + 1);
        } else if (line.rfind("Line Number Information:", 0) == 0) {
            lines = true;
        } else if (std::regex_match(line, m, code)) {
            unsigned long at = std::stoul(m[1], nullptr, 16) * unit;
            std::istringstream words(m[2]);
            std::string word;
            for (unsigned long k = 0; words >> word; k += 2) {
                unsigned v = std::stoul(word, nullptr, 16);
                g.bytes[at + k] = v & 0xFF;
                g.bytes[at + k + 1] = v >> 8;
            }
        } else if (lines && std::regex_match(line, m, record)) {
            g.lines.push_back({(unsigned)std::stoul(m[1]), std::stoul(m[2], nullptr, 16),
                               (unsigned)std::stoul(m[3], nullptr, 16), m[4]});
            if (g.lines.back().file.rfind("Bad source", 0) == 0)
                g.complaints.push_back(line);
        } else if (std::regex_match(line, m, symbol)) {
            g.long_symbols[m[1]] = m.str(2) + ", " + m.str(3);
        }
    }
    return g;
}

std::string str_hex(unsigned long v)
{
    std::ostringstream out;
    out << std::uppercase << std::hex << v;
    return out.str();
}

// Program bytes of an Intel HEX file by byte address.
std::map<unsigned long, unsigned> hex_bytes(const std::string &text)
{
    std::map<unsigned long, unsigned> bytes;
    std::istringstream in(text);
    std::string r;
    unsigned long base = 0;
    while (std::getline(in, r)) {
        auto field = [&](size_t at, size_t n) { return std::stoul(r.substr(at, n), nullptr, 16); };
        if (field(7, 2) == 4)
            base = field(9, 4) << 16;
        else if (field(7, 2) == 2)
            base = field(9, 4) << 4;
        else if (field(7, 2) == 0)
            for (unsigned long i = 0; i < field(1, 2); i++)
                bytes[base + field(3, 4) + i] = field(9 + 2 * i, 2);
    }
    return bytes;
}

// gpvc shows whole rows of a code block: bytes the HEX lacks show as 0.
void expect_rom_equals_hex(const gpvc_listing &g, const std::string &hex)
{
    std::map<unsigned long, unsigned> want = hex_bytes(hex);
    ASSERT_FALSE(want.empty());
    for (const auto &[at, b] : want) {
        if (b || g.bytes.count(at)) {
            ASSERT_TRUE(g.bytes.count(at)) << std::hex << at;
            EXPECT_EQ(g.bytes.at(at), b) << std::hex << at;
        }
    }
    for (const auto &[at, b] : g.bytes) {
        if (!want.count(at)) {
            EXPECT_EQ(b, 0u) << std::hex << at;
        }
    }
}

// The lines of a source text, numbered from 1.
std::vector<std::string> source_lines(const std::string &text)
{
    std::vector<std::string> lines = {""};
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

class CodTest : public EgretTest {
protected:
    gpvc_listing gpvc(const std::string &file, unsigned unit = 2)
    {
        egret_result r = shell("gpvc -a " + file);
        EXPECT_EQ(r.status, 0) << r.out;
        return parse_gpvc(r.out, unit);
    }

    // gpsim loads the .cod headless, stops at the label and lists its
    // source: the marked line's text.
    std::string gpsim_line_at(const std::string &cod, const std::string &label)
    {
        write("cmd.stc", "break e " + label + "\nrun\nlist\nquit\n");
        egret_result r = shell("timeout 60 gpsim -i -s " + cod + " -I " + dir + "/cmd.stc < /dev/null");
        size_t at = r.out.find("==>");
        if (at == std::string::npos)
            return "(no marked line)\n" + r.out;
        return r.out.substr(at + 3, r.out.find('\n', at) - at - 3);
    }

    // The hand-made program of the COFF tests: a symbol file, an SDB file
    // beside its object and a HEX image of words 0-7Fh.
    void write_handmade()
    {
        write("p.sym", "_main 10 0 CODE\n__end_of_main 15 0 CODE\n_f 30 0 CODE\n??_main 45 0 BANK0\n"
                       "?_f 48 0 BANK0\n_g 40 0 BANK0\n_a 208 0 BANK0\n_b 20B 0 BANK0\n_w 4A 0 BANK0\n"
                       "_arr 4C 0 BANK0\n_fp 4E 0 BANK0\n_l 50 0 BANK0\n_x 54 0 BANK0\n_a_very_long_name_of_thirty 56 0 BANK0\n"
                       "_abs 1234\n"
                       "%segments\ntext 0 7F CODE 0\nbank0 40 5F BANK0 40\n%locals\nmain.obj\nmain.c\n"
                       "10 10 0 CODE\n11 12 0 CODE\n12 14 0 CODE\n20 30 0 CODE\n22 31 0 CODE\n30 40 0 CODE\n"
                       "l5 12 0 CODE\n");
        write("main.sdb", "[p PIC14 GLOBOPT ]\n\"1 main.c\n"
                          "[s S1 point 3 `uc 1 x 1 0 `uc 1 y 1 1 `uc 1 f 1 2 ]\n"
                          "[v _g `S1 1 e 3 0 ]\n[v _a `b 1 e 0 0 ]\n[v _b `b 1 e 0 0 ]\n[v _w `ui 1 e 2 0 ]\n"
                          "[v _arr `[2i 1 e 4 0 ]\n[v _fp `*(v 1 e 2 0 ]\n[v _l `l 1 e 4 0 ]\n[v _x `f 1 e 3 0 ]\n"
                          "[v _a_very_long_name_of_thirty `uc 1 e 1 0 ]\n"
                          "\"10\n[v _main `(v 1 e 0 0 ]\n{\n\"11\n[v i `uc 1 a 1 0 ]\n[v j `c 1 a 1 1 ]\n\"12\n}\n"
                          "\"20\n[v _f `(v 1 e 0 0 ]\n{\n[v _f_k `uc 1 p 1 0 ]\n\"22\n}\n");
        ASSERT_EQ(shell("srec_cat -generate 0 0x100 -repeat-data 0x12 0x34 -o p.hex -Intel").status, 0);
    }
};

// ---------------------------------------------------------------------------
// Linked programs
// ---------------------------------------------------------------------------

// An assembly program with file and line directives, built for the .COD
// file: gpvc reads the processor as it knows it, the HEX image word for
// word and each instruction as a line of the file the source names; gpsim
// stops at a label and shows the line of its instruction.
TEST_F(CodTest, AssemblyProgramInGpvcAndGpsim)
{
    std::string source = "\tFNCONF\tfnauto0,??,?\n\tfile\t\"main.as\"\n\tpsect\tmaintext,class=CODE,delta=2\n"
                         "\tglobal\t_main\n_main:\n\tline\t6\n\tclrf\t_n\nloop:\n\tline\t9\n\tincf\t_n,f\n"
                         "\tline\t11\n\tmovf\t_n,w\n\tline\t13\n\tmovwf\t0x06\n\tline\t15\n\tgoto\tloop\n"
                         "\tpsect\trbss_0,class=BANK0,space=1\n_n:\tds\t1\n"
                         "\tpsect\tconfig,class=CONFIG,delta=2\n\tdw\t0x3F3A\n";
    write("main.as", source);
    egret_result r = shell(zeph + " --chip=16F877A --output=cod main.as");
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(exists("main.cod")) << r.out;

    gpvc_listing g = gpvc("main.cod");
    EXPECT_TRUE(g.complaints.empty()) << g.complaints[0];
    EXPECT_EQ(g.processor, "16f877a");
    expect_rom_equals_hex(g, read("main.hex"));
    std::map<std::string, unsigned> values = tool_symbols(dir + "/main.sym");
    unsigned main = values.at("_main");
    std::set<std::pair<unsigned, unsigned long>> code, want = {
        {6, main}, {9, main + 1}, {11, main + 2}, {13, main + 3}, {15, main + 4}};
    for (const gpvc_line &l : g.lines) {
        EXPECT_EQ(l.file, "main.as");
        if (l.flags == 0x80)
            code.insert({l.line, l.address});
    }
    EXPECT_EQ(code, want);

    std::vector<std::string> text = source_lines(source);
    EXPECT_EQ(gpsim_line_at("main.cod", "loop"), text[9]);
}

// A C program of 100 lines (the line table spans two blocks): gpvc finds
// every line record of the symbol file, gpsim stops at a function and
// shows its first line, and egret reads the .cod back to the same HEX
// image and line records.
TEST_F(CodTest, CProgramInGpvcGpsimAndBack)
{
    std::string source = "unsigned char n;\nunsigned char add(unsigned char a, unsigned char b)\n{\n"
                         "    unsigned char t;\n    t = a + b;\n    return t;\n}\n";
    std::string body;
    for (int i = 0; source_lines(source).size() + source_lines(body).size() < 97; i++)
        body += "    n = add(n, " + std::to_string(i) + ");\n";
    source += "void main(void)\n{\n" + body + "    while (1)\n        ;\n}\n";
    ASSERT_EQ(source_lines(source).size() - 1, 100u);
    write("main.c", source);
    egret_result r = shell(zeph + " --chip=16F877A --output=cod,intel main.c");
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(exists("main.cod")) << r.out;
    std::string sym = read("main.sym");
    std::set<std::pair<unsigned, unsigned long>> original = sym_lines(sym, "main.c");
    ASSERT_GT(original.size(), 84u) << sym;

    gpvc_listing g = gpvc("main.cod");
    EXPECT_TRUE(g.complaints.empty()) << g.complaints[0];
    expect_rom_equals_hex(g, read("main.hex"));
    std::set<std::pair<unsigned, unsigned long>> listed;
    std::set<unsigned> numbers;
    for (const gpvc_line &l : g.lines) {
        EXPECT_EQ(l.file, "main.c");
        numbers.insert(l.line);
        if (l.flags == 0x80)
            listed.insert({l.line, l.address});
    }
    EXPECT_EQ(listed, original);
    for (unsigned n = 1; n <= 100; n++)
        EXPECT_TRUE(numbers.count(n)) << n;

    std::map<std::string, unsigned> values = tool_symbols(dir + "/main.sym");
    unsigned first_line = 0;
    for (const auto &l : original)
        if (l.second == values.at("_add") && (!first_line || l.first < first_line))
            first_line = l.first;
    ASSERT_NE(first_line, 0u);
    EXPECT_EQ(gpsim_line_at("main.cod", "add"), source_lines(source)[first_line]);

    r = egret("main.cod -ovormak back.sym -oihex back.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp main.hex -Intel back.hex -Intel").status, 0);
    EXPECT_EQ(sym_lines(read("back.sym"), "main.c"), original);
    std::map<std::string, unsigned> back = tool_symbols(dir + "/back.sym");
    EXPECT_EQ(back.size(), 0u);   // every symbol belongs to the .cod file's own list
    EXPECT_NE(read("back.sym").find("\nadd " + str_hex(values.at("_add")) + " "), std::string::npos) << read("back.sym");
}

// ---------------------------------------------------------------------------
// Hand-made inputs
// ---------------------------------------------------------------------------

// The tables from the symbol file and the SDB tree: type codes by C type,
// bit variables as a byte address and a bit number, locals by function
// block, names cut to 12 characters in the short table; with -f the locals
// go into the long table as "function.variable" and no local table is
// written; without -m names keep their underscore.
TEST_F(CodTest, SymbolTablesAndLocals)
{
    write_handmade();
    egret_result r = egret(pic_args + " p.hex p.sym -ocod p.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    r = egret("-d p.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char *want : {
             "Compiler: Vormak\n", "Codtyp:\t1; Processor 16f877a\n", "Code: 00h at block 2\n",
             "\tg              (c_struct)             0040\n", "\ta              (bit_0)                0041\n",
             "\tb              (bit_3)                0041\n", "\tw              (c_uint)               004A\n",
             "\tarr            (word_array)           004C\n", "\tfp             (pfun_void_none)       004E\n",
             "\tl              (sint32)               0050\n", "\tx              (float24)              0054\n",
             "\ta_very_long_   (c_ubyte)              0056\n", "\tmain           (func_void_none)       0010\n",
             "\t?_f            (c_byte)               0048\n", "\tabs            (unknown)              1234\n",
             "\tl5             (func_void_none)       0012\n",
             "Locals:\nBlock: 0x20-0x28\n\tmain           (func_void_none)       0010\n"
             "\ti              (c_ubyte)              0045\n\tj              (c_byte)               0046\n"
             "Block: 0x60-0x62\n\tf              (func_void_none)       0030\n"
             "\tf_k            (c_ubyte)              0048\nFiles:\n"})
        EXPECT_NE(r.out.find(want), std::string::npos) << want << r.out;
    // A variable from the SDB tree is listed once, not again as a label.
    EXPECT_EQ(r.out.find("\tmain "), r.out.rfind("\tmain ", r.out.find("\nLocals:\n"))) << r.out;

    r = egret("-f -P16F877A,PIC14 -NCODE p.hex p.sym -ocod f.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    gpvc_listing g = gpvc("f.cod");
    for (const char *name : {"_main.i", "_main.j", "_f._f_k", "_a_very_long_name_of_thirty", "_g", "?_f"})
        EXPECT_TRUE(g.long_symbols.count(name)) << name;
    EXPECT_EQ(g.long_symbols["_main.j"].substr(0, 3), "46,");
    EXPECT_EQ(g.long_symbols["_a"].substr(0, 4), "208,");   // with -f a bit keeps its bit address
    r = egret("-d f.cod");
    EXPECT_NE(r.out.find("Locals:\nFiles:\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\t_g             (unknown)              0040\n"), std::string::npos) << r.out;
}

// How many addresses a line's records cover: up to the next line or the
// next symbol after it (a label at its own address does not end it), never
// past the end of the code the image holds nor past the line's end, however
// far the next line is; lines missing before a line get records without an
// address.
TEST_F(CodTest, LineRecordsEndWithTheLine)
{
    write("p.sym", "_main 10 0 CODE\n_lib 26 0 CODE\n%locals\nmain.c\n"
                   "3 10 0 CODE\n5 14 0 CODE\n6 20 0 CODE\n8 30 0 CODE\n9 100 0 CODE\n10 300 0 CODE\n");
    ASSERT_EQ(shell("srec_cat -generate 0x20 0x30 -repeat-data 1 2 -generate 0x40 0x50 -repeat-data 3 4 "
                    "-generate 0x60 0x70 -repeat-data 5 6 -generate 0x200 0x204 -constant 7 -generate 0x600 0x602 "
                    "-constant 8 -o p.hex -Intel")
                  .status,
              0);
    egret_result r = egret(pic_args + " p.hex p.sym -ocod p.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    gpvc_listing g = gpvc("p.cod");
    std::map<unsigned, std::vector<unsigned long>> addresses;
    std::vector<unsigned> without;
    for (const gpvc_line &l : g.lines)
        if (l.flags == 0x90)
            without.push_back(l.line);
        else
            addresses[l.line].push_back(l.address);
    std::map<unsigned, std::vector<unsigned long>> want = {
        {3, {0x10, 0x11, 0x12, 0x13}},   // label _main at its own address
        {5, {0x14, 0x15, 0x16, 0x17}},   // the image ends at 0x18
        {6, {0x20, 0x21, 0x22, 0x23, 0x24, 0x25}},   // _lib at 0x26 starts other code
        {8, {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37}},   // 0x38-0xFF hold nothing
        {9, {0x100}},   // the next line is 0x200 further: the line ends at its own address
        {10, {0x300}},
    };
    EXPECT_EQ(addresses, want);
    EXPECT_EQ(without, (std::vector<unsigned>{1, 2, 4, 7}));
}

// A line table of more than one block: 84 records a block, every one read
// by gpvc and listed by egret's dump.
TEST_F(CodTest, LineTableOfSeveralBlocks)
{
    std::string sym = "%locals\nmain.c\n";
    for (unsigned n = 1; n <= 200; n++)
        sym += std::to_string(n) + " " + str_hex(n) + " 0 CODE\n";
    write("p.sym", sym);
    ASSERT_EQ(shell("srec_cat -generate 0 0x200 -repeat-data 1 2 -o p.hex -Intel").status, 0);
    egret_result r = egret(pic_args + " p.hex p.sym -ocod p.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    gpvc_listing g = gpvc("p.cod");
    std::set<unsigned> lines;
    for (const gpvc_line &l : g.lines) {
        EXPECT_EQ(l.address, l.line) << l.line;   // one instruction a line
        lines.insert(l.line);
    }
    EXPECT_EQ(lines.size(), 200u);
    EXPECT_EQ(g.lines.size(), 200u);
    r = egret("-d p.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<size_t> per_block;
    std::istringstream in(r.out.substr(r.out.find("Line numbers:")));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Line number block", 0) == 0)
            per_block.push_back(0);
        else if (!per_block.empty() && line[0] == '\t')
            per_block.back()++;
    EXPECT_EQ(per_block, (std::vector<size_t>{84, 84, 33}));   // a file record and 200 lines
}

// What the line table cannot hold is left out with a warning, the rest
// written: a 257th source file (a line record names its file in one
// byte) and a line number above 65535.
TEST_F(CodTest, LinesTheTableCannotHold)
{
    std::string sym = "%locals\n";
    for (unsigned n = 0; n < 257; n++)
        sym += "f" + std::to_string(n) + ".c\n1 " + str_hex(n) + " 0 CODE\n";
    sym += "f0.c\n70000 200 0 CODE\n";
    write("p.sym", sym);
    ASSERT_EQ(shell("srec_cat -generate 0 0x400 -constant 1 -o p.hex -Intel").status, 0);
    egret_result r = egret(pic_args + " p.hex p.sym -ocod p.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(msg_tag(1630)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"f256.c\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(msg_tag(1631)), std::string::npos) << r.out;
    // (gpvc takes only 100 source files: egret's listing is the judge.)
    r = egret("-d p.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    std::istringstream in(r.out.substr(r.out.find("Files:\n")));
    std::string line;
    std::set<std::string> names, lines;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, std::regex(R"(\t(f\d+\.c) *)")))
            names.insert(m[1]);
        else if (std::regex_match(line, m, std::regex(R"(\t +(\d+) 80 ([0-9A-F]{4}) (\S+))")))
            lines.insert(m.str(1) + " " + m.str(2) + " " + m.str(3));
    }
    EXPECT_EQ(names.size(), 256u);
    EXPECT_FALSE(names.count("f256.c"));
    EXPECT_EQ(lines.size(), 256u);
    EXPECT_TRUE(lines.count("1 00FF f255.c"));
}

// Program bytes past the first 64K: one directory per 64K range, chained,
// each with its code blocks and the lines of its addresses; gpvc reads
// them all, and egret reads the image and lines back.
TEST_F(CodTest, CodeBeyond64K)
{
    ASSERT_EQ(shell("srec_cat -generate 0x1F0 0x210 -repeat-data 1 2 3 4 -generate 0x10010 0x10020 -repeat-data 5 6 "
                    "-generate 0x20000 0x20004 -constant 7 -o big.hex -Intel")
                  .status,
              0);
    write("big.sym", "_start 1F0 0 CODE\n_far 10010 0 CODE\n%locals\nbig.as\n"
                     "3 1F0 0 CODE\n4 1F2 0 CODE\n7 10010 0 CODE\n8 10014 0 CODE\n");
    egret_result r = egret("-p18F8722 big.hex big.sym -ocod big.cod");
    ASSERT_EQ(r.status, 0) << r.out;
    gpvc_listing g = gpvc("big.cod", 1);
    expect_rom_equals_hex(g, read("big.hex"));
    std::set<std::pair<unsigned, unsigned long>> code;
    for (const gpvc_line &l : g.lines)
        if (l.flags != 0x90)
            code.insert({l.line, l.address});
    EXPECT_EQ(code, (std::set<std::pair<unsigned, unsigned long>>{
                        {3, 0x1F0}, {3, 0x1F1}, {4, 0x1F2}, {7, 0x10010}, {7, 0x10011}, {7, 0x10012}, {7, 0x10013},
                        {8, 0x10014}}));

    r = egret("big.cod -oihex back.hex -ovormak back.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp big.hex -Intel back.hex -Intel").status, 0);
    EXPECT_EQ(sym_lines(read("back.sym"), "big.as"),
              (std::set<std::pair<unsigned, unsigned long>>{{3, 0x1F0}, {4, 0x1F2}, {7, 0x10010}, {8, 0x10014}}));
}

// The probe knows a .COD file by its date: seven characters at most, a
// digit second, letters third and fourth.
TEST_F(CodTest, ProbeReadsTheDate)
{
    write("p.sym", "%locals\nmain.c\n1 0 0 CODE\n");
    ASSERT_EQ(shell("srec_cat -generate 0 4 -constant 1 -o p.hex -Intel").status, 0);
    ASSERT_EQ(egret(pic_args + " p.hex p.sym -ocod p.cod").status, 0);
    std::string cod = read("p.cod");
    struct Case {
        std::string date;
        bool cod;
    } cases[] = {{"\x07 5Dec26", true}, {"\x07" "11Dec26", true}, {"\x08 11Dec26", false}, {"\x07XDec126", false},
                 {"\x07 51ec26", false}, {"", false}};
    for (const Case &c : cases) {
        std::string patched = cod;
        patched.replace(320, 8, std::string(8, '\0'));
        patched.replace(320, c.date.size(), c.date);
        write("x.cod", patched);
        egret_result r = egret("-c x.cod");
        EXPECT_EQ(r.out.find("Confirmed as .COD") != std::string::npos, c.cod) << c.date << "\n" << r.out;
    }
}

// Cut short or corrupted files: reading and dumping each ends in a
// numbered message and a failed run, never a crash or an output.
TEST_F(CodTest, DamagedFilesAreRefused)
{
    write_handmade();
    ASSERT_EQ(egret(pic_args + " p.hex p.sym -ocod p.cod").status, 0);
    std::string cod = read("p.cod");
    auto u16 = [&](size_t at) { return (unsigned)(uint8_t)cod[at] | (unsigned)(uint8_t)cod[at + 1] << 8; };
    auto put16 = [](std::string &s, size_t at, unsigned v) {
        s[at] = (char)(v & 0xFF);
        s[at + 1] = (char)(v >> 8);
    };
    unsigned lsttab = u16(434), namtab = u16(430), lsymtab = u16(462), memmap = u16(443);
    ASSERT_NE(lsttab * namtab * lsymtab * memmap, 0u);
    struct Case {
        const char *what;
        std::function<void(std::string &)> damage;
        unsigned read_message, dump_message;   // 0: the dump lists it
    } cases[] = {
        {"cut in the directory", [](std::string &s) { s.resize(300); }, 1614, 1037},
        {"cut before the tables", [](std::string &s) { s.resize(3 * 512); }, 1633, 619},
        {"code block past the end", [&](std::string &s) { put16(s, 0, 900); }, 1636, 618},
        {"directory chain in a loop",
         [&](std::string &s) {
             put16(s, 441, 1);
             put16(s, 512 + 439, 1);
             put16(s, 512 + 441, 1);
         },
         1634, 1634},
        {"two directories of one range", [&](std::string &s) { put16(s, 441, 1); }, 1634, 0},
        {"line record naming no file", [&](std::string &s) { s[lsttab * 512 + 6] = 9; }, 1638, 620},
        {"table running backwards", [&](std::string &s) { put16(s, 462, lsymtab + 1); put16(s, 464, lsymtab); }, 1633, 0},
        {"long symbol past its block",
         [&](std::string &s) {
             s[lsymtab * 512] = (char)255;
             s[lsymtab * 512 + 262] = (char)255;
         },
         1637, 0},
        {"file name longer than its slot", [&](std::string &s) { s[namtab * 512] = (char)70; }, 1637, 0},
        {"memory map range backwards", [&](std::string &s) { put16(s, memmap * 512, 9); put16(s, memmap * 512 + 2, 3); },
         1635, 0},
    };
    for (const Case &c : cases) {
        std::string damaged = cod;
        c.damage(damaged);
        write("x.cod", damaged);
        std::filesystem::remove(dir + "/x.hex");
        egret_result r = egret("-icod x.cod -oihex x.hex");
        if (c.read_message) {
            EXPECT_NE(r.status, 0) << c.what << "\n" << r.out;
            EXPECT_NE(r.out.find(msg_tag(c.read_message)), std::string::npos) << c.what << "\n" << r.out;
            EXPECT_FALSE(exists("x.hex")) << c.what;
        }
        EXPECT_GE(r.status, 0) << c.what << "\n" << r.out;
        EXPECT_EQ(r.out.find("AddressSanitizer"), std::string::npos) << c.what << "\n" << r.out;
        r = egret("-d -v -icod x.cod");
        if (c.dump_message) {
            EXPECT_NE(r.status, 0) << c.what << "\n" << r.out;
            EXPECT_NE(r.out.find(msg_tag(c.dump_message)), std::string::npos) << c.what << "\n" << r.out;
        }
        EXPECT_GE(r.status, 0) << c.what << "\n" << r.out;   // not ended by a signal
        EXPECT_EQ(r.out.find("AddressSanitizer"), std::string::npos) << c.what << "\n" << r.out;
    }
}

} // namespace
