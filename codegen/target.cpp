// The target description: chip facts from the driver's -P records, the
// memory spaces and classes of the data space, and small target helpers
// (space pseudo-objects, library helper routines, byte selectors, internal
// labels, interrupt-level suffixes).
//
// Records: "ZEPHP<chip>,<family>,<rom>,<banks>,<n1>,<n2>,<n3>,<n4>" sets the
// chip facts; "MIRROR=..." the bank mirror table; "RAM=", "COMMON=" and
// "BANK<d>=" carry range specs that the memory-range lists read into the
// classes of the data space.
#include "kestrel.h"
#include "ranges.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

chip_facts chip;
// Next internal label number, kept above every label of the input.
static uint32_t label_counter;
// Pseudo-objects standing for whole memory spaces.
static cg_symbol *rom_object;
static cg_symbol *ram_banks_object;
static cg_symbol *ram_object;

void cg_fatal(unsigned n, ...)
{
    va_list ap;
    va_start(ap, n);
    msg_vreport(n, ap);
    va_end(ap);
    tool_exit(1);
    exit(1);
}

void assert_fail(const char *expr, const char *file, int line)
{
    msg_print("Assertion failed - %s (%s, line %d)\n", expr, file, line);
    cg_fatal(1058);
}

static void assert_hook(const char *expr, const char *unit, int line)
{
    assert_fail(expr, unit, line);
}

void target_init()
{
    free(chip.name);
    if (chip.spaces)
        range_space_list_free(chip.spaces);
    chip = chip_facts{};
    for (int &m : chip.mirror)
        m = -1;
    chip.frame_bank = -1;
    range_space_new(&chip.spaces, "code", "Program space", 2);
    range_space_new(&chip.spaces, "data", "Data space", 2);
    label_counter = 30000;
    rom_object = ram_banks_object = ram_object = nullptr;
    os_set_assert_hook(assert_hook);
}

static range_space *data_space() { return chip.spaces->next; }

range_class *target_class(const char *name)
{
    for (range_class *c = data_space()->classes; c; c = c->next)
        if (!strcmp(c->name, name))
            return c;
    return nullptr;
}

// "ZEPHP<chip>,<family>,<rom>,<banks>,<n1>,<n2>,<n3>,<n4>".
static void chip_record(const char *text)
{
    std::string fields[8];
    int count = 0;
    for (const char *p = text + 5; count < 8; count++) {
        const char *comma = strchr(p, ',');
        fields[count] = comma ? std::string(p, (size_t)(comma - p)) : std::string(p);
        if (!comma) {
            count++;
            break;
        }
        p = comma + 1;
    }
    if (count < 8)
        cg_fatal(609);
    free(chip.name);
    chip.name = xstrdup(fields[0].c_str());
    chip.family = atoi(fields[1].c_str());
    chip.rom_size = strtoul(fields[2].c_str(), nullptr, 10);
    chip.banks = atoi(fields[3].c_str());
    for (int i = 0; i < 4; i++)
        chip.n[i] = atoi(fields[4 + i].c_str());
    chip.frame_bank = (chip.n[2] & 0xFF00) == 0xFF00 ? chip.n[2] & 0xFF : -1;
}

// "MIRROR=v,v,...": the bank each bank mirrors (128 + bank), else -1.
static void mirror_record(const char *text)
{
    chip.mirror_count = 0;
    for (const char *p = text; *p && chip.mirror_count < 16;) {
        int v = atoi(p);
        chip.mirror[chip.mirror_count++] = v >= 128 ? v - 128 : -1;
        const char *comma = strchr(p, ',');
        if (!comma)
            break;
        p = comma + 1;
    }
}

static void class_record(const char *class_name, const char *text)
{
    range_class *c = range_class_get(data_space(), class_name, 2, RANGE_NO_LOAD, 0);
    range_parse_spec(c, text);
    if (!strcmp(class_name, "COMMON") && c->available) {
        uint32_t lo = c->available->lo, hi = c->available->hi;
        for (range_node *n = c->available; n; n = n->next)
            hi = n->hi;
        chip.common_size = hi - lo;
    }
}

void parse_processor_record(const char *text)
{
    if (!*text)
        return;
    if (!strncmp(text, "ZEPH", 4))
        chip_record(text);
    else if (!strncmp(text, "MIRROR=", 7))
        mirror_record(text + 7);
    else if (!strncmp(text, "RAM=", 4))
        class_record("RAM", text);
    else if (!strncmp(text, "COMMON=", 7))
        class_record("COMMON", text);
    else if (!strncmp(text, "BANK", 4) && text[4] >= '0' && text[4] <= '9' && text[5] == '=') {
        class_record(std::string(text, 5).c_str(), text);
        chip.bank_records++;
    }
}

// Bytes of one RAM bank by chip family.
static uint32_t bank_bytes()
{
    return chip.family == 1 ? 32 : chip.family == 3 ? 256 : 128;
}

static cg_symbol *make_space_object(const char *name, unsigned long count)
{
    int saved = scope_level;
    scope_level = 0;
    cg_symbol *s = sym_new(name);
    scope_level = saved;
    s->cls = 'F';
    s->storage = ST_STATIC;
    s->flags |= SF_INTERNAL | SF_NODEBUG;
    type_desc *a = type_derive(basic_type_named("uc"), TY_ARRAY);
    a->count = (uint32_t)count;
    s->type = a;
    return s;
}

cg_symbol *space_symbol(type_desc *type, type_desc *ptr_type, int bank)
{
    bool one_byte_ptr = ptr_type && type_size(ptr_type) == 1;
    if (type_qualifiers(type) & Q_CONST) {
        if (!rom_object) {
            rom_object = make_space_object("ROM", chip.rom_size);
            rom_object->type = type_qualify(rom_object->type, Q_CONST);
            ptrset_of(rom_object)->flags |= PS_ROM;
        }
        return rom_object;
    }
    if (bank >= 0 && !one_byte_ptr) {
        if (!ram_banks_object) {
            ram_banks_object = make_space_object("RAM", (unsigned long)chip.banks * bank_bytes());
            ram_banks_object->value2 = bank;
        }
        return ram_banks_object;
    }
    if (!ram_object)
        ram_object = make_space_object("RAM", bank_bytes());
    return ram_object;
}

// The library's helper routines, asked for so their modules are loaded.
static const char *const helper_routines[47] = {
    "___lmul", "___wmul", "___bmul", "___lbmod", "___lbdiv", "___abmod", "___abdiv", "___lwmod",
    "___lwdiv", "___awmod", "___awdiv", "___fladd", "___fldiv", "___flmul", "___flsub", "___fltol",
    "___flneg", "___lbtofl", "___abtofl", "___awtofl", "___lwtofl", "___altofl", "___lltofl",
    "___lttofl", "___attofl", "___ftadd", "___ftdiv", "___ftmul", "___ftsub", "___fttol", "___ftneg",
    "___lbtoft", "___abtoft", "___awtoft", "___lwtoft", "___altoft", "___lltoft", "___lttoft",
    "___attoft", "___aldiv", "___almod", "___llmod", "___lldiv", "___ftge", "___flge", "_eecpymem",
    "_memcpyee",
};

void mark_helper_routines()
{
    if (run.mode_word & MODE_IEEE_DBL)
        basic_type_named("d")->size = 4;
    if (run.mode_word & MODE_IEEE_FLT)
        basic_type_named("f")->size = 4;
    for (const char *name : helper_routines)
        lib_want(name);
}

const char *byte_selector_prefix(int k, int n)
{
    switch (n) {
    case 0: return "";
    case 1: return "(";
    case 2: return k == 1 ? "high(" : "low(";
    case 3:
    case 4:
        switch (k) {
        case 0: return "low(";
        case 1: return "high(";
        case 2: return "low highword(";
        case 3: return "high highword(";
        default: return "";
        }
    default: return "";
    }
}

uint32_t new_label_number()
{
    if (label_counter < largest_label)
        label_counter = largest_label;
    return ++label_counter;
}

int intlevel_of_mask()
{
    return intlevel_mask ? __builtin_ctz(intlevel_mask) : 0;
}

const char *intlevel_suffix()
{
    static std::string text;
    if (intlevel_mask <= 1)
        return "";
    return (text = str_printf("i%d", intlevel_of_mask())).c_str();
}

void check_bit_storage(cg_symbol *s)
{
    type_desc *t = type_unqualify(s->type);
    if (s->storage == ST_AUTO && t && t->kind == TY_BASIC && t->arith == AR_BIT)
        msg_report(698);
}

bool is_simple_constant(tree_node *t)
{
    if (t && t->op == OP_CONV)
        t = t->left;
    if (!t)
        return false;
    switch (t->op) {
    case OP_CONST: case OP_FCONST: case OP_ADDR:
        return true;
    case OP_ID:
        return t->value > 0;
    case OP_ADD:
        return t->left && t->right && (t->left->op == OP_CONST || t->left->op == OP_ADDR) &&
               (t->right->op == OP_CONST || t->right->op == OP_ADDR);
    default:
        return false;
    }
}

tree_node *node_passthrough(tree_node *t) { return t; }

tree_node *mirror_comparison(tree_node *t)
{
    if (t->op != OP_LE && t->op != OP_GT)
        return t;
    t->op = t->op == OP_LE ? OP_GE : OP_LT;
    tree_node *l = t->left;
    t->left = t->right;
    t->right = l;
    return t;
}

bool is_symbol_operand(tree_node *t)
{
    return t && t->left && t->left->op == OP_ID;
}

// Follows a chain of conversions to the first other node.
static tree_node *skip_conversions(tree_node *t)
{
    while (t && t->op == OP_CONV)
        t = t->left;
    return t;
}

static bool is_float(tree_node *t)
{
    type_desc *ty = type_unqualify(t ? t->type : nullptr);
    return ty && ty->kind == TY_BASIC && ty->arith == AR_FLOAT;
}

int arith_node_test(tree_node *t)
{
    uint32_t size = node_size(t);
    switch (t->op) {
    case OP_ADD:
    case OP_SUB:
        return size == 4 && !is_float(t);
    case OP_SHL:
    case OP_SHR:
        if (size == 1)
            return t->right && t->right->op == OP_CONST && t->right->value == 1;
        break;
    case OP_MOD:
    case OP_MUL:
    case OP_DIV:
        return 0;
    }
    if (size == 1 || is_float(t))
        return 0;
    tree_node *first = skip_conversions(t->left);
    if (!first || is_float(first))
        return 0;
    switch (first->op) {
    case OP_CALL: case OP_MOD: case OP_MUL: case OP_DIV: case OP_ID:
        return 0;
    default:
        return 1;
    }
}
