// The SDB file (symbolic debug records for the debug-format converter) and
// the printf feature list of the -F pass.
//
// SDB records are bracketed text with blank-separated fields: a header with
// the modes, version and chip; line records ("<line> <file>, or "<line> when
// only the line moved); variable, typedef, structure, union and enumeration
// records with a type text of one item per type level, outermost first.
#include "kestrel.h"

#include <cstring>
#include <string>

// Position last written as a line record.
static std::string sdb_file_written;
static int sdb_line_written;

void sdb_reset()
{
    sdb_file_written.clear();
    sdb_line_written = 0;
}

void sdb_write_header()
{
    if (!run.sdb)
        return;
    fputs("[p ", run.sdb);
    for (int b = 0; b < MODE_BIT_COUNT; b++)
        if (run.mode_word & (1u << b))
            fprintf(run.sdb, "%s ", mode_names[b]);
    fputs("]\n", run.sdb);
    fprintf(run.sdb, "[d version %u.%u ]\n", 1u, 1u);
    fprintf(run.sdb, "[d chip %s ]\n", chip.name ? chip.name : "");
}

void sdb_write_line()
{
    if (!run.sdb || !*cur_file)
        return;
    std::string file = std::string(cur_file).substr(0, 255);
    if (file != sdb_file_written)
        fprintf(run.sdb, "\"%d %s\n", cur_line, cur_file);
    else if (cur_line != sdb_line_written)
        fprintf(run.sdb, "\"%d\n", cur_line);
    sdb_file_written = file;
    sdb_line_written = cur_line;
}

// The name of the basic type with a size and class, or null.
static const char *basic_name_for(uint32_t size, int arith)
{
    type_desc *t = basic_type_by(size, arith);
    return t ? t->name : nullptr;
}

static void type_text_into(std::string &out, type_desc *t)
{
    for (; t; t = t->sub) {
        switch (t->kind) {
        case TY_POINTER:
            out += "*";
            break;
        case TY_FUNCTION:
            out += "(";
            break;
        case TY_ARRAY:
            out += str_printf("[%lu]", (unsigned long)t->count);
            break;
        case TY_QUALIFIED:
            for (const qualifier_row &q : qualifier_table)
                if (t->quals & q.bit)
                    out += q.letter;
            break;
        case TY_BASIC:
            out += std::string(t->name) + " ";
            return;
        case TY_STRUCT:
        case TY_ENUM:
            out += std::string(t->tag ? t->tag->name : "") + " ";
            return;
        }
    }
}

const char *sdb_type_text(type_desc *t)
{
    static std::string text;
    text.assign(1, '`');
    type_text_into(text, t);
    return text.c_str();
}

static const char storage_letters[] = "tpares";

// A local that the function refers to. Only externs are marked used when
// read and only whole assignments mark a variable assigned, so a structure
// reached through its members (its address taken) and a parameter that
// arrives in W and is only read would otherwise be left out of the file.
static bool sdb_local_referenced(const cg_symbol *s)
{
    if (s->flags & (SF_USED | SF_ASSIGNED | SF_WRITTEN | SF_ADDR_TAKEN))
        return true;
    return s->storage == ST_PARAM;
}

void sdb_write_var(cg_symbol *s)
{
    if (!run.sdb || (s->flags & SF_NODEBUG))
        return;
    if (s->storage < ST_EXTERN && !sdb_local_referenced(s))
        return;
    sym_set_position(s);
    s->flags |= SF_DESCRIBED;
    sdb_write_line();
    bool fn = sym_is_function(s);
    fprintf(run.sdb, "[v %s ", fn && s->call_name ? s->call_name : sym_asm_name(s));
    fputs(sdb_type_text(s->type), run.sdb);
    fputs(" 1 ", run.sdb);
    if (s->storage == ST_AUTO && s->owner && (s->owner->flags & SF_REENTRANT))
        fputs("p ", run.sdb);
    else
        fprintf(run.sdb, "%c ", storage_letters[s->storage]);
    fprintf(run.sdb, "%ld ", (long)type_size(s->type));
    switch (s->storage) {
    case ST_PARAM:
    case ST_AUTO:
        if (s->flags & SF_INREG)
            fprintf(run.sdb, "%s ]\n", register_name(s->reg));
        else
            fprintf(run.sdb, "%ld ]\n", (long)s->frame_offset);
        break;
    case ST_REGISTER:
        fprintf(run.sdb, "%s ]\n", register_name(s->reg));
        break;
    case ST_EXTERN:
        if (s->flags & SF_ABSOLUTE)
            fprintf(run.sdb, "@%lu ]\n", s->address);
        else if (s->flags & SF_INREG)
            fprintf(run.sdb, "%s ]\n", register_name(s->reg));
        else
            fputs("0 ]\n", run.sdb);
        break;
    case ST_STATIC: {
        const char *n = sym_asm_name(s);
        fprintf(run.sdb, "%s ]\n", *n == '_' ? n + 1 : *n ? n : "0");
        break;
    }
    default:
        fputs("]\n", run.sdb);
    }
}

// A function's block in the debug file: its own record, then its autos and
// parameters at their places in the frame, closed by the size of its autos.
void sdb_open_function(cg_symbol *f)
{
    if (!run.sdb)
        return;
    sdb_write_var(f);
    fputs("{\n", run.sdb);
    for (vector_t *list : {f->autos, f->params})
        for (uint32_t i = 0; list && i < vec_count(list); i++) {
            cg_symbol *s = (cg_symbol *)vec_get(list, i);
            if (!(s->flags & SF_INTERNAL) && type_size(s->type))
                sdb_write_var(s);
        }
}

void sdb_close_function(cg_symbol *f)
{
    if (!run.sdb)
        return;
    sdb_write_line();
    fprintf(run.sdb, "} %u\n", f->autos_size);
}

void sdb_write_typedef(cg_symbol *s)
{
    if (!run.sdb)
        return;
    sdb_write_line();
    if (!s->asm_name)
        s->asm_name = s->name;
    fprintf(run.sdb, "[v %s ", s->asm_name);
    fputs(sdb_type_text(s->type), run.sdb);
    type_desc *t = type_unqualify(s->type);
    if (t && t->kind == TY_ARRAY)
        fprintf(run.sdb, " %lda ", (long)t->count);
    else
        fputs(" 1 ", run.sdb);
    fprintf(run.sdb, "t %ld ]\n", (long)type_size(s->type));
}

void sdb_write_struct(cg_symbol *tag)
{
    if (!run.sdb)
        return;
    type_desc *t = tag->type;
    fprintf(run.sdb, "[%c S%u %s %ld ", t->is_union ? 'u' : 's', tag->number, tag->src_name,
            (long)type_size(t));
    for (uint32_t i = 0; tag->members && i < vec_count(tag->members); i++) {
        cg_symbol *m = (cg_symbol *)vec_get(tag->members, i);
        fputs(sdb_type_text(m->type), run.sdb);
        uint32_t size = m->is_bitfield ? 1 : type_size(m->type);
        fprintf(run.sdb, "1 %s %ld %ld ", m->src_name, (long)size, (long)m->offset);
        if (m->is_bitfield)
            fprintf(run.sdb, ":%d:%d \n", m->bit_width, m->bit_offset);
    }
    fputs("]\n", run.sdb);
}

void sdb_write_enum(cg_symbol *tag)
{
    if (!run.sdb)
        return;
    type_desc *t = tag->type;
    fprintf(run.sdb, "[e %s %s", sym_asm_name(tag), tag->src_name);
    if (const char *b = basic_name_for(t->size, t->arith))
        fprintf(run.sdb, " `%s", b);
    fputs("\n", run.sdb);
    for (uint32_t i = 0; i < vec_count(t->consts); i++) {
        enum_const *c = (enum_const *)vec_get(t->consts, i);
        fprintf(run.sdb, "%s %ld\n", c->name ? c->name : "", c->value);
    }
    fputs("]\n", run.sdb);
}

static void print_feature(cg_symbol *s, void *)
{
    if (!sym_is_function(s) || !s->printf_mask)
        return;
    uint32_t mask = s->printf_mask | ((s->flags & SF_RESULT_USED) ? 0x1000000u : 0);
    printf("%s\t%lu\n", s->name, (unsigned long)mask);
}

void printf_feature_list()
{
    sym_visit_all(print_feature, nullptr);
}

// Marks the callees whose result a statement uses (a call that is not a
// statement of its own or the left side of a sequence).
static void mark_calls(tree_node *n, bool used)
{
    if (!n)
        return;
    if (n->op == OP_CALL && used && n->call_target)
        n->call_target->flags |= SF_RESULT_USED;
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        mark_calls((tree_node *)vec_get(n->args, i), true);
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        mark_calls(n->left, n->op != OP_SEQ && n->op != OP_CALL);
    if (arity == OA_BINARY)
        mark_calls(n->right, n->op != OP_SEQ || used);
}

void printf_mark_results()
{
    for (uint32_t i = 0; functions && i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        for (uint32_t k = 0; f->func && k < vec_count(f->func->trees); k++)
            mark_calls((tree_node *)vec_get(f->func->trees, k), false);
    }
}
