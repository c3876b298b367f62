// linnet [options] [input [output]]: writes a numbered listing of a C
// source. Options come first and are read left to right; the first argument
// that is not an option names the source, the next one the listing, and
// listing starts at once (later arguments are ignored). Without names the
// source is standard input and the listing standard output.

#include <cstdlib>
#include <cstring>

#include "../../common/common.h"
#include "../util_file.h"
#include "linnet.h"

// The listing file while it is unfinished; removed when the run ends early.
static FILE *out_file;
// Its name; null for standard output and once the listing is complete.
static const char *out_name;

void tool_exit(int status)
{
    if (status == 0 || !out_name)
        return;
    if (out_file)
        fclose(out_file);
    out_file = nullptr;
    util_remove_unfinished(out_name);
}

// A bad option ends the run at once with status -1, before anything is
// opened.
[[noreturn]] static void linnet_fail_option()
{
    exit(-1);
}

// -T<n>: decimal digits only; anything else is 670, a value outside 1..64
// is 671 (large values are capped while reading, so they cannot wrap).
static int linnet_read_tab_width(const char *text)
{
    long value = 0;
    bool decimal = *text != 0;
    for (const char *p = text; *p && decimal; p++) {
        decimal = *p >= '0' && *p <= '9';
        if (decimal && value < 1000)
            value = value * 10 + (*p - '0');
    }
    if (!decimal) {
        msg_report(670);
        linnet_fail_option();
    }
    if (value < 1 || value > 64) {
        msg_report(671);
        linnet_fail_option();
    }
    return (int)value;
}

// -W<n>[!]: the warning threshold; a "!" anywhere makes warnings count.
static void linnet_read_warning_option(const char *text)
{
    msg_set_warning_level(atoi(text));
    if (strchr(text, '!'))
        msg_set_warnings_fail(1);
}

// Reads the options; returns the index of the first file name (argc when
// there is none).
static int linnet_read_options(int argc, char **argv, linnet_settings &set)
{
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        const char *arg = argv[i];
        if (arg[1] == '-' && msg_std_option(arg))
            continue;
        if (arg[1] == 'T' || arg[1] == 't') {
            set.tab_width = linnet_read_tab_width(arg + 2);
        } else if (arg[1] == 'W' || arg[1] == 'w') {
            linnet_read_warning_option(arg + 2);
        } else {
            msg_report(168, arg);
            linnet_fail_option();
        }
    }
    return i;
}

// Opens the listing, never over the source itself.
static FILE *linnet_open_output(const char *name, const char *input)
{
    if (input && os_same_file(name, input))
        msg_report(1470, name);
    FILE *f = fopen(name, "wb");
    if (!f)
        msg_report(378, "output", name);
    return f;
}

int main(int argc, char **argv)
{
    msg_set_tool_name("linnet");
    linnet_settings set = {8, nullptr, nullptr};
    int first = linnet_read_options(argc, argv, set);
    if (first < argc)
        set.input_name = argv[first];
    if (first + 1 < argc)
        set.output_name = argv[first + 1];

    FILE *in = stdin;
    if (set.input_name) {
        in = util_open_input(set.input_name);
        if (!in)
            msg_report(141, "input", set.input_name);
        msg_set_location(set.input_name, nullptr, nullptr, nullptr);
    }
    FILE *out = stdout;
    if (set.output_name) {
        out = linnet_open_output(set.output_name, set.input_name);
        out_file = out;
        out_name = set.output_name;
    }

    bool written = list_write_source(in, out, set.tab_width);
    if (!written)
        msg_report(413, set.output_name ? set.output_name : "(standard output)");
    if (set.output_name) {
        out_file = nullptr;
        if (fclose(out) != 0)
            msg_report(413, set.output_name);
        out_name = nullptr;
    }
    if (set.input_name)
        fclose(in);
    return msg_exit_status();
}
