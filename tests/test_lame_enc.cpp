// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// liblame_enc.so, loaded the way the program loads it, checked by decoding what it writes.
// Guards:
// - modes, output rates, CBR and the presets: rate, channels, length and bitrate of the stream;
//   the program's defaults within 128..192 kbps
// - each VBR quality its own stream (lame-vbr-quality-clamp)
// - the info frame written only into the file holding its stream, once, before an ID3v1 tag,
//   also for an empty stream
// - chunks too long, stale and foreign handles refused; every chunk fits the output buffer
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "encoders/lame_enc/lame_enc.h"
#include "support/decode.h"
#include "support/test_env.h"

namespace {

struct Library {
  void* handle = dlopen(BinPath("liblame_enc.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  BEINITSTREAM init = reinterpret_cast<BEINITSTREAM>(dlsym(handle, TEXT_BEINITSTREAM));
  BEENCODECHUNK encode = reinterpret_cast<BEENCODECHUNK>(dlsym(handle, TEXT_BEENCODECHUNK));
  BEDEINITSTREAM deinit = reinterpret_cast<BEDEINITSTREAM>(dlsym(handle, TEXT_BEDEINITSTREAM));
  BECLOSESTREAM close = reinterpret_cast<BECLOSESTREAM>(dlsym(handle, TEXT_BECLOSESTREAM));
  BEWRITEVBRHEADER vbrHeader =
      reinterpret_cast<BEWRITEVBRHEADER>(dlsym(handle, TEXT_BEWRITEVBRHEADER));
} const lib;

// What the program sends with its default MP3 settings, with another preset, mode, output
// rate or VBR switch.
BE_CONFIG Config(int32_t preset = LQP_VERYHIGH_QUALITY, int32_t mode = BE_MP3_MODE_JSTEREO,
                 uint32_t outRate = 0, int32_t vbr = 1) {
  BE_CONFIG config;
  std::memset(&config, 0, sizeof config);
  config.dwConfig = BE_CONFIG_LAME;
  auto& c = config.format.LHV1;
  c.dwStructVersion = c.dwMpegVersion = c.bOriginal = c.bNoRes = 1;
  c.dwStructSize = sizeof(BE_CONFIG);
  std::tie(c.dwSampleRate, c.dwReSampleRate, c.nMode, c.nPreset) =
      std::tuple(44100u, outRate, mode, preset);
  std::tie(c.dwBitrate, c.dwMaxBitrate, c.bEnableVBR, c.nVBRQuality) =
      std::tuple(128u, 192u, vbr, 2);
  return config;
}

// Stereo at 44.1 kHz: a chord on each side plus low-level noise, as music would have.
std::vector<int16_t> Music(std::size_t frames) {
  std::vector<int16_t> pcm(frames * 2);
  uint32_t seed = 12345;
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    const double t = static_cast<double>(i / 2) / 44100;
    seed = seed * 1664525u + 1013904223u;
    double v = static_cast<double>(seed >> 16) / 65536 * 600 - 300;
    for (int k = 1; k < 6; ++k) v += 5000 / k * std::sin(2 * M_PI * (220 + i % 2 * 110) * k * t);
    pcm[i] = static_cast<int16_t>(v);
  }
  return pcm;
}

// The whole stream, made as the program makes it: chunks of the size asked for, flush, close.
std::string Encode(BE_CONFIG config, const std::vector<int16_t>& pcm) {
  uint32_t samples = 0, size = 0, produced = 0;
  HBE_STREAM stream = nullptr;
  EXPECT_EQ(lib.init(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
  std::vector<uint8_t> out(size);
  std::string bytes;
  for (std::size_t at = 0; at < pcm.size(); at += samples) {
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(samples, pcm.size() - at));
    EXPECT_EQ(lib.encode(stream, n, pcm.data() + at, out.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_LE(produced, size);
    bytes.append(reinterpret_cast<const char*>(out.data()), produced);
  }
  EXPECT_EQ(lib.deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(lib.close(stream), BE_ERR_SUCCESSFUL);
  return bytes.append(reinterpret_cast<const char*>(out.data()), produced);
}

// The info frame at the start of a stream: "Xing" (VBR) or "Info" (CBR); "" without one.
std::string InfoFrame(const std::string& mp3) {
  const std::size_t at = std::min(mp3.find("Xing"), mp3.find("Info"));
  return at < 64 ? mp3.substr(at, 4) : "";
}

TEST(LameEnc, ModesRatesAndPresets) {
  // The stream's rate, channels and lowest and highest bitrate. Without an info frame (frames
  // too small to hold one) the decoder cannot trim the encoder's delay and padding.
  const struct {
    BE_CONFIG config;
    long rate;
    int channels, lowest, highest;
    bool info = true;
  } rows[] = {{Config(), 44100, 2, 128, 192},
              {Config(LQP_VERYHIGH_QUALITY, BE_MP3_MODE_MONO, 32000), 32000, 1, 128, 192},
              {Config(LQP_VERYHIGH_QUALITY, BE_MP3_MODE_JSTEREO, 48000), 48000, 2, 128, 192},
              {Config(LQP_VERYHIGH_QUALITY, BE_MP3_MODE_JSTEREO, 22050, 0), 22050, 2, 128, 128},
              {Config(LQP_VERYHIGH_QUALITY, BE_MP3_MODE_DUALCHANNEL, 0, 0), 44100, 2, 128, 128},
              {Config(LQP_NOPRESET), 44100, 2, 128, 192},
              {Config(LQP_VOICE_QUALITY), 44100, 1, 128, 192},
              {Config(LQP_R3MIX), 44100, 2, 32, 320},
              {Config(LQP_INSANE), 44100, 2, 320, 320},
              {Config(LQP_ABR), 44100, 2, 140, 180},  // 160 kbps on average
              {Config(LQP_CBR), 44100, 2, 128, 128},
              {Config(LQP_PHONE), 8000, 1, 16, 16, false},
              {Config(LQP_FM), 32000, 2, 112, 112},
              {Config(LQP_CD), 44100, 2, 192, 192}};  // the fixed presets share one table
  TempDir dir;
  const std::string path = dir / "out.mp3", tag = "TAGtitle" + std::string(120, '\0');
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.config.format.LHV1.nPreset << " at " << row.rate);
    WriteFile(path, Encode(row.config, Music(44100)) + tag);
    EXPECT_EQ(lib.vbrHeader(path.c_str()) == BE_ERR_SUCCESSFUL, row.info);
    const std::string file = ReadFile(path);
    EXPECT_EQ(file.substr(file.size() - 128), tag);
    EXPECT_EQ(InfoFrame(file), !row.info ? "" : row.lowest == row.highest ? "Info" : "Xing");
    // The average bitrate over the second of audio (the encoder adds a few frames, which at
    // the lowest rates last long).
    const double kbps = (file.size() - 128) * 8.0 / 1000;
    EXPECT_GE(kbps, row.lowest * 0.97);
    EXPECT_LE(kbps, row.highest * 1.2);
    const Decoded d = Decode(path);
    EXPECT_EQ(std::tuple(d.ok, d.rate, d.channels), std::tuple(true, row.rate, row.channels));
    EXPECT_NEAR(d.frames(), row.rate + (row.info ? 0 : 1000), row.info ? 1152 : 1400);
  }
}

TEST(LameEnc, EachVbrQualityItsOwnStream) {
  // Over the full bitrate range a better quality never makes a smaller stream.
  BE_CONFIG config = Config();
  config.format.LHV1.dwBitrate = config.format.LHV1.dwMaxBitrate = 0;
  for (std::size_t quality = 0, previous = SIZE_MAX; quality <= 9; ++quality) {
    config.format.LHV1.nVBRQuality = static_cast<int32_t>(quality);
    const std::size_t size = Encode(config, Music(44100)).size();
    EXPECT_LT(size, std::exchange(previous, size)) << "quality " << quality;
  }
}

TEST(LameEnc, ChunksTooLongAndStaleOrForeignHandlesAreRefused) {
  BE_CONFIG config = Config();
  uint32_t samples = 0, size = 0, produced = 0;
  HBE_STREAM stream = nullptr;
  ASSERT_EQ(lib.init(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
  std::vector<int16_t> in = Music(samples);
  std::vector<uint8_t> out(size);
  EXPECT_EQ(lib.encode(stream, samples + 2, in.data(), out.data(), &produced),
            BE_ERR_BUFFER_TOO_SMALL);
  // A flushed stream takes nothing more; a closed or a foreign handle nothing at all.
  EXPECT_EQ(lib.deinit(stream, out.data(), &produced), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(lib.encode(stream, 4, in.data(), out.data(), &produced), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(lib.close(stream), BE_ERR_SUCCESSFUL);
  for (HBE_STREAM gone : {stream, reinterpret_cast<HBE_STREAM>(uintptr_t{0xdeadbeef})}) {
    EXPECT_EQ(lib.encode(gone, 4, in.data(), out.data(), &produced), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.close(gone), BE_ERR_INVALID_HANDLE);
  }
}

TEST(LameEnc, InfoFrameOnlyIntoTheFileHoldingItsStreamAndOnce) {
  TempDir dir;
  const std::string stream = Encode(Config(), Music(4 * 1152)), path = dir / "out.mp3";
  for (const std::string& other : {stream + "x", std::string(stream.size(), 'j')}) {
    WriteFile(path, other);
    EXPECT_NE(lib.vbrHeader(path.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(ReadFile(path), other);
  }
  EXPECT_NE(lib.vbrHeader((dir / "missing.mp3").c_str()), BE_ERR_SUCCESSFUL);
  WriteFile(path, stream);
  EXPECT_EQ(lib.vbrHeader(path.c_str()), BE_ERR_SUCCESSFUL);
  const std::string written = ReadFile(path);
  EXPECT_EQ(written.substr(1441), stream.substr(1441)) << "only the first frame changes";
  EXPECT_EQ(std::tuple(InfoFrame(stream), InfoFrame(written)), std::tuple("", "Xing"));
  EXPECT_NE(lib.vbrHeader(path.c_str()), BE_ERR_SUCCESSFUL) << "nothing left to write";
  EXPECT_EQ(ReadFile(path), written);
  WriteFile(path, Encode(Config(), {}));  // an empty stream has its info frame too
  EXPECT_EQ(lib.vbrHeader(path.c_str()), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(InfoFrame(ReadFile(path)), "Xing");
}

}  // namespace
