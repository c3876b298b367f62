// Tests of the object-record layer: byte-order maps, framing limits, the
// bounded cursor, the version rules of XPSECT and IDENT, and library
// directories. Expected bytes are worked out by hand from the record layouts.
#include "objfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A temporary stream holding the given bytes, positioned at the start.
FILE *stream_of(const std::vector<uint8_t> &bytes)
{
    FILE *f = tmpfile();
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

std::vector<uint8_t> stream_bytes(FILE *f)
{
    std::vector<uint8_t> out;
    rewind(f);
    int ch;
    while ((ch = fgetc(f)) != EOF)
        out.push_back((uint8_t)ch);
    return out;
}

TEST(ObjOrder, AccessorsFollowTheMaps)
{
    struct row {
        const char *what;
        byte_order order;
        std::vector<uint8_t> u32_bytes;   // 0x11223344 written
        std::vector<uint8_t> u16_bytes;   // 0xA1B2 written
        std::vector<uint8_t> u24_bytes;   // 0x556677 written into 4 zero bytes:
                                          // positions map32[b..b+2], b = (map32[0] != 0)
    };
    const row rows[] = {
        {"little", order_little, {0x44, 0x33, 0x22, 0x11}, {0xB2, 0xA1}, {0x77, 0x66, 0x55, 0}},
        {"big", order_big, {0x11, 0x22, 0x33, 0x44}, {0xA1, 0xB2}, {0x55, 0x66, 0x77, 0}},
        // word-swapped: low word first, each word big-endian
        {"middle", {{1, 0, 3, 2}, {1, 0}}, {0x33, 0x44, 0x11, 0x22}, {0xA1, 0xB2}, {0x77, 0, 0x55, 0x66}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        uint8_t b[4] = {};
        put_u32(b, 0x11223344, r.order);
        EXPECT_EQ(std::vector<uint8_t>(b, b + 4), r.u32_bytes);
        EXPECT_EQ(get_u32(b, r.order), 0x11223344u);
        put_u16(b, 0xA1B2, r.order);
        EXPECT_EQ(std::vector<uint8_t>(b, b + 2), r.u16_bytes);
        EXPECT_EQ(get_u16(b, r.order), 0xA1B2u);
        uint8_t c[4] = {};
        put_u24(c, 0x556677, r.order);
        EXPECT_EQ(std::vector<uint8_t>(c, c + 4), r.u24_bytes);
        EXPECT_EQ(get_u24(c, r.order), 0x556677u);
    }
}

TEST(ObjOrder, OnlyPermutationsAreValid)
{
    EXPECT_TRUE(order_is_valid(order_little));
    EXPECT_TRUE(order_is_valid(order_big));
    EXPECT_FALSE(order_is_valid({{0, 1, 2, 4}, {0, 1}}));   // position outside the field
    EXPECT_FALSE(order_is_valid({{0, 0, 2, 3}, {0, 1}}));   // one byte twice
    EXPECT_FALSE(order_is_valid({{0, 1, 2, 3}, {1, 1}}));
    EXPECT_FALSE(order_is_valid({{0, 1, 2, 3}, {0, 2}}));
}

TEST(ObjFraming, BodyLimitsAndShortFiles)
{
    // 509 body bytes are read; 510 are refused without touching the buffer.
    for (unsigned length : {0u, 1u, 509u, 510u, 600u}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> bytes = {(uint8_t)length, (uint8_t)(length >> 8), REC_TEXT};
        bytes.resize(3 + length, 0xAB);
        FILE *f = stream_of(bytes);
        obj_record r;
        ASSERT_EQ(obj_read_header(f, &r), OBJ_OK);
        EXPECT_EQ(r.length, length);
        EXPECT_EQ(obj_read_body(f, &r), length <= 509 ? OBJ_OK : OBJ_TOO_LONG);
        if (length > 509) {
            EXPECT_EQ(obj_skip_body(f, r.length), OBJ_OK);
        }
        EXPECT_EQ(obj_read_header(f, &r), OBJ_END_OF_FILE);
        fclose(f);
    }
    struct row {
        std::vector<uint8_t> bytes;
        obj_status header, body;
    };
    const row rows[] = {
        {{}, OBJ_END_OF_FILE, OBJ_OK},
        {{5}, OBJ_SHORT_HEADER, OBJ_OK},
        {{5, 0}, OBJ_SHORT_HEADER, OBJ_OK},
        {{5, 0, REC_SYM, 1, 2}, OBJ_OK, OBJ_SHORT_BODY},
    };
    for (const row &r : rows) {
        FILE *f = stream_of(r.bytes);
        obj_record rec;
        obj_status h = obj_read_header(f, &rec);
        EXPECT_EQ(h, r.header) << r.bytes.size();
        if (h == OBJ_OK) {
            EXPECT_EQ(obj_read_body(f, &rec), r.body);
        }
        fclose(f);
    }
    EXPECT_FALSE(obj_type_valid(0));
    EXPECT_TRUE(obj_type_valid(1));
    EXPECT_TRUE(obj_type_valid(23));
    EXPECT_FALSE(obj_type_valid(24));
}

TEST(ObjFraming, WriterKeepsTheLimit)
{
    FILE *f = tmpfile();
    uint8_t body[510] = {1, 2};
    EXPECT_EQ(obj_write_record(f, REC_END, body, 2), OBJ_OK);
    EXPECT_EQ(obj_write_record(f, REC_TEXT, body, 510), OBJ_TOO_LONG);
    EXPECT_EQ(stream_bytes(f), (std::vector<uint8_t>{2, 0, 6, 1, 2}));
    fclose(f);

    obj_builder b;
    build_start(b);
    for (int i = 0; i < 127; i++)
        build_u32(b, 0);
    EXPECT_EQ(b.length, 508u);
    build_u8(b, 1);
    EXPECT_FALSE(b.overflow);
    build_u8(b, 1);
    EXPECT_TRUE(b.overflow);
    EXPECT_EQ(b.length, 509u);
}

TEST(ObjCursor, NeverReadsPastTheBody)
{
    const uint8_t body[] = {1, 2, 3, 'a', 'b'};   // a name without its zero
    obj_cursor c = cur_open(body, 3, order_little);
    EXPECT_EQ(cur_u16(c), 0x0201u);
    EXPECT_EQ(cur_u16(c), 0u);      // only one byte left
    EXPECT_TRUE(c.bad);
    EXPECT_EQ(cur_u8(c), 0u);       // stays bad

    obj_cursor n = cur_open(body + 3, 2, order_little);
    EXPECT_STREQ(cur_name(n), "");
    EXPECT_TRUE(n.bad);

    const uint8_t named[] = {'x', 0, 'y', 0};
    obj_cursor m = cur_open(named, 4, order_little);
    EXPECT_STREQ(cur_name(m), "x");
    EXPECT_STREQ(cur_name(m), "y");
    EXPECT_TRUE(cur_at_end(m));
    EXPECT_FALSE(m.bad);
}

TEST(ObjRecords, IdentVersion)
{
    obj_builder b;
    build_start(b);
    build_ident(b, order_big, "PIC14", {3, 10});
    const uint8_t expect[] = {3, 2, 1, 0, 1, 0, 'P', 'I', 'C', '1', '4', 0, 3, 10};
    ASSERT_EQ(b.length, sizeof expect);
    EXPECT_EQ(memcmp(b.body, expect, sizeof expect), 0);
    obj_ident id;
    bool valid;
    ASSERT_TRUE(decode_ident(b.body, b.length, &id, &valid));
    EXPECT_TRUE(valid);
    EXPECT_STREQ(id.machine, "PIC14");
    EXPECT_EQ(version_code(id.version), version_code({3, 10}));
    EXPECT_GT(version_code({3, 10}), version_code({3, 9}));
    // One version byte only: the version reads 0.0.
    ASSERT_TRUE(decode_ident(b.body, b.length - 1, &id, &valid));
    EXPECT_EQ(version_code(id.version), 0u);
    // Machine name without its zero: malformed.
    EXPECT_FALSE(decode_ident(b.body, 9, &id, &valid));
}

TEST(ObjRecords, XpsectVersionRules)
{
    // max size 0x100, boundary 2, selector 7, space 1, delta 0, byte 10, type 5,
    // then "text", "CODE", "init".
    obj_builder b;
    build_start(b);
    build_u32(b, 0x100);
    build_u16(b, 2);
    build_u16(b, 7);
    build_u8(b, 1);
    build_u8(b, 0);
    build_u8(b, 0xEE);
    build_u8(b, 5);
    build_name(b, "text");
    build_name(b, "CODE");
    build_name(b, "init");
    struct row {
        obj_version v;
        unsigned selector, type, space, delta;
        const char *with;
    };
    const row rows[] = {
        {{0, 0}, 0, 0, 0, 1, ""},
        {{1, 0}, 7, 0, 0, 1, ""},
        {{1, 1}, 7, 5, 0, 1, ""},
        {{3, 3}, 7, 5, 1, 1, ""},
        {{3, 4}, 7, 5, 1, 1, ""},     // delta 0 reads as 1
        {{3, 5}, 7, 5, 1, 1, "init"},
        {{3, 10}, 7, 5, 1, 1, "init"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.v.major) + "." + std::to_string(r.v.minor));
        obj_xpsect x;
        ASSERT_TRUE(decode_xpsect(cur_open(b.body, b.length), r.v, &x));
        EXPECT_EQ(x.max_size, 0x100u);
        EXPECT_EQ(x.boundary, 2u);
        EXPECT_EQ(x.selector, r.selector);
        EXPECT_EQ(x.type, r.type);
        EXPECT_EQ(x.space, r.space);
        EXPECT_EQ(x.delta, r.delta);
        EXPECT_STREQ(x.psect, "text");
        EXPECT_STREQ(x.class_name, "CODE");
        EXPECT_STREQ(x.with_psect, r.with);
    }
    b.body[9] = 2;
    obj_xpsect x;
    ASSERT_TRUE(decode_xpsect(cur_open(b.body, b.length), {3, 4}, &x));
    EXPECT_EQ(x.delta, 2u);
    EXPECT_FALSE(decode_xpsect(cur_open(b.body, 11), {3, 4}, &x));
}

TEST(ObjRecords, TextAndSymbolEntries)
{
    const uint8_t text[] = {0x10, 0, 0, 0, 't', 'x', 0, 0xAA, 0xBB};
    obj_text t;
    ASSERT_TRUE(decode_text(cur_open(text, sizeof text, order_little), &t));
    EXPECT_EQ(t.offset, 0x10u);
    EXPECT_STREQ(t.psect, "tx");
    EXPECT_EQ(t.data_length, 2u);
    EXPECT_EQ(t.data[1], 0xBB);
    EXPECT_FALSE(decode_text(cur_open(text, 6, order_little), &t));

    obj_builder b;
    build_start(b, order_big);
    build_sym_entry(b, {0x1234, 0x10, 9, "text", "_main"}, true);
    const uint8_t expect[] = {0, 0, 0x12, 0x34, 0, 0x10, 0, 9, 't', 'e', 'x', 't', 0, '_', 'm', 'a', 'i', 'n', 0};
    ASSERT_EQ(b.length, sizeof expect);
    EXPECT_EQ(memcmp(b.body, expect, sizeof expect), 0);
    obj_cursor c = cur_open(b.body, b.length, order_big);
    obj_sym_entry e;
    ASSERT_TRUE(decode_sym_entry(c, true, &e));
    EXPECT_EQ(e.value, 0x1234u);
    EXPECT_EQ(e.selector, 9u);
    EXPECT_STREQ(e.name, "_main");
    EXPECT_TRUE(cur_at_end(c));
}

TEST(ObjLibrary, WriteThenReadDirectory)
{
    std::vector<lib_module> mods(2);
    mods[0].name = "a.obj";
    mods[0].length = 3;
    memcpy(mods[0].reserved, "\x09\x09\x09\x09", 4);
    mods[0].symbols = {{0, "_a"}, {1, "_b"}};
    mods[1].name = "b.obj";
    mods[1].length = 2;
    mods[1].symbols = {{0, "_b"}};
    std::vector<std::vector<uint8_t>> bodies = {{1, 2, 3}, {4, 5}};
    FILE *f = tmpfile();
    ASSERT_EQ(lib_write(f, mods, bodies), LIB_OK);
    std::vector<uint8_t> bytes = stream_bytes(f);
    fclose(f);
    // Directory: entry 1 = 12 + 6 ("a.obj") + 8 symbol bytes = 26,
    // entry 2 = 12 + 6 + 4 = 22; 48 in all.
    const std::vector<uint8_t> expect = {
        48, 0, 2, 0,
        8, 0, 2, 0, 3, 0, 0, 0, 9, 9, 9, 9, 'a', '.', 'o', 'b', 'j', 0, 0, '_', 'a', 0, 1, '_', 'b', 0,
        4, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 'b', '.', 'o', 'b', 'j', 0, 0, '_', 'b', 0,
        1, 2, 3, 4, 5,
    };
    EXPECT_EQ(bytes, expect);

    FILE *g = stream_of(bytes);
    lib_directory dir;
    ASSERT_EQ(lib_read_directory(g, &dir), LIB_OK);
    fclose(g);
    ASSERT_EQ(dir.modules.size(), 2u);
    EXPECT_EQ(dir.directory_size, 48u);
    EXPECT_EQ(dir.modules[0].start, 52u);
    EXPECT_EQ(dir.modules[1].start, 55u);
    EXPECT_EQ(dir.modules[1].symbols[0].name, "_b");
    EXPECT_EQ(dir.modules[0].symbols[1].flag, 1u);

    // Damaged copies of the same library.
    struct row {
        const char *what;
        size_t at;          // byte to change, or the new file size when `cut`
        uint8_t value;
        bool cut;
        lib_status expect;
    };
    const row rows[] = {
        {"three header bytes", 3, 0, true, LIB_SHORT_HEADER},
        {"directory past the end", 40, 0, true, LIB_SHORT_DIRECTORY},
        {"last module cut short", 56, 0, true, LIB_BAD_MODULE},
        {"module length too big", 8, 200, false, LIB_BAD_MODULE},
        {"symbol list size wrong", 4, 9, false, LIB_BAD_DIRECTORY},
        {"one module more than listed", 2, 3, false, LIB_BAD_DIRECTORY},
        {"name runs past the directory", 0, 17, false, LIB_BAD_DIRECTORY},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<uint8_t> bad = bytes;
        if (r.cut)
            bad.resize(r.at);
        else
            bad[r.at] = r.value;
        FILE *h = stream_of(bad);
        lib_directory d;
        EXPECT_EQ(lib_read_directory(h, &d), r.expect);
        fclose(h);
    }
}

} // namespace
