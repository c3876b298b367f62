// The symbol table of the linked program and the link placement: symbol
// files read into psect bounds and symbols, queries, iterators; the -p, -D
// and -A arguments of a mid-range and a baseline chip worked out by hand,
// the user's overrides, and functions at absolute addresses.
#include "link_support.h"

#include <algorithm>

namespace {

class SymbolTable : public ::testing::Test {
protected:
    void SetUp() override { messages_for_test(); }
    void TearDown() override { symt_free(); }
};

// Psect bounds in either order, the third number or the class, the
// sections the reader stops at, and which psect a symbol lies in.
TEST_F(SymbolTable, ReadsBoundsSymbolsAndStopsAtSections)
{
    load_symbols("__Htext 180 0 CODE\n__Ltext 100 0 CODE\n__Ldata 20\n__Hdata 30\n__Bdata 1\n"
                 "_main 180\n_x 24 abc\n_y 25 BANK0\n_z\t26  1F  BANK0\n_far 1000\n"
                 "%segments\n__Lignored 5\n__Hignored 9\n");
    EXPECT_EQ(0x100u, symt_psect_low("text"));
    EXPECT_EQ(0x80u, symt_psect_size("text"));
    EXPECT_STREQ("CODE", symt_psect_class("text"));
    EXPECT_EQ(0x10u, symt_psect_size("data"));
    EXPECT_EQ(1u, symt_psect_base("data"));
    EXPECT_FALSE(symt_psect_exists("ignored"));
    EXPECT_FALSE(symt_exists("__Lignored"));
    // A symbol at exactly low + size still lies in the psect.
    EXPECT_STREQ("text", symt_symbol_psect_name("_main"));
    EXPECT_EQ(0, symt_symbol_in_psect("_main", "text"));
    EXPECT_EQ(nullptr, symt_symbol_psect_name("_far"));
    EXPECT_EQ(0xABCu, symt_delta("_x"));
    EXPECT_EQ(nullptr, symt_class("_x"));
    EXPECT_STREQ("BANK0", symt_class("_y"));
    EXPECT_EQ(0x1Fu, symt_delta("_z"));
    EXPECT_STREQ("BANK0", symt_class("_z"));
    EXPECT_EQ(0u, symt_delta("__Ltext"));
    EXPECT_TRUE(symt_addr_in_psect(0x17F, "text"));
    EXPECT_FALSE(symt_addr_in_psect(0x180, "text"));
    // Unknown names read as 0.
    EXPECT_EQ(0u, symt_value("nothing"));
    EXPECT_EQ(0u, symt_psect_size(nullptr));
    EXPECT_TRUE(captured_lines.empty());
}

TEST_F(SymbolTable, RedefinitionKeepsTheFirstValue)
{
    load_symbols("_a 10\n_a 20\n");
    EXPECT_EQ(0x10u, symt_value("_a"));
    ASSERT_EQ(1u, captured_lines.size());
    EXPECT_EQ("Error (process_line): symbol (_a) redefined in file\n", captured_lines[0]);
}

TEST_F(SymbolTable, VectorsAndIterators)
{
    load_symbols("vector_4 4\nvector_1C 1C\n__Ltext 0\n__Htext 10\n_in 8\n_out 40\n");
    EXPECT_TRUE(symt_has_vector(0x1C));
    EXPECT_FALSE(symt_has_vector(0x1D));
    EXPECT_TRUE(symt_has_any_vector_in(0x10, 0x20));
    EXPECT_FALSE(symt_has_any_vector_in(0x5, 0x1B));
    EXPECT_FALSE(symt_has_any_vector_in(0x20, 0x10));
    ASSERT_EQ(1u, captured_lines.size());
    EXPECT_EQ("Error (symt_has_any_vector_in): lo (20) must be <= hi (10)\n", captured_lines[0]);

    std::vector<std::string> all;
    EXPECT_EQ(nullptr, symt_next_symbol(0));
    while (const char *n = symt_next_symbol(1))
        all.push_back(n);
    EXPECT_EQ(6u, all.size());
    EXPECT_EQ(2, symt_symbol_iterator_state());
    EXPECT_EQ(nullptr, symt_next_symbol(1));

    symt_only_psect("text");
    symt_next_symbol(0);
    std::vector<std::string> in_text;
    while (const char *n = symt_next_symbol(1))
        in_text.push_back(n);
    std::sort(in_text.begin(), in_text.end());
    EXPECT_EQ((std::vector<std::string>{"__Htext", "__Ltext", "_in", "vector_4"}), in_text);

    symt_next_psect(0);
    EXPECT_STREQ("text", symt_next_psect(1));
    EXPECT_EQ(nullptr, symt_next_psect(1));
    EXPECT_EQ(nullptr, symt_next_psect(7));
    EXPECT_EQ("Unknown iterator command (7)\n", captured_lines.back());
}

TEST_F(SymbolTable, UnreadableFileLeavesTheTableEmpty)
{
    symt_init();
    EXPECT_EQ(0, symt_read("no_such_file.sym"));
    EXPECT_FALSE(symt_exists("_main"));
    EXPECT_TRUE(captured_lines.empty());
}

class Placement : public ::testing::Test {
protected:
    void TearDown() override { link_fixture_end(); }

    static std::string prelink()
    {
        arglist *a = arglist_new(TOOL_HERON);
        placement_args(a);
        return joined_args(a);
    }
};

const std::string midrange_banks = "-prbss_0=BANK0,rbit_0=BANK0,rdata_0=BANK0,idata_0=CODE -pnvram=BANK0 "
                                   "-prbss_1=BANK1,rbit_1=BANK1,rdata_1=BANK1,idata_1=CODE -pnvram_1=BANK1,nvbit_1=BANK1 "
                                   "-prbss_2=BANK2,rbit_2=BANK2,rdata_2=BANK2,idata_2=CODE -pnvram_2=BANK2,nvbit_2=BANK2 "
                                   "-prbss_3=BANK3,rbit_3=BANK3,rdata_3=BANK3,idata_3=CODE -pnvram_3=BANK3,nvbit_3=BANK3";
const std::string midrange_rest = "-pidata=CODE -pfnautoc=COMMON -pfnauto0=BANK0 -pfnauto1=BANK1 -pfnauto2=BANK2 "
                                  "-pfnauto3=BANK3 -ACONFIG=02007h-02007h -pconfig=CONFIG -DCONFIG=2 "
                                  "-AIDLOC=02000h-02003h -pidloc=IDLOC -DIDLOC=2 -AEEDATA=00h-0FFh/02100h "
                                  "-peeprom_data=EEDATA -DEEDATA=2 -pfloat_text0=CODE,float_text1=CODE,"
                                  "float_text2=CODE -pfloat_text3=CODE,float_text4=CODE -DCODE=2";

TEST_F(Placement, MidrangeChip)
{
    link_fixture_chip("16F877A");
    EXPECT_EQ("-preset_vec=00h,intentry,intcode,intret,init,init23,end_init,clrtext,maintext,pstrings "
              "-pstrings=CODE -ppowerup=CODE -ptemp=-COMMON -pcommon=-COMMON " +
                  midrange_banks + " " + midrange_rest,
              prelink());
    // An interrupt routine puts its entry at the vector; the checksum and
    // serial number have their places first.
    load_symbols("__Lintentry 4\n__Hintentry 10\n");
    settings.checksum_given = true;
    settings.checksum.dest = 0x1FF0;
    settings.serial = xstrdup("1234");
    settings.serial_address = 0xA00;
    EXPECT_EQ("-pchecksum=01FF0h -pserial=0A00h -preset_vec=00h,intentry=04h,intcode,intret,init,init23,end_init,"
              "clrtext,maintext,pstrings -pstrings=CODE -ppowerup=CODE -ptemp=-COMMON -pcommon=-COMMON " +
                  midrange_banks + " " + midrange_rest,
              prelink());
}

// A code offset moves the vectors; an OSCCAL register reserves the last
// word of the last 256-word page; the user's -L-preset_vec=... replaces
// the driver's argument.
TEST_F(Placement, MidrangeOffsetCalibrationAndOverride)
{
    link_fixture_chip("16F877A");
    chip_selected->code_offset = 0x200;
    chip_selected->osccal = 0x90;
    opts.runtime |= RT_DOWNLOAD;
    vec_push(bs.linker_opts, xstrdup("-preset_vec=300h"));
    std::string args = prelink();
    EXPECT_EQ(std::string::npos, args.find("-preset_vec=0200h")) << args;
    EXPECT_NE(std::string::npos, args.find(" -posccal=01FFFh -pfloat_text0=")) << args;
    EXPECT_EQ(0x1FFEu, range_highest_free(range_find_class(memory_code_space, "CODE")));
    vec_clear(bs.linker_opts);
    args = prelink();
    EXPECT_EQ(0u, args.find("-preset_vec=0200h,intentry=0204h,intcode,")) << args;
}

TEST_F(Placement, BaselineChip)
{
    link_fixture_chip("12F508");
    EXPECT_EQ("-preset_wrap=0h -pinit=reset_wrap,init23,end_init,clrtext,jmp_tab,strings12 -ppowerup=CODE "
              "-pfnauto0=BANK0 -ptemp=BANK0 -prbit_0=BANK0,rbss_0=BANK0,rdata_0=BANK0,idata_0=CODE -pnvram=BANK0 "
              "-pidata12=ENTRY -preset_vec=01FFh -AIDLOC=0200h-0203h -ACONFIG=0FFFh-0FFFh -pconfig=CONFIG "
              "-DCONFIG=2 -pidloc=IDLOC -DIDLOC=2 -DENTRY=2 -pfloat_text0=ENTRY,float_text1=ENTRY,"
              "float_text2=ENTRY -pfloat_text3=ENTRY,float_text4=ENTRY -DCODE=2",
              prelink());
    // The reset vector's word is no longer free for code.
    EXPECT_EQ(0x1FEu, range_highest_free(range_find_class(memory_code_space, "CODE")));
}

// The prelink only arms the placement of absolute functions; the final
// link places each "<f>_absaddr" of the symbol table.
TEST_F(Placement, FunctionsAtAbsoluteAddresses)
{
    link_fixture_chip("16F877A");
    load_symbols("_isr_absaddr A00\n__L_isr_text A00\n__H_isr_text A10\n_plain 20\n");
    arglist *a = arglist_new(TOOL_HERON);
    absolute_function_args(a);
    EXPECT_EQ("", joined_args(a));
    a = arglist_new(TOOL_HERON);
    absolute_function_args(a);
    EXPECT_EQ("-p_isr_text=0A00h", joined_args(a));
    range_class *code = range_find_class(memory_code_space, "CODE");
    range_node *free_list = range_list_minus(code->available, code->used);
    bool a00_free = false, a10_free = false;
    for (range_node *n = free_list; n; n = n->next) {
        a00_free |= n->lo <= 0xA00 && 0xA00 <= n->hi;
        a10_free |= n->lo <= 0xA10 && 0xA10 <= n->hi;
    }
    range_list_free(free_list);
    EXPECT_FALSE(a00_free);
    EXPECT_TRUE(a10_free);
}

// A high-end chip of more than one 8K page: the reset vector and init on
// an 8K boundary, temp above the first two RAM bytes in the prelink only.
TEST_F(Placement, HighEndChip)
{
    tool_write("highend.ini", "[17C756]\nARCH=PIC16\nROMSIZE=4000\nBANKS=4\nRAMBANK=20-FF,120-1FF\nCOMMON=1A-1F\n");
    link_fixture_chip("17C756", "highend.ini");
    remove("highend.ini");
    const std::string tail = "-ppowerup=CODE -ptemp=022h -pfnautoc=COMMON -pfnauto0=BANK0 -pfnauto1=BANK1 -DCODE=2 "
                             "-DROMDATA=2 -pcstrings=ROMDATA -ACONFIG=0FE00h-0FE00h -pconfig=CONFIG -DCONFIG=2 "
                             "-pfloat_text0=CODE,float_text1=CODE,float_text2=CODE -pfloat_text3=CODE,float_text4=CODE";
    EXPECT_EQ("-preset_vec=00h,intcode,init%2000h,init23,end_init,clrtext,maintext " + tail, prelink());
    load_symbols("__Lintentry 10\n__Hintentry 20\n");
    arglist *a = arglist_new(TOOL_HERON);
    placement_args_final(a);
    std::string final_args = joined_args(a);
    EXPECT_EQ(0u, final_args.find("-preset_vec=00h,intcode=08h,init%2000h,init23,end_init,clrtext,maintext "
                                  "-ppowerup=CODE -pfnautoc=COMMON "))
        << final_args;
}

} // namespace
