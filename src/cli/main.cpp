// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// obrin-rip: the rip engine from a terminal. It loads the settings exactly as the window does,
// finds the drives (real ones, then the --image files), and lists or rips the disc.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_rip.h"
#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/cdaccess.h"
#include "disc/cover_art.h"
#include "disc/ctdb.h"
#include "disc/disc_ids.h"
#include "disc/drive_commands.h"
#include "disc/drive_section.h"
#include "disc/track_list.h"
#include "disc/track_row_text.h"
#include "platform/profile.h"
#include "platform/std_streams.h"

namespace {

int UsageError(const std::string& message) {
  std::fprintf(stderr, "obrin-rip: %s\nTry 'obrin-rip --help' for more information.\n",
               message.c_str());
  return 2;
}

int Run(int argc, char** argv) {
  const CliParseResult parsed = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return UsageError(parsed.error);
  const CliOptions& options = parsed.options;
  if (options.help) {
    std::fputs(kCliUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("obrin-rip (Obrin) %s\n", OBRIN_VERSION);
    return 0;
  }

  RipSettings& settings = ripSettings;
  LoadDefaultSettings(settings);
  LoadSettings(settings);
  for (const std::string& problem : settings.settingsProblems) {
    std::fprintf(stderr, "obrin-rip: %s\n", problem.c_str());
  }
  if (options.readOffset) settings.readOffset = *options.readOffset;
  if (options.secure) settings.secureRip = 1;
  if (options.deemphasis) settings.deemphasis = 1;
  if (options.replayGain) settings.replayGain = 1;
  settings.ripHiddenTrack = !options.noHtoa;
  if (options.log) settings.writeLog = 1;
  if (options.coverArt) settings.fetchCoverArt = 1;
  if (options.coverFile) {
    // Checked before the disc is read: a mistyped picture should not cost a rip without it.
    const CoverArtFetch own = ReadCoverFile(*options.coverFile);
    if (own.kind != CoverArtFetch::kFound) {
      const std::string& file = *options.coverFile;
      return UsageError("--cover: " + (own.reason.find(file) != std::string::npos
                                           ? own.reason
                                           : file + ": " + own.reason));
    }
    settings.coverFile = *options.coverFile;
  } else if (options.coverArt && !options.lookup) {
    std::fputs(
        "obrin-rip: --cover-art fetches the cover of the release a lookup names; "
        "without --lookup there is none\n",
        stderr);
  }
  // Secure reading asks the databases first: what either confirms is read once.
  if (options.verify || settings.secureRip) settings.verifyAccurateRip = 1;
  settings.outputFormat = options.format;
  if (options.outputFolder) settings.outputFolderOverride = *options.outputFolder;

  SetCdImages(options.images);
  if (EnumerateCdDrives(settings) < 1) {
    std::fputs("obrin-rip: no CD drive found (name a disc image with --image FILE)\n", stderr);
    return 2;
  }
  if (options.listDrives) {
    for (size_t i = 0; i < settings.drives.size(); ++i) {
      std::printf("%zu\t%s\n", i, settings.drives[i].description.c_str());
    }
    return 0;
  }
  if (static_cast<size_t>(options.drive) >= settings.drives.size()) {
    return UsageError("there is no drive " + std::to_string(options.drive) + " (" +
                      std::to_string(settings.drives.size()) + " found; see --drives)");
  }
  settings.driveIndex = options.drive;

  if (BuildTrackList(settings, settings.driveIndex) != 0) {
    if (const std::string why = GetCDHandleErrorText(); !why.empty()) {
      std::fprintf(stderr, "obrin-rip: %s\n", why.c_str());
      return 2;
    }
    std::fprintf(stderr, "obrin-rip: no disc in drive %d (%s)\n", settings.driveIndex,
                 settings.drives[static_cast<size_t>(settings.driveIndex)].description.c_str());
    return 2;
  }
  // Which files stood in for the ones an image names: on standard error, so that listings
  // stay parseable.
  for (const std::string& note : GetCDHandleNotes()) {
    std::fprintf(stderr, "obrin-rip: %s\n", note.c_str());
  }
  for (const std::string& note : settings.discNotes) {
    std::fprintf(stderr, "obrin-rip: %s\n", note.c_str());
  }
  // A drive model's own read offset ([Drive VENDOR MODEL] ReadOffset) is used in preference
  // to the default; --offset wins over both.
  if (!options.readOffset) settings.readOffset = DriveReadOffset(settings);
  // Pre-emphasised audio is written as the disc holds it: say so, once per track.
  for (const TrackRecord& track : settings.tracks) {
    if (track.preEmphasis && !options.listDrives) {
      std::fprintf(stderr, "obrin-rip: track %02d is pre-emphasised; %s\n", track.index + 1,
                   settings.deemphasis ? "it is de-emphasised" : "its audio is kept so");
    }
  }
  settings.currentTrack = 0;
  if (options.check) {
    settings.checkOnly = true;
    // An image's check log goes beside it, under a name of its own: never over the log of
    // the rip the image came from.
    const std::vector<std::string> names = GetCdDeviceNames();
    const auto drive = static_cast<size_t>(settings.driveIndex);
    if (drive < names.size()) {
      if (const auto device = FindCdDevice(names[drive]); device && device->IsImage()) {
        settings.checkLogPath =
            std::filesystem::path(names[drive]).replace_extension(".check.log").string();
      }
    }
  }
  if (options.discInfo) {
    const DriveRecord& drive = settings.drives[static_cast<size_t>(settings.driveIndex)];
    std::printf("freedb: %08x\nMusicBrainz: %s\nAccurateRip: %s\nCTDB: %s\n",
                static_cast<unsigned>(drive.discId), MusicBrainzDiscId(drive.toc).c_str(),
                AccurateRipIdText(AccurateRipIdOf(drive.toc)).c_str(),
                CtdbTocId(drive.toc).c_str());
    std::fflush(stdout);
  }
  if (options.lookup) {
    if (const int status =
            RunCliLookup(settings, options.release, options.discInfo ? stdout : stderr)) {
      return status;
    }
  }

  if (options.discInfo) {
    // What the disc says of itself, when it says anything.
    const auto ownArtist = [](const TrackRecord& track) -> const std::string& {
      return track.artist.empty() ? track.performer : track.artist;
    };
    const auto ownName = [&](const TrackRecord& track) {
      return HasOwnTitle(track) || !ownArtist(track).empty();
    };
    const bool named = !settings.knownAlbum.empty() || !settings.knownArtist.empty() ||
                       std::any_of(settings.tracks.begin(), settings.tracks.end(), ownName);
    if (!settings.knownAlbum.empty()) std::printf("Album: %s\n", settings.knownAlbum.c_str());
    if (!settings.knownArtist.empty()) {
      std::printf("Performer: %s\n", settings.knownArtist.c_str());
    }
    for (const TrackRecord& track : settings.tracks) {
      if (!named) break;
      std::printf("Track %02d: %s%s%s\n", track.index + 1, track.title.c_str(),
                  ownArtist(track).empty() ? "" : " / ", ownArtist(track).c_str());
    }
    if (!settings.knownCatalog.empty()) std::printf("Catalog: %s\n", settings.knownCatalog.c_str());
    for (const TrackRecord& track : settings.tracks) {
      if (!track.isrc.empty()) std::printf("ISRC %02d: %s\n", track.index + 1, track.isrc.c_str());
    }
    // Every index but 01 (the track's start), on the disc as mm:ss:ff: its pregap's start
    // (track 1's, before a hidden track, is the disc's first sector), then 02 and on.
    const auto printIndex = [](const TrackRecord& track, unsigned number, uint32_t at) {
      std::printf("Track %02d index %02u: %02u:%02u:%02u\n", track.index + 1, number, at / 75 / 60,
                  at / 75 % 60, at % 75);
    };
    for (const TrackRecord& track : settings.tracks) {
      if (track.hidden) continue;
      if (track.index == 0 && track.startSector > 0) {
        printIndex(track, 0, 0);
      } else if (track.pregapSectors > 0) {
        printIndex(track, 0, track.startSector - track.pregapSectors);
      }
      for (const TrackIndexMark& mark : track.indexes) printIndex(track, mark.number, mark.sector);
    }
    return 0;
  }
  if (options.listTracks) {
    const std::string folder = CurrentOutputFolder(settings);
    for (const TrackRecord& track : settings.tracks) {
      const auto texts = TrackRowTexts(track, folder);
      std::printf("%s\t%s\t%s\t%s\t%s\n", texts[0].c_str(), texts[1].c_str(), texts[2].c_str(),
                  texts[3].c_str(), texts[4].c_str());
    }
    return 0;
  }
  if (options.findOffset) return RunCliFindOffset(settings, SelectedDriveSection(settings));
  return RunCliRip(settings, options);
}

}  // namespace

int main(int argc, char** argv) {
  // Run with `2>&-`, the first output file would take descriptor 2 and get the progress.
  if (!EnsureStandardDescriptors()) return 2;
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Under a small address-space limit the libraries leave little room: say so, never abort.
    std::fputs("Obrin error: Not enough memory to go on ripping\n", stderr);
    return 1;
  }
}
