// The texts of a track's row: what the window's list and `obrin-rip --list` show.
#include "disc/track_row_text.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "disc/track_list.h"

namespace {

TrackRecord RecordFor(int32_t format, const FormatSettings& formats) {
  TrackRecord record;
  record.format = static_cast<uint32_t>(format);
  record.formatSettings = FormatSettingsWords(formats, format);
  return record;
}

TEST(TrackRowText, LengthShowsMinutesAndSecondsOfTruncatedSeconds) {
  EXPECT_EQ(TrackLengthText(4499 / 75), "00:59");
  EXPECT_EQ(TrackLengthText(59), "00:59");
  EXPECT_EQ(TrackLengthText(60), "01:00");
  EXPECT_EQ(TrackLengthText(245), "04:05");
  EXPECT_EQ(TrackLengthText(125 * 60), "125:00");
}

TEST(TrackRowText, StatusTexts) {
  EXPECT_EQ(TrackStatusText(0), "Pending");
  EXPECT_EQ(TrackStatusText(1), "1%");
  EXPECT_EQ(TrackStatusText(42), "42%");
  EXPECT_EQ(TrackStatusText(99), "99%");
  EXPECT_EQ(TrackStatusText(100), "Completed");
  EXPECT_EQ(TrackStatusText(101), "Stopped");
  EXPECT_EQ(TrackStatusText(102), "ERROR");
  EXPECT_EQ(TrackStatusText(150), "ERROR");
}

TEST(TrackRowText, DefaultSettingsOfEachFormat) {
  const FormatSettings defaults;
  EXPECT_EQ(TrackFormatText(RecordFor(Wav, defaults)), "WAV - default sample rate");
  EXPECT_EQ(TrackFormatText(RecordFor(Ogg, defaults)), "OGG VBR Q0.45 (141 kbps)");
  EXPECT_EQ(TrackFormatText(RecordFor(Mp3, defaults)), "MP3 128-192 kbps VBR Q3");
}

TEST(TrackRowText, FormatTextFollowsTheTrackCopyOfTheSettings) {
  FormatSettings f;
  f.wav.sampleRate = 2;
  EXPECT_EQ(TrackFormatText(RecordFor(Wav, f)), "WAV 44100 Hz");
  f.wav.sampleRate = 3;
  EXPECT_EQ(TrackFormatText(RecordFor(Wav, f)), "WAV 48000 Hz");

  // BBR wins over VBR; with neither it is the constant bitrate, whatever useCbr holds.
  f.ogg.useBbr = 1;
  f.ogg.useVbr = 1;
  f.ogg.bbrNominal = 2;
  f.ogg.bbrMax = 4;
  EXPECT_EQ(TrackFormatText(RecordFor(Ogg, f)), "OGG 192-350 kbps BBR");
  f.ogg.useBbr = 0;
  f.ogg.useVbr = 0;
  f.ogg.useCbr = 0;
  f.ogg.cbrBitrate = 1;
  EXPECT_EQ(TrackFormatText(RecordFor(Ogg, f)), "OGG 160 kbps");
  f.ogg.useVbr = 1;
  f.ogg.vbrQuality = 20;
  EXPECT_EQ(TrackFormatText(RecordFor(Ogg, f)), "OGG VBR Q1.00 (477 kbps)");
  f.ogg.vbrQuality = 0;
  EXPECT_EQ(TrackFormatText(RecordFor(Ogg, f)), "OGG VBR Q0.00 (58 kbps)");

  f.mp3.vbrEnabled = 0;
  f.mp3.bitrate = 13;
  EXPECT_EQ(TrackFormatText(RecordFor(Mp3, f)), "MP3 320 kbps");
  f.mp3.vbrEnabled = 1;
  f.mp3.bitrate = 0;
  f.mp3.vbrMaxBitrate = 13;
  f.mp3.vbrQuality = 9;
  EXPECT_EQ(TrackFormatText(RecordFor(Mp3, f)), "MP3 32-320 kbps VBR Q10");
}

TEST(TrackRowText, BrokenIndexesDoNotReadOutsideTheTables) {
  FormatSettings f;
  f.mp3.bitrate = 99;
  f.mp3.vbrMaxBitrate = -1;
  EXPECT_EQ(TrackFormatText(RecordFor(Mp3, f)), "MP3 0-0 kbps VBR Q3");
  TrackRecord unknown;
  unknown.format = 7;
  EXPECT_EQ(TrackFormatText(unknown), "");
}

TEST(TrackRowText, RowHoldsFiveColumnsWithTheFolderNotTheFile) {
  TrackRecord record = RecordFor(Mp3, FormatSettings{});
  record.title = "Track 07";
  record.lengthSeconds = 61;
  record.status = 42;
  const auto row = TrackRowTexts(record, "/music/");
  EXPECT_EQ(row[0], "Track 07");
  EXPECT_EQ(row[1], "01:01");
  EXPECT_EQ(row[2], "MP3 128-192 kbps VBR Q3");
  EXPECT_EQ(row[3], "42%");
  EXPECT_EQ(row[4], "/music/");
}

}  // namespace
