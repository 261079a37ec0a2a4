// Runs tried as an attacker would: a file reached by many names, a writer still at work, a low
// open file limit, set-ID bits, a reference too large to be one, a full disk under files
// written in place. Whatever happens, no byte of a game's file is lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/confmend_fixture.h"

namespace {

namespace fs = std::filesystem;

// What a run prints besides the Steam folder, the "Found: " lines and the prompt.
std::string messages_in(std::string output, const std::string& steam) {
  const std::string prompt = program_under_test().pause_prompt();
  if (output.ends_with(prompt)) {
    output.resize(output.size() - prompt.size());
  }
  std::string messages;
  for (std::size_t start = 0, end; start < output.size(); start = end + 1) {
    end = std::min(output.find('\n', start), output.size());
    const std::string line = output.substr(start, end - start);
    if (line != steam && !line.starts_with("Found: ")) {
      messages += line + "\n";
    }
  }
  return messages;
}

// Deduplicated as hardlink, jdupes -L or rdfind do: each file has eight names in eight
// folders, and half of them already hold their mended text. Two threads never hold one file,
// so no run empties one, however often it runs; the dry run shows each file's diff once.
TEST_F(Confmend, MendsAFileOnceWhateverTheNamesThatLeadToIt) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\ncycles=max\n");
  constexpr int kFiles = 40, kNames = 8;
  const auto name = [&](int file, int copy) {
    return steam_ + "/game" + std::to_string((file + copy * 7) % kFiles) + "/f" +
           std::to_string(file) + "_" + std::to_string(copy) + ".conf";
  };
  for (int game = 0; game < kFiles; ++game) {
    make_folders(steam_ + "/game" + std::to_string(game));
  }
  const std::string old_text = "[sdl]\n fullscreen = false \n[cpu]\ncycles=auto\n";
  const std::string new_text = "[sdl]\nfullscreen=true\n[cpu]\ncycles=max\n";
  for (int file = 0; file < kFiles; ++file) {
    write_file(name(file, 0), file % 2 ? new_text : old_text);
    for (int copy = 1; copy < kNames; ++copy) {
      ASSERT_EQ(link(name(file, 0).c_str(), name(file, copy).c_str()), 0);
    }
  }

  const auto preview = run_with({"--dry-run"});
  EXPECT_EQ(count_of("Found: ", preview.output), std::size_t{kFiles * kNames});
  EXPECT_EQ(count_of("+++ ", preview.output), std::size_t{kFiles / 2}) << preview.output;
  EXPECT_EQ(count_of("The same file as ", preview.output), std::size_t{kFiles * (kNames - 1)});
  EXPECT_NE(preview.output.find("20 of 40 files would change."), std::string::npos);

  for (int round = 0; round < 3; ++round) {
    const auto result = run();
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(count_of("Found: ", result.output), std::size_t{kFiles * kNames});
    EXPECT_EQ(messages_in(result.output, steam_), "") << "round " << round;
    for (int file = 0; file < kFiles; ++file) {
      ASSERT_EQ(read_file(name(file, kNames - 1)), new_text) << "round " << round;
      EXPECT_EQ(status_of(name(file, 0)).st_nlink, nlink_t{kNames});
    }
  }
}

// Symbolic links from elsewhere to files that must be written in place (their folder takes no
// new file): each file is still mended once, by one thread.
TEST_F(Confmend, MendsFilesWrittenInPlaceOnceThroughTheirLinks) {
  SKIP_UNLESS_ROOT("acting as another user");
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  make_folders(steam_ + "/closed");
  make_folders(steam_ + "/links");
  for (int file = 0; file < 100; ++file) {
    const std::string target = "f" + std::to_string(file) + ".conf";
    write_file(steam_ + "/closed/" + target, " fullscreen = false \r\nkeep=" + target + "\r\n");
    for (int link = 0; link < 3; ++link) {
      ASSERT_EQ(make_link("../closed/" + target,
                          steam_ + "/links/l" + std::to_string(link) + "_" + target),
                0);
    }
  }
  open_to_everyone(home_.path());
  ASSERT_EQ(chmod((steam_ + "/closed").c_str(), 0555), 0);
  ChildOptions as_nobody;
  as_nobody.unprivileged = true;
  for (int round = 0; round < 2; ++round) {
    const auto result = run(as_nobody);
    EXPECT_EQ(result.exit_status, 0) << result.errors;
    EXPECT_EQ(count_of("Found: ", result.output), 400u);
    EXPECT_EQ(messages_in(result.output, steam_), "") << "round " << round;
    for (int file = 0; file < 100; ++file) {
      const std::string target = "f" + std::to_string(file) + ".conf";
      ASSERT_EQ(read_file(steam_ + "/closed/" + target), "fullscreen=true\nkeep=" + target + "\n");
    }
  }
}

// A program that emptied a file and is still writing it (a download, an editor's save): the
// file is mended once that program is done, from all it wrote; one that keeps it open for
// longer than a run waits is left to it, byte for byte.
TEST_F(Confmend, WaitsForAWriterStillAtWork) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  make_folders(steam_ + "/game");
  const std::string file = steam_ + "/game/dosbox.conf";
  write_file(file, "fullscreen=false\n");
  {
    const int writer = open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "[sdl]\n", 6), 6);
    std::thread rest([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      EXPECT_EQ(write(writer, "fullscreen=false\nlast=line\n", 27), 27);
      close(writer);
    });
    const auto result = run();
    rest.join();
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(messages_in(result.output, steam_), "");
    EXPECT_EQ(read_file(file), "[sdl]\nfullscreen=true\nlast=line\n");
  }
  write_file(file, " fullscreen = false \n");
  const int holder = open(file.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  const auto start = std::chrono::steady_clock::now();
  const auto result = run();
  const auto waited = std::chrono::steady_clock::now() - start;
  close(holder);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output,
            lines({steam_, "Found: " + file, "Left unchanged, another program is using it: " + file,
                   "  Another program holds it open for writing.",
                   "1 file was left unmended; the reason is under it."}) +
                prompt());
  EXPECT_EQ(read_file(file), " fullscreen = false \n");
  EXPECT_GE(waited, std::chrono::milliseconds(1900));
}

// However low the open file limit, every file within reach is found and mended, and a folder
// deeper than the limit lets the run hold open is said.
TEST_F(Confmend, StaysWithinTheOpenFileLimit) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  for (int file = 0; file < 300; ++file) {
    const std::string folder =
        steam_ + "/game" + std::to_string(file % 30) + "/data" + std::to_string(file % 7);
    make_folders(folder);
    write_file(folder + "/f" + std::to_string(file) + ".conf", "fullscreen=false\n");
  }
  std::string deep = steam_;
  for (int level = 0; level < 60; ++level) {
    deep += "/d";
    make_folders(deep);
    write_file(deep + "/level.conf", "fullscreen=false\n");
  }
  ChildOptions limited;
  limited.open_file_limit = 48;
  const auto result = run(limited);
  EXPECT_EQ(result.exit_status, 1);
  const std::string messages = messages_in(result.output, steam_);
  EXPECT_EQ(count_of("\n", messages), 2u) << messages;
  EXPECT_TRUE(messages.ends_with("\n1 folder was not walked; the reason is beside it.\n"))
      << messages;
  EXPECT_TRUE(
      messages.starts_with("Not walked, more folders deep than the open file limit "
                           "allows: " +
                           steam_ + "/d/d/"))
      << messages;
  const std::size_t levels = count_of("/level.conf", result.output);
  EXPECT_GE(levels, 10u);
  EXPECT_EQ(count_of("Found: ", result.output), 300 + levels);
  for (const auto& entry : fs::recursive_directory_iterator(steam_)) {
    if (entry.path().filename().string().starts_with("f")) {
      ASSERT_EQ(read_file(entry.path().string()), "fullscreen=true\n") << entry.path();
    }
  }
}

// A write clears the set-ID bits; the mended file has them again, replaced or written in
// place, when its owner runs the program.
TEST_F(Confmend, KeepsSetIdBits) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  make_folders(steam_ + "/a");
  const std::string replaced = steam_ + "/a/replaced.conf", in_place = steam_ + "/a/linked.conf";
  write_file(replaced, "fullscreen=false\n");
  write_file(in_place, "fullscreen=false\n");
  ASSERT_EQ(link(in_place.c_str(), (steam_ + "/a/second name").c_str()), 0);
  ChildOptions owner;
  if (running_as_root()) {  // root may keep the bits anyway: be their owner instead
    open_to_everyone(home_.path());
    ASSERT_EQ(chown(replaced.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(in_place.c_str(), 65534, 65534), 0);
    owner.unprivileged = true;
  }
  ASSERT_EQ(chmod(replaced.c_str(), 04755), 0);
  ASSERT_EQ(chmod(in_place.c_str(), 06750), 0);
  EXPECT_EQ(run(owner).exit_status, 0);
  EXPECT_EQ(read_file(replaced), "fullscreen=true\n");
  EXPECT_EQ(read_file(in_place), "fullscreen=true\n");
  EXPECT_EQ(status_of(replaced).st_mode & 07777, 04755u);
  EXPECT_EQ(status_of(in_place).st_mode & 07777, 06750u);
}

// A reference of 40 GB is no configuration: the run ends before the Steam folder is read.
TEST_F(Confmend, AReferenceTooLargeToLoadTouchesNothing) {
  point_registry_at(steam_);
  write_file(steam_ + "/game.conf", " fullscreen = false \n");
  const auto before = status_of(steam_ + "/game.conf");
  { std::ofstream created(work_ + "/dosbox.conf"); }
  ASSERT_EQ(truncate((work_ + "/dosbox.conf").c_str(), 40ll << 30), 0);
  const auto result = run();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output,
            lines({"dosbox.conf is larger than 64 MiB, too large to be a configuration: no file "
                   "was changed."}) +
                prompt());
  EXPECT_EQ(read_file(steam_ + "/game.conf"), " fullscreen = false \n");
  EXPECT_EQ(status_of(steam_ + "/game.conf").st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

// A library list naming "." or a relative path would mend wherever the run was started.
TEST_F(Confmend, IgnoresLibraryPathsThatAreNotAbsolute) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  make_folders(steam_ + "/steamapps");
  make_folders(work_ + "/steamapps");
  make_folders(work_ + "/lib/steamapps");
  write_file(work_ + "/steamapps/mine.conf", "fullscreen=false\n");
  write_file(work_ + "/lib/steamapps/mine.conf", "fullscreen=false\n");
  write_file(steam_ + "/steamapps/libraryfolders.vdf",
             "\"libraryfolders\" { \"1\" { \"path\" \".\" } \"2\" { \"path\" \"lib\" } }");
  const auto result = run();
  EXPECT_EQ(result.output, lines({steam_}) + prompt());
  EXPECT_EQ(read_file(work_ + "/steamapps/mine.conf"), "fullscreen=false\n");
  EXPECT_EQ(read_file(work_ + "/lib/steamapps/mine.conf"), "fullscreen=false\n");
}

// Thousands of libraries, each compared with what was walked before in a few steps.
TEST_F(Confmend, MendsThousandsOfLibraries) {
  point_registry_at(steam_);
  write_file(work_ + "/dosbox.conf", "fullscreen=true\n");
  make_folders(steam_ + "/steamapps");
  std::string list = "\"libraryfolders\" {\n";
  std::string expected = lines({steam_});
  for (int library = 0; library < 2000; ++library) {
    const std::string path = home_ / ("lib" + std::to_string(library));
    make_folders(path + "/steamapps");
    write_file(path + "/steamapps/game.conf", "fullscreen=false\n");
    list += "\"" + std::to_string(library) + "\" { \"path\" \"" + path + "\" }\n";
    expected += lines({path, "Found: " + path + "/steamapps/game.conf"});
  }
  write_file(steam_ + "/steamapps/libraryfolders.vdf", list + "}\n");
  const auto result = run();
  EXPECT_EQ(result.output, expected + prompt());
  EXPECT_EQ(read_file(home_ / "lib1999/steamapps/game.conf"), "fullscreen=true\n");
}

// A disk that is really full (a small tmpfs) under files that must be written in place and
// grow: each is left exactly as it was, and said so; none is damaged.
TEST_F(Confmend, AFullDiskDamagesNoFileWrittenInPlace) {
  SKIP_UNLESS_ROOT("mounting a small file system");
  const std::string disk = home_ / "disk";
  make_folders(disk);
  ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
  const std::string steam = disk + "/Steam";
  point_registry_at(steam);
  write_file(work_ + "/dosbox.conf", "fullresolution=" + std::string(3000, 'x') + "\n");
  make_folders(steam + "/game");
  std::vector<std::string> files;
  for (int file = 0; file < 20; ++file) {
    files.push_back(steam + "/game/f" + std::to_string(file) + ".conf");
    write_file(files.back(), "fullresolution=false\n" + std::string(20000, '#') + "\n");
    ASSERT_EQ(link(files.back().c_str(), (files.back() + ".link").c_str()), 0);
  }
  {
    std::ofstream filler(disk + "/filler", std::ios::binary);
    for (const std::string block(4096, 'f'); filler.write(block.data(), block.size());) {
    }
  }
  const auto result = run();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(count_of("Cannot write to file ", result.output), 20u) << result.output;
  EXPECT_EQ(count_of("\n  No space left on device\n", result.output), 20u) << result.output;
  EXPECT_EQ(result.output.find("damaged"), std::string::npos) << result.output;
  for (const auto& file : files) {
    EXPECT_EQ(read_file(file), "fullresolution=false\n" + std::string(20000, '#') + "\n") << file;
  }
  ASSERT_EQ(unlink((disk + "/filler").c_str()), 0);
  EXPECT_EQ(messages_in(run().output, steam), "");
  EXPECT_EQ(read_file(files[7]),
            "fullresolution=" + std::string(3000, 'x') + "\n" + std::string(20000, '#') + "\n");
  umount2(disk.c_str(), MNT_DETACH);
}

}  // namespace
