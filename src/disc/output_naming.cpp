#include "disc/output_naming.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>

#include "encoders/id3.h"

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
        result += settings.discArtist;
        break;
      case 'l':
        result += settings.discAlbum;
        break;
      case 't':
        result += track.title;
        break;
      case 'n': {
        char number[16];
        std::snprintf(number, sizeof number, "%02lld", static_cast<long long>(track.index) + 1);
        result += number;
        break;
      }
      case 'y':
        result += settings.discYear;
        break;
      case 'g':
        result += GenreName(settings.discGenre);
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
  if (!settings.discAlbum.empty()) return settings.discAlbum;
  uint32_t discId = 0;
  if (settings.driveIndex >= 0 &&
      static_cast<std::size_t>(settings.driveIndex) < settings.drives.size()) {
    discId = settings.drives[static_cast<std::size_t>(settings.driveIndex)].discId;
  }
  char name[32];
  std::snprintf(name, sizeof name, "Album-%XL", static_cast<unsigned>(discId));
  return name;
}

std::string ComposeOutputPath(const TrackRecord& track, const RipSettings& settings,
                              const std::string& outputFolder) {
  const char* extension = FormatExtension(track.format);
  if (!extension) return {};
  const std::string folder = outputFolder + AlbumFolderName(settings);
  // An existing folder is what we want anyway, and any other failure surfaces when the
  // output file cannot be created, so the result is not looked at.
  (void)mkdir(folder.c_str(), 0777);
  return folder + "/" + ExpandFileNameTemplate(track, settings) + extension;
}

std::string ComposeOutputPath(const TrackRecord& track, const RipSettings& settings) {
  return ComposeOutputPath(track, settings, ReadOutputFolderFromFile());
}
