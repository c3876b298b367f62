// Directives, the conditional stack and the include search.
//
// A directive name is found by a two-character key (first character plus
// twice the third) that selects one candidate, compared in full. Conditional
// groups sit on a fixed stack of 32 records (the first is the file level);
// while the active flag is false only the conditional directives are looked
// at. Each handler returns the newlines the caller owes for the consumed line
// (#asm and #pragma write lines of their own); after it the rest of the line
// must be empty. #include searches the including file's directory (quoted
// form) and then the -I directories in order; files nest at most
// dir_include_limit deep (each holds an open file and its buffers).
#include "wren.h"

#include <cerrno>
#include <cstring>

bool dir_active = true;       // lines are being emitted

enum {
    COND_ENCLOSING_ACTIVE = 1, // the text around the group is active
    COND_ELSE_SEEN = 2,        // #else was seen
    COND_TAKEN = 4,            // a branch of the group has been taken
};

struct cond_record {
    unsigned char flags; // COND_*
    int line;            // line of the #if
};

static cond_record dir_conds[32]; // [0] is the file level
static const int dir_include_limit = 200; // nested #include files below the main file
static int dir_cond_top;          // index of the innermost open group

typedef int (*dir_handler_t)();

struct dir_entry {
    int key;               // first character + 2 * third character
    const char *name;
    dir_handler_t handler;
    bool conditional;      // looked at in skipped text too
};

static int dir_if();
static int dir_ifdef();
static int dir_ifndef();
static int dir_elif();
static int dir_else();
static int dir_endif();
static int dir_include();
static int dir_define();
static int dir_undef();
static int dir_line();
static int dir_error();
static int dir_warning();
static int dir_assert();
static int dir_pragma();
static int dir_ident();
static int dir_asm();
static int dir_endasm();

// key  name       handler       conditional
static const dir_entry dir_table[] = {
    {105, "if",      dir_if,      true},
    {295, "endasm",  dir_endasm,  false},
    {301, "endif",   dir_endif,   true},
    {303, "include", dir_include, false},
    {304, "define",  dir_define,  false},
    {305, "ifdef",   dir_ifdef,   true},
    {306, "pragma",  dir_pragma,  false},
    {307, "ident",   dir_ident,   false},
    {311, "elif",    dir_elif,    true},
    {315, "asm",     dir_asm,     false},
    {317, "undef",   dir_undef,   false},
    {325, "ifndef",  dir_ifndef,  true},
    {327, "assert",  dir_assert,  false},
    {328, "line",    dir_line,    false},
    {329, "error",   dir_error,   false},
    {331, "else",    dir_else,    true},
    {347, "warning", dir_warning, false},
};

static const int DIR_PRAGMA_LINE = -1; // the rest of the line is copied as text

static const dir_entry *dir_find(const std::string &name)
{
    if (name.size() < 2)
        return nullptr;
    int key = (unsigned char)name[0] + 2 * (unsigned char)name[2];
    if (key == 301 && name.size() > 3 && name[3] == 'a')
        key = 295;
    for (const dir_entry &d : dir_table)
        if (d.key == key)
            return name == d.name ? &d : nullptr;
    return nullptr;
}

// The rest of the directive line must be empty (163 otherwise); consumes it.
static void dir_end_line()
{
    int c = in_next_nonblank();
    if (c != '\n' && c != CH_EOF) {
        msg_report(163);
        in_skip_line();
    }
}

// The rest of the line as text, leading and trailing white space dropped.
static std::string dir_rest_of_line()
{
    wstr text;
    int c = in_next_nonblank();
    for (; c != '\n' && c != CH_EOF; c = in_getc())
        if (!ch_is_marker(c))
            text += (wch)c;
    in_ungetc(c); // the message names this line, not the next
    while (!text.empty() && in_class(text.back()) == CC_WHITE)
        text.pop_back();
    return alert_narrow(text);
}

int dir_handle()
{
    int c = in_next_nonblank();
    if (c == '\n' || c == CH_EOF)
        return c == '\n';
    if (in_class(c) == CC_DIGIT) {
        in_ungetc(c);
        if (!in_top_is_file())
            msg_report(161, "line");
        if (!dir_active) {
            in_skip_line();
            return 1;
        }
        return dir_line();
    }
    std::string name;
    if (in_class(c) == CC_IDENT) {
        in_read_ident(c);
        name = alert_narrow(in_name_buf);
    } else {
        name = std::string(1, (char)c);
    }
    if (!in_top_is_file())
        msg_report(161, name.c_str());
    const dir_entry *d = dir_find(name);
    if (!d) {
        msg_report(107, name.c_str());
        if (!dir_active) {
            in_skip_line();
            return 1;
        }
        if (in_class(c) != CC_IDENT && c != '\n')
            in_skip_line();
        else
            dir_end_line();
        return 1;
    }
    if (!dir_active && !d->conditional) {
        in_skip_line();
        return 1;
    }
    return d->handler();
}

// ---------------------------------------------------------------------------
// conditionals
// ---------------------------------------------------------------------------

static void dir_push_cond(unsigned char flags)
{
    if (dir_cond_top + 1 >= (int)(sizeof dir_conds / sizeof dir_conds[0]))
        msg_report(144);
    dir_conds[++dir_cond_top] = {flags, in_line_for_report()};
}

// Opens a group; a group opened in skipped text can never become active.
static bool dir_open_group()
{
    if (!dir_active) {
        dir_push_cond(0);
        in_skip_line();
        return false;
    }
    dir_push_cond(COND_ENCLOSING_ACTIVE);
    return true;
}

static void dir_take(bool cond)
{
    dir_active = cond;
    if (cond)
        dir_conds[dir_cond_top].flags |= COND_TAKEN;
}

static int dir_if()
{
    if (!dir_open_group())
        return 1;
    dir_take(ifx_evaluate() != 0);
    dir_end_line();
    return 1;
}

static int dir_ifdef_common(bool want_defined)
{
    if (!dir_open_group())
        return 1;
    int c = in_next_nonblank();
    if (in_class(c) != CC_IDENT) {
        msg_report(108);
        if (c != '\n')
            in_skip_line();
        return 1;
    }
    in_read_ident(c);
    dir_take((mac_find(in_name_buf) != nullptr) == want_defined);
    dir_end_line();
    return 1;
}

static int dir_ifdef()
{
    return dir_ifdef_common(true);
}

static int dir_ifndef()
{
    return dir_ifdef_common(false);
}

// Checks shared by #elif and #else; false when there is no open group.
static bool dir_check_group(const char *name)
{
    if (dir_cond_top == 0) {
        msg_report(102, name);
        return false;
    }
    if (dir_conds[dir_cond_top].flags & COND_ELSE_SEEN)
        msg_report(101, name);
    return true;
}

static int dir_elif()
{
    if (!dir_check_group("elif")) {
        in_skip_line();
        return 1;
    }
    unsigned char flags = dir_conds[dir_cond_top].flags;
    if ((flags & COND_ENCLOSING_ACTIVE) && !(flags & COND_TAKEN)) {
        dir_take(ifx_evaluate() != 0);
        dir_end_line();
        return 1;
    }
    dir_active = false;
    in_skip_line();
    return 1;
}

static int dir_else()
{
    if (dir_check_group("else")) {
        cond_record &r = dir_conds[dir_cond_top];
        r.flags |= COND_ELSE_SEEN;
        if (r.flags & COND_ENCLOSING_ACTIVE)
            dir_active = !dir_active && !(r.flags & COND_TAKEN);
    }
    dir_end_line();
    return 1;
}

static int dir_endif()
{
    if (dir_cond_top == 0) {
        msg_report(102, "endif");
    } else {
        cond_record &r = dir_conds[dir_cond_top];
        bool enclosing = r.flags & COND_ENCLOSING_ACTIVE;
        if (enclosing && !dir_active)
            out_marker_needed = true;
        dir_active = enclosing;
        dir_cond_top--;
    }
    dir_end_line();
    return 1;
}

void dir_check_open_groups()
{
    if (dir_cond_top > 0)
        msg_report(100, dir_conds[1].line);
}

// ---------------------------------------------------------------------------
// #include
// ---------------------------------------------------------------------------

// Opens a source file for #include: a regular file only; the lower-cased last
// component is tried when the name itself does not open.
static int dir_open_errno; // why an include file that exists did not open

static FILE *dir_open_source(const std::string &name)
{
    FILE *f = nullptr;
    if (os_file_exists(name.c_str()) && !os_is_directory(name.c_str())) {
        f = fopen(name.c_str(), "r");
        if (!f)
            dir_open_errno = errno;
    }
    if (!f) {
        std::string lower = name;
        size_t base = lower.find_last_of("/\\");
        os_str_lower(&lower[base == std::string::npos ? 0 : base + 1]);
        if (lower == name || !os_file_exists(lower.c_str()) || os_is_directory(lower.c_str()))
            return nullptr;
        f = fopen(lower.c_str(), "r");
        if (!f)
            return nullptr;
        msg_report(164, name.c_str());
    }
    if (!os_path_exact_case(name.c_str()))
        msg_report(165, name.c_str());
    return f;
}

// Tries one candidate path; true when it was opened (or, making only the
// dependency list, is already known, which leaves *found null).
static bool dir_try_include(const std::string &path, FILE **found, std::string *found_path)
{
    if (pp_deps_only && out_is_included(path.c_str()))
        return true;
    FILE *f = dir_open_source(path);
    if (!f)
        return false;
    *found = f;
    *found_path = path;
    return true;
}

static bool dir_is_rooted(const std::string &name)
{
    return !name.empty() && (name[0] == '/' || name[0] == '\\');
}

static bool dir_search(const std::string &name, bool quoted, FILE **found, std::string *found_path)
{
    if (quoted) {
        std::string path = name;
        bool has_drive = name.size() >= 2 && isalpha((unsigned char)name[0]) && name[1] == ':';
        input_stream *f = in_file_stream();
        if (!dir_is_rooted(name) && !has_drive && f) {
            std::string cur = alert_narrow(f->name);
            size_t slash = cur.find_last_of('\\');
            if (slash == std::string::npos)
                slash = cur.find_last_of('/');
            if (slash != std::string::npos)
                path = cur.substr(0, slash + 1) + name;
        }
        if (dir_try_include(path, found, found_path))
            return true;
    }
    for (const std::string &dir : pp_include_dirs) {
        std::string path;
        if (dir_is_rooted(name))
            path = name;
        else if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\'))
            path = dir + name;
        else
            path = dir + "\\" + name;
        if (dir_try_include(path, found, found_path))
            return true;
        // A Windows separator does not join paths on other hosts.
        if (os_native_path_style == OS_PATH_POSIX && !dir_is_rooted(name) && path != dir + "/" + name &&
            dir_try_include(dir + "/" + name, found, found_path))
            return true;
    }
    return false;
}

// The operands of #include and #line may be given by macros: names of
// enabled macros, starting with the character c, are expanded until
// something else comes, which is returned. An identifier that names no such
// macro is consumed and sets *plain.
static int dir_next_expanded(int c, bool *plain)
{
    *plain = false;
    while (in_class(c) == CC_IDENT) {
        in_read_ident(c);
        macro_rec *m = mac_lookup_enabled(in_name_buf);
        if (!m || !mac_expand(m)) {
            *plain = true;
            return 0;
        }
        c = in_next_nonblank();
    }
    return c;
}

static int dir_include()
{
    int c = in_next_nonblank();
    // A name given by macros, which are expanded until the form in quotes
    // or angle brackets appears.
    bool plain;
    c = dir_next_expanded(c, &plain);
    if (plain) {
        msg_report(109);
        dir_end_line();
        return 1;
    }
    if (c != '<' && c != '"') {
        msg_report(109);
        in_ungetc(c);
        dir_end_line();
        return 1;
    }
    int close = c == '<' ? '>' : '"';
    std::string name;
    in_raw = true;
    for (c = in_getc(); c != close && c != '\n' && c != CH_EOF && c != CH_ENDEXP; c = in_getc())
        if (c != '\r' && !ch_is_marker(c))
            name += (char)(c & 0xFF);
    in_raw = false;
    if (c == '\n')
        in_ungetc(c);
    // The file is looked for while the directive's line is current, so that
    // what the search reports (164, 165, 141) names that line; it is pushed
    // after the line is consumed, so the marker of the including file later
    // names the line after the directive.
    // A file found but not opened (a file including itself runs out of
    // descriptors) is reported with that reason, not as missing.
    if (in_file_depth > dir_include_limit)
        msg_report(1510, dir_include_limit);
    dir_open_errno = 0;
    FILE *f = nullptr;
    std::string path;
    if (!dir_search(name, close == '"', &f, &path)) {
        errno = dir_open_errno ? dir_open_errno : ENOENT;
        msg_report(141, "include", name.c_str());
    }
    dir_end_line();
    if (f) {
        pp_check_input(path.c_str());
        out_record_include(path.c_str());
        in_push_file(f, alert_widen(path.c_str()));
    }
    return 1;
}

// ---------------------------------------------------------------------------
// the other directives
// ---------------------------------------------------------------------------

static int dir_define()
{
    mac_do_define();
    dir_end_line();
    return 1;
}

static int dir_undef()
{
    int c = in_next_nonblank();
    if (in_class(c) != CC_IDENT) {
        msg_report(114);
        in_ungetc(c);
    } else {
        in_read_ident(c);
        mac_undefine(in_name_buf);
    }
    dir_end_line();
    return 1;
}

// #line n ["name"] and # n ["name"]: the next line gets number n.
static int dir_line()
{
    bool plain;
    int c = dir_next_expanded(in_next_nonblank(), &plain);
    if (plain || in_class(c) != CC_DIGIT) {
        msg_report(178, plain ? alert_narrow(in_name_buf).c_str() : "");
        if (!plain)
            in_ungetc(c);
        dir_end_line();
        return 1;
    }
    std::string digits;
    for (; in_class(c) == CC_DIGIT; c = in_getc())
        digits += (char)c;
    in_ungetc(c);
    unsigned long long n = digits.size() > 10 ? ~0ull : strtoull(digits.c_str(), nullptr, 10);
    bool ok = n >= 1 && n <= 0x7FFFFFFF;
    if (!ok)
        msg_report(178, digits.c_str());
    c = dir_next_expanded(in_next_nonblank(), &plain);
    if (plain) {
        // An identifier that names no macro cannot be the file name.
        msg_report(163);
        in_skip_line();
    } else if (c == '"') {
        wstr name;
        wstr lit;
        in_copy_literal(c, lit);
        if (lit.size() >= 2 && lit.back() == '"')
            name = lit.substr(1, lit.size() - 2);
        input_stream *f = in_file_stream();
        if (f && ok) {
            f->line_name = name;
            f->has_line_name = true;
        }
        dir_end_line();
    } else {
        in_ungetc(c);
        dir_end_line();
    }
    if (ok) {
        // The newline of this line was counted already.
        in_line = (int64_t)n;
        out_marker_needed = true;
    }
    return 1;
}

static int dir_error()
{
    msg_report(103, dir_rest_of_line().c_str());
    in_skip_line();
    return 1;
}

static int dir_warning()
{
    msg_report(162, dir_rest_of_line().c_str());
    in_skip_line();
    return 1;
}

static int dir_assert()
{
    if (ifx_evaluate() == 0)
        msg_report(104);
    dir_end_line();
    return 1;
}

static int dir_ident()
{
    in_skip_line();
    return 1;
}

static int dir_pragma()
{
    if (!pp_deps_only) {
        out_begin_line();
        out_ascii("#pragma ");
    }
    in_ungetc(in_next_nonblank());
    return DIR_PRAGMA_LINE;
}

static int dir_asm()
{
    if (out_in_asm)
        msg_report(106);
    out_owed = 0;
    out_marker();
    in_skip_line();
    out_ascii("#asm\n");
    out_in_asm = true;
    return 0;
}

static int dir_endasm()
{
    if (!out_in_asm)
        msg_report(105);
    out_in_asm = false;
    out_begin_line();
    out_ascii("#endasm ");
    for (int c = in_getc(); c != '\n' && c != CH_EOF; c = in_getc())
        out_char((wch)c);
    return 1;
}
