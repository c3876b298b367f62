// siskin, run as a program. Inputs are made and outputs judged by srecord
// (srec_cat, srec_cmp, srec_info); record layouts and the log are compared
// with texts computed by hand; CRC and Fletcher-32 expectations were worked
// out by hand from the algorithms' definitions.
#include "hex_fixture.h"

// n copies of one byte, in the image notation.
static std::string rep(const char *byte, int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += std::string(" ") + byte;
    return s;
}

class Siskin : public HexTest {
protected:
    run_result siskin(const std::string &args) const { return run("siskin", args); }
};

// ---------------------------------------------------------------------------
// The driver's own command line
// ---------------------------------------------------------------------------

// The driver rewrites the HEX file in place, with word addresses, a fill of
// the blank program word and a checksum with trailing RETLW codes.
TEST_F(Siskin, DriverCommandLineRewritesInPlace)
{
    std::string data = "0:" + rep("5A", 19) + " 01";
    make_hex("X.hex", data);
    run_result r = siskin("X.hex -OX.hex -logfile=X.hxl -format=INHX032 -addressing=2 "
                          "-fill=FF3F@0-3FF -ck=0-7FF@800+0w-2t34g2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(msg_tag(963)), std::string::npos) << "words 400-7FF hold no data";
    ASSERT_TRUE(valid_hex("X.hex"));
    EXPECT_EQ(read("X.hex").substr(0, 16), ":020000040000FA\n");
    EXPECT_FALSE(exists("X.hex.tmp"));

    // Program memory: the data, then FF 3F up to byte 0x7FF.
    ASSERT_EQ(shell("srec_cat" + generators(data) +
                    " -generate 0x14 0x800 -repeat-data 0xFF 0x3F -o exp.hex -intel"), 0);
    EXPECT_EQ(shell("srec_cmp X.hex -intel -crop 0 0x800 exp.hex -intel >/dev/null 2>&1"), 0);

    // The sum of 16-bit little-endian words over bytes 0-0xFFF (the empty
    // upper half adds nothing), each result byte followed by 34.
    ASSERT_EQ(shell("srec_cat exp.hex -intel -checksum-positive-little-endian 0x3000 2 2 "
                    "-crop 0x3000 0x3002 -o sum.hex -intel"), 0);
    std::string sum = bytes_at("sum.hex", 0x3000, 0x3002);
    EXPECT_EQ(bytes_at("X.hex", 0x1000, 0x1004), sum.substr(0, 2) + " 34 " + sum.substr(3, 2) + " 34");
    EXPECT_NE(read("X.hxl").find("\n Legend:\n"), std::string::npos);
}

// A failed run leaves the file it would have replaced as it was.
TEST_F(Siskin, FailureKeepsTheInputIntact)
{
    make_hex("X.hex", "0: 01 02");
    make_hex("Y.hex", "1: 03");
    std::string before = read("X.hex");
    run_result r = siskin("X.hex Y.hex -OX.hex");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(944)), std::string::npos) << r.err;
    EXPECT_EQ(read("X.hex"), before);
    EXPECT_FALSE(exists("X.hex.tmp"));

    r = siskin("X.hex -Ono/such/dir/out.hex");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(378)), std::string::npos) << r.err;

    // A device named as the output is written in place, never replaced by
    // the renamed temporary file.
    r = siskin("X.hex -O/dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    r = siskin("X.hex -O/dev/full");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(413)), std::string::npos) << r.err;
    for (const char *device : {"/dev/null", "/dev/full"})
        EXPECT_TRUE(fs::is_character_file(device)) << device;
}

// ---------------------------------------------------------------------------
// Merging input files
// ---------------------------------------------------------------------------

struct merge_case {
    const char *name;
    const char *a;          // image of a.hex
    const char *b;          // image of b.hex
    const char *args;       // before "-Oo.hex"
    int status;
    unsigned message;       // 0: none expected
    const char *expected;   // image of o.hex; null: no output file
};

TEST_F(Siskin, MergesInputs)
{
    const merge_case cases[] = {
        {"conflict", "0: 01 02", "1: 03", "a.hex b.hex", 1, 944, nullptr},
        {"forced second wins", "0: 01 02", "1: 03", "a.hex +b.hex", 0, 0, "0: 01 03"},
        {"equal data agrees", "0: 01 02", "1: 02", "a.hex b.hex", 0, 0, "0: 01 02"},
        {"two forced warn", "0: 01 02", "1: 03", "+a.hex +b.hex", 0, 962, "0: 01 03"},
        {"forced first stays", "0: 01 02", "1: 03", "+a.hex b.hex", 0, 0, "0: 01 02"},
        {"range and offset", "FF: AA BB; 1FF: CC DD", "", "r100-1FFs1000,a.hex", 0, 0, "1100: BB; 11FF: CC"},
        {"word-addressed range", "FF: AA BB; 1FF: CC DD", "", "-addressing=2 r80-FFs800,a.hex", 0, 0,
         "1100: BB; 11FF: CC"},
        {"open range end", "10: 01; 20000: 02", "", "r18-,a.hex", 0, 0, "20000: 02"},
        {"above 32 bits", ":02000004FFFFFC\n:01FFF000010F\n:00000001FF\n", "", "s100,a.hex", 1, 943, nullptr},
        {"bad range text", "0: 01", "", "x100,a.hex", 1, 941, nullptr},
        {"missing file", "0: 01", "", "nosuch.hex", 1, 141, nullptr},
        {"six inputs", "0: 01", "", "a.hex a.hex a.hex a.hex a.hex a.hex", 1, 958, nullptr},
    };
    for (const merge_case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path("o.hex"));
        if (c.a[0] == ':')
            write("a.hex", c.a);   // srec_cat cannot make this one
        else
            make_hex("a.hex", c.a);
        if (*c.b)
            make_hex("b.hex", c.b);
        run_result r = siskin(std::string(c.args) + " -Oo.hex");
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.message) {
            EXPECT_NE(r.err.find(msg_tag(c.message)), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
        if (c.expected) {
            EXPECT_TRUE(same_image("o.hex", c.expected)) << read("o.hex");
        } else {
            EXPECT_FALSE(exists("o.hex"));
        }
    }
}

struct text_input_case {
    const char *name;
    const char *text;       // the input file as written
    int status;
    unsigned message;
    const char *expected;   // image of the output; null: no output
};

// Input files written by hand: the reader's tolerance and its refusals.
TEST_F(Siskin, ReadsIntelHexRecords)
{
    const text_input_case cases[] = {
        {"lower case and CRLF", ":02000000abcd86\r\n:00000001ff\r\n", 0, 0, "0: AB CD"},
        {"linear address record", ":020000040001F9\n:0100000055AA\n:00000001FF\n", 0, 0, "10000: 55"},
        {"bad checksum keeps data", ":0200000001020A\n:00000001FF\n", 0, 636, "0: 01 02"},
        {"no end record", ":020000000102FB\n", 0, 966, "0: 01 02"},
        {"nothing after the end record is read", ":00000001FF\n:0100000001FE\n", 0, 0, ""},
        {"segment address record", ":020000021000EC\n:00000001FF\n", 1, 960, nullptr},
        {"start address record", ":0400000300001234B3\n:00000001FF\n", 1, 960, nullptr},
        {"bad digit", ":02000000010G02FB\n:00000001FF\n", 1, 942, nullptr},
        {"cut short", ":0200000001", 1, 942, nullptr},
    };
    for (const text_input_case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path("o.hex"));
        write("t.hex", c.text);
        run_result r = siskin("t.hex -Oo.hex");
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.message) {
            EXPECT_NE(r.err.find(msg_tag(c.message)), std::string::npos) << r.err;
        }
        if (!c.expected) {
            EXPECT_FALSE(exists("o.hex"));
        } else if (*c.expected) {
            EXPECT_TRUE(same_image("o.hex", c.expected)) << read("o.hex");
        } else {
            EXPECT_EQ(read("o.hex"), ":00000001FF\n");
        }
    }
}

// ---------------------------------------------------------------------------
// Output records
// ---------------------------------------------------------------------------

struct layout_case {
    const char *name;
    const char *image;
    const char *args;
    int status;
    const char *output;   // standard output, exactly
};

TEST_F(Siskin, WritesRecords)
{
    const char *twenty = "0: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13";
    const layout_case cases[] = {
        {"16 and 4 bytes", twenty, "", 0,
         ":10000000000102030405060708090A0B0C0D0E0F78\n:0400100010111213A6\n:00000001FF\n"},
        {"INHX032 announces address 0", "0: 01", "-FORMAT=INHX032", 0,
         ":020000040000FA\n:0100000001FE\n:00000001FF\n"},
        {"break once at 8", twenty, "-BREAK=8", 0,
         ":080000000001020304050607DC\n:0C00080008090A0B0C0D0E0F101112134A\n:00000001FF\n"},
        {"break in word units", twenty, "-addressing=2 -BREAK=4", 0,
         ":080000000001020304050607DC\n:0C00080008090A0B0C0D0E0F101112134A\n:00000001FF\n"},
        {"record length 8", twenty, "-FORMAT=INHX32,8", 0,
         ":080000000001020304050607DC\n:0800080008090A0B0C0D0E0F94\n:0400100010111213A6\n:00000001FF\n"},
        {"64 KB border", "FFFE: 01 02 03 04", "", 0,
         ":02FFFE000102FE\n:020000040001F9\n:020000000304F7\n:00000001FF\n"},
        {"gap ends a record", "0: 01; 2: 02", "", 0, ":0100000001FE\n:0100020002FB\n:00000001FF\n"},
        {"INHX8M cannot reach 64 KB", "0: 01; 10000: 02", "-FORMAT=INHX8M", 1, ":0100000001FE\n:00000001FF\n"},
        {"deleted bytes are left out", "0: 12 34 56", "-FIND=1234@0-F,DELETE", 0, ":0100020056A7\n:00000001FF\n"},
    };
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.name);
        make_hex("a.hex", c.image);
        run_result r = siskin(std::string("a.hex ") + c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.output);
        if (c.status) {
            EXPECT_NE(r.err.find(msg_tag(946)), std::string::npos) << r.err;
        }
    }
}

// ---------------------------------------------------------------------------
// Edits
// ---------------------------------------------------------------------------

struct edit_case {
    const char *name;
    const char *image;      // a.hex; "" for no input file
    const char *args;
    const char *expected;   // image of o.hex
};

TEST_F(Siskin, AppliesEdits)
{
    std::string fill_keeps = "0:" + rep("FF", 16) + " 01 02" + rep("FF", 14);
    std::string pattern = "0:" + rep("3F FF", 8);
    std::string words = "0:" + rep("FF", 0x400);
    std::string chunk = "20:" + rep("EE", 5) + " 01" + rep("EE", 10);
    std::string clipped = "22:" + rep("EE", 3) + " 01" + rep("EE", 10);
    const edit_case cases[] = {
        {"fill keeps data", "10: 01 02", "-FILL=FFFF@0-1F", fill_keeps.c_str()},
        {"fill pattern by address", "", "-FILL=3FFF@0-F", pattern.c_str()},
        {"fill in word addresses", "", "-addressing=2 -fill=FF@0-1FF", words.c_str()},
        {"fill only records with data", "25: 01", "-FILL=EE@8-47,data", chunk.c_str()},
        {"data fill stays inside its range", "25: 01", "-FILL=EE@22-47,data", clipped.c_str()},
        {"serial with increment", "", "-SERIAL=0001+1@1000+2r3", "1000: 00 01 00 02 00 03"},
        {"serial of 6 bytes", "", "-SERIAL=0000FFFFFFFF+1@0r2", "0: 00 00 FF FF FF FF 00 01 00 00 00 00"},
        {"serial counting down", "", "-SERIAL=10-1@2-1r3", "0: 0E 0F 10"},
        {"forced serial over data", "0: 01 02", "+-SERIAL=AAAA@0", "0: AA AA"},
        {"string with trailing code", "", "-STRING@100t00=AB", "100: 41 00 42 00 00 00"},
        {"packed string", "", "-STRPACK@100=ABC", "100: C2 20 80 21"},
        {"packed even string ends with a zero word", "", "-STRPACK@100=AB", "100: C2 20 00 00"},
        {"find and delete", "0: 12 34 56 12 34", "-FIND=1234@0-FF,DELETE", "2: 56"},
        {"find aligned from the range start", "0: 12 34 12 34 00 12 34",
         "-FIND=1234@1-FF/2,REPLACE=AB00MFF00", "0: 12 34 AB 34 00 12 34"},
        {"find needs the whole code in range", "0: 12 34", "-FIND=1234@1-2,DELETE", "0: 12 34"},
        {"find with mask", "0: 1F 2F 3F", "-FIND=0FM0F@0-2,REPLACE=00M0F", "0: 10 20 30"},
        {"replace leaves non-input bytes", "0: 12", "-SERIAL=34@1 -FIND=1234@0-1,DELETE", "0: 12 34"},
        {"mask", "0: FF FF FF FF", "-MASK=0F@0-1", "0: 0F 0F FF FF"},
        {"mask pattern", "0: FF FF FF FF", "-MASK=F00F@0-3", "0: F0 0F F0 0F"},
    };
    for (const edit_case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path("o.hex"));
        std::string in;
        if (*c.image) {
            make_hex("a.hex", c.image);
            in = "a.hex ";
        }
        run_result r = siskin(in + c.args + " -Oo.hex");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(same_image("o.hex", c.expected)) << read("o.hex");
    }
}

struct refusal_case {
    const char *args;
    unsigned message;
};

// Texts that do not parse and values out of range: message and non-zero
// exit, no output file.
TEST_F(Siskin, RefusesBadOptions)
{
    const refusal_case cases[] = {
        {"-FILL=F@0-1", 1204},
        {"-FILL=112233445566778899@0-1", 1204},
        {"-FILL=FF@10-1", 951},
        {"-FILL=FF@0-1,", 924},
        {"-FILL=FF@0-1,dat", 930},
        {"-FILL=FF@0", 941},
        {"-FILL=11@0-1 -FILL=11@0-1 -FILL=11@0-1 -FILL=11@0-1 -FILL=11@0-1 -FILL=11@0-1 -FILL=11@0-1", 1198},
        {"-MASK=FF@2-1", 951},
        {"-FIND=12M0F0@0-1", 1201},
        {"-FIND=1234@0-1,REPLACE=12", 1201},
        {"-FIND=12@0-1/0", 1245},
        {"-FIND=12@1-0", 951},
        {"-FIND=12@0-1,DELETEX", 941},
        {"-SERIAL=123456789ABCDEF01@0", 956},
        {"-SERIAL=12", 941},
        {"-SERIAL=12@FFFFFFFF+1r2", 941},
        {"-STRING@100AB", 941},
        {"-CK=0-F@10w5", 948},
        {"-CK=0-F@10w0", 948},
        {"-CK=F-0@10", 949},
        {"-CK=0-F@10g9", 1240},
        {"-CK=0-F@10g0", 1240},
        {"-CK=0-F@10x", 941},
        {"-FORMAT=INHX99", 1202},
        {"-addressing=5", 928},
        {"-addressing=2 -addressing=2", 1198},
        {"-addressing=x", 941},
        {"-BREAK=x", 941},
        {"-BREAK=1,2,3,4,5,6,7,8,9,A,B", 1198},
        {"-addressing=2 -FILL=FF@0-FFFFFFFF", 941},
        {"-LOGFILE=", 941},
        {"-LOGFILE=./o.hex", 378},
        {"-ZZ", 168},
        {"-W", 168},
        {"-HELP=NOPE", 953},
    };
    for (const refusal_case &c : cases) {
        SCOPED_TRACE(c.args);
        fs::remove(path("o.hex"));
        run_result r = siskin(std::string(c.args) + " -Oo.hex");
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(msg_tag(c.message)), std::string::npos) << r.err;
        EXPECT_FALSE(exists("o.hex"));
    }
}

TEST_F(Siskin, WarnsOnOddNibblesAndFinds)
{
    make_hex("a.hex", "0: 12 34");
    run_result r = siskin("a.hex -FILL=FFF@0-3 -FIND=1234@0-F/2w -Oo.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(msg_tag(1203)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Found         OPCode (1234h) at address 0h"), std::string::npos) << r.err;
    EXPECT_TRUE(same_image("o.hex", "0: 12 34 FF FF"));
    // Warnings made errors fail the run.
    r = siskin("a.hex -FIND=1234@0-F/2w -W0! -Oo2.hex");
    EXPECT_EQ(r.err.find(msg_tag(168)), std::string::npos) << r.err;
    EXPECT_NE(r.status, 0);
}

// ---------------------------------------------------------------------------
// Checksums
// ---------------------------------------------------------------------------

struct srec_sum_case {
    const char *option;   // after "-CK=0-9@20"
    const char *filter;   // srec_cat filter writing the same bytes at 0x20
    unsigned bytes;
};

// The sums srecord also computes. srecord's Fletcher-16 writes the first sum
// first where we store s | f << 8 least significant byte first: the same
// two bytes in the same order.
TEST_F(Siskin, ChecksumsAgreeWithSrecord)
{
    const char *data = "0: 10 20 30 40 50 60 70 81 92 A3";
    make_hex("a.hex", data);
    const srec_sum_case cases[] = {
        {"", "-checksum-positive-little-endian 0x20 2 1", 2},
        {"w2", "-checksum-positive-big-endian 0x20 2 1", 2},
        {"w-1", "-checksum-positive-little-endian 0x20 1 1", 1},
        {"w-4", "-checksum-positive-little-endian 0x20 4 1", 4},
        {"g-1", "-checksum-negative-little-endian 0x20 2 1", 2},
        {"g-1w4", "-checksum-negative-big-endian 0x20 4 1", 4},
        {"g2", "-checksum-positive-little-endian 0x20 2 2", 2},
        {"g4w-4", "-checksum-positive-little-endian 0x20 4 4", 4},
        {"g7", "-fletcher-16-big-endian 0x20 0 0", 2},
        {"g7w1", "-fletcher-16-little-endian 0x20 0 0", 2},
    };
    for (const srec_sum_case &c : cases) {
        SCOPED_TRACE(c.option);
        run_result r = siskin(std::string("a.hex -CK=0-9@20") + c.option + " -Oo.hex");
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(shell("srec_cat a.hex -intel " + std::string(c.filter) + " -o s.hex -intel 2>/dev/null"), 0);
        EXPECT_EQ(bytes_at("o.hex", 0x20, 0x20 + c.bytes), bytes_at("s.hex", 0x20, 0x20 + c.bytes));
        EXPECT_EQ(bytes_at("o.hex", 0x20, 0x28).size(), 3 * c.bytes - 1) << "nothing stored past the result";
    }
}

struct hand_sum_case {
    const char *name;
    const char *image;
    const char *option;
    const char *bytes;      // at 0x10 on
    bool voids;             // warning 963 expected
};

TEST_F(Siskin, ChecksumsComputedByHand)
{
    const hand_sum_case cases[] = {
        {"initial value", "0: 01 02", "-CK=0-1@10+1000", "03 10", false},
        {"24-bit groups", "0: 01 02 03 04", "-CK=0-3@10+10g3w-4", "15 02 03 00", false},
        {"CRC left", "0: 01 02 03", "-CK=0-2@10+1021g5", "01 97", false},
        {"CRC right", "0: 01 02 03", "-CK=0-2@10+1021g-5", "7C 03", false},
        {"CRC words left", "0: 01 02 03", "-CK=0-2@10+1021g6", "00 B1", false},
        {"CRC words right", "0: 01 02 03", "-CK=0-2@10+1021g-6", "D7 0A", false},
        {"Fletcher-32 pads an odd byte", "0: 01 02 03 04 05", "-CK=0-4@10g8", "09 06 0E 0E", false},
        {"Fletcher-32 ignores the width", "0: 01 02 03 04 05", "-CK=0-4@10g8w1", "0E 0E 06 09", false},
        {"Fletcher-16 over a missing block", "20: 01; 120: 01", "-CK=20-120@10g7", "02 03", true},
        {"end-around carry keeps FF", "0: FF", "-CK=0-0@10g7", "FF FF", false},
        {"Fletcher-32 over a missing block", "20: 01 02; 120: 03 04", "-CK=20-121@10g8", "04 06 85 06", true},
        {"CRC left over a missing block", "20: 01; 90: 02", "-CK=20-90@10+1021g5", "40 49", true},
        {"CRC words right over a missing block", "20: 01; 90: 02", "-CK=20-90@10+1021g-6", "37 08", true},
        {"trailing code between result bytes", "0: 01 02", "-CK=0-1@10w2t34", "00 34 03 34", false},
    };
    for (const hand_sum_case &c : cases) {
        SCOPED_TRACE(c.name);
        make_hex("a.hex", c.image);
        run_result r = siskin(std::string("a.hex ") + c.option + " -Oo.hex");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find(msg_tag(963)) != std::string::npos, c.voids) << r.err;
        unsigned n = (unsigned)(strlen(c.bytes) + 1) / 3;
        EXPECT_EQ(bytes_at("o.hex", 0x10, 0x10 + n), c.bytes);
    }
}

// Memory never stored counts as zero bytes: a CRC over a range with long
// runs of it equals the CRC over the same range given as explicit zeros,
// whatever the parity of the runs' ends; and a range over the whole address
// space ends at once.
TEST_F(Siskin, CrcOverAbsentMemoryEqualsZeros)
{
    make_hex("sparse.hex", "1: 5A; 6001: A5 3C");
    ASSERT_EQ(shell("srec_cat sparse.hex -intel -fill 0 0 0x7001 -o full.hex -intel -disable=exec-start-address"), 0);
    for (const char *algorithm : {"g5", "g-5", "g6", "g-6"}) {
        for (const char *range : {"0-7000", "1-6FFF"}) {
            SCOPED_TRACE(std::string(algorithm) + " over " + range);
            std::string ck = std::string(" -CK=") + range + "@8000+1021" + algorithm + " -Oo.hex";
            run_result sparse = siskin("sparse.hex" + ck);
            EXPECT_EQ(sparse.status, 0) << sparse.err;
            EXPECT_NE(sparse.err.find(msg_tag(963)), std::string::npos) << sparse.err;
            std::string expected = bytes_at("o.hex", 0x8000, 0x8002);
            run_result full = siskin("full.hex" + ck);
            EXPECT_EQ(full.status, 0) << full.err;
            EXPECT_EQ(bytes_at("o.hex", 0x8000, 0x8002), expected);
        }
    }
    run_result r = siskin("sparse.hex -CK=0-FFFFFFEF@FFFFFFF0+1021g5 -Oo.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(bytes_at("o.hex", 0xFFFFFFF0, 0xFFFFFFF2), "?");
}

// A checksum over another's destination waits for its result; one over its
// own destination, or two over each other's, can never be computed.
TEST_F(Siskin, ChecksumOrder)
{
    make_hex("a.hex", "0: 01 02 03 04");
    for (const char *args : {"-CK=0-3@10w-1 -CK=0-10@20w-1", "-CK=0-10@20w-1 -CK=0-3@10w-1"}) {
        SCOPED_TRACE(args);
        run_result r = siskin(std::string("a.hex ") + args + " -Oo.hex");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(bytes_at("o.hex", 0x10, 0x11), "0A");
        EXPECT_EQ(bytes_at("o.hex", 0x20, 0x21), "14");
    }
    for (const char *args : {"-CK=0-10@20w-1 -CK=0-20@10w-1", "-CK=0-10@8"}) {
        SCOPED_TRACE(args);
        fs::remove(path("o.hex"));
        run_result r = siskin(std::string("a.hex ") + args + " -Oo.hex");
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(msg_tag(945)), std::string::npos) << r.err;
        EXPECT_FALSE(exists("o.hex"));
    }
}

// ---------------------------------------------------------------------------
// Log file, size and help
// ---------------------------------------------------------------------------

TEST_F(Siskin, LogFile)
{
    make_hex("a.hex", "0: 01 02");
    make_hex("b.hex", "30: 03");
    run_result r = siskin("a.hex b.hex -Oo.hex -logfile=o.hxl -FILL=FF@4-7 -CK=0-7@8w-1 -SIZE "
                          "-FIND=0102@0-F");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Total data: 8 (8h) bytes\n");
    std::string map = "00000000: 11--FFFFC" + std::string(39, '-') + "2" + std::string(15, '-') + "\n";
    EXPECT_EQ(read("o.hxl"),
              "### Siskin logfile and output summary ###\n"
              "### OP Code find / replace / delete results ###\n"
              " Search results for         OPCode (0102h & FFFFh):\n"
              "  found (0102h) at address 0h\n"
              "\n"
              "### Memory Usage ###\n"
              " Unused memory ranges:\n"
              "  2h - 3h\n"
              "  9h - 2Fh\n"
              "  31h - 3Fh\n"
              "  \n"
              " Filled ROM ranges:\n"
              "  4h - 7h\n"
              "  \n"
              " Stored checksum result ranges:\n"
              "  8h - 8h\n"
              "  \n"
              " a.hex ranges:\n"
              "  0h - 1h\n"
              "  \n"
              " b.hex ranges:\n"
              "  30h - 30h\n"
              "  \n"
              "Total data: 8 (8h) bytes\n"
              "\n"
              "### Checksum Reports ###\n"
              " Checksum 0 : (0h to 7h) = FF\n"
              "\n"
              "### Hex Memory Map ###\n"
              " Legend:\n"
              "  - = Unused memory\n"
              "  F = Filled ROM\n"
              "  S = Stored serial code\n"
              "  A = Stored ASCII string\n"
              "  R = Reserved for checksum\n"
              "  C = Stored checksum result\n"
              "  T = Trailing code\n"
              "  & = Find & replace opcode\n"
              "  X = Find & delete opcode\n"
              "  1 = a.hex\n"
              "  2 = b.hex\n" +
                  map);
}

// The fourth and fifth inputs have legend rows and letters of their own;
// unused memory runs across the gap between blocks.
TEST_F(Siskin, LogFileFiveInputs)
{
    const char *names[] = {"a.hex", "b.hex", "c.hex", "d.hex", "e.hex"};
    std::string args;
    for (int i = 0; i < 5; i++) {
        make_hex(names[i], std::to_string(i) + ": 0" + std::to_string(i));
        args += std::string(names[i]) + " ";
    }
    make_hex("f.hex", "100: 01");
    run_result r = siskin(args + "r100-,f.hex -logfile=o.hxl -O");
    EXPECT_NE(r.status, 0) << "a sixth input is refused";
    r = siskin(args + "-logfile=o.hxl -O");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string log = read("o.hxl");
    EXPECT_NE(log.find("  4 = d.hex\n  5 = e.hex\n00000000: 12345---"), std::string::npos) << log;
    EXPECT_NE(log.find(" e.hex ranges:\n  4h - 4h\n"), std::string::npos) << log;
}

TEST_F(Siskin, UnusedRunsAcrossBlocks)
{
    make_hex("a.hex", "0: 01; 100: 02");
    run_result r = siskin("a.hex -logfile=o.hxl -O");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read("o.hxl").find(" Unused memory ranges:\n  1h - FFh\n  101h - 13Fh\n  \n"), std::string::npos)
        << read("o.hxl");
}

TEST_F(Siskin, HelpAndBanner)
{
    run_result r = siskin("");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("SISKIN - Intel hex editing utility (Build 1.128)"), std::string::npos) << r.err;

    r = siskin("-HELP=ck");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  USAGE: -CK=start-end@dest[+offset][wWidth][tCode][gAlgorithm]\n"
                         "  Example: -CK=0-1FFF@5FFC+1234w-2t34w2\n"),
              std::string::npos)
        << r.out;

    r = siskin("--HELP=CK");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  USAGE: -CK="), std::string::npos) << r.out;

    r = siskin("-help=FILE.HEX");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  USAGE: [r[start]-[end]][sOffset],file.hex\n  Example: r0-1FFs1F00,file.hex\n"),
              std::string::npos)
        << r.out;

    r = siskin("-HELP");
    EXPECT_EQ(r.status, 0);
    for (const char *name : {"file.hex ", "-ADDRESSING", "-BREAK   ", ",DELETE  ", "-STRPACK ", ",REPLACE ",
                             "-W       ", "+        "})
        EXPECT_NE(r.out.find(std::string("  ") + name + " : "), std::string::npos) << name;
}
