// patgen: turns the pattern description into the code generator's pattern
// tables (run by the build, never shipped).
//
//   patgen <description> <output.cpp>
//
// The description is read line by line. "foreach $v in a b c" ... "done"
// repeats its body once per word with $v replaced, so families of patterns
// over sizes and classes stay one block. "goal name" declares a nonterminal;
// stmt (93) and rewrite (290) are predeclared, the others are numbered from 94
// in order. A pattern starts with a head line "goal <- OP(left, right)" (an
// operator record) or "goal <- other" (a chain rule) and goes on with indented
// attribute lines; "code" opens a multi-line template closed by "end".
//
// The generator numbers the patterns in file order, closes every run over the
// chain rules, puts each (goal, operator) pair into the 7,456-row hash at
// goal x operator with linear probing, and writes the records, the hash, the
// run lists and the description line of every record as C++. Every name is
// checked; any error is reported with its line and no output is written.
#include "common.h"
#include "kestrel.h"
#include "patnames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// One source line after the foreach expansion.
struct src_line {
    std::string text;
    unsigned line;
};

// One pattern as read.
struct pat {
    unsigned line;
    std::string head;              // head text, for the comment
    std::string name;              // "name" attribute, "" none
    int lhs = 0;                   // goal number
    int op = -1;                   // operator, or -1 for a chain rule
    int chain_from = 0;            // chain rule: source goal
    std::string left, right;       // operand goal names ("@name" for a pattern)
    int arity = 0;
    pattern_record rec{};
    std::string templ;
    bool has_templ = false;
    std::string after;
    std::vector<std::string> results;
};

// The description's file name, for messages and comments.
static std::string desc_name;
// Line of the message being reported.
static unsigned cur_line_no;
// Goal names by number and numbers by name.
static std::map<std::string, int> goal_by_name;
static std::vector<std::string> goal_names(GOAL_LAST - GOAL_FIRST + 1);
static std::map<int, unsigned> goal_decl_line;
static int next_goal = GOAL_FIRST + 1;
// The patterns in file order (index + 1 is the pattern number).
static std::vector<pat> pats;

static void error_at(unsigned line, const std::string &text)
{
    cur_line_no = line;
    msg_report_unnumbered("E", "%s", text.c_str());
}

static std::string trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return "";
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

static std::vector<std::string> words(const std::string &s)
{
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

static std::string strip_comment(const std::string &s)
{
    std::string t = trim(s);
    if (!t.empty() && t[0] == '#')
        return "";
    size_t p = s.find(" #");
    return p == std::string::npos ? s : s.substr(0, p);
}

// ---------------------------------------------------------------------------
// foreach expansion
// ---------------------------------------------------------------------------
static void replace_all(std::string &s, const std::string &from, const std::string &to)
{
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
}

static std::vector<std::string> split_colons(const std::string &s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string part; std::getline(in, part, ':');)
        out.push_back(part);
    return out;
}

// Expands lines from i into out up to a closing "done" (when nested) or the
// end; returns the index after what it used. *closed tells whether a "done"
// ended the block.
static size_t expand_block(const std::vector<src_line> &in, size_t i, std::vector<src_line> &out,
                           bool nested, bool *closed)
{
    *closed = false;
    while (i < in.size()) {
        std::vector<std::string> w = words(strip_comment(in[i].text));
        if (!w.empty() && w[0] == "done") {
            if (!nested)
                error_at(in[i].line, "\"done\" without \"foreach\"");
            *closed = true;
            return i + 1;
        }
        if (w.empty() || w[0] != "foreach") {
            out.push_back(in[i++]);
            continue;
        }
        if (w.size() < 4 || w[1][0] != '$' || w[2] != "in") {
            error_at(in[i].line, "expected \"foreach $name in word ...\"");
            return in.size();
        }
        std::vector<src_line> body;
        bool body_closed;
        size_t next = expand_block(in, i + 1, body, true, &body_closed);
        if (!body_closed)
            error_at(in[i].line, "\"foreach\" without \"done\"");
        std::vector<std::string> names = split_colons(w[1]);
        for (size_t k = 3; k < w.size(); k++) {
            std::vector<std::string> values = split_colons(w[k]);
            if (values.size() != names.size())
                error_at(in[i].line, "\"" + w[k] + "\" does not give one value per name");
            for (src_line l : body) {
                for (size_t v = 0; v < names.size() && v < values.size(); v++)
                    replace_all(l.text, names[v], values[v]);
                out.push_back(l);
            }
        }
        i = next;
    }
    return i;
}

// ---------------------------------------------------------------------------
// names
// ---------------------------------------------------------------------------
// Operator names as the description writes them (the OP_ names without OP_).
static const char *const op_names[] = {
#define OP_NAME(n, spelling) #n,
    OPERATOR_LIST(OP_NAME)
#undef OP_NAME
};

static int operator_number(const std::string &name)
{
    for (int i = 0; i < OP_COUNT; i++)
        if (name == op_names[i])
            return i;
    return -1;
}

static uint32_t predicate_number(const std::string &name)
{
    static const char *const names[] = {
        "",
#define PRED_NAME(n) #n,
        PREDICATE_LIST(PRED_NAME)
#undef PRED_NAME
    };
    for (uint32_t i = 1; i < PRED_END; i++)
        if (name == names[i])
            return i;
    return 0;
}

struct named_reg { const char *name; uint32_t number; uint32_t mask; };
static const named_reg registers[] = {
#define REG_ROW(n, num, mask) {#n, num, mask},
    PATTERN_REGISTER_LIST(REG_ROW)
#undef REG_ROW
};

static const named_reg *register_named(const std::string &name)
{
    for (const named_reg &r : registers)
        if (name == r.name)
            return &r;
    return nullptr;
}

static std::string register_names()
{
    std::string s;
    for (const named_reg &r : registers)
        s += std::string(s.empty() ? "" : " ") + r.name;
    return s;
}

static int mode_bit(const std::string &name)
{
    static const char *const names[] = {
#define MODE_NAME(n) #n,
        PATTERN_MODE_LIST(MODE_NAME)
#undef MODE_NAME
    };
    for (int i = 0; i < (int)(sizeof names / sizeof names[0]); i++)
        if (name == names[i])
            return i;
    return -1;
}

static int kind_number(const std::string &name)
{
#define KIND_TEST(n, v) if (name == #n) return v;
    PATTERN_KIND_LIST(KIND_TEST)
#undef KIND_TEST
    return -1;
}

static uint32_t flag_bit(const std::string &name)
{
#define FLAG_TEST(n, bit) if (name == #n) return bit;
    PATTERN_FLAG_LIST(FLAG_TEST)
#undef FLAG_TEST
    return 0;
}

// ---------------------------------------------------------------------------
// reading
// ---------------------------------------------------------------------------
static std::string unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'b' ? '\b' : c == 'r' ? '\r' : c;
    }
    return out;
}

static void declare_goal(const std::vector<std::string> &w, unsigned line)
{
    if (w.size() != 2) {
        error_at(line, "expected \"goal name\"");
        return;
    }
    if (goal_by_name.count(w[1])) {
        error_at(line, "goal \"" + w[1] + "\" declared twice");
        return;
    }
    if (next_goal == GOAL_REWRITE)
        next_goal++;
    if (next_goal > GOAL_LAST) {
        error_at(line, "more goals than the 201 nonterminals 93 to 293");
        return;
    }
    goal_names[next_goal - GOAL_FIRST] = w[1];
    goal_decl_line[next_goal] = line;
    goal_by_name[w[1]] = next_goal++;
}

// Reads a head "goal <- OP(a, b)" or "goal <- other".
static bool read_head(const std::string &text, unsigned line, pat &p)
{
    size_t arrow = text.find("<-");
    std::string lhs = trim(text.substr(0, arrow)), rhs = trim(text.substr(arrow + 2));
    p.line = line;
    p.head = trim(text);
    if (!goal_by_name.count(lhs)) {
        error_at(line, "unknown goal \"" + lhs + "\"");
        return false;
    }
    p.lhs = goal_by_name[lhs];
    size_t open = rhs.find('(');
    std::string opname = trim(rhs.substr(0, open));
    if (open == std::string::npos && goal_by_name.count(opname)) {
        p.chain_from = goal_by_name[opname];
        p.rec.op = (uint32_t)p.chain_from;
        return true;
    }
    p.op = operator_number(opname);
    if (p.op < 0) {
        error_at(line, "\"" + opname + "\" is neither an operator nor a goal");
        return false;
    }
    p.rec.op = (uint32_t)p.op;
    if (open == std::string::npos)
        return true;
    size_t close = rhs.rfind(')');
    if (close == std::string::npos || close < open) {
        error_at(line, "missing \")\" in the pattern head");
        return false;
    }
    std::string args = rhs.substr(open + 1, close - open - 1);
    size_t comma = args.find(',');
    p.left = trim(args.substr(0, comma));
    p.arity = 1;
    if (comma != std::string::npos) {
        p.right = trim(args.substr(comma + 1));
        p.arity = 2;
    }
    return true;
}

static uint32_t register_attr(const std::string &name, unsigned line)
{
    const named_reg *r = register_named(name);
    if (!r) {
        error_at(line, "unknown register or class \"" + name + "\" (known: " + register_names() + ")");
        return 0;
    }
    return r->number;
}

static void read_predicates(pat &p, const std::vector<std::string> &w, unsigned line)
{
    if (w.size() > 4)
        error_at(line, "more than three predicates");
    for (size_t i = 1; i < w.size() && i < 4; i++) {
        bool neg = w[i][0] == '!';
        uint32_t n = predicate_number(neg ? w[i].substr(1) : w[i]);
        if (!n)
            error_at(line, "unknown predicate \"" + w[i] + "\"");
        p.rec.pred[i - 1] = n | (neg ? PRED_NEGATED : 0);
    }
}

// One attribute line of the current pattern.
static void read_attribute(pat &p, const std::string &text, unsigned line)
{
    std::vector<std::string> w = words(text);
    const std::string &key = w[0];
    std::string rest = trim(text.substr(text.find(key) + key.size()));
    if (key == "when") {
        read_predicates(p, w, line);
    } else if (key == "mode") {
        for (size_t i = 1; i < w.size(); i++) {
            int b = mode_bit(w[i]);
            if (b < 0)
                error_at(line, "unknown mode \"" + w[i] + "\"");
            else
                p.rec.mode_mask |= 1u << b;
        }
    } else if (key == "left" || key == "right" || key == "scratch" || key == "scratch2") {
        uint32_t r = w.size() == 2 ? register_attr(w[1], line) : 0;
        if (w.size() != 2)
            error_at(line, "\"" + key + "\" takes one register or class");
        (key == "left" ? p.rec.left_wish : key == "right" ? p.rec.right_wish
                                           : key == "scratch" ? p.rec.scratch : p.rec.scratch2) = r;
    } else if (key == "clobber") {
        for (size_t i = 1; i < w.size(); i++) {
            const named_reg *r = register_named(w[i]);
            if (!r || !r->mask)
                error_at(line, "unknown register \"" + w[i] + "\" in clobber");
            else
                p.rec.clobber |= r->mask;
        }
    } else if (key == "kind") {
        int k = w.size() == 2 ? kind_number(w[1]) : -1;
        if (k < 0)
            error_at(line, "unknown kind \"" + rest + "\"");
        else
            p.rec.flags = (p.rec.flags & ~(uint32_t)PK_MASK) | (uint32_t)k;
    } else if (key == "flags") {
        for (size_t i = 1; i < w.size(); i++) {
            uint32_t b = flag_bit(w[i]);
            if (!b)
                error_at(line, "unknown flag \"" + w[i] + "\"");
            p.rec.flags |= b;
        }
    } else if (key == "name") {
        p.name = rest;
    } else if (key == "result") {
        p.results.push_back(unescape(rest));
    } else if (key == "after") {
        p.after = unescape(rest);
    } else if (key == "code") {
        p.templ = unescape(rest);
        p.has_templ = true;
    } else {
        error_at(line, "unknown attribute \"" + key + "\"");
    }
}

static void read_description(const std::vector<src_line> &lines)
{
    pat *cur = nullptr;
    for (size_t i = 0; i < lines.size(); i++) {
        const src_line &l = lines[i];
        std::string text = trim(strip_comment(l.text));
        if (text.empty())
            continue;
        std::vector<std::string> w = words(text);
        if (w[0] == "goal") {
            declare_goal(w, l.line);
            cur = nullptr;
        } else if (text.find("<-") != std::string::npos && !isspace((unsigned char)l.text[0])) {
            pats.emplace_back();
            cur = &pats.back();
            if (!read_head(text, l.line, *cur))
                cur->lhs = 0;
        } else if (!cur) {
            error_at(l.line, "attribute outside a pattern: \"" + text + "\"");
        } else if (text == "code") {
            std::string t;
            size_t j = i + 1;
            for (; j < lines.size() && trim(lines[j].text) != "end"; j++)
                t += (t.empty() && j == i + 1 ? "" : "\n") + unescape(trim(lines[j].text));
            if (j == lines.size())
                error_at(l.line, "\"code\" without \"end\"");
            cur->templ = t;
            cur->has_templ = true;
            i = j;
        } else {
            read_attribute(*cur, text, l.line);
        }
    }
}

// ---------------------------------------------------------------------------
// checks
// ---------------------------------------------------------------------------
// The template escapes: letters the expander knows, and K and M that it
// accepts and ignores.
static const char template_letters[] = "ABCDEGHIKLMNOPQRSTUVWXYZ";

// A result text stands for the pattern's own value: naming its own node's
// result text again would never end.
static void check_result_texts(const pat &p)
{
    for (const std::string &t : p.results)
        for (size_t i = 0; i + 1 < t.size(); i++)
            if (t[i] == '~' && (t[i + 1] == 'N' || t[i + 1] == 'S' || t[i + 1] == 'D'))
                error_at(p.line, "a result text names its own result (" + t.substr(i, 2) + ")");
}

static void check_template(const pat &p)
{
    check_result_texts(p);
    const std::string &t = p.templ;
    std::vector<std::string> texts = p.results;
    texts.push_back(t);
    for (const std::string &s : texts)
        for (size_t i = 0; i < s.size(); i++) {
            char c = s[i];
            if (c == '~' && i + 1 < s.size() && s[i + 1] == '~') {
                i++;   // a written tilde
                continue;
            }
            if (c == '~' && i + 1 < s.size() && strchr("GXY", s[i + 1]))
                c = s[++i];
            if (!isupper((unsigned char)c) && c != '~')
                continue;
            if (c != '~' && !strchr(template_letters, c))
                error_at(p.line, std::string("unknown template letter \"") + c + "\"");
            if (c == 'X' && !p.rec.scratch)
                error_at(p.line, "template letter X without a scratch class");
            if (c == 'Y' && !p.rec.scratch2)
                error_at(p.line, "template letter Y without a second scratch class");
            // the escape's modifiers and its which letter (J with its path)
            // follow it, as the expander reads them
            size_t j = i + 1;
            while (j < s.size() && strchr("0123456789+-!=/<>", s[j]))
                j++;
            if (j < s.size() && strchr("NLRSD", s[j]) && s[j])
                i = j;
            else if (j < s.size() && s[j] == 'J') {
                for (i = j + 1; i < s.size() && (s[i] == '0' || s[i] == '1'); i++)
                    ;
                i--;
            }
        }
}

static int pattern_named(const std::string &name)
{
    for (size_t i = 0; i < pats.size(); i++)
        if (pats[i].name == name)
            return (int)i + 1;
    return 0;
}

static uint32_t operand_goal(const pat &p, const std::string &name, std::set<int> &used)
{
    if (name.empty())
        return 0;
    if (name[0] == '@') {
        int r = pattern_named(name.substr(1));
        if (!r)
            error_at(p.line, "no pattern named \"" + name.substr(1) + "\"");
        return r ? (uint32_t)(GOAL_PATTERN + r) : 0;
    }
    if (!goal_by_name.count(name)) {
        error_at(p.line, "unknown goal \"" + name + "\"");
        return 0;
    }
    used.insert(goal_by_name[name]);
    return (uint32_t)goal_by_name[name];
}

// Everything a record says, for finding one written twice.
static std::string record_key(const pat &p)
{
    const pattern_record &r = p.rec;
    std::string key = p.head + "|" + p.templ + "|" + p.after;
    for (const std::string &t : p.results)
        key += "|" + t;
    return key + str_printf("|%X %X %X %X %u %u %u %u %X %X", r.mode_mask, r.pred[0], r.pred[1], r.pred[2],
                            r.left_wish, r.right_wish, r.scratch, r.scratch2, r.clobber, r.flags);
}

// The goals a statement or a rewrite can come to need: the operand goals and
// chain sources of every pattern that produces a goal already reached.
static std::set<int> reachable_goals()
{
    std::set<int> reached = {GOAL_STATEMENT, GOAL_REWRITE};
    for (bool grew = true; grew;) {
        grew = false;
        for (const pat &p : pats) {
            if (!p.lhs || !reached.count(p.lhs))
                continue;
            for (const std::string &g : {p.left, p.right})
                if (!g.empty() && goal_by_name.count(g))
                    grew |= reached.insert(goal_by_name[g]).second;
            if (p.chain_from)
                grew |= reached.insert(p.chain_from).second;
        }
    }
    return reached;
}

static void check_patterns()
{
    std::set<int> used, produced;
    std::map<int, int> arity;
    std::set<std::string> names;
    std::map<std::string, unsigned> seen;
    for (pat &p : pats) {
        if (!p.lhs)
            continue;
        auto [it, fresh] = seen.emplace(record_key(p), p.line);
        if (!fresh)
            error_at(p.line, str_printf("the same pattern as on line %u", it->second));
        produced.insert(p.lhs);
        if (!p.name.empty() && !names.insert(p.name).second)
            error_at(p.line, "pattern name \"" + p.name + "\" used twice");
        if (p.chain_from)
            used.insert(p.chain_from);
        if (p.op >= 0) {
            if (arity.count(p.op) && arity[p.op] != p.arity)
                error_at(p.line, std::string("operator ") + op_names[p.op] +
                                     " used with another number of operands before");
            arity[p.op] = p.arity;
        }
        p.rec.left_goal = operand_goal(p, p.left, used);
        p.rec.right_goal = operand_goal(p, p.right, used);
        if (p.lhs != GOAL_REWRITE)
            check_template(p);
        if (p.results.size() > 1)
            p.rec.result_count = 2;
        else
            p.rec.result_count = (uint32_t)p.results.size();
    }
    std::set<int> reached = reachable_goals();
    for (auto &[name, g] : goal_by_name) {
        if (g == GOAL_STATEMENT || g == GOAL_REWRITE)
            continue;
        if (used.count(g) && produced.count(g) && !reached.count(g))
            error_at(goal_decl_line[g], "goal \"" + name + "\" cannot be reached from stmt or rewrite");
        if (used.count(g) && !produced.count(g))
            error_at(goal_decl_line[g], "goal \"" + name + "\" is used but no pattern produces it");
        if (!used.count(g))
            error_at(goal_decl_line[g], "goal \"" + name + "\" is never used");
    }
}

// ---------------------------------------------------------------------------
// runs and the hash
// ---------------------------------------------------------------------------
// Operators each goal can consume, directly or through chain rules.
static std::map<int, std::set<int>> derivable_ops()
{
    std::map<int, std::set<int>> d;
    for (const pat &p : pats)
        if (p.lhs && p.op >= 0)
            d[p.lhs].insert(p.op);
    for (bool grew = true; grew;) {
        grew = false;
        for (const pat &p : pats)
            if (p.lhs && p.chain_from)
                for (int op : std::set<int>(d[p.chain_from]))
                    grew |= d[p.lhs].insert(op).second;
    }
    return d;
}

struct tables_out {
    std::vector<pattern_hash_row> hash = std::vector<pattern_hash_row>(PATTERN_HASH_ROWS);
    std::vector<int> lists = {0};
};

static void insert_pair(tables_out &t, int goal, int op, const std::vector<int> &run)
{
    uint32_t row = (uint32_t)goal * (uint32_t)op % PATTERN_HASH_ROWS;
    while (t.hash[row].list != 0)
        row = (row + 1) % PATTERN_HASH_ROWS;
    int list = -run[0];
    if (run.size() > 1) {
        list = (int)t.lists.size();
        for (size_t i = 0; i < run.size(); i++)
            t.lists.push_back(i + 1 == run.size() ? -run[i] : run[i]);
    }
    t.hash[row] = {(int16_t)goal, (int16_t)op, (int16_t)list};
}

// Every (goal, operator) pair with its run of candidates in pattern order.
static tables_out build_tables()
{
    tables_out t;
    std::map<int, std::set<int>> d = derivable_ops();
    unsigned pairs = 0;
    for (int goal = GOAL_FIRST; goal <= GOAL_LAST; goal++)
        for (int op = 0; op < OP_COUNT; op++) {
            std::vector<int> run;
            for (size_t i = 0; i < pats.size(); i++) {
                const pat &p = pats[i];
                if (p.lhs == goal && (p.op == op || (p.chain_from && d[p.chain_from].count(op))))
                    run.push_back((int)i + 1);
            }
            if (run.empty())
                continue;
            if (++pairs >= PATTERN_HASH_ROWS) {
                error_at(1, "more (goal, operator) pairs than hash rows");
                return t;
            }
            insert_pair(t, goal, op, run);
        }
    if (t.lists.size() > 32767 || pats.size() > 32767)
        error_at(1, "more patterns or run entries than 16-bit numbers hold");
    return t;
}

// ---------------------------------------------------------------------------
// output
// ---------------------------------------------------------------------------
static std::string c_string(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\')
            out += '\\', out += (char)c;
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 32)
            out += str_printf("\\%03o", c);
        else
            out += (char)c;
    }
    return out + "\"";
}

static void write_record(FILE *f, const pat &p, size_t n)
{
    const pattern_record &r = p.rec;
    fprintf(f, "    // %zu: %s:%u  %s\n", n, desc_name.c_str(), p.line, p.head.c_str());
    fprintf(f, "    {0x%X, {0x%X, 0x%X, 0x%X}, %u, %u, %u, %u, 0x%X, %u, %u, %u,\n     %s, %s, %u, ",
            r.mode_mask, r.pred[0], r.pred[1], r.pred[2], r.left_wish, r.right_wish, r.scratch,
            r.scratch2, r.clobber, r.op, r.left_goal, r.right_goal,
            p.has_templ ? c_string(p.templ).c_str() : "nullptr",
            p.after.empty() ? "nullptr" : c_string(p.after).c_str(), r.result_count);
    fprintf(f, p.results.empty() ? "nullptr" : "result_%zu", n);
    fprintf(f, ", 0x%X},\n", r.flags);
}

static void write_tables(FILE *f, const tables_out &t)
{
    fprintf(f, "// Generated by patgen from %s: do not edit.\n#include \"patnames.h\"\n\n",
            desc_name.c_str());
    for (size_t i = 0; i < pats.size(); i++) {
        if (pats[i].results.empty())
            continue;
        fprintf(f, "static const char *const result_%zu[] = {", i + 1);
        for (const std::string &r : pats[i].results)
            fprintf(f, "%s, ", c_string(r).c_str());
        fprintf(f, "nullptr};\n");
    }
    fprintf(f, "\nstatic const pattern_record records[] = {\n    {0, {0, 0, 0}, 0, 0, 0, 0, 0, 0, 0, 0, "
               "nullptr, nullptr, 0, nullptr, 0},\n");
    for (size_t i = 0; i < pats.size(); i++)
        write_record(f, pats[i], i + 1);
    fprintf(f, "};\n\n// goal, operator, list\nstatic const pattern_hash_row hash[%d] = {\n",
            PATTERN_HASH_ROWS);
    for (int i = 0; i < PATTERN_HASH_ROWS; i++)
        fprintf(f, "{%d,%d,%d},%s", t.hash[i].goal, t.hash[i].op, t.hash[i].list,
                i % 8 == 7 ? "\n" : " ");
    fprintf(f, "};\n\nstatic const int16_t lists[] = {");
    for (size_t i = 0; i < t.lists.size(); i++)
        fprintf(f, "%s%d,", i % 16 ? " " : "\n    ", t.lists[i]);
    fprintf(f, "\n};\n\n// Description line of each record.\nstatic const int lines[] = {0,");
    for (size_t i = 0; i < pats.size(); i++)
        fprintf(f, "%s%u,", i % 16 ? " " : "\n    ", pats[i].line);
    fprintf(f, "\n};\n\nstatic const char *const goals[] = {");
    for (const std::string &g : goal_names)
        fprintf(f, "\n    %s,", c_string(g).c_str());
    fprintf(f, "\n};\n\nextern const pattern_tables generated_patterns = {\n"
               "    records, %zu, hash, lists, %zu, lines, goals,\n};\n",
            pats.size() + 1, t.lists.size());
}

static std::vector<src_line> read_lines(const char *path)
{
    std::vector<src_line> out;
    FILE *in = fopen(path, "rb");
    if (!in) {
        msg_report_unnumbered("F", "can't open pattern description \"%s\"", path);
        return out;
    }
    unsigned n = 0;
    for (std::string s; os_read_line(in, s);)
        out.push_back({s, ++n});
    fclose(in);
    return out;
}

void tool_exit(int status)
{
    exit(status);
}

int main(int argc, char **argv)
{
    msg_set_tool_name("patgen");
    msg_init();
    if (argc != 3) {
        msg_report_unnumbered("F", "usage: patgen <description> <output.cpp>");
        return 1;
    }
    if (!strcmp(argv[1], argv[2])) {
        msg_report_unnumbered("F", "the output would overwrite the description \"%s\"", argv[1]);
        return 1;
    }
    desc_name = argv[1];
    if (size_t slash = desc_name.rfind('/'); slash != std::string::npos)
        desc_name = desc_name.substr(slash + 1);
    msg_set_location(desc_name.c_str(), &cur_line_no, nullptr, nullptr);
    goal_by_name["stmt"] = GOAL_STATEMENT;
    goal_by_name["rewrite"] = GOAL_REWRITE;
    goal_names[0] = "stmt";
    goal_names[GOAL_REWRITE - GOAL_FIRST] = "rewrite";
    std::vector<src_line> raw = read_lines(argv[1]), lines;
    bool closed;
    expand_block(raw, 0, lines, false, &closed);
    read_description(lines);
    check_patterns();
    tables_out t = build_tables();
    if (msg_exit_status() != 0)
        return 1;
    std::string tmp = std::string(argv[2]) + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f) {
        msg_report_unnumbered("F", "can't create \"%s\"", tmp.c_str());
        return 1;
    }
    write_tables(f, t);
    if (fclose(f) != 0 || rename(tmp.c_str(), argv[2]) != 0) {
        msg_report_unnumbered("F", "can't write \"%s\"", argv[2]);
        return 1;
    }
    return 0;
}
