// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// obrin-rip --lookup --cover-art against a MusicBrainz and a Cover Art Archive of the test's on
// the loopback address (the archive redirecting to a second host), read back with metaflac,
// vorbiscomment and mutagen. Faults guarded:
// - the thumbnail and the original mixed up (embedded, saved), a wrong type, MIME type or size
// - a release's identifiers or album fields missing from a format, or written without a release
// - a 404 or a picture that is not one failing the rip, leaving a picture, or not said
// - a request made when the user did not ask, or made again for a release already fetched
#include <zlib.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "encoders/release_fields.h"
#include "support/http_server.h"
#include "support/test_env.h"

namespace {

using Json = nlohmann::json;

constexpr char kRelease[] = "11111111-2222-3333-4444-555555555555";
constexpr char kGroup[] = "66666666-7777-8888-9999-000000000000";
constexpr char kRecording[] = "aaaaaaaa-0000-0000-0000-000000000001";
constexpr char kTrack[] = "bbbbbbbb-0000-0000-0000-000000000001";
constexpr char kArtist[] = "cccccccc-0000-0000-0000-000000000001";

void Put32(std::string& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>(v >> s);
}

// A grey RGB PNG of `side` x `side` pixels, its header claiming `claim` x `claim` when given.
std::string Png(uint32_t side, uint32_t claim = 0) {
  std::string raw;
  for (uint32_t y = 0; y < side; ++y) raw += '\0' + std::string(3 * side, '\x80');
  std::string packed(compressBound(raw.size()), '\0');
  uLongf packedSize = packed.size();
  compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
           reinterpret_cast<const Bytef*>(raw.data()), raw.size());
  packed.resize(packedSize);
  std::string png = "\x89PNG\r\n\x1a\n";
  const auto chunk = [&](const char* type, const std::string& data) {
    Put32(png, static_cast<uint32_t>(data.size()));
    const std::string body = type + data;
    png += body;
    Put32(png, crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size()));
  };
  std::string header;
  Put32(header, claim ? claim : side);
  Put32(header, claim ? claim : side);
  chunk("IHDR", header + std::string("\x08\x02\0\0\0", 5));
  chunk("IDAT", packed);
  chunk("IEND", "");
  return png;
}

// A baseline JPEG's segments (frame of `width` x `height`, three components) around a scan.
std::string Jpeg(uint16_t width, uint16_t height) {
  std::string jpeg("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 20);
  jpeg += std::string("\xFF\xC0\0\x11\x08", 5) + char(height >> 8) + char(height) +
          char(width >> 8) + char(width) +
          std::string("\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 10);
  jpeg += std::string("\xFF\xDA\0\x0C\x03\x01\0\x02\x11\x03\x11\0\x3F\0", 14);
  return jpeg + std::string("\x12\x34\xFF\x00\x56", 5) + "\xFF\xD9";
}

class CoverArt : public ::testing::Test {
 protected:
  void SetUp() override {
    cue_ = MakeDiscAt(dir_ / "d.cue", {"--lengths", "300,377,200", "--seed", "5"});
    RunCommand({"obrin-rip", "--list"});
  }
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    std::string ini = ReadFile(config_.iniPath());
    const size_t at = ini.find(key + "=", ini.find("[" + section + "]")) + key.size() + 1;
    WriteFile(config_.iniPath(), ini.replace(at, ini.find('\n', at) - at, value));
  }
  CommandResult Rip(const std::string& format, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"obrin-rip", "--image",  cue_, "--lookup", "--log", "--format",
                                     format,      "--tracks", "1",  "--output", out_};
    args.insert(args.end(), more.begin(), more.end());
    return RunCommand(args);
  }
  CommandResult Shell(const std::string& script) { return RunCommand({"/bin/sh", "-c", script}); }

  ScopedConfigHome config_;
  TempDir dir_;
  std::string cue_, out_ = dir_ / "out";
};

// Disc 2 of 2 of a release on a label, track 1 with its own ids.
Json ReleaseReply() {
  const Json credit = Json::array({{{"name", "Ann"}, {"artist", {{"id", kArtist}}}}});
  Json tracks = Json::array();
  for (int i = 1; i <= 3; ++i) {
    tracks.push_back({{"title", "T" + std::to_string(i)},
                      {"id", i == 1 ? kTrack : ""},
                      {"recording", {{"id", i == 1 ? kRecording : ""}}}});
  }
  const Json other = {{"position", 1}, {"format", "CD"}, {"track-count", 9}};
  const Json ours = {{"position", 2},
                     {"format", "CD"},
                     {"tracks", tracks},
                     {"discs", Json::array({{{"id", "eVKOMoWw5AO_pDBAt79bU1lhYPQ-"}}})}};
  return {{"releases",
           Json::array({{{"id", kRelease},
                         {"title", "Album"},
                         {"artist-credit", credit},
                         {"date", "1999-05-01"},
                         {"country", "GB"},
                         {"barcode", "5012345678900"},
                         {"release-group", {{"id", kGroup}, {"first-release-date", "1998"}}},
                         {"label-info", Json::array({{{"catalog-number", "CAT 1"},
                                                      {"label", {{"name", "Lbl"}}}}})},
                         {"media", Json::array({other, ours})}}})}};
}

TEST_F(CoverArt, FetchedSavedEmbeddedAndTagged) {
  const std::string original = Png(40), thumbnail = Jpeg(20, 16);
  HttpTestServer files([&](const std::string& path) {
    return path == "/o.png" ? HttpTestReply{200, original} : HttpTestReply{200, thumbnail};
  });
  const std::string front = std::string("/release/") + kRelease + "/front";
  HttpTestServer archive([&](const std::string& path) {
    HttpTestReply moved{307, ""};
    moved.location = files.Url() + (path == front ? "/o.png" : "/t.jpg");
    return path.starts_with(front) ? moved : HttpTestReply{404, ""};
  });
  HttpTestServer brainz([&](const std::string&) {
    return HttpTestReply{200, ReleaseReply().dump()};
  });
  Set("MusicBrainz", "Server", brainz.Url());
  Set("CoverArt", "Server", archive.Url());

  // Not asked: no request, no picture, but every identifier.
  ASSERT_EQ(Rip("flac").exitStatus, 0);
  EXPECT_TRUE(archive.Paths().empty());
  const std::string flac = out_ + "/Album/Ann-T1.flac";
  const std::string tags = Shell("metaflac --export-tags-to=- '" + flac + "'").out;
  for (const std::string& field :
       {"MUSICBRAINZ_ALBUMID=" + std::string(kRelease),
        "MUSICBRAINZ_RELEASEGROUPID=" + std::string(kGroup),
        "MUSICBRAINZ_TRACKID=" + std::string(kRecording),
        "MUSICBRAINZ_RELEASETRACKID=" + std::string(kTrack),
        "MUSICBRAINZ_ARTISTID=" + std::string(kArtist),
        "MUSICBRAINZ_ALBUMARTISTID=" + std::string(kArtist), std::string("ALBUMARTIST=Ann"),
        std::string("DISCNUMBER=2"), std::string("DISCTOTAL=2"), std::string("DATE=1999-05-01"),
        std::string("ORIGINALDATE=1998"), std::string("RELEASECOUNTRY=GB"),
        std::string("BARCODE=5012345678900"), std::string("LABEL=Lbl"),
        std::string("CATALOGNUMBER=CAT 1"), std::string("MEDIA=CD")}) {
    EXPECT_NE(tags.find(field + "\n"), std::string::npos) << field << "\n" << tags;
  }
  EXPECT_EQ(Shell("metaflac --list --block-type=PICTURE '" + flac + "'").out, "");

  // Asked: one original and one thumbnail fetched for the album, then kept a week.
  const CommandResult r = Rip("flac", {"--cover-art", "--tracks", "1-3"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(archive.Paths(), (std::vector<std::string>{front, front + "-500"}));
  EXPECT_EQ(ReadFile(out_ + "/Album/cover.png"), original);
  const std::string listed = Shell("metaflac --list --block-type=PICTURE '" + flac + "'").out;
  for (const char* line : {"type: 3 (Cover (front))", "MIME type: image/jpeg", "description: \n",
                           "width: 20", "height: 16", "depth: 24"}) {
    EXPECT_NE(listed.find(line), std::string::npos) << line << "\n" << listed;
  }
  Shell("metaflac --export-picture-to='" + dir_ / "p" + "' '" + flac + "'");
  EXPECT_EQ(ReadFile(dir_ / "p"), thumbnail);
  EXPECT_NE(ReadFile(out_ + "/Album/Album.log")
                .find("  Cover: \"image/png 40 x 40 (embedded "
                      "image/jpeg 20 x 16), saved as cover.png\""),
            std::string::npos);

  // Ogg: the same structure in base64; the original embedded with EmbedSize=0 (fetched once).
  Set("CoverArt", "EmbedSize", "0");
  ASSERT_EQ(Rip("ogg", {"--cover-art"}).exitStatus, 0);
  const std::string ogg = "'" + out_ + "/Album/Ann-T1.ogg'";
  const std::string picture =
      Shell("vorbiscomment -l " + ogg + " | sed -n 's/^METADATA_BLOCK_PICTURE=//p' | base64 -d")
          .out;
  ASSERT_GT(picture.size(), original.size());
  EXPECT_EQ(picture.substr(0, 4), std::string("\0\0\0\3", 4));
  EXPECT_EQ(picture.substr(picture.size() - original.size()), original);
  EXPECT_NE(
      Shell("vorbiscomment -l " + ogg).out.find("MUSICBRAINZ_ALBUMID=" + std::string(kRelease)),
      std::string::npos);
  // Opus: the same comment in OpusTags.
  ASSERT_EQ(Rip("opus", {"--cover-art"}).exitStatus, 0);
  EXPECT_EQ(
      Shell("/usr/bin/python3 -c 'import sys, base64, mutagen.oggopus as o; "
            "t = o.OggOpus(sys.argv[1]).tags; "
            "p = base64.b64decode(t[\"METADATA_BLOCK_PICTURE\"][0]); "
            "print(p[:4] == bytes([0, 0, 0, 3]) and p.endswith(open(sys.argv[2], \"rb\").read()), "
            "t[\"MUSICBRAINZ_ALBUMID\"][0])' '" +
            out_ + "/Album/Ann-T1.opus' '" + out_ + "/Album/cover.png'")
          .out,
      "True " + std::string(kRelease) + "\n");
  EXPECT_EQ(archive.Paths().size(), 2u);

  // MP3 (without --id3: the release alone asks for the ID3v2 tag).
  ASSERT_EQ(Rip("mp3", {"--cover-art"}).exitStatus, 0);
  const std::string id3 =
      Shell(
          "/usr/bin/python3 -c 'import sys, mutagen.id3 as m; t = m.ID3(sys.argv[1]); "
          "a = t.getall(\"APIC\")[0]; print(t.version, int(a.type), a.mime, repr(a.desc), "
          "a.data == open(sys.argv[2], \"rb\").read()); "
          "[print(k, f) for k, f in sorted(t.items()) if k[:4] != \"APIC\"]' '" +
          out_ + "/Album/Ann-T1.mp3' '" + out_ + "/Album/cover.png'")
          .out;
  for (const std::string& line :
       {std::string("(2, 4, 0) 3 image/png '' True\n"),
        "TXXX:MusicBrainz Album Id " + std::string(kRelease),
        "TXXX:MusicBrainz Release Group Id " + std::string(kGroup),
        "TXXX:MusicBrainz Release Track Id " + std::string(kTrack),
        "TXXX:MusicBrainz Artist Id " + std::string(kArtist),
        "TXXX:MusicBrainz Album Artist Id " + std::string(kArtist), std::string("TPE2 Ann"),
        std::string("TPOS 2/2"), std::string("TDRC 1999-05-01"), std::string("TDOR 1998"),
        std::string("TXXX:BARCODE 5012345678900"), std::string("TXXX:CATALOGNUMBER CAT 1"),
        std::string("TPUB Lbl"), std::string("TMED CD"),
        "UFID:" + std::string(kMusicBrainzUfidOwner) + " UFID(owner='" + kMusicBrainzUfidOwner +
            "', data=b'" + std::string(kRecording) + "')"}) {
    EXPECT_NE(id3.find(line), std::string::npos) << line << "\n" << id3;
  }
}

TEST_F(CoverArt, NoneTheGroupsOrRefused) {
  const std::string png = Png(8);
  const std::string huge = Png(8, 50000);
  const struct {
    const char* name;
    std::string releaseFront, groupFront;  // empty: 404
    std::string log;
    bool refused;
  } rows[] = {
      {"no front cover", "", "", "  Cover: none\n", false},
      {"the release group's", "", png, "  Cover: \"image/png 8 x 8, saved as cover.png\"\n", false},
      {"a captive portal's page", "<html>Log in</html>", png,
       "  Cover: \"not fetched: refused: not a JPEG or PNG picture\"\n", true},
      {"a truncated PNG", png.substr(0, png.size() - 20), "",
       "  Cover: \"not fetched: refused: the PNG is cut short\"\n", true},
      {"an absurd size", huge, "",
       "  Cover: \"not fetched: refused: the picture claims 50000 x "
       "50000 pixels\"\n",
       true},
  };
  HttpTestServer brainz([&](const std::string&) {
    return HttpTestReply{200, ReleaseReply().dump()};
  });
  Set("MusicBrainz", "Server", brainz.Url());
  Set("CoverArt", "EmbedSize", "0");
  Set("CoverArt", "Fetch", "TRUE");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(std::string(std::getenv("XDG_CACHE_HOME")) + "/obrin/coverart");
    std::filesystem::remove_all(out_);
    HttpTestServer archive([&](const std::string& path) {
      const std::string& bytes = path.starts_with("/release/") ? row.releaseFront : row.groupFront;
      return bytes.empty() ? HttpTestReply{404, ""} : HttpTestReply{200, bytes};
    });
    Set("CoverArt", "Server", archive.Url());
    const CommandResult r = Rip("flac");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err.find("Obrin error: Cover art not fetched") != std::string::npos, row.refused)
        << r.err;
    EXPECT_NE(ReadFile(out_ + "/Album/Album.log").find(row.log), std::string::npos);
    const std::string flac = "'" + out_ + "/Album/Ann-T1.flac'";
    EXPECT_EQ(Shell("flac -t -s " + flac).exitStatus, 0);
    const std::string pictures = Shell("metaflac --list --block-type=PICTURE " + flac).out;
    EXPECT_EQ(pictures.empty(), row.groupFront.empty() || row.refused);
  }
}

// The user's own picture needs no lookup and no network; one that is not a picture stops the
// rip before the disc is read; --cover-art without a lookup says it has nothing to fetch.
TEST_F(CoverArt, OwnPictureOrNone) {
  const std::string own = dir_ / "own.jpg", page = dir_ / "page.png";
  WriteFile(own, Jpeg(40, 30));
  WriteFile(page, "<html>Log in</html>");
  const std::vector<std::string> rip = {"obrin-rip", "--image", cue_,       "--format", "flac",
                                        "--tracks",  "1",       "--output", out_};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = rip;
    args.insert(args.end(), more.begin(), more.end());
    return RunCommand(args);
  };
  CommandResult r = with({"--cover", page});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err.find("obrin-rip: --cover: " + page + ": refused: not a JPEG or PNG picture\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(out_));
  EXPECT_EQ(with({"--cover", dir_ / "missing.png"}).exitStatus, 2);

  r = with({"--cover-art"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.err.find("without --lookup there is none"), std::string::npos) << r.err;

  std::filesystem::remove_all(out_);
  r = with({"--cover", own});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const size_t tab = r.out.rfind('\t') + 1;  // the listing ends "Completed\tPATH\n"
  const std::filesystem::path flac = r.out.substr(tab, r.out.find('\n', tab) - tab);
  const std::string list =
      Shell("metaflac --list --block-type=PICTURE '" + flac.string() + "'").out;
  EXPECT_NE(list.find("MIME type: image/jpeg"), std::string::npos) << list;
  EXPECT_NE(list.find("width: 40"), std::string::npos) << list;
  EXPECT_EQ(ReadFile(flac.parent_path() / "cover.jpg"), ReadFile(own));
}

}  // namespace
