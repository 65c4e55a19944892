// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The MP3 stage: encodes the captured PCM file through the bound encoder library.
#include <string>

#include "capture/rip_host.h"
#include "config/settings.h"
#include "encoders/lame_enc/lame_enc.h"

// One track's encode, filled anew by the worker (or an encode thread) and owned by it.
struct Mp3Job {
  TrackRecord* track = nullptr;
  std::string pcmPath;
  std::string outputPath;
  // The capture lost audio to a read error: the track ends "ERROR" even if encoding works.
  bool captureFailed = false;
};

// Encodes job.pcmPath into job.outputPath with the track's MP3 settings, appends the ID3v1
// tag when tagging is on, lets the library write its VBR header and deletes the PCM file.
// Progress 30..100. Needs the encoder library bound (BindEncoderLibrary).
void EncodePcmToMp3(RipHost& mainWindow, Mp3Job& job);

// The encoder library configuration block for a track's MP3 settings.
BE_CONFIG Mp3ConfigFor(const Mp3Settings& mp3);

inline constexpr char kMp3SettingsRefused[] = "The MP3 encoder cannot use these settings";

// True when the bound encoder library opens a stream for the settings (closed at once): a
// job asks once, before it captures anything for them.
bool Mp3EncoderAccepts(const Mp3Settings& mp3);
