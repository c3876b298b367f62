// heron, the linker: start-up, the three passes over the inputs and the
// table of record handlers by record type and pass.
//
// Options come first (taken from the command line, an @file or standard
// input); every output is checked against every input before it is created.
// Each pass then reads the inputs in command-line order: a library through
// the library reader, a ".syf" file as symbols only, anything else as one
// object module. Placement runs at the end of pass 1, the closing of the
// output at the end of pass 2.
#include "heron.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <set>

#include <sys/stat.h>

heron_options opt;                  // option state
unsigned pass;                      // 0, 1 or 2
std::vector<input_file> inputs;     // the inputs in command-line order
unsigned input_index;               // input being read
unsigned library_index;             // libraries met in this pass
module_rec *current_mod;            // module being read
std::string current_file;           // file name, or library module name
std::string current_library;        // library being read
bool skip_flag;                     // a false CONDITION skips the rest of the module
bool output_suppressed;             // a psect exceeded its maximum size
FILE *out_file;                     // the output object or binary image

static std::vector<std::string> undefined_options;   // -U names
static std::string msg_file_text;                    // file shown in messages
static unsigned msg_line;                            // line shown in messages
static bool outputs_created;                         // remove them after a fatal error
static const char *source_file;                      // source position of a fixup, when known
static unsigned source_line;

void tool_exit(int status)
{
    if (status != 0 && outputs_created) {
        if (out_file)
            fclose(out_file);
        out_file = nullptr;
        // Only an unfinished plain file goes; a device named as the output stays.
        std::error_code error;
        if (std::filesystem::is_regular_file(opt.output_name, error))
            os_remove_file(opt.output_name.c_str());
    }
    fflush(stdout);
}

void map_printf(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    vfprintf(stdout, format, ap);
    va_end(ap);
}

const char *module_display_name(const symbol *s)
{
    static std::string text;
    if (s->file_index >= inputs.size())
        return "";
    const input_file &in = inputs[s->file_index];
    if (in.is_library && s->module_index < in.modules.size() && in.modules[s->module_index])
        text = in.name + ": " + in.modules[s->module_index]->name;
    else
        text = in.name;
    return text.c_str();
}

void msg_source_position(const char *file, unsigned line)
{
    source_file = file;
    source_line = line;
}

// Every message names the current module and its record number, or the
// source line of the fixup being reported.
static void msg_locate()
{
    if (source_file) {
        msg_line = source_line;
        msg_file_text = source_file;
        msg_set_location(msg_file_text.c_str(), &msg_line, nullptr, nullptr);
        return;
    }
    msg_line = rec_count;
    if (!current_library.empty() && !current_file.empty())
        msg_file_text = current_library + "(" + current_file + ")";
    else if (!current_library.empty())
        msg_file_text = current_library;
    else
        msg_file_text = current_file;
    if (msg_file_text.empty())
        msg_set_location(nullptr, nullptr, nullptr, nullptr);
    else
        msg_set_location(msg_file_text.c_str(), &msg_line, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Record handlers by type and pass. Row 0 runs at the start of each module,
// row 24 at the end of each pass.
// ---------------------------------------------------------------------------
typedef void (*handler_fn)();

static void none() {}
static void end_pass2()
{
    close_output();
    write_map();
}

static const handler_fn handlers[25][3] = {
    //  pass 0              pass 1              pass 2
    {none,               none,               module_start_pass2}, //  0 module start
    {skip_record,        text_size,          text_output},        //  1 TEXT
    {psect_record,       skip_record,        skip_record},        //  2 PSECT
    {skip_record,        skip_record,        reloc_record},       //  3 RELOC
    {sym_record_pass0,   sym_record_pass1,   sym_record_pass2},   //  4 SYM
    {skip_record,        skip_record,        start_record},       //  5 START
    {skip_record,        end_record_pass1,   end_record_pass2},   //  6 END
    {ident_record,       skip_record,        skip_record},        //  7 IDENT
    {xpsect_record,      skip_record,        skip_record},        //  8 XPSECT
    {skip_record,        skip_record,        skip_record},        //  9 SEGMENT
    {skip_record,        skip_record,        skip_record},        // 10 XSYM
    {signat_record,      skip_record,        skip_record},        // 11 SIGNAT
    {fninfo_record,      skip_record,        skip_record},        // 12 FNINFO
    {fnconf_record,      skip_record,        skip_record},        // 13 FNCONF
    {skip_record,        skip_record,        segstart_record},    // 14 SEGSTART
    {psectlim_record,    skip_record,        skip_record},        // 15 PSECTLIM
    {skip_record,        skip_record,        fix_listing},        // 16 LISTRELOC
    {skip_record,        skip_record,        skip_record},        // 17 CONDEXPR
    {skip_record,        skip_record,        skip_record},        // 18 LISTFIX
    {condition_record,   condition_record,   condition_record},   // 19 CONDITION
    {reserve_record,     skip_record,        skip_record},        // 20 RESERVE
    {spacelim_record,    skip_record,        skip_record},        // 21 SPACELIM
    {indirlist_record,   skip_record,        skip_record},        // 22 INDIRLIST
    {psectbound_record,  skip_record,        skip_record},        // 23 PSECTBOUND
    {none,               allocate_psects,    end_pass2},          // 24 end of pass
};
static_assert(sizeof handlers / sizeof handlers[0] == OBJ_MAX_TYPE + 2);

// Reads one module from `in`, up to and including its END record. A module's
// version is restored at its start, so the rules of its own IDENT apply in
// every pass.
void read_module_from(FILE *in)
{
    skip_flag = false;
    if (pass > 0 && current_mod)
        cur_version = current_mod->version;
    handlers[0][pass]();
    while (read_record_header(in)) {
        if (!obj_type_valid(rec.type))
            continue;
        if (rec.type == REC_END || !skip_flag)
            handlers[rec.type][pass]();
        if (rec.type == REC_END)
            break;
    }
    if (pass == 0 && current_mod)
        current_mod->version = cur_version;
    rec_count = 0;
}

// A ".syf" file: symbols only, no text, no module start.
static void read_symbols_only(FILE *in)
{
    while (read_record_header(in)) {
        if (!obj_type_valid(rec.type))
            continue;
        if (rec.type == REC_TEXT || rec.type == REC_RELOC || rec.type == REC_XPSECT)
            continue;
        handlers[rec.type][pass]();
        if (rec.type == REC_END)
            break;
    }
    rec_count = 0;
}

static FILE *open_input(const input_file &in)
{
    // A folder opens on some systems but holds no records: it is named as
    // what it is, not as an object without its END record.
    bool folder = os_is_directory(in.name.c_str());
    FILE *f = folder ? nullptr : fopen(in.name.c_str(), "rb");
    if (folder)
        errno = EISDIR;
    if (!f)
        msg_report(141, in.is_library ? "library" : "object", in.name.c_str());
    return f;
}

static void run_pass()
{
    library_index = 0;
    for (input_index = 0; input_index < inputs.size(); input_index++) {
        input_file &in = inputs[input_index];
        if (in.repeated)
            continue;
        current_file = in.name;
        FILE *f = open_input(in);
        if (!f)
            continue;
        if (in.is_library) {
            open_library(f);
            library_index++;
        } else if (in.is_symbols_only) {
            read_symbols_only(f);
        } else {
            current_mod = in.module;
            read_module_from(f);
        }
        current_mod = nullptr;
        current_file.clear();
        fclose(f);
    }
    rec.length = 0;
    handlers[24][pass]();
}

// The text after a name's last "." decides its kind.
static const char *extension_of(const std::string &name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : name.c_str() + dot + 1;
}

// An object file (or symbol file) named again, by the same or another path,
// is the same module: linking it twice would put its code and data in
// twice. It is read at its first place only, as a library module is never
// taken twice. A library named again is searched again.
static bool named_before(const std::string &name)
{
    static std::set<std::string> names;
    static std::set<std::pair<dev_t, ino_t>> files;   // one stat per input, for long lists
    bool seen = !names.insert(name).second;
    struct stat st;
    if (stat(name.c_str(), &st) == 0 && st.st_ino != 0 && !files.insert({st.st_dev, st.st_ino}).second)
        seen = true;
    return seen;
}

static void inputs_collect(int argc, char **argv, int first)
{
    for (int i = first; i < argc; i++) {
        input_file in;
        in.name = argv[i];
        const char *ext = extension_of(in.name);
        in.is_library = strcmp(ext, "lib") == 0 || strcmp(ext, "LIB") == 0;
        in.is_symbols_only = strcmp(ext, "syf") == 0 || strcmp(ext, "SYF") == 0;
        in.module = nullptr;
        in.repeated = !in.is_library && named_before(in.name);
        if (!in.is_library) {
            in.module = new module_rec{};
            in.module->name = in.name;
            in.module->file_index = (uint16_t)inputs.size();
        }
        inputs.push_back(in);
    }
}

// outputs holds {what, name} pairs. No output may be one of the inputs, and
// no two outputs may share a plain file (the later one would be written over
// the first, leaving a file that is neither): compared by name and, for
// files that exist, by device and inode, before any output is created.
static void outputs_check(const std::vector<std::pair<const char *, std::string>> &outputs)
{
    for (size_t i = 0; i < outputs.size(); i++) {
        const std::string &out = outputs[i].second;
        for (const input_file &in : inputs)
            if (out == in.name || os_same_file(out.c_str(), in.name.c_str()))
                msg_report(398);
        // A device such as /dev/null may take more than one output.
        std::error_code error;
        if (std::filesystem::exists(out, error) && !std::filesystem::is_regular_file(out, error))
            continue;
        for (size_t j = 0; j < i; j++)
            if (out == outputs[j].second || os_same_file(out.c_str(), outputs[j].second.c_str()))
                msg_report(378, outputs[i].first, out.c_str());
    }
}

static FILE *output_create(const std::string &name, const char *mode, const char *what)
{
    FILE *f = fopen(name.c_str(), mode);
    if (!f)
        msg_report(378, what, name.c_str());
    outputs_created = true;
    return f;
}

static void outputs_open(int argc, char **argv)
{
    std::vector<std::pair<const char *, std::string>> outputs = {{"output", opt.output_name}};
    if (!opt.map_name.empty())
        outputs.push_back({"map", opt.map_name});
    if (opt.sym_full || opt.sym_short)
        outputs.push_back({"sym", opt.sym_name});
    if (!opt.error_file.empty())
        outputs.push_back({"error", opt.error_file});
    outputs_check(outputs);
    if (!opt.error_file.empty()) {
        // Tried first, so that a failure is still reported where it is seen.
        FILE *probe = fopen(opt.error_file.c_str(), "a");
        if (!probe)
            msg_report(378, "error", opt.error_file.c_str());
        fclose(probe);
        if (!freopen(opt.error_file.c_str(), "a", stderr))
            exit(1);
        setvbuf(stderr, nullptr, _IOLBF, 512);
    }
    if (!opt.map_name.empty() && !freopen(opt.map_name.c_str(), "w", stdout))
        msg_report(378, "map", opt.map_name.c_str());
    out_file = output_create(opt.output_name, "wb", "output");
    if (opt.sym_full || opt.sym_short)
        sym_file = output_create(opt.sym_name, "w", "sym");
    if (opt.map)
        map_write_heading(argc, argv);
}

int main(int argc, char **argv)
{
    msg_set_tool_name("heron");
    msg_set_error_limit(30);
    msg_set_prereport_hook(msg_locate);
    sym_init();   // class options enter their classes
    if (argc == 1 || (argc == 2 && argv[1][0] == '@')) {
        if (argc == 2 && !freopen(argv[1] + 1, "r", stdin))
            msg_report(141, "command", argv[1] + 1);
        argv = getargs(nullptr, "heron");
        argc = getargs_count;
    }
    int first_input = argc;
    options_parse(argc, argv, &first_input);
    if (opt.binary && (opt.relocatable || opt.keep_reloc || opt.keep_reloc_high))
        msg_report(616);
    if (first_input >= argc)
        msg_report(397);
    if (!opt.output_given)
        opt.output_name = opt.binary ? "l.bin" : "l.obj";
    if ((opt.sym_full || opt.sym_short) && opt.sym_name.empty())
        opt.sym_name = "l.sym";
    inputs_collect(argc, argv, first_input);
    outputs_open(argc, argv);
    abs_psect = sym_enter("", OBJ_PSECT | OBJ_ABSOLUTE | OBJ_OVERLAID | OBJ_GLOBAL);
    sym_collect_p_names();
    for (const std::string &name : undefined_options)
        sym_enter(name.c_str(), OBJ_GLOBAL | SK_UNDEFINED);
    for (pass = 0; pass < 3; pass++)
        run_pass();   // 0 collects, 1 measures and places, 2 writes
    // A symbol file or map that was cut short is a failed link, not a
    // finished one.
    if (sym_file && fclose(sym_file) != 0)
        msg_report(413, opt.sym_name.c_str());
    sym_file = nullptr;
    if (!opt.map_name.empty() && (fflush(stdout) != 0 || ferror(stdout)))
        msg_report(413, opt.map_name.c_str());
    // The file is closed here whatever happens: a failed close is reported
    // after out_file is cleared, so the exit path does not close it again.
    FILE *closing = out_file;
    out_file = nullptr;
    if (closing && fclose(closing) != 0)
        msg_report(413, opt.output_name.c_str());
    fflush(stdout);
    return msg_exit_status();
}

void options_add_undefined(const char *name)
{
    undefined_options.push_back(name);
}
