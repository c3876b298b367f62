// Vectors, hash tables, the sort and binary search, and bounded formatting.
#include "common.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

void tool_exit(int) {}

static void *P(intptr_t i) { return reinterpret_cast<void *>(i); }

static std::vector<intptr_t> items_of(const vector_t *v)
{
    std::vector<intptr_t> out;
    for (uint32_t i = 0; i < vec_count(v); i++)
        out.push_back(reinterpret_cast<intptr_t>(vec_get(v, i)));
    return out;
}

static vector_t *vec_of(std::initializer_list<intptr_t> xs)
{
    vector_t *v = vec_new(4);
    for (intptr_t x : xs)
        vec_push(v, P(x));
    return v;
}

TEST(Vector, GrowsFromInitialCapacityThenDoubles)
{
    vector_t *v = vec_new(4);
    EXPECT_EQ(v->capacity, 0u);
    EXPECT_EQ(v->items, nullptr);
    for (int i = 1; i <= 5; i++) {
        EXPECT_EQ(vec_push(v, P(i)), static_cast<uint32_t>(i - 1));
        EXPECT_EQ(v->capacity, i <= 4 ? 4u : 8u);
    }
    EXPECT_EQ(vec_pop(v), P(5));
    EXPECT_EQ(vec_top(v), P(4));
    EXPECT_EQ(vec_count(v), 4u);
    vec_free(v);
}

TEST(Vector, SetFillsWithNullsAndGetIsBounded)
{
    vector_t *v = vec_new_default();
    EXPECT_EQ(vec_set(v, P(7), 5), P(7));
    EXPECT_EQ(items_of(v), (std::vector<intptr_t>{0, 0, 0, 0, 0, 7}));
    EXPECT_EQ(vec_get(v, 6), nullptr);
    EXPECT_EQ(vec_index_of(v, P(9)), UINT32_MAX);
    EXPECT_EQ(vec_push_unique(v, P(7)), 5u);
    EXPECT_EQ(vec_push_unique(v, P(9)), 6u);
    vec_free(v);
}

TEST(Vector, InsertAndRemoveKeepTheMainCursorOnItsItem)
{
    vector_t *v = vec_of({1, 2, 3});
    vec_rewind(v);
    vec_next(v); // cursor now at index 1 (item 2)
    vec_insert_at(v, P(9), 1);
    EXPECT_EQ(vec_next(v), P(2));
    EXPECT_EQ(vec_insert_at(v, P(8), 100), 4u); // beyond count appends
    EXPECT_EQ(items_of(v), (std::vector<intptr_t>{1, 9, 2, 3, 8}));
    // cursor is at index 3 (item 3); removing index 3 leaves it there.
    EXPECT_EQ(vec_remove_at(v, 3), 1);
    EXPECT_EQ(vec_next(v), P(8));
    EXPECT_EQ(vec_remove_at(v, 9), 0);
    EXPECT_EQ(vec_remove(v, P(9)), 1);
    EXPECT_EQ(vec_remove(v, P(9)), 0);
    EXPECT_EQ(items_of(v), (std::vector<intptr_t>{1, 2, 8}));
    vec_free(v);
}

TEST(Vector, MoveTable)
{
    struct { uint32_t from, to; std::vector<intptr_t> want; } rows[] = {
        {3, 0, {4, 1, 2, 3}},
        {0, 3, {2, 3, 4, 1}},
        {1, 1, {1, 2, 3, 4}},
        {0, 4, {1, 2, 3, 4}}, // out of range: nothing
    };
    for (auto &r : rows) {
        vector_t *v = vec_of({1, 2, 3, 4});
        vec_move(v, r.from, r.to);
        EXPECT_EQ(items_of(v), r.want) << r.from << "->" << r.to;
        vec_free(v);
    }
}

TEST(Vector, TwoCursorsWalkIndependently)
{
    vector_t *v = vec_of({1, 2, 3});
    std::string pairs;
    for (void *a = vec_first(v); a; a = vec_next(v))
        for (void *b = vec_first2(v); b; b = vec_next2(v))
            pairs += std::to_string(reinterpret_cast<intptr_t>(a)) + std::to_string(reinterpret_cast<intptr_t>(b)) + " ";
    EXPECT_EQ(pairs, "11 12 13 21 22 23 31 32 33 ");
    EXPECT_EQ(vec_current(v), nullptr);
    vector_t *d = vec_dup(v);
    EXPECT_EQ(items_of(d), items_of(v));
    EXPECT_EQ(d->cursor, v->cursor);
    vector_t *u = vec_of({3, 5});
    EXPECT_EQ(vec_merge_unique(d, u), 2u);
    EXPECT_EQ(items_of(d), (std::vector<intptr_t>{1, 2, 3, 5}));
    EXPECT_EQ(vec_append(d, u), 2u);
    EXPECT_EQ(vec_count(d), 6u);
    // Appended to itself, a vector doubles once.
    EXPECT_EQ(vec_append(u, u), 2u);
    EXPECT_EQ(items_of(u), (std::vector<intptr_t>{3, 5, 3, 5}));
    vec_free(u);
    vec_free(d);
    vec_free(v);
    EXPECT_EQ(vec_dup(nullptr), nullptr);
    vec_free(nullptr);
}

static int cmp_strings(const void *a, const void *b)
{
    return strcmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

TEST(Vector, SortUsesWholePointerSlots)
{
    // Pointers on this machine are 8 bytes: sorting by 4-byte elements
    // would tear them apart.
    const char *words[] = {"pear", "apple", "fig", "kiwi", "banana", "cherry", "date"};
    vector_t *v = vec_new_default();
    for (const char *w : words)
        vec_push(v, const_cast<char *>(w));
    vec_sort(v, cmp_strings);
    std::string joined;
    for (void *p = vec_first(v); p; p = vec_next(v))
        joined += std::string(static_cast<char *>(p)) + " ";
    EXPECT_EQ(joined, "apple banana cherry date fig kiwi pear ");
    vec_free(v);
}

static int calls;
static int cmp_int(const void *a, const void *b)
{
    calls++;
    int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
    return x < y ? -1 : x > y;
}

TEST(Sort, QuicksortAndBinarySearch)
{
    srand(7);
    for (int n : {0, 1, 2, 3, 17, 1000}) {
        std::vector<int> xs(n);
        for (int &x : xs)
            x = rand() % 50;
        calls = 0;
        os_qsort(xs.data(), xs.size(), sizeof(int), cmp_int);
        if (n < 2) {
            EXPECT_EQ(calls, 0);
        }
        EXPECT_TRUE(std::is_sorted(xs.begin(), xs.end())) << n;
        for (int key : {-1, 0, 25, 49, 50}) {
            int *hit = static_cast<int *>(os_bsearch(&key, xs.data(), xs.size(), sizeof(int), cmp_int));
            bool present = std::find(xs.begin(), xs.end(), key) != xs.end();
            EXPECT_EQ(hit != nullptr, present) << n << " " << key;
            if (hit) {
                EXPECT_EQ(*hit, key);
            }
        }
    }
}

struct big { int key; char pad[1020]; };
static int cmp_big(const void *a, const void *b)
{
    return static_cast<const big *>(a)->key - static_cast<const big *>(b)->key;
}

TEST(Sort, LargeElementsUseAnAllocatedPivot)
{
    std::vector<big> xs(20);
    for (int i = 0; i < 20; i++) {
        xs[i].key = (i * 7) % 20;
        memset(xs[i].pad, xs[i].key, sizeof xs[i].pad);
    }
    os_qsort(xs.data(), xs.size(), sizeof(big), cmp_big);
    for (int i = 0; i < 20; i++) {
        EXPECT_EQ(xs[i].key, i);
        EXPECT_EQ(xs[i].pad[1019], static_cast<char>(i));
    }
}

static int collect(void *ctx, void *key, void *)
{
    static_cast<std::string *>(ctx)->append(static_cast<char *>(key)).append(" ");
    return 0;
}

static int stop_at_b(void *, void *key, void *value)
{
    return strcmp(static_cast<char *>(key), "b") == 0 ? static_cast<int>(reinterpret_cast<intptr_t>(value)) : 0;
}

TEST(Hash, ChainsKeepInsertionOrderAndEntriesAreRecycled)
{
    // One bucket: the walk order is the insertion order.
    hash_t *h = hash_new(1, hash_str_hash, hash_str_compare);
    char a[] = "a", b[] = "b", c[] = "c", b2[] = "b";
    EXPECT_EQ(hash_insert(h, a, P(1)), 1);
    EXPECT_EQ(hash_insert(h, b, P(2)), 1);
    EXPECT_EQ(hash_insert(h, c, P(3)), 1);
    EXPECT_EQ(hash_insert(h, b2, P(9)), 0);
    EXPECT_EQ(hash_lookup(h, "b"), P(2));
    EXPECT_EQ(hash_count(h), 3u);
    std::string order;
    hash_walk(h, &order, collect);
    EXPECT_EQ(order, "a b c ");
    EXPECT_EQ(hash_walk(h, nullptr, stop_at_b), 2);

    uint32_t before = hash_free_list_length();
    EXPECT_EQ(hash_remove(h, "b"), P(2));
    EXPECT_EQ(hash_remove(h, "b"), nullptr);
    EXPECT_EQ(hash_free_list_length(), before + 1);
    hash_insert(h, b, P(4)); // takes the released entry back
    EXPECT_EQ(hash_free_list_length(), before);

    hash_t *d = hash_dup(h);
    std::string dup_order;
    hash_walk(d, &dup_order, collect);
    EXPECT_EQ(dup_order, "a c b ");
    vector_t *vals = hash_values(d);
    EXPECT_EQ(items_of(vals), (std::vector<intptr_t>{1, 3, 4}));
    vec_free(vals);

    hash_t *other = hash_new(7, nullptr, nullptr);
    hash_insert(other, P(5), P(5));
    other = hash_assign(other, h);
    EXPECT_EQ(other->bucket_count, 1u);
    EXPECT_EQ(hash_lookup(other, "c"), P(3));
    EXPECT_EQ(hash_assign(other, other), other); // assigned to itself it keeps its entries
    EXPECT_EQ(hash_count(other), 3u);
    EXPECT_EQ(hash_lookup(other, "c"), P(3));
    EXPECT_EQ(hash_assign(other, nullptr), nullptr);

    hash_clear(h);
    EXPECT_EQ(hash_count(h), 0u);
    EXPECT_EQ(hash_lookup(h, "a"), nullptr);
    hash_free(h);
    hash_free(d);
    hash_free(nullptr);
}

TEST(Hash, StringHash)
{
    EXPECT_EQ(hash_string(""), 0u);
    EXPECT_EQ(hash_string("abc"), 1366u);
    // Bytes from 0x80 count as negative values.
    EXPECT_EQ(hash_string("\xff"), static_cast<uint32_t>(-2));
}

TEST(Hash, PointerKeysByDefault)
{
    hash_t *h = hash_new(13, nullptr, nullptr);
    int x, y;
    hash_insert(h, &x, P(1));
    EXPECT_EQ(hash_lookup(h, &x), P(1));
    EXPECT_EQ(hash_lookup(h, &y), nullptr);
    hash_free(h);
}

TEST(Alloc, FormattingIsBoundedAt4095)
{
    std::string exact(4095, 'x');
    testing::internal::CaptureStderr();
    char *s = xasprintf("%s", exact.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(strlen(s), 4095u);
    free(s);
    testing::internal::CaptureStderr();
    s = xasprintf("%s!", exact.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "buffer overflow in vsnprintf");
    EXPECT_EQ(std::string(s), exact);
    free(s);
    char *cat = xstrcat_free(xstrcat("ab", "cd"), "ef");
    EXPECT_STREQ(cat, "abcdef");
    free(cat);
    unsigned char *z = static_cast<unsigned char *>(xmalloc(64));
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(z[i], 0);
    free(z);
}

TEST(Vector, MisuseIsAnInternalErrorThatStopsTheRun)
{
    EXPECT_EXIT(
        {
            vector_t *v = vec_new_default();
            vec_pop(v);
        },
        testing::ExitedWithCode(1), "\\(4\\)");
}
