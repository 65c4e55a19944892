// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "capture/offset_finder.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "capture/checksums.h"
#include "capture/writer_thread.h"
#include "config/settings.h"
#include "disc/cdaccess.h"

SlidingV1::SlidingV1(uint64_t trackSamples, bool firstAudioTrack, bool lastAudioTrack,
                     int32_t limit, std::vector<uint8_t> room)
    : limit_(limit),
      first_(firstAudioTrack ? kAccurateRipEdgeSamples - 1 : 0),
      last_(static_cast<int64_t>(trackSamples) - 1 -
            (lastAudioTrack ? kAccurateRipEdgeSamples : 0)),
      window_(std::move(room)) {
  window_.clear();
  window_.reserve(4 * (static_cast<size_t>(trackSamples) + 2 * static_cast<size_t>(limit)));
}

void SlidingV1::AddSamples(const uint8_t* data, size_t count) {
  // Window sample k is track sample k - limit at correction 0; at the lowest correction,
  // -limit, it is track sample k: that one is summed in full, the others slide from it.
  const int64_t from = at_;
  at_ += static_cast<int64_t>(count);
  window_.insert(window_.end(), data, data + 4 * count);  // reserved: no reallocation
  if (last_ < first_) return;
  // The pieces of [from, at_) that are counted, and that leave or enter as it slides.
  const auto piece = [&](int64_t begin, int64_t end, auto&& use) {  // [begin, end]
    begin = std::max(begin, from);
    end = std::min(end, at_ - 1);
    if (begin <= end) use(data + 4 * (begin - from), static_cast<size_t>(end - begin + 1), begin);
  };
  piece(first_, last_, [&](const uint8_t* samples, size_t n, int64_t begin) {
    const ProductSums sums = SumAccurateRipProducts(samples, n, static_cast<uint32_t>(begin + 1));
    weighted_ += sums.low;
    plain_ += sums.plain;
  });
  const auto copy = [](std::vector<uint32_t>& to) {
    return [&to](const uint8_t* samples, size_t n, int64_t) {
      for (size_t i = 0; i < n; ++i) to.push_back(SampleWord(samples + 4 * i));
    };
  };
  piece(first_, first_ + 2 * limit_ - 1, copy(head_));
  piece(last_ + 1, last_ + 2 * limit_, copy(tail_));
}

void SlidingV1::Add(const uint8_t* data, size_t size) {
  samples_.Add(data, size,
               [this](const uint8_t* samples, size_t count) { AddSamples(samples, count); });
}

std::vector<uint32_t> SlidingV1::Sums() const {
  std::vector<uint32_t> sums(static_cast<size_t>(2 * limit_ + 1), 0);
  if (last_ < first_) return sums;  // a track shorter than its skipped edges sums 0
  uint32_t weighted = weighted_, plain = plain_;
  const auto a = static_cast<uint32_t>(first_), after = static_cast<uint32_t>(last_ + 1);
  for (size_t o = 0; o < sums.size(); ++o) {
    sums[o] = weighted;
    if (o + 1 == sums.size()) break;
    // One step on: every counted sample's weight drops by one, the first leaves, the next
    // enters with the highest weight.
    const uint32_t leaving = o < head_.size() ? head_[o] : 0;
    const uint32_t entering = o < tail_.size() ? tail_[o] : 0;
    weighted = weighted - plain - a * leaving + after * entering;
    plain = plain - leaving + entering;
  }
  return sums;
}

uint32_t SlidingV1::V2At(int32_t correction) const {
  if (last_ < first_ || correction < -limit_ || correction > limit_) return 0;
  // Track sample i at this correction is window sample i + limit + correction; samples the
  // window lacks count as zeros, which add nothing.
  const auto begin = static_cast<size_t>(first_ + limit_ + correction);
  const size_t end =
      std::min(static_cast<size_t>(last_ + limit_ + correction) + 1, window_.size() / 4);
  if (begin >= end) return 0;
  const ProductSums sums = SumAccurateRipProducts(window_.data() + 4 * begin, end - begin,
                                                  static_cast<uint32_t>(first_ + 1));
  return sums.low + sums.high;
}

namespace {

class SlidingSink : public PcmSink {
 public:
  explicit SlidingSink(SlidingV1& sums) : sums_(sums) {}
  bool Write(const uint8_t* data, size_t size) override {
    sums_.Add(data, size);
    return true;
  }

 private:
  SlidingV1& sums_;
};

}  // namespace

OffsetSearch FindReadOffsets(RipHost& host, const AccurateRipLookup& lookup) {
  OffsetSearch search;
  TrackList& tracks = ripSettings.tracks;
  const auto audioTracks = AudioTrackCount(tracks);
  if (tracks.empty()) return search;
  const int64_t audioEnd = int64_t{tracks.back().startSector} + tracks.back().lengthSectors;
  // For each correction, per probed track: the best confidence of the entries it matches.
  std::map<int32_t, std::vector<uint32_t>> matched;
  TrackBufferPtr buffer = AllocTrackBuffer(kSectorsPerRead);
  if (!buffer) return search;
  // The tracks to read, each with the sums the database holds for it.
  struct Probe {
    TrackRecord* track;
    std::vector<std::pair<uint32_t, uint32_t>> references;  // checksum, confidence
  };
  std::vector<Probe> probes;
  uint32_t longest = 0;
  for (TrackRecord& track : tracks) {
    if (probes.size() == 3) break;
    Probe probe{&track, {}};
    for (const DbarEntry& entry : lookup.entries) {
      if (entry.trackCount != audioTracks || track.tocPosition < 1 ||
          track.tocPosition > entry.tracks.size()) {
        continue;
      }
      const DbarTrack& held = entry.tracks[track.tocPosition - 1];
      // An empty slot (no rips of the track in that pressing) holds nothing to match.
      if (held.confidence >= 1 && held.checksum != 0) {
        probe.references.emplace_back(held.checksum, held.confidence);
      }
    }
    if (probe.references.empty()) continue;
    longest = std::max(longest, track.lengthSectors);
    probes.push_back(std::move(probe));
  }
  // One window's room for every track: taking fresh pages from the system for each costs
  // more than the sums.
  std::vector<uint8_t> window;
  window.reserve(
      4 * (size_t{longest} * (kSectorBytes / 4) + 2 * static_cast<size_t>(kReadOffsetLimit)));
  const CdHandle handle = OpenDriveForCapture();
  for (const auto& [trackPointer, references] : probes) {
    TrackRecord& track = *trackPointer;
    ++search.tracksProbed;

    const uint64_t samples = uint64_t{track.lengthSectors} * (kSectorBytes / 4);
    SlidingV1 sums(samples, &track == FirstAudioTrack(tracks), &track == &tracks.back(),
                   kReadOffsetLimit, std::move(window));
    SlidingSink sliding(sums);
    // The sums slide on a thread of their own while the next piece is read.
    PipelinedSink sink(sliding);
    CaptureJob job{&track, buffer.get(), ""};
    const ReadSpanExtent extent{
        (int64_t{track.startSector} * (kSectorBytes / 4) - kReadOffsetLimit) * 4,
        (static_cast<int64_t>(samples) + 2 * kReadOffsetLimit) * 4, audioEnd};
    const ReadLoopResult result = ReadSpan(host, job, handle, sink, extent, 100);
    if (!result.whole) {
      search.readFailed = true;
      break;
    }
    const std::vector<uint32_t> byOffset = sums.Sums();
    for (size_t o = 0; o < byOffset.size(); ++o) {
      const auto correction = static_cast<int32_t>(o) - kReadOffsetLimit;
      uint32_t best = 0;
      for (auto [checksum, confidence] : references) {
        if (checksum == byOffset[o]) best = std::max(best, confidence);
      }
      if (best == 0) continue;
      // Found by v1: entries of v2 sums at this correction count too.
      const uint32_t v2 = sums.V2At(correction);
      for (auto [checksum, confidence] : references) {
        if (checksum == v2) best = std::max(best, confidence);
      }
      matched[correction].push_back(best);
    }
    window = sums.TakeWindow();
  }
  CloseCDHandle(handle);
  for (const auto& [offset, confidences] : matched) {
    search.matches.push_back({offset, static_cast<int>(confidences.size()), search.tracksProbed,
                              *std::min_element(confidences.begin(), confidences.end())});
  }
  std::sort(search.matches.begin(), search.matches.end(),
            [](const OffsetMatch& x, const OffsetMatch& y) {
              if (x.tracksMatched != y.tracksMatched) return x.tracksMatched > y.tracksMatched;
              if (x.confidence != y.confidence) return x.confidence > y.confidence;
              return std::abs(x.offset) < std::abs(y.offset);
            });
  return search;
}

std::string OffsetMatchText(const OffsetMatch& match) {
  char text[96];
  std::snprintf(text, sizeof text, "Read offset %+d: %d of %d tracks match (confidence %u)",
                static_cast<int>(match.offset), match.tracksMatched, match.tracksProbed,
                static_cast<unsigned>(match.confidence));
  return text;
}
