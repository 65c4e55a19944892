// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The encoding stages on PCM made here: conversion, Ogg Vorbis (checked with libvorbisfile),
// MP3 over a stand-in library, and the ID3v1 tag. Guards:
// - the disc's own format back bit for bit whatever the pieces; mono the rounded average
//   (mono-mix-left-only); 8 bits unsigned around 128 with unbiased, reproducible triangular
//   dither; resampling keeping each channel's duration and waveform whatever the pieces,
//   16 bits clipping at full scale after it, never wrapping
// - Ogg comments: ENCODER first, the rest only when set, genre 0 never (ogg-title-comment,
//   ogg-genre-zero); the VBR quality; CBR and BBR refused where libvorbis cannot do them
// - Ogg per setting: channels ("5.1" stays stereo), rate, duration, each channel's waveform;
//   progress on the PCM bytes read, against the track's length; one end-of-stream page at the
//   track's length, none after a stop
// - the MP3 library block for the track's own copy of its settings: preset 22 as 10000, mode
//   (joint stereo its own), output rate, bitrates, VBR fields (mp3-preset-mapping); every
//   chunk encoded, the flush even after a stop, progress 30..100, the calls in order
// - the tag only when tagging is on (id3-tag-always); its fields at their offsets, cut or
//   padded, with their defaults (id3-album-offset, id3-default-year, id3-track-number)
// - each failure (an unreadable PCM file too) ends in ERROR with its one message and, but for
//   a failed read, no file; the PCM file always goes (mp3-pcm-left-behind)
#include <vorbis/vorbisenc.h>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <tuple>

#include <gtest/gtest.h>

#include "encoders/encoder_binding.h"
#include "encoders/id3.h"
#include "encoders/mp3_encoder.h"
#include "encoders/ogg_encoder.h"
#include "encoders/pcm_convert.h"
#include "support/decode.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

// 440 Hz on the left (channel 0), 1000 Hz on the right, at half scale.
double Sine(int channel, double t) {
  return 0.5 * std::sin(2 * std::numbers::pi * (channel ? 1000 : 440) * t);
}

using Samples = std::vector<int16_t>;  // interleaved, left first

std::vector<uint8_t> Bytes(const Samples& samples) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
  return {bytes, bytes + samples.size() * 2};
}

// Converts `samples` handed over in pieces of `piece` bytes, then finishes.
std::vector<uint8_t> Convert(const PcmFormat& target, const Samples& samples, std::size_t piece) {
  const std::vector<uint8_t> pcm = Bytes(samples);
  PcmConverter converter;
  EXPECT_TRUE(converter.Init(target));
  std::vector<uint8_t> out;
  for (std::size_t at = 0; at < pcm.size(); at += piece) {
    EXPECT_TRUE(converter.Convert(pcm.data() + at, std::min(piece, pcm.size() - at), out));
  }
  EXPECT_TRUE(converter.Finish(out));
  return out;
}

// Interleaved sample i of the two sines at `rate`.
double Interleaved(std::size_t i, double rate) {
  return Sine(int(i % 2), double(i / 2) / rate);
}

TEST(PcmConverter, SixteenBitsStereoIsExactAndMonoTheRoundedAverage) {
  Samples pcm = {32767, -32768, -32768, 32767, -1, 1};
  for (std::size_t i = 0; i < 10000; ++i)
    pcm.push_back(int16_t(std::lrint(32767 * Interleaved(i, 44100))));
  for (std::size_t piece : {1u, 3u, 4097u, 100000u}) {
    EXPECT_EQ(Convert(kCdPcmFormat, pcm, piece), Bytes(pcm)) << "piece " << piece;
  }
  // Halves round to the even neighbour; the extremes stay in range.
  const Samples mix = {3, 4, 1, 2, -3, -4, 32767, 32767, -32768, -32768, 32767, -32768, 9, -9};
  EXPECT_EQ(Convert({44100, 1, 16}, mix, 7), Bytes({4, 2, -4, 32767, -32768, 0, 0}));
}

TEST(PcmConverter, EightBitsAreTriangularlyDitheredAround128) {
  // A level between two steps: the mean finds it, and the error power is a quarter step
  // squared whatever the level (not so with plain rounding or rectangular dither).
  for (const int16_t level : {int16_t{64 * 256 + 77}, int16_t{-100 * 256 - 200}}) {
    const Samples pcm(40000, level);
    const std::vector<uint8_t> out = Convert({44100, 1, 8}, pcm, 1000);
    EXPECT_EQ(Convert({44100, 1, 8}, pcm, 333), out);
    const double expected = 128 + level / 256.0;
    double sum = 0, squares = 0;
    for (uint8_t value : out) sum += value, squares += (value - expected) * (value - expected);
    EXPECT_NEAR(sum / static_cast<double>(out.size()), expected, 0.02);
    EXPECT_NEAR(squares / static_cast<double>(out.size()), 0.25, 0.02);
  }
}

TEST(PcmConverter, ResamplingKeepsDurationAndWaveformWhateverThePieces) {
  Samples pcm(2 * 44100);
  for (std::size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = int16_t(std::lrint(32767 * Interleaved(i, 44100)));
  const std::vector<uint8_t> bytes = Convert({32000, 2, 16}, pcm, 61152);
  EXPECT_EQ(Convert({32000, 2, 16}, pcm, 4098), bytes);
  Samples out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), bytes.size());
  EXPECT_NEAR(out.size() / 2.0, 32000, 1.0);
  // Sample-aligned with the source (the edges, where it starts and stops abruptly, left out).
  for (std::size_t i = out.size() / 20; i < out.size() * 19 / 20; ++i) {
    ASSERT_NEAR(out[i] / 32768.0, Interleaved(i, 32000), 3.0 / 32768) << "sample " << i;
  }
}

// A full-scale square wave overshoots when it is resampled: 16-bit output must clip there,
// not wrap round to the other end of the scale.
TEST(PcmConverter, ResampledFullScaleClipsInsteadOfWrapping) {
  constexpr std::size_t kHalf = 220;  // source frames per half period: 100 Hz
  Samples pcm(2 * 44100);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = (i / 2 / kHalf) % 2 ? -32768 : 32767;
  for (const uint32_t rate : {32000u, 48000u}) {
    SCOPED_TRACE(rate);
    const std::vector<uint8_t> bytes = Convert({rate, 2, 16}, pcm, 61152);
    Samples out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), bytes.size());
    // Away from each edge the wave is within its ripple of the square's level.
    for (std::size_t i = 0; i < out.size(); ++i) {
      const double at = double(i / 2) * 44100 / rate / kHalf;  // in half periods
      if (std::abs(at - std::round(at)) * kHalf * rate / 44100 < 3) continue;
      ASSERT_NEAR(out[i], int(at) % 2 ? -32768 : 32767, 8192) << "sample " << i;
    }
  }
}

// The granule positions of the end-of-stream pages of an Ogg file.
std::vector<int64_t> EndPages(const std::string& path) {
  const std::string data = ReadFile(path);
  std::vector<int64_t> granules;
  for (auto at = data.find("OggS"); at != std::string::npos; at = data.find("OggS", at + 4)) {
    if (!(data[at + 5] & 4)) continue;
    granules.emplace_back();
    std::memcpy(&granules.back(), &data[at + 6], 8);
  }
  return granules;
}

constexpr uint32_t kUnreadablePcm = UINT32_MAX;  // sectors: an unreadable PCM file

class OggEncoder : public ::testing::Test {
 protected:
  // Encodes `sectors` sectors of the two sines (none: no PCM file) for a track of `length`
  // sectors, stopping at the first progress message when `stop` is set.
  void Encode(const OggSettings& settings, std::optional<uint32_t> sectors, uint32_t length,
              bool captureFailed = false, bool stop = false) {
    ripSettings.ripping = 1;
    track_ = TrackRecord{};
    track_.title = title_;
    track_.lengthSectors = length;
    std::memcpy(track_.formatSettings.data(), &settings, sizeof settings);
    // /proc/self/mem is a regular file whose first byte reads as an I/O error.
    const std::string pcm = sectors == kUnreadablePcm ? "/proc/self/mem" : pcm_;
    if (sectors && pcm == pcm_) {
      std::vector<int16_t> samples(*sectors * 588 * 2);
      for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(std::lrint(32767 * Interleaved(i, 44100)));
      }
      WriteFile(pcm_,
                std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2));
    }
    std::vector<uint8_t> buffer(OggReadBufferSize(track_));
    OggJob job{&track_, pcm, out_, buffer.data(), buffer.size(), captureFailed};
    host_ = stop ? std::make_unique<StoppingHost>() : std::make_unique<RecordingHost>();
    EncodePcmToOgg(*host_, job);
    EXPECT_TRUE(pcm != pcm_ || !FileExists(pcm_));
  }

  struct StoppingHost : RecordingHost {
    void PostProgress(TrackRecord& track) override {
      RecordingHost::PostProgress(track);
      ripSettings.ripping = 0;
    }
  };
  TempDir dir_;
  const std::string pcm_ = dir_ / "cddatmp001.pcm", out_ = dir_ / "out.ogg";
  std::string title_;
  TrackRecord track_;
  std::unique_ptr<RecordingHost> host_;
};

TEST_F(OggEncoder, EachLayoutKeepsItsHeadersTheDurationAndEachChannel) {
  // Rate and channel choices and what a decoder must find: rate, channels, the comments after
  // ENCODER for the disc's fields and the title.
  const struct {
    OggSettings settings;
    long rate;
    int channels;
    DiscInfo disc;
    const char *title, *comments;
  } rows[] = {
      {{0, 1}, 44100, 2, {"", "", "", 0}, "", ""},
      {{2, 0}, 44100, 1, {"A", "B", "99", 0}, "T", ";TITLE=T;ARTIST=A;ALBUM=B;DATE=99"},
      {{1, 1}, 32000, 2, {"", "Album", "", 47}, "", ";ALBUM=Album;GENRE=Instrum. Rock"},
      {{3, 0, 1, 1}, 48000, 1, {"", "", "2001", 80}, "", ";DATE=2001"},  // VBR before CBR, BBR
      {{0, 2}, 44100, 2, {"", "", "", 0}, "", ""},
  };
  for (const auto& [settings, rate, channels, disc, title, comments] : rows) {
    SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels);
    static_cast<DiscInfo&>(ripSettings) = disc;
    title_ = title;
    Encode(settings, 75, 75);  // one second
    EXPECT_EQ(track_.status, kStatusCompleted);
    const OggDecoded d = DecodeOgg(out_);
    std::string found;
    for (const std::string& comment : d.comments) found += ";" + comment;
    // The track's number and the disc's audio tracks (none listed here) close the comments.
    EXPECT_EQ(found,
              std::string(";ENCODER=DUZO Zaruvi") + comments + ";TRACKNUMBER=1;TRACKTOTAL=0");
    // The quality slider's position 9 is quality 0.45, as libvorbis puts it in the header.
    vorbis_info vbr;
    vorbis_info_init(&vbr);
    vorbis_encode_init_vbr(&vbr, channels, rate, 0.45f);
    EXPECT_EQ(d.nominalBitrate, vbr.bitrate_nominal);
    vorbis_info_clear(&vbr);
    ASSERT_EQ(d.audio.size(), static_cast<std::size_t>(channels));
    EXPECT_EQ(d.rate, rate);
    EXPECT_NEAR(static_cast<double>(d.audio[0].size()), rate, 1.0);
    // Sample-aligned with the source (the edges, where it starts and stops abruptly, left out).
    double noise = 0;
    for (int ch = 0; ch < channels; ++ch) {
      for (long i = rate / 20; i < rate * 19 / 20; ++i) {
        const double t = static_cast<double>(i) / rate;
        noise += std::abs(d.audio[ch][i] -
                          (channels == 1 ? (Sine(0, t) + Sine(1, t)) / 2 : Sine(ch, t)));
      }
    }
    EXPECT_LT(noise / rate / channels, 0.03);  // against 0.3 for a lost or swapped channel
  }
}

TEST_F(OggEncoder, EveryEnd) {
  const std::string kRefused = "The Ogg Vorbis encoder cannot use these settings";
  // More than libvorbis allows for one channel, and for one channel at 32000 Hz.
  const OggSettings cbr350Mono{.channels = 0, .useCbr = 1, .useVbr = 0, .cbrBitrate = 4},
      bbr256Mono32000{.sampleRate = 1, .channels = 0, .useBbr = 1, .useVbr = 0, .bbrNominal = 2};
  const struct {
    std::optional<uint32_t> sectors;  // in the PCM file
    uint32_t length;                  // of the track
    bool captureFailed, stop;
    OggSettings settings;
    std::vector<int32_t> progress;
    std::vector<int64_t> endPages;  // their granules
    std::string error;
  } rows[] = {
      {20, 20, false, false, {}, {36, 97, 100}, {20 * 588}, ""},
      {0, 0, false, false, {}, {100}, {0}, ""},  // no progress but the last
      // Progress against the track's length, not the shorter PCM file.
      {20, 30, true, false, {}, {34, 74, 102}, {20 * 588}, ""},
      {20, 20, true, true, {}, {36, 101}, {}, ""},  // stopped, even after a capture failure
      {std::nullopt, 20, false, false, {}, {102}, {}, "Cannot open PCM data file"},
      {kUnreadablePcm, 20, false, false, {}, {102}, {}, "Cannot open PCM data file"},
      {20, 20, false, false, cbr350Mono, {102}, {}, kRefused},
      {20, 20, false, false, bbr256Mono32000, {102}, {}, kRefused},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.length << " " << row.captureFailed << " " << row.error);
    std::remove(out_.c_str());
    Encode(row.settings, row.sectors, row.length, row.captureFailed, row.stop);
    EXPECT_EQ(host_->ProgressOf(0), row.progress);
    EXPECT_EQ(host_->errors(),
              row.error.empty() ? std::vector<std::string>{} : std::vector{row.error});
    EXPECT_EQ(FileExists(out_), row.error.empty() || row.sectors == kUnreadablePcm);
    EXPECT_EQ(row.error.empty() ? EndPages(out_) : std::vector<int64_t>{}, row.endPages);
  }
}

// An ID3v1.1 tag built field by field.
std::string Tag(std::string title, std::string artist, std::string album, std::string year,
                int track, int genre) {
  for (auto* field : {&title, &artist, &album}) field->resize(30, '\0');
  year.resize(4, '\0');
  return "TAG" + title + artist + album + year + std::string(29, '\0') + char(track) + char(genre);
}

TEST(Id3v1Tag, FieldsDefaultsAndCuts) {
  const std::string l30 = "123456789012345678901234567890";
  const struct {
    TrackRecord track;
    DiscInfo disc;
    std::string expected;
  } rows[] = {
      {{.index = 0, .title = "Track 01"},
       {},
       Tag("Track 01", "Unknown artist", "Unknown album", "2000", 1, 12)},
      // The track byte wraps, and the built title shows the wrapped number.
      {{.index = 255, .title = ""}, {"A", "B", "C", 256}, Tag("Track 00", "A", "B", "C", 0, 0)},
      {{.index = 1, .title = l30 + "Y"},
       {l30 + "X", l30, "199999", -1},
       Tag(l30, l30, l30, "1999", 2, 255)},
      {{.index = 99, .title = ""},
       {"Bj\xF6rk", "a/b:c", "", 17},
       Tag("Track 100", "Bj\xF6rk", "a/b:c", "2000", 100, 17)},
  };
  for (const auto& row : rows) {
    const Id3v1Tag tag = BuildId3v1Tag(row.track, row.disc);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tag.data()), tag.size()), row.expected);
  }
}

// A stand-in for the encoder library, bound straight into lameApi: it notes each call ("V"
// version, "I" init, "E" chunk, "D" flush, "C" close, "W" VBR header), keeps the block it was
// given, asks for chunks of 100 samples, writes "E<samples>\n" per chunk and "D\n" for the
// flush, and fails on demand.
std::string calls;
BE_CONFIG config;
bool failInit;
unsigned failChunk, chunks;  // failChunk is 1-based; 0: none

void BindFakeLibrary() {
  calls.clear();
  std::memset(&config, 0, sizeof config);
  failInit = false;
  failChunk = chunks = 0;
  lameApi.beVersion = [](PBE_VERSION) { calls += "V"; };
  lameApi.beInitStream = [](PBE_CONFIG c, uint32_t* samples, uint32_t* size, HBE_STREAM* s) {
    config = *c;
    *samples = 100;
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

TEST(Mp3Stage, EveryChunkTheFlushTheTagAndEachFailure) {
  TempDir dir;
  const std::string tag = Tag("Track 01", "Band", "Unknown album", "2000", 1, 12);
  std::string all;  // eleven chunks of 1050 samples, the flush
  for (int i = 0; i < 10; ++i) all += "E100\n";
  all += "E50\nD\n";
  const std::string allCalls = "VI" + std::string(11, 'E') + "DCW";
  enum Setup {
    kPlain,
    kTag,
    kStop,
    kCaptureFailed,
    kFailInit,
    kFailChunk,
    kNoPcm,
    kNoDir,
    kBadPcm
  };
  // Progress on chunks 0 and 10: 30 + 70 * bytes done / total, then the final status.
  const struct {
    Setup setup;
    std::string content, calls;
    std::vector<int32_t> progress;
    std::vector<std::string> errors;
  } rows[] = {
      {kPlain, all, allCalls, {36, 100, 100}, {}},
      {kTag, all + tag, allCalls, {36, 100, 100}, {}},
      {kStop, "E100\nD\n" + tag, "VIEDCW", {101}, {}},  // the stop is seen after a chunk
      {kCaptureFailed, all, allCalls, {36, 100, 102}, {}},
      {kFailInit, "", "VIW", {102}, {}},
      {kFailChunk, "E100\n", "VIEECW", {36, 102}, {}},  // no flush after a failed chunk
      {kNoPcm, "earlier file", "W", {102}, {"Cannot open PCM data file"}},
      {kNoDir, "(none)", "W", {102}, {"Cannot create output file"}},
      {kBadPcm, "D\n", "VIDCW", {102}, {"Cannot open PCM data file"}},  // a read error: no end
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.setup);
    BindFakeLibrary();
    failInit = row.setup == kFailInit;
    failChunk = row.setup == kFailChunk ? 2 : 0;
    ripSettings.ripping = row.setup == kStop ? 0 : 1;
    ripSettings.id3Enabled = row.setup == kTag || row.setup == kStop;
    static_cast<DiscInfo&>(ripSettings) = {"Band", "", "", 12};
    // The track's own copy of the settings counts, not those of the settings file.
    ripSettings.formats.mp3 = {.sampleRate = 1, .channels = 2, .preset = 13};
    TrackRecord track{.title = "Track 01"};
    // 48000 Hz, mono, 32 to 320 kbps, VBR off at quality 9, preset "Studio".
    const Mp3Settings mp3{3, 0, 0, 0, 9, 13, 22};
    std::memcpy(track.formatSettings.data(), &mp3, sizeof mp3);

    // /proc/self/mem is a regular file whose first byte reads as an I/O error.
    const std::string pcm = row.setup == kBadPcm ? "/proc/self/mem" : dir / "cddatmp001.pcm",
                      out = dir / "out.mp3";
    WriteFile(out, "earlier file");
    if (row.setup != kNoPcm && row.setup != kBadPcm) WriteFile(pcm, std::string(2 * 1050, '\x11'));
    Mp3Job job{&track, pcm, row.setup == kNoDir ? dir / "none/out.mp3" : out,
               row.setup == kCaptureFailed};
    RecordingHost host;
    EncodePcmToMp3(host, job);
    // With the ID3 switch on, the ID3v2 tag comes first (its frames are checked by
    // ObrinRip.FlacAndTagsForTodaysPlayers); the rest is the stage's own.
    std::string content = FileExists(job.outputPath) ? ReadFile(job.outputPath) : "(none)";
    if (content.starts_with("ID3\x04")) {
      content.erase(0, 10 + (size_t(content[6]) << 21 | size_t(content[7]) << 14 |
                             size_t(content[8]) << 7 | size_t(content[9])));
    }
    EXPECT_EQ(content, row.content);
    EXPECT_EQ(calls, row.calls);
    EXPECT_EQ(host.ProgressOf(0), row.progress);
    EXPECT_EQ(host.errors(), row.errors);
    EXPECT_TRUE(row.setup == kBadPcm || !FileExists(pcm));
    // The block for the track's settings (joint stereo, 32000 Hz, preset 13 in the settings
    // file would all differ); the library checks the block's kind, size and input rate itself.
    // Unary plus: the block is packed.
    const auto& l = config.format.LHV1;
    EXPECT_EQ(std::tuple(+l.nPreset, +l.nMode, +l.dwReSampleRate, +l.dwBitrate, +l.dwMaxBitrate,
                         +l.bEnableVBR, +l.nVBRQuality, +l.bOriginal, +l.bNoRes, +l.nQuality),
              row.calls.find('I') == std::string::npos
                  ? std::tuple(0, 0, 0u, 0u, 0u, 0, 0, 0, 0, 0)
                  : std::tuple(10000, 3, 48000u, 32u, 320u, 0, 9, 1, 1, 0));
  }
  lameApi = LameEntryPoints{};
  // The channel choices as the library's modes: joint stereo is not plain stereo.
  for (auto [channels, mode] : {std::pair{0, BE_MP3_MODE_MONO}, std::pair{1, BE_MP3_MODE_STEREO},
                                std::pair{2, BE_MP3_MODE_JSTEREO}}) {
    EXPECT_EQ(Mp3ConfigFor(Mp3Settings{.channels = channels}).format.LHV1.nMode, mode);
  }
}

}  // namespace
