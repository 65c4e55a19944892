#include "disc/output_naming.h"

#include <sys/stat.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

TrackRecord Track(int32_t index, const std::string& title, uint32_t format = Mp3) {
  TrackRecord track;
  track.index = index;
  track.title = title;
  track.format = format;
  return track;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A settings record with one drive whose last disc id was `discId`.
RipSettings WithDrive(uint32_t discId) {
  RipSettings settings;
  DriveRecord drive;
  drive.discId = discId;
  settings.drives.push_back(drive);
  settings.driveIndex = 0;
  return settings;
}

}  // namespace

TEST(ExpandFileNameTemplate, Placeholders) {
  struct Case {
    const char* pattern;
    int32_t index;
    const char* title;
    const char* expected;
  };
  const Case cases[] = {
      {"$a-$t", 2, "Track 03", "Band-Track 03"},
      {"$l-$n-$t", 2, "Track 03", "Live-03-Track 03"},
      {"$A-$L-$T-$N-$Y-$G", 0, "Intro", "Band-Live-Intro-01-1999-Rock"},
      {"$n", 99, "", "100"},
      {"$n", 8, "", "09"},
      {"x$xy$Qz", 0, "", "xyz"},  // an unknown pair disappears whole
      {"$$a", 0, "", "$a"},       // "$$" is consumed first, so "a" stays literal
      {"100$$", 0, "", "100$"},
      {"end$", 0, "", "end"},
      {"$", 0, "", ""},
      {"$$$", 0, "", "$"},
      {"", 0, "t", ""},
      {"plain name", 0, "t", "plain name"},
      {"$t$t", 0, "ab", "abab"},
  };
  for (const Case& c : cases) {
    RipSettings settings;
    settings.discArtist = "Band";
    settings.discAlbum = "Live";
    settings.discYear = "1999";
    settings.discGenre = 17;
    settings.fileNameTemplate = c.pattern;
    EXPECT_EQ(ExpandFileNameTemplate(Track(c.index, c.title), settings), c.expected)
        << "template \"" << c.pattern << "\"";
  }
}

TEST(ExpandFileNameTemplate, ValuesGoInAsStored) {
  RipSettings settings;  // the start-up template "$a-$t", empty disc fields
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, "Track 01"), settings), "-Track 01");

  settings.discAlbum = "AC/DC: Live";
  settings.fileNameTemplate = "$l $t";
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, "a:b\\c*?"), settings), "AC-DC: Live a:b\\c*?");

  // A "$" inside a value is not expanded again.
  settings.discArtist = "$t";
  settings.fileNameTemplate = "$a";
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, "title"), settings), "$t");
}

TEST(ExpandFileNameTemplate, Genre) {
  RipSettings settings;
  settings.fileNameTemplate = "[$g]";
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, ""), settings), "[Other]");  // the default, 12
  settings.discGenre = 0;
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, ""), settings), "[Blues]");
  settings.discGenre = 79;
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, ""), settings), "[Hard Rock]");
  settings.discGenre = 80;
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, ""), settings), "[]");
  settings.discGenre = -1;
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, ""), settings), "[]");
}

TEST(ExpandFileNameTemplate, LongNamesAreNotCut) {
  RipSettings settings;
  settings.discArtist = std::string(200, 'a');
  const std::string title(300, 't');
  EXPECT_EQ(ExpandFileNameTemplate(Track(0, title), settings), settings.discArtist + "-" + title);
}

TEST(FormatFacts, ExtensionsAndListWords) {
  EXPECT_STREQ(FormatExtension(Wav), ".wav");
  EXPECT_STREQ(FormatExtension(Ogg), ".ogg");
  EXPECT_STREQ(FormatExtension(Mp3), ".mp3");
  EXPECT_STREQ(FormatListWord(Wav), "WAV ");
  EXPECT_STREQ(FormatListWord(Ogg), "OGG ");
  EXPECT_STREQ(FormatListWord(Mp3), "MP3 ");
  EXPECT_EQ(FormatExtension(3), nullptr);
  EXPECT_EQ(FormatExtension(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(FormatListWord(3), nullptr);
}

TEST(ComposeOutputPath, AlbumSubfolderIsCreated) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  RipSettings settings;
  settings.discArtist = "Band";
  settings.discAlbum = "Live";
  EXPECT_EQ(ComposeOutputPath(Track(2, "Track 03", Mp3), settings, folder),
            folder + "Live/Band-Track 03.mp3");
  EXPECT_TRUE(IsDirectory(folder + "Live"));
  EXPECT_EQ(ComposeOutputPath(Track(0, "Track 01", Wav), settings, folder),
            folder + "Live/Band-Track 01.wav");
  EXPECT_EQ(ComposeOutputPath(Track(0, "Track 01", Ogg), settings, folder),
            folder + "Live/Band-Track 01.ogg");
}

TEST(ComposeOutputPath, ExistingFolderIsReused) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  ASSERT_EQ(mkdir((folder + "Live").c_str(), 0755), 0);
  WriteFile(folder + "Live/keep.txt", "kept");
  RipSettings settings;
  settings.discAlbum = "Live";
  EXPECT_EQ(ComposeOutputPath(Track(0, "Track 01"), settings, folder),
            folder + "Live/-Track 01.mp3");
  EXPECT_EQ(ReadFile(folder + "Live/keep.txt"), "kept");
}

TEST(ComposeOutputPath, SubfolderFromDiscIdWhenAlbumIsEmpty) {
  struct Case {
    uint32_t discId;
    const char* subfolder;
  };
  const Case cases[] = {{255, "Album-FFL"}, {0, "Album-0L"}, {0xB20A7F0Du, "Album-B20A7F0DL"}};
  for (const Case& c : cases) {
    TempDir dir;
    const std::string folder = dir.path() + "/";
    RipSettings settings = WithDrive(c.discId);
    EXPECT_EQ(ComposeOutputPath(Track(0, "Track 01"), settings, folder),
              folder + c.subfolder + "/-Track 01.mp3");
    EXPECT_TRUE(IsDirectory(folder + c.subfolder));
  }
}

TEST(ComposeOutputPath, DiscIdOfTheSelectedDriveOnly) {
  RipSettings settings = WithDrive(0x10);
  DriveRecord second;
  second.discId = 0x20;
  settings.drives.push_back(second);
  TempDir dir;
  const std::string folder = dir.path() + "/";
  settings.driveIndex = 1;
  EXPECT_EQ(ComposeOutputPath(Track(0, "t"), settings, folder), folder + "Album-20L/-t.mp3");
  settings.driveIndex = 2;  // no such drive
  EXPECT_EQ(ComposeOutputPath(Track(0, "t"), settings, folder), folder + "Album-0L/-t.mp3");
  settings.driveIndex = -1;
  EXPECT_EQ(ComposeOutputPath(Track(0, "t"), settings, folder), folder + "Album-0L/-t.mp3");
}

TEST(ComposeOutputPath, FolderWithoutTrailingSlashIsJoinedWithOne) {
  TempDir dir;
  RipSettings settings;
  settings.discAlbum = "Live";
  const std::string bare = dir / "out";
  EXPECT_EQ(ComposeOutputPath(Track(0, "t"), settings, bare), bare + "/Live/-t.mp3");
  EXPECT_TRUE(IsDirectory(bare + "/Live"));
}

TEST(ComposeOutputPath, SlashInAlbumBecomesADash) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  RipSettings settings;
  settings.discAlbum = "AC/DC";
  EXPECT_EQ(ComposeOutputPath(Track(0, "t"), settings, folder), folder + "AC-DC/-t.mp3");
  EXPECT_FALSE(IsDirectory(folder + "AC"));
}

TEST(ComposeOutputPath, UnknownFormatGivesNoNameAndNoFolder) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  RipSettings settings;
  settings.discAlbum = "Live";
  EXPECT_EQ(ComposeOutputPath(Track(0, "t", 3), settings, folder), "");
  EXPECT_FALSE(IsDirectory(folder + "Live"));
}

TEST(ComposeOutputPath, LongNamesAreCutToTheFileSystemLimit) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  RipSettings settings;
  settings.discAlbum = "Live";
  const std::string title(400, 't');
  EXPECT_EQ(ComposeOutputPath(Track(0, title), settings, folder),
            folder + "Live/-" + title.substr(0, 250) + ".mp3");
}

TEST(ComposeOutputPath, FolderIsReadFromTheSettingsFile) {
  ScopedConfigHome home;
  TempDir out;
  const std::string folder = out.path() + "/";
  ASSERT_EQ(mkdir((home.path() + "/obrin").c_str(), 0755), 0);
  WriteFile(home.iniPath(), "[Output]\nPath=" + folder + "\n");

  RipSettings settings;
  settings.outputPath = "/nonexistent/ignored/";  // the record's copy is not what counts
  settings.discAlbum = "Live";
  EXPECT_EQ(ComposeOutputPath(Track(0, "Track 01"), settings), folder + "Live/-Track 01.mp3");
  EXPECT_TRUE(IsDirectory(folder + "Live"));

  // Read afresh on every call.
  TempDir other;
  WriteFile(home.iniPath(), "[Output]\nPath=" + other.path() + "/\n");
  EXPECT_EQ(ComposeOutputPath(Track(0, "Track 01"), settings),
            other.path() + "/Live/-Track 01.mp3");
}
