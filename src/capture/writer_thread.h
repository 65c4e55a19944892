// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Hands each piece the read loop reads to a sink on a thread of its own, so that writing (or
// encoding) one piece and reading the next go on at once, and the track's sums, worked out by
// the reading thread while the piece is still in its cache, cost the rip next to nothing: the
// reading side is the lighter one. One piece at a time: Begin hands a piece over, End returns
// once the sink has taken it; the bytes must stay as they are in between.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "capture/pcm_sink.h"

class WriterThread {
 public:
  // Throws std::system_error when no thread can be had.
  explicit WriterThread(PcmSink& sink);
  ~WriterThread();
  WriterThread(const WriterThread&) = delete;
  WriterThread& operator=(const WriterThread&) = delete;

  void Begin(const uint8_t* data, size_t size);
  // False once any piece could not be written (and from then on).
  bool End();

 private:
  void Run();
  void Post(uint32_t value);

  PcmSink& sink_;
  const uint8_t* data_ = nullptr;  // the piece; written before post_, read after it
  size_t size_ = 0;
  bool failed_ = false;  // the writing thread's; read after done_
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

// A sink that passes each piece to `next` on a WriterThread (or, when no thread can be had,
// at once on the caller's). Write reports a piece that could not be written one call late;
// Drain reports the last.
class PipelinedSink : public PcmSink {
 public:
  explicit PipelinedSink(PcmSink& next);
  bool Write(const uint8_t* data, size_t size) override;
  bool Drain() override;

 private:
  PcmSink& next_;
  std::optional<WriterThread> writing_;
};
