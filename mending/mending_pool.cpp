#include "mending/mending_pool.h"

#include <algorithm>

struct MendingPool::Slot {
  enum class Kind {
    kFile,      // mended by a job
    kSameFile,  // a later name of a file handed in before: no job
    kFlush,     // a folder flushed by a job
    kTooDeep,   // a folder not walked: no job
  };
  Kind kind = Kind::kFile;
  FileToMend file;
  RewrittenFile result;
  bool started = false;  // false when an interruption came before its job began
  std::uint64_t bytes = 0;
  std::shared_ptr<const Folder> folder_to_flush;
};

PoolBounds pool_bounds(std::size_t open_files, std::size_t most_threads) {
  PoolBounds bounds;
  // A quarter of the descriptors at most, so that deep trees keep the rest for their walk.
  const std::size_t share = open_files / 4;
  bounds.threads = std::clamp<std::size_t>(share / 8, 1, std::max<std::size_t>(most_threads, 1));
  bounds.files_in_hand = std::clamp<std::size_t>(share / 4, bounds.threads, bounds.threads * 4);
  bounds.folders_to_flush = std::clamp<std::size_t>(share / 4, 1, 256);
  return bounds;
}

MendingPool::MendingPool(const MendingRules& rules, MendingMode mode, MendingReport& report,
                         const HeldInterruptions& interruptions, const PoolBounds& bounds,
                         UndoStore* undo)
    : rules_(rules),
      undo_(undo),
      mode_(mode),
      report_(report),
      interruptions_(interruptions),
      bounds_(bounds),
      jobs_(bounds.threads) {}

MendingPool::~MendingPool() {
  finish();
}

void MendingPool::add(FileToMend file) {
  auto slot = std::make_unique<Slot>();
  slot->file = std::move(file);
  const auto& found = slot->file.found;
  if (found && !claims_.claim(found->identity)) {
    slot->kind = Slot::Kind::kSameFile;
  } else {
    slot->bytes = found ? found->size : 0;
    // The first file in hand may be of any size; the others must fit beside those in hand.
    for (;;) {
      report_done(false);
      const bool room =
          slots_.size() < bounds_.files_in_hand &&
          (bytes_in_hand_ == 0 || bytes_in_hand_ + slot->bytes <= bounds_.bytes_in_hand);
      if (room || slots_.empty()) {
        break;
      }
      report_done(true);
    }
    push_file(*slot);
  }
  slots_.push_back(std::move(slot));
  report_done(false);
}

void MendingPool::add_folder_too_deep(std::string path) {
  auto slot = std::make_unique<Slot>();
  slot->kind = Slot::Kind::kTooDeep;
  slot->file.path = std::move(path);
  slots_.push_back(std::move(slot));
  report_done(false);
}

void MendingPool::push_file(Slot& slot) {
  bytes_in_hand_ += slot.bytes;
  jobs_.push([this, &slot] {
    if (interruptions_.requested()) {
      return;
    }
    slot.started = true;
    const FileToMend& file = slot.file;
    MendingGuards guards;
    guards.tree = file.tree.get();
    guards.is_ours = [&](const FileIdentity& read) {
      return (file.found && file.found->identity == read) || claims_.claim(read);
    };
    if (undo_ != nullptr) {
      guards.keep_copy = [&](std::string_view old_bytes, std::string_view new_bytes,
                             SystemError& error) {
        return undo_->keep(file.tree->path(), file.path, *file.folder, file.name, old_bytes,
                           new_bytes, error);
      };
      if (undo_->links_in(*file.folder)) {
        guards.keep_old_file = [&](const OldFile& old, std::string_view old_bytes,
                                   std::string_view new_bytes, SystemError& error) {
          return undo_->keep_old_file(file.tree->path(), file.path, *file.folder, file.name, old,
                                      old_bytes, new_bytes, error);
        };
      }
    }
    rewrite_config_file(file.rules != nullptr ? *file.rules : rules_, *file.folder, file.name,
                        mode_, slot.result, guards);
    if (mode_ == MendingMode::kWrite) {
      // Nothing of it is shown: its memory goes back at once.
      slot.result.original.clear();
      slot.result.new_text.clear();
    }
  });
}

// Flushes each folder once, however many of its files were renamed into it. A folder's files
// are mostly reported one after another, so it is mostly listed once; where a subfolder's
// files came between, it is listed twice, and sorting puts the two side by side.
void MendingPool::push_flushes() {
  std::sort(to_flush_.begin(), to_flush_.end());
  to_flush_.erase(std::unique(to_flush_.begin(), to_flush_.end()), to_flush_.end());
  for (auto& folder : to_flush_) {
    auto slot = std::make_unique<Slot>();
    slot->kind = Slot::Kind::kFlush;
    slot->folder_to_flush = std::move(folder);
    const Folder& flushed = *slot->folder_to_flush;
    jobs_.push([&flushed] { flushed.flush(); });
    slots_.push_back(std::move(slot));
  }
  to_flush_.clear();
}

void MendingPool::finish() {
  for (;;) {
    report_done(true);
    if (slots_.empty() && to_flush_.empty()) {
      return;
    }
    if (slots_.empty()) {
      push_flushes();
    }
  }
}

void MendingPool::report_done(bool wait) {
  while (!slots_.empty()) {
    Slot& slot = *slots_.front();
    if (slot.kind == Slot::Kind::kFile || slot.kind == Slot::Kind::kFlush) {
      if (wait) {
        jobs_.wait_for_oldest();
      } else if (!jobs_.oldest_done()) {
        return;
      }
      jobs_.take_oldest();
    }
    wait = false;
    report(slot);
    bytes_in_hand_ -= slot.bytes;
    slots_.pop_front();
  }
}

void MendingPool::report(Slot& slot) {
  switch (slot.kind) {
    case Slot::Kind::kFlush:
      return;
    case Slot::Kind::kTooDeep:
      report_.folder_too_deep(slot.file.path);
      return;
    case Slot::Kind::kSameFile: {
      const auto first = first_names_.find(slot.file.found->identity);
      if (first == first_names_.end()) {
        return;  // its first name was never mended: an interruption came first
      }
      FoundFile found{slot.file.path,    first->second.outcome, first->second.error, {}, {},
                      first->second.path};
      report_.file_done(found);
      return;
    }
    case Slot::Kind::kFile:
      break;
  }
  if (!slot.started) {
    return;
  }
  const RewrittenFile& result = slot.result;
  FoundFile found{slot.file.path, result.outcome, result.error, {}, {}, {}};
  if (mode_ == MendingMode::kDryRun) {
    found.old_bytes = result.original.view();
    found.new_bytes = std::string_view(
        result.new_text.text() == nullptr ? "" : result.new_text.text(), result.new_text.size());
    found.lacks = &result.lacks;
    found.lines = &result.lines;
  }
  report_.file_done(found);
  if (slot.file.found) {
    first_names_.emplace(slot.file.found->identity,
                         FoundFile{found.path, found.outcome, found.error, {}, {}, {}});
  }
  if (result.replaced && (to_flush_.empty() || to_flush_.back() != slot.file.folder)) {
    to_flush_.push_back(slot.file.folder);
  }
  if (to_flush_.size() >= bounds_.folders_to_flush) {
    push_flushes();
  }
}
