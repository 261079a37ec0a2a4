#include "settings/dosbox_properties.h"

#include <gtest/gtest.h>

namespace {

const DosboxProperty& property_of(const DosboxBuild& build, std::string_view name) {
  static const DosboxProperty none;
  for (const DosboxProperty& property : build.properties) {
    if (property.name == name) {
      return property;
    }
  }
  ADD_FAILURE() << build.name << " has no " << name;
  return none;
}

TEST(DosboxBuilds, NameTheirVersionAndHoldEverySectionOfDosbox) {
  const auto& builds = dosbox_builds();
  ASSERT_EQ(builds.size(), 5u);
  EXPECT_EQ(builds[0].name, "DOSBox 0.74-3");
  EXPECT_EQ(builds[1].name, "DOSBox Staging 0.79.0");
  EXPECT_EQ(builds[2].name, "DOSBox Staging 0.83");
  EXPECT_EQ(builds[3].name, "DOSBox-X 0.83.13");
  EXPECT_EQ(builds[4].name, "DOSBox-X 0.83.21");
  for (const DosboxBuild& build : builds) {
    for (const char* section : {"sdl", "dosbox", "render", "cpu", "mixer", "midi", "sblaster",
                                "gus", "speaker", "joystick", "serial", "dos", "ipx", "autoexec"}) {
      EXPECT_NE(std::find(build.sections.begin(), build.sections.end(), section),
                build.sections.end())
          << build.name << " [" << section << "]";
    }
    EXPECT_GT(build.properties.size(), 60u) << build.name;
  }
  EXPECT_EQ(builds[0].properties.size(), 64u);
}

TEST(DosboxBuilds, KnowTheKindOfEachProperty) {
  const DosboxBuild& dosbox = dosbox_builds()[0];
  const struct {
    const char* name;
    PropertyKind kind;
    ValueWords words;
    const char* default_value;
  } cases[] = {
      {"fullscreen", PropertyKind::kTrueFalse, ValueWords::kWhole, "false"},
      {"memsize", PropertyKind::kWholeNumber, ValueWords::kWhole, "16"},
      {"irq", PropertyKind::kWholeNumber, ValueWords::kWhole, "7"},
      {"sbbase", PropertyKind::kHexNumber, ValueWords::kWhole, "220"},
      {"output", PropertyKind::kOneOf, ValueWords::kWhole, "surface"},
      {"cycles", PropertyKind::kOneOf, ValueWords::kFirstWord, "auto"},
      {"priority", PropertyKind::kOneOf, ValueWords::kEveryWord, "higher,normal"},
      {"language", PropertyKind::kText, ValueWords::kWhole, ""},
      {"ultradir", PropertyKind::kText, ValueWords::kWhole, "C:\\ULTRASND"},
  };
  for (const auto& c : cases) {
    const DosboxProperty& property = property_of(dosbox, c.name);
    EXPECT_EQ(property.kind, c.kind) << c.name;
    EXPECT_EQ(property.words, c.words) << c.name;
    EXPECT_EQ(property.default_value, c.default_value) << c.name;
  }
  EXPECT_EQ(property_of(dosbox, "output").section, "sdl");
  const DosboxProperty& transparency = property_of(dosbox_builds()[1], "transparency");
  ASSERT_TRUE(transparency.range);
  EXPECT_EQ(transparency.range->highest, 90);
}

TEST(TakesValue, JudgesAValueAsDosboxReadsIt) {
  const DosboxBuild& dosbox = dosbox_builds()[0];
  const struct {
    const char* name;
    const char* value;
    bool taken;
  } cases[] = {
      {"fullscreen", "true", true},
      {"fullscreen", "OFF", true},
      {"fullscreen", "maybe", false},
      {"memsize", "64", true},
      {"memsize", "-1", true},
      {"memsize", "12abc", false},
      {"sbbase", "2A0", true},
      {"sbbase", "0x220", true},
      {"sbbase", "xyz", false},
      {"output", "OpenGL", true},
      {"output", "opengll", false},
      {"cycles", "fixed 3000", true},
      {"cycles", "3000", true},
      {"cycles", "maxx", false},
      {"cycles", "max 80% limit 50000", true},
      {"priority", "higher,normal", true},
      {"priority", "higher,bogus", false},
      {"priority", ",", false},
      {"scaler", "normal3x forced", true},
      {"serial1", "modem listenport:23", true},
      {"language", "anything at all", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(takes_value(property_of(dosbox, c.name), c.value), c.taken)
        << c.name << "=" << c.value;
  }
}

}  // namespace
