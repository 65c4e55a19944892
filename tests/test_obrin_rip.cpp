// obrin-rip: its command line, and real runs on disc images made by mkdisc.
// Faults guarded:
// - a bad option value or track list accepted (track 0, a reversed range), or a list misread
// - --list rows other than Title, Length, Format, Status, Folder; a data track listed
// - exit statuses: 2 usage, no disc, no drive or no such track; 1 a failed track; 130 Ctrl+C
// - summary lines other than "Title<TAB>Status<TAB>File" ("-": no file made)
// - bytes past a short bin's end taken as audio (libcdio trap): the track must end in ERROR
// - a WAV not bit-identical to the image; the options or the disc id not in its name
#include <signal.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "support/process.h"
#include "support/test_env.h"

namespace {

TEST(CliOptions, BadValuesAreRefusedAndTrackListsAreOneBasedInTheGivenOrder) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--drive", "-1"},
                                                                {"--genre", "80"},
                                                                {"--tracks", "0"},
                                                                {"--tracks", "3-1"},
                                                                {"--tracks", "1,,2"},
                                                                {"--image"},
                                                                {"--list=yes"},
                                                                {"--bogus"},
                                                                {"--output", ""}}) {
    EXPECT_NE(ParseCliOptions(args).error, "") << args[0] << " " << args.back();
  }
  EXPECT_EQ(*ParseTrackList("5,2,2-3"), (std::vector<int>{4, 1, 2}));
}

class ObrinRip : public ::testing::Test {
 protected:
  CommandResult Rip(std::vector<std::string> args, const std::string& env = "") {
    args.insert(args.begin(), "obrin-rip");
    std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + config_.path()};
    if (!env.empty()) environment.push_back(env);
    return RunCommand(args, environment);
  }
  ScopedConfigHome config_;
  TempDir dir_;
  const std::string out_ = dir_ / "out";
};

TEST_F(ObrinRip, ExitStatusesListRowsAndSummaryLines) {
  const std::string cue =
      MakeDiscAt(dir_ / "disc.cue", {"--lengths", "4499,1500,750,3000", "--data-track", "3"});
  // The TOC declares 400 sectors for track 2, the bin ends 100 sectors early: reads fail
  // from the block of 26 that reaches past sector 700.
  const std::string toc =
      MakeDiscAt(dir_ / "short.toc", {"--lengths", "400,400", "--short", "100"});
  const std::string folder =
      std::filesystem::path(BinPath("obrin-rip")).parent_path().string() + "/My Music/";
  std::string rows;
  for (const char* row : {"Track 01\t00:59", "Track 02\t00:20", "Track 03\t00:40"}) {
    rows += row + std::string("\tMP3 128-192 kbps VBR Q3\tPending\t") + folder + "\n";
  }
  const std::string wav = out_ + "/Live/-Track 0";
  // Arguments, environment; exit status, all of standard output, a part of standard error.
  const std::tuple<std::vector<std::string>, std::string, int, std::string, std::string> cases[] = {
      {{"--image=" + cue, "--list"}, "", 0, rows, ""},
      {{"--image", dir_ / "missing.cue", "--list"}, "", 2, "", "no disc in drive"},
      {{"--image", cue, "--drive", "5", "--list"}, "", 2, "", "no drive 5"},
      {{"--image", cue, "--tracks", "4"}, "", 2, "", "no track 4"},
      {{"--image", cue, "--format", "flac"}, "", 2, "", "unknown format"},
      {{"--image", toc, "--format", "wav", "--album", "Live", "--output", out_},
       "",
       1,
       "Track 01\tCompleted\t" + wav + "1.wav\nTrack 02\tERROR\t" + wav + "2.wav\n",
       "Obrin error: Error at frame 686 ("},
      {{"--image", cue, "--output", out_, "--tracks", "3"},
       "LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_MISSING_DIR,
       1,
       "Track 03\tPending\t-\n",
       "Obrin error: Error binding encoding functions from LAME dll\n"},
  };
  for (const auto& [args, env, status, out, err] : cases) {
    SCOPED_TRACE(args[1] + " " + args.back());
    const CommandResult r = Rip(args, env);
    EXPECT_EQ(r.exitStatus, status);
    EXPECT_EQ(r.out, out);
    EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
  }
  EXPECT_TRUE(FileExists("/dev/sr0") || Rip({"--list"}).exitStatus == 2);  // no drive at all
}

TEST_F(ObrinRip, WavIsBitIdenticalToTheImageAndNamedByTheOptions) {
  MakeDisc({dir_ / "disc.cue", "--lengths", "300,377,200", "--seed", "5"});
  const CommandResult r = Rip({"--image", dir_ / "disc.cue", "--format", "wav", "--tracks", "2",
                               "--output", out_, "--artist", "Band", "--template", "$n $a ($g)"});
  // An untitled disc's folder is named after its disc id: seconds 2, 6, 11; 11 s long; 3 tracks.
  const std::string file = out_ + "/Album-A000B03L/02 Band (Other).wav";
  EXPECT_EQ(r.out, "Track 02\tCompleted\t" + file + "\n");
  const std::string bytes = ReadFile(file);
  ASSERT_EQ(bytes.size(), 44 + 377 * 2352u);
  EXPECT_TRUE(bytes.substr(44) == ReadFile(dir_ / "disc.bin").substr(300 * 2352, 377 * 2352));
  EXPECT_EQ(ReadFile(config_.iniPath()).find(out_), std::string::npos);  // for this run only
}

TEST_F(ObrinRip, CtrlCStopsTheRipAndExitsWith130) {
  MakeDisc({dir_ / "long.cue", "--lengths", "15000,75"});
  ChildProcess child;
  ChildOptions options;
  options.env = {"XDG_CONFIG_HOME=" + config_.path()};
  ASSERT_TRUE(child.Start({"obrin-rip", "--image", dir_ / "long.cue", "--output", out_}, options));
  // Interrupt as soon as the first track reports progress.
  ASSERT_TRUE(
      child.WaitForErrLine([](const std::string& l) { return l.starts_with("Track 01: "); }));
  child.Signal(SIGINT);
  const CommandResult r = child.Wait();
  EXPECT_EQ(r.exitStatus, 130);
  EXPECT_TRUE(r.out.starts_with("Track 01\tStopped\t" + out_ + "/Album-")) << r.out;
  EXPECT_TRUE(r.out.ends_with(".mp3\nTrack 02\tStopped\t-\n")) << r.out;  // never started
}

}  // namespace
