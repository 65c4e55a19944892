// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The FLAC stage: lossless files through libFLAC, fed while the sectors are read (no
// temporary file), always 44.1 kHz 16-bit stereo. Each file has STREAMINFO with the audio's
// MD5, a seek point every 10 seconds, the track's Vorbis comments and 4 KiB of padding for
// later tag edits.
#include <string>

#include "capture/capture.h"
#include "config/disc_model.h"
#include "encoders/streamed_file.h"

// Rips job.track into the FLAC file job.targetPath at the track's compression level.
// Progress 0..100. Status 100; 101 after a stop (the file a valid FLAC of what was read); 102
// when the file cannot be created or written ("Cannot write output file") or a block cannot
// be read (the file then a valid FLAC of everything read before it).
void RipTrackToFlac(RipHost& mainWindow, CaptureJob& job);

using FlacJob = PcmEncodeJob;  // a track captured first (secure reads)

// Encodes job.pcmPath into job.outputPath as RipTrackToFlac would have written it, then
// deletes the PCM file. Progress 30..100; status as RipTrackToFlac, 102 also when the PCM
// file cannot be read.
void EncodePcmToFlac(RipHost& mainWindow, FlacJob& job);
