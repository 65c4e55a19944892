// obrin-rip as a Unix process: each case checks the exit status, the start of standard output,
// every WAV header against the bytes on disk and its audio against the disc's, and that no
// temporary file is left.
#include <signal.h>

#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/test_env.h"

namespace {

// The signals go one by one: the first once track 1 shows `percent` (or has ended), a last
// one once the stop's note is out, any between at once. `stall`: the encoder holds the worker
// from its second chunk on, as a stuck drive would, so a stop never ends by itself.
struct Case {
  std::string name, shell;  // shell: a bash line that runs obrin-rip as "$0" "$@"
  std::vector<std::string> args;
  int percent;
  std::vector<int> signals;
  int status;
  std::string out;
  bool stall = false;
};

std::vector<Case> Cases() {
  const std::string stop = "Track 01\tStopped\t", done = "Track 01\tCompleted\t";
  const std::string head = "\"$0\" \"$@\" 2>&1 | head -1; exit ${PIPESTATUS[0]}";
  const std::string stall =
      "LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_DIR " OBRIN_FAKE_LAME_FAIL=stall exec \"$0\" \"$@\"";
  std::vector<Case> cases;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string name = sigabbrev_np(s);
    cases.push_back({name + "_first_read", "", {"--format", "wav"}, 0, {s}, 128 + s, stop});
    cases.push_back({name + "_mid_capture", "", {}, 10, {s}, 128 + s, stop});
    cases.push_back({name + "_mid_encode", "", {}, 60, {s}, 128 + s, stop});
  }
  std::vector<std::string> eightMore;
  for (int i = 0; i < 8; ++i) eightMore.insert(eightMore.end(), {"--image", "@"});
  cases.insert(
      cases.end(),
      {{"head_wav", head, {"--format", "wav"}, 0, {}, 141, "Track 01: "},
       {"head_mp3", head, {}, 0, {}, 141, "Track 01: "},
       {"second_INT", stall, {}, 30, {SIGINT, SIGINT}, 130, "", true},
       {"HUP_then_TERM", stall, {}, 30, {SIGHUP, SIGTERM}, 143, "", true},
       {"USR1_TERM", stall, {}, 30, {SIGUSR1, SIGTERM, SIGINT}, 130, "", true},
       {"USR1_INT", stall, {}, 30, {SIGUSR1, SIGINT, SIGINT}, 130, "", true},
       {"help_value", "", {"--help=x"}, 0, {}, 2, ""},
       {"version_value", "", {"--version=1"}, 0, {}, 2, ""},
       {"nine_images", "", eightMore, 0, {}, 2, ""},
       {"stderr_closed", "exec \"$0\" \"$@\" 2>&-", {"--format", "wav"}, 0, {}, 0, done},
       {"all_closed", "exec \"$0\" \"$@\" <&- >&- 2>&-", {"--format", "wav"}, 0, {}, 0, ""}});
  return cases;
}

class CliProcess : public ::testing::TestWithParam<Case> {};
INSTANTIATE_TEST_SUITE_P(Cases, CliProcess, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST_P(CliProcess, EndsWithItsStatusAndConsistentFiles) {
  const Case& c = GetParam();
  TempDir dir;
  ScopedConfigHome config;
  const std::string cue = MakeDiscAt(dir / "d.cue", {"--lengths", "20000"});
  std::vector<std::string> args = {"obrin-rip"};
  if (!c.shell.empty()) args = {"/bin/bash", "-c", c.shell, BinPath("obrin-rip")};
  args.insert(args.end(), {"--image", cue, "--output", dir / "out"});
  for (const std::string& arg : c.args) args.push_back(arg == "@" ? cue : arg);
  ChildOptions options;
  options.env = {"XDG_CONFIG_HOME=" + config.path()};
  ChildProcess child;
  ASSERT_TRUE(child.Start(args, options));
  for (size_t i = 0; i < c.signals.size(); ++i) {
    const bool note = i > 0 && i + 1 == c.signals.size();
    ASSERT_TRUE((i > 0 && !note) || child.WaitForErrLine([&](const std::string& l) {
      if (note) return l == "obrin-rip: stopping (interrupt again to quit at once)";
      return l.starts_with("Track 01: ") &&
             ((l.back() != '%' && !l.ends_with("Pending")) || std::atoi(&l[10]) >= c.percent);
    })) << child.err();
    child.Signal(c.signals[i]);
  }
  const CommandResult r = child.Wait();
  EXPECT_EQ(r.exitStatus, c.status) << r.err;
  EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
  std::error_code none;
  for (const auto& file : std::filesystem::recursive_directory_iterator(dir / "out", none)) {
    EXPECT_TRUE(c.stall || file.path().extension() != ".pcm") << file.path();
    if (file.path().extension() != ".wav") continue;
    const std::string wav = ReadFile(file.path());
    uint32_t data = 0;
    if (wav.size() >= 44) std::memcpy(&data, &wav[40], 4);
    EXPECT_EQ(data + 44, wav.size()) << file.path();
    EXPECT_EQ(wav.compare(44, data, ReadFile(dir / "d.bin"), 0, data), 0) << file.path();
  }
}

}  // namespace
