// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// obrin-rip --jobs: encodes beside the reader. Faults guarded: a file that differs from the
// one-by-one rip's (Ogg: in its audio), a summary out of list order, a read
// error that spills into another track, a stop that hangs, leaves a temporary file or calls
// a stopped track complete.
#include <signal.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "rip/rip_job.h"
#include "support/decode.h"
#include "support/fake_drive.h"
#include "support/process.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

// Every file under `dir` by its path below it; Ogg files by their decoded audio (each stream
// has a serial of its own).
std::map<std::string, std::string> FilesUnder(const std::string& dir) {
  std::map<std::string, std::string> files;
  std::error_code none;
  for (const auto& file : fs::recursive_directory_iterator(dir, none)) {
    if (!file.is_regular_file()) continue;
    std::string content = ReadFile(file.path());
    if (file.path().extension() == ".ogg") {
      content.clear();
      for (const auto& channel : DecodeOgg(file.path()).audio)
        content.append(reinterpret_cast<const char*>(channel.data()), channel.size() * 4);
    }
    EXPECT_FALSE(content.empty()) << file.path();
    files[fs::relative(file.path(), dir).string()] = content;
  }
  return files;
}

TEST(Jobs, OutputsAndSummaryMatchTheOneByOneRip) {
  TempDir dir;
  const std::string cue = MakeDiscAt(dir / "d.cue", {"--lengths", "2000,900,1500,600"});
  for (const auto& [format, ini] : std::vector<std::pair<std::string, std::string>>{
           {"wav", ""},
           {"mp3", ""},
           {"ogg", ""},
           {"flac", "[FLAC Setting]\nlevel=8\n"},
           {"wav", "[WAV Setting]\nsamplerate=48000 Hz\n"}}) {
    SCOPED_TRACE(format + ini);
    ScopedConfigHome config;
    fs::create_directories(config.path() + "/obrin");
    if (!ini.empty()) WriteFile(config.iniPath(), ini);
    std::map<std::string, std::string> files[2];
    std::string summary[2];
    for (int jobs : {1, 2}) {
      const std::string out = dir / ("out" + std::to_string(jobs));
      fs::remove_all(out);
      const CommandResult r = RunCommand({"obrin-rip", "--image", cue, "--format", format,
                                          "--output", out, "--jobs", std::to_string(jobs)});
      EXPECT_EQ(r.exitStatus, 0) << r.err;
      summary[jobs - 1] = r.out;
      files[jobs - 1] = FilesUnder(out);
    }
    EXPECT_EQ(files[0].size(), 4u);
    EXPECT_TRUE(files[0] == files[1]);
    EXPECT_EQ(summary[0], std::regex_replace(summary[1], std::regex("/out2/"), "/out1/"));
  }
}

TEST(Jobs, ReadErrorInOneTrackLeavesTheOthersAlone) {
  ScopedConfigHome config;
  TempDir dir;
  std::map<std::string, std::string> files[2];
  for (unsigned jobs : {1u, 2u}) {
    auto drive = std::make_shared<FakeDrive>();
    drive->SetTracks({{0, 1500}, {1500, 1200}, {2700, 1800}});
    drive->FailAttempts(1500 + 26 * 20, 1, INT_MAX);
    SetCdDevices({drive});
    const std::string out = dir / ("out" + std::to_string(jobs)) + "/";
    PrepareRipSettings(out, Ogg);
    RecordingHost host;
    StartRipJob(host, jobs);
    ASSERT_TRUE(host.WaitFinished());
    JoinRipJob();
    std::vector<int32_t> statuses;
    for (const TrackRecord& t : ripSettings.tracks) statuses.push_back(t.status);
    EXPECT_EQ(statuses, (std::vector<int32_t>{100, 102, 100})) << jobs;
    EXPECT_EQ(host.errors(), std::vector<std::string>{"Error at frame 2020 (3:4)"}) << jobs;
    files[jobs - 1] = FilesUnder(out);
  }
  EXPECT_EQ(files[0].size(), 3u);
  EXPECT_TRUE(files[0] == files[1]);
}

TEST(Jobs, CtrlCWithTwoEncodesInFlightStopsEveryTrack) {
  ScopedConfigHome config;
  TempDir dir;
  // Track 1 long, tracks 2 and 3 short: track 3 is captured while both encodes still have
  // much to do, even where reading is slower than encoding (sanitizer builds). Track 3 is
  // long enough to report 29% before its read ends (a report every 5 blocks).
  const std::string cue = MakeDiscAt(dir / "d.cue", {"--lengths", "30000,10000,5200"});
  ChildProcess child;
  ASSERT_TRUE(child.Start({"obrin-rip", "--image", cue, "--output", dir / "out", "--jobs", "2"}));
  // "Track 0N: P%" lines: two tracks encoding, the third captured and waiting for a slot
  // (its last blocks are read long before track 1 encodes 3% more).
  int percent[3] = {0, 0, 0}, firstAtLastBlocks = 100;
  ASSERT_TRUE(child.WaitForErrLine([&](const std::string& l) {
    const int track = l.starts_with("Track 01: ")   ? 0
                      : l.starts_with("Track 02: ") ? 1
                      : l.starts_with("Track 03: ") ? 2
                                                    : -1;
    if (track >= 0 && !l.ends_with("Pending")) {
      percent[track] = l.back() == '%' ? std::atoi(&l[10]) : 100;
    }
    if (percent[2] >= 29) firstAtLastBlocks = std::min(firstAtLastBlocks, percent[0]);
    return percent[0] >= firstAtLastBlocks + 3 && percent[0] < 100 && percent[1] >= 30 &&
           percent[1] < 100;
  })) << child.err();
  child.Signal(SIGINT);
  const CommandResult r = child.Wait();
  EXPECT_EQ(r.exitStatus, 130) << r.err;
  EXPECT_TRUE(std::regex_match(r.out, std::regex("Track 01\tStopped\t[^\n]*01.mp3\n"
                                                 "Track 02\tStopped\t[^\n]*02.mp3\n"
                                                 "Track 03\tStopped\t-\n")))
      << r.out;
  for (const auto& [name, content] : FilesUnder(dir / "out")) {
    EXPECT_EQ(fs::path(name).extension(), ".mp3") << name;
  }
}

}  // namespace
