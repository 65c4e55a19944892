// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "support/fake_drive.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

struct FakeDrive::State {
  mutable std::mutex mutex;
  std::condition_variable changed;
  TocBuffer toc{};
  uint64_t leadOut = UINT64_MAX;
  bool tocFails = false, cannotOpen = false;
  struct Failure {
    int first, last;
  };
  std::multimap<uint32_t, Failure> failures, garbles;
  std::map<uint32_t, std::pair<int32_t, uint32_t>> shifts;
  std::map<uint32_t, int> attempts;
  bool gateArmed = false, gateOccupied = false;
  uint32_t gateSector = 0;
  int opens = 0, closes = 0;
  std::vector<FakeReadCall> reads;
  std::vector<std::pair<int, uint32_t>> options;
};

namespace {

// Byte `position` of the disc's audio, counted from sector 0.
uint8_t AudioByte(uint32_t position) {
  uint32_t v = position;
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  v *= 0x846CA68Bu;
  return static_cast<uint8_t>(v ^ (v >> 16));
}

class FakeSession : public CdSession {
 public:
  explicit FakeSession(std::shared_ptr<FakeDrive::State> state) : s_(std::move(state)) {}
  ~FakeSession() override {
    std::lock_guard lock(s_->mutex);
    ++s_->closes;
  }
  bool ReadToc(TocBuffer& toc) override {
    std::lock_guard lock(s_->mutex);
    if (!s_->tocFails) toc = s_->toc;
    return !s_->tocFails;
  }
  bool SetOption(int which, uint32_t value) override {
    std::lock_guard lock(s_->mutex);
    s_->options.emplace_back(which, value);
    return true;
  }
  bool ReadAudio(TrackBuffer& buffer, uint32_t& libError, uint32_t& aspiStatus) override {
    std::unique_lock lock(s_->mutex);
    const uint32_t start = buffer.startSector, count = buffer.sectorCount;
    const int attempt = ++s_->attempts[start];
    s_->reads.push_back({start, count});
    if (s_->gateArmed && s_->gateSector == start) {
      s_->gateOccupied = true;
      s_->changed.notify_all();
      s_->changed.wait(lock, [&] { return !s_->gateArmed; });
      s_->gateOccupied = false;
    }
    auto fail = [&](uint32_t lib, uint32_t aspi) {
      libError = lib;
      aspiStatus = aspi;
      return false;
    };
    if (uint64_t{start} + count > s_->leadOut) return fail(kCdErrPastEnd, kAspiError);
    for (auto [it, end] = s_->failures.equal_range(start); it != end; ++it) {
      if (attempt >= it->second.first && attempt <= it->second.last) {
        return fail(kCdErrRead, kAspiError);
      }
    }
    const auto shift = s_->shifts.count(start) ? s_->shifts[start] : std::pair<int32_t, uint32_t>{};
    const uint32_t asked = count * kSectorBytes;
    const uint32_t length = asked - std::min(shift.second, asked);
    buffer.deliveredLength = length;
    buffer.offset = shift.first;
    if (shift.first < 0 || uint64_t(shift.first) + length > buffer.capacity) {
      return true;  // a drive that claims bytes outside the buffer; the caller must not trust it
    }
    bool garbled = false;
    for (auto [it, end] = s_->garbles.equal_range(start); it != end; ++it) {
      garbled = garbled || (attempt >= it->second.first && attempt <= it->second.last);
    }
    lock.unlock();
    uint8_t* data = TrackBufferData(&buffer);
    std::memset(data, 0xEE, static_cast<size_t>(shift.first));
    std::memcpy(data + shift.first, FakeDrive::ExpectedAudio(start, count).data(), length);
    if (garbled && length > 0) data[shift.first] ^= static_cast<uint8_t>(attempt);
    return true;
  }

 private:
  std::shared_ptr<FakeDrive::State> s_;
};

}  // namespace

FakeDrive::FakeDrive() : state_(std::make_shared<State>()) {
  SetTracks({{0, 4500, false}, {4500, 3000, false}, {7500, 6000, false}});
}

FakeDrive::~FakeDrive() = default;

std::string FakeDrive::ExpectedAudio(uint32_t start, uint32_t count) {
  std::string bytes(size_t{count} * kSectorBytes, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(AudioByte(static_cast<uint32_t>(start * kSectorBytes + i)));
  }
  return bytes;
}

void FakeDrive::SetTracks(const std::vector<FakeTrack>& tracks) {
  std::vector<CdTocTrack> entries;
  uint32_t leadOut = 0;
  for (const auto& track : tracks) {
    entries.push_back({track.start, static_cast<uint8_t>(track.data ? 0x04 : 0x00)});
    leadOut = track.start + track.length;
  }
  std::lock_guard lock(state_->mutex);
  FillTocBuffer(1, entries, leadOut, state_->toc);
  state_->leadOut = leadOut;
}

void FakeDrive::SetRawToc(const TocBuffer& toc) {
  std::lock_guard lock(state_->mutex);
  state_->toc = toc;
  const int count = toc.lastTrack - toc.firstTrack + 1;
  state_->leadOut = count >= 0 && count < 100 ? TocEntryAddress(toc.entries[count]) : UINT64_MAX;
}

void FakeDrive::SetTocFails(bool fails) {
  std::lock_guard lock(state_->mutex);
  state_->tocFails = fails;
}

void FakeDrive::SetCannotOpen(bool cannotOpen) {
  std::lock_guard lock(state_->mutex);
  state_->cannotOpen = cannotOpen;
}

void FakeDrive::FailAttempts(uint32_t sector, int first, int last) {
  std::lock_guard lock(state_->mutex);
  state_->failures.emplace(sector, State::Failure{first, last});
}

void FakeDrive::GarbleAttempts(uint32_t sector, int first, int last) {
  std::lock_guard lock(state_->mutex);
  state_->garbles.emplace(sector, State::Failure{first, last});
}

void FakeDrive::DeliverShifted(uint32_t sector, int32_t offset, uint32_t shortBy) {
  std::lock_guard lock(state_->mutex);
  state_->shifts[sector] = {offset, shortBy};
}

void FakeDrive::BlockReadAt(uint32_t sector) {
  std::lock_guard lock(state_->mutex);
  state_->gateArmed = true;
  state_->gateSector = sector;
}

bool FakeDrive::WaitUntilBlocked(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->gateOccupied; });
}

void FakeDrive::ReleaseRead() {
  std::lock_guard lock(state_->mutex);
  state_->gateArmed = false;
  state_->changed.notify_all();
}

#define FAKE_DRIVE_COUNTER(Type, Name, member) \
  Type FakeDrive::Name() const {               \
    std::lock_guard lock(state_->mutex);       \
    return state_->member;                     \
  }
FAKE_DRIVE_COUNTER(int, Opens, opens)
FAKE_DRIVE_COUNTER(int, Closes, closes)
FAKE_DRIVE_COUNTER(std::vector<FakeReadCall>, Reads, reads)
using OptionList = std::vector<std::pair<int, uint32_t>>;
FAKE_DRIVE_COUNTER(OptionList, OptionsSet, options)
#undef FAKE_DRIVE_COUNTER

std::unique_ptr<CdSession> FakeDrive::Open() {
  std::lock_guard lock(state_->mutex);
  if (state_->cannotOpen) return nullptr;
  ++state_->opens;
  return std::make_unique<FakeSession>(state_);
}
