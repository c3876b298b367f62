// The doubly linked list: links stay consistent both ways through inserts,
// removals, joins and splits; walks stop on a non-zero result.
#include "zeph.h"

#include <gtest/gtest.h>

#include <string>

// Items are small integers stored in the pointers.
static void *item(intptr_t n) { return reinterpret_cast<void *>(n); }

// The list's items head to tail, checked against the tail-to-head order and
// the count, as a string like "1 2 3".
static std::string contents(const llist *l)
{
    std::string fwd, back;
    uint32_t n = 0;
    for (llist_node *p = l->head; p; p = p->next, n++)
        fwd += (fwd.empty() ? "" : " ") + std::to_string(reinterpret_cast<intptr_t>(p->data));
    for (llist_node *p = l->tail; p; p = p->prev)
        back = std::to_string(reinterpret_cast<intptr_t>(p->data)) + (back.empty() ? "" : " ") + back;
    EXPECT_EQ(fwd, back);
    EXPECT_EQ(n, l->count);
    if (l->head) {
        EXPECT_EQ(nullptr, l->head->prev);
    }
    if (l->tail) {
        EXPECT_EQ(nullptr, l->tail->next);
    }
    return fwd;
}

static llist *make(std::initializer_list<intptr_t> values)
{
    llist *l = llist_new();
    for (intptr_t v : values)
        llist_push_back(l, item(v));
    return l;
}

TEST(Llist, InsertAndRemoveKeepBothDirections)
{
    llist *l = llist_new();
    llist_node *only = llist_push_back(l, item(2));
    EXPECT_EQ(item(2), llist_remove(l, only));
    EXPECT_EQ("", contents(l));
    EXPECT_EQ(nullptr, l->head);
    EXPECT_EQ(nullptr, l->tail);

    llist_node *two = llist_push_back(l, item(2));
    llist_push_front(l, item(1));
    llist_insert_before(l, l->head, item(0));
    llist_insert_after(l, l->tail, item(4));
    llist_insert_after(l, two, item(3));
    EXPECT_EQ("0 1 2 3 4", contents(l));
    EXPECT_EQ(item(0), llist_remove(l, l->head));
    EXPECT_EQ(item(4), llist_remove(l, l->tail));
    EXPECT_EQ(item(2), llist_remove(l, two));
    EXPECT_EQ("1 3", contents(l));
    llist_free(l);
}

TEST(Llist, JoinAndSplit)
{
    struct Case {
        std::initializer_list<intptr_t> a, b;
        const char *appended, *prepended;
    } cases[] = {
        {{1, 2}, {3, 4}, "1 2 3 4", "3 4 1 2"},
        {{}, {3, 4}, "3 4", "3 4"},
        {{1, 2}, {}, "1 2", "1 2"},
    };
    for (const Case &c : cases) {
        llist *a = make(c.a);
        llist_append_list(a, make(c.b));
        EXPECT_EQ(c.appended, contents(a));
        llist_free(a);
        a = make(c.a);
        llist_prepend_list(a, make(c.b));
        EXPECT_EQ(c.prepended, contents(a));
        llist_free(a);
    }

    llist *l = make({1, 2, 3, 4, 5});
    llist *front = llist_split_before(l, l->head->next->next);
    EXPECT_EQ("1 2", contents(front));
    EXPECT_EQ("3 4 5", contents(l));
    llist *back = llist_split_after(l, l->head);
    EXPECT_EQ("4 5", contents(back));
    EXPECT_EQ("3", contents(l));
    llist *none = llist_split_before(l, l->head);
    EXPECT_EQ("", contents(none));
    llist *none2 = llist_split_after(l, l->tail);
    EXPECT_EQ("", contents(none2));
    EXPECT_EQ("3", contents(l));
    for (llist *x : {l, front, back, none, none2})
        llist_free(x);
}

static int stop_at_two(void *ctx, void *data)
{
    ++*static_cast<int *>(ctx);
    return data == item(2) ? 5 : 0;
}

TEST(Llist, WalksStopOnNonZero)
{
    llist *l = make({1, 2, 3});
    int calls = 0;
    EXPECT_EQ(5, llist_for_each(l, &calls, stop_at_two));
    EXPECT_EQ(2, calls);
    calls = 0;
    EXPECT_EQ(0, llist_walk_forward(l, l->tail, &calls, stop_at_two));
    EXPECT_EQ(1, calls);
    calls = 0;
    EXPECT_EQ(5, llist_for_each_reverse(l, &calls, stop_at_two));
    EXPECT_EQ(2, calls);
    calls = 0;
    EXPECT_EQ(0, llist_walk_backward(l, l->head, &calls, stop_at_two));
    EXPECT_EQ(1, calls);
    llist_free(l);
}

static int compare_items(const void *a, const void *b)
{
    intptr_t x = reinterpret_cast<intptr_t>(a), y = reinterpret_cast<intptr_t>(b);
    return x < y ? -1 : x > y;
}

TEST(Llist, MergeCopyAndVector)
{
    llist *l = make({2, 4, 6});
    llist *o = make({1, 4, 5, 9});
    llist_merge_sorted(l, o, compare_items);
    EXPECT_EQ("1 2 4 4 5 6 9", contents(l));
    EXPECT_EQ("1 4 5 9", contents(o));
    llist *c = llist_copy(l);
    EXPECT_EQ(contents(l), contents(c));
    EXPECT_NE(l->head, c->head);
    vector_t *v = llist_to_vector(c);
    ASSERT_EQ(7u, vec_count(v));
    EXPECT_EQ(item(9), vec_get(v, 6));
    vec_free(v);
    for (llist *x : {l, o, c})
        llist_free(x);
}
