// Symbols, types, layout and name decoration as the declaration records make them.
#include "kestrel_test.h"

#include <cstring>

using symbols = kestrel_fixture;

TEST_F(symbols, type_strings)
{
    read("[s S3 `i 1 ]\n[c E2 0 1 .. ]\n[v _s3 `S3 1 e ]\n[v _e2 `E2 1 e ]\n");
    struct row { const char *text; int kind; uint32_t size; uint32_t quals; } rows[] = {
        {"`i", TY_BASIC, 2, 0},
        {"`uc", TY_BASIC, 1, 0},
        {"`*Cc", TY_POINTER, 1, 0},
        {"`(i", TY_FUNCTION, 2, 0},
        {"`PV*i", TY_QUALIFIED, 1, 0x102},
        {"`Cul", TY_QUALIFIED, 4, Q_CONST},
    };
    for (const row &r : rows) {
        type_desc *t = type_from_string(r.text);
        ASSERT_NE(t, nullptr) << r.text;
        EXPECT_EQ(t->kind, r.kind) << r.text;
        EXPECT_EQ(type_size(t), r.size) << r.text;
        EXPECT_EQ(type_qualifiers(t), r.quals) << r.text;
    }
    EXPECT_EQ(type_unqualify(sym("_s3")->type)->kind, TY_STRUCT);
    EXPECT_EQ(type_size(sym("_s3")->type), 2u);
    EXPECT_EQ(type_unqualify(sym("_e2")->type)->kind, TY_ENUM);
    EXPECT_EQ(type_size(sym("_e2")->type), 1u);
    type_desc *p = type_from_string("`*Cc");
    EXPECT_EQ(type_qualifiers(p->sub), (uint32_t)Q_CONST);
    EXPECT_EQ(type_unqualify(type_from_string("`PV*i"))->kind, TY_POINTER);
}

TEST_F(symbols, unknown_type_strings_are_fatal)
{
    for (const char *text : {"`o", "`uo", "`Q*i", "`#", "`_nosuch"}) {
        lines.clear();
        EXPECT_THROW(type_from_string(text), fatal_exit) << text;
        EXPECT_EQ(count(1097), 1) << text;
    }
}

TEST_F(symbols, structure_and_bitfield_layout)
{
    read("[s S1 :3 `uc 1 :3 `uc 1 :3 `uc 1 ]\n"
         "[s S2 `i 1 `c 1 `*c 1 ]\n"
         "[u S3 `l 1 `c 1 ]\n"
         "[s S4 `c -> 3 `ux `i 1 ]\n"
         "[s S5 :9 `ui 1 ]\n"
         "[v _s1 `S1 1 e ]\n[v _s2 `S2 1 e ]\n[v _s3 `S3 1 e ]\n[v _s4 `S4 1 e ]\n");
    type_desc *s1 = type_unqualify(sym("_s1")->type);
    EXPECT_EQ(type_size(s1), 2u);
    cg_symbol *third = (cg_symbol *)vec_get(s1->tag->members, 2);
    EXPECT_EQ(third->offset, 1u);
    EXPECT_EQ(third->bit_offset, 0);
    cg_symbol *second = (cg_symbol *)vec_get(s1->tag->members, 1);
    EXPECT_EQ(second->bit_offset, 3);
    type_desc *s2 = type_unqualify(sym("_s2")->type);
    EXPECT_EQ(type_size(s2), 4u);   // a data pointer is one byte
    EXPECT_EQ(((cg_symbol *)vec_get(s2->tag->members, 2))->offset, 3u);
    EXPECT_EQ(type_size(sym("_s3")->type), 4u);
    EXPECT_EQ(type_size(sym("_s4")->type), 5u);
    EXPECT_EQ(count(741), 1);
}

TEST_F(symbols, forward_structure_reference_is_filled_later)
{
    read("[v _p `*S12 1 e ]\n[s S12 `i 1 `i 1 ]\n");
    EXPECT_EQ(type_size(typeSub(sym("_p")->type)), 4u);
}

TEST_F(symbols, variable_records)
{
    read("[v _a `c -> 1 `ux e ]\n[v _b `c -> 1 `i e ]\n[v _v `uc 1 e@_w+2 ]\n[v _port `Vuc 1 e@6 ]\n"
         "[v _x `i 1 s extra ]\n[v _add `(i 1 e2`i`i ]\n[v _pf `(i 0 ev`*Cc ]\n");
    EXPECT_TRUE(type_is(sym("_a")->type, TY_ARRAY));
    EXPECT_EQ(type_size(sym("_a")->type), 1u);
    EXPECT_TRUE(type_is(sym("_b")->type, TY_BASIC));
    EXPECT_TRUE(sym("_v")->flags & SF_ABSOLUTE);
    EXPECT_EQ(sym("_v")->address, 0u);
    EXPECT_EQ(sym("_port")->address, 6u);
    EXPECT_TRUE(sym("_port")->flags & SF_EXTREF);
    cg_symbol *x = nullptr;
    for (uint32_t i = 0; i < vec_count(global_objects); i++)
        if (!strcmp(((cg_symbol *)vec_get(global_objects, i))->key, "_x"))
            x = (cg_symbol *)vec_get(global_objects, i);
    ASSERT_NE(x, nullptr);
    EXPECT_STREQ(x->src_name, "extra");
    type_desc *add = type_unqualify(sym("_add")->type);
    EXPECT_EQ(vec_count(add->params), 2u);
    EXPECT_EQ(sym("_add")->count, 2);
    EXPECT_TRUE(sym("_pf")->flags & SF_VARARGS);
    EXPECT_TRUE(sym("_pf")->flags & SF_UNDEF);
    EXPECT_EQ(vec_count(sym("_pf")->params), 1u);
    EXPECT_EQ(read_fatal("[v _y `i 1 a extra ]\n"), 1);
    EXPECT_EQ(count(722), 1);
    EXPECT_EQ(read_fatal("[v _y `i 1 q ]\n"), 1);
    EXPECT_EQ(count(267), 1);
    EXPECT_EQ(read_fatal("[v _y `i _n e ]\n"), 1);
    EXPECT_EQ(count(721), 1);
    // a count written as an expression is folded to its constant
    read("[v _arr `c * 2 + 1 2 e ]\n");
    EXPECT_EQ(type_size(sym("_arr")->type), 6u);
}

TEST_F(symbols, declarations_merge_across_inputs)
{
    read("[v _x `i 0 e ]\n");
    read("[v _x `i 0 e ]\n");
    EXPECT_TRUE(sym("_x")->flags & SF_UNDEF);
    read("[v _x `i 1 e ]\n");
    EXPECT_FALSE(sym("_x")->flags & SF_UNDEF);
    EXPECT_EQ(count(1098), 0);
    read("\"7 other.c\n[v _x `l 1 e ]\n");
    ASSERT_EQ(count(1098), 1);
    EXPECT_NE(lines.back().find("(:0)"), std::string::npos) << lines.back();
}

TEST_F(symbols, function_redefined)
{
    const char *body = "[v _f `(v 1 e ]\n{\n[e :U _f ]\n}\n";
    read(body);
    read(body);
    EXPECT_EQ(count(237), 1);
}

TEST_F(symbols, name_decoration)
{
    read("[v _count `i 1 s ]\n[v _main `(v 1 e ]\n{\n[e :U _main ]\n[v _i `i 1 r1 ]\n[f ]\n"
         "[v F3 `c 1 s count ]\n[v F4 `c 1 s ]\n[v _n `i 1 A ]\n{\n[v _n `c 1 a ]\n}\n}\n");
    read("[v _count `i 1 s ]\n");
    cg_symbol *main = sym("_main");
    ASSERT_NE(main, nullptr);
    ASSERT_EQ(vec_count(main->params), 1u);
    cg_symbol *i = (cg_symbol *)vec_get(main->params, 0);
    EXPECT_STREQ(i->name, "_main_i");
    EXPECT_TRUE(i->flags & SF_PROTO_PARAM);
    EXPECT_EQ(i->count, 1);
    ASSERT_EQ(vec_count(main->local_statics), 2u);
    EXPECT_STREQ(((cg_symbol *)vec_get(main->local_statics, 0))->name, "_main_count");
    EXPECT_STREQ(((cg_symbol *)vec_get(main->local_statics, 1))->name, "_main_F4");
    ASSERT_EQ(vec_count(main->autos), 2u);
    cg_symbol *n1 = (cg_symbol *)vec_get(main->autos, 0), *n2 = (cg_symbol *)vec_get(main->autos, 1);
    EXPECT_STREQ(n1->name, "_main_n");
    EXPECT_EQ(std::string(n2->name), "_main_F" + std::to_string(n2->number) + "_n");
    cg_symbol *second = (cg_symbol *)vec_get(global_objects, vec_count(global_objects) - 1);
    EXPECT_EQ(std::string(second->name), "_count_F" + std::to_string(second->number));
}

TEST_F(symbols, type_equality)
{
    read("[s S1 `i 1 `*S1 1 ]\n[n S1 node v next ]\n");
    read("[s S1 `i 1 `*S1 1 ]\n[n S1 node v next ]\n");
    type_desc *i = basic_type_named("i");
    type_desc *fa = type_from_string("`(i"), *fb = type_from_string("`(i");
    vec_push(fa->params, i);
    EXPECT_FALSE(type_equal(fa, fb));
    vec_push(fb->params, i);
    EXPECT_TRUE(type_equal(fa, fb));
    EXPECT_FALSE(type_equal(type_from_string("`Vi"), type_from_string("`Ci")));
    EXPECT_TRUE(type_equal(type_from_string("`*i"), type_from_string("`*i")));
}

TEST_F(symbols, parameter_layout_puts_a_first_byte_parameter_in_w)
{
    chip.family = 2;
    read("[v _f `(v 0 e`uc`i`l ]\n");
    cg_symbol *f = sym("_f");
    ASSERT_EQ(vec_count(f->params), 3u);
    cg_symbol *p0 = (cg_symbol *)vec_get(f->params, 0), *p2 = (cg_symbol *)vec_get(f->params, 2);
    EXPECT_TRUE(p0->flags & SF_INREG);
    EXPECT_EQ(p0->reg, (uint32_t)REG_WREG);
    EXPECT_EQ(p2->frame_offset, 2);
    EXPECT_EQ(func_layout_params(f), 6u);
}

TEST_F(symbols, pointer_targets_propagate_through_assignments)
{
    read("[v _a `i 1 e ]\n[v _b `i 1 e ]\n[v _p `*i 1 e ]\n[v _q `*i 1 e ]\n[v _r `*i 1 e ]\n");
    for (const char *name : {"_p", "_q", "_r"})
        ptrset_of(sym(name));
    read("[v _f `(v 1 e ]\n{\n[e :U _f ]\n[e = _r _q ]\n[e = _q _p ]\n[e = _p &U _a ]\n"
         "[e = _q &U _b ]\n}\n");
    EXPECT_TRUE(ptrset_propagate());
    EXPECT_EQ(vec_count(ptrset_of(sym("_r"))->targets), 2u);
    EXPECT_EQ(vec_count(ptrset_of(sym("_p"))->targets), 1u);
    EXPECT_FALSE(ptrset_propagate());
}

TEST_F(symbols, common_value_type_of_two_integers)
{
    struct row { const char *a, *b, *want; } rows[] = {
        {"uc", "c", "i"},    // equal sizes, one signed: doubled and signed
        {"uc", "ui", "ui"},  // the larger one's class
        {"c", "ui", "l"},    // smaller signed, larger not: doubled and signed
        {"l", "ul", "l"},    // doubled past 4 bytes: kept at 4
        {"b", "b", "uc"},    // bits count as unsigned; size 0 becomes 1
        {"i", "c", "i"},
    };
    for (const row &r : rows) {
        type_desc *t = common_value_type(basic_type_named(r.a), basic_type_named(r.b));
        ASSERT_NE(t, nullptr) << r.a << " " << r.b;
        EXPECT_STREQ(t->name, r.want) << r.a << " " << r.b;
    }
}

TEST_F(symbols, pointer_conversions)
{
    read("[s S1 `i 1 `*c 1 ]\n[s S2 `ui 1 `*c 1 ]\n[s S3 `i 1 `c 1 ]\n[s S4 `i 1 `*c 1 ]\n"
         "[v _d `*S4 1 e ]\n[v _a `*S1 1 e ]\n[v _b `*S2 1 e ]\n[v _c `*S3 1 e ]\n[v _pi `*i 1 e ]\n[v _pu `*ui 1 e ]\n"
         "[v _pl `*l 1 e ]\n[v _ppi `**i 1 e ]\n[v _pf `*(i 1 e ]\n[v _pg `*(c 1 e ]\n");
    auto t = [](const char *n) { return sym_find(n)->type; };
    struct row { const char *to, *from; bool ok; } rows[] = {
        {"_pi", "_pi", true}, {"_pi", "_pu", false}, {"_pi", "_pl", false}, {"_ppi", "_pi", false},
        {"_pf", "_pg", true}, {"_a", "_b", false}, {"_a", "_c", false}, {"_a", "_d", true},
    };
    for (const row &r : rows)
        EXPECT_EQ(ptr_conversion_check(t(r.to), t(r.from)), r.ok) << r.to << " " << r.from;
    EXPECT_EQ(count(1264), 0);   // reported only while code is generated
    codegen_warnings = true;
    EXPECT_FALSE(ptr_conversion_check(t("_pi"), t("_pl")));
    EXPECT_EQ(count(1264), 1);
}
