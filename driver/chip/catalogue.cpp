// The catalogue of psect names the run-time model uses, each registered as a
// named block of its class with a unit kind and the description the memory
// summary shows in its Contents column. A row whose name holds "%d" stands for
// the psects numbered first to last (bank psects: "rbss_0" in BANK0 ...).
#include "chip.h"

#include <string>

// Which chips a row applies to.
enum catalogue_scope {
    ALL_CHIPS,
    BASELINE_ONLY,
    NOT_BASELINE,
    WITH_EEPROM,
};

struct catalogue_row {
    const char *name;        // psect name, "%d" for the number
    int first, last;         // numbers of a numbered row; -1 for a single psect
    const char *class_name;  // class, "%d" for the number
    uint8_t kind;            // 1 bits, 2 bytes, 3 words
    const char *description; // "%d" for the number
    catalogue_scope scope;
};

// name        first last  class      kind description                                    scope
static const catalogue_row catalogue[] = {
    {"rdata_%d",   0, 7,  "BANK%d",  2, "Bank %d RAM initialized data",            ALL_CHIPS},
    {"fnauto",    -1, -1, "RAM",     2, "Auto & parameter variables",              ALL_CHIPS},
    {"fnauto",    -1, -1, "COMMON",  2, "Auto & parameter variables",              ALL_CHIPS},
    {"common",    -1, -1, "COMMON",  2, "Common RAM variables",                    ALL_CHIPS},
    {"rbss_%d",    0, 7,  "BANK%d",  2, "Bank %d RAM variables",                   ALL_CHIPS},
    {"ptbit_0",   -1, -1, "BANK0",   1, "Power-down/time-out status",              ALL_CHIPS},
    {"rbit_%d",    0, 7,  "BANK%d",  1, "Bank %d bit variables",                   ALL_CHIPS},
    {"nvram",     -1, -1, "BANK0",   2, "Persistent Bank 0 RAM variables",         ALL_CHIPS},
    {"nvram_%d",   0, 7,  "BANK%d",  2, "Persistent Bank %d RAM variables",        ALL_CHIPS},
    {"nvbit",     -1, -1, "BANK0",   1, "Persistent Bank 0 bit variables",         ALL_CHIPS},
    {"nvbit_%d",   0, 7,  "BANK%d",  1, "Persistent Bank %d bit variables",        ALL_CHIPS},
    {"intwsave",  -1, -1, "BANK0",   2, "Registers saved to Bank 0 on interrupt",  ALL_CHIPS},
    {"intsave",   -1, -1, "BANK0",   2, "Registers saved to Bank 0 on interrupt",  ALL_CHIPS},
    {"intsave_%d", 0, 3,  "BANK%d",  2, "Registers saved to Bank %d on interrupt", ALL_CHIPS},
    {"bsrsave",   -1, -1, "BANK0",   2, "Registers saved on interrupt",            ALL_CHIPS},
    {"fsrsave",   -1, -1, "BANK0",   2, "Registers saved on interrupt",            ALL_CHIPS},
    {"fsr_save",  -1, -1, "BANK0",   2, "Registers saved on interrupt",            ALL_CHIPS},
    {"alustasa",  -1, -1, "BANK0",   2, "Registers saved on interrupt",            ALL_CHIPS},
    {"tablregs",  -1, -1, "BANK0",   2, "Registers saved on interrupt",            ALL_CHIPS},
    {"temp",      -1, -1, "BANK0",   2, "Temporary RAM data",                      ALL_CHIPS},
    {"xtemp",     -1, -1, "BANK0",   2, "Extended temporary RAM data",             ALL_CHIPS},
    {"code_ptr",  -1, -1, "BANK0",   2, "Indirect const pointer",                  ALL_CHIPS},
    {"struct",    -1, -1, "BANK0",   2, "Structure return area",                   ALL_CHIPS},
    {"idata12",   -1, -1, "CODE",    3, "Image for initialized data",              BASELINE_ONLY},
    {"idata",     -1, -1, "CODE",    3, "Image for initialized data",              NOT_BASELINE},
    {"idata_%d",   0, 3,  "CODE",    3, "Bank %d data (ROM image)",                ALL_CHIPS},
    {"maintext",  -1, -1, "CODE",    3, "Program code for main() function",        ALL_CHIPS},
    {"text",      -1, -1, "CODE",    3, "Program and library code",                ALL_CHIPS},
    {"ctext",     -1, -1, "CODE",    3, "Program and library code",                ALL_CHIPS},
    {"ftext",     -1, -1, "CODE",    3, "Arithmetic routine code",                 ALL_CHIPS},
    {"float_te",  -1, -1, "CODE",    3, "Arithmetic routine code",                 ALL_CHIPS},
    {"init",      -1, -1, "ENTRY",   3, "Initialization code",                     BASELINE_ONLY},
    {"end_init",  -1, -1, "ENTRY",   3, "Initialization code",                     BASELINE_ONLY},
    {"init",      -1, -1, "CODE",    3, "Initialization code",                     NOT_BASELINE},
    {"end_init",  -1, -1, "CODE",    3, "Initialization code",                     NOT_BASELINE},
    {"intentry",  -1, -1, "CODE",    3, "Interrupt context entry code",            ALL_CHIPS},
    {"intcode",   -1, -1, "CODE",    3, "Interrupt service routine",               ALL_CHIPS},
    {"intret",    -1, -1, "CODE",    3, "Interrupt context return code",           ALL_CHIPS},
    {"powerup",   -1, -1, "CODE",    3, "Power on reset code",                     ALL_CHIPS},
    {"reset_vec", -1, -1, "CODE",    3, "Reset vector",                            ALL_CHIPS},
    {"clrtext",   -1, -1, "CODE",    3, "Memory clearing code",                    ALL_CHIPS},
    {"stringta",  -1, -1, "CODE",    3, "Strings and constant data",               ALL_CHIPS},
    {"cstrings",  -1, -1, "CODE",    3, "Strings and constant data",               ALL_CHIPS},
    {"const",     -1, -1, "CODE",    3, "Strings and constant data",               ALL_CHIPS},
    {"strings12", -1, -1, "ENTRY",   3, "Strings and constant data",               BASELINE_ONLY},
    {"strings",   -1, -1, "CODE",    3, "Strings and constant data",               NOT_BASELINE},
    {"pstrings",  -1, -1, "CODE",    3, "Packed strings",                          ALL_CHIPS},
    {"jmp_tab",   -1, -1, "CODE",    3, "Function return jump table",              ALL_CHIPS},
    {"code",      -1, -1, "CODE",    3, "Initialized ROM data",                    ALL_CHIPS},
    {"config",    -1, -1, "CONFIG",  3, "User-programmed configuration bits",      ALL_CHIPS},
    {"idloc",     -1, -1, "IDLOC",   2, "User-programmed ID locations",            ALL_CHIPS},
    {"abs_s1",    -1, -1, "ABS1",    2, "Absolute RAM variables",                  ALL_CHIPS},
    {"eeprom_da", -1, -1, "EEDATA",  2, "User-programmed EEPROM data",             WITH_EEPROM},
};

static bool row_applies(const catalogue_row &row, const chip_record *chip)
{
    switch (row.scope) {
    case BASELINE_ONLY: return chip->architecture == ARCH_BASELINE;
    case NOT_BASELINE: return chip->architecture != ARCH_BASELINE;
    case WITH_EEPROM: return chip->eeprom_size != 0;
    default: return true;
    }
}

// Registers one psect in its class; a class the chip does not have gets none.
static void catalogue_define(const char *name, const char *class_name, uint8_t kind, const char *description)
{
    if (range_class *cls = range_find_class(memory_spaces, class_name))
        range_entry_define(cls, name, kind, description, 0, 0, 0);
}

// The texts of a numbered row hold one "%d"; a literal format is not
// possible for them, so the number is put in by hand.
static std::string with_number(const char *text, int n)
{
    std::string s = text;
    size_t at = s.find("%d");
    return at == std::string::npos ? s : s.replace(at, 2, std::to_string(n));
}

void define_psect_catalogue(const chip_record *chip)
{
    for (const catalogue_row &row : catalogue) {
        if (!row_applies(row, chip))
            continue;
        if (row.first < 0) {
            catalogue_define(row.name, row.class_name, row.kind, row.description);
            continue;
        }
        for (int n = row.first; n <= row.last; n++)
            catalogue_define(with_number(row.name, n).c_str(), with_number(row.class_name, n).c_str(), row.kind,
                             with_number(row.description, n).c_str());
    }
}
