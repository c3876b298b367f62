// The model's encoders, the machine descriptions and the symbol resolvers,
// driven directly. Expected bytes are the format documents' worked examples
// or computed by hand in the comments.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "egret.h"
#include "tool_run.h"

// A fatal message ends the test's call instead of the process.
struct fatal_exit : std::runtime_error {
    fatal_exit() : std::runtime_error("fatal") {}
};

void tool_exit(int) { throw fatal_exit(); }

namespace {

void fresh_run(const char *processor, const char *tokens = "")
{
    settings = egret_settings{};
    settings.processor = processor;
    if (*tokens)
        settings.processor_tokens.push_back(tokens);
    machine_reset_for_tests();
    sdb_reset_for_tests();
    model_init();
}

TEST(EgretEncode, Leb128)
{
    struct Case {
        int64_t value;
        bool is_signed;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {624485, false, {0xE5, 0x8E, 0x26}},
        {-123456, true, {0xC0, 0xBB, 0x78}},
        {127, false, {0x7F}},
        {64, true, {0xC0, 0x00}},     // bit 6 set: one more byte keeps it positive
        {-64, true, {0x40}},
    };
    for (const Case &c : cases) {
        uint8_t buf[16];
        uint8_t *end = c.is_signed ? leb128_write_signed(buf, c.value) : leb128_write_unsigned(buf, (uint64_t)c.value);
        EXPECT_EQ(std::vector<uint8_t>(buf, end), c.bytes) << c.value;
        const uint8_t *p = buf;
        int64_t back = c.is_signed ? leb128_read_signed(&p, end) : (int64_t)leb128_read_unsigned(&p, end);
        EXPECT_EQ(back, c.value);
        EXPECT_EQ(p, end);
    }
    // A value cut off by the end of its data stops there.
    uint8_t cut[2] = {0x80, 0x80};
    const uint8_t *p = cut;
    leb128_read_unsigned(&p, cut + 2);
    EXPECT_EQ(p, cut + 2);
}

TEST(EgretEncode, DigitsNamesAndPaths)
{
    EXPECT_EQ(hex_byte("G0"), 0xFFFFu);
    EXPECT_EQ(hex_byte("a5"), 0xA5u);
    EXPECT_EQ(hex_word("12aB"), 0x12ABu);
    EXPECT_EQ(model_name_hash("_main"), model_name_hash("main"));
    EXPECT_EQ(model_name_hash("_"), (uint32_t)'_');

    settings = egret_settings{};
    settings.pathspec = true;
    settings.path_from = "c:\\src";
    settings.path_to = "d:\\work";
    char *p = path_substitute("c:\\src\\a\\c:\\src");
    EXPECT_STREQ(p, "d:\\work\\a\\c:\\src");
    free(p);

    uint8_t b[8];
    settings.big_endian = true;
    byteorder_write32(b, 0x12345678);
    EXPECT_EQ(b[0], 0x12);
    EXPECT_EQ(byteorder_read16(b), 0x1234);
    settings.big_endian = false;
    EXPECT_EQ(byteorder_read16(b), 0x3412);
}

// The dumps' hex listing: a short last line is padded so its text lines up.
TEST(EgretEncode, HexDump)
{
    FILE *f = tmpfile();
    const uint8_t bytes[] = {'A', 'B', 0x01, 'C', 0x7F};
    hex_dump(f, 0x10, 4, bytes, sizeof bytes, "%04lX:", true);
    hex_dump(f, 0x20, 4, bytes, 2, "%04lX:", false);
    rewind(f);
    char text[200] = {};
    fread(text, 1, sizeof text - 1, f);
    fclose(f);
    EXPECT_STREQ(text, "0010: 41 42 01 43 AB.C\n0014: 7F          .\n0020: 41 42\n");
}

TEST(EgretModel, FilesSymbolsAndSegments)
{
    fresh_run("");
    EXPECT_EQ(model_add_file("MAIN.C"), 1u);
    EXPECT_EQ(model_add_file("main.c"), 1u);
    settings.strip_extensions = true;
    EXPECT_EQ(model_add_file("x.obj"), 2u);
    EXPECT_EQ(model_add_file("x.c"), 2u);

    model_add_symbol("_a", 0x20, 0, 1, 0);
    model_add_symbol("_a", 0x30, 0, 1, 0);
    model_add_symbol("F123", 0x40, 0, 1, 0);
    uint32_t v, seg;
    ASSERT_TRUE(model_symbol_value("_a", &v, &seg));
    EXPECT_EQ(v, 0x20u);
    EXPECT_EQ(model_symbol_by_value(0x40), nullptr);
    EXPECT_EQ(model_file_at(1)->symbol_count, 3u);

    // Class CODE (group of its own), segments in it at 0-F and 10-1F.
    uint32_t code = model_add_segment("CODE", 0, 0, 0, 1);
    model_add_segment("a", 0, 0x10, 0, code);
    model_add_segment("b", 0x10, 0x10, 0x10, code);
    EXPECT_EQ(model_segment_at(0x18, code, 1), 3u);
    EXPECT_EQ(model_segment_at(0x0C, code, 2), 3u);   // 0Ch * 2 = 18h
    EXPECT_EQ(model_segment_at(0x40, code, 1), code);

    // Bytes per word from the architecture token wherever it stands.
    settings.processor_tokens = {"877A", "PIC14"};
    EXPECT_EQ(model_bytes_per_word(), 2u);
    settings.processor_tokens = {"PIC12"};
    EXPECT_EQ(model_bytes_per_word(), 2u);
    settings.processor_tokens = {"877A"};
    EXPECT_EQ(model_bytes_per_word(), 1u);
}

TEST(EgretMachine, SelectionByNameAndModeWords)
{
    struct Case {
        const char *processor;
        const char *tokens;
        const char *machine;   // null: no selection
    } cases[] = {
        {"16F877A", "", "PIC"},
        {"18F452", "", "PIC18"},
        {"PIC18F452", "", "PIC"},
        {"30F2010", "", "dsPIC"},
        {"32MX360F512L", "", "PIC32"},
        {"AT89C51", "8051", "8051"},
        {"ARM7", "", "ARM"},
        {"ht48r05", "", "Holtek"},
        {"", "PIC14 GLOBOPT ]", "PIC"},
        {"", "HOLTEK FORCEBANK", "Holtek"},
        {"", "GLOBOPT", nullptr},      // 669: several
        {"", "NOSUCH", nullptr},       // 668: none
    };
    static std::string reported;
    msg_set_output_hook([](const char *line) { reported += line; });
    for (const Case &c : cases) {
        reported.clear();
        fresh_run(c.processor);
        if (strcmp(c.processor, "AT89C51") == 0)
            settings.processor_tokens = {"8051"};
        const machine_desc *m = machine_select(c.tokens, c.processor);
        if (c.machine) {
            ASSERT_NE(m, nullptr) << c.processor << c.tokens;
            EXPECT_STREQ(m->name, c.machine) << c.processor << c.tokens;
        } else {
            EXPECT_EQ(m, nullptr) << c.tokens;
            EXPECT_NE(reported.find(strcmp(c.tokens, "GLOBOPT") == 0 ? "(669)" : "(668)"), std::string::npos)
                << reported;
        }
    }
    msg_set_output_hook(nullptr);
}

// Loads a symbol file and the SDB file it names, as the driver's call does.
void load(const char *processor, const std::string &sym, const std::string &sdb)
{
    fresh_run(processor);
    tool_write("p.sym", sym);
    tool_write("m.sdb", sdb);
    FILE *in = fopen("p.sym", "r");
    ASSERT_NE(in, nullptr);
    symfile_format.read(in, "p.sym");
    fclose(in);
    ASSERT_NE(sdb_global, nullptr);
}

// The path from the global scope to the block that holds `name`.
bool path_to(sdb_entry *scope, const char *name, std::vector<sdb_entry *> &path, sdb_entry **found)
{
    path.push_back(scope);
    for (sdb_entry *e : scope->entries) {
        if (e->name && strcmp(e->name, name) == 0 && e->kind != SC_MODULE) {
            *found = e;
            return true;
        }
        if ((e->kind == SC_MODULE || e->kind == SC_FUNC || e->kind == SC_BLOCK) && path_to(e, name, path, found))
            return true;
    }
    path.pop_back();
    return false;
}

resolved_address resolve(const char *name, bool *ok)
{
    std::vector<sdb_entry *> path;
    sdb_entry *e = nullptr;
    resolved_address r{};
    *ok = path_to(sdb_global, name, path, &e) && machine_resolve(e, path, &r);
    return r;
}

// PIC frames: autos at ??f plus their offset, parameters at ?f plus
// theirs; externs and statics by their symbols; a register variable has no
// address on a PIC.
TEST(EgretMachine, PicResolvers)
{
    load("16F877A",
         "_g 20 0 BANK0\n_main 10 0 CODE\n??_main 70 0 COMMON\n?_main 74 0 COMMON\nF12 33 0 BANK0\n"
         "%locals\nm.obj\n",
         "[p PIC14 ]\n\"1 m.c\n[v _g `uc 1 e 1 0 ]\n[v F12 `uc 1 s 1 main@k ]\n[v _main `(v 1 e 0 0 ]\n{\n\"2\n"
         "[v cnt `ui 1 a 2 3 ]\n[v n `uc 1 p 1 1 ]\n[v w `uc 1 a 1 fsr ]\n{\n[v t `c 1 a 1 5 ]\n}\n}\n");
    struct Case {
        const char *name;
        bool ok;
        uint32_t value;
    } cases[] = {
        {"_g", true, 0x20},
        {"_main@k", true, 0x33},   // by its alias F12
        {"cnt", true, 0x73},       // 70h + 3
        {"n", true, 0x75},         // 74h + 1
        {"t", true, 0x75},         // inner block: still the frame of main, 70h + 5
        {"w", false, 0},           // a register variable
    };
    for (const Case &c : cases) {
        bool ok;
        resolved_address r = resolve(c.name, &ok);
        EXPECT_EQ(ok, c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(r.value, c.value) << c.name;
        }
    }
}

// Register variables of the machines that place them: the register number
// n (from 1 in the description's order) becomes a register address.
TEST(EgretMachine, RegisterResolvers)
{
    struct Case {
        const char *processor;
        const char *reg;
        uint32_t value;
    } cases[] = {
        {"30F2010", "w3", 3},     // number 4
        {"30F2010", "w45", 4},    // number 19: 2 * 19 - 34
        {"ARM7", "r8_9", 8},      // the pair starts at r8
        {"ARM7", "r0_1", 0},
        {"ht48r05", "a", 5},
        {"32MX360F512L", "t0", 8},
    };
    for (const Case &c : cases) {
        load(c.processor, "_f 0 0 CODE\n%locals\nm.obj\n",
             std::string("[p ]\n[v _f `(v 1 e 0 0 ]\n{\n[v r `c 1 r 1 ") + c.reg + " ]\n}\n");
        bool ok;
        resolved_address r = resolve("r", &ok);
        EXPECT_TRUE(ok) << c.processor << " " << c.reg;
        EXPECT_EQ(r.value, c.value) << c.processor << " " << c.reg;
    }
}

// Sizes: a pointer to far or const data on a PIC is two bytes, else one;
// arrays multiply; structures are equal by their members; two that each
// hold a pointer to themselves are told apart, without endless descent.
TEST(EgretMachine, TypeSizesAndEquality)
{
    load("16F877A", "%locals\nm.obj\n",
         "[p PIC14 ]\n[s S1 node 3 `*S1 1 next 1 0 `ui 1 v 2 1 ]\n[s S2 node 3 `*S2 1 next 1 0 `ui 1 v 2 1 ]\n"
         "[v _a `*Fc 1 e 2 0 ]\n[v _b `*c 1 e 1 0 ]\n[v _c `[10]ui 1 e 20 0 ]\n[v _d `S1 1 e 3 0 ]\n"
         "[v _e `S2 1 e 3 0 ]\n[v _f `*Dc 1 e 2 0 ]\n"
         "[s S3 pair 3 `ui 1 v 2 0 `uc 1 w 1 2 ]\n[s S4 pair 3 `ui 1 v 2 0 `uc 1 w 1 2 ]\n"
         "[v _g `S3 1 e 3 0 ]\n[v _h `S4 1 e 3 0 ]\n");
    auto size_of = [](const char *name) {
        sdb_entry *e = sdb_find_var(name);
        return machine_type_size(e->type, e->type->entries.size() - 1);
    };
    EXPECT_EQ(size_of("_a"), 2u);
    EXPECT_EQ(size_of("_b"), 1u);
    EXPECT_EQ(size_of("_c"), 20u);
    EXPECT_EQ(size_of("_d"), 3u);
    EXPECT_EQ(size_of("_f"), 2u);
    EXPECT_TRUE(type_equal(sdb_find_var("_g")->type, sdb_find_var("_h")->type));
    EXPECT_FALSE(type_equal(sdb_find_var("_d")->type, sdb_find_var("_e")->type));
    EXPECT_TRUE(type_equal(sdb_find_var("_d")->type, sdb_find_var("_d")->type));
    EXPECT_FALSE(type_equal(sdb_find_var("_a")->type, sdb_find_var("_b")->type));
    EXPECT_EQ(type_hash(sdb_find_var("_d")->type), type_hash(sdb_find_var("_e")->type));

    hash_t *table = type_table_new();
    type_table_insert(table, sdb_find_var("_g")->type, 7);
    EXPECT_EQ(type_table_lookup(table, sdb_find_var("_h")->type), 7u);
    EXPECT_EQ(type_table_lookup(table, sdb_find_var("_c")->type), 0u);
    type_table_free(table);

    // pointer to const char: basic c, qualifier D, pointer
    const type_chain *f = sdb_find_var("_f")->type;
    ASSERT_EQ(f->entries.size(), 3u);
    EXPECT_EQ(f->entries[0].kind, TK_BASIC);
    EXPECT_EQ(f->entries[1].kind, TK_QUALIFIER);
    EXPECT_EQ(f->entries[1].value, 0x40000u);
    EXPECT_EQ(f->entries[2].kind, TK_POINTER);
}

} // namespace
