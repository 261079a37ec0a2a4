#ifndef CONFMEND_SETTINGS_DOSBOX_PROPERTIES_H_
#define CONFMEND_SETTINGS_DOSBOX_PROPERTIES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What DOSBox and the forks players use take in their configuration files, as each writes its
// whole configuration: every section and property, with its kind, default and values.

enum class PropertyKind {
  kTrueFalse,    // true, false and their synonyms
  kWholeNumber,  // in `range` when it has one; `values` are the usual ones
  kHexNumber,    // an I/O address; `values` are the usual ones
  kOneOf,        // one of `values`, without regard to case; "%u" in them takes a number
  kText,         // anything
};

// How a property reads a value of several words.
enum class ValueWords {
  kWhole,      // the value as one
  kFirstWord,  // the first word is of the kind, the rest is free ("fixed 3000")
  kEveryWord,  // each word, split at blanks and commas, is of the kind ("higher,normal")
};

struct NumberRange {
  std::int64_t lowest = 0;
  std::int64_t highest = 0;
};

struct DosboxProperty {
  std::string section;  // as the build writes it: "sdl", "ide, primary"
  std::string name;     // as the build writes it: "fullscreen", "pc-98 BIOS copyright string"
  PropertyKind kind = PropertyKind::kText;
  ValueWords words = ValueWords::kWhole;
  std::string default_value;
  std::vector<std::string> values;
  std::optional<NumberRange> range;
};

struct DosboxBuild {
  std::string name;  // "DOSBox 0.74-3"
  std::vector<std::string> sections;
  std::vector<DosboxProperty> properties;
};

// A build's table from its data: a first line "# " and the build's name, further comment
// lines, "[section]" lines, and "name = default" lines followed, when the build lists values,
// by " | " and the values separated by commas ("0..90" for a range).
DosboxBuild read_dosbox_build(std::string_view data);

// DOSBox 0.74-3 first, then DOSBox Staging and DOSBox-X, compiled in.
const std::vector<DosboxBuild>& dosbox_builds();

// Whether the property takes the value (trimmed) as the build reads it.
bool takes_value(const DosboxProperty& property, std::string_view value);

// The words of the value that the property judges by its kind.
std::vector<std::string_view> judged_words(const DosboxProperty& property, std::string_view value);

// What it takes, for a message: "true or false", "a whole number from 0 to 90",
// "surface, overlay, opengl", "auto, fixed, max or a number, then anything".
std::string what_it_takes(const DosboxProperty& property);

// Every property of every build named so, without regard to case; empty when none is.
struct KnownProperty {
  std::size_t build = 0;  // in dosbox_builds()
  const DosboxProperty* property = nullptr;
};
const std::vector<KnownProperty>& properties_named(std::string_view name);

// Every name some build has, as the first build that has it writes it, in byte order.
const std::vector<std::string>& every_property_name();

// Whether some build has the section (in lower case); whether DOSBox 0.74-3 itself has it.
bool some_build_has_section(std::string_view section);
bool dosbox_has_section(std::string_view section);

// Whether games are made for the setting (in lower case): the machine, its memory, its sound
// card's resources, its DOS. Set in every game, it can keep some from starting.
bool games_are_made_for(std::string_view name);

// How many distinct names the build has.
std::size_t names_in_build(std::size_t build);

// The text in ASCII lower case.
std::string lower_case(std::string_view text);

#endif  // CONFMEND_SETTINGS_DOSBOX_PROPERTIES_H_
