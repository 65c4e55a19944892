// Fuzz target: a drive that answers with arbitrary TOC bytes.
//
// Input bytes 0..803 are the raw TocBuffer the drive returns (zero-padded when shorter).
// Byte 804, when present, is the output format (as a signed byte, so unknown formats come
// too); bytes 805..812 are what the drive claims for an audio read: the offset and the
// delivered length, little-endian.
//
// The drive is a tiny CdDevice defined here (the test support library needs GoogleTest):
// it stands behind the CD-access calls through SetCdDevices, so the whole path the window
// takes runs: EnumerateCdDrives, BuildTrackList (GetCDHandle, ReadTOC, GetCDDBDiskID).
// Invariants:
//  - the drive record keeps exactly the TOC bytes, with the disc id ComputeCddbDiscId gives;
//  - one record per non-data entry from the first track on, as long as the entry after it
//    (its end) lies inside the 100 entries; titles "Track 01".."Track nn", index 0..n-1;
//  - lengthSectors is the next entry's start minus this one's, or 0 when that would wrap;
//  - GetCDDBDiskID writes no word past n + 3 (buffers are sized exactly, ASan watches);
//  - ReadCDAudioLBA never reports bytes outside the buffer, whatever the drive claims.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "disc/cd_device.h"
#include "disc/track_list.h"
#include "fuzz_support.h"

namespace {

struct Script {
  TocBuffer toc{};
  int32_t offset = 0;
  uint32_t delivered = 0;
};

class ScriptedSession : public CdSession {
 public:
  explicit ScriptedSession(const Script& script) : script_(script) {}
  bool ReadToc(TocBuffer& toc) override {
    toc = script_.toc;
    return true;
  }
  bool ReadAudio(TrackBuffer& buffer, uint32_t& /*libError*/, uint32_t& /*aspiStatus*/) override {
    buffer.offset = script_.offset;
    buffer.deliveredLength = script_.delivered;
    return true;
  }
  bool SetOption(int /*which*/, uint32_t /*value*/) override { return true; }

 private:
  Script script_;
};

class ScriptedDrive : public CdDevice {
 public:
  Script script;
  std::string Description() const override { return "Fuzz drive"; }
  std::unique_ptr<CdSession> Open() override { return std::make_unique<ScriptedSession>(script); }
};

class QuietHost : public TrackListHost {
 public:
  bool NoDiscShown() const override { return noDisc; }
  void SetNoDiscShown(bool shown) override { noDisc = shown; }
  bool PlayRequested() const override { return false; }
  void DeleteAllRows() override {}
  bool noDisc = true;
};

uint32_t LittleEndian32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void CheckDiscIdBuffers(const DriveRecord& drive) {
  const int count = drive.toc.lastTrack >= drive.toc.firstTrack
                        ? drive.toc.lastTrack - drive.toc.firstTrack + 1
                        : 0;
  CdHandle handle = GetCDHandle(&drive.openRequest);
  FUZZ_CHECK(handle != kNoCdHandle);
  for (int n : {-3, -2, 0, count - 3, count - 1, count, 99, 120}) {
    if (n + 3 < 1) {
      uint32_t unused = 0xDEADBEEF;
      FUZZ_CHECK(GetCDDBDiskID(handle, &unused, n) != 1);
      FUZZ_CHECK(unused == 0xDEADBEEF);
      continue;
    }
    // Exactly n + 3 words on the heap: one more written is an ASan report.
    std::unique_ptr<uint32_t[]> words(new uint32_t[static_cast<std::size_t>(n) + 3]());
    FUZZ_CHECK(GetCDDBDiskID(handle, words.get(), n) == 1);
    FUZZ_CHECK(words[0] == drive.discId);
  }
  FUZZ_CHECK(CloseCDHandle(handle) == 1);
}

void CheckRead(const DriveRecord& drive, const Script& script) {
  CdHandle handle = GetCDHandle(&drive.openRequest);
  FUZZ_CHECK(handle != kNoCdHandle);
  TrackBufferPtr buffer = AllocTrackBuffer(2);
  FUZZ_CHECK(buffer != nullptr);
  buffer->startSector = 0;
  buffer->sectorCount = 1 + (script.delivered & 1);
  const int result = ReadCDAudioLBA(handle, buffer.get());
  if (result == 1) {
    FUZZ_CHECK(buffer->offset >= 0);
    FUZZ_CHECK(int64_t{buffer->offset} + buffer->deliveredLength <= buffer->capacity);
    FUZZ_CHECK(buffer->offset == script.offset && buffer->deliveredLength == script.delivered);
  } else {
    FUZZ_CHECK(buffer->deliveredLength == 0 && buffer->offset == 0);
    FUZZ_CHECK(GetAspiLibError() == kCdErrRead);
  }
  FUZZ_CHECK(CloseCDHandle(handle) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  auto drive = std::make_shared<ScriptedDrive>();
  std::memcpy(&drive->script.toc, data, std::min(size, sizeof(TocBuffer)));
  RipSettings settings;
  if (size > 804) settings.outputFormat = static_cast<int8_t>(data[804]);
  if (size >= 813) {
    drive->script.offset = static_cast<int32_t>(LittleEndian32(data + 805));
    drive->script.delivered = LittleEndian32(data + 809);
  }
  SetCdDevices({drive});

  FUZZ_CHECK(EnumerateCdDrives(settings) == 1);
  QuietHost host;
  FUZZ_CHECK(BuildTrackList(settings, 0, &host) == 0);
  FUZZ_CHECK(!host.noDisc);

  const TocBuffer& toc = drive->script.toc;
  const DriveRecord& record = settings.drives[0];
  FUZZ_CHECK(std::memcmp(&record.toc, &toc, sizeof toc) == 0);
  FUZZ_CHECK(record.discId == ComputeCddbDiscId(toc));

  // The records the TOC calls for, worked out entry by entry.
  std::size_t expected = 0;
  const auto words = FormatSettingsWords(settings.formats, settings.outputFormat);
  for (int t = toc.firstTrack; t <= toc.lastTrack && t - toc.firstTrack + 1 < 100; ++t) {
    const TocEntry& entry = toc.entries[t - toc.firstTrack];
    if (entry.adrControl & 0x04) continue;
    FUZZ_CHECK(expected < settings.tracks.size());
    const TrackRecord& track = settings.tracks[expected];
    const uint32_t start = TocEntryAddress(entry);
    const uint32_t next = TocEntryAddress(toc.entries[t - toc.firstTrack + 1]);
    char title[16];
    std::snprintf(title, sizeof title, "Track %02zu", expected + 1);
    FUZZ_CHECK(track.title == title);
    FUZZ_CHECK(track.index == static_cast<int32_t>(expected));
    FUZZ_CHECK(track.startSector == start);
    FUZZ_CHECK(track.lengthSectors == (next >= start ? next - start : 0));
    FUZZ_CHECK(track.lengthSeconds == track.lengthSectors / kSectorsPerSecond);
    FUZZ_CHECK(track.format == static_cast<uint32_t>(settings.outputFormat));
    FUZZ_CHECK(track.formatSettings == words);
    FUZZ_CHECK(track.checked == 0 && track.status.load() == 0);
    ++expected;
  }
  FUZZ_CHECK(settings.tracks.size() == expected);
  FUZZ_CHECK(expected <= 99);

  CheckDiscIdBuffers(record);
  CheckRead(record, drive->script);
  return 0;
}
