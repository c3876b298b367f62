// The shipped chip database against the chips' data sheets: program memory
// words, RAM per bank, common RAM, EEPROM bytes, configuration and ID
// addresses. Every chip a user is likely to have must load and finish.
#include "chip_fixture.h"

#include <set>
#include <vector>

static std::string database_path()
{
    return std::string(ZEPH_SOURCE_DIR) + "/data/dat/zeph.ini";
}

static std::string ram_text(const chip_record *chip)
{
    std::string s;
    for (int i = 0; i < chip->ram_count; i++)
        s += str_printf("%s%X-%X", i ? " " : "", chip->ram[i].lo, chip->ram[i].hi);
    return s;
}

TEST(ChipDatabase, RecordsMatchTheDataSheets)
{
    struct row {
        const char *chip;
        uint32_t arch, rom, banks;
        const char *ram;
        chip_range common;
        uint32_t eeprom;
        chip_range config, idloc;
        uint32_t osccal;
    } rows[] = {
        // chip     core            words   banks RAM per bank                         common       EEPROM config          ID locations    OSCCAL
        {"10F200", ARCH_BASELINE, 0x100,  1, "10-1F",                         {0, 0},       0,     {0xFFF, 0xFFF},   {0x100, 0x103},   0x05},
        {"12F509", ARCH_BASELINE, 0x400,  2, "7-1F 30-3F",                    {0x07, 0x0F}, 0,     {0xFFF, 0xFFF},   {0x400, 0x403},   0x05},
        {"16F57",  ARCH_BASELINE, 0x800,  4, "8-1F 30-3F 50-5F 70-7F",        {0x08, 0x0F}, 0,     {0xFFF, 0xFFF},   {0x800, 0x803},   0},
        {"12F629", ARCH_MIDRANGE, 0x400,  2, "20-5F",                         {0x20, 0x5F}, 0x80,  {0x2007, 0x2007}, {0x2000, 0x2003}, 0x90},
        {"16F84A", ARCH_MIDRANGE, 0x400,  2, "C-4F",                          {0x0C, 0x4F}, 0x40,  {0x2007, 0x2007}, {0x2000, 0x2003}, 0},
        {"16F628A", ARCH_MIDRANGE, 0x800, 4, "20-7F A0-EF 120-14F",           {0x70, 0x7F}, 0x80,  {0x2007, 0x2007}, {0x2000, 0x2003}, 0},
        {"16F88",  ARCH_MIDRANGE, 0x1000, 4, "20-7F A0-EF 110-16F 190-1EF",   {0x70, 0x7F}, 0x100, {0x2007, 0x2008}, {0x2000, 0x2003}, 0},
        {"16F873A", ARCH_MIDRANGE, 0x1000, 4, "20-7F A0-FF",                  {0, 0},       0x80,  {0x2007, 0x2007}, {0x2000, 0x2003}, 0},
        {"16F877A", ARCH_MIDRANGE, 0x2000, 4, "20-7F A0-EF 110-16F 190-1EF",  {0x70, 0x7F}, 0x100, {0x2007, 0x2007}, {0x2000, 0x2003}, 0},
        {"16F946", ARCH_MIDRANGE, 0x2000, 4, "20-7F A0-EF 120-16F 1A0-1EF",   {0x70, 0x7F}, 0x100, {0x2007, 0x2007}, {0x2000, 0x2003}, 0},
    };
    for (const row &r : rows) {
        memory_model_start();
        chip_record *chip = read_chipinfo(database_path().c_str(), r.chip, nullptr, nullptr);
        ASSERT_NE(chip, nullptr) << r.chip;
        EXPECT_STREQ(chip->name, r.chip);
        EXPECT_EQ(chip->architecture, r.arch) << r.chip;
        EXPECT_EQ(chip->rom_size, r.rom) << r.chip;
        EXPECT_EQ(chip->banks, r.banks) << r.chip;
        EXPECT_EQ(ram_text(chip), r.ram) << r.chip;
        EXPECT_EQ(chip->common.lo, r.common.lo) << r.chip;
        EXPECT_EQ(chip->common.hi, r.common.hi) << r.chip;
        EXPECT_EQ(chip->eeprom_size, r.eeprom) << r.chip;
        EXPECT_EQ(chip->config.lo, r.config.lo) << r.chip;
        EXPECT_EQ(chip->config.hi, r.config.hi) << r.chip;
        EXPECT_EQ(chip->idloc.lo, r.idloc.lo) << r.chip;
        EXPECT_EQ(chip->idloc.hi, r.idloc.hi) << r.chip;
        EXPECT_EQ(chip->osccal, r.osccal) << r.chip;
    }
}

TEST(ChipDatabase, EveryListedChipLoadsAndFinishes)
{
    const std::set<std::string> wanted = {
        "10F200", "10F202", "10F204", "10F206", "10F220", "10F222", "12F508", "12F509", "12F510", "16F505",
        "16F54",  "16F57",  "12F629", "12F675", "12F683", "16F84A", "16F627A", "16F628A", "16F648A", "16F676",
        "16F684", "16F688", "16F690", "16F716", "16F73",  "16F74",  "16F76",  "16F77",  "16F818", "16F819",
        "16F87",  "16F88",  "16F873A", "16F874A", "16F876A", "16F877A", "16F882", "16F883", "16F884", "16F886",
        "16F887", "16F913", "16F914", "16F916", "16F917", "16F946"};
    struct seen {
        const std::set<std::string> *hand_checked;
        std::set<std::string> names;
        std::vector<std::string> problems;
    } walk{&wanted, {}, {}};
    memory_model_start();
    // The walk finishes every record: a chip whose keys do not add up would
    // end the run here with its message.
    chipinfo_iterate(database_path().c_str(), &walk, [](void *c, chip_record *chip) {
        auto *w = static_cast<seen *>(c);
        w->names.insert(chip->name);
        bool baseline = chip->architecture == ARCH_BASELINE;
        if (chip->architecture != ARCH_BASELINE && chip->architecture != ARCH_MIDRANGE)
            w->problems.push_back(std::string(chip->name) + ": core");
        if (baseline ? chip->int_strategy != 0 : chip->int_strategy < 1)
            w->problems.push_back(std::string(chip->name) + ": interrupt strategy");
        // The public files give no processor number: only the chips checked
        // by hand have one.
        if (!chip->processor_id && w->hand_checked->count(chip->name))
            w->problems.push_back(std::string(chip->name) + ": no processor id");
        // The enhanced 12-bit core's deeper stack is not in the public
        // files: it is built as a baseline chip.
        if (chip->stack_depth != (baseline ? 1u : 7u))
            w->problems.push_back(std::string(chip->name) + ": stack depth");
        if (!chip_has_config(chip) || !chip_has_idloc(chip))
            w->problems.push_back(std::string(chip->name) + ": configuration or ID locations");
        return 0;
    });
    for (const std::string &name : wanted)
        EXPECT_TRUE(walk.names.count(name)) << name << " missing";
    EXPECT_EQ(walk.problems, std::vector<std::string>{});
}

TEST(ChipDatabase, TailNamesAndTheLoadedModel)
{
    chip_record *chip = chipinfo_lookup(database_path().c_str(), "877a");
    ASSERT_NE(chip, nullptr);
    EXPECT_STREQ(chip->name, "16F877A");
    EXPECT_EQ(chip_selected, chip);
    EXPECT_EQ(chip->flash_type, (uint32_t)CHIP_FLASH_READWRITE_A);
    EXPECT_EQ(chip->data_bank, 2u);
    // "7A" ends 16F627A and 16F877A alike.
    memory_model_start();
    EXPECT_EQ(read_chipinfo(database_path().c_str(), "7A", nullptr, nullptr), nullptr);

    memory_model_start();
    chip = read_chipinfo(database_path().c_str(), "16F628A", nullptr, nullptr);
    memory_model_finish(chip, DEBUGGER_NONE, 0);
    EXPECT_EQ(class_spec("CODE"), "CODE=00h-07FFh");
    EXPECT_EQ(class_spec("BANK2"), "BANK2=0120h-014Fh");
    EXPECT_EQ(class_spec("COMMON"), "COMMON=070h-07Fh");
    EXPECT_EQ(class_spec("EEDATA"), "EEDATA=00h-07Fh");
    EXPECT_EQ(class_spec("CONFIG"), "CONFIG=02007h-02007h");
}
