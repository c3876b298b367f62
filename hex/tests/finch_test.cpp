// finch, run as a program on object files built byte by byte here, its
// output judged by srecord (srec_info, srec_cmp, srec_cat) and by record
// texts computed by hand; and its paged image driven directly with a small
// buffer limit so that pages really go to the swap file and come back.
#include "hex_fixture.h"

#include "../finch/finch.h"

using namespace std::string_literals;

// ---------------------------------------------------------------------------
// Object files, written record by record (little-endian maps)
// ---------------------------------------------------------------------------

static std::string u16le(unsigned v)
{
    return std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF)};
}

static std::string u32le(uint32_t v)
{
    return u16le(v & 0xFFFF) + u16le(v >> 16);
}

static std::string record(unsigned type, const std::string &body)
{
    return u16le((unsigned)body.size()) + std::string(1, (char)type) + body;
}

static std::string ident_record()
{
    return record(7, std::string("\0\1\2\3\0\1", 6) + std::string("PIC16", 6));
}

static std::string text_record(uint32_t addr, const std::vector<uint8_t> &data)
{
    return record(1, u32le(addr) + std::string("text", 5) + std::string(data.begin(), data.end()));
}

static std::string start_record(uint32_t addr)
{
    return record(5, u32le(addr));
}

static std::string sym_record(uint32_t value, const char *name)
{
    return record(4, u32le(value) + u16le(0) + std::string("text", 5) + name + std::string(1, '\0'));
}

static const std::string end_record = record(6, "");

class Finch : public HexTest {
protected:
    run_result finch(const std::string &args) const { return run("finch", args); }

    void object(const std::string &name, const std::string &records) const
    {
        write(name, ident_record() + records + end_record);
    }
};

// ---------------------------------------------------------------------------
// Intel HEX
// ---------------------------------------------------------------------------

struct text_case {
    const char *name;
    std::string records;
    const char *args;
    const char *output;   // the whole file
};

TEST_F(Finch, IntelRecords)
{
    const text_case cases[] = {
        {"below 64 KB", text_record(0, {0xDE, 0xAD, 0xBE, 0xEF}), "", ":04000000DEADBEEFC4\n:00000001FF\n"},
        {"linear address records", text_record(0, {1, 2, 3}) + text_record(0x10000, {4, 5}), "-I",
         ":03000000010203F7\n:020000040001F9\n:020000000405F5\n:020000040000FA\n:00000001FF\n"},
        {"segment address records", text_record(0x10000, {4, 5}), "",
         ":020000021000EC\n:020000000405F5\n:020000020000FC\n:00000001FF\n"},
        {"start address in the end record", text_record(0, {1}) + start_record(0x1234), "",
         ":0100000001FE\n:00123401B9\n"},
        {"start defaults to the lowest address", text_record(0x20, {1}), "", ":0100200001DE\n:00002001DF\n"},
        {"segment start before the end record", text_record(0, {1}) + record(14, u32le(0x1000)), "",
         ":0100000001FE\n:020000021000EC\n:00000001FF\n"},
        {"segment start with linear records", text_record(0, {1}) + record(14, u32le(0x1000)), "-I",
         ":0100000001FE\n:020000021000EC\n:00000001FF\n"},
        {"rounding takes a fill byte", text_record(0, {1, 2, 3}), "-16,2", ":0400000001020300F6\n:00000001FF\n"},
        {"rounding with -F", text_record(0, {1, 2, 3}), "-16,2 -F", ":04000000010203FFF7\n:00000001FF\n"},
        {"record length 0 means 16", text_record(0, std::vector<uint8_t>(17, 0x11)), "-0",
         ":1000000011111111111111111111111111111111E0\n:0100100011DE\n:00000001FF\n"},
        {"record length 2", text_record(0, {1, 2, 3}), "-2", ":020000000102FB\n:0100020003FA\n:00000001FF\n"},
        {"data across a page border", text_record(0x3FE, {1, 2, 3, 4}), "",
         ":0203FE000102FA\n:020400000304F3\n:0003FE01FE\n"},
    };
    for (const text_case &c : cases) {
        SCOPED_TRACE(c.name);
        object("l.obj", c.records);
        run_result r = finch(std::string(c.args) + " l.obj l.hex");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read("l.hex"), c.output);
        EXPECT_TRUE(valid_hex("l.hex"));
    }
}

// Data that type 02 records cannot reach stops the run.
TEST_F(Finch, SegmentRecordsEndAtOneMegabyte)
{
    object("l.obj", text_record(0x100000, {1}));
    run_result r = finch("l.obj l.hex");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(411)), std::string::npos) << r.err;
    EXPECT_FALSE(exists("l.hex"));
    r = finch("-I l.obj l.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(same_image("l.hex", "100000: 01"));
}

// ---------------------------------------------------------------------------
// Other text forms: exact texts where the format is specified to the byte,
// and srecord's reading of them compared with the Intel output.
// ---------------------------------------------------------------------------

TEST_F(Finch, OtherTextForms)
{
    const text_case cases[] = {
        {"Motorola", text_record(0, {1, 2, 3}) + text_record(0x10000, {4, 5}) + start_record(0x12345), "-M",
         "S00800006C2E6F626A22\nS1060000010203F3\nS2060100000405EF\nS80401234592\n"},
        {"Motorola with symbols", sym_record(0x12, "_main") + text_record(0, {1}), "-MA",
         "SA _main 12 0 -17 1 1\nS00800006C2E6F626A22\nS104000001FA\nS9030000FC\n"},
        {"Tektronix", text_record(0, {0xDE, 0xAD, 0xBE, 0xEF}), "-T", "/00000404DEADBEEF68\n/00000000\n"},
        {"extended Tektronix", text_record(0x10000, {4, 5}) + start_record(0x12345), "-TE",
         "%1261B8000100000405\n%0E82D800012345\n\n"},
    };
    for (const text_case &c : cases) {
        SCOPED_TRACE(c.name);
        object("l.obj", c.records);
        run_result r = finch(std::string(c.args) + " l.obj l.out");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read("l.out"), c.output);
    }

    // srecord reads the same data from every form.
    object("l.obj", text_record(0, {1, 2, 3}) + text_record(0x4F0, std::vector<uint8_t>(40, 0x5A)));
    ASSERT_EQ(finch("l.obj l.hex").status, 0);
    const struct {
        const char *option;
        const char *srec_format;
    } forms[] = {{"-M", "-motorola"}, {"-T", "-tektronix"}, {"-TE", "-tektronix-extended"}};
    for (const auto &f : forms) {
        SCOPED_TRACE(f.option);
        ASSERT_EQ(finch(std::string(f.option) + " l.obj l.out").status, 0);
        EXPECT_EQ(shell(std::string("srec_cmp l.out ") + f.srec_format + " l.hex -intel >/dev/null 2>&1"), 0);
    }
}

TEST_F(Finch, TektronixEndsAt64K)
{
    object("l.obj", text_record(0x10000, {1}));
    run_result r = finch("-T l.obj l.out");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(411)), std::string::npos) << r.err;
    EXPECT_FALSE(exists("l.out"));
}

// ---------------------------------------------------------------------------
// Binary forms
// ---------------------------------------------------------------------------

struct binary_case {
    const char *name;
    const char *args;
    const char *srec;   // srec_cat commands giving the same bytes in exp.bin
};

TEST_F(Finch, BinaryImagesMatchSrecord)
{
    object("l.obj", text_record(0x100, {1, 2, 3}) + text_record(0x106, {4}) + text_record(0x900, {5}));
    ASSERT_EQ(finch("l.obj l.hex").status, 0);
    const binary_case cases[] = {
        {"from the lowest address", "-B", "srec_cat l.hex -intel -fill 0 0x100 0x901 -offset -0x100 -o exp.bin -binary"},
        {"fill byte", "-B -F", "srec_cat l.hex -intel -fill 0xFF 0x100 0x901 -offset -0x100 -o exp.bin -binary"},
        {"16-bit fill", "-B -F03FFFh",
         "srec_cat -generate 0x100 0x901 -repeat-data 0xFF 0x3F -o pat.hex -intel && "
         "srec_cat pat.hex -intel -exclude -within l.hex -intel l.hex -intel -o exp.hex -intel && "
         "srec_cat exp.hex -intel -offset -0x100 -o exp.bin -binary"},
        {"fill to an end", "-B -F0AAh,0A00h", "srec_cat l.hex -intel -fill 0xAA 0x100 0xA00 -offset -0x100 -o exp.bin -binary"},
        {"from a base", "-B80h", "srec_cat l.hex -intel -fill 0 0x80 0x901 -offset -0x80 -o exp.bin -binary"},
    };
    for (const binary_case &c : cases) {
        SCOPED_TRACE(c.name);
        run_result r = finch(std::string(c.args) + " l.obj l.bin");
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(shell(c.srec), 0);
        EXPECT_EQ(read("l.bin"), read("exp.bin"));
    }
    run_result r = finch("-B200h l.obj l.bin");
    EXPECT_NE(r.err.find(msg_tag(411)), std::string::npos) << "data below the base";
}

// The 32-byte header, then the image from address 0.
TEST_F(Finch, HeaderForm)
{
    object("l.obj", text_record(2, {0xAB}));
    run_result r = finch("-H -F l.obj l.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string expected = std::string("HLH9.00\0", 8) + std::string("\x20\0\0\0", 4) + std::string("\3\0\0\0", 4) +
                           std::string("PIC16") + std::string(11, '\0') + "\xFF\xFF\xAB";
    EXPECT_EQ(read("l.bin"), expected);

    r = finch("-H -V l.obj l.bin");
    EXPECT_EQ(read("l.bin").substr(8, 8), std::string("\0\0\0\x20\0\0\0\3", 8));
}

// The 68000 form: its header fields from the well-known symbols.
TEST_F(Finch, M68kHeaderForm)
{
    std::string syms = sym_record(0x10, "__Htext") + sym_record(0x20, "__Hdata") + sym_record(0x10, "__Ldata") +
                       sym_record(0x30, "__Hbss");
    object("l.obj", syms + text_record(0, {1, 2}));
    run_result r = finch("-N l.obj l.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string le = u32le(0x04100301) + u32le(32) + u32le(0x10) + u32le(0x10) + u32le(0x10) + u32le(0x10030) +
                     u32le(0) + u32le(0) + "\1\2";
    EXPECT_EQ(read("l.bin"), le);

    r = finch("-N1000h -V l.obj l.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read("l.bin").substr(0, 4), "\4\x10\3\1");
    EXPECT_EQ(read("l.bin").substr(20, 4), std::string(2, '\0') + "\x10\x30");

    object("l.obj", syms + text_record(4, {1}));
    r = finch("-N l.obj l.bin");
    EXPECT_NE(r.err.find(msg_tag(412)), std::string::npos) << "text must start at 0";
    const struct {
        const char *args;
        unsigned message;
    } refusals[] = {{"-N -I", 410}, {"-Nq", 409}};
    for (const auto &c : refusals) {
        SCOPED_TRACE(c.args);
        r = finch(std::string(c.args) + " l.obj l.bin");
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(msg_tag(c.message)), std::string::npos) << r.err;
    }
}

static std::string reloc_record(uint16_t offset, uint8_t type)
{
    return record(3, u16le(offset) + std::string(1, (char)type) + std::string("x", 2));
}

// -R and -L: a count and the items, stored where "__Lbss" points.
TEST_F(Finch, RelocationTable)
{
    std::string body = sym_record(0x100, "__Lbss") + text_record(0x10, {1, 2, 3, 4});
    object("l.obj", body + reloc_record(2, 2));
    run_result r = finch("-R l.obj l.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(same_image("l.hex", "10: 01 02 03 04; 100: 01 00 12 00")) << read("l.hex");

    object("l.obj", body + reloc_record(2, 0x82));
    r = finch("-L l.obj l.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(same_image("l.hex", "10: 01 02 03 04; 100: 01 00 12 00 00 00")) << read("l.hex");

    r = finch("l.obj l.hex");
    EXPECT_NE(r.err.find(msg_tag(419)), std::string::npos) << "a long item without -L";
}

// The CP/M-68K form: 28-byte header, image, symbol table, relocation list.
TEST_F(Finch, Cpm68kForm)
{
    std::string body = sym_record(4, "__Htext") + sym_record(6, "__Lbss") + sym_record(8, "__Hbss") +
                       text_record(0, {1, 2, 3, 4, 5, 6}) + reloc_record(0, 4) + reloc_record(0x200, 4) +
                       reloc_record(1, 2);
    object("l.obj", body);
    run_result r = finch("-P -S -L l.obj l.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string header = u16le(0x601A) + u32le(4) + u32le(2) + u32le(2) + u32le(3 * 14) + std::string(10, '\0');
    std::string image = "\1\2\3\4\5\6";
    std::string table;
    for (const auto &s : {std::pair<uint32_t, const char *>{4, "__Htext"}, {6, "__Lbss"}, {8, "__Hbss"}})
        table += u32le(s.first) + u16le(0xA200) + s.second + std::string(8 - strlen(s.second), '\0');
    std::string relocs = u32le(0) + "\1\1\4" + std::string(1, '\0');
    EXPECT_EQ(read("l.bin"), header + image + table + relocs);

    r = finch("-P1234h l.obj l.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read("l.bin").substr(28, 6), std::string("\1\2", 2) + u32le(0x1234)) << "the address at 2";

    r = finch("-Sl.sym -P l.obj l.bin");
    EXPECT_NE(r.err.find(msg_tag(410)), std::string::npos) << "a symbol file with -P";
}

static uint16_t le16_at(const std::string &f, size_t at)
{
    return (uint16_t)((unsigned char)f[at] | (unsigned char)f[at + 1] << 8);
}

static uint32_t le32_at(const std::string &f, size_t at)
{
    return le16_at(f, at) | (uint32_t)le16_at(f, at + 2) << 16;
}

// A 16-bit header field and the value it must hold.
struct header_field {
    size_t at;
    uint16_t value;
};

static void expect_fields(const std::string &f, std::initializer_list<header_field> fields)
{
    for (const header_field &fl : fields)
        EXPECT_EQ(le16_at(f, fl.at), fl.value) << "field at " << fl.at;
}

// MS-DOS executable: the header fields worked out by hand from the symbols.
TEST_F(Finch, MsdosForm)
{
    std::string body = sym_record(0x300, "__Hbss") + sym_record(0x200, "__Bdata") + text_record(0, {0xAA, 0xBB}) +
                       start_record(0);
    object("l.obj", body);
    run_result r = finch("-E l.obj l.exe");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string f = read("l.exe");
    ASSERT_EQ(f.size(), 258u);
    EXPECT_EQ(f.substr(0, 2), "MZ");
    expect_fields(f, {{2, 0x102}, {4, 1}, {6, 0}, {8, 16}, {0xA, 0x30}, {0xC, 0x1030}, {0xE, 0x20}, {0x10, 0x900},
                      {0x14, 0}, {0x18, 64}});
    EXPECT_EQ(f.substr(256), "\xAA\xBB");

    object("l.obj", body + record(3, u16le(0x12) + std::string("\x82x\0", 3)));
    r = finch("-E -LDos_hdr l.obj l.exe");
    EXPECT_EQ(r.status, 0) << r.err;
    f = read("l.exe");
    EXPECT_EQ(le16_at(f, 6), 1);
    EXPECT_EQ(le16_at(f, 64), 2);
    EXPECT_EQ(le16_at(f, 66), 1);

    object("l.obj", text_record(4, {1}));
    r = finch("-E l.obj l.exe");
    EXPECT_NE(r.err.find(msg_tag(412)), std::string::npos) << r.err;
}

// A relocation item naming the psect it refers to.
static std::string fixup_record(uint16_t offset, const char *psect)
{
    return record(3, u16le(offset) + std::string(1, '\x82') + psect + std::string(1, '\0'));
}

// The 8086 form: the MS-DOS load fields in a 128-byte header of three parts;
// with -L the fixups go, sorted, as two counted lists (code, then data)
// where the relocation symbol points.
TEST_F(Finch, Dos8086Form)
{
    std::string body = sym_record(0x300, "__Hbss") + sym_record(0x200, "__Bdata") + sym_record(0x10, "__Lbss") +
                       text_record(0, {0xAA, 0xBB, 0xCC, 0xDD}) + start_record(2);
    object("l.obj", body);
    run_result r = finch("-8 l.obj l.exe");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string f = read("l.exe");
    ASSERT_EQ(f.size(), 132u);
    EXPECT_EQ(f.substr(0, 2), "MZ");
    expect_fields(f, {{2, 132}, {4, 1}, {6, 8}, {9, 0x30}, {11, 0x1030}, {13, 0x20}, {15, 0x900}, {18, 2}, {20, 0}});
    EXPECT_EQ(f[8], 0) << "no fixups";
    EXPECT_EQ(le32_at(f, 22), 0u);
    EXPECT_EQ(f.substr(26, 6), std::string("PIC16", 6)) << "the machine name";
    EXPECT_EQ(f.substr(128), "\xAA\xBB\xCC\xDD");

    // Items out of order and in both segments: code first, each sorted.
    object("l.obj", body + fixup_record(0x123, "data") + fixup_record(0x45, "ltext") + fixup_record(1, "text") +
                        fixup_record(0x30, "bss"));
    r = finch("-8 -L l.obj l.exe");
    EXPECT_EQ(r.status, 0) << r.err;
    f = read("l.exe");
    EXPECT_EQ(f[8], 1);
    EXPECT_EQ(le32_at(f, 22), 0x10u);
    std::string lists = u16le(2) + u16le(1) + u16le(0) + u16le(5) + u16le(4) + u16le(2) + u16le(0) + u16le(3) +
                        u16le(3) + u16le(0x12);
    EXPECT_EQ(f.substr(128 + 0x10), lists);

    const struct {
        const char *name;
        std::string fixups;
        unsigned message;
    } refusals[] = {
        {"only data fixups", fixup_record(1, "data"), 429},
        {"a fixup of no known psect", fixup_record(1, "text") + fixup_record(2, "other"), 429},
    };
    for (const auto &c : refusals) {
        SCOPED_TRACE(c.name);
        object("l.obj", body + c.fixups);
        r = finch("-8 -L l.obj l.exe");
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(msg_tag(c.message)), std::string::npos) << r.err;
    }
    std::string many;
    for (unsigned i = 0; i < 7501; i++)
        many += fixup_record((uint16_t)(i & 0xFF), "text");
    object("l.obj", body + many);
    r = finch("-8 -L l.obj l.exe");
    EXPECT_NE(r.err.find(msg_tag(428)), std::string::npos) << r.err;

    // The other targets' forms exclude the MS-DOS ones, and -A the 68000 ones.
    for (const char *args : {"-8 -A", "-U -8", "-N -E", "-A -N", "-P -A", "-U -I"}) {
        r = finch(std::string(args) + " l.obj l.exe");
        EXPECT_NE(r.err.find(msg_tag(410)), std::string::npos) << args << ": " << r.err;
    }
}

// COFF executable: headers, text and data, symbols with the string table.
TEST_F(Finch, CoffForm)
{
    std::string syms = sym_record(0, "__Ltext") + sym_record(2, "__Htext") + sym_record(0x10, "__Ldata") +
                       sym_record(0x11, "__Hdata") + sym_record(0x20, "__Lbss") + sym_record(0x24, "__Hbss");
    object("l.obj", syms + sym_record(0, "a_very_long_name") + text_record(0, {0xAA, 0xBB}) +
                        text_record(0x10, {0xCC}));
    run_result r = finch("-UT l.obj l.cof");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string f = read("l.cof");
    ASSERT_GT(f.size(), 171u);
    EXPECT_EQ(le16_at(f, 0), 0x198);
    EXPECT_EQ(le16_at(f, 2), 3);
    EXPECT_EQ(le32_at(f, 8), 171u) << "symbols after text and data";
    EXPECT_EQ(le32_at(f, 12), 7u);
    EXPECT_EQ(le16_at(f, 16), 28);
    EXPECT_EQ(le16_at(f, 18), 0x207);
    EXPECT_EQ(le16_at(f, 20), 0x107);
    EXPECT_EQ(le32_at(f, 24), 2u);
    EXPECT_EQ(le32_at(f, 28), 1u);
    EXPECT_EQ(le32_at(f, 32), 4u);
    EXPECT_EQ(f.substr(48, 5), ".text");
    EXPECT_EQ(le32_at(f, 48 + 20), 168u);
    EXPECT_EQ(le32_at(f, 88 + 20), 170u);
    EXPECT_EQ(f.substr(168, 3), "\xAA\xBB\xCC");
    size_t long_entry = 171 + 6 * 18;
    EXPECT_EQ(le32_at(f, long_entry), 0u);
    EXPECT_EQ(le32_at(f, long_entry + 4), 4u);
    size_t strings = 171 + 7 * 18;
    EXPECT_EQ(le32_at(f, strings), 4u + 17u);
    EXPECT_EQ(f.substr(strings + 4), std::string("a_very_long_name", 17));
    EXPECT_EQ(f.substr(171, 7), "__Ltext");

    r = finch("-U -Sl.sym l.obj l.cof");
    EXPECT_NE(r.err.find(msg_tag(410)), std::string::npos) << "a symbol file with -U";
}

static std::string segment_record(const char *name, uint32_t length, uint32_t load, uint16_t selector)
{
    return record(9, u32le(length) + u32le(load) + u16le(selector) + u16le(0) + u32le(load) + name +
                         std::string(1, '\0'));
}

static std::string segment_object()
{
    return segment_record("text", 4, 0, 1) + segment_record("data", 8, 0x10, 2) +
           text_record(0, {1, 2, 3, 4}) + record(3, u16le(2) + std::string("\2x\0", 3)) +
           text_record(0x10, {5, 6});
}

// The segment image: header, one entry per segment, data and relocations.
TEST_F(Finch, SegmentImage)
{
    object("l.obj", segment_object());
    run_result r = finch("-A l.obj l.img");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string f = read("l.img");
    ASSERT_EQ(f.size(), 104u);
    EXPECT_EQ(le16_at(f, 0), 0x5448);
    EXPECT_EQ(le16_at(f, 2), 2);
    const struct {
        size_t at;
        uint32_t value;
        bool wide;
    } fields[] = {
        {32, 1, false}, {34, 1, false}, {36, 96, true}, {40, 4, true}, {44, 4, true}, {48, 1, true}, {52, 2, true},
        {64, 2, false}, {66, 3, false}, {68, 102, true}, {72, 2, true}, {76, 8, true}, {80, 0, true},
    };
    for (const auto &fl : fields)
        EXPECT_EQ(fl.wide ? le32_at(f, fl.at) : le16_at(f, fl.at), fl.value) << "field at " << fl.at;
    EXPECT_EQ(f.substr(96), std::string("\1\2\3\4\2\0\5\6", 8));
    r = finch("-A -I l.obj l.img");
    EXPECT_NE(r.err.find(msg_tag(410)), std::string::npos) << r.err;
}

// The COFF-style image of -x: a section per segment, XSYM symbols.
TEST_F(Finch, SegmentCoffImage)
{
    std::string xsym = record(10, u32le(0x10) + u16le(0x10) + u16le(2) + std::string("data", 5) + "_buf" +
                                      std::string(1, '\0'));
    object("l.obj", segment_object() + xsym);
    run_result r = finch("-x386 l.obj l.img");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string f = read("l.img");
    ASSERT_EQ(f.size(), 32u + 64u + 12u + 13u);
    EXPECT_EQ(le16_at(f, 0), 518);
    EXPECT_EQ(le16_at(f, 2), 2);
    EXPECT_EQ(le32_at(f, 8), 108u);
    EXPECT_EQ(le32_at(f, 12), 1u);
    EXPECT_EQ(f.substr(16, 4), "386\0"s);
    EXPECT_EQ(f.substr(32, 5), "text\0"s);
    EXPECT_EQ(le32_at(f, 32 + 20), 0x8048u) << "code, 32-bit, always";
    EXPECT_EQ(le32_at(f, 64 + 20), 0x8040u);
    EXPECT_EQ(f.substr(96, 12), "\1\2\3\4"s + "\5\6" + std::string(6, '\0')) << "whole segments, fill 0";
    EXPECT_EQ(f.substr(108), u32le(0x10) + u16le(0x10) + u16le(2) + "\4_buf");
}

// The block image: header, the blocks with data, the block map.
TEST_F(Finch, BlockImage)
{
    object("l.obj", text_record(0, {1}) + text_record(0x600, {2}));
    run_result r = finch("-D l.obj l.img");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string f = read("l.img");
    ASSERT_EQ(f.size(), 513u + 2 * 512 + 1024);
    EXPECT_EQ(f.substr(0, 6), "\5l.obj");
    EXPECT_EQ(f.substr(80, 6), "\5PIC16");
    EXPECT_EQ(f.substr(89, 11), "\12Vormak PIC");
    EXPECT_EQ(le16_at(f, 164), 2);
    EXPECT_EQ(f[513], '\1');
    EXPECT_EQ(f[513 + 512], '\2');
    size_t map = 513 + 1024;
    EXPECT_EQ(le16_at(f, map), 1);
    EXPECT_EQ(le16_at(f, map + 2), 0);
    EXPECT_EQ(le16_at(f, map + 6), 2);

    object("l.obj", text_record(0x40000, {1}));
    r = finch("-D l.obj l.img");
    EXPECT_NE(r.err.find(msg_tag(411)), std::string::npos) << r.err;
}

// The UBROF CRC of one byte 01, worked bit by bit: 8005, 800F, 801B, 8033,
// 8063, 80C3, 8183, 8303.
TEST(FinchUbrof, CrcOfOneByte)
{
    EXPECT_EQ(ubrof_crc_update(0, 0x01), 0x8303);
    EXPECT_EQ(ubrof_crc_update(0, 0x00), 0x0000);
}

static uint16_t crc_of(const std::string &bytes)
{
    uint16_t reg = 0;
    for (unsigned char b : bytes)
        for (int i = 0; i < 8; i++) {
            unsigned bit = (b >> i) & 1, top = (reg >> 15) & 1;
            reg = (uint16_t)(reg << 1);
            if (bit != top)
                reg ^= 0x8005;
        }
    return reg;
}

TEST_F(Finch, UbrofRecords)
{
    std::string data_sym = record(4, u32le(5) + u16le(0) + std::string("data", 5) + std::string("1abc", 5));
    object("l.obj", sym_record(0x12, "_main") + data_sym + text_record(0x10, {0xAA, 0xBB}) + start_record(0x10));
    run_result r = finch("-UB l.obj out.ubr");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string f = read("out.ubr");
    ASSERT_GT(f.size(), 10u);
    std::string stamp = f.substr(0, 4);
    EXPECT_EQ(stamp[0], 'M');
    EXPECT_TRUE(stamp[1] >= 1 && stamp[1] <= 31 && stamp[2] >= 1 && stamp[2] <= 12);
    uint16_t c1 = crc_of(stamp);
    std::string body = std::string("\1\2\x10", 3) + stamp.substr(1) + "\3out" + "L\1" + u32le(0x12) + "\5_main" +
                       "L\3" + u32le(5) + "\5#1abc" + "Q\1" + u32le(0x10) + "9\2\xAA\xBB" +
                       std::string("=\0\0", 3) + u32le(0x10);
    uint16_t c2 = crc_of(body);
    EXPECT_EQ(f, stamp + "?" + u16le(c1) + body + u16le(c2) + "\xFF");
}

// ---------------------------------------------------------------------------
// Checksum list, symbol file
// ---------------------------------------------------------------------------

TEST_F(Finch, ChecksumList)
{
    object("l.obj", text_record(0, {1, 2, 3}) + text_record(0x7FE, {0xFF, 0xFF}));
    write("sums.txt", "/* program sum */ 0-7FF 7FE-7FF\n\n  0-2 800 +10\n");
    run_result r = finch("-F -Csums.txt l.obj l.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    // 1 + 2 + 3, 0x7FB fill bytes FF, the destination's own FF FF: 0x7F509.
    EXPECT_NE(r.err.find("16-bit checksum F509 placed at 07FE"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("8-bit checksum 16 placed at 0800"), std::string::npos) << r.err;
    EXPECT_EQ(bytes_at("l.hex", 0x7FE, 0x801), "09 F5 16");
    ASSERT_EQ(finch("-F l.obj plain.hex").status, 0);
    ASSERT_EQ(shell("srec_cat plain.hex -intel -fill 0xFF 0 0x800 -checksum-positive-little-endian "
                    "0x900 2 1 -o s.hex -intel"), 0);
    EXPECT_EQ(bytes_at("s.hex", 0x900, 0x902), "09 F5");

    // The whole address space, FF 3F fill pairs: its 2^31 pairs sum to 0
    // modulo 2^32, less the fill under the data, plus the data. Then a range
    // where no page exists, starting at an odd address.
    object("l.obj", text_record(0, {1, 2, 3}));
    write("sums.txt", "0-FFFFFFFF 10-11\n1001-1006 12\n");
    r = finch("-F03FFFh -Csums.txt l.obj l.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("16-bit checksum FDC9 placed at 0010"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("8-bit checksum BA placed at 0012"), std::string::npos) << r.err;

    for (const char *bad : {"0-7FF", "0 7FF 800", "0-F 10-12", "F-0 10"}) {
        SCOPED_TRACE(bad);
        write("sums.txt", bad);
        r = finch("-Csums.txt l.obj l.hex");
        EXPECT_NE(r.status, 0);
        EXPECT_TRUE(r.err.find(msg_tag(427)) != std::string::npos || r.err.find(msg_tag(430)) != std::string::npos)
            << r.err;
    }
}

TEST_F(Finch, SymbolFile)
{
    object("l.obj", sym_record(0x12, "_main") + sym_record(0x12345, "_far") + text_record(0, {1}));
    run_result r = finch("-Sl.sym l.obj l.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read("l.sym"), "0012 _main\n12345 _far\n");
    r = finch("-Sl.sym -MA l.obj l.hex");
    EXPECT_NE(r.err.find(msg_tag(410)), std::string::npos) << r.err;
}

// ---------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------

struct finch_refusal {
    const char *name;
    std::string file;     // the object file's bytes
    const char *args;     // before the file names
    unsigned message;
};

TEST_F(Finch, RefusesBadInput)
{
    std::string good = ident_record() + text_record(0, {1}) + end_record;
    const finch_refusal cases[] = {
        {"no end record", ident_record() + text_record(0, {1}), "", 422},
        {"empty file", "", "", 422},
        {"record type 24", ident_record() + record(24, "x") + end_record, "", 423},
        {"513-byte body", ident_record() + u16le(513) + std::string(1, '\1') + std::string(513, '\0'), "", 424},
        {"short body", ident_record() + u16le(20) + std::string(1, '\1') + "abc", "", 425},
        {"text without its psect name", ident_record() + record(1, u32le(0) + "text"), "", 425},
        {"relocation left", ident_record() + text_record(0, {1}) + record(3, u16le(0) + std::string("\5x\0", 3)) +
                                end_record,
         "", 419},
        {"rounding 3", good, "-16,3", 405},
        {"rounding 32", good, "-16,32", 405},
        {"bad record length", good, "-1x", 404},
        {"bad fill", good, "-F12g", 402},
        {"bad base", good, "-B1z", 408},
        {"unknown option", good, "-Q", 529},
        {"bad segment image address", good, "-Az", 406},
        {"bad COFF address", good, "-U1z", 407},
        {"bad warning level", good, "-Wx", 393},
        {"text past the 32-bit space", ident_record() + text_record(0xFFFFFFFE, {1, 2, 3}) + end_record, "-I",
         418},
        {"COFF text ending below its start",
         ident_record() + text_record(0, {1}) + sym_record(0x10, "__Ltext") + sym_record(8, "__Htext") + end_record,
         "-U", 418},
        {"HL header with data in the last byte", ident_record() + text_record(0xFFFFFFFF, {1}) + end_record, "-H",
         418},
    };
    for (const finch_refusal &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path("l.hex"));
        write("l.obj", c.file);
        run_result r = finch(std::string(c.args) + " l.obj l.hex");
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(msg_tag(c.message)), std::string::npos) << r.err;
        EXPECT_FALSE(exists("l.hex"));
    }
    write("l.obj", good);
    std::string before = read("l.obj");
    run_result r = finch("l.obj l.obj");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(378)), std::string::npos) << r.err;
    EXPECT_EQ(read("l.obj"), before) << "the object file is never the output";
    r = finch("-Sl.hex l.obj l.hex");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(378)), std::string::npos) << r.err;
    EXPECT_FALSE(exists("l.hex")) << "the output never replaces the symbol file";
    write("sums.txt", "0-0 1\n");
    r = finch("-C./sums.txt l.obj sums.txt");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(378)), std::string::npos) << r.err;
    EXPECT_EQ(read("sums.txt"), "0-0 1\n") << "the output never replaces the checksum list";
    r = finch("l.obj a.hex b.hex");
    EXPECT_NE(r.err.find(msg_tag(529)), std::string::npos) << r.err;
}

// A binary form writes every address of its image: one byte at a stray
// address would make a file of gigabytes. An image past the machine's whole
// program space (128 KB for a PIC), or past a stated bound, is refused
// before a byte of it is written.
TEST_F(Finch, ImageFarPastTheMachineIsRefused)
{
    const std::string stray = text_record(0, {1, 2}) + text_record(0x74000002, {3});
    const struct {
        const char *name;
        std::string records;
        const char *args;
    } refusals[] = {
        {"binary", stray, "-B"},
        {"68000 header", stray, "-N"},
        {"CP/M-68K with symbols and relocations", stray + sym_record(0, "__Lbss"), "-P -S -L"},
        {"HL header", stray, "-H"},
        {"COFF text from the symbols", text_record(0, {1}) + sym_record(0x74000000, "__Htext"), "-U"},
        {"one byte past the program space", text_record(0, {1}) + text_record(0x20000, {2}), "-B"},
        {"past a stated bound", text_record(0, {1}) + text_record(0xFF, {2}), "-B --max-size=0FFh"},
    };
    for (const auto &c : refusals) {
        SCOPED_TRACE(c.name);
        fs::remove(path("l.bin"));
        object("l.obj", c.records);
        run_result r = finch(std::string(c.args) + " l.obj l.bin");
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(msg_tag(1501)), std::string::npos) << r.err;
        EXPECT_FALSE(exists("l.bin"));
        EXPECT_FALSE(exists("l.bin.tmp"));
    }
    object("l.obj", text_record(0, {1}) + text_record(0x1FFFF, {2}));
    run_result r = finch("-B l.obj l.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(path("l.bin")), 0x20000u);
    object("l.obj", stray);
    r = finch("-I l.obj l.hex");
    EXPECT_EQ(r.status, 0) << "HEX records hold only the bytes written: " << r.err;
    object("l.obj", text_record(0, {1}) + text_record(0xFF, {2}));
    r = finch("-B --max-size=100h l.obj l.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *bad : {"--max-size=0", "--max-size=12x", "--max-size="}) {
        r = finch(std::string(bad) + " l.obj l.bin");
        EXPECT_NE(r.err.find(msg_tag(1502)), std::string::npos) << bad << r.err;
    }
}

// A device named as the output is written in place, never replaced by a
// renamed plain file; a device that takes nothing fails the run.
TEST_F(Finch, DeviceOutputStaysADevice)
{
    write("l.obj", ident_record() + text_record(0, {1}) + end_record);
    run_result r = finch("l.obj /dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    r = finch("l.obj /dev/full");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(msg_tag(739)), std::string::npos) << r.err;
    for (const char *device : {"/dev/null", "/dev/full"})
        EXPECT_TRUE(fs::is_character_file(device)) << device;
}

// -E<file> sends the messages to the end of that file; -W below -9 is
// ignored with a warning.
TEST_F(Finch, MessageOptions)
{
    write("l.obj", ident_record() + text_record(0, {1}));
    write("errs.txt", "earlier line\n");
    run_result r = finch("-Eerrs.txt l.obj l.hex");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read("errs.txt").substr(0, 13), "earlier line\n");
    EXPECT_NE(read("errs.txt").find(msg_tag(422)), std::string::npos) << read("errs.txt");

    object("l.obj", text_record(0, {1}));
    r = finch("-W-10 l.obj l.hex");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(msg_tag(523)), std::string::npos) << r.err;
}

TEST_F(Finch, DefaultNamesAndCommandFile)
{
    object("l.obj", text_record(0, {1}));
    write("cmd", "-I\nl.obj out.hex\n");
    run_result r = finch("@cmd");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read("out.hex"), ":0100000001FE\n:00000001FF\n");
    r = finch("");
    EXPECT_EQ(r.status, 0) << r.err;   // no arguments on standard input: l.obj to l.hex
    EXPECT_TRUE(exists("l.hex"));
    r = finch("-B");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read("l.com"), "\1");
}

// ---------------------------------------------------------------------------
// The paged image, with room for two buffers only
// ---------------------------------------------------------------------------

static unsigned exits;
void tool_exit(int status)
{
    exits++;
    (void)status;
}

TEST(FinchImage, PagesGoToTheSwapFileAndComeBack)
{
    opt = finch_options{};
    opt.fill = 0x3FFF;
    obj_order = order_little;
    image_set_buffer_limit(2);
    image_init();
    const uint32_t addresses[] = {0x0, 0x7FE, 0x10000, 0xFFFFFC00, 0x400};
    for (uint32_t a : addresses) {
        uint8_t data[4] = {(uint8_t)(a >> 24), (uint8_t)(a >> 16), (uint8_t)(a >> 8), (uint8_t)a};
        image_store(a, data, 4);
    }
    EXPECT_EQ(image_buffers_allocated(), 2u);
    EXPECT_TRUE(image_swap_used());
    for (uint32_t a : addresses) {
        SCOPED_TRACE(a);
        bool written;
        EXPECT_EQ(image_byte(a + 3, &written), (uint8_t)a);
        EXPECT_TRUE(written);
        EXPECT_EQ(image_byte(a, &written), (uint8_t)(a >> 24));
    }
    // Across a page border: both pages hold their part and their flags.
    bool written;
    EXPECT_EQ(image_byte(0x800, &written), 0x07);
    EXPECT_TRUE(written);
    EXPECT_EQ(image_byte(0x802, &written), 0xFF) << "fill, low byte at an even address";
    EXPECT_FALSE(written);
    EXPECT_EQ(image_byte(0x803, &written), 0x3F) << "fill, high byte at an odd address";
    EXPECT_EQ(image_high(), 0xFFFFFC04ull);
    std::vector<uint32_t> numbers = image_page_numbers();
    EXPECT_EQ(numbers, (std::vector<uint32_t>{0, 1, 2, 0x40, 0x3FFFFF}));
    page *p = image_page(1);
    EXPECT_EQ(p->lo, 0x400u);
    EXPECT_EQ(p->hi, 0x800u);
    image_close();
    EXPECT_EQ(exits, 0u);
    image_set_buffer_limit(PAGE_BUFFERS);
}
