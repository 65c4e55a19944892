// Converting the disc's 44100 Hz 16-bit stereo audio. Guards:
// - the disc's own format comes back bit for bit, whatever the pieces it is handed in
// - mono is the rounded average of both channels (mono-mix-left-only)
// - 8 bits: unsigned, within a step, clipped; the dither triangular, unbiased, reproducible
// - resampling keeps the duration and the waveform of each channel, whatever the pieces
// - formats it cannot make are refused
#include "encoders/pcm_convert.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include <gtest/gtest.h>

namespace {

using Samples = std::vector<int16_t>;  // interleaved, left first

std::vector<uint8_t> Bytes(const Samples& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

// 440 Hz on the left, 1000 Hz on the right, at half scale.
double Sine(std::size_t channel, std::size_t i, double rate) {
  return 0.5 * std::sin(2 * std::numbers::pi * (channel ? 1000 : 440) * double(i) / rate);
}

// Converts `samples` handed over in pieces of `piece` bytes, then finishes.
std::vector<uint8_t> Convert(const PcmFormat& target, const Samples& samples, std::size_t piece) {
  const std::vector<uint8_t> pcm = Bytes(samples);
  PcmConverter converter;
  EXPECT_TRUE(converter.Init(target));
  std::vector<uint8_t> out;
  for (std::size_t at = 0; at < pcm.size(); at += piece) {
    EXPECT_TRUE(converter.Convert(pcm.data() + at, std::min(piece, pcm.size() - at), out));
  }
  EXPECT_TRUE(converter.Finish(out));
  return out;
}

Samples SineSamples(std::size_t frames) {
  Samples samples(frames * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(std::lrint(32767 * Sine(i % 2, i / 2, 44100)));
  }
  return samples;
}

TEST(PcmConverter, SixteenBitsStereoIsExactAndMonoTheRoundedAverage) {
  Samples pcm = SineSamples(5000);
  pcm.insert(pcm.end(), {32767, -32768, -32768, 32767, -1, 1});
  for (std::size_t piece : {1u, 3u, 4097u, 100000u}) {
    EXPECT_EQ(Convert(kCdPcmFormat, pcm, piece), Bytes(pcm)) << "piece " << piece;
  }
  // Halves round to the even neighbour; the extremes stay in range.
  const Samples mix = {3, 4, 1, 2, -3, -4, 32767, 32767, -32768, -32768, 32767, -32768, 9, -9};
  EXPECT_EQ(Convert({44100, 1, 16}, mix, 7), Bytes({4, 2, -4, 32767, -32768, 0, 0}));
}

TEST(PcmConverter, EightBitsAreUnsignedClippedAndTriangularlyDithered) {
  Samples ramp;
  for (int v = -32768; v <= 32767; v += 97) ramp.insert(ramp.end(), {int16_t(v), int16_t(-1 - v)});
  const std::vector<uint8_t> out = Convert({44100, 2, 8}, ramp, 4096);
  ASSERT_EQ(out.size(), ramp.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    ASSERT_LE(std::abs(out[i] - (ramp[i] / 256.0 + 128)), 1.5) << "sample " << i;
  }
  const std::vector<uint8_t> full = Convert({44100, 1, 8}, {32767, 32767, -32768, -32768}, 8);
  EXPECT_GE(full[0], 254);
  EXPECT_LE(full[1], 1);

  // A level between two steps: plain rounding would always give the same value; triangular
  // dither spreads it so that the mean finds the level and the error power is a quarter step
  // squared whatever the level (rectangular dither would not).
  constexpr int16_t kLevel = 64 * 256 + 77;
  const Samples level(40000, kLevel);
  const std::vector<uint8_t> dithered = Convert({44100, 1, 8}, level, 1000);
  EXPECT_EQ(Convert({44100, 1, 8}, level, 333), dithered);
  const double expected = 128 + kLevel / 256.0;
  double sum = 0, squares = 0;
  for (uint8_t value : dithered) {
    sum += value;
    squares += (value - expected) * (value - expected);
  }
  EXPECT_NEAR(sum / static_cast<double>(dithered.size()), expected, 0.02);
  EXPECT_NEAR(squares / static_cast<double>(dithered.size()), 0.25, 0.02);
}

TEST(PcmConverter, ResamplingKeepsDurationAndWaveformWhateverThePieces) {
  const Samples pcm = SineSamples(44100);
  for (const PcmFormat format : {PcmFormat{32000, 2, 16}, PcmFormat{48000, 1, 16}}) {
    SCOPED_TRACE(format.sampleRate);
    const std::vector<uint8_t> bytes = Convert(format, pcm, 61152);
    EXPECT_EQ(Convert(format, pcm, 4098), bytes);
    Samples out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), bytes.size());
    const std::size_t frames = out.size() / format.channels;
    EXPECT_NEAR(static_cast<double>(frames), format.sampleRate, 1.0);
    // Sample-aligned with the source; the edges, where the source starts and stops abruptly,
    // are left out.
    double worst = 0;
    for (std::size_t i = frames / 20 * format.channels; i < out.size() * 19 / 20; ++i) {
      const std::size_t frame = i / format.channels;
      const double want =
          format.channels == 2
              ? Sine(i % 2, frame, format.sampleRate)
              : (Sine(0, frame, format.sampleRate) + Sine(1, frame, format.sampleRate)) / 2;
      worst = std::max(worst, std::abs(out[i] / 32768.0 - want));
    }
    EXPECT_LT(worst, 3.0 / 32768);
  }
}

TEST(PcmConverter, RefusesFormatsItCannotMakeAndMakesNothingOfNothing) {
  PcmConverter converter;
  for (const PcmFormat format : {PcmFormat{44100, 0, 16}, PcmFormat{44100, 3, 16},
                                 PcmFormat{44100, 2, 24}, PcmFormat{0, 2, 16}}) {
    EXPECT_FALSE(converter.Init(format)) << format.sampleRate << " " << format.channels;
  }
  EXPECT_TRUE(Convert({48000, 2, 16}, {}, 4).empty());
}

}  // namespace
