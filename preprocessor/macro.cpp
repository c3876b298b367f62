// Macro table, #define, expansion and token pasting.
//
// The table has 64 chains; a name's hash is the sum of its characters plus
// its length, and within a chain records of one hash stay in ascending name
// order. A body is stored with marker characters in place of parameters (#,
// ## and the macro's own name marked too). Expanding a call builds the body's
// text with the arguments that # and ## need substituted, and pushes it as a
// new stream; the remaining parameter markers push their argument as a
// stream of its own when the reader meets them, so each argument is rescanned
// where it stands. A macro is disabled while one of its expansions is being
// read, except inside its own argument streams, so f(f(1)) expands fully.
// Records are never freed: a stream may still point at a replaced one.
#include "wren.h"

#include <cstring>
#include <ctime>

static macro_rec *mac_table[64];    // chains by hash & 63
static int mac_nest_count;          // nested expansions since the last file identifier
static macro_rec *mac_chain_first;  // the macro that began the current chain
static unsigned mac_drops;          // times pending expansions were dropped
static const int mac_nest_limit = 999;
static const size_t mac_text_limit = 8191; // longest expansion or pasted text

static uint32_t mac_hash(const wstr &name)
{
    uint32_t h = (uint32_t)name.size();
    for (wch c : name)
        h += c;
    return h;
}

macro_rec *mac_find(const wstr &name)
{
    uint32_t h = mac_hash(name);
    for (macro_rec *m = mac_table[h & 63]; m; m = m->next)
        if (m->hash == h && m->name == name)
            return m;
    return nullptr;
}

bool mac_undefine(const wstr &name)
{
    uint32_t h = mac_hash(name);
    for (macro_rec **p = &mac_table[h & 63]; *p; p = &(*p)->next) {
        if ((*p)->hash == h && (*p)->name == name) {
            *p = (*p)->next;
            return true;
        }
    }
    return false;
}

// Removes any macro of the name and makes a new one without a body.
macro_rec *mac_define(const wstr &name)
{
    mac_undefine(name);
    macro_rec *m = new macro_rec();
    m->name = name;
    m->hash = mac_hash(name);
    macro_rec **p = &mac_table[m->hash & 63];
    while (*p && !((*p)->hash == m->hash && (*p)->name > name))
        p = &(*p)->next;
    m->next = *p;
    *p = m;
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

// The macro of an identifier just read, when it may expand now. A name read
// straight from a file starts a new chain of nested expansions.
macro_rec *mac_lookup_enabled(const wstr &name)
{
    if (in_top_is_file())
        mac_nest_count = 0;
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

// What follows "##" in a body: white space is skipped, then an identifier or
// a number joins the body; anything else is reported and copied.
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
static wstr mac_read_body(const std::vector<wstr> &params, const wstr &self)
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
    wstr body = mac_read_body(params, name);
    if (existed && (!old_has_body || old_body != body))
        msg_report(111, alert_narrow(name).c_str());
    m->body = body;
    m->has_body = true;
}

// ---------------------------------------------------------------------------
// expansion
// ---------------------------------------------------------------------------

// Looks for the '(' of a call, passing white space and line ends. When there
// is none, what was passed is given back and false returned. A macro's own
// name read inside its argument must find its '(' inside that argument: after
// the argument it stands in the macro's own replacement, where it never
// expands again.
static bool mac_find_open_paren(macro_rec *m)
{
    bool from_argument = in_ident_kind == IN_ARGUMENT && in_ident_arg_of == m;
    uint32_t origin = in_ident_serial;
    bool passed_newline = false;
    bool passed_white = false;
    for (;;) {
        if (from_argument && (!in_top || in_top->serial != origin || in_top_exhausted()))
            break;
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

// Reads the arguments of a call up to the matching ')'. False at the end of
// the input (reported).
static bool mac_read_args(macro_rec *m, std::vector<wstr> &args)
{
    int call_line = in_line;
    unsigned drops = mac_drops;
    int depth = 0;
    bool blank = false;
    bool any = false;
    wstr cur;
    for (;;) {
        // A runaway nesting dropped the text this call was reading.
        if (drops != mac_drops)
            return false;
        int c = in_getc();
        if (c == CH_EOF) {
            msg_report(116, call_line);
            return false;
        }
        int k = in_class(c);
        if (c == '\n' || k == CC_WHITE || c == CH_ENDEXP) {
            if (c == '\n')
                out_marker_needed = true;
            blank = !cur.empty() && c != CH_ENDEXP ? true : blank;
            continue;
        }
        if ((c == ')' || c == ',') && depth == 0) {
            if (c == ')' && !any && cur.empty() && m->nparams == 0)
                return true;
            if (args.size() >= MAX_PARAMS)
                msg_report(151);
            args.push_back(cur);
            cur.clear();
            blank = false;
            any = true;
            if (c == ')')
                return true;
            continue;
        }
        if (blank)
            cur += u' ';
        blank = false;
        if (k == CC_QUOTE) {
            in_copy_literal(c, cur);
            continue;
        }
        wstr tok;
        if (k == CC_IDENT) {
            int from_kind = in_top ? in_top->kind : IN_FILE;
            in_read_ident(c);
            if (from_kind == IN_ARGUMENT || from_kind == IN_TEXT) {
                macro_rec *inner = mac_lookup_enabled(in_name_buf);
                if (inner && mac_expand(inner))
                    continue;
            }
            tok = in_name_buf;
        } else if (k == CC_DIGIT) {
            in_copy_number(c, tok);
        } else {
            depth += c == '(' ? 1 : c == ')' ? -1 : 0;
            tok = (wch)c;
        }
        // A ## inside an expansion that is read as an argument joins here.
        if (!mac_try_paste(tok))
            cur += tok;
    }
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

// The expansion text: the body with # and ## arguments substituted.
static wstr mac_build_text(macro_rec *m, const std::vector<wstr> &args, bool &uses_params)
{
    const wstr &b = m->body;
    wstr out;
    uses_params = false;
    for (size_t i = 0; i < b.size(); i++) {
        wch c = b[i];
        if (c == CH_STRINGIZE) {
            wch d = i + 1 < b.size() ? b[i + 1] : 0;
            if (ch_is_param(d)) {
                unsigned k = d - CH_PARAM;
                mac_stringize(out, k < args.size() ? args[k] : wstr());
            } else {
                msg_report(172);
                out += u'#';
                if (d)
                    out += d;
            }
            i++;
        } else if (ch_is_param(c)) {
            unsigned k = c - CH_PARAM;
            wstr arg = k < args.size() ? args[k] : wstr();
            if (i + 1 < b.size() && b[i + 1] == CH_PASTE) {
                out += arg;
            } else if (i > 0 && b[i - 1] == CH_PASTE) {
                if (!arg.empty() && arg[0] != CH_NOEXPAND && in_class(arg[0]) == CC_IDENT)
                    out += CH_NOEXPAND;
                out += arg;
            } else {
                out += c;
                uses_params = true;
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
        in_top->args = *args;
    m->in_use++;
}

// __FILE__ and __LINE__.
static bool mac_expand_builtin(macro_rec *m)
{
    if (m->nparams == MAC_LINE) {
        mac_push_expansion(m, alert_widen(std::to_string(in_line).c_str()), nullptr);
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
    if (mac_nest_count == 0)
        mac_chain_first = m;
    if (++mac_nest_count >= mac_nest_limit) {
        msg_report(115, alert_narrow(m->name).c_str(), alert_narrow(mac_chain_first->name).c_str());
        in_drop_to_file();
        mac_drops++;
        mac_nest_count = 0;
        return false;
    }
    if (m->nparams == MAC_LINE || m->nparams == MAC_FILE)
        return mac_expand_builtin(m);
    std::vector<wstr> args;
    if (m->nparams >= 0) {
        if (!mac_find_open_paren(m))
            return false;
        if (!mac_read_args(m, args))
            return true;
        if ((int)args.size() != m->nparams)
            msg_report(171, alert_narrow(m->name).c_str(), (int)args.size(), m->nparams);
    }
    bool uses_params = false;
    wstr text = mac_build_text(m, args, uses_params);
    mac_push_expansion(m, text, uses_params ? &args : nullptr);
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
// one and pushes the result to be read again (true).
bool mac_try_paste(wstr &token)
{
    int c = in_getc();
    if (c != CH_PASTE) {
        in_ungetc(c);
        return false;
    }
    wstr next;
    for (;;) {
        c = in_getc_nomarkers();
        while (in_class(c) == CC_WHITE)
            c = in_getc_nomarkers();
        int k = in_class(c);
        if (k == CC_IDENT) {
            in_read_ident(c);
            macro_rec *m = mac_lookup_enabled(in_name_buf);
            if (m && mac_expand(m))
                continue;
            next = in_name_buf;
        } else if (k == CC_DIGIT) {
            in_copy_number(c, next);
        } else if (c > 0 && c < 0x80 && strchr("+-&|<>", c)) {
            next = (wch)c;
        } else {
            msg_report(169, c);
            in_ungetc(c);
            return false;
        }
        break;
    }
    wstr joined = mac_strip_noexpand(token) + mac_strip_noexpand(next);
    if (joined.size() > mac_text_limit)
        msg_report(155, alert_narrow(token).c_str());
    in_push_text(joined, IN_TEXT, in_top ? in_top->name : wstr());
    return true;
}
