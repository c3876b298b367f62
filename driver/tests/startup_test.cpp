// The generated start-up file: golden bodies for a mid-range and a
// baseline chip, in the prelink (nothing known) and the final link (sizes
// from a symbol file), the choices between the short and long forms of
// data initialisation and clearing, and assembly of every body by osprey.
#include "link_support.h"

#include <cstdlib>
#include <cstring>

namespace {

std::string body(bool prelink)
{
    FILE *f = tmpfile();
    write_startup_body(f, prelink);
    rewind(f);
    std::string text;
    for (int ch; (ch = fgetc(f)) != EOF;)
        text += static_cast<char>(ch);
    fclose(f);
    return text;
}

// Assembles `text` with the built assembler for the fixture's chip; the
// assembler's output when it fails, "" when it succeeds.
std::string assemble(const std::string &text, const std::string &name, bool keep_object = false)
{
    tool_write(name + ".as", text);
    std::string cmd = std::string(ZEPH_BUILD_DIR) + "/bin/osprey --chip=" + chip_selected->name +
                      " -C" ZEPH_BUILD_DIR "/dat/zeph.ini -o" + name + ".obj " + name + ".as > " + name +
                      ".out 2>&1";
    int status = std::system(cmd.c_str());
    std::string out = tool_read(name + ".out");
    for (const char *ext : {".as", ".obj", ".out"})
        if (!keep_object || strcmp(ext, ".obj") != 0)
            remove((name + ext).c_str());
    return status == 0 ? "" : out.empty() ? "failed without a message" : out;
}

std::string golden(const char *name) { return tool_read(std::string(ZEPH_SOURCE_DIR) + "/driver/tests/golden/" + name); }

// One link stage with the built linker: the class ranges and placement
// the driver makes, the start-up object and a one-instruction main. The
// linker's output when it fails, "" when it succeeds.
std::string link_stage(bool prelink)
{
    arglist *a = arglist_new(TOOL_HERON);
    class_range_args(memory_code_space, a);
    class_range_args(memory_data_space, a);
    (prelink ? placement_args : placement_args_final)(a);
    std::string cmd = std::string(ZEPH_BUILD_DIR) + "/bin/heron -cs -h+e2e.sym -z -Q" + chip_selected->name +
                      " -oe2e.obj -Me2e.map";
    for (const std::string &arg : {joined_args(a)})
        cmd += " " + arg;
    cmd += " e2e_startup.obj e2e_main.obj > e2e.out 2>&1";
    int status = std::system(cmd.c_str());
    std::string out = tool_read("e2e.out");
    remove("e2e.out");
    return status == 0 ? "" : out.empty() ? "failed without a message" : out;
}

class Startup : public ::testing::Test {
protected:
    void TearDown() override { link_fixture_end(); }
};

// Prelink: nothing is known, so nothing is initialised or cleared.
TEST_F(Startup, PrelinkBodiesMatchGoldenAndAssemble)
{
    for (const char *chip : {"16F877A", "12F508"}) {
        link_fixture_chip(chip);
        std::string text = body(true);
        EXPECT_EQ(golden((std::string(chip) + "_prelink.as").c_str()), text) << chip;
        EXPECT_EQ("", assemble(text, std::string("prelink") + chip)) << chip;
    }
}

// Mid-range final link: six bytes of data by fetch-and-store pairs, bank 0
// by clrf (4 bytes), banks 1-3 through the clear routine (written once),
// the common area by clrf, and a jump over the interrupt entry.
TEST_F(Startup, MidrangeFinalBodyMatchesGoldenAndAssembles)
{
    link_fixture_chip("16F877A");
    load_symbols("__Lidata 100\n__Hidata 106\n__Lrbss_0 24\n__Hrbss_0 28\n__Lrbss_1 A0\n__Hrbss_1 C0\n"
                 "__Lrbss_2 110\n__Hrbss_2 11A\n__Lrbss_3 190\n__Hrbss_3 1A0\n__Lcommon 70\n__Hcommon 72\n"
                 "__Lintentry 4\n__Hintentry 10\n%segments\n__Lrbss_0 0 0\n");
    std::string text = body(false);
    EXPECT_EQ(golden("16F877A_final.as"), text);
    EXPECT_EQ("", assemble(text, "final877"));
}

// Baseline final link: twelve bytes of data by the copy loop (btemp in the
// carved common area), bank 0 of 3 bytes and 10 bits by clrf, a debugger's
// nop and a given calibration value.
TEST_F(Startup, BaselineFinalBodyMatchesGoldenAndAssembles)
{
    link_fixture_chip("12F508");
    opts.debugger = DBG_ICD2;
    opts.runtime |= RT_OSCVAL;
    osc_calibration = 0x34;
    load_symbols("__Lidata12 1F0\n__Hidata12 1FC\n__Lramdata 10\n__Lrbss_0 7\n__Hrbss_0 A\n__Lrbit_0 50\n"
                 "__Hrbit_0 5A\n");
    std::string text = body(false);
    EXPECT_EQ(golden("12F508_final.as"), text);
    EXPECT_EQ("", assemble(text, "final508"));
}

// Both link stages with the real assembler and linker: the prelink's
// symbol file sizes the final start-up file, and the final link succeeds.
TEST_F(Startup, TwoLinkStagesWithTheLinker)
{
    // Only the mid-range chip: the baseline start-up file declares
    // strings12 with reloc=512, and the linker refuses it at the end of the
    // init chain unless it falls on that boundary (message 455).
    for (const char *chip : {"16F877A"}) {
        link_fixture_chip(chip);
        // As the code generator writes it: the frame psect, then main.
        ASSERT_EQ("", assemble(std::string("\tprocessor\t") + chip +
                                   "\n\tPSECT\tfnauto0,class=BANK0,space=1\n\tFNCONF\tfnauto0,??,?\n"
                                   "\tglobal\t_main\n\tpsect\tmaintext,class=CODE,delta=2\n_main:\n\tgoto\t_main\n",
                               "e2e_main", true))
            << chip;
        ASSERT_EQ("", assemble(body(true), "e2e_startup", true)) << chip;
        EXPECT_EQ("", link_stage(true)) << chip;
        symt_free();
        symt_init();
        ASSERT_EQ(1, symt_read("e2e.sym")) << chip;
        EXPECT_EQ(1u, symt_psect_size("maintext")) << chip;
        EXPECT_EQ(symt_psect_low("maintext"), symt_value("_main")) << chip;
        ASSERT_EQ("", assemble(body(false), "e2e_startup", true)) << chip;
        EXPECT_EQ("", link_stage(false)) << chip;
        EXPECT_TRUE(symt_exists("start")) << chip;
        for (const char *f : {"e2e_main.obj", "e2e_startup.obj", "e2e.obj", "e2e.sym", "e2e.map"})
            remove(f);
    }
}

// Smaller choices, each shown by the lines it must (or must not) write.
TEST_F(Startup, ChoicesOfTheBody)
{
    struct Case {
        const char *chip;
        uint32_t runtime_on, runtime_off; // --runtime bits changed
        const char *symbols;              // symbol file
        const char *present;              // lines expected, "|"-separated
        const char *absent;               // a text that must not appear, or ""
    } cases[] = {
        // Download mode jumps to start even without an interrupt routine.
        {"16F877A", RT_DOWNLOAD, 0, "", "\tglobal start\n\n; jump to start\n|\t; No interrupt routine\n", ""},
        // Eleven bytes of data take the copy loop; btemp known: no equate.
        {"16F877A", 0, 0, "__Lidata 100\n__Hidata 10B\nbtemp 7E\n__Lramdata 120\n",
         "bsf STATUS,7\nFSR\tset\t4\nINDF\tset\t0\nPC\tset\t2\n|fetch:\nmovf\tbtemp,w\nmovwf\tPCLATH\n|movlw\thigh(__Lidata)\n|done_copy:\n", "btemp\tequ"},
        // Banks 2 and 3 cleared by clrf: bit 6 once, then only bit 5.
        {"16F877A", 0, 0, "__Lrbss_2 110\n__Hrbss_2 112\n__Lrbss_3 190\n__Hrbss_3 192\n",
         "\tbsf\tSTATUS,6\t\t;select bank 2\n\tglobal\t__Lrbss_2\n|\tclrf\t(__Lrbss_2+1)^0x100\t\t;clear byte at RAM "
         "address 0x111\n|\tbsf\tSTATUS,5\t\t;select bank 3\n\tglobal\t__Lrbss_3\n|\tpsect\tend_init\n\tclrf\tSTATUS\n",
         "bcf"},
        // A power-up routine is jumped to; the interrupt routine follows.
        {"16F877A", 0, 0, "__Lpowerup 10\n__Hpowerup 12\n",
         "\tglobal powerup\n|\tmovlw\tpowerup>>8\n\tmovwf\tPCLATH\n\tgoto\tpowerup & 0x7FF | (reset_vec & not 0x7FF)\n\n"
         "\t; No interrupt routine\n",
         "No powerup"},
        // Options that switch parts off.
        {"16F877A", 0, RT_INIT | RT_CLEAR, "__Lidata 100\n__Hidata 102\n",
         "\t; Driver option --runtime=-init: Skipping data initialization\n\n|\t; Driver option --runtime=-clear: "
         "Skipping RAM clearing\n\n",
         "fcall"},
        // A single byte is "byte", not "bytes"; a known data bank selects it.
        {"16F877A", 0, 0, "__Lidata 100\n__Hidata 101\n__databank 1\n__Lrbss_0 20\n__Hrbss_0 21\n",
         "\tbsf\tSTATUS,5\t\t;select bank 1\n\tfcall __Lidata+0\n\tmovwf (__Lramdata+0) ^ 0x80\n|;\t1 byte of RAM "
         "objects in bank 0 to zero\n|\tbcf\tSTATUS,5\t\t;select bank 0\n",
         ""},
        // The reset bits are saved at the address the memory model chose.
        {"16F877A", RT_RESETBITS, 0, "", "\tglobal\t___resetbits\n|\tmovf STATUS,w\n\tmovwf ___resetbits\n", ""},
        // A baseline chip of two pages has no PCLATH to load before the jump.
        {"12F509", RT_DOWNLOAD, 0, "", "\tgoto\tstart & 0x1FF | (reset_wrap & not 0x1FF)\n\n", "PCLATH"},
        // The baseline clear routine masks the low address bits.
        {"12F509", 0, 0, "__Lrbss_0 10\n__Hrbss_0 1F\n__Lrbss_1 30\n__Hrbss_1 3F\n",
         "\tpsect\tclrtext,class=ENTRY,delta=2\n|\tandlw\t1Fh\t\t;Test low bits only\n", ""},
    };
    for (const Case &c : cases) {
        link_fixture_chip(c.chip);
        opts.runtime = (opts.runtime | c.runtime_on) & ~c.runtime_off;
        if (c.runtime_on & RT_RESETBITS)
            memory_model_finish(chip_selected, opts.debugger, opts.runtime);
        load_symbols(c.symbols);
        std::string text = body(false);
        std::string present = c.present;
        for (size_t at = 0, end; at <= present.size(); at = end + 1) {
            end = present.find('|', at);
            if (end == std::string::npos)
                end = present.size();
            std::string want = present.substr(at, end - at);
            EXPECT_NE(std::string::npos, text.find(want)) << c.symbols << "\nwants: " << want << "\n" << text;
        }
        if (*c.absent) {
            EXPECT_EQ(std::string::npos, text.find(c.absent)) << c.symbols << "\n" << text;
        }
        EXPECT_EQ("", assemble(text, "choice")) << c.symbols;
    }
}

// A mid-range OSCCAL register at 0x100 lies in bank 2: bit 6 only, and
// STATUS is cleared again before main.
TEST_F(Startup, MidrangeCalibrationSelectsItsBank)
{
    link_fixture_chip("16F877A");
    chip_selected->osccal = 0x100;
    opts.runtime |= RT_OSCCAL;
    std::string text = body(false);
    EXPECT_NE(std::string::npos, text.find("\tOSCCAL\tequ\t0x100\n\tpsect\tosccal,class=CODE,delta=2\n")) << text;
    EXPECT_NE(std::string::npos,
              text.find("\tpsect\tend_init\n\tbsf\t3,6\n\tfcall\t___osccal_val\nmovwf\t0x100 ^ 0x100\n\tclrf\tSTATUS\n"))
        << text;
    EXPECT_EQ(std::string::npos, text.find("bsf\t3,5")) << text;
}

// High-end chips select banks with movlr and jump through PCL.
TEST_F(Startup, HighEndBankSelectionAndJump)
{
    tool_write("highend.ini", "[17C756]\nARCH=PIC16\nROMSIZE=4000\nBANKS=4\nRAMBANK=20-FF,120-1FF\nCOMMON=1A-1F\n");
    link_fixture_chip("17C756", "highend.ini");
    remove("highend.ini");
    opts.runtime |= RT_DOWNLOAD;
    load_symbols("__Lidata 100\n__Hidata 101\n__databank 2\n");
    std::string text = body(false);
    for (const char *want :
         {"\tSTATUS\tequ\t4\n\tPCLATH\tequ\t3\nTBLPTRL\tequ\t0Dh\n", "\tglobal\tintlevel0,intlevel1\nintlevel0\nintlevel1\n",
          "\t; No powerup routine\n\tglobal start\n\n; jump to start\n\tmovlw\tstart >>8\n\tmovwf\tPCLATH\n"
          "\tmovlw\tstart & 0xFF\n\tmovwf\tPCL\n\t; No interrupt routine\n",
          "\tmovlr\t2\t\t;select bank 2\n\tfcall __Lidata+0\n\tmovwf (__Lramdata+0) ^ 0x200\n",
          "\tpsect\tend_init\n\tsetf\tSTATUS\n\tmovlr\t0\n\tljmp _main\n\tend\tstart\n"})
        EXPECT_NE(std::string::npos, text.find(want)) << want << "\n" << text;
}

} // namespace
