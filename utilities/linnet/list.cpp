// The listing itself: the source is copied character by character, every
// line led by its number as "%6ld: " (the field widens past 999999 lines),
// tabs expanded to blanks up to the next tab stop. The column counts the
// source text only, not the prefix, so tab stops fall where the editor
// showed them. A line end is LF or CR LF; the listing ends its lines with
// LF. Lines are never wrapped, and a last line without a line end stays
// without one.

#include "linnet.h"

// Where the copy stands in the source.
struct list_state {
    FILE *out;       // the listing
    long line;       // number of the current line, from 1
    long column;     // characters of the current line written so far
    bool has_prefix; // the current line's number has been written
};

// Writes the current line's number once, before its first character.
static void list_put_prefix(list_state &s)
{
    if (!s.has_prefix) {
        fprintf(s.out, "%6ld: ", s.line);
        s.has_prefix = true;
    }
}

// An empty line still gets its number.
static void list_end_line(list_state &s)
{
    list_put_prefix(s);
    putc('\n', s.out);
    s.line++;
    s.column = 0;
    s.has_prefix = false;
}

static void list_put_tab(list_state &s, int tab_width)
{
    list_put_prefix(s);
    long blanks = tab_width - s.column % tab_width;
    for (long i = 0; i < blanks; i++)
        putc(' ', s.out);
    s.column += blanks;
}

static void list_put_char(list_state &s, int c)
{
    list_put_prefix(s);
    putc(c, s.out);
    s.column++;
}

bool list_write_source(FILE *in, FILE *out, int tab_width)
{
    list_state s = {out, 1, 0, false};
    int c;
    while ((c = getc(in)) != EOF) {
        if (c == '\r') {
            int next = getc(in);
            if (next == '\n') {
                list_end_line(s);
                continue;
            }
            if (next != EOF)
                ungetc(next, in);
            list_put_char(s, c);
        } else if (c == '\n') {
            list_end_line(s);
        } else if (c == '\t') {
            list_put_tab(s, tab_width);
        } else {
            list_put_char(s, c);
        }
    }
    return !ferror(out) && fflush(out) == 0;
}
