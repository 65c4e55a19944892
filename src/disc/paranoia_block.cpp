// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/paranoia_block.h"

#include "disc/cdaccess.h"

#include <vector>

namespace {

// What libcdio-paranoia reported through its callback during the current block. The callback
// takes no context; a block is read by one thread from start to end.
thread_local bool tParanoiaGaveUp = false;
thread_local std::vector<int64_t> tReadErrorsAt;  // sectors where a failed read began

constexpr long kWordsPerSector = kSectorBytes / 2;

void NoteParanoiaTrouble(long position, paranoia_cb_mode_t mode) {
  if (mode == PARANOIA_CB_SKIP) tParanoiaGaveUp = true;
  if (mode == PARANOIA_CB_READERR) tReadErrorsAt.push_back(position / kWordsPerSector);
}

}  // namespace

bool ReadParanoiaBlock(const std::function<int16_t*(ParanoiaCallback)>& readSector,
                       int64_t firstSector, uint32_t sectors, uint8_t* out,
                       std::set<int64_t>& unreadFrom) {
  tParanoiaGaveUp = false;
  tReadErrorsAt.clear();
  const int64_t end = firstSector + sectors;
  for (uint32_t i = 0; i < sectors; ++i, out += kSectorBytes) {
    const int16_t* samples = readSector(NoteParanoiaTrouble);
    bool failedHere = false;
    for (const int64_t at : tReadErrorsAt) {
      if (at >= end) {
        unreadFrom.insert(at);
      } else {
        failedHere = true;
      }
    }
    tReadErrorsAt.clear();
    if (!samples || tParanoiaGaveUp || failedHere) return false;
    // Paranoia hands out samples in host order; the buffer holds them little-endian.
    for (size_t s = 0; s < kSectorBytes / 2; ++s) {
      const auto sample = static_cast<uint16_t>(samples[s]);
      out[2 * s] = static_cast<uint8_t>(sample);
      out[2 * s + 1] = static_cast<uint8_t>(sample >> 8);
    }
  }
  return true;
}
