// sym: the symbol table. One table of 256 chains (h = 2h + byte over the
// name and its zero, kept in 8 bits) holds variables, functions, typedefs,
// enumeration constants and tags; members live in their tag's list. Each
// chain keeps inner scope levels first, so the first match is the visible
// one. Leaving a block checks and unlinks the symbols of that level, and
// from time to time frees the records that the table no longer reaches
// (mark and sweep over the record blocks).
//
// Also here: the cross-reference lines ("~file", "name line", "#name line")
// and the lines of the prototype file.
#include "plover.h"

#include <cstdlib>
#include <cstring>
#include <new>

int sym_level;                       // current scope level, 0 file scope
FILE *xref_file;                     // cross-reference file (-C), or null
FILE *proto_file;                    // prototype file (-p/-P), or null
int sym_lookup_kind = LK_ORDINARY;   // which classes a find may return

static sym_t *sym_chains[256];       // hash chains, inner levels first
static int sym_counter;              // symbol numbers, from 1
static int sym_tag_counter;          // tag and label numbers, from 1
int sym_recycle_hold;                // statements holding trees: no recycling now

// Symbol records come from blocks of 1,024 (halved down to 128 when memory
// is short), at most 20 of them. Records that nothing reachable refers to
// any more go back to a free list when a block is left.
enum { SYM_BLOCK = 1024, SYM_BLOCK_MIN = 128, SYM_BLOCKS = 20 };
enum { SYM_FREE = 0, SYM_HANDED = 1, SYM_REACHED = 2 }; // live marks
struct sym_block_t {
    sym_t *records;
    size_t count;
};
static sym_block_t sym_blocks[SYM_BLOCKS]; // the blocks allocated so far
static int sym_block_count;                // blocks in use
static sym_t *sym_free_list;               // free records, linked by next_hash
static size_t sym_handed_since;            // records handed out since the last recycling
static size_t sym_idle_then;               // records not live at the last recycling

static unsigned sym_hash(const std::string &name)
{
    return hash_string(name.c_str()) & 0xFF;
}

static int sym_kind_of(int cls)
{
    if (cls == C_STRUCT || cls == C_UNION || cls == C_ENUM)
        return LK_TAG;
    if (cls == C_LABEL)
        return LK_LABEL;
    if (cls == C_MEMBER)
        return LK_MEMBER;
    return LK_ORDINARY;
}

sym_t *sym_find(const std::string &name)
{
    sym_t *unclassed = nullptr;
    for (sym_t *s = sym_chains[sym_hash(name)]; s; s = s->next_hash) {
        if (s->name != name)
            continue;
        if (s->cls == C_NONE) {
            if (!unclassed)
                unclassed = s;
            continue;
        }
        if (sym_kind_of(s->cls) == sym_lookup_kind)
            return s;
    }
    return unclassed;
}

static void sym_link(sym_t *s)
{
    sym_t **p = &sym_chains[sym_hash(s->name)];
    while (*p && (*p)->level > s->level)
        p = &(*p)->next_hash;
    s->next_hash = *p;
    *p = s;
}

static void sym_stop()
{
    tool_exit(1);
    exit(1);
}

// A new block of free records; 309 beyond the last block, 294 when not even
// the smallest block can be had.
static void sym_grow()
{
    if (sym_block_count == SYM_BLOCKS) {
        msg_report(309);
        sym_stop(); // fatal even when the message file cannot say so
    }
    size_t n = SYM_BLOCK;
    sym_t *block = nullptr;
    for (; n >= SYM_BLOCK_MIN; n /= 2)
        if ((block = new (std::nothrow) sym_t[n]()))
            break;
    if (!block) {
        msg_report(294, (unsigned)(SYM_BLOCK_MIN * sizeof(sym_t)));
        sym_stop();
    }
    sym_blocks[sym_block_count++] = {block, n};
    for (size_t i = n; i-- > 0;) {
        block[i].next_hash = sym_free_list;
        sym_free_list = &block[i];
    }
}

static sym_t *sym_alloc()
{
    if (!sym_free_list)
        sym_grow();
    sym_t *s = sym_free_list;
    sym_free_list = s->next_hash;
    *s = sym_t{};
    s->live = SYM_HANDED;
    sym_handed_since++;
    return s;
}

sym_t *sym_new(const std::string &name, int level)
{
    sym_t *s = sym_alloc();
    s->name = name;
    s->level = level;
    s->number = ++sym_counter;
    s->bit_width = -1;
    if (!name.empty())
        sym_link(s);
    return s;
}

sym_t *sym_find_or_enter(const std::string &name)
{
    if (xref_file && !name.empty())
        fprintf(xref_file, "%s %d\n", name.c_str(), lex_line);
    sym_t *s = sym_find(name);
    return s ? s : sym_new(name, sym_level);
}

sym_t *sym_new_anonymous()
{
    sym_t *s = sym_new("", sym_level);
    s->flags |= F_DEFINING | F_USED | F_NOXREF | F_NUMBERED;
    return s;
}

int sym_next_label()
{
    return ++sym_tag_counter;
}

static void sym_conflict(sym_t *s)
{
    msg_report(1098, s->name.c_str(), s->decl_file.c_str(), s->decl_line);
}

// Applies the marks of the pragma-name table to a newly declared name.
static void sym_apply_pragma_marks(sym_t *s)
{
    pragma_name_t *p = lex_pragma_name(s->name);
    if (!p || !s->type)
        return;
    type_t *t = s->type;
    if (p->fastcall16 && type_is_func(t))
        t->qual |= qual_lookup("__fastcall16");
    if (p->ioport) {
        t->qual |= qual_lookup("__ioport");
        s->address = (int64_t)p->number;
        s->flags |= F_ABSOLUTE;
    }
    if (p->handler) {
        t->qual |= qual_role.interrupt;
        s->interrupt_fn = true;
        s->address = (int64_t)p->number;
        if (p->number)
            s->flags |= F_ABSOLUTE;
    }
}

// Redeclaration at the same level: the checks of the second declaration.
static void sym_redeclare(sym_t *s, int cls, type_t *t)
{
    bool bad = false;
    if (s->cls != cls) {
        if (cls == K_STATIC && s->cls == K_EXTERN && !(s->flags & F_DEFINING)) {
            msg_report(367);
            bad = true;
        } else if (!(cls == K_EXTERN && s->cls == K_STATIC)) {
            msg_report(983, s->name.c_str());
            bad = true;
        }
    }
    if ((s->flags & F_TYPED) && t && s->type) {
        if (cls == K_EXTERN || cls == K_STATIC)
            sym_apply_pragma_marks(s);
        type_t *old = s->type, *nu = t;
        if (s->cls == C_ENUMCONST) {
            msg_report(986);
            bad = true;
        } else if (old->kind == TY_FUNC && nu->kind == TY_FUNC && old->proto && nu->proto &&
                   !old->proto->is_void() && !nu->proto->is_void() &&
                   old->proto->entries.size() != nu->proto->entries.size()) {
            msg_report(988);
            bad = true;
        } else if (old->kind == TY_FUNC && nu->kind == TY_FUNC && old->proto && nu->proto &&
                   old->proto->is_void() && !nu->proto->is_void()) {
            old->proto = nu->proto;
        } else if (old->kind == TY_FUNC && nu->kind == TY_FUNC && old->proto && nu->proto &&
                   !type_compatible(old, nu, false)) {
            // A list of parameters against (void) differs in its arguments.
            bool args_differ = old->proto->entries.size() != nu->proto->entries.size();
            for (size_t i = old->proto->entries.size(); !args_differ && i-- > 0;)
                if (!type_compatible(old->proto->entries[i], nu->proto->entries[i], true))
                    args_differ = true;
            if (args_differ)
                msg_report(987);
            else
                msg_report(984);
            type_explain(old, nu);
            bad = true;
        } else if (old->kind == TY_ARRAY && nu->kind == TY_ARRAY) {
            if (old->count && nu->count && old->count != nu->count) {
                msg_report(251);
                bad = true;
            } else if (nu->dim) {
                s->type = nu;
            }
            if (!type_compatible(old->sub, nu->sub, true)) {
                msg_report(984);
                type_explain(old, nu);
                bad = true;
            }
        } else if (!type_compatible(old, nu, true)) {
            msg_report(984);
            type_explain(old, nu);
            bad = true;
        } else if (old->qual != nu->qual) {
            msg_report(985);
            bad = true;
        } else if (old->kind == TY_FUNC && !old->proto && nu->proto) {
            s->type = nu;
        }
    }
    if (bad)
        sym_conflict(s);
}

sym_t *sym_declare(sym_t *s, int cls, type_t *t, sym_t *parent)
{
    if (s->cls != C_NONE && s->level == sym_level && cls != C_MEMBER) {
        sym_redeclare(s, cls, t);
        return s;
    }
    if (s->cls != C_NONE || s->level != sym_level) {
        sym_t *outer = s;
        s = sym_new(s->name, sym_level);
        if (cls == K_AUTO && outer->cls != C_NONE && sym_kind_of(outer->cls) == LK_ORDINARY)
            msg_report(346, s->name.c_str());
        // pragma marks on an undeclared name carry over
        s->flags |= outer->cls == C_NONE ? outer->flags & (F_INLINE | F_PRINTF) : 0;
        s->format_qual = outer->cls == C_NONE ? outer->format_qual : 0;
    }
    if (!s->decl_line) {
        s->decl_line = (int)lex_line;
        s->decl_file = lex_file;
    }
    s->cls = cls;
    switch (cls) {
    case C_STRUCT:
    case C_UNION:
    case C_ENUM:
        s->tag_number = sym_next_label();
        break;
    case C_MEMBER:
        s->parent = parent;
        s->type = t;
        s->flags |= F_TYPED;
        break;
    case C_ENUMCONST:
        s->parent = parent;
        s->type = t;
        s->flags |= F_TYPED;
        break;
    default:
        s->type = t;
        s->flags |= F_TYPED;
        if (cls == K_AUTO && t && t->kind != TY_FUNC &&
            (type_quals(t) & ~(uint32_t)3 & ~opt.a_set))
            msg_report(348, s->name.c_str());
        if (t && t->kind == TY_FUNC && lex_regarg) {
            if (t->proto && t->proto->varargs())
                s->flags |= F_VARARGS;
            else if (!t->proto) {
                if (cls != K_STATIC && s->name != "main")
                    msg_report(349, s->name.c_str());
            } else {
                s->flags |= F_REGARG;
            }
        }
        if (t && t->kind == TY_FUNC && (t->qual & qual_role.interrupt) && qual_role.interrupt)
            s->interrupt_fn = true;
        break;
    }
    if (cls == K_EXTERN || cls == K_STATIC)
        sym_apply_pragma_marks(s);
    return s;
}

bool sym_define(sym_t *s)
{
    bool was = (s->flags & F_DEFINED) != 0;
    s->decl_line = (int)lex_line;
    s->decl_file = lex_file;
    if (xref_file && !(s->flags & F_NOXREF) && !s->name.empty())
        fprintf(xref_file, "#%s %d\n", s->name.c_str(), lex_line);
    if (!(s->flags & F_DEFINING))
        s->flags &= ~F_WRITTEN;
    s->flags |= F_DEFINING | F_DEFINED;
    return was;
}

void sym_enter_block(bool write_line)
{
    sym_level++;
    if (write_line)
        ic_line("{");
}

// The reports for one symbol of the level being left.
static void sym_check_unused(sym_t *s)
{
    if (s->cls == C_NONE)
        return;
    if ((s->flags & F_USED) && !(s->flags & F_DEFINED) && s->cls != K_EXTERN &&
        s->cls != C_STRUCT && s->cls != C_UNION && s->cls != C_ENUM && s->cls != K_TYPEDEF &&
        s->cls != C_ENUMCONST && s->cls != C_PARAM && !type_is_func(s->type)) {
        msg_report(254, "variable", s->name.c_str());
        return;
    }
    if (s->flags & F_USED)
        return;
    if (s->level == 0 && s->cls != K_STATIC && s->cls != C_STRUCT && s->cls != C_UNION &&
        s->cls != C_ENUM && s->cls != K_TYPEDEF)
        return;
    if (s->level == 0 && s->cls != K_STATIC)
        return;
    if (s->name == "rcsid" || s->name == "sccsid" || (s->flags & F_ABSOLUTE))
        return;
    const char *what = nullptr;
    switch (s->cls) {
    case C_STRUCT: what = "structure"; break;
    case C_UNION: what = "union"; break;
    case C_ENUM: what = "enum"; break;
    case K_TYPEDEF: what = "typedef"; break;
    default: break;
    }
    if (what && !s->name.empty()) {
        msg_report(350, what, s->name.c_str(), (unsigned)s->decl_line);
        return;
    }
    if (type_is_func(s->type) && (s->flags & F_DEFINED) && !s->interrupt_fn)
        msg_report(967, s->name.c_str(), (unsigned)s->decl_line);
}

// Chains hold deeper levels first: the symbols of the level left are the
// heads of their chains.
static void sym_drop_level(int level)
{
    for (sym_t *&head : sym_chains) {
        while (head && head->level >= level) {
            sym_check_unused(head);
            head = head->next_hash;
        }
    }
}

// ---------------------------------------------------------------------------
// recycling: mark what the table still reaches, free the rest
// ---------------------------------------------------------------------------
static void sym_mark(sym_t *s);
static void sym_mark_type(type_t *t);

static void sym_mark_tree(tree_t *e)
{
    for (; e; e = e->right) {
        sym_mark(e->sym);
        sym_mark_type(e->type);
        sym_mark_tree(e->left);
    }
}

static bool sym_keeping; // the mark copies the dimension trees it meets out of the node blocks

static void sym_mark_type(type_t *t)
{
    for (; t; t = t->sub) {
        sym_mark(t->tag);
        sym_mark(t->anon);
        if (sym_keeping)
            t->dim = tree_keep(t->dim);
        sym_mark_tree(t->dim);
        if (t->proto) {
            for (type_t *e : t->proto->entries)
                sym_mark_type(e);
            for (sym_t *p : t->proto->params)
                sym_mark(p);
        }
    }
}

// A symbol and what it refers to: its type (tags, typedefs, prototypes,
// dimension expressions), placement, parent and member or enumerator list.
static void sym_mark(sym_t *s)
{
    for (; s && s->live == SYM_HANDED; s = s->next_member) {
        s->live = SYM_REACHED;
        sym_mark_type(s->type);
        sym_mark(s->placed_on);
        sym_mark(s->parent);
        sym_mark(s->members);
    }
}

// Marks every record reached from the table, the current token and those
// read ahead, the function being defined and the printf users.
static void sym_mark_roots()
{
    for (sym_t *head : sym_chains)
        for (sym_t *s = head; s; s = s->next_hash)
            sym_mark(s);
    sym_mark(tok.sym);
    for (sym_t *s : lex_pending_symbols())
        sym_mark(s);
    sym_mark(decl_function);
    for (sym_t *s : expr_printf_users)
        sym_mark(s);
}

// The trees that live records reach through their types (array
// dimensions, also inside prototypes and members) are copied out of the
// node blocks, so that the blocks can be taken back. Records nothing
// reaches are left to the recycling: nothing reads them again.
void sym_keep_trees()
{
    sym_keeping = true;
    sym_mark_roots();
    sym_keeping = false;
    for (int b = 0; b < sym_block_count; b++)
        for (size_t i = 0; i < sym_blocks[b].count; i++)
            if (sym_blocks[b].records[i].live == SYM_REACHED)
                sym_blocks[b].records[i].live = SYM_HANDED;
}

// Records handed out since the last recycling reached half of those that
// were not live then: every record not reached from the table, the current
// token and those read ahead, the function being defined or the printf
// users is freed.
static void sym_recycle()
{
    if (sym_recycle_hold || sym_handed_since < sym_idle_then / 2)
        return;
    sym_mark_roots();
    size_t idle = 0;
    for (int b = 0; b < sym_block_count; b++)
        for (size_t i = 0; i < sym_blocks[b].count; i++) {
            sym_t *s = &sym_blocks[b].records[i];
            if (s->live == SYM_REACHED) {
                s->live = SYM_HANDED;
                continue;
            }
            if (s->live == SYM_HANDED) {
                *s = sym_t{};
                s->next_hash = sym_free_list;
                sym_free_list = s;
            }
            idle++;
        }
    sym_idle_then = idle;
    sym_handed_since = 0;
}

void sym_leave_block(bool write_line)
{
    sym_drop_level(sym_level);
    sym_recycle();
    if (write_line)
        ic_line("}");
    sym_level--;
}

void sym_check_file_scope()
{
    for (sym_t *head : sym_chains)
        for (sym_t *s = head; s; s = s->next_hash) {
            sym_check_unused(s);
            // a definition of the file whose struct body never came
            if (s->level == 0 && (s->flags & F_DEFINING) && s->cls != K_TYPEDEF &&
                s->cls != C_STRUCT && s->cls != C_UNION && s->cls != C_ENUM && s->type &&
                !type_is_func(s->type))
                type_check_complete(s->type);
        }
}

sym_t *sym_member(sym_t *tag, const std::string &name)
{
    for (sym_t *m = tag ? tag->members : nullptr; m; m = m->next_member) {
        if (m->name == name)
            return m;
        if (m->name.empty() && m->type && m->type->kind == TY_BASE &&
            (m->type->base == B_STRUCT || m->type->base == B_UNION))
            if (sym_t *inner = sym_member(m->type->tag, name))
                return inner;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// prototype file lines
// ---------------------------------------------------------------------------
const char *sym_type_name(int code)
{
    switch (code & ~1) {
    case B_BIT: return "boolean";
    case B_CHAR: return "char";
    case B_SHORT: return "short";
    case B_INT: return "int";
    case B_SHORTLONG: return "short long";
    case B_LONG: return "long";
    case B_LLONG: return "long long";
    case B_INDEX: return "index";
    case B_FLOAT: return "float";
    case B_DOUBLE: return "double";
    case B_VOID: return "void";
    case B_VARARGS: return "...";
    default: return "?";
    }
}

static std::string sym_qual_words(uint32_t q)
{
    std::string out;
    for (const qual_row_t &r : qual_table)
        if (r.letter && (q & r.bit)) {
            out += " " + r.name;
            q &= ~r.bit;
        }
    return out;
}

// A type in C declaration form (return and parameter types).
static std::string sym_c_type(type_t *t)
{
    int stars = 0;
    std::string suffix;
    while (t && t->kind != TY_BASE) {
        if (t->kind == TY_PTR)
            stars++;
        else if (t->kind == TY_ARRAY)
            suffix += t->count ? "[" + std::to_string(t->count) + "]" : "[]";
        else
            suffix += "()";
        t = t->sub;
    }
    std::string out;
    if (!t)
        return "int";
    int b = t->base;
    if (b == B_ENUM)
        out = "enum " + (t->tag ? t->tag->name : std::string());
    else if (b == B_STRUCT || b == B_UNION)
        out = std::string(b == B_STRUCT ? "struct " : "union ") +
              (t->tag && !t->tag->name.empty() ? t->tag->name
                                               : "S" + std::to_string(t->tag ? t->tag->tag_number : 0));
    else if (b == B_TYPEDEF)
        out = t->tag ? t->tag->name : "?";
    else if (b & 1)
        out = std::string("unsigned ") + sym_type_name(b);
    else if (b <= B_LLONG && b != B_BIT)
        out = std::string("signed ") + sym_type_name(b);
    else
        out = sym_type_name(b);
    out += sym_qual_words(t->qual);
    if (stars)
        out += " " + std::string(stars, '*');
    return out + suffix;
}

void sym_write_proto_line(sym_t *fn, std::vector<sym_t *> &params, bool old_style)
{
    if (!proto_file)
        return;
    type_t *ft = type_unfold(fn->type);
    std::string line = fn->cls == K_STATIC ? "static " : "extern ";
    line += sym_c_type(ft->sub) + " " + fn->name + "(";
    if (old_style && !opt.proto_plain) {
        for (size_t i = 0; i < params.size(); i++)
            line += (i ? ", " : "") + sym_c_type(params[i]->type);
    } else if (!old_style) {
        for (size_t i = 0; i < params.size(); i++)
            line += (i ? ", " : "") + sym_c_type(params[i]->type);
        if (ft->proto && ft->proto->varargs())
            line += ", ...";
    }
    if (params.empty() && !opt.proto_plain)
        line += "void";
    line += ");\n";
    fputs(line.c_str(), proto_file);
}
