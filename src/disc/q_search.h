// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Where a drive's Q sub-channel puts each track's index 0 (its pregap) and its indexes 2 and
// up: what the TOC does not say. Single-sector reads around each track's boundaries, a
// search that narrows by halves, so a disc costs a few dozen reads a track, never a whole
// read of it. Frames are untrusted: only those whose CRC holds count, each where its own
// absolute time puts it (drives hand back a neighbour's Q now and then).
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/disc_model.h"
#include "disc/q_subchannel.h"

// Reads the Q of one sector: formatted (16 bytes) or raw P-W's Q deinterleaved into the
// first 12. False when the drive refused or failed the read.
using QSectorReader = std::function<bool(int32_t lsn, bool raw, uint8_t q[16])>;

// A TOC track as the search needs it.
struct QSearchTrack {
  uint8_t number = 1;
  uint32_t start = 0;  // index 1
  uint32_t end = 0;    // one past its last sector (an enhanced CD's last audio track ends a
                       // session gap before the data track)
  bool audio = true;
};

struct QIndexFindings {
  std::vector<uint32_t> pregaps;                     // sectors of index 0, by TOC track
  std::vector<std::vector<TrackIndexMark>> indexes;  // indexes 02.., by TOC track
  bool usable = false;                               // the drive gave frames that hold
  bool finished = true;      // every track was searched within the time given
  uint64_t sectorsRead = 0;  // every Q read, refused ones included
};

struct QSearchLimits {
  std::chrono::steady_clock::duration time = std::chrono::seconds(30);
  // Reads of a sector (and its neighbours) before its position is given up.
  int attemptsPerPosition = 24;
};

// Searches the disc's Q. Track 1's pregap is everything before its index 1 (the disc's
// first sector is index 0 of track 1); a data track and the track after it (whose pregap is
// the data track's) are not searched.
QIndexFindings FindIndexesInQ(const std::vector<QSearchTrack>& tracks, const QSectorReader& read,
                              const QSearchLimits& limits = {});

// The ISRC most of a track's ADR 3 frames give: more than half of them must agree. nullopt
// when none does or there are none.
std::optional<std::string> MajorityIsrc(const std::vector<std::string>& frames);
