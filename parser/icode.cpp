// icode: the writer of the intermediate code.
//
// The output has two parts: the front part (the output file itself, after
// the version line) takes records of file-scope things written at once, and
// the body file takes everything else in source order; at the end the body
// is copied behind the front part. Each record is written once (its
// *written* mark); what a record needs (struct, enum and typedef records,
// the variables of an expression) is written before it, depth first.
//
// Expressions are written in prefix order: the operator's spelling and a
// blank, then its operands. Types are type strings: a backquote, then per
// level from the outside in the level's qualifier letters and "(" for a
// function or "*" for a pointer, then the base ("i", "uc", "S3", "E2", or a
// typedef name).
#include "plover.h"

#include <cstdarg>
#include <cstring>
#include <deque>

int ic_last_line = -1;              // line of the last marker written to the body
static std::string ic_last_file;    // file of the last marker written to the body
static bool ic_any_marker;          // a marker has been written to the body
FILE *ic_strings;                   // the string store file
int ic_string_count;                // strings stored so far
static std::vector<uint8_t> ic_used; // used marks by string number

struct comment_t {
    std::string text;
    unsigned line;
    std::string file;
};
static std::deque<comment_t> ic_comments; // queued source lines (-S)

static const char base_letters[] = "?bcsimloxfd?v";

void ic_version()
{
    fputs("Version 3.2 Vormak Software Intermediate Code\n", out_front);
}

void ic_marker(FILE *f)
{
    if (f != out_body)
        return;
    int line = opt.shroud ? 1 : (int)lex_line;
    bool file_changed = !ic_any_marker || lex_file != ic_last_file;
    if (ic_any_marker && line == ic_last_line && !file_changed)
        return;
    if (file_changed)
        fprintf(f, "\"%d %s\n", line, lex_file.c_str());
    else
        fprintf(f, "\"%d\n", line);
    ic_any_marker = true;
    ic_last_line = line;
    ic_last_file = lex_file;
}

std::string ic_name(sym_t *s)
{
    if (s->flags & F_NUMBERED)
        return "F" + std::to_string(s->number);
    if (opt.shroud && !(s->flags & F_INLINE) &&
        (s->cls == C_PARAM || s->cls == C_LABEL || s->cls == C_ENUMCONST || s->cls == K_AUTO ||
         s->cls == K_STATIC))
        return "_" + std::to_string(s->number);
    return "_" + s->name;
}

std::string ic_qual_letters(uint32_t q)
{
    std::string out;
    for (const qual_row_t &r : qual_table) {
        if (!r.letter)
            continue;
        if (q & r.bit) {
            out += r.letter;
            q &= ~r.bit;
        }
    }
    return out;
}

// The typedef symbol that stands for an array level inside a type string.
static sym_t *ic_array_typedef(type_t *t)
{
    if (!t->anon) {
        sym_t *s = sym_new("", 0);
        s->flags |= F_DEFINING | F_USED | F_NOXREF | F_NUMBERED | F_TYPED;
        s->cls = K_TYPEDEF;
        s->level = sym_level;
        s->decl_line = (int)lex_line;
        s->decl_file = lex_file;
        type_t *c = type_copy(t);
        c->qual = 0;
        s->type = c;
        t->anon = s;
    }
    return t->anon;
}

static void ic_type_levels(type_t *t, std::string &out, bool top)
{
    for (;;) {
        out += ic_qual_letters(t->qual);
        if (t->kind == TY_FUNC) {
            out += "(";
        } else if (t->kind == TY_PTR) {
            out += "*";
        } else if (t->kind == TY_ARRAY) {
            if (top) {
                t = t->sub;
                top = false;
                continue;
            }
            out += ic_name(ic_array_typedef(t));
            return;
        } else {
            switch (t->base) {
            case B_ENUM:
                out += "E" + std::to_string(t->tag ? t->tag->tag_number : 1);
                return;
            case B_STRUCT:
            case B_UNION:
                out += "S" + std::to_string(t->tag ? t->tag->tag_number : 0);
                return;
            case B_TYPEDEF: {
                type_t *tt = t->tag ? t->tag->type : nullptr;
                if (!tt || tt->kind == TY_ARRAY || (t->tag->flags & (F_REGARG | F_VARARGS))) {
                    out += ic_name(t->tag);
                    return;
                }
                t = tt;
                continue;
            }
            case B_VARARGS:
                out += "...";
                return;
            default:
                if (t->base & 1)
                    out += "u";
                out += base_letters[(t->base & ~1) / 2];
                return;
            }
        }
        top = false;
        t = t->sub;
    }
}

// The type string of a type; an outermost array level is left out (the
// record's count field carries it).
std::string ic_type_string(type_t *t)
{
    std::string out = "`";
    ic_type_levels(t, out, true);
    return out;
}

static std::string ic_inner_type_string(type_t *t)
{
    std::string out = "`";
    ic_type_levels(t, out, false);
    return out;
}

void ic_type_deps(type_t *t, FILE *f)
{
    for (bool top = true; t; t = t->sub, top = false) {
        if (t->kind == TY_ARRAY && !top) {
            sym_t *a = ic_array_typedef(t);
            ic_type_deps(t->sub, f);
            ic_var(a, f);
            return;
        }
        if (t->kind == TY_ARRAY && t->dim)
            ic_tree_deps(t->dim, f);
        if (t->kind == TY_FUNC && t->proto)
            for (type_t *e : t->proto->entries)
                ic_type_deps(e, f);
        if (t->kind == TY_BASE) {
            if ((t->base == B_STRUCT || t->base == B_UNION || t->base == B_ENUM) && t->tag)
                ic_tag(t->tag, f);
            else if (t->base == B_TYPEDEF && t->tag)
                ic_var(t->tag, f);
            return;
        }
    }
}

// The count field of a [v record.
static std::string ic_count_field(sym_t *s)
{
    type_t *t = s->type;
    bool array = t && t->kind == TY_ARRAY;
    if (!(s->flags & F_DEFINING) || (type_is_func(t) && !(s->flags & F_DEFINED)))
        return array ? "-> 0 `x" : "0";
    if (!array)
        return "1";
    if (t->dim)
        return ic_expr(t->dim);
    if (t->count)
        return "-> " + std::to_string(t->count) + " `ux";
    return "-> 0 `x";
}

static int ic_marker_count(proto_t *p)
{
    if (!p || p->is_void())
        return 0;
    int n = (int)p->entries.size();
    return p->varargs() ? n - 2 : n;
}

static std::string ic_storage_word(sym_t *s)
{
    std::string w;
    type_t *t = s->type;
    if (s->cls == C_PARAM)
        w = (s->flags & F_PROTOPARAM) ? "r" : "p";
    else if (s->cls == K_AUTO || s->cls == K_REGISTER)
        w = "a";
    else if (s->cls == K_EXTERN)
        w = "e";
    else if (s->cls == K_STATIC)
        w = "s";
    else if (s->cls == K_TYPEDEF)
        w = "t";
    else
        w = "e";
    if (s->flags & F_REGISTER)
        w[0] = (char)toupper(w[0]);
    if (s->cls == C_PARAM && (s->flags & F_PROTOPARAM)) {
        w += std::to_string(s->position);
    } else if (t && t->kind == TY_FUNC && s->cls != K_TYPEDEF) {
        if (s->flags & F_REGARG)
            w += "f";
        int n = ic_marker_count(t->proto);
        if (n)
            w += std::to_string(n);
        if (s->flags & F_VARARGS)
            w += "v";
    }
    if (s->flags & F_ABSOLUTE)
        w += "@" + std::to_string((unsigned long)s->address);
    else if (s->placed_on)
        w += "@" + ic_name(s->placed_on) + "+" + std::to_string((unsigned long)s->address);
    if (t && t->kind == TY_FUNC && s->cls != K_TYPEDEF && t->proto && !t->proto->is_void())
        for (type_t *e : t->proto->entries)
            if (!(e->kind == TY_BASE && e->base == B_VARARGS))
                w += ic_inner_type_string(e);
    return w;
}

void ic_var(sym_t *s, FILE *f)
{
    if (s->flags & F_WRITTEN)
        return;
    FILE *dst;
    if (f)
        dst = s->level == 0 && !(s->flags & F_DEFINING) ? out_front : f;
    else if (s->level > 0)
        dst = out_body;
    else if ((s->flags & F_DEFINING) && s->cls != K_TYPEDEF)
        dst = out_front;
    else
        return;
    s->flags |= F_WRITTEN;
    ic_type_deps(s->type, dst);
    if (s->placed_on)
        ic_var(s->placed_on, dst);
    std::string count = ic_count_field(s);
    if (dst == out_front) {
        if (!opt.shroud)
            fprintf(dst, "\"%d %s\n", s->decl_line, s->decl_file.c_str());
    } else {
        ic_marker(dst);
    }
    std::string rec = "[v " + ic_name(s) + " " + ic_type_string(s->type) + " " + count + " " +
                      ic_storage_word(s);
    if (!opt.shroud && (s->flags & F_NUMBERED) && !s->name.empty())
        rec += " " + s->name;
    fprintf(dst, "%s ]\n", rec.c_str());
    if (s->flags & F_INLINE)
        fprintf(dst, "[p i _%s ]\n", s->name.c_str());
}

void ic_tag(sym_t *tag, FILE *f)
{
    if (tag->flags & F_WRITTEN)
        return;
    FILE *dst = tag->level == 0 ? out_front : f ? f : out_body;
    if (!f && tag->level == 0)
        return;
    tag->flags |= F_WRITTEN;
    std::string rec;
    if (tag->cls == C_ENUM) {
        ic_marker(dst);
        rec = "[c E" + std::to_string(tag->tag_number);
        for (sym_t *e = tag->members; e; e = e->next_member)
            rec += " " + std::to_string((long)e->address);
        fprintf(dst, "%s .. ]\n", rec.c_str());
        if (!opt.shroud) {
            rec = "[n E" + std::to_string(tag->tag_number) + " " +
                  (tag->name.empty() ? "." : tag->name) + " ";
            for (sym_t *e = tag->members; e; e = e->next_member)
                rec += e->name + " ";
            fprintf(dst, "%s ]\n", rec.c_str());
        }
        return;
    }
    for (sym_t *m = tag->members; m; m = m->next_member)
        ic_type_deps(m->type, dst);
    ic_marker(dst);
    rec = std::string(tag->cls == C_UNION ? "[u" : "[s") + " S" + std::to_string(tag->tag_number);
    for (sym_t *m = tag->members; m; m = m->next_member) {
        if (m->bit_width >= 0)
            rec += " :" + std::to_string(m->bit_width);
        type_t *t = m->type;
        std::string dim = "1";
        if (t->kind == TY_ARRAY)
            dim = t->dim ? ic_expr(t->dim) : "-> 0 `x";
        rec += " " + ic_type_string(t) + " " + dim;
    }
    fprintf(dst, "%s ]\n", rec.c_str());
    if (!opt.shroud) {
        rec = "[n S" + std::to_string(tag->tag_number) + " " +
              (tag->name.empty() ? "." : tag->name) + " ";
        for (sym_t *m = tag->members; m; m = m->next_member)
            rec += (m->name.empty() ? "." : m->name) + " ";
        fprintf(dst, "%s]\n", rec.c_str());
    }
}

void ic_tree_deps(tree_t *e, FILE *f)
{
    if (!e)
        return;
    if (e->sym && e->op == O_IDENT && e->sym->cls != C_ENUMCONST)
        ic_var(e->sym, f);
    if (e->type && (e->op == O_TYPE || e->op == O_CONV || e->op == O_SIZEOF ||
                    e->op == O_SIZEOFT || e->op == O_IDENT || e->op == O_ICON))
        ic_type_deps(e->type, f);
    if (e->op == O_IDENT && e->sym && e->sym->cls == C_ENUMCONST && e->sym->parent)
        ic_tag(e->sym->parent, f);
    if (e->op != O_ICON && e->op != O_FCON && e->op != O_STRING && e->op != O_IDENT &&
        e->op != O_TYPE && e->op != O_MEMBER && e->op != O_EOL) {
        ic_tree_deps(e->left, f);
        ic_tree_deps(e->right, f);
    }
}

// ---------------------------------------------------------------------------
// expressions
// ---------------------------------------------------------------------------
// Spellings of the operator codes 60..139, one row per code.
const char *const op_spelling[] = {
    "", "(", "", "", "", "", "", ".", "", "*U", "&U", "-U", "+U", "!", "~", "", "", "", "",
    "#", "()", "*", "&", "-", "+", "/", "%", ">>", "<<", "<", ">", "<=", ">=", "==", "!=", "^",
    "|", "&&", "||", "?", ":", "=", "=+", "++", "=-", "--", "=*", "=/", "=%", "=>>", "=<<",
    "=&", "=^", "=|", ",", ";", "", "", "", "", "", "..", ")", "$U", "$", "->", "@", "",
    "", "(.", "(1", "(2", "(3", "(4", "$UE", ":=", "#T", "", "", "",
};
static_assert(sizeof op_spelling / sizeof op_spelling[0] == O_ATTR - O_START + 1,
              "one spelling per operator code");

static bool ic_unary(int op)
{
    switch (op) {
    case O_START: case O_DEREF: case O_ADDR: case O_NEG: case O_UPLUS: case O_NOT:
    case O_COMPL: case O_SIZEOF: case O_SIZEOFT: case O_RETURN: case O_JUMP: case O_VARG:
    case O_JUMPEXIT: case 130: case 131: case 132: case 133:
        return true;
    default:
        return false;
    }
}

static void ic_expr_to(tree_t *e, std::string &out)
{
    switch (e->op) {
    case O_IDENT:
        if (e->sym->cls == C_ENUMCONST)
            out += ". `E" + std::to_string(e->sym->parent ? e->sym->parent->tag_number : 1) + " " +
                   std::to_string((long)e->sym->address);
        else
            out += ic_name(e->sym);
        return;
    case O_ICON:
        if (!e->type || type_is_void(e->type))
            out += std::to_string((long)e->value);
        else
            out += "-> " + std::to_string((long)e->value) + " " + ic_type_string(e->type);
        return;
    case O_FCON:
        if (type_base_code(e->type) == B_DOUBLE)
            out += "." + e->text;
        else
            out += "-> ." + e->text + " " + ic_type_string(e->type);
        return;
    case O_STRING:
        out += ":s " + std::to_string((long)e->value) + ic_qual_letters(e->squal);
        ic_string_mark((int)e->value);
        return;
    case O_TYPE:
        out += ic_type_string(e->type);
        return;
    case O_MEMBER:
        out += std::to_string((long)e->value);
        return;
    case O_EOL:
        out += "..";
        return;
    case O_SIZEOF:
    case O_SIZEOFT:
        out += std::string("-> ") + op_spelling[e->op - O_START] + " ";
        ic_expr_to(e->left, out);
        out += " " + ic_type_string(e->type);
        return;
    default:
        break;
    }
    out += op_spelling[e->op - O_START];
    out += " ";
    if (e->left)
        ic_expr_to(e->left, out);
    if (!ic_unary(e->op) && e->right) {
        out += " ";
        ic_expr_to(e->right, out);
    }
}

std::string ic_expr(tree_t *e)
{
    std::string out;
    ic_expr_to(e, out);
    return out;
}

void ic_stmt(tree_t *e)
{
    while (e->op == O_CONV)
        e = e->left;
    ic_tree_deps(e, out_body);
    ic_comment_flush();
    ic_marker(out_body);
    fprintf(out_body, "[e %s ]\n", ic_expr(e).c_str());
}

void ic_pragma(FILE *f, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    std::string text = str_vprintf(format, ap);
    va_end(ap);
    ic_marker(f);
    fprintf(f, "[p %s ]\n", text.c_str());
}

void ic_line(const char *text)
{
    ic_marker(out_body);
    fprintf(out_body, "%s\n", text);
}

void ic_asm(const char *text)
{
    ic_comment_flush();
    std::string piece;
    for (const char *p = text;; p++) {
        if (*p == 0 || *p == '\r' || *p == '\n') {
            if (!piece.empty()) {
                // The reader takes a text starting with ';' for a source
                // comment: an assembly comment line gets a tab in front.
                size_t first = piece.find_first_not_of(' ');
                const char *indent = first != std::string::npos && piece[first] == ';' ? "\t" : "";
                ic_marker(out_body);
                fprintf(out_body, "[; %s%s ;#\n", indent, piece.c_str());
            }
            piece.clear();
            if (*p == 0)
                return;
        } else {
            piece += *p;
        }
    }
}

void ic_label(int n)
{
    ic_marker(out_body);
    fprintf(out_body, "[e :U %d ]\n", n);
}

void ic_jump(int n)
{
    ic_comment_flush();
    ic_marker(out_body);
    fprintf(out_body, "[e $U %d ]\n", n);
}

void ic_cjump(tree_t *cond, int n, bool negate)
{
    tree_t *c = cond;
    if (negate) {
        c = tree_new(O_NOT);
        c->left = cond;
        c->type = type_plain(B_INT);
    }
    tree_t *j = tree_new(O_CJUMP);
    j->left = c;
    j->right = tree_icon(n, nullptr);
    ic_stmt(j);
}

// ---------------------------------------------------------------------------
// source-line comments (-S)
// ---------------------------------------------------------------------------
// The lexer's file without its folder, as the comments name it.
static std::string ic_comment_file()
{
    std::string file = lex_file;
    size_t k = file.find_last_of('/');
    if (k == std::string::npos)
        k = file.find_last_of('\\');
    if (k != std::string::npos)
        file = file.substr(k + 1);
    return file;
}

void ic_comment_queue(const char *text)
{
    ic_comments.push_back({text, lex_line, ic_comment_file()});
}

void ic_comment_flush()
{
    // lines of a file left behind (a header's declarations) are dropped: their
    // numbers are not comparable with the current file's, and would hold
    // back every line after them
    std::string file = ic_comment_file();
    while (!ic_comments.empty() && ic_comments.front().file != file)
        ic_comments.pop_front();
    while (!ic_comments.empty() && ic_comments.front().line <= lex_line) {
        const comment_t &c = ic_comments.front();
        ic_marker(out_body);
        std::string text = c.text.substr(0, 250);
        fprintf(out_body, "[; ;%s: %u: %s", c.file.c_str(), c.line, text.c_str());
        if (c.text.size() > 250 || text.empty() || text.back() != '\n')
            fputc('\n', out_body);
        ic_comments.pop_front();
    }
}

// ---------------------------------------------------------------------------
// string store: number, length with the zero, qualifier bits (each 4 bytes
// little-endian), then the bytes
// ---------------------------------------------------------------------------
static void ic_put32(uint32_t v)
{
    uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    fwrite(b, 1, 4, ic_strings);
}

int ic_string_store(const std::string &bytes, uint32_t qual)
{
    int n = ++ic_string_count;
    ic_put32((uint32_t)n);
    ic_put32((uint32_t)bytes.size() + 1);
    ic_put32(qual);
    fwrite(bytes.data(), 1, bytes.size(), ic_strings);
    fputc(0, ic_strings);
    return n;
}

void ic_string_mark(int n)
{
    if ((size_t)n >= ic_used.size())
        ic_used.resize(2 * (size_t)n + 2);
    ic_used[n] = 1;
}

bool ic_string_used(int n)
{
    return (size_t)n < ic_used.size() && ic_used[n];
}
