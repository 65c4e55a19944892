#pragma once
// The terminal's RipHost: the worker's messages are queued and handled on the main thread,
// error boxes go to standard error at once and the job goes on.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "rip/rip_host.h"

class CliHost : public RipHost {
 public:
  enum class EventKind { kProgress, kFinished, kInterrupt };
  struct Event {
    EventKind kind;
    TrackRecord* track = nullptr;
  };

  explicit CliHost(FILE* errors) : errors_(errors) {}

  void PostProgress(TrackRecord& track) override;
  void PostFinished() override;
  void ShowErrorBox(const std::string& text) override;
  void TrackStarted(TrackRecord& track, const std::string& outputName) override;

  // Queues an interrupt (Ctrl+C) for the main thread; safe from any thread but not from a
  // signal handler.
  void PostInterrupt();
  // Blocks until an event is queued and takes it.
  Event WaitEvent();
  // The file each started track is written to (empty for tracks never started).
  std::string OutputNameOf(const TrackRecord& track) const;

 private:
  void Push(Event event);

  FILE* errors_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Event> events_;
  std::map<const TrackRecord*, std::string> outputNames_;
};
