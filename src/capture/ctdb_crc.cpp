// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/ctdb_crc.h"

#include <zlib.h>

#include <algorithm>

CtdbSpan CtdbCountedSpan(uint64_t discSamples) {
  const auto edge = static_cast<uint64_t>(kCtdbEdgeSamples);
  const uint64_t blocks = discSamples / edge;
  const uint64_t begin = std::min(edge, discSamples);
  return {begin, begin + (blocks >= 2 ? (blocks - 2) * edge : 0)};
}

SlidingCtdbCrc::SlidingCtdbCrc(uint64_t discSamples, uint64_t trackFirst, uint64_t trackSamples,
                               int32_t limit)
    : limit_(std::max(limit, 0)),
      head_(static_cast<size_t>(2 * limit_ + 1)),
      tail_(static_cast<size_t>(2 * limit_ + 1)) {
  // The track's share of the disc's counted span, from its first sample. At shift -limit the
  // window's sample k is the track's sample k, so these are the window's too.
  const CtdbSpan span = CtdbCountedSpan(discSamples);
  const auto inTrack = [&](uint64_t disc) {
    return std::clamp(disc, trackFirst, trackFirst + trackSamples) - trackFirst;
  };
  headFirst_ = static_cast<int64_t>(inTrack(span.begin));
  tailFirst_ = static_cast<int64_t>(inTrack(span.end));
  counted_ = static_cast<uint64_t>(tailFirst_ - headFirst_);
  Keep();
}

bool SlidingCtdbCrc::Stepping() const {
  return (at_ >= headFirst_ && at_ < headFirst_ + 2 * limit_) ||
         (at_ >= tailFirst_ && at_ < tailFirst_ + 2 * limit_);
}

void SlidingCtdbCrc::Keep() {
  if (at_ >= headFirst_ && at_ <= headFirst_ + 2 * limit_) head_[at_ - headFirst_] = crc_;
  if (at_ >= tailFirst_ && at_ <= tailFirst_ + 2 * limit_) tail_[at_ - tailFirst_] = crc_;
}

void SlidingCtdbCrc::AddSamples(const uint8_t* data, size_t count) {
  const int64_t end = at_ + static_cast<int64_t>(count);
  while (at_ < end) {
    // Sample by sample where the CRC is kept, else in one piece up to where that starts.
    int64_t stop = end;
    if (Stepping()) {
      stop = at_ + 1;
    } else {
      for (int64_t first : {headFirst_, tailFirst_}) {
        if (first > at_) stop = std::min(stop, first);
      }
    }
    const auto bytes = static_cast<size_t>(4 * (stop - at_));
    crc_ = CopyCrc32(crc_, data, bytes);
    data += bytes;
    at_ = stop;
    Keep();
  }
}

void SlidingCtdbCrc::Add(const uint8_t* data, size_t size) {
  samples_.Add(data, size,
               [this](const uint8_t* samples, size_t count) { AddSamples(samples, count); });
}

CtdbCrcs SlidingCtdbCrc::Crcs() const {
  CtdbCrcs crcs;
  crcs.limit = static_cast<int32_t>(limit_);
  crcs.samples = counted_;
  // CRC(end) = CRC(start) carried over the range, plus the range's CRC; plus is minus here.
  const uLong op = crc32_combine_gen(static_cast<z_off_t>(4 * counted_));
  crcs.byShift.resize(head_.size());
  for (size_t o = 0; o < head_.size(); ++o) {
    crcs.byShift[o] = static_cast<uint32_t>(crc32_combine_op(head_[o], tail_[o], op));
  }
  return crcs;
}

CtdbCrcs CombineCtdbCrcs(const std::vector<CtdbCrcs>& tracks) {
  CtdbCrcs disc;
  disc.limit = tracks.empty() ? 0 : tracks.front().limit;
  for (const CtdbCrcs& track : tracks) disc.limit = std::min(disc.limit, track.limit);
  disc.byShift.assign(2 * static_cast<size_t>(std::max(disc.limit, 0)) + 1, 0);
  for (const CtdbCrcs& track : tracks) {
    const uLong op = crc32_combine_gen(static_cast<z_off_t>(4 * track.samples));
    for (int32_t shift = -disc.limit; shift <= disc.limit; ++shift) {
      const std::optional<uint32_t> crc = track.At(shift);
      if (!crc) return {disc.limit, {}, 0};  // a track without its CRCs: the disc has none
      uint32_t& into = disc.byShift[static_cast<size_t>(shift + disc.limit)];
      into = static_cast<uint32_t>(crc32_combine_op(into, *crc, op));
    }
    disc.samples += track.samples;
  }
  return disc;
}
