// Names shared by the pattern generator and the matcher: the predicates, the
// registers and classes a pattern may name, the evaluation kinds and the flag
// words of a pattern record. The generator turns the names of the pattern
// description into the numbers of these lists; the matcher numbers its
// predicate evaluators by the same list, so both always agree.
#pragma once

#include <cstdint>

// Predicates, numbered from 1 in this order. ALWAYS (117) holds on every node.
#define PREDICATE_LIST(X) \
    X(ISBYTE) X(WORD) X(SHLONG) X(LONG) X(LISBYTE) X(NOSTACK) X(ISQBIT) X(BIG_OBJ) \
    X(CONST_BIG_OBJ) X(SMALL_CONST_DATA) X(WORD_OR_MORE) X(DELAY) X(NOLOOP) X(ONELOOP) \
    X(TWOLOOP) X(OTHERLOOP) X(EEPROM_BYTE) X(EEPROM_WORD) X(EEPROM_TRIWORD) X(EEPROM_DWORD) \
    X(SAMESAME) X(NISBANKPTR) X(RETCOPY) X(BYTE_VOLATILE) X(ISCODE) X(TRIWORD) X(DWORD) \
    X(ONEBITF) X(NOVERLAP_NONVOL) X(SAMEID) X(NOTFLOAT) X(BITOFF_0) X(BITOFF_1) X(BITOFF_2) \
    X(BITOFF_3) X(BITOFF_4) X(BITOFF_5) X(BITOFF_6) X(BITOFF_7) X(WORD_TO_BYTE) X(BANK01PTR) \
    X(BANK23PTR) X(CONSTPTR) X(NOTBYTE) X(ISLOGICAL) X(ISSIGNBYTE) X(SMALLCONST) X(SECONDBYTE) \
    X(THIRDBYTE) X(FOURTHBYTE) X(BYTE256) X(BYTE65536) X(BYTE16777216) X(ISFTN) \
    X(NOTBYTE_OR_STRUCT) X(ISDOUBLE) X(TRIFLOAT) X(EIGHT) X(NINE) X(SIXTEEN) X(SEVENTEEN) \
    X(EIGHTEEN) X(THIRTYTWO) X(TWENTYTHREE) X(TWENTYFOUR) X(NIBBLE) X(TWELVE) X(SEVEN) \
    X(LSIGNBYTE) X(LUNSBYTE) X(LWORD) X(LSHLONG) X(LLONG) X(LSIGNWORD) X(LUNSWORD) \
    X(LUNSSHLONG) X(LUNSLONG) X(LDWORD) X(LDOUBLE) X(LTRIFLOAT) X(ISBANKPTR) X(BMULOP) \
    X(LNOSTACK) X(NOT_VA_START) X(BYTESTRUCT) X(IS_CTRL) X(IS_OPTION) X(UNSLONG) X(SIGNLONG) \
    X(SIGNBYTE_TO_LONG) X(SIGNSHLONG_TO_LONG) X(SIGNWORD_TO_LONG) X(UNSWORD_TO_LONG) \
    X(UNSSHLONG_TO_LONG) X(TRI_TO_DOUBLE) X(UNSSHLONG) X(SIGNSHLONG) X(SIGNBYTE_TO_SHLONG) \
    X(SIGNWORD_TO_SHLONG) X(UNSWORD_TO_SHLONG) X(WORD_TO_TRI) X(NOTCODE) X(DOUBLE_TO_TRI) \
    X(LONG_TO_WORD) X(LONG_TO_BYTE) X(SHLONG_TO_WORD) X(SHLONG_TO_BYTE) X(BSF_SHIFT) \
    X(USE_SWAPF) X(NON_VOLATILE) X(ISONE) X(HEX80) X(DIRECT_PTR) X(DIRECT_ADDR) \
    X(DIRECT_SFR_ADDR) X(LISBYTE_NONVOL) X(ALWAYS) X(WORD_NONVOL) X(SHLONG_NONVOL) \
    X(LONG_NONVOL) X(SIGNCONV) X(SAME_UQREG) X(LONG_NOVERVOL) X(LONG_SAME_BANK) \
    X(SHLONG_SAME_BANK) X(ISUNSBYTE) X(SMALLNEG) X(WORD_NOVERLAP) X(UNSWORD) X(SIGNWORD) \
    X(MINUS_ONE) X(ONEBIT) X(ONEBITCOMP) X(HEXB3) X(HEXB4) X(HASWREG) X(HASMREG) X(HASBTEMP) \
    X(HASWTEMP) X(HASTTEMP) X(HASLTEMP) X(ISEEPROM) X(EXTERNID) X(BANKED_ADDRESS) X(STRUCT2) \
    X(STRUCT3) X(STRUCT4) X(STRUCT5) X(STRUCT6) X(ONE_OR_TWO) X(ONE_TO_THREE) X(ONE_TO_SEVEN) \
    X(FOUR) X(ISTWO) X(ISTHREE) X(ISFIVE) X(ISSIX) X(ISTEN) X(UNSCONV_NOT_PTR) X(UNSCONV) \
    X(PTR_TO_CONST) X(ISZERO) X(LISFLOAT) X(ROMREAD)

enum predicate_number {
    PRED_NONE = 0,
#define PRED_ENUM(name) PRED_##name,
    PREDICATE_LIST(PRED_ENUM)
#undef PRED_ENUM
    PRED_END
};
static_assert(PRED_END == 165 && PRED_ALWAYS == 117 && PRED_LISFLOAT == 163,
              "the predicates are numbered 1 to 164");
enum { PRED_NEGATED = 0x8000 };

// Selection modes, bit 0 first.
#define PATTERN_MODE_LIST(X) \
    X(GLOBOPT) X(AUTOSTATIC) X(IEEE_DBL) X(IEEE_FLT) X(FORCEBANK) X(PIC12) X(PIC14) X(PIC17) \
    X(PICMIDHI) X(PICLOMID) X(PIC42A)

// Registers and classes by the names the pattern description uses for them:
// name, number (register table of the register unit), single-register mask.
#define PATTERN_REGISTER_LIST(X) \
    X(wreg, 1, 0x1) X(fsr, 2, 0x2) X(fsr1, 3, 0x4) X(prodl, 4, 0x8) X(prodh, 5, 0x10) \
    X(tblptrl, 6, 0x20) X(tblptrh, 7, 0x40) X(zero, 8, 0x80) X(carry, 9, 0x100) \
    X(btemp0, 10, 0x200) X(btemp1, 11, 0x400) X(btemp2, 12, 0x800) X(btemp3, 13, 0x1000) \
    X(pc, 14, 0x2000) X(pclath, 15, 0x4000) X(status, 16, 0x180) X(wtemp0, 17, 0x600) \
    X(wtemp1, 18, 0x1800) X(ttemp0, 19, 0xE00) X(ltemp0, 20, 0x1E00) X(tblptr, 21, 0x60) \
    X(prod, 22, 0x18) X(wregfsr, 23, 0x3) X(wregfsr1, 24, 0x5) X(wregbtemp1, 25, 0x401) \
    X(cstack, 26, 0x8000) X(allreg, 27, 0xDF83) \
    X(byte_temps, 29, 0) X(word_temps, 30, 0) X(triple_temps, 31, 0) X(long_temps, 32, 0) \
    X(pointer_regs, 33, 0) \
    X(temp, 34, 0) X(temp1, 35, 0) X(temp2, 36, 0) X(temp3, 37, 0) X(temp4, 38, 0)

// Evaluation kinds (bits 0-2 of a record's flags).
#define PATTERN_KIND_LIST(X) \
    X(left_first, 1) X(right_first, 2) X(offered, 3) X(nocode, 4) X(inreg, 5) X(statement, 6)
enum pattern_kind {
#define KIND_ENUM(name, n) PK_##name = n,
    PATTERN_KIND_LIST(KIND_ENUM)
#undef KIND_ENUM
    PK_MASK = 7
};

// Flag bits above the kind.
#define PATTERN_FLAG_LIST(X) \
    X(share, 0x8) X(reach, 0x10) X(scratch_to_left, 0x20) X(scratch_to_right, 0x40) \
    X(busy_down, 0x80) X(result_text_regs, 0x100) X(offer_left, 0x200) X(offer_right, 0x400) \
    X(left_result, 0x800) X(right_result, 0x1000) X(scratch_result, 0x2000) X(own_reg, 0x4000) \
    X(marked, 0x8000)
enum pattern_flag {
#define FLAG_ENUM(name, bit) PF_##name = bit,
    PATTERN_FLAG_LIST(FLAG_ENUM)
#undef FLAG_ENUM
};

// Goals with a fixed role; pattern r itself is goal GOAL_PATTERN + r.
enum {
    GOAL_FIRST = 93, GOAL_STATEMENT = 93, GOAL_REWRITE = 290, GOAL_LAST = 293,
    GOAL_PATTERN = 294, PATTERN_HASH_ROWS = 7456,
};

// One pattern record: the seventeen fields in their fixed order.
struct pattern_record {
    uint32_t mode_mask;        // mode_word bits that must all be set
    uint32_t pred[3];          // predicates, PRED_NEGATED for "must be false"
    uint32_t left_wish;        // register or class wanted for the left operand
    uint32_t right_wish;
    uint32_t scratch;          // scratch class (template letter X)
    uint32_t scratch2;         // second scratch class (template letter Y)
    uint32_t clobber;          // register mask of what the code destroys
    uint32_t op;               // operator 0-91, or the nonterminal of a chain rule
    uint32_t left_goal;
    uint32_t right_goal;
    const char *templ;         // instruction template; rewrite: declarations
    const char *after;         // text after a rewrite's replacement
    uint32_t result_count;     // 0, 1 or 2
    const char *const *result; // one text, or a null-ended list by byte slice
    uint32_t flags;            // kind and PF_* bits
};

// A (goal, operator) row of the lookup hash.
struct pattern_hash_row {
    int16_t goal;
    int16_t op;
    int16_t list;              // 0 empty row, -r one candidate, else first list entry
};

// One complete set of tables (the generated one, or a hand-made one in tests).
struct pattern_tables {
    const pattern_record *records;   // record 0 is empty
    uint32_t record_count;
    const pattern_hash_row *hash;    // PATTERN_HASH_ROWS rows
    const int16_t *lists;            // candidate runs, last entry negated
    uint32_t list_count;
    const int *lines;                // description line of each record
    const char *const *goal_names;   // by goal - GOAL_FIRST
};
