// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/accuraterip.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/base_dirs.h"
#include "platform/cached_get.h"

namespace {

uint32_t Word(std::string_view bytes, size_t at) {
  return uint32_t{static_cast<uint8_t>(bytes[at])} |
         uint32_t{static_cast<uint8_t>(bytes[at + 1])} << 8 |
         uint32_t{static_cast<uint8_t>(bytes[at + 2])} << 16 |
         uint32_t{static_cast<uint8_t>(bytes[at + 3])} << 24;
}

AccurateRipLookup FromBytes(std::string_view bytes) {
  AccurateRipLookup lookup;
  if (bytes.empty()) return lookup;  // kNotInDatabase
  auto entries = ParseDbar(bytes);
  if (!entries) {
    lookup.kind = AccurateRipLookup::kUnreadable;
    return lookup;
  }
  lookup.kind = AccurateRipLookup::kFound;
  lookup.entries = std::move(*entries);
  return lookup;
}

}  // namespace

std::optional<std::vector<DbarEntry>> ParseDbar(std::string_view bytes) {
  std::vector<DbarEntry> entries;
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 13) return std::nullopt;
    DbarEntry entry;
    entry.trackCount = static_cast<uint8_t>(bytes[at]);
    entry.id1 = Word(bytes, at + 1);
    entry.id2 = Word(bytes, at + 5);
    entry.cddb = Word(bytes, at + 9);
    at += 13;
    if ((bytes.size() - at) / 9 < entry.trackCount) return std::nullopt;
    for (uint32_t t = 0; t < entry.trackCount; ++t, at += 9) {
      entry.tracks.push_back({static_cast<uint8_t>(bytes[at]), Word(bytes, at + 1)});
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string AccurateRipCacheFolder() {
  return XdgBaseFolder("XDG_CACHE_HOME", ".cache") + "/obrin/accuraterip/";
}

AccurateRipLookup LookUpAccurateRip(const std::string& server, const AccurateRipDiscId& id,
                                    const HttpLimits& limits,
                                    const std::function<bool()>& cancelled) {
  const std::string path = AccurateRipPath(id);
  std::string url = server;
  while (!url.empty() && url.back() == '/') url.pop_back();
  const CachedReply reply = CachedHttpGet(
      url + "/" + path, AccurateRipCacheFolder() + path.substr(path.rfind('/') + 1),
      [](std::string_view body) { return FromBytes(body).kind != AccurateRipLookup::kUnreadable; },
      limits, cancelled);
  AccurateRipLookup lookup;
  switch (reply.kind) {
    case CachedReply::kBody:
      return FromBytes(reply.body);
    case CachedReply::kNotFound:
      break;
    case CachedReply::kFailed:
      lookup.kind = AccurateRipLookup::kUnreachable;
      lookup.reason = reply.reason;
      break;
    case CachedReply::kTooLarge:
      lookup.kind = AccurateRipLookup::kUnreadable;
      break;
    case CachedReply::kCancelled:
      lookup.kind = AccurateRipLookup::kCancelled;
      break;
  }
  return lookup;
}

AccurateRipVerdict JudgeTrack(const AccurateRipLookup& lookup, uint32_t audioTracks, uint32_t slot,
                              uint32_t v1, uint32_t v2) {
  AccurateRipVerdict verdict;
  switch (lookup.kind) {
    case AccurateRipLookup::kUnreachable:
      verdict.kind = AccurateRipVerdict::kUnreachable;
      verdict.reason = lookup.reason;
      return verdict;
    case AccurateRipLookup::kUnreadable:
      verdict.kind = AccurateRipVerdict::kUnreadable;
      return verdict;
    case AccurateRipLookup::kFound:
      break;
    default:
      return verdict;  // not in the database
  }
  bool inDatabase = false, matched = false;
  uint32_t bestMatch = 0, bestHeld = 0;
  for (const DbarEntry& entry : lookup.entries) {
    if (entry.trackCount != audioTracks || slot < 1 || slot > entry.tracks.size()) continue;
    const DbarTrack& record = entry.tracks[slot - 1];
    // A pressing whose rips never covered this track leaves its slot empty: it proves
    // nothing, not even a silent track (whose sums are 0 too).
    if (record.confidence == 0 || record.checksum == 0) continue;
    inDatabase = true;
    bestHeld = std::max(bestHeld, record.confidence);
    const bool byV2 = record.checksum == v2;
    if (byV2 || record.checksum == v1) {
      matched = true;
      bestMatch = std::max(bestMatch, record.confidence);
      verdict.v2 = verdict.v2 || byV2;
    }
  }
  if (matched) {
    verdict.kind = AccurateRipVerdict::kAccurate;
    verdict.confidence = bestMatch;
  } else if (inDatabase) {
    verdict.kind = AccurateRipVerdict::kNotAccurate;
    verdict.confidence = bestHeld;
    verdict.v2 = false;
  }
  return verdict;
}

std::string AccurateRipResultText(const AccurateRipVerdict& verdict) {
  switch (verdict.kind) {
    case AccurateRipVerdict::kAccurate:
      return "Accurately ripped (confidence " + std::to_string(verdict.confidence) +
             (verdict.v2 ? ", v2)" : ", v1)");
    case AccurateRipVerdict::kNotAccurate:
      return "Not accurate (database confidence " + std::to_string(verdict.confidence) + ")";
    case AccurateRipVerdict::kUnreachable:
      return "Database unreachable: " + verdict.reason;
    case AccurateRipVerdict::kUnreadable:
      return "Database reply unreadable";
    case AccurateRipVerdict::kNotInDatabase:
      break;
  }
  return "Not in database";
}
