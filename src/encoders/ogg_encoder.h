// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The Ogg Vorbis stage: encodes the captured PCM file with libvorbis into Ogg pages.
#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/rip_host.h"
#include "config/settings.h"

// One track's encode, filled anew by the worker (or an encode thread) and owned by it.
struct OggJob {
  TrackRecord* track = nullptr;
  std::string pcmPath;
  std::string outputPath;
  uint8_t* readBuffer = nullptr;  // 1024 frames of the encoder's channel count
  std::size_t readBufferSize = 0;
  // The capture lost audio to a read error: the track ends "ERROR" even if encoding works.
  bool captureFailed = false;
};

// Bytes the stage's read buffer needs: 1024 frames of the PCM file, which is always the
// disc's two channels (4096 bytes), whatever channel count the encoder is set up with.
std::size_t OggReadBufferSize(const TrackRecord& track);

inline constexpr char kOggSettingsRefused[] = "The Ogg Vorbis encoder cannot use these settings";

// True when libvorbis (and the resampler, for another rate) take the settings: a job asks
// once, before it captures anything for them.
bool OggEncoderAccepts(const OggSettings& settings);

// Encodes job.pcmPath into job.outputPath with the track's Ogg Vorbis settings (resampled to
// 32000 or 48000 Hz, mixed to one channel for "Mono", the disc's stereo for "5.1") and the
// disc fields as comments, then deletes the PCM file. Progress 30..100 by PCM bytes read.
// Status 100; 101 after a stop (no end-of-stream page); 102 when the PCM file cannot be
// opened, libvorbis refuses the settings (no output file is made), the output cannot be
// created or written, or job.captureFailed says audio is missing.
void EncodePcmToOgg(RipHost& mainWindow, OggJob& job);
