// Doubly linked list of untyped pointers: the driver's container where items
// go in at both ends and in the middle, lists are split and joined, and walks
// run both ways (the argument lists of the phase runner). The list owns its
// nodes only; the items belong to the caller.
#include "zeph.h"

static llist_node *node_new(void *data)
{
    auto *n = static_cast<llist_node *>(xmalloc(sizeof(llist_node)));
    n->data = data;
    return n;
}

llist *llist_new()
{
    return static_cast<llist *>(xmalloc(sizeof(llist)));
}

void llist_clear(llist *list)
{
    llist_node *n = list->head;
    while (n) {
        llist_node *next = n->next;
        free(n);
        n = next;
    }
    list->head = list->tail = nullptr;
    list->count = 0;
}

void llist_free(llist *list)
{
    if (!list)
        return;
    llist_clear(list);
    free(list);
}

llist *llist_copy(const llist *list)
{
    llist *c = llist_new();
    for (llist_node *n = list->head; n; n = n->next)
        llist_push_back(c, n->data);
    return c;
}

llist_node *llist_head(const llist *list) { return list->head; }
llist_node *llist_tail(const llist *list) { return list->tail; }
uint32_t llist_count(const llist *list) { return list->count; }
int llist_is_empty(const llist *list) { return list->count == 0; }
void *llist_node_data(const llist_node *node) { return node->data; }
void llist_node_set_data(llist_node *node, void *data) { node->data = data; }
llist_node *llist_node_prev(const llist_node *node) { return node->prev; }
llist_node *llist_node_next(const llist_node *node) { return node->next; }

llist_node *llist_push_front(llist *list, void *data)
{
    if (!list->head)
        return llist_push_back(list, data);
    return llist_insert_before(list, list->head, data);
}

llist_node *llist_push_back(llist *list, void *data)
{
    if (list->tail)
        return llist_insert_after(list, list->tail, data);
    llist_node *n = node_new(data);
    list->head = list->tail = n;
    list->count = 1;
    return n;
}

llist_node *llist_insert_before(llist *list, llist_node *node, void *data)
{
    llist_node *n = node_new(data);
    n->next = node;
    n->prev = node->prev;
    if (node->prev)
        node->prev->next = n;
    else
        list->head = n;
    node->prev = n;
    list->count++;
    return n;
}

llist_node *llist_insert_after(llist *list, llist_node *node, void *data)
{
    llist_node *n = node_new(data);
    n->prev = node;
    n->next = node->next;
    if (node->next)
        node->next->prev = n;
    else
        list->tail = n;
    node->next = n;
    list->count++;
    return n;
}

void *llist_remove(llist *list, llist_node *node)
{
    if (node->prev)
        node->prev->next = node->next;
    else
        list->head = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        list->tail = node->prev;
    list->count--;
    void *data = node->data;
    free(node);
    return data;
}

void llist_append_list(llist *list, llist *other)
{
    if (other->head) {
        if (list->tail) {
            list->tail->next = other->head;
            other->head->prev = list->tail;
        } else {
            list->head = other->head;
        }
        list->tail = other->tail;
        list->count += other->count;
    }
    free(other);
}

void llist_prepend_list(llist *list, llist *other)
{
    if (other->head) {
        if (list->head) {
            other->tail->next = list->head;
            list->head->prev = other->tail;
        } else {
            list->tail = other->tail;
        }
        list->head = other->head;
        list->count += other->count;
    }
    free(other);
}

// Counts the nodes from first to last inclusive.
static uint32_t span_count(const llist_node *first, const llist_node *last)
{
    uint32_t k = 0;
    for (const llist_node *n = first; n; n = n->next) {
        k++;
        if (n == last)
            break;
    }
    return k;
}

llist *llist_split_before(llist *list, llist_node *node)
{
    llist *front = llist_new();
    if (node == list->head)
        return front;
    front->head = list->head;
    front->tail = node->prev;
    front->count = span_count(front->head, front->tail);
    front->tail->next = nullptr;
    node->prev = nullptr;
    list->head = node;
    list->count -= front->count;
    return front;
}

llist *llist_split_after(llist *list, llist_node *node)
{
    llist *back = llist_new();
    if (node == list->tail)
        return back;
    back->head = node->next;
    back->tail = list->tail;
    back->count = span_count(back->head, back->tail);
    back->head->prev = nullptr;
    node->next = nullptr;
    list->tail = node;
    list->count -= back->count;
    return back;
}

int llist_walk_forward(llist *, llist_node *from, void *ctx, llist_walk_fn fn)
{
    for (llist_node *n = from; n; n = n->next)
        if (int r = fn(ctx, n->data))
            return r;
    return 0;
}

int llist_walk_backward(llist *, llist_node *from, void *ctx, llist_walk_fn fn)
{
    for (llist_node *n = from; n; n = n->prev)
        if (int r = fn(ctx, n->data))
            return r;
    return 0;
}

int llist_for_each(llist *list, void *ctx, llist_walk_fn fn)
{
    return llist_walk_forward(list, list->head, ctx, fn);
}

int llist_for_each_reverse(llist *list, void *ctx, llist_walk_fn fn)
{
    return llist_walk_backward(list, list->tail, ctx, fn);
}

// Both lists sorted by cmp; the items of other go in front of the first item
// of list that they sort before, the rest at the end. other keeps its nodes.
void llist_merge_sorted(llist *list, const llist *other, llist_compare_fn cmp)
{
    llist_node *o = other->head;
    for (llist_node *n = list->head; n && o; n = n->next)
        while (o && cmp(o->data, n->data) < 0) {
            llist_insert_before(list, n, o->data);
            o = o->next;
        }
    for (; o; o = o->next)
        llist_push_back(list, o->data);
}

vector_t *llist_to_vector(const llist *list)
{
    vector_t *v = vec_new_default();
    for (llist_node *n = list->head; n; n = n->next)
        vec_push(v, n->data);
    return v;
}
