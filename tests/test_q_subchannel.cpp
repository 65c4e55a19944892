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

#include "disc/q_search.h"
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

// ---- The search for indexes, over a disc modelled here: each sector's track and index,
// served as a drive would, with the faults drives have.

struct ModelTrack {
  uint8_t number;
  uint32_t indexZero, start, end;  // index 0 from indexZero, index 1 from start
  std::vector<std::pair<uint8_t, uint32_t>> later;
};

struct ModelDrive {
  std::vector<ModelTrack> tracks;
  double corrupt = 0;     // share of frames with a broken CRC
  int lag = 0;            // the Q handed back is that of the sector `lag` further on
  bool binary = false;    // formatted Q in binary, CRC over it
  bool formatted = true;  // formatted Q offered
  bool raw = true;        // raw P-W offered
  uint64_t reads = 0, seed = 7;

  bool Read(int32_t lsn, bool wantRaw, uint8_t q[16]) {
    ++reads;
    if (wantRaw ? !raw : !formatted) return false;
    const int32_t at = lsn + lag;
    const ModelTrack* track = &tracks.front();
    for (const ModelTrack& t : tracks) {
      if (static_cast<uint32_t>(at) >= t.indexZero) track = &t;
    }
    int index = static_cast<uint32_t>(at) < track->start ? 0 : 1;
    for (const auto& [number, sector] : track->later) {
      if (static_cast<uint32_t>(at) >= sector) index = number;
    }
    const uint32_t relative = index == 0 ? track->start - at : at - track->start;
    const uint32_t absolute = static_cast<uint32_t>(at) + 150;
    const auto msf = [](uint32_t s) {
      return std::array<int, 3>{int(s / 4500), int(s / 75 % 60), int(s % 75)};
    };
    const auto r = msf(relative), a = msf(absolute);
    Q frame = Position(0, track->number, index, {r[0], r[1], r[2], a[0], a[1], a[2]});
    // One frame in a hundred is an MCN's.
    if (at % 100 == 99) frame = Frame({0x02, 0x07, 0x24, 0x38, 0x49, 0x60, 0x52, 0x80, 0, Bcd(3)});
    if (binary && !wantRaw) {
      for (int i : {1, 2, 3, 4, 5, 7, 8, 9})
        frame[i] = static_cast<uint8_t>((frame[i] >> 4) * 10 + (frame[i] & 15));
      frame = Frame({frame[0], frame[1], frame[2], frame[3], frame[4], frame[5], frame[6], frame[7],
                     frame[8], frame[9]});
    }
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    if (static_cast<double>(seed >> 11) / 9007199254740992.0 < corrupt) frame[11] ^= 0x40;
    std::copy(frame.begin(), frame.end(), q);
    return true;
  }
};

// Twenty tracks of three minutes: pregaps of 0..150 sectors, and later indexes on a few.
constexpr uint32_t kTrack = 13500, kDisc = 20 * kTrack;

ModelDrive TwentyTracks() {
  ModelDrive drive;
  for (uint8_t n = 1; n <= 20; ++n) {
    const uint32_t start = (n - 1) * kTrack;
    const uint32_t pregap = n == 1 ? 0 : (n * 37u) % 151u;
    ModelTrack t{n, start - pregap, start, start + kTrack, {}};
    if (n % 6 == 3) t.later = {{2, start + 300}, {3, start + 301}, {5, start + 9000}};
    drive.tracks.push_back(t);
  }
  // Each track runs to the next one's pregap.
  for (size_t i = 0; i + 1 < drive.tracks.size(); ++i)
    drive.tracks[i].end = drive.tracks[i + 1].indexZero;
  drive.tracks.back().end = kDisc;
  return drive;
}

std::vector<QSearchTrack> TocOf(const ModelDrive& drive) {
  std::vector<QSearchTrack> toc;
  for (size_t i = 0; i < drive.tracks.size(); ++i) {
    const uint32_t next = i + 1 < drive.tracks.size() ? drive.tracks[i + 1].start : kDisc;
    toc.push_back({drive.tracks[i].number, drive.tracks[i].start, next, true});
  }
  return toc;
}

void ExpectFound(const ModelDrive& drive, const QIndexFindings& found) {
  ASSERT_EQ(found.pregaps.size(), drive.tracks.size());
  for (size_t i = 0; i < drive.tracks.size(); ++i) {
    const ModelTrack& t = drive.tracks[i];
    EXPECT_EQ(found.pregaps[i], t.start - t.indexZero) << "track " << int{t.number};
    std::vector<TrackIndexMark> later;
    for (const auto& [number, sector] : t.later) later.push_back({number, sector});
    EXPECT_EQ(found.indexes[i], later) << "track " << int{t.number};
  }
}

// Faults guarded: a pregap off by one at either end, an index number skipped over or
// taken twice, frames that fail their CRC taken (or one bad frame ending the search), a
// drive's lagging Q placing a boundary where the sector read was rather than where its frame
// says, binary or raw-only Q left unused, and a drive with no Q searched for ever.
TEST(QSearch, FindsPregapsAndLaterIndexesWithinTwoPercentOfTheDisc) {
  const struct {
    const char* name;
    double corrupt;
    int lag;
    bool binary, formatted;
  } drives[] = {
      {"clean", 0, 0, false, true},           {"half corrupt", 0.5, 0, false, true},
      {"lagging Q", 0.1, 1, false, true},     {"binary Q", 0, 0, true, true},
      {"raw P-W only", 0.2, 0, false, false},
  };
  for (const auto& d : drives) {
    SCOPED_TRACE(d.name);
    ModelDrive drive = TwentyTracks();
    drive.corrupt = d.corrupt, drive.lag = d.lag, drive.binary = d.binary,
    drive.formatted = d.formatted;
    const auto found = FindIndexesInQ(TocOf(drive), [&](int32_t lsn, bool raw, uint8_t q[16]) {
      return drive.Read(lsn, raw, q);
    });
    EXPECT_TRUE(found.usable);
    EXPECT_TRUE(found.finished);
    ExpectFound(drive, found);
    EXPECT_EQ(found.sectorsRead, drive.reads);
    EXPECT_LE(drive.reads, kDisc * 2 / 100) << drive.reads << " reads";
  }
}

TEST(QSearch, ADriveWithoutUsableQGivesTheTocAloneAndSoon) {
  for (const bool answers : {false, true}) {
    ModelDrive drive = TwentyTracks();
    drive.formatted = drive.raw = answers;
    drive.corrupt = answers ? 1.0 : 0;  // it answers, but no frame holds
    const auto found = FindIndexesInQ(TocOf(drive), [&](int32_t lsn, bool raw, uint8_t q[16]) {
      return drive.Read(lsn, raw, q);
    });
    EXPECT_FALSE(found.usable);
    EXPECT_EQ(found.pregaps, std::vector<uint32_t>(20, 0));
    EXPECT_LE(drive.reads, 64u);
  }
  // Out of time: what was found is kept and the search says it did not finish.
  ModelDrive drive = TwentyTracks();
  const auto found = FindIndexesInQ(
      TocOf(drive), [&](int32_t lsn, bool raw, uint8_t q[16]) { return drive.Read(lsn, raw, q); },
      {std::chrono::seconds(0), 8});
  EXPECT_FALSE(found.finished);
  EXPECT_EQ(drive.reads, 0u);
}

// Track 1's pregap is the stretch before its index 1 (a hidden track's room), known from
// the TOC; a data track and the track after it are not searched.
TEST(QSearch, TrackOneAndDataTracks) {
  ModelDrive drive;
  drive.tracks = {{1, 0, 2400, 3000, {}}, {2, 3000, 3000, 3500, {}}, {3, 3400, 3500, 4000, {}}};
  std::vector<QSearchTrack> toc = {
      {1, 2400, 3000, true}, {2, 3000, 3500, false}, {3, 3500, 4000, true}};
  const auto found = FindIndexesInQ(
      toc, [&](int32_t lsn, bool raw, uint8_t q[16]) { return drive.Read(lsn, raw, q); });
  EXPECT_EQ(found.pregaps, (std::vector<uint32_t>{2400, 0, 0}));
}

TEST(QSearch, TheIsrcMostFramesGiveWins) {
  EXPECT_EQ(MajorityIsrc({"USABC1200001", "USABC1200001", "USABC1200002"}), "USABC1200001");
  EXPECT_EQ(MajorityIsrc({"USABC1200002"}), "USABC1200002");
  EXPECT_EQ(MajorityIsrc({"USABC1200001", "USABC1200002"}), std::nullopt);
  EXPECT_EQ(MajorityIsrc({"A", "B", "C", "A"}), std::nullopt);
  EXPECT_EQ(MajorityIsrc({}), std::nullopt);
}

}  // namespace
