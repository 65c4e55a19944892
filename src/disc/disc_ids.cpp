#include "disc/disc_ids.h"

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
