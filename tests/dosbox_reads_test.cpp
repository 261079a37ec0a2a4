// DOSBox itself, the client of the files the program mends, asked what it reads from them.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/confmend_fixture.h"
#include "tests/dosbox_program.h"

namespace {

// After --add-missing DOSBox reads from every DOSBox file found, and from a layered pair, what
// it reads from the reference itself.
TEST_F(Confmend, DosboxReadsTheReferenceFromEveryFileAfterAddMissing) {
  SKIP_UNLESS_DOSBOX("DOSBox reading the mended files");
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf",
             "[sdl]\nfullscreen=true\nautolock=false\n[render]\nscaler=advmame2x\n"
             "[cpu]\ncycles=fixed 12000\n[mixer]\nrate=22050\n[speaker]\npcspeaker=false\n");
  const std::vector<std::pair<std::string, std::string>> properties = {
      {"sdl", "fullscreen"}, {"sdl", "autolock"}, {"render", "scaler"},
      {"cpu", "cycles"},     {"mixer", "rate"},   {"speaker", "pcspeaker"}};
  const std::string game = steam_ + "/steamapps/common/Game";
  make_folders(game);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"ROTT.conf", "[autoexec]\r\n@echo off\r\nmount c .\r\n"},
      {"dosboxGK.conf",
       "[SDL]\nFullScreen=false\nAutolock=true\n\n[render]\nframeskip=0\n\n[CPU]\ncore=auto\n"
       "cycles=auto\n[mixer]\n[autoexec]\nmount c .\n"},
      {"dosboxGK_single.conf", "[ipx]\nipx=false\n\n[autoexec]\nmount c .\n"},
      {"hand.conf", "[sdl]\nfullscreen=false\n[speaker]\n[sdl]\noutput=surface\n"},
  };
  for (const auto& [name, text] : files) {
    write_file(game + "/" + name, text);
  }
  const auto result = run_with({"--add-missing"});
  ASSERT_EQ(result.exit_status, 0) << result.output;
  const TempDir dosbox_home;
  const auto expected = dosbox_reads(dosbox_home.path(), {work_ + "/dosbox.conf"}, properties);
  ASSERT_EQ(expected, (std::vector<std::string>{"true", "false", "advmame2x", "fixed 12000",
                                                "22050", "false"}));
  for (const auto& [name, text] : files) {
    EXPECT_EQ(dosbox_reads(dosbox_home.path(), {game + "/" + name}, properties), expected)
        << name << ":\n"
        << read_file(game + "/" + name);
  }
  EXPECT_EQ(dosbox_reads(dosbox_home.path(),
                         {game + "/dosboxGK.conf", game + "/dosboxGK_single.conf"}, properties),
            expected);
}

// "[ sdl ]" is no section to DOSBox: a dry run says the file would change, and after
// --add-missing DOSBox reads the reference's values from the section the run added.
TEST_F(Confmend, DosboxReadsWhatIsAddedBesideAHeaderItDoesNotKnow) {
  SKIP_UNLESS_DOSBOX("DOSBox reading a header with blanks");
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "[sdl]\nfullscreen=true\noutput=opengl\n");
  const std::string game = steam_ + "/steamapps/common/Game";
  make_folders(game);
  write_file(game + "/game.conf", "[ sdl ]\nfullscreen=false\noutput=surface\n[autoexec]\nx\n");
  const auto dry = run_with({"--dry-run"});
  EXPECT_EQ(count_of("1 of 1 files would change.", dry.output), 1u) << dry.output;
  EXPECT_EQ(count_of("fullscreen: not set in 1 of 1 DOSBox", dry.output), 1u) << dry.output;
  ASSERT_EQ(run_with({"--add-missing"}).exit_status, 0);
  const TempDir dosbox_home;
  EXPECT_EQ(dosbox_reads(dosbox_home.path(), {game + "/game.conf"},
                         {{"sdl", "fullscreen"}, {"sdl", "output"}}),
            (std::vector<std::string>{"true", "opengl"}))
      << read_file(game + "/game.conf");
}

}  // namespace
