// The command line of kestrel: options, the input and output files, and the
// reset of every unit's program-wide state.
//
// Options are read from the first argument while an argument begins with
// "-"; the first other argument ends them. The files are opened after the
// options, when every input is known, so that no output replaces an input.
#include "kestrel.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/stat.h>

run_settings run;

const char *const mode_names[MODE_BIT_COUNT] = {
    "GLOBOPT", "AUTOSTATIC", "IEEE_DBL", "IEEE_FLT", "FORCEBANK", "PIC12",
    "PIC14",   "PIC17",      "PICMIDHI", "PICLOMID", "PIC42A",
};

void regs_reset();
void records_reset();
void decl_reset();
void ptrsets_reset();
void expr_reset();
void match_reset();
void expand_reset();
void rewrite_reader_reset();
void optim_reset();

void kestrel_reset()
{
    if (run.sdb)
        fclose(run.sdb);
    run = run_settings{};
    run.const_format = "0%lXh";
    run.tracking_limit = -1;
    run.ext_refs = hash_new(128, hash_str_hash, hash_str_compare);
    run.ext_funcs = hash_new(128, hash_str_hash, hash_str_compare);
    run.ext_calls = hash_new(128, hash_str_hash, hash_str_compare);
    run.chipinfo = os_getenv("CHIPINFO");
    codegen_warnings = false;
    reader_reset();
    expr_reset();
    records_reset();
    decl_reset();
    ptrsets_reset();
    regs_reset();
    sdb_reset();
    asm_names_reset();
    match_reset();
    expand_reset();
    rewrite_reader_reset();
    optim_reset();
    place_reset();
    indirect_reset();
    psects_reset();
    sym_init();
    target_init();
}

// Splits "a:b:c" into its pieces.
static std::string piece(const char *text, int n)
{
    std::string s = text;
    size_t at = 0;
    for (int i = 0; i < n; i++) {
        at = s.find(':', at);
        if (at == std::string::npos)
            return "";
        at++;
    }
    size_t end = s.find(':', at);
    return s.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

static void option_b(const char *text)
{
    ext_ref *e = (ext_ref *)xmalloc(sizeof(ext_ref));
    e->name = xstrdup(piece(text, 0).c_str());
    std::string count = piece(text, 1);
    e->count = count.empty() ? 1 : (unsigned)atoi(count.c_str());
    if (!e->count)
        e->count = 1;
    if (!hash_lookup(run.ext_refs, e->name))
        hash_insert(run.ext_refs, e->name, e);
    lib_want(e->name);
}

static void option_n(const char *text)
{
    ext_func *e = (ext_func *)xmalloc(sizeof(ext_func));
    e->name = xstrdup(piece(text, 0).c_str());
    e->first = atol(piece(text, 1).c_str());
    e->second = atol(piece(text, 2).c_str());
    if (!hash_lookup(run.ext_funcs, e->name))
        hash_insert(run.ext_funcs, e->name, e);
    lib_want(e->name);
}

static void option_q(const char *text)
{
    ext_call *e = (ext_call *)xmalloc(sizeof(ext_call));
    e->caller = xstrdup(piece(text, 0).c_str());
    std::string callee = piece(text, 1);
    e->callee = callee.empty() ? nullptr : xstrdup(callee.c_str());
    // keyed by the pair: a caller may call several functions
    std::string key = piece(text, 0) + ":" + callee;
    if (!hash_insert(run.ext_calls, xstrdup(key.c_str()), e)) {
        free(e->caller);
        free(e->callee);
        free(e);
        return;
    }
    lib_want(e->caller);
    if (e->callee)
        lib_want(e->callee);
}

static void option_m(const char *text)
{
    char *end;
    long n = strtol(text, &end, 10);
    if (*text && !*end && n >= 0 && n < MODE_BIT_COUNT) {
        run.mode_word |= 1u << n;
        return;
    }
    std::string upper = text;
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    for (int b = 0; b < MODE_BIT_COUNT; b++)
        if (upper == mode_names[b]) {
            run.mode_word |= 1u << b;
            return;
        }
    msg_report(716, text);
}

// -O/-Z letters, each with an optional number (decimal or 0x hexadecimal).
static void option_o(const char *p)
{
    while (*p) {
        char letter = *p++;
        long n = 0;
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
            n = strtol(p + 2, (char **)&p, 16);
        else if (isdigit((unsigned char)*p))
            n = strtol(p, (char **)&p, 10);
        n = (int8_t)(n & 0xFF);
        switch (letter) {
        case 'a': run.mode_word |= MODE_AUTOSTATIC; break;
        case 'g': case 'u': run.mode_word |= MODE_GLOBOPT; break;
        case 'v': if (n) run.tracking_limit = (int)n; break;
        case 'k': case 'l': break;
        default: msg_report(747, letter); break;
        }
    }
}

// The file named by -E for the messages; opened with the other files, once
// the inputs are known, so that messages are never appended to an input.
static const char *error_file;

static void option_e(const char *text)
{
    if (!*text)
        run.format_mode = 1;
    else if (isdigit((unsigned char)text[0]) && !text[1])
        run.format_mode = text[0] - '0';
    else
        error_file = text;
    msg_set_format_mode(run.format_mode);
}

// The SDB file named by -D; created once the inputs are known.
static const char *sdb_name;

static void option_d(const char *text)
{
    run.debug_lines = true;
    if (*text && !run.printf_pass)
        sdb_name = text;
}

static void option_w(const char *text)
{
    run.warning_level = atoi(text);
    msg_set_warning_level(run.warning_level);
    if (strchr(text, '!'))
        msg_set_warnings_fail(1);
}

// Handles one option; may consume the next argument (-A <file>).
static void option_one(int argc, char **argv, int *i, const char **output)
{
    const char *arg = argv[*i];
    const char *v = arg + 2;
    if (arg[1] == '-') {
        if (!msg_std_option(arg))
            msg_report(717, '-');
        return;
    }
    switch (arg[1]) {
    case 'A': case 'a':
        run.many_inputs = true;
        if (*v)
            *output = v;
        else if (*i + 1 < argc && argv[*i + 1][0] != '-')
            *output = argv[++*i];
        return;
    case 'B': case 'b': option_b(v); return;
    case 'C': case 'c': run.chipinfo = v; return;
    case 'D': option_d(v); return;
    case 'E': case 'e': option_e(v); return;
    case 'F': case 'f': run.printf_pass = true; return;
    case 'M': option_m(v); return;
    case 'N': option_n(v); return;
    case 'O': case 'Z': option_o(v); return;
    case 'P': case 'p': parse_processor_record(v); return;
    case 'Q': option_q(v); return;
    case 'R': if (!strcmp(v, "D")) run.const_format = "%ld"; return;
    case 'S': run.trace_comments = true; return;
    case 'U': return;
    case 'W': case 'w': option_w(v); return;
    default: msg_report(717, arg[1]); return;
    }
}

// The output named by -A; opened once the inputs are known.
static const char *output_name;

int options_parse(int argc, char **argv)
{
    int i = 1;
    output_name = nullptr;
    sdb_name = nullptr;
    error_file = nullptr;
    for (; i < argc && argv[i][0] == '-'; i++)
        option_one(argc, argv, &i, &output_name);
    if (run.printf_pass)
        run.trace_comments = false;
    return i;
}

// True when writing the file would destroy intermediate code: a name with
// the extension of an intermediate-code file or library, or an existing
// file that starts with the version line. Without -A a user who names two
// inputs would otherwise lose the second one to the assembly.
static bool holds_intermediate_code(const char *name)
{
    size_t n = strlen(name);
    if ((n >= 7 && !strcasecmp(name + n - 7, ".plover")) || (n >= 4 && !strcasecmp(name + n - 4, ".lpp")))
        return true;
    if (os_is_directory(name))
        return false;
    FILE *f = fopen(name, "rb");
    if (!f)
        return false;
    char head[8];
    bool version = fread(head, 1, sizeof head, f) == sizeof head && !memcmp(head, "Version ", 8);
    fclose(f);
    return version;
}

// Regular files only: a device such as /dev/null may take several outputs.
static bool same_regular_file(const char *name, FILE *f)
{
    struct stat a, b;
    return stat(name, &a) == 0 && S_ISREG(a.st_mode) && fstat(fileno(f), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

static bool names_an_input(const char *name, int argc, char **argv, int first)
{
    for (int i = first; i < argc; i++)
        if (!strcmp(name, argv[i]) || os_same_file(name, argv[i]))
            return true;
    return false;
}

// Standard error is reopened (appending) only on a file that opens, and
// that is neither an input nor the output: a failed reopen would close it
// and lose every message.
static void open_error_file(int argc, char **argv, int first)
{
    FILE *f = nullptr;
    if (names_an_input(error_file, argc, argv, first) ||
        (output_name && (!strcmp(error_file, output_name) || os_same_file(error_file, output_name))) ||
        !(f = fopen(error_file, "a"))) {
        msg_report(461, "error", error_file);
        return;
    }
    fclose(f);
    if (freopen(error_file, "a", stderr))
        setvbuf(stderr, nullptr, _IOLBF, 512);
}

// Reopens standard output; an output that would replace an input (or the
// file the messages go to) is refused before anything is written.
static void open_output(const char *name, bool refused)
{
    if (refused || same_regular_file(name, stderr) || !freopen(name, "w", stdout))
        cg_fatal(378, "output", name);
}

// The SDB file is created last, so that it can be told apart from the
// output (one file written as both would hold neither) and from an input
// read through standard input.
static void open_sdb(int argc, char **argv, int first)
{
    if (names_an_input(sdb_name, argc, argv, first) || same_regular_file(sdb_name, stdout) ||
        same_regular_file(sdb_name, stderr) ||
        (!run.many_inputs && same_regular_file(sdb_name, stdin)) || !(run.sdb = fopen(sdb_name, "w")))
        msg_report(461, "symbol (SDB)", sdb_name);
}

// With -A every remaining argument is an input and the output is the file
// after -A; without it the first remaining argument is the input and the
// second the output.
void open_files(int argc, char **argv, int first)
{
    if (error_file)
        open_error_file(argc, argv, first);
    if (run.many_inputs) {
        if (output_name)
            open_output(output_name, names_an_input(output_name, argc, argv, first));
    } else {
        if (first < argc && !freopen(argv[first], "r", stdin))
            cg_fatal(141, "input", argv[first]);
        if (first + 1 < argc) {
            const char *out = argv[first + 1];
            open_output(out, !strcmp(out, argv[first]) || os_same_file(out, argv[first]) ||
                                 holds_intermediate_code(out));
        }
    }
    if (sdb_name)
        open_sdb(argc, argv, first);
}
