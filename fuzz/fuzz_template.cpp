// Fuzz target: the file-name template and the tag fields it draws from. The input is
// NUL-separated: template, artist, album, title, year, genre number, track index (numbers as
// decimal text, clamped to int32; missing parts empty). Invariants of ExpandFileNameTemplate:
//  - a template without "$" comes back unchanged, and with every "$" doubled it comes back
//    as the template itself;
//  - placeholders match in either case;
//  - the result is no longer than the template plus, per "$", the longest placeholder value;
//  - "$n" is index + 1, at least two digits, for every index.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "disc/output_naming.h"
#include "encoders/id3.h"
#include "fuzz_support.h"

namespace {

std::string Expand(const std::string& pattern, const TrackRecord& track, RipSettings settings) {
  settings.fileNameTemplate = pattern;
  return ExpandFileNameTemplate(track, settings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string parts[7];
  std::string_view input(reinterpret_cast<const char*>(data), size);
  for (std::string& part : parts) {
    part = input.substr(0, input.find('\0'));
    input.remove_prefix(std::min(input.size(), part.size() + 1));
  }
  auto number = [](const std::string& text) {
    return static_cast<int32_t>(
        std::clamp<long long>(std::strtoll(text.c_str(), nullptr, 10), INT32_MIN, INT32_MAX));
  };
  RipSettings settings;
  TrackRecord track;
  const std::string& pattern = parts[0];
  settings.discArtist = parts[1];
  settings.discAlbum = parts[2];
  track.title = parts[3];
  settings.discYear = parts[4];
  settings.discGenre = number(parts[5]);
  track.index = number(parts[6]);
  const std::string result = Expand(pattern, track, settings);

  char index[32];
  std::snprintf(index, sizeof index, "%02lld", static_cast<long long>(track.index) + 1);
  FUZZ_CHECK(Expand("$n", track, settings) == index);

  const auto dollars = static_cast<std::size_t>(std::count(pattern.begin(), pattern.end(), '$'));
  if (dollars == 0) FUZZ_CHECK(result == pattern);
  const std::size_t longest =
      std::max({parts[1].size(), parts[2].size(), parts[3].size(), parts[4].size(),
                std::strlen(GenreName(settings.discGenre)), std::strlen(index)});
  FUZZ_CHECK(result.size() <= pattern.size() + dollars * longest);

  std::string escaped, flipped = pattern;
  for (char c : pattern) escaped += c == '$' ? std::string("$$") : std::string(1, c);
  FUZZ_CHECK(Expand(escaped, track, settings) == pattern);
  for (std::size_t i = 0; i + 1 < flipped.size(); ++i) {  // "$$" pairs skipped whole
    if (flipped[i] != '$') continue;
    const auto c = static_cast<unsigned char>(flipped[++i]);
    flipped[i] = static_cast<char>(std::islower(c) ? std::toupper(c) : std::tolower(c));
  }
  FUZZ_CHECK(Expand(flipped, track, settings) == result);

  // The album folder is the album, or the id name when it is empty (no drive: id 0).
  FUZZ_CHECK(AlbumFolderName(settings) == (parts[2].empty() ? "Album-0L" : parts[2]));
  return 0;
}
