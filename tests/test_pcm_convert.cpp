// Conversions of the disc's 44100 Hz 16-bit stereo audio: bit-exact pass-through, mixing to
// mono, 8-bit samples with dither, and resampling.
#include "encoders/pcm_convert.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> StereoPcm(const std::vector<std::pair<int16_t, int16_t>>& frames) {
  std::vector<uint8_t> pcm;
  for (const auto& [left, right] : frames) {
    for (const auto bits : {static_cast<uint16_t>(left), static_cast<uint16_t>(right)}) {
      pcm.push_back(static_cast<uint8_t>(bits & 0xFF));
      pcm.push_back(static_cast<uint8_t>(bits >> 8));
    }
  }
  return pcm;
}

double Sine(double hz, std::size_t i, double rate) {
  return 0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
}

// `frames` frames of disc PCM: 440 Hz on the left, 1000 Hz on the right, at half scale.
std::vector<uint8_t> SinePcm(std::size_t frames) {
  std::vector<std::pair<int16_t, int16_t>> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    samples[i] = {static_cast<int16_t>(std::lrint(32767 * Sine(440, i, 44100))),
                  static_cast<int16_t>(std::lrint(32767 * Sine(1000, i, 44100)))};
  }
  return StereoPcm(samples);
}

std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

// Converts `pcm` handed over in pieces of `piece` bytes, then finishes.
std::vector<uint8_t> ConvertInPieces(const PcmFormat& target, const std::vector<uint8_t>& pcm,
                                     std::size_t piece) {
  PcmConverter converter;
  EXPECT_TRUE(converter.Init(target));
  std::vector<uint8_t> out;
  for (std::size_t at = 0; at < pcm.size(); at += piece) {
    EXPECT_TRUE(converter.Convert(pcm.data() + at, std::min(piece, pcm.size() - at), out));
  }
  EXPECT_TRUE(converter.Finish(out));
  return out;
}

TEST(Convert16, TheDiscsOwnFormatComesBackBitForBitWhateverThePieces) {
  std::vector<uint8_t> pcm = SinePcm(5000);
  const std::vector<uint8_t> extremes = StereoPcm({{32767, -32768}, {-32768, 32767}, {-1, 1}});
  pcm.insert(pcm.end(), extremes.begin(), extremes.end());
  for (std::size_t piece : {1u, 3u, 4u, 4097u, 100000u}) {
    EXPECT_EQ(ConvertInPieces(kCdPcmFormat, pcm, piece), pcm) << "piece " << piece;
  }
}

TEST(Convert16, MonoIsTheRoundedAverageOfBothChannels) {
  // Halves round to the even neighbour; the extremes stay in range.
  const std::vector<uint8_t> pcm = StereoPcm(
      {{3, 4}, {1, 2}, {-3, -4}, {32767, 32767}, {-32768, -32768}, {32767, -32768}, {1000, -1000}});
  EXPECT_EQ(Samples16(ConvertInPieces({44100, 1, 16}, pcm, 7)),
            (std::vector<int16_t>{4, 2, -4, 32767, -32768, 0, 0}));
}

TEST(Convert8, IsUnsignedWithinOneStepOfTheSourceAndClipsAtFullScale) {
  std::vector<std::pair<int16_t, int16_t>> frames;
  for (int v = -32768; v <= 32767; v += 97) {
    frames.push_back({static_cast<int16_t>(v), static_cast<int16_t>(-1 - v)});
  }
  const std::vector<uint8_t> out = ConvertInPieces({44100, 2, 8}, StereoPcm(frames), 4096);
  ASSERT_EQ(out.size(), frames.size() * 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto& [left, right] = frames[i / 2];
    EXPECT_LE(std::abs(out[i] - ((i % 2 ? right : left) / 256.0 + 128)), 1.5) << "sample " << i;
  }
  const std::vector<uint8_t> extremes =
      ConvertInPieces({44100, 1, 8}, StereoPcm({{32767, 32767}, {-32768, -32768}}), 8);
  EXPECT_GE(extremes[0], 254);
  EXPECT_LE(extremes[1], 1);
}

TEST(Convert8, DitherIsTriangularUnbiasedAndReproducible) {
  // A constant level between two 8-bit steps: plain rounding would always give the same
  // value; triangular dither spreads it so that the mean finds the level, and makes the
  // error power a quarter step squared whatever the level (rectangular dither would not).
  constexpr int16_t kLevel = 64 * 256 + 77;  // 64.30 steps above silence
  const std::vector<uint8_t> pcm = StereoPcm(std::vector(20000, std::pair{kLevel, kLevel}));
  const std::vector<uint8_t> out = ConvertInPieces({44100, 1, 8}, pcm, 1000);
  EXPECT_EQ(ConvertInPieces({44100, 1, 8}, pcm, 333), out);
  const double level = 128 + kLevel / 256.0;
  double sum = 0, squares = 0;
  for (uint8_t value : out) {
    ASSERT_GE(value, 191);
    ASSERT_LE(value, 194);
    sum += value;
    squares += (value - level) * (value - level);
  }
  EXPECT_NEAR(sum / static_cast<double>(out.size()), level, 0.02);
  EXPECT_NEAR(squares / static_cast<double>(out.size()), 0.25, 0.02);
}

class Resampled : public ::testing::TestWithParam<PcmFormat> {};

TEST_P(Resampled, KeepsTheDurationAndTheWaveformWhateverThePieces) {
  const PcmFormat& format = GetParam();
  const std::vector<uint8_t> pcm = SinePcm(44100);
  const std::vector<uint8_t> bytes = ConvertInPieces(format, pcm, 61152);
  for (std::size_t piece : {4098ul, pcm.size()})
    EXPECT_EQ(ConvertInPieces(format, pcm, piece), bytes);
  const std::vector<int16_t> out = Samples16(bytes);
  ASSERT_EQ(out.size() % format.channels, 0u);
  const std::size_t frames = out.size() / format.channels;
  EXPECT_NEAR(static_cast<double>(frames), format.sampleRate, 1.0);

  // Sample-aligned with the source (the resampler's delay is taken out); the edges are left
  // out because the source starts and stops abruptly.
  double worst = 0;
  for (std::size_t i = frames / 20; i < frames - frames / 20; ++i) {
    const double left = Sine(440, i, format.sampleRate), right = Sine(1000, i, format.sampleRate);
    if (format.channels == 1) {
      worst = std::max(worst, std::abs(out[i] / 32768.0 - (left + right) / 2));
    } else {
      worst = std::max(worst, std::abs(out[2 * i] / 32768.0 - left));
      worst = std::max(worst, std::abs(out[2 * i + 1] / 32768.0 - right));
    }
  }
  EXPECT_LT(worst, 3.0 / 32768);
}

INSTANTIATE_TEST_SUITE_P(Cases, Resampled,
                         ::testing::Values(PcmFormat{32000, 2, 16}, PcmFormat{48000, 2, 16},
                                           PcmFormat{48000, 1, 16}, PcmFormat{32000, 1, 16}));

TEST(PcmConverter, RefusesFormatsItCannotWriteAndMakesNothingOfNothing) {
  PcmConverter converter;
  for (const PcmFormat format : {PcmFormat{44100, 0, 16}, PcmFormat{44100, 6, 16},
                                 PcmFormat{44100, 2, 24}, PcmFormat{0, 2, 16}}) {
    EXPECT_FALSE(converter.Init(format)) << format.sampleRate << " " << format.channels;
  }
  EXPECT_TRUE(ConvertInPieces({48000, 2, 16}, {}, 4).empty());
}

}  // namespace
