// Names made from disc texts, the output folder's creation, and files a rip must not replace.
#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include "disc/output_naming.h"
#include "rip/rip_job.h"
#include "rip/rip_status.h"
#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

TEST(NamingRules, ObrinRip) {
  std::string e;
  for (int i = 0; i < 150; ++i) e += "\xC3\xA9";  // 300 bytes of two-byte characters
  using S = std::string;
  const std::tuple<S, S, S, S, S, int, S, S> cases[] = {
      {"mp3", "D/", "Back in Black", "AC/DC", "", 0, "D/Back in Black/AC-DC-Track 02.mp3", "AC/DC"},
      {"ogg", "D/in/", "..", "AC/DC", "", 0, "D/in/_../AC-DC-Track 02.ogg", "ARTIST=AC/DC"},
      {"wav", "D/x/y", "../x", ".", "$a/$l/$t", 0, "D/x/y/..-x/_./..-x/Track 02.wav", "RIFF"},
      {"wav", "D/", e, "\x1f", "", 0, "D/" + e.substr(0, 254) + "/_-Track 02.wav", "RIFF"},
      {"wav", "", "", "", "", 0, "D/My Music/Album-", "RIFF"},  // a first run
      {"wav", "D/disc.cue/x", "", "", "", 1, "Cannot create output file", ""},
      {"wav", "D/", "", "", "$a", 2, "Track 01 and Track 02 would both be written to", ""},
  };
  TempDir dir;
  const std::string disc = MakeDiscAt(dir / "disc.cue", {"--lengths", "100,100"});
  std::filesystem::copy_file(BinPath("obrin-rip"), dir / "obrin-rip");
  const auto inDir = [&](const std::string& s) { return s[0] == 'D' ? dir / s.substr(2) : s; };
  int run = 0;
  for (const auto& [format, output, album, artist, pattern, exit, shown, inFile] : cases) {
    std::vector<std::string> args = {BinPath("obrin-rip"), "--id3", "--image", disc,
                                     "--format",           format,  "--album", album,
                                     "--artist",           artist};
    if (!pattern.empty()) args.insert(args.end(), {"--template", pattern});
    if (!output.empty()) args.insert(args.end(), {"--output", inDir(output)});
    if (output.empty()) args[0] = dir / "obrin-rip";  // the default folder is beside it
    const CommandResult r = RunCommand(args, {"XDG_CONFIG_HOME=" + dir / std::to_string(++run)});
    EXPECT_EQ(r.exitStatus, exit) << r.err;
    EXPECT_NE((r.out + r.err).find(inDir(shown)), std::string::npos) << r.out << r.err;
    const size_t tab = r.out.rfind('\t') + 1;
    EXPECT_NE(ReadFile(r.out.substr(tab, r.out.size() - tab - 1)).find(inFile), r.out.npos);
  }
}

TEST(NamingRules, LaterTrackNeverReplacesAFileNorAStopTruncatesOne) {
  for (const bool stop : {false, true}) {  // two tracks named alike; a stop as track 2 begins
    ScopedConfigHome config;
    TempDir dir;
    auto drive = std::make_shared<FakeDrive>();
    drive->SetTracks({{0, 30, false}, {30, 30, false}});
    SetCdDevices({drive});
    PrepareRipSettings(dir.path() + "/", Wav);
    ripSettings.fileNameTemplate = stop ? "$t" : "$a";
    WriteFile(ComposeOutputPath(ripSettings.tracks[1], ripSettings), "keep");
    struct : RecordingHost {  // notes track 2's file as it begins, and stops there if not alike
      std::string before;
      void TrackStarted(TrackRecord& track, const std::string& name) override {
        RecordingHost::TrackStarted(track, name);
        if (track.index != 1) return;
        before = ReadFile(name);
        if (ripSettings.fileNameTemplate == "$t") ripSettings.ripping = 0;
      }
    } host;
    ripSettings.ripping = 1;
    RipJob(host);
    EXPECT_EQ(ripSettings.tracks[1].status, stop ? kStatusStopped : kStatusError);
    EXPECT_TRUE(!host.before.empty() && ReadFile(host.startedFiles().back()) == host.before);
  }
}
