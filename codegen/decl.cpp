// Declaration records of the intermediate code: "[v" (variables, functions,
// type names), "[s"/"[u" (structure and union layouts), "[c" (enumeration
// values) and "[n" (their names), with the naming rules that keep assembler
// names of all inputs and all blocks apart.
//
// "[v name type count storage [source] ]": the count says array or not and
// whether the record defines the symbol (0: declared only); the storage word
// holds the class letter, a parameter position or a function's register and
// varargs marks, an absolute address, and a prototype's parameter types. A
// second record of a name at the same level is checked against the first and
// merged into it.
#include "kestrel.h"
#include "select.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

static const int TOKEN_SIZE = 511;
void statement_to_function(tree_node *t);

// Tags of equal layout across inputs, by source name.
static hash_t *alias_table;

func_info *new_func(cg_symbol *s)
{
    func_info *f = (func_info *)xmalloc(sizeof(func_info));
    f->sym = s;
    f->trees = vec_new(16);
    f->level = scope_level;
    f->reads_tables = false;
    f->jump_return = false;
    s->func = f;
    return f;
}

// Reads a count expression and folds it to a constant; false when it is not one.
static bool read_count(long *value, bool *is_array)
{
    tree_node *t = tree_simplify(ic_read_expr());
    if (!t || t->op != OP_CONST) {
        tree_free(t);
        return false;
    }
    type_desc *ct = type_unqualify(t->type);
    bool dim_type = ct && ct->kind == TY_BASIC && (!strcmp(ct->name, "x") || !strcmp(ct->name, "ux"));
    *value = t->value;
    *is_array = dim_type || t->value > 1;
    tree_free(t);
    return true;
}

static type_desc *array_of(type_desc *t, long count)
{
    type_desc *a = type_derive(t, TY_ARRAY);
    type_unqualify(a)->count = (uint32_t)(count > 0 ? count : 0);
    return a;
}

// Parameter symbols "%s$%u" of a prototype, owned by the symbol.
static void make_proto_params(cg_symbol *owner, type_desc *fn)
{
    owner->params = vec_new(4);
    for (uint32_t i = 0; fn->params && i < vec_count(fn->params); i++) {
        std::string name = str_printf("%s$%u", owner->name, i + 1);
        cg_symbol *p = sym_new(name.c_str());
        p->cls = 'F';
        p->storage = ST_PARAM;
        p->type = (type_desc *)vec_get(fn->params, i);
        p->owner = owner;
        p->flags |= SF_ARG | SF_PROTO_PARAM;
        vec_push(owner->params, p);
    }
}

uint32_t func_layout_params(cg_symbol *f)
{
    // only W carries a parameter (the first, when it fits): the generated
    // code keeps no variable in the 12-bit cores' temporary registers
    uint32_t offset = 0;
    for (uint32_t i = 0; f->params && i < vec_count(f->params); i++) {
        cg_symbol *p = (cg_symbol *)vec_get(f->params, i);
        // a definition without a prototype receives its arguments promoted:
        // a char or short parameter is the low end of an int's slot (the
        // caller writes an int), and never arrives in W
        bool unprototyped = !(p->flags & SF_PROTO_PARAM) && p->owner && sym_is_function(p->owner);
        uint32_t size = type_size(p->type);
        if (unprototyped && type_is_integer(p->type) && size < type_size(basic_type_named("i")))
            size = type_size(basic_type_named("i"));
        if (i == 0 && !unprototyped && first_param_in_w(p, 0)) {
            p->flags |= SF_INREG;
            p->reg = REG_WREG;
            continue;
        }
        uint32_t mask = type_align_mask(p->type);
        offset = (offset + mask) & ~mask;
        p->frame_offset = (int16_t)offset;
        offset += size;
    }
    return offset;
}

// Step 3: the class letter of the storage word.
static bool storage_class(cg_symbol *s, const char **word)
{
    char c = (char)toupper((unsigned char)**word);
    (*word)++;
    switch (c) {
    case 'A':
        s->storage = ST_AUTO;
        break;
    case 'E':
        s->storage = ST_EXTERN;
        s->level = 0;
        return true;
    case 'P':
    case 'R':
        s->storage = ST_PARAM;
        s->flags |= SF_ARG | (c == 'R' ? SF_PROTO_PARAM : 0);
        s->count = (uint8_t)strtoul(*word, (char **)word, 10);
        break;
    case 'S':
        s->storage = ST_STATIC;
        return true;
    case 'T':
        s->cls = 'N';
        s->storage = ST_TYPEDEF;
        return true;
    default:
        cg_fatal(267);
    }
    s->owner = current_function;
    if (current_function)
        s->flags |= current_function->flags & SF_REENTRANT;
    return true;
}

// Steps 4 and 5: the rest of the storage word.
static void storage_rest(cg_symbol *s, const char *p)
{
    type_desc *t = type_unqualify(s->type);
    if (t->kind == TY_FUNCTION) {
        if (!(type_qualifiers(s->type) & Q_INTERRUPT) && intlevel_mask > 1)
            s->int_levels |= intlevel_mask & ~1u;
        sym_asm_name(s);
        if (type_qualifiers(s->type) & Q_INTERRUPT) {
            // an interrupt function runs at one level, 1 unless a pragma
            // names another (these chips have one interrupt: level 1)
            uint32_t levels = (intlevel_mask == 1 ? 2u : intlevel_mask) & ~1u;
            const char *name = sym_asm_name(s);
            if (levels & (levels - 1))
                msg_report(692, name);
            else if (levels > 1u << 4)
                msg_report(1179, name, 4);
        }
        if (*p == 'f') {
            s->flags |= SF_ARG;
            p++;
        }
        s->count = (uint8_t)strtoul(p, (char **)&p, 10);
        if (*p == 'v') {
            s->flags |= SF_VARARGS;
            t->varargs = true;
            p++;
        }
    } else if (t->kind == TY_POINTER && type_is(t->sub, TY_FUNCTION)) {
        sym_asm_name(s);
        make_proto_params(s, type_unqualify(t->sub));
    }
    if (type_qualifiers(s->type) & Q_VOLATILE)
        s->flags |= SF_EXTREF;
    if (*p == '@') {
        s->flags |= SF_ABSOLUTE | SF_EXTREF;
        p++;
        if (!isdigit((unsigned char)*p)) {
            s->address = 0;
            return;
        }
        s->address = strtoul(p, (char **)&p, 10);
    }
    if (t->kind != TY_FUNCTION || *p != '`')
        return;
    std::string rest = p;
    for (size_t at = 0; at < rest.size();) {
        size_t next = rest.find('`', at + 1);
        std::string piece = rest.substr(at, next == std::string::npos ? std::string::npos : next - at);
        vec_push(t->params, type_from_string(piece.c_str()));
        at = next == std::string::npos ? rest.size() : next;
    }
}

// Step 8: enters a symbol, or merges it into the earlier one of its level.
static cg_symbol *enter_symbol(cg_symbol *s)
{
    cg_symbol *old = sym_find(s->key);
    if (!old || old->level != s->level) {
        sym_insert(s);
        return s;
    }
    const uint32_t marks = SF_PROTO_PARAM | SF_VARARGS | SF_ARG;
    bool same = type_equal(type_unqualify(old->type), type_unqualify(s->type)) &&
                (old->flags & marks) == (s->flags & marks) &&
                (!sym_is_function(old) || old->count == s->count);
    if (!same)
        msg_report(1098, s->src_name, old->def_file ? old->def_file : "", old->def_line);
    if (type_is(old->type, TY_ARRAY) && type_size(s->type) > type_size(old->type))
        old->type = s->type;
    return old;
}

// Step 9, names: keeps names of statics, externs and locals apart.
static void name_new_symbol(cg_symbol *s)
{
    cg_symbol *f = current_function;
    if (s->storage == ST_STATIC) {
        if (name_table_find(s->key) && name_table_find(s->key) != s)
            sym_rename(s, str_printf("%s_F%u", s->src_name, s->number).c_str());
        else if (s->key[0] == 'F' && s->level > 1 && f) {
            const char *sep = s->src_name[0] == '_' ? "" : "_";
            sym_rename(s, str_printf("%s%s%s", f->name, sep, s->src_name).c_str());
        }
        name_table_enter(s->key, s);
        if (!sym_is_function(s) && s->level > 1 && f) {
            if (!f->local_statics)
                f->local_statics = vec_new(4);
            vec_push(f->local_statics, s);
        }
        return;
    }
    if (s->storage == ST_EXTERN) {
        cg_symbol *held = name_table_find(s->key);
        if (held && held != s && held->storage == ST_STATIC)
            sym_rename(held, str_printf("%s_F%u", held->src_name, held->number).c_str());
        name_table_enter(s->key, s);
        return;
    }
    if ((s->storage == ST_PARAM || s->storage == ST_AUTO) && f && !(f->flags & SF_REENTRANT)) {
        std::string local = std::string(f->name) + s->name;
        if (name_table_find(local.c_str()))
            local = str_printf("%s_F%u%s", f->name, s->number, s->name);
        name_table_enter(local.c_str(), s);
        sym_rename(s, local.c_str());
    }
}

// Step 9: a symbol entered for the first time.
static void setup_new_symbol(cg_symbol *s, long count)
{
    if (count == 0)
        s->flags |= SF_UNDEF;
    if (sym_is_function(s)) {
        s->autos = vec_new(4);
        if (count == 0) {
            make_proto_params(s, type_unqualify(s->type));
            func_layout_params(s);
        } else {
            s->params = vec_new(4);
        }
    }
    cg_symbol *f = current_function;
    if (s->storage == ST_PARAM && f && f->params)
        vec_push(f->params, s);
    if (s->storage == ST_AUTO && ic_in_rewrite)
        msg_print("Don't declare autos in REWRITEs!");   // refused: the frame is laid out by now
    else if (s->storage == ST_AUTO && f && f->autos)
        vec_push(f->autos, s);
    check_bit_storage(s);
    if (s->storage == ST_EXTERN || s->storage == ST_STATIC)
        vec_push(global_objects, s);
    name_new_symbol(s);
}

// Steps 10 and 11: a record for a known symbol, and the start of a body.
static void update_symbol(cg_symbol *s, cg_symbol *rec, long count, bool is_new)
{
    if (!is_new) {
        if ((rec->flags & SF_ABSOLUTE) && !(s->flags & SF_ABSOLUTE)) {
            s->address = rec->address;
            s->flags |= SF_ABSOLUTE | SF_EXTREF;
        }
        if (count >= 1) {
            s->flags &= ~SF_UNDEF;
            if (sym_is_function(s))
                s->params = vec_new(4);
        }
    }
    if (!sym_is_function(s) || count < 1) {
        s->level_line = rec->level_line;
        return;
    }
    if (s->func)
        msg_report(237, s->src_name);
    s->flags &= ~SF_UNDEF;
    if (reading_library || from_library_indicator)
        s->flags |= SF_LIBFUNC;
    current_function = s;
    s->def_file = cur_file;
    s->def_input = input_number;
    s->def_line = cur_line;
}

// Step 6: a type name.
static void finish_typedef(cg_symbol *s)
{
    ic_expect_close();
    if (name_table_find(s->key))
        sym_rename(s, str_printf("%s_F%u", s->name, s->number).c_str());
    else
        name_table_enter(s->key, s);
    cg_symbol *kept = enter_symbol(s);
    if (kept == s)
        sdb_write_typedef(s);
}

// Step 7: the end of the record, with a static's source name.
static bool finish_record(cg_symbol *s)
{
    char tok[TOKEN_SIZE + 1];
    if (!ic_read_token(tok)) {
        msg_report(714);
        return false;
    }
    if (tok[0] == ']')
        return true;
    if (s->storage != ST_STATIC)
        cg_fatal(722);
    s->src_name = xstrdup(tok);
    ic_expect_close();
    return true;
}

void decl_read_var()
{
    char tok[TOKEN_SIZE + 1];
    if (!ic_read_token(tok))
        return msg_report(714), void();
    cg_symbol *s = sym_new(tok);
    s->cls = 'F';
    if (!ic_read_token(tok))
        return msg_report(714), void();
    s->type = type_from_string(tok);
    long count = 0;
    bool is_array = false;
    if (!read_count(&count, &is_array))
        cg_fatal(721);
    if (is_array)
        s->type = array_of(s->type, count);
    if (!ic_read_token(tok))
        return msg_report(714), void();
    const char *word = tok;
    if (!storage_class(s, &word))
        return;
    if (s->cls == 'N')
        return finish_typedef(s);
    storage_rest(s, word);
    if (s->storage == ST_EXTERN && !sym_is_function(s) && run.ext_refs &&
        hash_lookup(run.ext_refs, s->key))
        s->flags |= SF_EXTREF;
    if (!finish_record(s))
        return;
    cg_symbol *kept = enter_symbol(s);
    if (kept == s)
        setup_new_symbol(s, count);
    update_symbol(kept, s, count, kept == s);
}

// "[s"/"[u": a structure or union layout.
void decl_read_struct(bool is_union)
{
    char tok[TOKEN_SIZE + 1];
    if (!ic_read_token(tok))
        return msg_report(714), void();
    cg_symbol *tag = tag_lookup(tok, 'D');
    sym_rename(tag, str_printf("S%u", tag->number).c_str());
    if (!tag->type || tag->type->kind != TY_STRUCT) {
        tag->type = type_new(TY_STRUCT);
        tag->type->tag = tag;
    }
    type_desc *t = tag->type;
    t->is_union = t->is_union || is_union;
    t->laid_out = false;
    tag->members = vec_new(8);
    while (ic_read_token(tok) && tok[0] != ']') {
        cg_symbol *m = sym_new(str_printf("%s$%u", tag->name, vec_count(tag->members)).c_str());
        m->cls = 'F';
        m->owner = tag;
        if (tok[0] == ':') {
            m->is_bitfield = true;
            m->bit_width = atoi(tok + 1);
            if (!ic_read_token(tok))
                break;
        }
        m->type = type_from_string(tok);
        long count = 0;
        bool is_array = false;
        if (read_count(&count, &is_array) && is_array)
            m->type = array_of(m->type, count);
        if (type_is(m->type, TY_POINTER) && type_is(typeSub(m->type), TY_FUNCTION))
            make_proto_params(m, type_unqualify(typeSub(m->type)));
        vec_push(tag->members, m);
    }
    struct_layout(t);
}

// The width and signedness of a range of values (1 or 2 bytes).
static void value_width(long lo, long hi, uint32_t *size, int *arith)
{
    *arith = lo < 0 ? AR_SIGNED : AR_UNSIGNED;
    if (lo < 0)
        *size = lo >= -128 && hi <= 127 ? 1 : 2;
    else
        *size = hi <= 255 ? 1 : 2;
    if (lo < -32768 || hi > (lo < 0 ? 32767 : 65535))
        msg_report(700);
}

// "[c": an enumeration's values.
void decl_read_enum()
{
    char tok[TOKEN_SIZE + 1];
    if (!ic_read_token(tok))
        return msg_report(714), void();
    cg_symbol *tag = tag_lookup(tok, '>');
    type_desc *t = type_new(TY_ENUM);
    t->tag = tag;
    t->consts = vec_new(8);
    tag->type = t;
    long lo = 32767, hi = -32768;
    for (;;) {
        tree_node *n = ic_read_expr();
        if (!n || n->op == OP_EMPTY) {
            tree_free(n);
            break;
        }
        if (n->op == OP_ASM) {
            statement_to_function(n);
            continue;
        }
        enum_const *c = (enum_const *)xmalloc(sizeof(enum_const));
        c->value = n->op == OP_CONST ? n->value : 0;
        vec_push(t->consts, c);
        lo = c->value < lo ? c->value : lo;
        hi = c->value > hi ? c->value : hi;
        tree_free(n);
    }
    if (lo > hi)
        lo = hi = 0;
    value_width(lo, hi, &t->size, &t->arith);
    static const char *const align_from[] = {"c", "s", "i", "d", "l"};
    t->align = basic_type_named("l")->align;
    for (const char *name : align_from)
        if (basic_type_named(name)->size == t->size) {
            t->align = basic_type_named(name)->align;
            break;
        }
    ic_expect_close();
}

// Structures of equal layout met in several inputs share the first one.
static void note_alias(cg_symbol *tag)
{
    if (!alias_table)
        alias_table = hash_new(100, hash_str_hash, hash_str_compare);
    cg_symbol *first = (cg_symbol *)hash_lookup(alias_table, tag->src_name);
    if (!first) {
        hash_insert(alias_table, xstrdup(tag->src_name), tag);
        return;
    }
    if (first == tag || !type_equal(first->type, tag->type))
        return;
    if (tag->alias)
        msg_print("alias redefined: %s!\n", tag->name);
    tag->alias = first;
}

// "[n": the names of a structure, union or enumeration.
void decl_read_names()
{
    char tok[TOKEN_SIZE + 1];
    if (!ic_read_token(tok))
        return msg_report(714), void();
    cg_symbol *tag = sym_lookup(tok);
    sdb_write_line();
    if (!ic_read_token(tok))
        return msg_report(714), void();
    tag->src_name = xstrdup(tok);
    type_desc *t = type_unqualify(tag->type);
    if (t && t->kind == TY_ENUM) {
        for (uint32_t i = 0; i < vec_count(t->consts) && ic_read_token(tok); i++)
            ((enum_const *)vec_get(t->consts, i))->name = xstrdup(tok);
        sdb_write_enum(tag);
    } else if (t && t->kind == TY_STRUCT) {
        if (tok[0] != '.')
            sym_rename(tag, str_printf("S%u%s", tag->number, tok).c_str());
        for (uint32_t i = 0; tag->members && i < vec_count(tag->members) && ic_read_token(tok); i++) {
            cg_symbol *m = (cg_symbol *)vec_get(tag->members, i);
            m->src_name = xstrdup(tok);
            sym_rename(m, str_printf("%s$%s", tag->name, tok).c_str());
        }
        note_alias(tag);
        sdb_write_struct(tag);
    }
    ic_expect_close();
}

void decl_reset()
{
    if (alias_table)
        hash_free(alias_table);
    alias_table = nullptr;
}
