// The ICOFF file: its layout checked byte by byte against fields computed
// by hand, a round trip through egret's own reader keeping symbols,
// sections, lines and program bytes, and damaged files refused by number.
#include "egret_fixture.h"

namespace {

class IcoffTest : public EgretTest {
protected:
    // One class, one segment of 8 words, one symbol, one line record.
    void write_tiny()
    {
        write("x.sym", "_a 4 0 CODE\n%segments\ncode 0 7 CODE 0\n%locals\nm.obj\nm.c\n3 2 0 CODE\n");
        ASSERT_EQ(shell("srec_cat -generate 0 0x10 -constant 0xAB -o x.hex -Intel").status, 0);
    }
};

std::string be32(uint32_t v) { return {(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v}; }
std::string be16(uint16_t v) { return {(char)(v >> 8), (char)v}; }

// Header, the code section's header, both symbols and the line entries at
// the offsets the layout gives: 20 + 2 x 40 = 100 for the raw data (16
// bytes), 116 for the line entries (6 each), 128 for the symbols (18 each),
// 164 for the string table (0, "_a", "x.sym").
TEST_F(IcoffTest, GoldenLayout)
{
    write_tiny();
    egret_result r = egret("-P16F877A,PIC14 -NCODE x.hex x.sym -oicoff x.cof");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string f = read("x.cof");
    ASSERT_EQ(f.size(), 174u);
    EXPECT_EQ(f.substr(0, 4), be16(0x181) + be16(2));
    EXPECT_EQ(f.substr(8, 12), be32(128) + be32(2) + be16(0) + be16(0x1003));
    EXPECT_EQ(f.substr(60, 40), std::string("code\0\0\0\0", 8) + be32(0) + be32(0) + be32(16) + be32(100) + be32(0) +
                                    be32(128) + be16(0) + be16(0) + be32(0x4040));
    EXPECT_EQ(f.substr(20 + 16, 4), be32(0)) << "the class section holds no bytes";
    EXPECT_EQ(f.substr(100, 16), std::string(16, (char)0xAB));
    // m.c has no symbols, so its file-change entry carries index 0.
    EXPECT_EQ(f.substr(116, 12), be32(0) + be16(0) + be32(2) + be16(3));
    EXPECT_EQ(f.substr(128, 36), be32(4) + be32(0) + be32(0) + be32(0) + "\x37" + std::string(1, '\0') + be32(1) +
                                     be32(4) + be32(0) + be32(1) + "\x01" + std::string(1, '\0'));
    EXPECT_EQ(f.substr(164), std::string("\0_a\0x.sym\0", 10));
}

// Written from a hand-made program and read back: the same HEX image,
// symbols and line records; the dump lists the sections and symbols.
TEST_F(IcoffTest, RoundTripAndDump)
{
    write("p.sym", "_main 10 0 CODE\n_g 40 0 BANK0\n%segments\ntext 0 7F CODE 0\nbank0 40 4F BANK0 40\n"
                   "%locals\nmain.obj\nmain.c\nloop 20 0 CODE\n10 10 0 CODE\n12 14 0 CODE\n15 3E 0 CODE\n");
    ASSERT_EQ(shell("srec_cat -generate 0 0x100 -repeat-data 0x12 0x34 -o p.hex -Intel").status, 0);
    const std::string chip = "-P16F877A,PIC14 -NCODE ";
    ASSERT_EQ(egret(chip + "p.hex p.sym -oicoff p.cof").status, 0);
    egret_result r = egret(chip + "p.cof -ovormak back.sym -oihex back.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp p.hex -Intel back.hex -Intel").status, 0);
    std::string back = read("back.sym");
    for (const char *text : {"_main 10 ", "_g 40 ", "loop 20 ", "main.c\n10 10 ", "12 14 ", "15 3E "})
        EXPECT_NE(back.find(text), std::string::npos) << text << "\n" << back;

    r = egret("-d -v p.cof");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char *text : {"Section 2: text: @0 size 100 lines 0 flags 4020", "Section 3: bank0: @40 size 10",
                             "file name \tmain.c", "non-global symbol \tloop = 20:CODE", "Section 0 line numbers:"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

// Cut or lying files end in numbered messages and write nothing.
TEST_F(IcoffTest, DamagedFiles)
{
    write_tiny();
    ASSERT_EQ(egret("-P16F877A,PIC14 -NCODE x.hex x.sym -oicoff x.cof").status, 0);
    std::string f = read("x.cof");
    auto with = [&](size_t at, const std::string &bytes) { return f.substr(0, at) + bytes + f.substr(at + bytes.size()); };
    struct {
        const char *what;
        std::string bytes;
        unsigned message;
    } cases[] = {
        {"cut in the header", f.substr(0, 19), 1614},
        {"cut in the symbols", f.substr(0, 140), 1614},
        {"section bytes past the end", with(60 + 20, be32(0x7FFFFFF0)), 1614},
        {"name offset past the strings", with(128, be32(0x1000)), 1614},
        {"line entries past the end", with(20 + 28, be32(0x7FFFFF00)), 1614},
        {"symbol section out of range", with(128 + 18 + 12, be32(9)), 1622},
    };
    for (const auto &c : cases) {
        write("bad.cof", c.bytes);
        egret_result r = egret("-P16F877A,PIC14 -NCODE -iicoff bad.cof -oihex out.hex");
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_LT(r.status, 128) << c.what;
        r = egret("-d -v -v -iicoff bad.cof");
        EXPECT_LT(r.status, 128) << c.what;
    }
}

} // namespace
