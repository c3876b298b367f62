// The chip record's finish (interrupt strategy, flash and stack defaults)
// and the memory model: classes from the hooks, the completion, --rom and
// --ram edits, the hidden options and the psect catalogue. Expected ranges
// are worked out by hand from the chip's keys.
#include "chip_fixture.h"

static chip_record *chip_of(const std::string &keys)
{
    return lookup_in("[X]\n" + keys, "X");
}

TEST(ChipFinish, InterruptStrategy)
{
    struct row {
        const char *what;
        const char *keys;
        int32_t strategy;
    } rows[] = {
        {"all RAM common", "ARCH=PIC14\nROMSIZE=400\nBANKS=2\nRAMBANK=20-5F\nCOMMON=20-5F\n", 1},
        // Common bytes at the top of bank 0 (the first rule needs them to
        // cover the first general-purpose offset, 20h here).
        {"common at the top of bank 0", "ARCH=PIC14\nROMSIZE=800\nBANKS=2\nRAMBANK=20-7F,A0-BF\nCOMMON=70-7F\n", 2},
        {"spare bit", "ARCH=PIC14\nROMSIZE=1000\nBANKS=4\nRAMBANK=20-7F,A0-BF\nSPAREBIT=3\n", 4},
        {"same offset in both banks", "ARCH=PIC14\nROMSIZE=1000\nBANKS=2\nRAMBANK=20-7F,A0-BF\n", 3},
        {"two banks, three RAM ranges", "ARCH=PIC14\nROMSIZE=1000\nBANKS=2\nRAMBANK=20-7F,A0-BF,120-13F\n", 6},
        {"more banks than RAM ranges, INTSAVE", "ARCH=PIC14\nROMSIZE=1000\nBANKS=4\nRAMBANK=20-7F,A0-FF\nINTSAVE=7F\n", 3},
        {"more banks than RAM ranges, small chip", "ARCH=PIC14\nROMSIZE=800\nBANKS=4\nRAMBANK=20-7F,A0-FF\n", 5},
        {"offset missing in bank 1", "ARCH=PIC14\nROMSIZE=800\nBANKS=2\nRAMBANK=20-7F,C0-EF\n", 5},
        {"baseline", "ARCH=PIC12\nROMSIZE=400\nBANKS=2\nRAMBANK=07-1F,30-3F\nCOMMON=07-0F\n", 0},
        {"high-end", "ARCH=PIC16\nROMSIZE=2000\nBANKS=4\nRAMBANK=20-FF,120-1FF\n", 2},
    };
    for (const row &r : rows) {
        chip_record *chip = chip_of(r.keys);
        ASSERT_NE(chip, nullptr) << r.what;
        EXPECT_EQ(chip->int_strategy, r.strategy) << r.what;
    }
}

TEST(ChipFinish, FlashSizesStackDepthAndProcessorId)
{
    const char *base = "ARCH=PIC14\nROMSIZE=800\nBANKS=2\nRAMBANK=20-7F,A0-BF\nCOMMON=70-7F\n";
    chip_record *chip = chip_of(std::string(base) + "FLASH_WRITE=10\nFLASHTYPE=READWRITE_B\nPROCID=688F\n");
    EXPECT_EQ(chip->flash_write, 0x10u);
    EXPECT_EQ(chip->flash_erase, 0x10u); // taken from the write size
    EXPECT_EQ(chip->flash_type, (uint32_t)CHIP_FLASH_READWRITE_B);
    EXPECT_STREQ(chip->processor_id, "688F");
    EXPECT_EQ(chip->stack_depth, 7u); // mid-range default: 8 levels
    chip = chip_of(std::string(base) + "FLASH_ERASE=20\nFLASH_WRITE=4\nSTACKDEPTH=4\nFLASHTYPE=\n");
    EXPECT_EQ(chip->flash_erase, 0x20u); // given first: kept
    EXPECT_EQ(chip->flash_type, (uint32_t)CHIP_FLASH_NONE);
    EXPECT_EQ(chip->stack_depth, 3u);
    chip = chip_of("ARCH=PIC12\nROMSIZE=200\nBANKS=1\nRAMBANK=07-1F\nSTACKDEPTH=1\n");
    EXPECT_EQ(chip->stack_depth, 1u); // a depth of 1 counts as not given
    chip = chip_of("ARCH=PIC12\nROMSIZE=200\nBANKS=1\nRAMBANK=07-1F\nSTACKDEPTH=0\n");
    EXPECT_EQ(chip->stack_depth, 1u);
}

TEST(MemoryModel, MidRangeChipWithCommonRam)
{
    chip_record *chip = chip_of("ARCH=PIC14\nROMSIZE=2000\nBANKS=4\nRAMBANK=20-7F,A0-EF,110-16F,190-1EF\n"
                                "COMMON=70-7F\nEEPROMSIZE=100\n");
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(class_spec("CODE"), "CODE=00h-07FFhx4");
    EXPECT_EQ(class_spec("CONST"), "CONST=00h-0FFhx32");
    EXPECT_EQ(class_spec("ENTRY"), "ENTRY=00h-0FFhx32");
    EXPECT_EQ(class_spec("EEDATA"), "EEDATA=00h-0FFh");
    EXPECT_EQ(class_spec("BANK0"), "BANK0=020h-07Fh");
    EXPECT_EQ(class_spec("BANK3"), "BANK3=0190h-01EFh");
    EXPECT_EQ(class_spec("ABS1"), "ABS1=020h-07Fh,0A0h-0EFh,0110h-016Fh,0190h-01EFh");
    EXPECT_EQ(class_spec("COMMON"), "COMMON=070h-07Fh");

    EXPECT_EQ(memory_model_finish(chip, DEBUGGER_NONE, 0), nullptr);
    EXPECT_TRUE(class_named("RAM")->hidden);
    EXPECT_FALSE(class_named("COMMON")->hidden);
    EXPECT_EQ(class_spec("RAM"), "RAM=020h-06Fh,0A0h-0EFh,0110h-016Fh,0190h-01EFh");
    EXPECT_EQ(class_spec("CONFIG"), "CONFIG=02007h-02007h");
    EXPECT_EQ(class_spec("IDLOC"), "IDLOC=02000h-02003h");
    EXPECT_NE(range_find_space(memory_spaces, "config"), nullptr);
}

TEST(MemoryModel, PseudoCommonIsCarvedOutOfTheBanks)
{
    chip_record *chip = chip_of("ARCH=PIC14\nROMSIZE=1000\nBANKS=4\nRAMBANK=20-7F,A0-EF,120-16F,1A0-1EF\n");
    memory_model_finish(chip, DEBUGGER_NONE, 0);
    range_class *common = class_named("COMMON");
    ASSERT_NE(common, nullptr);
    EXPECT_EQ(ranges_text(common->available), "7E-7F");
    EXPECT_TRUE(common->hidden);
    EXPECT_EQ(ranges_text(class_named("BANK1")->used), "FE-FF");
    EXPECT_EQ(ranges_text(class_named("BANK2")->used), "17E-17F");
    EXPECT_EQ(ranges_text(class_named("BANK3")->used), "1FE-1FF");
    EXPECT_EQ(ranges_text(class_named("RAM")->used), "7E-7F FE-FF 17E-17F 1FE-1FF");

    // Baseline: four bytes; banks the chip lacks get no class.
    chip = chip_of("ARCH=PIC12\nROMSIZE=1FF\nBANKS=1\nRAMBANK=10-1F\n");
    memory_model_finish(chip, DEBUGGER_NONE, 0);
    EXPECT_EQ(ranges_text(class_named("COMMON")->available), "1C-1F");
    EXPECT_EQ(class_named("BANK1"), nullptr);
    EXPECT_EQ(class_spec("IDLOC"), "IDLOC=0200h-0203h"); // ROMSIZE rounded up to a page
    EXPECT_EQ(class_spec("CONFIG"), "CONFIG=0FFFh-0FFFh");
    EXPECT_EQ(class_spec("CODE"), "CODE=00h-01FEh");
}

TEST(MemoryModel, CoreNamedAfterTheMemoryKeys)
{
    // The same baseline chip, ARCH first or last: the memory it describes
    // is cut by the core's pages and banks either way.
    for (const char *keys : {"ARCH=PIC12\nROMSIZE=400\nBANKS=2\nRAMBANK=07-1F,30-3F\nCOMMON=07-0F\n",
                             "ROMSIZE=400\nBANKS=2\nRAMBANK=07-1F,30-3F\nCOMMON=07-0F\nARCH=PIC12\n"}) {
        ASSERT_NE(chip_of(keys), nullptr) << keys;
        EXPECT_EQ(class_spec("CODE"), "CODE=00h-01FFhx2") << keys;
        EXPECT_EQ(class_spec("ENTRY"), "ENTRY=00h-01FFhx2") << keys;
        EXPECT_EQ(ranges_text(class_named("RAM")->available), "7-1F 30-3F") << keys;
        EXPECT_EQ(class_spec("BANK1"), "BANK1=030h-03Fh") << keys;
    }
}

TEST(MemoryModelDeath, CarveOutNeedsRoomInBankZero)
{
    chip_record *chip = chip_of("ARCH=PIC12\nROMSIZE=200\nBANKS=1\nRAMBANK=1E-1F\n");
    EXPECT_EXIT(memory_model_finish(chip, DEBUGGER_NONE, 0), testing::ExitedWithCode(1),
                "919.*no room for 4 bytes of common memory");
}

TEST(MemoryModel, RamRangeBeyondTheBanksIsAnError)
{
    unsigned errors = msg_error_count();
    testing::internal::CaptureStderr();
    chip_of("ARCH=PIC14\nROMSIZE=800\nBANKS=2\nRAMBANK=20-7F,220-27F\n");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(msg_error_count(), errors + 1);
    EXPECT_NE(err.find("RAM range out of bounds (27F)"), std::string::npos) << err;
    EXPECT_EQ(class_spec("ABS1"), "ABS1=020h-07Fh,0220h-027Fh");
    EXPECT_EQ(class_named("BANK4"), nullptr);

    // Listing the chips reports it once, not once per reading of the section.
    errors = msg_error_count();
    testing::internal::CaptureStderr();
    chipinfo_iterate(write_ini("[X]\nARCH=PIC14\nROMSIZE=800\nBANKS=2\nRAMBANK=20-7F,220-27F\n").c_str(), nullptr,
                     [](void *, chip_record *) { return 0; });
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(msg_error_count(), errors + 1);
}

TEST(MemoryModel, HighEndPagesAndBankZero)
{
    chip_record *chip = chip_of("ARCH=PIC16\nROMSIZE=4000\nBANKS=2\nRAMBANK=1A-FF,120-1FF\n");
    memory_model_finish(chip, DEBUGGER_NONE, 0);
    EXPECT_EQ(class_spec("BANK0"), "BANK0=01Ch-0FFh"); // first two bytes are not RAM
    EXPECT_EQ(ranges_text(class_named("CODE")->used),
              "1FFE-1FFF 2FFE-2FFF 3FFE-3FFF 4FFE-4FFF 5FFE-5FFF 6FFE-6FFF 7FFE-7FFF 8FFE-8FFF 9FFE-9FFF "
              "AFFE-AFFF BFFE-BFFF CFFE-CFFF DFFE-DFFF EFFE-EFFF FFFE-FFFF");
    EXPECT_EQ(class_spec("CONFIG"), "CONFIG=0FE00h-0FE00h");
    EXPECT_EQ(range_find_space(memory_spaces, "idloc"), nullptr);
}

TEST(MemoryModel, DebuggerAndResetBitsReservations)
{
    chip_record *chip = chip_of("ARCH=PIC14\nROMSIZE=2000\nBANKS=4\nRAMBANK=20-7F,A0-EF,110-16F,190-1EF\n"
                                "COMMON=70-7F\nICD2RAM=70-70,1EB-1EF\nICD2ROM=1F00-1FFF\nICD1RAM=65-65\n");
    EXPECT_STREQ(memory_model_finish(chip, DEBUGGER_PICKIT2, RUNTIME_RESETBITS), "-D__MPLAB_PICKIT2__=1");
    EXPECT_EQ(ranges_text(class_named("BANK3")->used), "70-70 1EB-1EF");
    EXPECT_EQ(ranges_text(class_named("COMMON")->used), "20-20 70-70 1EB-1EF");
    EXPECT_EQ(ranges_text(class_named("CODE")->used), "1F00-1FFF");
    EXPECT_EQ(ranges_text(class_named("STRING")->used), "1F00-1FFF");
    EXPECT_EQ(memory_resetbits_address, 0x20u);
    EXPECT_EQ(ranges_text(class_named("BANK0")->used), "20-20 70-70 1EB-1EF");
}

TEST(MemoryModel, RomAndRamOptions)
{
    const char *keys = "ARCH=PIC14\nROMSIZE=1000\nBANKS=4\nRAMBANK=20-7F,A0-EF,120-16F\nCOMMON=70-7F\n";
    struct row {
        memory_option_kind which;
        const char *value;
        int result;
        const char *cls;
        const char *spec; // free ranges of cls afterwards
    } rows[] = {
        {MEMORY_ROM, "default", 0, "CODE", "CODE=00h-07FFhx2"},
        {MEMORY_ROM, "0-7FF", 0, "CODE", "CODE=00h-07FFh"},
        // Added program memory merges with the pages it touches.
        {MEMORY_ROM, "+1000-17FF", 0, "CODE", "CODE=00h-017FFh"},
        {MEMORY_ROM, "+1000-17FF", 0, "STRING", "STRING=00h-0FFhx24"},
        {MEMORY_ROM, "default,-0-3", 0, "CODE", "CODE=04h-07FFh,0800h-0FFFh"},
        {MEMORY_ROM, "none", 0, "CODE", ""},
        {MEMORY_ROM, "+", 0, "CODE", "CODE=00h-07FFhx2"},
        {MEMORY_RAM, "default,-70-7F", 0, "BANK0", "BANK0=020h-06Fh"},
        {MEMORY_RAM, "+120-16F,-A0-AF", 0, "BANK1", "BANK1=0B0h-0EFh"},
        {MEMORY_RAM, "20-6F", 0, "BANK0", "BANK0=020h-06Fh"},
        {MEMORY_RAM, "20-6F", 0, "BANK1", ""},
        {MEMORY_ROM, "defaults", 906, "CODE", "CODE=00h-07FFhx2"},
        {MEMORY_ROM, "+0-", 906, "CODE", "CODE=00h-07FFhx2"},
        {MEMORY_ROM, "+800-FFF,10000-FFFFFFFF", 906, "CODE", "CODE=00h-07FFhx2"}, // nothing applied
        {MEMORY_RAM, "+data", 906, "BANK0", "BANK0=020h-07Fh"},
        {MEMORY_RAM, "+nosuch", 907, "BANK0", "BANK0=020h-07Fh"},
    };
    for (const row &r : rows) {
        chip_selected = chip_of(keys);
        EXPECT_EQ(memory_apply_option(r.which, r.value), r.result) << r.value;
        EXPECT_EQ(class_spec(r.cls), r.spec) << r.value;
    }
}

TEST(MemoryModel, RomOptionNamingAnotherSpace)
{
    chip_of("ARCH=PIC14\nROMSIZE=800\nBANKS=2\nRAMBANK=20-7F,A0-BF\nCOMMON=70-7F\nEEPROMSIZE=80\n");
    // "+eedata": every data class gets the EEPROM's ranges as well.
    ASSERT_EQ(memory_apply_option(MEMORY_RAM, "+eedata"), 0);
    EXPECT_EQ(ranges_text(class_named("BANK1")->available), "0-7F A0-BF");
    EXPECT_EQ(memory_data_space, range_find_space(memory_spaces, "data"));
    // Without "+" the code classes move into the named space.
    chip_of("ARCH=PIC14\nROMSIZE=800\nBANKS=2\nRAMBANK=20-7F,A0-BF\nCOMMON=70-7F\nEEPROMSIZE=80\n");
    range_space *eedata = memory_eedata_space;
    ASSERT_EQ(memory_apply_option(MEMORY_ROM, "eedata"), 0);
    EXPECT_EQ(memory_code_space, eedata);
    EXPECT_EQ(class_named("CODE")->space, eedata);
    EXPECT_EQ(ranges_text(class_named("CODE")->available), "0-7F");
}

TEST(MemoryModel, AddedRamLandsInItsBank)
{
    chip_of("ARCH=PIC14\nROMSIZE=1000\nBANKS=4\nRAMBANK=20-7F,A0-EF\nCOMMON=70-7F\n");
    rom_ram_add(const_cast<memory_option_kind *>(&memory_ram_option), 0x120, 0x16F);
    EXPECT_EQ(class_spec("BANK2"), "BANK2=0120h-016Fh");
    EXPECT_EQ(class_spec("ABS1"), "ABS1=020h-07Fh,0A0h-0EFh,0120h-016Fh");
    EXPECT_EXIT(rom_ram_add(const_cast<memory_option_kind *>(&memory_ram_option), 0x100, 0x1FF),
                testing::ExitedWithCode(1), "1053");
    EXPECT_EXIT(rom_ram_add(const_cast<memory_option_kind *>(&memory_ram_option), 0x200, 0x21F),
                testing::ExitedWithCode(1), "1054");
}

TEST(MemoryModel, CodeOffsetAndAccessBank)
{
    chip_selected = chip_of("ARCH=PIC12\nROMSIZE=400\nBANKS=2\nRAMBANK=07-1F,30-3F\nCOMMON=07-0F\n");
    codeoffset_apbank_handler(OPTION_CODEOFFSET, 0x10);
    EXPECT_EQ(chip_selected->code_offset, 0x10u);
    EXPECT_EQ(ranges_text(class_named("CODE")->used), "0-F");
    EXPECT_EQ(ranges_text(class_named("ENTRY")->used), "0-F");
    EXPECT_EQ(class_named("CONST"), nullptr); // baseline chips have no CONST class
    codeoffset_apbank_handler(OPTION_APBANK, 0x1203);
    EXPECT_EQ(chip_selected->access_bank, 0xFF03);
}

TEST(MemoryModel, PsectCatalogueDescribesTheChipsClasses)
{
    chip_record *chip = chip_of("ARCH=PIC12\nROMSIZE=400\nBANKS=2\nRAMBANK=07-1F,30-3F\nCOMMON=07-0F\n");
    memory_model_finish(chip, DEBUGGER_NONE, 0);
    define_psect_catalogue(chip);
    EXPECT_STREQ(range_base_name_lookup(class_named("BANK1")->entries, "rbss_1"), "Bank 1 RAM variables");
    EXPECT_EQ(range_entry_kind(class_named("BANK1"), "rbit_1"), 1);
    EXPECT_STREQ(range_base_name_lookup(class_named("ENTRY")->entries, "init"), "Initialization code");
    EXPECT_STREQ(range_base_name_lookup(class_named("CODE")->entries, "idata12"), "Image for initialized data");
    EXPECT_EQ(range_entry_kind(class_named("CODE"), "idata"), 0); // the mid-range name is not registered
    // A psect met later with digits takes the description of its stem.
    range_entry_define(class_named("CODE"), "text12", 0, nullptr, 0x100, 0x100, 4);
    EXPECT_STREQ(range_base_name_lookup(class_named("CODE")->entries, "text12"), "Program and library code");
    EXPECT_EQ(class_named("EEDATA"), nullptr);
}
