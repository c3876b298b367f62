// The option engine: one table of option records drives it all.
//
// Arguments are gathered from the environment variable <TOOL>_OPTIONS, the
// option file .<TOOL>_OPTIONS in the current directory and the command line
// (or an @command file that stands for it). File arguments (not starting with
// "-") are set aside; the options are then applied record by record in the
// table's priority order, highest first, so that an option's effect does not
// depend on where the user wrote it. Each occurrence is checked against the
// record's argument rules and applied according to the record's kind; what
// no record claims is reported as an unknown option. Help is generated from
// the table itself.
#include "zeph.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

// The table parse_options works on (print_help looks names up in it).
static option_record *current_table;

// ---------------------------------------------------------------------------
// small lookups
// ---------------------------------------------------------------------------

uint32_t key_hash(const char *text)
{
    uint32_t h = 0;
    for (const char *p = text; *p; p++)
        h = h * 16 + static_cast<uint32_t>(tolower(static_cast<unsigned char>(*p)));
    return h;
}

static size_t table_length(const option_record *table)
{
    size_t n = 0;
    while (table[n].priority != 0)
        n++;
    return n;
}

option_record *option_find_by_id(option_record *table, int32_t id)
{
    for (option_record *o = table; o->priority; o++)
        if (o->id == id)
            return o;
    return nullptr;
}

option_record *option_find_by_name(option_record *table, const char *name)
{
    for (option_record *o = table; o->priority; o++)
        if (o->name && strcasecmp(o->name, name) == 0)
            return o;
    return nullptr;
}

choice_row *choice_find_by_value(choice_row *rows, uint32_t value)
{
    for (choice_row *r = rows; r && r->names; r++)
        if (r->value == value)
            return r;
    return nullptr;
}

uint32_t choice_defaults(const choice_row *rows)
{
    uint32_t v = 0;
    for (const choice_row *r = rows; r && r->names; r++)
        if (r->default_mark & 1)
            v |= r->value;
    return v;
}

void flagset_apply_defaults(option_record *opt)
{
    *opt->target.variable = choice_defaults(opt->choices);
}

// The variable takes value, and every single-bit row is marked default
// exactly when its bit is in value, so that help shows what is in force.
void flagset_set_value(option_record *opt, uint32_t value)
{
    *opt->target.variable = value;
    for (uint32_t bit = 1; bit; bit <<= 1) {
        choice_row *r = choice_find_by_value(opt->choices, bit);
        if (!r)
            continue;
        if (value & bit)
            r->default_mark |= 1;
        else
            r->default_mark &= ~1u;
    }
}

bool choice_name_matches(const char *names, const char *text)
{
    size_t len = strlen(text);
    for (const char *p = names; *p;) {
        const char *end = strchr(p, ';');
        size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
        if (n == len && strncasecmp(p, text, n) == 0)
            return true;
        if (!end)
            break;
        p = end + 1;
    }
    return false;
}

bool option_is_long(const option_record *opt) { return opt->name && strlen(opt->name) > 1; }
uint32_t option_times_given(const option_record *opt) { return opt->times_given; }
int32_t option_id(const option_record *opt) { return opt->id; }

const char *option_display_name(const option_record *opt)
{
    static char buf[80];
    snprintf(buf, sizeof buf, "%s%s", option_is_long(opt) ? "--" : "-", opt->name ? opt->name : "");
    return buf;
}

const char *option_usage(const option_record *opt)
{
    static char buf[128];
    std::string u = option_display_name(opt);
    if (opt->flags & (OPT_ARG_REQUIRED | OPT_ARG_OPTIONAL)) {
        bool optional = !(opt->flags & OPT_ARG_REQUIRED);
        if (optional)
            u += "<";
        if (option_is_long(opt))
            u += "=";
        switch (opt->kind) {
        case OPTK_NUMBER: u += "value"; break;
        case OPTK_INTEGER: u += "number"; break;
        case OPTK_RANGE: u += "lo-hi<,lo-hi,...>"; break;
        case OPTK_RANGESPEC: u += "<+|->lo-hi<,...>"; break;
        default: u += "argument"; break;
        }
        if (optional)
            u += ">";
    }
    snprintf(buf, sizeof buf, "%s", u.c_str());
    return buf;
}

// ---------------------------------------------------------------------------
// flag sets and single choices
// ---------------------------------------------------------------------------

std::vector<std::string> split_tokens(const std::string &text, const char *seps)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find_first_of(seps, i);
        if (j == std::string::npos)
            j = text.size();
        if (j > i)
            out.push_back(text.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

// The value one token stands for: its row's value, or all/none/default.
static uint32_t token_value(int mode, const char *token, choice_row *rows, const char *row_arg)
{
    const char *p = token;
    bool contributes = true;
    if (mode == 1 && (*p == '+' || *p == '-')) {
        contributes = *p == '+';
        p++;
    }
    for (choice_row *r = rows; r && r->names; r++) {
        if (choice_name_matches(r->names, p)) {
            if (row_arg && r->arg_buffer)
                snprintf(r->arg_buffer, OPTION_ARG_SIZE, "%s", row_arg);
            return contributes ? r->value : 0;
        }
        if (mode == 1 && strcasecmp(p, "all") == 0)
            return 0xFFFFFFFFu;
        if (mode == 1 && strcasecmp(p, "none") == 0)
            return 0;
        if (strcasecmp(p, "default") == 0)
            return choice_defaults(rows);
    }
    msg_report(923, token);
    return 0;
}

// Mode 1 (flag set): every token combines into the variable; mode 2 (single
// choice): the first token names the value.
void parse_choice_list(int mode, const char *value, choice_row *rows, option_record *opt)
{
    uint32_t &var = *opt->target.variable;
    if (opt->times_given == 1) {
        if (!value) {
            var = 0;
            return;
        }
        if (*value != '+' && *value != '-' && *value != ',')
            var = 0;
    } else if (!value) {
        return;
    }
    std::vector<std::string> tokens = split_tokens(value, ",\n");
    std::string row_arg;
    bool has_arg = false;
    if (!tokens.empty()) {
        size_t colon = tokens[0].find(':');
        if (colon != std::string::npos) {
            row_arg = tokens[0].substr(colon + 1);
            tokens[0].erase(colon);
            has_arg = true;
        }
    }
    for (const std::string &tok : tokens) {
        const char *t = tok.c_str();
        char sign = 0;
        if (mode == 1 && (*t == '+' || *t == '-'))
            sign = *t++;
        uint32_t v = token_value(mode, t, rows, has_arg ? row_arg.c_str() : nullptr);
        if (sign == '+')
            var |= v;
        else if (sign == '-')
            var &= ~v;
        else if (mode == 2)
            var = v;
        else
            var |= v;
        if (mode == 2)
            break;
    }
}

// ---------------------------------------------------------------------------
// dispatch
// ---------------------------------------------------------------------------

static void apply_by_name(option_record *opt, const char *value)
{
    *opt->target.variable = 0;
    if (!value)
        return;
    for (choice_row *r = opt->choices; r && r->names; r++)
        if (choice_name_matches(r->names, value)) {
            *opt->target.variable = r->value;
            return;
        }
    msg_report(923, value);
}

static void apply_number(option_record *opt, const char *value)
{
    uint32_t n = 0;
    if (!value || !parse_hex_value(value, &n)) {
        msg_report(928, option_display_name(opt));
        return;
    }
    opt->target.number(opt, n);
}

static void apply_ranges(option_record *opt, const char *value)
{
    const char *cursor = value ? value : "";
    do {
        uint32_t lo = 0, hi = 0;
        if (!parse_hex_range(&cursor, &lo, &hi)) {
            msg_report(929, option_display_name(opt));
            return;
        }
        opt->target.range(opt, lo, hi);
    } while (*cursor);
}

static void apply_range_spec(option_record *opt, const char *value)
{
    if (!value || !parse_range_list(value, opt, opt->target.add, opt->remove))
        msg_report(930, option_display_name(opt));
}

uint32_t option_dispatch(option_record *opt, const char *value)
{
    if (!value && (opt->flags & OPT_ARG_REQUIRED))
        msg_report(924, option_display_name(opt));
    if (value && !(opt->flags & (OPT_ARG_REQUIRED | OPT_ARG_OPTIONAL)))
        msg_report(925, option_display_name(opt));
    if ((opt->flags & OPT_ONCE) && opt->times_given)
        msg_report(926, option_display_name(opt));
    opt->times_given++;
    switch (opt->kind) {
    case OPTK_HANDLER:
        if (opt->name)
            opt->target.handler(opt, value);
        else
            opt->target.action(opt);
        break;
    case OPTK_FLAGSET:
    case OPTK_FLAGSET3: parse_choice_list(1, value, opt->choices, opt); break;
    case OPTK_CHOICE: parse_choice_list(2, value, opt->choices, opt); break;
    case OPTK_BYNAME: apply_by_name(opt, value); break;
    case OPTK_BOOLEAN: *opt->target.variable = 1; break;
    case OPTK_COUNTER: (*opt->target.variable)++; break;
    case OPTK_INTEGER: *opt->target.variable = value ? static_cast<uint32_t>(atoi(value)) : 0; break;
    case OPTK_NUMBER: apply_number(opt, value); break;
    case OPTK_RANGE: apply_ranges(opt, value); break;
    case OPTK_RANGESPEC: apply_range_spec(opt, value); break;
    default: os_assert_fail("option kind", "option_dispatch", __LINE__);
    }
    return opt->flags & OPT_STOP;
}

// ---------------------------------------------------------------------------
// gathering the arguments
// ---------------------------------------------------------------------------

bool read_whole_file(const char *path, std::string &text)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    text.clear();
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    return true;
}

// Appends the arguments getargs found (element 0 is not an argument).
static void append_getargs(std::vector<std::string> &args, char **list)
{
    if (!list)
        return;
    for (int i = 1; list[i]; i++)
        args.push_back(list[i]);
}

static void append_split_text(std::vector<std::string> &args, std::string text, const char *prompt)
{
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    append_getargs(args, getargs(text.data(), prompt));
}

// The command line, or the @file that replaces it, or standard input.
static void gather_command_line(std::vector<std::string> &args, int argc, char **argv,
                                const char *tool_word)
{
    if (argc == 1) {
        append_getargs(args, getargs(nullptr, tool_word));
        return;
    }
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] != '@')
            continue;
        if (!argv[i][1])
            msg_report(931);
        FILE *f = fopen(argv[i] + 1, "r");
        if (!f) {
            msg_report(141, "command", argv[i] + 1);
            return;
        }
        getargs_set_input(f, 0);
        append_getargs(args, getargs(nullptr, tool_word));
        getargs_set_input(nullptr, 0);
        fclose(f);
        return;
    }
    for (int i = 1; i < argc; i++)
        args.push_back(argv[i]);
}

static std::vector<std::string> gather_arguments(int argc, char **argv, const char *tool_word)
{
    std::vector<std::string> args;
    if (tool_word) {
        std::string var = std::string(tool_word) + "_OPTIONS";
        if (const char *env = os_getenv(var.c_str()))
            append_split_text(args, env, tool_word);
        // The whole file is read: nothing in it is silently dropped.
        std::string text;
        if (read_whole_file(("." + var).c_str(), text))
            append_split_text(args, text, tool_word);
    }
    gather_command_line(args, argc, argv, tool_word);
    return args;
}

// ---------------------------------------------------------------------------
// processing
// ---------------------------------------------------------------------------

// The value of arg when it is an occurrence of opt: sets *value (null when
// the occurrence has none) and returns true.
static bool option_matches(const option_record *opt, const std::string &arg, const char **value)
{
    const char *a = arg.c_str();
    if (!option_is_long(opt)) {
        if (a[0] != '-' || a[1] == '-' || tolower(static_cast<unsigned char>(a[1])) !=
                                              tolower(static_cast<unsigned char>(opt->name[0])))
            return false;
        *value = a[2] ? a + 2 : nullptr;
        return true;
    }
    if (strncmp(a, "--", 2) != 0)
        return false;
    const char *name = a + 2;
    const char *eq = strchr(name, '=');
    size_t len = eq ? static_cast<size_t>(eq - name) : strlen(name);
    if (len != strlen(opt->name) || strncasecmp(name, opt->name, len) != 0)
        return false;
    *value = eq ? eq + 1 : nullptr;
    return true;
}

// Applies every occurrence of a named record; true when one said stop.
static bool process_record(option_record *opt, std::vector<std::string> &args)
{
    for (size_t i = 0; i < args.size();) {
        if (args[i] == "--" || args[i] == "-") {
            args.erase(args.begin() + static_cast<long>(i));
            continue;
        }
        // The occurrence leaves the list before it runs; its value lives on
        // in a copy.
        std::string arg = args[i];
        const char *value = nullptr;
        if (!option_matches(opt, arg, &value)) {
            i++;
            continue;
        }
        args.erase(args.begin() + static_cast<long>(i));
        if (option_dispatch(opt, value))
            return true;
    }
    return false;
}

// Runs the table over the option arguments; 1 when an option said stop.
static int apply_options(option_record *table, std::vector<std::string> &args)
{
    if (!args.empty()) {
        size_t eq = args[0].find('=');
        if (eq != std::string::npos && strcasecmp(args[0].c_str() + eq + 1, "help") == 0) {
            print_help(option_find_by_id(table, OPTID_HELP), args[0].substr(0, eq).c_str());
            return 1;
        }
    }

    // Sorted once, highest priority first; priorities compare unsigned, so
    // the "negative" ones come before all others. Equal ones keep table order.
    std::stable_sort(table, table + table_length(table),
                     [](const option_record &a, const option_record &b) { return a.priority > b.priority; });

    for (option_record *opt = table; opt->priority; opt++) {
        if (!opt->name) {
            if (option_dispatch(opt, nullptr))
                return 1;
        } else if (process_record(opt, args)) {
            return 1;
        }
    }
    for (const std::string &a : args)
        if (a != "--" && a != "-")
            msg_report(168, a.c_str());
    return 0;
}

// The file arguments of the command line being processed, so that an option
// that writes a file can refuse to write over one of them.
static const std::vector<std::string> *pending_files;

bool option_names_input_file(const char *name)
{
    if (pending_files)
        for (const std::string &f : *pending_files)
            if (f == name || os_same_file(f.c_str(), name))
                return true;
    return false;
}

int parse_options(option_record *table, int argc, char **argv, file_callback_fn file_callback,
                  const char *tool_word)
{
    current_table = table;
    std::vector<std::string> all = gather_arguments(argc, argv, tool_word);
    std::vector<std::string> args, files;
    for (std::string &a : all) {
        // A name or value the driver could not pass on whole is refused
        // before any option acts.
        check_arg_length(a.c_str());
        (a.empty() || a[0] != '-' ? files : args).push_back(a);
    }
    pending_files = &files;
    int stop = apply_options(table, args);
    pending_files = nullptr;
    if (stop)
        return 1;
    for (const std::string &f : files)
        file_callback(f.c_str());
    return 0;
}

// ---------------------------------------------------------------------------
// help
// ---------------------------------------------------------------------------

static void print_choices(const option_record *opt)
{
    static const char *const headers[] = {
        nullptr,
        "This option may have any of the following arguments:",
        "This option may have one of the following arguments:",
        "This option may have any of the following arguments:",
        "The argument to this option must be one of the following:",
    };
    printf("\n%s\n\n", headers[opt->kind]);
    for (const choice_row *r = opt->choices; r && r->names; r++) {
        std::string names = r->names;
        if (r->arg_buffer)
            names += ":argument";
        printf(" %c  %-20s %s\n", (r->default_mark & 1) ? '*' : ' ', names.c_str(), r->text);
    }
    if (opt->kind != OPTK_FLAGSET3)
        printf("\n");
    if (opt->kind == OPTK_FLAGSET)
        printf("    %-20s %s\n    %-20s %s\n    %-20s %s\n\n", "all", "All of the above", "none",
               "None of the above", "default", "Default values (*)");
    else
        printf("    %-20s %s\n\n", "default", "Default value (*)");
}

// Shows one option; false when the topic names none.
static bool print_topic(const char *topic)
{
    while (*topic && !isalnum(static_cast<unsigned char>(*topic)) && *topic != '_')
        topic++;
    std::string name;
    while (*topic && (isalnum(static_cast<unsigned char>(*topic)) || *topic == '_'))
        name += *topic++;
    option_record *opt = option_find_by_name(current_table, name.c_str());
    if (!opt) {
        printf("Bad option: %s\n", name.c_str());
        return false;
    }
    printf("%s", option_display_name(opt));
    if (opt->title)
        printf(": %s", opt->title);
    printf("\n\n%s\n", opt->help ? opt->help : "");
    if (opt->kind >= OPTK_FLAGSET && opt->kind <= OPTK_BYNAME)
        print_choices(opt);
    return true;
}

static void print_option_list(const option_record *help_opt)
{
    std::vector<const option_record *> sorted;
    for (const option_record *o = current_table; o->priority; o++)
        sorted.push_back(o);
    std::stable_sort(sorted.begin(), sorted.end(), [](const option_record *a, const option_record *b) {
        if (!a->name || !b->name)
            return !a->name && b->name;
        return strcmp(a->name, b->name) < 0;
    });
    printf("\nCompiler Options:\n\n");
    for (const option_record *o : sorted) {
        if (!o->name || !o->help)
            continue;
        printf(" %-2s  ", (o->flags & OPT_STOP) ? "!" : "");
        if (o->title)
            printf(" %-30s %s\n", option_usage(o), o->title);
        else
            printf(" %s\n", option_usage(o));
    }
    printf("\n ! Compilation stops after processing this option\n\n"
           "Help for a specific option can be obtained by specifying an argument to %s.\n\n",
           help_opt ? option_display_name(help_opt) : "--help");
}

void print_help(option_record *opt, const char *topic)
{
    print_banner();
    printf("\n");
    if (topic && *topic && print_topic(topic)) {
        fflush(stdout);
        return;
    }
    print_option_list(opt);
    fflush(stdout);
}
