// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/q_subchannel.h"

#include <array>

namespace {

constexpr uint8_t kLeadOut = 0xAA;
constexpr uint32_t kSectorsPerSecond = 75;

// A number field of the frame, 0..99, from BCD or (some drives) binary; -1 when it is neither.
int Number(uint8_t byte, bool binary) {
  if (binary) return byte <= 99 ? byte : -1;
  const int high = byte >> 4, low = byte & 0x0F;
  return high <= 9 && low <= 9 ? high * 10 + low : -1;
}

uint8_t Bcd(int value) {
  return static_cast<uint8_t>(value / 10 << 4 | value % 10);
}

// Minutes, seconds and frames in sectors; nullopt past 59 seconds or 74 frames.
std::optional<uint32_t> Msf(const uint8_t* msf, bool binary) {
  const int minutes = Number(msf[0], binary);
  const int seconds = Number(msf[1], binary);
  const int frames = Number(msf[2], binary);
  if (minutes < 0 || seconds < 0 || seconds >= 60 || frames < 0 ||
      frames >= static_cast<int>(kSectorsPerSecond)) {
    return std::nullopt;
  }
  return (static_cast<uint32_t>(minutes) * 60 + static_cast<uint32_t>(seconds)) *
             kSectorsPerSecond +
         static_cast<uint32_t>(frames);
}

bool CrcHolds(const uint8_t* q) {
  return QCrc(q) == (q[10] << 8 | q[11]);
}

// A binary frame's CRC may still be the disc's: the one over the fields written in BCD.
bool BinaryCrcHolds(const uint8_t* q) {
  if (CrcHolds(q)) return true;
  std::array<uint8_t, 12> bcd;
  for (size_t i = 0; i < bcd.size(); ++i) bcd[i] = q[i];
  const bool position = (q[0] & 0x0F) == 1;
  for (size_t i = position ? 1 : 9; i <= 9; ++i) {
    if (i == 6 || (i == 1 && q[1] == kLeadOut)) continue;  // the zero byte; not a number
    if (q[i] > 99) return false;
    bcd[i] = Bcd(q[i]);
  }
  return CrcHolds(bcd.data());
}

// The ISRC's 6-bit character code: digits from 0, letters from 17.
char IsrcCharacter(unsigned code) {
  if (code <= 9) return static_cast<char>('0' + code);
  if (code >= 17 && code <= 42) return static_cast<char>('A' + (code - 17));
  return 0;
}

// The BCD digit in the high (first) or low nibble; 0 when it is not one.
char Digit(uint8_t byte, bool high) {
  const unsigned nibble = high ? byte >> 4 : byte & 0x0F;
  return nibble <= 9 ? static_cast<char>('0' + nibble) : 0;
}

// Checks and decodes 12 bytes of Q (10 bytes of frame, 2 of CRC).
std::optional<SubchannelFrame> ParseQ(const uint8_t* q, bool binary) {
  if (!(binary ? BinaryCrcHolds(q) : CrcHolds(q))) return std::nullopt;
  SubchannelFrame frame;
  frame.control = q[0] >> 4;
  switch (q[0] & 0x0F) {
    case 1: {
      frame.kind = SubchannelFrame::kPosition;
      const int track = q[1] == kLeadOut ? kLeadOut : Number(q[1], binary);
      const int index = Number(q[2], binary);
      const auto relative = Msf(q + 3, binary);
      const auto absolute = Msf(q + 7, binary);
      // Track 0 is the lead-in, whose frames are the TOC, not a position.
      if (track < 1 || index < 0 || !relative || !absolute) return std::nullopt;
      frame.track = static_cast<uint8_t>(track);
      frame.index = static_cast<uint8_t>(index);
      frame.relative = *relative;
      frame.absolute = *absolute;
      return frame;
    }
    case 2:
      // Thirteen digits, two to a byte; byte 9 counts the frames of the absolute time.
      frame.kind = SubchannelFrame::kCatalog;
      for (int i = 0; i < 13; ++i) frame.code += Digit(q[1 + i / 2], i % 2 == 0);
      break;
    case 3: {
      // Five 6-bit characters (country, owner) in bytes 1..4, two zero bits, then seven BCD
      // digits (year, serial) from byte 5; byte 9 again the frame count.
      frame.kind = SubchannelFrame::kIsrc;
      const uint32_t letters = static_cast<uint32_t>(q[1]) << 24 | q[2] << 16 | q[3] << 8 | q[4];
      for (int i = 0; i < 5; ++i) frame.code += IsrcCharacter(letters >> (26 - 6 * i) & 0x3F);
      for (int i = 0; i < 7; ++i) frame.code += Digit(q[5 + i / 2], i % 2 == 0);
      break;
    }
    default:
      return std::nullopt;
  }
  const int aframe = Number(q[9], binary);
  if (aframe < 0 || aframe >= static_cast<int>(kSectorsPerSecond)) return std::nullopt;
  if (frame.code.find('\0') != std::string::npos) return std::nullopt;
  return frame;
}

}  // namespace

uint16_t CdCrc16(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= static_cast<uint16_t>(bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return static_cast<uint16_t>(~crc);
}

uint16_t QCrc(const uint8_t* bytes10) {
  return CdCrc16(bytes10, 10);
}

std::optional<SubchannelFrame> ParseFormattedQ(const uint8_t* q16, bool binary) {
  return ParseQ(q16, binary);
}

void DeinterleaveQ(const uint8_t* raw96, uint8_t q12[12]) {
  for (int i = 0; i < 12; ++i) {
    uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      byte = static_cast<uint8_t>(byte << 1 | (raw96[8 * i + bit] >> 6 & 1));
    }
    q12[i] = byte;
  }
}

std::optional<SubchannelFrame> ParseRawQ(const uint8_t* raw96) {
  uint8_t q[12];
  DeinterleaveQ(raw96, q);
  return ParseQ(q, false);
}
