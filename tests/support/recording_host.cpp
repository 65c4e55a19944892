// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "support/recording_host.h"

#include <gtest/gtest.h>

#include "disc/track_list.h"
#include "platform/profile.h"
#include "rip/rip_status.h"

void RecordingHost::PostProgress(TrackRecord& track) {
  std::lock_guard lock(mutex_);
  progress_.push_back({track.index, track.status});
}

void RecordingHost::PostFinished() {
  std::lock_guard lock(mutex_);
  if (ripFinished != 1) finishedAfterFlag_ = false;
  ++finished_;
  changed_.notify_all();
}

void RecordingHost::ShowErrorBox(const std::string& text) {
  std::unique_lock lock(mutex_);
  errors_.push_back(text);
  inErrorBox_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !hold_ || stopRequested_; });
  inErrorBox_ = false;
}

void RecordingHost::TrackStarted(TrackRecord&, const std::string& outputName) {
  std::lock_guard lock(mutex_);
  started_.push_back(outputName);
  currentTracks_.push_back(ripSettings.currentTrack);
}

void RecordingHost::StopRequested() {
  std::lock_guard lock(mutex_);
  stopRequested_ = true;
  changed_.notify_all();
}

void RecordingHost::HoldErrorBoxes() {
  std::lock_guard lock(mutex_);
  hold_ = true;
}

bool RecordingHost::WaitForErrorBox(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return inErrorBox_; });
}

bool RecordingHost::WaitFinished(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return finished_ > 0; });
}

std::vector<int32_t> RecordingHost::ProgressOf(int32_t index) const {
  std::lock_guard lock(mutex_);
  std::vector<int32_t> statuses;
  for (const auto& p : progress_) {
    if (p.index == index) statuses.push_back(p.status);
  }
  return statuses;
}

void PrepareRipSettings(const std::string& outputFolder, int32_t format) {
  RipSettings& s = ripSettings;
  s.tracks.clear();
  s.drives.clear();
  LoadDefaultSettings(s);
  s.outputFolderOverride.clear();
  static_cast<DiscInfo&>(s) = {"", "", "", 12};
  s.id3Enabled = 0;
  s.ripping = 0;
  ripFinished = 1;
  s.outputPath = outputFolder;
  ASSERT_TRUE(WriteProfileString("Output", "Path", outputFolder, SettingsFilePath()));
  s.outputFormat = format;
  ASSERT_GE(EnumerateCdDrives(s), 1);
  s.driveIndex = 0;
  ASSERT_EQ(BuildTrackList(s, 0), 0);
  for (TrackRecord& t : s.tracks) t.checked = 1;
}
