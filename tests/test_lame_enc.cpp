// liblame_enc.so, loaded the way the program loads it, checked by decoding what it writes.
#include <dlfcn.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "encoders/lame_enc/lame_enc.h"
#include "support/mp3_decode.h"
#include "support/test_env.h"

namespace {

struct Library {
  void* handle = nullptr;
  BEINITSTREAM init = nullptr;
  BEENCODECHUNK encode = nullptr;
  BEDEINITSTREAM deinit = nullptr;
  BECLOSESTREAM close = nullptr;
  BEVERSION version = nullptr;
  BEWRITEVBRHEADER writeVbrHeader = nullptr;
};

Library gLib;

constexpr uint32_t kInputRate = 44100;
constexpr int kFrameSamples = 1152;

// What the program sends with its default MP3 settings.
BE_CONFIG ProgramDefaults() {
  BE_CONFIG config;
  std::memset(&config, 0, sizeof config);
  config.dwConfig = BE_CONFIG_LAME;
  auto& c = config.format.LHV1;
  c.dwStructVersion = 1;
  c.dwStructSize = sizeof(BE_CONFIG);
  c.dwSampleRate = kInputRate;
  c.nMode = BE_MP3_MODE_JSTEREO;
  c.dwBitrate = 128;
  c.dwMaxBitrate = 192;
  c.nPreset = LQP_VERYHIGH_QUALITY;
  c.dwMpegVersion = BE_MPEG1;
  c.bOriginal = 1;
  c.bEnableVBR = 1;
  c.nVBRQuality = 2;
  c.bNoRes = 1;
  return config;
}

// The tonal part of the test signal: a slowly swelling chord, a little different per channel.
double Tone(int channel, double t) {
  static const double kFreqs[] = {220.0, 277.18, 329.63, 440.0, 554.37};
  double sum = 0;
  for (int k = 0; k < 5; ++k) sum += std::sin(2 * M_PI * kFreqs[k] * t + k) / (k + 1);
  const double swell = 0.6 + 0.4 * std::sin(2 * M_PI * 0.5 * t);
  if (channel == 0) return sum * swell * 6000;
  return sum * swell * 5000 + std::sin(2 * M_PI * 660 * t) * 2000;
}

// Interleaved stereo at 44.1 kHz: the chord plus low-level noise, as music would have.
std::vector<int16_t> MakePcm(size_t frames) {
  std::vector<int16_t> pcm(frames * 2);
  uint32_t seed = 12345;
  for (size_t i = 0; i < frames; ++i) {
    for (int ch = 0; ch < 2; ++ch) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = (static_cast<double>(seed >> 16) / 65536.0 - 0.5) * 600;
      const double v = Tone(ch, static_cast<double>(i) / kInputRate) + noise;
      pcm[i * 2 + ch] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
  }
  return pcm;
}

struct Encoded {
  BE_ERR initResult = 0;
  bool ok = false;    // every encode call and the flush succeeded
  std::string bytes;  // the whole stream as written
};

// Drives the library the way the program does: chunks of the size it asks for, flush, close.
Encoded EncodeStream(const BE_CONFIG& config, const std::vector<int16_t>& pcm) {
  Encoded result;
  BE_CONFIG copy = config;
  uint32_t samples = 0, bufferSize = 0;
  HBE_STREAM stream = nullptr;
  result.initResult = gLib.init(&copy, &samples, &bufferSize, &stream);
  if (result.initResult != BE_ERR_SUCCESSFUL) return result;
  std::vector<uint8_t> out(bufferSize);
  bool ok = true;
  uint32_t produced = 0;
  for (size_t at = 0; at < pcm.size() && ok; at += samples) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(samples, pcm.size() - at));
    ok = gLib.encode(stream, n, pcm.data() + at, out.data(), &produced) == BE_ERR_SUCCESSFUL &&
         produced <= bufferSize;
    result.bytes.append(reinterpret_cast<const char*>(out.data()), produced);
  }
  result.ok = ok && gLib.deinit(stream, out.data(), &produced) == BE_ERR_SUCCESSFUL;
  result.bytes.append(reinterpret_cast<const char*>(out.data()), produced);
  EXPECT_EQ(gLib.close(stream), BE_ERR_SUCCESSFUL);
  return result;
}

struct FrameInfo {
  size_t offset = 0;
  size_t size = 0;
  int kbps = 0;
  int rate = 0;
  int channels = 0;
  int samples = 0;
  bool crc = false;
};

// Walks the Layer III frames of an MP3 byte string (up to `end`).
std::vector<FrameInfo> ParseFrames(const std::string& data, size_t end) {
  static const int kKbps[2][16] = {
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // MPEG-2/2.5
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};  // MPEG-1
  static const int kRates[3] = {44100, 48000, 32000};
  std::vector<FrameInfo> frames;
  size_t pos = 0;
  while (pos + 4 <= end) {
    const auto* b = reinterpret_cast<const uint8_t*>(data.data() + pos);
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0 || (b[1] & 0x06) != 0x02) break;
    const int versionBits = (b[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int brIndex = b[2] >> 4;
    const int srIndex = (b[2] >> 2) & 3;
    if (versionBits == 1 || brIndex == 0 || brIndex == 15 || srIndex == 3) break;
    FrameInfo f;
    const bool mpeg1 = versionBits == 3;
    f.offset = pos;
    f.kbps = kKbps[mpeg1][brIndex];
    f.rate = kRates[srIndex] / (mpeg1 ? 1 : versionBits == 2 ? 2 : 4);
    f.channels = (b[3] >> 6) == 3 ? 1 : 2;
    f.samples = mpeg1 ? 1152 : 576;
    f.crc = (b[1] & 1) == 0;
    f.size = static_cast<size_t>((mpeg1 ? 144000 : 72000) * f.kbps / f.rate + ((b[2] >> 1) & 1));
    if (pos + f.size > end) break;
    frames.push_back(f);
    pos += f.size;
  }
  EXPECT_EQ(pos, end) << "stray bytes after the last whole frame";
  return frames;
}

struct InfoTag {
  bool present = false;
  std::string id;  // "Xing" or "Info"
  uint32_t frames = 0;
};

uint32_t BigEndian32(const std::string& s, size_t at) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data() + at);
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

InfoTag ReadInfoTag(const std::string& data, const FrameInfo& first) {
  const bool mpeg1 = first.samples == 1152;
  const size_t sideInfo = mpeg1 ? (first.channels == 2 ? 32 : 17) : (first.channels == 2 ? 17 : 9);
  const size_t at = first.offset + 4 + (first.crc ? 2 : 0) + sideInfo;
  InfoTag tag;
  if (at + 12 > data.size()) return tag;
  tag.id = data.substr(at, 4);
  if (tag.id != "Xing" && tag.id != "Info") return tag;
  tag.present = true;
  if (BigEndian32(data, at + 4) & 1) tag.frames = BigEndian32(data, at + 8);
  return tag;
}

// Best normalised correlation of one decoded channel with the tonal part of the source (at
// the decoded rate; mono compares with the mean of both channels), over lags up to maxLag.
double Correlation(const Decoded& d, int channel, int maxLag) {
  const size_t n = d.frames();
  std::vector<double> ref(n), got(n);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / d.rate;
    ref[i] = d.channels == 1 ? (Tone(0, t) + Tone(1, t)) / 2 : Tone(channel, t);
    got[i] = d.samples[i * d.channels + channel];
  }
  double best = -1;
  for (int lag = -64; lag <= maxLag; ++lag) {
    double sxy = 0, sxx = 0, syy = 0;
    for (size_t i = 100; i + 100 + static_cast<size_t>(maxLag) < n; ++i) {
      const long j = static_cast<long>(i) + lag;
      sxy += ref[i] * got[j];
      sxx += ref[i] * ref[i];
      syy += got[j] * got[j];
    }
    if (sxx > 0 && syy > 0) best = std::max(best, sxy / std::sqrt(sxx * syy));
  }
  return best;
}

class LameEncTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    mpg123_init();
    gLib.handle = dlopen(BinPath("liblame_enc.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(gLib.handle, nullptr) << dlerror();
    gLib.init = reinterpret_cast<BEINITSTREAM>(dlsym(gLib.handle, TEXT_BEINITSTREAM));
    gLib.encode = reinterpret_cast<BEENCODECHUNK>(dlsym(gLib.handle, TEXT_BEENCODECHUNK));
    gLib.deinit = reinterpret_cast<BEDEINITSTREAM>(dlsym(gLib.handle, TEXT_BEDEINITSTREAM));
    gLib.close = reinterpret_cast<BECLOSESTREAM>(dlsym(gLib.handle, TEXT_BECLOSESTREAM));
    gLib.version = reinterpret_cast<BEVERSION>(dlsym(gLib.handle, TEXT_BEVERSION));
    gLib.writeVbrHeader =
        reinterpret_cast<BEWRITEVBRHEADER>(dlsym(gLib.handle, TEXT_BEWRITEVBRHEADER));
  }
  static void TearDownTestSuite() {
    if (gLib.handle) dlclose(gLib.handle);
    gLib = Library{};
  }
  void SetUp() override {
    ASSERT_TRUE(gLib.init && gLib.encode && gLib.deinit && gLib.close && gLib.version &&
                gLib.writeVbrHeader);
  }

  // Opens a stream the test must get; null (with a failure) when the library refuses it.
  static HBE_STREAM Open(BE_CONFIG config, uint32_t& samples, uint32_t& bufferSize) {
    HBE_STREAM stream = nullptr;
    EXPECT_EQ(gLib.init(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    return stream;
  }

  // Encodes `seconds` of the test signal with `config`, appends an ID3v1 tag, lets the
  // library write its info frame, then decodes the file and checks what every stream must
  // satisfy. Without an info frame the decoder cannot trim the encoder's delay and padding.
  void EncodeAndCheck(const BE_CONFIG& config, double seconds, long expectRate, int expectChannels,
                      bool expectInfo = true) {
    const auto inFrames = static_cast<size_t>(seconds * kInputRate);
    const std::string path = dir_ / "out.mp3";
    const Encoded enc = EncodeStream(config, MakePcm(inFrames));
    EXPECT_EQ(enc.initResult, BE_ERR_SUCCESSFUL);
    EXPECT_TRUE(enc.ok);
    std::string tag(128, '\0');
    WriteFile(path, enc.bytes + tag.replace(0, 8, "TAGtitle"));
    EXPECT_EQ(gLib.writeVbrHeader(path.c_str()) == BE_ERR_SUCCESSFUL, expectInfo);
    file_ = ReadFile(path);
    ASSERT_GT(file_.size(), 128u + 4u);
    EXPECT_EQ(file_.substr(file_.size() - 128, 8), "TAGtitle") << "ID3v1 tag must stay last";

    frames_ = ParseFrames(file_, file_.size() - 128);
    ASSERT_GT(frames_.size(), 2u);
    info_ = ReadInfoTag(file_, frames_.front());
    EXPECT_EQ(info_.present, expectInfo) << "Xing/Info frame at the start";
    if (expectInfo) {
      EXPECT_EQ(info_.frames, frames_.size() - 1) << "frame count of the info frame";
    }
    for (const FrameInfo& f : frames_) {
      EXPECT_EQ(f.rate, expectRate);
      EXPECT_EQ(f.channels, expectChannels);
    }

    const Decoded d = Decode(path);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.rate, expectRate);
    ASSERT_EQ(d.channels, expectChannels);
    const double expectFrames = static_cast<double>(inFrames) * expectRate / kInputRate;
    const int frameSamples = frames_.front().samples;
    if (expectInfo) {
      EXPECT_NEAR(static_cast<double>(d.frames()), expectFrames, frameSamples) << "decoded length";
    } else {
      EXPECT_GE(static_cast<double>(d.frames()), expectFrames);
      EXPECT_LE(static_cast<double>(d.frames()), expectFrames + 4 * frameSamples);
    }
    ASSERT_GT(d.frames(), 1000u);
    for (int ch = 0; ch < d.channels; ++ch) {
      // Without the info frame's delay the decoded audio starts up to two frames late.
      const int maxLag = expectInfo ? 64 : 2 * frameSamples + 64;
      EXPECT_GT(Correlation(d, ch, maxLag), 0.9) << "channel " << ch;
    }
  }

  // Audio frames only: the info frame is left out.
  std::vector<int> AudioBitrates() const {
    std::vector<int> kbps;
    for (size_t i = 1; i < frames_.size(); ++i) kbps.push_back(frames_[i].kbps);
    return kbps;
  }

  TempDir dir_;
  std::string file_;
  std::vector<FrameInfo> frames_;
  InfoTag info_;
};

TEST_F(LameEncTest, ProgramDefaultsGiveVbrQuality2Within128To192) {
  EncodeAndCheck(ProgramDefaults(), 3.0, 44100, 2);
  EXPECT_EQ(info_.id, "Xing");
  const std::vector<int> kbps = AudioBitrates();
  ASSERT_FALSE(kbps.empty());
  EXPECT_GE(*std::min_element(kbps.begin(), kbps.end()), 128);
  EXPECT_LE(*std::max_element(kbps.begin(), kbps.end()), 192);
  // The LAME extension carries the encoder's name right after the Xing fields.
  EXPECT_NE(file_.find("LAME", 0), std::string::npos);
}

// Changes to the program's defaults and what the stream must then be.
struct EncodeCase {
  const char* name;
  int32_t mode = BE_MP3_MODE_JSTEREO;
  uint32_t reSampleRate = 0;
  int32_t enableVbr = 1;
  long rate = 44100;
  int channels = 2;
  int cbrKbps = 0;  // every audio frame has this bitrate and the info frame says "Info"
  uint32_t bitrate = 128;
  int32_t preset = LQP_VERYHIGH_QUALITY;
  bool info = true;  // false: frames too small to hold an info frame
};

EncodeCase Preset(const char* name, int32_t preset, long rate = 44100, int channels = 2,
                  int cbrKbps = 0, bool info = true) {
  return {name, BE_MP3_MODE_JSTEREO, 0, 1, rate, channels, cbrKbps, 128, preset, info};
}

class LameEncFormatTest : public LameEncTest, public ::testing::WithParamInterface<EncodeCase> {};

TEST_P(LameEncFormatTest, RateChannelsAndBitratesAsRequested) {
  const EncodeCase& p = GetParam();
  BE_CONFIG config = ProgramDefaults();
  auto& c = config.format.LHV1;
  c.nPreset = p.preset;
  c.nMode = p.mode;
  c.dwReSampleRate = p.reSampleRate;
  c.bEnableVBR = p.enableVbr;
  c.dwBitrate = p.bitrate;
  c.dwVbrAbr_bps = 160000;
  EncodeAndCheck(config, 1.0, p.rate, p.channels, p.info);
  if (p.info) {
    EXPECT_EQ(info_.id, p.cbrKbps ? "Info" : "Xing");
  }
  if (p.cbrKbps != 0) {
    for (int kbps : AudioBitrates()) ASSERT_EQ(kbps, p.cbrKbps);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LameEncFormatTest,
    ::testing::Values(
        EncodeCase{"Stereo", BE_MP3_MODE_STEREO},
        EncodeCase{"MonoMixesDown", BE_MP3_MODE_MONO, 0, 1, 44100, 1},
        EncodeCase{"Resample48000", BE_MP3_MODE_JSTEREO, 48000, 1, 48000},
        EncodeCase{"Resample32000Mono", BE_MP3_MODE_MONO, 32000, 1, 32000, 1},
        EncodeCase{"Resample22050Cbr", BE_MP3_MODE_JSTEREO, 22050, 0, 22050, 2, 128},
        EncodeCase{"DualChannelCbr", BE_MP3_MODE_DUALCHANNEL, 0, 0, 44100, 2, 128},
        EncodeCase{"Cbr160", BE_MP3_MODE_JSTEREO, 0, 0, 44100, 2, 160, 160},
        Preset("None", LQP_NOPRESET), Preset("Normal", LQP_NORMAL_QUALITY),
        Preset("Low", LQP_LOW_QUALITY), Preset("High", LQP_HIGH_QUALITY),
        Preset("VoiceQuality", LQP_VOICE_QUALITY, 44100, 1), Preset("R3mix", LQP_R3MIX),
        Preset("Standard", LQP_STANDARD), Preset("FastStandard", LQP_FAST_STANDARD),
        Preset("Extreme", LQP_EXTREME), Preset("FastExtreme", LQP_FAST_EXTREME),
        Preset("Insane", LQP_INSANE, 44100, 2, 320), Preset("Abr", LQP_ABR),
        Preset("Cbr", LQP_CBR, 44100, 2, 128), Preset("Phone", LQP_PHONE, 8000, 1, 16, false),
        Preset("Sw", LQP_SW, 11025, 1, 24, false), Preset("Am", LQP_AM, 16000, 1, 40),
        Preset("Fm", LQP_FM, 32000, 2, 112), Preset("Voice", LQP_VOICE, 32000, 1, 56),
        Preset("Radio", LQP_RADIO, 44100, 2, 112), Preset("Tape", LQP_TAPE, 44100, 2, 128),
        Preset("Hifi", LQP_HIFI, 44100, 2, 160), Preset("Cd", LQP_CD, 44100, 2, 192),
        Preset("Studio", LQP_STUDIO, 44100, 2, 256)),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LameEncTest, InvalidConfigurationsOpenNoStream) {
  struct Case {
    const char* what;
    void (*change)(BE_CONFIG&);
    BE_ERR expect = BE_ERR_INVALID_FORMAT_PARAMETERS;
  };
  const Case cases[] = {
      {"dwConfig", [](BE_CONFIG& c) { c.dwConfig = 0; }, BE_ERR_INVALID_FORMAT},
      {"dwStructSize", [](BE_CONFIG& c) { c.format.LHV1.dwStructSize = 330; }},
      {"dwStructVersion", [](BE_CONFIG& c) { c.format.LHV1.dwStructVersion = 0; }},
      {"rate 0", [](BE_CONFIG& c) { c.format.LHV1.dwSampleRate = 0; }},
      {"rate 44000", [](BE_CONFIG& c) { c.format.LHV1.dwSampleRate = 44000; }},
      {"output 96000", [](BE_CONFIG& c) { c.format.LHV1.dwReSampleRate = 96000; }},
      {"mode 4", [](BE_CONFIG& c) { c.format.LHV1.nMode = 4; }},
      {"preset 13", [](BE_CONFIG& c) { c.format.LHV1.nPreset = 13; }},
      {"vbr method 5", [](BE_CONFIG& c) { c.format.LHV1.nVbrMethod = 5; }},
      {"nQuality", [](BE_CONFIG& c) { c.format.LHV1.nQuality = 0x1234; }},
  };
  for (const Case& tc : cases) {
    BE_CONFIG config = ProgramDefaults();
    tc.change(config);
    uint32_t samples = 99, bufferSize = 99;
    HBE_STREAM stream = reinterpret_cast<HBE_STREAM>(uintptr_t{1});
    EXPECT_EQ(gLib.init(&config, &samples, &bufferSize, &stream), tc.expect) << tc.what;
    EXPECT_EQ(stream, nullptr) << tc.what;
    EXPECT_EQ(samples + bufferSize, 0u) << tc.what;
  }
  BE_CONFIG config = ProgramDefaults();
  uint32_t samples = 0, bufferSize = 0;
  EXPECT_NE(gLib.init(&config, &samples, &bufferSize, nullptr), BE_ERR_SUCCESSFUL);
  HBE_STREAM stream = nullptr;
  EXPECT_NE(gLib.init(nullptr, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(stream, nullptr);
}

TEST_F(LameEncTest, ChunkLimitsAreEnforcedAndMonoMixdownLeavesTheInputAlone) {
  BE_CONFIG config = ProgramDefaults();
  config.format.LHV1.nMode = BE_MP3_MODE_MONO;
  uint32_t samples = 0, bufferSize = 0;
  HBE_STREAM stream = Open(config, samples, bufferSize);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(samples % 2, 0u);
  EXPECT_GE(samples, 2u * kFrameSamples);
  EXPECT_GE(bufferSize, samples / 2 * 5 / 4 + 7200) << "below libmp3lame's worst-case bound";

  const std::vector<int16_t> pcm = MakePcm(samples / 2 + 1);
  std::vector<int16_t> input = pcm;
  std::vector<uint8_t> out(bufferSize);
  uint32_t produced = 77;
  EXPECT_EQ(gLib.encode(stream, samples + 2, input.data(), out.data(), &produced),
            BE_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(gLib.encode(stream, 1001, input.data(), out.data(), &produced),
            BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(gLib.encode(stream, 1000, nullptr, out.data(), &produced),
            BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(gLib.encode(stream, 0, nullptr, out.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(gLib.encode(stream, samples, input.data(), out.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_LE(produced, bufferSize);
  EXPECT_EQ(input, pcm);
  EXPECT_EQ(gLib.deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(gLib.close(stream), BE_ERR_SUCCESSFUL);
}

// The worst case for the output buffer: full-scale noise at the highest bitrate, upsampled
// from the lowest rate so each chunk makes six times as many frames.
TEST_F(LameEncTest, OutputBufferHoldsTheWorstCase) {
  BE_CONFIG config = ProgramDefaults();
  auto& c = config.format.LHV1;
  c.dwSampleRate = 8000;
  c.dwReSampleRate = 48000;
  c.nMode = BE_MP3_MODE_STEREO;
  c.nPreset = LQP_NORMAL_QUALITY;
  c.bEnableVBR = 0;
  c.dwBitrate = 320;
  uint32_t samples = 0, bufferSize = 0, produced = 0;
  HBE_STREAM stream = Open(config, samples, bufferSize);
  ASSERT_NE(stream, nullptr);
  std::vector<int16_t> pcm(samples);
  std::vector<uint8_t> out(bufferSize);
  uint32_t seed = 1;
  uint64_t total = 0;
  for (int chunk = 0; chunk < 3; ++chunk) {
    for (int16_t& s : pcm) s = static_cast<int16_t>((seed = seed * 1664525u + 1013904223u) >> 16);
    ASSERT_EQ(gLib.encode(stream, samples, pcm.data(), out.data(), &produced), BE_ERR_SUCCESSFUL);
    ASSERT_LE(produced, bufferSize);
    total += produced;
  }
  ASSERT_EQ(gLib.deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(gLib.close(stream), BE_ERR_SUCCESSFUL);
  // 3 chunks of input at 8 kHz are 3 * 6 * samples / 2 output samples per channel at 320 kbps.
  EXPECT_GT(total + produced, 3u * 6 * samples / 2 * 320000 / 8 / 48000 * 9 / 10);
}

TEST_F(LameEncTest, StaleAndForeignHandlesAreRefused) {
  uint8_t out[16];
  uint32_t produced = 0, samples = 0, bufferSize = 0;
  const int16_t pcm[4] = {};
  const auto foreign = reinterpret_cast<HBE_STREAM>(uintptr_t{0xdeadbeef});
  EXPECT_EQ(gLib.encode(foreign, 4, pcm, out, &produced), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(gLib.deinit(foreign, out, &produced), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(gLib.close(foreign), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(gLib.close(nullptr), BE_ERR_INVALID_HANDLE);

  HBE_STREAM stream = Open(ProgramDefaults(), samples, bufferSize);
  ASSERT_NE(stream, nullptr);
  std::vector<uint8_t> big(bufferSize);
  ASSERT_EQ(gLib.deinit(stream, big.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(gLib.encode(stream, 4, pcm, big.data(), &produced), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(gLib.deinit(stream, big.data(), &produced), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(gLib.close(stream), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(gLib.close(stream), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(gLib.encode(stream, 4, pcm, big.data(), &produced), BE_ERR_INVALID_HANDLE);
}

TEST_F(LameEncTest, EmptyStreamStillGetsItsInfoFrame) {
  const std::string path = dir_ / "empty.mp3";
  const Encoded enc = EncodeStream(ProgramDefaults(), {});
  ASSERT_TRUE(enc.ok);
  WriteFile(path, enc.bytes);
  EXPECT_EQ(gLib.writeVbrHeader(path.c_str()), BE_ERR_SUCCESSFUL);
  file_ = ReadFile(path);
  frames_ = ParseFrames(file_, file_.size());
  ASSERT_FALSE(frames_.empty());
  const InfoTag tag = ReadInfoTag(file_, frames_.front());
  EXPECT_TRUE(tag.present);
  EXPECT_EQ(tag.frames, frames_.size() - 1);
  const Decoded d = Decode(path);
  EXPECT_TRUE(d.ok);
  EXPECT_LE(d.frames(), static_cast<size_t>(kFrameSamples));
}

TEST_F(LameEncTest, VbrHeaderOnlyGoesIntoTheMatchingFileAndOnlyOnce) {
  const Encoded enc = EncodeStream(ProgramDefaults(), MakePcm(4 * kFrameSamples));
  ASSERT_TRUE(enc.ok);
  const std::string& bytes = enc.bytes;
  // A file one byte too long or with other content does not match the flushed stream.
  for (const auto& [name, content] : {std::pair{"longer.mp3", bytes + "x"},
                                      std::pair{"other.bin", std::string(bytes.size(), 'j')}}) {
    WriteFile(dir_ / name, content);
    EXPECT_NE(gLib.writeVbrHeader((dir_ / name).c_str()), BE_ERR_SUCCESSFUL) << name;
    EXPECT_EQ(ReadFile(dir_ / name), content) << name;
  }
  EXPECT_NE(gLib.writeVbrHeader((dir_ / "missing.mp3").c_str()), BE_ERR_SUCCESSFUL);
  EXPECT_NE(gLib.writeVbrHeader(nullptr), BE_ERR_SUCCESSFUL);

  const std::string right = dir_ / "right.mp3";
  WriteFile(right, bytes);
  EXPECT_EQ(gLib.writeVbrHeader(right.c_str()), BE_ERR_SUCCESSFUL);
  const std::string written = ReadFile(right);
  ASSERT_EQ(written.size(), bytes.size());
  EXPECT_NE(written, bytes);
  const std::vector<FrameInfo> frames = ParseFrames(written, written.size());
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(written.substr(frames[0].size), bytes.substr(frames[0].size)) << "audio untouched";
  EXPECT_TRUE(ReadInfoTag(written, frames[0]).present);
  EXPECT_NE(gLib.writeVbrHeader(right.c_str()), BE_ERR_SUCCESSFUL) << "nothing left to write";
  EXPECT_EQ(ReadFile(right), written);
}

TEST_F(LameEncTest, VersionFillsATerminatedHomepageAndToleratesNull) {
  BE_VERSION v;
  std::memset(&v, 0xAA, sizeof v);
  gLib.version(&v);
  EXPECT_EQ(v.byDLLMajorVersion, 1);
  EXPECT_NE(std::memchr(v.zHomepage, '\0', sizeof v.zHomepage), nullptr);
  EXPECT_GT(std::strlen(v.zHomepage), 0u);
  gLib.version(nullptr);
}

}  // namespace
