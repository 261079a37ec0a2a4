#ifndef CONFMEND_MENDING_UNDO_STORE_H_
#define CONFMEND_MENDING_UNDO_STORE_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "disk/file_writing.h"
#include "disk/folder.h"
#include "disk/store_files.h"
#include "disk/system_error.h"

// What lets every run be taken back: before a run changes a file, the file's old bytes are
// kept, durably, in an entry of the user's undo store (user_state_folder()/confmend), one
// entry a run. Entries are numbered by the store, under its lock, so that runs are taken back
// in the order they began whatever the clock said. Copies are appended to a few journals of
// the entry, one for each thread keeping one at a time, each copy flushed before keep()
// returns; a copy cut short is never taken for one, so that a run killed at any moment can
// be taken back for what it did. An undo records each file it gives back as it goes, so that
// a run is only ever marked taken back once every file of it is.
//
//   UndoStore store(undo_store_folder());
//   store.prepare(...);  // before the run changes anything: makes its entry
//   store.keep(...);     // before each file is changed; on any thread
//   ...
//   for (const UndoEntry& entry : undo_entries(store_folder)) ...  // newest first

// What the store keeps at most, besides the newest run, which is kept whole: the oldest go
// first, those wholly taken back before the others.
constexpr std::size_t kKeptRuns = 20;
constexpr std::uint64_t kKeptBytes = std::uint64_t{256} << 20;

// The store of this user: "confmend" in the user's state folder; empty when there is none.
std::string undo_store_folder();

// A digest of bytes, to know a file still holds what a run wrote without keeping it.
std::uint64_t bytes_digest(std::string_view bytes);

// Whether the store could be made ready for a run, or opened for an undo.
struct StoreState {
  enum Kind {
    kReady,
    kNone,        // no home folder to keep it in
    kCannotMake,  // `error` says why
    kNotPrivate,  // `trust` says what and why
  } kind = kReady;
  SystemError error;
  StoreTrust trust;
};

// The store opened, and checked to be the user's own.
struct OpenStore {
  StoreState state;
  StoreOwner owner;
  Folder folder;
};
// With `make`, makes it where it is not there yet.
OpenStore open_undo_store(const std::string& folder, bool make);

class UndoStore {
 public:
  explicit UndoStore(std::string folder) : folder_(std::move(folder)) {}
  // A run that kept nothing leaves no entry.
  ~UndoStore();
  UndoStore(const UndoStore&) = delete;
  UndoStore& operator=(const UndoStore&) = delete;

  // Makes this run's entry, numbered after every other, and lets the oldest go beyond what
  // the store keeps. Until it is ready, no copy is kept, and so no file changed.
  StoreState prepare();
  // Records, once the run's turn has come, where it came among the runs: an undo takes runs
  // back in that order, which is the order they change files in.
  void take_place();

  // Keeps the old bytes of `name` in `folder` (announced as `path`, in the tree announced as
  // `tree`), and a digest of the new ones, flushed to stable storage with their name before
  // it returns. False, with what the system refused, when the copy cannot be kept (where the
  // store was not ready, what it refused then, if anything).
  bool keep(const std::string& tree, const std::string& path, const Folder& folder,
            const std::string& name, std::string_view old_bytes, std::string_view new_bytes,
            SystemError& error);

  // Whether a file in the folder can be kept by linking its old file into the entry: the
  // store lies on the same file system, and the platform links old files.
  bool links_in(const Folder& folder) const;
  // As keep(), but keeps the old file itself, by a link in the entry, just before it is
  // replaced; where the link cannot be made, a copy of its bytes.
  bool keep_old_file(const std::string& tree, const std::string& path, const Folder& folder,
                     const std::string& name, const OldFile& old, std::string_view old_bytes,
                     std::string_view new_bytes, SystemError& error);

 private:
  // A journal no other thread appends to: one left free, or a new one.
  AppendedFile take_journal(SystemError& error);
  void give_back(AppendedFile journal);
  bool append_copy(std::string_view header, std::string_view old_bytes, SystemError& error);

  const std::string folder_;
  OpenStore store_;
  std::string entry_name_;
  Folder entry_;
  HeldFile running_;  // held while the run goes on
  std::atomic<std::uint64_t> copies_{0};
  std::mutex journals_;
  std::vector<AppendedFile> free_journals_;  // under journals_
  std::size_t journals_made_ = 0;            // under journals_
};

// One file a run changed, as its copy tells it.
struct KeptCopy {
  std::uint64_t number = 0;  // in the order the run kept them
  std::string tree;          // the tree walked, as announced
  std::string path;          // the file, as announced
  std::string folder_path;   // its folder, as the run opened it
  std::string name;          // its name there
  FileIdentity folder;       // what that folder was
  std::string link;          // the old file itself, kept by this name in the entry, if it was
  std::uint64_t new_size = 0;
  std::uint64_t new_digest = 0;
  std::uint64_t old_size = 0;
  std::uint64_t old_digest = 0;
  std::string old_bytes;
};

struct UndoEntry {
  enum State { kOpen, kTakenBack, kSkipped };
  std::string name;          // the entry's folder in the store
  std::uint64_t number = 0;  // its place among the runs; 0 for an entry named by its time
  std::int64_t made = 0;     // when its run began, in seconds since 1970
  State state = kOpen;
  // Where its run's turn came among the runs, from the same count as the numbers: runs that
  // started together change files in this order. 0 for older entries.
  std::uint64_t place = 0;
};

// The store's entries, newest first: by the places their runs' turns came in (a run still
// waiting for its turn is the newest), else by their numbers, those named by their time last.
std::vector<UndoEntry> undo_entries(const Folder& store);

// Which of the entries must go for the store to keep within its bounds beside the run that
// makes room: their places in `others` (the other entries, newest first) and `sizes`.
std::vector<std::size_t> entries_to_let_go(const std::vector<UndoEntry>& others,
                                           const std::vector<std::uint64_t>& sizes);

// Whether any run is not wholly taken back, nor passed over.
bool has_run_to_undo(const OpenStore& store);

// Whether the entry's run still goes on.
bool is_run_going(const Folder& store, const UndoEntry& entry);

// What an undo knows of an entry: its copies, the last of each file only (a file mended again
// because it changed under the run was kept again), in the order they were kept, and those an
// undo has settled already (given back, or found changed since), and whether an undo had to
// leave some. A copy not kept whole (its
// run was killed while writing it) is none. When an entry, journal or record cannot be read,
// or could be another user's doing, `problem` says which and why.
struct EntryRecords {
  std::vector<KeptCopy> copies;
  std::set<std::uint64_t> settled;
  bool undone_before = false;  // an undo began it, and had to leave some
  StoreTrust problem;
};
EntryRecords read_entry(const OpenStore& store, const UndoEntry& entry);

// How an undo settled a file, recorded as it goes; or that it had to leave it for now.
enum class Settled { kGivenBack, kChangedSince, kLeft };

// The records an undo appends to an entry: each batch flushed to stable storage before
// record() returns.
class UndoLog {
 public:
  UndoLog(const OpenStore& store, const std::string& entry) : store_(store), entry_(entry) {}
  bool record(const std::vector<std::pair<std::uint64_t, Settled>>& files, SystemError& error);

 private:
  const OpenStore& store_;
  const std::string entry_;
  AppendedFile log_;
};

// Marks the entry taken back whole, or passed over, so that the next undo goes one run
// further back.
bool mark_entry(const OpenStore& store, const UndoEntry& entry, UndoEntry::State state,
                SystemError& error);

#endif  // CONFMEND_MENDING_UNDO_STORE_H_
