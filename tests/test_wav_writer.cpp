// The WAV writer on a scripted drive: the header, the audio as delivered, and what a stop,
// a read error or a full disk leaves on disk.
#include "encoders/wav_writer.h"

#include <signal.h>
#include <sys/resource.h>

#include <cstring>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

uint32_t U32At(const std::string& bytes, size_t at) {
  uint32_t v;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

// The header as the RIFF layout fixes it, byte for byte.
std::string CdHeader(uint32_t dataSize) {
  std::string h = "RIFF";
  auto u32 = [&](uint32_t v) { h.append(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { h.append(reinterpret_cast<const char*>(&v), 2); };
  u32(dataSize + 36);
  h += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(2);
  u32(44100);
  u32(176400);
  u16(4);
  u16(16);
  h += "data";
  u32(dataSize);
  return h;
}

class WavWriter : public ::testing::Test {
 protected:
  void UseTrack(uint32_t start, uint32_t length) {
    drive_->SetTracks({{start, length, false}});
    SetCdDevices({drive_});
    PrepareRipSettings(dir_.path() + "/", Wav);
    ripSettings.ripping = 1;
    tocOpens_ = drive_->OpenAttempts();  // the track-list build's own
  }
  TrackRecord& track() { return ripSettings.tracks.at(0); }
  void Run() {
    buffer_ = AllocTrackBuffer(26);
    job_ = CaptureJob{&track(), buffer_.get(), wav()};
    RipTrackToWav(host_, job_);
  }
  std::string wav() const { return dir_ / "t.wav"; }

  ScopedConfigHome config_;
  TempDir dir_;
  std::shared_ptr<FakeDrive> drive_ = std::make_shared<FakeDrive>();
  RecordingHost host_;
  TrackBufferPtr buffer_;
  CaptureJob job_;
  int tocOpens_ = 0;
};

TEST(WavHeader, LayoutAndNoFile) {
  TempDir dir;
  FILE* f = std::fopen((dir / "h.wav").c_str(), "wb+");
  ASSERT_TRUE(WriteWavHeader(f, 23520));
  std::fclose(f);
  EXPECT_EQ(ReadFile(dir / "h.wav"), CdHeader(23520));
  EXPECT_FALSE(WriteWavHeader(nullptr, 0));
}

TEST_F(WavWriter, AudioFollowsTheHeaderUnchangedWithProgressTo100) {
  UseTrack(1000, 260);
  WriteFile(wav(), std::string(100000, 'x'));  // replaced without a question
  Run();
  EXPECT_EQ(ReadFile(wav()), CdHeader(260 * 2352) + FakeDrive::ExpectedAudio(1000, 260));
  EXPECT_EQ(track().status, kStatusCompleted);
  EXPECT_EQ(host_.ProgressOf(0), (std::vector<int32_t>{0, 50, 100}));
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
}

TEST_F(WavWriter, TenSectorsAndZeroSectors) {
  UseTrack(0, 10);
  Run();
  EXPECT_EQ(ReadFile(wav()).size(), 44u + 10 * 2352);
  EXPECT_EQ(U32At(ReadFile(wav()), 4), 10u * 2352 + 36);

  drive_->SetTracks({{0, 0, false}, {0, 10, false}});
  PrepareRipSettings(dir_.path() + "/", Wav);
  ripSettings.ripping = 1;
  RecordingHost host;
  auto buffer = AllocTrackBuffer(26);
  CaptureJob job{&ripSettings.tracks.at(0), buffer.get(), wav()};
  RipTrackToWav(host, job);
  EXPECT_EQ(ReadFile(wav()), CdHeader(0));
  EXPECT_EQ(ripSettings.tracks[0].status, kStatusCompleted);
  EXPECT_EQ(host.ProgressOf(0), (std::vector<int32_t>{100}));
}

TEST_F(WavWriter, StopAfterTheFirstBlockLeavesAValidShortFile) {
  UseTrack(0, 300);
  drive_->BlockReadAt(0);
  std::thread worker([&] { Run(); });
  ASSERT_TRUE(drive_->WaitUntilBlocked());
  ripSettings.ripping = 0;
  drive_->ReleaseRead();
  worker.join();
  EXPECT_EQ(track().status, kStatusStopped);
  EXPECT_EQ(ReadFile(wav()), CdHeader(26 * 2352) + FakeDrive::ExpectedAudio(0, 26));
}

TEST_F(WavWriter, AReadErrorKeepsAValidFileButEndsInError) {
  UseTrack(0, 100);
  drive_->FailAlways(78);
  Run();
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Error at frame 78 (3:4)"}));
  EXPECT_EQ(track().status, kStatusError);
  EXPECT_EQ(ReadFile(wav()), CdHeader(78 * 2352) + FakeDrive::ExpectedAudio(0, 78));
  EXPECT_EQ(host_.ProgressOf(0).back(), kStatusError);
}

TEST_F(WavWriter, AFileThatCannotBeCreated) {
  UseTrack(0, 100);
  buffer_ = AllocTrackBuffer(26);
  job_ = CaptureJob{&track(), buffer_.get(), dir_ / "missing/t.wav"};
  RipTrackToWav(host_, job_);
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Cannot create output file"}));
  EXPECT_EQ(track().status, kStatusError);
  EXPECT_EQ(host_.ProgressOf(0), (std::vector<int32_t>{kStatusError}));
  EXPECT_EQ(drive_->OpenAttempts(), tocOpens_);
}

TEST_F(WavWriter, AWriteFailureEndsInErrorNotCompleted) {
  UseTrack(0, 400);
  {
    ScopedFileSizeLimit full(100000);
    Run();
  }
  EXPECT_EQ(track().status, kStatusError);
  ASSERT_FALSE(host_.errors().empty());
  EXPECT_EQ(host_.errors().back(), "Cannot write output file");
  EXPECT_EQ(host_.errors().size(), 1u);
}

}  // namespace
