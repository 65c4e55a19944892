// The WAV writer on a scripted drive. Guards:
// - the header per format: RIFF size, byte rate, block align, sizes (riff-size-field,
// wav-byte-rate)
// - the disc's own format is the drive's audio bit for bit; other formats last as long
// - a stop or a read error: a valid shorter file, Stopped or ERROR
// - a failed write: ERROR, not Completed, one message, and a header that claims only the whole
//   frames on disk (wav-write-failure-completed, wav-partial-frames-kept)
#include "encoders/wav_writer.h"

#include <cstring>
#include <optional>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

// The 44-byte header as the RIFF layout fixes it.
std::string Header(uint32_t dataSize, uint32_t rate, uint16_t channels, uint16_t bits) {
  std::string h;
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) h += static_cast<char>(v >> (8 * i));
  };
  const uint16_t blockAlign = static_cast<uint16_t>(channels * bits / 8);
  h += "RIFF";
  put(dataSize + 36, 4);
  h += "WAVEfmt ";
  put(16, 4);
  put(1, 2);
  put(channels, 2);
  put(rate, 4);
  put(rate * blockAlign, 4);
  put(blockAlign, 2);
  put(bits, 2);
  h += "data";
  put(dataSize, 4);
  return h;
}

// Stops the rip at its first progress message, that is once the first block is read.
class StoppingHost : public RecordingHost {
  void PostProgress(TrackRecord& track) override {
    RecordingHost::PostProgress(track);
    ripSettings.ripping = 0;
  }
};

class WavWriter : public ::testing::Test {
 protected:
  // Rips a track of `sectors` sectors with `settings`; the file's bytes.
  std::string Rip(uint32_t sectors, const WavSettings& settings = {}) {
    drive_->SetTracks({{0, sectors, false}});
    SetCdDevices({drive_});
    PrepareRipSettings(dir_.path() + "/", Wav);
    ripSettings.ripping = 1;
    TrackRecord& track = ripSettings.tracks.at(0);
    track.formatSettings = {};
    std::memcpy(track.formatSettings.data(), &settings, sizeof settings);
    auto buffer = AllocTrackBuffer(26);
    CaptureJob job{&track, buffer.get(), dir_ / "t.wav"};
    RipTrackToWav(*host_, job);
    EXPECT_EQ(drive_->Closes(), drive_->Opens());
    return ReadFile(dir_ / "t.wav");
  }
  int32_t status() const { return ripSettings.tracks.at(0).status; }

  ScopedConfigHome config_;
  TempDir dir_;
  std::shared_ptr<FakeDrive> drive_ = std::make_shared<FakeDrive>();
  std::unique_ptr<RecordingHost> host_ = std::make_unique<RecordingHost>();
};

TEST_F(WavWriter, HeaderDescribesTheDataInEveryFormat) {
  const struct {
    const char* name;
    WavSettings settings;
    uint32_t rate;
    uint16_t channels, bits;
    uint32_t sectors;
  } rows[] = {
      {"same as input", {0, 1, 1}, 44100, 2, 16, 75},
      {"44100 Hz", {2, 1, 1}, 44100, 2, 16, 40},
      {"32000 Hz", {1, 1, 1}, 32000, 2, 16, 75},
      {"mono 48000 Hz", {3, 0, 1}, 48000, 1, 16, 75},
      {"8 bits", {2, 1, 0}, 44100, 2, 8, 75},
      {"mono 8 bits", {3, 0, 0}, 48000, 1, 8, 75},
      {"empty mono 8 bits", {1, 0, 0}, 32000, 1, 8, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string file = Rip(row.sectors, row.settings);
    EXPECT_EQ(status(), kStatusCompleted);
    EXPECT_TRUE(host_->errors().empty());
    ASSERT_GE(file.size(), 44u);
    const auto dataSize = static_cast<uint32_t>(file.size() - 44);
    EXPECT_EQ(file.substr(0, 44), Header(dataSize, row.rate, row.channels, row.bits));
    const uint32_t blockAlign = row.channels * row.bits / 8u;
    EXPECT_EQ(dataSize % blockAlign, 0u);
    // As long as the track (the resampler may round by a frame).
    EXPECT_NEAR(dataSize / blockAlign, row.sectors * 588.0 * row.rate / 44100, 1.0);
    if (row.rate == 44100 && row.channels == 2 && row.bits == 16) {
      EXPECT_EQ(file.substr(44), FakeDrive::ExpectedAudio(0, row.sectors));
    }
  }
}

// A rip cut short keeps a valid WAV of the disc's audio up to the cut.
TEST_F(WavWriter, ACutShortRipKeepsAValidPrefix) {
  enum Cut { kStop, kReadError, kSizeLimit };
  const struct {
    const char* name;
    Cut cut;
    int32_t status;
    uint32_t dataSize;
    std::vector<std::string> errors;  // the capture reports the read error, the writer the rest
  } rows[] = {
      {"stop after the first block", kStop, kStatusStopped, 26 * 2352, {}},
      {"read error", kReadError, kStatusError, 78 * 2352, {"Error at frame 78 (3:4)"}},
      // The limit cuts a frame: the header claims only the whole frames before it.
      {"size limit", kSizeLimit, kStatusError, (100001 - 44) / 4 * 4, {"Cannot write output file"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host_ = row.cut == kStop ? std::make_unique<StoppingHost>() : std::make_unique<RecordingHost>();
    drive_ = std::make_shared<FakeDrive>();
    if (row.cut == kReadError) drive_->FailAlways(78);
    std::optional<ScopedFileSizeLimit> limit;
    if (row.cut == kSizeLimit) limit.emplace(100001);
    const std::string file = Rip(300);
    limit.reset();
    EXPECT_EQ(status(), row.status);
    EXPECT_EQ(host_->errors(), row.errors);
    EXPECT_EQ(file, Header(row.dataSize, 44100, 2, 16) +
                        FakeDrive::ExpectedAudio(0, 300).substr(0, row.dataSize));
  }
}

}  // namespace
