// The object scan: objects and libraries built record by record here,
// the order the scan gives them, the code generator's arguments it yields,
// the librarian's reordering, and malformed files reported by number.
#include "support.h"

#include "objfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// An object file under construction: records appended in order.
struct object_file {
    std::vector<uint8_t> bytes;
    byte_order order = order_little;

    void raw(unsigned type, const std::vector<uint8_t> &body, unsigned length)
    {
        bytes.push_back(static_cast<uint8_t>(length & 0xFF));
        bytes.push_back(static_cast<uint8_t>(length >> 8));
        bytes.push_back(static_cast<uint8_t>(type));
        bytes.insert(bytes.end(), body.begin(), body.end());
    }
    void record(unsigned type, const obj_builder &b)
    {
        raw(type, std::vector<uint8_t>(b.body, b.body + b.length), b.length);
    }
    void ident(const byte_order &o)
    {
        order = o;
        obj_builder b;
        build_start(b, o);
        build_ident(b, o, "PIC", obj_version{3, 4});
        record(REC_IDENT, b);
    }
    // A global definition (kind 0) or reference (kind 6).
    void sym(const char *name, unsigned kind, uint32_t value = 0)
    {
        obj_builder b;
        build_start(b, order);
        build_sym_entry(b, obj_sym_entry{value, static_cast<uint16_t>(OBJ_GLOBAL | kind), 0, "text", name}, false);
        record(REC_SYM, b);
    }
    // A complex relocation whose expression refers to the symbols.
    void refers(std::initializer_list<const char *> names)
    {
        obj_builder b;
        build_start(b, order);
        build_u16(b, 0);
        build_u8(b, 0x30);
        build_u8(b, 19);
        build_name(b, "ref");
        for (const char *n : names) {
            build_u8(b, 32);
            build_name(b, n);
        }
        build_u8(b, 0);
        record(REC_RELOC, b);
    }
    void end() { raw(REC_END, {0, 0}, 2); }
    void save(const std::string &path) const
    {
        FILE *f = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
};

// A library of modules: a directory entry each (no symbols), then bodies.
void save_library(const std::string &path, const std::vector<std::pair<std::string, object_file>> &modules)
{
    std::vector<uint8_t> dir;
    for (const auto &m : modules) {
        uint32_t len = static_cast<uint32_t>(m.second.bytes.size());
        uint8_t head[12] = {0, 0, 0, 0, static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8), 0, 0};
        dir.insert(dir.end(), head, head + 12);
        dir.insert(dir.end(), m.first.begin(), m.first.end());
        dir.push_back(0);
    }
    FILE *f = fopen(path.c_str(), "wb");
    uint8_t header[4] = {static_cast<uint8_t>(dir.size()), static_cast<uint8_t>(dir.size() >> 8),
                         static_cast<uint8_t>(modules.size()), 0};
    fwrite(header, 1, 4, f);
    fwrite(dir.data(), 1, dir.size(), f);
    for (const auto &m : modules)
        fwrite(m.second.bytes.data(), 1, m.second.bytes.size(), f);
    fclose(f);
}

class ObjectScan : public ::testing::Test {
protected:
    std::vector<std::string> made;

    void SetUp() override
    {
        messages_for_test();
        obj_scan_reset();
        settings = driver_settings{};
        opts.noexec = 0;
    }
    void TearDown() override
    {
        for (const std::string &f : made)
            remove(f.c_str());
        opts.noexec = 0;
        settings = driver_settings{};
    }
    void save(const object_file &o, const std::string &path)
    {
        o.save(path);
        made.push_back(path);
    }
    // Scans the files; returns the new file list.
    static std::vector<std::string> scan(std::initializer_list<const char *> paths)
    {
        vector_t *files = vec_new_default();
        for (const char *p : paths)
            vec_push(files, xstrdup(p));
        obj_scan_files(files);
        std::vector<std::string> r;
        for (uint32_t i = 0; i < vec_count(files); i++)
            r.push_back(static_cast<const char *>(vec_get(files, i)));
        return r;
    }
    static std::vector<std::string> codegen_args()
    {
        vector_t *v = obj_symbol_args();
        std::vector<std::string> r;
        for (uint32_t i = 0; i < vec_count(v); i++)
            r.push_back(static_cast<const char *>(vec_get(v, i)));
        return r;
    }
};

// a.obj refers to _foo, which b.obj defines: a comes first; what nobody
// defines reaches the code generator, _main never does.
TEST_F(ObjectScan, ReferencesOrderTheObjects)
{
    object_file a, b;
    a.ident(order_little);
    a.refers({"_foo", "_bar", "_main"});
    a.end();
    b.ident(order_little);
    b.sym("_foo", SK_ORDINARY, 0x10);
    b.end();
    save(a, "scan_a.obj");
    save(b, "scan_b.obj");
    EXPECT_EQ((std::vector<std::string>{"scan_a.obj", "scan_b.obj"}), scan({"scan_b.obj", "scan_a.obj"}));
    EXPECT_EQ(std::vector<std::string>{"-B_bar"}, codegen_args());
    EXPECT_TRUE(captured_lines.empty()) << captured_lines[0];
}

// Call pairs and function sizes of FNINFO records, read in the byte order
// of the first IDENT record (big-endian here); the other kinds are passed
// over by their layouts.
TEST_F(ObjectScan, FunctionRecordsInTheModulesByteOrder)
{
    object_file a;
    a.ident(order_big);
    obj_builder b;
    build_start(b, order_big);
    build_u8(b, 1);
    build_name(b, "_f");
    build_name(b, "_g");
    build_u8(b, 4);
    build_name(b, "_h");
    build_u8(b, 8);
    build_u16(b, 1);
    build_u16(b, 2);
    build_u8(b, 3);
    build_name(b, "_k");
    build_u16(b, 7);
    build_u8(b, 5);
    build_name(b, "_f");
    build_u32(b, 0x102);
    build_u32(b, 3);
    a.record(REC_FNINFO, b);
    a.end();
    save(a, "scan_fn.obj");
    scan({"scan_fn.obj"});
    EXPECT_EQ((std::vector<std::string>{"-N_f:258:3", "-Q_f:_g"}), codegen_args());
    EXPECT_TRUE(captured_lines.empty()) << captured_lines[0];
}

// Library modules are reordered by the librarian; the library follows the
// objects. A library whose modules stand alone keeps its order.
TEST_F(ObjectScan, LibrariesReorderedByTheLibrarian)
{
    object_file m1, m2, lone, main_obj;
    m1.sym("_x", SK_ORDINARY);
    m1.end();
    m2.refers({"_x"});
    m2.end();
    lone.sym("_y", SK_ORDINARY);
    lone.end();
    main_obj.end();
    save_library("scan_one.lib", {{"m1", m1}, {"m2", m2}});
    save_library("scan_two.lib", {{"lone", lone}});
    made.push_back("scan_one.lib");
    made.push_back("scan_two.lib");
    save(main_obj, "scan_main.obj");
    opts.noexec = 1;
    settings.verbose = 1;
    bs.warn_arg = nullptr;
    EXPECT_EQ((std::vector<std::string>{"scan_main.obj", "scan_one.lib", "scan_two.lib"}),
              scan({"scan_one.lib", "scan_main.obj", "scan_two.lib"}));
    ASSERT_EQ(1u, captured_lines.size());
    EXPECT_NE(std::string::npos, captured_lines[0].find(" o scan_one.lib m2 m1\n")) << captured_lines[0];
}

// Malformed input: each case is reported by its number and the scan never
// reads past a record or a directory.
TEST_F(ObjectScan, MalformedFilesAreReported)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes; // the whole file
        const char *path;
        unsigned message;
    } cases[] = {
        {"name without its zero", {9, 0, REC_SYM, 0, 0, 0, 0, 0x10, 0, 't', 'x', 't'}, "bad.obj", 506},
        {"unknown complex operator",
         {9, 0, REC_RELOC, 0, 0, 0x30, 19, 0, 99, 32, 0, 0, 6, 0, 0}, "bad.obj", 512},
        {"body longer than a record", {0xFE, 1, REC_TEXT}, "bad.obj", 506},
        {"body cut short", {5, 0, REC_TEXT, 1, 2}, "bad.obj", 1044},
        {"no end record", {0, 0, REC_TEXT}, "bad.obj", 505},
        {"names past the body", {11, 0, REC_PSECTBOUND, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0}, "bad.obj", 506},
        {"bad byte-order map", {10, 0, REC_IDENT, 0, 0, 0, 0, 0, 0, 'P', 0, 3, 4, 6, 0, 0}, "bad.obj", 506},
        {"directory past the file", {40, 0, 1, 0, 0, 0}, "bad.lib", 300},
        {"directory entry past the directory", {6, 0, 1, 0, 0, 0, 0, 0, 5, 0}, "bad.lib", 300},
        {"unknown record type", {0, 0, 30}, "bad.obj", 380},
    };
    for (const Case &c : cases) {
        messages_for_test();
        obj_scan_reset();
        FILE *f = fopen(c.path, "wb");
        fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        fclose(f);
        try {
            scan({c.path});
        } catch (const fatal_exit &) {
        }
        remove(c.path);
        EXPECT_TRUE(reported(c.message)) << c.what << ": " << (captured_lines.empty() ? "" : captured_lines[0]);
        // The message names the file it is about.
        for (const std::string &line : captured_lines)
            EXPECT_EQ(0u, line.find(std::string(c.path) + ": ")) << c.what << ": " << line;
    }
}

// A later IDENT with other maps: one error for each byte that differs; the
// first maps stay in force.
TEST_F(ObjectScan, DifferentByteOrdersAreErrors)
{
    object_file a, b;
    a.ident(order_little);
    a.end();
    b.ident(order_big);
    b.end();
    save(a, "scan_le.obj");
    save(b, "scan_be.obj");
    scan({"scan_le.obj", "scan_be.obj"});
    EXPECT_EQ(6u, captured_lines.size());
    EXPECT_TRUE(reported(503));
}

// An object that cannot be opened ends the run.
TEST_F(ObjectScan, MissingObjectIsFatal)
{
    EXPECT_THROW(scan({"no_such_file.obj"}), fatal_exit);
    EXPECT_TRUE(reported(141));
}

// Records of every handled type with bodies of random bytes: the scan
// reports what it cannot read and never stops other than by a message.
TEST_F(ObjectScan, RandomBodiesEndInMessagesOnly)
{
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    const uint8_t types[] = {REC_RELOC, REC_SYM, REC_IDENT, REC_FNINFO, REC_PSECTBOUND};
    for (int round = 0; round < 300; round++) {
        messages_for_test();
        obj_scan_reset();
        object_file o;
        for (int r = 0; r < 4; r++) {
            unsigned length = next() % 40;
            std::vector<uint8_t> body(length);
            for (uint8_t &b : body)
                b = next() % 4 == 0 ? 0 : next();
            o.raw(types[next() % 5], body, length);
        }
        o.end();
        save(o, "scan_random.obj");
        try {
            scan({"scan_random.obj"});
        } catch (const fatal_exit &) {
            ADD_FAILURE() << "round " << round << ": " << captured_lines.back();
        }
    }
}

} // namespace
