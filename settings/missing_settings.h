#ifndef CONFMEND_SETTINGS_MISSING_SETTINGS_H_
#define CONFMEND_SETTINGS_MISSING_SETTINGS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/setting_line.h"

// What --add-missing gives a DOSBox configuration file: the reference's settings that DOSBox
// keeps in a section, matched there without regard to case, as DOSBox reads them, and added
// where the file lacks them.

struct SectionSetting {
  std::string section;     // in lower case, as DOSBox writes it: "sdl"
  std::string name;        // as the reference writes it
  std::string lower_name;  // the same in lower case
  std::string value;       // what the plain rule gives a line of that name
  bool may_add = true;     // false for a setting games are made for: matched, never added
  bool withheld = false;   // the game's DOSBox does not take the value: neither given nor added
};

// The reference's settings that DOSBox keeps in one section, in the order of their last lines
// in `text` (the reference decoded); none from a comment or a DOS command, none that no
// DOSBox has, and none that several sections of the first build that has it hold.
std::vector<SectionSetting> settings_kept_in_sections(std::string_view text,
                                                      const SettingTable& reference);

// How DOSBox 0.74 reads a (trimmed) line that begins with "[": the name up to the first "]",
// as it stands, blanks and all, heads that section when DOSBox has it, in lower case; any other
// such line gives "", and leaves the section before it current. None for a line DOSBox does
// not take for a header. The sections of the forks (DOSBox-X's [log]) head theirs too, as the
// forks read them: settings kept there are added under them.
std::optional<std::string> dosbox_header(std::string_view line);

// Whether a file is one of DOSBox's configuration files, told from its section headers (in
// lower case) one at a time: one is [sdl], [dosbox] or [autoexec], or two are other sections
// that DOSBox 0.74-3 has. Keeps no more than those.
class DosboxFileTest {
 public:
  void saw_header(std::string_view section);
  bool is_dosbox_configuration() const { return main_section_ || others_.size() >= 2; }

 private:
  bool main_section_ = false;
  std::vector<std::string> others_;
};

#endif  // CONFMEND_SETTINGS_MISSING_SETTINGS_H_
