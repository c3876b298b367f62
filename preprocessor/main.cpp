// wren main: start-up, options, the line loop and the exit path.
//
// Usage: wren [options] [input [output]]. With no arguments they are read
// from standard input, with a single @file from that file. Options act in
// command-line order after the predefined macros exist. The line loop takes
// one input line at a time: a directive, a skipped line, or a line of tokens
// with macros expanded, preceded by the newlines (or the line marker) it is
// owed.
//
// No output may replace an input: every output name (the output, the
// dependency list, the message file) is checked against the input and the
// @file before anything is written, and against each header as it is
// included. The output and the dependency list are therefore made only at
// the exit (the text waits in a temporary file), once every header is known.
#include "wren.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool pp_deps_only;                    // -L alone: only the dependency list
int pp_format_mode;                   // -E<digit>
std::vector<std::string> pp_include_dirs; // -I, in order
char *pp_deps_name;                   // -L<file> / -LM-<file>
bool pp_deps_make;                    // -LM-: make-rule form
char *pp_source_name;                 // -F, else the input name
FILE *pp_deps_file;                   // where the list goes

static const char *pp_input_name;     // input file, null for standard input
static const char *pp_output_name;    // output file, null for standard output
static const char *pp_command_name;   // the @file the arguments came from
static const char *pp_error_name;     // -E<file>: the messages' file
static int pp_saved_stderr = -1;      // standard error before -E<file>
static FILE *pp_text_file;            // the output's text until the exit
static bool pp_outputs_refused;       // an output names a header: none is made
static bool pp_files_open;            // the input is open: outputs are owed
static int pp_error_limit = 10;       // --emax=, applied after the options
static char pp_err_buffer[512];       // line buffer of a -E<file> stream
static bool pp_exiting;               // tool_exit is running
static int pp_last_out = -1;          // last character written on the line
static bool pp_last_number;           // the last token written was a number

static const size_t pp_max_include_dirs = 255;

// ---------------------------------------------------------------------------
// options
// ---------------------------------------------------------------------------

static void pp_option_warning(const char *arg)
{
    const char *p = arg + 2;
    if ((*p >= '0' && *p <= '9') || *p == '-')
        msg_set_warning_level(atoi(p));
    if (strchr(p, '!'))
        msg_set_warnings_fail(1);
}

static void pp_option_define(const char *arg)
{
    std::string text = arg + 2;
    size_t eq = text.find('=');
    std::string name = text.substr(0, eq);
    std::string value = eq == std::string::npos ? "1" : text.substr(eq + 1);
    mac_define_text(name.c_str(), value.c_str());
}

// ---------------------------------------------------------------------------
// outputs against inputs
// ---------------------------------------------------------------------------

// Whether two names are one file: the same file on disk however it is
// spelled (through "./", other paths, symbolic links), or one path for a
// file not made yet.
static bool pp_same_file(const char *a, const char *b)
{
    if (!a || !b)
        return false;
    if (os_same_file(a, b))
        return true;
    char *x = os_path_absolute(a);
    char *y = os_path_absolute(b);
    bool same = strcmp(x, y) == 0;
    free(x);
    free(y);
    return same;
}

// A device (such as /dev/null) may take several outputs; a file may not.
static bool pp_is_device(const char *name)
{
    struct stat st;
    return stat(name, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// An output must not be the input or the @file (1470), nor another output
// (1513); both are fatal.
static void pp_check_output(const char *name, const char *const *others, size_t count)
{
    if (!name)
        return;
    for (const char *input : {pp_input_name, pp_command_name})
        if (pp_same_file(name, input))
            msg_report(1470, name);
    if (pp_is_device(name))
        return;
    for (size_t i = 0; i < count; i++)
        if (others[i] != name && pp_same_file(name, others[i]))
            msg_report(1513, name);
}

// A header about to be read must not be an output. The message file gives
// standard error back first, so that the report is not written into it.
void pp_check_input(const char *path)
{
    if (pp_same_file(path, pp_error_name) && !pp_is_device(path)) {
        fflush(stderr);
        dup2(pp_saved_stderr, fileno(stderr));
        pp_outputs_refused = true;
        msg_report(1470, pp_error_name);
    }
    for (const char *name : {pp_output_name, (const char *)pp_deps_name}) {
        if (pp_same_file(path, name) && !pp_is_device(path)) {
            pp_outputs_refused = true;
            msg_report(1470, name);
        }
    }
}

static void pp_option_messages(const char *arg)
{
    const char *p = arg + 2;
    if (!*p)
        return;
    if (p[0] >= '0' && p[0] <= '9' && !p[1]) {
        pp_format_mode = p[0] - '0';
        msg_set_format_mode(pp_format_mode);
        return;
    }
    const char *outputs[] = {pp_output_name};
    pp_check_output(p, outputs, 1);
    // Standard error is reopened only on a file that opens: a failed reopen
    // would close it and lose the report.
    FILE *probe = fopen(p, "a");
    if (!probe) {
        msg_report(141, "error", p);
        return;
    }
    fclose(probe);
    fflush(stderr);
    if (pp_saved_stderr < 0)
        pp_saved_stderr = dup(fileno(stderr));
    if (!freopen(p, "a", stderr))
        exit(1); // standard error is gone: nothing can be told
    pp_error_name = p;
    setvbuf(stderr, pp_err_buffer, _IOLBF, sizeof pp_err_buffer);
}

static void pp_option_list(const char *arg)
{
    const char *p = arg + 2;
    if (!*p) {
        pp_deps_only = true;
        return;
    }
    if ((p[0] == 'M' || p[0] == 'm') && p[1] == '-') {
        pp_deps_make = true;
        p += 2;
    }
    pp_deps_name = xstrdup(p);
}

static void pp_option_length(const char *arg)
{
    const char *p = arg + 2;
    if (!*p)
        return;
    long n = strtol(p, nullptr, 10);
    in_ident_limit = n <= 30 ? 31 : n > 255 ? 255 : (unsigned)n;
}

// One option (an argument starting with '-' and a further character).
static void pp_option(const char *arg)
{
    if (arg[1] == '-') {
        if (strncasecmp(arg, "--emax=", 7) == 0)
            pp_error_limit = atoi(arg + 7);
        if (!msg_std_option(arg))
            msg_report(168, arg);
        return;
    }
    switch (arg[1] | 0x20) {
    case 'c': in_keep_comments = true; break;
    case 'd': pp_option_define(arg); break;
    case 'e': pp_option_messages(arg); break;
    case 'f': pp_source_name = xstrdup(arg + 2); break;
    case 'i':
        if (pp_include_dirs.size() >= pp_max_include_dirs)
            msg_report(147);
        pp_include_dirs.push_back(arg + 2);
        break;
    case 'l': pp_option_list(arg); break;
    case 'n': pp_option_length(arg); break;
    case 's': ifx_size_option(arg); break;
    case 'u':
        if (!mac_undefine(alert_widen(arg + 2)))
            msg_report(177, arg + 2);
        break;
    case 'w': pp_option_warning(arg); break;
    default: msg_report(168, arg); break;
    }
}

// The file names are taken first, so that an option naming an output is
// checked against them wherever it stands.
static void pp_read_arguments(int argc, char **argv)
{
    int files = 0;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (arg[0] == '-' && arg[1])
            continue;
        const char *name = strcmp(arg, "-") == 0 ? nullptr : arg;
        if (++files == 1)
            pp_input_name = name;
        else if (files == 2)
            pp_output_name = name;
    }
    files = 0;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (arg[0] == '-' && arg[1]) {
            pp_option(arg);
            continue;
        }
        if (++files > 2) {
            msg_report(110);
            tool_exit(1);
        }
    }
}

// ---------------------------------------------------------------------------
// files
// ---------------------------------------------------------------------------

static void pp_open_files()
{
    if (pp_output_name && pp_input_name && os_same_file(pp_input_name, pp_output_name))
        msg_report(176, pp_output_name);
    const char *outputs[] = {pp_output_name, pp_deps_name, pp_error_name};
    for (const char *name : outputs)
        pp_check_output(name, outputs, 3);
    FILE *in = stdin;
    if (pp_input_name) {
        in = nullptr;
        if (!os_is_directory(pp_input_name))
            in = fopen(pp_input_name, "r");
        else
            errno = EISDIR;
        if (!in)
            msg_report(141, "input", pp_input_name);
    }
    if (pp_output_name && !pp_deps_only && !(pp_text_file = tmpfile()))
        msg_report(141, "temporary", "");
    out_file = pp_deps_only ? nullptr : pp_output_name ? pp_text_file : stdout;
    if (!pp_source_name)
        pp_source_name = xstrdup(pp_input_name ? pp_input_name : "");
    in_push_file(in, alert_widen(pp_input_name ? pp_input_name : ""));
    pp_files_open = true;
}

// Closes a written stream; a failed write or close is reported (fatal).
static void pp_close_output(FILE *f, const char *name)
{
    if (!f)
        return;
    bool bad = fflush(f) != 0 || ferror(f);
    if (f != stdout)
        bad = fclose(f) != 0 || bad;
    if (bad)
        msg_report(413, name ? name : "standard output");
}

// Creates an output file at the exit.
static FILE *pp_create_output(const char *name, const char *kind)
{
    if (!name)
        return stdout;
    FILE *f = fopen(name, "w");
    if (!f)
        msg_report(141, kind, name);
    return f;
}

// The output: the text kept in the temporary file, copied; a text the
// temporary file did not take whole is a write error of the output.
static void pp_place_output()
{
    FILE *text = pp_text_file;
    out_file = nullptr;
    if (!text)
        return;
    pp_text_file = nullptr;
    FILE *f = pp_create_output(pp_output_name, "output");
    bool lost = fflush(text) != 0 || ferror(text);
    char buf[8192];
    size_t n;
    rewind(text);
    while ((n = fread(buf, 1, sizeof buf, text)) > 0)
        fwrite(buf, 1, n, f);
    lost = lost || ferror(text);
    fclose(text);
    if (lost)
        msg_report(413, pp_output_name);
    pp_close_output(f, pp_output_name);
}

// The dependency list: its own file, else the output, else standard output.
static void pp_place_deps()
{
    if (!pp_deps_name && !pp_deps_only)
        return;
    const char *name = pp_deps_name ? pp_deps_name : pp_output_name;
    pp_deps_file = pp_create_output(name, "dependency");
    out_write_deps();
    FILE *f = pp_deps_file;
    pp_deps_file = nullptr;
    if (f != stdout)
        pp_close_output(f, name);
}

void tool_exit(int status)
{
    if (pp_exiting)
        return; // a fatal report from the closing below: the library exits
    pp_exiting = true;
    in_main_name.clear(); // reports from here on concern files, not a line
    if (pp_files_open && !pp_outputs_refused) {
        pp_place_deps();
        pp_place_output();
    }
    pp_close_output(stdout, nullptr);
    exit(status);
}

// ---------------------------------------------------------------------------
// the line loop
// ---------------------------------------------------------------------------

// Whether a token starting with b, written right after the last token
// (ending in a), would read as one token with it.
static bool pp_would_join(int a, int b)
{
    if (a < 0 || a > 0x7F || b > 0x7F)
        return false;
    if (in_is_ident_char(a) && in_is_ident_char(b))
        return true;
    if (pp_last_number && (b == '.' || in_is_ident_char(b)))
        return true;
    if (a == '.' && in_class(b) == CC_DIGIT)
        return true;
    if (b == '=' && strchr("+-*/%<>=!&|^", a))
        return true;
    if (a == b && strchr("+-<>&|#", a))
        return true;
    return (a == '-' && b == '>') || (a == '/' && (b == '*' || b == '/'));
}

// Writes one token; a blank goes before it when the line had white space
// here, or when it meets the previous token across an expansion boundary.
static void pp_write_token(const wstr &tok, bool boundary)
{
    wstr::size_type start = 0;
    while (start < tok.size() && tok[start] == CH_NOEXPAND)
        start++;
    if (start >= tok.size())
        return;
    if (out_blank_pending || (boundary && pp_would_join(pp_last_out, tok[start])))
        out_char(' ');
    out_blank_pending = false;
    for (size_t i = start; i < tok.size(); i++)
        out_char(tok[i]);
    pp_last_out = tok.back();
    pp_last_number = in_class(tok[start]) == CC_DIGIT || (tok[start] == '.' && tok.size() > start + 1);
}

// The tokens of the rest of the line, with macros expanded, and its newline.
void pp_copy_tokens()
{
    bool boundary = false;
    uint32_t last_source = 0;
    pp_last_out = -1;
    out_blank_pending = false;
    for (;;) {
        int c = in_getc();
        int k = in_class(c);
        // A token from another stream than the one before meets it across
        // an expansion boundary.
        uint32_t source = in_top ? in_top->serial : 0;
        if (source != last_source && c != '\n' && k != CC_WHITE)
            boundary = true;
        last_source = source;
        if (c == CH_EOF)
            return;
        if (c == '\n') {
            out_blank_pending = false;
            out_char('\n');
            return;
        }
        if (c == CH_ENDEXP || c == CH_PASTE) {
            boundary = true;
            continue;
        }
        if (k == CC_WHITE) {
            out_blank_pending = pp_last_out >= 0;
            continue;
        }
        wstr tok;
        if (!mac_take_token(c, tok, TAKE_EXPAND)) {
            boundary = true;
            continue;
        }
        pp_write_token(tok, boundary);
        boundary = false;
    }
}

// Leading white space of a line: dropped, except inside #asm, where each
// character becomes one blank. Returns the first other character.
static int pp_line_start(int &blanks)
{
    blanks = 0;
    for (;;) {
        int c = in_getc();
        if (c == CH_ENDEXP || c == CH_PASTE)
            continue;
        if (in_class(c) != CC_WHITE)
            return c;
        blanks++;
    }
}

static void pp_process()
{
    for (;;) {
        int blanks;
        int c = pp_line_start(blanks);
        if (c == CH_EOF)
            break;
        if (c == '\n') {
            out_owed++;
            continue;
        }
        if (c == '#') {
            in_directive = true;
            int owed = dir_handle();
            in_directive = false;
            if (owed >= 0)
                out_owed += owed;
            else
                pp_copy_tokens();
            continue;
        }
        if (!dir_active) {
            in_skip_line();
            out_owed++;
            continue;
        }
        in_ungetc(c);
        out_begin_line();
        for (int i = 0; out_in_asm && i < blanks; i++)
            out_char(' ');
        pp_copy_tokens();
    }
}

// Arguments from the command line, else from standard input or an @file.
static void pp_get_arguments(int &argc, char **&argv)
{
    if (argc == 2 && argv[1][0] == '@') {
        pp_command_name = argv[1] + 1;
        if (!freopen(argv[1] + 1, "r", stdin))
            msg_report(141, "command", argv[1] + 1);
    } else if (argc > 1) {
        return;
    }
    argv = getargs(nullptr, "wren");
    argc = getargs_count;
}

int main(int argc, char **argv)
{
    msg_set_tool_name("preprocessor");
    msg_set_formats(nullptr, nullptr, nullptr); // defaults, or the IDE's from the environment
    alert_init();                               // every report follows the input streams
    pp_get_arguments(argc, argv);
    mac_make_predefined();                      // before -D and -U act on the table
    pp_read_arguments(argc, argv);
    msg_set_error_limit((unsigned)pp_error_limit); // ours, replacing the library's 20
    out_make_included_table();                  // before the first #include
    pp_open_files();                            // input becomes the first stream
    out_marker();                               // the output starts by naming the file
    pp_process();                               // every line of the input
    out_finish();                               // the newline still owed
    dir_check_open_groups();                    // an #if left open at the end
    tool_exit(msg_exit_status() ? 1 : 0);       // writes the dependency list
}
