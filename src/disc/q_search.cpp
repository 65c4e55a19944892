// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/q_search.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace {

// Sectors between the one asked for and the one whose Q came back beyond which the frame
// is not taken as that sector's neighbour's (a drive's Q lags by a sector or two at most).
constexpr int64_t kNeighbourhood = 8;
// Reads without a frame that holds, from the start, after which the drive is taken to give
// no usable Q: every probe would cost its attempts for nothing.
constexpr uint64_t kReadsBeforeGivingUp = 32;

// Where a sector lies: its track and index, ordered as they follow on the disc.
struct Place {
  uint32_t sector = 0;
  uint8_t track = 0;  // 0xAA: the lead-out
  uint8_t index = 0;
};

bool AtOrPast(const Place& place, uint8_t track, uint8_t index) {
  return place.track != track ? place.track > track : place.index >= index;
}

class Searcher {
 public:
  Searcher(const std::vector<QSearchTrack>& tracks, const QSectorReader& read,
           const QSearchLimits& limits)
      : tracks_(tracks),
        read_(read),
        limits_(limits),
        deadline_(std::chrono::steady_clock::now() + limits.time) {
    findings_.pregaps.assign(tracks.size(), 0);
    findings_.indexes.assign(tracks.size(), {});
  }

  QIndexFindings Run() {
    // Track 1's index 0 is all that lies before its index 1: no Q is needed to know it.
    if (!tracks_.empty() && tracks_[0].audio) findings_.pregaps[0] = tracks_[0].start;
    for (size_t e = 1; e < tracks_.size() && Going(); ++e) FindPregap(e);
    for (size_t e = 0; e < tracks_.size() && Going(); ++e) FindLaterIndexes(e);
    if (!findings_.usable) {
      // A drive with no usable Q found nothing: what the TOC says stands alone.
      for (size_t e = 1; e < findings_.pregaps.size(); ++e) findings_.pregaps[e] = 0;
    }
    return findings_;
  }

 private:
  bool Going() {
    if (dead_) return false;
    if (std::chrono::steady_clock::now() >= deadline_) {
      findings_.finished = false;
      dead_ = true;
    }
    return !dead_;
  }

  static bool Near(const SubchannelFrame& frame, int64_t lsn) {
    if (frame.kind != SubchannelFrame::kPosition) return true;
    const int64_t sector = int64_t{frame.absolute} - 150;
    return sector >= lsn - kNeighbourhood && sector <= lsn + kNeighbourhood;
  }

  // One read's frame, by the first way that gives one that holds.
  std::optional<SubchannelFrame> ReadFrame(int32_t lsn) {
    const bool rawFirst = formattedGood_ == 0 && rawGood_ > 0;
    for (int pass = 0; pass < 2; ++pass) {
      const bool raw = (pass == 0) == rawFirst;
      int& refused = raw ? rawRefused_ : formattedRefused_;
      const int good = raw ? rawGood_ : formattedGood_;
      // A way the drive keeps refusing (and never gave a frame by) is not asked again;
      // raw is only the fallback while formatted Q has given nothing.
      if (refused >= 3 && good == 0) continue;
      if (raw && formattedGood_ > 0) continue;
      uint8_t q[16] = {};
      ++findings_.sectorsRead;
      if (!read_(lsn, raw, q)) {
        ++refused;
        continue;
      }
      // Some drives give formatted Q in binary; raw Q is the disc's own, always BCD. A binary
      // frame whose digits all look decimal reads as BCD too, but its time is not the
      // sector's.
      auto frame = ParseFormattedQ(q);
      if (!raw && (!frame || !Near(*frame, lsn))) {
        if (auto binary = ParseFormattedQ(q, true); binary && (!frame || Near(*binary, lsn))) {
          frame = binary;
        }
      }
      if (frame) {
        ++(raw ? rawGood_ : formattedGood_);
        findings_.usable = true;
        return frame;
      }
    }
    return std::nullopt;
  }

  // Where the sector at `lsn`, or a neighbour of it strictly between `above` and `below`,
  // lies; nullopt when no read of it gave a position frame that holds within the attempts
  // allowed.
  std::optional<Place> Observe(int64_t lsn, int64_t above = INT64_MIN, int64_t below = INT64_MAX) {
    // The sector itself, every other time (a frame that fails its CRC is a misread, and
    // the next read may hold); between those its neighbours, since an MCN or ISRC frame (one in a
    // hundred) or a scratch may stand where it is, and a drive's Q may lag behind.
    int step = 0;
    for (int attempt = 0; attempt < limits_.attemptsPerPosition; ++attempt) {
      if (!Going()) return std::nullopt;
      if (findings_.sectorsRead >= kReadsBeforeGivingUp && !findings_.usable) {
        dead_ = true;
        return std::nullopt;
      }
      // Where the sector's own frame comes from on this drive: a drive whose Q lags does so
      // by the same sectors every time.
      int64_t at = lsn - lag_;
      if (attempt >= 2 && attempt % 2 == 1) {
        ++step;
        at += step % 2 ? (step + 1) / 2 : -(step / 2);
      }
      if (at < 0) continue;
      const auto frame = ReadFrame(static_cast<int32_t>(at));
      if (!frame || frame->kind != SubchannelFrame::kPosition || frame->absolute < 150) continue;
      const int64_t sector = int64_t{frame->absolute} - 150;
      if (sector < at - kNeighbourhood || sector > at + kNeighbourhood || sector <= above ||
          sector >= below) {
        continue;
      }
      lag_ = sector - at;
      return Place{static_cast<uint32_t>(sector), frame->track, frame->index};
    }
    return std::nullopt;
  }

  // The first sector in (low, high] at or past (track, index), where every sector up to
  // `low` lies before it and `highPlace` (at `high`) at or past it; nullopt when the Q
  // stops answering or contradicts itself.
  std::optional<Place> Boundary(uint32_t low, Place highPlace, uint8_t track, uint8_t index) {
    int stalls = 0;
    while (highPlace.sector > low + 1) {
      const uint32_t middle = low + (highPlace.sector - low) / 2;
      const auto seen = Observe(middle, low, highPlace.sector);
      // One sector left whose own frame is never a position (an MCN or ISRC frame stands
      // there on every read): the index is taken to begin after it.
      if (!seen && highPlace.sector == low + 2 && !dead_) return highPlace;
      if (!seen) return std::nullopt;
      const bool past = AtOrPast(*seen, track, index);
      if (past && seen->sector <= low) return std::nullopt;
      if (!past && seen->sector >= highPlace.sector) return std::nullopt;
      const bool narrowed = past ? seen->sector < highPlace.sector : seen->sector > low;
      if (!narrowed) {
        if (++stalls > 3) return std::nullopt;
        continue;
      }
      if (past) {
        highPlace = *seen;
      } else {
        low = seen->sector;
      }
    }
    return highPlace;
  }

  // Track e's pregap: the stretch before its index 1 whose Q already names it, searched
  // backwards in doubling steps from its index 1, then narrowed by halves.
  void FindPregap(size_t e) {
    const QSearchTrack& track = tracks_[e];
    const QSearchTrack& previous = tracks_[e - 1];
    if (!track.audio || !previous.audio || track.start <= previous.start + 1) return;
    const auto last = Observe(int64_t{track.start} - 1, previous.start, track.start);
    if (!last || last->sector >= track.start || last->track != track.number || last->index != 0) {
      return;
    }
    Place inside = *last;  // a sector known to be in the pregap
    uint32_t low = previous.start;
    for (uint32_t step = 1;; step *= 2) {
      if (inside.sector <= previous.start + step) break;
      const auto seen = Observe(int64_t{inside.sector} - step, previous.start, inside.sector);
      if (!seen) return;
      if (AtOrPast(*seen, track.number, 0)) {
        if (seen->sector < inside.sector) inside = *seen;
      } else {
        low = std::max(low, seen->sector);
        break;
      }
    }
    const auto first = Boundary(low, inside, track.number, 0);
    if (first && first->sector < track.start) findings_.pregaps[e] = track.start - first->sector;
  }

  // Indexes 02.. of track e: the Q of its last sector before the next pregap names the
  // highest; each is then narrowed by halves from the one before.
  void FindLaterIndexes(size_t e) {
    const QSearchTrack& track = tracks_[e];
    if (!track.audio || track.end <= track.start + 1) return;
    uint32_t end = track.end;
    if (e + 1 < tracks_.size() && tracks_[e + 1].audio && tracks_[e + 1].start == track.end) {
      end -= std::min(findings_.pregaps[e + 1], end - track.start - 1);
    }
    const auto last = Observe(int64_t{end} - 1, track.start, end);
    if (!last || last->track != track.number || last->index < 2 || last->sector <= track.start ||
        last->sector >= end) {
      return;
    }
    uint32_t low = track.start;
    for (uint8_t index = 2; index <= last->index && Going();) {
      const auto first = Boundary(low, *last, track.number, index);
      if (!first || first->index < index || first->track != track.number) return;
      findings_.indexes[e].push_back({first->index, first->sector});
      low = first->sector;
      index = static_cast<uint8_t>(first->index + 1);
    }
  }

  const std::vector<QSearchTrack>& tracks_;
  const QSectorReader& read_;
  const QSearchLimits limits_;
  const std::chrono::steady_clock::time_point deadline_;
  QIndexFindings findings_;
  int formattedGood_ = 0, rawGood_ = 0;
  int formattedRefused_ = 0, rawRefused_ = 0;
  bool dead_ = false;
  int64_t lag_ = 0;  // the last frame's sector less the one read for it
};

}  // namespace

QIndexFindings FindIndexesInQ(const std::vector<QSearchTrack>& tracks, const QSectorReader& read,
                              const QSearchLimits& limits) {
  return Searcher(tracks, read, limits).Run();
}

std::optional<std::string> MajorityIsrc(const std::vector<std::string>& frames) {
  std::map<std::string, size_t> votes;
  for (const std::string& code : frames) ++votes[code];
  const auto best = std::max_element(
      votes.begin(), votes.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  if (best == votes.end() || best->second * 2 <= frames.size()) return std::nullopt;
  return best->first;
}
