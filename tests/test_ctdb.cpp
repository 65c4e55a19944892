// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The CUETools database: the disc's TOC string and id, the CRCs (python's zlib.crc32 over the
// same bytes is the oracle), the reply reader and the verdicts, and the client against a
// server on 127.0.0.1 with replies built here. Faults guarded:
// - a data track not marked or counted in the id, an enhanced CD's lead-out not moved back
//   by the session gap, a data track 1 taken as the base
// - the edges left out wrongly (the tail's rounding to 10 sectors), a CRC at a shift off by
//   one sample, a track shorter than the shifts' reach, pieces split inside a sample, the
//   disc's CRC not the concatenation of its tracks'
// - a rip shifted either way not found, or found with the wrong sign
// - entries of another layout (a fuzzy reply) counted, or not listed; a TOC moved as a whole
//   not counted; shift 0 not preferred
// - a malformed reply, entity tricks or a reply too large taken as data, or crashing
// - 404, 503, no server, a hang, a cut reply not given their texts; a failed reply cached
//   (the cache's week: test_accuraterip, the cache being both databases')
#include <filesystem>

#include <gtest/gtest.h>

#include "capture/ctdb_crc.h"
#include "disc/cd_device.h"
#include "disc/ctdb.h"
#include "support/http_server.h"
#include "support/test_env.h"

namespace {

TocBuffer Toc(const std::vector<CdTocTrack>& tracks, uint32_t leadOut) {
  TocBuffer toc;
  EXPECT_TRUE(FillTocBuffer(1, tracks, leadOut, toc));
  return toc;
}

std::string Hex(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

std::string Entry(const std::string& id, const std::string& toc, uint32_t crc, uint32_t confidence,
                  const std::vector<uint32_t>& trackCrcs) {
  std::string words;
  for (uint32_t c : trackCrcs) words += (words.empty() ? "" : " ") + Hex(c);
  return "<entry id=\"" + id + "\" crc32=\"" + Hex(crc) + "\" confidence=\"" +
         std::to_string(confidence) +
         "\" npar=\"8\" stride=\"5880\" hasparity=\"true\" syndrome=\"AAAA\" trackcrcs=\"" + words +
         "\" toc=\"" + toc + "\"/>";
}

std::string Reply(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ctdb "
         "xmlns=\"" +
         std::string(kCtdbNamespace) +
         "\" "
         "xmlns:ext=\"urn:obrin-test:ext\">" +
         entries + "</ctdb>";
}

CtdbCrcs AtZero(uint32_t crc) {
  return {0, {crc}, 0};
}

TEST(CtdbToc, StringsAndIdsOfPlainEnhancedAndMixedModeDiscs) {
  const struct {
    TocBuffer toc;
    const char* string;
    const char* id;
  } discs[] = {
      {Toc({{0, 0}, {11413, 0}, {25024, 0}, {45713, 0}}, 55220), "0:11413:25024:45713:55220",
       "VukMWWItblELRM.CEFpXxw0FlME-"},
      // Enhanced: the audio ends 11400 sectors before the data track, whatever the lead-out.
      {Toc({{0, 0}, {11413, 0}, {25024, 0}, {45713, 4}}, 60000), "0:11413:25024:-45713:60000",
       "DbTlDjl1_MF9yyJZ4mJjwyLIRwM-"},
      {Toc({{0, 0}, {11413, 0}, {25024, 0}}, 34313), "0:11413:25024:34313",
       "DbTlDjl1_MF9yyJZ4mJjwyLIRwM-"},
      // Mixed mode: the first audio track is the base, so this is the first disc's id.
      {Toc({{0, 4}, {15000, 0}, {26413, 0}, {40024, 0}, {60713, 0}}, 70220),
       "-0:15000:26413:40024:60713:70220", "VukMWWItblELRM.CEFpXxw0FlME-"},
      // Lengths of no whole 10 sectors, track 1 after a hidden track.
      {Toc({{32, 0}, {1269, 0}, {5033, 0}}, 9999), "32:1269:5033:9999",
       "jE5IfZoMbuThhnWoSYkKAtP5xnk-"},
  };
  for (const auto& disc : discs) {
    EXPECT_EQ(CtdbTocString(disc.toc), disc.string);
    EXPECT_EQ(CtdbTocId(disc.toc), disc.id) << disc.string;
  }
  EXPECT_EQ(CtdbTocId(Toc({{0, 4}}, 5000)), "");  // no audio
}

// A mixed-mode disc; its reply holds its own pressing, the same moved by 33 sectors, and a
// fuzzy match's neighbours: other lengths, and the same starts without the data track.
TEST(CtdbReply, OnlyEntriesOfTheDiscsLayoutCountButAllAreListed) {
  const std::string disc = "-0:15000:26413:40024";
  const std::string reply =
      Reply(Entry("101", disc, 0xD15C, 5, {0xA1, 0xB1}) +
            Entry("102", "-33:15033:26446:40057", 0xD15C, 3, {0xA1, 0xB2}) +
            Entry("103", "-0:15000:26413:40025", 0xD15C, 50, {0xA1, 0xB1}) +
            Entry("104", "0:15000:26413:40024", 0xD15C, 60, {0xC1, 0xA1, 0xB1}) +
            Entry("105", disc, 0xE0, 0, {0xE1, 0xE2}) +     // no rips: nothing to match
            "<metadata source=\"x\"><entry/></metadata>");  // not an entry of the root
  const CtdbLookup lookup = ReadCtdbReply(reply, disc);
  ASSERT_EQ(lookup.kind, CtdbLookup::kFound);
  ASSERT_EQ(lookup.entries.size(), 5u);
  std::vector<std::pair<std::string, bool>> listed;
  for (const CtdbEntry& e : lookup.entries) listed.emplace_back(e.id + " " + e.toc, e.sameLayout);
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, bool>>{{"101 " + disc, true},
                                                               {"102 -33:15033:26446:40057", true},
                                                               {"103 -0:15000:26413:40025", false},
                                                               {"104 0:15000:26413:40024", false},
                                                               {"105 " + disc, true}}));
  const CtdbEntry& first = lookup.entries[0];
  EXPECT_EQ(std::tuple(first.crc32, first.confidence, first.npar, first.stride, first.hasParity),
            std::tuple(0xD15Cu, 5u, 8u, 5880u, true));
  const auto track = [&](uint32_t n, const CtdbCrcs& crcs) {
    return CtdbResultText(JudgeCtdbTrack(lookup, n, crcs));
  };
  EXPECT_EQ(track(1, AtZero(0xA1)), "Accurately ripped (8/8)");
  EXPECT_EQ(track(2, AtZero(0xB1)), "Accurately ripped (5/8)");
  EXPECT_EQ(track(2, AtZero(0xB2)), "Accurately ripped (3/8)");
  EXPECT_EQ(track(2, AtZero(0xC1)), "Not accurate (database confidence 8)");
  EXPECT_EQ(track(1, AtZero(0xE1)), "Not accurate (database confidence 8)");
  EXPECT_EQ(track(3, AtZero(0xB1)), "Not in CTDB");  // the disc has two audio tracks
  EXPECT_EQ(track(0, AtZero(0xA1)), "Not in CTDB");
  EXPECT_EQ(CtdbResultText(JudgeCtdbDisc(lookup, AtZero(0xD15C))), "Accurately ripped (8/8)");
  // Shift 0 first, though more rips agree elsewhere; else where most do; the sign always.
  const CtdbCrcs shifted{2, {0xB1, 0, 0xB2, 0xB2, 0}, 0};
  EXPECT_EQ(track(2, shifted), "Accurately ripped (3/8)");
  EXPECT_EQ(track(2, CtdbCrcs{2, {0xB2, 0xB1, 0, 0xB1, 0xB2}, 0}),
            "Accurately ripped (5/8), offset -1");
  EXPECT_EQ(track(2, CtdbCrcs{2, {0xB1, 0xB2, 0, 0, 0xB1}, 0}),
            "Accurately ripped (5/8), offset -2");
  EXPECT_EQ(track(1, CtdbCrcs{2, {0, 0, 0, 0, 0xA1}, 0}), "Accurately ripped (8/8), offset +2");
  EXPECT_EQ(CtdbResultText(JudgeCtdbDisc(lookup, CtdbCrcs{1, {0, 1, 0xD15C}, 0})),
            "Accurately ripped (8/8), offset +1");
  // No entry of this layout: listed, but not in the database.
  const CtdbLookup other = ReadCtdbReply(reply, "0:1000:2000");
  EXPECT_EQ(other.kind, CtdbLookup::kNotInDatabase);
  EXPECT_EQ(other.entries.size(), 5u);
  EXPECT_EQ(CtdbResultText(JudgeCtdbTrack(other, 1, AtZero(0xA1))), "Not in CTDB");
}

TEST(CtdbReply, AnythingElseIsNotUnderstood) {
  const std::string good = Entry("1", "0:100:200", 0xABCD, 2, {1, 2});
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE ctdb [<!ENTITY a \"aaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
      "<ctdb xmlns=\"" +
      std::string(kCtdbNamespace) + "\"><entry id=\"&c;\"/></ctdb>";
  // The good entry with `from` made `to`, in a reply.
  const auto edited = [&good](const std::string& from, const std::string& to) {
    std::string entry = good;
    return Reply(entry.replace(entry.find(from), from.size(), to));
  };
  const std::string bad[] = {
      Reply(good).substr(0, 150),  // cut
      "not xml at all",
      "<ctdb>" + good + "</ctdb>",  // no namespace
      "<lookup xmlns=\"" + std::string(kCtdbNamespace) + "\">" + good + "</lookup>",
      Reply(good) + "<ctdb/>",
      Reply(Entry("1", "0:100:200", 0xABCD, 2, {1})),         // one CRC for two tracks
      Reply(Entry("1", "0:200:100", 0xABCD, 2, {1, 2})),      // not rising
      Reply(Entry("1", "0:100:-200", 0xABCD, 2, {1, 2})),     // a data lead-out
      Reply(Entry("1", "-0:100", 0xABCD, 2, {})),             // no audio
      Reply(Entry("1 2", "0:100:200", 0xABCD, 2, {1, 2})),    // an id for no log
      Reply(good.substr(0, good.find("confidence")) + "/>"),  // attributes missing
      edited("0000abcd", "0xabcdef"),
      edited("0000abcd", ""),
      Reply(Entry("1", "0:100:200", 1, 2, {1, 2}).replace(13, 0, " crc32=\"1\"")),  // twice
      edited("confidence=\"2\"", "confidence=\"-2\""),
      edited("confidence=\"2\"", "confidence=\"4294967296\""),
      edited("npar=\"8\"", "npar=\"x\""),
      edited("00000001 ", "zz "),
      laughs,
      // A declared entity, however harmless its text.
      "<?xml version=\"1.0\"?><!DOCTYPE ctdb [<!ENTITY a \"0:100:200\">]>" +
          Reply(Entry("1", "&a;", 0xABCD, 2, {1, 2})).substr(39),
      Reply("<entry id=\"&undefined;\"/>"),
      Reply(good + std::string(kCtdbMaxReplyBytes, ' ')),
  };
  for (const std::string& xml : bad) {
    EXPECT_FALSE(ParseCtdbReply(xml)) << xml.substr(0, 300);
    EXPECT_EQ(CtdbResultText(JudgeCtdbTrack(ReadCtdbReply(xml, "0:100:200"), 1, AtZero(1))),
              "CTDB reply not understood");
  }
  // What is understood: no entries; upper-case hex, short hex and entities in values.
  const auto empty = ParseCtdbReply("<ctdb xmlns=\"" + std::string(kCtdbNamespace) + "\"/>");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  const auto upper =
      ParseCtdbReply(Reply("<entry id=\"7\" crc32=\"ABCD\" confidence=\"&#52;2\" "
                           "trackcrcs=\"1 FFFFFFFF\" toc=\"0:100:200\"/>"));
  ASSERT_TRUE(upper);
  ASSERT_EQ(upper->size(), 1u);
  EXPECT_EQ((*upper)[0].crc32, 0xABCDu);
  EXPECT_EQ((*upper)[0].confidence, 42u);
  EXPECT_EQ((*upper)[0].trackCrcs, (std::vector<uint32_t>{1, 0xFFFFFFFF}));
  EXPECT_FALSE((*upper)[0].hasParity);
}

// Disc audio of tracks of `sectors` with kCtdbShiftLimit samples of noise before and after,
// as a file for python and in memory.
class CtdbAudio : public ::testing::Test {
 protected:
  static constexpr int64_t kLimit = kCtdbShiftLimit;

  void Make(const std::vector<uint32_t>& sectors, int64_t spare) {
    int64_t first = 0;
    for (uint32_t s : sectors) {
      firsts_.push_back(first);
      lengths_.push_back(int64_t{s} * 588);
      first += lengths_.back();
    }
    discSamples_ = first;
    spare_ = spare;
    stream_.resize(static_cast<size_t>(4 * (discSamples_ + 2 * spare)));
    uint32_t x = 12345;
    for (uint8_t& b : stream_) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    WriteFile(file_, std::string(stream_.begin(), stream_.end()));
  }

  // zlib.crc32 of each range of stream samples.
  std::vector<uint32_t> Python(const std::vector<std::pair<int64_t, int64_t>>& ranges) {
    std::vector<std::string> args = {"/usr/bin/python3", "-c",
                                     "import sys, zlib\n"
                                     "d = open(sys.argv[1], 'rb').read()\n"
                                     "for r in sys.argv[2:]:\n"
                                     "    b, e = map(int, r.split(':'))\n"
                                     "    print('%08x' % zlib.crc32(d[4 * b:4 * e]))\n",
                                     file_};
    for (auto [b, e] : ranges) args.push_back(std::to_string(b) + ":" + std::to_string(e));
    const CommandResult r = RunCommand(args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::vector<uint32_t> crcs;
    for (size_t at = 0; at + 9 <= r.out.size(); at += 9) {
      crcs.push_back(static_cast<uint32_t>(std::stoul(r.out.substr(at, 8), nullptr, 16)));
    }
    EXPECT_EQ(crcs.size(), ranges.size());
    return crcs;
  }

  // Track k's CRCs from the stream as read `late` samples late, fed in awkward pieces (without
  // a window two samples each, after one when `phase`: so that pieces start at every place
  // where the CRC is kept, or one before).
  CtdbCrcs TrackCrcs(size_t k, int32_t limit, int64_t late = 0, bool phase = false) {
    SlidingCtdbCrc sliding(static_cast<uint64_t>(discSamples_), static_cast<uint64_t>(firsts_[k]),
                           static_cast<uint64_t>(lengths_[k]), limit);
    const uint8_t* window = stream_.data() + 4 * (spare_ + firsts_[k] - limit - late);
    const auto size = static_cast<size_t>(4 * (lengths_[k] + 2 * limit));
    for (size_t at = 0, piece = phase ? 4 : 8; at < size;
         at += piece, piece = limit == 0 ? 8 : piece * 7 % 9999 + 1) {
      sliding.Add(window + at, std::min(piece, size - at));
    }
    return sliding.Crcs();
  }

  TempDir dir_;
  const std::string file_ = dir_ / "stream.raw";
  std::vector<uint8_t> stream_;
  std::vector<int64_t> firsts_, lengths_;
  int64_t discSamples_ = 0, spare_ = 0;
};

TEST_F(CtdbAudio, TrackAndDiscCrcsAreZlibsOverTheirRangesAtEveryShift) {
  EXPECT_EQ(std::pair(CtdbCountedSpan(67620).begin, CtdbCountedSpan(67620).end),
            std::pair(5880ul, 58800ul));  // 2940 past whole 10 sectors: 5880 + 2940 left
  EXPECT_EQ(CtdbCountedSpan(17640).end, 11760u);
  EXPECT_EQ(CtdbCountedSpan(17639).end, 5880u);
  EXPECT_EQ(CtdbCountedSpan(5000).end, 5000u);
  // 115 sectors; track 2 shorter than the shifts' reach, so its head and tail windows overlap.
  Make({37, 7, 41, 30}, kLimit);
  const CtdbSpan span = CtdbCountedSpan(static_cast<uint64_t>(discSamples_));
  const auto begin = static_cast<int64_t>(span.begin), end = static_cast<int64_t>(span.end);
  const int64_t shifts[] = {-kLimit, -kLimit + 1, -1, 0, 1, 1237, kLimit};
  std::vector<std::pair<int64_t, int64_t>> ranges;
  std::vector<CtdbCrcs> tracks, plain;
  for (size_t k = 0; k < firsts_.size(); ++k) {
    tracks.push_back(TrackCrcs(k, kCtdbShiftLimit));
    plain.push_back(TrackCrcs(k, 0));
    const int64_t from = std::max(begin, firsts_[k]), to = std::min(end, firsts_[k] + lengths_[k]);
    EXPECT_EQ(tracks.back().samples, static_cast<uint64_t>(to - from));
    for (int64_t s : shifts) ranges.emplace_back(kLimit + from + s, kLimit + to + s);
  }
  for (int64_t s : shifts) ranges.emplace_back(kLimit + begin + s, kLimit + end + s);
  const std::vector<uint32_t> expected = Python(ranges);
  ASSERT_EQ(expected.size(), ranges.size());
  const CtdbCrcs disc = CombineCtdbCrcs(tracks), discAtZero = CombineCtdbCrcs(plain);
  EXPECT_EQ(disc.samples, span.end - span.begin);
  size_t row = 0;
  for (size_t k = 0; k <= tracks.size(); ++k) {
    const CtdbCrcs& crcs = k < tracks.size() ? tracks[k] : disc;
    for (int64_t s : shifts) {
      EXPECT_EQ(crcs.At(static_cast<int32_t>(s)), expected[row++]) << "track " << k << " at " << s;
    }
    const CtdbCrcs& atZero = k < tracks.size() ? plain[k] : discAtZero;
    EXPECT_EQ(atZero.limit, 0);
    EXPECT_EQ(atZero.At(0), crcs.At(0)) << "track " << k;
    if (k < tracks.size()) {
      EXPECT_EQ(TrackCrcs(k, 0, 0, true).At(0), crcs.At(0)) << "track " << k;
    }
  }
  // One track without its window: the disc has its shift-0 CRC alone.
  tracks[1] = plain[1];
  EXPECT_EQ(CombineCtdbCrcs(tracks).byShift, discAtZero.byShift);
  tracks[2] = CtdbCrcs{};  // none at all: nor has the disc
  EXPECT_EQ(CombineCtdbCrcs(tracks).At(0), std::nullopt);
}

TEST_F(CtdbAudio, ARipShiftedEitherWayFindsItsPressingAndNamesTheShift) {
  Make({40, 33, 29}, 2 * kLimit);  // room for the reads shifted by up to kLimit
  const CtdbSpan span = CtdbCountedSpan(static_cast<uint64_t>(discSamples_));
  const auto begin = static_cast<int64_t>(span.begin), end = static_cast<int64_t>(span.end);
  std::vector<std::pair<int64_t, int64_t>> ranges;
  for (size_t k = 0; k < firsts_.size(); ++k) {
    ranges.emplace_back(spare_ + std::max(begin, firsts_[k]),
                        spare_ + std::min(end, firsts_[k] + lengths_[k]));
  }
  ranges.emplace_back(spare_ + begin, spare_ + end);
  const std::vector<uint32_t> held = Python(ranges);
  ASSERT_EQ(held.size(), 4u);
  const std::string toc = "0:40:73:102";
  const CtdbLookup lookup =
      ReadCtdbReply(Reply(Entry("1", toc, held[3], 7, {held[0], held[1], held[2]}) +
                          Entry("2", toc, held[3] ^ 1, 3, {held[0] ^ 1, held[1] ^ 1, held[2] ^ 1})),
                    toc);
  ASSERT_EQ(lookup.kind, CtdbLookup::kFound);
  for (int64_t late : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{1237}, kLimit, -kLimit}) {
    SCOPED_TRACE(late);
    char offset[32] = "";
    if (late != 0) std::snprintf(offset, sizeof offset, ", offset %+d", static_cast<int>(late));
    std::vector<CtdbCrcs> tracks;
    for (size_t k = 0; k < firsts_.size(); ++k) {
      tracks.push_back(TrackCrcs(k, kCtdbShiftLimit, late));
      EXPECT_EQ(CtdbResultText(JudgeCtdbTrack(lookup, static_cast<uint32_t>(k + 1), tracks[k])),
                std::string("Accurately ripped (7/10)") + offset);
    }
    EXPECT_EQ(CtdbResultText(JudgeCtdbDisc(lookup, CombineCtdbCrcs(tracks))),
              std::string("Accurately ripped (7/10)") + offset);
  }
  // Beyond the reach, and without a window: not accurate.
  EXPECT_EQ(CtdbResultText(JudgeCtdbTrack(lookup, 2, TrackCrcs(1, kCtdbShiftLimit, kLimit + 1))),
            "Not accurate (database confidence 10)");
  EXPECT_EQ(CtdbResultText(JudgeCtdbTrack(lookup, 2, TrackCrcs(1, 0, 5))),
            "Not accurate (database confidence 10)");
}

class CtdbServer : public ::testing::Test {
 protected:
  CtdbLookup LookUp(const std::string& server, long totalTimeoutMs = 15000) {
    HttpLimits limits;
    limits.totalTimeoutMs = totalTimeoutMs;
    return LookUpCtdb(server, toc_, limits);
  }
  static std::string Outcome(const CtdbLookup& lookup) {
    return CtdbResultText(JudgeCtdbTrack(lookup, 1, AtZero(0xA1)));
  }
  static std::string DeadServer() {
    HttpTestServer gone([](const std::string&) { return HttpTestReply{}; });
    return gone.Url();
  }
  ScopedConfigHome home_;
  const TocBuffer toc_ = Toc({{0, 0}, {11413, 0}, {25024, 0}, {45713, 0}}, 55220);
  const std::string path_ =
      "/lookup2.php?version=3&ctdb=1&fuzzy=1&metadata=none&toc=0:11413:25024:45713:55220";
  const std::string cached_ = home_.cachePath() + "ctdb/VukMWWItblELRM.CEFpXxw0FlME-.xml";
};

TEST_F(CtdbServer, EachReplyHasItsTextAndOnlyAnswersAreKept) {
  const std::string toc = "0:11413:25024:45713:55220";
  const std::string reply = Reply(Entry("9", toc, 0xD15C, 5, {0xA1, 0xA2, 0xA3, 0xA4}));
  const struct {
    HttpTestReply reply;
    std::string text;
    bool kept;
  } rows[] = {
      {{200, reply}, "Accurately ripped (5/5)", true},
      {{200, Reply("")}, "Not in CTDB", true},
      {{200, Reply(Entry("9", "0:11413:25024:45713:55221", 1, 5, {0xA1, 2, 3, 4}))},
       "Not in CTDB",
       true},
      {{404, "no such disc"}, "Not in CTDB", true},
      {{503, "busy"}, "CTDB unreachable: HTTP status 503", false},
      {{200, reply.substr(0, reply.size() - 3)}, "CTDB reply not understood", false},
      {{200, "<html>It works!</html>"}, "CTDB reply not understood", false},
      {{200, ""}, "CTDB reply not understood", false},
      {{200, reply + std::string(kCtdbMaxReplyBytes, ' ')}, "CTDB reply not understood", false},
      {{200, reply, 10}, "CTDB unreachable: ", false},  // the connection cut: curl says how
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::filesystem::remove_all(home_.cachePath());
    {
      HttpTestServer server([&](const std::string&) { return row.reply; });
      EXPECT_EQ(Outcome(LookUp(server.Url())).substr(0, row.text.size()), row.text);
      EXPECT_EQ(server.Paths(), std::vector<std::string>{path_});
      EXPECT_EQ(FileExists(cached_), row.kept);
    }
    // Asked again with the server gone: the cache answers what it kept.
    const std::string again = Outcome(LookUp(DeadServer() + "/"));
    EXPECT_EQ(row.kept ? again : again.substr(0, 18), row.kept ? row.text : "CTDB unreachable: ");
  }
}

TEST_F(CtdbServer, NoServerOrAHangingOneEndsWithinItsTimeOut) {
  EXPECT_EQ(Outcome(LookUp(DeadServer())).substr(0, 18), "CTDB unreachable: ");
  HttpTestServer hanging([](const std::string&) {
    HttpTestReply reply;
    reply.hang = true;
    return reply;
  });
  EXPECT_EQ(Outcome(LookUp(hanging.Url(), 300)).substr(0, 18), "CTDB unreachable: ");
  EXPECT_FALSE(FileExists(cached_));
}

}  // namespace
