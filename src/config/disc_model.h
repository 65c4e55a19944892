// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The program's model of the inserted disc: one TrackRecord per audio track of the selected
// drive, one DriveRecord per CD device, the disc-level tag fields and the status codes a
// track goes through while it is ripped.
//
// Ownership and threads: all of it lives in the global RipSettings record. The user-interface
// thread builds and edits it; while a rip runs the worker reads the records and writes only
// `status` (a SharedInt), and reloads are refused, so the records stay in place.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "config/cd_layouts.h"
#include "config/release_tags.h"
#include "platform/shared_int.h"

// Texts a disc carries as CD-Text (or a cue sheet's or TOC file's texts), as UTF-8 without
// control characters; empty where the disc says nothing.
struct CdTextFields {
  std::string title;
  std::string performer;
  std::string songwriter;
  std::string code;  // a disc's catalogue number (UPC/EAN), a track's ISRC
};

struct DiscCdText {
  CdTextFields disc;
  std::vector<CdTextFields> tracks;  // by place in the TOC: tracks[0] is its first track
};

// A track's `status`: what the list shows and what a rip leaves behind.
enum RipStatus : int32_t {
  kStatusPending = 0,  // 1..99 are percent done
  kStatusCompleted = 100,
  kStatusStopped = 101,
  kStatusError = 102,
};

// What the capture worked out over a track's audio as it was read (capture/checksums.h).
struct TrackChecksumValues {
  uint32_t copyCrc = 0;
  uint32_t accurateRipV1 = 0;
  uint32_t accurateRipV2 = 0;
  bool complete = false;  // over the whole track; false until a read of it got to its end
  // Secure reads: the copy CRC of every read in order, and whether a later read confirmed
  // the copy (its CRC the Test CRC, equal to the Copy CRC).
  std::vector<uint32_t> readCrcs{};
  bool tested = false;
  // A drive's edge the read offset reached (the lead-in before the first track, the
  // lead-out after the last): the samples that came as silence because the drive refused
  // to read there, -1 when no read of a drive reached an edge.
  int32_t edgeSilence = -1;
  bool edgeAtEnd = false;
  // Sectors of the disc whose C2 error pointers stayed set through every re-read (secure
  // reading on a drive that gives them), in order.
  std::vector<uint32_t> suspicious{};
  // The CUETools database's CRC of the track as read (shift 0), and of the track moved by
  // every shift from -limit to +limit samples (2 * limit + 1 values, -limit first; limit 0
  // when its neighbours' edges were not read), with the samples each covers: the disc's CRC
  // is made from its tracks'.
  uint32_t ctdbCrc = 0;
  std::vector<uint32_t> ctdbByShift{};
  uint64_t ctdbSamples = 0;
};

// An index of a track past its index 1 (2..99), where the disc marks one.
struct TrackIndexMark {
  uint8_t number = 2;
  uint32_t sector = 0;  // on the disc
  bool operator==(const TrackIndexMark&) const = default;
};

struct TrackRecord {
  // Position in the track list, reassigned when the rows are rebuilt; -1 for the hidden
  // track before track 1 (its number is 00 wherever tracks are numbered).
  int32_t index = 0;
  std::string title;     // "Track " + two-digit position + 1 when built
  uint32_t checked = 0;  // 1 = rip this track
  uint32_t selected = 0;
  uint32_t startSector = 0;
  uint32_t lengthSectors = 0;
  uint32_t tocPosition = 0;  // its place in the TOC from 1, data tracks counted
  std::string performer{};   // the track's own performer from the disc's CD-Text; else empty
  std::string artist{};      // its own artist credit from a lookup, where not the release's
  std::string isrc{};        // its ISRC, where the disc (or image) gives one
  bool preEmphasis = false;  // its audio was mastered with the 50/15 us pre-emphasis
  // Sectors of its pregap (index 0 to 1): audio at the end of the previous track's stretch,
  // where a rip from one TOC start to the next puts it. 0 when the disc has none or says none.
  uint32_t pregapSectors = 0;
  std::vector<TrackIndexMark> indexes{};  // its indexes 02 and up, in order
  // The audio before track 1's index 1 (its pregap, from the disc's first sector), which
  // holds music: a track of its own, "Track 00", with index -1.
  bool hidden = false;
  uint32_t lengthSeconds = 0;                 // lengthSectors / 75, truncated
  SharedInt status{0};                        // a RipStatus, or percent done
  uint32_t format = 0;                        // OutputFormat when the list was built
  std::array<uint32_t, 10> formatSettings{};  // that format's settings block, rest zero
  // Written by the worker during the track's capture, before its last progress message.
  TrackChecksumValues checksums{};
  // What the AccurateRip database says of the audio read ("Accurately ripped (...)", ...);
  // empty when the rip did not verify it. Written by the worker like `checksums`.
  std::string accurateRip{};
  // What the CUETools database says of it ("Accurately ripped (8/10)", ...), the same way.
  std::string ctdb{};
};

inline constexpr char kHiddenTrackTitle[] = "Hidden Track";

// "Track 01": the title of the track at list position `index` that nothing has named.
inline std::string DefaultTrackTitle(int32_t index) {
  char title[24];
  std::snprintf(title, sizeof title, "Track %02d", index + 1);
  return title;
}
inline bool HasOwnTitle(const TrackRecord& track) {
  return track.title !=
         (track.hidden ? std::string(kHiddenTrackTitle) : DefaultTrackTitle(track.index));
}

using TrackList = std::vector<TrackRecord>;

// The list's first track of the disc's own (track 1 when the disc starts with audio): what
// a hidden track before it is not. Null for an empty list.
inline const TrackRecord* FirstAudioTrack(const std::vector<TrackRecord>& tracks) {
  for (const TrackRecord& track : tracks) {
    if (!track.hidden) return &track;
  }
  return nullptr;
}

// The disc's audio tracks in a list: the hidden track before track 1 is not one of them.
inline uint32_t AudioTrackCount(const TrackList& tracks) {
  uint32_t count = 0;
  for (const TrackRecord& track : tracks) count += !track.hidden;
  return count;
}

struct DriveRecord {
  std::string description;
  OpenRequest openRequest{};
  TocBuffer toc{};
  uint32_t discId = 0;  // from the last successful TOC read; 0 when none
};

using DriveList = std::vector<DriveRecord>;

// How one rip read a real drive, for its log: written by the worker as it reads.
struct DriveReadFacts {
  bool drive = false;    // the rip read a real drive (not an image)
  std::string identity;  // "VENDOR MODEL REVISION" as the drive reports them
  bool cacheMeasured = false;
  uint32_t cacheSectors = 0;          // its audio cache; 0 none found
  bool cacheDefeated = true;          // every further read came after a cache's worth elsewhere
  uint64_t sectorsReadElsewhere = 0;  // read to measure and to empty the cache
  bool c2Reported = false;            // the drive says it gives C2 error pointers
  bool c2Used = false;                // secure reads came with them
  bool c2Refused = false;             // it said so, then refused them
};

// What the CUETools database said of a disc, for the log and obrin-rip's summary.
struct CtdbDiscOutcome {
  bool asked = false;  // the job looked the disc up
  bool found = false;  // the database holds the disc's own layout
  // Not found: what the lookup came to ("Not in CTDB", "CTDB unreachable: ...").
  std::string answer;
  uint64_t confidence = 0;  // found: the rips of the disc's layout the database holds
  // The whole disc's verdict; empty unless every audio track was read whole in the job.
  std::string disc;
  // Entries of other layouts a fuzzy lookup returned: "ID TOC (confidence C)".
  std::vector<std::string> otherEntries;
};

// Disc-level tag fields: typed in by the tag editor, kept in memory only. What the disc says
// of itself (its CD-Text performer and title) or what a MusicBrainz lookup found stands in
// for each field the user has not given.
struct DiscInfo {
  std::string discArtist;
  std::string discAlbum;
  std::string discYear;
  int32_t discGenre = 12;  // ID3v1 genre number; 12 is "Other"
  std::string knownArtist{};
  std::string knownAlbum{};
  std::string knownYear{};
  std::string knownCatalog{};  // the disc's catalogue number (UPC/EAN), where it gives one
  ReleaseTags release{};       // the MusicBrainz release that named the disc, if one did
  const std::string& Artist() const { return discArtist.empty() ? knownArtist : discArtist; }
  const std::string& Album() const { return discAlbum.empty() ? knownAlbum : discAlbum; }
  const std::string& Year() const { return discYear.empty() ? knownYear : discYear; }
  // A compilation's track has an artist of its own; an artist the user gave wins over it.
  const std::string& ArtistOf(const TrackRecord& track) const {
    return discArtist.empty() && !track.artist.empty() ? track.artist : Artist();
  }
};
