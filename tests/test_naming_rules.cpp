// Names made from disc texts, the output folder's creation, and files a rip must not replace.
#include <filesystem>

#include <gtest/gtest.h>

#include "disc/output_naming.h"
#include "rip/rip_job.h"
#include "rip/rip_status.h"
#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace {

std::string Times(const std::string& text, int n) {
  std::string out;
  while (n-- > 0) out += text;
  return out;
}

// Stops the job, or notes the file's content, as the second track begins.
class BoundaryHost : public RecordingHost {
 public:
  bool stopAtSecond = false;
  std::string before;
  void TrackStarted(TrackRecord& track, const std::string& name) override {
    RecordingHost::TrackStarted(track, name);
    if (track.index != 1) return;
    before = ReadFile(name);
    if (stopAtSecond) ripSettings.ripping = 0;
  }
};

}  // namespace

TEST(NamingRules, DiscTextsStayOneComponentInsideTheFolder) {
  const struct {
    std::string pattern, artist, album, title, expected;
  } cases[] = {
      {"$a-$t", "AC/DC", "Live", "t", "Live/AC-DC-t.wav"},
      {"$a-$t", "", "AC/DC", "t", "AC-DC/-t.wav"},
      {"$a-$t", "", "Live", "AC/DC", "Live/-AC-DC.wav"},
      {"$a-$t", "", "..", "t", "_../-t.wav"},
      {"$a-$t", "", ".", "t", "_./-t.wav"},
      {"$a-$t", "", "../x", "t", "..-x/-t.wav"},
      {"$a/$t", "..", "L", "t", "L/_../t.wav"},
      {"$a-$t", "a\tb\x1f", "L", "t", "L/a_b_-t.wav"},
      {"$a/$l/$t", "A", "L", "T", "L/A/L/T.wav"},
      {"$t", "", Times("\xC3\xA9", 150), "t", Times("\xC3\xA9", 127) + "/t.wav"},
      {"$t", "", "L", Times("\xE2\x82\xAC", 100), "L/" + Times("\xE2\x82\xAC", 83) + ".wav"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    RipSettings settings;
    settings.fileNameTemplate = c.pattern;
    settings.discArtist = c.artist;
    settings.discAlbum = c.album;
    TrackRecord track;
    track.title = c.title;
    track.format = Wav;
    // A folder two levels deep that does not exist yet, stored without its trailing "/".
    const std::string path = ComposeOutputPath(track, settings, dir / "a/b");
    EXPECT_EQ(path, dir / "a/b/" + c.expected) << c.album;
    WriteFile(path, "x");
    EXPECT_TRUE(FileExists(path)) << path;
  }
  ripSettings.outputFolderOverride.clear();
  ripSettings.outputPath = "/music";
  EXPECT_EQ(TempPcmPath(), "/music/cddatmp001.pcm");
}

TEST(NamingRules, LaterTrackNeverReplacesAFileNorIsTruncatedByAStop) {
  const struct {
    int32_t format;
    const char* pattern;
    bool stop;
    int32_t status;
    size_t errors;
  } cases[] = {
      {Wav, "$a", false, kStatusError, 1},
      {Ogg, "$a", false, kStatusError, 1},
      {Wav, "$a-$t", true, kStatusStopped, 0},
  };
  for (const auto& c : cases) {
    ScopedConfigHome config;
    TempDir dir;
    auto drive = std::make_shared<FakeDrive>();
    drive->SetTracks({{0, 30, false}, {30, 30, false}});
    SetCdDevices({drive});
    PrepareRipSettings(dir.path() + "/", c.format);
    ripSettings.fileNameTemplate = c.pattern;
    ripSettings.discArtist = "Band";
    WriteFile(ComposeOutputPath(ripSettings.tracks[1], ripSettings), "keep");
    BoundaryHost host;
    host.stopAtSecond = c.stop;
    ripSettings.ripping = 1;
    RipJob(host);
    ripSettings.ripping = 0;
    EXPECT_EQ(ripSettings.tracks[0].status, kStatusCompleted);
    EXPECT_EQ(ripSettings.tracks[1].status, c.status) << c.pattern;
    EXPECT_EQ(host.errors().size(), c.errors);
    EXPECT_GT(host.before.size(), 0u);
    EXPECT_TRUE(ReadFile(host.startedFiles().back()) == host.before) << c.pattern;
  }
}

TEST(NamingRules, ObrinRip) {
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string shown, inFile;
  } cases[] = {
      {{"--output", "D/OUT/", "--artist", "AC/DC", "--album", "Back in Black"},
       0,
       "D/OUT/Back in Black/AC-DC-Track 02.wav",
       ""},
      {{"--output", "D/OUT/in/", "--album", ".."}, 0, "D/OUT/in/_../-Track 02.wav", ""},
      {{}, 0, "D/bin/My Music/Album-", ""},  // the first run's default folder
      {{"--output", "D/disc.cue/sub"}, 1, "Cannot create output file", ""},
      {{"--output", "D/", "--template", "$a", "--tracks", "1-2"},
       2,
       "Track 01 and Track 02 would both be written to",
       ""},
      {{"--output", "D/", "--format", "mp3", "--id3", "--artist", "AC/DC"}, 0, "AC-DC", "AC/DC"},
      {{"--output", "D/", "--format", "ogg", "--artist", "AC/DC"}, 0, "AC-DC", "ARTIST=AC/DC"},
  };
  TempDir dir;
  const std::string disc = MakeDiscAt(dir / "disc.cue", {"--lengths", "100,100"});
  std::filesystem::create_directory(dir / "bin");
  std::filesystem::copy_file(BinPath("obrin-rip"), dir / "bin/obrin-rip");
  int run = 0;
  for (const auto& c : cases) {
    // The default folder is beside the program: a copy of it in a folder of its own.
    std::vector<std::string> args = {c.args.empty() ? dir / "bin/obrin-rip" : BinPath("obrin-rip"),
                                     "--image",
                                     disc,
                                     "--tracks",
                                     "2",
                                     "--format",
                                     "wav"};
    for (std::string arg : c.args) args.push_back(arg[0] == 'D' ? dir.path() + arg.substr(1) : arg);
    const CommandResult r = RunCommand(args, {"XDG_CONFIG_HOME=" + dir / std::to_string(++run)});
    EXPECT_EQ(r.exitStatus, c.exit) << r.err;
    const std::string shown = c.shown[0] == 'D' ? dir.path() + c.shown.substr(1) : c.shown;
    EXPECT_NE((r.out + r.err).find(shown), std::string::npos) << r.out << r.err;
    if (c.exit != 0) continue;
    std::string file = r.out.substr(r.out.rfind('\t') + 1);
    file.pop_back();
    EXPECT_TRUE(FileExists(file) && ReadFile(file).find(c.inFile) != std::string::npos) << file;
  }
}
