// egret, run as a program. Images are made and judged by srecord (srec_cat,
// srec_cmp); linked programs come from the toolchain's own chain; listings
// and refusals are compared with texts worked out by hand from the formats.
#include "egret_fixture.h"

#include <sstream>

namespace {

const std::string zeph = std::string(ZEPH_BUILD_DIR) + "/bin/zeph";

// The count-asm example: code in one psect, a RAM variable, a config word.
const char *const count_asm = "\tFNCONF\tfnauto0,??,?\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\t_main\n_main:\n"
                              "\tclrf\t_n\nloop:\n\tincf\t_n,f\n\tmovf\t_n,w\n\tmovwf\t0x06\n\tgoto\tloop\n"
                              "\tpsect\trbss_0,class=BANK0,space=1\n_n:\tds\t1\n"
                              "\tpsect\tconfig,class=CONFIG,delta=2\n\tdw\t0x3F3A\n";

// The driver's arguments for a debug file of the 16F877A.
const std::string pic_args = "-m -P16F877A,877A,PIC14 -NCODE,CONST,ENTRY,STRING";

// ---------------------------------------------------------------------------
// HEX and S-records
// ---------------------------------------------------------------------------

// A linked program through both writers: srecord finds each equal to the
// HEX file the chain wrote.
TEST_F(EgretTest, LinkedProgramThroughBothWriters)
{
    write("main.as", count_asm);
    egret_result r = shell(zeph + " --chip=16F877A --output=-mcof main.as");
    ASSERT_EQ(r.status, 0) << r.out;
    r = egret(pic_args + " main.hex main.sym -oihex a.hex -os19 a.s19");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp main.hex -Intel a.hex -Intel").status, 0);
    EXPECT_EQ(shell("srec_cmp main.hex -Intel a.s19 -Motorola").status, 0);
}

// An image around and above 64 KiB and 16 MiB, made by srecord: it comes
// through both writers intact, read back from either, and no record
// crosses a 64 KiB boundary (S1 below 0x10000, S2 below 0x1000000).
TEST_F(EgretTest, ImageAbove64KiBComesThroughIntact)
{
    ASSERT_EQ(shell("srec_cat -generate 0xFFF0 0x10011 -repeat-data 1 2 3 -generate 0x12345 0x1236D -constant 0xA5 "
                    "-generate 0xFFFFF8 0x1000008 -repeat-string hello -o in.hex -Intel -Output_Block_Size=32")
                  .status,
              0);
    egret_result r = egret("in.hex -oihex out.hex -os19 out.s19");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp in.hex -Intel out.hex -Intel").status, 0) << read("out.hex");
    EXPECT_EQ(shell("srec_cmp in.hex -Intel out.s19 -Motorola").status, 0) << read("out.s19");

    std::istringstream lines(read("out.s19"));
    std::string line;
    while (std::getline(lines, line)) {
        unsigned width = line[1] - '0' + 1;
        unsigned count = std::stoul(line.substr(2, 2), nullptr, 16);
        unsigned long address = std::stoul(line.substr(4, 2 * width), nullptr, 16);
        unsigned long last = address + count - width - 2;
        EXPECT_EQ(address >> 16, last >> 16) << line;
        EXPECT_EQ(width, address > 0xFFFFFF ? 4u : address < 0x10000 ? 2u : 3u) << line;
    }

    // Back through the S-record reader, header and start record included.
    ASSERT_EQ(shell("srec_cat in.hex -Intel -o in.s28 -Motorola -execution-start-address=0x1234").status, 0);
    r = egret("in.s28 -oihex back.hex");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(shell("srec_cmp in.hex -Intel back.hex -Intel").status, 0);
}

// Malformed records after a good first one: each is reported by number,
// the run fails and writes nothing. Record bytes: count, address, type,
// data, checksum.
TEST_F(EgretTest, MalformedImagesAreRefused)
{
    struct Case {
        const char *text;
        unsigned message;
    } cases[] = {
        {":0100000012ED\n:0100010034CB\n:00000001FF\n", 636},    // second sum is 0x01
        {":0100000012ED\n:10000000000102\n:00000001FF\n", 635},                  // 16 data bytes claimed, 0 there
        {":0100000012ED\n:01000100G4CA\n", 635},                  // not a hex digit
        {":0100000012ED\n:FF00000000\n", 635},                                   // huge count on a short line
        {":0100000012ED\n0100000012ED\n", 635},                   // no ':'
        {":02000004FFFFFC\n:10FFF800000102030405060708090A0B0C0D0E0F81\n", 635},  // past 4 GiB
        {"S10500001234B4\nS105000234566F\n", 1604},               // checksum of the second
        {"S10500001234B4\nS10500023456\n", 1603},                 // cut short
        {"S10500001234B4\nS100\n", 1603},                         // count too small
        {"S10500001234B4\nS40500001234B4\n", 1603},               // no such record type
        {"S10500001234B4\nX\n", 1603},                            // not a record
    };
    for (const Case &c : cases) {
        write("bad.txt", c.text);
        egret_result r = egret("bad.txt -oihex out.hex");
        EXPECT_NE(r.status, 0) << c.text;
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.text << r.out;
        EXPECT_NE(r.out.find(msg_tag(1605)), std::string::npos) << c.text << r.out;
        EXPECT_FALSE(exists("out.hex")) << c.text;
    }
}

// A start record of four bytes (CS:IP) and an end record without data are
// read as the format has them; what follows the end record is not read.
TEST_F(EgretTest, EndRecordWithoutDataIsRead)
{
    write("a.hex", ":0400000300120034B3\n:0100000012ED\n:00000001FF\n:0100010034CA\n");
    egret_result r = egret("a.hex -os19 a.s19");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read("a.s19"), "S104000012E9\n");   // the record after the end is not read
}

// ---------------------------------------------------------------------------
// The command line
// ---------------------------------------------------------------------------

// Format keys may be abbreviated while they stay unambiguous; the keys of
// formats whose modules are still to come are known and refused by number
// before anything is read or written.
TEST_F(EgretTest, FormatKeysAndUnbuiltFormats)
{
    write("p.hex", ":0100000012ED\n:00000001FF\n");
    struct Case {
        const char *args;
        unsigned message;
        const char *text;   // part of the message
    } cases[] = {
        {"p.hex -oco", 603, "\"co\""},
        {"p.hex -ox", 604, "\"x\""},
        {"p.hex -oCOD", 604, "\"COD\""},
        {"p.hex -o", 602, ""},
        {"p.hex -o -v", 602, ""},
        {"p.hex -otsk", 1601, "Holtek TSK files"},
        {"p.hex -ohtk", 1601, "Holtek DBG files"},
        {"p.hex -oihex a.hex -oubrof", 1601, "UBROF files"},
        {"-iubrof p.hex -oihex a.hex", 1600, "UBROF files"},
        {"p.hex", 613, ""},
        {"-ov", 614, ""},
        {"-p p.hex -ov", 609, ""},
        {"-n p.hex -ov", 610, ""},
        {"--pathspec=abc p.hex -ov", 608, ""},
        {"-wx p.hex -ov", 393, ""},
    };
    for (const Case &c : cases) {
        egret_result r = egret(c.args);
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.text), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_FALSE(exists("a.hex") || exists("p.cof") || exists("p.elf")) << c.args;
    }
}

TEST_F(EgretTest, ListIdentifyDumpAndUsage)
{
    egret_result r = egret("-l");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Formats available are:\n\nKey        Name\n\nvormak     Vormak Software\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\ntitxt      TI-.TXT\n\nKeys may be unambiguously abbreviated.\n"), std::string::npos);

    write("p.hex", ":0100000012ED\n:00000001FF\n");
    r = egret("-c p.hex");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("==> Not OMF-51\n==> Confirmed as Intel HEX\n"), std::string::npos) << r.out;

    // A format without a dump: a warning and an empty line on the output.
    r = egret("-d p.hex");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(msg_tag(634)), std::string::npos) << r.out;
    r = egret("-d -iubrof p.hex");
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(msg_tag(1602)), std::string::npos) << r.out;

    write("junk", "nothing any format knows\n");
    r = egret("-v junk -oihex j.hex");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("==> Not TI-.TXT\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(msg_tag(605)), std::string::npos) << r.out;

    r = egret("-q");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Unrecognized option '-q'\nEGRET: the symbol file reformatter\n"), std::string::npos)
        << r.out;

    // Arguments from a file.
    write("args", "p.hex -os19 p.s19\n");
    r = egret("@args");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read("p.s19"), "S104000012E9\n");
}

// Outputs are named after the previous output, or the first input, with
// the format's extension; an output that would replace an input, or
// another output, is refused before anything is written.
TEST_F(EgretTest, OutputNamesNeverReplaceInputs)
{
    const std::string sym = "main 1A 2 CODE\n%locals\n_x 20 0 BANK0\n";
    write("p.hex", ":0100000012ED\n:00000001FF\n");
    write("p.sym", sym);
    struct Case {
        const char *args;
        const char *made;   // null when refused
    } cases[] = {
        {"p.hex p.sym -ovormak", nullptr},            // p.sym is an input
        {"p.hex -oihex", nullptr},                     // p.hex likewise
        {"p.hex -os19", nullptr},                      // "Motorola HEX" files end in .hex too
        {"p.hex -os19 q -oihex", nullptr},             // both would be q.hex
        {"p.hex -os19 q", "q.hex"},
        {"p.hex -os19 q.s19", "q.s19"},
        {"p.hex -os19 dir.d/q", "dir.d/q.hex"},        // a dot of a folder is no extension
        {"p.hex -ovormak q.x -os19", "q.hex"},         // the previous output's name
    };
    std::filesystem::create_directory(dir + "/dir.d");
    for (const Case &c : cases) {
        egret_result r = egret(c.args);
        if (!c.made) {
            EXPECT_NE(r.status, 0) << c.args;
            EXPECT_TRUE(r.out.find(msg_tag(1470)) != std::string::npos ||
                        r.out.find(msg_tag(1513)) != std::string::npos)
                << c.args << r.out;
        } else {
            EXPECT_EQ(r.status, 0) << c.args << r.out;
            EXPECT_TRUE(exists(c.made)) << c.args;
        }
        EXPECT_EQ(read("p.sym"), sym);
        EXPECT_EQ(read("p.hex"), ":0100000012ED\n:00000001FF\n");
    }
}

// ---------------------------------------------------------------------------
// The model
// ---------------------------------------------------------------------------

// Code blocks carry byte addresses, segments word addresses: the code at
// words 10h-1Fh (bytes 20h-3Fh) is the text segment's, not the RAM
// segment's at 20h-7Fh, whichever token of -P names the word width.
TEST_F(EgretTest, CodeBlocksLandInProgramSegments)
{
    std::string hex = ":1000200000010203040506070809000B0C0D0E0F62\n"
                      ":1000300010111213141516171819101B1C1D1E1F52\n:00000001FF\n";
    write("p.hex", hex);
    ASSERT_EQ(shell("srec_info p.hex -Intel").status, 0);
    write("p.sym", "_main 10 0 CODE\n%segments\nrbss_0 20 7F BANK0 20\ntext 10 1F CODE 10\n");
    for (const char *p : {"-P16F877A,877A,PIC14", "-P16F877A,PIC14"}) {
        egret_result r = egret(std::string("-v -v -m ") + p + " -NCODE p.hex p.sym -ovormak out.sym");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("\nData blocks: 1, total size 20\n\t20-3F text\n"), std::string::npos) << p << r.out;
        EXPECT_NE(r.out.find("\trbss_0 20-7F\n\ttext   10-1F\n"), std::string::npos) << p << r.out;
    }

    // The linked example: its code in reset_vec, the RAM variable's segment
    // holding none.
    write("main.as", count_asm);
    ASSERT_EQ(shell(zeph + " --chip=16F877A --output=-mcof main.as").status, 0);
    egret_result r = egret("-v -v " + pic_args + " main.hex main.sym -ovormak out.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    std::istringstream lines(r.out.substr(r.out.find("\nData blocks:") + 1));
    std::string line;
    unsigned code_blocks = 0;
    std::getline(lines, line);
    while (std::getline(lines, line) && line != "")
        if (line[0] == '\t' && std::stoul(line.substr(1), nullptr, 16) < 0x4000) {
            EXPECT_EQ(line.substr(line.size() - 10), " reset_vec") << line;
            code_blocks++;
        }
    EXPECT_EQ(code_blocks, 1u) << r.out;
}

// Line ends and the merging of blocks: lines 0, 0 (the same address), 10h,
// 10Fh (0FFh on), 20Fh (100h on: too far to say); blocks 0-F and 10-1F
// join, 21-2F stays apart.
TEST_F(EgretTest, LineEndsAndBlockMerging)
{
    write("p.sym", "%locals\nm.c\n1 0 0 CODE\n2 0 0 CODE\n3 10 0 CODE\n4 10F 0 CODE\n5 20F 0 CODE\n");
    write("p.hex", ":10000000000102030405060708090A0B0C0D0E0F78\n:10001000101112131415161718191A1B1C1D1E1F68\n"
                   ":0F00210021222324252627282930313233343554\n:00000001FF\n");
    egret_result r = egret("-v -v -w-9 p.sym p.hex -ovormak out.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\t00001: 0-0 CODE\n\t00002: 0-F CODE\n\t00003: 10-10E CODE\n"
                         "\t00004: 10F-10F CODE\n\t00005: 20F-20F CODE\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(msg_tag(1289)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nData blocks: 2, total size 2F\n\t0-1F seg -1\n\t21-2F seg -1\n"), std::string::npos)
        << r.out;
}

// The symbol file: lines of any length, symbols, lines and files written
// back in file, segment and address order.
TEST_F(EgretTest, SymbolFileReadAndWritten)
{
    std::string long_name = "_" + std::string(5000, 'v');
    write("p.sym", "_b 30 0 BANK0\n" + long_name + " 40 0 BANK0\n__Ltext 100 0 CODE\n__Htext 1FF 0 CODE\n"
                   "%locals\nm.obj\nm.c\n12 3F0 0 CODE\n_a 20 0 ABS\nlocal 3F0 0 CODE\n");
    egret_result r = egret("p.sym -ovormak out.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    // File 1 is p.sym (its symbols come before any file line), 2 m.obj, 3 m.c.
    EXPECT_EQ(read("out.sym"), "%locals\np.sym\n_b 30 1 BANK0\n" + long_name +
                                   " 40 1 BANK0\nm.obj\nm.c\n_a 20\nlocal 3F0 2 CODE\n12 3F0 2 CODE\n");

    write("bad.sym", "main 1A 2\nfoo zz 0\n");
    r = egret("bad.sym -ovormak out2.sym");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find(msg_tag(1606)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(msg_tag(1605)), std::string::npos) << r.out;
    EXPECT_FALSE(exists("out2.sym"));
}

// ---------------------------------------------------------------------------
// SDB files
// ---------------------------------------------------------------------------

const char *const pic_typedefs =
    "typedef: i `i2 0\ntypedef: s `i2 0\ntypedef: c `i1 0\ntypedef: m `i3 0\ntypedef: l `i4 0\n"
    "typedef: ui `u2 0\ntypedef: us `u2 0\ntypedef: uc `u1 0\ntypedef: um `u3 0\ntypedef: ul `u4 0\n"
    "typedef: f `f3 0\ntypedef: d `f4 0\ntypedef: x `i2 0\ntypedef: ux `u2 0\ntypedef: b `b0 0\n"
    "typedef: v `v 0\n";

// A module with a structure and its bit-field, a typedef, an enum, a
// function with a parameter, an auto and an inner block, and the frame
// numbers after the function's block; listed as the verbose run shows it.
TEST_F(EgretTest, SdbTreeListed)
{
    write("p.sym", "%locals\nmain.obj\nmain.c\n");
    write("main.sdb", "[p PIC14 GLOBOPT ]\n[d chip 16F877A ]\n\"1 main.c\n"
                      "[s S1 point 3 `uc 1 x 1 0 `uc 1 y 1 1 `uc 1 f 1 2 :3:2 ]\n"
                      "[v _g `S1 1 e 3 0 ]\n[v pt `*S1 1 t 1 ]\n[e E2 colour `uc red 0 green 1 ]\n"
                      "[v _c `E2 1 e 1 0 ]\n[v _k `*Dc 1 e 2 0 ]\n\"3\n[v _main `(v 1 e 0 0 ]\n{\n\"4\n"
                      "[v i `ui 1 a 2 0 ]\n[v n `uc 1 p 1 0 ]\n{\n\"6\n[v t `[4]c 1 a 4 2 ]\n\"7\n}\n\"9\n}\n"
                      "0 1 2 3\n");
    egret_result r = egret("-v p.sym -ovormak out.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string want = std::string("\nGlobal block:\n\n") + pic_typedefs +
                       "module: \"main.obj\" 1-9\n{\n"
                       "    filename: \"main.c\"\n"
                       "    struct: S1(point) = { x `u1 y `u1 f `u1 }\n"
                       "    extern: _g `struct point 1\n"
                       "    typedef: pt `*struct point 1\n"
                       "    enum: E2 = { red=0 green=1 }\n"
                       "    extern: _c `Unknown type 1\n"
                       "    extern: _k `*const i1 1\n"
                       "    extern: _main `(v 3\n"
                       "    func: _main() 3-9\n    {\n"
                       "        auto: i `u2 4\n"
                       "        param: n `u1 4\n"
                       "        block: 4-7\n        {\n"
                       "            auto: t `[4]i1 6\n"
                       "        }\n    }\n}\n\n";
    EXPECT_NE(r.out.find(want), std::string::npos) << r.out;
}

// Structures in type strings by tag number and name, as the code generator
// writes them ("S1point"), by number alone, and before their record
// (a pointer to a structure declared later, a structure pointing to
// itself): each reaches the one record of its number. A number whose record
// carries another name is a structure of its own.
TEST_F(EgretTest, SdbStructuresNamedByNumberAndName)
{
    write("p.sym", "%locals\nmain.obj\nmain.c\n");
    write("main.sdb", "[p PIC14 GLOBOPT ]\n\"1 main.c\n"
                      "[s S1 point 3 `uc 1 x 1 0 `i 1 y 2 1 ]\n"
                      "[s S2 node 2 `*S2node 1 next 1 0 `*S3leaf 1 leaf 1 1 ]\n"
                      "[s S3 leaf 4 `l 1 value 4 0 ]\n"
                      "[s S4 line 6 `[2]S1point 1 ends 6 0 ]\n"
                      "[v _g `S1point 1 e 3 0 ]\n[v _a `[2]S1point 1 e 6 0 ]\n[v _n `*S2node 1 e 1 0 ]\n"
                      "[v _t `S1 1 e 3 0 ]\n[v _o `S1other 1 e 3 0 ]\n[v pt_t `S1point 1 t 3 ]\n");
    egret_result r = egret("-v p.sym -ovormak out.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("    filename: \"main.c\"\n"
                         "    struct: S1(point) = { x `u1 y `i2 }\n"
                         "    struct: S2(node) = { next `*struct node leaf `*struct leaf }\n"
                         "    struct: S3(leaf) = { value `i4 }\n"
                         "    struct: S4(line) = { ends `[2]struct point }\n"
                         "    extern: _g `struct point 1\n"
                         "    extern: _a `[2]struct point 1\n"
                         "    extern: _n `*struct node 1\n"
                         "    extern: _t `struct point 1\n"
                         "    struct: S1other = { }\n"
                         "    extern: _o `struct S1other 1\n"
                         "    typedef: pt_t `struct point 1\n}\n"),
              std::string::npos)
        << r.out;
}

// Two autos of one name in a block: with -k the second and every later
// record of the block go into a faked inner block.
TEST_F(EgretTest, SdbFakedInnerBlocks)
{
    write("k.sym", "%locals\nk.obj\n");
    write("k.sdb", "[p PIC14 ]\n\"1 k.c\n[v _f `(v 1 e 0 0 ]\n{\n\"2\n[v i `i 1 a 2 0 ]\n\"3\n"
                   "[v i `i 1 a 2 2 ]\n[v j `c 1 a 1 4 ]\n\"5\n}\n");
    egret_result r = egret("-v -k k.sym -ovormak out.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("    func: _f() 1-5\n    {\n        auto: i `i2 2\n        block: 3-5 (faked)\n"
                         "        {\n            auto: i `i2 3\n            auto: j `i1 3\n        }\n    }\n"),
              std::string::npos)
        << r.out;
    r = egret("-v k.sym -ovormak out.sym");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("    {\n        auto: i `i2 2\n        auto: i `i2 3\n        auto: j `i1 3\n    }\n"),
              std::string::npos)
        << r.out;
}

std::string repeat(const std::string &text, unsigned n)
{
    std::string out;
    for (unsigned i = 0; i < n; i++)
        out += text;
    return out;
}

// Malformed SDB files stop the run by number, never by a crash: deep
// nesting, long type strings and huge counts included.
TEST_F(EgretTest, MalformedSdbFilesAreRefused)
{
    struct Case {
        std::string text;
        unsigned message;   // 0: read without complaint
    } cases[] = {
        {"[p]\n", 630},
        {"PIC14\n", 630},
        {"[p PIC14 ]\n[v x `i 1 q 2 0 ]\n", 629},
        {"[p PIC14 ]\n[v x `i 1 a 2 0\n", 627},
        {"[p PIC14 ]\n[v x `i 1 e 2 0 junk ]\n", 627},
        {"[p PIC14 ]\nbogus\n", 631},
        {"[p PIC14 ]\n[s S1 . 2 `i 1 a\n", 627},
        {"[p PIC14 ]\n" + repeat("{\n", 100000), 1607},
        {"[p GLOBOPT ]\n", 669},
        {"[p NOSUCHMODE ]\n", 668},
        {"[p PIC14 ]\n[v _x `" + std::string(100000, '*') + "c 99999999999999999999a e 2 0 ]\n", 0},
        {"[p PIC14 ]\n[v _y `[99999999999999999999]c 1 e 2 0 ]\n[d x ]\n", 0},
    };
    write("p.sym", "%locals\nbad.obj\n");
    for (const Case &c : cases) {
        write("bad.sdb", c.text);
        egret_result r = egret("p.sym -ovormak out.sym");
        if (c.message) {
            EXPECT_NE(r.status, 0) << c.text.substr(0, 60);
            EXPECT_NE(r.out.find(msg_tag(c.message)), std::string::npos) << c.text.substr(0, 60) << r.out;
        } else {
            EXPECT_NE(r.status, -1) << c.text.substr(0, 60) << r.out;
            EXPECT_EQ(r.out.find("(63"), std::string::npos) << r.out;
        }
    }
}

// Without a processor name, a module without an SDB file (every assembly
// module) chooses no machine description and is no error.
TEST_F(EgretTest, MissingSdbFileWithoutProcessorIsNoError)
{
    write("p.sym", "%locals\nmain.obj\nmain.as\n_main 0 0 CODE\n");
    egret_result r = egret("-e p.sym -ovormak out.sym");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "");
}

// ---------------------------------------------------------------------------
// The driver's calls
// ---------------------------------------------------------------------------

// A build that leaves the output formats at their default writes the
// Microchip COFF debug file beside the HEX file, for assembly and for C;
// asked for by name, it is written likewise.
TEST_F(EgretTest, DriverDefaultBuildSucceeds)
{
    write("main.as", count_asm);
    egret_result r = shell(zeph + " --chip=16F877A main.as");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(exists("main.hex"));
    EXPECT_TRUE(exists("main.cof")) << r.out;

    std::filesystem::remove(dir + "/main.cof");
    write("main.c", "unsigned char n;\nvoid main(void) { n = 3; }\n");
    r = shell(zeph + " --chip=16F877A main.c");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(exists("main.hex"));
    EXPECT_TRUE(exists("main.cof")) << r.out;

    std::filesystem::remove(dir + "/main.cof");
    r = shell(zeph + " --chip=16F877A --output=+mcof main.as");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(exists("main.cof")) << r.out;
}

} // namespace
