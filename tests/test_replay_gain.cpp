// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// ReplayGain 2.0 and Opus end to end through obrin-rip: two 1 kHz sines (-20 and -30 dBFS)
// as a disc, ripped to every tagged format, with loudgain as the oracle of the loudness.
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

using Tags = std::map<std::string, std::string>;

// Every tag of a FLAC, Ogg Vorbis, Opus or MP3 file by mutagen, ID3 TXXX frames by their
// descriptions.
Tags TagsOf(const std::string& path) {
  const CommandResult r =
      RunCommand({"/usr/bin/python3", "-c",
                  "import sys, mutagen\n"
                  "for k, v in mutagen.File(sys.argv[1]).tags.items():\n"
                  "    if k.startswith('TXXX:'): print(k[5:] + '=' + str(v.text[0]))\n"
                  "    elif not hasattr(v, 'text'): print(k.upper() + '=' + (v if isinstance(v, "
                  "str) else v[0]))\n",
                  path});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  Tags tags;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) tags[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return tags;
}

// loudgain's gains of the files as an album, by file, "Album" for the album, in dB.
std::map<std::string, double> LoudgainGains(const std::vector<std::string>& files) {
  std::vector<std::string> args = {"/usr/bin/loudgain", "-a", "-s", "s", "-O", "-q"};
  args.insert(args.end(), files.begin(), files.end());
  const CommandResult r = RunCommand(args);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  std::map<std::string, double> gains;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    if (fields.size() > 8 && fields[0] != "File") gains[fields[0]] = std::atof(fields[8].c_str());
  }
  return gains;
}

class ReplayGain : public ::testing::Test {
 protected:
  // Rips `disc` (the two sines) into the album folder `album` (the format by default), files
  // named by track number; that folder.
  std::string Rip(const std::string& format, const std::vector<std::string>& extra = {},
                  const std::string& disc = "", const std::string& album = "") {
    const std::string name = album.empty() ? format : album;
    std::vector<std::string> args = {"obrin-rip", "--image",    disc.empty() ? sines_ : disc,
                                     "--format",  format,       "--replaygain",
                                     "--artist",  "A",          "--album",
                                     name,        "--output",   dir_ / "out",
                                     "--log",     "--template", "$n"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult r = RunCommand(args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return dir_ / ("out/" + name + "/");
  }
  ScopedConfigHome config_;
  TempDir dir_;
  std::string sines_ =
      MakeDiscAt(dir_ / "sines.cue", {"--lengths", "1500,1500", "--sines", "-20,-30"});
};

TEST_F(ReplayGain, EveryFormatCarriesThePcmsValuesAndTheAlbumsAfterAWholeDisc) {
  const std::string flac = Rip("flac");
  const auto oracle = LoudgainGains({flac + "01.flac", flac + "02.flac"});
  ASSERT_EQ(oracle.size(), 3u);
  EXPECT_NEAR(oracle.at("Album"), 4.59, 0.005);
  for (const char* format : {"flac", "ogg", "mp3"}) {
    const std::string folder = format == std::string("flac") ? flac : Rip(format);
    for (const auto& [number, peak] : {std::pair{"01", "0.100006"}, std::pair{"02", "0.031616"}}) {
      const std::string file = folder + number + "." + format;
      Tags tags = TagsOf(file);
      EXPECT_NEAR(std::atof(tags["REPLAYGAIN_TRACK_GAIN"].c_str()),
                  oracle.at(flac + number + ".flac"), 0.0101)
          << file;
      EXPECT_EQ(tags["REPLAYGAIN_TRACK_GAIN"].find('+'), std::string::npos);
      EXPECT_EQ(tags["REPLAYGAIN_TRACK_PEAK"], peak) << file;
      EXPECT_EQ(tags["REPLAYGAIN_ALBUM_GAIN"], "4.59 dB") << file;
      EXPECT_EQ(tags["REPLAYGAIN_ALBUM_PEAK"], "0.100006") << file;
    }
  }
  const std::string log = ReadFile(flac + "flac.log");
  for (const char* line :
       {"  ReplayGain album gain: \"4.59 dB\"\n", "    ReplayGain track gain: \"1.99 dB\"\n",
        "    ReplayGain track gain: \"11.99 dB\"\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
  }
}

// Opus: RFC 7845's R128 gains alone, an output gain of 0, exact lengths at 44.1 kHz.
TEST_F(ReplayGain, OpusFilesAreCleanGaplessAndCarryR128Gains) {
  const std::string opus = Rip("opus");
  const std::vector<std::string> files = {opus + "01.opus", opus + "02.opus"};
  const auto oracle = LoudgainGains(files);
  for (const std::string& file : files) {
    const CommandResult info = RunCommand({"/usr/bin/opusinfo", file});
    EXPECT_EQ(info.exitStatus, 0) << info.out;
    EXPECT_EQ(info.out.find("WARNING"), std::string::npos) << info.out;
    const Tags tags = TagsOf(file);
    EXPECT_NEAR(std::atoi(tags.at("R128_TRACK_GAIN").c_str()), 256 * oracle.at(file), 4) << file;
    EXPECT_NEAR(std::atoi(tags.at("R128_ALBUM_GAIN").c_str()), 256 * oracle.at("Album"), 4);
    EXPECT_EQ(tags.count("REPLAYGAIN_TRACK_GAIN") + tags.count("REPLAYGAIN_ALBUM_GAIN"), 0u);
    EXPECT_EQ(tags.at("ARTIST") + tags.at("ALBUM") + tags.at("TRACKNUMBER"),
              "Aopus" + file.substr(file.size() - 6, 1));
    // OpusHead in the first page: input rate at 40, output gain at 44.
    const std::string head = ReadFile(file).substr(28, 19);
    ASSERT_EQ(head.substr(0, 8), "OpusHead");
    EXPECT_EQ(head.substr(12, 6), std::string("\x44\xac\x00\x00\x00\x00", 6));
    const std::string wav = dir_ / "decoded.wav";
    ASSERT_EQ(RunCommand({"/usr/bin/opusdec", "--quiet", "--rate", "44100", file, wav}).exitStatus,
              0);
    EXPECT_EQ(ReadFile(wav).size() - 44, 1500u * 2352) << file;
  }
}

// The edges: a disc ripped without one of its tracks has track gains and no album gain (the
// log says why); silence and a one-sector track tag as 0; true peaks when asked.
TEST_F(ReplayGain, PartialDiscsSilenceAndTruePeaks) {
  std::string folder = Rip("flac", {"--tracks", "2"});
  Tags tags = TagsOf(folder + "02.flac");
  EXPECT_EQ(tags["REPLAYGAIN_TRACK_GAIN"], "11.99 dB");
  EXPECT_EQ(tags.count("REPLAYGAIN_ALBUM_GAIN"), 0u);
  EXPECT_NE(ReadFile(folder + "flac.log")
                .find("  ReplayGain album: \"none: track 1 was not ripped in this run\"\n"),
            std::string::npos);

  const std::string silent =
      MakeDiscAt(dir_ / "silent.cue", {"--lengths", "1,300", "--sines", "silence,silence"});
  for (const char* format : {"flac", "opus"}) {
    folder = Rip(format, {}, silent);
    for (const char* number : {"01", "02"}) {
      tags = TagsOf(folder + number + "." + format);
      const bool isOpus = format == std::string("opus");
      EXPECT_EQ(isOpus ? tags["R128_TRACK_GAIN"] + tags["R128_ALBUM_GAIN"]
                       : tags["REPLAYGAIN_TRACK_GAIN"] + tags["REPLAYGAIN_TRACK_PEAK"] +
                             tags["REPLAYGAIN_ALBUM_GAIN"] + tags["REPLAYGAIN_ALBUM_PEAK"],
                isOpus ? "00" : "0.00 dB0.0000000.00 dB0.000000");
    }
  }

  // The reference's true peak of the -20 dBFS sine, which loudgain gives too.
  std::system(("mkdir -p " + config_.path() + "/obrin").c_str());
  WriteFile(config_.iniPath(), "[ReplayGain]\nTruePeak=TRUE\n");
  folder = Rip("flac", {"--tracks", "1"}, "", "tp");
  EXPECT_EQ(TagsOf(folder + "01.flac")["REPLAYGAIN_TRACK_PEAK"], "0.100061");
}

}  // namespace
