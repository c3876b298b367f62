// The installed C headers. Each chip header against the chip's public
// register map, the assembler include file p<chip>.inc of gputils, read here
// on its own: every register at the map's address, every named bit at its
// bit address (register address * 8 + bit number), every configuration
// value. Then each header as a program sees it, through the driver for its
// chip: a program that writes a register and a bit preprocesses and parses
// without a message, its intermediate code places both at the map's
// addresses, and the in-line assembly of __CONFIG and __IDLOC, assembled as
// the code generator passes it on, puts the map's values at the map's
// configuration and ID addresses of the HEX file (through the whole chain,
// code generator included, on the chips it compiles for). Last, the selector zeph.h
// without a chip, and the run-time header of the USB descriptor compiler.
#include "chip.h"
#include "chip_sample.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <vector>

void tool_exit(int) {}

namespace {

const std::string inc_dir = "/usr/share/gputils/header/";
const std::string zeph = ZEPH_BUILD_DIR "/bin/zeph";

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool have_maps()
{
    struct stat st;
    return stat(inc_dir.c_str(), &st) == 0;
}

// The chips of the installed database, in its order.
std::vector<std::string> database_chips()
{
    std::vector<std::string> names;
    msg_open_file(ZEPH_BUILD_DIR "/dat/en_msgs.txt");
    chipinfo_iterate(ZEPH_BUILD_DIR "/dat/zeph.ini", &names, [](void *c, chip_record *chip) {
        static_cast<std::vector<std::string> *>(c)->push_back(chip->name);
        return 0;
    });
    return names;
}

// ---------------------------------------------------------------------------
// a register map: "NAME EQU H'value'" lines in sections headed ";----- title
// ---", "Register Files", "<REG> Bits" and "<WORD> Options"; a ";=====" banner
// ends a section
// ---------------------------------------------------------------------------

struct map_bit {
    std::string reg, name;
    unsigned number;
};

struct register_map {
    std::vector<std::pair<std::string, unsigned>> registers;  // map order
    std::map<std::string, unsigned> address;                  // of each register
    std::vector<map_bit> bits;                                // map order
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, unsigned>>>> words; // CONFIG1: values
    std::map<std::string, unsigned> other;                    // equates outside sections
};

register_map read_map(const std::string &chip)
{
    enum { NONE, REGS, BITS, WORD } section = NONE;
    std::string title;
    register_map m;
    std::istringstream in(tool_read(inc_dir + "p" + lower(chip) + ".inc"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(";=====", 0) == 0) {
            section = NONE;
        } else if (line.rfind(";-----", 0) == 0) {
            size_t a = line.find_first_not_of("-; ");
            // the dashes after the title (some older maps leave out the
            // blank before them)
            size_t b = line.find_last_not_of("- \r");
            title = a == std::string::npos || b < a ? "" : line.substr(a, b + 1 - a);
            auto ends = [&](const std::string &t) { return title.size() > t.size() && title.substr(title.size() - t.size()) == t; };
            if (title == "Register Files")
                section = REGS;
            else if (section == REGS && title.rfind("Bank", 0) == 0)
                continue;
            else if (ends(" Bits"))
                section = BITS, title.resize(title.size() - 5);
            else if (ends(" Options"))
                section = WORD, title.resize(title.size() - 8), m.words.push_back({title, {}});
            else
                section = NONE;
        } else {
            std::istringstream w(line);
            std::string name, equ, value;
            if (!(w >> name >> equ >> value) || equ != "EQU" || name[0] == ';' || value.rfind("H'", 0) != 0)
                continue;
            unsigned v = std::stoul(value.substr(2), nullptr, 16);
            switch (section) {
            case NONE: m.other[name] = v; break;
            case REGS: m.registers.push_back({name, v}), m.address[name] = v; break;
            case BITS: m.bits.push_back({title, name, v}); break;
            case WORD: m.words.back().second.push_back({name, v}); break;
            }
        }
    }
    return m;
}

// A 16-bit name: it shares its address with a low byte NAMEL whose high
// byte NAMEH follows (TMR1 beside TMR1L, TMR1H; CCPR beside CCPR1L, CCPR1H).
bool is_pair_name(const register_map &m, const std::string &name)
{
    unsigned a = m.address.at(name);
    for (const auto &[low, b] : m.registers) {
        if (b != a || low == name || low.back() != 'L')
            continue;
        auto high = m.address.find(low.substr(0, low.size() - 1) + "H");
        if (high != m.address.end() && high->second == a + 1)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// a chip header: "extern volatile unsigned char NAME @ 0xA;", "extern
// volatile bit NAME @ 0xA;", "#define NAME 0xV" (other macros start "__" or
// take arguments)
// ---------------------------------------------------------------------------

struct chip_header {
    std::map<std::string, unsigned> registers, bits, values;
    int config_arguments = 0; // of __CONFIG
};

chip_header read_header(const std::string &chip)
{
    chip_header h;
    std::istringstream in(tool_read(ZEPH_BUILD_DIR "/include/pic" + lower(chip) + ".h"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream w(line);
        std::string a, b, c, d, name, at, value;
        if (line.rfind("#define __CONFIG(", 0) == 0) {
            h.config_arguments = 1 + static_cast<int>(std::count(line.begin(), line.begin() + line.find(')'), ','));
        } else if (line.rfind("#define ", 0) == 0 && line.rfind("#define __", 0) != 0) {
            w >> a >> name >> value;
            if (name.find('(') == std::string::npos)   // not the EEPROM access macros
                h.values[name] = std::stoul(value, nullptr, 16);
        } else if (line.rfind("extern volatile unsigned char ", 0) == 0) {
            w >> a >> b >> c >> d >> name >> at >> value;
            h.registers[name] = std::stoul(value, nullptr, 16);
        } else if (line.rfind("extern volatile bit ", 0) == 0) {
            w >> a >> b >> c >> name >> at >> value;
            h.bits[name] = std::stoul(value, nullptr, 16);
        }
    }
    return h;
}

// Words of an Intel HEX file by word address.
std::map<unsigned, unsigned> hex_words(const std::string &path)
{
    std::map<unsigned, unsigned> words;
    std::istringstream in(tool_read(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 11 || line[0] != ':' || line.substr(7, 2) != "00")
            continue;
        unsigned n = std::stoul(line.substr(1, 2), nullptr, 16);
        unsigned at = std::stoul(line.substr(3, 4), nullptr, 16);
        for (unsigned i = 0; i + 1 < n; i += 2)
            words[(at + i) / 2] = std::stoul(line.substr(11 + 2 * i, 2) + line.substr(9 + 2 * i, 2), nullptr, 16);
    }
    return words;
}

// A message of the toolchain in what a run printed: "(number)".
bool has_message(const std::string &out)
{
    for (size_t p = out.find('('); p != std::string::npos; p = out.find('(', p + 1))
        if (p + 1 < out.size() && isdigit(static_cast<unsigned char>(out[p + 1])))
            return true;
    return false;
}

class Headers : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = tool_tempdir("zeph_headers");
        setenv("TEMP", dir.c_str(), 1);
    }
    void TearDown() override { unsetenv("TEMP"); }
    std::string run(const std::string &cmd, int *status) { return tool_run(dir, cmd, status); }
};

// ---------------------------------------------------------------------------
// the headers against the maps
// ---------------------------------------------------------------------------

TEST(ChipHeaders, DeclareWhatTheRegisterMapsSay)
{
    if (!have_maps())
        GTEST_SKIP() << "no register maps in " << inc_dir << " (gputils is not installed)";
    std::vector<std::string> chips = database_chips();
    ASSERT_FALSE(chips.empty());
    for (const std::string &chip : chips) {
        register_map m = read_map(chip);
        chip_header h = read_header(chip);
        ASSERT_FALSE(m.registers.empty()) << chip;
        // Every register at its address, a 16-bit name only as its bytes.
        std::map<std::string, unsigned> want;
        for (const auto &[name, address] : m.registers)
            if (!is_pair_name(m, name))
                want[name] = address;
        EXPECT_EQ(h.registers, want) << chip;
        // Every bit of a register with a data address, under its name or
        // REGISTER_NAME, at the register's address * 8 + its number; and no
        // other bit.
        std::map<std::string, std::vector<unsigned>> places;   // declared name -> bit addresses it may have
        for (const map_bit &b : m.bits) {
            if (!m.address.count(b.reg))
                continue;
            unsigned at = m.address[b.reg] * 8 + b.number;
            places[b.name].push_back(at);
            places[b.reg + "_" + b.name].push_back(at);
            bool plain = h.bits.count(b.name) && h.bits[b.name] == at;
            bool prefixed = h.bits.count(b.reg + "_" + b.name) && h.bits[b.reg + "_" + b.name] == at;
            EXPECT_TRUE(plain || prefixed) << chip << ": bit " << b.name << " of " << b.reg;
        }
        for (const auto &[name, at] : h.bits) {
            const std::vector<unsigned> &p = places[name];
            EXPECT_NE(std::find(p.begin(), p.end(), at), p.end()) << chip << ": bit " << name << " @ " << at;
        }
        // Every configuration value, and one __CONFIG argument a word.
        std::map<std::string, unsigned> values;
        for (const auto &word : m.words)
            for (const auto &[name, value] : word.second)
                values[name] = value;
        EXPECT_EQ(h.values, values) << chip;
        EXPECT_EQ(h.config_arguments, static_cast<int>(m.words.size())) << chip;
    }
}

// ---------------------------------------------------------------------------
// each header through the driver for its chip
// ---------------------------------------------------------------------------

class EveryChip : public Headers, public testing::WithParamInterface<std::string> {};

TEST_P(EveryChip, ProgramParsesAndItsConfigurationReachesTheHexFile)
{
    if (!have_maps())
        GTEST_SKIP() << "no register maps in " << inc_dir << " (gputils is not installed)";
    const std::string chip = GetParam();
    register_map m = read_map(chip);
    // The last register of the map that is a byte register, and the last bit
    // whose name the map gives once.
    std::string reg, bit;
    for (const auto &[name, address] : m.registers)
        if (!is_pair_name(m, name))
            reg = name;
    unsigned bit_address = 0;
    for (const map_bit &b : m.bits) {
        auto same = [&](const map_bit &o) { return o.name == b.name; };
        if (m.address.count(b.reg) && std::count_if(m.bits.begin(), m.bits.end(), same) == 1)
            bit = b.name, bit_address = m.address[b.reg] * 8 + b.number;
    }
    ASSERT_FALSE(reg.empty() || bit.empty()) << chip;
    // The first and last values of each configuration word, AND-ed; a word
    // without values (16LF72x CONFIG2) is written as all ones.
    std::string config;
    std::vector<unsigned> config_want;
    for (const auto &word : m.words) {
        const auto &v = word.second;
        config += config.empty() ? "" : ", ";
        config += v.empty() ? "0x3FFF" : v.front().first + " & " + v.back().first;
        config_want.push_back(v.empty() ? 0x3FFF : v.front().second & v.back().second);
    }
    tool_write(dir + "/t.c", "#include <zeph.h>\n__CONFIG(" + config + ");\n__IDLOC(0xA5C3);\n"
                             "void main(void)\n{\n    " + reg + " = 0x5A;\n    " + bit + " = 1;\n}\n");
    int st;
    std::string out = run(zeph + " --chip=" + chip + " --pass1 t.c", &st);
    ASSERT_EQ(st, 0) << chip << "\n" << out;
    EXPECT_FALSE(has_message(out)) << chip << "\n" << out;
    std::string ic = tool_read(dir + "/t.plover");
    // Declarations only (count 0), at the map's addresses, in decimal.
    std::string reg_record = "[v _" + reg + " `Vuc 0 e@" + std::to_string(m.address[reg]) + " ]";
    std::string bit_record = "[v _" + bit + " `Vb 0 e@" + std::to_string(bit_address) + " ]";
    EXPECT_NE(ic.find(reg_record), std::string::npos) << chip << ": " << reg_record << "\n" << ic;
    EXPECT_NE(ic.find(bit_record), std::string::npos) << chip << ": " << bit_record << "\n" << ic;

    // The whole program through the chain on a chip whose programs the code
    // generator compiles; elsewhere the file-level in-line assembly, "[; text
    // ;#" records, as the code generator writes it out, with a main to link.
    bool midrange = tool_read(ZEPH_BUILD_DIR "/dat/zeph.ini").find("[" + chip + "]\nARCH=PIC14") != std::string::npos;
    std::string hex = "t.hex";
    if (midrange) {
        out = run(zeph + " --chip=" + chip + " --output=-mcof t.c", &st);
        ASSERT_EQ(st, 0) << chip << "\n" << out;
        EXPECT_EQ(out.find("warning"), std::string::npos) << chip << "\n" << out;
    } else {
        std::string as = "\tFNCONF\tfnauto0,??,?\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\t_main\n_main:\n\tgoto\t$\n";
        std::istringstream lines(ic);
        std::string line;
        while (std::getline(lines, line))
            if (line.rfind("[; ", 0) == 0 && line.size() > 6)
                as += line.substr(3, line.size() - 6) + "\n";
        tool_write(dir + "/main.as", as);
        out = run(zeph + " --chip=" + chip + " --output=-mcof main.as", &st);
        ASSERT_EQ(st, 0) << chip << "\n" << as << out;
        hex = "main.hex";
    }
    std::map<unsigned, unsigned> words = hex_words(dir + "/" + hex);
    for (size_t i = 0; i < m.words.size(); i++) {
        unsigned at = m.other.at("_" + m.words[i].first);
        EXPECT_EQ(words[at], config_want[i]) << chip << ": " << m.words[i].first << " at " << at;
    }
    // The ID locations where the map puts them; a few 16C maps have no
    // equates for them, and their linker scripts put them at 2000h.
    const unsigned id[] = {0xA, 0x5, 0xC, 0x3};
    for (unsigned i = 0; i < 4; i++) {
        auto equate = m.other.find("_IDLOC" + std::to_string(i));
        unsigned at = equate != m.other.end() ? equate->second : 0x2000 + i;
        EXPECT_EQ(words[at], id[i]) << chip << ": ID location " << i;
    }
}

static std::string plain_name(const std::string &c)
{
    return c;
}

INSTANTIATE_TEST_SUITE_P(Database, EveryChip, testing::ValuesIn(chip_sample(database_chips(), plain_name)),
                         [](const testing::TestParamInfo<std::string> &p) { return p.param; });

// Two files of one program include the header: each declares what it uses,
// neither defines it.
TEST_F(Headers, TwoFilesOfAProgramOnlyDeclareTheRegisters)
{
    tool_write(dir + "/a.c", "#include <zeph.h>\nvoid main(void)\n{\n    PORTB = 1;\n    RB0 = 1;\n}\n");
    tool_write(dir + "/b.c", "#include <zeph.h>\nvoid f(void)\n{\n    PORTB = 2;\n    RB0 = 0;\n}\n");
    int st;
    std::string out = run(zeph + " --chip=16F877A --pass1 a.c b.c", &st);
    ASSERT_EQ(st, 0) << out;
    for (const char *file : {"/a.plover", "/b.plover"}) {
        std::string ic = tool_read(dir + file);
        // PORTB is 06h, RB0 its bit 0: 6 * 8 + 0 = 48.
        EXPECT_NE(ic.find("[v _PORTB `Vuc 0 e@6 ]"), std::string::npos) << file << "\n" << ic;
        EXPECT_NE(ic.find("[v _RB0 `Vb 0 e@48 ]"), std::string::npos) << file << "\n" << ic;
        EXPECT_EQ(ic.find("[v _TRISB"), std::string::npos) << "an unused register is written\n" << ic;
    }
}

// zeph.h for a chip it does not know stops with the preprocessor's #error.
TEST_F(Headers, SelectorRefusesAnUnknownChip)
{
    tool_write(dir + "/t.c", "#include <zeph.h>\n");
    int st;
    std::string out = run(std::string(ZEPH_BUILD_DIR "/bin/wren --edf=" ZEPH_BUILD_DIR "/dat/en_msgs.txt -D_16F999 -I"
                                      ZEPH_BUILD_DIR "/include t.c t.i"), &st);
    EXPECT_NE(st, 0) << out;
    EXPECT_NE(out.find("(103)"), std::string::npos) << out;
}

// The C that the USB descriptor compiler writes for a description of two
// devices preprocesses and parses against the installed vkusb.h.
TEST_F(Headers, UsbDescriptorTablesParseWithTheRunTimeHeader)
{
    tool_write(dir + "/demo.usb", tool_read(ZEPH_SOURCE_DIR "/driver/tests/golden/demo.usb"));
    int st;
    std::string out = run(zeph + " --chip=16F877A --pass1 demo.usb", &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_FALSE(has_message(out)) << out;
    std::string ic = tool_read(dir + "/demo.plover");
    EXPECT_NE(ic.find("[v _plain_table `CS1 1 e ]"), std::string::npos) << ic;
    EXPECT_NE(ic.find("[v _demo_table `CS1 1 e ]"), std::string::npos) << ic;
}

} // namespace
