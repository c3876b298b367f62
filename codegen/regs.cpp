// Register sets, register classes, temporaries and the tracked bank state.
//
// Registers are numbered: 1-27 named registers (single ones, pairs, groups),
// 29-33 classes from which a pattern may take any free member, 34 up the
// temporaries by byte offset in the function's temporary area. A register
// set is an objset of simple registers: adding a composite register adds its
// components. Sets made from a number or a mask are cached and shared, since
// the matcher asks for them for every pattern it tries.
#include "kestrel.h"

#include <cstring>
#include <string>

// One row of the register table.
struct reg_row {
    const char *name;
    uint32_t mask;        // single-register bits this register covers
    uint8_t cost;         // choice cost among class members
    bool composite;       // not accepted by the register-list parser
    uint8_t parts[9];     // component registers, 0-terminated
};

// name            mask    cost composite components
static const reg_row reg_table[29] = {
    {"",             0,      0, false, {0}},                              // 0
    {"wreg",         0x1,    1, false, {0}},                              // 1
    {"fsr",          0x2,    2, false, {0}},                              // 2
    {"fsr1",         0x4,    2, false, {0}},                              // 3
    {"prodl",        0x8,    3, false, {0}},                              // 4
    {"prodh",        0x10,   3, false, {0}},                              // 5
    {"tblptrl",      0x20,   3, false, {0}},                              // 6
    {"tblptrh",      0x40,   3, false, {0}},                              // 7
    {"status,2",     0x80,   1, false, {0}},                              // 8
    {"status,0",     0x100,  1, false, {0}},                              // 9
    {"btemp+0",      0x200,  1, false, {0}},                              // 10
    {"btemp+1",      0x400,  1, false, {0}},                              // 11
    {"btemp+2",      0x800,  1, false, {0}},                              // 12
    {"btemp+3",      0x1000, 1, false, {0}},                              // 13
    {"pc",           0x2000, 9, false, {0}},                              // 14
    {"pclath",       0x4000, 3, false, {0}},                              // 15
    {"status",       0x180,  1, false, {9, 8}},                           // 16
    {"wtemp0",       0x600,  1, true,  {10, 11}},                         // 17
    {"wtemp1",       0x1800, 1, true,  {12, 13}},                         // 18
    {"ttemp0",       0xE00,  1, true,  {10, 11, 12}},                     // 19
    {"ltemp0",       0x1E00, 1, true,  {10, 11, 12, 13}},                 // 20
    {"tblptr",       0x60,   3, true,  {6, 7}},                           // 21
    {"prod",         0x18,   3, true,  {4, 5}},                           // 22
    {"wregfsr",      0x3,    2, true,  {1, 2}},                           // 23
    {"wregfsr1",     0x5,    2, true,  {1, 3}},                           // 24
    {"wregbtemp1",   0x401,  2, true,  {1, 11}},                          // 25
    {"cstack",       0x8000, 9, true,  {0}},                              // 26
    {"allreg",       0xDF83, 9, true,  {1, 2, 16, 15, 10, 11, 12, 13, 26}}, // 27
    {"",             0,      0, true,  {0}},                              // 28
};

// One row of the class table (numbers 29-33).
struct class_row {
    uint32_t mask;
    uint8_t members[5];   // 0-terminated
};
static const class_row class_table[5] = {
    {0x1E00, {10, 11, 12, 13}}, // 29 one byte
    {0x1E00, {17, 18}},         // 30 two bytes
    {0xE00,  {19}},             // 31 three bytes
    {0x1E00, {20}},             // 32 four bytes
    {0x2,    {2}},              // 33 fsr
};

// Sets made from a mask, and from a register or class number.
static hash_t *mask_cache;
static hash_t *number_cache;
// Registers the value tracking holds; prefers the later of two equal members.
regset *tracked_regs;
// Running offset of the current function's temporary area.
static uint32_t temp_offset;
// The tracked state of the status and bank-select bits.
bstate bank_state;

const char *register_name(uint32_t n)
{
    return n < 29 ? reg_table[n].name : "";
}

static uint32_t reg_mask(uint32_t n)
{
    if (n < 29)
        return reg_table[n].mask;
    if (n < REG_TEMP_BASE)
        return class_table[n - REG_CLASS_FIRST].mask;
    return 0;
}

const regset *regset_from_mask(uint32_t mask)
{
    if (!mask_cache)
        mask_cache = hash_new(34, hash_ptr_hash, hash_ptr_compare);
    void *key = (void *)(uintptr_t)(mask | 0x80000000u);  // never null
    if (regset *s = (regset *)hash_lookup(mask_cache, key))
        return s;
    regset *s = objset_new();
    for (uint32_t n = 1; n < 29; n++)
        if (!reg_table[n].parts[0] && (reg_table[n].mask & mask))
            objset_add(s, n);
    hash_insert(mask_cache, key, s);
    return s;
}

const regset *regset_of(uint32_t n)
{
    if (n >= 1 && n < REG_TEMP_BASE)
        return regset_from_mask(reg_mask(n));
    if (!number_cache)
        number_cache = hash_new(68, hash_ptr_hash, hash_ptr_compare);
    void *key = (void *)(uintptr_t)n;
    if (regset *s = (regset *)hash_lookup(number_cache, key))
        return s;
    regset *s = objset_new();
    if (n)
        objset_add(s, n);
    hash_insert(number_cache, key ? key : (void *)(uintptr_t)0xFFFFFFFFu, s);
    return s;
}

bool regset_has(const regset *s, uint32_t n)
{
    if (objset_contains(s, n))
        return true;
    const regset *m = regset_of(n);
    return !objset_is_empty(m) && objset_includes(s, m);
}

void regset_add_reg(regset *s, uint32_t n)
{
    if (n < 29 && reg_table[n].parts[0]) {
        for (const uint8_t *p = reg_table[n].parts; *p; p++)
            regset_add_reg(s, *p);
        return;
    }
    if (n)
        objset_add(s, n);
}

bool reg_class_has(uint32_t n, uint32_t r)
{
    if (n < REG_CLASS_FIRST || n >= REG_TEMP_BASE)
        return false;
    for (const uint8_t *p = class_table[n - REG_CLASS_FIRST].members; *p; p++)
        if (*p == r)
            return true;
    return false;
}

// The cheaper of two free members; on equal cost the earlier one, unless the
// value tracking holds the later one and not the earlier.
static bool prefer_later(uint32_t best, uint32_t cand)
{
    if (reg_table[cand].cost != reg_table[best].cost)
        return reg_table[cand].cost < reg_table[best].cost;
    return tracked_regs && !regset_has(tracked_regs, best) && regset_has(tracked_regs, cand);
}

uint32_t reg_class_member_avoiding(const regset *avail, uint32_t n, const regset *avoid)
{
    if (n < REG_CLASS_FIRST || n >= REG_TEMP_BASE) {
        if (avoid && regset_has(avoid, n))
            return 0;
        return regset_has(avail, n) ? n : 0;
    }
    uint32_t best = 0;
    for (const uint8_t *p = class_table[n - REG_CLASS_FIRST].members; *p; p++) {
        if (!regset_has(avail, *p) || (avoid && objset_intersects(avoid, regset_of(*p))))
            continue;
        if (!best || prefer_later(best, *p))
            best = *p;
    }
    return best;
}

uint32_t reg_class_member(const regset *avail, uint32_t n)
{
    return reg_class_member_avoiding(avail, n, nullptr);
}

uint32_t first_param_in_w(cg_symbol *param, int index)
{
    uint32_t size = type_size(param->type);
    return index == 0 && size == 1 ? size : 0;
}

void temp_area_reset() { temp_offset = 0; }

uint32_t temp_area_size() { return temp_offset; }

uint32_t temp_alloc(tree_node *node, uint32_t size)
{
    uint32_t align;
    if (node) {
        size = node_size(node);
        if (!size)
            size = 1;
        align = type_align_mask(node->type);
    } else {
        align = basic_align_for_size(size);
    }
    temp_offset = (temp_offset + align) & ~align;
    uint32_t n = REG_TEMP_BASE + temp_offset;
    temp_offset += size;
    return n;
}

regset *regset_parse_list(const char *text)
{
    if (!text || !*text)
        return nullptr;
    regset *s = objset_new();
    std::string name;
    for (const char *p = text;; p++) {
        if (*p && !strchr(", \t\n", *p)) {
            name += *p;
            continue;
        }
        if (!name.empty()) {
            uint32_t n = 1;
            while (n <= 27 && (reg_table[n].composite || strcasecmp(reg_table[n].name, name.c_str())))
                n++;
            if (n > 27)
                msg_report(749, name.c_str());
            else
                regset_add_reg(s, n);
            name.clear();
        }
        if (!*p)
            break;
    }
    return s;
}

const char *regclass_text(uint32_t n)
{
    static std::string text;
    if (n >= 1 && n <= 28)
        return reg_table[n].name;
    if (n >= REG_CLASS_FIRST && n < REG_TEMP_BASE) {
        text = "(";
        const uint8_t *p = class_table[n - REG_CLASS_FIRST].members;
        for (; *p; p++) {
            if (p != class_table[n - REG_CLASS_FIRST].members)
                text += "|";
            text += regclass_text(*p);
        }
        return (text += ")").c_str();
    }
    if (n == REG_TEMP_BASE)
        return "TEMP";
    if (n >= REG_INTERNAL_BASE)
        return (text = str_printf("U%lX", (unsigned long)n)).c_str();
    if (n > REG_TEMP_BASE)
        return (text = str_printf("TEMP%u", n - REG_TEMP_BASE)).c_str();
    return (text = str_printf("%lX", (unsigned long)n)).c_str();
}

// One member in a set's text: a register name, a temporary or an internal one.
static std::string member_text(uint32_t n)
{
    if (n < 29)
        return reg_table[n].name;
    if (n >= REG_INTERNAL_BASE)
        return str_printf("U%lX", (unsigned long)n);
    if (n >= REG_TEMP_BASE)
        return str_printf("T%u", n - REG_TEMP_BASE);
    return regclass_text(n);
}

const char *regset_text(const regset *s)
{
    static std::string text;
    if (objset_is_empty(s))
        return "[]";
    for (uint32_t n = 27; n >= 1; n--)
        if (objset_equal(s, regset_of(n)))
            return (text = "[" + std::string(reg_table[n].name) + "]").c_str();
    vector_t *v = objset_to_vector(s);
    text = "[";
    for (uint32_t i = 0; i < vec_count(v);) {
        uint32_t first = (uint32_t)(uintptr_t)vec_get(v, i), j = i;
        while (j + 1 < vec_count(v) && (uint32_t)(uintptr_t)vec_get(v, j + 1) == first + (j + 1 - i))
            j++;
        if (i)
            text += "+";
        text += member_text(first);
        if (j > i)
            text += (j - i >= 2 ? "-" : "+") + member_text(first + (j - i));
        i = j + 1;
        if (text.size() > 258) {
            text = text.substr(0, 250) + "+more...";
            vec_free(v);
            return text.c_str();
        }
    }
    vec_free(v);
    return (text += "]").c_str();
}

void bstate_set(uint32_t bits, uint32_t values)
{
    bank_state.known |= bits;
    bank_state.values = (bank_state.values & ~bits) | (values & bits);
    bank_state.used |= bits;
    bank_state.changed |= bits;
    bank_state.touched = true;
}

void bstate_forget(uint32_t bits)
{
    bank_state.known &= ~bits;
    bank_state.used |= bits;
    bank_state.changed |= bits;
    bank_state.touched = true;
}

bool bstate_known(uint32_t bits)
{
    bank_state.used |= bits;
    return (bank_state.known & bits) == bits;
}

uint32_t bstate_value(uint32_t bits)
{
    bank_state.used |= bits;
    return bank_state.values & bank_state.known & bits;
}

void bstate_save_in_sym(cg_symbol *s, uint32_t mask, uint32_t values)
{
    s->bank_known = mask;
    s->bank_values = values & mask;
}

bstate bstate_meet(const bstate &a, const bstate &b)
{
    bstate r = a;
    r.known = a.known & b.known & ~(a.values ^ b.values);
    r.values = a.values & r.known;
    return r;
}

bstate bstate_apply(const bstate &a, const bstate &b)
{
    bstate r = a;
    r.known = a.known | b.known;
    r.values = (a.values & ~b.known) | (b.values & b.known);
    return r;
}

void regs_reset()
{
    temp_offset = 0;
    bank_state = bstate{};
}
