// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The CUETools database (CTDB), a second verification database beside AccurateRip: the
// disc's table of contents as the database names it, the lookup of its entries (CRC-32s of
// other rips of each pressing, kept a week in the cache folder) and the verdicts on a ripped
// track and on the whole disc. The CRCs themselves are worked out in capture/ctdb_crc.h.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/cd_layouts.h"
#include "platform/http_get.h"

// Replies longer than this are not read (a disc's entries take a few KiB).
inline constexpr std::size_t kCtdbMaxReplyBytes = std::size_t{1} << 20;

// "0:11413:-25024:55220": every track's start sector (a data track's after a "-"), then the
// lead-out, all from the TOC as ReadTOC fills it. Empty for a TOC without tracks.
std::string CtdbTocString(const TocBuffer& toc);

// The id the database files the disc under, from its audio tracks only: SHA-1 of their
// starts and end relative to the first, in base64 with ".", "_" and "-". An enhanced CD's
// audio ends the session gap before its data track; a data track 1 is left out. Empty when
// the TOC has no audio track.
std::string CtdbTocId(const TocBuffer& toc);

// One pressing as the database holds it: its layout and the CRCs of its rips.
struct CtdbEntry {
  std::string id;
  std::string toc;  // a TOC string as CtdbTocString writes it
  uint32_t crc32 = 0;
  uint32_t confidence = 0;  // how many rips were submitted
  uint32_t npar = 0, stride = 0;
  bool hasParity = false;
  std::vector<uint32_t> trackCrcs;  // one per audio track of `toc`
  // Whether `toc` is the disc's own layout (the same lengths, possibly all moved by a
  // constant, the same data tracks): only such entries take part in a verdict.
  bool sameLayout = false;
};

// The namespace of the database's replies: a name their elements carry, never an address asked.
inline constexpr char kCtdbNamespace[] = "http://db.cuetools.net/ns/mmd-1.0#";

// The entries of a reply (<ctdb xmlns="http://db.cuetools.net/ns/mmd-1.0#"> with <entry>
// elements); nullopt for anything else: another root, a missing or malformed attribute, track
// CRCs not one per audio track of the entry's TOC, XML that is not well-formed, a document
// type declaration (no entity is ever expanded), or more than kCtdbMaxReplyBytes.
std::optional<std::vector<CtdbEntry>> ParseCtdbReply(std::string_view xml);

struct CtdbLookup {
  enum Kind { kFound, kNotInDatabase, kUnreachable, kUnreadable, kCancelled };
  Kind kind = kNotInDatabase;
  // Every entry of the reply, also those of other layouts that a fuzzy lookup returns (the
  // log names them); kFound when at least one has sameLayout.
  std::vector<CtdbEntry> entries;
  std::string reason;  // kUnreachable: what went wrong
};

// A reply judged against the disc whose CtdbTocString is `discToc`: kFound, kNotInDatabase
// (no entry of its layout) or kUnreadable.
CtdbLookup ReadCtdbReply(std::string_view xml, const std::string& discToc);

// ${XDG_CACHE_HOME:-~/.cache}/obrin/ctdb/
std::string CtdbCacheFolder();

// The disc's entries: from the cache when a reply of the last seven days is there (a file
// named after CtdbTocId), else from `server` + "/lookup2.php?...&toc=" + CtdbTocString (a
// fuzzy lookup), kept in the cache when it was understood. A 404 is kNotInDatabase (kept as
// such); a reply not understood, or too large, kUnreadable.
CtdbLookup LookUpCtdb(const std::string& server, const TocBuffer& toc,
                      const HttpLimits& limits = {}, const std::function<bool()>& cancelled = {});

// The CRC of some audio at every shift from -limit to +limit samples: at shift s, the
// counted stretch moved s samples on in the audio as read. limit 0: shift 0 alone.
struct CtdbCrcs {
  int32_t limit = 0;
  std::vector<uint32_t> byShift;  // 2 * limit + 1 values, shift -limit first
  uint64_t samples = 0;           // the samples each CRC covers
  std::optional<uint32_t> At(int32_t shift) const {
    if (shift < -limit || shift > limit || byShift.size() != 2 * static_cast<size_t>(limit) + 1) {
      return {};
    }
    return byShift[static_cast<size_t>(shift + limit)];
  }
};

// What the database says of one track or of the whole disc. `confidence` counts the rips
// that match (at `shift`, the one at which most do when none does at 0), `total` those of
// every entry of the disc's layout.
struct CtdbVerdict {
  enum Kind { kAccurate, kNotAccurate, kNotInDatabase, kUnreachable, kUnreadable };
  Kind kind = kNotInDatabase;
  uint64_t confidence = 0;
  uint64_t total = 0;
  int32_t shift = 0;
  std::string reason;
};
// `audioTrack`: the track's number among the disc's audio tracks, from 1 (a data track 1
// takes none).
CtdbVerdict JudgeCtdbTrack(const CtdbLookup& lookup, uint32_t audioTrack, const CtdbCrcs& crcs);
CtdbVerdict JudgeCtdbDisc(const CtdbLookup& lookup, const CtdbCrcs& crcs);

// "Accurately ripped (8/10)", "Accurately ripped (7/7), offset +1237", "Not accurate
// (database confidence 10)", "Not in CTDB", "CTDB unreachable: REASON", "CTDB reply not
// understood".
std::string CtdbResultText(const CtdbVerdict& verdict);
