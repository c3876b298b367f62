// Set objects: sets of registers, temporaries and record pointers.
//
// Elements below 32 (the registers and register classes) live in a bit mask,
// so the operations the matcher runs for every pattern are word operations.
// Larger elements go into a small hash table of the common library, made on
// first need. Iteration yields mask bits in order and then the hash elements
// sorted ascending (as signed values). Released set records are kept on a
// bounded free list, since sets are made and dropped for every statement.
#include "kestrel.h"

#include <cstdlib>

// Released set records waiting for reuse.
static vector_t *free_sets;
// Most records the free list keeps.
static const uint32_t FREE_SETS_MAX = 1024;
// Buckets of a set's hash table.
static const uint32_t SET_BUCKETS = 13;

static uint32_t elem_of(void *p) { return (uint32_t)(uintptr_t)p; }
static void *as_key(uint32_t n) { return (void *)(uintptr_t)n; }

uint32_t objset_free_list_length() { return free_sets ? vec_count(free_sets) : 0; }

objset *objset_new()
{
    if (free_sets && vec_count(free_sets))
        return (objset *)vec_pop(free_sets);
    return (objset *)xmalloc(sizeof(objset));
}

void objset_free(objset *s)
{
    if (!s)
        return;
    objset_clear(s);
    objset_iter_reset(s);
    if (!free_sets)
        free_sets = vec_new(64);
    if (vec_count(free_sets) >= FREE_SETS_MAX) {
        free(s);
        return;
    }
    vec_push(free_sets, s);
}

static void table_insert(objset *s, uint32_t n)
{
    if (!s->table)
        s->table = hash_new(SET_BUCKETS, hash_ptr_hash, hash_ptr_compare);
    if (!hash_lookup(s->table, as_key(n)))
        hash_insert(s->table, as_key(n), as_key(n));
}

objset *objset_copy(const objset *s)
{
    objset *c = objset_new();
    if (s) {
        c->mask = s->mask;
        if (s->table && hash_count(s->table))
            c->table = hash_dup(s->table);
    }
    return c;
}

void objset_assign(objset *a, const objset *b)
{
    objset_clear(a);
    if (!b)
        return;
    a->mask = b->mask;
    if (b->table && hash_count(b->table))
        a->table = hash_dup(b->table);
}

uint32_t objset_add(objset *s, uint32_t n)
{
    if (n < 32) {
        s->mask |= 1u << n;
        return 1u << n;
    }
    table_insert(s, n);
    return 1;
}

int objset_remove(objset *s, uint32_t n)
{
    if (n < 32) {
        int was = (s->mask >> n) & 1;
        s->mask &= ~(1u << n);
        return was;
    }
    if (s->table && hash_lookup(s->table, as_key(n))) {
        hash_remove(s->table, as_key(n));
        return 1;
    }
    return 0;
}

int objset_contains(const objset *s, uint32_t n)
{
    if (!s)
        return 0;
    if (n < 32)
        return (s->mask >> n) & 1;
    return s->table && hash_lookup(s->table, as_key(n)) != nullptr;
}

// The hash elements of a set as a vector (caller frees), or null.
static vector_t *hash_elems(const objset *s)
{
    if (!s || !s->table || !hash_count(s->table))
        return nullptr;
    return hash_keys(s->table);
}

void objset_union_with(objset *a, const objset *b)
{
    if (!b)
        return;
    a->mask |= b->mask;
    vector_t *v = hash_elems(b);
    for (uint32_t i = 0; v && i < vec_count(v); i++)
        table_insert(a, elem_of(vec_get(v, i)));
    vec_free(v);
}

objset *objset_union(const objset *a, const objset *b)
{
    objset *r = objset_copy(a);
    objset_union_with(r, b);
    return r;
}

void objset_intersect_with(objset *a, const objset *b)
{
    a->mask &= b ? b->mask : 0;
    if (!b || !b->table || !hash_count(b->table)) {
        if (a->table)
            hash_free(a->table);
        a->table = nullptr;
        return;
    }
    vector_t *v = hash_elems(a);
    for (uint32_t i = 0; v && i < vec_count(v); i++) {
        uint32_t n = elem_of(vec_get(v, i));
        if (!objset_contains(b, n))
            hash_remove(a->table, as_key(n));
    }
    vec_free(v);
}

objset *objset_intersection(const objset *a, const objset *b)
{
    objset *r = objset_copy(a);
    objset_intersect_with(r, b);
    return r;
}

void objset_subtract_with(objset *a, const objset *b)
{
    if (!b)
        return;
    a->mask &= ~b->mask;
    vector_t *v = hash_elems(b);
    for (uint32_t i = 0; v && i < vec_count(v); i++)
        objset_remove(a, elem_of(vec_get(v, i)));
    vec_free(v);
}

objset *objset_difference(const objset *a, const objset *b)
{
    objset *r = objset_copy(a);
    objset_subtract_with(r, b);
    return r;
}

void objset_toggle_with(objset *a, const objset *b)
{
    if (!b)
        return;
    a->mask ^= b->mask;
    vector_t *v = hash_elems(b);
    for (uint32_t i = 0; v && i < vec_count(v); i++) {
        uint32_t n = elem_of(vec_get(v, i));
        if (!objset_remove(a, n))
            table_insert(a, n);
    }
    vec_free(v);
}

int objset_intersects(const objset *a, const objset *b)
{
    if (!a || !b)
        return 0;
    if (a->mask & b->mask)
        return 1;
    vector_t *v = hash_elems(b);
    int found = 0;
    for (uint32_t i = 0; v && i < vec_count(v) && !found; i++)
        found = objset_contains(a, elem_of(vec_get(v, i)));
    vec_free(v);
    return found;
}

int objset_includes(const objset *a, const objset *b)
{
    return !objset_not_within(b, a);
}

int objset_not_within(const objset *a, const objset *b)
{
    if (!a)
        return 0;
    if (a->mask & ~(b ? b->mask : 0))
        return 1;
    vector_t *v = hash_elems(a);
    int outside = 0;
    for (uint32_t i = 0; v && i < vec_count(v) && !outside; i++)
        outside = !objset_contains(b, elem_of(vec_get(v, i)));
    vec_free(v);
    return outside;
}

int objset_cmp_elem(const void *a, const void *b)
{
    int32_t x = (int32_t)elem_of(*(void *const *)a);
    int32_t y = (int32_t)elem_of(*(void *const *)b);
    return x < y ? -1 : x > y;
}

// The hash elements sorted ascending (caller frees); never null.
static vector_t *sorted_hash_elems(const objset *s)
{
    vector_t *v = hash_elems(s);
    if (!v)
        return vec_new(4);
    vec_sort(v, objset_cmp_elem);
    return v;
}

int objset_equal(const objset *a, const objset *b)
{
    if ((a ? a->mask : 0) != (b ? b->mask : 0))
        return 0;
    vector_t *x = sorted_hash_elems(a), *y = sorted_hash_elems(b);
    int same = vec_count(x) == vec_count(y);
    for (uint32_t i = 0; same && i < vec_count(x); i++)
        same = vec_get(x, i) == vec_get(y, i);
    vec_free(x);
    vec_free(y);
    return same;
}

bool objset_is_empty(const objset *s)
{
    return !s || (!s->mask && (!s->table || !hash_count(s->table)));
}

uint32_t objset_count(const objset *s)
{
    if (!s)
        return 0;
    return (uint32_t)__builtin_popcount(s->mask) + (s->table ? hash_count(s->table) : 0);
}

void objset_clear(objset *s)
{
    s->mask = 0;
    if (s->table)
        hash_free(s->table);
    s->table = nullptr;
}

vector_t *objset_to_vector(const objset *s)
{
    vector_t *v = vec_new(8);
    for (uint32_t n = 0; s && n < 32; n++)
        if ((s->mask >> n) & 1)
            vec_push(v, as_key(n));
    vector_t *h = hash_elems(s);
    if (h) {
        vec_append(v, h);
        vec_free(h);
    }
    vec_sort(v, objset_cmp_elem);
    return v;
}

void objset_iter_reset(objset *s)
{
    if (s->iter)
        vec_free(s->iter);
    s->iter = nullptr;
    s->pos = 0;
}

uint32_t objset_iter_first(objset *s)
{
    objset_iter_reset(s);
    return objset_iter_next(s);
}

// Moves the position to the next mask bit at or above it; 32 when none.
static void skip_to_bit(objset *s)
{
    while (s->pos < 32 && !((s->mask >> s->pos) & 1))
        s->pos++;
}

uint32_t objset_iter_next(objset *s)
{
    skip_to_bit(s);
    if (s->pos < 32)
        return s->pos++;
    if (!s->iter)
        s->iter = sorted_hash_elems(s);
    if (!vec_has_next(s->iter))
        return 0;
    return elem_of(vec_next(s->iter));
}

uint32_t objset_iter_current(objset *s)
{
    skip_to_bit(s);
    if (s->pos < 32)
        return s->pos;
    if (!s->iter)
        s->iter = sorted_hash_elems(s);
    if (!vec_has_next(s->iter))
        return 0;
    return elem_of(vec_get(s->iter, s->iter->cursor));
}

int objset_iter_more(objset *s)
{
    return objset_iter_current(s) != 0;
}
