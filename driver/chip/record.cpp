// The chip record: its setters and the checks that finish it.
//
// The reader stores each scalar and range key through chip_set_scalar and
// chip_add_range; chip_finish then reads the named keys back, checks how
// often each key was given, and chooses how an interrupt routine saves its
// context. The choice depends on where RAM offers a byte at the same offset
// in every bank or in memory common to all banks:
//   1  common RAM covers the first general-purpose offset of bank 0
//   2  common RAM ends where the first RAM range ends
//   3  every bank has the first general-purpose offset (or INTSAVE names a byte)
//   4  a spare bit of a register can hold the bank
//   5  a small chip (at most 2K words of program)
//   6  mid-range strategy 3 on a two-bank chip with more than two RAM ranges
// Baseline chips have no interrupts (0); high-end chips always use 2.
#include "chip.h"

#include <cstring>
#include <string>

// Ranges stored so far in each ICD list (ICD1 RAM, ICD1 ROM, ICD2 RAM, ICD2
// ROM); chip_finish starts them again.
static unsigned icd_count[4];

// Flash types by index.
static const char *const flash_type_names[] = {"READ", "READWRITE_1", "READWRITE_A", "READWRITE_B"};

// Default stack depth less one, by architecture (none, baseline, mid-range, high-end).
static const uint32_t default_stack_depth[] = {0, 1, 7, 15};

bool chip_has_common(const chip_record *chip)
{
    return chip->common.lo != 0 || chip->common.hi != 0;
}

bool chip_has_config(const chip_record *chip)
{
    return chip->config.lo != 0 || chip->config.hi != 0;
}

bool chip_has_idloc(const chip_record *chip)
{
    return chip->idloc.lo != 0 || chip->idloc.hi != 0;
}

void chip_clear_fields(chip_record *chip)
{
    chip_record kept{};
    kept.name = chip->name;
    kept.architecture = chip->architecture;
    kept.global_keys = chip->global_keys;
    kept.section_keys = chip->section_keys;
    kept.flash_type = CHIP_FLASH_NONE;
    *chip = kept;
    memset(icd_count, 0, sizeof icd_count); // the ranges they counted are gone
}

// Fatal message 919 with the chip's name when the record has one.
static void chip_fault(const chip_record *chip, const char *text)
{
    std::string what = text;
    if (chip->name)
        what += str_printf(" for chip %s", chip->name);
    msg_report(919, what.c_str(), chipinfo_file ? chipinfo_file : "", (int)chipinfo_line);
}

void chip_set_scalar(chip_record *chip, int ordinal, uint32_t value)
{
    switch (ordinal) {
    case CHIP_ROMSIZE: chip->rom_size = value; break;
    case CHIP_BANKS: chip->banks = (uint8_t)value; break;
    case CHIP_EEPROMSIZE: chip->eeprom_size = value; break;
    case CHIP_DATABANK: chip->data_bank = value; break;
    case CHIP_SPAREBIT: chip->spare_bit = (uint8_t)value; break;
    case CHIP_INTSAVE: chip->int_save = value; break;
    case CHIP_OSCCAL: chip->osccal = value; break;
    case CHIP_FLASH_READ: chip->flash_read = value; break;
    case CHIP_FLASH_WRITE:
        chip->flash_write = value;
        if (chip->flash_erase == 0)
            chip->flash_erase = value;
        break;
    case CHIP_FLASH_ERASE: chip->flash_erase = value; break;
    // A depth of 0 would wrap to a huge depth; it counts as not given.
    case CHIP_STACKDEPTH: chip->stack_depth = value ? value - 1 : 0; break;
    default: break;
    }
    // More banks than the mirror table holds cannot be described; memory
    // beyond what these cores address would only flood the memory model.
    if (ordinal == CHIP_BANKS && value > CHIP_MAX_MIRROR)
        chip_fault(chip, "Too many banks defined");
    if ((ordinal == CHIP_ROMSIZE || ordinal == CHIP_EEPROMSIZE) && value > CHIP_MAX_ADDRESS + 1)
        chip_fault(chip, "Memory size above 10000");
}

// Appends to a list of at most `limit` ranges; false when it is full.
static bool range_append(chip_range *list, unsigned *count, unsigned limit, uint32_t lo, uint32_t hi)
{
    if (*count >= limit)
        return false;
    list[(*count)++] = {lo, hi};
    return true;
}

// Sets a single range; false when the record has one already.
static bool range_set_once(chip_range *range, uint32_t lo, uint32_t hi)
{
    if (range->lo != 0 || range->hi != 0)
        return false;
    *range = {lo, hi};
    return true;
}

static void chip_add_mirror(chip_record *chip, uint32_t bank, uint32_t mirroring)
{
    if (bank >= mirroring)
        chip_fault(chip, "Mirror bank definition must have higher banks mirroring lower banks (Eg: 1->0 not 0->1)");
    else if (mirroring >= CHIP_MAX_MIRROR)
        chip_fault(chip, "Mirror bank number above 7");
    else
        chip->mirror[bank] = (uint8_t)(0x80 + mirroring);
}

void chip_add_range(chip_record *chip, int ordinal, uint32_t lo, uint32_t hi)
{
    unsigned ram = chip->ram_count;
    if (ordinal != CHIP_MIRROR && hi > CHIP_MAX_ADDRESS) {
        chip_fault(chip, "Address above FFFF");
        return;
    }
    switch (ordinal) {
    case CHIP_RAMBANK:
        if (!range_append(chip->ram, &ram, CHIP_MAX_RAM, lo, hi))
            chip_fault(chip, "Too many RAM banks defined");
        chip->ram_count = (uint8_t)ram;
        break;
    case CHIP_COMMON:
        if (!range_set_once(&chip->common, lo, hi))
            chip_fault(chip, "Too many COMMON RAM ranges defined");
        break;
    case CHIP_ICD1RAM:
        if (!range_append(chip->icd1_ram, &icd_count[0], CHIP_MAX_ICD, lo, hi))
            chip_fault(chip, "Too many RAM ranges specified for icd1");
        break;
    case CHIP_ICD1ROM:
        if (!range_append(chip->icd1_rom, &icd_count[1], CHIP_MAX_ICD, lo, hi))
            chip_fault(chip, "Too many rom ranges specified for icd1");
        break;
    case CHIP_ICD2RAM:
        if (!range_append(chip->icd2_ram, &icd_count[2], CHIP_MAX_ICD, lo, hi))
            chip_fault(chip, "Too many RAM ranges specified for icd2");
        break;
    case CHIP_ICD2ROM:
        if (!range_append(chip->icd2_rom, &icd_count[3], CHIP_MAX_ICD, lo, hi))
            chip_fault(chip, "Too many rom ranges specified for icd2");
        break;
    case CHIP_CONFIG:
        if (!range_set_once(&chip->config, lo, hi))
            chip_fault(chip, "Too many CONFIG ranges defined");
        break;
    case CHIP_IDLOC:
        if (!range_set_once(&chip->idloc, lo, hi))
            chip_fault(chip, "Too many IDLOC ranges defined");
        break;
    case CHIP_MIRROR:
        chip_add_mirror(chip, lo, hi);
        break;
    default:
        break;
    }
}

// True when every RAM range offers the first general-purpose offset of bank
// 0, and there are RAM ranges for every bank.
static bool chip_same_offset(const chip_record *chip)
{
    if (chip->ram_count == 0)
        return true;
    uint32_t lo0 = chip->ram[0].lo;
    for (unsigned i = 0; i < chip->ram_count; i++)
        if ((chip->ram[i].lo & 0x7F) > lo0 || lo0 > (chip->ram[i].hi & 0x7F))
            return false;
    uint32_t last_bank = (chip->ram[chip->ram_count - 1].lo >> 7) + 1;
    return chip->banks <= chip->ram_count && chip->banks <= last_bank;
}

static int32_t chip_interrupt_strategy(const chip_record *chip)
{
    uint32_t lo0 = chip->ram[0].lo;
    int32_t strategy = -1;
    if (chip_has_common(chip) && chip->banks && chip->common.lo <= lo0 && lo0 < chip->common.hi)
        strategy = 1;
    else if (chip_has_common(chip) && chip->banks && chip->common.hi == chip->ram[0].hi)
        strategy = 2;
    else if (chip->spare_bit)
        strategy = 4;
    else if (chip_same_offset(chip) || chip->int_save)
        strategy = 3;
    else if (chip->rom_size <= 0x800)
        strategy = 5;
    if (chip->architecture == ARCH_BASELINE)
        strategy = 0;
    else if (chip->architecture == ARCH_HIGHEND)
        strategy = 2;
    else if (strategy == 3 && chip->banks == 2 && chip->ram_count > 2)
        strategy = 6;
    return strategy;
}

void chip_finish(chip_record *chip)
{
    chip->processor_id = chip_key_value(chip, "PROCID");
    const char *flash = chip_key_value(chip, "FLASHTYPE");
    chip->flash_type = CHIP_FLASH_NONE;
    if (flash && *flash) {
        for (uint32_t i = 0; i < 4; i++)
            if (strcmp(flash, flash_type_names[i]) == 0)
                chip->flash_type = i;
        if (chip->flash_type == CHIP_FLASH_NONE)
            chip_fault(chip, "Unknown FLASHTYPE");
    }
    chip->int_strategy = chip_interrupt_strategy(chip);
    if (chip->int_strategy < 0)
        chip_fault(chip, "Unable to determine interrupt strategy");

    check_key_count(chip, 1, 1, "ROMSIZE", nullptr);
    check_key_count(chip, 1, 1, "BANKS", nullptr);
    check_key_count(chip, 1, -1, "RAMBANK", nullptr);
    static const char *const optional_keys[] = {"COMMON", "EEPROMSIZE", "DATABANK", "SPAREBIT", "INTSAVE",
                                                "OSCCAL", "FLASH_READ", "FLASH_WRITE", "FLASH_ERASE"};
    for (const char *key : optional_keys)
        check_key_count(chip, 0, 1, key, nullptr);

    memset(icd_count, 0, sizeof icd_count);
    if (chip->stack_depth == 0 && chip->architecture < 4)
        chip->stack_depth = default_stack_depth[chip->architecture];
}
