// Fuzz target: a drive that answers with arbitrary TOC bytes. Bytes 0..803 are the raw
// TocBuffer (zero-padded), byte 804 the output format (signed: unknown ones too), 805..812
// the offset and length the drive claims for an audio read. The drive stands behind the
// CD-access calls, so the window's path runs: EnumerateCdDrives, BuildTrackList. Invariants:
//  - the drive keeps the TOC bytes and the disc id ComputeCddbDiscId gives, and the query
//    for it writes nothing past its n + 3 words (an exact heap buffer: ASan watches);
//  - one record per audio entry whose end entry lies inside the 100: "Track nn", its start,
//    its length (0 where the next entry starts earlier), the format's settings words;
//  - ReadCDAudioLBA never reports bytes outside the buffer, whatever the drive claims.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "disc/cd_device.h"
#include "disc/track_list.h"
#include "fuzz_support.h"

namespace {

struct Script {
  TocBuffer toc{};
  int32_t offset = 0;
  uint32_t delivered = 0;
} gScript;  // what the drive answers in this run

struct ScriptedDrive : CdDevice, CdSession {
  std::string Description() const override { return "Fuzz drive"; }
  std::unique_ptr<CdSession> Open() override { return std::make_unique<ScriptedDrive>(); }
  bool ReadToc(TocBuffer& toc) override { return toc = gScript.toc, true; }
  bool ReadAudio(TrackBuffer& buffer, uint32_t&, uint32_t&) override {
    buffer.offset = gScript.offset, buffer.deliveredLength = gScript.delivered;
    return true;
  }
  bool SetOption(int, uint32_t) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Script& script = gScript = Script{};
  std::memcpy(&script.toc, data, std::min(size, sizeof(TocBuffer)));
  RipSettings settings;
  if (size > 804) settings.outputFormat = static_cast<int8_t>(data[804]);
  if (size >= 813) {
    std::memcpy(&script.offset, data + 805, 4);
    std::memcpy(&script.delivered, data + 809, 4);
  }
  SetCdDevices({std::make_shared<ScriptedDrive>()});
  FUZZ_CHECK(EnumerateCdDrives(settings) == 1);
  FUZZ_CHECK(BuildTrackList(settings, 0) == 0);

  const TocBuffer& toc = script.toc;
  const DriveRecord& record = settings.drives[0];
  FUZZ_CHECK(std::memcmp(&record.toc, &toc, sizeof toc) == 0);
  FUZZ_CHECK(record.discId == ComputeCddbDiscId(toc));
  std::size_t expected = 0;
  const auto words = FormatSettingsWords(settings.formats, settings.outputFormat);
  const int last = toc.lastTrack - toc.firstTrack;
  int lastAudio = -1;  // an enhanced CD's data session follows the last audio track
  for (int e = 0; e <= last && e + 1 < 100; ++e) {
    if (!(toc.entries[e].adrControl & 0x04)) lastAudio = e;
  }
  for (int e = 0; e <= last && e + 1 < 100; ++e) {
    if (toc.entries[e].adrControl & 0x04) continue;
    FUZZ_CHECK(expected < settings.tracks.size());
    const TrackRecord& track = settings.tracks[expected];
    const uint32_t start = TocEntryAddress(toc.entries[e]),
                   next = TocEntryAddress(toc.entries[e + 1]);
    char title[16];
    std::snprintf(title, sizeof title, "Track %02zu", ++expected);
    FUZZ_CHECK(track.title == title && track.startSector == start && track.formatSettings == words);
    uint32_t length = next >= start ? next - start : 0;
    if (e == lastAudio && e < last && (toc.entries[e + 1].adrControl & 0x04) && length > 11400) {
      length -= 11400;  // the gap between the sessions
    }
    FUZZ_CHECK(track.lengthSectors == length);
  }
  FUZZ_CHECK(settings.tracks.size() == expected);

  CdHandle handle = GetCDHandle(&record.openRequest);
  FUZZ_CHECK(handle != kNoCdHandle);
  TrackBufferPtr buffer = AllocTrackBuffer(2);
  buffer->sectorCount = 1 + (script.delivered & 1);
  if (ReadCDAudioLBA(handle, buffer.get()) == 1) {
    FUZZ_CHECK(buffer->offset == script.offset && buffer->deliveredLength == script.delivered);
    FUZZ_CHECK(buffer->offset >= 0 &&
               int64_t{buffer->offset} + buffer->deliveredLength <= buffer->capacity);
  } else {
    FUZZ_CHECK(buffer->deliveredLength == 0 && buffer->offset == 0 &&
               GetAspiLibError() == kCdErrRead);
  }
  FUZZ_CHECK(CloseCDHandle(handle) == 1);
  return 0;
}
