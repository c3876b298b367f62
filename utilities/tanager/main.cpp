// tanager [options] input_file ...: lists the symbols of cross-reference
// files with the places where they are used and defined. Arguments are
// handled left to right: options change the settings, each input file is
// read when it is met; the listing is written once all are read.

#include <cctype>

#include "../util_file.h"
#include "tanager.h"

tanager_settings tanager_set = {nullptr, 66, 80, nullptr, nullptr, nullptr};

// Input files in the order read (an output must not replace any of them).
static vector_t *input_names;
// The listing file while it is being written.
static FILE *out_file;
// True while the listing file is unfinished; it is removed when the run ends
// early.
static bool out_unfinished;

void tool_exit(int status)
{
    if (status == 0 || !out_unfinished)
        return;
    if (out_file)
        fclose(out_file);
    out_file = nullptr;
    out_unfinished = false;
    util_remove_unfinished(tanager_set.output);
}

// One option; letters are case-insensitive and the value follows directly.
static void tanager_read_option(const char *arg)
{
    if (arg[1] == '-' && msg_std_option(arg))
        return;
    const char *value = arg + 2;
    switch (tolower((unsigned char)arg[1])) {
    case 'f': vec_push(tanager_set.skip_files, (void *)value); break;
    case 'h': tanager_set.title = value; break;
    case 'l': tanager_set.page_length = xref_read_number(value); break;
    case 'p': tanager_set.page_width = xref_read_number(value); break;
    case 'o': tanager_set.output = value; break;
    case 's':
        // A missing stop list is an error, but the listing is still made
        // (every word then shows); the exit status tells of the fault.
        if (!xref_read_stop_list(value))
            msg_report(140, "stoplist", value);
        break;
    case 'x': vec_push(tanager_set.exclusions, (void *)value); break;
    default: msg_print("Unrecognized switch %s", arg); break;
    }
}

// Creates the listing file, never over one of the inputs.
static FILE *tanager_open_output(const char *name)
{
    for (uint32_t i = 0; i < vec_count(input_names); i++)
        if (os_same_file(name, (const char *)vec_get(input_names, i)))
            msg_report(1470, name);
    FILE *f = fopen(name, "wb");
    if (!f)
        msg_report(141, "output", name);
    return f;
}

// Sorts the table and writes the listing where -O says.
static void tanager_write_listing()
{
    uint32_t count;
    xref_entry **entries = xref_sorted_entries(&count);
    FILE *out = stdout;
    if (tanager_set.output) {
        out = out_file = tanager_open_output(tanager_set.output);
        out_unfinished = true;
    }
    listing_write(out, entries, count);
    bool failed = ferror(out) || fflush(out) != 0;
    if (tanager_set.output) {
        out_file = nullptr;
        failed = fclose(out) != 0 || failed;
    }
    if (failed)
        msg_report(413, tanager_set.output ? tanager_set.output : "(standard output)");
    out_unfinished = false;
}

int main(int argc, char **argv)
{
    msg_set_tool_name("tanager");
    tanager_set.skip_files = vec_new_default();
    tanager_set.exclusions = vec_new_default();
    input_names = vec_new_default();

    // Options and inputs in command-line order: an option applies to the
    // inputs after it.
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] == '-') {
            tanager_read_option(argv[i]);
            continue;
        }
        if (!tanager_set.title)
            tanager_set.title = argv[i];
        vec_push(input_names, argv[i]);
        xref_read_file(argv[i]);
    }
    if (vec_count(input_names) == 0) {
        msg_print("Usage: tanager [-Ooutfile] [-Sstoplist] input_file ...");
        return 1;
    }

    // All inputs are read: no name or reference is added after this point.
    tanager_write_listing();
    return msg_exit_status();
}
