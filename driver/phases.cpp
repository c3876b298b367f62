// Every program the driver starts is started here.
//
// A phase builds an argument list (arglist: the tool's index and a linked
// list of argument entries) and hands it to run_phase, which applies the
// configurable-option files (--getoption writes the configurable entries,
// --setoption replaces them), puts the arguments every tool receives in
// front, finds the program in the installation's bin directory, echoes the
// command line under -V, runs it and waits, and turns a failure into a
// message and a counted error. The file-name routines and the removal of
// temporary files live here too.
#include "zeph.h"

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

// Program of each tool index.
const char *const tool_names[] = {
    "linnet", "wren", "plover", "kestrel", "osprey", "heron",
    "finch", "siskin", "egret", "rook", "tanager",
};
static_assert(std::size(tool_names) == TOOL_COUNT, "one program per tool index");

// Debug-converter keys by output bit, and the extension of the file the
// converter names after the HEX file (the OMF files are named for it).
static const struct {
    uint32_t bit;    // --output bit
    const char *key; // egret's -o key
    const char *ext; // extension of its output, null when named for it
} converter_keys[] = {
    {0x400, "cod", "cod"}, {0x800, "cof", "cof"}, {0x1000, "mcof", "cof"}, {0x4000, "elf", "elf"},
    {0x8000, "omf", nullptr}, {0x10000, "eomf", nullptr}, {0x20000, "htk", "dbg"},
};

// ---------------------------------------------------------------------------
// argument texts
// ---------------------------------------------------------------------------

char *zeph_vasprintf(const char *format, va_list args) { return xstrdup(str_vprintf(format, args).c_str()); }

char *zeph_asprintf(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    char *s = zeph_vasprintf(format, ap);
    va_end(ap);
    return s;
}

void check_arg_length(const char *text)
{
    size_t n = strlen(text);
    if (n <= ARG_TEXT_LIMIT)
        return;
    // The message shows both ends of the text, so that it fits a line.
    std::string shown = std::string(text, 40) + "..." + (text + n - 20);
    msg_report(1474, shown.c_str(), static_cast<unsigned>(n));
    // Fatal by its kind; the run stops even when the message file says otherwise.
    tool_exit(1);
}

// ---------------------------------------------------------------------------
// argument lists
// ---------------------------------------------------------------------------

arglist *arglist_new(uint32_t tool)
{
    auto *list = static_cast<arglist *>(xmalloc(sizeof(arglist)));
    list->tool = tool;
    list->entries = llist_new();
    list->outputs = vec_new_default();
    return list;
}

void arglist_note_output(arglist *list, char *path)
{
    if (path)
        vec_push(list->outputs, path);
}

void arglist_append_output(arglist *list, const char *prefix, char *path)
{
    arglist_appendf(list, "%s%s", prefix, path);
    arglist_note_output(list, path);
}

static arg_entry *entry_new(uint32_t flags, char *text)
{
    auto *e = static_cast<arg_entry *>(xmalloc(sizeof(arg_entry)));
    e->text = text;
    e->flags = flags;
    return e;
}

void arglist_append_flags(arglist *list, uint32_t flags, char *text)
{
    if (!text)
        return;
    check_arg_length(text);
    llist_push_back(list->entries, entry_new(flags, text));
}

void arglist_prepend_flags(arglist *list, uint32_t flags, char *text)
{
    if (!text)
        return;
    check_arg_length(text);
    llist_push_front(list->entries, entry_new(flags, text));
}

void arglist_append(arglist *list, char *text) { arglist_append_flags(list, 0, text); }
void arglist_prepend(arglist *list, char *text) { arglist_prepend_flags(list, 0, text); }

void arglist_append_copy_flags(arglist *list, uint32_t flags, const char *text)
{
    if (text)
        arglist_append_flags(list, flags, xstrdup(text));
}

void arglist_prepend_copy_flags(arglist *list, uint32_t flags, const char *text)
{
    if (text)
        arglist_prepend_flags(list, flags, xstrdup(text));
}

void arglist_append_copy(arglist *list, const char *text) { arglist_append_copy_flags(list, 0, text); }
void arglist_prepend_copy(arglist *list, const char *text) { arglist_prepend_copy_flags(list, 0, text); }

void arglist_appendf(arglist *list, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    arglist_append_flags(list, 0, zeph_vasprintf(format, ap));
    va_end(ap);
}

void arglist_appendf_flags(arglist *list, uint32_t flags, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    arglist_append_flags(list, flags, zeph_vasprintf(format, ap));
    va_end(ap);
}

void arglist_prependf(arglist *list, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    arglist_prepend_flags(list, 0, zeph_vasprintf(format, ap));
    va_end(ap);
}

void arglist_prependf_flags(arglist *list, uint32_t flags, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    arglist_prepend_flags(list, flags, zeph_vasprintf(format, ap));
    va_end(ap);
}

arglist *arglist_copy(const arglist *list)
{
    arglist *c = arglist_new(list->tool);
    for (llist_node *n = list->entries->head; n; n = n->next) {
        auto *e = static_cast<arg_entry *>(n->data);
        arglist_append_copy_flags(c, e->flags, e->text);
    }
    for (uint32_t i = 0; i < vec_count(list->outputs); i++)
        arglist_note_output(c, xstrdup(static_cast<const char *>(vec_get(list->outputs, i))));
    return c;
}

uint32_t arglist_count(const arglist *list) { return llist_count(list->entries); }

static void entry_free(arg_entry *e)
{
    free(e->text);
    free(e);
}

void arglist_free(arglist *list)
{
    if (!list)
        return;
    for (llist_node *n = list->entries->head; n; n = n->next)
        entry_free(static_cast<arg_entry *>(n->data));
    llist_free(list->entries);
    free_strings(list->outputs);
    free(list);
}

vector_t *arglist_texts(const arglist *list)
{
    vector_t *v = vec_new_default();
    for (llist_node *n = list->entries->head; n; n = n->next)
        vec_push(v, static_cast<arg_entry *>(n->data)->text);
    return v;
}

// ---------------------------------------------------------------------------
// linker arguments the user may override with -L-<name>=...
// ---------------------------------------------------------------------------

// True when a user's linker option holding "=" begins with text up to its "=".
static bool user_overrides(const char *text)
{
    const char *eq = strchr(text, '=');
    if (!eq)
        return false;
    size_t len = static_cast<size_t>(eq - text);
    for (uint32_t i = 0; i < vec_count(bs.linker_opts); i++) {
        auto *o = static_cast<const char *>(vec_get(bs.linker_opts, i));
        if (strchr(o, '=') && strncasecmp(o, text, len) == 0)
            return true;
    }
    return false;
}

void linker_default_option(arglist *list, char *text)
{
    if (!text)
        return;
    if (user_overrides(text))
        free(text);
    else
        arglist_append_flags(list, ARG_CONFIGURABLE, text);
}

void linker_default_option_copy(arglist *list, const char *text)
{
    if (text)
        linker_default_option(list, xstrdup(text));
}

void linker_default_optionf(arglist *list, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    linker_default_option(list, zeph_vasprintf(format, ap));
    va_end(ap);
}

// ---------------------------------------------------------------------------
// file names
// ---------------------------------------------------------------------------

bool has_extension(const char *name, const char *ext)
{
    size_t n = strlen(name), e = strlen(ext);
    return n >= e && strcasecmp(name + n - e, ext) == 0;
}

bool is_asm_source(const char *name) { return has_extension(name, ".as") || has_extension(name, ".asm"); }

char *replace_extension(const char *name, const char *ext)
{
    const char *dot = strrchr(name, '.');
    const char *base = os_path_basename(name);
    if (!dot || dot < base)
        return zeph_asprintf("%s.%s", name, ext);
    return zeph_asprintf("%.*s%s", static_cast<int>(dot - name + 1), name, ext);
}

// dir/name, relative to the current directory when it lies below it.
static char *place_in(const char *dir, const char *name)
{
    char *path = os_path_join(dir ? dir : ".", name);
    char *rel = os_path_relative(path);
    free(path);
    return rel;
}

char *output_file_name(const char *ext)
{
    char *name = replace_extension(bs.output_name ? bs.output_name : "", ext);
    char *path = place_in(bs.output_dir, name);
    free(name);
    return path;
}

char *object_file_name(const char *name, const char *ext)
{
    char *base = replace_extension(os_path_basename(name), ext);
    // The C library's printf source is compiled for this run alone: its
    // files are intermediates.
    bool library = bs.library_source && strcmp(name, bs.library_source) == 0;
    char *path = library ? run_file(base) : place_in(bs.object_dir, base);
    free(base);
    return path;
}

// The run's folder is made when first needed, so that runs that write
// nothing (--help, --chipinfo) make none.
char *run_file(const char *name)
{
    if (!bs.run_dir) {
        bs.run_dir = os_temp_dir();
        if (!bs.run_dir)
            tool_exit(1);
    }
    return os_path_join(bs.run_dir, name);
}

const char *link_object()
{
    if (!bs.link_object)
        bs.link_object = run_file("l.obj");
    return bs.link_object;
}

const char *cross_reference_file()
{
    // Without a listing to make of it, the file is the product of --cr and
    // stays in the current directory.
    if (!bs.cr_file)
        bs.cr_file = settings.cr_listing ? run_file("tanager.tmp") : xstrdup("tanager.tmp");
    return bs.cr_file;
}

char *install_lookup(int kind, const char *name, const char *what)
{
    char *path = name ? install_path(kind, name) : install_dir(kind);
    if (!path) {
        std::string shown = name ? std::string(what) + " " + name : what;
        msg_report(1520, shown.c_str());
        // Fatal by its kind; the run stops even when the message file says otherwise.
        tool_exit(1);
    }
    return path;
}

void delete_temp(const char *path)
{
    if (!path || opts.nodel)
        return;
    if (settings.verbose)
        msg_print("del %s", path);
    remove(path);
}

// ---------------------------------------------------------------------------
// the runner
// ---------------------------------------------------------------------------

static void write_configurable(const arglist *list)
{
    const char *file = settings.option_files[list->tool];
    if (!file)
        return;
    FILE *f = fopen(file, "w+");
    if (!f) {
        msg_report(899, file, tool_names[list->tool]);
        return;
    }
    for (llist_node *n = list->entries->head; n; n = n->next) {
        auto *e = static_cast<arg_entry *>(n->data);
        if (e->flags & ARG_CONFIGURABLE)
            fprintf(f, "%s\n", e->text);
    }
    fclose(f);
}

// Configurable entries take the file's lines in order; entries left over
// are removed, lines left over follow the last entry replaced (or the end).
static void apply_setoption(arglist *list, const char *file)
{
    FILE *f = fopen(file, "r");
    if (!f) {
        msg_report(899, file, tool_names[list->tool]);
        return;
    }
    std::vector<std::string> lines;
    std::string line;
    while (os_read_line(f, line))
        lines.push_back(line);
    fclose(f);
    for (const std::string &l : lines)
        check_arg_length(l.c_str());
    size_t next = 0;
    llist_node *last = nullptr;
    for (llist_node *n = list->entries->head; n;) {
        llist_node *following = n->next;
        auto *e = static_cast<arg_entry *>(n->data);
        if (e->flags & ARG_CONFIGURABLE) {
            free(e->text);
            if (next < lines.size()) {
                e->text = xstrdup(lines[next++].c_str());
                last = n;
            } else {
                free(e);
                llist_remove(list->entries, n);
            }
        }
        n = following;
    }
    for (; next < lines.size(); next++) {
        arg_entry *e = entry_new(0, xstrdup(lines[next].c_str()));
        last = last ? llist_insert_after(list->entries, last, e) : llist_push_back(list->entries, e);
    }
}

// The arguments every tool receives, in front of the phase's own.
static void prepend_common(arglist *list)
{
    if (opts.errors)
        arglist_prependf(list, "--emax=%d", static_cast<int>(opts.errors));
    if (settings.msgdisable)
        arglist_prependf(list, "--msgdisable=%s", settings.msgdisable);
    if (msg_file_name())
        arglist_prependf(list, "--edf=%s", msg_file_name());
    arglist_prepend_copy(list, bs.warn_arg);
    arglist_prependf(list, "%s.exe", tool_names[list->tool]);
}

static void echo_command(const char *path, const arglist *list)
{
    std::string line = settings.verbose >= 2 ? path : os_path_basename(path);
    line += " ";
    for (llist_node *n = list->entries->head ? list->entries->head->next : nullptr; n; n = n->next) {
        char *quoted = os_quote_arg(static_cast<arg_entry *>(n->data)->text);
        line += quoted;
        if (n->next)
            line += " ";
        free(quoted);
    }
    msg_print("%s", line.c_str());
}

// Runs the program with its arguments and waits. The child gets each
// argument as it is, blanks and all. A program that cannot be started ends
// the run; one that fails is counted (and reported unless an IDE format is
// in force, where the tool's own messages are the report).
static int spawn_tool(const char *path, const arglist *list)
{
    std::vector<char *> argv;
    for (llist_node *n = list->entries->head; n; n = n->next)
        argv.push_back(static_cast<arg_entry *>(n->data)->text);
    argv.push_back(nullptr);
    int status = os_spawn(path, argv.data());
    if (status == -1) {
        msg_report(900, path);
    } else if (status != 0) {
        bs.errors++;
        if (!settings.ide_format)
            msg_report(908, status);
    }
    return status;
}

// 1. --getoption: write the configurable arguments, run nothing.
// 2. --setoption: replace them from the tool's file, or switch it off.
// 3. Put the common arguments in front.
// 4. Find the program in the installation's bin directory.
// 5-6. Echo the command line under -V, arguments with blanks quoted.
// 7-8. Unless --noexec or switched off, run it and wait.
bool tool_switched_off(uint32_t tool)
{
    const char *setfile = settings.setoption ? settings.option_files[tool] : nullptr;
    return setfile && strcasecmp(setfile, "off") == 0;
}

bool run_phase(arglist *list)
{
    if (settings.getoption) {
        write_configurable(list);
        arglist_free(list);
        return true;
    }
    const char *setfile = settings.setoption ? settings.option_files[list->tool] : nullptr;
    bool off = tool_switched_off(list->tool);
    if (setfile && !off)
        apply_setoption(list, setfile);
    prepend_common(list);
    char *path = install_lookup(INST_BIN, tool_names[list->tool], "program");
    if (settings.verbose && !off)
        echo_command(path, list);
    bool runs = !opts.noexec && !off;
    // What the program writes is the run's to remove should the run fail.
    for (uint32_t i = 0; runs && i < vec_count(list->outputs); i++)
        vec_push(bs.written, xstrdup(static_cast<const char *>(vec_get(list->outputs, i))));
    int status = runs ? spawn_tool(path, list) : 0;
    free(path);
    arglist_free(list);
    return status == 0;
}

// ---------------------------------------------------------------------------
// per-source phases
// ---------------------------------------------------------------------------

static bool base_is_doprnt(const char *base) { return strncmp(os_path_basename(base), "doprnt", 6) == 0; }

bool phase_listing(const char *source, const char *base)
{
    arglist *a = arglist_new(TOOL_LINNET);
    arglist_append_copy(a, source);
    arglist_append_output(a, "", zeph_asprintf("%slst", base));
    return run_phase(a);
}

bool phase_preprocess(const char *source, const char *base)
{
    stage_timer("Preprocessor");
    arglist *a = arglist_new(TOOL_WREN);
    for (uint32_t i = 0; i < vec_count(bs.defines); i++)
        arglist_append_copy(a, static_cast<const char *>(vec_get(bs.defines, i)));
    if (settings.ide_format)
        arglist_append_copy(a, "-E1");
    if (opts.ide == IDE_TARNEL) {
        arglist_append_output(a, "-LM-", object_file_name(base, "d"));
    } else if (opts.scandep) {
        arglist_append_copy(a, "-L");
    }
    arglist_append_copy(a, "-D_WYVERN_CODE_");
    arglist_appendf(a, "-D_VRK_VER_MAJOR_=%d", 9);
    arglist_appendf(a, "-D_VRK_VER_MINOR_=%d", 60);
    arglist_appendf(a, "-D_VRK_VER_PATCH_=%d", 5);
    arglist_appendf(a, "-D_VRK_EDITION_=%d", 2);
    if (opts.ident_length != 31)
        arglist_appendf(a, "-N%d", static_cast<int>(opts.ident_length));
    else if (is_asm_source(source))
        arglist_append_copy(a, "-N255");
    preprocessor_chip_args(a);
    arglist_append(a, opts.ide == IDE_MPLAB ? os_path_absolute(source) : xstrdup(source));
    if (settings.pre || base_is_doprnt(base))
        arglist_append_output(a, "", zeph_asprintf("%spre", base));
    else if (opts.scandep && opts.ide != IDE_TARNEL)
        arglist_append_output(a, "", zeph_asprintf("%sdep", base));
    else
        arglist_append_copy(a, bs.temp[0]);
    return run_phase(a);
}

bool phase_parse(const char *base)
{
    stage_timer("Parser");
    arglist *a = arglist_new(TOOL_PLOVER);
    arglist_append_copy(a, "-v");
    if (opts.ident_length != 31)
        arglist_appendf(a, "-N%d", static_cast<int>(opts.ident_length));
    if (settings.ide_format)
        arglist_append_copy(a, "-E1");
    if (opts.asm_only || opts.asmlist)
        arglist_append_copy(a, "-S");
    if (settings.cross_reference)
        arglist_appendf(a, "-c%s", cross_reference_file());
    if (settings.strict)
        arglist_append_copy(a, "-strict");
    if (opts.proto)
        arglist_append_output(a, "-p", zeph_asprintf("%spro", base));
    arglist_append_copy(a, "-u");
    arglist_append_copy(a, "-fp");
    if (opts.ide == IDE_TARNEL)
        arglist_appendf(a, "--fipath=%s", bs.object_dir);
    parser_chip_args(a);
    if (base_is_doprnt(base))
        arglist_appendf(a, "%spre", base);
    else
        arglist_append_copy(a, bs.temp[0]);
    arglist_append_output(a, "", zeph_asprintf("%splover", base));
    arglist_append_copy(a, bs.temp[2]);
    bool ok = run_phase(a);
    // Without a parser run (--noexec, --getoption, switched off) there is no
    // prototype file to rewrite.
    if (ok && opts.proto && !settings.getoption && !opts.noexec && !tool_switched_off(TOOL_PLOVER))
        ok = rewrite_prototypes(base);
    return ok;
}

// The highest optimisation level whose bit is set (levels 9 down to 1 are
// bits 0x10000 down to 0x100), 0 when none.
static int optimisation_level()
{
    for (int level = 9; level >= 1; level--)
        if (opts.opt & (0x100u << (level - 1)))
            return level;
    return 0;
}

// The intermediate-code library of a library name, or null without "clib".
static char *ilibrary_path(const char *name)
{
    if (!(opts.runtime & RT_CLIB))
        return nullptr;
    char *stem = library_stem(name);
    char *file = zeph_asprintf("%s.lpp", stem);
    char *path = install_lookup(INST_LIB, file, "library");
    free(stem);
    free(file);
    return path;
}

void arglist_append_strings(arglist *list, const vector_t *v)
{
    if (!v)
        return;
    for (uint32_t i = 0; i < vec_count(v); i++)
        arglist_append_copy(list, static_cast<const char *>(vec_get(v, i)));
}

void free_strings(vector_t *v)
{
    if (!v)
        return;
    for (uint32_t i = 0; i < vec_count(v); i++)
        free(vec_get(v, i));
    vec_free(v);
}

bool phase_codegen(const char *base, vector_t *inputs, bool prepass)
{
    stage_timer("Code generator");
    arglist *a = arglist_new(TOOL_KESTREL);
    if (int level = optimisation_level())
        arglist_appendf(a, "-Og%d", level);
    if (settings.ide_format)
        arglist_append_copy(a, "-E1");
    if (prepass)
        arglist_append_copy(a, "-w9");
    else
        arglist_append_output(a, "-D", zeph_asprintf("%ssdb", base));
    codegen_processor_args(a);
    if (prepass) {
        arglist_append_copy(a, "-fp");
        arglist_appendf(a, "-A%s", base);
    } else if (opts.asm_only && !(opts.opt & 0xFF)) {
        arglist_append_output(a, "-A", zeph_asprintf("%sas", base));
    } else {
        arglist_appendf(a, "-A%s", bs.temp[0]);
    }
    vector_t *scanned = obj_symbol_args();
    arglist_append_strings(a, scanned);
    free_strings(scanned);
    arglist_append_strings(a, inputs);
    if (!settings.pass1) {
        vector_t *chip_libs = codegen_library_list();
        arglist_append_strings(a, chip_libs);
        free_strings(chip_libs);
        for (uint32_t i = 0; i < vec_count(bs.libnames); i++)
            arglist_append(a, ilibrary_path(static_cast<const char *>(vec_get(bs.libnames, i))));
        arglist_append(a, ilibrary_path("c"));
        vector_t *more = codegen_library_list_2();
        arglist_append_strings(a, more);
        free_strings(more);
    }
    return run_phase(a);
}

bool phase_assemble(const char *base, const char *source, bool marked)
{
    stage_timer("Assembler");
    arglist *a = arglist_new(TOOL_OSPREY);
    if (marked)
        arglist_append_copy(a, "-v");
    if (opts.strip_locals)
        arglist_append_copy(a, "-x");
    if (settings.ide_format)
        arglist_append_copy(a, "-E1");
    if (opts.opt & (marked ? OPTB_ASMFILE : OPTB_ASM))
        arglist_append_copy(a, "-o");
    if (opts.asm_only)
        arglist_append_copy(a, "-a");
    arglist_appendf(a, "-C%s", bs.chipinfo_path);
    arglist_appendf(a, "-ver=V%s", bs.version);
    if (opts.asmlist)
        arglist_append_output(a, "-l", zeph_asprintf("%slst", base));
    assembler_chip_args(a);
    arglist_append_output(a, "-o", zeph_asprintf("%s%s", base, opts.asm_only ? "as" : "obj"));
    arglist_append_copy(a, source);
    bool ok = run_phase(a);
    if (!ok && !opts.asm_only) {
        char *obj = zeph_asprintf("%sobj", base);
        delete_temp(obj);
        free(obj);
    }
    return ok;
}

// ---------------------------------------------------------------------------
// whole-build phases
// ---------------------------------------------------------------------------

bool phase_library(bool intermediate)
{
    stage_timer("Library builder");
    arglist *a = arglist_new(TOOL_ROOK);
    arglist_append_copy(a, "r");
    arglist_append_output(a, "", output_file_name(intermediate ? "lpp" : "lib"));
    arglist_append_strings(a, intermediate ? bs.intermediates : bs.objects);
    return run_phase(a);
}

bool phase_library_order(const char *library, vector_t *modules)
{
    stage_timer("Library builder");
    arglist *a = arglist_new(TOOL_ROOK);
    arglist_append_copy(a, "o");
    arglist_append_copy(a, library);
    arglist_append_strings(a, modules);
    return run_phase(a);
}

bool phase_cross_reference()
{
    stage_timer("Cross reference");
    arglist *a = arglist_new(TOOL_TANAGER);
    if (settings.cr_listing)
        arglist_append_output(a, "-o", xstrdup(settings.cr_listing));
    char *crf = output_file_name("crf");
    arglist_appendf(a, "-h%s", crf);
    free(crf);
    arglist_append_copy(a, cross_reference_file());
    return run_phase(a);
}

bool phase_hex_output(const char *output, uint32_t bits)
{
    stage_timer("Output file conversion");
    arglist *a = arglist_new(TOOL_FINCH);
    if ((bits & OUT_UBROF) || has_extension(output, ".ubr"))
        arglist_append_copy(a, "-ub");
    else if (bits & OUT_TEK)
        arglist_append_copy(a, "-t");
    else if (bits & OUT_AAHEX)
        arglist_append_copy(a, "-ma");
    else if (bits & OUT_MOT)
        arglist_append_copy(a, "-m");
    else if (bits & OUT_TSK)
        arglist_append_copy(a, "-h");
    else if (bits & OUT_BIN)
        arglist_append_copy(a, "-b");
    else {
        arglist_append_copy(a, "-i");
        bits |= OUT_INTEL;
        opts.output |= OUT_INTEL;
    }
    if (bits & 0x80000D)
        arglist_append_copy(a, "-16,2");
    hex_conversion_args(a, bits);
    arglist_append_copy(a, link_object());
    arglist_append_output(a, "", xstrdup(output));
    bool ok = run_phase(a);
    if (ok && (bits & (OUT_INTEL | OUT_INHX032)))
        ok = phase_hex_merge(output, bits);
    return ok;
}

// The user writes a fill value as program words ("3FFF"), which is how the
// converter's -F takes it; the HEX utility takes bytes in file order, so
// each word's two bytes are swapped for it ("FF3F"). Two digits or fewer
// are one byte and stay as they are.
char *fill_bytes_for_hex(const char *fill)
{
    const char *at = strchr(fill, '@');
    std::string value(fill, at ? at : fill + strlen(fill));
    std::string rest = at ? at : "";
    if (value.size() <= 2 || value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return xstrdup(fill);
    while (value.size() % 4)
        value.insert(0, "0");
    std::string bytes;
    for (size_t i = 0; i < value.size(); i += 4)
        bytes += value.substr(i + 2, 2) + value.substr(i, 2);
    return xstrdup((bytes + rest).c_str());
}

static void append_fill(arglist *a)
{
    if (!settings.fill || strcasecmp(settings.fill, "off") == 0)
        return;
    char *fill = fill_bytes_for_hex(settings.fill);
    if (strchr(settings.fill, '@')) {
        arglist_appendf(a, "-fill=%s", fill);
        free(fill);
        return;
    }
    range_class *code = memory_code_space ? memory_code_space->classes : nullptr;
    if (!code || !code->available) {
        free(fill);
        msg_report(941, "--FILL", "--FILL", "=hexcode@start-end");
        return;
    }
    for (range_node *r = code->available; r; r = r->next)
        arglist_appendf(a, "-fill=%s@%lX-%lX", fill, static_cast<unsigned long>(r->lo),
                        static_cast<unsigned long>(r->hi));
    free(fill);
}

bool phase_hex_merge(const char *hexfile, uint32_t bits)
{
    if (!hexfile)
        return true;
    stage_timer("Output file conversion");
    arglist *a = arglist_new(TOOL_SISKIN);
    arglist_append_copy(a, hexfile);
    arglist_append_strings(a, bs.hexfiles);
    if (settings.ide_format)
        arglist_append_copy(a, "-E1");
    arglist_append_output(a, "-O", xstrdup(hexfile));
    arglist_append_output(a, "-logfile=", output_file_name("hxl"));
    if (bits & OUT_INHX032)
        arglist_append_copy(a, "-format=INHX032");
    arglist_append_copy(a, "-addressing=2");
    if (settings.serial)
        arglist_appendf(a, "-serial=%s", settings.serial);
    append_fill(a);
    if (settings.checksum_given) {
        const checksum_request &ck = settings.checksum;
        if (unsigned code = checksum_word_code())
            arglist_appendf(a, "-ck=%lX-%lX@%lX+%lXw%it%02Xg%i", ck.start, ck.end, ck.dest, ck.offset, ck.width,
                            code, ck.algorithm);
        else
            arglist_appendf(a, "-ck=%lX-%lX@%lX+%lXw%ig%i", ck.start, ck.end, ck.dest, ck.offset, ck.width,
                            ck.algorithm);
    }
    hex_merge_args(a);
    return run_phase(a);
}

// The code space's class names joined by ",".
static std::string code_class_names()
{
    std::string names;
    for (range_class *c = memory_code_space ? memory_code_space->classes : nullptr; c; c = c->next) {
        if (!names.empty())
            names += ",";
        names += c->name;
    }
    return names;
}

bool phase_debug_convert(const char *hexfile, const char *symfile, uint32_t bit)
{
    stage_timer("Output file conversion");
    bool omf = bit == OUT_OMF || bit == OUT_EOMF;
    if (!omf && !(bit & (OUT_COD | OUT_COFF | OUT_MCOF | OUT_ELF | OUT_HTK)))
        return true;
    // The database gives no processor number where the chips' public files
    // do not: a file that carries one is refused rather than written with
    // a made-up number (under --noexec, which writes nothing, the command
    // is shown as ever).
    if (bit == OUT_MCOF && !opts.noexec && chip_selected && !chip_selected->processor_id) {
        // a debug file nobody asked for does not fail a firmware build: the
        // default outputs go without it, with a warning
        if (driver_option(44)->times_given == 0) {
            msg_report(1608, chip_selected->name);
            return true;
        }
        msg_report(1535, chip_selected->name, "MCOF", "mcof");
        return false;
    }
    arglist *a = arglist_new(TOOL_EGRET);
    const char *chip = chip_selected ? chip_selected->name : "";
    const char *arch = chip_selected ? arch_name(chip_selected->architecture) : nullptr;
    if (omf) {
        arglist_append_copy(a, "-e");
    } else {
        arglist_append_copy(a, "-m");
        if (bit == OUT_MCOF)
            arglist_appendf(a, "-P%s,%s,%s", chip,
                            chip_selected && chip_selected->processor_id ? chip_selected->processor_id : "",
                            arch ? arch : "");
        else
            arglist_appendf(a, "-P%s,%s", chip, arch ? arch : "");
        arglist_appendf(a, "-N%s", code_class_names().c_str());
    }
    arglist_append_copy(a, hexfile);
    arglist_append_copy(a, symfile);
    for (const auto &k : converter_keys)
        if (k.bit == bit) {
            arglist_appendf(a, "-o%s", k.key);
            if (k.ext)
                arglist_note_output(a, output_file_name(k.ext));
        }
    if (settings.ide_format)
        arglist_append_copy(a, "-E1");
    if (omf)
        arglist_append_output(a, "", output_file_name("omf"));
    converter_args(a, bit);
    return run_phase(a);
}
