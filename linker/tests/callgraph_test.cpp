// Call-graph tests: function blocks overlaid in the FNCONF psect, roots kept
// apart, recursion and other call-graph messages. Offsets are worked out by
// hand from the walk: a callee's blocks start above its caller's.
#include "objbuild.h"

using namespace fx;

namespace {

struct fn_sub {
    unsigned kind;
    std::string a;
    std::string b = "";   // callee or root
    uint32_t s1 = 0;      // FNSIZE sizes
    uint32_t s2 = 0;
};

bytes fninfo(std::initializer_list<fn_sub> subs)
{
    bytes out;
    for (const fn_sub &f : subs) {
        out.push_back((uint8_t)f.kind);
        out.insert(out.end(), f.a.begin(), f.a.end());
        out.push_back(0);
        if (f.kind == 1 || f.kind == 2 || f.kind == 9) {
            out.insert(out.end(), f.b.begin(), f.b.end());
            out.push_back(0);
        }
        if (f.kind == 5)
            for (uint32_t v : {f.s1, f.s2})
                for (int i = 0; i < 4; i++)
                    out.push_back((uint8_t)(v >> (8 * i)));
    }
    return out;
}

const bytes fnconf = {'f', 'n', 'a', 'u', 't', 'o', 'c', 0, '?', '?', 0, '?', 0};

// Functions _main, _a, _b, _c, _isr in text; references to their blocks.
module graph_module(const bytes &info, bool with_conf = true)
{
    module m;
    m.ident().psect("text").text(0, "text", {0, 0}).psect("fnautoc");
    if (with_conf)
        m.raw(13, fnconf);
    m.sym({{"_main", 0, 0x10, "text"}, {"_a", 0, 0x10, "text"}, {"_b", 0, 0x10, "text"},
           {"_c", 0, 0x10, "text"}, {"_isr", 0, 0x10, "text"}, {"??_main", 0, 0x16, ""},
           {"??_a", 0, 0x16, ""}, {"??_b", 0, 0x16, ""}, {"??_c", 0, 0x16, ""}, {"??_isr", 0, 0x16, ""}});
    m.raw(12, info).start(0, "text").end();
    return m;
}

run_result link_graph(const workdir &w, const module &m)
{
    write_file(w.at("a.obj"), m.out);
    return run_heron(w, "-Ptext=0 -Pfnautoc=20h -Hout.sym -oout.obj a.obj");
}


TEST(HeronCallGraph, BlocksOverlaid)
{
    // main (2 bytes) calls a and b (4 each): a and b share offset 2, the
    // block area is 6 bytes; the interrupt root comes after main's tree.
    workdir w;
    run_result res = link_graph(w, graph_module(fninfo({{5, "_main", "", 2, 0}, {5, "_a", "", 4, 0},
                                                        {5, "_b", "", 4, 0}, {5, "_isr", "", 3, 0},
                                                        {5, "_c", "", 0, 0}, {1, "_main", "_a"},
                                                        {1, "_main", "_b"}, {6, "_main"}, {6, "_isr"},
                                                        {1, "_isr", "_c"}})));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, "");
    expect_lines(read_text(w.at("out.sym")),
                 "??_main 20 0|??_a 22 0|??_b 22 0|??_isr 26 0|??_c 29 0|__Hfnautoc 29 0");
}

TEST(HeronCallGraph, MapListing)
{
    // As above with b's block 2 bytes: b is not on a critical path.
    const std::string main_root = "_main size 0,2 offset 0\n*    _a size 0,4 offset 2\n";
    const std::string isr_root =
        "\nEstimated maximum call depth: 1\n\n*_isr size 0,3 offset 6\n*    _c size 0,0 offset 9\n"
        "\nEstimated maximum call depth: 2\n\n\n";
    struct row {
        const char *option;
        std::string section;
    };
    const row rows[] = {
        {"", "Call graph: (short form)\n*" + main_root + "     _b size 0,2 offset 2\n" + isr_root},
        {"-Cf", "Call graph: (fully expanded)\n*" + main_root + "     _b size 0,2 offset 2\n" + isr_root},
        {"-Cc", "Call graph (critical paths only):\n*" + main_root + isr_root},
        {"-Cn", "Call graph suppressed\n\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.option);
        workdir w;
        write_file(w.at("a.obj"), graph_module(fninfo({{5, "_main", "", 2, 0}, {5, "_a", "", 4, 0},
                                                        {5, "_b", "", 2, 0}, {5, "_isr", "", 3, 0},
                                                        {5, "_c", "", 0, 0}, {1, "_main", "_a"},
                                                        {1, "_main", "_b"}, {6, "_main"}, {6, "_isr"},
                                                        {1, "_isr", "_c"}})).out);
        run_result res = run_heron(w, std::string("-Mmap.txt ") + r.option + " -Ptext=0 -Pfnautoc=20h -oout.obj a.obj");
        EXPECT_EQ(res.status, 0) << res.err;
        std::string map = read_text(w.at("map.txt"));
        EXPECT_NE(map.find("Machine type is PIC14\n\n" + r.section + "                Name"), std::string::npos)
            << map;
        // the block psect is listed with the 9 bytes the blocks take
        EXPECT_NE(map.find("                fnautoc         20       20        9     0\n"), std::string::npos) << map;
    }
}

TEST(HeronCallGraph, Messages)
{
    // Blocks the rows do not define stay undefined (499): only the
    // call-graph message is checked.
    struct row {
        const char *what;
        bytes info;
        bool conf;
        unsigned message;
        bool present;
    };
    const row rows[] = {
        {"recursion", fninfo({{5, "_a", "", 2, 0}, {5, "_b", "", 2, 0}, {1, "_a", "_b"}, {1, "_b", "_a"},
                              {6, "_a"}}), true, 471, true},
        {"recursion of size 0", fninfo({{1, "_a", "_b"}, {1, "_b", "_a"}, {6, "_a"}}), true, 471, false},
        {"never called", fninfo({{5, "_a", "", 2, 0}, {5, "_c", "", 2, 0}, {6, "_a"}}), true, 520, true},
        {"two roots", fninfo({{5, "_c", "", 2, 0}, {1, "_a", "_c"}, {1, "_b", "_c"}, {6, "_a"}, {6, "_b"}}),
         true, 472, true},
        {"no FNCONF", fninfo({{5, "_a", "", 2, 0}, {6, "_a"}}), false, 474, true},
        {"unknown callee", fninfo({{1, "_a", "_nobody"}}), true, 468, true},
        {"unknown root", fninfo({{6, "_nobody"}}), true, 469, true},
        {"unknown kind", bytes{42, 'x', 0}, true, 375, true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        workdir w;
        run_result res = link_graph(w, graph_module(r.info, r.conf));
        EXPECT_EQ(reported(res, r.message), r.present) << res.err;
        EXPECT_LT(res.status, 128);
    }
}

TEST(HeronCallGraph, RecursionNamesTheCycle)
{
    // _a calls _b and _b calls _a. The argument blocks have size 0, so _a's
    // argument node met again is passed through; its automatic node (2
    // bytes) is the one reported, followed back along its callers.
    workdir w;
    run_result res = link_graph(w, graph_module(fninfo({{5, "_a", "", 2, 0}, {5, "_b", "", 2, 0},
                                                        {1, "_a", "_b"}, {1, "_b", "_a"}, {6, "_a"}})));
    EXPECT_NE(res.err.find("(471) recursive function calls: "), std::string::npos) << res.err;
    EXPECT_NE(res.err.find("_a -> ARG(_a) -> _b -> ARG(_b) -> \n"), std::string::npos) << res.err;
}

TEST(HeronCallGraph, TwoHundredIndirectLists)
{
    // _main calls through 200 lists, each with _a as its only member: the
    // table of lists holds them all, and _a's blocks still come after main's.
    workdir w;
    module m = graph_module(fninfo({{5, "_main", "", 2, 0}, {5, "_a", "", 4, 0}, {6, "_main"}}));
    write_file(w.at("a.obj"), m.out);
    module lists;
    lists.ident().raw(11, {201, 0, '_', 'a', 0});   // _a's signature 201: a member of list 201
    for (unsigned first = 1; first <= 200; first += 20) {
        bytes calls;
        for (unsigned n = first; n < first + 20; n++) {
            calls.insert(calls.end(), {3, '_', 'm', 'a', 'i', 'n', 0, (uint8_t)n, (uint8_t)(n >> 8)});
            calls.insert(calls.end(), {8, (uint8_t)n, (uint8_t)(n >> 8), 201, 0});   // list 201 under list n
        }
        lists.raw(12, calls);
    }
    lists.raw(12, fninfo({{4, "_a"}})).end();
    write_file(w.at("b.obj"), lists.out);
    run_result res = run_heron(w, "-Ptext=0 -Pfnautoc=20h -Hout.sym -oout.obj a.obj b.obj");
    EXPECT_LT(res.status, 128) << res.err;
    EXPECT_FALSE(reported(res, 471)) << res.err;
    std::string sym = read_text(w.at("out.sym"));
    EXPECT_NE(sym.find("??_main 20 0\n"), std::string::npos) << sym;
    EXPECT_NE(sym.find("??_a 22 0\n"), std::string::npos) << sym;
}

TEST(HeronCallGraph, CallsThatFanOutAndJoinAgain)
{
    // _main calls _a0 and _b0; each of _a<i>, _b<i> calls both _a<i+1> and
    // _b<i+1>: 2^40 call paths through 81 functions of 2 bytes each. Layer i
    // lies above layer i-1, so _a39 and _b39 share offset 2 + 39 * 2 and the
    // block area ends 2 bytes later.
    const unsigned layers = 40;
    std::vector<std::string> names = {"_main"};
    for (unsigned i = 0; i < layers; i++)
        for (const char *c : {"_a", "_b"})
            names.push_back(c + std::to_string(i));
    module m;
    m.ident().psect("text").text(0, "text", {0, 0}).psect("fnautoc").raw(13, fnconf);
    for (const std::string &n : names)
        m.sym({{n, 0, 0x10, "text"}, {"??" + n, 0, 0x16, ""}});
    std::vector<bytes> records = {fninfo({{6, "_main"}})};
    for (const std::string &n : names)
        records.push_back(fninfo({{5, n, "", 2, 0}}));
    for (unsigned i = 0; i < layers; i++)
        for (const char *to : {"_a", "_b"}) {
            std::string callee = to + std::to_string(i);
            if (i == 0) {
                records.push_back(fninfo({{1, "_main", callee}}));
                continue;
            }
            for (const char *from : {"_a", "_b"})
                records.push_back(fninfo({{1, from + std::to_string(i - 1), callee}}));
        }
    for (const bytes &r : records)
        m.raw(12, r);
    m.start(0, "text").end();
    workdir w;
    run_result res = link_graph(w, m);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, "");
    expect_lines(read_text(w.at("out.sym")), "??_main 20 0|??_a0 22 0|??_b0 22 0|??_a39 70 0|??_b39 70 0|"
                                             "__Hfnautoc 72 0");
}

TEST(HeronCallGraph, RelocatableOutputKeepsTheGraph)
{
    // The overlay example linked with -R first: the FNCONF and FNINFO
    // records written back give the same blocks when the result is linked.
    workdir w;
    write_file(w.at("a.obj"), graph_module(fninfo({{5, "_main", "", 2, 0}, {5, "_a", "", 4, 0},
                                                   {5, "_b", "", 4, 0}, {1, "_main", "_a"},
                                                   {1, "_main", "_b"}, {6, "_main"}})).out);
    run_result rel = run_heron(w, "-R -or.obj a.obj");
    EXPECT_EQ(rel.status, 0) << rel.err;
    run_result res = run_heron(w, "-Ptext=0 -Pfnautoc=20h -Hout.sym -oout.obj r.obj");
    std::string sym = read_text(w.at("out.sym"));
    for (const char *line : {"??_main 20 0\n", "??_a 22 0\n", "??_b 22 0\n", "__Hfnautoc 26 0\n"})
        EXPECT_NE(sym.find(line), std::string::npos) << line << sym << res.err;
}

TEST(HeronCallGraph, OwnRootsAndCallDepth)
{
    // -K: the calls are dropped and every function with sizes is a root of
    // its own, in the order of its sizes, so no blocks share memory.
    const bytes info = fninfo({{5, "_main", "", 2, 0}, {5, "_a", "", 4, 0}, {5, "_b", "", 4, 0},
                               {5, "_isr", "", 3, 0}, {5, "_c", "", 0, 0}, {1, "_main", "_a"},
                               {1, "_main", "_b"}, {6, "_main"}});
    workdir w;
    write_file(w.at("a.obj"), graph_module(info).out);
    run_result own = run_heron(w, "-K -Ptext=0 -Pfnautoc=20h -Hout.sym -oout.obj a.obj");
    EXPECT_EQ(own.status, 0) << own.err;
    expect_lines(read_text(w.at("out.sym")), "??_main 20 0|??_a 22 0|??_b 26 0|??_isr 2A 0|??_c 2D 0");

    // A maximum call depth of 1 in FNCONF: _a, called from _main, is too deep.
    workdir v;
    module m;
    m.ident().psect("text").text(0, "text", {0, 0}).psect("fnautoc");
    bytes conf = fnconf;
    conf.insert(conf.end(), {1, 0});
    m.raw(13, conf).sym({{"_main", 0, 0x10, "text"}, {"_a", 0, 0x10, "text"}, {"??_main", 0, 0x16, ""},
                         {"??_a", 0, 0x16, ""}});
    m.raw(12, fninfo({{5, "_main", "", 2, 0}, {5, "_a", "", 4, 0}, {1, "_main", "_a"}, {6, "_main"}}));
    m.start(0, "text").end();
    write_file(v.at("a.obj"), m.out);
    run_result deep = run_heron(v, "-Mmap.txt -Ptext=0 -Pfnautoc=20h -oout.obj a.obj");
    EXPECT_EQ(deep.status, 0) << deep.err;
    EXPECT_TRUE(reported(deep, 521)) << deep.err;
    std::string map = read_text(v.at("map.txt"));
    EXPECT_NE(map.find("_a size 0,4 offset 2 *** OVERDEEP ***\n"), std::string::npos) << map;
    EXPECT_EQ(map.find("_main size 0,2 offset 0 *** OVERDEEP"), std::string::npos) << map;
}

TEST(HeronCallGraph, FunctionsLocalToAModule)
{
    // _s and _t are static functions of the module (defined, kind 7, so
    // known in the first pass): _main's call gives _s its block after
    // main's; _t, never called, is still reported.
    workdir w;
    module m;
    m.ident().psect("text").text(0, "text", {0, 0}).psect("fnautoc").raw(13, fnconf);
    m.sym({{"_main", 0, 0x10, "text"}, {"_s", 0, 0x07, "text"}, {"_t", 0, 0x07, "text"},
           {"??_main", 0, 0x16, ""}, {"??_s", 0, 0x16, ""}, {"??_t", 0, 0x16, ""}});
    m.raw(12, fninfo({{5, "_main", "", 2, 0}, {5, "_s", "", 3, 0}, {5, "_t", "", 1, 0}, {1, "_main", "_s"},
                      {6, "_main"}}));
    m.start(0, "text").end();
    write_file(w.at("a.obj"), m.out);
    run_result res = run_heron(w, "-Ptext=0 -Pfnautoc=20h -Hout.sym -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_NE(res.err.find("(520) function \"_t\" is never called"), std::string::npos) << res.err;
    expect_lines(read_text(w.at("out.sym")), "??_main 20 0|??_s 22 0");
}

} // namespace
