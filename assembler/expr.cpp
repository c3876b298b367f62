// Expressions of the assembler.
//
// Operands are parsed into small trees with C-like precedence (| below ^
// below & below shifts below + - below * / %), the unary operators - ~ not
// and the functions low() and high(). A tree whose leaves are all known in
// this module folds to a number; any other becomes, in the object file, a
// postfix relocation program for the linker's evaluator: push the right
// operand, push the left one, apply the operator.
#include "osprey.h"

#include <cctype>
#include <cstring>
#include <strings.h>

// Opcodes of the linker's relocation evaluator.
enum {
    RX_END = 0, RX_LOW = 1, RX_HIGH = 2, RX_CONST = 3, RX_ADD = 4, RX_SUB = 5, RX_MUL = 6,
    RX_DIV = 7, RX_SHL = 8, RX_SHR = 9, RX_AND = 10, RX_OR = 11, RX_XOR = 12, RX_NOT = 13,
    RX_NEG = 14, RX_PSECT = 16, RX_MOD = 17, RX_MARK = 19, RX_SYMBOL = 32,
};

// Equ chains deeper than this are taken as a definition in terms of itself.
static const int DEPTH_LIMIT = 64;
// Trees higher than this (and parentheses or unary operators nested deeper)
// are refused: every walk over a tree recurses once per level.
static const int HEIGHT_LIMIT = 200;

bool expr_ident_start(int c) { return isalpha(c) || c == '_' || c == '?' || c == '@'; }
bool expr_ident_char(int c) { return isalnum(c) || c == '_' || c == '?' || c == '@' || c == '$'; }

static int digit_value(int c)
{
    if (isdigit(c))
        return c - '0';
    if (isalpha(c))
        return tolower(c) - 'a' + 10;
    return 99;
}

static bool number_in_base(const std::string &digits, int base, long *value)
{
    if (digits.empty())
        return false;
    unsigned long v = 0;
    for (char c : digits) {
        int d = digit_value(static_cast<unsigned char>(c));
        if (d >= base)
            return false;
        v = v * base + d;
        if (v > 0xFFFFFFFFul)
            return false;
    }
    *value = static_cast<long>(v);
    return true;
}

bool expr_number(const std::string &t, long *value)
{
    if (t.empty() || !isdigit(static_cast<unsigned char>(t[0])))
        return false;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        return number_in_base(t.substr(2), 16, value);
    char last = static_cast<char>(tolower(static_cast<unsigned char>(t.back())));
    std::string body = t.substr(0, t.size() - 1);
    switch (last) {
    case 'h': return number_in_base(body, 16, value);
    case 'o': case 'q': return number_in_base(body, 8, value);
    case 'd': return number_in_base(body, 10, value);
    default: return number_in_base(t, 10, value);
    }
}

// ---------------------------------------------------------------------------
// parsing
// ---------------------------------------------------------------------------
struct expr_parser {
    const std::string &s;
    size_t pos;
    bool failed;
    int nesting = 0;        // parentheses and unary operators open now
    bool too_deep = false;
};

static void skip_blanks(expr_parser &p)
{
    while (p.pos < p.s.size() && isspace(static_cast<unsigned char>(p.s[p.pos])))
        p.pos++;
}

static bool accept(expr_parser &p, const char *tok)
{
    skip_blanks(p);
    size_t n = strlen(tok);
    if (p.s.compare(p.pos, n, tok) != 0)
        return false;
    // "<" must not take the first half of "<<" and the like.
    if (n == 1 && (tok[0] == '<' || tok[0] == '>') && p.pos + 1 < p.s.size() && p.s[p.pos + 1] == tok[0])
        return false;
    p.pos += n;
    return true;
}

static expr_ptr make(expr_kind k, int op, expr_ptr l = nullptr, expr_ptr r = nullptr)
{
    auto e = std::make_shared<expr>();
    e->kind = k;
    e->op = op;
    e->value = 0;
    e->left = l;
    e->right = r;
    e->height = 1 + std::max(l ? l->height : 0, r ? r->height : 0);
    return e;
}

// Enters one more level of parentheses or unary operators; false (and the
// parse fails) beyond the limit.
static bool enter(expr_parser &p)
{
    if (++p.nesting <= HEIGHT_LIMIT)
        return true;
    p.too_deep = p.failed = true;
    return false;
}

// A tree grown past the limit fails the parse.
static expr_ptr checked(expr_parser &p, expr_ptr e)
{
    if (e->height > HEIGHT_LIMIT)
        p.too_deep = p.failed = true;
    return e;
}

static expr_ptr parse_or(expr_parser &p);

// A word (identifier) at the parser's position, without moving it.
static std::string peek_word(expr_parser &p)
{
    skip_blanks(p);
    size_t i = p.pos;
    if (i >= p.s.size() || !expr_ident_start(static_cast<unsigned char>(p.s[i])))
        return "";
    while (i < p.s.size() && expr_ident_char(static_cast<unsigned char>(p.s[i])))
        i++;
    return p.s.substr(p.pos, i - p.pos);
}

static expr_ptr parse_primary(expr_parser &p)
{
    skip_blanks(p);
    if (p.pos >= p.s.size()) {
        p.failed = true;
        return nullptr;
    }
    char c = p.s[p.pos];
    if (c == '(') {
        p.pos++;
        expr_ptr e = parse_or(p);
        if (!accept(p, ")"))
            p.failed = true;
        return e;
    }
    if (c == '\'' && p.pos + 2 < p.s.size() && p.s[p.pos + 2] == '\'') {
        expr_ptr e = make(EX_NUM, 0);
        e->value = static_cast<unsigned char>(p.s[p.pos + 1]);
        p.pos += 3;
        return e;
    }
    if (c == '$' && (p.pos + 1 >= p.s.size() || !expr_ident_char(static_cast<unsigned char>(p.s[p.pos + 1])))) {
        p.pos++;
        return make(EX_HERE, 0);
    }
    if (isdigit(static_cast<unsigned char>(c))) {
        size_t i = p.pos;
        while (i < p.s.size() && isalnum(static_cast<unsigned char>(p.s[i])))
            i++;
        expr_ptr e = make(EX_NUM, 0);
        if (!expr_number(p.s.substr(p.pos, i - p.pos), &e->value))
            p.failed = true;
        p.pos = i;
        return e;
    }
    std::string w = peek_word(p);
    if (w.empty()) {
        p.failed = true;
        return nullptr;
    }
    p.pos += w.size();
    expr_ptr e = make(EX_SYM, 0);
    e->name = w;
    return e;
}

static expr_ptr parse_unary(expr_parser &p);

static expr_ptr parse_unary_at(expr_parser &p)
{
    if (accept(p, "-"))
        return make(EX_UNARY, 'n', parse_unary(p));
    if (accept(p, "+"))
        return parse_unary(p);
    if (accept(p, "~"))
        return make(EX_UNARY, '~', parse_unary(p));
    std::string w = peek_word(p);
    if (strcasecmp(w.c_str(), "not") == 0) {
        p.pos += w.size();
        return make(EX_UNARY, '~', parse_unary(p));
    }
    bool low = strcasecmp(w.c_str(), "low") == 0, high = strcasecmp(w.c_str(), "high") == 0;
    if (low || high) {
        size_t save = p.pos;
        p.pos += w.size();
        if (accept(p, "(")) {
            expr_ptr inner = parse_or(p);
            if (!accept(p, ")"))
                p.failed = true;
            return make(EX_UNARY, low ? 'L' : 'H', inner);
        }
        p.pos = save;
    }
    return parse_primary(p);
}

// Every parenthesis and unary operator passes here, so the nesting of the
// recursive descent is counted in one place.
static expr_ptr parse_unary(expr_parser &p)
{
    if (p.failed || !enter(p))
        return nullptr;
    expr_ptr e = parse_unary_at(p);
    p.nesting--;
    return e ? checked(p, e) : e;
}

// One level of left-associative binary operators.
static expr_ptr parse_level(expr_parser &p, int level)
{
    static const char *const ops[][3] = {
        {"|", nullptr, nullptr}, {"^", nullptr, nullptr}, {"&", nullptr, nullptr},
        {"<<", ">>", nullptr},   {"+", "-", nullptr},     {"*", "/", "%"},
    };
    if (level == 6)
        return parse_unary(p);
    expr_ptr left = parse_level(p, level + 1);
    for (;;) {
        const char *hit = nullptr;
        for (const char *op : ops[level])
            if (op && accept(p, op)) {
                hit = op;
                break;
            }
        if (!hit || p.failed)
            return left;
        int code = hit[1] ? (hit[0] == '<' ? 'l' : 'r') : hit[0];
        left = checked(p, make(EX_BINARY, code, left, parse_level(p, level + 1)));
    }
}

static expr_ptr parse_or(expr_parser &p) { return parse_level(p, 0); }

// A null link anywhere means the text was not an expression.
static bool expr_complete(const expr_ptr &e)
{
    if (!e)
        return false;
    if (e->kind == EX_UNARY)
        return expr_complete(e->left);
    if (e->kind == EX_BINARY)
        return expr_complete(e->left) && expr_complete(e->right);
    return true;
}

expr_ptr expr_parse(const std::string &text)
{
    expr_parser p{text, 0, false};
    expr_ptr e = parse_or(p);
    skip_blanks(p);
    if (p.too_deep) {
        msg_report(1436, text.c_str(), HEIGHT_LIMIT);
        return nullptr;
    }
    if (p.failed || p.pos != text.size() || !expr_complete(e)) {
        msg_report(1407, text.c_str());
        return nullptr;
    }
    return e;
}

// ---------------------------------------------------------------------------
// evaluation
// ---------------------------------------------------------------------------
// A label or the location, as psect and offset; false for anything else.
static bool expr_location(const expr_ptr &e, int *psect, long *offset, int depth)
{
    if (depth > DEPTH_LIMIT)
        return false;
    if (e->kind == EX_HERE) {
        *psect = as.current;
        *offset = as.statement_loc;
        return as.current >= 0;
    }
    if (e->kind == EX_PLACE) {
        *psect = e->op;
        *offset = e->value;
        return true;
    }
    if (e->kind != EX_SYM)
        return false;
    asm_symbol *s = asm_find(e->name);
    if (s && s->kind == AS_LABEL) {
        *psect = s->psect;
        *offset = s->offset;
        return true;
    }
    if (s && s->kind == AS_VALUE && s->value)
        return expr_location(s->value, psect, offset, depth + 1);
    return false;
}

static bool is_abs(int psect) { return psect >= 0 && (as.psects[psect].flags & OBJ_ABSOLUTE); }

// A value that leads back to itself through a chain of symbols, reported
// once per symbol, in the pass that reports.
static void symbol_cycle(asm_symbol &s)
{
    if (as.pass != 2 || s.cyclic)
        return;
    s.cyclic = true;
    msg_report(1426, s.name.c_str());
}

// `depth` counts the symbols whose values the walk has entered.
static bool constant_at(const expr_ptr &e, long *v, int depth)
{
    long a, b;
    switch (e->kind) {
    case EX_NUM:
        *v = e->value;
        return true;
    case EX_HERE:
        *v = as.statement_loc;
        return is_abs(as.current);
    case EX_PLACE:
        *v = e->value;
        return is_abs(e->op);
    case EX_SYM: {
        asm_symbol &s = asm_sym(e->name);
        s.referenced = true;
        if (s.kind == AS_VALUE && s.value) {
            if (s.cyclic || depth >= DEPTH_LIMIT) {
                symbol_cycle(s);
                return false;
            }
            if (s.memo_generation != as.generation) {
                s.memo_known = constant_at(s.value, &s.memo_value, depth + 1);
                s.memo_generation = as.generation;
            }
            *v = s.memo_value;
            return s.memo_known;
        }
        *v = s.offset;
        return s.kind == AS_LABEL && is_abs(s.psect);
    }
    case EX_UNARY:
        if (!constant_at(e->left, &a, depth))
            return false;
        *v = e->op == 'n' ? -a : e->op == '~' ? ~a : e->op == 'L' ? (a & 0xFF) : ((a >> 8) & 0xFF);
        return true;
    case EX_BINARY: {
        int pa, pb;
        long oa, ob;
        // The distance between two places of one psect is known here.
        if (e->op == '-' && expr_location(e->left, &pa, &oa, depth) &&
            expr_location(e->right, &pb, &ob, depth) && pa == pb) {
            *v = oa - ob;
            return true;
        }
        bool ka = constant_at(e->left, &a, depth);
        bool kb = constant_at(e->right, &b, depth);
        if (!ka || !kb)
            return false;
        switch (e->op) {
        case '+': *v = a + b; break;
        case '-': *v = a - b; break;
        case '*': *v = a * b; break;
        case '/':
        case '%':
            if (b == 0) {
                msg_report(1409);
                *v = 0;
            } else {
                *v = e->op == '/' ? a / b : a % b;
            }
            break;
        case '&': *v = a & b; break;
        case '|': *v = a | b; break;
        case '^': *v = a ^ b; break;
        case 'l': *v = b >= 0 && b < 32 ? static_cast<long>(static_cast<uint32_t>(a) << b) : 0; break;
        case 'r': *v = b >= 0 && b < 32 ? static_cast<long>(static_cast<uint32_t>(a) >> b) : 0; break;
        default: return false;
        }
        return true;
    }
    }
    return false;
}

bool expr_constant(const expr_ptr &e, long *value) { return constant_at(e, value, 0); }

expr_ptr expr_bind_here(const expr_ptr &e)
{
    if (!e)
        return e;
    if (e->kind == EX_HERE) {
        auto p = std::make_shared<expr>(*e);
        p->kind = EX_PLACE;
        p->op = as.current;
        p->value = as.statement_loc;
        return p;
    }
    if (e->kind != EX_UNARY && e->kind != EX_BINARY)
        return e;
    auto c = std::make_shared<expr>(*e);
    c->left = expr_bind_here(e->left);
    c->right = expr_bind_here(e->right);
    return c;
}

static void code_const(std::vector<uint8_t> &code, long v)
{
    uint8_t b[4];
    put_u32(b, static_cast<uint32_t>(v), order_little);
    code.push_back(RX_CONST);
    code.insert(code.end(), b, b + 4);
}

static void code_name(std::vector<uint8_t> &code, int op, const std::string &name)
{
    code.push_back(static_cast<uint8_t>(op));
    code.insert(code.end(), name.begin(), name.end());
    code.push_back(0);
}

// A place in a psect of this module: the psect's base plus the offset.
static void code_place(std::vector<uint8_t> &code, int psect, long offset)
{
    // Outside any psect (already reported as 1411) there is no base to name.
    if (psect < 0 || is_abs(psect)) {
        code_const(code, offset);
        return;
    }
    code_const(code, offset);
    code_name(code, RX_PSECT, as.psects[psect].name);
    code.push_back(RX_ADD);
}

static bool postfix_at(const expr_ptr &e, std::vector<uint8_t> &code, int depth, bool *outside)
{
    // Past what any record holds: stop before values built from values
    // multiply the program.
    if (code.size() > OBJ_MAX_BODY)
        return false;
    long v;
    if (expr_constant(e, &v)) {
        code_const(code, v);
        return true;
    }
    switch (e->kind) {
    case EX_NUM:
        code_const(code, e->value);
        return true;
    case EX_HERE:
        code_place(code, as.current, as.statement_loc);
        return true;
    case EX_PLACE:
        code_place(code, e->op, e->value);
        return true;
    case EX_SYM: {
        asm_symbol &s = asm_sym(e->name);
        if (s.kind == AS_VALUE && s.value) {
            if (s.cyclic || depth >= DEPTH_LIMIT) {
                // reported; the object is not written
                symbol_cycle(s);
                code_const(code, 0);
                return true;
            }
            return postfix_at(s.value, code, depth + 1, outside);
        }
        if (s.kind == AS_LABEL && !s.global) {
            code_place(code, s.psect, s.offset);
            return true;
        }
        // Undefined here: a reference to another module's global.
        if (s.kind == AS_UNDEFINED) {
            s.global = true;
            *outside = true;
        }
        code_name(code, RX_SYMBOL, s.name);
        return true;
    }
    case EX_UNARY:
        if (!postfix_at(e->left, code, depth, outside))
            return false;
        code.push_back(e->op == 'n' ? RX_NEG : e->op == '~' ? RX_NOT : e->op == 'L' ? RX_LOW : RX_HIGH);
        return true;
    case EX_BINARY: {
        if (!postfix_at(e->right, code, depth, outside) || !postfix_at(e->left, code, depth, outside))
            return false;
        static const struct { int op, code; } ops[] = {
            {'+', RX_ADD}, {'-', RX_SUB}, {'*', RX_MUL}, {'/', RX_DIV}, {'%', RX_MOD}, {'&', RX_AND},
            {'|', RX_OR},  {'^', RX_XOR}, {'l', RX_SHL}, {'r', RX_SHR},
        };
        for (auto &o : ops)
            if (o.op == e->op) {
                code.push_back(static_cast<uint8_t>(o.code));
                return true;
            }
        return false;
    }
    }
    return false;
}

// An expression that names another module's symbols opens with the mark
// (opcode 19, an empty range-check name): the driver's scan of objects and
// libraries takes the symbols of marked expressions as the module's
// references when it orders modules; the linker's evaluator passes over it.
bool expr_postfix(const expr_ptr &e, std::vector<uint8_t> &code)
{
    std::vector<uint8_t> body;
    bool outside = false;
    if (!postfix_at(e, body, 0, &outside))
        return false;
    if (outside) {
        code.push_back(RX_MARK);
        code.push_back(0);
    }
    code.insert(code.end(), body.begin(), body.end());
    return true;
}

std::string expr_text(const expr_ptr &e)
{
    if (!e)
        return "?";
    switch (e->kind) {
    case EX_NUM: return str_printf("0x%lX", e->value);
    case EX_SYM: return e->name;
    case EX_HERE: return "$";
    case EX_PLACE:
        return e->op < 0 ? str_printf("%ld", e->value) : str_printf("%s+%ld", as.psects[e->op].name.c_str(), e->value);
    case EX_UNARY: return std::string(1, static_cast<char>(e->op)) + "(" + expr_text(e->left) + ")";
    case EX_BINARY:
        return "(" + expr_text(e->left) + " " + static_cast<char>(e->op) + " " + expr_text(e->right) + ")";
    }
    return "?";
}
