// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "rip/replay_gain.h"

#include <algorithm>
#include <string>

#include "config/settings.h"
#include "encoders/gain_tags.h"

ReplayGainJob::ReplayGainJob()
    : enabled_(ripSettings.replayGain != 0 && !ripSettings.checkOnly),
      truePeak_(ripSettings.replayGainTruePeak != 0) {
  ripSettings.replayGainOutcome = {};
}

ReplayGainJob::~ReplayGainJob() {
  for (const auto& [track, meter] : meters_) SetLoudnessMeter(*track, nullptr);
}

void ReplayGainJob::Begin(const TrackRecord& track) {
  if (!enabled_) return;
  auto meter = std::make_unique<LoudnessMeter>(truePeak_);
  SetLoudnessMeter(track, meter.get());
  meters_.emplace_back(&track, std::move(meter));
}

void ReplayGainJob::Finish(RipHost& host, std::vector<LoggedTrack>& logged) {
  if (!enabled_) return;
  struct Measured {
    LoggedTrack* logged;
    const LoudnessMeter* meter;
    LoudnessValues values;
  };
  std::vector<Measured> done;
  for (LoggedTrack& entry : logged) {
    const auto found = std::find_if(meters_.begin(), meters_.end(),
                                    [&](const auto& m) { return m.first == entry.track; });
    if (found == meters_.end() || !found->second->ok() || entry.track->status != kStatusCompleted) {
      continue;
    }
    done.push_back({&entry, found->second.get(), found->second->Values()});
    entry.gain = ReplayGainText(done.back().values);
    entry.peak = PeakText(done.back().values);
  }
  // The album is the whole disc as this job read it: every audio track, each complete.
  std::string& note = ripSettings.replayGainOutcome.albumNote;
  for (const TrackRecord& track : ripSettings.tracks) {
    if (track.hidden || !note.empty()) continue;
    const auto entry = std::find_if(logged.begin(), logged.end(),
                                    [&](const LoggedTrack& t) { return t.track == &track; });
    const std::string number = std::to_string(track.index + 1);
    if (entry == logged.end()) {
      note = "track " + number + " was not ripped in this run";
    } else if (track.status != kStatusCompleted) {
      note = "track " + number + " did not complete";
    } else if (std::none_of(done.begin(), done.end(),
                            [&](const Measured& m) { return m.logged->track == &track; })) {
      note = "track " + number + " could not be measured";
    }
  }
  if (done.empty() && note.empty()) note = "no track was ripped";
  LoudnessValues album;
  if (note.empty()) {
    std::vector<const LoudnessMeter*> meters;
    for (const Measured& m : done) meters.push_back(m.meter);
    album = AlbumLoudness(meters);
    ripSettings.replayGainOutcome.albumGain = ReplayGainText(album);
    ripSettings.replayGainOutcome.albumPeak = PeakText(album);
  }
  for (const Measured& m : done) {
    const auto track = std::find_if(ripSettings.tracks.begin(), ripSettings.tracks.end(),
                                    [&](const TrackRecord& t) { return &t == m.logged->track; });
    if (track == ripSettings.tracks.end()) continue;
    if (!WriteGainTags(m.logged->outputName, track->format, m.values,
                       note.empty() ? &album : nullptr)) {
      host.ShowErrorBox("Cannot write output file");
      track->status = kStatusError;
      host.PostProgress(*track);
    }
  }
}
