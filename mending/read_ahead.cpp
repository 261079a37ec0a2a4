#include "mending/read_ahead.h"

ReadAhead::ReadAhead(std::size_t threads, std::size_t most_waiting) : most_waiting_(most_waiting) {
  for (std::size_t thread = 0; thread < threads; ++thread) {
    threads_.emplace_back([this] { read_ahead(); });
  }
}

ReadAhead::~ReadAhead() {
  {
    const std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  waiting_for_work_.notify_all();
  for (std::thread& thread : threads_) {
    thread.join();
  }
}

void ReadAhead::offer(const std::shared_ptr<const Folder>& folder,
                      const std::vector<FolderEntry>& entries) {
  if (threads_.empty()) {
    return;
  }
  bool offered = false;
  {
    const std::lock_guard<std::mutex> hold(mutex_);
    for (const FolderEntry& entry : entries) {
      if (waiting_.size() >= most_waiting_ || stopping_) {
        break;
      }
      if (entry.kind == EntryKind::kFolder && entry.plain) {
        waiting_.emplace_back(folder, entry.name);
        offered = true;
      }
    }
  }
  if (offered) {
    waiting_for_work_.notify_all();
  }
}

// Each folder read offers the folders in it in turn, so that reading goes on ahead of the
// walk, deeper than the walk has come.
void ReadAhead::read_ahead() {
  std::vector<FolderEntry> entries;
  for (;;) {
    std::pair<std::shared_ptr<const Folder>, std::string> next;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      waiting_for_work_.wait(hold, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) {
        return;
      }
      next = std::move(waiting_.front());
      waiting_.pop_front();
    }
    auto folder =
        std::make_shared<const Folder>(next.first->open_folder(next.second, Follow::kNoLink));
    next.first.reset();
    entries.clear();
    if (folder->is_open() && folder->list(entries)) {
      offer(folder, entries);
    }
  }
}
