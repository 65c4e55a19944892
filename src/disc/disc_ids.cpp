// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/disc_ids.h"

#include <discid/discid.h>

#include <algorithm>
#include <cstdio>

#include "disc/cdaccess.h"

AccurateRipDiscId AccurateRipIdOf(const TocBuffer& toc) {
  AccurateRipDiscId id;
  const int count =
      toc.lastTrack >= toc.firstTrack ? std::min(toc.lastTrack - toc.firstTrack + 1, 99) : 0;
  for (int e = 0; e < count; ++e) {
    if (toc.entries[e].adrControl & 0x04) continue;  // a data track
    const uint32_t start = TocEntryAddress(toc.entries[e]);
    ++id.audioTracks;
    id.id1 += start;
    id.id2 += std::max(start, 1u) * id.audioTracks;
  }
  const uint32_t leadOut = TocEntryAddress(toc.entries[count]);
  id.id1 += leadOut;
  id.id2 += leadOut * (id.audioTracks + 1);
  id.cddb = ComputeCddbDiscId(toc);
  return id;
}

MusicBrainzToc MusicBrainzTocOf(const TocBuffer& toc) {
  const int count =
      toc.lastTrack >= toc.firstTrack ? std::min(toc.lastTrack - toc.firstTrack + 1, 99) : 0;
  int first = 0, last = 0;
  bool audio = false;
  int offsets[100] = {};
  for (int e = 0; e < count; ++e) {
    const bool data = (toc.entries[e].adrControl & 0x04) != 0;
    // A data track after the audio opens the second session: the audio ends a session gap
    // before it. One before the audio (a mixed-mode disc) is a track like the others.
    if (data && audio) {
      const uint32_t start = TocEntryAddress(toc.entries[e]);
      const auto lastStart = static_cast<uint32_t>(offsets[last] - 150);
      offsets[0] = static_cast<int>(
          (start - lastStart > kSessionGapSectors ? start - kSessionGapSectors : start) + 150);
      break;
    }
    audio = audio || !data;
    const int number = toc.firstTrack + e;
    if (first == 0) first = number;
    last = number;
    offsets[number] = static_cast<int>(TocEntryAddress(toc.entries[e])) + 150;
  }
  MusicBrainzToc result;
  if (!audio) return result;
  if (offsets[0] == 0) offsets[0] = static_cast<int>(TocEntryAddress(toc.entries[count])) + 150;
  DiscId* disc = discid_new();
  if (disc && discid_put(disc, first, last, offsets)) {
    result.id = discid_get_id(disc);
    // "1 12 267300 150 ...": the web service takes the same words joined by "+".
    result.toc = discid_get_toc_string(disc);
    std::replace(result.toc.begin(), result.toc.end(), ' ', '+');
  }
  if (disc) discid_free(disc);
  return result;
}

std::string MusicBrainzDiscId(const TocBuffer& toc) {
  return MusicBrainzTocOf(toc).id;
}

std::string AccurateRipIdText(const AccurateRipDiscId& id) {
  char text[40];
  std::snprintf(text, sizeof text, "%03u-%08x-%08x-%08x", static_cast<unsigned>(id.audioTracks),
                static_cast<unsigned>(id.id1), static_cast<unsigned>(id.id2),
                static_cast<unsigned>(id.cddb));
  return text;
}

std::string AccurateRipPath(const AccurateRipDiscId& id) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string path = "accuraterip/";
  for (int digit = 0; digit < 3; ++digit) {
    path += kHex[(id.id1 >> (4 * digit)) & 0xF];
    path += '/';
  }
  return path + "dBAR-" + AccurateRipIdText(id) + ".bin";
}
