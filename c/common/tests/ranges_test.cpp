// Range lists, classes, allocation, range-spec text, named blocks and the
// graph. Expected values are worked out by hand from the list rules.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ranges.h"
#include "common.h"

// The tests run outside the installation, so its message file is named
// before any test reports.
struct messages_env : ::testing::Environment {
    void SetUp() override { msg_open_file(ZEPH_BUILD_DIR "/dat/en_msgs.txt"); }
};
static ::testing::Environment *const messages = ::testing::AddGlobalTestEnvironment(new messages_env);

void tool_exit(int) {}

using pairs = std::vector<std::pair<uint32_t, uint32_t>>;

static range_node *list_of(const pairs &p)
{
    range_node *head = nullptr;
    range_node **tail = &head;
    for (auto [lo, hi] : p) {
        *tail = static_cast<range_node *>(xmalloc(sizeof(range_node)));
        (*tail)->lo = lo;
        (*tail)->hi = hi;
        tail = &(*tail)->next;
    }
    return head;
}

static pairs pairs_of(const range_node *n)
{
    pairs p;
    for (; n; n = n->next)
        p.push_back({n->lo, n->hi});
    return p;
}

static std::string show(const pairs &p)
{
    std::string s;
    for (auto [lo, hi] : p)
        s += str_printf("%X-%X ", lo, hi);
    return s;
}

TEST(RangeList, AddKeepsSortedDisjointRanges)
{
    struct row {
        const char *what;
        pairs start;
        uint32_t lo, hi, piece;
        int merge;
        pairs expected;
    } rows[] = {
        {"touching, merged", {{0x20, 0x2F}}, 0x10, 0x1F, 0, 1, {{0x10, 0x2F}}},
        {"touching, kept apart", {{0x20, 0x2F}}, 0x10, 0x1F, 0, 0, {{0x10, 0x1F}, {0x20, 0x2F}}},
        {"pieces into an empty list", {}, 0, 0x3F, 0x10, 0, {{0, 0xF}, {0x10, 0x1F}, {0x20, 0x2F}, {0x30, 0x3F}}},
        {"last piece shorter", {}, 0, 0x24, 0x10, 0, {{0, 0xF}, {0x10, 0x1F}, {0x20, 0x24}}},
        {"inside an existing range", {{0x10, 0x3F}}, 0x20, 0x2F, 0, 0, {{0x10, 0x3F}}},
        {"covers two ranges", {{0x10, 0x1F}, {0x30, 0x3F}}, 0, 0x4F, 0, 0, {{0, 0x4F}}},
        {"overlaps on one side", {{0x10, 0x1F}}, 0x18, 0x27, 0, 0, {{0x10, 0x27}}},
        {"bridges two ranges when merging", {{0, 0xF}, {0x20, 0x2F}}, 0x10, 0x1F, 0, 1, {{0, 0x2F}}},
        {"goes between ranges", {{0, 0xF}, {0x40, 0x4F}}, 0x20, 0x2F, 0, 1,
         {{0, 0xF}, {0x20, 0x2F}, {0x40, 0x4F}}},
        {"top of the address space never touches address 0", {{0xFFFFFFF0u, 0xFFFFFFFFu}}, 0, 0xF, 0, 1,
         {{0, 0xF}, {0xFFFFFFF0u, 0xFFFFFFFFu}}},
        {"range ending at the top merges below", {{0x10, 0x1F}}, 0x20, 0xFFFFFFFFu, 0, 1, {{0x10, 0xFFFFFFFFu}}},
        // A piece overlapping a node on one side is widened and re-split
        // instead of meeting the same node again and again.
        {"pieces over a partly overlapping range", {{0x35, 0x45}}, 0, 0x3F, 0x10, 0,
         {{0, 0xF}, {0x10, 0x1F}, {0x20, 0x2F}, {0x30, 0x3F}, {0x40, 0x45}}},
        // A piece already present does not stop the pieces after it.
        {"first piece already present", {{0, 0x7FF}}, 0, 0xFFF, 0x800, 0, {{0, 0x7FF}, {0x800, 0xFFF}}},
        {"empty range adds nothing", {{0x10, 0x1F}}, 0x40, 0x3F, 0, 0, {{0x10, 0x1F}}},
    };
    for (const row &r : rows) {
        range_node *list = list_of(r.start);
        range_list_add(&list, r.lo, r.hi, r.piece, r.merge);
        EXPECT_EQ(show(pairs_of(list)), show(r.expected)) << r.what;
        range_list_free(list);
    }
}

TEST(RangeList, MinusIntersectAndSize)
{
    struct row {
        pairs a, b, minus, both;
    } rows[] = {
        {{{0, 0xFF}}, {{0x10, 0x1F}, {0x80, 0x8F}}, {{0, 0xF}, {0x20, 0x7F}, {0x90, 0xFF}},
         {{0x10, 0x1F}, {0x80, 0x8F}}},
        {{{0x20, 0x7F}, {0xA0, 0xEF}}, {{0x70, 0xAF}}, {{0x20, 0x6F}, {0xB0, 0xEF}}, {{0x70, 0x7F}, {0xA0, 0xAF}}},
        {{{0x10, 0x1F}}, {}, {{0x10, 0x1F}}, {}},
        {{}, {{0x10, 0x1F}}, {}, {}},
        {{{0x10, 0x1F}}, {{0, 0xFFFFFFFFu}}, {}, {{0x10, 0x1F}}},
        {{{0, 0xFFFFFFFFu}}, {{0xFFFFFFF0u, 0xFFFFFFFFu}}, {{0, 0xFFFFFFEFu}}, {{0xFFFFFFF0u, 0xFFFFFFFFu}}},
    };
    for (const row &r : rows) {
        range_node *a = list_of(r.a), *b = list_of(r.b);
        range_node *minus = range_list_minus(a, b), *both = range_list_intersect(a, b);
        EXPECT_EQ(show(pairs_of(minus)), show(r.minus)) << show(r.a) << "less " << show(r.b);
        EXPECT_EQ(show(pairs_of(both)), show(r.both)) << show(r.a) << "and " << show(r.b);
        range_list_free(minus);
        range_list_free(both);
        range_list_free(b);
        EXPECT_EQ(range_list_free_size(a), [&] {
            uint32_t n = 0;
            for (auto [lo, hi] : r.a)
                n += hi - lo + 1;
            return n;
        }());
    }
}

// A space with one class whose lists are given.
struct space_fixture {
    range_space *chain = nullptr;
    range_space *space;
    range_class *cls;
    space_fixture(const pairs &available, const pairs &used = {}, const pairs &reserved = {})
    {
        space = range_space_new(&chain, "data", "Data space", 2);
        cls = range_class_get(space, "BANK0", 2, RANGE_NO_LOAD, 0);
        cls->available = list_of(available);
        cls->used = list_of(used);
        cls->reserved = list_of(reserved);
    }
    ~space_fixture() { range_space_list_free(chain); }
};

TEST(RangeClass, FreeSpaceQueries)
{
    space_fixture f({{0x20, 0x7F}, {0xA0, 0xEF}}, {{0x20, 0x2F}, {0xE0, 0xEF}}, {{0x30, 0x6F}});
    EXPECT_EQ(range_lowest_free(f.cls), 0x30u);
    EXPECT_EQ(range_highest_free(f.cls), 0xDFu);
    EXPECT_EQ(range_free_size(f.cls), 0x50u + 0x40u);
    EXPECT_EQ(range_space_free_size(f.space), 0x90u);
    // The reserved block is out of the allocatable space: 70-7F (16) loses to A0-DF (64).
    const range_block *big = range_largest_free(f.cls);
    EXPECT_EQ(big->lo, 0xA0u);
    EXPECT_EQ(big->hi, 0xDFu);
    EXPECT_EQ(range_class_top(f.cls), 0xEFu);
    EXPECT_TRUE(range_contains(f.cls, 0xA0));
    EXPECT_FALSE(range_contains(f.cls, 0x80));

    space_fixture full({{0x20, 0x2F}}, {{0x20, 0x2F}});
    EXPECT_EQ(range_lowest_free(full.cls), RANGE_NONE);
    EXPECT_EQ(range_highest_free(full.cls), 0u);
    EXPECT_EQ(range_largest_free(full.cls)->hi, 0xFFFFFFFFu);
    EXPECT_EQ(range_lowest_free(nullptr), RANGE_NONE);
    EXPECT_EQ(range_free_size(nullptr), 0u);
}

TEST(RangeClass, AllocationPrefersExactFitThenLowEnd)
{
    struct row {
        const char *what;
        pairs available;
        uint32_t size;
        int action, from_top;
        uint32_t lo, hi;
        pairs used_after;
    } rows[] = {
        {"exact fit wins over a lower, larger block", {{0x20, 0x3F}, {0x50, 0x5F}}, 0x10, RANGE_ALLOC_USE, 0,
         0x50, 0x5F, {{0x50, 0x5F}}},
        {"low end of a larger block", {{0x40, 0x7F}}, 0x10, RANGE_ALLOC_USE, 0, 0x40, 0x4F, {{0x40, 0x4F}}},
        {"high end with from_top", {{0x40, 0x7F}}, 0x10, RANGE_ALLOC_USE, 1, 0x70, 0x7F, {{0x70, 0x7F}}},
        {"probe reports the whole block", {{0x40, 0x7F}}, 0x10, RANGE_ALLOC_PROBE, 0, 0x40, 0x7F, {}},
    };
    for (const row &r : rows) {
        space_fixture f(r.available);
        const range_block *b = range_alloc(f.space, f.cls, r.size, r.action, r.from_top);
        ASSERT_NE(b, nullptr) << r.what;
        EXPECT_EQ(b->lo, r.lo) << r.what;
        EXPECT_EQ(b->hi, r.hi) << r.what;
        EXPECT_EQ(show(pairs_of(f.cls->used)), show(r.used_after)) << r.what;
    }
    space_fixture small({{0x40, 0x47}});
    EXPECT_EQ(range_alloc_any(small.space, small.cls, 0x10, RANGE_ALLOC_USE), nullptr);
}

TEST(RangeClassDeath, UnknownAllocationActionIsFatal)
{
    space_fixture f({{0x40, 0x7F}});
    EXPECT_EXIT(range_alloc(f.space, f.cls, 0x10, 7, 0), testing::ExitedWithCode(1),
                "\\(1478\\) illegal action 7 in memory allocation");
}

TEST(RangeClass, ReservationsCommitToEveryClassOrAreDiscarded)
{
    space_fixture f({{0x20, 0x7F}});
    range_class *other = range_class_get(f.space, "RAM", 2, RANGE_NO_LOAD, 0);
    other->available = list_of({{0x20, 0x7F}});
    ASSERT_NE(range_alloc_any(f.space, f.cls, 8, RANGE_ALLOC_RESERVE), nullptr);
    EXPECT_EQ(show(pairs_of(other->reserved)), show({{0x20, 0x27}}));
    // The next allocation keeps clear of the reservation.
    EXPECT_EQ(range_alloc_any(f.space, f.cls, 8, RANGE_ALLOC_PROBE)->lo, 0x28u);
    range_space_commit(f.space);
    EXPECT_EQ(f.cls->reserved, nullptr);
    EXPECT_EQ(show(pairs_of(other->used)), show({{0x20, 0x27}}));

    ASSERT_NE(range_alloc_any(f.space, f.cls, 8, RANGE_ALLOC_RESERVE), nullptr);
    range_space_discard(f.space);
    EXPECT_EQ(f.cls->reserved, nullptr);
    EXPECT_EQ(show(pairs_of(f.cls->used)), show({{0x20, 0x27}}));
}

TEST(RangeClass, RepeatedAddStopsAtTopAndRejectsZeroStride)
{
    space_fixture f({{0, 0x1FF}});
    range_class_add_repeated(f.cls, RANGE_USED, 0x7E, 0x7F, 0x80);
    EXPECT_EQ(show(pairs_of(f.cls->used)), show({{0x7E, 0x7F}, {0xFE, 0xFF}, {0x17E, 0x17F}, {0x1FE, 0x1FF}}));
    range_class_add_repeated(f.cls, RANGE_RESERVED, 0x10, 0x11, 0);
    EXPECT_EQ(f.cls->reserved, nullptr);
    range_class_add_repeated(f.cls, RANGE_RESERVED, 0x1FF, 0x1FF, 0x80); // starts at the top
    EXPECT_EQ(f.cls->reserved, nullptr);
}

TEST(RangeClass, IntersectNarrowsAvailableAndCopiesTheOthersUse)
{
    space_fixture f({{0x20, 0x7F}, {0xA0, 0xEF}}, {{0x20, 0x21}});
    range_class *other = range_class_get(f.space, "COMMON", 2, RANGE_NO_LOAD, 0);
    other->available = list_of({{0x70, 0xBF}});
    other->used = list_of({{0x70, 0x71}});
    range_class_intersect(f.cls, other, 1);
    EXPECT_EQ(show(pairs_of(f.cls->available)), show({{0x70, 0x7F}, {0xA0, 0xBF}}));
    EXPECT_EQ(show(pairs_of(f.cls->used)), show({{0x70, 0x71}}));
    // Each class owns its list: the space frees both without a double free.
    EXPECT_NE(f.cls->used, other->used);
    range_class_intersect(f.cls, nullptr, 1);
    EXPECT_EQ(show(pairs_of(f.cls->available)), show({{0x70, 0x7F}, {0xA0, 0xBF}}));
}

TEST(RangeSpace, ChainsCopiesAndLookups)
{
    range_space *chain = nullptr;
    range_space *code = range_space_new(&chain, "code", "Program space", 3);
    range_space *data = range_space_new(&chain, "data", "Data space", 2);
    EXPECT_EQ(chain, code);
    EXPECT_EQ(range_find_space(chain, "DATA"), data);
    EXPECT_EQ(range_find_space(chain, nullptr), nullptr);
    range_class *c = range_class_get(code, "CODE", 3, RANGE_NO_LOAD, 0);
    EXPECT_EQ(range_class_get(code, "CODE", 2, 5, 5), c); // existing class unchanged
    EXPECT_EQ(c->unit, 3);
    range_class_add(c, RANGE_AVAILABLE, 0, 0x7FF, 0);
    range_class_add(c, 7, 0, 0x7FF, 0); // not a list: nothing
    range_class *bank = range_class_get(data, "BANK0", 2, RANGE_NO_LOAD, 0);
    EXPECT_EQ(range_find_class(chain, "BANK0"), bank);
    EXPECT_EQ(range_find_class(chain, "bank0"), nullptr);

    range_class_add(c, RANGE_RESERVED, 0x10, 0x1F, 0);
    range_space *copy = range_space_list_copy(chain);
    range_class *copied = range_find_class(copy, "CODE");
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(copied->available, c->available);
    EXPECT_EQ(show(pairs_of(copied->available)), show({{0, 0x7FF}}));
    EXPECT_EQ(copied->space, copy);
    EXPECT_NE(copied->reserved, c->reserved); // both chains can be freed
    EXPECT_EQ(show(pairs_of(copied->reserved)), show({{0x10, 0x1F}}));

    range_space_clear(code);
    EXPECT_EQ(c->available, nullptr);
    EXPECT_EQ(code->cleared, 1);
    range_space_list_free(copy);
    range_space_list_free(chain);
}

TEST(RangeSpec, FormatWritesGroupedPiecesAndLoadAddress)
{
    struct row {
        const char *what;
        pairs available, used;
        uint32_t load, split;
        const char *prefix, *name, *expected;
    } rows[] = {
        {"equal contiguous pieces", {{0, 0x7FF}, {0x800, 0xFFF}, {0x1000, 0x17FF}, {0x1800, 0x1FFF}}, {},
         RANGE_NO_LOAD, 0, "-A", "CODE", "-ACODE=00h-07FFhx4"},
        {"separate ranges", {{0x20, 0x7F}, {0xA0, 0xEF}}, {}, RANGE_NO_LOAD, 0, "", "RAM", "RAM=020h-07Fh,0A0h-0EFh"},
        {"used addresses left out", {{0x20, 0x7F}}, {{0x70, 0x7F}}, RANGE_NO_LOAD, 0, nullptr, "BANK0",
         "BANK0=020h-06Fh"},
        {"pieces of another size not grouped", {{0, 0xFF}, {0x100, 0x17F}}, {}, RANGE_NO_LOAD, 0, "-A", "C",
         "-AC=00h-0FFh,0100h-017Fh"},
        {"load address on a group", {{0, 0xFF}, {0x100, 0x1FF}}, {}, 0x4000, 0, "-A", "C", "-AC=00h-0FFh/04000hx2"},
        {"load address after the last item", {{0x10, 0x1F}}, {}, 0x4000, 0, "-A", "C", "-AC=010h-01Fh/04000h"},
        {"split form", {{0, 0x3FF}}, {}, RANGE_NO_LOAD, 0x100, "-A", "C", "-AC=00h-0FFh-03FFh"},
        {"nothing free", {{0x20, 0x2F}}, {{0x20, 0x2F}}, RANGE_NO_LOAD, 0, "-A", "C", ""},
    };
    for (const row &r : rows) {
        space_fixture f(r.available, r.used);
        f.cls->load = r.load;
        f.cls->split = r.split;
        char *text = range_format(f.cls, r.prefix, r.name);
        EXPECT_STREQ(text, r.expected) << r.what;
        free(text);
    }
    char *none = range_format(nullptr, "-A", "X");
    EXPECT_STREQ(none, "");
    free(none);
}

TEST(RangeSpec, NumbersTakeSuffixesAndRejectOverflow)
{
    struct row {
        const char *text;
        int result;
        uint32_t value;
        const char *rest;
    } rows[] = {
        {"1Fh", 0, 31, ""},   {"0x1F", 0, 31, ""}, {"31", 0, 31, ""},     {"31d", 0, 31, ""},
        {"37o", 0, 31, ""},   {"37q", 0, 31, ""},  {"37Q-", 0, 31, "-"},  {"0x7FFx4", 0, 0x7FF, "x4"},
        {"7FFhx4", 0, 0x7FF, "x4"}, {"0-", 0, 0, "-"}, {"1F", 1, 0, ""},  {"8q", 1, 0, ""},
        {"7FFx4", 1, 0, ""},  {"h", 1, 0, ""},     {"0x", 1, 0, ""},      {"", 1, 0, ""},
        {"FFFFFFFFh", 0, 0xFFFFFFFFu, ""}, {"100000000h", 1, 0, ""}, {"4294967296", 1, 0, ""},
    };
    for (const row &r : rows) {
        const char *p = r.text;
        uint32_t v = 0;
        EXPECT_EQ(range_parse_number(&p, &v), r.result) << r.text;
        if (r.result == 0) {
            EXPECT_EQ(v, r.value) << r.text;
            EXPECT_STREQ(p, r.rest) << r.text;
        } else
            EXPECT_EQ(p, r.text) << r.text << ": cursor left where it was";
    }
}

TEST(RangeSpec, ParseReadsItemsAndRepeats)
{
    struct row {
        const char *text;
        pairs expected;
    } rows[] = {
        {"RAM=20h-7Fh,0A0h-0EFh", {{0x20, 0x7F}, {0xA0, 0xEF}}},
        {"CODE=0-7FFhx4", {{0, 0x7FF}, {0x800, 0xFFF}, {0x1000, 0x17FF}, {0x1800, 0x1FFF}}},
        {"RAM=20h-3Fhx2", {{0x20, 0x3F}, {0x40, 0x5F}}},
        {"CODE=0-0x7FFx4", {{0, 0x7FF}, {0x800, 0xFFF}, {0x1000, 0x17FF}, {0x1800, 0x1FFF}}},
        {"-ACODE=0-0FFh*2", {{0, 0xFF}, {0x100, 0x1FF}}},
        {"C=0FFFFFFF0h-0FFFFFFFFh", {{0xFFFFFFF0u, 0xFFFFFFFFu}}},
    };
    for (const row &r : rows) {
        space_fixture f({});
        range_parse_spec(f.cls, r.text);
        EXPECT_EQ(show(pairs_of(f.cls->available)), show(r.expected)) << r.text;
    }
    // The largest repeat taken: 64K in 4096 pieces of 16.
    space_fixture f({});
    range_parse_spec(f.cls, "RAM=0-0Fhx4096");
    pairs pieces = pairs_of(f.cls->available);
    ASSERT_EQ(pieces.size(), 4096u);
    EXPECT_EQ(pieces.back(), std::make_pair(0xFFF0u, 0xFFFFu));
}

TEST(RangeSpec, FormatThenParseGivesTheSameRanges)
{
    space_fixture f({{0x20, 0x7F}, {0xA0, 0xBF}, {0xC0, 0xDF}, {0x120, 0x16F}});
    char *text = range_format(f.cls, "-A", "RAM");
    space_fixture g({});
    range_parse_spec(g.cls, text);
    EXPECT_EQ(show(pairs_of(g.cls->available)), show(pairs_of(f.cls->available))) << text;
    free(text);
}

TEST(RangeSpecDeath, BadSpecsAreFatal)
{
    struct row {
        const char *text;
        const char *message;
    } rows[] = {
        {"CODE", "\\(441\\) bad -A spec: \"CODE\""},
        {"CODE=", "\\(442\\)"},
        {"CODE=0-7FFh,", "\\(442\\)"},
        {"CODE=G-7FFh", "\\(443\\)"},
        {"CODE=100000000h-100000001h", "\\(443\\)"},
        {"CODE=0-4294967296", "\\(445\\)"},
        {"CODE=0:7FFh", "\\(444\\)"},
        {"CODE=0-7FFx4", "\\(445\\)"},
        {"CODE=100h-0FFh", "\\(445\\)"},
        {"CODE=0-7FFhx", "\\(448\\)"},
        {"CODE=0-7FFhx0", "\\(448\\)"},
        {"CODE=0-0FFFFFFFhx100", "\\(448\\)"},
        {"CODE=0-0hx0FFFFFFFh", "\\(448\\)"},
        {"CODE=0-7FFh;", "\\(449\\)"},
    };
    for (const row &r : rows) {
        space_fixture f({});
        EXPECT_EXIT(range_parse_spec(f.cls, r.text), testing::ExitedWithCode(1), r.message) << r.text;
    }
}

TEST(RangeSpec, EmitBoundsWritesEquatesPerRange)
{
    range_node *list = list_of({{0x20, 0x7F}, {0xA0, 0xEF}});
    char *buffer = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buffer, &size);
    range_emit_bounds(out, list, "RAM");
    fclose(out);
    EXPECT_STREQ(buffer, "\tGLOBAL\t__LRAM0\n__LRAM0\tEQU\t32\n\tGLOBAL\t__HRAM0\n__HRAM0\tEQU\t128\n"
                         "\tGLOBAL\t__LRAM1\n__LRAM1\tEQU\t160\n\tGLOBAL\t__HRAM1\n__HRAM1\tEQU\t240\n");
    free(buffer);
    range_list_free(list);
}

static std::string entry_names(const range_class *c)
{
    std::string s;
    for (const range_entry *e = c->entries; e; e = e->next)
        s += str_printf("%s:%X:%X:%s ", e->name, e->first, e->size, e->alias ? e->alias : "-");
    return s;
}

TEST(RangeEntry, DefineInheritsAliasAndAddsFurtherBlocks)
{
    space_fixture f({});
    range_entry_define(f.cls, "text0", 3, "Program and library code", 0, 0, 0);
    range_entry_define(f.cls, "rbss_0", 2, "Bank 0 RAM variables", 0, 0, 0);
    range_entry_define(f.cls, "text3", 0, nullptr, 0x100, 0x100, 0x20); // stem "text"
    range_entry_define(f.cls, "rbss_1", 0, nullptr, 0x20, 0x20, 4);      // '_' keeps the digits
    range_entry_define(f.cls, "text0", 0, nullptr, 0x10, 0x10, 0x8);     // first size: in place
    range_entry_define(f.cls, "text0", 0, nullptr, 0x40, 0x40, 0x6);     // second size: a further block
    EXPECT_EQ(entry_names(f.cls), "text0:10:8:Program and library code text0:40:6:Program and library code "
                                  "rbss_0:0:0:Bank 0 RAM variables text3:100:20:Program and library code "
                                  "rbss_1:20:4:- ");
    EXPECT_EQ(range_entry_kind(f.cls, "rbss_0"), 2);
    EXPECT_EQ(range_entry_kind(f.cls, "text3"), 0);
    EXPECT_EQ(range_entry_kind(f.cls, "missing"), 0);

    range_entry_sort(f.cls, RANGE_KEY_FIRST);
    EXPECT_EQ(f.cls->entries->first, 0u);
    range_entry_sort(f.cls, RANGE_KEY_SIZE);
    const range_entry *last = f.cls->entries;
    while (last->next)
        last = last->next;
    EXPECT_EQ(last->size, 0x20u);
}

TEST(RangeEntry, TotalUnitsRoundSmallTotalsUp)
{
    space_fixture f({});
    range_entry_define(f.cls, "rbit_0", 1, nullptr, 0, 0, 3);   // 3 bits: 1 unit
    range_entry_define(f.cls, "rbss_0", 2, nullptr, 0, 0, 10);  // 10 bytes
    range_entry_define(f.cls, "wide", 4, nullptr, 0, 0, 7);     // width 2: 3
    EXPECT_EQ(range_total_units(f.cls), 1u + 10u + 3u);
    range_entry_define(f.cls, "rbit_1", 1, nullptr, 0, 0, 17);  // bits 20 in all: 2 units
    EXPECT_EQ(range_total_units(f.cls), 2u + 10u + 3u);
}

TEST(Dag, DepthsAreLongestPathsAndCyclesAreMarked)
{
    vector_t *u = dag_new_universe();
    dag_node *a = dag_new_node(u, nullptr), *b = dag_new_node(u, nullptr), *c = dag_new_node(u, nullptr);
    dag_node *d = dag_new_node(u, nullptr), *e = dag_new_node(u, nullptr);
    EXPECT_EQ(dag_add_edge(a, b, 0, 1), 1);
    EXPECT_EQ(dag_add_edge(b, c, 0, 1), 1);
    EXPECT_EQ(dag_add_edge(a, c, 0, 1), 1);
    EXPECT_EQ(dag_add_edge(a, c, 0, 1), 0); // equal edge
    EXPECT_EQ(dag_add_edge(a, c, 5, 1), 1); // another value is another edge
    EXPECT_EQ(c->incoming, 3u);
    vector_t *order = dag_sorted_nodes(a, 1, 1);
    EXPECT_EQ(a->depth, 1u);
    EXPECT_EQ(b->depth, 2u);
    EXPECT_EQ(c->depth, 3u);
    ASSERT_EQ(vec_count(order), 3u);
    EXPECT_EQ(vec_get(order, 0), a);
    EXPECT_EQ(vec_get(order, 2), c);
    vec_free(order);
    order = dag_sorted_nodes(a, 0, 1);
    EXPECT_EQ(vec_get(order, 0), c);
    vec_free(order);

    dag_add_edge(d, e, 0, 1);
    dag_add_edge(e, d, 0, 1);
    order = dag_sorted_nodes(d, 1, 1);
    EXPECT_EQ(vec_count(order), 2u);
    EXPECT_TRUE(d->marks & DAG_CYCLE);
    EXPECT_TRUE(e->marks & DAG_CYCLE);
    EXPECT_FALSE(a->marks & DAG_CYCLE);
    vec_free(order);
}

TEST(Dag, ReachabilityFollowsEdgeKindsUnderTheMask)
{
    vector_t *u = dag_new_universe();
    dag_node *a = dag_new_node(u, nullptr), *b = dag_new_node(u, nullptr), *c = dag_new_node(u, nullptr);
    dag_add_edge(a, b, 0, 0x3);
    dag_add_edge(b, c, 0, 0x1);
    EXPECT_TRUE(dag_reaches(a, a, 0x1));
    EXPECT_TRUE(dag_reaches(a, c, 0x1));
    EXPECT_TRUE(dag_reaches(a, b, 0x2));
    EXPECT_FALSE(dag_reaches(a, c, 0x2)); // b -> c lacks bit 0x2
    EXPECT_FALSE(dag_reaches(c, a, 0x1));
}
