// Range lists, memory spaces and classes, free-space queries and allocation.
//
// A range list is a singly linked list of inclusive ranges kept sorted by
// address. Adding a range walks the list once per piece: a range already
// covered is skipped, one that overlaps a node on one side (or touches it,
// when merging) is widened to the union and added again, one that swallows a
// node removes it and is added again. Set differences and intersections build
// new lists through the same adder. A class keeps three lists (available,
// used, reserved); free space is always computed afresh from them.
#include "ranges.h"

#include <cstring>
#include <strings.h>

#define LISTS_ASSERT(e) CM_ASSERT(e, "lists", __LINE__)

// Unit kinds, indexed by the unit field of spaces, classes and entries.
const range_unit range_units[RANGE_UNIT_COUNT] = {
    //  text     width
    {"unit", 1},
    {"bit", 8},
    {"byte", 1},
    {"word", 1},
    {"byte", 2},
};

// Block handed back by range_largest_free.
static range_block largest_block;
// Block handed back by range_alloc.
static range_block alloc_block;

// ---------------------------------------------------------------------------
// range lists
// ---------------------------------------------------------------------------

static range_node *node_new(uint32_t lo, uint32_t hi, range_node *next)
{
    auto *n = static_cast<range_node *>(xmalloc(sizeof(range_node)));
    n->lo = lo;
    n->hi = hi;
    n->next = next;
    return n;
}

// Where one piece lo..hi stands against node c of the list.
enum piece_place {
    PLACE_COVERED,  // c already holds the whole piece
    PLACE_UNION,    // overlaps c on one side, or touches it while merging
    PLACE_BEFORE,   // wholly before c
    PLACE_AFTER,    // wholly after c
    PLACE_SWALLOWS, // contains c
};

static piece_place piece_against(uint32_t lo, uint32_t hi, const range_node *c, int merge)
{
    if (c->lo <= lo && hi <= c->hi)
        return PLACE_COVERED;
    if (merge) {
        // The guards keep a range at either end of the address space from
        // "touching" one at the other end.
        if (c->lo != 0 && hi == c->lo - 1)
            return PLACE_UNION;
        if (c->hi != 0xFFFFFFFFu && lo == c->hi + 1)
            return PLACE_UNION;
    }
    if (hi < c->lo)
        return PLACE_BEFORE;
    if (lo > c->hi)
        return PLACE_AFTER;
    if (lo <= c->lo && c->hi <= hi)
        return PLACE_SWALLOWS;
    return PLACE_UNION;
}

// Places one piece lo..hi. Returns false when the piece grew into the union
// with a node (that node is then gone and *lo / *hi_all hold the union, to be
// added again from its low end).
static bool list_place_piece(range_node **head, uint32_t lo, uint32_t hi, uint32_t *lo_all,
                             uint32_t *hi_all, int merge)
{
    range_node **link = head;
    for (;;) {
        range_node *c = *link;
        if (!c) {
            *link = node_new(lo, hi, nullptr);
            return true;
        }
        switch (piece_against(lo, hi, c, merge)) {
        case PLACE_COVERED:
            return true;
        case PLACE_BEFORE:
            *link = node_new(lo, hi, c);
            return true;
        case PLACE_AFTER:
            link = &c->next;
            break;
        case PLACE_UNION:
            // The node is dropped here: the union covers it, and adding the
            // union while the node still stood would meet it again forever.
            *lo_all = lo < c->lo ? lo : c->lo;
            *hi_all = *hi_all > c->hi ? *hi_all : c->hi;
            *link = c->next;
            free(c);
            return false;
        case PLACE_SWALLOWS:
            *link = c->next;
            free(c);
            break;
        }
    }
}

void range_list_add(range_node **head, uint32_t lo, uint32_t hi, uint32_t piece, int merge)
{
    LISTS_ASSERT(head != nullptr);
    LISTS_ASSERT((int64_t)hi - (int64_t)lo + 1 >= 0);
    int64_t size = (int64_t)hi - lo + 1;
    while (size > 0) {
        int64_t part = (piece != 0 && piece <= size) ? piece : size;
        uint32_t part_hi = lo + (uint32_t)(part - 1);
        if (!list_place_piece(head, lo, part_hi, &lo, &hi, merge)) {
            size = (int64_t)hi - lo + 1; // restart with the union
            continue;
        }
        // A piece already covered is skipped; the later pieces still go in.
        if (part == size)
            break;
        lo = part_hi + 1;
        size -= part;
    }
}

range_node *range_list_copy(const range_node *list)
{
    range_node *head = nullptr;
    range_node **tail = &head;
    for (; list; list = list->next) {
        *tail = node_new(list->lo, list->hi, nullptr);
        tail = &(*tail)->next;
    }
    return head;
}

void range_list_free(range_node *list)
{
    while (list) {
        range_node *next = list->next;
        free(list);
        list = next;
    }
}

uint32_t range_list_free_size(range_node *list)
{
    uint32_t total = 0;
    for (const range_node *n = list; n; n = n->next)
        total += n->hi - n->lo + 1;
    range_list_free(list);
    return total;
}

// Merge walk over both sorted lists: the parts of each range of a that no
// range of b covers.
range_node *range_list_minus(const range_node *a, const range_node *b)
{
    range_node *result = nullptr;
    for (; a; a = a->next) {
        while (b && b->hi < a->lo)
            b = b->next;
        uint64_t from = a->lo;
        for (const range_node *c = b; c && c->lo <= a->hi; c = c->next) {
            if (c->lo > from)
                range_list_add(&result, (uint32_t)from, c->lo - 1, 0, 0);
            if ((uint64_t)c->hi + 1 > from)
                from = (uint64_t)c->hi + 1;
        }
        if (from <= a->hi)
            range_list_add(&result, (uint32_t)from, a->hi, 0, 0);
    }
    return result;
}

range_node *range_list_intersect(const range_node *a, const range_node *b)
{
    range_node *result = nullptr;
    for (; a; a = a->next)
        for (const range_node *c = b; c; c = c->next) {
            uint32_t lo = a->lo > c->lo ? a->lo : c->lo;
            uint32_t hi = a->hi < c->hi ? a->hi : c->hi;
            if (lo <= hi)
                range_list_add(&result, lo, hi, 0, 0);
        }
    return result;
}

// ---------------------------------------------------------------------------
// spaces and classes
// ---------------------------------------------------------------------------

range_space *range_space_new(range_space **chain_head, const char *name, const char *description,
                             uint8_t unit)
{
    LISTS_ASSERT(chain_head != nullptr);
    auto *s = static_cast<range_space *>(xmalloc(sizeof(range_space)));
    s->name = xstrdup(name ? name : "");
    s->description = xstrdup(description ? description : "");
    s->unit = unit;
    range_space **link = chain_head;
    while (*link)
        link = &(*link)->next;
    *link = s;
    return s;
}

range_space *range_find_space(range_space *chain, const char *name)
{
    if (!name)
        return nullptr;
    for (; chain; chain = chain->next)
        if (strcasecmp(chain->name, name) == 0)
            return chain;
    return nullptr;
}

range_class *range_class_get(range_space *space, const char *name, uint8_t unit, uint32_t load,
                             uint32_t split)
{
    LISTS_ASSERT(space != nullptr);
    range_class **link = &space->classes;
    for (; *link; link = &(*link)->next)
        if (strcmp((*link)->name, name) == 0)
            return *link;
    auto *c = static_cast<range_class *>(xmalloc(sizeof(range_class)));
    c->name = xstrdup(name);
    c->unit = unit;
    c->load = load;
    c->split = split;
    c->space = space;
    *link = c;
    return c;
}

range_class *range_find_class(range_space *chain, const char *name)
{
    if (!name)
        return nullptr;
    for (; chain; chain = chain->next)
        for (range_class *c = chain->classes; c; c = c->next)
            if (strcmp(c->name, name) == 0)
                return c;
    return nullptr;
}

static range_node **class_list(range_class *cls, int which)
{
    switch (which) {
    case RANGE_AVAILABLE:
        return &cls->available;
    case RANGE_USED:
        return &cls->used;
    case RANGE_RESERVED:
        return &cls->reserved;
    default:
        return nullptr;
    }
}

void range_class_add(range_class *cls, int which, uint32_t lo, uint32_t hi, uint32_t piece)
{
    range_node **list = cls ? class_list(cls, which) : nullptr;
    if (list)
        range_list_add(list, lo, hi, piece, piece == 0);
}

void range_space_add(range_space *space, int which, uint32_t lo, uint32_t hi, uint32_t piece)
{
    for (range_class *c = space ? space->classes : nullptr; c; c = c->next)
        range_class_add(c, which, lo, hi, piece);
}

void range_class_add_repeated(range_class *cls, int which, uint32_t lo, uint32_t hi, uint32_t stride)
{
    range_node **list = cls ? class_list(cls, which) : nullptr;
    if (!list || stride == 0)
        return;
    uint32_t top = range_class_top(cls);
    while (lo < top) {
        range_list_add(list, lo, hi, stride, 0);
        if (hi > 0xFFFFFFFFu - stride)
            break;
        lo += stride;
        hi += stride;
    }
}

uint32_t range_class_top(const range_class *cls)
{
    uint32_t top = 0;
    for (const range_node *n = cls ? cls->available : nullptr; n; n = n->next)
        if (n->hi > top)
            top = n->hi;
    return top;
}

bool range_contains(const range_class *cls, uint32_t address)
{
    for (const range_node *n = cls ? cls->available : nullptr; n; n = n->next)
        if (n->lo <= address && address <= n->hi)
            return true;
    return false;
}

void range_space_commit(range_space *space)
{
    for (range_class *c = space ? space->classes : nullptr; c; c = c->next) {
        for (const range_node *n = c->reserved; n; n = n->next)
            range_space_add(space, RANGE_USED, n->lo, n->hi, 0);
        range_list_free(c->reserved);
        c->reserved = nullptr;
    }
}

void range_space_discard(range_space *space)
{
    for (range_class *c = space ? space->classes : nullptr; c; c = c->next) {
        range_list_free(c->reserved);
        c->reserved = nullptr;
    }
}

void range_class_clear(range_class *cls)
{
    if (!cls)
        return;
    range_list_free(cls->available);
    range_list_free(cls->used);
    range_list_free(cls->reserved);
    cls->available = cls->used = cls->reserved = nullptr;
}

void range_space_clear(range_space *space)
{
    if (!space)
        return;
    for (range_class *c = space->classes; c; c = c->next)
        range_class_clear(c);
    space->cleared = 1;
}

void range_class_intersect(range_class *cls, const range_class *other, int take_used)
{
    if (!cls || !other || !cls->available || !other->available)
        return;
    range_node *both = range_list_intersect(cls->available, other->available);
    range_list_free(cls->available);
    cls->available = both;
    if (take_used) {
        // A copy: two classes holding the same nodes would free them twice.
        range_list_free(cls->used);
        cls->used = range_list_copy(other->used);
    }
}

void range_node_replace(range_space **chain_head, range_space *old_space, range_space *new_space)
{
    for (range_space **link = chain_head; link && *link; link = &(*link)->next)
        if (*link == old_space) {
            new_space->next = old_space->next;
            *link = new_space;
            free(old_space->description);
            free(old_space);
            return;
        }
}

void range_space_unlink(range_space **chain_head, range_space *space)
{
    for (range_space **link = chain_head; link && *link; link = &(*link)->next)
        if (*link == space) {
            *link = space->next;
            free(space->description);
            free(space);
            return;
        }
}

range_class *range_class_list_copy(const range_class *classes)
{
    range_class *head = nullptr;
    range_class **tail = &head;
    for (; classes; classes = classes->next) {
        auto *c = static_cast<range_class *>(xmalloc(sizeof(range_class)));
        *c = *classes;
        c->name = xstrdup(classes->name);
        c->available = range_list_copy(classes->available);
        c->used = range_list_copy(classes->used);
        // The reserved list is copied as well: sharing it would free it
        // twice when both chains are freed.
        c->reserved = range_list_copy(classes->reserved);
        c->next = nullptr;
        *tail = c;
        tail = &c->next;
    }
    return head;
}

range_space *range_space_list_copy(const range_space *spaces)
{
    range_space *head = nullptr;
    range_space **tail = &head;
    for (; spaces; spaces = spaces->next) {
        auto *s = static_cast<range_space *>(xmalloc(sizeof(range_space)));
        *s = *spaces;
        s->name = xstrdup(spaces->name);
        s->description = xstrdup(spaces->description);
        s->classes = range_class_list_copy(spaces->classes);
        for (range_class *c = s->classes; c; c = c->next)
            c->space = s;
        s->next = nullptr;
        *tail = s;
        tail = &s->next;
    }
    return head;
}

void range_class_list_free(range_class *classes)
{
    while (classes) {
        range_class *next = classes->next;
        range_class_clear(classes);
        free(classes->name);
        free(classes);
        classes = next;
    }
}

void range_space_list_free(range_space *spaces)
{
    while (spaces) {
        range_space *next = spaces->next;
        range_class_list_free(spaces->classes);
        free(spaces->name);
        free(spaces->description);
        free(spaces);
        spaces = next;
    }
}

// ---------------------------------------------------------------------------
// free space and allocation
// ---------------------------------------------------------------------------

// Available less used: the free addresses of a class (a new list).
static range_node *class_free_list(const range_class *cls)
{
    return cls ? range_list_minus(cls->available, cls->used) : nullptr;
}

// Available less used less reserved: what an allocation may take.
static range_node *class_allocatable_list(const range_class *cls)
{
    range_node *free_list = class_free_list(cls);
    range_node *result = range_list_minus(free_list, cls ? cls->reserved : nullptr);
    range_list_free(free_list);
    return result;
}

uint32_t range_lowest_free(const range_class *cls)
{
    range_node *free_list = class_free_list(cls);
    uint32_t lowest = free_list ? free_list->lo : RANGE_NONE;
    range_list_free(free_list);
    return lowest;
}

uint32_t range_highest_free(const range_class *cls)
{
    range_node *free_list = class_free_list(cls);
    uint32_t highest = 0;
    for (const range_node *n = free_list; n; n = n->next)
        highest = n->hi;
    range_list_free(free_list);
    return highest;
}

uint32_t range_free_size(const range_class *cls)
{
    return range_list_free_size(class_free_list(cls));
}

uint32_t range_space_free_size(const range_space *space)
{
    uint32_t total = 0;
    for (const range_class *c = space ? space->classes : nullptr; c; c = c->next)
        total += range_free_size(c);
    return total;
}

const range_block *range_largest_free(const range_class *cls)
{
    range_node *free_list = class_allocatable_list(cls);
    largest_block = {0, 0xFFFFFFFFu};
    uint64_t best = 0;
    for (const range_node *n = free_list; n; n = n->next) {
        uint64_t size = (uint64_t)n->hi - n->lo + 1;
        if (size > best) {
            best = size;
            largest_block = {n->lo, n->hi};
        }
    }
    range_list_free(free_list);
    return &largest_block;
}

// 1. free = available less used less reserved; 2. the first block of
// exactly `size`; 3. else the first larger block, taken at its low end (high
// end with from_top); 4. none: null.
const range_block *range_alloc(range_space *space, range_class *cls, uint32_t size, int action,
                               int from_top)
{
    range_node *free_list = class_allocatable_list(cls);
    const range_node *found = nullptr;
    for (const range_node *n = free_list; n && !found; n = n->next)
        if ((uint64_t)n->hi - n->lo + 1 == size)
            found = n;
    for (const range_node *n = free_list; n && !found; n = n->next)
        if ((uint64_t)n->hi - n->lo + 1 > size)
            found = n;
    if (!found || size == 0) {
        range_list_free(free_list);
        return nullptr;
    }
    alloc_block = {found->lo, found->hi};
    range_list_free(free_list);
    switch (action) {
    case RANGE_ALLOC_USE:
    case RANGE_ALLOC_RESERVE:
        if (from_top)
            alloc_block.lo = alloc_block.hi - (size - 1);
        else
            alloc_block.hi = alloc_block.lo + (size - 1);
        range_space_add(space, action, alloc_block.lo, alloc_block.hi, 0);
        return &alloc_block;
    case RANGE_ALLOC_PROBE:
        return &alloc_block;
    default:
        msg_report(1478, action);
        return nullptr;
    }
}

const range_block *range_alloc_any(range_space *space, range_class *cls, uint32_t size, int action)
{
    return range_alloc(space, cls, size, action, 0);
}

double range_percent(uint32_t part, uint32_t whole)
{
    return whole == 0 ? 0.0 : (double)part / (double)whole * 100.0;
}
