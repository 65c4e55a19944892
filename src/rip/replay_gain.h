// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// ReplayGain 2.0 over a job's tracks ([ReplayGain] Enabled, obrin-rip --replaygain): a
// loudness meter for each track the job begins, which the read loop feeds as the track's
// file gets its audio; after the last encode, each completed file's track tags and, when
// the job ripped every audio track of the disc to completion, the album's in all of them.
#include <memory>
#include <utility>
#include <vector>

#include "capture/loudness.h"
#include "capture/rip_host.h"
#include "config/disc_model.h"
#include "rip/rip_log.h"

class ReplayGainJob {
 public:
  // Measures when ripSettings asks for ReplayGain and the job writes files.
  ReplayGainJob();
  ~ReplayGainJob();
  ReplayGainJob(const ReplayGainJob&) = delete;
  ReplayGainJob& operator=(const ReplayGainJob&) = delete;

  // Before the track's audio is read. Worker thread.
  void Begin(const TrackRecord& track);
  // After every encode: tags the files of `logged` and gives each measured track its log
  // texts; ripSettings.replayGainOutcome says what became of the album. A file whose tags
  // cannot be written ends "ERROR". Worker thread.
  void Finish(RipHost& host, std::vector<LoggedTrack>& logged);

 private:
  bool enabled_ = false;
  bool truePeak_ = false;
  std::vector<std::pair<const TrackRecord*, std::unique_ptr<LoudnessMeter>>> meters_;
};
