// obrin-rip end to end: real processes on disc images made by mkdisc, through libcdio.
#include <signal.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "support/mp3_decode.h"
#include "support/process.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kSector = 2352;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    if (entry.is_regular_file()) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class ObrinRip : public ::testing::Test {
 protected:
  // Runs obrin-rip with this test's private config folder.
  CommandResult Rip(std::vector<std::string> args) {
    args.insert(args.begin(), "obrin-rip");
    return RunCommand(args, {"XDG_CONFIG_HOME=" + config_.path()});
  }
  std::string Disc(const std::string& name, const std::vector<std::string>& mkdiscArgs) {
    return MakeDiscAt(dir_ / name, mkdiscArgs);
  }
  std::string BinBytes(const std::string& bin, size_t firstSector, size_t sectors) {
    return ReadFile(bin).substr(firstSector * kSector, sectors * kSector);
  }

  ScopedConfigHome config_;
  TempDir dir_;
};

TEST_F(ObrinRip, ListShowsOneRowPerAudioTrackAndSkipsTheDataTrack) {
  const std::string cue =
      Disc("disc.cue", {"--lengths", "4499,1500,750,3000", "--data-track", "3"});
  const CommandResult r = Rip({"--image", cue, "--list"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string folder = fs::path(BinPath("obrin-rip")).parent_path().string() + "/My Music/";
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{
                              "Track 01\t00:59\tMP3 128-192 kbps VBR Q3\tPending\t" + folder,
                              "Track 02\t00:20\tMP3 128-192 kbps VBR Q3\tPending\t" + folder,
                              "Track 03\t00:40\tMP3 128-192 kbps VBR Q3\tPending\t" + folder,
                          }));

  const CommandResult wav = Rip({"--image", cue, "--list", "--format", "wav"});
  ASSERT_EQ(wav.exitStatus, 0);
  EXPECT_NE(wav.out.find("Track 03\t00:40\tWAV - default sample rate\tPending\t"),
            std::string::npos);
  const CommandResult ogg = Rip({"--image", cue, "--list", "--format=ogg"});
  EXPECT_NE(ogg.out.find("\tOGG VBR Q0.45 (141 kbps)\t"), std::string::npos);
}

TEST_F(ObrinRip, FirstRunWritesTheWholeSettingsFileInOrder) {
  const std::string cue = Disc("disc.cue", {"--lengths", "75"});
  ASSERT_FALSE(FileExists(config_.iniPath()));
  ASSERT_EQ(Rip({"--image", cue, "--list"}).exitStatus, 0);
  const std::string folder = fs::path(BinPath("obrin-rip")).parent_path().string() + "/My Music/";
  EXPECT_EQ(ReadFile(config_.iniPath()), FreshSettingsFile(folder));
}

TEST_F(ObrinRip, DrivesAreTheImagesInTheOrderGiven) {
  const std::string a = Disc("a.cue", {"--lengths", "75"});
  const std::string b = Disc("b.cue", {"--lengths", "150"});
  const CommandResult r = Rip({"--image", a, "--image", b, "--drives"});
  ASSERT_EQ(r.exitStatus, 0);
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 2u);
  // Real drives, if the machine has any, come first.
  const std::string& second = lines[lines.size() - 1];
  const std::string& first = lines[lines.size() - 2];
  EXPECT_EQ(first.substr(0, first.find('\t')), std::to_string(lines.size() - 2));
  EXPECT_NE(first.find(a), std::string::npos);
  EXPECT_NE(second.find(b), std::string::npos);

  // --drive picks the second image.
  const CommandResult list =
      Rip({"--image", a, "--image", b, "--drive", std::to_string(lines.size() - 1), "--list"});
  EXPECT_NE(list.out.find("Track 01\t00:02\t"), std::string::npos) << list.out;
}

TEST_F(ObrinRip, NoDiscOrNoDriveOrBadUsageExitsWithTwo) {
  const std::string cue = Disc("disc.cue", {"--lengths", "75"});
  CommandResult r = Rip({"--image", dir_ / "missing.cue", "--list"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err, "");
  WriteFile(dir_ / "garbage.cue", std::string("\x01\x02 TRACK 99 NONSENSE\n\xff", 22));
  r = Rip({"--image", dir_ / "garbage.cue"});
  EXPECT_EQ(r.exitStatus, 2);
  r = Rip({"--image", dir_.path(), "--list"});  // a directory
  EXPECT_EQ(r.exitStatus, 2);
  r = Rip({"--image", cue, "--drive", "5", "--list"});
  EXPECT_EQ(r.exitStatus, 2);
  r = Rip({"--image", cue, "--tracks", "2"});  // a one-track disc
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err.find("no track 2"), std::string::npos);
  r = Rip({"--image", cue, "--format", "flac"});
  EXPECT_EQ(r.exitStatus, 2);
  if (!FileExists("/dev/sr0")) {
    r = Rip({"--list"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("no CD drive"), std::string::npos);
  }
  EXPECT_EQ(Rip({"--help"}).exitStatus, 0);
  EXPECT_EQ(Rip({"--version"}).exitStatus, 0);
}

TEST_F(ObrinRip, WavOfOneTrackIsBitIdenticalToTheImage) {
  const std::string cue = Disc("disc.cue", {"--lengths", "300,377,200", "--seed", "5"});
  const std::string out = dir_ / "out";
  const CommandResult r =
      Rip({"--image", cue, "--format", "wav", "--tracks", "2", "--output", out});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const auto files = FilesUnder(out);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(fs::path(files[0]).filename(), "-Track 02.wav");
  EXPECT_EQ(fs::path(files[0]).parent_path().filename().string().rfind("Album-", 0), 0u);
  const std::string wav = ReadFile(files[0]);
  ASSERT_EQ(wav.size(), 44 + 377 * kSector);
  EXPECT_EQ(wav.substr(44), BinBytes(dir_ / "disc.bin", 300, 377));
  EXPECT_EQ(r.out, "Track 02\tCompleted\t" + files[0] + "\n");
  // --output is for this run only: the settings file keeps its folder.
  EXPECT_EQ(ReadFile(config_.iniPath()).find(out), std::string::npos);
}

TEST_F(ObrinRip, NamingOptionsShapeTheFolderAndFileNames) {
  const std::string cue = Disc("disc.cue", {"--lengths", "30,30"});
  const std::string out = dir_ / "out";
  const CommandResult r = Rip({"--image", cue, "--format", "wav", "--output", out, "--artist",
                               "Band", "--album", "Live", "--template", "$n $a - $t ($g)"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(FilesUnder(out),
            (std::vector<std::string>{out + "/Live/01 Band - Track 01 (Other).wav",
                                      out + "/Live/02 Band - Track 02 (Other).wav"}));
}

TEST_F(ObrinRip, ReadErrorKeepsWhatWasReadAndEndsTheTrackInError) {
  // The TOC declares 400 sectors for track 2 but the bin ends 100 sectors early.
  const std::string toc = Disc("short.toc", {"--lengths", "400,400", "--short", "100"});
  const std::string out = dir_ / "out";
  const CommandResult r = Rip({"--image", toc, "--format", "wav", "--output", out});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("Obrin error: Error at frame "), std::string::npos) << r.err;
  const auto files = FilesUnder(out);
  ASSERT_EQ(files.size(), 2u);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Track 01\tCompleted\t" + files[0]);
  EXPECT_EQ(lines[1], "Track 02\tERROR\t" + files[1]);

  // Whole blocks of 26 sectors up to the first one that reaches past the data.
  const size_t readable = 300;
  const size_t kept = readable / 26 * 26;
  const std::string wav = ReadFile(files[1]);
  ASSERT_EQ(wav.size(), 44 + kept * kSector);
  EXPECT_EQ(wav.substr(44), BinBytes(dir_ / "short.bin", 400, kept));
  uint32_t riffSize, dataSize;
  std::memcpy(&riffSize, wav.data() + 4, 4);
  std::memcpy(&dataSize, wav.data() + 40, 4);
  EXPECT_EQ(dataSize, kept * kSector);
  EXPECT_EQ(riffSize, kept * kSector + 36);
}

TEST_F(ObrinRip, Mp3IsTheDefaultAndCarriesTheTagWhenAsked) {
  const std::string cue = Disc("disc.cue", {"--lengths", "150,150"});
  const std::string out = dir_ / "out";
  const CommandResult r =
      Rip({"--image", cue, "--tracks", "2", "--output", out, "--id3", "--artist", "Band", "--album",
           "Live", "--year", "99", "--genre", "17"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string file = out + "/Live/Band-Track 02.mp3";
  EXPECT_EQ(r.out, "Track 02\tCompleted\t" + file + "\n");
  const std::string mp3 = ReadFile(file);
  ASSERT_GT(mp3.size(), 128u + 1000u);
  // It decodes to the track: 150 sectors of 588 stereo frames at 44100 Hz.
  const Decoded decoded = Decode(file);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.rate, 44100);
  EXPECT_EQ(decoded.channels, 2);
  EXPECT_NEAR(static_cast<double>(decoded.frames()), 150.0 * 588, 1152);
  EXPECT_EQ(static_cast<uint8_t>(mp3[0]), 0xFF);  // a frame starts the file
  // The info frame of a VBR stream sits in the first frame.
  EXPECT_NE(mp3.substr(0, 400).find("Xing"), std::string::npos);
  const std::string tag = mp3.substr(mp3.size() - 128);
  EXPECT_EQ(tag.substr(0, 3), "TAG");
  EXPECT_EQ(tag.substr(3, 30), std::string("Track 02") + std::string(22, '\0'));
  EXPECT_EQ(tag.substr(33, 4), "Band");
  EXPECT_EQ(tag.substr(63, 4), "Live");
  EXPECT_EQ(tag.substr(93, 4), std::string("99\0\0", 4));
  EXPECT_EQ(tag[126], 2);
  EXPECT_EQ(tag[127], 17);
  EXPECT_FALSE(FileExists(out + "/cddatmp001.pcm"));

  // Without --id3 the file ends with its last frame.
  ASSERT_EQ(Rip({"--image", cue, "--tracks", "2", "--output", out}).exitStatus, 0);
  const std::string untagged = ReadFile(out + "/Album-" + [&] {
    // The album folder of an untitled disc is named after its disc id.
    for (const auto& f : FilesUnder(out)) {
      const std::string folder = fs::path(f).parent_path().filename().string();
      if (folder.rfind("Album-", 0) == 0) return folder.substr(6);
    }
    return std::string();
  }() + "/-Track 02.mp3");
  ASSERT_GT(untagged.size(), 128u);
  EXPECT_NE(untagged.substr(untagged.size() - 128, 3), "TAG");
}

TEST_F(ObrinRip, AnEncoderLibraryThatCannotBeBoundSkipsTheMp3Tracks) {
  const std::string cue = Disc("disc.cue", {"--lengths", "75,75"});
  const std::string out = dir_ / "out";
  const CommandResult r = RunCommand(
      {"obrin-rip", "--image", cue, "--output", out},
      {"XDG_CONFIG_HOME=" + config_.path(), "LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_MISSING_DIR});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "Obrin error: Error binding encoding functions from LAME dll\n"
            "Obrin error: Error binding encoding functions from LAME dll\n");
  EXPECT_EQ(r.out, "Track 01\tPending\t-\nTrack 02\tPending\t-\n");

  const CommandResult broken = RunCommand(
      {"obrin-rip", "--image", cue, "--output", out, "--tracks", "1"},
      {"XDG_CONFIG_HOME=" + config_.path(), "LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_BROKEN_DIR});
  EXPECT_EQ(broken.exitStatus, 1);
  EXPECT_EQ(broken.err.rfind("Obrin error: Error loading LAME encoder dll\n", 0), 0u) << broken.err;
  EXPECT_NE(broken.err.find("liblame_enc.so"), std::string::npos);
}

TEST_F(ObrinRip, CtrlCRunsTheStopPathAndExitsWith130) {
  const std::string cue = Disc("long.cue", {"--lengths", "15000,75"});
  ChildProcess child;
  ChildOptions options;
  options.env = {"XDG_CONFIG_HOME=" + config_.path()};
  ASSERT_TRUE(child.Start({"obrin-rip", "--image", cue, "--output", dir_ / "out"}, options));
  // Interrupt as soon as the first track reports progress.
  ASSERT_TRUE(
      child.WaitForErrLine([](const std::string& l) { return l.rfind("Track 01: ", 0) == 0; }));
  child.Signal(SIGINT);
  const CommandResult r = child.Wait();
  EXPECT_EQ(r.exitStatus, 130);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0].rfind("Track 01\tStopped\t", 0), 0u) << r.out;
  EXPECT_EQ(lines[1], "Track 02\tStopped\t-");  // never started, never touched
}

}  // namespace
