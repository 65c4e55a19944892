// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The names a ripped file carries, as Vorbis comments (Ogg Vorbis and FLAC) and as the
// fields of the ID3v2 tag: one list, so that every format names a track alike.
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"

using TagFields = std::vector<std::pair<std::string, std::string>>;

// TITLE, ARTIST, ALBUM, DATE, GENRE (the genre's name), TRACKNUMBER and TRACKTOTAL (the disc's
// audio tracks, ticked or not), leaving out empty ones. `flac` adds the disc's identifiers
// (DISCID, the freedb id; MUSICBRAINZ_DISCID) and writes genre 0; the Ogg stage has always
// read genre 0 ("Blues") as "no genre chosen". A disc named by a MusicBrainz release adds its
// identifiers and album fields (AppendReleaseComments) and dates the files by its date.
TagFields VorbisCommentsOf(const TrackRecord& track, const RipSettings& settings, bool flac);
