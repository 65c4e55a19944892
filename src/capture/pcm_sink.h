// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
#include <cstddef>
#include <cstdint>

// The pieces a sink may still be working on while the read loop reads the next. An encoder
// on its own thread gets through a piece in under a millisecond from an image: with only
// three in hand it waited whenever the reading thread lost its core for a moment (to the
// loudness meter, say), and a rip with ReplayGain took a tenth longer.
inline constexpr uint64_t kPiecesInFlight = 12;

// Where the read loop puts the audio it reads.
class PcmSink {
 public:
  virtual ~PcmSink() = default;
  // False when the bytes could not be written in full. From the read loop, the bytes stay
  // as they are until kPiecesInFlight more Writes have returned (or the loop ends): it reads
  // into that many buffers and one more by turns, so that a sink may go on working on
  // earlier pieces while the next is read.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // The read loop is done, and its buffers go: a sink still working on the last piece
  // finishes with it. False when that piece (or one before it that Write could no longer
  // report) could not be written.
  virtual bool Drain() { return true; }
};
