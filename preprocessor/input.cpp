// Input streams and tokenizer.
//
// All input comes from one stack of streams. A file stream holds one source
// line at a time (any length; trigraphs are replaced when the line is read);
// a text stream holds a whole text (an expansion, an argument, a pasted
// token). The raw reader takes characters from the top stream, pops finished
// streams and pushes an argument stream where an expansion names a parameter.
// An isolated stream (an argument being expanded by itself) is never popped
// by the reader: its end reads as the end of the input until its owner
// removes it.
// On top of it in_getc() drops carriage returns, joins spliced lines and
// removes comments. Characters given back with in_ungetc() sit on the
// stream's own pushback list, so whatever produced them is never redone.
#include <algorithm>
#include <cstring>

#include "wren.h"

input_stream *in_top;        // top of the stream stack
int64_t in_line;             // current line of the current file
wstr in_main_name;           // name of the main file, kept after it ends
wstr in_name_buf;            // last identifier read
unsigned in_ident_limit = 31; // -N
bool in_raw;                 // literals and #include names: no comments or splices
bool in_keep_comments;       // -C: comments go to the output
bool in_directive;           // a directive line is being read
bool in_line_echoed;         // the current source line was echoed under a message
int in_file_depth;           // file streams on the stack
int in_expansion_depth;      // expansions and isolated arguments on the stack
uint32_t in_lines_read;      // lines read from files so far

static int in_depth;         // streams on the stack, to see a comment leave its file
static uint32_t in_serial;   // serial of the last stream made
static bool in_line_reported; // a line past in_line_max was reported
static const unsigned max_pushback = 8; // more characters given back is an internal fault

int in_class(int c)
{
    if (c < 0)
        return CC_END;
    if (c == CH_NOEXPAND)
        return CC_IDENT;
    if (c == CH_PASTE)
        return CC_WHITE;
    if (c > 0xFF)
        return CC_OTHER;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$')
        return CC_IDENT;
    if (c >= '0' && c <= '9')
        return CC_DIGIT;
    switch (c) {
    case '+': case '-': case '*': case '/': case '%': case '&': case '|': case '^':
    case '=': case '<': case '>': case '?': case ':': case '!': case '~': case '(': case ')':
        return CC_OPERATOR;
    case '"': case '\'':
        return CC_QUOTE;
    case '.':
        return CC_DOT;
    case '\t': case ' ': case 0x1F:
        return CC_WHITE;
    case '\\':
        return CC_BACKSLASH;
    case 0:
        return CC_END;
    }
    return CC_OTHER;
}

bool in_is_ident_char(int c)
{
    int k = in_class(c);
    return k == CC_IDENT || k == CC_DIGIT;
}

// New empty stream on top; the one below keeps the current line number.
static input_stream *input_push(int kind, const wstr &name)
{
    input_stream *s = new input_stream();
    s->kind = kind;
    s->name = name;
    s->enclosing = in_top;
    s->serial = ++in_serial;
    if (in_top)
        in_top->saved_line = in_line;
    in_top = s;
    in_depth++;
    in_expansion_depth += kind == IN_EXPANSION || kind == IN_ISOLATED;
    return s;
}

void in_push_file(FILE *f, const wstr &name)
{
    input_stream *s = input_push(IN_FILE, name);
    s->file = f;
    in_line = 1;
    in_file_depth++;
    out_marker_needed = true;
}

void in_push_text(const wstr &text, int kind, const wstr &name)
{
    input_stream *s = input_push(kind, name);
    s->buf = text;
}

// Removes the top stream; an expansion gives its macro back.
static void in_pop()
{
    input_stream *s = in_top;
    if (s->kind == IN_EXPANSION && s->macro) {
        if (--s->macro->in_use < 0)
            msg_report(158, alert_narrow(s->macro->name).c_str());
    }
    if (s->kind == IN_FILE) {
        in_file_depth--;
        if (s->file && s->file != stdin)
            fclose(s->file);
        out_marker_needed = true;
    }
    if (s->kind == IN_FILE && !s->enclosing)
        in_main_name = s->name;
    in_top = s->enclosing;
    in_depth--;
    in_expansion_depth -= s->kind == IN_EXPANSION || s->kind == IN_ISOLATED;
    if (in_top)
        in_line = in_top->saved_line;
    delete s;
}

// Replaces the nine trigraphs of a freshly read line, left to right.
static void in_replace_trigraphs(wstr &buf)
{
    static const char from[] = "=/'()!<>-";
    static const char to[] = "#\\^[]|{}~";
    size_t w = 0;
    for (size_t r = 0; r < buf.size(); r++) {
        if (buf[r] == '?' && r + 2 < buf.size() && buf[r + 1] == '?') {
            const char *p = buf[r + 2] < 0x80 ? strchr(from, (char)buf[r + 2]) : nullptr;
            if (p && *p) {
                buf[w++] = (wch)to[p - from];
                r += 2;
                continue;
            }
        }
        buf[w++] = buf[r];
    }
    buf.resize(w);
}

// Next line of a file stream into its buffer, newline included; false at
// the end of the file.
static bool in_read_file_line(input_stream *s)
{
    std::string line;
    if (!s->file || !os_read_line(s->file, line))
        return false;
    s->buf.assign(line.size() + 1, u'\n');
    for (size_t i = 0; i < line.size(); i++)
        s->buf[i] = (unsigned char)line[i];
    s->pos = 0;
    in_replace_trigraphs(s->buf);
    in_line_echoed = false;
    in_lines_read++;
    // #line may set the largest number; the line after it has none.
    if (in_line > in_line_max && !in_line_reported) {
        in_line_reported = true;
        msg_report(1511, (int)in_line_max);
    }
    return true;
}

// The raw reader: stream handling, parameter streams and line counting.
static int in_raw_next()
{
    for (;;) {
        input_stream *s = in_top;
        if (!s)
            return CH_EOF;
        if (!s->pushback.empty()) {
            int c = s->pushback.back();
            s->pushback.pop_back();
            if (c == '\n' && s->kind == IN_FILE)
                in_line++;
            return c;
        }
        if (s->kind == IN_FILE) {
            if (s->pos >= s->buf.size() && !in_read_file_line(s)) {
                in_pop();
                continue;
            }
            int c = s->buf[s->pos++];
            if (c == '\n')
                in_line++;
            return c;
        }
        if (s->pos < s->buf.size()) {
            int c = s->buf[s->pos++];
            if (s->kind == IN_EXPANSION && ch_is_param(c)) {
                unsigned k = c - CH_PARAM;
                input_stream *a = input_push(IN_ARGUMENT, s->name);
                if (k < s->args.size())
                    a->buf = s->args[k];
                continue;
            }
            return c;
        }
        if (s->kind == IN_EXPANSION && !s->end_seen) {
            s->end_seen = true;
            return CH_ENDEXP;
        }
        if (s->kind == IN_ISOLATED)
            return CH_EOF;
        in_pop();
    }
}

// The next raw character of the top stream without taking it; -1 when the
// stream has none left.
static int in_peek_same()
{
    input_stream *s = in_top;
    if (!s)
        return CH_EOF;
    if (!s->pushback.empty())
        return s->pushback.back();
    return s->pos < s->buf.size() ? s->buf[s->pos] : CH_EOF;
}

void in_ungetc(int c)
{
    if (c == CH_EOF || !in_top)
        return;
    if (in_top->pushback.size() >= max_pushback)
        msg_report(159);
    in_top->pushback.push_back((wch)c);
    if (c == '\n' && in_top->kind == IN_FILE)
        in_line--;
}

// With -C comments are written, except in directive lines and skipped text.
static bool in_comments_written()
{
    return in_keep_comments && !in_directive && dir_active;
}

// Writes one character of a kept comment.
static void in_comment_out(int c)
{
    if (!in_comments_written() || c < 0)
        return;
    out_char((wch)c);
}

// A kept comment starts: the line's owed newlines and pending blank first.
static void in_comment_begin(const char *opening)
{
    if (!out_line_open)
        out_begin_line();
    if (out_blank_pending)
        out_ascii(" ");
    out_blank_pending = false;
    out_ascii(opening);
}

// After "/*": drops the comment. Returns true when it vanishes, false when
// it stands for one blank.
static bool in_block_comment()
{
    int start_depth = in_depth;
    bool left_file = false;
    if (in_comments_written())
        in_comment_begin("/*");
    int prev = 0;
    for (;;) {
        int c = in_raw_next();
        if (c == CH_EOF) {
            msg_report(139);
            return true;
        }
        if (in_depth < start_depth && !left_file) {
            left_file = true;
            msg_report(180);
        }
        in_comment_out(c);
        if (c == '\n' && !in_comments_written())
            out_marker_needed = true;
        if (prev == '/' && c == '*')
            msg_report(179);
        if (prev == '*' && c == '/')
            break;
        prev = c == '*' && prev == '/' ? 0 : c;
    }
    int next = in_peek_same();
    return next == '\n' || in_class(next) == CC_WHITE;
}

// After "//": drops the rest of the line (a splice continues it).
static void in_line_comment()
{
    if (in_comments_written())
        in_comment_begin("//");
    for (;;) {
        int c = in_raw_next();
        if (c == CH_EOF)
            return;
        if (c == '\\' && in_peek_same() == '\n') {
            in_comment_out(c);
            in_comment_out(in_raw_next());
            out_marker_needed = true;
            continue;
        }
        if (c == '\n') {
            in_ungetc(c);
            return;
        }
        in_comment_out(c);
    }
}

int in_getc()
{
    for (;;) {
        int c = in_raw_next();
        if (in_raw || c == CH_EOF)
            return c;
        switch (c) {
        case '\r':
            continue;
        case '\v': case '\f':
            return ' ';
        case '\\':
            if (in_peek_same() == '\n') {
                in_raw_next();
                out_marker_needed = true;
                continue;
            }
            return c;
        case '/': {
            int d = in_peek_same();
            if (d == '*') {
                in_raw_next();
                if (in_block_comment())
                    continue;
                return ' ';
            }
            if (d == '/') {
                in_raw_next();
                in_line_comment();
                continue;
            }
            return c;
        }
        }
        return c;
    }
}

int in_next_nonblank()
{
    int c;
    do
        c = in_getc();
    while (in_class(c) == CC_WHITE || c == CH_ENDEXP);
    return c;
}

int in_getc_nomarkers()
{
    int c;
    do
        c = in_getc();
    while (c == CH_PASTE || c == CH_ENDEXP);
    return c;
}

void in_skip_line()
{
    int c;
    do
        c = in_getc();
    while (c != '\n' && c != CH_EOF);
}

// An identifier; no-expand prefixes do not count towards the length limit.
void in_read_ident(int first)
{
    in_name_buf.clear();
    in_name_buf += (wch)first;
    size_t prefix = first == CH_NOEXPAND;
    int c;
    while (in_is_ident_char(c = in_getc())) {
        if (c == CH_NOEXPAND && prefix == in_name_buf.size())
            prefix++;
        if (in_name_buf.size() < in_ident_limit + prefix)
            in_name_buf += (wch)c;
    }
    in_ungetc(c);
}

static bool in_is_digit_of(int c, int base)
{
    if (c >= '0' && c <= '9')
        return c - '0' < base;
    if (base == 16)
        return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    return false;
}

// Copies a number as written: 0x hex, 0b binary, octal, decimal with
// fraction and exponent, then u/U and l/L suffixes.
void in_copy_number(int first, wstr &out)
{
    out += (wch)first;
    int c = in_getc();
    int base = 10;
    if (first == '0' && (c == 'x' || c == 'X' || c == 'b' || c == 'B')) {
        base = (c == 'x' || c == 'X') ? 16 : 2;
        out += (wch)c;
        c = in_getc();
    }
    while (in_is_digit_of(c, base)) {
        out += (wch)c;
        c = in_getc();
    }
    if (base == 10) {
        if (c == '.' && first != '.') {
            out += (wch)c;
            c = in_getc();
            while (c >= '0' && c <= '9') {
                out += (wch)c;
                c = in_getc();
            }
        }
        if (c == 'e' || c == 'E') {
            out += (wch)c;
            c = in_getc();
            if (c == '+' || c == '-') {
                out += (wch)c;
                c = in_getc();
            }
            while (c >= '0' && c <= '9') {
                out += (wch)c;
                c = in_getc();
            }
        }
    }
    while (c == 'u' || c == 'U' || c == 'l' || c == 'L') {
        out += (wch)c;
        c = in_getc();
    }
    in_ungetc(c);
}

// A punctuator that starts with c, as long as C reads it (<<=, ->, ##...),
// from one stream only: the next stream's text is another token.
void in_copy_punctuator(int c, wstr &out)
{
    static const char *const longer[] = {
        "<<=", ">>=", "->", "++", "--", "<<", ">>", "<=", ">=", "==", "!=", "&&", "||",
        "*=", "/=", "%=", "+=", "-=", "&=", "^=", "|=", "##",
    };
    char tok[4] = {(char)c};
    size_t n = 1;
    while (n < 3) {
        int d = in_peek_same();
        bool grows = false;
        for (const char *p : longer)
            grows = grows || (strncmp(p, tok, n) == 0 && p[n] == d);
        if (!grows || d <= 0)
            break;
        tok[n++] = (char)in_raw_next();
    }
    for (size_t i = 0; i < n; i++)
        out += (wch)tok[i];
}

void in_copy_literal(int quote, wstr &out)
{
    bool was_raw = in_raw;
    in_raw = true;
    out += (wch)quote;
    for (;;) {
        int c = in_getc();
        if (c == '\n' || c == CH_EOF) {
            in_ungetc(c);
            break;
        }
        if (c == '\r')
            continue;
        out += (wch)c;
        if (c == quote)
            break;
        if (c == '\\') {
            int d = in_getc();
            if (d == CH_EOF)
                break;
            out += (wch)d;
        }
    }
    in_raw = was_raw;
}

input_stream *in_file_stream()
{
    for (input_stream *s = in_top; s; s = s->enclosing)
        if (s->kind == IN_FILE)
            return s;
    return nullptr;
}

bool in_top_is_file()
{
    return in_top && in_top->kind == IN_FILE;
}

void in_drop_to_file()
{
    while (in_top && in_top->kind != IN_FILE)
        in_pop();
}

// Removes an isolated stream whose end has been read.
void in_end_isolated()
{
    if (in_top && in_top->kind == IN_ISOLATED)
        in_pop();
}

// The current line for a message's %d.
int in_line_for_report()
{
    return (int)std::min(in_line, in_line_max);
}
