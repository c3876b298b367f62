// pragma: #pragma lines (also _Pragma and -G). The text is split into
// words at blanks, commas, tabs, parentheses and colons; each pragma takes
// its words and any words left over are read as further pragmas. Most
// write a "[p" record for the code generator; some set the parser's own
// state (register arguments, JIS strings, string qualifiers, marks on
// names applied when those names are declared).
#include "plover.h"

#include <cctype>
#include <cstring>
#include <unordered_map>

static std::unordered_map<std::string, pragma_name_t> lex_pragma_names; // marks by name

// Every word left over on a line is read as a pragma again, so one long line
// of unknown words would give a warning for each: only this many are shown.
static const int PRAGMA_UNKNOWN_MAX = 10;
static int lex_pragma_unknown_count; // unknown words of the current line

static void lex_pragma_unknown(const std::string &word)
{
    int n = ++lex_pragma_unknown_count;
    if (n <= PRAGMA_UNKNOWN_MAX)
        msg_report(335, word.c_str());
    else if (n == PRAGMA_UNKNOWN_MAX + 1)
        msg_report(1500);
}

pragma_name_t *lex_pragma_name(const std::string &name)
{
    auto it = lex_pragma_names.find(name);
    return it == lex_pragma_names.end() ? nullptr : &it->second;
}

bool lex_fastcall_enabled()
{
    return qual_role.fastcall16 != 0;
}

static bool lex_ieq(const std::string &a, const char *b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

// The text of a record for regsused, callname and callsizes: built in a
// 256-byte buffer that stops before a word that would overflow it.
static void lex_pragma_fn_record(char letter, const std::vector<std::string> &w, size_t &i,
                                 const char *join)
{
    if (i >= w.size()) {
        msg_report(215);
        return;
    }
    const std::string &fn = w[i++];
    sym_t *s = sym_find(fn);
    if (!s || !type_is_func(s->type)) {
        msg_report(254, "function", fn.c_str());
        i = w.size();
        return;
    }
    if (!(s->flags & F_WRITTEN))
        ic_var(s, out_body);
    std::string text = std::string(1, letter) + " _" + fn;
    bool first = true;
    for (; i < w.size(); i++) {
        std::string piece = (first ? std::string(" ") : std::string(join)) + w[i];
        if (text.size() + piece.size() >= 256)
            break;
        text += piece;
        first = false;
    }
    i = w.size();
    ic_pragma(out_body, "%s", text.c_str());
}

static bool lex_pragma_number(const std::vector<std::string> &w, size_t i, long *v)
{
    if (i >= w.size() || !isdigit((unsigned char)w[i][0]))
        return false;
    *v = strtol(w[i].c_str(), nullptr, 0);
    return true;
}

static void lex_pragma_warning(const std::vector<std::string> &w, size_t &i)
{
    std::string sub = i < w.size() ? w[i++] : "";
    std::vector<unsigned> nums;
    for (size_t k = i; k < w.size() && isdigit((unsigned char)w[k][0]); k++)
        nums.push_back((unsigned)strtoul(w[k].c_str(), nullptr, 10));
    // The list is written joined by commas: the reader takes one token.
    std::string list;
    for (unsigned n : nums)
        list += (list.empty() ? "" : ",") + std::to_string(n);
    struct {
        const char *word;
        char letter;
        int all_op;
        int state;
    } const rows[] = {
        {"disable", 'n', 7, 1}, {"enable", 'y', 8, 0}, {"error", 'e', -1, 3}, {"warning", 'g', -1, 2},
    };
    if (lex_ieq(sub, "push")) {
        msg_state_op(0, 5);
        ic_pragma(out_body, "k");
        return;
    }
    if (lex_ieq(sub, "pop")) {
        msg_state_op(0, 6);
        ic_pragma(out_body, "o");
        return;
    }
    for (const auto &r : rows) {
        if (!lex_ieq(sub, r.word))
            continue;
        if (nums.empty() && r.all_op >= 0) {
            msg_state_op(0, r.all_op);
            ic_pragma(out_body, "%c", r.letter);
        } else {
            ic_pragma(out_body, "%c %s", r.letter, list.c_str());
            for (unsigned n : nums)
                msg_state_op(n, r.state);
        }
        i += nums.size();
        return;
    }
    lex_pragma_unknown(sub);
}

static uint32_t lex_pragma_qual(const std::vector<std::string> &w, size_t &i, unsigned msg,
                                bool *bad)
{
    *bad = false;
    if (i >= w.size())
        return 0;
    uint32_t b = qual_lookup(w[i]);
    if (!b) {
        if (msg == 333)
            msg_report(333);
        else
            msg_report(334);
        *bad = true;
    }
    i++;
    return b;
}

static void lex_pragma_one(const std::vector<std::string> &w, size_t &i)
{
    const std::string word = w[i++];
    long n;
    if (lex_fastcall_enabled()) {
        if (word == "fastcall16" || word == "ioport" || word == "interrupt_handler") {
            if (i >= w.size())
                return;
            pragma_name_t &p = lex_pragma_names[w[i]];
            p.name = w[i++];
            if (word == "fastcall16")
                p.fastcall16 = true;
            else if (word == "ioport")
                p.ioport = true;
            else
                p.handler = true;
            if (word != "fastcall16" && i < w.size() && isdigit((unsigned char)w[i][0]))
                p.number = strtoul(w[i++].c_str(), nullptr, 0);
            return;
        }
        if (word == "end_abs_address") {
            lex_abs_address = -1;
            return;
        }
        if (word == "abs_address") {
            if (i < w.size() && isdigit((unsigned char)w[i][0]))
                lex_abs_address = (int64_t)strtoul(w[i++].c_str(), nullptr, 0);
            else
                msg_report(236);
            if (i < w.size())
                msg_report(1345, w[i].c_str());
            i = w.size();
            return;
        }
    }
    if (lex_ieq(word, "warning")) {
        lex_pragma_warning(w, i);
        return;
    }
    if (word == "pack") {
        if (lex_pragma_number(w, i, &n)) {
            ic_pragma(out_body, "p %ld", n);
            i++;
        } else {
            msg_report(212);
        }
    } else if (word == "return_offset") {
        if (lex_pragma_number(w, i, &n)) {
            ic_pragma(out_body, "r %ld", n);
            i++;
        } else {
            msg_report(213);
        }
    } else if (word == "interrupt_level") {
        if (!lex_pragma_number(w, i, &n))
            msg_report(214);
        while (lex_pragma_number(w, i, &n)) {
            if (n > 7)
                msg_report(332);
            ic_pragma(out_body, "l %ld", n);
            i++;
        }
    } else if (word == "regarg") {
        lex_regarg = true;
    } else if (word == "noregarg") {
        lex_regarg = false;
    } else if (word == "jis") {
        lex_jis = true;
    } else if (word == "nojis") {
        lex_jis = false;
    } else if (word == "strings") {
        bool bad;
        if (i >= w.size())
            lex_string_qual = 0;
        else
            lex_string_qual |= lex_pragma_qual(w, i, 333, &bad);
    } else if (word == "regsused") {
        lex_pragma_fn_record('u', w, i, ",");
    } else if (word == "callname") {
        lex_pragma_fn_record('c', w, i, " ");
    } else if (word == "callsizes") {
        lex_pragma_fn_record('a', w, i, " ");
    } else if (word == "varregs") {
        std::string list;
        for (; i < w.size(); i++)
            list += (list.empty() ? "" : ",") + w[i];
        ic_pragma(out_body, "v %s", list.empty() ? "," : list.c_str());
    } else if (word == "switch") {
        if (i < w.size())
            ic_pragma(out_body, "w %s", w[i++].c_str());
        else
            msg_report(215);
    } else if (word == "text") {
        if (i < w.size())
            ic_pragma(out_front, "s text=%s", w[i++].c_str());
        else
            msg_report(216);
    } else if (word == "psect") {
        // split at '=' only by the word splitter's rules: "old=new" is one word
        if (i < w.size())
            ic_pragma(out_body, "s %s", w[i++].c_str());
        else
            msg_report(216);
    } else if (word == "stack_size") {
        // The reader takes one token "<name>,<hexadecimal size>": an optional
        // name word (SYS_MODE, USR_MODE), then the size in any C base.
        std::string name = "STACK_SIZE";
        if (i < w.size() && !isdigit((unsigned char)w[i][0]))
            name = w[i++];
        if (lex_pragma_number(w, i, &n)) {
            ic_pragma(out_front, "b %s,%lx", name.c_str(), (unsigned long)n);
            i++;
        } else {
            msg_report(217);
            i = w.size();
        }
    } else if (word == "inline") {
        if (i < w.size()) {
            sym_t *s = sym_find_or_enter(w[i++]);
            s->flags |= F_INLINE;
        } else {
            msg_report(218);
        }
    } else if (word == "printf_check") {
        if (i < w.size()) {
            sym_t *s = sym_find_or_enter(w[i++]);
            s->flags |= F_PRINTF;
            bool bad;
            s->format_qual = lex_pragma_qual(w, i, 334, &bad);
        } else {
            msg_report(219);
        }
    } else {
        lex_pragma_unknown(word);
    }
}

void lex_pragma(const char *text)
{
    std::vector<std::string> w;
    std::string cur;
    for (const char *p = text;; p++) {
        char c = *p;
        if (c == 0 || c == ' ' || c == ',' || c == '\r' || c == '\t' || c == '(' || c == ')' ||
            c == ':') {
            if (!cur.empty())
                w.push_back(cur);
            cur.clear();
            if (c == 0)
                break;
        } else {
            cur += c;
        }
    }
    size_t i = 0;
    lex_pragma_unknown_count = 0;
    while (i < w.size())
        lex_pragma_one(w, i);
}
