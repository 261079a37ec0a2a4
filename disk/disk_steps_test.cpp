// The order of the steps that write a file, and that append to the undo store's files, run
// over a disk held in memory in place of the platform's primitives (this program is linked
// with file_writing.cpp and store_files.cpp alone), so that a full disk, a write cut short, a
// refused rename and a file changed between two looks each take microseconds, and what every
// step leaves behind can be seen whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "disk/file_writing.h"
#include "disk/store_files.h"

namespace {

// One file, "game.conf" or a file of the store, and the temporary files beside it, with the
// faults a test sets.
struct MemoryDisk {
  std::string file;
  FileStamp stamp;
  std::set<std::string> temporaries;
  std::size_t room = 1 << 20;                  // the most any file may hold: past it, ENOSPC
  std::size_t writes_before_fault = SIZE_MAX;  // writes that go through before one fails
  int write_fault = EIO;                       // what the failing write says
  bool fault_sticks = false;           // whether every later write, and cutting short, fails too
  std::size_t bytes_before_fault = 0;  // what of the failing write lands before it fails
  int rename_refusal = 0;              // what a rename over the file says, where it fails
  int creation_refusal = 0;            // what making a temporary file says, where it fails
  int names_taken = 0;                 // names another run took before this one tries them
  bool has_other_names = false;        // the file has hard links
  bool metadata_carries = true;
  std::string written_between_looks;      // what another program writes just before the last look
  std::uint64_t size_limit = UINT64_MAX;  // ulimit -f
  std::vector<std::string> steps;         // what was done, in order
  std::vector<std::string> removed;       // the names removed

  // Writes at `at` as a disk would: within the room, and only until the fault.
  bool write(std::string& target, std::string_view bytes, std::uint64_t at) {
    if (writes_before_fault == 0) {
      bytes = bytes.substr(0, bytes_before_fault);
      bytes_before_fault = 0;
      errno = write_fault;
      if (!fault_sticks) {
        writes_before_fault = SIZE_MAX;
      }
    } else {
      --writes_before_fault;
      errno = 0;
    }
    if (at + bytes.size() > room) {
      bytes = bytes.substr(0, at > room ? 0 : room - at);
      errno = ENOSPC;
    }
    if (target.size() < at + bytes.size()) {
      target.resize(at + bytes.size(), '\0');
    }
    target.replace(at, bytes.size(), bytes);
    return errno == 0;
  }
};

MemoryDisk disk;
const std::string kName = "game.conf";

FileStamp stamp_of(const std::string& bytes, std::int64_t version) {
  FileStamp stamp;
  stamp.identity.index[0] = 7;
  stamp.size = bytes.size();
  stamp.modified = version;
  return stamp;
}

FileOutcome compare_with_read(const FileAsRead& read) {
  return disk.stamp == read.stamp && disk.file == read.bytes ? FileOutcome::kUnchanged
                                                             : FileOutcome::kKeptChanging;
}

class NoLinks : public OldFile {
 public:
  bool link_into(const Folder&, const std::string&, SystemError& error) const override {
    error.code = EXDEV;
    return false;
  }
};
const NoLinks kOldFile;

}  // namespace

// The primitives, in memory.

SystemError last_system_error() {
  return SystemError{errno};
}
Folder::~Folder() = default;

struct Replacement {
  std::string name;
  std::string bytes;
};
void ReplacementDeleter::operator()(Replacement* replacement) const {
  delete replacement;
}

FileOutcome look_at_old_file(const Folder&, const std::string&, const FileAsRead& read,
                             ReplacementHeld& replacement, SystemError&) {
  disk.steps.push_back("look");
  if (compare_with_read(read) != FileOutcome::kUnchanged) {
    return FileOutcome::kKeptChanging;
  }
  if (disk.has_other_names) {
    return FileOutcome::kInPlaceOnly;
  }
  replacement.reset(new Replacement);
  return FileOutcome::kUnchanged;
}

Creation create_replacement(Replacement& replacement, const std::string& name, SystemError& error) {
  if (disk.creation_refusal != 0) {
    error.code = disk.creation_refusal;
    return Creation::kRefused;
  }
  if (disk.names_taken > 0) {
    --disk.names_taken;
    return Creation::kNameTaken;
  }
  EXPECT_TRUE(is_replacement_name(name)) << name;
  replacement.name = name;
  disk.temporaries.insert(name);
  disk.steps.push_back("create");
  return Creation::kMade;
}

bool refuses_new_files(SystemError error) {
  return error.code == EACCES;
}

FileOutcome carry_metadata(Replacement&) {
  return disk.metadata_carries ? FileOutcome::kUnchanged : FileOutcome::kInPlaceOnly;
}

bool write_replacement(Replacement& replacement, std::string_view bytes, SystemError& error) {
  disk.steps.push_back("write");
  if (!disk.write(replacement.bytes, bytes, 0)) {
    error = last_system_error();
    return false;
  }
  return true;
}

FileOutcome look_last(Replacement&, const FileAsRead& read) {
  disk.steps.push_back("look last");
  if (!disk.written_between_looks.empty()) {
    disk.file = disk.written_between_looks;
    disk.stamp = stamp_of(disk.file, 2);
  }
  return compare_with_read(read);
}

const OldFile& looked_at_file(Replacement&) {
  return kOldFile;
}

FileOutcome rename_replacement(Replacement& replacement, SystemError& error) {
  disk.steps.push_back("rename");
  if (disk.rename_refusal != 0) {
    error.code = disk.rename_refusal;
    return refuses_new_files(error) ? FileOutcome::kInPlaceOnly : FileOutcome::kCannotWrite;
  }
  disk.file = replacement.bytes;
  disk.stamp = stamp_of(disk.file, 3);
  disk.temporaries.erase(replacement.name);
  return FileOutcome::kChanged;
}

void discard_replacement(Replacement& replacement) {
  disk.temporaries.erase(replacement.name);
}

FileOutcome look_before_writing(const Folder&, const std::string&, const FileAsRead& read) {
  if (!disk.written_between_looks.empty()) {
    disk.file = disk.written_between_looks;
    disk.stamp = stamp_of(disk.file, 2);
  }
  return compare_with_read(read);
}

FileToWrite open_to_write_over(const Folder&, const std::string&, const FileStamp&, FileOutcome&,
                               SystemError&) {
  return FileToWrite{3, 0644};
}

bool past_file_size_limit(std::uint64_t size, SystemError& error) {
  if (size <= disk.size_limit) {
    return false;
  }
  error.code = EFBIG;
  return true;
}

bool write_at(std::intptr_t, std::string_view bytes, std::uint64_t at) {
  return disk.write(disk.file, bytes, at);
}

bool set_file_size(std::intptr_t, std::uint64_t size) {
  if (disk.writes_before_fault == 0) {
    errno = disk.write_fault;
    return false;
  }
  disk.file.resize(size, '\0');
  return true;
}

bool flush_file(std::intptr_t) {
  return true;
}
void close_written_file(const FileToWrite&) {}

long long read_at(std::intptr_t, char* buffer, std::size_t size, std::uint64_t at) {
  if (at >= disk.file.size()) {
    return 0;
  }
  return static_cast<long long>(disk.file.copy(buffer, size, at));
}

AppendedFile AppendedFile::create(const Folder&, const std::string&, SystemError&) {
  disk.file.clear();
  AppendedFile file;
  file.handle_ = 4;
  return file;
}
void AppendedFile::close() {
  handle_ = -1;
}
HeldFile::~HeldFile() = default;
void remove_file_in(const Folder&, const std::string& name) {
  disk.removed.push_back(name);
}
void remove_empty_folder_in(const Folder&, const std::string& name) {
  disk.removed.push_back(name);
}
Folder Folder::open_folder(std::string_view, Follow) const {
  return Folder();
}
bool Folder::list(std::vector<FolderEntry>&) const {
  return false;
}

namespace {

const std::string kOld = "[sdl]\nfullscreen=false\noutput=surface\n";
const std::string kShorter = "[sdl]\nfullscreen=true\n";
const std::string kLonger = "[sdl]\nfullscreen=true\noutput=overlay\n[render]\naspect=true\n";

class FileWritingSteps : public testing::Test {
 protected:
  void SetUp() override {
    disk = MemoryDisk{};
    disk.file = kOld;
    disk.stamp = stamp_of(kOld, 1);
    read_.stamp = disk.stamp;
    read_.bytes = kOld;
    error_ = {};
  }

  FileOutcome write_in_place(const std::string& bytes) {
    return write_file_in_place(folder_, kName, bytes, read_, error_);
  }
  FileOutcome replace(const std::string& bytes, const BeforeChanging& before = {},
                      const KeepingOld& keep_old = {}) {
    return replace_file_durably(folder_, kName, bytes, read_, error_, before, keep_old);
  }

  Folder folder_;
  FileAsRead read_;
  SystemError error_;
};

TEST_F(FileWritingSteps, InPlaceWritesTheNewBytesExactlyWhateverTheirLength) {
  for (const std::string& bytes : {kShorter, kLonger, std::string()}) {
    SetUp();
    EXPECT_EQ(write_in_place(bytes), FileOutcome::kChanged);
    EXPECT_EQ(disk.file, bytes);
  }
}

// Each fault in turn, and what the file must hold after it: a write that fails is always
// undone by putting the old bytes back, unless putting them back fails too.
TEST_F(FileWritingSteps, InPlacePutsTheOldBytesBackWhenAWriteFails) {
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t room;
    std::size_t writes_before_fault;
    std::size_t bytes_before_fault;
    FileOutcome outcome;
    int error;
  };
  const Case cases[] = {
      {"disk full as the file grows", kLonger, kOld.size() + 4, SIZE_MAX, 0,
       FileOutcome::kCannotWrite, ENOSPC},
      {"write over the old bytes cut short", kShorter, 1 << 20, 0, 19, FileOutcome::kCannotWrite,
       EIO},
      {"write over the old bytes cut short after the new end", kLonger, 1 << 20, 1, 30,
       FileOutcome::kCannotWrite, EIO},
  };
  for (const Case& c : cases) {
    SetUp();
    disk.room = c.room;
    disk.writes_before_fault = c.writes_before_fault;
    disk.bytes_before_fault = c.bytes_before_fault;
    // Only the failing write fails: the put-back goes through.
    EXPECT_EQ(write_in_place(c.bytes), c.outcome) << c.what;
    EXPECT_EQ(error_.code, c.error) << c.what;
    EXPECT_EQ(disk.file, kOld) << c.what;
  }
}

TEST_F(FileWritingSteps, InPlaceSaysDamagedWhenTheOldBytesCannotBePutBack) {
  disk.writes_before_fault = 0;
  disk.bytes_before_fault = 19;
  disk.fault_sticks = true;
  EXPECT_EQ(write_in_place(kShorter), FileOutcome::kDamaged);
  EXPECT_EQ(error_.code, EIO);
  EXPECT_NE(disk.file, kOld);
}

TEST_F(FileWritingSteps, InPlaceLeavesAFileChangedSinceItWasReadAndOneTooLargeAlone) {
  disk.written_between_looks = "[sdl]\nfullscreen=false\n# mine\n";
  EXPECT_EQ(write_in_place(kLonger), FileOutcome::kKeptChanging);
  EXPECT_EQ(disk.file, disk.written_between_looks);

  SetUp();
  disk.size_limit = kLonger.size() - 1;
  EXPECT_EQ(write_in_place(kLonger), FileOutcome::kCannotWrite);
  EXPECT_EQ(error_.code, EFBIG);
  EXPECT_EQ(disk.file, kOld);
}

TEST_F(FileWritingSteps, ReplacesTheFileOnlyOnceEveryStepWentThrough) {
  bool asked_before = false;
  bool asked_to_keep = false;
  const auto before = [&](SystemError&) {
    asked_before = true;
    EXPECT_EQ(disk.steps.back(), "write");  // the new bytes are on the disk already
    return true;
  };
  const auto keep = [&](const OldFile&, SystemError&) {
    asked_to_keep = true;
    EXPECT_EQ(disk.steps.back(), "look last");  // nothing may come between it and the rename
    return true;
  };
  EXPECT_EQ(replace(kLonger, before, keep), FileOutcome::kChanged);
  EXPECT_TRUE(asked_before && asked_to_keep);
  EXPECT_EQ(disk.file, kLonger);
  EXPECT_TRUE(disk.temporaries.empty());
  EXPECT_EQ(disk.steps,
            (std::vector<std::string>{"look", "create", "write", "look last", "rename"}));
}

// Whatever step fails, the old file keeps its bytes, the system's reason is told, and no
// temporary file is left.
TEST_F(FileWritingSteps, ReplacingLeavesTheOldFileAndNoTemporaryWhenAStepFails) {
  struct Case {
    const char* what;
    void (*fault)();
    FileOutcome outcome;
    int error;
  };
  const Case cases[] = {
      {"disk full writing the temporary file", [] { disk.room = 10; }, FileOutcome::kCannotWrite,
       ENOSPC},
      {"temporary file's write cut short",
       [] {
         disk.writes_before_fault = 0;
         disk.bytes_before_fault = 7;
       },
       FileOutcome::kCannotWrite, EIO},
      {"rename refused for want of permission", [] { disk.rename_refusal = EACCES; },
       FileOutcome::kInPlaceOnly, EACCES},
      {"rename failed", [] { disk.rename_refusal = EIO; }, FileOutcome::kCannotWrite, EIO},
      {"folder takes no new file", [] { disk.creation_refusal = EACCES; },
       FileOutcome::kInPlaceOnly, EACCES},
      {"disk full making the temporary file", [] { disk.creation_refusal = ENOSPC; },
       FileOutcome::kCannotWrite, ENOSPC},
      {"metadata that cannot be carried over", [] { disk.metadata_carries = false; },
       FileOutcome::kInPlaceOnly, 0},
      {"a file with other names", [] { disk.has_other_names = true; }, FileOutcome::kInPlaceOnly,
       0},
      {"every name taken by other runs", [] { disk.names_taken = 1000; }, FileOutcome::kCannotWrite,
       0},
      {"larger than the process may write", [] { disk.size_limit = 8; }, FileOutcome::kCannotWrite,
       EFBIG},
  };
  for (const Case& c : cases) {
    SetUp();
    c.fault();
    EXPECT_EQ(replace(kLonger), c.outcome) << c.what;
    EXPECT_EQ(error_.code, c.error) << c.what;
    EXPECT_EQ(disk.file, kOld) << c.what;
    EXPECT_TRUE(disk.temporaries.empty()) << c.what;
  }
}

TEST_F(FileWritingSteps, ReplacingTriesAnotherNameWhereAnotherRunTookOne) {
  disk.names_taken = 3;
  EXPECT_EQ(replace(kLonger), FileOutcome::kChanged);
  EXPECT_EQ(disk.file, kLonger);
}

// A file another program writes after the temporary file was written is never replaced, and
// its old file is never offered to be kept.
TEST_F(FileWritingSteps, ReplacingLeavesAFileChangedBetweenTheLooks) {
  disk.written_between_looks = "[sdl]\nfullscreen=false\n# mine\n";
  bool asked_to_keep = false;
  const auto keep = [&](const OldFile&, SystemError&) { return asked_to_keep = true; };
  EXPECT_EQ(replace(kLonger, {}, keep), FileOutcome::kKeptChanging);
  EXPECT_FALSE(asked_to_keep);
  EXPECT_EQ(disk.file, disk.written_between_looks);
  EXPECT_TRUE(disk.temporaries.empty());
}

TEST_F(FileWritingSteps, ReplacingLeavesTheFileWhereNoCopyCouldBeKept) {
  for (const bool refuse_before : {true, false}) {
    SetUp();
    const auto before = [&](SystemError& error) {
      error.code = refuse_before ? ENOSPC : 0;
      return !refuse_before;
    };
    const auto keep = [&](const OldFile& old, SystemError& error) {
      return old.link_into(folder_, "old-1", error);
    };
    EXPECT_EQ(replace(kLonger, before, keep), FileOutcome::kNoCopyKept) << refuse_before;
    EXPECT_NE(error_.code, 0);
    EXPECT_EQ(disk.file, kOld);
    EXPECT_TRUE(disk.temporaries.empty());
    EXPECT_EQ(std::count(disk.steps.begin(), disk.steps.end(), "rename"), 0);
  }
}

// The undo store's files, each record flushed as it is appended.
using StoreFileSteps = FileWritingSteps;

TEST_F(StoreFileSteps, AppendedFileCutsOffARecordItCouldNotWriteWhole) {
  AppendedFile journal = AppendedFile::create(folder_, "journal-1", error_);
  ASSERT_TRUE(journal.is_open());
  EXPECT_TRUE(journal.append("copy 1\n", "old bytes", error_));
  disk.room = disk.file.size() + 5;
  EXPECT_FALSE(journal.append("copy 2\n", "more old bytes", error_));
  EXPECT_EQ(error_.code, ENOSPC);
  EXPECT_EQ(disk.file, "copy 1\nold bytes");
  disk.room = 1 << 20;  // space given back: the next record follows the first directly
  EXPECT_TRUE(journal.append("copy 3\n", "", error_));
  EXPECT_EQ(disk.file, "copy 1\nold bytescopy 3\n");
}

TEST_F(StoreFileSteps, AppendedFileAppendsNothingMoreOnceARecordCannotBeCutOff) {
  AppendedFile journal = AppendedFile::create(folder_, "journal-1", error_);
  EXPECT_TRUE(journal.append("copy 1\n", "old bytes", error_));
  disk.writes_before_fault = 0;
  disk.bytes_before_fault = 3;
  disk.fault_sticks = true;
  EXPECT_FALSE(journal.append("copy 2\n", "more old bytes", error_));
  const std::string after_fault = disk.file;
  disk.writes_before_fault = SIZE_MAX;  // the disk works again, but the record is in the way
  error_ = {};
  EXPECT_FALSE(journal.append("copy 3\n", "", error_));
  EXPECT_EQ(error_.code, EIO);
  EXPECT_EQ(disk.file, after_fault);
}

TEST_F(StoreFileSteps, AFlushedFileThatCannotBeWrittenWholeIsRemoved) {
  EXPECT_TRUE(create_file_flushed(folder_, "old-1", kLonger, error_));
  EXPECT_EQ(disk.file, kLonger);
  EXPECT_TRUE(disk.removed.empty());

  disk.room = 10;
  EXPECT_FALSE(create_file_flushed(folder_, "old-2", kLonger, error_));
  EXPECT_EQ(error_.code, ENOSPC);
  EXPECT_EQ(disk.removed, std::vector<std::string>{"old-2"});
}

}  // namespace
