// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#pragma once
// Converting the disc's audio (44100 Hz, two channels, signed 16-bit little-endian) to the
// rate, channel count and sample size a track's WAV or Ogg Vorbis settings ask for. One set
// of conversion code for both: the WAV writer's converting sink and the Ogg Vorbis stage.
//
// Everything streams in small pieces; nothing holds more than one piece of a track. All
// conversions are deterministic: the same input always gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/settings.h"

struct PcmFormat {
  uint32_t sampleRate = 44100;
  uint16_t channels = 2;
  uint16_t bitsPerSample = 16;

  bool operator==(const PcmFormat&) const = default;
};

// What a CD holds, and what the capture writes into the PCM file.
inline constexpr PcmFormat kCdPcmFormat{};
inline constexpr std::size_t kCdFrameBytes = 4;

// The format a WAV track's settings ask for: the chosen rate (44100 for "Same as input"),
// one channel for "Mono", 8 or 16 bits.
PcmFormat WavOutputFormat(const WavSettings& settings);

// The rate and channel count the Ogg Vorbis encoder is set up with: the chosen rate (44100
// for "Same as input"), one channel for "Mono", two for "Stereo" and "5.1".
PcmFormat OggOutputFormat(const OggSettings& settings);

// De-interleaves `frames` frames of disc PCM into planar floats scaled by 1/32768: into
// out[0] and out[1] for two channels, or the average of both into out[0] for one channel.
void DeinterleaveCdPcm(const uint8_t* data, std::size_t frames, unsigned channels,
                       float* const* out);

// Where a Resampler puts its output, piece by piece.
class ResampleTarget {
 public:
  virtual ~ResampleTarget() = default;
  // Planar buffers with room for `frames` frames per channel, valid until Commit.
  virtual float* const* Reserve(std::size_t frames) = 0;
  // The first `frames` frames of the last reserved buffers hold output (never 0).
  virtual void Commit(std::size_t frames) = 0;
};

// A streaming high-quality resampler (libsoxr) of planar float audio.
class Resampler {
 public:
  Resampler() = default;
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Prepares a conversion of `channels` channels from `inputRate` to `outputRate`. False
  // when libsoxr refuses it.
  bool Init(double inputRate, double outputRate, unsigned channels);
  // Feeds `frames` frames of every channel of `input` and hands all output that is ready to
  // `target`. False when libsoxr reports an error.
  bool Feed(const float* const* input, std::size_t frames, ResampleTarget& target);
  // Ends the input: hands everything still held to `target`.
  bool Finish(ResampleTarget& target);

 private:
  bool Run(const float* const* input, std::size_t frames, ResampleTarget& target);

  struct soxr* soxr_ = nullptr;
  unsigned channels_ = 0;
  std::size_t pieceFrames_ = 0;
};

// Triangular (TPDF) dither: the sum of two uniform values, within ±1 step of the target
// scale. A fixed seed per file keeps the output reproducible.
class TpdfDither {
 public:
  explicit TpdfDither(uint32_t seed = 0x4F62726Eu) : state_(seed ? seed : 1) {}
  float Next();

 private:
  float Uniform();  // in [-0.5, 0.5)
  uint32_t state_;
};

// Interleaves planar floats (nominal range -1..1) into signed 16-bit little-endian samples,
// rounded to nearest and clipped; appends channels × frames × 2 bytes to `out`.
void AppendPcm16(const float* const* in, unsigned channels, std::size_t frames,
                 std::vector<uint8_t>& out);
// Same into unsigned 8-bit samples (128 is silence) with TPDF dither; appends
// channels × frames bytes to `out`.
void AppendPcm8(const float* const* in, unsigned channels, std::size_t frames, TpdfDither& dither,
                std::vector<uint8_t>& out);

// Converts disc PCM into another PcmFormat, in pieces of any size.
class PcmConverter {
 public:
  PcmConverter() = default;
  PcmConverter(const PcmConverter&) = delete;
  PcmConverter& operator=(const PcmConverter&) = delete;

  // Prepares the conversion to `target` (rate 32000, 44100 or 48000 Hz — or any rate libsoxr
  // accepts — one or two channels, 8 or 16 bits). False when the target cannot be made.
  bool Init(const PcmFormat& target);
  // Converts `size` bytes of disc PCM and appends the result to `out`. A frame split
  // between two calls is kept until its rest arrives. False when the resampler fails.
  bool Convert(const uint8_t* data, std::size_t size, std::vector<uint8_t>& out);
  // The end of the input: appends what the resampler still holds.
  bool Finish(std::vector<uint8_t>& out);

 private:
  class Collector;
  void Emit(const float* const* planar, std::size_t frames, std::vector<uint8_t>& out);

  PcmFormat target_;
  bool resample_ = false;
  Resampler resampler_;
  TpdfDither dither_;
  std::vector<float> planar_[2];
  std::vector<float> resampled_[2];
  uint8_t partial_[kCdFrameBytes] = {};
  std::size_t partialSize_ = 0;
};
