// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Fuzz target: arbitrary bytes as MusicBrainz's JSON reply for a three-track disc.
// Invariants:
//  - ParseMusicBrainzReply never crashes; each release it reads names the disc's tracks
//    (ApplyMusicBrainzRelease) without crashing;
//  - the files' Vorbis comments then hold no empty value, no MusicBrainz identifier unless
//    the release has an id, and a DISCNUMBER only with a DISCTOTAL at least as large.
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "disc/musicbrainz.h"
#include "encoders/tag_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  const auto releases = ParseMusicBrainzReply(json, "eVKOMoWw5AO_pDBAt79bU1lhYPQ-", 3);
  if (!releases) return 0;
  for (const MusicBrainzRelease& release : *releases) {
    RipSettings settings;
    settings.tracks.resize(3);
    for (int32_t i = 0; i < 3; ++i) {
      settings.tracks[static_cast<size_t>(i)].index = i;
      settings.tracks[static_cast<size_t>(i)].tocPosition = static_cast<uint32_t>(i) + 1;
    }
    ApplyMusicBrainzRelease(release, settings, settings.tracks);
    const bool identified = !settings.release.releaseId.empty();
    for (const TrackRecord& track : settings.tracks) {
      long number = 0, total = 0;
      for (const auto& [name, value] : VorbisCommentsOf(track, settings, true)) {
        if (value.empty()) std::abort();
        if (name.starts_with("MUSICBRAINZ_") && name != "MUSICBRAINZ_DISCID" && !identified) {
          std::abort();
        }
        if (name == "DISCNUMBER") number = std::strtol(value.c_str(), nullptr, 10);
        if (name == "DISCTOTAL") total = std::strtol(value.c_str(), nullptr, 10);
      }
      if (number < 0 || number > total) std::abort();
    }
  }
  return 0;
}
