#include "mending/config_rewriter.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/setting_line.h"

namespace {

using namespace std::string_literals;

SettingTable reference_of(const std::string& text) {
  SettingTable table;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    parse_setting_line(table, trim_setting_text(text.substr(start, end - start)));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return table;
}

std::string mended(const SettingTable& reference, const std::string& original) {
  TextAccumulator text;
  mend_config_text(reference, original, text);
  return std::string(text.text(), text.size());
}

const SettingTable kReference = reference_of(
    "fullscreen=true\noutput=opengl\ncycles=max\nempty = \n=nameless\n"
    "\xEF\xBB\xBFmarked=bom\n" +
    std::string(70, 'n') + "=long\n");

TEST(MendConfigText, TrimsEveryLineAndReplacesKnownSettings) {
  const struct {
    const char* what;
    std::string original, mended;
  } cases[] = {
      {"empty file", "", ""},
      {"last line without LF gains one", "a=1", "a=1\n"},
      {"a final LF adds no empty line", "a=1\n", "a=1\n"},
      {"blank and white-space lines become empty", "\n \t \n\f\n", "\n\n\n"},
      {"comments and headers are trimmed too", "  [sdl]  \n\t# note \n", "[sdl]\n# note\n"},
      {"known name: no blanks left", "  fullscreen \t=  false  \n", "fullscreen=true\n"},
      {"unknown name: inner blanks kept", "  speed \t=  fast  \n", "speed \t=  fast\n"},
      {"nothing after the equals sign", " cycles =  \n", "cycles =\n"},
      {"empty reference value", "empty=5\n", "empty=5\n"},
      {"several equals signs", "output=a=b\nmode=a=b\n", "output=opengl\nmode=a=b\n"},
      {"same name in two sections", "[a]\ncycles=1\n[b]\ncycles=2\n",
       "[a]\ncycles=max\n[b]\ncycles=max\n"},
      {"names are case-sensitive", "Fullscreen=false\n", "Fullscreen=false\n"},
      {"empty name", "= x\n", "=nameless\n"},
      {"byte-order mark belongs to the first name",
       "\xEF\xBB\xBF"
       "fullscreen=false\n",
       "\xEF\xBB\xBF"
       "fullscreen=false\n"},
      {"byte-order mark matched with its bytes",
       "\xEF\xBB\xBF"
       "marked=x\n",
       "\xEF\xBB\xBF"
       "marked=bom\n"},
      {"CR LF read as line ends", "fullscreen=false\r\nrate=1\r\n", "fullscreen=true\nrate=1\n"},
      {"CR-only lines are not merged", "[sdl]\rfullscreen=false\rx=1\r",
       "[sdl]\nfullscreen=true\nx=1\n"},
      {"CR ends with one final LF swallow no line",
       "fullscreen=false\routput=surface\rcycles=auto\r[autoexec]\rmount c .\n",
       "fullscreen=true\noutput=opengl\ncycles=max\n[autoexec]\nmount c .\n"},
      {"a CR inside a line ends it, blanks around it go", "a \r\r b\r\n", "a\n\nb\n"},
      {"CR CR LF ends are one line end", "cycles=1\r\r\nx\r\r\n", "cycles=max\nx\n"},
      {"names longer than 63 bytes are looked up too",
       std::string(70, 'n') + " = x\n" + std::string(65, 'n') + "=y\n",
       std::string(70, 'n') + "=long\n" + std::string(65, 'n') + "=y\n"},
      {"0x1A is an ordinary byte", "a=\x1A\nfullscreen=no\n", "a=\x1A\nfullscreen=true\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mended(kReference, c.original), c.mended) << c.what;
  }
}

TEST(MendConfigText, AnEmptyReferenceOnlyTrims) {
  EXPECT_EQ(mended({}, " fullscreen = false \r\n"), "fullscreen = false\n");
}

// --add-missing, on the files Steam's DOS games ship and players write.
TEST(MendConfigText, AddsWhatADosboxFileLacksWhereDosboxReadsIt) {
  const std::string reference_text =
      "[sdl]\nfullscreen=true\noutput=opengl\n[cpu]\ncycles=max\n[dosbox]\nmachine=vgaonly\n"
      "[autoexec]\nset BLASTER=A220\n#scaler=none\nfulscreen=true\n";
  const SettingTable reference = reference_of(reference_text);
  const std::vector<SectionSetting> kept = settings_kept_in_sections(reference_text, reference);
  MendingRules rules(reference);
  rules.kept_in_sections = &kept;
  rules.add_missing = true;
  const auto mended_adding = [&](const std::string& original) {
    TextAccumulator text;
    mend_config_text(rules, original, text);
    return std::string(text.text(), text.size());
  };
  const struct {
    const char* what;
    std::string original, mended;
  } cases[] = {
      {"only [autoexec]", "[autoexec]\n@echo off\nmount c .\n",
       "[sdl]\nfullscreen=true\noutput=opengl\n\n[cpu]\ncycles=max\n\n"
       "[autoexec]\n@echo off\nmount c .\n"},
      {"a pair's single file", "[ipx]\nipx=false\n\n[autoexec]\nmount c .\n",
       "[ipx]\nipx=false\n\n[sdl]\nfullscreen=true\noutput=opengl\n\n[cpu]\ncycles=max\n\n"
       "[autoexec]\nmount c .\n"},
      {"names and headers in another case", "[SDL]\nFullScreen=false\n[CPU]\nCYCLES=auto\n",
       "[SDL]\nFullScreen=true\noutput=opengl\n[CPU]\nCYCLES=max\n"},
      {"a section present without the name, blanks and a comment after",
       "[sdl]\nfullresolution=desktop\n# mine\n\n[autoexec]\n",
       "[sdl]\nfullresolution=desktop\n# mine\nfullscreen=true\noutput=opengl\n\n[cpu]\n"
       "cycles=max\n\n[autoexec]\n"},
      {"a section twice: added to the last",
       "[sdl]\nfullscreen=false\n[cpu]\ncore=auto\n[sdl]\nwaitonerror=true\n",
       "[sdl]\nfullscreen=true\n[cpu]\ncore=auto\ncycles=max\n[sdl]\nwaitonerror=true\n"
       "output=opengl\n"},
      {"a name in the wrong section is no setting there", "[cpu]\noutput=surface\n[sdl]\n",
       "[cpu]\noutput=opengl\ncycles=max\n[sdl]\nfullscreen=true\noutput=opengl\n"},
      {"CR LF line ends", "[ipx]\r\nipx=false\r\n[autoexec]\r\nmount c .\r\n",
       "[ipx]\nipx=false\n\n[sdl]\nfullscreen=true\noutput=opengl\n\n[cpu]\ncycles=max\n"
       "[autoexec]\nmount c .\n"},
      {"one other section of DOSBox's makes no DOSBox file", "[ipx]\nipx=false\n",
       "[ipx]\nipx=false\n"},
      {"not a DOSBox file: the plain rule only", "# engine\nfullscreen=0\n[video]\nwidth=640\n",
       "# engine\nfullscreen=true\n[video]\nwidth=640\n"},
      {"two sections only forks have make no DOSBox file", "[video]\n[pc98]\n",
       "[video]\n[pc98]\n"},
      {"two of DOSBox's other sections make one", "[ipx]\n[dos]\nxms=true\n",
       "[ipx]\n[dos]\nxms=true\n\n[sdl]\nfullscreen=true\noutput=opengl\n\n[cpu]\ncycles=max\n"},
      // DOSBox takes a header's name up to the first "]" as it stands; a header of no section
      // it has leaves the section before current.
      {"[ sdl ] is no section to DOSBox",
       "[ipx]\nipx=false\n[ sdl ]\nfullscreen=false\n[autoexec]\n",
       "[ipx]\nipx=false\n[ sdl ]\nfullscreen=true\n\n[sdl]\nfullscreen=true\noutput=opengl\n\n"
       "[cpu]\ncycles=max\n[autoexec]\n"},
      {"what follows a header's \"]\" is no part of it", "[sdl] ; video\n[cpu] x\n",
       "[sdl] ; video\nfullscreen=true\noutput=opengl\n[cpu] x\ncycles=max\n"},
      // DOSBox for Windows reads no further than a Ctrl+Z: nothing is added after it, and what
      // follows it is not set; the plain rule still mends it, and it stays.
      {"a Ctrl+Z ends what DOSBox reads", "[sdl]\nfullscreen=false\n\x1a\n",
       "[sdl]\nfullscreen=true\noutput=opengl\n\n[cpu]\ncycles=max\n\x1a\n"},
      {"a Ctrl+Z within a line: what is added goes before it",
       "[sdl]\nfullscreen=false\x1aoutput=surface\n[cpu]\ncycles=auto\n",
       "[sdl]\nfullscreen=true\noutput=opengl\n\n[cpu]\ncycles=max\n\x1aoutput=surface\n[cpu]\n"
       "cycles=max\n"},
      {"a name in another case after a Ctrl+Z is not read: only the plain rule",
       "[sdl]\nfullscreen=true\noutput=opengl\n[cpu]\ncycles=max\n\x1a\n[SDL]\nOutput=surface\n",
       "[sdl]\nfullscreen=true\noutput=opengl\n[cpu]\ncycles=max\n\x1a\n[SDL]\nOutput=surface\n"},
      {"settings after a Ctrl+Z are not set", "[sdl]\x1a\n[cpu]\ncycles=auto\n",
       "[sdl]\nfullscreen=true\noutput=opengl\n\n[cpu]\ncycles=max\n\x1a\n[cpu]\ncycles=max\n"},
  };
  for (const auto& c : cases) {
    const std::string once = mended_adding(c.original);
    EXPECT_EQ(once, c.mended) << c.what;
    EXPECT_EQ(mended_adding(once), once) << c.what << ": a second run adds nothing more";
  }
  // A value the plain rule gives may make a line a header ("[x=1" given "y]", as a reference
  // line "[x=y]" is to the loader), but of no section DOSBox has: DOSBox reads on in [sdl].
  const std::string odd_text = "fullscreen=true\n[x=y]\n";
  const SettingTable odd = reference_of(odd_text);
  const std::vector<SectionSetting> odd_kept = settings_kept_in_sections(odd_text, odd);
  MendingRules odd_rules(odd);
  odd_rules.kept_in_sections = &odd_kept;
  odd_rules.add_missing = true;
  TextAccumulator odd_once;
  mend_config_text(odd_rules, "[sdl]\n[x=1\nfullscreen=false\n", odd_once);
  EXPECT_EQ(std::string(odd_once.text(), odd_once.size()), "[sdl]\n[x=y]\nfullscreen=true\n");

  // What a dry run without the option learns: what each DOSBox file lacks, and nothing added.
  rules.add_missing = false;
  FileLacks lacks;
  TextAccumulator text;
  mend_config_text(rules, "[SDL]\nFullScreen=false\n[autoexec]\r\n", text, "\n", &lacks);
  EXPECT_EQ(std::string(text.text(), text.size()), "[SDL]\nFullScreen=false\n[autoexec]\n");
  EXPECT_TRUE(lacks.dosbox_file);
  ASSERT_EQ(kept.size(), 4u);
  EXPECT_EQ(lacks.settings, (std::vector<std::size_t>{1, 2})) << "output and cycles";
}

// The keyboard layout is the player's: added like any other setting, where the machine, which
// games are made for, is only matched.
TEST(MendConfigText, AddsTheKeyboardLayoutButNotTheMachine) {
  const std::string text = "[dosbox]\nmachine=vgaonly\n[dos]\nkeyboardlayout=gr\n";
  const SettingTable reference = reference_of(text);
  const std::vector<SectionSetting> kept = settings_kept_in_sections(text, reference);
  MendingRules rules(reference);
  rules.kept_in_sections = &kept;
  rules.add_missing = true;
  TextAccumulator mended;
  mend_config_text(rules, "[dosbox]\n[dos]\nxms=true\n", mended);
  EXPECT_EQ(std::string(mended.text(), mended.size()),
            "[dosbox]\n[dos]\nxms=true\nkeyboardlayout=gr\n");
}

}  // namespace
