// liblame_enc.so, loaded the way the program loads it, checked by decoding what it writes.
// Guards:
// - the program's defaults: VBR within 128..192 kbps, an info frame counting the frames, the
//   track's length and waveform after decoding, the ID3v1 tag left last
// - each VBR quality its own stream (lame-vbr-quality-clamp)
// - modes, output rates, CBR and every preset: rate, channels and bitrates of the stream
// - invalid blocks, chunks too long or odd, stale and foreign handles refused; the output
//   buffer big enough for the worst case
// - the info frame only into the file holding that stream, once, also for an empty stream
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

#include <gtest/gtest.h>

#include "encoders/lame_enc/lame_enc.h"
#include "support/mp3_decode.h"
#include "support/test_env.h"

namespace {

struct Library {
  void* handle = dlopen(BinPath("liblame_enc.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  template <typename F>
  F Get(const char* name) const {
    return reinterpret_cast<F>(dlsym(handle, name));
  }
  BEINITSTREAM init = Get<BEINITSTREAM>(TEXT_BEINITSTREAM);
  BEENCODECHUNK encode = Get<BEENCODECHUNK>(TEXT_BEENCODECHUNK);
  BEDEINITSTREAM deinit = Get<BEDEINITSTREAM>(TEXT_BEDEINITSTREAM);
  BECLOSESTREAM close = Get<BECLOSESTREAM>(TEXT_BECLOSESTREAM);
  BEWRITEVBRHEADER writeVbrHeader = Get<BEWRITEVBRHEADER>(TEXT_BEWRITEVBRHEADER);
};
const Library& Lib() {
  static const Library library;
  return library;
}

// What the program sends with its default MP3 settings.
BE_CONFIG Defaults() {
  BE_CONFIG config;
  std::memset(&config, 0, sizeof config);
  config.dwConfig = BE_CONFIG_LAME;
  auto& c = config.format.LHV1;
  c.dwStructVersion = 1;
  c.dwStructSize = sizeof(BE_CONFIG);
  c.dwSampleRate = 44100;
  c.dwBitrate = 128;
  c.dwMaxBitrate = 192;
  c.nPreset = LQP_VERYHIGH_QUALITY;
  c.dwMpegVersion = c.bOriginal = c.bEnableVBR = c.bNoRes = 1;
  c.nVBRQuality = 2;
  return config;
}

// A slowly swelling chord, a little different per channel.
double Tone(int channel, double t) {
  double sum = 0;
  for (int k = 0; k < 5; ++k) sum += std::sin(2 * M_PI * 220 * (1 + k / 4.0) * t + k) / (k + 1);
  const double swell = 0.6 + 0.4 * std::sin(M_PI * t);
  return channel ? sum * swell * 5000 + std::sin(2 * M_PI * 660 * t) * 2000 : sum * swell * 6000;
}

// Interleaved stereo at 44.1 kHz: the chord plus low-level noise, as music would have.
std::vector<int16_t> Music(std::size_t frames) {
  std::vector<int16_t> pcm(frames * 2);
  uint32_t seed = 12345;
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    pcm[i] = static_cast<int16_t>(Tone(i % 2, (i / 2) / 44100.0) + (seed >> 16) % 600 - 300.0);
  }
  return pcm;
}

// Drives the library as the program does: chunks of the size it asks for, flush, close.
// The whole stream; "refused" when the block is not accepted.
std::string Encode(BE_CONFIG config, const std::vector<int16_t>& pcm) {
  uint32_t samples = 0, size = 0, produced = 0;
  HBE_STREAM stream = nullptr;
  if (Lib().init(&config, &samples, &size, &stream) != BE_ERR_SUCCESSFUL) return "refused";
  std::vector<uint8_t> out(size);
  std::string bytes;
  for (std::size_t at = 0; at < pcm.size(); at += samples) {
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(samples, pcm.size() - at));
    EXPECT_EQ(Lib().encode(stream, n, pcm.data() + at, out.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_LE(produced, size);
    bytes.append(reinterpret_cast<const char*>(out.data()), produced);
  }
  EXPECT_EQ(Lib().deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
  bytes.append(reinterpret_cast<const char*>(out.data()), produced);
  EXPECT_EQ(Lib().close(stream), BE_ERR_SUCCESSFUL);
  return bytes;
}

// The bitrates of the Layer III frames of `data`, which must hold nothing else.
std::vector<int> Bitrates(const std::string& data) {
  static const int kKbps[2][15] = {
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
  std::vector<int> kbps;
  std::size_t at = 0;
  while (at + 4 <= data.size()) {
    const auto* b = reinterpret_cast<const uint8_t*>(data.data() + at);
    const int version = (b[1] >> 3) & 3, index = b[2] >> 4, rate = (b[2] >> 2) & 3;
    if (b[0] != 0xFF || (b[1] & 0xE6) != 0xE2 || version == 1 || index % 15 == 0 || rate == 3)
      break;
    const bool mpeg1 = version == 3;
    kbps.push_back(kKbps[mpeg1][index]);
    const int hz = std::array{44100, 48000, 32000}[rate] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    at += (mpeg1 ? 144000 : 72000) * kbps.back() / hz + ((b[2] >> 1) & 1);
  }
  EXPECT_EQ(at, data.size()) << "bytes that are not a frame";
  return kbps;
}

// The frame count of the info frame at the start of `data` ("Xing" or "Info"); -1 if none.
long InfoFrames(const std::string& data, const char* id) {
  const std::size_t at = data.find(id);
  if (at > 64) return -1;
  const auto* p = reinterpret_cast<const uint8_t*>(data.data() + at + 8);
  return long{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Best normalised correlation of a decoded channel with the chord, over small lags.
double Correlation(const Decoded& d, int channel) {
  std::vector<double> want(d.frames());
  for (std::size_t i = 0; i < want.size(); ++i) {
    const double t = static_cast<double>(i) / d.rate;
    want[i] = d.channels == 1 ? (Tone(0, t) + Tone(1, t)) / 2 : Tone(channel, t);
  }
  double best = -1;
  for (int lag = -64; lag <= 64; ++lag) {
    double xy = 0, xx = 0, yy = 0;
    for (std::size_t i = 100; i + 200 < want.size(); ++i) {
      const double got = d.samples[(i + lag) * d.channels + channel];
      xy += want[i] * got, xx += want[i] * want[i], yy += got * got;
    }
    best = std::max(best, xy / std::sqrt(xx * yy + 1e-9));
  }
  return best;
}

class LameEnc : public ::testing::Test {
 protected:
  // Encodes `seconds` of music, appends a tag and lets the library write its info frame; the
  // audio frames' bitrates. Checks what every stream must satisfy.
  std::vector<int> EncodeAndCheck(const BE_CONFIG& config, double seconds, long rate, int channels,
                                  const char* info = "Xing") {
    const auto frames = static_cast<std::size_t>(seconds * 44100);
    const std::string stream = Encode(config, Music(frames));
    const std::string path = dir_ / "out.mp3", tag = "TAGtitle" + std::string(120, '\0');
    WriteFile(path, stream + tag);
    EXPECT_EQ(Lib().writeVbrHeader(path.c_str()), info ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_HANDLE);
    const std::string file = ReadFile(path);
    EXPECT_EQ(file.substr(file.size() - 128), tag);
    std::vector<int> kbps = Bitrates(file.substr(0, file.size() - 128));
    if (info) {
      EXPECT_EQ(InfoFrames(file, info), static_cast<long>(kbps.size()) - 1);
      kbps.erase(kbps.begin());
    }
    const Decoded d = Decode(path);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.rate, rate);
    EXPECT_EQ(d.channels, channels);
    // Without an info frame the decoder cannot trim the encoder's delay and padding.
    const double length = frames * static_cast<double>(rate) / 44100;
    EXPECT_NEAR(static_cast<double>(d.frames()), length + (info ? 0 : 1000), info ? 1152 : 1400);
    for (int ch = 0; info && ch < d.channels; ++ch) EXPECT_GT(Correlation(d, ch), 0.9) << ch;
    return kbps;
  }
  TempDir dir_;
};

TEST_F(LameEnc, DefaultsAndEachVbrQuality) {
  const std::vector<int> kbps = EncodeAndCheck(Defaults(), 3.0, 44100, 2);
  EXPECT_GE(*std::min_element(kbps.begin(), kbps.end()), 128);
  EXPECT_LE(*std::max_element(kbps.begin(), kbps.end()), 192);
  // Over the full bitrate range a better quality never makes a smaller stream.
  std::size_t previous = SIZE_MAX;
  for (int quality = 0; quality <= 9; ++quality) {
    BE_CONFIG config = Defaults();
    config.format.LHV1.nVBRQuality = quality;
    config.format.LHV1.dwBitrate = config.format.LHV1.dwMaxBitrate = 0;
    const std::size_t size = Encode(config, Music(44100)).size();
    EXPECT_LT(size, previous) << "quality " << quality;
    previous = size;
  }
}

TEST_F(LameEnc, ModesRatesAndPresets) {
  // Changes to the defaults, and the stream's rate, channels and (CBR) bitrate; "-": too small
  // for an info frame.
  const struct {
    int32_t preset, mode;
    uint32_t resample;
    int32_t vbr;
    long rate;
    int channels, cbr;
    const char* info = "Xing";
  } rows[] = {
      {LQP_VERYHIGH_QUALITY, BE_MP3_MODE_STEREO, 0, 1, 44100, 2, 0},
      {LQP_VERYHIGH_QUALITY, BE_MP3_MODE_MONO, 0, 1, 44100, 1, 0},
      {LQP_VERYHIGH_QUALITY, BE_MP3_MODE_JSTEREO, 48000, 1, 48000, 2, 0},
      {LQP_VERYHIGH_QUALITY, BE_MP3_MODE_MONO, 32000, 1, 32000, 1, 0},
      {LQP_VERYHIGH_QUALITY, BE_MP3_MODE_JSTEREO, 22050, 0, 22050, 2, 128, "Info"},
      {LQP_VERYHIGH_QUALITY, BE_MP3_MODE_DUALCHANNEL, 0, 0, 44100, 2, 128, "Info"},
      {LQP_NOPRESET, 1, 0, 1, 44100, 2, 0},
      {LQP_NORMAL_QUALITY, 1, 0, 1, 44100, 2, 0},
      {LQP_LOW_QUALITY, 1, 0, 1, 44100, 2, 0},
      {LQP_HIGH_QUALITY, 1, 0, 1, 44100, 2, 0},
      {LQP_VOICE_QUALITY, 1, 0, 1, 44100, 1, 0},
      {LQP_R3MIX, 1, 0, 1, 44100, 2, 0},
      {LQP_STANDARD, 1, 0, 1, 44100, 2, 0},
      {LQP_FAST_STANDARD, 1, 0, 1, 44100, 2, 0},
      {LQP_EXTREME, 1, 0, 1, 44100, 2, 0},
      {LQP_FAST_EXTREME, 1, 0, 1, 44100, 2, 0},
      {LQP_INSANE, 1, 0, 1, 44100, 2, 320, "Info"},
      {LQP_ABR, 1, 0, 1, 44100, 2, 0},
      {LQP_CBR, 1, 0, 1, 44100, 2, 128, "Info"},
      {LQP_PHONE, 1, 0, 1, 8000, 1, 16, nullptr},
      {LQP_SW, 1, 0, 1, 11025, 1, 24, nullptr},
      {LQP_AM, 1, 0, 1, 16000, 1, 40, "Info"},
      {LQP_FM, 1, 0, 1, 32000, 2, 112, "Info"},
      {LQP_VOICE, 1, 0, 1, 32000, 1, 56, "Info"},
      {LQP_RADIO, 1, 0, 1, 44100, 2, 112, "Info"},
      {LQP_TAPE, 1, 0, 1, 44100, 2, 128, "Info"},
      {LQP_HIFI, 1, 0, 1, 44100, 2, 160, "Info"},
      {LQP_CD, 1, 0, 1, 44100, 2, 192, "Info"},
      {LQP_STUDIO, 1, 0, 1, 44100, 2, 256, "Info"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.preset << " mode " << row.mode << " " << row.resample);
    BE_CONFIG config = Defaults();
    auto& c = config.format.LHV1;
    std::tie(c.nPreset, c.nMode, c.dwReSampleRate, c.bEnableVBR) =
        std::tuple(row.preset, row.mode, row.resample, row.vbr);
    c.dwVbrAbr_bps = 160000;
    const std::vector<int> kbps = EncodeAndCheck(config, 1.0, row.rate, row.channels, row.info);
    EXPECT_EQ(kbps, row.cbr ? std::vector<int>(kbps.size(), row.cbr) : kbps);
  }
}

TEST_F(LameEnc, RefusesInvalidBlocksChunksAndHandles) {
  const std::pair<void (*)(BE_CONFIG&), BE_ERR> blocks[] = {
      {[](BE_CONFIG& c) { c.dwConfig = 0; }, BE_ERR_INVALID_FORMAT},
      {[](BE_CONFIG& c) { c.format.LHV1.dwStructSize = 330; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
      {[](BE_CONFIG& c) { c.format.LHV1.dwStructVersion = 0; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
      {[](BE_CONFIG& c) { c.format.LHV1.dwSampleRate = 44000; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
      {[](BE_CONFIG& c) { c.format.LHV1.dwReSampleRate = 96000; },
       BE_ERR_INVALID_FORMAT_PARAMETERS},
      {[](BE_CONFIG& c) { c.format.LHV1.nMode = 4; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
      {[](BE_CONFIG& c) { c.format.LHV1.nPreset = 13; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
      {[](BE_CONFIG& c) { c.format.LHV1.nVbrMethod = 5; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
      {[](BE_CONFIG& c) { c.format.LHV1.nQuality = 0x1234; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
  };
  for (const auto& [change, error] : blocks) {
    BE_CONFIG config = Defaults();
    change(config);
    uint32_t samples = 99, size = 99;
    HBE_STREAM stream = reinterpret_cast<HBE_STREAM>(uintptr_t{1});
    EXPECT_EQ(Lib().init(&config, &samples, &size, &stream), error);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(samples + size, 0u);
  }

  // Chunks too long, odd or without samples; the input is left as it was, also by the mix to
  // mono.
  BE_CONFIG config = Defaults();
  config.format.LHV1.nMode = BE_MP3_MODE_MONO;
  uint32_t samples = 0, size = 0, produced = 77;
  HBE_STREAM stream = nullptr;
  ASSERT_EQ(Lib().init(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
  const std::vector<int16_t> pcm = Music(samples / 2 + 1);
  std::vector<int16_t> in = pcm;
  std::vector<uint8_t> out(size);
  EXPECT_EQ(Lib().encode(stream, samples + 2, in.data(), out.data(), &produced),
            BE_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(Lib().encode(stream, 1001, in.data(), out.data(), &produced),
            BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(Lib().encode(stream, 1000, nullptr, out.data(), &produced),
            BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(Lib().encode(stream, samples, in.data(), out.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(in, pcm);
  // A flushed stream takes nothing more; a closed or a foreign handle nothing at all.
  EXPECT_EQ(Lib().deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(Lib().encode(stream, 4, in.data(), out.data(), &produced), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(Lib().deinit(stream, out.data(), &produced), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(Lib().close(stream), BE_ERR_SUCCESSFUL);
  for (HBE_STREAM gone : {stream, reinterpret_cast<HBE_STREAM>(uintptr_t{0xdeadbeef})}) {
    EXPECT_EQ(Lib().encode(gone, 4, in.data(), out.data(), &produced), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(Lib().close(gone), BE_ERR_INVALID_HANDLE);
  }
}

TEST_F(LameEnc, OutputBufferHoldsTheWorstCase) {
  // Full-scale noise at the highest bitrate, upsampled from the lowest rate so that each chunk
  // makes six times as many frames. Encode checks that every chunk fits.
  BE_CONFIG config = Defaults();
  auto& c = config.format.LHV1;
  std::tie(c.dwSampleRate, c.dwReSampleRate, c.nPreset, c.bEnableVBR, c.dwBitrate) =
      std::tuple(8000u, 48000u, LQP_NORMAL_QUALITY, 0, 320u);
  std::vector<int16_t> noise(3 * 18432);
  uint32_t seed = 1;
  for (int16_t& s : noise) s = static_cast<int16_t>((seed = seed * 1664525u + 1013904223u) >> 16);
  // 320 kbps for the six times as many samples at 48 kHz.
  EXPECT_GT(Encode(config, noise).size(), 0.9 * noise.size() / 2 * 6 / 48000 * 40000);
}

TEST_F(LameEnc, InfoFrameOnlyIntoTheFileHoldingItsStreamAndOnce) {
  const std::string stream = Encode(Defaults(), Music(4 * 1152));
  const std::string path = dir_ / "out.mp3", other(stream.size(), 'j');
  for (const std::string& content : {stream + "x", other}) {
    WriteFile(path, content);
    EXPECT_NE(Lib().writeVbrHeader(path.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(ReadFile(path), content);
  }
  EXPECT_NE(Lib().writeVbrHeader((dir_ / "missing.mp3").c_str()), BE_ERR_SUCCESSFUL);
  WriteFile(path, stream);
  EXPECT_EQ(Lib().writeVbrHeader(path.c_str()), BE_ERR_SUCCESSFUL);
  const std::string written = ReadFile(path);
  ASSERT_EQ(written.size(), stream.size());
  // Only the first frame changes (no frame is longer than 1441 bytes).
  EXPECT_EQ(written.substr(1441), stream.substr(1441));
  EXPECT_EQ(InfoFrames(written, "Xing"), static_cast<long>(Bitrates(written).size()) - 1);
  EXPECT_NE(Lib().writeVbrHeader(path.c_str()), BE_ERR_SUCCESSFUL) << "nothing left to write";
  EXPECT_EQ(ReadFile(path), written);
  // An empty stream has its info frame too.
  WriteFile(path, Encode(Defaults(), {}));
  EXPECT_EQ(Lib().writeVbrHeader(path.c_str()), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(InfoFrames(ReadFile(path), "Xing"),
            static_cast<long>(Bitrates(ReadFile(path)).size()) - 1);
}

}  // namespace
