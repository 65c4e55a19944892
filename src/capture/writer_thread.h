// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Hands the pieces the read loop reads to a sink on a thread of its own, so that writing (or
// encoding) and reading go on at once, and the track's sums, worked out by the reading thread
// while a piece is still in its cache, cost the rip next to nothing: the reading side is the
// lighter one. Up to kPiecesInFlight pieces wait or are being written at a time, so that a
// slow write or read now and then does not hold the other side up.
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

  // Hands a piece over, first waiting until fewer than kPiecesInFlight are in hand; the
  // bytes must stay as they are until that many more were handed over, or until End.
  void Begin(const uint8_t* data, size_t size);
  // Waits until every piece handed over is written.
  void End();
  // False once a piece could not be written (the sink is offered none after it).
  bool ok() const { return !failed_.load(std::memory_order_acquire); }

 private:
  struct Piece {
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  void Run();
  void Wake();
  void WaitUntilDone(uint64_t count);

  PcmSink& sink_;
  Piece pieces_[kPiecesInFlight];  // piece n in slot n % kPiecesInFlight
  uint64_t posted_ = 0;            // the reading thread's count of pieces handed over
  std::atomic<uint64_t> post_{0};  // posted_, published after the piece's slot is filled
  std::atomic<uint64_t> done_{0};  // pieces written (or passed over after a failure)
  std::atomic<bool> failed_{false};
  std::atomic<bool> quit_{false};
  // The thread sleeps only when no piece came for a while (a drive, not an image); only then
  // does handing a piece over cost a wake-up.
  std::atomic<bool> sleeping_{false};
  // The reading thread sleeps only when a piece took long to write.
  std::atomic<bool> waiting_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable written_;
  std::thread thread_;  // last: it starts once the rest is there
};

// A sink that passes each piece to `next` on a WriterThread (or, when no thread can be had,
// at once on the caller's). Write reports a piece that could not be written some calls late;
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
