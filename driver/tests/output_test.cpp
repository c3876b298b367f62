// The output phases (HEX conversion, HEX merge with fill, serial number and
// checksum, debug conversion, cross reference, library order) for a
// mid-range chip read from a small database, run under --noexec -V so that
// the echoed command line shows what each would run.
#include "support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class OutputPhases : public ::testing::Test {
protected:
    void SetUp() override
    {
        messages_for_test();
        std::ofstream("output_chips.ini") << "[16F877A]\nARCH=PIC14\nPROCID=877A\nROMSIZE=2000\nBANKS=4\n"
                                             "RAMBANK=20-7F,A0-EF,110-16F,190-1EF\nCOMMON=70-7F\n"
                                             "EEPROMSIZE=100\nDATABANK=2\n";
        memory_model_start();
        chipinfo_lookup("output_chips.ini", "16F877A");
        remove("output_chips.ini");
        options_set_defaults();
        memory_model_finish(chip_selected, opts.debugger, opts.runtime);
        settings = driver_settings{};
        settings.verbose = 1;
        opts.noexec = 1;
        opts.errors = 0;
        bs.output_name = xstrdup("prog.hex");
        bs.output_dir = os_current_dir();
        bs.hexfiles = vec_new_default();
        bs.linker_opts = vec_new_default();
        bs.warn_arg = nullptr;
        // The run's own folder, never made here: nothing runs.
        bs.run_dir = xstrdup("run");
        bs.link_object = nullptr;
        bs.cr_file = nullptr;
    }
    void TearDown() override
    {
        opts.noexec = 0;
        settings = driver_settings{};
    }

    // The echoed lines, each without the program's common arguments.
    static std::vector<std::string> lines()
    {
        std::vector<std::string> r;
        for (std::string l : captured_lines) {
            l.pop_back();
            size_t edf = l.find(" --edf=");
            if (edf == std::string::npos)
                continue;
            size_t own = l.find(' ', edf + 1);
            r.push_back(l.substr(0, edf) + (own == std::string::npos ? "" : l.substr(own)));
        }
        return r;
    }
};

TEST_F(OutputPhases, HexOutputAndMerge)
{
    struct Case {
        const char *fill, *serial, *checksum;
        const char *output;
        uint32_t bits;
        std::vector<std::string> want;
    } cases[] = {
        {nullptr, nullptr, nullptr, "prog.hex", OUT_INTEL,
         {"finch -i -16,2 run/l.obj prog.hex", "siskin prog.hex -Oprog.hex -logfile=prog.hxl -addressing=2"}},
        {"3FFF", "1234@7FE", nullptr, "prog.hex", OUT_INTEL,
         {"finch -i -16,2 run/l.obj prog.hex",
          "siskin prog.hex -Oprog.hex -logfile=prog.hxl -addressing=2 -serial=1234@7FE -fill=FF3F@0-7FF "
          "-fill=FF3F@800-FFF -fill=FF3F@1000-17FF -fill=FF3F@1800-1FFF"}},
        {nullptr, nullptr, "0-7FF@800", "prog.hex", OUT_INHX032,
         {"finch -i -16,2 run/l.obj prog.hex",
          "siskin prog.hex -Oprog.hex -logfile=prog.hxl -format=INHX032 -addressing=2 -fill=FF3F@0-7FF "
          "-ck=0-7FF@800+0w-2t34g2"}},
        {nullptr, nullptr, "0-7FF@800,width=1,algorithm=3,offset=10", "prog.hex", OUT_INTEL,
         {"finch -i -16,2 run/l.obj prog.hex",
          "siskin prog.hex -Oprog.hex -logfile=prog.hxl -addressing=2 -fill=FF3F@0-7FF -ck=0-7FF@800+10w1t34g3"}},
        // Binary output gets the same word as the HEX fill above.
        {nullptr, nullptr, "0-7FF@800", "prog.bin", OUT_BIN, {"finch -b -F03FFFh run/l.obj prog.bin"}},
        {nullptr, nullptr, nullptr, "prog.bin", OUT_BIN, {"finch -b -F03FFFh run/l.obj prog.bin"}},
        {"off", nullptr, nullptr, "prog.bin", OUT_BIN, {"finch -b run/l.obj prog.bin"}},
        {"123456789@0-10", nullptr, nullptr, "prog.bin", OUT_BIN, {"finch -b -F012345678h run/l.obj prog.bin"}},
        {nullptr, nullptr, nullptr, "prog.s19", OUT_MOT, {"finch -m -16,2 run/l.obj prog.s19"}},
        {nullptr, nullptr, nullptr, "prog.ubr", OUT_UBROF, {"finch -ub run/l.obj prog.ubr"}},
        {nullptr, nullptr, nullptr, "prog.tsk", OUT_TSK & 0x40, {"finch -h run/l.obj prog.tsk"}},
    };
    for (const Case &c : cases) {
        captured_lines.clear();
        settings = driver_settings{};
        settings.verbose = 1;
        if (c.fill)
            settings.fill = xstrdup(c.fill);
        if (c.serial)
            driver_option(54)->target.handler(driver_option(54), c.serial);
        if (c.checksum)
            driver_option(55)->target.handler(driver_option(55), c.checksum);
        EXPECT_TRUE(phase_hex_output(c.output, c.bits));
        EXPECT_EQ(c.want, lines()) << (c.fill ? c.fill : "") << (c.checksum ? c.checksum : "");
    }
}

TEST_F(OutputPhases, BootloaderFillAndMissingRanges)
{
    opts.runtime |= RT_DOWNLOAD;
    EXPECT_TRUE(phase_hex_merge("prog.hex", OUT_INTEL));
    ASSERT_EQ(1u, lines().size());
    EXPECT_NE(std::string::npos, lines()[0].find(" -addressing=2 -FILL=FF3F@0-1FFF,data")) << lines()[0];
    opts.runtime &= ~RT_DOWNLOAD;
    EXPECT_TRUE(phase_hex_merge(nullptr, OUT_INTEL));

    // A fill without addresses needs program memory to fill.
    range_class_clear(memory_code_space->classes);
    settings.fill = xstrdup("3FFF");
    EXPECT_THROW(phase_hex_merge("prog.hex", OUT_INTEL), fatal_exit);
    EXPECT_TRUE(reported(941));
}

TEST_F(OutputPhases, DebugConversionAndListers)
{
    struct Case {
        uint32_t bit;
        const char *want;
    } cases[] = {
        {OUT_MCOF, "egret -k -m -P16F877A,877A,PIC14 -NCODE,CONST,ENTRY,STRING prog.hex prog.sym -omcof"},
        {OUT_COD, "egret -m -P16F877A,PIC14 -NCODE,CONST,ENTRY,STRING prog.hex prog.sym -ocod"},
        {OUT_ELF, "egret -m -P16F877A,PIC14 -NCODE,CONST,ENTRY,STRING prog.hex prog.sym -oelf"},
        {OUT_OMF, "egret -e prog.hex prog.sym -oomf prog.omf"},
        {OUT_EOMF, "egret -e prog.hex prog.sym -oeomf prog.omf"},
    };
    for (const Case &c : cases) {
        captured_lines.clear();
        EXPECT_TRUE(phase_debug_convert("prog.hex", "prog.sym", c.bit));
        ASSERT_EQ(1u, lines().size()) << c.want;
        EXPECT_EQ(c.want, lines()[0]);
    }
    captured_lines.clear();
    EXPECT_TRUE(phase_debug_convert("prog.hex", "prog.sym", OUT_BIN));
    EXPECT_TRUE(captured_lines.empty());

    settings.cr_listing = xstrdup("x.lst");
    EXPECT_TRUE(phase_cross_reference());
    vector_t *modules = vec_new_default();
    vec_push(modules, const_cast<char *>("a"));
    vec_push(modules, const_cast<char *>("b"));
    EXPECT_TRUE(phase_library_order("libc.lib", modules));
    vec_free(modules);
    std::vector<std::string> want = {"tanager -ox.lst -hprog.crf run/tanager.tmp", "rook o libc.lib a b"};
    EXPECT_EQ(want, lines());
}

} // namespace
