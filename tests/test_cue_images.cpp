// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// Cue sheets as other rippers leave them: one file or one per track (gaps appended,
// prepended, left out), raw, WAVE or FLAC, under Windows names. Faults guarded:
// - a layout whose positions, pregaps, identifiers or audio differ from the disc's (its TOC)
// - a PREGAP or a gap in another file counted twice, or not at all; a last partial sector lost
// - "\" not taken as a folder; a stand-in file taken without saying so, or not found
// - a WAV's other chunks, or its odd-sized chunk's pad byte, read as audio
// - audio that is not CD audio (24-bit, 48 kHz, mono, MP3) read as if it were; a sheet that
//   libcue or its own lines refuse opened anyway, or refused without the line
// - a WAV cut short, a FLAC cut short or with a wrong MD5 ripped as "Completed"
// - CATALOG and ISRC lost on the way to the listing and the tags
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disc/cd_device.h"
#include "support/image_access.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kSector = 2352;
const std::vector<std::string> kDisc = {"--lengths", "300,377,200", "--pregaps",
                                        "0,75,30",   "--seed",      "3"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string Le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}

// A RIFF WAVE header for `dataBytes` of audio; `dataFirst` puts the data chunk before "fmt ".
std::string WaveHeader(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataBytes,
                       bool dataFirst = false) {
  const std::string format = "fmt " + Le(16, 4) + Le(1, 2) + Le(channels, 2) + Le(rate, 4) +
                             Le(rate * channels * bits / 8, 4) + Le(channels * bits / 8, 2) +
                             Le(bits, 2);
  const std::string data = "data" + Le(dataBytes, 4);
  const std::string body = dataFirst ? data + format : format + data;
  return "RIFF" + Le(static_cast<uint32_t>(4 + body.size() + dataBytes), 4) + "WAVE" + body;
}

std::string ObrinRipOut(const std::vector<std::string>& args, int status = 0) {
  std::vector<std::string> command = {"obrin-rip"};
  command.insert(command.end(), args.begin(), args.end());
  const CommandResult r = RunCommand(command);
  EXPECT_EQ(r.exitStatus, status) << r.err;
  return r.out;
}

class CueImages : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedConfigHome config_;
};

// Every source and layout of one disc (pregaps of 75 and 30 sectors in its tracks 2 and 3)
// against its cdrdao TOC: the same identifiers, pregaps and sectors, and the same rip.
TEST_F(CueImages, EveryLayoutOfOneDiscIsTheDiscItself) {
  MakeDisc(With({dir_ / "ref.toc"}, kDisc));
  const std::string disc = ReadFile(dir_ / "ref.bin");
  ASSERT_EQ(disc.size(), 877 * kSector);
  // The pregaps are digital silence, so that leaving them out loses nothing.
  EXPECT_EQ(disc.substr((300 - 75) * kSector, 75 * kSector), std::string(75 * kSector, '\0'));
  const std::string ids = ObrinRipOut({"--image", dir_ / "ref.toc", "--disc-info"});
  EXPECT_EQ(ids.substr(0, ids.find("MusicBrainz")), "freedb: 0a000b03\n");
  for (const char* source : {"bin", "wav", "flac"}) {
    for (const char* layout : {"single", "appended", "prepended", "leftout"}) {
      const std::string name = std::string(source) + "-" + layout;
      SCOPED_TRACE(name);
      const std::string cue = dir_ / (name + ".cue");
      MakeDisc(With({cue}, With(kDisc, {"--source", source, "--layout", layout})));
      EXPECT_EQ(ObrinRipOut({"--image", cue, "--disc-info"}), ids);
      const CdHandle handle = OpenLast(cue);
      std::vector<uint32_t> pregaps(3);
      EXPECT_EQ(GetTrackPregaps(handle, pregaps.data(), 3), 1);
      EXPECT_EQ(pregaps, (std::vector<uint32_t>{0, 75, 30}));
      // Whole, then across the file boundaries one sector at a time, then past the end.
      EXPECT_TRUE(Read(handle, 0, 877) == disc);
      for (uint32_t s : {224u, 225u, 299u, 300u, 646u, 647u, 676u}) {
        EXPECT_TRUE(Read(handle, s, 2) == disc.substr(s * kSector, 2 * kSector)) << s;
      }
      EXPECT_EQ(Read(handle, 876, 2), std::nullopt);
      EXPECT_EQ(GetAspiLibError(), kCdErrPastEnd);
      CloseCDHandle(handle);
    }
  }
  // A cdrdao TOC over the WAV file: its samples start after the header, as cdrdao reads it.
  std::string toc = ReadFile(dir_ / "ref.toc");
  for (size_t at; (at = toc.find("\"ref.bin\"")) != std::string::npos;) {
    toc.replace(at, 9, "\"wav-single.WAV\"");
  }
  fs::rename(dir_ / "wav-single.wav", dir_ / "wav-single.WAV");
  WriteFile(dir_ / "wav.toc", toc);
  EXPECT_EQ(ObrinRipOut({"--image", dir_ / "wav.toc", "--disc-info"}), ids);
  const CdHandle wavToc = OpenLast(dir_ / "wav.toc");
  EXPECT_TRUE(Read(wavToc, 0, 877) == disc);
  CloseCDHandle(wavToc);
  // A rip of FLAC files with the gaps appended: the TOC's files, byte for byte.
  for (const char* image : {"ref.toc", "flac-appended.cue"}) {
    ObrinRipOut({"--image", dir_ / image, "--format", "wav", "--template", "t$n", "--album", image,
                 "--output", dir_ / "out"});
  }
  for (const char* track : {"t01.wav", "t02.wav", "t03.wav"}) {
    EXPECT_TRUE(ReadFile(dir_ / "out/ref.toc/" + track) ==
                ReadFile(dir_ / "out/flac-appended.cue/" + track))
        << track;
  }
}

// POSTGAP adds silence after its track, and a file's last partial sector is padded: both move
// the tracks after them, as on the disc that was burned from the sheet.
TEST_F(CueImages, PostgapsAndPartialSectorsCountInThePositions) {
  MakeDisc(
      With({dir_ / "w.cue"}, {"--lengths", "100,50", "--source", "wav", "--layout", "appended"}));
  const std::string first = ReadFile(dir_ / "w-01.wav");
  const size_t header = first.size() - 100 * kSector;
  // File 1 loses half a sector: it still counts 100, the missing half reads as zeros.
  std::string cut = first.substr(0, first.size() - kSector / 2);
  cut.replace(header - 4, 4, Le(static_cast<uint32_t>(100 * kSector - kSector / 2), 4));
  WriteFile(dir_ / "w-01.wav", cut);
  WriteFile(
      dir_ / "p.cue",
      "FILE \"w-01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    POSTGAP 00:00:10\n"
      "FILE \"w-02.wav\" WAVE\n  TRACK 02 AUDIO\n    PREGAP 00:00:05\n    INDEX 01 00:00:00\n");
  const CdHandle handle = OpenLast(dir_ / "p.cue");
  TocBuffer toc{};
  ASSERT_EQ(ReadTOC(handle, &toc), 1);
  EXPECT_EQ(TocEntryAddress(toc.entries[1]), 115u);
  EXPECT_EQ(TocEntryAddress(toc.entries[2]), 165u);  // the lead-out
  std::vector<uint32_t> pregaps(2);
  GetTrackPregaps(handle, pregaps.data(), 2);
  EXPECT_EQ(pregaps, (std::vector<uint32_t>{0, 5}));
  const std::string second = ReadFile(dir_ / "w-02.wav");
  EXPECT_TRUE(Read(handle, 99, 17) == cut.substr(header + 99 * kSector, kSector / 2) +
                                          std::string(kSector / 2 + 15 * kSector, '\0') +
                                          second.substr(second.size() - 50 * kSector, kSector));
  CloseCDHandle(handle);
}

// Names as Windows rippers write them, and files renamed or re-encoded since.
TEST_F(CueImages, FilesAreFoundAsRippersNameThem) {
  fs::create_directory(dir_ / "CD1");
  MakeDisc(With({dir_ / "CD1/x.cue"}, With(kDisc, {"--source", "flac", "--layout", "prepended"})));
  const std::string disc = [&] {
    MakeDisc(With({dir_ / "ref.toc"}, kDisc));
    return ReadFile(dir_ / "ref.bin");
  }();
  const std::string sheet = ReadFile(dir_ / "CD1/x.cue");
  const auto rename = [&](const std::string& from, const std::string& to) {
    std::string text = sheet;
    for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    return text;
  };
  const auto lower = [](std::string text) {
    for (const char* word : {"FILE", "TRACK", "AUDIO", "INDEX"}) {
      const std::string upper = word;
      std::string small = upper;
      for (char& c : small) c = static_cast<char>(c - 'A' + 'a');
      for (size_t at; (at = text.find(upper)) != std::string::npos;)
        text.replace(at, upper.size(), small);
    }
    return text;
  };
  fs::rename(dir_ / "CD1/x-03.flac", dir_ / "CD1/X-03.flac");
  const struct {
    std::string cue, text, notes;
  } cases[] = {
      // A folder beside the sheet named with "\", a whole Windows path, another extension,
      // another letter case.
      {"folder.cue", rename("\"x-", "\"CD1\\x-"), ""},
      {"CD1/drive.cue", rename("\"x-0", "\"C:\\Rips\\x-0"), ""},
      {"CD1/wav.cue", rename("x-01.flac", "x-01.wav"),
       "obrin-rip: x-01.flac stands in for \"x-01.wav\", which the cue sheet names\n"},
      {"CD1/case.cue", rename("x-03.flac", "x-03.FLAC"),
       "obrin-rip: X-03.flac stands in for \"x-03.FLAC\", which the cue sheet names\n"},
      // Words in lower case, and WAV for WAVE, as some rippers write them.
      {"CD1/lower.cue", lower(rename("\" WAVE", "\" wav")), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cue);
    WriteFile(dir_ / c.cue, c.text);
    const CommandResult r = RunCommand({"obrin-rip", "--image", dir_ / c.cue, "--list"});
    EXPECT_EQ(r.exitStatus, 0);
    // The sheet itself names X-03 in another case, so each listing has that note.
    const std::string caseNote =
        c.cue == "CD1/case.cue" ? ""
                                : "obrin-rip: X-03.flac stands in for \"" +
                                      std::string(c.cue == "folder.cue"      ? "CD1\\x-03.flac"
                                                  : c.cue == "CD1/drive.cue" ? "C:\\Rips\\x-03.flac"
                                                                             : "x-03.flac") +
                                      "\", which the cue sheet names\n";
    EXPECT_EQ(r.err, c.notes + caseNote);
    const CdHandle handle = OpenLast(dir_ / c.cue);
    EXPECT_TRUE(Read(handle, 0, 877) == disc);
    CloseCDHandle(handle);
  }
}

TEST_F(CueImages, WhatCannotBeReadIsRefusedByItsLineOrFile) {
  MakeDisc({dir_ / "d.cue", "--lengths", "20,30"});
  const std::string pcm(50 * kSector, '\x11');
  WriteFile(dir_ / "24bit.wav", WaveHeader(2, 44100, 24, 100) + std::string(100, '\0'));
  WriteFile(dir_ / "48k.wav", WaveHeader(2, 48000, 16, 100) + std::string(100, '\0'));
  WriteFile(dir_ / "mono.wav", WaveHeader(1, 44100, 16, 100) + std::string(100, '\0'));
  WriteFile(dir_ / "first.wav", WaveHeader(2, 44100, 16, 100, true) + std::string(100, '\0'));
  WriteFile(dir_ / "nodata.wav", WaveHeader(2, 44100, 16, 0).substr(0, 36));
  WriteFile(dir_ / "song.mp3", "ID3\x04" + std::string(200, '\0'));
  WriteFile(dir_ / "48k.raw", WaveHeader(2, 48000, 16, 4 * 4800) + std::string(4 * 4800, '\0'));
  ASSERT_EQ(RunCommand({"/usr/bin/flac", "-s", "-f", "-o", dir_ / "48k.flac", dir_ / "48k.raw"})
                .exitStatus,
            0);
  const auto sheet = [](const std::string& file, const std::string& more = "") {
    return "FILE \"" + file + "\" WAVE\n  TRACK 01 AUDIO\n" + more + "    INDEX 01 00:00:00\n";
  };
  const std::string only = "; only 16-bit 44100 Hz stereo PCM can be read";
  const struct {
    std::string text, why;
  } cases[] = {
      {sheet("24bit.wav"),
       "its data file " + dir_ / "24bit.wav" + " holds 24-bit 44100 Hz stereo audio" + only},
      {sheet("48k.wav"),
       "its data file " + dir_ / "48k.wav" + " holds 16-bit 48000 Hz stereo audio" + only},
      {sheet("mono.wav"),
       "its data file " + dir_ / "mono.wav" + " holds 16-bit 44100 Hz mono audio" + only},
      {sheet("48k.flac"),
       "its data file " + dir_ / "48k.flac" + " holds 16-bit 48000 Hz stereo audio" + only},
      {sheet("song.mp3"),
       "its data file " + dir_ / "song.mp3" + " holds MP3 audio, not WAVE or FLAC"},
      {sheet("first.wav"), "its data file " + dir_ / "first.wav" +
                               " is a WAVE file whose data chunk comes before its format chunk"},
      {sheet("nodata.wav"),
       "its data file " + dir_ / "nodata.wav" + " is a WAVE file without a data chunk"},
      {sheet("gone.wav"), "its data file " + dir_ / "gone.wav" + " does not exist"},
      {sheet("d.bin", "    BOGUS 1\n"), "line 3: \"BOGUS\" is not a cue sheet command"},
      {sheet("d.bin") + "  TRACK 02 AUDIO\n    INDEX 01 0x:00:00\n",
       "line 5: INDEX gives no time as mm:ss:ff"},
      {sheet("d.bin") + "  TRACK 03 AUDIO\n    INDEX 01 00:00:10\n",
       "line 4: TRACK 03 does not follow track 1"},
      {sheet("d.bin") + "  TRACK 02 AUDIO\n", "line 4: the track has no INDEX 01"},
      {"TRACK 01 AUDIO\n  INDEX 01 00:00:00\n", "line 1: TRACK comes before any FILE"},
      {"REM only a comment\n", "the cue sheet names no data file"},
      {"FILE \"d.bin\" BINARY\n  TRACK 01 CDG\n    INDEX 01 00:00:00\n",
       "the cue sheet holds no track that can be read"},
      {"FILE \"d.bin\" ISO\n",
       "line 1: FILE gives no type (BINARY, MOTOROLA, WAVE, AIFF, MP3 or FLAC)"},
      {"FILE \"d.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
       "    INDEX 01 00:00:60\n",
       "its data file " + dir_ / "d.bin" +
           " is too short: it holds 50 sectors, but track 2 starts at sector 60"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile(dir_ / "bad.cue", c.text);
    const CommandResult r = RunCommand({"obrin-rip", "--image", dir_ / "bad.cue", "--list"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err, "obrin-rip: Cannot open disc image " + dir_ / "bad.cue" + ": " + c.why + "\n");
  }
}

// Audio that runs out or is damaged ends its track in error; the tracks before it are fine.
TEST_F(CueImages, AudioCutShortOrDamagedEndsItsTrackInError) {
  MakeDisc({dir_ / "w.cue", "--lengths", "100,100,100", "--source", "wav"});
  MakeDisc({dir_ / "f.cue", "--lengths", "100,100,100", "--source", "flac"});
  const std::string wav = ReadFile(dir_ / "w.wav");
  WriteFile(dir_ / "w.wav", wav.substr(0, wav.size() - 150 * kSector));  // the header says more
  std::string flac = ReadFile(dir_ / "f.flac");
  WriteFile(dir_ / "cut.flac", flac.substr(0, flac.size() / 2));
  flac[26] = static_cast<char>(flac[26] ^ 1);  // STREAMINFO's MD5
  WriteFile(dir_ / "md5.flac", flac);
  const std::string sheet = ReadFile(dir_ / "f.cue");
  for (const char* name : {"cut", "md5"}) {
    std::string text = sheet;
    text.replace(text.find("f.flac"), 6, std::string(name) + ".flac");
    WriteFile(dir_ / (std::string(name) + ".cue"), text);
  }
  const struct {
    const char* cue;
    std::string statuses;
  } cases[] = {
      {"w.cue", "Completed ERROR ERROR "},
      {"cut.cue", "Completed ERROR ERROR "},
      {"md5.cue", "Completed Completed ERROR "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cue);
    const CommandResult r = RunCommand({"obrin-rip", "--image", dir_ / c.cue, "--check"});
    EXPECT_EQ(r.exitStatus, 1);
    std::string statuses;
    for (size_t at = 0; (at = r.out.find('\t', at)) != std::string::npos;) {
      const size_t end = r.out.find('\t', at + 1);
      statuses += r.out.substr(at + 1, end - at - 1) + " ";
      at = r.out.find('\n', end);
    }
    EXPECT_EQ(statuses, c.statuses) << r.out;
  }
}

// CATALOG and ISRC reach the listing and the tags (FLAC's comments, ID3v2's TSRC).
// An enhanced CD's data track that was not extracted (EAC writes it with only an INDEX 00):
// the audio tracks open, the data track starts a session gap after them, and the listing
// says it was not read. The ids worked out by hand from those positions.
TEST_F(CueImages, AnUnextractedDataTrackIsPlacedAndNotRead) {
  MakeDisc({dir_ / "d.cue", "--lengths", "300,377", "--seed", "4"});
  const std::string audio = ReadFile(dir_ / "d.bin");
  for (const char* mode : {"MODEx/2xxx", "MODE1/2352", "CDG"}) {
    SCOPED_TRACE(mode);
    WriteFile(dir_ / "eac.cue",
              "FILE \"d.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
              "  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n  TRACK 03 " +
                  std::string(mode) + "\n    TITLE \"Data\"\n    INDEX 00 00:09:02\n");
    const CommandResult r = RunCommand({"obrin-rip", "--image", dir_ / "eac.cue", "--disc-info"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              "freedb: 1200a103\nMusicBrainz: oIxAFnZ_C25sWs9A.fnCzdfHRbo-\n"
              "AccurateRip: 002-00003059-00008fe0-1200a103\nCTDB: yVt7oL5_pwAKc2bZAG4z9CJIIzg-\n");
    EXPECT_EQ(r.err, "obrin-rip: track 3 is a data track (" + std::string(mode) +
                         ") that was not extracted: it is not read\n");
    const CdHandle handle = OpenLast(dir_ / "eac.cue");
    EXPECT_TRUE(Read(handle, 0, 677) == audio);
    CloseCDHandle(handle);
  }
  EXPECT_EQ(ObrinRipOut({"--image", dir_ / "eac.cue", "--list"}).substr(0, 9), "Track 01\t");
}

TEST_F(CueImages, CatalogAndIsrcReachTheListingAndTags) {
  MakeDisc({dir_ / "c.cue", "--lengths", "100,100", "--title", "Album"});
  std::string sheet = ReadFile(dir_ / "c.cue");
  sheet.insert(0, "CATALOG 0724384960650\n");
  sheet.insert(sheet.find("  TRACK 02 AUDIO\n") + 17, "    ISRC GBAYE0000351\n");
  WriteFile(dir_ / "c.cue", sheet);
  const std::string info = ObrinRipOut({"--image", dir_ / "c.cue", "--disc-info"});
  EXPECT_NE(info.find("Album: Album\nTrack 01: Track 01\nTrack 02: Track 02\n"
                      "Catalog: 0724384960650\nISRC 02: GBAYE0000351\n"),
            std::string::npos)
      << info;
  ObrinRipOut({"--image", dir_ / "c.cue", "--format", "flac", "--tracks", "2", "--template", "t$n",
               "--output", dir_ / "out"});
  const CommandResult tags =
      RunCommand({"/usr/bin/metaflac", "--show-tag=ISRC", dir_ / "out/Album/t02.flac"});
  EXPECT_EQ(tags.out, "ISRC=GBAYE0000351\n");
  // In an MP3's ID3v2 tag: a TSRC frame (ID, 4-byte size, 2 flag bytes, UTF-8 as 3, the text).
  ObrinRipOut({"--image", dir_ / "c.cue", "--format", "mp3", "--id3", "--tracks", "2", "--template",
               "t$n", "--output", dir_ / "out"});
  const std::string mp3 = ReadFile(dir_ / "out/Album/t02.mp3");
  const size_t frame = mp3.find("TSRC");
  ASSERT_NE(frame, std::string::npos);
  EXPECT_EQ(mp3.substr(frame + 10, 13), "\x03GBAYE0000351");
}

}  // namespace
