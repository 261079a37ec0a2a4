#include "settings/reference_check.h"

#include <gtest/gtest.h>

#include "settings/dosbox_properties.h"

namespace {

std::string told(const ReferenceCheck& check) {
  std::string text;
  for (const ReferenceWarning& warning : check.warnings) {
    text += std::to_string(warning.line) + ": " + warning.text + "\n";
  }
  return text;
}

TEST(CheckReference, TellsEachMistakeOnItsLine) {
  const struct {
    const char* reference;
    std::size_t line;
    const char* says;
  } cases[] = {
      {"[sdl]\nfulscreen=true\n", 2, "named \"fulscreen\"; did you mean \"fullscreen\"?"},
      {"[sdl]\nfulscreen=true\n", 2, "no DOSBox has a setting"},
      {"xyzzy=1\n", 1, "no DOSBox has a setting named \"xyzzy\"; a run will change only"},
      {"[sdl]\noutput=opengll\n", 2,
       "no DOSBox takes \"opengll\" for output (did you mean \"opengl\"?)"},
      {"output=opengll\n", 1, "DOSBox 0.74-3 takes surface, overlay, opengl, openglnb or ddraw;"},
      {"cycles=maxx\n", 1, "(did you mean \"max\"?)"},
      {"machine=vgaa\n", 1, "(did you mean \"vgaonly\"?)"},
      {"fullscreen=maybe\n", 1, "take true or false"},
      {"memsize=lots\n", 1, "take a whole number"},
      {"transparency=95\n", 1,
       "DOSBox Staging 0.79.0 and DOSBox-X 0.83.21 take a whole number from 0 to 90"},
      // Of a build with two tables, the newest release is told where it has the setting.
      {"output=opengll\n", 1, "; DOSBox Staging 0.83 takes opengl, texture or texturenb; DOSBox-X"},
      {"integer_scaling=sharp\n", 1,
       ": DOSBox Staging 0.83 takes auto, vertical, horizontal or off"},
      {"sbbase=xyz\n", 1, "take a hexadecimal number"},
      {"priority=higher,bogus\n", 1, "no DOSBox takes \"higher,bogus\" for priority"},
      {"[SDL]\nFullScreen=true\n", 2, "\"FullScreen\" is written \"fullscreen\" in game files"},
      {"cycles=max   # always\n", 1, "ends in \"# always\", which DOSBox 0.74 takes as part"},
      {"cycles=max ; always\n", 1, "ends in \"; always\""},
      {"memsize=64\n", 1, "memsize is a setting games are made for"},
      {"[sblaster]\nirq=5\n", 2, "irq is a setting games are made for"},
      {"[autoexec]\nset BLASTER=A220 I5 D1\n", 2,
       "\"set BLASTER=A220 I5 D1\" stands in [autoexec], where DOSBox runs it as a command"},
      {"[sdl2]\nfullscreen=true\n", 2, "stands in [sdl2], a section no DOSBox has"},
      {"#fullscreen=false\n", 1, "a setting named \"#fullscreen\""},
      {"; cycles=max\n", 1, "a setting named \"; cycles\""},
      {"output=surface\n\noutput=opengl\n", 3,
       "output is set again, to \"opengl\" (line 1 set \"surface\"): the later line wins"},
      // Lines count as the loader splits them: at CR where the text holds no LF.
      {"a=1\rfulscreen=1\r", 2, "\"fulscreen\""},
  };
  for (const auto& c : cases) {
    const ReferenceCheck check = check_reference(c.reference);
    const std::string text = told(check);
    EXPECT_NE(text.find(std::to_string(c.line) + ": "), std::string::npos) << c.reference << text;
    bool found = false;
    for (const ReferenceWarning& warning : check.warnings) {
      found = found || (warning.line == c.line && warning.text.find(c.says) != std::string::npos);
    }
    EXPECT_TRUE(found) << c.reference << "\nwanted on line " << c.line << ": " << c.says
                       << "\ngot:\n"
                       << text;
    EXPECT_EQ(check.count, check.warnings.size()) << c.reference;
  }
}

TEST(CheckReference, TakesWhatSomeDosboxTakes) {
  // The README's example, values in several words, values only forks take, names DOSBox
  // reads in sections of their own, and lines that are no settings.
  const char* clean = R"([sdl]
fullscreen=true
output=opengl
fullresolution=desktop
priority=higher,normal
priority=higher,normal
[render]
scaler=normal5x
aspect=TRUE
[cpu]
cycles=max
cycleup=500
[serial]
serial2=nullmodem server:1.2.3.4
[mixer]
rate=22050
[serial]
serial1=modem listenport:23
[sdl]
texture_renderer=opengl
capture_mouse=seamless middlegame
glshader=crt-easymode-flat
[render]
cga_colors=#000000 #0000aa
integer_scaling=vertical
shader=crt-auto
viewport=relative 112% 173%
[cpu]
cpu_cycles=25000
cpu_cycles_protected=max
[dosbox]
quit warning=false
[autoexec]
mount c .
c:
# a comment line, without a setting
)";
  const ReferenceCheck check = check_reference(clean);
  EXPECT_EQ(check.count, 0u) << told(check);
  EXPECT_EQ(check_reference("").count, 0u);
}

// A value DOSBox 0.74 rejects but a fork takes is no mistake, but games that ship 0.74 keep
// their own: told on its line, and not counted.
TEST(CheckReference, NotesValuesOnlyForksTakeWithoutCountingThem) {
  const ReferenceCheck check =
      check_reference("[sdl]\nfullscreen=false\noutput=texture\noutput=opengl\nscaler=none\n");
  EXPECT_EQ(check.count, 1u) << told(check);  // output set twice
  ASSERT_EQ(check.notes.size(), 1u);
  EXPECT_EQ(check.notes[0].line, 3u);
  EXPECT_EQ(check.notes[0].text,
            "output=texture is taken by DOSBox Staging, not by DOSBox 0.74, which most Steam "
            "games ship: those games keep their own output");
  EXPECT_TRUE(check_reference("output=ddraw\ninteger_scaling=auto\n").notes.empty());
}

TEST(CheckReference, TellsOfAWholeConfigurationOnceForTheFile) {
  std::string whole;
  const DosboxBuild& dosbox = dosbox_builds().front();
  for (const DosboxProperty& property : dosbox.properties) {
    whole += property.name + "=" + (property.default_value.empty() ? "x" : property.default_value) +
             "\n";
  }
  const ReferenceCheck check = check_reference(whole);
  ASSERT_FALSE(check.warnings.empty());
  EXPECT_EQ(check.warnings.front().line, 0u);
  EXPECT_NE(check.warnings.front().text.find("settings of DOSBox 0.74-3, a whole configuration"),
            std::string::npos)
      << told(check);
  std::size_t whole_file = 0;
  for (const ReferenceWarning& warning : check.warnings) {
    whole_file += warning.line == 0;
  }
  EXPECT_EQ(whole_file, 1u);
}

TEST(CheckReference, KeepsWhatItTellsBounded) {
  std::string many;
  for (int i = 0; i < 1000; ++i) {
    many += "#a" + std::to_string(i) + "=1\n";
  }
  const ReferenceCheck check = check_reference(many);
  EXPECT_EQ(check.count, 1000u);
  EXPECT_EQ(check.warnings.size(), kMostWarningsTold);
  const std::string long_name(10000, 'q');
  const ReferenceCheck one = check_reference(long_name + "=1\n");
  ASSERT_EQ(one.warnings.size(), 1u);
  EXPECT_LT(one.warnings.front().text.size(), 200u) << "a long name is shortened";
}

// A comment that holds "=" is quoted whole up to 60 bytes, else cut between words; the keyboard
// layout is the player's, not the game's, and no warning.
TEST(CheckReference, QuotesWholeWordsAndLetsTheKeyboardLayoutBe) {
  const std::string comment =
      "# Using your monitor's native resolution with aspect=true might give the best results.";
  const ReferenceCheck check = check_reference(comment + "\n#a=b c\n");
  ASSERT_EQ(check.warnings.size(), 2u);
  EXPECT_TRUE(check.warnings[0].text.starts_with(
      "\"# Using your monitor's native resolution with aspect=true\u2026\" is a comment"))
      << check.warnings[0].text;
  EXPECT_TRUE(check.warnings[1].text.starts_with("\"#a=b c\" is a comment"));
  EXPECT_EQ(check_reference("[dos]\nkeyboardlayout=gr\n").count, 0u);
}

}  // namespace
