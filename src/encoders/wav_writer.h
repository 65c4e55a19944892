// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// WAV files: the 44-byte RIFF header and the writer that rips a track straight into one.
#include <cstdint>
#include <cstdio>

#include <string>

#include "capture/capture.h"
#include "config/disc_model.h"

struct WavFormat {
  uint32_t sampleRate = 44100;
  uint16_t channels = 2;
  uint16_t bitsPerSample = 16;
};
inline constexpr WavFormat kCdWavFormat{};

// Seeks to the start of `file` and writes the 44-byte header for `dataSize` audio bytes in
// one write. Does nothing without a file. False when the header could not be written.
bool WriteWavHeader(FILE* file, uint32_t dataSize, const WavFormat& format = kCdWavFormat);

// Rips job.track into job.targetPath: header with size 0, the audio as the drive delivers
// it (or converted to the track's WAV settings), then the header again with the real size.
// Progress 0..100; status 100, or 101 after a stop, or 102 when the file could not be
// created or written or a block could not be read (the file then stays a valid WAV of
// everything read before it).
void RipTrackToWav(RipHost& mainWindow, CaptureJob& job);

// A WAV track captured like an encoded one, converted to its WAV settings from the PCM file.
struct WavJob {
  TrackRecord* track = nullptr;
  std::string pcmPath;
  std::string outputPath;
  // The capture lost audio to a read error: the track ends "ERROR".
  bool captureFailed = false;
};

// True when a WAV track's settings ask for something other than the disc's own format, so
// the audio goes through a converter on its way into the file.
bool WavNeedsConversion(const TrackRecord& track);

// Writes job.pcmPath (a capture of job.track) into the WAV file job.outputPath, converted to
// the track's WAV settings exactly as RipTrackToWav converts the drive's audio, then deletes
// the PCM file. Progress 30..100; status as RipTrackToWav, 102 also when the PCM file cannot
// be opened or job.captureFailed says audio is missing.
void ConvertPcmToWav(RipHost& mainWindow, WavJob& job);
