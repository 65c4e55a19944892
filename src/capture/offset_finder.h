// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Finding a drive's read offset from one read of a disc the AccurateRip database knows: every
// correction from -3000 to +3000 samples is tried on the audio of up to three tracks, read
// once with 3000 samples to spare on each side, for the corrections at which the tracks'
// v1 sums are the database's; where an entry holds v2 sums, they confirm those corrections.
#include <cstdint>
#include <vector>

#include "capture/capture.h"
#include "capture/checksums.h"
#include "capture/rip_host.h"
#include "disc/accuraterip.h"

// The v1 sum of a track at every correction from -limit to +limit, from one pass over its
// audio with `limit` samples before and after it. It slides from one correction to the next
// by the samples that enter and leave the counted range, so the cost is one pass plus the
// corrections, not one pass per correction.
class SlidingV1 {
 public:
  // `room`: a buffer whose memory the window takes over (what TakeWindow gave for the track
  // before), so that one allocation serves every track.
  SlidingV1(uint64_t trackSamples, bool firstAudioTrack, bool lastAudioTrack, int32_t limit,
            std::vector<uint8_t> room = {});
  // The window's next bytes, in any pieces: (trackSamples + 2 * limit) samples in all.
  void Add(const uint8_t* data, size_t size);
  // Sums by correction, from -limit up; valid once the whole window was added.
  std::vector<uint32_t> Sums() const;
  // The v2 sum at one correction, worked out afresh from the window (kept for it): entries
  // that hold v2 sums confirm the corrections the v1 sums found.
  uint32_t V2At(int32_t correction) const;
  // The window's memory, for the next track; this one is done with.
  std::vector<uint8_t> TakeWindow() { return std::move(window_); }

 private:
  void AddSamples(const uint8_t* data, size_t count);

  int64_t limit_, first_, last_;  // the counted track samples, first_..last_, from 0
  int64_t at_ = 0;                // window samples seen
  uint32_t weighted_ = 0, plain_ = 0;
  std::vector<uint32_t> head_, tail_;  // the samples that leave and enter as it slides
  std::vector<uint8_t> window_;        // every sample's bytes, for V2At
  SampleAssembler samples_;
};

struct OffsetMatch {
  int32_t offset = 0;
  int tracksMatched = 0;
  int tracksProbed = 0;
  uint32_t confidence = 0;  // the least, over the matched tracks, of their best match
};

struct OffsetSearch {
  std::vector<OffsetMatch> matches;  // best first: most tracks, most confidence, least shift
  int tracksProbed = 0;
  bool readFailed = false;  // a block could not be read (its error shown) or a stop
};

// Reads up to three audio tracks of ripSettings.tracks that the database holds with
// confidence 1 or more, each once with kReadOffsetLimit samples to spare on either side, and
// returns every correction at which one of them matches. Each read posts its progress on
// the track it reads.
OffsetSearch FindReadOffsets(RipHost& host, const AccurateRipLookup& lookup);

// "Read offset +667: 3 of 3 tracks match (confidence 12)"
std::string OffsetMatchText(const OffsetMatch& match);
