// The SDB reader: the code generator's symbolic debug file of each object
// module, read into a tree of scopes below one global scope.
//
// An SDB file is a "[p" line of mode words, then blank-separated tokens:
// line markers ("<line> [file]), records in brackets ("[d" defines, "[e"
// enums, "[s"/"[u" structures and unions, "[v" variables, functions and
// typedefs), braces around the blocks of functions and inner scopes, and
// after a block up to four numbers describing its frame. A type string is
// read from the left: "(" function returning, "*" pointer to, "[n" array
// of, an upper-case letter a qualifier, then the name of a basic type, a
// typedef or a structure tag; "`*Dc" is a pointer to const char.
//
// Every count and nesting in the file is bounded before it is used, so a
// malformed file ends in a numbered message, never in a crash.
#include "egret.h"

#include <cctype>
#include <cstring>

sdb_entry *sdb_global;

// Scope the records are read into.
static sdb_entry *current;
// Source position the line markers set.
static unsigned source_line;
static std::string source_file;
// The SDB file being read, for messages.
static std::string sdb_name;
// Defines of every SDB file ("version", "chip", ...); the first value stays.
static hash_t *defines;

// Blocks nested deeper than this are refused (each level is a recursion).
static const int MAX_DEPTH = 200;
// Characters of a source file name kept from a line marker.
static const size_t MAX_FILE_NAME = 2047;
// Buckets of a scope's name hash.
static const unsigned SCOPE_BUCKETS = 47;

static const char *const kind_names[] = {
    "null", "extern", "global", "static", "auto", "param", "typedef", "module",
    "line", "block", "func", "reg", "struct", "enum", "filename",
};
static_assert(std::size(kind_names) == SC_NODEBUG, "one name per storage class below NODEBUG");

// ---------------------------------------------------------------------------
// tokens
// ---------------------------------------------------------------------------

struct sdb_reader {
    FILE *in;
    unsigned line, column;          // position of the next character
    unsigned tok_line, tok_column;  // start of the last token
    bool ended_line;                // the last token ended at a line end
    bool pushed;                    // the last token is to be read again
    std::string tok;
};
static sdb_reader rd;

static int reader_getc()
{
    int c = getc(rd.in);
    if (c == '\n') {
        rd.line++;
        rd.column = 1;
    } else if (c != EOF) {
        rd.column++;
    }
    return c;
}

static bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

static bool next_token()
{
    if (rd.pushed) {
        rd.pushed = false;
        return true;
    }
    int c;
    do
        c = reader_getc();
    while (c != EOF && is_space(c));
    if (c == EOF)
        return false;
    rd.tok_line = rd.line;
    rd.tok_column = rd.column - 1;
    rd.tok.clear();
    while (c != EOF && !is_space(c)) {
        rd.tok += (char)c;
        c = reader_getc();
    }
    rd.ended_line = c == '\n' || c == '\r';
    return true;
}

static void push_back() { rd.pushed = true; }

// The rest of the current input line, blanks before it skipped.
static std::string rest_of_line()
{
    std::string text;
    int c;
    do
        c = reader_getc();
    while (c == ' ' || c == '\t');
    while (c != EOF && c != '\n') {
        if (text.size() < MAX_FILE_NAME)
            text += (char)c;
        c = reader_getc();
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

[[noreturn]] static void syntax_error()
{
    msg_report(631, rd.tok.c_str(), sdb_name.c_str(), rd.tok_line, rd.tok_column);
    tool_exit(1);
    exit(1);
}

// The next token, which must be there.
static const std::string &need_token(char missing)
{
    if (!next_token()) {
        char text[2] = {missing, 0};
        msg_report(627, text, sdb_name.c_str(), rd.line, rd.column);
        tool_exit(1);
        exit(1);
    }
    return rd.tok;
}

static bool is_number(const std::string &t)
{
    size_t i = t[0] == '-' ? 1 : 0;
    return i < t.size() && isdigit((unsigned char)t[i]);
}

// A decimal number; a leading '@' is skipped. Values past the range of a
// long stay at its bounds.
static long decimal(const std::string &t)
{
    const char *p = t.c_str();
    if (*p == '@')
        p++;
    return strtol(p, nullptr, 10);
}

static long need_number(char missing)
{
    const std::string &t = need_token(missing);
    if (!is_number(t))
        syntax_error();
    return decimal(t);
}

// ---------------------------------------------------------------------------
// scopes
// ---------------------------------------------------------------------------

static sdb_entry *entry_new(const char *name, int kind)
{
    sdb_entry *e = new sdb_entry();
    e->name = name ? xstrdup(name) : nullptr;
    e->kind = kind;
    e->line = source_line;
    return e;
}

static unsigned scope_bucket(const char *name) { return model_name_hash(name) % SCOPE_BUCKETS; }

// Appends an entry to a scope and enters it in the scope's name hash.
static void scope_add(sdb_entry *scope, sdb_entry *e)
{
    scope->entries.push_back(e);
    if (!e->name)
        return;
    if (!scope->hash)
        scope->hash = new std::vector<sdb_entry *>[SCOPE_BUCKETS];
    scope->hash[scope_bucket(e->name)].push_back(e);
}

// The latest entry of exactly that name in one scope, or null.
static sdb_entry *scope_latest(const sdb_entry *scope, const char *name)
{
    if (!scope->hash)
        return nullptr;
    const std::vector<sdb_entry *> &chain = scope->hash[scope_bucket(name)];
    for (size_t i = chain.size(); i-- > 0;)
        if (strcmp(chain[i]->name, name) == 0)
            return chain[i];
    return nullptr;
}

// The visible entry of a name: the current scope, and through faked
// blocks their parents.
static sdb_entry *visible_entry(const char *name)
{
    for (sdb_entry *s = current; s; s = s->parent) {
        if (sdb_entry *e = scope_latest(s, name))
            return e;
        if (!(s->flags & SDBF_FAKED))
            break;
    }
    return nullptr;
}

void sdb_init_globals()
{
    sdb_global = entry_new(nullptr, SC_MODULE);
    for (const machine_basic *b = machine_current->basics; b->code; b++) {
        sdb_entry *t = entry_new(b->code, SC_TYPEDEF);
        t->type = new type_chain();
        t->type->entries.push_back({TK_BASIC, b->code, (uint64_t)b->type_class, b->size, nullptr});
        t->size = b->size;
        scope_add(sdb_global, t);
    }
    current = sdb_global;
}

void sdb_reset_for_tests()
{
    sdb_global = nullptr;
    current = nullptr;
    source_line = 0;
    source_file.clear();
    if (defines)
        hash_free(defines);
    defines = nullptr;
}

// ---------------------------------------------------------------------------
// type strings
// ---------------------------------------------------------------------------

// The type a name stands for: a typedef (basic types are typedefs of the
// global scope) or a structure or enum tag, the innermost visible one.
// Variables never name a type, though "_x" and the basic type "x" share a
// spelling.
static sdb_entry *type_name_entry(const std::string &name)
{
    std::string under = "_" + name;
    for (sdb_entry *s = current; s; s = s->parent) {
        if (!s->hash)
            continue;
        const std::vector<sdb_entry *> &chain = s->hash[scope_bucket(name.c_str())];
        for (size_t i = chain.size(); i-- > 0;) {
            sdb_entry *e = chain[i];
            if ((e->kind == SC_TYPEDEF || e->kind == SC_STRUCT || e->kind == SC_ENUM) &&
                (name == e->name || under == e->name))
                return e;
        }
    }
    return nullptr;
}

// The length of the tag number part of a tag-like name ("S19" of
// "S19point"), 0 when the name is not one.
static size_t tag_number_length(const std::string &name)
{
    if (name.size() < 2 || !isupper((unsigned char)name[0]) || !isdigit((unsigned char)name[1]))
        return 0;
    size_t n = 1;
    while (n < name.size() && isdigit((unsigned char)name[n]))
        n++;
    return n;
}

// The code generator names a structure or union in type texts by its tag
// number with the source name appended ("S19point") while its record is
// keyed by the number alone ("[s S19 point ..."): the record's tag is
// found through its number and must carry that source name.
static sdb_entry *numbered_tag_entry(const std::string &name)
{
    size_t n = tag_number_length(name);
    if (!n || n == name.size())
        return nullptr;
    sdb_entry *e = type_name_entry(name.substr(0, n));
    if (!e || e->kind != SC_STRUCT)
        return nullptr;
    if (e->alias ? name.compare(n, std::string::npos, e->alias) != 0 : !e->members.empty())
        return nullptr;
    return e;
}

static type_chain *type_of_name(const std::string &name)
{
    sdb_entry *e = type_name_entry(name);
    if (!e)
        e = numbered_tag_entry(name);
    if (!e) {
        if (!isupper((unsigned char)name[0]))
            return nullptr;
        // A tag used before its record: the record fills it later. A
        // numbered structure is kept under its number, as its record
        // names it, with the source name as the alias it will carry.
        size_t n = name[0] == 'E' ? 0 : tag_number_length(name);
        if (n && type_name_entry(name.substr(0, n)))
            n = 0;   // the number is another structure's: keep the name whole
        e = entry_new(n ? name.substr(0, n).c_str() : name.c_str(), name[0] == 'E' ? SC_ENUM : SC_STRUCT);
        if (n && n < name.size())
            e->alias = xstrdup(name.c_str() + n);
        scope_add(current, e);
    }
    type_chain *chain = new type_chain();
    if (e->kind == SC_STRUCT || e->kind == SC_ENUM)
        chain->entries.push_back({e->kind == SC_STRUCT ? TK_STRUCT : TK_ENUM, e->name, 0, 0, e});
    else if (e->type)
        chain->entries = e->type->entries;
    return chain;
}

struct type_prefix {
    int kind;
    std::string text;
    uint64_t value;
};

// Reads a type string; null when it names no type.
static type_chain *parse_type(const std::string &text)
{
    const char *p = text.c_str();
    if (*p == '`')
        p++;
    std::vector<type_prefix> prefixes;   // outermost first
    for (;;) {
        if (*p == '(') {
            prefixes.push_back({TK_FUNCTION, "(", 0});
            p++;
        } else if (*p == '*') {
            if (p[1] == '.' && p[2]) {
                prefixes.push_back({TK_POINTER, std::string(p, 3), '.'});
                p += 3;
            } else {
                prefixes.push_back({TK_POINTER, "*", 0});
                p++;
            }
        } else if (*p == '[') {
            char *end;
            unsigned long long count = strtoull(p + 1, &end, 10);
            if (count > 0xFFFFFFFFull)
                count = 0xFFFFFFFFull;
            p = *end == ']' ? end + 1 : end;
            prefixes.push_back({TK_ARRAY, str_printf("[%llu]", count), count});
        } else if (isupper((unsigned char)*p) && !isdigit((unsigned char)p[1])) {
            prefixes.push_back({TK_QUALIFIER, std::string(1, *p), 0});
            p++;
        } else {
            break;
        }
    }
    std::string name = p;
    bool tag_like = isupper((unsigned char)name[0]) && isdigit((unsigned char)name[1]);
    if (name.empty() || (!islower((unsigned char)name[0]) && name[0] != '_' && !tag_like)) {
        msg_print("Encountered type string %s", text.c_str());
        return nullptr;
    }
    type_chain *chain = type_of_name(name);
    if (!chain)
        return nullptr;
    for (size_t i = prefixes.size(); i-- > 0;) {
        type_prefix &pre = prefixes[i];
        if (pre.kind != TK_QUALIFIER) {
            chain->entries.push_back({pre.kind, pre.text, pre.value, 0, nullptr});
            continue;
        }
        uint32_t flag = machine_qualifier_flag(pre.text[0], nullptr);
        if (!flag) {
            msg_print("Unknown qualifier %c", pre.text[0]);
            continue;
        }
        if (chain->entries.empty() || chain->entries.back().kind != TK_QUALIFIER)
            chain->entries.push_back({TK_QUALIFIER, "", 0, 0, nullptr});
        type_entry &q = chain->entries.back();
        q.value |= flag;
        q.text = (pre.text + q.text).substr(0, 14);
    }
    return chain;
}

// An array count token ("10a") makes the type an array of that count.
static void apply_count(type_chain *type, const std::string &count)
{
    if (!type || count.empty() || count.back() != 'a')
        return;
    unsigned long long n = strtoull(count.c_str(), nullptr, 10);
    if (n > 0xFFFFFFFFull)
        n = 0xFFFFFFFFull;
    type->entries.push_back({TK_ARRAY, str_printf("[%llu]", n), n, 0, nullptr});
}

// ---------------------------------------------------------------------------
// records
// ---------------------------------------------------------------------------

static uint32_t define_hash(const void *key)
{
    uint32_t h = 0;
    for (const char *p = (const char *)key; *p; p++)
        h = 2 * h + (unsigned char)*p;
    return h;
}

// [d name value ]
static void read_define()
{
    std::string name = need_token(']');
    std::string value = need_token(']');
    if (need_token(']') != "]") {
        msg_report_unnumbered("E", "malformed define in .SDB file %s", sdb_name.c_str());
        return;
    }
    if (!defines)
        defines = hash_new(8, define_hash, hash_str_compare);
    char *key = xstrdup(name.c_str());
    char *text = xstrdup(value.c_str());
    if (!hash_insert(defines, key, text)) {
        free(key);
        free(text);
    }
}

const char *sdb_define(const char *name) { return defines ? (const char *)hash_lookup(defines, name) : nullptr; }

// A tag record reuses the visible tag of its name while that has no members.
static sdb_entry *tag_entry(const std::string &name, int kind)
{
    sdb_entry *e = visible_entry(name.c_str());
    if (e && e->kind == kind && e->members.empty() && e->enum_members.empty())
        return e;
    e = entry_new(name.c_str(), kind);
    scope_add(current, e);
    return e;
}

// [e tag alias [`type] name value ... ]
static void read_enum()
{
    sdb_entry *e = tag_entry(need_token(']'), SC_ENUM);
    e->alias = xstrdup(need_token(']').c_str());
    if (need_token(']')[0] == '`') {
        type_chain *base = parse_type(rd.tok);
        if (base && !base->entries.empty() && base->entries[0].kind == TK_BASIC)
            e->size = base->entries[0].extra;
        delete base;
    } else {
        push_back();
    }
    for (;;) {
        std::string name = need_token(']');
        if (name == "]")
            return;
        e->enum_members.push_back({name, need_number(']')});
    }
}

// [s tag alias size { type [count] name n n [:w:p] } ... ]
static void read_struct(bool is_union)
{
    sdb_entry *s = tag_entry(need_token(']'), SC_STRUCT);
    s->is_union = is_union;
    std::string alias = need_token(']');
    free(s->alias);
    s->alias = alias == "." ? nullptr : xstrdup(alias.c_str());
    s->size = need_number(']');
    for (;;) {
        std::string type_text = need_token(']');
        if (type_text == "]")
            return;
        sdb_member m = {};
        m.type = parse_type(type_text);
        std::string name = need_token(']');
        if (is_number(name)) {
            apply_count(m.type, name);
            name = need_token(']');
        }
        m.name = name == "." ? "" : name;
        m.numbers[0] = need_number(']');
        m.numbers[1] = need_number(']');
        if (need_token(']')[0] == ':') {
            const char *p = rd.tok.c_str() + 1;
            char *end;
            m.bits[0] = strtol(p, &end, 10);
            m.bits[1] = *end == ':' ? strtol(end + 1, nullptr, 10) : 0;
        } else {
            push_back();
        }
        s->members.push_back(m);
    }
}

// State of the block being read, for the variable records in it.
struct block_state {
    sdb_entry *block;          // the block itself (current may be a faked block in it)
    sdb_entry *pending;        // a function whose block comes next
    sdb_entry *last_nested;    // the most recently read nested block
    unsigned numbers;          // numbers stored after last_nested
    bool faked_since_marker;   // a faked block opened since the last marker or brace
    unsigned low, high;        // source lines met
};

static const char class_letters[] = "aeprst";
static const int class_kinds[] = {SC_AUTO, SC_EXTERN, SC_PARAM, SC_REG, SC_STATIC, SC_TYPEDEF};

static bool same_variable(const sdb_entry *a, const sdb_entry *b)
{
    return a->kind == b->kind && a->value == b->value && a->size == b->size;
}

// A frame variable whose name is visible already.
static bool frame_variable_known(block_state &st, sdb_entry *v)
{
    sdb_entry *old = visible_entry(v->name);
    if (!old)
        return false;
    if (same_variable(old, v))
        return true;
    if (settings.fake_blocks && !st.faked_since_marker) {
        // A second variable of the name in one block: from here on the
        // block's records go into an inner block of their own.
        sdb_entry *faked = entry_new(nullptr, SC_BLOCK);
        faked->flags = SDBF_FAKED;
        faked->start_line = source_line;
        faked->source_file = xstrdup(source_file.c_str());
        faked->parent = current;
        faked->parent_count = (uint32_t)current->entries.size();
        scope_add(current, faked);
        current = faked;
        st.faked_since_marker = true;
    }
    return false;
}

// [v name type count class size [value] ]
static void read_variable(block_state &st)
{
    std::string name = need_token(']');
    type_chain *type = parse_type(need_token(']'));
    apply_count(type, need_token(']'));
    const std::string &letter = need_token(']');
    const char *at = letter.size() == 1 ? strchr(class_letters, letter[0]) : nullptr;
    if (!at || !*at) {
        msg_report(629, letter.c_str(), sdb_name.c_str(), rd.tok_line, rd.tok_column);
        tool_exit(1);
    }
    sdb_entry *v = entry_new(name.c_str(), class_kinds[at - class_letters]);
    v->type = type;
    v->size = need_number(']');
    if (v->kind != SC_TYPEDEF) {
        const std::string &value = need_token(']');
        uint32_t reg = machine_register_number(value.c_str());
        if ((v->kind == SC_AUTO || v->kind == SC_PARAM) && reg) {
            v->kind = SC_REG;
            v->value = reg;
        } else if (v->kind == SC_REG) {
            v->value = reg;
        } else if (v->kind == SC_STATIC && name[0] == 'F' && isalpha((unsigned char)value[0])) {
            v->alias = v->name;
            v->name = xstrdup(("_" + value).c_str());
        } else {
            v->value = is_number(value) || value[0] == '@' ? decimal(value) : 0;
        }
    }
    if (need_token(']') != "]") {
        msg_report(627, "]", sdb_name.c_str(), rd.tok_line, rd.tok_column);
        tool_exit(1);
    }
    if (sdb_is_function(type))
        st.pending = v;
    bool frame = v->kind == SC_REG || v->kind == SC_AUTO || v->kind == SC_PARAM;
    if (frame && current->kind == SC_MODULE)
        return;   // a frame variable outside every function
    if (frame && frame_variable_known(st, v))
        return;
    if (v->kind == SC_EXTERN || v->kind == SC_STATIC) {
        sdb_entry *old = visible_entry(v->name);
        if (old && old->kind == v->kind && old->value == v->value && old->size <= v->size) {
            old->size = v->size;
            delete old->type;
            old->type = v->type;
            return;
        }
    }
    scope_add(current, v);
}

static sdb_entry *read_block(FILE *in, int depth, int kind);

// "<line> [file]: the source position moves.
static void read_line_marker(block_state &st)
{
    source_line = (unsigned)strtoul(rd.tok.c_str() + 1, nullptr, 10);
    if (!rd.ended_line) {
        std::string file = rest_of_line();
        if (!file.empty() && file != source_file) {
            source_file = file;
            st.low = st.high = source_line;
            sdb_entry *f = entry_new(file.c_str(), SC_FILENAME);
            scope_add(current, f);
        }
    }
    st.low = std::min(st.low, source_line);
    st.high = std::max(st.high, source_line);
    st.faked_since_marker = false;
}

// A number after a block: the frame facts of the block read last.
static void read_block_number(block_state &st)
{
    long n = decimal(rd.tok);
    if (st.pending) {
        st.pending->size = n;
        st.pending = nullptr;
    }
    if (st.last_nested && st.numbers < 4)
        st.last_nested->numbers[st.numbers++] = n;
}

static void read_nested_block(FILE *in, int depth, block_state &st)
{
    sdb_entry *fn = st.pending;
    st.pending = nullptr;
    sdb_entry *b = read_block(in, depth + 1, fn ? SC_FUNC : SC_BLOCK);
    b->function = fn;
    scope_add(current, b);
    if (fn || !st.last_nested)
        st.numbers = 0;
    st.last_nested = b;
    st.low = std::min(st.low, source_line);
    st.high = std::max(st.high, source_line);
    st.faked_since_marker = false;
}

// Reads records up to "}" or the end of the file into a new scope.
static sdb_entry *read_block(FILE *in, int depth, int kind)
{
    if (depth > MAX_DEPTH) {
        msg_report(1607, MAX_DEPTH, sdb_name.c_str(), rd.tok_line, rd.tok_column);
        tool_exit(1);
    }
    sdb_entry *b = entry_new(nullptr, kind);
    b->start_line = source_line;
    b->source_file = xstrdup(source_file.c_str());
    b->parent = current;
    b->parent_count = current ? (uint32_t)current->entries.size() : 0;
    current = b;
    block_state st = {b, nullptr, nullptr, 0, false, source_line, source_line};
    while (next_token()) {
        const std::string &t = rd.tok;
        if (t[0] == '"')
            read_line_marker(st);
        else if (t == "[d")
            read_define();
        else if (t == "[e")
            read_enum();
        else if (t == "[s" || t == "[u")
            read_struct(t == "[u");
        else if (t == "[v")
            read_variable(st);
        else if (t[0] == '[')
            st.pending = nullptr;
        else if (t == "{")
            read_nested_block(in, depth, st);
        else if (t == "}")
            break;
        else if (is_number(t))
            read_block_number(st);
        else
            syntax_error();
    }
    b->start_line = st.low;
    b->end_line = st.high;
    // Faked blocks end where the block that holds them ends.
    while (current != b) {
        current->end_line = source_line;
        current = current->parent;
    }
    current = b->parent;
    return b;
}

// ---------------------------------------------------------------------------
// loading a module
// ---------------------------------------------------------------------------

// The SDB file beside an object file: its extension replaced by ".sdb".
static std::string sdb_file_name(const char *object_name)
{
    std::string name = object_name;
    size_t slash = name.find_last_of("/\\");
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        name.erase(dot);
    return name + ".sdb";
}

// The "[p" line: selects the machine and checks its mode words.
static bool read_prefix_line(const std::string &line)
{
    size_t start = line.find_first_not_of(" \t\r\n");
    size_t end = start == std::string::npos ? start : line.find_first_of(" \t\r\n", start);
    std::string first = start == std::string::npos ? "" : line.substr(start, end - start);
    if (first != "[p") {
        msg_report(630, sdb_name.c_str());
        tool_exit(1);
    }
    std::string rest = end == std::string::npos ? "" : line.substr(end);
    if (!machine_init(rest.c_str()))
        return false;
    size_t pos = 0;
    for (;;) {
        pos = rest.find_first_not_of(" \t\r\n", pos);
        if (pos == std::string::npos)
            break;
        size_t stop = rest.find_first_of(" \t\r\n", pos);
        std::string word = rest.substr(pos, stop == std::string::npos ? std::string::npos : stop - pos);
        if (word == "]")
            break;
        if (!machine_flag(word.c_str()))
            msg_report(637, word.c_str(), sdb_name.c_str());
        pos = stop;
    }
    return true;
}

sdb_entry *sdb_load(const char *object_name)
{
    sdb_name = sdb_file_name(object_name);
    FILE *in = fopen(sdb_name.c_str(), "r");
    std::string first;
    bool has_line = in && os_read_line(in, first);
    sdb_entry *module;
    if (has_line) {
        if (!read_prefix_line(first)) {
            fclose(in);
            return nullptr;
        }
        log_verbose("Reading '%s'", sdb_name.c_str());
        rd = {in, 2, 1, 2, 1, false, false, ""};
        source_line = 1;
        module = read_block(in, 0, SC_MODULE);
    } else {
        // No debug information: the module is kept, with no scopes in it.
        if (!machine_init(""))
            module = nullptr;
        else
            module = entry_new(nullptr, SC_NODEBUG);
    }
    if (in)
        fclose(in);
    if (!module)
        return nullptr;
    module->name = xstrdup(object_name);
    source_line = 1;
    scope_add(sdb_global, module);
    return module;
}

// ---------------------------------------------------------------------------
// queries
// ---------------------------------------------------------------------------

static bool is_scope(int kind)
{
    return kind == SC_MODULE || kind == SC_BLOCK || kind == SC_FUNC || kind == SC_FILENAME || kind == SC_NODEBUG;
}

static sdb_entry *find_var_in(sdb_entry *scope, const char *name)
{
    for (sdb_entry *e : scope->entries) {
        if (e->name && strcmp(e->name, name) == 0)
            return e;
        if (is_scope(e->kind))
            if (sdb_entry *found = find_var_in(e, name))
                return found;
    }
    return nullptr;
}

sdb_entry *sdb_find_var(const char *name) { return sdb_global ? find_var_in(sdb_global, name) : nullptr; }

// The outermost entry that is not a qualifier.
static const type_entry *outer_entry(const type_chain *chain)
{
    if (!chain)
        return nullptr;
    for (size_t i = chain->entries.size(); i-- > 0;)
        if (chain->entries[i].kind != TK_QUALIFIER)
            return &chain->entries[i];
    return nullptr;
}

bool sdb_is_function(const type_chain *chain)
{
    const type_entry *e = outer_entry(chain);
    return e && e->kind == TK_FUNCTION;
}

bool sdb_is_bit(const type_chain *chain)
{
    const type_entry *e = outer_entry(chain);
    return e && e->kind == TK_BASIC && e->value == 4;
}

// ---------------------------------------------------------------------------
// dump
// ---------------------------------------------------------------------------

static std::string type_text(const type_chain *chain)
{
    if (!chain)
        return "Unknown type";
    std::string out;
    for (size_t i = chain->entries.size(); i-- > 0;) {
        const type_entry &e = chain->entries[i];
        switch (e.kind) {
        case TK_BASIC: {
            static const char letters[] = "viufb";
            if (e.value == 0)
                out += 'v';
            else if (e.value < 5)
                out += str_printf("%c%u", letters[e.value], e.extra);
            else
                out += str_printf("%u", e.extra);
            break;
        }
        case TK_FUNCTION: out += '('; break;
        case TK_POINTER: out += '*'; break;
        case TK_STRUCT:
            out += str_printf("struct %s", e.tag && e.tag->alias ? e.tag->alias : e.text.c_str());
            break;
        case TK_ARRAY: out += str_printf("[%llu]", (unsigned long long)e.value); break;
        case TK_QUALIFIER: {
            // Two letters may stand for one qualifier (C and D for const).
            uint64_t shown = 0;
            for (const machine_qualifier *q = machine_current->qualifiers; q->letter; q++)
                if ((e.value & q->flag) && !(shown & q->flag)) {
                    out += str_printf("%s ", q->name);
                    shown |= q->flag;
                }
            break;
        }
        default: out += "Unknown type"; break;
        }
    }
    return out;
}

static void dump_scope(const sdb_entry *scope, int depth);

static void dump_nested(const sdb_entry *block, int depth)
{
    msg_print("%*s{", depth * 4, "");
    dump_scope(block, depth + 1);
    msg_print("%*s}", depth * 4, "");
}

static void dump_entry(const sdb_entry *e, int depth)
{
    std::string line(depth * 4, ' ');
    if (e->kind < SC_NODEBUG)
        line += str_printf("%s: ", kind_names[e->kind]);
    switch (e->kind) {
    case SC_EXTERN:
    case SC_STATIC:
    case SC_AUTO:
    case SC_PARAM:
    case SC_TYPEDEF:
    case SC_REG:
        line += str_printf("%s `", e->name) + type_text(e->type);
        if (e->kind == SC_REG)
            line += str_printf(" %s", machine_register_name((uint32_t)e->value));
        if (e->kind == SC_STATIC && e->alias)
            line += str_printf(" %s", e->alias);
        line += str_printf(" %d", e->line);
        break;
    case SC_MODULE:
    case SC_NODEBUG:
        line += str_printf("\"%s\" %d-%d", e->name ? e->name : "", e->start_line, e->end_line);
        msg_print("%s", line.c_str());
        dump_nested(e, depth);
        return;
    case SC_FUNC:
    case SC_BLOCK:
        if (e->kind == SC_FUNC)
            line += str_printf("%s() ", e->function && e->function->name ? e->function->name : "");
        line += str_printf("%d-%d", e->start_line, e->end_line);
        if (e->flags & SDBF_FAKED)
            line += " (faked)";
        msg_print("%s", line.c_str());
        dump_nested(e, depth);
        return;
    case SC_STRUCT:
        line += e->name;
        if (e->alias)
            line += str_printf("(%s)", e->alias);
        line += " = {";
        for (const sdb_member &m : e->members)
            line += str_printf(" %s `", m.name.c_str()) + type_text(m.type);
        line += " }";
        break;
    case SC_ENUM:
        line += str_printf("%s = {", e->name);
        for (const enum_member &m : e->enum_members)
            line += str_printf(" %s=%ld", m.name.c_str(), m.value);
        line += " }";
        break;
    case SC_FILENAME: line += str_printf("\"%s\"", e->name); break;
    default: line += str_printf("sclass?? = %d", e->kind); break;
    }
    msg_print("%s", line.c_str());
}

static void dump_scope(const sdb_entry *scope, int depth)
{
    for (const sdb_entry *e : scope->entries)
        dump_entry(e, depth);
}

void sdb_global_dump()
{
    if (!sdb_global)
        return;
    msg_print("\nGlobal block:\n\n");
    dump_scope(sdb_global, 0);
    msg_print("%s", "");
}
