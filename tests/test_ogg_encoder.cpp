// The Ogg Vorbis stage on PCM files made here, checked with libvorbisfile. Guards:
// - the comments: ENCODER first, the rest only when set, genre 0 never (ogg-title-comment,
//   ogg-genre-zero)
// - per setting: channels ("5.1" stays stereo), rate, the track's duration, each channel's
//   waveform; progress on PCM bytes read; the bitrates of the CBR, BBR and VBR modes
// - the audio starts on a page of its own; one end-of-stream page at the track's length, none
//   after a stop (Stopped even after a capture failure)
// - ERROR after a capture failure; each failure with its message, no half-made file, the PCM
//   file always removed
#include "encoders/ogg_encoder.h"

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

double Sine(int channel, double t) {
  return 0.5 * std::sin(2 * std::numbers::pi * (channel ? 1000 : 440) * t);
}

// `sectors` sectors of disc PCM: 440 Hz on the left, 1000 Hz on the right.
std::string TonePcm(uint32_t sectors) {
  std::vector<int16_t> samples(sectors * 588 * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(std::lrint(32767 * Sine(i % 2, (i / 2) / 44100.0)));
  }
  return std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
}

struct Decoded {
  long rate = 0;
  std::array<long, 3> bitrates{};  // upper, nominal, lower
  std::vector<std::string> comments;
  std::vector<std::vector<float>> audio;  // per channel
};

Decoded Decode(const std::string& path) {
  Decoded d;
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0) return d;
  const vorbis_info* info = ov_info(&file, -1);
  d.rate = info->rate;
  d.bitrates = {info->bitrate_upper, info->bitrate_nominal, info->bitrate_lower};
  const vorbis_comment* vc = ov_comment(&file, -1);
  d.comments.assign(vc->user_comments, vc->user_comments + vc->comments);
  d.audio.resize(static_cast<std::size_t>(info->channels));
  float** pcm = nullptr;
  int link = 0;
  for (long got; (got = ov_read_float(&file, &pcm, 4096, &link)) > 0;) {
    for (std::size_t c = 0; c < d.audio.size(); ++c)
      d.audio[c].insert(d.audio[c].end(), pcm[c], pcm[c] + got);
  }
  ov_clear(&file);
  return d;
}

struct Page {
  uint8_t flags;  // 0x01 continues a packet, 0x04 ends the stream
  int64_t granule;
};

// The pages of an Ogg file as they lie on disk.
std::vector<Page> Pages(const std::string& path) {
  const std::string data = ReadFile(path);
  std::vector<Page> pages;
  std::size_t at = 0;
  for (; at + 27 <= data.size() && data.compare(at, 4, "OggS") == 0;) {
    Page page{static_cast<uint8_t>(data[at + 5]), 0};
    std::memcpy(&page.granule, data.data() + at + 6, 8);
    const std::size_t segments = static_cast<uint8_t>(data[at + 26]);
    std::size_t body = 0;
    for (std::size_t s = 0; s < segments; ++s) body += static_cast<uint8_t>(data[at + 27 + s]);
    at += 27 + segments + body;
    pages.push_back(page);
  }
  EXPECT_EQ(at, data.size()) << "bytes that are not a page";
  return pages;
}

int EndPages(const std::vector<Page>& pages) {
  return static_cast<int>(
      std::count_if(pages.begin(), pages.end(), [](Page p) { return p.flags & 4; }));
}

// Stops the encode at its first progress message.
class StoppingHost : public RecordingHost {
  void PostProgress(TrackRecord& track) override {
    RecordingHost::PostProgress(track);
    ripSettings.ripping = 0;
  }
};

class OggEncoder : public ::testing::Test {
 protected:
  void SetUp() override { static_cast<DiscInfo&>(ripSettings) = DiscInfo{"", "", "", 0}; }
  void TearDown() override { ripSettings.ripping = 0; }

  // Encodes `pcm` (null: no PCM file) for a track of `sectors` sectors with `settings`.
  void Encode(const OggSettings& settings, uint32_t sectors, const std::string* pcm,
              bool captureFailed = false) {
    ripSettings.ripping = 1;
    track_ = TrackRecord{};
    track_.title = title_;
    track_.lengthSectors = sectors;
    std::memcpy(track_.formatSettings.data(), &settings, sizeof settings);
    if (pcm) WriteFile(pcmPath(), *pcm);
    std::vector<uint8_t> buffer(OggReadBufferSize(track_));
    OggJob job{&track_, pcmPath(), output_, buffer.data(), buffer.size(), captureFailed};
    EncodePcmToOgg(*host_, job);
    EXPECT_FALSE(FileExists(pcmPath()));
  }
  std::string pcmPath() const { return dir_ / "cddatmp001.pcm"; }

  TempDir dir_;
  std::string output_ = dir_ / "out.ogg", title_;
  TrackRecord track_;
  std::unique_ptr<RecordingHost> host_ = std::make_unique<RecordingHost>();
};

TEST_F(OggEncoder, CommentsAndBitratesOfTheHeaders) {
  const std::string pcm = TonePcm(2);
  const struct {
    DiscInfo disc;
    const char* title;
    std::vector<std::string> comments;  // after ENCODER
  } rows[] = {
      {{"", "", "", 0}, "", {}},
      {{"The Artist", "An Album", "1999", 12},
       "Track 01",
       {"TITLE=Track 01", "ARTIST=The Artist", "ALBUM=An Album", "DATE=1999", "GENRE=Other"}},
      {{"Artist", "", "", 0}, "Song", {"TITLE=Song", "ARTIST=Artist"}},
      {{"", "Album", "2001", 47}, "", {"ALBUM=Album", "DATE=2001", "GENRE=Instrum. Rock"}},
      {{"", "", "", 80}, "", {}},
  };
  for (const auto& row : rows) {
    static_cast<DiscInfo&>(ripSettings) = row.disc;
    title_ = row.title;
    Encode({}, 2, &pcm);
    std::vector<std::string> expected{"ENCODER=DUZO Zaruvi"};
    expected.insert(expected.end(), row.comments.begin(), row.comments.end());
    EXPECT_EQ(Decode(output_).comments, expected);
  }

  // The header must tell quality 0.45 from its neighbour, or the VBR row proves nothing.
  auto vbr = [](float quality) {
    vorbis_info info;
    vorbis_info_init(&info);
    vorbis_encode_init_vbr(&info, 2, 44100, quality);
    const std::array<long, 3> bitrates{info.bitrate_upper, info.bitrate_nominal,
                                       info.bitrate_lower};
    vorbis_info_clear(&info);
    return bitrates;
  };
  ASSERT_NE(vbr(0.45f), vbr(0.5f));
  const std::pair<OggSettings, std::array<long, 3>> modes[] = {
      {{.useCbr = 1, .useVbr = 0, .cbrBitrate = 4}, {350000, 350000, 350000}},
      {{.useVbr = 0, .cbrBitrate = 4}, {350000, 350000, 350000}},  // CBR is what remains
      {{.useBbr = 1, .useVbr = 0, .bbrMin = 0, .bbrNominal = 2, .bbrMax = 3},
       {256000, 192000, 128000}},
      {{.useCbr = 1, .useBbr = 1, .useVbr = 1, .cbrBitrate = 4, .vbrQuality = 9}, vbr(0.45f)},
  };
  for (const auto& [settings, bitrates] : modes) {
    Encode(settings, 2, &pcm);
    EXPECT_EQ(Decode(output_).bitrates, bitrates);
  }
}

TEST_F(OggEncoder, EachLayoutKeepsTheDurationTheWaveformAndTheProgress) {
  const struct {
    int32_t rateChoice, channelChoice;
    int channels;
    long rate;
  } rows[] = {
      {0, 1, 2, 44100}, {2, 0, 1, 44100}, {1, 1, 2, 32000}, {3, 0, 1, 48000}, {0, 2, 2, 44100}};
  const std::string pcm = TonePcm(75);  // one second: 43 full steps of 4096 bytes and a short one
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.rateChoice << " " << row.channelChoice);
    host_ = std::make_unique<RecordingHost>();
    Encode({.sampleRate = row.rateChoice, .channels = row.channelChoice}, 75, &pcm);
    EXPECT_EQ(track_.status, kStatusCompleted);
    // Progress on every tenth step of 4096 bytes read, whatever the output.
    std::vector<int32_t> progress;
    for (uint64_t step = 0; step * 4096 < pcm.size(); step += 10) {
      progress.push_back(
          static_cast<int32_t>(30 + 70 * std::min((step + 1) * 4096, pcm.size()) / pcm.size()));
    }
    progress.push_back(kStatusCompleted);
    EXPECT_EQ(host_->ProgressOf(0), progress);

    const Decoded d = Decode(output_);
    ASSERT_EQ(d.audio.size(), static_cast<std::size_t>(row.channels));
    EXPECT_EQ(d.rate, row.rate);
    const std::size_t frames = d.audio[0].size();
    EXPECT_NEAR(static_cast<double>(frames), row.rate, 1.0);
    // Sample-aligned with the source; the edges, where the source starts and stops abruptly,
    // are left out.
    for (int ch = 0; ch < row.channels; ++ch) {
      double signal = 0, noise = 0;
      for (std::size_t i = frames / 20; i < frames - frames / 20; ++i) {
        const double t = static_cast<double>(i) / row.rate;
        const double want = row.channels == 1 ? (Sine(0, t) + Sine(1, t)) / 2 : Sine(ch, t);
        signal += want * want;
        noise += (d.audio[ch][i] - want) * (d.audio[ch][i] - want);
      }
      EXPECT_GT(10 * std::log10(signal / std::max(noise, 1e-20)), 20.0) << "SNR, channel " << ch;
    }
  }
}

TEST_F(OggEncoder, PagesAndTheEndOfTheStream) {
  const std::string pcm = TonePcm(20);
  const struct {
    const char* name;
    bool stop, captureFailed;
    uint32_t sectors;  // the track's length; the PCM file holds 20 or none
    int32_t status;
  } rows[] = {
      {"whole", false, false, 20, kStatusCompleted},
      {"empty", false, false, 0, kStatusCompleted},
      // Progress is measured against the track's length, not the shorter PCM file.
      {"capture failed", false, true, 30, kStatusError},
      {"stopped", true, false, 20, kStatusStopped},
      {"stopped after a failed capture", true, true, 30, kStatusStopped},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host_ = row.stop ? std::make_unique<StoppingHost>() : std::make_unique<RecordingHost>();
    const std::string empty;
    Encode({}, row.sectors, row.sectors ? &pcm : &empty, row.captureFailed);
    EXPECT_EQ(track_.status, row.status);
    EXPECT_TRUE(host_->errors().empty());
    const std::vector<int32_t> progress = host_->ProgressOf(0);
    EXPECT_EQ(progress.back(), row.status);
    EXPECT_EQ(progress.size() == 1, row.sectors == 0) << "progress only from the loop";
    EXPECT_LT(progress.size() > 1 ? progress.end()[-2] : 0, row.sectors == 30 ? 80 : 101);
    const std::vector<Page> pages = Pages(output_);
    ASSERT_GE(pages.size(), 2u);
    EXPECT_EQ(EndPages(pages), row.stop ? 0 : 1);
    if (row.stop) continue;
    EXPECT_EQ(pages.back().flags & 4, 4);
    EXPECT_EQ(pages.back().granule, row.sectors ? 20 * 588 : 0);
    // The headers end on a page of their own (granule 0), and the audio starts on a fresh one.
    std::size_t audio = 1;
    while (audio < pages.size() && pages[audio].granule == 0) ++audio;
    EXPECT_GE(audio, 2u);
    EXPECT_FALSE(audio < pages.size() && (pages[audio].flags & 1));
  }
}

TEST_F(OggEncoder, FailuresShowTheirErrorAndLeaveNoHalfMadeFile) {
  const std::string kRefused = "The Ogg Vorbis encoder cannot use these settings";
  const struct {
    std::string error, output;
    bool pcm, earlier, outputMade;  // earlier: an earlier rip's file, to be left alone
    OggSettings settings;
  } rows[] = {
      {"Cannot open PCM data file", "", false, true, false, {}},
      {"Cannot create output file", dir_ / "missing/out.ogg", true, false, false, {}},
      {"Cannot write output file", "/dev/full", true, false, true, {}},
      // 350 kbps is more than libvorbis allows for one channel; 32000 Hz mono cannot reach 256.
      {kRefused,
       "",
       true,
       false,
       false,
       {.channels = 0, .useCbr = 1, .useVbr = 0, .cbrBitrate = 4}},
      {kRefused,
       "",
       true,
       true,
       false,
       {.sampleRate = 1, .channels = 0, .useBbr = 1, .useVbr = 0, .bbrNominal = 2, .bbrMax = 3}},
  };
  const std::string pcm = TonePcm(30);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.error + " " + row.output);
    host_ = std::make_unique<RecordingHost>();
    std::remove((dir_ / "out.ogg").c_str());
    output_ = row.output.empty() ? dir_ / "out.ogg" : row.output;
    if (row.earlier) WriteFile(output_, "earlier rip");
    Encode(row.settings, 30, row.pcm ? &pcm : nullptr);
    EXPECT_EQ(host_->errors(), std::vector<std::string>{row.error});
    EXPECT_EQ(track_.status, kStatusError);
    // No progress before the error unless the output was being written.
    EXPECT_TRUE(row.outputMade || host_->ProgressOf(0).size() == 1);
    EXPECT_EQ(host_->ProgressOf(0).back(), kStatusError);
    const bool kept = !row.outputMade && FileExists(output_);
    EXPECT_EQ(kept ? ReadFile(output_) : "", row.earlier ? "earlier rip" : "");
  }
}

}  // namespace
