// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The AccurateRip database client against a server on 127.0.0.1 with replies built here.
// Faults guarded:
// - a dBAR file misread (byte order, record size), a truncated entry or a track count the
//   reply cannot hold taken as data
// - a verdict from an entry of another track count, from the wrong slot (a data track first
//   takes slot 1), v1 named where v2 matched, the confidence of an entry that did not match
// - 404, 503, a refused connection, a hang past the time-out, a reply over 1 MiB or cut
//   short not given their own texts; a crash or hang on any of them
// - the disc fetched again within a week, or a failed reply kept in the cache
#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "disc/accuraterip.h"
#include "support/accuraterip_db.h"
#include "support/http_server.h"
#include "support/test_env.h"

namespace {

// One entry of `id1` (ids 2 and freedb fixed), then (confidence, checksum) per track.
std::string Entry(uint32_t id1, const std::vector<std::pair<uint8_t, uint32_t>>& tracks) {
  return DbarEntry(tracks, id1, 0x2222, 0x3333);
}

std::string Verdict(const AccurateRipLookup& lookup, uint32_t audioTracks, uint32_t slot,
                    uint32_t v1, uint32_t v2) {
  return AccurateRipResultText(JudgeTrack(lookup, audioTracks, slot, v1, v2));
}

TEST(AccurateRip, DbarEntriesAndTheVerdictOfEachTrack) {
  const std::string file = Entry(1, {{12, 0xA1}, {12, 0xB1}, {3, 0xC1}}) +
                           Entry(2, {{4, 0xA2}, {200, 0xB2}, {7, 0xC2}}) +
                           Entry(3, {{99, 0xA1}, {99, 0xB1}});  // another track count
  const auto entries = ParseDbar(file);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ(std::tuple((*entries)[1].id1, (*entries)[1].id2, (*entries)[1].cddb),
            std::tuple(2u, 0x2222u, 0x3333u));
  EXPECT_EQ((*entries)[1].tracks[1].confidence, 200u);
  EXPECT_EQ((*entries)[1].tracks[1].checksum, 0xB2u);
  AccurateRipLookup found{AccurateRipLookup::kFound, *entries, ""};
  EXPECT_EQ(Verdict(found, 3, 1, 0xA1, 0), "Accurately ripped (confidence 12, v1)");
  EXPECT_EQ(Verdict(found, 3, 1, 0xA2, 0xA1), "Accurately ripped (confidence 12, v2)");
  EXPECT_EQ(Verdict(found, 3, 2, 0xB1, 0xB2), "Accurately ripped (confidence 200, v2)");
  EXPECT_EQ(Verdict(found, 3, 2, 0xB3, 0xB4), "Not accurate (database confidence 200)");
  EXPECT_EQ(Verdict(found, 3, 3, 0xC2, 0), "Accurately ripped (confidence 7, v1)");
  EXPECT_EQ(Verdict(found, 3, 4, 0xC2, 0), "Not in database");  // no slot: a data track first
  EXPECT_EQ(Verdict(found, 4, 1, 0xA1, 0), "Not in database");  // no entry of 4 tracks
  // Empty slots (confidence 0 or checksum 0) match nothing, not even a silent track.
  const auto sparse =
      ParseDbar(Entry(4, {{0, 0}, {5, 0}, {0, 0xC3}}) + Entry(5, {{0, 0}, {6, 0xB5}, {0, 0}}));
  ASSERT_TRUE(sparse);
  const AccurateRipLookup holes{AccurateRipLookup::kFound, *sparse, ""};
  EXPECT_EQ(Verdict(holes, 3, 1, 0, 0), "Not in database");
  EXPECT_EQ(Verdict(holes, 3, 2, 0, 0), "Not accurate (database confidence 6)");
  EXPECT_EQ(Verdict(holes, 3, 3, 0xC3, 0xC3), "Not in database");
  // Cut anywhere inside an entry: unreadable, never a partial list.
  for (size_t cut : {size_t{1}, size_t{12}, size_t{13 + 8}, file.size() - 1}) {
    EXPECT_FALSE(ParseDbar(file.substr(0, cut))) << cut;
  }
  EXPECT_FALSE(ParseDbar(std::string(1, '\xFF') + std::string(12 + 9 * 3, '\0')));
}

class AccurateRipServer : public ::testing::Test {
 protected:
  AccurateRipLookup LookUp(const std::string& server, long totalTimeoutMs = 15000) {
    HttpLimits limits;
    limits.totalTimeoutMs = totalTimeoutMs;
    return LookUpAccurateRip(server, id_, limits);
  }
  std::string Outcome(const AccurateRipLookup& lookup) {
    return AccurateRipResultText(JudgeTrack(lookup, 2, 1, 0xA1, 0));
  }
  ScopedConfigHome home_;
  const AccurateRipDiscId id_{2, 0x00002ee0, 0x00007b0d, 0x0a006402};
  const std::string path_ = "/accuraterip/0/e/e/dBAR-002-00002ee0-00007b0d-0a006402.bin";
};

TEST_F(AccurateRipServer, EachReplyHasItsTextAndOnlyAnswersAreKeptForAWeek) {
  const std::string entry = Entry(0x2ee0, {{5, 0xA1}, {5, 0xB1}});
  const struct {
    HttpTestReply reply;
    std::string text;
    bool kept;
  } rows[] = {
      {{200, entry}, "Accurately ripped (confidence 5, v1)", true},
      {{200, ""}, "Not in database", true},
      {{404, "no such file"}, "Not in database", true},
      {{503, "busy"}, "Database unreachable: HTTP status 503", false},
      {{200, entry.substr(0, 20)}, "Database reply unreadable", false},
      {{200, std::string((1 << 20) + 1, '\0')}, "Database reply unreadable", false},
      {{200, entry, 10}, "Database unreachable: ", false},  // cut short: curl says how
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::filesystem::remove_all(home_.cachePath());
    HttpTestServer server([&](const std::string&) { return row.reply; });
    EXPECT_EQ(Outcome(LookUp(server.Url())).substr(0, row.text.size()), row.text);
    EXPECT_EQ(server.Paths(), std::vector<std::string>{path_});
    // A second lookup within the week answers from the cache when the first was kept.
    LookUp(server.Url() + "/");
    EXPECT_EQ(server.Paths().size(), row.kept ? 1u : 2u);
  }
  // A week later the cache is stale: asked again.
  HttpTestServer server([&](const std::string&) { return HttpTestReply{200, entry}; });
  const std::string cached =
      home_.cachePath() + "accuraterip/dBAR-002-00002ee0-00007b0d-0a006402.bin";
  std::filesystem::remove_all(home_.cachePath());
  LookUp(server.Url());
  const time_t weekAgo = std::time(nullptr) - 7 * 24 * 3600 - 10;
  const utimbuf times{weekAgo, weekAgo};
  ASSERT_EQ(utime(cached.c_str(), &times), 0);
  LookUp(server.Url());
  EXPECT_EQ(server.Paths().size(), 2u);
}

TEST_F(AccurateRipServer, NoServerOrAHangingOneEndsWithinItsTimeOut) {
  std::string gone;  // a port nothing listens on any more
  {
    HttpTestServer server([](const std::string&) { return HttpTestReply{}; });
    gone = server.Url();
  }
  EXPECT_EQ(Outcome(LookUp(gone)).substr(0, 22), "Database unreachable: ");
  // Without its time-out the lookup would wait for as long as the server holds on.
  HttpTestServer hanging([](const std::string&) {
    HttpTestReply reply;
    reply.hang = true;
    return reply;
  });
  EXPECT_EQ(Outcome(LookUp(hanging.Url(), 300)).substr(0, 22), "Database unreachable: ");
}

}  // namespace
