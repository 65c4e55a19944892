// Fuzz target: the file-name template and the tags it draws from. The input is NUL-separated:
// template, artist, album, title, year, genre, track index (numbers as decimal text).
// Invariants of ExpandFileNameTemplate:
//  - without "$" the template comes back as it is, and so does it with every "$" doubled;
//  - placeholders match in either case;
//  - the result is no longer than the template plus, per "$", the longest placeholder value;
//  - "$n" is index + 1 with at least two digits, for every index;
//  - disc texts never add a folder level nor a control character;
// and of OutputPathOf: the path never leaves the output folder: it is the folder, the album
// subfolder, then components none of which is "." or "..", holds a NUL or exceeds 255 bytes.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
  settings.fileNameTemplate = "$a$l$t$y$g";
  for (char c : ExpandFileNameTemplate(track, settings)) {
    FUZZ_CHECK(c != '/' && static_cast<unsigned char>(c) >= 0x20);
  }
  settings.fileNameTemplate = pattern;
  const std::string album = AlbumFolderName(settings), folder = "/out/";
  if (parts[2].empty()) FUZZ_CHECK(album == "Album-0L");  // no drive: id 0
  track.format = Wav;
  const std::string path = OutputPathOf(track, settings, folder);
  FUZZ_CHECK(path.compare(0, folder.size() + album.size() + 1, folder + album + "/") == 0);
  for (std::size_t begin = folder.size(); begin <= path.size();) {
    const std::size_t end = std::min(path.find('/', begin), path.size());
    const std::string part = path.substr(begin, end - begin);
    FUZZ_CHECK(part != "." && part != ".." && part.size() <= 255 && part.find('\0') == part.npos);
    begin = end + 1;
  }
  const std::string normal = std::filesystem::path(path).lexically_normal().string();
  FUZZ_CHECK(normal.size() > folder.size() && normal.compare(0, folder.size(), folder) == 0);
  return 0;
}
