// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// fuzz_seeds CORPUS_ROOT [IMAGE.cue|IMAGE.toc|IMAGE.nrg ...]: writes the starting corpora
// CORPUS_ROOT/<target>/<name>: the Obrin.ini a first run writes, the image texts, and
// hand-written edited files.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/ctdb.h"
#include "disc/q_subchannel.h"
#include "fuzz_support.h"

using namespace std::string_literals;
static std::string gRoot;

static std::string Big32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

// A PNG's chunks with their CRCs; the IDAT need not inflate for the header reader.
static std::string PngOf(uint32_t width, uint32_t height, char colorType) {
  std::string png = "\x89PNG\r\n\x1a\n";
  const auto chunk = [&](const std::string& type, const std::string& body) {
    const std::string typed = type + body;
    png += Big32(static_cast<uint32_t>(body.size())) + typed +
           Big32(static_cast<uint32_t>(
               crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
  };
  chunk("IHDR", Big32(width) + Big32(height) + '\x08' + colorType + std::string(3, '\0'));
  if (colorType == 3) chunk("PLTE", std::string(6, '\x40'));
  chunk("IDAT", "\x78\x9c\x63\x00\x00\x00\x01\x00\x01");
  chunk("IEND", "");
  return png;
}

static void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fuzz::WriteBytes(fuzz::MakeFolder(gRoot + "/" + target) + "/" + name, bytes);
}

int main(int argc, char** argv) {
  if (argc < 2) return std::fprintf(stderr, "usage: fuzz_seeds CORPUS_ROOT [IMAGE...]\n"), 2;
  gRoot = argv[1];
  setenv("XDG_CONFIG_HOME", (fuzz::ScratchFolder() + "/config").c_str(), 1);
  RipSettings settings;
  LoadDefaultSettings(settings);
  LoadSettings(settings);  // an empty folder: every key written with its default
  Seed("fuzz_profile", "fresh.ini", fuzz::ReadBytes(SettingsFilePath()));
  Seed("fuzz_profile", "edited.ini",
       "; hand edited\r\n[output]\r\n  path = /music/  \n[MP3 Setting]\nBitRate=320 kbps\n[ ]\n"
       "=x\n[MP3 Setting]\nbitrate=32 kbps\n# c = not a key\n[OGG Setting]\nusecbr=TRUE\n"
       "usebbr=TRUE\nvbr=20\n[WAV Setting]\nsamplerate=\n[a]b]\nx = y\0z\n[Output\n;k=v"s);

  for (int i = 2; i < argc; ++i) {
    const std::string text = fuzz::ReadBytes(argv[i]);
    if (std::string(argv[i]).ends_with(".nrg")) {  // fuzz_image supplies the audio itself
      constexpr std::size_t kData = (150 + 16) * std::size_t{kSectorBytes};
      if (text.size() > kData)
        Seed("fuzz_image", "nrg-" + std::to_string(i), '\x08' + text.substr(kData));
      continue;
    }
    const char kind = std::string(argv[i]).ends_with(".toc") ? 1 : 0;
    // Beside the bin it names, and as "sheet.*" through the cue path's copy and link.
    Seed("fuzz_image", "image-" + std::to_string(i), kind + text);
    Seed("fuzz_image", "sheet-" + std::to_string(i), static_cast<char>(kind | 2) + text);
  }
  // dBAR replies: two pressings of a three-track disc, and a cut one.
  std::string dbar;
  for (int entry = 0; entry < 2; ++entry) {
    dbar += '\3' + std::string(12, static_cast<char>(0x10 + entry));
    for (int track = 0; track < 3; ++track) dbar += static_cast<char>(5 + track) + "ABCDEFGH"s;
  }
  Seed("fuzz_dbar", "two-pressings", dbar);
  Seed("fuzz_dbar", "cut", dbar.substr(0, 30));
  // CTDB replies: a fuzzy lookup's (the disc's pressing and one of other lengths), a mixed-mode
  // disc's, none, and a cut one.
  const auto ctdb = [](const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ctdb "
           "xmlns=\"" +
           std::string(kCtdbNamespace) +
           "\" "
           "xmlns:ext=\"urn:obrin-test:ext\">\n" +
           entries + "</ctdb>\n";
  };
  const std::string fuzzy = ctdb(
      "  <entry id=\"1823\" crc32=\"5e2a9f04\" confidence=\"12\" npar=\"8\" stride=\"5880\" "
      "hasparity=\"true\" syndrome=\"AAECAwQFBgcICQoLDA0ODw==\" trackcrcs=\"8a1d3c0e 00f3b2a1 "
      "c0ffee11 7d2e9b40\" toc=\"0:11413:25024:45713:55220\"/>\n"
      "  <entry id=\"40077\" crc32=\"0b7e11aa\" confidence=\"2\" npar=\"16\" stride=\"5880\" "
      "hasparity=\"false\" syndrome=\"\" trackcrcs=\"8a1d3c0e 00f3b2a1 c0ffee11 1234abcd\" "
      "toc=\"150:11563:25174:45863:55371\"/>\n");
  Seed("fuzz_ctdb", "fuzzy", fuzzy);
  Seed("fuzz_ctdb", "mixed-mode",
       ctdb("  <entry id=\"9\" crc32=\"FFFFFFFF\" confidence=\"1\" trackcrcs=\"1 2\" "
            "toc=\"-0:15000:26413:40024\"/>\n"));
  Seed("fuzz_ctdb", "none", ctdb(""));
  // Pictures: PNGs of each kind, a baseline JPEG's segments, one claiming 50000 pixels a side.
  Seed("fuzz_picture", "rgb.png", PngOf(500, 500, 2));
  Seed("fuzz_picture", "indexed.png", PngOf(3, 2, 3));
  Seed("fuzz_picture", "huge.png", PngOf(50000, 50000, 6));
  Seed("fuzz_picture", "baseline.jpg",
       "\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0"
       "\xFF\xC0\0\x11\x08\x01\xF4\x01\xF4\x03\x01\x22\0\x02\x11\x01\x03\x11\x01"
       "\xFF\xDA\0\x0C\x03\x01\0\x02\x11\x03\x11\0\x3F\0\x12\xFF\0\xFF\xD0\x34\xFF\xD9"s);
  Seed("fuzz_picture", "portal.html", "<html><body>Log in</body></html>");
  // MusicBrainz: a release as the disc id lookup gives it, the disc its second medium.
  Seed(
      "fuzz_release", "release.json",
      R"({"releases":[{"id":"11111111-2222-3333-4444-555555555555","title":"A",)"
      R"("artist-credit":[{"name":"B","joinphrase":"","artist":{"id":"c"}}],"date":"1999-05-01",)"
      R"("release-group":{"id":"g","first-release-date":"1998"},"label-info":[{"catalog-numbe)"
      R"(r":"C1","label":{"name":"L"}}],"media":[{"position":1,"track-count":9},{"position":2,)"
      R"("format":"CD","discs":[{"id":"eVKOMoWw5AO_pDBAt79bU1lhYPQ-"}],"pregap":{"id":"p",)"
      R"("title":"H"},"tracks":[{"id":"t1","title":"X","recording":{"id":"r1"}},{"id":"t2",)"
      R"("recording":{"title":"Y","id":"r2"},"artist-credit":[{"name":"D","artist":{"id":"d"}}]}]}]}]})");
  Seed("fuzz_release", "no-id.json", R"({"releases":[{"title":"A","media":[{"track-count":3}]}]})");
  Seed("fuzz_ctdb", "cut", fuzzy.substr(0, 300));
  Seed("fuzz_image", "toc-silence",
       "\5CD_DA\nTRACK AUDIO\nSILENCE 00:00:02\nFILE \"disc.bin\" 0 00:00:10\n"
       "TRACK AUDIO\nPREGAP 00:00:01\nFILE \"disc.bin\" 00:00:10 00:00:06\n");
  // A cue sheet over a WAVE file, one over two raw files (a gap appended), and a RIFF header
  // with an odd-sized chunk before the data.
  const auto cueAndWave = [](const std::string& sheet, const std::string& riff) {
    return "\x10"s + static_cast<char>(sheet.size() & 0xFF) + static_cast<char>(sheet.size() >> 8) +
           sheet + riff;
  };
  const std::string riff =
      "RIFF\x50\x93\x00\x00WAVEfmt \x10\0\0\0\1\0\2\0\x44\xAC\0\0\x10\xB1\2\0\4\0\x10\0"
      "LIST\x05\0\0\0INFOX\0data\x00\x93\x00\x00"s;
  Seed("fuzz_image", "cue-wave",
       cueAndWave("FILE \"disc.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                  "  TRACK 02 AUDIO\n    INDEX 00 00:00:05\n    INDEX 01 00:00:08\n"
                  "    POSTGAP 00:00:02\n",
                  riff));
  Seed("fuzz_image", "cue-two-files",
       cueAndWave("CATALOG 0123456789012\nFILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n"
                  "    ISRC ABCDE1234567\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                  "    INDEX 00 00:00:10\nFILE \"other.bin\" BINARY\n    INDEX 01 00:00:00\n"
                  "  TRACK 03 AUDIO\n    PREGAP 00:00:03\n    INDEX 01 00:00:04\n",
                  riff));
  // EAC's sheet of an enhanced CD whose data track was not extracted, and a mixed-mode one.
  Seed("fuzz_image", "cue-unread-data",
       "\0FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
       "  TRACK 02 MODEx/2xxx\n    INDEX 00 00:00:16\n");
  Seed("fuzz_image", "cue-unread-first",
       "\0FILE \"disc.bin\" BINARY\n  TRACK 01 CDG\n    INDEX 01 00:00:00\n"
       "  TRACK 02 AUDIO\n    INDEX 01 00:00:04\n");
  // Q sub-channel: formatted frames (a position, a pregap, the lead-out, an MCN, an ISRC, a
  // position in binary) and the first as raw P-W, Q in bit 6 beside a set pause bit (P).
  const auto qFrame = [](const std::string& ten) {
    const uint16_t crc = QCrc(reinterpret_cast<const uint8_t*>(ten.data()));
    return ten + static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF) + std::string(4, 0);
  };
  const std::string position = qFrame("\x01\x01\x01\0\0\0\0\0\x02\0"s);
  Seed("fuzz_q", "position", position);
  Seed("fuzz_q", "pregap", qFrame("\x01\x02\0\0\0\x01\0\x03\0\0"s));
  Seed("fuzz_q", "lead-out", qFrame("\x01\xAA\x01\0\0\x05\0\x74\0\0"s));
  Seed("fuzz_q", "mcn", qFrame("\x02\x07\x24\x38\x49\x60\x52\x80\0\x42"s));
  Seed("fuzz_q", "isrc", qFrame("\x43\x5D\x24\x69\x54\x99\0\0\x10\x17"s));
  Seed("fuzz_q", "binary", qFrame("\x41\x0C\x03\x04\x0A\x21\0\x3F\x3B\x4A"s));
  std::string raw(96, '\x80');
  for (size_t i = 0; i < raw.size(); ++i) {
    if (static_cast<uint8_t>(position[i / 8]) >> (7 - i % 8) & 1) raw[i] |= 0x40;
  }
  Seed("fuzz_q", "raw-position", raw);
  return 0;
}
