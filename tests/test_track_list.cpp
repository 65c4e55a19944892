// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The track list built from a drive's TOC; the format text of its rows; file-name templates.
// Faults guarded:
// - a lost disc clearing the rows more than once, or while playback waits
// - a broken TOC read past its 100 entries; a backwards entry giving a wrapped length
// - a data track listed; an enhanced CD's session gap counted in its last audio track
// - a record's settings not the copy taken when the list was built
// - a format text (each format's settings, broken indexes) other than the one users know, or
//   one following the process locale (a decimal comma)
// - CD-Text: UTF-8 encoded twice kept so, Latin-1 or control characters passed on, a field
//   cut inside a character
// - a MusicBrainz id over a data track or past an enhanced CD's audio session
// - an AccurateRip id summing a data track, taking the audio's end for an enhanced CD's
//   lead-out, weighting a track by its TOC number, or a database path out of digit order
// - a placeholder expanded wrongly: "$$", a lone "$", unknown pairs, "$N", genres, values
#include "disc/track_list.h"

#include <clocale>

#include <gtest/gtest.h>

#include "disc/cd_device.h"
#include "disc/cd_text.h"
#include "disc/disc_ids.h"
#include "disc/output_naming.h"
#include "disc/track_row_text.h"
#include "support/fake_drive.h"
#include "support/test_env.h"

namespace {

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
};

TEST_F(TrackList, ALostDiscClearsTheRowsOnceAndNotWhilePlaybackWaits) {
  FakeListHost host;
  drive_->SetTocFails(true);
  settings_.tracks.resize(3);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(BuildTrackList(settings_, 0, &host), -1);
  EXPECT_TRUE(settings_.tracks.empty());
  EXPECT_EQ(host.rowDeletions, 1);
  EXPECT_TRUE(host.noDiscShown);
  drive_->SetTocFails(false);
  settings_.outputFormat = Ogg;
  ASSERT_EQ(BuildTrackList(settings_, 0, &host), 0);
  EXPECT_FALSE(host.noDiscShown);
  settings_.formats.ogg.vbrQuality = 20;  // reaches only lists built after it
  EXPECT_EQ(TrackFormatText(settings_.tracks[0]), "OGG VBR Q0.45 (141 kbps)");
  drive_->SetCannotOpen(true);
  host.playRequested = true;
  EXPECT_EQ(BuildTrackList(settings_, 0, &host), -1);
  EXPECT_EQ(BuildTrackList(settings_, 1, &host), -1);  // no such drive
  EXPECT_EQ(host.rowDeletions, 1);
  EXPECT_EQ(drive_->Closes(), drive_->Opens());
}

TEST_F(TrackList, TocsGiveTheAudioTracksWithoutReadingPastTheEntriesOrWrappingLengths) {
  std::vector<uint32_t> hundred;  // track numbers up to 255 over the 100 entries
  for (uint32_t i = 0; i < 100; ++i) hundred.push_back(i * 10);
  // First and last track number, the entries' starts, the data tracks' entries, the lengths
  // of the records built. An enhanced CD's data session follows a gap of 11,400 sectors.
  const std::tuple<uint8_t, uint8_t, std::vector<uint32_t>, std::vector<size_t>,
                   std::vector<uint32_t>>
      cases[] = {
          {5, 2, {}, {}, {}},  // the last track below the first
          // An entry before the one it follows; the audio before track 1 is a hidden track.
          {1, 2, {1000, 500, 2000}, {}, {1000, 0, 1500}},
          {1, 255, hundred, {}, std::vector<uint32_t>(99, 10)},
          {3, 4, {0, 300, 450}, {}, {300, 150}},  // a disc that starts at track 3
          {1, 3, {0, 1000, 32400, 37400}, {2}, {1000, 20000}},
          {1, 3, {0, 31400, 31500, 31600}, {1, 2}, {20000}},
          {1, 3, {0, 1000, 12400, 12500}, {2}, {1000, 11400}},  // too close for a gap
          {1, 2, {0, 5000, 25000}, {0}, {20000}},
          {1, 3, {0, 20000, 20500, 33500}, {1}, {20000, 13000}},
      };
  for (const auto& [first, last, starts, data, lengths] : cases) {
    TocBuffer toc{};
    toc.firstTrack = first, toc.lastTrack = last;
    for (size_t i = 0; i < starts.size(); ++i) SetTocEntryAddress(toc.entries[i], starts[i]);
    for (size_t e : data) toc.entries[e].adrControl = 0x04;
    drive_->SetRawToc(toc);
    ASSERT_EQ(BuildTrackList(settings_, 0), 0);
    std::vector<uint32_t> built;
    for (const auto& t : settings_.tracks) built.push_back(t.lengthSectors);
    EXPECT_EQ(built, lengths) << int{last} << " from " << starts.size() << " entries";
  }
}

// The ids worked out by hand from the TOC (freedb: digit sums of the start seconds with the
// 2-second lead-in, length in seconds, track count).
TEST(DiscIds, AccurateRipIdsOfPlainEnhancedAndDataFirstDiscs) {
  // The MusicBrainz ids: SHA-1 of the hexadecimal first and last track, lead-out and offsets
  // (+150), in base64 with ".", "_" and "-", worked out apart from libdiscid: a data track 1
  // counts, a data session after the audio does not.
  const struct {
    std::vector<CdTocTrack> tracks;
    uint32_t leadOut;
    const char* path;
    const char* musicBrainz;
  } discs[] = {
      {{{0, 0}, {4500, 0}},
       7500,
       "accuraterip/0/e/e/dBAR-002-00002ee0-00007b0d-0a006402.bin",
       "QBA7RuJo6GrjveNT24EB5L4lKtw-"},
      // Audio, then a data session: AccurateRip's lead-out is the data track's end,
      // MusicBrainz's the session gap before the data track.
      {{{0, 0}, {4500, 0}, {18900, 4}},
       25000,
       "accuraterip/c/3/3/dBAR-002-0000733c-00014821-15014d03.bin",
       "QBA7RuJo6GrjveNT24EB5L4lKtw-"},
      {{{0, 4}, {3000, 0}, {6000, 0}},
       9000,
       "accuraterip/0/5/6/dBAR-002-00004650-0000a410-12007803.bin",
       "8CHp9XTK8fPdDxvAh7RG5bfIx_E-"},
  };
  for (const auto& disc : discs) {
    TocBuffer toc;
    ASSERT_TRUE(FillTocBuffer(1, disc.tracks, disc.leadOut, toc));
    EXPECT_EQ(AccurateRipPath(AccurateRipIdOf(toc)), disc.path);
    EXPECT_EQ(MusicBrainzDiscId(toc), disc.musicBrainz);
  }
}

TEST(CdText, FieldsBecomeOneLineOfUtf8) {
  const std::string cut = std::string(1023, 'x') + "\xC3\xA9";  // a character across the limit
  const std::pair<std::string, std::string> rows[] = {
      {"Caf\xC3\xA9", "Caf\xC3\xA9"},          // UTF-8 stays
      {"Caf\xC3\x83\xC2\xA9", "Caf\xC3\xA9"},  // encoded twice: once undone
      {"\xC3\x83 typed", "\xC3\x83 typed"},    // an "Ã" whose byte is no UTF-8 of its own
      {"Jos\xE9", "Jos\xC3\xA9"},              // Latin-1
      {"a\tb\r\nc\x7F", "a b  c"},             // control characters
      {std::string("ab\0cd", 5), "ab"},        // NUL ends the field
      {"  \x01 ", ""},
      {cut, std::string(1023, 'x')},
  };
  for (const auto& [raw, clean] : rows) EXPECT_EQ(CleanCdText(raw), clean) << raw;
}

TEST(TrackRowText, FormatTextFollowsTheTrackCopyOfTheSettingsInAnyLocale) {
  TempDir locales;  // de_DE.UTF-8 is made privately from the "locales" sources when missing
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    ASSERT_EQ(
        RunCommand({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", locales / "de_DE.UTF-8"})
            .exitStatus,
        0);
    setenv("LOCPATH", locales.path().c_str(), 1);
    ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8"));  // a decimal comma
  }
  const std::tuple<int32_t, FormatSettings, std::string> cases[] = {
      {Wav, {}, "WAV - default sample rate"},
      {Wav, {{.sampleRate = 3}, {}, {}, {}, {}}, "WAV 48000 Hz"},
      {Ogg, {{}, {.vbrQuality = 20}, {}, {}, {}}, "OGG VBR Q1.00 (477 kbps)"},
      // BBR wins over VBR; with neither it is the constant bitrate, whatever useCbr holds.
      {Ogg, {{}, {.useBbr = 1, .bbrNominal = 2, .bbrMax = 4}, {}, {}, {}}, "OGG 192-350 kbps BBR"},
      {Ogg, {{}, {.useCbr = 0, .useVbr = 0, .cbrBitrate = 1}, {}, {}, {}}, "OGG 160 kbps"},
      {Mp3, {{}, {}, {.bitrate = 13, .vbrEnabled = 0}, {}, {}}, "MP3 320 kbps"},
      {Mp3, {{}, {}, {.vbrQuality = 9, .vbrMaxBitrate = 13}, {}, {}}, "MP3 128-320 kbps VBR Q10"},
      // Broken indexes do not read outside the tables.
      {Mp3, {{}, {}, {.bitrate = 99, .vbrMaxBitrate = -1}, {}, {}}, "MP3 0-0 kbps VBR Q3"},
      {Flac, {{}, {}, {}, {.level = 8}, {}}, "FLAC level 8"},
      {Opus, {}, "OPUS 160 kbps VBR"},
      {Opus, {{}, {}, {}, {}, {.bitrate = 480, .mode = 2}}, "OPUS 512 kbps CBR"},
      {7, {}, ""},
  };
  for (const auto& [format, formats, text] : cases) {
    TrackRecord record;
    record.format = static_cast<uint32_t>(format);
    record.formatSettings = FormatSettingsWords(formats, format);
    EXPECT_EQ(TrackFormatText(record), text);
  }
  std::setlocale(LC_ALL, "C");
}

TEST(OutputNaming, TemplatePlaceholders) {
  const std::tuple<std::string, int32_t, int32_t, std::string> cases[] = {
      {"$a-$t", 2, 12, "Band-Track"},
      {"$A|$L|$T|$N|$Y|$G", 0, 17, "Band|$t-x:*|Track|01|1999|Rock"},  // "/" cannot add a level
      {"$n|$g|$g", 99, 0, "100|Blues|Blues"},
      {"[$g]", 0, 79, "[Hard Rock]"},
      {"x$xy$Qz[$g]", 0, 80, "xyz[]"},  // an unknown pair disappears whole
      {"$$a 100$$", 0, 12, "$a 100$"},
      {"$$$", 0, 12, "$"},  // a lone "$" at the end too
  };
  RipSettings settings;
  settings.discArtist = "Band";
  settings.discAlbum = "$t/x:*";
  settings.discYear = "1999";
  TrackRecord track;
  track.title = "Track";
  for (const auto& [pattern, index, genre, expected] : cases) {
    settings.fileNameTemplate = pattern;
    settings.discGenre = genre;
    track.index = index;
    EXPECT_EQ(ExpandFileNameTemplate(track, settings), expected) << pattern;
  }
  // Placeholders that all expand to nothing still leave a file name: the extension's.
  settings.fileNameTemplate = "$x$q";
  track.format = Wav;
  EXPECT_EQ(OutputPathOf(track, settings, "/o"), "/o/$t-x:*/.wav");
}

}  // namespace
