// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "rip/rip_job.h"

#include <errno.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "capture/output_files.h"
#include "config/settings.h"
#include "disc/output_naming.h"
#include "encoders/encoder_binding.h"
#include "rip/cover_stage.h"
#include "rip/rip_status.h"
#include "rip/track_stages.h"

namespace {

// The worker thread and the host it reports to. Touched by the user-interface thread only
// (Start, Stop, Join); the worker never sees these.
std::mutex workerMutex;
std::thread worker;
RipHost* workerHost = nullptr;

// Up to `count` encodes at once, each on a thread of its own at idle priority. The reader
// waits in Run for a free slot, so captured tracks never pile up on the disk.
class EncodeSlots {
 public:
  explicit EncodeSlots(unsigned count) : slots_(count) {}
  ~EncodeSlots() { JoinAll(); }
  EncodeSlots(const EncodeSlots&) = delete;
  EncodeSlots& operator=(const EncodeSlots&) = delete;

  void Run(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [this] { return busy_ < slots_.size(); });
    Slot& slot = *std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
    // Its last task has ended; the thread only has to return.
    if (slot.thread.joinable()) slot.thread.join();
    slot.busy = true;
    ++busy_;
    try {
      slot.thread = std::thread([this, &slot, task] {
        LowerThreadPriority();
        task();
        std::lock_guard done(mutex_);
        slot.busy = false;
        --busy_;
        freed_.notify_all();
      });
    } catch (const std::exception&) {
      // No thread to be had: this encode runs on the reader, as in the one-by-one job.
      slot.busy = false;
      --busy_;
      lock.unlock();
      task();
    }
  }

  void JoinAll() {
    for (Slot& slot : slots_) {
      if (slot.thread.joinable()) slot.thread.join();
    }
  }

 private:
  struct Slot {
    std::thread thread;
    bool busy = false;
  };
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<Slot> slots_;
  size_t busy_ = 0;
};

// Ends a job: the encoder library goes once nothing can use it, and the finished message
// comes after ripFinished.
uint32_t EndJob(RipHost& mainWindow, JobState& state) {
  if (state.libraryLoaded) ReleaseEncoderLibrary();
  FinishVerification(state);
  state.replayGain.Finish(mainWindow, state.logged);
  // After every encode: the log tells how each track ended.
  if (ripSettings.writeLog && !state.logged.empty() &&
      !WriteRipLog(ripSettings, state.logged, program_invocation_short_name)) {
    mainWindow.ShowErrorBox("Cannot write the rip log");
  }
  ripFinished = 1;
  mainWindow.PostFinished();
  return state.exitCode;
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
  JobState state;
  PrepareVerification(state);
  PrepareCoverArt(mainWindow);
  for (size_t position = 0; position < settings.tracks.size(); ++position) {
    TrackRecord& track = settings.tracks[position];
    if (!track.checked) continue;
    const TrackPlan plan = BeginTrack(mainWindow, state, track, position, false);
    bool endWalk = plan.endWalk;
    if (plan.route == TrackRoute::kDirect) {
      endWalk = !RipDirect(mainWindow, state, track, plan.outputName);
    } else if (plan.route == TrackRoute::kCaptureEncode) {
      TempPcmClaim claim;
      const CapturedTrack captured = CaptureStage(mainWindow, state, track, claim);
      if (captured.outcome == CapturedTrack::kEncode) {
        endWalk = !EncodeStage(mainWindow, state, track, plan.outputName, captured);
      } else {
        endWalk = captured.outcome == CapturedTrack::kEndWalk;
      }
    }
    RememberWritten(state, track, plan.outputName);
    if (endWalk) break;
    if (settings.ripping == 0) {
      state.exitCode = kRipJobStopped;
      break;
    }
  }
  return EndJob(mainWindow, state);
}

uint32_t PipelinedRipJob(RipHost& mainWindow, unsigned encodeJobs) {
  RipSettings& settings = ripSettings;
  JobState state;
  PrepareVerification(state);
  PrepareCoverArt(mainWindow);
  // An encoder starts only where there is room for it beside those already running (which
  // may still be setting up); where there is not, it waits for one to end, then tries alone.
  std::mutex codecMutex;
  std::condition_variable codecEnded;
  unsigned codecsRunning = 0;
  auto startCodec = [&] {
    std::unique_lock lock(codecMutex);
    ++codecsRunning;
    while (!CodecMemoryAvailable(codecsRunning)) {
      if (codecsRunning == 1) return false;
      const unsigned running = codecsRunning;
      codecEnded.wait(lock, [&] { return codecsRunning < running; });
    }
    return true;
  };
  auto endCodec = [&] {
    std::lock_guard lock(codecMutex);
    --codecsRunning;
    codecEnded.notify_all();
  };
  {
    EncodeSlots slots(std::max(1u, encodeJobs));
    for (size_t position = 0; position < settings.tracks.size(); ++position) {
      TrackRecord& track = settings.tracks[position];
      if (!track.checked) continue;
      const TrackPlan plan = BeginTrack(mainWindow, state, track, position, true);
      bool endWalk = plan.endWalk;
      bool handedOver = false;
      if (plan.route == TrackRoute::kDirect) {
        endWalk = !RipDirect(mainWindow, state, track, plan.outputName);
      } else if (plan.route == TrackRoute::kCaptureEncode) {
        // The claim goes with the encode: the name stays ours until the file is deleted.
        auto claim = std::make_shared<TempPcmClaim>();
        const CapturedTrack captured = CaptureStage(mainWindow, state, track, *claim);
        if (captured.outcome == CapturedTrack::kEncode) {
          handedOver = true;
          slots.Run([&mainWindow, &state, &track, &startCodec, &endCodec, plan, captured, claim] {
            if (ripSettings.ripping == 0) {
              // Stopped while it waited for its slot: as a stop during its capture.
              if (!mainWindow.KeepsStoppedCapture()) std::remove(captured.pcmPath.c_str());
              track.status = kStatusStopped;
              mainWindow.PostProgress(track);
              state.exitCode = kRipJobStopped;
              return;
            }
            bool ended = false;
            if (startCodec()) {
              try {
                ended = !EncodeStage(mainWindow, state, track, plan.outputName, captured);
              } catch (const std::bad_alloc&) {  // as on the worker: the job ends, says why
                std::remove(captured.pcmPath.c_str());
                EndForLackOfMemory(mainWindow, &track, state);
                ended = true;
              }
            } else {
              std::remove(captured.pcmPath.c_str());
              EndForLackOfMemory(mainWindow, &track, state);
              ended = true;
            }
            endCodec();
            if (ended) state.endWalk = true;
            RememberWritten(state, track, plan.outputName);
          });
        } else {
          endWalk = captured.outcome == CapturedTrack::kEndWalk;
        }
      }
      if (!handedOver) RememberWritten(state, track, plan.outputName);
      if (endWalk || state.endWalk) break;
      if (settings.ripping == 0) {
        state.exitCode = kRipJobStopped;
        break;
      }
    }
  }  // every encode has ended
  return EndJob(mainWindow, state);
}

void StartRipJob(RipHost& mainWindow) {
  StartRipJob(mainWindow, 1);
}

void StartRipJob(RipHost& mainWindow, unsigned encodeJobs) {
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
    worker = std::thread([&mainWindow, encodeJobs] {
      LowerThreadPriority();
      try {
        if (encodeJobs <= 1) {
          RipJob(mainWindow);
        } else {
          PipelinedRipJob(mainWindow, encodeJobs);
        }
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
