// The tree simplifier and statement splitting: tables of hand-built trees and
// the forms they must take, written as prefix text. The guarded rules each
// have a tree on which the unguarded rule would have changed the value:
// -7 % 8 is -7, not 1; (w >> 2) narrowed is not (narrowed w) >> 2; and so on.
#include "kestrel_test.h"
#include "select.h"

#include <algorithm>
#include <string>
#include <vector>

using simplifier = kestrel_fixture;

static type_desc *ty(const char *name)
{
    return basic_type_named(name);
}

static tree_node *v(const char *name, type_desc *t)
{
    cg_symbol *s = sym_find(name);
    if (!s) {
        s = sym_new(name);
        s->storage = ST_EXTERN;
        s->type = t;
        s->cls = 'F';
        sym_insert(s);
    }
    return node_new_id(s);
}

static tree_node *v(const char *name, const char *type = "uc")
{
    return v(name, ty(type));
}

static tree_node *k(long value, const char *type = "i")
{
    tree_node *c = node_new_const(value);
    c->type = ty(type);
    return c;
}

static tree_node *op(int o, tree_node *l, tree_node *r = nullptr, type_desc *t = nullptr)
{
    tree_node *n = node_new();
    n->op = (uint32_t)o;
    n->left = l;
    n->right = r;
    n->type = t ? t : (op_attr[o] & OA_TRUTH) ? ty("b") : l->type;
    return n;
}

static tree_node *fk(double value, const char *type = "d")
{
    tree_node *c = node_new();
    c->op = OP_FCONST;
    c->fvalue = value;
    c->type = ty(type);
    return c;
}

static tree_node *conv(tree_node *x, const char *type)
{
    return op(OP_CONV, x, node_new_type(ty(type)), ty(type));
}

// Prefix text of a tree: (op operands), names, constant values; labels made
// by statement splitting as L<base digit>.
static std::string show(tree_node *n)
{
    if (!n)
        return "-";
    switch (n->op) {
    case OP_ID:   // a name read in another type than its own shows that type
        if (n->type && n->sym->type && !type_equal(type_unqualify(n->type), type_unqualify(n->sym->type)) &&
            n->type->name)
            return std::string(n->sym->name) + ":" + n->type->name;
        return n->sym->name;
    case OP_CONST:
        return n->value >= 100000000 ? "L" + std::to_string(n->value / 100000000) : std::to_string(n->value);
    case OP_TYPE: return n->type && n->type->name ? n->type->name : "*";
    default: break;
    }
    std::string s = "(" + std::string(op_spelling[n->op]);
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        s += " " + show(n->left);
    if (arity == OA_BINARY && n->right)
        s += " " + show(n->right);
    return s + ")";
}

TEST_F(simplifier, trees_take_the_forms_the_patterns_expect)
{
    type_desc *lptr = type_derive(ty("l"), TY_POINTER);
    struct row { const char *what; tree_node *tree; const char *want; } rows[] = {
        // folding and canonical order
        {"3 + 4", op(OP_ADD, k(3), k(4)), "7"},
        {"x + 0", op(OP_ADD, v("_x"), k(0, "uc")), "_x"},
        {"2 + x", op(OP_ADD, k(2, "uc"), v("_x")), "(+ _x 2)"},
        {"(x + 1) + 2", op(OP_ADD, op(OP_ADD, v("_x"), k(1, "uc")), k(2, "uc")), "(+ _x 3)"},
        {"x - y", op(OP_SUB, v("_x"), v("_y")), "(- _x _y)"},
        {"x ^ 0xFF", op(OP_XOR, v("_x"), k(0xFF, "uc")), "(~ _x)"},
        {"x & 0", op(OP_AND, v("_x"), k(0, "uc")), "0"},
        {"!(x < y)", op(OP_NOT, op(OP_LT, v("_x"), v("_y"))), "(>= _x _y)"},
        // sums: equal terms merged, constants summed
        {"i + j - i", op(OP_SUB, op(OP_ADD, v("_i", "i"), v("_j", "i")), v("_i", "i")), "_j"},
        {"i + 3 + j + 4", op(OP_ADD, op(OP_ADD, op(OP_ADD, v("_i", "i"), k(3)), v("_j", "i")), k(4)),
         "(+ (+ _j _i) 7)"},   // the sum ranks below a name: swapped first
        {"i * 2 + i", op(OP_ADD, op(OP_MUL, v("_i", "i"), k(2)), v("_i", "i")), "(* _i 3)"},
        {"i - i", op(OP_SUB, v("_i", "i"), v("_i", "i")), "0"},
        // a negated term counts negated: -i - i is -2i, not 0
        {"-i - i", op(OP_SUB, op(OP_NEG, v("_i", "i")), v("_i", "i")), "(-U (<< _i 1))"},
        {"-w - (w - j)", op(OP_SUB, op(OP_NEG, v("_w", "ui")), op(OP_SUB, v("_w", "ui"), v("_vj", "ui"))),
         "(- _vj (<< _w 1))"},
        // one name read as signed and as unsigned is two values: no cancelling
        {"(l)sc - (l)(uc)sc", op(OP_SUB, conv(v("_sc", "c"), "l"), conv(conv(v("_sc", "c"), "uc"), "l")),
         "(- (-> _sc l) (-> _sc:uc l))"},
        {"-i + 3 + 4", op(OP_ADD, op(OP_ADD, op(OP_NEG, v("_i", "i")), k(3)), k(4)), "(- 7 _i)"},
        // comparisons with the constant on the right, in < and >=
        {"5 < x", op(OP_LT, k(5, "uc"), v("_x")), "(>= _x 6)"},
        {"x <= 9", op(OP_LE, v("_x"), k(9, "uc")), "(< _x 10)"},
        {"5 >= x", op(OP_GE, k(5, "uc"), v("_x")), "(< _x 6)"},
        {"x > 0 unsigned", op(OP_GT, v("_x"), k(0, "uc")), "(!= _x 0)"},
        {"x < 255 unsigned", op(OP_LT, v("_x"), k(255, "uc")), "(!= _x 255)"},
        {"x <= f float", op(OP_LE, v("_f", "f"), k(2)), "(<= _f 2)"},
        {"sc <= 200", op(OP_LE, v("_sc", "c"), k(200)), "(<= _sc 200)"},
        // multiplies, divides and remainders by powers of two
        {"w * 8", op(OP_MUL, v("_w", "ui"), k(8, "ui")), "(<< _w 3)"},
        {"w / 4 unsigned", op(OP_DIV, v("_w", "ui"), k(4, "ui")), "(>> _w 2)"},
        {"s / 4 signed", op(OP_DIV, v("_s", "i"), k(4)), "(/ _s 4)"},
        {"w % 8 unsigned", op(OP_MOD, v("_w", "ui"), k(8, "ui")), "(& _w 7)"},
        {"s % 8 signed", op(OP_MOD, v("_s", "i"), k(8)), "(% _s 8)"},
        {"s / 1", op(OP_DIV, v("_s", "i"), k(1)), "_s"},
        {"s =/ 1", op(OP_ASG_DIV, v("_s", "i"), k(1)), "_s"},
        // division by a constant out of range
        {"sc / 300", op(OP_DIV, v("_sc", "c"), k(300, "i"), ty("c")), "0"},
        {"sc / 128", op(OP_DIV, v("_sc", "c"), k(128, "i"), ty("c")), "(/ _sc 128)"},
        {"w / 300", op(OP_DIV, v("_w", "ui"), k(300, "ui")), "(/ _w 300)"},
        // narrowing conversions
        {"(uc)(w << 2)", conv(op(OP_SHL, v("_w", "ui"), k(2, "uc")), "uc"), "(<< _w:uc 2)"},
        // a count past the narrower width leaves no bit: 0, not a shift dropped as undefined
        {"(uc)(w << 9)", conv(op(OP_SHL, v("_w", "ui"), k(9, "uc")), "uc"), "0"},
        {"(ui)(L << 23)", conv(op(OP_SHL, v("_L", "l"), k(23, "uc")), "ui"), "0"},
        {"(uc)(w >> 2)", conv(op(OP_SHR, v("_w", "ui"), k(2, "uc")), "uc"), "(-> (>> _w 2) uc)"},
        {"(uc)~w", conv(op(OP_COMPL, v("_w", "ui")), "uc"), "(~ _w:uc)"},
        {"(uc)-w", conv(op(OP_NEG, v("_w", "ui")), "uc"), "(-U _w:uc)"},
        {"(uc)(w + v)", conv(op(OP_ADD, v("_w", "ui"), v("_v", "ui")), "uc"), "(+ _w:uc _v:uc)"},
        // an operation that leaves its operand gives way to it read in its own
        // type: the signed quotient stays signed
        {"((c)(x + y) & -1) / 109", op(OP_DIV, op(OP_AND, conv(op(OP_ADD, v("_x"), v("_y")), "c"), k(-1, "c")), k(109, "c")),
         "(/ (-> (+ _x _y) c) 109)"},
        {"((c)(x + y) + 0) / 109", op(OP_DIV, op(OP_ADD, conv(op(OP_ADD, v("_x"), v("_y")), "c"), k(0, "c")), k(109, "c")),
         "(/ (-> (+ _x _y) c) 109)"},
        // a masked comparison narrowed only when the compared constant fits
        {"(w & 15) == 5", op(OP_EQ, op(OP_AND, v("_w", "ui"), k(15, "ui")), k(5, "ui")),
         "(== (& _w:uc 15) 5)"},
        {"(w & 15) == 0x105", op(OP_EQ, op(OP_AND, v("_w", "ui"), k(15, "ui")), k(0x105, "ui")),
         "(== (& _w 15) 261)"},
        {"(x & 4) == 4", op(OP_EQ, op(OP_AND, v("_x"), k(4, "uc")), k(4, "uc")), "(!= (& _x 4) 0)"},
        // a product of two bytes in a long: two bytes, unsigned only for two unsigned operands
        {"(long)a * (long)b", op(OP_MUL, conv(v("_a"), "l"), conv(v("_b"), "l")),
         "(-> (* (-> _a ui) (-> _b ui)) l)"},
        {"(long)sc * (long)b", op(OP_MUL, conv(v("_sc", "c"), "l"), conv(v("_b"), "l")),
         "(-> (* (-> _sc i) (-> _b i)) l)"},
        // compound assignments
        {"x = x | y", op(OP_ASSIGN, v("_x"), op(OP_OR, v("_x"), v("_y"))), "(=| _x _y)"},
        {"x = y & x", op(OP_ASSIGN, v("_x"), op(OP_AND, v("_y"), v("_x"))), "(=& _x _y)"},
        {"L = M + N", op(OP_ASSIGN, v("_L", "l"), op(OP_ADD, v("_M", "l"), v("_N", "l"))),
         "(; (= _L _M) (=+ _L _N))"},
        {"L = M + *P", op(OP_ASSIGN, v("_L", "l"), op(OP_ADD, v("_M", "l"), op(OP_DEREF, v("_P", lptr), nullptr, ty("l")))),
         "(= _L (+ _M (*U _P)))"},
        {"L = M + L", op(OP_ASSIGN, v("_L", "l"), op(OP_ADD, v("_M", "l"), v("_L", "l"))), "(=+ _L _M)"},
        // a volatile x never holds the partial value y: a port would show it,
        // and reading a port back reads its pins
        {"port = y << 1", op(OP_ASSIGN, v("_port", type_qualify(ty("uc"), Q_VOLATILE)), op(OP_SHL, v("_y"), k(1, "uc"))),
         "(= _port (<< _y 1))"},
        {"VL = M + N", op(OP_ASSIGN, v("_VL", type_qualify(ty("l"), Q_VOLATILE)), op(OP_ADD, v("_M", "l"), v("_N", "l"))),
         "(= _VL (+ _M _N))"},
        {"x = y << 1", op(OP_ASSIGN, v("_x"), op(OP_SHL, v("_y"), k(1, "uc"))), "(; (= _x _y) (=<< _x 1))"},
        // the effects of an arm of ?: stay in the arm, on either side of the ":"
        {"m = k ? (n++ < 300) : m",
         op(OP_ASSIGN, v("_m1"), op(OP_QUEST, op(OP_NE, v("_k1", "i"), k(0)),
                                    op(OP_COLON, conv(op(OP_LT, conv(op(OP_POSTINC, v("_n1"), k(1, "uc")), "i"), k(300)), "uc"),
                                       v("_m1")), ty("uc"))),
         "(= _m1 (? (!= _k1 0) (: (; (=+ _n1 1) 1) _m1)))"},
        {"m = k ? m : (n++ < 300)",
         op(OP_ASSIGN, v("_m1"), op(OP_QUEST, op(OP_NE, v("_k1", "i"), k(0)),
                                    op(OP_COLON, v("_m1"),
                                       conv(op(OP_LT, conv(op(OP_POSTINC, v("_n1"), k(1, "uc")), "i"), k(300)), "uc")), ty("uc"))),
         "(= _m1 (? (!= _k1 0) (: _m1 (; (=+ _n1 1) 1))))"},
        {"x = ~x", op(OP_ASSIGN, v("_x"), op(OP_COMPL, v("_x"))), "(=^ _x 255)"},
        // a byte widened for a comparison is compared as a byte
        {"(int)x == 5", op(OP_EQ, conv(v("_x"), "i"), k(5)), "(== _x 5)"},
        // decided: a read of a plain variable has no effect to keep
        {"(int)x < 300", op(OP_LT, conv(v("_x"), "i"), k(300)), "1"},
        {"(int)sc >= -200", op(OP_GE, conv(v("_sc", "c"), "i"), k(-200)), "1"},
        // two widened values compared in the smallest type that holds both
        {"(long)x < (long)sc", op(OP_LT, conv(v("_x"), "l"), conv(v("_sc", "c"), "l")), "(< (-> _x i) (-> _sc i))"},
        {"(long)x == (long)y", op(OP_EQ, conv(v("_x"), "l"), conv(v("_y"), "l")), "(== _x _y)"},
        {"(ul)sc == (ul)x", op(OP_EQ, conv(v("_sc", "c"), "ul"), conv(v("_x"), "ul")), "(== (-> _sc ul) (-> _x ul))"},
        {"(int)x < (int)sc", op(OP_LT, conv(v("_x"), "i"), conv(v("_sc", "c"), "i")), "(< (-> _x i) (-> _sc i))"},
        // truth values, addresses, all-ones masks
        {"(x < y) & (p < q)", op(OP_AND, op(OP_LT, v("_x"), v("_y")), op(OP_LT, v("_p"), v("_q")), ty("b")),
         "(&& (< _x _y) (< _p _q))"},
        {"(int)b1 | (int)b2", op(OP_OR, conv(v("_b1", "b"), "i"), conv(v("_b2", "b"), "i")), "(-> (-> (|| _b1 _b2) uc) i)"},
        {"(int)b1 & 2", op(OP_AND, conv(v("_b1", "b"), "i"), k(2)), "0"},
        {"b1 & (b2 = 1) keeps the store", op(OP_AND, v("_b1", "b"), op(OP_ASSIGN, v("_b2", "b"), k(1, "b"))),
         "(& _b1 (= _b2 1))"},
        {"*&x", op(OP_DEREF, op(OP_ADDR, v("_x"), nullptr, type_derive(ty("uc"), TY_POINTER)), nullptr, ty("uc")), "_x"},
        {"x | 0xFF", op(OP_OR, v("_x"), k(0xFF, "uc")), "255"},
        {"x =| 0xFF", op(OP_ASG_OR, v("_x"), k(0xFF, "uc")), "(= _x 255)"},
        // conditional values of constants, shifts of sums, float constants
        {"c ? 1 : 0", op(OP_QUEST, op(OP_LT, v("_x"), v("_y")), op(OP_COLON, k(1), k(0)), ty("i")), "(-> (-> (< _x _y) uc) i)"},
        {"c ? 0 : 1", op(OP_QUEST, op(OP_LT, v("_x"), v("_y")), op(OP_COLON, k(0), k(1)), ty("i")), "(-> (-> (>= _x _y) uc) i)"},
        {"(x + 3) << 2", op(OP_SHL, op(OP_ADD, v("_x"), k(3, "uc")), k(2, "uc")), "(+ (<< _x 2) 12)"},
        {"(float)2", conv(k(2), "f"), "(FCONST)"},
        {"(int)-2.5", conv(fk(-2.5), "i"), "-2"},
        {"(uc)300.0", conv(fk(300.0), "uc"), "44"},
        {"(l)1e30 held at the end", conv(fk(1e30), "l"), "-1"},
        // operations done in the narrower width of their widened operands
        {"(int)a & (int)b", op(OP_AND, conv(v("_a"), "i"), conv(v("_b"), "i")), "(-> (& _a _b) i)"},
        {"(int)a / (int)b", op(OP_DIV, conv(v("_a"), "i"), conv(v("_b"), "i")), "(-> (/ _a _b) i)"},
        {"(int)sc / (int)sd", op(OP_DIV, conv(v("_sc", "c"), "i"), conv(v("_sd", "c"), "i")),
         "(/ (-> _sc i) (-> _sd i))"},
        {"(int)w + 1 of one size", op(OP_ADD, conv(v("_w", "ui"), "i"), k(1)), "(+ _w:i 1)"},
        // a conversion of a choice goes into its arms
        {"(uc)(c ? w : 300)", conv(op(OP_QUEST, v("_c"), op(OP_COLON, v("_w", "ui"), k(300, "ui")), ty("ui")), "uc"),
         "(? _c (: _w:uc 44))"},
        {"(uc)(c ? w : w + 1) narrows both arms", conv(op(OP_QUEST, v("_c"), op(OP_COLON, v("_w", "ui"), op(OP_ADD, v("_w", "ui"), k(1, "ui"))), ty("ui")), "uc"),
         "(? _c (: _w:uc (+ _w:uc 1)))"},
        // conversions in a row
        {"(long)(ui)x", conv(conv(v("_x"), "ui"), "l"), "(-> _x l)"},
        {"(long)(ui)sc", conv(conv(v("_sc", "c"), "ui"), "l"), "(-> (-> _sc ui) l)"},
        // rotations
        {"x = (x << 3) | (x >> 5)", op(OP_ASSIGN, v("_x"), op(OP_OR, op(OP_SHL, v("_x"), k(3, "uc")), op(OP_SHR, v("_x"), k(5, "uc")))),
         "(ROTL _x 3)"},
        {"x = (x << 7) | (x >> 1)", op(OP_ASSIGN, v("_x"), op(OP_OR, op(OP_SHL, v("_x"), k(7, "uc")), op(OP_SHR, v("_x"), k(1, "uc")))),
         "(ROTR _x 1)"},
        {"x = (x << 3) | (x >> 4)", op(OP_ASSIGN, v("_x"), op(OP_OR, op(OP_SHL, v("_x"), k(3, "uc")), op(OP_SHR, v("_x"), k(4, "uc")))),
         "(= _x (| (<< _x 3) (>> _x 4)))"},
        // an incremented operand compared: equality only
        {"x++ == 5", op(OP_EQ, op(OP_POSTINC, v("_x"), k(1, "uc")), k(5, "uc")), "(== (=+ _x 1) 6)"},
        {"x++ < 5", op(OP_LT, op(OP_POSTINC, v("_x"), k(1, "uc")), k(5, "uc")), "(< (++ _x 1) 5)"},
        // shifts past the width
        {"x << 9", op(OP_SHL, v("_x"), k(9, "uc")), "0"},
        // all ones less a value is its complement, in the node's width
        {"255 - x", op(OP_SUB, k(255, "uc"), v("_x")), "(~ _x)"},
        {"0xFFFF - (ui)x", op(OP_SUB, k(0xFFFF, "ui"), conv(v("_x"), "ui"), ty("ui")), "(~ (-> _x ui))"},
        {"-1 - s", op(OP_SUB, k(-1), v("_s", "i")), "(~ _s)"},
        {"255 - w", op(OP_SUB, k(255, "ui"), v("_w", "ui")), "(- 255 _w)"},
        // pointer differences with a common base
        {"(P + i) - (P + j)", op(OP_SUB, op(OP_ADD, v("_P", lptr), v("_i", "i"), lptr), op(OP_ADD, v("_P", lptr), v("_j", "i"), lptr), ty("i")),
         "(- _i _j)"},
        {"P - (P + j)", op(OP_SUB, v("_P", lptr), op(OP_ADD, v("_P", lptr), v("_j", "i"), lptr), ty("i")), "(- 0 _j)"},
        {"(P + i) - P", op(OP_SUB, op(OP_ADD, v("_P", lptr), v("_i", "i"), lptr), v("_P", lptr), ty("i")), "_i"},
        {"(P + i) - (Q + j)", op(OP_SUB, op(OP_ADD, v("_P", lptr), v("_i", "i"), lptr), op(OP_ADD, v("_Q", lptr), v("_j", "i"), lptr), ty("i")),
         "(- (+ _P _i) (+ _Q _j))"},
        // a negated dividend: the divisor negated, for signed types only
        {"(-s) / 4", op(OP_DIV, op(OP_NEG, v("_s", "i")), k(4)), "(/ _s -4)"},
        {"(-w) / 4 unsigned", op(OP_DIV, op(OP_NEG, v("_w", "ui")), k(4, "ui")), "(>> (-U _w) 2)"},
        {"(-s) / -32768", op(OP_DIV, op(OP_NEG, v("_s", "i")), k(-32768)), "(/ (-U _s) -32768)"},
        // (int)(-L) narrowed into -U may be the negation of -32768: not moved
        {"(int)(-L) / -128", op(OP_DIV, conv(op(OP_NEG, v("_L", "l")), "i"), k(-128)), "(/ (-U _L:i) -128)"},
        {"(-(int)sc) / 4", op(OP_DIV, op(OP_NEG, conv(v("_sc", "c"), "i")), k(4)), "(/ (-> _sc i) -4)"},
        // loads chosen by a condition: one load of the chosen pointer
        {"c ? *P : *Q", op(OP_QUEST, v("_c"), op(OP_COLON, op(OP_DEREF, v("_P", lptr), nullptr, ty("l")),
                                                  op(OP_DEREF, v("_Q", lptr), nullptr, ty("l"))), ty("l")), "(*U (? _c (: _P _Q)))"},
        {"*&(x = y) stays", op(OP_DEREF, op(OP_ADDR, op(OP_ASSIGN, v("_x"), v("_y")), nullptr, type_derive(ty("uc"), TY_POINTER)), nullptr, ty("uc")),
         "(*U (&U (= _x _y)))"},
        // a store through two conversions of one size: one conversion
        {"x = (uc)(c)vw", op(OP_ASSIGN, v("_x"), conv(conv(v("_vw", type_qualify(ty("ui"), Q_VOLATILE)), "c"), "uc")),
         "(= _x (-> _vw uc))"},
        // (uc)(ui)l is (uc)l: the volatile long is still read whole, once
        {"x = (uc)(ui)l", op(OP_ASSIGN, v("_x"), conv(conv(v("_vl", type_qualify(ty("l"), Q_VOLATILE)), "ui"), "uc")),
         "(= _x (-> _vl uc))"},
    };
    for (const row &r : rows) {
        lines.clear();
        EXPECT_EQ(show(tree_simplify(r.tree)), r.want) << r.what;
    }
}

TEST_F(simplifier, decided_comparisons_and_warnings)
{
    EXPECT_EQ(show(tree_simplify(op(OP_LE, v("_x"), k(255, "uc")))), "1");
    EXPECT_EQ(count(765), 1);
    EXPECT_EQ(show(tree_simplify(op(OP_LT, v("_sc", "c"), k(-128, "c")))), "0");
    EXPECT_EQ(count(766), 1);
    EXPECT_EQ(show(tree_simplify(op(OP_SHL, v("_i", "i"), k(16, "uc")))), "_i");
    EXPECT_EQ(count(753), 1);
    EXPECT_EQ(show(tree_simplify(op(OP_DIV, v("_i", "i"), k(0)))), "(/ _i 0)");
    EXPECT_EQ(count(755), 1);
    EXPECT_EQ(show(tree_simplify(op(OP_DIV, k(7), k(0)))), "7");
    EXPECT_EQ(show(tree_simplify(op(OP_DIV, k(INT32_MIN, "l"), k(-1, "l")))), std::to_string(INT32_MIN));
    EXPECT_EQ(show(tree_simplify(op(OP_MOD, k(INT32_MIN, "l"), k(-1, "l")))), "0");
    EXPECT_EQ(count(743), 1);
    // a bit compared with constants
    EXPECT_EQ(show(tree_simplify(op(OP_EQ, v("_bit", "b"), k(1)))), "_bit");
    EXPECT_EQ(show(tree_simplify(op(OP_EQ, v("_bit", "b"), k(0)))), "(! _bit)");
    EXPECT_EQ(show(tree_simplify(op(OP_NE, v("_bit", "b"), k(2)))), "1");
    tree_node *field = op(OP_BITFIELD, v("_flags"), nullptr, ty("uc"));
    field->bitfield = sym_new("f1");
    field->bitfield->bit_width = 1;
    EXPECT_EQ(show(tree_simplify(op(OP_EQ, tree_copy(field), k(1)))), "(!= (BITFIELD _flags) 0)");
    EXPECT_EQ(show(tree_simplify(op(OP_EQ, field, k(3)))), "0");
    EXPECT_EQ(count(754), 1);
    // constant operands of && and ||, sizes of nothing
    // p && 1 is the truth of p: a byte p is compared with 0 (p = 5 gives 1),
    // a truth value stays itself
    EXPECT_EQ(show(tree_simplify(op(OP_ANDAND, v("_p"), k(1)))), "(!= _p 0)");
    EXPECT_EQ(count(750), 1);
    EXPECT_EQ(show(tree_simplify(op(OP_OROR, v("_q", "b"), k(0)))), "_q");
    EXPECT_EQ(show(tree_simplify(op(OP_NOT, op(OP_NOT, v("_p")), nullptr))), "(!= _p 0)");
    EXPECT_EQ(show(tree_simplify(op(OP_SIZEOF, v("_nothing", "v"), nullptr, ty("ui")))), "0");
    EXPECT_EQ(count(761), 1);
    EXPECT_EQ(show(tree_simplify(conv(v("_w", "ui"), "uc"))), "_w:uc");   // its low byte, read in place
    EXPECT_EQ(count(752), 1);
    EXPECT_EQ(show(tree_simplify(conv(k(300), "uc"))), "44");
    EXPECT_EQ(count(752), 2);
    // a short float widened for a comparison with a float constant
    type_desc *f4 = type_new(TY_BASIC);   // a four-byte float beside the three-byte "f"
    f4->size = 4;
    f4->arith = AR_FLOAT;
    f4->name = "f4";
    auto fconst = [f4](double x) {
        tree_node *c = node_new();
        c->op = OP_FCONST;
        c->fvalue = x;
        c->type = f4;
        return c;
    };
    tree_node *half = fconst(0.5), *tenth = fconst(0.1);
    EXPECT_EQ(show(tree_simplify(op(OP_EQ, op(OP_CONV, v("_f", "f"), node_new_type(f4), f4), half))), "(== _f (FCONST))");
    EXPECT_EQ(show(tree_simplify(op(OP_EQ, op(OP_CONV, v("_f", "f"), node_new_type(f4), f4), tenth))), "0");
    EXPECT_EQ(count(764), 1);
    tree_node *j = tree_simplify(op(OP_CJUMP, k(0), k(12), ty("v")));
    EXPECT_EQ(show(j), "(..)");
    EXPECT_EQ(count(757), 1);
    EXPECT_EQ(show(tree_simplify(op(OP_CJUMP, k(3), k(12), ty("v")))), "($U 12)");
}

TEST_F(simplifier, a_choice_read_with_a_condition_that_folds_keeps_one_arm)
{
    tree_node *t = node_make(OP_QUEST, op(OP_ANDAND, op(OP_LT, k(3), k(2)), v("_c")),
                             node_make(OP_COLON, v("_x"), v("_y")));
    EXPECT_EQ(show(t), "_y");
}

TEST_F(simplifier, a_load_through_a_chosen_pointer_may_reach_either_target)
{
    type_desc *pl = type_derive(ty("l"), TY_POINTER);
    tree_node *p = v("_P", pl), *q = v("_Q", pl);
    p->ptrs = ptrset_of(p->sym);
    q->ptrs = ptrset_of(q->sym);
    ptrset_add_target(p->ptrs, v("_a", "l")->sym);
    ptrset_add_target(q->ptrs, v("_b", "l")->sym);
    tree_node *t = tree_simplify(op(OP_QUEST, v("_c"), op(OP_COLON, op(OP_DEREF, p, nullptr, ty("l")),
                                                          op(OP_DEREF, q, nullptr, ty("l"))), ty("l")));
    ASSERT_EQ(show(t), "(*U (? _c (: _P _Q)))");
    ASSERT_NE(t->ptrs, nullptr);
    EXPECT_EQ(vec_count(t->ptrs->targets), 2u);
}

TEST_F(simplifier, member_access_becomes_address_arithmetic)
{
    type_desc *st = type_new(TY_STRUCT);
    st->size = 4;
    cg_symbol *m = sym_new("m");
    m->type = ty("i");
    m->offset = 2;
    tree_node *dot = op(OP_MEMBER, v("_s", st), k(1), ty("i"));
    dot->sym = m;
    dot->value = 2;
    tree_node *t = tree_simplify(dot);
    EXPECT_EQ(show(t), "(*U (+ (-> (&U _s) *) 2))");
    ASSERT_NE(t->ptrs, nullptr) << "the load knows what it reaches";
    ASSERT_EQ(vec_count(t->ptrs->targets), 1u);
    EXPECT_STREQ(((cg_symbol *)vec_get(t->ptrs->targets, 0))->name, "_s");
}

TEST_F(simplifier, a_constant_address_reads_an_absolute_variable)
{
    type_desc *vuc = type_qualify(ty("uc"), Q_VOLATILE);
    tree_node *t = tree_simplify(op(OP_ASSIGN, op(OP_DEREF, k(0x20, "ui"), nullptr, vuc), k(5, "uc"), vuc));
    ASSERT_EQ(t->op, OP_ASSIGN);
    tree_node *x = t->left;
    ASSERT_EQ(x->op, OP_ID);
    EXPECT_TRUE(x->sym->flags & SF_ABSOLUTE);
    EXPECT_EQ(x->sym->address, 0x20u);
    EXPECT_TRUE(type_qualifiers(x->type) & Q_VOLATILE) << "the access stays volatile";
    EXPECT_EQ(node_size(x), 1u);
    // two reads of one address are one variable to the rules that compare trees
    tree_node *d = tree_simplify(op(OP_SUB, op(OP_DEREF, k(0x30, "ui"), nullptr, ty("i")),
                                    op(OP_DEREF, k(0x30, "ui"), nullptr, ty("i"))));
    EXPECT_EQ(show(d), "0");
}

TEST_F(simplifier, field_stores_and_values_known_at_link_time)
{
    tree_node *field = op(OP_BITFIELD, v("_flags"), nullptr, ty("uc"));
    field->bitfield = sym_new("f3");
    field->bitfield->bit_width = 3;
    // only the field's bits of a constant added or multiplied in can matter
    EXPECT_EQ(show(tree_simplify(op(OP_ASG_ADD, tree_copy(field), k(9, "uc")))), "(=+ (BITFIELD _flags) 1)");
    EXPECT_EQ(show(tree_simplify(op(OP_ASG_MUL, tree_copy(field), k(11, "uc")))), "(=* (BITFIELD _flags) 3)");
    EXPECT_EQ(show(tree_simplify(op(OP_ASG_SHL, field, k(9, "uc")))), "(=& (BITFIELD _flags) 0)") << "a shift is no mask";
    // a name's address plus a constant, stored, compared with 0
    run.warning_level = -1;
    msg_set_warning_level(-1);
    type_desc *pc = type_derive(ty("uc"), TY_POINTER);
    tree_node *addr = op(OP_ADD, op(OP_ADDR, v("_buf"), nullptr, pc), k(2), pc);
    tree_simplify(op(OP_NE, op(OP_ASSIGN, v("_p", pc), addr, pc), k(0)));
    EXPECT_EQ(count(768), 1);
    tree_simplify(op(OP_NE, v("_p", pc), k(0)));
    EXPECT_EQ(count(768), 1) << "a pointer variable is not known";
    // a constant beside a constant pointer takes the pointer's type
    tree_node *sum = tree_simplify(op(OP_OR, k(2), op(OP_CONV, k(0x20, "ui"), node_new_type(pc), pc), ty("i")));
    EXPECT_EQ(show(sum), "34");
    EXPECT_TRUE(simp_is_pointer(sum));
}

// Lines printed that hold a text.
static long printed(const char *text)
{
    auto &l = kestrel_fixture::lines;
    return std::count_if(l.begin(), l.end(), [text](const std::string &x) { return x.find(text) != std::string::npos; });
}

// Statements after splitting, one prefix text each.
static std::vector<std::string> split_all(tree_node *t, int *dropped = nullptr)
{
    vector_t *out = vec_new(8);
    int d = nodeRewrite(t, out);
    if (dropped)
        *dropped = d;
    std::vector<std::string> s;
    for (uint32_t i = 0; i < vec_count(out); i++)
        s.push_back(show((tree_node *)vec_get(out, i)));
    vec_free(out);
    return s;
}

using strings = std::vector<std::string>;

TEST_F(simplifier, statements_split_into_jumps_and_labels)
{
    tree_node *lab = k(12);
    EXPECT_EQ(split_all(op(OP_CJUMP, op(OP_ANDAND, op(OP_EQ, v("_x"), v("_y")), op(OP_LT, v("_x"), v("_z"))), lab, ty("v"))),
              (strings{"($ (!= _x _y) L6)", "($ (< _x _z) 12)", "(:U L6)"}));
    EXPECT_EQ(split_all(op(OP_CJUMP, op(OP_OROR, v("_p"), v("_q")), k(12), ty("v"))),
              (strings{"($ _p 12)", "($ _q 12)"}));
    EXPECT_EQ(split_all(op(OP_CJUMP, op(OP_NE, op(OP_ASSIGN, v("_x"), k(0, "uc")), k(0)), k(12), ty("v"))),
              (strings{"(= _x 0)"}));
    EXPECT_EQ(count(758), 1);
    EXPECT_EQ(split_all(op(OP_CJUMP, op(OP_NE, op(OP_ASSIGN, v("_x"), k(1, "uc")), k(0)), k(12), ty("v"))),
              (strings{"(= _x 1)", "($U 12)"}));
    // a truth value stored through jumps, the decided value first
    EXPECT_EQ(split_all(op(OP_ASSIGN, v("_x"), op(OP_ANDAND, op(OP_EQ, v("_p"), v("_q")), op(OP_EQ, v("_r"), v("_s"))))),
              (strings{"(= _x 0)", "($ (!= _p _q) L3)", "($ (!= _r _s) L3)", "(= _x 1)", "(:U L3)"}));
    // ... and through both labels when the target is read by the condition
    EXPECT_EQ(split_all(op(OP_ASSIGN, v("_x"), op(OP_OROR, v("_x"), v("_p")))),
              (strings{"($ _x L1)", "($ _p L1)", "(= _x 0)", "($U L2)", "(:U L1)", "(= _x 1)", "(:U L2)"}));
    EXPECT_EQ(split_all(op(OP_ASSIGN, v("_x"), op(OP_QUEST, v("_c"), op(OP_COLON, k(1, "uc"), k(2, "uc"))))),
              (strings{"(= _x 2)", "($ (! _c) L5)", "(= _x 1)", "(:U L5)"}));
    EXPECT_EQ(split_all(op(OP_ASSIGN, v("_w", "ui"), op(OP_QUEST, v("_c"), op(OP_COLON, k(0x300, "ui"), k(0, "ui"))))),
              (strings{"(= _w 0)", "($ (! _c) L5)", "(=| _w 768)", "(:U L5)"}));
    // the long form when the chosen value, or the condition, may read the
    // target the short form would already have stored into
    type_desc *ucp = type_derive(ty("uc"), TY_POINTER);
    EXPECT_EQ(split_all(op(OP_ASSIGN, v("_x"), op(OP_QUEST, v("_c"), op(OP_COLON, op(OP_XOR, v("_x"), v("_y")), v("_y"))))),
              (strings{"($ _c L4)", "(= _x _y)", "($U L4)", "(:U L4)", "(=^ _x _y)", "(:U L4)"}));
    EXPECT_EQ(split_all(op(OP_ASSIGN, v("_x"), op(OP_QUEST, v("_c"), op(OP_COLON, op(OP_DEREF, v("_pp", ucp), nullptr, ty("uc")), v("_y"))))),
              (strings{"($ _c L4)", "(= _x _y)", "($U L4)", "(:U L4)", "(= _x (*U _pp))", "(:U L4)"}));
    EXPECT_EQ(split_all(op(OP_ASSIGN, v("_x"), op(OP_ANDAND, op(OP_DEREF, v("_pp", ucp), nullptr, ty("uc")), v("_p")))),
              (strings{"($ (! (*U _pp)) L1)", "($ (! _p) L1)", "(= _x 1)", "($U L2)", "(:U L1)", "(= _x 0)", "(:U L2)"}));
    EXPECT_EQ(split_all(op(OP_QUEST, v("_c"), op(OP_COLON, op(OP_ASSIGN, v("_x"), k(1, "uc")), op(OP_ASSIGN, v("_x"), k(2, "uc"))))),
              (strings{"($ (! _c) L9)", "(= _x 1)", "($U L9)", "(:U L9)", "(= _x 2)", "(:U L9)"}));
    EXPECT_EQ(split_all(op(OP_RETURN, op(OP_OROR, v("_p"), v("_q")), nullptr, ty("uc"))),
              (strings{"($ _p L1)", "($ _q L1)", "() 0)", "($U L2)", "(:U L1)", "() 1)", "(:U L2)"}));
    EXPECT_EQ(split_all(op(OP_RETURN, op(OP_QUEST, v("_c"), op(OP_COLON, k(1, "uc"), k(2, "uc"))), nullptr, ty("uc"))),
              (strings{"($ _c L4)", "() 2)", "($U L4)", "(:U L4)", "() 1)", "(:U L4)"}));
    // a long chain of sequenced stores: every store a statement, no loop
    tree_node *chain = op(OP_ASSIGN, v("_x"), k(0, "uc"));
    for (int i = 1; i <= 30; i++)
        chain = op(OP_SEQ, op(OP_ASSIGN, v("_x"), k(i, "uc")), chain);
    EXPECT_EQ(split_all(chain).size(), 31u);
    tree_node *value = k(5, "uc");
    for (int i = 1; i <= 30; i++)
        value = op(OP_SEQ, op(OP_ASSIGN, v("_y"), k(i, "uc")), value);
    lines.clear();
    EXPECT_EQ(split_all(op(OP_ASSIGN, v("_x"), value)).size(), 31u);
    EXPECT_EQ(count(1059), 0) << "one round per link of the chain is no loop";
    EXPECT_EQ(printed("Looping around nodeRewrite"), 1);
    int dropped;
    EXPECT_EQ(split_all(op(OP_ADD, v("_x"), op(OP_POSTINC, v("_y"), k(1, "uc"))), &dropped), (strings{"(=+ _y 1)"}));
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(split_all(op(OP_SEQ, op(OP_ASSIGN, v("_x"), k(1, "uc")), op(OP_POSTDEC, v("_y"), k(1, "uc")))),
              (strings{"(= _x 1)", "(=- _y 1)"}));
}

// ---------------------------------------------------------------------------
// rewrite rules over a hand-made table
// ---------------------------------------------------------------------------
static int reader_calls;

static tree_node *read_same(tree_node *n, const std::string &)
{
    reader_calls++;
    return tree_copy(n);   // a rule whose result is its own input: it never ends
}

static tree_node *read_left(tree_node *n, const std::string &text)
{
    reader_calls++;
    EXPECT_EQ(text, "L") << "the rule's result text";
    return tree_copy(n->left);
}

// A pattern table of one rewrite rule, ~x to its result text, in use while
// the object lives.
struct one_rule_table {
    const char *result[2] = {"L", nullptr};
    pattern_record recs[2] = {};
    std::vector<pattern_hash_row> hash = std::vector<pattern_hash_row>(PATTERN_HASH_ROWS, pattern_hash_row{0, 0, 0});
    pattern_tables tables = {recs, 2, hash.data(), nullptr, 0, nullptr, nullptr};

    one_rule_table()
    {
        recs[1] = {0, {0, 0, 0}, 0, 0, 0, 0, 0, OP_COMPL, 0, 0, nullptr, nullptr, 1, result, PK_nocode};
        hash[(GOAL_REWRITE * (int)OP_COMPL) % PATTERN_HASH_ROWS] = {GOAL_REWRITE, OP_COMPL, -1};
        match_reset();
        patterns = &tables;
    }
    ~one_rule_table() { patterns = &generated_patterns; }
};

TEST_F(simplifier, rewrite_rules_apply_and_their_rounds_are_bounded)
{
    one_rule_table rule;
    pattern_record *recs = rule.recs;
    rewrite_reader = read_left;
    reader_calls = 0;
    EXPECT_EQ(show(tree_rewrite_all(op(OP_ADD, op(OP_COMPL, v("_x")), v("_y")))), "(+ _x _y)");
    EXPECT_EQ(reader_calls, 1);
    rewrite_reader = read_same;
    reader_calls = 0;
    EXPECT_THROW(tree_rewrite_all(op(OP_COMPL, v("_x"))), fatal_exit);
    EXPECT_EQ(count(1059), 1);
    EXPECT_EQ(reader_calls, 21);
    // the table's own reader: prefix expressions with placeholders
    rewrite_reader = rewrite_parse;
    static const char *const res_xor[] = {"^ L 1", nullptr};
    recs[1].result = res_xor;
    tree_node *t2 = tree_rewrite_all(op(OP_ASSIGN, v("_w", "ui"), op(OP_COMPL, v("_v", "ui"))));
    EXPECT_EQ(show(t2), "(= _w (^ _v 1))");
    tree_node *x = op(OP_ADD, v("_i", "i"), k(5));
    EXPECT_EQ(show(rewrite_parse(x, "- R J0")), "(- 5 _i)");
    EXPECT_EQ(show(rewrite_parse(x, "+ N -> L `uc")), "(+ (+ _i 5) (-> _i uc))");
    EXPECT_THROW(rewrite_parse(x, "+ L"), fatal_exit);
}

TEST_F(simplifier, rewrite_rules_declare_the_routines_they_call)
{
    one_rule_table rule;
    pattern_record *recs = rule.recs;
    recs[1].templ = "[v _helper `(uc 0 e ]\n[v _tmp `uc 1 a ]\n";
    EXPECT_EQ(show(tree_rewrite_all(op(OP_COMPL, v("_x")))), "_x");
    cg_symbol *h = sym_find("_helper");
    ASSERT_NE(h, nullptr) << "the routine is declared";
    EXPECT_TRUE(sym_is_function(h));
    EXPECT_TRUE(h->flags & SF_UNDEF);
    EXPECT_EQ(printed("Don't declare autos in REWRITEs!"), 1);
}
