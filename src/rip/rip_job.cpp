#include "rip/rip_job.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "config/settings.h"
#include "disc/output_naming.h"
#include "encoders/mp3_encoder.h"
#include "encoders/ogg_encoder.h"
#include "encoders/wav_writer.h"
#include "rip/capture.h"
#include "rip/encoder_binding.h"
#include "rip/rip_status.h"

const char* const kTempPcmName = "cddatmp001.pcm";

namespace {

// The worker thread and the host it reports to. Touched by the user-interface thread only
// (Start, Stop, Join); the worker never sees these.
std::mutex workerMutex;
std::thread worker;
RipHost* workerHost = nullptr;

void LowerThreadPriority() {
  sched_param param{};
  param.sched_priority = 0;
  if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
  }
}

// Holds one temporary PCM file for the capture and encode of one track, through an exclusive
// flock on it. Two processes ripping into one folder would otherwise capture, encode and
// delete the same "cddatmp001.pcm" under each other: a track could end "Completed" with its
// end missing or with the other rip's audio. The usual name is kept whenever no other
// process holds it; otherwise the next free "cddatmpNNN.pcm" beside it is used.
class TempPcmClaim {
 public:
  TempPcmClaim() = default;
  ~TempPcmClaim() {
    if (fd_ >= 0) close(fd_);
  }
  TempPcmClaim(const TempPcmClaim&) = delete;
  TempPcmClaim& operator=(const TempPcmClaim&) = delete;

  // The path to capture into: `usual` when no other process holds it, or when no lock can
  // be had at all (the capture then reports the folder's own failure), else a free sibling.
  std::string Take(const std::string& usual) {
    const std::string folder = usual.substr(0, usual.size() - std::strlen(kTempPcmName));
    int number = 1;
    for (int attempt = 0; attempt < 1000 && number <= 999; ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, "cddatmp%03d.pcm", number);
      const std::string path = number == 1 ? usual : folder + name;
      const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
      if (fd < 0) break;
      struct stat st;
      if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // not a file another rip can own
        close(fd);
        return path;
      }
      if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool anotherRips = errno == EWOULDBLOCK;
        close(fd);
        if (!anotherRips) return path;  // a file system without locks: the name as it is
        ++number;
        continue;
      }
      // The holder may have deleted the file between our open and our lock: a lock on a
      // file without that name guards nothing, so the name is tried again.
      struct stat held, named;
      if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        fd_ = fd;
        return path;
      }
      close(fd);
    }
    return usual;
  }

 private:
  int fd_ = -1;
};

// Captures `track` into the temporary PCM file, then hands it to `encode(pcmPath,
// captureFailed)`, which returns false when the walk must end. False when the walk must
// end: a stop, or memory ran out.
template <typename Encode>
bool CaptureAndEncode(RipHost& host, TrackRecord& track, uint32_t& exitCode, Encode encode) {
  TempPcmClaim claim;
  const std::string pcmPath = claim.Take(TempPcmPath());
  TrackBufferPtr buffer = AllocTrackBuffer(kSectorsPerRead);
  if (!buffer) {
    exitCode = kRipJobNoMemory;
    return false;
  }
  CaptureJob capture{&track, buffer.get(), pcmPath};
  CaptureTrackToPcm(host, capture);
  buffer.reset();
  if (ripSettings.ripping == 0) {
    // While the claim still guards the name, so that no other rip's file goes with it.
    if (!host.KeepsStoppedCapture() && capture.fileCreated) std::remove(pcmPath.c_str());
    exitCode = kRipJobStopped;
    return false;
  }
  // A file we could not create or write holds nothing of this track: whatever an earlier
  // stopped job left under the temporary name must not be encoded into this track's file.
  if (track.status == kStatusError) {
    if (capture.fileCreated) std::remove(pcmPath.c_str());
    return true;
  }
  return encode(pcmPath, capture.captureFailed);
}

}  // namespace

std::string TempPcmPath() {
  const std::string& folder = ripSettings.outputFolderOverride.empty()
                                  ? ripSettings.outputPath
                                  : ripSettings.outputFolderOverride;
  if (folder.empty()) return std::string("./") + kTempPcmName;
  return folder + "/" + kTempPcmName;
}

uint32_t RipJob(RipHost& mainWindow) {
  RipSettings& settings = ripSettings;
  uint32_t exitCode = kRipJobWalked;
  bool libraryLoaded = false;

  for (size_t position = 0; position < settings.tracks.size(); ++position) {
    TrackRecord& track = settings.tracks[position];
    if (!track.checked) continue;
    track.status = kStatusPending;
    settings.currentTrack = static_cast<int32_t>(position);
    const std::string outputName =
        ComposeOutputPath(track, settings, CurrentOutputFolder(settings));

    bool endWalk = false;
    switch (track.format) {
      case Wav: {
        TrackBufferPtr buffer = AllocTrackBuffer(kSectorsPerRead);
        if (!buffer) {
          exitCode = kRipJobNoMemory;
          endWalk = true;
          break;
        }
        mainWindow.TrackStarted(track, outputName);
        CaptureJob job{&track, buffer.get(), outputName};
        RipTrackToWav(mainWindow, job);
        break;
      }
      case Ogg:
        mainWindow.TrackStarted(track, outputName);
        endWalk = !CaptureAndEncode(
            mainWindow, track, exitCode, [&](const std::string& pcmPath, bool captureFailed) {
              const size_t size = OggReadBufferSize(track);
              std::unique_ptr<uint8_t[]> readBuffer(new (std::nothrow) uint8_t[size]);
              if (!readBuffer) {
                exitCode = kRipJobNoMemory;
                return false;
              }
              OggJob job{&track, pcmPath, outputName, readBuffer.get(), size, captureFailed};
              EncodePcmToOgg(mainWindow, job);
              return true;
            });
        break;
      case Mp3:
        // A track whose encoder could not be bound is skipped and keeps status 0.
        if (!BindEncoderLibrary(mainWindow)) break;
        libraryLoaded = true;
        mainWindow.TrackStarted(track, outputName);
        endWalk = !CaptureAndEncode(mainWindow, track, exitCode,
                                    [&](const std::string& pcmPath, bool captureFailed) {
                                      Mp3Job job{&track, pcmPath, outputName, captureFailed};
                                      EncodePcmToMp3(mainWindow, job);
                                      return true;
                                    });
        break;
      default:
        break;
    }
    if (endWalk) break;
    if (settings.ripping == 0) {
      exitCode = kRipJobStopped;
      break;
    }
  }

  if (libraryLoaded) ReleaseEncoderLibrary();
  ripFinished = 1;
  mainWindow.PostFinished();
  return exitCode;
}

void StartRipJob(RipHost& mainWindow) {
  if (ripSettings.ripping) return;
  JoinRipJob();
  for (TrackRecord& track : ripSettings.tracks) {
    if (track.checked) track.status = kStatusPending;
  }
  ripSettings.ripping = 1;
  ripFinished = 0;
  std::lock_guard lock(workerMutex);
  workerHost = &mainWindow;
  worker = std::thread([&mainWindow] {
    LowerThreadPriority();
    RipJob(mainWindow);
  });
}

void StopRipJob() {
  ripSettings.ripping = 0;
  for (TrackRecord& track : ripSettings.tracks) {
    if (track.checked && track.status < kStatusCompleted) track.status = kStatusStopped;
  }
  std::lock_guard lock(workerMutex);
  if (workerHost) workerHost->StopRequested();
  if (worker.joinable()) worker.join();
  workerHost = nullptr;
}

void JoinRipJob() {
  std::lock_guard lock(workerMutex);
  if (worker.joinable()) worker.join();
  workerHost = nullptr;
  if (ripFinished == 1) ripSettings.ripping = 0;
}
