// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "cli/cli_options.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include <unistd.h>

#include "config/settings.h"
#include "disc/cdaccess.h"

const char* const kCliUsage =
    "Usage: obrin-rip [OPTION]...\n"
    "Rip the audio tracks of a CD or disc image to WAV, MP3, Ogg Vorbis, FLAC or Opus files.\n"
    "\n"
    "Disc:\n"
    "  --image FILE      use a disc image (cue/bin, cdrdao toc, nrg) as a drive; repeatable\n"
    "  --drive N         the drive to use, by position in the drive list (default 0)\n"
    "  --drives          list the drives: position, a tab, the description\n"
    "  --list            list the tracks: Title, Length, Output Format, Status, Output Path\n"
    "  --disc-info       print the disc's identifiers: freedb, MusicBrainz, AccurateRip\n"
    "  --lookup          ask MusicBrainz ([MusicBrainz] Server) for the album, artist, year\n"
    "                    and titles (with --list, --disc-info or a rip)\n"
    "  --release N       the release to take when several match (default 1)\n"
    "  --cover-art       fetch the release's front cover from the Cover Art Archive\n"
    "                    ([CoverArt] Server; also on with [CoverArt] Fetch=TRUE): saved as\n"
    "                    cover.jpg or cover.png in the album folder, embedded in every file\n"
    "  --cover FILE      embed this JPEG or PNG picture as the front cover instead\n"
    "  --find-offset     find the drive's read offset from one read of a disc the\n"
    "                    AccurateRip database knows; prints the offsets that match\n"
    "\n"
    "Ripping (the default action):\n"
    "  --format FMT      wav, ogg, mp3, flac or opus (default mp3)\n"
    "  --tracks LIST     tracks to rip by list position, e.g. 1,3-5 (default all); 0 is\n"
    "                    the hidden track before track 1, where the disc has one\n"
    "  --output DIR      output folder for this run (the settings file is not changed)\n"
    "  --template TEXT   file-name template (default \"$a-$t\"): $a artist, $l album,\n"
    "                    $t title, $n track number, $y year, $g genre, $$ a dollar sign\n"
    "  --artist TEXT     disc artist\n"
    "  --album TEXT      disc album (also names the album folder)\n"
    "  --year TEXT       disc year\n"
    "  --genre N         ID3v1 genre number 0-79 (default 12, Other)\n"
    "  --id3             write ID3v1 and ID3v2.4 tags into MP3 files\n"
    "  --jobs N          encode up to N tracks at once while the next is read (default:\n"
    "                    the number of cores; 1 rips one track after another)\n"
    "  --offset N        the drive's read offset correction in samples, -3000 to +3000\n"
    "                    (default: [Drive] ReadOffset of the settings file)\n"
    "  --verify          compare each track with the AccurateRip and CUETools databases\n"
    "                    (also on with [AccurateRip] Verify=TRUE); their verdicts follow\n"
    "                    the summary line\n"
    "  --secure          read a track neither database confirms again, until two reads\n"
    "                    agree (at most five reads); implies --verify\n"
    "  --deemphasis      take the pre-emphasis (the 50/15 us shelf) out of the tracks the\n"
    "                    disc marks as pre-emphasised, before they are written\n"
    "  --replaygain      tag each file with its ReplayGain 2.0 (R128 gains in Opus), and\n"
    "                    with the album's after a whole disc (also on with\n"
    "                    [ReplayGain] Enabled=TRUE; TruePeak=TRUE for true peaks)\n"
    "  --no-htoa         leave out the hidden track before track 1 (audio in its pregap)\n"
    "  --check           read every ticked track as a rip would and give its checksums\n"
    "                    (and, with --verify, its verdict) without writing any audio file;\n"
    "                    with --log, IMAGE.check.log beside the image\n"
    "  --log             write ALBUM.log (YAML: ids, offset, checksums, verdicts) and\n"
    "                    ALBUM.cue beside the tracks (also on with [Output] WriteLog=TRUE)\n"
    "\n"
    "  --help            show this help\n"
    "  --version         show the version\n"
    "\n"
    "Encoder settings come from Obrin.ini in ${XDG_CONFIG_HOME:-~/.config}/obrin/.\n"
    "Exit status: 0 all ripped tracks completed, 1 a track failed or was stopped,\n"
    "2 usage error, no drive or no disc, 130 interrupted (129 hang-up, 143 SIGTERM),\n"
    "141 standard output or error closed by its reader. A second interrupt quits at once.\n";

namespace {

bool ParseInt(const std::string& text, int& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last && !text.empty();
}

}  // namespace

std::optional<std::vector<int>> ParseTrackList(const std::string& text) {
  std::vector<int> positions;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(start, comma - start);
    const size_t dash = item.find('-');
    int from = 0, to = 0;
    if (dash == std::string::npos) {
      if (!ParseInt(item, from)) return std::nullopt;
      to = from;
    } else if (!ParseInt(item.substr(0, dash), from) || !ParseInt(item.substr(dash + 1), to)) {
      return std::nullopt;
    }
    if (from < 0 || to < from || to > 10000) return std::nullopt;
    for (int p = from; p <= to; ++p) {
      if (std::find(positions.begin(), positions.end(), p - 1) == positions.end()) {
        positions.push_back(p - 1);
      }
    }
    start = comma + 1;
  }
  if (positions.empty()) return std::nullopt;
  return positions;
}

CliParseResult ParseCliOptions(const std::vector<std::string>& args) {
  CliParseResult result;
  CliOptions& o = result.options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
      }
    }
    auto value = [&](std::string& out) -> bool {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) {
        result.error = "option " + arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto flag = [&]() -> bool {
      if (inlineValue) {
        result.error = "option " + arg + " takes no value";
        return false;
      }
      return true;
    };

    std::string v;
    if (arg == "--image") {
      if (!value(v)) return result;
      // The drive list has room for this many devices; later ones would be dropped.
      if (o.images.size() >= static_cast<size_t>(kMaxCdDevices)) {
        result.error = "too many --image options (at most " + std::to_string(kMaxCdDevices) + ")";
        return result;
      }
      o.images.push_back(v);
    } else if (arg == "--drive") {
      if (!value(v)) return result;
      if (!ParseInt(v, o.drive) || o.drive < 0) {
        result.error = "invalid drive number '" + v + "'";
        return result;
      }
    } else if (arg == "--drives") {
      if (!flag()) return result;
      o.listDrives = true;
    } else if (arg == "--list") {
      if (!flag()) return result;
      o.listTracks = true;
    } else if (arg == "--format") {
      if (!value(v)) return result;
      if (v == "wav") {
        o.format = 0;
      } else if (v == "ogg") {
        o.format = 1;
      } else if (v == "mp3") {
        o.format = 2;
      } else if (v == "flac") {
        o.format = 3;
      } else if (v == "opus") {
        o.format = 4;
      } else {
        result.error = "unknown format '" + v + "' (wav, ogg, mp3, flac or opus)";
        return result;
      }
    } else if (arg == "--tracks") {
      if (!value(v)) return result;
      o.tracks = ParseTrackList(v);
      if (!o.tracks) {
        result.error = "invalid track list '" + v + "' (e.g. 1,3-5)";
        return result;
      }
    } else if (arg == "--output") {
      if (!value(v)) return result;
      if (v.empty()) {
        result.error = "the output folder must not be empty";
        return result;
      }
      if (v.back() != '/') v += '/';
      o.outputFolder = v;
    } else if (arg == "--artist") {
      if (!value(v)) return result;
      o.artist = v;
    } else if (arg == "--album") {
      if (!value(v)) return result;
      o.album = v;
    } else if (arg == "--year") {
      if (!value(v)) return result;
      o.year = v;
    } else if (arg == "--template") {
      if (!value(v)) return result;
      o.fileNameTemplate = v;
    } else if (arg == "--genre") {
      if (!value(v)) return result;
      int genre = 0;
      if (!ParseInt(v, genre) || genre < 0 || genre > 79) {
        result.error = "invalid genre '" + v + "' (a number from 0 to 79)";
        return result;
      }
      o.genre = genre;
    } else if (arg == "--id3") {
      if (!flag()) return result;
      o.id3 = true;
    } else if (arg == "--jobs") {
      if (!value(v)) return result;
      int jobs = 0;
      if (!ParseInt(v, jobs) || jobs < 1 || jobs > 256) {
        result.error = "invalid number of jobs '" + v + "' (a number from 1 to 256)";
        return result;
      }
      o.jobs = static_cast<unsigned>(jobs);
    } else if (arg == "--offset") {
      if (!value(v)) return result;
      // Drive offset lists write the positive ones with their sign: "+667".
      const std::string digits = !v.empty() && v[0] == '+' ? v.substr(1) : v;
      int offset = 0;
      if (digits.empty() || (v[0] == '+' && digits[0] == '-') || !ParseInt(digits, offset) ||
          offset < -kReadOffsetLimit || offset > kReadOffsetLimit) {
        result.error = "invalid read offset '" + v + "' (a whole number from -3000 to 3000)";
        return result;
      }
      o.readOffset = offset;
    } else if (arg == "--disc-info") {
      if (!flag()) return result;
      o.discInfo = true;
    } else if (arg == "--check") {
      if (!flag()) return result;
      o.check = true;
    } else if (arg == "--lookup") {
      if (!flag()) return result;
      o.lookup = true;
    } else if (arg == "--release") {
      if (!value(v)) return result;
      if (!ParseInt(v, o.release) || o.release < 1) {
        result.error = "invalid release number '" + v + "' (a number from 1)";
        return result;
      }
    } else if (arg == "--cover-art") {
      if (!flag()) return result;
      o.coverArt = true;
    } else if (arg == "--cover") {
      if (!value(v)) return result;
      if (v.empty()) {
        result.error = "--cover needs a picture file";
        return result;
      }
      o.coverFile = v;
    } else if (arg == "--find-offset") {
      if (!flag()) return result;
      o.findOffset = true;
    } else if (arg == "--log") {
      if (!flag()) return result;
      o.log = true;
    } else if (arg == "--secure") {
      if (!flag()) return result;
      o.secure = true;
    } else if (arg == "--deemphasis") {
      if (!flag()) return result;
      o.deemphasis = true;
    } else if (arg == "--replaygain") {
      if (!flag()) return result;
      o.replayGain = true;
    } else if (arg == "--no-htoa") {
      if (!flag()) return result;
      o.noHtoa = true;
    } else if (arg == "--verify") {
      if (!flag()) return result;
      o.verify = true;
    } else if (arg == "--help" || arg == "-h") {
      if (!flag()) return result;
      o.help = true;
    } else if (arg == "--version") {
      if (!flag()) return result;
      o.version = true;
    } else {
      result.error = "unknown option '" + args[i] + "'";
      return result;
    }
  }
  if (o.jobs == 0) {
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    o.jobs = cores > 1 ? static_cast<unsigned>(std::min(cores, 256L)) : 1;
  }
  return result;
}
