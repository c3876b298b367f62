// egret main: start-up and the order of the run.
//
// Every request is checked before anything is read or written: each output
// format must have a writer and each output a name that is no input's and
// no other output's. Inputs are identified (by -i or by the first probe of
// the format table that accepts them) and read, or dumped, or only named
// with -c. Outputs are written under temporary names beside their final
// ones and put in place together at the end of a clean run, so a run that
// stops on a fatal message leaves no output behind, finished or not.
#include "egret.h"

#include <cstring>

#include "outfile.h"

// An output on its way: written under `temp`, renamed to `name` at the end.
struct pending_output {
    std::string name;
    std::string temp;
};

// Outputs written so far but not yet in place.
static std::vector<pending_output> pending;
// The input open at the moment, if any.
static FILE *input_file;

void tool_exit(int status)
{
    if (input_file)
        fclose(input_file);
    input_file = nullptr;
    for (const pending_output &p : pending)
        if (!p.temp.empty())
            os_remove_file(p.temp.c_str());
    pending.clear();
    fflush(stdout);
    exit(status);
}

// ---------------------------------------------------------------------------
// arguments
// ---------------------------------------------------------------------------

// No arguments: they come from standard input; one "@file": from that file.
static char **read_arguments(int *argc, char **argv)
{
    if (*argc == 2 && argv[1][0] == '@') {
        if (!freopen(argv[1] + 1, "r", stdin))
            msg_report(141, "command", argv[1] + 1);
    } else if (*argc != 1) {
        return argv;
    }
    char **args = getargs(nullptr, "egret");
    *argc = getargs_count;
    return args;
}

// ---------------------------------------------------------------------------
// outputs named and checked before anything is read
// ---------------------------------------------------------------------------

static const format_desc *format_at(unsigned number) { return format_table[number - 1]; }

// The extension of a name: from the last '.' of its last path component.
static size_t extension_at(const std::string &name)
{
    size_t slash = name.find_last_of("/\\");
    size_t dot = name.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : std::string::npos;
}

// An output without a name takes the previous one's (the first input's for
// the first output) with its own extension.
static void name_outputs()
{
    std::string previous = request.inputs[0];
    for (egret_output &o : request.outputs) {
        std::string name = o.name.empty() ? previous : o.name;
        size_t dot = extension_at(name);
        bool removed = o.name.empty() && dot != std::string::npos;
        if (removed)
            name.erase(dot);
        if (removed || extension_at(name) == std::string::npos)
            name = str_printf("%s.%s", name.c_str(), format_at(o.format)->extension);
        o.name = name;
        previous = name;
    }
}

static bool same_name(const std::string &a, const std::string &b)
{
    return a == b || os_same_file(a.c_str(), b.c_str());
}

static void check_request()
{
    if (request.forced && !format_can_read(format_at(request.forced)) && !request.dump && !request.identify)
        msg_report(1600, format_at(request.forced)->name, request.inputs[0].c_str());
    if (request.identify || request.dump)
        return;
    name_outputs();
    for (size_t i = 0; i < request.outputs.size(); i++) {
        const egret_output &o = request.outputs[i];
        if (!format_can_write(format_at(o.format)))
            msg_report(1601, format_at(o.format)->name, o.name.c_str());
        for (const std::string &in : request.inputs)
            if (same_name(o.name, in))
                msg_report(1470, o.name.c_str());
        for (size_t k = 0; k < i; k++)
            if (same_name(o.name, request.outputs[k].name))
                msg_report(1513, o.name.c_str());
    }
}

// ---------------------------------------------------------------------------
// inputs
// ---------------------------------------------------------------------------

// The forced format, or the first whose probe accepts the input.
static const format_desc *identify_input(FILE *in)
{
    if (request.forced) {
        log_verbose("Defaulting to %s", format_at(request.forced)->name);
        return format_at(request.forced);
    }
    for (unsigned i = 0; i < format_count; i++) {
        rewind(in);
        if (format_table[i]->probe(in)) {
            log_verbose("Confirmed as %s", format_table[i]->name);
            return format_table[i];
        }
        log_verbose("Not %s", format_table[i]->name);
    }
    msg_report(605);
    return nullptr;
}

static void dump_input(const format_desc *f, const std::string &name)
{
    fflush(stderr);
    if (!format_can_dump(f))
        msg_report(1602, f->name, name.c_str());
    else if (!f->dump(input_file))
        msg_report(634, name.c_str());
    fputc('\n', stdout);
    fflush(stdout);
}

static void read_input(const format_desc *f, const std::string &name)
{
    if (!format_can_read(f))
        msg_report(1600, f->name, name.c_str());
    log_verbose("Reading '%s' as %s", name.c_str(), f->name);
    fflush(stderr);
    bool whole = f->read(input_file, name.c_str());
    fflush(stdout);
    // What was dropped would be missing from every output without a sign.
    if (!whole)
        msg_report(1605, name.c_str());
}

static void process_input(const std::string &name)
{
    input_file = fopen(name.c_str(), "rb");
    if (!input_file)
        msg_report(141, "input", name.c_str());
    log_verbose("Checking '%s' file type ...", name.c_str());
    const format_desc *f = identify_input(input_file);
    rewind(input_file);
    if (request.dump)
        dump_input(f, name);
    else if (!request.identify)
        read_input(f, name);
    fclose(input_file);
    input_file = nullptr;
}

// ---------------------------------------------------------------------------
// outputs
// ---------------------------------------------------------------------------

static void write_output(const egret_output &o)
{
    const format_desc *f = format_at(o.format);
    // A device or pipe named as the output is written in place.
    bool special = outfile_is_special(o.name);
    pending_output p = {o.name, special ? std::string() : outfile_temp_name(o.name)};
    FILE *out = fopen(special ? o.name.c_str() : p.temp.c_str(), f->binary ? "wb" : "w");
    if (!out)
        msg_report(378, "output", o.name.c_str());
    pending.push_back(p);
    log_verbose("Writing '%s' as %s", o.name.c_str(), f->name);
    fflush(stderr);
    f->write(out, o.name.c_str());
    bool failed = ferror(out) != 0;
    failed |= fclose(out) != 0;
    if (failed)
        msg_report(413, o.name.c_str());
}

// Every output written whole: each goes in place.
static void commit_outputs()
{
    for (pending_output &p : pending) {
        if (!p.temp.empty() && os_rename_file(p.temp.c_str(), p.name.c_str()) != 0)
            msg_report(1521, "output", p.name.c_str());
        p.temp.clear();
    }
    pending.clear();
}

int main(int argc, char **argv)
{
    msg_set_tool_name("egret");
    msg_init();
    argv = read_arguments(&argc, argv);
    model_init();
    options_parse(argc, argv);
    if (!request.inputs.empty())
        msg_set_location(request.inputs[0].c_str(), nullptr, nullptr, nullptr);
    if (request.outputs.empty() && !request.dump && !request.identify)
        msg_report(613);
    if (request.inputs.empty())
        msg_report(614);

    // Refusals first: nothing is read or written for a request that fails.
    check_request();

    // Inputs in command-line order; the symbol file leads to the SDB files.
    for (const std::string &name : request.inputs)
        process_input(name);
    log_verbose("Read %d input files", (int)request.inputs.size());
    if (settings.verbose)
        sdb_global_dump();
    if (request.identify || request.dump)
        tool_exit(msg_exit_status());

    // Every input is read: no record is added to the model after this point.
    tidy_model();

    for (const egret_output &o : request.outputs)
        write_output(o);
    if (request.outputs.size() > 1)
        log_verbose("Wrote %d output files", (int)request.outputs.size());
    if (msg_exit_status())
        tool_exit(msg_exit_status());
    commit_outputs();
    tool_exit(0);
}
