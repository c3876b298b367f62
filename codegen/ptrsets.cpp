// Pointer target records: which objects a pointer may address.
//
// Every pointer symbol has one record with its targets. An assignment of one
// pointer to another is recorded once per pair (with the pointer depths of
// both sides); propagation then repeats over the recorded assignments, latest
// first, handing the targets reached from each source to the records reached
// from its destination, until a pass adds nothing.
#include "kestrel.h"

#include <cstdlib>

// One recorded assignment between pointer records.
struct ptr_assign {
    ptrset *dst;
    int dst_depth;
    ptrset *src;
    int src_depth;
};
// Recorded assignments, in the order of recording.
static vector_t *assignments;
// Pairs recorded already (100 buckets), keyed by the pair.
static hash_t *pairs;

ptrset *ptrset_of(cg_symbol *s)
{
    if (!s->ptrs) {
        s->ptrs = (ptrset *)xmalloc(sizeof(ptrset));
        s->ptrs->sym = s;
        s->ptrs->targets = vec_new(4);
    }
    return s->ptrs;
}

bool ptrset_add_target(ptrset *p, cg_symbol *target)
{
    if (!p->targets)
        p->targets = vec_new(4);
    if (vec_index_of(p->targets, target) != UINT32_MAX)
        return false;
    vec_push(p->targets, target);
    return true;
}

static uint32_t pair_hash(const void *key)
{
    const ptr_assign *a = (const ptr_assign *)key;
    return (uint32_t)(((uintptr_t)a->dst >> 4) * 31 + ((uintptr_t)a->src >> 4));
}

static int pair_compare(const void *given, const void *stored)
{
    const ptr_assign *a = (const ptr_assign *)given, *b = (const ptr_assign *)stored;
    return !(a->dst == b->dst && a->src == b->src && a->dst_depth == b->dst_depth &&
             a->src_depth == b->src_depth);
}

void ptrset_link(ptrset *dst, int dst_depth, ptrset *src, int src_depth)
{
    if (!dst || !src || dst == src)
        return;
    if (!pairs) {
        pairs = hash_new(100, pair_hash, pair_compare);
        assignments = vec_new(32);
    }
    ptr_assign key = {dst, dst_depth, src, src_depth};
    if (hash_lookup(pairs, &key))
        return;
    ptr_assign *a = (ptr_assign *)xmalloc(sizeof(ptr_assign));
    *a = key;
    hash_insert(pairs, a, a);
    vec_push(assignments, a);
}

// The records reached from a record through depth - 1 levels of targets.
static void collect(ptrset *p, int depth, vector_t *out)
{
    if (!p)
        return;
    if (depth <= 1) {
        vec_push_unique(out, p);
        return;
    }
    for (uint32_t i = 0; p->targets && i < vec_count(p->targets); i++)
        collect(((cg_symbol *)vec_get(p->targets, i))->ptrs, depth - 1, out);
}

bool ptrset_propagate()
{
    bool any = false;
    for (bool added = true; added && assignments;) {
        added = false;
        for (uint32_t k = vec_count(assignments); k-- > 0;) {
            ptr_assign *a = (ptr_assign *)vec_get(assignments, k);
            vector_t *to = vec_new(4), *from = vec_new(4);
            collect(a->dst, a->dst_depth, to);
            collect(a->src, a->src_depth, from);
            for (uint32_t i = 0; i < vec_count(from); i++) {
                ptrset *s = (ptrset *)vec_get(from, i);
                for (uint32_t j = 0; j < vec_count(to); j++) {
                    ptrset *d = (ptrset *)vec_get(to, j);
                    for (uint32_t t = 0; s->targets && t < vec_count(s->targets); t++)
                        added |= ptrset_add_target(d, (cg_symbol *)vec_get(s->targets, t));
                }
            }
            vec_free(to);
            vec_free(from);
        }
        any |= added;
    }
    return any;
}

void ptrset_finish(vector_t *records)
{
    for (uint32_t i = 0; records && i < vec_count(records); i++) {
        ptrset *p = (ptrset *)vec_get(records, i);
        p->largest = 0;
        for (uint32_t t = 0; p->targets && t < vec_count(p->targets); t++) {
            cg_symbol *s = (cg_symbol *)vec_get(p->targets, t);
            s->flags |= SF_POINTED_TO;
            uint32_t size = type_size(s->type);
            if (size > p->largest)
                p->largest = size;
        }
        if (p->targets && vec_count(p->targets))
            p->flags |= PS_HAS_TARGETS;
    }
    pointer_analysis_done = 1;
}

void ptrsets_reset()
{
    assignments = nullptr;
    pairs = nullptr;
}

// Strips one pointer level (through qualifiers); null when t is no pointer.
static type_desc *pointee(type_desc *t)
{
    t = type_unqualify(t);
    return t && t->kind == TY_POINTER ? t->sub : nullptr;
}

static bool targets_compatible(type_desc *a, type_desc *b);

// Structures whose members match in order; matching pointer members are
// linked, so the pointer analysis follows the conversion.
static bool members_compatible(type_desc *a, type_desc *b)
{
    vector_t *ma = a->tag ? a->tag->members : nullptr, *mb = b->tag ? b->tag->members : nullptr;
    uint32_t na = ma ? vec_count(ma) : 0, nb = mb ? vec_count(mb) : 0;
    if (a == b)
        return true;
    if (na != nb || a->mark || b->mark)
        return na == nb;
    a->mark = b->mark = 1;
    bool ok = true;
    for (uint32_t i = 0; ok && i < na; i++) {
        cg_symbol *x = (cg_symbol *)vec_get(ma, i), *y = (cg_symbol *)vec_get(mb, i);
        ok = targets_compatible(x->type, y->type);
        if (ok && type_is(x->type, TY_POINTER))
            ptrset_link(ptrset_of(x), 1, ptrset_of(y), 1);
    }
    a->mark = b->mark = 0;
    return ok;
}

static bool targets_compatible(type_desc *a, type_desc *b)
{
    while (pointee(a) && pointee(b)) {
        a = pointee(a);
        b = pointee(b);
    }
    a = type_unqualify(a);
    b = type_unqualify(b);
    if (!a || !b)
        return a == b;
    if (a == b || type_equal(a, b))
        return true;
    if (a->kind == TY_FUNCTION && b->kind == TY_FUNCTION)
        return true;
    if (a->kind == TY_STRUCT && b->kind == TY_STRUCT)
        return members_compatible(a, b);
    if (a->kind == TY_STRUCT || b->kind == TY_STRUCT || a->kind == TY_POINTER || b->kind == TY_POINTER)
        return false;
    bool sized = a->kind != TY_ARRAY && b->kind != TY_ARRAY;
    return sized && type_size(a) == type_size(b) && type_arith_class(a) == type_arith_class(b);
}

bool ptr_conversion_check(type_desc *to, type_desc *from)
{
    bool ok = targets_compatible(to, from);
    if (!ok && codegen_warnings)
        msg_report(1264);
    return ok;
}
