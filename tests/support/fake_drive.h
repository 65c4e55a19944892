// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// A scripted CD drive for tests: put it behind the CD-access calls with SetCdDevices() and
// steer it from the test thread while a worker reads from it; every knob and counter is safe
// from any thread. Audio is a fixed function of (sector, byte), so ExpectedAudio() checks a
// ripped file byte for byte. "Attempt n at sector S" is the n-th read (1-based, over all
// sessions) that starts at S.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "disc/cd_device.h"

struct FakeTrack {
  uint32_t start = 0;
  uint32_t length = 0;  // sectors
  bool data = false;    // control bit 0x04
};

struct FakeReadCall {
  uint32_t start = 0;
  uint32_t count = 0;
};

class FakeDrive : public CdDevice {
 public:
  FakeDrive();
  ~FakeDrive() override;

  // The bytes of `count` sectors from `start`, as a successful read delivers them.
  static std::string ExpectedAudio(uint32_t start, uint32_t count);

  // TOC of tracks 1..n; the lead-out follows the last track.
  void SetTracks(const std::vector<FakeTrack>& tracks);
  // Exactly these TOC bytes (malformed TOCs); reads end at the entry after the last track.
  void SetRawToc(const TocBuffer& toc);
  void SetTocFails(bool fails);         // a disc that opens but has no readable TOC
  void SetCannotOpen(bool cannotOpen);  // no disc, drive gone

  // Attempts first..last (1-based, inclusive; last INT_MAX: always) at `sector` fail.
  void FailAttempts(uint32_t sector, int first, int last);
  // Attempts first..last at `sector` deliver audio whose first byte is XORed with the attempt
  // number: each such read differs from the disc and from every other.
  void GarbleAttempts(uint32_t sector, int first, int last);
  // Reads at `sector` deliver from data + offset, `shortBy` bytes fewer than asked for; an
  // offset that does not fit the buffer is claimed without writing anything.
  void DeliverShifted(uint32_t sector, int32_t offset, uint32_t shortBy);
  // The next read at `sector` waits (before it delivers) until ReleaseRead().
  void BlockReadAt(uint32_t sector);
  // False after `timeout`: a test bug, not a timing.
  bool WaitUntilBlocked(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  void ReleaseRead();

  int Opens() const;   // sessions handed out
  int Closes() const;  // sessions destroyed
  std::vector<FakeReadCall> Reads() const;
  std::vector<std::pair<int, uint32_t>> OptionsSet() const;  // {which, value} in order

  std::string Description() const override { return "Obrin Fake Drive 1.0"; }
  std::unique_ptr<CdSession> Open() override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};
