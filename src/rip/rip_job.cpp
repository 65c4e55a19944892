#include "rip/rip_job.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <utility>
#include <vector>

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
      // Never through a link planted at the name, and never waiting on a FIFO: such a name
      // is left for the capture to refuse.
      const int fd = open(path.c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0666);
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

constexpr char kNoMemoryText[] = "Not enough memory to go on ripping";

// Ends the walk for want of memory as a failed buffer allocation does (exit code 1), and
// says so; `track`, when given, ends "ERROR".
void EndForLackOfMemory(RipHost& host, TrackRecord* track, uint32_t& exitCode) {
  exitCode = kRipJobNoMemory;
  host.ShowErrorBox(kNoMemoryText);
  if (track) {
    track->status = kStatusError;
    host.PostProgress(*track);
  }
}

// libvorbis and libmp3lame do not check all their allocations: set up where memory is short
// (a low RLIMIT_AS, say) they crash, leaving an empty file and the temporary one. They are
// started only when this much address space, three times what one encode takes, was free
// a moment before.
constexpr size_t kCodecHeadroom = size_t{16} << 20;

bool CodecMemoryAvailable() {
  void* probe =
      mmap(nullptr, kCodecHeadroom, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (probe == MAP_FAILED) return false;
  munmap(probe, kCodecHeadroom);
  return true;
}

// A settings block the encoder was asked about in this job, with its answer.
struct TriedSettings {
  uint32_t format;
  std::array<uint32_t, 10> block;
  bool accepted;
};

// Before anything is captured for `track`: memory for its encoder (else the walk ends, with
// `endWalk` set), and the encoder's answer to its settings, asked once per settings block and
// job. Refused settings end the track "ERROR"; the message is shown the first time only.
template <typename Accepts>
bool EncoderReady(RipHost& host, TrackRecord& track, uint32_t& exitCode, bool& endWalk,
                  std::vector<TriedSettings>& tried, const char* refusedText, Accepts accepts) {
  if (!CodecMemoryAvailable()) {
    EndForLackOfMemory(host, &track, exitCode);
    endWalk = true;
    return false;
  }
  auto known = std::find_if(tried.begin(), tried.end(), [&](const TriedSettings& t) {
    return t.format == track.format && t.block == track.formatSettings;
  });
  if (known == tried.end()) {
    tried.push_back({track.format, track.formatSettings, accepts()});
    known = tried.end() - 1;
    if (!known->accepted) host.ShowErrorBox(refusedText);
  }
  if (!known->accepted) {
    track.status = kStatusError;
    host.PostProgress(track);
  }
  return known->accepted;
}

// Captures `track` into the temporary PCM file, then hands it to `encode(pcmPath,
// captureFailed)`, which returns false when the walk must end. False when the walk must
// end: a stop, or memory ran out.
template <typename Encode>
bool CaptureAndEncode(RipHost& host, TrackRecord& track, uint32_t& exitCode, Encode encode) {
  TempPcmClaim claim;
  const std::string pcmPath = claim.Take(TempPcmPath());
  TrackBufferPtr buffer = AllocTrackBuffer(kSectorsPerRead);
  if (!buffer) {
    EndForLackOfMemory(host, &track, exitCode);
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
  if (!CodecMemoryAvailable()) {
    std::remove(pcmPath.c_str());
    EndForLackOfMemory(host, &track, exitCode);
    return false;
  }
  return encode(pcmPath, capture.captureFailed);
}

// The files earlier tracks of this job wrote, by identity, so that another name for the same
// file (a folder reached twice) is caught too.
using WrittenFiles = std::set<std::pair<dev_t, ino_t>>;

void RememberWritten(const std::string& path, WrittenFiles& written) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) written.emplace(st.st_dev, st.st_ino);
}

// The last look before a track's output file is created (and an existing one truncated).
// A stop that came at the track boundary, after the previous track's check, must not cost
// this track's existing file; and a template that names two tracks alike (no $n or $t) must
// not let a later track replace an earlier one's file, which would then be lost under a
// "Completed". False, with the track's status set and posted, when the file must be left.
bool MayCreateOutput(RipHost& host, TrackRecord& track, const std::string& outputName,
                     const WrittenFiles& written) {
  if (ripSettings.ripping == 0) {
    track.status = kStatusStopped;
    host.PostProgress(track);
    return false;
  }
  struct stat st;
  if (stat(outputName.c_str(), &st) == 0 && written.count({st.st_dev, st.st_ino}) != 0) {
    host.ShowErrorBox("Cannot create output file");
    track.status = kStatusError;
    host.PostProgress(track);
    return false;
  }
  return true;
}

}  // namespace

std::string TempPcmPath() {
  const std::string& folder = ripSettings.outputFolderOverride.empty()
                                  ? ripSettings.outputPath
                                  : ripSettings.outputFolderOverride;
  return JoinFolder(folder.empty() ? std::string(".") : folder, kTempPcmName);
}

uint32_t RipJob(RipHost& mainWindow) {
  RipSettings& settings = ripSettings;
  uint32_t exitCode = kRipJobWalked;
  bool libraryLoaded = false;
  WrittenFiles written;
  std::vector<TriedSettings> triedSettings;

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
          EndForLackOfMemory(mainWindow, &track, exitCode);
          endWalk = true;
          break;
        }
        mainWindow.TrackStarted(track, outputName);
        if (!MayCreateOutput(mainWindow, track, outputName, written)) break;
        CaptureJob job{&track, buffer.get(), outputName};
        RipTrackToWav(mainWindow, job);
        break;
      }
      case Ogg:
        mainWindow.TrackStarted(track, outputName);
        if (!MayCreateOutput(mainWindow, track, outputName, written)) break;
        if (!EncoderReady(mainWindow, track, exitCode, endWalk, triedSettings, kOggSettingsRefused,
                          [&] { return OggEncoderAccepts(SettingsBlockOf<OggSettings>(track)); })) {
          break;
        }
        endWalk = !CaptureAndEncode(
            mainWindow, track, exitCode, [&](const std::string& pcmPath, bool captureFailed) {
              const size_t size = OggReadBufferSize(track);
              std::unique_ptr<uint8_t[]> readBuffer(new (std::nothrow) uint8_t[size]);
              if (!readBuffer) {
                std::remove(pcmPath.c_str());
                EndForLackOfMemory(mainWindow, &track, exitCode);
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
        if (!MayCreateOutput(mainWindow, track, outputName, written)) break;
        if (!EncoderReady(mainWindow, track, exitCode, endWalk, triedSettings, kMp3SettingsRefused,
                          [&] { return Mp3EncoderAccepts(SettingsBlockOf<Mp3Settings>(track)); })) {
          break;
        }
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
    if (track.status != kStatusPending) RememberWritten(outputName, written);
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
  try {
    worker = std::thread([&mainWindow] {
      LowerThreadPriority();
      try {
        RipJob(mainWindow);
      } catch (const std::bad_alloc&) {  // a string or list that could not grow mid-walk
        if (EncoderLibraryBound()) ReleaseEncoderLibrary();
        mainWindow.ShowErrorBox(kNoMemoryText);
        ripFinished = 1;
        mainWindow.PostFinished();
      }
    });
  } catch (const std::exception&) {
    // No thread to be had (a low RLIMIT_AS, say): the job ends before its first track, as
    // when its first buffer cannot be allocated, and says why.
    mainWindow.ShowErrorBox(kNoMemoryText);
    ripFinished = 1;
    mainWindow.PostFinished();
  }
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
