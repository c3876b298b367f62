// The chip as the other programs learn it: arguments derived from the chip
// record and the finished memory model.
//
// Only the driver reads the chip database. The preprocessor gets predefined
// macros and the type size list, the parser its fixed switches and the
// qualifier definitions, the code generator the processor description (one
// "-PZEPHP" line of chip facts, the bank mirrors and the free RAM of each
// class as range specs), the assembler the chip switches. The same facts
// give the chip's intermediate-code library, the blank program word used for
// fills and the checksum's instruction code for the HEX tools.
#include "zeph.h"

#include <cctype>
#include <cstring>

// The oscillator calibration value of --runtime=oscval:<hex>, for the
// start-up file.
uint32_t osc_calibration;

static const chip_record *chip() { return chip_selected; }
static uint32_t arch() { return chip_selected ? chip_selected->architecture : 0; }
static bool double_is_32() { return opts.dbl & (FLT_32 | FLT_FAST32); }
static bool float_is_32() { return opts.flt & (FLT_32 | FLT_FAST32); }

// ---------------------------------------------------------------------------
// qualifier definitions for the parser
// ---------------------------------------------------------------------------

vector_t *qualifier_options(uint32_t architecture)
{
    static const char *const always[] = {
        "-QP,bank0", "-QX,bank1", "-QY,bank2", "-QZ,bank3", "-QF,far",
        "-QN,near", "-QI,interrupt", "-QS,persistent", "-QCu,const",
    };
    static const char *const baseline[] = {"-QTi,fastcall", "-QWi,control", "-QCi,const"};
    vector_t *v = vec_new_default();
    for (const char *q : always)
        vec_push(v, const_cast<char *>(q));
    if (architecture == ARCH_BASELINE)
        for (const char *q : baseline)
            vec_push(v, const_cast<char *>(q));
    return v;
}

// ---------------------------------------------------------------------------
// preprocessor, parser, code generator, assembler
// ---------------------------------------------------------------------------

void preprocessor_chip_args(arglist *args)
{
    const chip_record *c = chip();
    arglist_appendf(args, "-D_%s", c->name);
    arglist_append_copy(args, "-D_MPC_");
    static const char *const arch_macros[] = {"-D_PIC12", "-D_PIC14", "-D_PIC16"};
    if (c->architecture >= ARCH_BASELINE && c->architecture <= ARCH_HIGHEND)
        arglist_append_copy(args, arch_macros[c->architecture - 1]);
    bool has_flash = c->flash_type != CHIP_FLASH_NONE;
    if (c->architecture == ARCH_MIDRANGE && has_flash && (opts.opt & OPTB_PROGMEM))
        arglist_appendf(args, "-D_PROGMEM_=%d", static_cast<int>(c->flash_type));
    // the sizes #if's sizeof sees: the last two are float's and double's
    arglist_appendf(args, "-S1,2,2,3,4,%d,%d", float_is_32() ? 4 : 3, double_is_32() ? 4 : 3);
    if (opts.debugger == DBG_ICD)
        arglist_append_copy(args, "-DMPLAB_ICD=1");
    else if (opts.debugger == DBG_ICD2)
        arglist_append_copy(args, "-DMPLAB_ICD=2");
    else if (opts.debugger == DBG_ICD3)
        arglist_append_copy(args, "-DMPLAB_ICD=3");
    arglist_appendf(args, "-D_COMMON_=%d", chip_has_common(c) ? 1 : 0);
    arglist_appendf(args, "-D_BANKCOUNT_=%d", c->banks);
    arglist_appendf(args, "-D_BANKBITS_=%d", c->banks == 1 ? 0 : c->banks == 2 ? 1 : 2);
    arglist_appendf(args, "-D_GPRBITS_=%d", c->ram_count == 1 ? 0 : c->ram_count == 2 ? 1 : 2);
    if (c->eeprom_size || has_flash)
        arglist_appendf(args, "-D__DATABANK=%d", static_cast<int>(c->data_bank));
    if (has_flash)
        arglist_appendf(args, "-D__FLASHTYPE=%d", static_cast<int>(c->flash_type));
    arglist_appendf(args, "-D_ROMSIZE=%d", static_cast<int>(c->rom_size));
    arglist_appendf(args, "-D_EEPROMSIZE=%d", static_cast<int>(c->eeprom_size));
    arglist_appendf(args, "-DEEPROM_SIZE=%d", static_cast<int>(c->eeprom_size));
    arglist_appendf(args, "-D_FLASH_ERASE_SIZE=%d", static_cast<int>(c->flash_erase));
    arglist_appendf(args, "-D_FLASH_WRITE_SIZE=%d", static_cast<int>(c->flash_write));
}

void parser_chip_args(arglist *args)
{
    for (const char *s : {"-Gstrings,const", "-M", "-B", "-J", "-Y", "-r"})
        arglist_append_copy(args, s);
    vector_t *q = qualifier_options(arch());
    for (uint32_t i = 0; i < vec_count(q); i++) {
        auto *def = static_cast<const char *>(vec_get(q, i));
        if (opts.bankqual == BQ_REJECT && strstr(def, "bank"))
            continue;
        arglist_append_copy(args, def);
    }
    vec_free(q);
}

// "<prefix><name>=<free ranges>" of a data class, when it exists and has
// free room.
static void append_free_ranges(arglist *args, const char *name)
{
    range_class *cls = range_find_class(memory_spaces, name);
    if (!cls)
        return;
    char *spec = range_format(cls, "-P", name);
    if (*spec)
        arglist_append(args, spec);
    else
        free(spec);
}

static int call_flags()
{
    if (arch() == ARCH_BASELINE)
        return (opts.runtime & RT_STACKCALL) ? 2 : 0;
    return (opts.runtime & RT_STACKWARN) ? 1 : 0;
}

void codegen_processor_args(arglist *args)
{
    const chip_record *c = chip();
    if (double_is_32())
        arglist_append_copy(args, "-MIEEE_DBL");
    if (float_is_32())
        arglist_append_copy(args, "-MIEEE_FLT");
    arglist_appendf(args, "-PZEPHP%s,%d,%lu,%d,%d,%d,%d,%d", c->name, static_cast<int>(c->architecture),
                    static_cast<unsigned long>(c->rom_size), c->banks, static_cast<int>(opts.bankqual),
                    static_cast<int>(c->stack_depth), c->access_bank, call_flags());
    std::string mirror = "-PMIRROR=";
    for (int b = 0; b < c->banks; b++) {
        if (b)
            mirror += ",";
        mirror += std::to_string(b < CHIP_MAX_MIRROR ? c->mirror[b] : 0);
    }
    arglist_append_copy(args, mirror.c_str());
    append_free_ranges(args, "COMMON");
    append_free_ranges(args, "RAM");
    for (int b = 0; b < c->banks; b++) {
        char name[16];
        snprintf(name, sizeof name, "BANK%d", b);
        append_free_ranges(args, name);
    }
}

// The value goes into one literal instruction of the start-up file, so it is
// one byte. It is read once the options are known, whether or not the code
// generator runs (a program of assembly sources has a start-up file too). A
// value given that is no such byte, or too long for its buffer, is refused
// rather than calibrating the oscillator with another constant.
void read_osc_calibration()
{
    osc_calibration = 0;
    if (!(opts.runtime & RT_OSCVAL))
        return;
    const char *text = oscval_text();
    if (!*text)
        return;
    char *end = nullptr;
    unsigned long value = strtoul(text, &end, 16);
    if (!isxdigit(static_cast<unsigned char>(text[0])) || *end || value > 0xFF ||
        strlen(text) >= OPTION_ARG_SIZE - 1) {
        msg_report(928, "--runtime");
        return;
    }
    osc_calibration = static_cast<uint32_t>(value);
}

void assembler_chip_args(arglist *args)
{
    const chip_record *c = chip();
    arglist_appendf(args, "--chip=%s", c->name);
    arglist_appendf(args, "-R%lX", static_cast<unsigned long>(c->rom_size));
    if (opts.debugger && opts.debugger != DBG_NONE)
        arglist_append_copy(args, "-icd");
    arglist_append_copy(args, "-I");
    arglist_append_copy(args, "-no_bankop");
}

// ---------------------------------------------------------------------------
// libraries
// ---------------------------------------------------------------------------

vector_t *codegen_library_list()
{
    vector_t *v = vec_new_default();
    const chip_record *c = chip();
    if (!c || c->flash_write == 0)
        return v;
    uint32_t first = c->data_bank + (c->eeprom_size ? 4 : 0) + (c->flash_type == CHIP_FLASH_READWRITE_B ? 8 : 0);
    char *name = zeph_asprintf("pic%x%02x-p.lpp", first, c->flash_write | c->flash_erase);
    vec_push(v, install_lookup(INST_LIB, name, "library"));
    free(name);
    return v;
}

vector_t *codegen_library_list_2() { return nullptr; }
vector_t *linker_library_list() { return vec_new_default(); }
vector_t *linker_library_list_2() { return vec_new_default(); }

char *library_stem(const char *name)
{
    return zeph_asprintf("%s%s", (opts.dbl & FLT_32) ? "vkpic-d" : "vkpic--", name);
}

// ---------------------------------------------------------------------------
// fill and checksum details of the HEX tools and the converter
// ---------------------------------------------------------------------------

// The blank program word in the HEX utility's byte order.
const char *default_fill_word()
{
    switch (arch()) {
    case ARCH_BASELINE: return "FF0F";
    case ARCH_MIDRANGE: return "FF3F";
    default: return "FF";
    }
}

// The blank program word as a word value, the form the user writes --fill in.
const char *default_fill_value()
{
    switch (arch()) {
    case ARCH_BASELINE: return "0FFF";
    case ARCH_MIDRANGE: return "3FFF";
    default: return "FFFF";
    }
}

unsigned checksum_word_code()
{
    switch (arch()) {
    case ARCH_BASELINE: return 0x08;
    case ARCH_MIDRANGE: return 0x34;
    default: return 0;
    }
}

void converter_args(arglist *args, uint32_t output_bit)
{
    if (output_bit == OUT_MCOF)
        arglist_prepend_copy(args, "-k");
}

// Binary output: the word written into unused locations.
void hex_conversion_args(arglist *args, uint32_t format_bits)
{
    if (!(format_bits & OUT_BIN))
        return;
    if (settings.fill) {
        if (strcasecmp(settings.fill, "off") == 0)
            return;
        size_t n = strcspn(settings.fill, "@");
        arglist_appendf(args, "-F0%.*sh", static_cast<int>(n < 8 ? n : 8), settings.fill);
        return;
    }
    static const char *const blank[] = {"-F00FFFh", "-F03FFFh", "-F0FFFFh"};
    arglist_append_copy(args, blank[arch() == ARCH_BASELINE ? 0 : arch() == ARCH_MIDRANGE ? 1 : 2]);
}

// A program for a bootloader has its whole program memory filled.
void hex_merge_args(arglist *args)
{
    const chip_record *c = chip();
    if (settings.fill || !(opts.runtime & RT_DOWNLOAD) || !c)
        return;
    arglist_appendf(args, "-FILL=%s@0-%lX,data", default_fill_word(),
                    static_cast<unsigned long>(c->rom_size - (c->osccal ? 2 : 1)));
}
