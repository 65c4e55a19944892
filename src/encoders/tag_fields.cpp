// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/tag_fields.h"

#include <cstdio>

#include "config/genres.h"
#include "disc/disc_ids.h"
#include "encoders/release_fields.h"

TagFields VorbisCommentsOf(const TrackRecord& track, const RipSettings& settings, bool flac) {
  TagFields fields;
  const auto add = [&fields](const char* name, const std::string& value) {
    if (!value.empty()) fields.emplace_back(name, value);
  };
  add("TITLE", track.title);
  add("ARTIST", settings.ArtistOf(track));
  add("ALBUM", settings.Album());
  add("DATE", ReleaseDateOf(settings));
  if (flac || settings.discGenre != 0) add("GENRE", GenreName(settings.discGenre));
  add("TRACKNUMBER", std::to_string(track.index + 1));
  add("TRACKTOTAL", std::to_string(AudioTrackCount(settings.tracks)));
  add("ISRC", track.isrc);
  add("BARCODE", settings.knownCatalog);
  const auto drive = static_cast<size_t>(settings.driveIndex);
  if (flac && drive < settings.drives.size()) {
    const DriveRecord& record = settings.drives[drive];
    char freedb[16];
    std::snprintf(freedb, sizeof freedb, "%08x", static_cast<unsigned>(record.discId));
    if (record.discId != 0) add("DISCID", freedb);
    add("MUSICBRAINZ_DISCID", MusicBrainzDiscId(record.toc));
  }
  AppendReleaseComments(fields, track, settings);
  return fields;
}
