// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// libcue (2.2) reads the sheet's texts, ISRCs, track modes and flags, and refuses what it
// cannot parse. It gets some things wrong that Obrin's own pass over the lines gets right:
// - a FILE between a track's INDEX 00 and INDEX 01 ("gaps appended") is given to that track
//   but not to the tracks after it;
// - a track with both PREGAP and INDEX 00 loses its PREGAP;
// - CATALOG is parsed but cannot be asked for;
// - a malformed time ("0x:00:00") or an unknown word is skipped over, not refused, and its
//   messages go to standard error with line numbers that are not the sheet's.
// - it knows its words in upper case only, and WAVE but not WAV.
// So the lines are read here too: which file each index lies in, PREGAP, POSTGAP, CATALOG and
// every time, each refused by its line when malformed; libcue is handed them with the words
// it knows written as it knows them. (libcue also leaks the disc it was building when it
// refuses a sheet: a few kilobytes, which this first reading keeps rare.)
#include "disc/cue_sheet.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include <libcue.h>

#include "config/cd_layouts.h"
#include "disc/audio_file.h"
#include "disc/cd_text.h"
#include "disc/file_problem.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kCueSectorBytes = 2352;
constexpr uint32_t kMaxDiscSectors = 100 * 60 * 75;  // far more than any CD holds

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The words of a line; a quoted word may hold blanks.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  for (size_t p = 0; p < line.size();) {
    if (std::isspace(static_cast<unsigned char>(line[p]))) {
      ++p;
      continue;
    }
    if (line[p] == '"') {
      const size_t close = line.find('"', p + 1);
      words.push_back(
          line.substr(p + 1, (close == std::string::npos ? line.size() : close) - p - 1));
      p = close == std::string::npos ? line.size() : close + 1;
      continue;
    }
    const size_t start = p;
    while (p < line.size() && !std::isspace(static_cast<unsigned char>(line[p]))) ++p;
    words.push_back(line.substr(start, p - start));
  }
  return words;
}

// "mm:ss:ff" in sectors; false when malformed.
bool ParseMsf(const std::string& text, uint32_t& sectors) {
  unsigned m = 0, s = 0, f = 0;
  int used = 0;
  if (text.size() > 12 || std::sscanf(text.c_str(), "%3u:%2u:%2u%n", &m, &s, &f, &used) != 3 ||
      used != static_cast<int>(text.size()) || s >= 60 || f >= 75 ||
      !std::isdigit(static_cast<unsigned char>(text[0]))) {
    return false;
  }
  sectors = (m * 60 + s) * 75 + f;
  return true;
}

uint32_t SectorBytesOf(TrackMode mode) {
  switch (mode) {
    case MODE_MODE1:
    case MODE_MODE2_FORM1:
      return 2048;
    case MODE_MODE2:
      return 2336;
    case MODE_MODE2_FORM2:
      return 2324;
    case MODE_MODE2_FORM_MIX:
      return 2332;
    default:
      return kCueSectorBytes;
  }
}

struct SheetFile {
  size_t line = 0;
  std::string name, type;  // as written; type upper case
  std::string path;        // found on disk
  AudioFileFacts facts;
  uint32_t sectorBytes = 0;  // of the tracks in it (0: none yet)
  uint32_t sectors = 0;
  uint64_t streamStart = 0;  // sectors of the files before it
};

struct SheetTrack {
  size_t line = 0;
  int number = 0;
  bool haveIndex[2] = {false, false};
  uint32_t index[2] = {0, 0};  // in its file
  size_t file[2] = {0, 0};
  uint32_t pregap = 0, postgap = 0;  // PREGAP, POSTGAP: silence in no file
  struct Later {
    int number;
    uint32_t at;  // in its file
    size_t file;
  };
  std::vector<Later> later;  // INDEX 02..
  // A data track the sheet holds no sectors of (EAC writes one it did not extract with a
  // mode such as MODEx/2xxx and only an INDEX 00): never read, and not handed to libcue.
  bool unread = false;
  std::string mode;  // as written
};

struct SheetLine {
  std::string text;  // as libcue can read it
  int track = -1;    // the track whose lines it is among, -1 before the first
  bool file = false;
};

struct Sheet {
  std::vector<SheetFile> files;
  std::vector<SheetTrack> tracks;
  std::string catalog;
  std::vector<SheetLine> lines;
  std::string normalized;  // the lines as libcue can read them, without unread tracks'
};

bool Fail(std::string& why, size_t line, const std::string& text) {
  why = "line " + std::to_string(line) + ": " + text;
  return false;
}

// The lines' own reading: see the top of the file.
bool ScanLines(const std::string& text, Sheet& sheet, std::string& why) {
  static const char* const kKnown[] = {
      "CATALOG",   "CDTEXTFILE", "FILE",      "FLAGS",    "INDEX",      "ISRC",
      "PERFORMER", "POSTGAP",    "PREGAP",    "REM",      "SONGWRITER", "TITLE",
      "TRACK",     "ARRANGER",   "COMPOSER",  "MESSAGE",  "DISC_ID",    "GENRE",
      "UPC_EAN",   "SIZE_INFO",  "TOC_INFO1", "TOC_INFO2"};
  size_t lineNumber = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> words = Words(line);
    if (words.empty()) {
      sheet.lines.push_back({"", static_cast<int>(sheet.tracks.size()) - 1});
      continue;
    }
    const std::string key = Upper(words[0]);
    if (std::find(std::begin(kKnown), std::end(kKnown), key) == std::end(kKnown)) {
      return Fail(why, lineNumber, "\"" + words[0] + "\" is not a cue sheet command");
    }
    // libcue knows its words in upper case only, and WAVE but not WAV: it is handed them so.
    const size_t indent = line.find_first_not_of(" \t");
    const size_t keyEnd = line.find_first_of(" \t", indent);
    std::string normal =
        line.substr(0, indent) + key + (keyEnd == std::string::npos ? "" : line.substr(keyEnd));
    if (key == "FILE") {
      if (words.size() < 2 || words[1].empty()) return Fail(why, lineNumber, "FILE names no file");
      SheetFile file;
      file.line = lineNumber;
      file.name = words[1];
      file.type = words.size() > 2 ? Upper(words[2]) : "";
      if (file.type == "WAV") file.type = "WAVE";
      static const char* const kTypes[] = {"BINARY", "MOTOROLA", "WAVE", "AIFF", "MP3", "FLAC"};
      if (std::find(std::begin(kTypes), std::end(kTypes), file.type) == std::end(kTypes)) {
        return Fail(why, lineNumber,
                    "FILE gives no type (BINARY, MOTOROLA, WAVE, AIFF, MP3 or FLAC)");
      }
      normal = line.substr(0, indent) + "FILE \"" + file.name + "\" " + file.type;
      sheet.files.push_back(std::move(file));
    } else if (key == "TRACK") {
      const int number = words.size() > 1 ? std::atoi(words[1].c_str()) : 0;
      if (number < 1 || number > 99)
        return Fail(why, lineNumber, "TRACK has no number from 1 to 99");
      const std::string mode = words.size() > 2 ? Upper(words[2]) : "";
      if (mode.empty()) return Fail(why, lineNumber, "TRACK has no mode that can be read (none)");
      static const char* const kModes[] = {"AUDIO",      "MODE1/2048", "MODE1/2352", "MODE2/2336",
                                           "MODE2/2048", "MODE2/2324", "MODE2/2332", "MODE2/2352"};
      const bool known = std::find(std::begin(kModes), std::end(kModes), mode) != std::end(kModes);
      normal = line.substr(0, indent) + "TRACK " + words[1] + " " + mode;
      if (sheet.files.empty()) return Fail(why, lineNumber, "TRACK comes before any FILE");
      if (!sheet.tracks.empty() && number != sheet.tracks.back().number + 1) {
        return Fail(why, lineNumber,
                    "TRACK " + words[1] + " does not follow track " +
                        std::to_string(sheet.tracks.back().number));
      }
      SheetTrack track;
      track.line = lineNumber;
      track.number = number;
      track.unread = !known;
      track.mode = words[2];
      sheet.tracks.push_back(std::move(track));
    } else if (key == "INDEX" || key == "PREGAP" || key == "POSTGAP") {
      if (sheet.tracks.empty()) return Fail(why, lineNumber, key + " comes before any TRACK");
      const std::string& time = words.size() > (key == "INDEX" ? 2u : 1u) ? words.back() : "";
      uint32_t sectors = 0;
      if (!ParseMsf(time, sectors)) {
        return Fail(why, lineNumber, key + " gives no time as mm:ss:ff");
      }
      SheetTrack& track = sheet.tracks.back();
      if (key == "PREGAP") {
        track.pregap = sectors;
      } else if (key == "POSTGAP") {
        track.postgap = sectors;
      } else {
        const int n = std::atoi(words[1].c_str());
        if (n < 0 || n > 99 || !std::isdigit(static_cast<unsigned char>(words[1][0]))) {
          return Fail(why, lineNumber, "INDEX has no number from 0 to 99");
        }
        if (n <= 1) {
          track.haveIndex[n] = true;
          track.index[n] = sectors;
          track.file[n] = sheet.files.size() - 1;
        } else {
          if (!track.haveIndex[1] || (!track.later.empty() && n <= track.later.back().number)) {
            return Fail(why, lineNumber,
                        "INDEX " + words[1] + " does not follow the index before it");
          }
          track.later.push_back({n, sectors, sheet.files.size() - 1});
        }
      }
    } else if (key == "CATALOG" && words.size() > 1) {
      sheet.catalog = words[1];
    } else if (key == "FLAGS") {
      normal = Upper(normal);
    }
    sheet.lines.push_back({normal, static_cast<int>(sheet.tracks.size()) - 1, key == "FILE"});
  }
  // A data track with no INDEX 01 has no sectors in the sheet's files either.
  for (SheetTrack& track : sheet.tracks) {
    if (!track.haveIndex[1] && Upper(track.mode) != "AUDIO") track.unread = true;
  }
  if (sheet.tracks.empty()) {
    why = sheet.files.empty() ? "the cue sheet names no data file" : "the cue sheet holds no track";
    return false;
  }
  if (std::all_of(sheet.tracks.begin(), sheet.tracks.end(),
                  [](const SheetTrack& track) { return track.unread; })) {
    why = "the cue sheet holds no track that can be read";
    return false;
  }
  for (const SheetTrack& track : sheet.tracks) {
    if (!track.haveIndex[1] && !track.unread) {
      return Fail(why, track.line, "the track has no INDEX 01");
    }
  }
  // An unread track's lines are left out up to the next FILE or TRACK; blank lines keep
  // libcue's line count.
  for (const SheetLine& line : sheet.lines) {
    const bool dropped =
        line.track >= 0 && !line.file && sheet.tracks[static_cast<size_t>(line.track)].unread;
    sheet.normalized += (dropped ? "" : line.text) + "\n";
  }
  return true;
}

// libcue writes its complaints to standard error; they are caught for the message instead.
Cd* ParseWithLibcue(const std::string& text, std::string& complaint) {
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  const int sink = memfd_create("obrin-libcue", MFD_CLOEXEC);
  const bool caught = saved >= 0 && sink >= 0 && dup2(sink, STDERR_FILENO) >= 0;
  Cd* cd = cue_parse_string(text.c_str());
  std::fflush(stderr);
  if (caught) {
    dup2(saved, STDERR_FILENO);
    char buffer[4096];
    const ssize_t n = pread(sink, buffer, sizeof buffer, 0);
    if (n > 0) complaint.assign(buffer, static_cast<size_t>(n));
  }
  if (saved >= 0) close(saved);
  if (sink >= 0) close(sink);
  // The last complaint, without libcue's line number (which is not the sheet's).
  while (!complaint.empty() && complaint.back() == '\n') complaint.pop_back();
  complaint = complaint.substr(complaint.rfind('\n') + 1);
  if (const size_t colon = complaint.find(": ");
      colon != std::string::npos &&
      std::all_of(complaint.begin(), complaint.begin() + static_cast<long>(colon),
                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    complaint.erase(0, colon + 2);
  }
  return cd;
}

// libcdio, linked into the same program, exports a cdtext_get of its own that a plain call
// reaches instead of libcue's; libcue's is asked for by name from libcue itself.
using CueTextGetter = const char* (*)(enum Pti, const Cdtext*);
CueTextGetter LibcueTextGetter() {
  static const CueTextGetter getter = [] {
    void* library = dlopen("libcue.so.2", RTLD_NOW | RTLD_NOLOAD);
    return library ? reinterpret_cast<CueTextGetter>(dlsym(library, "cdtext_get")) : nullptr;
  }();
  return getter;
}

struct CdDeleter {
  void operator()(Cd* cd) const { cd_delete(cd); }
};

bool LooksLikeWindowsPath(const std::string& name) {
  return name.find('\\') != std::string::npos ||
         (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':');
}

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

// A file in `folder` whose name equals `name` but for letter case, or but for the extension
// (".wav" named, ".flac" there), or both; empty when there is none.
fs::path StandIn(const fs::path& folder, const std::string& name) {
  std::error_code error;
  const std::string lower = Lower(name);
  const std::string stem = Lower(fs::path(name).stem().string());
  fs::path caseOnly, otherExtension;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string candidate = entry.path().filename().string();
    const std::string lowerCandidate = Lower(candidate);
    if (lowerCandidate == lower) {
      if (caseOnly.empty() || candidate < caseOnly.filename().string()) caseOnly = entry.path();
      continue;
    }
    const std::string extension = Lower(entry.path().extension().string());
    if (Lower(entry.path().stem().string()) == stem &&
        (extension == ".flac" || extension == ".wav" || extension == ".bin") &&
        (otherExtension.empty() || candidate < otherExtension.filename().string())) {
      otherExtension = entry.path();
    }
  }
  return caseOnly.empty() ? otherExtension : caseOnly;
}

// Finds the file a FILE line names, relative to the sheet's folder, with "\" as a folder
// separator. A missing name may be stood in for (StandIn), which `notes` then says.
bool FindFile(const std::string& folder, SheetFile& file, std::vector<std::string>& notes,
              std::string& why) {
  std::string name = file.name;
  std::replace(name.begin(), name.end(), '\\', '/');
  const bool windows = LooksLikeWindowsPath(file.name);
  fs::path path =
      (name[0] == '/' && !windows ? fs::path(name) : fs::path(folder) / name).lexically_normal();
  // A Windows path from the ripper's own machine: the file is usually beside the sheet.
  std::vector<fs::path> folders = {path.parent_path()};
  if (windows) folders.push_back(folder);
  const auto found = [&]() -> fs::path {
    for (const fs::path& in : folders) {
      if (IsFile(in / path.filename())) return in / path.filename();
    }
    for (const fs::path& in : folders) {
      if (fs::path other = StandIn(in, path.filename().string()); !other.empty()) {
        notes.push_back(other.filename().string() + " stands in for \"" + file.name +
                        "\", which the cue sheet names");
        return other;
      }
    }
    return {};
  }();
  if (found.empty()) {
    why = windows ? "its data file \"" + file.name +
                        "\" is a Windows path; name the file relative to the cue sheet"
                  : "its data file " + path.string() + " does not exist";
    return false;
  }
  path = found;
  file.path = path.string();
  const bool raw = file.type.empty() || file.type == "BINARY" || file.type == "MOTOROLA";
  std::string problem = FileProblem(file.path);
  if (problem.empty()) ProbeAudioFile(file.path, raw, file.facts, problem);
  if (!problem.empty()) {
    why = "its data file " + file.path + " " + problem;
    return false;
  }
  return true;
}

struct Silence {
  uint64_t at;  // stream position it comes before
  uint32_t sectors;
};

// A data track the sheet holds no sectors of, placed where the disc had it: after the last
// audio track, the session gap after the audio (an enhanced CD: its length is not known, so
// the lead-out is its start); before or between them, where its index says.
template <typename DiscAt>
bool PlaceUnreadTrack(const Sheet& sheet, size_t t, const DiscAt& discAt, ImageLayout& layout,
                      std::string& why) {
  const SheetTrack& track = sheet.tracks[t];
  ImageTrack out;
  out.control = 0x04;
  const bool last = std::all_of(sheet.tracks.begin() + static_cast<long>(t), sheet.tracks.end(),
                                [](const SheetTrack& later) { return later.unread; });
  if (last) {
    // The first of them opens the second session, after the gap.
    if (!sheet.tracks[t - 1].unread) {
      ImageSpan gap;
      gap.sectors = kSessionGapSectors;
      layout.spans.push_back(std::move(gap));
      layout.leadOut += kSessionGapSectors;
    }
    out.start = layout.leadOut;
  } else {
    const int i = track.haveIndex[1] ? 1 : 0;
    if (!track.haveIndex[i]) return Fail(why, track.line, "the data track has no INDEX");
    const SheetFile& file = sheet.files[track.file[i]];
    out.start = discAt(file.streamStart + std::min(track.index[i], file.sectors), true);
  }
  layout.tracks.push_back(std::move(out));
  layout.notes.push_back("track " + std::to_string(track.number) + " is a data track (" +
                         track.mode + ") that was not extracted: it is not read");
  return true;
}

}  // namespace

std::optional<ImageLayout> ParseCueSheet(const std::string& original, const std::string& folder,
                                         std::string& why) {
  std::string text = original;
  // Windows rippers often start the sheet with a UTF-8 byte-order mark.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  text.resize(std::strlen(text.c_str()));  // libcue reads to the first NUL
  Sheet sheet;
  if (!ScanLines(text, sheet, why)) return std::nullopt;
  std::string complaint;
  const std::unique_ptr<Cd, CdDeleter> cd(ParseWithLibcue(sheet.normalized, complaint));
  if (!cd) {
    why = "libcue cannot read the cue sheet" + (complaint.empty() ? "" : " (" + complaint + ")");
    return std::nullopt;
  }
  // Each read track's number in libcue's reading (unread tracks were not handed to it).
  std::vector<int> cueNumber(sheet.tracks.size(), 0);
  int read = 0;
  for (size_t t = 0; t < sheet.tracks.size(); ++t) {
    if (!sheet.tracks[t].unread) cueNumber[t] = ++read;
  }
  if (cd_get_ntrack(cd.get()) != read) {
    why = "libcue reads " + std::to_string(cd_get_ntrack(cd.get())) +
          " tracks in the cue sheet, "
          "not " +
          std::to_string(read);
    return std::nullopt;
  }

  ImageLayout layout;
  // Every file named must hold some of the disc; its sectors are of the tracks in it.
  std::vector<bool> used(sheet.files.size(), false);
  for (size_t t = 0; t < sheet.tracks.size(); ++t) {
    const SheetTrack& track = sheet.tracks[t];
    if (track.unread) continue;
    const uint32_t bytes = SectorBytesOf(track_get_mode(cd_get_track(cd.get(), cueNumber[t])));
    for (int i = 0; i < 2; ++i) {
      if (!track.haveIndex[i]) continue;
      SheetFile& file = sheet.files[track.file[i]];
      if (file.sectorBytes != 0 && file.sectorBytes != bytes) {
        Fail(why, track.line, "the track's sectors are not the size of the others in " + file.name);
        return std::nullopt;
      }
      file.sectorBytes = bytes;
      used[track.file[i]] = true;
    }
  }
  uint64_t stream = 0;
  for (size_t f = 0; f < sheet.files.size(); ++f) {
    SheetFile& file = sheet.files[f];
    if (!used[f]) {
      Fail(why, file.line, "no track's INDEX lies in " + file.name);
      return std::nullopt;
    }
    if (!FindFile(folder, file, layout.notes, why)) return std::nullopt;
    if (file.facts.kind != AudioFileKind::kRaw && file.sectorBytes != kCueSectorBytes) {
      why = "its data file " + file.path + " holds audio, but the cue sheet gives it a data track";
      return std::nullopt;
    }
    // A last partial sector counts whole, padded with zeros.
    const uint64_t sectors = (file.facts.audioBytes + file.sectorBytes - 1) / file.sectorBytes;
    if (stream + sectors > kMaxDiscSectors) {
      why = "its data files hold more than 100 minutes";
      return std::nullopt;
    }
    file.sectors = static_cast<uint32_t>(sectors);
    file.streamStart = stream;
    stream += sectors;
  }

  // Where each index lies in the files one after another, and the silences to add.
  std::vector<Silence> silences;
  std::vector<uint64_t> first(sheet.tracks.size()), one(sheet.tracks.size());
  uint64_t previous = 0;
  size_t before = SIZE_MAX;  // the read track before
  for (size_t t = 0; t < sheet.tracks.size(); ++t) {
    const SheetTrack& track = sheet.tracks[t];
    if (track.unread) continue;
    for (int i = 1; i >= 0; --i) {
      if (!track.haveIndex[i]) continue;
      const SheetFile& file = sheet.files[track.file[i]];
      if (track.index[i] > file.sectors || (i == 1 && track.index[1] == file.sectors)) {
        why = "its data file " + file.path + " is too short: it holds " +
              std::to_string(file.sectors) + " sectors, but track " + std::to_string(track.number) +
              " starts at sector " + std::to_string(track.index[i]);
        return std::nullopt;
      }
    }
    one[t] = sheet.files[track.file[1]].streamStart + track.index[1];
    first[t] =
        track.haveIndex[0] ? sheet.files[track.file[0]].streamStart + track.index[0] : one[t];
    if (first[t] > one[t] || first[t] < previous) {
      Fail(why, track.line, "the track's indexes lie before those of the track before it");
      return std::nullopt;
    }
    previous = one[t];
    if (before != SIZE_MAX) silences.push_back({first[t], sheet.tracks[before].postgap});
    silences.push_back({first[t], track.pregap});
    before = t;
  }
  silences.push_back({stream, sheet.tracks[before].postgap});
  uint64_t silent = 0;
  for (const Silence& s : silences) silent += s.sectors;
  if (stream + silent > kMaxDiscSectors) {
    why = "its tracks last more than 100 minutes";
    return std::nullopt;
  }
  // A stream position on the disc: after every silence that comes before it or at it.
  const auto discAt = [&](uint64_t at, bool afterSilenceThere) {
    uint64_t added = 0;
    for (const Silence& s : silences) {
      if (s.at < at || (s.at == at && afterSilenceThere)) added += s.sectors;
    }
    return static_cast<uint32_t>(at + added);
  };

  // Spans: the files in order, cut where silence goes in.
  size_t next = 0;
  const auto addSilence = [&](uint64_t upTo) {
    for (; next < silences.size() && silences[next].at <= upTo; ++next) {
      if (silences[next].sectors == 0) continue;
      ImageSpan span;
      span.sectors = silences[next].sectors;
      layout.spans.push_back(std::move(span));
    }
  };
  for (const SheetFile& file : sheet.files) {
    uint64_t at = file.streamStart;
    const uint64_t end = at + file.sectors;
    const SpanCoding coding = file.facts.kind == AudioFileKind::kFlac ? SpanCoding::kFlac
                              : file.type == "MOTOROLA" && file.facts.kind == AudioFileKind::kRaw
                                  ? SpanCoding::kSwapped
                                  : SpanCoding::kRaw;
    while (at < end) {
      addSilence(at);
      const uint64_t cut =
          next < silences.size() ? std::min(end, std::max(silences[next].at, at + 1)) : end;
      ImageSpan span;
      span.sectors = static_cast<uint32_t>(cut - at);
      span.silent = false;
      span.path = file.path;
      span.byteOffset = file.facts.dataOffset + (at - file.streamStart) * file.sectorBytes;
      span.sectorBytes = span.strideBytes = file.sectorBytes;
      span.coding = coding;
      span.audioEnd = file.facts.dataOffset + file.facts.audioBytes;
      layout.spans.push_back(std::move(span));
      at = cut;
    }
  }
  addSilence(UINT64_MAX);

  // Tracks, texts and codes.
  const CueTextGetter getText = LibcueTextGetter();
  const auto textOf = [getText](Cdtext* cdtext, Pti pti) {
    const char* value = cdtext && getText ? getText(pti, cdtext) : nullptr;
    return value ? CleanCdText(value) : std::string();
  };
  Cdtext* discText = cd_get_cdtext(cd.get());
  layout.discText = {textOf(discText, PTI_TITLE), textOf(discText, PTI_PERFORMER),
                     textOf(discText, PTI_SONGWRITER), CleanCdText(sheet.catalog)};
  const uint32_t audioEnd = static_cast<uint32_t>(stream + silent);
  layout.leadOut = audioEnd;
  before = SIZE_MAX;
  for (size_t t = 0; t < sheet.tracks.size(); ++t) {
    if (sheet.tracks[t].unread) {
      if (!PlaceUnreadTrack(sheet, t, discAt, layout, why)) return std::nullopt;
      continue;
    }
    const Track* track = cd_get_track(cd.get(), cueNumber[t]);
    ImageTrack out;
    // Index 0 begins after the track before's POSTGAP, with this track's PREGAP.
    const uint32_t index0 =
        discAt(first[t], false) + (before != SIZE_MAX ? sheet.tracks[before].postgap : 0);
    before = t;
    out.start = discAt(one[t], true);
    out.pregap = out.start - index0;
    for (const SheetTrack::Later& later : sheet.tracks[t].later) {
      const SheetFile& file = sheet.files[later.file];
      const uint32_t at = discAt(file.streamStart + std::min(later.at, file.sectors), true);
      if (at <= (out.indexes.empty() ? out.start : out.indexes.back().sector)) {
        Fail(why, sheet.tracks[t].line,
             "the track's INDEX " + std::to_string(later.number) +
                 " lies at or before the index before it");
        return std::nullopt;
      }
      out.indexes.push_back({static_cast<uint8_t>(later.number), at});
    }
    const bool data = track_get_mode(track) != MODE_AUDIO;
    out.control = static_cast<uint8_t>((data ? 0x04 : 0) |
                                       (track_is_set_flag(track, FLAG_PRE_EMPHASIS) ? 0x01 : 0) |
                                       (track_is_set_flag(track, FLAG_COPY_PERMITTED) ? 0x02 : 0) |
                                       (track_is_set_flag(track, FLAG_FOUR_CHANNEL) ? 0x08 : 0));
    Cdtext* text = track_get_cdtext(track);
    const char* isrc = track_get_isrc(track);
    out.text = {textOf(text, PTI_TITLE), textOf(text, PTI_PERFORMER), textOf(text, PTI_SONGWRITER),
                isrc ? CleanCdText(isrc) : ""};
    layout.tracks.push_back(std::move(out));
  }
  // A data track placed by its index among the read ones must keep the disc's order too.
  for (size_t t = 1; t < layout.tracks.size(); ++t) {
    if (layout.tracks[t].start < layout.tracks[t - 1].start) {
      Fail(why, sheet.tracks[t].line,
           "the track's indexes lie before those of the track before it");
      return std::nullopt;
    }
  }
  return layout;
}
