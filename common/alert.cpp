// The numbered message system.
//
// Programs report by number; the kind (fatal, error, warning with a level,
// message) and the text come from the message description file of the user's
// language in the installation's dat directory, with the English file as the
// fallback for numbers the chosen file lacks. Per-number states, kept on a
// stack of tables, silence or re-grade a message; the warning threshold and
// the error limit apply; the line is built either in the plain layout
// ("file: line: (n) text") or from format strings with placeholders, and a
// fatal report ends the run through the program's own tool_exit().
#include "common.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

// Texts longer than the classic 512-byte text buffer are cut.
static const size_t TEXT_LIMIT = 511;
// An output line holds at most this many characters before its newline.
static const size_t LINE_LIMIT = 2047;
// Largest message number a file or a state table may hold.
static const unsigned NUMBER_LIMIT = 10000;

static const char *const DEFAULT_ERR_FORMAT = "%f: %l: (%n) %s (error)";
static const char *const DEFAULT_WARN_FORMAT = "%f: %l: (%n) %s (warning)";
static const char *const DEFAULT_MSG_FORMAT = "%f: %l: %s";

// 0 not set up; 1 set up, no message file yet; 2 a message file named or loaded.
static int setup_state;
// Entries of the message file in use, indexed by number.
static vector_t *loaded;
// Entries of the English file, loaded when the file in use lacks a number.
static vector_t *english;
// Path last given to msg_open_file.
static char *file_name;
// Set while a file is being read, so its own reports do not set up again.
static bool loading;
static unsigned error_limit = 3;
static unsigned error_count;
static unsigned warning_count;
static int warning_threshold;
static int warnings_fail;
static int format_mode;
static std::string err_format, warn_format, msg_format;
// The reporting program's location, read at each report.
static const char *loc_file;
static const unsigned *loc_line;
static const char *const *loc_line_start;
static const char *const *loc_position;
static msg_output_hook_t output_hook;
static msg_prereport_hook_t prereport_hook;
// The C library's error number saved at the start of a report (%m).
static int saved_errno;
// Stack of per-number state tables; only the top one is consulted.
static vector_t *state_stack;
// Places already reported by msg_report_once.
static hash_t *once_table;
// Line being built by msg_print_part.
static std::string part_line;
static bool part_open;
// The %a placeholder, prompt and banner component.
static const char *tool_name = "";

void msg_set_tool_name(const char *name) { tool_name = name ? name : ""; }
const char *msg_tool_name() { return tool_name; }

// ---------------------------------------------------------------------------
// language table
// ---------------------------------------------------------------------------
static const lang_entry_t lang_table[] = {
    // id   names                  code
    {7,     "German;Deutsch",      "de"},
    {9,     "English",             "en"},
    {12,    "French;Fran\xe7" "ais", "fr"},
    {255,   "English",             "en"},
};

int lang_id_from_name(const char *name)
{
    for (const lang_entry_t &row : lang_table) {
        if (strcasecmp(name, row.code) == 0)
            return row.id;
        std::string names = row.names;
        size_t start = 0;
        while (start <= names.size()) {
            size_t end = names.find_first_of(",;", start);
            if (end == std::string::npos)
                end = names.size();
            if (strcasecmp(names.substr(start, end - start).c_str(), name) == 0)
                return row.id;
            start = end + 1;
        }
    }
    return 255;
}

const char *lang_code(int id)
{
    for (const lang_entry_t &row : lang_table)
        if (row.id == id)
            return row.code;
    return "en";
}

int lang_default_id() { return 9; }
void lang_init() {}

// ---------------------------------------------------------------------------
// reading a message description file
// ---------------------------------------------------------------------------
static void msg_table_clear(vector_t *table)
{
    for (uint32_t i = 0; i < vec_count(table); i++) {
        msg_entry_t *e = static_cast<msg_entry_t *>(vec_get(table, i));
        if (e) {
            free(e->text);
            free(e);
        }
    }
    vec_clear(table);
}

// Kind of an entry from its kind word; false when the word is none of the forms.
static bool msg_parse_kind(const char *word, int *kind, int *level)
{
    *level = 0;
    switch (word[0]) {
    case 'F': case 'f': *kind = MSG_FATAL; return true;
    case 'E': case 'e': *kind = MSG_ERROR; return true;
    case 'M': case 'm': *kind = MSG_MESSAGE; return true;
    default: break;
    }
    if (isdigit(static_cast<unsigned char>(word[0])) ||
        (word[0] == '-' && isdigit(static_cast<unsigned char>(word[1])))) {
        *kind = MSG_WARNING;
        *level = atoi(word);
        return true;
    }
    *kind = MSG_MALFORMED;
    return false;
}

static void msg_malformed(unsigned line_no, const char *path)
{
    msg_report_text(3, "M", "Malformed error information on line %u, in file %s", line_no, path);
}

// True when every % of a text is a conversion the programs pass arguments
// for: flags, a width and precision (* or up to three digits), h/l/ll/z
// and one of d i o u x X c s e E f g G p m. A text from a damaged file with
// %n would make the formatting write through an argument, an unknown
// conversion does what the C library pleases and a huge width has every
// report build a text of that many characters, so such a line is malformed
// and its number keeps no text.
static bool msg_text_safe(const char *text)
{
    for (const char *p = strchr(text, '%'); p; p = strchr(p, '%')) {
        p++;
        if (*p == '%') {
            p++;
            continue;
        }
        p += strspn(p, "-+ #0");
        size_t width = strspn(p, "0123456789*");
        p += width;
        size_t precision = 0;
        if (*p == '.') {
            p++;
            precision = strspn(p, "0123456789*");
            p += precision;
        }
        if (width > 3 || precision > 3)
            return false;
        p += strspn(p, "hlz");
        if (!*p || !strchr("diouxXcseEfgGpm", *p))
            return false;
        p++;
    }
    return true;
}

// Parses one line into table; reports a malformed line.
static void msg_parse_line(vector_t *table, const std::string &line, unsigned line_no, const char *path)
{
    // Lines of the classic 256-byte buffer hold at most 254 characters and
    // their newline; a longer one is one malformed line, never two entries.
    if (line.size() > 254) {
        msg_malformed(line_no, path);
        return;
    }
    const char *p = line.c_str();
    while (*p == ' ' || *p == '\t')
        p++;
    if (!*p)
        return;
    char *end;
    errno = 0;
    long number = strtol(p, &end, 10);
    if (end == p || errno || number < 0 || number > static_cast<long>(NUMBER_LIMIT) ||
        (*end != ' ' && *end != '\t')) {
        msg_malformed(line_no, path);
        return;
    }
    p = end;
    while (*p == ' ' || *p == '\t')
        p++;
    const char *kind_start = p;
    while (*p && *p != ' ' && *p != '\t')
        p++;
    std::string kind_word(kind_start, p);
    if (kind_word.empty() || !*p || !p[1]) {
        msg_malformed(line_no, path);
        return;
    }
    const char *text = p + 1;
    if (!msg_text_safe(text)) {
        msg_malformed(line_no, path);
        return;
    }
    int kind, level;
    if (!msg_parse_kind(kind_word.c_str(), &kind, &level))
        msg_malformed(line_no, path);
    msg_entry_t *e = static_cast<msg_entry_t *>(xmalloc(sizeof(msg_entry_t)));
    e->kind = kind;
    e->number = static_cast<unsigned>(number);
    e->text = xstrdup(text);
    e->level = level;
    msg_entry_t *old = static_cast<msg_entry_t *>(vec_get(table, e->number));
    if (old) {
        free(old->text);
        free(old);
    }
    vec_set(table, e, e->number);
}

// Reads the file at path into table (created when null); false when it cannot be opened.
static bool msg_load(vector_t **table, const char *path)
{
    // A directory opens for reading here but holds no lines: it is no file.
    if (os_is_directory(path))
        return false;
    FILE *f = fopen(path, "rb");
    if (!f)
        return false;
    if (!*table)
        *table = vec_new(1100);
    msg_table_clear(*table);
    bool was_loading = loading;
    loading = true;
    std::string line;
    unsigned line_no = 0;
    while (os_read_line(f, line)) {
        line_no++;
        if (line[0] != '#')
            msg_parse_line(*table, line, line_no, path);
    }
    loading = was_loading;
    fclose(f);
    return true;
}

static std::string msg_fallback_path()
{
    std::string p = "..";
    p += os_dir_sep;
    p += "dat";
    p += os_dir_sep;
    p += "en_msgs.txt";
    return p;
}

int msg_open_file(const char *path)
{
    if (!path)
        path = getenv("VRK_ERR_FILE");
    std::string chosen = path ? path : msg_fallback_path();
    free(file_name);
    file_name = xstrdup(chosen.c_str());
    return msg_load(&loaded, file_name) ? 1 : 0;
}

const char *msg_file_name() { return file_name; }

static bool msg_try_dat(const char *name)
{
    char *path = install_path(INST_DAT, name);
    bool ok = path && msg_open_file(path);
    free(path);
    return ok;
}

int msg_open_language(int id)
{
    bool opened = false;
    if (id != 255) {
        std::string name = std::string(lang_code(id)) + "_msgs.txt";
        opened = msg_try_dat(name.c_str()) || msg_open_file(nullptr);
    }
    std::string name;
    if (!opened) {
        uint32_t lang;
        if (prod_read_dword("language", &lang) != 0)
            lang = 9;
        name = std::string(lang_code(static_cast<int>(lang))) + "_msgs.txt";
        opened = msg_try_dat(name.c_str()) || msg_open_file(nullptr) || msg_open_file(name.c_str());
    }
    if (opened) {
        setup_state = 2;
        return 1;
    }
    if (setup_state == 2) {
        msg_print("Could not open message file %s", name.c_str());
        tool_exit(1);
        exit(1);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// set-up and settings
// ---------------------------------------------------------------------------
static void msg_apply_formats(const char *error, const char *warning, const char *message)
{
    const char *e = getenv("VRK_ERR_FORMAT");
    const char *w = getenv("VRK_WARN_FORMAT");
    const char *m = getenv("VRK_MSG_FORMAT");
    err_format = e ? e : error ? error : DEFAULT_ERR_FORMAT;
    warn_format = w ? w : warning ? warning : DEFAULT_WARN_FORMAT;
    msg_format = m ? m : message ? message : DEFAULT_MSG_FORMAT;
}

void msg_init()
{
    if (loading)
        return;
    if (setup_state == 0 && file_name) {
        setup_state = 2;
        error_limit = 20;
        msg_apply_formats(nullptr, nullptr, nullptr);
    } else if (setup_state == 0) {
        setup_state = 1;
        error_limit = 20;
        msg_apply_formats(nullptr, nullptr, nullptr);
        msg_open_language(255);
    } else if (setup_state == 1) {
        msg_open_language(255);
    }
}

unsigned msg_set_error_limit(unsigned n)
{
    msg_init();
    unsigned old = error_limit;
    error_limit = n;
    return old;
}

int msg_set_warning_level(int t)
{
    int old = warning_threshold;
    warning_threshold = t;
    return old;
}

void msg_set_warnings_fail(int on) { warnings_fail = on; }
void msg_set_format_mode(int m) { format_mode = m; }

void msg_set_formats(const char *error, const char *warning, const char *message)
{
    msg_init();
    msg_apply_formats(error, warning, message);
}

void msg_set_location(const char *file, const unsigned *line, const char *const *line_start,
                      const char *const *position)
{
    loc_file = file;
    loc_line = line;
    loc_line_start = line_start;
    loc_position = position;
}

void msg_set_output_hook(msg_output_hook_t fn) { output_hook = fn; }
void msg_set_prereport_hook(msg_prereport_hook_t fn) { prereport_hook = fn; }

int msg_exit_status()
{
    return error_count > 0 || (warnings_fail && warning_count > 0) ? 1 : 0;
}

unsigned msg_error_count() { return error_count; }
unsigned msg_warning_count() { return warning_count; }

const msg_entry_t *msg_lookup(unsigned n)
{
    return static_cast<const msg_entry_t *>(vec_get(loaded, n));
}

// ---------------------------------------------------------------------------
// per-number states
// ---------------------------------------------------------------------------
static int msg_state_of(unsigned n)
{
    if (!state_stack)
        return 0;
    vector_t *top = static_cast<vector_t *>(vec_top(state_stack));
    return static_cast<int>(reinterpret_cast<intptr_t>(vec_get(top, n)));
}

void msg_state_op(unsigned n, int op)
{
    if (!state_stack) {
        state_stack = vec_new_default();
        vec_push(state_stack, vec_new_default());
    }
    vector_t *top = static_cast<vector_t *>(vec_top(state_stack));
    switch (op) {
    case 0: case 1: case 2: case 3: case 4:
        // A number no file can describe needs no state (and must not grow
        // the table to gigabytes).
        if (n <= NUMBER_LIMIT)
            vec_set(top, reinterpret_cast<void *>(static_cast<intptr_t>(op)), n);
        break;
    case 5:
        vec_push(state_stack, vec_dup(top));
        break;
    case 6:
        if (vec_count(state_stack) > 1)
            vec_free(static_cast<vector_t *>(vec_pop(state_stack)));
        break;
    case 7:
        for (uint32_t i = 0; i < vec_count(loaded); i++) {
            const msg_entry_t *e = static_cast<const msg_entry_t *>(vec_get(loaded, i));
            if (e && e->kind == MSG_WARNING)
                vec_set(top, reinterpret_cast<void *>(intptr_t{1}), i);
        }
        break;
    case 8:
        vec_clear(top);
        break;
    default:
        break;
    }
}

void msg_parse_disable_list(const char *list)
{
    if (!list || !*list)
        return;
    if (list[0] == '0') {
        msg_state_op(0, 7);
        return;
    }
    const char *p = list;
    while (*p) {
        const char *end = strchr(p, ',');
        std::string item = end ? std::string(p, end) : std::string(p);
        char *rest;
        unsigned long n = strtoul(item.c_str(), &rest, 10);
        if (rest != item.c_str() && n <= NUMBER_LIMIT)
            msg_state_op(static_cast<unsigned>(n), strcasecmp(rest, ":off") == 0 ? 4 : 1);
        if (!end)
            break;
        p = end + 1;
    }
}

// ---------------------------------------------------------------------------
// formatting one report
// ---------------------------------------------------------------------------
enum msg_layout { LAYOUT_ERROR, LAYOUT_WARNING, LAYOUT_MESSAGE };

static msg_layout msg_layout_of(int kind)
{
    if (kind == MSG_FATAL || kind == MSG_ERROR)
        return LAYOUT_ERROR;
    return kind == MSG_MESSAGE ? LAYOUT_MESSAGE : LAYOUT_WARNING;
}

static std::string msg_errno_text()
{
    return saved_errno ? strerror(saved_errno) : "";
}

// The template with every %m replaced by the saved error's text.
static std::string msg_expand_m(const char *tmpl)
{
    std::string out;
    for (const char *p = tmpl; *p; p++) {
        if (p[0] == '%' && p[1] == '%') {
            out += "%%";
            p++;
        } else if (p[0] == '%' && p[1] == 'm') {
            for (char c : msg_errno_text())
                out += c == '%' ? std::string("%%") : std::string(1, c);
            p++;
        } else {
            out += *p;
        }
    }
    return out;
}

static void msg_append(std::string &line, const std::string &text)
{
    size_t room = line.size() < LINE_LIMIT ? LINE_LIMIT - line.size() : 0;
    line.append(text, 0, room);
}

static void msg_flush(std::string line)
{
    if (line.size() > LINE_LIMIT)
        line.resize(LINE_LIMIT);
    line += '\n';
    if (output_hook) {
        output_hook(line.c_str());
    } else {
        fputs(line.c_str(), stderr);
        fflush(stderr);
    }
}

static void msg_build(int kind, unsigned n, const char *tmpl, va_list args)
{
    msg_layout layout = msg_layout_of(kind);
    std::string text;
    if (format_mode == 0 && layout != LAYOUT_MESSAGE)
        text = str_printf("(%u) ", n);
    text += str_vprintf(msg_expand_m(tmpl).c_str(), args);
    if (text.size() > TEXT_LIMIT)
        text.resize(TEXT_LIMIT);
    std::string line;
    if (format_mode == 0) {
        if (loc_file)
            msg_append(line, std::string(loc_file) + ": ");
        if (loc_line)
            msg_append(line, str_printf("%u: ", *loc_line));
        msg_append(line, text);
        if (layout == LAYOUT_WARNING)
            msg_append(line, " (warning)");
        msg_flush(line);
        return;
    }
    const std::string &fmt = layout == LAYOUT_ERROR ? err_format
                             : layout == LAYOUT_MESSAGE ? msg_format : warn_format;
    for (size_t i = 0; i < fmt.size(); i++) {
        if (fmt[i] != '%') {
            msg_append(line, std::string(1, fmt[i]));
            continue;
        }
        if (++i >= fmt.size())
            break;
        switch (fmt[i]) {
        case 'a': msg_append(line, tool_name); break;
        case 'c':
            if (loc_position && loc_line_start && *loc_position && *loc_line_start)
                msg_append(line, str_printf("%u", static_cast<unsigned>(*loc_position - *loc_line_start)));
            break;
        case 'f': if (loc_file) msg_append(line, loc_file); break;
        case 'l': if (loc_line) msg_append(line, str_printf("%u", *loc_line)); break;
        case 'm': msg_append(line, msg_errno_text()); break;
        case 'n': msg_append(line, str_printf("%u", n)); break;
        case 's': msg_append(line, text); break;
        default: msg_append(line, std::string(1, fmt[i])); break;
        }
    }
    msg_flush(line);
}

static void msg_format_l(int kind, unsigned n, const char *tmpl, ...)
{
    va_list ap;
    va_start(ap, tmpl);
    msg_build(kind, n, tmpl, ap);
    va_end(ap);
}

[[noreturn]] static void msg_stop()
{
    tool_exit(1);
    exit(1);
}

[[noreturn]] static void msg_too_many(unsigned count)
{
    msg_report_text(1, "M", "too many errors (%u)", count);
    msg_stop();
}

// ---------------------------------------------------------------------------
// reporting
// ---------------------------------------------------------------------------
static const msg_entry_t *msg_entry_for(unsigned n)
{
    if (const msg_entry_t *e = static_cast<const msg_entry_t *>(vec_get(loaded, n)))
        return e;
    if (!english) {
        char *path = install_path(INST_DAT, "en_msgs.txt");
        if (path)
            msg_load(&english, path);
        free(path);
    }
    return static_cast<const msg_entry_t *>(vec_get(english, n));
}

int msg_vreport(unsigned n, va_list args)
{
    // Loading a message file on the way may report (and save) errors of its
    // own; %m stays the error of the caller.
    int caller_errno = errno;
    msg_init();
    const msg_entry_t *e = msg_entry_for(n);
    saved_errno = caller_errno;
    int kind = e ? e->kind : MSG_ERROR;
    int level = e ? e->level : 0;
    const char *tmpl = e ? e->text : "An error, warning or message was generated, but no description is available";
    bool no_threshold = false;
    switch (msg_state_of(n)) {
    case 1:
        if (kind == MSG_WARNING || kind == MSG_MESSAGE || kind == MSG_MALFORMED)
            return 0;
        break;
    case 2:
        if (kind == MSG_ERROR) {
            kind = MSG_WARNING;
            level = warning_threshold;
        }
        break;
    case 3:
        if (kind == MSG_WARNING || kind == MSG_MALFORMED) {
            kind = MSG_ERROR;
            no_threshold = true;
        }
        break;
    case 4:
        if (kind != MSG_FATAL)
            return 0;
        break;
    default:
        break;
    }
    if ((kind == MSG_WARNING || kind == MSG_MALFORMED) && !no_threshold && level < warning_threshold)
        return 0;
    if (prereport_hook)
        prereport_hook();
    if (!e) {
        msg_format_l(kind, n, "%s", tmpl);
    } else {
        msg_build(kind, n, tmpl, args);
    }
    if (kind == MSG_ERROR) {
        if (error_count++ >= error_limit)
            msg_too_many(error_count);
    } else if (kind == MSG_FATAL) {
        msg_stop();
    } else if (kind != MSG_MESSAGE) {
        warning_count++;
    }
    return 1;
}

int msg_report(unsigned n, ...)
{
    va_list ap;
    va_start(ap, n);
    int r = msg_vreport(n, ap);
    va_end(ap);
    return r;
}

struct msg_place {
    unsigned number;
    unsigned line;
    std::string file;
};

static uint32_t msg_place_hash(const void *key)
{
    const msg_place *p = static_cast<const msg_place *>(key);
    uint32_t h = 0;
    for (unsigned char c : p->file)
        h = 2 * h + c;
    return h * 1000 + p->line * 100 + p->number;
}

static int msg_place_compare(const void *given, const void *stored)
{
    const msg_place *a = static_cast<const msg_place *>(given);
    const msg_place *b = static_cast<const msg_place *>(stored);
    return a->number == b->number && a->line == b->line && a->file == b->file ? 0 : 1;
}

int msg_report_once(unsigned n, ...)
{
    if (!once_table)
        once_table = hash_new(100, msg_place_hash, msg_place_compare);
    msg_place *place = new msg_place{n, loc_line ? *loc_line : 0, loc_file ? loc_file : ""};
    if (!hash_insert(once_table, place, place)) {
        delete place;
        return 0;
    }
    va_list ap;
    va_start(ap, n);
    int r = msg_vreport(n, ap);
    va_end(ap);
    return r;
}

static int msg_kind_from_word(const char *kind, int *level)
{
    *level = 10;
    if (isdigit(static_cast<unsigned char>(kind[0])) ||
        (kind[0] == '-' && isdigit(static_cast<unsigned char>(kind[1]))))
        *level = atoi(kind);
    switch (kind[0]) {
    case 'f': case 'F': return MSG_FATAL;
    case 'e': case 'E': return MSG_ERROR;
    case 'm': case 'M': return MSG_MESSAGE;
    default: break;
    }
    return isdigit(static_cast<unsigned char>(kind[0])) || kind[0] == '-' ? MSG_WARNING : MSG_MESSAGE;
}

static int msg_vreport_text(unsigned n, const char *kind_word, const char *format, va_list args)
{
    if (err_format.empty())
        msg_apply_formats(nullptr, nullptr, nullptr);
    int level;
    int kind = msg_kind_from_word(kind_word, &level);
    if (kind == MSG_ERROR && error_count++ >= error_limit)
        msg_too_many(error_count);
    if (level < warning_threshold) {
        if (kind == MSG_FATAL)
            msg_stop();
        return 0;
    }
    msg_build(kind, n, format, args);
    if (kind == MSG_FATAL)
        msg_stop();
    return 1;
}

int msg_report_text(unsigned n, const char *kind, const char *format, ...)
{
    saved_errno = errno;
    va_list ap;
    va_start(ap, format);
    int r = msg_vreport_text(n, kind, format, ap);
    va_end(ap);
    return r;
}

int msg_report_unnumbered(const char *kind, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int r = msg_vreport_text(0, kind, format, ap);
    va_end(ap);
    return r;
}

void msg_vprint(const char *format, va_list args)
{
    saved_errno = errno;
    std::string line = str_vprintf(msg_expand_m(format).c_str(), args);
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    msg_flush(line);
}

void msg_print(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    msg_vprint(format, ap);
    va_end(ap);
}

void msg_print_part(int last, const char *format, ...)
{
    if (!part_open) {
        part_line = "\t";
        part_open = true;
    }
    va_list ap;
    va_start(ap, format);
    msg_append(part_line, str_vprintf(format, ap));
    va_end(ap);
    if (last) {
        msg_flush(part_line);
        part_open = false;
    }
}

// ---------------------------------------------------------------------------
// options every tool shares
// ---------------------------------------------------------------------------
static const char *msg_option_value(const char *arg, const char *name)
{
    size_t n = strlen(name);
    return strncasecmp(arg, name, n) == 0 ? arg + n : nullptr;
}

int msg_std_option(const char *arg)
{
    if (const char *v = msg_option_value(arg, "--edf=")) {
        if (!msg_open_file(v))
            msg_print("Could not open error description file %s", v);
    } else if (const char *v = msg_option_value(arg, "--msgdisable=")) {
        msg_parse_disable_list(v);
    } else if (const char *v = msg_option_value(arg, "--disl=")) {
        msg_parse_disable_list(v);
    } else if (const char *v = msg_option_value(arg, "--emax=")) {
        msg_set_error_limit(static_cast<unsigned>(strtoul(v, nullptr, 10)));
    } else if (strcasecmp(arg, "--ver") == 0) {
        print_version_banner();
        tool_exit(0);
        exit(0);
    } else {
        return 0;
    }
    return 1;
}

void msg_reset_for_tests()
{
    setup_state = 0;
    if (loaded)
        msg_table_clear(loaded);
    if (english) {
        msg_table_clear(english);
        vec_free(english);
        english = nullptr;
    }
    free(file_name);
    file_name = nullptr;
    error_limit = 3;
    error_count = warning_count = 0;
    warning_threshold = 0;
    warnings_fail = 0;
    format_mode = 0;
    err_format.clear();
    warn_format.clear();
    msg_format.clear();
    loc_file = nullptr;
    loc_line = nullptr;
    loc_line_start = loc_position = nullptr;
    output_hook = nullptr;
    prereport_hook = nullptr;
    saved_errno = 0;
    if (state_stack) {
        while (vec_count(state_stack))
            vec_free(static_cast<vector_t *>(vec_pop(state_stack)));
        vec_free(state_stack);
        state_stack = nullptr;
    }
    if (once_table) {
        vector_t *keys = hash_keys(once_table);
        for (uint32_t i = 0; i < vec_count(keys); i++)
            delete static_cast<msg_place *>(vec_get(keys, i));
        vec_free(keys);
        hash_free(once_table);
        once_table = nullptr;
    }
    part_open = false;
}
