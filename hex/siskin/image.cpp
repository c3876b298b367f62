// The memory image: 64-byte blocks in a doubly linked list kept in address
// order. The block at 0 always exists; others appear, zero-filled and unused,
// when a byte is first stored in them. Lookups start from the block found
// last and walk forward or back from it, so the runs of neighbouring
// addresses that every producer stores cost one step per block.
//
// image_store is the single door into the image: masks first, then the rule
// that decides whether the new byte replaces the old one, stays out quietly,
// or is a conflict.
#include "siskin.h"

#include "common.h"

static sk_block *head;      // block at address 0
static sk_block *last;      // block found by the latest lookup

// Letters and texts of the legend, indexed by kind (inputs take their texts
// from the argument that named them).
static const struct {
    char letter;
    const char *text;
} legend[SK_KIND_COUNT] = {
    /* SK_UNUSED   */ {'-', "Unused memory"},
    /* SK_FILL     */ {'F', "Filled ROM"},
    /* SK_SERIAL   */ {'S', "Stored serial code"},
    /* SK_STRING   */ {'A', "Stored ASCII string"},
    /* SK_RESERVED */ {'R', "Reserved for checksum"},
    /* SK_RESULT   */ {'C', "Stored checksum result"},
    /* SK_TRAILING */ {'T', "Trailing code"},
    /* SK_REPLACED */ {'&', "Find & replace opcode"},
    /* SK_DELETED  */ {'X', "Find & delete opcode"},
    /* input 1     */ {'1', nullptr},
    /* input 2     */ {'2', nullptr},
    /* input 3     */ {'3', nullptr},
    /* input 4     */ {'4', nullptr},
    /* input 5     */ {'5', nullptr},
};

char kind_letter(unsigned kind)
{
    return kind < SK_KIND_COUNT ? legend[kind].letter : '?';
}

const char *kind_text(unsigned kind)
{
    if (kind >= SK_KIND_COUNT)
        return "";
    if (kind >= SK_INPUT) {
        unsigned i = kind - SK_INPUT;
        return i < inputs.size() ? inputs[i].arg.c_str() : "";
    }
    return legend[kind].text;
}

static sk_block *block_new(uint32_t base)
{
    auto *b = static_cast<sk_block *>(xmalloc(sizeof(sk_block)));
    b->base = base;
    return b;
}

void image_init()
{
    head = block_new(0);
    last = head;
}

void image_free()
{
    while (head) {
        sk_block *next = head->next;
        free(head);
        head = next;
    }
    last = nullptr;
}

sk_block *image_first()
{
    return head;
}

// Walks from the last block found to the block that holds or would hold
// `base`; returns the block at or before that place (never null).
static sk_block *image_locate(uint32_t base)
{
    sk_block *b = last ? last : head;
    while (b->base > base)
        b = b->prev;
    while (b->next && b->next->base <= base)
        b = b->next;
    last = b;
    return b;
}

sk_block *image_find(uint32_t addr)
{
    uint32_t base = addr - addr % SK_BLOCK_SIZE;
    sk_block *b = image_locate(base);
    return b->base == base ? b : nullptr;
}

sk_block *image_block_from(uint32_t addr)
{
    uint32_t base = addr - addr % SK_BLOCK_SIZE;
    sk_block *b = image_locate(base);
    return b->base == base ? b : b->next;
}

// The block for addr, created and linked in when it is missing.
static sk_block *image_block_for(uint32_t addr)
{
    uint32_t base = addr - addr % SK_BLOCK_SIZE;
    sk_block *b = image_locate(base);
    if (b->base == base)
        return b;
    sk_block *n = block_new(base);
    n->prev = b;
    n->next = b->next;
    if (b->next)
        b->next->prev = n;
    b->next = n;
    last = n;
    return n;
}

uint8_t image_kind_at(uint32_t addr)
{
    sk_block *b = image_find(addr);
    return b ? b->slots[addr % SK_BLOCK_SIZE].kind : (uint8_t)SK_UNUSED;
}

uint8_t image_data_at(uint32_t addr)
{
    sk_block *b = image_find(addr);
    return b ? b->slots[addr % SK_BLOCK_SIZE].data : 0;
}

static uint8_t mask_apply(uint32_t addr, uint8_t data)
{
    for (const sk_pattern_range &m : masks)
        if (addr >= m.start && addr <= m.end)
            data &= m.pattern[addr % m.length];
    return data;
}

// The store rule:
// 1. masks act on the byte;
// 2. two forced stores of different data warn (962), the later one wins;
// 3. the byte is written over unused memory, by a checksum result, a replace
//    or a delete, or by a forced store;
// 4. otherwise different data is a conflict (944), unless the new byte is a
//    fill or the old one was forced: those leave the old byte quietly.
void image_store(uint32_t addr, uint8_t data, uint8_t kind)
{
    data = mask_apply(addr, data);
    sk_block *b = image_block_for(addr);
    sk_slot &s = b->slots[addr % SK_BLOCK_SIZE];
    unsigned old_kind = kind_of(s.kind);
    unsigned new_kind = kind_of(kind);
    bool new_forced = (kind & SK_FORCED) != 0;
    bool old_forced = (s.kind & SK_FORCED) != 0;

    if (new_forced && old_forced && data != s.data)
        msg_report(962, (unsigned)addr, kind_text(old_kind), kind_text(new_kind));
    if (old_kind == SK_UNUSED || new_kind == SK_RESULT || new_kind == SK_REPLACED ||
        new_forced || new_kind == SK_DELETED) {
        s.data = data;
        s.kind = kind;
        return;
    }
    if (new_kind != SK_FILL && !old_forced && data != s.data)
        msg_report(944, (unsigned)addr, kind_text(old_kind), kind_text(new_kind));
}

uint64_t image_data_count()
{
    uint64_t n = 0;
    for (sk_block *b = head; b; b = b->next)
        for (const sk_slot &s : b->slots)
            if (kind_of(s.kind) != SK_UNUSED && kind_of(s.kind) != SK_DELETED)
                n++;
    return n;
}
