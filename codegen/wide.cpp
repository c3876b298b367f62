// Integers of two to four bytes: the emitter escapes the wide patterns call.
//
// Every wide value lives in data memory (a variable, or a temporary of the
// frame) and is worked on a byte at a time through W, least significant
// byte first. Carries pass from byte to byte in the carry bit; the idiom
//
//     movf  src,w           ; or movlw k
//     btfsc status,0
//     addlw 1               ; W + carry (overflows to 0 with the carry set)
//     btfss status,0
//     addwf dst,f           ; skipped when W + carry was 256: dst stays
//
// adds a byte and the incoming carry and leaves the outgoing one, with no
// bank selection between a skip and the instruction it skips (the bank of
// dst is selected before the first test). Subtraction adds the complement
// with the carry set, which is the hardware's own no-borrow convention.
//
// Comparisons go from the most significant byte down and stop at the first
// that differs; signed order is unsigned order with each top byte's sign
// bit flipped.
#include "kestrel.h"
#include "select.h"

#include <algorithm>
#include <functional>

#include <string>

namespace {

// One operand of a wide pattern: a constant, or bytes of data memory.
struct wide_operand {
    bool is_const = false;
    uint32_t value = 0;       // a constant's bits, extended by its type to 4 bytes
    std::string address;      // a constant known to the linker: an object's address (one byte)
    std::string base;         // the first byte's address text
    int bank = BANK_NONE;
    uint32_t size = 0;
    bool is_signed = false;
};

bool is_signed_node(tree_node *n)
{
    type_desc *t = n ? type_unqualify(n->type) : nullptr;
    return t && (t->kind == TY_BASIC || t->kind == TY_ENUM) && t->arith == AR_SIGNED;
}

int top_level_of(tree_node *n)
{
    return n && n->level_count ? n->level_count - 1 : 0;
}

// The operand of the node (whose operator record is at the level) that the
// letter names: L or R, or X, the scratch temporary that holds the node's
// own value.
wide_operand operand_of(tree_node *node, int level, char which)
{
    wide_operand o;
    if (which == 'X') {
        o.base = operand_text(node, level, "~X");
        o.bank = frame_bank;
        o.size = node_size(node);
        o.is_signed = is_signed_node(node);
        return o;
    }
    tree_node *t = which == 'L' ? node->left : node->right;
    int lv = top_level_of(t);
    o.size = node_size(t);
    o.is_signed = is_signed_node(t);
    if (t->op == OP_CONST) {
        o.is_const = true;
        uint32_t v = (uint32_t)t->value;
        if (o.size && o.size < 4) {   // the constant as its type extends it
            uint32_t bits = 8 * o.size;
            v &= (1u << bits) - 1;
            if (o.is_signed && (v >> (bits - 1)) & 1)
                v |= ~0u << bits;
        }
        o.value = v;
        return o;
    }
    o.base = operand_text(node, level, which == 'L' ? "~L" : "~R");
    if (t->op == OP_ADDR) {   // low(x): a constant the linker fills in
        o.is_const = true;
        o.address = o.base;
        o.base.clear();
        return o;
    }
    o.bank = bank_of_operand_node(t, lv);
    return o;
}

// The address text of byte i of a memory operand.
std::string byte_at(const wide_operand &o, uint32_t i)
{
    return i ? o.base + "+" + std::to_string(i) : o.base;
}

void insn(const char *mnemonic, const std::string &operands = "")
{
    if (operands.empty())
        out_printf("%s\n\t", mnemonic);
    else
        out_printf("%s\t%s\n\t", mnemonic, operands.c_str());
}

void select_bank(const wide_operand &o)
{
    if (!o.is_const)
        bank_select(o.bank);
}

std::string number(uint32_t byte)
{
    return std::to_string(byte & 0xFF);
}

// A label inside the escape's code: its own name, and the bank bits
// unknown after it (it is reached from more than one place).
std::string new_label()
{
    return "lw" + std::to_string(new_label_number());
}

void place_label(const std::string &name)
{
    out_printf("%s:\n\t", name.c_str());
    bank_forget();
}

// Byte i of an operand as a constant, when it is one (past its size: its
// extension).
uint32_t const_byte(const wide_operand &o, uint32_t i)
{
    if (i < 4)
        return (o.value >> (8 * i)) & 0xFF;
    return (o.value >> 31) ? 0xFF : 0;
}

// Byte i of an operand into W. Past the operand's size: its extension
// (zero, or copies of the sign bit). Only Z changes; the carry is kept.
void load_w(const wide_operand &o, uint32_t i)
{
    if (!o.address.empty()) {
        insn("movlw", i ? std::string("0") : o.address);
        return;
    }
    if (o.is_const) {
        insn("movlw", number(const_byte(o, i)));
        return;
    }
    select_bank(o);
    if (i < o.size) {
        insn("movf", byte_at(o, i) + ",w");
        return;
    }
    insn("movlw", "0");
    if (o.is_signed) {
        insn("btfsc", byte_at(o, o.size - 1) + ",7");
        insn("movlw", "255");
    }
}

// dst = src over dst's bytes, src extended or cut to them.
void copy_into(const wide_operand &dst, const wide_operand &src)
{
    if (!src.is_const && src.base == dst.base)
        return;
    for (uint32_t i = 0; i < dst.size; i++) {
        if (src.is_const && src.address.empty() && const_byte(src, i) == 0) {
            select_bank(dst);
            insn("clrf", byte_at(dst, i));
            continue;
        }
        load_w(src, i);
        select_bank(dst);
        insn("movwf", byte_at(dst, i));
    }
}

// Whether byte i of src is a register that the bank selected for dst
// reaches too (src + 1 can then be read after a skip).
bool file_beside(const wide_operand &src, const wide_operand &dst, uint32_t i)
{
    return !src.is_const && i < src.size && (src.bank < 0 || dst.bank < 0 || src.bank == dst.bank);
}

// dst[i] += k + carry, the carry out left: W = k, or k + 1 with the carry
// (k = 255 with the carry adds 256: the byte stays and the carry with it).
void add_constant_with_carry(const wide_operand &dst, uint32_t i, uint32_t k, bool last)
{
    select_bank(dst);
    if (k == 0xFF) {
        insn("movlw", "255");
        insn("btfss", "status,0");
        insn("addwf", byte_at(dst, i) + ",f");
        return;
    }
    if (k == 0 && last) {   // no carry out wanted
        insn("btfsc", "status,0");
        insn("incf", byte_at(dst, i) + ",f");
        return;
    }
    insn("movlw", number(k));
    insn("btfsc", "status,0");
    insn("movlw", number(k + 1));
    insn("addwf", byte_at(dst, i) + ",f");
}

// dst[i] += W + carry without addlw (the 12-bit core): the carry added to
// dst first; when that wraps dst to 0 the sum is W and the carry stays
// set. For the last byte no carry out is wanted.
void add_w_with_carry(const wide_operand &dst, uint32_t i, bool last)
{
    select_bank(dst);
    std::string d = byte_at(dst, i);
    insn("btfsc", "status,0");
    if (last) {
        insn("incf", d + ",f");
        insn("addwf", d + ",f");
        return;
    }
    std::string add = new_label(), done = new_label();
    insn("incfsz", d + ",f");
    insn("goto", add);
    insn("movwf", d);
    insn("goto", done);
    out_printf("%s:\n\t", add.c_str());
    insn("addwf", d + ",f");
    out_printf("%s:\n\t", done.c_str());
}

// dst += src, bytes from the first a constant does not leave as they are.
void add_into(const wide_operand &dst, const wide_operand &src)
{
    if (src.is_const && (src.value & (dst.size >= 4 ? ~0u : (1u << (8 * dst.size)) - 1)) == 1) {
        // one more: the next byte counts on while a byte wraps to 0
        select_bank(dst);
        for (uint32_t i = 0; i < dst.size; i++) {
            if (i)
                insn("btfsc", "status,2");
            insn("incf", byte_at(dst, i) + ",f");
        }
        return;
    }
    uint32_t first = 0;
    if (src.is_const)
        while (first < dst.size && const_byte(src, first) == 0)
            first++;
    for (uint32_t i = first; i < dst.size; i++) {
        bool last = i + 1 == dst.size;
        if (i == first) {
            load_w(src, i);
            select_bank(dst);
            insn("addwf", byte_at(dst, i) + ",f");
        } else if (src.is_const) {
            add_constant_with_carry(dst, i, src.address.empty() ? const_byte(src, i) : 0, last);
        } else if (chip.family != 1) {
            load_w(src, i);
            select_bank(dst);
            insn("btfsc", "status,0");
            insn("addlw", "1");
            insn("btfss", "status,0");
            insn("addwf", byte_at(dst, i) + ",f");
        } else if (file_beside(src, dst, i)) {
            // W = src, or src + 1 with the carry; src + 1 wrapping to 0
            // skips the add, which leaves dst and the carry as they should be
            load_w(src, i);
            select_bank(dst);
            insn("btfsc", "status,0");
            insn("incfsz", byte_at(src, i) + ",w");
            insn("addwf", byte_at(dst, i) + ",f");
        } else {
            load_w(src, i);
            add_w_with_carry(dst, i, last);
        }
    }
}

// dst -= src: the complement added with the carry in (byte 0 by subwf,
// which leaves the carry set when nothing is borrowed).
void subtract_into(const wide_operand &dst, const wide_operand &src)
{
    if (src.is_const) {
        wide_operand neg = src;
        neg.value = 0u - src.value;
        neg.is_signed = false;
        add_into(dst, neg);
        return;
    }
    for (uint32_t i = 0; i < dst.size; i++) {
        if (i == 0) {
            load_w(src, 0);
            select_bank(dst);
            insn("subwf", byte_at(dst, 0) + ",f");
            continue;
        }
        if (chip.family == 1 && file_beside(src, dst, i)) {
            // W = src, or src + 1 with a borrow (carry clear); src + 1
            // wrapping to 0 skips the subtraction, the borrow kept
            load_w(src, i);
            select_bank(dst);
            insn("btfss", "status,0");
            insn("incfsz", byte_at(src, i) + ",w");
            insn("subwf", byte_at(dst, i) + ",f");
            continue;
        }
        if (i < src.size) {
            select_bank(src);
            insn("comf", byte_at(src, i) + ",w");
        } else {
            load_w(src, i);
            insn("xorlw", "255");
        }
        if (chip.family == 1) {
            add_w_with_carry(dst, i, i + 1 == dst.size);
            continue;
        }
        select_bank(dst);
        insn("btfsc", "status,0");
        insn("addlw", "1");
        insn("btfss", "status,0");
        insn("addwf", byte_at(dst, i) + ",f");
    }
}

// dst &= src, dst |= src, dst ^= src
void logic_into(const wide_operand &dst, const wide_operand &src, int op)
{
    const char *f = op == OP_AND ? "andwf" : op == OP_OR ? "iorwf" : "xorwf";
    for (uint32_t i = 0; i < dst.size; i++) {
        if (src.is_const) {
            uint32_t k = const_byte(src, i);
            if ((op == OP_AND && k == 0xFF) || (op != OP_AND && k == 0))
                continue;   // leaves the byte as it is
            select_bank(dst);
            if (op == OP_AND && k == 0) {
                insn("clrf", byte_at(dst, i));
                continue;
            }
            if (op == OP_XOR && k == 0xFF) {
                insn("comf", byte_at(dst, i) + ",f");
                continue;
            }
            insn("movlw", number(k));
            insn(f, byte_at(dst, i) + ",f");
            continue;
        }
        load_w(src, i);
        select_bank(dst);
        insn(f, byte_at(dst, i) + ",f");
    }
}

// dst = src op k, k a constant: bytes that k clears or sets whole are
// written without reading src.
void logic_copy(const wide_operand &dst, const wide_operand &src, const wide_operand &k, int op)
{
    const char *lw = op == OP_AND ? "andlw" : op == OP_OR ? "iorlw" : "xorlw";
    for (uint32_t i = 0; i < dst.size; i++) {
        uint32_t b = const_byte(k, i);
        if (op == OP_AND && b == 0) {
            select_bank(dst);
            insn("clrf", byte_at(dst, i));
            continue;
        }
        if (op == OP_OR && b == 0xFF) {
            insn("movlw", "255");
        } else {
            load_w(src, i);
            if (!((op == OP_AND && b == 0xFF) || (op != OP_AND && b == 0)))
                insn(lw, number(b));
        }
        select_bank(dst);
        insn("movwf", byte_at(dst, i));
    }
}

void complement_in_place(const wide_operand &dst)
{
    select_bank(dst);
    for (uint32_t i = 0; i < dst.size; i++)
        insn("comf", byte_at(dst, i) + ",f");
}

// dst = -dst: the complement plus one, the one carried while a byte wraps.
void negate_in_place(const wide_operand &dst)
{
    complement_in_place(dst);
    for (uint32_t i = 0; i < dst.size; i++) {
        if (i)
            insn("btfsc", "status,2");
        insn("incf", byte_at(dst, i) + ",f");
    }
}

// One place left or right, through the carry.
void shift_once(const wide_operand &dst, bool left, bool sign)
{
    select_bank(dst);
    uint32_t top = dst.size - 1;
    if (left) {
        insn("bcf", "status,0");
        for (uint32_t i = 0; i <= top; i++)
            insn("rlf", byte_at(dst, i) + ",f");
        return;
    }
    if (sign)
        insn("rlf", byte_at(dst, top) + ",w");
    else
        insn("bcf", "status,0");
    for (uint32_t i = top + 1; i-- > 0;)
        insn("rrf", byte_at(dst, i) + ",f");
}

// dst shifted by a constant count: whole bytes moved, then single places.
// A count of the width or more leaves no bit (or only copies of the sign).
void shift_by_constant(const wide_operand &dst, uint32_t count, bool left, bool sign)
{
    uint32_t size = dst.size;
    if (count >= 8 * size)
        count = 8 * size - (sign ? 1 : 0);
    uint32_t bytes = count / 8, places = count % 8;
    if (bytes) {
        select_bank(dst);
        if (left) {
            for (uint32_t i = size; i-- > bytes;) {
                insn("movf", byte_at(dst, i - bytes) + ",w");
                insn("movwf", byte_at(dst, i));
            }
            for (uint32_t i = 0; i < bytes; i++)
                insn("clrf", byte_at(dst, i));
        } else {
            for (uint32_t i = 0; i + bytes < size; i++) {
                insn("movf", byte_at(dst, i + bytes) + ",w");
                insn("movwf", byte_at(dst, i));
            }
            if (sign) {
                insn("movlw", "0");
                insn("btfsc", byte_at(dst, size - 1 - bytes) + ",7");
                insn("movlw", "255");
            }
            for (uint32_t i = size - bytes; i < size; i++) {
                if (sign)
                    insn("movwf", byte_at(dst, i));
                else
                    insn("clrf", byte_at(dst, i));
            }
        }
    }
    for (uint32_t i = 0; i < places; i++)
        shift_once(dst, left, sign);
}

// dst shifted by the count in W (or already in the counter): a loop over
// a counter in the frame.
void shift_by_w(const wide_operand &dst, const wide_operand &counter, bool left, bool sign, bool stored)
{
    std::string again = new_label(), test = new_label();
    select_bank(counter);
    if (!stored)
        insn("movwf", counter.base);
    insn("incf", counter.base + ",f");
    insn("goto", test);
    place_label(again);
    shift_once(dst, left, sign);
    place_label(test);
    select_bank(counter);
    insn("decfsz", counter.base + ",f");
    insn("goto", again);
}

// The node's operation applied to dst in place, src its right operand (a
// shift count not constant: in W, or in the counter when `stored`).
void operate(tree_node *node, int level, int op, const wide_operand &dst, const wide_operand &src,
             bool stored = false)
{
    switch (op) {
    case OP_ADD: add_into(dst, src); break;
    case OP_SUB: subtract_into(dst, src); break;
    case OP_AND: case OP_OR: case OP_XOR: logic_into(dst, src, op); break;
    case OP_SHL: case OP_SHR: {
        bool left = op == OP_SHL, sign = !left && dst.is_signed;
        if (src.is_const) {
            shift_by_constant(dst, src.value & 0xFF, left, sign);
        } else {
            wide_operand counter;
            counter.base = operand_text(node, level, "~Y");
            counter.bank = frame_bank;
            counter.size = 1;
            shift_by_w(dst, counter, left, sign, stored);
        }
        break;
    }
    default: msg_report(712); break;
    }
}

int compound_base(int op)
{
    switch (op) {
    case OP_ASG_ADD: return OP_ADD;
    case OP_ASG_SUB: return OP_SUB;
    case OP_ASG_AND: return OP_AND;
    case OP_ASG_OR: return OP_OR;
    case OP_ASG_XOR: return OP_XOR;
    case OP_ASG_SHL: return OP_SHL;
    case OP_ASG_SHR: return OP_SHR;
    default: return -1;
    }
}

// X = value of the node: L op R, -L, ~L, L's old value (L++ and L--).
void value_into_scratch(tree_node *node, int level)
{
    wide_operand x = operand_of(node, level, 'X');
    wide_operand l = operand_of(node, level, 'L');
    bool count_in_w = (node->op == OP_SHL || node->op == OP_SHR) && !operand_of(node, level, 'R').is_const;
    if (count_in_w) {   // the count goes to its counter before W carries the copy
        bank_select(frame_bank);
        insn("movwf", operand_text(node, level, "~Y"));
    }
    if ((node->op == OP_AND || node->op == OP_OR || node->op == OP_XOR) && !l.is_const) {
        wide_operand r = operand_of(node, level, 'R');
        if (r.is_const) {   // each byte of l with its byte of the constant, on its way to X
            logic_copy(x, l, r, (int)node->op);
            return;
        }
    }
    copy_into(x, l);
    switch (node->op) {
    case OP_NEG: negate_in_place(x); return;
    case OP_COMPL: complement_in_place(x); return;
    case OP_POSTINC: case OP_POSTDEC: {
        wide_operand r = operand_of(node, level, 'R');
        if (node->op == OP_POSTINC)
            add_into(l, r);
        else
            subtract_into(l, r);
        return;
    }
    default: break;
    }
    operate(node, level, (int)node->op, x, operand_of(node, level, 'R'), count_in_w);
}

// L = R, L op= R.
void into_left(tree_node *node, int level)
{
    wide_operand l = operand_of(node, level, 'L');
    wide_operand r = operand_of(node, level, 'R');
    if (node->op == OP_ASSIGN) {
        copy_into(l, r);
        return;
    }
    operate(node, level, compound_base((int)node->op), l, r);
}

// W (a byte of one side) into the node's scratch, byte i of o into W (its
// sign bit flipped when `flip`), then `mnemonic` scratch,w: the two bytes
// combined in memory.
void through_scratch(tree_node *node, int level, const wide_operand &o, uint32_t i, bool flip,
                     const char *mnemonic)
{
    wide_operand t = operand_of(node, level, 'X');
    select_bank(t);
    insn("movwf", t.base);
    load_w(o, i);
    if (flip)
        insn("xorlw", "128");
    select_bank(t);
    insn(mnemonic, t.base + ",w");
}

// Below the lowest byte: on to `done` when the bytes just compared differ
// (Z clear), the flags then deciding. True when the jump was written.
bool on_difference(const std::string &done, uint32_t i)
{
    if (!i)
        return false;
    insn("btfss", "status,2");
    insn("goto", done);
    return true;
}

// The flags of a comparison: Z for == and != (set when equal); for the
// order, the carry set when a >= b, with a = L, b = R for < and >=, and
// a = R, b = L for <= and > (so that > is "not R >= L").
void compare(tree_node *node, int level)
{
    wide_operand l = operand_of(node, level, 'L');
    wide_operand r = operand_of(node, level, 'R');
    uint32_t size = l.size > r.size ? l.size : r.size;
    std::string done = new_label();
    bool jumped = false;
    if (node->op == OP_EQ || node->op == OP_NE) {
        if (l.is_const)
            std::swap(l, r);
        if (r.is_const && r.value == 0 && !l.is_const) {
            load_w(l, 0);
            for (uint32_t i = 1; i < size; i++) {
                select_bank(l);
                insn("iorwf", byte_at(l, i) + ",w");
            }
            return;
        }
        for (uint32_t i = size; i-- > 0;) {
            load_w(l, i);
            if (r.is_const) {
                insn("xorlw", number(const_byte(r, i)));
            } else if (i < r.size) {
                select_bank(r);
                insn("xorwf", byte_at(r, i) + ",w");
            } else {   // an extension byte: into the scratch, then compared
                through_scratch(node, level, r, i, false, "xorwf");
            }
            jumped |= on_difference(done, i);
        }
        if (jumped)
            place_label(done);
        return;
    }
    bool swap = node->op == OP_LE || node->op == OP_GT;
    const wide_operand &a = swap ? r : l, &b = swap ? l : r;
    bool sign = l.is_signed;
    // x < 0, x >= 0 of a signed x: its sign bit alone (127 - top byte leaves
    // the carry set when bit 7 is clear)
    if (sign && !swap && r.is_const && r.value == 0 && !l.is_const && chip.family != 1) {
        load_w(l, l.size - 1);
        insn("sublw", "127");
        return;
    }
    for (uint32_t i = size; i-- > 0;) {
        if (sign && i == size - 1) {   // the top bytes with their sign bits flipped
            load_w(a, i);
            insn("xorlw", "128");
            through_scratch(node, level, b, i, true, "subwf");
        } else if (a.is_const && chip.family == 1) {   // no sublw: k - b through the scratch
            load_w(a, i);
            through_scratch(node, level, b, i, false, "subwf");
        } else if (a.is_const) {
            load_w(b, i);
            insn("sublw", number(const_byte(a, i)));
        } else if (i < a.size) {
            load_w(b, i);
            select_bank(a);
            insn("subwf", byte_at(a, i) + ",w");
        } else {   // an extension byte of a: into the scratch first
            load_w(a, i);
            through_scratch(node, level, b, i, false, "subwf");
        }
        jumped |= on_difference(done, i);
    }
    if (jumped)
        place_label(done);
}

// Conversions: a wide value to a byte in W, a byte in W widened into X,
// a wide value widened or cut into X.
void convert(tree_node *node, int level)
{
    tree_node *from = node->left;
    if (node_size(node) == 1) {
        load_w(operand_of(node, level, 'L'), 0);
        return;
    }
    wide_operand x = operand_of(node, level, 'X');
    if (node_size(from) == 1) {
        wide_operand w0 = x;
        select_bank(x);
        insn("movwf", x.base);
        w0.size = 1;
        w0.is_signed = is_signed_node(from);
        for (uint32_t i = 1; i < x.size; i++) {
            load_w(w0, i);
            select_bank(x);
            insn("movwf", byte_at(x, i));
        }
        return;
    }
    copy_into(x, operand_of(node, level, 'L'));
}

// The return value into the current function's parameter block, or a
// called function's value out of its block into X.
// The address in W into FSR, and IRP for the half of the banks it reaches.
void point_fsr(tree_node *address)
{
    insn("movwf", "fsr");
    if (chip.family == 1)   // FSR's bits 5 and 6 are the bank selection there
        fsr_pointed(indirect_target_bank(address));
    indirect_select_half(address);
}

// L = *W, byte by byte through INDF.
void read_through(tree_node *node, int level)
{
    wide_operand l = operand_of(node, level, 'L');
    point_fsr(node->right->left);
    for (uint32_t i = 0; i < l.size; i++) {
        if (i)
            insn("incf", "fsr,f");
        indf_ready();
        insn("movf", "indf,w");
        if (i + 1 == l.size)
            fsr_in_use = false;   // the last byte is read
        select_bank(l);
        insn("movwf", byte_at(l, i));
    }
}

// *W = R, byte by byte through INDF (R a variable or a constant).
void write_through(tree_node *node, int level)
{
    wide_operand r = operand_of(node, level, 'R');
    r.size = node_size(node->left);   // a constant: as many bytes as the target has
    point_fsr(node->left->left);
    for (uint32_t i = 0; i < r.size; i++) {
        if (i)
            insn("incf", "fsr,f");
        if (r.is_const && r.address.empty() && const_byte(r, i) == 0) {
            indf_ready();
            insn("clrf", "indf");
            continue;
        }
        load_w(r, i);
        indf_ready();
        insn("movwf", "indf");
    }
}

// A bit-field's byte, its offset, width and mask.
struct field_place {
    wide_operand byte;
    int offset;
    int width;
    uint32_t mask;   // the field's bits in place
};

field_place field_of(tree_node *field_node, tree_node *node, int level, char which)
{
    field_place f;
    f.byte = operand_of(node, level, which);
    f.byte.size = 1;
    f.offset = field_node->bitfield ? field_node->bitfield->bit_offset : 0;
    f.width = field_node->bitfield ? field_node->bitfield->bit_width : 8;
    f.mask = (((1u << f.width) - 1) << f.offset) & 0xFF;
    return f;
}

std::string bit_of(const field_place &f)
{
    return f.byte.base + "," + std::to_string(f.offset);
}

// W = the field, shifted down (through the scratch byte Y when it moves).
void read_field(tree_node *node, int level)
{
    field_place f = field_of(node, node, level, 'L');
    select_bank(f.byte);
    if (f.width == 1) {
        insn("movlw", "0");
        insn("btfsc", bit_of(f));
        insn("movlw", "1");
        return;
    }
    uint32_t low = (1u << f.width) - 1;
    int shift = f.offset;
    if (shift == 0) {
        insn("movf", f.byte.base + ",w");
    } else {
        insn(shift >= 4 ? "swapf" : "movf", f.byte.base + ",w");
        shift = shift >= 4 ? shift - 4 : shift;
        if (shift) {
            std::string y = operand_text(node, level, "~Y");
            bank_select(frame_bank);
            insn("movwf", y);
            for (int i = 0; i < shift; i++)   // the carry shifted in lies above the field
                insn("rrf", y + ",f");
            insn("movf", y + ",w");
        }
    }
    if (f.offset + f.width < 8 || f.offset)
        insn("andlw", number(low));
}

// The field = a constant, or W (through the scratch byte X): its byte's
// other bits kept.
void write_field(tree_node *node, int level)
{
    field_place f = field_of(node->left, node->left, top_level_of(node->left), 'L');
    tree_node *v = node->right;
    uint32_t low = (1u << f.width) - 1;
    if (v->op == OP_CONST) {
        uint32_t bits = (((uint32_t)v->value & low) << f.offset) & 0xFF;
        select_bank(f.byte);
        if (f.width == 1) {
            insn(bits ? "bsf" : "bcf", bit_of(f));
        } else if (f.mask == 0xFF) {
            insn("movlw", number(bits));
            insn("movwf", f.byte.base);
        } else {
            insn("movf", f.byte.base + ",w");
            insn("andlw", number(~f.mask));
            if (bits)
                insn("iorlw", number(bits));
            insn("movwf", f.byte.base);
        }
        return;
    }
    if (f.width == 1) {   // any value but 0 sets it; bit 0 of the value in C's conversion
        insn("andlw", "1");
        select_bank(f.byte);
        insn("bcf", bit_of(f));
        insn("btfss", "status,2");
        insn("bsf", bit_of(f));
        return;
    }
    // x ^= (x ^ v << offset) & mask: the bits shifted in below the field
    // fall outside the mask
    std::string x = operand_text(node, level, "~X");
    int shift = f.offset;
    if (shift) {
        bank_select(frame_bank);
        insn("movwf", x);
        if (shift >= 4) {
            insn("swapf", x + ",f");
            shift -= 4;
        }
        for (int i = 0; i < shift; i++)
            insn("rlf", x + ",f");
        insn("movf", x + ",w");
    }
    select_bank(f.byte);
    insn("xorwf", f.byte.base + ",w");
    insn("andlw", number(f.mask));
    insn("xorwf", f.byte.base + ",f");
}

wide_operand value_block(cg_symbol *f, uint32_t size, bool is_signed);

// A loop of k passes (1-256) of a body of c cycles, counted down in a
// register: movlw k; movwf r; L: body; decfsz r,f; goto L takes
// k * (c + 3) + 1 cycles.
unsigned long loop_cycles(unsigned long k, unsigned long c)
{
    return k * (c + 3) + 1;
}

// W counted down from k (256 as 0): movlw k; L: addlw 255; btfss Z; goto L,
// 4k cycles.
void w_loop(unsigned long k)
{
    insn("movlw", number((uint32_t)k));
    std::string l = new_label();
    place_label(l);
    insn("addlw", "255");
    insn("btfss", "status,2");
    insn("goto", l);
}

// FSR counted down from k around the largest W loop: loop_cycles(k, 1024).
void fsr_loop(unsigned long k)
{
    insn("movlw", number((uint32_t)k));
    insn("movwf", "fsr");
    std::string l = new_label();
    place_label(l);
    w_loop(256);
    insn("decfsz", "fsr,f");
    insn("goto", l);
}

// A loop counting a byte of the frame down from k (0 for 256) around
// `body`: k * (body + 3) + 1 cycles.
static void frame_loop(const std::string &counter, unsigned long k, const std::function<void()> &body)
{
    insn("movlw", number((uint32_t)(k & 0xFF)));
    insn("movwf", counter);
    std::string l = new_label();
    place_label(l);
    body();
    insn("decfsz", counter + ",f");
    insn("goto", l);
}

// The 12-bit core's delay: three bytes of the frame (X, Y, Y+1) counted
// down in nested loops of 3, 772 and 197,636 cycles a pass.
static void delay12(tree_node *node, int level, unsigned long n)
{
    const unsigned long pass1 = 3, pass2 = 256 * pass1 + 1 + 3, pass3 = 256 * pass2 + 1 + 3;
    int s = bank_select_cost(frame_bank);
    std::string c1 = operand_text(node, level, "~X"), c2 = operand_text(node, level, "~Y"),
                c3 = operand_text(node, level, "~Y+1");
    if (n >= (unsigned long)s + pass1 + 1) {
        n -= (unsigned long)s;
        bank_select(frame_bank);
        auto inner = [&] { frame_loop(c1, 256, [] {}); };
        auto middle = [&] { frame_loop(c2, 256, inner); };
        if (n >= pass3 + 1) {
            unsigned long k3 = (n - 1) / pass3;
            if (k3 > 256) {
                msg_report(1490, "delays of more than 50,000,000 cycles on the 12-bit cores");
                return;
            }
            frame_loop(c3, k3, middle);
            n -= k3 * pass3 + 1;
        }
        if (n >= pass2 + 1) {
            unsigned long k2 = (n - 1) / pass2;
            frame_loop(c2, k2, inner);
            n -= k2 * pass2 + 1;
        }
        if (n >= pass1 + 1) {
            unsigned long k1 = (n - 1) / pass1 > 256 ? 256 : (n - 1) / pass1;
            frame_loop(c1, k1, [] {});
            n -= k1 * pass1 + 1;
        }
    }
    for (; n >= 2; n -= 2)
        insn("goto", "$+1");
    if (n)
        insn("nop");
}

// Exactly n cycles: loops of W (4 cycles a pass), of FSR around them, and of
// a byte of the frame around those; what is left in nops (goto $+1 is two
// cycles in one word).
void delay(tree_node *node, int level)
{
    unsigned long n = (uint32_t)node->value;   // the count, moved here from the argument
    // the count includes the bank selection made here: the pass that deletes
    // selections already made leaves a function with timed code alone
    out_printf(";%s\n\t", TIMED_CODE_MARK);
    if (chip.family == 1) {
        delay12(node, level, n);
        return;
    }
    const unsigned long inner = 4 * 256;                // the largest W loop
    const unsigned long middle = loop_cycles(256, inner); // FSR around it
    if (n >= middle + 4) {
        int s = bank_select_cost(frame_bank);
        unsigned long k3 = (n - (unsigned long)s - 1) / (middle + 3);
        if (k3 > 256) {
            msg_report(1490, "delays of more than 67,000,000 cycles");
            return;
        }
        std::string counter = operand_text(node, level, "~X");
        bank_select(frame_bank);
        insn("movlw", number((uint32_t)k3));
        insn("movwf", counter);
        std::string l3 = new_label();
        place_label(l3);
        fsr_loop(256);
        insn("decfsz", counter + ",f");
        insn("goto", l3);
        n -= (unsigned long)s + loop_cycles(k3, middle);
    }
    if (n >= inner + 4 + 3) {
        unsigned long k2 = (n - 1) / (inner + 3);
        fsr_loop(k2);
        n -= loop_cycles(k2, inner);
    }
    if (n >= 4) {
        unsigned long k = n / 4 > 256 ? 256 : n / 4;
        w_loop(k);
        n -= 4 * k;
    }
    for (; n >= 2; n -= 2)
        insn("goto", "$+1");
    if (n)
        insn("nop");
}

// A call of a one-page dispatch table (stringdir, fptable) with the byte
// at `from` (a register of `bank`) in W: PCLATH takes the table's page
// first (the read of the byte leaves it alone), and the code's own page
// bits are set back after the call.
void call_table(const char *table, const std::string &from, int bank)
{
    if (chip.family == 1) {   // the table in page 0, which fcall selects
        bank_select(bank);
        insn("movf", from + ",w");
        insn("fcall", table);
        return;
    }
    insn("movlw", std::string("high(") + table + ")");
    insn("movwf", "pclath");
    bank_select(bank);
    insn("movf", from + ",w");
    insn("call", table);
    insn("pagesel", "$");
}

// A read through a pointer that may hold either kind of address (its
// offset saved in the frame): the pointer's tag chooses the way, program
// memory first; false leads to the RAM way at `ram`.
void test_kind_tag(cg_symbol *tag, const std::string &ram)
{
    bank_select(bank_of_symbol(tag));
    insn("btfss", std::string(sym_asm_name(tag)) + ",0");
    insn("goto", ram);
}

// The RAM way of such a read: the saved offset into FSR, then `bytes` bytes
// through INDF, each handed to `put`.
void read_ram_way(tree_node *address, const std::string &offset, uint32_t bytes,
                  const std::function<void(uint32_t)> &put)
{
    bank_select(frame_bank);
    insn("movf", offset + ",w");
    point_fsr(address);
    for (uint32_t i = 0; i < bytes; i++) {
        if (i)
            insn("incf", "fsr,f");
        indf_ready();
        insn("movf", "indf,w");
        if (i + 1 == bytes)
            fsr_in_use = false;
        put(i);
    }
}

// L = bytes of program memory from the offset in W: each fetched by a call
// of the table's dispatcher, which jumps to the retlw at that offset of
// its page.
void read_rom(tree_node *node, int level)
{
    wide_operand l = operand_of(node, level, 'L');
    std::string offset = operand_text(node, level, "~X");
    bank_select(frame_bank);
    insn("movwf", offset);
    cg_symbol *tag = indirect_kind_tag(node->right->left);
    std::string ram = tag ? new_label() : "", done = tag ? new_label() : "";
    if (tag)
        test_kind_tag(tag, ram);
    for (uint32_t i = 0; i < l.size; i++) {
        if (i) {
            bank_select(frame_bank);
            insn("incf", offset + ",f");
        }
        call_table("stringdir", offset, frame_bank);
        select_bank(l);
        insn("movwf", byte_at(l, i));
    }
    if (!tag)
        return;
    insn("goto", done);
    place_label(ram);
    read_ram_way(node->right->left, offset, l.size, [&](uint32_t i) {
        select_bank(l);
        insn("movwf", byte_at(l, i));
    });
    place_label(done);
}

// *L = *R for objects of any size: the pointers (temporaries the lowering
// made, free to move) step through both, a byte at a time through Y.
void copy_between(tree_node *node, int level)
{
    wide_operand dst = operand_of(node, level, 'L'), src = operand_of(node, level, 'R');
    std::string count = operand_text(node, level, "~X"), value = operand_text(node, level, "~Y");
    uint32_t size = node_size(node->left);
    bank_select(frame_bank);
    insn("movlw", number(size));
    insn("movwf", count);
    std::string loop = new_label();
    place_label(loop);
    select_bank(src);
    insn("movf", src.base + ",w");
    point_fsr(node->right->left);
    insn("movf", "indf,w");
    fsr_in_use = false;
    bank_select(frame_bank);
    insn("movwf", value);
    select_bank(dst);
    insn("movf", dst.base + ",w");
    point_fsr(node->left->left);
    bank_select(frame_bank);
    insn("movf", value + ",w");
    indf_ready();
    insn("movwf", "indf");
    fsr_in_use = false;
    select_bank(src);
    insn("incf", src.base + ",f");
    select_bank(dst);
    insn("incf", dst.base + ",f");
    bank_select(frame_bank);
    insn("decfsz", count + ",f");
    insn("goto", loop);
}

wide_operand value_block(cg_symbol *f, uint32_t size, bool is_signed)
{
    wide_operand o;
    o.base = std::string("?") + sym_asm_name(f);
    o.bank = frame_bank;
    o.size = size;
    o.is_signed = is_signed;
    return o;
}

} // namespace

static int wide_escape_code(int n, tree_node *node, int level);

// A byte switch through a table of gotos, on the 14-bit cores: W = high
// value - v counts down from the highest case (v below the lowest wraps
// past the table's end, as v above the highest borrows), so one sublw is
// the unsigned range test (v - lowest) < count, and the table runs from
// the highest value to the lowest. PCLATH takes the table's page first,
// plus the carry when the index passes a 256-word boundary; the table lies
// in the function's own code page, so the gotos in it reach their labels.
// A value already tested against the range (the low byte of a wider one
// less its lowest case) skips the test. False (nothing written) when the
// cases do not fit a table.
// On the 12-bit cores the table lies in jmp_tab, in the first half of
// page 0 (a computed jump clears bit 8 of the address): a long jump per
// value from the lowest case up, entered by a long jump with the index
// (tested against the range already) times a long jump's words in W.
static bool jump_table12(const wide_operand &v, const std::vector<tree_node *> &cases, tree_node *fallback)
{
    unsigned jump = long_jump_words();
    uint32_t count = 0;
    for (tree_node *item : cases)
        count = std::max(count, (uint32_t)(item->left->value & 0xFF) + 1);
    if (v.is_const || count * jump > 256)
        return false;
    std::vector<std::string> targets(count, "l" + std::to_string(fallback->value));
    for (tree_node *item : cases)
        targets[item->left->value & 0xFF] = "l" + std::to_string(item->right->value);
    std::string table = new_label();
    load_w(v, 0);
    for (unsigned i = 1; i < jump; i++)
        insn("addwf", byte_at(v, 0) + ",w");
    insn("ljmp", table);
    std::string text = table + ":\n\taddwf\tpcl,f\n";
    for (const std::string &t : targets)
        text += "\tljmp\t" + t + "\n";
    add_low_page_table(text);
    return true;
}

static bool jump_table(const wide_operand &v, const std::vector<tree_node *> &cases, tree_node *fallback,
                       bool in_range)
{
    if (chip.family == 1 && in_range && !cases.empty() && fallback)
        return jump_table12(v, cases, fallback);
    if (chip.family != 2 || cases.empty() || !fallback)
        return false;
    auto value_of = [&](tree_node *item) -> int {
        int x = (int)(item->left->value & 0xFF);
        return v.is_signed && x >= 128 ? x - 256 : x;
    };
    int low = value_of(cases[0]), high = low;
    for (tree_node *item : cases) {
        low = std::min(low, value_of(item));
        high = std::max(high, value_of(item));
    }
    int count = high - low + 1;
    std::vector<std::string> targets((size_t)count, "l" + std::to_string(fallback->value));
    for (tree_node *item : cases)
        targets[(size_t)(high - value_of(item))] = "l" + std::to_string(item->right->value);
    std::string table = new_label();
    insn("movlw", "high(" + table + ")");
    insn("movwf", "pclath");
    load_w(v, 0);
    if (low & 0xFF)
        insn("addlw", number((uint32_t)-low));
    insn("sublw", number((uint32_t)(count - 1)));   // W = count - 1 - (v - low), no borrow when in range
    if (count < 256 && !in_range) {
        insn("btfss", "status,0");
        insn("goto", "l" + std::to_string(fallback->value));
    }
    insn("addlw", "low(" + table + ")");
    insn("btfsc", "status,0");
    insn("incf", "pclath,f");
    insn("movwf", "pcl");
    out_printf("%s:\n\t", table.c_str());
    for (const std::string &t : targets)
        insn("goto", t);
    return true;
}

int wide_escape(int n, tree_node *node, int level)
{
    int done = wide_escape_code(n, node, level);
    fsr_in_use = false;
    return done;
}

static int wide_escape_code(int n, tree_node *node, int level)
{
    switch (n) {
    case 70: into_left(node, level); break;
    case 71: value_into_scratch(node, level); break;
    case 72: compare(node, level); break;
    case 73: convert(node, level); break;
    case 74: {   // return
        wide_operand l = operand_of(node, level, 'L');
        copy_into(value_block(current_function, l.size, l.is_signed), l);
        break;
    }
    case 82: copy_between(node, level); break;
    case 84: read_rom(node, level); break;
    case 91: delay(node, level); break;
    case 88: {   // a call through a pointer: the table jumps to the function
        tree_node *d = node->left;
        tree_node *var = d->left;
        if (chip.family == 1) {
            call_through_pointer(node, operand_text(node, level, "~L"), bank_of_operand_node(var, top_level_of(var)));
            break;
        }
        if (node->right && node->right->args && vec_count(node->right->args)) {
            insn("movwf", "fsr");   // the stub hands it back in W
            if (chip.family == 1)
                bank_forget();
        }
        call_table("fptable", operand_text(node, level, "~L"), bank_of_operand_node(var, top_level_of(var)));
        break;
    }
    case 87: {   // a byte switch: a jump table or the compare chain
        wide_operand v = operand_of(node, level, 'L');
        std::vector<tree_node *> cases;
        tree_node *fallback;
        switch_cases(node->right, &cases, &fallback);
        if ((node->spare & ~SWITCH_IN_RANGE) == SWITCH_DIRECT &&
            jump_table(v, cases, fallback, node->spare & SWITCH_IN_RANGE))
            break;
        load_w(v, 0);
        uint32_t before = 0;
        for (tree_node *item : cases) {
            uint32_t value = (uint32_t)item->left->value & 0xFF;
            insn("xorlw", number(value ^ before));
            insn("btfsc", "status,2");
            insn("goto", "l" + std::to_string(item->right->value));
            before = value;
        }
        if (fallback)
            insn("goto", "l" + std::to_string(fallback->value));
        break;
    }
    case 85:   // W = *W
        point_fsr(node->left);
        insn("movf", "indf,w");
        break;
    case 86: {   // W = the byte of program memory at the offset in W
        std::string offset = operand_text(node, level, "~Y");
        bank_select(frame_bank);
        insn("movwf", offset);
        cg_symbol *tag = indirect_kind_tag(node->left);
        std::string ram = tag ? new_label() : "", done = tag ? new_label() : "";
        if (tag)
            test_kind_tag(tag, ram);
        call_table("stringdir", offset, frame_bank);
        if (tag) {
            insn("goto", done);
            place_label(ram);
            read_ram_way(node->left, offset, 1, [](uint32_t) {});
            place_label(done);
        }
        break;
    }
    case 83: {   // a called function's value straight into L
        cg_symbol *callee = node->right->call_target;
        wide_operand l = operand_of(node, level, 'L');
        if (!callee) {
            msg_report(712);
            break;
        }
        copy_into(l, value_block(callee, l.size, l.is_signed));
        break;
    }
    case 80: read_field(node, level); break;
    case 81: write_field(node, level); break;
    case 77: read_through(node, level); break;
    case 78: write_through(node, level); break;
    case 79: {   // a copy of an object of any size
        wide_operand l = operand_of(node, level, 'L');
        copy_into(l, operand_of(node, level, 'R'));
        break;
    }
    case 76: {   // Z set when the operand is zero
        wide_operand l = operand_of(node, level, 'L');
        load_w(l, 0);
        for (uint32_t i = 1; i < l.size; i++) {
            select_bank(l);
            insn("iorwf", byte_at(l, i) + ",w");
        }
        break;
    }
    case 75: {   // the value a call left in the callee's parameter block
        cg_symbol *callee = node->call_target;
        if (!callee) {
            msg_report(712);
            break;
        }
        wide_operand x = operand_of(node, level, 'X');
        copy_into(x, value_block(callee, x.size, x.is_signed));
        break;
    }
    default: return -1;
    }
    return 0;
}
