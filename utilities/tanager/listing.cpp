// The paged cross-reference listing. Every symbol that is neither a stop
// word nor excluded is listed in name order with its references sorted by
// file name and line, one line per file:
//   name   file   12   30#   41
// the name column as wide as the longest name + 2, the file column as wide
// as the longest file name + 2, each reference "%5d%c" with "#" marking a
// definition. A line that would run past the page width continues on the
// next line under the reference column. Pages open with a 5-line heading and
// end with a form feed once the page length less 5 lines is reached.
//
// Any settings are safe: a page always takes at least one listing line, a
// reference is moved to a new line only when its line already holds one,
// and the heading's page field never gets a negative width.

#include <cstring>

#include "tanager.h"

// Where the listing stands on its page.
struct page_state {
    FILE *out;         // the listing
    long lines;        // lines of the current page, its heading included
    int page;          // number of the current page
    bool page_open;    // the current page has begun and has no form feed yet
    size_t name_width; // width of the name column
    size_t file_width; // width of the file column
};

static void listing_put_padded(FILE *out, const char *text, size_t width)
{
    size_t length = strlen(text);
    fputs(text, out);
    for (; length < width; length++)
        putc(' ', out);
}

// The heading, written before the first line of each page: two blank lines,
// the title with "Page" and its number, two blank lines.
static void listing_start_line(page_state &ps)
{
    if (ps.page_open)
        return;
    ps.page++;
    ps.page_open = true;
    ps.lines = 5;
    long field = tanager_set.page_width - (long)strlen(tanager_set.title) - 38;
    if (field < 0)
        field = 0;
    fprintf(ps.out, "\n\nCross reference listing: %s", tanager_set.title);
    listing_put_padded(ps.out, "", field > 4 ? (size_t)field - 4 : 0);
    fprintf(ps.out, "Page %3d\n\n\n", ps.page);
}

static void listing_end_line(page_state &ps)
{
    putc('\n', ps.out);
    ps.lines++;
    if (ps.lines >= tanager_set.page_length - 5) {
        putc('\f', ps.out);
        ps.page_open = false;
    }
}

// A pattern excludes every name it is a prefix of, a digit in the pattern
// standing for any digit: _tmp0 excludes _tmp1 and _tmp23, not _tmpa.
static bool listing_matches(const char *pattern, const char *name)
{
    for (; *pattern; pattern++, name++) {
        bool digits = *pattern >= '0' && *pattern <= '9' && *name >= '0' && *name <= '9';
        if (!digits && *pattern != *name)
            return false;
    }
    return true;
}

static bool listing_is_excluded(const char *name)
{
    vector_t *patterns = tanager_set.exclusions;
    for (uint32_t i = 0; i < vec_count(patterns); i++)
        if (listing_matches((const char *)vec_get(patterns, i), name))
            return true;
    return false;
}

static int listing_compare_refs(const void *a, const void *b)
{
    auto *x = (const xref_ref *)a;
    auto *y = (const xref_ref *)b;
    int c = strcmp(x->file->name, y->file->name);
    if (c != 0)
        return c;
    return x->line < y->line ? -1 : x->line > y->line;
}

// One symbol: a line per file it occurs in, each place written once with
// the flags of all its references (so a use and a definition on one line
// show as one place marked "#").
static void listing_write_symbol(page_state &ps, xref_entry *sym)
{
    os_qsort(sym->refs, sym->count, sizeof(xref_ref), listing_compare_refs);
    size_t ref_column = ps.name_width + ps.file_width;
    size_t column = 0;
    for (uint32_t i = 0, next; i < sym->count; i = next) {
        const xref_ref &r = sym->refs[i];
        int flags = r.flags;
        for (next = i + 1; next < sym->count; next++) {
            const xref_ref &same = sym->refs[next];
            if (same.file != r.file || same.line != r.line)
                break;
            flags |= same.flags;
        }
        if (i == 0 || sym->refs[i - 1].file != r.file) {
            if (i != 0)
                listing_end_line(ps);
            listing_start_line(ps);
            listing_put_padded(ps.out, i == 0 ? sym->name : "", ps.name_width);
            listing_put_padded(ps.out, r.file->name, ps.file_width);
            column = ref_column;
        } else if ((long)column + 8 > tanager_set.page_width && column > ref_column) {
            listing_end_line(ps);
            listing_start_line(ps);
            listing_put_padded(ps.out, "", ref_column);
            column = ref_column;
        }
        int written = fprintf(ps.out, "%5d%c", r.line, flags & XREF_DEFINITION ? '#' : ' ');
        column += written > 0 ? written : 0;
    }
}

void listing_write(FILE *out, xref_entry **entries, uint32_t count)
{
    page_state ps = {out, 0, 0, false, xref_longest_name() + 2, xref_longest_file() + 2};
    bool first = true;
    for (uint32_t i = 0; i < count; i++) {
        xref_entry *e = entries[i];
        if (e->kind != XREF_KIND_SYMBOL || e->count == 0 || listing_is_excluded(e->name))
            continue;
        if (!first)
            listing_end_line(ps);
        first = false;
        listing_write_symbol(ps, e);
    }
    if (ps.page_open)
        putc('\f', out);
}
