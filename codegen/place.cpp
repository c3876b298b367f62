// Data: the program's global objects sorted into lists by kind, placed into
// the chip's banks, and written as data definitions.
//
// Placement decides the bank of every RAM object (the code selects banks by
// it); the linker gives the final addresses, placing each bank's psect in
// that bank. Each round drops the reservations of the round before and
// places everything again: the frame block first (common memory from its
// low end when it fits, else banked RAM), then bit objects a byte for eight,
// then the other objects (a bank their qualifiers ask for, else common
// memory from its high end, else banked RAM). A round in which no object
// moved makes its reservations permanent.
#include "kestrel.h"
#include "ranges.h"
#include "select.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

// Bytes of the auto/param block (the compiled stack).
uint32_t compiled_stack_size;
// The objects of the lists, in list order.
static std::vector<cg_symbol *> list_persist, list_bss, list_data, list_const;
// The initial values of the initialised and constant objects, a text per byte.
static std::map<cg_symbol *, std::vector<std::string>> images;
// The bank of the initialised-data block (all initialised objects, back to
// back: the start-up code copies their image in one run).
static int data_bank = BANK_NONE;
// Placement rounds run so far.
static int place_rounds;

static bool is_bit(cg_symbol *s)
{
    type_desc *t = type_unqualify(s->type);
    return t && t->kind == TY_BASIC && t->arith == AR_BIT;
}

static uint32_t object_size(cg_symbol *s)
{
    return is_bit(s) ? 1 : type_size(s->type);
}

static range_space *data_space()
{
    return chip.spaces->next;
}

// ---------------------------------------------------------------------------
// classification
// ---------------------------------------------------------------------------
static tree_node *count_init_use(void *changed, tree_node *n, int, int, int, long *)
{
    if (n->op == OP_STRING && n->left && n->left->op == OP_CONST)   // a string literal's label
        if (cg_symbol *s = sym_find(str_printf("STR_%ld", (long)n->left->value).c_str()); s && !s->use_count) {
            s->use_count = 1;
            *(bool *)changed = true;
        }
    if (n->op == OP_ID && n->sym && !sym_is_function(n->sym) && n->sym->use_count == 0) {
        n->sym->use_count = 1;
        *(bool *)changed = true;
    }
    return n;
}

// Objects named in the initial values of used objects are used too (an
// address held by an initialised pointer), until no more are found.
static void count_initialiser_uses()
{
    for (bool changed = true; changed;) {
        changed = false;
        for (uint32_t i = 0; i < vec_count(global_objects); i++) {
            cg_symbol *s = (cg_symbol *)vec_get(global_objects, i);
            if (!s->use_count || !s->init_list)
                continue;
            long result = 0;
            for (uint32_t k = 0; k < vec_count(s->init_list); k++)
                tree_walk(WALK_PREORDER, &changed, (tree_node *)vec_get(s->init_list, k), count_init_use, 0, 0, 0,
                          &result);
        }
    }
}

void data_classify()
{
    count_initialiser_uses();
    list_persist.clear();
    list_bss.clear();
    list_data.clear();
    list_const.clear();
    images.clear();
    for (uint32_t i = 0; i < vec_count(global_objects); i++) {
        cg_symbol *s = (cg_symbol *)vec_get(global_objects, i);
        if (sym_is_function(s) || s->cls != 'F' || (s->flags & (SF_UNDEF | SF_INTERNAL | SF_STRING)))
            continue;
        uint32_t q = type_qualifiers(s->type);
        s->data_list = DL_NONE;
        // an object an assembly module names is kept though C never uses it
        bool from_assembly = run.ext_refs && hash_lookup(run.ext_refs, s->key);
        if (s->use_count == 0 && !from_assembly) {
            // absolute objects (the chip's registers) take no memory
            if (run.warning_level < 0 && !(s->flags & SF_ABSOLUTE)) {
                sym_set_position(s);
                msg_report(1090, s->src_name);
            }
            continue;
        }
        if (s->init_list && vec_count(s->init_list)) {
            sym_set_position(s);
            if ((q & Q_CONST) && !(s->flags & SF_ABSOLUTE)) {
                if (!data_image(s, &images[s]))
                    continue;
                s->data_list = DL_CONST;
                list_const.push_back(s);
                continue;
            }
            if (s->flags & SF_ABSOLUTE) {
                msg_report(1490, "initialised objects at absolute addresses");
                continue;
            }
            if (!data_image(s, &images[s]))
                continue;
            s->data_list = DL_DATA;
            list_data.push_back(s);
            s->bank = BANK_NONE;
            s->place_state = PLACE_NEVER;
            continue;
        }
        if ((q & Q_CONST) && !(s->flags & SF_ABSOLUTE)) {
            sym_set_position(s);
            msg_report(746, s->src_name);
        }
        if (!(s->flags & SF_ABSOLUTE) && type_size(s->type) == 0 && !is_bit(s)) {
            sym_set_position(s);
            msg_report(1248, s->src_name);
            continue;
        }
        if ((s->flags & SF_ABSOLUTE) || (q & Q_PERSISTENT)) {
            s->data_list = DL_PERSIST;
            list_persist.push_back(s);
        } else {
            s->data_list = DL_BSS;
            list_bss.push_back(s);
        }
        s->bank = BANK_NONE;
        s->place_state = PLACE_NEVER;
    }
    // the blocks in a fixed order: larger objects first, then by name
    auto larger_first = [](cg_symbol *a, cg_symbol *b) {
        if (object_size(a) != object_size(b))
            return object_size(a) > object_size(b);
        return strcmp(sym_asm_name(a), sym_asm_name(b)) < 0;
    };
    std::stable_sort(list_data.begin(), list_data.end(), larger_first);
    std::stable_sort(list_const.begin(), list_const.end(), larger_first);
    // the constant data and the strings share one page of program memory
    unsigned long strings, cnst, data, bss, persist;
    data_sizes(&strings, &cnst, &data, &bss, &persist);
    if (strings + cnst > 255) {
        if (!list_const.empty())
            sym_set_position(list_const.front());
        msg_report(1490, "constant data and strings of more than 255 bytes");
    }
}

// A string is written when it is used, or when a used string lies in its
// tail (it is written as an equate into this one).
static bool string_written(string_rec *r)
{
    if (r->label->use_count)
        return true;
    for (uint32_t i = 0; strings_merged && i < vec_count(strings_merged); i++) {
        string_rec *m = (string_rec *)vec_get(strings_merged, i);
        if (m->host == r && m->label->use_count)
            return true;
    }
    return false;
}

void data_sizes(unsigned long *strings, unsigned long *cnst, unsigned long *data, unsigned long *bss,
                unsigned long *persist)
{
    *strings = *cnst = *data = *bss = *persist = 0;
    for (cg_symbol *s : list_data)
        *data += object_size(s);
    for (cg_symbol *s : list_const)
        *cnst += object_size(s);
    for (uint32_t i = 0; strings_kept && i < vec_count(strings_kept); i++) {
        string_rec *r = (string_rec *)vec_get(strings_kept, i);
        if (!r->host && string_written(r))
            *strings += r->length;
    }
    for (cg_symbol *s : list_bss)
        *bss += object_size(s);
    for (cg_symbol *s : list_persist)
        if (!(s->flags & SF_ABSOLUTE))
            *persist += object_size(s);
}

// ---------------------------------------------------------------------------
// placement
// ---------------------------------------------------------------------------
// The bank an object's qualifiers ask for (BANK_COMMON for near), or
// BANK_NONE; the chip's bank-qualifier policy may ignore them.
static int bank_of_qualifiers(cg_symbol *s)
{
    int policy = chip.n[0];
    uint32_t q = type_qualifiers(s->type);
    if (policy == 1 || !q)
        return BANK_NONE;
    if (q & Q_NEAR)
        return BANK_COMMON;
    static const uint32_t banks[4] = {Q_BANK0, Q_BANK1, Q_BANK2, Q_BANK3};
    for (int b = 0; b < 4; b++)
        if (q & banks[b])
            return b < chip.banks ? b : BANK_NONE;
    return BANK_NONE;
}

// Room for size bytes in one class; the address, or RANGE_NONE.
static uint32_t alloc_in(const char *cls_name, uint32_t size, bool from_top, int action)
{
    range_class *c = target_class(cls_name);
    if (!c || !size)
        return RANGE_NONE;
    const range_block *b = range_alloc(data_space(), c, size, action, from_top ? 1 : 0);
    return b ? b->lo : RANGE_NONE;
}

// The bank of a banked RAM address, or BANK_COMMON in common memory.
// The bank a block of size bytes at address needs selected: none when all
// of it is common memory, else the bank of its banked bytes (on the 12-bit
// cores common memory starts a bank, so a block may run out of it).
static int bank_at(uint32_t address, uint32_t size)
{
    range_class *common = target_class("COMMON");
    uint32_t last = address + (size ? size - 1 : 0);
    if (common && range_contains(common, address) && range_contains(common, last))
        return BANK_COMMON;
    return bank_of_address(common && range_contains(common, address) ? last : address);
}

// An object's place: the bank its qualifiers name, else common memory,
// else any banked RAM. False when nothing has room.
static bool place_object(cg_symbol *s, uint32_t size, bool from_top)
{
    int wanted = bank_of_qualifiers(s);
    uint32_t a = RANGE_NONE;
    if (wanted >= 0) {
        if (chip.n[0] == 8)
            msg_report(1206, sym_asm_name(s));
        a = alloc_in(str_printf("BANK%d", wanted).c_str(), size, from_top, RANGE_ALLOC_RESERVE);
        if (a == RANGE_NONE && chip.n[0] == 4)
            msg_report(1250, (long)size, size == 1 ? "" : "s", sym_asm_name(s));
    }
    if (a == RANGE_NONE)
        a = alloc_in("COMMON", size, from_top, RANGE_ALLOC_RESERVE);
    // an object a pointer may address lies where pointers reach: banks 0-1
    if (a == RANGE_NONE && (s->flags & SF_ADDR_ESCAPES) && chip.banks > 2) {
        for (int bank = 0; bank < 2 && a == RANGE_NONE; bank++)
            a = alloc_in(str_printf("BANK%d", bank).c_str(), size, from_top, RANGE_ALLOC_RESERVE);
        if (a == RANGE_NONE)
            return false;
    }
    if (a == RANGE_NONE)
        a = alloc_in("RAM", size, from_top, RANGE_ALLOC_RESERVE);
    if (a == RANGE_NONE)
        return false;
    s->place_addr = a;
    s->bank = bank_at(a, size);
    return true;
}

static void note_place(cg_symbol *s, unsigned long old_addr, int old_bank, int8_t old_state, bool *changed)
{
    if (old_state == PLACE_NEVER || old_addr != s->place_addr || old_bank != s->bank)
        *changed = true;
}

// The bit objects of a list, eight to a byte taken from the high end of
// banked RAM. Never common memory: start-up clears a bank's bits with its
// bytes (the linker puts a bank's bit psect right after its byte psect),
// and common memory's bits would lie apart from common memory's bytes.
static void place_bits(const std::vector<cg_symbol *> &list, bool *changed)
{
    uint32_t byte = RANGE_NONE;
    int used = 8;
    for (cg_symbol *s : list) {
        if (!is_bit(s) || (s->flags & SF_ABSOLUTE))
            continue;
        if (used == 8) {
            byte = alloc_in("RAM", 1, true, RANGE_ALLOC_RESERVE);
            if (byte == RANGE_NONE)
                byte = alloc_in("BANK0", 1, true, RANGE_ALLOC_RESERVE);
            used = 0;
        }
        if (byte == RANGE_NONE) {
            msg_report(1271, 1L, "", sym_asm_name(s));
            continue;
        }
        unsigned long old = s->place_addr;
        int old_bank = s->bank;
        int8_t old_state = s->place_state;
        s->place_addr = (unsigned long)byte * 8 + (unsigned long)used++;
        s->bank = bank_of_address(byte);
        s->place_state = PLACE_ROUND;
        note_place(s, old, old_bank, old_state, changed);
    }
}

static void place_list(const std::vector<cg_symbol *> &list, bool from_top, bool *changed)
{
    // objects pointers reach have fewer places (banks 0-1): they go first
    std::vector<cg_symbol *> order;
    for (bool reached : {true, false})
        for (cg_symbol *s : list)
            if (((s->flags & SF_ADDR_ESCAPES) != 0) == reached)
                order.push_back(s);
    for (cg_symbol *s : order) {
        if (is_bit(s) || (s->flags & SF_ABSOLUTE))
            continue;
        unsigned long old = s->place_addr;
        int old_bank = s->bank;
        int8_t old_state = s->place_state;
        uint32_t size = object_size(s);
        if (!place_object(s, size, from_top)) {
            bool low = (s->flags & SF_ADDR_ESCAPES) && chip.banks > 2;
            msg_report(low ? 1492 : 1250, (long)size, size == 1 ? "" : "s", sym_asm_name(s));
            continue;
        }
        s->place_state = PLACE_ROUND;
        note_place(s, old, old_bank, old_state, changed);
    }
}

// Absolute objects: their memory is taken, so nothing else is placed there.
static void take_absolute(bool *changed)
{
    for (cg_symbol *s : list_persist) {
        if (!(s->flags & SF_ABSOLUTE))
            continue;
        uint32_t lo = is_bit(s) ? (uint32_t)(s->address >> 3) : (uint32_t)s->address;
        uint32_t size = is_bit(s) ? 1 : object_size(s);
        range_space_add(data_space(), RANGE_USED, lo, lo + size - 1, 0);
        s->bank = bank_of_symbol(s);
        s->place_state = PLACE_ABSOLUTE;
        *changed = true;
    }
}

// The frame block: common memory when it fits, else banked RAM.
static void place_frame(bool *changed)
{
    int old = frame_bank;
    frame_bank = BANK_COMMON;
    if (!compiled_stack_size)
        return;
    // (a 12-bit chip of one bank has no frame psect in common memory: there
    // the common class is only the top of bank 0)
    bool common = chip.family != 1 || chip.banks > 1;
    uint32_t a = common ? alloc_in("COMMON", compiled_stack_size, false, RANGE_ALLOC_RESERVE) : RANGE_NONE;
    // autos a pointer may address: the frame where pointers reach
    const char *const low_half[] = {"BANK0", "BANK1"};
    if (indirect_frame_escapes() && chip.banks > 2)
        for (int pass = 0; pass < 2; pass++)
            for (const char *cls : low_half)
                if (a == RANGE_NONE)
                    a = alloc_in(cls, compiled_stack_size, pass == 1, RANGE_ALLOC_RESERVE);
    // the low banks are kept for the objects pointers reach when there are any
    bool keep_low = indirect_any_escapes() && !indirect_frame_escapes();
    for (int bank = chip.banks - 1; keep_low && bank >= 2 && a == RANGE_NONE; bank--)
        a = alloc_in(str_printf("BANK%d", bank).c_str(), compiled_stack_size, false, RANGE_ALLOC_RESERVE);
    if (a == RANGE_NONE)
        a = alloc_in("RAM", compiled_stack_size, keep_low, RANGE_ALLOC_RESERVE);
    if (a == RANGE_NONE)
        a = alloc_in("RAM", compiled_stack_size, !keep_low, RANGE_ALLOC_RESERVE);
    // 12-bit cores: bank 0 with the common memory below it
    if (a == RANGE_NONE && chip.family == 1)
        a = alloc_in("BANK0", compiled_stack_size, false, RANGE_ALLOC_RESERVE);
    if (a == RANGE_NONE) {
        msg_report_once(1253, (long)compiled_stack_size, compiled_stack_size == 1 ? "" : "s");
        return;
    }
    frame_bank = bank_at(a, compiled_stack_size);
    if (frame_bank != old)
        *changed = true;
}

// The initialised objects back to back in one bank (banks 0-1 when a
// pointer may reach one of them).
static void place_data_block(bool *changed)
{
    uint32_t total = 0;
    bool reached = false;
    for (cg_symbol *s : list_data) {
        total += object_size(s);
        reached |= (s->flags & SF_ADDR_ESCAPES) != 0;
    }
    if (!total)
        return;
    uint32_t a = RANGE_NONE;
    int bank = BANK_NONE;
    for (int b = 0; b < chip.banks && a == RANGE_NONE; b++) {
        if (reached && b >= 2)
            break;
        a = alloc_in(str_printf("BANK%d", b).c_str(), total, true, RANGE_ALLOC_RESERVE);
        bank = b;
    }
    if (a == RANGE_NONE && chip.banks <= 1) {   // one bank: whatever RAM has room
        a = alloc_in("RAM", total, true, RANGE_ALLOC_RESERVE);
        bank = 0;
    }
    if (a == RANGE_NONE) {
        msg_report(1254, (long)total, total == 1 ? "" : "s");
        return;
    }
    data_bank = bank;
    uint32_t offset = 0;
    for (cg_symbol *s : list_data) {
        unsigned long old = s->place_addr;
        int old_bank = s->bank;
        int8_t old_state = s->place_state;
        s->place_addr = a + offset;
        s->bank = bank;   // the block's bank, even where it overlaps common memory
        s->place_state = PLACE_ROUND;
        offset += object_size(s);
        note_place(s, old, old_bank, old_state, changed);
    }
}

vector_t *place_data()
{
    if (!target_class("RAM") && !target_class("COMMON"))
        cg_fatal(1246);
    range_space_discard(data_space());
    bool changed = false;
    if (place_rounds++ == 0) {
        take_absolute(&changed);
    }
    // the interrupt context: saved_w, saved_status, saved_pclath, saved_fsr
    if (interrupt_function && alloc_in("COMMON", 4, true, RANGE_ALLOC_RESERVE) == RANGE_NONE)
        msg_report(1250, 4L, "s", "saved_w");
    place_frame(&changed);
    place_bits(list_persist, &changed);
    place_list(list_persist, false, &changed);
    place_bits(list_bss, &changed);
    place_list(list_bss, true, &changed);
    place_data_block(&changed);
    if (changed)
        return vec_new(1);
    range_space_commit(data_space());
    return nullptr;
}

// ---------------------------------------------------------------------------
// output
// ---------------------------------------------------------------------------
// The psect of an uninitialised object: by its bank, bits apart, persistent
// objects in the sections start-up leaves alone.
static int psect_of(cg_symbol *s)
{
    bool persist = type_qualifiers(s->type) & Q_PERSISTENT;
    if (is_bit(s))
        return persist ? (s->bank == 0 ? PS_NVBIT : PS_NVBIT1 + s->bank - 1) : PS_RBIT0B + s->bank;
    if (persist)
        return s->bank < 0 ? PS_NVRRAM : s->bank == 0 ? PS_NVRAM : PS_NVRAM1 + s->bank - 1;
    if (s->bank < 0)
        return PS_COMMON;
    return s->bank == 0 ? PS_RBSS0 : PS_RBSS1 + s->bank - 1;
}

// An object at an address given in the source: reserved there, and its
// name set to the address.
static void emit_absolute(cg_symbol *s)
{
    const char *name = sym_asm_name(s);
    printf("\tglobal\t%s\n", name);
    unsigned long byte = is_bit(s) ? s->address >> 3 : s->address;
    printf("\n\tDABS\t1,%lu,%u\t;%s\n", byte, is_bit(s) ? 1u : object_size(s), name);
    if (is_bit(s))
        printf("\t%s\tset\t0x%lX\t;byte address: 0x%lX\n\n", name, s->address, byte);
    else
        printf("\t%s\tset\t0x%lX\n\n", name, s->address);
}

static void emit_uninitialised(cg_symbol *s)
{
    const char *name = sym_asm_name(s);
    if (s->storage != ST_STATIC)
        printf("\tglobal\t%s\n", name);
    pending_psect = psect_of(s);
    switch_psect(false);
    printf("%s:\n       ds      %u\n", name, object_size(s));
    sdb_write_var(s);
}

// The initialised objects in their bank's data psect, their image (a retlw
// per byte) in the psect the start-up code copies from, and the names it
// copies by.
static void emit_initialised()
{
    if (list_data.empty())
        return;
    int bank = data_bank < 0 ? 0 : data_bank;
    pending_psect = bank == 0 ? PS_RDATA0 : PS_RDATA1 + bank - 1;
    switch_psect(false);
    // the block's bounds are labels of its own, around it
    printf("\tglobal\t__Lramdata, __Hramdata\n__Lramdata:\n");
    for (cg_symbol *s : list_data) {
        const char *name = sym_asm_name(s);
        if (s->storage != ST_STATIC)
            printf("\tglobal\t%s\n", name);
        printf("%s:\n       ds      %u\n", name, object_size(s));
        sdb_write_var(s);
    }
    printf("__Hramdata:\n");
    // the 12-bit start-up code copies its image from idata12, which the link
    // places where calls reach (the first half of a page)
    pending_psect = chip.family == 1 ? PS_IDATA12 : PS_IDATA;
    switch_psect(false);
    for (cg_symbol *s : list_data) {
        printf(";initializer for %s\n", sym_asm_name(s));
        for (const std::string &b : images[s])
            printf("\tretlw\t%s\n", b.c_str());
    }
    printf("\tGLOBAL\t__databank\n__databank\tEQU\t%d\n", bank);
}

// Constant objects and strings: one page of program memory that starts
// with its dispatcher. A call of stringdir with the low byte of an address
// of the page in W (PCLATH holding the page) jumps there, and the retlw
// found returns its byte: the one-byte pointer to constant data is that
// low byte.
static void emit_constants()
{
    unsigned long strings, cnst, data, bss, persist;
    data_sizes(&strings, &cnst, &data, &bss, &persist);
    if (!strings && !cnst)
        return;
    // on the 12-bit core a computed jump reaches the first half of a page:
    // the table lies with the call stubs at the start of page 0
    pending_psect = chip.family == 1 ? PS_JMP_TAB : PS_STRINGS;
    switch_psect(false);
    if (chip.family == 1)
        note_low_page_use();
    printf("\tglobal\tstringdir\nstringdir:\n\tmovwf\tpcl\n");
    for (cg_symbol *s : list_const) {
        const char *name = sym_asm_name(s);
        if (s->storage != ST_STATIC)
            printf("\tglobal\t%s\n", name);
        printf("%s:\n", name);
        for (const std::string &b : images[s])
            printf("\tretlw\t%s\n", b.c_str());
    }
    for (uint32_t i = 0; strings_kept && i < vec_count(strings_kept); i++) {
        string_rec *r = (string_rec *)vec_get(strings_kept, i);
        if (r->host || !string_written(r))
            continue;
        printf("%s:\n", sym_asm_name(r->label));
        for (uint32_t k = 0; k < r->length; k++) {
            int c = r->bytes[k];
            if (c >= 0x20 && c < 0x7F && c != '\'' && c != ';')
                printf("\tretlw\t%d\t;'%c'\n", c, c);
            else
                printf("\tretlw\t%d\n", c);
        }
    }
    for (uint32_t i = 0; strings_merged && i < vec_count(strings_merged); i++) {
        string_rec *r = (string_rec *)vec_get(strings_merged, i);
        if (r->label->use_count)
            printf("%s\tequ\t%s+%u\n", sym_asm_name(r->label), sym_asm_name(r->host->label), r->offset);
    }
}

// Where the interrupt function keeps the registers it saves: common
// memory, reached in every bank.
static void emit_interrupt_context()
{
    if (!interrupt_function)
        return;
    pending_psect = PS_COMMON;
    switch_psect(false);
    for (const char *name : {"saved_w", "saved_status", "saved_pclath", "saved_fsr"})
        printf("\tglobal\t%s\n%s:\n       ds      1\n", name, name);
}

// The dispatch table of calls through pointers: a call of fptable with
// the low byte of a stub's address in W (PCLATH holding the page) jumps to
// the stub, which hands its function the arguments of the call and jumps
// there. A function pointer is that low byte. The arguments wait in the
// argument block of the function's shape (callgraph.cpp), the first one in
// FSR when it is a byte (for W); the stub copies the block into the
// function's parameter block. A value wider than a byte the function
// leaves in its own parameter block: that stub calls the function and
// copies the value back into the argument block, where the caller takes it.
// (the 12-bit cores select banks by FSR's bits, the 14-bit core by STATUS')
void stub_select_frame_bank()
{
    if (frame_bank < 0 || chip.banks <= 1)
        return;
    const char *reg = chip.family == 1 ? "fsr" : "status";
    printf("\tb%cf\t%s,5\n", frame_bank & 1 ? 's' : 'c', reg);
    if (chip.banks > 2)
        printf("\tb%cf\t%s,6\n", frame_bank & 2 ? 's' : 'c', reg);
}

unsigned stub_copy(const std::string &from, const std::string &to, uint32_t bytes)
{
    for (uint32_t i = 0; i < bytes; i++)
        printf("\tmovf\t%s+%u,w\n\tmovwf\t%s+%u\n", from.c_str(), i, to.c_str(), i);
    return 2 * bytes;
}

static void emit_function_table()
{
    vector_t *targets = pointed_functions();
    std::vector<cg_symbol *> used;
    for (uint32_t i = 0; i < vec_count(targets); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(targets, i);
        if (f->cgraph && f->cgraph->generated)
            used.push_back(f);
    }
    vector_t *blocks = fpblocks_called();
    if (used.empty() && !vec_count(blocks)) {
        vec_free(blocks);
        return;
    }
    // on the 12-bit cores in jmp_tab, where a computed jump lands
    pending_psect = chip.family == 1 ? PS_JMP_TAB : PS_FUNCTAB;
    switch_psect(false);
    printf("\tglobal\tfptable\nfptable:\n\tmovwf\tpcl\n");
    // the blocks' names, which the call graph's lines name, are labels here
    for (uint32_t i = 0; i < vec_count(blocks); i++) {
        cg_symbol *b = (cg_symbol *)vec_get(blocks, i);
        printf("\tglobal\t%s\n%s:\n", sym_asm_name(b), sym_asm_name(b));
        if (b->params_size)
            printf("\tglobal\t?%s\n", sym_asm_name(b));
    }
    if (chip.family == 1) {
        emit_function_stubs12(used, blocks);
        vec_free(blocks);
        return;
    }
    unsigned words = 1;
    unsigned bank_words = frame_bank >= 0 && chip.banks > 1 ? (chip.banks > 2 ? 2 : 1) : 0;
    for (cg_symbol *f : used) {
        const char *name = sym_asm_name(f);
        cg_symbol *first = f->params && vec_count(f->params) ? (cg_symbol *)vec_get(f->params, 0) : nullptr;
        bool in_w = first && (first->flags & SF_INREG) && first->reg == REG_WREG;
        // no call goes through a pointer of its shape: only the address is used
        cg_symbol *block = fpblock_of_function(f);
        bool called = vec_index_of(blocks, block) != UINT32_MAX;
        std::string from = std::string("?") + sym_asm_name(block), to = std::string("?") + name;
        printf("\tglobal\tfp%s\nfp%s:\n", name, name);
        if (called && fpblock_args(block)) {
            stub_select_frame_bank();
            words += bank_words + stub_copy(from, to, fpblock_args(block));
        }
        if (in_w)
            printf("\tmovf\tfsr,w\n");
        words += in_w ? 1 : 0;
        if (called && fpblock_calls_function(block)) {
            type_desc *ft = type_unqualify(f->type);
            uint32_t value = type_size(ft->sub);
            printf("\tfcall\t%s\n", name);
            stub_select_frame_bank();
            words += 3 + bank_words + stub_copy(to, from, value) + 1;
            printf("\treturn\n");
        } else {
            printf("\tljmp\t%s\n", name);
            words += 3;
        }
    }
    vec_free(blocks);
    if (words > 256) {
        sym_set_position(used.back());
        msg_report(1490, "more functions called through pointers than one page of the dispatch table holds");
    }
}

void data_output()
{
    emit_interrupt_context();
    emit_function_table();
    for (cg_symbol *s : list_persist)
        if (s->flags & SF_ABSOLUTE)
            emit_absolute(s);
    for (cg_symbol *s : list_persist)
        if (!(s->flags & SF_ABSOLUTE))
            emit_uninitialised(s);
    for (cg_symbol *s : list_bss)
        emit_uninitialised(s);
    emit_initialised();
    emit_constants();
    emit_jump_table();
}

void place_reset()
{
    list_persist.clear();
    list_bss.clear();
    list_data.clear();
    list_const.clear();
    images.clear();
    data_bank = BANK_NONE;
    compiled_stack_size = 0;
    place_rounds = 0;
    frame_bank = BANK_COMMON;
}
