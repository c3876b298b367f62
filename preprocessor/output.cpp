// Output text, line markers and the dependency list.
//
// Lines consumed without output (directives, blank and skipped lines) are
// owed to the output as newlines, so that output lines stay aligned with
// input lines. Before a line is written the owed newlines are paid, or a
// line marker ("# <line>", the file name when it changed) replaces them when
// more than 4 are owed or the reader says the position was lost. Every marker
// begins with a newline; inside #asm it is wrapped in #endasm / #asm lines.
// The dependency list is the included-file table, walked bucket by bucket.
#include "wren.h"

#include <cstring>

FILE *out_file;             // preprocessed text; null with -L alone
int out_owed;               // newlines owed to the output
bool out_marker_needed;     // a line marker must come before the next line
bool out_in_asm;            // inside #asm
hash_t *out_included;       // every file opened by #include
bool out_blank_pending;     // white space seen since the last token of the line
bool out_line_open;         // a line has been begun and not ended

static wstr out_last_name;  // file name of the last marker
static bool out_any_marker; // a marker with a name was written

void out_char(wch c)
{
    if (!out_file || ch_is_marker(c))
        return;
    if (c == '\n')
        out_line_open = false;
    fputc(c & 0xFF, out_file);
}

void out_text(const wstr &s)
{
    for (wch c : s)
        out_char(c);
}

void out_ascii(const char *s)
{
    if (out_file)
        fputs(s, out_file);
}

// The marker: "\n# <line>", the quoted name when the file changed, "\n";
// inside #asm framed by #endasm and #asm, naming the line before.
void out_marker()
{
    out_marker_needed = false;
    if (!out_file)
        return;
    int line = in_line_for_report();
    if (out_in_asm) {
        fputs("\n#endasm", out_file);
        line--;
    }
    fprintf(out_file, "\n#%s %d", "", line);
    input_stream *f = in_top_is_file() ? in_top : nullptr;
    if (f) {
        const wstr &name = f->has_line_name ? f->line_name : f->name;
        if (!out_any_marker || name != out_last_name) {
            fputs(" \"", out_file);
            out_text(name);
            fputc('"', out_file);
            out_last_name = name;
            out_any_marker = true;
        }
    }
    if (out_in_asm)
        fputs("\n#asm", out_file);
    fputc('\n', out_file);
}

// Pays what is owed before a line is written: a marker, or empty lines.
void out_begin_line()
{
    out_line_open = true;
    if ((out_marker_needed && in_top_is_file()) || out_owed > 4) {
        out_owed = 0;
        out_marker();
        return;
    }
    out_marker_needed = false;
    for (; out_owed > 0; out_owed--)
        out_ascii("\n");
}

void out_finish()
{
    if (out_owed > 0)
        out_ascii("\n");
    out_owed = 0;
}

// h = 4 * h + character over the name, stopping where the rest is ".h".
static uint32_t out_name_hash(const void *key)
{
    const char *s = (const char *)key;
    uint32_t h = 0;
    for (; *s && strcmp(s, ".h") != 0; s++)
        h = 4 * h + (unsigned char)*s;
    return h;
}

void out_make_included_table()
{
    out_included = hash_new(237, out_name_hash, hash_str_compare);
}

bool out_is_included(const char *name)
{
    return out_included && hash_lookup(out_included, name) != nullptr;
}

void out_record_include(const char *name)
{
    if (!out_included || out_is_included(name))
        return;
    char *key = xstrdup(name);
    hash_insert(out_included, key, key);
}

struct out_dep_state {
    FILE *f;    // the list file
    bool first; // no name written yet
};

// The make-rule head "<list> <list base>.plover: <source base>.<ext>".
static void out_rule_head(FILE *f)
{
    std::string list = pp_deps_name;
    std::string src = pp_source_name ? pp_source_name : "";
    size_t ld = list.rfind('.');
    size_t sd = src.rfind('.');
    fprintf(f, "%s %s.%s: %s.%s", list.c_str(), list.substr(0, ld).c_str(), "plover",
            src.substr(0, sd).c_str(), src.substr(sd + 1).c_str());
}

static bool out_rule_form()
{
    return pp_deps_make && pp_deps_name && strchr(pp_deps_name, '.') && pp_source_name &&
           strchr(pp_source_name, '.');
}

static int out_write_dep(void *ctx, void *key, void *)
{
    out_dep_state *st = (out_dep_state *)ctx;
    const char *name = (const char *)key;
    if (!out_rule_form()) {
        fprintf(st->f, "%s\n", name);
        return 0;
    }
    if (st->first)
        out_rule_head(st->f);
    st->first = false;
    fputc(' ', st->f);
    for (const char *p = name; *p; p++) {
        if (*p == ' ')
            fputc('\\', st->f);
        fputc(*p == '\\' ? '/' : *p, st->f);
    }
    return 0;
}

void out_write_deps()
{
    if (!pp_deps_file || !out_included)
        return;
    out_dep_state st{pp_deps_file, true};
    hash_walk(out_included, &st, out_write_dep);
}
