// The linker's command line: option letters, the map heading that repeats it.
//
// Arguments that start with "-" are options up to the first one that does
// not. One argument may hold several letters ("-FIK"); a letter that takes a
// value takes the rest of the argument. Letters are accepted in either case.
// Each letter has a handler that gets the text after the letter and returns
// where the letters go on (the end of the argument once a value is taken).
#include "heron.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

static int last_threshold;   // last -W warning threshold given

static const char *text_end(const char *rest) { return rest + strlen(rest); }

static const char *opt_flag(bool &flag, const char *rest)
{
    flag = true;
    return rest;
}

static const char *opt_8(const char *rest) { return opt_flag(opt.wide_map, rest); }
static const char *opt_F(const char *rest) { return opt_flag(opt.symbols_only, rest); }
static const char *opt_I(const char *rest) { return opt_flag(opt.undefined_warn, rest); }
static const char *opt_K(const char *rest) { return opt_flag(opt.no_callgraph, rest); }
static const char *opt_R(const char *rest) { return opt_flag(opt.relocatable, rest); }
static const char *opt_X(const char *rest) { return opt_flag(opt.no_locals_X, rest); }
static const char *opt_Z(const char *rest) { return opt_flag(opt.drop_trivial, rest); }

static const char *opt_A(const char *rest)
{
    option_A(rest);
    return text_end(rest);
}

static const char *opt_B(const char *rest) { return text_end(rest); }

// -Cn, -Cc, -Cf, -Cs: call-graph listing; -C<psect>=<class>; -C<address>.
static const char *opt_C(const char *rest)
{
    static const char modes[] = "nfcs";   // listing modes 1, 2, 3, 0
    static const int mode_of[] = {1, 2, 3, 0};
    const char *m = rest[0] && !rest[1] ? strchr(modes, tolower((unsigned char)rest[0])) : nullptr;
    if (m) {
        opt.callgraph_mode = mode_of[m - modes];
    } else if (strchr(rest, '=')) {
        option_C(rest);
    } else {
        const char *p = rest;
        if (parse_number(&p, &opt.binary_base) != 0 || *p)
            msg_report(168, rest - 1);
        opt.binary = true;
    }
    return text_end(rest);
}

// One symbol-file name: a second different one is an error.
static void opt_sym_name(const char *name)
{
    if (!*name)
        return;
    if (!opt.sym_name.empty() && opt.sym_name != name)
        msg_report(394);
    opt.sym_name = name;
}

// -Debug; -D<class>=<delta>; -D[<file>]: the short symbol file.
static const char *opt_D(const char *rest)
{
    if (strcasecmp(rest, "ebug") == 0)
        opt.debug++;
    else if (strchr(rest, '='))
        option_D(rest);
    else {
        opt.sym_short = true;
        opt_sym_name(rest);
    }
    return text_end(rest);
}

static const char *opt_E(const char *rest)
{
    if (!rest[0])
        msg_set_format_mode(1);
    else if (isdigit((unsigned char)rest[0]) && !rest[1])
        msg_set_format_mode(rest[0] - '0');
    else {
        // Opened once the inputs are known, so that it is never one of them.
        opt.error_file = rest;
        msg_set_format_mode(1);
    }
    return text_end(rest);
}

static const char *opt_G(const char *rest)
{
    if (!rest[0] || opt.selector_given)
        msg_report(387);
    opt.selector_given = true;
    opt.selector_expr = rest;
    return text_end(rest);
}

static const char *opt_H(const char *rest)
{
    opt.sym_full = true;
    if (rest[0] == '+') {
        opt.sym_classes = true;
        rest++;
    }
    opt_sym_name(rest);
    return text_end(rest);
}

static const char *opt_J(const char *rest)
{
    if (!isdigit((unsigned char)rest[0]))
        msg_report(395);
    msg_set_error_limit((unsigned)strtoul(rest, nullptr, 10));
    return text_end(rest);
}

static const char *opt_L(const char *rest)
{
    if (toupper((unsigned char)rest[0]) == 'M')
        return opt_flag(opt.keep_reloc_high, rest + 1);
    return opt_flag(opt.keep_reloc, rest);
}

static const char *opt_M(const char *rest)
{
    if (opt.map && rest[0] && !opt.map_name.empty())
        msg_report(388);
    opt.map = true;
    if (rest[0])
        opt.map_name = rest;
    return text_end(rest);
}

static const char *opt_N(const char *rest)
{
    char c = (char)tolower((unsigned char)rest[0]);
    opt.map_sort = c == 's' ? 2 : c == 'c' ? 3 : 1;
    return c == 's' || c == 'c' ? rest + 1 : rest;
}

static const char *opt_O(const char *rest)
{
    if (!rest[0] || opt.output_given)
        msg_report(389);
    opt.output_given = true;
    opt.output_name = rest;
    return text_end(rest);
}

static const char *opt_P(const char *rest)
{
    if (!rest[0])
        msg_report(390);
    opt.p_texts.push_back(rest);
    return text_end(rest);
}

static const char *opt_Q(const char *rest)
{
    if (!rest[0])
        msg_report(391);
    opt.machine_name = rest;
    return text_end(rest);
}

// -S alone: no local symbols; -S<class>=<limits>: class limits.
static const char *opt_S(const char *rest)
{
    if (rest[0]) {
        option_S(rest);
        return text_end(rest);
    }
    return opt_flag(opt.no_locals_S, rest);
}

static const char *opt_U(const char *rest)
{
    if (!rest[0])
        msg_report(392);
    options_add_undefined(rest);
    return text_end(rest);
}

// -VER=<name>#<edition>#<version>: words of the map heading; -V<file>: the
// address-map file.
static const char *opt_V(const char *rest)
{
    if (strncasecmp(rest, "ER=", 3) != 0) {
        opt.avmap_name = rest;
        return text_end(rest);
    }
    std::string words = rest + 3;
    size_t first = words.find('#');
    if (first == std::string::npos)
        return text_end(rest);
    size_t second = words.find('#', first + 1);
    opt.ver_name = words.substr(0, first);
    if (second == std::string::npos) {
        opt.ver_version = words.substr(first + 1);
    } else {
        opt.ver_edition = words.substr(first + 1, second - first - 1);
        opt.ver_version = words.substr(second + 1);
    }
    return text_end(rest);
}

// Widest map line: the symbol table heading is centred with blanks, so an
// absurd width would fill the disk with them.
const long MAX_MAP_WIDTH = 4096;

static const char *opt_W(const char *rest)
{
    if (!isdigit((unsigned char)rest[0]) && rest[0] != '-')
        msg_report(393);
    if (strchr(rest, '!'))
        msg_set_warnings_fail(1);
    long n = strtol(rest, nullptr, 10);
    if (n > MAX_MAP_WIDTH) {
        msg_report(523, (int)std::min(n, (long)INT_MAX));   // not a width any map could be read at
    } else if (n >= 10) {
        opt.map_width = (unsigned)n;
        msg_set_warning_level(last_threshold);
    } else if (n >= -9) {
        last_threshold = (int)n;
        msg_set_warning_level(last_threshold);
    } else {
        msg_report(523, (int)n);
    }
    return text_end(rest);
}

typedef const char *(*letter_fn)(const char *rest);

// Option letters and their handlers, in the order of the options table.
static const struct {
    char letter;
    letter_fn handle;
} letters[] = {
    {'8', opt_8}, {'A', opt_A}, {'B', opt_B}, {'C', opt_C}, {'D', opt_D}, {'E', opt_E},
    {'F', opt_F}, {'G', opt_G}, {'H', opt_H}, {'I', opt_I}, {'J', opt_J}, {'K', opt_K},
    {'L', opt_L}, {'M', opt_M}, {'N', opt_N}, {'O', opt_O}, {'P', opt_P}, {'Q', opt_Q},
    {'R', opt_R}, {'S', opt_S}, {'U', opt_U}, {'V', opt_V}, {'W', opt_W}, {'X', opt_X},
    {'Z', opt_Z},
};

static letter_fn letter_handler(char c)
{
    for (const auto &row : letters)
        if (row.letter == toupper((unsigned char)c))
            return row.handle;
    return nullptr;
}

static void options_letters(const char *p)
{
    while (*p) {
        letter_fn fn = letter_handler(*p);
        if (!fn) {
            msg_report(168, p);
            p++;
            continue;
        }
        p = fn(p + 1);
    }
}

void options_parse(int argc, char **argv, int *first_input)
{
    opt.map_width = 80;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        const char *arg = argv[i];
        if (!arg[1])
            continue;
        if (arg[1] == '-') {
            if (msg_std_option(arg))
                continue;
            if (strcmp(arg, "--norlf") == 0) {
                opt.norlf = true;
                continue;
            }
            msg_report(168, arg + 1);
            options_letters(arg + 2);
            continue;
        }
        options_letters(arg + 1);
    }
    *first_input = i;
}

// The heading of the map and the command line, wrapped at the map width.
void map_write_heading(int argc, char **argv)
{
    map_printf("Vormak Software %sCompiler ", opt.ver_name.empty() ? "C " : (opt.ver_name + " ").c_str());
    if (!opt.ver_version.empty())
        map_printf("%s Edition %s", opt.ver_edition.c_str(), opt.ver_version.c_str());
    map_printf("\n\nLinker command line:\n\n");
    unsigned column = 0;
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "-B", 2) == 0)
            continue;
        unsigned n = (unsigned)strlen(argv[i]) + 1;
        if (column > 0 && column + n >= opt.map_width - 4) {
            map_printf("\\\n  ");
            column = 2;
        }
        map_printf("%s ", argv[i]);
        column += n;
    }
    map_printf("\n\n");
}
