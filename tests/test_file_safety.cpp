// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// What a rip writes, and where it must not. Guards against:
// - names from disc texts outside the output folder, "." or "..", with control bytes or over
//   255 bytes (cut inside a character); a tag given the cleaned text instead of the disc's
// - a first run without its output folder failing; an output folder through a file not refused
// - two tracks of one name ripped; a later track replacing an earlier file; a stop truncating one
// - a link or a FIFO at an output or temporary name written through or waited on
// - a file another rip is writing opened (and truncated) by a second one
// - settings the encoder refuses: more than one message, or a capture anyway
// - too little memory: a crash, or an empty or temporary file left
#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include "capture/output_files.h"
#include "disc/output_naming.h"
#include "rip/rip_job.h"
#include "rip/rip_status.h"
#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

TEST(FileSafety, NamesFromDiscTexts) {
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
  fs::copy_file(BinPath("obrin-rip"), dir / "obrin-rip");
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

TEST(FileSafety, LaterTrackNeverReplacesAFileNorAStopTruncatesOne) {
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

TEST(FileSafety, LinksAndFifosAtOutputOrTemporaryNamesAreRefused) {
  const struct {
    int32_t format;
    const char *name, *linkTo;  // no link: a FIFO
  } cases[] = {{Wav, "Album/-Track 01.wav", "victim"}, {Wav, "Album/-Track 01.wav", nullptr},
               {Ogg, "cddatmp001.pcm", "victim"},      {Ogg, "cddatmp001.pcm", "made"},
               {Ogg, "cddatmp001.pcm", nullptr},       {Ogg, "Album/-Track 01.ogg", "victim"}};
  ScopedConfigHome config;
  auto drive = std::make_shared<FakeDrive>();
  drive->SetTracks({{0, 30, false}});
  SetCdDevices({drive});
  for (const auto& c : cases) {
    TempDir dir;
    PrepareRipSettings(dir.path() + "/", c.format);
    ripSettings.discAlbum = "Album";
    fs::create_directory(dir / "Album");
    WriteFile(dir / "victim", "keep");
    const std::string name = dir / c.name;
    ASSERT_EQ(
        c.linkTo ? symlink((dir / c.linkTo).c_str(), name.c_str()) : mkfifo(name.c_str(), 0600), 0);
    RecordingHost host;
    ripSettings.ripping = 1;
    RipJob(host);
    EXPECT_EQ(host.errors(), Texts{"Cannot create output file"}) << c.name;
    EXPECT_EQ(ripSettings.tracks[0].status, kStatusError);
    EXPECT_TRUE(ReadFile(dir / "victim") == "keep" && !FileExists(dir / "made"));
    EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(name)));
  }
}

// Two obrin-rip runs into one folder reach the same names: the second must find the file
// held, not truncate it and write beside the first.
TEST(FileSafety, AnOutputFileAnotherRipHoldsIsRefusedUntouched) {
  TempDir dir;
  const std::string name = dir / "t.wav";
  OutputFileLock held, other;
  FILE* first = OpenRegularFile(name, "wb", &held);
  ASSERT_NE(first, nullptr);
  std::fputs("first", first);
  std::fclose(first);  // the lock outlives the stream
  errno = 0;
  EXPECT_EQ(OpenRegularFile(name, "wb", &other), nullptr);
  EXPECT_EQ(errno, EWOULDBLOCK);
  EXPECT_EQ(ReadFile(name), "first");
}

TEST(FileSafety, SettingsTheEncoderRefusesEndEveryTrackWithOneMessageAndNoCapture) {
  const std::string ogg = "[OGG Setting]\nchannels=Mono\nusecbr=TRUE\ncbr=350 kbps\nusevbr=FALSE\n";
  const Texts fakeLame = {"LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_DIR, "OBRIN_FAKE_LAME_FAIL=init"};
  const struct {
    std::string format, settings, message;
    Texts env;
  } cases[] = {{"ogg", ogg, "The Ogg Vorbis encoder cannot use these settings", {}},
               {"mp3", "", "The MP3 encoder cannot use these settings", fakeLame}};
  TempDir dir;
  const std::string cue = MakeDiscAt(dir / "disc.cue", {"--lengths", "300,300"});
  for (const auto& c : cases) {
    ScopedConfigHome config;
    fs::create_directories(config.path() + "/obrin");
    WriteFile(config.iniPath(), c.settings);
    const CommandResult r = RunCommand(
        {"obrin-rip", "--image", cue, "--format", c.format, "--output", dir / c.format}, c.env);
    EXPECT_EQ(r.exitStatus, 1);  // one message, and no percentage: nothing was captured
    std::string rest = r.err;    // the message comes from the worker, in any order
    const std::string message = "Obrin error: " + c.message + "\n";
    ASSERT_NE(rest.find(message), std::string::npos) << r.err;
    EXPECT_EQ(rest.erase(rest.find(message), message.size()), "Track 01: ERROR\nTrack 02: ERROR\n");
  }
}

// From the lowest address-space limit obrin-rip loads under up to the first complete rip.
TEST(FileSafety, LowMemoryLimitsEndTheJobWithAMessageNeverACrash) {
  if (dlsym(RTLD_DEFAULT, "__asan_init") || dlsym(RTLD_DEFAULT, "__tsan_init")) {
    GTEST_SKIP() << "sanitizer runtimes do not start under an address-space limit";
  }
  TempDir dir;
  ScopedConfigHome config;
  const std::string cue = MakeDiscAt(dir / "disc.cue", {"--lengths", "75,75"});
  for (const std::string format : {"ogg", "mp3"}) {
    bool saidNoMemory = false, completed = false;
    for (int mb = 4; mb <= 256 && !completed; ++mb) {
      const std::string out = dir / (format + std::to_string(mb));
      const CommandResult r =
          RunCommand({"/bin/sh", "-c", "ulimit -v $0 && exec \"$@\"", std::to_string(mb * 1024),
                      BinPath("obrin-rip"), "--image", cue, "--format", format, "--output", out});
      if (r.exitStatus == 127) continue;  // the loader could not map the libraries yet
      // Just above that, the libraries' own start-up (GnuTLS, libgomp) runs out before main()
      // and the C++ runtime cannot even allocate the exception: nothing of Obrin has run.
      if (r.exitStatus == 134 && r.err == "terminate called without an active exception\n")
        continue;
      ASSERT_TRUE(r.exitStatus == 0 || r.err.find("Obrin error: ") != std::string::npos)
          << "exit " << r.exitStatus << " at " << mb << " MB\n"
          << r.err;
      completed = r.exitStatus == 0;
      saidNoMemory |=
          r.err.find("Obrin error: Not enough memory to go on ripping\n") != std::string::npos;
      std::error_code none;
      for (const auto& file : fs::recursive_directory_iterator(out, none)) {
        EXPECT_TRUE(file.is_directory() ||
                    (file.file_size() > 0 && file.path().extension() != ".pcm"))
            << file.path() << " at " << mb << " MB";
      }
    }
    EXPECT_TRUE(saidNoMemory && completed) << format;
  }
}
