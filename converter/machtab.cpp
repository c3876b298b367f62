// The machine descriptions, one per target architecture, in selection order:
// registers (entry 0 stands for no register), the mode words of the SDB
// "[p" line, the processor-name matcher, the basic C types with their sizes,
// the qualifier letters of SDB type strings, and the line step and span a
// writer uses for a function without line records. The engine that selects
// and uses them is machine.cpp.
#include "egret.h"

#include <cstring>

// size word: low byte the bytes, high byte the number of component registers
#define REG1(n) {n, 1, {0, 0, 0, 0}}
#define REGN(n, bytes, count, a, b, c, d) {n, (uint16_t)((count) << 8 | (bytes)), {a, b, c, d}}

// ---------------------------------------------------------------------------
// registers
// ---------------------------------------------------------------------------

static const machine_register pic_registers[] = {
    REG1(""), REG1("w"), REG1("wreg"), REG1("fsr"), REG1("fsr1"), REG1("tblptrl"), REG1("tblptrh"),
    REG1("prodl"), REG1("prodh"),
    REGN("tablreg", 2, 2, 5, 6, 0, 0),
    REGN("prod", 2, 2, 7, 8, 0, 0),
};

static const machine_register pic18_registers[] = {
    REG1(""), REG1("w"), REG1("wreg"), REG1("fsr0l"), REG1("fsr0h"), REG1("fsr1l"), REG1("fsr1h"),
    REG1("fsr2l"), REG1("fsr2h"), REG1("tblptrl"), REG1("tblptrh"), REG1("tblptru"), REG1("prodl"),
    REG1("prodh"),
    REGN("fsr0", 2, 2, 3, 4, 0, 0),
    REGN("fsr1", 2, 2, 5, 6, 0, 0),
    REGN("fsr2", 2, 2, 7, 8, 0, 0),
    REGN("tblptr", 3, 3, 9, 10, 11, 0),
    REGN("prod", 2, 2, 12, 13, 0, 0),
};

#define W16(n) {n, 2, {0, 0, 0, 0}}
static const machine_register dspic_registers[] = {
    REG1(""), W16("w0"), W16("w1"), W16("w2"), W16("w3"), W16("w4"), W16("w5"), W16("w6"), W16("w7"),
    W16("w8"), W16("w9"), W16("w10"), W16("w11"), W16("w12"), W16("w13"), W16("w14"), W16("w15"),
    REGN("w01", 4, 2, 1, 2, 0, 0),
    REGN("w23", 4, 2, 3, 4, 0, 0),
    REGN("w45", 4, 2, 5, 6, 0, 0),
    REGN("w67", 4, 2, 7, 8, 0, 0),
    REGN("w89", 4, 2, 9, 10, 0, 0),
    REGN("w1011", 4, 2, 11, 12, 0, 0),
    REGN("w1213", 4, 2, 13, 14, 0, 0),
    REGN("w37", 4, 0, 0, 0, 0, 0),
    REGN("w40", 4, 0, 0, 0, 0, 0),
    REGN("w57", 4, 0, 0, 0, 0, 0),
    REGN("a", 5, 0, 0, 0, 0, 0),
    REGN("b", 5, 0, 0, 0, 0, 0),
    REGN("PARAMREG", 8, 4, 1, 3, 5, 7),
    REGN("LPARAMREG", 16, 4, 17, 18, 19, 20),
};

#define R32(n) {n, 4, {0, 0, 0, 0}}
static const machine_register pic32_registers[] = {
    REG1(""), R32("zero"), R32("at"), R32("v0"), R32("v1"), R32("a0"), R32("a1"), R32("a2"), R32("a3"),
    R32("t0"), R32("t1"), R32("t2"), R32("t3"), R32("t4"), R32("t5"), R32("t6"), R32("t7"),
    R32("s0"), R32("s1"), R32("s2"), R32("s3"), R32("s4"), R32("s5"), R32("s6"), R32("s7"),
    R32("t8"), R32("t9"), R32("k0"), R32("k1"), R32("gp"), R32("sp"), R32("s8"), R32("ra"),
};

static const machine_register i8051_registers[] = {
    REG1(""), REG1("r0"), REG1("r1"), REG1("r2"), REG1("r3"), REG1("r4"), REG1("r5"), REG1("r6"), REG1("r7"),
    REGN("WR0", 2, 2, 1, 2, 0, 0),
    REGN("WR1", 2, 2, 3, 4, 0, 0),
    REGN("WR2", 2, 2, 5, 6, 0, 0),
    REGN("WR3", 2, 2, 7, 8, 0, 0),
    REGN("LR0", 4, 2, 9, 10, 0, 0),
    REGN("LR1", 4, 2, 11, 12, 0, 0),
};

static const machine_register arm_registers[] = {
    REG1(""), R32("r0"), R32("r1"), R32("r2"), R32("r3"), R32("r4"), R32("r5"), R32("r6"), R32("r7"),
    R32("r8"), R32("r9"), R32("r10"), R32("r11"), R32("r12"), R32("r13"), R32("r14"), R32("r15"),
    REGN("r0_1", 8, 2, 1, 2, 0, 0),
    REGN("r1_2", 8, 2, 2, 3, 0, 0),
    REGN("r2_3", 8, 2, 3, 4, 0, 0),
    REGN("r3_4", 8, 2, 4, 5, 0, 0),
    REGN("r4_5", 8, 2, 5, 6, 0, 0),
    REGN("r5_6", 8, 2, 6, 7, 0, 0),
    REGN("r6_7", 8, 2, 7, 8, 0, 0),
    REGN("r8_9", 8, 2, 9, 10, 0, 0),
    REGN("r9_10", 8, 2, 10, 11, 0, 0),
    REGN("r10_11", 8, 2, 11, 12, 0, 0),
    REGN("PARAMREG", 16, 4, 1, 2, 3, 4),
    REGN("DATAREG", 16, 4, 9, 10, 11, 12),
};

static const machine_register holtek_registers[] = {
    REG1(""), REG1("a"), REG1("iar0"),
};

// ---------------------------------------------------------------------------
// mode words of the "[p" line
// ---------------------------------------------------------------------------

static const char *const pic_modes[] = {
    "AVOCET", "NOTREGPAR", "HARDFLOAT", "GLOBOPT", "AUTOSTATIC", "PIC12", "PIC14", "PIC17", "IEEE_DBL",
    "IEEE_FLT", "PICMIDHI", "PICLOMID", "PIC42A", "PAGED", "NONPAGED", "CANREADCODE", "SPACEOPT",
    "SPEEDOPT", "PRO_MODE", nullptr,
};
static const char *const pic18_modes[] = {
    "AVOCET", "NOTREGPAR", "HARDFLOAT", "GLOBOPT", "AUTOSTATIC", "FAST_DBL", "IEEE_DBL", "SMALL_MODEL",
    "LARGE_MODEL", "SMALL_DATA", "LARGE_DATA", "LFSROK", "EMI_BYTE", "EMI_WORD", "SPEEDOPT", "SPACEOPT",
    "PRO_MODE", nullptr,
};
static const char *const dspic_modes[] = {"SPEEDOPT", "SPACEOPT", "GLOBOPT", "PIC30", nullptr};
static const char *const pic32_modes[] = {"GLOBOPT", "AUTOSTATIC", "IEEE_DBL", nullptr};
static const char *const i8051_modes[] = {"NOTREGPAR", "HARDFLOAT", "SPEEDOPT", "SPACEOPT", "GLOBOPT",
                                          "HUGE_CODE", nullptr};
static const char *const arm_modes[] = {"SPEEDOPT", "SPACEOPT", "GLOBOPT", "ARMV4", "ARMV4T", "ARMV5",
                                        "ARMV5T", "THUMBV4", "THUMBV5", "MATH", "EVAR", "EXP", nullptr};
static const char *const holtek_modes[] = {"HOLTEK", "GLOBOPT", "AUTOSTATIC", "IEEE_DBL", "FORCEBANK", nullptr};

// ---------------------------------------------------------------------------
// basic types: one row per code, one size column per description (-1: the
// description has no such type)
// ---------------------------------------------------------------------------

struct basic_row {
    const char *code;
    int type_class;
    int sizes[7];   // PIC, PIC18, dsPIC, PIC32, 8051, ARM, Holtek
};

static const basic_row basic_rows[] = {
    {"i",   1, {2, 2, 2, 4, 2, 4, 2}},
    {"s",   1, {2, 2, 2, 2, 2, 2, 2}},
    {"c",   1, {1, 1, 1, 1, 1, 1, 1}},
    {"m",   1, {3, 3, -1, -1, -1, -1, -1}},
    {"l",   1, {4, 4, 4, 4, 4, 4, 4}},
    {"ui",  2, {2, 2, 2, 4, 2, 4, 2}},
    {"us",  2, {2, 2, 2, 2, 2, 2, 2}},
    {"uc",  2, {1, 1, 1, 1, 1, 1, 1}},
    {"um",  2, {3, 3, -1, -1, -1, -1, -1}},
    {"ul",  2, {4, 4, 4, 4, 4, 4, 4}},
    {"f",   3, {3, 3, 4, 4, 4, 4, 3}},
    {"d",   3, {4, 4, 4, 4, 4, 4, 4}},
    {"x",   1, {2, 2, 2, 2, 2, 4, 2}},
    {"ux",  2, {2, 2, 2, 4, 2, 4, 2}},
    {"nx",  1, {-1, -1, 1, -1, -1, 1, -1}},
    {"unx", 2, {-1, -1, 1, -1, -1, 1, -1}},
    {"b",   4, {0, 0, 0, 0, 0, 10, 0}},
    {"v",   0, {0, 0, 4, 0, 0, 0, 0}},
};

// Each description's list, built from its column at first use.
static machine_basic basic_lists[7][std::size(basic_rows) + 1];

static const machine_basic *basics_of(int column)
{
    machine_basic *list = basic_lists[column];
    if (!list[0].code) {
        unsigned n = 0;
        for (const basic_row &r : basic_rows)
            if (r.sizes[column] >= 0)
                list[n++] = {r.code, (uint32_t)r.sizes[column], r.type_class};
    }
    return list;
}

// ---------------------------------------------------------------------------
// qualifiers: name, letter, flag
// ---------------------------------------------------------------------------

static const machine_qualifier pic_qualifiers[] = {
    {"const", 'D', 0x40000}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"control", 'W', 0x80}, {"bank0", 'P', 0x100},
    {"bank1", 'X', 0x200}, {"bank2", 'Y', 0x400}, {"bank3", 'Z', 0x800}, {"fastcall", 'T', 0x1000},
    {"const", 'C', 0x40000}, {nullptr, 0, 0},
};
static const machine_qualifier pic18_qualifiers[] = {
    {"const", 'D', 0x40000}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"control", 'W', 0x80}, {"fastcall", 'T', 0x800},
    {"low_priority", 'L', 0x10000}, {"bdata", 'B', 0x20000}, {"const", 'C', 0x40000}, {nullptr, 0, 0},
};
static const machine_qualifier dspic_qualifiers[] = {
    {"const", 'C', 0x200}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"ydata", 'Y', 0x80}, {"fastcall", 'T', 0x100},
    {"const", 'D', 0x200}, {nullptr, 0, 0},
};
static const machine_qualifier pic32_qualifiers[] = {
    {"const", 'C', 0x1}, {"volatile", 'V', 0x2}, {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20},
    {"fast", 'T', 0x80}, {"sfr", 'X', 0x100}, {"cp0", 'W', 0x200}, {nullptr, 0, 0},
};
static const machine_qualifier i8051_qualifiers[] = {
    {"const", 'C', 0x1}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"reentrant", 'R', 0x40}, {"idata", 'A', 0x80},
    {"pdata", 'P', 0x100}, {"bank2", 'Y', 0x200}, {"bank3", 'Z', 0x400}, {"code", 'D', 0x800},
    {"xdata", 'X', 0x1000}, {"basenear", 'B', 0x2000}, {nullptr, 0, 0},
};
static const machine_qualifier arm_qualifiers[] = {
    {"const", 'C', 0x1}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"code", 'D', 0x80}, {"fast", 'Q', 0x100},
    {"thumb", 'T', 0x200}, {"arm", 'A', 0x400}, {nullptr, 0, 0},
};
static const machine_qualifier holtek_qualifiers[] = {
    {"const", 'D', 0x40000}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"control", 'W', 0x80}, {"bank0", 'P', 0x100},
    {"bank1", 'X', 0x200}, {"bank2", 'Y', 0x400}, {"bank3", 'Z', 0x800}, {"fastcall", 'T', 0x1000},
    {"eeprom", 'E', 0x20000}, {"const", 'C', 0x40000}, {nullptr, 0, 0},
};

// ---------------------------------------------------------------------------
// processor matchers
// ---------------------------------------------------------------------------

static bool contains_any_nocase(const char *name, std::initializer_list<const char *> words)
{
    for (const char *w : words)
        if (find_text_nocase(name, w))
            return true;
    return false;
}

static bool contains_any(const char *name, std::initializer_list<const char *> words)
{
    for (const char *w : words)
        if (strstr(name, w))
            return true;
    return false;
}

static bool match_pic(const char *p, const std::vector<std::string> &)
{
    return contains_any_nocase(p, {"10F", "MCV", "12C", "12F", "12HV", "16C", "16F", "16L", "16HV", "17C",
                                   "PIC", "RF509"}) ||
           strstr(p, "7C695") || strcmp(p, "14000") == 0;
}

static bool match_pic18(const char *p, const std::vector<std::string> &)
{
    return contains_any_nocase(p, {"18C", "18F"});
}

static bool match_dspic(const char *p, const std::vector<std::string> &)
{
    return contains_any(p, {"PIC30", "30F", "PIC24", "24FJ", "24HJ", "33F", "24GS"});
}

static bool match_pic32(const char *p, const std::vector<std::string> &) { return strncmp(p, "32MX", 4) == 0; }

static bool match_8051(const char *p, const std::vector<std::string> &tokens)
{
    return (!tokens.empty() && tokens[0] == "8051") || strstr(p, "8051");
}

static bool match_arm(const char *p, const std::vector<std::string> &)
{
    return contains_any(p, {"ARM", "AT91R", "AT91M"});
}

static bool match_holtek(const char *p, const std::vector<std::string> &) { return strncasecmp(p, "HT", 2) == 0; }

// ---------------------------------------------------------------------------
// the descriptions
// ---------------------------------------------------------------------------

#define REGS(t) t, (uint32_t)std::size(t)

static const machine_desc pic_desc = {"PIC", SHAPE_PIC, REGS(pic_registers), pic_modes, match_pic,
                                      basics_of(0), pic_qualifiers, 1, 1};
static const machine_desc pic18_desc = {"PIC18", SHAPE_PIC18, REGS(pic18_registers), pic18_modes, match_pic18,
                                        basics_of(1), pic18_qualifiers, 2, 2};
static const machine_desc dspic_desc = {"dsPIC", SHAPE_DSPIC, REGS(dspic_registers), dspic_modes, match_dspic,
                                        basics_of(2), dspic_qualifiers, 2, 2};
static const machine_desc pic32_desc = {"PIC32", SHAPE_PIC32, REGS(pic32_registers), pic32_modes, match_pic32,
                                        basics_of(3), pic32_qualifiers, 2, 4};
static const machine_desc i8051_desc = {"8051", SHAPE_8051, REGS(i8051_registers), i8051_modes, match_8051,
                                        basics_of(4), i8051_qualifiers, 0, 0};
static const machine_desc arm_desc = {"ARM", SHAPE_ARM, REGS(arm_registers), arm_modes, match_arm,
                                      basics_of(5), arm_qualifiers, 2, 4};
static const machine_desc holtek_desc = {"Holtek", SHAPE_HOLTEK, REGS(holtek_registers), holtek_modes,
                                         match_holtek, basics_of(6), holtek_qualifiers, 1, 1};

// In selection order: the first whose matcher accepts the -p name wins.
const machine_desc *const machine_table[] = {
    &pic_desc, &pic18_desc, &dspic_desc, &pic32_desc, &i8051_desc, &arm_desc, &holtek_desc,
};
const unsigned machine_table_count = std::size(machine_table);
