// Link-map tests: a whole map compared with a golden file written by hand
// from the map's line formats, the symbol table in each of its orders, the
// debug-level class bounds, and lines too narrow for one symbol entry.
//
// The fixture: main.obj puts 6 bytes into text (class CODE, 0-3FFh) and 3
// into bss (class BANK0, 20h-6Fh); a module with a name of 22 characters
// adds 4 bytes of text and 2 of misc, a psect without a class at 300h, which
// also takes 300h-301h out of CODE (same space).
#include "objbuild.h"

using namespace fx;

namespace {

const char map_args[] = "-ACODE=0-3FFh -ABANK0=20h-6Fh -Ptext=CODE -Pbss=BANK0 -Pmisc=300h -oout.obj main.obj "
                        "a_long_module_name.obj";

std::string golden(const char *name)
{
    return read_text(std::string(ZEPH_SOURCE_DIR) + "/linker/tests/golden/" + name);
}

// Links the fixture with `options` before the common arguments; the map.
// The link reports nothing, or only the given warning.
std::string link_map(const workdir &w, const std::string &options, unsigned warning = 0)
{
    module m;
    m.ident().psect("text").xpsect("text", "CODE").psect("bss").xpsect("bss", "BANK0", 1, 1);
    m.text(0, "text", {1, 2, 3, 4, 5, 6}).text(3, "bss", {});
    m.sym({{"_main", 0, 0x10, "text"}, {"_count", 1, 0x10, "bss"}}).start(0, "text").end();
    module l;
    l.ident().psect("text").xpsect("text", "CODE").psect("misc");
    l.text(0, "text", {7, 8, 9, 10}).text(0, "misc", {11, 12});
    l.sym({{"_helper", 0, 0x10, "text"}}).end();
    write_file(w.at("main.obj"), m.out);
    write_file(w.at("a_long_module_name.obj"), l.out);
    run_result res = run_heron(w, options + map_args);
    EXPECT_EQ(res.status, 0) << res.err;
    if (warning)
        EXPECT_TRUE(reported(res, warning)) << res.err;
    else
        EXPECT_EQ(res.err, "");
    return read_text(w.at("map.txt"));
}

TEST(HeronMap, WholeMap)
{
    workdir w;
    EXPECT_EQ(link_map(w, "-Mmap.txt "), golden("map_default.txt"));
}

TEST(HeronMap, SymbolTableOrders)
{
    struct row {
        const char *options;
        const char *file;   // golden symbol table, from its heading to the end
    };
    const row rows[] = {
        {"-N ", "symbols_N.txt"},
        {"-Ns ", "symbols_Ns.txt"},
        {"-Nc ", "symbols_Nc.txt"},
        {"-8 ", "symbols_8.txt"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.options);
        workdir w;
        std::string map = link_map(w, std::string("-Mmap.txt ") + r.options);
        std::string want = golden(r.file);
        ASSERT_GE(map.size(), want.size()) << map;
        EXPECT_EQ(map.substr(map.size() - want.size()), want) << map;
        // The unused ranges keep the plain digit width with -8 as well.
        EXPECT_NE(map.find("        CODE             00A-2FF\n"), std::string::npos) << map;
    }
}

TEST(HeronMap, DebugLevelShowsClassBounds)
{
    workdir w;
    std::string map = link_map(w, "-Mmap.txt -Debug ");
    EXPECT_NE(map.find("        CLASS   CODE            Bounds: 0-9\n"
                       "                text             0        0        A     0\n"),
              std::string::npos)
        << map;
    EXPECT_NE(map.find("        CLASS   BANK0           Bounds: 20-22\n"), std::string::npos) << map;
}

TEST(HeronMap, NarrowLinesHoldOneEntryEach)
{
    // An entry wider than the map: one entry per line, never none.
    workdir w;
    std::string name(90, 'n');
    module m;
    m.ident().psect("text").text(0, "text", {0}).sym({{name, 0, 0x10, "text"}, {"_b", 0, 0x10, "text"}});
    m.start(0, "text").end();
    write_file(w.at("a.obj"), m.out);
    run_result res = run_heron(w, "-Mmap.txt -Ptext=0 -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    std::string map = read_text(w.at("map.txt"));
    std::string pad(name.size() - 2, ' ');
    EXPECT_NE(map.find("Symbol Table\n\n__Htext" + std::string(name.size() - 7, ' ') + " text 1\n"
                       "__Ltext" + std::string(name.size() - 7, ' ') + " text 0\n"
                       "_b" + pad + " text 0\n" + name + " text 0\n"),
              std::string::npos)
        << map;
}

TEST(HeronMap, BitPsectShowsItsScale)
{
    // 10 bits of a bit psect placed at byte 20h: link address 100h (bits),
    // load address 20h (bytes), selector 20h (its load address), length Ah
    // (bits), scale 8 at the end of the module line.
    workdir w;
    module m;
    m.ident().psect("bits", 0x410).text(10, "bits", {}).psect("text").text(0, "text", {0}).start(0, "text").end();
    write_file(w.at("a.obj"), m.out);
    run_result res = run_heron(w, "-Mmap.txt -Pbits=20h -Ptext=0 -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    std::string map = read_text(w.at("map.txt"));
    EXPECT_NE(map.find("a.obj           bits           100       20        A      20     0    8\n"
                       "                text             0        0        1       0     0\n"),
              std::string::npos)
        << map;
    EXPECT_NE(map.find("        NON-CLASSED\n                bits           100       20        A     0\n"),
              std::string::npos)
        << map;
}

TEST(HeronMap, CommandLineWrapsBeforeTheWidthLessFour)
{
    // -W200: the line breaks before the argument that would reach column
    // 196; -W5 is too narrow and leaves 80 columns, so it breaks at 76.
    const std::string q = "-Q" + std::string(150, 'X');
    struct row {
        const char *width;
        std::string lines;
    };
    const row rows[] = {
        {"-W200 ", "-W200 -Mmap.txt " + q + " -ACODE=0-3FFh \\\n  -ABANK0=20h-6Fh -Ptext=CODE "},
        {"-W5 ", "-W5 -Mmap.txt \\\n  " + q + " \\\n  -ACODE=0-3FFh -ABANK0=20h-6Fh -Ptext=CODE "},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.width);
        workdir w;
        std::string map = link_map(w, r.width + std::string("-Mmap.txt ") + q + " ");
        EXPECT_EQ(map.find("Linker command line:\n\n" + r.lines), 29u) << map;   // after the heading
    }
}

TEST(HeronMap, RelocatableOutputLeavesLinkAddressesOut)
{
    // With -R the -P options are not applied (misc is laid at 0, 526):
    // module lines show offsets within the psect and the TOTAL block leaves
    // the link column blank.
    workdir w;
    std::string map = link_map(w, "-R -Mmap.txt ", 526);
    EXPECT_NE(map.find("a_long_module_name.obj\n                text             6        6        4"), std::string::npos)
        << map;
    const std::string text_line = std::string(16, ' ') + "text     " + " " + std::string(8, ' ') + " " + "       0" + " " +
                                  "       A" + " " + "    0\n";
    EXPECT_NE(map.find("        CLASS   CODE           \n" + text_line), std::string::npos) << map;
}

} // namespace
