// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A track's loudness (EBU R128 through libebur128: integrated loudness and its peak) measured
// on the audio as it goes into the track's file, on a thread of its own beside the read and
// the encode, so that ReplayGain costs no second pass over anything. The rip job makes a
// meter per track and, after the last track, takes the album's loudness over all of them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/pcm_sink.h"
#include "config/disc_model.h"

struct LoudnessValues {
  bool silent = true;  // nothing above the measurement's absolute gate
  double lufs = 0;     // integrated loudness; meaningless when silent
  double peak = 0;     // linear, 1.0 full scale: the sample peak, or the true peak
};

// Takes 44.1 kHz 16-bit little-endian stereo PCM in pieces of any size.
class LoudnessMeter : public PcmSink {
 public:
  explicit LoudnessMeter(bool truePeak);
  ~LoudnessMeter() override;
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  bool Write(const uint8_t* data, size_t size) override;
  // Forgets what was measured: the track is being read into its file anew.
  void Reset();
  // False when libebur128 could not set up (no memory): nothing is measured.
  bool ok() const;
  LoudnessValues Values() const;

 private:
  friend LoudnessValues AlbumLoudness(const std::vector<const LoudnessMeter*>& tracks);
  struct State;  // libebur128's state, whose type its header alone can name
  std::unique_ptr<State> state_;
  bool truePeak_;
  uint8_t carry_[4] = {};  // the start of a sample frame a piece ended in
  size_t carried_ = 0;
  std::vector<int16_t> frames_;
};

// The loudness of the tracks as one programme (gated over all their blocks, never a mean of
// the tracks'), with the largest of their peaks.
LoudnessValues AlbumLoudness(const std::vector<const LoudnessMeter*>& tracks);

// While a job measures, the meter that the audio written for `track` goes through; null
// (the default) to stop measuring it. Any thread.
void SetLoudnessMeter(const TrackRecord& track, LoudnessMeter* meter);
LoudnessMeter* LoudnessMeterOf(const TrackRecord& track);

// Hands each piece to `next` and, when `meter` is given, to the meter: on a thread of its own
// with `ownThread` (which takes copies, so the pieces need not stay), else at once on the
// caller's. Drain returns once the meter has measured everything.
class MeteredSink : public PcmSink {
 public:
  MeteredSink(LoudnessMeter* meter, PcmSink& next, bool ownThread);
  ~MeteredSink() override;
  MeteredSink(const MeteredSink&) = delete;
  MeteredSink& operator=(const MeteredSink&) = delete;
  bool Write(const uint8_t* data, size_t size) override;
  bool Drain() override;

 private:
  class Thread;
  LoudnessMeter* meter_;
  PcmSink& next_;
  std::unique_ptr<Thread> thread_;
};
