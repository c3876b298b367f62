// The intermediate-code reader: version line, malformed records, pragmas,
// line markers, label and string renumbering, string tail merging,
// initialisers and libraries.
#include "kestrel_test.h"

#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using reader = kestrel_fixture;

TEST_F(reader, version_line)
{
    struct row { const char *line; int errors; } rows[] = {
        {"Version 3.2 Vormak Software Intermediate Code\n", 0},
        {"Version 3.9 Vormak Software Intermediate Code\n", 0},
        {"Version 3.1 Vormak Software Intermediate Code\n", 1},
        {"Version 4.2 Vormak Software Intermediate Code\n", 1},
        {"Version 3\n", 1},
    };
    for (const row &r : rows) {
        lines.clear();
        read(r.line);
        EXPECT_EQ(count(718), r.errors) << r.line;
    }
}

TEST_F(reader, malformed_records_are_reported_and_reading_goes_on)
{
    struct row { const char *text; unsigned msg; int n; } rows[] = {
        {"[x ]\n[v _a `i 1 e ]\n", 714, 2},          // unknown tag; "]" is a bad token too
        {"[f x\n", 714, 1},                           // missing "]"
        {"[e -> 1 `i ]\n", 714, 1},                   // no current function
        {"[v _f `(i 1 e ]\n{\n[e :U _f ]\n[e () _a _b ]\n}\n", 730, 1},
        {"[p z ]\n", 715, 1},
    };
    for (const row &r : rows) {
        SetUp();
        read(r.text);
        EXPECT_EQ(count(r.msg), r.n) << r.text;
    }
    SetUp();
    read("[x ]\n[v _a `i 1 e ]\n");
    EXPECT_NE(sym("_a"), nullptr);
}

TEST_F(reader, record_tag_inside_expression_is_fatal)
{
    EXPECT_EQ(read_fatal("[v _f `(i 1 e ]\n{\n[e :U _f ]\n[e = _a [i ]\n"), 1);
    EXPECT_EQ(count(1121), 1);
}

TEST_F(reader, line_markers_set_file_and_line)
{
    read("\"12 my file.c\n[v _a `i 1 e ]\n\"20\n[v _b `i 1 e ]\n");
    ASSERT_NE(sym("_a"), nullptr);
    EXPECT_STREQ(sym("_a")->def_file, "my file.c");
    EXPECT_EQ(sym("_a")->def_line, 12);
    EXPECT_STREQ(sym("_b")->def_file, "my file.c");
    EXPECT_EQ(sym("_b")->def_line, 20);
}

static tree_node *first_statement(cg_symbol *f, uint32_t k = 0)
{
    return f && f->func && vec_count(f->func->trees) > k ? (tree_node *)vec_get(f->func->trees, k) : nullptr;
}

TEST_F(reader, labels_and_strings_of_a_second_input_follow_the_first)
{
    const char *fmt = "[v %s `(v 1 e ]\n{\n[e :U %s ]\n[e :U 1 ]\n[e $U 1 ]\n[e :s 2 ]\n[e :UE 3 ]\n}\n";
    char text[256];
    snprintf(text, sizeof text, fmt, "_f", "_f");
    read(text);
    snprintf(text, sizeof text, fmt, "_g", "_g");
    read(text);
    tree_node *entry = first_statement(sym("_g"), 0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->left->op, (uint32_t)OP_ID);  // ":U _g" keeps its symbol
    EXPECT_EQ(first_statement(sym("_f"), 1)->left->value, 1);
    EXPECT_EQ(first_statement(sym("_g"), 1)->left->value, 4);  // 1 + largest label 3
    EXPECT_EQ(first_statement(sym("_g"), 2)->left->value, 4);
    EXPECT_EQ(first_statement(sym("_g"), 3)->left->value, 4);  // string 2 + 2
    EXPECT_EQ(first_statement(sym("_g"), 4)->left->value, 6);
    EXPECT_GT(new_label_number(), 30000u);
}

// A negative label or string number, or one that the move past an earlier
// input would carry beyond the numbers kept for the inputs (or beyond an
// int), is bad intermediate code, not a wrapped number.
TEST_F(reader, label_and_string_numbers_out_of_range)
{
    read("[v _f `(v 1 e ]\n{\n[e :U _f ]\n[e :U 5 ]\n}\n");
    EXPECT_EQ(count(714), 0);
    read("[v _g `(v 1 e ]\n{\n[e :U _g ]\n[e :U -5 ]\n[e :U 2147483647 ]\n[e :s 50000000 ]\n[e :U 49999996 ]\n"
         "[e $U 60000000 ]\n}\n[a 99999999999999999999 65 0 ]\n");
    EXPECT_EQ(count(714), 6);   // 49999996 fits alone, not after label 5
    EXPECT_EQ(first_statement(sym("_g"), 1)->left->value, -5);   // left as it was read
    EXPECT_LT(new_label_number(), 50000000u);
}

TEST_F(reader, switch_takes_the_pending_kind_once)
{
    read("[v _f `(v 1 e ]\n{\n[e :U _f ]\n[p w simple ]\n"
         "[e [\\ _x , $ -> 1 `i 2\n , $ -> 2 `i 3\n 4 ]\n"
         "[e [\\ _x 5 ]\n[p w fast ]\n}\n");
    tree_node *s1 = first_statement(sym("_f"), 1), *s2 = first_statement(sym("_f"), 2);
    ASSERT_TRUE(s1 && s2);
    EXPECT_EQ(s1->op, (uint32_t)OP_SWITCH);
    EXPECT_EQ(s1->spare, 1u);
    EXPECT_EQ(s2->spare, 0u);
    EXPECT_EQ(count(737), 1);
}

TEST_F(reader, pragma_records)
{
    struct row { const char *text; unsigned msg; int n; } rows[] = {
        {"[p s text=mytext ]\n", 733, 0},
        {"[p s text ]\n", 733, 1},
        {"[p r 300 ]\n", 738, 1},
        {"[p b stack ]\n", 735, 1},
        {"[p n 123 456 ]\n", 715, 1},
        {"[p u _f wreg,wtemp0 ]\n", 749, 1},
        {"[p k o ]\n", 715, 0},
    };
    for (const row &r : rows) {
        SetUp();
        read(r.text);
        EXPECT_EQ(count(r.msg), r.n) << r.text;
    }
    SetUp();
    read("[p s text=mytext ]\n[p s data=d2 ]\n");
    EXPECT_STREQ(psect_map_name("text"), "mytext");
    EXPECT_STREQ(psect_map_name("data"), "d2");
    EXPECT_STREQ(psect_map_name("bss"), "bss");
    std::string many;
    for (int i = 0; i < 29; i++)   // two slots are taken above
        many += "[p s p" + std::to_string(i) + "=q ]\n";
    read(many);
    EXPECT_EQ(count(734), 1);
}

TEST_F(reader, pragma_message_lists_change_message_states)
{
    read("[p n 751,1081 ]\n[v _f `(v 1 e ]\n[p f _f -> 7 `i ]\n[p f _f -> 8 `i ]\n[p r 4 ]\n");
    EXPECT_EQ(sym("_f")->printf_mask, 15u);
    tree_node *c = node_make(OP_CONV, node_new_const(300), node_new_type(basic_type_named("uc")));
    EXPECT_EQ(count(751), 0);   // disabled by the list
    tree_free(c);
    read("[p y ]\n");
    c = node_make(OP_CONV, node_new_const(300), node_new_type(basic_type_named("uc")));
    EXPECT_EQ(count(751), 1);
    tree_free(c);
}

TEST_F(reader, interrupt_level_pragma_prefixes_the_next_function)
{
    read("[p l 2 ]\n[v _isr_helper `(v 1 e ]\n{\n[e :U _isr_helper ]\n}\n[v _after `(v 1 e ]\n");
    EXPECT_EQ(sym("_isr_helper")->int_levels, 4u);
    EXPECT_STREQ(sym_asm_name(sym("_isr_helper")), "_isr_helper");  // covers its own levels
    EXPECT_EQ(sym("_after")->int_levels, 0u);                      // mask back to 1 after the body
}

// An interrupt function runs at one level: two named for it are an error,
// one above 4 a warning.
TEST_F(reader, interrupt_function_levels)
{
    const struct {
        const char *pragmas;
        int e692, w1179;
    } cases[] = {{"", 0, 0}, {"[p l 1 ]\n", 0, 0}, {"[p l 1 ]\n[p l 2 ]\n", 1, 0}, {"[p l 5 ]\n", 0, 1}};
    for (const auto &c : cases) {
        SetUp();
        read(std::string(c.pragmas) + "[v _isr `I(v 1 e ]\n{\n[e :U _isr ]\n}\n");
        EXPECT_EQ(count(692), c.e692) << c.pragmas;
        EXPECT_EQ(count(1179), c.w1179) << c.pragmas;
        TearDown();
    }
}

TEST_F(reader, strings_that_are_tails_share_storage)
{
    read("[a 1 97 98 99 0 ]\n[a 2 98 99 0 ]\n[a 3 98 99 0 ]\n[a 4 120 0 ]\n");
    strings_merge_tails();
    ASSERT_EQ(vec_count(strings_kept), 2u);
    ASSERT_EQ(vec_count(strings_merged), 2u);
    for (uint32_t i = 0; i < 2; i++) {
        string_rec *m = (string_rec *)vec_get(strings_merged, i);
        EXPECT_EQ(m->host->number, 1);
        EXPECT_EQ(m->offset, 1u);
    }
    cg_symbol *s = sym("STR_4");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(type_size(s->type), 2u);
    EXPECT_TRUE(type_qualifiers(typeSub(s->type)) & Q_CONST);
}

TEST_F(reader, initialisers)
{
    read("[v _z `i 1 e ]\n[i _z -> 0 `i ]\n"
         "[v _five `i 1 e ]\n[i _five -> 5 `i ]\n"
         "[v _keep `Si 1 e ]\n[i _keep -> 5 `i ]\n"
         "[v _arr `c -> 0 `x e ]\n[i _arr\n:U ..\n-> 104 `c\n-> 105 `c\n-> 0 `c\n..\n]\n"
         "[v _zeros `i -> 2 `ux e ]\n[i _zeros\n:U ..\n-> 0 `i\n-> 0 `i\n..\n]\n");
    EXPECT_EQ(sym("_z")->init_value, nullptr);
    ASSERT_NE(sym("_five")->init_value, nullptr);
    EXPECT_EQ(sym("_five")->init_value->value, 5);
    EXPECT_EQ(count(1081), 1);
    EXPECT_EQ(type_size(sym("_arr")->type), 3u);
    EXPECT_NE(sym("_arr")->init_list, nullptr);
    EXPECT_EQ(sym("_zeros")->init_list, nullptr);
    EXPECT_EQ(count(714), 0);
}

// Writes a library of modules: each {name, defined symbols, text}.
struct lib_module { const char *name; std::vector<std::string> defines; std::string text; };

static std::string write_library(const std::vector<lib_module> &mods)
{
    std::string dir, bodies;
    auto put16 = [](std::string &s, uint32_t v) { s += (char)(v & 0xFF); s += (char)(v >> 8); };
    for (const lib_module &m : mods) {
        std::string body = "Version 3.2 Vormak Software Intermediate Code\n";
        uint8_t c = 0;
        for (char ch : m.text) {
            c++;
            body += (char)((uint8_t)ch ^ scramble_mask(c));
        }
        put16(dir, 0);
        put16(dir, (uint32_t)m.defines.size());
        put16(dir, (uint32_t)body.size());
        put16(dir, 0);
        put16(dir, 0);
        put16(dir, 0);
        dir += m.name;
        dir += '\0';
        for (const std::string &d : m.defines) {
            dir += '\0';
            dir += d;
            dir += '\0';
        }
        bodies += body;
    }
    std::string file;
    put16(file, (uint32_t)dir.size());
    put16(file, (uint32_t)mods.size());
    // in the test process's own working directory, which the test main removes
    std::string path = "modules.lpp";
    FILE *f = fopen(path.c_str(), "wb");
    std::string all = file + dir + bodies;
    fwrite(all.data(), 1, all.size(), f);
    fclose(f);
    return path;
}

static int loads;
static void count_loads(ic_context *ctx)
{
    loads++;
    ic_read_one(ctx);
}

TEST_F(reader, library_modules_load_in_rounds)
{
    std::string path = write_library({
        {"b", {"_second"}, "[v _second `(v 1 e ]\r\n{\n[e :U _second ]\n}\n"},
        {"a", {"_first"}, "[v _second `(v 0 e ]\n[v _first `(v 1 e ]\n{\n[e :U _first ]\n[e ( _second .. ]\n}\n"},
        {"a2", {"_first"}, "[v _first `(v 1 e ]\n"},
        {"unused", {"_other"}, "[v _other `(v 1 e ]\n"},
    });
    read("[v _first `(v 0 e ]\n[v _main `(v 1 e ]\n{\n[e :U _main ]\n[e ( _first .. ]\n}\n");
    vector_t *libs = vec_new(2);
    vec_push(libs, (void *)path.c_str());
    vec_push(libs, (void *)path.c_str());
    loads = 0;
    ic_load_libraries(libs, lib_wanted_test, count_loads);
    EXPECT_EQ(loads, 2);
    EXPECT_FALSE(sym("_first")->flags & SF_UNDEF);
    EXPECT_FALSE(sym("_second")->flags & SF_UNDEF);
    EXPECT_TRUE(sym("_second")->flags & SF_LIBFUNC);
    EXPECT_EQ(sym("_other"), nullptr);
    EXPECT_EQ(count(718) + count(714) + count(237), 0);
    vec_free(libs);
}

// Loads a library whose directory ends before its first entry, through the
// caller's list (left as it is when the load stops the run).
static void load_cut_library(vector_t *libs)
{
    FILE *f = fopen("cut.lpp", "wb");
    fwrite("\x20\x00\x01\x00\x00", 1, 5, f);
    fclose(f);
    vec_clear(libs);
    vec_push(libs, (void *)"cut.lpp");
    ic_load_libraries(libs, lib_wanted_test, ic_read_one);
}

TEST_F(reader, library_cut_short_is_fatal)
{
    vector_t *libs = vec_new(1);
    EXPECT_THROW(load_cut_library(libs), fatal_exit);
    EXPECT_EQ(count(300), 1);
    vec_free(libs);
}

// A directory is named as what it is, not read as a library cut short.
TEST_F(reader, directory_named_as_a_library_cannot_be_opened)
{
    std::string path = testing::TempDir() + "kestrel_dir_" + std::to_string(getpid()) + ".lpp";
    mkdir(path.c_str(), 0700);
    vector_t *libs = vec_new(1);
    vec_push(libs, (void *)path.c_str());
    ic_load_libraries(libs, lib_wanted_test, ic_read_one);
    EXPECT_EQ(count(140), 1);
    EXPECT_EQ(count(300), 0);
    vec_free(libs);
    rmdir(path.c_str());
}

// A statement nested far deeper than the reader follows.
static std::string deep_expression()
{
    std::string deep = "[v _f `(v 1 e ]\n{\n[e :U _f ]\n[e ";
    for (int i = 0; i < 10001; i++)
        deep += "! ";
    return deep + "_x ]\n}\n";
}

TEST_F(reader, absurdly_deep_expression_is_an_error_not_a_crash)
{
    EXPECT_EQ(read_fatal(deep_expression()), 1);
    EXPECT_EQ(count(1121), 1);
    SetUp();
    read("[p n 4000000000,751 ]\n");   // no message has the first number
    tree_free(node_make(OP_CONV, node_new_const(300), node_new_type(basic_type_named("uc"))));
    EXPECT_EQ(count(751), 0);
}

// Records met inside an expression read expressions of their own: a chain
// of them is held to the same depth as a chain of operators.
TEST_F(reader, records_nested_without_end_are_an_error_not_a_crash)
{
    std::string chain;
    for (int i = 0; i < 100000; i++)
        chain += "[c ";
    EXPECT_EQ(read_fatal(chain), 1);
    EXPECT_EQ(count(1121), 1);
    SetUp();
    read("[c E1 [c E2 1 2 .. ] 3 .. ]\n[v _a `i 1 e ]\n");   // a shallow nesting still reads
    EXPECT_EQ(count(1121) + count(714), 0);
    EXPECT_NE(sym("_a"), nullptr);
}

// A count whose sum ends before its operands do: reported, not folded.
TEST_F(reader, count_expression_cut_short)
{
    for (const char *text : {"[s 1 c - 1 - 1\n", "[s 1 c + 1 + 1\n", "[s 1 c - 1 -U\n", "[s 1 c + -U\n"}) {
        SetUp();
        read(text);
        EXPECT_GE(count(714), 1) << text;
    }
}

TEST_F(reader, pragma_letters_set_function_facts)
{
    read("[v _f `(v 0 e ]\n[v _g `(v 0 e ]\n"
         "[p a _f -> 4 `i -> 2 `i ]\n[p a _f -> 3 `i -> 6 `i ]\n"
         "[p c _f _fcall ]\n[p i _g ]\n[p mainexit ]\n[p p 2 ]\n[p v wreg ]\n"
         "[p m simple ]\n[p u _f wreg,fsr ]\n");
    cg_symbol *f = sym("_f"), *g = sym("_g");
    EXPECT_EQ(f->call_autos, 4u);
    EXPECT_EQ(f->call_params, 6u);
    EXPECT_STREQ(f->call_name, "_fcall");
    EXPECT_TRUE(g->flags & SF_INLINE);
    EXPECT_TRUE(objset_is_empty(g->used_regs));
    EXPECT_TRUE(main_exit_flag);
    EXPECT_EQ(struct_packing, 0);
    EXPECT_TRUE(objset_is_empty(var_regs));
    EXPECT_EQ(switch_kind, 1);   // "m" other than mainexit is read as "w"
    EXPECT_EQ(objset_count(f->used_regs), 2u);
}

TEST_F(reader, pragma_e_and_g_change_message_kinds)
{
    read("[p e 751 ]\n");
    tree_free(node_make(OP_CONV, node_new_const(300), node_new_type(basic_type_named("uc"))));
    EXPECT_EQ(msg_error_count(), 1u);   // the warning counts as an error now
    SetUp();
    read("[p g 714 ]\n[q ]\n");
    EXPECT_EQ(msg_error_count(), 0u);   // the errors count as warnings
    EXPECT_EQ(count(714), 2);           // "[q" and its "]"
}

TEST_F(reader, source_comments_and_inline_assembly)
{
    read("[v _f `(v 1 e ]\n{\n[e :U _f ]\n[f ]\n[; ;main.c: 3: x = 5;\n[e = _x -> 5 `i ]\n"
         "[; movf _helper,w ;#\n}\n[; global _outside ;#\n");
    EXPECT_TRUE(run.trace_comments);
    tree_node *assign = first_statement(sym("_f"), 1);
    ASSERT_NE(assign, nullptr);
    ASSERT_NE(assign->text, nullptr);
    EXPECT_STREQ(assign->text, ";main.c: 3: x = 5;\n");
    tree_node *asm_line = first_statement(sym("_f"), 2);
    ASSERT_NE(asm_line, nullptr);
    EXPECT_EQ(asm_line->op, (uint32_t)OP_ASM);
    EXPECT_STREQ(asm_line->asm_text, "movf _helper,w ;#");
    EXPECT_TRUE(lib_is_wanted("_helper"));
    EXPECT_TRUE(lib_is_wanted("_outside"));
}

TEST_F(reader, declaration_of_a_function_inside_a_body_keeps_the_body)
{
    read("[v _f `(v 1 e ]\n{\n[e :U _f ]\n[f ]\n[v _g `(v 1 e ]\n[e = _x -> 1 `i ]\n}\n");
    cg_symbol *f = sym("_f");
    ASSERT_NE(f->func, nullptr);
    EXPECT_EQ(vec_count(f->func->trees), 2u);
    EXPECT_EQ(vec_count(functions), 1u);
}

// A message file that is missing or edited may give a fatal condition the
// kind of an error or of a silenced warning; the run must stop all the same
// instead of going on with the null result (a missing type, a cut library).
TEST_F(reader, fatal_conditions_stop_whatever_kind_the_message_file_gives)
{
    static const unsigned numbers[] = {267, 300, 609, 721, 722, 1094, 1095, 1096, 1097, 1104, 1121};
    vector_t *libs = vec_new(1);
    struct row { unsigned msg; std::function<void()> run; } rows[] = {
        {1097, [] { read("[v _x `o 1 e ]\n[v _y `i 1 e ]\n"); }},
        {1097, [] { read("[v _x `Q*i 1 e ]\n"); }},
        {1097, [] { read("[s S1 `_nosuch 1 ]\n"); }},
        {267, [] { read("[v _y `i 1 q ]\n"); }},
        {722, [] { read("[v _y `i 1 a extra ]\n"); }},
        {721, [] { read("[v _y `i _n e ]\n"); }},
        {1121, [] { read("[v _f `(i 1 e ]\n{\n[e :U _f ]\n[e = _a [i ]\n}\n"); }},
        {1121, [] { read(deep_expression()); }},
        {300, [&] { load_cut_library(libs); }},
        {609, [] { parse_processor_record("ZEPHP16F877,2,8192"); }},
        {1094, [] { type_derive(basic_type_named("i"), 99); }},
        {1095, [] { typeSub(basic_type_named("i")); }},
        {1096, [] { type_arith_class(type_qualify(basic_type_named("i"), Q_CONST)); }},
        {1104, [] { type_size(type_new(99)); }},
    };
    // The kind each number gets, and whether the report is then shown.
    struct kind_row { const char *kind; int shown; } kinds[] = {{"E", 1}, {"9", 1}, {"-9", 0}};
    for (const kind_row &k : kinds) {
        std::string text;
        for (unsigned n : numbers)
            text += std::to_string(n) + "\t" + k.kind + "\tcondition\n";
        FILE *m = fopen("kinds.txt", "wb");
        fputs(text.c_str(), m);
        fclose(m);
        for (const row &r : rows) {
            SetUp();
            ASSERT_EQ(msg_open_file("kinds.txt"), 1);
            int status = -1;
            try {
                r.run();
            } catch (const fatal_exit &e) {
                status = e.status;
            }
            EXPECT_EQ(status, 1) << k.kind << " " << r.msg;
            EXPECT_EQ(count(r.msg), k.shown) << k.kind << " " << r.msg;
        }
    }
    vec_free(libs);
}
