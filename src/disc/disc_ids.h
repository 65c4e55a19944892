// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The identifiers of a disc, worked out from its table of contents: those the AccurateRip
// database files its pressings under, and MusicBrainz's.
#include <cstdint>
#include <string>

#include "config/cd_layouts.h"

struct AccurateRipDiscId {
  uint32_t audioTracks = 0;
  uint32_t id1 = 0;   // the audio tracks' starts plus the lead-out
  uint32_t id2 = 0;   // the same, each weighted by its position among the audio tracks
  uint32_t cddb = 0;  // the freedb id over every track, data tracks included
};

// From a TOC as ReadTOC fills it (sector addresses from 0). Data tracks are left out of
// both sums; the lead-out is the disc's own (on an enhanced CD, the end of its data track).
AccurateRipDiscId AccurateRipIdOf(const TocBuffer& toc);

// The MusicBrainz disc id (libdiscid's) of the first session's tracks: a mixed-mode disc's
// data track 1 counts; an enhanced CD's data track after the audio does not, and their
// lead-out is the session gap (11,400 sectors) before it. Empty when the TOC has no audio
// track.
std::string MusicBrainzDiscId(const TocBuffer& toc);

// The same id with the table of contents MusicBrainz's fuzzy lookup takes ("1+12+267300+150+
// ..."): first and last track, lead-out and each start, in sectors from 150.
struct MusicBrainzToc {
  std::string id;
  std::string toc;
};
MusicBrainzToc MusicBrainzTocOf(const TocBuffer& toc);

// "012-0015e7a3-00d9a4e1-860a020c": the track count and the three ids.
std::string AccurateRipIdText(const AccurateRipDiscId& id);

// Where the database keeps the disc's entries, relative to its server:
// "accuraterip/3/a/7/dBAR-012-0015e7a3-00d9a4e1-860a020c.bin", the folders being the lowest
// three hexadecimal digits of id1, lowest first.
std::string AccurateRipPath(const AccurateRipDiscId& id);
