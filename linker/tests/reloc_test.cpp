// Relocation and condition records as heron applies them in pass 2: simple
// kinds, sign-extended fields, bit fields, the expression machine and its
// range check, fixup overflow, and CONDITION records that skip a module.
// Expected field contents are worked out by hand from the kind byte rules.
#include "objbuild.h"

using namespace fx;

namespace {

// One module: psect text at 100h holding `data`, the absolute symbols
// _v = 20h, _w = F0h and _t = 5, then one RELOC record `reloc`.
module fixup_module(const bytes &data, const bytes &reloc)
{
    module m;
    m.ident().psect("text").text(0, "text", data).raw(3, reloc);
    m.sym({{"_v", 0x20, 0x10, ""}, {"_w", 0xF0, 0x10, ""}, {"_t", 5, 0x10, ""}}).start(0, "text").end();
    return m;
}

bytes entry(unsigned offset, unsigned kind, const std::string &name)
{
    bytes b = {(uint8_t)offset, (uint8_t)(offset >> 8), (uint8_t)kind};
    b.insert(b.end(), name.begin(), name.end());
    b.push_back(0);
    return b;
}

// Expression entry at offset 0 with the given kind and opcode bytes.
bytes expr(unsigned kind, const bytes &ops)
{
    bytes b = {0, 0, (uint8_t)kind};
    b.insert(b.end(), ops.begin(), ops.end());
    return b;
}

const bytes push10 = {3, 0x10, 0, 0, 0};
const bytes push20 = {3, 0x20, 0, 0, 0};

bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(HeronReloc, FieldsAndKinds)
{
    struct row {
        const char *what;
        bytes data;
        bytes reloc;
        const char *text;     // expected output TEXT line
        unsigned message;     // 0: none
    };
    const row rows[] = {
        {"psect, 2 bytes: 1234h + 100h", {0x34, 0x12}, entry(0, 0x12, "text"), "TEXT 100 text 34 13\n", 0},
        {"symbol, F0h counts as -16", {0xF0}, entry(0, 0x21, "_v"), "TEXT 100 text 10\n", 0},
        {"symbol, 10h + F0h overflows", {0x10}, entry(0, 0x21, "_w"), "TEXT 100 text 00\n", 1267},
        {"absolute kind only checks", {0x7F}, entry(0, 0x01, ""), "TEXT 100 text 7F\n", 0},
        {"4-bit field keeps the high nibble", {0xA1}, entry(0, 0xE4, "_t"), "TEXT 100 text A6\n", 0},
        {"4-bit field overflows", {0xA1}, entry(0, 0xE4, "_v"), "TEXT 100 text A1\n", 1267},
        {"kind C4h", {0xA1}, entry(0, 0xC4, ""), "TEXT 100 text A1\n", 514},
        {"pc-relative symbol", {0x00, 0x00}, entry(0, 0x62, "_v"), "TEXT 100 text 20 FF\n", 0},
        {"pc-relative psect: 100h less 101h", {0, 0}, entry(1, 0x41, "text"), "TEXT 100 text 00 FF\n", 0},
        {"pc-relative expression: 110h less 100h", {0, 0}, expr(0x72, cat({{3, 0x10, 1, 0, 0}, {0}})),
         "TEXT 100 text 10 00\n", 0},
        {"shift count masked to 5 bits", {0, 0}, expr(0x32, cat({{3, 33, 0, 0, 0}, {3, 1, 0, 0, 0}, {8, 0}})),
         "TEXT 100 text 02 00\n", 0},
        {"rotated immediate, odd rotation", {0, 0}, expr(0x32, cat({{3, 0, 0, 0xFE, 0}, {21, 0}})),
         "TEXT 100 text FE 08\n", 0},
        {"operator with one value", {0, 0}, expr(0x32, cat({push10, {4, 0}})), "TEXT 100 text 00 00\n", 513},
        {"operator on an empty stack", {0, 0}, expr(0x32, {13, 0}), "TEXT 100 text 00 00\n", 513},
        {"later push is the left operand", {0, 0}, expr(0x32, cat({push10, push20, {5, 0}})),
         "TEXT 100 text 10 00\n", 0},
        {"two values left", {0, 0}, expr(0x32, cat({push10, push20, {0}})), "TEXT 100 text 00 00\n", 513},
        {"division by zero", {0, 0}, expr(0x32, cat({{3, 0, 0, 0, 0}, push20, {7, 0}})), "TEXT 100 text 00 00\n",
         513},
        {"modulo by zero", {0, 0}, expr(0x32, cat({{3, 0, 0, 0, 0}, push20, {17, 0}})), "TEXT 100 text 00 00\n",
         513},
        {"stack deeper than 64", {0, 0}, expr(0x32, [] {
             bytes ops;
             for (int i = 0; i < 65; i++)
                 ops.insert(ops.end(), push10.begin(), push10.end());
             return ops;
         }()),
         "TEXT 100 text 00 00\n", 513},
        {"unknown operator", {0, 0}, expr(0x32, cat({push10, {99, 0}})), "TEXT 100 text 10 00\n", 512},
        {"range check equal passes, no patch", {1, 0}, expr(0x32, cat({push10, push10, {18}})),
         "TEXT 100 text 01 00\n", 0},
        {"range check over the limit", {1, 0}, expr(0x32, cat({push20, push10, {18}})),
         "TEXT 100 text 01 00\n", 478},
        {"offset past the data", {0}, entry(1, 0x11, "text"), "TEXT 100 text 00\n", 508},
        {"kind B0h", {0}, entry(0, 0xB1, "text"), "TEXT 100 text 00\n", 514},
        {"expression without its end", {0}, expr(0x31, push10), "TEXT 100 text 00\n", 1393},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        workdir w;
        write_file(w.at("a.obj"), fixup_module(r.data, r.reloc).out);
        run_result res = run_heron(w, "-Ptext=100h -oout.obj a.obj");
        std::string dump = dump_object(read_file(w.at("out.obj")));
        EXPECT_NE(dump.find(r.text), std::string::npos) << dump;
        if (r.message) {
            EXPECT_TRUE(reported(res, r.message)) << res.err;
            EXPECT_NE(res.status, 0);
        } else {
            EXPECT_EQ(res.err, "");
            EXPECT_EQ(res.status, 0);
        }
    }
}

// A START record between a TEXT record and its RELOC sends the text out
// first; the fixup then comes too late for those bytes and is reported,
// never left out of the output without a word.
TEST(HeronReloc, FixupAfterItsTextWasWritten)
{
    workdir w;
    module m;
    m.ident().psect("text").text(0, "text", {0x34, 0x12}).start(0, "text").raw(3, entry(0, 0x12, "text")).end();
    write_file(w.at("a.obj"), m.out);
    run_result res = run_heron(w, "-Ptext=100h -oout.obj a.obj");
    EXPECT_TRUE(reported(res, 508)) << res.err;
    EXPECT_EQ(res.status, 1);
}

TEST(HeronReloc, OverflowNamesTheSourceLine)
{
    // Line 12 of main.c starts at offset 0, line 14 at offset 2: the field at
    // offset 1 belongs to line 12, whether a symbol or an expression overflows it.
    struct row {
        bytes reloc;
        const char *message;
    };
    const row rows[] = {
        {entry(1, 0x21, "_w"), "main.c: 12: (1267) fixup overflow referencing symbol _w (0x100) into 1 byte at 0x101"},
        {bytes{1, 0, 0x31, 3, 0, 1, 0, 0, 0}, "main.c: 12: (1268) fixup overflow storing 0x110 in 1 byte at 0x101"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.message);
        workdir w;
        module m;
        m.ident().psect("text").text(0, "text", {0, 0x10, 0}).raw(3, r.reloc);
        m.sym({{"main.c", 0, 5, ""}, {"12", 0, 4, "text"}, {"14", 2, 4, "text"}, {"_w", 0xF0, 0x10, ""}});
        m.start(0, "text").end();
        write_file(w.at("a.obj"), m.out);
        run_result res = run_heron(w, "-Ptext=100h -oout.obj a.obj");
        EXPECT_NE(res.err.find(r.message), std::string::npos) << res.err;
        EXPECT_NE(res.status, 0);
    }
}

TEST(HeronReloc, ConditionSkipsTheModule)
{
    // CONDITION 0: the rest of a.obj (its TEXT and SYM) is skipped, its END
    // still counts; b.obj's text then starts at 0.
    for (unsigned value : {0u, 1u}) {
        SCOPED_TRACE(value);
        workdir w;
        module a;
        a.ident().psect("text").raw(19, {3, (uint8_t)value, 0, 0, 0, 0}).text(0, "text", {0xAA});
        a.sym({{"_a", 0, 0x10, "text"}}).end();
        module b;
        b.ident().psect("text").text(0, "text", {0xBB}).sym({{"_b", 0, 0x10, "text"}}).start(0, "text").end();
        write_file(w.at("a.obj"), a.out);
        write_file(w.at("b.obj"), b.out);
        run_result res = run_heron(w, "-Ptext=0 -Hout.sym -oout.obj a.obj b.obj");
        std::string dump = dump_object(read_file(w.at("out.obj")));
        std::string sym = read_text(w.at("out.sym"));
        if (value == 0) {
            EXPECT_EQ(dump.find("AA"), std::string::npos) << dump;
            EXPECT_NE(dump.find("TEXT 0 text BB"), std::string::npos) << dump;
            EXPECT_EQ(sym.find("_a "), std::string::npos) << sym;
        } else {
            EXPECT_NE(dump.find("TEXT 1 text BB"), std::string::npos) << dump;
            EXPECT_NE(sym.find("_a 0 0\n"), std::string::npos) << sym;
        }
    }
}

TEST(HeronReloc, ListingFixup)
{
    // The intermediate listing: a text chunk, a fixup printing _main (10h)
    // in 4 digits, a hidden chunk between two conditions, a shown chunk.
    workdir w;
    module lst;
    bytes fix = {0, 0, 0, 0, 0, 0x32, 4, 32, '_', 'm', 'a', 'i', 'n', 0, 0};
    lst.ident().raw(17, {' ', ' ', '0', '0', ' '}).raw(18, fix).raw(17, {' ', 'm', 'a', 'i', 'n', '\n'});
    lst.raw(19, {3, 1, 0, 0, 0, 0}).raw(17, {'h', 'i', 'd', 'e', '\n'}).raw(19, {3, 0, 0, 0, 0, 0});
    lst.raw(17, {'s', 'h', 'o', 'w', '\n'}).end();
    module m;
    m.ident().psect("text").text(0, "text", {0}).sym({{"_main", 0, 0x10, "text"}});
    m.raw(16, {'a', '.', 'l', 's', '1', 0, 'a', '.', 'l', 's', 't', 0}).start(0, "text").end();
    write_file(w.at("a.ls1"), lst.out);
    write_file(w.at("a.obj"), m.out);
    run_result res = run_heron(w, "-Ptext=10h -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(read_text(w.at("a.lst")), "  00 0010 main\nshow\n");
    remove(w.at("a.lst").c_str());
    run_result off = run_heron(w, "--norlf -Ptext=10h -oout.obj a.obj");
    EXPECT_EQ(off.status, 0) << off.err;
    EXPECT_TRUE(read_file(w.at("a.lst")).empty());
    write_file(w.at("b.obj"), m.out);
    remove(w.at("a.ls1").c_str());
    run_result gone = run_heron(w, "-Ptext=10h -oout.obj b.obj");
    EXPECT_TRUE(reported(gone, 524)) << gone.err;
    EXPECT_EQ(gone.status, 0);
}

// The object names its final listing; one that names an input (the
// intermediate listing, an object) or another output of the link stops the
// link before that file is touched.
TEST(HeronReloc, ListingNeverReplacesAnInputOrOutput)
{
    struct row {
        const char *final_name;
        unsigned message;
    };
    const row rows[] = {{"a.ls1", 398}, {"b.obj", 398}, {"./a.obj", 398}, {"out.obj", 378}, {"l.map", 378}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.final_name);
        workdir w;
        module lst;
        lst.ident().raw(17, {'x', '\n'}).end();
        module m;
        m.ident().psect("text").text(0, "text", {0});
        bytes names = {'a', '.', 'l', 's', '1', 0};
        names.insert(names.end(), r.final_name, r.final_name + strlen(r.final_name) + 1);
        m.raw(16, names).start(0, "text").end();
        module other;
        other.ident().psect("data").text(0, "data", {7}).end();
        write_file(w.at("a.ls1"), lst.out);
        write_file(w.at("a.obj"), m.out);
        write_file(w.at("b.obj"), other.out);
        const bytes inputs[] = {lst.out, m.out, other.out};
        run_result res = run_heron(w, "-Ptext=10h,data -oout.obj -Ml.map a.obj b.obj");
        EXPECT_EQ(res.status, 1);
        EXPECT_TRUE(reported(res, r.message)) << res.err;
        EXPECT_EQ(read_file(w.at("a.ls1")), inputs[0]);
        EXPECT_EQ(read_file(w.at("a.obj")), inputs[1]);
        EXPECT_EQ(read_file(w.at("b.obj")), inputs[2]);
    }
}

TEST(HeronReloc, KeptInTheOutput)
{
    // -L keeps psect entries below 80h as {offset, kind & 8Fh, psect}.
    workdir w;
    write_file(w.at("a.obj"), fixup_module({0x34, 0x12, 0}, entry(0, 0x12, "text")).out);
    run_result res = run_heron(w, "-L -Ptext=100h -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    std::string dump = dump_object(read_file(w.at("out.obj")));
    EXPECT_NE(dump.find("TEXT 100 text 34 13 00\nRELOC 0 02 text\n"), std::string::npos) << dump;
    // -R: no placement, offsets within the psect, the size as a record of its own.
    run_result rel = run_heron(w, "-R -oout.obj a.obj");
    EXPECT_EQ(rel.status, 0) << rel.err;
    std::string rdump = dump_object(read_file(w.at("out.obj")));
    EXPECT_NE(rdump.find("TEXT 3 text\n"), std::string::npos) << rdump;
    EXPECT_NE(rdump.find("TEXT 0 text 34 12 00\nRELOC 0 12 text\n"), std::string::npos) << rdump;
    // -LM keeps the entries from 80h on (an 8-bit field of kind D8h), not those below.
    write_file(w.at("m.obj"), fixup_module({0x34, 0x12, 0}, cat({entry(0, 0x12, "text"), entry(2, 0xD8, "text")})).out);
    run_result high = run_heron(w, "-LM -Ptext=10h -oout.obj m.obj");
    EXPECT_EQ(high.status, 0) << high.err;
    std::string hdump = dump_object(read_file(w.at("out.obj")));
    EXPECT_NE(hdump.find("TEXT 10 text 44 12 10\nRELOC 2 88 text\n"), std::string::npos) << hdump;
}

TEST(HeronReloc, RelocatableOutputKeepsPsectReferences)
{
    // a.obj puts 3 bytes into text, b.obj 2 more with _x at its first byte:
    // in the combined psect _x is at 3 and b's part starts at 3. Both fields
    // of b then hold 3 and refer to the psect text; a reference to the
    // undefined _u stays a symbol reference; a bit-field kind cannot be kept.
    workdir w;
    module a;
    a.ident().psect("text").text(0, "text", {0, 0, 0}).end();
    module b;
    b.ident().psect("text").text(0, "text", {0, 0, 0, 0});
    b.raw(3, cat({entry(0, 0x21, "_x"), entry(1, 0x11, "text"), entry(2, 0x21, "_u"), entry(3, 0xE4, "_x")}));
    b.sym({{"_x", 0, 0x10, "text"}}).end();
    write_file(w.at("a.obj"), a.out);
    write_file(w.at("b.obj"), b.out);
    run_result res = run_heron(w, "-R -oout.obj a.obj b.obj");
    EXPECT_TRUE(reported(res, 514)) << res.err;
    std::string dump = dump_object(read_file(w.at("out.obj")));
    EXPECT_NE(dump.find("TEXT 3 text 03 03 00 "), std::string::npos) << dump;
    EXPECT_NE(dump.find("RELOC 0 11 text\nRELOC 1 11 text\nRELOC 2 21 _u\n"), std::string::npos) << dump;
}

} // namespace
