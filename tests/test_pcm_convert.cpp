// Conversions of the disc's 44100 Hz 16-bit stereo audio: the formats the settings ask for,
// bit-exact pass-through, mixing to mono, 8-bit samples with dither, and resampling.
#include "encoders/pcm_convert.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr double kPi = std::numbers::pi;

std::vector<uint8_t> StereoPcm(const std::vector<std::pair<int16_t, int16_t>>& frames) {
  std::vector<uint8_t> pcm;
  for (const auto& [left, right] : frames) {
    for (int16_t sample : {left, right}) {
      const auto bits = static_cast<uint16_t>(sample);
      pcm.push_back(static_cast<uint8_t>(bits & 0xFF));
      pcm.push_back(static_cast<uint8_t>(bits >> 8));
    }
  }
  return pcm;
}

// `frames` frames of a sine in both channels (right at `rightHz`) as disc PCM.
std::vector<uint8_t> SinePcm(std::size_t frames, double leftHz, double rightHz,
                             double amplitude = 0.5) {
  std::vector<std::pair<int16_t, int16_t>> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / 44100.0;
    samples[i] = {
        static_cast<int16_t>(std::lrint(amplitude * 32767 * std::sin(2 * kPi * leftHz * t))),
        static_cast<int16_t>(std::lrint(amplitude * 32767 * std::sin(2 * kPi * rightHz * t)))};
  }
  return StereoPcm(samples);
}

std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] =
        static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
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

// --- de-interleaving ---

TEST(Deinterleave, ScalesByOneOver32768AndMixesMonoAsTheAverage) {
  const std::vector<uint8_t> pcm = StereoPcm({{32767, -32768}, {-1, 16384}, {100, 300}});
  std::vector<float> left(3), right(3), mono(3);
  float* stereo[2] = {left.data(), right.data()};
  DeinterleaveCdPcm(pcm.data(), 3, 2, stereo);
  EXPECT_EQ(left, (std::vector<float>{32767 / 32768.0f, -1 / 32768.0f, 100 / 32768.0f}));
  EXPECT_EQ(right, (std::vector<float>{-1.0f, 0.5f, 300 / 32768.0f}));
  float* single[1] = {mono.data()};
  DeinterleaveCdPcm(pcm.data(), 3, 1, single);
  EXPECT_EQ(mono, (std::vector<float>{-0.5f / 32768.0f, 16383 / 65536.0f, 200 / 32768.0f}));
}

// --- 16-bit output ---

TEST(Convert16, TheDiscsOwnFormatComesBackBitForBitWhateverThePieces) {
  const std::vector<uint8_t> pcm = SinePcm(5000, 440, 3000, 1.0);
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

// --- 8-bit output ---

TEST(Convert8, IsUnsignedWithinOneStepOfTheSourceAndClipsAtFullScale) {
  std::vector<std::pair<int16_t, int16_t>> frames;
  for (int v = -32768; v <= 32767; v += 97) {
    frames.push_back({static_cast<int16_t>(v), static_cast<int16_t>(-1 - v)});
  }
  const std::vector<uint8_t> out = ConvertInPieces({44100, 2, 8}, StereoPcm(frames), 4096);
  ASSERT_EQ(out.size(), frames.size() * 2);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    for (int c = 0; c < 2; ++c) {
      const double source = (c == 0 ? frames[i].first : frames[i].second) / 256.0 + 128;
      const int got = out[2 * i + static_cast<std::size_t>(c)];
      EXPECT_LE(std::abs(got - source), 1.5) << "frame " << i << " channel " << c;
    }
  }
  const std::vector<uint8_t> extremes =
      ConvertInPieces({44100, 1, 8}, StereoPcm({{32767, 32767}, {-32768, -32768}}), 8);
  EXPECT_GE(extremes[0], 254);
  EXPECT_LE(extremes[1], 1);
}

TEST(Convert8, DitherIsUnbiasedAndReproducible) {
  // A constant level between two 8-bit steps: plain rounding would always give the same
  // value; triangular dither spreads it so that the mean finds the level.
  constexpr int16_t kLevel = 64 * 256 + 77;  // 64.30 steps above silence
  const std::vector<std::pair<int16_t, int16_t>> frames(20000, {kLevel, kLevel});
  const std::vector<uint8_t> pcm = StereoPcm(frames);
  const std::vector<uint8_t> first = ConvertInPieces({44100, 1, 8}, pcm, 1000);
  const std::vector<uint8_t> second = ConvertInPieces({44100, 1, 8}, pcm, 333);
  EXPECT_EQ(first, second);
  double sum = 0;
  int low = 255, high = 0;
  for (uint8_t value : first) {
    sum += value;
    low = std::min<int>(low, value);
    high = std::max<int>(high, value);
  }
  EXPECT_NEAR(sum / static_cast<double>(first.size()), 128 + kLevel / 256.0, 0.02);
  EXPECT_GE(low, 191);
  EXPECT_LE(high, 194);
  EXPECT_LT(low, high);
}

TEST(TpdfDither, IsTriangularWithinOneStep) {
  TpdfDither dither;
  constexpr int kCount = 200000;
  double sum = 0, squares = 0;
  int nearZero = 0, nearEdge = 0;
  for (int i = 0; i < kCount; ++i) {
    const float value = dither.Next();
    ASSERT_GT(value, -1.0f);
    ASSERT_LT(value, 1.0f);
    sum += value;
    squares += value * value;
    nearZero += std::abs(value) < 0.1f ? 1 : 0;
    nearEdge += std::abs(value) > 0.9f ? 1 : 0;
  }
  EXPECT_NEAR(sum / kCount, 0.0, 0.01);
  EXPECT_NEAR(squares / kCount, 1.0 / 6.0, 0.005);  // two uniform values: 2 × 1/12
  // A triangle is 19 times as dense within 0.1 of the centre as within 0.1 of the edges.
  EXPECT_GT(nearZero, 10 * nearEdge);
}

// --- resampling ---

struct RateCase {
  uint32_t rate;
  uint16_t channels;
};
void PrintTo(const RateCase& c, std::ostream* os) {
  *os << c.rate << " Hz, " << c.channels;
}

class Resampled : public ::testing::TestWithParam<RateCase> {};

TEST_P(Resampled, KeepsTheDurationAndTheWaveform) {
  const RateCase& c = GetParam();
  constexpr double kLeftHz = 440, kRightHz = 1000, kAmplitude = 0.5;
  const std::vector<uint8_t> pcm = SinePcm(44100, kLeftHz, kRightHz, kAmplitude);
  const std::vector<int16_t> out = Samples16(ConvertInPieces({c.rate, c.channels, 16}, pcm, 61152));
  ASSERT_EQ(out.size() % c.channels, 0u);
  const std::size_t frames = out.size() / c.channels;
  EXPECT_NEAR(static_cast<double>(frames), c.rate, 1.0);

  // Sample-aligned with the source (the resampler's delay is taken out); the edges are left
  // out because the source starts and stops abruptly.
  double worst = 0;
  for (std::size_t i = frames / 20; i < frames - frames / 20; ++i) {
    const double t = static_cast<double>(i) / c.rate;
    const double left = kAmplitude * std::sin(2 * kPi * kLeftHz * t);
    const double right = kAmplitude * std::sin(2 * kPi * kRightHz * t);
    if (c.channels == 1) {
      worst = std::max(worst, std::abs(out[i] / 32768.0 - (left + right) / 2));
    } else {
      worst = std::max(worst, std::abs(out[2 * i] / 32768.0 - left));
      worst = std::max(worst, std::abs(out[2 * i + 1] / 32768.0 - right));
    }
  }
  EXPECT_LT(worst, 3.0 / 32768);
}

TEST_P(Resampled, OutputDoesNotDependOnHowTheInputIsSplit) {
  const RateCase& c = GetParam();
  const std::vector<uint8_t> pcm = SinePcm(30000, 523, 1760);
  const std::vector<uint8_t> whole = ConvertInPieces({c.rate, c.channels, 16}, pcm, pcm.size());
  EXPECT_EQ(ConvertInPieces({c.rate, c.channels, 16}, pcm, 4098), whole);
  EXPECT_EQ(ConvertInPieces({c.rate, c.channels, 16}, pcm, 61152), whole);
}

INSTANTIATE_TEST_SUITE_P(Cases, Resampled,
                         ::testing::Values(RateCase{32000, 2}, RateCase{48000, 2},
                                           RateCase{48000, 1}, RateCase{32000, 1}));

TEST(Resampled, EmptyInputGivesNothing) {
  EXPECT_TRUE(ConvertInPieces({48000, 2, 16}, {}, 4).empty());
}

TEST(PcmConverter, RefusesFormatsItCannotWrite) {
  PcmConverter converter;
  EXPECT_FALSE(converter.Init({44100, 0, 16}));
  EXPECT_FALSE(converter.Init({44100, 6, 16}));
  EXPECT_FALSE(converter.Init({44100, 2, 24}));
  EXPECT_FALSE(converter.Init({0, 2, 16}));
}

}  // namespace
