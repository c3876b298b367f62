// Link placement: where each psect of the run-time model goes.
//
// The linker knows nothing of the chip; the driver tells it, as -p items
// (a psect into a class, after another psect, or at an address), -D class
// deltas and the -A class ranges of the configuration, ID-location and
// EEPROM spaces. Every argument goes through linker_default_option, so the
// user's -L-<name>=... replaces the driver's argument of the same name.
// Functions the program placed at absolute addresses (symbols "<f>_absaddr"
// of the prelink) get their own -p items in the final link.
#include "zeph.h"

#include <cstring>

// The final link is being prepared (high-end chips place temp only in the
// prelink).
static bool final_stage;
// absolute_function_args was called once in this run.
static bool absolute_armed;

static const chip_record *chip() { return chip_selected; }

static bool has_class(const char *name) { return range_find_class(memory_spaces, name) != nullptr; }

// Bytes of the chip's common RAM, 0 when it has none.
static uint32_t common_bytes()
{
    const chip_record *c = chip();
    return chip_has_common(c) ? c->common.hi - c->common.lo + 1 : 0;
}

static void space_range_args(const char *space_name, arglist *args)
{
    if (range_space *s = range_find_space(memory_spaces, space_name))
        class_range_args(s, args);
}

// checksum and serial number, then the automatic-variable psects.
static void checksum_serial_args(arglist *args)
{
    if (settings.checksum_given)
        linker_default_optionf(args, "-pchecksum=0%lXh", settings.checksum.dest);
    if (settings.serial)
        linker_default_optionf(args, "-pserial=0%lXh", settings.serial_address);
}

static void auto_args(arglist *args)
{
    if (chip_has_common(chip()))
        linker_default_option_copy(args, "-pfnautoc=COMMON");
    linker_default_option_copy(args, "-pfnauto0=BANK0");
    for (int n = 1; n <= 3 && n < chip()->ram_count; n++)
        linker_default_optionf(args, "-pfnauto%d=BANK%d", n, n);
}

// temp and common overlay the common RAM when it is large enough.
static void temp_args(arglist *args, uint32_t least)
{
    if (common_bytes() > least) {
        linker_default_option_copy(args, "-ptemp=-COMMON");
        linker_default_option_copy(args, "-pcommon=-COMMON");
    } else {
        linker_default_option_copy(args, "-ptemp=BANK0");
    }
}

static void nvram_args(arglist *args, int n)
{
    if (n == 0)
        linker_default_option_copy(args, "-pnvram=BANK0");
    else
        linker_default_optionf(args, "-pnvram_%d=BANK%d,nvbit_%d=BANK%d", n, n, n, n);
}

static void float_args(arglist *args, const char *cls)
{
    linker_default_optionf(args, "-pfloat_text0=%s,float_text1=%s,float_text2=%s", cls, cls, cls);
    linker_default_optionf(args, "-pfloat_text3=%s,float_text4=%s", cls, cls);
}

static void baseline_args(arglist *args)
{
    const chip_record *c = chip();
    linker_default_option_copy(args, "-preset_wrap=0h");
    linker_default_option_copy(args, "-pinit=reset_wrap,init23,end_init,clrtext,jmp_tab,strings12");
    linker_default_option_copy(args, "-ppowerup=CODE");
    auto_args(args);
    temp_args(args, 7);
    for (int n = 0; n < c->banks; n++) {
        char name[16];
        snprintf(name, sizeof name, "BANK%d", n);
        if (!has_class(name))
            continue;
        // idata_<n> stays empty on these chips (the image is idata12): it
        // goes into CODE, the class its declaration names.
        linker_default_optionf(args, "-prbit_%d=BANK%d,rbss_%d=BANK%d,rdata_%d=BANK%d,idata_%d=CODE", n, n, n, n,
                               n, n, n);
        nvram_args(args, n);
    }
    linker_default_option_copy(args, "-pidata12=ENTRY");
    linker_default_optionf(args, "-preset_vec=0%lXh", static_cast<unsigned long>(c->rom_size - 1));
    reserve_code_range(c->rom_size - 1, c->rom_size - 1);
    space_range_args("idloc", args);
    space_range_args("config", args);
    for (const char *a : {"-pconfig=CONFIG", "-DCONFIG=2", "-pidloc=IDLOC", "-DIDLOC=2", "-DENTRY=2"})
        linker_default_option_copy(args, a);
    float_args(args, "ENTRY");
    linker_default_option_copy(args, "-DCODE=2");
}

static void midrange_args(arglist *args)
{
    const chip_record *c = chip();
    unsigned long offset = c->code_offset;
    if (symt_psect_size("intentry") || (opts.runtime & RT_DOWNLOAD))
        linker_default_optionf(args,
                               "-preset_vec=0%lXh,intentry=0%lXh,intcode,intret,init,init23,end_init,clrtext,"
                               "maintext,pstrings",
                               offset, offset + 4);
    else
        linker_default_optionf(args,
                               "-preset_vec=0%lXh,intentry,intcode,intret,init,init23,end_init,clrtext,maintext,"
                               "pstrings",
                               offset);
    linker_default_option_copy(args, "-pstrings=CODE");
    linker_default_option_copy(args, "-ppowerup=CODE");
    for (int n = 0; n < c->ram_count; n++) {
        char name[16];
        snprintf(name, sizeof name, "BANK%d", n);
        if (!has_class(name))
            continue;
        if (n == 0)
            temp_args(args, 11);
        linker_default_optionf(args, "-prbss_%d=BANK%d,rbit_%d=BANK%d,rdata_%d=BANK%d,idata_%d=CODE", n, n, n, n, n,
                               n, n);
        nvram_args(args, n);
    }
    linker_default_option_copy(args, "-pidata=CODE");
    auto_args(args);
    space_range_args("config", args);
    linker_default_option_copy(args, "-pconfig=CONFIG");
    linker_default_option_copy(args, "-DCONFIG=2");
    space_range_args("idloc", args);
    linker_default_option_copy(args, "-pidloc=IDLOC");
    linker_default_option_copy(args, "-DIDLOC=2");
    if (c->eeprom_size) {
        // The EEPROM's own addresses link from 0; a device programmer loads
        // its bytes from word 2100h of the HEX file, clear of program memory.
        linker_default_optionf(args, "-AEEDATA=00h-0%lXh/02100h", static_cast<unsigned long>(c->eeprom_size - 1));
        linker_default_option_copy(args, "-peeprom_data=EEDATA");
        linker_default_option_copy(args, "-DEEDATA=2");
    }
    if (c->osccal) {
        uint32_t word = (c->rom_size - 1) | 0xFF;
        linker_default_optionf(args, "-posccal=0%Xh", word);
        reserve_code_range(word, word);
    }
    float_args(args, "CODE");
    linker_default_option_copy(args, "-DCODE=2");
}

static void highend_args(arglist *args)
{
    const chip_record *c = chip();
    unsigned long offset = c->code_offset;
    bool interrupts = symt_psect_size("intentry") != 0;
    if (offset >= c->rom_size || c->rom_size - offset <= 0x2000) {
        if (interrupts)
            linker_default_optionf(args, "-pintcode=0%lXh,reset_vec=0%lXh,init%%100h,init23,end_init,clrtext,maintext",
                                   offset + 8, offset);
        else
            linker_default_optionf(args, "-preset_vec=0%lXh,intcode,init%%100h,init23,end_init,clrtext,maintext",
                                   offset);
    } else if (interrupts) {
        linker_default_optionf(args, "-preset_vec=0%lXh,intcode=0%lXh,init%%2000h,init23,end_init,clrtext,maintext",
                               offset, offset + 8);
    } else {
        linker_default_optionf(args, "-preset_vec=0%lXh,intcode,init%%2000h,init23,end_init,clrtext,maintext", offset);
    }
    linker_default_option_copy(args, "-ppowerup=CODE");
    uint32_t ram0 = c->ram_count ? c->ram[0].lo : 0;
    if (chip_has_common(c) && c->common.lo == ram0)
        if (range_class *bank0 = range_find_class(memory_spaces, "BANK0"))
            range_class_add(bank0, RANGE_USED, ram0, ram0 + 1, 0);
    if (!final_stage) {
        if (common_bytes() > 4)
            linker_default_optionf(args, "-ptemp=0%lXh", static_cast<unsigned long>(ram0 + 2));
        else
            linker_default_option_copy(args, "-ptemp=BANK0");
    }
    auto_args(args);
    for (const char *a : {"-DCODE=2", "-DROMDATA=2", "-pcstrings=ROMDATA"})
        linker_default_option_copy(args, a);
    space_range_args("config", args);
    linker_default_option_copy(args, "-pconfig=CONFIG");
    linker_default_option_copy(args, "-DCONFIG=2");
    float_args(args, "CODE");
}

void placement_args(arglist *args)
{
    checksum_serial_args(args);
    switch (chip()->architecture) {
    case ARCH_BASELINE: baseline_args(args); break;
    case ARCH_MIDRANGE: midrange_args(args); break;
    default: highend_args(args); break;
    }
}

void placement_args_final(arglist *args)
{
    final_stage = true;
    placement_args(args);
}

// Functions at absolute addresses: the prelink's symbol file names each one
// as "<function>_absaddr" with its address; its psect "<function>_text"
// goes there, and those words are taken out of CODE.
void absolute_function_args(arglist *args)
{
    if (!absolute_armed) {
        absolute_armed = true;
        return;
    }
    symt_next_symbol(0);
    while (const char *name = symt_next_symbol(1)) {
        const char *tail = strrchr(name, '_');
        if (!tail || strcmp(tail, "_absaddr") != 0)
            continue;
        std::string stem(name, static_cast<size_t>(tail - name));
        uint32_t value = symt_value(name);
        // An address in the linker's "0<hex>h" form: a leading letter digit
        // would otherwise read as a name.
        linker_default_optionf(args, "-p%s_text=0%lXh", stem.c_str(), static_cast<unsigned long>(value));
        uint32_t size = symt_psect_size((stem + "_text").c_str());
        if (size)
            if (range_class *code = range_find_class(memory_code_space, "CODE"))
                range_class_add(code, RANGE_USED, value, value + size - 1, 0);
    }
}

// Forgets the stage and the armed state (tests run several links).
void placement_reset()
{
    final_stage = false;
    absolute_armed = false;
}
