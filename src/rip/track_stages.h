// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// The steps of one track that both schedules of a job share: the window's RipJob, which runs
// them one after another on its worker, and obrin-rip's pipelined job, which runs the encode
// step of each track on a thread of its own while the worker reads the next track.
#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "capture/output_files.h"
#include "capture/rip_host.h"
#include "config/disc_model.h"
#include "disc/accuraterip.h"
#include "disc/ctdb.h"
#include "rip/replay_gain.h"
#include "rip/rip_log.h"

// What one job knows across its tracks. The worker owns it; encode threads touch only the
// atomics and, under its lock, `written`.
struct JobState {
  std::atomic<uint32_t> exitCode{0};  // a RipJobExit
  // Set by an encode thread that must end the walk (memory ran out).
  std::atomic<bool> endWalk{false};
  bool libraryLoaded = false;
  // Settings blocks the encoders were asked about in this job, with their answers.
  struct TriedSettings {
    uint32_t format;
    std::array<uint32_t, 10> block;
    bool accepted;
  };
  std::vector<TriedSettings> triedSettings;
  // The files earlier tracks of this job wrote, by identity, so that another name for the
  // same file (a folder reached twice) is caught too.
  std::mutex writtenMutex;
  std::set<std::pair<dev_t, ino_t>> written;
  // The disc's AccurateRip entries, asked for once before the first track when the job
  // verifies; the worker's only (the captures read it).
  std::optional<AccurateRipLookup> accurateRip;
  // The disc's CUETools database entries, asked for beside them.
  std::optional<CtdbLookup> ctdb;
  // Every ticked track the walk began, with its file, for the rip log. Worker only.
  std::vector<LoggedTrack> logged;
  ReplayGainJob replayGain;
};

// When the settings ask for verification or secure reading: looks the disc up in the
// AccurateRip and CUETools databases before anything is read (a stop ends the lookups at
// once). Worker thread.
void PrepareVerification(JobState& state);

// After the last track: what the CUETools database says of the disc (ripSettings.ctdbOutcome),
// its whole CRC judged when every audio track was read whole in this job. Worker thread.
void FinishVerification(const JobState& state);

// How a track is to be written.
enum class TrackRoute {
  kNone,           // nothing to do (refused, skipped, or the walk ends)
  kDirect,         // read straight into its WAV file
  kCaptureEncode,  // captured into a temporary PCM file, then encoded from it
};

struct TrackPlan {
  TrackRoute route = TrackRoute::kNone;
  std::string outputName;
  bool endWalk = false;
};

// Begins a ticked track at `position`: status 0, currentTrack, output name, the encoder
// library for MP3, TrackStarted, and the checks before its file may be made. With
// `convertViaPcm`, a WAV track that needs converting is captured first like an encoded one.
TrackPlan BeginTrack(RipHost& host, JobState& state, TrackRecord& track, size_t position,
                     bool convertViaPcm);

// Reads the track straight into its WAV file. False when the walk must end.
bool RipDirect(RipHost& host, JobState& state, TrackRecord& track, const std::string& outputName);

struct CapturedTrack {
  enum Outcome { kEncode, kSkip, kEndWalk } outcome = kSkip;
  std::string pcmPath;
  bool captureFailed = false;
};

// Captures the track into the temporary PCM file `claim` takes. kEndWalk after a stop (the
// file removed unless the host keeps it) or when memory ran out; kSkip when the capture
// could not make its file.
CapturedTrack CaptureStage(RipHost& host, JobState& state, TrackRecord& track, TempPcmClaim& claim);

// Encodes (or, for WAV, converts) a captured track into `outputName`; the stage deletes the
// PCM file. False when the walk must end.
bool EncodeStage(RipHost& host, JobState& state, TrackRecord& track, const std::string& outputName,
                 const CapturedTrack& captured);

// Notes `outputName` as written by this job when the track got as far as making it.
void RememberWritten(JobState& state, const TrackRecord& track, const std::string& outputName);

// True when address space for `encodes` encoders at once was free a moment ago; the
// encoders crash rather than fail where memory runs short.
bool CodecMemoryAvailable(unsigned encodes = 1);
// Ends the walk for want of memory as a failed buffer allocation does (exit code 1), and
// says so; `track`, when given, ends "ERROR".
void EndForLackOfMemory(RipHost& host, TrackRecord* track, JobState& state);
// Lowers the calling thread to SCHED_IDLE (nice 19 where that is refused).
void LowerThreadPriority();

extern const char* const kNoMemoryText;
