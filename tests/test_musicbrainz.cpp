// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// obrin-rip --lookup against a MusicBrainz web service of the test's, on the loopback address.
// Faults guarded:
// - a request the user did not ask for; a request other than the disc id's (with the artist
//   credits and recordings), or no fuzzy lookup by TOC after a 404
// - the wrong medium of a several-disc release, the recording's title over the medium's, a
//   track artist not naming that track's file, the release list or --release not followed
// - not found, HTTP errors, a cut, oversized or unreadable reply stopping the run, crashing or
//   reported as anything but "Disc not found in MusicBrainz" / "MusicBrainz lookup failed"
// - Ctrl+C while the server hangs not ending the run
#include <csignal>
#include <filesystem>
#include <future>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "disc/musicbrainz.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/test_env.h"

namespace {

using Json = nlohmann::json;

// The disc: lengths 300, 377 and 200 sectors.
constexpr char kDiscId[] = "eVKOMoWw5AO_pDBAt79bU1lhYPQ-";
constexpr char kIdPath[] =
    "/ws/2/discid/"
    "eVKOMoWw5AO_pDBAt79bU1lhYPQ-?inc=artist-credits+recordings+release-groups+labels&fmt=json";
constexpr char kTocPath[] =
    "/ws/2/discid/"
    "-?toc=1+3+1027+150+450+827&inc=artist-credits+recordings+release-groups+labels&fmt=json";

Json Credit(const std::string& name, const std::string& join = "") {
  return {{"name", name}, {"joinphrase", join}, {"artist", {{"name", name + " (sort)"}}}};
}

// A medium of `titles` (recordings named otherwise), listing `discId` when not empty.
Json Medium(const std::vector<std::string>& titles, const std::string& discId,
            const Json& trackCredits = Json()) {
  Json tracks = Json::array();
  for (size_t i = 0; i < titles.size(); ++i) {
    Json track = {{"position", i + 1},
                  {"title", titles[i]},
                  {"recording", {{"title", "Recording " + titles[i]}}}};
    if (trackCredits.is_array() && i < trackCredits.size()) {
      track["artist-credit"] = trackCredits[i];
    }
    tracks.push_back(track);
  }
  Json medium = {{"format", "CD"}, {"track-count", titles.size()}, {"tracks", tracks}};
  if (!discId.empty()) medium["discs"] = Json::array({Json{{"id", discId}, {"sectors", 1027}}});
  return medium;
}

Json Release(const std::string& title, const Json& credit, const Json& extra, const Json& media) {
  Json release = {{"title", title}, {"artist-credit", credit}, {"media", media}};
  if (extra.is_object()) release.update(extra);
  return release;
}

class Lookup : public ::testing::Test {
 protected:
  void SetUp() override {
    cue_ = MakeDiscAt(dir_ / "d.cue", {"--lengths", "300,377,200", "--seed", "5"});
  }
  // Points [MusicBrainz] Server of the settings file at `url`.
  void UseServer(const std::string& url) {
    if (!FileExists(config_.iniPath())) RunCommand({"obrin-rip", "--list"});
    std::string ini = ReadFile(config_.iniPath());
    const size_t at = ini.find("Server=", ini.find("[MusicBrainz]")) + 7;
    WriteFile(config_.iniPath(), ini.replace(at, ini.find('\n', at) - at, url));
  }
  CommandResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"obrin-rip", "--image", cue_});
    return RunCommand(args);
  }
  ScopedConfigHome config_;
  TempDir dir_;
  std::string cue_;
};

const std::string kIds =
    "freedb: 0a000b03\nMusicBrainz: eVKOMoWw5AO_pDBAt79bU1lhYPQ-\n"
    "AccurateRip: 003-0000073e-000017fc-0a000b03\nCTDB: eF1e65.SntFZK7BprncAvCb6NEs-\n";

TEST_F(Lookup, RepliesAndWhatTheDiscGetsFromThem) {
  const Json single = {
      {"id", kDiscId},
      {"releases",
       {Release("Album", Json::array({Credit("Ann", " & "), Credit("Bob")}),
                {{"date", "1999-05-01"}, {"country", "GB"}, {"barcode", "5012345678900"}},
                Json::array({Medium({"One", "Two", "Three"}, kDiscId)}))}}};
  // Disc 2 of a set is this disc; a second release of one disc, no date nor barcode.
  const Json several = {
      {"id", kDiscId},
      {"releases",
       {Release("Set", Json::array({Credit("Cat")}), {{"date", "2001"}, {"country", "DE"}},
                {Medium({"A1", "A2", "A3"}, "otherdisc"), Medium({"B1", "B2", "B3"}, kDiscId)}),
        Release("Single", Json::array({Credit("Cat")}), {{"country", "XW"}},
                Json::array({Medium({"S1", "S2", "S3"}, kDiscId)}))}}};
  // A compilation: track 2 has an artist credit of its own.
  const Json compilation = {
      {"id", kDiscId},
      {"releases",
       {Release("Hits", Json::array({Credit("Various Artists")}), {{"date", "2010-01-01"}},
                Json::array({Medium(
                    {"H1", "H2", "H3"}, kDiscId,
                    Json::array({Json::array({Credit("Various Artists")}),
                                 Json::array({Credit("Dee", " feat. "), Credit("Eve")})}))}))}}};
  // What the fuzzy lookup finds: a medium of three tracks, no disc ids.
  const Json byToc = {{"release-count", 1},
                      {"releases",
                       {Release("Near", Json::array({Credit("Fay")}), {},
                                {Medium({"N1", "N2"}, ""), Medium({"T1", "T2", "T3"}, "")})}}};
  std::string big = single.dump();
  big.insert(big.size() - 1, ",\"pad\":\"" + std::string(4 << 20, 'x') + "\"");

  const struct {
    const char* name;
    std::map<std::string, HttpTestReply> replies;  // by path; others 404
    std::vector<std::string> args;
    std::string out, err;
    std::vector<std::string> paths;
  } rows[] = {
      {"one release",
       {{kIdPath, {200, single.dump()}}},
       {"--disc-info", "--lookup"},
       kIds + "Album: Album\nPerformer: Ann & Bob\nTrack 01: One\nTrack 02: Two\nTrack 03: Three\n",
       "",
       {kIdPath}},
      {"several releases, the second picked",
       {{kIdPath, {200, several.dump()}}},
       {"--disc-info", "--lookup", "--release", "2"},
       kIds + "1: Cat \u2013 Set (2001, DE)\n2: Cat \u2013 Single (XW)\nAlbum: Single\n"
              "Performer: Cat\nTrack 01: S1\nTrack 02: S2\nTrack 03: S3\n",
       "",
       {kIdPath}},
      {"several releases, the first by default: its second medium",
       {{kIdPath, {200, several.dump()}}},
       {"--list", "--lookup"},
       "",
       "1: Cat \u2013 Set (2001, DE)\n2: Cat \u2013 Single (XW)\n",
       {kIdPath}},
      {"no such release",
       {{kIdPath, {200, several.dump()}}},
       {"--disc-info", "--lookup", "--release", "3"},
       kIds + "1: Cat \u2013 Set (2001, DE)\n2: Cat \u2013 Single (XW)\n",
       "obrin-rip: there is no release 3 (2 found)\nTry 'obrin-rip --help' for more information.\n",
       {kIdPath}},
      {"a compilation's track artist",
       {{kIdPath, {200, compilation.dump()}}},
       {"--disc-info", "--lookup"},
       kIds + "Album: Hits\nPerformer: Various Artists\nTrack 01: H1\n"
              "Track 02: H2 / Dee feat. Eve\nTrack 03: H3\n",
       "",
       {kIdPath}},
      {"found by its TOC only",
       {{kTocPath, {200, byToc.dump()}}},
       {"--disc-info", "--lookup"},
       kIds + "Album: Near\nPerformer: Fay\nTrack 01: T1\nTrack 02: T2\nTrack 03: T3\n",
       "",
       {kIdPath, kTocPath}},
      {"not found",
       {},
       {"--disc-info", "--lookup"},
       kIds,
       "obrin-rip: Disc not found in MusicBrainz\n",
       {kIdPath, kTocPath}},
      {"unavailable",
       {{kIdPath, {503, "busy"}}},
       {"--disc-info", "--lookup"},
       kIds,
       "obrin-rip: MusicBrainz lookup failed: the server answered with status 503\n",
       {kIdPath}},
      {"unreadable",
       {{kIdPath, {200, "<metadata/>"}}},
       {"--disc-info", "--lookup"},
       kIds,
       "obrin-rip: MusicBrainz lookup failed: the reply cannot be read\n",
       {kIdPath}},
      {"too large",
       {{kIdPath, {200, big}}},
       {"--disc-info", "--lookup"},
       kIds,
       "obrin-rip: MusicBrainz lookup failed: the reply is larger than 4 MiB\n",
       {kIdPath}},
      {"not asked", {{kIdPath, {200, single.dump()}}}, {"--disc-info"}, kIds, "", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HttpTestServer server([&](const std::string& path) {
      const auto it = row.replies.find(path);
      return it != row.replies.end() ? it->second : HttpTestReply{404, "{}"};
    });
    UseServer(server.Url());
    const CommandResult r = Run(row.args);
    EXPECT_EQ(r.exitStatus, row.err.find("no release") != std::string::npos ? 2 : 0);
    // The list's first title stands for its rows.
    EXPECT_EQ(row.args[0] == "--list" ? r.out.substr(0, r.out.find('\t')) : r.out,
              row.args[0] == "--list" ? "B1" : row.out);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(server.Paths(), row.paths);
  }

  // A reply cut short is a failed lookup; the rip goes on and names the files after what the
  // disc says of itself.
  HttpTestServer cut([&](const std::string&) {
    HttpTestReply reply{200, single.dump()};
    reply.cutAt = 40;
    return reply;
  });
  UseServer(cut.Url());
  const std::string out = dir_ / "out";
  CommandResult r = Run({"--lookup", "--format", "wav", "--tracks", "1", "--output", out});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "Track 01\tCompleted\t" + out + "/Album-A000B03L/-Track 01.wav\n");
  EXPECT_EQ(r.err.rfind("obrin-rip: MusicBrainz lookup failed: ", 0), 0u) << r.err;

  // A compilation's track is named and tagged after its own artist, unless the user gives one.
  HttpTestServer found([&](const std::string&) { return HttpTestReply{200, compilation.dump()}; });
  UseServer(found.Url());
  r = Run({"--lookup", "--format", "ogg", "--tracks", "1-2", "--output", out});
  EXPECT_EQ(r.out, "H1\tCompleted\t" + out + "/Hits/Various Artists-H1.ogg\nH2\tCompleted\t" + out +
                       "/Hits/Dee feat. Eve-H2.ogg\n")
      << r.err;
  const std::string ogg = ReadFile(out + "/Hits/Dee feat. Eve-H2.ogg");
  for (const char* comment : {"TITLE=H2", "ARTIST=Dee feat. Eve", "ALBUM=Hits", "DATE=2010"}) {
    EXPECT_NE(ogg.find(comment), std::string::npos) << comment;
  }
  r = Run({"--lookup", "--format", "wav", "--tracks", "2", "--artist", "Me", "--output", out});
  EXPECT_EQ(r.out, "H2\tCompleted\t" + out + "/Hits/Me-H2.wav\n");
}

// A second release taken in the window replaces the first's names; a track its medium does
// not list keeps its title but loses the first release's artist.
TEST(MusicBrainzRelease, ReplacesWhatAnEarlierOneNamed) {
  DiscInfo disc;
  TrackList tracks(2);
  tracks[0].title = "Old 1";
  tracks[1].title = "Old 2";
  tracks[1].artist = "Earlier Guest";
  ApplyMusicBrainzRelease({"New", "Band", "2003", "", "", {{"New 1", "Guest"}}}, disc, tracks);
  EXPECT_EQ(disc.Album() + "|" + disc.Artist() + "|" + disc.Year(), "New|Band|2003");
  EXPECT_EQ(tracks[0].title + "|" + disc.ArtistOf(tracks[0]), "New 1|Guest");
  EXPECT_EQ(tracks[1].title + "|" + disc.ArtistOf(tracks[1]), "Old 2|Band");
  // A mixed-mode disc: the medium lists the data track 1 before the audio tracks 2 and 3.
  tracks[0].tocPosition = 2;
  tracks[1].tocPosition = 3;
  ApplyMusicBrainzRelease(
      {"Game", "Band", "", "", "", {{"[data track]", ""}, {"A", ""}, {"B", ""}}}, disc, tracks);
  EXPECT_EQ(tracks[0].title + "|" + tracks[1].title, "A|B");
  // A hidden track before track 1 takes the medium's pregap track, and the others their own.
  TrackRecord hidden;
  hidden.hidden = true, hidden.index = -1, hidden.title = kHiddenTrackTitle;
  tracks.insert(tracks.begin(), hidden);
  MusicBrainzRelease release{"Hid", "Band", "", "", "", {{"One", ""}, {"Two", ""}}};
  ApplyMusicBrainzRelease(release, disc, tracks);
  EXPECT_EQ(tracks[0].title + "|" + tracks[1].title + "|" + tracks[2].title,
            "Hidden Track|One|Two");
  release.hiddenTrack = MusicBrainzTrack{"Intro", "Other"};
  ApplyMusicBrainzRelease(release, disc, tracks);
  EXPECT_EQ(tracks[0].title + "|" + disc.ArtistOf(tracks[0]) + "|" + tracks[1].title,
            "Intro|Other|One");
  // Read from a reply: the medium's "pregap" object.
  const auto parsed = ParseMusicBrainzReply(
      R"({"releases":[{"title":"Hid","media":[{"pregap":{"position":0,"title":"Intro"},)"
      R"("tracks":[{"title":"One"},{"title":"Two"}]}]}]})",
      "", 2);
  ASSERT_TRUE(parsed && parsed->size() == 1);
  ASSERT_TRUE((*parsed)[0].hiddenTrack);
  EXPECT_EQ((*parsed)[0].hiddenTrack->title, "Intro");
}

TEST_F(Lookup, CtrlCWhileTheServerHangsEndsTheRun) {
  std::promise<void> asked;
  HttpTestServer server([&](const std::string&) {
    asked.set_value();
    HttpTestReply reply;
    reply.hang = true;
    return reply;
  });
  UseServer(server.Url());
  ChildProcess child;
  ChildOptions options;
  options.timeout = std::chrono::seconds(10);  // well inside the request's own 15 s
  ASSERT_TRUE(child.Start({"obrin-rip", "--image", cue_, "--disc-info", "--lookup"}, options));
  asked.get_future().wait();
  child.Signal(SIGINT);
  const CommandResult r = child.Wait();
  EXPECT_FALSE(child.timedOut());
  EXPECT_EQ(r.exitStatus, 130);
  EXPECT_EQ(r.out, kIds);
}

}  // namespace
