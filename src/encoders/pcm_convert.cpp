// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "encoders/pcm_convert.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// 1/32768 as the single-precision constant the Ogg Vorbis stage has always used.
constexpr float kSampleScale = 3.0517578e-05f;
// Frames converted at a time: bounds every scratch buffer whatever a caller hands in.
constexpr std::size_t kPieceFrames = 4096;
constexpr unsigned kMaxChannels = 8;

int32_t DiscRate(int32_t sampleRateIndex) {
  const int rate = SampleRateHz(sampleRateIndex);
  return rate > 0 ? rate : static_cast<int32_t>(kCdPcmFormat.sampleRate);
}

inline float CdSample(const uint8_t* at) {
  return static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(at[0] | (at[1] << 8))));
}

}  // namespace

PcmFormat WavOutputFormat(const WavSettings& settings) {
  PcmFormat format;
  format.sampleRate = static_cast<uint32_t>(DiscRate(settings.sampleRate));
  format.channels = settings.channels == 0 ? 1 : 2;
  format.bitsPerSample = settings.bitsPerSample == 0 ? 8 : 16;
  return format;
}

PcmFormat OggOutputFormat(const OggSettings& settings) {
  PcmFormat format;
  format.sampleRate = static_cast<uint32_t>(DiscRate(settings.sampleRate));
  // "5.1" stays two channels: a CD carries only a left and a right channel, and spreading
  // them over six speakers would invent audio the disc never held.
  format.channels = settings.channels == 0 ? 1 : 2;
  return format;
}

void DeinterleaveCdPcm(const uint8_t* data, std::size_t frames, unsigned channels,
                       float* const* out) {
  if (channels == 1) {
    // Halving is exact in binary floating point, so the mix adds no error of its own.
    constexpr float kHalfScale = kSampleScale * 0.5f;
    float* mono = out[0];
    for (std::size_t i = 0; i < frames; ++i, data += kCdFrameBytes) {
      mono[i] = (CdSample(data) + CdSample(data + 2)) * kHalfScale;
    }
    return;
  }
  float* left = out[0];
  float* right = out[1];
  for (std::size_t i = 0; i < frames; ++i, data += kCdFrameBytes) {
    left[i] = CdSample(data) * kSampleScale;
    right[i] = CdSample(data + 2) * kSampleScale;
  }
}

Resampler::~Resampler() {
  if (soxr_) soxr_delete(soxr_);
}

bool Resampler::Init(double inputRate, double outputRate, unsigned channels) {
  if (soxr_) soxr_delete(soxr_);
  soxr_ = nullptr;
  if (channels == 0 || channels > kMaxChannels) return false;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  // One thread: the rip worker runs at idle priority and the output must not depend on
  // how work was split.
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  soxr_ = soxr_create(inputRate, outputRate, channels, &error, &io, &quality, &runtime);
  if (error || !soxr_) {
    if (soxr_) soxr_delete(soxr_);
    soxr_ = nullptr;
    return false;
  }
  channels_ = channels;
  pieceFrames_ = static_cast<std::size_t>(std::ceil(kPieceFrames * outputRate / inputRate)) + 64;
  return true;
}

bool Resampler::Feed(const float* const* input, std::size_t frames, ResampleTarget& target) {
  if (frames == 0) return soxr_ != nullptr;
  return Run(input, frames, target);
}

bool Resampler::Finish(ResampleTarget& target) {
  return Run(nullptr, 0, target);
}

bool Resampler::Run(const float* const* input, std::size_t frames, ResampleTarget& target) {
  if (!soxr_) return false;
  std::size_t consumed = 0;
  const float* in[kMaxChannels] = {};
  for (;;) {
    // libsoxr only reads the channel pointers; its output type just cannot say so.
    void* out = const_cast<float**>(target.Reserve(pieceFrames_));
    std::size_t used = 0;
    std::size_t produced = 0;
    soxr_error_t error;
    if (input) {
      for (unsigned c = 0; c < channels_; ++c) in[c] = input[c] + consumed;
      error = soxr_process(soxr_, in, frames - consumed, &used, out, pieceFrames_, &produced);
    } else {
      error = soxr_process(soxr_, nullptr, 0, nullptr, out, pieceFrames_, &produced);
    }
    if (error) return false;
    consumed += used;
    if (produced > 0) target.Commit(produced);
    // A full piece may leave more output waiting inside libsoxr.
    if (produced == pieceFrames_) continue;
    if (!input) {
      if (produced == 0) return true;
      continue;
    }
    if (consumed >= frames) return true;
    if (used == 0 && produced == 0) return false;  // no progress: never spin
  }
}

float TpdfDither::Uniform() {
  // xorshift32: small, fast and the same on every platform.
  state_ ^= state_ << 13;
  state_ ^= state_ >> 17;
  state_ ^= state_ << 5;
  return static_cast<float>(state_ >> 8) * (1.0f / 16777216.0f) - 0.5f;
}

float TpdfDither::Next() {
  const float first = Uniform();
  return first + Uniform();
}

void AppendPcm16(const float* const* in, unsigned channels, std::size_t frames,
                 std::vector<uint8_t>& out) {
  const std::size_t start = out.size();
  out.resize(start + frames * channels * 2);
  uint8_t* at = out.data() + start;
  for (std::size_t i = 0; i < frames; ++i) {
    for (unsigned c = 0; c < channels; ++c, at += 2) {
      const long value = std::clamp(std::lrint(in[c][i] * 32768.0f), -32768L, 32767L);
      const auto bits = static_cast<uint16_t>(static_cast<int16_t>(value));
      at[0] = static_cast<uint8_t>(bits);
      at[1] = static_cast<uint8_t>(bits >> 8);
    }
  }
}

void AppendPcm8(const float* const* in, unsigned channels, std::size_t frames, TpdfDither& dither,
                std::vector<uint8_t>& out) {
  const std::size_t start = out.size();
  out.resize(start + frames * channels);
  uint8_t* at = out.data() + start;
  for (std::size_t i = 0; i < frames; ++i) {
    for (unsigned c = 0; c < channels; ++c) {
      const long value = std::lrint(in[c][i] * 128.0f + dither.Next()) + 128;
      *at++ = static_cast<uint8_t>(std::clamp(value, 0L, 255L));
    }
  }
}

// Hands the resampler's output straight on to the sample-size stage.
class PcmConverter::Collector : public ResampleTarget {
 public:
  Collector(PcmConverter& owner, std::vector<uint8_t>& out) : owner_(owner), out_(out) {}
  float* const* Reserve(std::size_t frames) override {
    for (unsigned c = 0; c < owner_.target_.channels; ++c) {
      if (owner_.resampled_[c].size() < frames) owner_.resampled_[c].resize(frames);
      channels_[c] = owner_.resampled_[c].data();
    }
    return channels_;
  }
  void Commit(std::size_t frames) override { owner_.Emit(channels_, frames, out_); }

 private:
  PcmConverter& owner_;
  std::vector<uint8_t>& out_;
  float* channels_[2] = {};
};

bool PcmConverter::Init(const PcmFormat& target) {
  if (target.channels < 1 || target.channels > 2) return false;
  if (target.bitsPerSample != 8 && target.bitsPerSample != 16) return false;
  if (target.sampleRate == 0) return false;
  target_ = target;
  resample_ = target.sampleRate != kCdPcmFormat.sampleRate;
  if (resample_ && !resampler_.Init(kCdPcmFormat.sampleRate, target.sampleRate, target.channels)) {
    return false;
  }
  dither_ = TpdfDither();
  partialSize_ = 0;
  for (unsigned c = 0; c < target.channels; ++c) planar_[c].resize(kPieceFrames);
  return true;
}

void PcmConverter::Emit(const float* const* planar, std::size_t frames, std::vector<uint8_t>& out) {
  if (target_.bitsPerSample == 8) {
    AppendPcm8(planar, target_.channels, frames, dither_, out);
  } else {
    AppendPcm16(planar, target_.channels, frames, out);
  }
}

bool PcmConverter::Convert(const uint8_t* data, std::size_t size, std::vector<uint8_t>& out) {
  float* planar[2] = {planar_[0].data(), planar_[1].data()};
  auto convertFrames = [&](const uint8_t* frames, std::size_t count) {
    DeinterleaveCdPcm(frames, count, target_.channels, planar);
    if (!resample_) {
      Emit(planar, count, out);
      return true;
    }
    Collector collector(*this, out);
    return resampler_.Feed(planar, count, collector);
  };

  if (partialSize_ > 0) {
    const std::size_t take = std::min(kCdFrameBytes - partialSize_, size);
    std::memcpy(partial_ + partialSize_, data, take);
    partialSize_ += take;
    data += take;
    size -= take;
    if (partialSize_ < kCdFrameBytes) return true;
    partialSize_ = 0;
    if (!convertFrames(partial_, 1)) return false;
  }
  const std::size_t frames = size / kCdFrameBytes;
  for (std::size_t done = 0; done < frames; done += kPieceFrames) {
    const std::size_t count = std::min(kPieceFrames, frames - done);
    if (!convertFrames(data + done * kCdFrameBytes, count)) return false;
  }
  partialSize_ = size - frames * kCdFrameBytes;
  std::memcpy(partial_, data + frames * kCdFrameBytes, partialSize_);
  return true;
}

bool PcmConverter::Finish(std::vector<uint8_t>& out) {
  // A trailing half frame cannot be played; it is dropped like the capture would.
  partialSize_ = 0;
  if (!resample_) return true;
  Collector collector(*this, out);
  return resampler_.Finish(collector);
}
