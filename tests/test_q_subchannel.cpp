// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The Q sub-channel parsers on frames built here. Faults guarded:
// - the CRC computed with another polynomial, not inverted, or compared little-endian
// - a BCD field taken with a nibble above 9, or seconds, frames, index or track out of range
// - a lead-in (track 0) frame or another ADR taken as a position
// - the ISRC's 6-bit alphabet off by one, its digits or the MCN's read from the wrong nibble
// - binary frames refused, or their CRC only taken over the bytes as returned
// - raw P-W read from another bit than Q's, or other channels leaking into it
#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "disc/q_subchannel.h"

namespace {

using Q = std::array<uint8_t, 16>;

// CRC-16/CCITT fed one message bit at a time, unlike the byte-wise one under test.
uint16_t ReferenceCrc(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t bit = 0; bit < 8 * count; ++bit) {
    const bool feedback = (crc >> 15 ^ bytes[bit / 8] >> (7 - bit % 8)) & 1;
    crc = static_cast<uint16_t>(crc << 1 ^ (feedback ? 0x1021 : 0));
  }
  return crc;
}

// Ten bytes of frame and the CRC a disc stores after them (inverted, big-endian).
Q Frame(std::array<uint8_t, 10> bytes, const uint8_t* crcOver = nullptr) {
  Q q{};
  std::copy(bytes.begin(), bytes.end(), q.begin());
  const uint16_t crc = static_cast<uint16_t>(~ReferenceCrc(crcOver ? crcOver : q.data(), 10));
  q[10] = static_cast<uint8_t>(crc >> 8);
  q[11] = static_cast<uint8_t>(crc);
  return q;
}

uint8_t Bcd(int value) {
  return static_cast<uint8_t>(value / 10 << 4 | value % 10);
}

// ADR 1 in BCD: control, track, index, relative and absolute minutes, seconds, frames.
Q Position(int control, int track, int index, std::array<int, 6> times) {
  return Frame({static_cast<uint8_t>(control << 4 | 1), track == 0xAA ? uint8_t{0xAA} : Bcd(track),
                Bcd(index), Bcd(times[0]), Bcd(times[1]), Bcd(times[2]), 0, Bcd(times[3]),
                Bcd(times[4]), Bcd(times[5])});
}

SubchannelFrame Expected(SubchannelFrame::Kind kind, uint8_t control, uint8_t track, uint8_t index,
                         uint32_t rel, uint32_t abs, std::string code = "") {
  return SubchannelFrame{kind, control, track, index, rel, abs, code};
}

// Q in bit 6 of each byte; P carries Q's complement and R-W noise, so that reading any other
// bit gives another frame.
std::array<uint8_t, 96> Interleave(const Q& q) {
  std::array<uint8_t, 96> raw{};
  for (size_t i = 0; i < raw.size(); ++i) {
    const bool bit = q[i / 8] >> (7 - i % 8) & 1;
    raw[i] = static_cast<uint8_t>((bit ? 0x40 : 0x80) | ((i * 37 + 11) & 0x3F));
  }
  return raw;
}

TEST(QSubchannel, CrcIsCcittInvertedAsOnTheDisc) {
  // The published check value of CRC-16/XMODEM (polynomial 0x1021, initial 0).
  EXPECT_EQ(ReferenceCrc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);
  // LBA 0 (track 1, index 1, 00:02:00); the CRC is Python's binascii.crc_hqx(frame, 0) ^ 0xFFFF.
  const uint8_t firstSector[10] = {0x01, 0x01, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00};
  EXPECT_EQ(QCrc(firstSector), 0x5A28);
  uint8_t bytes[10] = {};
  for (uint32_t n = 1; n < 300; ++n) {
    for (int i = 0; i < 10; ++i) bytes[i] = static_cast<uint8_t>((n * 2654435761u) >> (3 * i));
    ASSERT_EQ(QCrc(bytes), static_cast<uint16_t>(~ReferenceCrc(bytes, 10))) << n;
  }
}

TEST(QSubchannel, DecodesPositionsCatalogNumbersAndIsrcs) {
  using K = SubchannelFrame::Kind;
  const std::vector<std::pair<Q, SubchannelFrame>> cases = {
      {Position(0, 1, 1, {0, 0, 0, 0, 2, 0}), Expected(K::kPosition, 0, 1, 1, 0, 150)},
      {Position(4, 12, 3, {4, 10, 33, 63, 59, 74}),
       Expected(K::kPosition, 4, 12, 3, 18783, 287999)},
      {Position(1, 99, 99, {0, 0, 1, 79, 0, 0}), Expected(K::kPosition, 1, 99, 99, 1, 355500)},
      {Position(0, 0xAA, 1, {0, 0, 5, 74, 0, 0}), Expected(K::kPosition, 0, 0xAA, 1, 5, 333000)},
      // A pregap counting down to 00:00:00; the next sector is index 1 at 00:00:00 too.
      {Position(0, 2, 0, {0, 0, 2, 3, 0, 0}), Expected(K::kPosition, 0, 2, 0, 2, 13500)},
      {Position(0, 2, 0, {0, 0, 1, 3, 0, 1}), Expected(K::kPosition, 0, 2, 0, 1, 13501)},
      {Position(0, 2, 0, {0, 0, 0, 3, 0, 2}), Expected(K::kPosition, 0, 2, 0, 0, 13502)},
      {Frame({0x02, 0x07, 0x24, 0x38, 0x49, 0x60, 0x52, 0x80, 0, 0x42}),
       Expected(K::kCatalog, 0, 0, 0, 0, 0, "0724384960528")},
      // ISRCs packed by hand: G=23 B=18 A=17 Y=41 E=21, two zero bits, BCD; U=37 S=35 R=34 C=19.
      {Frame({0x03, 0x5D, 0x24, 0x69, 0x54, 0x99, 0x00, 0x00, 0x10, 0x17}),
       Expected(K::kIsrc, 0, 0, 0, 0, 0, "GBAYE9900001")},
      {Frame({0x43, 0x96, 0x38, 0x93, 0x04, 0x76, 0x07, 0x83, 0x90, 0x74}),
       Expected(K::kIsrc, 4, 0, 0, 0, 0, "USRC17607839")},
      {Frame({0x03, 0xAA, 0xA2, 0x6A, 0x24, 0, 0, 0, 0, 0}),
       Expected(K::kIsrc, 0, 0, 0, 0, 0, "ZZ9Z90000000")},
  };
  for (const auto& [q, expected] : cases) {
    EXPECT_EQ(ParseFormattedQ(q.data()), expected) << expected.code << expected.absolute;
  }
}

TEST(QSubchannel, RefusesBrokenCrcsAndFieldsOutOfRange) {
  const Q good = Position(0, 2, 1, {1, 2, 3, 4, 5, 6});
  ASSERT_TRUE(ParseFormattedQ(good.data()));
  Q flipped = good, swapped = good, plain = good;
  flipped[4] ^= 0x01;
  std::swap(swapped[10], swapped[11]);
  plain[10] = static_cast<uint8_t>(~plain[10]), plain[11] = static_cast<uint8_t>(~plain[11]);
  for (const Q& q : {flipped, swapped, plain}) EXPECT_FALSE(ParseFormattedQ(q.data()));

  // Each with a CRC that holds: only the field refuses it.
  const std::vector<std::array<uint8_t, 10>> refused = {
      {0x01, 0x1A, 0x01, 0, 0, 0, 0, 0, 0x02, 0},                 // track nibble above 9
      {0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0x02, 0},                 // track 0: the lead-in's TOC
      {0x01, 0xA0, 0x01, 0, 0, 0, 0, 0, 0x02, 0},                 // a TOC pointer, not a track
      {0x01, 0x01, 0x0A, 0, 0, 0, 0, 0, 0x02, 0},                 // index nibble
      {0x01, 0x01, 0x01, 0xA0, 0, 0, 0, 0, 0x02, 0},              // relative minutes nibble
      {0x01, 0x01, 0x01, 0, 0x60, 0, 0, 0, 0x02, 0},              // relative second 60
      {0x01, 0x01, 0x01, 0, 0, 0x75, 0, 0, 0x02, 0},              // relative frame 75
      {0x01, 0x01, 0x01, 0, 0, 0, 0, 0, 0x60, 0},                 // absolute second 60
      {0x01, 0x01, 0x01, 0, 0, 0, 0, 0, 0x02, 0x75},              // absolute frame 75
      {0x00, 0x01, 0x01, 0, 0, 0, 0, 0, 0x02, 0},                 // ADR 0
      {0x05, 0x01, 0x01, 0, 0, 0, 0, 0, 0x02, 0},                 // ADR 5
      {0x02, 0x07, 0x24, 0x3A, 0x49, 0x60, 0x52, 0x80, 0, 0},     // MCN digit nibble
      {0x02, 0x07, 0x24, 0x38, 0x49, 0x60, 0x52, 0x80, 0, 0x75},  // MCN frame count 75
      {0x03, 0x28, 0x24, 0x69, 0x54, 0x99, 0, 0, 0x10, 0},        // ISRC code 10
      {0x03, 0x40, 0x24, 0x69, 0x54, 0x99, 0, 0, 0x10, 0},        // code 16, just below A
      {0x03, 0xAC, 0x24, 0x69, 0x54, 0x99, 0, 0, 0x10, 0},        // code 43, just past Z
      {0x03, 0x5D, 0x24, 0x69, 0x54, 0x99, 0, 0, 0xF0, 0},        // ISRC serial nibble
  };
  for (const auto& bytes : refused) {
    EXPECT_FALSE(ParseFormattedQ(Frame(bytes).data())) << int{bytes[0]} << " " << int{bytes[1]};
  }
}

TEST(QSubchannel, BinaryFramesWithTheDrivesCrcOrTheDiscs) {
  const std::array<uint8_t, 10> binary = {0x41, 12, 3, 4, 10, 33, 0, 63, 59, 74};
  const SubchannelFrame expected = Expected(SubchannelFrame::kPosition, 4, 12, 3, 18783, 287999);
  const Q discs = Position(4, 12, 3, {4, 10, 33, 63, 59, 74});
  EXPECT_EQ(ParseFormattedQ(Frame(binary).data(), true), expected);
  EXPECT_EQ(ParseFormattedQ(Frame(binary, discs.data()).data(), true), expected);
  EXPECT_FALSE(ParseFormattedQ(Frame(binary).data()));
  EXPECT_FALSE(ParseFormattedQ(discs.data(), true));  // 0x59 is second 89
  EXPECT_EQ(ParseFormattedQ(Frame({0x01, 0xAA, 1, 0, 0, 5, 0, 74, 0, 0}).data(), true),
            Expected(SubchannelFrame::kPosition, 0, 0xAA, 1, 5, 333000));
  // An MCN keeps its BCD digits; only its frame count is a number.
  EXPECT_EQ(
      ParseFormattedQ(Frame({0x02, 0x07, 0x24, 0x38, 0x49, 0x60, 0x52, 0x80, 0, 74}).data(), true),
      Expected(SubchannelFrame::kCatalog, 0, 0, 0, 0, 0, "0724384960528"));
  for (const auto& bytes :
       std::vector<std::array<uint8_t, 10>>{{0x01, 1, 100, 0, 0, 0, 0, 0, 2, 0},
                                            {0x01, 1, 1, 0, 60, 0, 0, 0, 2, 0},
                                            {0x01, 1, 1, 0, 0, 0, 0, 0, 2, 75},
                                            {0x01, 100, 1, 0, 0, 0, 0, 0, 2, 0}}) {
    EXPECT_FALSE(ParseFormattedQ(Frame(bytes).data(), true)) << int{bytes[2]};
  }
}

TEST(QSubchannel, RawPwGivesQFromBitSix) {
  for (const Q& q : {Position(0, 7, 0, {0, 1, 12, 20, 30, 40}),
                     Frame({0x03, 0x5D, 0x24, 0x69, 0x54, 0x99, 0x00, 0x00, 0x10, 0x17})}) {
    std::array<uint8_t, 96> raw = Interleave(q);
    uint8_t q12[12];
    DeinterleaveQ(raw.data(), q12);
    EXPECT_TRUE(std::equal(q12, q12 + 12, q.begin()));
    ASSERT_TRUE(ParseRawQ(raw.data()));
    EXPECT_EQ(ParseRawQ(raw.data()), ParseFormattedQ(q.data()));
    for (uint8_t& byte : raw) byte ^= 0xBF;  // every channel but Q
    EXPECT_EQ(ParseRawQ(raw.data()), ParseFormattedQ(q.data()));
    raw[37] ^= 0x40;
    EXPECT_FALSE(ParseRawQ(raw.data()));
  }
}

}  // namespace
