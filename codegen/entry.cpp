// The text inside a function that no pattern produces: the prologue, the
// return sequence, and the numbered emitter escapes that templates call for
// what a template cannot say (bank selection, shifts by a constant count).
//
// Escape text goes straight into the current line of the template being
// expanded, which already holds the line's leading tab: an escape that
// writes whole instructions ends each of them with a newline and a tab, so
// that the template's own instruction follows on a line of its own.
#include "kestrel.h"
#include "select.h"

#include <cstring>
#include <string>

// The home of the parameter that arrives in W: a byte of the auto block.
static void store_w_parameter(cg_symbol *f)
{
    for (uint32_t i = 0; f->params && i < vec_count(f->params); i++) {
        cg_symbol *p = (cg_symbol *)vec_get(f->params, i);
        if (!(p->flags & SF_INREG) || p->reg != REG_WREG)
            continue;
        out_putc('\t');
        bank_select(frame_bank);
        out_printf("movwf\t??%s+%d\n", sym_asm_name(f), p->frame_offset);
        return;
    }
}

void emit_function_entry(cg_symbol *f)
{
    if (!dry_run)
        out_printf("; Regs used in %s: %s\n", sym_asm_name(f), regset_text(f->used_regs));
    bank_forget();
    if (!f->func || !f->func->jump_return)   // else its caller stored it
        store_w_parameter(f);
}

// The interrupt vector's code: W, STATUS (from bank 0 on), PCLATH and FSR
// saved in common memory, then a long jump to the function's code in its
// own page (PCLATH held the page of the code interrupted).
void emit_interrupt_entry(cg_symbol *f)
{
    int own = pending_psect;
    pending_psect = PS_INTENTRY;
    switch_psect(false);
    printf("\tglobal\tinterrupt_function\ninterrupt_function:\n"
           "\tmovwf\tsaved_w\n\tswapf\tstatus,w\n\tclrf\tstatus\n\tmovwf\tsaved_status\n"
           "\tmovf\tpclath,w\n\tmovwf\tsaved_pclath\n\tmovf\tfsr,w\n\tmovwf\tsaved_fsr\n"
           "\tljmp\t%s\n",
           sym_asm_name(f));
    pending_psect = own;
    switch_psect(true);
}

void emit_function_exit(cg_symbol *f)
{
    if (f == interrupt_function) {
        // the context back in the reverse order; swapf moves W's copy
        // without touching the restored flags
        out_printf("\tmovf\tsaved_fsr,w\n\tmovwf\tfsr\n\tmovf\tsaved_pclath,w\n\tmovwf\tpclath\n"
                   "\tswapf\tsaved_status,w\n\tmovwf\tstatus\n\tswapf\tsaved_w,f\n\tswapf\tsaved_w,w\n"
                   "\tretfie\n");
        bank_forget();
        return;
    }
    if (f == main_function) {
        // main is entered by a jump from the start-up code, never by a call:
        // its end starts the program again, from bank 0 as after a reset
        out_printf("\tclrf\tstatus\n%s\tglobal\tstart\n\tljmp\tstart\n", chip.family == 1 ? "\tclrf\tfsr\n" : "");
        bank_forget();
        return;
    }
    if (chip.family == 1) {   // the 12-bit core returns by retlw only
        if (f->func && f->func->jump_return)
            emit_jump_return(f);
        else
            out_printf("\tretlw\t0\n");
        return;
    }
    out_printf("\treturn\n");
}

// ---------------------------------------------------------------------------
// escapes
// ---------------------------------------------------------------------------
static bool node_is_signed(tree_node *n)
{
    type_desc *t = n ? type_unqualify(n->type) : nullptr;
    return t && (t->kind == TY_BASIC || t->kind == TY_ENUM) && t->arith == AR_SIGNED;
}

// One instruction of an escape, written into the template's line.
static void insn(const char *mnemonic, const std::string &operands)
{
    out_printf("%s\t%s\n\t", mnemonic, operands.c_str());
}

// A byte shifted in place by a constant count below 8. The compound forms
// (x <<= k) shift their left operand, the value forms the scratch byte Y
// that holds the value. A rotation through the carry is a shift once the
// carry is cleared (or, for a signed right shift, holds the sign); four
// places are a nibble swap, and the bits a rotation or swap brings in from
// the other end are masked off afterwards.
static void shift_by_constant(tree_node *node, int level)
{
    bool compound = node->op == OP_ASG_SHL || node->op == OP_ASG_SHR;
    bool left = node->op == OP_SHL || node->op == OP_ASG_SHL;
    bool sign = !left && node_is_signed(node->left);
    int n = node->right && node->right->op == OP_CONST ? (int)(node->right->value & 7) : 0;
    std::string f = operand_text(node, level, compound ? "~L" : "~Y");
    bank_select(compound ? bank_of_operand_node(node->left, node->left->level_count - 1) : frame_bank);
    const char *rot = left ? "rlf" : "rrf";
    if (n == 0)
        return;
    if (n <= 3) {
        for (int i = 0; i < n; i++) {
            if (sign)
                insn("rlf", f + ",w");
            else
                insn("bcf", "status,0");
            insn(rot, f + ",f");
        }
        return;
    }
    if (n == 7) {
        // the one bit that stays moves through the carry to the other end
        if (sign) {
            insn("movlw", "0");
            insn("btfsc", f + ",7");
            insn("movlw", "255");
            insn("movwf", f);
            return;
        }
        const char *back = left ? "rrf" : "rlf";
        insn(back, f + ",f");
        insn("clrf", f);
        insn(back, f + ",f");
        return;
    }
    insn("swapf", f + ",f");
    for (int i = 4; i < n; i++)
        insn(rot, f + ",f");
    unsigned keep = left ? (0xFFu << n) & 0xFFu : 0xFFu >> n;
    insn("movlw", std::to_string(keep));
    insn("andwf", f + ",f");
    if (sign) {
        insn("movlw", std::to_string(~keep & 0xFFu));
        insn("btfsc", f + "," + std::to_string(7 - n));
        insn("iorwf", f + ",f");
    }
}

int cg_emit_escape(int n, tree_node *node, int offset, int level)
{
    if (n >= 70 && n < 92 && wide_escape(n, node, level) == 0)
        return offset;
    switch (n) {
    case 16:   // shift of one byte by a constant
        shift_by_constant(node, level);
        break;
    case 18:   // the interrupt-level prefix of labels: main level only so far
        break;
    case 40:   // the bank of the operand the template names next
        bank_select(bank_of_operand_node(node, level));
        break;
    case 41:   // the bank of the frame
        bank_select(frame_bank);
        break;
    case 60:   // a label inside the template, or a call: the bank bits are unknown
        bank_forget();
        break;
    case 61:
        out_putc('\n');
        break;
    case 92:   // the call of the function named
        call_function(node);
        break;
    case 93:   // a byte returned
        return_byte_value();
        break;
    case 94:   // the byte a call returned, into W
        fetch_byte_value(node);
        break;
    default:
        msg_report(679, n);
        break;
    }
    return offset;
}
