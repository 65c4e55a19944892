// The track list built from a drive's TOC (scripted drives, malformed TOCs too), the drive
// list, and the texts of a track's row as the window and `obrin-rip --list` show them.
// Faults guarded:
// - a data track (control bit 0x04) takes a row, or the numbering skips a position for it
// - lengths in seconds not the truncated sectors / 75; the settings not copied at build time
// - a lost disc clears the rows more than once, or while playback waits
// - a broken TOC read past its 100 entries; a backwards entry giving a wrapped length
// - the drive records or names out of the library's order
// - a length, status or format text (each format's settings) other than the one users know
#include "disc/track_list.h"

#include <gtest/gtest.h>

#include "disc/track_row_text.h"
#include "support/fake_drive.h"

namespace {

// Records what the track-list build asks of the window.
struct FakeListHost : TrackListHost {
  bool NoDiscShown() const override { return noDiscShown; }
  void SetNoDiscShown(bool shown) override { noDiscShown = shown; }
  bool PlayRequested() const override { return playRequested; }
  void DeleteAllRows() override { ++rowDeletions; }
  bool noDiscShown = false, playRequested = false;
  int rowDeletions = 0;
};

class TrackList : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCdDevices({drive_});
    ASSERT_EQ(EnumerateCdDrives(settings_), 1);
  }
  std::shared_ptr<FakeDrive> drive_ = std::make_shared<FakeDrive>();
  RipSettings settings_;
  FakeListHost host_;
};

TEST_F(TrackList, DataTrackTakesNoRowAndEachRecordCopiesTheSettings) {
  drive_->SetTracks({{0, 4499, false}, {4499, 1000, true}, {5499, 4500, false}, {9999, 75, false}});
  settings_.outputFormat = Mp3;
  settings_.formats.mp3.bitrate = 3;
  ASSERT_EQ(BuildTrackList(settings_, 0, &host_), 0);
  settings_.formats.mp3.bitrate = 5;  // reaches only lists built after it
  const uint32_t starts[] = {0, 5499, 9999}, lengths[] = {4499, 4500, 75}, seconds[] = {59, 60, 1};
  ASSERT_EQ(settings_.tracks.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const TrackRecord& t = settings_.tracks[i];
    EXPECT_EQ(t.title, "Track 0" + std::to_string(i + 1));
    EXPECT_EQ(t.index, static_cast<int32_t>(i));
    EXPECT_EQ(t.startSector, starts[i]);
    EXPECT_EQ(t.lengthSectors, lengths[i]);
    EXPECT_EQ(t.lengthSeconds, seconds[i]);
    EXPECT_EQ(TrackFormatText(t), "MP3 56-192 kbps VBR Q3");
  }
  EXPECT_EQ(settings_.drives[0].discId, 0x1E008604u);  // seconds 2, 61, 75, 135; 134 long
}

TEST_F(TrackList, ALostDiscClearsTheRowsOnceAndNotWhilePlaybackWaits) {
  drive_->SetTocFails(true);
  settings_.tracks.resize(3);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(BuildTrackList(settings_, 0, &host_), -1);
  EXPECT_TRUE(settings_.tracks.empty());
  EXPECT_EQ(host_.rowDeletions, 1);
  EXPECT_TRUE(host_.noDiscShown);
  drive_->SetTocFails(false);
  ASSERT_EQ(BuildTrackList(settings_, 0, &host_), 0);
  EXPECT_FALSE(host_.noDiscShown);
  drive_->SetCannotOpen(true);
  host_.playRequested = true;
  EXPECT_EQ(BuildTrackList(settings_, 0, &host_), -1);
  EXPECT_EQ(BuildTrackList(settings_, 1, &host_), -1);  // no such drive
  EXPECT_EQ(host_.rowDeletions, 1);
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
}

TEST_F(TrackList, MalformedTocsNeverReadPastTheEntriesOrWrapLengths) {
  std::vector<uint32_t> hundred;  // track numbers up to 255 over 100 entries
  for (uint32_t i = 0; i < 100; ++i) hundred.push_back(i * 10);
  const struct {
    uint8_t first, last;
    std::vector<uint32_t> starts, lengths;
  } cases[] = {
      {5, 2, {}, {}},                        // the last track below the first
      {1, 2, {1000, 500, 2000}, {0, 1500}},  // an entry before the one it follows
      {1, 255, hundred, std::vector<uint32_t>(99, 10)},
      {3, 4, {0, 300, 450}, {300, 150}},  // a disc that starts at track 3
  };
  for (const auto& c : cases) {
    TocBuffer toc{};
    toc.firstTrack = c.first, toc.lastTrack = c.last;
    for (size_t i = 0; i < c.starts.size(); ++i) SetTocEntryAddress(toc.entries[i], c.starts[i]);
    drive_->SetRawToc(toc);
    ASSERT_EQ(BuildTrackList(settings_, 0), 0);
    std::vector<uint32_t> lengths;
    for (const auto& t : settings_.tracks) lengths.push_back(t.lengthSectors);
    EXPECT_EQ(lengths, c.lengths) << int{c.last};
  }
}

TEST(DriveList, RecordsAndNamesFollowTheLibraryList) {
  SetCdImages({"/x/a.cue", "/x/b.toc"});
  RipSettings settings;
  const int n = EnumerateCdDrives(settings);  // real drives, if any, come first
  ASSERT_GE(n, 2);
  EXPECT_EQ(settings.drives[n - 1].description, "Disc image /x/b.toc");
  const auto names = FindCdDriveLetters();
  EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()),
            (std::vector<std::string>{"/x/a.cue", "/x/b.toc"}));
  SetCdDevices({});
}

TEST(TrackRowText, LengthStatusAndFormatTexts) {
  const std::pair<uint32_t, const char*> lengths[] = {
      {59, "00:59"}, {60, "01:00"}, {7500, "125:00"}};
  for (auto [seconds, text] : lengths) EXPECT_EQ(TrackLengthText(seconds), text);
  const std::pair<int32_t, const char*> statuses[] = {
      {0, "Pending"},   {1, "1%"},      {99, "99%"},   {100, "Completed"},
      {101, "Stopped"}, {102, "ERROR"}, {150, "ERROR"}};
  for (auto [status, text] : statuses) EXPECT_EQ(TrackStatusText(status), text);
  const struct {
    int32_t format;
    FormatSettings settings;
    const char* text;
  } formats[] = {
      {Wav, {}, "WAV - default sample rate"},
      {Wav, {{.sampleRate = 3}, {}, {}}, "WAV 48000 Hz"},
      {Ogg, {}, "OGG VBR Q0.45 (141 kbps)"},
      {Ogg, {{}, {.vbrQuality = 20}, {}}, "OGG VBR Q1.00 (477 kbps)"},
      // BBR wins over VBR; with neither it is the constant bitrate, whatever useCbr holds.
      {Ogg, {{}, {.useBbr = 1, .bbrNominal = 2, .bbrMax = 4}, {}}, "OGG 192-350 kbps BBR"},
      {Ogg, {{}, {.useCbr = 0, .useVbr = 0, .cbrBitrate = 1}, {}}, "OGG 160 kbps"},
      {Mp3, {}, "MP3 128-192 kbps VBR Q3"},
      {Mp3, {{}, {}, {.bitrate = 13, .vbrEnabled = 0}}, "MP3 320 kbps"},
      {Mp3,
       {{}, {}, {.bitrate = 0, .vbrQuality = 9, .vbrMaxBitrate = 13}},
       "MP3 32-320 kbps VBR Q10"},
      // Broken indexes do not read outside the tables.
      {Mp3, {{}, {}, {.bitrate = 99, .vbrMaxBitrate = -1}}, "MP3 0-0 kbps VBR Q3"},
      {7, {}, ""},
  };
  for (const auto& c : formats) {
    TrackRecord record;
    record.format = static_cast<uint32_t>(c.format);
    record.formatSettings = FormatSettingsWords(c.settings, c.format);
    EXPECT_EQ(TrackFormatText(record), c.text);
  }
}

}  // namespace
