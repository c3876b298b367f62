// Bank selection: the bank of an operand and the instructions that select it.
//
// Data memory is divided into banks that a few bits select before a banked
// register is touched: RP0 and RP1 (STATUS bits 5 and 6) on the 14-bit core.
// The tracked bank state (bstate) says which of those bits are known and
// their values; a selection writes an instruction only for a bit that is
// unknown or has the other value. Dry runs write nothing but track the bits
// exactly as the written run does.
#include "kestrel.h"
#include "ranges.h"
#include "select.h"

// Tracked bits of the 14-bit core.
enum { BIT_RP0 = 0x100, BIT_RP1 = 0x200, BIT_IRP = 0x800, BITS_ALL = 0xBFF };

// The bank of the auto/param block (BANK_COMMON when it lies in common memory).
int frame_bank = BANK_COMMON;

int bank_of_address(unsigned long address)
{
    switch (chip.family) {
    case 1: return (int)(address >> 5);
    case 2: return (int)(address >> 7);
    case 3: return (int)(address >> 8);
    default: return -4;
    }
}

// Whether an address lies in the RAM every bank reaches.
static bool in_common(unsigned long address)
{
    range_class *c = target_class("COMMON");
    if (c && range_contains(c, (uint32_t)address))
        return true;
    // the core registers every bank maps at the same address; on the 12-bit
    // cores the first 16 addresses of every bank are those of bank 0
    if (chip.family == 1)
        return (address & 0x1F) < 0x10;
    return chip.family == 2 && address >= 2 && address <= 4;
}

static bool is_bit_object(cg_symbol *s)
{
    type_desc *t = type_unqualify(s->type);
    return t && t->kind == TY_BASIC && t->arith == AR_BIT;
}

// Whether s lies in the frames: a parameter, an auto, or a function's
// parameter or auto block as a whole (va_start takes the address of one).
bool sym_in_frame(cg_symbol *s)
{
    return s->storage == ST_AUTO || s->storage == ST_PARAM ||
           (s->owner && (s == s->owner->param_block || s == s->owner->auto_block));
}

int bank_of_symbol(cg_symbol *s)
{
    if (sym_in_frame(s))
        return frame_bank;
    if (s->flags & SF_ABSOLUTE) {
        unsigned long a = is_bit_object(s) ? s->address >> 3 : s->address;
        return in_common(a) ? BANK_COMMON : bank_of_address(a);
    }
    return s->bank;
}

// The bank an operand printed from a node at one of its levels lies in: a
// temporary in the frame, a named object where it was placed, a constant
// nowhere.
int bank_of_operand_node(tree_node *t, int level)
{
    if (!t)
        return BANK_NONE;
    if (level >= 0 && level < t->level_count && t->result_reg[level] >= REG_TEMP_BASE &&
        t->result_reg[level] < REG_INTERNAL_BASE)
        return frame_bank;
    if (t->op == OP_ID && t->sym && !sym_is_function(t->sym))
        return bank_of_symbol(t->sym);
    return BANK_NONE;
}

// One bank bit: an instruction when its tracked value is unknown or other.
static void select_bit(uint32_t bit, int reg_bit, bool value, int bank, const char *name)
{
    if (bstate_known(bit) && (bstate_value(bit) != 0) == value)
        return;
    if (!dry_run)
        out_printf("b%cf\tstatus, %d\t;%s=%d, select bank%d\n\t", value ? 's' : 'c', reg_bit, name, value ? 1 : 0,
                   bank);
    bstate_set(bit, value ? bit : 0);
}

// 12-bit core: FSR holds a pointer that code still uses. Selecting a bank
// (bits 5 and 6 of FSR) moves the pointer to the same place of that bank,
// so before the next access through it the bank of its target is selected
// again (indf_ready); a pointer whose target's bank is not known cannot be
// moved back, and a selection then is refused.
bool fsr_in_use;
int fsr_target_bank = BANK_NONE;

static void select_fsr_bit(uint32_t bit, int reg_bit, bool value, int bank)
{
    if (bstate_known(bit) && (bstate_value(bit) != 0) == value)
        return;
    if (fsr_in_use && fsr_target_bank == BANK_NONE) {
        fsr_in_use = false;
        msg_report(1490, "accesses through pointers mixed with objects of other banks on the 12-bit cores");
    }
    if (!dry_run)
        out_printf("b%cf\tfsr, %d\t;select bank%d\n\t", value ? 's' : 'c', reg_bit, bank);
    bstate_set(bit, value ? bit : 0);
}

void bank_select(int bank)
{
    if (bank < 0 || chip.banks <= 1)
        return;
    if (chip.family == 1) {
        // the 12-bit cores select the bank by FSR's bits 5 and 6 (any write
        // of FSR, an indirect access, selects anew: the state is forgotten)
        select_fsr_bit(BIT_RP0, 5, bank & 1, bank);
        if (chip.banks > 2)
            select_fsr_bit(BIT_RP1, 6, bank & 2, bank);
        return;
    }
    if (chip.family != 2) {
        msg_report(1490, "bank selection on this chip family");
        return;
    }
    select_bit(BIT_RP0, 5, bank & 1, bank, "RP0");
    if (chip.banks > 2)
        select_bit(BIT_RP1, 6, bank & 2, bank, "RP1");
}

// The instructions bank_select(bank) would write now.
int bank_select_cost(int bank)
{
    if (bank < 0 || chip.banks <= 1)
        return 0;
    int cost = 0;
    for (uint32_t bit : {(uint32_t)BIT_RP0, (uint32_t)BIT_RP1}) {
        if (bit == BIT_RP1 && chip.banks <= 2)
            continue;
        bool value = bit == BIT_RP0 ? (bank & 1) : (bank & 2);
        if (!bstate_known(bit) || (bstate_value(bit) != 0) != value)
            cost++;
    }
    return cost;
}

// The half of the banks an indirect access reaches (IRP).
void irp_select(int half)
{
    if (bstate_known(BIT_IRP) && (bstate_value(BIT_IRP) != 0) == (half != 0))
        return;
    if (!dry_run)
        out_printf("b%cf\tstatus, 7\t;IRP=%d, banks %d-%d through FSR\n\t", half ? 's' : 'c', half ? 1 : 0,
                   half ? 2 : 0, half ? 3 : 1);
    bstate_set(BIT_IRP, half ? BIT_IRP : 0);
}

void bank_forget()
{
    bstate_forget(BITS_ALL);
}

// 12-bit core: FSR was just loaded with an address of the given bank (a
// pointer to common memory holds a bank-0 address): its bank bits are known.
void fsr_pointed(int target)
{
    bank_forget();
    fsr_in_use = true;
    fsr_target_bank = target;
    if (chip.banks <= 1 || target == BANK_NONE)
        return;
    int bank = target == BANK_COMMON ? 0 : target;
    bstate_set(BIT_RP0, bank & 1 ? BIT_RP0 : 0);
    if (chip.banks > 2)
        bstate_set(BIT_RP1, bank & 2 ? BIT_RP1 : 0);
}

// Before an access through FSR: its bank bits those of the target again.
void indf_ready()
{
    if (chip.family == 1 && fsr_in_use && fsr_target_bank >= 0)
        bank_select(fsr_target_bank);
}

void emit_apbank_macro(int bank)
{
    static const char *const bits[4] = {"bcf\tstatus,5\n\tbcf\tstatus,6", "bsf\tstatus,5\n\tbcf\tstatus,6",
                                        "bcf\tstatus,5\n\tbsf\tstatus,6", "bsf\tstatus,5\n\tbsf\tstatus,6"};
    if (chip.family == 2 && bank >= 0 && bank <= 3)
        printf("apbank macro\n\t%s\n\tendm\n", bits[bank]);
    else
        printf("apbank macro\n\t; no bank selection necessary for common memory\n\tendm\n");
}
