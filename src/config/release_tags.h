// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// What a MusicBrainz release adds to every file of a rip beyond the names: the identifiers a
// music library matches files by, the album's own fields, and the front cover. Empty (no
// release id, no picture) unless the disc was named by a release or given a picture.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct ReleaseTrackTags {
  std::string recordingId;             // MUSICBRAINZ_TRACKID, the UFID
  std::string trackId;                 // MUSICBRAINZ_RELEASETRACKID
  std::vector<std::string> artistIds;  // each artist of its credit, in order
};

struct ReleaseTags {
  std::string releaseId;  // empty: no release, and none of the fields below are written
  std::string releaseGroupId;
  std::string albumArtist;  // the release's artist credit
  std::vector<std::string> albumArtistIds;
  std::string date;          // as MusicBrainz gives it: "2003", "2003-05" or "2003-05-26"
  std::string originalDate;  // the release group's first release date
  std::string country, barcode, label, catalogNumber;
  std::string media;  // the medium's format ("CD")
  int32_t discNumber = 0, discTotal = 0;
  // By the track's list index (-1 the hidden track); tracks the medium does not list have none.
  std::map<int32_t, ReleaseTrackTags> tracks;
};

// A picture checked by its own bytes.
struct CoverPicture {
  std::string mimeType;  // "image/jpeg" or "image/png"
  uint32_t width = 0, height = 0;
  uint32_t depth = 0;   // bits per pixel
  uint32_t colors = 0;  // entries of an indexed picture's palette; 0 otherwise
  std::string bytes;
};

// The cover of the album being ripped: the original (saved beside the tracks) and the copy
// the files embed (a smaller one, or the original again).
struct CoverArt {
  CoverPicture original;
  CoverPicture embedded;
};
using CoverArtPtr = std::shared_ptr<const CoverArt>;
