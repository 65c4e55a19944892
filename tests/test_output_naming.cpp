// Output names: the file-name template and the album folder a track's file goes into.
// Faults guarded:
// - a placeholder expanded wrongly: "$$", a lone "$", unknown pairs, "$n" unpadded, genres
// - values cut short, or a "$" inside a value expanded again
// - the album folder not named after the album, or the disc id (upper-case hex) of the
//   selected drive when there is none; the folder not made, or made for an unknown format
#include "disc/output_naming.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

TEST(OutputNaming, TemplatePlaceholders) {
  const std::string longTitle(300, 't');
  const struct {
    std::string pattern, artist, title;
    int32_t index, genre;
    std::string expected;
  } cases[] = {
      {"$a-$t", "Band", "Track 03", 2, 12, "Band-Track 03"},
      {"$A-$L-$T-$N-$Y-$G", "Band", "Intro", 0, 17, "Band-Live-Intro-01-1999-Rock"},
      {"$n|$n", "", "", 99, 0, "100|100"},
      {"[$g]", "", "", 0, 0, "[Blues]"},
      {"[$g]", "", "", 0, 79, "[Hard Rock]"},
      {"[$g][$g]", "", "", 0, 80, "[][]"},
      {"x$xy$Qz", "", "", 0, 12, "xyz"},  // an unknown pair disappears whole
      {"$$a 100$$", "", "", 0, 12, "$a 100$"},
      {"end$", "", "", 0, 12, "end"},
      {"$$$", "", "", 0, 12, "$"},
      {"$a$t", "$t", "a:b\\c*?/", 0, 12, "$ta:b\\c*?/"},  // values go in as they are
      {"$a-$t", "", longTitle, 0, 12, "-" + longTitle},
  };
  for (const auto& c : cases) {
    RipSettings settings;
    settings.fileNameTemplate = c.pattern;
    settings.discArtist = c.artist;
    settings.discAlbum = "Live";
    settings.discYear = "1999";
    settings.discGenre = c.genre;
    TrackRecord track;
    track.index = c.index;
    track.title = c.title;
    EXPECT_EQ(ExpandFileNameTemplate(track, settings), c.expected) << c.pattern;
  }
}

TEST(OutputNaming, AlbumFolderIsMadeAndNamedAfterTheAlbumOrTheDiscId) {
  const struct {
    std::string album;
    int32_t driveIndex;
    uint32_t format;
    std::string path, made;  // below the output folder; the one folder made there
  } cases[] = {
      {"Live", 0, Wav, "Live/-t.wav", "Live"},
      {"Live", 0, Ogg, "Live/-t.ogg", "Live"},
      {"", 0, Mp3, "Album-B20A7F0DL/-t.mp3", "Album-B20A7F0DL"},
      {"", 1, Mp3, "Album-0L/-t.mp3", "Album-0L"},
      {"", 2, Mp3, "Album-0L/-t.mp3", "Album-0L"},  // no such drive
      {"AC/DC", 0, Mp3, "AC/DC/-t.mp3", ""},        // one level only: "AC" is not made
      {"Live", 0, 3, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    TempDir out;
    RipSettings settings;
    settings.discAlbum = c.album;
    settings.drives.resize(2);
    settings.drives[0].discId = 0xB20A7F0D;
    settings.driveIndex = c.driveIndex;
    TrackRecord track;
    track.title = "t";
    track.format = c.format;
    EXPECT_EQ(ComposeOutputPath(track, settings, out / ""), c.path.empty() ? "" : out / c.path);
    std::string made;
    for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
      made += entry.path().filename().string();
    }
    EXPECT_EQ(made, c.made);
  }
}

}  // namespace
