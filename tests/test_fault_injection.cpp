// Faults a ripper meets in real life, injected into real obrin-rip processes writing real
// files: a full disk or a file size limit mid-track, an output folder that cannot be written
// or is removed mid-rip, a disc image removed or cut short mid-rip, a kill during the settings
// save, stops at random moments, and two rips sharing one output folder. Each case checks
// what the user sees (exit status, "Obrin error" lines, the summary) and what is on disk:
// no audio silently lost, no hang, nothing "Completed" that is not whole.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kSector = 2352;
constexpr uint64_t kFramesPerSector = kSector / 4;
constexpr uid_t kNobody = 65534;

struct SummaryLine {
  std::string title;
  std::string status;
  std::string file;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// obrin-rip's summary on standard output: "Title\tStatus\tFile" per ripped track.
std::vector<SummaryLine> Summary(const std::string& out) {
  std::vector<SummaryLine> rows;
  for (const std::string& line : Lines(out)) {
    const size_t a = line.find('\t');
    const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b == std::string::npos) {
      rows.push_back({line, "?", "?"});
    } else {
      rows.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
  }
  return rows;
}

std::vector<std::string> Statuses(const std::vector<SummaryLine>& rows) {
  std::vector<std::string> statuses;
  for (const auto& row : rows) statuses.push_back(row.status);
  return statuses;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// Equality of two byte strings that reports sizes and the first difference, not the bytes.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return ::testing::AssertionFailure()
         << actual.size() << " bytes where " << expected.size()
         << " were expected; the first difference is at byte " << (diff.first - actual.begin());
}

std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_directory(ec)) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> TempPcmFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("cddatmp", 0) == 0) found.push_back(name);
  }
  return found;
}

uint32_t U32At(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// A WAV file obrin-rip may leave: a 44-byte CD-format header whose two sizes agree with the
// file's length, then a bit-identical prefix of `track` (the whole of it when `whole`).
::testing::AssertionResult IsWavOfTrack(const std::string& path, const std::string& track,
                                        bool whole) {
  if (!FileExists(path)) return ::testing::AssertionFailure() << path << " does not exist";
  const std::string wav = ReadFile(path);
  if (wav.size() < 44) return ::testing::AssertionFailure() << "only " << wav.size() << " bytes";
  if (wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 8, "WAVEfmt ") != 0 ||
      wav.compare(36, 4, "data") != 0 || U32At(wav, 16) != 16 || U32At(wav, 20) != 0x00020001 ||
      U32At(wav, 24) != 44100 || U32At(wav, 32) != 0x00100004) {
    return ::testing::AssertionFailure() << "not a CD-format WAV header";
  }
  const size_t data = wav.size() - 44;
  if (U32At(wav, 40) != data || U32At(wav, 4) != data + 36) {
    return ::testing::AssertionFailure()
           << "header says data " << U32At(wav, 40) << ", RIFF " << U32At(wav, 4)
           << " but the file holds " << data << " bytes of data";
  }
  if (data > track.size() || wav.compare(44, data, track, 0, data) != 0) {
    return ::testing::AssertionFailure() << "the " << data << " data bytes are not the track's";
  }
  if (whole && data != track.size()) {
    return ::testing::AssertionFailure() << data << " of " << track.size() << " bytes";
  }
  return ::testing::AssertionSuccess();
}

uint32_t OggCrc(const uint8_t* data, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i << 24;
      for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  uint32_t crc = 0;
  for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}

struct OggScan {
  std::string problem;  // empty when every page is whole, its checksum right, one stream
  size_t pages = 0;
  bool endOfStream = false;
  int64_t lastGranule = -1;
};

OggScan ScanOgg(const std::string& bytes) {
  OggScan scan;
  auto fail = [&scan](const std::string& problem) {
    scan.problem = problem;
    return scan;
  };
  size_t at = 0;
  uint32_t serial = 0;
  while (at < bytes.size()) {
    if (scan.endOfStream) return fail("data after the end-of-stream page");
    if (bytes.size() - at < 27 || bytes.compare(at, 4, "OggS") != 0) {
      return fail("no whole page at byte " + std::to_string(at));
    }
    const auto* page = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    const size_t segments = page[26];
    if (bytes.size() - at < 27 + segments) return fail("cut page header");
    size_t length = 27 + segments;
    for (size_t i = 0; i < segments; ++i) length += page[27 + i];
    if (bytes.size() - at < length) return fail("cut page body");
    std::string copy = bytes.substr(at, length);
    for (size_t i = 22; i < 26; ++i) copy[i] = 0;
    if (OggCrc(reinterpret_cast<const uint8_t*>(copy.data()), length) != U32At(bytes, at + 22)) {
      return fail("bad checksum on page " + std::to_string(scan.pages));
    }
    if (scan.pages == 0) serial = U32At(bytes, at + 14);
    if (U32At(bytes, at + 14) != serial) return fail("two streams mixed");
    int64_t granule = 0;
    for (int i = 7; i >= 0; --i) granule = granule << 8 | page[6 + i];
    if (granule != -1) scan.lastGranule = granule;
    scan.endOfStream = (page[5] & 4) != 0;
    ++scan.pages;
    at += length;
  }
  return scan;
}

// "Track NN: P%" with P >= percent, or the track's end, for the given 1-based track.
std::function<bool(const std::string&)> ProgressAtLeast(int track, int percent) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "Track %02d: ", track);
  const std::string head = prefix;
  return [head, percent](const std::string& line) {
    if (line.rfind(head, 0) != 0) return false;
    const std::string rest = line.substr(head.size());
    if (rest == "Completed" || rest == "Stopped" || rest == "ERROR") return true;
    if (rest.empty() || rest.back() != '%') return false;
    return std::atoi(rest.c_str()) >= percent;
  };
}

class FaultInjection : public ::testing::Test {
 protected:
  std::string Disc(const std::string& name, const std::vector<std::string>& mkdiscArgs) {
    return MakeDiscAt(dir_ / name, mkdiscArgs);
  }
  // The audio of sectors [first, first + count) of a bin file.
  std::string Audio(const std::string& bin, size_t first, size_t count) {
    return ReadFile(bin).substr(first * kSector, count * kSector);
  }
  // The audio of each track of a bin holding tracks of `lengths` sectors back to back.
  std::vector<std::string> Tracks(const std::string& bin, const std::vector<size_t>& lengths) {
    const std::string all = ReadFile(bin);
    std::vector<std::string> tracks;
    size_t at = 0;
    for (size_t length : lengths) {
      tracks.push_back(all.substr(at * kSector, length * kSector));
      at += length;
    }
    return tracks;
  }
  // This test's private config folder unless `options` names another.
  ChildOptions Options(ChildOptions options = {}) {
    const bool named = std::any_of(options.env.begin(), options.env.end(), [](const auto& e) {
      return e.rfind("XDG_CONFIG_HOME=", 0) == 0;
    });
    if (!named) options.env.push_back("XDG_CONFIG_HOME=" + config_.path());
    return options;
  }
  // A config folder of its own whose MP3 and Ogg Vorbis qualities differ from the defaults,
  // so that a rip with it writes other bytes under the same names.
  ChildOptions OtherQuality() {
    const std::string home = dir_ / "other-quality";
    ChildOptions options;
    options.env.push_back("XDG_CONFIG_HOME=" + home);
    ChildProcess first;
    EXPECT_TRUE(first.Start({"obrin-rip", "--image", dir_ / "disc.cue", "--list"}, options));
    EXPECT_EQ(Finish(first).exitStatus, 0);
    std::string ini = ReadFile(home + "/obrin/Obrin.ini");
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"\nvbrquality=2\n", "\nvbrquality=6\n"},
          {"\nvbr=9\n", "\nvbr=2\n"}}) {
      const size_t at = ini.find(from);
      EXPECT_NE(at, std::string::npos) << from;
      if (at != std::string::npos) ini.replace(at, from.size(), to);
    }
    WriteFile(home + "/obrin/Obrin.ini", ini);
    return options;
  }
  void Start(ChildProcess& child, std::vector<std::string> args, ChildOptions options = {}) {
    args.insert(args.begin(), "obrin-rip");
    ASSERT_TRUE(child.Start(args, Options(std::move(options)))) << child.err();
  }
  // Waits for `child`: it must neither hang nor trip a sanitizer (whose exit status could
  // pass for obrin-rip's own 1).
  static CommandResult Finish(ChildProcess& child) {
    CommandResult result = child.Wait();
    EXPECT_FALSE(child.timedOut()) << "obrin-rip hung: " << result.err;
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error:"), std::string::npos) << result.err;
    return result;
  }
  CommandResult Rip(std::vector<std::string> args, ChildOptions options = {}) {
    ChildProcess child;
    Start(child, std::move(args), std::move(options));
    return Finish(child);
  }
  // An uninterrupted rip of `cue` in `format` into a folder of its own: the files a rip
  // that met no fault writes, by track position.
  std::vector<std::string> Reference(const std::string& cue, const std::string& format,
                                     const ChildOptions& options = {}) {
    static int count = 0;
    const std::string out = dir_ / ("reference" + std::to_string(++count));
    const CommandResult r = Rip({"--image", cue, "--format", format, "--output", out}, options);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::vector<std::string> contents;
    for (const SummaryLine& row : Summary(r.out)) contents.push_back(ReadFile(row.file));
    return contents;
  }

  ScopedConfigHome config_;
  TempDir dir_;
};

// ---------------------------------------------------------------------------------------
// The output disk full, or the file size limit hit, mid-track.

struct LimitCase {
  const char* format;
  unsigned long long limit;  // RLIMIT_FSIZE in bytes
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << c.format << " limited to " << c.limit << " bytes";
}

class FileSizeLimit : public FaultInjection, public ::testing::WithParamInterface<LimitCase> {};

// Each limit falls somewhere else against stdio's 4 KiB buffer and the 26-sector blocks:
// inside the header, in a buffered tail, exactly at a block's end, mid-block.
INSTANTIATE_TEST_SUITE_P(
    MidTrack, FileSizeLimit,
    ::testing::Values(LimitCase{"wav", 30}, LimitCase{"wav", 100}, LimitCase{"wav", 4000},
                      LimitCase{"wav", 44 + 26 * kSector}, LimitCase{"wav", 123457},
                      LimitCase{"wav", 200001}, LimitCase{"mp3", 100000}, LimitCase{"ogg", 100000}),
    [](const auto& info) {
      return std::string(info.param.format) + "_" + std::to_string(info.param.limit);
    });

TEST_P(FileSizeLimit, EveryTrackEndsInErrorAndNothingBeyondTheLimitIsClaimed) {
  const LimitCase c = GetParam();
  const std::string cue = Disc("disc.cue", {"--lengths", "300,200", "--seed", "3"});
  const std::string out = dir_ / "out";
  ChildOptions options;
  options.fileSizeLimit = c.limit;
  const CommandResult r = Rip({"--image", cue, "--format", c.format, "--output", out}, options);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(Count(r.err, "Obrin error: Cannot write output file\n"), 2u) << r.err;
  EXPECT_EQ(Count(r.err, "Obrin error: "), 2u) << r.err;
  const auto rows = Summary(r.out);
  ASSERT_EQ(rows.size(), 2u) << r.out;
  EXPECT_EQ(Statuses(rows), (std::vector<std::string>{"ERROR", "ERROR"}));

  if (std::string(c.format) == "wav") {
    // What reached the disk is kept as a valid WAV of the audio before the failure.
    const std::string bin = dir_ / "disc.bin";
    const std::string tracks[] = {Audio(bin, 0, 300), Audio(bin, 300, 200)};
    for (int i = 0; i < 2; ++i) {
      const uint64_t size = fs::file_size(rows[i].file);
      EXPECT_LE(size, c.limit);
      if (c.limit >= 44) {
        EXPECT_TRUE(IsWavOfTrack(rows[i].file, tracks[i], false));
      }
    }
  } else {
    // The capture into the temporary file failed: nothing encoded, the temporary file gone.
    EXPECT_TRUE(TempPcmFilesIn(out).empty());
    for (const auto& row : rows) EXPECT_FALSE(FileExists(row.file)) << row.file;
  }
}

class DevFull : public FaultInjection, public ::testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(OutputFile, DevFull, ::testing::Values("wav", "mp3", "ogg"));

// The output file is a link to /dev/full: a link is never written through, so the track is
// refused its file. The next track is not affected.
TEST_P(DevFull, AFullDiskEndsTheTrackInErrorAndTheJobGoesOn) {
  const std::string format = GetParam();
  const std::string cue = Disc("disc.cue", {"--lengths", "300,200", "--seed", "4"});
  const std::string out = dir_ / "out";
  const auto reference = Reference(cue, format);
  ASSERT_EQ(reference.size(), 2u);
  const CommandResult list = Rip({"--image", cue, "--format", format, "--output", out});
  const auto names = Summary(list.out);
  ASSERT_EQ(names.size(), 2u);
  ASSERT_TRUE(fs::remove(names[0].file));
  fs::create_symlink("/dev/full", names[0].file);

  const CommandResult r = Rip({"--image", cue, "--format", format, "--output", out});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(Count(r.err, "Obrin error: "), 1u) << r.err;
  EXPECT_NE(r.err.find("Obrin error: Cannot create output file\n"), std::string::npos) << r.err;
  const auto rows = Summary(r.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Statuses(rows), (std::vector<std::string>{"ERROR", "Completed"}));
  EXPECT_TRUE(fs::is_symlink(rows[0].file));
  if (format == "ogg") {
    EXPECT_EQ(ScanOgg(ReadFile(rows[1].file)).problem, "");
  } else if (format == "mp3") {
    EXPECT_TRUE(SameBytes(ReadFile(rows[1].file), reference[1]));
  } else {
    EXPECT_TRUE(IsWavOfTrack(rows[1].file, Audio(dir_ / "disc.bin", 300, 200), true));
  }
  EXPECT_TRUE(TempPcmFilesIn(out).empty());
}

// A real ENOSPC from a real file system: a 1 MiB tmpfs. Needs the right to mount.
TEST_F(FaultInjection, ASmallFileSystemFillsUpMidTrack) {
  const std::string mountPoint = dir_ / "small";
  fs::create_directory(mountPoint);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  const std::string cue = Disc("disc.cue", {"--lengths", "1000,100", "--seed", "8"});
  const std::string bin = dir_ / "disc.bin";

  // WAV: the first track does not fit (2.35 MB); the second does once the first is kept.
  CommandResult r = Rip({"--image", cue, "--format", "wav", "--output", mountPoint});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err.find("Obrin error: Cannot write output file\n") != std::string::npos, true)
      << r.err;
  auto rows = Summary(r.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].status, "ERROR");
  EXPECT_TRUE(IsWavOfTrack(rows[0].file, Audio(bin, 0, 1000), false));
  EXPECT_GT(fs::file_size(rows[0].file), 44u);
  // The second track finds no room left, or what a partial first track left over.
  if (rows[1].status == "Completed") {
    EXPECT_TRUE(IsWavOfTrack(rows[1].file, Audio(bin, 1000, 100), true));
  } else {
    // No room even for the header leaves a file shorter than one: it holds no audio.
    EXPECT_EQ(rows[1].status, "ERROR");
    if (fs::file_size(rows[1].file) >= 44) {
      EXPECT_TRUE(IsWavOfTrack(rows[1].file, Audio(bin, 1000, 100), false));
    }
  }

  // MP3 after the WAV files are gone: the capture of the first track fills the disk and its
  // temporary file is removed, which makes room for the second track.
  for (const auto& file : FilesUnder(mountPoint)) fs::remove(file);
  r = Rip({"--image", cue, "--format", "mp3", "--output", mountPoint});
  EXPECT_EQ(r.exitStatus, 1);
  rows = Summary(r.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Statuses(rows), (std::vector<std::string>{"ERROR", "Completed"})) << r.err;
  EXPECT_EQ(r.err.find("Obrin error: Cannot write output file\n") != std::string::npos, true);
  EXPECT_FALSE(FileExists(rows[0].file));
  EXPECT_TRUE(TempPcmFilesIn(mountPoint).empty());
}

// ---------------------------------------------------------------------------------------
// The output folder not writable.

class NotWritable : public FaultInjection, public ::testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(Output, NotWritable, ::testing::Values("wav", "mp3", "ogg"));

TEST_P(NotWritable, AFolderOfSomeoneElseGivesCannotCreateForEveryTrack) {
  const std::string format = GetParam();
  // An unprivileged user must reach the image, a config folder of its own and the programs.
  chmod(dir_.path().c_str(), 0755);
  const std::string cue = Disc("disc.cue", {"--lengths", "150,150"});
  const std::string out = dir_ / "theirs";
  fs::create_directory(out);
  ChildOptions options;
  std::string config = config_.path();
  if (geteuid() == 0) {
    // Permission bits do not stop root: run obrin-rip as nobody.
    options.uid = kNobody;
    options.gid = kNobody;
    config = dir_ / "nobody-config";
    fs::create_directory(config);
    ASSERT_EQ(chown(config.c_str(), kNobody, kNobody), 0);
  } else {
    chmod(out.c_str(), 0555);
  }
  options.env.push_back("XDG_CONFIG_HOME=" + config);
  ChildProcess probe;
  ASSERT_TRUE(probe.Start({"obrin-rip", "--version"}, options));
  if (Finish(probe).exitStatus != 0) {
    GTEST_SKIP() << "the build folder is not reachable by an unprivileged user";
  }

  ChildProcess child;
  ASSERT_TRUE(
      child.Start({"obrin-rip", "--image", cue, "--format", format, "--output", out}, options));
  const CommandResult r = Finish(child);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(Count(r.err, "Obrin error: "), 2u) << r.err;
  EXPECT_EQ(Count(r.err, "Obrin error: Cannot create output file\n"), 2u);
  const auto rows = Summary(r.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Statuses(rows), (std::vector<std::string>{"ERROR", "ERROR"}));
  EXPECT_EQ(FilesUnder(out), std::vector<std::string>{});
}

TEST_P(NotWritable, AFolderUnderAFileGivesCannotCreateForEveryTrack) {
  const std::string format = GetParam();
  const std::string cue = Disc("disc.cue", {"--lengths", "150,150"});
  WriteFile(dir_ / "plain-file", "x");
  const CommandResult r =
      Rip({"--image", cue, "--format", format, "--output", dir_ / "plain-file/music"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(Count(r.err, "Obrin error: Cannot create output file\n"), 2u) << r.err;
  EXPECT_EQ(Count(r.err, "Obrin error: "), 2u) << r.err;
  EXPECT_EQ(Statuses(Summary(r.out)), (std::vector<std::string>{"ERROR", "ERROR"}));
  EXPECT_EQ(ReadFile(dir_ / "plain-file"), "x");
}

// ---------------------------------------------------------------------------------------
// The output folder removed during a rip.

struct RemovalCase {
  const char* name;
  const char* format;
  const char* track1Sectors;  // long enough to be still in progress when the folder goes
  int percent;                // act at this progress of track 1
  const char* firstMessage;   // what track 1 then reports
};

void PrintTo(const RemovalCase& c, std::ostream* os) {
  *os << c.name;
}

class FolderRemoved : public FaultInjection, public ::testing::WithParamInterface<RemovalCase> {};
INSTANTIATE_TEST_SUITE_P(
    MidTrack, FolderRemoved,
    ::testing::Values(RemovalCase{"wav", "wav", "10000", 5, "Cannot write output file"},
                      RemovalCase{"mp3_capture", "mp3", "10000", 3, "Cannot open PCM data file"},
                      RemovalCase{"mp3_encode", "mp3", "2000", 50, "Cannot write output file"},
                      RemovalCase{"ogg_encode", "ogg", "2000", 50, "Cannot write output file"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(FolderRemoved, TheTrackBeingWrittenEndsInErrorAndTheNextMakesTheFolderAgain) {
  const RemovalCase c = GetParam();
  const std::string cue = Disc("disc.cue", {"--lengths", std::string(c.track1Sectors) + ",150"});
  const std::string out = dir_ / "out";
  ChildProcess child;
  Start(child, {"--image", cue, "--format", c.format, "--output", out});
  ASSERT_TRUE(child.WaitForErrLine(ProgressAtLeast(1, c.percent))) << child.err();
  ASSERT_EQ(child.err().find("Track 01: Completed"), std::string::npos) << "too late";
  fs::remove_all(out);
  const CommandResult r = Finish(child);
  ASSERT_FALSE(child.timedOut());
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(Count(r.err, "Obrin error: "), 1u) << r.err;
  // Track 1 fails; track 2 makes the output folder again and is written there.
  EXPECT_NE(r.err.find(std::string("Obrin error: ") + c.firstMessage + "\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(Statuses(Summary(r.out)), (std::vector<std::string>{"ERROR", "Completed"}));
  EXPECT_TRUE(fs::exists(out));
}

// ---------------------------------------------------------------------------------------
// The image file removed or truncated during a rip.

TEST_F(FaultInjection, ImageRemovedMidRipFinishesTheOpenTrackAndFailsTheNext) {
  const std::string cue = Disc("disc.cue", {"--lengths", "10000,150"});
  const std::string bin = dir_ / "disc.bin";
  const auto tracks = Tracks(bin, {10000, 150});
  ChildProcess child;
  Start(child, {"--image", cue, "--format", "wav", "--output", dir_ / "out"});
  ASSERT_TRUE(child.WaitForErrLine(ProgressAtLeast(1, 5)));
  ASSERT_EQ(child.err().find("Track 01: Completed"), std::string::npos) << "too late";
  fs::remove(bin);
  const CommandResult r = Finish(child);
  EXPECT_EQ(r.exitStatus, 1);
  // The open image keeps its data until it is closed at the track's end.
  EXPECT_EQ(Count(r.err, "Obrin error: "), 1u) << r.err;
  EXPECT_NE(r.err.find("Obrin error: Error at frame 10000 ("), std::string::npos) << r.err;
  const auto rows = Summary(r.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Statuses(rows), (std::vector<std::string>{"Completed", "ERROR"}));
  EXPECT_TRUE(IsWavOfTrack(rows[0].file, tracks[0], true));
  EXPECT_TRUE(IsWavOfTrack(rows[1].file, tracks[1], false));
  EXPECT_EQ(fs::file_size(rows[1].file), 44u);
}

struct TruncationCase {
  const char* name;
  const char* format;
  size_t track1Sectors;  // track 2 has 3000
  int actAt;             // percent of track 1
  size_t cutAt;          // bytes of the bin kept
  int errorTrack;        // 1-based track that meets the end of the data
};

void PrintTo(const TruncationCase& c, std::ostream* os) {
  *os << c.name;
}

class ImageTruncated : public FaultInjection,
                       public ::testing::WithParamInterface<TruncationCase> {};
INSTANTIATE_TEST_SUITE_P(
    MidRip, ImageTruncated,
    ::testing::Values(
        // Cut inside track 2 (mid-sector), and ahead of the reader inside track 1.
        TruncationCase{"wav_next_track", "wav", 10000, 5, (10000 + 1000) * kSector + 1001, 2},
        TruncationCase{"wav_same_track", "wav", 10000, 5, 8000 * kSector + 7, 1},
        TruncationCase{"mp3_next_track", "mp3", 2000, 40, (2000 + 1000) * kSector + 1001, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(ImageTruncated, TheTrackThatMeetsTheEndIsAnErrorWithWholeBlocksKept) {
  const TruncationCase c = GetParam();
  const std::string cue =
      Disc("disc.cue", {"--lengths", std::to_string(c.track1Sectors) + ",3000", "--seed", "7"});
  const std::string bin = dir_ / "disc.bin";
  const auto tracks = Tracks(bin, {c.track1Sectors, 3000});
  const size_t starts[] = {0, c.track1Sectors};
  ChildProcess child;
  Start(child, {"--image", cue, "--format", c.format, "--output", dir_ / "out"});
  ASSERT_TRUE(child.WaitForErrLine(ProgressAtLeast(1, c.actAt)));
  ASSERT_EQ(child.err().find("Track 01: Completed"), std::string::npos) << "too late";
  ASSERT_EQ(truncate(bin.c_str(), static_cast<off_t>(c.cutAt)), 0);
  const CommandResult r = Finish(child);
  EXPECT_EQ(r.exitStatus, 1);
  // Every track from the one cut short on meets the end of the data, each with its message.
  EXPECT_EQ(Count(r.err, "Obrin error: "), 3u - c.errorTrack) << r.err;
  const auto rows = Summary(r.out);
  ASSERT_EQ(rows.size(), 2u);
  const size_t sectorsLeft = c.cutAt / kSector;  // a part sector is no sector
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE("track " + std::to_string(i + 1));
    const bool failed = i + 1 >= c.errorTrack;
    EXPECT_EQ(rows[i].status, failed ? "ERROR" : "Completed");
    if (!failed) continue;
    // The block of 26 sectors that reaches past the new end fails whole.
    const size_t goodSectors = sectorsLeft > starts[i] ? (sectorsLeft - starts[i]) / 26 * 26 : 0;
    EXPECT_NE(
        r.err.find("Obrin error: Error at frame " + std::to_string(starts[i] + goodSectors) + " ("),
        std::string::npos)
        << r.err;
    if (std::string(c.format) == "wav") {
      EXPECT_TRUE(IsWavOfTrack(rows[i].file, tracks[i], false));
      EXPECT_EQ(fs::file_size(rows[i].file), 44 + goodSectors * kSector);
    }
  }
  if (c.errorTrack == 2 && std::string(c.format) == "wav") {
    EXPECT_TRUE(IsWavOfTrack(rows[0].file, tracks[0], true));
  }
  if (std::string(c.format) == "mp3") {
    EXPECT_TRUE(TempPcmFilesIn(dir_ / "out").empty());
  }
}

// ---------------------------------------------------------------------------------------
// SIGKILL during the settings save.

TEST_F(FaultInjection, KillDuringTheFirstSettingsSaveLeavesNoFileOrAWholeOne) {
  const std::string cue = Disc("disc.cue", {"--lengths", "75"});
  const std::string folder = fs::path(BinPath("obrin-rip")).parent_path().string() + "/My Music/";
  const std::string whole = FreshSettingsFile(folder);

  // How long a first run takes here, to spread the kills over its whole life.
  const auto begin = std::chrono::steady_clock::now();
  ChildOptions first;
  first.env.push_back("XDG_CONFIG_HOME=" + (dir_ / "timing"));
  ChildProcess timing;
  ASSERT_TRUE(timing.Start({"obrin-rip", "--image", cue, "--list"}, first));
  ASSERT_EQ(Finish(timing).exitStatus, 0);
  const auto runTime = std::chrono::steady_clock::now() - begin;
  ASSERT_EQ(ReadFile(dir_ / "timing/obrin/Obrin.ini"), whole);

  constexpr int kKills = 50;
  int absent = 0, complete = 0, finished = 0, staleTemps = 0;
  for (int i = 0; i < kKills; ++i) {
    SCOPED_TRACE("kill " + std::to_string(i));
    const std::string home = dir_ / ("kill" + std::to_string(i));
    ChildOptions options;
    options.env.push_back("XDG_CONFIG_HOME=" + home);
    ChildProcess child;
    ASSERT_TRUE(child.Start({"obrin-rip", "--image", cue, "--list"}, options));
    // Timing is what is being injected here, not relied on: every moment must be safe.
    std::this_thread::sleep_for(runTime * i / (kKills - 1) * 11 / 10);
    child.Signal(SIGKILL);
    const int status = Finish(child).exitStatus;
    ASSERT_TRUE(status == 128 + SIGKILL || status == 0) << status;
    if (status == 0) ++finished;
    const std::string ini = home + "/obrin/Obrin.ini";
    if (FileExists(ini)) {
      EXPECT_EQ(ReadFile(ini), whole);
      ++complete;
    } else {
      ++absent;
    }
    for (const auto& file : FilesUnder(home)) {
      const std::string name = fs::path(file).filename().string();
      if (name == "Obrin.ini") continue;
      // A killed save can only leave its hidden temporary file, never a visible one.
      EXPECT_EQ(name.rfind(".Obrin.ini.", 0), 0u) << file;
      ++staleTemps;
    }
    // The next run on whatever was left completes the file (checked on every fifth).
    if (i % 5 == 0) {
      ChildProcess next;
      ASSERT_TRUE(next.Start({"obrin-rip", "--image", cue, "--list"}, options));
      EXPECT_EQ(Finish(next).exitStatus, 0);
      EXPECT_EQ(ReadFile(ini), whole);
    }
  }
  std::printf(
      "[ figures  ] %d kills: %d left no settings file, %d a whole one (%d had finished); "
      "%d stale temporary files\n",
      kKills, absent, complete, finished, staleTemps);
  EXPECT_EQ(absent + complete, kKills);
}

// ---------------------------------------------------------------------------------------
// Stop at a random moment, many times.

unsigned Seed() {
  const char* fixed = std::getenv("OBRIN_FAULT_SEED");
  return fixed ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10))
               : static_cast<unsigned>(std::random_device{}());
}

TEST_F(FaultInjection, WavStoppedAtRandomBlocksIsAlwaysAValidPrefix) {
  const unsigned seed = Seed();
  SCOPED_TRACE("OBRIN_FAULT_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const std::vector<size_t> lengths = {3000, 750};
  const std::string cue = Disc("disc.cue", {"--lengths", "3000,750", "--seed", "21"});
  const auto tracks = Tracks(dir_ / "disc.bin", lengths);

  constexpr int kStops = 30;
  int midTrack = 0, afterTheEnd = 0;
  for (int i = 0; i < kStops; ++i) {
    const int track = random() % 5 == 0 ? 2 : 1;
    const int percent = static_cast<int>(random() % 100);
    SCOPED_TRACE("stop " + std::to_string(i) + " at track " + std::to_string(track) + " " +
                 std::to_string(percent) + "%");
    const std::string out = dir_ / ("out" + std::to_string(i));
    ChildProcess child;
    Start(child, {"--image", cue, "--format", "wav", "--output", out});
    child.WaitForErrLine(ProgressAtLeast(track, percent));
    child.Signal(SIGINT);
    const CommandResult r = Finish(child);
    ASSERT_FALSE(child.timedOut()) << r.err;
    // A stop that arrives once the job has ended changes nothing.
    ASSERT_TRUE(r.exitStatus == 130 || r.exitStatus == 0) << r.exitStatus << r.err;
    EXPECT_EQ(Count(r.err, "Obrin error: "), 0u) << r.err;
    const auto rows = Summary(r.out);
    ASSERT_EQ(rows.size(), 2u) << r.out;
    bool stoppedMidTrack = false;
    for (size_t t = 0; t < 2; ++t) {
      const SummaryLine& row = rows[t];
      if (r.exitStatus == 0) {
        ASSERT_EQ(row.status, "Completed");
      }
      if (row.status == "Completed") {
        EXPECT_TRUE(IsWavOfTrack(row.file, tracks[t], true)) << row.file;
      } else {
        ASSERT_EQ(row.status, "Stopped");
        if (row.file == "-") continue;  // never started: nothing written
        EXPECT_TRUE(IsWavOfTrack(row.file, tracks[t], false)) << row.file;
        if (fs::file_size(row.file) < 44 + lengths[t] * kSector) stoppedMidTrack = true;
      }
    }
    stoppedMidTrack ? ++midTrack : ++afterTheEnd;
  }
  std::printf(
      "[ figures  ] %d WAV stops: %d cut a track short, %d came after the audio was whole\n",
      kStops, midTrack, afterTheEnd);
  // The stops must mostly land inside the audio, or this test proves little.
  EXPECT_GE(midTrack, kStops / 2);
}

TEST_F(FaultInjection, EncodedFormatsStoppedAtRandomMomentsAreNeverCompletedUnlessWhole) {
  const unsigned seed = Seed();
  SCOPED_TRACE("OBRIN_FAULT_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const std::string cue = Disc("disc.cue", {"--lengths", "1000,200", "--seed", "22"});
  const auto tracks = Tracks(dir_ / "disc.bin", {1000, 200});
  const auto mp3Reference = Reference(cue, "mp3");
  ASSERT_EQ(mp3Reference.size(), 2u);

  // The capture is 0..30%, the encode 30..100%: two stops in each, then one at random.
  const int percents[] = {2, 20, 45, 85, static_cast<int>(random() % 100)};
  int pcmLeft = 0, partialFiles = 0, runs = 0;
  for (const char* format : {"mp3", "ogg"}) {
    for (int percent : percents) {
      SCOPED_TRACE(std::string(format) + " stop at " + std::to_string(percent) + "%");
      const std::string out = dir_ / ("out" + std::to_string(++runs));
      ChildProcess child;
      Start(child, {"--image", cue, "--format", format, "--output", out});
      child.WaitForErrLine(ProgressAtLeast(1, percent));
      child.Signal(SIGINT);
      const CommandResult r = Finish(child);
      ASSERT_FALSE(child.timedOut()) << r.err;
      ASSERT_TRUE(r.exitStatus == 130 || r.exitStatus == 0) << r.exitStatus;
      EXPECT_EQ(Count(r.err, "Obrin error: "), 0u) << r.err;
      const auto rows = Summary(r.out);
      ASSERT_EQ(rows.size(), 2u);
      const auto temps = TempPcmFilesIn(out);
      int stoppedInCapture = 0;
      for (size_t t = 0; t < 2; ++t) {
        const SummaryLine& row = rows[t];
        if (row.status == "Completed") {
          if (std::string(format) == "mp3") {
            EXPECT_TRUE(SameBytes(ReadFile(row.file), mp3Reference[t])) << row.file;
          } else {
            const OggScan scan = ScanOgg(ReadFile(row.file));
            EXPECT_EQ(scan.problem, "");
            EXPECT_TRUE(scan.endOfStream);
            EXPECT_EQ(scan.lastGranule, static_cast<int64_t>(tracks[t].size() / 4));
          }
          continue;
        }
        ASSERT_EQ(row.status, "Stopped");
        if (row.file == "-") continue;
        if (!FileExists(row.file)) {
          // Stopped during the capture: obrin-rip removes the temporary file (checked below).
          ++stoppedInCapture;
          continue;
        }
        // Stopped during the encode: a partial file that never claims to be whole.
        ++partialFiles;
        const std::string partial = ReadFile(row.file);
        if (std::string(format) == "mp3") {
          ASSERT_GT(partial.size(), 0u);
          EXPECT_EQ(static_cast<uint8_t>(partial[0]), 0xFF);
        } else {
          const OggScan scan = ScanOgg(partial);
          EXPECT_EQ(scan.problem, "");
          EXPECT_FALSE(scan.endOfStream);
          EXPECT_LT(scan.lastGranule, static_cast<int64_t>(tracks[t].size() / 4));
        }
      }
      EXPECT_TRUE(temps.empty());
      pcmLeft += stoppedInCapture;
    }
  }
  std::printf(
      "[ figures  ] 10 MP3/Ogg stops: %d in the capture (no temporary file left), %d a "
      "partial file\n",
      pcmLeft, partialFiles);
}

// ---------------------------------------------------------------------------------------
// Two obrin-rip processes writing into one output folder.

// Two rips of one disc wrote the same names at once. Every track must end whole on disk and
// "Completed" by at least one of them; a rip that did not complete a track must have said so
// with the one message a file held by the other rip gives.
// Returns how many tracks one of the two left to the other.
size_t CheckSharedNames(
    const std::vector<CommandResult>& runs, size_t trackCount,
    const std::function<::testing::AssertionResult(size_t, const std::string&)>& isWhole) {
  std::vector<int> completedBy(trackCount, 0);
  std::vector<std::string> files(trackCount);
  size_t leftToTheOther = 0;
  for (const CommandResult& r : runs) {
    size_t errors = 0;
    for (const SummaryLine& row : Summary(r.out)) {
      const size_t t = static_cast<size_t>(std::atoi(row.title.c_str() + 6)) - 1;
      if (t >= trackCount) {
        ADD_FAILURE() << "unexpected summary line " << row.title;
        continue;
      }
      files[t] = row.file;
      if (row.status == "Completed") {
        ++completedBy[t];
        EXPECT_TRUE(isWhole(t, row.file)) << row.title << " completed but not whole";
      } else {
        EXPECT_EQ(row.status, "ERROR") << row.title;
        ++errors;
      }
    }
    EXPECT_EQ(r.exitStatus, errors == 0 ? 0 : 1) << r.err;
    EXPECT_EQ(Count(r.err, "Obrin error: "), errors) << r.err;
    EXPECT_EQ(Count(r.err, "Obrin error: Cannot create output file\n"), errors) << r.err;
    leftToTheOther += errors;
  }
  for (size_t t = 0; t < trackCount; ++t) {
    EXPECT_GE(completedBy[t], 1) << "track " << t + 1 << " completed by neither rip";
    EXPECT_TRUE(isWhole(t, files[t])) << "track " << t + 1 << " on disk at the end";
  }
  return leftToTheOther;
}

TEST_F(FaultInjection, ASecondRipIntoTheFolderNeverTouchesTheFirstOnesTemporaryFile) {
  const std::string cue = Disc("disc.cue", {"--lengths", "1500,1500,1500", "--seed", "9"});
  const auto reference = Reference(cue, "mp3");
  ASSERT_EQ(reference.size(), 3u);
  const std::string out = dir_ / "shared";
  // The second rip starts with track 2 while the first encodes track 1 from its temporary
  // file: with one temporary file between them, track 1 would get track 2's audio.
  ChildProcess first, second;
  Start(first, {"--image", cue, "--format", "mp3", "--output", out});
  ASSERT_TRUE(first.WaitForErrLine(ProgressAtLeast(1, 35)));
  Start(second, {"--image", cue, "--format", "mp3", "--output", out, "--tracks", "2-3"});
  const std::vector<CommandResult> runs = {Finish(first), Finish(second)};
  ASSERT_FALSE(first.timedOut() || second.timedOut());
  const auto firstRows = Summary(runs[0].out);
  ASSERT_EQ(firstRows.size(), 3u);
  EXPECT_EQ(firstRows[0].status, "Completed");
  CheckSharedNames(runs, 3, [&](size_t t, const std::string& file) {
    return SameBytes(ReadFile(file), reference[t]);
  });
  EXPECT_TRUE(TempPcmFilesIn(out).empty());
}

class SameNames : public FaultInjection, public ::testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(TwoRips, SameNames, ::testing::Values("mp3", "ogg"));

// Both rips write every track under the same names, the second a moment behind and at
// another quality, so that bytes of the two mixed in one file would show.
TEST_P(SameNames, EveryTrackEndsWholeAndCompletedByOneOfThem) {
  const std::string format = GetParam();
  const std::string cue = Disc("disc.cue", {"--lengths", "1500,1500,1500", "--seed", "10"});
  const auto tracks = Tracks(dir_ / "disc.bin", {1500, 1500, 1500});
  const ChildOptions other = OtherQuality();
  const auto mine = Reference(cue, format), theirs = Reference(cue, format, other);
  ASSERT_EQ(mine.size(), 3u);
  ASSERT_EQ(theirs.size(), 3u);
  ASSERT_NE(mine[0], theirs[0]);
  const std::string out = dir_ / "shared";
  ChildProcess first, second;
  Start(first, {"--image", cue, "--format", format, "--output", out});
  ASSERT_TRUE(first.WaitForErrLine(ProgressAtLeast(1, 5)));
  Start(second, {"--image", cue, "--format", format, "--output", out}, other);
  const std::vector<CommandResult> runs = {Finish(first), Finish(second)};
  ASSERT_FALSE(first.timedOut() || second.timedOut());
  const size_t left = CheckSharedNames(runs, 3, [&](size_t t, const std::string& file) {
    const std::string bytes = ReadFile(file);
    if (format == "mp3") {
      return bytes == mine[t] || bytes == theirs[t] ? ::testing::AssertionSuccess()
                                                    : ::testing::AssertionFailure()
                                                          << "neither rip's file: " << bytes.size()
                                                          << " bytes";
    }
    const OggScan scan = ScanOgg(bytes);
    if (!scan.problem.empty()) return ::testing::AssertionFailure() << scan.problem;
    if (!scan.endOfStream || scan.lastGranule != static_cast<int64_t>(tracks[t].size() / 4)) {
      return ::testing::AssertionFailure() << "the stream ends early";
    }
    return ::testing::AssertionSuccess();
  });
  std::printf(
      "[ figures  ] two %s rips under the same names: %zu of 6 tracks left to the other "
      "rip (ERROR)\n",
      format.c_str(), left);
  EXPECT_TRUE(TempPcmFilesIn(out).empty());
}

TEST_F(FaultInjection, TwoRipsOfDifferentDiscsIntoOneFolderKeepTheirOwnAudio) {
  const std::string one = Disc("one.cue", {"--lengths", "1500,1500", "--seed", "31"});
  const std::string two = Disc("two.cue", {"--lengths", "1200,1200", "--seed", "32"});
  const auto referenceOne = Reference(one, "mp3"), referenceTwo = Reference(two, "mp3");
  const std::string out = dir_ / "shared";
  ChildProcess first, second;
  Start(first, {"--image", one, "--format", "mp3", "--output", out});
  ASSERT_TRUE(first.WaitForErrLine(ProgressAtLeast(1, 50)));
  Start(second, {"--image", two, "--format", "mp3", "--output", out});
  const CommandResult a = Finish(first), b = Finish(second);
  ASSERT_FALSE(first.timedOut() || second.timedOut());
  const std::pair<const CommandResult*, const std::vector<std::string>*> runs[] = {
      {&a, &referenceOne}, {&b, &referenceTwo}};
  for (const auto& [r, reference] : runs) {
    EXPECT_EQ(r->exitStatus, 0) << r->err;
    const auto rows = Summary(r->out);
    ASSERT_EQ(rows.size(), 2u);
    for (size_t t = 0; t < 2; ++t) {
      EXPECT_EQ(rows[t].status, "Completed");
      EXPECT_TRUE(SameBytes(ReadFile(rows[t].file), (*reference)[t])) << rows[t].file;
    }
  }
  EXPECT_TRUE(TempPcmFilesIn(out).empty());
}

}  // namespace
