// egret's command line: `egret [options] input_files ... -okey [-okey ...]
// [output_file]`, taken in order. Option letters may be of either case; a
// plain argument is an input until the first -o, after it the file name of
// the latest -o. Without arguments they come from standard input, and one
// argument "@file" reads them from that file.
#include "egret.h"

#include <cctype>
#include <cstring>

egret_request request;

// Room for the lists, as the converter has always had it.
static const unsigned MAX_INPUTS = 127;
static const unsigned MAX_OUTPUTS = 127;
static const unsigned MAX_CLASSES = 64;
static const unsigned MAX_TOKENS = 127;
static const size_t MAX_PROCESSOR = 128;

static const char *const usage_lines[] = {
    "EGRET: the symbol file reformatter",
    "Usage: egret [options] input_files ... -okey [-okey ... ] output_file",
    "Options:",
    "\t-v:\tverbose",
    "\t-d:\tdump input file",
    "\t-c:\tidentify input files only",
    "\t-f:\tfake local symbols as globals",
    "\t-k:\tfake variable redefinitions with inner blocks",
    "\t-okey:\tset output format",
    "\t-ikey:\tset input format",
    "\t-l:\tlist available formats",
    "\t-b:\tspecify big-endian byte ordering",
    "\t-m:\tstrip underscore character",
    "\t-e:\tstrip file extensions",
    "\t-pname:\tset processor name",
    "",
    "The output file type is required.",
    "The input file type(s) will be auto-detected if not specified.",
};

[[noreturn]] static void usage_exit()
{
    for (const char *line : usage_lines)
        msg_print("%s", line);
    tool_exit(1);
    exit(1);
}

[[noreturn]] static void list_formats()
{
    msg_print("Formats available are:\n\nKey        Name\n\n");
    for (unsigned i = 0; i < format_count; i++)
        msg_print("%-10s %s", format_table[i]->key, format_table[i]->name);
    msg_print("\nKeys may be unambiguously abbreviated.");
    tool_exit(0);
    exit(0);
}

static std::vector<std::string> split_commas(const char *text)
{
    std::vector<std::string> parts;
    std::string part;
    for (const char *p = text;; p++) {
        if (*p == ',' || !*p) {
            parts.push_back(part);
            part.clear();
            if (!*p)
                break;
        } else {
            part += *p;
        }
    }
    return parts;
}

// --pathspec=from,to
static void option_pathspec(const char *arg)
{
    const char *value = strchr(arg, '=');
    const char *comma = value ? strchr(value + 1, ',') : nullptr;
    if (!comma || comma == value + 1 || !comma[1])
        msg_report(608);
    settings.path_from.assign(value + 1, comma);
    settings.path_to = comma + 1;
    settings.pathspec = true;
}

static void option_long(const char *arg)
{
    if (msg_std_option(arg))
        return;
    if (strncasecmp(arg, "--pathspec", 10) == 0)
        option_pathspec(arg);
    // Any other long option is left to the programs that know it.
}

static void option_e(const char *value)
{
    if (!*value) {
        settings.strip_extensions = true;
    } else if (isdigit((unsigned char)value[0]) && !value[1]) {
        msg_set_format_mode(value[0] - '0');
    } else {
        // Messages appended to a file, a line at a time.
        if (freopen(value, "a", stderr))
            setvbuf(stderr, nullptr, _IOLBF, 512);
        msg_set_format_mode(1);
    }
}

static void option_n(const char *value)
{
    if (!*value)
        msg_report(610);
    for (const std::string &c : split_commas(value)) {
        if (settings.classes.size() + 1 >= MAX_CLASSES) {
            msg_report_unnumbered("W", "Maximum number of program classes reached. List may be truncated.");
            return;
        }
        settings.classes.push_back(c);
    }
}

static void option_p(const char *value)
{
    if (!*value)
        msg_report(609);
    std::vector<std::string> parts = split_commas(value);
    settings.processor = parts[0].substr(0, MAX_PROCESSOR);
    settings.processor_tokens.clear();
    for (size_t i = 1; i < parts.size() && settings.processor_tokens.size() < MAX_TOKENS; i++)
        settings.processor_tokens.push_back(parts[i]);
}

static void option_w(const char *arg, const char *value)
{
    if (!isdigit((unsigned char)value[0]) && value[0] != '-')
        msg_report(393);
    int n = atoi(value);
    if (n < -9)
        msg_report(523, n);
    else
        msg_set_warning_level(n);
    if (strchr(arg, '!'))
        msg_set_warnings_fail(1);
}

static void add_output(const char *key)
{
    unsigned f = format_lookup(key);
    for (const egret_output &o : request.outputs)
        if (o.format == f)
            return;
    request.outputs.push_back({f, ""});
}

// One argument starting with '-'; `next` is the argument after it (for
// "-o key"), and *used tells that it was taken.
static void option_short(const char *arg, const char *next, bool *used)
{
    const char *value = arg + 2;
    switch (tolower((unsigned char)arg[1])) {
    case 'b': settings.big_endian = true; break;
    case 'c': request.identify = true; settings.verbose++; break;
    case 'v': settings.verbose++; break;
    case 'd': request.dump = true; break;
    case 'e': option_e(value); break;
    case 'f': settings.fake_locals = true; break;
    case 'h': usage_exit();
    case 'i': request.forced = format_lookup(value); break;
    case 'k': settings.fake_blocks = true; break;
    case 'l': list_formats();
    case 'm': settings.strip_underscore = true; break;
    case 'n': option_n(value); break;
    case 'o':
        if (!*value && next && next[0] != '-') {
            value = next;
            *used = true;
        }
        add_output(value);
        break;
    case 'p': option_p(value); break;
    case 'w': option_w(arg, value); break;
    default:
        msg_print("Unrecognized option '%s'", arg);
        usage_exit();
    }
}

void options_parse(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (arg[0] == '-' && arg[1] == '-') {
            option_long(arg);
        } else if (arg[0] == '-' && arg[1]) {
            bool used = false;
            option_short(arg, i + 1 < argc ? argv[i + 1] : nullptr, &used);
            i += used;
        } else if (request.outputs.empty()) {
            request.inputs.push_back(arg);
        } else {
            request.outputs.back().name = arg;
        }
        if (request.inputs.size() > MAX_INPUTS)
            msg_report(611);
        if (request.outputs.size() > MAX_OUTPUTS)
            msg_report(612);
    }
}
