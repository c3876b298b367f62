// Template expansion and the output line buffer.
//
// A matched statement is written by walking it in evaluation order: each
// node's operands first (in the order the matcher chose), then the template
// of every level recorded on the node. A template is text with escapes: an
// upper-case letter, optional modifiers and a "which" letter that selects the
// node (N this node, L the level below or the left operand, R the right
// operand, J<path> a path of 0 and 1 steps). Operand texts (~L) expand the
// selected pattern's result text in that node's context, so a byte of a
// variable, a constant slice or a register prints where the instruction
// needs it. All text goes through one line buffer; in a dry run nothing is
// written but registers and temporaries are counted all the same.
#include "select.h"

#include <cmath>
#include <cstdarg>
#include <cstring>

// The allocation rounds set this: the expansion runs, nothing is written.
bool dry_run;
// Where finished lines go.
FILE *out_stream;
// Comment for the next instruction line.
char *out_comment;
// Emitter escape handler of function generation.
emit_escape_fn emit_escape;
// The line being built.
static std::string out_line;
// The current line already had its first blank.
static bool column_seen;
// Registers named by the templates of the current statement.
static objset *stmt_used;
// Argument bytes pushed in the current call sequence, and their high mark.
static int arg_depth;
static int arg_high;
// Conditional operators entered while writing the current statement.
static int cond_nesting;

// Expansion state of one template, shared with its nested operand texts.
struct expand_state {
    int offset = 0;          // current byte offset
    int slice = 0;           // bytes per slice, 0 when no slice is active
    int repeat = -1;         // lines still to repeat (V+ / V-), -1 not loaded
    const char *deferred = nullptr;  // text saved by Z+
    tree_node *def_node = nullptr;
    int def_level = 0;
};

// A parsed escape.
struct escape {
    char letter = 0;
    bool tilde = false;      // ~L, ~G: operand text or indirect register name
    int plus = 0;            // +n / -n
    char sign = 0;           // + or - without digits (I+, V-)
    bool keep_slice = false; // +! / -!
    int k = -1;              // digits
    int eq = -1;             // =n
    int div = 0;             // /n
    char which = 'N';
    const char *path = "";   // J path
    int path_len = 0;
};

// ---------------------------------------------------------------------------
// output line buffer
// ---------------------------------------------------------------------------
void out_putc(int c)
{
    if (c == '\r')
        c = '\n';
    if (c != '\n') {
        out_line += (char)c;
        return;
    }
    if (!dry_run) {
        if (!out_stream || out_stream == stdout)
            switch_psect(false);
        fputs(out_line.c_str(), out_stream ? out_stream : stdout);
        fputc('\n', out_stream ? out_stream : stdout);
    }
    out_line.clear();
}

void out_printf(const char *fmt, ...)
{
    char buf[4096 + 1];   // one call writes at most 4096 characters
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    for (const char *p = buf; *p; p++)
        out_putc(*p);
}

static void end_line(bool with_comment)
{
    // a line an escape left empty (its instructions ended their own lines)
    if (!(with_comment && out_comment) && out_line.find_first_not_of(" \t") == std::string::npos) {
        out_line.clear();
        column_seen = false;
        return;
    }
    if (with_comment && out_comment) {
        out_printf("\t;%s", out_comment);
        free(out_comment);
        out_comment = nullptr;
    }
    out_putc('\n');
    column_seen = false;
}

// ---------------------------------------------------------------------------
// small tables
// ---------------------------------------------------------------------------
// Instruction stems by operator (template letter O).
const char *op_stem(uint32_t op)
{
    switch (op) {
    case OP_ADD: case OP_ASG_ADD: return "add";
    case OP_SUB: case OP_ASG_SUB: return "sub";
    case OP_MUL: case OP_ASG_MUL: return "mul";
    case OP_DIV: case OP_ASG_DIV: return "div";
    case OP_MOD: case OP_ASG_MOD: return "mod";
    case OP_AND: case OP_ASG_AND: return "and";
    case OP_OR: case OP_ASG_OR: return "ior";
    case OP_XOR: case OP_ASG_XOR: return "xor";
    case OP_POSTINC: return "incf";
    case OP_POSTDEC: return "decf";
    case OP_COMPL: return "com";
    case OP_SHL: case OP_ASG_SHL: return "l";
    case OP_SHR: case OP_ASG_SHR: return "r";
    case OP_NE: case OP_LT: return "n";
    default: return "";
    }
}

static char size_letter(uint32_t size)
{
    return "vbwtl"[size > 4 ? 4 : size];
}

static char class_letter(tree_node *n)
{
    type_desc *t = type_unqualify(n->type);
    if (!t || t->kind == TY_STRUCT || t->kind == TY_FUNCTION || t->kind == TY_ARRAY)
        return 0;
    switch (type_arith_class(t)) {
    case AR_SIGNED: return 'a';
    case AR_UNSIGNED: case AR_BIT: return 'l';
    case AR_FLOAT: return 'f';
    default: return 0;
    }
}

static type_desc *pointee(tree_node *n)
{
    type_desc *t = type_unqualify(n->type);
    return t && (t->kind == TY_POINTER || t->kind == TY_ARRAY) ? t->sub : nullptr;
}

static uint32_t mask_of_bytes(int bytes)
{
    return bytes >= 4 ? 0xFFFFFFFFu : (1u << (bytes * 8)) - 1;
}

uint32_t float_bits(double x, int size)
{
    float f = (float)x;
    uint32_t bits;
    memcpy(&bits, &f, 4);
    uint32_t exp = (bits >> 23) & 0xFF;
    if (exp == 0)
        return 0;
    if (size != 3)
        return bits;
    uint32_t sign = bits >> 31;
    uint32_t m = (bits & 0x7FFFFF) + 0x800080;
    if (m > 0xFFFFFF) {
        if (exp > 254) {
            m = 0xFFFFFF;
        } else {
            m >>= 1;
            exp++;
        }
    }
    return ((m >> 8) & 0x7FFF) | (exp << 15) | (sign << 23);
}

uint32_t signat_value(cg_symbol *sym)
{
    type_desc *ft = type_unqualify(sym->type);
    type_desc *ret = ft && ft->kind == TY_FUNCTION ? ft->sub : nullptr;
    uint32_t size = type_size(ret);
    uint32_t v = size > 7 ? 7 : size;
    type_desc *rt = type_unqualify(ret);
    int cls = rt && (rt->kind == TY_BASIC || rt->kind == TY_ENUM || rt->kind == TY_POINTER)
                  ? type_arith_class(rt) : -1;
    v |= cls == AR_SIGNED ? 0 : cls == AR_UNSIGNED ? 0x08 : cls == AR_FLOAT ? 0x10 : 0x18;
    uint32_t argc = sym->params ? vec_count(sym->params) : 0;
    if (argc && (sym->flags & 0x40))
        v |= 0x20;
    if (run.mode_word & MODE_AUTOSTATIC)
        v |= (sym->flags & 0x10) ? 0x240 : 0x40;
    uint32_t q = sym->type ? type_qualifiers(sym->type) : 0;
    if (q & Q_NEAR)
        v |= 0x80;
    if (q & Q_FAR)
        v |= 0x100;
    if (q & ~0x7Fu & ~(uint32_t)(Q_NEAR | Q_FAR))
        v |= 0x400;
    return v | (argc & 0xF) << 12;
}

// ---------------------------------------------------------------------------
// escapes
// ---------------------------------------------------------------------------
static int read_number(const char *&p)
{
    int v = 0;
    while (isdigit((unsigned char)*p))
        v = v * 10 + (*p++ - '0');
    return v;
}

// Reads the modifiers and the which letter after the escape letter.
static void read_modifiers(const char *&p, escape &e)
{
    for (;;) {
        char c = *p;
        if ((c == '+' || c == '-') && isdigit((unsigned char)p[1])) {
            p++;
            e.plus += (c == '-' ? -1 : 1) * read_number(p);
        } else if ((c == '+' || c == '-') && p[1] == '!') {
            e.keep_slice = true;
            p += 2;
        } else if (c == '+' || c == '-') {
            e.sign = c;
            p++;
        } else if (c == '>' || c == '<') {
            e.plus += c == '>' ? 1 : -1;
            p++;
        } else if (isdigit((unsigned char)c)) {
            e.k = read_number(p);
        } else if (c == '!' && isdigit((unsigned char)p[1])) {
            p++;
            e.k = read_number(p);
        } else if (c == '=' && isdigit((unsigned char)p[1])) {
            p++;
            e.eq = read_number(p);
        } else if (c == '/' && isdigit((unsigned char)p[1])) {
            p++;
            e.div = read_number(p);
        } else {
            break;
        }
    }
    if (strchr("NLRSD", *p) && *p) {
        e.which = *p++;
    } else if (*p == 'J') {
        e.which = *p++;
        e.path = p;
        while (*p == '0' || *p == '1')
            p++;
        e.path_len = (int)(p - e.path);
    }
}

static int top_level(tree_node *n)
{
    return n && n->level_count ? n->level_count - 1 : 0;
}

// The node and level an escape's which letter selects.
static tree_node *select_node(tree_node *node, int level, const escape &e, int *lv)
{
    *lv = level;
    auto down = [&](tree_node *n, int l, bool right, int *out) -> tree_node * {
        if (right) {
            *out = top_level(n ? n->right : nullptr);
            return n ? n->right : nullptr;
        }
        if (l > 0) {
            *out = l - 1;
            return n;
        }
        *out = top_level(n ? n->left : nullptr);
        return n ? n->left : nullptr;
    };
    switch (e.which) {
    case 'L': return down(node, level, false, lv);
    case 'R': return down(node, level, true, lv);
    case 'J': {
        tree_node *n = node;
        for (int i = 0; i < e.path_len && n; i++)
            n = down(n, *lv, e.path[i] == '1', lv);
        return n;
    }
    default: return node;
    }
}

static void expand_text(tree_node *node, const char *text, int level, expand_state &xs);

// Temporaries lie in the current function's auto block, after its autos.
static void write_temporary(uint32_t offset)
{
    cg_symbol *f = current_function;
    out_printf("??%s+%u", f ? sym_asm_name(f) : "", (f ? f->autos_size : 0) + offset);
}

// An auto or parameter: its block (??f for autos and the parameter that
// arrives in W, ?f for the others) and its offset there.
static void write_frame_object(cg_symbol *s)
{
    cg_symbol *f = s->owner;
    bool in_autos = s->storage == ST_AUTO || ((s->flags & SF_INREG) && s->reg == REG_WREG);
    out_printf("%s%s+%d", in_autos ? "??" : "?", f ? sym_asm_name(f) : "", s->frame_offset);
}

static void write_offset(int off)
{
    if (off)
        out_printf(off > 0 ? "+%d" : "%d", off);
}

// A register (or temporary) by number, with the byte part a digit or the
// slice selects.
static void write_register(uint32_t r, const escape &e, const expand_state &xs)
{
    int part = e.k >= 0 ? e.k : xs.slice ? xs.offset : -1;
    if (r >= REG_TEMP_BASE) {
        write_temporary(r - REG_TEMP_BASE);
        write_offset((part > 0 ? part : 0) + e.plus);
        return;
    }
    if (part >= 0 && r >= 16 && r <= 25) {
        vector_t *parts = objset_to_vector(regset_of(r));
        if ((uint32_t)part < vec_count(parts))
            r = (uint32_t)(uintptr_t)vec_get(parts, (uint32_t)part);
        vec_free(parts);
    }
    if (e.tilde && (r == REG_FSR || r == REG_FSR1))
        out_printf("%s", r == REG_FSR ? "indf" : "indf1");
    else
        out_printf("%s", register_name(r));
    regset_add_reg(stmt_used, r);
}

static void escape_register(tree_node *t, int lv, const escape &e, const expand_state &xs)
{
    uint32_t r = e.letter == 'G' ? t->result_reg[lv] : e.letter == 'X' ? t->scratch_reg[lv] : t->third_reg[lv];
    if (!r && e.letter == 'G') {
        if (t->op == OP_REG)
            r = (uint32_t)t->value;
        else if (t->op == OP_ID && t->sym && t->sym->storage == ST_REGISTER)
            r = t->sym->reg;
    }
    if (!r) {
        msg_report(703);
        return;
    }
    write_register(r, e, xs);
}

// S: the operand's name.
static void escape_name(tree_node *t, const escape &e, const expand_state &xs)
{
    switch (t->op) {
    case OP_ASM: out_printf("%s", t->asm_text ? t->asm_text : ""); break;
    case OP_CONST: out_printf("%ld", (long)t->value); break;
    case OP_FCONST:
        if (std::isinf(t->fvalue))
            out_printf("%s", t->fvalue > 0 ? "1.797693134862316e+308" : "-1.797693134862316e+308");
        else
            out_printf("%#.17g", t->fvalue);
        break;
    case OP_REG: out_printf("%s", register_name((uint32_t)t->value)); break;
    case OP_LITERAL: out_printf("%s", t->asm_text ? t->asm_text : ""); break;
    case OP_CALL:
        if (t->call_target)
            out_printf("%s", sym_asm_name(t->call_target));
        break;
    case OP_ID: {
        cg_symbol *s = t->sym;
        if (s->storage == ST_REGISTER && s->reg)
            out_printf("%s", register_name(s->reg));
        else if (s->flags & SF_ABSOLUTE)
            out_printf("%lu", s->address);
        else if (s->storage == ST_PARAM || s->storage == ST_AUTO)
            write_frame_object(s);
        else
            out_printf("%s", sym_asm_name(s));
        break;
    }
    default: break;
    }
    write_offset(xs.offset + e.plus + (t->op == OP_ID ? t->value : 0));
}

// V: the constant, or the byte of it the offset and slice select.
static void escape_value(tree_node *t, const escape &e, const expand_state &xs)
{
    if (t->op == OP_FCONST) {
        uint32_t size = node_size(t);
        if (size <= 4)
            out_printf("0x%lx", (unsigned long)float_bits(t->fvalue, (int)size));
        else
            out_printf("(%.17e >> %d) & %ld", t->fvalue, 8 * (xs.offset + e.plus),
                       (long)mask_of_bytes(xs.slice ? xs.slice : 1));
        return;
    }
    int off = xs.offset + e.plus;
    uint32_t size = node_size(t);
    int bytes = xs.slice ? xs.slice : (int)(size ? size : 4);
    uint32_t mask = mask_of_bytes(bytes);
    uint32_t u = (off < 0 || off >= 4 ? 0u : (uint32_t)t->value >> (8 * off)) & mask;
    long v = (long)u;
    if (class_letter(t) == 'a' && bytes <= 3 && (u >> (bytes * 8 - 1)) & 1)
        v = (long)u - (1L << (bytes * 8));
    out_printf(v < 1 ? "%ld" : run.const_format, v);
}

// V+ / V-: argument depth on a call, else the line repeat count. Returns
// true when the current line is to be written again.
static bool escape_repeat(tree_node *t, const escape &e, expand_state &xs)
{
    if (t->op == OP_CALL || t->op == OP_CALLARGS) {
        arg_depth += (e.sign == '-' ? -1 : 1) * t->value;
        return false;
    }
    if (xs.repeat < 0)
        xs.repeat = (t->op == OP_BITFIELD && t->bitfield ? t->bitfield->bit_offset : t->value) + xs.offset;
    return --xs.repeat > 0;
}

// ~L: the selected pattern's result text in that node's context.
static void escape_operand(tree_node *t, int lv, const escape &e, const expand_state &xs)
{
    if (!t || !t->level_count)
        return;
    uint32_t r = (uint32_t)t->pattern[lv];
    expand_state sub = xs;
    sub.repeat = -1;
    if (e.k == 9) {
        sub.offset = 0;
        sub.slice = 0;
    } else if (e.k >= 0) {
        sub.offset = e.k;
        uint32_t size = node_size(t);
        sub.slice = e.div ? (int)(size / (uint32_t)e.div ? size / (uint32_t)e.div : 1) : 1;
    }
    sub.offset += e.plus;
    if (e.keep_slice)   // +! / -!: the operand is read in the slices of this template
        sub.slice = xs.slice;
    const char *text = pattern_result_text(r, (uint32_t)(sub.slice ? sub.offset / sub.slice : 0));
    static int depth;   // result texts naming operands that name operands ...
    if (depth > 64)
        assert_fail("result texts nest no deeper than the tree", __FILE__, __LINE__);
    depth++;
    expand_text(t, text, lv, sub);
    depth--;
}

// The text an operand escape (such as "~L") writes for a node at a level,
// as a string: for emitter escapes that build instructions around it.
std::string operand_text(tree_node *node, int level, const char *text)
{
    size_t mark = out_line.size();
    bool column = column_seen;
    expand_state xs;
    expand_text(node, text, level, xs);
    std::string got = out_line.substr(mark);
    out_line.resize(mark);
    column_seen = column;
    return got;
}

// I: argument depth.
static void escape_depth(tree_node *t, const escape &e)
{
    if (e.which != 'N') {
        msg_report(705, e.which);
        return;
    }
    if (e.sign == '+')
        arg_depth += (int)node_size(t);
    else if (e.sign == '-')
        arg_depth -= (int)node_size(t);
    else if (e.k >= 0)
        arg_depth += e.k;
    if (arg_depth > arg_high)
        arg_high = arg_depth;
    cg_symbol *f = current_function;
    int frame = f ? (int)(f->call_params + f->call_autos) : 0;
    if (e.sign || e.k >= 0)
        return;
    out_printf("%d", frame + arg_depth);
}

// One escape whose letter and modifiers have been read.
static void do_escape(tree_node *node, int level, escape &e, expand_state &xs)
{
    int lv;
    tree_node *t = select_node(node, level, e, &lv);
    if (!t)
        return;
    if (e.div && e.letter != '~')
        xs.slice = (int)(node_size(t) / (uint32_t)e.div ? node_size(t) / (uint32_t)e.div : 1);
    switch (e.letter) {
    case '~': escape_operand(t, lv, e, xs); break;
    case 'A': if (char c = class_letter(t)) out_putc(c); break;
    case 'B': out_printf("%lu", (unsigned long)type_size(pointee(t))); break;
    case 'C':
        if (t->op == OP_BITFIELD && t->bitfield)
            out_printf("%d", t->bitfield->bit_offset);
        else if (t->op == OP_ID && t->sym && class_letter(t) && type_arith_class(type_unqualify(t->type)) == AR_BIT)
            out_printf("%ld", (long)t->sym->address);
        else
            xs.offset += e.k > 0 ? e.k : 0;
        break;
    case 'D': {
        int off = (e.k >= 0 ? e.k : xs.offset) + e.plus;
        if (xs.slice)
            off *= xs.slice;
        if (e.which == 'D')
            xs.offset = off;
        else
            out_printf("%d", off);
        break;
    }
    case 'E':
        if (!emit_escape)
            assert_fail("emit_escape", __FILE__, __LINE__);
        else
            xs.offset = emit_escape(e.k, t, xs.offset, lv);
        break;
    case 'G': case 'X': case 'Y': escape_register(t, lv, e, xs); break;
    case 'H': out_printf("%s", byte_selector_prefix(xs.offset + e.plus, xs.slice ? (int)node_size(t) : 1)); break;
    case 'I': escape_depth(t, e); break;
    case 'N':
        if (!t->label)
            t->label = new_label_number();
        out_printf("%u", t->label);
        break;
    case 'O': out_printf("%s", e.k == 9 ? op_spelling[t->op] : op_stem(t->op)); break;
    case 'P': out_putc(size_letter(type_size(pointee(t)))); break;
    case 'Q': out_printf("%s", op_stem(t->op)); break;
    case 'S': escape_name(t, e, xs); break;
    case 'T': {
        long v = t->op == OP_BITFIELD && t->bitfield ? t->bitfield->bit_width
                 : const_bit_number((uint32_t)t->value, t) ? const_bit_number((uint32_t)t->value, t) - 1
                                                           : const_bit_number(~(uint32_t)t->value, t) - 1;
        out_printf("%ld", v);
        break;
    }
    case 'U': out_printf("%d", cond_nesting + (e.k > 0 ? e.k : 0)); break;
    case 'V': escape_value(t, e, xs); break;
    case 'W': out_putc(size_letter(node_size(t))); break;
    case 'Z': out_printf("%lu", (unsigned long)(e.which == 'S' ? type_size(pointee(t)) : node_size(t))); break;
    default: break;   // K and M: accepted, no effect
    }
}

// Skips to the end of the line (before its newline or ';').
static const char *skip_line(const char *p)
{
    while (*p && *p != '\n' && *p != '\r' && *p != ';')
        p++;
    return p;
}

// Z=n, Z+, Z-: conditional lines and deferred text. Returns the position after.
static const char *escape_z(tree_node *node, int level, const char *p, expand_state &xs)
{
    if (*p == '=') {
        p++;
        int n = read_number(p);
        if (n >= 128)
            xs.slice = 0;
        else if (n != xs.offset)
            p = skip_line(p);
        return p;
    }
    if (*p == '+') {
        xs.deferred = p + 1;
        xs.def_node = node;
        xs.def_level = level;
        return skip_line(p + 1);
    }
    bool keep = p[1] == '!';
    p += keep ? 2 : 1;
    if (xs.deferred) {
        std::string saved(xs.deferred, skip_line(xs.deferred));
        expand_state sub = xs;
        sub.deferred = nullptr;
        expand_text(xs.def_node, saved.c_str(), xs.def_level, sub);
        if (keep)
            sub.slice = xs.slice;
        xs.offset = sub.offset;
        xs.slice = sub.slice;
    }
    return p;
}

// The expansion loop of one text.
static void expand_text(tree_node *node, const char *text, int level, expand_state &xs)
{
    const char *line_start = text;
    for (const char *p = text; *p;) {
        char c = *p++;
        if (c == '\n' || c == '\r') {
            end_line(c == '\n');
            if (*p == '\b')
                p++;
            else if (*p)
                out_putc('\t');
            line_start = p;
            xs.repeat = -1;
        } else if (c == ' ') {
            out_putc(column_seen ? ' ' : '\t');
            column_seen = true;
        } else if (c == ';') {
            if (*p == ';')
                out_putc(';');
            return;
        } else if (c == '`') {
            out_putc(';');
        } else if (c == '~' && *p == '~') {
            out_putc('~');
            p++;
        } else if (c == 'Z' && (*p == '=' || *p == '+' || *p == '-')) {
            p = escape_z(node, level, p, xs);
        } else if (c == '~' || isupper((unsigned char)c)) {
            escape e;
            e.letter = c;
            if (c == '~') {
                e.tilde = true;
                if (*p == 'G' || *p == 'X' || *p == 'Y')
                    e.letter = *p++;
            } else if (c == 'L' || c == 'R' || c == 'U') {
                e.letter = '~';
                p--;
            }
            if (c == 'U' || (c == '~' && *p == 'U')) {
                e.letter = 'U';
                p++;
                read_modifiers(p, e);
                do_escape(node, level, e, xs);
                continue;
            }
            read_modifiers(p, e);
            if (e.letter == 'V' && e.sign) {
                if (escape_repeat(node, e, xs)) {
                    end_line(true);
                    out_putc('\t');
                    p = line_start;
                }
                continue;
            }
            do_escape(node, level, e, xs);
        } else {
            out_putc(c);
        }
    }
}

void cg_expand_template(tree_node *node, const char *text, int level)
{
    if (!text || !*text)
        return;
    column_seen = false;
    if (*text == '\b')
        text++;
    else
        out_putc('\t');
    expand_state xs;
    expand_text(node, text, level, xs);
    end_line(true);
}

// ---------------------------------------------------------------------------
// statements
// ---------------------------------------------------------------------------
static void emit_levels(tree_node *n)
{
    for (int i = 0; i < n->level_count; i++) {
        const pattern_record *rec = pattern_at((uint32_t)n->pattern[i]);
        // a temporary class of a size (temp2 ...) takes that many bytes,
        // the plain one as many as the node's value
        for (uint32_t *r : {&n->scratch_reg[i], &n->third_reg[i]}) {
            if (*r < REG_TEMP_BASE || *r >= REG_INTERNAL_BASE)
                continue;
            uint32_t size = *r - REG_TEMP_BASE;
            *r = size ? temp_alloc(nullptr, size) : temp_alloc(n, 0);
        }
        if (n->result_reg[i] >= REG_TEMP_BASE) {
            uint8_t saved = n->level_count;
            n->level_count = (uint8_t)(i + 1);
            n->result_reg[i] = result_register(n);
            n->level_count = saved;
        }
        const char *t = rec->templ;
        if (!t || !*t)
            continue;
        if (!strncmp(t, "#error", 6)) {
            if (!dry_run)
                cg_fatal(1137, t);
            continue;
        }
        cg_expand_template(n, t, i);
    }
}

// The after texts of an operand's patterns, from its top level down.
static void emit_after_texts(tree_node *n)
{
    for (int i = n ? n->level_count - 1 : -1; i >= 0; i--) {
        const pattern_record *rec = pattern_at((uint32_t)n->pattern[i]);
        if (rec->after && *rec->after)
            cg_expand_template(n, rec->after, i);
    }
}

// Writes a node's code: operands in the chosen order, then its levels.
static void emit_node(tree_node *n)
{
    if (!n)
        return;
    bool cond = op_attr[n->op] & OA_CONDITIONAL;
    cond_nesting += cond;
    int entry_depth = arg_depth;
    int arity = op_arity((int)n->op);
    if (arity == OA_BINARY) {
        bool left_first = n->flags & NF_LEFT_FIRST;
        emit_node(left_first ? n->left : n->right);
        emit_node(left_first ? n->right : n->left);
    } else if (arity == OA_UNARY || n->op == OP_CALLARGS) {
        for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
            emit_node((tree_node *)vec_get(n->args, i));
        emit_node(n->left);
    }
    if (n->op == OP_ASM && n->asm_text)
        out_printf("%s\n", n->asm_text);
    emit_levels(n);
    if (arity == OA_BINARY) {
        bool left_first = n->flags & NF_LEFT_FIRST;
        emit_after_texts(left_first ? n->right : n->left);
        emit_after_texts(left_first ? n->left : n->right);
    } else if (arity == OA_UNARY) {
        emit_after_texts(n->left);
    }
    if (n->op == OP_CALL)
        arg_depth = entry_depth;
    cond_nesting -= cond;
}

void cg_emit_tree(tree_node *tree, int)
{
    if (!dry_run && tree->text) {
        out_printf("%s", tree->text);
        if (!*tree->text || tree->text[strlen(tree->text) - 1] != '\n')
            out_putc('\n');
        free(tree->text);
        tree->text = nullptr;
    }
    if (!stmt_used)
        stmt_used = objset_new();
    objset_clear(stmt_used);
    arg_high = 0;
    emit_node(tree);
    objset_union_with(tree->sets[SET_WRITTEN], stmt_used);
    if (func_used)
        objset_union_with(func_used, tree->sets[SET_WRITTEN]);
}

// ---------------------------------------------------------------------------
// rewrite texts
// ---------------------------------------------------------------------------
static tree_node *rewrite_target(tree_node *node, char which)
{
    return which == 'L' ? node->left : which == 'R' ? node->right : node;
}

// Escapes: letter, optional digit, which letter (N, L, R).
std::string rewrite_text(tree_node *node, const char *text)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        char c = *p;
        const char *q = p + 1;
        int digit = isdigit((unsigned char)*q) ? *q++ - '0' : -1;
        if (strchr("ANOQWZ", c) && *q && strchr("NLR", *q)) {
            tree_node *t = rewrite_target(node, *q);
            p = q;
            if (!t)
                continue;
            switch (c) {
            case 'A': if (char l = class_letter(t)) out += l; break;
            case 'N':
                if (!t->label)
                    t->label = new_label_number();
                out += std::to_string(t->label);
                break;
            case 'O': case 'Q': out += digit == 9 ? op_spelling[t->op] : op_stem(t->op); break;
            case 'W': {
                type_desc *ty = type_unqualify(t->type);
                if (digit == 9 && ty && ty->kind == TY_ENUM && ty->sub)
                    ty = type_unqualify(ty->sub);
                out += digit == 9 ? (ty && ty->name ? ty->name : "") : std::string(1, size_letter(node_size(t)));
                break;
            }
            case 'Z': out += std::to_string(node_size(t)); break;
            }
            continue;
        }
        if (strchr("&*$-:", c) && islower((unsigned char)p[1])) {
            out += c;
            out += (char)toupper((unsigned char)*++p);
        } else if (c == ',' && p[1] == ',') {
            out += ';';
            p++;
        } else {
            out += c;
        }
    }
    return out;
}

void expand_reset()
{
    dry_run = false;
    out_stream = stdout;
    free(out_comment);
    out_comment = nullptr;
    out_line.clear();
    column_seen = false;
    arg_depth = arg_high = 0;
    cond_nesting = 0;
    emit_escape = nullptr;
    if (!stmt_used)
        stmt_used = objset_new();
    objset_clear(stmt_used);
}
