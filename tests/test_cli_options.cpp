// obrin-rip's command line.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

namespace {

CliParseResult Parse(std::vector<std::string> args) {
  return ParseCliOptions(args);
}

TEST(CliOptions, DefaultsRipAllTracksOfDriveZeroToMp3) {
  const auto r = Parse({});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.drive, 0);
  EXPECT_EQ(r.options.format, 2);
  EXPECT_FALSE(r.options.tracks);
  EXPECT_FALSE(r.options.outputFolder);
  EXPECT_FALSE(r.options.id3);
}

TEST(CliOptions, ValuesInBothSpellingsAndRepeatedImages) {
  const auto r = Parse({"--image", "a.cue", "--image=b.toc", "--drive=1", "--format", "wav",
                        "--output", "/tmp/out", "--genre", "17", "--id3", "--template", "$n $t",
                        "--artist", "", "--year=1999"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.images, (std::vector<std::string>{"a.cue", "b.toc"}));
  EXPECT_EQ(r.options.drive, 1);
  EXPECT_EQ(r.options.format, 0);
  EXPECT_EQ(*r.options.outputFolder, "/tmp/out/");  // a trailing "/" is added when missing
  EXPECT_EQ(*r.options.genre, 17);
  EXPECT_TRUE(r.options.id3);
  EXPECT_EQ(*r.options.fileNameTemplate, "$n $t");
  EXPECT_EQ(*r.options.artist, "");
  EXPECT_EQ(*r.options.year, "1999");
  EXPECT_EQ(*Parse({"--output", "x/"}).options.outputFolder, "x/");
}

TEST(CliOptions, UsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--format", "flac"},
           {"--drive", "-1"},
           {"--drive", "one"},
           {"--genre", "80"},
           {"--genre", "x"},
           {"--tracks", "0"},
           {"--tracks", "3-1"},
           {"--tracks", "1,,2"},
           {"--image"},
           {"--list=yes"},
           {"--bogus"},
           {"--output", ""},
       }) {
    EXPECT_NE(Parse(args).error, "") << args[0];
  }
}

TEST(CliOptions, TrackListsAreOneBasedPositionsInTheGivenOrder) {
  EXPECT_EQ(*ParseTrackList("1"), (std::vector<int>{0}));
  EXPECT_EQ(*ParseTrackList("1,3-5"), (std::vector<int>{0, 2, 3, 4}));
  EXPECT_EQ(*ParseTrackList("5,2,2-3"), (std::vector<int>{4, 1, 2}));
  EXPECT_FALSE(ParseTrackList(""));
  EXPECT_FALSE(ParseTrackList("1-"));
  EXPECT_FALSE(ParseTrackList("a"));
  EXPECT_FALSE(ParseTrackList("2 ,3"));
}

}  // namespace
