// shrike: the symbol hider. Private declarations shared by its units.
#pragma once

#include <vector>

// hide.cpp: the names whose global definitions are made local, in the order
// given on the command line.
extern std::vector<const char *> hide_names;

// Rewrites one object file in place; a failure is fatal and leaves the file
// as it was.
void hide_object_file(const char *name);

// Removes the temporary of the file being rewritten, if there is one (the
// run's exit hook calls it).
void hide_discard_temporary();
