// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// obrin-rip: its command line, and real runs on disc images made by mkdisc.
// Faults guarded:
// - a bad option value or track list accepted (track 0, a reversed range, an empty item, a
//   value after --help or --version, nine images, --jobs other than a positive number, a read
//   offset past 3000 either way)
// - --list rows other than Title, Length, Format, Status, Folder; a data track listed
// - exit statuses: 2 usage, no disc, no drive or no such track; 1 a failed track; a missing
//   or broken encoder library not named for every MP3 track
// - summary lines other than "Title<TAB>Status<TAB>File" ("-": no file made)
// - --disc-info: an identifier other than freedb's, libdiscid's or AccurateRip's
// - CD-Text: titles, artist and album not taken (or taken over what the user typed), texts
//   encoded twice, a "/" in them making a folder
// - a WAV not bit-identical to the image; the options or the disc id not in its name
// - --verify: the database not asked at the disc's own path, a verdict not after its track's
//   summary line, the closing count wrong; Ctrl+C while the database does not answer not
//   ending the run at once
// - --log: a log a YAML parser cannot load, or without the disc's ids, the offset, each
//   track's file, status, sums and verdict, the Test CRC only where a read confirmed the
//   copy; a cue sheet not naming each file (a pregap's place in it: test_emulated_drive's
//   IndexesAndCodesAgreeWithTheSameDiscAsAnImage, which rips the same disc as a sheet)
// - --find-offset: the drive's offset not found among the corrections, or named with the
//   wrong sign; no match or no entry not told apart by text and exit status
// - the read offset of the settings file or of --offset not applied, silence not where the
//   shifted track runs off the disc; a bad [Drive] ReadOffset not named
#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <future>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "support/accuraterip_db.h"
#include "support/decode.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/test_env.h"

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST(CliOptions, BadValuesAreRefused) {
  std::string nineImages;
  for (int i = 0; i < 9; ++i) nineImages += "--image d.cue ";
  for (const char* args :
       {"--drive -1",      "--genre 80",     "--tracks -1",  "--tracks 3-1", "--tracks 1,,2",
        "--image",         "--list=yes",     "--bogus",      "--output=",    "--help=x",
        "--version=1",     "--jobs 0",       "--jobs two",   "--jobs -2",    "--jobs",
        "--offset 3001",   "--offset -3001", "--offset +-5", "--offset 1.5", "--offset",
        nineImages.c_str()}) {
    EXPECT_NE(ParseCliOptions(Words(args)).error, "") << args;
  }
  // Drive offset lists give positive offsets with their sign.
  EXPECT_EQ(ParseCliOptions(Words("--offset +667")).options.readOffset, 667);
  EXPECT_EQ(ParseCliOptions(Words("--offset -3000")).options.readOffset, -3000);
}

class ObrinRip : public ::testing::Test {
 protected:
  // Points [AccurateRip] Server of the settings file (written first when missing) at `url`,
  // [CTDB] Server at `ctdb` (by default a server that knows no disc).
  void UseDatabase(const std::string& url, const std::string& ctdb = "") {
    if (!FileExists(config_.iniPath())) RunCommand({"obrin-rip", "--list"});
    std::string ini = ReadFile(config_.iniPath());
    for (const auto& [section, server] :
         {std::pair{"[AccurateRip]", url}, {"[CTDB]", ctdb.empty() ? noCtdb_.Url() : ctdb}}) {
      const size_t at = ini.find("\nServer=", ini.find(section)) + 8;
      ini.replace(at, ini.find('\n', at) - at, server);
    }
    WriteFile(config_.iniPath(), ini);
  }
  HttpTestServer noCtdb_{[](const std::string&) { return HttpTestReply{404, ""}; }};
  ScopedConfigHome config_;  // children inherit it
  TempDir dir_;
  const std::string out_ = dir_ / "out";
};

TEST_F(ObrinRip, ExitStatusesListRowsAndSummaryLines) {
  // Runs obrin-rip ARGS: its exit status, all of standard output, a part of standard error.
  auto run = [](const std::string& args, int status, const std::string& out, const std::string& err,
                const std::vector<std::string>& env = {}) {
    SCOPED_TRACE(args);
    std::vector<std::string> argv = Words(args);
    argv.insert(argv.begin(), "obrin-rip");
    const CommandResult r = RunCommand(argv, env);
    EXPECT_EQ(r.exitStatus, status);
    EXPECT_EQ(r.out, out);
    EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
  };
  const std::string cue =
      MakeDiscAt(dir_ / "disc.cue", {"--lengths", "4499,1500,750,3000", "--data-track", "3"});
  const std::string row = "\tMP3 128-192 kbps VBR Q3\tPending\t" +
                          std::filesystem::path(BinPath("obrin-rip")).parent_path().string() +
                          "/My Music/\n";
  run("--list --image=" + cue, 0,
      "Track 01\t00:59" + row + "Track 02\t00:20" + row + "Track 03\t00:40" + row, "");
  run("--list --drive 5 --image " + cue, 2, "", "no drive 5");
  run("--tracks 4 --image " + cue, 2, "", "no track 4");
  run("--format aac --image " + cue, 2, "", "unknown format");
  const std::string to = " --output " + out_ + " --image ";
  // Each MP3 track says why and stays Pending.
  run("--tracks 2-3" + to + cue, 1, "Track 02\tPending\t-\nTrack 03\tPending\t-\n",
      "Obrin error: Error binding encoding functions from LAME dll\nObrin error: Error binding",
      {"LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_MISSING_DIR});
  const std::string broken = dir_ / std::string(150, 'x');  // the loader's text is cut at 127
  std::filesystem::create_directory(broken);
  WriteFile(broken + "/liblame_enc.so", "not a library");
  run("--tracks 3" + to + cue, 1, "Track 03\tPending\t-\n",
      "Obrin error: Error loading LAME encoder dll\n" + broken.substr(0, 127) + "\n",
      {"LD_LIBRARY_PATH=" + broken});
  EXPECT_TRUE(FileExists("/dev/sr0") || RunCommand({"obrin-rip", "--list"}).exitStatus == 2);

  // An untitled disc's folder is named after its disc id: seconds 2, 6, 11; 11 s long; 3 tracks.
  MakeDisc({dir_ / "wav.cue", "--lengths", "300,377,200", "--seed", "5"});
  run("--disc-info --image " + dir_ / "wav.cue", 0,
      "freedb: 0a000b03\nMusicBrainz: eVKOMoWw5AO_pDBAt79bU1lhYPQ-\n"
      "AccurateRip: 003-0000073e-000017fc-0a000b03\nCTDB: eF1e65.SntFZK7BprncAvCb6NEs-\n",
      "");
  const std::string named = out_ + "/Album-A000B03L/02_Band_(Other).wav";
  run("--format wav --tracks 2 --artist Band --template $n_$a_($g)" + to + dir_ / "wav.cue", 0,
      "Track 02\tCompleted\t" + named + "\n", "");
  // The WAV holds the image's bytes after its header; --output is for one run only.
  const std::string wav = ReadFile(named);
  EXPECT_TRUE(wav.size() == 44 + 377 * 2352 &&
              wav.substr(44) == ReadFile(dir_ / "wav.bin").substr(300 * 2352, 377 * 2352));
  EXPECT_EQ(ReadFile(config_.iniPath()).find(out_), std::string::npos);

  // The read offset: -300 samples from the settings file puts silence before the first
  // track; --offset 667 wins over a file value it cannot read, and runs the last track off
  // the disc's end.
  const std::string bin = ReadFile(dir_ / "wav.bin");
  std::string ini = ReadFile(config_.iniPath());
  WriteFile(config_.iniPath(), ini.replace(ini.find("ReadOffset=0"), 12, "ReadOffset=-300"));
  run("--format wav --tracks 1 --template first" + to + dir_ / "wav.cue", 0,
      "Track 01\tCompleted\t" + out_ + "/Album-A000B03L/first.wav\n", "");
  EXPECT_TRUE(ReadFile(out_ + "/Album-A000B03L/first.wav").substr(44) ==
              std::string(1200, '\0') + bin.substr(0, 300 * 2352 - 1200));
  ini = ReadFile(config_.iniPath());
  WriteFile(config_.iniPath(), ini.replace(ini.find("ReadOffset=-300"), 15, "ReadOffset=12x"));
  run("--format wav --tracks 3 --template last --offset +667" + to + dir_ / "wav.cue", 0,
      "Track 03\tCompleted\t" + out_ + "/Album-A000B03L/last.wav\n",
      "obrin-rip: Obrin.ini: [Drive] ReadOffset must be a whole number from -3000 to 3000, not "
      "\"12x\"; 0 is used\n");
  EXPECT_TRUE(ReadFile(out_ + "/Album-A000B03L/last.wav").substr(44) ==
              bin.substr(677 * 2352 + 2668) + std::string(2668, '\0'));
}

// The database is a server of the test's: one pressing that matches track 1 (by its v2 sum,
// as accuraterip-checksum works it out from a plain rip) and not track 2. --check reads as the
// rip did and says the same, writing nothing but its log beside the image.
TEST_F(ObrinRip, VerifyAndCheckCompareEachTrackWithTheDatabase) {
  const std::string cue = MakeDiscAt(dir_ / "v.cue", {"--lengths", "300,377,200", "--seed", "5"});
  ASSERT_EQ(RunCommand({"obrin-rip", "--image", cue, "--format", "wav", "--tracks", "1-2",
                        "--template", "t$n", "--album", "plain", "--output", out_})
                .exitStatus,
            0);
  const auto sum = [&](int track, const char* version) {
    return AccurateRipSum(version, out_ + "/plain/t0" + std::to_string(track) + ".wav", track, 3);
  };
  const std::string dbar =
      DbarEntry({{7, sum(1, "--accuraterip-v2")}, {3, sum(2, "--accuraterip-v1") + 1}, {9, 0}},
                0x73e, 0x17fc, 0x0a000b03);
  HttpTestServer server([&](const std::string&) { return HttpTestReply{200, dbar}; });
  UseDatabase(server.Url());
  const std::string verdicts[] = {
      "\tAccurately ripped (confidence 7, v2)\tNot in CTDB\n",
      "\tNot accurate (database confidence 3)\tNot in CTDB\n",
      "AccurateRip: 1 of 2 tracks accurately ripped; CTDB: Not in CTDB\n"};
  const CommandResult r =
      RunCommand({"obrin-rip", "--image", cue, "--format", "wav", "--tracks", "1-2", "--template",
                  "t$n", "--album", "checked", "--output", out_, "--verify"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "Track 01\tCompleted\t" + out_ + "/checked/t01.wav" + verdicts[0] +
                       "Track 02\tCompleted\t" + out_ + "/checked/t02.wav" + verdicts[1] +
                       verdicts[2]);
  EXPECT_EQ(server.Paths(),
            std::vector<std::string>{"/accuraterip/e/3/7/dBAR-003-0000073e-000017fc-0a000b03.bin"});
  // --secure reads track 2 again (the database does not confirm it): the same files, the
  // same verdicts, from the cached reply.
  const CommandResult secure =
      RunCommand({"obrin-rip", "--image", cue, "--format", "ogg", "--tracks", "1-2", "--template",
                  "t$n", "--album", "secure", "--output", out_, "--secure", "--log"});
  EXPECT_EQ(secure.exitStatus, 0) << secure.err;
  EXPECT_EQ(secure.out, "Track 01\tCompleted\t" + out_ + "/secure/t01.ogg" + verdicts[0] +
                            "Track 02\tCompleted\t" + out_ + "/secure/t02.ogg" + verdicts[1] +
                            verdicts[2]);
  EXPECT_EQ(server.Paths().size(), 1u);
  // The log, as a YAML 1.1 parser (PyYAML) reads it, and the cue sheet.
  const std::string log = out_ + "/secure/secure.log";
  const CommandResult yaml = RunCommand(
      {"/usr/bin/python3", "-c",
       "import sys, yaml\n"
       "d = yaml.safe_load(open(sys.argv[1], encoding='utf-8'))\n"
       "print(d['Log created by'], d['Disc']['freedb id'], d['Disc']['AccurateRip id'],\n"
       "      d['Disc']['Read offset'], d['Disc']['Secure'], d['Summary'], sep='|')\n"
       "for n, t in sorted(d['Tracks'].items()):\n"
       "    print(n, t['File'], t['Status'], t['Copy CRC'] == t.get('Test CRC'),\n"
       "          len(t['AccurateRip v1']), t['AccurateRip'], sep='|')\n",
       log});
  EXPECT_EQ(yaml.out,
            "Obrin 2.0 (obrin-rip)|0A000B03|dBAR-003-0000073e-000017fc-0a000b03|0|True|"
            "AccurateRip: 1 of 2 tracks accurately ripped; CTDB: Not in CTDB\n"
            "1|t01.ogg|Completed|False|8|Accurately ripped (confidence 7, v2)\n"
            "2|t02.ogg|Completed|True|8|Not accurate (database confidence 3)\n")
      << yaml.err << ReadFile(log);
  EXPECT_EQ(
      ReadFile(out_ + "/secure/secure.cue"),
      "REM DISCID 0A000B03\nTITLE \"secure\"\nFILE \"t01.ogg\" WAVE\n  TRACK 01 AUDIO\n"
      "    INDEX 01 00:00:00\nFILE \"t02.ogg\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  // --check: the copy CRCs in its log are zlib's over the WAV rip's audio; --secure's second
  // read confirms track 2, which the database does not.
  const CommandResult check =
      RunCommand({"obrin-rip", "--image", cue, "--format", "mp3", "--tracks", "1-2", "--check",
                  "--verify", "--secure", "--log", "--output", out_ + "/none"});
  EXPECT_EQ(check.exitStatus, 0) << check.err;
  EXPECT_EQ(check.out, "Track 01\tCompleted\t-" + verdicts[0] + "Track 02\tCompleted\t-" +
                           verdicts[1] + verdicts[2]);
  EXPECT_FALSE(std::filesystem::exists(out_ + "/none"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "v.log"));
  const CommandResult checkYaml =
      RunCommand({"/usr/bin/python3", "-c",
                  "import sys, yaml, zlib\n"
                  "d = yaml.safe_load(open(sys.argv[1], encoding='utf-8'))\n"
                  "for n, t in sorted(d['Tracks'].items()):\n"
                  "    wav = open('%s/plain/t%02d.wav' % (sys.argv[2], n), 'rb').read()[44:]\n"
                  "    print(n, 'File' in t, int(t['Copy CRC'], 16) == zlib.crc32(wav),\n"
                  "          t.get('Test CRC') == t['Copy CRC'], t['AccurateRip'], sep='|')\n",
                  dir_ / "v.check.log", out_});
  EXPECT_EQ(checkYaml.out,
            "1|False|True|False|Accurately ripped (confidence 7, v2)\n"
            "2|False|True|True|Not accurate (database confidence 3)\n")
      << checkYaml.err << ReadFile(dir_ / "v.check.log");
}

TEST_F(ObrinRip, CtrlCWhileTheDatabaseHangsEndsTheRun) {
  const std::string cue = MakeDiscAt(dir_ / "h.cue", {"--lengths", "300", "--seed", "6"});
  std::promise<void> asked;
  HttpTestServer server([&](const std::string&) {
    asked.set_value();
    HttpTestReply reply;
    reply.hang = true;
    return reply;
  });
  UseDatabase(server.Url());
  ChildProcess child;
  ChildOptions options;
  options.timeout = std::chrono::seconds(10);  // well inside the lookup's own 15 s
  ASSERT_TRUE(child.Start({"obrin-rip", "--image", cue, "--verify", "--output", out_}, options));
  asked.get_future().wait();
  child.Signal(SIGINT);
  const CommandResult r = child.Wait();
  EXPECT_FALSE(child.timedOut());
  EXPECT_EQ(r.exitStatus, 130);
}

// A drive whose reads are 667 samples early: a rip with --offset 667 gives the disc's true
// audio, whose v1 sums (worked out by accuraterip-checksum) the database of the test holds.
TEST_F(ObrinRip, FindOffsetSearchesEveryCorrectionFromOneRead) {
  const std::string cue = MakeDiscAt(dir_ / "f.cue", {"--lengths", "900,700,800", "--seed", "8"});
  ASSERT_EQ(RunCommand({"obrin-rip", "--image", cue, "--format", "wav", "--offset", "+667",
                        "--template", "t$n", "--album", "true", "--output", out_})
                .exitStatus,
            0);
  // A pressing of the three tracks in VERSION sums at confidence FROM + track; `miss` spoils
  // every sum.
  const auto entry = [&](const char* version, int from, uint32_t miss) {
    std::vector<std::pair<uint8_t, uint32_t>> sums;
    for (int track = 1; track <= 3; ++track) {
      const std::string wav = out_ + "/true/t0" + std::to_string(track) + ".wav";
      sums.emplace_back(from + track, AccurateRipSum(version, wav, track, 3) + miss);
    }
    return DbarEntry(sums);
  };
  const auto dbar = [&](uint32_t miss) { return entry("--accuraterip-v1", 10, miss); };
  const struct {
    HttpTestReply reply;
    int status;
    std::string out, err;
  } rows[] = {
      {{200, dbar(0)}, 0, "Read offset +667: 3 of 3 tracks match (confidence 11)\n", ""},
      // A second pressing's v2 sums confirm the correction the v1 sums found.
      {{200, dbar(0) + entry("--accuraterip-v2", 40, 0)},
       0,
       "Read offset +667: 3 of 3 tracks match (confidence 41)\n",
       ""},
      {{200, dbar(1)}, 1, "No read offset in -3000..+3000 matches the database\n", ""},
      {{404, ""}, 2, "", "obrin-rip: Not in database\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.status);
    std::filesystem::remove_all(config_.cachePath());
    HttpTestServer server([&](const std::string&) { return row.reply; });
    UseDatabase(server.Url());
    const CommandResult r = RunCommand({"obrin-rip", "--image", cue, "--find-offset"});
    EXPECT_EQ(r.exitStatus, row.status);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.err, row.err);
  }
}

// A sheet with CD-Text in UTF-8 (libcdio encodes such texts a second time): the titles list
// and name the files, the disc's performer and title stand in for artist and album until
// --artist or --album say otherwise, and the Vorbis comments carry them.
TEST_F(ObrinRip, CdTextNamesTheTracksUnlessTheUserDoes) {
  MakeDisc({dir_ / "text.cue", "--lengths", "300,200", "--seed", "9"});
  WriteFile(dir_ / "text.cue",
            "PERFORMER \"Bj\xC3\xB6rk\"\nTITLE \"Caf\xC3\xA9 / Bar\"\nFILE \"text.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n    TITLE \"Jos\xC3\xA9\"\n    PERFORMER \"Guest\"\n"
            "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n");
  const std::string cue = dir_ / "text.cue";
  CommandResult r = RunCommand({"obrin-rip", "--image", cue, "--disc-info"});
  EXPECT_EQ(r.out.substr(r.out.find("Album")),
            "Album: Caf\xC3\xA9 / Bar\nPerformer: Bj\xC3\xB6rk\nTrack 01: Jos\xC3\xA9 / Guest\n"
            "Track 02: Track 02\n");
  r = RunCommand({"obrin-rip", "--image", cue, "--format", "ogg", "--output", out_});
  EXPECT_EQ(r.out, "Jos\xC3\xA9\tCompleted\t" + out_ +
                       "/Caf\xC3\xA9 - Bar/Bj\xC3\xB6rk-Jos\xC3\xA9.ogg\nTrack 02\tCompleted\t" +
                       out_ + "/Caf\xC3\xA9 - Bar/Bj\xC3\xB6rk-Track 02.ogg\n")
      << r.err;
  const std::string ogg = ReadFile(out_ + "/Caf\xC3\xA9 - Bar/Bj\xC3\xB6rk-Jos\xC3\xA9.ogg");
  for (const char* comment :
       {"TITLE=Jos\xC3\xA9", "ARTIST=Bj\xC3\xB6rk", "ALBUM=Caf\xC3\xA9 / Bar"}) {
    EXPECT_NE(ogg.find(comment), std::string::npos) << comment;
  }
  r = RunCommand({"obrin-rip", "--image", cue, "--format", "wav", "--tracks", "2", "--artist",
                  "Typed", "--album", "Mine", "--output", out_});
  EXPECT_EQ(r.out, "Track 02\tCompleted\t" + out_ + "/Mine/Typed-Track 02.wav\n");
}

// The same disc as FLAC, WAV, Ogg and MP3 with tags: FLAC decodes (by the reference tool) to the
// WAV's very audio and carries its metadata; the MP3's ID3v2 tag sits before an audio stream
// that decodes as without it, its ID3v1 tag as before (the artist's trailing blank too, which
// a tag library rewriting it would strip); the Ogg comments number the track.
TEST_F(ObrinRip, FlacAndTagsForTodaysPlayers) {
  const std::string cue = MakeDiscAt(dir_ / "t.cue", {"--lengths", "1200,377,200", "--seed", "5"});
  const auto rip = [&](const std::string& format, const std::string& album, bool id3) {
    std::vector<std::string> args = {
        "obrin-rip", "--image",  cue,        "--format",      format,   "--tracks", "1",
        "--album",   album,      "--artist", "Bj\xC3\xB6rk ", "--year", "1999",     "--genre",
        "0",         "--output", out_,       "--template",    "t"};
    if (id3) args.push_back("--id3");
    const CommandResult r = RunCommand(args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return out_ + "/" + album + "/t." + format;
  };
  const std::string wav = ReadFile(rip("wav", "w", false));
  const std::string flac = rip("flac", "f", false);
  EXPECT_TRUE(DecodeFlac(flac) == wav.substr(44));
  EXPECT_EQ(RunCommand({"/usr/bin/flac", "-t", "-s", flac}).exitStatus, 0);
  CommandResult r = RunCommand({"/usr/bin/metaflac", "--export-tags-to=-", flac});
  EXPECT_EQ(r.out,
            "TITLE=Track 01\nARTIST=Bj\xC3\xB6rk \nALBUM=f\nDATE=1999\nGENRE=Blues\nTRACKNUMBER=1\n"
            "TRACKTOTAL=3\nDISCID=10001703\nMUSICBRAINZ_DISCID=aIUU0Z4rC.KfCZHMHI1kiCOFXUc-\n");
  r = RunCommand({"/usr/bin/metaflac", "--list", flac});
  for (const char* line : {"type: 3 (SEEKTABLE)", "seek points: 2",
                           "type: 1 (PADDING)\n"
                           "  is last: true\n  length: 4096"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("MD5 signature: 00000000000000000000000000000000"), std::string::npos);

  const std::string tagged = rip("mp3", "m", true), plain = rip("mp3", "p", false);
  const std::string bytes = ReadFile(tagged);
  ASSERT_EQ(bytes.compare(0, 4, "ID3\x04"), 0);
  // ID3v2.4: a 10-byte header, the tag's size in 7-bit bytes, then frames of ID, size, flags.
  const auto syncsafe = [&](size_t at) {
    return size_t(bytes[at]) << 21 | size_t(bytes[at + 1]) << 14 | size_t(bytes[at + 2]) << 7 |
           size_t(bytes[at + 3]);
  };
  std::map<std::string, std::string> frames;
  for (size_t at = 10, end = 10 + syncsafe(6); at + 10 < end && bytes[at] != '\0';) {
    const size_t size = syncsafe(at + 4);
    // The text after its encoding byte (3: UTF-8).
    frames[bytes.substr(at, 4)] = bytes.substr(at + 10, 1) == "\x03"
                                      ? bytes.substr(at + 11, size - 1)
                                      : "encoding " + std::to_string(bytes[at + 10]);
    at += 10 + size;
  }
  EXPECT_EQ(frames, (std::map<std::string, std::string>{{"TIT2", "Track 01"},
                                                        {"TPE1", "Bj\xC3\xB6rk "},
                                                        {"TALB", "m"},
                                                        {"TDRC", "1999"},
                                                        {"TCON", "Blues"},
                                                        {"TRCK", "1/3"}}));
  const std::string plainBytes = ReadFile(plain);
  EXPECT_EQ(
      bytes.substr(bytes.size() - 128).substr(0, 63),
      std::string("TAGTrack 01") + std::string(22, '\0') + "Bj\xC3\xB6rk " + std::string(23, '\0'));
  // The same audio stream after the tag (the LAME frame included), and the same samples.
  const size_t audio = 10 + syncsafe(6);
  EXPECT_TRUE(bytes.substr(audio, bytes.size() - audio - 128) ==
              plainBytes.substr(0, plainBytes.size()));
  EXPECT_EQ(Decode(tagged).samples, Decode(plain).samples);
  EXPECT_EQ(Decode(tagged).frames(), 1200u * 588);

  // A file gone before its tag went in is no tagged file.
  r = RunCommand({"obrin-rip", "--image", cue, "--tracks", "1", "--album", "gone", "--id3",
                  "--output", out_, "--template", "t"},
                 {"LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_DIR, "OBRIN_FAKE_LAME_FAIL=untaggable"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "Track 01\tERROR\t" + out_ + "/gone/t.mp3\n");
  EXPECT_NE(r.err.find("Obrin error: Cannot write ID3v2 tag"), std::string::npos) << r.err;

  const OggDecoded ogg = DecodeOgg(rip("ogg", "o", false));
  for (const char* comment : {"TRACKNUMBER=1", "TRACKTOTAL=3"}) {
    EXPECT_NE(std::find(ogg.comments.begin(), ogg.comments.end(), comment), ogg.comments.end())
        << comment;
  }
}

}  // namespace

namespace {

// The root-mean-square of the difference of two runs of 16-bit samples, against the first's.
double RelativeDifference(const std::string& a, const std::string& b) {
  double difference = 0, energy = 0;
  for (size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2) {
    const auto x =
        static_cast<int16_t>(static_cast<uint8_t>(a[i]) | static_cast<uint8_t>(a[i + 1]) << 8);
    const auto y =
        static_cast<int16_t>(static_cast<uint8_t>(b[i]) | static_cast<uint8_t>(b[i + 1]) << 8);
    difference += (double(x) - y) * (double(x) - y);
    energy += double(x) * x;
  }
  return energy > 0 ? std::sqrt(difference / energy) : 0;
}

}  // namespace

// A track the disc marks as pre-emphasised (FLAGS PRE) is written as the disc holds it and
// keeps its flag; with --deemphasis its audio comes out as sox's de-emphasis makes it (the
// tone at 10 kHz 7.6 dB down) and the flag is gone.
TEST_F(ObrinRip, DeemphasisTakesThePreEmphasisOutOfMarkedTracks) {
  std::string pcm;
  for (int n = 0; n < 300 * 588; ++n) {
    const double t = n / 44100.0;
    const auto sample = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 10000 * t) +
                                             9000 * std::sin(2 * M_PI * 1000 * t));
    for (int channel = 0; channel < 2; ++channel) {
      pcm += static_cast<char>(sample & 0xFF);
      pcm += static_cast<char>(static_cast<uint16_t>(sample) >> 8);
    }
  }
  WriteFile(dir_ / "tone.bin", pcm);
  WriteFile(dir_ / "tone.cue",
            "FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    FLAGS PRE\n    INDEX 01 00:00:00\n");
  ASSERT_EQ(
      RunCommand({"/usr/bin/sox", "-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "2",
                  "-L", dir_ / "tone.bin", "-t", "raw", dir_ / "sox.raw", "deemph"})
          .exitStatus,
      0);
  const std::string sox = ReadFile(dir_ / "sox.raw");
  for (const bool deemphasis : {false, true}) {
    SCOPED_TRACE(deemphasis);
    std::vector<std::string> args = {
        "obrin-rip",  "--image", dir_ / "tone.cue", "--format",
        "wav",        "--log",   "--album",         deemphasis ? "de" : "as",
        "--template", "t",       "--output",        out_};
    if (deemphasis) args.push_back("--deemphasis");
    const CommandResult r = RunCommand(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err.find(deemphasis ? "is pre-emphasised; it is de-emphasised"
                                    : "is pre-emphasised; its audio is kept so"),
              r.err.find("obrin-rip: track 01") + 20)
        << r.err;
    const std::string album = out_ + (deemphasis ? "/de/de" : "/as/as");
    const std::string wav = ReadFile(out_ + (deemphasis ? "/de/t.wav" : "/as/t.wav")).substr(44);
    if (deemphasis) {
      EXPECT_LT(RelativeDifference(sox, wav), 0.03);
      EXPECT_GT(RelativeDifference(sox, pcm), 0.3);
    } else {
      EXPECT_TRUE(wav == pcm);
    }
    EXPECT_EQ(ReadFile(album + ".cue").find("FLAGS PRE") != std::string::npos, !deemphasis);
    EXPECT_NE(
        ReadFile(album + ".log").find(deemphasis ? "Pre-emphasis: removed" : "Pre-emphasis: yes"),
        std::string::npos);
  }
}
