// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Faults a ripper meets in real life, injected into real obrin-rip processes ripping discs made
// by mkdisc. Guards against:
// - a failed write in the capture (one seen only at fclose too) not reported, or "Completed"
// - a WAV cut by a failed write keeping part frames, or a header claiming more than it holds
// - a WAV whose write failed, or whose folder went, called "Completed"
// - the temporary PCM file left behind, or shared by two rips into one folder
// - two rips writing one output name at once: mixed bytes, or a track lost to both
// - a read error reported at the wrong frame, or the blocks before it lost
// - a stop ignored by the read loop; a stopped track called "Completed"
// - a signal (INT, TERM, HUP, a second one, a stray USR1) or a closed pipe ending obrin-rip
//   with the wrong status, an inconsistent WAV or a temporary file left behind
// - a closed standard stream taken by an output file
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "support/decode.h"
#include "support/process.h"
#include "support/test_env.h"

namespace fs = std::filesystem;
using testing::AssertionFailure;
using testing::AssertionResult;
using testing::AssertionSuccess;
using Strings = std::vector<std::string>;

namespace {

constexpr size_t kSector = 2352;
constexpr const char *kWrite = "Cannot write output file", *kCreate = "Cannot create output file";

struct Row {
  std::string title, status, file;
};
// obrin-rip's summary on standard output: "Title\tStatus\tFile" per ripped track.
std::vector<Row> Summary(const std::string& out) {
  std::vector<Row> rows;
  std::istringstream in(out);
  for (Row r; getline(in, r.title, '\t') && getline(in, r.status, '\t') && getline(in, r.file);)
    rows.push_back(r);
  return rows;
}
// The "Obrin error: " messages, a read error's codes "(N:N)" cut to "(".
Strings Errors(const std::string& err) {
  Strings errors;
  std::istringstream in(err);
  for (std::string line; getline(in, line);) {
    if (line.ends_with(")")) line.resize(line.rfind('(') + 1);
    if (line.starts_with("Obrin error: ")) errors.push_back(line.substr(13));
  }
  return errors;
}
size_t Temps(const std::string& folder) {  // temporary PCM files left in `folder`
  std::error_code ec;
  return std::ranges::count_if(fs::directory_iterator(folder, ec), [](const auto& entry) {
    return entry.path().filename().string().starts_with("cddatmp");
  });
}

// A CD-format WAV whose sizes agree with the file, holding whole frames that are a
// bit-identical start of `track` (all of it when `whole`). Fields in host order: little-endian.
AssertionResult IsWavOf(const std::string& path, const std::string& track, bool whole) {
  const std::string wav = FileExists(path) ? ReadFile(path) : "";
  const uint32_t data = wav.size() < 44 ? 0 : static_cast<uint32_t>(wav.size() - 44);
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<char*>(&v), 4); };
  const std::string header = "RIFF" + u32(data + 36) + "WAVEfmt " + u32(16) + u32(0x00020001) +
                             u32(44100) + u32(44100 * 4) + u32(0x00100004) + "data" + u32(data);
  if (wav.compare(0, 44, header) == 0 && data % 4 == 0 && data <= track.size() &&
      wav.compare(44, data, track, 0, data) == 0 && (!whole || data == track.size()))
    return AssertionSuccess();
  return AssertionFailure() << path << " (" << wav.size() << " bytes) is no WAV of the track";
}

// A FLAC file that decodes without error to a start of `track` (all of it when `whole`).
AssertionResult IsFlacOf(const std::string& path, const std::string& track, bool whole) {
  const auto audio = DecodeFlac(path);
  if (audio && audio->size() <= track.size() && track.compare(0, audio->size(), *audio) == 0 &&
      (!whole || audio->size() == track.size()))
    return AssertionSuccess();
  return AssertionFailure() << path << " is no FLAC of the track"
                            << (audio ? " (" + std::to_string(audio->size()) + " bytes)" : "");
}

// The whole track: the WAV and the FLAC bit for bit, the MP3 and the Ogg decoding to its
// length.
AssertionResult Whole(const std::string& format, const std::string& path,
                      const std::string& track) {
  if (format == "wav") return IsWavOf(path, track, true);
  if (format == "flac") return IsFlacOf(path, track, true);
  const auto frames = int64_t(format == "mp3" ? Decode(path).frames() : DecodeOgg(path).frames());
  if (frames * 4 == int64_t(track.size())) return AssertionSuccess();
  return AssertionFailure() << path << " holds " << frames << " frames, not the whole track";
}

// "Track 0N: P%" with P >= percent, or the track's end.
std::function<bool(const std::string&)> Progress(int track, int percent) {
  const std::string head = "Track 0" + std::to_string(track) + ": ";
  return [head, percent](const std::string& line) {
    const std::string rest = line.starts_with(head) ? line.substr(head.size()) : "Pending";
    return rest.ends_with('%') ? std::atoi(rest.c_str()) >= percent : rest != "Pending";
  };
}

class Faults : public testing::Test {
 protected:
  // Makes dir_/NAME.cue of tracks of `lengths` sectors; returns their audio.
  Strings Disc(const std::string& name, const std::vector<size_t>& lengths) {
    std::string list;
    for (size_t length : lengths) list += (list.empty() ? "" : ",") + std::to_string(length);
    MakeDiscAt(dir_ / (name + ".cue"), {"--lengths", list});
    const std::string bin = ReadFile(dir_ / (name + ".bin"));
    Strings tracks;
    for (size_t at = 0, i = 0; i < lengths.size(); at += lengths[i++])
      tracks.push_back(bin.substr(at * kSector, lengths[i] * kSector));
    return tracks;
  }
  // Rips disc NAME into OUT/A/0N.FORMAT.
  void Start(ChildProcess& child, const std::string& disc, const std::string& format,
             const std::string& out, const ChildOptions& options = {}, const Strings& more = {}) {
    Strings args = {
        "obrin-rip", "--image", dir_ / (disc + ".cue"), "--format", format,   "--output", out,
        "--album",   "A",       "--template",           "$n",       "--jobs", "1"};
    args.insert(args.end(), more.begin(), more.end());
    ASSERT_TRUE(child.Start(args, options)) << child.err();
  }
  // Neither a hang nor a sanitizer report (whose exit status could pass for obrin-rip's 1).
  static CommandResult Finish(ChildProcess& child) {
    static const std::regex report("Sanitizer|runtime error:");
    CommandResult r = child.Wait();
    EXPECT_FALSE(child.timedOut() || std::regex_search(r.err, report)) << r.err;
    return r;
  }

  ScopedConfigHome config_;
  TempDir dir_;
};

// One fault per row: what obrin-rip must say (exit 1, each track's status and one message) and
// what a failed track's file must hold (a WAV always a true start of the track).
enum Fault { kLimit, kSmallDisk, kUnderFile, kGone, kImageGone, kCut };
constexpr size_t kAny = SIZE_MAX;
struct Case {
  const char* name;
  Fault fault;
  const char* format;
  size_t lengths[2];              // sectors
  int percent;                    // a mid-rip fault strikes at this progress of track 1
  size_t bytes;                   // the file size limit, or the bytes of the bin kept
  const char* messages[2];        // per track: its one error message, or none when it completes
  size_t kept[2] = {kAny, kAny};  // per failed track: the bytes its file holds
};
// Size limits fall against stdio's buffer and the 26-sector blocks: in the header, in a
// buffered tail, at a block's end, mid-block (whole frames kept), in the tail a capture's
// fclose writes. A read error names the first frame of the block that reached past the data,
// and the blocks before it stay.
// clang-format off
const Case kCases[] = {
    {"wav_limit_in_header", kLimit, "wav", {300, 200}, 0, 30, {kWrite, kWrite}, {30, 30}},
    {"wav_limit_in_buffer", kLimit, "wav", {300, 200}, 0, 4000, {kWrite, kWrite}, {4000, 4000}},
    {"wav_limit_block_end", kLimit, "wav", {300, 200}, 0, 61196, {kWrite, kWrite}, {61196, 61196}},
    {"wav_limit_mid_block", kLimit, "wav", {300, 200}, 0, 123457, {kWrite, kWrite}, {123456, 123456}},
    {"mp3_limit", kLimit, "mp3", {300, 200}, 0, 100000, {kWrite, kWrite}, {0, 0}},
    {"mp3_limit_at_close", kLimit, "mp3", {300, 200}, 0, 300 * kSector - 1, {kWrite}, {0, kAny}},
    {"ogg_limit", kLimit, "ogg", {300, 200}, 0, 100000, {kWrite, kWrite}, {0, 0}},
    {"mp3_small_disk", kSmallDisk, "mp3", {1000, 100}, 0, 0, {kWrite}, {0, kAny}},
    {"wav_folder_under_file", kUnderFile, "wav", {150, 150}, 0, 0, {kCreate, kCreate}},
    {"wav_folder_gone", kGone, "wav", {10000, 150}, 5, 0, {kWrite}},
    {"mp3_folder_gone_capture", kGone, "mp3", {10000, 150}, 3, 0, {"Cannot open PCM data file"}},
    {"mp3_folder_gone_encode", kGone, "mp3", {2000, 150}, 50, 0, {kWrite}},
    {"ogg_folder_gone_encode", kGone, "ogg", {2000, 150}, 50, 0, {kWrite}},
    {"wav_image_gone", kImageGone, "wav", {10000, 150}, 5, 0, {nullptr, "Error at frame 10000 ("},
     {kAny, 44}},
    {"wav_cut_next_track", kCut, "wav", {10000, 3000}, 5, 11000 * kSector + 1001,
     {nullptr, "Error at frame 10988 ("}, {kAny, 44 + 988 * kSector}},
    {"wav_cut_ahead", kCut, "wav", {10000, 3000}, 5, 8000 * kSector + 7,
     {"Error at frame 7982 (", "Error at frame 10000 ("}, {44 + 7982 * kSector, 44}},
    {"mp3_cut_next_track", kCut, "mp3", {2000, 3000}, 40, 3000 * kSector + 1001,
     {nullptr, "Error at frame 2988 ("}},
    {"flac_limit", kLimit, "flac", {300, 200}, 0, 100000, {kWrite, kWrite}},
    {"flac_folder_gone", kGone, "flac", {10000, 150}, 5, 0, {kWrite}},
    {"flac_cut_ahead", kCut, "flac", {10000, 3000}, 5, 8000 * kSector + 7,
     {"Error at frame 7982 (", "Error at frame 10000 ("}},
};
// clang-format on

class FaultTable : public Faults, public testing::WithParamInterface<Case> {};
INSTANTIATE_TEST_SUITE_P(Rip, FaultTable, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(FaultTable, ShowsAsAnErrorAndLeavesNoLieOnDisk) {
  const Case& c = GetParam();
  const std::string format = c.format, bin = dir_ / "disc.bin";
  const std::string out = dir_ / (c.fault == kUnderFile ? "plain/music" : "out");
  const auto tracks = Disc("disc", {c.lengths[0], c.lengths[1]});
  auto file = [&](size_t t) { return out + "/A/0" + std::to_string(t + 1) + "." + format; };
  ChildOptions options;
  if (c.fault == kLimit) options.fileSizeLimit = c.bytes;
  // A fault struck mid-rip must land while the track is still being read: at full speed a
  // 10000-sector track is read in a few dozen milliseconds, less than a loaded machine may
  // take to see the progress line and act. At 150x it takes most of a second.
  if (c.percent > 0) options.env.push_back("OBRIN_IMAGE_SPEED=150");
  if (c.fault == kUnderFile) WriteFile(dir_ / "plain", "x");
  if (c.fault != kUnderFile) fs::create_directories(out);
  const bool mounted = c.fault == kSmallDisk && !mount("tmpfs", out.c_str(), "tmpfs", 0, "size=1m");
  std::unique_ptr<const char, int (*)(const char*)> unmount(mounted ? out.c_str() : nullptr,
                                                            umount);
  if (c.fault == kSmallDisk && !mounted) GTEST_SKIP() << "mounting a tmpfs is not allowed here";

  ChildProcess child;
  Start(child, "disc", format, out, options);
  if (c.percent > 0) {
    ASSERT_TRUE(child.WaitForErrLine(Progress(1, c.percent))) << child.err();
    ASSERT_EQ(child.err().find("Track 01: Completed"), std::string::npos) << "too late";
    if (c.fault == kGone) fs::remove_all(out);
    if (c.fault == kImageGone) fs::remove(bin);
    ASSERT_EQ(c.fault == kCut ? truncate(bin.c_str(), static_cast<off_t>(c.bytes)) : 0, 0);
  }
  const CommandResult r = Finish(child);
  EXPECT_EQ(r.exitStatus, 1);
  const auto rows = Summary(r.out);
  ASSERT_EQ(rows.size(), 2u) << r.out;
  Strings messages;
  for (size_t t = 0; t < 2; ++t) {
    SCOPED_TRACE("track " + std::to_string(t + 1));
    const size_t size = fs::is_regular_file(file(t)) ? fs::file_size(file(t)) : 0;
    EXPECT_EQ(rows[t].status, c.messages[t] ? "ERROR" : "Completed");
    EXPECT_TRUE(!c.messages[t]                        ? Whole(format, file(t), tracks[t])
                : format == "wav" && size >= 44       ? IsWavOf(file(t), tracks[t], false)
                : format == "flac" && c.fault == kCut ? IsFlacOf(file(t), tracks[t], false)
                                                      : AssertionSuccess());
    EXPECT_EQ(size, c.kept[t] == kAny ? size : c.kept[t]);
    if (c.messages[t]) messages.push_back(c.messages[t]);
  }
  EXPECT_EQ(Errors(r.err), messages) << r.err;
  EXPECT_EQ(Temps(out), 0u);
  EXPECT_TRUE(c.fault != kUnderFile || ReadFile(dir_ / "plain") == "x");
  EXPECT_TRUE(c.fault != kGone || fs::exists(out));  // made again for the next track
}

// obrin-rip under signals, closed streams and a closed pipe, run directly or by a bash line
// (`shell`) as "$0" "$@". The signals go one by one: the first once track 1 shows `percent` (or
// has ended), a last one once the stop's note is out, any between at once. `stall`: the encoder
// holds the worker from its second chunk on, as a stuck drive would, so a stop never ends.
struct SignalCase {
  std::string name, shell;
  Strings args;
  int percent;
  std::vector<int> signals;
  int status;
  std::string out;  // the start of standard output
  bool stall = false;
};

const std::string kHead = "\"$0\" \"$@\" 2>&1 | head -1; exit ${PIPESTATUS[0]}";
const std::string kStall =
    "LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_DIR " OBRIN_FAKE_LAME_FAIL=stall exec \"$0\" \"$@\"";
const Strings kWav = {"--format", "wav"};
const SignalCase kSignalCases[] = {
    {"head_wav", kHead, kWav, 0, {}, 141, "Track 01: "},
    {"second_INT", kStall, {}, 30, {SIGINT, SIGINT}, 130, "", true},
    {"HUP_then_TERM", kStall, {}, 30, {SIGHUP, SIGTERM}, 143, "", true},
    {"USR1_TERM", kStall, {}, 30, {SIGUSR1, SIGTERM, SIGINT}, 130, "", true},
    {"stderr_closed", "exec \"$0\" \"$@\" 2>&-", kWav, 0, {}, 0, "Track 01\tCompleted\t"},
    {"all_closed", "exec \"$0\" \"$@\" <&- >&- 2>&-", kWav, 0, {}, 0, ""}};

class CliProcess : public Faults, public testing::WithParamInterface<SignalCase> {};
INSTANTIATE_TEST_SUITE_P(Cases, CliProcess, testing::ValuesIn(kSignalCases),
                         [](const auto& info) { return info.param.name; });

TEST_P(CliProcess, EndsWithItsStatusAndConsistentFiles) {
  const SignalCase& c = GetParam();
  const std::string track = Disc("d", {20000})[0];
  Strings args = {"obrin-rip"};
  if (!c.shell.empty()) args = {"/bin/bash", "-c", c.shell, BinPath("obrin-rip")};
  args.insert(args.end(), {"--image", dir_ / "d.cue", "--output", dir_ / "out"});
  args.insert(args.end(), c.args.begin(), c.args.end());
  ChildProcess child;
  ASSERT_TRUE(child.Start(args));
  for (size_t i = 0; i < c.signals.size(); ++i) {
    const bool note = i > 0 && i + 1 == c.signals.size();
    auto noted = [](const std::string& line) {
      return line == "obrin-rip: stopping (interrupt again to quit at once)";
    };
    if (i == 0 || note) {
      ASSERT_TRUE(child.WaitForErrLine(note ? noted : Progress(1, c.percent))) << child.err();
    }
    child.Signal(c.signals[i]);
  }
  const CommandResult r = Finish(child);
  EXPECT_EQ(r.exitStatus, c.status) << r.err;
  EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
  std::error_code none;
  for (const auto& file : fs::recursive_directory_iterator(dir_ / "out", none)) {
    EXPECT_TRUE(c.stall || file.path().extension() != ".pcm") << file.path();
    if (file.path().extension() == ".wav") {
      EXPECT_TRUE(IsWavOf(file.path(), track, false));
    }
  }
}

// Stops (SIGINT, SIGTERM or SIGHUP) at random moments: 30 in WAV rips, five each in MP3 and Ogg
// rips (two in the capture, 0..30%, two in the encode, one anywhere) and in FLAC rips. Nothing
// unwhole may be "Completed"; a stopped WAV or FLAC is a true start of its track.
TEST_F(Faults, StopsAtRandomMomentsLeaveOnlyTrueFiles) {
  const char* fixed = std::getenv("OBRIN_FAULT_SEED");
  const unsigned seed = fixed ? std::strtoul(fixed, nullptr, 10) : std::random_device{}();
  SCOPED_TRACE("OBRIN_FAULT_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const Strings wavTracks = Disc("long", {3000, 750}), encTracks = Disc("short", {1000, 200});
  const int encPercents[] = {2, 20, 45, 85, static_cast<int>(random() % 100)};
  int cut = 0;
  for (int i = 0; i < 45; ++i) {
    const std::string format = i < 30 ? "wav" : i < 35 ? "mp3" : i < 40 ? "ogg" : "flac";
    const std::string disc = i < 30 ? "long" : "short", out = dir_ / ("stop" + std::to_string(i));
    const int track = i >= 30 || random() % 5 ? 1 : 2;
    const int percent = i < 30 ? static_cast<int>(random() % 100) : encPercents[i % 5];
    const int signal = std::array{SIGINT, SIGTERM, SIGHUP}[random() % 3];
    SCOPED_TRACE(format + " " + sigabbrev_np(signal) + " at " + std::to_string(track) + "/" +
                 std::to_string(percent));
    const Strings& tracks = i < 30 ? wavTracks : encTracks;
    ChildProcess child;
    Start(child, disc, format, out);
    child.WaitForErrLine(Progress(track, percent));
    child.Signal(signal);
    const CommandResult r = Finish(child);
    // A stop that arrives once the job has ended changes nothing.
    ASSERT_TRUE(r.exitStatus == 128 + signal || r.exitStatus == 0) << r.exitStatus << r.err;
    EXPECT_EQ(Errors(r.err), Strings{});
    const auto rows = Summary(r.out);
    ASSERT_EQ(rows.size(), 2u) << r.out;
    EXPECT_EQ(Temps(out), 0u);  // obrin-rip removes a stopped capture's temporary file
    for (size_t t = 0; t < 2; ++t) {
      const std::string& path = rows[t].file;
      if (rows[t].status == "Completed") {
        EXPECT_TRUE(Whole(format, path, tracks[t]));
      } else if (path != "-") {  // "-": never started, or stopped in the capture
        ASSERT_EQ(rows[t].status + " " + std::to_string(r.exitStatus),
                  "Stopped " + std::to_string(128 + signal));
        EXPECT_TRUE(format != "wav" || IsWavOf(path, tracks[t], false));
        EXPECT_TRUE(format != "flac" || IsFlacOf(path, tracks[t], false));
        cut += format == "wav" && fs::file_size(path) < 44 + tracks[t].size();
      }
    }
  }
  std::printf(
      "[ figures  ] 30 WAV stops: %d cut a track short, %d came after the audio was whole\n", cut,
      30 - cut);
  EXPECT_GE(cut, 15) << "the stops must mostly land inside the audio, or this proves little";
}

// Two rips into one folder: every track ends whole and "Completed" by at least one of them; the
// other says "Cannot create output file". The second rip starts while the first encodes track 1
// from its temporary file, or writes the same names at another Ogg quality.
TEST_F(Faults, TwoRipsIntoOneFolderLoseNothing) {
  const Strings tracks = Disc("disc", {1500, 1000, 1000});
  std::string ini = FreshSettingsFile("/");
  fs::create_directories(dir_ / "other/obrin");
  WriteFile(dir_ / "other/obrin/Obrin.ini", ini.replace(ini.find("\nvbr=9\n"), 7, "\nvbr=2\n"));
  for (auto [format, percent, tracksOfSecond] : {std::tuple{"mp3", 35, "2-3"}, {"ogg", 5, "1-3"}}) {
    SCOPED_TRACE(format);
    const std::string out = dir_ / format;
    ChildProcess first, second;
    Start(first, "disc", format, out);
    ASSERT_TRUE(first.WaitForErrLine(Progress(1, percent)));
    ChildOptions other;  // a config folder of its own
    other.env = {"XDG_CONFIG_HOME=" + dir_ / "other"};
    Start(second, "disc", format, out, other, {"--tracks", tracksOfSecond});
    int completedBy[4] = {}, ripped = 0, left = 0;
    for (ChildProcess* child : {&first, &second}) {
      const CommandResult r = Finish(*child);
      Strings errors;
      for (const Row& row : Summary(r.out)) {
        completedBy[std::stoi(row.title.substr(6)) & 3] += row.status == "Completed";
        if (row.status != "Completed") errors.push_back(row.status == "ERROR" ? kCreate : "?");
        ++ripped;
      }
      EXPECT_EQ(r.exitStatus, errors.empty() ? 0 : 1) << r.err;
      EXPECT_EQ(Errors(r.err), errors) << r.err;
      left += static_cast<int>(errors.size());
    }
    for (size_t t = 0; t < 3; ++t) {
      EXPECT_GE(completedBy[t + 1], 1) << "track " << t + 1 << " completed by neither rip";
      EXPECT_TRUE(Whole(format, out + "/A/0" + std::to_string(t + 1) + "." + format, tracks[t]));
    }
    EXPECT_EQ(Temps(out), 0u);
    std::printf("[ figures  ] two %s rips into one folder: %d of %d tracks left to the other rip\n",
                format, left, ripped);
  }
}

}  // namespace
