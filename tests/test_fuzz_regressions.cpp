// Inputs the fuzz targets (fuzz/) found or flagged, replayed through the ordinary calls so the
// normal suite keeps them fixed: the settings file, the file-name template, raw TOC bytes and
// an image sheet. Each input is written out inline, byte for byte.
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/output_naming.h"
#include "disc/track_list.h"
#include "platform/profile.h"
#include "support/fake_drive.h"
#include "support/test_env.h"

namespace {

using namespace std::string_literals;

RipSettings Loaded() {
  RipSettings settings;
  LoadDefaultSettings(settings);
  LoadSettings(settings);
  return settings;
}

void WriteIni(const ScopedConfigHome& home, const std::string& bytes) {
  std::filesystem::create_directories(home.path() + "/obrin");
  WriteFile(home.iniPath(), bytes);
}

// fuzz_profile: a folder with a CR in mid-line loads as it is, but the profile refuses to
// write it back, and that one refusal used to drop the whole save.
TEST(FuzzRegressionSettings, SaveKeepsTheOtherKeysWhenTheFolderHoldsACarriageReturn) {
  ScopedConfigHome home;
  WriteIni(home, "[Output]\nPath=/music/a\rb/\n[MP3 Setting]\nbitrate=320 kbps\n");
  RipSettings settings = Loaded();
  ASSERT_EQ(settings.outputPath, "/music/a\rb/");
  ASSERT_EQ(settings.formats.mp3.bitrate, 13);

  settings.formats.mp3.bitrate = 2;
  settings.formats.ogg.vbrQuality = 20;
  SaveSettings(settings);
  const RipSettings reloaded = Loaded();
  EXPECT_EQ(reloaded.formats.mp3.bitrate, 2);
  EXPECT_EQ(reloaded.formats.ogg.vbrQuality, 20);
  EXPECT_EQ(reloaded.outputPath, "/music/a\rb/");  // the file keeps its own text
  EXPECT_EQ(GetProfileString("MP3 Setting", "bitrate", "", home.iniPath()), "48 kbps");
}

// fuzz_profile: values are trimmed before a NUL cuts them, so a damaged file can give a
// folder ending in a blank. Saved, it loads without the blank, and from then on stays put.
TEST(FuzzRegressionSettings, ANulInsideTheFolderCutsItAndOneSaveSettlesIt) {
  ScopedConfigHome home;
  WriteIni(home, "junk before\0\0\0 any section\r\n[Output]\r\nPath=\tMusic \0\0junk\r\n"s);
  const RipSettings first = Loaded();
  EXPECT_EQ(first.outputPath, "Music ");
  SaveSettings(first);
  const RipSettings second = Loaded();
  EXPECT_EQ(second.outputPath, "Music");
  SaveSettings(second);
  const std::string settled = ReadFile(home.iniPath());
  const RipSettings third = Loaded();
  EXPECT_EQ(third.outputPath, "Music");
  SaveSettings(third);
  EXPECT_EQ(ReadFile(home.iniPath()), settled);
}

// fuzz_profile: usecbr "TRUE", a usebbr that is not a flag and no usevbr key load with CBR
// and VBR both on; the save writes usevbr, and the next load resolves to CBR alone.
TEST(FuzzRegressionSettings, ConflictingOggModesResolveAfterOneSave) {
  ScopedConfigHome home;
  WriteIni(home, "[OGG Setting]\nusecbr=TRUE\nusebbr=lebits=8 bits\n");
  RipSettings first = Loaded();
  EXPECT_EQ(first.formats.ogg.useCbr, 1);
  EXPECT_EQ(first.formats.ogg.useBbr, 0);
  EXPECT_EQ(first.formats.ogg.useVbr, 1);
  SaveSettings(first);
  const RipSettings second = Loaded();
  EXPECT_EQ(second.formats.ogg.useCbr, 1);
  EXPECT_EQ(second.formats.ogg.useBbr, 0);
  EXPECT_EQ(second.formats.ogg.useVbr, 0);
  SaveSettings(second);
  const RipSettings third = Loaded();
  EXPECT_EQ(std::memcmp(&third.formats, &second.formats, sizeof(FormatSettings)), 0);
}

// fuzz_template seeds: unknown pairs, "$$" runs, a lone "$", bytes that are not ASCII, and
// numbers at the ends of their range. Doubling every "$" gives the template back.
TEST(FuzzRegressionTemplate, SeedsExpandExactlyAndEscapeBack) {
  const struct {
    std::string pattern, artist, album, title, year;
    int32_t genre, index;
    std::string expected;
  } cases[] = {
      {"$n $$ $x$", "A$t", "$$", "T", "", 79, 98, "99 $ "},
      {"$$$$$", "", "", "", "", -1, INT32_MIN, "$$"},
      {"$A/$L/$T/$N/$Y/$G/$a$l$t$n$y$g", "a", "l", "t", "1999", 80, INT32_MAX,
       "a/l/t/2147483648/1999//alt21474836481999"},
      {"\xC3\xA9$\xC3\xA9$\x80/..$", "\xFF", "/", "..", "\n", 0, -1, "\xC3\xA9\xA9/.."},
      {"$n", "", "", "", "", 0, -1, "00"},
      {"$a-$t", "", "Album", "Track 01", "", 12, 0, "-Track 01"},
  };
  for (const auto& c : cases) {
    RipSettings settings;
    TrackRecord track;
    settings.fileNameTemplate = c.pattern;
    settings.discArtist = c.artist;
    settings.discAlbum = c.album;
    track.title = c.title;
    settings.discYear = c.year;
    settings.discGenre = c.genre;
    track.index = c.index;
    EXPECT_EQ(ExpandFileNameTemplate(track, settings), c.expected) << c.pattern;

    std::string escaped;
    for (char ch : c.pattern) escaped += ch == '$' ? "$$" : std::string(1, ch);
    settings.fileNameTemplate = escaped;
    EXPECT_EQ(ExpandFileNameTemplate(track, settings), c.pattern) << escaped;
  }
}

// fuzz_toc seed: a TOC that claims tracks 1..255 with its only track near the top of the
// address range. Every record stays inside the 100 entries, no length wraps, and the
// disc-id query writes no word past the n + 3 it was given.
TEST(FuzzRegressionToc, TracksPastTheEntriesAndAddressesNearTheTop) {
  TocBuffer toc{};
  ASSERT_TRUE(FillTocBuffer(1, {{0xFFFFFF00u, 0}}, 0xFFFFFFFFu, toc));
  toc.lastTrack = 0xFF;
  auto drive = std::make_shared<FakeDrive>();
  drive->SetRawToc(toc);
  SetCdDevices({drive});
  RipSettings settings;
  ASSERT_EQ(EnumerateCdDrives(settings), 1);
  ASSERT_EQ(BuildTrackList(settings, 0), 0);

  ASSERT_EQ(settings.tracks.size(), 99u);
  EXPECT_EQ(settings.tracks[0].startSector, 0xFFFFFF00u);
  EXPECT_EQ(settings.tracks[0].lengthSectors, 0xFFu);
  EXPECT_EQ(settings.tracks[1].startSector, 0xFFFFFFFFu);  // the lead-out read as a track
  EXPECT_EQ(settings.tracks[1].lengthSectors, 0u);         // followed by 0: no wrap
  EXPECT_EQ(settings.tracks[98].title, "Track 99");
  EXPECT_EQ(settings.drives[0].discId, ComputeCddbDiscId(toc));

  OpenRequest request = settings.drives[0].openRequest;
  const CdHandle handle = GetCDHandle(&request);
  ASSERT_NE(handle, kNoCdHandle);
  for (int n : {-3, -2, 0, 1, 99, 120}) {
    // Exactly n + 3 words, one canary after them.
    const std::size_t words = n + 3 > 0 ? static_cast<std::size_t>(n + 3) : 0;
    std::vector<uint32_t> buffer(words + 1, 0xC0FFEEu);
    const int result = GetCDDBDiskID(handle, buffer.data(), n);
    EXPECT_EQ(result, words > 0 ? 1 : 0) << n;
    EXPECT_EQ(buffer[words], 0xC0FFEEu) << n;
    if (words > 0) {
      EXPECT_EQ(buffer[0], settings.drives[0].discId) << n;
    }
  }
  CloseCDHandle(handle);
}

// fuzz_image seed: a sheet named differently from the bin it reads (the cue path's copy and
// link) with a pregap. It opens, its TOC is in order, and reads end exactly at the lead-out.
TEST(FuzzRegressionImage, SheetWithAPregapOverAnotherBin) {
  TempDir dir;
  std::string bin(7 * kSectorBytes, '\0');
  for (std::size_t i = 0; i < bin.size(); ++i) bin[i] = static_cast<char>(i * 131 + 5);
  WriteFile(dir / "other.bin", bin);
  const std::string sheet = dir / "sheet.cue";
  WriteFile(sheet,
            "FILE \"other.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    PREGAP 00:00:02\n    INDEX 01 00:00:05\n");
  SetCdImages({sheet});
  RipSettings settings;
  const int drives = EnumerateCdDrives(settings);
  ASSERT_GE(drives, 1);
  const int position = drives - 1;
  ASSERT_EQ(BuildTrackList(settings, position), 0);

  const TocBuffer& toc = settings.drives[position].toc;
  ASSERT_EQ(toc.firstTrack, 1);
  ASSERT_EQ(toc.lastTrack, 2);
  const uint32_t leadOut = TocEntryAddress(toc.entries[2]);
  ASSERT_EQ(settings.tracks.size(), 2u);
  EXPECT_EQ(settings.tracks[0].startSector, 0u);
  EXPECT_LE(settings.tracks[0].startSector + settings.tracks[0].lengthSectors,
            settings.tracks[1].startSector);
  EXPECT_EQ(settings.tracks[1].startSector + settings.tracks[1].lengthSectors, leadOut);

  OpenRequest request = settings.drives[position].openRequest;
  const CdHandle handle = GetCDHandle(&request);
  ASSERT_NE(handle, kNoCdHandle);
  TrackBufferPtr buffer = AllocTrackBuffer(2);
  ASSERT_NE(buffer, nullptr);
  buffer->startSector = 0;
  buffer->sectorCount = 1;
  ASSERT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1);
  EXPECT_EQ(std::memcmp(TrackBufferData(buffer.get()), bin.data(), kSectorBytes), 0);
  buffer->startSector = leadOut - 1;
  buffer->sectorCount = 2;
  EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0);
  EXPECT_EQ(GetAspiLibError(), kCdErrPastEnd);
  EXPECT_EQ(buffer->deliveredLength, 0u);
  buffer->startSector = leadOut;
  buffer->sectorCount = 1;
  EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0);
  EXPECT_EQ(GetAspiLibError(), kCdErrPastEnd);
  CloseCDHandle(handle);
}

// Opens `text` as a .toc file beside a 16-sector disc.bin; the track-list result.
int BuildFromTocText(const TempDir& dir, const std::string& text, RipSettings& settings) {
  WriteFile(dir / "disc.bin", std::string(16 * kSectorBytes, '\x5A'));
  WriteFile(dir / "disc.toc", text);
  SetCdImages({dir / "disc.toc"});
  const int drives = EnumerateCdDrives(settings);
  EXPECT_GE(drives, 1);
  return BuildTrackList(settings, drives - 1);
}

// fuzz_image: a TRACK line without its mode made libcdio divide by a zero sector size
// (SIGFPE, the whole program gone) once a FILE left its length to be worked out. Such texts
// are refused before libcdio sees them, also where its 512-byte line buffer, a "//" comment
// or a NUL would hide the mode from it.
TEST(FuzzRegressionImage, TocTrackWithoutAModeIsRefusedNotACrash) {
  const std::string longComment = "//" + std::string(509, 'X');  // 511 bytes: libcdio splits
  const std::string cases[] = {
      "TRACK\nFILE \"disc.bin\" 0\n",
      "TRACK //AUDIO\nFILE \"disc.bin\" 0\n",
      "  TRACK\t\r\nAUDIOFILE \"disc.bin\" 0\n",
      "TRACK AUDIO\nFILE \"disc.bin\" 0 00:00:10\nTRACK\nDATAFILE \"disc.bin\"\n",
      "TRACK AUDIO\n" + longComment + "TRACK\nFILE \"disc.bin\" 0\n",
      // The input as the fuzzer found it.
      "CD_DA\nTRACK AUDIO\nSILENCE 00:00:02\nFILE \"disc.bin\" 0 00:00:10\nTRACK \0\0\0\xD0"
      "AUDIO\nPREGAP 0:01\nFILE \"disc.bin\" 00:00:1\0\0\0\0\0\0\0\x06"
      "06\n"s,
  };
  for (const std::string& text : cases) {
    TempDir dir;
    RipSettings settings;
    EXPECT_EQ(BuildFromTocText(dir, text, settings), -1) << text;
    EXPECT_TRUE(settings.tracks.empty());
  }

  // The same files with the mode named open as before, up to the longest line libcdio reads
  // whole.
  for (const std::string& text : {
           "TRACK AUDIO\nFILE \"disc.bin\" 0\n"s,
           "TRACK AUDIO // a comment\n" + longComment.substr(0, 510) + "\nFILE \"disc.bin\" 0\n",
       }) {
    TempDir dir;
    RipSettings settings;
    ASSERT_EQ(BuildFromTocText(dir, text, settings), 0) << text;
    ASSERT_EQ(settings.tracks.size(), 1u);
    EXPECT_EQ(settings.tracks[0].lengthSectors, 16u);
  }
}

}  // namespace
