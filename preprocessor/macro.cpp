// Macro table, #define, expansion and token pasting.
//
// The table maps names to records (headers define thousands: a lookup takes
// constant time). A body is stored with marker characters in place of
// parameters (#, ## and the macro's own name marked too). Expanding a call
// collects the arguments as written, builds the body's text with the
// arguments that # and ## need substituted (an empty one beside ## joins
// nothing), expands every other argument by itself (as if it were the rest of
// the input) and pushes the text as a new stream; the remaining parameter
// markers push their expanded argument as a stream of its own when the reader
// meets them, so it is rescanned where it stands. A macro is disabled while
// one of its expansions is being read; a name read then is painted with the
// no-expand prefix when it is collected into a text, so it never expands
// later, as C has it. Expansions nest at most mac_nest_limit deep (arguments
// expanded by themselves count, as they nest on the program's stack too).
// Records are never freed: a stream may still point at a replaced one.
#include "wren.h"

#include <cstring>
#include <ctime>
#include <unordered_map>

static std::unordered_map<wstr, macro_rec *> mac_table; // defined macros by name
static const wstr mac_no_text;      // an argument that is not there
static macro_rec *mac_chain_first;  // the macro that began the current nesting
static unsigned mac_drops;          // times pending expansions were dropped
static const int mac_nest_limit = 999; // nested expansions, 115 beyond
static const size_t mac_text_limit = 8191; // longest expansion or pasted text

macro_rec *mac_find(const wstr &name)
{
    auto it = mac_table.find(name);
    return it == mac_table.end() ? nullptr : it->second;
}

bool mac_undefine(const wstr &name)
{
    return mac_table.erase(name) != 0;
}

// Replaces any macro of the name with a new one without a body.
macro_rec *mac_define(const wstr &name)
{
    macro_rec *m = new macro_rec();
    m->name = name;
    mac_table[name] = m;
    return m;
}

void mac_define_text(const char *name, const char *value)
{
    macro_rec *m = mac_define(alert_widen(name));
    m->body = alert_widen(value);
    m->has_body = true;
    m->nparams = MAC_OBJECT;
}

// __STDC__, __LINE__, __FILE__, __DATE__ and __TIME__, before the options.
void mac_make_predefined()
{
    mac_define_text("__STDC__", "1");
    mac_define(u"__LINE__")->nparams = MAC_LINE;
    mac_define(u"__FILE__")->nparams = MAC_FILE;
    time_t now = time(nullptr);
    std::string text = ctime(&now); // "Www Mmm dd hh:mm:ss yyyy\n"
    std::string date = "\"" + text.substr(4, 7) + text.substr(20, 4) + "\"";
    std::string clock = "\"" + text.substr(11, 8) + "\"";
    mac_define_text("__DATE__", date.c_str());
    mac_define_text("__TIME__", clock.c_str());
}

// The macro of an identifier just read, when it may expand now.
macro_rec *mac_lookup_enabled(const wstr &name)
{
    macro_rec *m = mac_find(name);
    return m && m->in_use == 0 ? m : nullptr;
}

// ---------------------------------------------------------------------------
// #define
// ---------------------------------------------------------------------------

static void mac_body_ident(wstr &body, const std::vector<wstr> &params, const wstr &self)
{
    for (size_t k = 0; k < params.size(); k++) {
        if (params[k] == in_name_buf) {
            body += (wch)(CH_PARAM + k);
            return;
        }
    }
    if (in_name_buf == self)
        body += CH_NOEXPAND;
    body += in_name_buf;
}

static void mac_trim_blank(wstr &body)
{
    while (!body.empty() && body.back() == ' ')
        body.pop_back();
}

// Parameter list after "(": false when it is malformed (reported).
static bool mac_read_params(std::vector<wstr> &params)
{
    int c = in_next_nonblank();
    if (c == ')')
        return true;
    for (;;) {
        if (in_class(c) != CC_IDENT) {
            msg_report(112);
            in_ungetc(c);
            return false;
        }
        in_read_ident(c);
        if (params.size() >= MAX_PARAMS)
            msg_report(148);
        params.push_back(in_name_buf);
        c = in_next_nonblank();
        if (c == ')')
            return true;
        if (c != ',') {
            msg_report(112);
            in_ungetc(c);
            return false;
        }
        c = in_next_nonblank();
    }
}

// Punctuators that ## may join to the token before them (<<=, ->, ##, ...).
static bool mac_pastes_punctuator(int c)
{
    return c > 0 && c < 0x80 && strchr("+-*/%&|^=<>!#:", c);
}

// What follows "##" in a body: white space is skipped, then an identifier, a
// number or a punctuator joins the body; anything else is reported and copied.
static void mac_body_after_paste(wstr &body, const std::vector<wstr> &params, const wstr &self)
{
    mac_trim_blank(body);
    body += CH_PASTE;
    int c = in_next_nonblank();
    if (in_class(c) == CC_IDENT) {
        in_read_ident(c);
        mac_body_ident(body, params, self);
    } else if (in_class(c) == CC_DIGIT) {
        in_copy_number(c, body);
    } else if (mac_pastes_punctuator(c)) {
        body += (wch)c;
    } else {
        if (c >= 0x20 && c < 0x7F)
            msg_report(137, c);
        else
            msg_report(138, c);
        if (c == '\n' || c == CH_EOF)
            in_ungetc(c);
        else
            body += (wch)c;
    }
}

// The body up to the end of the line (the newline is left for the caller).
// '#' stringizes only in a function-like macro's body.
static wstr mac_read_body(const std::vector<wstr> &params, const wstr &self, bool function_like)
{
    wstr body;
    for (;;) {
        int c = in_getc();
        if (c == '\n' || c == CH_EOF) {
            in_ungetc(c);
            break;
        }
        int k = in_class(c);
        if (c == '#') {
            int d = in_getc();
            if (d == '#') {
                mac_body_after_paste(body, params, self);
                continue;
            }
            in_ungetc(d);
            if (!function_like) {
                body += (wch)c;
                continue;
            }
            in_ungetc(in_next_nonblank());
            body += CH_STRINGIZE;
        } else if (k == CC_IDENT) {
            in_read_ident(c);
            mac_body_ident(body, params, self);
        } else if (k == CC_QUOTE) {
            size_t start = body.size();
            in_copy_literal(c, body);
            if (body.size() - start < 2 || body.back() != (wch)c)
                msg_report(113);
        } else if (k == CC_WHITE || c == CH_ENDEXP) {
            if (c != CH_ENDEXP && !body.empty() && body.back() != ' ')
                body += ' ';
        } else if (c == '\\') {
            body += (wch)c;
            int d = in_getc();
            if (d == '\n' || d == CH_EOF)
                in_ungetc(d);
            else
                body += (wch)d;
        } else {
            body += (wch)c;
        }
    }
    mac_trim_blank(body);
    return body;
}

// #define: the line after the directive name.
void mac_do_define()
{
    int c = in_next_nonblank();
    if (in_class(c) != CC_IDENT) {
        msg_report(112);
        in_ungetc(c);
        return;
    }
    in_read_ident(c);
    wstr name = in_name_buf;
    macro_rec *m = mac_find(name);
    bool existed = m && m->in_use == 0;
    wstr old_body = existed ? m->body : wstr();
    bool old_has_body = existed && m->has_body;
    if (!existed)
        m = mac_define(name);
    std::vector<wstr> params;
    c = in_getc();
    if (c == '(') {
        if (!mac_read_params(params)) {
            m->body.clear();
            m->has_body = true;
            m->nparams = (int)params.size();
            return;
        }
        m->nparams = (int)params.size();
    } else {
        in_ungetc(c);
        m->nparams = MAC_OBJECT;
    }
    wstr body = mac_read_body(params, name, m->nparams >= 0);
    if (existed && (!old_has_body || old_body != body))
        msg_report(111, alert_narrow(name).c_str());
    m->body = body;
    m->has_body = true;
}

// ---------------------------------------------------------------------------
// expansion
// ---------------------------------------------------------------------------

// Looks for the '(' of a call, passing white space, line ends and the ends
// of expansions. When there is none, what was passed is given back and false
// returned.
static bool mac_find_open_paren()
{
    bool passed_newline = false;
    bool passed_white = false;
    for (;;) {
        int c = in_getc();
        if (c == '(')
            return true;
        if (c == '\n') {
            passed_newline = true;
            out_marker_needed = true;
            continue;
        }
        if (in_class(c) == CC_WHITE || c == CH_ENDEXP) {
            passed_white = passed_white || c != CH_ENDEXP;
            continue;
        }
        in_ungetc(c);
        break;
    }
    wstr back;
    if (passed_newline)
        back += u'\n';
    else if (passed_white)
        back += u' ';
    if (!back.empty())
        in_push_text(back, IN_TEXT, u"");
    return false;
}

// A token joins a text being collected: after a blank where white space
// stood, after a boundary marker where it comes from another stream than the
// token before (so that the two never read as one token again).
struct mac_collector {
    wstr text;
    bool blank = false;       // white space since the last token
    bool boundary = false;    // an expansion boundary since the last token
    uint32_t source = 0;      // stream of the last character read

    // Notes what a character read says about the spacing; true when it is
    // white space or a marker, which the caller then passes.
    bool note(int c)
    {
        uint32_t s = in_top ? in_top->serial : 0;
        boundary = boundary || s != source;
        source = s;
        if (c == CH_ENDEXP || c == CH_PASTE) {
            boundary = true;
            return true;
        }
        if (c == '\n' || in_class(c) == CC_WHITE) {
            blank = true;
            return true;
        }
        return false;
    }

    void add(const wstr &tok)
    {
        if (!text.empty() && (blank || boundary))
            text += blank ? (wch)u' ' : (wch)CH_ENDEXP;
        text += tok;
        blank = boundary = false;
    }
};

static bool mac_is_disabled(const wstr &name)
{
    macro_rec *m = mac_find(name);
    return m && m->in_use > 0;
}

// The token that starts with c (already read) into tok; false when it was
// consumed instead: a macro call expanded (TAKE_EXPAND) or a token joined by
// ## to the next one and pushed to be read again.
bool mac_take_token(int c, wstr &tok, int how)
{
    int k = in_class(c);
    tok.clear();
    if (k == CC_IDENT) {
        in_read_ident(c);
        tok = in_name_buf;
        macro_rec *m = how & TAKE_EXPAND ? mac_lookup_enabled(tok) : nullptr;
        if (m && mac_expand(m))
            return false;
        if ((how & TAKE_PAINT) && mac_is_disabled(tok))
            tok.insert(tok.begin(), CH_NOEXPAND);
    } else if (k == CC_DIGIT || c == '.') {
        int d = in_getc();
        in_ungetc(d);
        if (k == CC_DIGIT || in_class(d) == CC_DIGIT)
            in_copy_number(c, tok);
        else
            tok = (wch)c;
    } else if (k == CC_QUOTE) {
        in_copy_literal(c, tok);
        return true;
    } else if (mac_pastes_punctuator(c)) {
        in_copy_punctuator(c, tok);
    } else {
        tok = (wch)c;
    }
    return !mac_try_paste(tok);
}

// Reads the arguments of a call, as written, up to the matching ')'. False
// at the end of the input (reported), which inside an argument expanded by
// itself is a call left open there.
static bool mac_read_args(macro_rec *m, std::vector<wstr> &args)
{
    int call_line = in_line_for_report();
    int depth = 0;
    mac_collector cur;
    cur.source = in_top ? in_top->serial : 0;
    for (;;) {
        int c = in_getc();
        if (c == CH_EOF) {
            if (in_top && in_top->kind == IN_ISOLATED)
                msg_report(1512, alert_narrow(m->name).c_str(), alert_narrow(in_top->name).c_str());
            else
                msg_report(116, call_line);
            return false;
        }
        if (c == '\n')
            out_marker_needed = true;
        if (cur.note(c))
            continue;
        if ((c == ')' || c == ',') && depth == 0) {
            if (c == ')' && args.empty() && cur.text.empty() && m->nparams == 0)
                return true;
            if (args.size() >= MAX_PARAMS)
                msg_report(151);
            args.push_back(cur.text);
            cur.text.clear();
            cur.blank = cur.boundary = false;
            if (c == ')')
                return true;
            continue;
        }
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        // A ## inside an expansion that is read as an argument joins here.
        wstr tok;
        if (mac_take_token(c, tok, TAKE_PAINT))
            cur.add(tok);
        else
            cur.boundary = true;
    }
}

// Argument text fully macro-expanded by itself, as if it were the rest of
// the input; false when a runaway nesting dropped the pending input.
static bool mac_expand_argument(macro_rec *m, wstr &arg, unsigned drops)
{
    in_push_text(arg, IN_ISOLATED, m->name);
    mac_collector out;
    out.source = in_top->serial;
    for (;;) {
        int c = in_getc();
        if (c == CH_EOF)
            break;
        if (out.note(c))
            continue;
        wstr tok;
        bool taken = mac_take_token(c, tok, TAKE_EXPAND | TAKE_PAINT);
        if (drops != mac_drops)
            return false; // the isolated stream is gone with the rest
        if (taken)
            out.add(tok);
        else
            out.boundary = true;
    }
    in_end_isolated();
    arg = out.text;
    return true;
}

// An argument in a string literal, markers dropped. Quotes and backslashes
// of the string literals and character constants in it are escaped; a
// backslash outside them stands for itself, as C has it.
static void mac_stringize(wstr &out, const wstr &arg)
{
    out += u'"';
    wch quote = 0; // the literal being copied
    for (size_t i = 0; i < arg.size(); i++) {
        wch c = arg[i];
        if (ch_is_marker(c))
            continue;
        if (!quote) {
            if (c == '"')
                out += u'\\';
            if (c == '"' || c == '\'')
                quote = c;
            out += c;
            continue;
        }
        if (c == '"' || c == '\\')
            out += u'\\';
        out += c;
        if (c == '\\' && i + 1 < arg.size()) {
            wch d = arg[++i];
            if (d == '"' || d == '\\')
                out += u'\\';
            out += d;
        } else if (c == quote) {
            quote = 0;
        }
    }
    out += u'"';
}

// The expansion text: the body with # and ## arguments substituted (as
// written). An empty argument beside ## leaves the other operand alone.
// plain receives a bit for each parameter that stays in the text, whose
// argument is to be expanded first.
static wstr mac_build_text(macro_rec *m, const std::vector<wstr> &args, uint32_t &plain)
{
    const wstr &b = m->body;
    wstr out;
    plain = 0;
    for (size_t i = 0; i < b.size(); i++) {
        wch c = b[i];
        if (c == CH_STRINGIZE) {
            wch d = i + 1 < b.size() ? b[i + 1] : 0;
            if (ch_is_param(d)) {
                unsigned k = d - CH_PARAM;
                mac_stringize(out, k < args.size() ? args[k] : mac_no_text);
            } else {
                msg_report(172);
                out += u'#';
                if (d)
                    out += d;
            }
            i++;
        } else if (ch_is_param(c)) {
            unsigned k = c - CH_PARAM;
            const wstr &arg = k < args.size() ? args[k] : mac_no_text;
            bool before_paste = i + 1 < b.size() && b[i + 1] == CH_PASTE;
            bool after_paste = i > 0 && b[i - 1] == CH_PASTE;
            if (!before_paste && !after_paste) {
                out += c;
                plain |= 1u << k;
            } else if (arg.empty()) {
                if (after_paste && !out.empty() && out.back() == CH_PASTE)
                    out.pop_back(); // x ## <empty>: x
                else if (before_paste)
                    i++;            // <empty> ## y: y
            } else {
                if (after_paste && arg[0] != CH_NOEXPAND && in_class(arg[0]) == CC_IDENT)
                    out += CH_NOEXPAND;
                out += arg;
            }
        } else {
            out += c;
        }
        if (out.size() > mac_text_limit)
            msg_report(153, alert_narrow(m->name).c_str());
    }
    return out;
}

static void mac_push_expansion(macro_rec *m, const wstr &text, std::vector<wstr> *args)
{
    in_push_text(text, IN_EXPANSION, m->name);
    in_top->macro = m;
    if (args)
        in_top->args = std::move(*args);
    m->in_use++;
}

// __FILE__ and __LINE__.
static bool mac_expand_builtin(macro_rec *m)
{
    if (m->nparams == MAC_LINE) {
        mac_push_expansion(m, alert_widen(std::to_string(in_line_for_report()).c_str()), nullptr);
        return true;
    }
    input_stream *f = in_file_stream();
    if (!f)
        return false;
    wstr text = u"\"";
    for (wch c : f->has_line_name ? f->line_name : f->name) {
        if (c == '\\')
            text += u'\\';
        text += c;
    }
    text += u'"';
    mac_push_expansion(m, text, nullptr);
    return true;
}

bool mac_expand(macro_rec *m)
{
    int c = in_getc();
    in_ungetc(c);
    if (c == CH_PASTE)
        return false;
    // Expansions nest on the stream stack, and arguments expanded by
    // themselves on the program's stack as well: their depth is limited.
    if (in_expansion_depth == 0)
        mac_chain_first = m;
    if (in_expansion_depth + 1 >= mac_nest_limit) {
        msg_report(115, alert_narrow(m->name).c_str(), alert_narrow(mac_chain_first->name).c_str());
        in_drop_to_file();
        mac_drops++;
        return false;
    }
    if (m->nparams == MAC_LINE || m->nparams == MAC_FILE)
        return mac_expand_builtin(m);
    std::vector<wstr> args;
    if (m->nparams >= 0) {
        if (!mac_find_open_paren())
            return false;
        if (!mac_read_args(m, args))
            return true;
        if ((int)args.size() != m->nparams)
            msg_report(171, alert_narrow(m->name).c_str(), (int)args.size(), m->nparams);
    }
    uint32_t plain = 0;
    wstr text = mac_build_text(m, args, plain);
    unsigned drops = mac_drops;
    for (size_t k = 0; k < args.size() && k < 32; k++)
        if ((plain >> k & 1) && !mac_expand_argument(m, args[k], drops))
            return true; // dropped with the rest of the pending input
    mac_push_expansion(m, text, plain ? &args : nullptr);
    return true;
}

// ---------------------------------------------------------------------------
// token pasting at read time
// ---------------------------------------------------------------------------

static wstr mac_strip_noexpand(const wstr &s)
{
    wstr out;
    for (wch c : s)
        if (c != CH_NOEXPAND)
            out += c;
    return out;
}

// After a token: when a paste marker follows, joins the token with the next
// one (taken as written, never expanded) and pushes the result to be read
// again (true).
bool mac_try_paste(wstr &token)
{
    int c = in_getc();
    if (c != CH_PASTE) {
        in_ungetc(c);
        return false;
    }
    do
        c = in_getc_nomarkers();
    while (in_class(c) == CC_WHITE);
    int k = in_class(c);
    wstr next;
    if (k == CC_IDENT) {
        in_read_ident(c);
        next = in_name_buf;
    } else if (k == CC_DIGIT) {
        in_copy_number(c, next);
    } else if (mac_pastes_punctuator(c)) {
        in_copy_punctuator(c, next);
    } else {
        msg_report(169, c);
        in_ungetc(c);
        return false;
    }
    wstr joined = mac_strip_noexpand(token) + mac_strip_noexpand(next);
    if (joined.size() > mac_text_limit)
        msg_report(155, alert_narrow(token).c_str());
    in_push_text(joined, IN_TEXT, in_top ? in_top->name : wstr());
    return true;
}
