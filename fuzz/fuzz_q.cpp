// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Fuzz target: arbitrary bytes as the sub-channel after a sector, the first 16 as formatted Q
// (read as BCD and as binary), the first 96 as raw P-W; each also with its CRC made to hold,
// so that inputs reach the fields behind it. Invariants:
//  - a frame is of the ADR it came from, with its control nibble; read as BCD, its CRC holds;
//  - a position has track 1..99 or 0xAA and index 0..99, and written back (BCD or binary)
//    gives the bytes it came from;
//  - an MCN is 13 digits, an ISRC five of A-Z and 0-9 then seven digits;
//  - raw P-W parses exactly as its deinterleaved Q does as formatted Q;
//  - the index search over a drive that serves the input's frames (CRCs made to hold, in
//    turn, whatever was asked) ends within a bounded number of reads, with pregaps within the
//    stretch before each track and later indexes rising inside their track.
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "disc/q_search.h"
#include "disc/q_subchannel.h"
#include "fuzz_support.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

uint8_t Put(uint32_t value, bool binary) {
  return static_cast<uint8_t>(binary ? value : (value / 10) << 4 | value % 10);
}

// Sectors as minutes, seconds and frames, compared with the three bytes at `msf`.
bool SameTime(uint32_t sectors, const uint8_t* msf, bool binary) {
  return sectors < 100 * 60 * 75 && msf[0] == Put(sectors / (60 * 75), binary) &&
         msf[1] == Put(sectors / 75 % 60, binary) && msf[2] == Put(sectors % 75, binary);
}

void Check(const std::optional<SubchannelFrame>& frame, const uint8_t* q, bool binary) {
  if (!frame) return;
  FUZZ_CHECK(frame->control == q[0] >> 4);
  if (!binary) FUZZ_CHECK(QCrc(q) == (q[10] << 8 | q[11]));
  const std::string& code = frame->code;
  switch (frame->kind) {
    case SubchannelFrame::kPosition:
      FUZZ_CHECK((q[0] & 0x0F) == 1 && code.empty());
      FUZZ_CHECK((frame->track >= 1 && frame->track <= 99) || frame->track == 0xAA);
      FUZZ_CHECK(frame->index <= 99);
      FUZZ_CHECK(q[1] == (frame->track == 0xAA ? 0xAA : Put(frame->track, binary)));
      FUZZ_CHECK(q[2] == Put(frame->index, binary));
      FUZZ_CHECK(SameTime(frame->relative, q + 3, binary));
      FUZZ_CHECK(SameTime(frame->absolute, q + 7, binary));
      break;
    case SubchannelFrame::kCatalog:
      FUZZ_CHECK((q[0] & 0x0F) == 2 && code.size() == 13);
      for (char c : code) FUZZ_CHECK(IsDigit(c));
      break;
    case SubchannelFrame::kIsrc:
      FUZZ_CHECK((q[0] & 0x0F) == 3 && code.size() == 12);
      for (size_t i = 0; i < code.size(); ++i) {
        FUZZ_CHECK(IsDigit(code[i]) || (i < 5 && code[i] >= 'A' && code[i] <= 'Z'));
      }
      break;
  }
}

void FixCrc(uint8_t* q) {
  const uint16_t crc = QCrc(q);
  q[10] = static_cast<uint8_t>(crc >> 8);
  q[11] = static_cast<uint8_t>(crc);
}

void Search(const uint8_t* data, size_t size) {
  if (size < 2 + 10) return;
  // Up to eight tracks of the lengths the first bytes give, from 0 on.
  std::vector<QSearchTrack> tracks;
  uint32_t at = 0;
  const int count = 1 + data[0] % 8;
  for (int t = 0; t < count; ++t) {
    const uint32_t length = 2 + (data[1] >> (t % 8) & 1) * 300 + static_cast<uint32_t>(t) * 37;
    tracks.push_back({static_cast<uint8_t>(t + 1), at, at + length, true});
    at += length;
  }
  const size_t frames = (size - 2) / 10;
  size_t next = 0;
  const QSectorReader read = [&](int32_t, bool, uint8_t q[16]) {
    std::memset(q, 0, 16);
    std::memcpy(q, data + 2 + 10 * (next++ % frames), 10);
    FixCrc(q);
    return true;
  };
  const QIndexFindings found = FindIndexesInQ(tracks, read, {std::chrono::seconds(5), 24});
  // Each position costs at most its attempts (two ways each); a track one search back from its
  // index 1 and one forward for each of at most 98 later indexes, each a doubling or a
  // halving a bit of its length and a few stalls.
  FUZZ_CHECK(found.sectorsRead <= uint64_t{tracks.size()} * 100 * 40 * 24 * 2);
  FUZZ_CHECK(found.pregaps.size() == tracks.size() && found.indexes.size() == tracks.size());
  for (size_t t = 0; t < tracks.size(); ++t) {
    FUZZ_CHECK(found.pregaps[t] <=
               (t == 0 ? tracks[0].start : tracks[t].start - tracks[t - 1].start));
    uint32_t after = tracks[t].start;
    uint8_t number = 1;
    for (const TrackIndexMark& mark : found.indexes[t]) {
      FUZZ_CHECK(mark.sector > after && mark.sector < tracks[t].end && mark.number > number);
      after = mark.sector, number = mark.number;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 16) {
    uint8_t q[16];
    std::memcpy(q, data, sizeof q);
    for (int pass = 0; pass < 2; ++pass) {
      for (bool binary : {false, true}) Check(ParseFormattedQ(q, binary), q, binary);
      FixCrc(q);
    }
  }
  if (size >= 96) {
    uint8_t raw[96];
    std::memcpy(raw, data, sizeof raw);
    for (int pass = 0; pass < 2; ++pass) {
      uint8_t q[16] = {};
      DeinterleaveQ(raw, q);
      if (pass == 1) FUZZ_CHECK(QCrc(q) == (q[10] << 8 | q[11]));
      const std::optional<SubchannelFrame> frame = ParseRawQ(raw);
      FUZZ_CHECK(frame == ParseFormattedQ(q));
      Check(frame, q, false);
      // The CRC that holds, put back into bit 6 of the last 16 bytes.
      FixCrc(q);
      for (int bit = 0; bit < 16; ++bit) {
        const bool set = q[10 + bit / 8] >> (7 - bit % 8) & 1;
        raw[80 + bit] = static_cast<uint8_t>((raw[80 + bit] & ~0x40) | (set ? 0x40 : 0));
      }
    }
  }
  Search(data, size);
  return 0;
}
