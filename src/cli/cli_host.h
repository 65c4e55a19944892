// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The terminal's RipHost: the worker's messages are queued and handled on the main thread,
// error boxes go to standard error at once and the job goes on.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "capture/rip_host.h"

// The exit status once standard output or standard error cannot be written: what a shell
// reports for a writer that SIGPIPE ended (128 + 13), though the job was stopped cleanly.
constexpr int kExitReaderGone = 141;

class CliHost : public RipHost {
 public:
  enum class EventKind { kProgress, kFinished, kInterrupt };
  struct Event {
    EventKind kind;
    TrackRecord* track = nullptr;
    int exitStatus = 0;  // kInterrupt: the status the process ends with
  };

  explicit CliHost(FILE* errors) : errors_(errors) {}

  void PostProgress(TrackRecord& track) override;
  void PostFinished() override;
  void ShowErrorBox(const std::string& text) override;
  void TrackStarted(TrackRecord& track, const std::string& outputName) override;
  // The process ends with the job: nothing would ever overwrite the temporary file.
  bool KeepsStoppedCapture() const override { return false; }

  // Asks the main thread to stop the job (a signal, or a reader that has gone) and to end
  // with `exitStatus`. Only the first request of a run counts: false for every later one.
  // Safe from any thread but not from a signal handler.
  bool RequestStop(int exitStatus);
  // Blocks until an event is queued and takes it.
  Event WaitEvent();
  // Error lines printed so far.
  int ErrorsShown() const { return errorsShown_; }
  // The file each started track is written to (empty for tracks never started).
  std::string OutputNameOf(const TrackRecord& track) const;

 private:
  void Push(Event event);

  FILE* errors_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Event> events_;
  std::map<const TrackRecord*, std::string> outputNames_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> errorsShown_{0};
};
