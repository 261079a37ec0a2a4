#ifndef CONFMEND_MENDING_READ_AHEAD_H_
#define CONFMEND_MENDING_READ_AHEAD_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "disk/folder.h"

// Lists folders ahead of the walk, on a few threads, so that a cold disk reads several at once
// and the walk finds each in the cache when it comes to it. What it reads is dropped: the walk
// lists every folder itself, in its own order, with its own rules, so nothing it does or says
// depends on what was read ahead. Only folders that are no links are read ahead, through the
// folder holding them, never by a path looked up again. Bounded: at most `most_waiting`
// folders wait, each holding its parent open, and each thread holds one more.
class ReadAhead {
 public:
  ReadAhead(std::size_t threads, std::size_t most_waiting);
  ~ReadAhead();  // stops reading, and waits for its threads
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The folders among the entries of `folder`, to be read ahead while there is room.
  void offer(const std::shared_ptr<const Folder>& folder, const std::vector<FolderEntry>& entries);

  // Descriptors it may hold at once.
  std::size_t descriptors() const { return most_waiting_ + threads_.size(); }

 private:
  void read_ahead();

  const std::size_t most_waiting_;
  std::mutex mutex_;
  std::condition_variable waiting_for_work_;
  std::deque<std::pair<std::shared_ptr<const Folder>, std::string>> waiting_;  // under mutex_
  bool stopping_ = false;                                                      // under mutex_
  std::vector<std::thread> threads_;
};

#endif  // CONFMEND_MENDING_READ_AHEAD_H_
