// The WAV writer on a scripted drive. Guards:
// - the header of each format: RIFF size, byte rate, block align (riff-size-field, wav-byte-rate)
// - the disc's own format is the drive's audio bit for bit; the others last as long
// (A read error or failed write cutting a WAV short: the fault table of test_fault_injection.)
#include "encoders/wav_writer.h"

#include <cstring>

#include <gtest/gtest.h>

#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

// The 44-byte header by hand: words after "RIFF", "WAVEfmt " and "data", 16-bit pairs sharing
// a word (the host is little-endian, like the file).
std::string Header(uint32_t dataSize, uint32_t rate, uint32_t channels, uint32_t bits) {
  const uint32_t align = channels * bits / 8;
  const uint32_t w[] = {dataSize + 36,      16,      1 | channels << 16, rate, rate * align,
                        align | bits << 16, dataSize};
  const auto words = [&](int from, int to) {
    return std::string(reinterpret_cast<const char*>(w + from), 4 * (to - from));
  };
  return "RIFF" + words(0, 1) + "WAVEfmt " + words(1, 6) + "data" + words(6, 7);
}

class WavWriter : public ::testing::Test {
 protected:
  // Rips a track of `sectors` sectors with `settings`; the file's bytes.
  std::string Rip(uint32_t sectors, const WavSettings& settings = {}) {
    drive_->SetTracks({{0, sectors, false}});
    SetCdDevices({drive_});
    PrepareRipSettings(dir_.path() + "/", Wav);
    ripSettings.ripping = 1;
    std::memcpy(track().formatSettings.data(), &settings, sizeof settings);
    auto buffer = AllocTrackBuffer(26);
    CaptureJob job{&track(), buffer.get(), dir_ / "t.wav"};
    RipTrackToWav(*host_, job);
    EXPECT_EQ(drive_->Closes(), drive_->Opens());
    return ReadFile(dir_ / "t.wav");
  }
  TrackRecord& track() { return ripSettings.tracks.at(0); }

  ScopedConfigHome config_;
  TempDir dir_;
  std::shared_ptr<FakeDrive> drive_ = std::make_shared<FakeDrive>();
  std::unique_ptr<RecordingHost> host_ = std::make_unique<RecordingHost>();
};

TEST_F(WavWriter, TheHeaderDescribesTheDataOfEachFormat) {
  const struct {
    WavSettings settings;
    uint32_t rate, channels, bits, sectors;
  } rows[] = {{{0, 1, 1}, 44100, 2, 16, 75}, {{1, 1, 1}, 32000, 2, 16, 75},
              {{3, 0, 1}, 48000, 1, 16, 75}, {{2, 1, 0}, 44100, 2, 8, 75},
              {{3, 0, 0}, 48000, 1, 8, 75},  {{1, 0, 0}, 32000, 1, 8, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.rate << " Hz, " << row.channels << "x" << row.bits);
    const std::string file = Rip(row.sectors, row.settings);
    EXPECT_EQ(track().status, kStatusCompleted);
    EXPECT_TRUE(host_->errors().empty());
    const auto dataSize = static_cast<uint32_t>(file.size() - 44);
    EXPECT_EQ(file.substr(0, 44), Header(dataSize, row.rate, row.channels, row.bits));
    // As long as the track, in whole frames (the resampler may round by one).
    const uint32_t align = row.channels * row.bits / 8;
    EXPECT_EQ(dataSize % align, 0u);
    EXPECT_NEAR(dataSize / align, row.sectors * 588.0 * row.rate / 44100, 1.0);
    const bool disc = row.rate == 44100 && align == 4;
    EXPECT_EQ(disc ? file.substr(44) : "", disc ? FakeDrive::ExpectedAudio(0, row.sectors) : "");
  }
}

}  // namespace
