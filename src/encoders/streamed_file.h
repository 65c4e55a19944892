// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The life of an output file whose encoder takes the PCM as the read loop hands it over (FLAC,
// Opus): created, fed straight from the drive or from a secure capture's PCM file, finished,
// flushed and closed, with the track's status set from what became of the audio and of the
// file. A Sink is a PcmSink built from (FILE*, const TrackRecord&) with ready() and Finish().
#include <cstdio>
#include <string>

#include "capture/capture.h"
#include "capture/output_files.h"
#include "config/disc_model.h"

// A track captured first (secure reads), encoded from its PCM file.
struct PcmEncodeJob {
  TrackRecord* track = nullptr;
  std::string pcmPath;
  std::string outputPath;
  bool captureFailed = false;  // the capture lost audio to a read error: the track ends "ERROR"
};

namespace streamed_file {

// The file of job.track at job.targetPath, of the audio `feed(sink)` hands to the sink (a null
// sink when the encoder could not start); `feed` returns what became of the audio.
template <typename Sink, typename Feed>
void Write(RipHost& mainWindow, CaptureJob& job, Feed feed) {
  TrackRecord& track = *job.track;
  OutputFileLock lock;
  FILE* file = CreateCaptureTarget(mainWindow, job, &lock);
  if (!file) return;
  bool writeFailed = false;
  ReadLoopResult result;
  {
    Sink sink(file, track);
    writeFailed = !sink.ready();
    result = feed(writeFailed ? nullptr : &sink);
    if (!writeFailed && !sink.Finish()) writeFailed = true;
  }
  // The tail of the audio reaches the disk only here: a full disk often shows up now.
  if (std::fflush(file) != 0) writeFailed = true;
  const bool removed = OutputFileRemoved(file);
  const bool closed = std::fclose(file) == 0;
  writeFailed = writeFailed || !closed || removed;
  if (writeFailed && !result.writeFailed) mainWindow.ShowErrorBox("Cannot write output file");
  if (writeFailed || result.writeFailed || result.readFailed) {
    if (track.status != kStatusStopped || writeFailed) track.status = kStatusError;
  } else if (track.status != kStatusStopped) {
    track.status = kStatusCompleted;
  }
}

// Rips job.track from the drive into its file.
template <typename Sink>
void RipTrack(RipHost& mainWindow, CaptureJob& job) {
  Write<Sink>(mainWindow, job, [&](PcmSink* sink) {
    if (!sink) return ReadLoopResult{};
    const CdHandle handle = OpenDriveForCapture();
    const ReadLoopResult result = RunReadLoop(mainWindow, job, handle, *sink, 100);
    CloseCDHandle(handle);
    return result;
  });
  mainWindow.PostProgress(*job.track);
}

// Hands the open PCM file of a captured track (a job with track, pcmPath, outputPath and
// captureFailed) to `encode` (else says it cannot be opened and the track ends "ERROR"), then
// deletes the PCM file.
template <typename Job, typename Encode>
void FromPcmFile(RipHost& mainWindow, Job& job, Encode encode) {
  TrackRecord& track = *job.track;
  FILE* pcm = OpenRegularFile(job.pcmPath, "rb");
  if (!pcm) {
    mainWindow.ShowErrorBox("Cannot open PCM data file");
    track.status = kStatusError;
  } else {
    CaptureJob target{&track, nullptr, job.outputPath};
    encode(target, pcm);
    std::fclose(pcm);
  }
  std::remove(job.pcmPath.c_str());
  mainWindow.PostProgress(track);
}

// Encodes job.pcmPath into job.outputPath, then deletes the PCM file.
template <typename Sink>
void EncodePcm(RipHost& mainWindow, PcmEncodeJob& job) {
  FromPcmFile(mainWindow, job, [&](CaptureJob& target, FILE* pcm) {
    Write<Sink>(mainWindow, target, [&](PcmSink* sink) {
      return FeedPcmFile(mainWindow, *job.track, pcm, sink, job.captureFailed);
    });
  });
}

}  // namespace streamed_file
