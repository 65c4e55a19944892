// The MP3 stage against a stand-in encoder library that records what it is given and fails
// on demand: the configuration block, the chunk loop, progress, and the end sequence.
#include "encoders/mp3_encoder.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "rip/encoder_binding.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

TEST(Mp3Config, MapsTheTrackSettingsToTheLibraryBlock) {
  Mp3Settings mp3;  // the defaults
  BE_CONFIG c = Mp3ConfigFor(mp3);
  const auto& l = c.format.LHV1;
  EXPECT_EQ(c.dwConfig, 256u);
  EXPECT_EQ(l.dwStructVersion, 1u);
  EXPECT_EQ(l.dwStructSize, 331u);
  EXPECT_EQ(l.dwSampleRate, 44100u);
  EXPECT_EQ(l.dwReSampleRate, 0u);
  EXPECT_EQ(l.nMode, 0);
  EXPECT_EQ(l.dwBitrate, 128u);
  EXPECT_EQ(l.dwMaxBitrate, 192u);
  EXPECT_EQ(l.nPreset, 5);
  EXPECT_EQ(l.dwMpegVersion, 1u);
  EXPECT_EQ(l.bOriginal, 1);
  EXPECT_EQ(l.bWriteVBRHeader, 0);
  EXPECT_EQ(l.bEnableVBR, 1);
  EXPECT_EQ(l.nVBRQuality, 2);
  EXPECT_EQ(l.bNoRes, 1);

  // Every byte not named is zero.
  BE_CONFIG expected;
  std::memset(&expected, 0, sizeof expected);
  expected.dwConfig = 256;
  auto& e = expected.format.LHV1;
  e.dwStructVersion = 1;
  e.dwStructSize = 331;
  e.dwSampleRate = 44100;
  e.dwBitrate = 128;
  e.dwMaxBitrate = 192;
  e.nPreset = 5;
  e.dwMpegVersion = 1;
  e.bOriginal = 1;
  e.bEnableVBR = 1;
  e.nVBRQuality = 2;
  e.bNoRes = 1;
  EXPECT_EQ(std::memcmp(&c, &expected, sizeof c), 0);
}

TEST(Mp3Config, PresetChannelRateAndBitrateRows) {
  struct Row {
    int32_t preset;
    int32_t nPreset;
  };
  for (const Row r :
       {Row{0, 0}, Row{5, 5}, Row{12, 12}, Row{13, 1000}, Row{17, 5000}, Row{22, 10000}}) {
    Mp3Settings mp3;
    mp3.preset = r.preset;
    EXPECT_EQ(Mp3ConfigFor(mp3).format.LHV1.nPreset, r.nPreset) << r.preset;
  }
  for (const auto& [channels, mode] : {std::pair{0, 3}, {1, 0}, {2, 1}, {5, 0}}) {
    Mp3Settings mp3;
    mp3.channels = channels;
    EXPECT_EQ(Mp3ConfigFor(mp3).format.LHV1.nMode, mode) << channels;
  }
  for (const auto& [rate, out] : {std::pair{0, 0u}, {1, 32000u}, {2, 0u}, {3, 48000u}}) {
    Mp3Settings mp3;
    mp3.sampleRate = rate;
    EXPECT_EQ(Mp3ConfigFor(mp3).format.LHV1.dwSampleRate, 44100u);
    EXPECT_EQ(Mp3ConfigFor(mp3).format.LHV1.dwReSampleRate, out) << rate;
  }
  Mp3Settings mp3;
  mp3.bitrate = 0;
  mp3.vbrMaxBitrate = 13;
  mp3.vbrEnabled = 0;
  mp3.vbrQuality = 9;
  const auto& l = Mp3ConfigFor(mp3).format.LHV1;
  EXPECT_EQ(l.dwBitrate, 32u);
  EXPECT_EQ(l.dwMaxBitrate, 320u);
  EXPECT_EQ(l.bEnableVBR, 0);
  EXPECT_EQ(l.nVBRQuality, 9);
}

// Binds the stand-in library by its full path, as the job binds the real one by name.
class Mp3Stage : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(OBRIN_FAKE_LAME_DIR "/liblame_enc.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library_) << dlerror();
    lameApi.beInitStream = reinterpret_cast<BEINITSTREAM>(dlsym(library_, "beInitStream"));
    lameApi.beEncodeChunk = reinterpret_cast<BEENCODECHUNK>(dlsym(library_, "beEncodeChunk"));
    lameApi.beDeinitStream = reinterpret_cast<BEDEINITSTREAM>(dlsym(library_, "beDeinitStream"));
    lameApi.beCloseStream = reinterpret_cast<BECLOSESTREAM>(dlsym(library_, "beCloseStream"));
    lameApi.beVersion = reinterpret_cast<BEVERSION>(dlsym(library_, "beVersion"));
    lameApi.beWriteVBRHeader =
        reinterpret_cast<BEWRITEVBRHEADER>(dlsym(library_, "beWriteVBRHeader"));
    setenv("OBRIN_FAKE_LAME_LOG", log().c_str(), 1);
    setenv("OBRIN_FAKE_LAME_RECORD", record().c_str(), 1);
    setenv("OBRIN_FAKE_LAME_CHUNK", "1000", 1);
    unsetenv("OBRIN_FAKE_LAME_FAIL");
    unsetenv("OBRIN_FAKE_LAME_FAIL_AT");

    ripSettings.ripping = 1;
    ripSettings.id3Enabled = 0;
    ripSettings.discArtist = "Band";
    ripSettings.discAlbum.clear();
    ripSettings.discYear.clear();
    ripSettings.discGenre = 12;
    track_.index = 0;
    track_.title = "Track 01";
    track_.format = Mp3;
    Mp3Settings defaults;
    std::memcpy(track_.formatSettings.data(), &defaults, sizeof defaults);
  }
  void TearDown() override {
    lameApi = LameEntryPoints{};
    if (library_) dlclose(library_);
  }

  // A PCM file of `samples` 16-bit samples.
  void MakePcm(size_t samples) { WriteFile(pcm(), std::string(samples * 2, '\x11')); }
  void Encode(bool captureFailed = false) {
    Mp3Job job{&track_, pcm(), mp3(), captureFailed};
    EncodePcmToMp3(host_, job);
  }
  std::string pcm() const { return dir_ / "cddatmp001.pcm"; }
  std::string mp3() const { return dir_ / "out.mp3"; }
  std::string log() const { return dir_ / "calls.log"; }
  std::string record() const { return dir_ / "config.bin"; }

  TempDir dir_;
  void* library_ = nullptr;
  TrackRecord track_;
  RecordingHost host_;
};

TEST_F(Mp3Stage, EncodesEveryChunkFlushesAndCleansUp) {
  MakePcm(10500);  // ten full chunks of 1000 samples and one of 500
  Encode();
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += "E1000\n";
  expected += "E500\nD\n";
  EXPECT_EQ(ReadFile(mp3()), expected);
  EXPECT_FALSE(FileExists(pcm()));
  EXPECT_EQ(track_.status, kStatusCompleted);
  // Progress on chunks 0 and 10: 30 + 70 * bytesDone / total, then the final message.
  EXPECT_EQ(host_.ProgressOf(0),
            (std::vector<int32_t>{30 + 70 * 1000 / 10500, 30 + 70 * 10500 / 10500, 100}));
  const BE_CONFIG sent = Mp3ConfigFor(Mp3Settings{});
  EXPECT_EQ(ReadFile(record()), std::string(reinterpret_cast<const char*>(&sent), sizeof sent));
  const std::string calls = ReadFile(log());
  EXPECT_EQ(calls.rfind("beVersion\nbeInitStream\nbeEncodeChunk 1000\n", 0), 0u) << calls;
  EXPECT_NE(calls.find("beDeinitStream\nbeCloseStream\nbeWriteVBRHeader " + mp3() + "\n"),
            std::string::npos)
      << calls;
  EXPECT_TRUE(host_.errors().empty());
}

TEST_F(Mp3Stage, TheLibraryReceivesTheTrackCopyOfTheSettings) {
  struct Case {
    int32_t preset, channels, sampleRate;
    int32_t nPreset, nMode;
    uint32_t reSampleRate;
  };
  for (const Case c :
       {Case{17, 0, 1, 5000, 3, 32000}, Case{22, 2, 3, 10000, 1, 48000}, Case{5, 1, 2, 5, 0, 0}}) {
    Mp3Settings mp3;
    mp3.preset = c.preset;
    mp3.channels = c.channels;
    mp3.sampleRate = c.sampleRate;
    std::memcpy(track_.formatSettings.data(), &mp3, sizeof mp3);
    MakePcm(100);
    Encode();
    const std::string recorded = ReadFile(record());
    ASSERT_EQ(recorded.size(), sizeof(BE_CONFIG));
    BE_CONFIG sent;
    std::memcpy(&sent, recorded.data(), sizeof sent);
    EXPECT_EQ(sent.format.LHV1.nPreset, c.nPreset);
    EXPECT_EQ(sent.format.LHV1.nMode, c.nMode);
    EXPECT_EQ(sent.format.LHV1.dwSampleRate, 44100u);
    EXPECT_EQ(sent.format.LHV1.dwReSampleRate, c.reSampleRate);
    EXPECT_EQ(sent.format.LHV1.dwBitrate, 128u);
    EXPECT_EQ(sent.format.LHV1.dwMaxBitrate, 192u);
  }
}

TEST_F(Mp3Stage, TagIsAppendedWhenTaggingIsOn) {
  ripSettings.id3Enabled = 1;
  MakePcm(2000);
  Encode();
  const std::string file = ReadFile(mp3());
  ASSERT_EQ(file.size(), std::string("E1000\nE1000\nD\n").size() + 128);
  EXPECT_EQ(file.substr(file.size() - 128, 3), "TAG");
  EXPECT_EQ(file.substr(file.size() - 125, 8), std::string("Track 01"));
  EXPECT_EQ(file.substr(file.size() - 95, 4), "Band");
}

TEST_F(Mp3Stage, StopStillFlushesAndTags) {
  ripSettings.id3Enabled = 1;
  MakePcm(5000);
  ripSettings.ripping = 0;  // seen after the first chunk
  Encode();
  EXPECT_EQ(track_.status, kStatusStopped);
  const std::string file = ReadFile(mp3());
  EXPECT_EQ(file.substr(0, file.size() - 128), "E1000\nD\n");
  EXPECT_EQ(file.substr(file.size() - 128, 3), "TAG");
  EXPECT_FALSE(FileExists(pcm()));
}

TEST_F(Mp3Stage, EmptyPcmStillFlushes) {
  MakePcm(0);
  Encode();
  EXPECT_EQ(ReadFile(mp3()), "D\n");
  EXPECT_EQ(track_.status, kStatusCompleted);
  EXPECT_EQ(host_.ProgressOf(0), (std::vector<int32_t>{100}));
}

TEST_F(Mp3Stage, LibraryFailuresEndInErrorButStillCloseAndClean) {
  setenv("OBRIN_FAKE_LAME_FAIL", "init", 1);
  MakePcm(3000);
  Encode();
  EXPECT_EQ(track_.status, kStatusError);
  EXPECT_EQ(ReadFile(mp3()), "");
  EXPECT_FALSE(FileExists(pcm()));
  EXPECT_TRUE(host_.errors().empty());

  setenv("OBRIN_FAKE_LAME_FAIL", "encode", 1);
  setenv("OBRIN_FAKE_LAME_FAIL_AT", "2", 1);
  std::remove(log().c_str());
  track_.status = 0;
  MakePcm(3000);
  Encode();
  EXPECT_EQ(track_.status, kStatusError);
  EXPECT_EQ(ReadFile(mp3()), "E1000\n");  // no flush after a failed chunk
  EXPECT_NE(ReadFile(log()).find("beCloseStream"), std::string::npos);
  EXPECT_EQ(ReadFile(log()).find("beDeinitStream"), std::string::npos);
  EXPECT_FALSE(FileExists(pcm()));
}

TEST_F(Mp3Stage, AReadErrorInTheCaptureEndsInErrorAfterAFullEncode) {
  MakePcm(2000);
  Encode(/*captureFailed=*/true);
  EXPECT_EQ(ReadFile(mp3()), "E1000\nE1000\nD\n");
  EXPECT_EQ(track_.status, kStatusError);
}

TEST_F(Mp3Stage, MissingPcmLeavesTheOutputAloneButStillCallsTheLibrary) {
  WriteFile(mp3(), "earlier file");
  Encode();
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Cannot open PCM data file"}));
  EXPECT_EQ(track_.status, kStatusError);
  EXPECT_EQ(ReadFile(mp3()), "earlier file");
  EXPECT_EQ(ReadFile(log()), "beWriteVBRHeader " + mp3() + "\n");
  EXPECT_EQ(host_.ProgressOf(0), (std::vector<int32_t>{kStatusError}));
}

TEST_F(Mp3Stage, OutputThatCannotBeCreated) {
  MakePcm(2000);
  Mp3Job job{&track_, pcm(), dir_ / "missing/out.mp3", false};
  EncodePcmToMp3(host_, job);
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Cannot create output file"}));
  EXPECT_EQ(track_.status, kStatusError);
  EXPECT_FALSE(FileExists(pcm()));
}

TEST_F(Mp3Stage, AShortWriteEndsInError) {
  MakePcm(200000);
  setenv("OBRIN_FAKE_LAME_CHUNK", "2", 1);  // "E2\n" per sample pair: 300 KB in all
  {
    ScopedFileSizeLimit full(100000);  // the PCM file is already written
    Encode();
  }
  EXPECT_EQ(track_.status, kStatusError);
  EXPECT_EQ(host_.errors(), (std::vector<std::string>{"Cannot write output file"}));
  EXPECT_FALSE(FileExists(pcm()));
}

}  // namespace
