// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// MusicBrainz, the open music database: the releases a disc belongs to, looked up by its disc
// id (and, when the id is not known there, by its table of contents), only when the user asks.
// One request a second at most, each bounded as HttpGet bounds it; replies up to 4 MiB.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/disc_model.h"
#include "config/release_tags.h"
#include "disc/disc_ids.h"

struct MusicBrainzTrack {
  std::string title;       // as the release's medium lists it
  std::string artist;      // its own artist credit; empty when it is the release's
  ReleaseTrackTags ids{};  // its artists' ids are the release's when it has no credit of its own
};

struct MusicBrainzRelease {
  std::string title;
  std::string artist;  // the artist credit: names joined by their join phrases
  std::string year;    // the first four digits of its date; empty when it has none
  std::string country;
  std::string barcode;
  std::vector<MusicBrainzTrack> tracks;  // of the medium that holds this disc; may be empty
  std::optional<MusicBrainzTrack> hiddenTrack{};  // the medium's "pregap": a hidden track 0
  // The identifiers and album fields its files carry (`tracks` of `tags` left empty: they
  // are the tracks' own `ids`).
  ReleaseTags tags{};
};

struct MusicBrainzLookup {
  enum Kind { kFound, kNotFound, kFailed, kCancelled };
  Kind kind = kNotFound;
  std::vector<MusicBrainzRelease> releases;  // kFound: at least one, in the server's order
  std::string reason;                        // kFailed: what went wrong
};

// The releases of a web-service reply in JSON (a disc id's or a fuzzy lookup's). Each takes
// its tracks from the medium that lists `discId`, else from the first medium with
// `audioTracks` tracks. nullopt when the reply is not such JSON.
std::optional<std::vector<MusicBrainzRelease>> ParseMusicBrainzReply(std::string_view json,
                                                                     const std::string& discId,
                                                                     size_t audioTracks);

// Asks `server` (e.g. "https://musicbrainz.org") for the disc: GET /ws/2/discid/ID with the
// releases' artist credits and recordings, then, when the id is unknown, the fuzzy lookup by
// `toc.toc`. `cancelled` is polled while a request runs and while one waits its turn.
MusicBrainzLookup LookUpMusicBrainz(const std::string& server, const MusicBrainzToc& toc,
                                    size_t audioTracks,
                                    const std::function<bool()>& cancelled = {});

// "ARTIST – TITLE (YEAR, COUNTRY, BARCODE)", leaving out what the release does not have.
std::string MusicBrainzReleaseText(const MusicBrainzRelease& release);

// "Disc not found in MusicBrainz", "MusicBrainz lookup failed: REASON"; empty when found.
std::string MusicBrainzLookupText(const MusicBrainzLookup& lookup);

// The release's names for the disc and its tracks (in list order), where the user has typed
// none: they replace what the disc's CD-Text said. Its identifiers and album fields go to
// `disc.release`, each track's under its list index.
void ApplyMusicBrainzRelease(const MusicBrainzRelease& release, DiscInfo& disc, TrackList& tracks);
