// A checker of the intermediate-code grammar as its reader sees it: the
// version line, white-space tokens with line markers, the record tags and
// their fields, prefix expressions with each operator's operand count, and
// the pragma sub-records. It is written from the reader's rules, apart
// from the writer, so a test can hold every output of plover against it.
#include "icode_check.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

struct reader_t {
    const std::string &text;
    size_t pos = 0;
    std::string error;

    explicit reader_t(const std::string &t) : text(t) {}

    bool fail(const std::string &why, const std::string &token)
    {
        if (error.empty()) {
            size_t line = 1;
            for (size_t i = 0; i < pos && i < text.size(); i++)
                line += text[i] == '\n';
            error = "line " + std::to_string(line) + ": " + why + " at \"" + token + "\"";
        }
        return false;
    }

    static bool blank(char c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    // The next token; line markers are consumed here. Empty at the end.
    std::string next()
    {
        for (;;) {
            while (pos < text.size() && blank(text[pos]))
                pos++;
            if (pos >= text.size())
                return "";
            size_t start = pos;
            while (pos < text.size() && !blank(text[pos]))
                pos++;
            std::string t = text.substr(start, pos - start);
            if (t[0] != '"')
                return t;
            for (size_t i = 1; i < t.size(); i++)
                if (!isdigit((unsigned char)t[i])) {
                    fail("bad line marker", t);
                    return "";
                }
            if (t.size() == 1) {
                fail("bad line marker", t);
                return "";
            }
            if (pos < text.size() && text[pos] != '\n') {
                while (pos < text.size() && blank(text[pos]))
                    pos++;
                while (pos < text.size() && text[pos] != '\n' && text[pos] != '\t')
                    pos++;
            }
        }
    }

    std::string rest_of_line()
    {
        size_t start = pos;
        while (pos < text.size() && text[pos] != '\n')
            pos++;
        return text.substr(start, pos - start);
    }
};

// Operators by operand count, as the reader's operator table has them.
const std::set<std::string> unary_ops = {
    "!", "#", "#T", "$U", "$UE", "&U", "*U", "+U", "-U", "~", ")", "(.", "(1", "(2", "(3",
    "(4", ":U", ":UE", ":s", "@",
};
const std::set<std::string> binary_ops = {
    "!=", "$", "%", "&", "&&", "(", "*", "+", "++", ",", "-", "--", "->", ".", "/", ":",
    ":=", ";", "<", "<<", "<=", "=", "=%", "=&", "=*", "=+", "=-", "=/", "=<<", "==", "=>>",
    "=^", "=|", ">", ">=", ">>", "?", "^", "|", "||", "[\\",
};

bool is_int_token(const std::string &t)
{
    size_t i = t[0] == '-' ? 1 : 0;
    if (i >= t.size() || !isdigit((unsigned char)t[i]))
        return false;
    while (i < t.size() && isdigit((unsigned char)t[i]))
        i++;
    while (i < t.size() && isupper((unsigned char)t[i]))
        i++;
    return i == t.size();
}

bool is_type_token(const std::string &t)
{
    return t[0] == '`' || t[0] == '\'';
}

bool expression(reader_t &r);

bool expression_token(reader_t &r, const std::string &t)
{
    if (t.empty())
        return r.fail("end of input in expression", t);
    if (is_int_token(t) || is_type_token(t) || t == ".." || isalpha((unsigned char)t[0]) ||
        t[0] == '_')
        return true;
    if (t[0] == '.' && t.size() > 1 && t[1] != '.')
        return true;
    if (t == "[;") {
        r.rest_of_line();
        return expression(r);
    }
    if (t == "$U" || t == "$UE" || t == ":U" || t == ":UE" || t == ":s") {
        std::string o = r.next();
        if (o.empty())
            return r.fail("missing operand", t);
        return true;
    }
    if (t == "$") {
        if (!expression(r))
            return false;
        std::string o = r.next();
        return !o.empty() || r.fail("missing label", t);
    }
    if (unary_ops.count(t))
        return expression(r);
    if (binary_ops.count(t))
        return expression(r) && expression(r);
    return r.fail("bad op", t);
}

bool expression(reader_t &r)
{
    return expression_token(r, r.next());
}

bool close_bracket(reader_t &r, const char *record)
{
    std::string t = r.next();
    if (t.empty() || t[0] != ']')
        return r.fail(std::string("missing ] in ") + record, t);
    return true;
}

bool record_v(reader_t &r)
{
    std::string name = r.next();
    if (name.empty() || !(name[0] == '_' || name[0] == 'F'))
        return r.fail("bad name in [v", name);
    std::string type = r.next();
    if (type.empty() || type[0] != '`')
        return r.fail("bad type in [v", type);
    if (!expression(r))
        return false;
    std::string word = r.next();
    if (word.empty() || !strchr("aAeEpPrRsStT", word[0]))
        return r.fail("bad storage word", word);
    std::string t = r.next();
    if (!t.empty() && t[0] != ']') {
        if (toupper((unsigned char)word[0]) != 'S')
            return r.fail("extra token in [v", t);
        return close_bracket(r, "[v");
    }
    return !t.empty() || r.fail("missing ] in [v", t);
}

bool record_s(reader_t &r)
{
    std::string tag = r.next();
    if (tag.empty() || tag[0] != 'S')
        return r.fail("bad tag", tag);
    for (;;) {
        std::string t = r.next();
        if (t.empty())
            return r.fail("end of input in [s", t);
        if (t[0] == ']')
            return true;
        if (t[0] == ':')
            t = r.next();
        if (t.empty() || t[0] != '`')
            return r.fail("bad member type", t);
        if (!expression(r))
            return false;
    }
}

bool record_c(reader_t &r)
{
    std::string tag = r.next();
    if (tag.empty() || tag[0] != 'E')
        return r.fail("bad enum tag", tag);
    for (;;) {
        std::string t = r.next();
        if (t == "..")
            return close_bracket(r, "[c");
        if (!expression_token(r, t))
            return false;
    }
}

bool record_until_bracket(reader_t &r, const char *record)
{
    for (;;) {
        std::string t = r.next();
        if (t.empty())
            return r.fail(std::string("end of input in ") + record, t);
        if (t[0] == ']')
            return true;
    }
}

bool record_i(reader_t &r)
{
    std::string name = r.next();
    if (name.empty())
        return r.fail("missing name in [i", name);
    for (;;) {
        std::string t = r.next();
        if (t.empty())
            return r.fail("end of input in [i", t);
        if (t[0] == ']')
            return true;
        if (!expression_token(r, t))
            return false;
    }
}

// Pragma sub-records: each takes a fixed number of tokens.
bool record_p(reader_t &r)
{
    for (;;) {
        std::string t = r.next();
        if (t.empty())
            return r.fail("end of input in [p", t);
        if (t[0] == ']')
            return true;
        int operands;
        switch (t[0]) {
        case 'k': case 'o': operands = 0; break;
        case 'b': case 'e': case 'g': case 'i': case 'l': case 'p': case 'r': case 's':
        case 'v': case 'w':
            operands = 1;
            break;
        case 'c': case 'f': case 'u': operands = 2; break;
        case 'a': operands = 3; break;
        case 'm':
            operands = t == "mainexit" ? 0 : 1;
            break;
        case 'n': case 'y': {
            std::string list = r.next();
            if (list.empty())
                return r.fail("end of input in [p", t);
            if (list[0] == ']')
                return true;
            continue;
        }
        default:
            return r.fail("bad pragma letter", t);
        }
        if (t[0] == 'b') {
            std::string v = r.next();
            if (v.find_first_of(" ,\r\t()") == std::string::npos)
                return r.fail("bad stack_size text", v);
            continue;
        }
        for (int k = 0; k < operands; k++) {
            std::string o = r.next();
            if (o.empty() || o[0] == ']')
                return r.fail("missing pragma operand", t);
        }
    }
}

} // namespace

bool ic_check(const std::string &text, std::string *error)
{
    reader_t r(text);
    size_t eol = text.find('\n');
    int major = 0, minor = 0;
    if (eol == std::string::npos ||
        sscanf(text.substr(0, eol).c_str(), "Version %d.%d", &major, &minor) != 2 || major != 3 ||
        minor < 2) {
        *error = "bad version line";
        return false;
    }
    r.pos = eol + 1;
    int depth = 0;
    bool ok = true;
    for (;;) {
        std::string t = r.next();
        if (!r.error.empty() || t.empty())
            break;
        if (t == "[;")
            r.rest_of_line();
        else if (t == "[a")
            ok = record_until_bracket(r, "[a");
        else if (t == "[c")
            ok = record_c(r);
        else if (t == "[e")
            ok = expression(r) && close_bracket(r, "[e");
        else if (t == "[f")
            ok = close_bracket(r, "[f");
        else if (t == "[i")
            ok = record_i(r);
        else if (t == "[n")
            ok = record_until_bracket(r, "[n");
        else if (t == "[p")
            ok = record_p(r);
        else if (t == "[s" || t == "[u")
            ok = record_s(r);
        else if (t == "[v")
            ok = record_v(r);
        else if (t == "{")
            depth++;
        else if (t == "}")
            ok = --depth >= 0 || r.fail("unbalanced }", t);
        else
            ok = r.fail("bad record", t);
        if (!ok)
            break;
    }
    if (r.error.empty() && depth != 0)
        r.error = "unbalanced {";
    *error = r.error;
    return r.error.empty();
}
