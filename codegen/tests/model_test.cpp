// Set objects, register sets, tracked bank state, expression trees and the
// target description.
#include "kestrel_test.h"

#include <cstring>

using model = kestrel_fixture;

static std::vector<uint32_t> elements(objset *s)
{
    std::vector<uint32_t> out;
    for (uint32_t n = objset_iter_first(s); n; n = objset_iter_next(s))
        out.push_back(n);
    return out;
}

TEST_F(model, objset_mask_and_hash_forms)
{
    objset *s = objset_new();
    objset_add(s, 5);
    objset_add(s, 5);
    EXPECT_EQ(objset_count(s), 1u);
    EXPECT_EQ(s->table, nullptr);
    objset_add(s, 40);
    ASSERT_NE(s->table, nullptr);
    EXPECT_EQ(s->table->bucket_count, 13u);
    objset_clear(s);
    for (uint32_t n : {100u, 3u, 40u, 7u})
        objset_add(s, n);
    EXPECT_EQ(elements(s), (std::vector<uint32_t>{3, 7, 40, 100}));
    objset *a = objset_new(), *b = objset_new();
    objset_add(a, 40);
    objset_add(b, 40);
    objset_add(b, 50);
    EXPECT_FALSE(objset_equal(a, b));
    EXPECT_FALSE(objset_equal(b, a));
    EXPECT_TRUE(objset_includes(b, a));
    EXPECT_TRUE(objset_not_within(b, a));
    EXPECT_TRUE(objset_intersects(a, b));
    objset *u = objset_union(s, b);
    EXPECT_EQ(elements(u), (std::vector<uint32_t>{3, 7, 40, 50, 100}));
    objset *d = objset_difference(u, s);
    EXPECT_EQ(elements(d), (std::vector<uint32_t>{50}));
    objset_toggle_with(d, b);
    EXPECT_EQ(elements(d), (std::vector<uint32_t>{40}));
    objset_intersect_with(u, a);
    EXPECT_EQ(elements(u), (std::vector<uint32_t>{40}));
    for (objset *x : {s, a, b, u, d})
        objset_free(x);
}

TEST_F(model, objset_free_list_is_bounded)
{
    std::vector<objset *> sets;
    for (int i = 0; i < 1025 + 8; i++)
        sets.push_back(objset_new());
    for (objset *s : sets)
        objset_free(s);
    EXPECT_EQ(objset_free_list_length(), 1024u);
}

TEST_F(model, register_sets)
{
    EXPECT_EQ(elements((objset *)regset_of(27)),
              (std::vector<uint32_t>{1, 2, 8, 9, 10, 11, 12, 13, 15, 26}));
    regset *l = regset_parse_list("WREG, btemp+1");
    EXPECT_EQ(elements(l), (std::vector<uint32_t>{1, 11}));
    regset *bad = regset_parse_list("wtemp0");
    EXPECT_EQ(count(749), 1);
    EXPECT_TRUE(objset_is_empty(bad));
    EXPECT_EQ(regset_parse_list(""), nullptr);
    regset *s = objset_new();
    for (uint32_t n : {10u, 11u, 12u, 13u, 1u})
        objset_add(s, n);
    EXPECT_STREQ(regset_text(s), "[wreg+btemp+0-btemp+3]");
    EXPECT_STREQ(regset_text(regset_of(17)), "[wtemp0]");
    EXPECT_STREQ(regclass_text(30), "(wtemp0|wtemp1)");
    EXPECT_STREQ(regclass_text(36), "TEMP2");
    EXPECT_TRUE(regset_has(regset_of(27), 16));
    EXPECT_EQ(reg_class_member(regset_of(27), 29), 10u);
    EXPECT_EQ(reg_class_member(regset_of(1), 29), 0u);
    temp_area_reset();
    EXPECT_EQ(temp_alloc(nullptr, 1), 34u);
    EXPECT_EQ(temp_alloc(nullptr, 2), 35u);
    EXPECT_EQ(temp_alloc(nullptr, 1), 37u);
}

TEST_F(model, bank_state_operations)
{
    bank_state = bstate{};
    bstate_set(0x3, 0x1);
    EXPECT_TRUE(bstate_known(0x1));
    EXPECT_FALSE(bstate_known(0x4));
    EXPECT_EQ(bstate_value(0x3), 0x1u);
    bstate_forget(0x1);
    EXPECT_FALSE(bstate_known(0x1));
    bstate a = {0x7, 0x5, 0, 0, false}, b = {0x6, 0x4, 0, 0, false};
    bstate m = bstate_meet(a, b);
    EXPECT_EQ(m.known, 0x6u);   // bits 1 and 2 agree, bit 0 unknown in b
    EXPECT_EQ(m.values, 0x4u);
    bstate r = bstate_apply(a, b);
    EXPECT_EQ(r.known, 0x7u);
    EXPECT_EQ(r.values, 0x5u);
}

TEST_F(model, constant_conversions_fit_the_type)
{
    struct row { long v; const char *type; long want; int warnings; } rows[] = {
        {300, "uc", 44, 1}, {300, "c", 44, 1}, {200, "c", -56, 1}, {-1, "uc", 255, 0},
        {70000, "ui", 4464, 1}, {5, "b", 1, 0}, {-2, "i", -2, 0},
    };
    for (const row &r : rows) {
        lines.clear();
        tree_node *n = node_make(OP_CONV, node_new_const(r.v), node_new_type(basic_type_named(r.type)));
        EXPECT_EQ(n->op, (uint32_t)OP_CONST) << r.v << " " << r.type;
        EXPECT_EQ(n->value, r.want) << r.v << " " << r.type;
        EXPECT_EQ(count(751), r.warnings) << r.v << " " << r.type;
        tree_free(n);
    }
    tree_node *c = node_new_const(0);
    EXPECT_EQ(const_bit_number(0x80, node_make(OP_CONV, c, node_new_type(basic_type_named("uc")))), 8);
    tree_node *b = node_make(OP_CONV, node_new_const(0), node_new_type(basic_type_named("uc")));
    EXPECT_EQ(const_bit_number(0x40, b), 7);
    EXPECT_EQ(const_bit_number(0x41, b), 0);
    EXPECT_EQ(const_bit_number(0, b), 0);
}

// Records the order of visited constants.
static tree_node *record_visit(void *ctx, tree_node *n, int, int, int, long *)
{
    if (n->op == OP_CONST)
        ((std::vector<long> *)ctx)->push_back(n->value);
    return n;
}

TEST_F(model, walk_orders)
{
    struct row { int order; std::vector<long> want; } rows[] = {
        {161, {1, 2}}, {98, {2, 1}}, {266, {2, 1}}, {84, {2, 1}}, {273, {1, 2}}, {140, {1, 2}},
    };
    for (const row &r : rows) {
        tree_node *t = binary(OP_ADD, leaf_const(1), leaf_const(2));
        std::vector<long> seen;
        tree_walk(r.order, &seen, t, record_visit, 0, 0, 0, nullptr);
        EXPECT_EQ(seen, r.want) << r.order;
        tree_free(t);
    }
    // A ";" chain runs first to last even in a right-first order; each
    // statement's operands stay right-first.
    tree_node *seq = binary(OP_SEQ, binary(OP_ADD, leaf_const(1), leaf_const(2)),
                            binary(OP_ADD, leaf_const(3), leaf_const(4)));
    std::vector<long> seen;
    tree_walk(266, &seen, seq, record_visit, 0, 0, 0, nullptr);
    EXPECT_EQ(seen, (std::vector<long>{2, 1, 4, 3}));
    tree_free(seq);
}

static bool is_const_3(void *, tree_node *n) { return n->op == OP_CONST && n->value == 3; }

TEST_F(model, copy_equal_find)
{
    read("[v _x `i 1 e ]\n");
    tree_node *t = binary(OP_ADD, node_new_id(sym("_x")), binary(OP_MUL, leaf_const(3), leaf_const(4)));
    tree_node *c = tree_copy(t);
    EXPECT_NE(c, t);
    EXPECT_NE(c->right, t->right);
    EXPECT_TRUE(tree_equal(t, c));
    c->right->right->value = 5;
    EXPECT_FALSE(tree_equal(t, c));
    EXPECT_EQ(tree_find(t, nullptr, is_const_3), t->right->left);
    EXPECT_TRUE(tree_references(t, sym("_x")));
    EXPECT_FALSE(tree_has_volatile(t));
    tree_free(t);
    tree_free(c);
}

TEST_F(model, node_make_rewrites)
{
    read("[v _p `*i 1 e ]\n[s S1 `i 1 `c 1 ]\n[c E2 0 7 .. ]\n[v _s `S1 1 e ]\n[v _e `E2 1 e ]\n");
    tree_node *p = node_new_id(sym("_p"));
    tree_node *same = node_make(OP_ADDR, node_make(OP_DEREF, p, nullptr), nullptr);
    EXPECT_EQ(same, p);
    tree_node *off = node_make(OP_MEMBER, node_new_type(sym("_s")->type), node_new_const(1));
    EXPECT_EQ(off->op, (uint32_t)OP_CONST);
    EXPECT_EQ(off->value, 2);
    tree_node *e = node_make(OP_MEMBER, node_new_type(sym("_e")->type), node_new_const(7));
    EXPECT_EQ(e->op, (uint32_t)OP_CONST);
    EXPECT_TRUE(type_is(e->type, TY_ENUM));
    tree_node *sz = node_make(OP_SIZEOF, node_new_id(sym("_p")), nullptr);
    EXPECT_EQ(sz->op, (uint32_t)OP_CONST);
    EXPECT_EQ(sz->value, 1);   // a data pointer is one byte
    tree_node *neg = node_make(OP_SUB, node_new_const(1), node_make(OP_NEG, node_new_id(sym("_p")), nullptr));
    EXPECT_EQ(neg->op, (uint32_t)OP_ADD);
}

TEST_F(model, varargs_helpers_are_lowered)
{
    read("[v ___va_start `(*v 0 e ]\n[v ___va_arg `(*v 0 e ]\n"
         "[v _f `(v 1 ev`i ]\n{\n[e :U _f ]\n[v _n `i 1 r0 ]\n[v _ap `*i 1 a ]\n[f ]\n"
         "[e = _ap -> ( ___va_start .. `*i ]\n[e ( ___va_arg _ap ]\n}\n");
    cg_symbol *f = sym("_f");
    ASSERT_EQ(vec_count(f->func->trees), 3u);
    tree_node *start = (tree_node *)vec_get(f->func->trees, 1);
    tree_node *arg = (tree_node *)vec_get(f->func->trees, 2);
    EXPECT_EQ(tree_find(start, nullptr, [](void *, tree_node *n) { return n->op == OP_CALL; }), nullptr);
    EXPECT_EQ(arg->op, (uint32_t)OP_POSTINC);
    EXPECT_EQ(arg->right->value, 2);
}

TEST_F(model, processor_records)
{
    parse_processor_record("ZEPHP16F877,2,8192,4,1,7,0,1");
    parse_processor_record("RAM=020h-07Fh,0A0h-0EFh");
    parse_processor_record("COMMON=070h-07Fh");
    parse_processor_record("BANK1=0A0h-0EFh");
    EXPECT_STREQ(chip.name, "16F877");
    EXPECT_EQ(chip.family, 2);
    EXPECT_EQ(chip.rom_size, 8192u);
    EXPECT_EQ(chip.banks, 4);
    EXPECT_EQ(chip.n[1], 7);
    EXPECT_EQ(chip.common_size, 0xFu);
    EXPECT_EQ(chip.bank_records, 1);
    EXPECT_NE(target_class("BANK1"), nullptr);
    EXPECT_EQ(type_size(space_symbol(basic_type_named("c"), nullptr, 1)->type), 512u);
    EXPECT_EQ(type_size(space_symbol(basic_type_named("c"), nullptr, -1)->type), 128u);
    EXPECT_THROW(parse_processor_record("ZEPHP16F877,2,8192"), fatal_exit);
    EXPECT_EQ(count(609), 1);
    // A range record with no address at all names what is missing.
    EXPECT_THROW(parse_processor_record("RAM="), fatal_exit);
    EXPECT_EQ(count(442), 1);
}

TEST_F(model, byte_selector_prefixes)
{
    struct row { int k, n; const char *want; } rows[] = {
        {0, 0, ""}, {3, 1, "("}, {0, 2, "low("}, {1, 2, "high("}, {2, 2, "low("},
        {2, 3, "low highword("}, {3, 4, "high highword("}, {4, 4, ""}, {0, 5, ""},
    };
    for (const row &r : rows)
        EXPECT_STREQ(byte_selector_prefix(r.k, r.n), r.want) << r.k << "," << r.n;
}

TEST_F(model, frame_bank_and_mirrors_of_the_description)
{
    parse_processor_record("ZEPHP16F877,2,8192,4,1,7,65282,1");
    parse_processor_record("MIRROR=129,0,0,0");
    EXPECT_EQ(chip.frame_bank, 2);
    EXPECT_EQ(chip.mirror[0], 1);
    EXPECT_EQ(chip.mirror[1], -1);
    parse_processor_record("ZEPHP16F84,2,1024,2,1,7,0,1");
    EXPECT_EQ(chip.frame_bank, -1);
}

TEST_F(model, arith_node_test_cases)
{
    read("[v _l `l 1 e ]\n[v _c `uc 1 e ]\n[v _i `i 1 e ]\n[v _f `f 1 e ]\n");
    auto id = [](const char *n) { return node_new_id(sym_find(n)); };
    auto c = [](long v) { return node_new_const(v); };
    struct row { tree_node *t; int want; const char *what; } rows[] = {
        {node_make(OP_ADD, id("_l"), id("_l")), 1, "long +"},
        {node_make(OP_ADD, id("_f"), id("_f")), 0, "float +"},
        {node_make(OP_SHL, id("_c"), c(1)), 1, "byte << 1"},
        {node_make(OP_SHL, id("_c"), c(2)), 0, "byte << 2"},
        {node_make(OP_MUL, id("_i"), id("_i")), 0, "int *"},
        {node_make(OP_AND, id("_i"), id("_i")), 0, "int & of a symbol"},
        {node_make(OP_AND, node_make(OP_OR, id("_i"), id("_i")), id("_i")), 1, "int & of an |"},
        {node_make(OP_AND, id("_c"), id("_c")), 0, "byte &"},
    };
    for (const row &r : rows)
        EXPECT_EQ(arith_node_test(r.t), r.want) << r.what;
}

TEST_F(model, header_comment_type_text)
{
    read("[v _p `*Cuc 1 e ]\n[v _f `(l 0 e`i`*c ]\n[v _a `Vi -> 3 `ux e ]\n");
    EXPECT_STREQ(type_text(sym("_p")->type), "PTR const unsigned char");
    EXPECT_STREQ(type_text(sym("_f")->type), "FTN(int ,PTR char)long");
    // An array takes its element type's qualifiers on its own level too.
    EXPECT_STREQ(type_text(sym("_a")->type), "volatile [3]volatile int ");
}

TEST_F(model, local_variable_warnings_only_while_generating)
{
    read("[v _f `(v 1 e ]\n{\n[e :U _f ]\n[f ]\n[v _n `i 1 a ]\n[v _bit `b 1 a ]\n[e _n ]\n[e _n ]\n");
    EXPECT_EQ(count(1257), 0);
    EXPECT_EQ(count(698), 1);
    codegen_warnings = true;
    cg_symbol *f = sym("_f");
    cg_symbol *n = (cg_symbol *)vec_get(f->autos, 0);
    tree_free(node_new_id(n));
    tree_free(node_new_id(n));
    EXPECT_EQ(count(1257), 1);
}

TEST_F(model, sdb_variable_records)
{
    FILE *f = tmpfile();
    run.sdb = f;
    read("\"3 a.c\n[v _x `i 1 s ]\n[v _port `uc 1 e@6 ]\n[v _e `l 1 e ]\n");
    for (uint32_t i = 0; i < vec_count(global_objects); i++)
        sdb_write_var((cg_symbol *)vec_get(global_objects, i));
    rewind(f);
    char buf[512] = "";
    size_t got = fread(buf, 1, sizeof buf - 1, f);
    buf[got] = 0;
    EXPECT_STREQ(buf, "\"3 a.c\n[v _x `i  1 s 2 x ]\n[v _port `uc  1 e 1 @6 ]\n[v _e `l  1 e 4 0 ]\n");
    run.sdb = nullptr;
    fclose(f);
}

TEST_F(model, ieee_modes_widen_float_and_double)
{
    EXPECT_EQ(type_size(basic_type_named("d")), 3u);
    run.mode_word |= MODE_IEEE_DBL;
    mark_helper_routines();
    EXPECT_EQ(type_size(basic_type_named("d")), 4u);
    EXPECT_EQ(type_size(basic_type_named("f")), 3u);
    EXPECT_TRUE(lib_is_wanted("___ftadd"));
    EXPECT_TRUE(lib_is_wanted("_memcpyee"));
}

TEST_F(model, addresses_and_pointer_arithmetic)
{
    read("[s S1 `i 1 `c 1 `l 1 ]\n[v _s `S1 1 e ]\n[v _p `*i 1 e ]\n[v _q `*i 1 e ]\n[v _n `l 1 e ]\n");
    tree_node *m = node_make(OP_MEMBER, node_new_id(sym("_s")), node_new_const(2));
    EXPECT_EQ(type_size(m->type), 4u);
    tree_node *a = node_make(OP_ADDR, m, nullptr);
    ASSERT_EQ(a->op, (uint32_t)OP_ADD);
    EXPECT_EQ(a->right->value, 3);
    EXPECT_EQ(a->left->op, (uint32_t)OP_ADDR);
    EXPECT_TRUE(type_is(a->type, TY_POINTER));
    EXPECT_EQ(type_size(typeSub(a->type)), 4u);
    tree_node *d = node_make(OP_SUB, node_new_id(sym("_p")), node_new_id(sym("_q")));
    EXPECT_EQ(d->type, basic_type_named("i"));
    tree_node *w = node_make(OP_ADD, node_new_id(sym("_p")), node_new_id(sym("_n")));
    EXPECT_EQ(w->right->op, (uint32_t)OP_CONV);   // the index cut to the pointer's byte
    EXPECT_EQ(node_size(w->right), 1u);
}
