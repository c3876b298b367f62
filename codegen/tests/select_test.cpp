// Pattern lookup, matching and template expansion: hand-built trees matched
// against the generated tables and written out, a hand-made table for the
// lookup's probing, and a table of template texts over an annotated node.
// The expected instructions are worked out by hand from the instruction set:
// subwf f,w leaves the carry clear exactly when f < W, xorwf sets the zero bit
// exactly when its operands are equal.
#include "kestrel_test.h"
#include "select.h"

#include <filesystem>
#include <cstring>
#include <string>
#include <vector>

struct select_fixture : kestrel_fixture {
    void SetUp() override
    {
        kestrel_fixture::SetUp();
        match_reset();
        expand_reset();
        // a 14-bit chip of one bank: the code selects no bank
        parse_processor_record("ZEPHP16F84A,2,1024,1,1,7,0,1");
        run.mode_word |= MODE_PIC14 | MODE_PICMIDHI | MODE_PICLOMID;
        emit_escape = cg_emit_escape;
        // temporaries lie in the auto block of the function being written
        current_function = sym_new("_f");
        current_function->autos_size = 1;
    }
    void TearDown() override
    {
        patterns = &generated_patterns;
        expand_reset();
        kestrel_fixture::TearDown();
    }
};
using selection = select_fixture;

static type_desc *ty(const char *name)
{
    return basic_type_named(name);
}

static tree_node *var(const char *name, const char *type = "uc")
{
    cg_symbol *s = sym_find(name);
    if (!s) {
        s = sym_new(name);
        s->storage = ST_EXTERN;
        s->type = ty(type);
        s->cls = 'F';
        sym_insert(s);
    }
    return node_new_id(s);
}

static tree_node *cnst(long v, const char *type = "uc")
{
    tree_node *c = node_new_const(v);
    c->type = ty(type);
    return c;
}

static tree_node *op2(int op, tree_node *l, tree_node *r)
{
    tree_node *n = binary(op, l, r);
    n->type = (op_attr[op] & OA_TRUTH) ? ty("b") : l->type;
    return n;
}

static tree_node *op1(int op, tree_node *l)
{
    tree_node *n = node_new();
    n->op = (uint32_t)op;
    n->left = l;
    n->type = l->type;
    return n;
}

// A call of function f without arguments.
static tree_node *call(const char *f)
{
    cg_symbol *s = sym_find(f);
    if (!s) {
        s = sym_new(f);
        s->storage = ST_EXTERN;
        s->type = type_derive(ty("uc"), TY_FUNCTION);
        sym_insert(s);
    }
    tree_node *args = node_new();
    args->op = OP_CALLARGS;
    tree_node *n = binary(OP_CALL, node_new_id(s), args);
    n->type = ty("uc");
    return n;
}

// Matches a statement and returns the lines written.
static std::string generate(tree_node *t, const regset *avail = nullptr)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    out_stream = f;
    int r = cg_match_tree(t, GOAL_STATEMENT, avail ? avail : regset_of(REG_ALLREG));
    if (r == 0)
        cg_emit_tree(t, 0);
    fclose(f);
    out_stream = stdout;
    std::string s = r ? "no match " + std::to_string(r) : std::string(buf, len);
    free(buf);
    return s;
}

TEST_F(selection, float_sum_finds_no_pattern)
{
    // floats are copied as bytes, but no pattern computes with them
    tree_node *sum = op2(OP_ADD, var("_v", "f"), var("_v", "f"));
    EXPECT_EQ(generate(op2(OP_ASSIGN, var("_w", "f"), sum)).rfind("no match", 0), 0u);
    cg_statement(op2(OP_ASSIGN, var("_w", "f"), op2(OP_ADD, var("_v", "f"), var("_v", "f"))), 1);
    EXPECT_EQ(count(712), 1);
}

TEST_F(selection, registers_short_and_dry_runs)
{
    // without W the store of a variable cannot be made: short, and W is named
    regset *no_w = objset_copy(regset_of(REG_ALLREG));
    objset_remove(no_w, REG_WREG);
    EXPECT_EQ(generate(op2(OP_ASSIGN, var("_x"), var("_y")), no_w), "no match 2");
    EXPECT_TRUE(objset_contains(match_shortage, REG_WREG));
    // clrf needs no W but destroys the zero bit, which is still there
    EXPECT_EQ(generate(op2(OP_ASSIGN, var("_x"), cnst(0)), no_w), "\tclrf\t_x\n");
    objset_free(no_w);

    // a dry run writes nothing but counts the registers written
    dry_run = true;
    tree_node *t = op2(OP_ASSIGN, var("_x"), var("_y"));
    EXPECT_EQ(generate(t), "");
    EXPECT_TRUE(objset_contains(func_used, REG_WREG));
    EXPECT_EQ(t->right->level_count, 3);   // mem <- ID, fmem <- mem, then wreg <- fmem
    dry_run = false;
    EXPECT_EQ(generate(t), "\tmovf\t_y,w\n\tmovwf\t_x\n");   // the same tree again, same choice

    // a value already in W: its result set names W, by flag and by result text
    tree_node *w = op2(OP_ASSIGN, var("_x"), node_new_reg(nullptr, REG_WREG));
    EXPECT_EQ(generate(w), "\tmovwf\t_x\n");
    EXPECT_TRUE(objset_contains(w->right->sets[SET_RESULT], REG_WREG));
    EXPECT_EQ(w->right->result_reg[0], (uint32_t)REG_WREG);
}

// ---------------------------------------------------------------------------
// lookup over a hand-made table
// ---------------------------------------------------------------------------
TEST_F(selection, lookup_probes_past_its_home_row_and_wraps)
{
    static pattern_record recs[5] = {};
    recs[1].op = OP_CONST;
    recs[2].op = OP_ID;
    recs[3].op = 100;             // a chain rule from goal 100
    recs[4].op = OP_CONST;
    recs[4].mode_mask = MODE_PIC17;
    recs[1].mode_mask = MODE_PIC14;
    std::vector<pattern_hash_row> hash(PATTERN_HASH_ROWS, pattern_hash_row{0, 0, 0});
    // (94, CONST) has home row 94 x 80 mod 7456 = 64, taken by another pair
    hash[64] = {96, 1, -2};
    hash[65] = {94, OP_CONST, 1};
    // (105, 71) has home row 7455, the last; it wrapped to row 0
    hash[7455] = {97, 2, -2};
    hash[0] = {105, 71, -3};
    hash[(101 * OP_CONST) % PATTERN_HASH_ROWS] = {101, OP_CONST, -4};
    static const int16_t lists[] = {0, 1, -4};
    pattern_tables t = {recs, 5, hash.data(), lists, 3, nullptr, nullptr};
    patterns = &t;
    EXPECT_EQ(pattern_lookup(94, OP_CONST), 1);
    EXPECT_EQ(pattern_lookup(105, 71), -3);
    EXPECT_EQ(pattern_lookup(94, OP_ID), 0);
    EXPECT_EQ(pattern_lookup(GOAL_PATTERN + 1, OP_CONST), -1);
    EXPECT_EQ(pattern_lookup(GOAL_PATTERN + 1, OP_ID), 0);
    EXPECT_EQ(pattern_lookup(GOAL_PATTERN + 3, OP_ID), -3);   // a chain rule fits any operator

    // pattern 4 needs PIC17, pattern 1 PIC14: a record whose modes the run
    // lacks is never a candidate, even alone in its run
    tree_node *c = cnst(1);
    auto match = [&](uint32_t goal) { return pattern_match(c, goal, regset_of(REG_ALLREG), nullptr, nullptr, "ROOT "); };
    run.mode_word = MODE_PIC14;
    EXPECT_NE(match(101), 0);
    EXPECT_EQ(match(94), 0);
    EXPECT_EQ(c->pattern[0], 1);   // the run 1, 4 in order: the first that fits
    run.mode_word = MODE_PIC17;
    EXPECT_EQ(match(101), 0);
    EXPECT_EQ(c->pattern[0], 4);
    EXPECT_EQ(match(94), 0);
    EXPECT_EQ(c->pattern[0], 4);
    run.mode_word = 0;
}

TEST_F(selection, generated_runs_end_with_a_negated_entry)
{
    const pattern_tables *t = &generated_patterns;
    uint32_t used = 0;
    for (uint32_t row = 0; row < PATTERN_HASH_ROWS; row++) {
        const pattern_hash_row &h = t->hash[row];
        if (!h.list)
            continue;
        used++;
        EXPECT_EQ(pattern_lookup((uint32_t)h.goal, (uint32_t)h.op), h.list);
        int16_t i = h.list;
        while (i > 0 && t->lists[i] > 0)
            i++;
        EXPECT_LT(i > 0 ? t->lists[i] : i, 0) << "row " << row;
    }
    EXPECT_GT(used, 0u);
    for (uint32_t r = 1; r < t->record_count; r++)
        EXPECT_GT(t->lines[r], 0) << "record " << r;
}

TEST_F(selection, predicates_by_family)
{
    tree_node *b = var("_x"), *sb = var("_sc", "c"), *w = var("_iw", "i");
    struct row { uint32_t pred; tree_node *n; bool want; } rows[] = {
        {PRED_ISBYTE, b, true},        {PRED_ISBYTE, w, false},     {PRED_WORD, w, true},
        {PRED_ISUNSBYTE, b, true},     {PRED_ISSIGNBYTE, sb, true}, {PRED_ISSIGNBYTE, b, false},
        {PRED_ISZERO, cnst(0), true},  {PRED_ISZERO, cnst(1), false}, {PRED_HEX80, cnst(128), true},
        {PRED_MINUS_ONE, cnst(0xFF), true}, {PRED_MINUS_ONE, cnst(-1, "i"), true},
        {PRED_ONEBIT, cnst(0x40), true}, {PRED_ONEBIT, cnst(0x41), false},
        {PRED_ONEBITCOMP, cnst(0xBF), true}, {PRED_SECONDBYTE, cnst(0x1200, "i"), true},
        {PRED_SMALLNEG, cnst(-256, "i"), true}, {PRED_SMALLNEG, cnst(-257, "i"), false},
        {PRED_NIBBLE, cnst(15), true}, {PRED_NIBBLE, cnst(16), false},
        {PRED_LISBYTE, op2(OP_EQ, var("_x"), var("_y")), true},
        {PRED_LUNSBYTE, op2(OP_EQ, var("_sc", "c"), var("_y")), false},
        {PRED_ALWAYS, b, true},        {PRED_NOSTACK, b, false},
    };
    for (const row &r : rows)
        EXPECT_EQ(predicate_eval(r.pred, r.n), r.want) << "predicate " << r.pred;
    pattern_record rec = {};
    rec.pred[0] = PRED_ISBYTE;
    rec.pred[1] = (uint32_t)PRED_ISSIGNBYTE | PRED_NEGATED;
    EXPECT_TRUE(predicates_hold(&rec, b));
    EXPECT_FALSE(predicates_hold(&rec, sb));
    EXPECT_FALSE(predicates_hold(&rec, w));
}

// ---------------------------------------------------------------------------
// template letters over an annotated node
// ---------------------------------------------------------------------------
// Result texts of the hand-made records below.
static const char *const res_name[] = {"SN", nullptr};
static const char *const res_bytes[] = {"lo.SN", "hi.SN", "top.SN", nullptr};
static const char *const res_value[] = {"VN", nullptr};
static const char *const res_reg[] = {"GN", nullptr};

static int escape_handler(int n, tree_node *, int offset, int)
{
    out_printf("<E%d>", n);
    return offset + 1;
}

TEST_F(selection, template_letters_modifiers_and_which_letters)
{
    static pattern_record recs[6] = {};
    recs[1] = {0, {0, 0, 0}, 0, 0, 0, 0, 0, OP_ID, 0, 0, nullptr, nullptr, 1, res_name, 0};
    recs[2] = {0, {0, 0, 0}, 0, 0, 0, 0, 0, OP_ID, 0, 0, nullptr, nullptr, 2, res_bytes, 0};
    recs[3] = {0, {0, 0, 0}, 0, 0, 0, 0, 0, OP_CONST, 0, 0, nullptr, nullptr, 1, res_value, 0};
    recs[4] = {0, {0, 0, 0}, 0, 0, 0, 0, 0, OP_ADD, 0, 0, nullptr, nullptr, 1, res_reg, 0};
    recs[5] = {0, {0, 0, 0}, 0, 0, 0, 0, 0, 100, 0, 0, nullptr, nullptr, 1, res_name, 0};
    std::vector<pattern_hash_row> hash(PATTERN_HASH_ROWS, pattern_hash_row{0, 0, 0});
    pattern_tables t = {recs, 6, hash.data(), nullptr, 0, nullptr, nullptr};
    patterns = &t;

    // n = x + 0x1234 (int), x annotated by record 1 (or 2), the constant by 3,
    // the sum by record 4 with W as result, fsr as scratch and wtemp0 second.
    tree_node *x = var("_ix", "i"), *c = cnst(0x1234, "i");
    x->level_count = 1;
    x->pattern[0] = 1;
    c->level_count = 1;
    c->pattern[0] = 3;
    tree_node *n = op2(OP_ADD, x, c);
    n->level_count = 1;
    n->pattern[0] = 4;
    n->result_reg[0] = REG_WREG;
    n->scratch_reg[0] = REG_FSR;
    n->third_reg[0] = REG_WTEMP0;
    tree_node *m1 = cnst(-1, "c"), *rep = cnst(3);
    tree_node *pw = var("_pw", "i");                      // a pointer to int
    pw->type = type_derive(ty("i"), TY_POINTER);
    tree_node *bf = node_new();                           // a bit-field at bit 3
    bf->op = OP_BITFIELD;
    bf->bitfield = sym_new("flag");
    bf->bitfield->bit_offset = 3;
    bf->bitfield->bit_width = 1;
    bf->type = ty("uc");
    tree_node *tmp = cnst(0);                             // scratch in temporary 2
    tmp->level_count = 1;
    tmp->pattern[0] = 3;
    tmp->scratch_reg[0] = REG_TEMP_BASE + 2;
    struct row { const char *templ; tree_node *node; const char *want; } rows[] = {
        {"movf L,w", n, "\tmovf\t_ix,w\n"},
        {"movf ~L,w", n, "\tmovf\t_ix,w\n"},
        {"movlw ~0R", n, "\tmovlw\t034h\n"},
        {"movlw ~1R", n, "\tmovlw\t012h\n"},
        {"movlw ~1/2R", n, "\tmovlw\t012h\n"},
        {"movlw ~9R", n, "\tmovlw\t01234h\n"},
        {"movf ~1L,w", n, "\tmovf\t_ix+1,w\n"},
        {"movf S+1L,w", n, "\tmovf\t_ix+1,w\n"},
        {"movf SJ0,w", n, "\tmovf\t_ix,w\n"},
        {"movlw SJ1", n, "\tmovlw\t4660\n"},
        {"movlw VR", n, "\tmovlw\t01234h\n"},
        {"movlw V+1R", n, "\tmovlw\t012h\n"},
        {"movlw VN", m1, "\tmovlw\t-1\n"},
        {"ONwf x", n, "\taddwf\tx\n"},
        {"; O9N", n, ""},   // a line left empty is not written
        {"x O9N y", n, "\tx\t+ y\n"},
        {"W AN ZN", n, "\tw\ta 2\n"},
        {"movwf GN", n, "\tmovwf\twreg\n"},
        {"movwf ~XN", n, "\tmovwf\tindf\n"},
        {"movwf XN", n, "\tmovwf\tfsr\n"},
        {"movwf Y1N", n, "\tmovwf\tbtemp+1\n"},
        {"movlw HN", n, "\tmovlw\t(\n"},
        {"DN D+1N D3D DN", n, "\t0\t1  3\n"},
        {"a\nZ=1b\nD1DZ=1c", n, "\ta\n\tc\n"},
        {"x`y;;z", n, "\tx;y;\n"},
        {"x ~~ y", n, "\tx\t~ y\n"},
        {"\bl:", n, "l:\n"},
        {"a\n\bb\rc", n, "\ta\nb\n\tc\n"},
        {"bit TN", cnst(0x80), "\tbit\t7\n"},
        {"rlf x,fV+N", rep, "\trlf\tx,f\n\trlf\tx,f\n\trlf\tx,f\n"},
        {"UN KN MN", n, "\t0\t \n"},
        {"a E5N b E2N", n, "\ta\t<E5> b <E2>\n"},
        {"IN I+N IN I4N IN", n, "\t0\t 2  6\n"},
        {"movlw 1Z+clrf x\nZ-", n, "\tmovlw\t1\n\tclrf\tx\n"},
        {"movlw BN PN ZS", pw, "\tmovlw\t2 w 2\n"},
        {"bsf x,CN", bf, "\tbsf\tx,3\n"},
        {"QN OR", n, "\tadd\t\n"},
        {"movlw H/2NSJ0)", n, "\tmovlw\tlow(_ix)\n"},
        {"movlw H+1/2NSJ0)", n, "\tmovlw\thigh(_ix)\n"},
        {"movf S>L,w S>>L S<L", n, "\tmovf\t_ix+1,w _ix+2 _ix-1\n"},
        {"movwf XN", tmp, "\tmovwf\t??_f+3\n"},
        {"movlw ~1+!R", n, "\tmovlw\t012h\n"},   // no slice kept: byte 1 upwards
        {"H/2N~1+!R", n, "\tlow(012h\n"},
        {"movwf X1N", tmp, "\tmovwf\t??_f+3+1\n"},
    };
    emit_escape = escape_handler;
    for (const row &r : rows) {
        char *buf = nullptr;
        size_t len = 0;
        out_stream = open_memstream(&buf, &len);
        cg_expand_template(r.node, r.templ, 0);
        fclose(out_stream);
        EXPECT_EQ(std::string(buf, len), r.want) << r.templ;
        free(buf);
    }
    out_stream = stdout;
    // result texts per byte slice: the last one serves the larger indexes
    x->pattern[0] = 2;
    for (auto [templ, want] : {std::pair{"~0L", "\tlo._ix\n"}, {"~1L", "\thi._ix+1\n"}, {"~3L", "\ttop._ix+3\n"}}) {
        char *buf = nullptr;
        size_t len = 0;
        out_stream = open_memstream(&buf, &len);
        cg_expand_template(n, templ, 0);
        fclose(out_stream);
        EXPECT_EQ(std::string(buf, len), want) << templ;
        free(buf);
    }
    out_stream = stdout;
    // mistakes: I with another which letter, G without a register
    out_stream = fopen("/dev/null", "w");
    cg_expand_template(n, "IL", 0);
    EXPECT_EQ(count(705), 1);
    cg_expand_template(c, "GN", 0);
    fclose(out_stream);
    out_stream = stdout;
    EXPECT_EQ(count(703), 1);
}

TEST_F(selection, label_numbers_error_templates_and_float_images)
{
    static pattern_record recs[2] = {};
    recs[1].op = OP_CONST;
    recs[1].templ = "#error unsupported constant";
    std::vector<pattern_hash_row> hash(PATTERN_HASH_ROWS, pattern_hash_row{0, 0, 0});
    pattern_tables t = {recs, 2, hash.data(), nullptr, 0, nullptr, nullptr};
    patterns = &t;
    tree_node *c = cnst(1);
    c->level_count = 1;
    c->pattern[0] = 1;
    dry_run = true;
    cg_emit_tree(c, 0);   // a dry run reports nothing
    dry_run = false;
    EXPECT_THROW(cg_emit_tree(c, 0), fatal_exit);
    EXPECT_EQ(count(1137), 1);

    out_stream = fopen("/dev/null", "w");
    cg_expand_template(c, "NN", 0);
    uint32_t first = c->label;
    cg_expand_template(c, "NN", 0);
    fclose(out_stream);
    out_stream = stdout;
    EXPECT_NE(first, 0u);
    EXPECT_EQ(c->label, first);   // numbered once, on first use

    // one out_printf writes at most 4096 characters
    char *buf = nullptr;
    size_t len = 0;
    out_stream = open_memstream(&buf, &len);
    out_printf("%s\n", std::string(5000, 'x').c_str());
    out_putc('\n');
    fclose(out_stream);
    out_stream = stdout;
    EXPECT_EQ(len, 4096u + 1);
    free(buf);

    // after texts of the operands follow the node's own code
    static pattern_record recs2[3] = {};
    recs2[1].op = OP_CONST;
    recs2[1].templ = "movlw VN";
    recs2[1].after = "clrf VN";
    recs2[2].op = OP_NEG;
    recs2[2].templ = "negate";
    pattern_tables t2 = {recs2, 3, hash.data(), nullptr, 0, nullptr, nullptr};
    patterns = &t2;
    tree_node *neg = node_new();
    neg->op = OP_NEG;
    neg->left = cnst(5);
    neg->left->level_count = 1;
    neg->left->pattern[0] = 1;
    neg->level_count = 1;
    neg->pattern[0] = 2;
    char *abuf = nullptr;
    size_t alen = 0;
    out_stream = open_memstream(&abuf, &alen);
    cg_emit_tree(neg, 0);
    fclose(out_stream);
    out_stream = stdout;
    EXPECT_EQ(std::string(abuf, alen), "\tmovlw\t05h\n\tnegate\n\tclrf\t05h\n");
    free(abuf);

    EXPECT_EQ(float_bits(1.0, 3), 0x3F8000u);
    EXPECT_EQ(float_bits(1.0, 4), 0x3F800000u);
    EXPECT_EQ(float_bits(0.0, 3), 0u);
    EXPECT_EQ(float_bits(-2.0, 3), 0xC00000u);
}

// ---------------------------------------------------------------------------
// the generator on broken descriptions
// ---------------------------------------------------------------------------
static std::string run_patgen(const std::string &desc, int *status)
{
    std::string dir = std::filesystem::current_path().string() + "/patgen_case";
    std::string in = dir + ".desc", out = dir + ".cpp", log = dir + ".log";
    FILE *f = fopen(in.c_str(), "w");
    fputs(desc.c_str(), f);
    fclose(f);
    remove(out.c_str());
    std::string cmd = ZEPH_BUILD_DIR "/codegen/patgen/patgen " + in + " " + out + " >" + log + " 2>&1";
    *status = system(cmd.c_str());
    std::string text;
    if (FILE *l = fopen(log.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, l))
            text += buf;
        fclose(l);
    }
    if (FILE *o = fopen(out.c_str(), "r")) {
        text += "[output written]";
        fclose(o);
    }
    return text;
}

TEST(pattern_generator, broken_descriptions_fail_naming_their_line)
{
    struct row { const char *desc; const char *want; } rows[] = {
        {"goal a\nstmt <- ASSIGN(a, b)\na <- ID\n", ": 2: (0) unknown goal \"b\""},
        {"goal a\nstmt <- ASSIGN(a, a)\n    when ISBYTE NOSUCH\na <- ID\n", ": 3: (0) unknown predicate \"NOSUCH\""},
        {"goal a\nstmt <- ASSIGN(a, a)\n    scratch nowhere\na <- ID\n", ": 3: (0) unknown register or class \"nowhere\""},
        {"goal a\nstmt <- ASSIGN(a, a)\n    mode PIC99\na <- ID\n", ": 3: (0) unknown mode \"PIC99\""},
        {"goal a\nstmt <- ASSIGN(a, a)\n    code movf X,w\na <- ID\n", ": 2: (0) template letter X without a scratch"},
        {"goal a\nstmt <- ASSIGN(a, a)\n    code Fa\na <- ID\n", ": 2: (0) unknown template letter \"F\""},
        {"goal a\nstmt <- ASSIGN(a, a)\nstmt <- ASSIGN(a)\na <- ID\n", ": 3: (0) operator ASSIGN used with another"},
        {"goal a\ngoal b\nstmt <- ASSIGN(a, a)\na <- ID\n", ": 2: (0) goal \"b\" is never used"},
        {"goal a\nstmt <- ASSIGN(a, a)\n", ": 1: (0) goal \"a\" is used but no pattern produces it"},
        {"goal a\nforeach $x in ID\na <- $x\nstmt <- ASSIGN(a, a)\n", ": 2: (0) \"foreach\" without \"done\""},
        {"goal a\nstmt <- ASSIGN(a, a)\n    colour red\na <- ID\n", ": 3: (0) unknown attribute \"colour\""},
        {"goal a\nstmt <- ASSIGN(a, a)\na <- ID\na <- ID\n", ": 4: (0) the same pattern as on line 3"},
        {"goal a\nstmt <- ASSIGN(a, a)\na <- ID\n    result x~N\n", ": 3: (0) a result text names its own result"},
        {"goal a\ngoal b\ngoal c\nstmt <- ASSIGN(a, a)\na <- ID\nb <- NEG(c)\nc <- NOT(b)\nc <- ID\n",
         ": 2: (0) goal \"b\" cannot be reached"},
    };
    for (const row &r : rows) {
        int status;
        std::string text = run_patgen(r.desc, &status);
        EXPECT_NE(status, 0) << r.desc;
        EXPECT_NE(text.find(r.want), std::string::npos) << r.desc << "\ngave: " << text;
        EXPECT_EQ(text.find("[output written]"), std::string::npos) << r.desc;
    }
    int status;
    std::string text = run_patgen("goal a\nforeach $op:$g in ASSIGN:a\nstmt <- $op($g, $g)\ndone\na <- ID\n", &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("[output written]"), std::string::npos);
    text = run_patgen("goal a\r\nstmt <- ASSIGN(a, a)\r\na <- ID\r\n    code\r\n        movf SN,w\r\n    end\r\n", &status);
    EXPECT_EQ(status, 0) << "lines ending in CR LF: " << text;
}

TEST_F(selection, chain_rules_in_a_cycle_end_and_the_trace_shows_the_tries)
{
    // a <- b and b <- a chain into each other; only a <- CONST (zero) ends them
    static pattern_record recs[4] = {};
    recs[1].op = 95;
    recs[2].op = 94;
    recs[3].op = OP_CONST;
    recs[3].pred[0] = PRED_ISZERO;
    std::vector<pattern_hash_row> hash(PATTERN_HASH_ROWS, pattern_hash_row{0, 0, 0});
    hash[(94 * OP_CONST) % PATTERN_HASH_ROWS] = {94, OP_CONST, 1};
    hash[(95 * OP_CONST) % PATTERN_HASH_ROWS] = {95, OP_CONST, -2};
    static const int16_t lists[] = {0, 1, -3};
    static const int lines_of[] = {0, 10, 11, 12};
    static const char *const goal_names[] = {"", "a", "b"};
    pattern_tables t = {recs, 4, hash.data(), lists, 3, lines_of, goal_names};
    patterns = &t;
    tree_node *one = cnst(1), *zero = cnst(0);
    EXPECT_NE(pattern_match(one, 94, regset_of(REG_ALLREG), nullptr, nullptr, "ROOT "), 0);
    match_trace = true;
    lines.clear();
    EXPECT_EQ(pattern_match(zero, 94, regset_of(REG_ALLREG), nullptr, nullptr, "ROOT "), 0);
    match_trace = false;
    EXPECT_EQ(zero->level_count, 1);
    EXPECT_EQ(zero->pattern[0], 3);
    bool tried = false, matched = false;
    for (const std::string &l : lines) {
        tried |= l.find("pattern 1 (line 10)") != std::string::npos;
        matched |= l.find("pattern 3 (line 12) matched") != std::string::npos;
    }
    EXPECT_TRUE(tried);
    EXPECT_TRUE(matched);
}

TEST_F(selection, rewrite_texts_and_function_signatures)
{
    tree_node *n = op2(OP_ADD, var("_ix", "i"), cnst(3, "uc"));
    EXPECT_EQ(rewrite_text(n, "ON"), "add");
    EXPECT_EQ(rewrite_text(n, "O9N"), "+");
    EXPECT_EQ(rewrite_text(n, "WN W9L ZN ZR AN"), "w i 2 1 a");
    EXPECT_EQ(rewrite_text(n, "&u *u $u -u :u ,, x"), "&U *U $U -U :U ; x");
    std::string label = rewrite_text(n, "NN");
    EXPECT_NE(n->label, 0u);
    EXPECT_EQ(label, std::to_string(n->label));

    cg_symbol *f = sym_new("_g");
    f->type = type_derive(ty("uc"), TY_FUNCTION);
    f->params = vec_new(2);
    vec_push(f->params, sym_new("a"));
    vec_push(f->params, sym_new("b"));
    EXPECT_EQ(signat_value(f), 0x2009u);   // size 1, unsigned, two arguments
    run.mode_word |= MODE_AUTOSTATIC;
    EXPECT_EQ(signat_value(f), 0x2049u);
    run.mode_word = 0;
}

// ---------------------------------------------------------------------------
// the whole way: simplified, split, matched, written
// ---------------------------------------------------------------------------
// (type)x
static tree_node *narrowed(tree_node *x, const char *type)
{
    tree_node *n = binary(OP_CONV, x, node_new_type(ty(type)));
    n->type = ty(type);
    return n;
}

static std::string compile(tree_node *t)
{
    vector_t *stmts = vec_new(8);
    nodeRewrite(t, stmts);
    std::string s;
    for (uint32_t i = 0; i < vec_count(stmts); i++)
        s += generate((tree_node *)vec_get(stmts, i));
    vec_free(stmts);
    return s;
}

// ---------------------------------------------------------------------------
// the code runs: assembled by gpasm, run in gpsim, the variables read back
// ---------------------------------------------------------------------------
static std::string read_file(const std::string &path)
{
    std::string text;
    if (FILE *f = fopen(path.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, f))
            text += buf;
        fclose(f);
    }
    return text;
}

TEST_F(selection, generated_code_computes_the_values_in_the_simulator)
{
    if (system("gpasm -v >/dev/null 2>&1") != 0 || system("gpsim -v >/dev/null 2>&1 </dev/null") != 0)
        GTEST_SKIP() << "gpasm or gpsim is not installed";
    // the variables at 20h up, in the order of the equates below; wl and vl
    // are two-byte, set by the prologue to 1234h and 01F0h
    std::string code;
    auto label = [](long n) { return op1(OP_LABEL, cnst(n, "i")); };
    auto jump_if = [](tree_node *c, long n) { return op2(OP_CJUMP, c, cnst(n, "i")); };
    tree_node *stmts[] = {
        op2(OP_ASSIGN, var("_y"), cnst(7)),
        op2(OP_ASSIGN, var("_z"), cnst(2)),
        op2(OP_ASSIGN, var("_x"), op2(OP_ADD, var("_y"), cnst(3))),          // 10
        op2(OP_ASG_SUB, var("_x"), var("_z")),                               // 8
        op2(OP_ASSIGN, var("_w"), op2(OP_XOR, var("_x"), var("_y"))),         // 15
        jump_if(op2(OP_LT, var("_x"), var("_y")), 5),                        // 8 < 7: not taken
        op2(OP_ASSIGN, var("_r"), cnst(0x55)),
        label(5),
        jump_if(op2(OP_GE, var("_x"), var("_y")), 6),                        // taken
        op2(OP_ASSIGN, var("_r2"), cnst(0xAA)),
        label(6),
        jump_if(op2(OP_OROR, op2(OP_EQ, var("_x"), var("_y")), op2(OP_EQ, var("_x"), var("_z"))), 7),  // neither
        op2(OP_ASSIGN, var("_r3"), cnst(1)),
        label(7),
        op2(OP_ASSIGN, var("_r4"), op2(OP_AND, var("_y"), var("_z"))),        // 2
        op2(OP_ASG_OR, var("_r4"), var("_x")),                               // 10
        jump_if(op2(OP_LE, var("_z"), cnst(1)), 8),                          // 2 <= 1: not taken
        op2(OP_ASG_ADD, var("_r3"), var("_z")),                              // 3
        label(8),
        op2(OP_ASSIGN, var("_s"), op2(OP_SHL, var("_y"), cnst(1))),          // 14
        op2(OP_ASG_SHR, var("_s"), cnst(1)),                                 // 7
        op2(OP_ASSIGN, var("_s"), op2(OP_MUL, var("_s"), cnst(2))),          // 14, as s <<= 1
        op2(OP_ASSIGN, var("_q"), op2(OP_ADD, cnst(5), var("_y"))),          // 12
        op2(OP_ASSIGN, var("_m"), narrowed(var("_wl", "ui"), "uc")),         // the low byte in place: 34h
        op2(OP_ASSIGN, var("_b"), narrowed(op2(OP_ADD, var("_wl", "ui"), var("_vl", "ui")), "uc")),  // 24h
        op2(OP_ASSIGN, var("_a", "c"), cnst(-3, "c")),
        op2(OP_ASSIGN, var("_t"), cnst(0x11)),
        jump_if(op2(OP_LT, var("_a", "c"), cnst(2, "c")), 9),                // signed -3 < 2: taken
        op2(OP_ASSIGN, var("_t"), cnst(0x22)),
        label(9),
        jump_if(op2(OP_GT, var("_a", "c"), cnst(4, "c")), 10),               // -3 > 4: not taken
        op2(OP_ASG_ADD, var("_t"), cnst(1)),                                 // 12h
        label(10),
        op2(OP_ASSIGN, var("_a", "c"), op2(OP_SHR, var("_a", "c"), cnst(1))),  // -2, the sign kept
        op2(OP_ASG_SHR, var("_q"), cnst(3)),                                 // 1
        op2(OP_ASSIGN, var("_n"), cnst(2)),
        op2(OP_ASSIGN, var("_z"), op2(OP_SHL, var("_y"), var("_n"))),        // 7 << 2 = 28
        op2(OP_ASSIGN, var("_x"), op2(OP_SUB, var("_y"), var("_x"))),        // 7 - 8 = 0FFh
    };
    for (tree_node *t : stmts)
        code += compile(t);
    std::string dir = std::filesystem::current_path().string() + "/select_run";
    std::string src = "\tprocessor 16f84\nstatus\tequ 3\n"
                      "_x equ 20h\n_y equ 21h\n_z equ 22h\n_r equ 23h\n_r2 equ 24h\n_r3 equ 25h\n_r4 equ 26h\n"
                      "_w equ 27h\n_s equ 28h\n_a equ 29h\n_b equ 2Ah\n_q equ 2Bh\n_n equ 2Ch\n_wl equ 2Dh\n"
                      "_vl equ 2Fh\n_t equ 31h\n_m equ 32h\n??_f equ 38h\n"
                      "\torg 0\n\tmovlw 34h\n\tmovwf 2Dh\n\tmovlw 12h\n\tmovwf 2Eh\n\tmovlw 0F0h\n\tmovwf 2Fh\n"
                      "\tmovlw 1\n\tmovwf 30h\n" + code + "done:\tgoto done\n\tend\n";
    FILE *f = fopen((dir + ".asm").c_str(), "w");
    fputs(src.c_str(), f);
    fclose(f);
    ASSERT_EQ(system(("gpasm -p p16f84 -o " + dir + ".hex " + dir + ".asm >" + dir + ".log 2>&1").c_str()), 0)
        << read_file(dir + ".log") << src;
    f = fopen((dir + ".stc").c_str(), "w");
    fputs("step 400\ndump r\nquit\n", f);
    fclose(f);
    system(("gpsim -i -s " + dir + ".cod -c " + dir + ".stc >" + dir + ".out 2>&1 </dev/null").c_str());
    std::string out = read_file(dir + ".out");
    size_t row = out.find("0020:");
    ASSERT_NE(row, std::string::npos) << out;
    EXPECT_EQ(out.substr(row + 7, 47), "ff 07 1c 55 00 03 0a 0f 0e fe 24 01 02 34 12 f0") << src;
    row = out.find("0030:");
    ASSERT_NE(row, std::string::npos) << out;
    EXPECT_EQ(out.substr(row + 7, 8), "01 12 34") << src;
}
