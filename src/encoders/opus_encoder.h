// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The Opus stage: Ogg Opus files through libopusenc, fed while the sectors are read (no
// temporary file). The stream says 44.1 kHz as its input rate and ends on the track's last
// sample, so that a decoder gives back exactly the track's samples; the track's Vorbis
// comments go into OpusTags, and the header's output gain stays 0 (loudness is left to the
// R128 tags, per RFC 7845).
#include <string>

#include "capture/capture.h"
#include "config/disc_model.h"
#include "encoders/streamed_file.h"

// Rips job.track into the Opus file job.targetPath at the track's bitrate, mode and
// complexity. Progress 0..100. Status 100; 101 after a stop (the file a valid Opus file of
// what was read); 102 when the file cannot be created or written ("Cannot write output
// file") or a block cannot be read.
void RipTrackToOpus(RipHost& mainWindow, CaptureJob& job);

using OpusJob = PcmEncodeJob;  // a track captured first (secure reads)

// Encodes job.pcmPath into job.outputPath as RipTrackToOpus would have written it, then
// deletes the PCM file. Progress 30..100; status as RipTrackToOpus, 102 also when the PCM
// file cannot be read.
void EncodePcmToOpus(RipHost& mainWindow, OpusJob& job);
