// The linker in the tool chain: two modules written by the assembler, linked
// by heron and turned into HEX by finch, give the same memory image as an
// independent assembler's absolute build of the same program (compared with
// srec_cmp). Skipped when gpasm or srec_cmp is not installed.
#include "objbuild.h"

using namespace fx;

namespace {

bool tool_installed(const char *name)
{
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return system(cmd.c_str()) == 0;
}

int run_in(const workdir &w, const std::string &cmd)
{
    std::string full = "cd '" + w.path + "' && " + cmd + " >>log.txt 2>&1";
    int rc = system(full.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : 128;
}

TEST(HeronChain, AssembledModulesMatchAnAbsoluteBuild)
{
    if (!tool_installed("gpasm") || !tool_installed("srec_cmp"))
        GTEST_SKIP() << "gpasm or srec_cmp not installed";
    workdir w;
    write_text(w.at("a.as"),
               "\tprocessor\t16F877A\n\tpsect\treset_vec,class=CODE,delta=2\n\tglobal\tstart\n"
               "reset_vec:\n\tgoto\tstart\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\tsub\n"
               "start:\n\tcall\tsub\n\tmovwf\t0x20\n\tgoto\tstart\n\tend\treset_vec\n");
    write_text(w.at("b.as"),
               "\tprocessor\t16F877A\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\tsub\n"
               "sub:\n\tmovlw\t0x42\n\treturn\n");
    write_text(w.at("ref.asm"),
               "\tlist\tp=16f877a\n\torg\t0\n\tgoto\tstart\nstart:\n\tcall\tsub\n\tmovwf\t0x20\n"
               "\tgoto\tstart\nsub:\n\tmovlw\t0x42\n\treturn\n\tend\n");
    std::string bin = std::string(ZEPH_BUILD_DIR) + "/bin/";
    ASSERT_EQ(run_in(w, bin + "osprey -oa.obj a.as"), 0) << read_text(w.at("log.txt"));
    ASSERT_EQ(run_in(w, bin + "osprey -ob.obj b.as"), 0) << read_text(w.at("log.txt"));
    ASSERT_EQ(run_in(w, bin + "heron -ACODE=0-7FFhx4 -DCODE=2 -preset_vec=0h,maintext -ol.out a.obj b.obj"), 0)
        << read_text(w.at("log.txt"));
    ASSERT_EQ(run_in(w, bin + "finch -I l.out l.hex"), 0) << read_text(w.at("log.txt"));
    ASSERT_EQ(run_in(w, "gpasm -o ref.hex ref.asm"), 0) << read_text(w.at("log.txt"));
    EXPECT_EQ(run_in(w, "srec_cmp l.hex -intel ref.hex -intel"), 0) << read_text(w.at("log.txt"));
}

// A psect placed by its class's ranges is laid out module by module; its
// __L and __H symbols give the lowest start and the highest end of the
// pieces, in the psect's own units (they were 0 for every such psect, and
// code loading their low bytes read zeros).
TEST(HeronChain, BoundsOfAPsectPlacedModuleByModule)
{
    workdir w;
    write_text(w.at("a.as"),
               "\tprocessor\t16F877A\n\tpsect\ttab,class=CODE,delta=2\n\tretlw\t1\n\tretlw\t2\n"
               "\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\t__Ltab,__Htab\n"
               "\tmovlw\tlow(__Ltab)\n\tmovlw\tlow(__Htab)\n\tgoto\t$\n");
    write_text(w.at("b.as"), "\tprocessor\t16F877A\n\tpsect\ttab,class=CODE,delta=2\n\tretlw\t3\n");
    std::string bin = std::string(ZEPH_BUILD_DIR) + "/bin/";
    ASSERT_EQ(run_in(w, bin + "osprey -oa.obj a.as"), 0) << read_text(w.at("log.txt"));
    ASSERT_EQ(run_in(w, bin + "osprey -ob.obj b.as"), 0) << read_text(w.at("log.txt"));
    ASSERT_EQ(run_in(w, bin + "heron -ACODE=0-7FFh -DCODE=2 -pmaintext=0 -hl.sym -ol.out a.obj b.obj"), 0)
        << read_text(w.at("log.txt"));
    ASSERT_EQ(run_in(w, bin + "finch -I l.out l.hex"), 0) << read_text(w.at("log.txt"));
    // maintext takes words 0-2; the three words of tab follow it
    std::string sym = read_text(w.at("l.sym"));
    EXPECT_NE(sym.find("__Ltab 3 "), std::string::npos) << sym;
    EXPECT_NE(sym.find("__Htab 6 "), std::string::npos) << sym;
    // movlw 3, movlw 6 (little-endian words in the HEX data)
    std::string hex = read_text(w.at("l.hex"));
    EXPECT_NE(hex.find("03300630"), std::string::npos) << hex;
}

} // namespace
