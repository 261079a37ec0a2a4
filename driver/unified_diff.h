#ifndef CONFMEND_DRIVER_UNIFIED_DIFF_H_
#define CONFMEND_DRIVER_UNIFIED_DIFF_H_

#include <string>
#include <string_view>
#include <vector>

#include "mending/mending_report.h"

// The differences between two texts as `diff -u` prints them, so that `patch` turns the old
// text into the new one byte for byte: "--- " and "+++ " headers with the label, hunks of
// changed lines with three lines of context around them, and "\ No newline at end of file"
// after a last line without one. Lines end at LF and are shown with every other byte they
// hold, a CR before the LF included. A label holding a blank is followed by a tab, which
// tells `patch` where it ends. With `colour`, the lines are coloured as `git diff` colours
// them. Empty when the texts are the same. With the rewriter's map of `lines` from the one
// text to the other, each change is shown where it was made; without, the lines the texts
// share at both ends are kept and all between them changed.
std::string unified_diff(std::string_view old_text, std::string_view new_text,
                         const std::string& label, bool colour,
                         const std::vector<MendedLine>* lines = nullptr);

// Whether there is memory enough to make the diff of these texts: its containers tell no
// shortage, so the memory is asked for first. A guess on the safe side.
bool diff_fits_in_memory(std::string_view old_text, std::string_view new_text);

#endif  // CONFMEND_DRIVER_UNIFIED_DIFF_H_
