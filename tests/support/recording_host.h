// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A RipHost for tests: records every message the rip engine sends, in order, and can hold
// the worker in an error box the way a user who has not yet clicked OK does.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "capture/rip_host.h"
#include "config/settings.h"

class RecordingHost : public RipHost {
 public:
  struct Progress {
    int32_t index, status;  // the record's row, and its status when the message was posted
  };

  void PostProgress(TrackRecord& track) override;
  void PostFinished() override;
  void ShowErrorBox(const std::string& text) override;
  void TrackStarted(TrackRecord& track, const std::string& outputName) override;
  void StopRequested() override;

  void HoldErrorBoxes();  // from now on error boxes stay open until StopRequested
  // Until the worker sits in an error box, or the finished message came; false on timeout.
  bool WaitForErrorBox(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  bool WaitFinished(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  std::vector<int32_t> ProgressOf(int32_t index) const;  // statuses posted for one row
  std::vector<std::string> errors() const { return Locked(errors_); }
  std::vector<std::string> startedFiles() const { return Locked(started_); }
  // ripSettings.currentTrack at each start
  std::vector<int32_t> currentTracks() const { return Locked(currentTracks_); }
  int finishedCount() const { return Locked(finished_); }
  // ripFinished was 1 as each finished message was posted
  bool finishedAfterFlag() const { return Locked(finishedAfterFlag_); }

 private:
  template <class T>
  T Locked(const T& member) const {
    std::lock_guard lock(mutex_);
    return member;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Progress> progress_;
  std::vector<std::string> errors_;
  std::vector<std::string> started_;
  std::vector<int32_t> currentTracks_;
  int finished_ = 0;
  bool finishedAfterFlag_ = true;
  bool hold_ = false;
  bool inErrorBox_ = false;
  bool stopRequested_ = false;
};

// Points ripSettings at drive 0 with defaults, every track ticked and `outputFolder` as the
// settings file's Path (which the rip path reads).
void PrepareRipSettings(const std::string& outputFolder, int32_t format);
