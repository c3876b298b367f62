// The generic COFF file: its layout checked byte by byte against fields
// computed by hand, round trips through egret's own reader for a
// little-endian PIC machine and a big-endian one with 6-byte line entries,
// and damaged files refused by number.
#include "egret_fixture.h"

namespace {

class GenericCoffTest : public EgretTest {
protected:
    const std::string pic = "-P16F877A,PIC14 -NCODE ";

    // One class, one segment of 8 words, one symbol, one line record.
    void write_tiny()
    {
        write("x.sym", "_a 4 0 CODE\n%segments\ncode 0 7 CODE 0\n%locals\nm.obj\nm.c\n3 2 0 CODE\n");
        ASSERT_EQ(shell("srec_cat -generate 0 0x10 -constant 0xAB -o x.hex -Intel").status, 0);
    }
};

std::string le32(uint32_t v) { return {(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)}; }
std::string le16(uint16_t v) { return {(char)v, (char)(v >> 8)}; }
std::string name8(const std::string &n) { return n + std::string(8 - n.size(), '\0'); }

// PIC14 row: little-endian, 8-byte line entries, program words of 2 bytes.
// The model has 2 segments (the class and "code"), so the raw data starts
// at 20 + 2 x 40 + 1 x 40 = 140 (16 bytes), the line entries at 156 (2 of
// 8), the symbols at 172 (5 of 18: .file x.sym + aux, _a, .file m.c +
// aux) and the string table, only its size word, at 262.
TEST_F(GenericCoffTest, GoldenLayout)
{
    write_tiny();
    egret_result r = egret(pic + "x.hex x.sym -ocoff x.cof");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string f = read("x.cof");
    ASSERT_EQ(f.size(), 266u);
    EXPECT_EQ(f.substr(0, 4), std::string("\x34\x12", 2) + le16(1)) << "the magic is big-endian, the rest not";
    EXPECT_EQ(f.substr(8, 12), le32(172) + le32(5) + le16(0) + le16(0x103));
    EXPECT_EQ(f.substr(20, 40), name8("_text0") + le32(0) + le32(0) + le32(16) + le32(140) + le32(0) + le32(156) +
                                    le16(0) + le16(2) + le32(0x20));
    EXPECT_EQ(f.substr(60, 80), std::string(80, '\0'));
    EXPECT_EQ(f.substr(140, 16), std::string(16, (char)0xAB));
    // m.c has no symbols: its lines name its own .file entry (index 3).
    EXPECT_EQ(f.substr(156, 16), le32(3) + le32(0) + le32(2) + le32(3));
    std::string file_entry = name8(".file") + le32(0) + le16(0xFFFE) + le16(0) + "\x67\x01";
    EXPECT_EQ(f.substr(172, 36), file_entry + name8("x.sym") + std::string(10, '\0'));
    EXPECT_EQ(f.substr(208, 18), name8("_a") + le32(4) + le16(1) + le16(0) + std::string("\x02\x00", 2));
    EXPECT_EQ(f.substr(226, 36), file_entry + name8("m.c") + std::string(10, '\0'));
    EXPECT_EQ(f.substr(262), le32(4));
}

// Written from a hand-made program and read back: the same HEX image,
// symbols (long names through the string table), sections and line
// records of two files; the dump lists them.
TEST_F(GenericCoffTest, RoundTripAndDump)
{
    write("p.sym", "_main 10 0 CODE\n_a_rather_long_name 41 0 BANK0\n%segments\ntext 0 7F CODE 0\n"
                   "bank0 40 4F BANK0 40\n%locals\nmain.obj\nmain.c\nloop 20 0 CODE\n10 10 0 CODE\n12 14 0 CODE\n"
                   "15 3E 0 CODE\nutility_functions.c\n7 60 0 CODE\n9 62 0 CODE\n");
    ASSERT_EQ(shell("srec_cat -generate 0 0x100 -repeat-data 0x12 0x34 -o p.hex -Intel").status, 0);
    ASSERT_EQ(egret(pic + "p.hex p.sym -ocoff p.cof").status, 0);
    egret_result r = egret(pic + "p.cof -ovormak back.sym -oihex back.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
    EXPECT_EQ(shell("srec_cmp p.hex -Intel back.hex -Intel").status, 0);
    std::string back = read("back.sym");
    for (const char *text : {"_main 10 ", "_a_rather_long_name 41 ", "loop 20 ", "bank0\n"})
        EXPECT_NE(back.find(text), std::string::npos) << text << "\n" << back;
    std::set<std::pair<unsigned, unsigned long>> main_lines = {{10, 0x10}, {12, 0x14}, {15, 0x3E}};
    std::set<std::pair<unsigned, unsigned long>> util_lines = {{7, 0x60}, {9, 0x62}};
    EXPECT_EQ(sym_lines(back, "main.c"), main_lines) << back;
    EXPECT_EQ(sym_lines(back, "utility_functions.c"), util_lines) << back;

    r = egret("-d -v p.cof");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char *text : {"Magic:\t\t0x1234 (PIC12)", "Section 2: bank0: @40 size 0x10 lines 0 flags 0x80 bss",
                             "Section 3: _text0: @0 size 0x100 lines 8", "file name 1 0[1]\tutility_functions.c .file",
                             "_a_rather_long_name = 41: bank0 null", "Symbol: loop (", "00015:\t3E"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

// A big-endian machine with 6-byte line entries and byte addresses,
// chosen by name; the file read back keeps symbols and lines.
TEST_F(GenericCoffTest, BigEndianMachine)
{
    write("m.sym", "_start 100 0 CODE\n%segments\ncode 100 1FF CODE 100\n%locals\nm.obj\nm.c\n4 100 0 CODE\n"
                   "5 104 0 CODE\n");
    ASSERT_EQ(shell("srec_cat -generate 0x100 0x110 -constant 0x4E -o m.hex -Intel").status, 0);
    ASSERT_EQ(egret("-P68k -NCODE m.hex m.sym -ocoff m.cof").status, 0);
    std::string f = read("m.cof");
    ASSERT_GE(f.size(), 20u);
    EXPECT_EQ(f.substr(0, 4), std::string("\x01\x50\x00\x01", 4));
    egret_result r = egret("-NCODE m.cof -ovormak back.sym -oihex back.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp m.hex -Intel back.hex -Intel").status, 0);
    std::string back = read("back.sym");
    EXPECT_NE(back.find("_start 100 "), std::string::npos) << back;
    std::set<std::pair<unsigned, unsigned long>> lines = {{4, 0x100}, {5, 0x104}};
    EXPECT_EQ(sym_lines(back, "m.c"), lines) << back;
    r = egret("-d -v m.cof");
    EXPECT_NE(r.out.find("Magic:\t\t0x150 (Motorola 68K)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("00005:\t104"), std::string::npos) << r.out;
}

// The writer's refusals: no classes, no machine, a machine of no row.
TEST_F(GenericCoffTest, WriterRefusals)
{
    write_tiny();
    struct {
        const char *args;
        unsigned message;
    } cases[] = {
        {"-P16F877A,PIC14 x.hex x.sym -ocoff x.cof", 1661},
        {"-NCODE x.hex x.sym -ocoff x.cof", 1662},
        {"-P16F877A,PIC15 -NCODE x.hex x.sym -ocoff x.cof", 1663},
    };
    for (const auto &c : cases) {
        egret_result r = egret(c.args);
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_FALSE(exists("x.cof")) << c.args;
    }
}

// Cut or lying files end in numbered messages, never a crash; every cut
// and every single-byte change of the golden file is survived.
TEST_F(GenericCoffTest, DamagedFiles)
{
    write_tiny();
    ASSERT_EQ(egret(pic + "x.hex x.sym -ocoff x.cof").status, 0);
    std::string f = read("x.cof");
    auto with = [&](size_t at, const std::string &bytes) { return f.substr(0, at) + bytes + f.substr(at + bytes.size()); };
    struct {
        const char *what;
        std::string bytes;
        unsigned message;
    } cases[] = {
        {"cut in the header", f.substr(0, 19), 1614},
        {"cut in the symbols", f.substr(0, 200), 1614},
        {"no string table size", f.substr(0, 262), 1614},
        {"string table size below 4", with(262, le32(2)), 1615},
        {"string table past the end", with(262, le32(40)), 1614},
        {"section bytes past the end", with(20 + 20, le32(0x7FFFFFF0)), 1614},
        {"line entries past the end", with(20 + 28, le32(0x7FFFFF00)), 1614},
        {"symbol section out of range", with(208 + 12, le16(9)), 1622},
        {"name offset past the strings", with(208, le32(0) + le32(0x1000)), 1614},
        {"auxiliary entries past the table", with(226 + 17, "\x05"), 1621},
        {"file entry without its name", with(226 + 17, std::string(1, '\0')), 1667},
        {"line names a symbol past the table", with(156, le32(77)), 1668},
        {"unknown storage class", with(208 + 16, "\x6B"), 1618},
    };
    for (const auto &c : cases) {
        write("bad.cof", c.bytes);
        egret_result r = egret(pic + "-icoff bad.cof -oihex out.hex");
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_LT(r.status, 128) << c.what;
        r = egret("-d -v -v -icoff bad.cof");
        EXPECT_LT(r.status, 128) << c.what;
    }
    write("bad.cof", "\x12\x34" + f.substr(2));
    egret_result r = egret(pic + "-icoff bad.cof -oihex out.hex");
    EXPECT_NE(r.out.find(msg_tag(1666)), std::string::npos) << r.out;

    // Cuts and flipped bytes, sampled (the egret fuzz targets try damage
    // at random): a numbered message or a clean read, never a signal.
    for (size_t n = 0; n < f.size(); n += 29) {
        write("cut.cof", f.substr(0, n));
        EXPECT_LT(egret(pic + "-icoff cut.cof -oihex out.hex").status, 128) << "cut at " << n;
    }
    for (size_t i = 0; i < f.size(); i += 7) {
        std::string flipped = f;
        flipped[i] = (char)(flipped[i] ^ 0xFF);
        write("flip.cof", flipped);
        EXPECT_LT(egret(pic + "-icoff flip.cof -oihex out.hex").status, 128) << "byte " << i << " flipped";
    }
}

// The driver's --output=cof on a C program, read back by egret: the same
// HEX image and the linker's line records of the source.
TEST_F(GenericCoffTest, DriverOutputReadBack)
{
    write("prog.c", "unsigned char counter;\nint add(int a, int b)\n{\n    return a + b;\n}\n\n"
                    "void main(void)\n{\n    unsigned char i;\n    for (i = 0; i < 2; i++)\n"
                    "        counter += add(i, 5);\n    while (1)\n        ;\n}\n");
    egret_result r = shell(std::string(ZEPH_BUILD_DIR) + "/bin/zeph --chip=16F877A --output=cof prog.c");
    ASSERT_EQ(r.status, 0) << r.out;
    r = egret(pic + "prog.cof -ovormak back.sym -oihex back.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp prog.hex -Intel back.hex -Intel").status, 0);
    std::set<std::pair<unsigned, unsigned long>> lines = sym_lines(read("prog.sym"), "prog.c");
    EXPECT_GT(lines.size(), 4u);
    EXPECT_EQ(sym_lines(read("back.sym"), "prog.c"), lines) << read("back.sym");
}

} // namespace
