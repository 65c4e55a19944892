// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The command line of obrin-rip.
#include <optional>
#include <string>
#include <vector>

struct CliOptions {
  std::vector<std::string> images;
  int drive = 0;
  bool listDrives = false;
  bool listTracks = false;
  bool help = false;
  bool version = false;
  int format = 2;  // MP3, as at every start of the window
  // 0-based list positions (-1: the hidden track before track 1); all when absent.
  std::optional<std::vector<int>> tracks;
  std::optional<std::string> outputFolder;  // ends with "/"
  std::optional<std::string> artist, album, year, fileNameTemplate;
  std::optional<int> genre;
  bool id3 = false;
  unsigned jobs = 0;              // encodes at once; 0 until parsed: the number of online cores
  std::optional<int> readOffset;  // samples; the settings file's when absent
  bool verify = false;            // --verify: as [AccurateRip] Verify = "TRUE"
  bool secure = false;            // --secure: as [AccurateRip] Secure = "TRUE"
  bool deemphasis = false;        // --deemphasis: pre-emphasised tracks de-emphasised
  bool replayGain = false;        // --replaygain: as [ReplayGain] Enabled = "TRUE"
  bool noHtoa = false;            // --no-htoa: the hidden track before track 1 is left out
  bool log = false;               // --log: as [Output] WriteLog = "TRUE"
  bool findOffset = false;        // --find-offset: search the read offset, rip nothing
  bool discInfo = false;          // --disc-info: print the disc's identifiers, rip nothing
  bool lookup = false;            // --lookup: ask MusicBrainz for the disc's names
  bool check = false;             // --check: read and checksum the tracks, write no audio
  int release = 1;                // --release N: which of the matching releases, from 1
  bool coverArt = false;          // --cover-art: as [CoverArt] Fetch = "TRUE"
  std::optional<std::string> coverFile;  // --cover FILE: the user's own front cover
};

struct CliParseResult {
  CliOptions options;
  std::string error;  // non-empty: a usage error to report (exit status 2)
};

CliParseResult ParseCliOptions(const std::vector<std::string>& args);

// "1,3-5" → {0, 2, 3, 4}, in the order given, duplicates dropped; nullopt when malformed.
std::optional<std::vector<int>> ParseTrackList(const std::string& text);

extern const char* const kCliUsage;
