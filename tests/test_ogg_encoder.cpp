// The Ogg Vorbis stage on PCM files made here, checked with libvorbisfile. Guards:
// - the comments: ENCODER first, the rest only when set, genre 0 never (ogg-title-comment,
//   ogg-genre-zero); the VBR quality; CBR and BBR refused where libvorbis cannot do them
// - per setting: channels ("5.1" stays stereo), rate, the track's duration, each channel's
//   waveform; progress on the PCM bytes read, against the track's length
// - one end-of-stream page at the track's length, none after a stop; ERROR after a capture
//   failure; each early failure (an unreadable PCM file too) with its message and no file made;
//   the PCM file always goes
#include "encoders/ogg_encoder.h"

#include <vorbis/vorbisenc.h>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>

#include <gtest/gtest.h>

#include "support/decode.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

double Sine(int channel, double t) {
  return 0.5 * std::sin(2 * std::numbers::pi * (channel ? 1000 : 440) * t);
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

constexpr uint32_t kBadPcm = UINT32_MAX;  // sectors: an unreadable PCM file

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
    const std::string pcm = sectors == kBadPcm ? "/proc/self/mem" : pcm_;
    if (sectors && pcm == pcm_) {
      std::vector<int16_t> samples(*sectors * 588 * 2);
      for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(std::lrint(32767 * Sine(i % 2, (i / 2) / 44100.0)));
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
    EXPECT_EQ(found, std::string(";ENCODER=DUZO Zaruvi") + comments);
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
      {kBadPcm, 20, false, false, {}, {102}, {}, "Cannot open PCM data file"},
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
    EXPECT_EQ(FileExists(out_), row.error.empty() || row.sectors == kBadPcm);
    EXPECT_EQ(row.error.empty() ? EndPages(out_) : std::vector<int64_t>{}, row.endPages);
  }
}

}  // namespace
