// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The Q sub-channel a drive hands back after each sector of a READ CD: where the sector lies
// (track, index, times), the disc's catalog number or the track's ISRC. The parsers take only
// frames whose CRC holds and whose fields are in range, since a Q frame off the surface is
// protected by nothing else.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Not "QFrame": Qt's widget of that name lives in the same program.
struct SubchannelFrame {
  enum Kind { kPosition, kCatalog, kIsrc };
  Kind kind = kPosition;  // ADR 1, 2, 3
  uint8_t control = 0;    // byte 0's high nibble: 4 data, 2 copy permitted, 1 pre-emphasis
  uint8_t track = 0;      // kPosition: 1..99, or 0xAA in the lead-out
  uint8_t index = 0;      // kPosition: 0..99, 0 in a pregap
  uint32_t relative = 0;  // kPosition: the track's time in sectors, as on the disc; in a
                          // pregap it counts down, to 0 on some discs and 1 on others
  uint32_t absolute = 0;  // kPosition: the disc's time in sectors (LBA + 150)
  std::string code;       // kCatalog: 13 digits; kIsrc: 12 characters of A-Z and 0-9
  bool operator==(const SubchannelFrame&) const = default;
};

// The CRC the sub-channel's frames and CD-Text's packs carry: CCITT (0x1021, from 0), stored
// inverted and big-endian after the bytes it covers.
uint16_t CdCrc16(const uint8_t* bytes, size_t count);

// The CRC as a frame stores it (inverted, bytes 10..11 big-endian) for Q bytes 0..9.
uint16_t QCrc(const uint8_t* bytes10);

// The 16 bytes of formatted Q (READ CD sub-channel 010b): CONTROL<<4 | ADR, 9 bytes of data,
// the CRC, 4 bytes not read. nullopt for a CRC that fails, another ADR, a position outside
// the program area and lead-out (the lead-in's TOC frames included), or a field out of
// range. `binary`: the numbers of the frame (track, index, times, an MCN's or ISRC's frame
// count) are plain binary, as some drives return them; the CRC may then be the disc's, over
// the BCD, or one the drive made over what it returns, and either is taken.
std::optional<SubchannelFrame> ParseFormattedQ(const uint8_t* q16, bool binary = false);

// The 96 Q bits of raw P-W (READ CD sub-channel 001b: one byte per bit time, P in bit 7, Q in
// bit 6) as the 12 bytes of a Q frame, MSB first.
void DeinterleaveQ(const uint8_t* raw96, uint8_t q12[12]);

// Raw P-W's Q frame, with ParseFormattedQ's checks (raw Q is always BCD).
std::optional<SubchannelFrame> ParseRawQ(const uint8_t* raw96);
