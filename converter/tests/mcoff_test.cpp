// The Microchip COFF file: written by egret from linked programs and from
// hand-written inputs, judged by gputils' gpvo (an independent reader of
// the format) against the HEX image and the symbol file, read back by
// egret, and refused by number when it is cut short or corrupted.
#include "egret_fixture.h"

#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::string zeph = std::string(ZEPH_BUILD_DIR) + "/bin/zeph";
const std::string pic_args = "-m -P16F877A,877A,PIC14 -NCODE,CONST,ENTRY,STRING";

// ---------------------------------------------------------------------------
// gpvo's listing
// ---------------------------------------------------------------------------

struct gpvo_line {
    unsigned line;
    unsigned long address;
    std::string file;
    auto operator<=>(const gpvo_line &) const = default;
};

struct gpvo_symbol {
    std::string name, section, type, derivation, sclass;
    unsigned long value;
};

struct gpvo_listing {
    std::vector<std::string> complaints;     // "error:" lines
    std::map<unsigned long, unsigned> words;   // program word address -> word
    std::vector<gpvo_line> lines;
    std::vector<gpvo_line> misplaced;         // listed in a section that does not hold them
    std::vector<gpvo_symbol> symbols;
    std::vector<std::string> sections;
    std::vector<std::string> files;          // ".file" names
    std::string processor;

    // The first symbol of the name (and class, when given).
    const gpvo_symbol *symbol(const std::string &name, const std::string &sclass = "") const
    {
        for (const gpvo_symbol &s : symbols)
            if (s.name == name && (sclass.empty() || s.sclass == sclass))
                return &s;
        return nullptr;
    }
};

// gpvo numbers as it prints them: "0" or "0x..." hexadecimal, else decimal.
unsigned long gpvo_number(const std::string &text) { return std::stoul(text, nullptr, text.rfind("0x", 0) == 0 ? 16 : 10); }

gpvo_listing parse_gpvo(const std::string &out)
{
    gpvo_listing g;
    std::istringstream in(out);
    std::string line, part;
    std::set<unsigned long> section_words;
    const std::regex data(R"(^([0-9a-f]{6}):  ([0-9a-f]{4})(  .*)?$)");
    const std::regex line_entry(R"(^(\d+)\s+(0x[0-9a-f]+|0)\s+(\S+)\s*$)");
    const std::regex symbol(R"(^\d{4} (\S+)\s+(\S+)\s+(0x[0-9a-f]+|0)\s+(\S+)\s+(\S+)\s+(\S+)\s+\d+\s*$)");
    std::smatch m;
    while (std::getline(in, line)) {
        if (line.rfind("error:", 0) == 0) {
            g.complaints.push_back(line);
        } else if (line.rfind("Processor Type", 0) == 0) {
            g.processor = line.substr(line.find_last_of(' ') + 1);
        } else if (line.rfind("Name                    ", 0) == 0) {
            g.sections.push_back(line.substr(24));
            part = "section";
            section_words.clear();
        } else if (line == "Line Number Table") {
            part = "lines";
        } else if (line == "Symbol Table") {
            part = "symbols";
        } else if (part == "section" && std::regex_match(line, m, data)) {
            g.words[std::stoul(m[1], nullptr, 16)] = std::stoul(m[2], nullptr, 16);
            section_words.insert(std::stoul(m[1], nullptr, 16));
        } else if (part == "lines" && std::regex_match(line, m, line_entry)) {
            g.lines.push_back({(unsigned)std::stoul(m[1]), gpvo_number(m[2]), m[3]});
            if (!section_words.count(g.lines.back().address))
                g.misplaced.push_back(g.lines.back());
        } else if (part == "symbols" && std::regex_match(line, m, symbol)) {
            g.symbols.push_back({m[1], m[2], m[4], m[5], m[6], gpvo_number(m[3])});
        } else if (part == "symbols" && line.rfind("      file = ", 0) == 0) {
            g.files.push_back(line.substr(13));
        }
    }
    return g;
}

// The two complaints every file of this layout draws: our optional header's
// magic number, and sections whose virtual address (0) is not their
// physical one. Each line entry lies in the section that holds its code.
void expect_only_known_complaints(const gpvo_listing &g)
{
    for (const gpvo_line &l : g.misplaced)
        ADD_FAILURE() << "line " << l.line << " at " << std::hex << l.address << " listed in another section";
    for (const std::string &c : g.complaints)
        EXPECT_TRUE(c.find("Invalid optional magic number (0x1388)") != std::string::npos ||
                    c.find("Virtual address does not equal physical address") != std::string::npos)
            << c;
}

// Program words of a HEX file of a 14-bit or 12-bit core, by word address.
std::map<unsigned long, unsigned> hex_words(const std::string &text)
{
    std::map<unsigned long, unsigned> bytes, words;
    std::istringstream in(text);
    std::string line;
    unsigned long base = 0;
    while (std::getline(in, line)) {
        unsigned count = std::stoul(line.substr(1, 2), nullptr, 16);
        unsigned long address = std::stoul(line.substr(3, 4), nullptr, 16);
        unsigned type = std::stoul(line.substr(7, 2), nullptr, 16);
        if (type == 4)
            base = std::stoul(line.substr(9, 4), nullptr, 16) << 16;
        if (type == 0)
            for (unsigned i = 0; i < count; i++)
                bytes[base + address + i] = std::stoul(line.substr(9 + 2 * i, 2), nullptr, 16);
    }
    for (const auto &[at, b] : bytes)
        words[at / 2] |= at % 2 ? b << 8 : b;
    return words;
}

// Symbol-file lines "name value ..." and line records "line address ..."
// below a file's name.
std::map<std::string, unsigned long> sym_values(const std::string &text)
{
    std::map<std::string, unsigned long> values;
    std::istringstream in(text);
    std::string name, value;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (fields >> name >> value && !values.count(name))
            values[name] = std::stoul(value, nullptr, 16);
    }
    return values;
}

class CoffTest : public EgretTest {
protected:
    gpvo_listing gpvo(const std::string &file)
    {
        egret_result r = shell("gpvo " + file);
        EXPECT_EQ(r.status, 0) << r.out;
        return parse_gpvo(r.out);
    }

    // A program built by hand: a symbol file, an SDB file beside its
    // object, and a HEX image of words 0-7Fh.
    void write_handmade()
    {
        write("p.sym", "_main 10 0 CODE\n__end_of_main 15 0 CODE\n_f 30 0 CODE\n??_main 45 0 BANK0\n"
                       "_g 40 0 BANK0\n_a 208 0 BANK0\n_b 208 0 BANK0\n_c 20B 0 BANK0\n"
                       "_eightchr 50 0 BANK0\n_long_name 51 0 BANK0\n"
                       "%segments\ntext 0 7F CODE 0\nbank0 40 4F BANK0 40\nbank0 50 5F BANK0 50\n"
                       "long_name 60 6F BANK0 60\n%locals\nmain.obj\nmain.c\n"
                       "10 10 0 CODE\n11 12 0 CODE\n12 14 0 CODE\n20 30 0 CODE\n22 31 0 CODE\n30 40 0 CODE\n");
        write("main.sdb", "[p PIC14 GLOBOPT ]\n\"1 empty.h\n[v t `uc 1 t 1 ]\n\"1 main.c\n"
                          "[s S1 point 3 `uc 1 x 1 0 `uc 1 y 1 1 `uc 1 f 1 2 :3:2 ]\n"
                          "[v _g `S1 1 e 3 0 ]\n[v _a `b 1 e 0 0 ]\n[v _b `b 1 e 0 0 ]\n[v _c `b 1 e 0 0 ]\n"
                          "\"10\n[v _main `(v 1 e 0 0 ]\n{\n\"11\n[v i `uc 1 a 1 0 ]\n\"12\n}\n"
                          "\"20\n[v _f `(v 1 e 0 0 ]\n{\n\"22\n}\n");
        ASSERT_EQ(shell("srec_cat -generate 0 0x100 -repeat-data 0x12 0x34 -o p.hex -Intel").status, 0);
    }
};

// ---------------------------------------------------------------------------
// Linked programs
// ---------------------------------------------------------------------------

// An assembly program with file and line directives, built with the
// default outputs: gpvo takes the .cof, its code equals the HEX word for
// word, each instruction a line entry of the file as the source names it.
TEST_F(CoffTest, DefaultBuildOfAssemblyProgram)
{
    write("main.as", "\tFNCONF\tfnauto0,??,?\n\tfile\t\"src/main.as\"\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\t_main\n_main:\n"
                     "\tline\t5\n\tclrf\t_n\nloop:\n\tline\t7\n\tincf\t_n,f\n\tmovf\t_n,w\n\tline\t9\n"
                     "\tmovwf\t0x06\n\tline\t10\n\tgoto\tloop\n\tpsect\trbss_0,class=BANK0,space=1\n_n:\tds\t1\n"
                     "\tpsect\tconfig,class=CONFIG,delta=2\n\tdw\t0x3F3A\n");
    egret_result r = shell(zeph + " --chip=16F877A main.as");
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(exists("main.cof")) << r.out;

    gpvo_listing g = gpvo("main.cof");
    expect_only_known_complaints(g);
    EXPECT_EQ(g.processor, "16f877a");
    EXPECT_EQ(g.words, hex_words(read("main.hex")));
    unsigned long main = sym_values(read("main.sym")).at("_main");
    std::vector<gpvo_line> want = {{5, main, "src/main.as"},     {7, main + 1, "src/main.as"},
                                   {7, main + 2, "src/main.as"}, {9, main + 3, "src/main.as"},
                                   {10, main + 4, "src/main.as"}};
    EXPECT_EQ(std::set<gpvo_line>(g.lines.begin(), g.lines.end()), std::set<gpvo_line>(want.begin(), want.end()));
    EXPECT_EQ(g.lines.size(), want.size());
    ASSERT_TRUE(g.symbol("main"));
    EXPECT_EQ(g.symbol("main")->value, main);
    EXPECT_EQ(g.symbol("main")->sclass, "C_LABEL");
    EXPECT_EQ(g.symbol("main")->section.rfind("_text", 0), 0u);
    EXPECT_EQ(g.files, std::vector<std::string>{"src/main.as"});
}

// A C program in a subfolder: gpvo finds every line record of the symbol
// file, an entry for each instruction of each function, the path kept;
// read back, the .cof gives the original line records and HEX image.
TEST_F(CoffTest, CProgramLinesAndRoundTrip)
{
    std::filesystem::create_directory(dir + "/src");
    write("src/main.c", "unsigned char n;\nunsigned char add(unsigned char a, unsigned char b)\n{\n"
                        "    unsigned char t;\n    t = a + b;\n    return t;\n}\nvoid main(void)\n{\n"
                        "    unsigned char i;\n    for (i = 0; i < 3; i++)\n        n = add(n, i);\n"
                        "    while (1)\n        ;\n}\n");
    egret_result r = shell(zeph + " --chip=16F877A src/main.c");
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(exists("main.cof")) << r.out;
    std::string sym = read("main.sym");
    std::map<std::string, unsigned long> values = sym_values(sym);

    gpvo_listing g = gpvo("main.cof");
    expect_only_known_complaints(g);
    EXPECT_EQ(g.words, hex_words(read("main.hex")));
    EXPECT_EQ(g.files, std::vector<std::string>{"src/main.c"});
    std::set<std::pair<unsigned, unsigned long>> listed;
    std::set<unsigned long> addresses;
    for (const gpvo_line &l : g.lines) {
        EXPECT_EQ(l.file, "src/main.c");
        listed.insert({l.line, l.address});
        addresses.insert(l.address);
    }
    std::set<std::pair<unsigned, unsigned long>> original = sym_lines(sym, "src/main.c");
    ASSERT_FALSE(original.empty()) << sym;
    for (const auto &l : original)
        EXPECT_TRUE(listed.count(l)) << l.first << " at " << std::hex << l.second;
    // Every instruction from a function's start to its last line's.
    for (const char *fn : {"main", "add"}) {
        unsigned long start = values.at(std::string("_") + fn), end = values.at(std::string("__end_of_") + fn);
        unsigned long last = start;
        for (const auto &l : original)
            if (l.second >= start && l.second < end)
                last = std::max(last, l.second);
        for (unsigned long a = start; a <= last; a++)
            EXPECT_TRUE(addresses.count(a)) << fn << " " << std::hex << a;
        ASSERT_TRUE(g.symbol(fn));
        EXPECT_EQ(g.symbol(fn)->value, start);
        EXPECT_EQ(g.symbol(fn)->derivation, "DT_FCN");
    }

    r = egret("main.cof -ovormak back.sym -oihex back.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp main.hex -Intel back.hex -Intel").status, 0);
    std::set<std::pair<unsigned, unsigned long>> back = sym_lines(read("back.sym"), "src/main.c");
    std::set<unsigned> original_numbers, back_numbers;
    for (const auto &l : original)
        original_numbers.insert(l.first);
    for (const auto &l : back)
        back_numbers.insert(l.first);
    for (const auto &l : original)
        EXPECT_TRUE(back.count(l)) << l.first;
    EXPECT_EQ(back_numbers, original_numbers);
}

// The 12-bit core: a called function's code starts at its "entry_" label
// (its own symbol is the jump-table stub), the jump table's lines are left
// out, and its high bound is the first address past it, so the line of
// the function placed right after the table keeps its entry.
TEST_F(CoffTest, BaselineEntryLabelsAndJumpTable)
{
    write("main.c", "unsigned char n;\nunsigned char twice(unsigned char a)\n{\n    return a + a;\n}\n"
                    "void main(void)\n{\n    n = twice(3);\n    n = twice(n);\n    while (1)\n        ;\n}\n");
    egret_result r = shell(zeph + " --chip=16F54 main.c");
    ASSERT_EQ(r.status, 0) << r.out;
    std::map<std::string, unsigned long> values = sym_values(read("main.sym"));
    ASSERT_TRUE(values.count("entry__twice") && values.count("__Hjmp_tab")) << read("main.sym");

    gpvo_listing g = gpvo("main.cof");
    expect_only_known_complaints(g);
    EXPECT_EQ(g.words, hex_words(read("main.hex")));
    ASSERT_TRUE(g.symbol("twice"));
    EXPECT_EQ(g.symbol("twice")->value, values.at("entry__twice"));
    bool main_line = false;
    for (const gpvo_line &l : g.lines) {
        EXPECT_FALSE(l.address >= values.at("__Ljmp_tab") && l.address < values.at("__Hjmp_tab")) << l.address;
        main_line |= l.address == values.at("_main");
    }
    EXPECT_TRUE(main_line);
    r = egret("-d main.cof");
    EXPECT_NE(r.out.find("\tProcessor:\t0x6F54\n\tROM width:\t12\n\tRAM width:\t8\n"), std::string::npos) << r.out;
}

// egret's listing of a COFF symbol table (-d -v -v) reduced to types: each
// variable as "<aux size> <type>" and each structure or union tag as
// "size <n>: <member> = <offset>: <type>, ...", references to tags by
// symbol index replaced by the tags' names.
struct coff_types {
    std::map<std::string, std::string> vars, tags;
};

coff_types coff_listing_types(const std::string &dump)
{
    const std::regex entry(R"(^\s*(\d+):\t\s*([a-z .]+?) \d+ (\d+)\[\d+\]\t(.*)$)");
    std::vector<std::smatch> entries;
    std::map<std::string, std::string> tag_at;
    std::istringstream in(dump.substr(dump.find("Symbol table:")));
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line);
    for (const std::string &l : lines) {
        std::smatch m;
        if (std::regex_match(l, m, entry)) {
            entries.push_back(m);
            if (m[2] == "structure tag" || m[2] == "union tag")
                tag_at[m[1]] = m.str(4).substr(0, m.str(4).find(':'));
        }
    }
    auto named = [&](std::string text) {
        static const std::regex ref(R"((struct|union) \[(\d+)\])");
        std::smatch m;
        std::string out;
        while (std::regex_search(text, m, ref)) {
            out += m.prefix().str() + m.str(1) + " " + (tag_at.count(m[2]) ? tag_at[m[2]] : "?" + m.str(2));
            text = m.suffix();
        }
        return out + text;
    };
    coff_types t;
    std::string tag;
    for (const std::smatch &m : entries) {
        std::string cls = m[2], rest = m[4];
        if (cls == "structure tag" || cls == "union tag") {
            tag = tag_at[m[1]];
            t.tags[tag] = "size " + rest.substr(rest.find("size ") + 5, rest.find(", index") - rest.find("size ") - 5) + ":";
        } else if (cls.rfind("member of", 0) == 0 && !tag.empty()) {
            t.tags[tag] += (t.tags[tag].back() == ':' ? " " : ", ") + named(rest);
        } else if (cls == "end of structure") {
            tag.clear();
        } else if (cls == "external symbol" || cls == "static") {
            size_t eq = rest.find(" = "), colon = rest.find(": ", eq);
            std::string after = rest.substr(colon + 2);
            t.vars[rest.substr(0, eq)] = m.str(3) + " " + named(after.substr(after.find(' ') + 1));
        }
    }
    return t;
}

// Structure, union and enumeration variables of a compiled C program, global
// and local, nested, in arrays, behind pointers and typedefs: the SDB tree
// gives each its tag with the members, and the COFF file (egret's listing
// and gpvo) each variable its structure with members, offsets and sizes.
// The code generator names a structure in type texts by its number and its
// name ("S19point") and its record by the number alone.
TEST_F(CoffTest, StructureUnionAndEnumVariablesOfACProgram)
{
    write("main.c", R"(struct point { unsigned char x; int y; };
struct line { struct point a, b; unsigned char tag; };
union word { unsigned int w; unsigned char b[2]; };
struct node { struct node *next; struct leaf *leaf; unsigned char v; };
struct leaf { long value; };
struct poly { struct point corner[2]; struct line *edge; };
enum colour { RED, GREEN = 5, BLUE };
typedef struct { unsigned char lo, hi; } pair_t;
typedef struct point point_t;
typedef enum colour colour_t;
struct point gp;
struct line gl;
union word gw;
struct point arr[3];
struct point *pp;
struct line *lp;
struct node n1, n2;
struct leaf lf;
struct poly gpoly;
struct line lines[2];
enum colour gc;
colour_t gc2;
pair_t gpair;
point_t gpt;
unsigned char use(struct point *p, struct line *l)
{
    struct point lpnt;
    union word lw;
    struct line ll;
    lpnt.x = p->x + l->a.x;
    lpnt.y = l->b.y;
    lw.w = lpnt.y;
    ll.a = lpnt;
    ll.tag = lw.b[1];
    gl = ll;
    return ll.tag;
}
void main(void)
{
    pp = &arr[1];
    lp = &lines[1];
    n1.next = &n2;
    n1.leaf = &lf;
    gpoly.edge = lp;
    gc = BLUE;
    gc2 = GREEN;
    gpair.lo = 1;
    gpt.x = 2;
    gw.w = 0x1234;
    gp.x = use(pp, lp);
    while (1)
        ;
}
)");
    egret_result r = shell(zeph + " --chip=16F877A main.c");
    ASSERT_EQ(r.status, 0) << r.out;
    // A pointer's size is the compiler's choice; the layouts follow from it.
    std::string sdb = read("main.sdb");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(sdb, m, std::regex(R"(\[v _pp \S+ +1 e (\d+) )"))) << sdb;
    unsigned ptr = std::stoul(m[1]);
    auto at = [](unsigned n) { return std::to_string(n); };

    r = egret("-v main.sym -ovormak out.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string tree = r.out.substr(r.out.find("Global block:"));
    for (const char *want : {
             "(point) = { x `u1 y `i2 }\n", "(line) = { a `struct point b `struct point tag `u1 }\n",
             "(word) = { w `u2 b `[2]u1 }\n", "(node) = { next `*struct node leaf `*struct leaf v `u1 }\n",
             "(leaf) = { value `i4 }\n", "(poly) = { corner `[2]struct point edge `*struct line }\n",
             " = { lo `u1 hi `u1 }\n", " = { RED=0 GREEN=5 BLUE=6 }\n",
             "    extern: _gp `struct point ", "    extern: _arr `[3]struct point ",
             "    extern: _pp `*struct point ", "    extern: _lines `[2]struct line ",
             "    typedef: _point_t `struct point ", "    extern: _gpt `struct point ",
             "        auto: _use_lpnt `struct point ", "        auto: _use_lw `struct word ",
             "        auto: _use_ll `struct line ", "        param: _use_l `*struct line "})
        EXPECT_NE(tree.find(want), std::string::npos) << want << "\n" << tree;
    EXPECT_EQ(tree.find("= { }"), std::string::npos) << tree;

    r = egret("-d -v -v main.cof");
    ASSERT_EQ(r.status, 0) << r.out;
    coff_types t = coff_listing_types(r.out);
    std::map<std::string, std::string> want_tags = {
        {"point", "size 3: x = 0: uchar, y = 1: int"},
        {"line", "size 7: a = 0: struct point, b = 3: struct point, tag = 6: uchar"},
        {"word", "size 2: w = 0: uint, b = 0: array [2] of uchar"},
        {"leaf", "size 4: value = 0: long"},
        {"node", "size " + at(2 * ptr + 1) + ": next = 0: pointer to struct node, leaf = " + at(ptr) +
                     ": pointer to struct leaf, v = " + at(2 * ptr) + ": uchar"},
        {"poly", "size " + at(6 + ptr) + ": corner = 0: array [2] of struct point, edge = 6: pointer to struct line"},
    };
    for (const auto &[tag, layout] : want_tags)
        EXPECT_EQ(t.tags[tag], layout) << tag << "\n" << r.out;
    std::map<std::string, std::string> want_vars = {
        {"gp", "3 struct point"},          {"gl", "7 struct line"},
        {"gw", "2 union word"},            {"arr", "9 array [3] of struct point"},
        {"pp", "3 pointer to struct point"}, {"lp", "7 pointer to struct line"},
        {"n1", at(2 * ptr + 1) + " struct node"}, {"n2", at(2 * ptr + 1) + " struct node"},
        {"lf", "4 struct leaf"},           {"gpoly", at(6 + ptr) + " struct poly"},
        {"lines", "14 array [2] of struct line"}, {"gc", "1 char"},
        {"gc2", "1 char"},                 {"gpt", "3 struct point"},
        {"use_lpnt", "3 struct point"},    {"use_lw", "2 union word"},
        {"use_ll", "7 struct line"},       {"use_l", "7 pointer to struct line"},
    };
    for (const auto &[var, type] : want_vars)
        EXPECT_EQ(t.vars[var], type) << var << "\n" << r.out;
    // The typedef'd structure without a tag name.
    std::string pair = t.vars["gpair"];
    ASSERT_EQ(pair.rfind("2 struct ", 0), 0u) << r.out;
    EXPECT_EQ(t.tags[pair.substr(9)], "size 2: lo = 0: uchar, hi = 1: uchar") << r.out;

    // gputils reads the same: each variable's type and derivation, each
    // structure's members at their offsets.
    gpvo_listing g = gpvo("main.cof");
    expect_only_known_complaints(g);
    struct Want {
        const char *name, *type, *derivation, *sclass;
        unsigned long value;
    } want[] = {
        {"gp", "T_STRUCT", "DT_NON", "C_EXT", 0},     {"gw", "T_UNION", "DT_NON", "C_EXT", 0},
        {"arr", "T_STRUCT", "DT_ARY", "C_EXT", 0},    {"pp", "T_STRUCT", "DT_PTR", "C_EXT", 0},
        {"use_lw", "T_UNION", "DT_NON", "C_STAT", 0}, {"y", "T_INT", "DT_NON", "C_MOS", 1},
        {"tag", "T_UCHAR", "DT_NON", "C_MOS", 6},     {"w", "T_UINT", "DT_NON", "C_MOU", 0},
        {"corner", "T_STRUCT", "DT_ARY", "C_MOS", 0}, {"edge", "T_STRUCT", "DT_PTR", "C_MOS", 6},
        {"value", "T_LONG", "DT_NON", "C_MOS", 0},
    };
    for (const Want &w : want) {
        const gpvo_symbol *s = g.symbol(w.name);
        ASSERT_TRUE(s) << w.name;
        EXPECT_EQ(s->type, w.type) << w.name;
        EXPECT_EQ(s->derivation, w.derivation) << w.name;
        EXPECT_EQ(s->sclass, w.sclass) << w.name;
        if (w.sclass[2] == 'M') {
            EXPECT_EQ(s->value, w.value) << w.name;
        }
    }
}

// ---------------------------------------------------------------------------
// Hand-made inputs
// ---------------------------------------------------------------------------

// Structure tags, bit structures, functions and blocks, names in place and
// in the string table, and sections of segments sharing a name.
TEST_F(CoffTest, SymbolsFromTheSdbTree)
{
    write_handmade();
    egret_result r = egret(pic_args + " p.hex p.sym -omcoff p.cof");
    ASSERT_EQ(r.status, 0) << r.out;
    gpvo_listing g = gpvo("p.cof");
    expect_only_known_complaints(g);

    // A file with no symbols (empty.h) leaves no entry.
    EXPECT_EQ(g.files, std::vector<std::string>{"main.c"});
    for (const char *s : {"ABS", "bank0", "bank0.1", "long_name", "_text0"})
        EXPECT_NE(std::find(g.sections.begin(), g.sections.end(), s), g.sections.end()) << s;

    struct Want {
        const char *name, *sclass;
        unsigned long value;
    } want[] = {
        {"point", "C_STRTAG", 0}, {"x", "C_MOS", 0},   {"y", "C_MOS", 1},        {"f", "C_FIELD", 2 + 8 * 2},
        {"g", "C_EXT", 0x40},     {"main", "C_EXT", 0x10}, {"f", "C_EXT", 0x30},
        {"i", "C_STAT", 0x45},
        {"b/a", "C_FIELD", 0},    {"-", "C_FIELD", 1}, {"c", "C_FIELD", 3},      {"bitvars1", "C_EXT", 0x41},
        {"eightchr", "C_LABEL", 0x50}, {"long_name", "C_LABEL", 0x51},
    };
    for (const Want &w : want) {
        const gpvo_symbol *s = g.symbol(w.name, w.sclass);
        ASSERT_TRUE(s) << w.name;
        EXPECT_EQ(s->sclass, w.sclass) << w.name;
        EXPECT_EQ(s->value, w.value) << w.name;
    }
    EXPECT_EQ(g.symbol("g")->type, "T_STRUCT");
    EXPECT_EQ(g.symbol("bitvars1")->type, "T_STRUCT");

    // .bf/.ef pairs: main ends before __end_of_main, f (without one) at
    // its own address.
    std::vector<std::pair<std::string, unsigned long>> frames;
    for (const gpvo_symbol &s : g.symbols)
        if (s.name == ".bf" || s.name == ".ef" || s.name == ".bb" || s.name == ".eb")
            frames.push_back({s.name, s.value});
    std::vector<std::pair<std::string, unsigned long>> want_frames = {
        {".bf", 0x10}, {".bb", 0x10}, {".eb", 0x10}, {".ef", 0x14},
        {".bf", 0x30}, {".bb", 0x30}, {".eb", 0x30}, {".ef", 0x30}};
    EXPECT_EQ(frames, want_frames);

    // One entry per instruction; a function's last line covers only its
    // own instruction, however far the next line is.
    std::vector<gpvo_line> want_lines = {{10, 0x10, "main.c"}, {10, 0x11, "main.c"}, {11, 0x12, "main.c"},
                                         {11, 0x13, "main.c"}, {12, 0x14, "main.c"}, {20, 0x30, "main.c"},
                                         {22, 0x31, "main.c"}};
    ASSERT_EQ(g.lines.size(), want_lines.size());
    for (size_t i = 0; i < want_lines.size(); i++) {
        EXPECT_EQ(g.lines[i].line, want_lines[i].line) << i;
        EXPECT_EQ(g.lines[i].address, want_lines[i].address) << i;
        EXPECT_EQ(g.lines[i].file, want_lines[i].file) << i;
    }

    // The string table: a 9-character name once, though a section and a
    // label share it; an 8-character name stays in place.
    r = egret("-d -v -v p.cof");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string table = r.out.substr(r.out.find("String table:"));
    table = table.substr(0, table.find("Symbol table:"));
    EXPECT_EQ(table.find("long_name"), table.rfind("long_name")) << table;
    EXPECT_NE(table.find("long_name"), std::string::npos) << table;
    EXPECT_EQ(table.find("eightchr"), std::string::npos) << table;
    EXPECT_NE(r.out.find("Section 0: ABS: @0 scnptr 0x0 relptr 0x0 lnnoptr 0x0 size 0x0 lines 0 relocs 0 "
                         "flags 0x1000 ( absolute )\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(":\t           structure tag 1 0[1]\tpoint: tag 0, size 3, index "), std::string::npos)
        << r.out;
}

// The writer's settings: each missing or malformed one is refused by
// number and no file is left; a chip with no core named is written with
// word width 0, which reading it back warns of.
TEST_F(CoffTest, WriterSettingsAreChecked)
{
    write_handmade();
    struct Case {
        const char *args;
        unsigned message;
    } cases[] = {
        {"-m -P16F877A,877A,PIC14 p.hex p.sym -omcoff p.cof", 1610},
        {"-m -NCODE p.hex p.sym -omcoff p.cof", 1611},
        {"-m -P16F877A,87Z,PIC14 -NCODE p.hex p.sym -omcoff p.cof", 1612},
        {"-m -P16F877A,877A,PIC15 -NCODE p.hex p.sym -omcoff p.cof", 1613},
    };
    for (const Case &c : cases) {
        egret_result r = egret(c.args);
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_FALSE(exists("p.cof")) << c.args;
    }
    egret_result r = egret("-m -P12F675 -NCODE p.hex p.sym -omcoff p.cof");
    ASSERT_EQ(r.status, 0) << r.out;
    r = egret("p.cof -oihex back.hex");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(msg_tag(1617)), std::string::npos) << r.out;
    EXPECT_EQ(shell("srec_cmp p.hex -Intel back.hex -Intel").status, 0);
}

// ---------------------------------------------------------------------------
// Damaged files
// ---------------------------------------------------------------------------

uint32_t get32(const std::string &b, size_t at)
{
    return (uint8_t)b[at] | (uint8_t)b[at + 1] << 8 | (uint8_t)b[at + 2] << 16 | (uint32_t)(uint8_t)b[at + 3] << 24;
}
void put16(std::string &b, size_t at, unsigned v)
{
    b[at] = (char)(v & 0xFF);
    b[at + 1] = (char)(v >> 8);
}
void put32(std::string &b, size_t at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// Every cut of the file, read and dumped, ends in a numbered message; so
// does each corrupted field, while a symbol's section number out of range
// and an unknown class are warnings and the rest is read.
TEST_F(CoffTest, DamagedFilesAreRefusedByNumber)
{
    write_handmade();
    ASSERT_EQ(egret(pic_args + " p.hex p.sym -omcoff p.cof").status, 0);
    const std::string good = read("p.cof");
    for (size_t cut = 0; cut < good.size(); cut += good.size() / 41 + 1) {
        write("cut.cof", good.substr(0, cut));
        for (const char *args : {"-imcoff cut.cof -oihex out.hex", "-d -v -v -imcoff cut.cof"}) {
            egret_result r = egret(args);
            EXPECT_EQ(r.status, 1) << cut << " " << args << "\n" << r.out;
            EXPECT_TRUE(r.out.find(msg_tag(1614)) != std::string::npos ||
                        r.out.find(msg_tag(1615)) != std::string::npos)
                << cut << " " << args << "\n" << r.out;
        }
        EXPECT_FALSE(exists("out.hex"));
    }

    const uint32_t symptr = get32(good, 8), nsyms = get32(good, 12);
    const size_t sections = 38, strings = symptr + 20 * nsyms;
    // The last symbol entry and the first line-number pointer.
    const size_t last_symbol = symptr + 20 * (nsyms - 1);
    size_t lines_at = 0;
    for (size_t k = 0; k < (uint8_t)good[2]; k++)
        if (!lines_at && get32(good, sections + 40 * k + 28))
            lines_at = sections + 40 * k + 28;
    ASSERT_NE(lines_at, 0u);
    struct Case {
        const char *what;
        std::function<void(std::string &)> damage;
        unsigned message;
        bool fails;
    } cases[] = {
        {"string table size", [&](std::string &b) { put32(b, strings, 2); }, 1615, true},
        {"symbol pointer", [&](std::string &b) { put32(b, 8, 0x7FFFFFF0); }, 1614, true},
        {"section data pointer",
         [&](std::string &b) {
             for (size_t k = 0; k < (uint8_t)b[2]; k++)
                 if (get32(b, sections + 40 * k + 20))
                     put32(b, sections + 40 * k + 20, 0xFFFFFF00);
         },
         1614, true},
        {"line pointer", [&](std::string &b) { put32(b, lines_at, 0xFFFFFF00); }, 1614, true},
        {"auxiliary count", [&](std::string &b) { b[last_symbol + 19] = 5; }, 1614, true},
        {"optional header length", [&](std::string &b) { put16(b, 16, 0); }, 1616, true},
        {"section number", [&](std::string &b) { put16(b, last_symbol + 12, 500); }, 1622, false},
        {"symbol class", [&](std::string &b) { b[last_symbol + 18] = 50; }, 1618, false},
    };
    for (const Case &c : cases) {
        std::string bad = good;
        c.damage(bad);
        write("bad.cof", bad);
        egret_result r = egret("bad.cof -oihex out.hex");
        EXPECT_EQ(r.status, c.fails ? 1 : 0) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_EQ(exists("out.hex"), !c.fails) << c.what;
        std::filesystem::remove(dir + "/out.hex");
        r = egret("-d -v -v -imcoff bad.cof");
        EXPECT_TRUE(r.status == 0 || r.status == 1) << c.what << "\n" << r.out;
    }

    // More than 1000 sections: not this format.
    std::string many = good;
    put16(many, 2, 1001);
    write("many.cof", many);
    egret_result r = egret("many.cof -oihex out.hex");
    EXPECT_NE(r.out.find(msg_tag(605)), std::string::npos) << r.out;
}

} // namespace
