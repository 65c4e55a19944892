// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Fuzz target: arbitrary cue sheets, cdrdao TOC files and NRG chunk tables, opened as
// obrin-rip --image does. The first byte picks what the rest is: bit 0 a .toc (else a .cue),
// bit 1 named "sheet.*" (else "disc.*"), bit 2 read retries on; bit 3 makes it the chunk table
// and footer of disc.nrg, after its fixed audio (pregap and 16 sectors); bit 4 splits it into
// a cue sheet (its length in the next two bytes, little-endian) and the RIFF header of
// disc.wav, which 16 sectors of audio follow. disc.bin (16 sectors) and other.bin (7) sit
// beside it.
// Invariants:
//  - no crash, leak or hang;
//  - a TOC that opened is well formed: tracks within 1..99 in order, the lead-out last, no
//    record reaching past it;
//  - a read delivers exactly the sectors asked for, and one past the lead-out fails as such.
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

std::string gFolder;
std::string gAudio;  // 16 sectors, the bins' and what follows disc.wav's header
constexpr off_t kNrgDataBytes = (150 + 16) * off_t{kSectorBytes};

// Reads `count` sectors from `start`: all of them or none, and none past the lead-out.
bool CheckedRead(CdHandle handle, uint32_t start, uint32_t count, uint32_t leadOut) {
  TrackBufferPtr buffer = AllocTrackBuffer(count);
  buffer->startSector = start;
  buffer->sectorCount = count;
  const bool ok = ReadCDAudioLBA(handle, buffer.get()) == 1;
  const bool past = uint64_t{start} + count > leadOut;
  FUZZ_CHECK(buffer->deliveredLength == (ok ? count * kSectorBytes : 0) && buffer->offset == 0);
  FUZZ_CHECK(ok ? !past : !past || GetAspiLibError() == kCdErrPastEnd);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  gFolder = fuzz::MakeFolder(fuzz::ScratchFolder() + "/images");
  // The cue and TOC paths make their temporary copies under TMPDIR: keep them in scratch.
  setenv("TMPDIR", fuzz::MakeFolder(fuzz::ScratchFolder() + "/tmp").c_str(), 1);
  for (const auto& [name, sectors] :
       {std::pair{"disc.bin", 16u}, {"other.bin", 7u}, {"disc.nrg", 166u}}) {
    std::string bytes(sectors * kSectorBytes, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>(i * 131 + i / kSectorBytes * 17);
    fuzz::WriteBytes(gFolder + "/" + name, bytes);
    if (sectors == 16) gAudio = bytes;
  }
  SetCdImages({});  // discovery installs Obrin's log handler once; a quiet one replaces it
  cdio_log_set_handler([](cdio_log_level_t, const char*) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string path =
      gFolder + ((data[0] & 2) ? "/sheet" : "/disc") + ((data[0] & 1) ? ".toc" : ".cue");
  if ((data[0] & 16) && rest.size() >= 2) {
    const std::size_t length = std::min<std::size_t>(
        rest.size() - 2, std::size_t{uint8_t(rest[0])} | uint8_t(rest[1]) << 8);
    path = gFolder + "/disc.cue";
    fuzz::WriteBytes(path, rest.substr(2, length));
    fuzz::WriteBytes(gFolder + "/disc.wav", std::string(rest.substr(2 + length)) + gAudio);
  } else if (data[0] & 8) {  // the audio written at start stays; the input replaces what follows
    path = gFolder + "/disc.nrg";
    FUZZ_CHECK(truncate(path.c_str(), kNrgDataBytes) == 0);
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    FUZZ_CHECK(fd >= 0 && write(fd, rest.data(), rest.size()) == static_cast<ssize_t>(rest.size()));
    FUZZ_CHECK(close(fd) == 0);
  } else {
    fuzz::WriteBytes(path, rest);
  }
  SetCdImages({path});
  RipSettings settings;
  const int image = EnumerateCdDrives(settings) - 1;  // real drives first, the image last
  FUZZ_CHECK(image >= 0 && settings.drives[image].openRequest.hostAdapter == 1);
  if (BuildTrackList(settings, image) != 0) {
    FUZZ_CHECK(settings.tracks.empty());
    return 0;
  }

  const TocBuffer& toc = settings.drives[image].toc;
  FUZZ_CHECK(toc.firstTrack >= 1 && toc.lastTrack >= toc.firstTrack && toc.lastTrack <= 99);
  const int count = toc.lastTrack - toc.firstTrack + 1;
  FUZZ_CHECK(toc.length == 2 + 8 * (count + 1) && toc.entries[count].trackNumber == 0xAA);
  const uint32_t leadOut = TocEntryAddress(toc.entries[count]);
  for (int e = 0; e < count; ++e) {
    FUZZ_CHECK(toc.entries[e].trackNumber == toc.firstTrack + e);
    FUZZ_CHECK(TocEntryAddress(toc.entries[e]) <= TocEntryAddress(toc.entries[e + 1]));
  }
  // One record per audio track of the TOC, and at most one more before them: the hidden
  // track, the stretch before the first track's index 1.
  FUZZ_CHECK(AudioTrackCount(settings.tracks) <= static_cast<std::size_t>(count));
  for (const TrackRecord& track : settings.tracks) {
    FUZZ_CHECK(uint64_t{track.startSector} + track.lengthSectors <= leadOut);
    FUZZ_CHECK(!track.hidden || (&track == &settings.tracks.front() && track.startSector == 0 &&
                                 track.lengthSectors == TocEntryAddress(toc.entries[0])));
  }

  CdHandle handle = GetCDHandle(&settings.drives[image].openRequest);
  FUZZ_CHECK(handle != kNoCdHandle);
  if (data[0] & 4) FUZZ_CHECK(ModifyCDParms(handle, kCdParmReadRetries, 2) == 1);
  for (std::size_t i = 0; i < std::min<std::size_t>(settings.tracks.size(), 3); ++i) {
    const TrackRecord& track = settings.tracks[i];
    CheckedRead(handle, track.startSector, 1, leadOut);
    if (track.lengthSectors > 0)
      CheckedRead(handle, track.startSector + track.lengthSectors - 1, 2, leadOut);
  }
  if (leadOut > 0) FUZZ_CHECK(!CheckedRead(handle, leadOut - 1, 2, leadOut));
  FUZZ_CHECK(!CheckedRead(handle, leadOut, 1, leadOut));
  FUZZ_CHECK(CloseCDHandle(handle) == 1);
  return 0;
}
