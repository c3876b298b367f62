// The chip database, the chip record and the driver's memory model.
//
// The driver knows nothing built in about individual chips: each chip is a
// section of the database file zeph.ini in the installation's dat
// directory, a list of KEY=value lines. The reader (chipinfo.cpp) looks up one
// chip or walks every section; each key it reads is stored in the chip record
// (chip_set_scalar, chip_add_range) and handed to the memory-model hooks
// (memory.cpp), which build the code, data and EEPROM spaces of the range
// lists as the keys arrive. chip_finish checks the record and chooses the
// interrupt context-saving strategy; memory_model_finish completes the memory
// model once every option is known.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common.h"
#include "ranges.h"

// ---------------------------------------------------------------------------
// the chip record
// ---------------------------------------------------------------------------

enum chip_arch {
    ARCH_NONE = 0,
    ARCH_BASELINE = 1, // 12-bit core, "PIC12"
    ARCH_MIDRANGE = 2, // 14-bit core, "PIC14"
    ARCH_HIGHEND = 3,  // 16-bit core, "PIC16"
};

// Ordinals of the scalar keys (one hexadecimal number each).
enum chip_scalar_key {
    CHIP_ROMSIZE = 0,
    CHIP_BANKS = 1,
    CHIP_EEPROMSIZE = 2,
    CHIP_DATABANK = 3,
    CHIP_SPAREBIT = 4,
    CHIP_INTSAVE = 5,
    CHIP_OSCCAL = 6,
    CHIP_FLASH_READ = 7,
    CHIP_FLASH_WRITE = 8,
    CHIP_FLASH_ERASE = 9,
    CHIP_STACKDEPTH = 10,
    CHIP_SCALAR_COUNT = 11,
};

// Ordinals of the range keys (lo-hi pairs).
enum chip_range_key {
    CHIP_RAMBANK = 0,
    CHIP_COMMON = 1,
    CHIP_ICD1RAM = 2,
    CHIP_ICD1ROM = 3,
    CHIP_ICD2RAM = 4,
    CHIP_ICD2ROM = 5,
    CHIP_CONFIG = 6,
    CHIP_IDLOC = 7,
    CHIP_MIRROR = 8, // a pair of bank numbers, not addresses
    CHIP_RANGE_COUNT = 9,
};

// Flash types (index of FLASHTYPE among READ, READWRITE_1, READWRITE_A,
// READWRITE_B); CHIP_FLASH_NONE when the key is absent or empty.
enum {
    CHIP_FLASH_READ_ONLY = 0,
    CHIP_FLASH_READWRITE_1 = 1,
    CHIP_FLASH_READWRITE_A = 2,
    CHIP_FLASH_READWRITE_B = 3,
    CHIP_FLASH_NONE = 240,
};

constexpr int CHIP_MAX_RAM = 8;  // RAMBANK ranges
constexpr int CHIP_MAX_ICD = 4;  // ranges of each ICD list
constexpr int CHIP_MAX_MIRROR = 8;
constexpr uint32_t CHIP_MAX_ADDRESS = 0xFFFF; // highest address of any space of these cores

// An inclusive range; {0, 0} means "none" for the single ranges.
struct chip_range {
    uint32_t lo;
    uint32_t hi;
};

// Everything the driver knows about the target chip. Lives until the driver
// exits.
struct chip_record {
    char *name;                          // section name as written in the database
    uint32_t architecture;               // chip_arch
    hash_t *global_keys;                 // key -> vector_t of value strings, keys before any section
    hash_t *section_keys;                // the same for the current section
    const char *processor_id;            // PROCID, or null
    uint32_t flash_type;                 // CHIP_FLASH_*
    uint32_t flash_read;                 // FLASH_READ, words
    uint32_t flash_write;                // FLASH_WRITE, words
    uint32_t flash_erase;                // FLASH_ERASE, words (FLASH_WRITE sets it while 0)
    uint8_t banks;                       // BANKS
    uint8_t ram_count;                   // RAMBANK ranges stored (0-8)
    uint32_t rom_size;                   // ROMSIZE, words
    uint32_t code_offset;                // --codeoffset, 0 by default
    uint16_t access_bank;                // 0, or 0xFF00 | bank after --apbank
    uint32_t eeprom_size;                // EEPROMSIZE, bytes
    uint32_t data_bank;                  // DATABANK: bank of the EEPROM/flash registers
    uint8_t spare_bit;                   // SPAREBIT, 0 = none
    uint32_t int_save;                   // INTSAVE address, 0 = none
    uint8_t mirror[CHIP_MAX_MIRROR];     // for bank b: 0x80 + the bank mirroring it, 0 = none
    uint32_t osccal;                     // OSCCAL address, 0 = none
    uint32_t stack_depth;                // STACKDEPTH - 1; default 1 / 7 / 15 by architecture
    int32_t int_strategy;                // interrupt context-saving strategy, 0-6
    chip_range ram[CHIP_MAX_RAM];        // RAMBANK ranges in the order given
    chip_range common;                   // COMMON
    chip_range icd1_ram[CHIP_MAX_ICD];   // ICD1RAM
    chip_range icd1_rom[CHIP_MAX_ICD];   // ICD1ROM
    chip_range icd2_ram[CHIP_MAX_ICD];   // ICD2RAM
    chip_range icd2_rom[CHIP_MAX_ICD];   // ICD2ROM
    chip_range config;                   // CONFIG
    chip_range idloc;                    // IDLOC
};

bool chip_has_common(const chip_record *chip);
bool chip_has_config(const chip_record *chip);
bool chip_has_idloc(const chip_record *chip);

// Stores a scalar key; STACKDEPTH stores value - 1; ordinals above 10 ignored.
void chip_set_scalar(chip_record *chip, int ordinal, uint32_t value);
// Stores a range key; too many ranges (or a bad MIRROR pair) is fatal 919.
void chip_add_range(chip_record *chip, int ordinal, uint32_t lo, uint32_t hi);
// Reads PROCID and FLASHTYPE, checks the record and its key counts, chooses
// the interrupt strategy and fills the stack-depth default.
void chip_finish(chip_record *chip);
// Clears the fields a section sets (all but name, architecture, key tables).
void chip_clear_fields(chip_record *chip);

// ---------------------------------------------------------------------------
// the database reader
// ---------------------------------------------------------------------------

// Called for every chip of a walk; a non-zero result stops the walk.
typedef int (*chip_callback_t)(void *context, chip_record *chip);
// Hooks called after each scalar or range key has been stored in a record.
typedef void (*chip_scalar_hook_t)(chip_record *chip, int ordinal, uint32_t value);
typedef void (*chip_range_hook_t)(chip_record *chip, int ordinal, uint32_t lo, uint32_t hi);
// Callbacks of parse_range_list, one per item.
typedef void (*range_item_fn_t)(void *context, uint32_t lo, uint32_t hi);

// File name and line of the database being read; they stay set after a read
// (message 919 reports them).
extern const char *chipinfo_file;
extern unsigned chipinfo_line;
// The chip found by chipinfo_lookup (null until then).
extern chip_record *chip_selected;

// Without a callback: looks up `name` (exact, else the one section whose name
// ends with it) and returns its finished record, or null. With a callback:
// walks every section in file order (`name` ignored) and returns null. A
// null path (no database was found) is message 1520.
chip_record *read_chipinfo(const char *path, const char *name, void *context, chip_callback_t callback);
// read_chipinfo without callback; not found is fatal message 922. Sets chip_selected.
chip_record *chipinfo_lookup(const char *path, const char *name);
void chipinfo_iterate(const char *path, void *context, chip_callback_t callback);
// The --chipinfo listing of every chip of the database to `out`; verbose
// selects the tabular form.
void chipinfo_list(const char *path, int verbose, FILE *out);

// The value strings of a key (section table first, then the global table),
// or null when neither has it.
vector_t *chip_key_values(const chip_record *chip, const char *key);
// The first value of a key, or null when absent or without value.
const char *chip_key_value(const chip_record *chip, const char *key);
// Count check over the keys named in the null-terminated list; expected -1
// means "any number". The first failure is fatal (1015-1019).
void check_key_count(const chip_record *chip, int required, int expected, const char *key, ...);
// "PIC12", "PIC14", "PIC16" for 1, 2, 3; null otherwise.
const char *arch_name(uint32_t arch);
// The first token of text as a hexadecimal number; 1 on success, 0 otherwise.
int parse_hex_value(const char *text, uint32_t *out);
// One lo-hi range at *cursor; advances to the next range. 1 on success.
int parse_hex_range(const char **cursor, uint32_t *lo, uint32_t *hi);
// Signed list "+lo-hi,-lo-hi,..." for --rom and --ram; 1 when the whole text
// was read, 0 on a syntax error (items before it have been passed on).
int parse_range_list(const char *text, void *context, range_item_fn_t add, range_item_fn_t remove);
// Installs the memory-model hooks (memory_model_start does it).
void chipinfo_set_hooks(chip_scalar_hook_t scalar_hook, chip_range_hook_t range_hook);

// ---------------------------------------------------------------------------
// the memory model
// ---------------------------------------------------------------------------

// --debugger choices and --runtime bits the memory model looks at.
enum {
    DEBUGGER_NONE = 0x1,
    DEBUGGER_ICD = 0x2,
    DEBUGGER_ICD2 = 0x4,
    DEBUGGER_PICKIT2 = 0x8,
    DEBUGGER_PICKIT3 = 0x10,
    DEBUGGER_REALICE = 0x20,
    DEBUGGER_ICD3 = 0x40,
};
constexpr uint32_t RUNTIME_RESETBITS = 0x20000;

// Which option a --rom/--ram edit belongs to (the context of rom_ram_add and
// rom_ram_remove is a pointer to one of these).
enum memory_option_kind { MEMORY_ROM = 0, MEMORY_RAM = 1 };
extern const memory_option_kind memory_rom_option; // &memory_rom_option as context
extern const memory_option_kind memory_ram_option; // &memory_ram_option as context

// The spaces: all of them, and the driver's current code and data space
// (a --rom/--ram merge into another space changes these).
extern range_space *memory_spaces;
extern range_space *memory_code_space;
extern range_space *memory_data_space;
extern range_space *memory_eedata_space;
// ICD reservations gathered from the database: ICD1 RAM, ICD1 ROM, ICD2 RAM, ICD2 ROM.
extern range_node *memory_icd_lists[4];
// Address of the reset-bits byte (--runtime=resetbits), RANGE_NONE when none.
extern uint32_t memory_resetbits_address;

// Start-up: creates the code, data and eedata spaces and installs the hooks.
void memory_model_start();
// Frees every space and forgets the model (tests and repeated runs).
void memory_model_reset();
void memory_scalar_hook(chip_record *chip, int ordinal, uint32_t value);
void memory_range_hook(chip_record *chip, int ordinal, uint32_t lo, uint32_t hi);
// Completes the model once the chip and every option are known. Returns the
// predefined macro the preprocessor gets for the selected debugger, or null.
const char *memory_model_finish(chip_record *chip, uint32_t debugger, uint32_t runtime);
// Registers the psect names with their classes and descriptions.
void define_psect_catalogue(const chip_record *chip);
// Marks [lo, hi] used in the code classes.
void reserve_code_range(uint32_t lo, uint32_t hi);
// --rom/--ram items: `context` is &memory_rom_option or &memory_ram_option.
// rom_ram_remove also serves --serial and --checksum (with the ROM context).
void rom_ram_add(void *context, uint32_t lo, uint32_t hi);
void rom_ram_remove(void *context, uint32_t lo, uint32_t hi);
// The whole --rom/--ram option value ("default", "+...", "none", a range list
// or a space name). 0 when applied; otherwise the number of the message the
// caller reports with the option: 906 (bad specification) or 907 (unknown
// space; the tag to report is the value without its leading '+').
int memory_apply_option(memory_option_kind which, const char *value);
// The hidden options --codeoffset (id 1024) and --apbank (id 1025).
enum { OPTION_CODEOFFSET = 1024, OPTION_APBANK = 1025 };
void codeoffset_apbank_handler(int option_id, uint32_t value);
