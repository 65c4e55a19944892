// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// CD-audio devices over the CD-access library and ALSA.
#include "playback/mci.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "disc/cd_device.h"
#include "disc/cdaccess.h"
#include "disc/track_list.h"

namespace {

constexpr unsigned kSampleRate = 44100;
constexpr unsigned kLatencyUs = 100000;  // the most sound ALSA holds, so stop is heard soon
constexpr uint32_t kSectorsPerRead = 8;  // about 0.1 s of sound
constexpr int kWaitMs = 20;              // longest pause between two looks at the stop flag
constexpr auto kStopWait = std::chrono::milliseconds(100);

// ALSA prints its complaints (no sound card, unknown PCM) on stderr; a player that cannot
// play is silent here, as the user sees it.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

std::string AudioDeviceName() {
  const char* name = std::getenv("OBRIN_AUDIO_DEVICE");
  return name && *name ? name : "default";
}

snd_pcm_t* OpenPcm() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsa); });
  snd_pcm_t* pcm = nullptr;
  // Non-blocking, so a device another program holds fails at once instead of hanging.
  if (snd_pcm_open(&pcm, AudioDeviceName().c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) <
      0) {
    return nullptr;
  }
  if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, kSampleRate,
                         1, kLatencyUs) < 0) {
    snd_pcm_close(pcm);
    return nullptr;
  }
  return pcm;
}

// One play request's thread and what the caller shares with it.
struct Playback {
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread thread;
};

struct Device {
  std::string element;
  bool tmsf = false;
  std::shared_ptr<Playback> playback;
};

struct Registry {
  std::mutex mutex;
  std::map<MciDeviceId, Device> devices;
  MciDeviceId next = 1;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// The open request of the drive named `element`, as the drive list gives it.
bool RequestFor(const std::string& element, OpenRequest& request) {
  const std::vector<std::string> names = GetCdDeviceNames();
  const auto it = std::find(names.begin(), names.end(), element);
  if (element.empty() || it == names.end()) return false;
  DeviceList list;
  std::memset(&list, 0, sizeof list);
  const int count = GetCDList(&list);
  const auto position = static_cast<int>(it - names.begin());
  if (position >= count) return false;
  const DeviceEntry& entry = list.entries[position];
  request = OpenRequest{sizeof(OpenRequest), 1, entry.hostAdapter, entry.target, entry.lun, {}};
  return true;
}

bool ReadDiscToc(const std::string& element, OpenRequest& request, TocBuffer& toc) {
  if (!RequestFor(element, request)) return false;
  const CdHandle handle = GetCDHandle(&request);
  const bool read = ReadTOC(handle, &toc) == 1;
  CloseCDHandle(handle);
  return read;
}

int EntryOf(const TocBuffer& toc, uint32_t track) {
  if (track < toc.firstTrack || track > toc.lastTrack) return -1;
  return static_cast<int>(track - toc.firstTrack);
}

bool IsData(const TocBuffer& toc, int entry) {
  return toc.entries[entry].adrControl & 0x04;
}

// The sector a TMSF position names; false for a track the disc does not have.
bool SectorOf(const TocBuffer& toc, uint32_t tmsf, uint32_t& sector) {
  const int entry = EntryOf(toc, tmsf & 0xFF);
  if (entry < 0) return false;
  const uint32_t minutes = (tmsf >> 8) & 0xFF, seconds = (tmsf >> 16) & 0xFF,
                 frames = (tmsf >> 24) & 0xFF;
  sector =
      TocEntryAddress(toc.entries[entry]) + (minutes * 60 + seconds) * kSectorsPerSecond + frames;
  return true;
}

// True when [from, to) lies in audio: inside the disc and in no data track.
bool IsAudioRange(const TocBuffer& toc, uint32_t from, uint32_t to) {
  const int tracks = toc.lastTrack - toc.firstTrack + 1;
  if (from >= to || to > TocEntryAddress(toc.entries[tracks])) return false;
  for (int e = 0; e < tracks; ++e) {
    const uint32_t start = TocEntryAddress(toc.entries[e]);
    const uint32_t audioEnd = start + AudioTrackSectors(toc, e);
    const uint32_t end = TocEntryAddress(toc.entries[e + 1]);
    if (start < to && end > from && (IsData(toc, e) || std::min(to, end) > audioEnd)) {
      return false;
    }
  }
  return true;
}

bool WriteAll(snd_pcm_t* pcm, const uint8_t* data, snd_pcm_uframes_t frames,
              const std::atomic<bool>& stop) {
  while (frames > 0 && !stop) {
    snd_pcm_sframes_t written = snd_pcm_writei(pcm, data, frames);
    if (written == -EAGAIN) {
      snd_pcm_wait(pcm, kWaitMs);
      continue;
    }
    if (written < 0) {
      if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) return false;
      continue;
    }
    data += written * 4;
    frames -= static_cast<snd_pcm_uframes_t>(written);
  }
  return true;
}

MciNotice Stream(OpenRequest request, uint32_t from, uint32_t to, const std::atomic<bool>& stop) {
  snd_pcm_t* pcm = OpenPcm();
  if (!pcm) return MciNotice::kFailure;
  const CdHandle handle = GetCDHandle(&request);
  // Listening needs no scratch correction, and its re-reads would stall the sound.
  ModifyCDParms(handle, kCdParmParanoia, 0);
  TrackBufferPtr buffer = AllocTrackBuffer(kSectorsPerRead);
  MciNotice notice = buffer ? MciNotice::kSuccessful : MciNotice::kFailure;
  for (uint32_t sector = from; sector < to && notice == MciNotice::kSuccessful && !stop;) {
    buffer->startSector = sector;
    buffer->sectorCount = std::min(kSectorsPerRead, to - sector);
    buffer->deliveredLength = 0;
    buffer->offset = 0;
    // A read error ends playback quietly, as a scratch would on a player.
    if (ReadCDAudioLBA(handle, buffer.get()) != 1 ||
        !WriteAll(pcm, TrackBufferData(buffer.get()) + buffer->offset, buffer->deliveredLength / 4,
                  stop)) {
      notice = MciNotice::kFailure;
    }
    sector += buffer->sectorCount;
  }
  CloseCDHandle(handle);
  if (stop) {
    notice = MciNotice::kAborted;
    snd_pcm_drop(pcm);
  } else if (notice == MciNotice::kSuccessful) {
    snd_pcm_nonblock(pcm, 0);
    snd_pcm_drain(pcm);  // at most the 0.1 s ALSA holds
  }
  snd_pcm_close(pcm);
  return notice;
}

void StopPlayback(Device& device) {
  std::shared_ptr<Playback> playback = std::move(device.playback);
  if (!playback) return;
  playback->stop = true;
  bool done;
  {
    std::unique_lock lock(playback->mutex);
    done = playback->finished.wait_for(lock, kStopWait, [&] { return playback->done; });
  }
  // A drive that stalls in a read keeps its thread a little longer; it ends on its own and
  // owns everything it still uses.
  if (done) {
    playback->thread.join();
  } else {
    playback->thread.detach();
  }
}

template <typename F>
auto WithDevice(MciDeviceId id, F&& f) -> decltype(f(std::declval<Device&>())) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const auto it = registry.devices.find(id);
  if (it == registry.devices.end()) return {};
  return f(it->second);
}

}  // namespace

MciDeviceId MciOpenCdAudio(const std::string& element, bool wait) {
  OpenRequest request{};
  if (wait) {
    TocBuffer toc{};
    if (!ReadDiscToc(element, request, toc)) return kNoMciDevice;
    snd_pcm_t* pcm = OpenPcm();
    if (!pcm) return kNoMciDevice;
    snd_pcm_close(pcm);
  } else if (!RequestFor(element, request)) {
    return kNoMciDevice;
  }
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const MciDeviceId id = registry.next++;
  registry.devices[id].element = element;
  return id;
}

bool MciSetTimeFormatTmsf(MciDeviceId id) {
  return WithDevice(id, [](Device& device) { return device.tmsf = true; });
}

bool MciStatusLength(MciDeviceId id, uint32_t track, uint32_t& msf) {
  std::string element;
  if (!WithDevice(id, [&](Device& device) {
        element = device.element;
        return device.tmsf;
      })) {
    return false;
  }
  OpenRequest request{};
  TocBuffer toc{};
  if (!ReadDiscToc(element, request, toc)) return false;
  const int entry = EntryOf(toc, track);
  if (entry < 0) return false;
  const uint32_t sectors = AudioTrackSectors(toc, entry);
  const uint32_t seconds = sectors / kSectorsPerSecond;
  msf = (seconds / 60) | (seconds % 60) << 8 | (sectors % kSectorsPerSecond) << 16;
  return true;
}

bool MciPlay(MciDeviceId id, uint32_t from, uint32_t to, MciNotify notify) {
  std::string element;
  if (!WithDevice(id, [&](Device& device) {
        StopPlayback(device);
        element = device.element;
        return device.tmsf;
      })) {
    return false;
  }
  OpenRequest request{};
  TocBuffer toc{};
  uint32_t first = 0, end = 0;
  if (!ReadDiscToc(element, request, toc) || !SectorOf(toc, from, first) ||
      !SectorOf(toc, to, end) || !IsAudioRange(toc, first, end)) {
    return false;
  }
  auto playback = std::make_shared<Playback>();
  playback->thread = std::thread([playback, request, first, end, notify = std::move(notify)] {
    const MciNotice notice = Stream(request, first, end, playback->stop);
    if (notify) notify(notice);
    std::lock_guard lock(playback->mutex);
    playback->done = true;
    playback->finished.notify_all();
  });
  return WithDevice(id, [&](Device& device) {
    device.playback = std::move(playback);
    return true;
  });
}

MciMode MciStatusMode(MciDeviceId id) {
  return WithDevice(id, [](Device& device) {
    if (!device.playback) return MciMode::kStopped;
    std::lock_guard lock(device.playback->mutex);
    return device.playback->done ? MciMode::kStopped : MciMode::kPlaying;
  });
}

bool MciStop(MciDeviceId id) {
  return WithDevice(id, [](Device& device) {
    StopPlayback(device);
    return true;
  });
}

bool MciClose(MciDeviceId id) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const auto it = registry.devices.find(id);
  if (it == registry.devices.end()) return false;
  StopPlayback(it->second);
  registry.devices.erase(it);
  return true;
}

bool MciSetDoorOpen(MciDeviceId id) {
  std::string element;
  if (!WithDevice(id, [&](Device& device) {
        element = device.element;
        return true;
      })) {
    return false;
  }
  const std::shared_ptr<CdDevice> device = FindCdDevice(element);
  return device && device->Eject();
}
