// Calls on the 12-bit core, whose stack holds two return addresses and
// whose only return is retlw.
//
// A call reaches only the first half of a page, so a function called by
// `call` has a stub there (in the jmp_tab psect, which the link places at
// the start of page 0) that jumps to its code anywhere. Its one-byte value
// cannot come back in W (retlw sets W): it is left in the first byte of the
// function's parameter block, as wider values are.
//
// A function whose body would run with the stack full, or that would fill
// it with a call of its own, is entered by a jump instead: the caller
// leaves the number of its return point in the function's frame, and the
// function's end jumps through the table of return points (jmptab:
// addwf pcl,f and one long jump per point), so call chains of any depth
// run. Which functions return so is decided before frames are laid out,
// from the call graph: a walk from main in topological order counts the
// return addresses a function's body runs under.
//
// Everything a computed jump reaches (the table, the constants' dispatcher
// and retlw images) and every stub must lie below address 0x100; the last
// word of the psect checks it at link time (its own address as a byte).
#include "kestrel.h"
#include "select.h"

#include <string>
#include <vector>

// Labels of the return points, in table order.
static std::vector<std::string> return_points;
// Whether anything went into the jmp_tab psect (the check word follows).
static bool low_page_used;

void jump_returns_reset()
{
    return_points.clear();
    low_page_used = false;
}

// The byte of a jump-returning function's frame that holds its return
// point: after its parameters (and its value, which starts the block).
uint32_t jump_return_slot(cg_symbol *f)
{
    return f->params_size;
}

// Words of one long jump: the page bits the chip needs, then the goto.
static unsigned long_jump_words()
{
    unsigned long pages = (chip.rom_size + 0x1FF) / 0x200;
    return pages <= 1 ? 1 : pages == 2 ? 2 : 3;
}

// Functions in an order where every caller comes before its callees.
static void topological_visit(cg_symbol *f, std::vector<cg_symbol *> &done, std::vector<cg_symbol *> &on_path)
{
    for (cg_symbol *g : done)
        if (g == f)
            return;
    for (cg_symbol *g : on_path)
        if (g == f)
            return;   // a cycle: refused elsewhere
    on_path.push_back(f);
    vector_t *callees = callgraph_callees(f);
    for (uint32_t i = 0; i < vec_count(callees); i++)
        topological_visit((cg_symbol *)vec_get(callees, i), done, on_path);
    vec_free(callees);
    on_path.pop_back();
    done.push_back(f);
}

// Whether a function's body uses a level of the stack itself: it calls,
// or it reads a table of retlw words.
static bool body_calls(cg_symbol *f)
{
    if (f->func && f->func->reads_tables)
        return true;
    vector_t *callees = callgraph_callees(f);
    bool any = vec_count(callees) > 0;
    vec_free(callees);
    return any;
}

void decide_jump_returns()
{
    if (chip.family != 1 || !main_function)
        return;
    std::vector<cg_symbol *> order, path;
    topological_visit(main_function, order, path);
    const int levels = 2;
    // levels[f]: return addresses on the stack while f's body runs
    std::vector<std::pair<cg_symbol *, int>> under;
    auto level_of = [&](cg_symbol *f) -> int & {
        for (auto &p : under)
            if (p.first == f)
                return p.second;
        under.push_back({f, 0});
        return under.back().second;
    };
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        cg_symbol *f = *it;
        int entry = level_of(f);   // the most any caller's body runs under
        if (f != main_function && f->func) {
            bool by_call = entry + 1 + (body_calls(f) ? 1 : 0) <= levels;
            f->func->jump_return = !by_call;
            if (by_call)
                entry++;
        }
        level_of(f) = entry;
        vector_t *callees = callgraph_callees(f);
        for (uint32_t i = 0; i < vec_count(callees); i++) {
            int &l = level_of((cg_symbol *)vec_get(callees, i));
            if (l < entry)
                l = entry;
        }
        vec_free(callees);
    }
}

static cg_symbol *called_function(tree_node *node)
{
    tree_node *call = node->op == OP_CALL ? node : node->right;
    if (!call || call->op != OP_CALL || !call->left || call->left->op != OP_ID)
        return nullptr;
    return call->left->sym;
}

// The call of the function a call pattern names: a plain call, or on the
// 12-bit core for a jump-returning function its return point set and a
// jump (its parameter in W stored in its home first, W then being free).
void call_function(tree_node *node)
{
    cg_symbol *f = called_function(node);
    if (!f) {
        msg_report(712);
        return;
    }
    const char *name = sym_asm_name(f);
    if (chip.family != 1 || !f->func || !f->func->jump_return) {
        out_printf("fcall\t%s\n\t", name);
        return;
    }
    for (uint32_t i = 0; f->params && i < vec_count(f->params); i++) {
        cg_symbol *p = (cg_symbol *)vec_get(f->params, i);
        if ((p->flags & SF_INREG) && p->reg == REG_WREG) {
            bank_select(frame_bank);
            out_printf("movwf\t??%s+%d\n\t", name, p->frame_offset);
        }
    }
    std::string label = "jr" + std::to_string(return_points.size());
    unsigned index = (unsigned)return_points.size() * long_jump_words();
    if (!dry_run)
        return_points.push_back(label);
    out_printf("movlw\t%u\n\t", index & 0xFF);
    bank_select(frame_bank);
    out_printf("movwf\t?%s+%u\n\tljmp\t%s\n%s:\n\t", name, jump_return_slot(f), name, label.c_str());
}

// A one-byte value: into the value's place on the 12-bit core (nothing to
// do elsewhere: it is returned in W).
void return_byte_value()
{
    if (chip.family != 1)
        return;
    bank_select(frame_bank);
    out_printf("movwf\t?%s\n\t", sym_asm_name(current_function));
}

// The one-byte value of the function just called, into W.
void fetch_byte_value(tree_node *node)
{
    cg_symbol *f = called_function(node);
    if (chip.family != 1 || !f)
        return;
    bank_select(frame_bank);
    out_printf("movf\t?%s,w\n\t", sym_asm_name(f));
}

// Where a function called by `call` starts: its stub in the low half of
// page 0, then its own label at the code.
void emit_function_label(cg_symbol *f)
{
    const char *name = sym_asm_name(f);
    bool stub = chip.family == 1 && f != main_function && !(f->func && f->func->jump_return);
    if (!stub) {
        printf("%s:\n", name);
        return;
    }
    int own = pending_psect;
    pending_psect = PS_JMP_TAB;
    switch_psect(false);
    printf("%s:\n\tljmp\tentry_%s\n", name, name);
    low_page_used = true;
    pending_psect = own;
    switch_psect(false);
    printf("entry_%s:\n", name);
}

// The end of a jump-returning function: its return point into W, and
// through the table.
void emit_jump_return(cg_symbol *f)
{
    out_putc('\t');
    bank_select(frame_bank);
    out_printf("movf\t?%s+%u,w\n\tljmp\tjmptab\n", sym_asm_name(f), jump_return_slot(f));
}

void note_low_page_use()
{
    low_page_used = true;
}

void emit_jump_table()
{
    if (chip.family != 1)
        return;
    if (!return_points.empty()) {
        pending_psect = PS_JMP_TAB;
        switch_psect(false);
        printf("\tglobal\tjmptab\njmptab:\n\taddwf\tpcl,f\n");
        for (const std::string &l : return_points)
            printf("\tljmp\t%s\n", l.c_str());
        low_page_used = true;
    }
    if (low_page_used) {
        pending_psect = PS_JMP_TAB;
        switch_psect(false);
        // never run: the link fails here when the psect reaches past 0xFF
        printf("jmptab_limit:\n\tretlw\tjmptab_limit\t;the stubs and tables lie below 100h\n");
    }
}
