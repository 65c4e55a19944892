// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// One block of audio read through libcdio-paranoia, apart from the drive so that the handling
// of its callback can be checked without one.
#include <cstdint>
#include <functional>

#include <cdio/paranoia/paranoia.h>

using ParanoiaCallback = void (*)(long, paranoia_cb_mode_t);

// Reads `sectors` sectors into `out` (little-endian 16-bit samples), one `readSector` call
// each; readSector stands for cdio_paranoia_read_limited and must pass on the callback it is
// handed. False when a read gives nothing, or when libcdio-paranoia reported during the block
// that it skipped audio it could not read (PARANOIA_CB_SKIP) or that the drive failed a read
// (PARANOIA_CB_READERR): such a block holds filled-in audio and counts as a read error.
bool ReadParanoiaBlock(const std::function<int16_t*(ParanoiaCallback)>& readSector,
                       uint32_t sectors, uint8_t* out);
