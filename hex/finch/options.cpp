// finch's command line: options first, each its own argument starting with
// '-', letters without regard to case (except -g); then the object file and
// the output file. Arguments come from the command line, from a command file
// named as "@file", or from standard input when there are none.
//
// Numbers: an optional "0x" prefix (hexadecimal), digits, and a suffix H
// (hexadecimal), O or Q (octal) or D (decimal, also the default). The
// checksum list of -C is read here too.
//
// "-8" alone asks for the 8086 executable form; "-8" followed by more text
// is a record length, so that form takes no address value.
//
// --max-size=<n> states the most image bytes a binary form may write; the
// bound otherwise follows the machine of the object file (output.cpp).
#include "finch.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common.h"

finch_options opt;
std::vector<checksum_entry> checksum_list;

static FILE *error_file;   // -E<file>: messages are appended here

// The executable forms named on the line, whichever came last: some of them
// exclude others (options_check_combination).
enum {
    SEEN_A = 1, SEEN_N = 2, SEEN_P = 4, SEEN_U = 8, SEEN_8 = 16, SEEN_E = 32,
};
static unsigned forms_seen;

void fatal_exit()
{
    tool_exit(1);
    exit(1);
}

[[noreturn]] static void usage()
{
    msg_report(529);
    fatal_exit();
}

static int digit_value(char c)
{
    if (isdigit((unsigned char)c))
        return c - '0';
    if (isalpha((unsigned char)c))
        return toupper((unsigned char)c) - 'A' + 10;
    return 99;
}

// A number in the option syntax at p; p moves past it and its suffix.
// False for no digit, a digit too large for the radix or a value past 32 bits.
static bool read_number(const char *&p, uint32_t *value)
{
    unsigned radix = 10;
    const char *s = p;
    bool prefixed = s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    if (prefixed) {
        s += 2;
        radix = 16;
    }
    const char *end = s;
    while (prefixed ? isxdigit((unsigned char)*end) : isalnum((unsigned char)*end))
        end++;
    const char *digits_end = end;
    if (!prefixed && end > s) {
        char suffix = (char)toupper((unsigned char)end[-1]);
        if (suffix == 'H')
            radix = 16, digits_end--;
        else if (suffix == 'O' || suffix == 'Q')
            radix = 8, digits_end--;
        else if (suffix == 'D')
            digits_end--;
    }
    if (digits_end == s)
        return false;
    uint64_t v = 0;
    for (const char *q = s; q < digits_end; q++) {
        int d = digit_value(*q);
        if (d >= (int)radix)
            return false;
        v = v * radix + (unsigned)d;
        if (v > 0xFFFFFFFFull)
            return false;
    }
    *value = (uint32_t)v;
    p = end;
    return true;
}

// -<n>[,<m>]: record length (0 means 16) and record rounding (a power of two
// up to 16).
static void option_record_length(const char *text)
{
    const char *p = text;
    uint32_t n;
    if (!read_number(p, &n) || (*p && *p != ',')) {
        msg_report(404);
        fatal_exit();
    }
    opt.record_length = n == 0 ? 16 : n;
    if (*p == ',') {
        p++;
        uint32_t m;
        if (!read_number(p, &m) || *p || m == 0 || m > 16 || (m & (m - 1))) {
            msg_report(405);
            fatal_exit();
        }
        opt.rounding = m;
    }
}

// -F[<fill>[,<end>]]
static void option_fill(const char *text)
{
    const char *p = text;
    if (*p == 0) {
        opt.fill = 0xFF;
        return;
    }
    if (!read_number(p, &opt.fill)) {
        msg_report(402);
        fatal_exit();
    }
    if (*p == ',') {
        p++;
        if (!read_number(p, &opt.fill_end)) {
            msg_report(402);
            fatal_exit();
        }
        opt.have_fill_end = true;
    }
    if (*p) {
        msg_report(402);
        fatal_exit();
    }
}

// -B[<addr>]; a long hexadecimal-looking text after -B is not this option.
static void option_binary(const char *arg)
{
    size_t len = strlen(arg);
    if (len > 6 && isxdigit((unsigned char)arg[2]) && isxdigit((unsigned char)arg[len - 1]))
        return;
    opt.format = FMT_BINARY;
    const char *p = arg + 2;
    if (*p) {
        if (!read_number(p, &opt.base) || *p) {
            msg_report(408);
            fatal_exit();
        }
        opt.have_base = true;
    }
}

static void error_file_line(const char *line)
{
    fputs(line, error_file);
}

// -E<file>: messages go to the end of that file. -E alone or with a number
// asks for the MS-DOS executable form.
static void option_error_file(const char *arg)
{
    const char *p = arg + 2;
    uint32_t v;
    if (*p == 0 || (read_number(p, &v) && *p == 0)) {
        opt.format = FMT_MSDOS;
        forms_seen |= SEEN_E;
        if (*(arg + 2)) {
            opt.address = v;
            opt.have_address = true;
        }
        return;
    }
    error_file = fopen(arg + 2, "a");
    if (!error_file) {
        msg_report(403, arg);
        fatal_exit();
    }
    setvbuf(error_file, nullptr, _IOLBF, 512);
    msg_set_output_hook(error_file_line);
}

// -N[<addr>] and -P[<addr>]: the 68000 executable forms.
static void option_m68k(const char *arg, int format)
{
    const char *p = arg + 2;
    opt.format = format;
    forms_seen |= format == FMT_M68K ? SEEN_N : SEEN_P;
    if (*p) {
        if (!read_number(p, &opt.address) || *p) {
            msg_report(409);
            fatal_exit();
        }
        opt.have_address = true;
    }
}

// -L[<name>] and -R[<name>]: relocation items, placed where the named
// symbol (default "__Lbss") points; -L makes them 32-bit.
static void option_relocation(const char *arg, bool long_items)
{
    opt.relocatable = true;
    opt.long_reloc |= long_items;
    if (arg[2])
        opt.reloc_symbol = arg + 2;
}

// -A[<addr>]: the segment image.
static void option_segments(const char *arg)
{
    const char *p = arg + 2;
    opt.format = FMT_SEGMENTS;
    opt.segments = true;
    forms_seen |= SEEN_A;
    if (*p) {
        if (!read_number(p, &opt.address) || *p) {
            msg_report(406);
            fatal_exit();
        }
        opt.have_address = true;
    }
}

// -U[T|<n>] (COFF; -UT the other machine) and -UB (UBROF).
static bool option_coff(const char *arg)
{
    const char *p = arg + 2;
    if (strcasecmp(arg, "-UB") == 0) {
        opt.format = FMT_UBROF;
        return true;
    }
    opt.format = FMT_COFF;
    opt.symbol_table = true;
    forms_seen |= SEEN_U;
    if (strcasecmp(arg, "-UT") == 0) {
        opt.coff_t = true;
    } else if (*p && (!read_number(p, &opt.address) || *p)) {
        msg_report(407);
        fatal_exit();
    }
    return true;
}

// -W<level>[!]
static void option_warning(const char *arg)
{
    const char *p = arg + 2;
    if (!isdigit((unsigned char)*p) && *p != '-') {
        msg_report(393);
        fatal_exit();
    }
    int level = (int)strtol(p, nullptr, 10);
    if (level < -9)
        msg_report(523, level);
    else
        msg_set_warning_level(level);
    if (strchr(p, '!'))
        msg_set_warnings_fail(1);
}

static bool is_record_length(const char *arg)
{
    char c = arg[1];
    return (isdigit((unsigned char)c) && c != '8') || (c == '8' && arg[2] != 0);
}

// One option; false when it is not one finch knows.
static bool option_one(const char *arg)
{
    if (msg_std_option(arg))
        return true;
    if (is_record_length(arg)) {
        option_record_length(arg + 1);
        return true;
    }
    if (strcmp(arg, "-8") == 0) {
        opt.format = FMT_DOS8;
        forms_seen |= SEEN_8;
        return true;
    }
    if (strncasecmp(arg, "--max-size=", 11) == 0) {
        const char *p = arg + 11;
        if (!read_number(p, &opt.max_image) || *p || opt.max_image == 0) {
            msg_report(1502, arg + 11);
            fatal_exit();
        }
        return true;
    }
    if (strcmp(arg, "-g") == 0) {
        opt.segments = true;
        return true;
    }
    if (strncmp(arg, "-x", 2) == 0) {
        opt.format = FMT_XCOFF;
        opt.segments = true;
        opt.target = arg + 2;
        return true;
    }
    std::string upper = arg;
    os_str_upper(upper.data());
    const char *u = upper.c_str();
    switch (u[1]) {
    case 'B': option_binary(arg); return true;
    case 'C':
        opt.checksum_wanted = true;
        opt.checksum_file = arg + 2;
        return true;
    case 'E': option_error_file(arg); return true;
    case 'F': option_fill(arg + 2); return true;
    case 'S':
        // After -P, -S asks for the symbol table inside the output.
        if (opt.format == FMT_CPM68K) {
            opt.symbol_table = true;
            return true;
        }
        if (arg[2] == 0) {
            msg_report(673, "-S");
            return true;
        }
        opt.symbol_file = arg + 2;
        return true;
    case 'W': option_warning(arg); return true;
    case 'N': option_m68k(arg, FMT_M68K); return true;
    case 'P': option_m68k(arg, FMT_CPM68K); return true;
    case 'L': option_relocation(arg, true); return true;
    case 'R': option_relocation(arg, false); return true;
    case 'U': return option_coff(arg);
    case 'A': option_segments(arg); return true;
    case 'D':
        if (arg[2])
            return false;
        opt.format = FMT_BLOCKS;
        return true;
    }
    // Options that are the letter alone.
    static const struct {
        const char *name;
        int format;   // -1: no format change
    } plain[] = {
        {"-H", FMT_HL_HEADER}, {"-I", -1}, {"-J", -1}, {"-M", FMT_MOTOROLA}, {"-MA", FMT_MOTOROLA},
        {"-T", FMT_TEKTRONIX}, {"-TE", FMT_EXT_TEKTRONIX}, {"-V", -1},
    };
    for (const auto &o : plain)
        if (strcmp(u, o.name) == 0) {
            if (o.format >= 0)
                opt.format = o.format;
            opt.linear |= strcmp(u, "-I") == 0;
            opt.motorola_symbols |= strcmp(u, "-MA") == 0;
            opt.big_endian_header |= strcmp(u, "-V") == 0;
            if (strcmp(u, "-J") == 0)
                msg_set_format_mode(1);
            return true;
        }
    return false;
}

// 1. A symbol file goes neither with the symbol lines of -MA nor with -P,
//    -U or -A.
// 2. The executable forms have no extended address records, and -A, -N, -P
//    and -U exclude the MS-DOS forms (-8, -E) and each other where their
//    layouts differ (-A with -N or -P).
// 3. The 68000 forms' relocation items are always 32-bit.
static void options_check_combination()
{
    bool m68k = opt.format == FMT_M68K || opt.format == FMT_CPM68K;
    bool symbol_file = !opt.symbol_file.empty();
    bool inside = opt.format == FMT_CPM68K || opt.format == FMT_COFF || opt.format == FMT_SEGMENTS;
    bool executable = m68k || opt.format == FMT_COFF || opt.format == FMT_MSDOS || opt.format == FMT_SEGMENTS ||
                      opt.format == FMT_DOS8;
    bool other_target = forms_seen & (SEEN_A | SEEN_N | SEEN_P | SEEN_U);
    bool mixed = other_target && ((forms_seen & (SEEN_8 | SEEN_E)) || opt.linear ||
                                  ((forms_seen & SEEN_A) && (forms_seen & (SEEN_N | SEEN_P))));
    if ((symbol_file && (opt.motorola_symbols || inside)) || (executable && opt.linear) || mixed) {
        msg_report(410);
        fatal_exit();
    }
    if (m68k && opt.relocatable)
        opt.long_reloc = true;
}

void options_parse(int argc, char **argv)
{
    if (argc == 2 && argv[1][0] == '@') {
        if (!freopen(argv[1] + 1, "r", stdin))
            msg_report(141, "command", argv[1] + 1);
        argv = getargs(nullptr, "finch");
        argc = getargs_count;
    } else if (argc <= 1) {
        argv = getargs(nullptr, "finch");
        argc = getargs_count;
    }
    opt.rounding = 1;
    opt.address = 0x10000;
    opt.reloc_symbol = "__Lbss";
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++)
        if (!option_one(argv[i])) {
            msg_report(168, argv[i]);
            usage();
        }
    if (argc - i > 2)
        usage();
    opt.input = i < argc ? argv[i++] : "l.obj";
    opt.output = i < argc ? argv[i] : opt.format == FMT_BINARY ? "l.com" : "l.hex";
    options_check_combination();
}

// ---------------------------------------------------------------------------
// Checksum list: entries "start-end dest[-destend][+initial]", hexadecimal,
// with white space and /* comments */ between entries.
// ---------------------------------------------------------------------------

static void skip_blanks(const std::string &t, size_t &i)
{
    while (i < t.size() && isspace((unsigned char)t[i]))
        i++;
}

// A hexadecimal field after optional blanks.
static bool list_hex(const std::string &t, size_t &i, uint32_t *v)
{
    skip_blanks(t, i);
    size_t start = i;
    uint64_t x = 0;
    while (i < t.size() && isxdigit((unsigned char)t[i]) && x <= 0xFFFFFFFFull)
        x = x * 16 + (unsigned)digit_value(t[i++]);
    *v = (uint32_t)x;
    return i > start && x <= 0xFFFFFFFFull;
}

// A separator character after optional blanks.
static bool list_char(const std::string &t, size_t &i, char c)
{
    size_t j = i;
    skip_blanks(t, j);
    if (j < t.size() && t[j] == c) {
        i = j + 1;
        return true;
    }
    return false;
}

bool checksum_list_parse(const std::string &t, std::vector<checksum_entry> *out)
{
    size_t i = 0;
    for (;;) {
        skip_blanks(t, i);
        if (i >= t.size())
            return true;
        if (t.compare(i, 2, "/*") == 0) {
            size_t close = t.find("*/", i + 2);
            if (close == std::string::npos)
                return true;
            i = close + 2;
            continue;
        }
        checksum_entry e = {};
        if (!list_hex(t, i, &e.start) || !list_char(t, i, '-') || !list_hex(t, i, &e.end) ||
            !list_hex(t, i, &e.dest_start))
            return false;
        e.dest_end = e.dest_start;
        if (list_char(t, i, '-') && !list_hex(t, i, &e.dest_end))
            return false;
        if (list_char(t, i, '+') && !list_hex(t, i, &e.initial))
            return false;
        out->push_back(e);
    }
}

void checksum_list_read()
{
    if (!opt.checksum_wanted)
        return;
    FILE *f = stdin;
    if (!opt.checksum_file.empty() && !(f = fopen(opt.checksum_file.c_str(), "r"))) {
        msg_report(141, "checksum", opt.checksum_file.c_str());
        fatal_exit();
    }
    std::string text, line;
    while (os_read_line(f, line))
        text += line + "\n";
    if (f != stdin)
        fclose(f);
    if (!checksum_list_parse(text, &checksum_list)) {
        msg_report(427);
        fatal_exit();
    }
}
