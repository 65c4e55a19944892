// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// One block of audio read through libcdio-paranoia, apart from the drive so that the handling
// of its callback can be checked without one.
#include <cstdint>
#include <functional>
#include <set>

#include <cdio/paranoia/paranoia.h>

using ParanoiaCallback = void (*)(long, paranoia_cb_mode_t);

// Reads `sectors` sectors from `firstSector` into `out` (little-endian 16-bit samples), one
// `readSector` call each; readSector stands for cdio_paranoia_read_limited and must pass on
// the callback it is handed. False when a read gives nothing, or when libcdio-paranoia
// reported during the block that it skipped audio it could not read (PARANOIA_CB_SKIP), or
// that the drive failed a read (PARANOIA_CB_READERR) there or before: such a block holds
// filled-in audio and counts as a read error. Paranoia reads far past the block it is asked
// for; a failed read it reports beyond the block's end goes into `unreadFrom` (sectors where
// a failed read began) instead: the caller makes paranoia read those again (a seek empties
// what it made up there) before it hands them out.
bool ReadParanoiaBlock(const std::function<int16_t*(ParanoiaCallback)>& readSector,
                       int64_t firstSector, uint32_t sectors, uint8_t* out,
                       std::set<int64_t>& unreadFrom);
