// The WAV writer with the track's WAV settings: rate, channels and sample size, ripped from
// the fake drive. The header must describe the data that follows it.
#include <bit>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "disc/cd_device.h"
#include "encoders/wav_writer.h"
#include "support/fake_drive.h"
#include "support/test_env.h"

namespace {

class RecordingHost : public RipHost {
 public:
  void PostProgress(TrackRecord& track) override {
    progress.push_back(track.status);
    if (stopAtFirstProgress) ripSettings.ripping = 0;
  }
  void PostFinished() override {}
  void ShowErrorBox(const std::string& text) override { errors.push_back(text); }

  std::vector<int32_t> progress;
  std::vector<std::string> errors;
  bool stopAtFirstProgress = false;
};

struct WavHeader {
  uint32_t riffSize, formatSize, sampleRate, byteRate, dataSize;
  uint16_t formatTag, channels, blockAlign, bitsPerSample;
};

uint32_t U32(const std::string& data, std::size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(data[at + i]);
  return value;
}
uint16_t U16(const std::string& data, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(data[at]) |
                               (static_cast<uint8_t>(data[at + 1]) << 8));
}

WavHeader ParseHeader(const std::string& file) {
  EXPECT_GE(file.size(), 44u);
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(file.substr(36, 4), "data");
  return WavHeader{U32(file, 4),  U32(file, 16), U32(file, 24), U32(file, 28), U32(file, 40),
                   U16(file, 20), U16(file, 22), U16(file, 32), U16(file, 34)};
}

class WavConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCdDevices({fake_});
    DriveRecord drive;
    drive.openRequest.size = sizeof(OpenRequest);
    drive.openRequest.version = 1;
    savedDrives_ = ripSettings.drives;
    ripSettings.drives = {drive};
    ripSettings.driveIndex = 0;
    ripSettings.ripping = 1;
  }
  void TearDown() override {
    ripSettings.ripping = 0;
    ripSettings.drives = savedDrives_;
    SetCdDevices({});
  }

  // Rips a track of `sectors` sectors with `settings`; the file's bytes.
  std::string Rip(const WavSettings& settings, uint32_t sectors) {
    fake_->SetTracks({{0, sectors}});
    track_.startSector = 0;
    track_.lengthSectors = sectors;
    track_.format = Wav;
    const auto words = std::bit_cast<std::array<uint32_t, 3>>(settings);
    track_.formatSettings = {};
    std::copy(words.begin(), words.end(), track_.formatSettings.begin());
    TrackBufferPtr buffer = AllocTrackBuffer(26);
    CaptureJob job{&track_, buffer.get(), dir_ / "track.wav"};
    RipTrackToWav(host_, job);
    return ReadFile(dir_ / "track.wav");
  }

  ScopedConfigHome config_;
  TempDir dir_;
  std::shared_ptr<FakeDrive> fake_ = std::make_shared<FakeDrive>();
  RecordingHost host_;
  TrackRecord track_;
  DriveList savedDrives_;
};

struct FormatCase {
  const char* name;
  WavSettings settings;
  uint32_t rate;
  uint16_t channels;
  uint16_t bits;
};
void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << c.name;
}

class WavConvertFormats : public WavConvert, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(WavConvertFormats, HeaderDescribesTheConvertedDataAndItsLength) {
  const FormatCase& c = GetParam();
  constexpr uint32_t kSectors = 75;  // one second
  const std::string file = Rip(c.settings, kSectors);
  EXPECT_EQ(track_.status, kStatusCompleted);
  EXPECT_TRUE(host_.errors.empty());

  const WavHeader header = ParseHeader(file);
  const uint16_t blockAlign = static_cast<uint16_t>(c.channels * c.bits / 8);
  EXPECT_EQ(header.formatSize, 16u);
  EXPECT_EQ(header.formatTag, 1u);
  EXPECT_EQ(header.channels, c.channels);
  EXPECT_EQ(header.sampleRate, c.rate);
  EXPECT_EQ(header.bitsPerSample, c.bits);
  EXPECT_EQ(header.blockAlign, blockAlign);
  EXPECT_EQ(header.byteRate, c.rate * blockAlign);
  EXPECT_EQ(header.dataSize, file.size() - 44);
  EXPECT_EQ(header.riffSize, header.dataSize + 36);
  EXPECT_EQ(header.dataSize % blockAlign, 0u);
  // One second in, one second out (the resampler may round by a frame).
  EXPECT_NEAR(static_cast<double>(header.dataSize / blockAlign), c.rate, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, WavConvertFormats,
                         ::testing::Values(FormatCase{"SameAsInput", {0, 1, 1}, 44100, 2, 16},
                                           FormatCase{"Rate32000", {1, 1, 1}, 32000, 2, 16},
                                           FormatCase{"Rate48000", {3, 1, 1}, 48000, 2, 16},
                                           FormatCase{"Mono", {0, 0, 1}, 44100, 1, 16},
                                           FormatCase{"EightBits", {2, 1, 0}, 44100, 2, 8},
                                           FormatCase{
                                               "MonoEightBits48000", {3, 0, 0}, 48000, 1, 8}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WavConvert, UnconvertedAudioIsBitIdenticalToTheDisc) {
  constexpr uint32_t kSectors = 40;
  for (int32_t rate : {0, 2}) {  // "Same as input" and "44100 Hz"
    const std::string file = Rip(WavSettings{rate, 1, 1}, kSectors);
    EXPECT_EQ(file.substr(44), FakeDrive::ExpectedAudio(0, kSectors)) << "rate choice " << rate;
  }
}

TEST_F(WavConvert, MonoIsTheRoundedAverageOfTheDiscsChannels) {
  constexpr uint32_t kSectors = 30;
  const std::string file = Rip(WavSettings{0, 0, 1}, kSectors);
  const std::string disc = FakeDrive::ExpectedAudio(0, kSectors);
  ASSERT_EQ(file.size() - 44, disc.size() / 2);
  for (std::size_t frame = 0; frame < disc.size() / 4; ++frame) {
    const auto left = static_cast<int16_t>(U16(disc, frame * 4));
    const auto right = static_cast<int16_t>(U16(disc, frame * 4 + 2));
    const auto expected = static_cast<int16_t>(std::lrint((left + right) / 2.0));
    ASSERT_EQ(static_cast<int16_t>(U16(file, 44 + frame * 2)), expected) << "frame " << frame;
  }
}

TEST_F(WavConvert, StopAfterTheFirstBlockLeavesAConsistentConvertedFile) {
  host_.stopAtFirstProgress = true;
  const std::string file = Rip(WavSettings{3, 0, 1}, 300);
  EXPECT_EQ(track_.status, kStatusStopped);
  const WavHeader header = ParseHeader(file);
  EXPECT_EQ(header.dataSize, file.size() - 44);
  EXPECT_EQ(header.riffSize, header.dataSize + 36);
  // The first block, 26 sectors, resampled to 48000 Hz in full.
  EXPECT_NEAR(header.dataSize / 2.0, 26 * 588 * 48000.0 / 44100.0, 1.0);
}

TEST_F(WavConvert, ZeroLengthTrackGivesAnEmptyConvertedFile) {
  const std::string file = Rip(WavSettings{1, 0, 0}, 0);
  EXPECT_EQ(track_.status, kStatusCompleted);
  ASSERT_EQ(file.size(), 44u);
  const WavHeader header = ParseHeader(file);
  EXPECT_EQ(header.dataSize, 0u);
  EXPECT_EQ(header.riffSize, 36u);
  EXPECT_EQ(header.sampleRate, 32000u);
  EXPECT_EQ(header.channels, 1u);
  EXPECT_EQ(header.bitsPerSample, 8u);
}

}  // namespace
