// declarator: declaration specifiers, declarators and the bodies of
// struct, union and enum specifiers.
//
// A declarator is read outside in: pointer levels first, then the direct
// part (a name, or a parenthesised inner declarator read against a
// placeholder level), then the suffixes, which apply right to left. The
// placeholder is filled with the suffixed type afterwards, so
// "int (*fp)(void)" becomes pointer -> function -> int.
#include "plover.h"

// Keyword counts and words seen while reading specifiers.
struct spec_words_t {
    int type_kw;      // char, int, float, double, void, bit, sfr, sfr16 (0 none)
    int shorts, longs;
    int sign;         // 1 signed, 2 unsigned
    type_t *named;    // struct, union, enum or typedef type
    uint32_t qual;
};

static type_t *type_struct_specifier(int kw);
static type_t *type_enum_specifier();

bool type_is_decl_start()
{
    switch (tok.code) {
    case T_CLASS: case O_TYPE: case T_QUAL: case O_ATTR:
        return true;
    case O_IDENT:
        return tok.sym && tok.sym->cls == K_TYPEDEF;
    default:
        return false;
    }
}

static void type_spec_class(decl_spec_t &ds, int kw, int context)
{
    if (context == DC_MEMBER || context == DC_TYPENAME) {
        msg_report(266);
        return;
    }
    if (kw == K_AUTO && context == DC_FILE)
        msg_report(267);
    if (kw == K_REGISTER) {
        if (context != DC_BLOCK && context != DC_PARAM)
            msg_report(270);
        if (ds.reg)
            msg_report(268);
        ds.reg = true;
        return;
    }
    // one storage class to a declaration: another, or the same again, is 268
    if (ds.cls)
        msg_report(268);
    ds.cls = kw;
    if (kw == K_AUTO || kw == K_STATIC || kw == K_TYPEDEF)
        ds.defining = true;
}

static void type_spec_keyword(spec_words_t &w, int kw)
{
    switch (kw) {
    case K_SHORT:
        w.shorts++;
        return;
    case K_LONG:
        w.longs++;
        return;
    case K_SIGNED:
    case K_UNSIGNED: {
        int s = kw == K_SIGNED ? 1 : 2;
        if (w.sign && w.sign != s)
            msg_report(273);
        w.sign = s;
        return;
    }
    case K_STRUCT:
    case K_UNION:
    case K_ENUM:
        if (w.type_kw || w.named)
            msg_report(269);
        w.named = kw == K_ENUM ? type_enum_specifier() : type_struct_specifier(kw);
        return;
    default:
        if (w.type_kw || w.named)
            msg_report(269);
        w.type_kw = kw;
        return;
    }
}

// The base type from the keywords read.
static type_t *type_spec_build(spec_words_t &w)
{
    if (w.named) {
        if (w.shorts || w.longs || w.sign)
        {
            if (w.sign)
                msg_report(274);
            else if (w.longs)
                msg_report(271);
            else
                msg_report(272);
        }
        type_t *t = type_copy(w.named);
        t->qual |= w.qual;
        return t;
    }
    int base = B_INT;
    uint32_t extra = 0;
    switch (w.type_kw) {
    case K_CHAR: base = B_CHAR; break;
    case K_FLOAT: base = B_FLOAT; break;
    case K_DOUBLE: base = B_DOUBLE; break;
    case K_VOID: base = B_VOID; break;
    case K_BIT: base = B_BIT; break;
    case K_SFR: base = B_CHAR + 1; extra = qual_role.sfr; break;
    case K_SFR16: base = B_INT + 1; extra = qual_role.sfr; break;
    default: break;
    }
    if (w.longs) {
        if (w.type_kw == K_FLOAT && !opt.strict) {
            base = B_DOUBLE;
        } else if (w.type_kw && w.type_kw != K_DOUBLE && w.type_kw != K_INT) {
            msg_report(271);
        } else if (w.shorts) {
            if (!opt.short_long)
                msg_report(269);
            base = B_SHORTLONG;
        } else if (w.type_kw != K_DOUBLE) {
            base = w.longs >= 2 && opt.long_long ? B_LLONG : B_LONG;
        }
    } else if (w.shorts) {
        if (w.type_kw && w.type_kw != K_INT)
            msg_report(272);
        else
            base = B_SHORT;
    }
    if (w.sign == 2) {
        if (base >= B_FLOAT || base == B_BIT || w.type_kw == K_SFR || w.type_kw == K_SFR16)
            msg_report(274);
        else
            base |= 1;
    } else if (base == B_CHAR && w.sign == 0 && opt.unsigned_char) {
        base |= 1;
    }
    type_t *t = type_base(base);
    t->qual = w.qual | extra;
    return t;
}

// "name name" where a type is wanted: the first name is meant as a type
// that nobody declared; it is read as int.
static void type_spec_unknown_name(decl_spec_t &ds)
{
    if (lex_next() != O_IDENT || (tok.sym && tok.sym->cls == K_TYPEDEF)) {
        lex_unget();
        return;
    }
    token_t first = tok;
    if (lex_next() == O_IDENT) {
        lex_unget();
        msg_report(370);
        ds.any = true;
        return;
    }
    lex_unget();
    tok = first;
    lex_unget();
}

decl_spec_t type_specifiers(int context)
{
    decl_spec_t ds{};
    spec_words_t w{};
    bool any_type = false;
    for (;;) {
        int c = lex_next();
        if (c == T_CLASS) {
            type_spec_class(ds, (int)tok.value, context);
        } else if (c == O_TYPE) {
            type_spec_keyword(w, (int)tok.value);
            any_type = true;
        } else if (c == T_QUAL) {
            if (w.qual & (uint32_t)tok.value)
                msg_report(258);
            w.qual |= (uint32_t)tok.value;
            if (qual_role.far_ && qual_role.near_ && (w.qual & qual_role.far_) &&
                (w.qual & qual_role.near_))
                msg_report(259);
        } else if (c == O_ATTR) {
            ds.attr_qual |= (uint32_t)tok.value;
            w.qual |= (uint32_t)tok.value;
        } else if (c == O_IDENT && !any_type && tok.sym && tok.sym->cls == K_TYPEDEF) {
            tok.sym->flags |= F_USED;
            w.named = type_base(B_TYPEDEF);
            w.named->tag = tok.sym;
            any_type = true;
        } else {
            lex_unget();
            break;
        }
        ds.any = true;
    }
    if (!any_type)
        type_spec_unknown_name(ds);
    if (!ds.any && context != DC_PARAM && context != DC_TYPENAME)
        msg_report(371);
    ds.type = type_spec_build(w);
    if (!ds.cls) {
        if (context == DC_FILE) {
            ds.cls = K_EXTERN;
            ds.defining = true;
        } else if (context == DC_BLOCK) {
            ds.cls = K_AUTO;
            ds.defining = true;
        } else if (context == DC_PARAM) {
            ds.cls = C_PARAM;
        }
    }
    return ds;
}

// ---------------------------------------------------------------------------
// declarators
// ---------------------------------------------------------------------------
struct suffix_t {
    int kind;                  // TY_ARRAY or TY_FUNC
    tree_t *dim;
    uint32_t count;
    proto_t *proto;
    bool old_style;
    std::vector<sym_t *> params;
};

static void type_array_suffix(suffix_t &s)
{
    s.kind = TY_ARRAY;
    if (lex_next() == O_RBRACK)
        return;
    lex_unget();
    int64_t v = 0;
    bool known = false;
    tree_t *e = expr_constant(EC_STMT, &v, &known);
    if (e && !type_is_integer(e->type)) {
        msg_report(189);
        e = nullptr;
    }
    if (e) {
        if (known && v < 1) {
            msg_report(284);
            v = 1;
        }
        s.dim = expr_convert(e, type_base(B_INDEX + 1));
        s.count = known ? (uint32_t)v : 0;
    }
    if (lex_next() != O_RBRACK) {
        msg_report(310);
        lex_unget();
    }
}

// A parameter's type as a function sees it: arrays become pointers.
static type_t *type_param_adjust(type_t *t, sym_t *name)
{
    type_t *u = type_unfold(t);
    if (u && u->kind == TY_FUNC) {
        msg_report(292);
        return type_ptr(t);
    }
    if (t->kind == TY_ARRAY) {
        if (t->count > 1 && name)
            msg_report(368, name->name.c_str());
        type_t *p = type_ptr(t->sub);
        p->qual = t->qual;
        return p;
    }
    return t;
}

// True when the next two tokens are names ("type name" with a type that
// nobody declared); both stay to be read.
bool type_two_names()
{
    lex_next();
    token_t first = tok;
    bool two = lex_next() == O_IDENT;
    lex_unget();
    tok = first;
    lex_unget();
    return two;
}

static void type_func_suffix(suffix_t &s)
{
    s.kind = TY_FUNC;
    int c = lex_next();
    if (c == O_RPAREN)
        return;
    lex_unget();
    if (c == O_IDENT && !(tok.sym && tok.sym->cls == K_TYPEDEF) && !type_two_names()) {
        // old-style list of names
        s.old_style = true;
        for (;;) {
            c = lex_next();
            if (c == T_ELLIPSIS) {
                msg_report(275);
            } else if (c == O_IDENT) {
                for (sym_t *p : s.params)
                    if (p->name == tok.text)
                        msg_report(278, tok.text.c_str());
                sym_t *p = sym_new("", sym_level);
                p->name = tok.text;
                p->type = type_base(B_INT);
                p->cls = C_PARAM;
                s.params.push_back(p);
            } else {
                if (type_is_decl_start())
                    msg_report(277);
                lex_unget();
                break;
            }
            if (lex_next() != O_ARG) {
                lex_unget();
                break;
            }
        }
    } else {
        s.proto = new proto_t;
        for (;;) {
            c = lex_next();
            if (c == T_ELLIPSIS) {
                s.proto->entries.push_back(type_base(B_VARARGS));
                break;
            }
            lex_unget();
            bool unknown_type = c == O_IDENT && type_two_names();
            if (c == O_IDENT && !(tok.sym && tok.sym->cls == K_TYPEDEF) && !unknown_type) {
                msg_report(277);
                lex_next();
            } else if (!unknown_type && !type_is_decl_start()) {
                msg_report(276);
                break;
            }
            decl_spec_t ds = type_specifiers(DC_PARAM);
            if (ds.cls != C_PARAM)
                msg_report(257);
            sym_t *name = nullptr;
            type_t *t = type_declarator(ds.type, &name, DC_PARAM, nullptr, nullptr);
            t = type_param_adjust(t, name);
            if (lex_next() == O_ASSIGN) {
                // a parameter takes its value from the call: read the
                // initialiser to go on after it
                msg_report(279);
                expr_parse(EC_INIT);
            } else {
                lex_unget();
            }
            s.proto->entries.push_back(t);
            if (name) {
                for (sym_t *p : s.proto->params)
                    if (p->name == name->name)
                        msg_report(278, name->name.c_str());
                sym_t *p = sym_new("", sym_level);
                p->name = name->name;
                p->type = t;
                p->cls = C_PARAM;
                if (ds.reg)
                    p->flags |= F_REGISTER;
                p->position = (int)s.proto->entries.size();
                s.proto->params.push_back(p);
            } else if (!(t->kind == TY_BASE && t->base == B_VOID)) {
                sym_t *p = sym_new("", sym_level);
                p->type = t;
                p->cls = C_PARAM;
                p->position = (int)s.proto->entries.size();
                s.proto->params.push_back(p);
            }
            if (lex_next() != O_ARG) {
                lex_unget();
                break;
            }
        }
        s.params = s.proto->params;
    }
    if (lex_next() != O_RPAREN) {
        msg_report(194);
        lex_unget();
    }
}

static type_t *type_apply_suffix(const suffix_t &s, type_t *t)
{
    type_t *u = type_unfold(t);
    type_t *n = type_new(s.kind);
    n->sub = t;
    if (s.kind == TY_ARRAY) {
        if (u->kind == TY_FUNC)
            msg_report(280);
        if (u->kind == TY_BASE && u->base == B_BIT)
            msg_report(287);
        if (u->kind == TY_BASE && u->base == B_VOID)
            msg_report(288);
        n->dim = s.dim;
        n->count = s.count;
    } else {
        if (u->kind == TY_FUNC)
            msg_report(281);
        if (u->kind == TY_ARRAY)
            msg_report(282);
        n->proto = s.proto;
    }
    return n;
}

static type_t *type_declarator_at(type_t *base, sym_t **name, int context,
                                  std::vector<sym_t *> *params, bool *old_style);

// Declarators nest through parentheses and parameter lists; the nesting is
// counted here (295 beyond the bound).
type_t *type_declarator(type_t *base, sym_t **name, int context, std::vector<sym_t *> *params,
                        bool *old_style)
{
    static int nesting; // declarators open around this one
    if (++nesting > DECLARATOR_MAX_DEPTH)
        msg_report(295);
    type_t *t = type_declarator_at(base, name, context, params, old_style);
    nesting--;
    return t;
}

static type_t *type_declarator_at(type_t *base, sym_t **name, int context,
                                  std::vector<sym_t *> *params, bool *old_style)
{
    int levels = 0;
    while (lex_next() == O_MUL) {
        if (++levels > 16)
            msg_report(256);
        type_t *u = type_unfold(base);
        if (u && u->kind == TY_BASE && u->base == B_BIT)
            msg_report(287);
        base = type_ptr(base);
        while (lex_next() == T_QUAL)
            base->qual |= (uint32_t)tok.value;
        lex_unget();
    }
    lex_unget();
    type_t *placeholder = nullptr, *inner = nullptr;
    int c = lex_next();
    if (c == O_LPAREN) {
        token_t paren = tok;
        int d = lex_next();
        bool nested = d == O_MUL || d == O_LPAREN || d == O_LBRACK ||
                      (d == O_IDENT && !(tok.sym && tok.sym->cls == K_TYPEDEF) &&
                       context != DC_TYPENAME && context != DC_PARAM);
        lex_unget();
        tok = paren;
        if (nested) {
            placeholder = type_new(TY_BASE);
            inner = type_declarator(placeholder, name, context, params, old_style);
            if (lex_next() != O_RPAREN) {
                msg_report(194);
                lex_unget();
            }
        } else {
            lex_unget();
        }
    } else if (c == O_IDENT) {
        *name = tok.sym ? tok.sym : sym_find_or_enter(tok.text);
    } else {
        lex_unget();
    }
    bool own_name = !placeholder && *name;
    std::vector<suffix_t> suffixes;
    for (;;) {
        c = lex_next();
        if (c == O_LBRACK) {
            suffixes.emplace_back();
            type_array_suffix(suffixes.back());
        } else if (c == O_LPAREN) {
            suffixes.emplace_back();
            type_func_suffix(suffixes.back());
            if (own_name && suffixes.size() == 1 && params) {
                *params = suffixes.back().params;
                *old_style = suffixes.back().old_style;
            }
        } else {
            lex_unget();
            break;
        }
    }
    type_t *t = base;
    for (size_t i = suffixes.size(); i-- > 0;)
        t = type_apply_suffix(suffixes[i], t);
    if (placeholder) {
        *placeholder = *t;
        return inner;
    }
    return t;
}

type_t *type_name()
{
    decl_spec_t ds = type_specifiers(DC_TYPENAME);
    sym_t *name = nullptr;
    return type_declarator(ds.type, &name, DC_TYPENAME, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// struct, union and enum specifiers
// ---------------------------------------------------------------------------
// The tag named by the current identifier token, or a new one; reports a
// tag of the other kind.
static sym_t *type_tag(int cls, bool defining)
{
    sym_lookup_kind = LK_TAG;
    sym_t *s = sym_find(tok.text);
    sym_lookup_kind = LK_ORDINARY;
    if (s && s->cls == C_NONE)
        s = nullptr;
    if (s && defining && s->level != sym_level)
        s = nullptr;
    if (s && s->cls != cls) {
        if (s->cls == C_STRUCT)
            msg_report(979);
        else if (s->cls == C_UNION)
            msg_report(980);
        else
            msg_report(269);
        s = nullptr;
    }
    if (!s) {
        if (cls == C_ENUM && !defining)
            msg_report(260, tok.text.c_str());
        s = sym_new(tok.text, sym_level);
        s = sym_declare(s, cls, nullptr, nullptr);
    }
    return s;
}

// Checks a bit-field's type and width and gives the type it is stored as.
static type_t *type_bitfield(type_t *t, int64_t width, const std::string &name)
{
    int b = type_base_code(t);
    if (b != 0 && !(b & 1) && b <= B_LLONG) {
        msg_report(369);
        b |= 1;
    }
    int stored = b;
    if (opt.bitfield_count == 0) {
        if (b != B_INT + 1)
            msg_report(264);
        stored = B_INT + 1;
    } else if (opt.bitfield_count == 1) {
        if (b != B_INT + 1 && b != B_CHAR + 1)
            msg_report(264);
        stored = B_CHAR + 1;
    } else {
        if (width <= 8 && (b == B_INT + 1 || b == B_CHAR + 1))
            stored = B_CHAR + 1;
        else if (b != B_INT + 1)
            msg_report(264);
        else
            stored = B_INT + 1;
    }
    uint32_t limit = 8 * type_size(type_base(b == B_CHAR + 1 ? B_CHAR : B_INT));
    if (width < 0 || (width == 0 && !name.empty()) || width > (int64_t)limit)
        msg_report(1361, (int)width);
    type_t *r = type_base(stored);
    r->qual = type_quals(t);
    return r;
}

static void type_member(sym_t *tag, sym_t **last, const decl_spec_t &ds)
{
    sym_t *name = nullptr;
    type_t *t = ds.type;
    if (lex_peek() != O_COLON)
        t = type_declarator(ds.type, &name, DC_MEMBER, nullptr, nullptr);
    std::string n = name ? name->name : std::string();
    if (type_is_func(t))
        msg_report(263);
    // a member needs its size: no undefined struct, no array without a dimension
    type_t *u = type_unfold(t);
    if (u && u->kind == TY_ARRAY && !u->dim && !u->count)
        msg_report(283);
    else
        type_check_complete(t);
    int width = -1;
    if (lex_next() == O_COLON) {
        int64_t v = 0;
        bool known = false;
        // the width ends at a comma, which starts the next member
        tree_t *e = expr_constant(EC_INIT, &v, &known);
        if (!e || !known || !type_is_integer(e->type))
            msg_report(265);
        t = type_bitfield(t, v, n);
        width = (int)v;
    } else {
        lex_unget();
    }
    if (!n.empty() && sym_member(tag, n))
        msg_report(261, n.c_str());
    sym_t *m = sym_new("", sym_level);
    m->name = n;
    m = sym_declare(m, C_MEMBER, t, tag);
    m->bit_width = width;
    if (width >= 0)
        m->flags |= F_BITFIELD;
    m->position = 0;
    *last = m;
}

static void type_members(sym_t *tag)
{
    sym_t **tail = &tag->members;
    for (;;) {
        int c = lex_next();
        if (c == T_RBRACE || c == T_EOF) {
            if (c == T_EOF)
                msg_report(300);
            else if (!tag->members)
                msg_report(1532);
            break;
        }
        lex_unget();
        decl_spec_t ds = type_specifiers(DC_MEMBER);
        for (;;) {
            sym_t *m = nullptr;
            type_member(tag, &m, ds);
            *tail = m;
            tail = &m->next_member;
            c = lex_next();
            if (c == O_ARG)
                continue;
            if (c != T_SEMI) {
                msg_report(314);
                lex_unget();
                lex_skip_statement();
                if (lex_next() != T_SEMI)
                    lex_unget();
            }
            break;
        }
    }
    tag->defined_tag = true;
}

// The tag part of a struct, union or enum specifier: a name and/or "{";
// *c is left holding the token after the name ("{" when a body follows).
static sym_t *type_tag_head(int cls, int *c)
{
    sym_t *tag;
    *c = lex_next();
    if (*c == O_IDENT) {
        bool defining = lex_peek() == T_LBRACE;
        tag = type_tag(cls, defining);
        if (defining && tag->defined_tag) {
            if (cls == C_ENUM)
                msg_report(1348, tag->name.c_str(), tag->decl_file.c_str(), tag->decl_line);
            else
                msg_report(262, tag->name.c_str());
        }
        *c = lex_next();
    } else if (*c == T_LBRACE) {
        tag = sym_declare(sym_new("", sym_level), cls, nullptr, nullptr);
    } else {
        msg_report(323);
        lex_unget();
        return nullptr;
    }
    return tag;
}

// A member may define a structure in turn; the definitions open around this
// one are counted (1550 beyond the bound), as the reader recurses on each.
static type_t *type_struct_specifier(int kw)
{
    static int nesting; // structure and union definitions open around this one
    int cls = kw == K_STRUCT ? C_STRUCT : C_UNION;
    int c;
    sym_t *tag = type_tag_head(cls, &c);
    if (!tag)
        return type_base(B_INT);
    if (c == T_LBRACE) {
        if (++nesting > STRUCT_MAX_DEPTH)
            msg_report(1550, STRUCT_MAX_DEPTH);
        tag->members = nullptr;
        type_members(tag);
        nesting--;
    } else {
        lex_unget();
    }
    type_t *t = type_base(kw == K_STRUCT ? B_STRUCT : B_UNION);
    t->tag = tag;
    return t;
}

static type_t *type_enum_specifier()
{
    int c;
    sym_t *tag = type_tag_head(C_ENUM, &c);
    if (!tag)
        return type_base(B_INT);
    type_t *t = type_base(B_ENUM);
    t->tag = tag;
    if (c != T_LBRACE) {
        lex_unget();
        return t;
    }
    int64_t value = 0;
    sym_t **tail = &tag->members;
    for (;;) {
        if (lex_next() != O_IDENT) {
            lex_unget();
            break;
        }
        sym_t *e = sym_declare(tok.sym, C_ENUMCONST, t, tag);
        if (lex_next() == O_ASSIGN) {
            int64_t v = 0;
            bool known = false;
            expr_constant(EC_INIT, &v, &known);
            if (!known)
                msg_report(991);
            else
                value = v;
        } else {
            lex_unget();
        }
        e->address = (int32_t)value;
        value = (int32_t)(value + 1);
        *tail = e;
        tail = &e->next_member;
        if (lex_next() != O_ARG) {
            lex_unget();
            break;
        }
    }
    if (lex_next() != T_RBRACE) {
        msg_report(316);
        lex_unget();
    }
    tag->defined_tag = true;
    return t;
}
