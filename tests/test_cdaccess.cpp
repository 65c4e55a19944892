// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The CD-access calls over real libcdio on images made by mkdisc, and over the fake drive.
// Faults guarded (a short bin's missing bytes: the fault table's cut images):
// - an image's TOC (starts, 99 tracks), disc id (freedb's) or audio not what mkdisc wrote
// - a .toc's relative FILE names resolved against the working folder (libcdio trap)
// - a cue naming another bin reading <cue>.bin instead (libcdio trap)
// - images of several data files opened, then read from the first file only (libcdio trap)
// - a BOM-led sheet, a MOTOROLA bin or an NRG image not read as written
// - an image that does not open without the reason, down to obrin-rip's message
// - a damaged NRG chunk table handed to libcdio, which trusts it (libcdio trap)
// - a .toc TRACK without its mode opened; TOC files as cdrdao writes them (CD-Text over
//   several lines, octal escapes, SILENCE, START) refused or misplaced, as libcdio's reader did
// - a handle that did not open, or was closed, answering a call; more than eight devices
// - error numbers shared between threads, or cleared by a success
// - a libcdio-paranoia skip or read error during a block not failing that block
// and in mkdisc, the test-disc maker:
// - a bad command line exits 2 with a message and writes nothing (lengths, track count,
//   data track, --short on a cue or past a track, a .toc ending with an empty track);
// - --short cuts the bin's end only; the seed alone picks the bytes (the sheets' positions and
//   modes are read back above and by test_obrin_rip);
// - the audio is music-like (headroom, not silence, stereo, a song per track).
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "disc/cd_device.h"
#include "disc/paranoia_block.h"
#include "support/fake_drive.h"
#include "support/image_access.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

TEST(CdAccess, ImagesGiveTheTocAndAudioThatWereWritten) {
  TempDir dir;
  // The disc ids are worked out after freedb's documents from the tracks' starts in seconds.
  const std::tuple<std::string, std::vector<uint32_t>, uint32_t> cases[] = {
      {"three.cue", {4500, 3000, 6000}, 0x0D00B403},  // 2, 62, 102 s; 180 s long; 3 tracks
      {"gaps.toc", {10, 0, 20, 5}, 0x08000004},
      {"full.cue", std::vector<uint32_t>(99, 2), 0x1C000263}};  // a digit sum past 255
  for (const auto& [file, lengths, id] : cases) {
    SCOPED_TRACE(file);
    std::string list;
    for (uint32_t l : lengths) list += (list.empty() ? "" : ",") + std::to_string(l);
    MakeDisc({dir / file, "--lengths", list});
    const CdHandle handle = OpenLast(dir / file);
    TocBuffer toc{};
    EXPECT_EQ(ReadTOC(handle, &toc), 1);
    EXPECT_EQ(ComputeCddbDiscId(toc), id);
    // Each entry (0xAA: the lead-out), then the audio in blocks of 26 as the ripper reads it.
    uint32_t end = 0;
    for (uint32_t i = 0, n = lengths.size(); i <= n; end += i < n ? lengths[i] : 0, ++i) {
      const TocEntry& e = toc.entries[i];
      EXPECT_EQ((std::vector<uint32_t>{TocEntryAddress(e), e.adrControl, e.trackNumber}),
                (std::vector<uint32_t>{end, 0x10, i < n ? i + 1 : 0xAA}));
    }
    std::string bytes;
    for (uint32_t s = 0; s < end; s += 26) {
      bytes += Read(handle, s, std::min(26u, end - s)).value_or("");
    }
    EXPECT_TRUE(bytes == ReadFile(fs::path(dir / file).replace_extension("bin")));
    CloseCDHandle(handle);
  }
}

TEST(CdAccess, ImagesReadTheBinTheirSheetNamesOrSayWhyTheyDoNotOpen) {
  TempDir dir;
  ScopedConfigHome config;
  for (const char* folder : {"album", "work", "folder.cue"}) fs::create_directory(dir / folder);
  // The disc, and decoys where libcdio alone would look: the working folder, and <cue>.bin.
  for (const char* image : {"album/disc.cue", "album/disc.toc", "album/disc.nrg"}) {
    MakeDisc({dir / image, "--lengths", "20,30"});
  }
  MakeDisc({dir / "work/disc.toc", "--lengths", "20,30", "--seed", "9"});
  MakeDisc({dir / "album/decoy.cue", "--lengths", "20,30", "--seed", "5"});
  MakeDisc({dir / "album/nobin.cue", "--lengths", "20,30", "--seed", "6"});
  const std::string audio = ReadFile(dir / "album/disc.bin");
  std::string swapped = audio;
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  WriteFile(dir / "album/swapped.bin", swapped);
  WriteFile(dir / "album/short.bin", audio.substr(0, 15 * kSectorBytes));
  ASSERT_EQ(mkfifo((dir / "fifo.cue").c_str(), 0600), 0);
  const std::string cue = ReadFile(dir / "album/disc.cue");
  const auto sheet = [&](const std::string& fileLine) {
    return fileLine + cue.substr(cue.find('\n'));
  };
  const std::string nrg = ReadFile(dir / "album/disc.nrg");
  const auto damaged = [&](size_t at, const std::string& bytes) {
    return std::string(nrg).replace(at, bytes.size(), bytes);
  };
  const size_t table = 200 * kSectorBytes;  // after the pregap and both tracks
  const std::string notNrg = "it is not a valid NRG image: ";
  // TOC files: a TRACK whose mode a comment or NUL bytes hide is refused, by its line; a long
  // comment is one (libcdio, reading 512-byte pieces, found a TRACK in its tail).
  const std::string noMode = ": a TRACK names no mode it can have",
                    note = "//" + std::string(509, 'X'), bin = "FILE \"disc.bin\" ";
  // The image (from the working folder), the text written there (unless empty), and why it
  // does not open (empty: it opens).
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"../album/disc.toc", "", ""},
      {"../album/decoy.cue", sheet("FILE \"disc.bin\" BINARY"), ""},
      {"../other.cue", sheet("FILE \"album/disc.bin\" BINARY"), ""},
      {"../album/bom.cue", "\xEF\xBB\xBF" + sheet("FILE \"disc.bin\" BINARY"), ""},
      {"../album/motorola.cue", sheet("FILE \"swapped.bin\" MOTOROLA"), ""},
      {"../album/disc.nrg", "", ""},
      {"../missing.cue", "", "it does not exist"},
      {"../folder.cue", "", "it is a directory"},
      {"../fifo.cue", "", "it is not a regular file"},
      {"../album/nobin.cue", sheet("FILE \"missing.bin\" BINARY"),
       "its data file " + dir / "album/missing.bin" + " does not exist"},
      {"../album/short.cue", sheet("FILE \"short.bin\" BINARY"),
       "its data file " + dir / "album/short.bin" +
           " is too short: it holds 15 sectors, but track 2 starts at sector 20"},
      {"../album/two.cue", sheet("FILE \"disc.bin\" BINARY") + "FILE \"decoy.bin\" BINARY\n",
       "line 6: no track's INDEX lies in decoy.bin"},
      {"../album/windows.cue", sheet("FILE \"C:\\Rips\\a.bin\" BINARY"),
       "its data file \"C:\\Rips\\a.bin\" is a Windows path; name the file relative to the cue "
       "sheet"},
      {"../album/wave.cue", sheet("FILE \"disc.bin\" WAVE"),
       "its data file " + dir / "album/disc.bin" + " is neither a WAVE nor a FLAC file"},
      {"../footer.nrg", damaged(nrg.size() - 12, "NERX"), notNrg + "it has no NRG footer"},
      {"../outside.nrg", damaged(nrg.size() - 4, "\xFF\xFF"),
       notNrg + "its footer points outside the file"},
      {"../past.nrg", damaged(table + 4, "\x7F"), notNrg + "chunk CUEX runs past its table"},
      {"../notrack.nrg", damaged(table, "XUEX"), notNrg + "it holds no track chunk"},
      {"../entry.nrg", damaged(table + 8 + 4 * 8 + 4, "\x7F"),
       notNrg + "chunk CUEX holds a track entry that cannot be read"},
      {"../noend.nrg", damaged(nrg.size() - 20, "X"), notNrg + "its chunk table has no END! chunk"},
      {"../album/a.toc", "TRACK //AUDIO\n" + bin + "0\n", "line 1" + noMode},
      {"../album/b.toc", "TRACK AUDIO\n" + note + "TRACK\n" + bin + "0\n", ""},
      {"../album/c.toc",  // the input as found
       "CD_DA\nTRACK AUDIO\nSILENCE 00:00:02\nFILE \"disc.bin\" 0 00:00:10\nTRACK \0\0\0\xD0"
       "AUDIO\nPREGAP 0:01\nFILE \"disc.bin\" 00:00:1\0\0\0\0\0\0\0\x06"
       "06\n"s,
       "line 5" + noMode},
      {"../album/d.toc", "TRACK AUDIO // note\n" + note.substr(0, 510) + "\n" + bin + "0\n", ""},
      // A data track's file, never read, may be missing; an audio track's may not.
      {"../album/f.toc",
       "CD_ROM\nTRACK AUDIO\n" + bin + "0 00:00:50\nTRACK MODE1\nDATAFILE \"gone.iso\" 20480\n",
       ""},
      {"../album/g.toc", "TRACK AUDIO\nFILE \"gone.bin\" 0 10\n",
       "line 2: its data file " + dir / "album/gone.bin" + " does not exist"},
      // Other names: the content chooses the reader (libcdio's TOC reader divided by zero on
      // these two), or the sheet beside a data file named instead.
      {"../album/badtoc", "TRACK\n" + bin + "0\n", "line 1" + noMode},
      {"../album/bad.xtoc", "// cdrdao\nTRACK\n" + bin + "0\n", "line 2" + noMode},
      {"../album/plain.img", "CD_DA\nTRACK AUDIO\n" + bin + "0\n", ""},
      {"../album/sheet.txt", sheet("FILE \"disc.bin\" BINARY"), ""},
      {"../album/disc.bin", "", ""},
      {"../album/noise.dat", "\x01\x02 hello",
       "it is not a disc image that can be read (cue/bin, cdrdao toc or nrg)"},
      // An unterminated string ends the text (found by fuzzing: it threw).
      {"../album/e.toc", "TRACK AUDIO\nFILE \"disc.bin", "line 2: FILE gives no start"},
  };
  const fs::path saved = fs::current_path();
  fs::current_path(dir / "work");
  for (const auto& [image, text, why] : cases) {
    SCOPED_TRACE(image);
    if (!text.empty()) WriteFile(image, text);
    const CdHandle handle = OpenLast(image);
    EXPECT_EQ(GetCDHandleErrorText(),
              why.empty() ? "" : "Cannot open disc image " + image + ": " + why);
    EXPECT_TRUE(!why.empty() ||
                Read(handle, 10, 26) == audio.substr(10 * kSectorBytes, 26 * kSectorBytes));
    CloseCDHandle(handle);
  }
  const CommandResult r = RunCommand({"obrin-rip", "--image", "../missing.cue", "--list"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err, "obrin-rip: Cannot open disc image ../missing.cue: it does not exist\n");
  EXPECT_EQ(RunCommand({"obrin-rip", "--image", "../album/badtoc", "--list"}).exitStatus, 2);
  fs::current_path(saved);
  EXPECT_EQ(DiscoverCdDevices(std::vector<std::string>(9, "x.cue")).size(), 8u);
}

// TOC files as cdrdao writes them. The disc of the hand-made one: track 1 is 2 s of SILENCE
// (not in the bin) and 4 s of the bin, index 1 after the silence; track 2 the next 377
// sectors; track 3 200 sectors whose first second is its pregap (START). So index 1 lies at
// 150, 450 and 902, the lead-out at 1027; ids worked out by hand from those: freedb (4, 8 and
// 14 s, 4+8+5 = 0x11; 15 - 4 = 11 s), AccurateRip (150+450+902+1027; 150+2*450+3*902+4*1027).
TEST(CdAccess, TocFilesGiveTheDiscsPositionsTextsAndAudio) {
  TempDir dir;
  ScopedConfigHome config;
  MakeDisc({dir / "t.toc", "--lengths", "300,377,200", "--seed", "5"});
  const std::string bin = ReadFile(dir / "t.bin");
  WriteFile(dir / "hidden.toc",
            "CD_DA\n"
            "CD_TEXT {\n  LANGUAGE_MAP {\n    0 : EN\n    1 : 9\n  }\n"
            "  LANGUAGE 1 {\n    TITLE \"Zweite\"\n  }\n"
            "  LANGUAGE 0 {\n    TITLE \"Caf\\351 \\\"Bar\\\"\"\n    GENRE { 0,  0,  0}\n  }\n}\n"
            "TRACK AUDIO\nNO COPY\nCD_TEXT\n{\n  LANGUAGE 0 {\n    TITLE \"Jos\\351\"\n  }\n}\n"
            "SILENCE 00:02:00\nFILE \"t.bin\" 0 00:04:00\nSTART 00:02:00\n"
            "TRACK AUDIO // two\nFILE \"t.bin\" 00:04:00 00:05:02\n"
            "TRACK AUDIO\nFILE \"t.bin\" 00:09:02 117600\nSTART 00:01:00\n");
  CommandResult r = RunCommand({"obrin-rip", "--image", dir / "hidden.toc", "--disc-info"});
  EXPECT_EQ(r.out,
            "freedb: 11000b03\nMusicBrainz: ayJ3ozL4Mhu5oURuXsr3Flt0SKU-\n"
            "AccurateRip: 003-000009e1-00001eb8-11000b03\nCTDB: "
            "o0nyIZ8JGbAnF6R0iFXmVxaEXK4-\nAlbum: Caf\xC3\xA9 \"Bar\"\n"
            "Track 01: Jos\xC3\xA9\nTrack 02: Track 02\nTrack 03: Track 03\n"
            "Track 01 index 00: 00:00:00\nTrack 03 index 00: 00:11:02\n")
      << r.err;
  const CdHandle handle = OpenLast(dir / "hidden.toc");
  std::vector<uint32_t> pregaps(3);
  EXPECT_EQ(GetTrackPregaps(handle, pregaps.data(), 3), 1);
  EXPECT_EQ(pregaps, (std::vector<uint32_t>{150, 0, 75}));
  // Silence, then the bin from its start; the last sector before the lead-out; past it.
  EXPECT_TRUE(Read(handle, 140, 20) ==
              std::string(10 * kSectorBytes, '\0') + bin.substr(0, 10 * kSectorBytes));
  EXPECT_TRUE(Read(handle, 1026, 1) == bin.substr(876 * kSectorBytes));
  EXPECT_EQ(Read(handle, 1026, 2), std::nullopt);
  EXPECT_EQ(GetAspiLibError(), kCdErrPastEnd);
  CloseCDHandle(handle);

  // mkdisc's texts in cdrdao's own layout (blocks over lines, SIZE_INFO, octal escapes) and
  // in the plain one, and in a cue sheet: the same names.
  for (const char* image : {"cdrdao.toc", "plain.toc", "sheet.cue"}) {
    SCOPED_TRACE(image);
    std::vector<std::string> args = {dir / image,         "--lengths",     "300,200",
                                     "--title",           "Caf\xC3\xA9",   "--performer",
                                     "Bj\xC3\xB6rk",      "--track-title", "2=Zw\xC3\xB6lf",
                                     "--track-performer", "1=Guest"};
    if (std::string(image) == "cdrdao.toc") args.push_back("--cdrdao-layout");
    MakeDisc(args);
    r = RunCommand({"obrin-rip", "--image", dir / image, "--disc-info"});
    EXPECT_EQ(r.out.substr(r.out.find("Album")),
              "Album: Caf\xC3\xA9\nPerformer: Bj\xC3\xB6rk\nTrack 01: Track 01 / Guest\n"
              "Track 02: Zw\xC3\xB6lf\n")
        << r.err;
  }
  EXPECT_NE(ReadFile(dir / "cdrdao.toc").find("LANGUAGE_MAP {\n    0 : EN\n  }"),
            std::string::npos);
}

TEST(CdAccess, HandlesThatDidNotOpenFailEveryCallAndErrorsArePerThread) {
  auto fake = std::make_shared<FakeDrive>();
  SetCdDevices({fake});
  const CdHandle open = OpenLast(), closed = OpenLast();
  ASSERT_EQ(CloseCDHandle(closed), 1);
  fake->SetCannotOpen(true);
  for (CdHandle handle : {OpenLast(), closed, CdHandle{4711}}) {
    SCOPED_TRACE(handle);
    EXPECT_FALSE(Read(handle, 0, 26));
    EXPECT_EQ(GetAspiLibAspiError(), kAspiNoDevice);
    EXPECT_EQ(
        (std::vector<int>{ReadTOC(handle, nullptr), GetCDDBDiskID(handle, nullptr, 5),
                          ModifyCDParms(handle, kCdParmReadRetries, 3), CloseCDHandle(handle)}),
        std::vector<int>(4, 0));
    EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
  }
  uint32_t other[2] = {};
  std::thread([&] {
    other[0] = GetAspiLibError();  // nothing failed on this thread yet
    TrackBufferPtr buffer = AllocTrackBuffer(2);
    buffer->sectorCount = 3;  // more than the buffer holds
    ReadCDAudioLBA(open, buffer.get());
    other[1] = GetAspiLibError();
  }).join();
  EXPECT_EQ(other[0], kCdOk);
  EXPECT_EQ(other[1], kCdErrBadRequest);
  EXPECT_TRUE(Read(open, 0, 1));  // a success leaves the last failure's numbers alone
  EXPECT_EQ(GetAspiLibError(), kCdErrInvalidHandle);
  CloseCDHandle(open);
}

TEST(ParanoiaBlock, ASkipOrAReadErrorReportedDuringABlockFailsIt) {
  // What libcdio-paranoia reports while the second sector is read, whether that read gives
  // nothing, and whether the block counts as read.
  const std::tuple<std::vector<paranoia_cb_mode_t>, bool, bool> cases[] = {
      {{}, false, true},
      {{PARANOIA_CB_READ, PARANOIA_CB_VERIFY, PARANOIA_CB_FIXUP_EDGE, PARANOIA_CB_DRIFT},
       false,
       true},
      {{PARANOIA_CB_SKIP}, false, false},
      {{PARANOIA_CB_READ, PARANOIA_CB_READERR}, false, false},
      {{}, true, false},
  };
  std::vector<int16_t> samples(kSectorBytes / 2, 0x1234);
  std::vector<uint8_t> out(3 * kSectorBytes);
  for (const auto& [modes, nothingRead, ok] : cases) {
    int calls = 0;
    auto read = [&](ParanoiaCallback callback) -> int16_t* {
      if (++calls != 2) return samples.data();
      for (auto mode : modes) callback(588 * 2, mode);
      return nothingRead ? nullptr : samples.data();
    };
    std::set<int64_t> unread;
    EXPECT_EQ(ReadParanoiaBlock(read, 0, 3, out.data(), unread), ok) << modes.size();
    calls = 10;  // the next block starts clean
    EXPECT_TRUE(ReadParanoiaBlock(read, 0, 3, out.data(), unread));
    EXPECT_EQ(out[3 * kSectorBytes - 2], 0x34);
    EXPECT_EQ(out[3 * kSectorBytes - 1], 0x12);
  }
  // Paranoia reads far ahead: a failed read past the block's end leaves the block whole and
  // is kept for the block that reaches it.
  std::set<int64_t> unread;
  const auto ahead = [&](ParanoiaCallback callback) -> int16_t* {
    callback(long{kSectorBytes / 2} * 5, PARANOIA_CB_READERR);
    return samples.data();
  };
  EXPECT_TRUE(ReadParanoiaBlock(ahead, 0, 3, out.data(), unread));
  EXPECT_EQ(unread, std::set<int64_t>{5});
  EXPECT_FALSE(ReadParanoiaBlock(ahead, 4, 3, out.data(), unread));
}

TEST(Mkdisc, BadCommandLinesExitWithTwoAndWriteNothing) {
  TempDir dir;
  std::string hundred = "1";
  for (int i = 1; i < 100; ++i) hundred += ",1";
  for (const std::string& row : std::vector<std::string>{
           "", "d.wav", "d.cue d.cue", "d.cue --lengths 10,,20", "d.cue --lengths 0,0",
           "d.cue --lengths " + hundred, "d.cue --lengths", "d.cue --data-track 0",
           "d.cue --data-track 4", "d.cue --seed -1", "d.cue --short 5", "d.toc --short 13501",
           "d.toc --lengths 100,10 --short 11", "d.toc --lengths 10,0", "d.cue --frobnicate"}) {
    std::vector<std::string> args = {"mkdisc"};
    std::istringstream words(row);
    for (std::string w; words >> w;) args.push_back(w.rfind("d.", 0) == 0 ? dir / w : w);
    const CommandResult r = RunCommand(args);
    EXPECT_EQ(r.exitStatus, 2) << row;
    EXPECT_FALSE(r.err.empty()) << row;
  }
  EXPECT_FALSE(FileExists(dir / "d.bin"));
}

TEST(Mkdisc, ShortCutsOnlyTheEndAndTheSeedAloneChoosesTheBytes) {
  TempDir dir;
  // --short cuts the end only; the same arguments give the same bytes, another seed others.
  MakeDisc({dir / "b.toc", "--lengths", "100,76", "--short", "10"});
  MakeDisc({dir / "c.toc", "--lengths", "100,76"});
  MakeDisc({dir / "d.toc", "--lengths", "100,76", "--seed", "2"});
  const std::string full = ReadFile(dir / "c.bin");
  EXPECT_EQ(full.size(), 176 * kSectorBytes);
  EXPECT_TRUE(full.substr(0, 166 * kSectorBytes) == ReadFile(dir / "b.bin"));
  EXPECT_TRUE(full != ReadFile(dir / "d.bin"));
}

TEST(Mkdisc, AudioIsMusicLikeAndDiffersPerTrack) {
  TempDir dir;
  MakeDisc({dir / "disc.cue", "--lengths", "750,750"});
  const std::string bin = ReadFile(dir / "disc.bin");
  std::vector<int16_t> s(bin.size() / 2);
  std::memcpy(s.data(), bin.data(), bin.size());  // little-endian, as the machine
  double energy = 0;
  size_t peak = 0, stereo = 0;
  for (size_t i = 0; i < s.size(); i += 2) {
    peak = std::max<size_t>({peak, size_t(std::abs(s[i])), size_t(std::abs(s[i + 1]))});
    energy += double(s[i]) * s[i];
    stereo += s[i] != s[i + 1];
  }
  EXPECT_TRUE(peak < 26000 && energy > 500.0 * 500 * s.size() / 2) << "clipping, or silence";
  EXPECT_GT(stereo, s.size() / 4) << "mono";
  EXPECT_FALSE(std::equal(s.begin(), s.begin() + s.size() / 2, s.begin() + s.size() / 2));
}

}  // namespace
