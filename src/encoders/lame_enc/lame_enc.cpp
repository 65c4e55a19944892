// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// liblame_enc.so over libmp3lame. See lame_enc.h for the contract.
#include "lame_enc.h"

#include <fcntl.h>
#include <lame/lame.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Eight long-block frames per chunk: large enough that the per-call overhead vanishes, small
// enough to keep the program's buffers modest (36 KiB in, about 23 KiB out at 44.1 kHz).
constexpr uint32_t kFramesPerChunk = 1152 * 8;  // per channel
constexpr uint32_t kInputChannels = 2;
constexpr uint32_t kSamplesPerChunk = kFramesPerChunk * kInputChannels;
// The largest Layer III frame (320 kbps at 32 kHz, padded) is 1441 bytes; free format would
// allow more, which libmp3lame never produces here.
constexpr size_t kMaxFrameBytes = 2880;
constexpr size_t kId3v1Size = 128;
constexpr size_t kRememberedInfoFrames = 8;

constexpr uint8_t kInterfaceMajor = 1;
constexpr uint8_t kInterfaceMinor = 0;
constexpr uint8_t kReleaseDay = 6;
constexpr uint8_t kReleaseMonth = 12;
constexpr uint16_t kReleaseYear = 2026;

using Lhv1 = decltype(BE_CONFIG::format.LHV1);

struct Stream {
  std::mutex mutex;
  lame_global_flags* lame = nullptr;
  uint32_t bufferSize = 0;
  bool flushed = false;
  uint64_t bytesOut = 0;

  Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  ~Stream() {
    if (lame) lame_close(lame);
  }
};

// The finished info frame of a flushed stream, waiting for beWriteVBRHeader.
struct InfoFrame {
  std::vector<uint8_t> bytes;
  uint64_t streamBytes = 0;
};

struct Registry {
  std::mutex mutex;
  // Handles are counters, never addresses, so a stale handle can never reach a newer stream.
  std::map<uintptr_t, std::shared_ptr<Stream>> streams;
  uintptr_t nextId = 1;
  std::deque<InfoFrame> infoFrames;  // oldest first
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::shared_ptr<Stream> FindStream(HBE_STREAM handle) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.streams.find(reinterpret_cast<uintptr_t>(handle));
  return it == registry.streams.end() ? nullptr : it->second;
}

void Quiet(const char*, va_list) {}

bool IsMpegRate(uint32_t rate) {
  switch (rate) {
    case 8000:
    case 11025:
    case 12000:
    case 16000:
    case 22050:
    case 24000:
    case 32000:
    case 44100:
    case 48000:
      return true;
    default:
      return false;
  }
}

// nQuality: 0 = none; q | (~q << 8) or a plain 1..9 = q; anything else = invalid (-2).
int DecodeAlgorithmQuality(uint16_t value) {
  if (value == 0) return -1;
  const unsigned low = value & 0xFF;
  const unsigned high = value >> 8;
  if (low <= 9 && high == (~low & 0xFF)) return static_cast<int>(low);
  if (value <= 9) return value;
  return -2;
}

struct FixedPreset {
  int32_t number;
  MPEG_mode mode;
  int kbps;
  int outRate;  // 0 = the requested output rate
  int lowpass;  // 0 = library default
};

constexpr FixedPreset kFixedPresets[] = {
    {LQP_PHONE, MONO, 16, 8000, 3200},
    {LQP_SW, MONO, 24, 11025, 4800},
    {LQP_AM, MONO, 40, 16000, 7200},
    {LQP_FM, JOINT_STEREO, 112, 32000, 15000},
    {LQP_VOICE, MONO, 56, 32000, 12000},
    {LQP_RADIO, JOINT_STEREO, 112, 0, 15000},
    {LQP_TAPE, JOINT_STEREO, 128, 0, 17000},
    {LQP_HIFI, JOINT_STEREO, 160, 0, 0},
    {LQP_CD, STEREO, 192, 0, 0},
    {LQP_STUDIO, STEREO, 256, 0, 0},
};

// libmp3lame's own default bitrate, used where a bitrate is needed and dwBitrate is 0.
constexpr uint32_t kDefaultKbps = 128;

uint32_t OrDefault(uint32_t kbps) {
  return kbps != 0 ? kbps : kDefaultKbps;
}

// The preset numbers 8..320 select libmp3lame's tuning for that average bitrate.
int PresetKbps(uint32_t kbps) {
  return static_cast<int>(std::clamp<uint32_t>(kbps, 8, 320));
}

uint32_t AbrMeanKbps(const Lhv1& c) {
  return c.dwVbrAbr_bps != 0 ? c.dwVbrAbr_bps / 1000 : OrDefault(c.dwBitrate);
}

// CBR, VBR or ABR exactly as the fields ask.
void ApplyRateFields(lame_global_flags* gf, const Lhv1& c) {
  const bool vbr = c.bEnableVBR != 0 && c.nVbrMethod != VBR_METHOD_NONE;
  if (!vbr) {
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, static_cast<int>(OrDefault(c.dwBitrate)));
    return;
  }
  if (c.nVbrMethod == VBR_METHOD_ABR) {
    const uint32_t mean = AbrMeanKbps(c);
    lame_set_VBR(gf, vbr_abr);
    lame_set_VBR_mean_bitrate_kbps(gf, PresetKbps(mean));
    if (c.dwBitrate != 0 && c.dwBitrate <= mean) {
      lame_set_VBR_min_bitrate_kbps(gf, static_cast<int>(c.dwBitrate));
    }
    if (c.dwMaxBitrate != 0 && c.dwMaxBitrate >= mean) {
      lame_set_VBR_max_bitrate_kbps(gf, static_cast<int>(c.dwMaxBitrate));
    }
    return;
  }
  lame_set_VBR(gf, c.nVbrMethod == VBR_METHOD_OLD ? vbr_rh : vbr_mtrh);
  lame_set_VBR_q(gf, std::clamp(c.nVBRQuality, 0, 9));
  if (c.dwBitrate != 0) lame_set_VBR_min_bitrate_kbps(gf, static_cast<int>(c.dwBitrate));
  if (c.dwMaxBitrate != 0) {
    lame_set_VBR_max_bitrate_kbps(gf, static_cast<int>(std::max(c.dwMaxBitrate, c.dwBitrate)));
  }
}

// Translates the configuration into libmp3lame settings and initialises the encoder.
BE_ERR Configure(lame_global_flags* gf, const BE_CONFIG& config) {
  const auto& c = config.format.LHV1;
  if (!IsMpegRate(c.dwSampleRate)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  if (c.dwReSampleRate != 0 && !IsMpegRate(c.dwReSampleRate)) {
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  if (c.nMode < BE_MP3_MODE_STEREO || c.nMode > BE_MP3_MODE_MONO) {
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  if (c.nVbrMethod < VBR_METHOD_NONE || c.nVbrMethod > VBR_METHOD_ABR) {
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  if (c.dwEmphasis != 0 && c.dwEmphasis != 1 && c.dwEmphasis != 3) {
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  const int explicitQuality = DecodeAlgorithmQuality(c.nQuality);
  if (explicitQuality == -2) return BE_ERR_INVALID_FORMAT_PARAMETERS;

  lame_set_errorf(gf, Quiet);
  lame_set_debugf(gf, Quiet);
  lame_set_msgf(gf, Quiet);
  lame_set_num_channels(gf, kInputChannels);
  lame_set_in_samplerate(gf, static_cast<int>(c.dwSampleRate));
  lame_set_write_id3tag_automatic(gf, 0);
  // Always reserve the info frame: the program never asks for it, yet a VBR stream without
  // one has no usable length or seek table, and CBR gains exact gapless trimming.
  lame_set_bWriteVbrTag(gf, 1);

  MPEG_mode mode = static_cast<MPEG_mode>(c.nMode);
  int outRate = static_cast<int>(c.dwReSampleRate != 0 ? c.dwReSampleRate : c.dwSampleRate);
  int quality = -1;
  int lowpass = 0;
  switch (c.nPreset) {
    case LQP_NOPRESET:
    case LQP_NORMAL_QUALITY:
      ApplyRateFields(gf, c);
      break;
    case LQP_LOW_QUALITY:
      ApplyRateFields(gf, c);
      quality = 7;
      break;
    case LQP_HIGH_QUALITY:
      ApplyRateFields(gf, c);
      quality = 2;
      break;
    case LQP_VOICE_QUALITY:
      ApplyRateFields(gf, c);
      mode = MONO;
      lowpass = 12000;
      break;
    case LQP_R3MIX:
      lame_set_preset(gf, R3MIX);
      break;
    case LQP_VERYHIGH_QUALITY:
      ApplyRateFields(gf, c);
      quality = 0;
      break;
    case LQP_STANDARD:
      lame_set_preset(gf, STANDARD);
      break;
    case LQP_FAST_STANDARD:
      lame_set_preset(gf, STANDARD_FAST);
      break;
    case LQP_EXTREME:
      lame_set_preset(gf, EXTREME);
      break;
    case LQP_FAST_EXTREME:
      lame_set_preset(gf, EXTREME_FAST);
      break;
    case LQP_INSANE:
      lame_set_preset(gf, INSANE);
      break;
    case LQP_ABR:
      lame_set_preset(gf, PresetKbps(AbrMeanKbps(c)));
      lame_set_VBR(gf, vbr_abr);
      break;
    case LQP_CBR:
      lame_set_preset(gf, PresetKbps(OrDefault(c.dwBitrate)));
      lame_set_VBR(gf, vbr_off);
      lame_set_brate(gf, static_cast<int>(OrDefault(c.dwBitrate)));
      break;
    default: {
      const FixedPreset* fixed = nullptr;
      for (const FixedPreset& p : kFixedPresets) {
        if (p.number == c.nPreset) fixed = &p;
      }
      if (!fixed) return BE_ERR_INVALID_FORMAT_PARAMETERS;
      lame_set_VBR(gf, vbr_off);
      lame_set_brate(gf, fixed->kbps);
      mode = fixed->mode;
      if (fixed->outRate != 0) outRate = fixed->outRate;
      lowpass = fixed->lowpass;
      break;
    }
  }
  if (explicitQuality >= 0) quality = explicitQuality;

  lame_set_out_samplerate(gf, outRate);
  lame_set_mode(gf, mode);
  if (quality >= 0) lame_set_quality(gf, quality);
  if (lowpass > 0) lame_set_lowpassfreq(gf, lowpass);
  lame_set_emphasis(gf, static_cast<int>(c.dwEmphasis));
  lame_set_extension(gf, c.bPrivate != 0);
  lame_set_error_protection(gf, c.bCRC != 0);
  lame_set_copyright(gf, c.bCopyright != 0);
  lame_set_original(gf, c.bOriginal != 0);
  lame_set_disable_reservoir(gf, c.bNoRes != 0);
  lame_set_strict_ISO(gf, c.bStrictIso != 0);

  if (lame_init_params(gf) < 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  return BE_ERR_SUCCESSFUL;
}

// Bytes one chunk can produce in the worst case: libmp3lame's bound of 1.25 bytes per output
// sample (plus one padding byte per frame) and 7200 bytes of buffered frames, with the chunk's
// length counted at the output rate since upsampling multiplies the frames. One more frame and
// a resampler's slack are added on top.
uint32_t OutputBufferSize(uint32_t inRate, uint32_t outRate) {
  const uint64_t outFrames =
      (uint64_t{kFramesPerChunk} * outRate + inRate - 1) / inRate + uint64_t{1152};
  const uint64_t bytes = outFrames * 5 / 4 + outFrames / 576 + 1 + 7200 + kMaxFrameBytes;
  return static_cast<uint32_t>((bytes + 15) & ~uint64_t{15});
}

void RememberInfoFrame(const uint8_t* frame, size_t size, uint64_t streamBytes) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  if (registry.infoFrames.size() >= kRememberedInfoFrames) registry.infoFrames.pop_front();
  registry.infoFrames.push_back(InfoFrame{std::vector<uint8_t>(frame, frame + size), streamBytes});
}

bool ReadAll(int fd, uint8_t* data, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = pread(fd, data, size, offset);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, offset);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// The file holds this stream: its length is the stream's (plus an ID3v1 tag) and it starts
// with the placeholder, which carries the info frame's header followed by zeros.
bool FileHoldsStream(int fd, uint64_t fileSize, const InfoFrame& info) {
  const size_t n = info.bytes.size();
  if (n < 4 || fileSize < n) return false;
  if (fileSize != info.streamBytes) {
    if (fileSize != info.streamBytes + kId3v1Size) return false;
    uint8_t tag[3];
    if (!ReadAll(fd, tag, sizeof tag, static_cast<off_t>(info.streamBytes))) return false;
    if (std::memcmp(tag, "TAG", 3) != 0) return false;
  }
  std::array<uint8_t, kMaxFrameBytes> head;
  if (!ReadAll(fd, head.data(), n, 0)) return false;
  // libmp3lame fills in the mode extension of the last frame when it finishes the info frame;
  // everything else in the header is fixed when the placeholder is written.
  if (std::memcmp(head.data(), info.bytes.data(), 3) != 0) return false;
  if ((head[3] & ~0x30) != (info.bytes[3] & ~0x30)) return false;
  return std::all_of(head.begin() + 4, head.begin() + static_cast<std::ptrdiff_t>(n),
                     [](uint8_t b) { return b == 0; });
}

}  // namespace

extern "C" {

BE_ERR beInitStream(PBE_CONFIG pbeConfig, uint32_t* dwSamples, uint32_t* dwBufferSize,
                    HBE_STREAM* phbeStream) {
  if (dwSamples) *dwSamples = 0;
  if (dwBufferSize) *dwBufferSize = 0;
  if (phbeStream) *phbeStream = nullptr;
  if (!pbeConfig || !dwSamples || !dwBufferSize || !phbeStream) {
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  if (pbeConfig->dwConfig != BE_CONFIG_LAME) return BE_ERR_INVALID_FORMAT;
  if (pbeConfig->format.LHV1.dwStructVersion != BE_CONFIG_STRUCT_VERSION ||
      pbeConfig->format.LHV1.dwStructSize != BE_CONFIG_STRUCT_SIZE) {
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }

  auto stream = std::make_shared<Stream>();
  stream->lame = lame_init();
  if (!stream->lame) return BE_ERR_NO_MORE_HANDLES;
  if (const BE_ERR err = Configure(stream->lame, *pbeConfig); err != BE_ERR_SUCCESSFUL) {
    return err;
  }
  stream->bufferSize =
      OutputBufferSize(static_cast<uint32_t>(lame_get_in_samplerate(stream->lame)),
                       static_cast<uint32_t>(lame_get_out_samplerate(stream->lame)));

  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const uintptr_t id = registry.nextId++;
  registry.streams.emplace(id, stream);
  *dwSamples = kSamplesPerChunk;
  *dwBufferSize = stream->bufferSize;
  *phbeStream = reinterpret_cast<HBE_STREAM>(id);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const int16_t* pSamples,
                     uint8_t* pOutput, uint32_t* pdwOutput) {
  if (pdwOutput) *pdwOutput = 0;
  const std::shared_ptr<Stream> stream = FindStream(hbeStream);
  if (!stream) return BE_ERR_INVALID_HANDLE;
  std::lock_guard lock(stream->mutex);
  if (stream->flushed) return BE_ERR_INVALID_HANDLE;
  if (nSamples > kSamplesPerChunk) return BE_ERR_BUFFER_TOO_SMALL;
  if (nSamples % kInputChannels != 0 || !pdwOutput) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  if (nSamples == 0) return BE_ERR_SUCCESSFUL;
  if (!pSamples || !pOutput) return BE_ERR_INVALID_FORMAT_PARAMETERS;

  // libmp3lame copies the samples into its own buffers; the pointer is only non-const in its
  // declaration.
  const int produced = lame_encode_buffer_interleaved(
      stream->lame, const_cast<int16_t*>(pSamples), static_cast<int>(nSamples / kInputChannels),
      pOutput, static_cast<int>(stream->bufferSize));
  if (produced < 0) {
    return produced == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  stream->bytesOut += static_cast<uint64_t>(produced);
  *pdwOutput = static_cast<uint32_t>(produced);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, uint32_t* pdwOutput) {
  if (pdwOutput) *pdwOutput = 0;
  const std::shared_ptr<Stream> stream = FindStream(hbeStream);
  if (!stream) return BE_ERR_INVALID_HANDLE;
  std::lock_guard lock(stream->mutex);
  if (stream->flushed) return BE_ERR_INVALID_HANDLE;
  if (!pOutput || !pdwOutput) return BE_ERR_INVALID_FORMAT_PARAMETERS;

  stream->flushed = true;
  const int produced =
      lame_encode_flush(stream->lame, pOutput, static_cast<int>(stream->bufferSize));
  if (produced < 0) {
    return produced == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  stream->bytesOut += static_cast<uint64_t>(produced);
  *pdwOutput = static_cast<uint32_t>(produced);

  std::array<uint8_t, kMaxFrameBytes> frame;
  const size_t size = lame_get_lametag_frame(stream->lame, frame.data(), frame.size());
  if (size > 0 && size <= frame.size()) RememberInfoFrame(frame.data(), size, stream->bytesOut);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM hbeStream) {
  std::shared_ptr<Stream> stream;
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.streams.find(reinterpret_cast<uintptr_t>(hbeStream));
    if (it == registry.streams.end()) return BE_ERR_INVALID_HANDLE;
    stream = std::move(it->second);
    registry.streams.erase(it);
  }
  // The encoder goes with the last reference, outside the registry's lock.
  return BE_ERR_SUCCESSFUL;
}

void beVersion(PBE_VERSION pbeVersion) {
  if (!pbeVersion) return;
  std::memset(pbeVersion, 0, sizeof *pbeVersion);
  lame_version_t engine{};
  get_lame_version_numerical(&engine);
  pbeVersion->byDLLMajorVersion = kInterfaceMajor;
  pbeVersion->byDLLMinorVersion = kInterfaceMinor;
  pbeVersion->byMajorVersion = static_cast<uint8_t>(engine.major);
  pbeVersion->byMinorVersion = static_cast<uint8_t>(engine.minor);
  pbeVersion->byDay = kReleaseDay;
  pbeVersion->byMonth = kReleaseMonth;
  pbeVersion->wYear = kReleaseYear;
  if (const char* url = get_lame_url()) {
    std::strncpy(pbeVersion->zHomepage, url, sizeof pbeVersion->zHomepage - 1);
  }
  pbeVersion->byAlphaLevel = static_cast<uint8_t>(engine.alpha);
  pbeVersion->byBetaLevel = static_cast<uint8_t>(engine.beta);
  const char* features = engine.features ? engine.features : "";
  pbeVersion->byMMXEnabled = std::strstr(features, "MMX") || std::strstr(features, "SSE");
}

BE_ERR beWriteVBRHeader(const char* lpszFileName) {
  if (!lpszFileName) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const int fd = open(lpszFileName, O_RDWR | O_CLOEXEC);
  if (fd < 0) return BE_ERR_INVALID_FORMAT;
  BE_ERR result = BE_ERR_INVALID_HANDLE;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    const auto fileSize = static_cast<uint64_t>(info.st_size);
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    for (auto it = registry.infoFrames.rbegin(); it != registry.infoFrames.rend(); ++it) {
      if (!FileHoldsStream(fd, fileSize, *it)) continue;
      result = WriteAll(fd, it->bytes.data(), it->bytes.size(), 0) ? BE_ERR_SUCCESSFUL
                                                                   : BE_ERR_INVALID_FORMAT;
      registry.infoFrames.erase(std::next(it).base());
      break;
    }
  }
  if (close(fd) != 0 && result == BE_ERR_SUCCESSFUL) result = BE_ERR_INVALID_FORMAT;
  return result;
}

}  // extern "C"
