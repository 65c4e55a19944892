// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The AccurateRip database: reading a disc's dBAR file (what other rips of each pressing of
// the disc produced), fetching it from the server the settings name (kept a week in the
// cache folder), and the verdict on one ripped track.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disc/disc_ids.h"
#include "platform/http_get.h"

struct DbarTrack {
  uint32_t confidence = 0;
  uint32_t checksum = 0;
};

// One pressing: its track count, ids and one record per track.
struct DbarEntry {
  uint32_t trackCount = 0;
  uint32_t id1 = 0, id2 = 0, cddb = 0;
  std::vector<DbarTrack> tracks;
};

// The entries of a dBAR file (little-endian: a count byte, three ids, then per track a
// confidence byte, the checksum and a word not used here); nullopt when the bytes end inside
// an entry.
std::optional<std::vector<DbarEntry>> ParseDbar(std::string_view bytes);

struct AccurateRipLookup {
  enum Kind { kFound, kNotInDatabase, kUnreachable, kUnreadable, kCancelled };
  Kind kind = kNotInDatabase;
  std::vector<DbarEntry> entries;  // kFound: at least one
  std::string reason;              // kUnreachable: what went wrong
};

// ${XDG_CACHE_HOME:-~/.cache}/obrin/accuraterip/
std::string AccurateRipCacheFolder();

// The disc's entries: from the cache when a reply of the last seven days is there, else from
// `server` + "/" + AccurateRipPath(id), kept in the cache when it answered. A 404 or an empty
// reply is kNotInDatabase; a reply that is not a dBAR file, or too large, kUnreadable.
AccurateRipLookup LookUpAccurateRip(const std::string& server, const AccurateRipDiscId& id,
                                    const HttpLimits& limits = {},
                                    const std::function<bool()>& cancelled = {});

// What the database says of one track. `slot` is the track's number in the TOC counted from
// 1 (a data track before it takes a slot); `audioTracks` the disc's count.
struct AccurateRipVerdict {
  enum Kind { kAccurate, kNotAccurate, kNotInDatabase, kUnreachable, kUnreadable };
  Kind kind = kNotInDatabase;
  uint32_t confidence = 0;
  bool v2 = false;
  std::string reason;
};
AccurateRipVerdict JudgeTrack(const AccurateRipLookup& lookup, uint32_t audioTracks, uint32_t slot,
                              uint32_t v1, uint32_t v2);

// "Accurately ripped (confidence 12, v2)", "Not accurate (database confidence 5)",
// "Not in database", "Database unreachable: REASON", "Database reply unreadable".
std::string AccurateRipResultText(const AccurateRipVerdict& verdict);
