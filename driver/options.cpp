// The driver's options table, its choice tables and the option handlers.
//
// Each row of driver_options is one option record for the engine in vkopt.cpp;
// the rows are listed in processing order (priority, highest first; the
// "negative" priorities are the first of all as unsigned numbers). Options of
// kinds 1-7 write straight into `opts`; the handlers below act at once or
// record what later phases need in `settings`.
#include "zeph.h"

#include <cctype>
#include <csignal>
#include <cstring>

option_values opts;
driver_settings settings;

#define NEG(n) static_cast<uint32_t>(-(n))

// ---------------------------------------------------------------------------
// choice tables: value, names, help text, argument buffer, default mark
// ---------------------------------------------------------------------------
static choice_row ide_rows[] = {
    {IDE_TARNEL, "tarnel", "Vormak Software Tarnel", nullptr, 0},
    {IDE_MPLAB, "mplab", "Microchip MPLAB", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

static choice_row summary_rows[] = {
    {0x1, "psect", "Displays memory psect usage", nullptr, 0},
    {0x10, "class", "Displays memory class usage", nullptr, 0},
    {0x2, "mem", "Displays overall memory usage", nullptr, 1},
    {0x4, "hex", "Displays HEX file usage", nullptr, 0},
    {0x8, "file", "Summary information is put into a file as well as on screen", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

static choice_row warn_rows[] = {
    {NEG(9), "-9", "Level -9", nullptr, 0}, {NEG(8), "-8", "Level -8", nullptr, 0},
    {NEG(7), "-7", "Level -7", nullptr, 0}, {NEG(6), "-6", "Level -6", nullptr, 0},
    {NEG(5), "-5", "Level -5", nullptr, 0}, {NEG(4), "-4", "Level -4", nullptr, 0},
    {NEG(3), "-3", "Level -3", nullptr, 0}, {NEG(2), "-2", "Level -2", nullptr, 0},
    {NEG(1), "-1", "Level -1", nullptr, 0}, {0, "0", "Level 0", nullptr, 1},
    {1, "1", "Level 1", nullptr, 0},        {2, "2", "Level 2", nullptr, 0},
    {3, "3", "Level 3", nullptr, 0},        {4, "4", "Level 4", nullptr, 0},
    {5, "5", "Level 5", nullptr, 0},        {6, "6", "Level 6", nullptr, 0},
    {7, "7", "Level 7", nullptr, 0},        {8, "8", "Level 8", nullptr, 0},
    {9, "9", "Level 9", nullptr, 0},        {0, nullptr, nullptr, nullptr, 0},
};

static choice_row opt_rows[] = {
    {0x100, "1", "level 1", nullptr, 0},
    {0x200, "2", "level 2", nullptr, 0},
    {0x400, "3", "level 3", nullptr, 0},
    {0x800, "4", "level 4", nullptr, 0},
    {0x1000, "5", "level 5", nullptr, 0},
    {0x2000, "6", "level 6", nullptr, 0},
    {0x4000, "7", "level 7", nullptr, 0},
    {0x8000, "8", "level 8", nullptr, 0},
    {0x10000, "9", "level 9", nullptr, 1},
    {0x1, "asm", "Optimize asm code generated from C", nullptr, 1},
    {0x2, "asmfile", "Optimize assembler files", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

choice_row output_rows[] = {
    {0x1, "intel;inhx32", "Intel Hex", nullptr, 0},
    {0x2, "tek;tektronic", "Tektronic Hex", nullptr, 0},
    {0x4, "aahex", "American Automation Hex", nullptr, 0},
    {0x8, "mot;motorola;s19", "Motorola Hex", nullptr, 0},
    {0x10, "ubrof", "UBROF", nullptr, 0},
    {0x20, "bin;binary", "Binary", nullptr, 0},
    {0x4000, "elf", "ELF/DWARF", nullptr, 0},
    {0x400, "cod", ".COD", nullptr, 0},
    {0x1000, "mcof;mcoff;mpcoff", "Microchip PIC COFF", nullptr, 0},
    {0x800, "cof;coff", "Common Object File Format", nullptr, 0},
    {0x200000, "lib", "library file", nullptr, 0},
    {0x400000, "lpp", "p-code library file", nullptr, 0},
    {0x800000, "inhx032", "Intel Hex, extend address zero", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

static choice_row callgraph_rows[] = {
    {0, "std", "Short form", nullptr, 1},
    {2, "crit", "Critical paths only", nullptr, 0},
    {3, "full", "Fully expanded", nullptr, 0},
    {1, "none", "None", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

static choice_row double_rows[] = {
    {1, "24", "Double type is 24-bits", nullptr, 0},
    {2, "32", "Double type is 32-bits", nullptr, 0},
    {0x100, "fast32", "Fast 32-bit double libraries", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

static choice_row float_rows[] = {
    {0x400, "double", "Float type the same as double", nullptr, 0},
    {1, "24", "Float type is 24-bits", nullptr, 0},
    {2, "32", "Float type is 32-bits", nullptr, 0},
    {0x100, "fast32", "Fast 32-bit Float libraries", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

// The argument of --runtime=oscval:<value>.
static char oscval_buffer[OPTION_ARG_SIZE];

choice_row runtime_rows[] = {
    {0x1, "init", "Initialization of data psects", nullptr, 1},
    {0x2, "clear", "Clearing of bss psects", nullptr, 1},
    {0x4, "clib", "Link in C Libraries", nullptr, 1},
    {0x10, "keep", "Keep generated runtime startup code", nullptr, 1},
    {0x10000, "osccal", "Initialize the oscillator with the oscillator constant", nullptr, 0},
    {0x20000, "resetbits", "Preserve Power-down & Time-out status bits at start up", nullptr, 0},
    {0x40000, "download", "Compile a program that will be installed via a bootloader", nullptr, 0},
    {0x100000, "stackwarn", "Issue a warning on calls to functions that may overflow the stack", nullptr, 0},
    {0x200000, "stackcall", "Function calls use stack while available, then use lookup table", nullptr, 0},
    {0x400000, "oscval", "Set the internal clock oscillator calibration value.", oscval_buffer, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

static choice_row debugger_rows[] = {
    {0x1, "none", "no debugger", nullptr, 0},
    {0x2, "icd;icd1", "MPLAB ICD", nullptr, 0},
    {0x4, "icd2", "MPLAB ICD2", nullptr, 0},
    {0x40, "icd3", "MPLAB ICD3", nullptr, 0},
    {0x8, "pickit2", "MPLAB PICKit 2", nullptr, 0},
    {0x10, "pickit3", "MPLAB PICKit 3", nullptr, 0},
    {0x20, "realice", "MPLAB REAL ICE", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

static choice_row bankqual_rows[] = {
    {0x1, "ignore", "bank qualifiers are ignored", nullptr, 0},
    {0x2, "request", "try to locate variable in requested bank, if bank unavailable use another bank", nullptr, 0},
    {0x4, "require", "locate variable in required bank, if bank unavailable produce error", nullptr, 0},
    {0x8, "reject", "bank qualifiers are not allowed and will result in an error being produced", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

static choice_row char_rows[] = {
    {0x1, "unsigned", "(defunct) char type is unsigned", nullptr, 0},
    {0x2, "signed", "(defunct) char type is signed", nullptr, 0},
    {0, nullptr, nullptr, nullptr, 0},
};

const char *oscval_text() { return oscval_buffer; }

// ---------------------------------------------------------------------------
// handlers
// ---------------------------------------------------------------------------

// A file an option names for the build to write must not be one of its
// input files; true (after message 1470) when it is.
static bool names_input_file(const char *name)
{
    if (!option_names_input_file(name))
        return false;
    msg_report(1470, name);
    return true;
}

static void opt_lang(option_record *, const char *value)
{
    if (!value)
        return;
    int id = lang_id_from_name(value);
    if (id > 0) {
        settings.lang_id = id;
        msg_open_language(id);
    }
}

static void opt_help(option_record *opt, const char *value) { print_help(opt, value); }

// --setup: records the installation directory, or shows the one known.
static void opt_setup(option_record *, const char *value)
{
    print_banner();
    std::string dir = value ? value : "";
    if (!value) {
        if (char *root = install_dir(INST_ROOT)) {
            printf("%s\n", root);
            fflush(stdout);
            tool_exit(0);
        }
    }
    if (!dir.empty() && os_is_directory(dir.c_str()) && install_dir_set(dir.c_str()) == 0) {
        msg_open_language(9);
        if (settings.lang_id)
            lang_init();
        msg_report(881);
        tool_exit(0);
    }
    if (dir.empty() || !os_is_directory(dir.c_str()))
        msg_report_text(1180, "E", "Directory \"%s\" does not exist.", dir.c_str());
    msg_report_text(883, "E", "Setup failed.");
    tool_exit(8);
}

static void on_interrupt(int) { tool_exit(1); }

// Runs after --lang, --help and --setup, before every other option.
static void opt_startup(option_record *)
{
    if (signal(SIGINT, SIG_IGN) != SIG_IGN)
        signal(SIGINT, on_interrupt);
    build_state_create();
}

static void export_formats()
{
    os_setenv("VRK_ERR_FORMAT", settings.formats[0]);
    os_setenv("VRK_WARN_FORMAT", settings.formats[1]);
    os_setenv("VRK_MSG_FORMAT", settings.formats[2]);
}

void set_formats(const char *error, const char *warning, const char *advisory)
{
    settings.formats[0] = error;
    settings.formats[1] = warning;
    settings.formats[2] = advisory;
    export_formats();
}

static void opt_ide_formats(option_record *)
{
    if (opts.ide == IDE_TARNEL)
        set_formats("Error #%n: %f; %l: %s", "Warning #%n: %f; %l: %s", "Advisory #%n: %f; %l: %s");
    else if (opts.ide == IDE_MPLAB)
        set_formats("Error[%n] %f %l : %s", "Warning[%n] %f %l : %s", "Advisory[%n] %f %l : %s");
    else
        return;
    settings.ide_format = true;
    msg_set_formats(settings.formats[0], settings.formats[1], settings.formats[2]);
    msg_set_format_mode(1);
}

// -E<file> empties the file, -E+<file> appends to it; -E+ alone opens nothing.
static void opt_error_file(option_record *, const char *value)
{
    settings.ide_format = true;
    bool append = value[0] == '+';
    const char *name = append ? value + 1 : value;
    if (!*name)
        return;
    if (names_input_file(name))
        return;
    FILE *f = nullptr;
    if (append && (f = fopen(name, "r+")) != nullptr)
        fseek(f, 0, SEEK_END);
    if (!f)
        f = fopen(name, "w");
    if (!f) {
        msg_report_text(141, "E", "can't open %s file \"%s\": %m", "error", name);
        return;
    }
    settings.error_file = f;
}

static void opt_msgdisable(option_record *opt, const char *value)
{
    if (!value) {
        msg_report(906, option_display_name(opt));
        return;
    }
    settings.msgdisable = xstrdup(value);
    msg_parse_disable_list(value);
}

// --errformat, --warnformat, --msgformat (ids 6, 7, 8).
static void opt_custom_format(option_record *opt, const char *value)
{
    static const char *const vars[] = {"VRK_ERR_FORMAT", "VRK_WARN_FORMAT", "VRK_MSG_FORMAT"};
    settings.ide_format = true;
    if (!value)
        return;
    int i = option_id(opt) - 6;
    settings.formats[i] = xstrdup(value);
    os_setenv(vars[i], value);
    msg_set_format_mode(1);
    msg_set_formats(nullptr, nullptr, nullptr);
}

static void opt_verbose(option_record *, const char *) { settings.verbose++; }

static void opt_warning_level(option_record *) { msg_set_warning_level(static_cast<int32_t>(opts.warn)); }

static void opt_chipinfo(option_record *, const char *)
{
    chipinfo_list(bs.chipinfo_path, settings.verbose > 0, stdout);
    fflush(stdout);
}

static void opt_ver(option_record *, const char *) { print_banner(); }

// --memmap: runs after the chip and the memory options, so that the summary
// sees the finished memory model.
static void opt_memmap(option_record *, const char *value)
{
    memory_model_finish(chip_selected, opts.debugger, opts.runtime);
    define_psect_catalogue(chip_selected);
    memmap_summary(value);
}

// --getoption and --setoption: "<program>,<file>".
static void opt_config_file(option_record *opt, const char *value)
{
    bool get = option_id(opt) == 14;
    const char *comma = strchr(value, ',');
    if (!comma) {
        msg_report(904, option_display_name(opt));
        return;
    }
    std::string program(value, comma);
    uint32_t limit = get ? TOOL_COUNT : TOOL_TANAGER;
    for (uint32_t t = 0; t < limit; t++) {
        if (!strstr(tool_names[t], program.c_str()))
            continue;
        if (get && names_input_file(comma + 1))
            return;
        free(settings.option_files[t]);
        settings.option_files[t] = xstrdup(comma + 1);
        if (get) {
            settings.getoption = true;
            opts.quiet = 1;
        } else {
            settings.setoption = true;
        }
        return;
    }
    msg_report(905, option_display_name(opt));
}

static void opt_chip(option_record *, const char *value)
{
    for (range_space *s = memory_spaces; s; s = s->next)
        range_space_clear(s);
    chipinfo_lookup(bs.chipinfo_path, value);
}

// Everything after this row needs a chip. Message 902 is fatal, but its kind
// comes from the message file: a damaged file must not let the run go on.
static void opt_chip_check(option_record *)
{
    if (chip_selected)
        return;
    msg_report(902, "ZEPH");
    tool_exit(1);
}

// --rom and --ram (ids 51, 52).
static void opt_memory(option_record *opt, const char *value)
{
    memory_option_kind which = option_id(opt) == OPTID_ROM ? MEMORY_ROM : MEMORY_RAM;
    int n = memory_apply_option(which, value);
    if (n == 906)
        msg_report(906, option_display_name(opt));
    else if (n == 907)
        msg_report(907, value + (value[0] == '+'), option_display_name(opt));
}

static void opt_error_limit(option_record *)
{
    if (opts.errors)
        msg_set_error_limit(opts.errors);
}

static void opt_symbols(option_record *, const char *value)
{
    if (value && names_input_file(value))
        return;
    if (value && strcasecmp(value, "off") != 0) {
        free(settings.symbol_file);
        settings.symbol_file = xstrdup(value);
    }
}

static void opt_pass1(option_record *, const char *)
{
    settings.pass1 = true;
    opts.compile_only = 1;
}

static void opt_pre(option_record *, const char *)
{
    settings.pre = true;
    opts.compile_only = 1;
}

static void opt_cross_reference(option_record *, const char *value)
{
    settings.cross_reference = true;
    if (value && names_input_file(value))
        return;
    if (value) {
        free(settings.cr_listing);
        settings.cr_listing = xstrdup(value);
    }
}

static void opt_output_name(option_record *, const char *value) { set_output_name(value); }

static void opt_outdir(option_record *, const char *value)
{
    set_output_dir(value);
    if (!bs.object_dir)
        bs.object_dir = xstrdup(bs.output_dir);
}

static void opt_objdir(option_record *, const char *value)
{
    if (!os_is_directory(value)) {
        msg_report(1180, value);
        return;
    }
    free(bs.object_dir);
    bs.object_dir = os_path_absolute(value);
}

static void opt_strict(option_record *opt, const char *)
{
    msg_report(913, option_display_name(opt));
    settings.strict = true;
}

// -L-<option> is an extra linker option; -L<name> names a C library.
static void opt_linker(option_record *, const char *value)
{
    if (value && value[0] == '-')
        vec_push(bs.linker_opts, xstrdup(value));
    else
        vec_push(bs.libnames, xstrdup(value ? value : ""));
}

// -D, -I and -U (ids 22, 23, 38) join the preprocessor's arguments.
static void opt_define(option_record *opt, const char *value)
{
    vec_push(bs.defines, zeph_asprintf("-%s%s", opt->name, value));
    if (option_id(opt) == 22 && strncmp(value, "__DEBUG", 7) == 0)
        settings.debug_build = true;
}

static void opt_map(option_record *, const char *value)
{
    settings.map_requested = true;
    if (value && names_input_file(value))
        return;
    if (value) {
        free(settings.map_name);
        settings.map_name = xstrdup(value);
    }
}

static void opt_fill(option_record *, const char *value)
{
    free(settings.fill);
    settings.fill = xstrdup(value);
}

// --serial=<hex code>[@<address>]: the code's program words are kept free.
static void opt_serial(option_record *, const char *value)
{
    free(settings.serial);
    settings.serial = xstrdup(value);
    unsigned digits = 0;
    while (isxdigit(static_cast<unsigned char>(value[digits])))
        digits++;
    settings.serial_words = (digits + 3) / 4;
    if (value[digits] != '@')
        return;
    char *end = nullptr;
    unsigned long address = strtoul(value + digits + 1, &end, 16);
    if (end == value + digits + 1 || settings.serial_words == 0)
        return;
    settings.serial_at = true;
    settings.serial_address = address;
    rom_ram_remove(const_cast<memory_option_kind *>(&memory_rom_option), static_cast<uint32_t>(address),
                   static_cast<uint32_t>(address + settings.serial_words - 1));
}

static void opt_codeoffset_apbank(option_record *opt, uint32_t value)
{
    codeoffset_apbank_handler(option_id(opt), value);
}

// Reads a hexadecimal address at *p; the next character must be `after`
// (0: anything). False when no digit is there or the separator is missing.
static bool checksum_address(const char **p, char after, unsigned long *out)
{
    char *end = nullptr;
    *out = strtoul(*p, &end, 16);
    if (end == *p || !isxdigit(static_cast<unsigned char>(**p)))
        return false;
    *p = end;
    if (after && **p != after)
        return false;
    if (after)
        (*p)++;
    return true;
}

// One ",key=value" item of --checksum; false when unknown or unreadable.
static bool checksum_item(const std::string &item)
{
    size_t eq = item.find('=');
    if (eq == std::string::npos)
        return false;
    std::string key = item.substr(0, eq);
    const char *v = item.c_str() + eq + 1;
    char *end = nullptr;
    if (strcasecmp(key.c_str(), "width") == 0) {
        unsigned long w = strtoul(v, &end, 10);
        settings.checksum.width = static_cast<int>(w);
    } else if (strcasecmp(key.c_str(), "algorithm") == 0) {
        settings.checksum.algorithm = static_cast<int>(strtol(v, &end, 0));
    } else if (strcasecmp(key.c_str(), "offset") == 0) {
        settings.checksum.offset = strtoul(v, &end, 16);
    } else {
        return false;
    }
    return end != v;
}

// --checksum=start-end@destination[,width=n][,algorithm=n][,offset=n]
static void opt_checksum(option_record *, const char *value)
{
    checksum_request &ck = settings.checksum;
    settings.checksum_given = true;
    ck.text = xstrdup(value);
    ck.algorithm = 2;
    ck.width = -2;
    ck.offset = 0;
    const char *p = value;
    if (!checksum_address(&p, '-', &ck.start))
        msg_report(1241, "--checksum");
    else if (!checksum_address(&p, '@', &ck.end))
        msg_report(1242, "--checksum");
    else if (!checksum_address(&p, 0, &ck.dest))
        msg_report(1243, "--checksum");
    else {
        while (*p == ',') {
            const char *next = strchr(p + 1, ',');
            std::string item(p + 1, next ? next : p + strlen(p));
            if (!checksum_item(item))
                msg_report(1236, "--checksum", item.c_str());
            p = next ? next : p + strlen(p);
        }
        if (*p)
            msg_report(1236, "--checksum", p);
    }
    if (!settings.fill && chip_selected)
        settings.fill = zeph_asprintf("%s@%lX-%lX", default_fill_value(), ck.start, ck.end);
    if (ck.width != 0) {
        unsigned long n = static_cast<unsigned long>(ck.width < 0 ? -ck.width : ck.width);
        rom_ram_remove(const_cast<memory_option_kind *>(&memory_rom_option), static_cast<uint32_t>(ck.dest),
                       static_cast<uint32_t>(ck.dest + n - 1));
    }
}

// ---------------------------------------------------------------------------
// the options table, in processing order
// ---------------------------------------------------------------------------
#define ARG_REQ OPT_ARG_REQUIRED
#define ARG_OPT OPT_ARG_OPTIONAL
#define H(f) {.handler = f}
#define A(f) {.action = f}
#define V(v) {.variable = &opts.v}
#define N(f) {.number = f}

option_record driver_options[] = {
//   id    name          priority flags              kind           target                      choices         title / help
    {58,   "lang",       NEG(2),  ARG_OPT,           OPTK_HANDLER,  H(opt_lang),                nullptr,        "Specify Language", "Selects the language of the messages by name.", nullptr, 0},
    {9,    "help",       NEG(4),  ARG_OPT | OPT_STOP, OPTK_HANDLER, H(opt_help),                nullptr,        "Help", "Lists the options, or explains the one named.", nullptr, 0},
    {2,    "setup",      NEG(5),  ARG_OPT | OPT_STOP, OPTK_HANDLER, H(opt_setup),               nullptr,        "Setup the product", "Records the installation directory, or shows it.", nullptr, 0},
    {0,    nullptr,      NEG(11), 0,                 OPTK_HANDLER,  A(opt_startup),             nullptr,        nullptr, nullptr, nullptr, 0},
    {49,   "ide",        9995,    ARG_REQ,           OPTK_BYNAME,   V(ide),                     ide_rows,       "Set development environment", "Formats messages for an IDE.", nullptr, 0},
    {50,   "debugger",   9995,    ARG_OPT,           OPTK_CHOICE,   V(debugger),                debugger_rows,  "Set debugger environment", "Reserves the memory the debugger uses.", nullptr, 0},
    {0,    nullptr,      9993,    0,                 OPTK_HANDLER,  A(opt_ide_formats),         nullptr,        nullptr, nullptr, nullptr, 0},
    {3,    "E",          9990,    ARG_REQ,           OPTK_HANDLER,  H(opt_error_file),          nullptr,        "Redirect compile errors", "-E<file> writes the messages to a new file, -E+<file> appends them.", nullptr, 0},
    {4,    "Q",          9980,    0,                 OPTK_BOOLEAN,  V(quiet),                   nullptr,        "Quiet mode", "Shows no banner and no file names.", nullptr, 0},
    {5,    "msgdisable", 9970,    ARG_OPT,           OPTK_HANDLER,  H(opt_msgdisable),          nullptr,        "Disable warning messages", "<n>[,<n>...]: silences these message numbers in every program.", nullptr, 0},
    {6,    "errformat",  9970,    ARG_OPT,           OPTK_HANDLER,  H(opt_custom_format),       nullptr,        "Error format", "<format>: the form of error messages: %f file, %l line, %c column, %n number, %s text, %a program, %m system error; other characters as written.", nullptr, 0},
    {7,    "warnformat", 9960,    ARG_OPT,           OPTK_HANDLER,  H(opt_custom_format),       nullptr,        "Warning format", "<format>: the form of warnings: %f file, %l line, %c column, %n number, %s text, %a program, %m system error; other characters as written.", nullptr, 0},
    {8,    "msgformat",  9960,    ARG_OPT,           OPTK_HANDLER,  H(opt_custom_format),       nullptr,        "Message format", "<format>: the form of advisory messages: %f file, %l line, %c column, %n number, %s text, %a program, %m system error; other characters as written.", nullptr, 0},
    {39,   "V",          9955,    0,                 OPTK_HANDLER,  H(opt_verbose),             nullptr,        "Verbose mode", "Shows every command line run; twice shows full program paths.", nullptr, 0},
    {41,   "warn",       2010,    ARG_OPT,           OPTK_CHOICE,   V(warn),                    warn_rows,      "Warning level", "Sets the warning level; higher shows fewer warnings.", nullptr, 0},
    {0,    nullptr,      2009,    0,                 OPTK_HANDLER,  A(opt_warning_level),       nullptr,        nullptr, nullptr, nullptr, 0},
    {45,   "summary",    2005,    ARG_OPT,           OPTK_FLAGSET,  V(summary),                 summary_rows,   "Summary options", "Chooses the memory summaries shown after a link.", nullptr, 0},
    {10,   "chipinfo",   2000,    OPT_STOP,          OPTK_HANDLER,  H(opt_chipinfo),            nullptr,        "Chip information", "Lists the chips of the chip database.", nullptr, 0},
    {12,   "ver",        2000,    OPT_STOP,          OPTK_HANDLER,  H(opt_ver),                 nullptr,        "Version information", "Shows the version.", nullptr, 0},
    {14,   "getoption",  2000,    ARG_REQ,           OPTK_HANDLER,  H(opt_config_file),         nullptr,        "Get advanced options", "<program>,<file>: writes the program's adjustable arguments to the file.", nullptr, 0},
    {15,   "setoption",  2000,    ARG_REQ,           OPTK_HANDLER,  H(opt_config_file),         nullptr,        "Set advanced options", "<program>,<file>: takes the program's adjustable arguments from the file, or \"off\".", nullptr, 0},
    {16,   "chip",       1990,    ARG_REQ,           OPTK_HANDLER,  H(opt_chip),                nullptr,        "Select processor", "<chip>: the target chip, as --chipinfo lists it.", nullptr, 0},
    {0,    nullptr,      1985,    0,                 OPTK_HANDLER,  A(opt_chip_check),          nullptr,        nullptr, nullptr, nullptr, 0},
    {59,   "errors",     1980,    ARG_REQ,           OPTK_INTEGER,  V(errors),                  nullptr,        "Maximum number of errors", "Stops after this many errors.", nullptr, 0},
    {51,   "rom",        1980,    ARG_REQ,           OPTK_HANDLER,  H(opt_memory),              nullptr,        "Specify ROM ranges", "Adjusts program memory: default, +lo-hi, -lo-hi, lo-hi or a space name.", nullptr, 0},
    {52,   "ram",        1980,    ARG_REQ,           OPTK_HANDLER,  H(opt_memory),              nullptr,        "Specify RAM ranges", "Adjusts data memory: default, +lo-hi, -lo-hi, lo-hi or a space name.", nullptr, 0},
    {0,    nullptr,      1975,    0,                 OPTK_HANDLER,  A(opt_error_limit),         nullptr,        nullptr, nullptr, nullptr, 0},
    {13,   "memmap",     1970,    ARG_REQ | OPT_STOP, OPTK_HANDLER, H(opt_memmap),              nullptr,        "Display memory map", "Shows the memory summary of a link map.", nullptr, 0},
    {18,   "C",          1010,    0,                 OPTK_BOOLEAN,  V(compile_only),            nullptr,        "Compile to object file", "Stops after the object files.", nullptr, 0},
    {19,   "G",          1010,    ARG_OPT,           OPTK_HANDLER,  H(opt_symbols),             nullptr,        "Generate symbolic debug information", "-G<file> names the symbol file (default: the output's name, .sym).", nullptr, 0},
    {21,   "pass1",      1010,    0,                 OPTK_HANDLER,  H(opt_pass1),               nullptr,        "Compile to intermediate code", "Stops after the parser: <file>.plover, for a later link.", nullptr, 0},
    {37,   "S",          1010,    0,                 OPTK_BOOLEAN,  V(asm_only),                nullptr,        "Compile to assembler", "Stops after the assembly files.", nullptr, 0},
    {20,   "pre",        1010,    0,                 OPTK_HANDLER,  H(opt_pre),                 nullptr,        "Preprocess only", "Writes the preprocessed files only.", nullptr, 0},
    {17,   "cr",         1000,    ARG_OPT,           OPTK_HANDLER,  H(opt_cross_reference),     nullptr,        "Generate cross reference file", "Makes a cross-reference listing, into the file named.", nullptr, 0},
    {26,   "noexec",     1000,    0,                 OPTK_BOOLEAN,  V(noexec),                  nullptr,        "Do not execute", "Runs no program.", nullptr, 0},
    {61,   "echo",       1000,    0,                 OPTK_BOOLEAN,  V(echo),                    nullptr,        "Echo command line", "Shows the command line.", nullptr, 0},
    {27,   "nodel",      1000,    0,                 OPTK_BOOLEAN,  V(nodel),                   nullptr,        "Do not remove temporary files", "Keeps the intermediate files.", nullptr, 0},
    {28,   "asmlist",    1000,    0,                 OPTK_BOOLEAN,  V(asmlist),                 nullptr,        "Generate assembler listing", "Makes an assembler listing instead of the source listing.", nullptr, 0},
    {29,   "time",       1000,    0,                 OPTK_BOOLEAN,  V(time),                    nullptr,        "Report compilation times", "Shows the time of each stage.", nullptr, 0},
    {30,   "proto",      1000,    0,                 OPTK_BOOLEAN,  V(proto),                   nullptr,        "Generate function prototypes", "Writes a prototype file for each C source.", nullptr, 0},
    {31,   "scandep",    1000,    0,                 OPTK_BOOLEAN,  V(scandep),                 nullptr,        "Scan for dependencies", "Writes <file>.dep for each C file: the files it includes, one per line; compiles nothing.", nullptr, 0},
    {32,   "N",          1000,    ARG_REQ,           OPTK_INTEGER,  V(ident_length),            nullptr,        "Identifier length", "Significant length of identifiers (at least 31).", nullptr, 0},
    {33,   "O",          1000,    ARG_REQ,           OPTK_HANDLER,  H(opt_output_name),         nullptr,        "Output file", "-O<file> names the output file; the other outputs take its base name.", nullptr, 0},
    {34,   "outdir",     1000,    ARG_REQ,           OPTK_HANDLER,  H(opt_outdir),              nullptr,        "Output directory", "Directory of the output files.", nullptr, 0},
    {60,   "objdir",     1000,    ARG_REQ,           OPTK_HANDLER,  H(opt_objdir),              nullptr,        "Object files directory", "Directory of the intermediate and object files.", nullptr, 0},
    {35,   "P",          1000,    0,                 OPTK_BOOLEAN,  V(preprocess_asm),          nullptr,        "Preprocess assembler", "Runs assembler sources through the preprocessor.", nullptr, 0},
    {36,   "strict",     1000,    0,                 OPTK_HANDLER,  H(opt_strict),              nullptr,        "Strict ANSI keywords", "Accepts only the standard keywords.", nullptr, 0},
    {40,   "X",          1000,    0,                 OPTK_BOOLEAN,  V(strip_locals),            nullptr,        "Strip local symbols", "Leaves local symbols out of the object files.", nullptr, 0},
    {42,   "opt",        1000,    ARG_OPT,           OPTK_FLAGSET,  V(opt),                     opt_rows,       "Optimization options", "Chooses the optimisations.", nullptr, 0},
    {44,   "output",     1000,    ARG_OPT,           OPTK_FLAGSET,  V(output),                  output_rows,    "Output formats", "Chooses the output files; Intel HEX is always made.", nullptr, 0},
    {11,   "callgraph",  1000,    ARG_OPT,           OPTK_CHOICE,   V(callgraph),               callgraph_rows, "Style of call graph listing in map file", "Chooses the call graph of the map file.", nullptr, 0},
    {47,   "double",     1000,    ARG_OPT,           OPTK_CHOICE,   V(dbl),                     double_rows,    "Size of double type", "Chooses the size of double.", nullptr, 0},
    {48,   "float",      1000,    ARG_OPT,           OPTK_CHOICE,   V(flt),                     float_rows,     "Size of float type", "Chooses the size of float.", nullptr, 0},
    {24,   "L",          1000,    ARG_OPT,           OPTK_HANDLER,  H(opt_linker),              nullptr,        "Set linker option", "-L-<option> passes an option to the linker; -L<name> links library <name>.", nullptr, 0},
    {43,   "runtime",    1000,    ARG_OPT,           OPTK_FLAGSET,  V(runtime),                 runtime_rows,   "Run-time options", "Chooses what the start-up code does.", nullptr, 0},
    {22,   "D",          1000,    ARG_REQ,           OPTK_HANDLER,  H(opt_define),              nullptr,        "Define preprocessor symbol", "-D<name>[=<value>] defines a macro.", nullptr, 0},
    {23,   "I",          1000,    ARG_REQ,           OPTK_HANDLER,  H(opt_define),              nullptr,        "Specify include path", "-I<dir> adds a directory to the include search.", nullptr, 0},
    {25,   "M",          1000,    ARG_OPT,           OPTK_HANDLER,  H(opt_map),                 nullptr,        "Generate map file", "-M[<file>] writes the link map (default: the output's name, .map).", nullptr, 0},
    {38,   "U",          1000,    ARG_REQ,           OPTK_HANDLER,  H(opt_define),              nullptr,        "Undefine preprocessor symbol", "-U<name> undefines a macro.", nullptr, 0},
    {53,   "fill",       1000,    ARG_REQ,           OPTK_HANDLER,  H(opt_fill),                nullptr,        "Specify a ROM-fill value for unused memory", "<hexcode>[@<start>-<end>], or off.", nullptr, 0},
    {54,   "serial",     1000,    ARG_REQ,           OPTK_HANDLER,  H(opt_serial),              nullptr,        "Insert a hexadecimal code or serial number", "<hexcode>@<address>.", nullptr, 0},
    {1024, "codeoffset", 1000,    ARG_REQ,           OPTK_NUMBER,   N(opt_codeoffset_apbank),   nullptr,        "Specify ROM address", "Start address of the program.", nullptr, 0},
    {1025, "apbank",     1000,    ARG_REQ,           OPTK_NUMBER,   N(opt_codeoffset_apbank),   nullptr,        "Specify bank for autos and parameters", "Bank of the auto and parameter variables.", nullptr, 0},
    {1026, "bankqual",   1000,    ARG_OPT,           OPTK_CHOICE,   V(bankqual),                bankqual_rows,  "Specify compiler response to bank qualifier", "How bank qualifiers are treated.", nullptr, 0},
    {46,   "char",       1000,    ARG_OPT,           OPTK_CHOICE,   V(chartype),                char_rows,      "Default character type (defunct)", "Accepted and not used.", nullptr, 0},
    {55,   "checksum",   999,     ARG_REQ,           OPTK_HANDLER,  H(opt_checksum),            nullptr,        "Calculate a checksum and store the result in program memory", "<start>-<end>@<destination>[,width=n][,algorithm=n][,offset=n].", nullptr, 0},
    {0,    nullptr,      0,       0,                 OPTK_HANDLER,  {.handler = nullptr},       nullptr,        nullptr, nullptr, nullptr, 0},
};

option_record *driver_option(int32_t id) { return option_find_by_id(driver_options, id); }

// Start-up values: every flag set and single choice takes its marked rows,
// then the target defaults, each re-marking the rows so help shows them.
void options_set_defaults()
{
    for (option_record *o = driver_options; o->priority; o++)
        if (o->kind == OPTK_FLAGSET || o->kind == OPTK_FLAGSET3 || o->kind == OPTK_CHOICE)
            flagset_apply_defaults(o);
    flagset_set_value(driver_option(44), 0x1);
    flagset_set_value(driver_option(43), 0xFFB9FFDF);
    flagset_set_value(driver_option(45), 0x2);
    flagset_set_value(driver_option(42), 0x50001);
    flagset_set_value(driver_option(47), 0x1);
    flagset_set_value(driver_option(44), 0x1000);
    flagset_set_value(driver_option(1026), 0x1);
    flagset_set_value(driver_option(50), 0x1);
}
