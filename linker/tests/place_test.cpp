// Placement tests of heron: the driver's kind of argument set for a
// mid-range chip with objects shaped like the start-up code and the code
// generator's output, and tables of -A, -S, -C, -P, first-fit and selector
// cases. Addresses are worked out by hand; symbol-file values are in address
// units (bytes divided by the class delta).
#include "objbuild.h"

using namespace fx;

namespace {

// A global psect of a class with `n` bytes of data (RAM psects: a TEXT record
// without data declares the size).
void add_psect(module &m, const std::string &name, const std::string &cls, unsigned delta, unsigned space,
               unsigned n, bool data = true, unsigned flags = 0x10, unsigned boundary = 0)
{
    m.psect(name, flags).xpsect(name, cls, delta, space, 0, boundary);
    if (data) {
        for (unsigned at = 0; at < n; at += 256)
            m.text(at, name, bytes(std::min(256u, n - at), (uint8_t)(0xA0 + n)));
    } else
        m.text(n, name, {});
}

const char midrange_args[] =
    "-ACODE=0-7FFhx4 -ABANK0=20h-6Fh -ABANK1=0A0h-0EFh -ACOMMON=70h-7Fh -ACONFIG=2007h-2007h "
    "-DCODE=2 -DCONFIG=2 -preset_vec=0h,init,end_init,maintext -pstrings=CODE -ptemp=-COMMON "
    "-prbss_0=BANK0 -pnvram=BANK0 -pconfig=CONFIG -H+ -Q16F877A -oout.obj startup.obj main.obj";

// reset_vec 0-1, init 2, end_init 3, maintext 4-6 (words); strings first fit
// at 7-8; text0 (main.obj's own psect) first fit at 9-0Dh; temp at the top of
// COMMON (7Eh); rbss_0 at 20h, nvram (empty) after it; config at 2007h.
const char midrange_symbols[] =
    "__S0 2008 0 ABS\n__S1 80 0 ABS\n_main 9 0 CODE\n"
    "__Hmaintext 7 0 CODE\n__Lmaintext 4 0 CODE\n__Hrbss_0 23 0 BANK0\n__Lrbss_0 20 0 BANK0\n"
    "__Htemp 80 0 COMMON\n__Ltemp 7E 0 COMMON\n__Hinit 3 0 CODE\n__Linit 2 0 CODE\n"
    "__Hreset_vec 2 0 CODE\n__Lreset_vec 0 0 CODE\n__Hconfig 2008 0 CONFIG\n__Lconfig 2007 0 CONFIG\n"
    "__Hend_init 4 0 CODE\n__Lend_init 3 0 CODE\n__Hstrings 9 0 CODE\n__Lstrings 7 0 CODE\n"
    "__Hnvram 23 0 BANK0\n__Lnvram 23 0 BANK0\n"
    "%segments\nreset_vec 0 D CODE 0\ntemp 7E 7F COMMON 7E\nrbss_0 20 22 BANK0 20\nconfig 2007 2007 CONFIG 2007\n"
    "%locals\n";

TEST(HeronPlacement, MidRangeChip)
{
    workdir w;
    module s;
    s.ident();
    add_psect(s, "reset_vec", "CODE", 2, 0, 4);
    add_psect(s, "init", "CODE", 2, 0, 2);
    add_psect(s, "end_init", "CODE", 2, 0, 2);
    add_psect(s, "maintext", "CODE", 2, 0, 0, false);
    add_psect(s, "strings", "CODE", 2, 0, 0, false);
    add_psect(s, "temp", "COMMON", 1, 1, 2, false);
    add_psect(s, "rbss_0", "BANK0", 1, 1, 0, false);
    add_psect(s, "nvram", "BANK0", 1, 1, 0, false);
    add_psect(s, "config", "CONFIG", 2, 0, 0, false);
    s.start(0, "reset_vec").end();
    module m;
    m.ident();
    add_psect(m, "maintext", "CODE", 2, 0, 6);
    add_psect(m, "text0", "CODE", 2, 0, 10, true, 0x00);
    add_psect(m, "strings", "CODE", 2, 0, 4);
    add_psect(m, "rbss_0", "BANK0", 1, 1, 3, false);
    add_psect(m, "config", "CONFIG", 2, 0, 2);
    m.sym({{"_main", 0, 0x10, "text0"}}).end();
    write_file(w.at("startup.obj"), s.out);
    write_file(w.at("main.obj"), m.out);
    run_result res = run_heron(w, midrange_args);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(read_text(w.at("l.sym")), midrange_symbols);
    std::string dump = dump_object(read_file(w.at("out.obj")));
    for (const char *line : {"TEXT 0 reset_vec A4 A4 A4 A4\n", "TEXT 4 init A2 A2\n", "TEXT 6 end_init A2 A2\n",
                             "START 0 reset_vec\n", "TEXT 8 maintext A6 A6 A6 A6 A6 A6\n",
                             "TEXT 12 text0 AA AA AA AA AA AA AA AA AA AA\n", "TEXT E strings A4 A4 A4 A4\n",
                             "TEXT 400E config A2 A2\n"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << dump;

    // The map's class table, read back by the driver, in words for CODE.
    run_result mapped = run_heron(w, std::string("-Mmap.txt ") + midrange_args);
    EXPECT_EQ(mapped.status, 0) << mapped.err;
    std::string map = read_text(w.at("map.txt"));
    const char *total =
        "TOTAL           Name          Link     Load   Length  Space\n"
        "        CLASS   CODE           \n"
        "                reset_vec        0        0        2     0\n"
        "                init             2        2        1     0\n"
        "                end_init         3        3        1     0\n"
        "                maintext         4        4        3     0\n"
        "                strings          7        7        2     0\n"
        "                text0            9        9        5     0\n\n"
        "        CLASS   BANK0          \n"
        "                rbss_0          20       20        3     1\n\n"
        "        CLASS   BANK1          \n\n"
        "        CLASS   COMMON         \n"
        "                temp            7E       7E        2     1\n\n"
        "        CLASS   CONFIG         \n"
        "                config        2007     2007        1     0\n\n\n\n"
        "SEGMENTS        Name           Load    Length   Top     Selector    Space Class Delta\n\n"
        "                reset_vec       000000  00000E  00000E         0       0  CODE        2\n";
    EXPECT_NE(map.find(total), std::string::npos) << map;
    expect_lines(map, "Machine type is 16F877A|"
                      "main.obj        maintext         4        4        3       0     0|"
                      "        CODE             000E-1FFF     2|        BANK0            0023-006F");
}

// One module with psects a (4 bytes), b (2 bytes) and big (0x700 bytes), all
// global in class CODE, delta 1, and a symbol at the start of each.
module three_psects(unsigned big_size = 0x700, unsigned b_boundary = 0)
{
    module m;
    m.ident();
    add_psect(m, "a", "CODE", 1, 0, 4);
    add_psect(m, "b", "CODE", 1, 0, 2, true, 0x10, b_boundary);
    add_psect(m, "big", "CODE", 1, 0, big_size);
    m.sym({{"sa", 0, 0x10, "a"}, {"sb", 0, 0x10, "b"}, {"sbig", 0, 0x10, "big"}});
    m.start(0, "a").end();
    return m;
}


TEST(HeronPlacement, PlacementCases)
{
    struct row {
        const char *options;
        const char *lines;    // lines of the symbol file ("name value load-offset")
        unsigned message;     // message expected, 0 none
        int status;
    };
    const row rows[] = {
        // numbers: decimal unless "0x", "h", "o"/"q"; a last "d" is a suffix
        {"-Pa=0x1F,b,big", "sa 1F 0", 0, 0},
        {"-Pa=1Fh,b,big", "sa 1F 0", 0, 0},
        {"-Pa=ffh,b,big", "sa FF 0", 0, 0},
        {"-Pa=17o,b,big", "sa F 0", 0, 0},
        {"-Pa=17q,b,big", "sa F 0", 0, 0},
        {"-Pa=100,b,big", "sa 64 0", 0, 0},
        {"-Pa=100d,b,big", "sa 64 0", 0, 0},
        {"-Pa=ff", "", 451, 1},
        {"-Pa=18o", "", 451, 1},
        {"-Pa=4294967296", "", 451, 1},
        // -P kinds
        {"-Pa=10h,b,big", "sa 10 0|sb 14 0|sbig 16 0|__La 10 0|__Hbig 716 0", 0, 0},
        {"-Pa=10h -Pb=a -Pbig=300h", "sa 10 0|sb 14 0|sbig 300 0", 0, 0},
        {"-Pa=10h+200h,b -Pbig=1000h", "sa 200 0|sb 204 0", 0, 0},
        {"-Pa=11h%100h,b,big", "sa 100 0|sb 104 0|sbig 106 0", 0, 0},
        {"-Pa=10h/2000h,b,big", "sa 10 1FF0|__Ba 1FF0 1FF0|sb 14 1FF0|__Bb 1FF0 1FF0", 0, 0},
        {"-ACODE=0-0FFFh -Pa=CODE,b=CODE,big=CODE", "sa 0 0|sb 4 0|sbig 6 0", 0, 0},
        {"-ACODE=0-0FFFh -Pa=-CODE", "sa FFC 0|sbig 0 0|sb 700 0", 0, 0},
        // downwards from an address: each item ends where the one before starts
        {"-Pa=-1000h,b,big", "sa FFC 0|sb FFA 0|sbig 8FA 0|__Hbig FFA 0", 0, 0},
        {"-Pa=-1000h/2000h", "sa FFC 1004|__Ba 1004 1004", 526, 0},
        {"-Pa=-2,b", "", 1391, 1},
        {"-Pa=-10h,b,big", "", 1391, 1},
        {"-Pnothere=10h", "", 450, 1},
        {"-Pa=10h,a=20h,b,big", "", 493, 1},
        {"-Pa+b+a=10h,big", "", 493, 1},
        {"-Pa=10h,b,big,", "", 492, 1},
        {"'-Pa=10h;b'", "", 494, 1},
        {"-Pa=@", "", 451, 1},
        {"-Pa=10h+x", "", 452, 1},
        {"-Pa=10h%", "", 453, 1},
        {"-Pa=./.", "", 454, 1},
        // first fit: the largest psect first, then a and b in psect order
        {"-ACODE=0-7FFhx4", "sbig 0 0|sa 700 0|sb 704 0", 0, 0},
        {"-ACODE=0-7FFh-0FFFh", "sbig 0 0|sa 700 0|sb 704 0", 0, 0},
        {"-ACODE=0-7FFh/2000hx2", "sbig 0 2000|sa 700 2000|sb 704 2000", 0, 0},
        {"-ACODE=0-0FFh,200h-2FFh", "sa 0 0|sb 4 0", 1347, 1},
        {"-ACODE=0-0FFFh -Pbig=CODE -ACODE2=0-0Fh -Pa=CODE2", "", 1346, 1},
        // class options
        {"-SCODE=100h -ACODE=0-7FFhx4", "", 497, 1},
        {"-SCODE=0", "", 438, 1},
        {"-SCODE", "", 437, 1},
        {"-DCODE=0", "", 440, 1},
        {"-ACODE", "", 441, 1},
        {"-ACODE=", "", 442, 1},
        {"-ACODE=x-1", "", 443, 1},
        {"-ACODE=0:1", "", 444, 1},
        {"-ACODE=10h-0Fh", "", 445, 1},
        {"-ACODE=0-7FFh-10h", "", 446, 1},
        {"-ACODE=0-7FFh/0FFFFFFFFh", "", 447, 1},
        {"-ACODE=0-0FFFFFFFhx100h", "", 448, 1},
        {"-ACODE=0-0*4294967295", "", 448, 1},   // would be billions of one-unit ranges
        {"-ACODE=0-0*4097", "", 448, 1},
        {"-ACODE=0-7FFh*4096", "sbig 0 0|sa 700 0|sb 704 0", 0, 0},
        {"'-ACODE=0-7FFh;'", "", 449, 1},
        {"-Ca=CODE -Ca=ROM -Pa=0,b,big", "", 484, 1},
        // default catenation from 0 for psects no -P names
        {"-Pbig=100h", "sa 0 0|sb 4 0|sbig 100 0", 526, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.options);
        workdir w;
        write_file(w.at("a.obj"), three_psects().out);
        run_result res = run_heron(w, std::string(r.options) + " -Hout.sym -oout.obj a.obj");
        EXPECT_EQ(res.status, r.status) << res.err;
        if (r.message) {
            EXPECT_TRUE(reported(res, r.message)) << res.err;
        } else {
            EXPECT_EQ(res.err, "");
        }
        expect_lines(read_text(w.at("out.sym")), r.lines);
    }
}

// A baseline chip (12F508-like: 512 words, the last one the reset vector,
// ENTRY the first 256 words, RAM 07h-1Fh). CODE and ENTRY share memory and
// ENTRY ends inside CODE, so CODE is filled from its top.
TEST(HeronPlacement, BaselineChip)
{
    workdir w;
    module s;
    s.ident();
    add_psect(s, "reset_wrap", "CODE", 2, 0, 2);
    add_psect(s, "init", "CODE", 2, 0, 4);
    add_psect(s, "init23", "CODE", 2, 0, 0, false);
    add_psect(s, "end_init", "CODE", 2, 0, 2);
    add_psect(s, "jmp_tab", "CODE", 2, 0, 0, false);
    add_psect(s, "powerup", "CODE", 2, 0, 0, false);
    add_psect(s, "reset_vec", "CODE", 2, 0, 2);
    add_psect(s, "temp", "BANK0", 1, 1, 1, false);
    add_psect(s, "rbss_0", "BANK0", 1, 1, 0, false);
    add_psect(s, "idata12", "ENTRY", 2, 0, 0, false);
    add_psect(s, "config", "CONFIG", 2, 0, 2);
    s.start(0, "reset_vec").end();
    module m;
    m.ident();
    add_psect(m, "text0", "CODE", 2, 0, 6, true, 0x00);
    add_psect(m, "rbss_0", "BANK0", 1, 1, 2, false);
    add_psect(m, "idata12", "ENTRY", 2, 0, 4);
    m.sym({{"_main", 0, 0x10, "text0"}}).end();
    write_file(w.at("startup.obj"), s.out);
    write_file(w.at("main.obj"), m.out);
    run_result res = run_heron(w,
        "-ACODE=0-1FEh -AENTRY=0-0FFh -ABANK0=07h-1Fh -ACONFIG=0FFFh-0FFFh -preset_wrap=0h "
        "-pinit=reset_wrap,init23,end_init,jmp_tab -ppowerup=CODE -ptemp=BANK0 -prbss_0=BANK0 "
        "-pidata12=ENTRY -preset_vec=01FFh -pconfig=CONFIG -DCONFIG=2 -DENTRY=2 -DCODE=2 "
        "-H+ -oout.obj startup.obj main.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, "");
    std::string sym = read_text(w.at("l.sym"));
    // reset_wrap word 0; init after it at 1-2; end_init 3; jmp_tab and powerup
    // (empty) at 4; idata12 the first free ENTRY words 4-5; text0 at the top
    // of CODE (1FCh-1FEh); reset_vec 1FFh; temp 07h, rbss_0 08h-09h.
    expect_lines(sym, "_main 1FC 0 CODE|__Lreset_wrap 0 0 CODE|__Linit 1 0 CODE|__Hinit 3 0 CODE|"
                      "__Lend_init 3 0 CODE|__Ljmp_tab 4 0 CODE|__Lpowerup 4 0 CODE|__Lidata12 4 0 ENTRY|"
                      "__Hidata12 6 0 ENTRY|__Lreset_vec 1FF 0 CODE|__Hreset_vec 200 0 CODE|"
                      "__Ltemp 7 0 BANK0|__Lrbss_0 8 0 BANK0|__Hrbss_0 A 0 BANK0|__Lconfig FFF 0 CONFIG|"
                      "__S0 1000 0 ABS|__S1 A 0 ABS");
    EXPECT_NE(sym.find("%segments\nreset_wrap 0 0 CODE 0\ninit 1 3 CODE 1\ntemp 7 9 BANK0 7\n"
                       "idata12 4 5 ENTRY 4\nreset_vec 1FF 1FF CODE 1FF\nconfig FFF FFF CONFIG FFF\n"
                       "text0 1FC 1FE CODE 1FC\n%locals\n"),
              std::string::npos) << sym;
    std::string dump = dump_object(read_file(w.at("out.obj")));
    for (const char *line : {"TEXT 0 reset_wrap A2 A2\n", "TEXT 2 init A4 A4 A4 A4\n", "TEXT 3FE reset_vec A2 A2\n",
                             "START 1FF reset_vec\n", "TEXT 3F8 text0 A6 A6 A6 A6 A6 A6\n", "TEXT 8 idata12 A4 A4 A4 A4\n"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << dump;
}

TEST(HeronPlacement, BoundariesAndOverlaps)
{
    // b must start on a multiple of 100h: after a (4 bytes at 20h) first fit
    // moves it to 100h, and so does catenation after a; an explicit 24h
    // stops the run.
    workdir w;
    write_file(w.at("a.obj"), three_psects(0x10, 0x100).out);
    run_result fit = run_heron(w, "-ACODE=20h-7FFh -Pa=20h -Hout.sym -oout.obj a.obj");
    EXPECT_EQ(fit.status, 0) << fit.err;
    expect_lines(read_text(w.at("out.sym")), "sa 20 0|sbig 24 0|sb 100 0");
    run_result chained = run_heron(w, "-Pa=20h,b,big -Hout.sym -oout.obj a.obj");
    EXPECT_EQ(chained.status, 0) << chained.err;
    expect_lines(read_text(w.at("out.sym")), "sa 20 0|sb 100 0");
    run_result fixed = run_heron(w, "-Pa=20h,b=24h,big -oout.obj a.obj");
    EXPECT_EQ(fixed.status, 1);
    EXPECT_TRUE(reported(fixed, 455)) << fixed.err;
    // Two explicit placements that share memory: one warning per pair.
    write_file(w.at("a.obj"), three_psects().out);
    run_result overlap = run_heron(w, "-Pa=10h -Pb=12h -Pbig=100h -oout.obj a.obj");
    EXPECT_EQ(overlap.status, 0) << overlap.err;
    EXPECT_EQ(count_reported(overlap, 596), 1u) << overlap.err;
    // -C puts a psect that names no class into one: first fit in its ranges.
    module c;
    c.ident().psect("p").text(0, "p", {1, 2}).sym({{"sp", 1, 0x10, "p"}}).start(0, "p").end();
    write_file(w.at("c.obj"), c.out);
    run_result classed = run_heron(w, "-Cp=CODE -ACODE=100h-1FFh -Hout.sym -oout.obj c.obj");
    EXPECT_EQ(classed.status, 0) << classed.err;
    expect_lines(read_text(w.at("out.sym")), "sp 101 0|__Lp 100 0");
    // An absolute psect cannot be positioned.
    module m = three_psects();
    m.out.resize(m.out.size() - 5);   // drop END
    m.psect("abs1", 0x90).text(0, "abs1", {1}).end();
    write_file(w.at("b.obj"), m.out);
    run_result abs = run_heron(w, "-Pa=10h,b,big -Pabs1=0 -oout.obj b.obj");
    EXPECT_TRUE(reported(abs, 492)) << abs.err;
}

// PSECTBOUND: an absolute overlaid psect spans its bounds (the smallest of
// each bound given), and that memory is cut out before first fit; bounds the
// wrong way round are a malformed record.
TEST(HeronPlacement, PsectBounds)
{
    auto bound = [](uint32_t low, uint32_t high) {
        bytes b = {11, 0xD0, 0};
        for (uint32_t v : {low, high})
            for (int i = 0; i < 4; i++)
                b.push_back((uint8_t)(v >> (8 * i)));
        b.insert(b.end(), {'s', 't', 'a', 'c', 'k', 0, 0});   // psect, empty class
        return b;
    };
    struct row {
        uint32_t low2, high2;   // the second record's bounds
        const char *lines;
        unsigned message;
    };
    const row rows[] = {
        {0x24, 0x28, "__Lstack 20 0|__Hstack 28 0|sd 28 0", 0},
        {0x40, 0x10, "", 1393},   // with the first: 20h-10h, a size of nearly 4 GB
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.message);
        workdir w;
        module m;
        m.ident().psect("stack", 0xD0).raw(23, bound(0x20, 0x30)).raw(23, bound(r.low2, r.high2));
        add_psect(m, "d", "BANK0", 1, 0, 4);
        m.sym({{"sd", 0, 0x10, "d"}}).start(0, "d").end();
        write_file(w.at("a.obj"), m.out);
        run_result res = run_heron(w, "-ABANK0=20h-6Fh -Hout.sym -oout.obj a.obj");
        if (r.message) {
            EXPECT_TRUE(reported(res, r.message)) << res.err;
            EXPECT_EQ(res.status, 1);
            continue;
        }
        EXPECT_EQ(res.status, 0) << res.err;
        EXPECT_EQ(res.err, "");
        expect_lines(read_text(w.at("out.sym")), r.lines);
    }
}

TEST(HeronPlacement, ChainsTopRangesAndSpaces)
{
    // H (8 bytes, maximum size 20h) carries M (12 bytes) with it: in the first
    // range (0-0Fh) M finds no room inside H's block 0-1Fh, so the chain is
    // unrolled and both go to the second range's block 20h-3Fh.
    workdir w;
    module m;
    m.ident(3, 5);
    m.psect("H").xpsect("H", "RAM", 1, 1, 0x20).text(0, "H", bytes(8, 1));
    m.psect("M").xpsect("M", "RAM", 1, 1, 0, 0, "H").text(0, "M", bytes(12, 2));
    m.sym({{"sh", 0, 0x10, "H"}, {"sm", 0, 0x10, "M"}}).start(0, "H").end();
    write_file(w.at("a.obj"), m.out);
    run_result res = run_heron(w, "-ARAM=0-0Fh,20h-3Fh -Hout.sym -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    expect_lines(read_text(w.at("out.sym")), "sh 20 0|sm 28 0");

    // H (10h bytes) carries A (10h) and B (20h), in that order. H takes
    // 0-0Fh; A would take 20h-2Fh, leaving B no 20h bytes in a row; in
    // reverse order B takes 20h-3Fh and A the last range.
    workdir r;
    module rv;
    rv.ident(3, 5);
    rv.psect("H").xpsect("H", "RAM", 1, 1).text(0, "H", bytes(16, 1));
    rv.psect("A").xpsect("A", "RAM", 1, 1, 0, 0, "H").text(0, "A", bytes(16, 2));
    rv.psect("B").xpsect("B", "RAM", 1, 1, 0, 0, "H").text(0, "B", bytes(32, 3));
    rv.sym({{"sh", 0, 0x10, "H"}, {"sa", 0, 0x10, "A"}, {"sb", 0, 0x10, "B"}}).start(0, "H").end();
    write_file(r.at("a.obj"), rv.out);
    run_result rev = run_heron(r, "-ARAM=0-0Fh,20h-3Fh,50h-5Fh -Hout.sym -oout.obj a.obj");
    EXPECT_EQ(rev.status, 0) << rev.err;
    expect_lines(read_text(r.at("out.sym")), "sh 0 0|sa 50 0|sb 20 0");

    // RAM1 (0-1Fh) ends inside RAM2 (10h-2Fh): RAM2 is filled from its top.
    workdir v;
    module t;
    t.ident();
    add_psect(t, "p1", "RAM1", 1, 1, 4);
    add_psect(t, "p2", "RAM2", 1, 1, 4);
    t.sym({{"s1", 0, 0x10, "p1"}, {"s2", 0, 0x10, "p2"}}).start(0, "p1").end();
    write_file(v.at("a.obj"), t.out);
    run_result top = run_heron(v, "-ARAM1=0-1Fh -ARAM2=10h-2Fh -Hout.sym -oout.obj a.obj");
    EXPECT_EQ(top.status, 0) << top.err;
    expect_lines(read_text(v.at("out.sym")), "s1 0 0|s2 2C 0|__S1 30 0");

    // Seventeen address spaces: the one met last is dropped from the space
    // table and gets no __S symbol.
    workdir u;
    module sp;
    sp.ident();
    std::string args;
    for (unsigned n = 1; n <= 17; n++) {
        add_psect(sp, "p" + std::to_string(n), "C" + std::to_string(n), 1, n, 1);
        args += "-AC" + std::to_string(n) + "=0-0FFh ";
    }
    sp.start(0, "p1").end();
    write_file(u.at("a.obj"), sp.out);
    run_result many = run_heron(u, args + "-Hout.sym -oout.obj a.obj");
    EXPECT_EQ(many.status, 0) << many.err;
    EXPECT_EQ(count_reported(many, 525), 1u) << many.err;
    std::string sym = read_text(u.at("out.sym"));
    unsigned spaces = 0;
    for (size_t at = sym.find("__S"); at != std::string::npos; at = sym.find("__S", at + 1))
        spaces++;
    EXPECT_EQ(spaces, 16u) << sym;
}

TEST(HeronPlacement, CommonsLocalPsectsAndTableOrder)
{
    // Common _c of sizes 4 and 10 and _d of size 2 in bss at 100h: _c first
    // (slot 293, _d 295), 10 bytes, then _d. Local psects lp of 3 and 5 bytes
    // continue one another from 0, so b.obj's _l2 (offset 1) is at 4.
    workdir w;
    module a, b;
    a.ident().psect("lp", 0).text(0, "lp", {1, 2, 3});
    a.sym({{"_c", 4, 0x12, "bss"}, {"_d", 2, 0x12, "bss"}, {"_l1", 0, 0x10, "lp"}}).start(0, "lp").end();
    b.ident().psect("lp", 0).text(0, "lp", {4, 5, 6, 7, 8});
    b.sym({{"_c", 10, 0x12, "bss"}, {"_l2", 1, 0x10, "lp"}}).end();
    write_file(w.at("a.obj"), a.out);
    write_file(w.at("b.obj"), b.out);
    run_result res = run_heron(w, "-Pbss=100h -Hout.sym -oout.obj a.obj b.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_TRUE(reported(res, 526)) << res.err;   // lp is not named by -P
    expect_lines(read_text(w.at("out.sym")), "_c 100 0|_d 10A 0|__Hbss 10C 0|_l1 0 0|_l2 4 0");

    // "ab" and "ca" share hash slot 293: the one defined first takes it, the
    // other the next slot, and the symbol file follows the slots.
    for (bool ab_first : {true, false}) {
        workdir v;
        module m;
        m.ident().psect("text").text(0, "text", {0});
        if (ab_first)
            m.sym({{"ab", 0, 0x10, "text"}, {"ca", 1, 0x10, "text"}});
        else
            m.sym({{"ca", 1, 0x10, "text"}, {"ab", 0, 0x10, "text"}});
        m.start(0, "text").end();
        write_file(v.at("a.obj"), m.out);
        run_result r = run_heron(v, "-Ptext=0 -Dout.sym -oout.obj a.obj");
        EXPECT_EQ(r.status, 0) << r.err;
        std::string sym = read_text(v.at("out.sym"));
        EXPECT_EQ(sym.find(ab_first ? "0000 ab\n0001 ca\n" : "0001 ca\n0000 ab\n"), 0u) << sym;
    }
}

TEST(HeronPlacement, MapSymbolTables)
{
    // text in space 0 (class CODE), data in space 2 (class RAM2): -Ns lists
    // space 0 only, since space 1 has no symbols; -Nc groups by class.
    module m;
    m.ident();
    add_psect(m, "text", "CODE", 1, 0, 2);
    add_psect(m, "data", "RAM2", 1, 2, 1);
    m.sym({{"_t", 1, 0x10, "text"}, {"_d", 0, 0x10, "data"}}).start(0, "text").end();
    struct row {
        const char *option;
        const char *present;   // "|"-separated texts that must appear
        const char *absent;
    };
    const row rows[] = {
        {"-Ns", "\nSPACE   0\n        __Ltext text 10\n        _t      text 11\n", "SPACE   2"},
        {"-Nc", "\nCLASS   CODE           \n|\nCLASS   RAM2           \n        __Ldata data 20\n", "SPACE"},
        {"-N", "Symbol Table\n\n__Ltext text 10  _t      text 11", "\nCLASS   CODE"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.option);
        workdir w;
        write_file(w.at("a.obj"), m.out);
        run_result res = run_heron(w, std::string("-Mmap.txt ") + r.option + " -Ptext=10h -Pdata=20h -oout.obj a.obj");
        EXPECT_EQ(res.status, 0) << res.err;
        std::string map = read_text(w.at("map.txt"));
        std::istringstream want(r.present);
        std::string piece;
        while (std::getline(want, piece, '|'))
            EXPECT_NE(map.find(piece), std::string::npos) << piece << "\n" << map;
        EXPECT_EQ(map.find(r.absent), std::string::npos) << map;
    }
}

TEST(HeronPlacement, SelectorsAndSegments)
{
    // -GA/100h: every segment's selector is its load address over 100h; the
    // output has XSYM entries and SEGMENT records.
    workdir w;
    write_file(w.at("a.obj"), three_psects().out);
    run_result res = run_heron(w, "-GA/100h -Pa=210h,b -Pbig=400h -H+out.sym -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    std::string dump = dump_object(read_file(w.at("out.obj")));
    EXPECT_NE(dump.find("SEGMENT 6 210 2 210 a\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SEGMENT 700 400 4 400 big\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("XSYM __La 210 0010 2 a\n"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("\nSYM "), std::string::npos) << dump;
    std::string sym = read_text(w.at("out.sym"));
    EXPECT_NE(sym.find("%segments\na 210 215 CODE 210\nbig 400 AFF CODE 400\n%locals\n"), std::string::npos) << sym;
    run_result bad = run_heron(w, "-GA?2 -Pa=210h,b -Pbig=400h -oout.obj a.obj");
    EXPECT_TRUE(reported(bad, 435)) << bad.err;
}

} // namespace
