// Converting the disc's 44100 Hz 16-bit stereo audio. Guards:
// - the disc's own format comes back bit for bit, whatever the pieces it is handed in
// - mono is the rounded average of both channels (mono-mix-left-only)
// - 8 bits: unsigned around 128, with triangular dither that is unbiased and reproducible
// - resampling keeps the duration and the waveform of each channel, whatever the pieces
#include "encoders/pcm_convert.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include <gtest/gtest.h>

namespace {

using Samples = std::vector<int16_t>;  // interleaved, left first

std::vector<uint8_t> Bytes(const Samples& samples) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
  return {bytes, bytes + samples.size() * 2};
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

// 440 Hz on the left, 1000 Hz on the right, at half scale; sample i of channel i % 2.
double Sine(std::size_t i, double rate) {
  return 0.5 * std::sin(2 * std::numbers::pi * (i % 2 ? 1000 : 440) * double(i / 2) / rate);
}

TEST(PcmConverter, SixteenBitsStereoIsExactAndMonoTheRoundedAverage) {
  Samples pcm = {32767, -32768, -32768, 32767, -1, 1};
  for (std::size_t i = 0; i < 10000; ++i)
    pcm.push_back(int16_t(std::lrint(32767 * Sine(i, 44100))));
  for (std::size_t piece : {1u, 3u, 4097u, 100000u}) {
    EXPECT_EQ(Convert(kCdPcmFormat, pcm, piece), Bytes(pcm)) << "piece " << piece;
  }
  // Halves round to the even neighbour; the extremes stay in range.
  const Samples mix = {3, 4, 1, 2, -3, -4, 32767, 32767, -32768, -32768, 32767, -32768, 9, -9};
  EXPECT_EQ(Convert({44100, 1, 16}, mix, 7), Bytes({4, 2, -4, 32767, -32768, 0, 0}));
}

TEST(PcmConverter, EightBitsAreTriangularlyDitheredAround128) {
  // A level between two steps: the mean finds it, and the error power is a quarter step
  // squared whatever the level (not so with plain rounding or rectangular dither).
  for (const int16_t level : {int16_t{64 * 256 + 77}, int16_t{-100 * 256 - 200}}) {
    const Samples pcm(40000, level);
    const std::vector<uint8_t> out = Convert({44100, 1, 8}, pcm, 1000);
    EXPECT_EQ(Convert({44100, 1, 8}, pcm, 333), out);
    const double expected = 128 + level / 256.0;
    double sum = 0, squares = 0;
    for (uint8_t value : out) sum += value, squares += (value - expected) * (value - expected);
    EXPECT_NEAR(sum / static_cast<double>(out.size()), expected, 0.02);
    EXPECT_NEAR(squares / static_cast<double>(out.size()), 0.25, 0.02);
  }
}

TEST(PcmConverter, ResamplingKeepsDurationAndWaveformWhateverThePieces) {
  Samples pcm(2 * 44100);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(std::lrint(32767 * Sine(i, 44100)));
  const std::vector<uint8_t> bytes = Convert({32000, 2, 16}, pcm, 61152);
  EXPECT_EQ(Convert({32000, 2, 16}, pcm, 4098), bytes);
  Samples out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), bytes.size());
  EXPECT_NEAR(out.size() / 2.0, 32000, 1.0);
  // Sample-aligned with the source (the edges, where it starts and stops abruptly, left out).
  for (std::size_t i = out.size() / 20; i < out.size() * 19 / 20; ++i) {
    ASSERT_NEAR(out[i] / 32768.0, Sine(i, 32000), 3.0 / 32768) << "sample " << i;
  }
}

}  // namespace
