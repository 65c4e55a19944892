// The MP3 stage and its ID3v1 tag. Guards:
// - the library block for a track's settings: presets 13..22 as 1000..10000, mode, output
//   rate, bitrates, VBR fields (mp3-preset-mapping)
// - the stage hands the library the track's own copy of the settings, not the current ones
// - every chunk encoded, the flush even after a stop, progress 30..100, the call order
// - the tag only when tagging is on (id3-tag-always); its fields at their offsets, cut or
//   padded, with their defaults (id3-album-offset, id3-default-year, id3-track-number)
// - each failure ends in ERROR with its one message; the PCM file always goes
//   (mp3-pcm-left-behind)
#include "encoders/mp3_encoder.h"

#include <cstring>
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include "encoders/id3.h"
#include "rip/encoder_binding.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

// An ID3v1.1 tag built field by field.
std::string Tag(std::string title, std::string artist, std::string album, std::string year,
                int track, int genre) {
  for (auto* field : {&title, &artist, &album}) field->resize(30, '\0');
  year.resize(4, '\0');
  return "TAG" + title + artist + album + year + std::string(29, '\0') + char(track) + char(genre);
}

TrackRecord Track(int32_t index, const std::string& title) {
  TrackRecord track;
  track.index = index;
  track.title = title;
  return track;
}

TEST(Id3v1Tag, FieldsDefaultsAndCuts) {
  const std::string l30 = "123456789012345678901234567890";
  const struct {
    TrackRecord track;
    DiscInfo disc;
    std::string expected;
  } rows[] = {
      {Track(0, "Track 01"), {}, Tag("Track 01", "Unknown artist", "Unknown album", "2000", 1, 12)},
      {Track(6, ""), {"A", "B", "1999", 0}, Tag("Track 07", "A", "B", "1999", 7, 0)},
      {Track(99, ""), {"A", "B", "19", 79}, Tag("Track 100", "A", "B", "19", 100, 79)},
      // The track byte wraps, and the built title shows the wrapped number.
      {Track(255, ""), {"A", "B", "C", 256}, Tag("Track 00", "A", "B", "C", 0, 0)},
      {Track(1, l30 + "Y"), {l30 + "X", l30, "199999", -1}, Tag(l30, l30, l30, "1999", 2, 255)},
      {Track(2, "x"), {"Bj\xF6rk", "a/b:c", "", 17}, Tag("x", "Bj\xF6rk", "a/b:c", "2000", 3, 17)},
  };
  for (const auto& row : rows) {
    const Id3v1Tag tag = BuildId3v1Tag(row.track, row.disc);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tag.data()), tag.size()), row.expected);
  }
}

TEST(Mp3Config, TheLibraryBlockForEachSetting) {
  // Mode 0 stereo, 1 joint stereo, 3 mono; the bitrates in kbps.
  using Block = std::tuple<int32_t, int32_t, uint32_t, uint32_t, uint32_t, int32_t, int32_t>;
  const std::pair<Mp3Settings, Block> rows[] = {
      {{}, {5, 0, 0, 128, 192, 1, 2}},
      {{.preset = 12}, {12, 0, 0, 128, 192, 1, 2}},
      {{.preset = 13}, {1000, 0, 0, 128, 192, 1, 2}},
      {{.preset = 17}, {5000, 0, 0, 128, 192, 1, 2}},
      {{.preset = 22}, {10000, 0, 0, 128, 192, 1, 2}},
      {{.channels = 0}, {5, 3, 0, 128, 192, 1, 2}},
      {{.channels = 2}, {5, 1, 0, 128, 192, 1, 2}},
      {{.sampleRate = 1}, {5, 0, 32000, 128, 192, 1, 2}},
      {{.sampleRate = 2}, {5, 0, 0, 128, 192, 1, 2}},
      {{.sampleRate = 3}, {5, 0, 48000, 128, 192, 1, 2}},
      {{0, 1, 0, 0, 9, 13, 5}, {5, 0, 0, 32, 320, 0, 9}},
  };
  for (const auto& [settings, block] : rows) {
    const BE_CONFIG c = Mp3ConfigFor(settings);
    const auto& l = c.format.LHV1;
    // Unary plus: the block is packed, its fields cannot be bound to references.
    EXPECT_EQ(Block(+l.nPreset, +l.nMode, +l.dwReSampleRate, +l.dwBitrate, +l.dwMaxBitrate,
                    +l.bEnableVBR, +l.nVBRQuality),
              block);
    EXPECT_EQ(std::tuple(+c.dwConfig, +l.dwStructVersion, +l.dwStructSize, +l.dwSampleRate,
                         +l.dwMpegVersion, +l.bOriginal, +l.bNoRes, +l.nQuality),
              std::tuple(256u, 1u, 331u, 44100u, 1u, 1, 1, 0));
  }
}

// A stand-in for the encoder library, bound straight into lameApi: it notes each call ("V"
// version, "I" init, "E" chunk, "D" flush, "C" close, "W" VBR header), keeps the block it was
// given, writes "E<samples>\n" per chunk and "D\n" for the flush, and fails on demand.
std::string calls;
BE_CONFIG config;
uint32_t chunk;
bool failInit;
unsigned failChunk, chunks;  // failChunk is 1-based; 0: none

void BindFakeLibrary() {
  calls.clear();
  chunk = 1000;
  failInit = false;
  failChunk = chunks = 0;
  lameApi.beVersion = [](PBE_VERSION) { calls += "V"; };
  lameApi.beInitStream = [](PBE_CONFIG c, uint32_t* samples, uint32_t* size, HBE_STREAM* s) {
    config = *c;
    *samples = chunk;
    *size = 16;
    *s = reinterpret_cast<HBE_STREAM>(1);
    return calls += "I", failInit ? BE_ERR_INVALID_FORMAT_PARAMETERS : BE_ERR_SUCCESSFUL;
  };
  lameApi.beEncodeChunk = [](HBE_STREAM, uint32_t n, const int16_t*, uint8_t* out, uint32_t* got) {
    calls += "E";
    if (++chunks == failChunk) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *got = static_cast<uint32_t>(std::snprintf(reinterpret_cast<char*>(out), 16, "E%u\n", n));
    return BE_ERR_SUCCESSFUL;
  };
  lameApi.beDeinitStream = [](HBE_STREAM, uint8_t* out, uint32_t* got) {
    std::memcpy(out, "D\n", *got = 2);
    return calls += "D", BE_ERR_SUCCESSFUL;
  };
  lameApi.beCloseStream = [](HBE_STREAM) { return calls += "C", BE_ERR_SUCCESSFUL; };
  lameApi.beWriteVBRHeader = [](const char*) { return calls += "W", BE_ERR_SUCCESSFUL; };
}

class Mp3Stage : public ::testing::Test {
 protected:
  void SetUp() override {
    BindFakeLibrary();
    ripSettings.ripping = 1;
    ripSettings.id3Enabled = 0;
    static_cast<DiscInfo&>(ripSettings) = {"Band", "", "", 12};
    ripSettings.formats.mp3 = {};
  }
  void TearDown() override { lameApi = LameEntryPoints{}; }
  void MakePcm(size_t samples) { WriteFile(pcm(), std::string(samples * 2, '\x11')); }
  // Encodes the PCM file into `output`; what is there afterwards.
  std::string Encode(const Mp3Settings& mp3, const std::string& output, bool captureFailed) {
    std::memcpy(track_.formatSettings.data(), &mp3, sizeof mp3);
    Mp3Job job{&track_, pcm(), output, captureFailed};
    EncodePcmToMp3(*host_, job);
    EXPECT_FALSE(FileExists(pcm()));
    return FileExists(output) ? ReadFile(output) : "(none)";
  }
  std::string pcm() const { return dir_ / "cddatmp001.pcm"; }

  TempDir dir_;
  TrackRecord track_ = Track(0, "Track 01");
  std::unique_ptr<RecordingHost> host_ = std::make_unique<RecordingHost>();
};

TEST_F(Mp3Stage, EncodesEveryChunkWithTheTracksOwnSettings) {
  MakePcm(10500);
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += "E1000\n";
  const std::string out = dir_ / "out.mp3";
  EXPECT_EQ(Encode({.sampleRate = 3, .channels = 0, .preset = 22}, out, false),
            expected + "E500\nD\n");
  EXPECT_EQ(track_.status, kStatusCompleted);
  EXPECT_TRUE(host_->errors().empty());
  EXPECT_EQ(config.format.LHV1.nPreset, 10000);
  EXPECT_EQ(config.format.LHV1.nMode, BE_MP3_MODE_MONO);
  EXPECT_EQ(config.format.LHV1.dwReSampleRate, 48000u);
  EXPECT_EQ(calls, "VI" + std::string(11, 'E') + "DCW");
  // Progress on chunks 0 and 10: 30 + 70 * bytes done / total, then the final message.
  EXPECT_EQ(host_->ProgressOf(0), (std::vector<int32_t>{30 + 70 * 1000 / 10500, 100, 100}));
}

TEST_F(Mp3Stage, EndsAndFailures) {
  const std::string tag = Tag("Track 01", "Band", "Unknown album", "2000", 1, 12);
  enum Setup { kPlain, kTag, kStop, kCaptureFailed, kFailInit, kFailChunk, kNoPcm, kNoDir };
  const struct {
    const char* name;
    Setup setup;
    std::string content;
    int32_t status;
    std::vector<std::string> errors;
  } rows[] = {
      {"untagged", kPlain, "E1000\nE1000\nD\n", kStatusCompleted, {}},
      {"tagged", kTag, "E1000\nE1000\nD\n" + tag, kStatusCompleted, {}},
      {"a stop still flushes and tags", kStop, "E1000\nD\n" + tag, kStatusStopped, {}},
      {"capture failed", kCaptureFailed, "E1000\nE1000\nD\n", kStatusError, {}},
      {"refused settings", kFailInit, "", kStatusError, {}},
      {"failed chunk: no flush", kFailChunk, "E1000\n", kStatusError, {}},
      {"no PCM file", kNoPcm, "earlier file", kStatusError, {"Cannot open PCM data file"}},
      {"no folder", kNoDir, "(none)", kStatusError, {"Cannot create output file"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    BindFakeLibrary();
    host_ = std::make_unique<RecordingHost>();
    track_.status = 0;
    ripSettings.ripping = row.setup == kStop ? 0 : 1;  // seen after the first chunk
    ripSettings.id3Enabled = row.setup == kTag || row.setup == kStop;
    failInit = row.setup == kFailInit;
    failChunk = row.setup == kFailChunk ? 2 : 0;
    WriteFile(dir_ / "out.mp3", "earlier file");
    if (row.setup != kNoPcm) MakePcm(2000);
    const std::string output = dir_ / (row.setup == kNoDir ? "none/out.mp3" : "out.mp3");
    EXPECT_EQ(Encode({}, output, row.setup == kCaptureFailed), row.content);
    EXPECT_EQ(track_.status, row.status);
    EXPECT_EQ(host_->errors(), row.errors);
    EXPECT_EQ(host_->ProgressOf(0).back(), row.status);
    // A stream opened is closed; the VBR header is always asked for.
    const bool opened = calls.find('I') != std::string::npos && row.setup != kFailInit;
    EXPECT_EQ(calls.find('C') != std::string::npos, opened);
    EXPECT_EQ(calls.back(), 'W');
  }
}

}  // namespace
