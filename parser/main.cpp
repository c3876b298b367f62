// plover main: options, files and the order of the run.
//
// The front part is the output file itself (version line, then records of
// file-scope things written at once); the body goes to a temporary file
// that is copied behind the front part at the end, followed by the string
// records read back from the string store. Every write is checked at the
// close of its file: a failed write is an error and the run fails.
#include "plover.h"

#include <cerrno>
#include <csignal>
#include <cstring>

options_t opt;                      // the command-line options
FILE *out_front;                    // the output file (front part)
FILE *out_body;                     // the body file
const char *input_name = "(stdin)"; // the input name for messages and markers

static char *body_name;             // the body file's name
static char *store_name;            // the string store's name
static bool store_named;            // the string store was named on the command line
static bool fp_flag;                // -fp: printf feature records at the end
static std::string xref_given;      // the name given to -C (empty: from the input)
static std::vector<std::string> pending_pragmas; // -G texts, run once the files are open
static const char *input_path;      // the input file named, null for standard input

void tool_exit(int)
{
    if (out_body) {
        fclose(out_body);
        out_body = nullptr;
        os_remove_file(body_name);
    }
    if (ic_strings) {
        fclose(ic_strings);
        ic_strings = nullptr;
        os_remove_file(store_name);
    }
    if (xref_file) {
        fclose(xref_file);
        xref_file = nullptr;
    }
    if (proto_file) {
        fclose(proto_file);
        proto_file = nullptr;
    }
}

static void main_signal(int)
{
    tool_exit(4);
    _exit(4);
}

// ---------------------------------------------------------------------------
// options
// ---------------------------------------------------------------------------
// No file the run writes may be its input, whatever the spelling of the
// names or the links between them: each is checked before it is opened.
static void main_output_check(const char *name)
{
    if (input_path && os_same_file(input_path, name))
        msg_report(176, name);
}

static void main_unknown(const char *arg)
{
    msg_report(168, arg);
    tool_exit(-1);
    exit(-1);
}

static void main_words(const char *list, uint32_t *set, unsigned unknown, unsigned missing)
{
    if (!*list) {
        if (missing == 230)
            msg_report(230);
        else
            msg_report(232);
        return;
    }
    std::string w;
    for (const char *p = list;; p++) {
        if (*p == ',' || *p == 0) {
            uint32_t b = qual_lookup(w);
            if (!b) {
                if (unknown == 229)
                    msg_report(229, w.c_str());
                else
                    msg_report(231, w.c_str());
            }
            *set |= b;
            w.clear();
            if (!*p)
                return;
        } else {
            w += *p;
        }
    }
}

static void main_option(const char *arg)
{
    const char *a = arg + 1;
    if (arg[1] == '-') {
        if (!strcmp(arg, "--shroud"))
            opt.shroud = true;
        else if (!strncmp(arg, "--fipath=", 9))
            opt.fipath = arg + 9;
        else if (!msg_std_option(arg))
            main_unknown(arg);
        return;
    }
    if (!strcasecmp(a, "fp")) {
        fp_flag = true;
        return;
    }
    if (!strcmp(a, "strict")) {
        opt.strict = true;
        opt.bit_type = false;
        return;
    }
    char c = a[0];
    if (c != 'P' && c != 'p' && c != 'S' && c != 's')
        c = (char)toupper((unsigned char)c);
    const char *v = a + 1;
    switch (c) {
    case 'A': main_words(v, &opt.a_set, 229, 230); break;
    case 'B': opt.bit_type = !opt.strict; break;
    case 'C': opt.cross_ref = true; xref_given = v; break;
    case 'D': break;
    case 'E':
        if (!*v) {
            msg_set_format_mode(1);
            opt.format = 1;
        } else if (isdigit((unsigned char)*v) && !v[1]) {
            msg_set_format_mode(*v - '0');
            opt.format = *v - '0';
        } else {
            main_output_check(v);
            if (freopen(v, "a", stderr))
                setvbuf(stderr, nullptr, _IOLBF, 512);
        }
        break;
    case 'F': opt.ff = true; break;
    case 'G': pending_pragmas.push_back(v); break;
    case 'I':
        if (*v == '=') {
            opt.init_copy_assign = true;
            v++;
        }
        main_words(v, &opt.i_set, 231, 232);
        break;
    case 'J': opt.short_long = true; break;
    case 'L': opt.echo_lines = true; break;
    case 'M': opt.main_exit = true; break;
    case 'N': {
        int n = atoi(v);
        opt.ident_len = n < 31 ? 31 : n > 255 ? 255 : n;
        break;
    }
    case 'O': opt.long_long = true; break;
    case 'P':
    case 'p':
        opt.proto_plain = c == 'P';
        main_output_check(v);
        proto_file = fopen(v, "w");
        if (!proto_file)
            msg_report(141, "prototype", v);
        break;
    case 'Q':
        if (!qual_define(v))
            msg_report(233, arg);
        break;
    case 'R':
        if (toupper((unsigned char)v[0]) == 'I' && !v[1])
            opt.builtins = true;
        else
            opt.const_static = true;
        break;
    case 'S':
    case 's': opt.source_comments = true; break;
    case 'T': attr_define(v); break;
    case 'U': opt.unsigned_char = true; break;
    case 'V': opt.no_tail_share = true; break;
    case 'W': {
        opt.warning_level = atoi(v);
        msg_set_warning_level(opt.warning_level);
        if (strchr(v, '!'))
            msg_set_warnings_fail(1);
        break;
    }
    case 'Y': opt.bitfield_count++; break;
    case 'Z':
        if (!type_set_sizes(v))
            msg_report(210);
        break;
    default: main_unknown(arg);
    }
}

// ---------------------------------------------------------------------------
// files
// ---------------------------------------------------------------------------
static FILE *main_open(const char *name, const char *mode, const char *what)
{
    FILE *f = fopen(name, mode);
    if (!f)
        msg_report(141, what, name);
    return f;
}

// The cross-reference file: -C<name>, or the input name with ".crf".
static void main_open_xref()
{
    std::string name = xref_given;
    if (name.empty()) {
        name = input_name;
        size_t dot = name.find_last_of('.');
        name = dot == std::string::npos ? name + ".crf" : name.substr(0, dot) + ".crf";
    }
    main_output_check(name.c_str());
    xref_file = fopen(name.c_str(), "a");
    if (!xref_file) {
        msg_report(338, "xref", name.c_str());
        return;
    }
    fprintf(xref_file, "~%s\n", input_name);
}

static void main_close_checked(FILE *&f)
{
    if (!f)
        return;
    bool bad = ferror(f) != 0;
    if (fclose(f) != 0)
        bad = true;
    f = nullptr;
    if (bad)
        msg_report(234);
}

// ---------------------------------------------------------------------------
// string records
// ---------------------------------------------------------------------------
struct string_entry_t {
    int number;
    uint32_t qual;
    std::string bytes;
};

static uint32_t main_get32(FILE *f, bool *ok)
{
    uint8_t b[4];
    if (fread(b, 1, 4, f) != 4) {
        *ok = false;
        return 0;
    }
    return b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24;
}

static std::vector<string_entry_t> main_read_store()
{
    std::vector<string_entry_t> all;
    FILE *f = fopen(store_name, "rb");
    if (!f)
        msg_report(302, store_name);
    for (int i = 0; i < ic_string_count; i++) {
        bool ok = true;
        string_entry_t e;
        e.number = (int)main_get32(f, &ok);
        uint32_t len = main_get32(f, &ok);
        e.qual = main_get32(f, &ok);
        if (!ok)
            msg_report(301);
        e.bytes.resize(len);
        if (fread(&e.bytes[0], 1, len, f) != len)
            msg_report(301);
        all.push_back(e);
    }
    fclose(f);
    return all;
}

// Larger qualifier bits first, then bytes compared from the end as signed
// bytes, larger first; a string before its own tails.
static int main_string_order(const void *pa, const void *pb)
{
    const string_entry_t &a = **(const string_entry_t *const *)pa;
    const string_entry_t &b = **(const string_entry_t *const *)pb;
    if (a.qual != b.qual)
        return a.qual > b.qual ? -1 : 1;
    size_t i = a.bytes.size(), j = b.bytes.size();
    while (i && j) {
        signed char x = (signed char)a.bytes[--i], y = (signed char)b.bytes[--j];
        if (x != y)
            return x > y ? -1 : 1;
    }
    return a.bytes.size() > b.bytes.size() ? -1 : a.bytes.size() < b.bytes.size() ? 1 : 0;
}

static void main_write_string(const string_entry_t &e)
{
    fprintf(out_front, "[a %d%s", e.number, ic_qual_letters(e.qual).c_str());
    for (char b : e.bytes)
        fprintf(out_front, " %u", (unsigned)(uint8_t)b);
    fputs(" ]\n", out_front);
}

static void main_write_strings()
{
    std::vector<string_entry_t> all = main_read_store();
    if (all.size() == 1) {
        main_write_string(all[0]);
        fputs("\n", out_front);
        return;
    }
    std::vector<string_entry_t *> kept;
    for (auto &e : all)
        if (ic_string_used(e.number))
            kept.push_back(&e);
    if (!kept.empty())
        os_qsort(kept.data(), kept.size(), sizeof kept[0], main_string_order);
    // Each string is written whole: the code generator's reader merges
    // strings that are tails of others, across all modules at once.
    for (string_entry_t *e : kept)
        main_write_string(*e);
}

static bool main_any_string_used()
{
    for (int i = 1; i <= ic_string_count; i++)
        if (ic_string_used(i))
            return true;
    return false;
}

// ---------------------------------------------------------------------------
// the run
// ---------------------------------------------------------------------------
static void main_copy_body()
{
    main_close_checked(out_body);
    out_body = fopen(body_name, "rb");
    if (!out_body)
        msg_report(302, body_name);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, out_body)) > 0)
        fwrite(buf, 1, n, out_front);
    fclose(out_body);
    out_body = nullptr;
    os_remove_file(body_name);
}

// "[p f _name mask ]" for every function whose calls used printf features.
static void main_write_printf_records()
{
    for (sym_t *s : expr_printf_users)
        if (s->printf_mask)
            fprintf(out_front, "[p f _%s %lu ]\n", s->name.c_str(), (unsigned long)s->printf_mask);
}

int main(int argc, char **argv)
{
    msg_set_tool_name("parser");
    alert_init();
    msg_set_formats("%f: %l: (%n) %s (error)", "%f: %l: (%n) %s (warning)", "%f: %l: %s");
    char **args = argv;
    int count = argc;
    if (argc == 1 || (argc == 2 && argv[1][0] == '@')) {
        // arguments from an option file named with '@', else standard input
        if (argc == 2 && !freopen(argv[1] + 1, "r", stdin))
            msg_report(141, "command", argv[1] + 1);
        args = getargs(nullptr, "plover");
        count = getargs_count;
    }
    // The input is known before the options, which open some outputs.
    int i = 1;
    while (i < count && args[i] && args[i][0] == '-')
        i++;
    if (i < count)
        input_path = args[i];
    for (int k = 1; k < i; k++) {
        if (!args[k][1])
            main_unknown(args[k]);
        main_option(args[k]);
    }
    int operands = count - i;
    const char *in = operands >= 1 ? args[i] : nullptr;
    const char *out = operands >= 2 ? args[i + 1] : nullptr;
    if (operands == 3) {
        store_name = xstrdup(args[i + 2]);
        store_named = true;
    }
    FILE *input = stdin;
    if (in) {
        input_name = in;
        // Neither the output nor a named string store may be the input:
        // both are truncated when opened, before the input is read.
        if (out)
            main_output_check(out);
        if (store_named)
            main_output_check(store_name);
        input = nullptr;
        if (!os_is_directory(in))
            input = fopen(in, "r");
        else
            errno = EISDIR;
        if (!input)
            msg_report(141, "input", in);
    }
    out_front = stdout;
    if (out) {
        out_front = fopen(out, "w");
        if (!out_front)
            msg_report(141, "output", out);
    }
    if (opt.cross_ref)
        main_open_xref();
    if (signal(SIGINT, SIG_IGN) != SIG_IGN)
        signal(SIGINT, main_signal);
    if (signal(SIGTERM, SIG_IGN) != SIG_IGN)
        signal(SIGTERM, main_signal);
    if (!store_name)
        store_name = os_temp_name();
    body_name = os_temp_name();
    ic_strings = main_open(store_name, "w+b", "temporary");
    out_body = main_open(body_name, "wb", "temporary");
    lex_init(input);
    ic_version();
    for (const std::string &p : pending_pragmas)
        lex_pragma(p.c_str());
    // Everything the unit declares and defines is written here.
    decl_unit();
    if (fp_flag)
        main_write_printf_records();
    sym_check_file_scope();
    main_copy_body();
    main_close_checked(ic_strings);
    if (ic_string_count && main_any_string_used())
        main_write_strings();
    if (!store_named)
        os_remove_file(store_name);
    if (out_front == stdout) {
        if (fflush(stdout) != 0 || ferror(stdout))
            msg_report(234);
    } else {
        main_close_checked(out_front);
    }
    main_close_checked(proto_file);
    main_close_checked(xref_file);
    if (input != stdin)
        fclose(input);
    tool_exit(0);
    return msg_exit_status();
}
