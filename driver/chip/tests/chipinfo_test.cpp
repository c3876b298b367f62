// The database reader: number and range parsing, lookups by full name and
// by tail, global keys, the count checks, every reported error, and the
// --chipinfo listing.
#include "chip_fixture.h"

#include <vector>

void tool_exit(int) {}

// A complete mid-range record with room for one more line.
static std::string mid_chip(const char *name, const std::string &more = "")
{
    return str_printf("[%s]\nARCH=PIC14\nROMSIZE=800\nBANKS=2\nRAMBANK=20-7F,A0-BF\nCOMMON=70-7F\n%s", name,
                      more.c_str());
}

TEST(ChipParse, HexValuesAndRanges)
{
    struct value_row {
        const char *text;
        int ok;
        uint32_t value;
    } values[] = {
        {"100", 1, 0x100}, {"0x100", 1, 0x100}, {" =1F", 1, 0x1F}, {"ff\tjunk", 1, 0xFF},
        {"", 0, 0},        {"1G", 0, 0},        {"0x", 0, 0},      {"100000000", 0, 0},
    };
    for (const value_row &r : values) {
        uint32_t v = 0;
        EXPECT_EQ(parse_hex_value(r.text, &v), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(v, r.value) << r.text;
        }
    }

    // Comma and dash both separate, so these three read alike.
    for (const char *text : {"10-1F,30-3F", "10,1F,30,3F", "10-1F-30-3F"}) {
        const char *p = text;
        uint32_t lo, hi;
        ASSERT_EQ(parse_hex_range(&p, &lo, &hi), 1) << text;
        EXPECT_EQ(lo, 0x10u);
        EXPECT_EQ(hi, 0x1Fu);
        ASSERT_EQ(parse_hex_range(&p, &lo, &hi), 1) << text;
        EXPECT_EQ(lo, 0x30u);
        EXPECT_EQ(hi, 0x3Fu);
        EXPECT_STREQ(p, "");
    }
    for (const char *text : {"7F-20", "10", ",", "10-XY", ""}) {
        const char *p = text;
        uint32_t lo, hi;
        EXPECT_EQ(parse_hex_range(&p, &lo, &hi), 0) << text;
    }
}

TEST(ChipParse, SignedRangeLists)
{
    struct row {
        const char *text;
        int ok;
        const char *calls;
    } rows[] = {
        {"0-7FF", 1, "+0-7FF"},
        {"+800-FFF,1000-17FF", 1, "+800-FFF +1000-17FF"},
        {"-0-1F,20-2F", 1, "-0-1F -20-2F"}, // the sign holds for the next items
        {"-0-1F,+20-2F,30-3F", 1, "-0-1F +20-2F +30-3F"},
        {"100", 0, ""},
        {"", 0, ""},
        {"0-1F,", 0, "+0-1F"}, // items before the error are passed on
        {"20-1F", 0, ""},
        {"0-1F;", 0, "+0-1F"},
        {"0-100000000", 0, ""},
    };
    for (const row &r : rows) {
        std::string calls;
        auto add = [](void *c, uint32_t lo, uint32_t hi) {
            auto *s = static_cast<std::string *>(c);
            *s += str_printf("%s+%X-%X", s->empty() ? "" : " ", lo, hi);
        };
        auto remove = [](void *c, uint32_t lo, uint32_t hi) {
            auto *s = static_cast<std::string *>(c);
            *s += str_printf("%s-%X-%X", s->empty() ? "" : " ", lo, hi);
        };
        EXPECT_EQ(parse_range_list(r.text, &calls, add, remove), r.ok) << r.text;
        EXPECT_EQ(calls, r.calls) << r.text;
    }
}

TEST(ChipLookup, ExactAndTailNames)
{
    std::string db = "# test database\n" + mid_chip("16F877A") + mid_chip("16F877") + mid_chip("628A") +
                     mid_chip("16F628A") + mid_chip("12F628A") + mid_chip("16F84A") + mid_chip("84A");
    struct row {
        const char *wanted;
        const char *found; // null: not found
    } rows[] = {
        {"16F877A", "16F877A"}, {"16f877a", "16F877A"}, {"877A", "16F877A"},
        {"F877", "16F877"},     {"628A", "628A"},
        {"28A", nullptr}, // the tail of two sections
        {"84A", "84A"},   // a tail match, then the exact name
        {"16F84", nullptr},
    };
    for (const row &r : rows) {
        chip_record *chip = lookup_in(db, r.wanted);
        if (!r.found) {
            EXPECT_EQ(chip, nullptr) << r.wanted;
            continue;
        }
        ASSERT_NE(chip, nullptr) << r.wanted;
        EXPECT_STREQ(chip->name, r.found) << r.wanted;
        EXPECT_EQ(chip->rom_size, 0x800u) << r.wanted;
    }
}

TEST(ChipLookup, TailMatchOnTheLastLineAndSpellings)
{
    // The candidate section ends the file: it is read again from its header.
    chip_record *chip = lookup_in(mid_chip("16F88") + "[16F877A]\nARCH=PIC14\nromsize=0x2000\nBanks = 2\r\n"
                                  "RAMBANK=20-7F\r\nRAMBANK=A0-EF\n",
                                  "877a");
    ASSERT_NE(chip, nullptr);
    EXPECT_STREQ(chip->name, "16F877A");
    EXPECT_EQ(chip->rom_size, 0x2000u);
    EXPECT_EQ(chip->banks, 2);
    ASSERT_EQ(chip->ram_count, 2);
    EXPECT_EQ(chip->ram[1].lo, 0xA0u);
    EXPECT_EQ(chip->ram[1].hi, 0xEFu);
    // Two RAMBANK lines are two values; one line with two ranges is one.
    EXPECT_EQ(vec_count(chip_key_values(chip, "rambank")), 2u);
    chip = lookup_in(mid_chip("X"), "X");
    EXPECT_EQ(vec_count(chip_key_values(chip, "RAMBANK")), 1u);
    EXPECT_EQ(chip->ram_count, 2);
    EXPECT_EQ(chip_key_value(chip, "PROCID"), nullptr);
}

TEST(ChipLookup, LongLinesAreReadWhole)
{
    std::string long_text(600, 'x');
    chip_record *chip = lookup_in(mid_chip("X", "# " + std::string(400, '#') + "\nPROGMEM=" + long_text + "\n"), "X");
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(std::string(chip_key_value(chip, "PROGMEM")), long_text);
}

TEST(ChipLookup, GlobalKeysServeEveryChip)
{
    std::string db = "ARCH:PIC14\nBANKS=2\nROMSIZE=400\n[A]\nRAMBANK=20-7F,A0-BF\nROMSIZE=800\n[B]\nRAMBANK=20-7F\n";
    chip_record *a = lookup_in(db, "A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->architecture, (uint32_t)ARCH_MIDRANGE);
    EXPECT_EQ(a->rom_size, 0x800u); // the section's own value wins
    EXPECT_EQ(a->banks, 2);         // the global default fills the rest
    chip_record *b = lookup_in(db, "B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->rom_size, 0x400u);
    // The global size reaches the memory model although the core comes later.
    b = lookup_in("ROMSIZE=400\nBANKS=1\n[B]\nARCH=PIC14\nRAMBANK=20-7F\n", "B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(class_spec("CODE"), "CODE=00h-03FFh");

    struct seen {
        std::vector<std::string> lines;
    } walk;
    chipinfo_iterate(write_ini(db).c_str(), &walk, [](void *c, chip_record *chip) {
        static_cast<seen *>(c)->lines.push_back(str_printf("%s:%X:%X", chip->name, chip->rom_size, chip->banks));
        return 0;
    });
    EXPECT_EQ(walk.lines, (std::vector<std::string>{"A:800:2", "B:400:2"}));
}

TEST(ChipLookup, WalkStopsWhenTheCallbackSaysSo)
{
    std::vector<std::string> names;
    chipinfo_iterate(write_ini(mid_chip("A") + mid_chip("B") + mid_chip("C")).c_str(), &names,
                     [](void *c, chip_record *chip) {
                         static_cast<std::vector<std::string> *>(c)->push_back(chip->name);
                         return strcmp(chip->name, "B") == 0 ? 1 : 0;
                     });
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
}

TEST(ChipLookup, SecondArchInASectionIsAnErrorAndTheLaterHolds)
{
    unsigned errors = msg_error_count();
    testing::internal::CaptureStderr();
    chip_record *chip = lookup_in("[X]\nARCH=PIC12\nARCH=PIC14\nROMSIZE=800\nBANKS=1\nRAMBANK=20-7F\n", "X");
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(chip->architecture, (uint32_t)ARCH_MIDRANGE);
    EXPECT_EQ(msg_error_count(), errors + 1);
    EXPECT_NE(err.find("816"), std::string::npos) << err;
}

TEST(ChipLookupDeath, BadDatabasesAreReportedWithTheirNumber)
{
    struct row {
        const char *what;
        std::string text;
        const char *message;
    } rows[] = {
        {"unknown key", mid_chip("X", "FOO=1\n"), "1020.*FOO"},
        {"bad number", mid_chip("X", "EEPROMSIZE=12Z\n"), "1021.*EEPROMSIZE"},
        {"range backwards", mid_chip("X", "IDLOC=2003-2000\n"), "1022.*IDLOC"},
        {"separators only", mid_chip("X", "CONFIG=,\n"), "1022.*CONFIG"},
        {"unknown core", "[X]\nARCH=PIC18\n", "1025"},
        {"core without value", "[X]\nARCH=\n", "1024"},
        {"header without name", "[][]\n", "1024"},
        {"no core", "[X]\nROMSIZE=800\nBANKS=1\nRAMBANK=20-7F\n", "1026"},
        {"key without value", "[X]\nARCH=PIC14\nROMSIZE=\nBANKS=1\nRAMBANK=20-7F\n", "1016.*argument to \"ROMSIZE\""},
        {"required key missing", "[X]\nARCH=PIC14\nBANKS=1\nRAMBANK=20-7F\n", "1015.*ROMSIZE"},
        {"key given twice", mid_chip("X", "ROMSIZE=800\n"), "1019.*ROMSIZE"},
        {"key given three times", mid_chip("X", "ROMSIZE=800\nROMSIZE=800\n"),
         "1018.*\"ROMSIZE\" specifications \\(3 found; 1 expected\\)"},
        {"too many RAM banks", mid_chip("X", "RAMBANK=100-10F,110-11F,120-12F,130-13F,140-14F,150-15F,160-16F\n"),
         "919.*Too many RAM banks defined for chip X"},
        {"second COMMON", mid_chip("X", "COMMON=F0-FF\n"), "919.*Too many COMMON RAM ranges"},
        {"second CONFIG", mid_chip("X", "CONFIG=2007-2007,2008-2008\n"), "919.*Too many CONFIG ranges"},
        {"fifth ICD range", mid_chip("X", "ICD2RAM=70-70,71-71,72-72,73-73,74-74\n"),
         "919.*Too many RAM ranges specified for icd2"},
        {"mirror the wrong way", mid_chip("X", "MIRROR=1-1\n"), "919.*higher banks mirroring lower banks"},
        {"mirror bank beyond the table", mid_chip("X", "MIRROR=2-9\n"), "919.*Mirror bank number above 7"},
        {"mirror bank 8", mid_chip("X", "MIRROR=8-9\n"), "919.*Mirror bank number above 7"},
        {"program memory beyond the cores", mid_chip("X", "ROMSIZE=FFFFFFFF\n"), "919.*Memory size above 10000"},
        {"RAM beyond the cores", mid_chip("X", "RAMBANK=10000-FFFFFFFF\n"), "919.*Address above FFFF"},
        {"flash type spelt in lower case", mid_chip("X", "FLASHTYPE=read\n"), "919.*Unknown FLASHTYPE"},
        {"no strategy", "[X]\nARCH=PIC14\nROMSIZE=1000\nBANKS=4\nRAMBANK=20-7F,A0-BF\n",
         "919.*Unable to determine interrupt strategy"},
        {"empty file", "", "920"},
    };
    for (const row &r : rows) {
        std::string path = write_ini(r.text);
        EXPECT_EXIT(
            {
                memory_model_start();
                read_chipinfo(path.c_str(), "X", nullptr, nullptr);
            },
            testing::ExitedWithCode(1), r.message)
            << r.what;
    }
    EXPECT_EXIT(chipinfo_lookup(write_ini(mid_chip("16F84A")).c_str(), "16F877A"), testing::ExitedWithCode(1),
                "922.*16F877A");
    EXPECT_EXIT(chipinfo_lookup(write_ini(mid_chip("16F84A") + mid_chip("16F877A")).c_str(), ""),
                testing::ExitedWithCode(1), "922");
    // A tail match whose header is the file's last line is an empty section.
    std::string last = write_ini(mid_chip("16F84A") + "[16F877A]");
    EXPECT_EXIT(read_chipinfo(last.c_str(), "877A", nullptr, nullptr), testing::ExitedWithCode(1), "1026");
    last = write_ini("ARCH=PIC14\n" + mid_chip("16F84A") + "[16F877A]\n");
    EXPECT_EXIT(read_chipinfo(last.c_str(), "877A", nullptr, nullptr), testing::ExitedWithCode(1), "1015.*ROMSIZE");
    EXPECT_EXIT(chipinfo_lookup((testing::TempDir() + "no_such_dir/zeph.ini").c_str(), "X"),
                testing::ExitedWithCode(1), "141.*chip info");
    // No database could be found at all: said so, neither a crash nor a
    // walk of nothing.
    EXPECT_EXIT(chipinfo_lookup(nullptr, "X"), testing::ExitedWithCode(1), "1520.*chip database");
    EXPECT_EXIT(chipinfo_list(nullptr, 0, stdout), testing::ExitedWithCode(1), "1520.*chip database");
}

TEST(ChipLookupDeath, CountMessagesWordTheirPluralsAndGiveTheLine)
{
    std::string path = write_ini("[X]\nARCH=PIC14\nROMSIZE=800\nBANKS=1\nRAMBANK=20-7F\nDATABANK=\n");
    EXPECT_EXIT(read_chipinfo(path.c_str(), "X", nullptr, nullptr), testing::ExitedWithCode(1),
                "1016.*missing argument to \"DATABANK\".*at line 6");
    chip_record *chip = lookup_in(mid_chip("X", "MAKE=\nJARS=a\nJARS=b\nJARS=c\n"), "X");
    ASSERT_NE(chip, nullptr);
    EXPECT_EXIT(check_key_count(chip, 1, 2, "MAKE", "COMMON", nullptr), testing::ExitedWithCode(1),
                "1018.*\"MAKE/COMMON\" specification \\(1 found; 2 expected\\)");
    EXPECT_EXIT(check_key_count(chip, 1, 2, "MAKE", nullptr), testing::ExitedWithCode(1),
                "1016.*missing arguments to \"MAKE\"");
    EXPECT_EXIT(check_key_count(chip, 0, 0, "JARS", nullptr), testing::ExitedWithCode(1),
                "1017.*extraneous arguments to \"JARS\"");
    EXPECT_EXIT(check_key_count(chip, 1, -1, "SFRFILE", nullptr), testing::ExitedWithCode(1),
                "1015.*missing \"SFRFILE\" specification");
    check_key_count(chip, 0, 1, "SFRFILE", nullptr); // optional and absent: fine
    check_key_count(chip, 1, -1, "JARS", nullptr);   // any number
}

TEST(ChipInfoList, BothForms)
{
    std::string path = write_ini("# two chips\n" + mid_chip("16F88", "EEPROMSIZE=100\nPROCID=688F\nMIRROR=0-1\n") +
                                 "[10F200]\nARCH=PIC12\nROMSIZE=100\nBANKS=1\nRAMBANK=10-1F\n");
    char *buffer = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buffer, &size);
    memory_model_start();
    chipinfo_list(path.c_str(), 0, out);
    fflush(out);
    EXPECT_STREQ(buffer, ";name:romsize:numbanks\n16F88:800:2\n10F200:100:1\n");
    fclose(out);
    free(buffer);

    out = open_memstream(&buffer, &size);
    chipinfo_list(path.c_str(), 1, out);
    fclose(out);
    std::string expected = "\nSupported device information:\n    Device\t Arch.\t    ID\tBanks\tROM\tEEPROM\tMirror\n" +
                           std::string(66, '-') + "\n" +
                           "     16F88\t14-bit\t  688F\t2 (2)\t0x800\t0x100\t0->1 \n"
                           "    10F200\t12-bit\t      \t1 (1)\t0x100\t0x0\t\n";
    EXPECT_EQ(std::string(buffer), expected);
    free(buffer);
}
