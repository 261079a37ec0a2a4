// The built program, run as a user runs it: in a sandbox with its own HOME, working folder,
// Steam library and registry, checking console output, exit status and file bytes. The same
// cases run against the native program and, under Wine, the Windows one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "settings/setting_line.h"
#include "tests/confmend_fixture.h"

namespace {

namespace fs = std::filesystem;

// Every name below the folder, with its bytes and when it was last written.
std::map<std::string, std::pair<std::string, fs::file_time_type>> tree_state(
    const std::string& root) {
  std::map<std::string, std::pair<std::string, fs::file_time_type>> state;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string path = it->path().string();
    state[path] = {it->is_regular_file(error) ? read_file(path) : "",
                   fs::last_write_time(it->path(), error)};
  }
  return state;
}

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST_F(Confmend, MendsEveryConfFileBelowTheSteamFolder) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "[sdl]\nfullscreen=true\noutput=opengl\n");
  const std::string game = steam_ + "/steamapps/common/Game";
  make_folders(game + "/sub");
  write_file(game + "/dosbox.conf",
             "[sdl]\r\n  fullscreen = false\r\noutput=surface\r\n[autoexec]\r\nmount c .\r\n");
  write_file(game + "/sub/extra.conf", "fullscreen=0");
  write_file(game + "/readme.txt", " fullscreen=0 ");

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.errors, "");
  // Listing order within a folder is the platform's; these two lie in different folders.
  const std::string first = "Found: " + spelled(game + "/dosbox.conf");
  const std::string second = "Found: " + spelled(game + "/sub/extra.conf");
  EXPECT_TRUE(result.output == lines({spelled(steam_), first, second}) + prompt() ||
              result.output == lines({spelled(steam_), second, first}) + prompt())
      << result.output;
  EXPECT_EQ(read_file(game + "/dosbox.conf"),
            lines({"[sdl]", "fullscreen=true", "output=opengl", "[autoexec]", "mount c ."}));
  EXPECT_EQ(read_file(game + "/sub/extra.conf"), lines({"fullscreen=true"}));
  EXPECT_EQ(read_file(game + "/readme.txt"), " fullscreen=0 ");
}

// Without settings to give, every file is still trimmed, and the run says so first, so that
// nobody takes it for their settings applied; the rest of its output is what it always was.
TEST_F(Confmend, WithoutReferenceSettingsSaysSoAndOnlyTrims) {
  point_registry_at(steam_);
  const std::string notice = "No dosbox.conf in " + program().listed(work_) +
                             ": no setting will be changed, lines will only be trimmed.";
  const struct {
    const char* what;
    std::function<void(const std::string&)> lay_out;
    std::vector<std::string> first_lines;
  } cases[] = {
      {"missing", [](const std::string&) {}, {notice}},
      {"a folder", [](const std::string& work) { make_folders(work + "/dosbox.conf"); }, {notice}},
      {"saved with a hidden extension",
       [](const std::string& work) { write_file(work + "/dosbox.conf.txt", "fullscreen=true\n"); },
       {notice,
        "dosbox.conf.txt lies there: that is probably it, saved with an extension "
        "Windows hides. Rename it dosbox.conf."}},
      {"holding no setting",
       [](const std::string& work) { write_file(work + "/dosbox.conf", "[sdl]\n# none\n"); },
       {"dosbox.conf holds no setting: no setting will be changed, lines will only be "
        "trimmed."}},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(work_);
    make_folders(work_);
    c.lay_out(work_);
    write_file(steam_ + "/a.conf", "  fullscreen = false \r\n");
    const auto result = run();
    EXPECT_EQ(result.exit_status, 0) << c.what;
    std::string expected;
    for (const auto& line : c.first_lines) {
      expected += lines({line});
    }
    EXPECT_EQ(
        result.output,
        expected + lines({spelled(steam_), "Found: " + spelled(steam_ + "/a.conf")}) + prompt())
        << c.what;
    EXPECT_EQ(read_file(steam_ + "/a.conf"), lines({"fullscreen = false"})) << c.what;
  }
}

TEST_F(Confmend, KeepsEveryByteOfLinesBetweenTheirEnds) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  const struct {
    const char* what;
    std::string original, mended;
  } cases[] = {
      {"LF line ends", "a=1\ncycles=2\n", lines({"a=1", "cycles=max"})},
      {"CR LF line ends", "a=1\r\ncycles=2\r\n", lines({"a=1", "cycles=max"})},
      {"0x1A in mid-file",
       "a=\x1A"
       "b\ncycles=2\nlast\n",
       lines({"a=\x1A"
              "b",
              "cycles=max", "last"})},
      {"UTF-8 text and a byte-order mark", "\xEF\xBB\xBF# caf\xC3\xA9\ncycles = 1 \n",
       lines({"\xEF\xBB\xBF# caf\xC3\xA9", "cycles=max"})},
      {"CR alone", "x=1\rcycles=1\r", lines({"x=1", "cycles=max"})},
      {"CR ends and one final LF", "x=1\rcycles=1\r[autoexec]\rmount c .\n",
       lines({"x=1", "cycles=max", "[autoexec]", "mount c ."})},
      {"CR CR LF line ends", "x=1\r\r\ncycles=1\r\r\n", lines({"x=1", "cycles=max"})},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    write_file(steam_ + "/a.conf", c.original);
    const auto result = run();
    EXPECT_EQ(result.exit_status, 0) << c.what;
    EXPECT_EQ(read_file(steam_ + "/a.conf"), c.mended) << c.what;
  }
}

// The reference as Notepad and other tools save it; every case sets fullscreen to true.
TEST_F(Confmend, ReadsTheReferenceAsPeopleSaveIt) {
  point_registry_at(steam_);
  const struct {
    const char* what;
    std::string reference;
    std::string mended;
  } cases[] = {
      {"UTF-8 byte-order mark",
       "\xEF\xBB\xBF"
       "fullscreen=true\r\n",
       "fullscreen=true"},
      {"UTF-16 with its mark",
       std::string("\xFF\xFE"
                   "f\0=\0t\0r\0u\0e\0\r\0\n\0",
                   18),
       "f=true"},
      {"CR line ends", "output=x\rfullscreen=true\r", "fullscreen=true"},
      {"a value that is NUL first", std::string("fullscreen=\0true\n", 17), "fullscreen=no"},
  };
  for (const auto& c : cases) {
    write_file(work_ + "/dosbox.conf", c.reference);
    const std::string setting = c.mended.substr(0, c.mended.find('='));
    write_file(steam_ + "/game.conf", setting + "=no\n");
    EXPECT_EQ(run().exit_status, 0) << c.what;
    EXPECT_EQ(read_file(steam_ + "/game.conf"), lines({c.mended})) << c.what;
  }
}

// The reference's mistakes, told line by line before the Steam folder and counted again
// before the pause, in a run and a dry run, from every form the reference is saved in; the
// run then does what the reference says, as it always did.
TEST_F(Confmend, TellsTheReferencesMistakesFirstAndAgainBeforeThePause) {
  point_registry_at(steam_);
  const std::string reference =
      "[sdl]\nFullScreen=true\nfulscreen=true\noutput=opengll\n[cpu]\ncycles=max   # always\n"
      "[autoexec]\nset BLASTER=A220 I5 D1\n";
  const std::vector<std::string> warnings = {
      "dosbox.conf:2: \"FullScreen\" is written \"fullscreen\" in game files, and a plain run "
      "matches names exactly as written: this line changes no game (--add-missing reads them "
      "as DOSBox does)",
      "dosbox.conf:3: no DOSBox has a setting named \"fulscreen\"; did you mean \"fullscreen\"?",
      "dosbox.conf:4: no DOSBox takes \"opengll\" for output (did you mean \"opengl\"?): DOSBox "
      "0.74-3 takes surface, overlay, opengl, openglnb or ddraw; DOSBox Staging 0.83 takes "
      "opengl, texture or texturenb; DOSBox-X 0.83.21 takes default, surface, overlay, ttf, "
      "opengl, openglnb, openglhq, openglpp, ddraw or direct3d",
      "dosbox.conf:6: the value of cycles ends in \"# always\", which DOSBox 0.74 takes as part "
      "of the value: every game would get \"max   # always\"; put the comment on a line of its "
      "own",
      "dosbox.conf:8: \"set BLASTER=A220 I5 D1\" stands in [autoexec], where DOSBox runs it as "
      "a command, but a run takes it as a setting named \"set BLASTER\" and writes it over every "
      "such line of every game"};
  std::string utf16 = "\xFF\xFE";
  for (const char c : reference) {
    utf16 += c == '\n' ? std::string("\r\0\n\0", 4) : std::string(1, c) + '\0';
  }
  const struct {
    const char* what;
    std::string bytes;
  } forms[] = {{"plain", reference},
               {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + reference},
               {"UTF-16 with its mark", utf16}};
  for (const auto& form : forms) {
    write_file(work_ + "/dosbox.conf", form.bytes);
    write_file(steam_ + "/game.conf", "cycles=auto\n");
    std::string told;
    for (const std::string& warning : warnings) {
      told += lines({warning});
    }
    const std::string found = "Found: " + spelled(steam_ + "/game.conf");
    const std::string again = "dosbox.conf: 5 warnings, shown at the top.";
    const auto preview = run_with({"--dry-run"});
    EXPECT_EQ(preview.exit_status, 0) << form.what;
    EXPECT_TRUE(preview.output.starts_with(told + lines({spelled(steam_), found})))
        << form.what << ":\n"
        << preview.output;
    EXPECT_TRUE(preview.output.ends_with(lines({"1 of 1 files would change.", again}) + prompt()))
        << form.what << ":\n"
        << preview.output;
    const auto result = run();
    EXPECT_EQ(result.exit_status, 0) << form.what;
    EXPECT_EQ(result.output, told + lines({spelled(steam_), found, again}) + prompt()) << form.what;
    EXPECT_EQ(read_file(steam_ + "/game.conf"), lines({"cycles=max   # always"})) << form.what;
  }
}

// --check reads only the reference: it tells, counts, never pauses and touches nothing.
TEST_F(Confmend, ChecksTheReferenceAndTouchesNothing) {
  point_registry_at(steam_);
  write_file(steam_ + "/game.conf", " fullscreen = false \n");
  const struct {
    const char* what;
    const char* reference;  // nullptr: none
    int status;
    std::vector<std::string> output;
  } cases[] = {
      {"the README's example",
       "[sdl]\nfullscreen=true\noutput=opengl\n[cpu]\ncycles=max\n",
       0,
       {"dosbox.conf: 3 settings, 0 warnings."}},
      {"DOSBox Staging's names, with a value DOSBox 0.74 does not take: told, no warning",
       "[sdl]\nfullscreen = on\noutput = texturenb\ncapture_mouse = seamless middlegame\n"
       "[mixer]\nreverb = large\n",
       0,
       {"dosbox.conf:3: output=texturenb is taken by DOSBox Staging, not by DOSBox 0.74, which "
        "most Steam games ship: those games keep their own output",
        "dosbox.conf: 4 settings, 0 warnings."}},
      {"a typo",
       "[cpu]\ncycles=maxx\n",
       1,
       {"dosbox.conf:2: no DOSBox takes \"maxx\" for cycles (did you mean \"max\"?): DOSBox "
        "0.74-3 takes auto, fixed, max or a number, then anything; DOSBox Staging 0.79.0 and "
        "DOSBox-X 0.83.21 take auto, fixed or max, then anything",
        "dosbox.conf: 1 setting, 1 warning."}},
      {"no reference",
       nullptr,
       1,
       {"No dosbox.conf in " + program().listed(work_) +
        ": no setting will be changed, lines will only be trimmed."}},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(work_ + "/dosbox.conf");
    if (c.reference != nullptr) {
      write_file(work_ + "/dosbox.conf", c.reference);
    }
    const auto before = tree_state(home_.path());
    const auto result = run_with({"--check"});
    EXPECT_EQ(result.exit_status, c.status) << c.what;
    std::string expected;
    for (const std::string& line : c.output) {
      expected += lines({line});
    }
    EXPECT_EQ(result.output, expected) << c.what;
    EXPECT_EQ(result.errors, "") << c.what;
    EXPECT_TRUE(tree_state(home_.path()) == before) << c.what << " changed files";
  }
  const auto refused = run_with({"--check", "--dry-run"});
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_EQ(refused.output, "");
  EXPECT_EQ(refused.errors, lines({"confmend: '--check --dry-run' cannot be used together",
                                   "Try 'confmend --help'."}));
  EXPECT_EQ(read_file(steam_ + "/game.conf"), " fullscreen = false \n");
}

// --add-missing gives DOSBox's files what they lack, where DOSBox reads it, once; a plain dry
// run says what they lack; other .conf files get the plain rule only.
TEST_F(Confmend, AddsWhatDosboxFilesLackOnlyWhenAsked) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "[sdl]\nfullscreen=true\n[cpu]\ncycles=max\n");
  const std::string game = steam_ + "/steamapps/common/Game";
  make_folders(game);
  const std::map<std::string, std::pair<std::string, std::vector<std::string>>> files = {
      {"ROTT.conf",
       {"[autoexec]\r\n@echo off\r\n",
        {"[sdl]", "fullscreen=true", "", "[cpu]", "cycles=max", "", "[autoexec]", "@echo off"}}},
      {"dosboxGK.conf",
       {"[SDL]\nFullScreen=false\n\n[cpu]\ncore=auto\n[autoexec]\n",
        {"[SDL]", "FullScreen=true", "", "[cpu]", "core=auto", "cycles=max", "[autoexec]"}}},
      {"engine.conf", {"fullscreen=0\n[video]\n", {"fullscreen=true", "[video]"}}},
  };
  for (const auto& [name, texts] : files) {
    write_file(game + "/" + name, texts.first);
  }
  const auto preview = run_with({"--dry-run"});
  EXPECT_EQ(preview.exit_status, 0);
  EXPECT_TRUE(preview.output.ends_with(
      lines({"fullscreen: not set in 1 of 2 DOSBox configuration files (--add-missing adds it)",
             "cycles: not set in 2 of 2 DOSBox configuration files (--add-missing adds it)",
             "2 of 3 files would change."}) +
      prompt()))
      << preview.output;
  const auto plain = run();
  EXPECT_EQ(plain.output.find("not set in"), std::string::npos) << plain.output;
  EXPECT_EQ(read_file(game + "/ROTT.conf"), lines({"[autoexec]", "@echo off"}));
  for (const auto& arguments : {std::vector<std::string>{"--add-missing"}, {"-a"}}) {
    const auto result = run_with(arguments);
    EXPECT_EQ(result.exit_status, 0) << result.output;
    for (const auto& [name, texts] : files) {
      std::string expected;
      for (const auto& line : texts.second) {
        expected += lines({line});
      }
      EXPECT_EQ(read_file(game + "/" + name), expected) << name << " after " << arguments[0];
    }
  }
  const auto again = run_with({"-an"});
  EXPECT_TRUE(again.output.ends_with(lines({"0 of 3 files would change."}) + prompt()))
      << again.output;
}

// A library listed with a separator at its end, as a drive's root is ("E:\"), is joined to
// its steamapps folder without a second one.
TEST_F(Confmend, JoinsALibraryEndingInASeparatorWithoutASecondOne) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::string library = home_ / "Library";
  make_folders(library + "/steamapps/common/B");
  write_file(library + "/steamapps/common/B/dosbox.conf", "fullscreen=false\n");
  make_folders(steam_ + "/steamapps");
  std::string listed = program().listed(library + "/");
  for (std::size_t at = 0; (at = listed.find('\\', at)) != std::string::npos; at += 2) {
    listed.insert(at, "\\");
  }
  write_file(steam_ + "/steamapps/libraryfolders.vdf",
             "\"libraryfolders\" { \"1\" { \"path\" \"" + listed + "\" } }");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, lines({spelled(steam_), program().listed(library + "/"),
                                  "Found: " + program().listed(library + "/") +
                                      "steamapps/common/B/dosbox.conf"}) +
                               prompt());
}

// Every run can be taken back, run by run, newest first: each file it changed gets back its
// bytes (and, on Linux, its mode); a file changed since is left and said; a dry run keeps
// nothing; with nothing left to take back, it says so.
TEST_F(Confmend, TakesEachRunBackNewestFirst) {
  point_registry_at(steam_);
  const std::string store = program().undo_store(home_.path());
  fs::remove_all(store);
  EXPECT_EQ(run_with({"--undo"}).output, lines({"Nothing to undo."}) + prompt())
      << "before any run";
  const std::string game = steam_ + "/game";
  make_folders(game);
  const std::string a = game + "/a.conf", b = game + "/b.conf", same = game + "/same.conf";
  write_file(a, " fullscreen = false \r\ncycles=auto\n");
  write_file(b, "cycles=auto \n");
  write_file(same, lines({"output=surface"}));
  chmod(a.c_str(), 0640);
  // Large enough that its copy is kept while its new bytes are written.
  const std::string large = game + "/large.conf";
  std::string large_text = " fullscreen = false \n";
  while (large_text.size() < (2 << 20)) {
    large_text += "# " + std::string(70, 'x') + " \n";
  }
  write_file(large, large_text);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  EXPECT_EQ(run_with({"--dry-run"}).exit_status, 0);
  EXPECT_FALSE(fs::exists(store)) << "a dry run keeps nothing";
  ASSERT_EQ(run().exit_status, 0);
  const std::string after_first = read_file(a);
  write_file(work_ + "/dosbox.conf", "cycles=max\n");
  ASSERT_EQ(run().exit_status, 0);
  EXPECT_EQ(read_file(b), lines({"cycles=max"}));

  const auto preview = run_with({"--undo", "--dry-run"});
  EXPECT_EQ(preview.exit_status, 0);
  EXPECT_NE(preview.output.find("-cycles=max"), std::string::npos) << preview.output;
  EXPECT_EQ(count_of("Would restore: ", preview.output), 2u) << preview.output;
  EXPECT_NE(preview.output.find(lines({"2 of 2 files would be restored."}) + prompt()),
            std::string::npos)
      << preview.output;
  EXPECT_EQ(read_file(b), lines({"cycles=max"})) << "a dry run changes nothing";
  const auto second = run_with({"--undo"});
  EXPECT_EQ(second.exit_status, 0);
  EXPECT_EQ(second.output, lines({"Restored: " + spelled(a), "Restored: " + spelled(b),
                                  "2 of 2 files were restored."}) +
                               prompt());
  EXPECT_EQ(read_file(a), after_first);
  EXPECT_EQ(read_file(b), lines({"cycles=auto"}));
  const auto first = run_with({"--undo"});
  EXPECT_EQ(first.exit_status, 0);
  EXPECT_EQ(first.output, lines({"Restored: " + spelled(a), "Restored: " + spelled(b),
                                 "Restored: " + spelled(large), "3 of 3 files were restored."}) +
                              prompt());
  EXPECT_EQ(read_file(a), " fullscreen = false \r\ncycles=auto\n");
  EXPECT_TRUE(read_file(large) == large_text);
  EXPECT_EQ(read_file(b), "cycles=auto \n");
  EXPECT_EQ(read_file(same), lines({"output=surface"}));
  struct stat info {};
  ASSERT_EQ(stat(a.c_str(), &info), 0);
  if (program().line_end() == "\n") {
    EXPECT_EQ(info.st_mode & 07777, 0640u);
  }
  const auto none = run_with({"--undo"});
  EXPECT_EQ(none.exit_status, 0);
  EXPECT_EQ(none.output, lines({"Nothing to undo."}) + prompt());

  // A file changed since the run is left, byte for byte; the others are given back.
  ASSERT_EQ(run().exit_status, 0);
  write_file(a, "mine=1\n");
  const auto left = run_with({"--undo"});
  EXPECT_EQ(left.exit_status, 1);
  EXPECT_EQ(left.output,
            lines({"Left as it is, changed since the run: " + spelled(a), "Restored: " + spelled(b),
                   "Restored: " + spelled(large), "2 of 3 files were restored.",
                   "1 file was left as it is; its copy stays in the undo store."}) +
                prompt());
  EXPECT_EQ(read_file(a), "mine=1\n");
  EXPECT_EQ(read_file(b), "cycles=auto \n");
  fs::remove_all(store);
}

// A Proton prefix holds dosdevices/z:, a link to "/"; here it leads to the folder that holds
// the Steam folder and, beside it, files of the user's that no run may touch.
TEST_F(Confmend, NeverLeavesTheSteamFolderThroughLinks) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "output=opengl\n");
  const std::string setting = " output = hdmi \n";
  const std::string prefix = steam_ + "/steamapps/compatdata/100/pfx";
  const std::string game = steam_ + "/steamapps/common/Game";
  make_folders(prefix + "/dosdevices");
  make_folders(prefix + "/drive_c/game");
  make_folders(game);
  make_folders(steam_ + "/steamapps/common/Other");
  make_folders(home_ / "elsewhere/app");
  make_folders(home_ / "etc");
  const std::vector<std::string> outside = {home_ / "elsewhere/app/settings.conf",
                                            home_ / "etc/ld.so.conf", home_ / "notes.txt"};
  for (const auto& path : outside) {
    write_file(path, setting);
  }
  const std::vector<std::string> inside = {prefix + "/drive_c/game/inside.conf",
                                           steam_ + "/steamapps/common/Other/real.conf"};
  for (const auto& path : inside) {
    write_file(path, setting);
  }
  ASSERT_EQ(make_link(home_.path(), prefix + "/dosdevices/z:"), 0);
  ASSERT_EQ(make_link("../drive_c", prefix + "/dosdevices/c:"), 0);
  ASSERT_EQ(make_link(home_ / "elsewhere", game + "/linked folder"), 0);
  ASSERT_EQ(make_link(home_ / "notes.txt", game + "/notes.conf"), 0);
  ASSERT_EQ(make_link("../Other/real.conf", game + "/alias.conf"), 0);

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0) << result.output;
  for (const auto& path : outside) {
    EXPECT_EQ(read_file(path), setting) << path << " lies outside the Steam folder";
  }
  EXPECT_EQ(read_file(work_ + "/dosbox.conf"), "output=opengl\n");
  for (const auto& path : inside) {
    EXPECT_EQ(read_file(path), lines({"output=opengl"})) << path;
  }
  // Whichever way the walk reaches drive_c first, it announces each file inside once, and
  // nothing through a link that leads out.
  std::map<std::string, int> found;
  std::istringstream console(result.output);
  for (std::string line; std::getline(console, line);) {
    if (line.starts_with("Found: ")) {
      ++found[std::string(trim_setting_text(line.substr(line.find_last_of('/') + 1)))];
    }
  }
  const std::map<std::string, int> expected = {
      {"inside.conf", 1}, {"real.conf", 1}, {"alias.conf", 1}};
  EXPECT_EQ(found, expected) << result.output;
}

// A run that is killed, or cut short by the power, while it writes a new file leaves that file
// behind; the next run removes it, silently, and nothing else.
TEST_F(Confmend, RemovesOnlyWhatEarlierRunsLeftBehind) {
  point_registry_at(steam_);
  make_folders(steam_ + "/game");
  const std::vector<std::string> leftovers = {"/game/.confmend-0123456789abcdef.tmp",
                                              "/.confmend-fedcba9876543210.tmp"};
  const std::vector<std::string> users = {
      "/game/.confmend-0123456789abcdeg.tmp",  "/game/.confmend-0123456789ABCDEF.tmp",
      "/game/.confmend-0123456789abcde.tmp",   "/game/.confmend-0123456789abcdef.tmp.bak",
      "/game/x.confmend-0123456789abcdef.tmp", "/game/notes.tmp"};
  for (const auto& name : leftovers) {
    write_file(steam_ + name, "half a new file");
  }
  for (const auto& name : users) {
    write_file(steam_ + name, "the user's");
  }
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, lines({spelled(steam_)}) + prompt());
  for (const auto& name : leftovers) {
    EXPECT_FALSE(file_exists(steam_ + name)) << name;
  }
  for (const auto& name : users) {
    EXPECT_EQ(read_file(steam_ + name), "the user's") << name;
  }
}

TEST_F(Confmend, LeavesUtf16FilesAlone) {
  point_registry_at(steam_);
  const std::string utf16("\xFF\xFE[\0s\0d\0l\0]\0\r\0\n\0", 16);
  write_file(steam_ + "/wide.conf", utf16);
  const auto result = run();
  const std::string path = spelled(steam_ + "/wide.conf");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output,
            lines({spelled(steam_), "Found: " + path, "Left unchanged, it holds NUL bytes: " + path,
                   "1 file was left unmended; the reason is under it."}) +
                prompt());
  EXPECT_EQ(read_file(steam_ + "/wide.conf"), utf16);
}

TEST_F(Confmend, FailedLookupPrintsItsMessagePausesOnceAndExitsWithMinusOne) {
  const std::string kNoKey = "Cannot access the registry key, perhaps Steam is missing?";
  const std::string kNoValue = "Cannot access the registry value, perhaps Steam is missing?";
  const std::string kBadLength =
      "Cannot access the registry value, length is invalid, perhaps Steam is missing or badly "
      "installed?";
  const struct {
    const char* what;
    bool has_key;
    std::optional<std::string> value;
    std::string message;
  } cases[] = {
      {"no key", false, std::nullopt, kNoKey},
      {"key without the value", true, std::nullopt, kNoValue},
      {"1025 bytes with the terminator", true, "C:/" + std::string(1021, 'x'), kBadLength},
      {"empty value", true, "", kBadLength},
  };
  write_file(steam_ + "/a.conf", " x \n");
  for (const auto& c : cases) {
    if (c.has_key) {
      program().set_steam_path(home_.path(), c.value);
    } else {
      program().remove_steam_key(home_.path());
    }
    const auto result = run();
    EXPECT_EQ(result.exit_status, program().failure_status()) << c.what;
    EXPECT_EQ(result.output, lines({c.message}) + prompt()) << c.what;
    EXPECT_EQ(read_file(steam_ + "/a.conf"), " x \n") << c.what;
  }
}

TEST_F(Confmend, AcceptsAValueOf1024BytesWithItsTerminator) {
  std::string root = steam_;
  const std::size_t wanted = 1023 - (spelled(root).size() - root.size());
  while (root.size() < wanted) {  // folders of at most 200 bytes
    const std::size_t length = std::min<std::size_t>(199, wanted - root.size() - 1);
    root.push_back('/');
    root.append(length, 'd');
  }
  ASSERT_EQ(spelled(root).size(), 1023u);
  make_folders(root);
  point_registry_at(root);
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, lines({spelled(root)}) + prompt());
}

TEST_F(Confmend, RootThatCannotBeListedEndsCleanly) {
  point_registry_at(home_ / "nowhere");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output, lines({spelled(home_ / "nowhere")}) + prompt());
}

TEST_F(Confmend, RootWithTrailingSlashDoublesTheSeparator) {
  point_registry_at(steam_ + "/");
  write_file(steam_ + "/a.conf", "");
  const auto result = run();
  EXPECT_EQ(result.output,
            lines({spelled(steam_ + "/"), "Found: " + spelled(steam_ + "//a.conf")}) + prompt());
}

TEST_F(Confmend, SelectsOnlyFilesEndingInDotConf) {
  point_registry_at(steam_);
  for (const char* name : {"x.conf", ".conf", "x.conf.bak", "X.CONF", "y.Conf"}) {
    write_file(steam_ + "/" + name, " a \n");
  }
  make_folders(steam_ + "/old.conf");
  write_file(steam_ + "/old.conf/y.conf", " b \n");

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  const std::string x = "Found: " + spelled(steam_ + "/x.conf");
  const std::string y = "Found: " + spelled(steam_ + "/old.conf/y.conf");
  EXPECT_TRUE(result.output == lines({spelled(steam_), x, y}) + prompt() ||
              result.output == lines({spelled(steam_), y, x}) + prompt())
      << result.output;
  EXPECT_EQ(read_file(steam_ + "/x.conf"), lines({"a"}));
  EXPECT_EQ(read_file(steam_ + "/old.conf/y.conf"), lines({"b"}));
  for (const char* name : {".conf", "x.conf.bak", "X.CONF", "y.Conf"}) {
    EXPECT_EQ(read_file(steam_ + "/" + name), " a \n") << name;
  }
}

TEST_F(Confmend, FindsFilesInFoldersWithNamesOutsideAscii) {
  point_registry_at(steam_);
  const std::string folder =
      steam_ + "/\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0/\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0";
  make_folders(folder);
  write_file(folder + "/\xCE\xA9.conf", " a=1 \n");
  const auto result = run();
  EXPECT_EQ(result.output,
            lines({spelled(steam_), "Found: " + spelled(folder + "/\xCE\xA9.conf")}) + prompt());
  EXPECT_EQ(read_file(folder + "/\xCE\xA9.conf"), lines({"a=1"}));
}

// Names that Windows takes for devices or trims (aux, con, a trailing dot), a path longer
// than 260 characters and a name of 245 bytes: all found and mended, as any other.
TEST_F(Confmend, FindsEveryNameTheFileSystemAllows) {
  point_registry_at(steam_);
  std::string deep = steam_;
  while (deep.size() < 320) {
    deep += "/" + std::string(60, 'd');
  }
  std::string cjk;
  for (int i = 0; i < 80; ++i) {
    cjk += "\xE6\xBC\xA2";  // 漢
  }
  const std::vector<std::string> files = {steam_ + "/aux.conf",        steam_ + "/com1.conf",
                                          steam_ + "/con.conf",        steam_ + "/nul.conf",
                                          steam_ + "/Game./x.conf",    deep + "/long.conf",
                                          steam_ + "/" + cjk + ".conf"};
  make_folders(steam_ + "/Game.");
  make_folders(deep);
  for (const auto& path : files) {
    write_file(path, " a = 1 \n");
  }
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  std::string expected = lines({spelled(steam_)});
  for (const auto& path : files) {
    expected += lines({"Found: " + spelled(path)});
    EXPECT_EQ(read_file(path), lines({"a = 1"})) << path;
  }
  EXPECT_EQ(sorted_lines(result.output), sorted_lines(expected + prompt()));
}

TEST_F(Confmend, WalksEachRealFolderOnceThroughLinksAndCycles) {
  point_registry_at(steam_);
  make_folders(steam_ + "/a/b");
  write_file(steam_ + "/a/b/game.conf", "x=1\n");
  ASSERT_EQ(make_link("..", steam_ + "/a/b/up"), 0);     // a cycle
  ASSERT_EQ(make_link("a/b", steam_ + "/shortcut"), 0);  // a second path to b
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  std::size_t found = 0;
  for (std::size_t at = 0; (at = result.output.find("Found: ", at)) != std::string::npos; ++at) {
    ++found;
  }
  EXPECT_EQ(found, 1u) << result.output;
}

TEST_F(Confmend, MendsTheReferenceFileItselfWhenItLiesBelowTheRoot) {
  point_registry_at(steam_);
  write_file(steam_ + "/dosbox.conf", " cycles = max \n");
  const auto result = run_in(steam_);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output,
            lines({spelled(steam_), "Found: " + spelled(steam_ + "/dosbox.conf")}) + prompt());
  EXPECT_EQ(read_file(steam_ + "/dosbox.conf"), lines({"cycles=max"}));
}

// Asking for help or the version, or mistyping an option, reads and writes nothing and does
// not pause.
TEST_F(Confmend, AnswersHelpVersionAndMistypedOptionsWithoutTouchingAnything) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  make_folders(steam_ + "/game");
  write_file(steam_ + "/game/dosbox.conf", " fullscreen = false \r\n");
  const auto before = tree_state(home_.path());
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string output_starts, errors;
  } cases[] = {
      {{"--help"}, 0, "Usage: confmend [OPTION]...", ""},
      {{"-h"}, 0, "Usage: confmend [OPTION]...", ""},
      {{"--version"}, 0, "confmend 1.0.0" + program().line_end(), ""},
      {{"--dry-rn"},
       2,
       "",
       lines({"confmend: unknown option '--dry-rn'", "Try 'confmend --help'."})},
      {{"-x", "--help"}, 2, "", lines({"confmend: unknown option '-x'", "Try 'confmend --help'."})},
  };
  for (const auto& c : cases) {
    const auto result = run_with(c.arguments);
    EXPECT_EQ(result.exit_status, c.status) << c.arguments[0];
    EXPECT_TRUE(result.output.starts_with(c.output_starts)) << c.arguments[0] << ":\n"
                                                            << result.output;
    EXPECT_EQ(result.errors, c.errors) << c.arguments[0];
    EXPECT_EQ(result.output.find(prompt()), std::string::npos) << c.arguments[0];
    EXPECT_TRUE(tree_state(home_.path()) == before) << c.arguments[0] << " changed files";
  }
}

// A dry run shows, as diffs that patch applies, what the run after it writes, and changes
// nothing itself.
TEST_F(Confmend, DryRunShowsWhatARunWritesAndChangesNothing) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\ncycles=max\n");
  // Line ends to change, a last line without its end, a file already mended, and a long one
  // with one change in its middle.
  std::string long_file;
  for (int i = 0; i < 200; ++i) {
    long_file += i == 100 ? "cycles = 3000\n" : "# line " + std::to_string(i) + "\n";
  }
  const std::map<std::string, std::string> files = {
      {"crlf/dosbox.conf", "[sdl]\r\nfullscreen=false\r\n  output = surface\r\n"},
      {"last line/game.conf", "[cpu]\ncycles=auto"},
      {"mended/dosbox.conf", lines({"[sdl]", "fullscreen=true"})},
      {"long/dosbox.conf", long_file}};
  for (const auto& [name, bytes] : files) {
    make_folders(fs::path(steam_ + "/" + name).parent_path().string());
    write_file(steam_ + "/" + name, bytes);
  }
  // Written where patch applies the diffs: the same bytes as the library.
  const TempDir copies;
  const auto before = tree_state(home_.path());
  for (const auto& option : {"--dry-run", "-n"}) {
    const auto preview = run_with({option});
    EXPECT_EQ(preview.exit_status, 0) << option;
    EXPECT_TRUE(tree_state(home_.path()) == before) << option << " changed files";
    EXPECT_TRUE(preview.output.ends_with(lines({"3 of 4 files would change."}) + prompt()))
        << preview.output;
  }
  const auto preview = run_with({"--dry-run"});
  // Two DOSBox files, neither of which sets cycles, are counted after the last diff.
  const std::string lacking =
      "cycles: not set in 2 of 2 DOSBox configuration files (--add-missing adds it)";
  ASSERT_NE(preview.output.find(lines({lacking, "3 of 4 files would change."})), std::string::npos)
      << preview.output;
  const std::size_t summary =
      preview.output.rfind(program().line_end(), preview.output.find(lacking)) +
      program().line_end().size();
  const auto result = run();
  ASSERT_EQ(result.exit_status, 0);
  for (const auto& [name, bytes] : files) {
    const std::string path = spelled(steam_ + "/" + name);
    const std::size_t found = preview.output.find("Found: " + path + program().line_end());
    ASSERT_NE(found, std::string::npos) << name;
    const std::size_t diff = found + path.size() + 7 + program().line_end().size();
    const std::size_t end = std::min(preview.output.find("Found: ", diff), summary);
    const std::string copy = copies / std::to_string(copies.path().size() + name.size());
    write_file(copy, bytes);
    write_file(copy + ".diff", preview.output.substr(diff, end - diff));
    if (end == diff) {
      EXPECT_EQ(read_file(steam_ + "/" + name), bytes) << name << " changed, with no diff shown";
      continue;
    }
    ChildOptions quiet;
    quiet.environment = {{"PATH", "/usr/bin:/bin"}};
    const auto patched = run_program({"patch", "--quiet", "--force", copy, copy + ".diff"}, quiet);
    EXPECT_EQ(patched.exit_status, 0) << name << ": " << patched.output << patched.errors;
    EXPECT_EQ(read_file(copy), read_file(steam_ + "/" + name)) << name;
  }
  EXPECT_EQ(count_of("\n--- ", "\n" + preview.output), 3u) << "an unchanged file has no diff";
}

// A word that names no file is a typo: "confmend dry-run" must never run for real. A file
// dropped onto the program (Explorer passes its path) is still taken as no option.
TEST_F(Confmend, RefusesWordsThatNameNothing) {
  point_registry_at(steam_);
  write_file(steam_ + "/game.conf", " fullscreen = false \n");
  const auto before = tree_state(home_.path());
  const struct {
    std::string word, says;
  } cases[] = {
      {"dry-run",
       "confmend: 'dry-run' is neither an option nor a file (did you mean '--dry-run'?)"},
      {"undo", "confmend: 'undo' is neither an option nor a file (did you mean '--undo'?)"},
      {"restore", "confmend: 'restore' is neither an option nor a file"},
  };
  for (const auto& c : cases) {
    const auto result = run_with({c.word});
    EXPECT_EQ(result.exit_status, 2) << c.word;
    EXPECT_EQ(result.output, "") << c.word;
    EXPECT_EQ(result.errors, lines({c.says, "Try 'confmend --help'."})) << c.word;
    EXPECT_TRUE(tree_state(home_.path()) == before) << c.word << " changed files";
  }
  const auto dropped = run_with({spelled(work_ + "/dosbox.conf")});
  EXPECT_EQ(dropped.exit_status, 0) << dropped.errors;
  EXPECT_EQ(read_file(steam_ + "/game.conf"), lines({"fullscreen = false"}));
}

// Steam's lists of libraries, as a user with games on several drives has them: each library
// walked once, after the Steam folder, only in its steamapps folder, and nothing that a
// list names twice, marks unmounted, or that lies outside a library.
TEST_F(Confmend, MendsTheGamesOfEveryLibrary) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  const std::string second = home_ / "Drive D/SteamLibrary";
  const std::string old_form = home_ / "Drive E/Games";
  const std::string unmounted = home_ / "SD card";
  const std::string missing = home_ / "unplugged";
  const std::vector<std::string> games = {steam_ + "/steamapps/common/A/dosbox.conf",
                                          second + "/steamapps/common/B/dosbox.conf",
                                          old_form + "/SteamApps/common/C/dosbox.conf"};
  const std::vector<std::string> untouched = {second + "/notes.conf",
                                              unmounted + "/steamapps/common/D/dosbox.conf",
                                              home_ / "outside/dosbox.conf"};
  for (const auto& path : games) {
    make_folders(fs::path(path).parent_path().string());
    write_file(path, "fullscreen=false\n");
  }
  for (const auto& path : untouched) {
    make_folders(fs::path(path).parent_path().string());
    write_file(path, "fullscreen=false\n");
  }
  ASSERT_EQ(make_link(second, home_ / "library link"), 0);
  const auto listed = [&](const std::string& path) {
    std::string escaped;
    for (const char c : program().listed(path)) {
      escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return "\"" + escaped + "\"";
  };
  write_file(steam_ + "/steamapps/libraryfolders.vdf",
             "\"libraryfolders\"\n{\n"
             "\t\"0\" { \"path\" " +
                 listed(steam_) +
                 " \"label\" \"\" }\n"
                 "\t\"1\" { \"path\" " +
                 listed(second) +
                 " \"apps\" { \"100\" \"1\" } }\n"
                 "\t\"2\" { \"path\" " +
                 listed(home_ / "library link") +
                 " }\n"
                 "\t\"3\" { \"path\" " +
                 listed(missing) +
                 " }\n"
                 "\t\"4\" { \"path\" " +
                 listed(unmounted) + " \"mounted\" \"0\" }\n}\n");
  make_folders(steam_ + "/config");
  write_file(steam_ + "/config/libraryfolders.vdf",
             "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\" \"1622476800\"\n"
             "\t\"1\" " +
                 listed(old_form) + "\n\t\"2\" " + listed(second) + "\n}\n");
  // Every Proton prefix holds a list of its own, naming folders outside.
  const std::string decoy = steam_ +
                            "/steamapps/compatdata/1/pfx/drive_c/Program Files "
                            "(x86)/Steam/steamapps";
  make_folders(decoy);
  write_file(decoy + "/libraryfolders.vdf",
             "\"libraryfolders\" { \"1\" { \"path\" " + listed(home_ / "outside") + " } }");

  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output,
            lines({spelled(steam_), "Found: " + spelled(games[0]), program().listed(second),
                   "Found: " + program().listed(second) + "/steamapps/common/B/dosbox.conf",
                   program().listed(missing), program().listed(old_form),
                   "Found: " + program().listed(old_form) + "/SteamApps/common/C/dosbox.conf"}) +
                prompt());
  for (const auto& path : games) {
    EXPECT_EQ(read_file(path), lines({"fullscreen=true"})) << path;
  }
  for (const auto& path : untouched) {
    EXPECT_EQ(read_file(path), "fullscreen=false\n") << path;
  }
}

// A list nested beyond reason is passed over; the Steam folder is mended all the same.
TEST_F(Confmend, PassesOverAHostileLibraryList) {
  point_registry_at(steam_);
  make_folders(steam_ + "/steamapps");
  std::string deep = "\"libraryfolders\" ";
  for (int i = 0; i < 100000; ++i) {
    deep += "{ \"1\" ";
  }
  write_file(steam_ + "/steamapps/libraryfolders.vdf", deep);
  write_file(steam_ + "/steamapps/game.conf", " a=1 \n");
  const auto result = run();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(
      result.output,
      lines({spelled(steam_), "Found: " + spelled(steam_ + "/steamapps/game.conf")}) + prompt());
}

}  // namespace
