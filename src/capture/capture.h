// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Reading one track's digital audio from the selected drive, 26 sectors at a time with up to
// three attempts per block, into a file. Runs on the rip worker only.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "capture/output_files.h"
#include "capture/pcm_sink.h"
#include "capture/rip_host.h"
#include "config/disc_model.h"
#include "disc/accuraterip.h"
#include "disc/cdaccess.h"
#include "disc/ctdb.h"

constexpr uint32_t kSectorsPerRead = 26;
constexpr int kReadAttempts = 3;
constexpr uint32_t kProgressEveryBlocks = 5;

// What a capture is asked to do; filled anew by the worker for every track and owned by it.
struct CaptureJob {
  TrackRecord* track = nullptr;
  TrackBuffer* readBuffer = nullptr;  // 26 sectors
  std::string targetPath;             // the WAV file, or the temporary PCM file
  // Set by the stage: a block failed all its attempts, so the file ends early.
  bool captureFailed = false;
  // Set by the stage: it created (truncated) targetPath.
  bool fileCreated = false;
  // The disc's AccurateRip entries when the job verifies, with its audio track count: a track
  // read whole gets the database's verdict on its checksums.
  const AccurateRipLookup* accurateRip = nullptr;
  uint32_t audioTracks = 0;
  // The disc's CUETools database entries when the job verifies. A disc the database holds
  // has each track read with its neighbours' edges, for the CRCs at every shift.
  const CtdbLookup* ctdb = nullptr;
  // Secure reading: a track neither database confirms is read again until two reads agree
  // (at most kSecureReads reads).
  bool secure = false;
  // Set by the stage: no two reads agreed, but targetPath holds the whole last read, which
  // the track's file keeps (it ends "ERROR", as a track with a read error does).
  bool holdsLastRead = false;
  // Set by the read loop: the handle reads a real drive, whose edges (lead-in, lead-out) a
  // read offset may try before it falls back on silence.
  bool readsDrive = false;
  // Set by the read loop: secure reading on a drive that gives C2 error pointers reads with
  // them and reads flagged sectors again.
  bool useC2 = false;
};

// The CUETools database's CRCs of a track as its last read left them in its checksums.
CtdbCrcs CtdbCrcsOf(const TrackChecksumValues& sums);
// The track's number among the disc's audio tracks of ripSettings.tracks, from 1; 0 for the
// hidden track before track 1, which no database knows.
uint32_t AudioTrackNumber(const TrackRecord& track);

// Re-reads of a block's sectors whose C2 error pointers are set, each after the drive's
// cache was emptied, before the sectors still flagged count as suspicious.
inline constexpr int kC2Rereads = 4;

inline constexpr int kSecureReads = 5;
inline constexpr char kReadsDifferText[] = "Reads differ";
inline constexpr char kSuspiciousText[] = "Suspicious positions";

struct ReadLoopResult {
  bool stopped = false;      // the stop request was seen
  bool readFailed = false;   // a block failed all its attempts (error box shown)
  bool writeFailed = false;  // the sink refused data ("Cannot write output file" shown)
  bool whole = false;        // every byte of the span went to the sink
  // Samples of the span that came as silence because a drive refused to read its lead-in
  // or lead-out there (at its end: edgeAtEnd); -1 when the span reached no drive's edge.
  int64_t edgeSilence = 0;
  bool edgeAtEnd = false;
};

// A stretch of the disc's audio by bytes from sector 0, which may start before the disc
// (negative) and run past its audio: sectors below 0 and from `silentFrom` on are silence.
struct ReadSpanExtent {
  int64_t firstByte = 0;
  int64_t byteCount = 0;
  int64_t silentFrom = 0;
};

// The read loop under RunReadLoop, over any span: reads whole sectors 26 at a time (into
// job.readBuffer and kPiecesInFlight more of its size by turns), hands
// the span's bytes to `sink`, posts progress on job.track and stops, fails and reports as
// RunReadLoop does.
ReadLoopResult ReadSpan(RipHost& mainWindow, CaptureJob& job, CdHandle handle, PcmSink& sink,
                        const ReadSpanExtent& extent, uint32_t progressScale,
                        uint32_t progressFrom = 0);

// The read loop shared by the capture and the WAV writer: polls `ripping` before every
// block, posts progress before every fifth block on a `progressFrom`..`progressScale` scale,
// and hands each block's delivered bytes (shifted by the read offset) to `sink`, working out
// the track's checksums (and, when verifying, its verdict) on the way. Sets status 101 on a
// stop and 102 on a write failure; a read failure leaves status at its last value.
ReadLoopResult RunReadLoop(RipHost& mainWindow, CaptureJob& job, CdHandle handle, PcmSink& sink,
                           uint32_t progressScale, uint32_t progressFrom = 0);

// The read loop's counterpart for a captured PCM file (`pcm`, open for reading): hands it to
// `sink` in the pieces the drive delivered, polling `ripping` (status 101 on a stop) and
// posting progress 30..99 by bytes read. A PCM file that will not give its bytes shows
// "Cannot open PCM data file" (readFailed), a refused write "Cannot write output file"
// (writeFailed). readFailed starts as `captureFailed`; no sink (its file could not be
// started): nothing is read.
ReadLoopResult FeedPcmFile(RipHost& mainWindow, TrackRecord& track, FILE* pcm, PcmSink* sink,
                           bool captureFailed);

// ReadCDAudioLBA up to three times, stopping at the first success; the last result.
int ReadBlockWithRetries(CdHandle handle, TrackBuffer* buffer);

// Creates (truncates) job.targetPath for writing, after taking `lock` on it when one is given.
// When it cannot (or another rip holds the lock, or the name is not a regular file): shows
// "Cannot create output file", sets status 102, posts progress and returns null. Sets
// job.fileCreated.
FILE* CreateCaptureTarget(RipHost& mainWindow, CaptureJob& job, OutputFileLock* lock = nullptr);

// Reads job.track exactly as a rip would (read offset, retries, job.secure's further reads)
// for its checksums and, when verifying, its verdict, writing nothing at all. Progress 0..100
// (a secure check's first read 0..50). Status 100; 101 after a stop; 102 when a block could
// not be read or no two reads agree.
void CheckTrack(RipHost& mainWindow, CaptureJob& job);

// Opens the selected drive for a capture with the library options a capture wants.
CdHandle OpenDriveForCapture();

// Captures the track into job.targetPath as raw 44100 Hz 16-bit stereo PCM. Progress 0..30.
// On return job.captureFailed says whether a block could not be read (the file then holds
// every block before it); status 102 means the file could not be created or written.
// With job.secure, the reads after the first share the 0..30 (each half of what is left);
// when no two of them agree the track ends 102 with "Reads differ", the file holding the
// last read, and job.captureFailed and job.holdsLastRead set.
void CaptureTrackToPcm(RipHost& mainWindow, CaptureJob& job);
