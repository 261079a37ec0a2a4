// TreeMending over real folder trees, in a child process whose user and limits the test sets.
#include "mending/tree_mending.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "settings/reference_settings.h"
#include "tests/child_process.h"

namespace {

// Every report as a line of text, with paths below the root.
class RecordingReport : public MendingReport {
 public:
  explicit RecordingReport(std::size_t root_length) : root_length_(root_length) {}
  void waiting_for_other_run(const std::string& tree) override {
    lines += "waiting " + tree + "\n";
  }
  void cannot_take_turns(const std::string& tree, SystemError) override {
    lines += "no turns " + tree + "\n";
  }
  void file_done(const FoundFile& file) override {
    lines += file.path.substr(root_length_) + " " + std::to_string(static_cast<int>(file.outcome)) +
             "\n";
  }
  void folder_too_deep(const std::string& path) override {
    lines += "too deep " + path.substr(root_length_) + "\n";
  }
  std::string lines;

 private:
  std::size_t root_length_;
};

// A library of 30 folders, some nested, with a file in every state a run meets: to mend,
// read-only, unreadable, holding NUL, too large to write, and a leftover.
void lay_out(const std::string& root) {
  const auto folder_of = [&](int game) {
    return root + "/game" + std::to_string(game) + (game % 3 ? "/data" : "");
  };
  for (int game = 0; game < 30; ++game) {
    make_folders(folder_of(game));
    for (int file = 0; file < 5; ++file) {
      write_file(folder_of(game) + "/f" + std::to_string(file) + ".conf",
                 file == 3                    ? std::string("a\0b", 3)
                 : file == 4 && game % 4 == 0 ? std::string(9000, 'x') + "\r\n"
                                              : " cycles = " + std::to_string(game) + "\n");
    }
    write_file(folder_of(game) + "/.confmend-0123456789abcdef.tmp", "left behind");
  }
  open_to_everyone(root);
  for (int game = 0; game < 30; game += 5) {
    chmod((folder_of(game) + "/f1.conf").c_str(), 0444);
    chmod((folder_of(game + 1) + "/f2.conf").c_str(), 0200);
  }
}

TEST(TreeMending, ReportsAsOneThreadDoesWhateverTheThreads) {
  const SettingTable reference = reference_settings_from_text("cycles=max\n");
  std::string reports[2];
  const std::size_t threads[2] = {1, TreeMending::kThreads};
  for (int i = 0; i < 2; ++i) {
    TempDir root;
    lay_out(root.path());
    ChildOptions limited;
    limited.unprivileged = true;  // so that permissions bind
    limited.file_size_limit = 8192;
    const auto result = run_in_child(
        [&] {
          RecordingReport report(root.path().size());
          {
            TreeMending mending(reference, MendingMode::kWrite, report, threads[i]);
            mending.mend_tree(Folder::open(root.path()));
          }
          const std::string lines = report.lines;
          (void)!write(STDOUT_FILENO, lines.data(), lines.size());
        },
        limited);
    ASSERT_EQ(result.exit_status, 0) << result.errors;
    reports[i] = result.output;
    EXPECT_EQ(read_file(root / "game1/data/f0.conf"), "cycles=max\n");
    EXPECT_FALSE(file_exists(root / "game1/data/.confmend-0123456789abcdef.tmp"));
  }
  EXPECT_EQ(reports[1], reports[0]);
  for (const FileOutcome outcome : {FileOutcome::kChanged, FileOutcome::kCannotRead,
                                    FileOutcome::kHoldsNul, FileOutcome::kCannotWrite}) {
    EXPECT_NE(reports[0].find(" " + std::to_string(static_cast<int>(outcome)) + "\n"),
              std::string::npos)
        << "no file came to outcome " << static_cast<int>(outcome);
  }
}

}  // namespace
