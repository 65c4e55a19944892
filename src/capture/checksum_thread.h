// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Works out a track's sums on a thread of its own while the reading thread does something
// else with the same bytes (writes or encodes them): with a second core free, the sums then
// cost a rip next to nothing. One piece at a time: Begin hands a piece over, End returns once
// it is summed; the bytes must stay as they are in between.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "capture/checksums.h"

class ChecksumThread {
 public:
  explicit ChecksumThread(TrackChecksums& sums);
  ~ChecksumThread();
  ChecksumThread(const ChecksumThread&) = delete;
  ChecksumThread& operator=(const ChecksumThread&) = delete;

  void Begin(const uint8_t* data, size_t size);
  void End();

 private:
  void Run();
  void Post(uint32_t value);

  TrackChecksums& sums_;
  const uint8_t* data_ = nullptr;  // the piece; written before post_, read after it
  size_t size_ = 0;
  uint32_t posted_ = 0;  // the reading thread's count of pieces handed over
  std::atomic<uint32_t> post_{0};
  std::atomic<uint32_t> done_{0};
  // The thread sleeps only when no piece came for a while (a drive, not an image); only then
  // does handing a piece over cost a wake-up.
  std::atomic<bool> sleeping_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;  // last: it starts once the rest is there
};
