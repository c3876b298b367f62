// Growable vector of pointers with two independent read cursors.
//
// The vector owns its item array, never the items. The array is allocated on
// the first growth with the initial capacity and doubles whenever it is full.
// The main cursor follows insertions and removals before it, so a loop that
// edits the vector while walking it keeps its place; the second cursor is left
// alone, for a nested walk over the same vector.
#include "common.h"

#include <cstdlib>
#include <cstring>

static void vec_grow(vector_t *v)
{
    if (v->count < v->capacity)
        return;
    uint32_t cap = v->capacity ? v->capacity * 2 : v->initial_capacity;
    void **items = static_cast<void **>(xmalloc(sizeof(void *) * cap));
    if (v->count)
        memcpy(items, v->items, sizeof(void *) * v->count);
    free(v->items);
    v->items = items;
    v->capacity = cap;
}

vector_t *vec_new(uint32_t initial)
{
    vector_t *v = static_cast<vector_t *>(xmalloc(sizeof(vector_t)));
    v->initial_capacity = initial ? initial : 1;
    return v;
}

vector_t *vec_new_default() { return vec_new(10); }

void vec_free(vector_t *v)
{
    if (!v)
        return;
    free(v->items);
    free(v);
}

vector_t *vec_dup(const vector_t *v)
{
    if (!v)
        return nullptr;
    vector_t *d = static_cast<vector_t *>(xmalloc(sizeof(vector_t)));
    *d = *v;
    d->items = nullptr;
    if (v->capacity) {
        d->items = static_cast<void **>(xmalloc(sizeof(void *) * v->capacity));
        if (v->count)
            memcpy(d->items, v->items, sizeof(void *) * v->count);
    }
    return d;
}

uint32_t vec_push(vector_t *v, void *item)
{
    CM_ASSERT(v, "vector", 83);
    vec_grow(v);
    v->items[v->count] = item;
    return v->count++;
}

void *vec_top(vector_t *v)
{
    CM_ASSERT(v->count != 0, "vector", 93);
    return v->items[v->count - 1];
}

void *vec_pop(vector_t *v)
{
    CM_ASSERT(v->count != 0, "vector", 103);
    void *item = v->items[--v->count];
    v->items[v->count] = nullptr;
    return item;
}

uint32_t vec_count(const vector_t *v) { return v ? v->count : 0; }

void *vec_get(const vector_t *v, uint32_t index)
{
    return v && index < v->count ? v->items[index] : nullptr;
}

void *vec_set(vector_t *v, void *item, uint32_t index)
{
    while (v->count <= index)
        vec_push(v, nullptr);
    v->items[index] = item;
    return item;
}

uint32_t vec_index_of(const vector_t *v, const void *item)
{
    for (uint32_t i = 0; v && i < v->count; i++)
        if (v->items[i] == item)
            return i;
    return UINT32_MAX;
}

uint32_t vec_push_unique(vector_t *v, void *item)
{
    uint32_t i = vec_index_of(v, item);
    return i != UINT32_MAX ? i : vec_push(v, item);
}

uint32_t vec_insert_at(vector_t *v, void *item, uint32_t index)
{
    vec_grow(v);
    if (index > v->count)
        index = v->count;
    if (v->cursor >= index && v->cursor < UINT32_MAX)
        v->cursor++;
    memmove(v->items + index + 1, v->items + index, sizeof(void *) * (v->count - index));
    v->items[index] = item;
    v->count++;
    return index;
}

void vec_move(vector_t *v, uint32_t from, uint32_t to)
{
    if (from >= v->count || to >= v->count || from == to)
        return;
    void *item = v->items[from];
    if (from < to)
        memmove(v->items + from, v->items + from + 1, sizeof(void *) * (to - from));
    else
        memmove(v->items + to + 1, v->items + to, sizeof(void *) * (from - to));
    v->items[to] = item;
}

int vec_remove_at(vector_t *v, uint32_t index)
{
    if (index >= v->count)
        return 0;
    v->count--;
    if (index < v->cursor)
        v->cursor--;
    memmove(v->items + index, v->items + index + 1, sizeof(void *) * (v->count - index));
    v->items[v->count] = nullptr;
    return 1;
}

int vec_remove(vector_t *v, const void *item)
{
    uint32_t i = vec_index_of(v, item);
    return i == UINT32_MAX ? 0 : vec_remove_at(v, i);
}

void vec_clear(vector_t *v) { v->count = 0; }
void vec_rewind(vector_t *v) { v->cursor = 0; }
bool vec_has_next(const vector_t *v) { return v->cursor < v->count; }

void *vec_next(vector_t *v)
{
    return v->cursor < v->count ? v->items[v->cursor++] : nullptr;
}

void *vec_current(const vector_t *v)
{
    return v->cursor < v->count ? v->items[v->cursor] : nullptr;
}

void *vec_first(vector_t *v)
{
    if (!v)
        return nullptr;
    v->cursor = 0;
    return vec_next(v);
}

void *vec_next2(vector_t *v)
{
    return v->cursor2 < v->count ? v->items[v->cursor2++] : nullptr;
}

void *vec_current2(const vector_t *v)
{
    return v->cursor2 < v->count ? v->items[v->cursor2] : nullptr;
}

void *vec_first2(vector_t *v)
{
    if (!v)
        return nullptr;
    v->cursor2 = 0;
    return vec_next2(v);
}

uint32_t vec_append(vector_t *dst, vector_t *src)
{
    CM_ASSERT(dst, "vector", 114);
    CM_ASSERT(src, "vector", 115);
    // The items there at the start: a vector appended to itself would
    // otherwise never reach its end.
    uint32_t n = src->count;
    vec_rewind(src);
    for (uint32_t i = 0; i < n; i++)
        vec_push(dst, vec_next(src));
    return n;
}

uint32_t vec_merge_unique(vector_t *dst, vector_t *src)
{
    CM_ASSERT(dst, "vector", 143);
    CM_ASSERT(src, "vector", 144);
    vec_rewind(src);
    while (vec_has_next(src))
        vec_push_unique(dst, vec_next(src));
    return src->count;
}

void vec_sort(vector_t *v, vec_compare_t compare)
{
    if (v->count)
        os_qsort(v->items, v->count, sizeof(void *), compare);
}
