#include "support/fake_drive.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

struct FakeDrive::State {
  mutable std::mutex mutex;
  std::condition_variable changed;

  TocBuffer toc{};
  uint64_t leadOut = UINT64_MAX;
  bool tocFails = false;
  bool cannotOpen = false;
  bool isImage = false;
  bool optionResult = true;
  std::string description = "Obrin Fake Drive 1.0";

  struct Failure {
    int firstAttempt, lastAttempt;
    uint32_t libError, aspiStatus;
  };
  std::multimap<uint32_t, Failure> failures;
  std::map<uint32_t, std::pair<int32_t, uint32_t>> shifts;
  std::map<uint32_t, int> attempts;

  bool gateArmed = false;
  uint32_t gateSector = 0;
  bool gateOccupied = false;

  int openAttempts = 0, opens = 0, closes = 0, tocReads = 0;
  std::vector<FakeReadCall> reads;
  std::vector<std::pair<int, uint32_t>> options;
};

namespace {

class FakeSession : public CdSession {
 public:
  explicit FakeSession(std::shared_ptr<FakeDrive::State> state) : state_(std::move(state)) {}
  ~FakeSession() override {
    std::lock_guard lock(state_->mutex);
    ++state_->closes;
  }

  bool ReadToc(TocBuffer& toc) override {
    std::lock_guard lock(state_->mutex);
    ++state_->tocReads;
    if (state_->tocFails) return false;
    toc = state_->toc;
    return true;
  }

  bool SetOption(int which, uint32_t value) override {
    std::lock_guard lock(state_->mutex);
    state_->options.emplace_back(which, value);
    return state_->optionResult;
  }

  bool ReadAudio(TrackBuffer& buffer, uint32_t& libError, uint32_t& aspiStatus) override {
    std::unique_lock lock(state_->mutex);
    const uint32_t start = buffer.startSector;
    const uint32_t count = buffer.sectorCount;
    const int attempt = ++state_->attempts[start];
    state_->reads.push_back({start, count, attempt, false});
    const size_t logIndex = state_->reads.size() - 1;

    if (state_->gateArmed && state_->gateSector == start) {
      state_->gateOccupied = true;
      state_->changed.notify_all();
      state_->changed.wait(lock, [&] { return !state_->gateArmed; });
      state_->gateOccupied = false;
    }

    if (uint64_t{start} + count > state_->leadOut) {
      libError = kCdErrPastEnd;
      aspiStatus = kAspiError;
      return false;
    }
    auto range = state_->failures.equal_range(start);
    for (auto it = range.first; it != range.second; ++it) {
      if (attempt >= it->second.firstAttempt && attempt <= it->second.lastAttempt) {
        libError = it->second.libError;
        aspiStatus = it->second.aspiStatus;
        return false;
      }
    }

    int32_t offset = 0;
    uint32_t shortBy = 0;
    if (auto it = state_->shifts.find(start); it != state_->shifts.end()) {
      offset = it->second.first;
      shortBy = it->second.second;
    }
    const uint32_t asked = count * kSectorBytes;
    const uint32_t length = asked - std::min(shortBy, asked);
    if (offset < 0 || uint64_t(offset) + length > buffer.capacity) {
      libError = kCdErrRead;  // a script that does not fit the buffer
      aspiStatus = kAspiError;
      return false;
    }
    state_->reads[logIndex].succeeded = true;
    lock.unlock();

    uint8_t* data = TrackBufferData(&buffer);
    std::memset(data, 0xEE, static_cast<size_t>(offset));
    for (uint32_t i = 0; i < length; ++i) {
      data[offset + i] = FakeDrive::AudioByte(start + i / kSectorBytes, i % kSectorBytes);
    }
    buffer.deliveredLength = length;
    buffer.offset = offset;
    return true;
  }

 private:
  std::shared_ptr<FakeDrive::State> state_;
};

}  // namespace

FakeDrive::FakeDrive() : state_(std::make_shared<State>()) {
  SetTracks({{0, 4500, false}, {4500, 3000, false}, {7500, 6000, false}});
}

FakeDrive::~FakeDrive() = default;

uint8_t FakeDrive::AudioByte(uint32_t sector, uint32_t offset) {
  uint32_t v = sector * kSectorBytes + offset;
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  v *= 0x846CA68Bu;
  v ^= v >> 16;
  return static_cast<uint8_t>(v);
}

std::string FakeDrive::ExpectedAudio(uint32_t start, uint32_t count) {
  std::string bytes(size_t{count} * kSectorBytes, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(AudioByte(start + static_cast<uint32_t>(i / kSectorBytes),
                                           static_cast<uint32_t>(i % kSectorBytes)));
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

void FakeDrive::SetDescription(const std::string& text) {
  std::lock_guard lock(state_->mutex);
  state_->description = text;
}

void FakeDrive::SetIsImage(bool isImage) {
  std::lock_guard lock(state_->mutex);
  state_->isImage = isImage;
}

void FakeDrive::SetOptionResult(bool understood) {
  std::lock_guard lock(state_->mutex);
  state_->optionResult = understood;
}

void FakeDrive::FailAttempts(uint32_t sector, int firstAttempt, int lastAttempt, uint32_t libError,
                             uint32_t aspiStatus) {
  std::lock_guard lock(state_->mutex);
  state_->failures.emplace(sector, State::Failure{firstAttempt, lastAttempt, libError, aspiStatus});
}

void FakeDrive::FailAlways(uint32_t sector, uint32_t libError, uint32_t aspiStatus) {
  FailAttempts(sector, 1, INT_MAX, libError, aspiStatus);
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

int FakeDrive::OpenAttempts() const {
  std::lock_guard lock(state_->mutex);
  return state_->openAttempts;
}

int FakeDrive::Opens() const {
  std::lock_guard lock(state_->mutex);
  return state_->opens;
}

int FakeDrive::Closes() const {
  std::lock_guard lock(state_->mutex);
  return state_->closes;
}

int FakeDrive::TocReads() const {
  std::lock_guard lock(state_->mutex);
  return state_->tocReads;
}

std::vector<FakeReadCall> FakeDrive::Reads() const {
  std::lock_guard lock(state_->mutex);
  return state_->reads;
}

std::vector<std::pair<int, uint32_t>> FakeDrive::OptionsSet() const {
  std::lock_guard lock(state_->mutex);
  return state_->options;
}

std::string FakeDrive::Description() const {
  std::lock_guard lock(state_->mutex);
  return state_->description;
}

bool FakeDrive::IsImage() const {
  std::lock_guard lock(state_->mutex);
  return state_->isImage;
}

std::unique_ptr<CdSession> FakeDrive::Open() {
  std::lock_guard lock(state_->mutex);
  ++state_->openAttempts;
  if (state_->cannotOpen) return nullptr;
  ++state_->opens;
  return std::make_unique<FakeSession>(state_);
}
