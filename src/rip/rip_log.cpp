// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "rip/rip_log.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "disc/ctdb.h"
#include "disc/disc_ids.h"
#include "disc/output_naming.h"
#include "disc/track_row_text.h"
#include "platform/atomic_file.h"

namespace {

// A double-quoted YAML scalar: any text stays a string (never a number, a boolean or a
// date), whatever bytes it holds.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Hex(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

std::string RelativeTo(const std::string& path, const std::string& folder) {
  const std::filesystem::path relative =
      std::filesystem::path(path).lexically_relative(std::filesystem::path(folder));
  return relative.empty() ? path : relative.string();
}

const DriveRecord* SelectedDrive(const RipSettings& settings) {
  const auto drive = static_cast<size_t>(settings.driveIndex);
  return drive < settings.drives.size() ? &settings.drives[drive] : nullptr;
}

// A text in a cue sheet's quotes: a double quote cannot stand there, and a line break would
// end the command.
std::string CueText(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '"' ? '\'' : (c == '\r' || c == '\n') ? ' ' : c;
  return out;
}

std::string TrackNumber(const TrackRecord& track) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", track.index + 1);
  return text;
}

// "m:ss.ff": minutes, seconds and frames of a sector counted from the track's start.
std::string TrackPosition(uint32_t sectors) {
  char text[24];
  std::snprintf(text, sizeof text, "%u:%02u.%02u", sectors / 75 / 60, sectors / 75 % 60,
                sectors % 75);
  return text;
}

// "mm:ss:ff" of a cue sheet: a position in a file, in sectors.
std::string CueTime(uint32_t sectors) {
  char text[24];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", sectors / 75 / 60, sectors / 75 % 60,
                sectors % 75);
  return text;
}

// A track's block of a cue sheet up to its indexes: its number, title, flags and ISRC.
std::string TrackLines(const TrackRecord& track, bool deemphasised) {
  std::string lines = "  TRACK " + TrackNumber(track) + " AUDIO\n";
  if (HasOwnTitle(track)) lines += "    TITLE \"" + CueText(track.title) + "\"\n";
  if (track.preEmphasis && !deemphasised) lines += "    FLAGS PRE\n";
  if (!track.isrc.empty()) lines += "    ISRC " + CueText(track.isrc) + "\n";
  return lines;
}

}  // namespace

std::string CtdbSummary(const CtdbDiscOutcome& outcome, int accurate, int judged) {
  if (!outcome.asked) return "";
  // "CTDB: unreachable: ...", not "CTDB: CTDB unreachable: ...".
  if (!outcome.found) {
    const bool named = outcome.answer.starts_with("CTDB ");
    return "; CTDB: " + outcome.answer.substr(named ? 5 : 0);
  }
  return "; CTDB: " + std::to_string(accurate) + " of " + std::to_string(judged) + " (confidence " +
         std::to_string(outcome.confidence) + ")";
}

std::string RipLogText(const RipSettings& settings, const std::vector<LoggedTrack>& tracks,
                       const std::string& folder, const std::string& program) {
  const DriveRecord* drive = SelectedDrive(settings);
  const AccurateRipDiscId id = drive ? AccurateRipIdOf(drive->toc) : AccurateRipDiscId{};
  const bool verified = settings.verifyAccurateRip || settings.secureRip;
  std::string log = "Log created by: " + Quoted("Obrin 2.0 (" + program + ")") +
                    "\nDisc:\n  freedb id: " + Quoted(Hex(drive ? drive->discId : 0)) +
                    "\n  AccurateRip id: " + Quoted("dBAR-" + AccurateRipIdText(id)) +
                    "\n  CTDB id: " + Quoted(drive ? CtdbTocId(drive->toc) : "") +
                    "\n  Read offset: " + std::to_string(settings.readOffset) + "\n";
  const DriveReadFacts& read = settings.driveRead;
  if (read.drive) log += "  Drive: " + Quoted(read.identity) + "\n";
  log += std::string("  Secure: ") + (settings.secureRip ? "true" : "false") + "\n";
  if (read.drive && read.cacheMeasured) {
    log += read.cacheSectors == 0 ? std::string("  Cache: none found\n")
                                  : "  Cache: " + std::to_string(read.cacheSectors) + " sectors, " +
                                        (read.cacheDefeated ? "defeated" : "not defeated") + "\n";
  }
  if (read.drive && settings.secureRip) {
    log += read.c2Used      ? "  C2: used\n"
           : read.c2Refused ? "  C2: not used (the drive refused it)\n"
                            : "  C2: not used (the drive gives none)\n";
  }
  const CtdbDiscOutcome& ctdb = settings.ctdbOutcome;
  if (verified && !ctdb.disc.empty()) log += "  CTDB: " + Quoted(ctdb.disc) + "\n";
  if (verified && !ctdb.otherEntries.empty()) {
    log += "  CTDB other entries: [";
    for (size_t i = 0; i < ctdb.otherEntries.size(); ++i) {
      log += (i ? ", " : "") + Quoted(ctdb.otherEntries[i]);
    }
    log += "]\n";
  }
  if (!settings.knownCatalog.empty()) log += "  Catalog: " + Quoted(settings.knownCatalog) + "\n";
  const ReplayGainOutcome& gain = settings.replayGainOutcome;
  if (!gain.albumGain.empty()) {
    log += "  ReplayGain album gain: " + Quoted(gain.albumGain) +
           "\n  ReplayGain album peak: " + Quoted(gain.albumPeak) + "\n";
  } else if (!gain.albumNote.empty()) {
    log += "  ReplayGain album: " + Quoted("none: " + gain.albumNote) + "\n";
  }
  if (!settings.discNotes.empty()) {
    log += "  Notes:\n";
    for (const std::string& note : settings.discNotes) log += "    - " + Quoted(note) + "\n";
  }
  if (settings.coverNote == "none") {
    log += "  Cover: none\n";
  } else if (!settings.coverNote.empty()) {
    log += "  Cover: " + Quoted(settings.coverNote) + "\n";
  }
  log += "Tracks:\n";
  int accurate = 0, ctdbAccurate = 0, completed = 0;
  for (const LoggedTrack& logged : tracks) {
    const TrackRecord& track = *logged.track;
    const TrackChecksumValues& sums = track.checksums;
    log += "  " + std::to_string(track.index + 1) + ":\n";
    // A check writes no file.
    if (!logged.outputName.empty()) {
      log += "    File: " + Quoted(RelativeTo(logged.outputName, folder)) + "\n";
    }
    log += "    Status: " + Quoted(TrackStatusText(track.status)) + "\n";
    if (!track.isrc.empty()) log += "    ISRC: " + Quoted(track.isrc) + "\n";
    if (track.hidden) log += "    Hidden: true\n";
    if (track.pregapSectors > 0)
      log += "    Pregap: " + Quoted(TrackPosition(track.pregapSectors)) + "\n";
    for (const TrackIndexMark& mark : track.indexes) {
      char number[8];
      std::snprintf(number, sizeof number, "%02u", static_cast<unsigned>(mark.number));
      log += "    Index " + std::string(number) + ": " +
             Quoted(TrackPosition(mark.sector - track.startSector)) + "\n";
    }
    if (track.preEmphasis) {
      log += settings.deemphasis ? "    Pre-emphasis: removed\n" : "    Pre-emphasis: yes\n";
    }
    if (sums.complete) {
      log += "    Copy CRC: " + Quoted(Hex(sums.copyCrc)) + "\n";
      if (sums.tested) log += "    Test CRC: " + Quoted(Hex(sums.copyCrc)) + "\n";
      log += "    AccurateRip v1: " + Quoted(Hex(sums.accurateRipV1)) +
             "\n    AccurateRip v2: " + Quoted(Hex(sums.accurateRipV2)) + "\n";
      if (!sums.ctdbByShift.empty()) log += "    CTDB CRC: " + Quoted(Hex(sums.ctdbCrc)) + "\n";
    }
    if (sums.edgeSilence > 0) {
      log += "    Overread: not possible, " + std::to_string(sums.edgeSilence) +
             " samples of silence at the " + (sums.edgeAtEnd ? "end" : "start") + "\n";
    } else if (sums.edgeSilence == 0) {
      log += std::string("    Overread: read from the ") +
             (sums.edgeAtEnd ? "lead-out" : "lead-in") + "\n";
    }
    if (!sums.suspicious.empty()) {
      log += "    Suspicious positions: [";
      for (size_t i = 0; i < sums.suspicious.size();) {
        size_t end = i + 1;
        while (end < sums.suspicious.size() &&
               sums.suspicious[end] == sums.suspicious[end - 1] + 1) {
          ++end;
        }
        const auto at = [&](uint32_t sector) {
          return TrackPosition(sector >= track.startSector ? sector - track.startSector : 0);
        };
        const std::string first = at(sums.suspicious[i]), last = at(sums.suspicious[end - 1]);
        log += (i ? ", " : "") + Quoted(first == last ? first : first + "-" + last);
        i = end;
      }
      log += "]\n";
    }
    if (sums.readCrcs.size() > 1) {
      log += "    Read CRCs: [";
      for (size_t i = 0; i < sums.readCrcs.size(); ++i) {
        log += (i ? ", " : "") + Quoted(Hex(sums.readCrcs[i]));
      }
      log += "]\n";
    }
    if (verified && !track.accurateRip.empty()) {
      log += "    AccurateRip: " + Quoted(track.accurateRip) + "\n";
    }
    if (verified && !track.ctdb.empty()) log += "    CTDB: " + Quoted(track.ctdb) + "\n";
    if (!logged.gain.empty()) {
      log += "    ReplayGain track gain: " + Quoted(logged.gain) +
             "\n    ReplayGain track peak: " + Quoted(logged.peak) + "\n";
    }
    accurate += track.accurateRip.starts_with("Accurately ripped");
    ctdbAccurate += !track.hidden && track.ctdb.starts_with("Accurately ripped");
    completed += track.status == kStatusCompleted;
  }
  const int count = static_cast<int>(tracks.size());
  // The database knows nothing of a hidden track: it is not one of those it could confirm.
  const int judged = static_cast<int>(std::count_if(
      tracks.begin(), tracks.end(), [](const LoggedTrack& t) { return !t.track->hidden; }));
  log += "Summary: " +
         Quoted(verified
                    ? "AccurateRip: " + std::to_string(accurate) + " of " + std::to_string(judged) +
                          " tracks accurately ripped" + CtdbSummary(ctdb, ctdbAccurate, judged)
                    : std::to_string(completed) + " of " + std::to_string(count) +
                          " tracks completed") +
         "\n";
  return log;
}

std::string RipCueText(const RipSettings& settings, const std::vector<LoggedTrack>& tracks,
                       const std::string& folder) {
  const DriveRecord* drive = SelectedDrive(settings);
  std::string cue = "REM DISCID " + Hex(drive ? drive->discId : 0) + "\n";
  if (!settings.knownCatalog.empty()) cue += "CATALOG " + CueText(settings.knownCatalog) + "\n";
  if (!settings.Artist().empty()) cue += "PERFORMER \"" + CueText(settings.Artist()) + "\"\n";
  if (!settings.Album().empty()) cue += "TITLE \"" + CueText(settings.Album()) + "\"\n";
  // A track's pregap is audio at the end of the previous track's file (a rip runs from one
  // TOC start to the next): its TRACK and INDEX 00 go into that file's block, and its own
  // file starts at INDEX 01 ("gaps appended"). The hidden track before track 1 is track 1's
  // pregap in a file of its own.
  for (size_t i = 0; i < tracks.size(); ++i) {
    const TrackRecord& track = *tracks[i].track;
    const bool follows = i + 1 < tracks.size() && track.index + 1 == tracks[i + 1].track->index;
    if (track.hidden && !follows) continue;  // no TRACK 01 for it to belong to
    const bool announced =
        i > 0 && track.pregapSectors > 0 && tracks[i - 1].track->index + 1 == track.index;
    // Players take the type word WAVE for any audio file.
    cue += "FILE \"" + CueText(RelativeTo(tracks[i].outputName, folder)) + "\" WAVE\n";
    if (!track.hidden) {
      if (!announced) {
        cue += TrackLines(track, settings.deemphasis);
        // Track 1's pregap in no file of the rip: silence a player makes up.
        if (track.index == 0 && track.startSector > 0) {
          cue += "    PREGAP " + CueTime(track.startSector) + "\n";
        }
      }
      cue += "    INDEX 01 00:00:00\n";
      for (const TrackIndexMark& mark : track.indexes) {
        char number[8];
        std::snprintf(number, sizeof number, "%02u", static_cast<unsigned>(mark.number));
        cue += "    INDEX " + std::string(number) + " " + CueTime(mark.sector - track.startSector) +
               "\n";
      }
    }
    if (!follows) continue;
    const TrackRecord& next = *tracks[i + 1].track;
    if (next.pregapSectors == 0) continue;
    const uint32_t at = next.startSector - next.pregapSectors - track.startSector;
    cue += TrackLines(next, settings.deemphasis) + "    INDEX 00 " + CueTime(at) + "\n";
  }
  return cue;
}

std::string RipSummaryText(const RipSettings& settings,
                           const std::vector<const TrackRecord*>& tracks) {
  int accurate = 0, ctdbAccurate = 0, completed = 0, judged = 0;
  for (const TrackRecord* track : tracks) {
    accurate += track->accurateRip.starts_with("Accurately ripped");
    ctdbAccurate += !track->hidden && track->ctdb.starts_with("Accurately ripped");
    completed += track->status == kStatusCompleted;
    judged += !track->hidden;
  }
  if (settings.verifyAccurateRip || settings.secureRip) {
    return "AccurateRip: " + std::to_string(accurate) + " of " + std::to_string(judged) +
           " tracks accurately ripped" + CtdbSummary(settings.ctdbOutcome, ctdbAccurate, judged);
  }
  return std::to_string(completed) + " of " + std::to_string(tracks.size()) + " tracks completed";
}

std::string RipLogPath(const RipSettings& settings) {
  const std::string folder = JoinFolder(CurrentOutputFolder(settings), AlbumFolderName(settings));
  return JoinFolder(folder, AlbumFolderName(settings)) + ".log";
}

bool WriteRipLog(const RipSettings& settings, const std::vector<LoggedTrack>& tracks,
                 const std::string& program) {
  if (!settings.checkLogPath.empty()) {
    const std::string folder = std::filesystem::path(settings.checkLogPath).parent_path();
    return ReplaceFileAtomically(settings.checkLogPath,
                                 RipLogText(settings, tracks, folder, program));
  }
  const std::string folder = JoinFolder(CurrentOutputFolder(settings), AlbumFolderName(settings));
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const std::string base = JoinFolder(folder, AlbumFolderName(settings));
  const bool logWritten =
      ReplaceFileAtomically(base + ".log", RipLogText(settings, tracks, folder, program));
  return ReplaceFileAtomically(base + ".cue", RipCueText(settings, tracks, folder)) && logWritten;
}
