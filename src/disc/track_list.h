// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Building the track list from a drive's table of contents, and discovering the drives.
// Runs on the user-interface thread only (never while a rip runs).
#include <string>
#include <vector>

#include "config/settings.h"

// What the track-list build needs from the main window: the "no disc" state of the rows.
// The command-line front end has no rows and passes no host.
class TrackListHost {
 public:
  virtual ~TrackListHost() = default;
  virtual bool NoDiscShown() const = 0;
  virtual void SetNoDiscShown(bool shown) = 0;
  virtual bool PlayRequested() const = 0;
  virtual void DeleteAllRows() = 0;
};

// Reads the TOC of the drive at `drivePosition` of settings.drives into its DriveRecord
// (with the disc id) and rebuilds settings.tracks: one record per audio track, data tracks
// skipped, each with a copy of the current output format's settings. 0 on success, -1 when
// no TOC could be read (settings.tracks is then empty).
int BuildTrackList(RipSettings& settings, int drivePosition, TrackListHost* host = nullptr);

// Sectors of audio in TOC entry `e` (counted from the first track's): up to the next entry,
// less the gap before a data session that follows the last audio track.
uint32_t AudioTrackSectors(const TocBuffer& toc, int e);

// Fills settings.drives from the CD-access library's device list; returns its size.
int EnumerateCdDrives(RipSettings& settings);

// The device names of the same drive list, in the same order, so that position driveIndex
// names the same drive for playback and eject as for reading.
std::vector<std::string> FindCdDriveLetters();

// The words of the current output format's settings block, as copied into each record.
std::array<uint32_t, 10> FormatSettingsWords(const FormatSettings& formats, int32_t format);
