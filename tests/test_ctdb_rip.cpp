// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Rips verified against the CUETools database: obrin-rip on a generated image, the database a
// server on 127.0.0.1 whose reply holds the CRCs python's zlib.crc32 works out from a plain
// rip's WAV files. Faults guarded:
// - a track's or the disc's CRC not the database's over the counted span (the disc's edges
//   left out), the CRC in the log not the track's
// - a rip by a read offset off the pressing's not found, or named with the wrong sign
// - entries of another layout counted, or not named in the log; the total confidence wrong
// - a verdict not after the AccurateRip one, the summary not counting both databases
// - a disc the database does not hold changing a file or a status, or its answer not said
#include <filesystem>
#include <mutex>

#include <gtest/gtest.h>

#include "disc/ctdb.h"
#include "support/http_server.h"
#include "support/test_env.h"

namespace {

class CtdbRip : public ::testing::Test {
 protected:
  void SetUp() override {
    cue_ = MakeDiscAt(dir_ / "d.cue", {"--lengths", "900,700,800", "--seed", "8"});
    ASSERT_EQ(Rip("plain", {}).exitStatus, 0);
    std::string ini = ReadFile(config_.iniPath());
    for (const auto& [section, server] :
         {std::pair{"[AccurateRip]", accurateRip_.Url()}, {"[CTDB]", ctdb_.Url()}}) {
      const size_t at = ini.find("\nServer=", ini.find(section)) + 8;
      ini.replace(at, ini.find('\n', at) - at, server);
    }
    WriteFile(config_.iniPath(), ini);
    // Each track's CRC over its share of the counted span, then the disc's: all but 10
    // sectors at the start and, at the end, 10 and what makes whole 10 sectors.
    const CommandResult r = RunCommand({"/usr/bin/python3", "-c",
                                        "import sys, zlib\n"
                                        "d = [open(f, 'rb').read()[44:] for f in sys.argv[1:]]\n"
                                        "s = b''.join(d)\n"
                                        "n, e = len(s) // 4, 5880\n"
                                        "b, end = e, e + (n // e - 2) * e\n"
                                        "at = 0\n"
                                        "for x in d:\n"
                                        "    lo, hi = max(at, b), min(at + len(x) // 4, end)\n"
                                        "    print('%08x' % zlib.crc32(s[4 * lo:4 * hi]))\n"
                                        "    at += len(x) // 4\n"
                                        "print('%08x' % zlib.crc32(s[4 * b:4 * end]))\n",
                                        Wav("plain", 1), Wav("plain", 2), Wav("plain", 3)});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    for (size_t at = 0; at + 9 <= r.out.size(); at += 9) crcs_.push_back(r.out.substr(at, 8));
    ASSERT_EQ(crcs_.size(), 4u);
  }

  CommandResult Rip(const std::string& album, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"obrin-rip", "--image", cue_,  "--format", "wav", "--template",
                                     "t$n",       "--album", album, "--output", out_};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCommand(args);
  }
  std::string Wav(const std::string& album, int track) const {
    return out_ + "/" + album + "/t0" + std::to_string(track) + ".wav";
  }
  // A pressing holding `crcs_` (each spoilt by `miss`) with `confidence` rips.
  std::string Entry(const std::string& id, const std::string& toc, int confidence,
                    uint32_t miss) const {
    const auto spoilt = [&](size_t i) {
      char text[9];
      std::snprintf(text, sizeof text, "%08x",
                    static_cast<unsigned>(std::stoul(crcs_[i], nullptr, 16) ^ miss));
      return std::string(text);
    };
    return "<entry id=\"" + id + "\" crc32=\"" + spoilt(3) + "\" confidence=\"" +
           std::to_string(confidence) + "\" npar=\"8\" stride=\"5880\" hasparity=\"true\" " +
           "trackcrcs=\"" + spoilt(0) + " " + spoilt(1) + " " + spoilt(2) + "\" toc=\"" + toc +
           "\"/>";
  }

  ScopedConfigHome config_;
  TempDir dir_;
  const std::string out_ = dir_ / "out";
  std::string cue_;
  std::vector<std::string> crcs_;  // tracks 1-3, then the disc
  HttpTestServer accurateRip_{[](const std::string&) { return HttpTestReply{404, ""}; }};
  // What the CUETools database answers; set between rips, read by the server's thread.
  void Answer(const HttpTestReply& reply) {
    std::lock_guard lock(replyMutex_);
    reply_ = reply;
  }
  std::mutex replyMutex_;
  HttpTestReply reply_;
  HttpTestServer ctdb_{[this](const std::string&) {
    std::lock_guard lock(replyMutex_);
    return reply_;
  }};
};

TEST_F(CtdbRip, EachTrackAndTheDiscAgainstTheirPressing) {
  const std::string toc = "0:900:1600:2400";
  const std::string found =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><ctdb "
      "xmlns=\"" +
      std::string(kCtdbNamespace) + "\">" + Entry("AAA", toc, 8, 0) + Entry("BBB", toc, 2, 1) +
      Entry("CCC", "0:900:1600:2401", 5, 0) + "</ctdb>";
  const struct {
    HttpTestReply reply;
    const char* offset;
    std::string verdict, disc, summary;
  } rows[] = {
      {{200, found},
       "0",
       "Accurately ripped (8/10)",
       "Accurately ripped (8/10)",
       "3 of 3 (confidence 10)"},
      // Read 1237 samples on, the audio comes that much early.
      {{200, found},
       "+1237",
       "Accurately ripped (8/10), offset -1237",
       "Accurately ripped (8/10), offset -1237",
       "3 of 3 (confidence 10)"},
      {{404, ""}, "0", "Not in CTDB", "", "Not in CTDB"},
      {{503, "busy"}, "0", "CTDB unreachable: HTTP status 503", "", "unreachable: HTTP status 503"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.verdict);
    Answer(row.reply);
    std::filesystem::remove_all(config_.cachePath());
    const size_t asked = ctdb_.Paths().size();
    const CommandResult r = Rip("v", {"--verify", "--log", "--offset", row.offset});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::string expected;
    for (int track = 1; track <= 3; ++track) {
      expected += "Track 0" + std::to_string(track) + "\tCompleted\t" + Wav("v", track) +
                  "\tNot in database\t" + row.verdict + "\n";
    }
    EXPECT_EQ(r.out, expected + "AccurateRip: 0 of 3 tracks accurately ripped; CTDB: " +
                         row.summary + "\n");
    ASSERT_EQ(ctdb_.Paths().size(), asked + 1);
    EXPECT_EQ(ctdb_.Paths().back(),
              "/lookup2.php?version=3&ctdb=1&fuzzy=1&metadata=none&toc=" + toc);
    // A disc the database does not hold is ripped as without it.
    if (std::string(row.offset) == "0") {
      for (int track = 1; track <= 3; ++track) {
        EXPECT_TRUE(ReadFile(Wav("v", track)) == ReadFile(Wav("plain", track))) << track;
      }
    }
    // The log as PyYAML reads it; each track's CTDB CRC the pressing's when read as it.
    const CommandResult yaml = RunCommand(
        {"/usr/bin/python3", "-c",
         "import sys, yaml\n"
         "d = yaml.safe_load(open(sys.argv[1], encoding='utf-8'))\n"
         "print(d['Disc']['CTDB id'], d['Disc'].get('CTDB'), d['Disc'].get('CTDB other entries'),\n"
         "      d['Summary'], sep='|')\n"
         "for n, t in sorted(d['Tracks'].items()):\n"
         "    print(n, t['CTDB CRC'].lower() == sys.argv[1 + n], t['CTDB'], sep='|')\n",
         out_ + "/v/v.log", crcs_[0], crcs_[1], crcs_[2]});
    std::string log = std::string("9UZMq7pEDaXgSXVFhRE2oCc23lM-|") +
                      (row.disc.empty() ? "None" : row.disc) + "|" +
                      (row.disc.empty() ? "None" : "['CCC 0:900:1600:2401 (confidence 5)']") +
                      "|AccurateRip: 0 of 3 tracks accurately ripped; CTDB: " + row.summary + "\n";
    for (int track = 1; track <= 3; ++track) {
      log += std::to_string(track) + (std::string(row.offset) == "0" ? "|True|" : "|False|") +
             row.verdict + "\n";
    }
    EXPECT_EQ(yaml.out, log) << yaml.err << ReadFile(out_ + "/v/v.log");
  }
}

// A rip that does not verify still logs each track's CTDB CRC (at shift 0), taken from the
// copy CRC's own pass, and asks no database.
TEST_F(CtdbRip, ARipThatDoesNotVerifyLogsTheCrcsWithoutAsking) {
  const size_t asked = ctdb_.Paths().size();
  ASSERT_EQ(Rip("u", {"--log"}).exitStatus, 0);
  EXPECT_EQ(ctdb_.Paths().size(), asked);
  const CommandResult yaml =
      RunCommand({"/usr/bin/python3", "-c",
                  "import sys, yaml\n"
                  "d = yaml.safe_load(open(sys.argv[1], encoding='utf-8'))\n"
                  "for n, t in sorted(d['Tracks'].items()):\n"
                  "    print(n, t['CTDB CRC'].lower() == sys.argv[1 + n], 'CTDB' in t, sep='|')\n",
                  out_ + "/u/u.log", crcs_[0], crcs_[1], crcs_[2]});
  EXPECT_EQ(yaml.out, "1|True|False\n2|True|False\n3|True|False\n") << yaml.err;
}

}  // namespace
