#ifndef CONFMEND_MENDING_UNDO_STORE_H_
#define CONFMEND_MENDING_UNDO_STORE_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/folder.h"
#include "disk/store_files.h"
#include "disk/system_error.h"

// What lets every run be taken back: before a run changes a file, the file's old bytes are
// kept, durably, in an entry of the user's undo store (user_state_folder()/confmend), one
// entry a run, the last kKeptRuns of them. Copies are appended to a few journals of the
// entry, one for each thread keeping one at a time, each copy flushed before keep() returns;
// a copy cut short is never taken for one, so that a run killed at any moment can be taken
// back for what it did.
//
//   UndoStore store(undo_store_folder());
//   store.keep(...);  // before each file is changed; on any thread
//   ...
//   for (const UndoEntry& entry : undo_entries(folder)) ...  // newest first

constexpr std::size_t kKeptRuns = 20;

// The store of this user: "confmend" in the user's state folder; empty when there is none.
std::string undo_store_folder();

// A digest of bytes, to know a file still holds what a run wrote without keeping it.
std::uint64_t bytes_digest(std::string_view bytes);

class UndoStore {
 public:
  explicit UndoStore(std::string folder) : folder_(std::move(folder)) {}

  // Keeps the old bytes of `name` in `folder` (announced as `path`, in the tree announced as
  // `tree`), and a digest of the new ones, flushed to stable storage with their name before
  // it returns. The run's first copy makes its entry, and removes entries beyond the last
  // kKeptRuns. False, with what the system refused, when the copy cannot be kept.
  bool keep(const std::string& tree, const std::string& path, const Folder& folder,
            const std::string& name, std::string_view old_bytes, std::string_view new_bytes,
            SystemError& error);

 private:
  bool make_entry(SystemError& error);
  // A journal no other thread appends to: one left free, or a new one.
  AppendedFile take_journal(SystemError& error);
  void give_back(AppendedFile journal);

  const std::string folder_;
  std::mutex making_;
  std::optional<Folder> entry_;
  SystemError entry_error_;
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
  FileIdentity folder;       // what that folder is
  std::uint64_t new_size = 0;
  std::uint64_t new_digest = 0;
  std::string old_bytes;
};

struct UndoEntry {
  std::string name;  // the entry's folder in the store
  bool taken_back = false;
};

// The store's entries, newest first.
std::vector<UndoEntry> undo_entries(const std::string& store);

// The copies of an entry, in the order they were kept; a copy not kept whole (its run was
// killed while writing it) is none.
std::vector<KeptCopy> kept_copies(const std::string& store, const std::string& entry);

// Marks the entry taken back, so that the next undo goes one run further back.
bool mark_taken_back(const std::string& store, const std::string& entry, SystemError& error);

#endif  // CONFMEND_MENDING_UNDO_STORE_H_
