// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "disc/output_naming.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "config/genres.h"

namespace {

// The longest name a Linux file system takes for one path component.
constexpr std::size_t kNameMax = 255;

bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Where to cut `text` to at most `limit` bytes: moved back to the start of a UTF-8 sequence
// that would be split (at most three bytes back); text that is not UTF-8 is cut at `limit`.
std::size_t CutPoint(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  while (cut > 0 && limit - cut < 3 && IsUtf8Continuation(text[cut])) --cut;
  return (static_cast<unsigned char>(text[cut]) & 0xC0) == 0xC0 ? cut : limit;
}

// One component below the output folder, made creatable and unable to climb: the last
// `tailLength` bytes (the extension) survive any cut.
std::string SafeComponent(std::string_view part, std::size_t tailLength) {
  const std::string_view stem = part.substr(0, part.size() - tailLength);
  std::string safe(stem.substr(0, CutPoint(stem, kNameMax - tailLength)));
  safe += part.substr(stem.size());
  for (char& c : safe) {
    if (c == '\0') c = '_';
  }
  if (safe == "." || safe == "..") safe = "_" + safe;
  return safe;
}

}  // namespace

std::string FileNameText(std::string_view text) {
  std::string name(text);
  for (char& c : name) {
    if (c == '/') {
      c = '-';
    } else if (static_cast<unsigned char>(c) < 0x20) {
      c = '_';
    }
  }
  return name;
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string ExpandFileNameTemplate(const TrackRecord& track, const RipSettings& settings) {
  const std::string& pattern = settings.fileNameTemplate;
  std::string result;
  result.reserve(pattern.size() + 64);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '$') {
      result += pattern[i];
      continue;
    }
    if (i + 1 == pattern.size()) break;  // a lone "$" at the end
    const char placeholder =
        static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[++i])));
    switch (placeholder) {
      case 'a':
        result += FileNameText(settings.ArtistOf(track));
        break;
      case 'l':
        result += FileNameText(settings.Album());
        break;
      case 't':
        result += FileNameText(track.title);
        break;
      case 'n': {
        char number[16];
        std::snprintf(number, sizeof number, "%02lld", static_cast<long long>(track.index) + 1);
        result += number;
        break;
      }
      case 'y':
        result += FileNameText(settings.Year());
        break;
      case 'g':
        result += FileNameText(GenreName(settings.discGenre));
        break;
      case '$':
        result += '$';
        break;
      default:
        break;  // an unknown pair vanishes whole
    }
  }
  return result;
}

std::string AlbumFolderName(const RipSettings& settings) {
  if (!settings.Album().empty()) return SafeComponent(FileNameText(settings.Album()), 0);
  uint32_t discId = 0;
  if (settings.driveIndex >= 0 &&
      static_cast<std::size_t>(settings.driveIndex) < settings.drives.size()) {
    discId = settings.drives[static_cast<std::size_t>(settings.driveIndex)].discId;
  }
  char name[32];
  std::snprintf(name, sizeof name, "Album-%XL", static_cast<unsigned>(discId));
  return name;
}

std::string OutputPathOf(const TrackRecord& track, const RipSettings& settings,
                         const std::string& outputFolder) {
  const char* extension = FormatExtension(track.format);
  if (!extension) return {};
  std::string path = JoinFolder(outputFolder, AlbumFolderName(settings));
  const std::string name = ExpandFileNameTemplate(track, settings) + extension;
  for (std::size_t begin = 0;;) {
    const std::size_t slash = name.find('/', begin);
    path += '/';
    if (slash == std::string::npos) {
      path += SafeComponent(std::string_view(name).substr(begin), std::strlen(extension));
      return path;
    }
    path += SafeComponent(std::string_view(name).substr(begin, slash - begin), 0);
    begin = slash + 1;
  }
}

std::string ComposeOutputPath(const TrackRecord& track, const RipSettings& settings,
                              const std::string& outputFolder) {
  std::string path = OutputPathOf(track, settings, outputFolder);
  // A first rip's default folder ("My Music" beside the program) exists nowhere yet, so the
  // output folder is made with its parents. The result is not looked at: an existing folder
  // is what we want anyway, and any other failure shows when the file cannot be created.
  if (!path.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  }
  return path;
}

std::string ComposeOutputPath(const TrackRecord& track, const RipSettings& settings) {
  return ComposeOutputPath(track, settings, ReadOutputFolderFromFile());
}
