#ifndef CONFMEND_SETTINGS_REFERENCE_CHECK_H_
#define CONFMEND_SETTINGS_REFERENCE_CHECK_H_

#include <cstddef>
#include <functional>
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
  // What is no fault of the reference but worth knowing, told in the same form and not
  // counted: a value only forks of DOSBox take, which games that ship DOSBox 0.74 keep out.
  std::vector<ReferenceWarning> notes;
};

// `text` is the reference as the loader decodes it (decoded_reference_text).
ReferenceCheck check_reference(std::string_view text);

// How a line that the loader stores a setting from reads to DOSBox.
enum class ReferenceLineKind {
  kSetting,  // before any section, or in one that some DOSBox has
  kComment,  // a comment that holds "=": "#fullscreen=false"
  kCommand,  // in [autoexec] (a DOS command), or in a section no DOSBox has (noise)
};

struct ReferenceLine {
  std::size_t number = 0;
  std::string_view section;  // in lower case; empty before the first header
  std::string_view text;     // trimmed
  std::string_view name;     // as the loader stores them
  std::string_view value;
  ReferenceLineKind kind = ReferenceLineKind::kSetting;
};

// Calls `handle` with every line of the text that the loader stores a setting from, in order.
void for_each_reference_setting(std::string_view text,
                                const std::function<void(const ReferenceLine&)>& handle);

#endif  // CONFMEND_SETTINGS_REFERENCE_CHECK_H_
