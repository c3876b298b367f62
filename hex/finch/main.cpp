// finch main: options, files, the object file into the image, the output.
//
// The output and the symbol file are written to temporary files beside their
// final names and renamed into place only after a run without errors, so a
// failed conversion leaves no half-written file that looks finished; neither
// may name a file being read (the object file, the checksum list).
#include "finch.h"

#include "common.h"
#include "outfile.h"

// An output file on its way: written under `temp`, renamed to `name` at the
// end of a clean run.
struct pending_file {
    std::string name;
    std::string temp;
    FILE *file;
};

static pending_file output;
static pending_file symbols;

static void pending_discard(pending_file &p)
{
    if (p.file)
        fclose(p.file);
    p.file = nullptr;
    if (!p.temp.empty())
        os_remove_file(p.temp.c_str());
    p.temp.clear();
}

void tool_exit(int status)
{
    pending_discard(output);
    pending_discard(symbols);
    image_close();
    fflush(stdout);
    exit(status);
}

// Opens `name` for writing through a temporary beside it; `what` names the
// file in messages. Refuses the files the run reads.
static void pending_open(pending_file &p, const std::string &name, const char *what, const char *mode)
{
    // The output renamed over the symbol file would silently take its place.
    bool over_symbols = &p == &output && symbols.file && !symbols.temp.empty() &&
                        (name == symbols.name || os_same_file(name.c_str(), symbols.name.c_str()));
    bool over_input = os_same_file(name.c_str(), opt.input.c_str()) ||
                      (!opt.checksum_file.empty() && os_same_file(name.c_str(), opt.checksum_file.c_str()));
    if (over_symbols || over_input) {
        msg_report(378, what, name.c_str());
        tool_exit(1);
    }
    p.name = name;
    // A device or pipe named as the output is written in place.
    bool special = outfile_is_special(name);
    p.temp = special ? std::string() : outfile_temp_name(name);
    p.file = fopen(special ? name.c_str() : p.temp.c_str(), mode);
    if (!p.file) {
        p.temp.clear();
        msg_report(141, what, name.c_str());
        tool_exit(1);
    }
}

// Closes and renames into place; a failure is reported.
static void pending_commit(pending_file &p)
{
    if (!p.file)
        return;
    bool ok = fclose(p.file) == 0;
    p.file = nullptr;
    if (!ok) {
        msg_report(739);
        return;
    }
    if (p.temp.empty())
        return;   // written in place
    if (msg_exit_status() == 0 && os_rename_file(p.temp.c_str(), p.name.c_str()) != 0) {
        msg_report(413, p.name.c_str());
        return;
    }
    if (msg_exit_status() == 0)
        p.temp.clear();
}

int main(int argc, char **argv)
{
    msg_set_tool_name("finch");
    msg_init();

    options_parse(argc, argv);
    image_init();
    checksum_list_read();

    // Files, in this order: symbol file, object file, output.
    if (!opt.symbol_file.empty())
        pending_open(symbols, opt.symbol_file, "symbol", "w");
    FILE *in = fopen(opt.input.c_str(), "rb");
    if (!in) {
        msg_report(141, "input", opt.input.c_str());
        tool_exit(1);
    }
    msg_set_location(opt.input.c_str(), nullptr, nullptr, nullptr);
    pending_open(output, opt.output, "output", opt.format >= FMT_UBROF ? "wb" : "w");

    // The whole object file is in the image before a byte is written.
    std::string motorola_symbols;
    object_read(in, symbols.file, &motorola_symbols);
    fclose(in);
    msg_set_location(nullptr, nullptr, nullptr, nullptr);

    if (!output_write(output.file, motorola_symbols))
        msg_report(413, opt.output.c_str());
    pending_commit(symbols);
    pending_commit(output);
    tool_exit(msg_exit_status());
}
