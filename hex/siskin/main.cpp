// siskin main: start-up and the order of the work.
//
// The driver runs siskin with its output equal to its first input, so every
// input is read and closed before anything is written, and the output goes
// to a temporary file beside its final name that replaces it by a rename
// only when the run has reported no error: an existing HEX file is never
// emptied or left half written.
#include "siskin.h"

#include "common.h"
#include "outfile.h"

static std::string pending_output;   // temporary output not yet renamed

void tool_exit(int status)
{
    if (!pending_output.empty()) {
        os_remove_file(pending_output.c_str());
        pending_output.clear();
    }
    for (sk_input &in : inputs)
        if (in.file) {
            fclose(in.file);
            in.file = nullptr;
        }
    log_close();
    image_free();
    fflush(stdout);
    exit(status);
}

static void output_write()
{
    if (!output_wanted || msg_exit_status())
        return;
    if (output_name.empty()) {
        if (!ihex_write_image(stdout) || fflush(stdout) != 0)
            msg_report(413, "standard output");
        return;
    }
    // A device or pipe named as the output is written in place.
    bool special = outfile_is_special(output_name);
    if (!special)
        pending_output = outfile_temp_name(output_name);
    FILE *f = fopen(special ? output_name.c_str() : pending_output.c_str(), "w");
    if (!f) {
        msg_report(378, "output", output_name.c_str());
        tool_exit(1);
    }
    bool ok = ihex_write_image(f);
    ok &= fclose(f) == 0;
    if (!ok) {
        msg_report(413, output_name.c_str());
        tool_exit(1);
    }
    if (msg_exit_status() || special)
        return;   // tool_exit removes the temporary file
    if (os_rename_file(pending_output.c_str(), output_name.c_str()) != 0) {
        msg_report(378, "output", output_name.c_str());
        tool_exit(1);
    }
    pending_output.clear();
}

int main(int argc, char **argv)
{
    msg_set_tool_name("siskin");
    msg_init();
    image_init();

    // Without arguments: who we are and how to ask for more.
    if (!options_parse(argc, argv)) {
        options_banner(argv[0]);
        msg_report(1034, argv[0]);
        tool_exit(0);
    }

    // Inputs first, all of them: the output may be one of them.
    ihex_read_inputs();
    log_open();

    // The edits, in the order that decides who wins where they meet.
    edit_find_replace();        // acts on input data only
    edit_store_serials();
    edit_store_strings();
    edit_reserve_checksums();   // results must not be filled over
    edit_fill();                // fill never replaces anything
    checksum_results();         // sums over the finished image

    output_write();
    if (size_wanted) {
        uint64_t n = image_data_count();
        printf("Total data: %u (%Xh) bytes\n", (unsigned)n, (unsigned)n);
    }
    log_finish();
    tool_exit(msg_exit_status());
}
