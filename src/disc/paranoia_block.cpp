// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/paranoia_block.h"

#include "disc/cdaccess.h"

namespace {

// What libcdio-paranoia reported through its callback during the current block. The callback
// takes no context; a block is read by one thread from start to end.
thread_local bool tParanoiaGaveUp = false;

void NoteParanoiaTrouble(long /*position*/, paranoia_cb_mode_t mode) {
  if (mode == PARANOIA_CB_SKIP || mode == PARANOIA_CB_READERR) tParanoiaGaveUp = true;
}

}  // namespace

bool ReadParanoiaBlock(const std::function<int16_t*(ParanoiaCallback)>& readSector,
                       uint32_t sectors, uint8_t* out) {
  tParanoiaGaveUp = false;
  for (uint32_t i = 0; i < sectors; ++i, out += kSectorBytes) {
    const int16_t* samples = readSector(NoteParanoiaTrouble);
    if (!samples || tParanoiaGaveUp) return false;
    // Paranoia hands out samples in host order; the buffer holds them little-endian.
    for (size_t s = 0; s < kSectorBytes / 2; ++s) {
      const auto sample = static_cast<uint16_t>(samples[s]);
      out[2 * s] = static_cast<uint8_t>(sample);
      out[2 * s + 1] = static_cast<uint8_t>(sample >> 8);
    }
  }
  return true;
}
