// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The CRCs the CUETools database keeps of a disc: zlib's CRC-32 of the PCM bytes exactly as a
// WAV holds them, over each audio track and over the whole disc, all but the disc's edges.
// A track's CRC is worked out at every shift of its audio within kCtdbShiftLimit samples
// from one pass over it, so that a rip by a drive whose read offset is off still finds its
// pressing; the disc's comes from its tracks' without a pass of its own.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/checksums.h"
#include "disc/ctdb.h"

// Samples left out at the start of the disc's audio (10 sectors); at its end as many, plus
// what makes the rest a whole number of 10 sectors.
inline constexpr int64_t kCtdbEdgeSamples = 10 * 588;
// The shifts searched, either way: less than the edges, so that a shifted CRC never reaches
// past the disc's audio.
inline constexpr int32_t kCtdbShiftLimit = 5 * 588 - 1;

// The counted samples [begin, end), from the first audio track's INDEX 01, of a disc with
// `discSamples` samples of audio (to the end of its last audio track: on an enhanced CD the
// session gap before the data track).
struct CtdbSpan {
  uint64_t begin = 0, end = 0;
};
CtdbSpan CtdbCountedSpan(uint64_t discSamples);

// A track's CRC at every shift from -limit to +limit. It keeps the running CRC of the window
// at each sample where a shifted counted range can start or end (2 * limit + 1 of each) and
// no audio: the CRC of a range is then the one at its end less the one at its start carried
// over the range's length, and that length, hence zlib's combine operator, is one for all
// shifts. The cost is one CRC pass over the window plus O(limit).
class SlidingCtdbCrc {
 public:
  // The track's `trackSamples` begin `trackFirst` samples after the first audio track's
  // INDEX 01, on a disc of `discSamples`. limit 0: shift 0 alone, the window the track's own
  // samples (for a track read without its neighbours' edges).
  SlidingCtdbCrc(uint64_t discSamples, uint64_t trackFirst, uint64_t trackSamples,
                 int32_t limit = kCtdbShiftLimit);
  // The window's next bytes, in any pieces: trackSamples + 2 * limit samples in all, the
  // track with `limit` samples of the disc before and after it (past the disc's audio,
  // anything: no counted range reaches there).
  void Add(const uint8_t* data, size_t size);
  // Valid once the whole window was added.
  CtdbCrcs Crcs() const;

 private:
  void AddSamples(const uint8_t* data, size_t count);
  bool Stepping() const;  // whether the running CRC is kept after the next sample
  void Keep();

  int64_t limit_;
  uint64_t counted_;               // the samples a CRC covers
  int64_t headFirst_, tailFirst_;  // window samples where the ranges start and end at -limit
  int64_t at_ = 0;                 // window samples seen
  uint32_t crc_ = 0;               // of those samples
  std::vector<uint32_t> head_, tail_;
  SampleAssembler samples_;
};

// The whole disc's CRCs from its audio tracks' (Crcs() of each, first to last), at every
// shift that all of them have.
CtdbCrcs CombineCtdbCrcs(const std::vector<CtdbCrcs>& tracks);
