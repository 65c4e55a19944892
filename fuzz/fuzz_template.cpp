// Fuzz target: the file-name template and the tags it draws from. The input is NUL-separated:
// template, artist, album, title, year, genre, track index (numbers as decimal text).
// Invariants of ExpandFileNameTemplate:
//  - without "$" the template comes back as it is, and so does it with every "$" doubled;
//  - placeholders match in either case;
//  - the result is no longer than the template plus, per "$", the longest placeholder value;
//  - "$n" is index + 1 with at least two digits, for every index.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "disc/output_naming.h"
#include "encoders/id3.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string parts[7];
  std::string_view input(reinterpret_cast<const char*>(data), size);
  for (std::string& part : parts) {
    part = input.substr(0, input.find('\0'));
    input.remove_prefix(std::min(input.size(), part.size() + 1));
  }
  RipSettings settings;
  TrackRecord track;
  settings.discArtist = parts[1];
  settings.discAlbum = parts[2];
  track.title = parts[3];
  settings.discYear = parts[4];
  settings.discGenre =
      std::clamp<long long>(std::strtoll(parts[5].c_str(), nullptr, 10), INT32_MIN, INT32_MAX);
  track.index =
      std::clamp<long long>(std::strtoll(parts[6].c_str(), nullptr, 10), INT32_MIN, INT32_MAX);
  auto expand = [&](const std::string& pattern) {
    settings.fileNameTemplate = pattern;
    return ExpandFileNameTemplate(track, settings);
  };
  const std::string& pattern = parts[0];
  const std::string result = expand(pattern);

  char number[32];
  std::snprintf(number, sizeof number, "%02lld", static_cast<long long>(track.index) + 1);
  FUZZ_CHECK(expand("$n") == number);
  const auto dollars = static_cast<std::size_t>(std::count(pattern.begin(), pattern.end(), '$'));
  FUZZ_CHECK(dollars > 0 || result == pattern);
  const std::size_t longest =
      std::max({parts[1].size(), parts[2].size(), parts[3].size(), parts[4].size(),
                std::strlen(GenreName(settings.discGenre)), std::strlen(number)});
  FUZZ_CHECK(result.size() <= pattern.size() + dollars * longest);

  std::string escaped, flipped = pattern;
  for (char c : pattern) escaped += c == '$' ? std::string("$$") : std::string(1, c);
  FUZZ_CHECK(expand(escaped) == pattern);
  for (std::size_t i = 0; i + 1 < flipped.size(); ++i) {  // a "$$" pair is skipped whole
    const auto c = static_cast<unsigned char>(flipped[i] == '$' ? flipped[++i] : 0);
    if (c) flipped[i] = static_cast<char>(std::islower(c) ? std::toupper(c) : std::tolower(c));
  }
  FUZZ_CHECK(expand(flipped) == result);
  FUZZ_CHECK(AlbumFolderName(settings) == (parts[2].empty() ? "Album-0L" : parts[2]));  // id 0
  return 0;
}
