// Source lines and directives.
//
// A line is [label[:]] [mnemonic or directive [operands]] [; comment]. A word
// in column 1 is a label unless it is a known mnemonic, directive or macro;
// elsewhere a word is a label only when a colon follows it. "name equ value"
// and "name set value" define symbols wherever the name stands. Keywords are
// case-insensitive; symbols are not. Macros take their lines verbatim, with
// their parameters replaced where they stand as whole words.
#include "osprey.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <strings.h>

unsigned src_line;
std::string src_file;

// The assembler's own message numbers.
static const unsigned FIRST_MESSAGE = 1400;
static const unsigned LAST_MESSAGE = 1469;
// Macro expansion deeper than this is taken as a runaway.
static const int MACRO_DEPTH_LIMIT = 32;
// Lines that macros may expand to in one pass: macros that each use the one
// before twice would otherwise run for ever.
static const long MACRO_LINE_LIMIT = 100000;

struct asm_macro {
    std::vector<std::string> params;
    std::vector<std::string> lines;
};

// Macros by name (defined in pass 1, kept for pass 2).
static std::map<std::string, asm_macro> macros;
// The macro being recorded.
static asm_macro *recording;
static int macro_depth;
static long macro_lines;   // expanded in this pass

static bool is_word(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

static const char *const directive_names[] = {
    "psect", "global", "equ", "set", "macro", "endm", "ds", "db", "dw", "dabs", "fnconf", "fnsize",
    "fncall", "fnroot", "fnbreak", "fnalign", "fnaddr", "fnindir", "signat", "file", "line", "end",
    "processor", "opt", "fcf", "list", "nolist", "title", "subtitle", "page",
};

static bool is_directive(const std::string &w)
{
    for (const char *d : directive_names)
        if (is_word(w, d))
            return true;
    return false;
}

static bool is_keyword(const std::string &w)
{
    return is_directive(w) || insn_known(w) || macros.count(w);
}

std::vector<std::string> source_split_operands(const std::string &text)
{
    std::vector<std::string> out;
    std::string cur;
    int depth = 0;
    char quote = 0;
    for (char c : text) {
        if (quote) {
            cur += c;
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
            cur += c;
        } else if (c == '(') {
            depth++;
            cur += c;
        } else if (c == ')') {
            depth--;
            cur += c;
        } else if (c == ',' && depth == 0) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    for (std::string &s : out) {
        size_t a = s.find_first_not_of(" \t");
        size_t b = s.find_last_not_of(" \t");
        s = a == std::string::npos ? "" : s.substr(a, b - a + 1);
    }
    if (out.size() == 1 && out[0].empty())
        out.clear();
    return out;
}

// The line without its comment (a ';' outside quotes starts one).
static std::string strip_comment(const std::string &line)
{
    char quote = 0;
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            // An apostrophe only quotes a character constant such as 'a'.
            if (c == '"' || (i + 2 < line.size() && line[i + 2] == '\''))
                quote = c;
        } else if (c == ';') {
            return line.substr(0, i);
        }
    }
    return line;
}

static std::string read_word(const std::string &s, size_t &i)
{
    size_t start = i;
    while (i < s.size() && (expr_ident_char(static_cast<unsigned char>(s[i])) || s[i] == '.'))
        i++;
    return s.substr(start, i - start);
}

static void skip_blanks(const std::string &s, size_t &i)
{
    while (i < s.size() && isspace(static_cast<unsigned char>(s[i])))
        i++;
}

// Pass 1 notes where a symbol is defined; pass 2 reports a second
// definition on any other line (pass 1 reports nothing).
static bool first_definition(asm_symbol &s)
{
    if (as.pass == 1) {
        if (s.kind == AS_UNDEFINED)
            s.def_line = src_line;
        return s.kind == AS_UNDEFINED;
    }
    if (s.def_line != src_line) {
        msg_report(1406, s.name.c_str());
        return false;
    }
    return true;
}

static void define_label(const std::string &name)
{
    if (as.current < 0) {
        report_outside_psect();
        return;
    }
    asm_symbol &s = asm_sym(name);
    if (!first_definition(s))
        return;
    // Uses before this line took the place pass 1 found; a size worked out
    // only in pass 2 (a ds of a value defined later) moved it, and those
    // uses would be wrong. The first label that moved tells.
    static bool moved_reported;
    if (as.pass == 2 && (s.psect != as.current || s.offset != asm_here()) && !moved_reported) {
        moved_reported = true;
        msg_report(1439, name.c_str());
    }
    as.generation++;
    s.kind = AS_LABEL;
    s.psect = as.current;
    s.offset = asm_here();
}

static void define_value(const std::string &name, const std::string &text, bool redefinable)
{
    as.statement_loc = asm_here();
    expr_ptr e = expr_bind_here(expr_parse(text));
    if (!e)
        return;
    asm_symbol &s = asm_sym(name);
    if (!(redefinable && s.redefinable) && !first_definition(s))
        return;
    // A set symbol keeps the value it has now; an equ may refer forward.
    long v;
    if (redefinable && expr_constant(e, &v)) {
        e = std::make_shared<expr>();
        e->kind = EX_NUM;
        e->value = v;
    }
    as.generation++;
    s.kind = AS_VALUE;
    s.value = e;
    s.redefinable = redefinable;
}

static bool constant_operand(const std::string &text, long *v)
{
    expr_ptr e = expr_parse(text);
    if (!e)
        return false;
    if (!expr_constant(e, v)) {
        msg_report(1412, text.c_str());
        return false;
    }
    return true;
}

static bool psect_flag_number(const std::string &flag, const std::string &value, unsigned long *out)
{
    long v;
    if (!expr_number(value, &v)) {
        msg_report(1425, flag.c_str());
        return false;
    }
    *out = static_cast<unsigned long>(v);
    return true;
}

static void do_psect(const std::vector<std::string> &ops)
{
    if (ops.empty()) {
        msg_report(1417);
        return;
    }
    asm_psect want;
    want.name = ops[0];
    want.flags = OBJ_GLOBAL;
    for (size_t i = 1; i < ops.size(); i++) {
        std::string f = ops[i], value;
        size_t eq = f.find('=');
        if (eq != std::string::npos) {
            value = f.substr(eq + 1);
            f = f.substr(0, eq);
        }
        unsigned long n = 0;
        if (is_word(f, "global")) {
            want.flags |= OBJ_GLOBAL;
        } else if (is_word(f, "local")) {
            want.flags &= ~OBJ_GLOBAL;
        } else if (is_word(f, "ovrld")) {
            want.flags |= OBJ_OVERLAID;
        } else if (is_word(f, "abs")) {
            want.flags |= OBJ_ABSOLUTE | OBJ_OVERLAID;
        } else if (is_word(f, "bit")) {
            want.flags |= OBJ_BIT_PSECT;
        } else if (is_word(f, "pure") || is_word(f, "noexec")) {
            // accepted for compatibility; the object format has no such flag
        } else if (is_word(f, "class") && !value.empty()) {
            want.class_name = value;
        } else if (is_word(f, "with") && !value.empty()) {
            want.with = value;
        } else if (is_word(f, "delta")) {
            if (psect_flag_number(f, value, &n) && n != 1 && n != 2)
                msg_report(1425, ops[i].c_str());
            want.delta = n == 2 ? 2 : 1;
        } else if (is_word(f, "space")) {
            if (psect_flag_number(f, value, &n))
                want.space = static_cast<unsigned>(n);
        } else if (is_word(f, "reloc")) {
            if (psect_flag_number(f, value, &n))
                want.reloc = n;
        } else if (is_word(f, "size") || is_word(f, "limit")) {
            if (psect_flag_number(f, value, &n))
                want.size = n;
        } else {
            msg_report(1410, ops[i].c_str());
        }
    }
    int at = asm_psect_index(want.name);
    if (at < 0) {
        want.declared = true;
        as.psects.push_back(want);
        at = static_cast<int>(as.psects.size() - 1);
    } else if (ops.size() > 1) {
        asm_psect &p = as.psects[at];
        if (p.flags != want.flags || p.class_name != want.class_name || p.delta != want.delta ||
            p.space != want.space)
            msg_report(1416, want.name.c_str());
    }
    as.current = at;
}

static void do_data(const std::vector<std::string> &ops, bool words)
{
    for (const std::string &op : ops) {
        if (!words && op.size() >= 2 && (op[0] == '"' || (op[0] == '\'' && op.size() > 3)) && op.back() == op[0]) {
            for (size_t i = 1; i + 1 < op.size(); i++)
                emit_unit(static_cast<unsigned char>(op[i]));
            continue;
        }
        expr_ptr e = expr_parse(op);
        if (!e)
            continue;
        // A word in a psect of bytes takes two of them, low byte first.
        bool split = words && as.current >= 0 && as.psects[as.current].delta == 1;
        long v;
        if (expr_constant(e, &v)) {
            long top = words ? 0xFFFF : 0xFF;
            if (v < -(top + 1) / 2 || v > top)
                msg_report(1405, static_cast<unsigned long>(v), op.c_str());
            if (split) {
                emit_unit(static_cast<unsigned>(v) & 0xFF);
                emit_unit((static_cast<unsigned>(v) >> 8) & 0xFF);
            } else {
                emit_unit(static_cast<unsigned>(v) & static_cast<unsigned>(top));
            }
        } else if (split) {
            for (int half : {'L', 'H'}) {
                auto byte = std::make_shared<expr>();
                byte->kind = EX_UNARY;
                byte->op = half;
                byte->left = e;
                emit_unit(0);
                emit_reloc(0x31, 0, byte);
            }
        } else {
            emit_unit(0);
            emit_reloc(words ? 0x32 : 0x31, 0, e);
        }
    }
}

static std::vector<uint8_t> fn_entry(int kind, std::initializer_list<std::string> names)
{
    std::vector<uint8_t> e{static_cast<uint8_t>(kind)};
    for (const std::string &n : names) {
        emit_name_fits(n);
        e.insert(e.end(), n.begin(), n.end());
        e.push_back(0);
    }
    return e;
}

static void put_u32_le(std::vector<uint8_t> &e, long v)
{
    uint8_t b[4];
    put_u32(b, static_cast<uint32_t>(v), order_little);
    e.insert(e.end(), b, b + 4);
}

static bool operands_exactly(const std::string &d, const std::vector<std::string> &ops, size_t n)
{
    if (ops.size() == n)
        return true;
    msg_report(1404, d.c_str(), static_cast<int>(n));
    return false;
}

static void do_directive(const std::string &d, const std::string &rest)
{
    std::vector<std::string> ops = source_split_operands(rest);
    long a, b, c;
    if (is_word(d, "psect")) {
        do_psect(ops);
    } else if (is_word(d, "global")) {
        for (const std::string &n : ops)
            asm_sym(n).global = true;
    } else if (is_word(d, "ds")) {
        // A negative size would move the location back over stored code, and
        // a location past 32 bits cannot stand in an object record.
        if (operands_exactly(d, ops, 1) && constant_operand(ops[0], &a)) {
            if (a < 0 || a > static_cast<long>(0xFFFFFFFFul) - asm_here())
                msg_report(1405, static_cast<unsigned long>(a), ops[0].c_str());
            else
                emit_space(a);
        }
    } else if (is_word(d, "db") || is_word(d, "dw")) {
        do_data(ops, tolower(d[1]) == 'w');
    } else if (is_word(d, "dabs")) {
        if (operands_exactly(d, ops, 3) && constant_operand(ops[0], &a) && constant_operand(ops[1], &b) &&
            constant_operand(ops[2], &c))
            emit_reserve(static_cast<unsigned>(a), static_cast<unsigned long>(b), static_cast<unsigned long>(c));
    } else if (is_word(d, "fnconf")) {
        if (operands_exactly(d, ops, 3))
            emit_fnconf(ops[0], ops[1], ops[2]);
    } else if (is_word(d, "fnsize")) {
        if (operands_exactly(d, ops, 3) && constant_operand(ops[1], &a) && constant_operand(ops[2], &b)) {
            std::vector<uint8_t> e = fn_entry(5, {ops[0]});
            put_u32_le(e, a);
            put_u32_le(e, b);
            emit_fninfo(e);
        }
    } else if (is_word(d, "fncall")) {
        if (operands_exactly(d, ops, 2))
            emit_fninfo(fn_entry(1, {ops[0], ops[1]}));
    } else if (is_word(d, "fnroot")) {
        if (operands_exactly(d, ops, 1))
            emit_fninfo(fn_entry(6, {ops[0]}));
    } else if (is_word(d, "fnaddr")) {
        if (operands_exactly(d, ops, 1))
            emit_fninfo(fn_entry(4, {ops[0]}));
    } else if (is_word(d, "fnindir")) {
        if (operands_exactly(d, ops, 2) && constant_operand(ops[1], &a)) {
            std::vector<uint8_t> e = fn_entry(3, {ops[0]});
            e.push_back(static_cast<uint8_t>(a));
            e.push_back(static_cast<uint8_t>(a >> 8));
            emit_fninfo(e);
        }
    } else if (is_word(d, "fnbreak")) {
        if (operands_exactly(d, ops, 2))
            emit_fninfo(fn_entry(9, {ops[0], ops[1]}));
    } else if (is_word(d, "fnalign")) {
        if (ops.size() < 2)
            msg_report(1404, d.c_str(), 2);
        else
            emit_align_group(ops);
    } else if (is_word(d, "signat")) {
        if (operands_exactly(d, ops, 2) && constant_operand(ops[1], &a))
            emit_signat(ops[0], static_cast<unsigned>(a));
    } else if (is_word(d, "file")) {
        std::string f = rest;
        size_t q1 = f.find('"'), q2 = f.rfind('"');
        if (q1 != std::string::npos && q2 > q1)
            f = f.substr(q1 + 1, q2 - q1 - 1);
        if (!f.empty())
            emit_file_symbol(f);
    } else if (is_word(d, "line")) {
        if (operands_exactly(d, ops, 1) && constant_operand(ops[0], &a))
            emit_line_symbol(a);
    } else if (is_word(d, "end")) {
        if (!ops.empty())
            as.start_symbol = ops[0];
        as.ended = true;
    } else if (is_word(d, "processor")) {
        if (operands_exactly(d, ops, 1))
            asm_processor(ops[0]);
    } else if (is_word(d, "fcf")) {
        msg_report(1424, d.c_str());
    } else if (is_word(d, "endm")) {
        msg_report(1413, "endm", "macro");
    }
    // opt, list, nolist, title, subtitle, page: listing controls, nothing to assemble
}

static void process_line(const std::string &raw);

static std::string replace_params(const std::string &line, const asm_macro &m, const std::vector<std::string> &args)
{
    std::string out;
    size_t i = 0;
    while (i < line.size()) {
        if (expr_ident_start(static_cast<unsigned char>(line[i]))) {
            std::string w = read_word(line, i);
            auto at = std::find(m.params.begin(), m.params.end(), w);
            out += at != m.params.end() && static_cast<size_t>(at - m.params.begin()) < args.size()
                       ? args[at - m.params.begin()]
                       : w;
        } else {
            out += line[i++];
        }
    }
    return out;
}

static void expand_macro(const std::string &name, const std::string &rest)
{
    if (macro_depth >= MACRO_DEPTH_LIMIT) {
        msg_report(1423, name.c_str());
        return;
    }
    const asm_macro m = macros[name];
    if (macro_lines > MACRO_LINE_LIMIT)
        return;
    macro_lines += static_cast<long>(m.lines.size());
    if (macro_lines > MACRO_LINE_LIMIT) {
        msg_report(1437, name.c_str(), MACRO_LINE_LIMIT);
        return;
    }
    std::vector<std::string> args = source_split_operands(rest);
    macro_depth++;
    for (const std::string &l : m.lines)
        process_line(replace_params(l, m, args));
    macro_depth--;
}

static void process_line(const std::string &raw)
{
    if (as.ended)
        return;
    as.generation++;
    std::string line = strip_comment(raw);
    size_t i = 0;
    if (recording) {
        skip_blanks(line, i);
        std::string w = read_word(line, i);
        if (is_word(w, "endm"))
            recording = nullptr;
        else if (as.pass == 1)
            recording->lines.push_back(raw);
        return;
    }
    bool column1 = !line.empty() && !isspace(static_cast<unsigned char>(line[0]));
    skip_blanks(line, i);
    if (i >= line.size())
        return;
    size_t after_first = i;
    std::string first = read_word(line, after_first);
    if (first.empty()) {
        msg_report(1402, line.substr(i).c_str());
        return;
    }
    // name equ / set / macro
    size_t j = after_first;
    skip_blanks(line, j);
    if (j < line.size() && line[j] == ':')
        j++, skip_blanks(line, j);
    size_t k = j;
    std::string second = read_word(line, k);
    if (is_word(second, "equ") || is_word(second, "set")) {
        define_value(first, line.substr(k), is_word(second, "set"));
        return;
    }
    if (is_word(second, "macro")) {
        if (as.pass == 1) {
            asm_macro &m = macros[first];
            m = asm_macro();
            m.params = source_split_operands(line.substr(k));
        }
        recording = &macros[first];
        return;
    }
    bool colon = after_first < line.size() && line[after_first] == ':';
    if (colon || (column1 && !is_keyword(first))) {
        define_label(first);
        i = after_first + (colon ? 1 : 0);
        skip_blanks(line, i);
        if (i >= line.size())
            return;
        after_first = i;
        first = read_word(line, after_first);
        if (first.empty()) {
            msg_report(1402, line.substr(i).c_str());
            return;
        }
    }
    std::string rest = line.substr(after_first);
    as.statement_loc = asm_here();
    if (macros.count(first)) {
        expand_macro(first, rest);
    } else if (is_directive(first)) {
        do_directive(first, rest);
    } else if (!insn_assemble(first, source_split_operands(rest))) {
        msg_report(1402, first.c_str());
    }
}

// One listing line per source line: line number, location and the first
// unit, then a line for each further unit.
static void list_line(FILE *list, const std::string &text, int psect, long loc)
{
    std::string where = psect >= 0 ? str_printf("%04lX", loc) : "    ";
    if (emit_line_units.empty())
        fprintf(list, "%6u %s       %s\n", src_line, where.c_str(), text.c_str());
    for (size_t i = 0; i < emit_line_units.size(); i++) {
        if (i == 0)
            fprintf(list, "%6u %s  %04X %s\n", src_line, where.c_str(), emit_line_units[i], text.c_str());
        else
            fprintf(list, "       %04lX  %04X\n", loc + static_cast<long>(i), emit_line_units[i]);
    }
}

bool source_assemble_file(const char *path, const char *listing)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        msg_report(1401, "source", path);
        return false;
    }
    std::vector<std::string> lines;
    std::string line;
    while (os_read_line(f, line))
        lines.push_back(line);
    // A directory opens but cannot be read: it is no source, and an empty
    // object made from it would pass for a good one.
    int read_errno = ferror(f) ? errno : 0;
    fclose(f);
    if (read_errno) {
        errno = read_errno;
        msg_report(1401, "source", path);
        return false;
    }
    src_file = path;
    msg_set_location(src_file.c_str(), &src_line, nullptr, nullptr);
    for (as.pass = 1; as.pass <= 2; as.pass++) {
        // Pass 1 only measures: its findings are reported by pass 2, so
        // each problem is reported once.
        msg_state_op(0, as.pass == 1 ? 5 : 6);
        if (as.pass == 1)
            for (unsigned n = FIRST_MESSAGE; n <= LAST_MESSAGE; n++)
                msg_state_op(n, 4);
        as.current = -1;
        as.ended = false;
        for (asm_psect &p : as.psects)
            p.loc = 0;
        if (as.pass == 2)
            emit_begin_module();
        recording = nullptr;
        macro_lines = 0;
        FILE *list = nullptr;
        if (as.pass == 2 && listing && !(list = fopen(listing, "w")))
            msg_report(1433, listing);
        for (src_line = 1; src_line <= lines.size(); src_line++) {
            int psect = as.current;
            long loc = asm_here();
            emit_line_units.clear();
            process_line(lines[src_line - 1]);
            if (list)
                list_line(list, lines[src_line - 1], psect == as.current ? psect : as.current,
                          psect == as.current ? loc : asm_here() - static_cast<long>(emit_line_units.size()));
        }
        if (list && fclose(list) != 0)
            msg_report(1433, listing);
        if (recording) {
            msg_report(1413, "macro", "endm");
            recording = nullptr;
        }
    }
    msg_set_location(src_file.c_str(), nullptr, nullptr, nullptr);
    return true;
}
