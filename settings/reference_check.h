#ifndef CONFMEND_SETTINGS_REFERENCE_CHECK_H_
#define CONFMEND_SETTINGS_REFERENCE_CHECK_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The reference judged against what DOSBox takes, line by line as the loader reads it: what is
// probably not what its writer meant (a typo, a name in another case, a comment the loader
// takes as a setting, a setting games are made for). It changes nothing; the caller tells.

struct ReferenceWarning {
  std::size_t line = 0;  // from 1, as for_each_trimmed_line splits the text; 0: the whole file
  std::string text;      // what is wrong and what to write instead; names and values quoted
};

// The most warnings kept for telling; the rest are only counted.
constexpr std::size_t kMostWarningsTold = 100;

struct ReferenceCheck {
  std::vector<ReferenceWarning> warnings;  // the file's first, then in line order
  std::size_t count = 0;                   // all there are, told or not
};

// `text` is the reference as the loader decodes it (decoded_reference_text).
ReferenceCheck check_reference(std::string_view text);

#endif  // CONFMEND_SETTINGS_REFERENCE_CHECK_H_
