// tanager: the cross-reference lister. Private declarations shared by its
// units: the name table and its references (xref.cpp), the paged listing
// (listing.cpp) and the settings of the command line (main.cpp).
#pragma once

#include <cstdint>
#include <cstdio>

#include "../../common/common.h"

// Kind of a name entry: the low two bits, plus the stop-word flag.
enum {
    XREF_KIND_FILE = 0,
    XREF_KIND_SYMBOL = 1,
    XREF_KIND_MASK = 3,
    XREF_STOP_WORD = 4,
};

// Flags of a reference.
enum { XREF_DEFINITION = 8 };

struct xref_entry;

// One place where a symbol is used or defined.
struct xref_ref {
    int line;         // line number in the file
    xref_entry *file; // the file's name entry
    int flags;        // XREF_DEFINITION
};

// A file name or a symbol; files and symbols of the same name are separate.
struct xref_entry {
    char *name;         // owned copy, from the pool
    int kind;           // XREF_KIND_* and XREF_STOP_WORD
    xref_ref *refs;     // references, in the order read
    uint32_t count;     // references in use
    uint32_t capacity;  // slots in refs
    xref_entry *next;   // next entry of the same bucket
};

// Settings of the command line.
struct tanager_settings {
    const char *title;      // heading title; null until given or defaulted
    long page_length;       // lines per page, heading included
    long page_width;        // columns per line
    vector_t *skip_files;   // -F prefixes: input files whose lines are skipped
    vector_t *exclusions;   // -X patterns: symbols left out of the listing
    const char *output;     // -O file; null for standard output
};

extern tanager_settings tanager_set;

// xref.cpp
int xref_read_number(const char *text);
void xref_read_file(const char *name);
bool xref_read_stop_list(const char *name);
xref_entry **xref_sorted_entries(uint32_t *count);
size_t xref_longest_name();
size_t xref_longest_file();

// listing.cpp
void listing_write(FILE *out, xref_entry **entries, uint32_t count);
