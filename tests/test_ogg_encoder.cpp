// The Ogg Vorbis stage on PCM files made here: what a decoder (libvorbisfile) finds in the
// output, the pages as written, the progress and status a host sees, and the failures.
#include "encoders/ogg_encoder.h"

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/test_env.h"

namespace {

constexpr uint32_t kSector = 2352;
constexpr uint32_t kStepBytes = 4096;

class RecordingHost : public RipHost {
 public:
  void PostProgress(TrackRecord& track) override {
    progress.push_back(track.status);
    if (stopAtFirstProgress) ripSettings.ripping = 0;
  }
  void PostFinished() override {}
  void ShowErrorBox(const std::string& text) override { errors.push_back(text); }

  std::vector<int32_t> progress;
  std::vector<std::string> errors;
  bool stopAtFirstProgress = false;
};

// Two sines, one per channel, so that a swap or a lost channel shows.
double Left(double t) {
  return 0.5 * std::sin(2 * std::numbers::pi * 440 * t);
}
double Right(double t) {
  return 0.5 * std::sin(2 * std::numbers::pi * 1000 * t);
}

// `sectors` sectors of disc PCM holding the two sines.
std::string TonePcm(uint32_t sectors) {
  std::string pcm(std::size_t{sectors} * kSector, '\0');
  for (std::size_t i = 0; i < pcm.size(); i += 2) {
    const double t = static_cast<double>(i / 4) / 44100.0;
    const auto bits = static_cast<uint16_t>(std::lrint(32767 * (i % 4 ? Right(t) : Left(t))));
    pcm[i] = static_cast<char>(bits & 0xFF);
    pcm[i + 1] = static_cast<char>(bits >> 8);
  }
  return pcm;
}

TrackRecord OggTrack(const OggSettings& settings, uint32_t lengthSectors,
                     const std::string& title = "Track 01") {
  TrackRecord track;
  track.title = title;
  track.lengthSectors = lengthSectors;
  track.lengthSeconds = lengthSectors / 75;
  track.format = Ogg;
  const auto words = std::bit_cast<std::array<uint32_t, 10>>(settings);
  std::copy(words.begin(), words.end(), track.formatSettings.begin());
  return track;
}

struct Decoded {
  bool opened = false;
  int channels = 0;
  long rate = 0;
  std::array<long, 3> bitrates{};  // upper, nominal, lower
  std::vector<std::string> comments;
  int64_t pcmTotal = -1;
  std::vector<std::vector<float>> audio;  // per channel
};

Decoded Decode(const std::string& path) {
  Decoded result;
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0) return result;
  const vorbis_info* info = ov_info(&file, -1);
  result.opened = true;
  result.channels = info->channels;
  result.rate = info->rate;
  result.bitrates = {info->bitrate_upper, info->bitrate_nominal, info->bitrate_lower};
  const vorbis_comment* comment = ov_comment(&file, -1);
  result.comments.assign(comment->user_comments, comment->user_comments + comment->comments);
  result.pcmTotal = ov_pcm_total(&file, -1);
  result.audio.resize(static_cast<std::size_t>(info->channels));
  float** pcm = nullptr;
  int section = 0;
  for (long got; (got = ov_read_float(&file, &pcm, 4096, &section)) > 0;) {
    for (std::size_t c = 0; c < result.audio.size(); ++c) {
      result.audio[c].insert(result.audio[c].end(), pcm[c], pcm[c] + got);
    }
  }
  ov_clear(&file);
  return result;
}

struct OggPage {
  uint8_t headerType = 0;  // 0x01 continued packet, 0x02 first page, 0x04 last page
  int64_t granule = 0;
  bool endsWithPacket = false;  // the last lacing value closes a packet
  int packetsDone = 0;          // packets completed on this page and all before it
};

// The pages of an Ogg file as they lie on disk; stops at anything that is not a page.
std::vector<OggPage> ReadPages(const std::string& path) {
  const std::string data = ReadFile(path);
  std::vector<OggPage> pages;
  std::size_t at = 0;
  auto byte = [&](std::size_t i) { return static_cast<uint8_t>(data[i]); };
  while (at + 27 <= data.size() && data.compare(at, 4, "OggS") == 0) {
    OggPage page;
    page.headerType = byte(at + 5);
    for (int i = 7; i >= 0; --i) page.granule = (page.granule << 8) | byte(at + 6 + i);
    const std::size_t segments = byte(at + 26);
    if (at + 27 + segments > data.size()) break;
    std::size_t bodyLength = 0;
    page.packetsDone = pages.empty() ? 0 : pages.back().packetsDone;
    for (std::size_t s = 0; s < segments; ++s) {
      bodyLength += byte(at + 27 + s);
      if (byte(at + 27 + s) < 255) ++page.packetsDone;
    }
    page.endsWithPacket = segments > 0 && byte(at + 27 + segments - 1) < 255;
    pages.push_back(page);
    at += 27 + segments + bodyLength;
  }
  EXPECT_EQ(at, data.size()) << "trailing bytes that are not a page";
  return pages;
}

int CountEndOfStreamPages(const std::vector<OggPage>& pages) {
  int count = 0;
  for (const OggPage& page : pages) count += (page.headerType & 0x04) ? 1 : 0;
  return count;
}

class OggEncoder : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = static_cast<DiscInfo&>(ripSettings);
    static_cast<DiscInfo&>(ripSettings) = DiscInfo{};
    ripSettings.ripping = 1;
  }
  void TearDown() override {
    ripSettings.ripping = 0;
    static_cast<DiscInfo&>(ripSettings) = saved_;
  }

  // Encodes `pcm` (written to the PCM path first unless null) for `track`.
  void Encode(TrackRecord& track, const std::string* pcm, bool captureFailed = false) {
    if (pcm) WriteFile(pcmPath(), *pcm);
    std::vector<uint8_t> buffer(OggReadBufferSize(track));
    OggJob job{&track, pcmPath(), oggPath(), buffer.data(), buffer.size(), captureFailed};
    EncodePcmToOgg(host_, job);
  }
  void Encode(TrackRecord& track, const std::string& pcm, bool captureFailed = false) {
    Encode(track, &pcm, captureFailed);
  }

  std::string pcmPath() const { return dir_ / "cddatmp001.pcm"; }
  std::string oggPath() const { return outputPath_.empty() ? dir_ / "out.ogg" : outputPath_; }

  ScopedConfigHome config_;
  TempDir dir_;
  RecordingHost host_;
  std::string outputPath_;
  DiscInfo saved_;
};

TEST_F(OggEncoder, CommentsAreWrittenInOrderAndOnlyWhenSet) {
  struct Case {
    std::array<const char*, 4> fields;  // title, artist, album, year
    int32_t genre;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{"", "", "", ""}, 0, {}},
      {{"Track 01", "The Artist", "An Album", "1999"},
       12,
       {"TITLE=Track 01", "ARTIST=The Artist", "ALBUM=An Album", "DATE=1999", "GENRE=Other"}},
      {{"Song", "Artist", "", ""}, 0, {"TITLE=Song", "ARTIST=Artist"}},
      {{"", "", "Album", "2001"}, 47, {"ALBUM=Album", "DATE=2001", "GENRE=Instrum. Rock"}},
  };
  for (const Case& c : cases) {
    ripSettings.discArtist = c.fields[1];
    ripSettings.discAlbum = c.fields[2];
    ripSettings.discYear = c.fields[3];
    ripSettings.discGenre = c.genre;
    TrackRecord track = OggTrack({}, 2, c.fields[0]);
    Encode(track, TonePcm(2));
    EXPECT_EQ(track.status, kStatusCompleted);
    std::vector<std::string> expected{"ENCODER=DUZO Zaruvi"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(Decode(oggPath()).comments, expected);
  }
}

// --- channels, rate, duration, audio and progress per setting ---

struct FormatCase {
  const char* name;
  int32_t sampleRate;  // SampleRateChoice index
  int32_t channels;    // 0 Mono, 1 Stereo, 2 "5.1"
  int expectedChannels;
  long expectedRate;
};

class OggFormats : public OggEncoder, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(OggFormats, DecodeToTheChosenLayoutWithTheTracksDurationAndProgressOnInputBytes) {
  const FormatCase& c = GetParam();
  constexpr uint32_t kSectors = 75;  // one second: 43 full steps of 4096 bytes and a short one
  TrackRecord track = OggTrack({.sampleRate = c.sampleRate, .channels = c.channels}, kSectors);
  Encode(track, TonePcm(kSectors));
  ASSERT_EQ(track.status, kStatusCompleted);
  EXPECT_TRUE(host_.errors.empty());
  EXPECT_FALSE(FileExists(pcmPath()));

  // Progress counts the bytes read from the PCM file on every tenth step, whatever the output
  // rate and channels.
  const uint64_t total = uint64_t{kSectors} * kSector;
  std::vector<int32_t> expected;
  for (uint64_t step = 0; step * kStepBytes < total; step += 10) {
    expected.push_back(
        static_cast<int32_t>(30 + 70 * std::min<uint64_t>((step + 1) * kStepBytes, total) / total));
  }
  expected.push_back(kStatusCompleted);
  EXPECT_EQ(host_.progress, expected);

  const Decoded decoded = Decode(oggPath());
  ASSERT_TRUE(decoded.opened);
  ASSERT_EQ(decoded.channels, c.expectedChannels);
  EXPECT_EQ(decoded.rate, c.expectedRate);
  // One second of input is one second of output, to the frame (the resampler's rounding
  // may add one).
  EXPECT_NEAR(static_cast<double>(decoded.pcmTotal), static_cast<double>(c.expectedRate), 1.0);
  const std::size_t frames = decoded.audio[0].size();
  ASSERT_EQ(static_cast<int64_t>(frames), decoded.pcmTotal);

  // The decoded audio follows the source, sample-aligned, at the output rate; the edges are
  // left out because the source starts and stops abruptly.
  for (int ch = 0; ch < c.expectedChannels; ++ch) {
    double signal = 0, noise = 0;
    for (std::size_t i = frames / 20; i < frames - frames / 20; ++i) {
      const double t = static_cast<double>(i) / static_cast<double>(c.expectedRate);
      const double want = c.expectedChannels == 1 ? (Left(t) + Right(t)) / 2
                          : ch == 0               ? Left(t)
                                                  : Right(t);
      signal += want * want;
      noise += (decoded.audio[static_cast<std::size_t>(ch)][i] - want) *
               (decoded.audio[static_cast<std::size_t>(ch)][i] - want);
    }
    EXPECT_GT(10 * std::log10(signal / std::max(noise, 1e-20)), 20.0) << "SNR, channel " << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, OggFormats,
                         ::testing::Values(FormatCase{"SameAsInputStereo", 0, 1, 2, 44100},
                                           FormatCase{"Explicit44100Mono", 2, 0, 1, 44100},
                                           FormatCase{"Resampled32000Stereo", 1, 1, 2, 32000},
                                           FormatCase{"Resampled48000Mono", 3, 0, 1, 48000},
                                           FormatCase{"FivePointOneStaysStereo", 0, 2, 2, 44100}),
                         [](const auto& info) { return std::string(info.param.name); });

// What libvorbis writes into the identification header for a quality set-up.
std::array<long, 3> VbrBitrates(float quality) {
  vorbis_info info;
  vorbis_info_init(&info);
  vorbis_encode_init_vbr(&info, 2, 44100, quality);
  const std::array<long, 3> bitrates{info.bitrate_upper, info.bitrate_nominal, info.bitrate_lower};
  vorbis_info_clear(&info);
  return bitrates;
}

TEST_F(OggEncoder, IdentificationHeaderBitratesPerMode) {
  // The header must tell quality 0.45 from its neighbour, or the quality case proves nothing.
  ASSERT_NE(VbrBitrates(0.45f), VbrBitrates(0.5f));
  const struct {
    const char* what;
    OggSettings settings;
    std::array<long, 3> expected;
  } cases[] = {
      {"CBR", {.useCbr = 1, .useVbr = 0, .cbrBitrate = 4}, {350000, 350000, 350000}},
      {"CBR without useCbr", {.useVbr = 0, .cbrBitrate = 4}, {350000, 350000, 350000}},
      {"BBR",
       {.useBbr = 1, .useVbr = 0, .bbrMin = 0, .bbrNominal = 2, .bbrMax = 3},
       {256000, 192000, 128000}},
      {"VBR wins over the other flags",
       {.useCbr = 1, .useBbr = 1, .useVbr = 1, .cbrBitrate = 4, .vbrQuality = 9},
       VbrBitrates(0.45f)},
  };
  for (const auto& c : cases) {
    TrackRecord track = OggTrack(c.settings, 2);
    Encode(track, TonePcm(2));
    EXPECT_EQ(Decode(oggPath()).bitrates, c.expected) << c.what;
  }
}

// --- pages and the end of the stream ---

TEST_F(OggEncoder, HeadersEndTheirPagesAndTheStreamEndsWithOneEndOfStreamPage) {
  TrackRecord track = OggTrack({}, 30);
  Encode(track, TonePcm(30));
  const std::vector<OggPage> pages = ReadPages(oggPath());
  ASSERT_GE(pages.size(), 3u);
  EXPECT_TRUE(pages.front().headerType & 0x02);
  // The page that completes the third header packet (the codebooks) holds nothing after
  // it: the audio begins on a fresh page.
  std::size_t lastHeader = 0;
  while (lastHeader < pages.size() && pages[lastHeader].packetsDone < 3) ++lastHeader;
  ASSERT_LT(lastHeader + 1, pages.size());
  EXPECT_EQ(pages[lastHeader].packetsDone, 3);
  EXPECT_TRUE(pages[lastHeader].endsWithPacket);
  EXPECT_EQ(pages[lastHeader].granule, 0);
  EXPECT_FALSE(pages[lastHeader + 1].headerType & 0x01);
  EXPECT_EQ(CountEndOfStreamPages(pages), 1);
  EXPECT_TRUE(pages.back().headerType & 0x04);
  EXPECT_EQ(pages.back().granule, int64_t{30} * kSector / 4);
}

TEST_F(OggEncoder, EmptyPcmGivesHeadersAndTheEndOfStreamWithoutLoopProgress) {
  TrackRecord track = OggTrack({}, 0);
  Encode(track, std::string());
  EXPECT_EQ(track.status, kStatusCompleted);
  EXPECT_EQ(host_.progress, std::vector<int32_t>{kStatusCompleted});
  const Decoded decoded = Decode(oggPath());
  ASSERT_TRUE(decoded.opened);  // the three headers are there
  EXPECT_EQ(decoded.pcmTotal, 0);
  const std::vector<OggPage> pages = ReadPages(oggPath());
  EXPECT_EQ(CountEndOfStreamPages(pages), 1);
  EXPECT_TRUE(pages.back().headerType & 0x04);
}

TEST_F(OggEncoder, StopEndsWithoutEndOfStreamPageAndStatusStoppedEvenAfterACaptureFailure) {
  host_.stopAtFirstProgress = true;
  for (bool captureFailed : {false, true}) {
    host_.progress.clear();
    ripSettings.ripping = 1;
    TrackRecord track = OggTrack({}, 300);
    Encode(track, TonePcm(200), captureFailed);
    EXPECT_EQ(track.status, kStatusStopped) << captureFailed;
    ASSERT_FALSE(host_.progress.empty());
    EXPECT_EQ(host_.progress.back(), kStatusStopped);
    const std::vector<OggPage> pages = ReadPages(oggPath());
    EXPECT_FALSE(pages.empty());
    EXPECT_EQ(CountEndOfStreamPages(pages), 0);
    EXPECT_FALSE(FileExists(pcmPath()));
  }
}

// --- failures ---

TEST_F(OggEncoder, CaptureFailureEndsInErrorAfterAFullEncodeOfTheShortPcm) {
  TrackRecord track = OggTrack({}, 30);
  Encode(track, TonePcm(20), /*captureFailed=*/true);
  EXPECT_EQ(track.status, kStatusError);
  ASSERT_GE(host_.progress.size(), 3u);
  EXPECT_EQ(host_.progress.back(), kStatusError);
  // Progress is measured against the track's length, not the shorter PCM file.
  for (std::size_t i = 0; i + 1 < host_.progress.size(); ++i) EXPECT_LT(host_.progress[i], 80);
  EXPECT_TRUE(host_.errors.empty());  // the capture has already said why
  EXPECT_EQ(CountEndOfStreamPages(ReadPages(oggPath())), 1);
  EXPECT_EQ(Decode(oggPath()).pcmTotal, int64_t{20} * kSector / 4);
}

TEST_F(OggEncoder, FailuresShowTheirErrorEndInErrorAndRemoveThePcm) {
  const std::string kRefused = "The Ogg Vorbis encoder cannot use these settings";
  const struct {
    std::string error;
    std::string output;   // empty: the usual path
    const char* earlier;  // an earlier rip's file there, to be left alone (nullptr: none)
    bool writePcm = true;
    bool outputMade = false;  // whether the output file may exist afterwards
    OggSettings settings = {};
  } cases[] = {
      {"Cannot open PCM data file", "", "earlier rip", false},
      {"Cannot create output file", dir_ / "missing-folder/out.ogg", nullptr},
      {"Cannot create output file", "/dev/full", nullptr, true, true},
      // 350 kbps is more than libvorbis allows for one channel.
      {kRefused,
       "",
       nullptr,
       true,
       false,
       {.channels = 0, .useCbr = 1, .useVbr = 0, .cbrBitrate = 4}},
      // 32000 Hz mono cannot reach 256 kbps.
      {kRefused,
       "",
       "earlier rip",
       true,
       false,
       {.sampleRate = 1, .channels = 0, .useBbr = 1, .useVbr = 0, .bbrNominal = 2, .bbrMax = 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error + " " + c.output);
    host_.errors.clear();
    host_.progress.clear();
    std::remove((dir_ / "out.ogg").c_str());
    outputPath_ = c.output;
    if (c.earlier) WriteFile(oggPath(), c.earlier);
    TrackRecord track = OggTrack(c.settings, 30);
    const std::string pcm = TonePcm(30);
    Encode(track, c.writePcm ? &pcm : nullptr);
    EXPECT_EQ(host_.errors, std::vector<std::string>{c.error});
    EXPECT_EQ(track.status, kStatusError);
    ASSERT_FALSE(host_.progress.empty());
    EXPECT_EQ(host_.progress.back(), kStatusError);
    if (!c.outputMade) {
      EXPECT_EQ(host_.progress.size(), 1u) << "no progress before the error";
    }
    EXPECT_FALSE(FileExists(pcmPath()));
    if (c.earlier) {
      EXPECT_EQ(ReadFile(oggPath()), c.earlier);
    } else if (!c.outputMade) {
      EXPECT_FALSE(FileExists(oggPath()));
    }
  }
}

}  // namespace
