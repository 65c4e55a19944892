// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/writer_thread.h"

#include <chrono>
#include <exception>

namespace {

constexpr uint32_t kQuit = UINT32_MAX;

inline void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

}  // namespace

WriterThread::WriterThread(PcmSink& sink) : sink_(sink), thread_([this] { Run(); }) {}

WriterThread::~WriterThread() {
  End();
  Post(kQuit);
  thread_.join();
}

void WriterThread::Begin(const uint8_t* data, size_t size) {
  data_ = data;
  size_ = size;
  if (++posted_ == kQuit) posted_ = 1;
  Post(posted_);
}

void WriterThread::Post(uint32_t value) {
  // Sequentially consistent with the sleeper's flag and check: either it sees the value
  // before it sleeps, or this sees that it sleeps and wakes it.
  post_.store(value);
  if (sleeping_.load()) {
    std::lock_guard lock(mutex_);
    wake_.notify_one();
  }
}

bool WriterThread::End() {
  // Writing a piece to the page cache takes tens of microseconds: the reading thread, which
  // needs the buffer back, waits by spinning, then by giving its core away.
  for (unsigned spins = 0; done_.load(std::memory_order_acquire) != posted_; ++spins) {
    if (spins < 1000) {
      Relax();
    } else {
      std::this_thread::yield();
    }
  }
  return !failed_;
}

void WriterThread::Run() {
  // From an image the pieces come every few dozen microseconds: waiting that long by
  // spinning is cheaper than sleeping and being woken for each. A drive's pieces, far apart,
  // are slept for.
  constexpr auto kSpin = std::chrono::microseconds(200);
  uint32_t seen = 0;
  for (;;) {
    uint32_t post = post_.load(std::memory_order_acquire);
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (unsigned spins = 0; post == seen; ++spins) {
      if (spins % 64 == 63 && std::chrono::steady_clock::now() > until) {
        std::unique_lock lock(mutex_);
        sleeping_.store(true);
        wake_.wait(lock, [&] { return post_.load() != seen; });
        sleeping_.store(false);
      } else {
        Relax();
      }
      post = post_.load(std::memory_order_acquire);
    }
    if (post == kQuit) return;
    // After a failure the sink has given up on the file: later pieces are not offered.
    if (!failed_ && !sink_.Write(data_, size_)) failed_ = true;
    seen = post;
    done_.store(post, std::memory_order_release);
  }
}

PipelinedSink::PipelinedSink(PcmSink& next) : next_(next) {
  try {
    writing_.emplace(next_);
  } catch (const std::exception&) {
    // No thread to be had (a small memory limit): the sink works on the caller's.
  }
}

bool PipelinedSink::Write(const uint8_t* data, size_t size) {
  if (!writing_) return next_.Write(data, size);
  // The piece before this one is taken by now, or soon: its buffer is the next read's.
  if (!writing_->End()) return false;
  writing_->Begin(data, size);
  return true;
}

bool PipelinedSink::Drain() {
  return writing_ ? writing_->End() : true;
}
