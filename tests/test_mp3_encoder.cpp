// The MP3 stage and its ID3v1 tag. Guards:
// - the library block for the track's own copy of its settings, not the current ones: preset
//   22 as 10000, mode, output rate, bitrates, VBR fields (mp3-preset-mapping)
// - every chunk encoded, the flush even after a stop, progress 30..100, the calls in order
// - the tag only when tagging is on (id3-tag-always); its fields at their offsets, cut or
//   padded, with their defaults (id3-album-offset, id3-default-year, id3-track-number)
// - each failure (an unreadable PCM file too) ends in ERROR with its one message; the PCM file
//   always goes
//   (mp3-pcm-left-behind)
#include "encoders/mp3_encoder.h"

#include <cstring>
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
    EXPECT_EQ(FileExists(job.outputPath) ? ReadFile(job.outputPath) : "(none)", row.content);
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
}

}  // namespace
