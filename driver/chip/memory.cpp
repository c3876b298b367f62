// The driver's memory model: the code, data and EEPROM spaces with their
// classes, built from the chip database as each key is read (the two hooks),
// adjusted by --rom and --ram, and completed once every option is known.
//
// Program memory is cut into pieces so that nothing placed in a class
// crosses a page (CODE) or a 256-word block (CONST, STRING, mid-range
// ENTRY); RAM is cut into banks. A chip without RAM common to all banks gets
// two bytes (four on baseline chips) at the top of bank 0 and at the same
// offset in the other banks set aside as pseudo-common memory, which the
// interrupt code uses to save its context.
#include "chip.h"

#include <cstring>
#include <string>
#include <strings.h>

range_space *memory_spaces;
range_space *memory_code_space;
range_space *memory_data_space;
range_space *memory_eedata_space;
range_node *memory_icd_lists[4];
uint32_t memory_resetbits_address = RANGE_NONE;

const memory_option_kind memory_rom_option = MEMORY_ROM;
const memory_option_kind memory_ram_option = MEMORY_RAM;

// The chip the model was built for (the last record a hook or the finish saw).
static const chip_record *model_chip;

// Sizes by architecture (none, baseline, mid-range, high-end).
static const uint32_t bank_size[] = {0x80, 0x20, 0x80, 0x100};
// Highest address of each bank class, by architecture; 0 ends a row.
static const uint32_t bank_top[4][9] = {
    {0x7F, 0xFF, 0x17F, 0x1FF, 0},
    {0x1F, 0x3F, 0x5F, 0x7F, 0x9F, 0xBF, 0xDF, 0xFF, 0},
    {0x7F, 0xFF, 0x17F, 0x1FF, 0},
    {0xFF, 0x1FF, 0x2FF, 0x3FF, 0},
};

static uint32_t model_arch()
{
    uint32_t arch = model_chip ? model_chip->architecture : (uint32_t)ARCH_NONE;
    return arch <= ARCH_HIGHEND ? arch : (uint32_t)ARCH_NONE;
}

// The class of a space, made on first use with the space's unit kind.
static range_class *space_class(range_space *space, const char *name)
{
    return range_class_get(space, name, space->unit, RANGE_NO_LOAD, 0);
}

// The class of a space when it exists (no class is made for a mere mark).
static range_class *existing_class(range_space *space, const char *name)
{
    for (range_class *c = space ? space->classes : nullptr; c; c = c->next)
        if (strcmp(c->name, name) == 0)
            return c;
    return nullptr;
}

static void mark_used(range_space *space, const char *name, uint32_t lo, uint32_t hi)
{
    range_class_add(existing_class(space, name), RANGE_USED, lo, hi, 0);
}

static const char *bank_name(int bank)
{
    static const char *const names[] = {"BANK0", "BANK1", "BANK2", "BANK3",
                                        "BANK4", "BANK5", "BANK6", "BANK7"};
    return names[bank];
}

// The bank whose class takes a RAM range ending at hi; -1 beyond them all.
static int bank_of(uint32_t hi)
{
    const uint32_t *tops = bank_top[model_arch()];
    for (int b = 0; tops[b] != 0; b++)
        if (hi <= tops[b])
            return b;
    return -1;
}

void memory_model_reset()
{
    range_space_list_free(memory_spaces);
    memory_spaces = memory_code_space = memory_data_space = memory_eedata_space = nullptr;
    for (range_node *&list : memory_icd_lists) {
        range_list_free(list);
        list = nullptr;
    }
    memory_resetbits_address = RANGE_NONE;
    model_chip = nullptr;
}

void memory_model_start()
{
    memory_model_reset();
    memory_code_space = range_space_new(&memory_spaces, "code", "Program space", 3);
    memory_data_space = range_space_new(&memory_spaces, "data", "Data space", 2);
    memory_eedata_space = range_space_new(&memory_spaces, "eedata", "EEPROM space", 2);
    chipinfo_set_hooks(memory_scalar_hook, memory_range_hook);
}

// ---------------------------------------------------------------------------
// the hooks
// ---------------------------------------------------------------------------

// ROMSIZE n: program memory [0, n-1] in the code classes.
static void memory_add_rom(uint32_t n)
{
    range_space *s = memory_code_space;
    switch (model_arch()) {
    case ARCH_BASELINE:
        range_class_add(space_class(s, "CODE"), RANGE_AVAILABLE, 0, n - 1, 0x200);
        range_class_add(space_class(s, "ENTRY"), RANGE_AVAILABLE, 0, n - 1, 0x200);
        break;
    case ARCH_MIDRANGE:
        range_class_add(space_class(s, "CODE"), RANGE_AVAILABLE, 0, n - 1, 0x800);
        for (const char *name : {"CONST", "ENTRY", "STRING"})
            range_class_add(space_class(s, name), RANGE_AVAILABLE, 0, n - 1, 0x100);
        break;
    case ARCH_HIGHEND:
        range_class_add(space_class(s, "ROMDATA"), RANGE_AVAILABLE, 0, n - 1, 0);
        range_class_add(space_class(s, "CODE"), RANGE_AVAILABLE, 0, n - 1, 0x2000);
        range_class_add(space_class(s, "CONST"), RANGE_AVAILABLE, 0, n - 1, 0x100);
        break;
    default:
        break;
    }
}

void memory_scalar_hook(chip_record *chip, int ordinal, uint32_t value)
{
    model_chip = chip;
    if (!memory_code_space || value == 0)
        return;
    if (ordinal == CHIP_ROMSIZE)
        memory_add_rom(value);
    else if (ordinal == CHIP_EEPROMSIZE && model_arch() == ARCH_MIDRANGE)
        range_class_add(space_class(memory_eedata_space, "EEDATA"), RANGE_AVAILABLE, 0, value - 1, 0);
}

// RAMBANK [lo, hi]: RAM in bank-sized pieces, ABS1 whole, and the bank class
// chosen by the range's high end.
static void memory_add_rambank(uint32_t lo, uint32_t hi)
{
    range_space *s = memory_data_space;
    range_class_add(space_class(s, "RAM"), RANGE_AVAILABLE, lo, hi, bank_size[model_arch()]);
    range_class_add(space_class(s, "ABS1"), RANGE_AVAILABLE, lo, hi, 0);
    int bank = bank_of(hi);
    if (bank < 0) {
        msg_report(1055, (unsigned long)hi);
        return;
    }
    // The first two bytes of a high-end bank 0 are not general-purpose RAM.
    if (model_arch() == ARCH_HIGHEND && bank == 0 && hi - lo + 1 >= 3)
        lo += 2;
    range_class_add(space_class(s, bank_name(bank)), RANGE_AVAILABLE, lo, hi, 0);
}

void memory_range_hook(chip_record *chip, int ordinal, uint32_t lo, uint32_t hi)
{
    model_chip = chip;
    if (!memory_data_space)
        return;
    switch (ordinal) {
    case CHIP_RAMBANK:
        memory_add_rambank(lo, hi);
        break;
    case CHIP_COMMON:
        range_class_add(space_class(memory_data_space, "COMMON"), RANGE_AVAILABLE, lo, hi, 0);
        break;
    case CHIP_ICD1RAM:
    case CHIP_ICD1ROM:
    case CHIP_ICD2RAM:
    case CHIP_ICD2ROM:
        range_list_add(&memory_icd_lists[ordinal - CHIP_ICD1RAM], lo, hi, 0, 0);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// completing the model
// ---------------------------------------------------------------------------

// Pseudo-common memory for a chip without common RAM: the top `width` bytes
// of bank 0 and the bytes at the same offsets in banks 1 to 3.
static void memory_carve_common(const chip_record *chip)
{
    uint32_t width = chip->architecture == ARCH_BASELINE ? 4 : 2;
    uint32_t stride = bank_size[chip->architecture];
    range_space *s = memory_data_space;
    range_class *bank0 = existing_class(s, "BANK0");
    uint32_t t = range_highest_free(bank0);
    // Bank 0 must hold every byte taken, free, in one block.
    bool room = false;
    range_node *free_list = bank0 ? range_list_minus(bank0->available, bank0->used) : nullptr;
    for (const range_node *n = free_list; n; n = n->next)
        room = room || (n->hi == t && t - n->lo + 1 >= width);
    range_list_free(free_list);
    if (!room) {
        std::string text = str_printf("Bank 0 has no room for %u bytes of common memory", width);
        if (chip->name)
            text += str_printf(" for chip %s", chip->name);
        msg_report(919, text.c_str(), chipinfo_file ? chipinfo_file : "", (int)chipinfo_line);
        return;
    }
    range_class *common = space_class(s, "COMMON");
    range_class_add(common, RANGE_AVAILABLE, t - (width - 1), t, 0);
    common->hidden = 1;
    for (int b = 0; b < 4; b++) {
        uint32_t lo = t - (width - 1) + b * stride;
        mark_used(s, bank_name(b), lo, lo + width - 1);
        mark_used(s, "RAM", lo, lo + width - 1);
    }
}

// The debugger's macro and the ICD lists it reserves.
struct debugger_row {
    uint32_t choice;
    const char *macro;
    int ram_list; // index into memory_icd_lists
    int rom_list;
};

// choice            macro                       RAM  ROM
static const debugger_row debugger_rows[] = {
    {DEBUGGER_ICD,     "-DMPLAB_ICD=1",            0, 1},
    {DEBUGGER_ICD2,    "-D__MPLAB_ICD2__=1",       2, 3},
    {DEBUGGER_PICKIT2, "-D__MPLAB_PICKIT2__=1",    2, 3},
    {DEBUGGER_PICKIT3, "-D__MPLAB_PICKIT3__=1",    2, 3},
    {DEBUGGER_ICD3,    "-D__MPLAB_ICD3__=1",       2, 3},
    {DEBUGGER_REALICE, "-D__MPLAB_REALICE__=1",    2, 3},
};

static const char *memory_reserve_debugger(const chip_record *chip, uint32_t debugger)
{
    for (const debugger_row &row : debugger_rows) {
        if (row.choice != debugger)
            continue;
        range_space *s = memory_data_space;
        for (const range_node *n = memory_icd_lists[row.ram_list]; n; n = n->next) {
            for (int b = 0; b < 4; b++)
                mark_used(s, bank_name(b), n->lo, n->hi);
            mark_used(s, "RAM", n->lo, n->hi);
            if (chip_has_common(chip))
                mark_used(s, "COMMON", n->lo, n->hi);
        }
        for (const range_node *n = memory_icd_lists[row.rom_list]; n; n = n->next)
            reserve_code_range(n->lo, n->hi);
        return row.macro;
    }
    return nullptr;
}

// A space of one class holding the given range (made once).
static void memory_single_space(const char *space_name, const char *description, uint8_t unit,
                                const char *class_name, chip_range range)
{
    range_space *s = range_find_space(memory_spaces, space_name);
    if (!s)
        s = range_space_new(&memory_spaces, space_name, description, unit);
    range_class_add(space_class(s, class_name), RANGE_AVAILABLE, range.lo, range.hi, 0);
}

const char *memory_model_finish(chip_record *chip, uint32_t debugger, uint32_t runtime)
{
    model_chip = chip;
    uint32_t arch = model_arch();
    range_space *s = memory_data_space;
    // 1. Common memory, real or carved out of the banks.
    if (range_class *ram = existing_class(s, "RAM"))
        ram->hidden = 1;
    if (!chip_has_common(chip)) {
        if (arch == ARCH_BASELINE || arch == ARCH_MIDRANGE)
            memory_carve_common(chip);
    } else if (range_class *common = existing_class(s, "COMMON")) {
        uint32_t lo = range_lowest_free(common);
        if (lo != RANGE_NONE)
            mark_used(s, "RAM", lo, range_highest_free(common));
    }
    // 2. The debugger's RAM and program memory.
    const char *macro = memory_reserve_debugger(chip, debugger);
    // 3. The last two words of every 4K page from the second on.
    if (arch == ARCH_HIGHEND)
        for (uint32_t page = 0x1FFE; page < 0x10000; page += 0x1000)
            mark_used(memory_code_space, "CODE", page, page + 1);
    // 4. Configuration words.
    chip_range config = chip->config;
    if (!chip_has_config(chip))
        config = arch == ARCH_BASELINE ? chip_range{0xFFF, 0xFFF}
                 : arch == ARCH_HIGHEND ? chip_range{0xFE00, 0xFE00}
                                        : chip_range{0x2007, 0x2007};
    memory_single_space("config", "Configuration bits", 3, "CONFIG", config);
    // 5. ID locations (none on high-end chips).
    if (arch != ARCH_HIGHEND) {
        chip_range idloc = chip->idloc;
        uint32_t r = (chip->rom_size + 0x1FF) & ~0x1FFu;
        if (!chip_has_idloc(chip))
            idloc = arch == ARCH_BASELINE ? chip_range{r, r + 3} : chip_range{0x2000, 0x2003};
        memory_single_space("idloc", "ID Location space", 2, "IDLOC", idloc);
    }
    // 6. The byte that keeps the power-down and time-out bits.
    if (runtime & RUNTIME_RESETBITS) {
        uint32_t at = range_lowest_free(existing_class(s, "BANK0"));
        if (at != RANGE_NONE) {
            memory_resetbits_address = at;
            mark_used(s, "BANK0", at, at);
            mark_used(s, "COMMON", at, at);
        }
    }
    return macro;
}

// ---------------------------------------------------------------------------
// --rom, --ram and the hidden options
// ---------------------------------------------------------------------------

void reserve_code_range(uint32_t lo, uint32_t hi)
{
    range_space *s = memory_code_space;
    mark_used(s, "CODE", lo, hi);
    mark_used(s, "ENTRY", lo, hi);
    mark_used(s, "STRING", lo, hi);
    if (model_arch() != ARCH_BASELINE)
        mark_used(s, "CONST", lo, hi);
}

static bool is_rom(const void *context)
{
    return *static_cast<const memory_option_kind *>(context) == MEMORY_ROM;
}

void rom_ram_add(void *context, uint32_t lo, uint32_t hi)
{
    uint32_t arch = model_arch();
    if (is_rom(context)) {
        range_space *s = memory_code_space;
        range_class_add(space_class(s, "CODE"), RANGE_AVAILABLE, lo, hi, 0);
        if (arch == ARCH_BASELINE) {
            range_class_add(space_class(s, "ENTRY"), RANGE_AVAILABLE, lo, hi, 0x200);
            return;
        }
        range_class_add(space_class(s, "CONST"), RANGE_AVAILABLE, lo, hi, 0x100);
        if (arch == ARCH_MIDRANGE) {
            range_class_add(space_class(s, "ENTRY"), RANGE_AVAILABLE, lo, hi, 0x100);
            range_class_add(space_class(s, "STRING"), RANGE_AVAILABLE, lo, hi, 0x100);
        }
        return;
    }
    range_space *s = memory_data_space;
    if (hi - lo + 1 > bank_size[arch])
        msg_report(1053);
    int bank = bank_of(hi);
    if (bank < 0)
        msg_report(1054);
    if (hi - lo + 1 > bank_size[arch] || bank < 0)
        return;
    range_class_add(space_class(s, "RAM"), RANGE_AVAILABLE, lo, hi, bank_size[arch]);
    range_class_add(space_class(s, "ABS1"), RANGE_AVAILABLE, lo, hi, 0);
    range_class_add(space_class(s, bank_name(bank)), RANGE_AVAILABLE, lo, hi, 0);
}

void rom_ram_remove(void *context, uint32_t lo, uint32_t hi)
{
    if (is_rom(context)) {
        reserve_code_range(lo, hi);
        return;
    }
    range_space *s = memory_data_space;
    for (const char *name : {"COMMON", "BANK0", "BANK1", "BANK2", "BANK3", "RAM"})
        mark_used(s, name, lo, hi);
}

// A space given by name: "+" adds its first class's ranges to every class of
// the option's space; without "+" the option's classes move into it.
static int memory_use_space(memory_option_kind which, const char *tag, bool plus)
{
    range_space **own = which == MEMORY_ROM ? &memory_code_space : &memory_data_space;
    range_space *named = range_find_space(memory_spaces, tag);
    if (!named)
        return 907;
    if (named == *own)
        return 906;
    const range_class *first = named->classes;
    for (range_class *c = (*own)->classes; c; c = c->next)
        for (int which_list : {RANGE_AVAILABLE, RANGE_USED})
            for (const range_node *n = first ? (which_list == RANGE_AVAILABLE ? first->available : first->used)
                                             : nullptr;
                 n; n = n->next)
                range_class_add(c, which_list, n->lo, n->hi, 0);
    if (plus)
        return 0;
    range_class **tail = &named->classes;
    while (*tail)
        tail = &(*tail)->next;
    *tail = (*own)->classes;
    for (range_class *c = (*own)->classes; c; c = c->next)
        c->space = named;
    (*own)->classes = nullptr;
    *own = named;
    return 0;
}

// "default" keeps the chip's ranges ("default," goes on with the rest); a
// leading "+" keeps them too, otherwise they are cleared first; then "none",
// a range list (anything holding '-') or the name of another space.
int memory_apply_option(memory_option_kind which, const char *value)
{
    range_space *own = which == MEMORY_ROM ? memory_code_space : memory_data_space;
    const char *rest = value;
    bool plus = false;
    if (strncasecmp(rest, "default", 7) == 0) {
        if (rest[7] == '\0')
            return 0;
        if (rest[7] != ',')
            return 906;
        rest += 8;
    } else if (*rest == '+') {
        plus = true;
        if (*++rest == '\0')
            return 0;
    } else
        range_space_clear(own);
    if (strcasecmp(rest, "none") == 0)
        return 0;
    const void *context = which == MEMORY_ROM ? &memory_rom_option : &memory_ram_option;
    if (strchr(rest, '-')) {
        // Addresses beyond what the cores reach are refused before anything
        // is applied: cut into pieces they would flood the classes.
        uint32_t highest = 0;
        auto note = [](void *top, uint32_t, uint32_t hi) {
            uint32_t *t = static_cast<uint32_t *>(top);
            *t = hi > *t ? hi : *t;
        };
        if (!parse_range_list(rest, &highest, note, note) || highest > CHIP_MAX_ADDRESS)
            return 906;
        parse_range_list(rest, const_cast<void *>(context), rom_ram_add, rom_ram_remove);
        return 0;
    }
    if (*rest == '+') {
        plus = true;
        rest++;
    }
    return memory_use_space(which, rest, plus);
}

void codeoffset_apbank_handler(int option_id, uint32_t value)
{
    chip_record *chip = chip_selected;
    if (!chip)
        return;
    if (option_id == OPTION_CODEOFFSET) {
        chip->code_offset = value;
        if (value != 0)
            reserve_code_range(0, value - 1);
    } else if (option_id == OPTION_APBANK)
        chip->access_bank = (uint16_t)(0xFF00 | (value & 0xFF));
}
