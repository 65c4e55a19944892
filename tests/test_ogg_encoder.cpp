// The Ogg Vorbis stage on PCM files made here: what a decoder (libvorbisfile) finds in the
// output, the pages as written, the progress and status a host sees, and the failures.
#include "encoders/ogg_encoder.h"

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/test_env.h"

namespace {

constexpr double kPi = std::numbers::pi;
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
struct Tone {
  double leftHz = 440.0;
  double rightHz = 1000.0;
  double amplitude = 0.5;
  double Left(double seconds) const { return amplitude * std::sin(2 * kPi * leftHz * seconds); }
  double Right(double seconds) const { return amplitude * std::sin(2 * kPi * rightHz * seconds); }
};

int16_t ToSample(double value) {
  return static_cast<int16_t>(std::lrint(value * 32767.0));
}

// `sectors` sectors of disc PCM holding `tone`.
std::string TonePcm(uint32_t sectors, const Tone& tone = {}) {
  const std::size_t frames = std::size_t{sectors} * kSector / 4;
  std::string pcm(frames * 4, '\0');
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / 44100.0;
    const auto left = static_cast<uint16_t>(ToSample(tone.Left(t)));
    const auto right = static_cast<uint16_t>(ToSample(tone.Right(t)));
    pcm[i * 4 + 0] = static_cast<char>(left & 0xFF);
    pcm[i * 4 + 1] = static_cast<char>(left >> 8);
    pcm[i * 4 + 2] = static_cast<char>(right & 0xFF);
    pcm[i * 4 + 3] = static_cast<char>(right >> 8);
  }
  return pcm;
}

OggSettings Vbr(int32_t quality = 9) {
  OggSettings settings;
  settings.useVbr = 1;
  settings.vbrQuality = quality;
  return settings;
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
  long bitrateUpper = 0;
  long bitrateNominal = 0;
  long bitrateLower = 0;
  std::vector<std::string> comments;
  int64_t pcmTotal = -1;
  std::vector<std::vector<float>> audio;  // per channel
};

Decoded Decode(const std::string& path) {
  Decoded result;
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0) return result;
  result.opened = true;
  const vorbis_info* info = ov_info(&file, -1);
  result.channels = info->channels;
  result.rate = info->rate;
  result.bitrateUpper = info->bitrate_upper;
  result.bitrateNominal = info->bitrate_nominal;
  result.bitrateLower = info->bitrate_lower;
  const vorbis_comment* comment = ov_comment(&file, -1);
  for (int i = 0; i < comment->comments; ++i) {
    result.comments.emplace_back(comment->user_comments[i],
                                 static_cast<std::size_t>(comment->comment_lengths[i]));
  }
  result.pcmTotal = ov_pcm_total(&file, -1);
  result.audio.resize(static_cast<std::size_t>(info->channels));
  float** pcm = nullptr;
  int section = 0;
  long got;
  while ((got = ov_read_float(&file, &pcm, 4096, &section)) > 0) {
    for (int c = 0; c < info->channels; ++c) {
      result.audio[static_cast<std::size_t>(c)].insert(
          result.audio[static_cast<std::size_t>(c)].end(), pcm[c], pcm[c] + got);
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

// Signal-to-noise ratio in dB of `got` against `want` over [from, to).
double SnrDb(const std::vector<float>& got, const std::vector<double>& want, std::size_t from,
             std::size_t to) {
  double signal = 0, noise = 0;
  for (std::size_t i = from; i < to; ++i) {
    signal += want[i] * want[i];
    noise += (got[i] - want[i]) * (got[i] - want[i]);
  }
  return 10 * std::log10(signal / std::max(noise, 1e-20));
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

// --- the comment header ---

struct CommentCase {
  const char* name;
  std::string title, artist, album, year;
  int32_t genre;
  std::vector<std::string> expected;
};
void PrintTo(const CommentCase& c, std::ostream* os) {
  *os << c.name;
}

class OggComments : public OggEncoder, public ::testing::WithParamInterface<CommentCase> {};

TEST_P(OggComments, AreWrittenInOrderAndOnlyWhenSet) {
  const CommentCase& c = GetParam();
  ripSettings.discArtist = c.artist;
  ripSettings.discAlbum = c.album;
  ripSettings.discYear = c.year;
  ripSettings.discGenre = c.genre;
  TrackRecord track = OggTrack(Vbr(), 2, c.title);
  Encode(track, TonePcm(2));
  EXPECT_EQ(track.status, kStatusCompleted);
  EXPECT_EQ(Decode(oggPath()).comments, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OggComments,
    ::testing::Values(
        CommentCase{"EmptyFieldsGiveOnlyTheEncoder", "", "", "", "", 0, {"ENCODER=DUZO Zaruvi"}},
        CommentCase{"AllFieldsWithGenre12",
                    "Track 01",
                    "The Artist",
                    "An Album",
                    "1999",
                    12,
                    {"ENCODER=DUZO Zaruvi", "TITLE=Track 01", "ARTIST=The Artist", "ALBUM=An Album",
                     "DATE=1999", "GENRE=Other"}},
        CommentCase{"Genre0IsNeverWritten",
                    "Song",
                    "Artist",
                    "",
                    "",
                    0,
                    {"ENCODER=DUZO Zaruvi", "TITLE=Song", "ARTIST=Artist"}},
        CommentCase{"GenreUsesTheShortNames",
                    "",
                    "",
                    "Album",
                    "2001",
                    47,
                    {"ENCODER=DUZO Zaruvi", "ALBUM=Album", "DATE=2001", "GENRE=Instrum. Rock"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- channels, rate, duration and audio per setting ---

struct FormatCase {
  const char* name;
  int32_t sampleRate;  // SampleRateChoice index
  int32_t channels;    // 0 Mono, 1 Stereo, 2 "5.1"
  int expectedChannels;
  long expectedRate;
};
void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << c.name;
}

class OggFormats : public OggEncoder, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(OggFormats, DecodeToTheChosenLayoutWithTheTracksDuration) {
  const FormatCase& c = GetParam();
  OggSettings settings = Vbr();
  settings.sampleRate = c.sampleRate;
  settings.channels = c.channels;
  constexpr uint32_t kSectors = 75;  // one second
  const Tone tone;
  TrackRecord track = OggTrack(settings, kSectors);
  Encode(track, TonePcm(kSectors, tone));
  ASSERT_EQ(track.status, kStatusCompleted);
  ASSERT_TRUE(host_.errors.empty());

  const Decoded decoded = Decode(oggPath());
  ASSERT_TRUE(decoded.opened);
  EXPECT_EQ(decoded.channels, c.expectedChannels);
  EXPECT_EQ(decoded.rate, c.expectedRate);
  // One second of input is one second of output, to the frame (the resampler's rounding
  // may add one).
  EXPECT_NEAR(static_cast<double>(decoded.pcmTotal), static_cast<double>(c.expectedRate), 1.0);
  ASSERT_EQ(static_cast<int64_t>(decoded.audio[0].size()), decoded.pcmTotal);

  // The decoded audio follows the source, sample-aligned, at the output rate.
  const std::size_t frames = decoded.audio[0].size();
  std::vector<std::vector<double>> want(static_cast<std::size_t>(c.expectedChannels),
                                        std::vector<double>(frames));
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(c.expectedRate);
    if (c.expectedChannels == 1) {
      want[0][i] = (tone.Left(t) + tone.Right(t)) / 2;
    } else {
      want[0][i] = tone.Left(t);
      want[1][i] = tone.Right(t);
    }
  }
  // The edges are left out: the source starts and stops abruptly.
  const std::size_t margin = frames / 20;
  for (int ch = 0; ch < c.expectedChannels; ++ch) {
    EXPECT_GT(SnrDb(decoded.audio[static_cast<std::size_t>(ch)], want[static_cast<std::size_t>(ch)],
                    margin, frames - margin),
              20.0)
        << "channel " << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, OggFormats,
                         ::testing::Values(FormatCase{"SameAsInputStereo", 0, 1, 2, 44100},
                                           FormatCase{"Explicit44100Mono", 2, 0, 1, 44100},
                                           FormatCase{"Resampled32000Stereo", 1, 1, 2, 32000},
                                           FormatCase{"Resampled48000Mono", 3, 0, 1, 48000},
                                           FormatCase{"FivePointOneStaysStereo", 0, 2, 2, 44100}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the identification header's bitrates per mode ---

TEST_F(OggEncoder, ConstantBitrateSetsAllThreeFieldsWhateverUseCbrHolds) {
  for (int32_t useCbr : {0, 1}) {
    OggSettings settings;
    settings.useVbr = 0;
    settings.useBbr = 0;
    settings.useCbr = useCbr;
    settings.cbrBitrate = 4;
    TrackRecord track = OggTrack(settings, 2);
    Encode(track, TonePcm(2));
    const Decoded decoded = Decode(oggPath());
    EXPECT_EQ(decoded.bitrateUpper, 350000) << "useCbr " << useCbr;
    EXPECT_EQ(decoded.bitrateNominal, 350000);
    EXPECT_EQ(decoded.bitrateLower, 350000);
  }
}

TEST_F(OggEncoder, BurstableBitrateUsesMaximumNominalMinimum) {
  OggSettings settings;
  settings.useVbr = 0;
  settings.useBbr = 1;
  settings.bbrMin = 0;
  settings.bbrNominal = 2;
  settings.bbrMax = 3;
  TrackRecord track = OggTrack(settings, 2);
  Encode(track, TonePcm(2));
  const Decoded decoded = Decode(oggPath());
  EXPECT_EQ(decoded.bitrateUpper, 256000);
  EXPECT_EQ(decoded.bitrateNominal, 192000);
  EXPECT_EQ(decoded.bitrateLower, 128000);
}

// What libvorbis writes into the identification header for a quality set-up.
vorbis_info ReferenceVbrInfo(float quality) {
  vorbis_info info;
  vorbis_info_init(&info);
  vorbis_encode_init_vbr(&info, 2, 44100, quality);
  return info;
}

TEST_F(OggEncoder, QualityModeWinsOverTheOtherFlagsAndUsesTheSliderValue) {
  vorbis_info reference = ReferenceVbrInfo(0.45f);
  vorbis_info neighbour = ReferenceVbrInfo(0.5f);
  // The header must tell 0.45 from its neighbour, or this test proves nothing.
  ASSERT_NE(reference.bitrate_nominal, neighbour.bitrate_nominal);

  OggSettings settings = Vbr(9);
  settings.useBbr = 1;
  settings.useCbr = 1;
  settings.cbrBitrate = 4;
  TrackRecord track = OggTrack(settings, 2);
  Encode(track, TonePcm(2));
  const Decoded decoded = Decode(oggPath());
  EXPECT_EQ(decoded.bitrateNominal, reference.bitrate_nominal);
  EXPECT_EQ(decoded.bitrateUpper, reference.bitrate_upper);
  EXPECT_EQ(decoded.bitrateLower, reference.bitrate_lower);
  vorbis_info_clear(&reference);
  vorbis_info_clear(&neighbour);
}

// --- pages, progress and the end of the stream ---

struct ProgressCase {
  const char* name;
  int32_t sampleRate;
  int32_t channels;
};
void PrintTo(const ProgressCase& c, std::ostream* os) {
  *os << c.name;
}

class OggProgress : public OggEncoder, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(OggProgress, CountsInputBytesOnEveryTenthStepAndEndsCompleted) {
  OggSettings settings = Vbr();
  settings.sampleRate = GetParam().sampleRate;
  settings.channels = GetParam().channels;
  constexpr uint32_t kSectors = 60;  // 141120 bytes: 34 full steps and a short one
  TrackRecord track = OggTrack(settings, kSectors);
  Encode(track, TonePcm(kSectors));

  const uint64_t total = uint64_t{kSectors} * kSector;
  std::vector<int32_t> expected;
  const uint64_t steps = (total + kStepBytes - 1) / kStepBytes;
  for (uint64_t step = 0; step < steps; step += 10) {
    const uint64_t done = std::min<uint64_t>((step + 1) * kStepBytes, total);
    expected.push_back(static_cast<int32_t>(30 + 70 * done / total));
  }
  expected.push_back(kStatusCompleted);
  EXPECT_EQ(host_.progress, expected);
  EXPECT_EQ(track.status, kStatusCompleted);
  EXPECT_FALSE(FileExists(pcmPath()));
}

INSTANTIATE_TEST_SUITE_P(Cases, OggProgress,
                         ::testing::Values(ProgressCase{"Unconverted", 0, 1},
                                           ProgressCase{"Resampled48000", 3, 1},
                                           ProgressCase{"MixedToMono32000", 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OggEncoder, HeadersEndTheirPagesAndTheStreamEndsWithOneEndOfStreamPage) {
  TrackRecord track = OggTrack(Vbr(), 30);
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
  TrackRecord track = OggTrack(Vbr(), 0);
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

TEST_F(OggEncoder, StopEndsWithoutEndOfStreamPageAndStatusStopped) {
  host_.stopAtFirstProgress = true;
  TrackRecord track = OggTrack(Vbr(), 300);
  Encode(track, TonePcm(300));
  EXPECT_EQ(track.status, kStatusStopped);
  ASSERT_FALSE(host_.progress.empty());
  EXPECT_EQ(host_.progress.back(), kStatusStopped);
  const std::vector<OggPage> pages = ReadPages(oggPath());
  EXPECT_FALSE(pages.empty());
  EXPECT_EQ(CountEndOfStreamPages(pages), 0);
  EXPECT_FALSE(FileExists(pcmPath()));
}

TEST_F(OggEncoder, PcmShorterThanTheTrackStaysBelow100UntilTheEnd) {
  TrackRecord track = OggTrack(Vbr(), 100);
  Encode(track, TonePcm(50));
  ASSERT_GE(host_.progress.size(), 2u);
  for (std::size_t i = 0; i + 1 < host_.progress.size(); ++i) EXPECT_LT(host_.progress[i], 65);
  EXPECT_EQ(track.status, kStatusCompleted);
}

// --- failures ---

TEST_F(OggEncoder, CaptureFailureEndsInErrorAfterAFullEncode) {
  TrackRecord track = OggTrack(Vbr(), 30);
  Encode(track, TonePcm(20), /*captureFailed=*/true);
  EXPECT_EQ(track.status, kStatusError);
  EXPECT_EQ(host_.progress.back(), kStatusError);
  EXPECT_TRUE(host_.errors.empty());  // the capture has already said why
  EXPECT_EQ(CountEndOfStreamPages(ReadPages(oggPath())), 1);
  EXPECT_EQ(Decode(oggPath()).pcmTotal, int64_t{20} * kSector / 4);
}

TEST_F(OggEncoder, CaptureFailureThenStopIsStopped) {
  host_.stopAtFirstProgress = true;
  TrackRecord track = OggTrack(Vbr(), 300);
  Encode(track, TonePcm(200), /*captureFailed=*/true);
  EXPECT_EQ(track.status, kStatusStopped);
}

TEST_F(OggEncoder, MissingPcmIsAnErrorWithoutOutputFile) {
  TrackRecord track = OggTrack(Vbr(), 10);
  Encode(track, nullptr);
  EXPECT_EQ(host_.errors, std::vector<std::string>{"Cannot open PCM data file"});
  EXPECT_EQ(track.status, kStatusError);
  EXPECT_EQ(host_.progress, std::vector<int32_t>{kStatusError});
  EXPECT_FALSE(FileExists(oggPath()));
}

TEST_F(OggEncoder, OutputThatCannotBeCreatedIsAnErrorAndThePcmGoes) {
  outputPath_ = dir_ / "missing-folder/out.ogg";
  TrackRecord track = OggTrack(Vbr(), 10);
  Encode(track, TonePcm(10));
  EXPECT_EQ(host_.errors, std::vector<std::string>{"Cannot create output file"});
  EXPECT_EQ(track.status, kStatusError);
  EXPECT_EQ(host_.progress, std::vector<int32_t>{kStatusError});
  EXPECT_FALSE(FileExists(pcmPath()));
}

TEST_F(OggEncoder, SettingsTheEncoderRefusesGiveAnErrorAndNoFile) {
  OggSettings settings;
  settings.useVbr = 0;
  settings.useCbr = 1;
  settings.channels = 0;    // Mono
  settings.cbrBitrate = 4;  // 350 kbps: more than libvorbis allows for one channel
  TrackRecord track = OggTrack(settings, 10);
  Encode(track, TonePcm(10));
  EXPECT_EQ(host_.errors,
            std::vector<std::string>{"The Ogg Vorbis encoder cannot use these settings"});
  EXPECT_EQ(track.status, kStatusError);
  EXPECT_EQ(host_.progress, std::vector<int32_t>{kStatusError});
  EXPECT_FALSE(FileExists(oggPath()));
  EXPECT_FALSE(FileExists(pcmPath()));

  // Refused burstable settings (32000 Hz mono cannot reach 256 kbps) do not touch a file of
  // an earlier rip either.
  WriteFile(oggPath(), "earlier rip");
  settings.useBbr = 1;
  settings.sampleRate = 1;
  settings.bbrNominal = 2;
  settings.bbrMax = 3;
  track = OggTrack(settings, 10);
  Encode(track, TonePcm(10));
  EXPECT_EQ(track.status, kStatusError);
  EXPECT_TRUE(ReadFile(oggPath()) == "earlier rip");
}

TEST_F(OggEncoder, AFailedWriteIsAnError) {
  outputPath_ = "/dev/full";
  TrackRecord track = OggTrack(Vbr(), 30);
  Encode(track, TonePcm(30));
  EXPECT_EQ(host_.errors, std::vector<std::string>{"Cannot write output file"});
  EXPECT_EQ(track.status, kStatusError);
  EXPECT_EQ(host_.progress.back(), kStatusError);
  EXPECT_FALSE(FileExists(pcmPath()));
}

TEST(OggReadBuffer, HoldsTenTwentyFourFramesOfTheStereoPcmWhateverTheChannels) {
  for (int32_t channels : {0, 1, 2}) {
    OggSettings settings;
    settings.channels = channels;
    EXPECT_EQ(OggReadBufferSize(OggTrack(settings, 1)), 4096u) << channels;
  }
}

}  // namespace
