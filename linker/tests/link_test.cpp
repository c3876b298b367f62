// Whole-link tests of heron: hand-built modules and libraries, the output
// object compared with a hand-made dump, the three symbol-file forms, and the
// record, version, definition and command-line rules. Expected addresses and
// values are worked out by hand; the slot order of the global symbols follows
// the table's hash (sum of byte << (index mod 16), modulo 28813).
#include "objbuild.h"

using namespace fx;

namespace {

// a.obj: 4 bytes of text; bytes 2-3 are a 16-bit reference to _b; start at 0.
module module_a()
{
    module m;
    m.ident().psect("text").text(0, "text", {1, 2, 3, 4}).reloc(2, 0x22, "_b");
    m.sym({{"_main", 0, 0x10, "text"}, {"_b", 0, 0x16, ""}}).start(0, "text").end();
    return m;
}

// b.obj: 2 bytes of text; _b at its second byte; needs _lib; a local l1.
module module_b()
{
    module m;
    m.ident().psect("text").text(0, "text", {0xAA, 0xBB});
    m.sym({{"_b", 1, 0x10, "text"}, {"_lib", 0, 0x16, ""}, {"l1", 0, 0x00, "text"}}).end();
    return m;
}

// m.lib: lib.obj defines _lib in psect data; unused.obj is never needed.
bytes library_m()
{
    module lib, unused;
    lib.ident().psect("data").text(0, "data", {0x55}).sym({{"_lib", 0, 0x10, "data"}}).end();
    unused.ident().psect("data").text(0, "data", {0x66}).sym({{"_unused", 0, 0x10, "data"}}).end();
    return make_library({{"lib.obj", lib.out, {{0, "_lib"}}}, {"unused.obj", unused.out, {{0, "_unused"}}}});
}

void write_inputs(const workdir &w)
{
    write_file(w.at("a.obj"), module_a().out);
    write_file(w.at("b.obj"), module_b().out);
    write_file(w.at("m.lib"), library_m());
}

// text at 10h: a's 4 bytes, then b's 2 (so _b = 10h + 4 + 1 = 15h); data
// right after at 16h. The field 0403h + 15h = 0418h.
const char golden_object[] =
    "IDENT PIC14 3.4\n"
    "SYM _b 15 0010 text\n"
    "SYM _lib 16 0010 data\n"
    "SYM _main 10 0010 text\n"
    "SYM __Hdata 17 0010 data\n"
    "SYM __Ldata 16 0010 data\n"
    "SYM __Htext 16 0010 text\n"
    "SYM __Ltext 10 0010 text\n"
    "TEXT 10 text 01 02 18 04\n"
    "START 10 text\n"
    "TEXT 14 text AA BB\n"
    "SYM l1 14 0000 text\n"
    "TEXT 16 data 55\n"
    "END 0000\n";

TEST(HeronLink, TwoModulesAndALibrary)
{
    struct row {
        const char *option;
        const char *symbols;
    };
    const row rows[] = {
        {"-H+",
         "_b 15 0 ABS\n_lib 16 0 ABS\n_main 10 0 ABS\n__Hdata 17 0 ABS\n__Ldata 16 0 ABS\n"
         "__Htext 16 0 ABS\n__Ltext 10 0 ABS\n%segments\ntext 10 16  10\n%locals\nb.obj\nl1 14 0 ABS\n"},
        {"-H",
         "_b 15 0\n_lib 16 0\n_main 10 0\n__Hdata 17 0\n__Ldata 16 0\n__Htext 16 0\n__Ltext 10 0\n"
         "%locals\nb.obj\nl1 14 0\n"},
        {"-D",
         "0015 _b\n0016 _lib\n0010 _main\n0017 __Hdata\n0016 __Ldata\n0016 __Htext\n0010 __Ltext\n0014 l1\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.option);
        workdir w;
        write_inputs(w);
        run_result res = run_heron(w, std::string(r.option) + "out.sym -Ptext=10h,data -oout.obj a.obj b.obj m.lib");
        EXPECT_EQ(res.status, 0) << res.err;
        EXPECT_EQ(res.err, "");
        EXPECT_EQ(dump_object(read_file(w.at("out.obj"))), golden_object);
        EXPECT_EQ(read_text(w.at("out.sym")), r.symbols);
    }
}

} // namespace
