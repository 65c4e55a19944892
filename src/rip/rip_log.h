// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The rip log and cue sheet a job writes beside its tracks when asked ([Output] WriteLog,
// obrin-rip --log): ALBUM.log, YAML that any YAML 1.1 parser loads, with the disc's ids, the
// read offset and each track's status and checksums; ALBUM.cue, naming each track's file,
// so that players and other rippers can take the rip as a disc.
#include <string>
#include <vector>

#include "config/settings.h"

struct LoggedTrack {
  const TrackRecord* track = nullptr;
  std::string outputName;  // the file the track was written to (or was to be)
  std::string gain, peak;  // its ReplayGain texts when it was measured
};

// The summary's words on the CUETools database after the AccurateRip count:
// "; CTDB: 10 of 10 (confidence 12)" (`accurate` of the `judged` tracks it confirms), or what
// the lookup came to ("; CTDB: Not in CTDB", "; CTDB: unreachable: REASON"); empty when the job
// did not ask it.
std::string CtdbSummary(const CtdbDiscOutcome& outcome, int accurate, int judged);

// What a job over `tracks` came to, in the words obrin-rip and the log close with: with
// verification "AccurateRip: 9 of 10 tracks accurately ripped; CTDB: ...", else "3 of 3
// tracks completed".
std::string RipSummaryText(const RipSettings& settings,
                           const std::vector<const TrackRecord*>& tracks);

// Where WriteRipLog puts the log of a rip with `settings` (not of a check).
std::string RipLogPath(const RipSettings& settings);

// The log's text; file names are given relative to `folder` (the log's own).
std::string RipLogText(const RipSettings& settings, const std::vector<LoggedTrack>& tracks,
                       const std::string& folder, const std::string& program);

// The cue sheet's text, over the same tracks.
std::string RipCueText(const RipSettings& settings, const std::vector<LoggedTrack>& tracks,
                       const std::string& folder);

// Writes both into the album folder of `settings` (made when missing), each through a
// temporary file and a rename; a check (settings.checkLogPath) writes the log alone, there.
// False when either could not be written.
bool WriteRipLog(const RipSettings& settings, const std::vector<LoggedTrack>& tracks,
                 const std::string& program);
