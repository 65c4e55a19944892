// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/writer_thread.h"

#include <chrono>
#include <exception>

namespace {

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
  quit_.store(true);
  Wake();
  thread_.join();
}

void WriterThread::Begin(const uint8_t* data, size_t size) {
  if (posted_ >= kPiecesInFlight) WaitUntilDone(posted_ - kPiecesInFlight + 1);
  pieces_[posted_ % kPiecesInFlight] = {data, size};
  post_.store(++posted_);
  Wake();
}

void WriterThread::Wake() {
  // Sequentially consistent with the sleeper's flag and check: either it sees the new piece
  // (or quit) before it sleeps, or this sees that it sleeps and wakes it.
  if (sleeping_.load()) {
    std::lock_guard lock(mutex_);
    wake_.notify_one();
  }
}

void WriterThread::End() {
  WaitUntilDone(posted_);
}

void WriterThread::WaitUntilDone(uint64_t count) {
  // Writing a piece to the page cache takes tens of microseconds: the reading thread, which
  // needs a buffer back, waits by spinning, then by sleeping. An encoder slower than the
  // read (Opus) would otherwise have it yield in a loop, which on two cores takes one away
  // from the encoder in system calls.
  for (unsigned spins = 0; done_.load(std::memory_order_acquire) < count; ++spins) {
    if (spins < 1000) {
      Relax();
      continue;
    }
    std::unique_lock lock(mutex_);
    // Sequentially consistent with the writer's count and check, as Wake is with Run's.
    waiting_.store(true);
    written_.wait(lock, [&] { return done_.load() >= count; });
    waiting_.store(false);
    return;
  }
}

void WriterThread::Run() {
  // From an image the pieces come every few dozen microseconds: waiting that long by
  // spinning is cheaper than sleeping and being woken for each. A drive's pieces, far apart,
  // are slept for.
  constexpr auto kSpin = std::chrono::microseconds(200);
  uint64_t next = 0;  // the next piece to write
  for (;;) {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (unsigned spins = 0; post_.load(std::memory_order_acquire) == next; ++spins) {
      if (quit_.load()) return;
      if (spins % 64 == 63 && std::chrono::steady_clock::now() > until) {
        std::unique_lock lock(mutex_);
        sleeping_.store(true);
        wake_.wait(lock, [&] { return post_.load() != next || quit_.load(); });
        sleeping_.store(false);
      } else {
        Relax();
      }
    }
    const Piece piece = pieces_[next % kPiecesInFlight];
    // After a failure the sink has given up on the file: later pieces are not offered.
    if (!failed_.load(std::memory_order_relaxed) && !sink_.Write(piece.data, piece.size)) {
      failed_.store(true, std::memory_order_release);
    }
    done_.store(++next);
    if (waiting_.load()) {
      std::lock_guard lock(mutex_);
      written_.notify_one();
    }
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
  if (!writing_->ok()) return false;
  writing_->Begin(data, size);
  return true;
}

bool PipelinedSink::Drain() {
  if (!writing_) return true;
  writing_->End();
  return writing_->ok();
}
