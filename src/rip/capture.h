#pragma once
// Reading one track's digital audio from the selected drive, 26 sectors at a time with up to
// three attempts per block, into a file. Runs on the rip worker only.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "disc/cdaccess.h"
#include "rip/rip_status.h"

constexpr uint32_t kSectorsPerRead = 26;
constexpr int kReadAttempts = 3;
constexpr uint32_t kProgressEveryBlocks = 5;

// Where the read loop puts the audio it reads.
class PcmSink {
 public:
  virtual ~PcmSink() = default;
  // False when the bytes could not be written in full.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
};

struct ReadLoopResult {
  bool stopped = false;      // the stop request was seen
  bool readFailed = false;   // a block failed all its attempts (error box shown)
  bool writeFailed = false;  // the sink refused data ("Cannot write output file" shown)
};

// The read loop shared by the capture and the WAV writer: polls `ripping` before every
// block, posts progress before every fifth block on a 0..`progressScale` scale, and hands
// each block's delivered bytes to `sink`. Sets status 101 on a stop and 102 on a write
// failure; a read failure leaves status at its last value.
ReadLoopResult RunReadLoop(RipHost& mainWindow, CaptureJob& job, CdHandle handle, PcmSink& sink,
                           uint32_t progressScale);

// ReadCDAudioLBA up to three times, stopping at the first success; the last result.
int ReadBlockWithRetries(CdHandle handle, TrackBuffer* buffer);

// An exclusive flock on a stage's output file for the life of the object, so that two rips
// writing the same name at once (the same disc into the same folder) never mix their bytes
// in one file, which both would then call complete: the second finds the name taken.
class OutputFileLock {
 public:
  OutputFileLock() = default;
  ~OutputFileLock();
  OutputFileLock(const OutputFileLock&) = delete;
  OutputFileLock& operator=(const OutputFileLock&) = delete;
  // Locks the file open on `fd` without waiting, through a descriptor of its own, so the
  // lock outlives the stage's closing of `fd`. False only when another process holds it.
  bool Take(int fd);

 private:
  int fd_ = -1;
};

// Opens `path` as std::fopen(path, mode) would for "rb", "wb" (created or truncated) and "ab",
// but only ever a regular file: a symbolic link at the name is not followed, and a FIFO or
// device is refused without waiting for its other end. With `lock` ("wb"), the file is locked
// before it is truncated, and refused while another rip holds it. Null with errno set
// (ELOOP for a link, EEXIST for anything else that is not a regular file) on failure.
FILE* OpenRegularFile(const std::string& path, const char* mode, OutputFileLock* lock = nullptr);

// Creates (truncates) job.targetPath for writing, after taking `lock` on it when one is given.
// When it cannot (or another rip holds the lock, or the name is not a regular file): shows
// "Cannot create output file", sets status 102, posts progress and returns null. Sets
// job.fileCreated.
FILE* CreateCaptureTarget(RipHost& mainWindow, CaptureJob& job, OutputFileLock* lock = nullptr);

// True when `file` (open for writing) no longer has a name: it was deleted, or its folder
// removed, while the stage wrote it, and everything written went with it.
bool OutputFileRemoved(FILE* file);

// Opens the selected drive for a capture with the library options a capture wants.
CdHandle OpenDriveForCapture();

// Captures the track into job.targetPath as raw 44100 Hz 16-bit stereo PCM. Progress 0..30.
// On return job.captureFailed says whether a block could not be read (the file then holds
// every block before it); status 102 means the file could not be created or written.
void CaptureTrackToPcm(RipHost& mainWindow, CaptureJob& job);
