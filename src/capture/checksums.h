// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The checksums of a track's audio, worked out while its sectors are read: the copy CRC
// (zlib's CRC-32, computed by ISA-L, of the PCM bytes exactly as a WAV of the track holds
// them) and the
// AccurateRip v1 and v2 sums that the AccurateRip database keeps for each pressing.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/disc_model.h"

// Samples (stereo frames) the AccurateRip sums leave out at the disc's edges: the first 2939
// of the first audio track and the last 2940 of the last one, where drives disagree.
inline constexpr int64_t kAccurateRipEdgeSamples = 5 * 588;

// Cuts a stream of PCM bytes, in pieces of any size, into whole stereo samples (4 bytes each),
// carrying a sample split between two pieces over to the next.
class SampleAssembler {
 public:
  // Calls take(samples, count) for the whole samples of the piece, in order.
  template <typename Take>
  void Add(const uint8_t* data, size_t size, Take&& take) {
    if (partialBytes_ > 0) {
      const size_t fill = size < 4 - partialBytes_ ? size : 4 - partialBytes_;
      std::memcpy(partial_ + partialBytes_, data, fill);
      partialBytes_ += fill;
      data += fill;
      size -= fill;
      if (partialBytes_ < 4) return;
      take(static_cast<const uint8_t*>(partial_), size_t{1});
      partialBytes_ = 0;
    }
    if (size >= 4) take(data, size / 4);
    partialBytes_ = size % 4;
    std::memcpy(partial_, data + size - partialBytes_, partialBytes_);
  }

 private:
  uint8_t partial_[4] = {};
  size_t partialBytes_ = 0;
};

// A sample's unsigned 32-bit word: its bytes read little-endian (left low, right high).
inline uint32_t SampleWord(const uint8_t* b) {
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

// The AccurateRip products of `count` samples whose first has the multiplier `position` (the
// next ones position + 1, ...; past 2^32 they wrap, as the database's sums do): the low
// halves of the 64-bit products summed mod 2^32 (v1's terms), the high halves (v2 adds
// them), and the samples themselves (by which v1 changes when every multiplier moves by one).
// Eight samples a step where the processor has AVX2.
struct ProductSums {
  uint32_t low = 0, high = 0, plain = 0;
};
ProductSums SumAccurateRipProducts(const uint8_t* data, size_t count, uint32_t position);

// zlib's crc32(crc, data, size): the copy CRC of more bytes. With 256-bit carry-less
// products where the processor has them.
uint32_t CopyCrc32(uint32_t crc, const uint8_t* data, size_t size);
// Whether CopyCrc32 takes the wide path on this processor (it must wherever it can: it
// checks itself against ISA-L at start and stands back when they differ).
bool CopyCrc32IsWide();

class TrackChecksums {
 public:
  // `samples`: the track's length in stereo frames. Its position among the disc's audio
  // tracks decides what the AccurateRip sums skip.
  TrackChecksums(uint64_t samples, bool firstAudioTrack, bool lastAudioTrack);

  // The next bytes of the track, in any pieces (a piece may end inside a sample).
  void Add(const uint8_t* data, size_t size);

  // The sums over everything added so far; `complete` is left false (the caller knows
  // whether the whole track arrived).
  TrackChecksumValues Values() const;

  // The CRC of the samples [from, to) of the track alone, as the copy CRC's pass goes by
  // (no pass of its own): set before the first Add, read once the whole track was added.
  void MarkCrcRange(uint64_t from, uint64_t to);
  uint32_t MarkedCrc() const;

 private:
  uint32_t crc_;
  uint64_t bytes_ = 0;                    // added so far
  uint64_t markFrom_ = 0, markTo_ = 0;    // in bytes; equal: no range asked for
  uint32_t crcAtFrom_ = 0, crcAtTo_ = 0;  // the running copy CRC there
  uint32_t v1_ = 0;
  uint32_t v2_ = 0;
  uint64_t next_ = 1;  // the multiplier of the next whole sample: its position from 1
  int64_t firstCounted_;
  int64_t lastCounted_;
  SampleAssembler samples_;

  void AddSamples(const uint8_t* data, size_t count);
};
