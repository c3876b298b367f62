// The librarian: building, reordering, replacing, extracting; the directory
// symbol lists; the scrambled intermediate-code modules.
#include "rook.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <iterator>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <sys/wait.h>

void tool_exit(int) {}

static std::string dir;

static std::string run(const std::string &args, int *status)
{
    return tool_run(dir, ZEPH_BUILD_DIR "/bin/rook " + args, status);
}

struct sym { const char *name; uint16_t flags; };

// An object module with the given symbols and some text.
static void write_object(const std::string &name, std::initializer_list<sym> syms)
{
    FILE *f = fopen((dir + "/" + name).c_str(), "wb");
    obj_builder b;
    build_start(b, order_little);
    build_ident(b, order_little, "PIC14", {3, 4});
    build_write(f, REC_IDENT, b);
    build_start(b, order_little);
    build_u32(b, 0);
    build_name(b, "text");
    build_u8(b, 0x8a);
    build_write(f, REC_TEXT, b);
    build_start(b, order_little);
    for (const sym &s : syms)
        build_sym_entry(b, {0, s.flags, 0, "text", s.name}, false);
    build_write(f, REC_SYM, b);
    build_start(b, order_little);
    build_u16(b, 0);
    build_write(f, REC_END, b);
    fclose(f);
}

static lib_directory read_dir(const std::string &lib)
{
    lib_directory d{};
    FILE *f = fopen((dir + "/" + lib).c_str(), "rb");
    EXPECT_NE(f, nullptr);
    if (f) {
        EXPECT_EQ(lib_read_directory(f, &d), LIB_OK);
        fclose(f);
    }
    return d;
}

static std::string names_of(const lib_directory &d)
{
    std::string s;
    for (const lib_module &m : d.modules) {
        s += m.name + "(";
        for (const lib_symbol &y : m.symbols)
            s += (y.flag ? "U:" : "D:") + y.name + " ";
        s += ")";
    }
    return s;
}

class Rook : public testing::Test {
protected:
    void SetUp() override
    {
        dir = tool_tempdir("zeph_rook");
        unsetenv("VRK_ERR_FORMAT");
    }
};

TEST_F(Rook, BuildsReordersAndReplaces)
{
    write_object("a.obj", {{"_a", 0x10 | SK_ORDINARY}, {"_b", 0x10 | SK_UNDEFINED}, {"loc", SK_ORDINARY},
                           {"a.c", 0x10 | SK_FILE}});
    write_object("b.obj", {{"_b", 0x10}});
    write_object("c.obj", {{"_c", 0x10}, {"_a", 0x10 | SK_UNDEFINED}});
    int st;
    EXPECT_EQ(run("r x.lib a.obj b.obj c.obj", &st), "");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(names_of(read_dir("x.lib")), "a.obj(D:_a U:_b )b.obj(D:_b )c.obj(D:_c U:_a )");

    EXPECT_EQ(run("o x.lib c.obj b.obj", &st), "");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(names_of(read_dir("x.lib")), "c.obj(D:_c U:_a )b.obj(D:_b )a.obj(D:_a U:_b )");

    // The reordered library still holds every module byte for byte.
    EXPECT_EQ(run("x x.lib b.obj", &st), "");
    std::ifstream orig(dir + "/b.obj", std::ios::binary);
    std::stringstream ss;
    ss << orig.rdbuf();
    EXPECT_FALSE(ss.str().empty());

    write_object("b.obj", {{"_b", 0x10}, {"_b2", 0x10}});
    EXPECT_EQ(run("r x.lib b.obj", &st), "");
    EXPECT_EQ(names_of(read_dir("x.lib")), "c.obj(D:_c U:_a )b.obj(D:_b D:_b2 )a.obj(D:_a U:_b )");

    EXPECT_EQ(run("d x.lib c.obj", &st), "");
    EXPECT_EQ(names_of(read_dir("x.lib")), "b.obj(D:_b D:_b2 )a.obj(D:_a U:_b )");
    EXPECT_EQ(run("t x.lib", &st).substr(0, 6), "b.obj\t");

    // the driver's common options, the warning level among them, come first
    EXPECT_EQ(run("-W1 --emax=5 o x.lib a.obj", &st), "");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(names_of(read_dir("x.lib")), "a.obj(D:_a U:_b )b.obj(D:_b D:_b2 )");
}

// A library may hold no module: made from no file, or left when the last
// module is deleted. It is then its head alone: a directory of 0 bytes and
// a count of 0 modules.
TEST_F(Rook, LibraryOfNoModules)
{
    const std::string head_only(4, '\0');
    int st;
    EXPECT_EQ(run("r none.lpp", &st), "");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(tool_read(dir + "/none.lpp"), head_only);
    write_object("a.obj", {{"_a", 0x10}});
    run("r x.lib a.obj", &st);
    EXPECT_EQ(run("d x.lib a.obj", &st), "");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(tool_read(dir + "/x.lib"), head_only);
    EXPECT_EQ(run("t x.lib", &st), "");
    EXPECT_EQ(st, 0);
}

TEST_F(Rook, ErrorsLeaveTheLibraryAlone)
{
    write_object("a.obj", {{"_a", 0x10}});
    int st;
    run("r x.lib a.obj", &st);
    lib_directory before = read_dir("x.lib");
    std::ofstream(dir + "/junk.obj") << "not an object";
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
    write_object("sub/a.obj", {{"_a2", 0x10}});
    struct { std::string args, number; } rows[] = {
        {"r x.lib junk.obj", "(1483)"},
        {"r x.lib a.obj sub/a.obj", "(1489)"},
        {"r x.lib missing.obj", "(1481)"},
        {"o x.lib nosuch.obj", "(1484)"},
        {"q x.lib", "(1488)"},
        {"r", "(1480)"},
        {"t junk.obj", "(1482)"},
    };
    for (auto &r : rows) {
        std::string out = run(r.args, &st);
        EXPECT_NE(out.find(r.number), std::string::npos) << r.args << ": " << out;
        EXPECT_NE(st, 0) << r.args;
    }
    EXPECT_EQ(names_of(read_dir("x.lib")), names_of(before));
}

TEST_F(Rook, IntermediateCodeIsScrambledAfterTheVersionLine)
{
    std::string text = "Version 3.2 Vormak Software Intermediate Code\n"
                       "\"1 lib.c\n"
                       "[v _count `i 1 e ]\n"
                       "[v _ext `i 0 e ]\n"
                       "[v _arr `c -> 0 `x e ]\n"
                       "[v _helper `(i 1 e ]\n"
                       "[v _local `i 1 s ]\n"
                       "[v _fn `(i 1 e ]\n"
                       "{\n[e :U _fn ]\n[f ]\n[e :UE 1 ]\n}\n";
    std::ofstream(dir + "/lib.plover", std::ios::binary) << text;
    int st;
    EXPECT_EQ(run("r c.lpp lib.plover", &st), "");
    EXPECT_EQ(st, 0);
    lib_directory d = read_dir("c.lpp");
    EXPECT_EQ(names_of(d), "lib.plover(D:_count U:_ext U:_arr U:_helper D:_fn )");
    std::ifstream in(dir + "/c.lpp", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string body = raw.substr(d.modules[0].start, d.modules[0].length);
    size_t nl = text.find('\n');
    EXPECT_EQ(body.substr(0, nl + 1), text.substr(0, nl + 1));
    // First scrambled byte: '"' ^ counter 1 ^ key[1] (0x1c).
    EXPECT_EQ(static_cast<uint8_t>(body[nl + 1]), '"' ^ 1 ^ 0x1c);
    // The 32nd byte after the line uses key[0] with counter 32.
    EXPECT_EQ(static_cast<uint8_t>(body[nl + 32]), static_cast<uint8_t>(text[nl + 32] ^ 32 ^ 0x5a));
    run("x c.lpp", &st);
    std::ifstream back(dir + "/lib.plover", std::ios::binary);
    std::string round((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    EXPECT_EQ(round, text);
}

// Extraction writes each module under its stored name: a name that reaches
// another folder, or that is the library's own, is refused and nothing is
// written there.
TEST_F(Rook, ExtractionStaysBesideTheLibrary)
{
    write_object("a.obj", {{"_a", 0x10}});
    std::ifstream in(dir + "/a.obj", std::ios::binary);
    std::vector<uint8_t> body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct { const char *module, *number; } rows[] = {
        {"../up.obj", "(1482)"},
        {"sub/a.obj", "(1482)"},
        {"evil.lib", "(1486)"},
    };
    for (auto &r : rows) {
        lib_module m{};
        m.name = r.module;
        m.length = static_cast<uint32_t>(body.size());
        FILE *f = fopen((dir + "/evil.lib").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(lib_write(f, {m}, {body}), LIB_OK);
        fclose(f);
        std::ifstream lib(dir + "/evil.lib", std::ios::binary);
        std::string before((std::istreambuf_iterator<char>(lib)), std::istreambuf_iterator<char>());
        int st;
        std::string out = run("x evil.lib", &st);
        EXPECT_NE(st, 0) << r.module;
        EXPECT_NE(out.find(r.number), std::string::npos) << r.module << ": " << out;
        EXPECT_FALSE(std::ifstream(dir + "/../up.obj").good());
        std::ifstream after(dir + "/evil.lib", std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()), before)
            << r.module;
    }
}
