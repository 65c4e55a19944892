#include "capture/checksums.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

TrackChecksums::TrackChecksums(uint64_t samples, bool firstAudioTrack, bool lastAudioTrack)
    : crc_(static_cast<uint32_t>(crc32(0L, Z_NULL, 0))),
      firstCounted_(firstAudioTrack ? kAccurateRipEdgeSamples : 1),
      lastCounted_(static_cast<int64_t>(samples) - (lastAudioTrack ? kAccurateRipEdgeSamples : 0)) {
}

void TrackChecksums::Add(const uint8_t* data, size_t size) {
  // zlib takes at most 4 GiB a call; a block is far smaller, but the type says so.
  for (size_t done = 0; done < size;) {
    const auto piece = static_cast<uInt>(std::min<size_t>(size - done, 1u << 30));
    crc_ = static_cast<uint32_t>(crc32(crc_, data + done, piece));
    done += piece;
  }
  if (partialBytes_ > 0) {
    const size_t take = std::min(size, 4 - partialBytes_);
    std::memcpy(partial_ + partialBytes_, data, take);
    partialBytes_ += take;
    data += take;
    size -= take;
    if (partialBytes_ < 4) return;
    AddSamples(partial_, 1);
    partialBytes_ = 0;
  }
  AddSamples(data, size / 4);
  partialBytes_ = size % 4;
  std::memcpy(partial_, data + size - partialBytes_, partialBytes_);
}

void TrackChecksums::AddSamples(const uint8_t* data, size_t count) {
  // Only the counted stretch of these samples is summed; the loop then has no branch.
  const auto from = static_cast<int64_t>(next_);
  const int64_t begin = std::max<int64_t>(from, firstCounted_);
  const int64_t end = std::min<int64_t>(from + static_cast<int64_t>(count) - 1, lastCounted_);
  uint32_t v1 = v1_, v2 = v2_;
  for (int64_t position = begin; position <= end; ++position) {
    const uint8_t* at = data + 4 * (position - from);
    // Left in the low half, right in the high half: the sample's bytes read little-endian.
    const uint32_t sample =
        uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
    const uint64_t product = static_cast<uint64_t>(position) * sample;
    v1 += static_cast<uint32_t>(product);
    v2 += static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
  }
  v1_ = v1;
  v2_ = v2;
  next_ += count;
}

TrackChecksumValues TrackChecksums::Values() const {
  return {crc_, v1_, v2_, false};
}
