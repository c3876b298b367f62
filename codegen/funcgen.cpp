// Function generation: one function's statements to its code, its header
// comment and the addresses of its autos and parameters.
//
// A function is generated several times: without output while frames and
// data placement are settled (dry runs), then once written. Every run makes
// the same choices, so the temporaries a dry run counted are the ones the
// written run uses. The tracked bank bits are unknown at the function's
// entry, at every label and after every call; between those points each
// selection writes only the bits that change.
#include "kestrel.h"
#include "select.h"

#include <cstring>
#include <string>

// Whether a statement is a jump to the label that follows it at once.
static bool jumps_to_next(vector_t *stmts, uint32_t i)
{
    tree_node *s = (tree_node *)vec_get(stmts, i);
    if (i + 1 >= vec_count(stmts) || (s->op != OP_JUMP && s->op != OP_JUMP_EXIT))
        return false;
    tree_node *next = (tree_node *)vec_get(stmts, i + 1);
    bool label = next->op == OP_LABEL || next->op == OP_EXIT_LABEL;
    return label && s->left && next->left && s->left->op == OP_CONST && next->left->op == OP_CONST &&
           s->left->value == next->left->value;
}

// Offsets in the auto block: the parameter that arrives in W first (its
// home), then the autos in the order they were declared.
void layout_autos(cg_symbol *f)
{
    uint32_t offset = 0;
    for (uint32_t i = 0; f->params && i < vec_count(f->params); i++) {
        cg_symbol *p = (cg_symbol *)vec_get(f->params, i);
        if ((p->flags & SF_INREG) && p->reg == REG_WREG) {
            p->frame_offset = (int16_t)offset;
            offset += type_size(p->type);
        }
    }
    for (uint32_t i = 0; f->autos && i < vec_count(f->autos); i++) {
        cg_symbol *a = (cg_symbol *)vec_get(f->autos, i);
        uint32_t size = type_size(a->type);
        if (!size)
            continue;
        a->frame_offset = (int16_t)offset;
        offset += size;
    }
    f->autos_size = offset;
}

void gen_function(cg_symbol *f, bool write)
{
    func_info *fi = f->func;
    current_function = f;
    dry_run = !write;
    objset_assign(func_available, regset_of(REG_ALLREG));
    objset_clear(func_used);
    bank_forget();
    temp_area_reset();
    f->temp_largest = 0;
    if (write && f == interrupt_function)
        emit_interrupt_entry(f);
    if (write)
        switch_psect(false);
    // the finished text goes through the bank-selection pass on the
    // mid-range cores (the 12-bit cores select banks through FSR)
    FILE *code_stream = out_stream;
    bool captured = write && chip.family == 2 && os_capture_stdout_begin();
    if (captured)
        out_stream = stdout;
    if (write)
        emit_function_label(f);
    emit_function_entry(f);
    for (uint32_t i = 0; i < vec_count(fi->stmts); i++) {
        tree_node *s = (tree_node *)vec_get(fi->stmts, i);
        if (jumps_to_next(fi->stmts, i))
            continue;
        if (s->op == OP_LABEL || s->op == OP_EXIT_LABEL)
            bank_forget();
        if (write && run.debug_lines)
            emit_line_file(s->line, s->file, false);
        temp_area_reset();
        cg_statement(s, s->line);
        if (s->op == OP_ASM)
            bank_forget();   // in-line assembly may select any bank
        if (temp_area_size() > f->temp_largest)
            f->temp_largest = temp_area_size();
    }
    emit_function_exit(f);
    if (captured) {
        std::string text = os_capture_stdout_end();   // before stdout is named again
        out_stream = code_stream;
        fputs(peep_bank_selects(text).c_str(), stdout);
    }
    objset_assign(f->used_regs, func_used);
    f->cgraph->generated = true;
    dry_run = false;
    current_function = nullptr;
}

// ---------------------------------------------------------------------------
// the header comment
// ---------------------------------------------------------------------------
static void list_names(const char *heading, vector_t *syms, bool skip_self, cg_symbol *self)
{
    printf(";%s\n", heading);
    bool any = false;
    for (uint32_t i = 0; syms && i < vec_count(syms); i++) {
        cg_symbol *s = (cg_symbol *)vec_get(syms, i);
        if (skip_self && s == self)
            continue;
        printf(";\t\t%s\n", sym_asm_name(s));
        any = true;
    }
    if (!any)
        printf(";\t\tNothing\n");
}

static void header_comment(cg_symbol *f)
{
    printf("\n; *************** function %s ***************\n", sym_asm_name(f));
    printf("; Defined at:\n;\t\tline %d in file \"%s\"\n", f->def_line, f->def_file ? f->def_file : "");
    printf("; Parameters:\n");
    bool any = false;
    for (uint32_t i = 0; f->params && i < vec_count(f->params); i++) {
        cg_symbol *p = (cg_symbol *)vec_get(f->params, i);
        const char *name = p->src_name && p->src_name[0] ? p->src_name + 1 : "";
        if ((p->flags & SF_INREG) && p->reg == REG_WREG)
            printf(";\t\t%-12.12s\treg:  %3.2s\ttype: %s\n", name, "W", type_text(p->type));
        else
            printf(";\t\t%-12.12s\toffs: %3d\ttype: %s\n", name, p->frame_offset, type_text(p->type));
        any = true;
    }
    if (!any)
        printf(";\t\tNone\n");
    printf("; Auto variables:\n");
    any = false;
    for (uint32_t i = 0; f->autos && i < vec_count(f->autos); i++) {
        cg_symbol *a = (cg_symbol *)vec_get(f->autos, i);
        const char *name = a->src_name && a->src_name[0] ? a->src_name + 1 : "";
        printf(";\t\t%-12.12s\t       \ttype: %s\n", name, type_text(a->type));
        any = true;
    }
    if (!any)
        printf(";\t\tNone\n");
    type_desc *ft = type_unqualify(f->type);
    printf("; Return value:\n;\t\ttype: %s\n;\t\tsize: %ld\n", type_text(ft->sub), (long)type_size(ft->sub));
    printf("; Registers used:\n;\t\t%s\n", objset_is_empty(f->used_regs) ? "None" : regset_text(f->used_regs));
    printf("; Data sizes:\n;\t\tAutos:  %3u\n;\t\tParams: %3u\n;\t\tTemp:   %3u\n;\t\tTotal:  %3u\n",
           f->autos_size, f->params_size, f->temp_largest, frame_total(f));
    vector_t *callees = callgraph_callees(f);
    list_names(" This function calls:", callees, false, f);
    vec_free(callees);
    printf("; This function is called by:\n");
    bool called = false;
    for (uint32_t i = 0; f->callers && i < vec_count(f->callers); i++) {
        cg_symbol *c = (cg_symbol *)vec_get(f->callers, i);
        if (c != f && sym_is_function(c)) {
            printf(";\t\t%s\n", sym_asm_name(c));
            called = true;
        }
    }
    if (f == main_function)
        printf(";\t\tStartup code after reset\n");
    else if (!called)
        printf(";\t\tNothing\n");
    printf("; This function uses a non-reentrant model\n; \n");
}

void emit_function_header(cg_symbol *f)
{
    const char *name = sym_asm_name(f);
    header_comment(f);
    printf("\tglobal\t%s\n", name);
    if (f->autos_size + f->temp_largest)
        printf("\tglobal\t??%s\n", name);
    if (f->params_size)
        printf("\tglobal\t?%s\n", name);
    select_function_psect(f);
    if (f->flags & SF_ABSOLUTE)
        printf("\tglobal %s_absaddr\n\t%s_absaddr equ 0x%lX\n", name, name, f->address);
    if (run.debug_lines)
        emit_line_file(f->def_line, f->def_file, true);
    sdb_open_function(f);
    gen_function(f, true);
    sdb_close_function(f);
    printf("; =============== function %s ends ===============\n\n", name);
    printf("GLOBAL __end_of%s\n\t__end_of%s:\n", name, name);
    printf("\tFNSIZE\t%s,%u,%u\n", name, frame_auto_side(f), frame_param_side(f));
    printf("\tsignat\t%s,%u\n", name, signat_value(f));
}

// The names of the autos and parameters at their places in the frame.
void emit_frame_equates(cg_symbol *f)
{
    const char *fn = sym_asm_name(f);
    for (uint32_t i = 0; f->params && i < vec_count(f->params); i++) {
        cg_symbol *p = (cg_symbol *)vec_get(f->params, i);
        bool home = (p->flags & SF_INREG) && p->reg == REG_WREG;
        printf("%s\tequ\t%s%s+%d\n\tglobal\t%s\n", sym_asm_name(p), home ? "??" : "?", fn, p->frame_offset,
               sym_asm_name(p));
    }
    for (uint32_t i = 0; f->autos && i < vec_count(f->autos); i++) {
        cg_symbol *a = (cg_symbol *)vec_get(f->autos, i);
        if (type_size(a->type))
            printf("%s\tequ\t??%s+%d\n\tglobal\t%s\n", sym_asm_name(a), fn, a->frame_offset, sym_asm_name(a));
    }
}
