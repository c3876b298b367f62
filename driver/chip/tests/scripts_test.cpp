// The generated chip database against the chips' public linker scripts and
// register maps (gputils' <chip>_g.lkr and p<chip>.inc), read here on their
// own, for every chip of the database: program memory, the ID locations and
// configuration words, the EEPROM, and every byte of general-purpose RAM,
// where it lies and which banks reach it again. A handful of scripts
// contradict their register maps; for those the database follows the data
// sheet, and the table below says what the data sheet has.
#include "chip_fixture.h"

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

const std::string inc_dir = "/usr/share/gputils/header/";
const std::string lkr_dir = "/usr/share/gputils/lkr/";

std::string lower(std::string s)
{
    for (char &c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

// What the test needs of one database record (the walk reuses the record).
struct row {
    std::string name;
    uint32_t arch = 0, rom = 0, banks = 0, eeprom = 0;
    std::vector<chip_range> ram;
    chip_range common{}, config{}, idloc{};
    std::map<int, int> mirror;   // mirroring bank -> bank it mirrors
};

std::vector<row> database_rows()
{
    std::vector<row> rows;
    memory_model_start();
    chipinfo_iterate(ZEPH_SOURCE_DIR "/data/dat/zeph.ini", &rows, [](void *c, chip_record *chip) {
        row r;
        r.name = chip->name;
        r.arch = chip->architecture;
        r.rom = chip->rom_size;
        r.banks = chip->banks;
        r.eeprom = chip->eeprom_size;
        r.ram.assign(chip->ram, chip->ram + chip->ram_count);
        r.common = chip->common;
        r.config = chip->config;
        r.idloc = chip->idloc;
        for (int b = 0; b < CHIP_MAX_MIRROR; b++)
            if (chip->mirror[b])
                r.mirror[chip->mirror[b] & 0xF] = b;
        static_cast<std::vector<row> *>(c)->push_back(r);
        return 0;
    });
    return rows;
}

// ---------------------------------------------------------------------------
// a linker script: CODEPAGE, DATABANK and SHAREBANK lines; "//" comments
// ---------------------------------------------------------------------------

struct block {
    std::string kind, name;
    uint32_t lo, hi;
    bool protected_;
};

std::vector<block> read_script(const std::string &chip)
{
    static const std::regex line_re(
        R"(^(CODEPAGE|DATABANK|SHAREBANK)\s+NAME=(\S+)\s+START=0x([0-9A-Fa-f]+)\s+END=0x([0-9A-Fa-f]+)\s*(PROTECTED)?)");
    std::vector<block> blocks;
    std::ifstream in(lkr_dir + lower(chip) + "_g.lkr");
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_search(line, m, line_re))
            blocks.push_back({m[1], m[2], (uint32_t)std::stoul(m[3], nullptr, 16),
                              (uint32_t)std::stoul(m[4], nullptr, 16), m[5].matched});
    return blocks;
}

const block *codepage(const std::vector<block> &blocks, std::initializer_list<const char *> names)
{
    for (const block &b : blocks)
        for (const char *n : names)
            if (b.kind == "CODEPAGE" && b.name == n)
                return &b;
    return nullptr;
}

// The data addresses a register map leaves without anything: above
// __MAXRAM, or in a __BADRAM range.
struct map_ram {
    uint32_t maxram = 0;
    std::set<uint32_t> bad;
};

map_ram read_map_ram(const std::string &chip)
{
    static const std::regex ram_re(R"(^\s+__(MAXRAM|BADRAM)\s+H'([0-9A-Fa-f]+)'(?:\s*-\s*H'([0-9A-Fa-f]+)')?)");
    map_ram r;
    std::ifstream in(inc_dir + "p" + lower(chip) + ".inc");
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!std::regex_search(line, m, ram_re))
            continue;
        uint32_t lo = (uint32_t)std::stoul(m[2], nullptr, 16);
        uint32_t hi = m[3].matched ? (uint32_t)std::stoul(m[3], nullptr, 16) : lo;
        if (m[1] == "MAXRAM")
            r.maxram = lo;
        for (uint32_t a = lo; m[1] == "BADRAM" && a <= hi; a++)
            r.bad.insert(a);
    }
    return r;
}

// RAM as the script gives it: the addresses where RAM lies, and where the
// other banks reach it (address -> where it lies). SHAREBANK blocks of one
// name are one memory, the unprotected one is where it lies.
struct script_ram {
    std::set<uint32_t> own;
    std::map<uint32_t, uint32_t> reached;
};

bool is_ram(const block &b)
{
    return b.kind != "CODEPAGE" && b.name.rfind("sfr", 0) != 0 && b.name != "usbport";
}

script_ram ram_of(const std::vector<block> &blocks)
{
    script_ram r;
    for (const block &b : blocks) {
        if (!is_ram(b) || b.protected_)
            continue;
        for (uint32_t a = b.lo; a <= b.hi; a++)
            r.own.insert(a);
        for (const block &o : blocks)
            if (o.kind == "SHAREBANK" && b.kind == "SHAREBANK" && o.name == b.name && o.protected_ &&
                o.hi - o.lo == b.hi - b.lo)
                for (uint32_t i = 0; i <= o.hi - o.lo; i++)
                    r.reached[o.lo + i] = b.lo + i;
    }
    return r;
}

// The chips whose script contradicts the register map: the data sheet has
// 192 bytes, banks 2 and 3 reaching the RAM of banks 0 and 1. The 87x
// scripts give the larger chips' 368 bytes, where the maps leave 110h-11Fh
// and 190h-19Fh unimplemented; the 7x scripts name the blocks of banks 2-3
// apart from the RAM they reach.
struct data_sheet_ram {
    const char *chips[6];
    const char *ram;
    std::map<int, int> mirrors; // mirroring bank -> bank it mirrors
};
const data_sheet_ram two_banks_reached_twice = {
    {"16F73", "16F74", "16F873", "16F874", "16F873A", "16F874A"}, "20-7F A0-FF", {{2, 0}, {3, 1}}};

bool follows_data_sheet(const std::string &chip)
{
    for (const char *c : two_banks_reached_twice.chips)
        if (chip == c)
            return true;
    return false;
}

std::string ram_text(const std::vector<chip_range> &ram)
{
    std::string s;
    for (const chip_range &r : ram)
        s += str_printf("%s%X-%X", s.empty() ? "" : " ", r.lo, r.hi);
    return s;
}

bool have_files()
{
    struct stat st;
    return stat(lkr_dir.c_str(), &st) == 0 && stat(inc_dir.c_str(), &st) == 0;
}

TEST(ChipScripts, EveryRowHasTheMemoryOfItsLinkerScript)
{
    if (!have_files())
        GTEST_SKIP() << "no linker scripts in " << lkr_dir << " (gputils is not installed)";
    std::vector<row> rows = database_rows();
    ASSERT_GT(rows.size(), 200u);
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<block> blocks = read_script(r.name);
        ASSERT_FALSE(blocks.empty());
        uint32_t bank = r.arch == ARCH_BASELINE ? 0x20 : 0x80;
        // Program memory: the pages, and the calibration word above them.
        uint32_t top = 0;
        for (const block &b : blocks)
            if (b.kind == "CODEPAGE" && (!b.protected_ || b.name == ".oscval" || b.name == "oscval"))
                top = std::max(top, b.hi + 1);
        EXPECT_EQ(r.rom, top);
        const block *config = codepage(blocks, {".config"});
        ASSERT_NE(config, nullptr);
        EXPECT_EQ(r.config.lo, config->lo);
        EXPECT_EQ(r.config.hi, config->hi);
        EXPECT_EQ(r.arch, config->lo == 0xFFF ? (uint32_t)ARCH_BASELINE : (uint32_t)ARCH_MIDRANGE);
        const block *ids = codepage(blocks, {".idlocs", "userid", ".usrlocs"});
        ASSERT_NE(ids, nullptr);
        EXPECT_EQ(r.idloc.lo, ids->lo);
        EXPECT_EQ(r.idloc.hi, ids->hi);
        const block *eedata = codepage(blocks, {"eedata"});
        EXPECT_EQ(r.eeprom, eedata && r.arch == ARCH_MIDRANGE ? eedata->hi - eedata->lo + 1 : 0);

        map_ram map = read_map_ram(r.name);
        EXPECT_EQ(r.banks, map.maxram / bank + 1);
        // Every byte of the row's RAM is implemented, by the map.
        std::set<uint32_t> row_ram;
        for (const chip_range &g : r.ram)
            for (uint32_t a = g.lo; a <= g.hi; a++) {
                row_ram.insert(a);
                EXPECT_TRUE(a <= map.maxram && !map.bad.count(a)) << str_printf("RAM at %X", a);
            }
        if (follows_data_sheet(r.name)) {
            EXPECT_EQ(ram_text(r.ram), two_banks_reached_twice.ram);
            EXPECT_EQ(r.common.lo | r.common.hi, 0u);
            EXPECT_EQ(r.mirror, two_banks_reached_twice.mirrors);
            // where the larger chips' banks 2-3 have RAM of their own, the
            // map has nothing
            EXPECT_TRUE(map.bad.count(0x110) && map.bad.count(0x190)) << "the map's banks 2-3";
            continue;
        }
        // Every byte where the script's RAM lies, and only those.
        script_ram s = ram_of(blocks);
        EXPECT_EQ(row_ram, s.own);
        // Common RAM: reached from every other bank at the same offset.
        std::set<uint32_t> common;
        for (uint32_t a : s.own) {
            bool everywhere = r.banks > 1 && a < bank;
            for (uint32_t k = 1; k < r.banks; k++)
                everywhere = everywhere && s.reached.count(a + k * bank) && s.reached[a + k * bank] == a;
            if (everywhere)
                common.insert(a);
        }
        std::set<uint32_t> row_common;
        for (uint32_t a = r.common.lo; (r.common.lo || r.common.hi) && a <= r.common.hi; a++)
            row_common.insert(a);
        EXPECT_EQ(row_common, common);
        // A mirroring bank reaches every RAM byte of the bank it mirrors.
        for (const auto &[high, low] : r.mirror)
            for (uint32_t o = 0; o < bank; o++) {
                uint32_t a = low * bank + o, b = high * bank + o;
                uint32_t at_low = s.reached.count(a) ? s.reached[a] : a;
                if (s.own.count(at_low)) {
                    EXPECT_TRUE(s.reached.count(b) && s.reached[b] == at_low) << str_printf("%X", b);
                }
            }
    }
}

} // namespace
