// The table of DOSBox 0.74-3 against the installed DOSBox itself, run headless in a sandbox:
// what it writes as its configuration, and what it takes and refuses when it reads one.
#include <gtest/gtest.h>

#include <map>

#include "settings/dosbox_properties.h"
#include "tests/dosbox_program.h"

namespace {

// Runs DOSBox on the configuration, if any, and has it write its own to `written`.
ChildResult run_dosbox_writing(const TempDir& home, const std::string& configuration,
                               const std::string& written) {
  std::vector<std::string> configurations;
  if (!configuration.empty()) {
    write_file(home / "given.conf", configuration);
    configurations.push_back(home / "given.conf");
  }
  return run_dosbox(home.path(), configurations, {"config -writeconf " + written});
}

struct Written {
  std::string section, default_value, values;
};

// What DOSBox wrote: each property's section and value, and the values its help lists.
std::map<std::string, Written> read_written(const std::string& text) {
  std::map<std::string, Written> written;
  std::map<std::string, std::string> listed;
  std::string section, described;
  std::size_t column = 0;  // of a help text's colon; a continuation may hold one elsewhere
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.starts_with('[')) {
      section = line.substr(1, line.find(']') - 1);
      column = 0;
    } else if (line.starts_with('#')) {
      const auto possible = line.find("Possible values: ");
      const auto colon = line.find(": ");
      if (possible != std::string::npos) {
        listed[described] = line.substr(possible + 17, line.size() - possible - 18);
      } else if (colon != std::string::npos && line.find_first_not_of("# ") < colon &&
                 line.find(' ', line.find_first_not_of("# ")) > colon) {
        column = column == 0 ? colon : column;
        if (colon == column) {
          const auto name = line.find_first_not_of("# ");
          described = line.substr(name, colon - name);
        }
      }
    } else if (line.find('=') != std::string::npos && section != "autoexec") {
      const std::string name = line.substr(0, line.find('='));
      written[name] = {section, line.substr(line.find('=') + 1), ""};
    }
  }
  for (auto& [name, property] : written) {
    property.values = listed.count(name) ? listed[name] : "";
  }
  return written;
}

const DosboxBuild& table() {
  return dosbox_builds().front();
}

TEST(DosboxTable, HoldsEveryPropertyDosboxWritesWithItsDefaultAndValues) {
  SKIP_UNLESS_DOSBOX("the table against DOSBox");
  const TempDir home;
  const auto result = run_dosbox_writing(home, "", home / "written.conf");
  ASSERT_EQ(result.exit_status, 0) << result.output << result.errors;
  const auto written = read_written(read_file(home / "written.conf"));
  ASSERT_GT(written.size(), 50u);
  EXPECT_EQ(written.size(), table().properties.size());
  for (const auto& [name, wrote] : written) {
    const auto found = std::find_if(table().properties.begin(), table().properties.end(),
                                    [&](const DosboxProperty& p) { return p.name == name; });
    ASSERT_NE(found, table().properties.end()) << name;
    EXPECT_EQ(found->section, wrote.section) << name;
    EXPECT_EQ(found->default_value, wrote.default_value) << name;
    std::string values;
    for (const std::string& value : found->values) {
      if (value != "ddraw" && value != "%u") {  // the Windows build's, and unlisted numbers
        values += (values.empty() ? "" : ", ") + value;
      }
    }
    EXPECT_EQ(values, wrote.values) << name;
  }
}

// Each listed value the table says it takes DOSBox keeps; a value off the list it refuses,
// with its own message, and a true/false property keeps the opposite of its default.
TEST(DosboxTable, TakesWhatTheTableSaysAndRefusesTheRest) {
  SKIP_UNLESS_DOSBOX("the table against DOSBox");
  std::string taken, refused;
  std::map<std::string, std::string> expected;
  std::size_t lists = 0;
  std::string section;
  for (const DosboxProperty& property : table().properties) {
    if (property.section != section) {
      section = property.section;
      taken += "[" + section + "]\n";
      refused += "[" + section + "]\n";
    }
    std::string value;
    if (property.kind == PropertyKind::kTrueFalse) {
      value = property.default_value == "true" ? "false" : "true";
    } else if (property.kind == PropertyKind::kOneOf) {
      value = property.values[1];
      if (property.words == ValueWords::kEveryWord) {
        value += "," + value;
      }
      refused += property.name + "=confmend_typo\n";
      ++lists;
    } else {
      continue;
    }
    EXPECT_TRUE(takes_value(property, value)) << property.name;
    EXPECT_FALSE(takes_value(property, "confmend_typo")) << property.name;
    taken += property.name + "=" + value + "\n";
    expected[property.name] = value;
  }
  const TempDir home;
  const auto took = run_dosbox_writing(home, taken, home / "took.conf");
  ASSERT_EQ(took.exit_status, 0) << took.errors;
  EXPECT_EQ(took.output.find("not a valid value"), std::string::npos) << took.output;
  const auto written = read_written(read_file(home / "took.conf"));
  for (const auto& [name, value] : expected) {
    ASSERT_TRUE(written.count(name)) << name;
    EXPECT_EQ(written.at(name).default_value.substr(0, value.size()), value) << name;
  }
  const auto refusing = run_dosbox_writing(home, refused, home / "refused.conf");
  ASSERT_EQ(refusing.exit_status, 0) << refusing.errors;
  std::size_t refusals = 0;
  for (std::size_t at = 0; (at = refusing.output.find("\"confmend_typo\" is not a valid value",
                                                      at)) != std::string::npos;
       ++at) {
    ++refusals;
  }
  EXPECT_EQ(refusals, lists) << refusing.output;
}

}  // namespace
