#include "disk/read_ahead.h"

ReadAhead::ReadAhead(std::size_t threads)
    : threads_(threads), slots_(threads * 2), listing_(threads, OrderedJobs::Priority::kLowest) {}

ReadAhead::~ReadAhead() {
  finish();
}

std::size_t ReadAhead::descriptors(std::size_t threads) {
  return threads * (kLevels + 2);
}

bool ReadAhead::offer(const std::shared_ptr<const Folder>& folder, std::string_view name) {
  if (threads_ == 0) {
    return false;
  }
  if (listing_.in_hand() == 0) {
    stopping_ = false;
    for (std::size_t i = 0; i < threads_; ++i) {
      std::function<void()> list = [this] { list_offered(); };
      if (!listing_.try_push(list)) {
        break;
      }
    }
    if (listing_.in_hand() == 0) {
      return false;
    }
  }
  {
    std::lock_guard lock(mutex_);
    Slot* free = nullptr;
    for (Slot& slot : slots_) {
      if (slot.state == SlotState::kFree) {
        free = &slot;
        break;
      }
    }
    if (free == nullptr) {
      return false;
    }
    // The folder let go here, on the walking thread: the threads allocate and free nothing,
    // so that they need no memory of their own.
    free->folder = folder;
    free->name.assign(name);
    free->offered = ++offers_;
    free->state = SlotState::kWaiting;
  }
  offered_.notify_one();
  return true;
}

void ReadAhead::finish() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  offered_.notify_all();
  while (listing_.in_hand() > 0) {
    listing_.wait_for_oldest();
    listing_.take_oldest();
  }
  for (Slot& slot : slots_) {
    slot = Slot();
  }
}

ReadAhead::Slot* ReadAhead::oldest_waiting() {
  Slot* oldest = nullptr;
  for (Slot& slot : slots_) {
    if (slot.state == SlotState::kWaiting &&
        (oldest == nullptr || slot.offered < oldest->offered)) {
      oldest = &slot;
    }
  }
  return oldest;
}

// A slot listed is only marked free: its folder is let go when the walk offers the next.
void ReadAhead::list_offered() {
  std::unique_lock lock(mutex_);
  for (;;) {
    Slot* slot = nullptr;
    offered_.wait(lock, [&] { return stopping_ || (slot = oldest_waiting()) != nullptr; });
    if (stopping_) {
      return;
    }
    slot->state = SlotState::kListing;
    lock.unlock();
    list_folders_below(*slot->folder, slot->name, kLevels, stopping_);
    lock.lock();
    slot->state = SlotState::kFree;
  }
}
