// decl: declarations. The loop over external declarations, one declaration
// with its declarators (placement with '@', function qualifiers after the
// declarator, definitions), initialisers and function definitions.
//
// Objects of static duration are initialised in text form ([i records,
// one element per line, ":U .." and ".." around aggregates); an automatic
// object is initialised by an assignment statement, from an anonymous
// static copy when it is an aggregate.
#include "plover.h"

#include <algorithm>
#include <cstdarg>
#include <map>

sym_t *decl_function;               // the function being defined, or null
static std::map<std::string, bool> fi_started; // function-information files begun

// ---------------------------------------------------------------------------
// function-information file (--fipath)
// ---------------------------------------------------------------------------
void fi_line(const char *format, ...)
{
    if (opt.fipath.empty())
        return;
    std::string base = os_path_basename(input_name);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos)
        base = base.substr(0, dot);
    char *path = os_path_join(opt.fipath.c_str(), (base + ".fi").c_str());
    bool first = !fi_started[path];
    fi_started[path] = true;
    FILE *f = fopen(path, first ? "w" : "a");
    if (!f) {
        msg_report(141, "function information", path);
        free(path);
        return;
    }
    va_list ap;
    va_start(ap, format);
    vfprintf(f, format, ap);
    va_end(ap);
    if (ferror(f) | fclose(f))
        msg_report(234);
    free(path);
}

// ---------------------------------------------------------------------------
// initialisers
// ---------------------------------------------------------------------------
struct init_out_t {
    std::string text;               // the element lines
    std::vector<tree_t *> trees;    // their trees, for the records they need
};

static void init_element(type_t *t, init_out_t &out, bool in_array, bool nested);

static void init_line(init_out_t &out, tree_t *e)
{
    out.trees.push_back(e);
    out.text += ic_expr(e) + "\n";
}

// Whether a tree names an object of automatic storage other than inside
// sizeof: its address changes from call to call, so it is no constant.
static bool init_names_auto(const tree_t *e)
{
    if (!e || e->op == O_SIZEOF || e->op == O_SIZEOFT)
        return false;
    if (e->op == O_IDENT && e->sym)
        return e->sym->cls == K_AUTO || e->sym->cls == K_REGISTER || e->sym->cls == C_PARAM;
    return init_names_auto(e->left) || init_names_auto(e->right);
}

static void init_scalar(type_t *t, init_out_t &out)
{
    tree_t *e = expr_parse(EC_INIT);
    if (!e)
        return;
    // a function or array name stands for its address, a constant when the
    // object lives at a fixed place
    e = expr_decay(e);
    if ((!expr_is_constant(e) && e->op != O_ADDR) || init_names_auto(e))
        msg_report(238);
    init_line(out, expr_to_type(e, t));
}

// A char array from a string literal: one line per character.
static void init_string(type_t *t, init_out_t &out)
{
    std::string bytes = tok.text;
    uint32_t count = t->count;
    if (count && bytes.size() > count)
        msg_report(240);
    size_t n = count && bytes.size() > count ? count : bytes.size();
    for (size_t i = 0; i < n; i++)
        out.text += "-> " + std::to_string((int)(signed char)bytes[i]) + " `c\n";
    if (!count || bytes.size() < count)
        out.text += "-> 0 `c\n";
    else if (bytes.size() == count)
        msg_report(340);
    if (!t->count && !t->dim)
        t->count = (uint32_t)bytes.size() + 1;
}

static bool init_close(bool braced)
{
    if (!braced)
        return true;
    if (lex_next() == O_ARG && lex_peek() == T_RBRACE)
        lex_next();
    if (tok.code != T_RBRACE) {
        msg_report(316);
        lex_unget();
        lex_skip_statement();
        return false;
    }
    return true;
}

// Brace elision: an aggregate inside a list that does not open its own
// braces takes as many of the enclosing list's values as it holds. True when
// another value follows for it (its comma is then taken); a comma before the
// list's '}' stays for the enclosing list.
static bool init_elided_more()
{
    if (lex_peek() != O_ARG)
        return false;
    token_t cur = tok;
    lex_next();
    if (lex_peek() != T_RBRACE)
        return true;
    lex_unget();
    tok = cur;
    return false;
}

static void init_array(type_t *t, init_out_t &out, bool nested)
{
    type_t *et = t->sub;
    int eb = type_base_code(et);
    bool braced = lex_next() == T_LBRACE;
    if (!braced)
        lex_unget();
    if ((eb == B_CHAR || eb == B_CHAR + 1) && !type_is_ptr(et) && !type_is_array(et) &&
        lex_peek() == O_STRING) {
        lex_next();
        out.text += ":U ..\n";
        init_string(t, out);
        out.text += "..\n";
        init_close(braced);
        return;
    }
    if (!braced && !(nested && t->count)) {
        msg_report(241);
        lex_skip_statement();
        return;
    }
    out.text += ":U ..\n";
    if (!braced) {
        for (uint32_t n = 0; n < t->count && (n == 0 || init_elided_more()); n++)
            init_element(et, out, true, true);
        out.text += "..\n";
        return;
    }
    uint32_t n = 0;
    if (lex_peek() == T_RBRACE) // "{ }" initialises nothing
        msg_report(241);
    while (lex_peek() != T_RBRACE) {
        if (t->count && n == t->count) {
            msg_report(240);
            lex_skip_statement();
            break;
        }
        init_element(et, out, true, true);
        n++;
        if (lex_next() != O_ARG) {
            lex_unget();
            break;
        }
    }
    out.text += "..\n";
    if (!t->count && !t->dim)
        t->count = n;
    init_close(true);
}

static void init_struct(type_t *t, init_out_t &out, bool in_array, bool nested)
{
    sym_t *tag = t->tag;
    if (!tag || !tag->defined_tag) {
        msg_report(198, tag ? tag->name.c_str() : "");
        lex_skip_statement();
        return;
    }
    bool braced = lex_next() == T_LBRACE;
    lex_unget();
    if (!braced && !nested) {
        msg_report(241);
        lex_skip_statement();
        return;
    }
    out.text += in_array ? ":U ..\n" : ":U ..\n:U ..\n";
    if (!braced) {
        for (sym_t *m = tag->members; m && (m == tag->members || init_elided_more()); m = m->next_member) {
            init_element(m->type, out, false, true);
            if (t->base == B_UNION)
                break;
        }
        out.text += in_array ? "..\n" : "..\n..\n";
        return;
    }
    lex_next();
    if (lex_peek() == T_RBRACE)
        msg_report(241);
    for (sym_t *m = tag->members; m && lex_peek() != T_RBRACE; m = m->next_member) {
        init_element(m->type, out, false, true);
        if (t->base == B_UNION || lex_next() != O_ARG) {
            if (t->base != B_UNION)
                lex_unget();
            break;
        }
    }
    out.text += in_array ? "..\n" : "..\n..\n";
    init_close(true);
}

// nested: t is an element or member inside an enclosing list, where its
// own braces may be left out.
static void init_element(type_t *t, init_out_t &out, bool in_array, bool nested)
{
    type_t *u = type_unfold(t);
    if (u->kind == TY_ARRAY) {
        init_array(u, out, nested);
    } else if (u->kind == TY_BASE && (u->base == B_STRUCT || u->base == B_UNION)) {
        init_struct(u, out, in_array, nested);
    } else {
        bool braced = lex_next() == T_LBRACE;
        if (!braced)
            lex_unget();
        init_scalar(t, out);
        init_close(braced);
    }
}

// A static-duration initialiser: the [i record after the records it needs.
static void init_static(sym_t *s)
{
    init_out_t out;
    init_element(s->type, out, false, false);
    if (!(s->flags & F_WRITTEN))
        ic_var(s, nullptr);
    for (tree_t *e : out.trees)
        ic_tree_deps(e, out_body);
    for (tree_t *e : out.trees)
        ic_expr(e); // marks the strings used
    ic_marker(out_body);
    fprintf(out_body, "[i %s\n%s]\n", ic_name(s).c_str(), out.text.c_str());
}

static void init_auto(sym_t *s)
{
    type_t *u = type_unfold(s->type);
    bool aggregate = type_is_aggregate(s->type);
    int c = lex_peek();
    if (!aggregate || (c != T_LBRACE && c != O_STRING)) {
        ic_var(s, nullptr);
        int saved = msg_set_warning_level(99);
        tree_t *e = expr_parse(EC_INIT);
        msg_set_warning_level(saved);
        if (e && (e = expr_assign(tree_sym(s), e)))
            ic_stmt(e);
        return;
    }
    sym_t *copy = sym_new_anonymous();
    copy->cls = K_STATIC;
    type_t *ct = type_copy(s->type);
    ct->qual |= opt.i_set;
    copy->type = ct;
    copy->flags |= F_TYPED;
    copy->decl_line = (int)lex_line;
    copy->decl_file = lex_file;
    init_static(copy);
    if (u->kind == TY_ARRAY && !u->count) {
        type_t *st = type_copy(s->type);
        st->count = ct->count;
        s->type = st;
    }
    ic_var(s, nullptr);
    tree_t *e = tree_new(u->kind == TY_ARRAY && opt.init_copy_assign ? O_COPY : O_ASSIGN);
    e->left = tree_sym(s);
    e->right = tree_sym(copy);
    e->type = s->type;
    ic_stmt(e);
}

// ---------------------------------------------------------------------------
// declarations
// ---------------------------------------------------------------------------
// The qualifiers a function itself can carry.
static uint32_t decl_function_quals()
{
    uint32_t mask = qual_role.interrupt | qual_role.reentrant | qual_role.fastcall16;
    for (const qual_row_t &r : qual_table)
        if (r.letter && r.name == "fastcall")
            mask |= r.bit;
    return mask;
}

// Function qualifiers written before the name qualify the function.
static void decl_move_function_quals(type_t *t)
{
    uint32_t mask = decl_function_quals();
    if (!t || t->kind != TY_FUNC || !mask)
        return;
    type_t *ret = t->sub;
    while (ret && ret->kind != TY_BASE)
        ret = ret->sub;
    if (ret && (ret->qual & mask)) {
        t->qual |= ret->qual & mask;
        ret->qual &= ~mask;
    }
}

// Qualifier words after a function declarator: reentrant, interrupt n, using n.
static void decl_function_suffix_words(sym_t *s, type_t *t)
{
    for (;;) {
        int c = lex_next();
        if (c != T_QUAL) {
            lex_unget();
            return;
        }
        uint32_t bit = (uint32_t)tok.value;
        if (bit == qual_role.interrupt && bit) {
            t->qual |= bit;
            s->interrupt_fn = true;
            if (lex_peek() == O_ICON) {
                int64_t v;
                bool known;
                expr_constant(EC_PLACE, &v, &known);
                if (known)
                    s->address = v * 8 + 3;
                else
                    msg_report(236);
            }
        } else if (bit == qual_role.using_ && bit) {
            int64_t v = 0;
            bool known;
            expr_constant(EC_PLACE, &v, &known);
            if (!known)
                msg_report(236);
            else if (v == 1 || v == 2 || v == 3)
                t->qual |= v == 1 ? qual_role.bank1 : v == 2 ? qual_role.bank2 : qual_role.bank3;
            else if (v != 0)
                msg_report(1279, (unsigned)v);
        } else if (bit == qual_role.compact || bit == qual_role.large || bit == qual_role.small) {
            continue;
        } else if (bit & (decl_function_quals() | qual_role.inline_)) {
            t->qual |= bit;
        } else {
            msg_report(290);
        }
    }
}

// The address ranges of objects qualified "__sfr": bit addresses below
// 256, byte registers from 128 to 255, word registers from 128 to 254.
static void decl_check_sfr_address(sym_t *s)
{
    if (!qual_role.sfr || !(type_quals(s->type) & qual_role.sfr) || s->placed_on)
        return;
    int64_t a = s->address;
    switch (type_base_code(s->type)) {
    case B_BIT:
        if (a < 0 || a > 255)
            msg_report(1280, "bit");
        break;
    case B_CHAR + 1:
        if (a < 128 || a > 255)
            msg_report(1280, "sfr");
        break;
    case B_INT + 1:
        if (a < 128 || a > 254)
            msg_report(1280, "sfr16");
        break;
    default:
        break;
    }
}

// "^ n" after a bit's byte address: bit n of a bit-addressable byte. Bytes
// 32 to 47 hold bit addresses 0 to 127, the registers from 128 that are a
// multiple of 8 hold the bit addresses from 128 upwards.
static void decl_bit_number(sym_t *s)
{
    int64_t n = 0;
    bool known = false;
    expr_constant(EC_BITNUM, &n, &known);
    if (!known) {
        msg_report(236);
        return;
    }
    if (n < 0 || n > 7) {
        msg_report(842);
        return;
    }
    int64_t a = s->address;
    if (a >= 32 && a <= 47)
        s->address = a * 8 + n - 256;
    else if (a >= 128 && a <= 248 && a % 8 == 0)
        s->address = a + n;
    else
        msg_report(1280, "bit");
}

// '@' address: a constant, or for a bit "@ name ^ n" or "@ address ^ n".
static void decl_placement(sym_t *s)
{
    int64_t v = 0;
    bool known = false;
    bool is_bit = type_base_code(s->type) == B_BIT;
    tree_t *e = expr_parse(is_bit ? EC_BITNUM : EC_PLACE);
    if (!e)
        return;
    if (!expr_is_constant(e)) {
        if (e->op == O_IDENT && is_bit) {
            s->placed_on = e->sym;
            e->sym->flags |= F_USED;
            if (lex_next() == O_XOR) {
                expr_constant(EC_BITNUM, &v, &known);
                if (!known || v < 0 || v >= 8 * (int64_t)type_size(e->sym->type))
                    msg_report(1280, "bit");
                s->address = v;
            } else {
                lex_unget();
            }
            return;
        }
        msg_report(188);
        return;
    }
    known = expr_value(e, &v);
    if (!known) {
        msg_report(236);
        return;
    }
    s->address = v;
    s->flags |= F_ABSOLUTE;
    if (is_bit && lex_next() == O_XOR)
        decl_bit_number(s);
    else if (is_bit)
        lex_unget();
    decl_check_sfr_address(s);
}

// True when the object is const: for an array, its elements.
static bool decl_is_const(type_t *t)
{
    t = type_unfold(t);
    while (t && t->kind == TY_ARRAY && !(t->qual & 1))
        t = type_unfold(t->sub);
    return t && (t->qual & 1);
}

// True when some level of the type carries one of the qualifier bits.
static bool decl_any_level_has(type_t *t, uint32_t bits)
{
    for (; t; t = t->sub) {
        if (t->qual & bits)
            return true;
        if (t->kind == TY_BASE && t->base == B_TYPEDEF && t->tag && t->tag->type)
            return decl_any_level_has(t->tag->type, bits);
    }
    return false;
}

static bool decl_is_definition_start(int c)
{
    return c == T_LBRACE || c == T_CLASS || c == O_TYPE || c == T_QUAL ||
           (c == O_IDENT && tok.sym && tok.sym->cls == K_TYPEDEF) ||
           (c == O_IDENT && type_two_names());
}

static void decl_function_def(sym_t *s, std::vector<sym_t *> &params, bool old_style);

// One declarator of a declaration; false when the declaration ended (a
// function definition or an error that skipped it).
static bool decl_one(const decl_spec_t &ds, int context)
{
    sym_t *name = nullptr;
    std::vector<sym_t *> params;
    bool old_style = false;
    type_t *t = type_declarator(ds.type, &name, context, &params, &old_style);
    if (!name) {
        msg_report(285);
        return true;
    }
    decl_move_function_quals(t);
    type_t *base = t;
    while (base && base->kind != TY_BASE)
        base = base->sub;
    if (base && base->tag)
        base->tag->flags |= F_USED;
    int cls = ds.cls;
    bool is_func = type_is_func(t);
    if (is_func && context == DC_BLOCK && cls == K_AUTO)
        cls = K_EXTERN;
    if (!is_func && type_is_void(t) && t->kind == TY_BASE && cls != K_TYPEDEF)
        msg_report(288);
    // an object of a block has its size where it is declared; one of the
    // file may get it from a later struct body (checked at the end of the unit)
    if (!is_func && context == DC_BLOCK && cls != K_TYPEDEF && cls != K_EXTERN)
        type_check_complete(t);
    if (!is_func && qual_role.using_ && decl_any_level_has(t, qual_role.using_))
        msg_report(1277);
    sym_t *s = sym_declare(name, cls, t, nullptr);
    if (ds.reg)
        s->flags |= F_REGISTER;
    if (lex_attr_address >= 0) {
        // the address argument of an attribute places the first declarator
        if ((s->flags & F_ABSOLUTE) && s->address != lex_attr_address)
            msg_report(1098, s->name.c_str(), s->decl_file.c_str(), s->decl_line);
        s->address = lex_attr_address;
        s->flags |= F_ABSOLUTE;
        lex_attr_address = -1;
    }
    // Defining is set by sym_define, which also has a declared-only record
    // written again as a definition.
    bool defining = ds.defining && !(is_func && cls != K_TYPEDEF);
    if (cls == K_STATIC && sym_level > 0 && !is_func)
        s->flags |= F_NUMBERED;
    if (opt.const_static && cls == K_AUTO && !is_func && !type_is_ptr(t) && decl_is_const(t)) {
        s->cls = K_STATIC;
        s->flags |= F_NUMBERED;
    }
    if (is_func) {
        decl_function_suffix_words(s, s->type);
        if (lex_next() == O_AT) {
            decl_placement(s);
        } else {
            lex_unget();
        }
        int c = lex_next();
        lex_unget();
        if (c != O_ARG && c != T_SEMI && cls != K_TYPEDEF && context == DC_FILE &&
            decl_is_definition_start(c)) {
            if (!type_is_func(s->type))
                s->type = t; // an earlier declaration conflicted (reported): read the body as declared here
            decl_function_def(s, params, old_style);
            return false;
        }
        if (old_style && !params.empty())
            msg_report(313);
        if (cls != K_EXTERN)
            ic_var(s, nullptr);
        return true;
    }
    if (lex_abs_address >= 0 && !(s->flags & F_ABSOLUTE)) {
        // #pragma abs_address: objects follow one another from the address
        s->address = lex_abs_address;
        s->flags |= F_ABSOLUTE;
        lex_abs_address += type_size(t);
    }
    // for a special function register "= address" places it as "@" does
    int at = lex_next();
    if (at == O_AT || (at == O_ASSIGN && qual_role.sfr && (type_quals(t) & qual_role.sfr)))
        decl_placement(s);
    else
        lex_unget();
    if (lex_next() != O_ASSIGN) {
        lex_unget();
        if (t->kind == TY_ARRAY && !t->dim && !t->count && defining &&
            context != DC_PARAM && cls != K_TYPEDEF)
            msg_report(283);
        if (defining)
            sym_define(s);
        if ((s->flags & F_DEFINING) || cls != K_EXTERN)
            ic_var(s, nullptr);
        return true;
    }
    if (cls == K_EXTERN && !defining)
        msg_report(339);
    if (cls == K_TYPEDEF)
        msg_report(238);
    if (s->flags & F_INITIALISED)
        msg_report(1098, s->name.c_str(), s->decl_file.c_str(), s->decl_line);
    sym_define(s);
    s->flags |= F_INITIALISED;
    if (qual_role.persistent && (type_quals(t) & qual_role.persistent)) {
        msg_report(1081, s->name.c_str());
        lex_skip_statement();
        return true;
    }
    // a const auto made static by -R is initialised as a static object
    if (s->cls == K_AUTO || s->cls == K_REGISTER)
        init_auto(s);
    else
        init_static(s);
    return true;
}

static void decl_declaration(int context)
{
    lex_attr_address = -1;
    decl_spec_t ds = type_specifiers(context);
    if (lex_next() == T_SEMI) {
        type_t *u = type_unfold(ds.type);
        if (u && u->tag && sym_level > 0)
            ic_tag(u->tag, nullptr);
        return;
    }
    lex_unget();
    for (;;) {
        if (!decl_one(ds, context))
            return;
        int c = lex_next();
        if (c == O_ARG)
            continue;
        if (c == T_SEMI)
            return;
        if (c == O_IDENT || c == O_MUL) {
            msg_report(372);
            lex_unget();
            continue;
        }
        msg_report(314);
        lex_unget();
        lex_skip_statement();
        if (lex_next() != T_SEMI)
            lex_unget();
        return;
    }
}

bool decl_local()
{
    decl_declaration(DC_BLOCK);
    return true;
}

// asm("text"); as a statement or at file level.
void decl_asm_statement()
{
    if (lex_next() != O_LPAREN) {
        msg_report(317);
        lex_unget();
        lex_skip_statement();
        return;
    }
    if (lex_next() != O_STRING) {
        msg_report(318);
        lex_unget();
        lex_skip_statement();
        return;
    }
    std::string text = tok.text;
    if (lex_next() != O_RPAREN) {
        msg_report(194);
        lex_unget();
    }
    ic_asm(text.c_str());
    if (lex_next() != T_SEMI) {
        msg_report(314);
        lex_unget();
    }
}

void decl_unit()
{
    for (;;) {
        int c = lex_next();
        if (c == T_EOF)
            break;
        if (c == T_SEMI)
            continue;
        if (c == K_ASM) {
            decl_asm_statement();
            continue;
        }
        if (c == T_RBRACE) {
            msg_report(195);
            continue;
        }
        lex_unget();
        decl_declaration(DC_FILE);
        tree_collect();
    }
}

// ---------------------------------------------------------------------------
// function definitions
// ---------------------------------------------------------------------------
// Old-style parameter declarations between the declarator and the body.
static void decl_old_params(std::vector<sym_t *> &params)
{
    std::vector<sym_t *> declared; // parameters the list has given a type
    for (;;) {
        int c = lex_next();
        lex_unget();
        if (c == T_LBRACE || c == T_EOF ||
            (!type_is_decl_start() && !(c == O_IDENT && type_two_names())))
            return;
        decl_spec_t ds = type_specifiers(DC_PARAM);
        if (ds.cls != C_PARAM)
            msg_report(257);
        for (;;) {
            sym_t *name = nullptr;
            type_t *t = type_declarator(ds.type, &name, DC_PARAM, nullptr, nullptr);
            sym_t *p = nullptr;
            for (sym_t *k : params)
                if (name && k->name == name->name)
                    p = k;
            bool again = p && std::find(declared.begin(), declared.end(), p) != declared.end();
            if (!p) {
                msg_report(291, name ? name->name.c_str() : "");
            } else if (again) {
                msg_report(278, p->name.c_str());
            } else {
                declared.push_back(p);
                if (type_base_code(t) == B_FLOAT && t->kind == TY_BASE) {
                    msg_report(352);
                    t = type_base(B_DOUBLE);
                }
                p->type = t;
                if (ds.reg)
                    p->flags |= F_REGISTER;
            }
            if (lex_next() != O_ARG)
                break;
        }
        if (tok.code != T_SEMI) {
            msg_report(314);
            lex_unget();
            lex_skip_statement();
            lex_next();
        }
    }
}

static void decl_params(sym_t *fn, std::vector<sym_t *> &params, bool old_style)
{
    type_t *ft = type_unfold(fn->type);
    bool proto = ft->proto && !old_style;
    bool varargs = proto && ft->proto->varargs();
    std::vector<sym_t *> declared;
    for (size_t i = 0; i < params.size(); i++) {
        sym_t *p = params[i];
        if (p->name.empty()) {
            msg_report(285);
            continue;
        }
        type_t *t = p->type;
        type_check_complete(t);
        if (t->kind == TY_ARRAY) {
            if (t->count > 1)
                msg_report(368, p->name.c_str());
            t = type_ptr(t->sub);
        }
        sym_t *s = sym_declare(sym_find_or_enter(p->name), C_PARAM, t, nullptr);
        s->flags |= p->flags & F_REGISTER;
        if (proto && fn->name != "main") {
            s->flags |= F_PROTOPARAM;
            s->position = varargs && i + 1 == params.size() ? 0 : (int)i + 1;
        } else if (proto) {
            s->flags |= F_PROTOPARAM;
            s->position = (int)i + 1;
        }
        sym_define(s);
        declared.push_back(s);
    }
    // an old-style definition against an earlier prototype
    if (old_style && ft->proto && !ft->proto->is_void()) {
        size_t fixed = ft->proto->entries.size() - (ft->proto->varargs() ? 1 : 0);
        if (fixed != declared.size())
            msg_report(253);
        for (size_t i = 0; i < fixed && i < declared.size(); i++)
            if (!type_compatible(ft->proto->entries[i], declared[i]->type, true)) {
                msg_report(252, (int)i + 1);
                type_explain(ft->proto->entries[i], declared[i]->type);
            }
    }
    sym_write_proto_line(fn, declared, old_style);
    for (sym_t *s : declared)
        ic_var(s, out_body);
}

static void decl_function_def(sym_t *s, std::vector<sym_t *> &params, bool old_style)
{
    type_t *ft = type_unfold(s->type);
    int rb = type_base_code(ft->sub);
    if ((rb == B_STRUCT || rb == B_UNION) && !type_is_ptr(ft->sub)) {
        sym_t *tag = type_unfold(ft->sub)->tag;
        if (!tag || !tag->defined_tag)
            msg_report(198, tag ? tag->name.c_str() : "");
    }
    if (sym_define(s))
        msg_report(1098, s->name.c_str(), s->decl_file.c_str(), s->decl_line);
    ic_var(s, out_body);
    decl_function = s;
    if (opt.main_exit && s->name == "main" && s->cls == K_EXTERN)
        ic_pragma(out_body, "mainexit");
    sym_enter_block(true);
    ic_marker(out_body);
    fprintf(out_body, "[e :U %s ]\n", ic_name(s).c_str());
    if (old_style)
        decl_old_params(params);
    decl_params(s, params, old_style);
    if (lex_next() != T_LBRACE) {
        msg_report(315);
        lex_unget();
        lex_skip_statement();
        sym_leave_block(true);
        decl_function = nullptr;
        return;
    }
    stmt_function_body(s);
    decl_function = nullptr;
}
