// Shared by the small utilities: opening the files they read.
#pragma once

#include <cstdio>

// Opens a file for reading in binary mode; null, with errno set, when it
// cannot be opened or is a folder (which stdio would open and then read as
// empty).
FILE *util_open_input(const char *name);

// Removes an output file left unfinished by a failed run. Only a plain file
// is removed: an output named on a device (/dev/null, a terminal) stays.
void util_remove_unfinished(const char *name);
