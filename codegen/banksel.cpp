// Bank selections that select what is selected already, and loads of W
// with the constant it holds already, removed from a function's finished
// text (the mid-range cores).
//
// The generator forgets the bank bits (RP0, RP1 and IRP of STATUS) at every
// label, so the first access after a label selects its bank again even when
// every way into the label arrives with that bank selected. This pass sees
// the whole function: it follows the three bits along the code, meets the
// states of every jump to a label and of the line falling into it, and
// deletes a bcf or bsf of one of the bits that already holds the value it
// sets. W is followed the same way: a movlw of the constant W holds on every
// way in is deleted too (movlw touches no flag). It is conservative: a function whose flow it cannot see whole (a
// computed jump, a jump to a label outside it other than a function's, a
// label named other than by a jump, a psect switch, an instruction it does
// not know) or whose cycles are counted (a delay) is left as it was, and an instruction that follows a skip is
// never deleted (the skip would then skip the next one instead).
#include "kestrel.h"

#include <map>
#include <string>
#include <vector>

namespace {

// One bit's state: not reached yet, unknown, or a known value; W's: not
// reached yet, unknown (empty), or the constant's text.
const int8_t BIT_TOP = 2, BIT_UNKNOWN = -1;
const char *const W_TOP = "\x01";

struct bits_state {
    int8_t bit[3] = {BIT_TOP, BIT_TOP, BIT_TOP};   // RP0, RP1, IRP
    std::string w = W_TOP;
    bool operator==(const bits_state &o) const
    {
        return bit[0] == o.bit[0] && bit[1] == o.bit[1] && bit[2] == o.bit[2] && w == o.w;
    }
};

bits_state all_unknown()
{
    bits_state s;
    for (int8_t &b : s.bit)
        b = BIT_UNKNOWN;
    s.w.clear();
    return s;
}

bits_state meet(const bits_state &a, const bits_state &b)
{
    bits_state r;
    for (int i = 0; i < 3; i++)
        r.bit[i] = a.bit[i] == BIT_TOP ? b.bit[i] : b.bit[i] == BIT_TOP || a.bit[i] == b.bit[i] ? a.bit[i]
                                                                                              : BIT_UNKNOWN;
    r.w = a.w == W_TOP ? b.w : b.w == W_TOP || a.w == b.w ? a.w : std::string();
    return r;
}

enum line_kind { LK_OTHER, LK_LABEL, LK_INSN };
enum insn_kind {
    IK_PLAIN,      // no effect on the bank bits
    IK_SET_BIT,    // bcf/bsf of a tracked bit
    IK_STATUS,     // writes STATUS some other way: the bits are unknown after
    IK_CALL,       // returns here with the bits unknown
    IK_JUMP,       // goto/ljmp to a label of the function
    IK_LEAVE,      // return, or a jump out of the function
    IK_NEXT,       // goto $+1
    IK_LOAD_W      // movlw: W holds the constant
};

struct asm_line {
    line_kind kind = LK_OTHER;
    std::string label;       // LK_LABEL: its name; IK_JUMP: the target
    insn_kind what = IK_PLAIN;
    int bit = 0, value = 0;  // IK_SET_BIT
    bool skips = false;      // a skip instruction: the next one may not run
    bool writes_w = false;   // W is some other value after it
    std::string constant;    // IK_LOAD_W: the constant, as a number where it is one
    bool removed = false;
};

std::string trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool is_status(const std::string &reg) { return reg == "status" || reg == "STATUS" || reg == "3" || reg == "03h"; }
bool is_pcl(const std::string &reg) { return reg == "pcl" || reg == "PCL" || reg == "pc" || reg == "2" || reg == "02h"; }

// A constant operand as a number's decimal text (01h, 0x1 and 1 are one
// value); anything else (low(x), a name) as written.
std::string constant_text(const std::string &operand)
{
    std::string t = operand;
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t = t.substr(2);
    } else if (t.size() > 1 && (t.back() == 'h' || t.back() == 'H')) {
        base = 16;
        t.pop_back();
    }
    if (t.empty())
        return operand;
    unsigned long v = 0;
    for (char c : t) {
        int d = isdigit((unsigned char)c) ? c - '0' : isxdigit((unsigned char)c) ? tolower(c) - 'a' + 10 : 99;
        if (d >= base)
            return operand;
        v = v * (unsigned long)base + (unsigned long)d;
        if (v > 0xFFFFFFFFul)
            return operand;
    }
    return std::to_string(v & 0xFF);
}

bool is_name_char(char c) { return isalnum((unsigned char)c) || c == '_' || c == '?' || c == '@' || c == '$' || c == '.'; }

// Reads one line; false when the line is one this pass does not know.
bool parse_line(const std::string &raw, asm_line *out)
{
    std::string text = raw.substr(0, raw.find(';'));
    if (trim(text).empty())
        return true;
    if (text[0] != '\t' && text[0] != ' ') {
        std::string t = trim(text);
        if (t.back() != ':')
            return false;
        std::string name = t.substr(0, t.size() - 1);
        for (char c : name)
            if (!is_name_char(c))
                return false;
        out->kind = LK_LABEL;
        out->label = name;
        return true;
    }
    std::string t = trim(text);
    size_t sp = t.find_first_of(" \t");
    std::string op = t.substr(0, sp), args = sp == std::string::npos ? "" : trim(t.substr(sp));
    for (char &c : op)
        c = (char)tolower((unsigned char)c);
    std::string compact;
    for (char c : args)
        if (c != ' ' && c != '\t')
            compact += c;
    std::string reg = compact.substr(0, compact.find(','));
    std::string dest = compact.find(',') == std::string::npos ? "" : compact.substr(compact.find(',') + 1);
    // directives that place nothing
    if (op == "line" || op == "file" || op == "global" || op == "signat")
        return true;
    out->kind = LK_INSN;
    if (op == "movlw") {
        out->what = IK_LOAD_W;
        out->constant = constant_text(compact);
        return true;
    }
    static const char *const w_ops[] = {"addlw", "sublw", "andlw", "iorlw", "xorlw", "clrw"};
    for (const char *n : w_ops)
        if (op == n) {
            out->writes_w = true;
            return true;
        }
    static const char *const no_effect[] = {"nop", "clrwdt", "pagesel"};
    for (const char *n : no_effect)
        if (op == n)
            return true;
    if (op == "bcf" || op == "bsf" || op == "btfsc" || op == "btfss") {
        if (is_pcl(reg))
            return false;
        out->skips = op[1] == 't';
        if (!out->skips && is_status(reg) && (dest == "5" || dest == "6" || dest == "7")) {
            out->what = IK_SET_BIT;
            out->bit = dest == "5" ? 0 : dest == "6" ? 1 : 2;
            out->value = op == "bsf";
        }
        return true;
    }
    static const char *const file_ops[] = {"addwf", "andwf", "comf", "decf", "incf", "iorwf", "movf", "rlf", "rrf",
                                           "subwf", "swapf", "xorwf", "decfsz", "incfsz", "clrf", "movwf"};
    for (const char *n : file_ops) {
        if (op != n)
            continue;
        // no destination means the register
        bool to_w = dest == "w" || dest == "W" || dest == "0";
        bool writes = op == "clrf" || op == "movwf" || !to_w;
        out->writes_w = op != "clrf" && op != "movwf" && to_w;
        if (writes && is_pcl(reg))
            return false;   // a computed jump
        if (writes && is_status(reg))
            out->what = IK_STATUS;
        out->skips = op == "decfsz" || op == "incfsz";
        return true;
    }
    if (op == "call" || op == "fcall" || op == "lcall") {
        out->what = IK_CALL;
        return true;
    }
    if (op == "return" || op == "retlw" || op == "retfie") {
        out->what = IK_LEAVE;
        return true;
    }
    if (op == "goto" || op == "ljmp") {
        if (compact == "$+1") {
            out->what = IK_NEXT;
            return true;
        }
        for (char c : compact)
            if (!is_name_char(c) || c == '$')
                return false;
        out->what = IK_JUMP;
        out->label = compact;
        return true;
    }
    return false;
}

void step(const asm_line &l, bits_state *s)
{
    if (l.what == IK_SET_BIT)
        s->bit[l.bit] = (int8_t)l.value;
    else if (l.what == IK_STATUS || l.what == IK_CALL) {
        std::string w = s->w;
        *s = all_unknown();
        if (l.what == IK_STATUS && !l.writes_w)
            s->w = w;
    } else if (l.what == IK_LOAD_W)
        s->w = l.constant;
    if (l.writes_w)
        s->w.clear();
}

} // namespace

std::string peep_bank_selects(const std::string &text)
{
    std::vector<std::string> raw;
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos)
            nl = text.size();
        raw.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    std::vector<asm_line> lines(raw.size());
    std::map<std::string, bool> labels;   // defined in the function
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i].find(TIMED_CODE_MARK) != std::string::npos)
            return text;   // a delay counts the selections it makes
        if (!parse_line(raw[i], &lines[i]))
            return text;
        if (lines[i].kind == LK_LABEL)
            labels[lines[i].label] = true;
    }
    // every jump reaches a label of the function, or leaves it for a function
    // (a name with an underscore) or the start-up code
    for (asm_line &l : lines) {
        if (l.kind != LK_INSN || l.what != IK_JUMP || labels.count(l.label))
            continue;
        if (l.label[0] != '_' && l.label != "start")
            return text;
        l.what = IK_LEAVE;
    }
    // a label must be named by jumps only: any other mention of it (a table,
    // an address taken) hides a way in
    for (size_t i = 0; i < raw.size(); i++) {
        if (lines[i].kind == LK_LABEL || (lines[i].kind == LK_INSN && lines[i].what == IK_JUMP))
            continue;
        std::string code = raw[i].substr(0, raw[i].find(';'));
        for (size_t p = 0; p < code.size();) {
            if (!is_name_char(code[p]) || (p && is_name_char(code[p - 1]))) {
                p++;
                continue;
            }
            size_t e = p;
            while (e < code.size() && is_name_char(code[e]))
                e++;
            if (labels.count(code.substr(p, e - p)))
                return text;
            p = e;
        }
    }

    // the states at the labels, met from every way in, until nothing changes
    std::map<std::string, bits_state> jumped;   // met over the jumps to each label
    std::vector<bits_state> before(lines.size());
    for (bool changed = true; changed;) {
        changed = false;
        bits_state s = all_unknown();   // the function's entry
        bool after_skip = false;
        for (size_t i = 0; i < lines.size(); i++) {
            asm_line &l = lines[i];
            if (l.kind == LK_LABEL) {
                s = meet(s, jumped[l.label]);
                continue;
            }
            if (l.kind != LK_INSN)
                continue;
            before[i] = s;
            bits_state next = s;
            step(l, &next);
            if (l.what == IK_JUMP) {
                bits_state m = meet(jumped[l.label], s);
                if (!(m == jumped[l.label])) {
                    jumped[l.label] = m;
                    changed = true;
                }
            }
            bool ends = l.what == IK_JUMP || l.what == IK_LEAVE;
            if (after_skip)
                s = ends ? s : meet(s, next);   // run or skipped
            else
                s = ends ? bits_state() : next;  // nothing falls through a jump
            after_skip = l.skips;
        }
    }

    bool after_skip = false;
    std::string out;
    for (size_t i = 0; i < lines.size(); i++) {
        asm_line &l = lines[i];
        if (l.kind == LK_INSN) {
            const bits_state &s = before[i];
            if (l.what == IK_SET_BIT && !after_skip && s.bit[l.bit] == l.value)
                l.removed = true;
            if (l.what == IK_LOAD_W && !after_skip && s.w != W_TOP && !s.w.empty() && s.w == l.constant)
                l.removed = true;
            after_skip = l.skips;
        }
        if (!l.removed) {
            out += raw[i];
            if (i + 1 < raw.size() || (!text.empty() && text.back() == '\n'))
                out += '\n';
        }
    }
    return out;
}
