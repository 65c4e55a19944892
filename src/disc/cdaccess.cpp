// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The CD-access calls: a table of open handles over the CdDevice/CdSession objects, the
// per-thread error numbers, and the pure pieces (TOC layout, disc id, buffer allocation).
#include "disc/cdaccess.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "disc/cd_device.h"

namespace {

struct OpenHandle {
  // Callers use one handle from one thread at a time; the lock keeps a careless caller from
  // racing the session anyway. CloseCDHandle never takes it, so closing does not wait for a
  // read in progress: the read finishes on its own reference.
  std::mutex mutex;
  std::unique_ptr<CdSession> session;
  uint32_t readRetries = 0;
};

struct Registry {
  std::mutex mutex;
  bool discovered = false;
  CdDeviceList devices;
  std::map<CdHandle, std::shared_ptr<OpenHandle>> handles;
  // Numbers count up so that a closed handle stays dead instead of naming a later open.
  CdHandle nextHandle = 1;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

thread_local uint32_t tLibError = kCdOk;
thread_local uint32_t tAspiStatus = kAspiPending;
thread_local std::string tOpenError;
thread_local std::vector<std::string> tOpenNotes;

int Fail(uint32_t libError, uint32_t aspiStatus) {
  tLibError = libError;
  tAspiStatus = aspiStatus;
  return 0;
}

CdDeviceList CurrentDevices() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  if (!registry.discovered) {
    registry.devices = DiscoverCdDevices({});
    registry.discovered = true;
  }
  return registry.devices;
}

std::shared_ptr<OpenHandle> FindHandle(CdHandle handle) {
  if (handle == kNoCdHandle) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.handles.find(handle);
  return it == registry.handles.end() ? nullptr : it->second;
}

uint32_t FrameSeconds(uint32_t lsn) {
  return (lsn + 150) / kSectorsPerSecond;
}

// Errors that a second attempt cannot cure.
bool IsFinal(uint32_t libError) {
  return libError == kCdErrPastEnd || libError == kCdErrBadRequest ||
         libError == kCdErrInvalidHandle;
}

}  // namespace

void TrackBufferDeleter::operator()(TrackBuffer* buffer) const noexcept {
  std::free(buffer);
}

TrackBufferPtr AllocTrackBuffer(uint32_t sectors) {
  const uint64_t capacity = uint64_t{sectors} * kSectorBytes;
  if (capacity > UINT32_MAX) return nullptr;
  void* memory = std::calloc(1, sizeof(TrackBuffer) + static_cast<size_t>(capacity));
  if (!memory) return nullptr;
  auto* buffer = static_cast<TrackBuffer*>(memory);
  buffer->capacity = static_cast<uint32_t>(capacity);
  return TrackBufferPtr(buffer);
}

bool FillTocBuffer(uint8_t firstTrack, const std::vector<CdTocTrack>& tracks, uint32_t leadOut,
                   TocBuffer& toc) {
  std::memset(&toc, 0, sizeof toc);
  // 99 tracks and the lead-out fill the 100 entries exactly.
  if (tracks.empty() || firstTrack < 1 || firstTrack + tracks.size() - 1 > 99) return false;
  toc.length = static_cast<uint16_t>(2 + 8 * (tracks.size() + 1));
  toc.firstTrack = firstTrack;
  toc.lastTrack = static_cast<uint8_t>(firstTrack + tracks.size() - 1);
  for (size_t i = 0; i < tracks.size(); ++i) {
    TocEntry& entry = toc.entries[i];
    entry.adrControl = static_cast<uint8_t>(0x10 | (tracks[i].control & 0x0F));
    entry.trackNumber = static_cast<uint8_t>(firstTrack + i);
    SetTocEntryAddress(entry, tracks[i].start);
  }
  TocEntry& leadOutEntry = toc.entries[tracks.size()];
  leadOutEntry.adrControl = 0x10;
  leadOutEntry.trackNumber = 0xAA;
  SetTocEntryAddress(leadOutEntry, leadOut);
  return true;
}

uint32_t ComputeCddbDiscId(const TocBuffer& toc) {
  const uint32_t count =
      toc.lastTrack >= toc.firstTrack ? std::min(toc.lastTrack - toc.firstTrack + 1, 99) : 0;
  uint32_t digitSum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    for (uint32_t seconds = FrameSeconds(TocEntryAddress(toc.entries[i])); seconds > 0;
         seconds /= 10) {
      digitSum += seconds % 10;
    }
  }
  const uint32_t leadOutSeconds = FrameSeconds(TocEntryAddress(toc.entries[count]));
  const uint32_t firstSeconds =
      count > 0 ? FrameSeconds(TocEntryAddress(toc.entries[0])) : leadOutSeconds;
  // Masked so that a nonsensical TOC cannot spill into the neighbouring fields.
  const uint32_t length = (leadOutSeconds - firstSeconds) & 0xFFFF;
  return (digitSum % 255) << 24 | length << 8 | count;
}

void SetCdDevices(CdDeviceList devices) {
  if (devices.size() > kMaxCdDevices) devices.resize(kMaxCdDevices);
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.devices = std::move(devices);
  registry.discovered = true;
}

std::vector<std::string> GetCdDeviceNames() {
  std::vector<std::string> names;
  for (const auto& device : CurrentDevices()) names.push_back(device->DeviceName());
  return names;
}

std::shared_ptr<CdDevice> FindCdDevice(const std::string& deviceName) {
  for (const auto& device : CurrentDevices()) {
    if (device->DeviceName() == deviceName) return device;
  }
  return nullptr;
}

int GetCDList(DeviceList* list) {
  if (!list) return 0;
  const CdDeviceList devices = CurrentDevices();
  const size_t count = std::min<size_t>(devices.size(), kMaxCdDevices);
  list->count = static_cast<uint8_t>(count);
  for (size_t i = 0; i < count; ++i) {
    DeviceEntry& entry = list->entries[i];
    std::memset(&entry, 0, sizeof entry);
    entry.hostAdapter = devices[i]->IsImage() ? 1 : 0;
    entry.target = static_cast<uint8_t>(i);
    const std::string text = devices[i]->Description();
    std::memcpy(entry.identification, text.data(),
                std::min(text.size(), sizeof entry.identification - 1));
  }
  return static_cast<int>(count);
}

CdHandle GetCDHandle(const OpenRequest* request) {
  tOpenError.clear();
  tOpenNotes.clear();
  if (!request || request->size != sizeof(OpenRequest) || request->version != 1) {
    Fail(kCdErrBadRequest, kAspiInvalidCommand);
    return kNoCdHandle;
  }
  const CdDeviceList devices = CurrentDevices();
  const size_t index = request->target;
  if (index >= devices.size() || request->lun != 0 ||
      request->hostAdapter != (devices[index]->IsImage() ? 1 : 0)) {
    Fail(kCdErrInvalidHandle, kAspiNoDevice);
    return kNoCdHandle;
  }
  auto open = std::make_shared<OpenHandle>();
  open->session = devices[index]->OpenExplained(tOpenError);
  if (!open->session) {
    Fail(kCdErrInvalidHandle, kAspiNoDevice);
    return kNoCdHandle;
  }
  tOpenNotes = open->session->OpenNotes();
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  CdHandle handle = registry.nextHandle;
  while (handle == kNoCdHandle || registry.handles.count(handle)) ++handle;
  registry.nextHandle = handle + 1;
  registry.handles.emplace(handle, std::move(open));
  return handle;
}

int CloseCDHandle(CdHandle handle) {
  std::shared_ptr<OpenHandle> closing;
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.handles.find(handle);
    if (it == registry.handles.end()) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
    closing = std::move(it->second);
    registry.handles.erase(it);
  }
  // The session ends here, outside the table's lock, unless a read still holds it.
  closing.reset();
  return 1;
}

int ReadTOC(CdHandle handle, TocBuffer* toc) {
  auto open = FindHandle(handle);
  if (toc) std::memset(toc, 0, sizeof *toc);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  if (!toc) return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  std::lock_guard lock(open->mutex);
  if (!open->session->ReadToc(*toc)) {
    std::memset(toc, 0, sizeof *toc);
    return Fail(kCdErrNoToc, kAspiError);
  }
  return 1;
}

int GetCdText(CdHandle handle, DiscCdText* text) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  if (!text) return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  *text = DiscCdText{};
  std::lock_guard lock(open->mutex);
  if (!open->session->ReadCdText(*text)) {
    *text = DiscCdText{};
    return Fail(kCdErrNoToc, kAspiError);
  }
  return 1;
}

int GetTrackPregaps(CdHandle handle, uint32_t* sectors, int count) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  if (!sectors || count < 0) return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  std::fill(sectors, sectors + count, 0u);
  std::vector<uint32_t> pregaps;
  {
    std::lock_guard lock(open->mutex);
    if (!open->session->ReadPregaps(pregaps)) return Fail(kCdErrNoToc, kAspiError);
  }
  std::copy_n(pregaps.begin(), std::min<size_t>(pregaps.size(), size_t(count)), sectors);
  return 1;
}

int GetTrackIndexes(CdHandle handle, std::vector<std::vector<TrackIndexMark>>* marks) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  if (!marks) return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  marks->clear();
  std::lock_guard lock(open->mutex);
  if (!open->session->ReadIndexes(*marks)) {
    marks->clear();
    return 0;
  }
  return 1;
}

std::vector<std::string> GetDiscNotes(CdHandle handle) {
  auto open = FindHandle(handle);
  if (!open) return {};
  std::lock_guard lock(open->mutex);
  return open->session->LayoutNotes();
}

int GetDriveFacts(CdHandle handle, DriveFacts* facts) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  if (!facts) return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  std::lock_guard lock(open->mutex);
  if (!open->session->IsDrive()) return 0;
  const DriveIdentity identity = open->session->Identity();
  *facts = {identity.vendor, identity.model, identity.revision, identity.c2Pointers};
  return 1;
}

int GetDriveCacheSectors(CdHandle handle, uint32_t* sectors, uint64_t* sectorsRead) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  if (!sectors || !sectorsRead) return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  std::lock_guard lock(open->mutex);
  return open->session->MeasureCache(*sectors, *sectorsRead) ? 1 : 0;
}

int ReadAwayFrom(CdHandle handle, uint32_t avoidFrom, uint32_t avoidCount, uint32_t sectors) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  std::lock_guard lock(open->mutex);
  return open->session->ReadElsewhere(avoidFrom, avoidCount, sectors) ? 1 : 0;
}

int ReadCDAudioRaw(CdHandle handle, int32_t lsn, uint32_t count, uint8_t* audio, uint8_t* c2) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  if (!audio || count == 0) return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  std::lock_guard lock(open->mutex);
  if (!open->session->IsDrive()) return kRawReadFailed;
  const DriveReply reply = open->session->ReadRaw(lsn, count, audio, c2);
  switch (reply.kind) {
    case DriveReply::kOk:
      return kRawReadOk;
    case DriveReply::kOutOfRange:
      return kRawReadRefused;
    default:
      // A drive without C2 pointers refuses the field as an invalid one (05/24/00).
      return c2 && reply.key == 0x05 ? kRawReadRefused : kRawReadFailed;
  }
}

int GetCDDBDiskID(CdHandle handle, uint32_t* buffer, int n) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  const int64_t words = int64_t{n} + 3;
  if (!buffer || words < 1) return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  TocBuffer toc{};
  {
    std::lock_guard lock(open->mutex);
    if (!open->session->ReadToc(toc)) return Fail(kCdErrNoToc, kAspiError);
  }
  const uint32_t count =
      toc.lastTrack >= toc.firstTrack ? std::min(toc.lastTrack - toc.firstTrack + 1, 99) : 0;
  // id, track count, each track's frame offset, disc length in seconds: as a freedb query.
  std::vector<uint32_t> values;
  values.push_back(ComputeCddbDiscId(toc));
  values.push_back(count);
  for (uint32_t i = 0; i < count; ++i) values.push_back(TocEntryAddress(toc.entries[i]) + 150);
  values.push_back(FrameSeconds(TocEntryAddress(toc.entries[count])));
  for (size_t i = 0; i < values.size() && static_cast<int64_t>(i) < words; ++i) {
    buffer[i] = values[i];
  }
  return 1;
}

int ModifyCDParms(CdHandle handle, int which, uint32_t value) {
  auto open = FindHandle(handle);
  if (!open) return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  const bool valid =
      (which == kCdParmReadRetries && value <= 10) || (which == kCdParmParanoia && value <= 1);
  if (!valid) return 0;
  std::lock_guard lock(open->mutex);
  if (!open->session->SetOption(which, value)) return 0;
  if (which == kCdParmReadRetries) open->readRetries = value;
  return 1;
}

int ReadCDAudioLBA(CdHandle handle, TrackBuffer* buffer) {
  auto open = FindHandle(handle);
  if (!open) {
    if (buffer) buffer->deliveredLength = 0;
    return Fail(kCdErrInvalidHandle, kAspiNoDevice);
  }
  if (!buffer || buffer->sectorCount == 0 ||
      uint64_t{buffer->sectorCount} * kSectorBytes > buffer->capacity) {
    if (buffer) buffer->deliveredLength = 0;
    return Fail(kCdErrBadRequest, kAspiInvalidCommand);
  }
  std::lock_guard lock(open->mutex);
  uint32_t libError = kCdErrRead;
  uint32_t aspiStatus = kAspiError;
  for (uint32_t attempt = 0; attempt <= open->readRetries; ++attempt) {
    buffer->deliveredLength = 0;
    buffer->offset = 0;
    libError = kCdErrRead;
    aspiStatus = kAspiError;
    if (open->session->ReadAudio(*buffer, libError, aspiStatus)) {
      // A session must never point the caller outside the data it owns.
      const int64_t end = int64_t{buffer->offset} + buffer->deliveredLength;
      if (buffer->offset >= 0 && end <= buffer->capacity) {
        buffer->status = kAspiComplete;
        return 1;
      }
      libError = kCdErrRead;
      aspiStatus = kAspiError;
    }
    if (libError == kCdOk) libError = kCdErrRead;
    if (IsFinal(libError)) break;
  }
  buffer->deliveredLength = 0;
  buffer->offset = 0;
  buffer->status = aspiStatus;
  return Fail(libError, aspiStatus);
}

uint32_t GetAspiLibError() {
  return tLibError;
}
uint32_t GetAspiLibAspiError() {
  return tAspiStatus;
}
std::vector<std::string> GetCDHandleNotes() {
  return tOpenNotes;
}

std::string GetCDHandleErrorText() {
  return tOpenError;
}
