#include "settings/missing_settings.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "settings/dosbox_properties.h"
#include "settings/reference_check.h"

namespace {

// The one section the first build that has the name keeps it in, or "".
std::string section_of(std::string_view name) {
  const auto& known = properties_named(name);
  if (known.empty()) {
    return "";
  }
  std::string section;
  for (const KnownProperty& each : known) {
    if (each.build != known.front().build) {
      break;
    }
    const std::string lower = lower_case(each.property->section);
    if (!section.empty() && section != lower) {
      return "";  // DOSBox-X's "irq" of [sblaster], [ide, primary], ...
    }
    section = lower;
  }
  return section;
}

}  // namespace

std::vector<SectionSetting> settings_kept_in_sections(std::string_view text,
                                                      const SettingTable& reference) {
  // By name in lower case, with the number of its last line: the one DOSBox reads.
  std::unordered_map<std::string, std::pair<std::size_t, SectionSetting>> last;
  const std::string none;
  for_each_reference_setting(text, [&](const ReferenceLine& line) {
    if (line.kind != ReferenceLineKind::kSetting) {
      return;
    }
    const std::string section = section_of(line.name);
    if (section.empty()) {
      return;
    }
    SectionSetting setting{section, std::string(line.name), lower_case(line.name),
                           lookup_setting(reference, line.name, none),
                           !games_are_made_for(lower_case(line.name))};
    std::string key = setting.lower_name;
    last.insert_or_assign(std::move(key), std::pair{line.number, std::move(setting)});
  });
  std::vector<std::pair<std::size_t, SectionSetting>> ordered;
  ordered.reserve(last.size());
  for (auto& [name, numbered] : last) {
    ordered.push_back(std::move(numbered));
  }
  std::sort(ordered.begin(), ordered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<SectionSetting> settings;
  for (auto& [number, setting] : ordered) {
    settings.push_back(std::move(setting));
  }
  return settings;
}

std::optional<std::string> dosbox_header(std::string_view line) {
  const std::size_t end = line.find(']');
  if (!line.starts_with('[') || end == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string section = lower_case(line.substr(1, end - 1));
  return some_build_has_section(section) ? section : "";
}

void DosboxFileTest::saw_header(std::string_view section) {
  if (section == "sdl" || section == "dosbox" || section == "autoexec") {
    main_section_ = true;
  } else if (others_.size() < 2 && dosbox_has_section(section) &&
             std::find(others_.begin(), others_.end(), section) == others_.end()) {
    others_.emplace_back(section);
  }
}
