// Chained hash table with caller-given hash and compare functions.
//
// Entries are appended at the END of their bucket's chain, so walks list the
// entries of one bucket in insertion order: several programs print tables in
// walk order, so that order is part of their output. Entries come from one
// free list shared by every table of the program and are never given back to
// the heap, because the programs create and clear many small tables.
#include "common.h"

#include <cstdlib>
#include <cstring>

// Head of the shared free list of released entries.
static hash_entry_t *free_entries;
// Length of that list.
static uint32_t free_count;

hash_entry_t *hash_entry_take()
{
    hash_entry_t *e = free_entries;
    if (!e)
        return static_cast<hash_entry_t *>(xmalloc(sizeof(hash_entry_t)));
    free_entries = e->next;
    free_count--;
    e->next = nullptr;
    e->key = e->value = nullptr;
    return e;
}

void hash_entry_release(hash_entry_t *e)
{
    e->key = e->value = nullptr;
    e->next = free_entries;
    free_entries = e;
    free_count++;
}

uint32_t hash_free_list_length() { return free_count; }

uint32_t hash_ptr_hash(const void *key) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key)); }
int hash_ptr_compare(const void *given, const void *stored) { return given == stored ? 0 : 1; }
uint32_t hash_str_hash(const void *key) { return hash_string(static_cast<const char *>(key)); }

int hash_str_compare(const void *given, const void *stored)
{
    return strcmp(static_cast<const char *>(given), static_cast<const char *>(stored));
}

hash_t *hash_new(uint32_t size, hash_fn_t hash, hash_compare_t compare)
{
    CM_ASSERT(size != 0, "hash", 69);
    hash_t *h = static_cast<hash_t *>(xmalloc(sizeof(hash_t)));
    h->bucket_count = size;
    h->hash = hash ? hash : hash_ptr_hash;
    h->compare = compare ? compare : hash_ptr_compare;
    h->buckets = static_cast<hash_entry_t **>(xmalloc(sizeof(hash_entry_t *) * size));
    return h;
}

static hash_entry_t **hash_bucket(const hash_t *h, const void *key)
{
    return &h->buckets[h->hash(key) % h->bucket_count];
}

int hash_insert(hash_t *h, void *key, void *value)
{
    hash_entry_t **link = hash_bucket(h, key);
    for (; *link; link = &(*link)->next)
        if (h->compare(key, (*link)->key) == 0)
            return 0;
    hash_entry_t *e = hash_entry_take();
    e->key = key;
    e->value = value;
    *link = e;
    h->entry_count++;
    return 1;
}

void *hash_lookup(const hash_t *h, const void *key)
{
    for (hash_entry_t *e = *hash_bucket(h, key); e; e = e->next)
        if (h->compare(key, e->key) == 0)
            return e->value;
    return nullptr;
}

void *hash_remove(hash_t *h, const void *key)
{
    for (hash_entry_t **link = hash_bucket(h, key); *link; link = &(*link)->next) {
        hash_entry_t *e = *link;
        if (h->compare(key, e->key) == 0) {
            void *value = e->value;
            *link = e->next;
            hash_entry_release(e);
            h->entry_count--;
            return value;
        }
    }
    return nullptr;
}

uint32_t hash_count(const hash_t *h) { return h->entry_count; }

int hash_walk(const hash_t *h, void *ctx, hash_walk_fn_t fn)
{
    for (uint32_t b = 0; b < h->bucket_count; b++)
        for (hash_entry_t *e = h->buckets[b]; e; e = e->next)
            if (int r = fn(ctx, e->key, e->value))
                return r;
    return 0;
}

static int hash_collect_value(void *ctx, void *, void *value)
{
    vec_push(static_cast<vector_t *>(ctx), value);
    return 0;
}

static int hash_collect_key(void *ctx, void *key, void *)
{
    vec_push(static_cast<vector_t *>(ctx), key);
    return 0;
}

vector_t *hash_values(const hash_t *h)
{
    vector_t *v = vec_new_default();
    hash_walk(h, v, hash_collect_value);
    return v;
}

vector_t *hash_keys(const hash_t *h)
{
    vector_t *v = vec_new_default();
    hash_walk(h, v, hash_collect_key);
    return v;
}

void hash_clear(hash_t *h)
{
    for (uint32_t b = 0; b < h->bucket_count; b++) {
        hash_entry_t *e = h->buckets[b];
        while (e) {
            hash_entry_t *next = e->next;
            hash_entry_release(e);
            e = next;
        }
        h->buckets[b] = nullptr;
    }
    h->entry_count = 0;
}

void hash_free(hash_t *h)
{
    if (!h)
        return;
    hash_clear(h);
    free(h->buckets);
    free(h);
}

// Copies src's chains, in order, into dst's empty buckets of the same count.
static void hash_copy_chains(hash_t *dst, const hash_t *src)
{
    for (uint32_t b = 0; b < src->bucket_count; b++) {
        hash_entry_t **tail = &dst->buckets[b];
        for (hash_entry_t *e = src->buckets[b]; e; e = e->next) {
            hash_entry_t *c = hash_entry_take();
            c->key = e->key;
            c->value = e->value;
            *tail = c;
            tail = &c->next;
        }
    }
    dst->entry_count = src->entry_count;
}

hash_t *hash_dup(const hash_t *h)
{
    hash_t *d = hash_new(h->bucket_count, h->hash, h->compare);
    hash_copy_chains(d, h);
    return d;
}

hash_t *hash_assign(hash_t *dst, const hash_t *src)
{
    if (!src) {
        hash_free(dst);
        return nullptr;
    }
    if (!dst)
        return hash_dup(src);
    if (dst == src)
        return dst; // clearing it first would leave nothing to copy
    hash_clear(dst);
    if (dst->bucket_count != src->bucket_count) {
        free(dst->buckets);
        dst->buckets = static_cast<hash_entry_t **>(xmalloc(sizeof(hash_entry_t *) * src->bucket_count));
        dst->bucket_count = src->bucket_count;
    }
    dst->hash = src->hash;
    dst->compare = src->compare;
    hash_copy_chains(dst, src);
    return dst;
}

uint32_t hash_string(const char *text)
{
    uint32_t h = 0;
    const signed char *p = reinterpret_cast<const signed char *>(text);
    do
        h = 2 * h + static_cast<uint32_t>(static_cast<int32_t>(*p));
    while (*p++);
    return h;
}
