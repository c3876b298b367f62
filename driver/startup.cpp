// The body of the generated run-time start-up file.
//
// The start-up code is assembler source written for each link stage,
// shaped to the chip, the --runtime options and the program: it declares
// the psects of the run-time model, holds the reset vector (and the jump
// over the interrupt entry), copies initialised data from its ROM image
// into RAM, clears the uninitialised data, calibrates the oscillator and
// jumps to main. The prelink file sees an empty symbol table, so all psect
// sizes are 0 and it initialises nothing; the final file uses the sizes the
// prelink's symbol file gives, choosing for each bank the cheaper of a run
// of clrf instructions and a call of the clear routine.
//
// Bank bits are tracked while writing, so that each bank selection writes
// only the bits that change.
#include "zeph.h"

#include <cstring>

// Bank bits 5 and 6 and the indirect bank bit 7, as last written.
static bool bank_bit5;
static bool bank_bit6;
static bool indirect_bit;
// High-end chips: the bank of the last movlr, -1 when none.
static int last_bank = -1;
// The clear routine is written once per file.
static bool clear_routine_written;

static uint32_t arch() { return chip_selected->architecture; }
static bool baseline() { return arch() == ARCH_BASELINE; }
static bool midrange() { return arch() == ARCH_MIDRANGE; }
static bool highend() { return arch() == ARCH_HIGHEND; }
static const char *bank_register() { return baseline() ? "FSR" : "STATUS"; }
// How far a bank number is shifted to give its base address.
static unsigned bank_shift() { return baseline() ? 5 : midrange() ? 7 : 8; }

static void bank_state_reset()
{
    bank_bit5 = bank_bit6 = indirect_bit = false;
    last_bank = -1;
}

static bool any_bank_flag() { return bank_bit5 || bank_bit6 || indirect_bit; }

// Writes the bit changes that select `bank` (0-3; high-end: any bank).
static void select_bank(FILE *f, int bank)
{
    if (highend()) {
        if (strcmp(chip_selected->name, "17C42") != 0 && bank != last_bank)
            fprintf(f, "\tmovlr\t%d\t\t;select bank %d\n", bank, bank);
        last_bank = bank;
        return;
    }
    if (bank < 0 || bank > 3)
        return;
    bool want5 = bank & 1, want6 = bank & 2;
    if (want5 != bank_bit5)
        fprintf(f, "\t%s\t%s,5\t\t;select bank %d\n", want5 ? "bsf" : "bcf", bank_register(), bank);
    if (want6 != bank_bit6)
        fprintf(f, "\t%s\t%s,6\t\t;select bank %d\n", want6 ? "bsf" : "bcf", bank_register(), bank);
    bank_bit5 = want5;
    bank_bit6 = want6;
}

// Selects the indirect bank of banks 2/3 (`high`) or 0/1.
static void select_indirect(FILE *f, bool high)
{
    if (high && !indirect_bit)
        fprintf(f, "\tbsf\t%s,7\t\t;select indirect bank 2/3\n", bank_register());
    else if (!high && indirect_bit)
        fprintf(f, "\tbcf\t%s,7\t\t;select indirect bank 0/1\n", bank_register());
    indirect_bit = high;
}

// ---------------------------------------------------------------------------
// declarations
// ---------------------------------------------------------------------------

static void psect(FILE *f, const char *name, const char *attributes)
{
    fprintf(f, "\tpsect\t%s,%s\n", name, attributes);
}

// "<stem><i>" for i in [from, to], in class BANK<i> (or the given class)
// with the given attributes after the class.
static void bank_psects(FILE *f, const char *stem, int from, int to, const char *after)
{
    for (int i = from; i <= to; i++)
        fprintf(f, "\tpsect\t%s%d,class=BANK%d,%s\n", stem, i, i, after);
}

// Psects of the given stem numbered from..to, all with one attribute text.
static void numbered_psects(FILE *f, const char *stem, int from, int to, const char *attributes)
{
    for (int i = from; i <= to; i++)
        fprintf(f, "\tpsect\t%s%d,%s\n", stem, i, attributes);
}

static void names_psects(FILE *f, std::initializer_list<const char *> names, const char *attributes)
{
    for (const char *n : names)
        psect(f, n, attributes);
}

static const char *const CODE2 = "class=CODE,delta=2";
static const char *const ENTRY2 = "class=ENTRY,delta=2";

// Step 2: what every architecture declares.
static void write_common_declarations(FILE *f)
{
    fprintf(f, "\tglobal\t_main,start,_exit,reset_vec\n");
    fprintf(f, "\tfnroot\t_main\n");
    psect(f, "config", "class=CONFIG,delta=2");
    psect(f, "idloc", "class=IDLOC,delta=2");
    bank_psects(f, "rbss_", 0, 3, "space=1");
    bank_psects(f, "rdata_", 0, 3, "space=1");
    psect(f, "nvram", "class=BANK0,space=1");
    bank_psects(f, "nvram_", 1, 3, "space=1");
    bank_psects(f, "nvbit_", 0, 3, "bit,space=1");
    names_psects(f, {"temp", "struct"}, "ovrld,class=BANK0,space=1");
    psect(f, "code", CODE2);
    names_psects(f, {"rbit_0", "ptbit_0"}, "class=BANK0,bit,space=1");
    bank_psects(f, "rbit_", 1, 3, "bit,space=1");
    names_psects(f, {"pstrings", "powerup", "reset_vec", "maintext"}, CODE2);
    fprintf(f, "\tC\tset\t0\n\tZ\tset\t2\n\tPCL\tset\t2\n\tINDF\tset\t0\n\n");
}

// Step 3: the automatic-variable psects the RAM ranges allow.
static void write_auto_declarations(FILE *f)
{
    if (chip_has_common(chip_selected))
        fprintf(f, "\tpsect\tfnautoc,class=COMMON,space=1\n\tpsect\tcommon,class=COMMON,space=1\n");
    fprintf(f, "\tpsect\tfnauto0,class=BANK0,space=1\n");
    bank_psects(f, "fnauto", 1, chip_selected->ram_count > 3 ? 3 : chip_selected->ram_count - 1, "space=1");
}

// Step 4: the places the HEX utility fills with the checksum and serial.
static void write_checksum_serial(FILE *f)
{
    if (settings.checksum_given)
        fprintf(f, "\tPSECT\tchecksum,class=CODE,space=0\n\tGLOBAL\t__checksum0\n__checksum0:\n\n");
    if (settings.serial)
        fprintf(f, "\tPSECT\tserial,class=CODE,space=0\n\tGLOBAL\t__serial0\n__serial0:\n\n");
}

static void write_midrange_declarations(FILE *f)
{
    const chip_record *c = chip_selected;
    if (c->osccal) {
        fprintf(f, "\tOSCCAL\tequ\t0x%lX\n", static_cast<unsigned long>(c->osccal));
        fprintf(f, "\tpsect\tosccal,class=CODE,delta=2\nglobal ___osccal_val\n___osccal_val:\n");
        if (opts.runtime & RT_OSCVAL)
            fprintf(f, "\tretlw\t0x%X\t;user defined oscillator constant\n", osc_calibration);
        else
            fprintf(f, "\t;oscillator constant would be pre-programmed here\n");
    }
    fprintf(f, "\tSTATUS\tequ\t3\n\tPCLATH\tequ\t0Ah\n\n");
    psect(f, "eeprom_data", "class=EEDATA,delta=2,space=2");
    psect(f, "idata", CODE2);
    numbered_psects(f, "idata_", 0, 3, CODE2);
    names_psects(f, {"intcode", "intret", "intentry"}, CODE2);
    fprintf(f, "\tglobal\tintlevel0,intlevel1,intlevel2, intlevel3, intlevel4, intlevel5\n");
    for (int i = 0; i <= 5; i++)
        fprintf(f, "intlevel%d:\n", i);
    psect(f, "intsave", "class=BANK0,space=1");
    bank_psects(f, "intsave_", 1, 3, "space=1");
    names_psects(f, {"init", "init23", "text", "end_init", "clrtext"}, CODE2);
    numbered_psects(f, "float_text", 0, 4, "class=CODE,delta=2,size=2048");
    fprintf(f, "\tFSR\tset\t4\n");
    psect(f, "strings", "class=CODE,delta=2,reloc=256");
}

static void write_baseline_declarations(FILE *f)
{
    const chip_record *c = chip_selected;
    fprintf(f, "\tSTATUS\tequ\t3\n\tFSR\tequ\t4\n");
    // Without a calibration register there is nothing to name or store.
    if (c->osccal)
        fprintf(f, "OSCCAL\tequ\t0x%lX\n", static_cast<unsigned long>(c->osccal));
    fprintf(f, "\n");
    names_psects(f, {"reset_wrap", "text", "init", "init23"}, CODE2);
    names_psects(f, {"end_init", "clrtext", "jmp_tab"}, ENTRY2);
    numbered_psects(f, "float_text", 0, 4, "class=ENTRY,delta=2,size=512");
    psect(f, "idata12", ENTRY2);
    numbered_psects(f, "idata_", 0, 7, CODE2);
    bank_psects(f, "rbit_", 4, 7, "bit,space=1");
    bank_psects(f, "rbss_", 4, 7, "space=1");
    bank_psects(f, "rdata_", 4, 7, "space=1");
    bank_psects(f, "nvram_", 4, 7, "space=1");
    bank_psects(f, "nvbit_", 4, 7, "bit,space=1");
    psect(f, "strings12", "class=ENTRY,delta=2,reloc=512");
    fprintf(f, "\tpsect\treset_vec,class=CODE,delta=2\nreset_vec:\n");
    if (opts.runtime & RT_OSCVAL)
        fprintf(f, "\tmovlw 0%Xh\t;user defined oscillator calibration value\n", osc_calibration);
    else
        fprintf(f, "\t;oscillator constant would be pre-programmed here\n");
}

static void write_highend_declarations(FILE *f)
{
    fprintf(f, "\tSTATUS\tequ\t4\n\tPCLATH\tequ\t3\nTBLPTRL\tequ\t0Dh\nTBLPTRH\tequ\t0Eh\nWREG\tequ\t0Ah\n\n");
    numbered_psects(f, "idata_", 0, 3, "class=CODE,delta=1");
    names_psects(f, {"intcode", "intret", "intentry"}, CODE2);
    fprintf(f, "\tglobal\tintlevel0,intlevel1\nintlevel0\nintlevel1\n");
    names_psects(f, {"intsave", "intsave_0"}, "class=BANK0,space=1");
    bank_psects(f, "intsave_", 1, 3, "space=1");
    names_psects(f, {"init", "init23", "text", "end_init", "clrtext"}, CODE2);
    numbered_psects(f, "float_text", 0, 4, "class=CODE,delta=2,size=2048");
    psect(f, "cstrings", "class=CODE,delta=1");
    // PCLATH, TBLPTRL, TBLPTRH and WREG are equates above already, with
    // the same values; a set would redefine them.
    fprintf(f, "\tFSR\tset\t1\n\tCPUSTA\tset\t6\n\tBSR\tset\t0Fh\n\tPRODL\tset\t18h\n\tPRODH\tset\t19h\n\n");
}

// ---------------------------------------------------------------------------
// reset vector
// ---------------------------------------------------------------------------

// Words of one code page: the reach of a goto.
static uint32_t page_words() { return baseline() ? 0x200 : midrange() ? 0x800 : 0x2000; }

// A jump from the reset code to `target` within the reset code's page.
static void write_jump(FILE *f, const char *target)
{
    if (baseline())
        fprintf(f, "\tgoto\t%s & 0x1FF | (reset_wrap & not 0x1FF)\n", target);
    else if (midrange())
        fprintf(f, "\tgoto\t%s & 0x7FF | (reset_vec & not 0x7FF)\n", target);
    else
        fprintf(f, "\tmovlw\t%s & 0xFF\n\tmovwf\tPCL\n", target);
}

// Steps 6-7: the reset entry and the jump to a power-up routine or start.
static void write_reset_entry(FILE *f)
{
    const chip_record *c = chip_selected;
    if (baseline())
        fprintf(f, "\tpsect\treset_wrap\nreset_wrap:\n");
    else
        fprintf(f, "\tpsect\treset_vec\nreset_vec:\n");
    if (opts.debugger && opts.debugger != DBG_NONE)
        fprintf(f, "\tnop\t; NOP inserted due to debugger requirements\n\n");
    if (baseline()) {
        // Storing W through address 0 would write wherever FSR points.
        if (c->osccal)
            fprintf(f, "\tmovwf\t%ld\t\t;calibrate oscillator\n", static_cast<long>(c->osccal));
        fprintf(f, "\tclrf FSR\n");
    }
    bool interrupts = symt_psect_size("intentry") != 0;
    if (symt_psect_size("powerup")) {
        fprintf(f, "\tglobal powerup\n\n; Power-up routine detected. Jumping to powerup - assumes powerup will "
                   "jump back to start\n");
        if (!baseline())
            fprintf(f, "\tmovlw\tpowerup>>8\n\tmovwf\tPCLATH\n");
        write_jump(f, "powerup");
        if (midrange())
            fprintf(f, "\n");
    } else {
        fprintf(f, "\t; No powerup routine\n");
        if (!interrupts && !(opts.runtime & RT_DOWNLOAD)) {
            fprintf(f, "\t; No interrupt routine\n");
            return;
        }
        fprintf(f, "\tglobal start\n\n; jump to start\n");
        // Baseline chips have no PCLATH (address 0Ah is RAM there): their
        // goto stays in the page of reset_wrap, where init follows it.
        if (c->rom_size > page_words() && !baseline())
            fprintf(f, "\tmovlw\tstart >>8\n\tmovwf\tPCLATH\n");
        write_jump(f, "start");
        if (!highend())
            fprintf(f, "\n");
    }
    if (!interrupts)
        fprintf(f, "\t; No interrupt routine\n");
}

// Step 9: the TO and PD bits saved before anything clears them.
static void write_reset_bits(FILE *f)
{
    unsigned address = memory_resetbits_address;
    fprintf(f, "\n\t; Save the TO, PD bit states before they are cleared by clrwdt instruction\n");
    fprintf(f, "\tglobal\t___resetbits\n\tglobal\t___powerdown\n\tglobal\t___timeout\n\tdabs 1,%d,1\n", address);
    fprintf(f, "\t___resetbits\tequ\t%d\n", address);
    if (highend())
        fprintf(f, "\t___powerdown\tequ\t(___resetbits*8)+2\n\t___timeout\tequ\t(___resetbits*8)+3\n"
                   "\tmovf CPUSTA,w\n\tmovwf ___resetbits\n");
    else
        fprintf(f, "\t___powerdown\tequ\t(___resetbits*8)+3\n\t___timeout\tequ\t(___resetbits*8)+4\n"
                   "\tmovf STATUS,w\n\tmovwf ___resetbits\n");
}

// ---------------------------------------------------------------------------
// data initialisation and clearing
// ---------------------------------------------------------------------------

// Step 10: copies the ROM image of the initialised data into RAM, by one
// fetch-and-store pair per byte for a few bytes, else by a loop.
static void write_data_init(FILE *f)
{
    if (!(opts.runtime & RT_INIT)) {
        fprintf(f, "\t; Driver option --runtime=-init: Skipping data initialization\n\n");
        return;
    }
    const char *image = baseline() ? "idata12" : "idata";
    uint32_t n = symt_psect_size(image);
    if (n == 0)
        return;
    if (n <= 10) {
        fprintf(f, "global __Lramdata, __L%s\n", image);
        uint32_t base = 0;
        uint32_t databank = symt_value("__databank");
        if (databank != 0xFFFFFFFFu) {
            select_bank(f, static_cast<int>(databank));
            base = databank << bank_shift();
        }
        for (uint32_t k = n; k-- > 0;)
            fprintf(f, "\tfcall __L%s+%u\n\tmovwf (__Lramdata+%u) ^ 0x%X\n", image, k, k, base);
        return;
    }
    if (!symt_exists("btemp")) {
        range_class *common = range_find_class(memory_spaces, "COMMON");
        fprintf(f, "btemp\tequ\t0x%X\t\t;temporary memory only used by the following\n",
                common ? range_lowest_free(common) : 0);
    }
    if (symt_value("__Lramdata") >= 256) {
        fprintf(f, "bsf STATUS,7\n");
        indirect_bit = true;
    }
    // The loop names its registers; a name this file already made an equate
    // (FSR on baseline chips, PCLATH on the others) cannot be set again.
    // Baseline chips have no PCLATH at all: 0Ah is a RAM byte there, which
    // the loop must not overwrite, and the image is reached by PCL alone.
    fprintf(f, "%sINDF\tset\t0\nPC\tset\t2\n", baseline() ? "" : "FSR\tset\t4\n");
    fprintf(f,
            "global btemp, __Lramdata, __L%s, __Hramdata\n"
            "movlw\tlow(__Lramdata)\nmovwf\tFSR\nmovlw\thigh(__L%s)\nmovwf\tbtemp\nmovlw\tlow(__L%s)\n"
            "movwf\tbtemp+1\ncopyloop:\nfcall fetch\nmovwf\tINDF\nincf\tFSR,f\nmovf\tFSR,w\nxorlw\tlow(__Hramdata)\n"
            "btfsc\tSTATUS,2\ngoto\tdone_copy\nincf\tbtemp+1,f\nbtfsc\tSTATUS,2\nincf\tbtemp,f\ngoto copyloop\n"
            "fetch:\n%smovf\tbtemp+1,w\nmovwf\tPC\ndone_copy:\n",
            image, image, image, baseline() ? "" : "movf\tbtemp,w\nmovwf\tPCLATH\n");
}

static uint32_t bytes_of_bits(uint32_t bits) { return (bits + 7) / 8; }

// The clear routine: FSR holds the first address, W the last address + 1.
static void write_clear_routine(FILE *f)
{
    fprintf(f, "\tpsect\tclrtext,%s\n", baseline() ? ENTRY2 : CODE2);
    fprintf(f, "\tglobal\tclear_ram\n;\tCalled with FSR containing the base address, and\n;\tW with the last "
               "address+1\nclear_ram:\n\tclrwdt\t\t\t;clear the watchdog before getting into this loop\n"
               "clrloop:\n\tclrf\tINDF\t\t;clear RAM location pointed to by FSR\n\tincf\tFSR,f\t\t;increment "
               "pointer to next location\n\txorwf\tFSR,w\t\t;XOR with final address\n");
    if (baseline())
        fprintf(f, "\tandlw\t1Fh\t\t;Test low bits only\n");
    fprintf(f, "\tbtfsc\tSTATUS,2\t;have we reached the end yet?\n\tretlw\t0\t\t;all done for this bank, "
               "return\n\txorwf\tFSR,w\t\t;XOR again to restore value\n\tgoto\tclrloop\t\t;go and do the next "
               "byte\n\n");
}

// The call cost of the clear routine: 3 words, and 2 more for each
// halving of the page count above one.
static uint32_t clear_call_cost()
{
    uint32_t pages = (chip_selected->rom_size - 1) >> (baseline() ? 9 : midrange() ? 11 : 13);
    uint32_t halvings = 0;
    for (; pages >= 2; pages >>= 1)
        halvings++;
    return 3 + 2 * halvings;
}

// One bank's (bank 4: the common area's) clearing.
static void write_clear_bank(FILE *f, int bank, uint32_t size, uint32_t total, uint32_t cost)
{
    bool common = bank == 4;
    if (size == 0) {
        if (common)
            fprintf(f, ";\tNo RAM objects to clear in common bank\n");
        else
            fprintf(f, ";\tNo RAM objects to clear in bank %d\n", bank);
        return;
    }
    const char *plural = size > 1 ? "s" : "";
    if (common)
        fprintf(f, ";\t%ld byte%s of RAM objects in common bank to zero\n\n", static_cast<long>(size), plural);
    else
        fprintf(f, ";\t%ld byte%s of RAM objects in bank %d to zero\n\n", static_cast<long>(size), plural, bank);
    fprintf(f, "\tpsect\tinit\n");
    char label[16];
    if (common)
        snprintf(label, sizeof label, "__Lcommon");
    else
        snprintf(label, sizeof label, "__Lrbss_%d", bank);
    uint32_t start = symt_value(label);
    if (size <= cost + 3 || total <= cost + 11) {
        select_bank(f, bank);
        fprintf(f, "\tglobal\t%s\n;\tSequence of clrf's more optimal than using clear routine\n", label);
        for (uint32_t k = 0; k < size; k++) {
            if (common)
                fprintf(f, "\tclrf\t(%s+%u)\t\t;clear byte at RAM address 0x%X\n", label, k, start + k);
            else
                fprintf(f, "\tclrf\t(%s+%u)^0x%X\t\t;clear byte at RAM address 0x%X\n", label, k,
                        static_cast<unsigned>(bank) << bank_shift(), start + k);
        }
        fprintf(f, "\n");
        return;
    }
    select_indirect(f, bank >= 2);
    fprintf(f, "\tglobal\t%s\n\tmovlw\tlow(%s)\t\t;load the low address into FSR\n\tmovwf\tFSR\n\tmovlw\tlow(%s+%u)"
               "\t\t;load the high address+1 into W\n\tfcall\tclear_ram\t\t;go and zero that range of "
               "addresses\n\n",
            label, label, label, size);
    if (!clear_routine_written) {
        write_clear_routine(f);
        clear_routine_written = true;
    }
}

// Step 11: zeroes the uninitialised data of each bank and the common area.
static void write_clear(FILE *f)
{
    if (!(opts.runtime & RT_CLEAR)) {
        fprintf(f, "\t; Driver option --runtime=-clear: Skipping RAM clearing\n\n");
        return;
    }
    uint32_t sizes[5];
    uint32_t total = 0;
    for (int b = 0; b < 4; b++) {
        char rbss[16], rbit[16];
        snprintf(rbss, sizeof rbss, "rbss_%d", b);
        snprintf(rbit, sizeof rbit, "rbit_%d", b);
        sizes[b] = symt_psect_size(rbss) + bytes_of_bits(symt_psect_size(rbit));
        total += sizes[b];
    }
    sizes[4] = symt_psect_size("common") + bytes_of_bits(symt_psect_size("rbit_c"));
    total += sizes[4];
    uint32_t cost = clear_call_cost();
    fprintf(f, "\n;-------------------------------------------------------------------------------\n"
               ";\t\tClear (zero) uninitialized global variables\n\n");
    int last = chip_has_common(chip_selected) ? 4 : 3;
    for (int b = 0; b <= last; b++)
        write_clear_bank(f, b, sizes[b], total, cost);
    fprintf(f, "\n;-------------------------------------------------------------------------------\n");
}

// ---------------------------------------------------------------------------
// the end of the start-up code
// ---------------------------------------------------------------------------

// Step 13: the calibration value from the last program word into OSCCAL.
static void write_osccal_load(FILE *f)
{
    uint32_t a = chip_selected->osccal;
    if ((a >= 128 && a <= 255) || a > 383) {
        fprintf(f, "\tbsf\t3,5\n");
        bank_bit5 = true;
    }
    if (a >= 256) {
        fprintf(f, "\tbsf\t3,6\n");
        bank_bit6 = true;
    }
    unsigned base = a <= 127 ? 0 : a <= 255 ? 128 : a <= 383 ? 256 : 384;
    fprintf(f, "\tfcall\t___osccal_val\nmovwf\t0x%lX ^ 0x%X\n", static_cast<unsigned long>(a), base);
}

// Steps 12-15: back to bank 0 and on to main.
static void write_end(FILE *f)
{
    fprintf(f, "\tpsect\tend_init\n");
    if (any_bank_flag()) {
        fprintf(f, baseline() ? "\tclrf\tFSR\n" : "\tclrf\tSTATUS\n");
        bank_state_reset();
    }
    if (midrange() && chip_selected->osccal && (opts.runtime & RT_OSCCAL))
        write_osccal_load(f);
    if (highend()) {
        fprintf(f, "\tsetf\tSTATUS\n");
        if (strcmp(chip_selected->name, "17C42") != 0)
            fprintf(f, "\tmovlr\t0\n");
    } else if (midrange() && any_bank_flag()) {
        fprintf(f, "\tclrf\tSTATUS\n");
    }
    fprintf(f, "\tljmp _main\n");
    fprintf(f, "\tend\tstart\n");
}

// The body, in file order.
void write_startup_body(FILE *f, bool prelink)
{
    bank_state_reset();
    if (!prelink)
        clear_routine_written = false;
    fprintf(f, "\tprocessor\t%s\n\n", chip_selected->name);
    write_common_declarations(f);
    write_auto_declarations(f);
    write_checksum_serial(f);
    if (midrange())
        write_midrange_declarations(f);
    else if (baseline())
        write_baseline_declarations(f);
    else
        write_highend_declarations(f);
    write_reset_entry(f);
    fprintf(f, "\n\n\tpsect\tinit\nstart\n");
    fprintf(f, "_exit\n");
    if (opts.runtime & RT_RESETBITS)
        write_reset_bits(f);
    write_data_init(f);
    write_clear(f);
    write_end(f);
    bank_state_reset();
}
