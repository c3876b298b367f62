// The predicates of the pattern records: tests of a node's size, class,
// constant value, bit position, conversion, volatility and registers.
//
// Predicates come in families; each family is one function that reads a row
// of parameters (the size, class or value it tests) from the table below,
// indexed by predicate number. A predicate that asks about a fact this
// program does not know (a setting or a placement it has not made) is false,
// so a pattern that relies on it is never chosen on a guess.
#include "select.h"

#include <cstring>
#include <vector>

// What a predicate tests.
enum pred_family {
    PF_FALSE,       // a fact not known here: never holds
    PF_TRUE,        // always holds
    PF_SIZE,        // the node's size (and class, when cls is set)
    PF_LSIZE,       // the left operand's size (and class)
    PF_CONV,        // node of size a converted from a left operand of size b and class
    PF_VALUE,       // constant equal to a
    PF_VALUE_RANGE, // constant in [a, b]
    PF_BITS,        // constant bit pattern (kind in a)
    PF_BITOFF,      // bit-field offset a
    PF_QUAL,        // type qualifier / kind tests (kind in a)
    PF_REGS,        // the operand is held in a register group (mask in a)
    PF_DELAY,       // a call of __delay with a count below a (and at least b)
    PF_OVERLAP,     // operands without overlap (volatility in a)
    PF_IDENTITY,    // sameness tests (kind in a)
};

// Class requirements of the size families.
enum { C_ANY = 0, C_INT, C_SIGNED, C_UNSIGNED, C_FLOAT, C_BIT, C_NOTFLOAT, C_STRUCT, C_ANY_NONCONST };

// One predicate: family and parameters.
struct pred_row {
    uint8_t family;
    int8_t cls;
    long a;
    long b;
};

// Kinds of PF_BITS.
enum { B_MINUS_ONE, B_SECONDBYTE, B_THIRDBYTE, B_FOURTHBYTE, B_ONEBIT, B_ONEBITCOMP };
// Kinds of PF_QUAL.
enum { Q_VOLATILE_BYTE, Q_NONVOL, Q_LNONVOL_BYTE, Q_NONVOL_SIZE, Q_FTN, Q_NOT_VA_START, Q_EXTERN,
       Q_CODEPTR, Q_NOTCODE, Q_CONSTPTR, Q_BIG_OBJ, Q_CONST_BIG_OBJ, Q_ONEBITF, Q_QBIT, Q_ROMREAD,
       Q_CTRL, Q_OPTION };
// Kinds of PF_IDENTITY.
enum { I_SAMESAME, I_SAMEID };

// predicate              family          class       a           b
static const pred_row pred_table[] = {
    {PF_FALSE, 0, 0, 0},                                  // 0 none
    {PF_SIZE, C_INT, 1, 1},                               // 1 ISBYTE
    {PF_SIZE, C_ANY, 2, 2},                               // 2 WORD
    {PF_SIZE, C_INT, 3, 3},                               // 3 SHLONG
    {PF_SIZE, C_INT, 4, 4},                               // 4 LONG
    {PF_LSIZE, C_INT, 1, 1},                              // 5 LISBYTE
    {PF_FALSE, 0, 0, 0},                                  // 6 NOSTACK
    {PF_QUAL, 0, Q_QBIT, 0},                              // 7 ISQBIT
    {PF_QUAL, 0, Q_BIG_OBJ, 0},                           // 8 BIG_OBJ
    {PF_QUAL, 0, Q_CONST_BIG_OBJ, 0},                     // 9 CONST_BIG_OBJ
    {PF_FALSE, 0, 0, 0},                                  // 10 SMALL_CONST_DATA
    {PF_SIZE, C_ANY, 2, 0x7FFFFFFF},                      // 11 WORD_OR_MORE
    {PF_DELAY, 0, 0x7FFFFFFF, 0},                         // 12 DELAY
    {PF_DELAY, 0, 6, 0},                                  // 13 NOLOOP
    {PF_DELAY, 0, 1792, 0},                               // 14 ONELOOP
    {PF_DELAY, 0, 197376, 0},                             // 15 TWOLOOP
    {PF_DELAY, 0, 0x7FFFFFFF, 197377},                    // 16 OTHERLOOP
    {PF_FALSE, 0, 0, 0},                                  // 17 EEPROM_BYTE
    {PF_FALSE, 0, 0, 0},                                  // 18 EEPROM_WORD
    {PF_FALSE, 0, 0, 0},                                  // 19 EEPROM_TRIWORD
    {PF_FALSE, 0, 0, 0},                                  // 20 EEPROM_DWORD
    {PF_IDENTITY, 0, I_SAMESAME, 0},                      // 21 SAMESAME
    {PF_FALSE, 0, 0, 0},                                  // 22 NISBANKPTR
    {PF_FALSE, 0, 0, 0},                                  // 23 RETCOPY
    {PF_QUAL, 0, Q_VOLATILE_BYTE, 0},                     // 24 BYTE_VOLATILE
    {PF_QUAL, 0, Q_CODEPTR, 0},                           // 25 ISCODE
    {PF_SIZE, C_ANY, 3, 3},                               // 26 TRIWORD
    {PF_SIZE, C_ANY, 4, 4},                               // 27 DWORD
    {PF_QUAL, 0, Q_ONEBITF, 0},                           // 28 ONEBITF
    {PF_OVERLAP, 0, 1, 0},                                // 29 NOVERLAP_NONVOL
    {PF_IDENTITY, 0, I_SAMEID, 0},                        // 30 SAMEID
    {PF_SIZE, C_NOTFLOAT, 0, 0x7FFFFFFF},                 // 31 NOTFLOAT
    {PF_BITOFF, 0, 0, 0},                                 // 32 BITOFF_0
    {PF_BITOFF, 0, 1, 0},                                 // 33 BITOFF_1
    {PF_BITOFF, 0, 2, 0},                                 // 34 BITOFF_2
    {PF_BITOFF, 0, 3, 0},                                 // 35 BITOFF_3
    {PF_BITOFF, 0, 4, 0},                                 // 36 BITOFF_4
    {PF_BITOFF, 0, 5, 0},                                 // 37 BITOFF_5
    {PF_BITOFF, 0, 6, 0},                                 // 38 BITOFF_6
    {PF_BITOFF, 0, 7, 0},                                 // 39 BITOFF_7
    {PF_CONV, C_INT, 1, 2},                               // 40 WORD_TO_BYTE
    {PF_FALSE, 0, 0, 0},                                  // 41 BANK01PTR
    {PF_FALSE, 0, 0, 0},                                  // 42 BANK23PTR
    {PF_QUAL, 0, Q_CONSTPTR, 0},                          // 43 CONSTPTR
    {PF_SIZE, C_ANY, 0, 0x7FFFFFFF},                      // 44 NOTBYTE (size other than 1, below)
    {PF_SIZE, C_BIT, 0, 0x7FFFFFFF},                      // 45 ISLOGICAL
    {PF_SIZE, C_SIGNED, 1, 1},                            // 46 ISSIGNBYTE
    {PF_VALUE_RANGE, 0, 1, 255},                          // 47 SMALLCONST
    {PF_BITS, 0, B_SECONDBYTE, 0},                        // 48 SECONDBYTE
    {PF_BITS, 0, B_THIRDBYTE, 0},                         // 49 THIRDBYTE
    {PF_BITS, 0, B_FOURTHBYTE, 0},                        // 50 FOURTHBYTE
    {PF_VALUE, 0, 256, 0},                                // 51 BYTE256
    {PF_VALUE, 0, 65536, 0},                              // 52 BYTE65536
    {PF_VALUE, 0, 16777216, 0},                           // 53 BYTE16777216
    {PF_QUAL, 0, Q_FTN, 0},                               // 54 ISFTN
    {PF_SIZE, C_ANY, 2, 4},                               // 55 NOTBYTE_OR_STRUCT
    {PF_SIZE, C_FLOAT, 4, 4},                             // 56 ISDOUBLE
    {PF_SIZE, C_FLOAT, 3, 3},                             // 57 TRIFLOAT
    {PF_VALUE, 0, 8, 0},                                  // 58 EIGHT
    {PF_VALUE, 0, 9, 0},                                  // 59 NINE
    {PF_VALUE, 0, 16, 0},                                 // 60 SIXTEEN
    {PF_VALUE, 0, 17, 0},                                 // 61 SEVENTEEN
    {PF_VALUE, 0, 18, 0},                                 // 62 EIGHTEEN
    {PF_VALUE, 0, 32, 0},                                 // 63 THIRTYTWO
    {PF_VALUE, 0, 23, 0},                                 // 64 TWENTYTHREE
    {PF_VALUE, 0, 24, 0},                                 // 65 TWENTYFOUR
    {PF_VALUE_RANGE, 0, -0x7FFFFFFF, 15},                 // 66 NIBBLE
    {PF_VALUE, 0, 12, 0},                                 // 67 TWELVE
    {PF_VALUE, 0, 7, 0},                                  // 68 SEVEN
    {PF_LSIZE, C_SIGNED, 1, 1},                           // 69 LSIGNBYTE
    {PF_LSIZE, C_UNSIGNED, 1, 1},                         // 70 LUNSBYTE
    {PF_LSIZE, C_ANY, 2, 2},                              // 71 LWORD
    {PF_LSIZE, C_INT, 3, 3},                              // 72 LSHLONG
    {PF_LSIZE, C_INT, 4, 4},                              // 73 LLONG
    {PF_LSIZE, C_SIGNED, 2, 2},                           // 74 LSIGNWORD
    {PF_LSIZE, C_UNSIGNED, 2, 2},                         // 75 LUNSWORD
    {PF_LSIZE, C_UNSIGNED, 3, 3},                         // 76 LUNSSHLONG
    {PF_LSIZE, C_UNSIGNED, 4, 4},                         // 77 LUNSLONG
    {PF_LSIZE, C_ANY, 4, 4},                              // 78 LDWORD
    {PF_LSIZE, C_FLOAT, 4, 4},                            // 79 LDOUBLE
    {PF_LSIZE, C_FLOAT, 3, 3},                            // 80 LTRIFLOAT
    {PF_FALSE, 0, 0, 0},                                  // 81 ISBANKPTR
    {PF_FALSE, 0, 0, 0},                                  // 82 BMULOP
    {PF_FALSE, 0, 0, 0},                                  // 83 LNOSTACK
    {PF_QUAL, 0, Q_NOT_VA_START, 0},                      // 84 NOT_VA_START
    {PF_SIZE, C_STRUCT, 1, 1},                            // 85 BYTESTRUCT
    {PF_QUAL, 0, Q_CTRL, 0},                              // 86 IS_CTRL
    {PF_QUAL, 0, Q_OPTION, 0},                            // 87 IS_OPTION
    {PF_SIZE, C_UNSIGNED, 4, 4},                          // 88 UNSLONG
    {PF_SIZE, C_SIGNED, 4, 4},                            // 89 SIGNLONG
    {PF_CONV, C_SIGNED, 4, 1},                            // 90 SIGNBYTE_TO_LONG
    {PF_CONV, C_SIGNED, 4, 3},                            // 91 SIGNSHLONG_TO_LONG
    {PF_CONV, C_SIGNED, 4, 2},                            // 92 SIGNWORD_TO_LONG
    {PF_CONV, C_UNSIGNED, 4, 2},                          // 93 UNSWORD_TO_LONG
    {PF_CONV, C_UNSIGNED, 4, 3},                          // 94 UNSSHLONG_TO_LONG
    {PF_CONV, C_FLOAT, 4, 3},                             // 95 TRI_TO_DOUBLE
    {PF_SIZE, C_UNSIGNED, 3, 3},                          // 96 UNSSHLONG
    {PF_SIZE, C_SIGNED, 3, 3},                            // 97 SIGNSHLONG
    {PF_CONV, C_SIGNED, 3, 1},                            // 98 SIGNBYTE_TO_SHLONG
    {PF_CONV, C_SIGNED, 3, 2},                            // 99 SIGNWORD_TO_SHLONG
    {PF_CONV, C_UNSIGNED, 3, 2},                          // 100 UNSWORD_TO_SHLONG
    {PF_CONV, C_ANY, 3, 2},                               // 101 WORD_TO_TRI
    {PF_QUAL, 0, Q_NOTCODE, 0},                           // 102 NOTCODE
    {PF_CONV, C_FLOAT, 3, 4},                             // 103 DOUBLE_TO_TRI
    {PF_CONV, C_INT, 2, 4},                               // 104 LONG_TO_WORD
    {PF_CONV, C_INT, 1, 4},                               // 105 LONG_TO_BYTE
    {PF_CONV, C_INT, 2, 3},                               // 106 SHLONG_TO_WORD
    {PF_CONV, C_INT, 1, 3},                               // 107 SHLONG_TO_BYTE
    {PF_FALSE, 0, 0, 0},                                  // 108 BSF_SHIFT
    {PF_FALSE, 0, 0, 0},                                  // 109 USE_SWAPF
    {PF_QUAL, 0, Q_NONVOL, 0},                            // 110 NON_VOLATILE
    {PF_VALUE, 0, 1, 0},                                  // 111 ISONE
    {PF_VALUE, 0, 128, 0},                                // 112 HEX80
    {PF_FALSE, 0, 0, 0},                                  // 113 DIRECT_PTR
    {PF_FALSE, 0, 0, 0},                                  // 114 DIRECT_ADDR
    {PF_FALSE, 0, 0, 0},                                  // 115 DIRECT_SFR_ADDR
    {PF_QUAL, 0, Q_LNONVOL_BYTE, 0},                      // 116 LISBYTE_NONVOL
    {PF_TRUE, 0, 0, 0},                                   // 117 ALWAYS
    {PF_QUAL, 0, Q_NONVOL_SIZE, 2},                       // 118 WORD_NONVOL
    {PF_QUAL, 0, Q_NONVOL_SIZE, 3},                       // 119 SHLONG_NONVOL
    {PF_QUAL, 0, Q_NONVOL_SIZE, 4},                       // 120 LONG_NONVOL
    {PF_CONV, C_SIGNED, 0, 0},                            // 121 SIGNCONV
    {PF_FALSE, 0, 0, 0},                                  // 122 SAME_UQREG
    {PF_OVERLAP, 0, 1, 4},                                // 123 LONG_NOVERVOL
    {PF_FALSE, 0, 0, 0},                                  // 124 LONG_SAME_BANK
    {PF_FALSE, 0, 0, 0},                                  // 125 SHLONG_SAME_BANK
    {PF_SIZE, C_UNSIGNED, 1, 1},                          // 126 ISUNSBYTE
    {PF_VALUE_RANGE, 0, -256, -1},                        // 127 SMALLNEG
    {PF_OVERLAP, 0, 0, 2},                                // 128 WORD_NOVERLAP
    {PF_SIZE, C_UNSIGNED, 2, 2},                          // 129 UNSWORD
    {PF_SIZE, C_SIGNED, 2, 2},                            // 130 SIGNWORD
    {PF_BITS, 0, B_MINUS_ONE, 0},                         // 131 MINUS_ONE
    {PF_BITS, 0, B_ONEBIT, 0},                            // 132 ONEBIT
    {PF_BITS, 0, B_ONEBITCOMP, 0},                        // 133 ONEBITCOMP
    {PF_BITS, 0, B_THIRDBYTE, 0},                         // 134 HEXB3
    {PF_BITS, 0, B_FOURTHBYTE, 0},                        // 135 HEXB4
    {PF_REGS, 0, 0x1, 0},                                 // 136 HASWREG
    {PF_REGS, 0, 0x6, 0},                                 // 137 HASMREG
    {PF_REGS, 0, 0x1E00, 0},                              // 138 HASBTEMP
    {PF_REGS, 0, 0x1E00, 2},                              // 139 HASWTEMP
    {PF_REGS, 0, 0xE00, 3},                               // 140 HASTTEMP
    {PF_REGS, 0, 0x1E00, 4},                              // 141 HASLTEMP
    {PF_FALSE, 0, 0, 0},                                  // 142 ISEEPROM
    {PF_QUAL, 0, Q_EXTERN, 0},                            // 143 EXTERNID
    {PF_FALSE, 0, 0, 0},                                  // 144 BANKED_ADDRESS
    {PF_SIZE, C_STRUCT, 2, 2},                            // 145 STRUCT2
    {PF_SIZE, C_STRUCT, 3, 3},                            // 146 STRUCT3
    {PF_SIZE, C_STRUCT, 4, 4},                            // 147 STRUCT4
    {PF_SIZE, C_STRUCT, 5, 5},                            // 148 STRUCT5
    {PF_SIZE, C_STRUCT, 6, 6},                            // 149 STRUCT6
    {PF_VALUE_RANGE, 0, 1, 2},                            // 150 ONE_OR_TWO
    {PF_VALUE_RANGE, 0, 1, 3},                            // 151 ONE_TO_THREE
    {PF_VALUE_RANGE, 0, 1, 7},                            // 152 ONE_TO_SEVEN
    {PF_VALUE, 0, 4, 0},                                  // 153 FOUR
    {PF_VALUE, 0, 2, 0},                                  // 154 ISTWO
    {PF_VALUE, 0, 3, 0},                                  // 155 ISTHREE
    {PF_VALUE, 0, 5, 0},                                  // 156 ISFIVE
    {PF_VALUE, 0, 6, 0},                                  // 157 ISSIX
    {PF_VALUE, 0, 10, 0},                                 // 158 ISTEN
    {PF_CONV, C_UNSIGNED, 0, 0},                          // 159 UNSCONV_NOT_PTR
    {PF_CONV, C_UNSIGNED, 0, 0},                          // 160 UNSCONV
    {PF_QUAL, 0, Q_CONSTPTR, 0},                          // 161 PTR_TO_CONST
    {PF_VALUE, 0, 0, 0},                                  // 162 ISZERO
    {PF_LSIZE, C_FLOAT, 0, 0x7FFFFFFF},                   // 163 LISFLOAT
    {PF_QUAL, 0, Q_ROMREAD, 0},                           // 164 ROMREAD
};

static_assert(sizeof pred_table / sizeof pred_table[0] == PRED_END, "one row per predicate");

static int class_of(tree_node *n)
{
    type_desc *t = n ? type_unqualify(n->type) : nullptr;
    if (!t)
        return AR_VOID;
    // a structure of up to four bytes moves like an unsigned integer of its
    // size (in W, in the wide patterns), never takes part in arithmetic
    if (t->kind == TY_STRUCT && type_size(t) >= 1 && type_size(t) <= 4)
        return AR_UNSIGNED;
    if (t->kind == TY_STRUCT || t->kind == TY_ARRAY || t->kind == TY_FUNCTION)
        return AR_VOID;
    return type_arith_class(t);
}

static bool is_struct(tree_node *n)
{
    type_desc *t = n ? type_unqualify(n->type) : nullptr;
    return t && t->kind == TY_STRUCT;
}

static bool class_fits(tree_node *n, int cls)
{
    int c = class_of(n);
    switch (cls) {
    case C_INT: return c == AR_SIGNED || c == AR_UNSIGNED;
    case C_SIGNED: return c == AR_SIGNED;
    case C_UNSIGNED: return c == AR_UNSIGNED;
    case C_FLOAT: return c == AR_FLOAT;
    case C_BIT: return c == AR_BIT;
    case C_NOTFLOAT: return c != AR_FLOAT;
    case C_STRUCT: return is_struct(n);
    default: return true;
    }
}

static bool size_fits(tree_node *n, const pred_row &p, uint32_t number)
{
    if (!n)
        return false;
    uint32_t size = node_size(n);
    if (number == PRED_NOTBYTE)
        return size != 1;
    return size >= (uint32_t)p.a && size <= (uint32_t)p.b && class_fits(n, p.cls);
}

static bool conversion_fits(tree_node *n, const pred_row &p)
{
    if (n->op != OP_CONV || !n->left)
        return false;
    if (p.a == 0)   // SIGNCONV, UNSCONV: a widening from the class named
        return node_size(n->left) < node_size(n) && class_fits(n->left, p.cls);
    return node_size(n) == (uint32_t)p.a && node_size(n->left) == (uint32_t)p.b &&
           class_fits(n->left, p.cls);
}

static bool const_value(tree_node *n, long *v)
{
    if (n->op != OP_CONST)
        return false;
    *v = n->value;
    return true;
}

static bool bits_fit(tree_node *n, long kind)
{
    long v;
    if (!const_value(n, &v))
        return false;
    uint32_t m = node_mask(n), u = (uint32_t)v & m;
    switch (kind) {
    case B_MINUS_ONE: return u == m;
    case B_SECONDBYTE: return u && !(u & ~0xFF00u);
    case B_THIRDBYTE: return u && !(u & ~0xFF0000u);
    case B_FOURTHBYTE: return !(u & 0xFFFFFFu);
    case B_ONEBIT: return u && !(u & (u - 1));
    case B_ONEBITCOMP: { uint32_t c = ~u & m; return c && !(c & (c - 1)); }
    default: return false;
    }
}

static bool is_volatile(tree_node *n)
{
    return n && n->type && (type_qualifiers(n->type) & Q_VOLATILE);
}

static bool qual_fits(tree_node *n, long kind, long b)
{
    type_desc *t = type_unqualify(n->type);
    uint32_t q = n->type ? type_qualifiers(n->type) : 0;
    switch (kind) {
    case Q_VOLATILE_BYTE: return node_size(n) == 1 && is_volatile(n);
    case Q_NONVOL: return !tree_has_volatile(n);
    case Q_LNONVOL_BYTE: return n->left && node_size(n->left) == 1 && !tree_has_volatile(n->left);
    case Q_NONVOL_SIZE: return node_size(n) == (uint32_t)b && !tree_has_volatile(n);
    case Q_FTN: return t && t->kind == TY_FUNCTION;
    case Q_NOT_VA_START: return n->op == OP_ID && n->sym && strcmp(n->sym->name, "___va_start") != 0;
    case Q_EXTERN: return n->op == OP_ID && n->sym && n->sym->storage == ST_EXTERN;
    case Q_CODEPTR: return n->ptrs && (n->ptrs->flags & PS_ROM);
    case Q_NOTCODE: return !(n->ptrs && (n->ptrs->flags & PS_ROM));
    case Q_CONSTPTR: return t && t->kind == TY_POINTER && t->sub && (type_qualifiers(t->sub) & Q_CONST);
    case Q_BIG_OBJ: return node_size(n) > 4 && !(q & Q_CONST);
    case Q_CONST_BIG_OBJ: return node_size(n) > 4 && (q & Q_CONST);
    case Q_ONEBITF: return n->op == OP_BITFIELD && n->bitfield && n->bitfield->bit_width == 1;
    case Q_QBIT: return class_of(n) == AR_BIT;
    case Q_ROMREAD: return n->op == OP_DEREF && n->left && indirect_reads_rom(n->left);
    // a control register of the 12-bit cores: written by the option
    // instruction (the one at address 0) or by tris with its port's address
    // (of a store: its target)
    case Q_CTRL:
        if (n->op == OP_ASSIGN && n->left)
            return qual_fits(n->left, Q_CTRL, 0);
        return n->op == OP_ID && n->sym && (q & Q_CONTROL) && (n->sym->flags & SF_ABSOLUTE);
    case Q_OPTION:
        if (n->op == OP_ASSIGN && n->left)
            return qual_fits(n->left, Q_OPTION, 0);
        return qual_fits(n, Q_CTRL, 0) && n->sym->address == 0;
    default: return false;
    }
}

// The register of a REG node or register variable, when in the mask's group
// (and, for the temporaries, of the size named).
static bool regs_fit(tree_node *n, const pred_row &p)
{
    uint32_t r = n->op == OP_REG ? (uint32_t)n->value
                 : n->op == OP_ID && n->sym && n->sym->storage == ST_REGISTER ? n->sym->reg : 0;
    if (!r || r >= REG_TEMP_BASE)
        return false;
    if (p.b && node_size(n) != (uint32_t)p.b)
        return false;
    return regset_has(regset_from_mask((uint32_t)p.a), r) ||
           objset_includes(regset_from_mask((uint32_t)p.a), regset_of(r));
}

static bool delay_fits(tree_node *n, const pred_row &p)
{
    if (n->op != OP_CALL || !n->call_target || strcmp(n->call_target->name, "__delay") != 0)
        return false;
    tree_node *args = n->right;
    if (!args || !args->args || vec_count(args->args) != 1)
        return p.a == 0x7FFFFFFF && p.b == 0;
    tree_node *c = (tree_node *)vec_get(args->args, 0);
    return c->op == OP_CONST && c->value < p.a && c->value >= p.b;
}

// The ID symbols of a subtree (at most 49; more count as an overlap).
static bool collect_ids(tree_node *n, std::vector<cg_symbol *> &out)
{
    if (!n)
        return true;
    if (n->op == OP_ID) {
        out.push_back(n->sym);
        return out.size() <= 49;
    }
    int arity = op_arity((int)n->op);
    if ((arity == OA_UNARY || arity == OA_BINARY) && !collect_ids(n->left, out))
        return false;
    return arity != OA_BINARY || collect_ids(n->right, out);
}

static bool operands_overlap(tree_node *n)
{
    if (n->flags & 0x200)
        return true;
    if ((n->flags & 0x400) || op_arity((int)n->op) != OA_BINARY)
        return false;
    std::vector<cg_symbol *> l, r;
    if (!collect_ids(n->left, l) || !collect_ids(n->right, r))
        return true;
    for (cg_symbol *a : l)
        for (cg_symbol *b : r)
            if (a == b)
                return true;
    return false;
}

static bool identity_fits(tree_node *n, long kind)
{
    tree_node *l = n->left;
    if (!l || op_arity((int)n->op) == OA_NOT_EXPR || op_arity((int)n->op) == 0)
        return false;
    if (kind == I_SAMESAME)
        return node_size(n) == node_size(l) && class_of(n) == class_of(l);
    tree_node *r = n->right;
    return l->op == OP_ID && r && op_arity((int)r->op) >= OA_UNARY && r->left && r->left->op == OP_ID &&
           l->sym == r->left->sym;
}

bool predicate_eval(uint32_t number, tree_node *n)
{
    if (number == 0 || number >= PRED_END || !n)
        return false;
    const pred_row &p = pred_table[number];
    long v;
    switch (p.family) {
    case PF_TRUE: return true;
    case PF_SIZE: return size_fits(n, p, number);
    case PF_LSIZE: return op_arity((int)n->op) >= OA_UNARY && op_arity((int)n->op) != OA_NOT_EXPR &&
                          size_fits(n->left, p, number);
    case PF_CONV: return conversion_fits(n, p);
    case PF_VALUE: return const_value(n, &v) && v == p.a;
    case PF_VALUE_RANGE: return const_value(n, &v) && v >= p.a && v <= p.b;
    case PF_BITS: return bits_fit(n, p.a);
    case PF_BITOFF: return n->op == OP_BITFIELD && n->bitfield && n->bitfield->bit_offset == p.a;
    case PF_QUAL: return qual_fits(n, p.a, p.b);
    case PF_REGS: return regs_fit(n, p);
    case PF_DELAY: return delay_fits(n, p);
    case PF_OVERLAP: return (!p.b || node_size(n) == (uint32_t)p.b) && !(p.a && tree_has_volatile(n)) &&
                            !operands_overlap(n);
    case PF_IDENTITY: return identity_fits(n, p.a);
    default: return false;
    }
}
