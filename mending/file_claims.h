#ifndef CONFMEND_MENDING_FILE_CLAIMS_H_
#define CONFMEND_MENDING_FILE_CLAIMS_H_

#include <mutex>
#include <set>

#include "disk/folder.h"

// The files a run has taken on, by identity, so that each is mended once and by one thread,
// however many names (hard links, symbolic links) lead to it. Safe from any thread.
class FileClaims {
 public:
  // True when nobody had claimed the file yet: it is now the caller's.
  bool claim(const FileIdentity& file) {
    const std::lock_guard lock(mutex_);
    return claimed_.insert(file).second;
  }

 private:
  std::mutex mutex_;
  std::set<FileIdentity> claimed_;
};

#endif  // CONFMEND_MENDING_FILE_CLAIMS_H_
