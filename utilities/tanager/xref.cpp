// The name table of the cross-reference lister and the readers that fill
// it. The cross-reference file holds one record per line:
//   ~file        the following lines belong to that source file
//   #name line   a definition of name at that line
//   name line    a use of name at that line
// Names go into a chained table of 16,001 buckets (h = 2h + byte over the
// name, new entries at the front of their chain), file names and symbols as
// separate entries, at most 16,000 of them. Entries and their names come
// from a pool of zero-filled 32 KB chunks, since none is ever freed; the
// reference arrays grow by 20 slots and are allocated on their own.

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../util_file.h"
#include "tanager.h"

enum {
    XREF_BUCKETS = 16001,     // buckets of the name table
    XREF_MAX_ENTRIES = 16000, // files, symbols and stop words together
    XREF_REF_STEP = 20,       // reference slots added at each growth
    XREF_REF_WARN = 5420,     // growing past this many slots is reported
    POOL_CHUNK = 32768,       // bytes of one pool chunk
};

// Heads of the bucket chains.
static xref_entry *xref_buckets[XREF_BUCKETS];
// Entries made so far.
static uint32_t xref_entry_count;
// Longest name of any entry, for the name column.
static size_t xref_name_width;
// Longest file name, for the file column.
static size_t xref_file_width;
// Free bytes at the end of the current pool chunk, and where they start.
static size_t pool_left;
static char *pool_next;

// Pool storage, zero-filled, in multiples of the alignment of an entry (4
// bytes on a 32-bit host, 8 on a 64-bit one), so every entry placed after a
// name is aligned. A request that does not fit the rest of the chunk abandons
// that rest; an outsize request gets memory of its own.
static void *pool_alloc(size_t size)
{
    const size_t unit = alignof(xref_entry);
    size = (size + unit - 1) & ~(unit - 1);
    if (size > POOL_CHUNK)
        return xmalloc(size);
    if (size > pool_left) {
        pool_next = (char *)xmalloc(POOL_CHUNK);
        pool_left = POOL_CHUNK;
    }
    void *p = pool_next;
    pool_next += size;
    pool_left -= size;
    return p;
}

static uint32_t xref_hash(const char *name)
{
    uint32_t h = 0;
    for (const unsigned char *p = (const unsigned char *)name; *p; p++)
        h = 2 * h + *p;
    return h % XREF_BUCKETS;
}

// Finds the entry of this name and kind, making it when it is new.
static xref_entry *xref_enter(const char *name, int kind)
{
    uint32_t b = xref_hash(name);
    for (xref_entry *e = xref_buckets[b]; e; e = e->next)
        if ((e->kind & XREF_KIND_MASK) == kind && strcmp(e->name, name) == 0)
            return e;
    if (xref_entry_count >= XREF_MAX_ENTRIES)
        msg_report(309);
    xref_entry_count++;
    size_t length = strlen(name);
    auto *e = (xref_entry *)pool_alloc(sizeof(xref_entry));
    e->name = (char *)pool_alloc(length + 1);
    memcpy(e->name, name, length);
    e->kind = kind;
    e->next = xref_buckets[b];
    xref_buckets[b] = e;
    if (length > xref_name_width)
        xref_name_width = length;
    if (kind == XREF_KIND_FILE && length > xref_file_width)
        xref_file_width = length;
    return e;
}

// Adds a reference; a second one at the same file and line as the last
// only adds its flags. Past the reporting bound every growth is an error,
// but the reference is kept.
static void xref_add_ref(xref_entry *sym, int line, xref_entry *file, int flags)
{
    if (sym->count > 0) {
        xref_ref &last = sym->refs[sym->count - 1];
        if (last.file == file && last.line == line) {
            last.flags |= flags;
            return;
        }
    }
    if (sym->count == sym->capacity) {
        sym->capacity += XREF_REF_STEP;
        sym->refs = (xref_ref *)xrealloc(sym->refs, sym->capacity * sizeof(xref_ref));
        if (sym->capacity > XREF_REF_WARN)
            msg_report(674, sym->name);
    }
    sym->refs[sym->count++] = {line, file, flags};
}

static bool xref_is_skipped_file(const char *name)
{
    vector_t *skip = tanager_set.skip_files;
    for (uint32_t i = 0; i < vec_count(skip); i++) {
        auto *prefix = (const char *)vec_get(skip, i);
        if (strncmp(name, prefix, strlen(prefix)) == 0)
            return true;
    }
    return false;
}

// A decimal number (leading blanks skipped, anything after the digits
// ignored); values beyond an int are clamped.
int xref_read_number(const char *text)
{
    long n = strtol(text, nullptr, 10);
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return (int)n;
}

// Where one input file stands while it is read.
struct xref_reader {
    xref_entry *file; // file of the following references; null: none yet
    bool skipping;    // inside a file named by a -F prefix
};

// One record. Lines that do not hold a name followed by white space, and
// references before the first file line, carry nothing and are dropped.
static void xref_read_record(xref_reader &r, std::string &line)
{
    if (line[0] == '~') {
        const char *name = line.c_str() + 1;
        r.skipping = xref_is_skipped_file(name);
        r.file = r.skipping ? nullptr : xref_enter(name, XREF_KIND_FILE);
        return;
    }
    if (r.skipping || !r.file)
        return;
    int flags = line[0] == '#' ? XREF_DEFINITION : 0;
    size_t start = flags ? 1 : 0;
    size_t end = line.find_first_of(" \t\v\f", start);
    if (end == std::string::npos || end == start)
        return;
    int number = xref_read_number(line.c_str() + end);
    line[end] = 0;
    xref_entry *sym = xref_enter(line.c_str() + start, XREF_KIND_SYMBOL);
    xref_add_ref(sym, number, r.file, flags);
}

void xref_read_file(const char *name)
{
    FILE *f = util_open_input(name);
    if (!f)
        msg_report(141, "input", name);
    xref_reader r = {nullptr, false};
    std::string line;
    while (os_read_line(f, line))
        if (!line.empty())
            xref_read_record(r, line);
    fclose(f);
}

// Every white-space separated word of the file becomes a stop word.
bool xref_read_stop_list(const char *name)
{
    FILE *f = util_open_input(name);
    if (!f)
        return false;
    std::string line;
    while (os_read_line(f, line)) {
        size_t end = 0;
        for (;;) {
            size_t start = line.find_first_not_of(" \t\v\f", end);
            if (start == std::string::npos)
                break;
            end = line.find_first_of(" \t\v\f", start);
            std::string word = line.substr(start, end - start);
            xref_enter(word.c_str(), XREF_KIND_SYMBOL)->kind |= XREF_STOP_WORD;
            if (end == std::string::npos)
                break;
        }
    }
    fclose(f);
    return true;
}

static int xref_compare_names(const void *a, const void *b)
{
    return strcmp((*(xref_entry *const *)a)->name, (*(xref_entry *const *)b)->name);
}

// All entries, bucket by bucket, sorted by name in byte order.
xref_entry **xref_sorted_entries(uint32_t *count)
{
    auto **all = (xref_entry **)xmalloc((xref_entry_count + 1) * sizeof(xref_entry *));
    uint32_t n = 0;
    for (uint32_t b = 0; b < XREF_BUCKETS; b++)
        for (xref_entry *e = xref_buckets[b]; e; e = e->next)
            all[n++] = e;
    os_qsort(all, n, sizeof(xref_entry *), xref_compare_names);
    *count = n;
    return all;
}

size_t xref_longest_name()
{
    return xref_name_width;
}

size_t xref_longest_file()
{
    return xref_file_width;
}
