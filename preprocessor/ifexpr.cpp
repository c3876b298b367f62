// #if expressions and the type size table.
//
// An operator-precedence parser with an operator stack and a value stack
// reads the rest of the directive line (macros expanded as read). Values are
// 32 bits with a signed/unsigned flag; arithmetic wraps, >> is logical,
// comparisons are unsigned when either side is, division by zero gives 0 and
// a warning. Each stacked operator carries a suppression flag: the side of
// && || ?: that C would not evaluate still gets evaluated, but its
// diagnostics are silenced. sizeof(type) takes its sizes from a table the
// driver fills for the chip with -S and -SP.
#include "wren.h"

#include <cstring>

struct ifx_value {
    uint32_t v;      // the bits
    bool is_unsigned;
};

enum {
    OP_END = 0, OP_VAL = 1, OP_ID = 2, OP_ADD = 3, OP_SUB = 4, OP_MUL = 5, OP_DIV = 6, OP_MOD = 7,
    OP_SHL = 8, OP_SHR = 9, OP_AND = 10, OP_OR = 11, OP_XOR = 12, OP_EQ = 13, OP_NE = 14,
    OP_LT = 15, OP_LE = 16, OP_GE = 17, OP_GT = 18, OP_LAND = 19, OP_LOR = 20, OP_QUEST = 21,
    OP_COLON = 22, OP_COMMA = 23, OP_PLUS = 24, OP_NEG = 25, OP_COMPL = 26, OP_NOT = 27,
    OP_LPAREN = 28, OP_RPAREN = 29, OP_NONE = 30, OP_COUNT = 31,
};

struct ifx_operator {
    const char *name; // used in messages
    int prec;         // binding strength; 0 for the end
    bool after_operand; // stands after an operand (binary, ')', end)
};

// name                  prec  after operand
static const ifx_operator ifx_ops[OP_COUNT] = {
    {"end of expression",  0, true},  // OP_END
    {"val",               16, false}, // OP_VAL
    {"id",                16, false}, // OP_ID
    {"+",                 12, true},  // OP_ADD
    {"-",                 12, true},  // OP_SUB
    {"*",                 13, true},  // OP_MUL
    {"/",                 13, true},  // OP_DIV
    {"%",                 13, true},  // OP_MOD
    {"<<",                11, true},  // OP_SHL
    {">>",                11, true},  // OP_SHR
    {"&",                  8, true},  // OP_AND
    {"|",                  6, true},  // OP_OR
    {"^",                  7, true},  // OP_XOR
    {"==",                 9, true},  // OP_EQ
    {"!=",                 9, true},  // OP_NE
    {"<",                 10, true},  // OP_LT
    {"<=",                10, true},  // OP_LE
    {">=",                10, true},  // OP_GE
    {">",                 10, true},  // OP_GT
    {"&&",                 5, true},  // OP_LAND
    {"||",                 4, true},  // OP_LOR
    {"?",                  3, true},  // OP_QUEST
    {":",                  3, true},  // OP_COLON
    {",",                  2, true},  // OP_COMMA
    {"unary +",           14, false}, // OP_PLUS
    {"unary -",           14, false}, // OP_NEG
    {"~",                 14, false}, // OP_COMPL
    {"!",                 14, false}, // OP_NOT
    {"(",                 15, false}, // OP_LPAREN
    {")",                  1, true},  // OP_RPAREN
    {"(none)",            -1, false}, // OP_NONE
};

struct ifx_entry {
    int op;        // operator code
    int prec;      // its precedence
    bool suppress; // diagnostics of the operand after it are silenced
};

// Type size table rows, in the order -S and -SP fill them.
struct ifx_size_row {
    unsigned bits;   // type words that make the type
    unsigned size;   // sizeof(type)
    unsigned psize;  // sizeof(type *)
};

static ifx_size_row ifx_sizes[] = {
    {0x1, 1, 4},   // char
    {0x10, 2, 4},  // short
    {0x2, 4, 4},   // int
    {0x400, 4, 4}, // short long
    {0x20, 4, 4},  // long
    {0x4, 4, 4},   // float
    {0x8, 8, 4},   // double
    {0x200, 0, 4}, // function pointer
};
enum { ROW_SHORT_LONG = 3, ROW_FUNCPTR = 7, SIZE_ROWS = 8 };

static ifx_entry ifx_opstack[128]; // operator stack
static int ifx_optop;              // entries in use
static ifx_value ifx_valstack[127]; // value stack
static int ifx_valtop;             // values in use
static bool ifx_failed;            // an error abandoned the expression

// ---------------------------------------------------------------------------
// -S and -SP
// ---------------------------------------------------------------------------

// -S<n>,... sets sizes from char; -SP<n>,... or -S*<n>,... pointer sizes.
void ifx_size_option(const char *arg)
{
    const char *p = arg + 2;
    bool pointers = *p == 'P' || *p == 'p' || *p == '*';
    if (pointers)
        p++;
    std::vector<unsigned> values;
    std::vector<const char *> starts; // where each value is written
    for (; *p; ) {
        if (*p >= '0' && *p <= '9') {
            starts.push_back(p);
            unsigned long n = strtoul(p, (char **)&p, 10);
            values.push_back((unsigned)n);
            continue;
        }
        p++;
    }
    unsigned rows = pointers ? SIZE_ROWS : SIZE_ROWS - 1;
    bool skip_short_long = values.size() < rows;
    unsigned need = skip_short_long ? rows - 1 : rows;
    if (values.size() < need)
        msg_report(166, arg);
    unsigned row = 0;
    size_t i = 0;
    for (; i < values.size() && row < rows; row++) {
        if (row == ROW_SHORT_LONG && skip_short_long)
            continue;
        if (pointers)
            ifx_sizes[row].psize = values[i++];
        else
            ifx_sizes[row].size = values[i++];
    }
    if (i < values.size())
        msg_report(167, starts[i]); // the text from the first value not used
}

// ---------------------------------------------------------------------------
// tokens
// ---------------------------------------------------------------------------

static bool ifx_suppressed()
{
    for (int i = 0; i < ifx_optop; i++)
        if (ifx_opstack[i].suppress)
            return true;
    return false;
}

static void ifx_error()
{
    ifx_failed = true;
}

// A number: decimal, octal or hex, in 32 bits (wrapping); unsigned when it
// came out negative or has a u/U suffix. text receives it as written.
static ifx_value ifx_number(int c, wstr &text)
{
    uint32_t v = 0;
    int base = 10;
    if (c == '0') {
        base = 8;
        text += (wch)c;
        c = in_getc();
        if (c == 'x' || c == 'X') {
            base = 16;
            text += (wch)c;
            c = in_getc();
        }
    }
    for (int d; (d = hex_digit_value(c)) >= 0 && d < base; c = in_getc()) {
        v = v * (uint32_t)base + (uint32_t)d;
        text += (wch)c;
    }
    bool is_unsigned = v > 0x7FFFFFFFu;
    while (c == 'u' || c == 'U' || c == 'l' || c == 'L') {
        if (c == 'u' || c == 'U')
            is_unsigned = true;
        text += (wch)c;
        c = in_getc();
    }
    in_ungetc(c);
    return {v, is_unsigned};
}

// One character of a character constant, escapes decoded.
static uint32_t ifx_char_unit(int c)
{
    if (c != '\\')
        return (uint32_t)c & 0xFF;
    c = in_getc();
    switch (c) {
    case 'a': return 7;
    case 'b': return 8;
    case 'f': return 12;
    case 'n': return 10;
    case 'r': return 13;
    case 't': return 9;
    case 'v': return 11;
    case 'x': {
        uint32_t v = 0;
        int n = 0;
        for (c = in_getc(); n < 3 && hex_digit_value(c) >= 0; c = in_getc(), n++)
            v = v * 16 + (uint32_t)hex_digit_value(c);
        in_ungetc(c);
        return v & 0xFF;
    }
    }
    if (c >= '0' && c <= '7') {
        uint32_t v = 0;
        for (int n = 0; n < 3 && c >= '0' && c <= '7'; n++, c = in_getc())
            v = v * 8 + (uint32_t)(c - '0');
        in_ungetc(c);
        return v & 0xFF;
    }
    return (uint32_t)c & 0xFF;
}

static ifx_value ifx_char_constant()
{
    bool was_raw = in_raw;
    in_raw = true;
    uint32_t v = 0;
    int count = 0;
    int first = 0;
    for (;;) {
        int c = in_getc();
        if (c == '\'' || c == '\n' || c == CH_EOF) {
            if (c != '\'')
                in_ungetc(c);
            break;
        }
        if (count == 0)
            first = c;
        else if (count == 1 && !ifx_suppressed())
            msg_report(174, first);
        v = (v << 8) + ifx_char_unit(c);
        count++;
    }
    in_raw = was_raw;
    return {v, false};
}

// defined X or defined(X).
static bool ifx_defined(ifx_value &out)
{
    int c = in_next_nonblank();
    bool paren = c == '(';
    if (paren)
        c = in_next_nonblank();
    if (in_class(c) != CC_IDENT) {
        msg_report(127);
        in_ungetc(c);
        return false;
    }
    in_read_ident(c);
    out = {mac_find(in_name_buf) ? 1u : 0u, false};
    if (paren && in_next_nonblank() != ')') {
        msg_report(127);
        return false;
    }
    return true;
}

static unsigned ifx_type_word(const wstr &w)
{
    static const struct { const char16_t *name; unsigned bits; } words[] = {
        {u"char", 0x1}, {u"int", 0x2}, {u"float", 0x4}, {u"double", 0x8},
        {u"short", 0x10}, {u"long", 0x20}, {u"signed", 0x40}, {u"unsigned", 0x80},
    };
    for (const auto &t : words)
        if (w == t.name)
            return t.bits;
    return 0;
}

static int ifx_bit_count(unsigned v)
{
    int n = 0;
    for (; v; v &= v - 1)
        n++;
    return n;
}

// The type of sizeof(...) as type bits; false after a reported error.
static bool ifx_sizeof_type(unsigned &bits)
{
    bits = 0;
    if (in_next_nonblank() != '(') {
        msg_report(134);
        return false;
    }
    for (;;) {
        int c = in_next_nonblank();
        if (c == ')')
            return true;
        if (in_class(c) == CC_IDENT) {
            in_read_ident(c);
            macro_rec *m = mac_lookup_enabled(in_name_buf);
            if (m && mac_expand(m))
                continue;
            unsigned b = ifx_type_word(in_name_buf);
            if (!b) {
                msg_report(130, alert_narrow(in_name_buf).c_str());
                return false;
            }
            bits |= b;
        } else if (c == '*' && !(bits & 0x100)) {
            bits |= 0x100;
        } else if (c == '(' && in_next_nonblank() == '*' && in_next_nonblank() == ')' &&
                   in_next_nonblank() == '(' && in_next_nonblank() == ')') {
            bits |= 0x200;
        } else {
            msg_report(134);
            return false;
        }
    }
}

// sizeof(type): steps 1 to 4 of the type rules.
static bool ifx_sizeof(ifx_value &out)
{
    unsigned bits;
    if (!ifx_sizeof_type(bits))
        return false;
    if ((bits & 0x30) == 0x30)
        bits = (bits & ~0x30u) | 0x400;
    for (unsigned group : {0x3Cu, 0x0Fu, 0xCCu, 0x31u}) {
        if (ifx_bit_count(bits & group) > 1) {
            msg_report(131);
            return false;
        }
    }
    if (bits & 0x200) {
        out = {ifx_sizes[ROW_FUNCPTR].psize, true};
        return true;
    }
    bool pointer = bits & 0x100;
    unsigned base = bits & ~0x100u;
    if (base & (0x1 | 0x4 | 0x8 | 0x10 | 0x20 | 0x400))
        base &= ~(0x40u | 0x80u | 0x2u);
    else if (base & (0x40 | 0x80 | 0x2))
        base = 0x2; // signed or unsigned alone is int
    if (!base) {
        msg_report(132);
        return false;
    }
    for (const ifx_size_row &row : ifx_sizes) {
        if (row.bits == base) {
            out = {pointer ? row.psize : row.size, true};
            return true;
        }
    }
    msg_report(133, base);
    return false;
}

// Two-character operators and the single ones.
static int ifx_operator_token(int c)
{
    int d = in_getc();
    switch (c) {
    case '=': if (d == '=') return OP_EQ; msg_report(128); in_ungetc(d); return -1;
    case '!': if (d == '=') return OP_NE; in_ungetc(d); return OP_NOT;
    case '<': if (d == '=') return OP_LE; if (d == '<') return OP_SHL; in_ungetc(d); return OP_LT;
    case '>': if (d == '=') return OP_GE; if (d == '>') return OP_SHR; in_ungetc(d); return OP_GT;
    case '&': if (d == '&') return OP_LAND; in_ungetc(d); return OP_AND;
    case '|': if (d == '|') return OP_LOR; in_ungetc(d); return OP_OR;
    }
    in_ungetc(d);
    switch (c) {
    case '+': return OP_ADD;
    case '-': return OP_SUB;
    case '*': return OP_MUL;
    case '/': return OP_DIV;
    case '%': return OP_MOD;
    case '^': return OP_XOR;
    case '?': return OP_QUEST;
    case ':': return OP_COLON;
    case ',': return OP_COMMA;
    case '~': return OP_COMPL;
    case '(': return OP_LPAREN;
    case ')': return OP_RPAREN;
    }
    return -1;
}

// The next token: an operator code, OP_VAL with out filled, or -1 after a
// reported error.
static int ifx_token(ifx_value &out)
{
    for (;;) {
        int c = in_next_nonblank();
        int k = in_class(c);
        if (c == '\n' || c == CH_EOF) {
            in_ungetc(c);
            return OP_END;
        }
        if (k == CC_DIGIT) {
            wstr text;
            out = ifx_number(c, text);
            if (mac_try_paste(text))
                continue;
            return OP_VAL;
        }
        if (c == '\'') {
            out = ifx_char_constant();
            return OP_VAL;
        }
        if (k == CC_IDENT) {
            in_read_ident(c);
            if (in_name_buf == u"defined")
                return ifx_defined(out) ? OP_VAL : -1;
            if (in_name_buf == u"sizeof")
                return ifx_sizeof(out) ? OP_VAL : -1;
            macro_rec *m = mac_lookup_enabled(in_name_buf);
            if (m && mac_expand(m))
                continue;
            wstr name = in_name_buf;
            if (mac_try_paste(name))
                continue;
            out = {0, false};
            return OP_VAL;
        }
        if (c == '"') {
            msg_report(126);
            return -1;
        }
        if (c == '\\') {
            msg_report(129);
            return -1;
        }
        if (k == CC_OPERATOR || c == ',')
            return ifx_operator_token(c);
        if (!ifx_suppressed()) {
            if (c >= 0x20 && c < 0x7F)
                msg_report(124, c);
            else
                msg_report(125, c);
        }
        return -1;
    }
}

// ---------------------------------------------------------------------------
// evaluation
// ---------------------------------------------------------------------------

static int32_t ifx_signed(uint32_t v)
{
    return (int32_t)v;
}

static bool ifx_compare(int op, ifx_value a, ifx_value b)
{
    bool u = a.is_unsigned || b.is_unsigned;
    int cmp;
    if (u)
        cmp = a.v < b.v ? -1 : a.v > b.v;
    else
        cmp = ifx_signed(a.v) < ifx_signed(b.v) ? -1 : ifx_signed(a.v) > ifx_signed(b.v);
    switch (op) {
    case OP_LT: return cmp < 0;
    case OP_LE: return cmp <= 0;
    case OP_GE: return cmp >= 0;
    default: return cmp > 0;
    }
}

// / and %: wrap-around, never a trap; unsigned when either side is.
static uint32_t ifx_divide(int op, ifx_value a, ifx_value b, bool quiet)
{
    if (b.v == 0) {
        if (!quiet) {
            if (op == OP_DIV)
                msg_report(175);
            else
                msg_report(990);
        }
        return 0;
    }
    if (a.is_unsigned || b.is_unsigned)
        return op == OP_DIV ? a.v / b.v : a.v % b.v;
    if (b.v == 0xFFFFFFFFu) // x / -1 and x % -1 without the INT_MIN trap
        return op == OP_DIV ? 0u - a.v : 0u;
    int32_t x = ifx_signed(a.v), y = ifx_signed(b.v);
    return (uint32_t)(op == OP_DIV ? x / y : x % y);
}

static ifx_value ifx_binary(int op, ifx_value a, ifx_value b, bool quiet)
{
    bool u = a.is_unsigned || b.is_unsigned;
    switch (op) {
    case OP_ADD: return {a.v + b.v, u};
    case OP_SUB: return {a.v - b.v, u};
    case OP_MUL: return {a.v * b.v, u};
    case OP_DIV: case OP_MOD: return {ifx_divide(op, a, b, quiet), u};
    case OP_SHL: return {a.v << (b.v & 31), u};
    case OP_SHR: return {a.v >> (b.v & 31), u};
    case OP_AND: return {a.v & b.v, u};
    case OP_OR: return {a.v | b.v, u};
    case OP_XOR: return {a.v ^ b.v, u};
    case OP_EQ: return {a.v == b.v, false};
    case OP_NE: return {a.v != b.v, false};
    case OP_LT: case OP_LE: case OP_GE: case OP_GT: return {ifx_compare(op, a, b), false};
    case OP_LAND: return {a.v && b.v, false};
    case OP_LOR: return {a.v || b.v, false};
    case OP_COMMA: return b;
    }
    msg_report(135, op);
    ifx_error();
    return {0, false};
}

static ifx_value ifx_pop_value()
{
    if (ifx_valtop == 0) {
        msg_report(119);
        ifx_error();
        return {0, false};
    }
    return ifx_valstack[--ifx_valtop];
}

static void ifx_push_value(ifx_value v)
{
    if (ifx_valtop >= (int)(sizeof ifx_valstack / sizeof ifx_valstack[0])) {
        msg_report(118);
        ifx_error();
        return;
    }
    ifx_valstack[ifx_valtop++] = v;
}

// Applies the top operator to the value stack and pops it.
static void ifx_apply()
{
    ifx_entry e = ifx_opstack[--ifx_optop];
    bool quiet = ifx_suppressed() || e.suppress;
    switch (e.op) {
    case OP_PLUS: break;
    case OP_NEG: { ifx_value a = ifx_pop_value(); ifx_push_value({0u - a.v, a.is_unsigned}); break; }
    case OP_COMPL: { ifx_value a = ifx_pop_value(); ifx_push_value({~a.v, a.is_unsigned}); break; }
    case OP_NOT: { ifx_value a = ifx_pop_value(); ifx_push_value({a.v == 0, a.is_unsigned}); break; }
    case OP_QUEST:
        msg_report(123, ifx_ops[ifx_opstack[ifx_optop > 0 ? ifx_optop - 1 : 0].op].name);
        ifx_error();
        break;
    case OP_COLON: {
        if (ifx_optop == 0 || ifx_opstack[ifx_optop - 1].op != OP_QUEST) {
            msg_report(123, ifx_ops[ifx_optop > 0 ? ifx_opstack[ifx_optop - 1].op : OP_NONE].name);
            ifx_error();
            break;
        }
        ifx_optop--;
        ifx_value b = ifx_pop_value();
        ifx_value a = ifx_pop_value();
        ifx_value cond = ifx_pop_value();
        ifx_value r = cond.v ? a : b;
        r.is_unsigned = a.is_unsigned || b.is_unsigned;
        ifx_push_value(r);
        break;
    }
    default: {
        ifx_value b = ifx_pop_value();
        ifx_value a = ifx_pop_value();
        ifx_push_value(ifx_binary(e.op, a, b, quiet));
    }
    }
}

// Applies stacked operators that bind at least as tightly as op. ?: groups
// from the right: a '?' stops at any pending '?' or ':', a ':' completes the
// pending inner conditionals and stops at its own '?'.
static void ifx_reduce(int op)
{
    int prec = ifx_ops[op].prec;
    while (!ifx_failed && ifx_optop > 1) {
        const ifx_entry &top = ifx_opstack[ifx_optop - 1];
        if (top.op == OP_LPAREN || top.prec < prec)
            break;
        if (op == OP_QUEST && top.prec == prec)
            break;
        if (op == OP_COLON && top.op == OP_QUEST)
            break;
        ifx_apply();
    }
}

// The suppression flag of a binary operator about to be pushed: the right
// side of a false && or a true ||, and the unchosen branch of ?:.
static bool ifx_suppress_for(int op)
{
    if (ifx_valtop == 0)
        return false;
    uint32_t left = ifx_valstack[ifx_valtop - 1].v;
    switch (op) {
    case OP_LAND: return left == 0;
    case OP_LOR: return left != 0;
    case OP_QUEST: return left == 0;
    case OP_COLON:
        // The '?' below stops covering the true branch; ':' covers the false one.
        if (ifx_optop > 0 && ifx_opstack[ifx_optop - 1].op == OP_QUEST) {
            ifx_opstack[ifx_optop - 1].suppress = false;
            return ifx_valtop >= 2 && ifx_valstack[ifx_valtop - 2].v != 0;
        }
        return false;
    }
    return false;
}

static void ifx_push_op(int op)
{
    if (ifx_optop >= (int)(sizeof ifx_opstack / sizeof ifx_opstack[0])) {
        msg_report(121, ifx_ops[op].name);
        ifx_error();
        return;
    }
    bool suppress = ifx_ops[op].after_operand ? ifx_suppress_for(op) : false;
    ifx_opstack[ifx_optop++] = {op, ifx_ops[op].prec, suppress};
}

// Handles one operator token in context; true at the end of the expression.
static bool ifx_operator(int op, bool &want_operand)
{
    if (want_operand && (op == OP_ADD || op == OP_SUB))
        op = op == OP_ADD ? OP_PLUS : OP_NEG;
    if (ifx_ops[op].after_operand == want_operand) {
        msg_report(120, ifx_ops[op].name);
        ifx_error();
        return false;
    }
    if (!ifx_ops[op].after_operand) {
        ifx_push_op(op);
        return false;
    }
    ifx_reduce(op);
    if (ifx_failed)
        return false;
    if (op == OP_RPAREN) {
        if (ifx_opstack[ifx_optop - 1].op != OP_LPAREN) {
            msg_report(122, ifx_ops[op].name);
            ifx_error();
            return false;
        }
        ifx_optop--;
        want_operand = false;
        return false;
    }
    if (op == OP_END) {
        if (ifx_optop > 1) {
            msg_report(122, ifx_ops[op].name);
            ifx_error();
        }
        return true;
    }
    ifx_push_op(op);
    want_operand = true;
    return false;
}

// Reads the rest of the directive line; the value, or 1 after an error.
int32_t ifx_evaluate()
{
    ifx_optop = 0;
    ifx_valtop = 0;
    ifx_failed = false;
    ifx_opstack[ifx_optop++] = {OP_NONE, ifx_ops[OP_NONE].prec, false};
    bool want_operand = true;
    while (!ifx_failed) {
        ifx_value v{0, false};
        int tok = ifx_token(v);
        if (tok < 0) {
            ifx_error();
            break;
        }
        if (tok == OP_VAL) {
            if (!want_operand) {
                msg_report(117);
                ifx_error();
                break;
            }
            ifx_push_value(v);
            want_operand = false;
            continue;
        }
        if (ifx_operator(tok, want_operand))
            break;
    }
    if (ifx_failed || ifx_valtop != 1)
        return 1;
    return ifx_signed(ifx_valstack[0].v);
}
