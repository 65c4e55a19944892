// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/checksums.h"

#include <endian.h>
#include <isa-l/crc.h>

#include <algorithm>
#include <cstring>

TrackChecksums::TrackChecksums(uint64_t samples, bool firstAudioTrack, bool lastAudioTrack)
    : crc_(0),
      firstCounted_(firstAudioTrack ? kAccurateRipEdgeSamples : 1),
      lastCounted_(static_cast<int64_t>(samples) - (lastAudioTrack ? kAccurateRipEdgeSamples : 0)) {
}

void TrackChecksums::Add(const uint8_t* data, size_t size) {
  // ISA-L's CRC-32 is zlib's, several times faster where the processor can carry-less
  // multiply.
  crc_ = crc32_gzip_refl(crc_, data, size);
  samples_.Add(data, size,
               [this](const uint8_t* samples, size_t count) { AddSamples(samples, count); });
}

void TrackChecksums::AddSamples(const uint8_t* data, size_t count) {
  // Only the counted stretch of these samples is summed; the loop then has no branch, and
  // the compiler can take several samples a step. v2 is v1 plus the products' high halves.
  const auto from = static_cast<int64_t>(next_);
  const int64_t begin = std::max<int64_t>(from, firstCounted_);
  const int64_t end = std::min<int64_t>(from + static_cast<int64_t>(count) - 1, lastCounted_);
  uint32_t low = 0, high = 0;
  for (int64_t position = begin; position <= end; ++position) {
    // Left in the low half, right in the high half: the sample's bytes read little-endian.
    uint32_t sample;
    std::memcpy(&sample, data + 4 * (position - from), 4);
    sample = le32toh(sample);
    const uint64_t product = static_cast<uint64_t>(static_cast<uint32_t>(position)) * sample;
    low += static_cast<uint32_t>(product);
    high += static_cast<uint32_t>(product >> 32);
  }
  v1_ += low;
  v2_ += low + high;
  next_ += count;
}

TrackChecksumValues TrackChecksums::Values() const {
  return {crc_, v1_, v2_, false};
}
