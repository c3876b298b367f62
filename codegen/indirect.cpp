// Indirect access: reads and writes through pointers, by FSR and INDF.
//
// A data pointer is one byte, the low byte of its target's address; the
// ninth address bit, the IRP bit of STATUS, says which half of the banks
// (0-1 or 2-3) the access reaches. It comes from where the target lies:
//
// - an address computed from one object (&x, &x + i, (T *)&x + i: arrays
//   indexed by a variable, members through &s) reaches that object, so the
//   half is the object's own;
// - any other pointer value (a pointer variable, a parameter, a value read
//   from memory) may hold the address of every object whose address is
//   taken as a value somewhere in the program (stored, passed, compared:
//   the object "escapes"). Unqualified escaping objects are placed in banks
//   0-1 or common memory, and every access through such a pointer uses
//   their half. Escaping objects qualified into both halves leave that half
//   undecided: the program is refused (1491).
//
// Before code is selected, each statement is lowered so that it reads or
// writes through at most one pointer, and in one of two forms the patterns
// know: x = *a (any size: the bytes through INDF into x) and *a = v with v
// a variable or a constant. Other reads go to temporaries first; a compound
// assignment through a pointer reads, operates and writes back.
#include "kestrel.h"

#include <vector>

// Objects whose address escapes, in the order found: in RAM, and constant
// objects and strings in program memory.
static std::vector<cg_symbol *> escaping, rom_escaping;
static bool half_reported, rom_reported;

// Constant objects with initial values and strings live in program
// memory; objects at a fixed address (the chip's registers among them), and
// constant objects without an initialiser (cleared RAM, warning 746), in RAM.
bool is_rom_object(cg_symbol *s)
{
    return (type_qualifiers(s->type) & Q_CONST) && !(s->flags & SF_ABSOLUTE) &&
           ((s->flags & SF_STRING) || (s->init_list && vec_count(s->init_list)));
}

// The object an address is computed from: &x, through conversions and the
// pointer operand of + and -.
cg_symbol *address_base(tree_node *a)
{
    while (a) {
        switch (a->op) {
        case OP_CONV:
            a = a->left;
            break;
        case OP_ADD:
        case OP_SUB:
            if (a->left && type_is(a->left->type, TY_POINTER))
                a = a->left;
            else if (a->op == OP_ADD && a->right && type_is(a->right->type, TY_POINTER))
                a = a->right;
            else
                return nullptr;
            break;
        case OP_ADDR:
            return a->left && a->left->op == OP_ID ? a->left->sym : nullptr;
        default:
            return nullptr;
        }
    }
    return nullptr;
}

static void escape(cg_symbol *s)
{
    if (s->flags & SF_ADDR_ESCAPES)
        return;
    s->flags |= SF_ADDR_ESCAPES;
    (is_rom_object(s) ? rom_escaping : escaping).push_back(s);
}

// The addresses below n: in base position (what a dereference adds its
// offset to) an address stays with its dereference; anywhere else its
// object escapes.
static void mark_escapes(tree_node *n, bool base)
{
    if (!n)
        return;
    if (n->op == OP_ADDR && n->left && n->left->op == OP_ID) {
        cg_symbol *s = n->left->sym;
        if (!base && !sym_is_function(s))
            escape(s);
        return;
    }
    switch (n->op) {
    case OP_DEREF:
        mark_escapes(n->left, true);
        return;
    case OP_CONV:
        mark_escapes(n->left, base);
        return;
    case OP_ADD:
    case OP_SUB: {
        bool left_ptr = n->left && type_is(n->left->type, TY_POINTER);
        bool right_ptr = n->op == OP_ADD && !left_ptr && n->right && type_is(n->right->type, TY_POINTER);
        mark_escapes(n->left, base && left_ptr);
        mark_escapes(n->right, base && right_ptr);
        return;
    }
    default:
        break;
    }
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY)
        mark_escapes(n->left, false);
    if (arity == OA_BINARY)
        mark_escapes(n->right, false);
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        mark_escapes((tree_node *)vec_get(n->args, i), false);
}

void indirect_mark_escapes(cg_symbol *f)
{
    for (uint32_t i = 0; i < vec_count(f->func->stmts); i++)
        mark_escapes((tree_node *)vec_get(f->func->stmts, i), false);
}

void indirect_note_escape(cg_symbol *s)
{
    escape(s);
}

bool indirect_any_escapes()
{
    return !escaping.empty();
}

bool indirect_frame_escapes()
{
    for (cg_symbol *s : escaping)
        if (s->storage == ST_AUTO || s->storage == ST_PARAM)
            return true;
    return false;
}

// The half of the banks an object lies in: 0 or 1; -1 for common memory
// (reached from both) and for an object not placed yet.
static int half_of(cg_symbol *s)
{
    if (s->flags & SF_ABSOLUTE) {
        int bank = bank_of_symbol(s);
        return bank == BANK_COMMON ? -1 : (int)((s->address >> 8) & 1);
    }
    int bank = bank_of_symbol(s);
    return bank < 0 ? -1 : bank >> 1;
}

// The half every pointer that is not computed from one object reaches.
static int escaping_half()
{
    int half = -1;
    for (cg_symbol *s : escaping) {
        int h = half_of(s);
        if (h < 0)
            continue;
        if (half >= 0 && h != half) {
            if (cg_phase >= 4 && !half_reported) {
                half_reported = true;
                msg_report(1491, sym_asm_name(s));
            }
            return half;
        }
        half = h;
    }
    return half;
}

void indirect_select_half(tree_node *address)
{
    if (chip.banks <= 2 || chip.family == 1)   // all of RAM lies below 0x100: IRP stays clear
        return;
    cg_symbol *base = address_base(address);
    int half = base ? half_of(base) : escaping_half();
    irp_select(half < 0 ? 0 : half);
}

// The bank of every object an address may reach: BANK_COMMON when all lie
// in common memory, BANK_NONE when they lie in more than one bank.
int indirect_target_bank(tree_node *address)
{
    std::vector<cg_symbol *> one;
    if (cg_symbol *base = address_base(address))
        one.push_back(base);
    const std::vector<cg_symbol *> &targets = one.empty() ? escaping : one;
    int bank = BANK_COMMON;
    for (cg_symbol *s : targets) {
        int b = bank_of_symbol(s);
        if (b == BANK_COMMON)
            continue;
        if (b < 0 || (bank != BANK_COMMON && b != bank))
            return BANK_NONE;
        bank = b;
    }
    return targets.empty() ? BANK_NONE : bank;
}

// Whether a read through the address goes to program memory: an address
// computed from a constant object does; a pointer value reaches whatever
// kind of object has its address taken, and when both kinds do, which one
// a pointer holds is not known: the program is refused (1493).
bool indirect_reads_rom(tree_node *address)
{
    if (cg_symbol *base = address_base(address))
        return is_rom_object(base);
    if (rom_escaping.empty())
        return false;
    if (escaping.empty())
        return true;
    if (cg_phase >= 4 && !rom_reported) {
        rom_reported = true;
        if (address->file)
            cur_file = address->file;
        if (address->line)
            cur_line = address->line;
        msg_report(1493, sym_asm_name(rom_escaping.front()), sym_asm_name(escaping.front()));
    }
    return false;
}

void indirect_reset()
{
    for (std::vector<cg_symbol *> *list : {&escaping, &rom_escaping}) {
        for (cg_symbol *s : *list)
            s->flags &= ~SF_ADDR_ESCAPES;
        list->clear();
    }
    half_reported = rom_reported = false;
}
