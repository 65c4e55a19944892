// The capture loop (raw PCM) on a scripted drive: block sizes, retries, progress, delivery
// with an offset, stops, and what a failure leaves in the file.
#include "rip/capture.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

class Capture : public ::testing::Test {
 protected:
  // One audio track of `length` sectors starting at sector 0.
  void UseTrack(uint32_t length) {
    drive_->SetTracks({{0, length, false}});
    SetCdDevices({drive_});
    PrepareRipSettings(dir_.path() + "/", Mp3);
    ripSettings.ripping = 1;
    tocOpens_ = drive_->OpenAttempts();  // the track-list build's own
  }
  int CaptureOpens() const { return drive_->OpenAttempts() - tocOpens_; }
  TrackRecord& track() { return ripSettings.tracks.at(0); }

  void Run() {
    buffer_ = AllocTrackBuffer(26);
    ASSERT_TRUE(buffer_);
    job_ = CaptureJob{&track(), buffer_.get(), pcm()};
    CaptureTrackToPcm(host_, job_);
  }
  std::string pcm() const { return dir_ / "cddatmp001.pcm"; }

  ScopedConfigHome config_;
  TempDir dir_;
  std::shared_ptr<FakeDrive> drive_ = std::make_shared<FakeDrive>();
  RecordingHost host_;
  TrackBufferPtr buffer_;
  CaptureJob job_;
  int tocOpens_ = 0;
};

TEST_F(Capture, ReadsInBlocksOf26AndPostsProgressBeforeEveryFifthBlock) {
  UseTrack(260);
  Run();
  // Progress before blocks 0 and 5 (0 and 15 on the 0..30 scale), then the final message.
  EXPECT_EQ(host_.ProgressOf(0), (std::vector<int32_t>{0, 15, 15}));
  EXPECT_EQ(track().status, 15);
  const auto reads = drive_->Reads();
  ASSERT_EQ(reads.size(), 10u);
  for (size_t i = 0; i < reads.size(); ++i) {
    EXPECT_EQ(reads[i].start, 26 * i);
    EXPECT_EQ(reads[i].count, 26u);
  }
  EXPECT_EQ(ReadFile(pcm()), FakeDrive::ExpectedAudio(0, 260));
  EXPECT_EQ(CaptureOpens(), 1);
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
  EXPECT_EQ(drive_->OptionsSet(), (std::vector<std::pair<int, uint32_t>>{{37, 3}, {38, 1}}));
  EXPECT_TRUE(host_.errors().empty());
}

TEST_F(Capture, ShortTrackAndEmptyTrack) {
  UseTrack(27);
  Run();
  EXPECT_EQ(host_.ProgressOf(0), (std::vector<int32_t>{0, 0}));
  const auto reads = drive_->Reads();
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[1].start, 26u);
  EXPECT_EQ(reads[1].count, 1u);
  EXPECT_EQ(ReadFile(pcm()), FakeDrive::ExpectedAudio(0, 27));

  RecordingHost emptyHost;
  drive_->SetTracks({{0, 0, false}, {0, 75, false}});
  PrepareRipSettings(dir_.path() + "/", Mp3);
  ripSettings.ripping = 1;
  auto buffer = AllocTrackBuffer(26);
  CaptureJob job{&ripSettings.tracks.at(0), buffer.get(), pcm()};
  CaptureTrackToPcm(emptyHost, job);
  EXPECT_TRUE(FileExists(pcm()));
  EXPECT_EQ(ReadFile(pcm()), "");
  EXPECT_EQ(emptyHost.ProgressOf(0), (std::vector<int32_t>{0}));
  EXPECT_EQ(ripSettings.tracks[0].status, 0);
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
  EXPECT_EQ(CaptureOpens(), 3);  // both captures and the second list build
}

TEST_F(Capture, AFailedAttemptIsRetriedSilently) {
  UseTrack(60);
  drive_->FailAttempts(26, 1, 2);
  Run();
  EXPECT_TRUE(host_.errors().empty());
  EXPECT_FALSE(job_.captureFailed);
  EXPECT_EQ(ReadFile(pcm()), FakeDrive::ExpectedAudio(0, 60));
}

TEST_F(Capture, ThreeFailedAttemptsEndTheCaptureWithTheFrameInTheMessage) {
  UseTrack(100);
  drive_->FailAlways(52, kCdErrRead, kAspiError);
  Run();
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Error at frame 52 (3:4)"}));
  EXPECT_TRUE(job_.captureFailed);
  // Every block before the failing one, nothing after it.
  EXPECT_EQ(ReadFile(pcm()), FakeDrive::ExpectedAudio(0, 52));
  // Three calls, each with the three extra attempts option 37 asks the library for.
  EXPECT_EQ(drive_->Reads().size(), 2u + 3u * 4u);
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
  EXPECT_EQ(track().status, 0);  // the last progress value stays
}

TEST_F(Capture, DeliveryWithAnOffsetWritesExactlyTheDeliveredBytes) {
  UseTrack(52);
  drive_->DeliverShifted(26, 4, 4);
  Run();
  const std::string expected =
      FakeDrive::ExpectedAudio(0, 26) + FakeDrive::ExpectedAudio(26, 26).substr(0, 26 * 2352 - 4);
  EXPECT_EQ(ReadFile(pcm()), expected);
}

TEST_F(Capture, StopBetweenBlocksClosesDriveAndFile) {
  UseTrack(200);
  drive_->BlockReadAt(26);
  std::thread worker([&] { Run(); });
  ASSERT_TRUE(drive_->WaitUntilBlocked());
  ripSettings.ripping = 0;
  drive_->ReleaseRead();
  worker.join();
  EXPECT_EQ(track().status, kStatusStopped);
  EXPECT_EQ(drive_->Reads().size(), 2u);  // no read after the stop
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
  EXPECT_EQ(ReadFile(pcm()), FakeDrive::ExpectedAudio(0, 52));
}

TEST_F(Capture, ADriveThatDoesNotOpenFailsTheFirstRead) {
  UseTrack(100);
  drive_->SetCannotOpen(true);
  Run();
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Error at frame 0 (1:130)"}));
  EXPECT_EQ(ReadFile(pcm()), "");
}

TEST_F(Capture, AFileThatCannotBeCreatedLeavesTheDriveAlone) {
  UseTrack(100);
  buffer_ = AllocTrackBuffer(26);
  job_ = CaptureJob{&track(), buffer_.get(), dir_ / "no/such/folder/x.pcm"};
  CaptureTrackToPcm(host_, job_);
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Cannot create output file"}));
  EXPECT_EQ(track().status, kStatusError);
  EXPECT_EQ(host_.ProgressOf(0), (std::vector<int32_t>{kStatusError}));
  EXPECT_EQ(CaptureOpens(), 0);
  EXPECT_FALSE(job_.fileCreated);
}

}  // namespace
