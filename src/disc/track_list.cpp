// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/track_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "disc/cd_device.h"
#include "disc/cdaccess.h"

namespace {

// On an enhanced CD the data session follows the audio one after the audio session's
// lead-out, the data session's lead-in and the data track's pregap: 11,400 sectors (2:32) that
// belong to no audio track, though the TOC runs the last audio track up to the data track.

void ReportNoDisc(TrackListHost* host) {
  if (!host) return;
  // The rows are cleared once per disc loss, and not while the user waits for playback.
  if (!host->NoDiscShown() && !host->PlayRequested()) {
    host->DeleteAllRows();
    host->SetNoDiscShown(true);
  }
}

template <typename Block>
std::array<uint32_t, 10> WordsOf(const Block& block) {
  static_assert(sizeof(Block) <= 10 * sizeof(uint32_t));
  std::array<uint32_t, 10> words{};
  std::memcpy(words.data(), &block, sizeof(Block));
  return words;
}

std::string DiscTime(uint32_t sectors) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", sectors / 75 / 60, sectors / 75 % 60,
                sectors % 75);
  return text;
}

// Whether the stretch before the first track's index 1 holds a sample that is not zero;
// said in the disc's notes when it is silence or left out. A stretch that cannot be read
// is not listed.
bool HiddenAudioBefore(CdHandle handle, const TocBuffer& toc, RipSettings& settings) {
  if (toc.lastTrack < toc.firstTrack || (toc.entries[0].adrControl & 0x04)) return false;
  const uint32_t start = TocEntryAddress(toc.entries[0]);
  if (start == 0) return false;
  if (!settings.ripHiddenTrack) {
    settings.discNotes.push_back("the audio before track 1 (" + DiscTime(start) +
                                 ") is a hidden track, left out as asked");
    return false;
  }
  constexpr uint32_t kPiece = 75;
  TrackBufferPtr buffer = AllocTrackBuffer(kPiece);
  if (!buffer) return false;
  for (uint32_t at = 0; at < start; at += kPiece) {
    buffer->startSector = at;
    buffer->sectorCount = std::min(kPiece, start - at);
    if (ReadCDAudioLBA(handle, buffer.get()) != 1) return false;
    const uint8_t* data = TrackBufferData(buffer.get()) + buffer->offset;
    if (std::any_of(data, data + buffer->deliveredLength, [](uint8_t b) { return b != 0; })) {
      return true;
    }
  }
  settings.discNotes.push_back("the pregap of track 1 (" + DiscTime(start) +
                               ") is digital silence: it is left out");
  return false;
}

}  // namespace

std::array<uint32_t, 10> FormatSettingsWords(const FormatSettings& formats, int32_t format) {
  switch (format) {
    case Wav:
      return WordsOf(formats.wav);
    case Ogg:
      return WordsOf(formats.ogg);
    case Mp3:
      return WordsOf(formats.mp3);
    case Flac:
      return WordsOf(formats.flac);
    case Opus:
      return WordsOf(formats.opus);
    default:
      return {};
  }
}

uint32_t AudioTrackSectors(const TocBuffer& toc, int e) {
  const int entryCount = static_cast<int>(std::size(toc.entries));
  if (e < 0 || e + 1 >= entryCount || e > toc.lastTrack - toc.firstTrack) return 0;
  int lastAudio = -1;
  for (int t = toc.firstTrack; t <= toc.lastTrack && t - toc.firstTrack + 1 < entryCount; ++t) {
    if (!(toc.entries[t - toc.firstTrack].adrControl & 0x04)) lastAudio = t - toc.firstTrack;
  }
  const uint32_t start = TocEntryAddress(toc.entries[e]);
  const uint32_t next = TocEntryAddress(toc.entries[e + 1]);
  // A following entry that starts before this one is a broken TOC, not four billion sectors.
  uint32_t sectors = next >= start ? next - start : 0;
  // Only a gap that fits is a session gap; a shorter one is a single-session disc's.
  const bool dataFollows = e == lastAudio && e + 1 <= toc.lastTrack - toc.firstTrack &&
                           (toc.entries[e + 1].adrControl & 0x04);
  if (dataFollows && sectors > kSessionGapSectors) sectors -= kSessionGapSectors;
  return sectors;
}

int BuildTrackList(RipSettings& settings, int drivePosition, TrackListHost* host) {
  settings.tracks.clear();
  if (drivePosition < 0 || static_cast<size_t>(drivePosition) >= settings.drives.size()) {
    ReportNoDisc(host);
    return -1;
  }
  DriveRecord& drive = settings.drives[static_cast<size_t>(drivePosition)];

  CdHandle handle = GetCDHandle(&drive.openRequest);
  std::memset(&drive.toc, 0, sizeof drive.toc);
  const bool tocRead = ReadTOC(handle, &drive.toc) == 1;
  uint32_t pregaps[100] = {};
  std::vector<std::vector<TrackIndexMark>> indexes;
  DiscCdText cdText;
  settings.discNotes.clear();
  if (tocRead) {
    GetTrackPregaps(handle, pregaps, 100);
    GetTrackIndexes(handle, &indexes);
    GetCdText(handle, &cdText);
    settings.discNotes = GetDiscNotes(handle);
  }
  // The disc's own names, where the user has not typed others (those always win).
  settings.knownArtist = cdText.disc.performer;
  settings.knownAlbum = cdText.disc.title;
  settings.knownYear.clear();
  settings.knownCatalog = cdText.disc.code;
  settings.release = {};  // a lookup's, of the disc that was in before
  if (tocRead) {
    drive.discId = 0;
    const int n = drive.toc.length;
    std::unique_ptr<uint32_t[]> idBuffer(new (std::nothrow) uint32_t[static_cast<size_t>(n) + 3]());
    if (idBuffer) {
      GetCDDBDiskID(handle, idBuffer.get(), n);
      drive.discId = idBuffer[0];
    }
  }
  // Audio before track 1's index 1 that is not digital silence is a hidden track.
  const bool hidden = tocRead && HiddenAudioBefore(handle, drive.toc, settings);
  CloseCDHandle(handle);

  if (!tocRead) {
    ReportNoDisc(host);
    return -1;
  }
  if (host) host->SetNoDiscShown(false);

  const TocBuffer& toc = drive.toc;
  const auto words = FormatSettingsWords(settings.formats, settings.outputFormat);
  const int entryCount = static_cast<int>(std::size(toc.entries));
  // Entries are counted from the first track's, so a disc that starts at a track number
  // above 1 still lines up; each track needs the entry after it (its end) inside the buffer.
  if (hidden) {
    TrackRecord record;
    record.index = -1;
    record.hidden = true;
    record.title = kHiddenTrackTitle;
    record.startSector = 0;
    record.lengthSectors = TocEntryAddress(toc.entries[0]);
    record.preEmphasis = (toc.entries[0].adrControl & 0x01) != 0;
    record.lengthSeconds = record.lengthSectors / kSectorsPerSecond;
    record.format = static_cast<uint32_t>(settings.outputFormat);
    record.formatSettings = words;
    settings.tracks.push_back(std::move(record));
  }
  int32_t position = 0;
  for (int t = toc.firstTrack; t <= toc.lastTrack; ++t) {
    const int e = t - toc.firstTrack;
    if (e + 1 >= entryCount) break;
    const TocEntry& entry = toc.entries[e];
    if (entry.adrControl & 0x04) continue;  // data track: no row, no position

    TrackRecord record;
    record.index = position++;
    record.title = DefaultTrackTitle(record.index);
    record.startSector = TocEntryAddress(entry);
    record.lengthSectors = AudioTrackSectors(toc, e);
    record.tocPosition = static_cast<uint32_t>(e + 1);
    record.preEmphasis = (entry.adrControl & 0x01) != 0;
    if (static_cast<size_t>(e) < cdText.tracks.size()) {
      const CdTextFields& texts = cdText.tracks[static_cast<size_t>(e)];
      if (!texts.title.empty()) record.title = texts.title;
      record.performer = texts.performer;
      record.isrc = texts.code;
    }
    // Never more than the stretch before it: a damaged sheet cannot reach into another track.
    const uint32_t previous = e > 0 ? TocEntryAddress(toc.entries[e - 1]) : record.startSector;
    const uint32_t before = record.startSector >= previous ? record.startSector - previous : 0;
    record.pregapSectors = std::min(pregaps[e], before);
    // Track 1's pregap is everything before it: the hidden track, when that was listed.
    if (e == 0) record.pregapSectors = hidden ? record.startSector : 0;
    if (static_cast<size_t>(e) < indexes.size()) {
      for (const TrackIndexMark& mark : indexes[static_cast<size_t>(e)]) {
        if (mark.number >= 2 && mark.sector > record.startSector &&
            mark.sector < record.startSector + record.lengthSectors &&
            (record.indexes.empty() || (mark.number > record.indexes.back().number &&
                                        mark.sector > record.indexes.back().sector))) {
          record.indexes.push_back(mark);
        }
      }
    }
    record.lengthSeconds = record.lengthSectors / kSectorsPerSecond;
    record.format = static_cast<uint32_t>(settings.outputFormat);
    record.formatSettings = words;
    settings.tracks.push_back(std::move(record));
  }
  return 0;
}

int EnumerateCdDrives(RipSettings& settings) {
  DeviceList list;
  std::memset(&list, 0, sizeof list);
  const int found = GetCDList(&list);
  const int count = std::min<int>({found, list.count, kMaxCdDevices});
  for (int i = 0; i < count; ++i) {
    const DeviceEntry& entry = list.entries[i];
    DriveRecord drive;
    drive.description.assign(entry.identification,
                             strnlen(entry.identification, sizeof entry.identification));
    drive.openRequest.size = sizeof(OpenRequest);
    drive.openRequest.version = 1;
    drive.openRequest.hostAdapter = entry.hostAdapter;
    drive.openRequest.target = entry.target;
    drive.openRequest.lun = entry.lun;
    settings.drives.push_back(drive);
  }
  return static_cast<int>(settings.drives.size());
}

std::vector<std::string> FindCdDriveLetters() {
  // Positions follow the CD-access library's own list, so driveIndex names the same drive
  // for reading, playback and eject.
  return GetCdDeviceNames();
}
