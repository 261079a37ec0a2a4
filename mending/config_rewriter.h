#ifndef CONFMEND_MENDING_CONFIG_REWRITER_H_
#define CONFMEND_MENDING_CONFIG_REWRITER_H_

#include <string>
#include <string_view>

#include "mending/text_accumulator.h"
#include "settings/setting_table.h"

// The new text of a configuration file: every line trimmed and ended by "\n", and each
// setting line whose name has a non-empty reference value given that value. Lines are split
// as for_each_trimmed_line splits them, so that none swallows another.
void mend_config_text(const SettingTable& reference, std::string_view original,
                      TextAccumulator& new_text);

// Rewrites the file in place with its mended text, in text mode. A file that cannot be read
// to its end, or that holds NUL bytes, is reported and left as it is; so is one that cannot
// be opened for writing. A write that fails midway puts the old bytes back.
void rewrite_config_file(const SettingTable& reference, const std::string& path);

#endif  // CONFMEND_MENDING_CONFIG_REWRITER_H_
