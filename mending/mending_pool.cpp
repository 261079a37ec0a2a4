#include "mending/mending_pool.h"

#include <algorithm>

namespace {

// Files in hand at once, done or not, for each thread.
constexpr std::size_t kSlotsPerThread = 4;
// The bytes of the files in hand: a file larger than this is mended alone.
constexpr std::uint64_t kBytesInHand = 64 << 20;
// Folders flushed together; each is held open until then.
constexpr std::size_t kFoldersToFlush = 256;

}  // namespace

struct MendingPool::Slot {
  enum class State { kWaiting, kRunning, kDone, kSkipped };
  FileToMend file;
  RewrittenFile result;
  State state = State::kWaiting;
};

MendingPool::MendingPool(const SettingTable& reference, MendingMode mode, MendingReport& report,
                         const HeldInterruptions& interruptions, std::size_t most_threads)
    : reference_(reference),
      mode_(mode),
      report_(report),
      interruptions_(interruptions),
      most_threads_(most_threads == 0 ? 1 : most_threads) {}

MendingPool::~MendingPool() {
  finish();
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  work_ready_.notify_all();
  for (const pthread_t thread : threads_) {
    pthread_join(thread, nullptr);
  }
}

void MendingPool::add(FileToMend file) {
  std::unique_lock lock(mutex_);
  const std::size_t most_slots = most_threads_ * kSlotsPerThread;
  for (;;) {
    report_done(lock);
    if (slots_.size() < most_slots) {
      break;
    }
    slot_done_.wait(lock);
  }
  auto slot = std::make_unique<Slot>();
  slot->file = std::move(file);
  slots_.push_back(std::move(slot));
  start_thread_if_needed();
  lock.unlock();
  work_ready_.notify_one();
}

void MendingPool::finish() {
  std::unique_lock lock(mutex_);
  for (;;) {
    report_done(lock);
    if (slots_.empty() && !to_flush_.empty()) {
      lock.unlock();
      hand_over_folders_to_flush();
      lock.lock();
    }
    if (slots_.empty() && flushing_.empty() && flushes_under_way_ == 0) {
      return;
    }
    if (threads_.empty()) {
      start_thread_if_needed();  // none could be started before
      if (threads_.empty()) {
        return;
      }
    }
    slot_done_.wait(lock);
  }
}

// A thread that cannot be started leaves the work to those there are; with none at all, the
// files handed in are left as they are, unreported.
void MendingPool::start_thread_if_needed() {
  if (idle_ > 0 || threads_.size() >= most_threads_ ||
      (started_ == slots_.size() && flushing_.empty())) {
    return;
  }
  pthread_t thread;
  if (pthread_create(&thread, nullptr, run_thread, this) == 0) {
    threads_.push_back(thread);
  }
}

void* MendingPool::run_thread(void* pool) {
  static_cast<MendingPool*>(pool)->work();
  return nullptr;
}

// Within the bounds of memory; the first file in hand always is, however large.
bool MendingPool::may_start(const Slot& slot) const {
  return bytes_in_hand_ == 0 || bytes_in_hand_ + slot.file.size <= kBytesInHand;
}

// Takes the files in the order they were handed in, so that an earlier one never waits for a
// later one to be reported.
void MendingPool::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    work_ready_.wait(lock, [&] {
      return closing_ || !flushing_.empty() ||
             (started_ < slots_.size() && may_start(*slots_[started_]));
    });
    --idle_;
    if (!flushing_.empty()) {
      const std::shared_ptr<const Folder> folder = std::move(flushing_.back());
      flushing_.pop_back();
      ++flushes_under_way_;
      lock.unlock();
      folder->flush();
      lock.lock();
      --flushes_under_way_;
      slot_done_.notify_all();
      continue;
    }
    if (started_ == slots_.size()) {
      return;  // closing, with nothing left
    }
    Slot& slot = *slots_[started_++];
    if (interruptions_.requested()) {
      slot.state = Slot::State::kSkipped;
      slot_done_.notify_all();
      continue;
    }
    slot.state = Slot::State::kRunning;
    bytes_in_hand_ += slot.file.size;
    lock.unlock();
    rewrite_config_file(reference_, *slot.file.folder, slot.file.name, mode_, slot.result);
    if (mode_ == MendingMode::kWrite) {
      // Nothing of it is shown: its memory goes back at once.
      slot.result.original.clear();
      slot.result.new_text.clear();
    }
    lock.lock();
    if (mode_ == MendingMode::kWrite) {
      bytes_in_hand_ -= slot.file.size;
    }
    slot.state = Slot::State::kDone;
    slot_done_.notify_all();
    work_ready_.notify_all();
  }
}

// Reports the files done at the front, in order, without holding the others up meanwhile. A
// file that an interruption kept from starting ends the report: none after it started.
void MendingPool::report_done(std::unique_lock<std::mutex>& lock) {
  while (!slots_.empty() && (slots_.front()->state == Slot::State::kDone ||
                             slots_.front()->state == Slot::State::kSkipped)) {
    std::unique_ptr<Slot> slot = std::move(slots_.front());
    slots_.pop_front();
    --started_;
    if (slot->state == Slot::State::kSkipped) {
      continue;
    }
    lock.unlock();
    const RewrittenFile& result = slot->result;
    FoundFile found{slot->file.path, result.outcome, {}, {}};
    if (mode_ == MendingMode::kDryRun) {
      found.old_bytes = result.original.view();
      found.new_bytes = std::string_view(
          result.new_text.text() == nullptr ? "" : result.new_text.text(), result.new_text.size());
    }
    report_.file_done(found);
    if (result.replaced && (to_flush_.empty() || to_flush_.back() != slot->file.folder)) {
      to_flush_.push_back(slot->file.folder);
    }
    if (to_flush_.size() >= kFoldersToFlush) {
      hand_over_folders_to_flush();
    }
    const std::uint64_t size = slot->file.size;
    slot.reset();
    lock.lock();
    if (mode_ == MendingMode::kDryRun) {
      bytes_in_hand_ -= size;
      work_ready_.notify_all();
    }
  }
}

// Each folder once: its files are reported one after another, save where a subfolder's
// come between.
void MendingPool::hand_over_folders_to_flush() {
  std::sort(to_flush_.begin(), to_flush_.end());
  to_flush_.erase(std::unique(to_flush_.begin(), to_flush_.end()), to_flush_.end());
  {
    const std::lock_guard lock(mutex_);
    flushing_.insert(flushing_.end(), to_flush_.begin(), to_flush_.end());
    start_thread_if_needed();
  }
  to_flush_.clear();
  work_ready_.notify_all();
}
