#include "encoders/id3.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

std::string Field(const Id3v1Tag& tag, std::size_t offset, std::size_t length) {
  return std::string(reinterpret_cast<const char*>(tag.data()) + offset, length);
}

// `text` followed by zero bytes up to `length`.
std::string Padded(const std::string& text, std::size_t length) {
  std::string field = text;
  field.resize(length, '\0');
  return field;
}

TrackRecord Track(int32_t index, const std::string& title) {
  TrackRecord track;
  track.index = index;
  track.title = title;
  return track;
}

}  // namespace

TEST(GenreNames, KnownPositionsAndOutOfRange) {
  EXPECT_STREQ(GenreName(0), "Blues");
  EXPECT_STREQ(GenreName(12), "Other");
  EXPECT_STREQ(GenreName(40), "Altern Rock");
  EXPECT_STREQ(GenreName(46), "Inst. Pop");
  EXPECT_STREQ(GenreName(47), "Instrum. Rock");
  EXPECT_STREQ(GenreName(51), "Techno-Indus");
  EXPECT_STREQ(GenreName(67), "Psychadelic");
  EXPECT_STREQ(GenreName(79), "Hard Rock");
  EXPECT_STREQ(GenreName(80), "");
  EXPECT_STREQ(GenreName(-1), "");
  EXPECT_STREQ(GenreName(255), "");
}

TEST(Id3v1Tag, DefaultsForTheFirstTrack) {
  const Id3v1Tag tag = BuildId3v1Tag(Track(0, "Track 01"), DiscInfo{});
  EXPECT_EQ(Field(tag, 0, 3), "TAG");
  EXPECT_EQ(Field(tag, 3, 30), Padded("Track 01", 30));
  EXPECT_EQ(Field(tag, 33, 30), Padded("Unknown artist", 30));
  EXPECT_EQ(Field(tag, 63, 30), Padded("Unknown album", 30));
  EXPECT_EQ(Field(tag, 93, 4), "2000");
  EXPECT_EQ(Field(tag, 97, 29), std::string(29, '\0'));  // comment and the v1.1 marker
  EXPECT_EQ(tag[126], 1);
  EXPECT_EQ(tag[127], 12);
}

TEST(Id3v1Tag, EmptyTitleIsBuiltFromTheTrackNumber) {
  EXPECT_EQ(Field(BuildId3v1Tag(Track(6, ""), DiscInfo{}), 3, 30), Padded("Track 07", 30));
  EXPECT_EQ(Field(BuildId3v1Tag(Track(99, ""), DiscInfo{}), 3, 30), Padded("Track 100", 30));
  // The number in the text is the wrapped byte, as in the tag.
  EXPECT_EQ(Field(BuildId3v1Tag(Track(255, ""), DiscInfo{}), 3, 30), Padded("Track 00", 30));
}

TEST(Id3v1Tag, TextFieldsAreCutAtTheirLengthWithoutTerminator) {
  const std::string thirty = "123456789012345678901234567890";
  DiscInfo disc;
  disc.discArtist = thirty + "X";
  disc.discAlbum = thirty;
  disc.discYear = "19";
  const Id3v1Tag full = BuildId3v1Tag(Track(0, thirty), disc);
  EXPECT_EQ(Field(full, 3, 30), thirty);
  EXPECT_EQ(Field(full, 33, 30), thirty);  // 31st character lost
  EXPECT_EQ(Field(full, 63, 30), thirty);
  EXPECT_EQ(Field(full, 93, 4), Padded("19", 4));

  const Id3v1Tag cut = BuildId3v1Tag(Track(0, thirty + "Y"), disc);
  EXPECT_EQ(Field(cut, 3, 30), thirty);
  EXPECT_EQ(cut[33], '1');  // the cut title does not spill into the artist

  disc.discYear = "199999";
  EXPECT_EQ(Field(BuildId3v1Tag(Track(0, "t"), disc), 93, 4), "1999");
  EXPECT_EQ(BuildId3v1Tag(Track(0, "t"), disc)[97], 0);
}

TEST(Id3v1Tag, BytesAreCopiedWithoutConversion) {
  DiscInfo disc;
  disc.discArtist = "Bj\xF6rk";  // a Latin-1 byte stays one byte
  disc.discAlbum = "a/b:c";
  const Id3v1Tag tag = BuildId3v1Tag(Track(0, "x"), disc);
  EXPECT_EQ(Field(tag, 33, 30), Padded("Bj\xF6rk", 30));
  EXPECT_EQ(Field(tag, 63, 30), Padded("a/b:c", 30));
}

TEST(Id3v1Tag, TrackAndGenreBytes) {
  struct Case {
    int32_t index;
    int32_t genre;
    uint8_t trackByte;
    uint8_t genreByte;
  };
  const Case cases[] = {
      {0, 0, 1, 0},     {2, 17, 3, 17},     {98, 79, 99, 79}, {254, 12, 255, 12},
      {255, 12, 0, 12}, {256, 255, 1, 255}, {0, -1, 1, 255},  {0, 256, 1, 0},
  };
  for (const Case& c : cases) {
    DiscInfo disc;
    disc.discGenre = c.genre;
    const Id3v1Tag tag = BuildId3v1Tag(Track(c.index, "t"), disc);
    EXPECT_EQ(tag[126], c.trackByte) << "index " << c.index;
    EXPECT_EQ(tag[127], c.genreByte) << "genre " << c.genre;
    EXPECT_EQ(tag[125], 0);
  }
}

TEST(WriteId3v1Tag, AppendsAtTheCurrentPosition) {
  TempDir dir;
  const std::string path = dir / "track.mp3";
  const std::string audio(1000, '\x55');
  WriteFile(path, audio);

  DiscInfo disc;
  disc.discArtist = "Band";
  disc.discGenre = 17;
  const TrackRecord track = Track(2, "Track 03");

  FILE* file = std::fopen(path.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(WriteId3v1Tag(file, track, disc));
  std::fclose(file);

  const std::string content = ReadFile(path);
  ASSERT_EQ(content.size(), audio.size() + 128);
  EXPECT_EQ(content.substr(0, audio.size()), audio);
  const Id3v1Tag expected = BuildId3v1Tag(track, disc);
  EXPECT_EQ(content.substr(audio.size()),
            std::string(reinterpret_cast<const char*>(expected.data()), expected.size()));
}

TEST(WriteId3v1Tag, WritesWhereTheStreamStands) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("0123456789", file);
  std::fseek(file, 4, SEEK_SET);
  EXPECT_TRUE(WriteId3v1Tag(file, Track(0, "Track 01"), DiscInfo{}));
  EXPECT_EQ(std::ftell(file), 4 + 128);
  std::rewind(file);
  char head[8] = {};
  ASSERT_EQ(std::fread(head, 1, 7, file), 7u);
  EXPECT_STREQ(head, "0123TAG");
  std::fclose(file);
}

TEST(WriteId3v1Tag, ReportsAFailedWrite) {
  EXPECT_FALSE(WriteId3v1Tag(nullptr, Track(0, "t"), DiscInfo{}));
  FILE* readOnly = std::fopen("/dev/null", "rb");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_FALSE(WriteId3v1Tag(readOnly, Track(0, "t"), DiscInfo{}));
  std::fclose(readOnly);
}
