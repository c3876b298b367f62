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
// and retlw images, the dispatcher of calls through pointers and its stubs,
// the tables of switches) and every stub must lie below address 0x100; the
// last word of the psect checks it at link time (its own address as a
// byte).
#include "kestrel.h"
#include "select.h"

#include <string>
#include <vector>

// Labels of the return points, in table order.
static std::vector<std::string> return_points;
// Whether anything went into the jmp_tab psect (the check word follows).
static bool low_page_used;
// Tables of switches, written into the psect at the end.
static std::vector<std::string> low_page_tables;

void jump_returns_reset()
{
    return_points.clear();
    low_page_tables.clear();
    low_page_used = false;
}

// The byte of a jump-returning function's frame that holds its return
// point: after its parameters (and its value, which starts the block).
uint32_t jump_return_slot(cg_symbol *f)
{
    return f->params_size;
}

// Words of one long jump: the page bits the chip needs, then the goto.
unsigned long_jump_words()
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

// A new return point (kept from the written run only): its label, and its
// index into jmptab.
static std::string new_return_point(unsigned *index)
{
    std::string label = "jr" + std::to_string(return_points.size());
    *index = (unsigned)return_points.size() * long_jump_words();
    if (!dry_run)
        return_points.push_back(label);
    return label;
}

// The index of a new return point into the slot of a frame block; its
// label, which the caller places after its jump.
static std::string set_return_point(const char *block, uint32_t slot)
{
    unsigned index;
    std::string label = new_return_point(&index);
    out_printf("movlw\t%u\n\t", index & 0xFF);
    bank_select(frame_bank);
    out_printf("movwf\t?%s+%u\n\t", block, slot);
    return label;
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
    std::string label = set_return_point(name, jump_return_slot(f));
    out_printf("ljmp\t%s\n%s:\n\t", name, label.c_str());
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

// The one-byte value of the function just called, into W (through a
// pointer: from the argument block).
void fetch_byte_value(tree_node *node)
{
    cg_symbol *f = called_function(node);
    tree_node *call = node->op == OP_CALL ? node : node->right;
    if (!f && call && call->op == OP_CALL && call->call_target && fpblock_is(call->call_target))
        f = call->call_target;
    if (chip.family != 1 || !f || (fpblock_is(f) && node_size(call) != 1))
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


// A call through a pointer (its argument block stored before): the number
// of the return point into the block, the pointer into W and a jump to
// fptable; the stub jumps back through jmptab, with the value at the
// start of the block. No level of the stack is used, whatever the depth.
void call_through_pointer(tree_node *node, const std::string &pointer, int bank)
{
    cg_symbol *b = node->call_target;
    if (!b || !fpblock_is(b)) {
        msg_report(712);
        return;
    }
    std::string label = set_return_point(sym_asm_name(b), fpblock_return_slot(b));
    bank_select(bank);
    out_printf("movf\t%s,w\n\tljmp\tfptable\n%s:\n\t", pointer.c_str(), label.c_str());
}

// The stubs of the dispatch table of the 12-bit core, in jmp_tab after
// fptable, which a jump enters with a stub's address in W (the page bits
// 0). A stub copies the arguments from the block into the function's parameter
// block, loads W, calls the function as any caller would (a call, or a
// jump with a return point of the stub's own when the function returns
// through jmptab), copies the value back into the block and jumps back
// through jmptab to the caller's return point. The stub runs at its
// caller's level of the stack, so the function runs one level above, as
// after a direct call.
void emit_function_stubs12(const std::vector<cg_symbol *> &used, vector_t *blocks)
{
    low_page_used = true;
    for (cg_symbol *f : used) {
        const char *name = sym_asm_name(f);
        cg_symbol *b = fpblock_of_function(f);
        printf("\tglobal\tfp%s\nfp%s:\n", name, name);
        if (vec_index_of(blocks, b) == UINT32_MAX) {   // only the address is used: never run
            printf("\tretlw\t0\n");
            continue;
        }
        std::string from = std::string("?") + sym_asm_name(b), to = std::string("?") + name;
        stub_select_frame_bank();
        stub_copy(from, to, fpblock_args(b));
        int32_t w = fpblock_w_slot(b);
        if (!(f->func && f->func->jump_return)) {
            if (w >= 0)
                printf("\tmovf\t%s+%d,w\n", from.c_str(), w);
            printf("\tfcall\t%s\n", name);
            stub_select_frame_bank();
        } else {
            if (w >= 0) {   // W's parameter straight into its home
                cg_symbol *p = (cg_symbol *)vec_get(f->params, 0);
                printf("\tmovf\t%s+%d,w\n\tmovwf\t??%s+%d\n", from.c_str(), w, name, p->frame_offset);
            }
            unsigned index;
            std::string label = new_return_point(&index);
            printf("\tmovlw\t%u\n\tmovwf\t%s+%u\n\tljmp\t%s\n%s:\n", index & 0xFF, to.c_str(),
                   jump_return_slot(f), name, label.c_str());
            stub_select_frame_bank();
        }
        stub_copy(to, from, fpblock_value(b));
        printf("\tmovf\t%s+%u,w\n\tljmp\tjmptab\n", from.c_str(), fpblock_return_slot(b));
    }
}

// A switch's table for jmp_tab (from the written run only).
void add_low_page_table(const std::string &text)
{
    if (!dry_run)
        low_page_tables.push_back(text);
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
    for (const std::string &t : low_page_tables) {
        pending_psect = PS_JMP_TAB;
        switch_psect(false);
        fputs(t.c_str(), stdout);
        low_page_used = true;
    }
    if (low_page_used) {
        pending_psect = PS_JMP_TAB;
        switch_psect(false);
        // never run: the link fails here when the psect reaches past 0xFF
        printf("jmptab_limit:\n\tretlw\tjmptab_limit\t;the stubs and tables lie below 100h\n");
    }
}
