// linnet: the C source lister. Private declarations shared by its units.
#pragma once

#include <cstdio>

// Settings read from the command line (main.cpp).
struct linnet_settings {
    int tab_width;           // blanks a tab stop spans, 1 to 64
    const char *input_name;  // null: standard input
    const char *output_name; // null: standard output
};

// list.cpp: copies the source to the listing, each line after its number.
// Returns false when the listing could not be written in full.
bool list_write_source(FILE *in, FILE *out, int tab_width);
