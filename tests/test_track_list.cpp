// The track list built from a drive's TOC, on scripted drives (including malformed TOCs) and
// the drive list.
#include "disc/track_list.h"

#include <cstring>

#include <gtest/gtest.h>

#include "support/fake_drive.h"
#include "support/test_env.h"

namespace {

// Records what the track-list build asks of the window.
class FakeListHost : public TrackListHost {
 public:
  bool NoDiscShown() const override { return noDiscShown; }
  void SetNoDiscShown(bool shown) override { noDiscShown = shown; }
  bool PlayRequested() const override { return playRequested; }
  void DeleteAllRows() override { ++rowDeletions; }
  bool noDiscShown = false;
  bool playRequested = false;
  int rowDeletions = 0;
};

class TrackListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.outputFormat = Mp3;
    SetCdDevices({drive_});
    ASSERT_EQ(EnumerateCdDrives(settings_), 1);
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> titles;
    for (const auto& t : settings_.tracks) titles.push_back(t.title);
    return titles;
  }

  std::shared_ptr<FakeDrive> drive_ = std::make_shared<FakeDrive>();
  RipSettings settings_;
  FakeListHost host_;
};

TEST_F(TrackListTest, DataTrackTakesNoRowAndNumberingContinues) {
  drive_->SetTracks({{0, 4499, false}, {4499, 1000, true}, {5499, 4500, false}, {9999, 75, false}});
  settings_.formats.mp3.bitrate = 3;
  ASSERT_EQ(BuildTrackList(settings_, 0, &host_), 0);
  EXPECT_EQ(Titles(), (std::vector<std::string>{"Track 01", "Track 02", "Track 03"}));
  const auto& t = settings_.tracks;
  EXPECT_EQ(t[0].lengthSectors, 4499u);
  EXPECT_EQ(t[0].lengthSeconds, 59u);
  EXPECT_EQ(t[1].startSector, 5499u);
  EXPECT_EQ(t[1].lengthSeconds, 60u);
  EXPECT_EQ(t[2].lengthSectors, 75u);  // up to the lead-out
  for (size_t i = 0; i < t.size(); ++i) {
    EXPECT_EQ(t[i].index, static_cast<int32_t>(i));
    EXPECT_EQ(t[i].checked, 0u);
    EXPECT_EQ(t[i].status, 0);
    EXPECT_EQ(t[i].format, static_cast<uint32_t>(Mp3));
    EXPECT_EQ(SettingsBlockOf<Mp3Settings>(t[i]).bitrate, 3);
    EXPECT_EQ(t[i].formatSettings[7], 0u);  // words past the 7 of an MP3 block stay zero
  }
  EXPECT_NE(settings_.drives[0].discId, 0u);
  EXPECT_EQ(settings_.drives[0].discId, ComputeCddbDiscId(settings_.drives[0].toc));
  EXPECT_FALSE(host_.noDiscShown);
}

TEST_F(TrackListTest, ASettingsChangeReachesOnlyListsBuiltAfterIt) {
  drive_->SetTracks({{0, 100, false}});
  settings_.outputFormat = Ogg;
  ASSERT_EQ(BuildTrackList(settings_, 0), 0);
  EXPECT_EQ(SettingsBlockOf<OggSettings>(settings_.tracks[0]).vbrQuality, 9);
  settings_.formats.ogg.vbrQuality = 15;
  EXPECT_EQ(SettingsBlockOf<OggSettings>(settings_.tracks[0]).vbrQuality, 9);
  settings_.outputFormat = Wav;
  ASSERT_EQ(BuildTrackList(settings_, 0), 0);
  EXPECT_EQ(settings_.tracks[0].format, static_cast<uint32_t>(Wav));
  EXPECT_EQ(settings_.tracks[0].formatSettings[0], 0u);
  EXPECT_EQ(settings_.tracks[0].formatSettings[1], 1u);
  EXPECT_EQ(settings_.tracks[0].formatSettings[3], 0u);
}

TEST_F(TrackListTest, NoDiscClearsTheRowsOnceAndNotWhilePlaybackWaits) {
  drive_->SetTocFails(true);
  settings_.tracks.resize(3);
  EXPECT_EQ(BuildTrackList(settings_, 0, &host_), -1);
  EXPECT_TRUE(settings_.tracks.empty());
  EXPECT_EQ(host_.rowDeletions, 1);
  EXPECT_TRUE(host_.noDiscShown);
  EXPECT_EQ(BuildTrackList(settings_, 0, &host_), -1);
  EXPECT_EQ(host_.rowDeletions, 1);  // once until a disc is read again

  drive_->SetTocFails(false);
  ASSERT_EQ(BuildTrackList(settings_, 0, &host_), 0);
  EXPECT_FALSE(host_.noDiscShown);

  drive_->SetCannotOpen(true);
  host_.playRequested = true;
  EXPECT_EQ(BuildTrackList(settings_, 0, &host_), -1);
  EXPECT_EQ(host_.rowDeletions, 1);
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
}

TEST_F(TrackListTest, AMissingDrivePositionFailsWithoutTheLibrary) {
  const int opens = drive_->OpenAttempts();
  EXPECT_EQ(BuildTrackList(settings_, 1, &host_), -1);
  EXPECT_EQ(BuildTrackList(settings_, -1, &host_), -1);
  EXPECT_EQ(drive_->OpenAttempts(), opens);
  EXPECT_TRUE(host_.noDiscShown);
}

TEST_F(TrackListTest, MalformedTocsNeverReadPastTheBufferOrWrapLengths) {
  TocBuffer toc{};
  auto entry = [&](int i, uint32_t start, uint8_t control = 0x10) {
    toc.entries[i].adrControl = control;
    toc.entries[i].trackNumber = static_cast<uint8_t>(i + 1);
    SetTocEntryAddress(toc.entries[i], start);
  };

  // Last track below the first: an empty list, and success.
  toc.firstTrack = 5;
  toc.lastTrack = 2;
  toc.length = 10;
  drive_->SetRawToc(toc);
  ASSERT_EQ(BuildTrackList(settings_, 0), 0);
  EXPECT_TRUE(settings_.tracks.empty());

  // A track whose following entry starts before it: length 0, never four billion sectors.
  toc = TocBuffer{};
  toc.firstTrack = 1;
  toc.lastTrack = 2;
  entry(0, 1000);
  entry(1, 500);
  entry(2, 2000);
  drive_->SetRawToc(toc);
  ASSERT_EQ(BuildTrackList(settings_, 0), 0);
  ASSERT_EQ(settings_.tracks.size(), 2u);
  EXPECT_EQ(settings_.tracks[0].lengthSectors, 0u);
  EXPECT_EQ(settings_.tracks[1].lengthSectors, 1500u);

  // Track numbers that would index past the 100 entries: only whole entries are used.
  toc = TocBuffer{};
  toc.firstTrack = 1;
  toc.lastTrack = 255;
  for (int i = 0; i < 100; ++i) entry(i, static_cast<uint32_t>(i) * 10);
  drive_->SetRawToc(toc);
  ASSERT_EQ(BuildTrackList(settings_, 0), 0);
  EXPECT_EQ(settings_.tracks.size(), 99u);
  EXPECT_EQ(settings_.tracks.back().startSector, 980u);
  EXPECT_EQ(settings_.tracks.back().lengthSectors, 10u);

  // A disc that starts at a higher track number still lines up with its first entry.
  toc = TocBuffer{};
  toc.firstTrack = 3;
  toc.lastTrack = 4;
  entry(0, 0);
  entry(1, 300);
  entry(2, 450);
  drive_->SetRawToc(toc);
  ASSERT_EQ(BuildTrackList(settings_, 0), 0);
  ASSERT_EQ(settings_.tracks.size(), 2u);
  EXPECT_EQ(settings_.tracks[0].lengthSectors, 300u);
  EXPECT_EQ(settings_.tracks[1].lengthSectors, 150u);
}

TEST(DriveList, RecordsFollowTheLibraryListInOrder) {
  auto first = std::make_shared<FakeDrive>();
  auto second = std::make_shared<FakeDrive>();
  first->SetDescription("ACME CD-ROM 1.0");
  second->SetDescription("Disc image /x.cue");
  second->SetIsImage(true);
  SetCdDevices({first, second});
  RipSettings settings;
  ASSERT_EQ(EnumerateCdDrives(settings), 2);
  EXPECT_EQ(settings.drives[0].description, "ACME CD-ROM 1.0");
  EXPECT_EQ(settings.drives[1].description, "Disc image /x.cue");
  for (const auto& d : settings.drives) {
    EXPECT_EQ(d.openRequest.size, 12);
    EXPECT_EQ(d.openRequest.version, 1);
    EXPECT_EQ(d.discId, 0u);
  }
  EXPECT_NE(std::memcmp(&settings.drives[0].openRequest, &settings.drives[1].openRequest, 12), 0);
  EXPECT_EQ(FindCdDriveLetters().size(), 2u);

  SetCdDevices({});
  RipSettings none;
  EXPECT_EQ(EnumerateCdDrives(none), 0);
  EXPECT_TRUE(FindCdDriveLetters().empty());
}

TEST(DriveList, ImagesAreNamedByTheirPathsForPlaybackAndEject) {
  TempDir dir;
  MakeDisc({dir / "a.cue", "--lengths", "75"});
  MakeDisc({dir / "b.cue", "--lengths", "75"});
  SetCdImages({dir / "a.cue", dir / "b.cue"});
  const auto names = FindCdDriveLetters();
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[names.size() - 2], dir / "a.cue");
  EXPECT_EQ(names[names.size() - 1], dir / "b.cue");
}

}  // namespace
