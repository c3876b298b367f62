// Rules of heron as tables of cases: record limits, versions, byte order,
// definitions, libraries, start records, binary images, options and the way
// arguments arrive, and malformed inputs that must end in a clear message.
#include "objbuild.h"

using namespace fx;

namespace {

// A module with 2 bytes of text, optional extra records before END.
module small(const std::string &sym_name = "_main", unsigned major = 3, unsigned minor = 4)
{
    module m;
    m.ident(major, minor).psect("text").text(0, "text", {0x11, 0x22});
    m.sym({{sym_name, 0, 0x10, "text"}});
    return m;
}

run_result link_one(const workdir &w, module m, const std::string &options = "-Ptext=0")
{
    write_file(w.at("a.obj"), m.out);
    return run_heron(w, options + " -oout.obj a.obj");
}

TEST(HeronRecords, LimitsAndTypes)
{
    struct row {
        const char *what;
        unsigned type;
        unsigned length;
        unsigned message;   // 0: none expected
        bool fails;
    };
    const row rows[] = {
        {"509 body bytes", 17, 509, 0, false},
        {"510 body bytes", 17, 510, 506, true},
        {"type 0", 0, 1, 380, true},
        {"type 24", 24, 1, 380, true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        workdir w;
        module m = small();
        m.raw(r.type, bytes(r.length, 0x5A)).start(0, "text").end();
        run_result res = link_one(w, m);
        EXPECT_EQ(res.status != 0, r.fails) << res.err;
        if (r.message) {
            EXPECT_TRUE(reported(res, r.message)) << res.err;
        } else {
            EXPECT_EQ(res.err, "");
        }
    }
}

TEST(HeronRecords, VersionsAndByteOrder)
{
    struct row {
        unsigned major, minor;
        bool accepted;
    };
    const row rows[] = {{3, 9, true}, {3, 10, true}, {3, 11, false}, {4, 0, false}};
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.major) + "." + std::to_string(r.minor));
        workdir w;
        run_result res = link_one(w, small("_main", r.major, r.minor).start(0, "text").end());
        EXPECT_EQ(res.status == 0, r.accepted) << res.err;
        EXPECT_EQ(reported(res, 504), !r.accepted);
    }
    // A big-endian second module: its four map32 and two map16 bytes differ.
    workdir w;
    module b;
    b.big = true;
    b.ident().psect("text").text(0, "text", {0x33}).end();
    write_file(w.at("a.obj"), small().start(0, "text").end().out);
    write_file(w.at("b.obj"), b.out);
    run_result res = run_heron(w, "-Ptext=0 -oout.obj a.obj b.obj");
    EXPECT_NE(res.status, 0);
    EXPECT_EQ(count_reported(res, 503), 6u) << res.err;
}

TEST(HeronSymbols, DefinitionRules)
{
    // _x at offset 0 of a.obj's text and at offset 1 of c.obj's: only pass 1
    // sees the different values; the message names the first module.
    workdir w;
    write_file(w.at("a.obj"), small("_x").start(0, "text").end().out);
    write_file(w.at("c.obj"), small("_y").sym({{"_x", 1, 0x10, "text"}}).end().out);
    run_result res = run_heron(w, "-Ptext=0 -oout.obj a.obj c.obj");
    EXPECT_NE(res.status, 0);
    EXPECT_EQ(count_reported(res, 482), 1u) << res.err;
    EXPECT_NE(res.err.find("\"_x\" is defined more than once in \"a.obj\""), std::string::npos) << res.err;

    // Line-number and file-name symbols cannot be global.
    for (unsigned kind : {4u, 5u, 1u, 3u}) {
        SCOPED_TRACE(kind);
        workdir v;
        run_result r = link_one(v, small().sym({{"12", 0, 0x10 | kind, "text"}}).start(0, "text").end());
        EXPECT_TRUE(reported(r, 483)) << r.err;
        EXPECT_NE(r.status, 0);
    }
}

// Object version kept per module: a 3.4 module's own symbol stays its own
// in every pass even when an older module is read after it.
TEST(HeronSymbols, VersionKeptPerModule)
{
    workdir w;
    module n = small("_main", 3, 4);
    n.sym({{"loc", 1, 0x07, "text"}}).start(0, "text").end();
    module old;
    old.ident(2, 0).psect("text").text(0, "text", {0x44}).end();
    write_file(w.at("new.obj"), n.out);
    write_file(w.at("old.obj"), old.out);
    run_result res = run_heron(w, "-H -Ptext=20h -oout.obj new.obj old.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    std::string sym = read_text(w.at("l.sym"));
    EXPECT_NE(sym.find("%locals\nnew.obj\nloc 21 0\n"), std::string::npos) << sym;
    EXPECT_EQ(sym.find("loc "), sym.find("%locals\nnew.obj\n") + 16) << sym;
}

// A chain of modules in reverse directory order: a.obj needs s0, module k
// defines s<k> and needs s<k+1>. Each round takes one module.
bytes chain_library(unsigned n)
{
    std::vector<lib_entry> mods;
    for (unsigned k = n; k-- > 0;) {
        module m;
        std::string def = "s" + std::to_string(k), need = "s" + std::to_string(k + 1);
        m.ident().psect("text").text(0, "text", {(uint8_t)k});
        if (k + 1 < n)
            m.sym({{def, 0, 0x10, "text"}, {need, 0, 0x16, ""}});
        else
            m.sym({{def, 0, 0x10, "text"}});
        m.end();
        lib_entry e{"m" + std::to_string(k) + ".obj", m.out, {{0, def}}};
        if (k + 1 < n)
            e.symbols.push_back({1, need});
        mods.push_back(e);
    }
    return make_library(mods);
}

TEST(HeronLibraries, RoundsAndSelection)
{
    struct row {
        unsigned modules;
        bool badly_ordered;   // more than 10 rounds: one per module plus the last
    };
    const row rows[] = {{9, false}, {10, true}, {12, true}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.modules);
        workdir w;
        write_file(w.at("a.obj"), small().sym({{"s0", 0, 0x16, ""}}).start(0, "text").end().out);
        write_file(w.at("c.lib"), chain_library(r.modules));
        run_result res = run_heron(w, "-Ptext=0 -oout.obj a.obj c.lib");
        EXPECT_EQ(reported(res, 522), r.badly_ordered) << res.err;
        EXPECT_FALSE(reported(res, 499) || reported(res, 500)) << res.err;
        // Every module's byte is in the output, in directory order after a.obj's
        // 2 bytes: m0, the last module, is at 2 + modules - 1 and holds 0.
        char last[32];
        snprintf(last, sizeof last, "TEXT %X text 00\n", 2 + r.modules - 1);
        std::string dump = dump_object(read_file(w.at("out.obj")));
        EXPECT_NE(dump.find(last), std::string::npos) << dump;
    }
}

TEST(HeronLibraries, UndefinedOptionPullsAModule)
{
    module extra;
    extra.ident().psect("text").text(0, "text", {0x77}).sym({{"_extra", 0, 0x10, "text"}}).end();
    bytes lib = make_library({{"extra.obj", extra.out, {{0, "_extra"}}}});
    for (bool pull : {false, true}) {
        workdir w;
        write_file(w.at("a.obj"), small().start(0, "text").end().out);
        write_file(w.at("x.lib"), lib);
        run_result res = run_heron(w, std::string(pull ? "-U_extra " : "") + "-Ptext=0 -oout.obj a.obj x.lib");
        EXPECT_EQ(res.status, 0) << res.err;
        std::string dump = dump_object(read_file(w.at("out.obj")));
        EXPECT_EQ(dump.find("TEXT 2 text 77") != std::string::npos, pull) << dump;
    }
}

TEST(HeronLibraries, SymbolOnlyInput)
{
    // ext.syf gives _ext = 1234h; its TEXT record is not read. "Syf" is an
    // ordinary object file.
    module syf;
    syf.ident().psect("text").text(0, "text", {0xEE}).sym({{"_ext", 0x1234, 0x10, ""}}).end();
    module a = small();
    a.text(2, "text", {0, 0}).reloc(0, 0x22, "_ext").sym({{"_ext", 0, 0x16, ""}}).start(0, "text").end();
    for (const char *name : {"ext.syf", "ext.SYF", "ext.Syf"}) {
        SCOPED_TRACE(name);
        workdir w;
        write_file(w.at(name), syf.out);
        write_file(w.at("a.obj"), a.out);
        run_result res = run_heron(w, std::string("-Ptext=0 -oout.obj a.obj ") + name);
        EXPECT_EQ(res.status, 0) << res.err;
        std::string dump = dump_object(read_file(w.at("out.obj")));
        EXPECT_NE(dump.find("TEXT 2 text 34 12\n"), std::string::npos) << dump;
        EXPECT_EQ(dump.find("EE") == std::string::npos, strcmp(name, "ext.Syf") != 0) << dump;
    }
}

TEST(HeronOutput, AddressMapFile)
{
    // Only the PIC14 section counts; "-" names the default memory, else the
    // first entry's memory is the default.
    struct row {
        const char *file;
        const char *lines;
        unsigned message;
    };
    const row rows[] = {
        {"# memories\nPIC16 text OTHER\nPIC14 text ROM\n\tdata RAM\n\t- NONE\nPIC18 text X\n",
         "SY _main ROM:0|SY _d RAM:2|SY _k NONE:5|SY __Ldata RAM:2|SG text ROM:0 2", 0},
        {"PIC14 text ROM\n", "SY _main ROM:0|SY _d ROM:2|SY _k ROM:5", 0},
        {"PIC14 text ROM\r\n\tdata RAM\r\n", "SY _main ROM:0|SY _d RAM:2", 0},
        {"PIC16 text ROM\n", "SY _main :0|SY _d :2", 464},
        {"PIC14 text\n", "", 463},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.file);
        workdir w;
        module m;
        m.ident().psect("text").psect("data").text(0, "text", {1, 2}).text(0, "data", {3});
        m.sym({{"_main", 0, 0x10, "text"}, {"_d", 0, 0x10, "data"}, {"_k", 5, 0x10, ""}}).start(0, "text").end();
        write_file(w.at("a.obj"), m.out);
        write_text(w.at("avmap.txt"), r.file);
        run_result res = run_heron(w, "-Vavmap.txt -H -Ptext=0,data -oout.obj a.obj");
        std::string sym = read_text(w.at("l.sym"));
        expect_lines(sym, r.lines);
        EXPECT_EQ(sym.find("%locals"), std::string::npos) << sym;
        if (r.message) {
            EXPECT_TRUE(reported(res, r.message)) << res.err;
        } else {
            EXPECT_EQ(res.err, "");
        }
    }
}

TEST(HeronOutput, AddressMapFileMissing)
{
    workdir w;
    module m;
    m.ident().psect("text").text(0, "text", {1}).start(0, "text").end();
    write_file(w.at("a.obj"), m.out);
    run_result res = run_heron(w, "-Vnone.txt -H -Ptext=0 -oout.obj a.obj");
    EXPECT_TRUE(reported(res, 141)) << res.err;
    EXPECT_EQ(res.status, 1);
}

TEST(HeronOutput, StartRecords)
{
    workdir w;
    write_file(w.at("a.obj"), small().start(0, "text").end().out);
    write_file(w.at("b.obj"), small("_b").start(1, "text").end().out);
    run_result two = run_heron(w, "-Ptext=0 -oout.obj a.obj b.obj");
    EXPECT_EQ(count_reported(two, 501), 1u) << two.err;
    EXPECT_NE(two.status, 0);

    workdir v;
    run_result none = link_one(v, small().end());
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(reported(none, 528)) << none.err;
    std::string dump = dump_object(read_file(v.at("out.obj")));
    EXPECT_NE(dump.find("START 0 \nEND 0000\n"), std::string::npos) << dump;
}

TEST(HeronOutput, BinaryImage)
{
    // text at 102h; the image based at 100h holds two zero-filled bytes first.
    workdir w;
    write_file(w.at("a.obj"), small().start(0, "text").end().out);
    run_result res = run_heron(w, "-C100h -Ptext=102h a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(read_file(w.at("l.bin")), (bytes{0, 0, 0x11, 0x22}));
    run_result below = run_heron(w, "-C103h -Ptext=102h -oother.bin a.obj");
    EXPECT_EQ(below.status, 1);
    EXPECT_TRUE(reported(below, 989)) << below.err;
    run_result with_r = run_heron(w, "-C100h -R a.obj");
    EXPECT_TRUE(reported(with_r, 616));
    // A pipe cannot be positioned: an error, and nothing reaches the pipe.
    std::string cmd = "cd '" + w.path + "' && mkfifo out.pipe || exit 1; cat out.pipe >piped.bin & '" + heron_path() +
                      "' -C100h -Ptext=102h -oout.pipe a.obj 2>piped.err; echo $? >piped.rc; wait";
    EXPECT_EQ(system(cmd.c_str()), 0);
    EXPECT_EQ(read_text(w.at("piped.rc")), "1\n");
    EXPECT_NE(read_text(w.at("piped.err")).find("Seek error: out.pipe"), std::string::npos)
        << read_text(w.at("piped.err"));
    EXPECT_TRUE(read_file(w.at("piped.bin")).empty());
}

TEST(HeronCommandLine, OptionLetters)
{
    struct row {
        const char *options;
        int status;           // expected exit status
        unsigned message;     // expected message, 0 none
        unsigned absent;      // message that must not appear, 0 none
    };
    // The module refers to an undefined _none and has no START record.
    const row rows[] = {
        {"-FIK", 0, 594, 499},     // -I: undefined symbols are warnings
        {"-fik", 0, 594, 499},     // letters in either case
        {"-I -W9!", 0, 0, 594},    // threshold 9 drops the warnings
        {"-I -W0!", 1, 594, 0},    // "!": warnings fail the run
        {"-W!", 1, 393, 0},
        {"-Wx", 1, 393, 0},
        {"-W-12 -I", 0, 523, 0},
        {"-W4000000000 -I -Mmap.txt", 0, 523, 0},   // would centre a heading with 2 GB of blanks
        {"-Y", 1, 168, 0},
        {"--frob -I", 1, 168, 0},
        {"-O", 1, 389, 0},
        {"-P", 1, 390, 0},
        {"-Q", 1, 391, 0},
        {"-U", 1, 392, 0},
        {"-J", 1, 395, 0},
        {"-G", 1, 387, 0},
        {"-Hx.sym -Hy.sym", 1, 394, 0},
        {"-Mmap1 -Mmap2", 1, 388, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.options);
        workdir w;
        write_file(w.at("a.obj"), small().sym({{"_none", 0, 0x16, ""}}).end().out);
        run_result res = run_heron(w, std::string(r.options) + " -Ptext=0 -oout.obj a.obj");
        EXPECT_EQ(res.status, r.status) << res.err;
        if (r.message) {
            EXPECT_TRUE(reported(res, r.message)) << res.err;
        }
        if (r.absent) {
            EXPECT_FALSE(reported(res, r.absent)) << res.err;
        }
    }
    // -F: symbols only, no text in the output.
    workdir w;
    write_file(w.at("a.obj"), small().start(0, "text").end().out);
    run_result res = run_heron(w, "-F -Ptext=0 -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    std::string dump = dump_object(read_file(w.at("out.obj")));
    EXPECT_EQ(dump.find("TEXT"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SYM _main 0 0010"), std::string::npos) << dump;
}

TEST(HeronCommandLine, ArgumentSources)
{
    workdir w;
    write_file(w.at("a.obj"), small().start(0, "text").end().out);
    write_text(w.at("args.txt"), "-Ptext=4 \\\r\n -ofrom_file.obj a.obj\r\n");
    run_result f = run_heron(w, "@args.txt");
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_NE(dump_object(read_file(w.at("from_file.obj"))).find("TEXT 4 text 11 22"), std::string::npos);
    run_result s = run_heron(w, "", "-Ptext=6 -ofrom_stdin.obj a.obj\n");
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_NE(dump_object(read_file(w.at("from_stdin.obj"))).find("TEXT 6 text 11 22"), std::string::npos);
    run_result missing = run_heron(w, "@nothere.txt");
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(reported(missing, 141));
    run_result usage = run_heron(w, "-Ptext=0");
    EXPECT_TRUE(reported(usage, 397));
    // A folder named as an input is reported as one, whatever its extension.
    for (const char *name : {"dir.obj", "dir.lib"}) {
        ASSERT_EQ(mkdir(w.at(name).c_str(), 0755), 0);
        run_result folder = run_heron(w, std::string("-Ptext=0 -oout.obj ") + name);
        EXPECT_EQ(folder.status, 1);
        EXPECT_TRUE(reported(folder, 141)) << folder.err;
        EXPECT_NE(folder.err.find(strerror(EISDIR)), std::string::npos) << folder.err;
    }
}

TEST(HeronCommandLine, OutputNeverOverwritesAnInput)
{
    const char *cases[] = {"-oa.obj a.obj", "-o./a.obj a.obj", "-Ha.obj a.obj", "-Ma.obj a.obj",
                           "-olink.obj a.obj", "-Elink.obj a.obj"};
    for (const char *args : cases) {
        SCOPED_TRACE(args);
        workdir w;
        bytes input = small().start(0, "text").end().out;
        write_file(w.at("a.obj"), input);
        if (link(w.at("a.obj").c_str(), w.at("link.obj").c_str()) != 0)
            perror("link");
        run_result res = run_heron(w, std::string("-Ptext=0 ") + args);
        EXPECT_EQ(res.status, 1);
        EXPECT_TRUE(reported(res, 398)) << res.err;
        EXPECT_EQ(read_file(w.at("a.obj")), input);
    }
    // The messages of a link go to the -E file, after what it held.
    workdir w;
    write_file(w.at("a.obj"), small().end().out);
    write_text(w.at("err.txt"), "earlier\n");
    run_result res = run_heron(w, "-Eerr.txt -Ptext=0 -oout.obj a.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, "");
    std::string err = read_text(w.at("err.txt"));
    EXPECT_EQ(err.find("earlier\n"), 0u) << err;
    EXPECT_NE(err.find("(528)"), std::string::npos) << err;
}

// Two outputs on one file would leave neither: the run stops before either
// is written, and an earlier file of that name is left as it was.
TEST(HeronCommandLine, OutputsNeverShareAFile)
{
    const char *cases[] = {"-oout.obj -Mout.obj", "-oout.obj -Hout.obj", "-oout.obj -Ml.map -Hl.map",
                           "-oout.obj -M./out.obj", "-oout.obj -Eout.obj"};
    for (const char *args : cases) {
        SCOPED_TRACE(args);
        workdir w;
        write_file(w.at("a.obj"), small().start(0, "text").end().out);
        const bytes earlier = {'k', 'e', 'e', 'p'};
        write_file(w.at("out.obj"), earlier);
        run_result res = run_heron(w, std::string("-Ptext=0 ") + args + " a.obj");
        EXPECT_EQ(res.status, 1);
        EXPECT_TRUE(reported(res, 378)) << res.err;
        EXPECT_EQ(read_file(w.at("out.obj")), earlier);
    }
    workdir w;
    write_file(w.at("a.obj"), small().start(0, "text").end().out);
    run_result res = run_heron(w, "-Ptext=0 -o/dev/null -M/dev/null -H/dev/null a.obj");
    EXPECT_EQ(res.status, 0) << "a device takes them all: " << res.err;
}

// An object, map or symbol file that cannot be written fails the link; the
// output is closed once, and a device named as the output is not removed as
// an unfinished file would be.
TEST(HeronCommandLine, UnwritableOutputsFailTheLink)
{
    for (const char *args : {"-o/dev/full", "-oout.obj -M/dev/full", "-oout.obj -H/dev/full"}) {
        SCOPED_TRACE(args);
        workdir w;
        write_file(w.at("a.obj"), small().start(0, "text").end().out);
        run_result res = run_heron(w, std::string("-Ptext=0 ") + args + " a.obj");
        EXPECT_EQ(res.status, 1);
        EXPECT_TRUE(reported(res, 413)) << res.err;
        EXPECT_EQ(res.err.find("Sanitizer"), std::string::npos) << res.err;
        struct stat s;
        ASSERT_EQ(stat("/dev/full", &s), 0);
        EXPECT_TRUE(S_ISCHR(s.st_mode));
    }
}

// An object named again (by the same or another path) is one module: it is
// linked once, at its first place, so neither its code nor its definitions
// appear twice. A library named again is searched again, for what is still
// undefined there.
TEST(HeronCommandLine, RepeatedInputsAreOneModule)
{
    module b;   // only a local symbol: nothing would tell a second copy apart
    b.ident().psect("text").text(0, "text", {0xBB}).sym({{"l", 0, 0x00, "text"}}).end();
    module late;
    late.ident().psect("text").text(0, "text", {0x77}).sym({{"_late", 0, 0x10, "text"}}).end();
    bytes lib = make_library({{"late.obj", late.out, {{0, "_late"}}}});
    workdir w;
    write_file(w.at("a.obj"), small().sym({{"_late", 0, 0x16, ""}}).start(0, "text").end().out);
    write_file(w.at("b.obj"), b.out);
    write_file(w.at("x.lib"), lib);
    run_result once = run_heron(w, "-Ptext=0 -oonce.obj -Monce.map a.obj b.obj x.lib");
    ASSERT_EQ(once.status, 0) << once.err;
    run_result again = run_heron(w, "-Ptext=0 -oagain.obj -Magain.map a.obj x.lib b.obj ./a.obj x.lib b.obj");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.err, "");
    std::string dump = dump_object(read_file(w.at("again.obj")));
    EXPECT_EQ(dump.find("BB"), dump.rfind("BB")) << dump;
    EXPECT_NE(dump.find("TEXT 3 text BB\n"), std::string::npos) << "b.obj after the library's module: " << dump;
    std::string map = read_text(w.at("again.map"));
    EXPECT_EQ(map.find("\nb.obj "), map.rfind("\nb.obj ")) << map;
    // Linking the library module needed a search of x.lib after a.obj; the
    // second search finds nothing more to take.
    EXPECT_EQ(map.find("late.obj"), map.rfind("late.obj")) << map;
}

TEST(HeronRecords, MalformedInputs)
{
    struct row {
        const char *what;
        bytes file;
        unsigned message;
    };
    module no_end = small();
    module short_header = small().start(0, "text");
    short_header.out.push_back(9);
    module short_body = small();
    short_body.raw(4, bytes{0, 0, 0, 0, 0x10, 0, 't', 'e', 'x', 't', 0, '_', 'q'});
    module unterminated = small();
    unterminated.raw(4, bytes{0, 0, 0, 0, 0x10, 0, 't', 'e', 'x', 't', 0, '_', 'q'}).end();
    short_body.out.resize(short_body.out.size() - 4);
    module bad_text = small();
    bad_text.raw(1, bytes{0, 0, 0, 0, 't', 'e'}).end();
    module with_itself = small("_main", 3, 5);   // XPSECT: text placed with text
    with_itself.raw(8, bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 't', 'e', 'x', 't', 0, 'C', 'O', 'D', 'E', 0,
                             't', 'e', 'x', 't', 0}).end();
    module bad_map = small();
    bad_map.raw(7, bytes{0, 0, 2, 3, 0, 1, 'P', 0}).end();
    const row rows[] = {
        {"no END record", no_end.out, 505},
        {"header cut short", short_header.out, 505},
        {"body cut short", short_body.out, 1044},
        {"name without its zero", unterminated.out, 1393},
        {"TEXT without a whole psect name", bad_text.out, 516},
        {"byte-order map that is no permutation", bad_map.out, 1392},
        {"psect placed with itself", with_itself.out, 1393},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        workdir w;
        write_file(w.at("a.obj"), r.file);
        run_result res = run_heron(w, "-Ptext=0 -oout.obj a.obj");
        EXPECT_NE(res.status, 0);
        EXPECT_LT(res.status, 128);
        EXPECT_TRUE(reported(res, r.message)) << res.err;
    }
    // Library directories that disagree with the file.
    bytes lib = make_library({{"a.obj", small().end().out, {{0, "_main"}}}});
    bytes cut = lib;
    cut.resize(cut.size() - 3);
    bytes long_module = lib;
    long_module[8] = 0xFF;   // module length past the end of the file
    for (const bytes &b : {cut, long_module}) {
        workdir w;
        write_file(w.at("a.obj"), small("_x").sym({{"_main", 0, 0x16, ""}}).start(0, "text").end().out);
        write_file(w.at("bad.lib"), b);
        run_result res = run_heron(w, "-Ptext=0 -oout.obj a.obj bad.lib");
        EXPECT_TRUE(reported(res, 507)) << res.err;
        EXPECT_NE(res.status, 0);
    }
}

} // namespace
