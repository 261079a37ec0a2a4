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

// Gives the file its mended text, in text mode: a new file takes its place in one step (see
// replace_file_durably), or, where only that keeps what the file is, the text is written
// over it. A file that cannot be read to its end, or that holds NUL bytes, is reported and
// left as it is; so is one that cannot be written. An in-place write that fails midway puts
// the old bytes back.
void rewrite_config_file(const SettingTable& reference, const std::string& path);

#endif  // CONFMEND_MENDING_CONFIG_REWRITER_H_
