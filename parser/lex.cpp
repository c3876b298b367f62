// lex: the tokenizer. Reads the preprocessor's output a line at a time into
// one growable buffer and hands out one token at a time, with one token of
// pushback. On the way it follows line markers ("# <n> "file""), passes
// #asm blocks through as assembly records, runs #pragma lines and queues
// source lines as comments for the intermediate code (-S).
//
// Numbers are accumulated in 64 bits and reported when they leave 32 bits,
// so the 32-bit value the parser keeps is never a silent wrap-around.
#include "plover.h"

#include <cctype>
#include <cstring>

token_t tok;                        // the current token
unsigned lex_line;                  // number of the line being read
std::string lex_file;               // current file name
const char *lex_line_start;         // start of the current line (message echo)
const char *lex_pos;                // read position in the current line
bool lex_regarg = true;             // register arguments for prototyped functions
uint32_t lex_string_qual;           // qualifiers given to string literals
int64_t lex_abs_address = -1;       // #pragma abs_address start address
int64_t lex_attr_address = -1;      // address from an attribute argument, for the next declarator

static FILE *lex_in;                // the input stream
static std::string lex_buf;         // the current line with its newline
static size_t lex_at;               // read position in lex_buf
static bool lex_eof;                // input exhausted
static std::vector<token_t> lex_pushed; // tokens to hand out again, last first
bool lex_jis;                       // #pragma jis in force

static const char *const keywords[] = {
    "_Pragma", "asm", "auto", "break", "case", "char", "continue", "default", "do", "double",
    "else", "enum", "extern", "float", "for", "goto", "if", "int", "long", "register", "return",
    "short", "signed", "sizeof", "static", "struct", "switch", "typedef", "union", "unsigned",
    "void", "while",
};

static void lex_sync_location()
{
    lex_line_start = lex_buf.c_str();
    lex_pos = lex_buf.c_str() + lex_at;
}

// Reads the next line into the buffer; false at end of input.
static bool lex_read_line()
{
    std::string line;
    if (lex_eof || !os_read_line(lex_in, line)) {
        lex_eof = true;
        lex_buf.clear();
        lex_at = 0;
        lex_sync_location();
        return false;
    }
    lex_buf = line + "\n";
    lex_at = 0;
    lex_line++;
    lex_line_echoed = false;
    lex_sync_location();
    // A zero byte would read as the end of input: report it, read a blank.
    for (size_t i = 0; i + 1 < lex_buf.size(); i++)
        if (lex_buf[i] == 0) {
            lex_at = i + 1;
            lex_sync_location();
            msg_report(228, 0);
            lex_buf[i] = ' ';
            lex_at = 0;
            lex_sync_location();
        }
    if (opt.echo_lines)
        lex_echo_line();
    if (opt.source_comments) {
        size_t i = lex_buf.find_first_not_of(" \t");
        if (i != std::string::npos && lex_buf[i] != '#')
            ic_comment_queue(lex_buf.c_str());
    }
    return true;
}

// Current character without consuming it; 0 at end of input.
static int lex_ch()
{
    while (lex_at >= lex_buf.size())
        if (!lex_read_line())
            return 0;
    return (unsigned char)lex_buf[lex_at];
}

static int lex_get()
{
    int c = lex_ch();
    if (c) {
        lex_at++;
        lex_pos = lex_buf.c_str() + lex_at;
    }
    return c;
}

static int lex_la(size_t k)
{
    return lex_at + k < lex_buf.size() ? (unsigned char)lex_buf[lex_at + k] : 0;
}

static bool lex_is_blank(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\b' || c == '\v';
}

static void lex_set_file(const std::string &name)
{
    lex_file = name.empty() ? input_name : name;
    msg_set_location(lex_file.c_str(), &lex_line, &lex_line_start, &lex_pos);
    if (xref_file)
        fprintf(xref_file, "~%s\n", lex_file.c_str());
}

void lex_init(FILE *in)
{
    lex_in = in;
    lex_file = input_name;
    lex_buf.clear();
    lex_at = 0;
    lex_sync_location();
    msg_set_location(lex_file.c_str(), &lex_line, &lex_line_start, &lex_pos);
}

// ---------------------------------------------------------------------------
// numbers
// ---------------------------------------------------------------------------
static bool lex_digit_ok(int c, int base, int *d)
{
    int v = isdigit(c) ? c - '0' : isxdigit(c) ? tolower(c) - 'a' + 10 : 99;
    if (v == 99 || (!isdigit(c) && base != 16))
        return false;
    *d = v;
    return true;
}

// Type of an integer constant by its value, base and suffixes.
static int lex_int_type(uint64_t v, bool decimal, bool u, int longs)
{
    uint64_t I = (uint64_t)type_max_int(), L = (uint64_t)type_max_long();
    if (longs >= 2 && opt.long_long)
        return u ? B_LLONG + 1 : B_LLONG;
    if (u && longs)
        return B_LONG + 1;
    if (u)
        return v / 2 <= I ? B_INT + 1 : B_LONG + 1;
    if (longs)
        return v <= L ? B_LONG : B_LONG + 1;
    if (v <= I)
        return B_INT;
    if (!decimal && v <= 2 * I + 1)
        return B_INT + 1;
    return v <= L ? B_LONG : B_LONG + 1;
}

static void lex_float_tail(std::string &text)
{
    if (lex_ch() == '.') {
        text += (char)lex_get();
        while (isdigit(lex_ch()))
            text += (char)lex_get();
    }
    if (lex_ch() == 'e' || lex_ch() == 'E') {
        text += (char)lex_get();
        if (lex_ch() == '+' || lex_ch() == '-')
            text += (char)lex_get();
        if (!isdigit(lex_ch()))
            msg_report(220);
        while (isdigit(lex_ch()))
            text += (char)lex_get();
    }
    tok.ctype = B_DOUBLE;
    if (lex_ch() == 'f' || lex_ch() == 'F') {
        lex_get();
        tok.ctype = B_FLOAT;
    } else if (lex_ch() == 'l' || lex_ch() == 'L') {
        lex_get();
    }
    if (text[0] == '.')
        text = "0" + text;
    tok.code = O_FCON;
    tok.text = text;
}

static void lex_number()
{
    std::string text;
    int first = lex_ch();
    while (isdigit(lex_ch()))
        text += (char)lex_get();
    int c = lex_ch();
    if (c == '.' || ((c == 'e' || c == 'E') && !text.empty())) {
        lex_float_tail(text);
        return;
    }
    int base = 10;
    size_t from = 0;
    if (c == 'x' || (c == 'X' && first == '0')) {
        base = 16;
    } else if (c == 'b' || (c == 'B' && first == '0')) {
        base = 2;
    }
    if (base != 10) {
        lex_get();
        text.clear();
        while (isxdigit(lex_ch()))
            text += (char)lex_get();
        if (text.empty())
        {
            if (base == 16)
                msg_report(221);
            else
                msg_report(222);
        }
    } else if (first == '0') {
        base = 8;
    }
    uint64_t v = 0;
    bool overflow = false;
    for (size_t i = from; i < text.size(); i++) {
        int d;
        if (!lex_digit_ok(text[i], base, &d) || d >= base) {
            msg_report(223);
            break;
        }
        v = v * base + d;
        if (v > 0xFFFFFFFFull)
            overflow = true;
    }
    if (overflow) {
        msg_report(1360, text.c_str());
        v &= 0xFFFFFFFFull;
    }
    bool u = false;
    int longs = 0;
    for (;;) {
        c = lex_ch();
        if ((c == 'u' || c == 'U') && !u) {
            u = true;
            lex_get();
        } else if ((c == 'l' || c == 'L') && !longs) {
            lex_get();
            longs = 1;
            if (lex_ch() == c) {
                lex_get();
                longs = 2;
            }
        } else {
            break;
        }
    }
    tok.code = O_ICON;
    tok.ctype = lex_int_type(v, base == 10, u, longs);
    tok.value = (int64_t)v;
    if (tok.ctype == B_INT && v > (uint64_t)type_max_int())
        tok.value = (int64_t)v;
}

// ---------------------------------------------------------------------------
// characters and strings
// ---------------------------------------------------------------------------
// One character or escape sequence of a constant; false at a newline.
static bool lex_char_value(int *out)
{
    int c = lex_get();
    if (c == '\n' || c == 0)
        return false;
    if (c != '\\') {
        *out = c;
        return true;
    }
    c = lex_get();
    switch (c) {
    case 'a': *out = 7; return true;
    case 'b': *out = 8; return true;
    case 'f': *out = 12; return true;
    case 'n': *out = 10; return true;
    case 'r': *out = 13; return true;
    case 't': *out = 9; return true;
    case 'v': *out = 11; return true;
    case 'x': {
        uint64_t v = 0;
        bool overflow = false;
        while (isxdigit(lex_ch())) {
            int d = lex_get();
            v = v * 16 + (isdigit(d) ? d - '0' : tolower(d) - 'a' + 10);
            if (v > 0xFFFFFFFFull)
                overflow = true;
        }
        if (overflow)
            msg_report(1360, "\\x");
        else if (v > 0xFF)
            msg_report(1477, "\\x");  // the character keeps only its low byte
        *out = (int)(v & 0xFF);
        return true;
    }
    default:
        if (c >= '0' && c <= '7') {
            int v = c - '0';
            for (int k = 0; k < 2 && lex_ch() >= '0' && lex_ch() <= '7'; k++)
                v = v * 8 + lex_get() - '0';
            if (v > 0xFF)
                msg_report(1477, "octal");
            *out = v & 0xFF;
            return true;
        }
        *out = c;
        return true;
    }
}

static void lex_char_const()
{
    lex_get();
    tok.code = O_ICON;
    tok.ctype = opt.unsigned_char ? B_INT + 1 : B_INT;
    tok.value = 0;
    if (lex_ch() == '\'') {
        lex_get();
        msg_report(225);
        return;
    }
    int v;
    bool bad = false;
    if (!lex_char_value(&v)) {
        msg_report(311);
        return;
    }
    if (lex_ch() != '\'') {
        msg_report(226);
        bad = true;
        while (lex_ch() && lex_ch() != '\'' && lex_ch() != ';' && lex_ch() != '\n')
            lex_get();
        if (lex_ch() == '\'')
            lex_get();
    } else {
        lex_get();
    }
    if (!bad)
        tok.value = opt.unsigned_char ? (uint8_t)v : (int8_t)v;
}

static void lex_directive();

static void lex_string()
{
    std::string bytes;
    bool reported = false;
    for (;;) {
        lex_get(); // the opening quote
        for (;;) {
            int c = lex_ch();
            if (c == '"') {
                lex_get();
                break;
            }
            if (c == '\n' || c == 0) {
                msg_report(311);
                break;
            }
            if (c == '\\' && (lex_la(1) == '\n' || (lex_la(1) == '\r' && lex_la(2) == '\n'))) {
                lex_get();
                while (lex_ch() != '\n')
                    lex_get();
                lex_get();
                continue;
            }
            if (lex_jis && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF))) {
                bytes += (char)lex_get();
                if (lex_ch() != '\n' && lex_ch() != 0)
                    bytes += (char)lex_get();
                continue;
            }
            int v;
            if (c > 0x7E && !lex_jis)
                msg_report(228, c);
            lex_char_value(&v);
            bytes += (char)v;
        }
        // blanks, newlines and line markers between the pieces
        bool crossed = false;
        for (;;) {
            int c = lex_ch();
            if (c == '\n') {
                crossed = true;
                lex_get();
            } else if (lex_is_blank(c)) {
                lex_get();
            } else if (c == '#' && crossed) {
                lex_get();
                lex_directive();
            } else {
                break;
            }
        }
        if (lex_ch() != '"')
            break;
        if (crossed && !reported) {
            msg_report(336);
            reported = true;
        }
    }
    tok.code = O_STRING;
    tok.text = bytes;
}

// ---------------------------------------------------------------------------
// directive lines
// ---------------------------------------------------------------------------
static std::string lex_rest_of_line()
{
    std::string rest;
    while (lex_ch() && lex_ch() != '\n')
        rest += (char)lex_get();
    if (!rest.empty() && rest.back() == '\r')
        rest.pop_back();
    return rest;
}

static void lex_asm_block()
{
    lex_rest_of_line();
    lex_at = lex_buf.size();
    for (;;) {
        if (!lex_read_line())
            msg_report(298);
        size_t i = lex_buf.find_first_not_of(" \t");
        if (i != std::string::npos && lex_buf.compare(i, 7, "#endasm") == 0) {
            lex_at = lex_buf.size();
            return;
        }
        std::string text = lex_buf;
        lex_at = lex_buf.size();
        ic_asm(text.c_str());
    }
}

static void lex_directive()
{
    while (lex_ch() == ' ' || lex_ch() == '\t')
        lex_get();
    if (isdigit(lex_ch())) {
        unsigned long n = 0;
        while (isdigit(lex_ch()))
            n = n * 10 + (lex_get() - '0');
        lex_line = (unsigned)n - 1;
        while (lex_ch() == ' ' || lex_ch() == '\t')
            lex_get();
        if (lex_ch() == '"') {
            lex_get();
            std::string name;
            while (lex_ch() && lex_ch() != '"' && lex_ch() != '\n')
                name += (char)lex_get();
            if (lex_ch() == '"')
                lex_get();
            lex_set_file(name);
        }
        return;
    }
    std::string word;
    while (lex_ch() && !lex_is_blank(lex_ch()))
        word += (char)lex_get();
    if (word == "asm") {
        lex_asm_block();
    } else if (word == "pragma") {
        while (lex_ch() == ' ' || lex_ch() == '\t')
            lex_get();
        std::string text = lex_rest_of_line();
        lex_pragma(text.c_str());
    } else {
        msg_report(224);
        lex_rest_of_line();
    }
}

// ---------------------------------------------------------------------------
// identifiers
// ---------------------------------------------------------------------------
static int lex_keyword(const std::string &w)
{
    if (w.size() < 2 || !islower((unsigned char)w[0]) || !islower((unsigned char)w[1]))
        return 0;
    for (size_t i = 0; i < sizeof keywords / sizeof keywords[0]; i++)
        if (w == keywords[i])
            return K_PRAGMA + (int)i;
    if (w == "bit" && opt.bit_type)
        return K_BIT;
    if ((w == "sfr" || w == "sfr16") && qual_role.sfr)
        return w == "sfr" ? K_SFR : K_SFR16;
    return 0;
}

static void lex_pragma_operator()
{
    if (lex_next() != O_LPAREN) {
        msg_report(317);
        lex_unget();
        return;
    }
    if (lex_next() != O_STRING) {
        msg_report(318);
        lex_unget();
        return;
    }
    std::string text = tok.text;
    if (lex_next() != O_RPAREN) {
        msg_report(194);
        lex_unget();
    }
    lex_pragma(text.c_str());
}

static bool lex_attribute();

static void lex_identifier()
{
    std::string w;
    while (isalnum(lex_ch()) || lex_ch() == '_') {
        int c = lex_get();
        if ((int)w.size() < opt.ident_len)
            w += (char)c;
    }
    int k = lex_keyword(w);
    if (k) {
        tok.value = k;
        if (k == K_AUTO || k == K_EXTERN || k == K_REGISTER || k == K_STATIC || k == K_TYPEDEF)
            tok.code = T_CLASS;
        else if (k == K_CHAR || k == K_DOUBLE || k == K_ENUM || k == K_FLOAT || k == K_INT ||
                 k == K_LONG || k == K_SHORT || k == K_SIGNED || k == K_STRUCT || k == K_UNION ||
                 k == K_UNSIGNED || k == K_VOID || k == K_BIT || k == K_SFR || k == K_SFR16)
            tok.code = O_TYPE;
        else if (k == K_SIZEOF)
            tok.code = O_SIZEOF;
        else
            tok.code = k;
        return;
    }
    if (w == "_at_") {
        tok.code = O_AT;
        return;
    }
    // the keyword table holds _Pragma, but keywords begin with two small
    // letters: the operator is known by its whole name
    if (w == "_Pragma") {
        tok.code = K_PRAGMA;
        return;
    }
    if (opt.builtins && w == "__builtin_bittype") { tok.code = 136; return; }
    if (opt.builtins && w == "__builtin_unique_id") { tok.code = O_UNIQUE; return; }
    if (opt.builtins && w == "__builtin_enum_label") { tok.code = O_ENUMLABEL; return; }
    if (w == "__attribute__") {
        if (lex_attribute())
            return;
    }
    uint32_t bit = qual_lookup(w);
    if (bit) {
        tok.code = T_QUAL;
        tok.value = bit;
        tok.text = w;
        return;
    }
    tok.code = O_IDENT;
    tok.text = w;
    tok.sym = sym_find_or_enter(w);
}

// Skips the arguments of an attribute up to its closing parenthesis.
static void lex_attribute_skip()
{
    for (int depth = 1; depth > 0;) {
        int c = lex_next();
        if (c == T_EOF || c == T_SEMI || c == T_RBRACE) {
            lex_unget();
            return;
        }
        depth += c == O_LPAREN ? 1 : c == O_RPAREN ? -1 : 0;
    }
}

// One argument of an attribute, checked against its pattern letter:
// d an identifier, i an int constant, s a string, v a constant
// expression (the address of the object declared).
static void lex_attribute_arg(const std::string &name, char letter)
{
    if (letter == 'v') {
        int64_t v;
        bool known;
        expr_constant(EC_INIT, &v, &known);
        if (known)
            lex_attr_address = v;
        else
            msg_report(1318, name.c_str());
        return;
    }
    int c = lex_next();
    bool ok = (letter == 'd' && c == O_IDENT) || (letter == 's' && c == O_STRING) ||
              (letter == 'i' && c == O_ICON && tok.ctype == B_INT);
    if (!ok) {
        msg_report(1318, name.c_str());
        if (c == O_ARG || c == O_RPAREN)
            lex_unget();
    }
}

// The arguments of one attribute word after its '(' (has_args), checked in
// order against the letters of its pattern; a leading '.' makes them
// optional.
static void lex_attribute_args(const std::string &name, const std::string &pattern, bool has_args)
{
    std::string letters;
    for (char c : pattern)
        if (c != ',')
            letters += c;
    bool optional = !letters.empty() && letters[0] == '.';
    if (optional)
        letters.erase(0, 1);
    for (char c : letters)
        if (!strchr("disv", c)) {
            msg_report(1319, std::string(1, c).c_str(), name.c_str());
            if (has_args)
                lex_attribute_skip();
            return;
        }
    if (!has_args) {
        if (!letters.empty() && !optional)
            msg_report(1317, name.c_str());
        return;
    }
    size_t k = 0;
    if (lex_next() != O_RPAREN) {
        lex_unget();
        for (;; k++) {
            if (k < letters.size())
                lex_attribute_arg(name, letters[k]);
            else {
                msg_report(1318, name.c_str());
                lex_attribute_skip();
                return;
            }
            int c = lex_next();
            if (c == O_RPAREN)
                break;
            if (c != O_ARG) {
                msg_report(194);
                lex_unget();
                return;
            }
        }
        k++;
    }
    if (k < letters.size() && !(optional && k == 0))
        msg_report(1317, name.c_str());
}

// __attribute__((word[(args)], ...)): token 139 with the qualifier bits
// collected.
static bool lex_attribute()
{
    auto want = [](int c) {
        while (lex_is_blank(lex_ch()))
            lex_get();
        if (lex_ch() != c)
            return false;
        lex_get();
        return true;
    };
    if (!want('(') || !want('(')) {
        msg_report(317);
        return false;
    }
    uint32_t bits = 0;
    for (;;) {
        while (lex_is_blank(lex_ch()))
            lex_get();
        std::string w;
        while (isalnum(lex_ch()) || lex_ch() == '_')
            w += (char)lex_get();
        uint32_t b = 0;
        std::string pattern;
        bool known = !w.empty() && attr_lookup(w, &b, &pattern);
        if (!known)
            msg_report(1323);
        else if (!b && pattern.empty())
            msg_report(1316, w.c_str());
        while (lex_is_blank(lex_ch()))
            lex_get();
        bool has_args = lex_ch() == '(';
        if (has_args)
            lex_get();
        if (known)
            lex_attribute_args(w, pattern, has_args);
        else if (has_args)
            lex_attribute_skip();
        bits |= b;
        if (!want(','))
            break;
    }
    if (!want(')') || !want(')'))
        msg_report(194);
    tok.code = O_ATTR;
    tok.value = bits;
    return true;
}

// ---------------------------------------------------------------------------
// the scanner
// ---------------------------------------------------------------------------
struct punct_t {
    const char *text;
    int code;
};
// Longest first, so the first match is the token.
static const punct_t puncts[] = {
    {"<<=", O_ASSHL}, {">>=", O_ASSHR}, {"...", T_ELLIPSIS},
    {"!=", O_NE}, {"%=", O_ASMOD}, {"&&", O_LAND}, {"&=", O_ASAND}, {"*=", O_ASMUL},
    {"++", O_PREINC}, {"+=", O_ASADD}, {"--", O_PREDEC}, {"-=", O_ASSUB}, {"->", O_ARROWSRC},
    {"/=", O_ASDIV}, {"<=", O_LE}, {"<<", O_SHL}, {"==", O_EQ}, {">=", O_GE}, {">>", O_SHR},
    {"^=", O_ASXOR}, {"|=", O_ASOR}, {"||", O_LOR},
    {"!", O_NOT}, {"%", O_MOD}, {"&", O_AND}, {"(", O_LPAREN}, {")", O_RPAREN}, {"*", O_MUL},
    {"+", O_ADD}, {",", O_ARG}, {"-", O_SUB}, {".", O_DOT}, {"/", O_DIV}, {":", O_COLON},
    {";", T_SEMI}, {"<", O_LT}, {"=", O_ASSIGN}, {">", O_GT}, {"?", O_QUEST}, {"@", O_AT},
    {"[", O_LBRACK}, {"]", O_RBRACK}, {"^", O_XOR}, {"{", T_LBRACE}, {"|", O_OR},
    {"}", T_RBRACE}, {"~", O_COMPL},
};

// Binary operators that take a following '=' (blanks allowed between) as a
// compound assignment.
static int lex_compound(int code)
{
    switch (code) {
    case O_MOD: return O_ASMOD;
    case O_AND: return O_ASAND;
    case O_MUL: return O_ASMUL;
    case O_ADD: return O_ASADD;
    case O_SUB: return O_ASSUB;
    case O_DIV: return O_ASDIV;
    case O_SHL: return O_ASSHL;
    case O_SHR: return O_ASSHR;
    case O_XOR: return O_ASXOR;
    case O_OR: return O_ASOR;
    default: return 0;
    }
}

static void lex_punct()
{
    if (lex_ch() == '.' && lex_la(1) == '.' && lex_la(2) != '.') {
        lex_get();
        lex_get();
        msg_report(227);
        tok.code = T_ELLIPSIS;
        return;
    }
    for (const punct_t &p : puncts) {
        if (p.text[0] != lex_buf[lex_at])
            continue;
        size_t n = strlen(p.text);
        if (lex_buf.compare(lex_at, n, p.text) != 0)
            continue;
        for (size_t i = 0; i < n; i++)
            lex_get();
        tok.code = p.code;
        int comp = lex_compound(p.code);
        if (comp) {
            size_t k = lex_at;
            while (k < lex_buf.size() && (lex_buf[k] == ' ' || lex_buf[k] == '\t'))
                k++;
            if (k < lex_buf.size() && lex_buf[k] == '=' &&
                !(k + 1 < lex_buf.size() && lex_buf[k + 1] == '=')) {
                while (lex_at <= k)
                    lex_get();
                tok.code = comp;
            }
        }
        return;
    }
    int c = lex_get();
    msg_report(228, c);
    tok.code = 0;
}

static int lex_scan()
{
    for (;;) {
        int c = lex_ch();
        if (c == 0) {
            tok.code = T_EOF;
            return T_EOF;
        }
        if (lex_is_blank(c)) {
            lex_get();
            continue;
        }
        tok = token_t{};
        if (c == '#') {
            lex_get();
            lex_directive();
            continue;
        }
        if (isdigit(c) || (c == '.' && isdigit(lex_la(1))))
            lex_number();
        else if (isalpha(c) || c == '_')
            lex_identifier();
        else if (c == '\'')
            lex_char_const();
        else if (c == '"')
            lex_string();
        else
            lex_punct();
        if (tok.code == K_PRAGMA) {
            lex_pragma_operator();
            return lex_next(); // a token it read too far comes first
        }
        if (tok.code == 0)
            continue;
        return tok.code;
    }
}

int lex_next()
{
    if (!lex_pushed.empty()) {
        tok = lex_pushed.back();
        lex_pushed.pop_back();
        return tok.code;
    }
    return lex_scan();
}

void lex_unget()
{
    lex_pushed.push_back(tok);
}

// The symbols of the tokens read ahead, which must outlive a recycling of
// symbol records.
std::vector<sym_t *> lex_pending_symbols()
{
    std::vector<sym_t *> out;
    for (const token_t &t : lex_pushed)
        if (t.sym)
            out.push_back(t.sym);
    return out;
}

// The code of the next token; the current token stays current.
int lex_peek()
{
    token_t cur = tok;
    int c = lex_next();
    lex_unget();
    tok = cur;
    return c;
}

bool lex_expect(int code, const char *text)
{
    if (lex_next() == code)
        return true;
    msg_report(312, text);
    lex_unget();
    lex_skip_statement();
    return false;
}

void lex_skip_statement()
{
    for (;;) {
        int c = lex_next();
        if (c >= T_EOF && c <= T_RBRACE) {
            if (c == T_EOF)
                msg_report(300);
            lex_unget();
            return;
        }
    }
}

