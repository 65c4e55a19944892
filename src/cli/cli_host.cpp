// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "cli/cli_host.h"

#include <unistd.h>

void CliHost::Push(Event event) {
  // Notified under the lock: once the main thread has taken the last event, no poster still
  // touches the condition variable, and the host may go.
  std::lock_guard lock(mutex_);
  events_.push_back(event);
  wake_.notify_one();
}

void CliHost::PostProgress(TrackRecord& track) {
  Push({EventKind::kProgress, &track});
}
void CliHost::PostFinished() {
  Push({EventKind::kFinished, nullptr});
}
bool CliHost::RequestStop(int exitStatus) {
  if (stopRequested_.exchange(true)) return false;
  Push({EventKind::kInterrupt, nullptr, exitStatus});
  return true;
}

void CliHost::ShowErrorBox(const std::string& text) {
  bool readerGone = false;
  {
    std::lock_guard lock(mutex_);
    // On a terminal the message replaces the live progress bar's line instead of joining it.
    if (isatty(fileno(errors_)) == 1) std::fputs("\r\033[K", errors_);
    std::fprintf(errors_, "Obrin error: %s\n", text.c_str());
    readerGone = std::fflush(errors_) != 0 || std::ferror(errors_);
    ++errorsShown_;
  }
  if (readerGone) RequestStop(kExitReaderGone);
}

void CliHost::TrackStarted(TrackRecord& track, const std::string& outputName) {
  std::lock_guard lock(mutex_);
  outputNames_[&track] = outputName;
}

CliHost::Event CliHost::WaitEvent() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return !events_.empty(); });
  Event event = events_.front();
  events_.pop_front();
  return event;
}

std::string CliHost::OutputNameOf(const TrackRecord& track) const {
  std::lock_guard lock(mutex_);
  auto it = outputNames_.find(&track);
  return it == outputNames_.end() ? std::string() : it->second;
}
