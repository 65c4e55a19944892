// Fuzz target: arbitrary cue sheets, cdrdao TOC files and NRG chunk tables, opened through
// libcdio.
//
// The first input byte picks what the rest is: bit 0 clear a .cue, set a .toc; bit 1 names
// the file "disc.*" (beside "disc.bin", the cue driver's own pairing) or "sheet.*" (which
// makes the cue path go through its private copy and link); bit 2 asks for read retries;
// bit 3 makes it the end of "disc.nrg" instead: the rest follows kNrgDataBytes of audio (the
// 150-sector pregap and 16 sectors), so it is the chunk table and footer of a Nero image
// (fuzz_seeds makes the seeds from mkdisc's).
// Two real data files sit in the same folder, written once at start: disc.bin (16 sectors)
// and other.bin (7 sectors), every byte a function of its position.
//
// Each run goes the way obrin-rip --image does: SetCdImages, EnumerateCdDrives,
// BuildTrackList, then reads around every track's start and end and around the lead-out.
// Invariants:
//  - no crash, no leak, no hang (libFuzzer's -timeout);
//  - a TOC that opened is well formed: tracks 1..99, starts in order, lead-out last, one
//    record per audio track, none reaching past the lead-out;
//  - a read that succeeds delivers exactly the sectors asked for, inside the buffer, and a
//    read that reaches the lead-out fails as past the end.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <cdio/logging.h>

#include "disc/cd_device.h"
#include "disc/track_list.h"
#include "fuzz_support.h"

namespace {

constexpr off_t kNrgDataBytes = (150 + 16) * off_t{kSectorBytes};

std::string gFolder;

void WriteBin(const std::string& name, uint32_t sectors) {
  std::string bytes(std::size_t{sectors} * kSectorBytes, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>((i * 131 + i / kSectorBytes * 17 + 5) & 0xFF);
  }
  fuzz::WriteBytes(gFolder + "/" + name, bytes);
}

// disc.nrg: the audio written once at start stays; each input replaces what follows it.
void WriteNrgTail(std::string_view tail) {
  const std::string path = gFolder + "/disc.nrg";
  FUZZ_CHECK(truncate(path.c_str(), kNrgDataBytes) == 0);
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  FUZZ_CHECK(fd >= 0);
  const bool written = write(fd, tail.data(), tail.size()) == static_cast<ssize_t>(tail.size());
  FUZZ_CHECK(close(fd) == 0 && written);
}

// libcdio's complaints about broken sheets are the expected outcome here, not news.
void QuietLog(cdio_log_level_t /*level*/, const char* /*message*/) {}

// Reads `count` sectors from `start`; checks what a success or a failure may look like and
// returns whether the read succeeded.
bool CheckedRead(CdHandle handle, uint32_t start, uint32_t count, uint32_t leadOut) {
  TrackBufferPtr buffer = AllocTrackBuffer(count);
  FUZZ_CHECK(buffer != nullptr);
  buffer->startSector = start;
  buffer->sectorCount = count;
  const bool ok = ReadCDAudioLBA(handle, buffer.get()) == 1;
  if (ok) {
    FUZZ_CHECK(buffer->offset == 0);
    FUZZ_CHECK(buffer->deliveredLength == count * kSectorBytes);
    FUZZ_CHECK(buffer->deliveredLength <= buffer->capacity);
    FUZZ_CHECK(uint64_t{start} + count <= leadOut);
  } else {
    FUZZ_CHECK(buffer->deliveredLength == 0);
    if (uint64_t{start} + count > leadOut) FUZZ_CHECK(GetAspiLibError() == kCdErrPastEnd);
  }
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  gFolder = fuzz::ScratchFolder() + "/images";
  fuzz::MakeFolder(gFolder);
  // The cue and TOC paths make their temporary copies under TMPDIR: keep them in scratch.
  const std::string tmp = fuzz::ScratchFolder() + "/tmp";
  fuzz::MakeFolder(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  WriteBin("disc.bin", 16);
  WriteBin("other.bin", 7);
  WriteBin("disc.nrg", kNrgDataBytes / kSectorBytes);
  // Discovery installs Obrin's own log handler once; the quiet one replaces it for good.
  SetCdImages({});
  cdio_log_set_handler(QuietLog);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string path;
  if (selector & 8) {
    path = gFolder + "/disc.nrg";
    WriteNrgTail(rest);
  } else {
    path = gFolder + ((selector & 2) ? "/sheet" : "/disc") + ((selector & 1) ? ".toc" : ".cue");
    fuzz::WriteBytes(path, rest);
  }

  SetCdImages({path});
  RipSettings settings;
  const int drives = EnumerateCdDrives(settings);
  FUZZ_CHECK(drives >= 1);
  // Real drives come first; the image is the last device.
  const int position = drives - 1;
  FUZZ_CHECK(settings.drives[position].openRequest.hostAdapter == 1);

  if (BuildTrackList(settings, position) != 0) {
    FUZZ_CHECK(settings.tracks.empty());
    return 0;
  }
  const TocBuffer& toc = settings.drives[position].toc;
  FUZZ_CHECK(toc.firstTrack >= 1 && toc.lastTrack >= toc.firstTrack && toc.lastTrack <= 99);
  const int count = toc.lastTrack - toc.firstTrack + 1;
  FUZZ_CHECK(toc.length == 2 + 8 * (count + 1));
  FUZZ_CHECK(toc.entries[count].trackNumber == 0xAA);
  const uint32_t leadOut = TocEntryAddress(toc.entries[count]);
  for (int e = 0; e < count; ++e) {
    FUZZ_CHECK(toc.entries[e].trackNumber == toc.firstTrack + e);
    FUZZ_CHECK(TocEntryAddress(toc.entries[e]) <= TocEntryAddress(toc.entries[e + 1]));
  }
  FUZZ_CHECK(settings.tracks.size() <= static_cast<std::size_t>(count));
  for (const TrackRecord& track : settings.tracks) {
    FUZZ_CHECK(uint64_t{track.startSector} + track.lengthSectors <= leadOut);
  }

  CdHandle handle = GetCDHandle(&settings.drives[position].openRequest);
  FUZZ_CHECK(handle != kNoCdHandle);
  if (selector & 4) FUZZ_CHECK(ModifyCDParms(handle, kCdParmReadRetries, 2) == 1);
  // Around the first few tracks' starts and ends; a read that ends inside the image's data
  // file has no reason to fail, one past the lead-out must.
  const std::size_t shown = std::min<std::size_t>(settings.tracks.size(), 3);
  for (std::size_t i = 0; i < shown; ++i) {
    const TrackRecord& track = settings.tracks[i];
    CheckedRead(handle, track.startSector, 1, leadOut);
    if (track.lengthSectors > 0) {
      CheckedRead(handle, track.startSector + track.lengthSectors - 1, 2, leadOut);
    }
  }
  if (leadOut > 0) CheckedRead(handle, leadOut - 1, 1, leadOut);
  FUZZ_CHECK(!CheckedRead(handle, leadOut, 1, leadOut));
  if (leadOut > 0) FUZZ_CHECK(!CheckedRead(handle, leadOut - 1, 2, leadOut));
  FUZZ_CHECK(CloseCDHandle(handle) == 1);
  return 0;
}
