// The driver's main sequence: start-up, options, input classification,
// output naming, the phases for each source and for the whole build, the
// printf feature pre-pass, the stage times and the exit status.
//
// One build state lives for the whole run. A failed tool run does not stop
// the loop it is in; it is counted, and the next test of build_failed skips
// what depends on it.
#include "zeph.h"

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <vector>

build_state bs;

// The printf features the code generator reports, and the macro that builds
// each into the C library's printf.
static const struct {
    uint32_t bit;      // feature bit of the code generator's list
    const char *macro; // passed as -D<macro> when compiling doprnt.c
} printf_features[] = {
    {0x1, "SPCSIGN"},    {0x2, "MANSIGN"},     {0x4, "FILL"},        {0x8, "LEFT"},
    {0x10, "LONG"},      {0x20, "ALTERN"},     {0x40, "UPCASE"},     {0x80, "TEN"},
    {0x100, "EIGHT"},    {0x200, "COUNT"},     {0x400, "UNSIGN"},    {0x800, "EFMT"},
    {0x1000, "GFMT"},    {0x2000, "FFMT"},     {0x4000, "POINTER"},  {0x8000, "WIDTH"},
    {0x10000, "PRECISION"}, {0x20000, "STAR"}, {0x40000, "STRING"},  {0x80000, "CHAR"},
    {0x200000, "HEXUPCASE"}, {0x400000, "HEXLOWCASE"}, {0x800000, "CUSTOM_PRINTF"},
    {0x1000000, "RETVALUE"},
};

// Output-format bits and the extension of their file, first match wins.
static const struct {
    uint32_t bits;   // any of these
    const char *ext; // file extension
} output_extensions[] = {
    {0x1, "hex"}, {0x2, "tek"}, {0x4, "aahex"}, {0x8, "s19"}, {0x10, "ubr"}, {0x20, "bin"}, {0x20040, "tsk"},
};

long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

const char *output_extension(uint32_t bits)
{
    for (const auto &row : output_extensions)
        if (bits & row.bits)
            return row.ext;
    return "hex";
}

bool build_failed() { return bs.errors != 0 || msg_exit_status() != 0; }

static void message_to_stderr(const char *line)
{
    fputs(line, stderr);
    fflush(stderr);
}

void print_banner()
{
    if (bs.banner_printed)
        return;
    bs.banner_printed = true;
    if (!opts.quiet) {
        msg_print("Vormak C Compiler for PIC10/12/16 MCUs%s%s V%s", "", " ", bs.version);
        msg_print("Zeph toolchain for 8-bit PIC microcontrollers");
    }
    sys_join_stderr(settings.error_file ? settings.error_file : stdout);
}

// ---------------------------------------------------------------------------
// build state, inputs and output names
// ---------------------------------------------------------------------------

void build_state_create()
{
    for (vector_t **v : {&bs.sources, &bs.intermediates, &bs.ilibraries, &bs.objects, &bs.hexfiles,
                         &bs.defines, &bs.libnames, &bs.linker_opts, &bs.written, &bs.published, &bs.stages})
        *v = vec_new_default();
    memory_model_start();
    // Without an installation directory (a copy of the program outside a
    // bin directory, nothing recorded by --setup) nothing can be found, the
    // message file included: the run ends whatever kind the message has.
    char *root = install_dir(INST_ROOT);
    if (!root || !*root) {
        msg_report(1228);
        tool_exit(1);
    }
    free(root);
    bs.chipinfo_path = install_lookup(INST_DAT, "zeph.ini", "chip database");
    char *include = install_lookup(INST_INCLUDE, nullptr, "include directory");
    bs.include_arg = zeph_asprintf("-I%s", include);
    free(include);
    for (char *&t : bs.temp)
        t = os_temp_name();
    for (const char *d : {"-DVORMAK_C", "-D__ZEPH__", "-D__ZEPHPRO__", "-SP1,1,1,1,1,1,1,1"})
        vec_push(bs.defines, xstrdup(d));
    bs.created = true;
}

void add_file_argument(const char *name) { vec_push(bs.file_args, xstrdup(name)); }

void classify_input(const char *name)
{
    bs.classified++;
    if (is_asm_source(name)) {
        vec_push(bs.sources, xstrdup(name));
        vec_push(bs.objects, object_file_name(name, "obj"));
    } else if (has_extension(name, ".c") || has_extension(name, ".usb")) {
        vec_push(bs.sources, xstrdup(name));
        vec_push(bs.intermediates, object_file_name(name, "plover"));
    } else if (has_extension(name, ".plover")) {
        vec_push(bs.intermediates, xstrdup(name));
    } else if (has_extension(name, ".lpp")) {
        vec_push(bs.ilibraries, xstrdup(name));
    } else if (has_extension(name, ".obj") || has_extension(name, ".lib")) {
        vec_push(bs.objects, xstrdup(name));
    } else if (has_extension(name, ".hex")) {
        vec_push(bs.hexfiles, xstrdup(name));
    } else {
        msg_report(894, name);
    }
}

void set_output_dir(const char *path)
{
    if (!os_is_directory(path)) {
        msg_report(1180, path);
        return;
    }
    char *abs = os_path_absolute(path);
    if (bs.output_dir && strcmp(bs.output_dir, abs) != 0)
        msg_report(1255);
    if (bs.output_dir)
        free(abs);
    else
        bs.output_dir = abs;
}

void set_output_name(const char *path)
{
    char *dir = os_path_dirname(path);
    if (dir && *dir && strcmp(path, os_path_basename(path)) != 0)
        set_output_dir(dir);
    free(dir);
    const char *base = os_path_basename(path);
    // "-Odir/" names a directory: there is no name to give the outputs.
    if (!*base) {
        msg_report(673, "-O");
        return;
    }
    free(bs.output_name);
    size_t n = strlen(base);
    if (n && base[n - 1] == '.')
        bs.output_name = xstrdup(base);
    else
        bs.output_name = replace_extension(base, opts.compile_only ? "obj" : output_extension(OUT_INTEL));
}

// ---------------------------------------------------------------------------
// stage times
// ---------------------------------------------------------------------------

void stage_timer(const char *name)
{
    long long now = now_ms();
    if (bs.stage) {
        if (name && strcmp(name, bs.stage->name) == 0)
            return;
        bs.stage->ms += static_cast<int32_t>(now - bs.stage_start);
        bs.stage = nullptr;
    }
    bs.stage_start = now;
    if (!name || !bs.stages)
        return;
    for (uint32_t i = 0; i < vec_count(bs.stages); i++) {
        auto *s = static_cast<stage_record *>(vec_get(bs.stages, i));
        if (strcmp(s->name, name) == 0) {
            bs.stage = s;
            return;
        }
    }
    auto *s = static_cast<stage_record *>(xmalloc(sizeof(stage_record)));
    s->name = name;
    vec_push(bs.stages, s);
    bs.stage = s;
}

static void print_stage_times()
{
    stage_timer(nullptr);
    int width = 0;
    for (uint32_t i = 0; i < vec_count(bs.stages); i++)
        width = std::max(width, static_cast<int>(strlen(static_cast<stage_record *>(vec_get(bs.stages, i))->name)));
    msg_print("Compilation stage times:");
    for (uint32_t i = 0; i < vec_count(bs.stages); i++) {
        auto *s = static_cast<stage_record *>(vec_get(bs.stages, i));
        msg_print("%-*s%9.2f", width, s->name, s->ms / 1000.0);
    }
    msg_print("%-*s%9.2f secs", width, "TOTAL", static_cast<double>(now_ms() - bs.start_ms) / 1000.0);
}

// ---------------------------------------------------------------------------
// sources
// ---------------------------------------------------------------------------

void compile_source(const char *name)
{
    char *base = object_file_name(name, "");
    const char *source = name;
    bool usb = has_extension(name, ".usb");
    if (usb) {
        if (!compile_usb(name, bs.temp[1])) {
            free(base);
            return;
        }
        source = bs.temp[1];
    }
    if (usb || opts.asmlist || phase_listing(source, base)) {
        if (phase_preprocess(source, base) && !settings.pre && !opts.scandep)
            phase_parse(base);
    }
    free(base);
}

static void assemble_source(const char *name)
{
    if (opts.asm_only || opts.scandep)
        return;
    char *base = object_file_name(name, "");
    const char *input = name;
    bool ok = true;
    if (opts.preprocess_asm || settings.pre) {
        ok = phase_preprocess(name, base);
        input = bs.temp[0];
    }
    if (ok && !settings.pre)
        phase_assemble(base, input, true);
    free(base);
}

static void compile_sources()
{
    bool show = !opts.quiet && !settings.ide_format && vec_count(bs.sources) > 1;
    for (uint32_t i = 0; i < vec_count(bs.sources); i++) {
        auto *name = static_cast<const char *>(vec_get(bs.sources, i));
        if (show)
            msg_print("%s", name);
        if (is_asm_source(name))
            assemble_source(name);
        else
            compile_source(name);
    }
}

// ---------------------------------------------------------------------------
// code generation with the printf pre-pass
// ---------------------------------------------------------------------------

static vector_t *codegen_inputs()
{
    vector_t *in = vec_dup(bs.intermediates);
    vec_append(in, bs.ilibraries);
    return in;
}

// Reads the printf feature list of the pre-pass: one function per line and
// its feature bits. Returns the mask.
static uint32_t read_printf_features(FILE *f)
{
    uint32_t mask = 0;
    std::string line;
    while (os_read_line(f, line)) {
        char *copy = xstrdup(line.c_str());
        char *save = nullptr;
        char *name = strtok_r(copy, " \t\n", &save);
        char *bits = name ? strtok_r(nullptr, " \t\n", &save) : nullptr;
        if (name) {
            os_str_upper(name);
            vec_push(bs.defines, zeph_asprintf("-D%s", name[0] == '_' ? name + 1 : name));
        }
        if (bits)
            mask |= static_cast<uint32_t>(strtoul(bits, nullptr, 10));
        free(copy);
    }
    return mask;
}

// The code generator lists the printf features the program uses; the C
// library's printf is then compiled with just those. False when the real
// code generation must not run.
static bool printf_prepass()
{
    vector_t *in = codegen_inputs();
    bool ok = phase_codegen(bs.temp[0], in, true);
    vec_free(in);
    if (!ok)
        return false;
    // Under --noexec nothing wrote the list: it is taken as empty.
    if (opts.noexec || settings.getoption)
        return true;
    FILE *f = fopen(bs.temp[0], "r");
    if (!f) {
        msg_report(141, "temp", bs.temp[0]);
        return false;
    }
    uint32_t mask = read_printf_features(f);
    fclose(f);
    if (!mask)
        return true;
    for (const auto &row : printf_features)
        if (mask & row.bit)
            vec_push(bs.defines, zeph_asprintf("-D%s", row.macro));
    bs.library_source = install_lookup(INST_LIB, "doprnt.c", "C library source");
    classify_input(bs.library_source);
    compile_source(bs.library_source);
    return !build_failed();
}

static void generate_code()
{
    if (build_failed() || settings.pre || opts.scandep || vec_count(bs.intermediates) == 0)
        return;
    if (settings.pass1)
        return;
    if (!(opts.runtime & RT_CLIB) || printf_prepass()) {
        vector_t *in = codegen_inputs();
        char *base = output_file_name("");
        if (phase_codegen(base, in, false) && !(opts.output & OUT_LPP) &&
            (!opts.asm_only || (opts.opt & 0xFF)))
            phase_assemble(base, bs.temp[0], false);
        free(base);
        vec_free(in);
    }
    vec_insert_at(bs.objects, output_file_name("obj"), 0);
}

// ---------------------------------------------------------------------------
// link and output conversion
// ---------------------------------------------------------------------------

static void choose_map_name()
{
    if (settings.map_requested && settings.map_name) {
        bs.map_file = xstrdup(settings.map_name);
    } else if (settings.map_requested) {
        bs.map_file = output_file_name("map");
    } else {
        char *name = replace_extension(bs.output_name ? bs.output_name : "l", "map");
        bs.temp_map = run_file(name);
        free(name);
        bs.map_file = xstrdup(bs.temp_map);
    }
}

// Every set bit of `mask` in opts.output, lowest first.
template <typename Fn> static void for_each_output_bit(uint32_t mask, Fn fn)
{
    for (uint32_t bit = 1; bit; bit <<= 1)
        if (opts.output & mask & bit)
            fn(bit);
}

static void convert_outputs()
{
    char *hex = output_file_name("hex");
    phase_hex_output(hex, OUT_INTEL);
    for_each_output_bit(0xFFC00, [&](uint32_t bit) { phase_debug_convert(hex, bs.symbol_file, bit); });
    for_each_output_bit(0x8003FE, [&](uint32_t bit) {
        char *out = output_file_name(output_extension(bit));
        phase_hex_output(out, bit);
        free(out);
    });
    free(hex);
}

static void link_and_convert()
{
    bs.symbol_file = settings.symbol_file ? xstrdup(settings.symbol_file) : output_file_name("sym");
    if (opts.ide == IDE_TARNEL) {
        set_formats("Error #%n: %f; %l: %s", "Warning #%n: %f; %l: %s", "Advisory #%n: %f; %l: %s");
    }
    choose_map_name();
    bool linked = phase_link();
    if (linked)
        convert_outputs();
    if (vec_count(bs.sources) == 1 && bs.classified == 1 && vec_count(bs.objects) == 1)
        delete_temp(static_cast<const char *>(vec_get(bs.objects, 0)));
    delete_temp(link_object());
    if (settings.getoption || !linked)
        return;
    // A map no linker wrote (--noexec, linker switched off) is skipped there.
    print_map_summary(bs.map_file, opts.summary & SUMMARY_FILE);
    if (settings.cross_reference && settings.cr_listing) {
        phase_cross_reference();
        delete_temp(cross_reference_file());
    }
}

// ---------------------------------------------------------------------------
// start-up and the main sequence
// ---------------------------------------------------------------------------

// "-16F877A" stands for "--chip=16F877A"; true when one was rewritten.
static bool rewrite_old_chip_arguments(int argc, char **argv)
{
    bool rewritten = false;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] == '-' && argv[i][1] >= '0' && argv[i][1] <= '9') {
            argv[i] = zeph_asprintf("--chip=%s", argv[i] + 1);
            rewritten = true;
        }
    }
    return rewritten;
}

static void start_up(int argc, char **argv)
{
    bs.start_ms = now_ms();
    settings.old_chip_syntax = rewrite_old_chip_arguments(argc, argv);
    settings.formats[0] = "%f: %l: (%n) %s (error)";
    settings.formats[1] = "%f: %l: (%n) %s (warning)";
    settings.formats[2] = "%f: %l: (%n) %s (advisory)";
    bs.command_line = vec_new_default();
    for (int i = 0; i < argc; i++)
        vec_push(bs.command_line, xstrdup(argv[i]));
    snprintf(bs.version, sizeof bs.version, "%d.%02dPL%d", 9, 60, 5);
    bs.file_args = vec_new_default();
    options_set_defaults();
    msg_set_tool_name("zeph");
    msg_set_output_hook(message_to_stderr);
    msg_set_error_limit(20);
}

// Steps after option processing up to the per-source work.
static void settle_options()
{
    vec_push(bs.defines, xstrdup(bs.include_arg));
    if (opts.echo) {
        msg_print("Command line:");
        for (uint32_t i = 0; i < vec_count(bs.command_line); i++)
            msg_print("%s", static_cast<const char *>(vec_get(bs.command_line, i)));
    }
    os_keep_temp_files(opts.nodel);
    if (opts.flt & FLT_DOUBLE)
        opts.flt = opts.dbl;
    if (!bs.output_dir)
        bs.output_dir = os_path_absolute(".");
    if (!bs.object_dir)
        bs.object_dir = xstrdup(bs.output_dir);
    if (opts.ide == IDE_TARNEL)
        set_formats("Error #%n: %f; %l: %s (col %c)", "Warning #%n: %f; %l: %s (col %c)",
                    "Advisory #%n: %f; %l: %s (col %c)");
    if (settings.setoption && settings.getoption)
        msg_report(895);
    if (static_cast<int32_t>(opts.warn) != 0)
        bs.warn_arg = zeph_asprintf("-W%d", static_cast<int32_t>(opts.warn));
    read_osc_calibration();
    if (const char *macro = memory_model_finish(chip_selected, opts.debugger, opts.runtime))
        vec_push(bs.defines, xstrdup(macro));
    if (!opts.asm_only && !opts.compile_only && !opts.scandep) {
        if (range_space_free_size(memory_data_space) == 0)
            msg_report(896);
        if (range_space_free_size(memory_code_space) == 0)
            msg_report(897);
    }
}

static void classify_inputs()
{
    for (uint32_t i = 0; i < vec_count(bs.file_args); i++)
        classify_input(static_cast<const char *>(vec_get(bs.file_args, i)));
    if (bs.classified == 0 && !settings.setoption)
        msg_report(939);
    if (settings.old_chip_syntax) {
        msg_report(1207);
        msg_report(1208);
    }
    if (opts.ident_length < 31)
        opts.ident_length = 31;
}

static void name_output()
{
    if (bs.output_name)
        return;
    for (vector_t *v : {bs.sources, bs.intermediates, bs.objects, bs.hexfiles})
        if (vec_count(v)) {
            set_output_name(os_path_basename(static_cast<const char *>(vec_get(v, 0))));
            return;
        }
    msg_report(836);
}

// The files named after the output that this run writes must not be any of
// its input files: "zeph main.c main.hex" would write the program over the
// HEX file it is to merge, "zeph -C main.c main.obj" the object over the
// object given; nor may a source's own product: "zeph a.c a.plover" would
// have the parser write over a.plover. Checked before any program runs; the
// file arguments are dropped afterwards.
static void refuse_outputs_over_inputs()
{
    std::vector<char *> outputs;
    // Each source's own product: the parser's intermediate file, the
    // assembler's object.
    for (uint32_t i = 0; !settings.pre && !opts.scandep && i < vec_count(bs.sources); i++) {
        auto *src = static_cast<const char *>(vec_get(bs.sources, i));
        if (!is_asm_source(src))
            outputs.push_back(object_file_name(src, "plover"));
        else if (!opts.asm_only)
            outputs.push_back(object_file_name(src, "obj"));
    }
    bool generates = !settings.pre && !opts.scandep && !settings.pass1 && vec_count(bs.intermediates) &&
                     !(opts.output & OUT_LPP);
    // The program's own object (its assembly under -S).
    if (generates)
        outputs.push_back(output_file_name(opts.asm_only ? "as" : "obj"));
    // Two of these of one name ("src/util.c" and "lib/util.c", or "main.as"
    // beside the program's own main.obj): the later would be written over
    // the earlier and the program would lose a module.
    std::set<std::string> products;
    for (const char *p : outputs)
        if (!products.insert(p).second) {
            msg_report(1489, p);
            break;
        }
    if (generates)
        outputs.push_back(output_file_name("sdb"));
    if (!opts.asm_only && !opts.compile_only && !opts.scandep && !(opts.output & (OUT_LIB | OUT_LPP))) {
        outputs.push_back(settings.symbol_file ? xstrdup(settings.symbol_file) : output_file_name("sym"));
        if (settings.map_requested && !settings.map_name)
            outputs.push_back(output_file_name("map"));
        outputs.push_back(output_file_name("hex"));
        outputs.push_back(output_file_name("hxl"));
        for_each_output_bit(0x8003FE, [&](uint32_t bit) { outputs.push_back(output_file_name(output_extension(bit))); });
    }
    for (char *out : outputs) {
        for (uint32_t i = 0; bs.output_name && i < vec_count(bs.file_args); i++) {
            auto *in = static_cast<const char *>(vec_get(bs.file_args, i));
            if (strcmp(in, out) == 0 || os_same_file(in, out)) {
                msg_report(1470, out);
                break;
            }
        }
        free(out);
    }
    free_strings(bs.file_args);
    bs.file_args = nullptr;
}

void publish_on_success(char *from, char *to)
{
    vec_push(bs.published, from);
    vec_push(bs.published, to);
}

// Moves the run's own files that are products into place; one never
// written (--noexec) is passed over.
static void publish_products()
{
    for (uint32_t i = 0; i + 1 < vec_count(bs.published); i += 2) {
        auto *from = static_cast<const char *>(vec_get(bs.published, i));
        auto *to = static_cast<const char *>(vec_get(bs.published, i + 1));
        if (os_file_exists(from) && os_move_file(from, to) != 0) {
            msg_report(1521, "runtime startup", to);
            tool_exit(1);
        }
    }
}

static int finish()
{
    if (!build_failed())
        publish_products();
    if (opts.time)
        print_stage_times();
    return build_failed() ? 1 : 0;
}

int build_main(int argc, char **argv)
{
    start_up(argc, argv);
    if (argc == 1) {
        print_banner();
        if (os_isatty(stdin)) {
            msg_report(880, "ZEPH");
            return build_failed() ? 1 : 0;
        }
        puts("Enter ZEPH --HELP for help");
        fflush(stdout);
    }
    // The start-up action inside the table creates the build state.
    if (parse_options(driver_options, argc, argv, add_file_argument, "ZEPH"))
        return 0;
    settle_options();
    classify_inputs();
    name_output();
    refuse_outputs_over_inputs();
    if (settings.cross_reference)
        if (FILE *f = fopen(cross_reference_file(), "w+"))
            fclose(f);
    // The banner (unless -Q), and from here on standard error goes to the
    // -E file or standard output.
    print_banner();
    sys_join_stderr(settings.error_file ? settings.error_file : stdout);
    if (settings.ide_format)
        sys_line_buffering();
    if (build_failed())
        return finish();

    // Each source through its own phases, in command-line order.
    compile_sources();
    if (opts.output & OUT_LPP) {
        phase_library(true);
        return finish();
    }
    // The objects and libraries given tell the code generator what lies
    // outside the C sources.
    obj_scan();
    generate_code();
    if (chip_selected)
        define_psect_catalogue(chip_selected);
    // From here on the program is whole: link, convert, summarise.
    if (!build_failed() && !opts.asm_only && !opts.compile_only && !opts.scandep && !(opts.output & OUT_LIB))
        link_and_convert();
    if (opts.output & OUT_LIB)
        phase_library(false);
    return finish();
}

// A failed run leaves none of the outputs its programs were run to write:
// a HEX file beside a failing exit would pass for up to date with make.
static void remove_written()
{
    for (uint32_t i = 0; i < vec_count(bs.written); i++) {
        auto *path = static_cast<const char *>(vec_get(bs.written, i));
        if (!os_file_exists(path))
            continue;
        if (settings.verbose)
            msg_print("del %s", path);
        remove(path);
    }
}

int build_cleanup(int status)
{
    if (status == 0 && build_failed())
        status = 1;
    if (!bs.created)
        return status;
    if (status != 0)
        remove_written();
    for (char *t : bs.temp)
        delete_temp(t);
    delete_temp(bs.temp_map);
    return status;
}
