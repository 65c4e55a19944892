// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "rip/track_stages.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "capture/capture.h"
#include "capture/ctdb_crc.h"
#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/output_naming.h"
#include "encoders/encoder_binding.h"
#include "encoders/flac_encoder.h"
#include "encoders/mp3_encoder.h"
#include "encoders/ogg_encoder.h"
#include "encoders/opus_encoder.h"
#include "encoders/wav_writer.h"
#include "rip/rip_job.h"
#include "rip/rip_status.h"

const char* const kNoMemoryText = "Not enough memory to go on ripping";

void EndForLackOfMemory(RipHost& host, TrackRecord* track, JobState& state) {
  state.exitCode = kRipJobNoMemory;
  host.ShowErrorBox(kNoMemoryText);
  if (track) {
    track->status = kStatusError;
    host.PostProgress(*track);
  }
}

// libvorbis and libmp3lame do not check all their allocations: set up where memory is short
// (a low RLIMIT_AS, say) they crash, leaving an empty file and the temporary one. They are
// started only when this much address space per encode, three times what one takes, was
// free a moment before.
constexpr size_t kCodecHeadroom = size_t{16} << 20;

bool CodecMemoryAvailable(unsigned encodes) {
  const size_t size = kCodecHeadroom * std::max(1u, encodes);
  void* probe = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (probe == MAP_FAILED) return false;
  munmap(probe, size);
  return true;
}

namespace {

// Before anything is captured for `track`: memory for its encoder (else the walk ends, with
// `endWalk` set), and the encoder's answer to its settings, asked once per settings block and
// job. Refused settings end the track "ERROR"; the message is shown the first time only.
template <typename Accepts>
bool EncoderReady(RipHost& host, TrackRecord& track, JobState& state, bool& endWalk,
                  const char* refusedText, Accepts accepts) {
  if (!CodecMemoryAvailable()) {
    EndForLackOfMemory(host, &track, state);
    endWalk = true;
    return false;
  }
  auto& tried = state.triedSettings;
  auto known = std::find_if(tried.begin(), tried.end(), [&](const JobState::TriedSettings& t) {
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

// The last look before a track's output file is created (and an existing one truncated).
// A stop that came at the track boundary, after the previous track's check, must not cost
// this track's existing file; and a template that names two tracks alike (no $n or $t) must
// not let a later track replace an earlier one's file, which would then be lost under a
// "Completed". False, with the track's status set and posted, when the file must be left.
bool MayCreateOutput(RipHost& host, TrackRecord& track, const std::string& outputName,
                     JobState& state) {
  if (ripSettings.ripping == 0) {
    track.status = kStatusStopped;
    host.PostProgress(track);
    return false;
  }
  struct stat st;
  bool writtenBefore = false;
  if (stat(outputName.c_str(), &st) == 0) {
    std::lock_guard lock(state.writtenMutex);
    writtenBefore = state.written.count({st.st_dev, st.st_ino}) != 0;
  }
  if (writtenBefore) {
    host.ShowErrorBox("Cannot create output file");
    track.status = kStatusError;
    host.PostProgress(track);
    return false;
  }
  return true;
}

void ShareVerification(const JobState& state, CaptureJob& job) {
  job.secure = ripSettings.secureRip != 0;
  if (!state.accurateRip) return;
  job.accurateRip = &*state.accurateRip;
  job.audioTracks = AudioTrackCount(ripSettings.tracks);
  if (state.ctdb) job.ctdb = &*state.ctdb;
}

}  // namespace

void PrepareVerification(JobState& state) {
  RipSettings& settings = ripSettings;
  settings.driveRead = {};
  settings.ctdbOutcome = {};
  // A drive still becoming ready when a track's read opens it is waited for until Stop.
  static std::once_flag waits;
  std::call_once(
      waits, [] { SetCdWaitCancel([] { return ripFinished == 0 && ripSettings.ripping == 0; }); });
  if (!settings.verifyAccurateRip && !settings.secureRip) return;
  const size_t drive = static_cast<size_t>(settings.driveIndex);
  if (drive >= settings.drives.size()) return;
  const auto stopped = [] { return ripSettings.ripping == 0; };
  const TocBuffer& toc = settings.drives[drive].toc;
  state.accurateRip =
      LookUpAccurateRip(settings.accurateRipServer, AccurateRipIdOf(toc), {}, stopped);
  if (stopped()) return;
  state.ctdb = LookUpCtdb(settings.ctdbServer, toc, {}, stopped);
}

void FinishVerification(const JobState& state) {
  CtdbDiscOutcome& outcome = ripSettings.ctdbOutcome;
  if (!state.ctdb) return;
  const CtdbLookup& lookup = *state.ctdb;
  outcome.asked = true;
  outcome.found = lookup.kind == CtdbLookup::kFound;
  for (const CtdbEntry& entry : lookup.entries) {
    if (entry.sameLayout) {
      outcome.confidence += entry.confidence;
    } else {
      outcome.otherEntries.push_back(entry.id + " " + entry.toc + " (confidence " +
                                     std::to_string(entry.confidence) + ")");
    }
  }
  if (!outcome.found) {
    outcome.answer = CtdbResultText(JudgeCtdbTrack(lookup, 0, {}));
    return;
  }
  // The disc's CRC runs over every audio track: each must have been read whole in this job.
  std::vector<CtdbCrcs> tracks;
  for (const TrackRecord& track : ripSettings.tracks) {
    if (track.hidden) continue;
    const bool read = std::any_of(state.logged.begin(), state.logged.end(),
                                  [&](const LoggedTrack& t) { return t.track == &track; });
    if (!read || !track.checksums.complete || track.checksums.ctdbByShift.empty()) return;
    tracks.push_back(CtdbCrcsOf(track.checksums));
  }
  if (!tracks.empty())
    outcome.disc = CtdbResultText(JudgeCtdbDisc(lookup, CombineCtdbCrcs(tracks)));
}

void LowerThreadPriority() {
  sched_param param{};
  param.sched_priority = 0;
  if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
  }
}

TrackPlan BeginTrack(RipHost& host, JobState& state, TrackRecord& track, size_t position,
                     bool convertViaPcm) {
  RipSettings& settings = ripSettings;
  TrackPlan plan;
  track.status = kStatusPending;
  track.checksums = {};
  track.accurateRip.clear();
  track.ctdb.clear();
  settings.currentTrack = static_cast<int32_t>(position);
  if (settings.checkOnly) {
    // Nothing is written, not even a folder: no file name, no encoder, whatever the format.
    state.logged.push_back({&track, plan.outputName, {}, {}});
    plan.route = TrackRoute::kDirect;
    return plan;
  }
  plan.outputName = ComposeOutputPath(track, settings, CurrentOutputFolder(settings));
  state.logged.push_back({&track, plan.outputName, {}, {}});
  state.replayGain.Begin(track);
  switch (track.format) {
    case Wav:
      // Secure reading may read a track again into the file: only a capture file can.
      if (!settings.secureRip && (!convertViaPcm || !WavNeedsConversion(track))) {
        plan.route = TrackRoute::kDirect;
        break;
      }
      host.TrackStarted(track, plan.outputName);
      if (MayCreateOutput(host, track, plan.outputName, state)) {
        plan.route = TrackRoute::kCaptureEncode;
      }
      break;
    case Flac:
    case Opus:
      // Fed while the sectors arrive; secure reading needs a capture file to read again into.
      if (!settings.secureRip) {
        plan.route = TrackRoute::kDirect;
        break;
      }
      host.TrackStarted(track, plan.outputName);
      if (MayCreateOutput(host, track, plan.outputName, state)) {
        plan.route = TrackRoute::kCaptureEncode;
      }
      break;
    case Ogg:
      host.TrackStarted(track, plan.outputName);
      if (MayCreateOutput(host, track, plan.outputName, state) &&
          EncoderReady(host, track, state, plan.endWalk, kOggSettingsRefused,
                       [&] { return OggEncoderAccepts(SettingsBlockOf<OggSettings>(track)); })) {
        plan.route = TrackRoute::kCaptureEncode;
      }
      break;
    case Mp3:
      // A track whose encoder could not be bound is skipped and keeps status 0.
      if (!BindEncoderLibrary(host)) break;
      state.libraryLoaded = true;
      host.TrackStarted(track, plan.outputName);
      if (MayCreateOutput(host, track, plan.outputName, state) &&
          EncoderReady(host, track, state, plan.endWalk, kMp3SettingsRefused,
                       [&] { return Mp3EncoderAccepts(SettingsBlockOf<Mp3Settings>(track)); })) {
        plan.route = TrackRoute::kCaptureEncode;
      }
      break;
    default:
      break;
  }
  return plan;
}

bool RipDirect(RipHost& host, JobState& state, TrackRecord& track, const std::string& outputName) {
  TrackBufferPtr buffer = AllocTrackBuffer(kSectorsPerRead);
  if (!buffer) {
    EndForLackOfMemory(host, &track, state);
    return false;
  }
  host.TrackStarted(track, outputName);
  CaptureJob job{&track, buffer.get(), outputName};
  ShareVerification(state, job);
  if (ripSettings.checkOnly) {
    CheckTrack(host, job);
    return true;
  }
  if (!MayCreateOutput(host, track, outputName, state)) return true;
  if (track.format == Flac) {
    RipTrackToFlac(host, job);
  } else if (track.format == Opus) {
    RipTrackToOpus(host, job);
  } else {
    RipTrackToWav(host, job);
  }
  return true;
}

CapturedTrack CaptureStage(RipHost& host, JobState& state, TrackRecord& track,
                           TempPcmClaim& claim) {
  CapturedTrack result;
  result.pcmPath = claim.Take(TempPcmPath());
  TrackBufferPtr buffer = AllocTrackBuffer(kSectorsPerRead);
  if (!buffer) {
    EndForLackOfMemory(host, &track, state);
    result.outcome = CapturedTrack::kEndWalk;
    return result;
  }
  CaptureJob capture{&track, buffer.get(), result.pcmPath};
  ShareVerification(state, capture);
  CaptureTrackToPcm(host, capture);
  buffer.reset();
  result.captureFailed = capture.captureFailed;
  if (ripSettings.ripping == 0) {
    // While the claim still guards the name, so that no other rip's file goes with it.
    if (!host.KeepsStoppedCapture() && capture.fileCreated) std::remove(result.pcmPath.c_str());
    state.exitCode = kRipJobStopped;
    result.outcome = CapturedTrack::kEndWalk;
    return result;
  }
  // A file we could not create or write holds nothing of this track: whatever an earlier
  // stopped job left under the temporary name must not be encoded into this track's file.
  // Reads that never agreed still leave the last whole read, which the track's file keeps.
  if (track.status == kStatusError && !capture.holdsLastRead) {
    if (capture.fileCreated) std::remove(result.pcmPath.c_str());
    result.outcome = CapturedTrack::kSkip;
    return result;
  }
  if (!CodecMemoryAvailable()) {
    std::remove(result.pcmPath.c_str());
    EndForLackOfMemory(host, &track, state);
    result.outcome = CapturedTrack::kEndWalk;
    return result;
  }
  result.outcome = CapturedTrack::kEncode;
  return result;
}

bool EncodeStage(RipHost& host, JobState& state, TrackRecord& track, const std::string& outputName,
                 const CapturedTrack& captured) {
  switch (track.format) {
    case Wav: {
      WavJob job{&track, captured.pcmPath, outputName, captured.captureFailed};
      ConvertPcmToWav(host, job);
      return true;
    }
    case Ogg: {
      const size_t size = OggReadBufferSize(track);
      std::unique_ptr<uint8_t[]> readBuffer(new (std::nothrow) uint8_t[size]);
      if (!readBuffer) {
        std::remove(captured.pcmPath.c_str());
        EndForLackOfMemory(host, &track, state);
        return false;
      }
      OggJob job{&track, captured.pcmPath,      outputName, readBuffer.get(),
                 size,   captured.captureFailed};
      EncodePcmToOgg(host, job);
      return true;
    }
    case Flac: {
      FlacJob job{&track, captured.pcmPath, outputName, captured.captureFailed};
      EncodePcmToFlac(host, job);
      return true;
    }
    case Opus: {
      OpusJob job{&track, captured.pcmPath, outputName, captured.captureFailed};
      EncodePcmToOpus(host, job);
      return true;
    }
    default: {
      Mp3Job job{&track, captured.pcmPath, outputName, captured.captureFailed};
      EncodePcmToMp3(host, job);
      return true;
    }
  }
}

void RememberWritten(JobState& state, const TrackRecord& track, const std::string& outputName) {
  if (track.status == kStatusPending) return;
  struct stat st;
  if (stat(outputName.c_str(), &st) != 0) return;
  std::lock_guard lock(state.writtenMutex);
  state.written.emplace(st.st_dev, st.st_ino);
}
