// The instruction sets: baseline (12-bit words), mid-range (14-bit words)
// and high-end (16-bit words), the page-selecting pseudo-instructions fcall,
// ljmp and pagesel, and nop2, a two-cycle nop in one word (a goto to the
// next word) that the code generator's delay loops use.
//
// Each row gives a mnemonic, the families that have it, its opcode bits in
// each family and the shape of its operands; one switch over the shape
// places the fields. A field whose value is not known here becomes a
// relocation on exactly its bits.
#include "osprey.h"

#include <cstring>
#include <strings.h>

enum insn_shape {
    SH_NONE,     // no operand
    SH_FD,       // file register, destination
    SH_F,        // file register
    SH_FB,       // file register, bit number
    SH_K8,       // 8-bit literal
    SH_CALL,     // call target
    SH_GOTO,     // goto target
    SH_TRIS,     // tris port (5 to 7)
    SH_PF,       // high-end movpf: peripheral register (5 bits), file register
    SH_FP,       // high-end movfp: file register, peripheral register
    SH_TABLE,    // high-end tablrd/tablwt: t, i, file register
    SH_TL,       // high-end tlrd/tlwt: t, file register
    SH_K4,       // high-end movlb: 4-bit literal
    SH_K4HIGH,   // high-end movlr: 4-bit literal in bits 4-7
};

struct insn_row {
    const char *name;
    unsigned baseline;   // opcode bits on baseline chips, NONE when absent
    unsigned midrange;   // opcode bits on mid-range chips, NONE when absent
    unsigned highend;    // opcode bits on high-end chips, NONE when absent
    insn_shape shape;
};

static const unsigned NONE = 0xFFFF;

// Rows by mnemonic; opcodes from the datasheets' instruction set tables.
static const insn_row insn_table[] = {
    // name       baseline  midrange  highend   shape
    {"addwf",     0x1C0,    0x0700,   0x0E00,   SH_FD},
    {"andwf",     0x140,    0x0500,   0x0A00,   SH_FD},
    {"clrf",      0x060,    0x0180,   0x2800,   SH_F},
    {"clrw",      0x040,    0x0103,   NONE,     SH_NONE},
    {"comf",      0x240,    0x0900,   0x1200,   SH_FD},
    {"decf",      0x0C0,    0x0300,   0x0600,   SH_FD},
    {"decfsz",    0x2C0,    0x0B00,   0x1600,   SH_FD},
    {"incf",      0x280,    0x0A00,   0x1400,   SH_FD},
    {"incfsz",    0x3C0,    0x0F00,   0x1E00,   SH_FD},
    {"iorwf",     0x100,    0x0400,   0x0800,   SH_FD},
    {"movf",      0x200,    0x0800,   NONE,     SH_FD},
    {"movwf",     0x020,    0x0080,   0x0100,   SH_F},
    {"nop",       0x000,    0x0000,   0x0000,   SH_NONE},
    {"rlf",       0x340,    0x0D00,   NONE,     SH_FD},
    {"rrf",       0x300,    0x0C00,   NONE,     SH_FD},
    {"subwf",     0x080,    0x0200,   0x0400,   SH_FD},
    {"swapf",     0x380,    0x0E00,   0x1C00,   SH_FD},
    {"xorwf",     0x180,    0x0600,   0x0C00,   SH_FD},
    {"bcf",       0x400,    0x1000,   0x8800,   SH_FB},
    {"bsf",       0x500,    0x1400,   0x8000,   SH_FB},
    {"btfsc",     0x600,    0x1800,   0x9800,   SH_FB},
    {"btfss",     0x700,    0x1C00,   0x9000,   SH_FB},
    {"addlw",     NONE,     0x3E00,   0xB100,   SH_K8},
    {"andlw",     0xE00,    0x3900,   0xB500,   SH_K8},
    {"call",      0x900,    0x2000,   0xE000,   SH_CALL},
    {"clrwdt",    0x004,    0x0064,   0x0004,   SH_NONE},
    {"goto",      0xA00,    0x2800,   0xC000,   SH_GOTO},
    {"iorlw",     0xD00,    0x3800,   0xB300,   SH_K8},
    {"movlw",     0xC00,    0x3000,   0xB000,   SH_K8},
    {"option",    0x002,    0x0062,   NONE,     SH_NONE},
    {"retfie",    NONE,     0x0009,   0x0005,   SH_NONE},
    {"retlw",     0x800,    0x3400,   0xB600,   SH_K8},
    {"return",    NONE,     0x0008,   0x0002,   SH_NONE},
    {"sleep",     0x003,    0x0063,   0x0003,   SH_NONE},
    {"sublw",     NONE,     0x3C00,   0xB200,   SH_K8},
    {"tris",      0x000,    0x0060,   NONE,     SH_TRIS},
    {"xorlw",     0xF00,    0x3A00,   0xB400,   SH_K8},
    // the high-end family's own instructions
    {"addwfc",    NONE,     NONE,     0x1000,   SH_FD},
    {"cpfseq",    NONE,     NONE,     0x3100,   SH_F},
    {"cpfsgt",    NONE,     NONE,     0x3200,   SH_F},
    {"cpfslt",    NONE,     NONE,     0x3000,   SH_F},
    {"daw",       NONE,     NONE,     0x2E00,   SH_FD},
    {"dcfsnz",    NONE,     NONE,     0x2600,   SH_FD},
    {"infsnz",    NONE,     NONE,     0x2400,   SH_FD},
    {"movfp",     NONE,     NONE,     0x6000,   SH_FP},
    {"movpf",     NONE,     NONE,     0x4000,   SH_PF},
    {"mulwf",     NONE,     NONE,     0x3400,   SH_F},
    {"negw",      NONE,     NONE,     0x2C00,   SH_FD},
    {"rlcf",      NONE,     NONE,     0x1A00,   SH_FD},
    {"rlncf",     NONE,     NONE,     0x2200,   SH_FD},
    {"rrcf",      NONE,     NONE,     0x1800,   SH_FD},
    {"rrncf",     NONE,     NONE,     0x2000,   SH_FD},
    {"setf",      NONE,     NONE,     0x2A00,   SH_FD},
    {"subwfb",    NONE,     NONE,     0x0200,   SH_FD},
    {"tablrd",    NONE,     NONE,     0xA800,   SH_TABLE},
    {"tablwt",    NONE,     NONE,     0xAC00,   SH_TABLE},
    {"tlrd",      NONE,     NONE,     0xA000,   SH_TL},
    {"tlwt",      NONE,     NONE,     0xA400,   SH_TL},
    {"tstfsz",    NONE,     NONE,     0x3300,   SH_F},
    {"btg",       NONE,     NONE,     0x3800,   SH_FB},
    {"lcall",     NONE,     NONE,     0xB700,   SH_K8},
    {"movlb",     NONE,     NONE,     0xB800,   SH_K4},
    {"movlr",     NONE,     NONE,     0xBA00,   SH_K4HIGH},
    {"mullw",     NONE,     NONE,     0xBC00,   SH_K8},
};

// Field layouts of the families.
struct family_fields {
    unsigned file_bits;     // width of the file-register field
    unsigned dest_shift;    // position of the destination bit
    unsigned bit_shift;     // position of the bit-number field
    unsigned goto_bits;     // width of the goto target
    unsigned call_bits;     // width of the call target
    unsigned page_words;    // words in one program-memory page
    unsigned page_reg;      // register holding the page bits
    unsigned page_bit0;     // its bit for the lowest page bit
};

static const family_fields fields_of[] = {
    {0, 0, 0, 0, 0, 0, 0, 0},
    {5, 5, 5, 9, 8, 0x200, 0x03, 5},    // baseline: STATUS<6:5>
    {7, 7, 7, 11, 11, 0x800, 0x0A, 3},  // mid-range: PCLATH<4:3>
    {8, 8, 8, 13, 13, 0x2000, 0x03, 5}, // high-end: PCLATH<7:5>
};

static unsigned opcode_of(const insn_row &r)
{
    return as.family == FAM_BASELINE ? r.baseline : as.family == FAM_MIDRANGE ? r.midrange : r.highend;
}

static const family_fields &ff() { return fields_of[as.family]; }

static const insn_row *insn_find(const std::string &m)
{
    for (const insn_row &r : insn_table)
        if (strcasecmp(r.name, m.c_str()) == 0)
            return &r;
    return nullptr;
}

bool insn_known(const std::string &m)
{
    return insn_find(m) || strcasecmp(m.c_str(), "fcall") == 0 || strcasecmp(m.c_str(), "ljmp") == 0 ||
           strcasecmp(m.c_str(), "pagesel") == 0 || strcasecmp(m.c_str(), "nop2") == 0;
}

int insn_page_bits()
{
    unsigned long pages = (as.rom_words + ff().page_words - 1) / ff().page_words;
    return pages <= 1 ? 0 : pages == 2 ? 1 : 2;
}

static expr_ptr num(long v)
{
    auto e = std::make_shared<expr>();
    e->kind = EX_NUM;
    e->value = v;
    return e;
}

static expr_ptr bin(int op, expr_ptr l, expr_ptr r)
{
    auto e = std::make_shared<expr>();
    e->kind = EX_BINARY;
    e->op = op;
    e->left = l;
    e->right = r;
    return e;
}

// Emits a word whose field of `bits` bits at bit 0 holds the value of e:
// folded when known, else a relocation on that field.
static void emit_field(unsigned word, const expr_ptr &e, unsigned bits, bool check_range)
{
    long v;
    unsigned mask = (1u << bits) - 1;
    if (expr_constant(e, &v)) {
        if (check_range && (v < -static_cast<long>(mask + 1) / 2 || v > static_cast<long>(mask)))
            msg_report(1405, v, expr_text(e).c_str());
        emit_unit(word | (static_cast<unsigned>(v) & mask));
        return;
    }
    emit_unit(word);
    if (bits == 8 && check_range)
        emit_reloc(0x31, 0, e);     // a whole byte, overflow checked by the linker
    else
        emit_reloc(0xF0 | bits, 0, bin('&', e, num(mask)));
}

// The target of a call or goto. A baseline call reaches only the first
// half of a page (bit 8 of the address comes out as 0), so a target in the
// second half is an error, here or, for a target placed by the linker, as
// an overflow of the one-byte field the linker fills with the offset in the
// page.
static void emit_target(unsigned word, const expr_ptr &e, bool call)
{
    const unsigned bits = call ? ff().call_bits : ff().goto_bits;
    if (!(call && as.family == FAM_BASELINE)) {
        emit_field(word, e, bits, false);
        return;
    }
    long v;
    if (expr_constant(e, &v)) {
        if ((v & 0x1FF) > 0xFF)
            msg_report(1405, v, expr_text(e).c_str());
        emit_unit(word | (static_cast<unsigned>(v) & 0xFF));
        return;
    }
    emit_unit(word);
    emit_reloc(0x31, 0, bin('&', e, num(0x1FF)));
}

static expr_ptr operand(const std::vector<std::string> &ops, size_t i)
{
    if (i >= ops.size()) {
        msg_report(1417);
        return nullptr;
    }
    return expr_parse(ops[i]);
}

static bool count_ok(const std::string &m, const std::vector<std::string> &ops, size_t lo, size_t hi)
{
    if (ops.size() < lo || ops.size() > hi) {
        msg_report(1404, m.c_str(), static_cast<int>(hi));
        return false;
    }
    return true;
}

// An omitted destination is the file register. The code generator writes
// such lines itself ("incf pclath", "addwf pc" in switch tables), so the
// note about it is a warning shown only at level -1.
static unsigned dest_of(const std::vector<std::string> &ops, bool quiet)
{
    if (ops.size() < 2) {
        if (!quiet)
            msg_report(1434);
        return 1;
    }
    if (strcasecmp(ops[1].c_str(), "w") == 0)
        return 0;
    if (strcasecmp(ops[1].c_str(), "f") == 0)
        return 1;
    long v;
    expr_ptr e = expr_parse(ops[1]);
    if (e && expr_constant(e, &v) && (v == 0 || v == 1))
        return static_cast<unsigned>(v);
    msg_report(1403, ops[1].c_str());
    return 1;
}

// Page-select words for `target`; `target` null means the page of the
// word that follows (the return address of a call just emitted).
static void emit_page_select(const expr_ptr &target)
{
    const family_fields &f = ff();
    unsigned page_shift = f.page_words == 0x200 ? 9 : f.page_words == 0x800 ? 11 : 13;
    const insn_row *bcf_row = insn_find("bcf"), *bsf_row = insn_find("bsf");
    for (int i = 0; i < insn_page_bits(); i++) {
        // The word is the bcf form plus the page bit times the difference
        // to the bsf form (negative on the high-end family).
        unsigned bit_field = (f.page_bit0 + i) << f.bit_shift | f.page_reg;
        unsigned bcf = opcode_of(*bcf_row) | bit_field;
        long set_delta = static_cast<long>(opcode_of(*bsf_row)) - static_cast<long>(opcode_of(*bcf_row));
        // After a call, the page to come back to is that of the return
        // address: the first of these words.
        auto back = std::make_shared<expr>();
        back->kind = EX_PLACE;
        back->op = as.current;
        back->value = asm_here() - i;
        expr_ptr t = target ? target : back;
        // bit of the page number, moved onto the bcf/bsf difference
        expr_ptr bit = bin('*', bin('&', bin('r', t, num(page_shift + i)), num(1)), num(set_delta));
        long v;
        if (expr_constant(bit, &v)) {
            emit_unit(bcf + static_cast<unsigned>(v));
        } else {
            emit_unit(bcf);
            emit_reloc(0x32, 0, bit);
        }
    }
}

// An operand that must be a constant in [lo, hi] (a bank or port number);
// lo after a reported error.
static long small_constant(const expr_ptr &e, const std::string &text, long lo, long hi)
{
    long v;
    if (!expr_constant(e, &v)) {
        msg_report(1412, text.c_str());
        return lo;
    }
    if (v < lo || v > hi) {
        msg_report(1405, static_cast<unsigned long>(v), text.c_str());
        return lo;
    }
    return v;
}

bool insn_assemble(const std::string &m, const std::vector<std::string> &ops)
{
    if (!insn_known(m))
        return false;
    // An instruction word does not fit a unit of a byte psect (a code psect
    // declared without delta=2, or a data psect): cut to a byte it would
    // pass for code.
    if (as.current >= 0 && as.psects[as.current].delta == 1) {
        msg_report(1438, as.psects[as.current].name.c_str());
        return true;
    }
    if (strcasecmp(m.c_str(), "fcall") == 0 || strcasecmp(m.c_str(), "ljmp") == 0 ||
        strcasecmp(m.c_str(), "pagesel") == 0) {
        if (!count_ok(m, ops, 1, 1))
            return true;
        expr_ptr t = operand(ops, 0);
        if (!t)
            return true;
        emit_page_select(t);
        bool call = tolower(m[0]) == 'f';
        if (tolower(m[0]) == 'p')
            return true;
        const insn_row *r = insn_find(call ? "call" : "goto");
        unsigned op = opcode_of(*r);
        emit_target(op, t, call);
        if (call)
            emit_page_select(nullptr);
        return true;
    }
    if (strcasecmp(m.c_str(), "nop2") == 0) {
        if (count_ok(m, ops, 0, 0)) {
            auto next = std::make_shared<expr>();
            next->kind = EX_PLACE;
            next->op = as.current;
            next->value = as.statement_loc + 1;
            emit_field(opcode_of(*insn_find("goto")), next, ff().goto_bits, false);
        }
        return true;
    }
    const insn_row *r = insn_find(m);
    if (!r)
        return false;
    unsigned op = opcode_of(*r);
    if (op == NONE) {
        msg_report(1421, m.c_str());
        return true;
    }
    const family_fields &f = ff();
    expr_ptr e;
    long bit;
    insn_shape shape = r->shape;
    // The high-end clrf takes a second operand like a destination.
    if (as.family == FAM_HIGHEND && shape == SH_F && strcasecmp(r->name, "clrf") == 0)
        shape = SH_FD;
    switch (shape) {
    case SH_NONE:
        if (count_ok(m, ops, 0, 0))
            emit_unit(op);
        break;
    case SH_FD:
        if (count_ok(m, ops, 1, 2) && (e = operand(ops, 0)))
            emit_field(op | dest_of(ops, as.family == FAM_HIGHEND && r->shape == SH_F) << f.dest_shift, e,
                       f.file_bits, false);
        break;
    case SH_F:
        if (count_ok(m, ops, 1, 1) && (e = operand(ops, 0)))
            emit_field(op, e, f.file_bits, false);
        break;
    case SH_FB: {
        if (!count_ok(m, ops, 2, 2) || !(e = operand(ops, 0)))
            break;
        expr_ptr b = operand(ops, 1);
        if (!b)
            break;
        if (!expr_constant(b, &bit)) {
            // The bit of an object in a bit psect (such as "_flag&7") is
            // known at link time: one relocation fills both fields.
            long file = 0;
            unsigned file_mask = (1u << f.file_bits) - 1;
            bool file_known = expr_constant(e, &file);
            emit_unit(op | (file_known ? static_cast<unsigned>(file) & file_mask : 0));
            expr_ptr bits = bin('l', bin('&', b, num(7)), num(f.bit_shift));
            emit_reloc(0x32, 0, file_known ? bits : bin('+', bin('&', e, num(file_mask)), bits));
            break;
        }
        if (bit < 0 || bit > 7) {
            msg_report(1419, ops[1].c_str());
            bit = 0;
        }
        emit_field(op | static_cast<unsigned>(bit) << f.bit_shift, e, f.file_bits, false);
        break;
    }
    case SH_K8:
        if (count_ok(m, ops, 1, 1) && (e = operand(ops, 0)))
            emit_field(op, e, 8, true);
        break;
    case SH_CALL:
    case SH_GOTO:
        if (count_ok(m, ops, 1, 1) && (e = operand(ops, 0)))
            emit_target(op, e, shape == SH_CALL);
        break;
    case SH_PF:
    case SH_FP: {
        // movpf p,f and movfp f,p: the peripheral register goes to bits 8-12
        if (!count_ok(m, ops, 2, 2))
            break;
        size_t pi = r->shape == SH_PF ? 0 : 1;
        expr_ptr pe = operand(ops, pi), fe = operand(ops, 1 - pi);
        if (!pe || !fe)
            break;
        if (!expr_constant(pe, &bit) || bit < 0 || bit > 31) {
            msg_report(1403, ops[pi].c_str());
            bit = 0;
        }
        emit_field(op | static_cast<unsigned>(bit) << 8, fe, 8, false);
        break;
    }
    case SH_TABLE:
    case SH_TL: {
        size_t n = r->shape == SH_TABLE ? 3 : 2;
        if (!count_ok(m, ops, n, n))
            break;
        unsigned bits = 0;
        for (size_t i = 0; i + 1 < n; i++) {
            long v;
            expr_ptr x = operand(ops, i);
            if (!x || !expr_constant(x, &v) || (v != 0 && v != 1)) {
                msg_report(1403, ops[i].c_str());
                v = 0;
            }
            bits |= static_cast<unsigned>(v) << (9 - i);
        }
        if ((e = operand(ops, n - 1)))
            emit_field(op | bits, e, 8, false);
        break;
    }
    case SH_K4:
    case SH_K4HIGH:
        if (count_ok(m, ops, 1, 1) && (e = operand(ops, 0))) {
            bit = small_constant(e, ops[0], 0, 15);
            emit_unit(op | static_cast<unsigned>(bit) << (r->shape == SH_K4HIGH ? 4 : 0));
        }
        break;
    case SH_TRIS:
        if (count_ok(m, ops, 1, 1) && (e = operand(ops, 0)))
            emit_unit(op | static_cast<unsigned>(small_constant(e, ops[0], 5, 7)));
        break;
    }
    return true;
}
