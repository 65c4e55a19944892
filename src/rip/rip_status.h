#pragma once
// The vocabulary that the rip job, its stages and the user interface share: run flags,
// status codes, messages, stage descriptors and the error channel.
//
// Threads: `ripping` (in RipSettings) and `ripFinished` are written whole by one side and
// polled by the other. The worker writes ripFinished = 1 before it posts WM_RIP_FINISHED.
// `status` of a TrackRecord is written by the worker (and by StopRipJob on the UI thread)
// and read by the UI when it handles WM_RIP_PROGRESS.
#include <cstdint>
#include <string>

#include "disc/cdaccess.h"
#include "disc/disc_model.h"
#include "platform/shared_int.h"
#include "rip/rip_host.h"

enum RipStatus : int32_t {
  kStatusPending = 0,  // 1..99 are percent done
  kStatusCompleted = 100,
  kStatusStopped = 101,
  kStatusError = 102,
};

constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_RIP_PROGRESS = WM_USER + 2;
constexpr unsigned WM_RIP_FINISHED = WM_USER + 3;

// 0 from the start of a job until the worker's very last step; 1 otherwise.
extern SharedInt ripFinished;

// Stage descriptors, filled anew by the worker for every track; owned by the worker.
struct CaptureJob {
  TrackRecord* track = nullptr;
  TrackBuffer* readBuffer = nullptr;  // 26 sectors
  std::string targetPath;             // the WAV file, or the temporary PCM file
  // Set by the stage: a block failed all its attempts, so the file ends early.
  bool captureFailed = false;
  // Set by the stage: it created (truncated) targetPath.
  bool fileCreated = false;
};

struct Mp3Job {
  TrackRecord* track = nullptr;
  std::string pcmPath;
  std::string outputPath;
  // The capture lost audio to a read error: the track ends "ERROR" even if encoding works.
  bool captureFailed = false;
};

// A WAV track captured like an encoded one, converted to its WAV settings from the PCM file.
struct WavJob {
  TrackRecord* track = nullptr;
  std::string pcmPath;
  std::string outputPath;
  // The capture lost audio to a read error: the track ends "ERROR".
  bool captureFailed = false;
};

struct OggJob {
  TrackRecord* track = nullptr;
  std::string pcmPath;
  std::string outputPath;
  uint8_t* readBuffer = nullptr;  // 1024 frames of the encoder's channel count
  std::size_t readBufferSize = 0;
  // The capture lost audio to a read error: the track ends "ERROR" even if encoding works.
  bool captureFailed = false;
};

// The platform's text for the calling thread's last error (dlerror() after a failed load,
// strerror(errno) otherwise), at most 127 characters; empty when there is none.
std::string GetLastErrorText();
