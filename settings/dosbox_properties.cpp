#include "settings/dosbox_properties.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>
#include <unordered_map>

#include "settings/setting_line.h"

// The data of each build, compiled in from settings/dosbox_builds/.
extern const std::array<std::string_view, 5> kDosboxBuildData;

namespace {

bool is_decimal(std::string_view text) {
  if (text.starts_with('-') || text.starts_with('+')) {
    text.remove_prefix(1);
  }
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool is_hex(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
  }
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

bool is_true_or_false(std::string_view word) {
  static constexpr std::string_view kWords[] = {"true", "false", "1",  "0",       "on",
                                                "off",  "yes",   "no", "enabled", "disabled"};
  const std::string lower = lower_case(word);
  return std::find(std::begin(kWords), std::end(kWords), lower) != std::end(kWords);
}

std::optional<NumberRange> range_in(std::string_view text) {
  const auto dots = text.find("..");
  if (dots == std::string_view::npos) {
    return std::nullopt;
  }
  NumberRange range;
  const std::string_view low = text.substr(0, dots);
  const std::string_view high = text.substr(dots + 2);
  if (std::from_chars(low.data(), low.data() + low.size(), range.lowest).ec != std::errc() ||
      std::from_chars(high.data(), high.data() + high.size(), range.highest).ec != std::errc()) {
    return std::nullopt;
  }
  return range;
}

std::vector<std::string> values_in(std::string_view text) {
  std::vector<std::string> values;
  for (std::size_t start = 0;;) {
    const auto comma = text.find(',', start);
    values.emplace_back(trim_setting_text(text.substr(start, comma - start)));
    if (comma == std::string_view::npos) {
      return values;
    }
    start = comma + 1;
  }
}

// Properties whose values are several words, and which of them DOSBox judges.
ValueWords words_of(std::string_view name) {
  static constexpr std::string_view kFirstWord[] = {
      "cycles",  "scaler",  "capture_mouse", "monochrome_pal", "serial1", "serial2", "serial3",
      "serial4", "serial5", "serial6",       "serial7",        "serial8", "serial9"};
  static constexpr std::string_view kEveryWord[] = {"priority", "sensitivity"};
  if (std::find(std::begin(kFirstWord), std::end(kFirstWord), name) != std::end(kFirstWord)) {
    return ValueWords::kFirstWord;
  }
  if (std::find(std::begin(kEveryWord), std::end(kEveryWord), name) != std::end(kEveryWord)) {
    return ValueWords::kEveryWord;
  }
  return ValueWords::kWhole;
}

// The kind as the data shows it: a build lists values for every property that takes only
// some, and writes a default of the property's kind.
PropertyKind kind_of(const DosboxProperty& property) {
  if (property.range) {
    return PropertyKind::kWholeNumber;
  }
  const auto& values = property.values;
  if (values.empty()) {
    if (property.default_value == "true" || property.default_value == "false") {
      return PropertyKind::kTrueFalse;
    }
    return is_decimal(property.default_value) ? PropertyKind::kWholeNumber : PropertyKind::kText;
  }
  if (std::all_of(values.begin(), values.end(), is_decimal)) {
    return PropertyKind::kWholeNumber;
  }
  if (std::all_of(values.begin(), values.end(), [](const std::string& v) { return is_hex(v); })) {
    return PropertyKind::kHexNumber;
  }
  return PropertyKind::kOneOf;
}

bool is_blank_or_comma(char c) {
  return c == ' ' || c == '\t' || c == ',';
}

bool takes_word(const DosboxProperty& property, std::string_view word) {
  switch (property.kind) {
    case PropertyKind::kTrueFalse:
      return is_true_or_false(word);
    case PropertyKind::kWholeNumber: {
      if (!is_decimal(word)) {
        return false;
      }
      if (!property.range) {
        return true;
      }
      if (word.starts_with('+')) {
        word.remove_prefix(1);
      }
      std::int64_t number = 0;
      const auto parsed = std::from_chars(word.data(), word.data() + word.size(), number);
      return parsed.ec == std::errc() && number >= property.range->lowest &&
             number <= property.range->highest;
    }
    case PropertyKind::kHexNumber:
      return is_hex(word);
    case PropertyKind::kOneOf: {
      const std::string lower = lower_case(word);
      return std::any_of(property.values.begin(), property.values.end(),
                         [&](const std::string& value) {
                           return lower_case(value) == lower || (value == "%u" && is_decimal(word));
                         });
    }
    case PropertyKind::kText:
      break;
  }
  return true;
}

}  // namespace

std::string lower_case(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower;
}

DosboxBuild read_dosbox_build(std::string_view data) {
  DosboxBuild build;
  std::string section;
  for_each_trimmed_line(data, [&](std::string_view line) {
    if (line.starts_with('#')) {
      if (build.name.empty()) {
        build.name = trim_setting_text(line.substr(1));
      }
      return;
    }
    if (line.starts_with('[') && line.ends_with(']')) {
      section = line.substr(1, line.size() - 2);
      build.sections.push_back(section);
      return;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      return;
    }
    DosboxProperty property;
    property.section = section;
    property.name = trim_setting_text(line.substr(0, equals));
    std::string_view rest = line.substr(equals + 1);
    const auto bar = rest.find(" |");
    property.default_value = trim_setting_text(rest.substr(0, bar));
    if (bar != std::string_view::npos) {
      const std::string_view listed = trim_setting_text(rest.substr(bar + 2));
      property.range = range_in(listed);
      if (!property.range) {
        property.values = values_in(listed);
      }
    }
    property.kind = kind_of(property);
    property.words = words_of(property.name);
    build.properties.push_back(std::move(property));
  });
  return build;
}

const std::vector<DosboxBuild>& dosbox_builds() {
  static const std::vector<DosboxBuild> builds = [] {
    std::vector<DosboxBuild> read;
    for (const std::string_view data : kDosboxBuildData) {
      read.push_back(read_dosbox_build(data));
    }
    return read;
  }();
  return builds;
}

std::vector<std::string_view> judged_words(const DosboxProperty& property, std::string_view value) {
  std::vector<std::string_view> words;
  if (property.words == ValueWords::kWhole) {
    words.push_back(value);
    return words;
  }
  for (std::size_t at = 0; at < value.size();) {
    while (at < value.size() && is_blank_or_comma(value[at])) {
      ++at;
    }
    std::size_t end = at;
    while (end < value.size() && !is_blank_or_comma(value[end])) {
      ++end;
    }
    if (end > at) {
      words.push_back(value.substr(at, end - at));
    }
    if (property.words == ValueWords::kFirstWord) {
      break;
    }
    at = end;
  }
  return words;
}

bool takes_value(const DosboxProperty& property, std::string_view value) {
  const auto words = judged_words(property, value);
  return !words.empty() && std::all_of(words.begin(), words.end(), [&](std::string_view word) {
    return takes_word(property, word);
  });
}

std::string what_it_takes(const DosboxProperty& property) {
  std::string takes;
  switch (property.kind) {
    case PropertyKind::kTrueFalse:
      takes = "true or false";
      break;
    case PropertyKind::kWholeNumber:
      takes = "a whole number";
      if (property.range) {
        takes += " from " + std::to_string(property.range->lowest) + " to " +
                 std::to_string(property.range->highest);
      }
      break;
    case PropertyKind::kHexNumber:
      takes = "a hexadecimal number";
      break;
    case PropertyKind::kOneOf:
      for (const std::string& value : property.values) {
        const bool last = &value == &property.values.back();
        if (!takes.empty()) {
          takes += last ? " or " : ", ";
        }
        takes += value == "%u" ? "a number" : value.empty() ? "nothing" : value;
      }
      break;
    case PropertyKind::kText:
      takes = "any text";
      break;
  }
  switch (property.words) {
    case ValueWords::kFirstWord:
      return takes + ", then anything";
    case ValueWords::kEveryWord:
      return takes + " for each word";
    case ValueWords::kWhole:
      break;
  }
  return takes;
}

namespace {

// Every property of every build, by its name in lower case, and every section likewise.
struct KnownNames {
  std::unordered_map<std::string, std::vector<KnownProperty>> properties;
  std::vector<std::string> names;
  std::set<std::string, std::less<>> sections;
  std::set<std::string, std::less<>> dosbox_sections;
  std::vector<std::size_t> names_in_build;
};

const KnownNames& known_names() {
  static const KnownNames known = [] {
    KnownNames names;
    const auto& builds = dosbox_builds();
    for (std::size_t build = 0; build < builds.size(); ++build) {
      std::set<std::string> distinct;
      for (const std::string& section : builds[build].sections) {
        names.sections.insert(lower_case(section));
        if (build == 0) {
          names.dosbox_sections.insert(lower_case(section));
        }
      }
      for (const DosboxProperty& property : builds[build].properties) {
        const std::string name = lower_case(property.name);
        distinct.insert(name);
        auto& known = names.properties[name];
        if (known.empty()) {
          names.names.push_back(property.name);
        }
        known.push_back({build, &property});
      }
      names.names_in_build.push_back(distinct.size());
    }
    std::sort(names.names.begin(), names.names.end());
    return names;
  }();
  return known;
}

}  // namespace

const std::vector<KnownProperty>& properties_named(std::string_view name) {
  static const std::vector<KnownProperty> none;
  const auto found = known_names().properties.find(lower_case(name));
  return found == known_names().properties.end() ? none : found->second;
}

const std::vector<std::string>& every_property_name() {
  return known_names().names;
}

bool some_build_has_section(std::string_view section) {
  return known_names().sections.contains(section);
}

bool dosbox_has_section(std::string_view section) {
  return known_names().dosbox_sections.contains(section);
}

std::size_t names_in_build(std::size_t build) {
  return known_names().names_in_build[build];
}

bool games_are_made_for(std::string_view name) {
  static constexpr std::string_view kMadeFor[] = {"machine", "memsize", "cputype", "core",
                                                  "sbtype",  "sbbase",  "irq",     "dma",
                                                  "hdma",    "xms",     "ems",     "umb"};
  return std::find(std::begin(kMadeFor), std::end(kMadeFor), name) != std::end(kMadeFor);
}
