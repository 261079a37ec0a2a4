// The reference file, loaded from its bytes in every form it is taken in: as it is, after a
// UTF-8 byte-order mark, and as UTF-16 with its mark. All three give the same settings, and
// every setting is one that the mending can apply: a trimmed name, a trimmed value that is
// not empty and holds no NUL. Its check tells each warning on a line of its own, of a line the
// text has, keeps what it tells bounded, and needs memory in proportion to the text.
#include <cstdint>
#include <string>

#include "encoding/utf16.h"
#include "fuzz/fuzz_target.h"
#include "settings/reference_check.h"
#include "settings/reference_settings.h"
#include "settings/setting_line.h"

namespace {

std::string as_utf16_with_mark(std::string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : utf16_from_utf8(text)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

bool starts_with_a_mark(std::string_view text) {
  return text.starts_with("\xEF\xBB\xBF") || text.starts_with("\xFF\xFE") ||
         text.starts_with("\xFE\xFF");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const SettingTable table = reference_settings_from_text(text);
  for (const auto& [name, value] : table) {
    FUZZ_EXPECT(trim_setting_text(name) == name, "names are trimmed");
    FUZZ_EXPECT(!value.empty() && trim_setting_text(value) == value, "values are trimmed");
    FUZZ_EXPECT(value.find('\0') == std::string::npos, "values hold no NUL");
    FUZZ_EXPECT(name.find_first_of("\r\n") == std::string::npos &&
                    value.find_first_of("\r\n") == std::string::npos,
                "no line end inside a setting");
  }
  const std::string decoded = decoded_reference_text(text);
  std::size_t lines = 0;
  for_each_trimmed_line(decoded, [&](std::string_view) { ++lines; });
  const HeapPeak heap;
  const ReferenceCheck check = check_reference(decoded);
  FUZZ_EXPECT(heap.bytes() <= 64 * decoded.size() + (1 << 20), "the check's memory is bounded");
  FUZZ_EXPECT(check.warnings.size() <= kMostWarningsTold && check.count >= check.warnings.size(),
              "what is told is bounded and counted");
  for (const ReferenceWarning& warning : check.warnings) {
    FUZZ_EXPECT(warning.line <= lines, "a warning names a line the text has");
    FUZZ_EXPECT(warning.text.find_first_of("\r\n") == std::string::npos, "a warning is one line");
    FUZZ_EXPECT(warning.text.size() < 2048, "a warning is short");
  }
  if (starts_with_a_mark(text)) {
    return 0;
  }
  FUZZ_EXPECT(reference_settings_from_text("\xEF\xBB\xBF" + text) == table,
              "a UTF-8 byte-order mark changes nothing");
  if (utf8_from_utf16(utf16_from_utf8(text)) == text) {
    FUZZ_EXPECT(reference_settings_from_text(as_utf16_with_mark(text)) == table,
                "UTF-16 gives the settings of the same text in UTF-8");
  }
  return 0;
}
