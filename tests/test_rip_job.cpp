// The rip job on a scripted drive: the walk over the ticked tracks, the temporary file, the
// messages, and stopping at every moment a user can press Stop.
#include "rip/rip_job.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "rip/rip_status.h"
#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

class RipJobTest : public ::testing::Test {
 protected:
  // `lengths` audio tracks back to back from sector 0, all ticked.
  void UseDisc(const std::vector<uint32_t>& lengths, int32_t format) {
    std::vector<FakeTrack> tracks;
    uint32_t start = 0;
    for (uint32_t length : lengths) {
      tracks.push_back({start, length, false});
      start += length;
    }
    drive_->SetTracks(tracks);
    SetCdDevices({drive_});
    PrepareRipSettings(folder(), format);
    ripSettings.discAlbum = "Album";
  }
  std::string folder() const { return dir_.path() + "/"; }
  std::string wavOf(int position) const {
    char name[64];
    std::snprintf(name, sizeof name, "Album/-Track %02d.wav", position + 1);
    return dir_ / name;
  }
  int32_t statusOf(size_t position) const { return ripSettings.tracks.at(position).status; }
  void TearDown() override {
    StopRipJob();  // never leave a worker behind, whatever the test did
  }

  ScopedConfigHome config_;
  TempDir dir_;
  std::shared_ptr<FakeDrive> drive_ = std::make_shared<FakeDrive>();
  RecordingHost host_;
};

TEST_F(RipJobTest, WalksTickedTracksInListOrderAndLeavesOthersAlone) {
  UseDisc({30, 30, 30, 30, 30, 30, 30, 30}, Wav);
  for (TrackRecord& t : ripSettings.tracks) {
    t.checked = 0;
    t.status = 42;
  }
  ripSettings.tracks[1].checked = 1;
  ripSettings.tracks[4].checked = 1;
  StartRipJob(host_);
  ASSERT_TRUE(host_.WaitFinished());
  JoinRipJob();
  EXPECT_EQ(host_.currentTracks(), (std::vector<int32_t>{1, 4}));
  EXPECT_EQ(host_.startedFiles(), (std::vector<std::string>{wavOf(1), wavOf(4)}));
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(statusOf(i), i == 1 || i == 4 ? kStatusCompleted : 42) << i;
  }
  EXPECT_EQ(ReadFile(wavOf(4)).substr(44), FakeDrive::ExpectedAudio(120, 30));
  EXPECT_EQ(host_.finishedCount(), 1);
  EXPECT_TRUE(host_.finishedAfterFlag());
  EXPECT_EQ(ripFinished, 1);
  EXPECT_EQ(ripSettings.ripping, 0);
}

TEST_F(RipJobTest, ExitCodesOfTheWorkerBody) {
  UseDisc({30, 30}, Wav);
  ripSettings.ripping = 1;
  EXPECT_EQ(RipJob(host_), kRipJobWalked);
  ripSettings.ripping = 0;  // a stop request before the first track
  EXPECT_EQ(RipJob(host_), kRipJobStopped);
  EXPECT_EQ(statusOf(0), kStatusStopped);
  EXPECT_EQ(statusOf(1), kStatusCompleted);  // from the first run: not visited again
}

TEST_F(RipJobTest, TemporaryFileLivesInTheOutputFolder) {
  UseDisc({30}, Wav);
  ripSettings.outputPath = "/music/";
  EXPECT_EQ(TempPcmPath(), "/music/cddatmp001.pcm");
  ripSettings.outputPath = "";
  EXPECT_EQ(TempPcmPath(), "./cddatmp001.pcm");
  ripSettings.outputFolderOverride = "/run/";
  EXPECT_EQ(TempPcmPath(), "/run/cddatmp001.pcm");
}

TEST_F(RipJobTest, StopRightAfterStartEndsEveryTrackStopped) {
  UseDisc({3000, 3000, 3000}, Wav);
  StartRipJob(host_);
  StopRipJob();
  EXPECT_EQ(ripFinished, 1);
  EXPECT_EQ(host_.finishedCount(), 1);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(statusOf(i), kStatusStopped) << i;
  EXPECT_EQ(drive_->Opens(), drive_->Closes());
}

TEST_F(RipJobTest, StopWhileTheSecondOfFourIsReadLeavesTheRestUntouched) {
  UseDisc({60, 300, 60, 60}, Wav);
  drive_->BlockReadAt(60 + 26);
  StartRipJob(host_);
  ASSERT_TRUE(drive_->WaitUntilBlocked());
  ripSettings.ripping = 0;  // StopRipJob's first step, taken while the read is held
  drive_->ReleaseRead();
  StopRipJob();
  EXPECT_EQ(statusOf(0), kStatusCompleted);
  EXPECT_EQ(statusOf(1), kStatusStopped);
  EXPECT_EQ(statusOf(2), kStatusStopped);
  EXPECT_EQ(statusOf(3), kStatusStopped);
  EXPECT_FALSE(FileExists(wavOf(2)));
  EXPECT_FALSE(FileExists(wavOf(3)));
  // The stopped track's file is a valid WAV of the two blocks read.
  const std::string wav = ReadFile(wavOf(1));
  EXPECT_EQ(wav.size(), 44u + 52 * 2352);
  // The rows of tracks 3 and 4 are not refreshed by any message.
  EXPECT_TRUE(host_.ProgressOf(2).empty());
  EXPECT_TRUE(host_.ProgressOf(3).empty());
  EXPECT_EQ(host_.finishedCount(), 1);
}

TEST_F(RipJobTest, StopWhileTheWorkerWaitsInAnErrorBoxDoesNotHang) {
  UseDisc({100, 100}, Wav);
  drive_->FailAlways(26);
  host_.HoldErrorBoxes();
  StartRipJob(host_);
  ASSERT_TRUE(host_.WaitForErrorBox());
  StopRipJob();
  EXPECT_EQ(statusOf(0), kStatusStopped);
  EXPECT_EQ(statusOf(1), kStatusStopped);
  EXPECT_FALSE(FileExists(wavOf(1)));
  EXPECT_EQ(host_.finishedCount(), 1);
}

TEST_F(RipJobTest, StopAfterTheLastTrackKeepsTheResults) {
  UseDisc({30, 30}, Wav);
  StartRipJob(host_);
  ASSERT_TRUE(host_.WaitFinished());
  StopRipJob();
  EXPECT_EQ(statusOf(0), kStatusCompleted);
  EXPECT_EQ(statusOf(1), kStatusCompleted);
  EXPECT_EQ(host_.finishedCount(), 1);
  StopRipJob();  // idle: nothing to wait for
}

TEST_F(RipJobTest, StartWhileRunningStartsNoSecondWorker) {
  UseDisc({200, 30}, Wav);
  drive_->BlockReadAt(0);
  StartRipJob(host_);
  ASSERT_TRUE(drive_->WaitUntilBlocked());
  StartRipJob(host_);
  drive_->ReleaseRead();
  ASSERT_TRUE(host_.WaitFinished());
  JoinRipJob();
  EXPECT_EQ(host_.startedFiles().size(), 2u);
  EXPECT_EQ(host_.finishedCount(), 1);
  EXPECT_EQ(drive_->Reads().size(), 8u + 2u);
}

TEST_F(RipJobTest, ACaptureThatCannotCreateTheTemporaryFileEncodesNothing) {
  UseDisc({60}, Ogg);
  // A stale temporary name that cannot be opened for writing (a folder of that name).
  ASSERT_EQ(mkdir((dir_ / "cddatmp001.pcm").c_str(), 0700), 0);
  ripSettings.ripping = 1;
  RipJob(host_);
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Cannot create output file"}));
  EXPECT_EQ(statusOf(0), kStatusError);
  EXPECT_FALSE(FileExists(dir_ / "Album/-Track 01.ogg"));
  EXPECT_EQ(drive_->OpenAttempts(), 1);  // the track-list build only
}

TEST_F(RipJobTest, ACaptureThatCannotWriteLeavesNoTemporaryFileAndEncodesNothing) {
  UseDisc({400}, Ogg);
  ripSettings.ripping = 1;
  {
    ScopedFileSizeLimit full(100000);
    RipJob(host_);
  }
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Cannot write output file"}));
  EXPECT_EQ(statusOf(0), kStatusError);
  EXPECT_FALSE(FileExists(dir_ / "cddatmp001.pcm"));
  EXPECT_FALSE(FileExists(dir_ / "Album/-Track 01.ogg"));
}

TEST_F(RipJobTest, MissingEncoderLibrarySkipsEveryMp3TrackWithItsMessage) {
  // Test programs have no liblame_enc.so beside them, so the bare-name load fails.
  UseDisc({30, 30}, Mp3);
  StartRipJob(host_);
  ASSERT_TRUE(host_.WaitFinished());
  JoinRipJob();
  const auto errors = host_.errors();
  ASSERT_EQ(errors.size(), 2u);
  for (const auto& e : errors) {
    EXPECT_EQ(e.rfind("Error loading LAME encoder dll\n", 0), 0u) << e;
  }
  EXPECT_EQ(statusOf(0), kStatusPending);
  EXPECT_EQ(statusOf(1), kStatusPending);
  EXPECT_TRUE(host_.progress().empty());
  EXPECT_EQ(host_.finishedCount(), 1);
  EXPECT_EQ(drive_->OpenAttempts(), 1);  // only the track-list build
}

}  // namespace
